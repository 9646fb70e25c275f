// The controller: first start and stored settings, the server switch, the start-up flags, the
// window handshake, the printer list and the printer model on a real (sandboxed) print system,
// the terminal type rule and the update check against a local HTTP service.

#include "httplistener.h"
#include "printclient.h"
#include "testenv.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

QStringList names(const QList<PrinterPtr>& printers)
{
    QStringList result;
    for (const PrinterPtr& printer : printers) {
        result.append(printer->name());
    }
    return result;
}

bool deliver(PrintClient& client, const QList<QPrinterInfo>& printers)
{
    return QMetaObject::invokeMethod(&client, "onGetPrinters",
                                     Q_ARG(QList<QPrinterInfo>, printers));
}

QPrinterInfo info(const testenv::Queue& queue)
{
    return QPrinterInfo::printerInfo(queue.name);
}

// A plain-HTTP stand-in for the update service: records the request, then answers with the
// prepared bytes once the expected body is in (or never, when there are none).
class UpdateService : public QObject
{
public:
    explicit UpdateService(const QByteArray& prepared) : answer(prepared)
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::disconnected, this, [this] { closedByClient = true; });
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                request += socket->readAll();
                if (request.endsWith("\r\n\r\ncur=424") && !answer.isEmpty()) {
                    socket->write(answer);
                    socket->disconnectFromHost();
                }
            });
        });
        qputenv("PRINTARRA_UPDATE_URL",
                "http://127.0.0.1:" + QByteArray::number(server.serverPort()));
    }
    ~UpdateService() override { qputenv("PRINTARRA_UPDATE_URL", "http://127.0.0.1:1"); }

    QTcpServer server;
    QByteArray answer;
    QByteArray request;
    bool closedByClient = false;
};

} // namespace

class TestPrintClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testsupport::keepThreadLogsOutOfTestLog(); }

    void init() { testenv::clearStore(); }
    void cleanup() { testenv::flushDeletes(); }
    void firstStart();
    void storedKey_data();
    void storedKey();
    void serverSwitch();
    void printerListKeepsSurvivors();
    void printerHashAndPersistence();
    void terminals();
    void updateCheck_data();
    void updateCheck();
};

void TestPrintClient::firstStart()
{
    PrintClient client;
    client.startup();
    const QString key = client.securityKey();
    QVERIFY2(QRegularExpression("^[A-Za-z0-9+/]{8}v4\\.0$").match(key).hasMatch(), qPrintable(key));
    QVERIFY(client.firstStartup());
    QSettings store;
    QCOMPARE(store.value("securityKey").toString(), key);
    QCOMPARE(store.value("serverActive"), QVariant(true));
    QVERIFY(store.contains("compatibilityMode") && !store.value("compatibilityMode").toBool());
    QVERIFY(store.contains("licenseAccepted") && !store.value("licenseAccepted").toBool());

    // Without the terms accepted nothing runs: no listener, no worker refreshing the lists.
    QVERIFY(!client.httpListener());
    QVERIFY(!testenv::timerOf(&client, 3000) && !testenv::timerOf(&client, 30000));

    // The start-up flag is announced on every check, also when it keeps its value.
    QSignalSpy started(&client, &PrintClient::startedChanged);
    client.checkStarted();
    client.checkStarted();
    QCOMPARE(started.count(), 2);
    QCOMPARE(started.at(1).at(0), QVariant(false));

    // The window handshake: "kicked" holds local wall-clock seconds (the suite runs at
    // UTC+05:30), and another start asks for the window through the store.
    const qint64 kicked = store.value("kicked").toLongLong();
    QVERIFY(qAbs(kicked - QDateTime::currentSecsSinceEpoch() - 19800) <= 2);
    QSignalSpy shown(&client, &PrintClient::showWindow);
    store.setValue("showWindow", true);
    QTRY_COMPARE(shown.count(), 1);
    QCOMPARE(QSettings().value("showWindow"), QVariant(false));
}

