#ifndef PRINTARRA_TESTS_HTTPSERVER_TESTSUPPORT_H
#define PRINTARRA_TESTS_HTTPSERVER_TESTSUPPORT_H

// Helpers shared by the HTTP server tests: real sockets on loopback, a throwaway
// settings file, and a small blocking HTTP client that reads responses byte-exactly.

#include <QByteArray>
#include <QElapsedTimer>
#include <QSettings>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>

namespace testsupport {

/**
 * QtTest's log is not safe for messages from other threads while the main thread moves
 * between test rows (it reads the current row's name, which may be freed meanwhile).
 * Call this in initTestCase of a suite whose servers log from their own threads: their
 * messages go straight to standard error, the main thread's still to the test log.
 */
inline void keepThreadLogsOutOfTestLog()
{
    static QtMessageHandler testLog = nullptr;
    testLog = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
                testLog(type, context, message);
            } else if (type != QtDebugMsg) {
                fprintf(stderr, "%s\n", qPrintable(message));
            }
        });
}

/** A settings object backed by an INI file in a temporary folder. */
class TempSettings
{
public:
    TempSettings() : settings(dir.filePath(QStringLiteral("server.ini")), QSettings::IniFormat) {}
    QSettings* operator->() { return &settings; }
    QSettings* get() { return &settings; }
    QString path(const QString& name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
    QSettings settings;
};

/** A connected pair of TCP sockets on loopback: client side and server side. */
class SocketPair
{
public:
    SocketPair()
    {
        server.listen(QHostAddress::LocalHost);
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        client.waitForConnected(5000);
        server.waitForNewConnection(5000);
        serverSide.reset(server.nextPendingConnection());
    }
    /** Sends bytes from the client and waits until the server side has them all. */
    void send(const QByteArray& data)
    {
        const qint64 before = serverSide->bytesAvailable();
        client.write(data);
        client.flush();
        QElapsedTimer timer;
        timer.start();
        while (serverSide->bytesAvailable() < before + data.size() && timer.elapsed() < 5000) {
            client.waitForBytesWritten(50);
            serverSide->waitForReadyRead(50);
        }
    }
    /** Everything the client has received within the time given. */
    QByteArray receive(int milliseconds = 200)
    {
        QByteArray data;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < milliseconds) {
            serverSide->flush();
            client.waitForReadyRead(20);
            data += client.readAll();
        }
        return data;
    }

    QTcpServer server;
    QTcpSocket client;
    std::unique_ptr<QTcpSocket> serverSide;
};

/** One HTTP response as it came off the wire. */
struct Response
{
    bool complete = false;
    QByteArray statusLine;
    QByteArray head; // status line and headers, up to the blank line
    QByteArray body; // with chunked framing removed
    QByteArray raw;  // every byte of this response as received
    QByteArray header(const QByteArray& name) const
    {
        const QList<QByteArray> lines = head.split('\n');
        for (const QByteArray& line : lines) {
            const int colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower()) {
                return line.mid(colon + 1).trimmed();
            }
        }
        return QByteArray();
    }
};

/**
 * A blocking HTTP client over plain TCP or TLS. It keeps unread bytes between
 * responses, so pipelined answers can be read one after the other.
 */
class HttpClient
{
public:
    explicit HttpClient(bool tls = false, const QList<QSslCertificate>& caCertificates = {})
        : tls(tls)
    {
        if (tls) {
            auto* sslSocket = new QSslSocket();
            QSslConfiguration config = sslSocket->sslConfiguration();
            if (caCertificates.isEmpty()) {
                config.setPeerVerifyMode(QSslSocket::VerifyNone);
            } else {
                config.setCaCertificates(caCertificates);
                config.setPeerVerifyMode(QSslSocket::VerifyPeer);
            }
            sslSocket->setSslConfiguration(config);
            socket.reset(sslSocket);
        } else {
            socket.reset(new QTcpSocket());
        }
    }

    bool connectTo(quint16 port, const QString& host = QStringLiteral("127.0.0.1"))
    {
        if (tls) {
            auto* sslSocket = static_cast<QSslSocket*>(socket.get());
            sslSocket->connectToHostEncrypted(host, port);
            return sslSocket->waitForEncrypted(10000);
        }
        socket->connectToHost(host, port);
        return socket->waitForConnected(5000);
    }

