// The controller: first start and stored settings, the server switch, the start-up flags, the
// window handshake, the printer list and the printer model on a real (sandboxed) print system,
// the terminal type rule and the update check against a local HTTP service.

#include "httplistener.h"
#include "printclient.h"
#include "testenv.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace {

QStringList logged;
void keepMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    logged.append(message);
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

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

// Deletes a started controller and waits until its thread, worker and listener are gone.
void shutDown(std::unique_ptr<PrintClient>& client)
{
    const QPointer<corvane::HttpListener> listener = client->httpListener();
    client.reset();
    QTRY_VERIFY(listener.isNull());
}

// A plain-HTTP stand-in for the update service: records the request, then answers with the
// prepared bytes (or never, when there are none).
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
                const int end = request.indexOf("\r\n\r\n");
                const QRegularExpression length(QStringLiteral("Content-Length: (\\d+)"),
                                                QRegularExpression::CaseInsensitiveOption);
                const auto match = length.match(QString::fromLatin1(request.left(end)));
                if (end >= 0 && match.hasMatch() &&
                    request.size() - end - 4 >= match.captured(1).toInt() && !answer.isEmpty()) {
                    socket->write(answer);
                    socket->disconnectFromHost();
                }
            });
        });
        qputenv("PRINTARRA_UPDATE_URL",
                QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()).toUtf8());
    }
    ~UpdateService() override { qputenv("PRINTARRA_UPDATE_URL", "http://127.0.0.1:1"); }

    static QByteArray reply(int status, const QByteArray& body)
    {
        return "HTTP/1.1 " + QByteArray::number(status) +
               " X\r\nContent-Type: application/json\r\n" +
               "Content-Length: " + QByteArray::number(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body;
    }

    QTcpServer server;
    QByteArray answer;
    QByteArray request;
    bool closedByClient = false;
};

const QString newVersionMessage =
    QStringLiteral("Existe uma nova versão do Printarra. Clique aqui para atualizar.");

} // namespace

class TestPrintClient : public QObject
{
    Q_OBJECT

private slots:
    void init() { testenv::clearStore(); }
    void cleanup() { testenv::flushDeletes(); }
    void firstStart();
    void storedSettings_data();
    void storedSettings();
    void serverSwitchWithListener();
    void switchedOffBeforeAcceptance();
    void windowHandshake();
    void printerListKeepsSurvivors();
    void printerAvailabilityPersists();
    void printerHash();
    void printerState();
    void terminals();
    void updateCheck_data();
    void updateCheck();
    void updateCheckTimesOut();
};

void TestPrintClient::firstStart()
{
    PrintClient client;
    client.startup();
    const QString key = client.securityKey();
    QVERIFY2(QRegularExpression(QStringLiteral("^[A-Za-z0-9+/]{8}v4\\.0$")).match(key).hasMatch(),
             qPrintable(key));
    QVERIFY(client.firstStartup());

    QSettings store;
    QCOMPARE(store.value("securityKey").toString(), key);
    QCOMPARE(store.value("serverActive"), QVariant(true));
    QVERIFY(store.contains("compatibilityMode") && !store.value("compatibilityMode").toBool());
    QVERIFY(store.contains("licenseAccepted") && !store.value("licenseAccepted").toBool());
    QVERIFY(client.serverActive() && !client.compatibilityMode() && !client.licenseAccepted());
    QCOMPARE(client.version(), QStringLiteral("v4.2.4"));
    QCOMPARE(client.curVersion(), QStringLiteral("424"));
    QCOMPARE(client.device(), QStringLiteral("desktop"));

    // Without the terms accepted nothing runs: no listener, no lists, no refreshes.
    QVERIFY(!client.httpListener());
    QVERIFY(!client.isStarted());
    QVERIFY(client.printerList().isEmpty() && client.tpaList().isEmpty());
    QVERIFY(!testenv::timerOf(&client, 3000));
    QVERIFY(!testenv::timerOf(&client, 30000));

    // Every first start makes a key of its own.
    testenv::clearStore();
    PrintClient second;
    second.startup();
    QVERIFY(second.securityKey() != key);

    client.clipboard(key);
    QCOMPARE(QGuiApplication::clipboard()->text(), key);

    // The start-up flag is announced on every check, also when it keeps its value.
    QSignalSpy started(&client, &PrintClient::startedChanged);
    client.checkStarted();
    client.checkStarted();
    QCOMPARE(started.count(), 2);
    QCOMPARE(started.at(1).at(0), QVariant(false));

    // The server switch before any listener exists: stored and announced, even unchanged.
    QSignalSpy changed(&client, &PrintClient::serverActiveChanged);
    QSignalSpy messages(&client, &PrintClient::messageChanged);
    logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepMessage);
    client.setServerActive(false);
    client.setServerActive(false);
    qInstallMessageHandler(previous);
    QVERIFY(!client.serverActive());
    QCOMPARE(QSettings().value("serverActive"), QVariant(false));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.at(0).at(0), QVariant(false));
    QCOMPARE(messages.count(), 0);
    const QString ssl =
        QStringLiteral("\"SSL Version: %1\"").arg(QSslSocket::sslLibraryVersionString());
    QCOMPARE(logged.count(ssl), 2);
}

