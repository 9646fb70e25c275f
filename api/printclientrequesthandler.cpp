#include "printclientrequesthandler.h"

#include "apibackend.h"
#include "printjob.h"
#include "tpa.h"
#include "tpastatus.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonValue>
#include <QMutexLocker>

using corvane::HttpRequest;
using corvane::HttpResponse;

namespace {
const char jsonContentType[] = "application/json; charset=UTF-8";

QString stringMember(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

// Qt's QString::fromUtf8(QByteArray) stops at the first NUL; a key or path followed by a
// NUL and more would then compare equal to the real one.
QString wholeText(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes.constData(), bytes.size());
}

QJsonObject failure(const QString& error)
{
    return QJsonObject{{QStringLiteral("status"), false}, {QStringLiteral("error"), error}};
}

QJsonObject success(const QJsonValue& data)
{
    return QJsonObject{{QStringLiteral("status"), true}, {QStringLiteral("data"), data}};
}

/**
 * Origins of the web application: an "Origin" that ends with one of these is echoed in
 * "Access-Control-Allow-Origin". Each starts with a dot, so that a look-alike domain
 * ("evilvelora.pt") does not pass.
 */
const QStringList allowedOriginSuffixes = {
    QStringLiteral(".velora.pt"), QStringLiteral(".velora.com"), QStringLiteral(".velora.es"),
    QStringLiteral(".velora.com.br"), QStringLiteral(".velora.app")};
// A web application under development is allowed too: http://localhost, on any port (and not
// a look-alike such as http://localhost.example.com).
bool isLocalOrigin(const QString& origin)
{
    const QLatin1String local("http://localhost");
    if (!origin.startsWith(local)) {
        return false;
    }
    const QStringRef port = origin.midRef(local.size());
    if (port.isEmpty()) {
        return true;
    }
    if (port.size() < 2 || port.size() > 6 || port.at(0) != QLatin1Char(':')) {
        return false;
    }
    for (const QChar c : port.mid(1)) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
    }
    return true;
}
// Sent in "Access-Control-Allow-Origin" for any other origin.
const QString defaultOrigin = QStringLiteral("https://www.velora.pt");
// The help article on receipt printers, linked from the page on "/".
const QString helpAddress =
    QStringLiteral("https://ajuda.velora.pt/artigos/configurar-impressoras-de-taloes");
} // namespace

namespace {
// A notification's fields from a request's parameters; only the route that sets one reads
// them, so they are not gathered for every request.
QJsonObject notificationParameters(const HttpRequest& request)
{
    QJsonObject notification;
    for (const char* name : {"request_id", "terminal_id", "status_id"}) {
        notification.insert(QLatin1String(name), request.getParameter(name).toInt(nullptr, 10));
    }
    for (const char* name : {"title", "subtitle", "lastModifiedBy", "date"}) {
        notification.insert(QLatin1String(name), wholeText(request.getParameter(name)));
    }
    return notification;
}
} // namespace

/** The request fields, from the parameters or from a JSON body. */
struct PrintClientRequestHandler::Fields
{
    bool jsonMode = false;
    QJsonObject body;
    QString printer;
    QString tpaPort;
    QString terminalTpaId;
    QString tpaId;
    QString datetime;
    QString amount;
    bool withNotifications = false;
    QByteArray jobParameter;
    const HttpRequest* request = nullptr; // for the parameters of a notification
    int width = 576; // of the paper of a preview; 0 for a value that is none of the widths
};

PrintClientRequestHandler::PrintClientRequestHandler(ApiBackend* backend, QObject* parent)
    : HttpRequestHandler(parent), backend(backend)
{
}

QString PrintClientRequestHandler::allowedOrigin(const QString& origin)
{
    if (!origin.isEmpty()) {
        for (const QString& suffix : allowedOriginSuffixes) {
            if (origin.endsWith(suffix)) {
                return origin;
            }
        }
        if (isLocalOrigin(origin)) {
            return origin;
        }
    }
    return defaultOrigin;
}

