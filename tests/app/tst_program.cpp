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
#include <QRegularExpression>
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

QProcessEnvironment environmentFor(const QString& configDir, const QString& tempDir, quint16 port)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), configDir + QStringLiteral("/data"));
    environment.insert(QStringLiteral("TMPDIR"), tempDir);
    environment.insert(QStringLiteral("PRINTARRA_UPDATE_URL"),
                       QStringLiteral("http://127.0.0.1:1"));
    environment.insert(QStringLiteral("PRINTARRA_PORT"), QString::number(port ? port : freePort()));
    // No display at all: the program must choose a headless platform by itself.
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        environment.remove(QLatin1String(name));
    }
    return environment;
}

/** The program with its own settings store, data and temporary folder. */
class Program
{
public:
    Program(const QString& configDir, const QString& tempDir, quint16 port = 0,
            const QStringList& arguments = {})
    {
        process.setProcessEnvironment(environmentFor(configDir, tempDir, port));
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(QStringLiteral(PRINTARRA_PROGRAM), arguments);
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
    QString errors()
    {
        errorText += QString::fromLocal8Bit(process.readAllStandardError());
        return errorText;
    }

    QProcess process;
    QString errorText;
};

struct Answer
{
    int exitCode = -1;
    QString out;
    QString err;
};

/** One command that answers and exits. */
Answer command(const QString& configDir, const QString& tempDir, const QStringList& arguments)
{
    QProcess process;
    process.setProcessEnvironment(environmentFor(configDir, tempDir, 1));
    process.start(QStringLiteral(PRINTARRA_PROGRAM), arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

QList<QSslCertificate> buildCa()
{
    return QSslCertificate::fromPath(QStringLiteral(PRINTARRA_TLS_DIR "/rootca.pem"));
}

QString ownCaPath(const QString& configDir)
{
    return configDir + QStringLiteral("/data/Velora/Printarra/tls/rootca.pem");
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
    static QJsonObject callApi(quint16 port, const QByteArray& path, const QString& caPath,
                               const QJsonObject& body = {})
    {
        HttpClient http(true, QSslCertificate::fromPath(caPath));
        if (!http.connectTo(port, QStringLiteral("localhost"))) {
            return QJsonObject{{"unreachable", true}};
        }
        const QByteArray data = QJsonDocument(body).toJson(QJsonDocument::Compact);
        http.send("POST " + path + " HTTP/1.1\r\nAuthorization: Bearer " + key +
                  "\r\nContent-Type: application/json\r\nContent-Length: " +
                  QByteArray::number(data.size()) + "\r\n\r\n" + data);
        return QJsonDocument::fromJson(http.readResponse(20000).body).object();
    }
    static bool waitForApi(quint16 port, const QString& caPath)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 30000) {
            if (!callApi(port, "/getStatus", caPath).contains("unreachable")) {
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
        const QString ca = ownCaPath(config.path());
        QVERIFY(waitForApi(port, ca));

        QCOMPARE(callApi(port, "/getPrinters", ca).value("data").toArray(),
                 QJsonArray{printer.queueName()});

        const QJsonArray job{QJsonObject{{"op", "text"}, {"data", "Hello\n"}},
                             QJsonObject{{"op", "cut"}, {"data", "full"}}};
        QCOMPARE(callApi(port, "/sendJob", ca, {{"printer", printer.queueName()}, {"job", job}}),
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
            callApi(port, "/sendJob", ca, {{"printer", printer.queueName()}, {"job", job}})
                .value("error")
                .toString(),
            QString("Printer offline or in error state"), 10000);

        QVERIFY(RawPrinter::runTool("lpadmin", {"-x", printer.queueName()}));
        QTRY_COMPARE_WITH_TIMEOUT(callApi(port, "/getPrinters", ca).value("data").toArray(),
                                  QJsonArray(), 10000);
        // Outside debug mode the server writes no line per connection or request.
        QVERIFY2(!program.errors().contains("HttpConnectionHandler"), qPrintable(program.errors()));
    }

    void startThatCannotServeSaysWhy_data()
    {
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("portTaken");
        QTest::addColumn<QString>("line");
        QTest::newRow("terms not accepted") << false << false << "run: printarra --accept-terms";
        QTest::newRow("port in use") << true << true << "port %1 is in use by another program";
        QTest::newRow("TLS folder unusable")
            << true << false << "TLS material is unusable (cannot create the folder";
    }
    void startThatCannotServeSaysWhy()
    {
        QFETCH(bool, accepted);
        QFETCH(bool, portTaken);
        QFETCH(QString, line);
        QTemporaryDir config, temp;
        // The remaining row: a file where the TLS folder belongs.
        QVERIFY(QDir().mkpath(config.filePath("data/Velora/Printarra")));
        QFile blocker(config.filePath("data/Velora/Printarra/tls"));
        if (accepted && !portTaken) {
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        QSettings(storePath(config.path()), QSettings::IniFormat)
            .setValue("licenseAccepted", accepted);
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::Any));
        if (!portTaken) {
            squatter.close(); // free, yet nothing may listen there
        }
        Program program(config.path(), temp.path(), squatter.serverPort());
        QTRY_VERIFY_WITH_TIMEOUT(program.errors().contains(line.arg(squatter.serverPort())), 20000);
        QCOMPARE(program.errors().count("Printarra does not serve"), 1);
        if (!portTaken) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, squatter.serverPort());
            QVERIFY(!probe.waitForConnected(1000));
        }
    }

