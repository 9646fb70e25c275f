#ifndef CORVANE_HTTPCOOKIE_H
#define CORVANE_HTTPCOOKIE_H

#include <QByteArray>
#include <QList>

namespace corvane {

/**
 * A cookie as sent in a "Set-Cookie" header. It renders itself with toByteArray(),
 * can be parsed back from such a text, and provides the splitter that the request
 * parser uses for "cookie" headers.
 */
class HttpCookie
{
public:
    HttpCookie();
    HttpCookie(const QByteArray name, const QByteArray value, const int maxAge,
               const QByteArray path = QByteArray(), const QByteArray comment = QByteArray(),
               const QByteArray domain = QByteArray(), const bool secure = false,
               const bool httpOnly = false);
    explicit HttpCookie(const QByteArray source);

    QByteArray toByteArray() const;

    /** Splits at ";" outside double quotes; quotes are dropped, parts trimmed, empty ones skipped.
     */
    static QList<QByteArray> splitCSV(const QByteArray source);

    void setName(const QByteArray name) { this->name = name; }
    void setValue(const QByteArray value) { this->value = value; }
    void setComment(const QByteArray comment) { this->comment = comment; }
    void setDomain(const QByteArray domain) { this->domain = domain; }
    void setMaxAge(const int maxAge) { this->maxAge = maxAge; }
    void setPath(const QByteArray path) { this->path = path; }
    void setSecure(const bool secure) { this->secure = secure; }
    void setHttpOnly(const bool httpOnly) { this->httpOnly = httpOnly; }

    QByteArray getName() const { return name; }
    QByteArray getValue() const { return value; }
    QByteArray getComment() const { return comment; }
    QByteArray getDomain() const { return domain; }
    int getMaxAge() const { return maxAge; }
    QByteArray getPath() const { return path; }
    bool getSecure() const { return secure; }
    bool getHttpOnly() const { return httpOnly; }
    int getVersion() const { return version; }

private:
    QByteArray name;
    QByteArray value;
    QByteArray comment;
    QByteArray domain;
    int maxAge = 0;
    QByteArray path;
    bool secure = false;
    bool httpOnly = false;
    int version = 1;
};

} // namespace corvane

#endif
