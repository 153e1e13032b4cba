#pragma once
// A tiny HTTP/1.1 server on 127.0.0.1 for integration tests: answers GET requests from a table of
// paths (with their query) on the thread that created it, and records every request target.

#include <QByteArray>
#include <QMap>
#include <QStringList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <mutex>
#include <vector>

namespace vocalynx::test {

class LoopbackHttpServer : public QObject {
public:
    LoopbackHttpServer();
    // The base address, e.g. "http://127.0.0.1:41234".
    QString base() const;
    // Serves the body for the request target (path and query exactly as sent); others get 404.
    void serve(const QString& target, QByteArray body) { bodies_[target] = std::move(body); }
    // Serves the body for the target only after the delay.
    void serveAfter(const QString& target, QByteArray body, int delayMs) {
        bodies_[target] = std::move(body);
        delays_[target] = delayMs;
    }
    // Answers the target with a success header that gives no length, then one byte every
    // interval: `bytes` of them before it closes, or without end when bytes is negative.
    void serveSlowly(const QString& target, int intervalMs, int bytes = -1) { slow_[target] = {intervalMs, bytes}; }
    // Ends every slow answer still being sent.
    void closeSlowAnswers();
    QStringList requests() const;

private:
    struct Slow {
        int intervalMs;
        int bytes;
    };
    void answer(QTcpSocket* socket);
    void answerSlowly(QTcpSocket* socket, Slow slow);
    QTcpServer server_;
    QMap<QString, QByteArray> bodies_;
    QMap<QString, int> delays_;
    QMap<QString, Slow> slow_;
    std::vector<QPointer<QTcpSocket>> slowSockets_;
    mutable std::mutex mutex_;
    QStringList requests_;
};

}  // namespace vocalynx::test