void TestPrintClient::storedSettings_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("key");
    // clang-format off
    QTest::newRow("no suffix") << "abcdefgh" << "abcdefghv4.0";
    QTest::newRow("current suffix") << "abcdefghv4.0" << "abcdefghv4.0";
    QTest::newRow("other suffix") << "abcdefghv3.9" << "abcdefghv3.9";
    QTest::newRow("bare suffix") << "v1.2" << "v1.2";
    QTest::newRow("two-digit major") << "abcdefv12.3" << "abcdefv12.3v4.0";
    QTest::newRow("suffix not at the end") << "abcdv4.0xy" << "abcdv4.0xyv4.0";
    QTest::newRow("capital V") << "abcdefghV4.0" << "abcdefghV4.0v4.0";
    QTest::newRow("no point") << "abcdefghv4-0" << "abcdefghv4-0v4.0";
    QTest::newRow("trailing newline") << "abcdefghv4.0\n" << "abcdefghv4.0\nv4.0";
    // clang-format on
}

void TestPrintClient::storedSettings()
{
    QFETCH(QString, stored);
    QFETCH(QString, key);
    {
        QSettings store;
        store.setValue("securityKey", stored);
        store.setValue("serverActive", false);
        store.setValue("compatibilityMode", true);
        store.sync();
    }
    PrintClient client;
    QSignalSpy keyChanged(&client, &PrintClient::securityKeyChanged);
    client.startup();
    QVERIFY(!client.firstStartup());
    QVERIFY(!client.serverActive());
    QVERIFY(client.compatibilityMode());
    QCOMPARE(keyChanged.count(), 1);
    QCOMPARE(client.securityKey(), key);
    QCOMPARE(QSettings().value("securityKey").toString(), key);
}

void TestPrintClient::serverSwitchWithListener()
{
    const quint16 port = freePort();
    qputenv("PRINTARRA_PORT", QByteArray::number(port));
    {
        QSettings store;
        store.setValue("licenseAccepted", true);
        store.setValue("listener/maxThreads", 99); // rewritten on every start
        store.sync();
    }
    auto client = std::make_unique<PrintClient>();
    QSignalSpy started(client.get(), &PrintClient::startedChanged);
    client->startup();
    qunsetenv("PRINTARRA_PORT");

    QVERIFY(client->isStarted());
    QCOMPARE(started.last().at(0), QVariant(true));
    QVERIFY(client->licenseAccepted());
    corvane::HttpListener* listener = client->httpListener();
    QVERIFY(listener && listener->isListening());
    QCOMPARE(listener->serverPort(), port);
    QSettings store;
    store.beginGroup("listener");
    QCOMPARE(store.value("port").toInt(), int(port));
    QCOMPARE(store.value("maxThreads").toInt(), 20);
    QCOMPARE(store.value("sslKeyFile").toString(), QStringLiteral(":/ssl/kvr.key"));
    store.endGroup();
    QVERIFY(testenv::timerOf(client.get(), 3000)); // the refreshes run
    QVERIFY(testenv::timerOf(client.get(), 30000));
    for (const QString& address : client->ipAddresses()) { // IPv4 only, no loopback
        QVERIFY(QHostAddress(address).protocol() == QAbstractSocket::IPv4Protocol);
        QVERIFY(!QHostAddress(address).isLoopback());
    }

    QSignalSpy changed(client.get(), &PrintClient::serverActiveChanged);
    QSignalSpy messages(client.get(), &PrintClient::messageChanged);
    client->setServerActive(true); // already listening: nothing but the stored value
    QVERIFY(listener->isListening());
    QCOMPARE(messages.count(), 0);
    QCOMPARE(changed.count(), 1);

    client->setServerActive(false);
    QVERIFY(!listener->isListening());
    QCOMPARE(client->message(), QStringLiteral("Serviço de impressão desligado"));
    QCOMPARE(QSettings().value("serverActive"), QVariant(false));
    client->setServerActive(false);
    QCOMPARE(messages.count(), 1);

    client->setServerActive(true);
    QVERIFY(listener->isListening());
    QCOMPARE(client->message(), QStringLiteral("Serviço de impressão ligado"));
    QCOMPARE(messages.count(), 2);
    QCOMPARE(changed.count(), 4);

    // The refresh button: busy, then the answer arrives within the call and clears it.
    QSignalSpy fetching(client.get(), &PrintClient::fetchingChanged);
    QSignalSpy printers(client.get(), &PrintClient::printersChanged);
    client->updatePrinters();
    QCOMPARE(fetching.count(), 2);
    QCOMPARE(printers.count(), 1);
    QVERIFY(!client->isFetching());
    client->checkStarted();
    QCOMPARE(started.last().at(0), QVariant(true));

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
    shutDown(client);
    QVERIFY(*poolGoneFirst);
}

