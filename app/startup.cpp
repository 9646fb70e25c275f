#include "startup.h"

#include "printclient.h"
#include "printer.h"
#include "tpa.h"

#include <QDate>
#include <QLocalSocket>
#include <QStringList>
#include <QSysInfo>
#include <QtQml>

bool Startup::askRunningInstance(const QString& serverName, const QByteArray& request)
{
    QLocalSocket socket;
    socket.connectToServer(serverName, QIODevice::ReadWrite);
    if (!socket.waitForConnected(100)) {
        return false;
    }
    socket.write(request + '\n');
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return true;
}

void Startup::createLocalServer(QLocalServer& server, const QString& serverName)
{
    // A socket file left by a crashed instance would make listen() fail. Only this user's
    // later starts may ask anything of this instance.
    QLocalServer::removeServer(serverName);
    server.setSocketOptions(QLocalServer::UserAccessOption);
    server.listen(serverName);
}

QString Startup::translationFile(const QString& localeName, const QString& directory)
{
    static const QStringList supported{QStringLiteral("en"), QStringLiteral("es"),
                                       QStringLiteral("pt")};
    const QString language = PrintClient::languageOf(localeName);
    return directory + QStringLiteral("/printclient_") +
           (supported.contains(language) ? language : QStringLiteral("en"));
}

QSize Startup::windowSize(const QSize& available)
{
    // 950 x 700 at most, in that ratio, leaving 100 pixels of the screen free.
    const int width = available.width() - 100;
    if (width <= 949) {
        return QSize(width, width * 700 / 950);
    }
    const int height = available.height() - 100;
    if (height >= 700) {
        return QSize(950, 700);
    }
    return QSize(height * 950 / 700, height);
}

void Startup::registerQmlTypes()
{
    qmlRegisterType<PrintClient>("PrintClient", 1, 0, "PrintClient");
    qmlRegisterType<Printer>("Printer", 1, 0, "Printer");
    qmlRegisterUncreatableType<Tpa>("Tpa", 1, 0, "Tpa",
                                    QStringLiteral("Terminals come from the controller"));
}

void Startup::publish(QQmlContext* context, PrintClient* client, const QSize& window)
{
    const QString releaseName = client->version();
    const QString newRelease = client->version();
    const QString osData = QSysInfo::prettyProductName() + QSysInfo::kernelVersion();
    const QString releaseDate =
        QDate::currentDate().toString(QStringLiteral("dd MMM yyyy")) + QStringLiteral(" 09:00:12");

    context->setContextProperty(QStringLiteral("printClient"), client);
    context->setContextProperty(QStringLiteral("RELEASENAME"), releaseName);
    context->setContextProperty(QStringLiteral("NEWRELEASE"), newRelease);
    context->setContextProperty(QStringLiteral("RELEASEDATE"), releaseDate);
    context->setContextProperty(QStringLiteral("OSDATA"), osData);
    context->setContextProperty(QStringLiteral("DISPLAY_WIDTH"), window.width());
    context->setContextProperty(QStringLiteral("DISPLAY_HEIGHT"), window.height());
}
