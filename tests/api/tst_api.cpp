// The JSON API; printers are raw queues of the throwaway print system whose device is a socket
// this test listens on.

#include "apiserver.h"
#include "printer.h"
#include "rawprinter.h"
#include "testenv.h"

#include <future>

using namespace api;

namespace {
const QByteArray fresh =
    R"({"request_id":7,"terminal_id":3,"status_id":2,"title":"Pronto",)"
    R"("subtitle":"Mesa 4","lastModifiedBy":"Ana","date":"2099-01-31T13:45:00"})";
const QByteArray old =
    R"({"request_id":0,"terminal_id":1,"status_id":4,"title":"Conta",)"
    R"("subtitle":"Mesa 5","lastModifiedBy":"Rui","date":"2020-01-31T13:45:00"})";
const QByteArray printed = R"({"status":true,"data":"Job completed successfully"})";
} // namespace

class TestApi : public QObject
{
    Q_OBJECT

    RawPrinter shop, hidden, stopped; // switched on; switched off; switched on, queue disabled
    QTemporaryDir previewFolder;
    Server api;

private slots:
    void initTestCase()
    {
        for (RawPrinter* printer : {&shop, &hidden, &stopped})
            QVERIFY2(printer->create(), qPrintable(printer->error()));
        QVERIFY(stopped.disable());
        QSettings settings;
        for (RawPrinter* printer : {&shop, &stopped})
            settings.setValue("printers/" + Printer::hashFor(printer->queueName()), true);
        settings.setValue("jobTimeout", 2);
        settings.setValue("previewPrinter", true);
        settings.setValue("previewFolder", previewFolder.path());
        QVERIFY(api.start());
    }
    void cleanupTestCase() { api.stop(); }

    // A request is "METHOD target[ body]"; SHOP, STOPPED and HIDDEN stand for the queues' names.
    // Without headers of its own it carries the key, and its body is JSON.
    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("answer"); // JSON, or a part of the answer
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<QByteArray>("origin"); // allowed
        const auto row = [](const char* name, const QByteArray& request, int status,
                            const QByteArray& answer, const QByteArray& headers = "default",
                            const QByteArray& origin = "https://www.velora.pt") {
            QTest::newRow(name) << request << status << answer << headers << origin;
        };
        const auto fail = [](const QByteArray& error, const QByteArray& more = "") {
            return "{\"status\":false,\"error\":\"" + error + "\"" + more + "}";
        };
        const QByteArray online = R"({"status":true,"data":"Device online"})";
        const QByteArray listing = R"({"status":true,"data":"Device online","notifications":[]})";
        const QByteArray badKey = fail("Invalid security key"), notFound = fail("Not found");
        const QByteArray stamp = R"(,"version":"424","device":"desktop")";
        const QByteArray noPrinter = fail("Printer not found", stamp);
        const QByteArray idle =
            R"({"status":true,"data":true,"state":"idle","reasons":[],"accepting":true)" + stamp +
            "}";
        const QByteArray keyField = "securityKey=" + key.toPercentEncoding();
        const QByteArray job = R"(,"job":[{"op":"text","data":"Mesa 4\n"}]})";
        const QByteArray preview = R"(POST /sendJob {"printer":"Printarra Preview","job":)";
        const QByteArray received = R"({"status":true,"data":"Notification received"})";
        const QByteArray wrongKey = "Authorization: Bearer nope\r\n";
        const QByteArray form = bearer + "Content-Type: application/x-www-form-urlencoded\r\n";

