#include "testprint.h"

#include "previewprinter.h"
#include "printjob.h"

#include <QDateTime>
#include <QJsonObject>
#include <QLocale>

TestPrint::TestPrint(QObject* parent) : QObject(parent) {}

TestPrint::~TestPrint()
{
    for (QThread* thread : qAsConst(running)) {
        thread->wait();
        delete thread;
    }
}

QJsonArray TestPrint::job(const QString& printerName)
{
    const auto command = [](const char* op, const QJsonValue& data) {
        return QJsonObject{{QLatin1String("op"), QLatin1String(op)}, {QLatin1String("data"), data}};
    };
    const auto text = [&](const QString& line) { return command("text", line + '\n'); };
    return QJsonArray{
        command("settings", QJsonObject{{QLatin1String("hasCutter"), true},
                                        {QLatin1String("hasDrawer"), false}}),
        command("alignment", 1),
        command("double",
                QJsonObject{{QLatin1String("width"), true}, {QLatin1String("height"), true}}),
        text(tr("Impressão de teste")),
        command("double", QJsonObject()),
        text(QStringLiteral("Printarra - %1").arg(printerName)),
        text(QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat) + '\n'),
        command("alignment", 0),
        command("style", QJsonObject{{QLatin1String("emphasized"), true}}),
        text(tr("Português")),
        command("style", QJsonObject()),
        text(QStringLiteral("Ação, coração, pão, avó, à média: 1,50 €")),
        command("style", QJsonObject{{QLatin1String("emphasized"), true}}),
        text(tr("Espanhol")),
        command("style", QJsonObject()),
        text(QStringLiteral("Año, señor, ¿qué tal?, ¡olé!: 2,75 €") + '\n'),
        command("alignment", 1),
        command("qrcode", QJsonObject{{QLatin1String("data"), QStringLiteral("Printarra")},
                                      {QLatin1String("size"), 5}}),
        text(QString()),
        command("barcode", QJsonObject{{QLatin1String("type"), QStringLiteral("CODE128")},
                                       {QLatin1String("data"), QStringLiteral("PRINTARRA-123")},
                                       {QLatin1String("height"), 60},
                                       {QLatin1String("width"), 2}}),
        text(tr("Se consegue ler este talão, a impressora está pronta.")),
        command("cut", QStringLiteral("full")),
    };
}

void TestPrint::start(const QString& printerName, bool compatibilityMode,
                      const QString& previewFolder, int timeoutMs)
{
    const QJsonArray sample = job(printerName);
    QThread* thread = QThread::create([=] {
        QString reason;
        bool printed = false;
        if (!previewFolder.isEmpty()) {
            printed =
                !PreviewPrinter::save(sample, compatibilityMode, previewFolder, &reason).isEmpty();
        } else {
            PrintJob print(sample, printerName, compatibilityMode);
            // Reported printed only once the printer took it, as for the web application's jobs.
            printed = print.execute() && print.waitForOutcome(timeoutMs);
            reason = print.reason();
        }
        // This object outlives the thread (its destructor waits), so the report is safe.
        QMetaObject::invokeMethod(
            this, [=] { emit finished(printerName, printed, reason); }, Qt::QueuedConnection);
    });
    connect(thread, &QThread::finished, this, [this, thread] {
        running.removeOne(thread);
        thread->deleteLater();
    });
    running.append(thread);
    thread->start();
}
