#include "actions/CCActionTransform.h"

#include "actions/CCActionInterval.h"
#include "actions/CCActionManager.h"
#include "core/CCDirector.h"
#include "core/CCScheduler.h"
#include "tests/actions/ActionTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using platform::Ref;

namespace {

// A running node whose actions are stepped as the frame loop steps them.
class TransformActionTest : public fltest::RunningNodeTest<CCNode> {};

TEST_F(TransformActionTest, RotateToTakesTheShorterWayRound) {
    node->setRotationX(350);
    run(CCRotateTo::actionWithDuration(1, 10, 0));
    tick(0.5);
    EXPECT_EQ(node->rotationX(), 360); // the difference -340 becomes +20
    tick(0.5);
    EXPECT_EQ(node->rotationX(), 370);

    // From -350 the difference is exactly 360, which wraps to no turn at all.
    node->setRotationX(-350);
    run(CCRotateTo::actionWithDuration(1, 10, 0));
    tick(1);
    EXPECT_EQ(node->rotationX(), -350);

    // Whole turns are dropped from the start.
    node->setRotationX(720);
    run(CCRotateTo::actionWithDuration(1, 90, 0));
    tick(0.25);
    EXPECT_EQ(node->rotationX(), 22.5f);
    tick(0.75);
    EXPECT_EQ(node->rotationX(), 90);
}

TEST_F(TransformActionTest, RotateFormsWithOneAngleTurnBothAxes) {
    node->setRotationX(10);
    node->setRotationY(-20);
    run(CCRotateTo::actionWithDuration(1, 40));
    tick(1);
    EXPECT_EQ(node->rotationX(), 40);
    EXPECT_EQ(node->rotationY(), 40);

    run(CCRotateBy::actionWithDuration(1, 30));
    tick(1);
    EXPECT_EQ(node->rotationX(), 70);
    EXPECT_EQ(node->rotationY(), 70);

    run(CCRotateTo::actionWithDuration(2, 0, 90));
    tick(1);
    EXPECT_EQ(node->rotationX(), 35);
    EXPECT_EQ(node->rotationY(), 80);
}

TEST_F(TransformActionTest, RotateByAddsToTheCurrentAngleAndReversesBack) {
    node->setRotation(30);
    auto by = CCRotateBy::actionWithDuration(2, 90, -45);
    run(by);
    tick(0.5);
    EXPECT_EQ(node->rotationX(), 52.5f);
    EXPECT_EQ(node->rotationY(), 18.75f);
    tick(1.5);
    EXPECT_EQ(node->rotationX(), 120);
    EXPECT_EQ(node->rotationY(), -15);

    Ref<CCFiniteTimeAction> back = by->reverse();
    ASSERT_NE(dynamic_cast<CCRotateBy*>(back.get()), nullptr);
    EXPECT_EQ(back->duration(), 2);
    run(back);
    tick(2);
    EXPECT_EQ(node->rotationX(), 30);
    EXPECT_EQ(node->rotationY(), 30);

    // Absolute rotations have no reverse.
    EXPECT_EQ(CCRotateTo::actionWithDuration(1, 5)->reverse(), nullptr);
}

TEST_F(TransformActionTest, MoveToRecomputesItsOffsetAtEveryStart) {
    node->setPosition(CGPointMake(20, 10));
    auto to = CCMoveTo::actionWithDuration(1, CGPointMake(100, 50));
    run(to);
    tick(0.5);
    EXPECT_EQ(node->position(), CGPointMake(60, 30));
    tick(0.5);
    EXPECT_EQ(node->position(), CGPointMake(100, 50));

    // Started again from elsewhere (as a repeat does), it still ends at the same place.
    node->setPosition(CGPointMake(-100, 0));
    run(to);
    tick(0.25);
    EXPECT_EQ(node->position(), CGPointMake(-50, 12.5));
    tick(0.75);
    EXPECT_EQ(node->position(), CGPointMake(100, 50));

    auto copy = platform::copyOf(to.get());
    EXPECT_NE(dynamic_cast<CCMoveTo*>(copy.get()), nullptr);
    node->setPosition(CGPointMake(0, 0));
    run(copy);
    tick(1);
    EXPECT_EQ(node->position(), CGPointMake(100, 50));

    // Going to an absolute place has nothing to undo.
    EXPECT_EQ(to->reverse(), nullptr);
}

TEST_F(TransformActionTest, MoveByReverseMovesBackAndCopiesKeepTheOffsetButNotTheTag) {
    node->setPosition(CGPointMake(5, 5));
    auto by = CCMoveBy::actionWithDuration(1, CGPointMake(10, -20));
    by->setTag(7);
    run(by);
    tick(1);
    EXPECT_EQ(node->position(), CGPointMake(15, -15));

    auto copy = platform::copyOf(by.get());
    EXPECT_EQ(copy->tag(), -1);
    run(copy);
    tick(1);
    EXPECT_EQ(node->position(), CGPointMake(25, -35));

    Ref<CCFiniteTimeAction> back = by->reverse();
    ASSERT_NE(dynamic_cast<CCMoveBy*>(back.get()), nullptr);
    EXPECT_EQ(dynamic_cast<CCMoveTo*>(back.get()), nullptr);
    run(back);
    tick(1);
    EXPECT_EQ(node->position(), CGPointMake(15, -15));
}

TEST_F(TransformActionTest, MovesRunningTogetherAddUpAndOutsideChangesShiftThePath) {
    node->setPosition(CGPointMake(0, 0));
    node->runAction(CCMoveBy::actionWithDuration(1, CGPointMake(100, 0)).get());
    node->runAction(CCMoveBy::actionWithDuration(1, CGPointMake(0, 100)).get());
    tick(0);
    tick(0.5);
    EXPECT_EQ(node->position(), CGPointMake(50, 50));
    tick(0.5);
    EXPECT_EQ(node->position(), CGPointMake(100, 100));

    // A position set from outside halfway moves the rest of the path with it.
    node->setPosition(CGPointMake(0, 0));
    run(CCMoveTo::actionWithDuration(1, CGPointMake(40, 0)));
    tick(0.5);
    EXPECT_EQ(node->position(), CGPointMake(20, 0));
    node->setPosition(CGPointMake(20, 30));
    tick(0.5);
    EXPECT_EQ(node->position(), CGPointMake(40, 30));

    // A jump and a move together.
    node->setPosition(CGPointMake(0, 0));
    node->runAction(CCJumpBy::actionWithDuration(1, CGPointMake(0, 0), 10, 1).get());
    node->runAction(CCMoveBy::actionWithDuration(1, CGPointMake(100, 0)).get());
    tick(0);
    tick(0.5);
    EXPECT_EQ(node->position(), CGPointMake(50, 10));
}

TEST_F(TransformActionTest, JumpByHopsOverTheStraightPath) {
    node->setPosition(CGPointMake(10, 20));
    auto jump = CCJumpBy::actionWithDuration(1, CGPointMake(100, 40), 50, 2);
    run(jump);
    EXPECT_EQ(node->position(), CGPointMake(10, 20));
    const CGPoint expected[] = {{35, 80}, {60, 40}, {85, 100}, {110, 60}};
    for (CGPoint p : expected) {
        tick(0.25);
        EXPECT_EQ(node->position(), p);
    }
    EXPECT_TRUE(jump->isDone());

    Ref<CCFiniteTimeAction> back = jump->reverse();
    ASSERT_NE(dynamic_cast<CCJumpBy*>(back.get()), nullptr);
    run(back);
    tick(0.25);
    EXPECT_EQ(node->position(), CGPointMake(85, 100));
    tick(0.75);
    EXPECT_EQ(node->position(), CGPointMake(10, 20));

    auto copy = platform::copyOf(jump.get());
    run(copy);
    tick(0.75);
    EXPECT_EQ(node->position(), CGPointMake(85, 100));
}

TEST_F(TransformActionTest, JumpToLandsOnTheSamePlaceWhenStartedAgain) {
    node->setPosition(CGPointMake(20, 0));
    auto to = CCJumpTo::actionWithDuration(1, CGPointMake(100, 0), 30, 1);
    run(to);
    tick(0.5);
    EXPECT_EQ(node->position(), CGPointMake(60, 30));
    tick(0.5);
    EXPECT_EQ(node->position(), CGPointMake(100, 0));

    node->setPosition(CGPointMake(0, 10));
    run(to);
    tick(1);
    EXPECT_EQ(node->position(), CGPointMake(100, 0));

    // A repeat restarts it from where the last hop ended: it stays put and only hops.
    node->setPosition(CGPointMake(0, 0));
    run(CCRepeat::actionWithAction(CCJumpTo::actionWithDuration(1, CGPointMake(100, 0), 30, 1).get(), 2));
    tick(1);
    EXPECT_EQ(node->position(), CGPointMake(100, 0));
    tick(0.5);
    EXPECT_EQ(node->position(), CGPointMake(100, 30));
    tick(0.5);
    EXPECT_EQ(node->position(), CGPointMake(100, 0));

    EXPECT_NE(dynamic_cast<CCJumpTo*>(platform::copyOf(to.get()).get()), nullptr);
    EXPECT_EQ(to->reverse(), nullptr);
}

TEST_F(TransformActionTest, BezierByFollowsTheCurveAndItsReverseWalksItBack) {
    _ccBezierConfig curve{CGPointMake(100, 0), CGPointMake(0, 100), CGPointMake(100, 100)};
    node->setPosition(CGPointMake(10, 20));
    auto bezier = CCBezierBy::actionWithDuration(1, curve);
    run(bezier);
    EXPECT_EQ(node->position(), CGPointMake(10, 20));
    tick(0.5);
    // x = 3(0.5)(0.25)0 + 3(0.25)(0.5)100 + 0.125(100); y = 37.5 + 37.5 + 0.
    EXPECT_EQ(node->position(), CGPointMake(60, 95));
    tick(0.25);
    // t = 0.75, u = 0.25: x = 3(.75)(.0625)0 + 3(.5625)(.25)100 + .421875(100); y = 14.0625 + 42.1875.
    EXPECT_EQ(node->position(), CGPointMake(10 + 42.1875 + 42.1875, 20 + 14.0625 + 42.1875));
    tick(0.25);
    EXPECT_EQ(node->position(), CGPointMake(110, 20));

    Ref<CCFiniteTimeAction> back = bezier->reverse();
    ASSERT_NE(dynamic_cast<CCBezierBy*>(back.get()), nullptr);
    run(back);
    tick(0.5);
    EXPECT_EQ(node->position(), CGPointMake(60, 95));
    tick(0.5);
    EXPECT_EQ(node->position(), CGPointMake(10, 20));
}

TEST_F(TransformActionTest, BezierToTakesAbsolutePoints) {
    _ccBezierConfig curve{CGPointMake(110, 20), CGPointMake(10, 120), CGPointMake(110, 120)};
    auto to = CCBezierTo::actionWithDuration(1, curve);
    node->setPosition(CGPointMake(10, 20));
    run(to);
    tick(0.5);
    EXPECT_EQ(node->position(), CGPointMake(60, 95));
    tick(0.5);
    EXPECT_EQ(node->position(), CGPointMake(110, 20));

    // Its copy starts from wherever the node is and still ends at the absolute end point.
    auto copy = platform::copyOf(to.get());
    ASSERT_NE(dynamic_cast<CCBezierTo*>(copy.get()), nullptr);
    node->setPosition(CGPointMake(0, 0));
    run(copy);
    tick(1);
    EXPECT_EQ(node->position(), CGPointMake(110, 20));
    EXPECT_EQ(to->reverse(), nullptr);
}

TEST_F(TransformActionTest, SkewToReducesXByHalfATurnButYByAWholeOne) {
    node->setSkewX(200);
    node->setSkewY(200);
    run(CCSkewTo::actionWithDuration(1, 30, 210));
    EXPECT_EQ(node->skewX(), 20);
    EXPECT_EQ(node->skewY(), 200);
    tick(0.5);
    EXPECT_EQ(node->skewX(), 25);
    EXPECT_EQ(node->skewY(), 205);
    tick(0.5);
    EXPECT_EQ(node->skewX(), 30);
    EXPECT_EQ(node->skewY(), 210);

    // The shorter way round, as for rotations.
    node->setSkewX(170);
    node->setSkewY(-170);
    run(CCSkewTo::actionWithDuration(1, -170, 170));
    tick(1);
    EXPECT_EQ(node->skewX(), 190);
    EXPECT_EQ(node->skewY(), -190);
    EXPECT_EQ(CCSkewTo::actionWithDuration(1, 0, 0)->reverse(), nullptr);
}

TEST_F(TransformActionTest, SkewByAddsItsAmountsAndCopiesKeepThem) {
    node->setSkewX(5);
    node->setSkewY(5);
    auto by = CCSkewBy::actionWithDuration(1, 10, -20);
    run(by);
    tick(1);
    EXPECT_EQ(node->skewX(), 15);
    EXPECT_EQ(node->skewY(), -15);

    // A copy made after the start skews by the given amounts, not to the last end skews.
    auto copy = platform::copyOf(by.get());
    ASSERT_NE(dynamic_cast<CCSkewBy*>(copy.get()), nullptr);
    run(copy);
    tick(1);
    EXPECT_EQ(node->skewX(), 25);
    EXPECT_EQ(node->skewY(), -35);

    Ref<CCFiniteTimeAction> back = by->reverse();
    ASSERT_NE(dynamic_cast<CCSkewBy*>(back.get()), nullptr);
    run(back);
    tick(1);
    EXPECT_EQ(node->skewX(), 15);
    EXPECT_EQ(node->skewY(), -15);
}

TEST_F(TransformActionTest, ScaleByMultipliesAndItsReverseDivides) {
    node->setScale(1.5f);
    auto by = CCScaleBy::actionWithDuration(1, 2);
    run(by);
    tick(0.5);
    EXPECT_EQ(node->scaleX(), 2.25f);
    tick(0.5);
    EXPECT_EQ(node->scaleX(), 3);
    EXPECT_EQ(node->scaleY(), 3);

    Ref<CCFiniteTimeAction> back = by->reverse();
    ASSERT_NE(dynamic_cast<CCScaleBy*>(back.get()), nullptr);
    run(back);
    tick(1);
    EXPECT_EQ(node->scaleX(), 1.5f);
    EXPECT_EQ(node->scaleY(), 1.5f);

    auto twoAxes = CCScaleBy::actionWithDuration(1, 2, 0.5f);
    ASSERT_NE(dynamic_cast<CCScaleBy*>(platform::copyOf(twoAxes.get()).get()), nullptr);
    run(platform::copyOf(twoAxes.get()));
    tick(1);
    EXPECT_EQ(node->scaleX(), 3);
    EXPECT_EQ(node->scaleY(), 0.75f);
}

TEST_F(TransformActionTest, ScaleToSetsAbsoluteFactors) {
    node->setScaleX(1);
    node->setScaleY(3);
    auto to = CCScaleTo::actionWithDuration(2, 2);
    run(to);
    tick(1);
    EXPECT_EQ(node->scaleX(), 1.5f);
    EXPECT_EQ(node->scaleY(), 2.5f);
    tick(1);
    EXPECT_EQ(node->scaleX(), 2);
    EXPECT_EQ(node->scaleY(), 2);

    run(CCScaleTo::actionWithDuration(1, -1, 0.5f));
    tick(1);
    EXPECT_EQ(node->scaleX(), -1);
    EXPECT_EQ(node->scaleY(), 0.5f);
    EXPECT_EQ(to->reverse(), nullptr);
    EXPECT_EQ(dynamic_cast<CCScaleBy*>(platform::copyOf(to.get()).get()), nullptr);
}

TEST_F(TransformActionTest, ATurnRepeatedForeverCarriesOnFromEachEnd) {
    // A whole turn every 6 s, for ever.
    node->runAction(CCRepeatForever::actionWithAction(CCRotateBy::actionWithDuration(6, 360).get()).get());
    tick(0);
    for (int i = 0; i < 8; ++i)
        tick(1.5);
    EXPECT_EQ(node->rotationX(), 720);
    tick(0.75);
    EXPECT_EQ(node->rotationX(), 765);
}

} // namespace