        row("key in header", "GET /getStatus", 200, online);
        row("key in query", "GET /getStatus?" + keyField, 200, online, "");
        row("key in form", "POST /getStatus " + keyField, 200, online,
            "Content-Type: application/x-www-form-urlencoded\r\n");
        row("key in JSON", "POST /getStatus {\"securityKey\":\"" + key + "\"}", 200, online,
            jsonType);
        row("no key", "GET /getStatus", 401, badKey, "");
        row("two blanks", "GET /getStatus", 401, badKey, "Authorization: Bearer  " + key + "\r\n");
        row("three pieces", "GET /getStatus", 401, badKey, bearer.trimmed() + " x\r\n");
        row("header before query", "GET /getStatus?" + keyField, 401, badKey, wrongKey);
        row("no Bearer word", "GET /getStatus?" + keyField, 200, online,
            "Authorization: bearer x\r\n");
        row("key, NUL, more", "GET /getStatus?securityKey=k3Y%2B%2Fabcv4.0%00x", 401, badKey, "");
        row("broken JSON before the key", "POST /getStatus {not", 200, fail("Invalid Json"),
            "Origin: https://app.velora.pt\r\n" + jsonType, "https://app.velora.pt");
        row("localhost", "GET /getStatus", 401, badKey, "Origin: http://localhost:80\r\n",
            "http://localhost:80");
        row("localhost under https", "GET /getStatus", 200, online,
            "Origin: https://localhost:80\r\n" + bearer);
        row("look-alike", "GET /getStatus", 200, online,
            "Origin: https://evilvelora.pt\r\n" + bearer);
        row("localhost look-alike", "GET /getStatus", 200, online,
            "Origin: http://localhost.example.com\r\n" + bearer);
        row("preflight", "OPTIONS /sendJob", 200, "", "Origin: http://localhost:3000\r\n",
            "http://localhost:3000");
        row("private network", "OPTIONS /x", 200, "",
            "Access-Control-Request-Private-Network: true\r\n");
        row("page", "GET /", 200, "<h1>Printarra</h1>", wrongKey);

        row("one trailing slash", "GET /getStatus/", 200, online);
        row("two trailing slashes", "GET /getStatus//", 404, notFound);
        row("other letter case", "GET /GetStatus", 404, notFound);
        row("NUL after the path", "GET /getStatus%00", 404, notFound);
        row("terminals", "GET /getTpas/", 200, R"({"status":true,"data":[]})");

        const QByteArray twoPrinters = R"(POST /getPrinterStatus?printer=SHOP {"printer":"x"})";
        row("other type: query counts", twoPrinters, 200, idle,
            bearer + "Content-Type: Application/JSON\r\n");
        row("JSON with charset: body counts", twoPrinters, 200, noPrinter,
            bearer + "Content-Type: application/json; charset=utf-8\r\n");
        row("JSON true is no number", R"(POST /getStatus {"with_notifications":true})", 200,
            online);
        row("JSON number", R"(POST /getStatus {"with_notifications":1})", 200, listing);
        row("parameter no number", "GET /getStatus?with_notifications=a", 200, online);
        row("parameter 2", "GET /getStatus?with_notifications=2", 200, listing);