void TestPrintClient::storedKey_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("key");
    // clang-format off
    QTest::newRow("no suffix") << "abcdefgh" << "abcdefghv4.0";
    QTest::newRow("current suffix") << "abcdefghv4.0" << "abcdefghv4.0";
    QTest::newRow("other suffix") << "abcdefghv3.9" << "abcdefghv3.9";
    QTest::newRow("two-digit major") << "abcdefv12.3" << "abcdefv12.3v4.0";
    QTest::newRow("suffix not at the end") << "abcdv4.0xy" << "abcdv4.0xyv4.0";
    QTest::newRow("trailing newline") << "abcdefghv4.0\n" << "abcdefghv4.0\nv4.0";
    // clang-format on
}

void TestPrintClient::storedKey()
{
    QFETCH(QString, stored);
    QFETCH(QString, key);
    QSettings().setValue("securityKey", stored);
    QSettings().setValue("compatibilityMode", true);
    PrintClient client;
    client.startup();
    QVERIFY(!client.firstStartup() && client.compatibilityMode());
    QCOMPARE(client.securityKey(), key);
    QCOMPARE(QSettings().value("securityKey").toString(), key);
}

void TestPrintClient::serverSwitch()
{
    QTcpServer probe; // a free port
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    qputenv("PRINTARRA_PORT", QByteArray::number(port));
    auto client = std::make_unique<PrintClient>();
    client->startup();
    QSignalSpy changed(client.get(), &PrintClient::serverActiveChanged);
    QSignalSpy messages(client.get(), &PrintClient::messageChanged);

    // Before any listener exists: stored and announced, even unchanged.
    client->setServerActive(false);
    client->setServerActive(false);
    QCOMPARE(QSettings().value("serverActive"), QVariant(false));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(messages.count(), 0);
    QCOMPARE(client->serviceProblem(), QStringLiteral("termsNotAccepted"));

    // Accepting the terms starts everything, but a switched-off server does not listen.
    QSignalSpy started(client.get(), &PrintClient::startedChanged);
    client->setLicenseAccepted(true);
    qunsetenv("PRINTARRA_PORT");
    QCOMPARE(QSettings().value("licenseAccepted"), QVariant(true));
    corvane::HttpListener* listener = client->httpListener();
    QVERIFY(listener && !listener->isListening());
    QCOMPARE(client->serviceProblem(), QString()); // off by choice
    // The printers are listed again every 3 s, or every minute once the print system's own
    // events tell of each change.
    QVERIFY(testenv::timerOf(client.get(), 3000) || testenv::timerOf(client.get(), 60000));
    QVERIFY(testenv::timerOf(client.get(), 30000));
    client->checkStarted();
    QCOMPARE(started.last().at(0), QVariant(true));

    client->setServerActive(true);
    QVERIFY(listener->isListening());
    QCOMPARE(listener->serverPort(), port);
    QVERIFY(client->listening());
    QCOMPARE(client->listenPort(), int(port));
    QCOMPARE(client->message(), QStringLiteral("Serviço de impressão ligado"));
    client->setServerActive(true); // already listening: nothing but the stored value
    QCOMPARE(messages.count(), 1);
    client->setServerActive(false);
    QVERIFY(!listener->isListening());
    QCOMPARE(client->message(), QStringLiteral("Serviço de impressão desligado"));
    QCOMPARE(QSettings().value("serverActive"), QVariant(false));
    QCOMPARE(changed.count(), 5);
    QVERIFY(!client->listening());

    // Another program took the port meanwhile.
    QSignalSpy serviceState(client.get(), &PrintClient::serviceStateChanged);
    QTcpServer squatter;
    QVERIFY(squatter.listen(QHostAddress::Any, port));
    client->setServerActive(true);
    QCOMPARE(client->serviceProblem(), QStringLiteral("portInUse"));
    QVERIFY(!client->listening());
    QCOMPARE(serviceState.count(), 1);
    squatter.close();
    client->setServerActive(false);

    // The refresh button: busy, then the answer arrives within the call and clears it.
    QSignalSpy fetching(client.get(), &PrintClient::fetchingChanged);
    QSignalSpy printers(client.get(), &PrintClient::printersChanged);
    client->updatePrinters();
    QCOMPARE(fetching.count(), 2);
    QCOMPARE(printers.count(), 1);
    QVERIFY(!client->isFetching());

    // The listener's handler threads read its settings object (for every new connection), so
    // on teardown they must be stopped before that object goes.
    QSettings* listenerSettings =
        listener->parent()->findChild<QSettings*>(QString(), Qt::FindDirectChildrenOnly);
    QVERIFY(listenerSettings);
    const auto poolGoneFirst = std::make_shared<bool>(false);
    const QPointer<corvane::HttpListener> watched = listener;
    connect(listenerSettings, &QObject::destroyed, [poolGoneFirst, watched] {
        *poolGoneFirst = !watched || !watched->connectionHandlerPool();
    });
    client.reset();
    QTRY_VERIFY(watched.isNull());
    QVERIFY(*poolGoneFirst);
}

