#include "platform/linux/QtHttpClient.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace vocalynx {

std::optional<QByteArray> QtHttpClient::get(const QUrl& url) {
    if (!url.isValid() || url.isRelative()) return std::nullopt;
    QEventLoop loop;
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs_);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = manager.get(request);
    bool tooLarge = false;
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [&](qint64 received, qint64 total) {
        if (received > maxBytes_ || total > maxBytes_) {
            tooLarge = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) loop.exec();
    std::optional<QByteArray> body;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool success = !status.isValid() || (status.toInt() >= 200 && status.toInt() < 300);
    if (reply->error() == QNetworkReply::NoError && success && !tooLarge) body = reply->readAll();
    delete reply;
    return body;
}

}  // namespace vocalynx
