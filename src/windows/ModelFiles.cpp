#include "windows/ModelFiles.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vocalynx {

namespace {

// Empties the directory open at fd (which this call closes), never leaving it through a link:
// each entry is examined without following links, sub-folders are opened with O_NOFOLLOW relative
// to their parent, and links are unlinked like files.
bool emptyDirectory(int fd) {
    DIR* dir = fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    bool ok = true;
    while (dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        struct stat st {};
        if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            const int child = openat(dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0) {
                ok = false;
                continue;
            }
            ok = emptyDirectory(child) && ok;
            if (unlinkat(dirfd(dir), name, AT_REMOVEDIR) != 0) ok = false;
        } else if (unlinkat(dirfd(dir), name, 0) != 0) {
            ok = false;
        }
    }
    closedir(dir);
    return ok;
}

// Removes one entry of the directory open at parent: a folder with its contents, anything else
// (a link included) as itself. Nothing there counts as success.
bool removeEntry(int parent, const char* name) {
    struct stat st {};
    if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return unlinkat(parent, name, 0) == 0;
    const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    const bool emptied = emptyDirectory(fd);
    return unlinkat(parent, name, AT_REMOVEDIR) == 0 && emptied;
}

}  // namespace

SpeechModelFiles::SpeechModelFiles(const QString& home)
    : modelsFolder(speechModelsFolder(home)),
      modelDir(modelsFolder + QLatin1Char('/') + QLatin1String(kSpeechModelFolderName)),
      modelFile(speechModelPath(home)),
      archive(modelDir + QStringLiteral(".tar.bz2")) {}

std::optional<unsigned long long> SpeechModelFiles::modelFileSize() const {
    struct stat st {};
    if (::stat(QFile::encodeName(modelFile).constData(), &st) != 0) return std::nullopt;
    if (!S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<unsigned long long>(st.st_size);
}

bool SpeechModelFiles::remove() const {
    // The models folder is the user's own layout (it may well be a link to another disk); from
    // there on nothing is followed.
    const int models = ::open(QFile::encodeName(modelsFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (models < 0) return errno == ENOENT;
    const QByteArray folder = QByteArray(kSpeechModelFolderName);
    const QByteArray archiveName = folder + ".tar.bz2";
    bool ok = removeEntry(models, folder.constData());
    ok = removeEntry(models, archiveName.constData()) && ok;
    ::close(models);
    return ok;
}

QString speechProgramTroubleTitle(const SpeechProgramTrouble& trouble) {
    return trouble.kind == SpeechProgramTrouble::Kind::notFound ? QStringLiteral("找不到语音识别程序")
                                                                : QStringLiteral("语音识别程序无法运行");
}

QString speechProgramTroubleText(const SpeechProgramTrouble& trouble, const QString& home) {
    auto shown = [&home](const QString& path) {
        if (!home.isEmpty() && path.startsWith(home + QLatin1Char('/'))) return QStringLiteral("~") + path.mid(home.size());
        return path;
    };
    if (trouble.kind == SpeechProgramTrouble::Kind::exitsAtOnce)
        return QStringLiteral("语音识别程序 coli（") + shown(trouble.program) +
               QStringLiteral("）每次启动后都立即退出。请在终端中运行 coli asr-stream 查看原因，修复后再次开始听写即可。");
    QStringList places;
    for (const QString& place : trouble.places)
        places << (place == QLatin1String("PATH") ? QStringLiteral("PATH 中的目录") : shown(place));
    const QString where = places.isEmpty()
                              ? QStringLiteral("但没有找到它")
                              : QStringLiteral("但在这些位置都没有找到它：") + places.join(QStringLiteral("、"));
    return QStringLiteral("Vocalynx 需要语音识别程序 coli 才能识别语音，") + where +
           QStringLiteral("。安装 coli 后再次开始听写即可，无需重启 Vocalynx。");
}

}  // namespace vocalynx
