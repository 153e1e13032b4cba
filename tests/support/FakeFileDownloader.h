#pragma once
#include <memory>
#include <vector>

#include "platform/FileDownloader.h"

namespace vocalynx::test {

// Records every transfer it is asked to start; the test plays the network by calling the
// handlers of a started transfer by hand.
class FakeFileDownloader final : public FileDownloader {
public:
    struct Started {
        QUrl url;
        QString destination;
        Handlers handlers;
        int cancels = 0;
        bool dropped = false;  // the caller let go of the transfer
    };

    std::unique_ptr<Transfer> start(const QUrl& url, const QString& destination, Handlers handlers) override {
        auto record = std::make_shared<Started>(Started{url, destination, std::move(handlers)});
        started.push_back(record);
        return std::make_unique<FakeTransfer>(record);
    }

    std::vector<std::shared_ptr<Started>> started;

private:
    class FakeTransfer final : public Transfer {
    public:
        explicit FakeTransfer(std::shared_ptr<Started> record) : record_(std::move(record)) {}
        ~FakeTransfer() override { record_->dropped = true; }
        void cancel() override { ++record_->cancels; }

    private:
        std::shared_ptr<Started> record_;
    };
};

}  // namespace vocalynx::test
