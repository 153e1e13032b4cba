#pragma once
// Key injection for tests: records every posted key and UTF-16 unit, in order, in a journal that
// other fakes (sound output) may share, so a test can check what happened before what.

#include <QString>
#include <QStringList>
#include <memory>

#include "platform/KeyEventInjection.h"

namespace vocalynx::test {

class FakeKeyEventInjection final : public KeyEventInjection {
public:
    explicit FakeKeyEventInjection(std::shared_ptr<QStringList> sharedJournal = std::make_shared<QStringList>())
        : journal(std::move(sharedJournal)) {}

    bool canInjectKeys() override { return trusted; }
    bool canCreateEvents() override { return eventsAvailable; }
    bool postKey(uint16_t keyCode, uint64_t flags) override {
        if (!keyPostSucceeds) return false;
        journal->append(QStringLiteral("key %1 flags 0x%2").arg(keyCode).arg(flags, 0, 16));
        return true;
    }
    bool postPasteChord() override {
        if (!keyPostSucceeds) return false;
        journal->append(QStringLiteral("paste chord"));
        return true;
    }
    void typeText(const QString& text, std::function<void(bool)> done) override {
        for (const QChar unit : text) {
            units.append(unit);
            journal->append(QStringLiteral("unit %1").arg(int(unit.unicode()), 4, 16, QLatin1Char('0')));
        }
        if (done) done(typingSucceeds);
    }
    // Keys and paste chords posted.
    int keyCount() const {
        return int(journal->filter(QStringLiteral("key ")).size() + journal->filter(QStringLiteral("paste chord")).size());
    }

    bool trusted = true;
    bool eventsAvailable = true;
    bool keyPostSucceeds = true;
    bool typingSucceeds = true;
    QString units;  // every unit posted, joined
    std::shared_ptr<QStringList> journal;
};

}  // namespace vocalynx::test
