#include "appconfig.h"
#include "commandline.h"
#include "messagehandler.h"
#include "printclient.h"
#include "startup.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocale>
#include <QLoggingCategory>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QScreen>
#include <QTranslator>
#include <cstdio>
#include <exception>

int main(int argc, char* argv[])
{
    // Threads other than the main one run Qt's own event loop instead of GLib's: GLib wakes
    // its loop each time a socket's write watch is switched on or off, twice per HTTP answer.
    // The main thread keeps GLib's loop for the desktop's sake.
    if (qEnvironmentVariableIsEmpty("QT_NO_THREADED_GLIB")) {
        qputenv("QT_NO_THREADED_GLIB", "1");
    }
    // Qt's network bearer layer, which the update check's access manager brings in, scans
    // every interface every 10 s by default. Nothing here needs to know that often (the
    // certificate follows the addresses on its own timer); once a minute still lets the access
    // manager notice a network that came up after the start, which it needs before it sends.
    if (qEnvironmentVariableIsEmpty("QT_BEARER_POLL_TIMEOUT")) {
        qputenv("QT_BEARER_POLL_TIMEOUT", "60000");
    }
    const QString name = AppConfig::applicationName();
    QCoreApplication::setOrganizationName(AppConfig::organizationName());
    QCoreApplication::setOrganizationDomain(AppConfig::organizationDomain());
    QCoreApplication::setApplicationName(name);

    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    CommandLine commandLine(arguments);
    // Answers need neither a display nor the single-instance lock: they only touch settings.
    if (commandLine.exitsAtOnce()) {
        QCoreApplication app(argc, argv);
        return commandLine.run();
    }
    // Before the probe, so that a running instance still waiting for it starts serving.
    if (commandLine.acceptTerms()) {
        CommandLine::recordAcceptance();
    }
    // A running instance shows its window instead (or takes the terms just accepted).
    if (Startup::askRunningInstance(name, commandLine.acceptTerms() ? "terms" : "show")) {
        return 0;
    }

    // A till without a desktop still serves the API; without a display there is no
    // OpenGL either, so the screens are drawn in software.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen" &&
        qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) {
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    }

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);

    QApplication app(argc, argv);
    // Qt took its own options (-platform, ...); whatever is left must be ours.
    const QString unknown = commandLine.parseAgain(app.arguments());
    if (!unknown.isEmpty()) {
        fprintf(stderr, "printarra: %s (printarra --help lists the options)\n",
                qPrintable(unknown));
        return 2;
    }
    // The local server holds the name for this run, so that a later start finds this one.
    QLocalServer localServer;
    Startup::createLocalServer(localServer, name);
    QQmlApplicationEngine engine;
    QTranslator translator;
    translator.load(Startup::translationFile(QLocale::system().name(), app.applicationDirPath()));
    app.installTranslator(&translator);

    Startup::registerQmlTypes();

    printClient = new PrintClient();
    if (commandLine.debugMode()) {
        printClient->setIsDebugMode(true);
        qInstallMessageHandler(messageHandler);
    } else {
        // Lines per connection and request are for debugging; without it they cost a
        // noticeable share of the server's time for nobody.
        QLoggingCategory::setFilterRules(QStringLiteral("corvane.http.debug=false"));
    }
    printClient->startup();
    printClient->serveInstanceRequests(&localServer);

    Startup::publish(engine.rootContext(), printClient,
                     Startup::windowSize(app.primaryScreen()->availableSize()));
    engine.load(QUrl(QStringLiteral("qrc:/main.qml")));

    try {
        return app.exec();
    } catch (const std::exception& error) {
        qDebug() << "Error!" << error.what();
        return 0;
    }
}
