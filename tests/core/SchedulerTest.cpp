#include "core/CCScheduler.h"

#include "platform/Exception.h"
#include "platform/Format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using platform::make;
using platform::Object;
using platform::Ref;

namespace {

// A shared log of "name:callback@frame" lines, so tests can read the order of calls.
struct Log {
    std::vector<std::string> lines;
    int frame = 0;
};

// A scheduler target whose callbacks log themselves and then run an optional hook.
class Probe : public Object {
public:
    Probe(Log* log, std::string name) : log_(log), name_(std::move(name)) {}

    void update(double dt) { record("update", dt, onUpdate); }
    void tick(double dt) { record("tick", dt, onTick); }
    void tock(double dt) { record("tock", dt, onTock); }

    std::function<void()> onUpdate, onTick, onTock;
    std::vector<double> deltas; // of every call, in order

private:
    void record(const char* what, double dt, std::function<void()>& hook) {
        deltas.push_back(dt);
        log_->lines.push_back(name_ + ":" + what + "@" + std::to_string(log_->frame));
        // A copy, so a hook may clear or replace itself.
        if (auto run = hook) run();
    }
    Log* log_;
    std::string name_;
};

class SchedulerTest : public ::testing::Test {
protected:
    SchedulerTest() { scheduler->init(); }

    Ref<Probe> probe(const std::string& name) { return make<Probe>(&log, name); }
    // Runs `frames` frames of dt seconds each.
    void run(int frames, double dt) {
        for (int i = 0; i < frames; ++i) {
            ++log.frame;
            scheduler->update(dt);
        }
    }
    std::vector<std::string> take() { return std::exchange(log.lines, {}); }

    Log log;
    Ref<CCScheduler> scheduler = make<CCScheduler>();
};

using Lines = std::vector<std::string>;

} // namespace

TEST_F(SchedulerTest, ATimerOnlyArmsInItsFirstFrameAndReceivesTheTimeSinceItsLastCall) {
    Ref<Probe> a = probe("a"), b = probe("b");
    scheduler->scheduleSelector(fl_selector(Probe::tick), a.get(), 0, false);
    scheduler->scheduleSelector(fl_selector(Probe::tick), b.get(), 0.25, false);
    run(1, 0.125);
    EXPECT_TRUE(take().empty());
    run(4, 0.125);
    EXPECT_EQ(take(), (Lines{"a:tick@2", "a:tick@3", "b:tick@3", "a:tick@4", "a:tick@5", "b:tick@5"}));
    EXPECT_EQ(a->deltas, (std::vector<double>{0.125, 0.125, 0.125, 0.125}));
    EXPECT_EQ(b->deltas, (std::vector<double>{0.25, 0.25}));
    // Overshoot past the interval is dropped: 0.375 accumulated, then counting from 0 again.
    Ref<Probe> c = probe("c");
    scheduler->scheduleSelector(fl_selector(Probe::tock), c.get(), 0.25, false);
    run(1, 0.375); // arms
    run(2, 0.375);
    EXPECT_EQ(c->deltas, (std::vector<double>{0.375, 0.375}));
}

TEST_F(SchedulerTest, ARepeatedTimerWithDelayCallsRepeatPlusOneTimesThenRemovesItself) {
    Ref<Probe> a = probe("a");
    scheduler->scheduleSelector(fl_selector(Probe::tick), a.get(), 0.25, 2, 0.5, false);
    EXPECT_EQ(a->retainCount(), 2u);
    run(12, 0.125);
    EXPECT_EQ(take(), (Lines{"a:tick@5", "a:tick@7", "a:tick@9"}));
    EXPECT_EQ(a->retainCount(), 1u);

    // The delay keeps its overshoot; the interval does not.
    Ref<Probe> b = probe("b");
    scheduler->scheduleBlockForKey("k", b.get(), 0.25, 1, 0.3, false,
                                   [&](double dt) { b->deltas.push_back(dt); });
    run(4, 0.25);
    EXPECT_EQ(b->deltas.size(), 2u);
    EXPECT_DOUBLE_EQ(b->deltas[0], 0.5);
    EXPECT_DOUBLE_EQ(b->deltas[1], 0.45);
    EXPECT_EQ(b->retainCount(), 1u);
}

