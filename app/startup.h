#ifndef STARTUP_H
#define STARTUP_H

#include <QLocalServer>
#include <QQmlContext>
#include <QSize>
#include <QString>

/**
 * The decisions the program makes before the controller exists: whether another
 * instance runs (and what to ask of it), which translation to load and how large the window
 * is.
 */
class PrintClient;

class Startup
{
public:
    /**
     * Whether a local server of that name answers within 100 ms; if it does, it is handed the
     * request line ("show" or "terms", see PrintClient::instanceRequest).
     */
    static bool askRunningInstance(const QString& serverName, const QByteArray& request);
    /** Holds the name for this run, so that a later start finds this instance. */
    static void createLocalServer(QLocalServer& server, const QString& serverName);

    /** The translation file (without ".qm") for a system locale name such as "pt_BR". */
    static QString translationFile(const QString& localeName, const QString& directory);

    /** The window size for the primary screen's available area. */
    static QSize windowSize(const QSize& available);

    /** Registers the controller's types with the QML engine. */
    static void registerQmlTypes();
    /**
     * Gives the screens the controller as "printClient" and the values they show: the release
     * name (twice), date and operating system, and the window size.
     */
    static void publish(QQmlContext* context, PrintClient* client, const QSize& window);
};

#endif
