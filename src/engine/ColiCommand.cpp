#include "engine/ColiCommand.h"

#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStringDecoder>

#include "engine/TranscriptRules.h"

namespace vocalynx {

namespace {
bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}
}  // namespace

ColiLocator::ColiLocator(QString home, QString resources, Environment environment, ProcessLauncher* launcher)
    : home_(std::move(home)), resources_(std::move(resources)), environment_(std::move(environment)), launcher_(launcher) {}

ColiLocator::Environment ColiLocator::processEnvironment() {
    Environment out;
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& key : env.keys()) out.insert(key, env.value(key));
    return out;
}

QString ColiLocator::nativeLibraryFolder() {
#if defined(__aarch64__)
    return QStringLiteral("sherpa-onnx-linux-arm64");
#else
    return QStringLiteral("sherpa-onnx-linux-x64");
#endif
}

const QStringList& ColiLocator::streamArguments() {
    static const QStringList args{QStringLiteral("asr-stream"), QStringLiteral("--json"),       QStringLiteral("--language"),
                                  QStringLiteral("auto"),       QStringLiteral("--asr-interval-ms"), QStringLiteral("300")};
    return args;
}

std::optional<ColiLocator::BundledRuntime> ColiLocator::bundledRuntime() const {
    if (resources_.isEmpty()) return std::nullopt;
    BundledRuntime r{resources_ + QStringLiteral("/coli-runtime/node"),
                     resources_ + QStringLiteral("/coli-runtime/pkg/distribution/source/cli.js")};
    if (isExecutableFile(r.node) && QFileInfo::exists(r.script)) return r;
    return std::nullopt;
}

QStringList ColiLocator::installPlaces() const {
    return {QStringLiteral("/opt/homebrew/bin/coli"),
            QStringLiteral("/usr/local/bin/coli"),
            home_ + QStringLiteral("/.nvm/versions/node/v22.13.0/bin/coli"),
            home_ + QStringLiteral("/.local/bin/coli"),
            home_ + QStringLiteral("/.npm-global/bin/coli"),
            home_ + QStringLiteral("/.bun/bin/coli")};
}

QStringList ColiLocator::searchedPlaces() const {
    QStringList places;
    if (!resources_.isEmpty()) places << resources_ + QStringLiteral("/coli-runtime/node");
    places << installPlaces() << QStringLiteral("PATH");
    return places;
}

std::optional<QString> ColiLocator::locateColi() const {
    if (const auto runtime = bundledRuntime()) return runtime->node;
    for (const QString& candidate : installPlaces())
        if (isExecutableFile(candidate)) return candidate;
    if (!launcher_) return std::nullopt;
    const std::optional<RunOutput> out =
        launcher_->run(QStringLiteral("/usr/bin/which"), {QStringLiteral("coli")}, nullptr);
    if (!out) return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(out->standardOutput);
    if (decoder.hasError()) return std::nullopt;
    const QString path = transcript::trimmed(text);
    if (path.isEmpty()) return std::nullopt;
    return path;
}

ColiLocator::Environment ColiLocator::makeColiEnvironment(const QString& executablePath) const {
    Environment env = environment_;
    const QString home = env.value(QStringLiteral("HOME"));
    const qsizetype slash = executablePath.lastIndexOf(QLatin1Char('/'));
    QString dir = slash > 0 ? executablePath.left(slash) : (slash == 0 ? QStringLiteral("/") : QString());
    const QString inherited =
        env.contains(QStringLiteral("PATH")) ? env.value(QStringLiteral("PATH")) : QStringLiteral("/usr/bin:/bin");
    env.insert(QStringLiteral("PATH"), QStringList{dir, QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin"),
                                                   home + QStringLiteral("/.nvm/versions/node/v22.13.0/bin"),
                                                   home + QStringLiteral("/.bun/bin"),
                                                   home + QStringLiteral("/.npm-global/bin"), inherited}
                                           .join(QLatin1Char(':')));
    env.insert(QStringLiteral("NO_UPDATE_NOTIFIER"), QStringLiteral("1"));
    return env;
}

std::optional<LaunchCommand> ColiLocator::makeColiArguments() const {
    if (const auto runtime = bundledRuntime()) {
        LaunchCommand command{runtime->node, QStringList{runtime->script} + streamArguments(),
                              makeColiEnvironment(runtime->node)};
        command.environment.insert(QStringLiteral("LD_LIBRARY_PATH"),
                                   resources_ + QStringLiteral("/coli-runtime/pkg/node_modules/") + nativeLibraryFolder());
        return command;
    }
    const std::optional<QString> path = locateColi();
    if (!path) return std::nullopt;
    return LaunchCommand{*path, streamArguments(), makeColiEnvironment(*path)};
}

}  // namespace vocalynx
