// Notifications: the JSON form, the controller's bounded list, the age sweep and the shared
// ownership that keeps entries valid for a request thread holding a copy of the list.

#include "printclient.h"
#include "testenv.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QThread>

namespace {

const QString format = QStringLiteral("yyyy-MM-ddTHH:mm:ss");

Notification* make(const QString& title, const QString& date = QString())
{
    QJsonObject json{{QStringLiteral("title"), title},
                     {QStringLiteral("subtitle"), QStringLiteral("s")}};
    if (!date.isNull()) {
        json.insert(QStringLiteral("date"), date);
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
    void dateIsLocalTime();
    void keepsTwentyNewest();
    void sweep();
    void copiesKeepDroppedEntriesAlive();
    void concurrentAdds();
};

void TestNotifications::fromJson_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QByteArray>("out"); // empty: refused; date "now": within seconds of now
    const auto row = [](const char* name, const QByteArray& in, const QByteArray& out) {
        QTest::newRow(name) << in << out;
    };
    const QByteArray ts = R"("title":"T","subtitle":"S")";
    const QByteArray plain =
        R"({"request_id":0,"terminal_id":0,"status_id":0,"title":"T","subtitle":"S","lastModifiedBy":"","date":)";
    // clang-format off
    row("complete", R"({"request_id":7,"terminal_id":8,"status_id":9,"title":"T","subtitle":"S","lastModifiedBy":"Ana","date":"2020-01-31T13:45:00","other":1})",
        R"({"request_id":7,"terminal_id":8,"status_id":9,"title":"T","subtitle":"S","lastModifiedBy":"Ana","date":"2020-01-31T13:45:00"})");
    row("minimal", "{" + ts + "}", plain + R"("now"})");
    row("negative ids", R"({"request_id":-3,"status_id":-1,)" + ts + "}",
        R"({"request_id":-3,"terminal_id":0,"status_id":-1,"title":"T","subtitle":"S","lastModifiedBy":"","date":"now"})");
    row("ids of other types", R"({"request_id":"12","terminal_id":true,"status_id":null,)" + ts + "}", plain + R"("now"})");
    row("lastModifiedBy not a string", R"({"lastModifiedBy":5,)" + ts + "}", plain + R"("now"})");
    row("empty date", R"({"date":"",)" + ts + "}", plain + R"("now"})");
    row("date not a string", R"({"date":20200131,)" + ts + "}", plain + R"("now"})");
    row("date with milliseconds", R"({"date":"2020-01-31T13:45:00.123",)" + ts + "}", plain + R"(""})");
    row("date with zone", R"({"date":"2020-01-31T13:45:00Z",)" + ts + "}", plain + R"(""})");
    row("date with a blank", R"({"date":"2020-01-31 13:45:00",)" + ts + "}", plain + R"(""})");
    row("impossible date", R"({"date":"2020-02-30T10:00:00",)" + ts + "}", plain + R"(""})");
    row("no title", R"({"subtitle":"S"})", "");
    row("empty title", R"({"title":"","subtitle":"S"})", "");
    row("title not a string", R"({"title":5,"subtitle":"S"})", "");
    row("no subtitle", R"({"title":"T"})", "");
    row("empty subtitle", R"({"title":"T","subtitle":""})", "");
    row("keys are case-sensitive", R"({"Title":"T","subtitle":"S"})", "");
    // clang-format on
}

void TestNotifications::fromJson()
{
    QFETCH(QByteArray, in);
    QFETCH(QByteArray, out);
    const QJsonDocument document = QJsonDocument::fromJson(in);
    QVERIFY(document.isObject());
    QScopedPointer<Notification> n(Notification::fromJSON(document.object()));
    QCOMPARE(n.isNull(), out.isEmpty());
    if (n.isNull()) {
        return;
    }
    QVERIFY(!n->parent());
    QJsonObject actual = n->toJSON();
    QJsonObject expected = QJsonDocument::fromJson(out).object();
    if (expected.value("date") == QJsonValue("now")) {
        const QDateTime when = QDateTime::fromString(actual.value("date").toString(), format);
        QVERIFY(when.isValid() && qAbs(when.secsTo(QDateTime::currentDateTime())) <= 5);
        expected.insert("date", actual.value("date"));
    }
    QCOMPARE(QJsonDocument(actual).toJson(QJsonDocument::Compact),
             QJsonDocument(expected).toJson(QJsonDocument::Compact));
}

void TestNotifications::dateIsLocalTime()
{
    // The test runs at UTC+05:30: the text names a local moment, not a UTC one.
    QScopedPointer<Notification> n(
        make(QStringLiteral("t"), QStringLiteral("2020-01-31T13:45:00")));
    QCOMPARE(n->dateTime().toUTC(), QDateTime(QDate(2020, 1, 31), QTime(8, 15), Qt::UTC));
}

void TestNotifications::keepsTwentyNewest()
{
    PrintClient client;
    QSignalSpy changed(&client, &PrintClient::notificationsChanged);
    QStringList expected;
    for (int i = 1; i <= 25; ++i) {
        client.addNotification(make(QStringLiteral("n%1").arg(i)));
        expected.append(QStringLiteral("n%1").arg(i));
    }
    QCOMPARE(changed.count(), 25);
    QCOMPARE(titles(client.notifications()), expected.mid(5));
}

void TestNotifications::sweep()
{
    PrintClient client;
    client.startup();
    QTimer* sweepTimer = testenv::timerOf(&client, 60000);
    QVERIFY(sweepTimer && sweepTimer->isActive());

    const QString future = QDateTime::currentDateTime().addSecs(3600).toString(format);
    const QList<QPair<QString, QString>> entries{
        {"25 min old", ago(25 * 60)},
        {"10 min old", ago(10 * 60)},
        {"1190 s old", ago(1190)},
        {"1210 s old", ago(1210)},
        {"in an hour", future},
        {"invalid", QStringLiteral("2020-01-31T13:45:00.5")},
        {"far future", "2099-01-01T00:00:00"},
        {"now", QString()},
        {"last year", ago(365 * 86400)}};
    for (const auto& entry : entries) {
        client.addNotification(make(entry.first, entry.second));
    }

    sweepTimer->stop();
    QSignalSpy changed(&client, &PrintClient::notificationsChanged);
    QVERIFY(QMetaObject::invokeMethod(&client, "checkNotificationDelete"));
    QCOMPARE(titles(client.notifications()),
             (QStringList{"10 min old", "1190 s old", "in an hour", "far future", "now"}));
    QCOMPARE(changed.count(), 1);
    // The sweep schedules the next one.
    QVERIFY(sweepTimer->isActive());
    QCOMPARE(sweepTimer->interval(), 60000);

    // Nothing to drop: the list stays, the change is announced anyway.
    QVERIFY(QMetaObject::invokeMethod(&client, "checkNotificationDelete"));
    QCOMPARE(client.notifications().size(), 5);
    QCOMPARE(changed.count(), 2);
}

void TestNotifications::copiesKeepDroppedEntriesAlive()
{
    PrintClient client;
    client.startup();
    client.addNotification(make(QStringLiteral("first")));
    client.addNotification(make(QStringLiteral("stale"), QStringLiteral("bad date")));
    QList<NotificationPtr> copy = client.notifications();
    const QPointer<Notification> first = copy.at(0).data();
    const QPointer<Notification> stale = copy.at(1).data();

    // Dropped by the sweep and by the cap while a request still holds its copy.
    QVERIFY(QMetaObject::invokeMethod(&client, "checkNotificationDelete"));
    for (int i = 0; i < 20; ++i) {
        client.addNotification(make(QStringLiteral("later")));
    }
    QVERIFY(!client.notifications().contains(copy.at(0)));
    QVERIFY(!client.notifications().contains(copy.at(1)));
    testenv::flushDeletes();
    QVERIFY(first && stale);
    QCOMPARE(copy.at(0)->title(), QStringLiteral("first"));
    QCOMPARE(copy.at(1)->toJSON().value("date"), QJsonValue(""));

    // The last holder lets go: the entries are freed.
    copy.clear();
    testenv::flushDeletes();
    QVERIFY(!first);
    QVERIFY(!stale);
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
                const QList<NotificationPtr> seen = client.notifications();
                for (const NotificationPtr& n : seen) {
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
    QCOMPARE(last.size(), 20);
    last.removeDuplicates();
    QCOMPARE(last.size(), 20);
}

APP_TEST_MAIN(TestNotifications)
#include "tst_notifications.moc"
