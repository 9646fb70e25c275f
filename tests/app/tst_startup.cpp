// The decisions taken before the controller exists (window size, translation, hand-over,
// instance probe) and the debug-mode log capture with its line format.

#include "messagehandler.h"
#include "printclient.h"
#include "startup.h"
#include "testenv.h"

#include <QDir>
#include <QLocalServer>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QThread>
#include <QTranslator>
#include <QtTest>

#include <cstdio>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Installs the log capture for the controller and sends standard error to a file until take().
class Capture
{
public:
    explicit Capture(PrintClient* client)
    {
        file.open();
        fflush(stderr);
        savedStderr = dup(STDERR_FILENO);
        dup2(file.handle(), STDERR_FILENO);
        printClient = client;
        previous = qInstallMessageHandler(messageHandler);
    }
    ~Capture() { take(); }
    QByteArray take() // what reached standard error
    {
        if (savedStderr < 0) {
            return {};
        }
        qInstallMessageHandler(previous);
        printClient = nullptr;
        fflush(stderr);
        dup2(savedStderr, STDERR_FILENO);
        close(savedStderr);
        savedStderr = -1;
        file.seek(0);
        return file.readAll();
    }

private:
    QTemporaryFile file;
    int savedStderr = -1;
    QtMessageHandler previous = nullptr;
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void windowSize_data();
    void windowSize();
    void translationFile_data();
    void translationFile();
    void builtTranslations_data();
    void builtTranslations();
    void handOver_data();
    void handOver();
    void instanceProbe();
    void logCapture();
    void captureFromOtherThreads();
};

void TestStartup::windowSize_data()
{
    QTest::addColumn<QSize>("available");
    QTest::addColumn<QSize>("window");
    QTest::newRow("large screen") << QSize(1920, 1050) << QSize(950, 700);
    QTest::newRow("one pixel narrower than the cap") << QSize(1049, 800) << QSize(949, 699);
    QTest::newRow("exactly the cap plus margin") << QSize(1050, 800) << QSize(950, 700);
    QTest::newRow("one pixel lower than the cap") << QSize(1366, 799) << QSize(948, 699);
    QTest::newRow("narrow branch ignores the height") << QSize(800, 300) << QSize(700, 515);
}

void TestStartup::windowSize()
{
    QFETCH(QSize, available);
    QTEST(Startup::windowSize(available), "window");
}

void TestStartup::translationFile_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("suffix");
    // clang-format off
    QTest::newRow("pt_BR") << "pt_BR" << "pt";
    QTest::newRow("en_GB") << "en_GB" << "en";
    QTest::newRow("bare language") << "es" << "es";
    QTest::newRow("German falls back") << "de_DE" << "en";
    QTest::newRow("case-sensitive") << "PT_br" << "en";
    QTest::newRow("empty") << "" << "en";
    QTest::newRow("leading separator") << "_pt" << "en";
    // clang-format on
}

void TestStartup::translationFile()
{
    QFETCH(QString, locale);
    QFETCH(QString, suffix);
    QCOMPARE(Startup::translationFile(locale, "/opt/app"), "/opt/app/printclient_" + suffix);
}

void TestStartup::builtTranslations_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("text");
    // clang-format off
    QTest::newRow("en key copied") << "en_US" << "Initial" << "Copiado!" << "Copied!";
    QTest::newRow("es key copied") << "es_ES" << "Initial" << "Copiado!" << "Copiada!";
    QTest::newRow("pt key copied") << "pt_PT" << "Initial" << "Copiado!" << "Copiado!";
    QTest::newRow("de falls back to en") << "de_DE" << "main" << "Sair" << "Quit";
    QTest::newRow("es two lines") << "es_ES" << "main"
        << "Uma nova versão do Printarra \nestá disponível para descarregar."
        << "Una nueva versión de Printarra \nestá disponible para descargar.";
    QTest::newRow("en two lines") << "en_GB" << "main"
        << "Uma nova versão do Printarra \nestá disponível para descarregar."
        << "A new version of Printarra\nis available for download.";
    QTest::newRow("en tray on") << "en_GB" << "PrintClient" << "Serviço de impressão ligado"
        << "Print service on";
    QTest::newRow("es tray off") << "es_ES" << "PrintClient" << "Serviço de impressão desligado"
        << "Servicio de impresión desconectado";
    QTest::newRow("en row badge") << "en_GB" << "PrinterListItem" << "Desligado" << "Turn off";
    QTest::newRow("en list row switch") << "en_GB" << "TpaListItem" << "Inativo" << "Disabled";
    QTest::newRow("es About version") << "es_ES" << "OverlayAbout" << "Versão: " << "Versión: ";
    // clang-format on
}

// The compiled files beside the program, as the program finds and loads them.
void TestStartup::builtTranslations()
{
    QFETCH(QString, locale);
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, text);
    QTranslator translator;
    QVERIFY(
        translator.load(Startup::translationFile(locale, QStringLiteral(PRINTARRA_PROGRAM_DIR))));
    QCOMPARE(translator.translate(context.toUtf8(), source.toUtf8()), text);
}