QString PrintClientRequestHandler::bearerKey(const QString& authorization)
{
    if (authorization.isEmpty() || !authorization.contains(QStringLiteral("Bearer"))) {
        return QString();
    }
    // "Bearer KEY": two pieces around exactly one blank, the key the second.
    const int blank = authorization.indexOf(QLatin1Char(' '));
    if (blank < 0 || authorization.indexOf(QLatin1Char(' '), blank + 1) >= 0) {
        return QString();
    }
    return authorization.mid(blank + 1);
}

void PrintClientRequestHandler::service(HttpRequest& request, HttpResponse& response)
{
    QMutexLocker locker(&mutex);

    const QString origin = wholeText(request.getHeader("Origin"));
    const QString contentType = wholeText(request.getHeader("Content-Type"));
    QString key = bearerKey(wholeText(request.getHeader("Authorization")));

    QJsonObject answer;
    Fields fields;
    if (!contentType.isEmpty() && contentType.contains(QStringLiteral("application/json"))) {
        fields.jsonMode = true;
        const QByteArray body = request.getBody();
        const QJsonDocument document = QJsonDocument::fromJson(body);
        if (!document.isNull()) {
            fields.body = document.object(); // an array document reads as an empty object
            if (key.isEmpty()) {
                key = stringMember(fields.body, "securityKey");
            }
            fields.printer = stringMember(fields.body, "printer");
            fields.tpaPort = stringMember(fields.body, "tpa_port");
            fields.terminalTpaId = stringMember(fields.body, "terminal_tpa_id");
            fields.tpaId = stringMember(fields.body, "tpa_id");
            fields.datetime = stringMember(fields.body, "datetime");
            fields.amount = stringMember(fields.body, "amount");
            fields.withNotifications =
                fields.body.value(QStringLiteral("with_notifications")).toInt(0) > 0;
            const QJsonValue width = fields.body.value(QStringLiteral("width"));
            fields.width = width.isUndefined() ? 576 : width.isDouble() ? width.toInt(0) : 0;
        } else if (!body.isEmpty()) {
            answer = failure(QStringLiteral("Invalid Json"));
        }
    } else if (!request.getParameterMap().isEmpty()) { // without any, the defaults stand
        if (key.isEmpty()) {
            key = wholeText(request.getParameter("securityKey"));
        }
        fields.printer = wholeText(request.getParameter("printer"));
        fields.tpaPort = wholeText(request.getParameter("tpa_port"));
        fields.terminalTpaId = wholeText(request.getParameter("terminal_tpa_id"));
        fields.tpaId = wholeText(request.getParameter("tpa_id"));
        fields.datetime = wholeText(request.getParameter("datetime"));
        fields.amount = wholeText(request.getParameter("amount"));
        fields.withNotifications =
            request.getParameter("with_notifications").toInt(nullptr, 10) > 0;
        fields.jobParameter = request.getParameter("job");
        const QByteArray width = request.getParameter("width");
        fields.width = width.isEmpty() ? 576 : width.toInt(nullptr, 10);
    }
    fields.request = &request;

    response.setHeader("Access-Control-Allow-Origin", allowedOrigin(origin).toUtf8());
    response.setHeader("Vary", "Origin");

    const QByteArray path = request.getPath();
    if (path == "/") {
        locker.unlock();
        root(request, response);
        return;
    }

    response.setHeader("Content-Type", jsonContentType);
    // The answer is encrypted and sent after the lock is let go: the lock keeps the API's
    // state changes in order, and other clients need not wait for this one's network.
    const auto writeAnswer = [&response, &locker](const QJsonObject& object) {
        locker.unlock();
        response.write(QJsonDocument(object).toJson(QJsonDocument::Indented), true);
    };
    if (!answer.isEmpty()) {
        writeAnswer(answer);
        return;
    }

    if (request.getMethod().contains("OPTIONS")) {
        response.setHeader("Date", QDateTime::currentDateTimeUtc()
                                       .toString(QStringLiteral("ddd, dd MMM yyyy hh:mm:ss t"))
                                       .toUpper()
                                       .toUtf8());
        response.setHeader("Access-Control-Allow-Methods", "POST, GET, OPTIONS");
        response.setHeader("Access-Control-Allow-Headers",
                           "authorization, Authorization, Content-Type");
        response.setHeader("Access-Control-Max-Age", 86400);
        // Browsers ask before a public page may reach a service on the local network.
        if (request.getHeader("Access-Control-Request-Private-Network") == "true") {
            response.setHeader("Access-Control-Allow-Private-Network", "true");
        }
        locker.unlock();
        response.write(QByteArray(), true);
        return;
    }

    if (key != backend->securityKey()) {
        response.setStatus(401, "Unauthorized");
        writeAnswer(failure(QStringLiteral("Invalid security key")));
        return;
    }

    bool notFound = false;
    std::unique_ptr<PrintJob> sent;
    route(answer, wholeText(path), fields, notFound, sent);
    if (notFound) {
        response.setStatus(404, "Not found");
        answer = failure(QStringLiteral("Not found"));
    }
    if (sent) {
        const int timeout = backend->jobTimeout();
        locker.unlock();
        if (!sent->waitForOutcome(timeout)) {
            answer = failure(QStringLiteral("Error printing job"));
            answer.insert(QStringLiteral("reason"), sent->reason());
        }
    }
    writeAnswer(answer);
}

