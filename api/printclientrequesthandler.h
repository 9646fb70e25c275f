#ifndef PRINTCLIENTREQUESTHANDLER_H
#define PRINTCLIENTREQUESTHANDLER_H

#include "httprequesthandler.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QString>

#include <memory>

class ApiBackend;
class PrintJob;
class Tpa;

/**
 * The connector's JSON API: CORS, the security key, routing and the endpoints for
 * printers, print jobs, status, notifications and payment terminals.
 *
 * service() runs on the HTTP server's connection threads, one request at a time: making
 * and sending a print job or a terminal command holds every other request until it is done;
 * waiting for a sent job's outcome holds nobody.
 */
class PrintClientRequestHandler : public corvane::HttpRequestHandler
{
    Q_OBJECT

public:
    /** backend is the program's state the API reads and changes; it outlives the handler. */
    explicit PrintClientRequestHandler(ApiBackend* backend, QObject* parent = nullptr);

    void service(corvane::HttpRequest& request, corvane::HttpResponse& response) override;

    /** The origin sent back in "Access-Control-Allow-Origin" for a request's "Origin". */
    static QString allowedOrigin(const QString& origin);
    /** The key of an "Authorization" header: "Bearer", one blank, the key. */
    static QString bearerKey(const QString& authorization);

    void root(corvane::HttpRequest& request, corvane::HttpResponse& response);

    void getPrinters(QJsonObject& response);
    void getPrinterStatus(QJsonObject& response, QString printer);
    /**
     * Sends the job's bytes to the queue. When they all went, the job is handed back in
     * sent: its outcome is waited for after the API's lock is let go, so that a printer that
     * is slow or off holds nobody else.
     */
    void sendJob(QJsonObject& response, QString printer, QJsonArray job,
                 std::unique_ptr<PrintJob>& sent);
    void sendJob(QJsonObject& response, QString printer, QString job,
                 std::unique_ptr<PrintJob>& sent);
    /** The job drawn as printed on paper width dots wide (576 or 384), as a PNG data URI. */
    void previewJob(QJsonObject& response, const QJsonArray& job, int width);
    void setNotificationOrder(QJsonObject& response, QJsonObject notification);
    void getStatus(QJsonObject& response, bool withNotifications);

    void getTpas(QJsonObject& response);
    void getTpaStatus(QJsonObject& response, QString tpaPort, QString terminalTpaId);
    void getTpaTransactionStatus(QJsonObject& response, QString tpaPort, QString terminalTpaId);
    void clearTpaTransactionStatus(QJsonObject& response, QString tpaPort, QString terminalTpaId);
    void sendTpaOpen(QJsonObject& response, QString tpaPort, QString terminalTpaId);
    void sendTpaClose(QJsonObject& response, QString tpaPort, QString terminalTpaId);
    void sendTpaPurchase(QJsonObject& response, QString tpaPort, QString terminalTpaId,
                         QString amount);
    void sendTpaRefund(QJsonObject& response, QString tpaPort, QString terminalTpaId, QString tpaId,
                       QString datetime, QString amount);
    void sendTpaOpenMenu(QJsonObject& response, QString tpaPort, QString terminalTpaId);
    void sendTpaReprintLastReceipt(QJsonObject& response, QString tpaPort, QString terminalTpaId);

private:
    struct Fields;
    void route(QJsonObject& response, const QString& path, const Fields& fields, bool& notFound,
               std::unique_ptr<PrintJob>& sent);
    /** Whether printer names the preview printer, and it is switched on. */
    bool isPreviewPrinter(const QString& printer) const;
    void sendPreviewJob(QJsonObject& response, const QJsonArray& job);
    /** Looks a terminal up for a command; fills the failure answer and returns null if none. */
    QSharedPointer<Tpa> usableTpa(QJsonObject& response, const QString& tpaPort);
    template<typename Command>
    void sendTpaCommand(QJsonObject& response, const QString& tpaPort, const char* sentText,
                        Command command);

    ApiBackend* const backend;
    QMutex mutex;
};

#endif
