#include "core/CCTouchDispatcher.h"

#include "platform/Exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using platform::Event;
using platform::make;
using platform::Object;
using platform::Ref;
using platform::Touch;
using platform::TouchSet;

namespace {

// Every call a delegate receives, as "name:phase:touches" (touches by their x, e.g. "1,2").
using CallLog = std::vector<std::string>;

const char* phaseName(std::uint32_t phase) {
    static const char* names[] = {"began", "moved", "ended", "cancelled"};
    return names[phase];
}

std::string ids(const TouchSet& set) {
    std::string s;
    for (const Ref<Touch>& t : set)
        s += (s.empty() ? "" : ",") + std::to_string(int(t->locationInView(nullptr).x));
    return s;
}

class Targeted : public Object, public CCTouchOneByOneDelegate {
public:
    Targeted(std::string name, CallLog* log, bool claims = true,
             std::uint32_t phases = kCCTouchSelectorAllBits)
        : name(std::move(name)), log(log), claims(claims), phases(phases) {}
    ~Targeted() override {
        if (onDestroy) onDestroy();
    }
    bool ccTouchBegan(Touch* t, Event*) override { return record(kCCTouchBegan, t) && claimsTouch(t); }
    void ccTouchMoved(Touch* t, Event*) override { record(kCCTouchMoved, t); }
    void ccTouchEnded(Touch* t, Event*) override { record(kCCTouchEnded, t); }
    void ccTouchCancelled(Touch* t, Event*) override { record(kCCTouchCancelled, t); }
    std::uint32_t touchPhasesImplemented() const override { return phases; }

    bool claimsTouch(Touch* t) const { return claimOnly ? t == claimOnly : claims; }
    bool record(std::uint32_t phase, Touch* t) {
        log->push_back(name + ":" + phaseName(phase) + ":" +
                       std::to_string(int(t->locationInView(nullptr).x)));
        if (onCall) onCall(phase);
        return true;
    }

    std::string name;
    CallLog* log;
    bool claims;
    std::uint32_t phases;
    Touch* claimOnly = nullptr;
    std::function<void(std::uint32_t)> onCall;
    std::function<void()> onDestroy;
};

class Standard : public Object, public CCTouchAllAtOnceDelegate {
public:
    Standard(std::string name, CallLog* log, std::uint32_t phases = kCCTouchSelectorAllBits)
        : name(std::move(name)), log(log), phases(phases) {}
    void ccTouchesBegan(const TouchSet& s, Event*) override { record(kCCTouchBegan, s); }
    void ccTouchesMoved(const TouchSet& s, Event*) override { record(kCCTouchMoved, s); }
    void ccTouchesEnded(const TouchSet& s, Event*) override { record(kCCTouchEnded, s); }
    void ccTouchesCancelled(const TouchSet& s, Event*) override { record(kCCTouchCancelled, s); }
    std::uint32_t touchesPhasesImplemented() const override { return phases; }
    void record(std::uint32_t phase, const TouchSet& s) {
        log->push_back(name + ":" + phaseName(phase) + ":" + ids(s));
        if (onCall) onCall(phase);
    }

    std::string name;
    CallLog* log;
    std::uint32_t phases;
    std::function<void(std::uint32_t)> onCall;
};

class TouchDispatcherTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dispatcher->init()); }

    Ref<Touch> touch(int id) { return make<Touch>(nullptr, CGPoint{double(id), 0}, 0.0); }
    Ref<Targeted> targeted(const std::string& name, std::int64_t priority, bool swallows,
                           bool claims = true) {
        Ref<Targeted> d = make<Targeted>(name, &log, claims);
        dispatcher->addTargetedDelegate(d.get(), priority, swallows);
        return d;
    }
    Ref<Standard> standard(const std::string& name, std::int64_t priority) {
        Ref<Standard> d = make<Standard>(name, &log);
        dispatcher->addStandardDelegate(d.get(), priority);
        return d;
    }
    // Sends one phase and returns what the delegates saw.
    CallLog send(std::uint32_t phase, const TouchSet& set) {
        log.clear();
        switch (phase) {
        case kCCTouchBegan:
            dispatcher->touchesBegan(set, event.get());
            break;
        case kCCTouchMoved:
            dispatcher->touchesMoved(set, event.get());
            break;
        case kCCTouchEnded:
            dispatcher->touchesEnded(set, event.get());
            break;
        default:
            dispatcher->touchesCancelled(set, event.get());
            break;
        }
        return log;
    }

    CallLog log;
    Ref<CCTouchDispatcher> dispatcher = make<CCTouchDispatcher>();
    Ref<Event> event = make<Event>();
};

