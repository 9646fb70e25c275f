// The controller: the stored key, the printer and terminal lists on a real (sandboxed) print
// system, and the update check.

#include "printclient.h"
#include "testenv.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using Port = PrintClient::PortDescription;
using Created = QVector<QPair<int, int>>;
Q_DECLARE_METATYPE(PrintClient::PortDescription)

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
} // namespace

class TestPrintClient : public QObject
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
        QVERIFY(secondObject->state() && testenv::cupsTool("cupsdisable", {second.name}));
        deliver(client, {second.name});
        deliver(client, {second.name});
        QVERIFY(!secondObject->state() && stateChanged.count() == 1);
    }

    // Terminals: the ports listed stay; ports of the known USB vendors become new ones.
    void terminalsKeepSurvivors_data()
    {
        QTest::addColumn<QList<Port>>("current");
        QTest::addColumn<QList<Port>>("ports");
        QTest::addColumn<QVector<bool>>("survives");
        QTest::addColumn<Created>("created"); // enumeration index and terminal type
        const Port ingenico{0x079B, 0x0028, "ttyUSB0"}, unknown{0x1234, 0x0001, "ttyUSB1"};
        const Port newnote{0x0403, 0x6001, "ttyUSB2"}, moved{0x0403, 0x6001, "ttyUSB3"};
        QTest::newRow("first enumeration")
            << QList<Port>() << QList<Port>{ingenico,
                                            unknown,
                                            {0, 0, "ttyS0"},
                                            newnote,
                                            {0x0B00, 1, "ttyACM0"},
                                            {0x1E0E, 1, "ttyACM1"}}
            << QVector<bool>() << Created{{0, 1}, {3, 2}, {4, 1}, {5, 2}};
        QTest::newRow("known port, new name")
            << QList<Port>{ingenico, newnote} << QList<Port>{moved, ingenico}
            << QVector<bool>{true, false} << Created{{0, 2}};
        QTest::newRow("other product, same name")
            << QList<Port>{newnote} << QList<Port>{{0x0403, 0x6015, "ttyUSB2"}}
            << QVector<bool>{false} << Created{{0, 2}};
        QTest::newRow("survivors in any order")
            << QList<Port>{newnote, moved, ingenico} << QList<Port>{ingenico, unknown, newnote}
            << QVector<bool>{true, false, true} << Created();
        QTest::newRow("one port, one entry")
            << QList<Port>{ingenico, ingenico} << QList<Port>{ingenico}
            << QVector<bool>{true, false} << Created();
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
        // clang-format off
        QTest::newRow("newer") << QByteArray("200 OK\r\n\r\n{\"hasNewVersion\":true}") << false << true;
        QTest::newRow("up to date") << QByteArray("200 OK\r\n\r\n{\"hasNewVersion\":false}") << true << false;
        QTest::newRow("string true") << QByteArray("200 OK\r\n\r\n{\"hasNewVersion\":\"true\"}") << true << false;
        QTest::newRow("HTTP error") << QByteArray("500 X\r\n\r\n{\"hasNewVersion\":true}") << false << false;
        // clang-format on
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
                request += socket->readAll();
                if (request.endsWith("\r\n\r\ncur=424")) {
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
        QCOMPARE(changed,
                 answer.startsWith("200") ? QList<QVariantList>{{after}} : QList<QVariantList>());
        QCOMPARE(client.message().startsWith("Existe uma nova versão do Printarra."), after);
        QVERIFY(request.startsWith("POST /hasNewVersion HTTP/1.1\r\n") &&
                request.contains("\r\nContent-Type: application/x-www-form-urlencoded\r\n"));
    }
};

APP_TEST_MAIN(TestPrintClient)
#include "tst_printclient.moc"
