// The JSON API over real HTTPS: a controller with the terms accepted serves on a free
// port with the build's certificate chain; printers are raw queues of the throwaway
// print system whose device is a socket this test listens on.

#include "httplistener.h"
#include "printclient.h"
#include "printer.h"
#include "rawprinter.h"
#include "testenv.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>
#include <future>

using namespace testsupport;

namespace {
const QByteArray key = "k3Y+/abcv4.0";

QList<QSslCertificate> rootCertificate()
{
    return QSslCertificate::fromPath(QStringLiteral(PRINTARRA_TLS_DIR "/rootca.pem"));
}

QJsonObject json(const Response& response)
{
    return QJsonDocument::fromJson(response.body).object();
}

/** A small HTTP server whose answer comes only after a delay (a slow image host). */
class SlowImageServer : public QTcpServer
{
public:
    explicit SlowImageServer(int delay) : delay(delay)
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = nextPendingConnection();
            QTimer::singleShot(this->delay, socket, [socket] {
                QImage image(8, 8, QImage::Format_RGB32);
                image.fill(Qt::black);
                QByteArray png;
                QBuffer buffer(&png);
                image.save(&buffer, "PNG");
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                              QByteArray::number(png.size()) + "\r\nConnection: close\r\n\r\n" +
                              png);
                socket->disconnectFromHost();
            });
        });
    }
    QString address() const
    {
        return QStringLiteral("http://127.0.0.1:%1/logo.png").arg(serverPort());
    }

private:
    int delay;
};
} // namespace

class TestApi : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PrintClient> client;
    std::unique_ptr<RawPrinter> shopPrinter;    // switched on, usable
    std::unique_ptr<RawPrinter> hiddenPrinter;  // switched off by the user
    std::unique_ptr<RawPrinter> stoppedPrinter; // switched on, queue disabled
    QTemporaryDir previewFolder;
    quint16 port = 0;

    /** Sends one raw request on its own connection from another thread and returns the answer. */
    Response call(const QByteArray& raw)
    {
        auto answer = requestOffThread(port, raw, rootCertificate());
        return awaitWithEvents(answer);
    }
    static QByteArray request(const QByteArray& method, const QByteArray& path,
                              const QByteArray& headers = QByteArray(),
                              const QByteArray& body = QByteArray())
    {
        QByteArray raw = method + ' ' + path + " HTTP/1.1\r\nHost: localhost\r\n" + headers;
        if (!body.isEmpty()) {
            raw += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        }
        return raw + "\r\n" + body;
    }
    Response post(const QByteArray& path, const QJsonObject& body)
    {
        return call(request(
            "POST", path, "Authorization: Bearer " + key + "\r\nContent-Type: application/json\r\n",
            QJsonDocument(body).toJson(QJsonDocument::Compact)));
    }
    Response get(const QByteArray& pathAndQuery)
    {
        return call(request("GET", pathAndQuery, "Authorization: Bearer " + key + "\r\n"));
    }

