// The terminal endpoints of the JSON API over real HTTPS, with the payment terminals played by
// this test on pseudo-terminals, and the terminal list's refresh rule.
//
// The platform cannot give a USB serial device, so two seams stand in for it: each terminal's
// worker opens a pseudo-terminal (the devicePath argument of Tpa), and addTpa puts the terminal on
// the controller's list. A serial port description cannot be built by hand and the API finds a
// terminal by its port name, so the terminals borrow the description of a port that this machine
// enumerates; without one the API cases are skipped.

#include "printclient.h"
#include "ptyterminal.h"
#include "testsupport.h"
#include "tpa.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPrinterInfo>
#include <QtTest>

#include <atomic>
#include <future>
#include <memory>
#include <utility>

using namespace testsupport;
using Port = PrintClient::PortDescription;
using Created = QVector<QPair<int, int>>;
Q_DECLARE_METATYPE(PrintClient::PortDescription)

namespace {
const QByteArray key = "k3Y+/abcv4.0";
const QString notFound = QStringLiteral("KVR1001|M21|TPA not found");
const QString offline = QStringLiteral("KVR1001|M22|TPA offline or in error state");
const QString busy = QStringLiteral("KVR1001|M10|TPA already busy");
const QString added = QStringLiteral("KVR0000|M00|Comando adicionado com sucesso");
const QByteArray ack("\x06");

const QList<QByteArray> commandPaths{"/sendTpaOpen",     "/sendTpaClose",
                                     "/sendTpaPurchase", "/sendTpaRefund",
                                     "/sendTpaOpenMenu", "/sendTpaReprintLastReceipt"};
const QList<QByteArray> terminalPaths =
    QList<QByteArray>{"/getTpaStatus", "/getTpaTransactionStatus", "/clearTpaTransactionStatus"} +
    commandPaths;

QList<QSslCertificate> rootCertificate()
{
    return QSslCertificate::fromPath(QStringLiteral(PRINTARRA_TLS_DIR "/rootca.pem"));
}

QByteArray frameOf(int type, const QByteArray& payload)
{
    return type == 1 ? ingenicoFrame(payload) : newnoteFrame(payload);
}
QByteArray pollOf(int type)
{
    return frameOf(type, type == 1 ? "M00005LB020000" : "M00110PQ");
}

QByteArray text(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
QJsonObject failure(const QString& error)
{
    return {{"status", false}, {"error", error}};
}
QJsonObject success(const QJsonValue& data)
{
    return {{"status", true}, {"data", data}};
}
QJsonArray array(const QStringList& texts)
{
    return QJsonArray::fromStringList(texts);
}

} // namespace

#define REQUIRE_PORT()                                                                             \
    if (borrowed.isNull())                                                                         \
    QSKIP("this machine enumerates no serial port whose description the terminals could borrow")

class TestTpaApi : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PrintClient> client;
    QSerialPortInfo borrowed;
    quint16 port = 0;
    // The terminal of the time-out case, off the list until that case runs.
    PtyTerminal heldPty;
    int heldLine = -1;
    Tpa* held = nullptr;

    static QByteArray request(const QByteArray& method, const QByteArray& path,
                              const QByteArray& headers, const QByteArray& body = QByteArray())
    {
        QByteArray raw = method + ' ' + path + " HTTP/1.1\r\nHost: localhost\r\n" + headers;
        if (!body.isEmpty())
            raw += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        return raw + "\r\n" + body;
    }
    static QByteArray postRequest(const QByteArray& path, const QJsonObject& body)
    {
        return request("POST", path,
                       "Authorization: Bearer " + key + "\r\nContent-Type: application/json\r\n",
                       QJsonDocument(body).toJson(QJsonDocument::Compact));
    }
    // The body as compact JSON, or the status line when the answer is not a 200.
    static QByteArray outcome(const Response& response)
    {
        if (response.statusLine != "HTTP/1.1 200 OK")
            return response.statusLine.isEmpty() ? QByteArray("no answer") : response.statusLine;
        return QJsonDocument::fromJson(response.body).toJson(QJsonDocument::Compact);
    }

