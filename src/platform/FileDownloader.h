#pragma once
// Streams the body behind an address into a file, reporting progress, for downloads too large to
// hold in memory (the voice models).

#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace vocalynx {

class FileDownloader {
public:
    // One running transfer. Dropping it ends the transfer without a report and removes what it
    // wrote so far.
    class Transfer {
    public:
        virtual ~Transfer() = default;
        // Stops the transfer; it then finishes with a failure, later, from the event loop.
        virtual void cancel() = 0;
    };

    struct Handlers {
        // Bytes received so far and the announced total (0 or less: not known yet).
        std::function<void(int64_t received, int64_t total)> progress;
        // Runs once. Nothing: the whole body is stored under the destination; else the reason as
        // text. The transfer may be dropped from inside it.
        std::function<void(const std::optional<QString>& failure)> finished;
    };

    virtual ~FileDownloader() = default;
    // Starts fetching url into destination, whose folder must exist. The body goes to a hidden
    // temporary file beside the destination and is renamed to it only once the whole body has
    // arrived (a file already under that name makes the download fail and stays as it was), so
    // an interrupted download never leaves a truncated file. A body shorter than its announced
    // length is a failure. Handlers run on the main thread from the event loop, never inside
    // start() or cancel(). Main thread only.
    virtual std::unique_ptr<Transfer> start(const QUrl& url, const QString& destination, Handlers handlers) = 0;
};

}  // namespace vocalynx
