#ifndef PRINTARRA_TESTS_HTTPSERVER_TESTSUPPORT_H
#define PRINTARRA_TESTS_HTTPSERVER_TESTSUPPORT_H

#include <QElapsedTimer>
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
    QByteArray statusLine;
    QByteArray head; // status line and headers, up to the blank line
    QByteArray body; // with chunked framing removed
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
        if (QSslSocket* ssl = sslSocket()) {
            QSslConfiguration config = ssl->sslConfiguration();
            config.setPeerVerifyMode(caCertificates.isEmpty() ? QSslSocket::VerifyNone
                                                              : QSslSocket::VerifyPeer);
            config.setCaCertificates(caCertificates);
            ssl->setSslConfiguration(config);
        }
    }

    bool connectTo(quint16 port, const QString& host = QStringLiteral("127.0.0.1"))
    {
        if (QSslSocket* ssl = sslSocket()) {
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

    // Reads one complete response (length-delimited, chunked, or up to the close).
    Response readResponse(int timeout = 10000)
    {
        Response response;
        QElapsedTimer timer;
        timer.start();
        const auto until = [&](const auto& done) {
            while (!done() && fill(timer, timeout)) {
            }
            return done();
        };
        int headEnd = -1;
        if (!until([&] { return (headEnd = buffer.indexOf("\r\n\r\n")) >= 0; }))
            return response;
        response.head = buffer.left(headEnd + 2);
        response.statusLine = response.head.left(response.head.indexOf("\r\n"));
        int pos = headEnd + 4;
        const QByteArray length = response.header("Content-Length");
        if (!length.isEmpty()) {
            const int size = length.toInt();
            if (!until([&] { return buffer.size() >= pos + size; }))
                return response;
            response.body = buffer.mid(pos, size);
            pos += size;
        } else if (response.header("Transfer-Encoding") == "chunked") {
            for (int size = -1; size != 0;) {
                int lineEnd = -1;
                if (!until([&] { return (lineEnd = buffer.indexOf("\r\n", pos)) >= 0; }))
                    return response;
                size = buffer.mid(pos, lineEnd - pos).toInt(nullptr, 16);
                pos = lineEnd + 2 + size + 2;
                if (!until([&] { return buffer.size() >= pos; }))
                    return response;
                response.body += buffer.mid(lineEnd + 2, size);
            }
        } else {
            until([] { return false; }); // the body ends with the connection
            response.body = buffer.mid(pos);
            pos = buffer.size();
        }
        buffer.remove(0, pos);
        return response;
    }

    // True once the server has closed the connection.
    bool waitForClose(int timeout = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeout && fill(timer, timeout)) {
        }
        return socket->state() != QAbstractSocket::ConnectedState;
    }

    QByteArray unread() const { return buffer; } // beyond the responses read so far
    QTcpSocket* tcpSocket() { return socket.get(); }
    QSslSocket* sslSocket() { return qobject_cast<QSslSocket*>(socket.get()); }

private:
    bool fill(const QElapsedTimer& timer, int timeout)
    {
        const int left = int(timeout - timer.elapsed());
        if (socket->bytesAvailable() == 0 && socket->state() == QAbstractSocket::ConnectedState &&
            left > 0) {
            socket->waitForReadyRead(qMin(left, 100));
        }
        const bool more = socket->bytesAvailable() > 0;
        buffer += socket->readAll();
        return more || (socket->state() == QAbstractSocket::ConnectedState && left > 0);
    }

    std::unique_ptr<QTcpSocket> socket;
    QByteArray buffer;
};

// Waits for another thread's result while this thread handles its events.
template<typename T>
T awaitWithEvents(std::future<T>& future)
{
    while (future.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return future.get();
}

// One raw request on its own TLS connection to localhost, sent from another thread.
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
