// The real program: the single-instance probe and hand-over, and a shop's road from a
// started connector to a receipt at the printer, over HTTPS and the throwaway print system.

#include "printclient.h"
#include "printer.h"
#include "rawprinter.h"
#include "testenv.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

using namespace testsupport;

namespace {
const QByteArray key = "pRoG+/12v4.0";

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

/** The program with its own settings store and temporary folder. */
class Program
{
public:
    Program(const QString& configDir, const QString& tempDir, quint16 port = 0)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir);
        environment.insert(QStringLiteral("TMPDIR"), tempDir);
        environment.insert(QStringLiteral("PRINTARRA_UPDATE_URL"),
                           QStringLiteral("http://127.0.0.1:1"));
        environment.insert(QStringLiteral("PRINTARRA_PORT"),
                           QString::number(port ? port : freePort()));
        // No display at all: the program must choose a headless platform by itself.
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
            environment.remove(QLatin1String(name));
        }
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(QStringLiteral(PRINTARRA_PROGRAM), QStringList());
        process.waitForStarted();
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished();
            }
        }
    }
    /** The exit code, or -1 when the program still runs after the time given. */
    int exitCodeWithin(int milliseconds)
    {
        if (!process.waitForFinished(milliseconds)) {
            return -1;
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    }

    QProcess process;
};

QList<QSslCertificate> rootCertificate()
{
    return QSslCertificate::fromPath(QStringLiteral(PRINTARRA_TLS_DIR "/rootca.pem"));
}

QString storePath(const QString& configDir)
{
    return configDir + QStringLiteral("/Velora/Printarra.conf");
}
} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

private:
    static QJsonObject callApi(quint16 port, const QByteArray& path, const QJsonObject& body = {})
    {
        HttpClient http(true, rootCertificate());
        if (!http.connectTo(port, QStringLiteral("localhost"))) {
            return QJsonObject{{"unreachable", true}};
        }
        const QByteArray data = QJsonDocument(body).toJson(QJsonDocument::Compact);
        http.send("POST " + path + " HTTP/1.1\r\nAuthorization: Bearer " + key +
                  "\r\nContent-Type: application/json\r\nContent-Length: " +
                  QByteArray::number(data.size()) + "\r\n\r\n" + data);
        return QJsonDocument::fromJson(http.readResponse(20000).body).object();
    }
    static bool waitForApi(quint16 port)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 30000) {
            if (!callApi(port, "/getStatus").contains("unreachable")) {
                return true;
            }
            QTest::qWait(200);
        }
        return false;
    }

private slots:
    void initTestCase() { keepThreadLogsOutOfTestLog(); }

    void secondStartExitsWithoutWritingSettings()
    {
        QTemporaryDir firstConfig, secondConfig, sharedTemp;
        Program first(firstConfig.path(), sharedTemp.path());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(sharedTemp.filePath("Printarra")), 20000);

        Program second(secondConfig.path(), sharedTemp.path());
        QCOMPARE(second.exitCodeWithin(20000), 0);
        QVERIFY2(
            QDir(secondConfig.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty(),
            "the second start wrote settings");
        QCOMPARE(first.process.state(), QProcess::Running);
    }

    void freshAliveMarkHandsOverToTheRunningInstance_data()
    {
        QTest::addColumn<int>("age");
        QTest::addColumn<bool>("handsOver");
        QTest::newRow("3 s ago") << 3 << true;
        QTest::newRow("6 s ago") << 6 << false;
    }
    void freshAliveMarkHandsOverToTheRunningInstance()
    {
        QFETCH(int, age);
        QFETCH(bool, handsOver);
        // The test's own store is the running instance's; no local server can be found
        // in an empty temporary folder, so only the settings handshake counts.
        const QString ownConfig = qEnvironmentVariable("XDG_CONFIG_HOME");
        QTemporaryDir emptyTemp;
        {
            QSettings store(storePath(ownConfig), QSettings::IniFormat);
            store.setValue("kicked", QString::number(PrintClient::localSeconds() - age));
            store.setValue("showWindow", false);
            store.sync();
        }
        Program second(ownConfig, emptyTemp.path());
        const int exitCode = second.exitCodeWithin(handsOver ? 20000 : 3000);
        QSettings store(storePath(ownConfig), QSettings::IniFormat);
        if (!handsOver) {
            QCOMPARE(exitCode, -1); // it started normally and still runs
            QCOMPARE(store.value("showWindow", false).toBool(), false);
            return;
        }
        QCOMPARE(exitCode, 0);
        QCOMPARE(store.value("showWindow").toBool(), true);

        PrintClient running;
        QSignalSpy shown(&running, &PrintClient::showWindow);
        running.startup();
        QTest::qWait(1500);
        QCOMPARE(shown.count(), 1);
        QSettings after(storePath(ownConfig), QSettings::IniFormat);
        QCOMPARE(after.value("showWindow").toBool(), false);
    }

    void printsAReceiptEndToEnd()
    {
        RawPrinter printer;
        QVERIFY2(printer.create(), qPrintable(printer.error()));
        QTemporaryDir config, temp;
        {
            QSettings store(storePath(config.path()), QSettings::IniFormat);
            store.setValue("licenseAccepted", true);
            store.setValue("securityKey", QString::fromLatin1(key));
            store.setValue("printers/" + Printer::hashFor(printer.queueName()), true);
            store.sync();
        }
        const quint16 port = freePort();
        Program program(config.path(), temp.path(), port);
        QVERIFY(waitForApi(port));

        QCOMPARE(callApi(port, "/getPrinters").value("data").toArray(),
                 QJsonArray{printer.queueName()});

        const QJsonArray job{QJsonObject{{"op", "text"}, {"data", "Hello\n"}},
                             QJsonObject{{"op", "cut"}, {"data", "full"}}};
        QCOMPARE(callApi(port, "/sendJob", {{"printer", printer.queueName()}, {"job", job}}),
                 (QJsonObject{{"status", true}, {"data", "Job completed successfully"}}));
        QVERIFY(printer.waitForJobs(1));
        const QByteArray expected("\x1b\x40"            // initialise
                                  "\x1b\x74\x00\x0a"    // the reset's line feed
                                  "\x1b\x74\x00Hello\n" // the text
                                  "\x1d\x56\x42\x0a",   // feed and cut
                                  2 + 4 + 9 + 4);
        QCOMPARE(printer.jobs().first(), expected);

        QVERIFY(printer.disable());
        QTRY_COMPARE_WITH_TIMEOUT(
            callApi(port, "/sendJob", {{"printer", printer.queueName()}, {"job", job}})
                .value("error")
                .toString(),
            QString("Printer offline or in error state"), 10000);

        QVERIFY(RawPrinter::runTool("lpadmin", {"-x", printer.queueName()}));
        QTRY_COMPARE_WITH_TIMEOUT(callApi(port, "/getPrinters").value("data").toArray(),
                                  QJsonArray(), 10000);
    }
};

APP_TEST_MAIN(TestProgram)

#include "tst_program.moc"
