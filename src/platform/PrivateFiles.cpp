#include "platform/PrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <cstring>

namespace vocalynx {

namespace {
QString systemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

// A folder (not a link) owned by this user that no one else may enter; one of ours with wider
// rights is narrowed.
bool isOwnPrivateFolder(const QByteArray& path) {
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
    if ((st.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0) return false;
    return true;
}

bool makePrivateFolder(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) return false;
    return isOwnPrivateFolder(native);
}
}  // namespace

QString privateTemporaryFolder(const QString& runtimeFolder, const QString& sharedTemporaryFolder) {
    if (!runtimeFolder.isEmpty() && QDir::isAbsolutePath(runtimeFolder)) {
        struct stat st {};
        // The runtime folder itself must be this user's alone, as the XDG rules require of it.
        if (::stat(QFile::encodeName(runtimeFolder).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
            st.st_uid == ::geteuid() && (st.st_mode & 077) == 0) {
            const QString folder = runtimeFolder + QStringLiteral("/vocalynx");
            if (makePrivateFolder(folder)) return folder;
        }
    }
    const QString named = sharedTemporaryFolder + QStringLiteral("/vocalynx-") + QString::number(::geteuid());
    if (makePrivateFolder(named)) return named;
    // The name is taken by someone else: a folder with a fresh name, made 0700 by mkdtemp.
    QByteArray pattern = QFile::encodeName(sharedTemporaryFolder + QStringLiteral("/vocalynx-XXXXXX"));
    if (::mkdtemp(pattern.data())) return QFile::decodeName(pattern);
    return {};
}

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, QString* error) {
    auto fail = [&](const QString& reason) -> std::optional<QByteArray> {
        if (error) *error = reason;
        return std::nullopt;
    };
    // O_NONBLOCK: opening a pipe returns at once instead of waiting for a writer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail(errno == ELOOP ? QStringLiteral("it is a symbolic link") : systemError(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(systemError(errno));
    if (!S_ISREG(st.st_mode)) return fail(QStringLiteral("it is not a regular file"));
    if (st.st_size > maxBytes) return fail(QStringLiteral("it is larger than %1 bytes").arg(maxBytes));
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(systemError(errno));
        if (n == 0) break;  // shortened meanwhile
        got += n;
    }
    bytes.truncate(got);
    return bytes;
}

bool holdsPrivateFile(const QString& path, const QByteArray& content) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 07777) != 0600 || st.st_size != content.size())
        return false;
    const auto bytes = readRegularFile(path, content.size());
    return bytes && *bytes == content;
}

bool writePrivateFile(const QString& path, const QByteArray& content, QString* error) {
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    // Anything but a regular file goes first: rename() cannot replace a folder, and QSaveFile
    // would write through a link to its target.
    if (::lstat(native.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        const bool removed = S_ISDIR(st.st_mode) ? QDir(path).removeRecursively() : ::unlink(native.constData()) == 0;
        if (!removed) {
            if (error) *error = QStringLiteral("what is in its place cannot be removed");
            return false;
        }
    }
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly);
    if (ok) ok = file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (ok) ok = file.write(content) == content.size();
    if (ok) ok = file.commit();
    if (!ok && error) *error = file.errorString();
    return ok;
}

}  // namespace vocalynx
