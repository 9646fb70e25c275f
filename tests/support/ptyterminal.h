#ifndef PTYTERMINAL_H
#define PTYTERMINAL_H

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

// A payment terminal on the master side of a pseudo-terminal; the code under test opens the slave.
class PtyTerminal
{
public:
    PtyTerminal()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return;
        m_slavePath = QString::fromLocal8Bit(ptsname(m_master));
        // Raw at once, so that no echo touches bytes sent before the port is configured.
        const int slave = ::open(ptsname(m_master), O_RDWR | O_NOCTTY);
        termios tio{};
        if (slave >= 0 && tcgetattr(slave, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(slave, TCSANOW, &tio);
        }
        ::close(slave);
    }
    ~PtyTerminal() { ::close(m_master); }
    PtyTerminal(const PtyTerminal&) = delete;
    PtyTerminal& operator=(const PtyTerminal&) = delete;

    QString slavePath() const { return m_slavePath; }

    // One write per byte, as a serial line delivers them; waits while the slave's queue is full.
    void write(const QByteArray& bytes)
    {
        for (char byte : bytes) {
            for (pollfd pfd{m_master, POLLOUT, 0};
                 ::write(m_master, &byte, 1) != 1 && (errno == EAGAIN || errno == EINTR);)
                ::poll(&pfd, 1, 10);
        }
    }

    // Waits up to timeoutMs for count bytes, running the caller's event loop meanwhile.
    QByteArray read(int count, int timeoutMs = 5000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (m_pending.size() < count && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            pollfd pfd{m_master, POLLIN, 0};
            char buffer[4096];
            const ssize_t n = ::poll(&pfd, 1, 5) > 0 ? ::read(m_master, buffer, sizeof buffer) : 0;
            if (n > 0)
                m_pending.append(buffer, int(n));
            else if (n < 0)
                ::usleep(5000); // EIO while nobody holds the slave open
        }
        const QByteArray result = m_pending.left(count);
        m_pending.remove(0, result.size());
        return result;
    }

    QByteArray readFor(int ms) { return read(INT_MAX, ms); } // all that arrives within ms
    // Whether nobody holds the slave open any more: the code under test let its port go.
    bool hungUp() const
    {
        pollfd pfd{m_master, 0, 0};
        return ::poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLHUP);
    }

private:
    int m_master = -1;
    QString m_slavePath;
    QByteArray m_pending;
};

// Frames as a terminal sends them: the LRC is the exclusive-or of the payload and end marker.
inline QByteArray withLrc(const QByteArray& frame, int from)
{
    char lrc = 0;
    for (char byte : frame.mid(from))
        lrc = char(lrc ^ byte);
    return frame + lrc;
}
inline QByteArray ingenicoFrame(const QByteArray& payload)
{
    return withLrc('\x02' + payload + '\x03', 1);
}
inline QByteArray newnoteFrame(const QByteArray& payload)
{
    return withLrc("\x10\x02" + payload + "\x10\x03", 2);
}

#endif // PTYTERMINAL_H
