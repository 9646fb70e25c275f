// Takes a picture of every screen from a real window: terms, splash, update notice, main
// screen, printers, terminals, log and About. The system language (LC_ALL) picks the
// translation, as in the program; the pictures go to the folder given as the argument.
//
// Usage: qml_screenshots OUTPUT_DIR   (with DISPLAY and CUPS_SERVER set; see screenshots.sh)

#include "messagehandler.h"
#include "qmltestenv.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLocale>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 30000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        settle(50);
    }
    return true;
}

class Camera
{
public:
    Camera(QQuickWindow* window, const QString& folder) : window(window), folder(folder) {}

    bool take(const QString& name)
    {
        settle(500); // animations (About, switches) end within 200 ms
        const QImage picture = window->grabWindow();
        const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
        if (picture.isNull() || !picture.save(path)) {
            fprintf(stderr, "screenshots: could not save %s\n", qPrintable(path));
            return false;
        }
        printf("%s (%dx%d)\n", qPrintable(path), picture.width(), picture.height());
        return true;
    }

private:
    QQuickWindow* window;
    QString folder;
};

void navigate(QQuickWindow* window, const char* screen)
{
    QMetaObject::invokeMethod(window, "navigate", Q_ARG(QVariant, QString::fromLatin1(screen)));
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir configHome; // a first start: nothing stored yet
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    qputenv("PRINTARRA_UPDATE_URL", "http://127.0.0.1:1");
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setOrganizationName(QStringLiteral("Velora"));
    QCoreApplication::setApplicationName(QStringLiteral("Printarra"));
    QApplication app(argc, argv);
    qputenv("PRINTARRA_PORT", QByteArray::number(qmltestenv::freePort()));
    QDir().mkpath(folder);

    QTranslator translator;
    const QString translation =
        Startup::translationFile(QLocale::system().name(), QStringLiteral(PRINTARRA_PROGRAM_DIR));
    if (!translator.load(translation)) {
        fprintf(stderr, "screenshots: no translation %s\n", qPrintable(translation));
        return 1;
    }
    app.installTranslator(&translator);

    Startup::registerQmlTypes();
    printClient = new PrintClient();
    qInstallMessageHandler(messageHandler); // the log screen shows what the start wrote
    printClient->startup();

    // The screens go before the controller they bind to.
    auto engine = std::make_unique<QQmlApplicationEngine>();
    qmltestenv::publish(engine->rootContext(), printClient);
    engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
    auto* window = engine->rootObjects().isEmpty()
                       ? nullptr
                       : qobject_cast<QQuickWindow*>(engine->rootObjects().first());
    if (!window || !waitFor([window] { return window->isExposed(); })) {
        fprintf(stderr, "screenshots: the window did not appear\n");
        return 1;
    }
    Camera camera(window, folder);
    bool ok = camera.take(QStringLiteral("01-terms"));

    printClient->setLicenseAccepted(true);
    ok = waitFor([] { return printClient->isStarted(); }) && ok;
    ok = waitFor([] { return printClient->printerList().size() >= 3; }) && ok;
    navigate(window, "loading");
    ok = camera.take(QStringLiteral("02-splash")) && ok;
    printClient->setProperty("hasUpdate", true);
    ok = camera.take(QStringLiteral("03-update")) && ok;
    printClient->setProperty("hasUpdate", false);

    navigate(window, "allSet");
    ok = camera.take(QStringLiteral("04-main")) && ok;
    navigate(window, "config");
    ok = camera.take(QStringLiteral("05-printers")) && ok;
    navigate(window, "terminals");
    ok = camera.take(QStringLiteral("06-terminals")) && ok;

    printClient->setIsDebugMode(true);
    navigate(window, "logs");
    ok = camera.take(QStringLiteral("07-logs")) && ok;
    printClient->setIsDebugMode(false);

    navigate(window, "allSet");
    QMetaObject::invokeMethod(window, "openAbout");
    ok = waitFor([window] {
             auto* about = window->property("aboutItem").value<QObject*>();
             return about && about->property("settled").toBool();
         }) &&
         ok;
    ok = camera.take(QStringLiteral("08-about")) && ok;
    printClient->setProperty("hasUpdate", true);
    ok = camera.take(QStringLiteral("09-about-update")) && ok;

    qInstallMessageHandler(nullptr);
    engine.reset();
    delete std::exchange(printClient, nullptr);
    return ok ? 0 : 1;
}
