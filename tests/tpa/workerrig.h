#ifndef WORKERRIG_H
#define WORKERRIG_H

#include "ptyterminal.h"
#include "tpaworkeringenico.h"
#include "tpaworkernewnote.h"

#include <QStringList>
#include <QThread>

#include <functional>

// Collects a worker's reports in the test's thread, in arrival order, as
// "status:", "transaction:" and "inTransaction:" entries.
class Recorder : public QObject
{
    Q_OBJECT

public:
    QStringList events;

    QStringList of(const QString& kind) const
    {
        QStringList texts;
        for (const QString& event : events) {
            if (event.startsWith(kind + ':'))
                texts << event.mid(kind.size() + 1);
        }
        return texts;
    }

signals:
    void command(QByteArray command);

public slots:
    void onStatus(QString status) { events << "status:" + status; }
    void onTransactionStatus(QString status) { events << "transaction:" + status; }
    void onInTransaction(bool value)
    {
        events << (value ? "inTransaction:true" : "inTransaction:false");
    }
};

// A worker of the given terminal type in a thread of its own on a fresh pseudo-terminal, wired
// the way the terminal object wires it.
class WorkerRig
{
public:
    WorkerRig(int type, const TpaWorker::Timings& timings, const QString& devicePath = QString())
    {
        if (type == 1)
            worker = new TpaWorkerIngenico(QSerialPortInfo());
        else
            worker = new TpaWorkerNewnote(QSerialPortInfo());
        worker->setDevicePath(devicePath.isEmpty() ? pty.slavePath() : devicePath);
        worker->setTimings(timings);
        worker->moveToThread(&thread);
        QObject::connect(&thread, &QThread::started, worker, &TpaWorker::startWorker);
        QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        QObject::connect(&recorder, &Recorder::command, worker, &TpaWorker::setNewCommand);
        QObject::connect(worker, &TpaWorker::setLastStatus, &recorder, &Recorder::onStatus);
        QObject::connect(worker, &TpaWorker::setLastTransactionStatus, &recorder,
                         &Recorder::onTransactionStatus);
        QObject::connect(worker, &TpaWorker::setInTransactionChanged, &recorder,
                         &Recorder::onInTransaction);
        thread.start();
    }
    ~WorkerRig()
    {
        thread.quit();
        thread.wait();
    }

    void command(const QByteArray& payload) { emit recorder.command(payload); }

    // Runs f on the worker, in the worker's thread.
    void invoke(const std::function<void(TpaWorker*)>& f)
    {
        TpaWorker* w = worker;
        QMetaObject::invokeMethod(
            w, [w, f] { f(w); }, Qt::QueuedConnection);
    }

    PtyTerminal pty;
    Recorder recorder;
    QThread thread;
    TpaWorker* worker = nullptr;
};

#endif // WORKERRIG_H
