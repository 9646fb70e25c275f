#include "workerrig.h"

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

// Start, interval, after a transaction, transaction, (poll write): short where it does not
// matter, the periodic poll kept out of the way.
TpaWorker::Timings quick(int transaction = 60000, int statusInterval = 60000)
{
    return {60000, statusInterval, 100, transaction};
}

} // namespace

class TestTpaWorkers : public QObject
{
    Q_OBJECT

    void answerPoll(WorkerRig& rig, int type)
    {
        rig.pty.write(frameOf(type, pollAnswer(type, "READY")));
        QCOMPARE(rig.pty.read(1), ack);
        QTRY_COMPARE(rig.recorder.of("status").size(), 1);
    }

    // Ingenico commands wait for the poll's answer; the other family's leave at once.
    void startPurchase(WorkerRig& rig, int type)
    {
        QCOMPARE(rig.pty.read(pollOf(type).size()), pollOf(type));
        if (type == 1)
            answerPoll(rig, type);
        rig.command(purchaseOf(type));
        QCOMPARE(rig.pty.read(frameOf(type, purchaseOf(type)).size()),
                 frameOf(type, purchaseOf(type)));
        QTRY_COMPARE(rig.recorder.of("inTransaction"), QStringList{"true"});
        QCOMPARE(rig.recorder.of("transaction"), QStringList{added});
    }

private slots:
    void pollFrame_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ingenico") << 1 << QByteArray("\x02M00005LB020000\x03\x77");
        QTest::newRow("newnote") << 2 << QByteArray("\x10\x02M00110PQ\x10\x03\x6F");
    }

    // Repeated polls must not time out: before a first transaction the poll guard must not be
    // an unset, zero interval that fires before the poll's bytes are written.
    void pollFrame()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, bytes);
        WorkerRig rig(type, quick(60000, 150));
        QVERIFY(rig.pty.isOpen());
        for (int i = 0; i < 4; ++i)
            QCOMPARE(rig.pty.read(bytes.size()), bytes);
        rig.pty.write(frameOf(type, pollAnswer(type, "END")));
        QCOMPARE(rig.pty.read(1), ack);
        QTRY_COMPARE(rig.recorder.events, QStringList{"status:" + pollAnswer(type, "END")});
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
            QByteArray bad = good;
            bad[bad.size() - 1] = char(bad.back() ^ 0x41);
            const auto row = [type](const char* name) {
                return &(QTest::addRow("%d %s", type, name) << type);
            };
            *row("good LRC") << good << ack << QStringList{goodText};
            *row("wrong LRC") << bad << QByteArray("\x15") << QStringList();
            *row("bytes before the frame")
                << "AB\x06\x15\xff" + good << ack << QStringList{goodText};
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
        QTest::newRow("2 amount tag removed") << 2
                                              << newnoteFrame("C0001\x9F\x02"
                                                              "50")
                                              << ack << QStringList{"transaction:C000150"};
    }

    void receivedFrame()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, events);

        WorkerRig rig(type, quick());
        QCOMPARE(rig.pty.read(pollOf(type).size()), pollOf(type));
        rig.pty.write(input);
        QCOMPARE(rig.pty.read(reply.size()), reply);
        // A last frame closes what the input could have caused, and shows the line recovered.
        rig.pty.write(frameOf(type, pollAnswer(type, "END")));
        QCOMPARE(rig.pty.read(1), ack);
        events << "status:" + pollAnswer(type, "END");
        QTRY_COMPARE(rig.recorder.events, events);
    }

    void parseStatusMsg()
    {
        const QByteArray removed("A\x00\x29\x9F\x1C\x9A\x08\x21\x06\x02\x10Z", 12);
        QCOMPARE(TpaWorkerNewnote::parseStatusMsg(removed), QByteArray("AZ"));
        const QByteArray kept("\x03\x15\x0B\x9E\xE3 09");
        QCOMPARE(TpaWorkerNewnote::parseStatusMsg(kept), kept);
    }

    void command_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("mode");
        QTest::newRow("1 idle: at once") << 1 << "answer first";
        QTest::newRow("1 with the poll answer") << 1 << "answer after";
        QTest::newRow("1 at the status tick") << 1 << "tick";
        QTest::newRow("2 right after the poll: at once") << 2 << "";
    }

    // A second command is refused whether the first is still pending or already running.
    void command()
    {
        QFETCH(int, type);
        QFETCH(QString, mode);
        WorkerRig rig(type, quick(60000, mode == "tick" ? 1000 : 60000));
        QCOMPARE(rig.pty.read(pollOf(type).size()), pollOf(type));
        if (mode == "answer first")
            answerPoll(rig, type);

        rig.command(purchaseOf(type));
        rig.command("P001001333049782");
        QTRY_COMPARE(rig.recorder.of("transaction"), QStringList({added, refused}));
        if (mode == "answer after") {
            QCOMPARE(rig.pty.readFor(300), QByteArray());
            answerPoll(rig, type);
        }
        const QByteArray frame = frameOf(type, purchaseOf(type));
        QCOMPARE(rig.pty.read(frame.size()), frame);
        QCOMPARE(rig.pty.readFor(300), QByteArray()); // the second never leaves
        QTRY_COMPARE(rig.recorder.of("inTransaction"), QStringList{"true"});
    }

    void terminalMessage_endsTransaction_data()
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

    void terminalMessage_endsTransaction()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, message);
        QFETCH(bool, ends);

        WorkerRig rig(type, quick());
        startPurchase(rig, type);
        rig.pty.write(frameOf(type, message));
        QCOMPARE(rig.pty.read(1), ack);

        QStringList expected{added};
        if (!(type == 2 && message == "M001")) // a poll answer is a status, not a transaction's
            expected << message;
        if (type == 1 && message == "M01101")
            expected << timeout;
        if (ends) {
            QTRY_COMPARE(rig.recorder.of("inTransaction"), QStringList({"true", "false"}));
            // Polling resumes after the short restart, not the long status interval.
            QCOMPARE(rig.pty.read(pollOf(type).size()), pollOf(type));
        } else {
            QCOMPARE(rig.pty.readFor(400), QByteArray());
            QCOMPARE(rig.recorder.of("inTransaction"), QStringList{"true"});
        }
        QTRY_COMPARE(rig.recorder.of("transaction"), expected);
    }

    // Each terminal message pushes the limit back; once the terminal falls silent the
    // transaction times out and polling resumes.
    void terminalMessages_pushTimeoutBack()
    {
        WorkerRig rig(1, quick(1500));
        startPurchase(rig, 1);
        for (int i = 0; i < 8; ++i) { // 300 ms apart: well over one limit in all
            QTest::qWait(300);
            rig.pty.write(ingenicoFrame("M001 AGUARDE"));
            QCOMPARE(rig.pty.read(1), ack);
        }
        QTRY_COMPARE(rig.recorder.of("transaction").size(), 9);
        QVERIFY(!rig.recorder.of("transaction").contains(timeout));
        QTRY_COMPARE(rig.recorder.of("inTransaction"), QStringList({"true", "false"}));
        QCOMPARE(rig.recorder.of("transaction").last(), timeout);
        QCOMPARE(rig.pty.read(pollOf(1).size()), pollOf(1));
    }

    void serialErrors_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("resends");
        QTest::newRow("time-out") << int(QSerialPort::TimeoutError) << 3;
        QTest::newRow("read error") << int(QSerialPort::ReadError) << 0;
    }

    // Serial time-outs resend the frame three times, then report the time-out; a read error
    // resends nothing and leaves the transaction to its time limit.
    void serialErrors()
    {
        QFETCH(int, error);
        QFETCH(int, resends);
        WorkerRig rig(1, quick());
        startPurchase(rig, 1);
        const auto raise = [&] {
            rig.invoke(
                [error](TpaWorker* w) { w->errorOcurred(QSerialPort::SerialPortError(error)); });
        };
        const QByteArray frame = frameOf(1, purchaseOf(1));
        for (int i = 0; i < resends; ++i) {
            raise();
            QCOMPARE(rig.pty.read(frame.size()), frame);
        }
        raise();
        if (resends == 0) {
            QCOMPARE(rig.pty.readFor(300), QByteArray());
            QCOMPARE(rig.recorder.of("inTransaction"), QStringList{"true"});
            return;
        }
        // Reported before the end, while the owner of the terminal can still receive it.
        QTRY_COMPARE(rig.recorder.of("inTransaction"), QStringList({"true", "false"}));
        QCOMPARE(rig.recorder.events.mid(rig.recorder.events.size() - 2),
                 QStringList({"transaction:" + timeout, "inTransaction:false"}));
    }

    // A poll of the second protocol whose bytes cannot leave is reported as timed out.
    void pollNotWritten_timesOut()
    {
        WorkerRig rig(2, {60000, 300, 100, 60000, 100});
        QCOMPARE(rig.pty.read(pollOf(2).size()), pollOf(2));
        // Suspend the line's output, as a stuck device would.
        const int slave = ::open(qPrintable(rig.pty.slavePath()), O_RDWR | O_NOCTTY);
        QVERIFY(slave >= 0 && tcflow(slave, TCOOFF) == 0);
        QTRY_COMPARE(rig.recorder.events.value(0), "status:" + timeout);
        tcflow(slave, TCOON);
        ::close(slave);
    }

    void portNotOpened_refusesCommands()
    {
        WorkerRig rig(1, quick(), QStringLiteral("/nonexistent/printarra-tty"));
        rig.command(purchaseOf(1));
        rig.command(purchaseOf(1));
        const QString offline = "transaction:KVR1001|M22|TPA offline or in error state";
        QTRY_COMPARE(rig.recorder.events,
                     QStringList({offline, "inTransaction:false", offline, "inTransaction:false"}));
    }
};

QTEST_GUILESS_MAIN(TestTpaWorkers)
#include "tst_tpaworkers.moc"
