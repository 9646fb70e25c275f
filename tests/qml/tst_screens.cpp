// The screens against a real controller, with Qt Quick Test (the tst_*.qml files here).
// The controller starts from an empty settings store and lives for the whole run, so the
// files run in name order and the first one walks through the first start.

#include "../app/testenv.h"
#include "messagehandler.h"
#include "qmltestenv.h"

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

private:
    QtMessageHandler previous = nullptr;
};

class Setup : public QObject
{
    Q_OBJECT

public slots:
    void qmlEngineAvailable(QQmlEngine* engine)
    {
        if (!printClient) {
            qputenv("PRINTARRA_PORT", QByteArray::number(qmltestenv::freePort()));
            qmltestenv::registerTypes();
            printClient = new PrintClient();
            printClient->startup();
        }
        qmltestenv::publish(engine->rootContext(), printClient);
        engine->rootContext()->setContextProperty(QStringLiteral("testSupport"), &support);
    }

    void cleanupTestCase()
    {
        support.captureLog(false);
        delete std::exchange(printClient, nullptr);
    }

private:
    TestSupport support;
};

int main(int argc, char* argv[])
{
    QTemporaryDir configHome;
    testenv::prepare(configHome.path());
    QApplication app(argc, argv);
    // A print queue on the throwaway scheduler, so that the printer list has a row.
    testenv::Queue queue(QStringLiteral("Balcao_%1").arg(app.applicationPid()));
    if (!queue.ok) {
        qWarning("no print queue on the scheduler at CUPS_SERVER");
        return 1;
    }
    Setup setup;
    return quick_test_main_with_setup(argc, argv, "screens", QUICK_TEST_SOURCE_DIR, &setup);
}

#include "tst_screens.moc"
