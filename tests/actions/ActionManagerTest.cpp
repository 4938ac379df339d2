#include "actions/CCAction.h"
#include "actions/CCActionManager.h"
#include "core/CCScheduler.h"

#include "platform/Exception.h"
#include "platform/Format.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

using platform::make;
using platform::Object;
using platform::Ref;

namespace {

std::vector<std::string>* gLog = nullptr; // "name:event" lines of the running test

// Counts its steps; done after `lifetime` steps; runs an optional hook inside each step.
class Counter : public CCActionFactory<Counter, CCFiniteTimeAction> {
public:
    void step(double dt) override {
        ++steps;
        stepped += dt;
        if (gLog) gLog->push_back(name + ":step");
        if (auto hook = onStep) hook(this);
    }
    bool isDone() const override { return steps >= lifetime; }
    void stop() override {
        CCFiniteTimeAction::stop();
        ++stops;
        if (gLog) gLog->push_back(name + ":stop");
        if (auto hook = onStop) hook(this);
    }
    ~Counter() override {
        if (gLog) gLog->push_back(name + ":dead");
    }

    std::string name = "?";
    int lifetime = 1000000, steps = 0, stops = 0;
    double stepped = 0;
    std::function<void(Counter*)> onStep, onStop;
};

// Derives from CCAction directly, without the factory helper.
class Bare : public CCAction {};

class ActionManagerTest : public ::testing::Test {
protected:
    ActionManagerTest() {
        gLog = &log;
        manager->init();
    }
    ~ActionManagerTest() override {
        manager = nullptr;
        gLog = nullptr;
    }

    Ref<Counter> counter(const std::string& name, int lifetime = 1000000) {
        Ref<Counter> c = Counter::action();
        c->name = name;
        c->lifetime = lifetime;
        return c;
    }
    std::vector<std::string> take() { return std::exchange(log, {}); }

    std::vector<std::string> log;
    Ref<CCActionManager> manager = make<CCActionManager>();
    Ref<CCNode> node = make<CCNode>(), other = make<CCNode>();
};

using Lines = std::vector<std::string>;

} // namespace

TEST_F(ActionManagerTest, AnAddedActionStartsAtOnceAndIsStoppedAndReleasedInThePassOfItsLastStep) {
    {
        Ref<Counter> a = counter("a", 2);
        manager->addAction(a.get(), node.get(), false);
        EXPECT_EQ(a->target(), node.get());
        EXPECT_EQ(a->originalTarget(), node.get());
        EXPECT_EQ(node->retainCount(), 2u);
        EXPECT_EQ(a->retainCount(), 2u);
    }
    manager->update(0.5);
    EXPECT_EQ(take(), (Lines{"a:step"}));
    manager->update(0.5);
    EXPECT_EQ(take(), (Lines{"a:step", "a:stop", "a:dead"}));
    EXPECT_EQ(node->retainCount(), 1u);
    EXPECT_EQ(manager->numberOfRunningActionsInTarget(node.get()), 0u);

    // A plain CCAction is done after its first step, and its stop clears only the target.
    Ref<CCAction> plain = CCAction::action();
    manager->addAction(plain.get(), node.get(), false);
    manager->update(0.1);
    EXPECT_EQ(plain->target(), nullptr);
    EXPECT_EQ(plain->originalTarget(), node.get());
    EXPECT_EQ(plain->retainCount(), 1u);
}

TEST_F(ActionManagerTest, AnActionStoppingItsTargetsActionsSurvivesItsStepAndTheRestAreNotStepped) {
    Ref<Counter> a = counter("a"), b = counter("b"), c = counter("c");
    for (auto* x : {a.get(), b.get(), c.get()})
        manager->addAction(x, node.get(), false);
    manager->addAction(counter("o").get(), other.get(), false);
    a = nullptr;
    c = nullptr;
    b->onStep = [&](Counter*) { manager->removeAllActionsFromTarget(node.get()); };
    Counter* raw = b.get();
    b = nullptr; // the list holds the only reference now
    raw->onStep = [&](Counter* self) {
        manager->removeAllActionsFromTarget(node.get());
        EXPECT_EQ(self->retainCount(), 1u); // the salvage's
        EXPECT_EQ(node->retainCount(), 2u); // the entry stays until its loop ends
        self->name = "b!";
    };
    manager->update(0.1);
    EXPECT_EQ(take(), (Lines{"a:step", "b:step", "c:dead", "a:dead", "b!:dead", "o:step"}));
    EXPECT_EQ(node->retainCount(), 1u);
    EXPECT_EQ(manager->numberOfRunningActionsInTarget(node.get()), 0u);
}