    void acceptingTermsServesWithTheInstallationsOwnChain()
    {
        QTemporaryDir config, temp;
        QSettings(storePath(config.path()), QSettings::IniFormat).setValue("securityKey", key);
        const quint16 port = freePort();
        Program program(config.path(), temp.path(), port, {"--accept-terms"});
        QVERIFY(waitForApi(port, ownCaPath(config.path())));
        QVERIFY(QSettings(storePath(config.path()), QSettings::IniFormat)
                    .value("licenseAccepted")
                    .toBool());
        // Not the build's chain: a client trusting only the build's CA is refused.
        HttpClient http(true, buildCa());
        QVERIFY(!http.connectTo(port, QStringLiteral("localhost")));
    }

    void commandsAnswerBesideARunningInstance()
    {
        RawPrinter printer;
        QVERIFY2(printer.create(), qPrintable(printer.error()));
        QTemporaryDir config, temp;
        const auto run = [&](const QStringList& arguments) {
            return command(config.path(), temp.path(), arguments);
        };
        // Made as a first start would, and the one the program then uses.
        const Answer key = run({"--show-key"});
        QVERIFY(QRegularExpression("^[A-Za-z0-9+/]{8}v4\\.0\n$").match(key.out).hasMatch());
        Program running(config.path(), temp.path()); // waits for the terms
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(temp.filePath("Printarra")), 20000);
        QCOMPARE(run({"--show-key"}).out, key.out);

        const QString queue = printer.queueName();
        for (const bool on : {true, false}) {
            QCOMPARE(run({on ? "--enable-printer" : "--disable-printer", queue}).exitCode, 0);
            QCOMPARE(QSettings(storePath(config.path()), QSettings::IniFormat)
                         .value("printers/" + Printer::hashFor(queue)),
                     QVariant(on));
            QVERIFY(run({"--list-printers"}).out.contains(queue + (on ? "\ton\n" : "\toff\n")));
        }
        const Answer unknown = run({"--enable-printer", "NoSuchQueue"});
        QVERIFY(unknown.exitCode != 0 && unknown.err.contains("no printer \"NoSuchQueue\""));
        QCOMPARE(run({"--tls-material"}).out, ownCaPath(config.path()) + "\n");
        QVERIFY(!QSslCertificate::fromPath(ownCaPath(config.path())).isEmpty());
        QCOMPARE(running.process.state(), QProcess::Running);
    }
};

APP_TEST_MAIN(TestProgram)

#include "tst_program.moc"
