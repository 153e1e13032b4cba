#pragma once
#include <QObject>
#include <QUrl>
#include <functional>
#include <memory>
#include <vector>

#include "core/Result.h"
#include "engine/WhisperModel.h"
#include "platform/FileDownloader.h"

namespace vocalynx {

// Downloads voice-model files into the models folder through the file downloader and publishes
// the progress. The downloader writes to a hidden temporary file beside the final one and moves it
// to the final name only when the whole body has arrived, so an interrupted download never leaves
// a truncated model behind.
// Every public operation and every signal runs on the main (GUI) thread.
class ModelManager : public QObject {
    Q_OBJECT

public:
    // Success carries the stored file's path; failure the reason as text.
    using Completion = std::function<void(const Result<QString>&)>;

    ModelManager(QString modelsDirectory, FileDownloader& downloader,
                 QUrl baseAddress = WhisperModel::defaultBaseAddress(), QObject* parent = nullptr);
    ~ModelManager() override;

    virtual double downloadProgress() const { return downloadProgress_; }
    virtual bool isDownloading() const { return isDownloading_; }
    // The newest transfer while it runs; none once it finished or was cancelled.
    virtual FileDownloader::Transfer* downloadTask() const { return downloadTask_; }

    // Starts fetching the model; the completion runs later on the main thread with the outcome
    // (a cancelled download fails too). A second call while one runs starts another transfer
    // alongside; both completions arrive.
    virtual void download(WhisperModel model, Completion completion);
    // Stops the running download, if any; isDownloading turns false shortly after.
    virtual void cancel();

    QString modelsDirectory() const { return modelsDirectory_; }
    QString fileURL(WhisperModel model) const { return model.fileURL(modelsDirectory_); }

signals:
    void downloadProgressChanged(double progress);
    void isDownloadingChanged(bool downloading);

protected:
    void setDownloadProgress(double progress);
    void setIsDownloading(bool downloading);

private:
    QString modelsDirectory_;
    FileDownloader& downloader_;
    QUrl baseAddress_;
    double downloadProgress_ = 0;
    bool isDownloading_ = false;
    // Every running transfer (dropping one ends it silently); the newest reports progress.
    std::vector<std::unique_ptr<FileDownloader::Transfer>> transfers_;
    FileDownloader::Transfer* downloadTask_ = nullptr;
};

}  // namespace vocalynx
