// The window as the program loads it: a later start stays hidden, closing the window only hides
// it while the API keeps answering, and the tray menu's quit item ends the event loop.

#include "../app/testenv.h"
#include "qmltestenv.h"
#include "testsupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSignalSpy>

using namespace testsupport;

namespace {
const QByteArray key = "wInD+/12v4.0";
}

class TestWindow : public QObject
{
    Q_OBJECT

private:
    PrintClient* client = nullptr;
    QQmlApplicationEngine* engine = nullptr;
    QQuickWindow* window = nullptr;
    quint16 port = 0;

    // From another thread: the API reads the controller, so this thread keeps running events.
    QJsonObject callApi(const QByteArray& path)
    {
        auto answer = requestOffThread(
            port,
            "POST " + path + " HTTP/1.1\r\nAuthorization: Bearer " + key +
                "\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}",
            QSslCertificate::fromPath(QStringLiteral(PRINTARRA_TLS_DIR "/rootca.pem")));
        const Response response = awaitWithEvents(answer);
        if (!response.complete) {
            return QJsonObject{{"unreachable", true}};
        }
        return QJsonDocument::fromJson(response.body).object();
    }

    QObject* trayItem(const char* name) const
    {
        QObject* tray = window->property("trayIcon").value<QObject*>();
        QObject* menu = tray ? tray->property("menu").value<QObject*>() : nullptr;
        return menu ? menu->findChild<QObject*>(QString::fromLatin1(name)) : nullptr;
    }

private slots:
    void initTestCase()
    {
        keepThreadLogsOutOfTestLog();
        // A later start: the terms were accepted and the service is on.
        QSettings settings;
        settings.setValue(QStringLiteral("licenseAccepted"), true);
        settings.setValue(QStringLiteral("serverActive"), true);
        settings.setValue(QStringLiteral("securityKey"), QString::fromLatin1(key));
        settings.sync();
        port = qmltestenv::freePort();
        qputenv("PRINTARRA_PORT", QByteArray::number(port));

        Startup::registerQmlTypes();
        client = new PrintClient();
        client->startup();
        engine = new QQmlApplicationEngine();
        qmltestenv::publish(engine->rootContext(), client);
        engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
        QCOMPARE(engine->rootObjects().size(), 1);
        window = qobject_cast<QQuickWindow*>(engine->rootObjects().first());
        QVERIFY(window);
        QVERIFY2(!window->isVisible(), "a later start stays in the tray");
        // Fixed size: the size the start-up computed, as minimum and maximum alike.
        QCOMPARE(window->size(),
                 Startup::windowSize(QGuiApplication::primaryScreen()->availableSize()));
        QCOMPARE(window->minimumSize(), window->size());
        QCOMPARE(window->maximumSize(), window->size());
        QTRY_VERIFY_WITH_TIMEOUT(client->isStarted(), 30000);
        QCOMPARE(window->property("screenState").toString(), QStringLiteral("allSet"));
    }

    void cleanupTestCase()
    {
        delete engine;
        delete client;
    }

    void showWindowBringsItUp()
    {
        emit client->showWindow();
        QVERIFY(window->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }

    void closeHidesAndTheApiKeepsAnswering()
    {
        QVERIFY(window->isVisible());
        // The same close request a title-bar button delivers through the platform.
        QVERIFY2(!window->close(), "the close is refused");
        QVERIFY(!window->isVisible());
        QCOMPARE(callApi("/getStatus").value("data").toString(), QStringLiteral("Device online"));
        QCOMPARE(engine->rootObjects().size(), 1);
    }

    void trayServiceItemSwitchesTheService()
    {
        QObject* service = trayItem("trayService");
        QVERIFY(service);
        QCOMPARE(service->property("text").toString(), QStringLiteral("Desligar serviço"));
        QMetaObject::invokeMethod(service, "triggered");
        QVERIFY(!client->serverActive());
        QCOMPARE(service->property("text").toString(), QStringLiteral("Ligar serviço"));
        QVERIFY(callApi("/getStatus").contains("unreachable"));
        QMetaObject::invokeMethod(service, "triggered");
        QVERIFY(client->serverActive());
        QCOMPARE(callApi("/getStatus").value("data").toString(), QStringLiteral("Device online"));
    }

    void quitItemEndsTheEventLoop()
    {
        QObject* quit = trayItem("trayQuit");
        QVERIFY(quit);
        // As in the program: the engine's quit ends the application's event loop.
        QTimer::singleShot(0, quit, [quit] { QMetaObject::invokeMethod(quit, "triggered"); });
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(2); });
        guard.start(10000);
        QCOMPARE(QCoreApplication::exec(), 0);
    }
};

APP_TEST_MAIN(TestWindow)
#include "tst_window.moc"
