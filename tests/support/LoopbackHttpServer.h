#pragma once
// A tiny HTTP/1.1 server on 127.0.0.1 for integration tests: answers GET requests from a table of
// paths (with their query) on the thread that created it, and records every request target.

#include <QByteArray>
#include <QMap>
#include <QStringList>
#include <QTcpServer>
#include <mutex>

namespace vocalynx::test {

class LoopbackHttpServer : public QObject {
public:
    LoopbackHttpServer();
    // The base address, e.g. "http://127.0.0.1:41234".
    QString base() const;
    // Serves the body for the request target (path and query exactly as sent); others get 404.
    void serve(const QString& target, QByteArray body) { bodies_[target] = std::move(body); }
    QStringList requests() const;

private:
    void answer(class QTcpSocket* socket);
    QTcpServer server_;
    QMap<QString, QByteArray> bodies_;
    mutable std::mutex mutex_;
    QStringList requests_;
};

}  // namespace vocalynx::test
