#ifndef CUPSSEAM_H
#define CUPSSEAM_H

#include <QByteArray>
#include <QList>
#include <QStringList>

// Test-only stand-in for the five libcups calls of a raw job (cupsCreateJob, cupsStartDocument,
// cupsWriteRequestData, cupsFinishDocument, cupsCancelJob2).
//
// The escpos library calls libcups directly. The test executables that include cupsseam.cpp
// define these functions themselves, so the escpos code linked into them reaches the
// definitions here; each records the call and hands it on to the real libcups (looked up with
// dlsym(RTLD_NEXT)), which talks to the sandboxed scheduler. Only failures that a live
// scheduler cannot be made to produce on demand are injected here: a write refused mid-job, a
// document that cannot be started or finished. The program itself never links this file.
namespace CupsSeam {

struct Call
{
    QString function; // "create", "start", "write", "finish", "cancel"
    QByteArray data;  // the bytes of a write
    bool succeeded = true;
};

void reset(); // forgets the calls and the injected failures
QList<Call> calls();
QStringList callNames();
// The bytes of every write that libcups accepted, in order.
QByteArray acceptedBytes();

// The n-th write from now (1-based) is refused without sending anything.
void refuseWrite(int n);
// cupsStartDocument refuses (nothing is started on the scheduler).
void failStartDocument();
// cupsFinishDocument finishes the document on the scheduler, then reports an error.
void failFinishDocument();

} // namespace CupsSeam

#endif // CUPSSEAM_H
