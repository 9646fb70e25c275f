// The controller: stored key, device lists on a sandboxed print system, update check, TLS material.

#include "printclient.h"
#include "printclientthreaded.h"
#include "testenv.h"
#include "tlsmaterial.h"

#include <QDBusConnection>
#include <QtNetwork>
#include <QtTest>

using Port = PrintClient::PortDescription;
using Created = QVector<QPair<int, int>>;
using Outcome = TlsMaterial::Outcome;
Q_DECLARE_METATYPE(PrintClient::PortDescription)
Q_DECLARE_METATYPE(Outcome)

namespace {
QStringList deliver(PrintClient& client, const QStringList& queues)
{
    QList<QPrinterInfo> printers;
    for (const QString& queue : queues)
        printers.append(QPrinterInfo::printerInfo(queue));
    QMetaObject::invokeMethod(&client, "onGetPrinters", Q_ARG(QList<QPrinterInfo>, printers));
    QStringList names;
    for (const PrinterPtr& printer : client.printerList())
        names.append(printer->name());
    return names;
}
TlsMaterial::Names till(const QString& host = "till-7", const QString& address = "10.213.0.1")
{
    return {host, {QHostAddress(address), QHostAddress("fe80::1%eth0")}};
}
QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestController : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings().clear(); }

    void storedKey_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("key");
        // clang-format off
        QTest::newRow("no suffix") << "abcdefgh" << "abcdefghv4.0";
        QTest::newRow("two-digit major") << "abcdefv12.3" << "abcdefv12.3v4.0";
        QTest::newRow("trailing newline") << "abcdefghv4.0\n" << "abcdefghv4.0\nv4.0";
        // clang-format on
    }
    void storedKey()
    {
        QFETCH(QString, stored);
        QSettings().setValue("securityKey", stored);
        PrintClient client;
        client.startup();
        QVERIFY(!client.firstStartup());
        QTEST(QSettings().value("securityKey").toString(), "key");
    }

    // Survivors keep their objects and order whatever the enumeration order; new ones follow.
    void printersKeepSurvivors()
    {
        testenv::Queue first, second, third;
        PrintClient client;
        client.startup();
        deliver(client, {first.name, second.name});
        QList<PrinterPtr> held = client.printerList(); // a request thread's copy
        const QPointer<Printer> firstObject = held.at(0).data(), secondObject = held.at(1).data();
        QCOMPARE(deliver(client, {third.name, second.name}),
                 (QStringList{second.name, third.name}));
        QCOMPARE(client.printerList().at(0).data(), secondObject);
        testenv::flushDeletes();
        QCOMPARE(firstObject->name(), first.name); // usable while the copy holds it
        held.clear();
        testenv::flushDeletes();
        QVERIFY(!firstObject);
        // A queue stopped meanwhile: the next refresh shows it (the API refuses its jobs).
        QSignalSpy stateChanged(secondObject, &Printer::stateChanged);
        QVERIFY(secondObject->state() && RawPrinter::runTool("cupsdisable", {second.name}));
        deliver(client, {second.name});
        deliver(client, {second.name});
        QVERIFY(!secondObject->state() && stateChanged.count() == 1);
    }

    // The periodic look, and the one after a printer event, list the queues again only when
    // the print system's destinations changed (not after a job; after a stop, a new queue):
    // a listing writes a temporary file for each queue.
    void looksListOnlyWhatChanged()
    {
        RawPrinter first;
        QVERIFY2(first.create(), qPrintable(first.error()));
        PrintClientThreaded worker;
        QSignalSpy listed(&worker, &PrintClientThreaded::onGetPrinters);
        QSignalSpy looked(&worker, &PrintClientThreaded::onGetPrinterConditions);
        worker.lookAtPrinters(); // the first look lists them
        worker.lookAtPrinters();
        QCOMPARE(listed.count(), 1);
        QCOMPARE(looked.count(), 2);
        // A job, in a later second than the queue's last change, stamps a new state time.
        QTest::qWait(1100);
        QTemporaryFile job;
        QVERIFY(job.open() && job.write("x") == 1 && job.flush());
        QVERIFY(RawPrinter::runTool("lp", {"-d", first.queueName(), "-o", "raw", job.fileName()}));
        QVERIFY(first.waitForJobs(1));
        worker.lookAtPrinters();
        QCOMPARE(listed.count(), 1);
        QVERIFY(first.disable());
        worker.lookAtPrinters();
        QCOMPARE(listed.count(), 2);
        testenv::Queue second;
        worker.lookAtPrinters();
        QCOMPARE(listed.count(), 3);
    }

    // With the print system's events signalled on the system bus, a new queue is listed at once,
    // long before the half-minute look. When they stop coming (here another notifier holds the
    // scheduler's one-at-a-time lock, as another program's may), the events no signal told of
    // bring back the look every few seconds.
    void followsSignalledEvents()
    {
        if (!QDBusConnection::systemBus().isConnected())
            QSKIP("no system bus beside the test print system");
        const QString lock = QFileInfo(qEnvironmentVariable("CUPS_SERVER")).path() +
                             "/spool/tmp/cups-dbus-notifier-lockfile";
        for (const bool signalled : {true, false}) {
            // Every other notifier goes (a program that was killed leaves its subscription).
            ipp_t* asked = CupsMonitor::send(CupsMonitor::newRequest(IPP_OP_GET_SUBSCRIPTIONS));
            for (ipp_attribute_t* a =
                     ippFindAttribute(asked, "notify-subscription-id", IPP_TAG_INTEGER);
                 a; a = ippFindNextAttribute(asked, "notify-subscription-id", IPP_TAG_INTEGER))
                CupsMonitor::cancelSubscription(ippGetInteger(a, 0));
            ippDelete(asked);
            QTRY_VERIFY(!QFile::exists(lock));
            QFile held(lock);
            if (!signalled)
                QVERIFY(held.open(QIODevice::NewOnly));
            const auto release = qScopeGuard([&held] {
                if (held.isOpen())
                    held.remove();
            });
            PrintClientThreaded worker;
            QSignalSpy listed(&worker, &PrintClientThreaded::onGetPrinters);
            worker.getPrinters();
            testenv::Queue first;
            if (signalled) {
                // Sooner than the first look every few seconds would have listed it.
                QTRY_COMPARE_WITH_TIMEOUT(listed.count(), 2, 2000);
                continue;
            }
            QTest::qWait(1000);
            QCOMPARE(listed.count(), 1);
            worker.lookAtPrinterEvents(); // as the half-minute look
            QCOMPARE(listed.count(), 2);
            QTest::qWait(1500);
            testenv::Queue second;
            QTRY_COMPARE_WITH_TIMEOUT(listed.count(), 3, 6000);
        }
    }

    // Terminals: the ports listed stay; ports of the known USB vendors become new ones.
    void terminalsKeepSurvivors_data()
    {
        QTest::addColumn<QList<Port>>("current");
        QTest::addColumn<QList<Port>>("ports");
        QTest::addColumn<QVector<bool>>("survives");
        QTest::addColumn<Created>("created"); // enumeration index and terminal type
        const auto row = [](const char* name, const QList<Port>& current, const QList<Port>& ports,
                            const QVector<bool>& survives, const Created& created) {
            QTest::newRow(name) << current << ports << survives << created;
        };
        const Port ingenico{0x079B, 0x0028, "ttyUSB0"}, unknown{0x1234, 0x0001, "ttyUSB1"};
        const Port newnote{0x0403, 0x6001, "ttyUSB2"}, moved{0x0403, 0x6001, "ttyUSB3"};
        const Port ingenico2{0x0B00, 1, "ttyACM0"}, newnote2{0x1E0E, 1, "ttyACM1"};
        row("first enumeration", {},
            {ingenico, unknown, {0, 0, "ttyS0"}, newnote, ingenico2, newnote2}, {},
            {{0, 1}, {3, 2}, {4, 1}, {5, 2}});
        row("known port, new name", {ingenico, newnote}, {moved, ingenico}, {true, false},
            {{0, 2}});
        row("other product, same name", {newnote}, {{0x0403, 0x6015, "ttyUSB2"}}, {false},
            {{0, 2}});
        row("survivors in any order", {newnote, moved, ingenico}, {ingenico, unknown, newnote},
            {true, false, true}, {});
        row("one port, one entry", {ingenico, ingenico}, {ingenico}, {true, false}, {});
    }
    void terminalsKeepSurvivors()
    {
        QFETCH(QList<Port>, current);
        QFETCH(QList<Port>, ports);
        QVector<bool> kept;
        QTEST(PrintClient().newTerminals(current, ports, &kept), "created");
        QTEST(kept, "survives");
    }

    void portsAreLookedAtWhenADeviceAppears()
    {
        QTemporaryDir devices; // stands for /dev
        qputenv("PRINTARRA_DEVICE_DIR", devices.path().toLocal8Bit());
        PrintClient client;
        client.startup();
        qunsetenv("PRINTARRA_DEVICE_DIR");
        QSignalSpy asked(&client, &PrintClient::requestTpas);
        QFile node(devices.filePath("ttyUSB0"));
        QVERIFY(node.open(QIODevice::WriteOnly));
        QTRY_COMPARE(asked.count(), 1);
    }

    void updateCheck_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("before");
        QTest::addColumn<bool>("after");
        QTest::newRow("newer") << QByteArray("200 OK\r\n\r\n{\"hasNewVersion\":true}") << false
                               << true;
        QTest::newRow("only a JSON true counts")
            << QByteArray("200 OK\r\n\r\n{\"hasNewVersion\":\"true\"}") << true << false;
    }
    void updateCheck()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, before);
        QFETCH(bool, after);
        QTcpServer service; // takes the whole request, then answers and closes
        QByteArray request;
        service.listen(QHostAddress::LocalHost);
        connect(&service, &QTcpServer::newConnection, [&] {
            QTcpSocket* socket = service.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, [&request, socket, answer] {
                if ((request += socket->readAll()).endsWith("\r\n\r\ncur=424")) {
                    socket->write("HTTP/1.1 " + answer);
                    socket->disconnectFromHost();
                }
            });
        });
        qputenv("PRINTARRA_UPDATE_URL",
                "http://127.0.0.1:" + QByteArray::number(service.serverPort()));
        PrintClient client;
        client.startup(); // asks once at start, schedules the next check once this one has ended
        QTimer* next = testenv::timerOf(&client, 3600000, false);
        client.setProperty("hasUpdate", before);
        QSignalSpy changed(&client, &PrintClient::hasUpdateChanged);
        QTRY_VERIFY_WITH_TIMEOUT(next->isActive(), 15000);
        QCOMPARE(client.updateAvailable(), after);
        QCOMPARE(changed, QList<QVariantList>{{after}});
        QCOMPARE(client.message().startsWith("Existe uma nova versão do Printarra."), after);
        QVERIFY(request.startsWith("POST /hasNewVersion HTTP/1.1\r\n") &&
                request.contains("\r\nContent-Type: application/x-www-form-urlencoded\r\n"));
    }

    // Fresh material is private and trusted for the machine's names only; the CA's constraints
    // name the private ranges, IPv6 masks included.
    void freshMaterialIsPrivateAndTrusted()
    {
        QTemporaryDir scratch;
        TlsMaterial material(scratch.filePath("tls"));
        QCOMPARE(material.ensure(till()), Outcome::Created);
        QCOMPARE(QFile::permissions(material.serverKeyPath()) & 0x0777, QFile::Permissions(0x0600));
        QCOMPARE(QFile::permissions(material.directory()) & 0x0777, QFile::Permissions(0x0700));
        QVERIFY(!QSslKey(contents(material.serverKeyPath()), QSsl::Ec).isNull());
        const QList<QSslCertificate> chain = QSslCertificate::fromPath(material.serverCertPath());
        QCOMPARE(chain.value(1), QSslCertificate::fromPath(material.rootCaPath()).value(0));
        QVERIFY(chain.at(0).expiryDate() <= QDateTime::currentDateTimeUtc().addDays(397));
        QString constraints;
        for (const QSslCertificateExtension& extension : chain.value(1).extensions())
            constraints += extension.value().toString();
        QVERIFY(constraints.contains("IP:FE80:0:0:0:0:0:0:0/FFC0:0:0:0:0:0:0:0"));
        QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
        trusting.setCaCertificates({chain.value(1)});
        QSslConfiguration::setDefaultConfiguration(trusting);
        for (const char* host : {"localhost", "till-7", "till-7.local", "10.213.0.1", "::1"})
            QVERIFY2(QSslCertificate::verify(chain, host).isEmpty(), host);
        QCOMPARE(QSslCertificate::verify(chain, "example.com").value(0).error(),
                 QSslError::HostNameMismatch);
        // Looked at again, material in order is left as it is on the disk, access times too;
        // a key made readable by others is private again.
        const QString key = material.serverKeyPath();
        const QDateTime changed = QFileInfo(key).metadataChangeTime();
        const QDateTime read = QFileInfo(material.rootKeyPath()).lastRead();
        QTest::qSleep(20); // past the file system clock's grain
        QCOMPARE(material.ensure(till()), Outcome::Unchanged);
        QCOMPARE(QFileInfo(key).metadataChangeTime(), changed);
        QCOMPARE(QFileInfo(material.rootKeyPath()).lastRead(), read);
        QFile::setPermissions(key, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        material.ensure(till());
        QCOMPARE(QFile::permissions(key) & 0x0777, QFile::Permissions(0x0600));
    }

    void issuesAgainWhenNeeded_data()
    {
        QTest::addColumn<QString>("hostName");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("daysLater"); // -1: the CA's file broken meanwhile
        QTest::addColumn<Outcome>("outcome");
        // clang-format off
        QTest::newRow("nothing changed") << "till-7" << "10.213.0.1" << 0 << Outcome::Unchanged;
        QTest::newRow("new address") << "till-7" << "192.168.1.20" << 0 << Outcome::Reissued;
        QTest::newRow("near its end") << "till-7" << "10.213.0.1" << 370 << Outcome::Reissued;
        QTest::newRow("renamed host") << "till-8" << "10.213.0.1" << 0 << Outcome::Created;
        QTest::newRow("broken CA") << "till-7" << "10.213.0.1" << -1 << Outcome::Created;
        // clang-format on
    }
    void issuesAgainWhenNeeded()
    {
        QFETCH(QString, hostName);
        QFETCH(QString, address);
        QFETCH(int, daysLater);
        QFETCH(Outcome, outcome);
        QTemporaryDir scratch;
        TlsMaterial material(scratch.filePath("tls"));
        QCOMPARE(material.ensure(till()), Outcome::Created);
        const QByteArray ca = contents(material.rootCaPath());
        const QByteArray chain = contents(material.serverCertPath());
        QFile caFile(material.rootCaPath());
        QVERIFY(daysLater >= 0 || (caFile.open(QIODevice::WriteOnly) && caFile.write("-----") > 0));
        caFile.close();
        const QDateTime later = QDateTime::currentDateTimeUtc().addDays(qMax(0, daysLater));
        QCOMPARE(material.ensure(till(hostName, address), later), outcome);
        QCOMPARE(contents(material.rootCaPath()) == ca, outcome != Outcome::Created);
        QCOMPARE(contents(material.serverCertPath()) == chain, outcome == Outcome::Unchanged);
        QCOMPARE(material.ensure(till(hostName, address), later), Outcome::Unchanged);
        // The names wanted, and the loopback ones; the addresses without their scope.
        const auto names =
            QSslCertificate::fromPath(material.serverCertPath()).value(0).subjectAlternativeNames();
        const QStringList ips = names.values(QSsl::IpAddressEntry);
        QCOMPARE(QSet<QString>(ips.begin(), ips.end()),
                 (QSet<QString>{address, "127.0.0.1", "::1", "fe80::1"}));
        QVERIFY(names.values(QSsl::DnsEntry).contains(hostName + ".local"));
    }

    void coverableAddresses() // the private ranges to their edges, link-local v6 with a scope
    {
        QVERIFY(TlsMaterial::isCoverable(QHostAddress("172.31.255.255")));
        QVERIFY(!TlsMaterial::isCoverable(QHostAddress("172.32.0.1")));
        QVERIFY(TlsMaterial::isCoverable(QHostAddress("fe80::1%eth0")));
        QVERIFY(!TlsMaterial::isCoverable(QHostAddress("2001:db8::1")));
    }
};

APP_TEST_MAIN(TestController)
#include "tst_controller.moc"
