#ifndef CUPSSEAM_H
#define CUPSSEAM_H

#include <QByteArray>
#include <QStringList>

// Test-only stand-in for the five libcups calls of a raw job. The test executables that link
// cupsseam.cpp define these functions themselves, so the escpos code linked into them reaches
// the definitions there; each records the call and hands it on to the real libcups (dlsym
// RTLD_NEXT), which talks to the sandboxed scheduler. Only failures a live scheduler cannot
// produce on demand are injected. The program itself never links this file.
namespace CupsSeam {

inline QStringList calls; // "create", "start", "write", "finish", "cancel"; failed ones end in "!"
inline QByteArray accepted;     // every write libcups accepted, in order
inline int refuseWrite = 0;     // the n-th write from now (1-based) is refused, nothing sent
inline bool failStart = false;  // cupsStartDocument refuses, nothing is started
inline bool failFinish = false; // cupsFinishDocument finishes the document, then reports an error

inline void reset()
{
    calls.clear();
    accepted.clear();
    refuseWrite = 0;
    failStart = failFinish = false;
}

} // namespace CupsSeam

#endif // CUPSSEAM_H
