#include "rawprinter.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

#include <atomic>

static QString server()
{
    return qEnvironmentVariable("CUPS_SERVER");
}

RawPrinter::RawPrinter(QObject* parent) : QObject(parent)
{
    connect(&listener, &QTcpServer::newConnection, &listener, [this] { accept(); });
    listener.moveToThread(&thread);
    thread.start();
}

RawPrinter::~RawPrinter()
{
    if (!name.isEmpty())
        runTool("lpadmin", {"-x", name});
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
    const QString program =
        QStandardPaths::findExecutable(tool, {"/usr/sbin", "/usr/bin", "/sbin"});
    if (program.isEmpty() || server().isEmpty())
        return false;
    QProcess process; // killed on destruction if it hangs
    process.start(program, QStringList{"-h", server()} + arguments);
    const bool finished = process.waitForFinished(30'000);
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool RawPrinter::create()
{
    static std::atomic<int> counter{0};
    bool listening = false;
    QMetaObject::invokeMethod(
        &listener, [&] { listening = listener.listen(QHostAddress::LocalHost); },
        Qt::BlockingQueuedConnection);
    const QString candidate = QStringLiteral("escpos_%1_%2_%3")
                                  .arg(QCoreApplication::applicationName())
                                  .arg(QCoreApplication::applicationPid())
                                  .arg(counter++);
    const QString device = QStringLiteral("socket://127.0.0.1:%1").arg(listener.serverPort());
    // Without a driver (-m) the queue is raw: documents reach the backend untouched.
    if (server().isEmpty())
        lastError = "CUPS_SERVER is not set: run the test through ctest (it starts the scheduler)";
    else if (!listening)
        lastError = listener.errorString();
    else if (!runTool("lpadmin", {"-p", candidate, "-E", "-v", device}))
        lastError = QStringLiteral("lpadmin could not create %1 on %2").arg(candidate, server());
    else
        name = candidate;
    return !name.isEmpty();
}

bool RawPrinter::waitForJobs(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return jobs().size() >= count; }, timeoutMs);
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
