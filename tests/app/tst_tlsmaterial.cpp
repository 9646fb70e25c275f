// The installation's own TLS material: file modes, the CA's constraints, what the server
// certificate names, when it is issued again, and that a client trusting the CA accepts it.

#include "testenv.h"
#include "tlsmaterial.h"

#include <QSslCertificate>
#include <QSslCertificateExtension>
#include <QSslConfiguration>
#include <QSslKey>
#include <QtTest>

using Outcome = TlsMaterial::Outcome;
Q_DECLARE_METATYPE(Outcome)

namespace {

TlsMaterial::Names till(const QString& address = QStringLiteral("10.213.0.1"))
{
    return {QStringLiteral("till-7"), {QHostAddress(address), QHostAddress("fe80::1%eth0")}};
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The errors a client that trusts only the CA sees for that host name.
QList<QSslError> clientErrors(const TlsMaterial& material, const QString& hostName)
{
    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    trusting.setCaCertificates(QSslCertificate::fromPath(material.rootCaPath()));
    QSslConfiguration::setDefaultConfiguration(trusting);
    return QSslCertificate::verify(QSslCertificate::fromPath(material.serverCertPath()), hostName);
}
} // namespace

class TestTlsMaterial : public QObject
{
    Q_OBJECT

private slots:
    void freshMaterialIsPrivateAndTrusted()
    {
        QTemporaryDir scratch;
        TlsMaterial material(scratch.filePath("tls"));
        QCOMPARE(material.ensure(till()), Outcome::Created);
        for (const QString& path : {material.rootKeyPath(), material.serverKeyPath()}) {
            QCOMPARE(QFile::permissions(path) & 0x0777, QFileDevice::Permissions(0x0600));
        }
        QCOMPARE(QFile::permissions(material.directory()) & 0x0777,
                 QFileDevice::Permissions(0x0700));

        const QSslCertificate ca = QSslCertificate::fromPath(material.rootCaPath()).value(0);
        QString constraints;
        for (const QSslCertificateExtension& extension : ca.extensions()) {
            if (extension.name() == QLatin1String("nameConstraints")) {
                QVERIFY(extension.isCritical());
                constraints = extension.value().toString();
            }
        }
        for (const char* permitted : {"DNS:till-7.local", "IP:192.168.0.0/255.255.0.0",
                                      "IP:FC00:0:0:0:0:0:0:0/FE00:0:0:0:0:0:0:0"}) {
            QVERIFY2(constraints.contains(QLatin1String(permitted)), qPrintable(constraints));
        }

        const QList<QSslCertificate> chain = QSslCertificate::fromPath(material.serverCertPath());
        QCOMPARE(chain.size(), 2);
        QCOMPARE(chain.at(1), ca);
        QVERIFY(!QSslKey(contents(material.serverKeyPath()), QSsl::Ec).isNull());
        QVERIFY(chain.at(0).expiryDate() <= QDateTime::currentDateTimeUtc().addDays(397));
        for (const char* host : {"localhost", "till-7", "till-7.local", "10.213.0.1", "::1"}) {
            QVERIFY2(clientErrors(material, host).isEmpty(), host);
        }
        QCOMPARE(clientErrors(material, "example.com").value(0).error(),
                 QSslError::HostNameMismatch);
    }

