#include "actions/CCActionCatmullRom.h"
#include "actions/CCActionManager.h"
#include "core/CCPointExtension.h"

#include "platform/Exception.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

using platform::make;
using platform::Ref;

namespace {

Ref<CCPointArray> pointsOf(std::initializer_list<CGPoint> points) {
    Ref<CCPointArray> array = CCPointArray::arrayWithCapacity(points.size());
    for (CGPoint p : points)
        array->addControlPoint(p);
    return array;
}

std::vector<CGPoint> listOf(const CCPointArray* array) {
    return array->controlPoints();
}
std::vector<CGPoint> listOf(const Ref<CCPointArray>& array) {
    return array->controlPoints();
}

#define EXPECT_POINT_NEAR(actual, ex, ey)                                                                    \
    do {                                                                                                     \
        CGPoint a_ = (actual);                                                                               \
        EXPECT_NEAR(a_.x, (ex), 1e-9);                                                                       \
        EXPECT_NEAR(a_.y, (ey), 1e-9);                                                                       \
    } while (0)

// The expected name of an exception thrown by `body`, or "" when none is thrown.
template <class F> std::string thrownName(F body) {
    try {
        body();
    } catch (const platform::Exception& e) {
        return e.name();
    }
    return "";
}

class SplineTest : public ::testing::Test {
protected:
    // Starts the action on the node and applies progress t.
    void at(CCActionInterval* action, double t) {
        if (!action->target()) action->startWithTarget(node);
        action->update(t);
    }
    Ref<CCNode> node = make<CCNode>();
};

} // namespace

TEST(PointArray, LookupClampsTheIndexToTheList) {
    Ref<CCPointArray> array = pointsOf({ccp(1, 2), ccp(3, 4), ccp(5, 6)});
    EXPECT_EQ(array->count(), 3u);
    EXPECT_EQ(array->getControlPointAtIndex(-1), ccp(1, 2));
    EXPECT_EQ(array->getControlPointAtIndex(-100), ccp(1, 2));
    EXPECT_EQ(array->getControlPointAtIndex(1), ccp(3, 4));
    EXPECT_EQ(array->getControlPointAtIndex(3), ccp(5, 6));
    EXPECT_EQ(array->getControlPointAtIndex(4), ccp(5, 6));

    Ref<CCPointArray> empty = make<CCPointArray>();
    ASSERT_TRUE(empty->init());
    EXPECT_EQ(empty->getControlPointAtIndex(0), CGPointZero);
}

TEST(PointArray, EditingInsertsReplacesAndRemovesAndRefusesIndexesOutOfRange) {
    Ref<CCPointArray> array = pointsOf({ccp(1, 1), ccp(2, 2)});
    array->insertControlPoint(ccp(0, 0), 0);
    array->insertControlPoint(ccp(3, 3), 3); // at the end
    EXPECT_EQ(listOf(array), (std::vector<CGPoint>{ccp(0, 0), ccp(1, 1), ccp(2, 2), ccp(3, 3)}));
    array->replaceControlPoint(ccp(9, 9), 2);
    array->removeControlPointAtIndex(0);
    EXPECT_EQ(listOf(array), (std::vector<CGPoint>{ccp(1, 1), ccp(9, 9), ccp(3, 3)}));

    EXPECT_EQ(thrownName([&] { array->insertControlPoint(ccp(0, 0), 4); }), "NSRangeException");
    EXPECT_EQ(thrownName([&] { array->replaceControlPoint(ccp(0, 0), 3); }), "NSRangeException");
    EXPECT_EQ(thrownName([&] { array->removeControlPointAtIndex(3); }), "NSRangeException");
    EXPECT_EQ(array->count(), 3u);
}

