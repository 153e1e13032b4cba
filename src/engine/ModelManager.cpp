#include "engine/ModelManager.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <memory>

namespace vocalynx {

ModelManager::ModelManager(QString modelsDirectory, QUrl baseAddress, QObject* parent)
    : QObject(parent), modelsDirectory_(std::move(modelsDirectory)), baseAddress_(std::move(baseAddress)) {}

ModelManager::~ModelManager() = default;

void ModelManager::setDownloadProgress(double progress) {
    if (progress == downloadProgress_) return;
    downloadProgress_ = progress;
    emit downloadProgressChanged(progress);
}

void ModelManager::setIsDownloading(bool downloading) {
    if (downloading == isDownloading_) return;
    isDownloading_ = downloading;
    emit isDownloadingChanged(downloading);
}

namespace {
// One transfer: the body goes to a hidden temporary file in the models folder (the same file
// system as the final place, so the final move is a rename).
struct Transfer {
    std::unique_ptr<QTemporaryFile> file;
    QString writeError;
};
}  // namespace

void ModelManager::download(WhisperModel model, Completion completion) {
    setIsDownloading(true);
    setDownloadProgress(0);

    auto* session = new QNetworkAccessManager(this);
    downloadSession_ = session;
    QNetworkRequest request(model.downloadURL(baseAddress_));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = session->get(request);
    downloadTask_ = reply;

    const QString finalPath = model.fileURL(modelsDirectory_);
    auto transfer = std::make_shared<Transfer>();
    QDir().mkpath(modelsDirectory_);
    transfer->file = std::make_unique<QTemporaryFile>(modelsDirectory_ + QStringLiteral("/.") + model.fileName() +
                                                      QStringLiteral(".XXXXXX.part"));
    if (!transfer->file->open()) transfer->writeError = transfer->file->errorString();

    auto drain = [reply, transfer] {
        if (!reply->isOpen()) return;  // aborted: nothing more is kept
        const QByteArray data = reply->readAll();
        if (data.isEmpty() || !transfer->writeError.isEmpty()) return;
        if (transfer->file->write(data) != data.size()) {
            transfer->writeError = transfer->file->errorString();
            reply->abort();
        }
    };
    connect(reply, &QNetworkReply::readyRead, this, drain);
    // A report that arrives after a cancel belongs to a transfer that is over: the progress keeps
    // the value it had when the download was cancelled.
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64 total) {
        if (reply != downloadTask_) return;
        if (total > 0) setDownloadProgress(double(received) / double(total));
    });
    // Handled from the event loop, so that a cancel() never runs the completion inside itself.
    connect(
        reply, &QNetworkReply::finished, this,
        [this, reply, session, transfer, finalPath, drain, completion = std::move(completion)] {
            drain();
            setIsDownloading(false);
            const QNetworkReply::NetworkError error = reply->error();
            const QString errorText = reply->errorString();
            session->deleteLater();
            if (!transfer->writeError.isEmpty()) {
                if (completion) completion(Result<QString>::fail(transfer->writeError));
                return;
            }
            if (error != QNetworkReply::NoError) {
                if (completion) completion(Result<QString>::fail(errorText));
                return;
            }
            // A connection that closes before the announced length is not a finished download,
            // even when the network layer reports no error for it.
            const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
            if (announced.isValid() && transfer->file->size() != announced.toLongLong()) {
                if (completion)
                    completion(Result<QString>::fail(QStringLiteral("The download ended early: %1 of %2 bytes")
                                                         .arg(transfer->file->size())
                                                         .arg(announced.toLongLong())));
                return;
            }
            // Flush and move into place; an existing file of that name makes the move fail.
            if (!transfer->file->flush()) {
                if (completion) completion(Result<QString>::fail(transfer->file->errorString()));
                return;
            }
            transfer->file->close();
            if (!transfer->file->rename(finalPath)) {
                const QString reason = QStringLiteral("Cannot move the download to ") + finalPath + QStringLiteral(": ") +
                                       transfer->file->errorString();
                if (completion) completion(Result<QString>::fail(reason));
                return;
            }
            transfer->file->setAutoRemove(false);
            if (completion) completion(Result<QString>::ok(finalPath));
        },
        Qt::QueuedConnection);
}

void ModelManager::cancel() {
    QNetworkReply* task = downloadTask_;
    downloadTask_ = nullptr;
    downloadSession_ = nullptr;
    if (task) task->abort();
    QMetaObject::invokeMethod(this, [this] { setIsDownloading(false); }, Qt::QueuedConnection);
}

}  // namespace vocalynx
