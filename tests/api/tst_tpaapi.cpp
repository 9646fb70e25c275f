// The terminal endpoints with the payment terminals played on pseudo-terminals (each worker
// opens one as its device, addTpa lists it), and the terminal list's refresh rule. The API
// finds a terminal by its port's name, so the terminals borrow the description of a port this
// machine enumerates; without one the suite is skipped.

#include "apiserver.h"
#include "ptyterminal.h"
#include "testenv.h"
#include "tpa.h"

#include <QPrinterInfo>

using namespace api;
using Port = PrintClient::PortDescription;
using Created = QVector<QPair<int, int>>;
Q_DECLARE_METATYPE(PrintClient::PortDescription)

namespace {
const QString busy = QStringLiteral("KVR1001|M10|TPA already busy");
const QList<QByteArray> commandPaths{"/sendTpaOpen",     "/sendTpaClose",
                                     "/sendTpaPurchase", "/sendTpaRefund",
                                     "/sendTpaOpenMenu", "/sendTpaReprintLastReceipt"};
QByteArray frameOf(int type, const QByteArray& payload)
{
    return type == 1 ? ingenicoFrame(payload) : newnoteFrame(payload);
}
QByteArray pollOf(int type)
{
    return frameOf(type, type == 1 ? "M00005LB020000" : "M00110PQ");
}
QJsonObject ok(const QJsonValue& data)
{
    return {{"status", true}, {"data", data}};
}
// Answers of getTpaStatus carry the controller's version and device in every case.
QJsonObject stamped(QJsonObject object)
{
    object.insert("version", "424");
    object.insert("device", "desktop");
    return object;
}
} // namespace

class TestTpaApi : public QObject
{
    Q_OBJECT

    Server api;
    QSerialPortInfo borrowed;
    PtyTerminal heldPty; // the time-out case's terminal, its line held from the start
    int heldLine = -1;
    Tpa* held = nullptr;

    QJsonObject post(const QByteArray& path, const QString& id, QJsonObject fields = {})
    {
        if (!fields.contains("tpa_port"))
            fields.insert("tpa_port", borrowed.portName());
        fields.insert("terminal_tpa_id", id);
        return api.post(path, fields);
    }
    Tpa* attach(const PtyTerminal& pty, int type, const QSerialPortInfo& info)
    {
        auto* tpa = new Tpa(info, type, nullptr, pty.slavePath());
        api.client->addTpa(tpa);
        return tpa;
    }
    // The terminal answers the worker's first poll; the worker then reports the answer as the
    // terminal's status and lets commands through.
    void answerPoll(PtyTerminal& pty, Tpa* tpa, int type)
    {
        QSignalSpy reported(tpa, &Tpa::lastStatusChanged);
        QCOMPARE(pty.read(pollOf(type).size()), pollOf(type));
        pty.write(frameOf(type, type == 1 ? "M000READY" : "M001READY"));
        QCOMPARE(pty.read(1), QByteArray("\x06"));
        QTRY_COMPARE(reported.count(), 1);
    }
    // An enumeration without the terminals' port: the refresh drops them all.
    void refreshWithoutPorts()
    {
        QMetaObject::invokeMethod(api.client.get(), "onGetTpas",
                                  Q_ARG(QList<QSerialPortInfo>, QList<QSerialPortInfo>()));
    }

private slots:
    void initTestCase()
    {
        borrowed = QSerialPortInfo::availablePorts().value(0);
        if (borrowed.isNull())
            QSKIP(
                "this machine enumerates no serial port whose description terminals could borrow");
        QVERIFY(api.start());
        QVERIFY(api.client->tpaList().isEmpty()); // the borrowed port has no terminal vendor
        // Output stopped, the worker's first poll never leaves; the worker reports a time-out
        // after its poll-write limit of five seconds, which no seam shortens, while the other
        // cases run.
        heldLine = ::open(qPrintable(heldPty.slavePath()), O_RDWR | O_NOCTTY);
        QVERIFY(heldLine >= 0 && ::tcflow(heldLine, TCOOFF) == 0);
        held = new Tpa(borrowed, 1, nullptr, heldPty.slavePath());
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
        ::close(heldLine);
        api.stop();
    }

