#include "actions/CCActionInstant.h"
#include "actions/CCActionInterval.h"
#include "actions/CCActionManager.h"
#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCScene.h"

#include "platform/Format.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <typeinfo>
#include <vector>

using platform::make;
using platform::Ref;

namespace {

using Lines = std::vector<std::string>;

// Logs "name start", "name <t>" and "name stop"; its reverse is named "name'".
class Probe : public CCActionFactory<Probe, CCActionInterval> {
public:
    static Ref<Probe> make(Lines* log, std::string name, double duration) {
        Ref<Probe> probe = createWith(&Probe::initWithDuration, duration);
        probe->log = log;
        probe->name = std::move(name);
        return probe;
    }
    void startWithTarget(CCNode* target) override {
        CCActionInterval::startWithTarget(target);
        log->push_back(name + " start");
    }
    void update(double t) override {
        log->push_back(platform::format("%s %.10g", name, t));
        values.push_back(t);
    }
    void stop() override {
        log->push_back(name + " stop");
        CCActionInterval::stop();
    }
    Ref<CCFiniteTimeAction> reverse() const override { return make(log, name + "'", _duration); }
    Ref<platform::Object> copyWithZone(platform::Zone* zone) const override {
        Ref<platform::Object> copy = CCActionInterval::copyWithZone(zone);
        static_cast<Probe*>(copy.get())->log = log;
        static_cast<Probe*>(copy.get())->name = name + "+";
        return copy;
    }

    Lines* log = nullptr;
    std::string name;
    std::vector<double> values;
};

class ActionIntervalTest : public fltest::EngineTest {
protected:
    // Kept alive by the test.
    Probe* probe(const std::string& name, double duration) {
        return kept.emplace_back(Probe::make(&log, name, duration)).get();
    }
    Lines take() { return std::exchange(log, {}); }
    // Starts the action on the node and steps it with each dt in turn.
    void run(Ref<CCAction> action, std::initializer_list<double> dts) {
        action->startWithTarget(node.get());
        for (double dt : dts)
            action->step(dt);
    }

    Lines log;
    std::vector<Ref<Probe>> kept;
    Ref<CCNode> node = CCNode::node();
};

} // namespace

// ---- the interval step ---------------------------------------------------------------------

TEST_F(ActionIntervalTest, FirstStepAppliesZeroThenTimeAddsUpAndClampsAtOne) {
    auto a = probe("a", 2);
    run(a, {5, 0.5, 1});
    EXPECT_EQ(take(), (Lines{"a start", "a 0", "a 0.25", "a 0.75"}));
    EXPECT_FALSE(a->isDone());
    a->step(3);
    EXPECT_EQ(a->values.back(), 1.0);
    EXPECT_TRUE(a->isDone());
    EXPECT_EQ(a->elapsed(), 4.5); // not clamped

    // A restart begins again from t = 0.
    run(a, {0.5});
    EXPECT_EQ(take(), (Lines{"a 1", "a start", "a 0"}));
    EXPECT_EQ(a->elapsed(), 0);
}

TEST_F(ActionIntervalTest, ZeroDurationBecomesEpsilonAndTakesTwoSteps) {
    auto a = probe("a", 0);
    EXPECT_EQ(a->duration(), 1.1920928955078125e-7);
    run(a, {0});
    EXPECT_FALSE(a->isDone());
    a->step(1.0 / 60);
    EXPECT_TRUE(a->isDone());
    EXPECT_EQ(a->values, (std::vector<double>{0, 1}));
}

TEST_F(ActionIntervalTest, PlainInitIsRefusedAndCopiesKeepClassAndDurationButNotTagOrTarget) {
    EXPECT_EQ(CCActionInterval::action(), nullptr);
    EXPECT_EQ(CCDelayTime::action(), nullptr);
    EXPECT_EQ(CCSequence::action(), nullptr);

    auto delay = CCDelayTime::actionWithDuration(1.5);
    delay->setTag(7);
    delay->startWithTarget(node.get());
    auto copy = platform::copyOf(delay.get());
    EXPECT_EQ(fltest::dynamicType(copy), typeid(CCDelayTime));
    EXPECT_EQ(copy->duration(), 1.5);
    EXPECT_EQ(copy->tag(), -1);
    EXPECT_EQ(copy->target(), nullptr);
    EXPECT_EQ(CCActionInterval::actionWithDuration(1)->reverse(), nullptr);
    auto back = delay->reverse();
    EXPECT_EQ(fltest::dynamicType(back), typeid(CCDelayTime));
    EXPECT_EQ(back->duration(), 1.5);
}

