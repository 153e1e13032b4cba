#pragma once
// Downloads the contents behind an address (http, https or a local file address).

#include <QByteArray>
#include <QUrl>
#include <optional>

namespace vocalynx {

class HttpClient {
public:
    // What one fetch gave: the body, or none, with `busy` set when the address was not fetched
    // at all because another call is fetching it right now (asking later may well succeed).
    struct Fetched {
        std::optional<QByteArray> body;
        bool busy = false;
    };

    virtual ~HttpClient() = default;
    // Blocks the calling thread until the whole body has arrived; none on any error, on an answer
    // other than success, or when the transfer times out. Thread-safe; never call it on the main
    // thread.
    virtual Fetched fetch(const QUrl& url) = 0;
    // The body alone.
    std::optional<QByteArray> get(const QUrl& url) { return fetch(url).body; }
};

}  // namespace vocalynx