TEST_F(SchedulerTest, ATimerUnschedulingItselfFinishesItsStepAndTheNextTimerStillRuns) {
    Ref<Probe> a = probe("a");
    scheduler->scheduleSelector(fl_selector(Probe::tick), a.get(), 0, false);
    scheduler->scheduleSelector(fl_selector(Probe::tock), a.get(), 0, false);
    a->onTick = [&] { scheduler->unscheduleSelector(fl_selector(Probe::tick), a.get()); };
    run(3, 0.1);
    EXPECT_EQ(take(), (Lines{"a:tick@2", "a:tock@2", "a:tock@3"}));

    // The same for a block whose timer holds the only reference to its captured state.
    Ref<Probe> b = probe("b");
    auto owned = make<Probe>(&log, "owned");
    scheduler->scheduleBlockForKey("once", b.get(), 0, TimerRepeatForever, 0, false, [&, owned](double) {
        scheduler->unscheduleBlockForKey("once", b.get());
        owned->tick(0); // still alive: the timer is kept until its step ends
    });
    owned = nullptr;
    scheduler->scheduleSelector(fl_selector(Probe::tick), b.get(), 0, false);
    run(2, 0.1);
    EXPECT_EQ(take(), (Lines{"a:tock@4", "a:tock@5", "owned:tick@5", "b:tick@5"}));
}

TEST_F(SchedulerTest, ATimerUnschedulingItsWholeTargetStopsItsSiblingsAndReleasesTheTargetAfterTheLoop) {
    Ref<Probe> a = probe("a"), b = probe("b");
    scheduler->scheduleSelector(fl_selector(Probe::tick), a.get(), 0, false);
    scheduler->scheduleSelector(fl_selector(Probe::tock), a.get(), 0, false);
    scheduler->scheduleUpdateForTarget(a.get(), 0, false);
    scheduler->scheduleSelector(fl_selector(Probe::tick), b.get(), 0, false);
    EXPECT_EQ(a->retainCount(), 3u);
    a->onTick = [&] {
        scheduler->unscheduleAllForTarget(a.get());
        // The timer entry lives until its loop ends, the update entry until the frame ends.
        EXPECT_EQ(a->retainCount(), 3u);
    };
    run(3, 0.1);
    EXPECT_EQ(take(), (Lines{"a:update@1", "a:update@2", "a:tick@2", "b:tick@2", "b:tick@3"}));
    EXPECT_EQ(a->retainCount(), 1u);
    EXPECT_FALSE(scheduler->isTargetPaused(a.get()));
}

TEST_F(SchedulerTest, ATimerScheduledFromAnotherTimersCallbackOnlyArmsInThatFrame) {
    Ref<Probe> a = probe("a"), b = probe("b");
    scheduler->scheduleSelector(fl_selector(Probe::tick), a.get(), 0, false);
    a->onTick = [&] {
        a->onTick = nullptr;
        scheduler->scheduleSelector(fl_selector(Probe::tock), a.get(), 0, false);
        scheduler->scheduleSelector(fl_selector(Probe::tock), b.get(), 0, false); // a new target, walked last
    };
    run(3, 0.1);
    EXPECT_EQ(take(), (Lines{"a:tick@2", "a:tick@3", "a:tock@3", "b:tock@3"}));
}

TEST_F(SchedulerTest, RescheduingATimerOnlyChangesItsIntervalAndKeepsTheEntrysPausedFlag) {
    Ref<Probe> a = probe("a");
    scheduler->scheduleSelector(fl_selector(Probe::tick), a.get(), 0, 1, 0, true);
    scheduler->scheduleSelector(fl_selector(Probe::tick), a.get(), 0.25, TimerRepeatForever, 0, false);
    EXPECT_TRUE(scheduler->isTargetPaused(a.get()));
    EXPECT_EQ(a->retainCount(), 2u);
    scheduler->resumeTarget(a.get());
    run(9, 0.125);
    // The repeat count of 1 stayed: two calls, a quarter-second apart.
    EXPECT_EQ(take(), (Lines{"a:tick@3", "a:tick@5"}));
    EXPECT_EQ(a->retainCount(), 1u);
}

