// The screens against a real controller, with Qt Quick Test (the tst_*.qml files here).
// The controller starts from an empty settings store and lives for the whole run, so the
// files run in name order and the first one walks through the first start.

#include "../app/testenv.h"
#include "../tpa/ptyterminal.h"
#include "messagehandler.h"
#include "qmltestenv.h"
#include "tpa.h"

#include <QClipboard>
#include <QQmlEngine>
#include <QtQuickTest/quicktest.h>

class TestSupport : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString expectedLanguage READ expectedLanguage CONSTANT)

public:
    QString expectedLanguage() const { return qEnvironmentVariable("EXPECTED_LANGUAGE"); }

    Q_INVOKABLE QVariant storedValue(const QString& key) const { return QSettings().value(key); }
    Q_INVOKABLE QString clipboardText() const { return QGuiApplication::clipboard()->text(); }
    Q_INVOKABLE void clearClipboard() const { QGuiApplication::clipboard()->clear(); }

    // The debug-mode log capture, as the program installs it; off again restores the test's.
    Q_INVOKABLE void captureLog(bool on)
    {
        if (on && !previous) {
            previous = qInstallMessageHandler(messageHandler);
        } else if (!on && previous) {
            qInstallMessageHandler(previous);
            previous = nullptr;
        }
    }
    Q_INVOKABLE QString printerKey(const QString& name) const
    {
        return QStringLiteral("printers/") + Printer::hashFor(name);
    }
    Q_INVOKABLE void log(const QString& line) const { qDebug().noquote() << line; }
    // A condition as the print system reports it (the path from CUPS has its own test), until
    // the next report.
    Q_INVOKABLE void setReasons(QObject* printer, const QStringList& reasons) const
    {
        qobject_cast<Printer*>(printer)->setCondition(QStringLiteral("idle"), reasons, true);
    }
    Q_INVOKABLE int pictureCount(const QString& folder) const
    {
        return QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files).size();
    }

    // A terminal on a pseudo-terminal (no USB serial device here), on the controller's list
    // until its next refresh of the ports.
    Q_INVOKABLE QObject* addTerminal()
    {
        auto* terminal =
            new Tpa(QSerialPortInfo(QStringLiteral("ttyUSB_screens")), 1, nullptr, pty.slavePath());
        printClient->addTpa(terminal);
        return terminal;
    }

private:
    QtMessageHandler previous = nullptr;
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

    void cleanupTestCase()
    {
        support.captureLog(false);
        delete std::exchange(printClient, nullptr);
    }

public:
    QStringList warnings;

private:
    TestSupport support;
};

int main(int argc, char* argv[])
{
    QTemporaryDir configHome;
    testenv::prepare(configHome.path());
    QApplication app(argc, argv);
    // The preview printer's pictures stay out of the user's own folders.
    QTemporaryDir previewFolder;
    QSettings().setValue(QStringLiteral("previewFolder"), previewFolder.path());
    QSettings().setValue(QStringLiteral("jobTimeout"), 1);
    // Print queues on the throwaway scheduler: one usable (its printer does not answer), one
    // stopped.
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