TEST(PointArray, ReversingAndCopying) {
    Ref<CCPointArray> odd = pointsOf({ccp(1, 0), ccp(2, 0), ccp(3, 0), ccp(4, 0), ccp(5, 0)});
    Ref<CCPointArray> reversed = odd->reverse();
    EXPECT_NE(reversed.get(), odd.get());
    EXPECT_EQ(listOf(reversed),
              (std::vector<CGPoint>{ccp(5, 0), ccp(4, 0), ccp(3, 0), ccp(2, 0), ccp(1, 0)}));
    EXPECT_EQ(odd->getControlPointAtIndex(0), ccp(1, 0)); // untouched

    odd->reverseInline();
    EXPECT_EQ(listOf(odd), listOf(reversed)); // the middle point stays
    Ref<CCPointArray> even = pointsOf({ccp(1, 0), ccp(2, 0), ccp(3, 0), ccp(4, 0)});
    even->reverseInline();
    EXPECT_EQ(listOf(even), (std::vector<CGPoint>{ccp(4, 0), ccp(3, 0), ccp(2, 0), ccp(1, 0)}));
    Ref<CCPointArray> single = pointsOf({ccp(7, 7)});
    single->reverseInline();
    EXPECT_EQ(listOf(single), (std::vector<CGPoint>{ccp(7, 7)}));
    EXPECT_EQ(make<CCPointArray>()->reverse()->count(), 0u);

    // A copy has its own list.
    Ref<CCPointArray> copy = platform::copyOf(even.get());
    EXPECT_EQ(listOf(copy), listOf(even));
    copy->replaceControlPoint(ccp(0, 0), 0);
    copy->addControlPoint(ccp(8, 8));
    EXPECT_EQ(even->getControlPointAtIndex(0), ccp(4, 0));
    EXPECT_EQ(even->count(), 4u);
}

TEST_F(SplineTest, ToPassesThroughEveryControlPointAtItsShareOfTheTime) {
    Ref<CCPointArray> points = pointsOf({ccp(0, 0), ccp(100, 0), ccp(100, 100), ccp(0, 100), ccp(50, 50)});
    for (double tension : {0.0, 0.5, 1.0, -0.3}) {
        Ref<CCCardinalSplineTo> action = CCCardinalSplineTo::actionWithDuration(2, points, tension);
        node->setPosition(ccp(-40, -40));
        action->startWithTarget(node);
        for (int k = 0; k < 5; ++k) {
            action->update(k / 4.0);
            CGPoint expected = points->getControlPointAtIndex(k);
            EXPECT_POINT_NEAR(node->position(), expected.x, expected.y);
        }
    }
}

TEST_F(SplineTest, CatmullRomMidpointAndSegmentChoice) {
    // With s = 0.25 the weights at local time 0.5 are -1/32, 17/32, 17/32, -1/32.
    Ref<CCPointArray> square = pointsOf({ccp(0, 0), ccp(0, 10), ccp(10, 10), ccp(10, 0)});
    Ref<CCCatmullRomTo> action = CCCatmullRomTo::actionWithDuration(3, square);
    EXPECT_EQ(action->tension(), 0.5);
    at(action, 0.5); // segment 1, local time 0.5
    EXPECT_POINT_NEAR(node->position(), 5.0, 10.625);

    // Five equally spaced points on a line; t = 0.6 is segment 2 at local time 0.4. Catmull-Rom
    // takes tangents of a quarter of the span around each point (5 per segment of 10), so the
    // Hermite weights 0.648, 0.144, 0.352, -0.096 give 23.76; tension 0 (tangents of half the
    // span) reproduces the straight line and gives 24.
    Ref<CCPointArray> line = pointsOf({ccp(0, 0), ccp(10, 0), ccp(20, 0), ccp(30, 0), ccp(40, 0)});
    Ref<CCCatmullRomTo> catmull = CCCatmullRomTo::actionWithDuration(1, line);
    at(catmull, 0.6);
    EXPECT_POINT_NEAR(node->position(), 23.76, 0.0);
    at(catmull, 0.375); // segment 1, local time 0.5: symmetric, so the middle
    EXPECT_POINT_NEAR(node->position(), 15.0, 0.0);
    Ref<CCCardinalSplineTo> straight = CCCardinalSplineTo::actionWithDuration(1, line, 0);
    at(straight, 0.6);
    EXPECT_POINT_NEAR(node->position(), 24.0, 0.0);
}

TEST_F(SplineTest, TensionOneEasesEachSegmentWithoutTangents) {
    Ref<CCPointArray> points = pointsOf({ccp(0, 0), ccp(10, 20), ccp(30, 20)});
    Ref<CCCardinalSplineTo> action = CCCardinalSplineTo::actionWithDuration(1, points, 1.0);
    for (double lt : {0.1, 0.3, 0.5, 0.9}) {
        double h = 3 * lt * lt - 2 * lt * lt * lt;
        at(action, 0.5 + lt / 2); // second segment
        EXPECT_POINT_NEAR(node->position(), 10 + 20 * h, 20.0);
        at(action, lt / 2); // first segment
        EXPECT_POINT_NEAR(node->position(), 10 * h, 20 * h);
    }
}

