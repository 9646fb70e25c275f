// The window as the program loads it on a later start: hidden, of a fixed size; closing only
// hides it while the API keeps answering; the tray switches the service and quits.

#include "qmltestenv.h"
#include "testenv.h"
#include "testsupport.h"

#include <QQmlApplicationEngine>
#include <QQuickWindow>

class TestWindow : public QObject
{
    Q_OBJECT

    PrintClient client;
    QQmlApplicationEngine engine;
    QQuickWindow* window = nullptr;
    quint16 port = qmltestenv::freePort();

    QByteArray
    status() // from another thread: the API reads the controller, this thread runs events
    {
        auto answer = testsupport::requestOffThread(
            port, "GET /getStatus HTTP/1.1\r\nAuthorization: Bearer wInD+/12v4.0\r\n\r\n",
            QSslCertificate::fromPath(QStringLiteral(PRINTARRA_TLS_DIR "/rootca.pem")));
        return testsupport::awaitWithEvents(answer).body;
    }
    QObject* trayItem(const char* name) const
    {
        QObject* tray = window->property("trayIcon").value<QObject*>();
        return tray->property("menu").value<QObject*>()->findChild<QObject*>(name);
    }

private slots:
    void initTestCase()
    {
        QSettings().setValue("licenseAccepted", true);
        QSettings().setValue("securityKey", "wInD+/12v4.0");
        qputenv("PRINTARRA_PORT", QByteArray::number(port));
        Startup::registerQmlTypes();
        client.startup();
        qmltestenv::publish(engine.rootContext(), &client);
        engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
        window = qobject_cast<QQuickWindow*>(engine.rootObjects().value(0));
        QVERIFY2(window && !window->isVisible(), "a later start stays in the tray");
        const QSize size = Startup::windowSize(QGuiApplication::primaryScreen()->availableSize());
        QVERIFY(window->minimumSize() == size && window->maximumSize() == size);
        QTRY_VERIFY_WITH_TIMEOUT(client.isStarted(), 30000);
    }

    void closeHidesAndTheApiKeepsAnswering()
    {
        emit client.showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY2(!window->close(), "the close is refused"); // as from the title bar
        QVERIFY(!window->isVisible() && status().contains("Device online"));
    }

    void trayServiceItemSwitchesTheService()
    {
        QObject* service = trayItem("trayService");
        QCOMPARE(service->property("text").toString(), QStringLiteral("Desligar serviço"));
        QMetaObject::invokeMethod(service, "triggered");
        QCOMPARE(service->property("text").toString(), QStringLiteral("Ligar serviço"));
        QVERIFY(status().isEmpty());
        QMetaObject::invokeMethod(service, "triggered");
        QVERIFY(status().contains("Device online"));
    }

    void quitItemEndsTheEventLoop()
    {
        QObject* quit = trayItem("trayQuit");
        QTimer::singleShot(0, quit, [quit] { QMetaObject::invokeMethod(quit, "triggered"); });
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(2); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }
};

APP_TEST_MAIN(TestWindow)
#include "tst_window.moc"
