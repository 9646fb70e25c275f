#include "cupsmonitor.h"

#include <cups/cups.h>

#include <vector>

namespace {
// A lost program's subscription goes away by itself; a running one is renewed by changed().
constexpr int leaseSeconds = 3600;
} // namespace

CupsMonitor::~CupsMonitor()
{
    cancelSubscription(subscription);
    cancelSubscription(pushSubscription);
}

void CupsMonitor::setPushed(bool wanted)
{
    pushWanted = wanted;
    if (!wanted) {
        cancelSubscription(pushSubscription);
        pushSubscription = 0;
    }
}

ipp_t* CupsMonitor::newRequest(ipp_op_t operation, const QByteArray& uri, const char* uriName)
{
    ipp_t* request = ippNewRequest(operation);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, uriName, nullptr, uri.constData());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    return request;
}

ipp_t* CupsMonitor::send(ipp_t* request)
{
    ipp_t* answer = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    if (answer && ippGetStatusCode(answer) > IPP_STATUS_OK_EVENTS_COMPLETE) {
        ippDelete(answer);
        return nullptr;
    }
    return answer;
}

int CupsMonitor::subscribe(const QByteArray& uri, std::initializer_list<const char*> events,
                           int leaseSeconds, const char* recipient)
{
    ipp_t* request = newRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, uri);
    if (recipient)
        ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_URI, "notify-recipient-uri", nullptr,
                     recipient);
    else
        ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr,
                     "ippget");
    const std::vector<const char*> names(events);
    ippAddStrings(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events",
                  int(names.size()), nullptr, names.data());
    ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                  leaseSeconds);
    ipp_t* answer = send(request);
    const int id =
        ippGetInteger(ippFindAttribute(answer, "notify-subscription-id", IPP_TAG_INTEGER), 0);
    ippDelete(answer);
    return id;
}

void CupsMonitor::cancelSubscription(int id)
{
    if (id < 1)
        return;
    ipp_t* request = newRequest(IPP_OP_CANCEL_SUBSCRIPTION);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", id);
    ippDelete(send(request));
}

QStringList CupsMonitor::tidyReasons(const QStringList& reasons)
{
    QStringList tidy;
    for (QString reason : reasons) {
        if (reason.endsWith(QLatin1String("-error")))
            reason.chop(6);
        else if (reason.endsWith(QLatin1String("-warning")))
            reason.chop(8);
        if (reason != QLatin1String("none") && !reason.isEmpty() && !tidy.contains(reason))
            tidy.append(reason);
    }
    return tidy;
}

QList<PrinterCondition> CupsMonitor::conditions()
{
    ipp_t* request = newRequest(IPP_OP_CUPS_GET_PRINTERS);
    static const char* const wanted[] = {"printer-name", "printer-state", "printer-state-reasons",
                                         "printer-is-accepting-jobs"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(sizeof wanted / sizeof *wanted), nullptr, wanted);
    ipp_t* answer = send(request);
    QList<PrinterCondition> list;
    if (!answer)
        return list;
    // One group per queue; a nameless attribute separates them.
    PrinterCondition current;
    QStringList reasons;
    const auto finish = [&] {
        if (!current.name.isEmpty()) {
            current.reasons = tidyReasons(reasons);
            list.append(current);
        }
        current = PrinterCondition();
        reasons.clear();
    };
    for (ipp_attribute_t* a = ippFirstAttribute(answer); a; a = ippNextAttribute(answer)) {
        const char* name = ippGetName(a);
        if (!name || ippGetGroupTag(a) != IPP_TAG_PRINTER) {
            finish();
            continue;
        }
        if (qstrcmp(name, "printer-name") == 0) {
            current.name = QString::fromUtf8(ippGetString(a, 0, nullptr));
        } else if (qstrcmp(name, "printer-state") == 0) {
            const int state = ippGetInteger(a, 0);
            current.state = state == IPP_PSTATE_STOPPED      ? QStringLiteral("stopped")
                            : state == IPP_PSTATE_PROCESSING ? QStringLiteral("processing")
                                                             : QStringLiteral("idle");
        } else if (qstrcmp(name, "printer-state-reasons") == 0) {
            for (int i = 0; i < ippGetCount(a); ++i)
                reasons.append(QString::fromUtf8(ippGetString(a, i, nullptr)));
        } else if (qstrcmp(name, "printer-is-accepting-jobs") == 0) {
            current.accepting = ippGetBoolean(a, 0);
        }
    }
    finish();
    ippDelete(answer);
    return list;
}

QByteArray CupsMonitor::destinations(int* described)
{
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    if (described)
        *described = count;
    QByteArray all;
    for (int i = 0; i < count; ++i) {
        const cups_dest_t& dest = dests[i];
        all.append(dest.name).append('/').append(dest.instance ? dest.instance : "");
        all.append(dest.is_default ? "*\n" : "\n");
        for (int j = 0; j < dest.num_options; ++j) {
            const char* name = dest.options[j].name;
            const char* value = dest.options[j].value;
            // Every job moves the queue to processing and back, stamps the time it did and may
            // pass through reasons (the conditions carry those): only whether it is stopped
            // belongs to what the listing shows.
            if (qstrcmp(name, "printer-state-change-time") == 0 ||
                qstrcmp(name, "printer-state-reasons") == 0 ||
                qstrcmp(name, "marker-change-time") == 0)
                continue;
            if (qstrcmp(name, "printer-state") == 0)
                value = qstrcmp(value, "5") == 0 ? "stopped" : "not stopped";
            all.append(name).append('=').append(value).append('\n');
        }
    }
    cupsFreeDests(count, dests);
    return all;
}

void CupsMonitor::renew(int id)
{
    ipp_t* renewal = newRequest(IPP_OP_RENEW_SUBSCRIPTION);
    ippAddInteger(renewal, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", id);
    ippAddInteger(renewal, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                  leaseSeconds);
    ippDelete(send(renewal));
}

bool CupsMonitor::changed()
{
    lastReported = false;
    if (subscription > 0) {
        ipp_t* request = newRequest(IPP_OP_GET_NOTIFICATIONS);
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-ids",
                      subscription);
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-sequence-numbers",
                      nextSequence);
        ipp_t* answer = send(request);
        if (answer) {
            for (ipp_attribute_t* a =
                     ippFindAttribute(answer, "notify-sequence-number", IPP_TAG_INTEGER);
                 a; a = ippFindNextAttribute(answer, "notify-sequence-number", IPP_TAG_INTEGER)) {
                nextSequence = qMax(nextSequence, ippGetInteger(a, 0) + 1);
                lastReported = true;
            }
            ippDelete(answer);
            if (age.elapsed() > leaseSeconds * 500) {
                renew(subscription);
                if (pushSubscription > 0)
                    renew(pushSubscription);
                age.start();
            }
            return lastReported;
        }
        subscription = 0; // gone with a restarted scheduler or an ended lease
    }

    const auto events = {"printer-state-changed", "printer-added", "printer-deleted",
                         "printer-modified"};
    subscription = subscribe("ipp://localhost/", events, leaseSeconds);
    // The scheduler runs one D-Bus notifier at a time, whichever subscription started it, and
    // it sends only its own subscription's events: asking for all of them keeps other
    // programs' signals (a desktop's job notices) coming while this one sends.
    cancelSubscription(pushSubscription);
    pushSubscription = subscription > 0 && pushWanted
                           ? subscribe("ipp://localhost/", {"all"}, leaseSeconds, "dbus://")
                           : 0;
    nextSequence = 1;
    age.start();
    return true;
}
