// The JSON API over HTTPS: raw queues of the throwaway print system, and Ingenico terminals on
// pseudo-terminals that borrow an enumerated port's name (skipped where the machine has none).

#include "printclient.h"
#include "printer.h"
#include "ptyterminal.h"
#include "rawprinter.h"
#include "testenv.h"
#include "testsupport.h"
#include "tpa.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <future>

namespace {
// clang-format off
const QByteArray key = "k3Y+/abcv4.0", bearer = "Authorization: Bearer " + key + "\r\n", jsonType = "Content-Type: application/json\r\n";
const QByteArray fresh = R"({"request_id":7,"terminal_id":3,"status_id":2,"title":"Pronto","subtitle":"Mesa 4","lastModifiedBy":"Ana","date":"2099-01-31T13:45:00"})";
const QByteArray old = R"({"request_id":0,"terminal_id":1,"status_id":4,"title":"Conta","subtitle":"Mesa 5","lastModifiedBy":"Rui","date":"2020-01-31T13:45:00"})";
const QByteArray printed = R"({"status":true,"data":"Job completed successfully"})";
const QString busy = QStringLiteral("KVR1001|M10|TPA already busy");
const QByteArray pollFrame = ingenicoFrame("M00005LB020000");
const QList<QByteArray> commandPaths{"/sendTpaOpen", "/sendTpaClose", "/sendTpaPurchase", "/sendTpaRefund", "/sendTpaOpenMenu", "/sendTpaReprintLastReceipt"};
// clang-format on

QByteArray request(const QByteArray& line, const QByteArray& headers, QByteArray body = {})
{
    const QByteArray length = "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return line + " HTTP/1.1\r\nHost: localhost\r\n" + headers + (body.isEmpty() ? "" : length) +
           "\r\n" + body;
}
QByteArray fail(const QByteArray& error, const QByteArray& more = "")
{
    return "{\"status\":false,\"error\":\"" + error + "\"" + more + "}";
}
const QByteArray badKey = fail("Invalid security key"), notFound = fail("Not found");
} // namespace

class TestApi : public QObject
{
    Q_OBJECT

    RawPrinter shop, hidden, stopped; // switched on; switched off; switched on, queue disabled
    QTemporaryDir previewFolder;
    std::unique_ptr<PrintClient> client;
    quint16 port = 0;
    QSerialPortInfo borrowed;

    static QJsonObject json(const QByteArray& text)
    {
        return QJsonDocument::fromJson(text).object();
    }
    static QJsonObject ok(const QJsonValue& data) { return {{"status", true}, {"data", data}}; }
    static QJsonObject stamped(QJsonObject object) // as getTpaStatus answers, in every case
    {
        object.insert("version", "424");
        object.insert("device", "desktop");
        return object;
    }
    // Requests from other threads while this one runs the controller's events.
    testsupport::Response call(const QByteArray& raw) const
    {
        auto answer = testsupport::requestOffThread(
            port, raw, QSslCertificate::fromPath(QStringLiteral(PRINTARRA_TLS_DIR "/rootca.pem")));
        return testsupport::awaitWithEvents(answer);
    }
    QJsonObject get(const QByteArray& path) const
    {
        return json(call(request("GET " + path, bearer)).body);
    }
    QJsonObject post(const QByteArray& path, const QJsonObject& body) const
    {
        const QByteArray text = QJsonDocument(body).toJson(QJsonDocument::Compact);
        return json(call(request("POST " + path, bearer + jsonType, text)).body);
    }
    QJsonObject tpaPost(const QByteArray& path, const QString& id, QJsonObject fields = {})
    {
        if (!fields.contains("tpa_port"))
            fields.insert("tpa_port", borrowed.portName());
        fields.insert("terminal_tpa_id", id);
        return post(path, fields);
    }
    Tpa* attach(const PtyTerminal& pty, const QSerialPortInfo& info, int type = 1)
    {
        auto* tpa = new Tpa(info, type, nullptr, pty.slavePath());
        client->addTpa(tpa);
        return tpa;
    }
    // The terminal answers the worker's first poll, which becomes its status.
    void answerPoll(PtyTerminal& pty, Tpa* tpa)
    {
        QSignalSpy reported(tpa, &Tpa::lastStatusChanged);
        QCOMPARE(pty.read(pollFrame.size()), pollFrame);
        pty.write(ingenicoFrame("M000READY"));
        QCOMPARE(pty.read(1), QByteArray("\x06"));
        QTRY_COMPARE(reported.count(), 1);
    }
    void refreshWithoutPorts() // an enumeration without the terminals' port drops them all
    {
        QMetaObject::invokeMethod(client.get(), "onGetTpas",
                                  Q_ARG(QList<QSerialPortInfo>, QList<QSerialPortInfo>()));
    }

private slots:
    void initTestCase()
    {
        testsupport::keepThreadLogsOutOfTestLog();
        for (RawPrinter* printer : {&shop, &hidden, &stopped})
            QVERIFY2(printer->create(), qPrintable(printer->error()));
        QVERIFY(stopped.disable());
        QSettings settings;
        for (RawPrinter* printer : {&shop, &stopped})
            settings.setValue("printers/" + Printer::hashFor(printer->queueName()), true);
        settings.setValue("jobTimeout", 2);
        settings.setValue("previewPrinter", true);
        settings.setValue("previewFolder", previewFolder.path());
        settings.setValue("licenseAccepted", true);
        settings.setValue("securityKey", QString::fromLatin1(key));
        port = testenv::freePort();
        qputenv("PRINTARRA_PORT", QByteArray::number(port));
        client.reset(new PrintClient);
        client->startup();
        QVERIFY(port != 0 && client->isStarted());
        borrowed = QSerialPortInfo::availablePorts().value(0);
        QVERIFY(client->tpaList().isEmpty()); // the borrowed port has no terminal vendor
    }
    void init()
    {
        if (QByteArray(QTest::currentTestFunction()).startsWith("terminal") && borrowed.isNull())
            QSKIP("this machine enumerates no serial port whose description terminals can borrow");
    }
    void cleanup()
    {
        refreshWithoutPorts();
        QTest::qWait(20); // the dropped terminals go by deferred deletion
        // All test terminals share one availability setting (same USB identifiers).
        QSettings().remove("tpa/" +
                           Tpa::hashFor(borrowed.vendorIdentifier(), borrowed.productIdentifier()));
    }
    void cleanupTestCase()
    {
        client.reset();
        QTest::qWait(100); // the worker, its listener and the lists go by deferred deletion
    }

