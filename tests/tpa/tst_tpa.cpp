#include "ptyterminal.h"
#include "testenv.h"
#include "tpa.h"

#include <QSerialPort>
#include <QtTest>

#include <memory>

namespace {
const QString busy = QStringLiteral("KVR1001|M10|TPA already busy");
} // namespace

class TestTpa : public QObject
{
    Q_OBJECT

private slots:
    // The API's suite checks the first type's other commands on a terminal.
    void payload_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("payload");
        const auto row = [](int type, const char* command, const QStringList& args,
                            const QByteArray& payload) {
            QTest::addRow("%d %s %s", type, command, qPrintable(args.join('|')))
                << type << QString(command) << args << payload;
        };
        const QStringList refund{"T0042", "2024-01-15 10:30:00", "12.50"};
        row(1, "purchase", {"1.234,56"}, "P05100133304978200123456");
        row(1, "purchase", {"123456789"}, "P051001333049782123456789");
        row(1, "refund", {"Ç1", "", "7"}, "P06100133302978200000007Ç1"); // the id as UTF-8
        row(2, "open", {}, "S000100000011");
        row(2, "close", {}, "S001100000011");
        row(2, "purchase", {"1,5"},
            QByteArray("C0001000000000001500001000\x0B\x9F\x1C\x00\x9A\x00\x9F\x21\x00\x9F\x02\x00",
                       38));
        row(2, "refund", refund, "C00210000000001250T004220240115103000110");
        row(2, "menu", {}, "");
        row(7, "open", {}, "");
    }

    // A payload puts the terminal in a transaction owned by its issuer; other issuers see it busy.
    void payload()
    {
        QFETCH(int, type);
        QFETCH(QString, command);
        QFETCH(QStringList, args);
        QFETCH(QByteArray, payload);
        Tpa tpa(QSerialPortInfo(), type);
        QSignalSpy sent(&tpa, &Tpa::sendMessage);
        if (command == "open")
            tpa.setTpaOpen("A");
        else if (command == "close")
            tpa.setTpaClose("A");
        else if (command == "purchase")
            tpa.setTpaPurchase("A", args.value(0));
        else if (command == "refund")
            tpa.setTpaRefund("A", args.value(0), args.value(1), args.value(2));
        else if (command == "menu")
            tpa.setTpaOpenMenu("A");
        else
            tpa.setTpaReprintLastReceipt("A");
        QCOMPARE(sent.count(), payload.isEmpty() ? 0 : 1);
        QCOMPARE(sent.value(0).value(0).toByteArray(), payload);
        QCOMPARE(tpa.isInTransaction(), !payload.isEmpty());
        QCOMPARE(tpa.lastStatus("B"), busy);
    }

    // Stored values depend on the settings identity of a terminal staying the same.
    void availabilityStoredUnderHash()
    {
        QCOMPARE(Tpa::hashFor(0x079B, 0x0028), QStringLiteral("qI1Xp4Q0Dhg+XpQkKsDTdIeIN7o="));
        const QString key = "tpa/" + Tpa::hashFor(0, 0);
        QCOMPARE(key, QStringLiteral("tpa/FIn5I8TcpykXiz4yM0WFUNjd3yk="));
        QVERIFY(Tpa(QSerialPortInfo(), 0).available()); // never seen: available
        Tpa(QSerialPortInfo(), 0).setAvailable(false);
        QCOMPARE(QSettings().value(key).toString(), QStringLiteral("false"));
        QVERIFY(!Tpa(QSerialPortInfo(), 1).available()); // read back for the same identifiers
    }

    // Beyond the API's purchase: statuses without an owner or after the end are dropped,
    // nothing is cleared while the owner's transaction runs, and clearing hands over the rest.
    void ownership()
    {
        Tpa tpa(QSerialPortInfo(), 0);
        tpa.onSetTransactionStatus("nobody owns this");
        tpa.setTpaOpen("A");
        tpa.onInTransactionChanged(true);
        tpa.onSetTransactionStatus("A1");
        QCOMPARE(tpa.clearLastTransactionStatus("A"), QStringList());
        tpa.onInTransactionChanged(false);
        tpa.onSetTransactionStatus("late, dropped");
        QCOMPARE(tpa.clearLastTransactionStatus("A"), QStringList{"A1"});
    }

    // Destroying the terminal object closes its port: the device can be opened again at once.
    void portClosedWithTheTerminal()
    {
        PtyTerminal pty;
        auto tpa = std::make_unique<Tpa>(QSerialPortInfo(), 1, nullptr, pty.slavePath());
        QCOMPARE(pty.read(17), ingenicoFrame("M00005LB020000"));
        tpa.reset();
        QSerialPort again(pty.slavePath());
        QVERIFY2(again.open(QIODevice::ReadWrite), qPrintable(again.errorString()));
    }
};

APP_TEST_MAIN(TestTpa) // with a throwaway settings store

#include "tst_tpa.moc"
