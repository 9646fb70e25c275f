#ifndef CORVANE_HTTPRESPONSE_H
#define CORVANE_HTTPRESPONSE_H

#include "httpcookie.h"

#include <QByteArray>
#include <QMap>
#include <QTcpSocket>

namespace corvane {

/**
 * Writes one HTTP response to a connection's socket.
 *
 * Status line, headers and cookies go out with the first write(). A response written
 * with a single last-part write gets a "Content-Length"; one written in several parts
 * is chunked, unless "Connection: close" was set, in which case the body is raw and
 * ends with the connection.
 */
class HttpResponse
{
public:
    /** How long a write may wait for a client that does not read, by default. */
    static constexpr int defaultWriteTimeout = 30000;

    explicit HttpResponse(QTcpSocket* socket);

    void setHeader(const QByteArray name, const QByteArray value);
    void setHeader(const QByteArray name, const int value);
    QMap<QByteArray, QByteArray>& getHeaders();

    void setStatus(const int statusCode, const QByteArray description = QByteArray());
    int getStatusCode() const;

    void setCookie(const HttpCookie& cookie);
    QMap<QByteArray, HttpCookie>& getCookies();

    /**
     * Sends a part of the body; the first call sends the headers too. No call may
     * follow the one with lastPart true.
     */
    void write(const QByteArray data, const bool lastPart = false);
    bool hasSentLastPart() const;

    void redirect(const QByteArray& url);
    void flush();
    bool isConnected() const;

    /**
     * Upper bound, in milliseconds, on the wait for the client to take buffered bytes.
     * Past it without progress the connection is dropped, so a client that stops
     * reading cannot hold a handler thread for ever.
     */
    void setWriteTimeout(const int milliseconds);
    int writeTimeout() const;

    /** Bytes the socket still has to send, the encrypted backlog of a TLS socket included. */
    static qint64 pendingBytes(const QTcpSocket* socket);

private:
    void writeHeaders();
    bool writeToSocket(QByteArray data);
    bool waitForDrain();

    QMap<QByteArray, QByteArray> headers;
    QTcpSocket* socket;
    int statusCode = 200;
    QByteArray statusText = "OK";
    bool sentHeaders = false;
    bool sentLastPart = false;
    bool chunkedMode = false;
    QMap<QByteArray, HttpCookie> cookies;
    int writeTimeoutMs = defaultWriteTimeout;
};

} // namespace corvane

#endif