    void refreshRule_data()
    {
        QTest::addColumn<QList<Port>>("current");
        QTest::addColumn<QList<Port>>("ports");
        QTest::addColumn<QVector<bool>>("survives");
        QTest::addColumn<Created>("created"); // enumeration index and terminal type
        const Port ingenico{0x079B, 0x0028, "ttyUSB0"}, unknown{0x1234, 0x0001, "ttyUSB1"};
        const Port newnote{0x0403, 0x6001, "ttyUSB2"}, moved{0x0403, 0x6001, "ttyUSB3"};
        QTest::newRow("first enumeration")
            << QList<Port>() << QList<Port>{ingenico, unknown, {0, 0, "ttyS0"}, newnote}
            << QVector<bool>() << Created{{0, 1}, {3, 2}};
        QTest::newRow("known port, new name")
            << QList<Port>{ingenico, newnote} << QList<Port>{moved, ingenico}
            << QVector<bool>{true, false} << Created{{0, 2}};
        QTest::newRow("other product, same name")
            << QList<Port>{newnote} << QList<Port>{{0x0403, 0x6015, "ttyUSB2"}}
            << QVector<bool>{false} << Created{{0, 2}};
        QTest::newRow("survivors in any order")
            << QList<Port>{newnote, moved, ingenico} << QList<Port>{ingenico, unknown, newnote}
            << QVector<bool>{true, false, true} << Created();
        QTest::newRow("one port, one entry")
            << QList<Port>{ingenico, ingenico} << QList<Port>{ingenico}
            << QVector<bool>{true, false} << Created();
    }
    void refreshRule()
    {
        QFETCH(QList<Port>, current);
        QFETCH(QList<Port>, ports);
        QVector<bool> kept;
        QTEST(api.client->newTerminals(current, ports, &kept), "created");
        QTEST(kept, "survives");
    }

    // The refresh button rebuilds the list within the call (the enumeration is synchronous);
    // the busy indicator stays on until the next printer list.
    void refreshButton()
    {
        PtyTerminal first, second;
        const QPointer<Tpa> undescribed = attach(first, 1, QSerialPortInfo());
        Tpa* const described = attach(second, 2, borrowed);
        QSignalSpy changed(api.client.get(), &PrintClient::tpasChanged);
        api.client->updateTpas();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(api.client->tpaList().size(), 1);
        QCOMPARE(api.client->tpaList().at(0).data(), described); // its port is still enumerated
        QVERIFY(api.client->isFetching());
        QMetaObject::invokeMethod(api.client.get(), "onGetPrinters",
                                  Q_ARG(QList<QPrinterInfo>, QList<QPrinterInfo>()));
        QVERIFY(!api.client->isFetching());
        QTRY_VERIFY(undescribed.isNull());
    }

    // A terminal switched off leaves the list.
    void listsAvailableTerminals()
    {
        const auto entry = [this](int type) {
            return QJsonObject{{"description", borrowed.description()},
                               {"manufacturer", borrowed.manufacturer()},
                               {"portName", borrowed.portName()},
                               {"productIdentifier", int(borrowed.productIdentifier())},
                               {"vendorIdentifier", int(borrowed.vendorIdentifier())},
                               {"vendorId", type}};
        };
        PtyTerminal first, second;
        Tpa* const ingenico = attach(first, 1, borrowed);
        attach(second, 2, borrowed);
        QCOMPARE(api.get("/getTpas"), ok(QJsonArray{entry(1), entry(2)}));
        ingenico->setAvailable(false);
        QCOMPARE(api.get("/getTpas"), ok(QJsonArray{entry(2)}));
    }

