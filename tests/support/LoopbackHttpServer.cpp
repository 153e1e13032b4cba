#include "LoopbackHttpServer.h"

#include <QTimer>
#include <memory>

namespace vocalynx::test {

LoopbackHttpServer::LoopbackHttpServer() {
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QString LoopbackHttpServer::base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()); }

QStringList LoopbackHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void LoopbackHttpServer::answer(QTcpSocket* socket) {
    QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", request);
    if (!request.contains("\r\n\r\n")) return;
    const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
    const QString target = QString::fromLatin1(line.value(1));
    {
        std::lock_guard lock(mutex_);
        requests_ << target;
    }
    if (line.value(0) == "GET" && slow_.contains(target)) {
        answerSlowly(socket, slow_.value(target));
        return;
    }
    QByteArray response;
    if (line.value(0) == "GET" && bodies_.contains(target)) {
        const QByteArray& body = bodies_[target];
        response = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                   "\r\nConnection: close\r\n\r\n" + body;
    } else {
        response = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found";
    }
    auto send = [socket, response] {
        socket->write(response);
        socket->disconnectFromHost();
    };
    if (!delays_.contains(target)) {
        send();
        return;
    }
    QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    QTimer::singleShot(delays_.value(target), socket, send);
}

void LoopbackHttpServer::answerSlowly(QTcpSocket* socket, Slow slow) {
    // The request is complete: later bytes from the client are ignored.
    QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n");
    slowSockets_.emplace_back(socket);
    auto* timer = new QTimer(socket);
    auto sent = std::make_shared<int>(0);
    connect(timer, &QTimer::timeout, socket, [socket, timer, slow, sent] {
        if (slow.bytes >= 0 && *sent >= slow.bytes) {
            timer->stop();
            socket->disconnectFromHost();
            return;
        }
        socket->write("x");
        ++*sent;
    });
    timer->start(slow.intervalMs);
}

void LoopbackHttpServer::closeSlowAnswers() {
    for (const QPointer<QTcpSocket>& socket : slowSockets_)
        if (socket) socket->abort();
    slowSockets_.clear();
}

}  // namespace vocalynx::test
