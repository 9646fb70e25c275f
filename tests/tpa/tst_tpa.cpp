#include "ptyterminal.h"
#include "tpa.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>

namespace {

const QString busy = QStringLiteral("KVR1001|M10|TPA already busy");
const QString added = QStringLiteral("KVR0000|M00|Comando adicionado com sucesso");
const QByteArray ack("\x06");

QSet<QString> threadIds()
{
    const QStringList ids =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return QSet<QString>(ids.begin(), ids.end());
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

// Runs one builder by name with the given arguments.
void build(Tpa& tpa, const QString& command, const QString& id, const QStringList& args)
{
    if (command == "open")
        tpa.setTpaOpen(id);
    else if (command == "close")
        tpa.setTpaClose(id);
    else if (command == "purchase")
        tpa.setTpaPurchase(id, args.value(0));
    else if (command == "refund")
        tpa.setTpaRefund(id, args.value(0), args.value(1), args.value(2));
    else if (command == "menu")
        tpa.setTpaOpenMenu(id);
    else if (command == "reprint")
        tpa.setTpaReprintLastReceipt(id);
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

        const QByteArray tags("\x0B\x9F\x1C\x00\x9A\x00\x9F\x21\x00\x9F\x02\x00", 12);

        QTest::newRow("1 open") << 1 << "open" << QStringList() << QByteArray("P001001333049782");
        QTest::newRow("1 close") << 1 << "close" << QStringList() << QByteArray("P042101333049782");
        QTest::newRow("1 purchase 12.50")
            << 1 << "purchase" << QStringList{"12.50"} << QByteArray("P05100133304978200001250");
        QTest::newRow("1 purchase 1,5")
            << 1 << "purchase" << QStringList{"1,5"} << QByteArray("P05100133304978200000015");
        QTest::newRow("1 purchase nine digits") << 1 << "purchase" << QStringList{"123456789"}
                                                << QByteArray("P051001333049782123456789");
        QTest::newRow("1 purchase empty")
            << 1 << "purchase" << QStringList{""} << QByteArray("P05100133304978200000000");
        QTest::newRow("1 purchase 1.234,56")
            << 1 << "purchase" << QStringList{"1.234,56"} << QByteArray("P05100133304978200123456");
        QTest::newRow("1 refund") << 1 << "refund"
                                  << QStringList{"T0042", "2024-01-15 10:30:00", "12.50"}
                                  << QByteArray("P061001333029782"
                                                "00001250"
                                                "T0042"
                                                "20240115103000");
        QTest::newRow("1 refund UTF-8 id")
            << 1 << "refund" << QStringList{QString::fromUtf8("Ç1"), "", "7"}
            << QByteArray("P061001333029782"
                          "00000007"
                          "\xc3\x87"
                          "1");
        QTest::newRow("1 menu") << 1 << "menu" << QStringList() << QByteArray("M00500");
        QTest::newRow("1 reprint") << 1 << "reprint" << QStringList() << QByteArray("M00505");

        QTest::newRow("2 open") << 2 << "open" << QStringList() << QByteArray("S000100000011");
        QTest::newRow("2 close") << 2 << "close" << QStringList() << QByteArray("S001100000011");
        QTest::newRow("2 purchase 12.50") << 2 << "purchase" << QStringList{"12.50"}
                                          << QByteArray("C0001000000000125000001000") + tags;
        QTest::newRow("2 purchase 1,5") << 2 << "purchase" << QStringList{"1,5"}
                                        << QByteArray("C0001000000000001500001000") + tags;
        QTest::newRow("2 refund") << 2 << "refund"
                                  << QStringList{"T0042", "2024-01-15 10:30:00", "12.50"}
                                  << QByteArray("C00210000000001250T004220240115103000110");
        QTest::newRow("2 menu") << 2 << "menu" << QStringList() << QByteArray();
        QTest::newRow("2 reprint") << 2 << "reprint" << QStringList() << QByteArray();

        QTest::newRow("other type open") << 7 << "open" << QStringList() << QByteArray();
        QTest::newRow("other type purchase") << 0 << "purchase" << QStringList{"1"} << QByteArray();
    }

    void payload()
    {
        QFETCH(int, type);
        QFETCH(QString, command);
        QFETCH(QStringList, args);
        QFETCH(QByteArray, payload);

        Tpa tpa(QSerialPortInfo(), type);
        QSignalSpy sent(&tpa, &Tpa::sendMessage);
        build(tpa, command, QStringLiteral("A"), args);

        QCOMPARE(sent.count(), payload.isEmpty() ? 0 : 1);
        if (!payload.isEmpty())
            QCOMPARE(sent.at(0).at(0).toByteArray(), payload);
        // A payload puts the terminal in a transaction; the issuer owns it either way.
        QCOMPARE(tpa.isInTransaction(), !payload.isEmpty());
        QCOMPARE(tpa.lastStatus(QStringLiteral("B")), busy);
    }

    void hash_data()
    {
        QTest::addColumn<int>("vendor");
        QTest::addColumn<int>("product");
        QTest::addColumn<QString>("hash");
        QTest::newRow("no USB ids") << 0 << 0 << "FIn5I8TcpykXiz4yM0WFUNjd3yk=";
        QTest::newRow("079b:0028") << 0x079B << 0x0028 << "qI1Xp4Q0Dhg+XpQkKsDTdIeIN7o=";
        QTest::newRow("0403:6001") << 0x0403 << 0x6001 << "3JjFF5VjQmz2frt9wweUhQwrJOI=";
    }

    void hash()
    {
        QFETCH(int, vendor);
        QFETCH(int, product);
        QFETCH(QString, hash);
        QCOMPARE(Tpa::hashFor(quint16(vendor), quint16(product)), hash);
    }

    void availability_storedUnderHash()
    {
        const QString key = QStringLiteral("tpa/") + Tpa::hashFor(0, 0);
        QSettings().remove(key);
        {
            Tpa tpa(QSerialPortInfo(), 0);
            QCOMPARE(tpa.getHash(), Tpa::hashFor(0, 0));
            QVERIFY(tpa.available()); // never seen: available
            QSignalSpy changed(&tpa, &Tpa::availableChanged);

            tpa.setAvailable(false);
            QVERIFY(!tpa.available());
            QCOMPARE(QSettings().value(key).toString(), QStringLiteral("false"));
            tpa.setAvailable(false);
            QCOMPARE(changed.count(), 2); // announced even when unchanged
        }
        {
            Tpa tpa(QSerialPortInfo(), 1);
            QVERIFY(!tpa.available()); // read back for the same identifiers
            tpa.setAvailable(true);
            QCOMPARE(QSettings().value(key).toString(), QStringLiteral("true"));
        }
        QVERIFY(Tpa(QSerialPortInfo(), 2).available());
    }

    void ownership_rules()
    {
        Tpa tpa(QSerialPortInfo(), 0);
        QCOMPARE(tpa.lastStatus("A"), QString()); // nothing reported yet
        tpa.onSetStatus("M000 ONLINE");
        QCOMPARE(tpa.lastStatus("B"), QStringLiteral("M000 ONLINE"));
        QCOMPARE(tpa.lastStatus(""), QStringLiteral("M000 ONLINE"));

        tpa.onSetTransactionStatus("nobody owns this"); // dropped
        tpa.setTpaOpen("A");
        QCOMPARE(tpa.lastStatus("B"), busy);
        QCOMPARE(tpa.lastStatus(""), busy);
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
        QVERIFY(!tpa.isInTransaction());
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

    // A real terminal conversation through an Ingenico worker on a pseudo-terminal.
    void purchase_overSerialLine()
    {
        PtyTerminal pty;
        QVERIFY(pty.isOpen());
        Tpa tpa(QSerialPortInfo(), 1, nullptr, pty.slavePath());

        QCOMPARE(pty.read(17), ingenicoFrame("M00005LB020000"));
        pty.write(ingenicoFrame("M000READY"));
        QCOMPARE(pty.read(1), ack);
        QTRY_COMPARE(tpa.lastStatus("A"), QStringLiteral("M000READY"));

        tpa.setTpaPurchase("A", "12.50");
        QCOMPARE(pty.read(27), ingenicoFrame("P05100133304978200001250"));
        QTRY_COMPARE(tpa.lastTransactionStatus("A"), QStringList{added});
        QCOMPARE(tpa.lastStatus("B"), busy);

        const QString prompt = QString::fromUtf8("M001INSIRA CARTÃO");
        pty.write(ingenicoFrame(prompt.toLatin1()));
        QCOMPARE(pty.read(1), ack);
        QTRY_COMPARE(tpa.lastTransactionStatus("A"), QStringList({added, prompt}));
        QCOMPARE(tpa.clearLastTransactionStatus("A"), QStringList());

        pty.write(ingenicoFrame("P0510000APROVADO"));
        QCOMPARE(pty.read(1), ack);
        QTRY_VERIFY(!tpa.isInTransaction());
        QCOMPARE(tpa.lastStatus("B"), QStringLiteral("M000READY"));
        QCOMPARE(tpa.lastTransactionStatus("A"), QStringList({added, prompt, "P0510000APROVADO"}));
        QCOMPARE(tpa.lastTransactionStatus("A"), QStringList());
    }

    void destroyed_releasesPortAndThread()
    {
        PtyTerminal pty;
        QVERIFY(pty.isOpen());
        const QSet<QString> threadsBefore = threadIds();

        auto* tpa = new Tpa(QSerialPortInfo(), 1, nullptr, pty.slavePath());
        QCOMPARE(pty.read(17), ingenicoFrame("M00005LB020000")); // the worker has the port
        QVERIFY(descriptorOpenOn(pty.slavePath()));
        const QSet<QString> workerThread = threadIds() - threadsBefore;
        QCOMPARE(workerThread.size(), 1);

        // As the controller drops a terminal whose port went away.
        tpa->deleteLater();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        // QThread::wait() returns as the thread finishes; the detached thread leaves the
        // process a moment later.
        QTRY_VERIFY(!threadIds().intersects(workerThread));
        QVERIFY(!descriptorOpenOn(pty.slavePath()));
        QSerialPort again;
        again.setPortName(pty.slavePath());
        QVERIFY2(again.open(QIODevice::ReadWrite), qPrintable(again.errorString()));
        again.close();
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

        QThread* reader = QThread::create([&] {
            while (!done.load()) {
                received += tpa.lastTransactionStatus("A");
                if (tpa.lastStatus("B") != busy)
                    ++wrongAnswers;
                if (!tpa.lastStatus("A").startsWith('S'))
                    ++wrongAnswers;
                if (!tpa.clearLastTransactionStatus("C").isEmpty())
                    ++wrongAnswers;
                tpa.setTpaOpenMenu("A"); // type without payloads: ownership stays with A
            }
        });
        tpa.onSetStatus("S");
        reader->start();
        for (int i = 0; i < count; ++i) {
            tpa.onSetStatus(QStringLiteral("S%1").arg(i));
            tpa.onSetTransactionStatus(QString::number(i));
        }
        done = true;
        reader->wait();
        delete reader;
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
