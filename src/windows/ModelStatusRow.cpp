#include "windows/ModelStatusRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QShowEvent>
#include <QStringDecoder>
#include <QVBoxLayout>

#include "windows/FormWidgets.h"
#include "windows/SettingsStyle.h"

namespace vocalynx {

ModelStatusRow::ModelStatusRow(SettingsEnvironment& environment, QWidget* parent)
    : QWidget(parent), env_(environment), weak_(this, &environment.runtime.main, "ModelStatusRow") {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    column->addWidget(makeLabel(QStringLiteral("SenseVoice（多语言）"), ui::bodyFont(), ui::primary(), this));
    status_ = makeLabel({}, ui::captionFont(), ui::red(), this);
    status_->setWordWrap(true);  // a missing speech program takes a sentence to explain
    status_->setObjectName(QStringLiteral("modelStatus"));
    column->addWidget(status_);
    row->addLayout(column);
    row->addStretch(1);
    button_ = new PushButton({}, true, this);
    button_->setObjectName(QStringLiteral("modelButton"));
    connect(button_, &QAbstractButton::clicked, this, [this] { startModelDownload(); });
    row->addWidget(button_, 0, Qt::AlignVCenter);

    // The speech engine reports a model it could not load; check again unless we are fetching.
    MainQueue& main = env_.runtime.main;
    const WeakRef<ModelStatusRow> weak = weak_.weak();
    failureObserver_ = env_.runtime.notifications.addObserver(notifications::vocalynxModelLoadFailed, [&main, weak](const std::any&) {
        auto recheck = [weak] {
            if (ModelStatusRow* self = weak.get(); self && !self->isDownloading()) self->checkModelReady();
        };
        if (main.isCurrent())
            recheck();
        else
            main.post(recheck);
    });
    refresh();
}

ModelStatusRow::~ModelStatusRow() {
    weak_.invalidate();
    env_.runtime.notifications.removeObserver(failureObserver_);
}

void ModelStatusRow::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) checkModelReady();
    QWidget::showEvent(event);
}

bool ModelStatusRow::isModelReady(const SpeechProgram& program, const SpeechModelFiles& files) {
    return readiness(program, files).ready;
}

ModelStatusRow::Readiness ModelStatusRow::readiness(const SpeechProgram& program, const SpeechModelFiles& files) {
    if (!program.locateColi || !program.locateColi()) return {false, true};
    const auto size = files.modelFileSize();
    return {size && *size >= kSpeechModelMinimumSize, false};
}

void ModelStatusRow::checkModelReady() {
    const SpeechProgram program = env_.speechProgram;
    const SpeechModelFiles files(env_.runtime.paths.home);
    MainQueue& main = env_.runtime.main;
    const WeakRef<ModelStatusRow> link = weak_.weak();
    const unsigned fetch = fetchGeneration_;
    env_.runtime.queues.global().post([program, files, &main, link, fetch] {
        const Readiness found = readiness(program, files);
        postToRow(main, link, [found, fetch](ModelStatusRow& row) {
            // A fetch started since this check began (or still running) removes and rewrites the
            // model: the answer is stale, and readiness keeps its value until the fetch's own check.
            if (row.isDownloading_ || row.fetchGeneration_ != fetch) return;
            row.isReady_ = found.ready;
            row.programMissing_ = found.programMissing;
            row.refresh();
        });
    });
}