    // One request on its own connection from another thread; the listener and the terminals
    // live in this thread, whose event loop keeps running meanwhile.
    QByteArray call(const QByteArray& raw)
    {
        auto answer = requestOffThread(port, raw, rootCertificate());
        return outcome(awaitWithEvents(answer));
    }
    QByteArray post(const QByteArray& path, const QJsonObject& body)
    {
        return call(postRequest(path, body));
    }
    QByteArray getTpas()
    {
        return call(request("GET", "/getTpas", "Authorization: Bearer " + key + "\r\n"));
    }

    QJsonObject fields(const QString& id, QJsonObject extra = QJsonObject()) const
    {
        if (!extra.contains("tpa_port"))
            extra.insert("tpa_port", borrowed.portName());
        extra.insert("terminal_tpa_id", id);
        return extra;
    }
    // Answers of getTpaStatus carry the controller's version and device in every case.
    QJsonObject stamped(QJsonObject object) const
    {
        object.insert("version", client->curVersion());
        object.insert("device", client->device());
        return object;
    }

    Tpa* attach(const PtyTerminal& pty, int type, const QSerialPortInfo& info)
    {
        auto* tpa = new Tpa(info, type, nullptr, pty.slavePath());
        client->addTpa(tpa);
        return tpa;
    }
    // The terminal's side of the start: it answers the worker's first poll, after which the
    // worker reports the answer as the terminal's status and lets commands through.
    void answerPoll(PtyTerminal& pty, Tpa* tpa, int type)
    {
        QSignalSpy reported(tpa, &Tpa::lastStatusChanged);
        QCOMPARE(pty.read(pollOf(type).size()), pollOf(type));
        pty.write(frameOf(type, type == 1 ? "M000READY" : "M001READY"));
        QCOMPARE(pty.read(1), ack);
        QTRY_COMPARE(reported.count(), 1);
    }
    // An enumeration without the terminals' port: the refresh drops them all.
    void refreshWithoutPorts()
    {
        QVERIFY(QMetaObject::invokeMethod(client.get(), "onGetTpas",
                                          Q_ARG(QList<QSerialPortInfo>, QList<QSerialPortInfo>())));
    }

private slots:
    void initTestCase()
    {
        keepThreadLogsOutOfTestLog();
        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        if (!ports.isEmpty())
            borrowed = ports.first();

        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
        probe.close();
        qputenv("PRINTARRA_PORT", QByteArray::number(port));

        QSettings settings;
        settings.clear();
        settings.setValue("licenseAccepted", true);
        settings.setValue("securityKey", QString::fromLatin1(key));
        settings.sync();

        client.reset(new PrintClient);
        client->startup();
        QVERIFY(client->isStarted());
        QVERIFY(client->httpListener() && client->httpListener()->isListening());
        QVERIFY(client->tpaList().isEmpty()); // the borrowed port has no terminal vendor

        // The time-out case's terminal starts now so that its wait overlaps the other cases.
        // Its line is held (output stopped): the worker's first poll never leaves, and the
        // worker gives up after its poll-write limit, five seconds, which no seam reachable
        // from a Tpa shortens.
        if (!borrowed.isNull()) {
            heldLine = ::open(qPrintable(heldPty.slavePath()), O_RDWR | O_NOCTTY);
            QVERIFY(heldLine >= 0);
            QCOMPARE(::tcflow(heldLine, TCOOFF), 0);
            held = new Tpa(borrowed, 1, nullptr, heldPty.slavePath());
        }
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
        delete held;
        if (heldLine >= 0)
            ::close(heldLine);
        client.reset();
        QTest::qWait(100);
    }

