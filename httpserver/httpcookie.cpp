#include "httpcookie.h"

#include <QtGlobal>

namespace corvane {

HttpCookie::HttpCookie() = default;

HttpCookie::HttpCookie(const QByteArray name, const QByteArray value, const int maxAge,
                       const QByteArray path, const QByteArray comment, const QByteArray domain,
                       const bool secure, const bool httpOnly)
    : name(name)
    , value(value)
    , comment(comment)
    , domain(domain)
    , maxAge(maxAge)
    , path(path)
    , secure(secure)
    , httpOnly(httpOnly)
{
}

HttpCookie::HttpCookie(const QByteArray source)
{
    const QList<QByteArray> parts = splitCSV(source);
    for (const QByteArray& part : parts) {
        QByteArray partName;
        QByteArray partValue;
        const int eq = part.indexOf('=');
        if (eq > 0) {
            partName = part.left(eq).trimmed();
            partValue = part.mid(eq + 1).trimmed();
        } else {
            partName = part.trimmed();
        }

        if (partName == "Comment") {
            comment = partValue;
        } else if (partName == "Domain") {
            domain = partValue;
        } else if (partName == "Max-Age") {
            maxAge = partValue.toInt();
        } else if (partName == "Path") {
            path = partValue;
        } else if (partName == "Secure") {
            secure = true;
        } else if (partName == "HttpOnly") {
            httpOnly = true;
        } else if (partName == "Version") {
            version = partValue.toInt();
        } else if (name.isEmpty()) {
            // The first part that is not an attribute names the cookie, wherever it stands.
            name = partName;
            value = partValue;
        } else {
            qWarning("HttpCookie: Ignoring unknown %s=%s", partName.constData(),
                     partValue.constData());
        }
    }
}

QByteArray HttpCookie::toByteArray() const
{
    QByteArray buffer(name);
    buffer.append('=');
    buffer.append(value);
    if (!comment.isEmpty()) {
        buffer.append("; Comment=");
        buffer.append(comment);
    }
    if (!domain.isEmpty()) {
        buffer.append("; Domain=");
        buffer.append(domain);
    }
    if (maxAge != 0) {
        buffer.append("; Max-Age=");
        buffer.append(QByteArray::number(maxAge));
    }
    if (!path.isEmpty()) {
        buffer.append("; Path=");
        buffer.append(path);
    }
    if (secure) {
        buffer.append("; Secure");
    }
    if (httpOnly) {
        buffer.append("; HttpOnly");
    }
    buffer.append("; Version=");
    buffer.append(QByteArray::number(version));
    return buffer;
}

QList<QByteArray> HttpCookie::splitCSV(const QByteArray source)
{
    QList<QByteArray> list;
    QByteArray buffer;
    bool inQuotes = false;
    for (const char c : source) {
        if (!inQuotes) {
            if (c == '"') {
                inQuotes = true;
            } else if (c == ';') {
                const QByteArray trimmed = buffer.trimmed();
                if (!trimmed.isEmpty()) {
                    list.append(trimmed);
                }
                buffer.clear();
            } else {
                buffer.append(c);
            }
        } else if (c == '"') {
            inQuotes = false;
        } else {
            buffer.append(c);
        }
    }
    const QByteArray trimmed = buffer.trimmed();
    if (!trimmed.isEmpty()) {
        list.append(trimmed);
    }
    return list;
}

} // namespace corvane