    // "METHOD target[ body]" (SHOP, STOPPED, HIDDEN: the queues), with the key and a JSON body
    // unless it has headers of its own; the answer is JSON or a part of it.
    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<QByteArray>("origin");
        // clang-format off
        const auto row = [](const char* name, const QByteArray& request, const QByteArray& answer, const QByteArray& headers = "default", const QByteArray& origin = "https://www.velora.pt") {
            QTest::newRow(name) << request << answer << headers << origin;
        };
        const QByteArray online = R"({"status":true,"data":"Device online"})";
        const QByteArray listing = R"({"status":true,"data":"Device online","notifications":[]})";
        const QByteArray stamp = R"(,"version":"424","device":"desktop")";
        const QByteArray noPrinter = fail("Printer not found", stamp);
        const QByteArray idle = R"({"status":true,"data":true,"state":"idle","reasons":[],"accepting":true)" + stamp + "}";
        const QByteArray keyField = "securityKey=" + key.toPercentEncoding();
        const QByteArray job = R"(,"job":[{"op":"text","data":"Mesa 4\n"}]})";
        const QByteArray preview = R"(POST /sendJob {"printer":"Printarra Preview","job":)";
        const QByteArray received = R"({"status":true,"data":"Notification received"})";
        const QByteArray wrongKey = "Authorization: Bearer nope\r\n";
        const QByteArray form = bearer + "Content-Type: application/x-www-form-urlencoded\r\n";
        const QByteArray picture = "{\"data\":\"data:image/png;base64,iVBOR";
        const QByteArray twoPrinters = R"(POST /getPrinterStatus?printer=SHOP {"printer":"x"})";
        row("key in header", "GET /getStatus", online);
        row("key in query", "GET /getStatus?" + keyField, online, "");
        row("key in form", "POST /getStatus " + keyField, online, "Content-Type: application/x-www-form-urlencoded\r\n");
        row("key in JSON", "POST /getStatus {\"securityKey\":\"" + key + "\"}", online, jsonType);
        row("no key", "GET /getStatus", badKey, "");
        row("two blanks", "GET /getStatus", badKey, "Authorization: Bearer  " + key + "\r\n");
        row("three pieces", "GET /getStatus", badKey, bearer.trimmed() + " x\r\n");
        row("header before query", "GET /getStatus?" + keyField, badKey, wrongKey);
        row("no Bearer word", "GET /getStatus?" + keyField, online, "Authorization: bearer x\r\n");
        row("key, NUL, more", "GET /getStatus?securityKey=k3Y%2B%2Fabcv4.0%00x", badKey, "");
        row("broken JSON before the key", "POST /getStatus {not", fail("Invalid Json"), "Origin: https://app.velora.pt\r\n" + jsonType, "https://app.velora.pt");
        row("localhost", "GET /getStatus", badKey, "Origin: http://localhost:80\r\n", "http://localhost:80");
        row("localhost under https", "GET /getStatus", online, "Origin: https://localhost:80\r\n" + bearer);
        row("look-alike", "GET /getStatus", online, "Origin: https://evilvelora.pt\r\n" + bearer);
        row("localhost look-alike", "GET /getStatus", online, "Origin: http://localhost.example.com\r\n" + bearer);
        row("preflight", "OPTIONS /sendJob", "", "Origin: http://localhost:3000\r\n", "http://localhost:3000");
        row("private network", "OPTIONS /x", "", "Access-Control-Request-Private-Network: true\r\n");
        row("page", "GET /", "<h1>Printarra</h1>", wrongKey);
        row("one trailing slash", "GET /getStatus/", online);
        row("two trailing slashes", "GET /getStatus//", notFound);
        row("other letter case", "GET /GetStatus", notFound);
        row("NUL after the path", "GET /getStatus%00", notFound);
        row("other type: query counts", twoPrinters, idle, bearer + "Content-Type: Application/JSON\r\n");
        row("JSON with charset: body counts", twoPrinters, noPrinter, bearer + "Content-Type: application/json; charset=utf-8\r\n");
        row("JSON true is no number", R"(POST /getStatus {"with_notifications":true})", online);
        row("JSON number", R"(POST /getStatus {"with_notifications":1})", listing);
        row("parameter no number", "GET /getStatus?with_notifications=a", online);
        row("parameter 2", "GET /getStatus?with_notifications=2", listing);
        row("printers", "GET /getPrinters", R"({"status":true,"data":["SHOP","STOPPED","Printarra Preview"]})");
        row("stopped printer", "GET /getPrinterStatus?printer=STOPPED", R"({"status":true,"data":false,"state":"stopped","reasons":["paused"],"accepting":true)" + stamp + "}");
        row("switched-off printer", "GET /getPrinterStatus?printer=HIDDEN", noPrinter);
        row("preview printer", R"(POST /getPrinterStatus {"printer":"Printarra Preview"})", idle);
        row("job", R"(POST /sendJob {"printer":"SHOP")" + job, printed);
        row("job, form fields", "POST /sendJob printer=SHOP&job=[{\"op\":\"cut\",\"data\":\"full\"}]", printed, form);
        row("job, switched-off printer", R"(POST /sendJob {"printer":"HIDDEN")" + job, fail("Printer not found"));
        row("job, stopped printer", R"(POST /sendJob {"printer":"STOPPED")" + job, fail("Printer offline or in error state"));
        row("job as JSON text", R"(POST /sendJob {"printer":"SHOP","job":"[]"})", fail("Job is empty"));
        row("job no array", "GET /sendJob?printer=SHOP&job={}", fail("Job with incorrect format"));
        row("job the printer cannot print", R"(POST /sendJob {"printer":"SHOP","job":[{"op":"barcode","data":{"type":"ITF","data":"1"}}]})", fail("Error printing job", R"(,"reason":"barcode: ITF data must be an even number of digits, 254 at most")"));
        row("preview printer job", preview + R"([{"op":"text","data":"x"}]})", printed);
        row("preview printer, empty job", preview + "[]}", fail("Job is empty"));
        row("preview printer, invalid job", preview + R"([{"op":"qrcode","data":{}}]})", fail("Error printing job", R"(,"reason":"qrcode: data is empty")"));
        row("preview, 80 mm", R"(POST /previewJob {"job":[{"op":"qrcode","data":{"data":"x"}}]})", picture);
        row("preview, 58 mm", R"(POST /previewJob {"width":384)" + job, picture);
        row("preview from form fields", R"(POST /previewJob width=384&job=[{"op":"text","data":"x"}])", picture, form);
        row("preview, other width", R"(POST /previewJob {"width":512)" + job, fail("Width must be 576 or 384"));
        row("preview, width as text", R"(POST /previewJob {"width":"384")" + job, fail("Width must be 576 or 384"));
        row("preview, empty job", R"(POST /previewJob {"job":[]})", fail("Job is empty"));
        row("preview, job no array", "GET /previewJob?job={}", fail("Job with incorrect format"));
        row("preview, invalid job", R"(POST /previewJob {"job":[{"op":"barcode","data":{"type":"EAN8","data":"1"}}]})", fail("Error previewing job", R"(,"reason":"barcode: EAN8 data must be 7 or 8 digits")"));
        row("notification without title", R"(POST /setNotificationOrder {"subtitle":"x"})", R"({"status":false,"data":"Error receiving notification"})");
        row("notification", "POST /setNotificationOrder " + fresh, received);
        row("notification from parameters", "GET /setNotificationOrder?title=Conta&subtitle=Mesa%205&request_id=x&terminal_id=1&status_id=4&lastModifiedBy=Rui&date=2020-01-31T13:45:00", received);
        // clang-format on
    }
    void answers()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, headers);
        for (QByteArray* text : {&request, &answer}) {
            text->replace("SHOP", shop.queueName().toUtf8())
                .replace("STOPPED", stopped.queueName().toUtf8())
                .replace("HIDDEN", hidden.queueName().toUtf8());
        }
        const int split = request.indexOf(' ', request.indexOf(' ') + 1);
        const QByteArray body = split < 0 ? QByteArray() : request.mid(split + 1);
        request.truncate(split < 0 ? request.size() : split);
        if (headers == "default")
            headers = body.isEmpty() ? bearer : bearer + jsonType;
        const auto response = call(::request(request, headers, body));
        const QByteArray status = answer == badKey     ? "401 Unauthorized"
                                  : answer == notFound ? "404 Not found"
                                                       : "200 OK";
        QCOMPARE(response.statusLine, "HTTP/1.1 " + status);
        QTEST(response.header("Access-Control-Allow-Origin"), "origin");
        QCOMPARE(response.header("Vary"), QByteArray("Origin"));
        const bool page = answer.startsWith('<');
        QCOMPARE(response.header("Content-Type"),
                 QByteArray(page ? "text/html; charset=UTF-8" : "application/json; charset=UTF-8"));
        // An answer that is no JSON object is a part of the page or of the compact JSON.
        const QByteArray compact =
            QJsonDocument(json(response.body)).toJson(QJsonDocument::Compact);
        if (json(answer).isEmpty())
            QVERIFY((page ? response.body : compact).contains(answer));
        else
            QCOMPARE(json(response.body), json(answer));
        QCOMPARE(response.body.isEmpty(), answer.isEmpty());
        if (request.startsWith("OPTIONS")) {
            QByteArray cors;
            for (const char* name :
                 {"Allow-Methods", "Allow-Headers", "Max-Age", "Allow-Private-Network"})
                cors += response.header("Access-Control-" + QByteArray(name)) + '|';
            QCOMPARE(cors, "POST, GET, OPTIONS|authorization, Authorization, Content-Type|86400|" +
                               QByteArray(headers.contains("Private-Network") ? "true|" : "|"));
            const QByteArray date = response.header("Date");
            QVERIFY(date.size() > 20 && date == date.toUpper());
        }
    }

    void printedTheJobs()
    {
        QVERIFY(shop.waitForJobs(2));
        QVERIFY(shop.jobs().at(0).contains("Mesa 4\n"));
        QVERIFY(shop.jobs().at(1).endsWith(QByteArray("\x1d\x56\x42\x0a", 4)));
        const QStringList saved = QDir(previewFolder.path()).entryList({"*.png"}, QDir::Files);
        QCOMPARE(saved.size(), 1);
        QCOMPARE(QImage(previewFolder.filePath(saved.first())).width(), 576);
    }

    // The sweep drops what is older than twenty minutes; the list keeps the latest twenty.
    void keepsNotifications()
    {
        const auto listed = [this] {
            return get("/getStatus?with_notifications=1").value("notifications").toArray();
        };
        QCOMPARE(listed(), (QJsonArray{json(fresh), json(old)}));
        QMetaObject::invokeMethod(client.get(), "checkNotificationDelete");
        QCOMPARE(listed(), QJsonArray{json(fresh)});
        for (int i = 0; i < 20; ++i)
            get("/setNotificationOrder?subtitle=x&title=" + QByteArray::number(i));
        QCOMPARE(listed().size(), 20);
        QCOMPARE(listed().first().toObject().value("title"), QJsonValue("0"));
    }

    // A printer that is off fails its job after the job time-out, holding up nobody meanwhile.
    void failsTheJobOfAPrinterThatIsOff()
    {
        RawPrinter off;
        QVERIFY2(off.create(), qPrintable(off.error()));
        off.refuseConnections();
        QSettings().setValue("printers/" + Printer::hashFor(off.queueName()), true);
        client->updatePrinters();
        QTRY_VERIFY(get("/getPrinters").value("data").toArray().contains(off.queueName()));
        const QJsonArray job{QJsonObject{{"op", "text"}, {"data", "Total"}}};
        auto sent = std::async(std::launch::async, [&] {
            return post("/sendJob", {{"printer", off.queueName()}, {"job", job}});
        });
        QCOMPARE(get("/getStatus").value("data"), QJsonValue("Device online"));
        QVERIFY(sent.wait_for(std::chrono::seconds(0)) != std::future_status::ready);
        const QByteArray answer = QJsonDocument(sent.get()).toJson(QJsonDocument::Compact);
        QCOMPARE(answer, R"({"error":"Error printing job","reason":"timeout","status":false})");
    }

    // A terminal switched off leaves the API's list. The refresh button rebuilds the list within
    // the call, keeping one terminal per port still enumerated.
    void terminalListAndRefresh()
    {
        // clang-format off
        const auto entry = [this](int type) {
            return QJsonObject{{"description", borrowed.description()}, {"manufacturer", borrowed.manufacturer()}, {"portName", borrowed.portName()},
                               {"productIdentifier", int(borrowed.productIdentifier())}, {"vendorIdentifier", int(borrowed.vendorIdentifier())}, {"vendorId", type}};
        };
        // clang-format on
        PtyTerminal first, second, third;
        Tpa* const ingenico = attach(first, borrowed);
        const QPointer<Tpa> newnote = attach(second, borrowed, 2);
        QCOMPARE(get("/getTpas"), ok(QJsonArray{entry(1), entry(2)}));
        ingenico->setAvailable(false);
        QCOMPARE(get("/getTpas"), ok(QJsonArray{entry(2)}));
        const QPointer<Tpa> undescribed = attach(third, QSerialPortInfo());
        QSignalSpy changed(client.get(), &PrintClient::tpasChanged);
        client->updateTpas();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(client->tpaList().size(), 1);
        QCOMPARE(client->tpaList().at(0).data(), ingenico);
        QTRY_VERIFY(undescribed.isNull() && newnote.isNull());
    }

    // Every terminal endpoint refuses alike, and nothing reaches the terminal. An empty port
    // name finds nothing, not even a terminal whose port has no name.
    void terminalLookupRefusals_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("error");
        for (const char* situation : {"off", "empty port", "upper case", "dropped"})
            QTest::newRow(situation) << situation << "KVR1001|M21|TPA not found";
        QTest::newRow("unplugged") << "unplugged"
                                   << "KVR1001|M22|TPA offline or in error state";
    }
    void terminalLookupRefusals()
    {
        QFETCH(QString, situation);
        auto pty = std::make_unique<PtyTerminal>();
        Tpa* const tpa = attach(*pty, situation == "empty port" ? QSerialPortInfo() : borrowed);
        QCOMPARE(pty->read(pollFrame.size()), pollFrame); // the worker holds the line
        const QString name = situation == "empty port" ? QString() : borrowed.portName();
        const QString portName = situation == "upper case" ? name.toUpper() : name;
        if (situation == "off")
            tpa->setAvailable(false);
        else if (situation == "dropped")
            refreshWithoutPorts();
        else if (situation == "unplugged")
            pty.reset(); // the device node goes with the terminal's side of the line
        QFETCH(QString, error);
        const QJsonObject refused{{"status", false}, {"error", error}};
        for (const QByteArray& path :
             commandPaths +
                 QList<QByteArray>{"/getTpaTransactionStatus", "/clearTpaTransactionStatus"})
            QCOMPARE(tpaPost(path, "A", {{"tpa_port", portName}, {"amount", "1"}}), refused);
        QCOMPARE(tpaPost("/getTpaStatus", "A", {{"tpa_port", portName}}), stamped(refused));
        QCOMPARE(pty ? pty->readFor(200) : QByteArray(), QByteArray());
    }

    void terminalCommand_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QJsonObject>("fields");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QByteArray>("payload");
        // clang-format off
        const auto row = [](const char* path, const QJsonObject& fields, const char* sent, const QByteArray& payload) {
            QTest::newRow(path) << QByteArray(path) << fields << sent << payload;
        };
        row("/sendTpaOpen", {}, "open", "P001001333049782");
        row("/sendTpaClose", {}, "close", "P042101333049782");
        // A JSON number is no string: the amount arrives empty.
        row("/sendTpaPurchase", {{"amount", 12.5}}, "purchase", "P05100133304978200000000");
        row("/sendTpaRefund", {{"tpa_id", "T0042"}, {"datetime", "2024-01-15 10:30:00"}, {"amount", "12.50"}}, "refund", "P06100133302978200001250T004220240115103000");
        row("/sendTpaOpenMenu", {}, "menu open", "M00500");
        row("/sendTpaReprintLastReceipt", {}, "reprint last receipt", "M00505");
        // clang-format on
    }
    void terminalCommand()
    {
        QFETCH(QByteArray, path);
        QFETCH(QJsonObject, fields);
        QFETCH(QString, sent);
        QFETCH(QByteArray, payload);
        PtyTerminal pty;
        answerPoll(pty, attach(pty, borrowed));
        QCOMPARE(tpaPost(path, "A", fields), ok("KVR0000|M00|TPA " + sent + " command sent"));
        QCOMPARE(pty.readFor(200), ingenicoFrame(payload));
    }

    // A purchase as the web application sees it: statuses before and during the transaction,
    // busy answers to everyone, and the history handed over once at the end.
    void terminalPurchase()
    {
        const QString added = QStringLiteral("KVR0000|M00|Comando adicionado com sucesso");
        const QString ready = "M000READY", approved = "P0510000APROVADO";
        PtyTerminal pty;
        Tpa* const tpa = attach(pty, borrowed);
        QCOMPARE(tpaPost("/getTpaStatus", "A"),
                 stamped({{"status", false}, {"error", "KVR1001|M98|TPA status not found"}}));
        answerPoll(pty, tpa);
        QCOMPARE(tpaPost("/clearTpaTransactionStatus", "A"), ok(QJsonArray()));
        QCOMPARE(tpaPost("/sendTpaPurchase", "A", {{"amount", "12.50"}}),
                 ok("KVR0000|M00|TPA purchase command sent"));
        QCOMPARE(pty.read(27), ingenicoFrame("P05100133304978200001250"));
        QTRY_VERIFY(tpa->isInTransaction());
        QCOMPARE(tpaPost("/getTpaStatus", "B"), stamped(ok(busy)));
        QCOMPARE(tpaPost("/getTpaStatus", "A"), stamped(ok(ready)));
        // Every command is refused while the transaction runs, the owner's own included.
        for (const QByteArray& path :
             commandPaths + QList<QByteArray>{"/clearTpaTransactionStatus"})
            QCOMPARE(tpaPost(path, "A", {{"amount", "1"}}), ok(busy));
        QCOMPARE(pty.readFor(200), QByteArray());
        // The owner follows its transaction without consuming it; others see nothing.
        QCOMPARE(tpaPost("/getTpaTransactionStatus", "A"), ok(QJsonArray{added}));
        QCOMPARE(tpaPost("/getTpaTransactionStatus", "B"), ok(QJsonArray()));
        pty.write(ingenicoFrame(approved.toLatin1()));
        QCOMPARE(pty.read(1), QByteArray("\x06"));
        QTRY_VERIFY(!tpa->isInTransaction());
        QCOMPARE(tpaPost("/getTpaStatus", "B"), stamped(ok(ready)));
        QCOMPARE(tpaPost("/getTpaTransactionStatus", "A"), ok(QJsonArray{added, approved}));
        QCOMPARE(tpaPost("/getTpaTransactionStatus", "A"), ok(QJsonArray()));
    }

    // A status that starts with the time-out code is a failure: with the line's output stopped
    // the first poll never leaves, and the worker gives up after its five-second write limit.
    void terminalTimedOutStatusIsFailure()
    {
        PtyTerminal pty;
        const int line = ::open(qPrintable(pty.slavePath()), O_RDWR | O_NOCTTY);
        QVERIFY(line >= 0 && ::tcflow(line, TCOOFF) == 0);
        Tpa* const tpa = attach(pty, borrowed);
        QTRY_VERIFY_WITH_TIMEOUT(!tpa->lastStatus("A").isEmpty(), 15000);
        ::tcflow(line, TCOON);
        ::close(line);
        QCOMPARE(tpaPost("/getTpaStatus", "A"),
                 stamped({{"status", false}, {"data", "KVR1001|M99|Operation Timeout"}}));
    }
};

APP_TEST_MAIN(TestApi)

#include "tst_api.moc"
