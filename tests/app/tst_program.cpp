// The real program end to end: a receipt over HTTPS to the throwaway print system, the commands
// beside the running instance, and a second start that leaves.

#include "printclient.h"
#include "rawprinter.h"
#include "testenv.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QtTest>

namespace {
QByteArray key; // made by the first command, as on a first start

// The program with its own settings store, data and temporary folder, and no display at all.
struct Program : QProcess
{
    Program(const QString& config, const QString& temp, quint16 port, const QStringList& args = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", config);
        environment.insert("XDG_DATA_HOME", config + "/data");
        environment.insert("TMPDIR", temp);
        environment.insert("PRINTARRA_UPDATE_URL", "http://127.0.0.1:1");
        environment.insert("PRINTARRA_PORT", QString::number(port));
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(name);
        setProcessEnvironment(environment);
        setProcessChannelMode(QProcess::MergedChannels);
        start(PRINTARRA_PROGRAM, args);
    }
    ~Program() override
    {
        terminate();
        if (!waitForFinished(5000)) {
            kill();
            waitForFinished();
        }
    }
    QString out() { return waitForFinished(20000) ? QString::fromLocal8Bit(readAll()) : "hangs"; }
};

QJsonObject callApi(quint16 port, const QString& ca, const QByteArray& path, QJsonObject body = {})
{
    testsupport::HttpClient http(true, QSslCertificate::fromPath(ca));
    if (!http.connectTo(port, QStringLiteral("localhost")))
        return QJsonObject{{"unreachable", true}};
    const QByteArray data = QJsonDocument(body).toJson(QJsonDocument::Compact);
    http.send("POST " + path + " HTTP/1.1\r\nAuthorization: Bearer " + key +
              "\r\nContent-Type: application/json\r\nContent-Length: " +
              QByteArray::number(data.size()) + "\r\n\r\n" + data);
    return QJsonDocument::fromJson(http.readResponse(20000).body).object();
}
} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testsupport::keepThreadLogsOutOfTestLog(); }

    void printsAReceiptEndToEnd()
    {
        RawPrinter printer;
        QVERIFY2(printer.create(), qPrintable(printer.error()));
        const QString queue = printer.queueName();
        QTemporaryDir config, temp, otherConfig;
        const auto run = [&](const QStringList& arguments) {
            return Program(config.path(), temp.path(), 1, arguments).out();
        };
        key = run({"--show-key"}).toLatin1();
        QVERIFY2(QRegularExpression("^[A-Za-z0-9+/]{8}v4\\.0\n$").match(key).hasMatch(), key);
        key.chop(1);
        QVERIFY(run({"--list-printers"}).contains(queue + "\toff\n")); // never switched on
        QCOMPARE(run({"--enable-printer", queue}), QString());
        const quint16 port = [] {
            QTcpServer probe;
            return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
        }();
        Program program(config.path(), temp.path(), port);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(temp.filePath("Printarra")), 20000); // its socket
        // The terms accepted on the command line beside it: it starts serving.
        Program accept(config.path(), temp.path(), 1, {"--accept-terms"});
        QVERIFY(accept.waitForFinished(20000) && accept.exitCode() == 0);
        const QString ca = config.filePath("data/Velora/Printarra/tls/rootca.pem");
        QTRY_VERIFY_WITH_TIMEOUT(!callApi(port, ca, "/getStatus").contains("unreachable"), 30000);
        // At rest it writes nothing, its settings neither.
        const QString store = config.filePath("Velora/Printarra.conf");
        QTest::qWait(1000);
        const QDateTime stored = QFileInfo(store).lastModified();
        QTest::qWait(5000);
        QCOMPARE(QFileInfo(store).lastModified(), stored);
        // Served with the installation's own chain: a client trusting the build's CA is refused.
        testsupport::HttpClient http(true,
                                     QSslCertificate::fromPath(PRINTARRA_TLS_DIR "/rootca.pem"));
        QVERIFY(!http.connectTo(port, QStringLiteral("localhost")));
        QCOMPARE(callApi(port, ca, "/getPrinters").value("data").toArray(), QJsonArray{queue});
        const QJsonArray job{QJsonObject{{"op", "text"}, {"data", "Hello\n"}},
                             QJsonObject{{"op", "cut"}, {"data", "full"}}};
        QCOMPARE(callApi(port, ca, "/sendJob", {{"printer", queue}, {"job", job}}).value("status"),
                 true);
        QVERIFY(printer.waitForJobs(1));
        // Initialise, the reset's line feed, the text, feed and cut.
        QCOMPARE(printer.jobs().first(),
                 QByteArray("\x1b\x40\x1b\x74\x00\x0a\x1b\x74\x00Hello\n\x1d\x56\x42\x0a", 19));

        // The commands answer beside it, on the same store.
        QCOMPARE(run({"--show-key"}), key + "\n");
        QCOMPARE(run({"--disable-printer", queue}), QString());
        QVERIFY(run({"--list-printers"}).contains(queue + "\toff\n"));
        QCOMPARE(run({"--enable-printer", queue}), QString());
        QVERIFY(run({"--list-printers"}).contains(queue + "\ton\n"));
        QCOMPARE(run({"--tls-material"}), ca + "\n"); // under the organisation's folders
        QVERIFY(run({"--enable-printer", "NoSuchQueue"}).contains("no printer \"NoSuchQueue\""));
        // A second start asks this one to show its window and leaves without writing a store.
        Program second(otherConfig.path(), temp.path(), 1);
        QVERIFY(second.waitForFinished(20000) && second.exitCode() == 0);
        QVERIFY(QDir(otherConfig.path()).isEmpty());
        QByteArray log;
        QTRY_VERIFY((log += program.readAll()).contains("asked: show"));
        QCOMPARE(program.state(), QProcess::Running);
        // Outside debug mode the server writes no line per connection or request.
        QVERIFY(!log.contains("HttpConnectionHandler"));
    }
};

APP_TEST_MAIN(TestProgram)
#include "tst_program.moc"