TEST(TransformActionWithoutTarget, StartingAndUpdatingOnNoNodeDoesNothing) {
    _ccBezierConfig curve{CGPointMake(1, 1), CGPointMake(2, 2), CGPointMake(3, 3)};
    std::vector<Ref<CCActionInterval>> actions = {CCRotateTo::actionWithDuration(1, 5),
                                                  CCRotateBy::actionWithDuration(1, 5),
                                                  CCMoveBy::actionWithDuration(1, CGPointMake(1, 1)),
                                                  CCMoveTo::actionWithDuration(1, CGPointMake(1, 1)),
                                                  CCSkewTo::actionWithDuration(1, 1, 1),
                                                  CCSkewBy::actionWithDuration(1, 1, 1),
                                                  CCJumpBy::actionWithDuration(1, CGPointMake(1, 1), 5, 2),
                                                  CCJumpTo::actionWithDuration(1, CGPointMake(1, 1), 5, 2),
                                                  CCBezierBy::actionWithDuration(1, curve),
                                                  CCBezierTo::actionWithDuration(1, curve),
                                                  CCScaleTo::actionWithDuration(1, 2),
                                                  CCScaleBy::actionWithDuration(1, 2)};
    for (const Ref<CCActionInterval>& action : actions) {
        action->startWithTarget(nullptr);
        action->step(0);
        action->step(0.5);
        EXPECT_EQ(action->target(), nullptr);
    }
}
