#include "platform/linux/QtFileDownloader.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTemporaryFile>

namespace vocalynx {

namespace {

class QtTransfer final : public FileDownloader::Transfer {
public:
    QtTransfer(const QUrl& url, const QString& destination, FileDownloader::Handlers handlers)
        : handlers_(std::move(handlers)), destination_(destination), session_(new QNetworkAccessManager) {
        // The hidden temporary file lives in the destination's folder (the same file system, so
        // the final move is a rename).
        const QFileInfo target(destination);
        file_ = std::make_unique<QTemporaryFile>(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                                                 QStringLiteral(".XXXXXX.part"));
        if (!file_->open()) writeError_ = file_->errorString();

        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        reply_ = session_->get(request);

        // The handlers check the token first: a transfer that was dropped must not be touched,
        // even by a report already queued for it.
        std::weak_ptr<int> alive = alive_;
        QObject::connect(reply_, &QNetworkReply::readyRead, session_, [this, alive] {
            if (alive.lock()) drain();
        });
        QObject::connect(reply_, &QNetworkReply::downloadProgress, session_,
                         [this, alive](qint64 received, qint64 total) {
                             if (!alive.lock() || finished_) return;
                             // A copy: the handler may drop this transfer.
                             auto progress = handlers_.progress;
                             if (progress) progress(received, total);
                         });
        // Handled from the event loop, so that a cancel() never runs the handler inside itself.
        QObject::connect(
            reply_, &QNetworkReply::finished, session_,
            [this, alive] {
                if (alive.lock()) finish();
            },
            Qt::QueuedConnection);
    }

    ~QtTransfer() override {
        alive_.reset();
        if (reply_) {
            QObject::disconnect(reply_, nullptr, session_, nullptr);
            if (!finished_) reply_->abort();
        }
        // Later: this may run inside one of the session's own signals.
        session_->deleteLater();
    }

    void cancel() override {
        if (reply_ && !finished_) reply_->abort();
    }

private:
    void drain() {
        if (!reply_->isOpen()) return;  // aborted: nothing more is kept
        const QByteArray data = reply_->readAll();
        if (data.isEmpty() || !writeError_.isEmpty()) return;
        if (file_->write(data) != data.size()) {
            writeError_ = file_->errorString();
            reply_->abort();
        }
    }

    void finish() {
        drain();
        finished_ = true;
        const std::optional<QString> failure = outcome();
        // Moved out: the handler may drop this transfer, and with it the handlers.
        auto finished = std::move(handlers_.finished);
        if (finished) finished(failure);
    }

    std::optional<QString> outcome() {
        if (!writeError_.isEmpty()) return writeError_;
        if (reply_->error() != QNetworkReply::NoError) return reply_->errorString();
        // A connection that closes before the announced length is not a finished download, even
        // when the network layer reports no error for it.
        const QVariant announced = reply_->header(QNetworkRequest::ContentLengthHeader);
        if (announced.isValid() && file_->size() != announced.toLongLong())
            return QStringLiteral("The download ended early: %1 of %2 bytes")
                .arg(file_->size())
                .arg(announced.toLongLong());
        // Flush and move into place; an existing file of that name makes the move fail.
        if (!file_->flush()) return file_->errorString();
        file_->close();
        if (!file_->rename(destination_))
            return QStringLiteral("Cannot move the download to ") + destination_ + QStringLiteral(": ") +
                   file_->errorString();
        file_->setAutoRemove(false);
        return std::nullopt;
    }

    FileDownloader::Handlers handlers_;
    QString destination_;
    QNetworkAccessManager* session_;  // deleted later, with the reply it owns
    QPointer<QNetworkReply> reply_;
    std::unique_ptr<QTemporaryFile> file_;
    QString writeError_;
    bool finished_ = false;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace

std::unique_ptr<FileDownloader::Transfer> QtFileDownloader::start(const QUrl& url, const QString& destination,
                                                                  Handlers handlers) {
    return std::make_unique<QtTransfer>(url, destination, std::move(handlers));
}

}  // namespace vocalynx
