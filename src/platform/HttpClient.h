#pragma once
// Downloads the contents behind an address (http, https or a local file address).

#include <QByteArray>
#include <QUrl>
#include <optional>

namespace vocalynx {

class HttpClient {
public:
    virtual ~HttpClient() = default;
    // Blocks the calling thread until the whole body has arrived; none on any error, on an answer
    // other than success, or when the transfer times out. Thread-safe; never call it on the main
    // thread.
    virtual std::optional<QByteArray> get(const QUrl& url) = 0;
};

}  // namespace vocalynx