private slots:
    void initTestCase()
    {
        keepThreadLogsOutOfTestLog();
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
        probe.close();
        qputenv("PRINTARRA_PORT", QByteArray::number(port));

        shopPrinter.reset(new RawPrinter);
        hiddenPrinter.reset(new RawPrinter);
        stoppedPrinter.reset(new RawPrinter);
        QVERIFY2(shopPrinter->create(), qPrintable(shopPrinter->error()));
        QVERIFY2(hiddenPrinter->create(), qPrintable(hiddenPrinter->error()));
        QVERIFY2(stoppedPrinter->create(), qPrintable(stoppedPrinter->error()));
        QVERIFY(stoppedPrinter->disable());

        QSettings settings;
        settings.clear();
        settings.setValue("licenseAccepted", true);
        settings.setValue("securityKey", QString::fromLatin1(key));
        settings.setValue("jobTimeout", 2);
        settings.setValue("previewFolder", previewFolder.path());
        settings.setValue("printers/" + Printer::hashFor(shopPrinter->queueName()), true);
        settings.setValue("printers/" + Printer::hashFor(stoppedPrinter->queueName()), true);
        settings.sync();

        client.reset(new PrintClient);
        client->startup();
        QVERIFY(client->isStarted());
        QVERIFY(client->httpListener() && client->httpListener()->isListening());
    }

    void cleanupTestCase()
    {
        client.reset();
        QTest::qWait(100); // the worker, its listener and the printers go by deferred deletion
        shopPrinter.reset();
        hiddenPrinter.reset();
        stoppedPrinter.reset();
    }

    void echoesAllowedOrigins_data()
    {
        QTest::addColumn<QByteArray>("origin");
        QTest::addColumn<QByteArray>("allowed");
        QTest::newRow("web application")
            << QByteArray("https://app.velora.pt") << QByteArray("https://app.velora.pt");
        QTest::newRow("localhost with port")
            << QByteArray("http://localhost:8080") << QByteArray("http://localhost:8080");
        QTest::newRow("localhost under https")
            << QByteArray("https://localhost:8080") << QByteArray("https://www.velora.pt");
        QTest::newRow("look-alike domain")
            << QByteArray("https://evilvelora.pt") << QByteArray("https://www.velora.pt");
        QTest::newRow("no origin") << QByteArray() << QByteArray("https://www.velora.pt");
    }
    void echoesAllowedOrigins()
    {
        QFETCH(QByteArray, origin);
        QFETCH(QByteArray, allowed);
        const QByteArray originHeader =
            origin.isEmpty() ? QByteArray() : "Origin: " + origin + "\r\n";
        for (const QByteArray& auth : {"Authorization: Bearer " + key + "\r\n", QByteArray()}) {
            const Response response = call(request("GET", "/getStatus", originHeader + auth));
            QCOMPARE(response.header("Access-Control-Allow-Origin"), allowed);
            QCOMPARE(response.header("Vary"), QByteArray("Origin"));
        }
    }

    void answersPreflightWithoutKey_data()
    {
        QTest::addColumn<QByteArray>("extraHeader");
        QTest::addColumn<QByteArray>("privateNetwork");
        QTest::newRow("plain") << QByteArray() << QByteArray();
        QTest::newRow("private network")
            << QByteArray("Access-Control-Request-Private-Network: true\r\n") << QByteArray("true");
    }
    void answersPreflightWithoutKey()
    {
        QFETCH(QByteArray, extraHeader);
        QFETCH(QByteArray, privateNetwork);
        const Response response = call(
            request("OPTIONS", "/sendJob",
                    "Origin: http://localhost:3000\r\nAccess-Control-Request-Method: POST\r\n" +
                        extraHeader));
        QCOMPARE(response.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(response.header("Access-Control-Allow-Methods"), QByteArray("POST, GET, OPTIONS"));
        QCOMPARE(response.header("Access-Control-Allow-Headers"),
                 QByteArray("authorization, Authorization, Content-Type"));
        QCOMPARE(response.header("Access-Control-Max-Age"), QByteArray("86400"));
        QCOMPARE(response.header("Access-Control-Allow-Origin"),
                 QByteArray("http://localhost:3000"));
        QCOMPARE(response.header("Access-Control-Allow-Private-Network"), privateNetwork);
        QVERIFY(!response.header("Date").isEmpty());
        QCOMPARE(response.header("Date"), response.header("Date").toUpper());
        QCOMPARE(response.header("Content-Type"), QByteArray("application/json; charset=UTF-8"));
        QCOMPARE(response.body, QByteArray());
    }

    void refusesBrokenJsonBeforeTheKey()
    {
        const Response response = call(request(
            "POST", "/getStatus",
            "Origin: https://app.velora.pt\r\nContent-Type: application/json\r\n", "{not json"));
        QCOMPARE(response.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(json(response), (QJsonObject{{"status", false}, {"error", "Invalid Json"}}));
        QCOMPARE(response.header("Access-Control-Allow-Origin"),
                 QByteArray("https://app.velora.pt"));
    }

    void readsTheKeyFromBearerOrField_data()
    {
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<QByteArray>("fieldKey");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("Bearer and key") << "Bearer " + key << QByteArray() << true;
        QTest::newRow("two blanks") << "Bearer  " + key << QByteArray() << false;
        QTest::newRow("three pieces") << "Bearer " + key + " x" << QByteArray() << false;
        QTest::newRow("wrong key") << QByteArray("Bearer nope") << QByteArray() << false;
        QTest::newRow("header wins over field") << QByteArray("Bearer nope") << key << false;
        QTest::newRow("no Bearer word: field used") << "bearer " + key << key << true;
        QTest::newRow("field only") << QByteArray() << key << true;
        QTest::newRow("nothing") << QByteArray() << QByteArray() << false;
        QTest::newRow("field key, NUL, more") << QByteArray() << key + '\0' + "x" << false;
    }
    void readsTheKeyFromBearerOrField()
    {
        QFETCH(QByteArray, authorization);
        QFETCH(QByteArray, fieldKey);
        QFETCH(bool, accepted);
        const QByteArray header =
            authorization.isEmpty() ? QByteArray() : "Authorization: " + authorization + "\r\n";
        // The same key as a query parameter (URL-encoded) and as a JSON member.
        const QByteArray query =
            fieldKey.isEmpty() ? QByteArray() : "?securityKey=" + fieldKey.toPercentEncoding();
        const Response byParameter = call(request("GET", "/getStatus" + query, header));
        const QByteArray body =
            fieldKey.isEmpty()
                ? QByteArray("{}")
                : QJsonDocument(QJsonObject{{"securityKey", QString::fromUtf8(fieldKey.constData(),
                                                                              fieldKey.size())}})
                      .toJson();
        const Response byJson = call(
            request("POST", "/getStatus", header + "Content-Type: application/json\r\n", body));
        for (const Response& response : {byParameter, byJson}) {
            if (accepted) {
                QCOMPARE(json(response).value("data").toString(), QString("Device online"));
            } else {
                QCOMPARE(response.statusLine, QByteArray("HTTP/1.1 401 Unauthorized"));
                QCOMPARE(json(response),
                         (QJsonObject{{"status", false}, {"error", "Invalid security key"}}));
            }
        }
    }

    void choosesParameterOrJsonMode()
    {
        const QString shop = shopPrinter->queueName();
        // Another letter case of the content type means parameter mode: the body is ignored.
        Response response =
            call(request("POST", "/getPrinterStatus?printer=" + shop.toUtf8(),
                         "Authorization: Bearer " + key + "\r\nContent-Type: Application/JSON\r\n",
                         "{\"printer\": \"nothing\"}"));
        QCOMPARE(json(response).value("status"), QJsonValue(true));
        // JSON mode with a charset parameter: the body counts, the query does not.
        response = call(request("POST", "/getPrinterStatus?printer=" + shop.toUtf8(),
                                "Authorization: Bearer " + key +
                                    "\r\nContent-Type: application/json; charset=utf-8\r\n",
                                "{\"printer\": \"nothing\"}"));
        QCOMPARE(json(response).value("error"), QJsonValue("Printer not found"));
        // A JSON bool is not a number: no notifications; 1 is.
        QVERIFY(
            !json(post("/getStatus", {{"with_notifications", true}})).contains("notifications"));
        QVERIFY(
            json(post("/getStatus", {{"with_notifications", 1}})).value("notifications").isArray());
        QVERIFY(!json(get("/getStatus?with_notifications=0")).contains("notifications"));
        QVERIFY(json(get("/getStatus?with_notifications=2")).value("notifications").isArray());
    }

    void routesExactPathsWithOneTrailingSlash_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("status");
        QTest::newRow("exact") << QByteArray("/getStatus") << 200;
        QTest::newRow("one slash") << QByteArray("/getStatus/") << 200;
        QTest::newRow("two slashes") << QByteArray("/getStatus//") << 404;
        QTest::newRow("capital") << QByteArray("/GetStatus") << 404;
        QTest::newRow("unknown") << QByteArray("/print") << 404;
        QTest::newRow("terminal route") << QByteArray("/getTpas/") << 200;
        QTest::newRow("NUL after the path") << QByteArray("/getStatus%00") << 404;
    }
    void routesExactPathsWithOneTrailingSlash()
    {
        QFETCH(QByteArray, path);
        QFETCH(int, status);
        const Response response = get(path);
        if (status == 200) {
            QCOMPARE(response.statusLine, QByteArray("HTTP/1.1 200 OK"));
            QCOMPARE(json(response).value("status"), QJsonValue(true));
        } else {
            QCOMPARE(response.statusLine, QByteArray("HTTP/1.1 404 Not found"));
            QCOMPARE(json(response), (QJsonObject{{"status", false}, {"error", "Not found"}}));
        }
    }

    void servesThePageOnRootWithoutKey()
    {
        const Response response = call(request("GET", "/", "Authorization: Bearer wrong\r\n"));
        QCOMPARE(response.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(response.header("Content-Type"), QByteArray("text/html; charset=UTF-8"));
        QVERIFY(response.body.contains("<h1>Printarra</h1>"));
        QVERIFY(response.body.contains("a documentação <em>online</em>"));
    }

    void findsOnlySwitchedOnPrinters()
    {
        QJsonArray names = json(get("/getPrinters")).value("data").toArray();
        QStringList listed;
        for (const QJsonValue& name : names) {
            listed << name.toString();
        }
        listed.sort();
        QStringList expected{shopPrinter->queueName(), stoppedPrinter->queueName()};
        expected.sort();
        QCOMPARE(listed, expected);

        const auto status = [this](const QString& name) {
            return json(get("/getPrinterStatus?printer=" + name.toUtf8()));
        };
        QCOMPARE(status(shopPrinter->queueName()), (QJsonObject{{"status", true},
                                                                {"data", true},
                                                                {"version", "424"},
                                                                {"device", "desktop"},
                                                                {"state", "idle"},
                                                                {"reasons", QJsonArray()},
                                                                {"accepting", true}}));
        const QJsonObject stopped = status(stoppedPrinter->queueName());
        QCOMPARE(stopped.value("data"), QJsonValue(false));
        QCOMPARE(stopped.value("state"), QJsonValue("stopped"));
        QCOMPARE(stopped.value("reasons"), QJsonValue(QJsonArray{"paused"}));

        // A driver's report reaches the answer and the printer row without a refresh asked for.
        QVERIFY(shopPrinter->setReasons({"media-empty-error", "media-empty-warning"}));
        QTRY_COMPARE(status(shopPrinter->queueName()).value("reasons"),
                     QJsonValue(QJsonArray{"media-empty"}));
        PrinterPtr row;
        for (const PrinterPtr& printer : client->printerList())
            if (printer->name() == shopPrinter->queueName())
                row = printer;
        QVERIFY(row);
        QCOMPARE(row->reasons(), QStringList{"media-empty"});
        QVERIFY(shopPrinter->setReasons({"none"}));
        QTRY_COMPARE(row->reasons(), QStringList());
        for (const QString& missing : {hiddenPrinter->queueName(), QString("nothing"), QString()}) {
            QCOMPARE(status(missing), (QJsonObject{{"status", false},
                                                   {"error", "Printer not found"},
                                                   {"version", "424"},
                                                   {"device", "desktop"}}));
        }
    }

    void runsJobsInBothFormats()
    {
        const QString shop = shopPrinter->queueName();
        const QJsonArray job{QJsonObject{{"op", "text"}, {"data", "Obrigado pela preferência"}},
                             QJsonObject{{"op", "cut"}, {"data", "full"}}};
        QCOMPARE(json(post("/sendJob", {{"printer", shop}, {"job", job}})),
                 (QJsonObject{{"status", true}, {"data", "Job completed successfully"}}));
        const QByteArray jobText = QJsonDocument(job).toJson(QJsonDocument::Compact);
        QCOMPARE(
            json(get("/sendJob?printer=" + shop.toUtf8() + "&job=" + jobText.toPercentEncoding()))
                .value("data"),
            QJsonValue("Job completed successfully"));
        QVERIFY(shopPrinter->waitForJobs(2));
        for (const QByteArray& received : shopPrinter->jobs()) {
            QVERIFY(received.contains("Obrigado pela prefer"));
            QVERIFY(received.endsWith(QByteArray("\x1d\x56\x42\x0a", 4)));
        }

        const auto failureOf = [](const QJsonObject& answer) {
            return answer.value("status").toBool() ? QString() : answer.value("error").toString();
        };
        QCOMPARE(failureOf(json(
                     post("/sendJob", {{"printer", hiddenPrinter->queueName()}, {"job", job}}))),
                 QString("Printer not found"));
        QCOMPARE(failureOf(json(
                     post("/sendJob", {{"printer", stoppedPrinter->queueName()}, {"job", job}}))),
                 QString("Printer offline or in error state"));
        // JSON text inside a string is no array.
        QCOMPARE(failureOf(json(post("/sendJob", {{"printer", shop}, {"job", QString(jobText)}}))),
                 QString("Job is empty"));
        QCOMPARE(failureOf(json(get("/sendJob?printer=nothing&job=%7B%22a%22%3A1%7D"))),
                 QString("Job with incorrect format"));
    }

    void previewsJobs_data()
    {
        QTest::addColumn<QJsonObject>("body");
        QTest::addColumn<int>("width"); // of the picture, or 0 for the failure
        QTest::addColumn<QJsonObject>("failure");
        const QJsonArray job{QJsonObject{{"op", "text"}, {"data", "Olá\n"}},
                             QJsonObject{{"op", "qrcode"}, {"data", QJsonObject{{"data", "x"}}}}};
        const auto refused = [](const char* error) {
            return QJsonObject{{"status", false}, {"error", error}};
        };
        QTest::newRow("80 mm without a printer")
            << QJsonObject{{"job", job}} << 576 << QJsonObject();
        QTest::newRow("58 mm, the printer is not needed")
            << QJsonObject{{"job", job}, {"width", 384}, {"printer", "nothing"}} << 384
            << QJsonObject();
        QTest::newRow("other width") << QJsonObject{{"job", job}, {"width", 512}} << 0
                                     << refused("Width must be 576 or 384");
        QTest::newRow("width as text") << QJsonObject{{"job", job}, {"width", "384"}} << 0
                                       << refused("Width must be 576 or 384");
        QTest::newRow("empty job")
            << QJsonObject{{"job", QJsonArray()}} << 0 << refused("Job is empty");
        QJsonObject invalid = refused("Error previewing job");
        invalid.insert("reason", "barcode: EAN8 data must be 7 or 8 digits");
        QTest::newRow("invalid barcode")
            << QJsonObject{{"job", QJsonArray{QJsonObject{
                                       {"op", "barcode"},
                                       {"data", QJsonObject{{"type", "EAN8"}, {"data", "123"}}}}}}}
            << 0 << invalid;
    }
    void previewsJobs()
    {
        QFETCH(QJsonObject, body);
        QFETCH(int, width);
        QFETCH(QJsonObject, failure);
        const QJsonObject answer = json(post("/previewJob", body));
        if (width == 0) {
            QCOMPARE(answer, failure);
            return;
        }
        QCOMPARE(answer.value("status"), QJsonValue(true));
        const QString uri = answer.value("data").toString();
        QVERIFY(uri.startsWith("data:image/png;base64,"));
        const QImage picture =
            QImage::fromData(QByteArray::fromBase64(uri.mid(22).toLatin1()), "PNG");
        QCOMPARE(picture.width(), width);
        QVERIFY(picture.height() > 100); // a line of text and a QR code
        // The same job as parameters.
        const QByteArray query = "/previewJob?width=" + QByteArray::number(width) + "&job=" +
                                 QJsonDocument(body.value("job").toArray())
                                     .toJson(QJsonDocument::Compact)
                                     .toPercentEncoding();
        QCOMPARE(json(get(query)).value("data").toString(), uri);
    }

    // Switched on, the preview printer is listed and saves each job as a picture in its folder.
    void previewPrinterSavesJobsAsPictures()
    {
        const QString name = "Printarra Preview";
        const QJsonArray job{QJsonObject{{"op", "text"}, {"data", "Mesa 4\n"}}};
        QVERIFY(!json(get("/getPrinters")).value("data").toArray().contains(name));
        QCOMPARE(json(post("/sendJob", {{"printer", name}, {"job", job}})).value("error"),
                 QJsonValue("Printer not found"));

        client->previewPrinter()->setAvailable(true);
        QVERIFY(json(get("/getPrinters")).value("data").toArray().contains(name));
        QCOMPARE(json(post("/getPrinterStatus", {{"printer", name}})).value("data"),
                 QJsonValue(true));
        QCOMPARE(json(post("/sendJob", {{"printer", name}, {"job", job}})),
                 (QJsonObject{{"status", true}, {"data", "Job completed successfully"}}));
        const QJsonArray invalid{
            QJsonObject{{"op", "qrcode"}, {"data", QJsonObject{{"data", QString()}}}}};
        QCOMPARE(json(post("/sendJob", {{"printer", name}, {"job", invalid}})),
                 (QJsonObject{{"status", false},
                              {"error", "Error printing job"},
                              {"reason", "qrcode: data is empty"}}));
        const QStringList saved = QDir(previewFolder.path()).entryList({"*.png"}, QDir::Files);
        QCOMPARE(saved.size(), 1);
        QCOMPARE(QImage(previewFolder.filePath(saved.first())).width(), 576);

        client->previewPrinter()->setAvailable(false);
        QVERIFY(!json(get("/getPrinters")).value("data").toArray().contains(name));
    }

    // A job with a command the printer cannot print sends nothing and says why.
    void refusesInvalidJobsWithTheReason()
    {
        const QJsonArray job{QJsonObject{{"op", "text"}, {"data", "Total\n"}},
                             QJsonObject{{"op", "barcode"},
                                         {"data", QJsonObject{{"type", "ITF"}, {"data", "123"}}}}};
        QCOMPARE(json(post("/sendJob", {{"printer", shopPrinter->queueName()}, {"job", job}})),
                 (QJsonObject{{"status", false},
                              {"error", "Error printing job"},
                              {"reason", "barcode: ITF data must be an even number of digits, 254 "
                                         "at most"}}));
    }

    void keepsNotifications()
    {
        const QJsonObject sent{{"request_id", 7},
                               {"terminal_id", 3},
                               {"status_id", 2},
                               {"title", "Pedido pronto"},
                               {"subtitle", "Mesa 4"},
                               {"lastModifiedBy", "Ana"},
                               {"date", "2020-01-31T13:45:00"}};
        QCOMPARE(json(post("/setNotificationOrder", sent)),
                 (QJsonObject{{"status", true}, {"data", "Notification received"}}));
        // The same through parameters; numbers that are not numbers become 0.
        QCOMPARE(json(get("/setNotificationOrder?title=Conta&subtitle=Mesa%205&request_id=x"))
                     .value("data"),
                 QJsonValue("Notification received"));
        QCOMPARE(json(post("/setNotificationOrder", {{"subtitle", "no title"}})),
                 (QJsonObject{{"status", false}, {"data", "Error receiving notification"}}));

        const QJsonArray listed =
            json(get("/getStatus?with_notifications=1")).value("notifications").toArray();
        QVERIFY(listed.size() >= 2);
        QCOMPARE(listed.at(listed.size() - 2).toObject(), sent);
        const QJsonObject second = listed.last().toObject();
        QCOMPARE(second.value("title"), QJsonValue("Conta"));
        QCOMPARE(second.value("request_id"), QJsonValue(0));
        QCOMPARE(second.keys().size(), 7);
    }

    void keepsAPrinterAliveForTheRequestThatUsesIt()
    {
        RawPrinter doomed;
        QVERIFY2(doomed.create(), qPrintable(doomed.error()));
        {
            QSettings settings;
            settings.setValue("printers/" + Printer::hashFor(doomed.queueName()), true);
        }
        client->updatePrinters();
        QVERIFY(json(get("/getPrinters")).value("data").toArray().contains(doomed.queueName()));

        // The job holds the printer while it waits for its image; meanwhile the queue goes
        // and the refresh drops the printer from the list.
        SlowImageServer images(1500);
        const QJsonArray job{QJsonObject{{"op", "image"}, {"data", images.address()}}};
        const QByteArray raw =
            request("POST", "/sendJob",
                    "Authorization: Bearer " + key + "\r\nContent-Type: application/json\r\n",
                    QJsonDocument(QJsonObject{{"printer", doomed.queueName()}, {"job", job}})
                        .toJson(QJsonDocument::Compact));
        auto answer = requestOffThread(port, raw, rootCertificate());
        QTest::qWait(500);
        QVERIFY(RawPrinter::runTool("lpadmin", {"-x", doomed.queueName()}));
        client->updatePrinters();
        QTest::qWait(100); // deferred deletions run here
        QVERIFY(!json(get("/getPrinters")).value("data").toArray().contains(doomed.queueName()));
        QVERIFY(awaitWithEvents(answer).complete);
    }

    void servesWhileListsChange()
    {
        // Readers of the printer and notification lists run while the main thread adds and
        // removes queues, refreshes, and sweeps notifications that are already too old.
        std::atomic<bool> stop{false};
        const quint16 serverPort = port;
        const QByteArray old =
            QDateTime::currentDateTime().addSecs(-1800).toString("yyyy-MM-ddTHH:mm:ss").toUtf8();
        const auto hammer = [&stop, serverPort](QByteArray raw) {
            HttpClient http(true, rootCertificate());
            if (!http.connectTo(serverPort, QStringLiteral("localhost"))) {
                return -1;
            }
            int answered = 0;
            while (!stop) {
                http.send(raw);
                if (!http.readResponse(20000).complete) {
                    return -1;
                }
                ++answered;
            }
            return answered;
        };
        const QByteArray auth = "Authorization: Bearer " + key + "\r\n";
        auto printers =
            std::async(std::launch::async, hammer, request("GET", "/getPrinters", auth));
        auto status = std::async(std::launch::async, hammer,
                                 request("GET", "/getStatus?with_notifications=1", auth));
        auto pushes = std::async(
            std::launch::async, hammer,
            request("GET", "/setNotificationOrder?title=Velha&subtitle=x&date=" + old, auth));

        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 4000) {
            {
                RawPrinter extra;
                QVERIFY(extra.create());
                client->updatePrinters();
                QMetaObject::invokeMethod(client.get(), "checkNotificationDelete");
                QTest::qWait(20);
            }
            client->updatePrinters();
            QTest::qWait(20);
        }
        stop = true;
        for (auto* future : {&printers, &status, &pushes}) {
            QVERIFY(awaitWithEvents(*future) > 0);
        }
    }

    void answersConcurrentRequestsOneAfterTheOther()
    {
        // The first request waits a second for its image; the second must not overtake it.
        SlowImageServer images(1000);
        const QJsonArray job{QJsonObject{{"op", "image"}, {"data", images.address()}}};
        const QByteArray printJob =
            request("POST", "/sendJob",
                    "Authorization: Bearer " + key + "\r\nContent-Type: application/json\r\n",
                    QJsonDocument(QJsonObject{{"printer", shopPrinter->queueName()}, {"job", job}})
                        .toJson(QJsonDocument::Compact));
        const QByteArray status =
            request("GET", "/getStatus", "Authorization: Bearer " + key + "\r\n");

        QElapsedTimer clock;
        clock.start();
        const quint16 serverPort = port;
        const auto timed = [serverPort, &clock](QByteArray raw, int startDelay) {
            QThread::msleep(startDelay);
            HttpClient http(true, rootCertificate());
            http.connectTo(serverPort, QStringLiteral("localhost"));
            http.send(raw);
            const Response response = http.readResponse(20000);
            return qMakePair(response.complete, clock.elapsed());
        };
        auto first = std::async(std::launch::async, timed, printJob, 0);
        auto second = std::async(std::launch::async, timed, status, 300);
        while (second.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready ||
               first.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        const auto printed = first.get();
        const auto answered = second.get();
        QVERIFY(printed.first && answered.first);
        // Sent 300 ms in, while the job waited for its image: answered only once the job was done.
        QVERIFY2(answered.second >= 1000,
                 "the status request was answered while the print job was still running");
        QVERIFY(printed.second >= 1000);
    }

    // A hundred requests in one TLS write are answered in order, and then so is everyone else:
    // the bytes behind a request must not run the API inside its own answer.
    void answersPipelinedRequests()
    {
        const QByteArray status =
            request("GET", "/getStatus", "Authorization: Bearer " + key + "\r\n");
        auto answers = std::async(std::launch::async, [this, status] {
            HttpClient http(true, rootCertificate());
            QList<QJsonValue> data;
            if (http.connectTo(port, QStringLiteral("localhost"))) {
                http.send(status.repeated(100));
                for (int i = 0; i < 100; ++i)
                    data.append(json(http.readResponse(20000)).value("data"));
            }
            return data;
        });
        const QList<QJsonValue> data = awaitWithEvents(answers);
        QCOMPARE(data.size(), 100);
        QCOMPARE(data.count(QJsonValue("Device online")), 100);
        QCOMPARE(json(get("/getStatus")).value("data"), QJsonValue("Device online"));
    }

    // A printer that is off fails its job after the bound, with the job cancelled, and
    // holds up nobody else meanwhile.
    void aPrinterThatIsOffHoldsNobody()
    {
        RawPrinter off;
        QVERIFY2(off.create(), qPrintable(off.error()));
        off.refuseConnections();
        QSettings().setValue("printers/" + Printer::hashFor(off.queueName()), true);
        client->updatePrinters();
        QTRY_VERIFY(json(get("/getPrinters")).value("data").toArray().contains(off.queueName()));

        const QJsonArray job{QJsonObject{{"op", "text"}, {"data", "Total 3,20\n"}}};
        QElapsedTimer clock;
        clock.start();
        auto sent = std::async(std::launch::async, [&] {
            return json(post("/sendJob", {{"printer", off.queueName()}, {"job", job}}));
        });
        QThread::msleep(300);
        QCOMPARE(json(get("/getStatus")).value("data"), QJsonValue("Device online"));
        QVERIFY(clock.elapsed() < 1500);
        QCOMPARE(sent.get(),
                 (QJsonObject{
                     {"status", false}, {"error", "Error printing job"}, {"reason", "timeout"}}));
        QVERIFY(clock.elapsed() >= 2000);
        QString pending = "?";
        QTRY_VERIFY(RawPrinter::runTool("lpstat", {"-o", off.queueName()}, &pending) &&
                    pending.isEmpty());
    }
};

APP_TEST_MAIN(TestApi)

#include "tst_api.moc"