TEST_F(SchedulerTest, UpdatesRunByPriorityThenRegistrationBeforeAnyTimer) {
    Ref<Probe> p = probe("p"), z1 = probe("z1"), n = probe("n"), z2 = probe("z2"), n2 = probe("n2"),
               sys = probe("sys");
    scheduler->scheduleSelector(fl_selector(Probe::tick), p.get(), 0, false);
    scheduler->scheduleUpdateForTarget(p.get(), 1, false);
    scheduler->scheduleUpdateForTarget(z1.get(), 0, false);
    scheduler->scheduleUpdateForTarget(n.get(), -5, false);
    scheduler->scheduleUpdateForTarget(z2.get(), 0, false);
    scheduler->scheduleUpdateForTarget(n2.get(), -5, false);
    scheduler->scheduleUpdateForTarget(sys.get(), SystemPriority, false);
    scheduler->scheduleUpdateForTarget(z1.get(), 7, true); // already registered: no change
    run(2, 0.1);
    EXPECT_EQ(take(), (Lines{"sys:update@1", "n:update@1", "n2:update@1", "z1:update@1", "z2:update@1",
                             "p:update@1", "sys:update@2", "n:update@2", "n2:update@2", "z1:update@2",
                             "z2:update@2", "p:update@2", "p:tick@2"}));
}

TEST_F(SchedulerTest, UpdateEntriesChangedDuringTheFrame) {
    Ref<Probe> a = probe("a"), b = probe("b"), c = probe("c"), late = probe("late"), next = probe("next"),
               ahead = probe("ahead"), head = probe("head");
    scheduler->scheduleUpdateForTarget(a.get(), -1, false);
    scheduler->scheduleUpdateForTarget(b.get(), 0, false);
    scheduler->scheduleUpdateForTarget(c.get(), 0, false);
    a->onUpdate = [&] {
        a->onUpdate = nullptr;
        scheduler->unscheduleUpdateForTarget(b.get()); // not called this frame
        scheduler->unscheduleUpdateForTarget(c.get());
        scheduler->scheduleUpdateForTarget(c.get(), 5, false);     // unmarked: keeps its place
        scheduler->scheduleUpdateForTarget(next.get(), -1, false); // right after a: next frame
        scheduler->scheduleUpdateForTarget(ahead.get(), 3, false); // a list not walked yet: this frame
    };
    c->onUpdate = [&] {
        c->onUpdate = nullptr;
        scheduler->scheduleUpdateForTarget(late.get(), 0, false); // after the last entry: next frame
    };
    run(2, 0.1);
    EXPECT_EQ(take(), (Lines{"a:update@1", "c:update@1", "ahead:update@1", "a:update@2", "next:update@2",
                             "c:update@2", "late:update@2", "ahead:update@2"}));
    EXPECT_EQ(b->retainCount(), 1u); // removed at the end of frame 1

    // A list that was empty when the frame began gets its entries walked in that frame.
    Ref<CCScheduler> fresh = make<CCScheduler>();
    fresh->scheduleUpdateForTarget(a.get(), -1, false);
    a->onUpdate = [&] { fresh->scheduleUpdateForTarget(head.get(), 2, false); };
    ++log.frame;
    fresh->update(0.1);
    EXPECT_EQ(take(), (Lines{"a:update@3", "head:update@3"}));
}

TEST_F(SchedulerTest, TimeScaleScalesEveryDelta) {
    Ref<Probe> a = probe("a");
    scheduler->scheduleUpdateForTarget(a.get(), 0, false);
    scheduler->scheduleSelector(fl_selector(Probe::tick), a.get(), 0, false);
    scheduler->setTimeScale(0.5);
    run(2, 0.25);
    EXPECT_EQ(a->deltas, (std::vector<double>{0.125, 0.125, 0.125}));
    scheduler->setTimeScale(1.0);
    run(1, 0.25);
    EXPECT_EQ(a->deltas.back(), 0.25);
    EXPECT_EQ(scheduler->description(),
              platform::format("<CCScheduler = %p | timeScale = 1.00 >", scheduler.get()));
}

