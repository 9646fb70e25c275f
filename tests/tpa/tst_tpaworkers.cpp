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

// Short where it does not matter; the periodic poll is kept out of the way.
TpaWorker::Timings quick(int transaction = 60000, int statusInterval = 60000)
{
    TpaWorker::Timings t;
    t.statusStart = 60000;
    t.statusInterval = statusInterval;
    t.statusAfterTransaction = 100;
    t.transaction = transaction;
    return t;
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

    static void addTypes()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("ingenico") << 1;
        QTest::newRow("newnote") << 2;
    }

private slots:
    void pollFrame_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ingenico") << 1
                                  << QByteArray("\x02\x4D\x30\x30\x30\x30\x35\x4C\x42\x30\x32\x30"
                                                "\x30\x30\x30\x03\x77");
        QTest::newRow("newnote") << 2
                                 << QByteArray("\x10\x02\x4D\x30\x30\x31\x31\x30\x50\x51\x10\x03"
                                               "\x6F");
    }

    void pollFrame()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, bytes);
        WorkerRig rig(type, quick());
        QVERIFY(rig.pty.isOpen());
        QCOMPARE(rig.pty.read(bytes.size()), bytes);
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
            *row("bad then good") << bad + good << QByteArray("\x15\x06") << QStringList{goodText};
            *row("bytes before the frame")
                << "AB\x06\x15\xff" + good << ack << QStringList{goodText};
            *row("Latin-1 text") << frameOf(type, pollAnswer(type, "Cart\xe3o")) << ack
                                 << QStringList{"status:" + pollAnswer(type, "Cart\xc3\xa3o")};
            *row("terminal message while idle")
                << frameOf(type, "X001ABC") << ack << QStringList{"transaction:X001ABC"};
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
        QTest::newRow("2 M025 not answered")
            << 2 << newnoteFrame("M025") << ack << QStringList{"transaction:M025"};
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
        // A last frame closes what the input could have caused.
        rig.pty.write(frameOf(type, pollAnswer(type, "END")));
        QCOMPARE(rig.pty.read(1), ack);
        events << "status:" + pollAnswer(type, "END");
        QTRY_COMPARE(rig.recorder.events, events);
    }

    void parseStatusMsg_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("removed") << QByteArray("A\x00\x29\x9F\x1C\x9A\x08\x21\x06\x02\x10Z", 12)
                                 << QByteArray("AZ");
        QTest::newRow("kept") << QByteArray("\x03\x15\x0B\x9E\xE3 09")
                              << QByteArray("\x03\x15\x0B\x9E\xE3 09");
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }

    void parseStatusMsg()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, output);
        QCOMPARE(TpaWorkerNewnote::parseStatusMsg(input), output);
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

    void command()
    {
        QFETCH(int, type);
        QFETCH(QString, mode);
        WorkerRig rig(type, quick(60000, mode == "tick" ? 1000 : 60000));
        QCOMPARE(rig.pty.read(pollOf(type).size()), pollOf(type));
        if (mode == "answer first")
            answerPoll(rig, type);

        rig.command(purchaseOf(type));
        QTRY_COMPARE(rig.recorder.of("transaction"), QStringList{added});
        if (mode == "answer after") {
            QCOMPARE(rig.pty.readFor(300), QByteArray());
            answerPoll(rig, type);
        }
        const QByteArray frame = frameOf(type, purchaseOf(type));
        QCOMPARE(rig.pty.read(frame.size()), frame);
        QTRY_COMPARE(rig.recorder.of("inTransaction"), QStringList{"true"});
    }

    void secondCommand_refused_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("running");
        QTest::newRow("1 running") << 1 << true;
        QTest::newRow("1 pending") << 1 << false;
        QTest::newRow("2 running") << 2 << true;
    }

    void secondCommand_refused()
    {
        QFETCH(int, type);
        QFETCH(bool, running);
        WorkerRig rig(type, quick());
        const QByteArray frame = frameOf(type, purchaseOf(type));
        if (running) {
            startPurchase(rig, type);
        } else {
            QCOMPARE(rig.pty.read(pollOf(type).size()), pollOf(type));
            rig.command(purchaseOf(type));
        }
        rig.command("P001001333049782");
        QTRY_COMPARE(rig.recorder.of("transaction"), QStringList({added, refused}));
        if (!running) {
            answerPoll(rig, type);
            QCOMPARE(rig.pty.read(frame.size()), frame);
        }
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
        QTest::newRow("1 M001") << 1 << QByteArray("M001 INSIRA CARTAO") << false;
        for (const char* code : {"C000", "C002", "S000", "S001"})
            QTest::addRow("2 %s", code) << 2 << QByteArray(code) + " OK" << true;
        QTest::newRow("2 M001 poll answer") << 2 << QByteArray("M001") << true;
        QTest::newRow("2 C001") << 2 << QByteArray("C001 PROCESSANDO") << false;
        QTest::newRow("2 M00E 001") << 2 << QByteArray("M00E001") << false;
        QTest::newRow("2 M01101") << 2 << QByteArray("M01101") << false;
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

    void silentTransaction_timesOut_data() { addTypes(); }

    void silentTransaction_timesOut()
    {
        QFETCH(int, type);
        WorkerRig rig(type, quick(300));
        startPurchase(rig, type);
        QTRY_COMPARE(rig.recorder.of("inTransaction"), QStringList({"true", "false"}));
        QCOMPARE(rig.recorder.of("transaction"), QStringList({added, timeout}));
        QCOMPARE(rig.pty.read(pollOf(type).size()), pollOf(type));
    }

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
    }

    void serialErrors_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("resends");
        QTest::newRow("1 time-out") << 1 << int(QSerialPort::TimeoutError) << 3;
        QTest::newRow("1 read error") << 1 << int(QSerialPort::ReadError) << 0;
        QTest::newRow("2 time-out") << 2 << int(QSerialPort::TimeoutError) << 3;
    }

    void serialErrors()
    {
        QFETCH(int, type);
        QFETCH(int, error);
        QFETCH(int, resends);
        WorkerRig rig(type, quick());
        startPurchase(rig, type);

        const auto raise = [&] {
            rig.invoke(
                [error](TpaWorker* w) { w->errorOcurred(QSerialPort::SerialPortError(error)); });
        };
        const QByteArray frame = frameOf(type, purchaseOf(type));
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

    void pollNotWritten_timesOut_data() { addTypes(); }

    void pollNotWritten_timesOut()
    {
        QFETCH(int, type);
        TpaWorker::Timings timings = quick(60000, 300);
        timings.pollWrite = 100;
        WorkerRig rig(type, timings);
        QCOMPARE(rig.pty.read(pollOf(type).size()), pollOf(type));

        // Suspend the line's output, as a stuck device would.
        const int slave = ::open(qPrintable(rig.pty.slavePath()), O_RDWR | O_NOCTTY);
        if (slave < 0)
            QSKIP("cannot open the pseudo-terminal a second time");
        QVERIFY(tcflow(slave, TCOOFF) == 0);
        QTRY_COMPARE(rig.recorder.events.value(0), "status:" + timeout);
        tcflow(slave, TCOON);
        ::close(slave);
    }

    // Before a first transaction the poll guard must not be an unset, zero interval that fires
    // before the poll's bytes are written.
    void writtenPolls_neverTimeOut_data() { addTypes(); }

    void writtenPolls_neverTimeOut()
    {
        QFETCH(int, type);
        WorkerRig rig(type, quick(60000, 150));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(rig.pty.read(pollOf(type).size()), pollOf(type));
        rig.pty.write(frameOf(type, pollAnswer(type, "END")));
        QCOMPARE(rig.pty.read(1), ack);
        QTRY_VERIFY(!rig.recorder.events.isEmpty());
        QCOMPARE(rig.recorder.events, QStringList{"status:" + pollAnswer(type, "END")});
    }

    void portNotOpened_refusesCommands_data() { addTypes(); }

    void portNotOpened_refusesCommands()
    {
        QFETCH(int, type);
        WorkerRig rig(type, quick(), QStringLiteral("/nonexistent/printarra-tty"));
        rig.command(purchaseOf(type));
        rig.command(purchaseOf(type));
        const QString offline = "transaction:KVR1001|M22|TPA offline or in error state";
        QTRY_COMPARE(rig.recorder.events,
                     QStringList({offline, "inTransaction:false", offline, "inTransaction:false"}));
    }
};

QTEST_GUILESS_MAIN(TestTpaWorkers)
#include "tst_tpaworkers.moc"
