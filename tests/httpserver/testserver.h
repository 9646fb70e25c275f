#ifndef PRINTARRA_TESTS_HTTPSERVER_TESTSERVER_H
#define PRINTARRA_TESTS_HTTPSERVER_TESTSERVER_H

// A listener running in a thread of its own (the tests' clients block the main
// thread), a request handler with a few behaviours chosen by path, and a recorder
// of log messages from every thread.

#include "httplistener.h"
#include "testsupport.h"

#include <QMutex>
#include <QSemaphore>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <stdexcept>

namespace testsupport {

inline QString tlsFile(const char* name)
{
    return QStringLiteral(PRINTARRA_TLS_DIR "/") + QLatin1String(name);
}

inline QList<QSslCertificate> rootCertificate()
{
    return QSslCertificate::fromPath(tlsFile("rootca.pem"));
}

/** Answers requests by path; counts them and can hold one until released. */
class TestHandler : public corvane::HttpRequestHandler
{
public:
    void service(corvane::HttpRequest& request, corvane::HttpResponse& response) override
    {
        static thread_local int depth = 0;
        if (depth > 0) {
            ++nested;
        }
        struct Depth
        {
            Depth() { ++depth; }
            ~Depth() { --depth; }
        } inside;
        serve(request, response);
    }

    std::atomic<int> served{0};
    std::atomic<int> nested{0}; // calls made while another one ran on the same thread
    QSemaphore entered;
    QSemaphore release;

private:
    void serve(corvane::HttpRequest& request, corvane::HttpResponse& response)
    {
        ++served;
        const QByteArray path = request.getPath();
        if (path == "/hello") {
            response.setHeader("Content-Type", "text/plain");
            response.write("hello", true);
        } else if (path == "/echo") {
            response.write(request.getMethod() + ' ' + path + ' ' + request.getBody(), true);
        } else if (path == "/parts") {
            response.write("abc");
            response.write("defgh");
        } else if (path == "/raw") {
            response.setHeader("Connection", "close");
            response.write("raw body");
        } else if (path == "/throw") {
            throw std::runtime_error("handler failed");
        } else if (path == "/block") {
            entered.release();
            release.acquire();
            response.write("released", true);
        } else if (path == "/big") {
            const int size = request.getParameter("size").toInt();
            const QByteArray part(65536, 'x');
            for (int sent = 0; sent < size && response.isConnected(); sent += part.size()) {
                response.write(part);
            }
        }
        // any other path: nothing written, the connection handler finishes the response
    }
};

/** Runs an HttpListener in its own thread with its own event loop. */
class ServerThread : public QThread
{
public:
    ServerThread(QSettings* settings, corvane::HttpRequestHandler* handler)
        : settings(settings), handler(handler)
    {
        start();
        ready.acquire();
    }
    ~ServerThread() override
    {
        quit();
        wait();
    }

    /** Runs a function in the listener's thread and waits for it. */
    template<typename F>
    void call(F function)
    {
        QMetaObject::invokeMethod(listener, function, Qt::BlockingQueuedConnection);
    }
    quint16 port()
    {
        quint16 result = 0;
        call([&] { result = listener->serverPort(); });
        return result;
    }
    int poolSize()
    {
        int result = -1;
        call([&] {
            result =
                listener->connectionHandlerPool() ? listener->connectionHandlerPool()->size() : -1;
        });
        return result;
    }
    void cleanupTick()
    {
        call([&] {
            QMetaObject::invokeMethod(listener->connectionHandlerPool(), "cleanup",
                                      Qt::DirectConnection);
        });
    }

    corvane::HttpListener* listener = nullptr;

protected:
    void run() override
    {
        listener = new corvane::HttpListener(settings, handler);
        ready.release();
        exec();
        delete listener;
    }

private:
    QSettings* settings;
    corvane::HttpRequestHandler* handler;
    QSemaphore ready;
};

/** Records every log message, from any thread, while it exists. */
class MessageRecorder
{
public:
    MessageRecorder()
    {
        instance() = this;
        previousHandler() = qInstallMessageHandler(&MessageRecorder::handle);
    }
    ~MessageRecorder()
    {
        qInstallMessageHandler(previousHandler());
        instance() = nullptr;
    }
    bool contains(const QString& text) const
    {
        QMutexLocker locker(&mutex);
        for (const QString& message : messages) {
            if (message.contains(text)) {
                return true;
            }
        }
        return false;
    }
    QStringList all() const
    {
        QMutexLocker locker(&mutex);
        return messages;
    }

private:
    static MessageRecorder*& instance()
    {
        static MessageRecorder* recorder = nullptr;
        return recorder;
    }
    static QtMessageHandler& previousHandler()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (MessageRecorder* recorder = instance()) {
            QMutexLocker locker(&recorder->mutex);
            recorder->messages.append(text);
        }
        if (type != QtDebugMsg && previousHandler()) {
            previousHandler()(type, context, text);
        }
    }

    mutable QMutex mutex;
    QStringList messages;
};

} // namespace testsupport

#endif