TEST_F(ActionManagerTest, RemovingTheActionBeforeTheCurrentOneSkipsAndRepeatsNothing) {
    Ref<Counter> a = counter("a"), b = counter("b"), c = counter("c");
    for (auto* x : {a.get(), b.get(), c.get()})
        manager->addAction(x, node.get(), false);
    b->onStep = [&](Counter* self) {
        self->onStep = nullptr;
        manager->removeAction(a.get());
    };
    manager->update(0.1);
    manager->update(0.1);
    EXPECT_EQ(take(), (Lines{"a:step", "b:step", "c:step", "b:step", "c:step"}));
    EXPECT_EQ(a->retainCount(), 1u);

    // Removing itself and the first one as well: c is still stepped once.
    b->onStep = [&](Counter* self) {
        manager->removeAction(self);
        manager->removeActionByTag(-1, node.get()); // the first untagged one is now c
    };
    c->setTag(3);
    manager->update(0.1);
    EXPECT_EQ(take(), (Lines{"b:step", "c:step"}));
    EXPECT_EQ(manager->numberOfRunningActionsInTarget(node.get()), 1u);
}

TEST_F(ActionManagerTest, ActionsAddedDuringThePassAreSteppedInThatPass) {
    Ref<Counter> a = counter("a"), same = counter("same"), fresh = counter("fresh");
    manager->addAction(a.get(), node.get(), false);
    a->onStep = [&](Counter* self) {
        self->onStep = nullptr;
        manager->addAction(same.get(), node.get(), false);
        manager->addAction(fresh.get(), other.get(), false);
    };
    manager->update(0.1);
    EXPECT_EQ(take(), (Lines{"a:step", "same:step", "fresh:step"}));

    // An action that removes all of its target's actions and then adds one keeps the entry;
    // the stepping index is not reset by the removal, so the new one waits for the next pass.
    Ref<Counter> again = counter("again");
    same->onStep = [&](Counter*) {
        same->onStep = nullptr;
        manager->removeAllActionsFromTarget(node.get());
        manager->addAction(again.get(), node.get(), false);
    };
    manager->update(0.1);
    EXPECT_EQ(take(), (Lines{"a:step", "same:step", "fresh:step"}));
    EXPECT_EQ(manager->numberOfRunningActionsInTarget(node.get()), 1u);
    EXPECT_EQ(node->retainCount(), 2u);
    manager->update(0.1);
    EXPECT_EQ(take(), (Lines{"again:step", "fresh:step"}));
}

TEST_F(ActionManagerTest, RemovingFromOutsideTheUpdateDeletesTheEntryAtOnce) {
    Ref<Counter> a = counter("a"), b = counter("b");
    manager->addAction(a.get(), node.get(), false);
    manager->removeAction(a.get());
    EXPECT_EQ(node->retainCount(), 1u);
    EXPECT_EQ(a->stops, 0); // removals do not stop
    EXPECT_EQ(a->retainCount(), 1u);

    manager->addAction(a.get(), node.get(), true); // a removed action may come back
    manager->addAction(b.get(), node.get(), false);
    a->setTag(7);
    EXPECT_EQ(manager->getActionByTag(7, node.get()), a.get());
    EXPECT_EQ(manager->getActionByTag(-1, node.get()), b.get());
    EXPECT_EQ(manager->getActionByTag(7, other.get()), nullptr);
    manager->removeActionByTag(7, other.get());
    b->startWithTarget(other.get()); // b's original target is no longer the node
    manager->removeActionByTag(-1, node.get());
    EXPECT_EQ(manager->numberOfRunningActionsInTarget(node.get()), 2u);
    manager->removeAction(b.get()); // looked up under its original target: not found
    EXPECT_EQ(manager->numberOfRunningActionsInTarget(node.get()), 2u);
    manager->removeActionByTag(7, node.get());
    manager->removeAllActionsFromTarget(node.get());
    EXPECT_EQ(node->retainCount(), 1u);
    EXPECT_EQ(a->retainCount(), 1u);
    EXPECT_EQ(b->retainCount(), 1u);
}

