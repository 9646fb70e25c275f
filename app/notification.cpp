#include "notification.h"

#include <QJsonValue>

Notification::Notification(QObject* parent)
    : QObject(parent), m_dateTime(QDateTime::currentDateTime())
{
}

Notification* Notification::fromJSON(const QJsonObject& json)
{
    const QString title = json.value(QStringLiteral("title")).toString();
    if (title.isEmpty()) {
        return nullptr;
    }
    const QString subtitle = json.value(QStringLiteral("subtitle")).toString();
    if (subtitle.isEmpty()) {
        return nullptr;
    }
    auto* notification = new Notification();
    notification->setRequestId(json.value(QStringLiteral("request_id")).toInt(0));
    notification->setTerminalId(json.value(QStringLiteral("terminal_id")).toInt(0));
    notification->setStatusId(json.value(QStringLiteral("status_id")).toInt(0));
    notification->setTitle(title);
    notification->setSubtitle(subtitle);
    notification->setLastModifiedBy(json.value(QStringLiteral("lastModifiedBy")).toString());
    const QString date = json.value(QStringLiteral("date")).toString();
    if (date.isEmpty()) {
        notification->setDateTime(QDateTime::currentDateTime());
    } else {
        // A text that does not match gives an invalid date, which the next sweep drops.
        notification->setDateTime(
            QDateTime::fromString(date, QLatin1String(dateFormat)).toLocalTime());
    }
    return notification;
}

QJsonObject Notification::toJSON() const
{
    QJsonObject json;
    json.insert(QStringLiteral("request_id"), m_requestId);
    json.insert(QStringLiteral("terminal_id"), m_terminalId);
    json.insert(QStringLiteral("status_id"), m_statusId);
    json.insert(QStringLiteral("title"), m_title);
    json.insert(QStringLiteral("subtitle"), m_subtitle);
    json.insert(QStringLiteral("lastModifiedBy"), m_lastModifiedBy);
    json.insert(QStringLiteral("date"), m_dateTime.toString(QLatin1String(dateFormat)));
    return json;
}

void Notification::setRequestId(int requestId)
{
    m_requestId = requestId;
    emit requestIdChanged(m_requestId);
}

void Notification::setTerminalId(int terminalId)
{
    m_terminalId = terminalId;
    emit terminalIdChanged(m_terminalId);
}

void Notification::setStatusId(int statusId)
{
    m_statusId = statusId;
    emit statusIdChanged(m_statusId);
}

void Notification::setTitle(const QString& title)
{
    m_title = title;
    emit titleChanged(m_title);
}

void Notification::setSubtitle(const QString& subtitle)
{
    m_subtitle = subtitle;
    emit subtitleChanged(m_subtitle);
}

void Notification::setLastModifiedBy(const QString& lastModifiedBy)
{
    m_lastModifiedBy = lastModifiedBy;
    emit lastModifiedByChanged(m_lastModifiedBy);
}

void Notification::setDateTime(const QDateTime& dateTime)
{
    m_dateTime = dateTime;
    emit dateTimeChanged(m_dateTime);
}