TEST_F(SchedulerTest, PauseAllAboveAPriorityAndResumeExactlyThoseTargets) {
    Ref<Probe> timerOnly = probe("t"), neg = probe("neg"), zero = probe("zero"), pos = probe("pos"),
               pausedBefore = probe("pb");
    scheduler->scheduleSelector(fl_selector(Probe::tick), timerOnly.get(), 0, false);
    scheduler->scheduleUpdateForTarget(neg.get(), -3, false);
    scheduler->scheduleUpdateForTarget(zero.get(), 0, false);
    scheduler->scheduleUpdateForTarget(pos.get(), 2, false);
    scheduler->scheduleSelector(fl_selector(Probe::tick), pos.get(), 0, false);
    scheduler->scheduleUpdateForTarget(pausedBefore.get(), -9, true);

    platform::ObjectSet paused = scheduler->pauseAllTargetsWithMinPriority(1);
    ASSERT_EQ(paused.count(), 2u); // pos only once
    EXPECT_TRUE(paused.contains(timerOnly.get()));
    EXPECT_TRUE(paused.contains(pos.get()));
    EXPECT_TRUE(scheduler->isTargetPaused(timerOnly.get()));
    EXPECT_FALSE(scheduler->isTargetPaused(zero.get()));
    EXPECT_FALSE(scheduler->isTargetPaused(neg.get()));
    run(2, 0.1);
    EXPECT_EQ(take(), (Lines{"neg:update@1", "zero:update@1", "neg:update@2", "zero:update@2"}));

    scheduler->resumeTargets(paused);
    EXPECT_TRUE(scheduler->isTargetPaused(pausedBefore.get()));
    run(2, 0.1); // the timers were paused before their first step: frame 3 arms them
    EXPECT_EQ(take(), (Lines{"neg:update@3", "zero:update@3", "pos:update@3", "neg:update@4", "zero:update@4",
                             "pos:update@4", "t:tick@4", "pos:tick@4"}));

    platform::ObjectSet all = scheduler->pauseAllTargets();
    EXPECT_EQ(all.count(), 5u);
    run(1, 0.1);
    EXPECT_TRUE(take().empty());
}

TEST_F(SchedulerTest, UnscheduleAllRespectsTheMinimumPriorityAndReleasesTargets) {
    Ref<Probe> sys = probe("sys"), neg = probe("neg"), zero = probe("zero"), pos = probe("pos"),
               timer = probe("t");
    scheduler->scheduleUpdateForTarget(sys.get(), SystemPriority, false);
    scheduler->scheduleUpdateForTarget(neg.get(), -1, false);
    scheduler->scheduleUpdateForTarget(zero.get(), 0, false);
    scheduler->scheduleUpdateForTarget(pos.get(), 4, false);
    scheduler->scheduleSelector(fl_selector(Probe::tick), timer.get(), 0, false);
    scheduler->scheduleUpdateForTarget(timer.get(), -2, false); // goes with its timers
    scheduler->unscheduleAllWithMinPriority(1);
    EXPECT_EQ(pos->retainCount(), 1u);
    EXPECT_EQ(timer->retainCount(), 1u);
    EXPECT_EQ(zero->retainCount(), 2u);
    scheduler->unscheduleAllWithMinPriority(0);
    EXPECT_EQ(zero->retainCount(), 1u);
    EXPECT_EQ(neg->retainCount(), 2u);
    scheduler->unscheduleAll();
    EXPECT_EQ(neg->retainCount(), 1u);
    EXPECT_EQ(sys->retainCount(), 1u);

    // From inside a callback: everything goes, nothing is freed under the walk.
    scheduler->scheduleUpdateForTarget(neg.get(), -1, false);
    scheduler->scheduleUpdateForTarget(zero.get(), 0, false);
    scheduler->scheduleSelector(fl_selector(Probe::tick), timer.get(), 0, false);
    scheduler->scheduleSelector(fl_selector(Probe::tock), timer.get(), 0, false);
    timer->onTick = [&] { scheduler->unscheduleAll(); };
    run(3, 0.1);
    EXPECT_EQ(take(), (Lines{"neg:update@1", "zero:update@1", "neg:update@2", "zero:update@2", "t:tick@2"}));
    for (auto* p : {neg.get(), zero.get(), timer.get()})
        EXPECT_EQ(p->retainCount(), 1u);
}

