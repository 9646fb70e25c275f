#include "httpresponse.h"

#include "tlssocket.h"
#include <QElapsedTimer>

namespace corvane {

namespace {
// Bytes the socket may hold unsent before a write waits for the client.
constexpr qint64 maxPendingBytes = 16384;

// A line break or NUL inside a header would end it early and let the rest pass as
// headers or body of the client's choosing.
bool breaksTheHead(const QByteArray& text)
{
    return text.contains('\r') || text.contains('\n') || text.contains('\0');
}
} // namespace

HttpResponse::HttpResponse(QTcpSocket* socket) : socket(socket) {}

void HttpResponse::setHeader(const QByteArray name, const QByteArray value)
{
    headers.insert(name, value);
}

void HttpResponse::setHeader(const QByteArray name, const int value)
{
    headers.insert(name, QByteArray::number(value));
}

QMap<QByteArray, QByteArray>& HttpResponse::getHeaders()
{
    return headers;
}

void HttpResponse::setStatus(const int statusCode, const QByteArray description)
{
    this->statusCode = statusCode;
    statusText = description;
}

int HttpResponse::getStatusCode() const
{
    return statusCode;
}

void HttpResponse::setCookie(const HttpCookie& cookie)
{
    if (!cookie.getName().isEmpty()) {
        cookies.insert(cookie.getName(), cookie);
    }
}

QMap<QByteArray, HttpCookie>& HttpResponse::getCookies()
{
    return cookies;
}

void HttpResponse::writeHeaders()
{
    QByteArray buffer;
    buffer.append("HTTP/1.1 ");
    buffer.append(QByteArray::number(statusCode));
    buffer.append(' ');
    buffer.append(statusText);
    buffer.append("\r\n");
    for (auto it = headers.constBegin(); it != headers.constEnd(); ++it) {
        if (breaksTheHead(it.key()) || breaksTheHead(it.value())) {
            qWarning("HttpResponse: header %s left out, it holds a line break or NUL",
                     QByteArray(it.key()).replace('\r', ' ').replace('\n', ' ').constData());
            continue;
        }
        buffer.append(it.key());
        buffer.append(": ");
        buffer.append(it.value());
        buffer.append("\r\n");
    }
    for (auto it = cookies.constBegin(); it != cookies.constEnd(); ++it) {
        const QByteArray cookie = it.value().toByteArray();
        if (breaksTheHead(cookie)) {
            qWarning("HttpResponse: a cookie left out, it holds a line break or NUL");
            continue;
        }
        buffer.append("Set-Cookie: ");
        buffer.append(cookie);
        buffer.append("\r\n");
    }
    buffer.append("\r\n");
    writeToSocket(buffer);
    sentHeaders = true;
}

qint64 HttpResponse::pendingBytes(const QTcpSocket* socket)
{
    // Under TLS the socket's own count covers only the clear text not yet encrypted;
    // what waits in the transport counts as pending too.
    qint64 pending = socket->bytesToWrite();
    if (const auto* tlsSocket = qobject_cast<const TlsSocket*>(socket)) {
        pending += tlsSocket->encryptedBytesToWrite();
    }
    return pending;
}

bool HttpResponse::writeToSocket(QByteArray data)
{
    const char* remaining = data.constData();
    qint64 remainingSize = data.size();

    while (socket->isOpen() && remainingSize > 0) {
        // Back-pressure: let the client take what is queued before adding more.
        if (pendingBytes(socket) > maxPendingBytes && !waitForDrain()) {
            return false;
        }
        if (!socket->isOpen()) {
            break;
        }
        const qint64 written = socket->write(remaining, remainingSize);
        if (written == -1) {
            return false;
        }
        remaining += written;
        remainingSize -= written;
    }
    return true;
}

bool HttpResponse::waitForDrain()
{
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    qint64 pending = pendingBytes(socket);
    while (pending > maxPendingBytes && socket->state() == QAbstractSocket::ConnectedState) {
        const qint64 left = writeTimeoutMs - sinceProgress.elapsed();
        if (left <= 0) {
            qWarning("HttpResponse: the client took no data for %i ms, dropping the connection",
                     writeTimeoutMs);
            socket->abort();
            return false;
        }
        socket->waitForBytesWritten(int(left));
        const qint64 now = pendingBytes(socket);
        if (now < pending) {
            sinceProgress.restart();
        }
        pending = now;
    }
    return true;
}

void HttpResponse::write(const QByteArray data, const bool lastPart)
{
    if (sentLastPart) {
        qWarning("HttpResponse: write after the last part ignored");
        return;
    }

    if (!sentHeaders) {
        if (lastPart) {
            headers.insert("Content-Length", QByteArray::number(data.size()));
        } else {
            QByteArray connection = headers.value("Connection");
            if (!headers.contains("Connection")) {
                connection = headers.value("connection");
            }
            if (qstricmp(connection.constData(), "close") != 0) {
                headers.insert("Transfer-Encoding", "chunked");
                chunkedMode = true;
            }
        }
        writeHeaders();
    }

    if (!data.isEmpty()) {
        if (chunkedMode) {
            QByteArray chunk = QByteArray::number(data.size(), 16);
            chunk.append("\r\n");
            writeToSocket(chunk);
            writeToSocket(data);
            writeToSocket("\r\n");
        } else {
            writeToSocket(data);
        }
    }

    if (lastPart) {
        if (chunkedMode) {
            writeToSocket("0\r\n\r\n");
        }
        // The answer leaves now, while the handler tidies up after it.
        if (auto* tlsSocket = qobject_cast<TlsSocket*>(socket)) {
            tlsSocket->encryptUnsent();
        } else {
            socket->flush();
        }
        sentLastPart = true;
    }
}

bool HttpResponse::hasSentLastPart() const
{
    return sentLastPart;
}

void HttpResponse::redirect(const QByteArray& url)
{
    setStatus(303, "See Other");
    setHeader("Location", url);
    write("Redirect", true);
}

void HttpResponse::flush()
{
    socket->flush();
}

bool HttpResponse::isConnected() const
{
    return socket->isOpen();
}

void HttpResponse::setWriteTimeout(const int milliseconds)
{
    writeTimeoutMs = milliseconds;
}

int HttpResponse::writeTimeout() const
{
    return writeTimeoutMs;
}

} // namespace corvane
