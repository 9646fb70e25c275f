#include "httprequest.h"

#include "httplogging.h"

#include "httpcookie.h"
#include "httpsettings.h"

#include <QAbstractSocket>
#include <QDir>
#include <climits>

namespace corvane {

namespace {
// Multipart bodies are spooled and parsed in pieces of this size.
constexpr qint64 multipartChunk = 65536;
// How much of the socket's buffer one look for a line end takes.
constexpr qint64 lineWindow = 4096;
// Far more than any browser sends; a head of thousands of tiny lines is refused.
constexpr int maxHeaderLines = 100;

QString tempFileTemplate(const char* role)
{
    return QDir::tempPath() + QStringLiteral("/printarra-") + QLatin1String(role) +
           QStringLiteral("-XXXXXX");
}

bool isHexDigit(const char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isPlainDecimal(const QByteArray& text)
{
    if (text.isEmpty()) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}
} // namespace

HttpRequest::HttpRequest(QSettings* settings)
    : HttpRequest(maxRequestSizeOf(settings), maxMultiPartSizeOf(settings))
{
}

HttpRequest::HttpRequest(int maxRequestSize, int maxMultiPartSize)
    : maxSize(maxRequestSize), maxMultiPartSize(maxMultiPartSize)
{
}

int HttpRequest::maxRequestSizeOf(QSettings* settings)
{
    return HttpSettings::intValue(settings, HttpSettingKeys::maxRequestSize,
                                  HttpSettings::defaultMaxRequestSize);
}

int HttpRequest::maxMultiPartSizeOf(QSettings* settings)
{
    return HttpSettings::intValue(settings, HttpSettingKeys::maxMultiPartSize,
                                  HttpSettings::defaultMaxMultiPartSize);
}

HttpRequest::~HttpRequest()
{
    for (QTemporaryFile* file : qAsConst(uploadedFiles)) {
        file->close();
        delete file;
    }
    if (tempFile) {
        tempFile->close();
        delete tempFile;
    }
}

bool HttpRequest::readLine(QIODevice* socket, QByteArray& line)
{
    // One byte more than the remaining allowance, so that an overflow is noticed.
    qint64 allowance = qMax<qint64>(1, qint64(maxSize) - currentSize + 1);
    // Taken in windows up to the line feed, so that a head of many short lines costs time in
    // proportion to its size rather than to its size times its line count.
    bool lineEnded = false;
    char window[lineWindow + 1]; // the device's readLine() ends what it reads with a NUL
    while (allowance > 0 && !lineEnded && socket->bytesAvailable() > 0) {
        const qint64 size = socket->readLine(window, qMin(allowance, lineWindow) + 1);
        if (size <= 0) {
            break;
        }
        lineEnded = window[size - 1] == '\n';
        lineBuffer.append(window, int(size));
        allowance -= size;
    }
    // A line that arrives in pieces is counted once per piece, cumulatively.
    currentSize += lineBuffer.size();
    // Only a line feed ends a line: a carriage return may be the last byte of a packet
    // whose line feed is still on its way.
    if (!lineEnded) {
        return false;
    }
    // Control bytes inside a line (a NUL, a bare carriage return) would make a value mean
    // one thing here and another to whatever compares or forwards it.
    int end = lineBuffer.size() - 1;
    if (end > 0 && lineBuffer.at(end - 1) == '\r') {
        --end;
    }
    for (int i = 0; i < end; ++i) {
        const auto byte = static_cast<unsigned char>(lineBuffer.at(i));
        if ((byte < 0x20 && byte != '\t') || byte == 0x7f) {
            qWarning("HttpRequest: control character in the request head");
            refuse(400);
            return false;
        }
    }
    line = lineBuffer.trimmed();
    lineBuffer.clear();
    return true;
}

void HttpRequest::refuse(int httpStatus)
{
    status = aborted;
    abortStatus = httpStatus;
}

void HttpRequest::readRequest(QIODevice* socket)
{
    QByteArray line;
    if (!readLine(socket, line) || line.isEmpty()) {
        return;
    }
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || !parts.at(2).contains("HTTP")) {
        qWarning("HttpRequest: received broken HTTP request, invalid first line");
        refuse(400);
        return;
    }
    method = parts.at(0).trimmed();
    path = parts.at(1);
    version = parts.at(2);
    if (const auto* tcpSocket = qobject_cast<const QAbstractSocket*>(socket)) {
        peerAddress = tcpSocket->peerAddress();
    }
    status = awaitingHeaders;
}

void HttpRequest::readHeader(QIODevice* socket)
{
    QByteArray line;
    if (!readLine(socket, line)) {
        return;
    }
    const int colon = line.indexOf(':');
    if (colon > 0) {
        if (++headerLines > maxHeaderLines) {
            qWarning("HttpRequest: too many header lines");
            refuse(431);
            return;
        }
        currentHeader = line.left(colon).toLower();
        // "Content-Length :" must not pass as some other header beside the real one.
        if (currentHeader.contains(' ') || currentHeader.contains('\t')) {
            qWarning("HttpRequest: white space in a header name");
            refuse(400);
            return;
        }
        headers.insert(currentHeader, line.mid(colon + 1).trimmed());
    } else if (!line.isEmpty()) {
        // A continuation line extends the most recent value of the current header.
        if (headers.contains(currentHeader)) {
            headers.insert(currentHeader, headers.value(currentHeader) + ' ' + line);
        }
    } else {
        finishHeaders();
    }
}

bool HttpRequest::readContentLength()
{
    // The body is delimited by Content-Length alone. Anything that makes its end
    // uncertain would let body bytes be read as a further request, so it is refused.
    if (headers.contains("transfer-encoding")) {
        qWarning("HttpRequest: Transfer-Encoding is not supported");
        return false;
    }
    const QList<QByteArray> values = headers.values("content-length");
    if (values.isEmpty()) {
        expectedBodySize = 0;
        return true;
    }
    for (const QByteArray& value : values) {
        if (value != values.first()) {
            qWarning("HttpRequest: conflicting Content-Length values");
            return false;
        }
    }
    bool ok = false;
    const qint64 length = values.first().toLongLong(&ok);
    if (!isPlainDecimal(values.first()) || !ok || length > INT_MAX) {
        qWarning("HttpRequest: invalid Content-Length %s", values.first().constData());
        return false;
    }
    expectedBodySize = int(length);
    return true;
}

void HttpRequest::finishHeaders()
{
    const QByteArray contentType = headers.value("content-type");
    if (contentType.startsWith("multipart/form-data")) {
        const int position = contentType.indexOf("boundary=");
        if (position >= 0) {
            boundary = contentType.mid(position + 9);
            if (boundary.size() >= 2 && boundary.startsWith('"') && boundary.endsWith('"')) {
                boundary = boundary.mid(1, boundary.size() - 2);
            }
        }
    }
    if (!readContentLength()) {
        refuse(400); // the body's end is unknown: a malformed request, not a large one
        return;
    }
    if (expectedBodySize == 0) {
        status = complete;
    } else if (boundary.isEmpty()) {
        if (qint64(expectedBodySize) + currentSize > maxSize) {
            qWarning("HttpRequest: expected body is too large");
            status = aborted;
        } else {
            status = awaitingBody;
        }
    } else if (expectedBodySize > maxMultiPartSize) {
        qWarning("HttpRequest: expected multipart body is too large");
        status = aborted;
    } else {
        status = awaitingBody;
    }
}

void HttpRequest::readBody(QIODevice* socket)
{
    if (boundary.isEmpty()) {
        const QByteArray data = socket->read(expectedBodySize - bodyData.size());
        currentSize += data.size();
        bodyData.append(data);
        if (bodyData.size() >= expectedBodySize) {
            status = complete;
        }
        return;
    }

    if (!tempFile) {
        tempFile = new QTemporaryFile(tempFileTemplate("multipart"));
    }
    if (!tempFile->isOpen() && !tempFile->open()) {
        qCritical("HttpRequest: cannot create temp file for multipart body, %s",
                  qPrintable(tempFile->errorString()));
        status = aborted;
        return;
    }
    qint64 fileSize = tempFile->size();
    const QByteArray data = socket->read(qMin(expectedBodySize - fileSize, multipartChunk));
    const qint64 written = tempFile->write(data);
    if (written > 0) {
        fileSize += written;
    }
    if (fileSize >= maxMultiPartSize) {
        qWarning("HttpRequest: received too many multipart bytes");
        status = aborted;
    } else if (fileSize >= expectedBodySize) {
        if (!tempFile->flush()) {
            qCritical("HttpRequest: Error writing temp file for multipart body");
        }
        parseMultiPartFile();
        tempFile->close();
        status = complete;
    }
}

void HttpRequest::readFromSocket(QIODevice* socket)
{
    switch (status) {
    case awaitingRequestLine:
        readRequest(socket);
        break;
    case awaitingHeaders:
        readHeader(socket);
        break;
    case awaitingBody:
        readBody(socket);
        break;
    default:
        break;
    }

    if ((boundary.isEmpty() && currentSize > maxSize) ||
        (!boundary.isEmpty() && currentSize > maxMultiPartSize)) {
        qWarning("HttpRequest: received too many bytes");
        status = aborted;
        return;
    }
    if (status == complete) {
        decodeRequestParams();
        extractCookies();
    }
}

void HttpRequest::decodeRequestParams()
{
    QByteArray rawParameters;
    const int question = path.indexOf('?');
    if (question >= 0) {
        rawParameters = path.mid(question + 1);
        path = path.left(question);
    }
    const QByteArray contentType = headers.value("content-type");
    if (!bodyData.isEmpty() &&
        (contentType.isEmpty() || contentType.startsWith("application/x-www-form-urlencoded"))) {
        if (!rawParameters.isEmpty()) {
            rawParameters.append('&');
            rawParameters.append(bodyData);
        } else {
            rawParameters = bodyData;
        }
    }
    const QList<QByteArray> pairs = rawParameters.split('&');
    for (const QByteArray& part : pairs) {
        const int equals = part.indexOf('=');
        if (equals >= 0) {
            parameters.insert(urlDecode(part.left(equals).trimmed()),
                              urlDecode(part.mid(equals + 1).trimmed()));
        } else if (!part.isEmpty()) {
            parameters.insert(urlDecode(part), QByteArray());
        }
    }
}

void HttpRequest::extractCookies()
{
    // values() lists the most recent header first, so the line received first wins.
    const QList<QByteArray> cookieHeaders = headers.values("cookie");
    for (const QByteArray& cookieHeader : cookieHeaders) {
        const QList<QByteArray> parts = HttpCookie::splitCSV(cookieHeader);
        for (const QByteArray& part : parts) {
            const int equals = part.indexOf('=');
            QByteArray name;
            QByteArray value;
            if (equals > 0) {
                name = part.left(equals).trimmed();
                value = part.mid(equals + 1).trimmed();
            } else if (equals < 0) {
                value = part.trimmed();
            } else {
                name = part.trimmed();
            }
            cookies.insert(name, value);
        }
    }
    headers.remove("cookie");
}

QByteArray HttpRequest::urlDecode(const QByteArray source)
{
    QByteArray buffer(source);
    buffer.replace('+', ' ');
    int percent = buffer.indexOf('%');
    while (percent >= 0) {
        // Exactly two hex digits make an escape; anything else stays as it is.
        if (percent + 2 < buffer.size() && isHexDigit(buffer.at(percent + 1)) &&
            isHexDigit(buffer.at(percent + 2))) {
            const char decoded = char(buffer.mid(percent + 1, 2).toInt(nullptr, 16));
            buffer.replace(percent, 3, QByteArray(1, decoded));
        }
        // Continue after this position, so that a decoded "%" is not decoded again.
        percent = buffer.indexOf('%', percent + 1);
    }
    return buffer;
}

void HttpRequest::parseMultiPartFile()
{
    qCDebug(httpLog, "HttpRequest: parsing multipart temp file");
    tempFile->seek(0);
    const QByteArray delimiter = "--" + boundary;
    const QByteArray closingMark = boundary + "--";
    bool finished = false;
    const auto readable = [this, &finished] {
        return !tempFile->atEnd() && !finished && tempFile->error() == QFileDevice::NoError;
    };

    while (readable()) {
        QByteArray fieldName;
        QByteArray fileName;
        while (readable()) {
            const QByteArray line = tempFile->readLine(multipartChunk).trimmed();
            if (line.startsWith("Content-Disposition:")) {
                if (line.contains("form-data")) {
                    int start = line.indexOf(" name=\"");
                    int end = start >= 0 ? line.indexOf('"', start + 7) : -1;
                    if (end >= 0) {
                        fieldName = line.mid(start + 7, end - start - 7);
                    }
                    start = line.indexOf(" filename=\"");
                    end = start >= 0 ? line.indexOf('"', start + 11) : -1;
                    if (end >= 0) {
                        fileName = line.mid(start + 11, end - start - 11);
                    }
                } else {
                    qCDebug(httpLog, "HttpRequest: ignoring unsupported content part %s",
                            line.constData());
                }
            } else if (line.isEmpty()) {
                break;
            }
        }

        const bool isField = !fieldName.isEmpty() && fileName.isEmpty();
        const bool isFile = !fieldName.isEmpty() && !fileName.isEmpty();
        QByteArray fieldValue;
        QTemporaryFile* uploadedFile = nullptr;
        bool boundaryReached = false;
        while (readable()) {
            const QByteArray line = tempFile->readLine(multipartChunk);
            if (line.startsWith(delimiter)) {
                boundaryReached = true;
                if (isField) {
                    fieldValue.chop(2); // the line break before the boundary
                    parameters.insert(fieldName, fieldValue);
                    qCDebug(httpLog, "HttpRequest: set parameter %s=%s", fieldName.constData(),
                            fieldValue.constData());
                } else if (isFile) {
                    // A file part without data lines yields an empty file.
                    if (!uploadedFile) {
                        uploadedFile = new QTemporaryFile(tempFileTemplate("upload"));
                        uploadedFile->open();
                    }
                    uploadedFile->resize(qMax<qint64>(0, uploadedFile->size() - 2));
                    uploadedFile->flush();
                    uploadedFile->seek(0);
                    parameters.insert(fieldName, fileName);
                    qCDebug(httpLog, "HttpRequest: set parameter %s=%s", fieldName.constData(),
                            fileName.constData());
                    // A later file of the same field replaces the earlier one, which goes now.
                    delete uploadedFiles.value(fieldName, nullptr);
                    uploadedFiles.insert(fieldName, uploadedFile);
                    qCDebug(httpLog, "HttpRequest: uploaded file size is %i",
                            int(uploadedFile->size()));
                    uploadedFile = nullptr;
                }
                if (line.contains(closingMark)) {
                    finished = true;
                }
                break;
            }
            if (isField) {
                fieldValue.append(line);
                currentSize += line.size();
            } else if (isFile) {
                if (!uploadedFile) {
                    uploadedFile = new QTemporaryFile(tempFileTemplate("upload"));
                    uploadedFile->open();
                }
                uploadedFile->write(line);
                if (uploadedFile->error() != QFileDevice::NoError) {
                    qCritical("HttpRequest: error writing temp file, %s",
                              qPrintable(uploadedFile->errorString()));
                }
            }
        }
        if (!boundaryReached) {
            // The body ended inside a file part: what it had is not a complete upload.
            delete uploadedFile;
        }
    }
    if (tempFile->error() != QFileDevice::NoError) {
        qCritical("HttpRequest: cannot read temp file, %s", qPrintable(tempFile->errorString()));
    }
}

HttpRequest::RequestState HttpRequest::getStatus() const
{
    return status;
}

int HttpRequest::getAbortStatus() const
{
    return abortStatus;
}

int HttpRequest::getExpectedBodySize() const
{
    return expectedBodySize;
}

QByteArray HttpRequest::getMethod() const
{
    return method;
}

QByteArray HttpRequest::getPath() const
{
    return urlDecode(path);
}

const QByteArray& HttpRequest::getRawPath() const
{
    return path;
}

QByteArray HttpRequest::getVersion() const
{
    return version;
}

QByteArray HttpRequest::getHeader(const QByteArray& name) const
{
    return headers.value(name.toLower());
}

QList<QByteArray> HttpRequest::getHeaders(const QByteArray& name) const
{
    return headers.values(name.toLower());
}

QMultiMap<QByteArray, QByteArray> HttpRequest::getHeaderMap() const
{
    return headers;
}

QByteArray HttpRequest::getParameter(const QByteArray& name) const
{
    return parameters.value(name);
}

QList<QByteArray> HttpRequest::getParameters(const QByteArray& name) const
{
    return parameters.values(name);
}

QMultiMap<QByteArray, QByteArray> HttpRequest::getParameterMap() const
{
    return parameters;
}

QByteArray HttpRequest::getBody() const
{
    return bodyData;
}

QByteArray HttpRequest::getCookie(const QByteArray& name) const
{
    return cookies.value(name);
}

QMap<QByteArray, QByteArray>& HttpRequest::getCookieMap()
{
    return cookies;
}

QTemporaryFile* HttpRequest::getUploadedFile(const QByteArray fieldName) const
{
    return uploadedFiles.value(fieldName, nullptr);
}

QHostAddress HttpRequest::getPeerAddress() const
{
    return peerAddress;
}

} // namespace corvane