TEST_F(ActionManagerTest, PausedEntriesAreNotSteppedAndKeepTheirFlag) {
    Ref<Counter> a = counter("a"), b = counter("b"), c = counter("c");
    manager->addAction(a.get(), node.get(), true);
    manager->addAction(b.get(), node.get(), false); // the entry stays paused
    manager->addAction(c.get(), other.get(), false);
    manager->addAction(counter("d").get(), other.get(), true); // the entry stays running
    manager->update(0.1);
    EXPECT_EQ(take(), (Lines{"c:step", "d:step"}));
    manager->resumeTarget(node.get());
    manager->pauseTarget(other.get());
    manager->update(0.1);
    EXPECT_EQ(take(), (Lines{"a:step", "b:step"}));

    Ref<CCNode> third = make<CCNode>();
    manager->addAction(counter("e").get(), third.get(), false);
    platform::ObjectSet paused = manager->pauseAllRunningActions();
    EXPECT_EQ(paused.count(), 2u);
    EXPECT_FALSE(paused.contains(other.get()));
    manager->resumeTargets(paused);
    manager->update(0.1);
    EXPECT_EQ(take(), (Lines{"a:step", "b:step", "e:step"})); // `other` was paused before

    manager->pauseTarget(make<CCNode>().get()); // no entry: nothing remembered
    EXPECT_EQ(manager->numberOfRunningActionsInTarget(nullptr), 0u);
    EXPECT_EQ(manager->getActionByTag(-1, nullptr), nullptr);
}

TEST_F(ActionManagerTest, RefusesNilAndDoubleAdds) {
    Ref<Counter> a = counter("a");
    EXPECT_THROW(manager->addAction(nullptr, node.get(), false), platform::Exception);
    EXPECT_THROW(manager->addAction(a.get(), nullptr, false), platform::Exception);
    manager->addAction(a.get(), node.get(), false);
    try {
        manager->addAction(a.get(), other.get(), false);
        FAIL() << "an action already in a list was added again";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), platform::NSInternalInconsistencyException);
    }
    EXPECT_THROW(manager->addAction(a.get(), node.get(), false), platform::Exception);
    EXPECT_EQ(manager->numberOfRunningActionsInTarget(node.get()), 1u);
    EXPECT_EQ(manager->numberOfRunningActionsInTarget(other.get()), 0u);
    EXPECT_EQ(other->retainCount(), 1u);
    manager->removeAction(nullptr);

    // Another manager may run it (it has its own list).
    Ref<CCActionManager> second = make<CCActionManager>();
    second->addAction(a.get(), other.get(), false);
    EXPECT_EQ(second->numberOfRunningActionsInTarget(other.get()), 1u);
}

TEST_F(ActionManagerTest, ADoneActionWhoseStopRemovesItIsNotLeaked) {
    Counter* raw = nullptr;
    {
        Ref<Counter> a = counter("a", 1);
        raw = a.get();
        a->onStop = [&](Counter*) { manager->removeAllActionsFromTarget(node.get()); };
        manager->addAction(a.get(), node.get(), false);
        manager->addAction(counter("b").get(), node.get(), false);
    }
    (void)raw;
    manager->update(0.1);
    EXPECT_EQ(take(), (Lines{"a:step", "a:stop", "b:dead", "a:dead"}));
    EXPECT_EQ(node->retainCount(), 1u);
}

TEST_F(ActionManagerTest, TheManagerReleasesEverythingWhenItGoes) {
    manager->addAction(counter("a").get(), node.get(), false);
    manager->addAction(counter("b").get(), other.get(), true);
    EXPECT_EQ(manager->description(), platform::format("<CCActionManager = %p>", manager.get()));
    manager = nullptr;
    EXPECT_EQ(take(), (Lines{"a:dead", "b:dead"}));
    EXPECT_EQ(node->retainCount(), 1u);
    EXPECT_EQ(other->retainCount(), 1u);
}

