#include "platform/linux/QtHttpClient.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <cerrno>
#include <memory>

namespace vocalynx {

HttpClient::Fetched QtHttpClient::fetch(const QUrl& url) {
    if (!url.isValid() || url.isRelative()) return {};
    const QString scheme = url.scheme().toLower();
    const bool local = scheme == QLatin1String("file");
    if (local) {
        if (!url.host().isEmpty() && url.host() != QLatin1String("localhost")) return {};
    } else if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty()) {
        return {};
    }

    const QString key = url.toString(QUrl::FullyEncoded);
    {
        std::lock_guard lock(inFlightMutex_);
        if (inFlight_.contains(key)) return {std::nullopt, true};
        inFlight_.insert(key);
    }
    struct Release {
        QtHttpClient& client;
        const QString& key;
        ~Release() {
            std::lock_guard lock(client.inFlightMutex_);
            client.inFlight_.remove(key);
        }
    } release{*this, key};
    return {local ? readLocalFile(url.toLocalFile()) : download(url), false};
}

std::optional<QByteArray> QtHttpClient::download(const QUrl& url) {
    QEventLoop loop;
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setTransferTimeout(deadlineMs_);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QByteArray body;
    bool abandoned = false;
    auto abandon = [&] {
        if (abandoned) return;
        abandoned = true;
        reply->abort();
    };
    // A declared length over the limit is refused before the body is read.
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maxBytes_) abandon();
    });
    // The body is taken as it arrives, so that no more than the limit (and one chunk) is held.
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        body += reply->readAll();
        if (body.size() > maxBytes_) abandon();
    });
    // The transfer timeout only notices silence; the deadline also ends a server that trickles.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, abandon);
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    deadline.start(deadlineMs_);
    if (!reply->isFinished()) loop.exec();
    if (abandoned || reply->error() != QNetworkReply::NoError) return std::nullopt;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() >= 300)) return std::nullopt;
    body += reply->readAll();
    if (body.size() > maxBytes_) return std::nullopt;
    return body;
}

std::optional<QByteArray> QtHttpClient::readLocalFile(const QString& path) const {
    const QByteArray native = QFile::encodeName(path);
    // Looking the path up with O_PATH opens nothing for reading: a FIFO (whose opening waits for a
    // writer), a device or a socket is seen for what it is before anything touches it.
    const int probe = ::open(native.constData(), O_PATH | O_CLOEXEC);
    if (probe < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(probe, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxBytes_) {
        ::close(probe);
        return std::nullopt;
    }
    // Reopens the very file that was looked at, not the path, which may name another one by now.
    const QByteArray self = QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(probe);
    const int fd = ::open(self.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    ::close(probe);
    if (fd < 0) return std::nullopt;

    QByteArray body;
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        body.append(chunk, n);
        if (body.size() > maxBytes_) {  // the file grew past the limit while being read
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return body;
}

}  // namespace vocalynx
