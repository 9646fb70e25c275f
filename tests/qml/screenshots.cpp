// A picture of every screen from a real window in the system language (LC_ALL), into the folder
// given, with three receipt queues (one stopped) on the scheduler at CUPS_SERVER.

#include "messagehandler.h"
#include "qmltestenv.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

int main(int argc, char* argv[])
{
    QTemporaryDir configHome; // a first start: nothing stored yet
    testenv::prepare(configHome.path());
    qputenv("QT_QPA_PLATFORM", "xcb"); // a real window on the X server, not offscreen
    qputenv("PRINTARRA_PORT", QByteArray::number(testenv::freePort()));
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    const QString folder = app.arguments().value(1);
    QTranslator translator;
    testenv::Queue counter(QStringLiteral("Balcao_Termica_80mm")),
        kitchen(QStringLiteral("Cozinha_58mm")), office(QStringLiteral("Escritorio"));
    if (folder.isEmpty() || !QDir().mkpath(folder) || !counter.ok || !kitchen.ok || !office.ok ||
        !RawPrinter::runTool("cupsdisable", {office.name}) ||
        !translator.load(
            Startup::translationFile(QLocale::system().name(), PRINTARRA_PROGRAM_DIR))) {
        fprintf(stderr, "usage: %s OUTPUT_DIR (translations built, CUPS_SERVER set)\n", argv[0]);
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
        if (!window || !QTest::qWaitFor([window] { return window->isExposed(); }, 30000))
            return 1;
        // Each picture after a step: a screen to navigate to, or a property of the controller.
        const QList<QPair<const char*, const char*>> steps{
            {"01-terms", ""},      {"02-splash", "loading"},  {"03-update", "+hasUpdate"},
            {"04-main", "allSet"}, {"05-printers", "config"}, {"06-terminals", "terminals"},
            {"07-logs", "logs"},   {"08-about", "about"},     {"09-about-update", "+hasUpdate"}};
        const auto started = [] {
            return printClient->isStarted() && printClient->printerList().size() >= 3;
        };
        const auto settled = [window] {
            auto* about = window->property("aboutItem").value<QObject*>();
            return about && about->property("settled").toBool();
        };
        for (const auto& step : steps) {
            const QString target = step.second;
            printClient->setProperty("hasUpdate", target == "+hasUpdate");
            printClient->setIsDebugMode(target == "logs");
            if (target == "loading") {
                printClient->setLicenseAccepted(true);
                ok &= QTest::qWaitFor(started, 30000);
            }
            if (target == "about") {
                QMetaObject::invokeMethod(window, "navigate", Q_ARG(QVariant, QString("allSet")));
                QMetaObject::invokeMethod(window, "openAbout");
                ok &= QTest::qWaitFor(settled, 30000);
            } else if (!target.isEmpty() && target != "+hasUpdate") {
                QMetaObject::invokeMethod(window, "navigate", Q_ARG(QVariant, target));
            }
            QTest::qWait(500); // animations (About, switches) end within 200 ms
            const QString path = folder + "/" + step.first + ".png";
            ok &= window->grabWindow().save(path);
            printf("%s\n", qPrintable(path));
        }
    }
    qInstallMessageHandler(nullptr);
    delete printClient;
    return ok ? 0 : 1;
}