TEST_F(SchedulerTest, ATimerCancelsThroughTheSchedulerThatHoldsIt) {
    Ref<CCScheduler> other = make<CCScheduler>();
    Ref<Probe> a = probe("a");
    scheduler->scheduleSelector(fl_selector(Probe::tick), a.get(), 0, false);
    other->scheduleSelector(fl_selector(Probe::tick), a.get(), 0, 0, 0, false); // one call, then cancel
    for (int i = 0; i < 3; ++i) {
        other->update(0.1);
        scheduler->update(0.1);
    }
    EXPECT_EQ(a->deltas.size(), 3u); // one from `other`, two from `scheduler`
    EXPECT_EQ(a->retainCount(), 2u); // only `scheduler` still holds it

    // A timer made outside any scheduler cancels into nothing.
    Ref<CCTimerTargetSelector> loose =
        CCTimerTargetSelector::timerWithTarget(a.get(), fl_selector(Probe::tock));
    loose->cancel();
    EXPECT_EQ(loose->description(),
              platform::format("<CCTimerTargetSelector = %p | target:Probe selector:(tock:)>", loose.get()));
    Ref<CCTimerBlock> block = CCTimerBlock::timerWithTarget(a.get(), 1, "k", [](double) {});
    EXPECT_EQ(block->description(), platform::format("<CCTimerBlock = %p | block>", block.get()));
    EXPECT_EQ(block->key(), "k");
    EXPECT_EQ(block->interval(), 1.0);
}

TEST_F(SchedulerTest, ManyTargetsKeepSeparateEntriesAndTheSchedulerReleasesThemWhenItGoes) {
    std::vector<Ref<Probe>> probes;
    for (int i = 0; i < 1000; ++i) {
        probes.push_back(probe("p"));
        scheduler->scheduleSelector(fl_selector(Probe::tick), probes.back().get(), 0, i % 2 == 0);
        scheduler->scheduleUpdateForTarget(probes.back().get(), i % 3 - 1, false);
    }
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(scheduler->isTargetPaused(probes[i].get()), i % 2 == 0);
    for (int i = 0; i < 1000; i += 4)
        scheduler->unscheduleAllForTarget(probes[i].get());
    run(2, 0.1);
    for (int i = 0; i < 1000; ++i) {
        std::size_t calls = i % 4 == 0 ? 0u : i % 2 == 0 ? 2u : 3u;
        EXPECT_EQ(probes[i]->deltas.size(), calls) << i;
    }
    scheduler = nullptr;
    for (auto& p : probes)
        EXPECT_EQ(p->retainCount(), 1u);
}

TEST_F(SchedulerTest, NilTargetsAreIgnoredOrRefused) {
    Ref<Probe> a = probe("a");
    scheduler->unscheduleSelector(fl_selector(Probe::tick), nullptr);
    scheduler->unscheduleBlockForKey("k", nullptr);
    scheduler->unscheduleUpdateForTarget(nullptr);
    scheduler->unscheduleAllForTarget(nullptr);
    scheduler->unscheduleSelector(fl_selector(Probe::tick), a.get()); // never scheduled
    scheduler->pauseTarget(nullptr);
    EXPECT_FALSE(scheduler->isTargetPaused(nullptr));
    EXPECT_THROW(scheduler->scheduleSelector(fl_selector(Probe::tick), nullptr, 0, false),
                 platform::Exception);
    EXPECT_THROW(scheduler->scheduleBlockForKey("k", a.get(), 0, 0, 0, false, nullptr), platform::Exception);
    EXPECT_THROW(scheduler->scheduleUpdateForTarget(static_cast<Probe*>(nullptr), 0, false),
                 platform::Exception);
    EXPECT_EQ(a->retainCount(), 1u);
}

// A common pattern in game code: a target that unschedules itself on the way out. By then the
// scheduler no longer holds it, and the call must not bring it back to life for a moment.
TEST_F(SchedulerTest, ATargetUnschedulingItselfFromItsDestructorIsDestroyedOnce) {
    struct SelfCleaning : Object {
        SelfCleaning(CCScheduler* s, int* d) : scheduler(s), destroyed(d) {}
        ~SelfCleaning() override {
            ++*destroyed;
            scheduler->unscheduleAllForTarget(this);
        }
        void tick(double) {}
        CCScheduler* scheduler;
        int* destroyed;
    };
    int destroyed = 0;
    {
        Ref<SelfCleaning> t = make<SelfCleaning>(scheduler.get(), &destroyed);
        scheduler->scheduleSelector(fl_selector(SelfCleaning::tick), t.get(), 0, false);
        scheduler->unscheduleAllForTarget(t.get());
    }
    EXPECT_EQ(destroyed, 1);
}

