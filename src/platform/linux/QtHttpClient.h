#pragma once
// Downloads through Qt Network. Each call runs its own request on the calling thread with a
// transfer timeout and a size limit, so several background threads may download at once.

#include "platform/HttpClient.h"

namespace vocalynx {

class QtHttpClient final : public HttpClient {
public:
    explicit QtHttpClient(int timeoutMs = 15000, qint64 maxBytes = 32 * 1024 * 1024)
        : timeoutMs_(timeoutMs), maxBytes_(maxBytes) {}
    std::optional<QByteArray> get(const QUrl& url) override;

private:
    int timeoutMs_;
    qint64 maxBytes_;
};

}  // namespace vocalynx
