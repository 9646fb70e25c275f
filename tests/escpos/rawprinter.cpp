#include "rawprinter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

#include <atomic>

namespace {
std::atomic<int> queueCounter{0};
}

RawPrinter::RawPrinter(QObject* parent) : QObject(parent)
{
    connect(&listener, &QTcpServer::newConnection, this, &RawPrinter::accept);
}

RawPrinter::~RawPrinter()
{
    if (!name.isEmpty())
        runTool(QStringLiteral("lpadmin"), {QStringLiteral("-x"), name});
}

QString RawPrinter::server()
{
    return qEnvironmentVariable("CUPS_SERVER");
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
    if (!listener.listen(QHostAddress::LocalHost)) {
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

bool RawPrinter::disable()
{
    return runTool(QStringLiteral("cupsdisable"), {name});
}

bool RawPrinter::waitForJobs(int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (received.size() < count && !deadline.hasExpired())
        QTest::qWait(20);
    return received.size() >= count;
}

void RawPrinter::accept()
{
    while (QTcpSocket* socket = listener.nextPendingConnection()) {
        buffers.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this,
                [this, socket] { buffers[socket].append(socket->readAll()); });
        // The backend shuts its side down when the job is sent and waits for the printer to
        // close the connection.
        auto finish = [this, socket] {
            if (!buffers.contains(socket))
                return;
            received.append(buffers.take(socket) + socket->readAll());
            socket->disconnectFromHost();
            socket->deleteLater();
        };
        connect(socket, &QTcpSocket::readChannelFinished, this, finish);
        connect(socket, &QTcpSocket::disconnected, this, finish);
    }
}
