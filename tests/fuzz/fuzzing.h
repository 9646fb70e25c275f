#ifndef PRINTARRA_FUZZ_FUZZING_H
#define PRINTARRA_FUZZ_FUZZING_H

#include <QByteArray>
#include <QCoreApplication>
#include <QIODevice>

// What a harness prepares once, after the application object below exists.
void setUp();

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_LOGGING_RULES", "*=false");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static QCoreApplication application(*argc, *argv);
    setUp();
    return 0;
}

// A property every input must keep: a broken one is reported as a crash.
inline void require(bool holds)
{
    if (!holds)
        __builtin_trap();
}

// A sequential device whose bytes arrive in pieces, as a socket's do: feed() adds to them.
struct ChunkDevice : QIODevice
{
    QByteArray pending;
    ChunkDevice() { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }
    void feed(const QByteArray& bytes) { pending += bytes; }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return pending.size() + QIODevice::bytesAvailable(); }
    qint64 readData(char* data, qint64 maxSize) override
    {
        const int count = int(qMin<qint64>(maxSize, pending.size()));
        if (count > 0) // a zero-length read may come with no buffer at all
            memcpy(data, pending.constData(), size_t(count));
        pending.remove(0, count);
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }
};

// Cuts the input after its first 4 bytes into pieces of the sizes the first 3 choose, every
// fourth piece a large bite, so that the fuzzer also explores where the network cuts it.
struct Chunker
{
    int sizes[4] = {7, 1, 13, 4096}, turn = 0, position = 0;
    QByteArray rest;
    Chunker(const uint8_t* data, size_t size)
        : rest(reinterpret_cast<const char*>(data + qMin<size_t>(size, 4)),
               int(size - qMin<size_t>(size, 4)))
    {
        for (size_t i = 0; i < qMin<size_t>(size, 3); ++i)
            sizes[i] = 1 + data[i] % 64;
    }
    bool atEnd() const { return position >= rest.size(); }
    QByteArray next()
    {
        const QByteArray piece = rest.mid(position, sizes[turn++ % 4]);
        position += piece.size();
        return piece;
    }
};

#endif
