// The terminal endpoints with Ingenico terminals played on pseudo-terminals (addTpa lists each).
// The API finds a terminal by its port's name, so the terminals borrow the description of a
// port this machine enumerates; without one the suite is skipped.

#include "apiserver.h"
#include "ptyterminal.h"
#include "testenv.h"
#include "tpa.h"

#include <QPrinterInfo>

using namespace api;

namespace {
const QString busy = QStringLiteral("KVR1001|M10|TPA already busy");
const QByteArray pollFrame = ingenicoFrame("M00005LB020000");
const QList<QByteArray> commandPaths{"/sendTpaOpen",     "/sendTpaClose",
                                     "/sendTpaPurchase", "/sendTpaRefund",
                                     "/sendTpaOpenMenu", "/sendTpaReprintLastReceipt"};
QJsonObject ok(const QJsonValue& data)
{
    return {{"status", true}, {"data", data}};
}
QJsonObject stamped(QJsonObject object) // as getTpaStatus answers, in every case
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
    Tpa* attach(const PtyTerminal& pty, const QSerialPortInfo& info, int type = 1)
    {
        auto* tpa = new Tpa(info, type, nullptr, pty.slavePath());
        api.client->addTpa(tpa);
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
        // Output stopped, the first poll never leaves: the worker reports a time-out after its
        // poll-write limit of five seconds while the other cases run.
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

    // A terminal switched off leaves the API's list. The refresh button rebuilds the list
    // within the call, keeping one terminal per port still enumerated; the busy indicator stays
    // on until the next printer list.
    void listAndRefresh()
    {
        const auto entry = [this](int type) {
            return QJsonObject{{"description", borrowed.description()},
                               {"manufacturer", borrowed.manufacturer()},
                               {"portName", borrowed.portName()},
                               {"productIdentifier", int(borrowed.productIdentifier())},
                               {"vendorIdentifier", int(borrowed.vendorIdentifier())},
                               {"vendorId", type}};
        };
        PtyTerminal first, second, third;
        Tpa* const ingenico = attach(first, borrowed);
        const QPointer<Tpa> newnote = attach(second, borrowed, 2);
        QCOMPARE(api.get("/getTpas"), ok(QJsonArray{entry(1), entry(2)}));
        ingenico->setAvailable(false);
        QCOMPARE(api.get("/getTpas"), ok(QJsonArray{entry(2)}));
        const QPointer<Tpa> undescribed = attach(third, QSerialPortInfo());
        QSignalSpy changed(api.client.get(), &PrintClient::tpasChanged);
        api.client->updateTpas();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(api.client->tpaList().size(), 1);
        QCOMPARE(api.client->tpaList().at(0).data(), ingenico);
        QVERIFY(api.client->isFetching());
        QMetaObject::invokeMethod(api.client.get(), "onGetPrinters",
                                  Q_ARG(QList<QPrinterInfo>, QList<QPrinterInfo>()));
        QVERIFY(!api.client->isFetching());
        QTRY_VERIFY(undescribed.isNull() && newnote.isNull());
    }

    // Every terminal endpoint refuses alike, and nothing reaches the terminal. An empty port
    // name finds nothing, not even a terminal whose port has no name.
    void lookupRefusals_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("error");
        for (const char* situation : {"off", "empty port", "upper case", "dropped"})
            QTest::newRow(situation) << situation << "KVR1001|M21|TPA not found";
        QTest::newRow("unplugged") << "unplugged"
                                   << "KVR1001|M22|TPA offline or in error state";
    }
    void lookupRefusals()
    {
        QFETCH(QString, situation);
        auto pty = std::make_unique<PtyTerminal>();
        Tpa* const tpa = attach(*pty, situation == "empty port" ? QSerialPortInfo() : borrowed);
        QCOMPARE(pty->read(pollFrame.size()), pollFrame); // the worker holds the line
        const QString name = situation == "empty port" ? QString() : borrowed.portName();
        const QString portName = situation == "upper case" ? name.toUpper() : name;
        QVERIFY(portName != borrowed.portName() || situation != "upper case");
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
            QVERIFY2(post(path, "A", {{"tpa_port", portName}, {"amount", "1"}}) == refused, path);
        QCOMPARE(post("/getTpaStatus", "A", {{"tpa_port", portName}}), stamped(refused));
        QCOMPARE(pty ? pty->readFor(200) : QByteArray(), QByteArray());
    }

    void commandReachesTerminal_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QJsonObject>("fields");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QByteArray>("payload");
        const auto row = [](const char* path, const QJsonObject& fields, const char* sent,
                            const QByteArray& payload) {
            QTest::newRow(path) << QByteArray(path) << fields << sent << payload;
        };
        row("/sendTpaOpen", {}, "open", "P001001333049782");
        row("/sendTpaClose", {}, "close", "P042101333049782");
        // A JSON number is no string: the amount arrives empty.
        row("/sendTpaPurchase", {{"amount", 12.5}}, "purchase", "P05100133304978200000000");
        row("/sendTpaRefund",
            {{"tpa_id", "T0042"}, {"datetime", "2024-01-15 10:30:00"}, {"amount", "12.50"}},
            "refund", "P06100133302978200001250T004220240115103000");
        row("/sendTpaOpenMenu", {}, "menu open", "M00500");
        row("/sendTpaReprintLastReceipt", {}, "reprint last receipt", "M00505");
    }
    void commandReachesTerminal()
    {
        QFETCH(QByteArray, path);
        QFETCH(QJsonObject, fields);
        QFETCH(QString, sent);
        PtyTerminal pty;
        answerPoll(pty, attach(pty, borrowed));
        QCOMPARE(post(path, "A", fields), ok(QString("KVR0000|M00|TPA %1 command sent").arg(sent)));
        QFETCH(QByteArray, payload);
        QCOMPARE(pty.readFor(200), ingenicoFrame(payload));
    }

    // A purchase as the web application sees it: statuses before and during the transaction,
    // busy answers to everyone, and the history handed over once at the end.
    void purchaseConversation()
    {
        const QString added = QStringLiteral("KVR0000|M00|Comando adicionado com sucesso");
        const QString ready = "M000READY", approved = "P0510000APROVADO";
        PtyTerminal pty;
        Tpa* const tpa = attach(pty, borrowed);
        QCOMPARE(post("/getTpaStatus", "A"),
                 stamped({{"status", false}, {"error", "KVR1001|M98|TPA status not found"}}));
        answerPoll(pty, tpa);
        QCOMPARE(post("/clearTpaTransactionStatus", "A"), ok(QJsonArray()));
        QCOMPARE(post("/sendTpaPurchase", "A", {{"amount", "12.50"}}),
                 ok("KVR0000|M00|TPA purchase command sent"));
        QCOMPARE(pty.read(27), ingenicoFrame("P05100133304978200001250"));
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
        pty.write(ingenicoFrame(approved.toLatin1()));
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