    void refreshRule_data()
    {
        QTest::addColumn<QList<Port>>("current");
        QTest::addColumn<QList<Port>>("ports");
        QTest::addColumn<QVector<bool>>("survives");
        QTest::addColumn<Created>("created"); // enumeration index and terminal type

        const Port ingenico{0x079B, 0x0028, "ttyUSB0"};
        const Port unknown{0x1234, 0x0001, "ttyUSB1"};
        const Port plain{0, 0, "ttyS0"};
        const Port newnote{0x0403, 0x6001, "ttyUSB2"};

        QTest::newRow("first enumeration")
            << QList<Port>() << QList<Port>{ingenico, unknown, plain, newnote} << QVector<bool>()
            << Created{{0, 1}, {3, 2}};
        QTest::newRow("same ports again")
            << QList<Port>{ingenico, newnote} << QList<Port>{ingenico, unknown, plain, newnote}
            << QVector<bool>{true, true} << Created();
        QTest::newRow("known port under a new name")
            << QList<Port>{ingenico, newnote} << QList<Port>{{0x0403, 0x6001, "ttyUSB3"}, ingenico}
            << QVector<bool>{true, false} << Created{{0, 2}};
        QTest::newRow("other product on the same name")
            << QList<Port>{newnote} << QList<Port>{{0x0403, 0x6015, "ttyUSB2"}}
            << QVector<bool>{false} << Created{{0, 2}};
        QTest::newRow("survivors whatever the enumeration order")
            << QList<Port>{newnote, {0x079B, 0x0028, "ttyUSB5"}, ingenico}
            << QList<Port>{ingenico, unknown, newnote} << QVector<bool>{true, false, true}
            << Created();
        QTest::newRow("one port matches one entry")
            << QList<Port>{ingenico, ingenico} << QList<Port>{ingenico}
            << QVector<bool>{true, false} << Created();
    }
    void refreshRule()
    {
        QFETCH(QList<Port>, current);
        QFETCH(QList<Port>, ports);
        QFETCH(QVector<bool>, survives);
        QFETCH(Created, created);
        QVector<bool> kept;
        QCOMPARE(client->newTerminals(current, ports, &kept), created);
        QCOMPARE(kept, survives);
    }

    // The refresh button rebuilds the list within the call (the enumeration is synchronous);
    // the busy indicator stays on until the next printer list.
    void refreshButton()
    {
        REQUIRE_PORT();
        PtyTerminal first, second;
        const QPointer<Tpa> undescribed = attach(first, 1, QSerialPortInfo());
        Tpa* const described = attach(second, 2, borrowed);
        QSignalSpy changed(client.get(), &PrintClient::tpasChanged);

        client->updateTpas();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(client->tpaList().size(), 1);
        QCOMPARE(client->tpaList().at(0).data(), described); // its port is still enumerated
        QVERIFY(client->isFetching());
        QVERIFY(QMetaObject::invokeMethod(client.get(), "onGetPrinters",
                                          Q_ARG(QList<QPrinterInfo>, QList<QPrinterInfo>())));
        QVERIFY(!client->isFetching());
        QTRY_VERIFY(undescribed.isNull());
    }

    void listsAvailableTerminals()
    {
        REQUIRE_PORT();
        const auto entry = [this](int type) {
            return QJsonObject{{"description", borrowed.description()},
                               {"manufacturer", borrowed.manufacturer()},
                               {"portName", borrowed.portName()},
                               {"productIdentifier", int(borrowed.productIdentifier())},
                               {"vendorIdentifier", int(borrowed.vendorIdentifier())},
                               {"vendorId", type}};
        };
        QCOMPARE(getTpas(), text(success(QJsonArray())));
        PtyTerminal first, second;
        Tpa* const ingenico = attach(first, 1, borrowed);
        Tpa* const newnote = attach(second, 2, borrowed);
        QCOMPARE(getTpas(), text(success(QJsonArray{entry(1), entry(2)})));

        // Switched off, the first terminal leaves the list, and the lookup passes over it to
        // the next terminal on the same port.
        ingenico->setAvailable(false);
        QCOMPARE(getTpas(), text(success(QJsonArray{entry(2)})));
        QCOMPARE(first.read(pollOf(1).size()), pollOf(1));
        QCOMPARE(second.read(pollOf(2).size()), pollOf(2));
        QCOMPARE(post("/sendTpaOpen", fields("A")),
                 text(success("KVR0000|M00|TPA open command sent")));
        QCOMPARE(second.read(frameOf(2, "S000100000011").size()), frameOf(2, "S000100000011"));
        QCOMPARE(first.readFor(200), QByteArray());

        newnote->setAvailable(false);
        QCOMPARE(getTpas(), text(success(QJsonArray())));
    }

