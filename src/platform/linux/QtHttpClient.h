#pragma once
// Downloads through Qt Network, and reads local files itself. Each call runs on the calling thread,
// so several background threads may download at once. The addresses come from other programs (a
// player's artwork address, a search answer), so every call is bounded:
// - only http, https and file addresses; a file address must name a regular file (a FIFO, a device
//   or a socket is never opened);
// - at most maxBytes: a larger declared length or file size is refused before any of it is read,
//   and a body that grows past the limit is abandoned as soon as it does;
// - one deadline for the whole call, however slowly the bytes trickle in;
// - one call per address at a time: asking for an address that is already being fetched fails at
//   once, as busy, instead of starting a second transfer.

#include <QSet>
#include <mutex>

#include "platform/HttpClient.h"

namespace vocalynx {

class QtHttpClient final : public HttpClient {
public:
    explicit QtHttpClient(int deadlineMs = 10000, qint64 maxBytes = 32 * 1024 * 1024)
        : deadlineMs_(deadlineMs), maxBytes_(maxBytes) {}
    Fetched fetch(const QUrl& url) override;

private:
    std::optional<QByteArray> download(const QUrl& url);
    std::optional<QByteArray> readLocalFile(const QString& path) const;

    int deadlineMs_;
    qint64 maxBytes_;
    std::mutex inFlightMutex_;
    QSet<QString> inFlight_;
};

}  // namespace vocalynx