// ---- sequences -----------------------------------------------------------------------------

TEST_F(ActionIntervalTest, SequenceFinishesTheFirstActionBeforeTheSecondTakesOver) {
    auto seq = CCSequence::actionOne(probe("a", 1), probe("b", 3));
    EXPECT_EQ(seq->duration(), 4);
    seq->startWithTarget(node.get());
    EXPECT_TRUE(take().empty()); // inner actions start when reached
    seq->update(0.5);
    EXPECT_EQ(take(), (Lines{"a start", "a 1", "a stop", "b start", "b 0.3333333333"}));

    run(seq, {0, 0.5, 1, 3});
    EXPECT_EQ(take(),
              (Lines{"a start", "a 0", "a 0.5", "a 1", "a stop", "b start", "b 0.1666666667", "b 1"}));
    EXPECT_TRUE(seq->isDone());
    seq->stop();
    EXPECT_EQ(take(), (Lines{"b stop"}));
}

TEST_F(ActionIntervalTest, SequencesOfSequencesHandEachInnerActionItsOwnProgress) {
    auto seq = CCSequence::actions(probe("a", 1), probe("b", 1), probe("c", 2));
    EXPECT_EQ(seq->duration(), 4);
    run(seq, {0, 1, 1, 1, 1});
    EXPECT_EQ(take(), (Lines{"a start", "a 0", "a 1", "a stop", "b start", "b 0", "b 1", "b stop", "c start",
                             "c 0", "c 0.5", "c 1"}));
    EXPECT_TRUE(seq->isDone());
}

TEST_F(ActionIntervalTest, ZeroLengthPartsAreRunThroughAtTheirSplitPoint) {
    int calls = 0;
    auto seq = CCSequence::actions(CCCallBlock::actionWithBlock([&] { ++calls; }).get(), probe("b", 1));
    run(seq, {0});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(take(), (Lines{"b start", "b 0"}));
    seq->step(0.5);
    seq->step(0.5);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(take(), (Lines{"b 0.5", "b 1"}));

    // An instant action at the end runs once, however often the sequence is updated there.
    auto tail = CCSequence::actions(probe("a", 1), CCCallBlock::actionWithBlock([&] { ++calls; }).get());
    run(tail, {0, 2});
    tail->update(1);
    EXPECT_EQ(calls, 2);

    // Two zero-length intervals: the first on the first step, the second on the next.
    auto zeros = CCSequence::actions(probe("x", 0), probe("y", 0));
    run(zeros, {0, 0.01});
    EXPECT_TRUE(zeros->isDone());
    take();
    EXPECT_EQ(zeros->duration(), 2 * 1.1920928955078125e-7);
}

TEST_F(ActionIntervalTest, ListFactoriesFoldLeftAndEndAtTheFirstNull) {
    auto a = probe("a", 1);
    EXPECT_EQ(CCSequence::actions(a).get(), a);
    EXPECT_EQ(CCSpawn::actions(a).get(), a);
    EXPECT_EQ(CCSequence::actions(nullptr, a), nullptr);
    EXPECT_EQ(CCSequence::actions(a, nullptr, probe("b", 5))->duration(), 1);
    EXPECT_EQ(CCSequence::actionWithArray({}), nullptr);
    EXPECT_EQ(CCSpawn::actionWithArray({}), nullptr);
    EXPECT_EQ(CCSequence::actionOne(a, nullptr), nullptr);
    EXPECT_EQ(CCSpawn::actionOne(nullptr, a), nullptr);

    auto seq = CCSequence::actionWithArray({probe("a", 1), probe("b", 2), probe("c", 3)});
    EXPECT_EQ(seq->duration(), 6);
    auto spawn = CCSpawn::actionWithArray({probe("a", 1), probe("b", 3), probe("c", 2)});
    EXPECT_EQ(spawn->duration(), 3);
}

TEST_F(ActionIntervalTest, SequenceRunBackwardsUndoesTheSecondActionBeforeReturningToTheFirst) {
    auto back = CCReverseTime::actionWithAction(CCSequence::actions(probe("a", 1), probe("b", 1)).get());
    run(back, {0, 1, 0.5, 0.5});
    EXPECT_EQ(take(), (Lines{"a start", "a 1", "a stop", "b start", "b 1", "b 0", "b 0", "b stop", "a start",
                             "a 0.5", "a 0"}));
    back->stop();
    EXPECT_EQ(take(), (Lines{"a stop"}));
}

