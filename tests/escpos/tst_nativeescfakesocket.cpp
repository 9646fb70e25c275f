// The raw job device on a live (sandboxed) CUPS scheduler.

#include "cupsseam.h"
#include "nativeescfakesocket.h"
#include "rawprinter.h"

#include <QtTest>

class TestNativeEscFakeSocket : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void writeBeforeConnectIsDropped();
    void readsNothing();
    void writeOpensTheJob();
    void writesFormOneDocument();
    void closeKeepsTheDeviceOpen();
    void disabledQueueIsRefused();
    void unknownQueueFailsAtJobCreation();
    void refusedWriteEndsTheJob();

private:
    RawPrinter printer;
};

void TestNativeEscFakeSocket::initTestCase()
{
    QVERIFY2(printer.create(), qPrintable(printer.error()));
}

void TestNativeEscFakeSocket::init()
{
    CupsSeam::reset();
}

void TestNativeEscFakeSocket::writeBeforeConnectIsDropped()
{
    // QIODevice::write refuses a closed device, so the device's own answer is asked directly.
    struct Device : NativeESCFakeSocket
    {
        using NativeESCFakeSocket::writeData;
    } device;
    QCOMPARE(device.writeData("abc", 3), qint64(3));
    QVERIFY(CupsSeam::calls().isEmpty());
}

void TestNativeEscFakeSocket::readsNothing()
{
    NativeESCFakeSocket device;
    QVERIFY(device.connectToDevice(printer.queueName()));
    char buffer[8];
    QCOMPARE(device.read(buffer, sizeof buffer), qint64(0));
    QCOMPARE(device.bytesAvailable(), qint64(0));
    QVERIFY(CupsSeam::calls().isEmpty());
}

void TestNativeEscFakeSocket::writeOpensTheJob()
{
    NativeESCFakeSocket device;
    QVERIFY(device.connectToDevice(printer.queueName()));
    QVERIFY(device.isOpen());
    const int before = printer.jobs().size();
    QCOMPARE(device.write("\x1b@hello"), qint64(7));
    QCOMPARE(device.bytesToWrite(), qint64(0));
    QCOMPARE(CupsSeam::callNames(), QStringList({"create", "start", "write"}));
    QVERIFY(device.endJobRequested());
    QVERIFY(printer.waitForJobs(before + 1));
    QCOMPARE(printer.jobs().last(), QByteArray("\x1b@hello"));
}

void TestNativeEscFakeSocket::writesFormOneDocument()
{
    NativeESCFakeSocket device;
    QVERIFY(device.connectToDevice(printer.queueName()));
    QVERIFY(device.startJobRequested());
    const int before = printer.jobs().size();
    QCOMPARE(device.write(QByteArray("first|", 6)), qint64(6));
    QCOMPARE(device.write(QByteArray("\0second", 7)), qint64(7));
    QVERIFY(device.endJobRequested());
    QCOMPARE(CupsSeam::callNames(), QStringList({"create", "start", "write", "write", "finish"}));
    QVERIFY(printer.waitForJobs(before + 1));
    QCOMPARE(printer.jobs().last(), QByteArray("first|\0second", 13));
}

void TestNativeEscFakeSocket::closeKeepsTheDeviceOpen()
{
    NativeESCFakeSocket device;
    QVERIFY(device.connectToDevice(printer.queueName()));
    QVERIFY(device.startJobRequested());
    device.close();
    QVERIFY(device.isOpen());
    const int before = printer.jobs().size();
    QCOMPARE(device.write("after close"), qint64(11));
    QVERIFY(device.endJobRequested());
    QVERIFY(printer.waitForJobs(before + 1));
    QCOMPARE(printer.jobs().last(), QByteArray("after close"));
}

void TestNativeEscFakeSocket::disabledQueueIsRefused()
{
    RawPrinter stopped;
    QVERIFY2(stopped.create(), qPrintable(stopped.error()));
    QVERIFY(stopped.disable());
    NativeESCFakeSocket device;
    QVERIFY(!device.connectToDevice(stopped.queueName()));
    QVERIFY(!device.isOpen());
    QCOMPARE(device.write("x"), qint64(-1)); // not open
    QVERIFY(CupsSeam::calls().isEmpty());
}

void TestNativeEscFakeSocket::unknownQueueFailsAtJobCreation()
{
    NativeESCFakeSocket device;
    QVERIFY(device.connectToDevice(QStringLiteral("escpos_no_such_queue")));
    QVERIFY(!device.startJobRequested());
    QCOMPARE(CupsSeam::callNames(), QStringList({"create!"}));
    QVERIFY(!device.endJobRequested());
}

void TestNativeEscFakeSocket::refusedWriteEndsTheJob()
{
    NativeESCFakeSocket device;
    QVERIFY(device.connectToDevice(printer.queueName()));
    QVERIFY(device.startJobRequested());
    CupsSeam::refuseWrite(2);
    const int before = printer.jobs().size();
    QCOMPARE(device.write("accepted"), qint64(8));
    QCOMPARE(device.write("refused"), qint64(0));
    QCOMPARE(device.bytesToWrite(), qint64(7));
    QVERIFY(device.writeRefused());
    // Nothing more goes to the finished request, and it is not finished twice.
    QCOMPARE(device.write("later"), qint64(0));
    QVERIFY(!device.endJobRequested());
    QCOMPARE(CupsSeam::callNames(), QStringList({"create", "start", "write", "write!", "finish"}));
    // What the print system accepted before may print.
    QVERIFY(printer.waitForJobs(before + 1));
    QCOMPARE(printer.jobs().last(), QByteArray("accepted"));
}

QTEST_GUILESS_MAIN(TestNativeEscFakeSocket)
#include "tst_nativeescfakesocket.moc"