void PrintClientRequestHandler::route(QJsonObject& response, const QString& requestPath,
                                      const Fields& fields, bool& notFound,
                                      std::unique_ptr<PrintJob>& sent)
{
    // Each route is also reached with one trailing "/", and by no other variant.
    QString path = requestPath;
    if (path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
    }
    const QString& port = fields.tpaPort;
    const QString& id = fields.terminalTpaId;
    if (path == QLatin1String("/getPrinters")) {
        getPrinters(response);
    } else if (path == QLatin1String("/getPrinterStatus")) {
        getPrinterStatus(response, fields.printer);
    } else if (path == QLatin1String("/sendJob")) {
        if (fields.jsonMode) {
            sendJob(response, fields.printer, fields.body.value(QStringLiteral("job")).toArray(),
                    sent);
        } else {
            sendJob(response, fields.printer, wholeText(fields.jobParameter), sent);
        }
    } else if (path == QLatin1String("/previewJob")) {
        QJsonArray job = fields.body.value(QStringLiteral("job")).toArray();
        if (!fields.jsonMode) {
            const QJsonDocument document = QJsonDocument::fromJson(fields.jobParameter);
            if (!document.isArray()) {
                response = failure(QStringLiteral("Job with incorrect format"));
                return;
            }
            job = document.array();
        }
        previewJob(response, job, fields.width);
    } else if (path == QLatin1String("/setNotificationOrder")) {
        setNotificationOrder(response, fields.jsonMode ? fields.body
                                                       : notificationParameters(*fields.request));
    } else if (path == QLatin1String("/getStatus")) {
        getStatus(response, fields.withNotifications);
    } else if (path == QLatin1String("/getTpas")) {
        getTpas(response);
    } else if (path == QLatin1String("/getTpaStatus")) {
        getTpaStatus(response, port, id);
    } else if (path == QLatin1String("/getTpaTransactionStatus")) {
        getTpaTransactionStatus(response, port, id);
    } else if (path == QLatin1String("/clearTpaTransactionStatus")) {
        clearTpaTransactionStatus(response, port, id);
    } else if (path == QLatin1String("/sendTpaOpen")) {
        sendTpaOpen(response, port, id);
    } else if (path == QLatin1String("/sendTpaClose")) {
        sendTpaClose(response, port, id);
    } else if (path == QLatin1String("/sendTpaPurchase")) {
        sendTpaPurchase(response, port, id, fields.amount);
    } else if (path == QLatin1String("/sendTpaRefund")) {
        sendTpaRefund(response, port, id, fields.tpaId, fields.datetime, fields.amount);
    } else if (path == QLatin1String("/sendTpaOpenMenu")) {
        sendTpaOpenMenu(response, port, id);
    } else if (path == QLatin1String("/sendTpaReprintLastReceipt")) {
        sendTpaReprintLastReceipt(response, port, id);
    } else {
        notFound = true;
    }
}

