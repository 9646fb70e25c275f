#ifndef CUPSSEAM_H
#define CUPSSEAM_H

#include <QStringList>

// The libcups calls of a raw job, recorded and handed on to libcups, for the test executables only:
// they also fail on demand where a live scheduler cannot.
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