TEST_F(SchedulerTest, ATargetReleasedAtTheEndOfItsLoopMayUnscheduleTheNextTargetFromItsDestructor) {
    // The first target's timer unschedules itself, so its entry goes when its loop ends and the
    // scheduler's reference is the last one. Its destructor unschedules the next target, whose
    // entry the walk is about to visit: the release must wait until the walk is done.
    struct Leaving : Object {
        Leaving(CCScheduler* s, Object* next) : scheduler(s), next(next) {}
        ~Leaving() override { scheduler->unscheduleAllForTarget(next); }
        void tick(double) { scheduler->unscheduleSelector(fl_selector(Leaving::tick), this); }
        CCScheduler* scheduler;
        Object* next;
    };
    Ref<Probe> b = probe("b");
    {
        Ref<Leaving> a = make<Leaving>(scheduler.get(), b.get());
        scheduler->scheduleSelector(fl_selector(Leaving::tick), a.get(), 0, false);
    }
    scheduler->scheduleSelector(fl_selector(Probe::tick), b.get(), 0, false);
    run(1, 0.1); // both arm
    run(1, 0.1); // a goes; b is still stepped in this frame, then unscheduled
    EXPECT_EQ(take(), (Lines{"b:tick@2"}));
    EXPECT_EQ(b->retainCount(), 1u);
    run(1, 0.1);
    EXPECT_TRUE(take().empty());
}

TEST_F(SchedulerTest, PrioritisedUpdatesRunInTheOrderOfAStableSortOnRandomRegistrations) {
    // The reference: by priority, registration order among equals.
    struct Reg {
        int probe;
        std::int64_t priority;
    };
    std::vector<Reg> reference;
    std::vector<Ref<Probe>> probes;
    for (int i = 0; i < 60; ++i)
        probes.push_back(probe(platform::format("p%d", i)));
    std::srand(7);
    for (int step = 0; step < 2000; ++step) {
        int p = std::rand() % 60;
        auto listed =
            std::find_if(reference.begin(), reference.end(), [&](const Reg& r) { return r.probe == p; });
        if (listed != reference.end()) {
            scheduler->unscheduleUpdateForTarget(probes[p].get());
            reference.erase(listed);
        } else {
            std::int64_t priority = std::rand() % 9 - 4; // zero and both signed lists
            scheduler->scheduleUpdateForTarget(probes[p].get(), priority, false);
            reference.push_back({p, priority});
        }
    }
    std::stable_sort(reference.begin(), reference.end(),
                     [](const Reg& a, const Reg& b) { return a.priority < b.priority; });
    Lines expected;
    for (const Reg& r : reference)
        expected.push_back(platform::format("p%d:update@1", r.probe));
    run(1, 0.1);
    EXPECT_EQ(take(), expected);
}

TEST_F(SchedulerTest, ACallbackThatThrowsLeavesTheFrameBookkeepingSettled) {
    Ref<Probe> a = probe("a"), b = probe("b");
    scheduler->scheduleSelector(fl_selector(Probe::tick), a.get(), 0, false);
    scheduler->scheduleSelector(fl_selector(Probe::tock), a.get(), 0, false);
    scheduler->scheduleUpdateForTarget(b.get(), 0, false);
    run(1, 0.1); // arms the timers
    // The throwing timer unschedules its whole target first; the update unschedules itself.
    a->onTick = [&] {
        scheduler->unscheduleAllForTarget(a.get());
        throw platform::Exception(platform::NSInternalInconsistencyException, "game fault");
    };
    b->onUpdate = [&] { scheduler->unscheduleUpdateForTarget(b.get()); };
    EXPECT_THROW(run(1, 0.1), platform::Exception);
    // Both targets were let go as the frame would have; nothing is stepped afterwards.
    EXPECT_EQ(a->retainCount(), 1u);
    EXPECT_EQ(b->retainCount(), 1u);
    take();
    run(1, 0.1);
    EXPECT_TRUE(take().empty());

    // A throw from an update callback unlocks the lists: a removal is immediate again.
    Ref<Probe> c = probe("c");
    scheduler->scheduleUpdateForTarget(c.get(), 3, false);
    c->onUpdate = [] { throw platform::Exception(platform::NSInternalInconsistencyException, "again"); };
    EXPECT_THROW(run(1, 0.1), platform::Exception);
    scheduler->unscheduleUpdateForTarget(c.get());
    EXPECT_EQ(c->retainCount(), 1u);
}