void TestPrintClient::switchedOffBeforeAcceptance()
{
    qputenv("PRINTARRA_PORT", QByteArray::number(freePort()));
    auto client = std::make_unique<PrintClient>();
    client->startup();
    client->setServerActive(false);
    QCOMPARE(QSettings().value("serverActive"), QVariant(false));

    client->setLicenseAccepted(true); // from the terms-of-use screen
    qunsetenv("PRINTARRA_PORT");
    QCOMPARE(QSettings().value("licenseAccepted"), QVariant(true));
    QVERIFY(client->isStarted());
    QVERIFY(client->httpListener());
    QVERIFY(!client->httpListener()->isListening());

    client->setServerActive(true);
    QVERIFY(client->httpListener()->isListening());
    QCOMPARE(client->message(), QStringLiteral("Serviço de impressão ligado"));
    shutDown(client);
}

void TestPrintClient::windowHandshake()
{
    PrintClient client;
    QSignalSpy shown(&client, &PrintClient::showWindow);
    client.startup();

    // "kicked" holds local wall-clock seconds (the suite runs at UTC+05:30).
    const qint64 kicked = QSettings().value("kicked").toLongLong();
    const qint64 expected = QDateTime::currentSecsSinceEpoch() + 19800;
    QVERIFY2(qAbs(kicked - expected) <= 2, qPrintable(QString::number(kicked - expected)));

    // Another start asks for the window through the store.
    QSettings other;
    other.setValue("showWindow", true);
    other.sync();
    QTRY_COMPARE(shown.count(), 1);
    QCOMPARE(QSettings().value("showWindow"), QVariant(false));
    QTest::qWait(500);
    QCOMPARE(shown.count(), 1);
}

