// The decisions taken before the controller exists, the debug-mode log capture, and the
// installation's own TLS material, which a client trusting only its CA accepts.

#include "messagehandler.h"
#include "printclient.h"
#include "startup.h"
#include "testenv.h"
#include "tlsmaterial.h"

#include <QSslCertificate>
#include <QSslCertificateExtension>
#include <QSslKey>
#include <QTemporaryFile>
#include <QtTest>

#include <unistd.h>

using Outcome = TlsMaterial::Outcome;
Q_DECLARE_METATYPE(Outcome)

namespace {
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

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void windowSize_data()
    {
        QTest::addColumn<QSize>("available");
        QTest::addColumn<QSize>("window");
        QTest::newRow("large") << QSize(1920, 1050) << QSize(950, 700);
        QTest::newRow("one pixel narrower than the cap") << QSize(1049, 800) << QSize(949, 699);
        QTest::newRow("one pixel lower than the cap") << QSize(1366, 799) << QSize(948, 699);
        QTest::newRow("narrow ignores the height") << QSize(800, 300) << QSize(700, 515);
    }
    void windowSize()
    {
        QFETCH(QSize, available);
        QTEST(Startup::windowSize(available), "window");
    }

    // Debug mode keeps the last 100 lines, newest first; only lines with a source position
    // (not our own) also reach standard error.
    void logCapture()
    {
        PrintClient client;
        QSignalSpy changed(&client, &PrintClient::debugMessagesChanged);
        QTemporaryFile err;
        QVERIFY(err.open());
        const int savedStderr = dup(STDERR_FILENO);
        dup2(err.handle(), STDERR_FILENO);
        printClient = &client;
        const QtMessageHandler previous = qInstallMessageHandler(messageHandler);
        for (int i = 0; i < 150; ++i)
            qDebug("line %d", i);
        qWarning("a warning");
        qInfo("an info");
        qCritical("critical %s", "%1 kept");
        const QMessageLogContext context("/usr/src/lib/part/other.cpp", 12, "int g()", "default");
        messageHandler(QtDebugMsg, context, QStringLiteral("from elsewhere %1"));
        qInstallMessageHandler(previous);
        printClient = nullptr;
        dup2(savedStderr, STDERR_FILENO);
        const QStringList lines = client.debugMessages();
        QCOMPARE(lines.size(), 100);
        QCOMPARE(changed.count(), 152);
        err.seek(0);
        QCOMPARE(err.readAll(), lines.at(0).toLocal8Bit() + '\n');
        const QDateTime at =
            QDateTime::fromString(lines.at(0).mid(1, 23), "yyyy-MM-dd HH:mm:ss.zzz");
        QVERIFY(qAbs(at.secsTo(QDateTime::currentDateTime())) < 60); // local time (UTC+05:30 here)
        QCOMPARE(lines.at(0).mid(24), "]: from elsewhere %1\n\tother.cpp:12 int g()");
        QCOMPARE(lines.at(1).mid(24), "]: critical %1 kept");
        QVERIFY(lines.at(2).endsWith("]: line 149") && lines.at(99).endsWith("]: line 52"));
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
        QVERIFY2(constraints.contains("IP:FE80:0:0:0:0:0:0:0/FFC0:0:0:0:0:0:0:0"),
                 qPrintable(constraints));
        QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
        trusting.setCaCertificates({chain.value(1)});
        QSslConfiguration::setDefaultConfiguration(trusting);
        for (const char* host : {"localhost", "till-7", "till-7.local", "10.213.0.1", "::1"})
            QVERIFY2(QSslCertificate::verify(chain, host).isEmpty(), host);
        QCOMPARE(QSslCertificate::verify(chain, "example.com").value(0).error(),
                 QSslError::HostNameMismatch);
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

    void coverableAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("coverable");
        QTest::newRow("edge of 172.16/12") << "172.31.255.255" << true;
        QTest::newRow("beyond 172.16/12") << "172.32.0.1" << false;
        QTest::newRow("link-local v6 with scope") << "fe80::1%eth0" << true;
        QTest::newRow("global v6") << "2001:db8::1" << false;
    }
    void coverableAddresses()
    {
        QFETCH(QString, address);
        QTEST(TlsMaterial::isCoverable(QHostAddress(address)), "coverable");
    }
};

APP_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
