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

// Per terminal type (1: Ingenico, 2: Newnote): a frame, the poll, its answer, a purchase.
const auto frameOf = [](int type, const QByteArray& payload) {
    return type == 1 ? ingenicoFrame(payload) : newnoteFrame(payload);
};
const auto pollOf = [](int type) {
    return frameOf(type, type == 1 ? "M00005LB020000" : "M00110PQ");
};
const auto pollAnswer = [](int type, const QByteArray& text) {
    return (type == 1 ? "M000" : "M001") + text;
};
const auto purchaseOf = [](int type) {
    return QByteArray(type == 1 ? "P05100133304978200001250" : "C0001000000000125000001000");
};

} // namespace

// A worker on a fresh pseudo-terminal in a thread of its own, wired as the terminal object
// wires it; its reports are collected in arrival order. The periodic poll waits unless asked for.
class WorkerRig : public QObject
{
    Q_OBJECT

public:
    WorkerRig(int type, int transaction = 60000, const QString& devicePath = QString())
        : type(type)
        , worker(type == 1 ? static_cast<TpaWorker*>(new TpaWorkerIngenico({}))
                           : new TpaWorkerNewnote({}))
    {
        worker->setDevicePath(devicePath.isEmpty() ? pty.slavePath() : devicePath);
        worker->setTimings({60000, 60000, 100, transaction, 5000});
        worker->moveToThread(&thread);
        connect(&thread, &QThread::started, worker, &TpaWorker::startWorker);
        connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        connect(this, &WorkerRig::command, worker, &TpaWorker::setNewCommand);
        const auto log = [this](const QString& kind) {
            return [this, kind](const QVariant& value) { events << kind + value.toString(); };
        };
        connect(worker, &TpaWorker::setLastStatus, this, log("status:"));
        connect(worker, &TpaWorker::setLastTransactionStatus, this, log("transaction:"));
        connect(worker, &TpaWorker::setInTransactionChanged, this, log("inTransaction:"));
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
    void expect(const QByteArray& bytes) { QCOMPARE(pty.read(bytes.size()), bytes); }
    void answerPoll(const QByteArray& text = "READY")
    {
        pty.write(frameOf(type, pollAnswer(type, text)));
        QCOMPARE(pty.read(1), ack);
        QTRY_VERIFY(events.contains("status:" + pollAnswer(type, text)));
    }
    // Ingenico commands wait for the poll's answer; the other type's leave at once.
    void startPurchase()
    {
        expect(pollOf(type));
        if (type == 1)
            answerPoll();
        emit command(purchaseOf(type));
        expect(frameOf(type, purchaseOf(type)));
        QTRY_COMPARE(of("inTransaction"), QStringList{"true"});
    }

    const int type;
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
    void receivedFrame_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("events");
        for (int type : {1, 2}) {
            const QByteArray good = frameOf(type, pollAnswer(type, "OK"));
            QTest::addRow("%d wrong LRC", type)
                << type << good.left(good.size() - 1) + char(good.back() ^ 0x41)
                << QByteArray("\x15") << QStringList();
            QTest::addRow("%d bytes before the frame", type)
                << type << "AB\x06\x15\xff" + good << ack
                << QStringList{"status:" + pollAnswer(type, "OK")};
        }
        QTest::newRow("1 Latin-1 text, the terminals' encoding")
            << 1 << ingenicoFrame("M000CART\xc3O") << ack
            << QStringList{QString::fromLatin1("status:M000CART\xc3O")};
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

    // A last frame closes what the input could have caused, and shows the line recovered. The
    // events are compared whole: a poll guard that fired before the poll left would show.
    void receivedFrame()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, events);
        WorkerRig rig(type);
        rig.expect(pollOf(type));
        rig.pty.write(input);
        rig.expect(reply);
        rig.answerPoll("END");
        QCOMPARE(rig.events, events << "status:" + pollAnswer(type, "END"));
    }

    // A second command is refused whether the first is still pending or already running.
    void secondCommandRefused()
    {
        // Ingenico idle: at once, or with the poll answer; Newnote right after the poll: at once.
        for (const auto& [type, answerFirst] :
             {std::pair(1, true), std::pair(1, false), std::pair(2, false)}) {
            WorkerRig rig(type);
            rig.expect(pollOf(type));
            if (answerFirst)
                rig.answerPoll();
            emit rig.command(purchaseOf(type));
            emit rig.command("P001001333049782");
            QTRY_COMPARE(rig.of("transaction"), QStringList({added, refused}));
            if (type == 1 && !answerFirst) {
                QCOMPARE(rig.pty.readFor(300), QByteArray());
                rig.answerPoll();
            }
            rig.expect(frameOf(type, purchaseOf(type)));
            QCOMPARE(rig.pty.readFor(300), QByteArray()); // the second never leaves
        }
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
        rig.startPurchase();
        rig.pty.write(frameOf(type, message));
        QCOMPARE(rig.pty.read(1), ack);
        QStringList expected{added};
        if (!(type == 2 && message == "M001")) // a poll answer is a status, not a transaction's
            expected << message;
        if (type == 1 && message == "M01101")
            expected << timeout;
        if (ends) // polling resumes after the short restart, not the status interval
            rig.expect(pollOf(type));
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
        WorkerRig rig(1, 800);
        rig.startPurchase();
        for (int i = 0; i < 4; ++i) { // 300 ms apart: well over one limit in all
            QTest::qWait(300);
            rig.pty.write(ingenicoFrame("M001 AGUARDE"));
            QCOMPARE(rig.pty.read(1), ack);
        }
        QVERIFY(!rig.of("transaction").contains(timeout));
        QTRY_COMPARE(rig.of("inTransaction"), QStringList({"true", "false"}));
        QCOMPARE(rig.of("transaction").size(), 6);
        QCOMPARE(rig.of("transaction").last(), timeout);
        rig.expect(pollOf(1));
    }

    // Serial time-outs resend the frame three times, then report the time-out; a read error or a
    // vanished device resends nothing, lets the port go and leaves the transaction to its limit.
    void serialErrors()
    {
        for (auto error :
             {QSerialPort::TimeoutError, QSerialPort::ReadError, QSerialPort::ResourceError}) {
            const int resends = error == QSerialPort::TimeoutError ? 3 : 0;
            WorkerRig rig(1);
            rig.startPurchase();
            for (int i = 0; i <= resends; ++i) {
                QMetaObject::invokeMethod(rig.worker,
                                          [&rig, error] { rig.worker->errorOcurred(error); });
                if (i < resends)
                    rig.expect(frameOf(1, purchaseOf(1)));
            }
            if (resends == 0) {
                QTRY_VERIFY(rig.pty.hungUp());
                QCOMPARE(rig.pty.readFor(300), QByteArray());
                QCOMPARE(rig.of("inTransaction"), QStringList{"true"});
            } else {
                QTRY_COMPARE(rig.of("inTransaction"), QStringList({"true", "false"}));
                QVERIFY(!rig.pty.hungUp());
                QCOMPARE(rig.events.mid(rig.events.size() - 2),
                         QStringList({"transaction:" + timeout, "inTransaction:false"}));
            }
        }
    }

    void portNotOpenedRefusesCommands()
    {
        WorkerRig rig(1, 60000, QStringLiteral("/nonexistent/printarra-tty"));
        emit rig.command(purchaseOf(1));
        emit rig.command(purchaseOf(1));
        const QString offline = "transaction:KVR1001|M22|TPA offline or in error state";
        QTRY_COMPARE(rig.events,
                     QStringList({offline, "inTransaction:false", offline, "inTransaction:false"}));
    }
};

QTEST_GUILESS_MAIN(TestTpaWorkers)
#include "tst_tpaworkers.moc"
