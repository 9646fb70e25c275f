#ifndef PRINTCLIENT_H
#define PRINTCLIENT_H

#include "apibackend.h"
#include "appconfig.h"
#include "cupsmonitor.h"
#include "httplistener.h"
#include "notification.h"
#include "previewprinter.h"
#include "printer.h"
#include "tpa.h"

#include <QHostAddress>
#include <QList>
#include <QLocalServer>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QPrinterInfo>
#include <QQmlListProperty>
#include <QSerialPortInfo>
#include <QSettings>
#include <QStringList>
#include <QTimer>
#include <QVector>

class PrintClientThreaded;
class PrintClientRequestHandler;

using TpaPtr = QSharedPointer<Tpa>;

/**
 * The connector's controller: all user-visible state and settings, the device lists,
 * the notifications, the log lines, the update check and the server switch.
 *
 * It lives in the main thread. The API reads its lists and strings from the HTTP
 * connection threads, so those members are guarded by one mutex, and the device and
 * notification objects are shared: a request that holds a copy of a list keeps its
 * entries alive even when the main thread drops them meanwhile.
 */
class PrintClient : public QObject, public ApiBackend
{
    Q_OBJECT
    Q_PROPERTY(bool started MEMBER started NOTIFY startedChanged)
    Q_PROPERTY(bool hasUpdate MEMBER hasUpdate NOTIFY hasUpdateChanged)
    Q_PROPERTY(bool licenseAccepted READ licenseAccepted WRITE setLicenseAccepted NOTIFY
                   licenseAcceptedChanged)
    Q_PROPERTY(bool serverActive READ serverActive WRITE setServerActive NOTIFY serverActiveChanged)
    Q_PROPERTY(QString securityKey READ securityKey WRITE setSecurityKey NOTIFY securityKeyChanged)
    Q_PROPERTY(QStringList ipAddresses READ ipAddresses NOTIFY ipAddressesChanged)
    Q_PROPERTY(QQmlListProperty<Printer> printers READ printers NOTIFY printersChanged)
    Q_PROPERTY(QQmlListProperty<Tpa> tpas READ tpas NOTIFY tpasChanged)
    Q_PROPERTY(QString message READ message WRITE setMessage NOTIFY messageChanged)
    Q_PROPERTY(bool firstStartup READ firstStartup NOTIFY firstStartupChanged)
    Q_PROPERTY(bool isDebugMode READ isDebugMode WRITE setIsDebugMode NOTIFY isDebugModeChanged)
    Q_PROPERTY(QStringList debugMessages READ debugMessages WRITE setDebugMessages NOTIFY
                   debugMessagesChanged)
    Q_PROPERTY(QString version READ version NOTIFY versionChanged)
    Q_PROPERTY(QString newVersion READ newVersion NOTIFY newVersionChanged)
    Q_PROPERTY(QString curVersion READ curVersion NOTIFY curVersionChanged)
    Q_PROPERTY(QString device READ device NOTIFY deviceChanged)
    Q_PROPERTY(QString language READ language NOTIFY languageChanged)
    Q_PROPERTY(bool compatibilityMode READ compatibilityMode WRITE setCompatibilityMode NOTIFY
                   compatibilityModeChanged)
    Q_PROPERTY(bool fetching MEMBER fetching NOTIFY fetchingChanged)
    Q_PROPERTY(bool listening READ listening NOTIFY serviceStateChanged)
    Q_PROPERTY(int listenPort READ listenPort NOTIFY serviceStateChanged)
    Q_PROPERTY(QString serviceProblem READ serviceProblem NOTIFY serviceStateChanged)
    Q_PROPERTY(QObject* previewPrinter READ previewPrinterObject CONSTANT)

public:
    /** How often the lists are refreshed after each result, and the other periods. */
    static constexpr int printerRefreshInterval = 3000;
    // While the print system reports its changes, the queues are listed again on each one,
    // and otherwise only now and then.
    static constexpr int reportedPrinterRefreshInterval = 60000;
    static constexpr int tpaRefreshInterval = 30000;
    // While the device folder is watched, ports are looked at when a node appears or goes
    // (once the burst settles), and otherwise only now and then.
    static constexpr int watchedTpaRefreshInterval = 600000;
    static constexpr int portSettleDelay = 500;
    static constexpr int notificationSweepInterval = 60000;
    static constexpr int versionCheckInterval = 3600000;
    static constexpr int versionCheckTimeout = 10000;
    static constexpr int notificationLimit = 20;
    static constexpr int notificationMaxAge = 1200; // seconds
    static constexpr int debugMessageLimit = 100;
    static constexpr int tlsRefreshInterval = 120000;