TEST_F(ActionIntervalTest, SequenceReverseAndCopy) {
    auto seq = CCSequence::actions(probe("a", 1), probe("b", 2));
    auto reversed = seq->reverse();
    EXPECT_EQ(reversed->duration(), 3);
    run(reversed, {0, 2, 1});
    EXPECT_EQ(take(), (Lines{"b' start", "b' 0", "b' 1", "b' stop", "a' start", "a' 0", "a' 1"}));

    seq->setTag(3);
    seq->startWithTarget(node.get());
    auto copy = platform::copyOf(seq.get());
    EXPECT_EQ(copy->tag(), -1);
    EXPECT_EQ(copy->target(), nullptr);
    take();
    run(copy, {0, 3});
    EXPECT_EQ(take(), (Lines{"a+ start", "a+ 0", "a+ 1", "a+ stop", "b+ start", "b+ 1"}));

    // No reverse inside, no reverse outside.
    EXPECT_EQ(CCSequence::actions(CCActionInterval::actionWithDuration(1).get(), probe("a", 1))->reverse(),
              nullptr);
}

// ---- repeat --------------------------------------------------------------------------------

TEST_F(ActionIntervalTest, RepeatRestartsItsInnerActionEachCycleWithoutJumpingBack) {
    auto rep = CCRepeat::actionWithAction(probe("a", 1), 3);
    EXPECT_EQ(rep->duration(), 3);
    run(rep, {0, 0.5, 0.5, 0.5, 0.5, 0.5});
    EXPECT_EQ(take(), (Lines{"a start", "a 0", "a 0.5", "a 1", "a 1", "a stop", "a start", "a 0.5", "a 1",
                             "a 1", "a stop", "a start", "a 0.5"}));
    EXPECT_FALSE(rep->isDone());
    rep->step(0.5);
    EXPECT_EQ(take(), (Lines{"a 1", "a stop"}));
    EXPECT_TRUE(rep->isDone());

    // A step past several cycle ends runs each of them through.
    run(rep, {0, 2.25});
    EXPECT_EQ(take(),
              (Lines{"a start", "a 0", "a 1", "a stop", "a start", "a 1", "a stop", "a start", "a 0.25"}));
}

TEST_F(ActionIntervalTest, RepeatRunsTheLastCycleOnceWhenSummedCycleEndsFallShort) {
    // Ten cycles of 0.1 s sum to just under 1: the last one must not be restarted and run again.
    auto a = probe("a", 0.1);
    auto rep = CCRepeat::actionWithAction(a, 10);
    run(rep, {0, 5});
    int starts = 0, stops = 0, ones = 0;
    for (const auto& line : take()) {
        starts += line == "a start";
        stops += line == "a stop";
        ones += line == "a 1";
    }
    EXPECT_EQ(starts, 10);
    EXPECT_EQ(stops, 10);
    EXPECT_EQ(ones, 10);
    EXPECT_TRUE(rep->isDone());
}

TEST_F(ActionIntervalTest, RepeatOfAnInstantActionRunsItTheGivenNumberOfTimes) {
    int calls = 0;
    auto rep = CCRepeat::actionWithAction(CCCallBlock::actionWithBlock([&] { ++calls; }).get(), 3);
    run(rep, {0});
    EXPECT_EQ(calls, 0);
    rep->step(0.01);
    EXPECT_EQ(calls, 3);
    EXPECT_TRUE(rep->isDone());

    auto none = CCRepeat::actionWithAction(CCCallBlock::actionWithBlock([&] { ++calls; }).get(), 0);
    run(none, {0, 1});
    EXPECT_EQ(calls, 3);
    EXPECT_TRUE(none->isDone());

    auto noCycles = CCRepeat::actionWithAction(probe("a", 1), 0);
    run(noCycles, {0});
    EXPECT_TRUE(noCycles->isDone());
    EXPECT_EQ(take(), (Lines{"a start"}));
    EXPECT_EQ(CCRepeat::actionWithAction(nullptr, 2), nullptr);
}

