#include "LoopbackHttpServer.h"

#include <QTcpSocket>

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
    QByteArray response;
    if (line.value(0) == "GET" && bodies_.contains(target)) {
        const QByteArray& body = bodies_[target];
        response = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                   "\r\nConnection: close\r\n\r\n" + body;
    } else {
        response = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found";
    }
    socket->write(response);
    socket->disconnectFromHost();
}

}  // namespace vocalynx::test
