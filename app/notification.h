#ifndef NOTIFICATION_H
#define NOTIFICATION_H

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QSharedPointer>
#include <QString>

/**
 * A short notification pushed by the web application and read back with the status
 * request. Instances are shared (NotificationPtr): a list copy held by a request thread
 * keeps its entries alive after the controller has dropped them.
 */
class Notification : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int requestId READ requestId WRITE setRequestId NOTIFY requestIdChanged)
    Q_PROPERTY(int terminalId READ terminalId WRITE setTerminalId NOTIFY terminalIdChanged)
    Q_PROPERTY(int statusId READ statusId WRITE setStatusId NOTIFY statusIdChanged)
    Q_PROPERTY(QString title READ title WRITE setTitle NOTIFY titleChanged)
    Q_PROPERTY(QString subtitle READ subtitle WRITE setSubtitle NOTIFY subtitleChanged)
    Q_PROPERTY(QString lastModifiedBy READ lastModifiedBy WRITE setLastModifiedBy NOTIFY
                   lastModifiedByChanged)
    Q_PROPERTY(QDateTime dateTime READ dateTime WRITE setDateTime NOTIFY dateTimeChanged)

public:
    /** The text form of "date", in both directions. */
    static constexpr const char* dateFormat = "yyyy-MM-ddTHH:mm:ss";

    explicit Notification(QObject* parent = nullptr);

    /** A notification from its JSON object, or null without a non-empty title and subtitle. */
    static Notification* fromJSON(const QJsonObject& json);
    /** The JSON object with all seven members. */
    QJsonObject toJSON() const;

    int requestId() const { return m_requestId; }
    int terminalId() const { return m_terminalId; }
    int statusId() const { return m_statusId; }
    QString title() const { return m_title; }
    QString subtitle() const { return m_subtitle; }
    QString lastModifiedBy() const { return m_lastModifiedBy; }
    QDateTime dateTime() const { return m_dateTime; }

    void setRequestId(int requestId);
    void setTerminalId(int terminalId);
    void setStatusId(int statusId);
    void setTitle(const QString& title);
    void setSubtitle(const QString& subtitle);
    void setLastModifiedBy(const QString& lastModifiedBy);
    void setDateTime(const QDateTime& dateTime);

signals:
    void requestIdChanged(int);
    void terminalIdChanged(int);
    void statusIdChanged(int);
    void titleChanged(QString);
    void subtitleChanged(QString);
    void lastModifiedByChanged(QString);
    void dateTimeChanged(QDateTime);

private:
    int m_requestId = 0;
    int m_terminalId = 0;
    int m_statusId = 0;
    QString m_title;
    QString m_subtitle;
    QString m_lastModifiedBy;
    QDateTime m_dateTime;
};

using NotificationPtr = QSharedPointer<Notification>;

#endif
