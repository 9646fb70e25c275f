#include "rawprinter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

#include <atomic>
#include <vector>

#include <cups/cups.h>

namespace {
std::atomic<int> queueCounter{0};

QString server()
{
    return qEnvironmentVariable("CUPS_SERVER");
}
} // namespace

RawPrinter::RawPrinter(QObject* parent) : QObject(parent)
{
    connect(&listener, &QTcpServer::newConnection, &listener, [this] { accept(); });
    listener.moveToThread(&thread);
    thread.start();
}

RawPrinter::~RawPrinter()
{
    if (!name.isEmpty())
        runTool(QStringLiteral("lpadmin"), {QStringLiteral("-x"), name});
    QMetaObject::invokeMethod(
        &listener,
        [this] {
            listener.close();
            qDeleteAll(buffers.keys());
        },
        Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

void RawPrinter::refuseConnections()
{
    QMetaObject::invokeMethod(
        &listener, [this] { listener.close(); }, Qt::BlockingQueuedConnection);
}

QList<QByteArray> RawPrinter::jobs() const
{
    QMutexLocker locker(&lock);
    return received;
}

bool RawPrinter::runTool(const QString& tool, const QStringList& arguments, QString* output)
{
    const QString program = QStandardPaths::findExecutable(
        tool, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin")});
    if (program.isEmpty() || server().isEmpty())
        return false;
    QProcess process;
    process.start(program, QStringList{QStringLiteral("-h"), server()} + arguments);
    if (!process.waitForFinished(30'000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool RawPrinter::create()
{
    if (server().isEmpty()) {
        lastError = QStringLiteral("CUPS_SERVER is not set: run the test through ctest, which "
                                   "starts the sandboxed scheduler");
        return false;
    }
    bool listening = false;
    QMetaObject::invokeMethod(
        &listener, [&] { listening = listener.listen(QHostAddress::LocalHost); },
        Qt::BlockingQueuedConnection);
    if (!listening) {
        lastError = listener.errorString();
        return false;
    }
    const QString candidate = QStringLiteral("escpos_%1_%2_%3")
                                  .arg(QCoreApplication::applicationName())
                                  .arg(QCoreApplication::applicationPid())
                                  .arg(queueCounter++);
    const QString device = QStringLiteral("socket://127.0.0.1:%1").arg(listener.serverPort());
    // Without a driver (-m) the queue is raw: documents reach the backend untouched.
    if (!runTool(QStringLiteral("lpadmin"), {QStringLiteral("-p"), candidate, QStringLiteral("-E"),
                                             QStringLiteral("-v"), device})) {
        lastError = QStringLiteral("lpadmin could not create %1 on %2").arg(candidate, server());
        return false;
    }
    name = candidate;
    return true;
}

bool RawPrinter::setReasons(const QStringList& reasons)
{
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER);
    const QByteArray uri = "ipp://localhost/printers/" + name.toUtf8();
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.constData());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    QList<QByteArray> values;
    for (const QString& reason : reasons)
        values.append(reason.toUtf8());
    std::vector<const char*> pointers;
    for (const QByteArray& value : values)
        pointers.push_back(value.constData());
    ippAddStrings(request, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "printer-state-reasons",
                  int(pointers.size()), nullptr, pointers.data());
    ipp_t* answer = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/admin/");
    const bool done = answer && ippGetStatusCode(answer) <= IPP_STATUS_OK_EVENTS_COMPLETE;
    ippDelete(answer);
    return done;
}

bool RawPrinter::disable()
{
    return runTool(QStringLiteral("cupsdisable"), {name});
}

bool RawPrinter::waitForJobs(int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (jobs().size() < count && !deadline.hasExpired())
        QTest::qWait(20);
    return jobs().size() >= count;
}

void RawPrinter::accept()
{
    while (QTcpSocket* socket = listener.nextPendingConnection()) {
        buffers.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, socket,
                [this, socket] { buffers[socket].append(socket->readAll()); });
        // The backend shuts its side down when the job is sent, then waits for our close.
        auto finish = [this, socket] {
            if (!buffers.contains(socket))
                return;
            const QByteArray job = buffers.take(socket) + socket->readAll();
            QMutexLocker locker(&lock);
            received.append(job);
            socket->disconnectFromHost();
            socket->deleteLater();
        };
        connect(socket, &QTcpSocket::readChannelFinished, socket, finish);
        connect(socket, &QTcpSocket::disconnected, socket, finish);
    }
}
