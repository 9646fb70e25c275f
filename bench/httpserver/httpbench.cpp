// A bench server on the HTTP server classes: TLS with the build's certificate chain,
// the connector's pool settings, and a handler that answers every request with a
// small JSON body. Load it with wrk (see bench/README.md).
//
//   httpbench [port] [plain]     (default port 5081; "plain" serves HTTP without TLS)

#include "httplistener.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSettings>
#include <QTemporaryDir>

namespace {
class TrivialHandler : public corvane::HttpRequestHandler
{
public:
    void service(corvane::HttpRequest&, corvane::HttpResponse& response) override
    {
        response.setHeader("Content-Type", "application/json");
        response.write("{\n    \"status\": true\n}\n", true);
    }
};
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The server logs every connection at debug level; a bench measures the server.
    QLoggingCategory::setFilterRules(
        QStringLiteral("default.debug=false\ncorvane.http.debug=false"));

    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("bench.ini")), QSettings::IniFormat);
    settings.setValue("port", argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 5081);
    const bool plain = argc > 2 && qstrcmp(argv[2], "plain") == 0;
    settings.setValue("sslKeyFile", plain ? "" : ":/ssl/kvr.key");
    settings.setValue("sslCertFile", plain ? "" : ":/ssl/kvr.cert");
    settings.setValue("minThreads", 4);
    settings.setValue("maxThreads", 20);
    settings.setValue("cleanupInterval", 60000);
    settings.setValue("readTimeout", 60000);

    TrivialHandler handler;
    corvane::HttpListener listener(&settings, &handler);
    if (!listener.isListening()) {
        return 1;
    }
    return app.exec();
}
