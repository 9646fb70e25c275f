#ifndef APP_TESTENV_H
#define APP_TESTENV_H

#include "rawprinter.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace testenv {

// Before the application object exists: a private store, offscreen, no update service.
inline void prepare(const QString& configHome)
{
    qputenv("XDG_CONFIG_HOME", configHome.toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("PRINTARRA_UPDATE_URL"))
        qputenv("PRINTARRA_UPDATE_URL", "http://127.0.0.1:1"); // refused at once
    QCoreApplication::setOrganizationName(QStringLiteral("Velora"));
    QCoreApplication::setApplicationName(QStringLiteral("Printarra"));
}

inline void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

inline QTimer* timerOf(QObject* owner, int interval, bool running = true)
{
    for (QTimer* timer : owner->findChildren<QTimer*>()) {
        if (timer->interval() == interval && (timer->isActive() || !running))
            return timer;
    }
    return nullptr;
}

inline quint16 freePort() // nobody listens there right now
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// A raw print queue on the sandboxed scheduler, removed again with the object.
struct Queue
{
    explicit Queue(const QString& fixedName = QString())
    {
        static int counter = 0;
        name = fixedName.isEmpty()
                   ? QStringLiteral("app_%1_%2").arg(qApp->applicationPid()).arg(counter++)
                   : fixedName;
        ok = RawPrinter::runTool("lpadmin", {"-p", name, "-E", "-v", "socket://127.0.0.1:9"});
    }
    ~Queue() { ok&& RawPrinter::runTool("lpadmin", {"-x", name}); }
    QString name;
    bool ok = false;
};

} // namespace testenv

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
