#ifndef CUPSMONITOR_H
#define CUPSMONITOR_H

#include <QElapsedTimer>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <cups/ipp.h>

// What the print system knows of one queue beyond its name.
struct PrinterCondition
{
    QString name;
    QString state;       // "idle", "processing" or "stopped"
    QStringList reasons; // printer-state-reasons without "none" and without severity suffixes
    bool accepting = true;
};
Q_DECLARE_METATYPE(PrinterCondition)
Q_DECLARE_METATYPE(QList<PrinterCondition>)

// Watches the print system's queues: their condition in one request, and a subscription to
// the scheduler's printer events, so that the queues need only be listed again when
// something changed. The scheduler keeps the events; they are fetched with one small request.
// Not thread-safe: use it from one thread.
class CupsMonitor
{
public:
    CupsMonitor() = default;
    ~CupsMonitor();
    CupsMonitor(const CupsMonitor&) = delete;
    CupsMonitor& operator=(const CupsMonitor&) = delete;

    // Every queue's condition; empty when the print system does not answer.
    static QList<PrinterCondition> conditions();
    // printer-state-reasons as a person reads them: "media-empty-error" and
    // "media-empty-warning" are both "media-empty"; "none" is no reason.
    static QStringList tidyReasons(const QStringList& reasons);
    // The destinations as the print system and the users' option files describe them (names,
    // the default, each queue's attributes, whether it is stopped, but not its state's reasons
    // or the times of its last state and marker changes), as one value to compare; read without
    // touching the disk, unlike a listing that fetches every queue's description file. described,
    // when given, receives their number.
    static QByteArray destinations(int* described = nullptr);

    // An IPP request to the local scheduler for uri (named uriName) by this user.
    static ipp_t* newRequest(ipp_op_t operation, const QByteArray& uri = "ipp://localhost/",
                             const char* uriName = "printer-uri");
    // Sends a request (and frees it). The answer, or null when the scheduler refused it or
    // did not answer; the caller frees it.
    static ipp_t* send(ipp_t* request);
    // A subscription to events of the queue or, for the server's own uri, of every queue;
    // ended by its lease or cancelSubscription. Pulled with Get-Notifications, or sent by the
    // scheduler's notifier for recipient (such as "dbus://"). 0 when the print system offers
    // none.
    static int subscribe(const QByteArray& uri, std::initializer_list<const char*> events,
                         int leaseSeconds, const char* recipient = nullptr);
    static void cancelSubscription(int id);

    // Whether the print system reported a printer event since the last look. True as well
    // when there is no subscription yet or it was lost (the scheduler restarted, the lease
    // ran out): it is made again, and what happened meanwhile is unknown.
    bool changed();
    // Whether the last look found a working subscription.
    bool subscribed() const { return subscription > 0; }
    // Whether the last look found events reported (not only a subscription made again).
    bool reported() const { return lastReported; }

    // Whether every event is also sent as a D-Bus signal on the system bus (by the scheduler's
    // "dbus" notifier), with a second subscription made and renewed beside the pulled one,
    // from the next look on.
    void setPushed(bool wanted);
    bool pushed() const { return pushSubscription > 0; }

private:
    void renew(int id);

    int subscription = 0;
    int pushSubscription = 0;
    bool pushWanted = false;
    bool lastReported = false;
    int nextSequence = 1;
    QElapsedTimer age; // since the lease was last set
};

#endif // CUPSMONITOR_H