TEST_F(SplineTest, ByMovesThroughOffsetsFromTheStartPosition) {
    Ref<CCPointArray> offsets = pointsOf({ccp(0, 0), ccp(10, 5), ccp(20, -5), ccp(30, 0)});
    node->setPosition(ccp(100, 200));
    Ref<CCCatmullRomBy> by = CCCatmullRomBy::actionWithDuration(1, offsets);
    at(by, 0);
    EXPECT_POINT_NEAR(node->position(), 100.0, 200.0);
    at(by, 1.0 / 3);
    EXPECT_POINT_NEAR(node->position(), 110.0, 205.0);
    at(by, 1);
    EXPECT_POINT_NEAR(node->position(), 130.0, 200.0);

    // A first offset that is not zero places the node off its start at t = 0.
    node->setPosition(ccp(0, 0));
    Ref<CCPointArray> pair = pointsOf({ccp(5, 5), ccp(15, 5)});
    Ref<CCCardinalSplineBy> shifted = CCCardinalSplineBy::actionWithDuration(1, pair, 0);
    at(shifted, 0);
    EXPECT_POINT_NEAR(node->position(), 5.0, 5.0);
}

TEST_F(SplineTest, ReversesRetraceThePath) {
    Ref<CCPointArray> points = pointsOf({ccp(0, 0), ccp(10, 30), ccp(40, 20), ccp(50, -10), ccp(70, 0)});

    // To: over the points in reverse order, the given array untouched.
    Ref<CCCardinalSplineTo> to = CCCardinalSplineTo::actionWithDuration(2, points, 0.2);
    Ref<CCFiniteTimeAction> toBack = to->reverse();
    auto* toRev = dynamic_cast<CCCardinalSplineTo*>(toBack.get());
    ASSERT_TRUE(toRev);
    EXPECT_EQ(toRev->className(), "CCCardinalSplineTo");
    EXPECT_EQ(toRev->duration(), 2.0);
    EXPECT_EQ(toRev->tension(), 0.2);
    EXPECT_EQ(listOf(toRev->points()), listOf(points->reverse()));
    EXPECT_EQ(points->getControlPointAtIndex(0), ccp(0, 0));

    // By: the reverse started where the forward action ended walks the same path backwards.
    node->setPosition(ccp(100, 100));
    Ref<CCCatmullRomBy> by = CCCatmullRomBy::actionWithDuration(1, points);
    Ref<CCFiniteTimeAction> byBack = by->reverse();
    auto* byRev = dynamic_cast<CCCatmullRomBy*>(byBack.get());
    ASSERT_TRUE(byRev);
    EXPECT_EQ(listOf(byRev->points()),
              (std::vector<CGPoint>{ccp(0, 0), ccp(-20, -10), ccp(-30, 20), ccp(-60, 30), ccp(-70, 0)}));
    EXPECT_EQ(points->getControlPointAtIndex(1), ccp(10, 30));

    const double times[] = {0, 0.1, 0.3, 0.5, 0.62, 0.8, 1};
    std::vector<CGPoint> forward;
    by->startWithTarget(node);
    for (double t : times) {
        by->update(t);
        forward.push_back(node->position());
    }
    byRev->startWithTarget(node);
    for (int i = 6; i >= 0; --i) {
        byRev->update(1 - times[i]);
        EXPECT_POINT_NEAR(node->position(), forward[i].x, forward[i].y);
    }
}

TEST_F(SplineTest, CopiesShareThePointArray) {
    Ref<CCPointArray> points = pointsOf({ccp(0, 0), ccp(10, 0)});
    Ref<CCCatmullRomBy> action = CCCatmullRomBy::actionWithDuration(4, points);
    Ref<CCCatmullRomBy> copy = platform::copyOf(action.get());
    EXPECT_EQ(copy->className(), "CCCatmullRomBy");
    EXPECT_EQ(copy->points(), points.get());
    EXPECT_EQ(copy->duration(), 4.0);
    EXPECT_EQ(copy->tension(), 0.5);

    points->replaceControlPoint(ccp(0, 50), 1);
    at(copy, 1);
    EXPECT_POINT_NEAR(node->position(), 0.0, 50.0);
}