    void send(const QByteArray& data)
    {
        socket->write(data);
        socket->flush();
        socket->waitForBytesWritten(5000);
    }

    /** Reads one complete response (length-delimited, chunked, or up to the close). */
    Response readResponse(int timeout = 10000)
    {
        Response response;
        QElapsedTimer timer;
        timer.start();
        int headEnd = -1;
        while (timer.elapsed() < timeout) {
            headEnd = buffer.indexOf("\r\n\r\n");
            if (headEnd >= 0) {
                break;
            }
            if (!fill(timer, timeout)) {
                return response;
            }
        }
        if (headEnd < 0) {
            return response;
        }
        response.head = buffer.left(headEnd + 2);
        response.statusLine = response.head.left(response.head.indexOf("\r\n"));
        int pos = headEnd + 4;
        const QByteArray length = response.header("Content-Length");
        if (!length.isEmpty()) {
            const int size = length.toInt();
            while (buffer.size() < pos + size && fill(timer, timeout)) {
            }
            if (buffer.size() < pos + size) {
                return response;
            }
            response.body = buffer.mid(pos, size);
            pos += size;
        } else if (response.header("Transfer-Encoding") == "chunked") {
            for (;;) {
                int lineEnd;
                while ((lineEnd = buffer.indexOf("\r\n", pos)) < 0 && fill(timer, timeout)) {
                }
                if (lineEnd < 0) {
                    return response;
                }
                const int size = buffer.mid(pos, lineEnd - pos).toInt(nullptr, 16);
                const int needed = lineEnd + 2 + size + 2;
                while (buffer.size() < needed && fill(timer, timeout)) {
                }
                if (buffer.size() < needed) {
                    return response;
                }
                response.body += buffer.mid(lineEnd + 2, size);
                pos = needed;
                if (size == 0) {
                    break;
                }
            }
        } else {
            // The body ends with the connection.
            while (fill(timer, timeout)) {
            }
            response.body = buffer.mid(pos);
            pos = buffer.size();
        }
        response.raw = buffer.left(pos);
        buffer.remove(0, pos);
        response.complete = true;
        return response;
    }

    /** True once the server has closed the connection (waits at most the given time). */
    bool waitForClose(int timeout = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeout) {
            if (!fill(timer, timeout)) {
                return socket->state() != QAbstractSocket::ConnectedState;
            }
        }
        return false;
    }

    /** Bytes received beyond the responses read so far. */
    QByteArray unread() const { return buffer; }
    QTcpSocket* tcpSocket() { return socket.get(); }
    QSslSocket* sslSocket() { return qobject_cast<QSslSocket*>(socket.get()); }

private:
    // Waits for more bytes; false when the connection ended or the time is up.
    bool fill(const QElapsedTimer& timer, int timeout)
    {
        if (socket->bytesAvailable() > 0) {
            buffer += socket->readAll();
            return true;
        }
        if (socket->state() != QAbstractSocket::ConnectedState) {
            return false;
        }
        const int left = int(timeout - timer.elapsed());
        if (left <= 0) {
            return false;
        }
        socket->waitForReadyRead(qMin(left, 100));
        if (socket->bytesAvailable() > 0) {
            buffer += socket->readAll();
        }
        return socket->state() == QAbstractSocket::ConnectedState || socket->bytesAvailable() > 0;
    }

    bool tls;
    std::unique_ptr<QTcpSocket> socket;
    QByteArray buffer;
};

/**
 * The result of work running on another thread, waited for while this thread keeps handling
 * its events: a server under test may need them (its listener, or the objects it reads, live
 * here).
 */
template<typename T>
T awaitWithEvents(std::future<T>& future)
{
    while (future.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return future.get();
}

/** One raw request on its own TLS connection to localhost, sent from another thread. */
inline std::future<Response> requestOffThread(quint16 port, const QByteArray& raw,
                                              const QList<QSslCertificate>& caCertificates)
{
    return std::async(std::launch::async, [port, raw, caCertificates] {
        HttpClient http(true, caCertificates);
        if (!http.connectTo(port, QStringLiteral("localhost"))) {
            return Response();
        }
        http.send(raw);
        return http.readResponse(20000);
    });
}

} // namespace testsupport

#endif