TEST_F(ActionIntervalTest, RepeatReverseAndCopyCarryTheCount) {
    auto rep = CCRepeat::actionWithAction(probe("a", 0.5), 4);
    auto reversed = rep->reverse();
    EXPECT_EQ(reversed->duration(), 2);
    EXPECT_EQ(fltest::dynamicType(reversed), typeid(CCRepeat));
    run(reversed, {0});
    EXPECT_EQ(take(), (Lines{"a' start", "a' 0"}));

    auto copy = platform::copyOf(rep.get());
    EXPECT_EQ(copy->times(), 4u);
    EXPECT_NE(copy->innerAction(), rep->innerAction());
    run(copy, {0, 2});
    EXPECT_TRUE(copy->isDone());
    EXPECT_EQ(take().front(), "a+ start");
}

// ---- repeat forever and speed --------------------------------------------------------------

TEST_F(ActionIntervalTest, RepeatForeverCarriesTheOvershootIntoTheNextCycle) {
    auto forever = CCRepeatForever::actionWithAction(probe("a", 1));
    run(forever, {0.4, 0.4, 0.4, 0.4, 0.4});
    EXPECT_EQ(take(), (Lines{"a start", "a 0", "a 0.4", "a 0.8", "a 1", "a start", "a 0", "a 0.2", "a 0.6"}));
    EXPECT_FALSE(forever->isDone());
    forever->stop();
    EXPECT_TRUE(take().empty()); // the inner action is left alone
    EXPECT_EQ(forever->target(), nullptr);

    EXPECT_EQ(CCRepeatForever::actionWithAction(nullptr), nullptr);
    auto reversed = forever->reverse();
    run(reversed, {0});
    EXPECT_EQ(take(), (Lines{"a' start", "a' 0"}));
    auto copy = platform::copyOf(forever.get());
    EXPECT_NE(copy->innerAction(), forever->innerAction());
    EXPECT_EQ(copy->innerAction()->duration(), 1);
    EXPECT_EQ(CCRepeatForever::actionWithAction(CCActionInterval::actionWithDuration(1).get())->reverse(),
              nullptr);
}

TEST_F(ActionIntervalTest, SpeedScalesEachStepOfItsInnerAction) {
    auto a = probe("a", 1);
    auto fast = CCSpeed::actionWithAction(a, 2);
    run(fast, {0.1, 0.1, 0.1, 0.1, 0.1});
    EXPECT_FALSE(fast->isDone());
    fast->step(0.1);
    EXPECT_TRUE(fast->isDone());
    ASSERT_EQ(a->values.size(), 6u);
    EXPECT_NEAR(a->values[2], 0.4, 1e-12);

    fast->setSpeed(0.5);
    run(fast, {0, 0.5});
    EXPECT_EQ(a->values.back(), 0.25);
    take();
    fast->stop();
    EXPECT_EQ(take(), (Lines{"a stop"}));

    auto reversed = fast->reverse();
    EXPECT_EQ(reversed->speed(), 0.5);
    run(reversed, {0});
    EXPECT_EQ(take(), (Lines{"a' start", "a' 0"}));
    auto copy = platform::copyOf(fast.get());
    EXPECT_EQ(copy->speed(), 0.5);
    EXPECT_NE(copy->innerAction(), a);

    // Wrappers whose inner action was taken away do nothing.
    fast->setInnerAction(nullptr);
    run(fast, {1});
    EXPECT_TRUE(fast->isDone());
    EXPECT_EQ(fast->reverse(), nullptr);
    auto forever = CCRepeatForever::actionWithAction(probe("f", 1));
    forever->setInnerAction(nullptr);
    run(forever, {1});
    auto rep = CCRepeat::actionWithAction(probe("r", 1), 2);
    rep->setInnerAction(nullptr);
    run(rep, {0, 5});
    EXPECT_EQ(platform::copyOf(rep.get()), nullptr);
}

// ---- spawn, reverse time, targeted ---------------------------------------------------------

