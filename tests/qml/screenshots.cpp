// Takes a picture of every screen from a real window, in the system language (LC_ALL) as the
// program does, into the folder given as the argument (see screenshots.sh).

#include "messagehandler.h"
#include "qmltestenv.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <functional>

namespace {
bool waitFor(const std::function<bool()>& condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 30000) {
        QTest::qWait(50);
    }
    return condition();
}
} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir configHome; // a first start: nothing stored yet
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    qputenv("PRINTARRA_UPDATE_URL", "http://127.0.0.1:1");
    qputenv("PRINTARRA_PORT", QByteArray::number(qmltestenv::freePort()));
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setOrganizationName(QStringLiteral("Velora"));
    QCoreApplication::setApplicationName(QStringLiteral("Printarra"));
    QApplication app(argc, argv);
    const QString folder = app.arguments().value(1);
    QTranslator translator;
    if (folder.isEmpty() || !QDir().mkpath(folder) ||
        !translator.load(
            Startup::translationFile(QLocale::system().name(), PRINTARRA_PROGRAM_DIR))) {
        fprintf(stderr, "usage: %s OUTPUT_DIR (with the translations built)\n", argv[0]);
        return 2;
    }
    app.installTranslator(&translator);
    Startup::registerQmlTypes();
    printClient = new PrintClient();
    qInstallMessageHandler(messageHandler); // the log screen shows what the start wrote
    printClient->startup();
    bool ok = true;
    {
        QQmlApplicationEngine engine; // the screens go before the controller they bind to
        qmltestenv::publish(engine.rootContext(), printClient);
        engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
        auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().value(0));
        if (!window || !waitFor([window] { return window->isExposed(); })) {
            return 1;
        }
        const auto navigate = [window](const char* screen) {
            QMetaObject::invokeMethod(window, "navigate", Q_ARG(QVariant, QString(screen)));
        };
        const auto take = [&](const char* name) {
            QTest::qWait(500); // animations (About, switches) end within 200 ms
            const QString path = folder + "/" + name + ".png";
            ok = window->grabWindow().save(path) && ok;
            printf("%s\n", qPrintable(path));
        };
        take("01-terms");
        printClient->setLicenseAccepted(true);
        ok = waitFor([] {
                 return printClient->isStarted() && printClient->printerList().size() >= 3;
             }) &&
             ok;
        navigate("loading");
        take("02-splash");
        printClient->setProperty("hasUpdate", true);
        take("03-update");
        printClient->setProperty("hasUpdate", false);
        navigate("allSet");
        take("04-main");
        navigate("config");
        take("05-printers");
        navigate("terminals");
        take("06-terminals");
        printClient->setIsDebugMode(true);
        navigate("logs");
        take("07-logs");
        printClient->setIsDebugMode(false);
        navigate("allSet");
        QMetaObject::invokeMethod(window, "openAbout");
        ok = waitFor([window] {
                 auto* about = window->property("aboutItem").value<QObject*>();
                 return about && about->property("settled").toBool();
             }) &&
             ok;
        take("08-about");
        printClient->setProperty("hasUpdate", true);
        take("09-about-update");
    }
    qInstallMessageHandler(nullptr);
    delete printClient;
    return ok ? 0 : 1;
}
