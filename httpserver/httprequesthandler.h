#ifndef CORVANE_HTTPREQUESTHANDLER_H
#define CORVANE_HTTPREQUESTHANDLER_H

#include "httprequest.h"
#include "httpresponse.h"

#include <QObject>

namespace corvane {

/**
 * Answers requests. One object serves every connection: service() runs on the
 * connection threads, concurrently, each call with its own request and response.
 */
class HttpRequestHandler : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpRequestHandler)

public:
    explicit HttpRequestHandler(QObject* parent = nullptr);
    ~HttpRequestHandler() override;

    /**
     * Called once per complete request. Whatever the implementation leaves unfinished
     * is finished by the connection handler with an empty last part.
     */
    virtual void service(HttpRequest& request, HttpResponse& response);
};

} // namespace corvane

#endif