    void lookupRefusals_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("error");
        const QString notFound = QStringLiteral("KVR1001|M21|TPA not found");
        QTest::newRow("switched off") << "off" << notFound;
        QTest::newRow("unplugged") << "unplugged"
                                   << "KVR1001|M22|TPA offline or in error state";
        // An empty port name finds nothing, not even a terminal whose port has no name.
        QTest::newRow("empty port") << "empty port" << notFound;
        QTest::newRow("port in other letter case") << "upper case" << notFound;
        QTest::newRow("dropped by a refresh") << "dropped" << notFound;
    }
    // Every terminal endpoint refuses alike, and nothing reaches the terminal.
    void lookupRefusals()
    {
        QFETCH(QString, situation);
        QFETCH(QString, error);
        auto pty = std::make_unique<PtyTerminal>();
        Tpa* const tpa = attach(*pty, 1, situation == "empty port" ? QSerialPortInfo() : borrowed);
        QCOMPARE(pty->read(pollOf(1).size()), pollOf(1)); // the worker holds the line
        const QString name = situation == "empty port" ? QString() : borrowed.portName();
        const QString portName = situation == "upper case" ? name.toUpper() : name;
        QVERIFY(portName != borrowed.portName() || situation != "upper case");
        if (situation == "off")
            tpa->setAvailable(false);
        else if (situation == "dropped")
            refreshWithoutPorts();
        else if (situation == "unplugged")
            pty.reset(); // the device node goes with the terminal's side of the line
        const QJsonObject refused{{"status", false}, {"error", error}};
        for (const QByteArray& path :
             commandPaths +
                 QList<QByteArray>{"/getTpaTransactionStatus", "/clearTpaTransactionStatus"})
            QVERIFY2(post(path, "A", {{"tpa_port", portName}, {"amount", "1"}}) == refused, path);
        QCOMPARE(post("/getTpaStatus", "A", {{"tpa_port", portName}}), stamped(refused));
        QCOMPARE(pty ? pty->readFor(200) : QByteArray(), QByteArray());
    }

    void commandReachesTerminal_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QJsonObject>("fields");
        QTest::addColumn<QJsonObject>("answer");
        QTest::addColumn<QByteArray>("payload"); // empty: nothing is sent
        const auto row = [](const char* name, int type, const char* path, const QJsonObject& fields,
                            const char* sent, const QByteArray& payload) {
            QTest::newRow(name) << type << QByteArray(path) << fields
                                << ok(QString("KVR0000|M00|TPA %1 command sent").arg(sent))
                                << payload;
        };
        row("open", 1, "/sendTpaOpen", {}, "open", "P001001333049782");
        row("close", 1, "/sendTpaClose", {}, "close", "P042101333049782");
        // A JSON number is no string: the amount arrives empty.
        row("purchase, amount as number", 1, "/sendTpaPurchase", {{"amount", 12.5}}, "purchase",
            "P05100133304978200000000");
        row("refund", 1, "/sendTpaRefund",
            {{"tpa_id", "T0042"}, {"datetime", "2024-01-15 10:30:00"}, {"amount", "12.50"}},
            "refund", "P06100133302978200001250T004220240115103000");
        row("menu", 1, "/sendTpaOpenMenu", {}, "menu open", "M00500");
        row("reprint", 1, "/sendTpaReprintLastReceipt", {}, "reprint last receipt", "M00505");
        row("newnote menu", 2, "/sendTpaOpenMenu", {}, "menu open", "");
    }
    void commandReachesTerminal()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, payload);
        PtyTerminal pty;
        answerPoll(pty, attach(pty, type, borrowed), type);
        QFETCH(QByteArray, path);
        QFETCH(QJsonObject, fields);
        QTEST(post(path, "A", fields), "answer");
        QCOMPARE(pty.readFor(200), payload.isEmpty() ? QByteArray() : frameOf(type, payload));
    }

    // A purchase as the web application sees it: statuses before and during the transaction,
    // busy answers to everyone, and the history handed over once at the end.
    void purchaseConversation_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("purchase");
        QTest::addColumn<QString>("ready");
        QTest::addColumn<QString>("approved");
        QTest::newRow("ingenico") << 1 << QByteArray("P05100133304978200001250") << "M000READY"
                                  << "P0510000APROVADO";
        QTest::newRow("newnote")
            << 2
            << QByteArray(
                   "C0001000000000125000001000\x0B\x9F\x1C\x00\x9A\x00\x9F\x21\x00\x9F\x02\x00", 38)
            << "M001READY"
            << "C0000APROVADO";
    }
    void purchaseConversation()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, purchase);
        QFETCH(QString, ready);
        QFETCH(QString, approved);
        const QString added = QStringLiteral("KVR0000|M00|Comando adicionado com sucesso");
        PtyTerminal pty;
        Tpa* const tpa = attach(pty, type, borrowed);
        QCOMPARE(post("/getTpaStatus", "A"),
                 stamped({{"status", false}, {"error", "KVR1001|M98|TPA status not found"}}));
        answerPoll(pty, tpa, type);
        QCOMPARE(post("/clearTpaTransactionStatus", "A"), ok(QJsonArray()));
        QCOMPARE(post("/sendTpaPurchase", "A", {{"amount", "12.50"}}),
                 ok("KVR0000|M00|TPA purchase command sent"));
        QCOMPARE(pty.read(frameOf(type, purchase).size()), frameOf(type, purchase));
        QTRY_VERIFY(tpa->isInTransaction());
        QCOMPARE(post("/getTpaStatus", "B"), stamped(ok(busy)));
        QCOMPARE(post("/getTpaStatus", "A"), stamped(ok(ready)));
        // Every command is refused while the transaction runs, the owner's own included.
        for (const QByteArray& path :
             commandPaths + QList<QByteArray>{"/clearTpaTransactionStatus"})
            QVERIFY2(post(path, "A", {{"amount", "1"}}) == ok(busy), path);
        QCOMPARE(pty.readFor(200), QByteArray());
        // The owner follows its transaction without consuming it; others see nothing.
        QCOMPARE(post("/getTpaTransactionStatus", "A"), ok(QJsonArray{added}));
        QCOMPARE(post("/getTpaTransactionStatus", "B"), ok(QJsonArray()));
        pty.write(frameOf(type, approved.toLatin1()));
        QCOMPARE(pty.read(1), QByteArray("\x06"));
        QTRY_VERIFY(!tpa->isInTransaction());
        QCOMPARE(post("/getTpaStatus", "B"), stamped(ok(ready)));
        QCOMPARE(post("/getTpaTransactionStatus", "A"), ok(QJsonArray{added, approved}));
        QCOMPARE(post("/getTpaTransactionStatus", "A"), ok(QJsonArray()));
    }

    // A status that starts with the time-out code is a failure.
    void timedOutStatusIsFailure()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!held->lastStatus("A").isEmpty(), 15000);
        api.client->addTpa(std::exchange(held, nullptr));
        ::tcflow(heldLine, TCOON);
        QCOMPARE(post("/getTpaStatus", "A"),
                 stamped({{"status", false}, {"data", "KVR1001|M99|Operation Timeout"}}));
    }
};

APP_TEST_MAIN(TestTpaApi)

#include "tst_tpaapi.moc"