using Calls = CallLog;

TEST_F(TouchDispatcherTest, LowerPrioritiesFirstAndNewestFirstAmongEquals) {
    struct Case {
        std::vector<std::pair<std::string, std::int64_t>> registrations;
        Calls expected;
    };
    const Case cases[] = {
        {{{"A", 0}, {"B", 0}}, {"B:began:1", "A:began:1"}},
        {{{"A", 1}, {"B", -1}, {"C", 0}}, {"B:began:1", "C:began:1", "A:began:1"}},
        {{{"A", 0}, {"B", 0}, {"C", 0}, {"M", -128}}, {"M:began:1", "C:began:1", "B:began:1", "A:began:1"}},
    };
    for (const Case& c : cases) {
        dispatcher->removeAllDelegates();
        std::vector<Ref<Targeted>> keep;
        for (auto& [name, priority] : c.registrations)
            keep.push_back(targeted(name, priority, false, false));
        Ref<Touch> t = touch(1);
        EXPECT_EQ(send(kCCTouchBegan, {t.get()}), c.expected);
    }
}

TEST_F(TouchDispatcherTest, ClaimingAndSwallowingDecideWhatLaterHandlersSee) {
    Ref<Touch> t1 = touch(1), t2 = touch(2);
    struct Case {
        const char* what;
        bool swallows;
        int claim; // 0 none, 1 or 2 that touch only, 3 both
        Calls expected;
    };
    const Case cases[] = {
        // The standard handler is not called at all when nothing remains.
        {"swallow both", true, 3, {"T:began:1", "T:began:2"}},
        {"swallow one", true, 1, {"T:began:1", "T:began:2", "L:began:2", "S:began:2"}},
        {"claim without swallowing",
         false,
         3,
         {"T:began:1", "L:began:1", "T:began:2", "L:began:2", "S:began:1,2"}},
        {"claim nothing", true, 0, {"T:began:1", "L:began:1", "T:began:2", "L:began:2", "S:began:1,2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dispatcher->removeAllDelegates();
        Ref<Targeted> top = targeted("T", -1, c.swallows, c.claim == 3);
        if (c.claim == 1) top->claimOnly = t1.get();
        Ref<Targeted> lower = targeted("L", 0, false, false);
        Ref<Standard> s = standard("S", 0);
        EXPECT_EQ(send(kCCTouchBegan, {t1.get(), t2.get()}), c.expected);
    }
}

TEST_F(TouchDispatcherTest, LaterPhasesFollowTheClaim) {
    Ref<Touch> t1 = touch(1), t2 = touch(2);
    Ref<Targeted> claimer = targeted("T", 0, true);
    claimer->claimOnly = t1.get();
    Ref<Standard> s = standard("S", 0);

    EXPECT_EQ(send(kCCTouchBegan, {t1.get(), t2.get()}), (Calls{"T:began:1", "T:began:2", "S:began:2"}));
    auto* handler = static_cast<CCTargetedTouchHandler*>(dispatcher->findHandler(claimer.get()));
    EXPECT_TRUE(handler->claimedTouches().contains(t1.get()));
    EXPECT_FALSE(handler->claimedTouches().contains(t2.get()));

    // The claimed touch goes to its claimer alone; the other one only to the standard handler.
    EXPECT_EQ(send(kCCTouchMoved, {t1.get(), t2.get()}), (Calls{"T:moved:1", "S:moved:2"}));
    EXPECT_EQ(send(kCCTouchEnded, {t1.get(), t2.get()}), (Calls{"T:ended:1", "S:ended:2"}));
    EXPECT_TRUE(handler->claimedTouches().empty());
    // Once ended, the touch is nobody's: a stray later phase reaches the standard handler.
    EXPECT_EQ(send(kCCTouchCancelled, {t1.get()}), (Calls{"S:cancelled:1"}));
}

TEST_F(TouchDispatcherTest, PhasesADelegateDoesNotImplementAreNotSentButStillEndTheClaim) {
    Ref<Touch> t = touch(1);
    Ref<Targeted> d = make<Targeted>("T", &log, true, kCCTouchSelectorEndedBit);
    dispatcher->addTargetedDelegate(d.get(), 0, true);
    Ref<Standard> s = make<Standard>("S", &log, kCCTouchSelectorBeganBit | kCCTouchSelectorMovedBit);
    dispatcher->addStandardDelegate(s.get(), 0);
    auto* handler = static_cast<CCTargetedTouchHandler*>(dispatcher->findHandler(d.get()));
    EXPECT_EQ(handler->enabledSelectors(), kCCTouchSelectorBeganBit | kCCTouchSelectorEndedBit);
    EXPECT_EQ(dispatcher->findHandler(s.get())->enabledSelectors(),
              kCCTouchSelectorBeganBit | kCCTouchSelectorMovedBit);

    // Began goes out whatever the mask says; moved is swallowed silently.
    EXPECT_EQ(send(kCCTouchBegan, {t.get()}), (Calls{"T:began:1"}));
    EXPECT_EQ(send(kCCTouchMoved, {t.get()}), (Calls{}));
    EXPECT_EQ(send(kCCTouchEnded, {t.get()}), (Calls{"T:ended:1"}));
    // The claim ended: the next stray phase reaches the standard handler, which lacks ended.
    Ref<Touch> other = touch(2);
    EXPECT_EQ(send(kCCTouchMoved, {t.get(), other.get()}), (Calls{"S:moved:1,2"}));
    EXPECT_EQ(send(kCCTouchEnded, {other.get()}), (Calls{}));

    // Cancelled ends a claim even for a delegate that implements nothing but began.
    Ref<Targeted> bare = make<Targeted>("B", &log, true, kCCTouchSelectorBeganBit);
    dispatcher->removeAllDelegates();
    dispatcher->addTargetedDelegate(bare.get(), 0, true);
    auto* bareHandler = static_cast<CCTargetedTouchHandler*>(dispatcher->findHandler(bare.get()));
    send(kCCTouchBegan, {t.get()});
    EXPECT_EQ(send(kCCTouchCancelled, {t.get()}), (Calls{}));
    EXPECT_TRUE(bareHandler->claimedTouches().empty());
}

TEST_F(TouchDispatcherTest, RegistrationChangesDuringADispatchWaitUntilItEnds) {
    Ref<Touch> t = touch(1);

    // A delegate removing itself in its ended phase is still there until the event is over.
    {
        dispatcher->removeAllDelegates();
        Ref<Targeted> a = targeted("A", 0, false);
        Ref<Targeted> b = targeted("B", 1, false);
        a->onCall = [&](std::uint32_t phase) {
            if (phase != kCCTouchEnded) return;
            dispatcher->removeDelegate(a.get());
            EXPECT_TRUE(dispatcher->isLocked());
            EXPECT_EQ(dispatcher->targetedHandlers().size(), 2u);
        };
        send(kCCTouchBegan, {t.get()});
        EXPECT_EQ(send(kCCTouchEnded, {t.get()}), (Calls{"A:ended:1", "B:ended:1"}));
        ASSERT_EQ(dispatcher->targetedHandlers().size(), 1u);
        EXPECT_EQ(dispatcher->targetedHandlers()[0]->delegate(), b.get());
        EXPECT_FALSE(dispatcher->isLocked());
    }
    // A delegate added during a dispatch sees only later events.
    {
        dispatcher->removeAllDelegates();
        Ref<Targeted> a = targeted("A", 0, false, false);
        Ref<Targeted> late = make<Targeted>("N", &log, false);
        a->onCall = [&](std::uint32_t) {
            if (!dispatcher->findHandler(late.get())) dispatcher->addTargetedDelegate(late.get(), -5, false);
        };
        EXPECT_EQ(send(kCCTouchBegan, {t.get()}), (Calls{"A:began:1"}));
        EXPECT_EQ(send(kCCTouchBegan, {t.get()}), (Calls{"N:began:1", "A:began:1"}));
    }
    // Remove then add again in one dispatch: the first registration stays as it was.
    {
        dispatcher->removeAllDelegates();
        Ref<Targeted> a = targeted("A", 3, true, false);
        a->onCall = [&](std::uint32_t) {
            dispatcher->removeDelegate(a.get());
            dispatcher->addTargetedDelegate(a.get(), 7, false);
            a->onCall = nullptr;
        };
        send(kCCTouchBegan, {t.get()});
        ASSERT_EQ(dispatcher->targetedHandlers().size(), 1u);
        auto* h = static_cast<CCTargetedTouchHandler*>(dispatcher->targetedHandlers()[0].get());
        EXPECT_EQ(h->priority(), 3);
        EXPECT_TRUE(h->swallowsTouches());
    }
    // Add then remove in one dispatch: nothing is added; findHandler sees the waiting handler.
    {
        dispatcher->removeAllDelegates();
        Ref<Standard> s = standard("S", 0);
        Ref<Targeted> other = make<Targeted>("O", &log);
        s->onCall = [&](std::uint32_t) {
            dispatcher->addTargetedDelegate(other.get(), 0, false);
            EXPECT_NE(dispatcher->findHandler(other.get()), nullptr);
            dispatcher->removeDelegate(other.get());
            EXPECT_EQ(dispatcher->findHandler(other.get()), nullptr);
        };
        send(kCCTouchBegan, {t.get()});
        EXPECT_TRUE(dispatcher->targetedHandlers().empty());
        EXPECT_EQ(dispatcher->standardHandlers().size(), 1u);
    }
    // Remove-all during a dispatch applies last, so it also takes what was added meanwhile.
    {
        dispatcher->removeAllDelegates();
        Ref<Standard> s = standard("S", 0);
        Ref<Targeted> other = make<Targeted>("O", &log);
        s->onCall = [&](std::uint32_t) {
            dispatcher->removeAllDelegates();
            dispatcher->addTargetedDelegate(other.get(), 0, false);
            EXPECT_EQ(dispatcher->standardHandlers().size(), 1u);
        };
        send(kCCTouchBegan, {t.get()});
        EXPECT_TRUE(dispatcher->targetedHandlers().empty());
        EXPECT_TRUE(dispatcher->standardHandlers().empty());
    }
}

TEST_F(TouchDispatcherTest, APriorityChangeDuringADispatchTakesEffectWithTheNextEvent) {
    Ref<Touch> t = touch(1);
    Ref<Targeted> a = targeted("A", 0, false, false);
    Ref<Targeted> b = targeted("B", 1, false, false);
    a->onCall = [&](std::uint32_t) { dispatcher->setPriority(5, a.get()); };
    // Re-sorting under the walk would have called B twice or skipped it.
    EXPECT_EQ(send(kCCTouchBegan, {t.get()}), (Calls{"A:began:1", "B:began:1"}));
    a->onCall = nullptr;
    EXPECT_EQ(send(kCCTouchBegan, {t.get()}), (Calls{"B:began:1", "A:began:1"}));
}

TEST_F(TouchDispatcherTest, PriorityChangesResortStablyAndIgnoreStrangers) {
    Ref<Targeted> a = targeted("A", 0, false, false);
    Ref<Targeted> b = targeted("B", 0, false, false);
    Ref<Targeted> c = targeted("C", 2, false, false);
    Ref<Targeted> stranger = make<Targeted>("X", &log);
    dispatcher->setPriority(9, stranger.get());
    // C drops to 0: it goes after B and A, which keep their order (B newest first).
    dispatcher->setPriority(0, c.get());
    Ref<Touch> t = touch(1);
    EXPECT_EQ(send(kCCTouchBegan, {t.get()}), (Calls{"B:began:1", "A:began:1", "C:began:1"}));
    dispatcher->setPriority(-1, a.get());
    EXPECT_EQ(send(kCCTouchBegan, {t.get()}), (Calls{"A:began:1", "B:began:1", "C:began:1"}));
}

TEST_F(TouchDispatcherTest, DispatchOffDropsEventsWithoutTouchingClaims) {
    Ref<Touch> t = touch(1);
    Ref<Targeted> a = targeted("A", 0, true);
    Ref<Standard> s = standard("S", 0);
    send(kCCTouchBegan, {t.get()});
    dispatcher->setDispatchEvents(false);
    for (std::uint32_t phase = kCCTouchBegan; phase < kCCTouchMax; ++phase)
        EXPECT_TRUE(send(phase, {t.get()}).empty()) << phaseName(phase);
    // The dropped ended phase leaves the touch claimed.
    auto* handler = static_cast<CCTargetedTouchHandler*>(dispatcher->findHandler(a.get()));
    EXPECT_TRUE(handler->claimedTouches().contains(t.get()));
    dispatcher->setDispatchEvents(true);
    EXPECT_EQ(send(kCCTouchEnded, {t.get()}), (Calls{"A:ended:1"}));
    // An unknown phase index is ignored rather than read past the phase table.
    log.clear();
    dispatcher->touches({t.get()}, event.get(), kCCTouchMax);
    EXPECT_TRUE(log.empty());
}

TEST_F(TouchDispatcherTest, HandlersRetainTheirDelegatesUntilRemoved) {
    Ref<Targeted> a = make<Targeted>("A", &log);
    dispatcher->addTargetedDelegate(a.get(), 0, true);
    dispatcher->addStandardDelegate(make<Standard>("S", &log).get(), 0);
    EXPECT_EQ(a->retainCount(), 2u);
    // The same delegate twice is two registrations; one forced removal takes one of each list.
    dispatcher->addTargetedDelegate(a.get(), 1, true);
    EXPECT_EQ(dispatcher->targetedHandlers().size(), 2u);
    dispatcher->forceRemoveDelegate(a.get());
    EXPECT_EQ(dispatcher->targetedHandlers().size(), 1u);
    EXPECT_EQ(dispatcher->targetedHandlers()[0]->priority(), 1);
    dispatcher->removeDelegate(a.get());
    EXPECT_EQ(a->retainCount(), 1u);

    // A delegate the dispatcher alone holds may deregister others from its destructor.
    Ref<Targeted> survivor = targeted("B", 0, false);
    Targeted* doomed = make<Targeted>("C", &log).leakRef();
    dispatcher->addTargetedDelegate(doomed, 0, false);
    doomed->onDestroy = [&] { dispatcher->removeDelegate(survivor.get()); };
    doomed->release();
    dispatcher->removeDelegate(doomed);
    EXPECT_TRUE(dispatcher->targetedHandlers().empty());
    EXPECT_EQ(survivor->retainCount(), 1u);
}

TEST_F(TouchDispatcherTest, ADelegateInBothListsLeavesBoth) {
    struct Both : Object, CCTouchAllAtOnceDelegate, CCTouchOneByOneDelegate {
        bool ccTouchBegan(Touch*, Event*) override { return false; }
    };
    Ref<Both> both = make<Both>();
    dispatcher->addStandardDelegate(both.get(), 0);
    dispatcher->addTargetedDelegate(both.get(), 0, false);
    EXPECT_NE(dispatcher->findHandler(both.get()), nullptr);
    EXPECT_NE(dynamic_cast<CCTargetedTouchHandler*>(dispatcher->findHandler(both.get())), nullptr);
    dispatcher->removeDelegate(both.get());
    EXPECT_TRUE(dispatcher->targetedHandlers().empty());
    EXPECT_TRUE(dispatcher->standardHandlers().empty());
    EXPECT_EQ(both->retainCount(), 1u);
}

TEST_F(TouchDispatcherTest, HandlerPlacesMatchThePlainOrderOnRandomRegistrations) {
    // The plain order: inserted before every handler of equal or higher priority, removed and
    // found as a front-to-back walk finds them, re-sorted stably on a priority change.
    struct Both : Object, CCTouchAllAtOnceDelegate, CCTouchOneByOneDelegate {
        bool ccTouchBegan(Touch*, Event*) override { return false; }
    };
    using List = std::vector<CCTouchHandler*>;
    List refTargeted, refStandard;
    auto listed = [](const CCTouchHandlerArray& array) {
        List out;
        for (const Ref<CCTouchHandler>& h : array)
            out.push_back(h.get());
        return out;
    };
    std::vector<Ref<CCTouchHandler>> alive; // so the reference may read handlers the dispatcher let go
    auto added = [&](const CCTouchHandlerArray& array, const List& before) {
        for (const Ref<CCTouchHandler>& h : array) {
            if (std::find(before.begin(), before.end(), h.get()) == before.end()) {
                alive.push_back(h);
                return h.get();
            }
        }
        return static_cast<CCTouchHandler*>(nullptr);
    };
    auto insert = [](List& list, CCTouchHandler* h) {
        std::size_t before = 0;
        for (CCTouchHandler* other : list)
            if (other->priority() < h->priority()) ++before;
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(before), h);
    };
    auto first = [](List& list, Object* d) {
        return std::find_if(list.begin(), list.end(), [&](CCTouchHandler* h) { return h->delegate() == d; });
    };
    auto resort = [](List& list) {
        std::stable_sort(list.begin(), list.end(),
                         [](CCTouchHandler* a, CCTouchHandler* b) { return a->priority() < b->priority(); });
    };

    std::vector<Ref<Both>> delegates;
    for (int i = 0; i < 24; ++i)
        delegates.push_back(make<Both>());
    std::srand(11);
    for (int step = 0; step < 3000; ++step) {
        Both* d = delegates[std::rand() % delegates.size()].get();
        std::int64_t priority = std::rand() % 7 - 3;
        switch (std::rand() % 8) {
        case 0:
        case 1: {
            List before = listed(dispatcher->targetedHandlers());
            dispatcher->addTargetedDelegate(d, priority, false);
            insert(refTargeted, added(dispatcher->targetedHandlers(), before));
            break;
        }
        case 2: {
            List before = listed(dispatcher->standardHandlers());
            dispatcher->addStandardDelegate(d, priority);
            insert(refStandard, added(dispatcher->standardHandlers(), before));
            break;
        }
        case 3:
        case 4:
            dispatcher->removeDelegate(d);
            if (auto it = first(refTargeted, d); it != refTargeted.end()) refTargeted.erase(it);
            if (auto it = first(refStandard, d); it != refStandard.end()) refStandard.erase(it);
            break;
        case 5:
        case 6: {
            CCTouchHandler* expected = nullptr;
            if (auto it = first(refTargeted, d); it != refTargeted.end())
                expected = *it;
            else if (auto is = first(refStandard, d); is != refStandard.end())
                expected = *is;
            ASSERT_EQ(dispatcher->findHandler(d), expected) << "step " << step;
            dispatcher->setPriority(priority, d);
            if (!expected) break; // a stranger: nothing is re-sorted
            resort(refTargeted);
            resort(refStandard);
            break;
        }
        default: {
            // Now and then a priority changed on the handler itself, which re-sorts nothing.
            if (std::rand() % 8 != 0 || refTargeted.empty()) break;
            refTargeted[std::rand() % refTargeted.size()]->setPriority(priority);
            break;
        }
        }
        ASSERT_EQ(listed(dispatcher->targetedHandlers()), refTargeted) << "step " << step;
        ASSERT_EQ(listed(dispatcher->standardHandlers()), refStandard) << "step " << step;
    }
}

TEST_F(TouchDispatcherTest, AThrowingHandlerStillLetsTheChangesQueuedDuringItsDispatchHappen) {
    Ref<Touch> t = touch(1);
    Ref<Targeted> a = targeted("A", 0, false);
    Ref<Standard> late = make<Standard>("L", &log);
    a->onCall = [&](std::uint32_t) {
        dispatcher->removeDelegate(a.get());
        dispatcher->addStandardDelegate(late.get(), 0);
        throw platform::Exception(platform::NSInternalInconsistencyException, "game fault");
    };
    EXPECT_THROW(send(kCCTouchBegan, {t.get()}), platform::Exception);
    EXPECT_FALSE(dispatcher->isLocked());
    // A removed itself: it hears nothing more; the standard delegate it added hears the next event.
    EXPECT_EQ(send(kCCTouchBegan, {t.get()}), (Calls{"L:began:1"}));
    EXPECT_EQ(a->retainCount(), 1u);
}

} // namespace
