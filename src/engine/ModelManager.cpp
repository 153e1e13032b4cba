#include "engine/ModelManager.h"

#include <QDir>
#include <algorithm>

namespace vocalynx {

ModelManager::ModelManager(QString modelsDirectory, FileDownloader& downloader, QUrl baseAddress, QObject* parent)
    : QObject(parent),
      modelsDirectory_(std::move(modelsDirectory)),
      downloader_(downloader),
      baseAddress_(std::move(baseAddress)) {}

// The running transfers end with the manager, without a completion.
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

void ModelManager::download(WhisperModel model, Completion completion) {
    setIsDownloading(true);
    setDownloadProgress(0);

    const QString finalPath = model.fileURL(modelsDirectory_);
    QDir().mkpath(modelsDirectory_);
    // Which transfer a report is about; set once start() has returned (no handler runs inside it).
    auto self = std::make_shared<FileDownloader::Transfer*>(nullptr);
    FileDownloader::Handlers handlers;
    // A report that arrives after a cancel belongs to a transfer that is over: the progress keeps
    // the value it had when the download was cancelled.
    handlers.progress = [this, self](int64_t received, int64_t total) {
        if (*self != downloadTask_) return;
        if (total > 0) setDownloadProgress(double(received) / double(total));
    };
    handlers.finished = [this, self, finalPath, completion = std::move(completion)](
                            const std::optional<QString>& failure) {
        if (downloadTask_ == *self) downloadTask_ = nullptr;
        std::erase_if(transfers_, [&](const auto& transfer) { return transfer.get() == *self; });
        setIsDownloading(false);
        if (!completion) return;
        completion(failure ? Result<QString>::fail(*failure) : Result<QString>::ok(finalPath));
    };
    auto transfer = downloader_.start(model.downloadURL(baseAddress_), finalPath, std::move(handlers));
    *self = transfer.get();
    downloadTask_ = transfer.get();
    transfers_.push_back(std::move(transfer));
}

void ModelManager::cancel() {
    FileDownloader::Transfer* task = downloadTask_;
    downloadTask_ = nullptr;
    if (task) task->cancel();
    QMetaObject::invokeMethod(this, [this] { setIsDownloading(false); }, Qt::QueuedConnection);
}

}  // namespace vocalynx