TEST_F(ActionIntervalTest, SpawnPadsTheShorterActionSoItRunsItsOwnTimeAndThenIdles) {
    auto spawn = CCSpawn::actionOne(probe("a", 2), probe("b", 1));
    EXPECT_EQ(spawn->duration(), 2);
    run(spawn, {0, 0.5, 0.5, 0.5, 0.5});
    EXPECT_EQ(take(), (Lines{"a start", "a 0", "b start", "b 0", "a 0.25", "b 0.5", "a 0.5", "b 1", "b stop",
                             "a 0.75", "a 1"}));
    spawn->stop();
    EXPECT_EQ(take(), (Lines{"a stop"}));

    auto other = CCSpawn::actionOne(probe("a", 1), probe("b", 2));
    run(other, {0, 1});
    EXPECT_EQ(take(), (Lines{"b start", "a start", "a 0", "b 0", "a 1", "a stop", "b 0.5"}));

    // The reverse idles first, then runs the shorter action backwards.
    auto reversed = spawn->reverse();
    EXPECT_EQ(reversed->duration(), 2);
    run(reversed, {0, 0.5, 0.5});
    EXPECT_EQ(take(), (Lines{"a' start", "a' 0", "a' 0.25", "a' 0.5", "b' start", "b' 0"}));

    auto copy = platform::copyOf(spawn.get());
    EXPECT_EQ(copy->duration(), 2);
    run(copy, {0});
    EXPECT_EQ(take(), (Lines{"a+ start", "a+ 0", "b+ start", "b+ 0"}));
}

// A million actions nest a million pairs. Run in a child so that a stack overflow fails the test.
// The sanitizer build, ten times slower, walks a tenth as many: still far deeper than its stack.
TEST_F(ActionIntervalTest, MillionActionSequencesAndSpawnsRunCopyReverseAndFreeWithoutDeepCalls) {
    auto body = [&] {
#if defined(__SANITIZE_ADDRESS__)
        constexpr std::size_t kCount = 100'000;
#else
        constexpr std::size_t kCount = 1'000'000;
#endif
        std::vector<Ref<CCFiniteTimeAction>> actions{Ref<CCFiniteTimeAction>(probe("first", 1))};
        for (std::size_t i = 2; i < kCount; ++i)
            actions.push_back(Ref<CCFiniteTimeAction>(CCDelayTime::actionWithDuration(1)));
        actions.push_back(Ref<CCFiniteTimeAction>(probe("last", 1)));

        auto sequence = CCSequence::actionWithArray(actions);
        EXPECT_EQ(sequence->duration(), double(kCount));
        run(sequence, {0, double(kCount)});
        sequence->stop();
        EXPECT_EQ(take(), (Lines{"first start", "first 0", "first 1", "first stop", "last start", "last 1",
                                 "last stop"}));
        auto reversed = sequence->reverse();
        run(reversed, {0, double(kCount)});
        reversed->stop();
        EXPECT_EQ(take(), (Lines{"last' start", "last' 0", "last' 1", "last' stop", "first' start",
                                 "first' 1", "first' stop"}));
        auto copy = platform::copyOf(sequence.get());
        EXPECT_EQ(copy->duration(), double(kCount));

        auto spawn = CCSpawn::actionWithArray(actions);
        run(spawn, {0, 1});
        spawn->stop();
        EXPECT_EQ(take(), (Lines{"first start", "last start", "first 0", "last 0", "first 1", "last 1",
                                 "first stop", "last stop"}));
        auto spawnBack = spawn->reverse();
        auto spawnCopy = platform::copyOf(spawn.get());
        EXPECT_EQ(spawnBack->duration(), 1);
        EXPECT_EQ(spawnCopy->duration(), 1);
        actions.clear();
        sequence = nullptr, reversed = nullptr, copy = nullptr, spawn = nullptr;
        spawnBack = nullptr, spawnCopy = nullptr;
        std::_Exit(HasFailure() ? 1 : 0);
    };
    EXPECT_EXIT(body(), ::testing::ExitedWithCode(0), "");
}

// A chain as deep as runs with nested calls, and the same chain one level deeper, which the loop
// runs, make the same calls with the same times: stepped, stopped, copied and reversed.
TEST_F(ActionIntervalTest, ChainsJustShortOfAndPastTheLoopDepthMakeTheSameCalls) {
    // Sequences with a spawn at every third level, the first probe deepest.
    auto chain = [&](std::uint32_t depth) {
        Ref<CCFiniteTimeAction> action = probe("p0", 1);
        for (std::uint32_t i = 1; i <= depth; ++i) {
            Probe* next = probe(platform::format("p%u", i), i % 3 == 0 ? 0.5 : 0.25);
            action = i % 3 == 0 ? Ref<CCFiniteTimeAction>(CCSpawn::actionOne(action.get(), next))
                                : Ref<CCFiniteTimeAction>(CCSequence::actionOne(action.get(), next));
        }
        return action;
    };
    auto calls = [&](const Ref<CCFiniteTimeAction>& action) {
        for (const Ref<CCFiniteTimeAction>& made :
             {action, platform::copyOf(action.get()), action->reverse()}) {
            run(made, {0, 0.3, 0.3});
            made->stop();
            run(made, {0, 2, 100});
            made->stop();
        }
        return take();
    };
    const Lines direct = calls(chain(detail::kDirectChainDepth));
    EXPECT_GT(direct.size(), 4 * detail::kDirectChainDepth);
    // One more level: a spawn beside a delay as long, which changes no time.
    Ref<CCFiniteTimeAction> inner = chain(detail::kDirectChainDepth);
    auto idle = CCDelayTime::actionWithDuration(inner->duration());
    EXPECT_EQ(calls(Ref<CCFiniteTimeAction>(CCSpawn::actionOne(inner.get(), idle.get()))), direct);
}