void TestPrintClient::printerListKeepsSurvivors()
{
    testenv::Queue first, second, third, fourth;
    if (!first.ok) {
        QSKIP("no sandboxed print system (run through ctest)");
    }
    QVERIFY(second.ok && third.ok && fourth.ok);
    PrintClient client;
    client.startup();

    QVERIFY(deliver(client, {info(first), info(second), info(third)}));
    QList<PrinterPtr> held = client.printerList(); // a request thread's copy
    QCOMPARE(names(held), (QStringList{first.name, second.name, third.name}));
    const QPointer<Printer> firstObject = held.at(0).data();
    Printer* const secondObject = held.at(1).data();

    QVERIFY(deliver(client, {info(second), info(fourth)}));
    QList<PrinterPtr> now = client.printerList();
    QCOMPARE(names(now), (QStringList{second.name, fourth.name}));
    QCOMPARE(now.at(0).data(), secondObject);

    // A dropped printer stays usable while the copy exists, and goes when it goes.
    testenv::flushDeletes();
    QVERIFY(firstObject);
    QCOMPARE(firstObject->name(), first.name);
    held.clear();
    testenv::flushDeletes();
    QVERIFY(!firstObject);

    // Survivors keep their previous order whatever the enumeration order; new ones follow.
    Printer* const fourthObject = now.at(1).data();
    QVERIFY(deliver(client, {info(fourth), info(first), info(second)}));
    now = client.printerList();
    QCOMPARE(names(now), (QStringList{second.name, fourth.name, first.name}));
    QCOMPARE(now.at(0).data(), secondObject);
    QCOMPARE(now.at(1).data(), fourthObject);

    // A queue stopped while the program runs: the next refresh has to show it, since the
    // API refuses jobs and the screens show "off" by this state.
    QVERIFY(now.at(0)->state());
    QSignalSpy stateChanged(now.at(0).data(), &Printer::stateChanged);
    QVERIFY(testenv::cupsTool("cupsdisable", {second.name}));
    QVERIFY(deliver(client, {info(second)}));
    QVERIFY(!client.printerList().at(0)->state());
    QCOMPARE(stateChanged.count(), 1); // the row's badge turns red
    QVERIFY(deliver(client, {info(second)}));
    QCOMPARE(stateChanged.count(), 1);
}

void TestPrintClient::printerHashAndPersistence()
{
    QCOMPARE(Printer::hashFor("abc"), QStringLiteral("qZk+NkcGgWq6PiVxeFDCbJzQ2J0="));
    // Latin-1, not UTF-8; characters outside Latin-1 count as "?".
    QCOMPARE(Printer::hashFor("café"), QStringLiteral("0vUrxEBomPxyLAtOMU+bRvyFzeQ="));
    QCOMPARE(Printer::hashFor("caf€"), Printer::hashFor("caf?"));

    // This queue name's hash contains "/", which splits the key into groups of the store.
    testenv::Queue queue(QStringLiteral("app_slash_1"));
    if (!queue.ok) {
        QSKIP("no sandboxed print system (run through ctest)");
    }
    const QString key = QStringLiteral("printers/TpIq1/XFma5TAmKhGIJBLl/LPe0=");
    {
        Printer printer(info(queue));
        QCOMPARE(printer.getHash(), key.mid(9));
        QVERIFY(!printer.available()); // a queue never seen before may not be used
        printer.setAvailable(true);
        QCOMPARE(QSettings().value(key), QVariant(true));
    }
    Printer again(info(queue)); // after a restart, or when the queue comes back
    QVERIFY(again.available());
    again.setAvailable(false);
    QVERIFY(!Printer(info(queue)).available());
}