    explicit PrintClient(QObject* parent = nullptr);
    ~PrintClient() override;

    void startup();
    void readSettings();
    void checkStarted();

    bool licenseAccepted() const;
    void setLicenseAccepted(bool accepted);
    bool serverActive() const;
    void setServerActive(bool on);
    QString securityKey() const override;
    void setSecurityKey(const QString& securityKey);
    bool compatibilityMode() const override;
    void setCompatibilityMode(bool compatibilityMode);
    /**
     * How long a sent job may take to print before it is cancelled and reported failed, in
     * ms: the setting "jobTimeout" in seconds (default 10), read at start.
     */
    int jobTimeout() const override { return m_jobTimeout; }
    QString message() const;
    void setMessage(const QString& message);
    bool isDebugMode() const;
    void setIsDebugMode(bool isDebugMode);
    QStringList debugMessages() const;
    void setDebugMessages(const QStringList& debugMessages);
    /** Puts a captured log line in front of the list, keeping the newest lines. */
    void addDebugMessage(const QString& line);

    bool isStarted() const { return started; }
    bool updateAvailable() const { return hasUpdate; }
    bool isFetching() const { return fetching; }
    bool firstStartup() const { return m_firstStartup; }
    QString version() const;
    QString newVersion() const;
    QString curVersion() const override;
    QString device() const override;
    QString language() const;
    QStringList ipAddresses() const;

    QQmlListProperty<Printer> printers();
    QQmlListProperty<Tpa> tpas();
    /** Copies of the device lists, safe to use from any thread. */
    QList<PrinterPtr> printerList() const;
    QList<TpaPtr> tpaList() const override;
    QList<PrinterStatus> printerStatuses() const override;

    QList<NotificationPtr> notifications() const;
    void setNotifications(const QList<NotificationPtr>& notifications);
    /** Takes a notification into the list (any thread), keeping the newest ones. */
    void addNotification(Notification* notification);
    QJsonArray notificationsJson() const override;
    bool takeNotification(const QJsonObject& json) override;

    corvane::HttpListener* httpListener() const { return listener; }

    /**
     * Answers later starts of the program through the instance's local server: a line "show"
     * shows the window, "terms" takes the terms of use accepted on the command line.
     */
    void serveInstanceRequests(QLocalServer* server);
    void instanceRequest(const QByteArray& request);

    /** The printer without hardware whose jobs become pictures (any thread may read it). */
    PreviewPrinter* previewPrinter() const { return m_previewPrinter; }
    QObject* previewPrinterObject() const { return m_previewPrinter; }
    bool previewPrinterOn() const override;
    bool savePreview(const QJsonArray& job, QString* reason) const override;
    /** Prints the sample receipt on a printer of the list; testPrintFinished() tells how. */
    Q_INVOKABLE void testPrint(const QString& printerName);

    /** Whether the API server accepts connections now, and on which port it does or would. */
    bool listening() const { return m_listening; }
    int listenPort() const;
    /**
     * Why the service does not serve although it is switched on: "termsNotAccepted",
     * "portInUse", "cannotListen" or "tlsUnusable"; empty while it serves or is switched off.
     */
    QString serviceProblem() const { return m_serviceProblem; }

    /** The security key form: eight Base64 characters from a secure source, then "v4.0". */
    static QString makeSecurityKey();
    /** A stored key without a version suffix gets "v4.0" appended. */
    static QString withVersionSuffix(const QString& key);
    /** The language part of a locale name ("pt_BR" gives "pt"). */
    static QString languageOf(const QString& localeName);

    /** The terminal type of a serial port by its USB vendor id: 1, 2, or 0 for none. */
    int tpaTypeFor(int vendorIdentifier) const;

    /**
     * What a refresh keeps and adds: an entry of the current list survives when the new
     * enumeration still has an unmatched item equal to it; every enumeration item that
     * matched nothing is new. The same rule serves printers and terminals.
     */
    struct ListRefresh
    {
        QVector<bool> survives; // per current entry
        QVector<int> added;     // enumeration indices, in enumeration order
    };
    template<typename Entry, typename Item, typename Same>
    static ListRefresh refreshList(const QList<Entry>& current, const QList<Item>& enumeration,
                                   Same same);