        row("printers", "GET /getPrinters", 200,
            R"({"status":true,"data":["SHOP","STOPPED","Printarra Preview"]})");
        row("stopped printer", "GET /getPrinterStatus?printer=STOPPED", 200,
            R"({"status":true,"data":false,"state":"stopped","reasons":["paused"],"accepting":true)" +
                stamp + "}");
        row("switched-off printer", "GET /getPrinterStatus?printer=HIDDEN", 200, noPrinter);
        row("preview printer", R"(POST /getPrinterStatus {"printer":"Printarra Preview"})", 200,
            idle);
        row("job", R"(POST /sendJob {"printer":"SHOP")" + job, 200, printed);
        row("job, form fields",
            "POST /sendJob printer=SHOP&job=[{\"op\":\"cut\",\"data\":\"full\"}]", 200, printed,
            form);
        row("job, switched-off printer", R"(POST /sendJob {"printer":"HIDDEN")" + job, 200,
            fail("Printer not found"));
        row("job, stopped printer", R"(POST /sendJob {"printer":"STOPPED")" + job, 200,
            fail("Printer offline or in error state"));
        row("job as JSON text", R"(POST /sendJob {"printer":"SHOP","job":"[]"})", 200,
            fail("Job is empty"));
        row("job no array", "GET /sendJob?printer=SHOP&job={}", 200,
            fail("Job with incorrect format"));
        row("job the printer cannot print",
            R"(POST /sendJob {"printer":"SHOP","job":[{"op":"barcode","data":{"type":"ITF","data":"1"}}]})",
            200,
            fail("Error printing job",
                 R"(,"reason":"barcode: ITF data must be an even number of digits, 254 at most")"));
        row("preview printer job", preview + R"([{"op":"text","data":"x"}]})", 200, printed);
        row("preview printer, empty job", preview + "[]}", 200, fail("Job is empty"));
        row("preview printer, invalid job", preview + R"([{"op":"qrcode","data":{}}]})", 200,
            fail("Error printing job", R"(,"reason":"qrcode: data is empty")"));
        const QByteArray picture = "{\"data\":\"data:image/png;base64,iVBOR";
        row("preview, 80 mm", R"(POST /previewJob {"job":[{"op":"qrcode","data":{"data":"x"}}]})",
            200, picture);
        row("preview, 58 mm", R"(POST /previewJob {"width":384)" + job, 200, picture);
        row("preview from form fields",
            R"(POST /previewJob width=384&job=[{"op":"text","data":"x"}])", 200, picture, form);
        row("preview, other width", R"(POST /previewJob {"width":512)" + job, 200,
            fail("Width must be 576 or 384"));
        row("preview, width as text", R"(POST /previewJob {"width":"384")" + job, 200,
            fail("Width must be 576 or 384"));
        row("preview, empty job", R"(POST /previewJob {"job":[]})", 200, fail("Job is empty"));
        row("preview, job no array", "GET /previewJob?job={}", 200,
            fail("Job with incorrect format"));
        row("preview, invalid job",
            R"(POST /previewJob {"job":[{"op":"barcode","data":{"type":"EAN8","data":"1"}}]})", 200,
            fail("Error previewing job",
                 R"(,"reason":"barcode: EAN8 data must be 7 or 8 digits")"));
        row("notification without title", R"(POST /setNotificationOrder {"subtitle":"x"})", 200,
            R"({"status":false,"data":"Error receiving notification"})");
        row("notification", "POST /setNotificationOrder " + fresh, 200, received);
        row("notification from parameters",
            "GET /setNotificationOrder?title=Conta&subtitle=Mesa%205&"
            "request_id=x&terminal_id=1&status_id=4&lastModifiedBy=Rui&date=2020-01-31T13:45:00",
            200, received);
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
        const auto response = api.call(api::request(request, headers, body));
        QFETCH(int, status);
        const char* reason = status == 200 ? " OK" : status == 401 ? " Unauthorized" : " Not found";
        QCOMPARE(response.statusLine, "HTTP/1.1 " + QByteArray::number(status) + reason);
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
            QCOMPARE(response.header("Access-Control-Allow-Methods"),
                     QByteArray("POST, GET, OPTIONS"));
            QCOMPARE(response.header("Access-Control-Allow-Headers"),
                     QByteArray("authorization, Authorization, Content-Type"));
            QCOMPARE(response.header("Access-Control-Max-Age"), QByteArray("86400"));
            QCOMPARE(response.header("Access-Control-Allow-Private-Network"),
                     QByteArray(headers.contains("Private-Network") ? "true" : ""));
            const QByteArray date = response.header("Date");
            QVERIFY(date.size() > 20 && date == date.toUpper());
        }
    }

    // The jobs of the table reached the printer and the preview printer's folder.
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
            return api.get("/getStatus?with_notifications=1").value("notifications").toArray();
        };
        QCOMPARE(listed(), (QJsonArray{json(fresh), json(old)}));
        QMetaObject::invokeMethod(api.client.get(), "checkNotificationDelete");
        QCOMPARE(listed(), QJsonArray{json(fresh)});
        for (int i = 0; i < 20; ++i)
            api.get("/setNotificationOrder?subtitle=x&title=" + QByteArray::number(i));
        QCOMPARE(listed().size(), 20);
        QCOMPARE(listed().first().toObject().value("title"), QJsonValue("0"));
    }

    // A printer that is off fails its job once the job time-out is over, with the job
    // cancelled, and holds up nobody else meanwhile.
    void failsTheJobOfAPrinterThatIsOff()
    {
        RawPrinter off;
        QVERIFY2(off.create(), qPrintable(off.error()));
        off.refuseConnections();
        QSettings().setValue("printers/" + Printer::hashFor(off.queueName()), true);
        api.client->updatePrinters();
        QTRY_VERIFY(api.get("/getPrinters").value("data").toArray().contains(off.queueName()));
        const QJsonArray job{QJsonObject{{"op", "text"}, {"data", "Total"}}};
        auto sent = std::async(std::launch::async, [&] {
            return api.post("/sendJob", {{"printer", off.queueName()}, {"job", job}});
        });
        QCOMPARE(api.get("/getStatus").value("data"), QJsonValue("Device online"));
        QVERIFY(sent.wait_for(std::chrono::seconds(0)) != std::future_status::ready);
        const QByteArray answer = QJsonDocument(sent.get()).toJson(QJsonDocument::Compact);
        QCOMPARE(answer, R"({"error":"Error printing job","reason":"timeout","status":false})");
        QString pending = "?";
        QTRY_VERIFY(RawPrinter::runTool("lpstat", {"-o", off.queueName()}, &pending) &&
                    pending.isEmpty());
    }
};

APP_TEST_MAIN(TestApi)

#include "tst_api.moc"