    void issuesAgainWhenNeeded_data()
    {
        QTest::addColumn<QString>("hostName");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("daysLater");
        QTest::addColumn<bool>("breakCa");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("nothing changed") << "till-7"
                                         << "10.213.0.1" << 0 << false << Outcome::Unchanged;
        QTest::newRow("new address") << "till-7"
                                     << "192.168.1.20" << 0 << false << Outcome::Reissued;
        QTest::newRow("near its end") << "till-7"
                                      << "10.213.0.1" << 370 << false << Outcome::Reissued;
        QTest::newRow("renamed host") << "till-8"
                                      << "10.213.0.1" << 0 << false << Outcome::Created;
        QTest::newRow("broken CA") << "till-7"
                                   << "10.213.0.1" << 0 << true << Outcome::Created;
    }
    void issuesAgainWhenNeeded()
    {
        QFETCH(QString, hostName);
        QFETCH(QString, address);
        QFETCH(int, daysLater);
        QFETCH(bool, breakCa);
        QFETCH(Outcome, outcome);
        QTemporaryDir scratch;
        TlsMaterial material(scratch.filePath("tls"));
        QCOMPARE(material.ensure(till()), Outcome::Created);
        const QByteArray ca = contents(material.rootCaPath());
        const QByteArray chain = contents(material.serverCertPath());
        if (breakCa) {
            QFile file(material.rootCaPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(ca.left(ca.size() / 2));
        }
        TlsMaterial::Names names = till(address);
        names.hostName = hostName;
        const QDateTime later = QDateTime::currentDateTimeUtc().addDays(daysLater);
        QCOMPARE(material.ensure(names, later), outcome);
        QCOMPARE(contents(material.rootCaPath()) == ca, outcome != Outcome::Created);
        QCOMPARE(contents(material.serverCertPath()) == chain, outcome == Outcome::Unchanged);
        QCOMPARE(material.ensure(names, later), Outcome::Unchanged);
        const QSslCertificate leaf = QSslCertificate::fromPath(material.serverCertPath()).value(0);
        QSet<QHostAddress> addresses;
        for (const QString& entry : leaf.subjectAlternativeNames().values(QSsl::IpAddressEntry)) {
            addresses.insert(QHostAddress(entry));
        }
        QCOMPARE(addresses, (QSet<QHostAddress>{QHostAddress("127.0.0.1"), QHostAddress("::1"),
                                                QHostAddress(address), QHostAddress("fe80::1")}));
        QVERIFY(
            leaf.subjectAlternativeNames().values(QSsl::DnsEntry).contains(hostName + ".local"));
    }

    void keepsAnExistingRsaKey()
    {
        QTemporaryDir scratch;
        TlsMaterial material(scratch.filePath("tls"));
        QVERIFY(QDir().mkpath(material.directory()));
        QVERIFY(
            QFile::copy(QStringLiteral(PRINTARRA_TLS_DIR "/kvr.key"), material.serverKeyPath()));
        QCOMPARE(material.ensure(till()), Outcome::Created);
        const QSslKey key(contents(material.serverKeyPath()), QSsl::Rsa);
        QVERIFY(!key.isNull());
        // the build's leaf carries the same key's public half
        QCOMPARE(QSslCertificate::fromPath(material.serverCertPath()).value(0).publicKey(),
                 QSslCertificate::fromPath(QStringLiteral(PRINTARRA_TLS_DIR "/kvr.cert"))
                     .value(0)
                     .publicKey());
    }

    void machineNamesStayWithinTheConstraints_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("coverable");
        QTest::newRow("edge of 172.16/12") << "172.31.255.255" << true;
        QTest::newRow("beyond 172.16/12") << "172.32.0.1" << false;
        QTest::newRow("link-local v6 with scope") << "fe80::1%eth0" << true;
        QTest::newRow("documentation v4") << "192.0.2.2" << false;
        QTest::newRow("global v6") << "2001:db8::1" << false;
    }
    void machineNamesStayWithinTheConstraints()
    {
        QFETCH(QString, address);
        QFETCH(bool, coverable);
        QCOMPARE(TlsMaterial::isCoverable(QHostAddress(address)), coverable);
        for (const QHostAddress& own : TlsMaterial::currentNames().addresses) {
            QVERIFY2(TlsMaterial::isCoverable(own) && !own.isLoopback(),
                     qPrintable(own.toString()));
        }
    }
};

APP_TEST_MAIN(TestTlsMaterial)

#include "tst_tlsmaterial.moc"
