#ifndef QMLTESTENV_H
#define QMLTESTENV_H

#include "printclient.h"
#include "printer.h"
#include "startup.h"
#include "tpa.h"

#include <QDate>
#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QScreen>
#include <QSysInfo>
#include <QTcpServer>
#include <QtQml>

// What the program's entry gives the screens, for tests and the screenshot tool: the QML
// types, the controller as "printClient" and the context values, computed the same way.
namespace qmltestenv {

inline void registerTypes()
{
    qmlRegisterType<PrintClient>("PrintClient", 1, 0, "PrintClient");
    qmlRegisterType<Printer>("Printer", 1, 0, "Printer");
    qmlRegisterUncreatableType<Tpa>("Tpa", 1, 0, "Tpa", QStringLiteral("from the controller"));
}

inline void publish(QQmlContext* context, PrintClient* client)
{
    const QSize window = Startup::windowSize(QGuiApplication::primaryScreen()->availableSize());
    context->setContextProperty(QStringLiteral("printClient"), client);
    context->setContextProperty(QStringLiteral("RELEASENAME"), client->version());
    context->setContextProperty(QStringLiteral("NEWRELEASE"), client->version());
    context->setContextProperty(
        QStringLiteral("RELEASEDATE"),
        QDate::currentDate().toString(QStringLiteral("dd MMM yyyy")) + QStringLiteral(" 09:00:12"));
    context->setContextProperty(QStringLiteral("OSDATA"),
                                QSysInfo::prettyProductName() + QSysInfo::kernelVersion());
    context->setContextProperty(QStringLiteral("DISPLAY_WIDTH"), window.width());
    context->setContextProperty(QStringLiteral("DISPLAY_HEIGHT"), window.height());
}

// A port nobody listens on right now, for the controller's HTTPS server.
inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace qmltestenv

#endif
