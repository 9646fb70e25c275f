#ifndef RAWPRINTER_H
#define RAWPRINTER_H

#include <QCoreApplication>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <atomic>

// A raw queue on the sandboxed scheduler (CUPS_SERVER) whose device is socket://127.0.0.1:PORT,
// listened on by a thread of its own: each connection is one job. Removed on destruction.
class RawPrinter
{
public:
    RawPrinter()
    {
        QObject::connect(&listener, &QTcpServer::newConnection, &listener, [this] { accept(); });
        listener.moveToThread(&thread);
        thread.start();
    }
    ~RawPrinter()
    {
        if (!name.isEmpty())
            runTool("lpadmin", {"-x", name});
        inThread([this] {
            listener.close();
            qDeleteAll(buffers.keys());
        });
        thread.quit();
        thread.wait();
    }
    RawPrinter(const RawPrinter&) = delete;
    RawPrinter& operator=(const RawPrinter&) = delete;

    bool create() // false with the reason in error()
    {
        static std::atomic<int> counter{0};
        bool listening = false;
        inThread([&] { listening = listener.listen(QHostAddress::LocalHost); });
        const QString candidate = QStringLiteral("escpos_%1_%2_%3")
                                      .arg(QCoreApplication::applicationName())
                                      .arg(QCoreApplication::applicationPid())
                                      .arg(counter++);
        const QString device = QStringLiteral("socket://127.0.0.1:%1").arg(listener.serverPort());
        // Without a driver (-m) the queue is raw: documents reach the backend untouched.
        if (server().isEmpty())
            lastError =
                "CUPS_SERVER is not set: run the test through ctest (it starts the scheduler)";
        else if (!listening)
            lastError = listener.errorString();
        else if (!runTool("lpadmin", {"-p", candidate, "-E", "-v", device}))
            lastError =
                QStringLiteral("lpadmin could not create %1 on %2").arg(candidate, server());
        else
            name = candidate;
        return !name.isEmpty();
    }
    QString queueName() const { return name; }
    QString error() const { return lastError; }
    bool disable() { return runTool("cupsdisable", {name}); }
    void refuseConnections() // an unplugged printer
    {
        inThread([this] { listener.close(); });
    }
    QList<QByteArray> jobs() const // the jobs received completely, in order
    {
        QMutexLocker locker(&lock);
        return received;
    }
    bool waitForJobs(int count, int timeoutMs = 30'000)
    {
        return QTest::qWaitFor([&] { return jobs().size() >= count; }, timeoutMs);
    }
    // Runs a CUPS command line tool against the sandbox.
    static bool runTool(const QString& tool, const QStringList& arguments,
                        QString* output = nullptr)
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

private:
    static QString server() { return qEnvironmentVariable("CUPS_SERVER"); }
    template<typename Function>
    void inThread(Function function)
    {
        QMetaObject::invokeMethod(&listener, function, Qt::BlockingQueuedConnection);
    }
    void accept()
    {
        while (QTcpSocket* socket = listener.nextPendingConnection()) {
            buffers.insert(socket, QByteArray());
            QObject::connect(socket, &QTcpSocket::readyRead, socket,
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
            QObject::connect(socket, &QTcpSocket::readChannelFinished, socket, finish);
            QObject::connect(socket, &QTcpSocket::disconnected, socket, finish);
        }
    }

    QThread thread;
    QTcpServer listener; // lives in thread, as do the connections
    QString name;
    QString lastError;
    mutable QMutex lock;
    QList<QByteArray> received;
    QHash<QTcpSocket*, QByteArray> buffers; // connections still open, used in thread only
};

#endif // RAWPRINTER_H
