#pragma once
#include "platform/FileDownloader.h"

namespace vocalynx {

// Downloads through Qt Network, one access manager per transfer. Redirects are followed unless
// they lead from https to http.
class QtFileDownloader final : public FileDownloader {
public:
    std::unique_ptr<Transfer> start(const QUrl& url, const QString& destination, Handlers handlers) override;
};

}  // namespace vocalynx
