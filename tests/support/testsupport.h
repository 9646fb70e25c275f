#ifndef PRINTARRA_TESTS_HTTPSERVER_TESTSUPPORT_H
#define PRINTARRA_TESTS_HTTPSERVER_TESTSUPPORT_H

#include <QDeadlineTimer>
#include <QSettings>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <cstdio>
#include <future>
#include <memory>

namespace testsupport {

// QtTest's log is not thread-safe: other threads' messages go straight to standard error.
inline void keepThreadLogsOutOfTestLog()
{
    static QtMessageHandler testLog = nullptr;
    testLog = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (QThread::currentThread() == QCoreApplication::instance()->thread())
                testLog(type, context, message);
            else if (type != QtDebugMsg)
                fprintf(stderr, "%s\n", qPrintable(message));
        });
}

class TempSettings // settings in an INI file in a temporary folder
{
    QTemporaryDir dir;
    QSettings settings{dir.filePath(QStringLiteral("server.ini")), QSettings::IniFormat};

public:
    QSettings* operator->() { return &settings; }
    QSettings* get() { return &settings; }
    QString path(const QString& name) const { return dir.filePath(name); }
};

struct Response // one HTTP response as it came off the wire
{
    QByteArray statusLine, head, body; // head: up to the blank line; body: without chunk framing
    QByteArray header(const QByteArray& name) const
    {
        for (const QByteArray& line : head.split('\n')) {
            const int colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
                return line.mid(colon + 1).trimmed();
        }
        return QByteArray();
    }
};

// A blocking HTTP client over TCP or TLS; unread bytes are kept for pipelined answers.
class HttpClient
{
public:
    explicit HttpClient(bool tls = false, const QList<QSslCertificate>& caCertificates = {})
        : socket(tls ? new QSslSocket() : new QTcpSocket())
    {
        if (auto* ssl = qobject_cast<QSslSocket*>(socket.get())) {
            QSslConfiguration config = ssl->sslConfiguration();
            config.setPeerVerifyMode(caCertificates.isEmpty() ? QSslSocket::VerifyNone
                                                              : QSslSocket::VerifyPeer);
            config.setCaCertificates(caCertificates);
            ssl->setSslConfiguration(config);
        }
    }

    bool connectTo(quint16 port, const QString& host = QStringLiteral("127.0.0.1"))
    {
        if (auto* ssl = qobject_cast<QSslSocket*>(socket.get())) {
            ssl->connectToHostEncrypted(host, port);
            return ssl->waitForEncrypted(10000);
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

    // Reads one complete response, delimited by its length or by chunks.
    Response readResponse(int timeout = 10000)
    {
        Response response;
        const QDeadlineTimer deadline(timeout);
        const auto until = [&](const auto& done) {
            while (!done() && fill(deadline)) {
            }
            return done();
        };
        int pos = -1, lineEnd = -1;
        if (!until([&] { return (pos = buffer.indexOf("\r\n\r\n")) >= 0; }))
            return response;
        response.head = buffer.left(pos + 2);
        response.statusLine = response.head.left(response.head.indexOf("\r\n"));
        pos += 4;
        if (response.header("Transfer-Encoding") != "chunked") {
            const int size = response.header("Content-Length").toInt();
            if (!until([&] { return buffer.size() >= pos + size; }))
                return response;
            response.body = buffer.mid(pos, size);
            pos += size;
        } else {
            for (int size = -1; size != 0; pos = lineEnd + 4 + size) {
                if (!until([&] { return (lineEnd = buffer.indexOf("\r\n", pos)) >= 0; }))
                    return response;
                size = buffer.mid(pos, lineEnd - pos).toInt(nullptr, 16);
                if (!until([&] { return buffer.size() >= lineEnd + 4 + size; }))
                    return response;
                response.body += buffer.mid(lineEnd + 2, size);
            }
        }
        buffer.remove(0, pos);
        return response;
    }

    // True once the server has closed the connection.
    bool waitForClose(int timeout = 5000)
    {
        for (const QDeadlineTimer deadline(timeout); !deadline.hasExpired() && fill(deadline);) {
        }
        return socket->state() != QAbstractSocket::ConnectedState;
    }

    QByteArray unread() const { return buffer; } // beyond the responses read so far
    QTcpSocket* tcpSocket() { return socket.get(); }

private:
    bool fill(const QDeadlineTimer& deadline)
    {
        const auto open = [&] {
            return socket->state() == QAbstractSocket::ConnectedState && !deadline.hasExpired();
        };
        if (socket->bytesAvailable() == 0 && open())
            socket->waitForReadyRead(qBound(1, int(deadline.remainingTime()), 100));
        const bool more = socket->bytesAvailable() > 0;
        buffer += socket->readAll();
        return more || open();
    }

    std::unique_ptr<QTcpSocket> socket;
    QByteArray buffer;
};

// Waits for another thread's result while this thread handles its events.
template<typename T>
T awaitWithEvents(std::future<T>& future)
{
    while (future.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return future.get();
}

// One raw request on its own TLS connection to localhost, sent from another thread.
inline std::future<Response> requestOffThread(quint16 port, const QByteArray& raw,
                                              const QList<QSslCertificate>& caCertificates)
{
    return std::async(std::launch::async, [port, raw, caCertificates] {
        HttpClient http(true, caCertificates);
        if (!http.connectTo(port, QStringLiteral("localhost")))
            return Response();
        http.send(raw);
        return http.readResponse(20000);
    });
}

} // namespace testsupport

#endif
