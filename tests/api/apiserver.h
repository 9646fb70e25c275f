// The controller serving the JSON API over real HTTPS on a free port with the build's
// certificate chain, and requests to it from other threads while this one runs its events.
#ifndef APISERVER_H
#define APISERVER_H

#include "printclient.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace api {
const QByteArray key = "k3Y+/abcv4.0";
const QByteArray bearer = "Authorization: Bearer " + key + "\r\n";
const QByteArray jsonType = "Content-Type: application/json\r\n";

inline QByteArray request(const QByteArray& line, const QByteArray& headers, QByteArray body = {})
{
    const QByteArray length = "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return line + " HTTP/1.1\r\nHost: localhost\r\n" + headers + (body.isEmpty() ? "" : length) +
           "\r\n" + body;
}
inline QJsonObject json(const QByteArray& text)
{
    return QJsonDocument::fromJson(text).object();
}

struct Server
{
    std::unique_ptr<PrintClient> client;
    quint16 port = 0;

    // With the terms accepted and the key, on top of the settings made before.
    bool start()
    {
        testsupport::keepThreadLogsOutOfTestLog();
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        port = probe.serverPort();
        probe.close();
        qputenv("PRINTARRA_PORT", QByteArray::number(port));
        QSettings().setValue("licenseAccepted", true);
        QSettings().setValue("securityKey", QString::fromLatin1(key));
        client.reset(new PrintClient);
        client->startup();
        return port != 0 && client->isStarted();
    }
    void stop()
    {
        client.reset();
        QTest::qWait(100); // the worker, its listener and the lists go by deferred deletion
    }
    testsupport::Response call(const QByteArray& raw) const
    {
        auto answer = testsupport::requestOffThread(
            port, raw, QSslCertificate::fromPath(QStringLiteral(PRINTARRA_TLS_DIR "/rootca.pem")));
        return testsupport::awaitWithEvents(answer);
    }
    QJsonObject get(const QByteArray& target) const
    {
        return json(call(request("GET " + target, bearer)).body);
    }
    QJsonObject post(const QByteArray& path, const QJsonObject& body) const
    {
        const QByteArray text = QJsonDocument(body).toJson(QJsonDocument::Compact);
        return json(call(request("POST " + path, bearer + jsonType, text)).body);
    }
};
} // namespace api

#endif // APISERVER_H
