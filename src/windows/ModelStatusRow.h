#pragma once
#include <QWidget>
#include <memory>
#include <optional>

#include "core/WeakHandle.h"
#include "windows/ModelFiles.h"
#include "windows/SettingsEnvironment.h"

class QLabel;

namespace vocalynx {

class PushButton;

// The "语音模型" row: whether the SenseVoice model the speech program needs is installed, and a
// button that fetches it again by removing it and letting the speech program download it.
// Checks and fetches run off the main thread; the row shows their results when they come back.
class ModelStatusRow : public QWidget {
    Q_OBJECT
public:
    explicit ModelStatusRow(SettingsEnvironment& environment, QWidget* parent = nullptr);
    ~ModelStatusRow() override;

    bool isReady() const { return isReady_; }
    bool isDownloading() const { return isDownloading_; }
    const QString& downloadProgress() const { return downloadProgress_; }
    const std::optional<QString>& downloadError() const { return downloadError_; }
    // The last check or fetch found no speech program.
    bool isProgramMissing() const { return programMissing_; }

    // Tests whether the model is installed (in the background) and shows the answer.
    void checkModelReady();
    // The button: removes the model and runs the speech program to fetch it again.
    void startModelDownload();

    // The status line and the button as shown now.
    QString statusText() const;
    QColor statusColor() const;
    QString buttonText() const;
    bool buttonEnabled() const;
    bool buttonProminent() const;
    PushButton* button() const { return button_; }

    // The progress text for one chunk of the speech program's output, or nothing when the chunk
    // says nothing about progress.
    static std::optional<QString> progressText(const QByteArray& chunk);
    // The readiness test: the speech program is found, and the model file holds at least
    // 200000000 bytes.
    static bool isModelReady(const SpeechProgram& program, const SpeechModelFiles& files);

    static inline const QString kNotReadyText = QStringLiteral("未就绪，请重新下载");

signals:
    // The status line or the button changed.
    void stateChanged();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Readiness {
        bool ready = false;
        bool programMissing = false;
    };
    static Readiness readiness(const SpeechProgram& program, const SpeechModelFiles& files);
    using RowUpdate = std::function<void(ModelStatusRow&)>;
    // Sends one update to the main thread, where it reaches the row if the row still exists.
    static void postToRow(MainQueue& main, const WeakRef<ModelStatusRow>& link, RowUpdate update);
    void refresh();

    SettingsEnvironment& env_;
    NotificationCenter::Token failureObserver_ = 0;
    bool isReady_ = false;
    bool isDownloading_ = false;
    bool programMissing_ = false;
    unsigned fetchGeneration_ = 0;  // counts fetches, so a check that overlapped one is dropped
    QString downloadProgress_;
    std::optional<QString> downloadError_;
    QLabel* status_;
    PushButton* button_;
    // Checks, fetches and the failure observer hold the row weakly; results that come back once
    // it is gone are dropped.
    WeakFactory<ModelStatusRow> weak_;
};

}  // namespace vocalynx