TEST_F(ActionIntervalTest, ReverseTimeAppliesTheOtherActionsOppositeProgress) {
    auto back = CCReverseTime::actionWithAction(probe("a", 2));
    EXPECT_EQ(back->duration(), 2);
    run(back, {0, 0.5});
    EXPECT_EQ(take(), (Lines{"a start", "a 1", "a 0.75"}));
    back->stop();
    EXPECT_EQ(take(), (Lines{"a stop"}));
    EXPECT_EQ(back->target(), nullptr);

    auto reversed = back->reverse();
    EXPECT_EQ(fltest::dynamicType(reversed), typeid(Probe));
    EXPECT_NE(reversed.get(), back->otherAction());
    auto copy = platform::copyOf(back.get());
    EXPECT_NE(copy->otherAction(), back->otherAction());
    EXPECT_EQ(CCReverseTime::actionWithAction(nullptr), nullptr);
}

TEST_F(ActionIntervalTest, TargetedActionRunsOnItsForcedTargetAndKeepsItsOwnAfterStop) {
    Ref<CCNode> forced = CCNode::node();
    const auto before = forced->retainCount();
    auto a = probe("a", 1);
    auto targeted = CCTargetedAction::actionWithTarget(forced, a);
    EXPECT_EQ(forced->retainCount(), before + 1);
    run(targeted, {0, 0.5});
    EXPECT_EQ(a->target(), forced.get());
    EXPECT_EQ(targeted->target(), node.get());
    EXPECT_EQ(take(), (Lines{"a start", "a 0", "a 0.5"}));
    targeted->stop();
    EXPECT_EQ(take(), (Lines{"a stop"}));
    EXPECT_EQ(targeted->target(), node.get());

    auto copy = platform::copyOf(targeted.get());
    EXPECT_EQ(copy->forcedTarget(), forced.get());
    EXPECT_NE(copy->action(), a);
    EXPECT_EQ(copy->target(), nullptr);
}

// ---- through the director ------------------------------------------------------------------

using ActionFramesTest = fltest::EngineGLTest;

TEST_F(ActionFramesTest, ComposedActionsRunThroughTheDirectorsFrames) {
    Ref<CCNode> node = CCNode::node();
    auto scene = CCScene::node();
    scene->addChild(node.get());
    director()->runWithScene(scene.get());
    director()->startAnimation();

    int done = 0, ticks = 0;
    CCNode* seen = nullptr;
    auto once =
        CCSequence::actions(CCDelayTime::actionWithDuration(0.1), CCPlace::actionWithPosition({10, 20}),
                            CCCallBlockN::actionWithBlock([&](CCNode* n) {
                                seen = n;
                                ++done;
                            }));
    auto cycle = CCSequence::actions(CCDelayTime::actionWithDuration(0.25),
                                     CCCallBlock::actionWithBlock([&] { ++ticks; }));
    node->runAction(once);
    node->runAction(CCRepeatForever::actionWithAction(static_cast<CCActionInterval*>(cycle.get())).get());
    EXPECT_EQ(node->numberOfRunningActions(), 2u);

    advanceRefreshes(4); // the first frame after the start has no time
    EXPECT_EQ(node->position(), CGPointZero);
    advanceRefreshes(6);
    EXPECT_EQ(node->position(), CGPointMake(10, 20));
    EXPECT_EQ(done, 1);
    EXPECT_EQ(seen, node.get());
    EXPECT_EQ(node->numberOfRunningActions(), 1u);

    advanceRefreshes(60); // about 1.15 s of steps so far
    EXPECT_EQ(done, 1);
    EXPECT_EQ(ticks, 4);
    EXPECT_EQ(node->numberOfRunningActions(), 1u);
}
