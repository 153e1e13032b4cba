#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "core/WeakHandle.h"

namespace vocalynx {
namespace {

struct Owner {
    int value = 7;
};

// An executor that says whether the caller is on it, as the test decides.
class FlagExecutor : public Executor {
public:
    void post(Task) override {}
    TaskHandle postAfter(Duration, Task) override { return {}; }
    bool isCurrent() const override { return current; }
    bool current = true;
};

TEST(WeakHandle, ReferencesSeeTheOwnerUntilItIsInvalidated) {
    Owner owner;
    WeakFactory<Owner> factory(&owner);
    WeakRef<Owner> ref = factory.weak();
    int ranWith = 0;
    Task bound = factory.bind([&](Owner& o) { ranWith = o.value; });

    EXPECT_EQ(ref.get(), &owner);
    bound();
    EXPECT_EQ(ranWith, 7);

    factory.invalidate();
    ranWith = 0;
    bound();
    EXPECT_EQ(ranWith, 0);
    EXPECT_EQ(ref.get(), nullptr);
    EXPECT_FALSE(ref.run([&](Owner&) { ranWith = 1; }));
    EXPECT_EQ(ranWith, 0);
    EXPECT_EQ(WeakRef<Owner>().get(), nullptr);
}

TEST(WeakHandle, AReferenceOutlivesItsFactory) {
    WeakRef<Owner> ref;
    {
        Owner owner;
        WeakFactory<Owner> factory(&owner);
        ref = factory.weak();
    }
    EXPECT_EQ(ref.get(), nullptr);
    EXPECT_FALSE(ref.run([](Owner&) {}));
}

// The owner's destruction must wait for work another thread is doing with it, or that work would
// read a destroyed object.
TEST(WeakHandle, InvalidateWaitsForARunOnAnotherThread) {
    Owner owner;
    WeakFactory<Owner> factory(&owner);
    std::promise<void> entered, release;
    std::atomic<bool> workDone{false};
    std::thread worker([&, ref = factory.weak()] {
        ref.run([&](Owner&) {
            entered.set_value();
            release.get_future().wait();
            workDone = true;
        });
    });
    entered.get_future().wait();
    std::atomic<bool> doneWhenInvalidated{false};
    std::thread owning([&] {
        factory.invalidate();
        doneWhenInvalidated = workDone.load();
    });
    release.set_value();
    owning.join();
    worker.join();
    EXPECT_TRUE(doneWhenInvalidated);
}

TEST(WeakHandleDeathTest, UseOffTheOwnersSequenceAbortsInDebugBuilds) {
    if (!kSequenceChecks) GTEST_SKIP() << "release build: the checks are compiled away";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Owner owner;
    FlagExecutor sequence;
    WeakFactory<Owner> factory(&owner, &sequence, "Owner");
    WeakRef<Owner> ref = factory.weak();
    sequence.current = false;
    EXPECT_DEATH(ref.get(), "Owner was called off the thread it belongs to");
    EXPECT_DEATH(factory.invalidate(), "Owner was called off the thread it belongs to");
    // From another thread, `run` is the way in.
    EXPECT_TRUE(ref.run([](Owner& o) { EXPECT_EQ(o.value, 7); }));
    sequence.current = true;
}

}  // namespace
}  // namespace vocalynx
