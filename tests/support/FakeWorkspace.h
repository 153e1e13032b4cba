#pragma once
// Alerts and opened addresses for tests: every alert and address is recorded; the alerts answer
// with scripted button indexes.

#include <QList>
#include <QUrl>
#include <deque>
#include <functional>

#include "platform/Alerts.h"
#include "platform/Workspace.h"

namespace vocalynx::test {

class FakeUrlOpener final : public UrlOpener {
public:
    bool openUrl(const QUrl& url) override {
        opened.append(url);
        return succeeds;
    }
    QList<QUrl> opened;
    bool succeeds = true;
};

class FakeAlertPresenter final : public AlertPresenter {
public:
    int runModal(const AlertRequest& request) override {
        shown.push_back(request);
        if (whileOpen) whileOpen(request);
        if (answers.empty()) return defaultAnswer;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<AlertRequest> shown;
    std::deque<int> answers;  // consumed in order; then defaultAnswer
    int defaultAnswer = -1;
    // What happens while an alert waits for its answer.
    std::function<void(const AlertRequest&)> whileOpen;
};

}  // namespace vocalynx::test