void TestPrintClient::terminals()
{
    PrintClient client;
    const QList<QPair<int, int>> types{{0x079B, 1}, {0x0B00, 1}, {0x0403, 2},
                                       {0x1E0E, 2}, {0x1234, 0}, {0, 0}};
    for (const auto& vendorAndType : types) {
        QCOMPARE(client.tpaTypeFor(vendorAndType.first), vendorAndType.second);
    }

    client.startup();
    client.updateTpas(); // the refresh button; no worker answers before the terms are accepted
    QVERIFY(client.isFetching());
    // Serial ports without USB ids (vendor 0) are no terminals.
    const QList<QSerialPortInfo> ports{QSerialPortInfo(QStringLiteral("ttyS0"))};
    QVERIFY(QMetaObject::invokeMethod(&client, "onGetTpas", Q_ARG(QList<QSerialPortInfo>, ports)));
    QVERIFY(client.tpaList().isEmpty());
    QVERIFY(client.isFetching()); // only a printer result ends the busy state
    QVERIFY(deliver(client, {}));
    QVERIFY(!client.isFetching());
}

void TestPrintClient::updateCheck_data()
{
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("before");
    QTest::addColumn<bool>("after");
    // clang-format off
    QTest::newRow("newer version") << QByteArray("200") << QByteArray(R"({"hasNewVersion": true})") << false << true;
    QTest::newRow("up to date") << QByteArray("200") << QByteArray(R"({"hasNewVersion": false})") << true << false;
    QTest::newRow("string true") << QByteArray("200") << QByteArray(R"({"hasNewVersion": "true"})") << true << false;
    QTest::newRow("not JSON") << QByteArray("200") << QByteArray("yes") << true << false;
    // An HTTP error or no answer leaves the flag as it was, unannounced.
    QTest::newRow("HTTP error") << QByteArray("500") << QByteArray(R"({"hasNewVersion": true})") << false << false;
    QTest::newRow("no answer within the time limit") << QByteArray() << QByteArray() << true << true;
    // clang-format on
}

void TestPrintClient::updateCheck()
{
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, before);
    QFETCH(bool, after);
    UpdateService service(status.isEmpty() ? QByteArray() // takes the request, never answers
                                           : "HTTP/1.1 " + status + " X\r\nContent-Length: " +
                                                 QByteArray::number(body.size()) +
                                                 "\r\nConnection: close\r\n\r\n" + body);
    PrintClient client;
    QElapsedTimer clock;
    clock.start();
    client.startup(); // asks once at start, schedules the next check once this one has ended
    QTimer* next = testenv::timerOf(&client, 3600000, false);
    QVERIFY(next && next->isSingleShot() && !next->isActive());
    client.setProperty("hasUpdate", before);
    QSignalSpy changed(&client, &PrintClient::hasUpdateChanged);

    QTRY_VERIFY_WITH_TIMEOUT(next->isActive(), 15000);
    QCOMPARE(client.updateAvailable(), after);
    QCOMPARE(changed.count(), status == "200" ? 1 : 0);
    QCOMPARE(
        client.message(),
        after && !status.isEmpty()
            ? QStringLiteral("Existe uma nova versão do Printarra. Clique aqui para atualizar.")
            : QString());
    if (status.isEmpty()) { // the time limit ended the request, which was given up
        QVERIFY2(clock.elapsed() >= 9500, qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY(service.closedByClient);
    }

    const int end = service.request.indexOf("\r\n\r\n");
    const QByteArray head = service.request.left(end) + "\r\n";
    QVERIFY2(head.startsWith("POST /hasNewVersion HTTP/1.1\r\n"), head.constData());
    QVERIFY(head.contains("\r\nContent-Type: application/x-www-form-urlencoded\r\n"));
    QCOMPARE(service.request.mid(end + 4), QByteArray("cur=424"));
}

APP_TEST_MAIN(TestPrintClient)
#include "tst_printclient.moc"
