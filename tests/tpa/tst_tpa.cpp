#include "ptyterminal.h"
#include "tpa.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {

const QString busy = QStringLiteral("KVR1001|M10|TPA already busy");
const QString added = QStringLiteral("KVR0000|M00|Comando adicionado com sucesso");
const QString offline = QStringLiteral("KVR1001|M22|TPA offline or in error state");
QSet<QString> threadIds()
{
    const QStringList ids =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return QSet<QString>(ids.begin(), ids.end());
}

// Descriptors of this process on a pseudo-terminal's slave side.
int slaveDescriptors()
{
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System))
        count += QFileInfo(fds.filePath(fd)).symLinkTarget().startsWith(QLatin1String("/dev/pts/"));
    return count;
}

bool descriptorOpenOn(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target)
            return true;
    }
    return false;
}

} // namespace

class TestTpa : public QObject
{
    Q_OBJECT

private slots:
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
        const QByteArray tags("\x0B\x9F\x1C\x00\x9A\x00\x9F\x21\x00\x9F\x02\x00", 12);
        row(1, "open", {}, "P001001333049782");
        row(1, "close", {}, "P042101333049782");
        row(1, "purchase", {"12.50"}, "P05100133304978200001250");
        row(1, "purchase", {"1.234,56"}, "P05100133304978200123456");
        row(1, "purchase", {"123456789"}, "P051001333049782123456789");
        row(1, "refund", refund, "P06100133302978200001250T004220240115103000");
        row(1, "refund", {"Ç1", "", "7"}, "P06100133302978200000007Ç1"); // the id as UTF-8
        row(1, "menu", {}, "M00500");
        row(1, "reprint", {}, "M00505");
        row(2, "open", {}, "S000100000011");
        row(2, "close", {}, "S001100000011");
        row(2, "purchase", {"1,5"}, QByteArray("C0001000000000001500001000") + tags);
        row(2, "refund", refund, "C00210000000001250T004220240115103000110");
        row(2, "menu", {}, "");
        row(2, "reprint", {}, "");
        row(7, "open", {}, "");
    }

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
        // A payload puts the terminal in a transaction; the issuer owns it either way.
        QCOMPARE(tpa.isInTransaction(), !payload.isEmpty());
        QCOMPARE(tpa.lastStatus("B"), busy);
    }

    void availability_storedUnderHash()
    {
        // The settings identity of a terminal: stored values depend on it staying the same.
        QCOMPARE(Tpa::hashFor(0, 0), QStringLiteral("FIn5I8TcpykXiz4yM0WFUNjd3yk="));
        QCOMPARE(Tpa::hashFor(0x079B, 0x0028), QStringLiteral("qI1Xp4Q0Dhg+XpQkKsDTdIeIN7o="));
        const QString key = "tpa/" + Tpa::hashFor(0, 0);
        QSettings().remove(key);
        {
            Tpa tpa(QSerialPortInfo(), 0);
            QCOMPARE(tpa.getHash(), Tpa::hashFor(0, 0));
            QVERIFY(tpa.available()); // never seen: available
            QSignalSpy changed(&tpa, &Tpa::availableChanged);
            tpa.setAvailable(false);
            tpa.setAvailable(false);
            QCOMPARE(changed.count(), 2); // announced even when unchanged
            QCOMPARE(QSettings().value(key).toString(), QStringLiteral("false"));
        }
        Tpa tpa(QSerialPortInfo(), 1);
        QVERIFY(!tpa.available()); // read back for the same identifiers
        tpa.setAvailable(true);
        QCOMPARE(QSettings().value(key).toString(), QStringLiteral("true"));
    }

    void ownership_rules()
    {
        Tpa tpa(QSerialPortInfo(), 0);
        tpa.onSetStatus("M000 ONLINE");
        QCOMPARE(tpa.lastStatus("B"), QStringLiteral("M000 ONLINE"));

        tpa.onSetTransactionStatus("nobody owns this"); // dropped
        tpa.setTpaOpen("A");
        QCOMPARE(tpa.lastStatus("B"), busy);
        QCOMPARE(tpa.lastStatus("A"), QStringLiteral("M000 ONLINE"));
        QCOMPARE(tpa.clearLastTransactionStatus("A"), QStringList()); // owned: nothing cleared

        tpa.onInTransactionChanged(true);
        tpa.onSetTransactionStatus("T1");
        QCOMPARE(tpa.lastTransactionStatus("A"), QStringList{"T1"});
        tpa.onSetTransactionStatus("T2");
        QCOMPARE(tpa.lastTransactionStatus("A"), QStringList({"T1", "T2"})); // not consumed
        QCOMPARE(tpa.lastTransactionStatus("B"), QStringList());
        QCOMPARE(tpa.clearLastTransactionStatus("A"), QStringList());
        QCOMPARE(tpa.clearLastTransactionStatus("B"), QStringList());

        tpa.onInTransactionChanged(false);
        QCOMPARE(tpa.lastStatus("B"), QStringLiteral("M000 ONLINE"));
        QCOMPARE(tpa.lastTransactionStatus("A"), QStringList({"T1", "T2"}));
        QCOMPARE(tpa.lastTransactionStatus("A"), QStringList()); // consumed

        tpa.setTpaOpen("B");
        tpa.onSetTransactionStatus("B1");
        tpa.onInTransactionChanged(false);
        tpa.onSetTransactionStatus("late, dropped");
        QCOMPARE(tpa.clearLastTransactionStatus("B"), QStringList{"B1"});
        QCOMPARE(tpa.clearLastTransactionStatus("B"), QStringList());
    }

    // A purchase through an Ingenico worker on a pseudo-terminal; destroying the terminal object
    // then stops its thread and closes the port, so that the device can be opened again at once.
    void serialLine_purchaseThenDestroy()
    {
        PtyTerminal pty;
        QVERIFY(pty.isOpen());
        const QSet<QString> threadsBefore = threadIds();
        auto tpa = std::make_unique<Tpa>(QSerialPortInfo(), 1, nullptr, pty.slavePath());
        QCOMPARE(pty.read(17), ingenicoFrame("M00005LB020000"));
        QVERIFY(descriptorOpenOn(pty.slavePath()));
        const QSet<QString> workerThread = threadIds() - threadsBefore;
        QCOMPARE(workerThread.size(), 1);

        pty.write(ingenicoFrame("M000READY"));
        QCOMPARE(pty.read(1), QByteArray("\x06"));
        QTRY_COMPARE(tpa->lastStatus("A"), QStringLiteral("M000READY"));
        tpa->setTpaPurchase("A", "12.50");
        QCOMPARE(pty.read(27), ingenicoFrame("P05100133304978200001250"));
        const QString prompt = QString::fromUtf8("M001INSIRA CARTÃO");
        pty.write(ingenicoFrame(prompt.toLatin1()) + ingenicoFrame("P0510000APROVADO"));
        QCOMPARE(pty.read(2), QByteArray("\x06\x06"));
        QTRY_VERIFY(!tpa->isInTransaction());
        QCOMPARE(tpa->lastStatus("B"), QStringLiteral("M000READY"));
        QCOMPARE(tpa->lastTransactionStatus("A"), QStringList({added, prompt, "P0510000APROVADO"}));

        tpa.reset();
        // QThread::wait() returns as the thread finishes; it leaves the process a moment later.
        QTRY_VERIFY(!threadIds().intersects(workerThread));
        QVERIFY(!descriptorOpenOn(pty.slavePath()));
        QSerialPort again;
        again.setPortName(pty.slavePath());
        QVERIFY2(again.open(QIODevice::ReadWrite), qPrintable(again.errorString()));
    }

    // A terminal that hangs up and comes back under the same name before the terminal list
    // notices: the port is opened again and commands reach the terminal. A device that is
    // present but cannot be opened is offline, and a command for it fails.
    void serialLine_hangUpAndBack()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ttyUSB%1").arg(getpid()));
        auto pty = std::make_unique<PtyTerminal>();
        QVERIFY(QFile::link(pty->slavePath(), path));
        const int before = slaveDescriptors();
        Tpa tpa(QSerialPortInfo(), 1, nullptr, path);
        QCOMPARE(pty->read(17), ingenicoFrame("M00005LB020000")); // left unanswered
        QCOMPARE(slaveDescriptors(), before + 1);

        pty = std::make_unique<PtyTerminal>(); // hangs up, then is back
        QTRY_COMPARE(slaveDescriptors(), before);
        QVERIFY(QFile::remove(path) && QFile::link(pty->slavePath(), path));
        QVERIFY(tpa.state());
        tpa.setTpaOpen("A");
        QCOMPARE(pty->read(19), ingenicoFrame("P001001333049782"));
        pty->write(ingenicoFrame("P0010000"));
        QCOMPARE(pty->read(1), QByteArray("\x06"));
        QTRY_VERIFY(!tpa.isInTransaction());
        QCOMPARE(tpa.lastTransactionStatus("A"), QStringList({added, "P0010000"}));

        pty.reset();
        QTRY_COMPARE(slaveDescriptors(), before);
        QFile file(path);
        QVERIFY(QFile::remove(path) && file.open(QIODevice::WriteOnly)); // present, no terminal
        QVERIFY(!tpa.state());
        tpa.setTpaOpen("A");
        QTRY_VERIFY(!tpa.isInTransaction());
        QCOMPARE(tpa.lastTransactionStatus("A"), QStringList{offline});
    }

    // The worker's reports land on the main thread while the API reads and commands from a
    // connection thread: every transaction status reaches the owner exactly once, in order.
    void statuses_underConcurrentAccess()
    {
        Tpa tpa(QSerialPortInfo(), 0);
        tpa.setTpaOpen("A");
        const int count = 20000;
        std::atomic<bool> done{false};
        QStringList received;
        int wrongAnswers = 0;

        std::unique_ptr<QThread> reader(QThread::create([&] {
            while (!done.load()) {
                received += tpa.lastTransactionStatus("A");
                wrongAnswers += tpa.lastStatus("B") != busy;
                wrongAnswers += !tpa.lastStatus("A").startsWith('S');
                wrongAnswers += !tpa.clearLastTransactionStatus("C").isEmpty();
                tpa.setTpaOpenMenu("A"); // type without payloads: ownership stays with A
            }
        }));
        tpa.onSetStatus("S");
        reader->start();
        for (int i = 0; i < count; ++i) {
            tpa.onSetStatus(QStringLiteral("S%1").arg(i));
            tpa.onSetTransactionStatus(QString::number(i));
        }
        done = true;
        reader->wait();
        received += tpa.lastTransactionStatus("A");

        QCOMPARE(wrongAnswers, 0);
        QCOMPARE(received.size(), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(received.at(i), QString::number(i));
    }
};

int main(int argc, char** argv)
{
    // A throwaway settings store: the machine's own is never touched.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Velora"));
    app.setApplicationName(QStringLiteral("Printarra"));
    TestTpa test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tpa.moc"
