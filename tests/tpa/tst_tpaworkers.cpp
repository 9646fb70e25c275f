#include "ptyterminal.h"
#include "tpaworkeringenico.h"
#include "tpaworkernewnote.h"

#include <QThread>
#include <QtTest>

namespace {

const QString added = QStringLiteral("KVR0000|M00|Comando adicionado com sucesso");
const QString refused = QStringLiteral("KVR1001|M10|Já existe um comando a ser processado");
const QString timeout = QStringLiteral("KVR1001|M99|Operation Timeout");
const QByteArray ack("\x06");

QByteArray frameOf(int type, const QByteArray& payload)
{
    return type == 1 ? ingenicoFrame(payload) : newnoteFrame(payload);
}
QByteArray pollOf(int type)
{
    return frameOf(type, type == 1 ? "M00005LB020000" : "M00110PQ");
}
QByteArray pollAnswer(int type, const QByteArray& text)
{
    return (type == 1 ? "M000" : "M001") + text;
}
QByteArray purchaseOf(int type)
{
    return type == 1 ? "P05100133304978200001250" : "C0001000000000125000001000";
}

} // namespace

// A worker on a fresh pseudo-terminal in a thread of its own, wired as the terminal object
// wires it; its reports are collected in arrival order. The periodic poll is kept out of the
// way unless asked for.
class WorkerRig : public QObject
{
    Q_OBJECT

public:
    WorkerRig(int type, int transaction = 60000, int statusInterval = 60000,
              const QString& devicePath = QString(), int pollWrite = 5000)
        : worker(type == 1 ? static_cast<TpaWorker*>(new TpaWorkerIngenico(QSerialPortInfo()))
                           : new TpaWorkerNewnote(QSerialPortInfo()))
    {
        worker->setDevicePath(devicePath.isEmpty() ? pty.slavePath() : devicePath);
        worker->setTimings({60000, statusInterval, 100, transaction, pollWrite});
        worker->moveToThread(&thread);
        connect(&thread, &QThread::started, worker, &TpaWorker::startWorker);
        connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        connect(this, &WorkerRig::command, worker, &TpaWorker::setNewCommand);
        connect(worker, &TpaWorker::setLastStatus, this,
                [this](QString s) { events << "status:" + s; });
        connect(worker, &TpaWorker::setLastTransactionStatus, this,
                [this](QString s) { events << "transaction:" + s; });
        connect(worker, &TpaWorker::setInTransactionChanged, this,
                [this](bool on) { events << (on ? "inTransaction:true" : "inTransaction:false"); });
        thread.start();
    }
    ~WorkerRig() override
    {
        thread.quit();
        thread.wait();
    }
    QStringList of(const QString& kind) const // the events of one kind, without the kind
    {
        const QRegularExpression prefix('^' + kind + ':');
        return QStringList(events.filter(prefix)).replaceInStrings(prefix, QString());
    }
    void answerPoll(int type)
    {
        pty.write(frameOf(type, pollAnswer(type, "READY")));
        QCOMPARE(pty.read(1), ack);
        QTRY_COMPARE(of("status").size(), 1);
    }
    // Ingenico commands wait for the poll's answer; the other family's leave at once.
    void startPurchase(int type)
    {
        QCOMPARE(pty.read(pollOf(type).size()), pollOf(type));
        if (type == 1)
            answerPoll(type);
        emit command(purchaseOf(type));
        QCOMPARE(pty.read(frameOf(type, purchaseOf(type)).size()), frameOf(type, purchaseOf(type)));
        QTRY_COMPARE(of("inTransaction"), QStringList{"true"});
    }

    TpaWorker* worker;
    PtyTerminal pty;
    QStringList events; // "status:", "transaction:" and "inTransaction:" entries
    QThread thread;

signals:
    void command(QByteArray command);
};