    /** A serial port as the terminal list tells ports apart. */
    struct PortDescription
    {
        int vendorIdentifier = 0;
        int productIdentifier = 0;
        QString portName;
        bool operator==(const PortDescription& other) const
        {
            return vendorIdentifier == other.vendorIdentifier &&
                   productIdentifier == other.productIdentifier && portName == other.portName;
        }
    };
    static PortDescription describe(const QSerialPortInfo& port);
    /**
     * The terminal list's refresh on port descriptions: which current terminals survive and
     * which ports become new terminals, with their types (ports of other vendors are left out).
     */
    QVector<QPair<int, int>> newTerminals(const QList<PortDescription>& current,
                                          const QList<PortDescription>& ports,
                                          QVector<bool>* survives) const;

    /**
     * Puts a terminal on the list that the serial port enumeration cannot describe. Tests use
     * it for a terminal on a pseudo-terminal; the next refresh drops it like an unplugged port.
     */
    void addTpa(Tpa* tpa);

signals:
    void startedChanged(bool);
    void licenseAcceptedChanged(bool);
    void serverActiveChanged(bool);
    void securityKeyChanged(QString);
    void ipAddressesChanged(QStringList);
    void printersChanged();
    void tpasChanged();
    void messageChanged(QString);
    void firstStartupChanged(bool);
    void isDebugModeChanged(bool);
    void debugMessagesChanged(QStringList);
    void notificationsChanged();
    void versionChanged();
    void newVersionChanged();
    void curVersionChanged();
    void deviceChanged();
    void showWindow();
    void hasUpdateChanged(bool);
    void languageChanged(QString);
    void compatibilityModeChanged(bool);
    void requestIPAddresses();
    void requestPrinters();
    void lookAtPrinters();
    void requestTpas();
    void requestServer(bool online, PrintClientRequestHandler* requestHandler);
    void fetchingChanged();
    void serviceStateChanged();
    void requestTlsRefresh();
    void testPrintFinished(const QString& printerName, bool printed, const QString& reason);

public slots:
    void clipboard(const QString& text);
    void updatePrinters();
    void updateTpas();

private slots:
    void onGetIPAddresses(const QList<QHostAddress>& addresses);
    void onGetPrinters(const QList<QPrinterInfo>& printers);
    void onGetPrinterConditions(const QList<PrinterCondition>& conditions, bool reportsChanges);
    void onGetTpas(const QList<QSerialPortInfo>& ports);
    void onGetServer(corvane::HttpListener* listener);
    void onTlsProblem(const QString& problem);
    void checkNewVersion();
    void checkNewVersionCompleted();
    void checkNewVersionError(QNetworkReply::NetworkError code);
    void checkNotificationDelete();

private:
    static int printerCount(QQmlListProperty<Printer>* list);
    static Printer* printerAt(QQmlListProperty<Printer>* list, int index);
    static int tpaCount(QQmlListProperty<Tpa>* list);
    static Tpa* tpaAt(QQmlListProperty<Tpa>* list, int index);
    /** Brings listening and serviceProblem up to date; a new problem is logged once. */
    void updateServiceState();

    QList<int> ingenicoVendorIds{0x079B, 0x0B00};
    QList<int> newnoteVendorIds{0x0403, 0x1E0E};
    QSettings settings;
    PrintClientThreaded* worker = nullptr;
    QTimer* printersTimer = nullptr;
    QTimer* tpasTimer = nullptr;
    bool portsWatched = false;
    QTimer* versionTimer = nullptr;
    QTimer* notificationTimer = nullptr;
    bool ipAddressesReceived = false;
    bool printersReceived = false;
    bool tpasReceived = false;
    bool serverReceived = false;
    bool started = false;
    bool m_licenseAccepted = false;
    int m_jobTimeout = 10000;
    bool m_serverActive = false;
    QString m_securityKey;
    bool m_compatibilityMode = false;
    QStringList m_ipAddresses;
    QList<PrinterPtr> m_printers;
    QList<TpaPtr> m_tpas;
    QPointer<corvane::HttpListener> listener;
    QString m_message;
    bool m_firstStartup = true;
    bool hasUpdate = false;
    bool fetching = false;
    bool m_isDebugMode = false;
    QStringList m_debugMessages;
    QString m_version;
    QString m_newVersion;
    QString m_curVersion;
    QString m_device;
    QList<NotificationPtr> m_notifications;
    QNetworkAccessManager networkAccess;
    QNetworkReply* pendingReply = nullptr;
    bool versionCheckFailed = false;
    bool m_listening = false;
    int m_listenPort = AppConfig::apiPort();
    QString m_serviceProblem;
    QString tlsProblem;
    PreviewPrinter* m_previewPrinter = nullptr;
    class TestPrint* testPrints = nullptr;

    // Guards what the API's threads read: the lists, the key, the strings and flags
    // below, and the log lines.
    mutable QMutex dataLock;
};

#endif
