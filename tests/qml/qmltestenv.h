#ifndef QMLTESTENV_H
#define QMLTESTENV_H

#include "printclient.h"
#include "printer.h"
#include "startup.h"

#include <QGuiApplication>
#include <QQmlContext>
#include <QScreen>

// The context the program's entry gives the screens, for the tests and the screenshot tool.
namespace qmltestenv {
inline void publish(QQmlContext* context, PrintClient* client)
{
    Startup::publish(context, client,
                     Startup::windowSize(QGuiApplication::primaryScreen()->availableSize()));
}
} // namespace qmltestenv

#endif