void ModelStatusRow::startModelDownload() {
    if (isDownloading_) return;
    isDownloading_ = true;
    ++fetchGeneration_;
    downloadError_.reset();
    downloadProgress_ = QStringLiteral("准备下载…");
    refresh();

    const SpeechProgram program = env_.speechProgram;
    const SpeechModelFiles files(env_.runtime.paths.home);
    MainQueue& main = env_.runtime.main;
    const WeakRef<ModelStatusRow> link = weak_.weak();
    auto fail = [&main, link](bool programMissing) {
        postToRow(main, link, [programMissing](ModelStatusRow& row) {
            row.isDownloading_ = false;
            row.programMissing_ = programMissing;
            row.downloadError_ = kNotReadyText;
            row.refresh();
        });
    };
    env_.runtime.queues.global().post([program, files, &main, link, fail] {
        const std::optional<LaunchCommand> command =
            program.makeColiArguments ? program.makeColiArguments() : std::optional<LaunchCommand>();
        if (!command) return fail(true);
        if (!program.launcher) return fail(false);
        files.remove();
        postToRow(main, link, [](ModelStatusRow& row) {
            row.downloadProgress_ = QStringLiteral("下载语音模型…");
            row.refresh();
        });
        QString error;
        const std::shared_ptr<ChildProcess> child = program.launcher->launch(*command, &error);
        if (!child) return fail(false);
        // The program sees the end of its input at once and fetches the missing model by itself.
        child->standardInput()->close();
        const PipeReader::Handler parse = [&main, link](const QByteArray& bytes) {
            if (auto text = progressText(bytes))
                postToRow(main, link, [text = *text](ModelStatusRow& row) {
                    row.downloadProgress_ = text;
                    row.refresh();
                });
        };
        child->standardOutput()->setReadHandler(parse);
        child->standardError()->setReadHandler(parse);
        // No thread waits for the program: its exit finishes the fetch. The handler holds the child
        // until then; the launcher lets go of the handler once it has run.
        child->setTerminationHandler([child, program, files, &main, link] {
            child->standardOutput()->setReadHandler(nullptr);
            child->standardError()->setReadHandler(nullptr);
            const bool ready = isModelReady(program, files);
            postToRow(main, link, [ready](ModelStatusRow& row) {
                row.isDownloading_ = false;
                row.isReady_ = ready;
                if (!ready) row.downloadError_ = kNotReadyText;
                row.refresh();
            });
        });
    });
}

std::optional<QString> ModelStatusRow::progressText(const QByteArray& chunk) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(chunk);
    if (decoder.hasError() || text.isEmpty()) return std::nullopt;
    const QStringList pieces = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (pieces.isEmpty()) return std::nullopt;
    const QString line = pieces.last().trimmed();
    if (line.contains(QLatin1Char('%')) || line.contains(QLatin1String("KB")) || line.contains(QLatin1String("MB"))) {
        static const QRegularExpression percent(QStringLiteral("\\d+\\.\\d+%"));
        const QRegularExpressionMatch match = percent.match(line);
        return match.hasMatch() ? QStringLiteral("下载中 ") + match.captured(0) : QStringLiteral("下载中…");
    }
    if (line.contains(QLatin1String("ready")) || line.contains(QLatin1String("Extracting")))
        return QStringLiteral("解压中…");
    return std::nullopt;
}

QString ModelStatusRow::statusText() const {
    if (isDownloading_) return downloadProgress_;
    if (isReady_) return QStringLiteral("已就绪");
    // Without the speech program no download can help: the row says what is missing and where it
    // was looked for, as the alert at a press does.
    if (programMissing_) {
        const QStringList places = env_.speechProgram.searchedPlaces ? env_.speechProgram.searchedPlaces() : QStringList();
        return speechProgramTroubleText({SpeechProgramTrouble::Kind::notFound, {}, places}, env_.runtime.paths.home);
    }
    return downloadError_.value_or(kNotReadyText);
}

QColor ModelStatusRow::statusColor() const {
    if (isDownloading_) return ui::secondary();
    return isReady_ ? ui::green() : ui::red();
}

QString ModelStatusRow::buttonText() const {
    if (isReady_) return QStringLiteral("重新下载");
    return isDownloading_ ? QStringLiteral("下载中…") : QStringLiteral("下载");
}

bool ModelStatusRow::buttonEnabled() const { return !isDownloading_; }
bool ModelStatusRow::buttonProminent() const { return !isReady_; }

void ModelStatusRow::refresh() {
    status_->setText(statusText());
    QPalette pal = status_->palette();
    pal.setColor(QPalette::WindowText, statusColor());
    status_->setPalette(pal);
    button_->setText(buttonText());
    button_->setProminent(buttonProminent());
    button_->setEnabled(buttonEnabled());
    button_->updateGeometry();
    button_->resize(button_->sizeHint());
    emit stateChanged();
}

void ModelStatusRow::postToRow(MainQueue& main, const WeakRef<ModelStatusRow>& link, RowUpdate update) {
    main.post([link, update = std::move(update)] {
        if (ModelStatusRow* row = link.get()) update(*row);
    });
}

}  // namespace vocalynx
