// The terminals' frame reader on line noise in pieces (the first byte picks the protocol and a
// purchase in progress), a fresh worker per input writing its answers to a real pseudo-terminal.

#include "fuzzing.h"
#include "tpaworkeringenico.h"
#include "tpaworkernewnote.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {
int master = -1;
QString slavePath;
} // namespace

void setUp()
{
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    require(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    slavePath = QString::fromLocal8Bit(ptsname(master));
    // Raw, so that nothing the worker writes is echoed back to it as input.
    const int slave = ::open(ptsname(master), O_RDWR | O_NOCTTY);
    termios tio{};
    require(slave >= 0 && tcgetattr(slave, &tio) == 0);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    ::close(slave);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    std::unique_ptr<TpaWorker> worker(data[0] & 1
                                          ? static_cast<TpaWorker*>(new TpaWorkerIngenico({}))
                                          : new TpaWorkerNewnote({}));
    worker->setDevicePath(slavePath);
    worker->startWorker(); // opens the port and writes the first poll
    if (data[0] & 2)
        worker->setNewCommand("P05100133304978200001250");
    for (Chunker chunks(data + 1, size - 1); !chunks.atEnd();)
        worker->receive(chunks.next());
    QCoreApplication::processEvents(); // lets the port write what the worker answered
    worker.reset();
    for (char buffer[4096]; ::read(master, buffer, sizeof buffer) > 0;) {
    }
    return 0;
}