void TestStartup::handOver_data()
{
    // "kicked" and now in local wall-clock seconds.
    const qint64 now = 1767225600; // 2026-01-01 00:00:00
    QTest::addColumn<qint64>("kicked");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<bool>("handOver");
    QTest::newRow("same second") << now << now << false;
    QTest::newRow("1 s ago") << now - 1 << now << true;
    QTest::newRow("5 s ago") << now - 5 << now << true;
    QTest::newRow("6 s ago") << now - 6 << now << false;
    QTest::newRow("in the future") << now + 2 << now << false;
    QTest::newRow("never written") << qint64(0) << now << false;
    // A difference that is 3 only modulo 2^32 is not a recent mark.
    QTest::newRow("wraps in 32 bits") << now - (qint64(1) << 32) + 3 << now << false;
    QTest::newRow("beyond 2038") << (qint64(1) << 32) << (qint64(1) << 32) + 2 << true;
}

void TestStartup::handOver()
{
    QFETCH(qint64, kicked);
    QFETCH(qint64, now);
    QTEST(Startup::shouldHandOver(kicked, now), "handOver");
}

void TestStartup::instanceProbe()
{
    const QString name =
        QStringLiteral("printarra-probe-%1").arg(QCoreApplication::applicationPid());
    QVERIFY(!Startup::isAnotherInstanceRunning(name));

    // A socket file left behind by a crashed instance: nobody answers on it.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QDir::temp().filePath(name).toLocal8Bit(), sizeof(address.sun_path));
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    QCOMPARE(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    close(fd);
    QVERIFY(!Startup::isAnotherInstanceRunning(name));

    // The new instance takes the name over in spite of the stale file, and is found.
    {
        QLocalServer server;
        Startup::createLocalServer(server, name);
        QVERIFY(Startup::isAnotherInstanceRunning(name));
    }
    QVERIFY(!Startup::isAnotherInstanceRunning(name));
}

void TestStartup::logCapture()
{
    PrintClient client;
    QSignalSpy changed(&client, &PrintClient::debugMessagesChanged);
    Capture capture(&client);
    for (int i = 0; i < 150; ++i) {
        qDebug("line %d", i);
    }
    qWarning("a warning");
    qInfo("an info");
    qCritical("critical %s", "%1 kept");
    const QMessageLogContext context("/usr/src/lib/part/other.cpp", 12, "int g()", "default");
    messageHandler(QtDebugMsg, context, QStringLiteral("from elsewhere %1"));
    messageHandler(QtWarningMsg, context, QStringLiteral("dropped"));
    const QByteArray written = capture.take();

    const QStringList lines = client.debugMessages();
    QCOMPARE(lines.size(), 100);
    QCOMPARE(changed.count(), 152);
    // Only lines with a source position (not our own) also reach standard error.
    QCOMPARE(written, lines.at(0).toLocal8Bit() + '\n');
    const QString stamp = QStringLiteral(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\]: )");
    QVERIFY(QRegularExpression(stamp + R"(from elsewhere %1\n\tother\.cpp:12 int g\(\)$)")
                .match(lines.at(0))
                .hasMatch());
    QVERIFY(QRegularExpression(stamp + "critical %1 kept$").match(lines.at(1)).hasMatch());
    for (int i = 2; i < 100; ++i) {
        QVERIFY2(lines.at(i).endsWith(QStringLiteral("]: line %1").arg(151 - i)),
                 qPrintable(lines.at(i)));
    }
    // The timestamp is the local time of capture.
    const QDateTime when = QDateTime::fromString(lines.at(0).mid(1, 23), "yyyy-MM-dd HH:mm:ss.zzz");
    QVERIFY(qAbs(when.secsTo(QDateTime::currentDateTime())) < 60);
}

void TestStartup::captureFromOtherThreads()
{
    PrintClient client;
    QList<QThread*> notifiedIn;
    connect(
        &client, &PrintClient::debugMessagesChanged, &client,
        [&notifiedIn] { notifiedIn.append(QThread::currentThread()); }, Qt::DirectConnection);
    {
        Capture capture(&client);
        QList<QThread*> threads;
        for (int t = 0; t < 4; ++t) {
            threads.append(QThread::create([t] {
                for (int i = 0; i < 60; ++i) {
                    qDebug("thread %d line %d", t, i);
                }
            }));
            threads.last()->start();
        }
        for (QThread* thread : threads) {
            QVERIFY(thread->wait(10000));
            delete thread;
        }
    }
    // No update got lost: the newest 100 of 240 distinct lines, announced in the main thread.
    QStringList lines = client.debugMessages();
    lines.removeDuplicates();
    QCOMPARE(lines.size(), 100);
    QTRY_COMPARE(notifiedIn.size(), 240);
    QCOMPARE(notifiedIn.count(QThread::currentThread()), 240);
}

APP_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