    void unpluggedLineIsLetGo()
    {
        REQUIRE_PORT();
        auto pty = std::make_unique<PtyTerminal>();
        attach(*pty, 1, borrowed);
        QCOMPARE(pty->read(pollOf(1).size()), pollOf(1));

        static std::atomic<int> lineErrors{0};
        static QtMessageHandler previous = nullptr;
        lineErrors = 0;
        previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                if (message.startsWith(QLatin1String("error ocurred"))) {
                    ++lineErrors;
                } else {
                    previous(type, context, message);
                }
            });
        pty.reset(); // the terminal hangs up
        QTest::qWait(500);
        qInstallMessageHandler(previous);
        // A worker that kept the dead line open would report it thousands of times a second.
        QVERIFY2(lineErrors <= 3, qPrintable(QString::number(lineErrors)));
    }

    void lookupRefusals_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QList<QByteArray>>("paths");
        // Every endpoint for the two outcomes; the lookup's finer rules on a few of them.
        const QList<QByteArray> some{"/getTpaStatus", "/getTpaTransactionStatus",
                                     "/sendTpaPurchase"};
        QTest::newRow("switched off") << "off" << notFound << terminalPaths;
        QTest::newRow("unplugged") << "unplugged" << offline << terminalPaths;
        QTest::newRow("empty port") << "empty port" << notFound << some;
        QTest::newRow("port in other letter case") << "upper case" << notFound << some;
        QTest::newRow("dropped by a refresh") << "dropped" << notFound << some;
    }
    void lookupRefusals()
    {
        REQUIRE_PORT();
        QFETCH(QString, situation);
        QFETCH(QString, error);
        QFETCH(QList<QByteArray>, paths);
        // An empty port name finds nothing, not even a terminal whose port has no name.
        auto pty = std::make_unique<PtyTerminal>();
        Tpa* const tpa = attach(*pty, 1, situation == "empty port" ? QSerialPortInfo() : borrowed);
        QCOMPARE(pty->read(pollOf(1).size()), pollOf(1)); // the worker holds the line

        QString portName = borrowed.portName();
        if (situation == "empty port") {
            portName.clear();
        } else if (situation == "upper case") {
            portName = portName.toUpper();
            QVERIFY(portName != borrowed.portName());
        } else if (situation == "off") {
            tpa->setAvailable(false);
        } else if (situation == "dropped") {
            refreshWithoutPorts();
        } else {
            pty.reset(); // the device node goes with the terminal's side of the line
        }

        for (const QByteArray& path : paths) {
            const QJsonObject expected =
                path == "/getTpaStatus" ? stamped(failure(error)) : failure(error);
            const QJsonObject body{{"tpa_port", portName}, {"amount", "1.00"}, {"tpa_id", "T1"}};
            QVERIFY2(post(path, fields("A", body)) == text(expected), path.constData());
        }
        if (pty)
            QCOMPARE(pty->readFor(200), QByteArray()); // no command reached the terminal
    }

    void commandReachesTerminal_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QJsonObject>("arguments");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QByteArray>("payload"); // empty: nothing is sent

        const QJsonObject refund{
            {"tpa_id", "T0042"}, {"datetime", "2024-01-15 10:30:00"}, {"amount", "12.50"}};
        const QString purchaseSent = QStringLiteral("KVR0000|M00|TPA purchase command sent");
        const QString refundSent = QStringLiteral("KVR0000|M00|TPA refund command sent");
        const QString menuSent = QStringLiteral("KVR0000|M00|TPA menu open command sent");
        QTest::newRow("1 open") << 1 << QByteArray("/sendTpaOpen") << QJsonObject()
                                << "KVR0000|M00|TPA open command sent"
                                << QByteArray("P001001333049782");
        QTest::newRow("1 close") << 1 << QByteArray("/sendTpaClose") << QJsonObject()
                                 << "KVR0000|M00|TPA close command sent"
                                 << QByteArray("P042101333049782");
        QTest::newRow("1 purchase")
            << 1 << QByteArray("/sendTpaPurchase") << QJsonObject{{"amount", "12.50"}}
            << purchaseSent << QByteArray("P05100133304978200001250");
        // A JSON number is no string: the amount arrives empty.
        QTest::newRow("1 purchase, numeric amount")
            << 1 << QByteArray("/sendTpaPurchase") << QJsonObject{{"amount", 12.5}} << purchaseSent
            << QByteArray("P05100133304978200000000");
        QTest::newRow("1 refund") << 1 << QByteArray("/sendTpaRefund") << refund << refundSent
                                  << QByteArray("P06100133302978200001250T004220240115103000");
        QTest::newRow("1 menu") << 1 << QByteArray("/sendTpaOpenMenu") << QJsonObject() << menuSent
                                << QByteArray("M00500");
        QTest::newRow("1 reprint")
            << 1 << QByteArray("/sendTpaReprintLastReceipt") << QJsonObject()
            << "KVR0000|M00|TPA reprint last receipt command sent" << QByteArray("M00505");
        QTest::newRow("2 purchase")
            << 2 << QByteArray("/sendTpaPurchase") << QJsonObject{{"amount", "12.50"}}
            << purchaseSent
            << QByteArray("C0001000000000125000001000"
                          "\x0B\x9F\x1C\x00\x9A\x00\x9F\x21\x00\x9F\x02\x00",
                          38);
        QTest::newRow("2 menu") << 2 << QByteArray("/sendTpaOpenMenu") << QJsonObject() << menuSent
                                << QByteArray();
    }
    void commandReachesTerminal()
    {
        REQUIRE_PORT();
        QFETCH(int, type);
        QFETCH(QByteArray, path);
        QFETCH(QJsonObject, arguments);
        QFETCH(QString, answer);
        QFETCH(QByteArray, payload);
        PtyTerminal pty;
        Tpa* const tpa = attach(pty, type, borrowed);
        answerPoll(pty, tpa, type);
        if (QTest::currentTestFailed())
            return;

        QCOMPARE(post(path, fields("A", arguments)), text(success(answer)));
        if (payload.isEmpty()) {
            QCOMPARE(pty.readFor(200), QByteArray());
        } else {
            QCOMPARE(pty.read(frameOf(type, payload).size()), frameOf(type, payload));
            QVERIFY(tpa->isInTransaction());
        }
    }

    // A purchase from the web application's point of view: statuses before and during the
    // transaction, the busy answers to everyone, and the history handed over once at the end.
    void purchaseConversation_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("purchase");
        QTest::addColumn<QByteArray>("ready");
        QTest::addColumn<QByteArray>("approved");
        QTest::newRow("ingenico") << 1 << QByteArray("P05100133304978200001250")
                                  << QByteArray("M000READY") << QByteArray("P0510000APROVADO");
        QTest::newRow("newnote") << 2
                                 << QByteArray("C0001000000000125000001000"
                                               "\x0B\x9F\x1C\x00\x9A\x00\x9F\x21\x00\x9F\x02\x00",
                                               38)
                                 << QByteArray("M001READY") << QByteArray("C0000APROVADO");
    }
    void purchaseConversation()
    {
        REQUIRE_PORT();
        QFETCH(int, type);
        QFETCH(QByteArray, purchase);
        QFETCH(QByteArray, ready);
        QFETCH(QByteArray, approved);
        PtyTerminal pty;
        Tpa* const tpa = attach(pty, type, borrowed);
        QSignalSpy transactionStatuses(tpa, &Tpa::lastTransactionStatusChanged);

        QCOMPARE(post("/getTpaStatus", fields("A")),
                 text(stamped(failure("KVR1001|M98|TPA status not found"))));
        answerPoll(pty, tpa, type);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(post("/getTpaStatus", fields("A")), text(stamped(success(QString(ready)))));

        QCOMPARE(post("/sendTpaPurchase", fields("A", {{"amount", "12.50"}})),
                 text(success("KVR0000|M00|TPA purchase command sent")));
        QCOMPARE(pty.read(frameOf(type, purchase).size()), frameOf(type, purchase));
        QTRY_COMPARE(transactionStatuses.count(), 1);

        QCOMPARE(post("/getTpaStatus", fields("B")), text(stamped(success(busy))));
        QCOMPARE(post("/getTpaStatus", fields("A")), text(stamped(success(QString(ready)))));
        // Every command is refused while the transaction runs, the owner's own included.
        for (const QByteArray& path : commandPaths)
            QVERIFY2(post(path, fields("B", {{"amount", "1.00"}})) == text(success(busy)),
                     path.constData());
        QCOMPARE(post("/sendTpaPurchase", fields("A", {{"amount", "1.00"}})), text(success(busy)));
        QCOMPARE(post("/clearTpaTransactionStatus", fields("A")), text(success(busy)));
        QCOMPARE(pty.readFor(200), QByteArray());
        // The owner follows its transaction without consuming it; others see nothing.
        QCOMPARE(post("/getTpaTransactionStatus", fields("A")), text(success(array({added}))));
        QCOMPARE(post("/getTpaTransactionStatus", fields("B")), text(success(QJsonArray())));
        QCOMPARE(post("/getTpaStatus", fields("A")), text(stamped(success(QString(ready)))));

        pty.write(frameOf(type, approved));
        QCOMPARE(pty.read(1), ack);
        QTRY_VERIFY(!tpa->isInTransaction());
        QCOMPARE(post("/getTpaStatus", fields("B")), text(stamped(success(QString(ready)))));
        QCOMPARE(post("/getTpaTransactionStatus", fields("A")),
                 text(success(array({added, QString(approved)}))));
        QCOMPARE(post("/getTpaTransactionStatus", fields("A")), text(success(QJsonArray())));
    }

    // A status that starts with the time-out code is a failure.
    void timedOutStatusIsFailure()
    {
        REQUIRE_PORT();
        QVERIFY(held);
        QTRY_VERIFY_WITH_TIMEOUT(!held->lastStatus("A").isEmpty(), 15000);
        client->addTpa(std::exchange(held, nullptr));
        ::tcflow(heldLine, TCOON);
        QCOMPARE(post("/getTpaStatus", fields("A")),
                 text(stamped(
                     QJsonObject{{"status", false}, {"data", "KVR1001|M99|Operation Timeout"}})));
    }

    // Requests hold the terminal they found while the main thread unplugs and drops terminals;
    // the request's copy keeps its terminal alive (AddressSanitizer reports any use after free).
    void terminalsVanishUnderRequests()
    {
        REQUIRE_PORT();
        std::atomic<bool> stop{false};
        const quint16 serverPort = port;
        const auto hammer = [&stop, serverPort](QByteArray raw) {
            HttpClient http(true, rootCertificate());
            if (!http.connectTo(serverPort, QStringLiteral("localhost")))
                return -1;
            int answered = 0;
            while (!stop) {
                http.send(raw);
                const Response response = http.readResponse(20000);
                if (!response.complete || response.statusLine != "HTTP/1.1 200 OK")
                    return -1;
                ++answered;
            }
            return answered;
        };
        std::vector<std::future<int>> clients;
        for (const QByteArray path :
             {"/sendTpaPurchase", "/getTpaStatus", "/getTpaTransactionStatus", "/sendTpaOpen"})
            clients.push_back(std::async(std::launch::async, hammer,
                                         postRequest(path, fields("A", {{"amount", "3"}}))));
        clients.push_back(
            std::async(std::launch::async, hammer,
                       request("GET", "/getTpas", "Authorization: Bearer " + key + "\r\n")));

        QElapsedTimer clock;
        clock.start();
        for (int round = 0; clock.elapsed() < 2000; ++round) {
            auto pty = std::make_unique<PtyTerminal>();
            attach(*pty, 1 + round % 2, borrowed);
            QTest::qWait(round % 4 * 5);
            if (round % 3 == 0)
                pty.reset(); // unplugged before the refresh notices
            refreshWithoutPorts();
            QTest::qWait(round % 2 * 5);
        }
        stop = true;
        for (auto& future : clients) {
            QVERIFY(awaitWithEvents(future) > 0);
        }
    }
};

int main(int argc, char* argv[])
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("PRINTARRA_UPDATE_URL", "http://127.0.0.1:1");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setOrganizationName(QStringLiteral("Velora"));
    QCoreApplication::setApplicationName(QStringLiteral("Printarra"));
    QApplication app(argc, argv);
    TestTpaApi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tpaapi.moc"
