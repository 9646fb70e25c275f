// The screens against a real controller, with Qt Quick Test (the tst_*.qml files here). The
// controller starts from an empty store and lives for the whole run; the files run in name order.

#include "messagehandler.h"
#include "ptyterminal.h"
#include "qmltestenv.h"
#include "testenv.h"
#include "tpa.h"

#include <QQmlEngine>
#include <QtQuickTest/quicktest.h>

// What the screens' tests need besides the controller.
class TestSupport : public QObject
{
    Q_OBJECT

public:
    Q_INVOKABLE QVariant storedValue(const QString& key) const { return QSettings().value(key); }
    Q_INVOKABLE QString printerKey(const QString& name) const
    {
        return "printers/" + Printer::hashFor(name);
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

private:
    PtyTerminal pty;
};

class Setup : public QObject
{
    Q_OBJECT

public slots:
    void qmlEngineAvailable(QQmlEngine* engine)
    {
        if (!printClient) {
            qputenv("PRINTARRA_PORT", QByteArray::number(qmltestenv::freePort()));
            Startup::registerQmlTypes();
            printClient = new PrintClient();
            printClient->startup();
        }
        qmltestenv::publish(engine->rootContext(), printClient);
        engine->rootContext()->setContextProperty(QStringLiteral("testSupport"), &support);
        // A test passes only if the screens made no QML warning (binding loops, type errors).
        connect(engine, &QQmlEngine::warnings, this, [this](const QList<QQmlError>& errors) {
            for (const QQmlError& error : errors) {
                warnings.append(error.toString());
            }
        });
    }
    void cleanupTestCase() { delete std::exchange(printClient, nullptr); }

public:
    QStringList warnings;
    TestSupport support;
};

int main(int argc, char* argv[])
{
    QTemporaryDir configHome, previewFolder; // pictures of the preview printer stay out of $HOME
    testenv::prepare(configHome.path());
    QApplication app(argc, argv);
    QSettings().setValue(QStringLiteral("previewFolder"), previewFolder.path());
    QSettings().setValue(QStringLiteral("jobTimeout"), 1);
    testenv::Queue usable(QStringLiteral("Balcao_%1").arg(app.applicationPid()));
    testenv::Queue stopped(QStringLiteral("Parado_%1").arg(app.applicationPid()));
    if (!usable.ok || !stopped.ok || !testenv::cupsTool("cupsdisable", {stopped.name})) {
        qWarning("no print queues on the scheduler at CUPS_SERVER");
        return 1;
    }
    Setup setup;
    const int failed =
        quick_test_main_with_setup(argc, argv, "screens", QUICK_TEST_SOURCE_DIR, &setup);
    for (const QString& warning : qAsConst(setup.warnings)) {
        fprintf(stderr, "QML warning: %s\n", qPrintable(warning));
    }
    return failed ? failed : int(!setup.warnings.isEmpty());
}

#include "tst_screens.moc"
