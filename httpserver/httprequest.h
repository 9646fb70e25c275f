#ifndef CORVANE_HTTPREQUEST_H
#define CORVANE_HTTPREQUEST_H

#include <QByteArray>
#include <QHostAddress>
#include <QIODevice>
#include <QList>
#include <QMap>
#include <QMultiMap>
#include <QSettings>
#include <QTemporaryFile>

namespace corvane {

/**
 * One HTTP request, received incrementally from a socket (or any sequential device whose
 * bytes arrive in pieces; the peer address is known only for a socket).
 *
 * The connection handler feeds it with readFromSocket() whenever bytes arrive until
 * getStatus() is complete or aborted. The request enforces "maxRequestSize" and
 * "maxMultiPartSize", spools multipart/form-data bodies to a temporary file and splits
 * them into form fields and uploaded files.
 */
class HttpRequest
{
    Q_DISABLE_COPY(HttpRequest)

public:
    enum RequestState { awaitingRequestLine, awaitingHeaders, awaitingBody, complete, aborted };

    /** Reads its limits, "maxRequestSize" and "maxMultiPartSize", from the settings. */
    explicit HttpRequest(QSettings* settings);
    /** With the limits given (read once by the connection handler). */
    HttpRequest(int maxRequestSize, int maxMultiPartSize);
    virtual ~HttpRequest();

    /** The limits the settings give: the request's head and form body, and a multipart body. */
    static int maxRequestSizeOf(QSettings* settings);
    static int maxMultiPartSizeOf(QSettings* settings);

    void readFromSocket(QIODevice* socket);
    RequestState getStatus() const;
    /**
     * The HTTP status an aborted request is answered with: 413 for the size limits and a
     * broken request line, 400 for control bytes or white space in a header name, 431 for
     * too many header lines.
     */
    int getAbortStatus() const;
    /** The body size the head announced (0 without a body). */
    int getExpectedBodySize() const;

    QByteArray getMethod() const;
    QByteArray getPath() const;
    const QByteArray& getRawPath() const;
    QByteArray getVersion() const;

    QByteArray getHeader(const QByteArray& name) const;
    QList<QByteArray> getHeaders(const QByteArray& name) const;
    QMultiMap<QByteArray, QByteArray> getHeaderMap() const;

    QByteArray getParameter(const QByteArray& name) const;
    QList<QByteArray> getParameters(const QByteArray& name) const;
    QMultiMap<QByteArray, QByteArray> getParameterMap() const;

    QByteArray getBody() const;

    QByteArray getCookie(const QByteArray& name) const;
    QMap<QByteArray, QByteArray>& getCookieMap();

    /** The uploaded file of a multipart field, open and at its start, or null. */
    QTemporaryFile* getUploadedFile(const QByteArray fieldName) const;

    QHostAddress getPeerAddress() const;

    static QByteArray urlDecode(const QByteArray source);

private:
    void readRequest(QIODevice* socket);
    void readHeader(QIODevice* socket);
    void readBody(QIODevice* socket);
    void decodeRequestParams();
    void extractCookies();
    void parseMultiPartFile();

    bool readLine(QIODevice* socket, QByteArray& line);
    void refuse(int httpStatus);
    void finishHeaders();
    bool readContentLength();

    QMultiMap<QByteArray, QByteArray> headers;
    QMultiMap<QByteArray, QByteArray> parameters;
    QMap<QByteArray, QTemporaryFile*> uploadedFiles;
    QMap<QByteArray, QByteArray> cookies;
    QByteArray bodyData;
    QByteArray method;
    QByteArray path;
    QByteArray version;
    RequestState status = awaitingRequestLine;
    int abortStatus = 413;
    int headerLines = 0;
    QHostAddress peerAddress;
    int maxSize;
    int maxMultiPartSize;
    qint64 currentSize = 0;
    int expectedBodySize = 0;
    QByteArray currentHeader;
    QByteArray boundary;
    QTemporaryFile* tempFile = nullptr;
    QByteArray lineBuffer;
};

} // namespace corvane

#endif
