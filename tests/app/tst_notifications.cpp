// Notifications: the JSON form, the controller's bounded list, the age sweep and the shared
// ownership that keeps entries valid for a request thread holding a copy of the list.

#include "printclient.h"
#include "testenv.h"

#include <QJsonDocument>
#include <QPointer>
#include <QThread>
#include <QtTest>

namespace {

const QString format = QStringLiteral("yyyy-MM-ddTHH:mm:ss");

Notification* make(const QString& title, const QString& date = QString())
{
    QJsonObject json{{"title", title}, {"subtitle", "s"}};
    if (!date.isNull()) {
        json.insert("date", date);
    }
    return Notification::fromJSON(json);
}

QStringList titles(const QList<NotificationPtr>& list)
{
    QStringList result;
    for (const NotificationPtr& n : list) {
        result.append(n->title());
    }
    return result;
}

QString ago(int seconds)
{
    return QDateTime::currentDateTime().addSecs(-seconds).toString(format);
}

} // namespace

class TestNotifications : public QObject
{
    Q_OBJECT

private slots:
    void init() { testenv::clearStore(); }
    void cleanup() { testenv::flushDeletes(); }
    void fromJson_data();
    void fromJson();
    void keepsTwentyNewestAndSweeps();
    void concurrentAdds();
};

void TestNotifications::fromJson_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QByteArray>("out"); // empty: refused; date "now": within seconds of now
    const QByteArray ts = R"("title":"T","subtitle":"S")";
    const QByteArray plain = R"({"request_id":0,"terminal_id":0,"status_id":0,"title":"T",)"
                             R"("subtitle":"S","lastModifiedBy":"","date":)";
    // clang-format off
    QTest::newRow("complete") << QByteArray(R"({"request_id":7,"terminal_id":8,"status_id":9,"title":"T","subtitle":"S","lastModifiedBy":"Ana","date":"2020-01-31T13:45:00","other":1})")
        << QByteArray(R"({"request_id":7,"terminal_id":8,"status_id":9,"title":"T","subtitle":"S","lastModifiedBy":"Ana","date":"2020-01-31T13:45:00"})");
    QTest::newRow("minimal") << "{" + ts + "}" << plain + R"("now"})";
    QTest::newRow("ids and name of other types") << R"({"request_id":"12","terminal_id":true,"lastModifiedBy":5,)" + ts + "}" << plain + R"("now"})";
    QTest::newRow("empty date") << R"({"date":"",)" + ts + "}" << plain + R"("now"})";
    QTest::newRow("date with milliseconds") << R"({"date":"2020-01-31T13:45:00.123",)" + ts + "}" << plain + R"(""})";
    QTest::newRow("impossible date") << R"({"date":"2020-02-30T10:00:00",)" + ts + "}" << plain + R"(""})";
    QTest::newRow("no title") << QByteArray(R"({"subtitle":"S"})") << QByteArray();
    QTest::newRow("title not a string") << QByteArray(R"({"title":5,"subtitle":"S"})") << QByteArray();
    QTest::newRow("empty subtitle") << QByteArray(R"({"title":"T","subtitle":""})") << QByteArray();
    // clang-format on
}

void TestNotifications::fromJson()
{
    QFETCH(QByteArray, in);
    QFETCH(QByteArray, out);
    QScopedPointer<Notification> n(Notification::fromJSON(QJsonDocument::fromJson(in).object()));
    QCOMPARE(n.isNull(), out.isEmpty());
    if (n.isNull()) {
        return;
    }
    QJsonObject actual = n->toJSON();
    QJsonObject expected = QJsonDocument::fromJson(out).object();
    if (expected.value("date") == QJsonValue("now")) {
        const QDateTime when = QDateTime::fromString(actual.value("date").toString(), format);
        QVERIFY(when.isValid() && qAbs(when.secsTo(QDateTime::currentDateTime())) <= 5);
        expected.insert("date", actual.value("date"));
    } else if (QTest::currentDataTag() == QByteArray("complete")) {
        // The suite runs at UTC+05:30: the text names a local moment, not a UTC one.
        QCOMPARE(n->dateTime().toUTC(), QDateTime(QDate(2020, 1, 31), QTime(8, 15), Qt::UTC));
    }
    QCOMPARE(QJsonDocument(actual).toJson(), QJsonDocument(expected).toJson());
}

void TestNotifications::keepsTwentyNewestAndSweeps()
{
    PrintClient client;
    client.startup();
    QTimer* sweepTimer = testenv::timerOf(&client, 60000);
    QVERIFY(sweepTimer);
    sweepTimer->stop();
    QSignalSpy changed(&client, &PrintClient::notificationsChanged);
    QStringList expected;
    QList<NotificationPtr> held; // a request thread's copy
    for (int i = 1; i <= 25; ++i) {
        client.addNotification(make(QStringLiteral("n%1").arg(i)));
        expected.append(QStringLiteral("n%1").arg(i));
        held = i == 1 ? client.notifications() : held;
    }
    QCOMPARE(changed.count(), 25);
    QCOMPARE(titles(client.notifications()), expected.mid(5));

    // Older than 20 minutes or without a valid date: dropped; future dates stay.
    const QList<QPair<QString, QString>> entries{{"1190 s old", ago(1190)},
                                                 {"1210 s old", ago(1210)},
                                                 {"in an hour", ago(-3600)},
                                                 {"invalid", "2020-01-31T13:45:00.5"}};
    for (const auto& entry : entries) {
        client.addNotification(make(entry.first, entry.second));
    }
    held += client.notifications().last();
    changed.clear();
    QVERIFY(QMetaObject::invokeMethod(&client, "checkNotificationDelete"));
    const QStringList survivors{"1190 s old", "in an hour"};
    QCOMPARE(titles(client.notifications()), expected.mid(9) + survivors);
    QCOMPARE(changed.count(), 1);
    QVERIFY(sweepTimer->isActive()); // the sweep schedules the next one

    // Entries dropped by the cap and by the sweep stay valid while a copy holds them.
    const QPointer<Notification> first = held.at(0).data(), invalid = held.at(1).data();
    testenv::flushDeletes();
    QVERIFY(first && invalid);
    QCOMPARE(titles(held), (QStringList{"n1", "invalid"}));
    held.clear();
    testenv::flushDeletes();
    QVERIFY(!first && !invalid);
}

void TestNotifications::concurrentAdds()
{
    // Request threads add and read while the main thread sweeps.
    PrintClient client;
    client.startup();
    QList<QThread*> threads;
    for (int t = 0; t < 4; ++t) {
        threads.append(QThread::create([&client, t] {
            for (int i = 0; i < 200; ++i) {
                client.addNotification(make(QStringLiteral("t%1-%2").arg(t).arg(i)));
                for (const NotificationPtr& n : client.notifications()) {
                    (void)n->title().size();
                }
            }
        }));
        threads.last()->start();
    }
    for (QThread* thread : threads) {
        while (!thread->wait(1)) {
            QMetaObject::invokeMethod(&client, "checkNotificationDelete");
        }
        delete thread;
    }
    QStringList last = titles(client.notifications());
    last.removeDuplicates();
    QCOMPARE(last.size(), 20);
}

APP_TEST_MAIN(TestNotifications)
#include "tst_notifications.moc"