void PrintClientRequestHandler::root(HttpRequest&, HttpResponse& response)
{
    response.setHeader("Content-Type", "text/html; charset=UTF-8");
    const QString page =
        QStringLiteral(
            "<!DOCTYPE html>\n"
            "<html lang=\"pt\">\n"
            "<head>\n"
            "<meta charset=\"utf-8\">\n"
            "<title>Printarra</title>\n"
            "<style>body { font-family: Helvetica, Verdana, Arial, sans-serif; }</style>\n"
            "</head>\n"
            "<body>\n"
            "<h1>Printarra</h1>\n"
            "<p>Para mais informações sobre a configuração de impressoras de talões no "
            "Velora, consulte <a href=\"%1\">a documentação <em>online</em></a>.</p>\n"
            "</body>\n"
            "</html>\n")
            .arg(helpAddress);
    response.write(page.toUtf8(), true);
}

namespace {
using PrinterStatus = ApiBackend::PrinterStatus;
using TpaPtr = QSharedPointer<Tpa>;

bool findPrinter(const ApiBackend* backend, const QString& name, PrinterStatus* found)
{
    const QList<PrinterStatus> printers = backend->printerStatuses();
    for (const PrinterStatus& printer : printers) {
        if (!name.isEmpty() && printer.name == name) {
            *found = printer;
            return true;
        }
    }
    return false;
}

TpaPtr findTpa(const ApiBackend* backend, const QString& port)
{
    if (port.isEmpty()) {
        return TpaPtr();
    }
    const QList<TpaPtr> tpas = backend->tpaList();
    for (const TpaPtr& tpa : tpas) {
        if (tpa->available() && tpa->tpa().portName() == port) {
            return tpa;
        }
    }
    return TpaPtr();
}
} // namespace

void PrintClientRequestHandler::getPrinters(QJsonObject& response)
{
    QJsonArray names;
    const QList<PrinterStatus> printers = backend->printerStatuses();
    for (const PrinterStatus& printer : printers) {
        names.append(printer.name);
    }
    if (backend->previewPrinterOn()) {
        names.append(ApiBackend::previewPrinterName());
    }
    response = success(names);
}

void PrintClientRequestHandler::getPrinterStatus(QJsonObject& response, QString printer)
{
    PrinterStatus found;
    if (isPreviewPrinter(printer)) {
        response = success(true);
        response.insert(QStringLiteral("state"), QStringLiteral("idle"));
        response.insert(QStringLiteral("reasons"), QJsonArray());
        response.insert(QStringLiteral("accepting"), true);
    } else if (findPrinter(backend, printer, &found)) {
        response = success(found.online);
        response.insert(QStringLiteral("state"), found.state);
        response.insert(QStringLiteral("reasons"), QJsonArray::fromStringList(found.reasons));
        response.insert(QStringLiteral("accepting"), found.accepting);
    } else {
        response = failure(QStringLiteral("Printer not found"));
    }
    response.insert(QStringLiteral("version"), backend->curVersion());
    response.insert(QStringLiteral("device"), backend->device());
}

void PrintClientRequestHandler::sendJob(QJsonObject& response, QString printer, QJsonArray job,
                                        std::unique_ptr<PrintJob>& sent)
{
    if (isPreviewPrinter(printer)) {
        sendPreviewJob(response, job);
        return;
    }
    PrinterStatus found;
    if (!findPrinter(backend, printer, &found)) {
        response = failure(QStringLiteral("Printer not found"));
        return;
    }
    if (!found.online) {
        response = failure(QStringLiteral("Printer offline or in error state"));
        return;
    }
    if (job.isEmpty()) {
        response = failure(QStringLiteral("Job is empty"));
        return;
    }
    auto printJob = std::make_unique<PrintJob>(job, found.name, backend->compatibilityMode());
    if (printJob->execute()) {
        response = success(QStringLiteral("Job completed successfully"));
        sent = std::move(printJob);
    } else {
        response = failure(QStringLiteral("Error printing job"));
        if (!printJob->reason().isEmpty()) {
            response.insert(QStringLiteral("reason"), printJob->reason());
        }
    }
}

