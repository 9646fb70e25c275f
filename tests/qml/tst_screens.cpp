// The screens against a real controller (Qt Quick Test: tst_*.qml in name order, or -input), from
// an empty store, or with PRINTARRA_LATER_START from one with the terms accepted and a key.

#include "messagehandler.h"
#include "ptyterminal.h"
#include "qmltestenv.h"
#include "testenv.h"
#include "testsupport.h"
#include "tpa.h"

#include <QQmlEngine>
#include <QtQuickTest/quicktest.h>

// What the screens' tests need besides the controller.
class TestSupport : public QObject
{
    Q_OBJECT

public:
    Q_INVOKABLE QVariant storedValue(const QString& key) const { return QSettings().value(key); }
    Q_INVOKABLE QVariant printerSetting(const QString& name) const
    {
        return QSettings().value("printers/" + Printer::hashFor(name));
    }
    // A condition as the print system reports it, until the next report.
    Q_INVOKABLE void setReasons(QObject* printer, const QStringList& reasons) const
    {
        qobject_cast<Printer*>(printer)->setCondition(QStringLiteral("idle"), reasons, true);
    }
    Q_INVOKABLE int pictureCount(const QString& folder) const
    {
        return QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files).size();
    }
    // A terminal on a pseudo-terminal, listed until the controller's next refresh of the ports.
    Q_INVOKABLE QObject* addTerminal()
    {
        auto* terminal = new Tpa(QSerialPortInfo("ttyUSB_screens"), 1, nullptr, pty.slavePath());
        printClient->addTpa(terminal);
        return terminal;
    }
    // The API's answer to a status request, from another thread (the API reads the controller).
    Q_INVOKABLE QString apiStatus() const
    {
        auto answer = testsupport::requestOffThread(
            printClient->listenPort(),
            "GET /getStatus HTTP/1.1\r\nAuthorization: Bearer " +
                printClient->securityKey().toLatin1() + "\r\n\r\n",
            QSslCertificate::fromPath(QStringLiteral(PRINTARRA_TLS_DIR "/rootca.pem")));
        return testsupport::awaitWithEvents(answer).body;
    }

signals:
    void quitRequested(); // Qt.quit()

private:
    PtyTerminal pty;
};

class Setup : public QObject
{
    Q_OBJECT

public slots:
    void qmlEngineAvailable(QQmlEngine* engine) // each test file has an engine of its own
    {
        qmltestenv::publish(engine->rootContext(), printClient);
        engine->rootContext()->setContextProperty(QStringLiteral("testSupport"), &support);
        connect(engine, &QQmlEngine::quit, &support, &TestSupport::quitRequested);
        // A test passes only if the screens made no QML warning (binding loops, type errors);
        // the engine prints them.
        connect(engine, &QQmlEngine::warnings, this,
                [this](const QList<QQmlError>& errors) { warnings += errors.size(); });
    }

public:
    int warnings = 0;
    TestSupport support;
};

int main(int argc, char* argv[])
{
    QTemporaryDir configHome, previewFolder; // pictures of the preview printer stay out of $HOME
    testenv::prepare(configHome.path());
    QApplication app(argc, argv);
    QSettings().setValue(QStringLiteral("previewFolder"), previewFolder.path());
    QSettings().setValue(QStringLiteral("jobTimeout"), 1);
    if (qEnvironmentVariableIsSet("PRINTARRA_LATER_START")) {
        QSettings().setValue(QStringLiteral("licenseAccepted"), true);
        QSettings().setValue(QStringLiteral("securityKey"), QStringLiteral("wInD+/12v4.0"));
    }
    testenv::Queue usable(QStringLiteral("Balcao_%1").arg(app.applicationPid()));
    testenv::Queue stopped(QStringLiteral("Parado_%1").arg(app.applicationPid()));
    if (!usable.ok || !stopped.ok || !RawPrinter::runTool("cupsdisable", {stopped.name})) {
        qWarning("no print queues on the scheduler at CUPS_SERVER");
        return 1;
    }
    qputenv("PRINTARRA_PORT", QByteArray::number(testenv::freePort()));
    Startup::registerQmlTypes();
    printClient = new PrintClient();
    printClient->startup();
    Setup setup;
    const int failed =
        quick_test_main_with_setup(argc, argv, "screens", QUICK_TEST_SOURCE_DIR, &setup);
    delete std::exchange(printClient, nullptr);
    return failed ? failed : int(setup.warnings > 0);
}

#include "tst_screens.moc"