void TestPrintClient::printerListKeepsSurvivors()
{
    testenv::Queue first, second, third, fourth;
    if (!first.ok) {
        QSKIP("no sandboxed print system (run through ctest)");
    }
    QVERIFY(second.ok && third.ok && fourth.ok);
    const auto info = [](const testenv::Queue& queue) {
        return QPrinterInfo::printerInfo(queue.name);
    };
    QVERIFY(!info(first).isNull());

    PrintClient client;
    client.startup();
    QSignalSpy changed(&client, &PrintClient::printersChanged);
    QSignalSpy fetching(&client, &PrintClient::fetchingChanged);

    QVERIFY(deliver(client, {info(first), info(second), info(third)}));
    QCOMPARE(names(client.printerList()), (QStringList{first.name, second.name, third.name}));
    QList<PrinterPtr> held = client.printerList(); // a request thread's copy
    const QPointer<Printer> firstObject = held.at(0).data();
    Printer* const secondObject = held.at(1).data();
    const QPointer<Printer> thirdObject = held.at(2).data();

    QVERIFY(deliver(client, {info(second), info(fourth)}));
    QList<PrinterPtr> now = client.printerList();
    QCOMPARE(names(now), (QStringList{second.name, fourth.name}));
    QCOMPARE(now.at(0).data(), secondObject);

    // Dropped printers stay usable while the copy exists, and go when it goes.
    testenv::flushDeletes();
    QVERIFY(firstObject && thirdObject);
    QCOMPARE(firstObject->name(), first.name);
    held.clear();
    testenv::flushDeletes();
    QVERIFY(!firstObject && !thirdObject);

    // Survivors keep their previous order whatever the enumeration order; new ones follow.
    Printer* const fourthObject = now.at(1).data();
    QVERIFY(deliver(client, {info(fourth), info(first), info(second)}));
    now = client.printerList();
    QCOMPARE(names(now), (QStringList{second.name, fourth.name, first.name}));
    QCOMPARE(now.at(0).data(), secondObject);
    QCOMPARE(now.at(1).data(), fourthObject);

    // The read-only list the screens bind to shows the same objects.
    QQmlListProperty<Printer> property = client.printers();
    QCOMPARE(property.count(&property), 3);
    QCOMPARE(property.at(&property, 2), now.at(2).data());

    now.clear();
    QVERIFY(deliver(client, {}));
    QVERIFY(client.printerList().isEmpty());
    QCOMPARE(changed.count(), 4);
    QCOMPARE(fetching.count(), 4);
    QVERIFY(!client.isFetching());
    QVERIFY(!client.isStarted()); // the other answers are still missing
    QTimer* refresh = testenv::timerOf(&client, 3000);
    QVERIFY(refresh && refresh->isActive() && refresh->isSingleShot());
}

void TestPrintClient::printerAvailabilityPersists()
{
    // This queue name's hash contains "/", which splits the key into groups of the store.
    testenv::Queue queue(QStringLiteral("app_slash_1"));
    if (!queue.ok) {
        QSKIP("no sandboxed print system (run through ctest)");
    }
    const QString key = QStringLiteral("printers/TpIq1/XFma5TAmKhGIJBLl/LPe0=");
    const QPrinterInfo info = QPrinterInfo::printerInfo(queue.name);
    {
        Printer printer(info);
        QCOMPARE(printer.getHash(), key.mid(9));
        QVERIFY(!printer.available()); // a queue never seen before may not be used
        QSignalSpy changed(&printer, &Printer::availableChanged);
        printer.setAvailable(true);
        QCOMPARE(QSettings().value(key), QVariant(true));

        // Switching on again announces and writes again.
        QSettings().setValue(key, false);
        printer.setAvailable(true);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(QSettings().value(key), QVariant(true));
    }
    Printer again(info); // after a restart, or when the queue comes back
    QVERIFY(again.available());
    again.setAvailable(false);
    QCOMPARE(Printer(info).available(), false);
}

void TestPrintClient::printerHash()
{
    QCOMPARE(Printer::hashFor(QStringLiteral("abc")),
             QStringLiteral("qZk+NkcGgWq6PiVxeFDCbJzQ2J0="));
    // Latin-1, not UTF-8; characters outside Latin-1 count as "?".
    QCOMPARE(Printer::hashFor(QStringLiteral("café")),
             QStringLiteral("0vUrxEBomPxyLAtOMU+bRvyFzeQ="));
    QCOMPARE(Printer::hashFor(QStringLiteral("caf€")), Printer::hashFor(QStringLiteral("caf?")));
}

void TestPrintClient::printerState()
{
    testenv::Queue running, stopped;
    if (!running.ok) {
        QSKIP("no sandboxed print system (run through ctest)");
    }
    QVERIFY(testenv::cupsTool(QStringLiteral("cupsdisable"), {stopped.name}));
    QVERIFY(Printer(QPrinterInfo::printerInfo(running.name)).state());
    QVERIFY(!Printer(QPrinterInfo::printerInfo(stopped.name)).state());

    // A queue stopped while the program runs: the next refresh has to show it, since the
    // API refuses jobs and the screens show "off" by this state.
    PrintClient client;
    client.startup();
    QVERIFY(deliver(client, {QPrinterInfo::printerInfo(running.name)}));
    QVERIFY(client.printerList().at(0)->state());
    QVERIFY(testenv::cupsTool(QStringLiteral("cupsdisable"), {running.name}));
    QVERIFY(deliver(client, {QPrinterInfo::printerInfo(running.name)}));
    QVERIFY(!client.printerList().at(0)->state());
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
    QSignalSpy changed(&client, &PrintClient::tpasChanged);
    client.updateTpas(); // the refresh button; no worker answers before the terms are accepted
    QVERIFY(client.isFetching());

    // Serial ports without USB ids (vendor 0) are no terminals.
    const QList<QSerialPortInfo> ports{QSerialPortInfo(QStringLiteral("ttyS0")),
                                       QSerialPortInfo(QStringLiteral("ttyS1"))};
    QVERIFY(QMetaObject::invokeMethod(&client, "onGetTpas", Q_ARG(QList<QSerialPortInfo>, ports)));
    QVERIFY(client.tpaList().isEmpty());
    QCOMPARE(changed.count(), 1);
    QTimer* refresh = testenv::timerOf(&client, 30000);
    QVERIFY(refresh && refresh->isSingleShot());

    // Only a printer result ends the busy state.
    QVERIFY(client.isFetching());
    QVERIFY(deliver(client, {}));
    QVERIFY(!client.isFetching());
}

