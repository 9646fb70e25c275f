#ifndef APP_TESTENV_H
#define APP_TESTENV_H

// Shared set-up of the controller suites: a private settings store, the program's
// identity, an offscreen display and no network access for the update check.

#include <QApplication>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>

namespace testenv {

inline void prepare(const QString& configHome)
{
    qputenv("XDG_CONFIG_HOME", configHome.toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("PRINTARRA_UPDATE_URL")) {
        qputenv("PRINTARRA_UPDATE_URL", "http://127.0.0.1:1"); // refused at once
    }
    QCoreApplication::setOrganizationName(QStringLiteral("Velora"));
    QCoreApplication::setApplicationName(QStringLiteral("Printarra"));
}

inline void clearStore()
{
    QSettings settings;
    settings.clear();
    settings.sync();
}

// The controller's timer of that period, a running one unless told otherwise (the timers
// are told apart by their intervals).
inline QTimer* timerOf(QObject* owner, int interval, bool running = true)
{
    const QList<QTimer*> timers = owner->findChildren<QTimer*>();
    for (QTimer* timer : timers) {
        if (timer->interval() == interval && (timer->isActive() || !running)) {
            return timer;
        }
    }
    return nullptr;
}

inline void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Runs a CUPS administration tool against the sandboxed scheduler.
inline bool cupsTool(const QString& tool, const QStringList& arguments)
{
    const QString server = qEnvironmentVariable("CUPS_SERVER");
    const QString program = QStandardPaths::findExecutable(
        tool, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    if (server.isEmpty() || program.isEmpty()) {
        return false;
    }
    QProcess process;
    process.start(program, QStringList{QStringLiteral("-h"), server} + arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// A raw print queue on the sandboxed scheduler, removed again with the object.
class Queue
{
public:
    explicit Queue(const QString& fixedName = QString())
    {
        static std::atomic<int> counter{0};
        name =
            fixedName.isEmpty()
                ? QStringLiteral("app_%1_%2").arg(QCoreApplication::applicationPid()).arg(counter++)
                : fixedName;
        ok = cupsTool(QStringLiteral("lpadmin"),
                      {QStringLiteral("-p"), name, QStringLiteral("-E"), QStringLiteral("-v"),
                       QStringLiteral("socket://127.0.0.1:9")});
    }
    ~Queue()
    {
        if (ok) {
            cupsTool(QStringLiteral("lpadmin"), {QStringLiteral("-x"), name});
        }
    }
    QString name;
    bool ok = false;
};

} // namespace testenv

// Builds the private environment before the application object exists, then runs the suite.
#define APP_TEST_MAIN(TestClass)                                                                   \
    int main(int argc, char* argv[])                                                               \
    {                                                                                              \
        QTemporaryDir configHome;                                                                  \
        testenv::prepare(configHome.path());                                                       \
        QApplication app(argc, argv);                                                              \
        TestClass suite;                                                                           \
        return QTest::qExec(&suite, argc, argv);                                                   \
    }

#endif