TEST_F(ActionManagerTest, ManyTargetsKeepSeparateEntries) {
    std::vector<Ref<CCNode>> nodes;
    for (int i = 0; i < 500; ++i) {
        nodes.push_back(make<CCNode>());
        Ref<Counter> c = counter("n", 1 + i % 3);
        c->setTag(i);
        manager->addAction(c.get(), nodes.back().get(), false);
    }
    for (int i = 0; i < 500; ++i)
        ASSERT_EQ(manager->getActionByTag(i, nodes[i].get())->tag(), i);
    for (int frame = 0; frame < 3; ++frame)
        manager->update(0.1);
    for (auto& n : nodes)
        EXPECT_EQ(n->retainCount(), 1u);
}

TEST_F(ActionManagerTest, RunsBeforeEveryOtherUpdateWhenScheduledAtSystemPriority) {
    struct Early : Object {
        std::vector<std::string>* log;
        void update(double) { log->push_back("early:update"); }
    };
    Ref<CCScheduler> scheduler = make<CCScheduler>();
    Ref<Early> early = make<Early>();
    early->log = &log;
    scheduler->scheduleUpdateForTarget(early.get(), SystemPriority + 1, false);
    scheduler->scheduleUpdateForTarget(manager.get(), SystemPriority, false);
    Ref<Counter> a = counter("a");
    manager->addAction(a.get(), node.get(), false);
    scheduler->update(0.25);
    EXPECT_EQ(take(), (Lines{"a:step", "early:update"}));
    EXPECT_EQ(a->stepped, 0.25);
    scheduler = nullptr;
    EXPECT_EQ(manager->retainCount(), 1u);
}

TEST(ActionTest, FactoriesAndCopiesBuildTheReceivingClass) {
    Ref<Counter> c = Counter::action();
    c->setTag(5);
    c->lifetime = 3;
    c->startWithTarget(nullptr);
    Ref<Counter> copy = platform::copyOf(c.get());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->className(), "Counter");
    EXPECT_EQ(copy->tag(), 5);
    EXPECT_EQ(copy->lifetime, 1000000); // the base copy knows nothing of the subclass's fields
    EXPECT_EQ(c->description(), platform::format("<Counter = %p | Tag = 5>", c.get()));
    EXPECT_EQ(CCAction::action()->tag(), -1);
    EXPECT_EQ(CCFiniteTimeAction::action()->className(), "CCFiniteTimeAction");
    EXPECT_EQ(CCFiniteTimeAction::action()->reverse(), nullptr);

    Ref<Bare> bare = make<Bare>();
    EXPECT_THROW(bare->copy(), platform::Exception); // would have built a plain CCAction
}

TEST_F(ActionManagerTest, ATargetReleasedAtTheEndOfItsLoopMayClearTheNextTargetFromItsDestructor) {
    // The first target's only action finishes, so its entry goes when its loop ends and the
    // manager's reference is the last one. Its destructor removes the next target's actions,
    // whose entry the walk is about to visit: the release must wait until the walk is done.
    struct Leaving : CCNode {
        Leaving(CCActionManager* m, CCNode* next) : manager(m), next(next) {}
        ~Leaving() override { manager->removeAllActionsFromTarget(next); }
        CCActionManager* manager;
        CCNode* next;
    };
    {
        Ref<Leaving> first = make<Leaving>(manager.get(), other.get());
        manager->addAction(counter("a", 1).get(), first.get(), false);
    }
    manager->addAction(counter("b").get(), other.get(), false);
    take();
    manager->update(0.1);
    EXPECT_EQ(take(), (Lines{"a:step", "a:stop", "a:dead", "b:step", "b:dead"}));
    EXPECT_EQ(manager->numberOfRunningActionsInTarget(other.get()), 0u);
    EXPECT_EQ(other->retainCount(), 1u);
}

TEST_F(ActionManagerTest, AnActionThatThrowsLeavesTheBookkeepingSettled) {
    Ref<Counter> a = counter("a");
    manager->addAction(a.get(), node.get(), false);
    manager->addAction(counter("o").get(), other.get(), false);
    a->onStep = [&](Counter*) {
        manager->removeAllActionsFromTarget(node.get());
        throw platform::Exception(platform::NSInternalInconsistencyException, "game fault");
    };
    EXPECT_THROW(manager->update(0.1), platform::Exception);
    // The removal took effect: the target and the action were let go.
    EXPECT_EQ(node->retainCount(), 1u);
    EXPECT_EQ(a->retainCount(), 1u);
    manager->removeAllActionsFromTarget(other.get());
    take();
    manager->update(0.1);
    EXPECT_TRUE(take().empty());
}
