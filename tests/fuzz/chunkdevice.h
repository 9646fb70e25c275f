#ifndef PRINTARRA_FUZZ_CHUNKDEVICE_H
#define PRINTARRA_FUZZ_CHUNKDEVICE_H

#include <QByteArray>
#include <QIODevice>

// A sequential device whose bytes arrive in pieces, as a socket's do: feed() makes more of
// them available, reads take from the front.
class ChunkDevice : public QIODevice
{
public:
    ChunkDevice() { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }
    void feed(const QByteArray& bytes) { pending += bytes; }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return pending.size() + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const int count = int(qMin<qint64>(maxSize, pending.size()));
        if (count > 0) { // a zero-length read may come with no buffer at all
            memcpy(data, pending.constData(), size_t(count));
        }
        pending.remove(0, count);
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray pending;
};

// Splits the input into pieces whose sizes the input's first bytes choose, so that the
// fuzzer also explores where the network cuts a request.
class Chunker
{
public:
    Chunker(const uint8_t* data, size_t size)
    {
        const size_t header = qMin<size_t>(size, 4);
        for (size_t i = 0; i < header; ++i) {
            sizes[i] = 1 + data[i] % 64;
        }
        rest = QByteArray(reinterpret_cast<const char*>(data + header), int(size - header));
    }
    bool atEnd() const { return position >= rest.size(); }
    QByteArray next()
    {
        // Mostly the chosen sizes; every fourth piece takes a large bite.
        const int size = (turn % 4 == 3) ? 4096 : sizes[turn % 4];
        ++turn;
        const QByteArray piece = rest.mid(position, size);
        position += piece.size();
        return piece;
    }
    const QByteArray& whole() const { return rest; }

private:
    int sizes[4] = {7, 1, 13, 64};
    int turn = 0;
    int position = 0;
    QByteArray rest;
};

#endif
