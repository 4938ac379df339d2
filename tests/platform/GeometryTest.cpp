#include "platform/Geometry.h"
#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(AffineTransformTest, ConcatAppliesTheFirstTransformFirst) {
    CGAffineTransform t =
        CGAffineTransformConcat(CGAffineTransformMakeScale(2, 3), CGAffineTransformMakeTranslation(10, 20));
    CGPoint p = CGPointApplyAffineTransform(CGPointMake(1, 1), t);
    EXPECT_EQ(p, CGPointMake(12, 23));
    // Translate/Rotate/Scale prepend: the new operation is applied before t.
    CGAffineTransform u = CGAffineTransformScale(CGAffineTransformMakeTranslation(10, 20), 2, 3);
    EXPECT_EQ(CGPointApplyAffineTransform(CGPointMake(1, 1), u), CGPointMake(12, 23));
}

TEST(AffineTransformTest, InvertUndoesAndSingularStaysUnchanged) {
    CGAffineTransform t = CGAffineTransformRotate(CGAffineTransformMakeTranslation(5, -3), 0.7);
    t = CGAffineTransformScale(t, 2, 0.5);
    CGPoint p = CGPointApplyAffineTransform(CGPointApplyAffineTransform(CGPointMake(3, 4), t),
                                            CGAffineTransformInvert(t));
    EXPECT_NEAR(p.x, 3, 1e-12);
    EXPECT_NEAR(p.y, 4, 1e-12);
    CGAffineTransform singular = CGAffineTransformMakeScale(0, 1);
    EXPECT_TRUE(CGAffineTransformEqualToTransform(CGAffineTransformInvert(singular), singular));
}

TEST(AffineTransformTest, RectTransformIsTheBoundingBoxOfTheCorners) {
    CGRect r = CGRectApplyAffineTransform(CGRectMake(0, 0, 10, 20), CGAffineTransformMakeRotation(M_PI / 2));
    EXPECT_NEAR(r.origin.x, -20, 1e-9);
    EXPECT_NEAR(r.origin.y, 0, 1e-9);
    EXPECT_NEAR(r.size.width, 20, 1e-9);
    EXPECT_NEAR(r.size.height, 10, 1e-9);
    CGRect flipped = CGRectApplyAffineTransform(CGRectMake(1, 1, 2, 2), CGAffineTransformMakeScale(-1, 1));
    EXPECT_EQ(flipped, CGRectMake(-3, 1, 2, 2));
}

TEST(RectTest, ContainmentIsHalfOpenAndEmptyRectsNeverIntersect) {
    CGRect r = CGRectMake(0, 0, 10, 10);
    EXPECT_TRUE(CGRectContainsPoint(r, CGPointMake(0, 0)));
    EXPECT_FALSE(CGRectContainsPoint(r, CGPointMake(10, 5)));
    EXPECT_TRUE(CGRectContainsPoint(CGRectMake(10, 10, -10, -10), CGPointMake(5, 5)));
    EXPECT_TRUE(CGRectIntersectsRect(r, CGRectMake(9, 9, 5, 5)));
    EXPECT_FALSE(CGRectIntersectsRect(r, CGRectMake(10, 0, 5, 5)));
    EXPECT_FALSE(CGRectIntersectsRect(r, CGRectMake(5, 5, 0, 3)));
    EXPECT_EQ(NSStringFromCGRect(CGRectMake(1, 2.5, 3, 4)), "{{1, 2.5}, {3, 4}}");
}

TEST(NotificationCenterTest, ObserversMayRemoveThemselvesAndOthersWhilePosting) {
    platform::NotificationCenter center;
    int first = 0, second = 0;
    int a, b;
    center.addObserver(&a, "n", [&](const platform::Notification&) {
        ++first;
        center.removeObserver(&b);
    });
    center.addObserver(&b, "n", [&](const platform::Notification&) { ++second; });
    center.postNotificationName("n", nullptr);
    center.postNotificationName("other", nullptr);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(center.observerCount(), 1u);
}
