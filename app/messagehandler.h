#ifndef MESSAGEHANDLER_H
#define MESSAGEHANDLER_H

#include <QString>
#include <QtGlobal>

class PrintClient;

/** The controller that captured log lines go to (set once by main). */
extern PrintClient* printClient;

/**
 * Debug mode's message output: formats debug, critical and fatal messages, writes those
 * with a source position to standard error, and keeps the newest lines on the
 * controller's log list. Warnings and info messages are dropped.
 */
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

/** The captured form of one message. */
QString formatLogLine(const QString& timestamp, const QMessageLogContext& context,
                      const QString& message);

#endif