void PrintClientRequestHandler::sendJob(QJsonObject& response, QString printer, QString job,
                                        std::unique_ptr<PrintJob>& sent)
{
    const QJsonDocument document = QJsonDocument::fromJson(job.toUtf8());
    if (!document.isArray()) {
        response = failure(QStringLiteral("Job with incorrect format"));
        return;
    }
    sendJob(response, printer, document.array(), sent);
}

bool PrintClientRequestHandler::isPreviewPrinter(const QString& printer) const
{
    return printer == ApiBackend::previewPrinterName() && backend->previewPrinterOn();
}

void PrintClientRequestHandler::sendPreviewJob(QJsonObject& response, const QJsonArray& job)
{
    if (job.isEmpty()) {
        response = failure(QStringLiteral("Job is empty"));
        return;
    }
    QString reason;
    if (!backend->savePreview(job, &reason)) {
        response = failure(QStringLiteral("Error printing job"));
        response.insert(QStringLiteral("reason"), reason);
        return;
    }
    response = success(QStringLiteral("Job completed successfully"));
}

void PrintClientRequestHandler::previewJob(QJsonObject& response, const QJsonArray& job, int width)
{
    if (width != 576 && width != 384) {
        response = failure(QStringLiteral("Width must be 576 or 384"));
        return;
    }
    if (job.isEmpty()) {
        response = failure(QStringLiteral("Job is empty"));
        return;
    }
    // The same bytes a print would send: the same compatibility mode, the same commands.
    PrintJob printJob(job, QString(), backend->compatibilityMode());
    QByteArray png;
    if (!printJob.preview(width, &png)) {
        response = failure(QStringLiteral("Error previewing job"));
        response.insert(QStringLiteral("reason"), printJob.reason());
        return;
    }
    response = success(QString::fromLatin1("data:image/png;base64," + png.toBase64()));
}

void PrintClientRequestHandler::setNotificationOrder(QJsonObject& response,
                                                     QJsonObject notification)
{
    if (notification.isEmpty() || !backend->takeNotification(notification)) {
        // This one failure has always carried its text in "data".
        response.insert(QStringLiteral("status"), false);
        response.insert(QStringLiteral("data"), QStringLiteral("Error receiving notification"));
        return;
    }
    response = success(QStringLiteral("Notification received"));
}

void PrintClientRequestHandler::getStatus(QJsonObject& response, bool withNotifications)
{
    response = success(QStringLiteral("Device online"));
    if (withNotifications) {
        response.insert(QStringLiteral("notifications"), backend->notificationsJson());
    }
}

void PrintClientRequestHandler::getTpas(QJsonObject& response)
{
    QJsonArray list;
    const QList<TpaPtr> tpas = backend->tpaList();
    for (const TpaPtr& tpa : tpas) {
        if (!tpa->available()) {
            continue;
        }
        const QSerialPortInfo port = tpa->tpa();
        list.append(QJsonObject{
            {QStringLiteral("description"), port.description()},
            {QStringLiteral("manufacturer"), port.manufacturer()},
            {QStringLiteral("portName"), port.portName()},
            {QStringLiteral("productIdentifier"), int(port.productIdentifier())},
            {QStringLiteral("vendorIdentifier"), int(port.vendorIdentifier())},
            {QStringLiteral("vendorId"), tpa->vendorId()},
        });
    }
    response = success(list);
}

TpaPtr PrintClientRequestHandler::usableTpa(QJsonObject& response, const QString& tpaPort)
{
    const TpaPtr tpa = findTpa(backend, tpaPort);
    if (!tpa) {
        response = failure(TpaStatus::notFound);
        return TpaPtr();
    }
    if (!tpa->state()) {
        response = failure(TpaStatus::offline);
        return TpaPtr();
    }
    return tpa;
}