TEST_F(SplineTest, MovesMadeByOtherCodeStayAppliedInLaterSteps) {
    Ref<CCPointArray> line = pointsOf({ccp(0, 0), ccp(100, 0)});
    Ref<CCCardinalSplineTo> action = CCCardinalSplineTo::actionWithDuration(1, line, 1.0);
    at(action, 0);
    at(action, 0.5);
    EXPECT_POINT_NEAR(node->position(), 50.0, 0.0);

    node->setPosition(pointAdd(node->position(), ccp(0, 30))); // someone else moves the node
    at(action, 0.6);
    double h6 = 3 * 0.36 - 2 * 0.216;
    EXPECT_POINT_NEAR(node->position(), 100 * h6, 30.0);
    at(action, 0.8); // no move in between: the offset still holds
    double h8 = 3 * 0.64 - 2 * 0.512;
    EXPECT_POINT_NEAR(node->position(), 100 * h8, 30.0);

    node->setPosition(pointAdd(node->position(), ccp(-5, 0)));
    at(action, 1);
    EXPECT_POINT_NEAR(node->position(), 95.0, 30.0);
}

TEST_F(SplineTest, ShortOrMissingPointListsAreHandledWithoutFaults) {
    EXPECT_FALSE(CCCardinalSplineTo::actionWithDuration(1, nullptr, 0));
    EXPECT_FALSE(CCCatmullRomBy::actionWithDuration(1, nullptr));

    node->setPosition(ccp(3, 4));
    Ref<CCPointArray> one = pointsOf({ccp(20, 30)});
    Ref<CCCatmullRomTo> single = CCCatmullRomTo::actionWithDuration(1, one);
    for (double t : {0.0, 0.4, 1.0}) {
        at(single, t);
        EXPECT_POINT_NEAR(node->position(), 20.0, 30.0);
    }

    Ref<CCPointArray> none = make<CCPointArray>();
    none->init();
    node->setPosition(ccp(3, 4));
    Ref<CCCatmullRomTo> empty = CCCatmullRomTo::actionWithDuration(1, none);
    at(empty, 0.5);
    EXPECT_EQ(node->position(), ccp(3, 4));
    Ref<CCFiniteTimeAction> emptyBack = CCCatmullRomBy::actionWithDuration(1, none)->reverse();
    ASSERT_TRUE(emptyBack);
    EXPECT_EQ(static_cast<CCCatmullRomBy*>(emptyBack.get())->points()->count(), 0u);

    // Progress beyond 0..1 (from an overshooting ease) extends the end segments.
    Ref<CCPointArray> line = pointsOf({ccp(0, 0), ccp(10, 0), ccp(20, 0)});
    Ref<CCCardinalSplineTo> action = CCCardinalSplineTo::actionWithDuration(1, line, 1.0);
    at(action, -0.8);
    EXPECT_TRUE(std::isfinite(node->position().x));
    at(action, 1.6);
    EXPECT_TRUE(std::isfinite(node->position().x));
}

TEST_F(SplineTest, ProgressPastTheEndRunsOnIntoSegmentsBeyondTheList) {
    // Three points, two segments of half the time each. t = 1.2 is segment 2 (the last point
    // and its clamped neighbours) at local time 0.4: only the point before it pulls, with
    // b1 = 0.25 x (-0.064 + 0.32 - 0.4) = -0.036.
    Ref<CCPointArray> line = pointsOf({ccp(0, 0), ccp(10, 0), ccp(20, 0)});
    Ref<CCCatmullRomTo> action = CCCatmullRomTo::actionWithDuration(1, line);
    at(action, 1.2);
    EXPECT_POINT_NEAR(node->position(), 20.36, 0.0);
    // t = 1.6 is segment 3, past the list: all four points are the last one.
    at(action, 1.6);
    EXPECT_POINT_NEAR(node->position(), 20.0, 0.0);
    at(action, 1e300);
    EXPECT_TRUE(std::isfinite(node->position().x));
}

TEST_F(SplineTest, TheManagerMovesTheNodeFromControlPointToControlPoint) {
    Ref<CCActionManager> manager = make<CCActionManager>();
    manager->init();
    Ref<CCPointArray> points = pointsOf({ccp(0, 0), ccp(0, 40), ccp(40, 40), ccp(40, 0), ccp(80, 0)});
    Ref<CCCatmullRomTo> action = CCCatmullRomTo::actionWithDuration(2, points);
    node->setPosition(ccp(7, 7));
    manager->addAction(action, node, false);
    EXPECT_EQ(node->position(), ccp(7, 7)); // nothing moves before the first step

    manager->update(0.5); // the first step applies t = 0
    EXPECT_POINT_NEAR(node->position(), 0.0, 0.0);
    for (int k = 1; k <= 4; ++k) {
        manager->update(0.5);
        CGPoint p = points->getControlPointAtIndex(k);
        EXPECT_POINT_NEAR(node->position(), p.x, p.y);
    }
    EXPECT_EQ(action->target(), nullptr);
    EXPECT_EQ(action->retainCount(), 1u);
}