void TestPrintClient::updateCheck_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("before");
    QTest::addColumn<bool>("after");
    QTest::addColumn<bool>("announced");
    const auto ok = [](const QByteArray& body) { return UpdateService::reply(200, body); };
    // clang-format off
    QTest::newRow("newer version") << ok(R"({"hasNewVersion": true})") << false << true << true;
    QTest::newRow("up to date") << ok(R"({"hasNewVersion": false})") << true << false << true;
    QTest::newRow("string true") << ok(R"({"hasNewVersion": "true"})") << true << false << true;
    QTest::newRow("number 1") << ok(R"({"hasNewVersion": 1})") << true << false << true;
    QTest::newRow("member missing") << ok("{}") << true << false << true;
    QTest::newRow("not JSON") << ok("yes") << true << false << true;
    QTest::newRow("JSON array") << ok("[true]") << true << false << true;
    QTest::newRow("HTTP error") << UpdateService::reply(500, R"({"hasNewVersion": true})") << false << false << false;
    // clang-format on
}

void TestPrintClient::updateCheck()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, before);
    QFETCH(bool, after);
    QFETCH(bool, announced);
    UpdateService service(answer);
    PrintClient client;
    client.startup(); // asks once at start
    QTimer* next = testenv::timerOf(&client, 3600000, false);
    QVERIFY(next && next->isSingleShot());
    QVERIFY(!next->isActive()); // scheduled only once this check has ended
    client.setProperty("hasUpdate", before);
    QSignalSpy changed(&client, &PrintClient::hasUpdateChanged);

    QTRY_VERIFY(next->isActive());
    QCOMPARE(client.updateAvailable(), after);
    QCOMPARE(changed.count(), announced ? 1 : 0);
    if (announced) {
        QCOMPARE(changed.at(0).at(0), QVariant(after));
    }
    QCOMPARE(client.message(), after ? newVersionMessage : QString());

    const int end = service.request.indexOf("\r\n\r\n");
    const QByteArray head = service.request.left(end);
    QVERIFY2(head.startsWith("POST /hasNewVersion HTTP/1.1\r\n"), head.constData());
    QVERIFY(head.contains("\r\nContent-Type: application/x-www-form-urlencoded\r\n") ||
            head.endsWith("\r\nContent-Type: application/x-www-form-urlencoded"));
    QCOMPARE(service.request.mid(end + 4), QByteArray("cur=424"));
}

void TestPrintClient::updateCheckTimesOut()
{
    UpdateService service{QByteArray()}; // takes the request, never answers
    PrintClient client;
    QElapsedTimer clock;
    clock.start();
    client.startup();
    client.setProperty("hasUpdate", true);
    QSignalSpy changed(&client, &PrintClient::hasUpdateChanged);
    QTimer* next = testenv::timerOf(&client, 3600000, false);
    QVERIFY(next);

    QTRY_VERIFY_WITH_TIMEOUT(next->isActive(), 15000); // the time limit ended the request
    QVERIFY2(clock.elapsed() >= 9500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(service.request.endsWith("cur=424"));
    QTRY_VERIFY(service.closedByClient); // the request was given up
    QVERIFY(client.updateAvailable());
    QCOMPARE(changed.count(), 0);
    QVERIFY(client.message().isEmpty());
}

APP_TEST_MAIN(TestPrintClient)
#include "tst_printclient.moc"
