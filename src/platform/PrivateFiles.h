#pragma once
// Files the program writes and reads back: kept in a folder only this user can write, and read
// without following links, without waiting on anything that is not a regular file, and never
// beyond a size bound, so that whatever another program leaves at a path can neither freeze us nor
// make us read more than we wrote.

#include <QByteArray>
#include <QString>
#include <optional>

namespace vocalynx {

// The folder for files written and read back: "vocalynx" in the session's runtime folder when that
// is an absolute folder of this user's alone, else "vocalynx-<uid>" in the shared temporary folder
// when that can be made (or is) a 0700 folder of this user's, else a fresh private folder there.
// Empty when no such folder can be made.
QString privateTemporaryFolder(const QString& runtimeFolder, const QString& sharedTemporaryFolder);

// The whole content of a regular file of at most maxBytes, opened without following a link and
// without blocking; none when the path is anything else (missing, a link, a pipe, a folder, a
// device, larger), with the reason in *error.
std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, QString* error = nullptr);

// Whether the path holds exactly these bytes as a regular file of this user's that only this user
// can read and write (mode 0600), read as above.
bool holdsPrivateFile(const QString& path, const QByteArray& content);

// Puts the bytes at the path as a 0600 file, replacing whatever is there (a link is replaced, never
// followed; a folder is removed). Written to a temporary file and renamed into place, so a failed
// write leaves no partial file behind. False with the reason in *error.
bool writePrivateFile(const QString& path, const QByteArray& content, QString* error);

}  // namespace vocalynx