void PrintClientRequestHandler::getTpaStatus(QJsonObject& response, QString tpaPort,
                                             QString terminalTpaId)
{
    if (const TpaPtr tpa = usableTpa(response, tpaPort)) {
        const QString status = tpa->lastStatus(terminalTpaId);
        if (status.isEmpty()) {
            response = failure(TpaStatus::statusNotFound);
        } else {
            response.insert(QStringLiteral("status"), !status.startsWith(TpaStatus::failedPrefix));
            response.insert(QStringLiteral("data"), status);
        }
    }
    response.insert(QStringLiteral("version"), backend->curVersion());
    response.insert(QStringLiteral("device"), backend->device());
}

void PrintClientRequestHandler::getTpaTransactionStatus(QJsonObject& response, QString tpaPort,
                                                        QString terminalTpaId)
{
    if (const TpaPtr tpa = usableTpa(response, tpaPort)) {
        response = success(QJsonArray::fromStringList(tpa->lastTransactionStatus(terminalTpaId)));
    }
}

void PrintClientRequestHandler::clearTpaTransactionStatus(QJsonObject& response, QString tpaPort,
                                                          QString terminalTpaId)
{
    if (const TpaPtr tpa = usableTpa(response, tpaPort)) {
        if (tpa->isInTransaction()) {
            response = success(TpaStatus::alreadyBusy);
        } else {
            response =
                success(QJsonArray::fromStringList(tpa->clearLastTransactionStatus(terminalTpaId)));
        }
    }
}

template<typename Command>
void PrintClientRequestHandler::sendTpaCommand(QJsonObject& response, const QString& tpaPort,
                                               const char* sentText, Command command)
{
    const TpaPtr tpa = usableTpa(response, tpaPort);
    if (!tpa) {
        return;
    }
    if (tpa->isInTransaction()) {
        response = success(TpaStatus::alreadyBusy);
        return;
    }
    command(*tpa);
    response = success(QString::fromUtf8(sentText));
}

void PrintClientRequestHandler::sendTpaOpen(QJsonObject& response, QString tpaPort,
                                            QString terminalTpaId)
{
    sendTpaCommand(response, tpaPort, "KVR0000|M00|TPA open command sent",
                   [&](Tpa& tpa) { tpa.setTpaOpen(terminalTpaId); });
}

void PrintClientRequestHandler::sendTpaClose(QJsonObject& response, QString tpaPort,
                                             QString terminalTpaId)
{
    sendTpaCommand(response, tpaPort, "KVR0000|M00|TPA close command sent",
                   [&](Tpa& tpa) { tpa.setTpaClose(terminalTpaId); });
}

void PrintClientRequestHandler::sendTpaPurchase(QJsonObject& response, QString tpaPort,
                                                QString terminalTpaId, QString amount)
{
    sendTpaCommand(response, tpaPort, "KVR0000|M00|TPA purchase command sent",
                   [&](Tpa& tpa) { tpa.setTpaPurchase(terminalTpaId, amount); });
}

void PrintClientRequestHandler::sendTpaRefund(QJsonObject& response, QString tpaPort,
                                              QString terminalTpaId, QString tpaId,
                                              QString datetime, QString amount)
{
    sendTpaCommand(response, tpaPort, "KVR0000|M00|TPA refund command sent",
                   [&](Tpa& tpa) { tpa.setTpaRefund(terminalTpaId, tpaId, datetime, amount); });
}

void PrintClientRequestHandler::sendTpaOpenMenu(QJsonObject& response, QString tpaPort,
                                                QString terminalTpaId)
{
    sendTpaCommand(response, tpaPort, "KVR0000|M00|TPA menu open command sent",
                   [&](Tpa& tpa) { tpa.setTpaOpenMenu(terminalTpaId); });
}

void PrintClientRequestHandler::sendTpaReprintLastReceipt(QJsonObject& response, QString tpaPort,
                                                          QString terminalTpaId)
{
    sendTpaCommand(response, tpaPort, "KVR0000|M00|TPA reprint last receipt command sent",
                   [&](Tpa& tpa) { tpa.setTpaReprintLastReceipt(terminalTpaId); });
}