class TestTpaWorkers : public QObject
{
    Q_OBJECT

private slots:
    // Repeated polls must not time out: before a first transaction the poll guard must not be
    // an unset, zero interval that fires before the poll's bytes are written.
    void pollsRepeat_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ingenico") << 1 << QByteArray("\x02M00005LB020000\x03\x77");
        QTest::newRow("newnote") << 2 << QByteArray("\x10\x02M00110PQ\x10\x03\x6F");
    }

    void pollsRepeat()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, bytes);
        WorkerRig rig(type, 60000, 150);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(rig.pty.read(bytes.size()), bytes);
        rig.pty.write(frameOf(type, pollAnswer(type, "END")));
        QCOMPARE(rig.pty.read(1), ack);
        QTRY_COMPARE(rig.events, QStringList{"status:" + pollAnswer(type, "END")});
    }

    void receivedFrame_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("events");
        for (int type : {1, 2}) {
            const QByteArray good = frameOf(type, pollAnswer(type, "OK"));
            const QString goodText = "status:" + pollAnswer(type, "OK");
            QTest::addRow("%d wrong LRC", type)
                << type << good.left(good.size() - 1) + char(good.back() ^ 0x41)
                << QByteArray("\x15") << QStringList();
            const QByteArray latin1 = pollAnswer(type, "CART\xc3O"); // the terminals' encoding
            QTest::addRow("%d Latin-1 text", type)
                << type << frameOf(type, latin1) << ack
                << QStringList{"status:" + QString::fromLatin1(latin1)};
            QTest::addRow("%d bytes before the frame", type)
                << type << "AB\x06\x15\xff" + good << ack << QStringList{goodText};
        }
        QTest::newRow("1 STX inside frame")
            << 1 << ingenicoFrame("M000\x02X") << ack << QStringList{"status:M000\x02X"};
        QTest::newRow("1 text ends at zero byte")
            << 1 << ingenicoFrame(QByteArray("M000OK\0junk", 11)) << ack
            << QStringList{"status:M000OK"};
        QTest::newRow("1 M025 answered")
            << 1 << ingenicoFrame("M025") << ack + ingenicoFrame("M025000")
            << QStringList{"transaction:M025"};
        QTest::newRow("1 over-long frame abandoned")
            << 1 << '\x02' + QByteArray(TpaWorker::maxFrameSize + 10, 'A') + ingenicoFrame("M000")
            << ack << QStringList{"status:M000"};
        QTest::newRow("2 tags removed") << 2
                                        << newnoteFrame("C0001\x9F\x02"
                                                        "50\x9A\x08\x21\x06\x02\x10Z")
                                        << ack << QStringList{"transaction:C000150Z"};
    }

    // A last frame closes what the input could have caused, and shows the line recovered.
    void receivedFrame()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, events);
        WorkerRig rig(type);
        QCOMPARE(rig.pty.read(pollOf(type).size()), pollOf(type));
        rig.pty.write(input);
        QCOMPARE(rig.pty.read(reply.size()), reply);
        rig.pty.write(frameOf(type, pollAnswer(type, "END")));
        QCOMPARE(rig.pty.read(1), ack);
        events << "status:" + pollAnswer(type, "END");
        QTRY_COMPARE(rig.events, events);
    }

    // A second command is refused whether the first is still pending or already running.
    void secondCommandRefused_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("answerFirst");
        QTest::newRow("1 idle: at once") << 1 << true;
        QTest::newRow("1 with the poll answer") << 1 << false;
        QTest::newRow("2 right after the poll: at once") << 2 << false;
    }

    void secondCommandRefused()
    {
        QFETCH(int, type);
        QFETCH(bool, answerFirst);
        WorkerRig rig(type);
        QCOMPARE(rig.pty.read(pollOf(type).size()), pollOf(type));
        if (answerFirst)
            rig.answerPoll(type);
        emit rig.command(purchaseOf(type));
        emit rig.command("P001001333049782");
        QTRY_COMPARE(rig.of("transaction"), QStringList({added, refused}));
        if (type == 1 && !answerFirst) {
            QCOMPARE(rig.pty.readFor(300), QByteArray());
            rig.answerPoll(type);
        }
        const QByteArray purchase = frameOf(type, purchaseOf(type));
        QCOMPARE(rig.pty.read(purchase.size()), purchase);
        QCOMPARE(rig.pty.readFor(300), QByteArray()); // the second never leaves
    }

    void terminalMessageEndsTransaction_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("ends");
        for (const char* code : {"P001", "P042", "P051", "P061", "P101", "P102", "P142", "P151",
                                 "P155", "P161", "P251", "P261", "M005"})
            QTest::addRow("1 %s", code) << 1 << QByteArray(code) + "0000 APROVADO" << true;
        QTest::newRow("1 M00E 001") << 1 << QByteArray("M00E001") << true;
        QTest::newRow("1 M00E 002") << 1 << QByteArray("M00E002") << false;
        QTest::newRow("1 M01101 times out") << 1 << QByteArray("M01101") << true;
        QTest::newRow("1 M011010") << 1 << QByteArray("M011010") << false;
        for (const char* code : {"C000", "C002", "S000", "S001"})
            QTest::addRow("2 %s", code) << 2 << QByteArray(code) + " OK" << true;
        QTest::newRow("2 M001 poll answer") << 2 << QByteArray("M001") << true;
        QTest::newRow("2 C001") << 2 << QByteArray("C001 PROCESSANDO") << false;
    }

    void terminalMessageEndsTransaction()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, message);
        QFETCH(bool, ends);
        WorkerRig rig(type);
        rig.startPurchase(type);
        rig.pty.write(frameOf(type, message));
        QCOMPARE(rig.pty.read(1), ack);
        QStringList expected{added};
        if (!(type == 2 && message == "M001")) // a poll answer is a status, not a transaction's
            expected << message;
        if (type == 1 && message == "M01101")
            expected << timeout;
        if (ends) // polling resumes after the short restart, not the long status interval
            QCOMPARE(rig.pty.read(pollOf(type).size()), pollOf(type));
        else
            QCOMPARE(rig.pty.readFor(400), QByteArray());
        QTRY_COMPARE(rig.of("inTransaction"),
                     ends ? QStringList({"true", "false"}) : QStringList{"true"});
        QTRY_COMPARE(rig.of("transaction"), expected);
    }

    // Each terminal message pushes the limit back; once the terminal falls silent the
    // transaction times out and polling resumes.
    void terminalMessagesPushTimeoutBack()
    {
        WorkerRig rig(1, 1500);
        rig.startPurchase(1);
        for (int i = 0; i < 8; ++i) { // 300 ms apart: well over one limit in all
            QTest::qWait(300);
            rig.pty.write(ingenicoFrame("M001 AGUARDE"));
            QCOMPARE(rig.pty.read(1), ack);
        }
        QVERIFY(!rig.of("transaction").contains(timeout));
        QTRY_COMPARE(rig.of("inTransaction"), QStringList({"true", "false"}));
        QCOMPARE(rig.of("transaction").size(), 10);
        QCOMPARE(rig.of("transaction").last(), timeout);
        QCOMPARE(rig.pty.read(pollOf(1).size()), pollOf(1));
    }

    // Serial time-outs resend the frame three times, then report the time-out before the end;
    // a read error or a vanished device (unplugged) resends nothing, lets the port go (left
    // open, it would report the error again at once, for ever) and leaves the transaction to
    // its time limit.
    void serialErrors_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("resends");
        QTest::newRow("time-out") << int(QSerialPort::TimeoutError) << 3;
        QTest::newRow("read error") << int(QSerialPort::ReadError) << 0;
        QTest::newRow("device gone") << int(QSerialPort::ResourceError) << 0;
    }

    void serialErrors()
    {
        QFETCH(int, error);
        QFETCH(int, resends);
        WorkerRig rig(1);
        rig.startPurchase(1);
        for (int i = 0; i <= resends; ++i) {
            QMetaObject::invokeMethod(rig.worker, [&rig, error] {
                rig.worker->errorOcurred(QSerialPort::SerialPortError(error));
            });
            if (i < resends)
                QCOMPARE(rig.pty.read(frameOf(1, purchaseOf(1)).size()), frameOf(1, purchaseOf(1)));
        }
        if (resends == 0) {
            QTRY_VERIFY(rig.pty.hungUp());
            QCOMPARE(rig.pty.readFor(300), QByteArray());
            QCOMPARE(rig.of("inTransaction"), QStringList{"true"});
            return;
        }
        QTRY_COMPARE(rig.of("inTransaction"), QStringList({"true", "false"}));
        QVERIFY(!rig.pty.hungUp());
        QCOMPARE(rig.events.mid(rig.events.size() - 2),
                 QStringList({"transaction:" + timeout, "inTransaction:false"}));
    }

    // A poll of the second protocol whose bytes cannot leave is reported as timed out.
    void pollNotWrittenTimesOut()
    {
        WorkerRig rig(2, 60000, 300, QString(), 100);
        QCOMPARE(rig.pty.read(pollOf(2).size()), pollOf(2));
        const int slave = ::open(qPrintable(rig.pty.slavePath()), O_RDWR | O_NOCTTY);
        QVERIFY(slave >= 0 && tcflow(slave, TCOOFF) == 0); // output suspended, as a stuck device
        QTRY_COMPARE(rig.events.value(0), "status:" + timeout);
        tcflow(slave, TCOON);
        ::close(slave);
    }

    void portNotOpenedRefusesCommands()
    {
        WorkerRig rig(1, 60000, 60000, QStringLiteral("/nonexistent/printarra-tty"));
        emit rig.command(purchaseOf(1));
        emit rig.command(purchaseOf(1));
        const QString offline = "transaction:KVR1001|M22|TPA offline or in error state";
        QTRY_COMPARE(rig.events,
                     QStringList({offline, "inTransaction:false", offline, "inTransaction:false"}));
    }
};

QTEST_GUILESS_MAIN(TestTpaWorkers)
#include "tst_tpaworkers.moc"
