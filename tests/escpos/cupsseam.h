#ifndef CUPSSEAM_H
#define CUPSSEAM_H

#include <QStringList>

// The five libcups calls of a raw job, wrapped for the test executables only: each call is
// recorded and handed on to the real libcups, except for failures a live scheduler cannot
// produce on demand.
namespace CupsSeam {
inline QStringList calls; // "create", "start", "write", "finish", "cancel"; failed ones end in "!"
inline int refuseWrite = 0;    // the n-th write from now (1-based) is refused, nothing sent
inline bool failStart = false; // cupsStartDocument refuses, nothing is started
inline void reset()
{
    calls.clear();
    refuseWrite = 0;
    failStart = false;
}
} // namespace CupsSeam

#endif // CUPSSEAM_H
