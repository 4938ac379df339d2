#include "actions/CCActionCamera.h"
#include "actions/CCActionManager.h"
#include "core/CCCamera.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

using platform::make;
using platform::Ref;

namespace {

const double kDeg = M_PI / 180;

struct Vec3 {
    double x, y, z;
};

Vec3 eyeOf(CCNode* node) {
    float x, y, z;
    node->camera()->eyeX(&x, &y, &z);
    return {x, y, z};
}

// The eye on a sphere of radius r about c, zenith and azimuth in degrees.
Vec3 onSphere(double r, double zenith, double azimuth, Vec3 c = {0, 0, 0}) {
    return {r * std::sin(zenith * kDeg) * std::cos(azimuth * kDeg) + c.x,
            r * std::sin(zenith * kDeg) * std::sin(azimuth * kDeg) + c.y, r * std::cos(zenith * kDeg) + c.z};
}

#define EXPECT_VEC_NEAR(actual, expected, tolerance)                                                         \
    do {                                                                                                     \
        Vec3 a_ = (actual), e_ = (expected);                                                                 \
        EXPECT_NEAR(a_.x, e_.x, tolerance);                                                                  \
        EXPECT_NEAR(a_.y, e_.y, tolerance);                                                                  \
        EXPECT_NEAR(a_.z, e_.z, tolerance);                                                                  \
    } while (0)

// A radius, in eye-distance units, that puts the eye `points` away from the centre.
float radiusOf(double points) {
    return static_cast<float>(points / CCCamera::getZEye());
}

class OrbitTest : public ::testing::Test {
protected:
    Ref<CCNode> node = make<CCNode>();
};

} // namespace

TEST_F(OrbitTest, AFlipHalfSwingsTheEyeFromAboveTheCentreToTheSide) {
    const double zEye = CCCamera::getZEye();
    Ref<CCOrbitCamera> orbit = CCOrbitCamera::actionWithDuration(0.5f, 1, 0, 0, 90, 0, 0);
    orbit->startWithTarget(node);
    orbit->update(0);
    Vec3 start = eyeOf(node);
    EXPECT_EQ(start.x, 0.0);
    EXPECT_EQ(start.y, 0.0);
    EXPECT_EQ(start.z, zEye);

    orbit->update(1);
    EXPECT_VEC_NEAR(eyeOf(node), (Vec3{zEye, 0, 0}), zEye * 1e-6);

    // Angle X turns the direction of the swing.
    Ref<CCOrbitCamera> sideways = CCOrbitCamera::actionWithDuration(0.5f, 1, 0, 0, 90, 90, 0);
    sideways->startWithTarget(node);
    sideways->update(1);
    EXPECT_VEC_NEAR(eyeOf(node), (Vec3{0, zEye, 0}), zEye * 1e-6);
}

TEST_F(OrbitTest, TheEyeFollowsSphericalCoordinatesAboutTheRecordedCentre) {
    CCCamera* camera = node->camera();
    camera->setCenterX(5, 6, 7);
    camera->setUpX(0, 0, 1);
    camera->setEyeX(-300, 40, 2); // wherever it was, the first step puts it on the orbit
    Ref<CCOrbitCamera> orbit =
        CCOrbitCamera::actionWithDuration(2, radiusOf(100), radiusOf(50), 30, 60, 20, -40);
    orbit->startWithTarget(node);
    const Vec3 c{5, 6, 7};

    const double times[] = {0, 0.25, 0.5, 0.8, 1};
    for (double t : times) {
        SCOPED_TRACE(t);
        orbit->update(t);
        Vec3 expected = onSphere(100 + 50 * t, 30 + 60 * t, 20 - 40 * t, c);
        EXPECT_VEC_NEAR(eyeOf(node), expected, 1e-3);
    }

    // The centre and the up vector stay as they were.
    float x, y, z;
    camera->centerX(&x, &y, &z);
    EXPECT_EQ(x, 5.0f);
    EXPECT_EQ(y, 6.0f);
    EXPECT_EQ(z, 7.0f);
    camera->upX(&x, &y, &z);
    EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(y, 0.0f);
    EXPECT_EQ(z, 1.0f);
    EXPECT_TRUE(camera->dirty());
}

TEST_F(OrbitTest, SphericalRadiusReportsWhereTheEyeIs) {
    node->camera()->setCenterX(1, 2, 3);
    Ref<CCOrbitCamera> orbit = CCOrbitCamera::actionWithDuration(1, radiusOf(40), 0, 50, 0, 150, 0);
    float radius = -1, zenith = -1, azimuth = -1;
    orbit->sphericalRadius(&radius, &zenith, &azimuth); // no target yet
    EXPECT_EQ(radius, 0.0f);
    EXPECT_EQ(zenith, 0.0f);
    EXPECT_EQ(azimuth, 0.0f);

    orbit->startWithTarget(node);
    orbit->update(0.5);
    orbit->sphericalRadius(&radius, &zenith, &azimuth);
    EXPECT_NEAR(radius * CCCamera::getZEye(), 40.0, 1e-3);
    EXPECT_NEAR(zenith, 50 * kDeg, 1e-5);
    EXPECT_NEAR(azimuth, 150 * kDeg, 1e-5); // x < 0: the azimuth is mirrored past 90 degrees

    // Any out-parameter may be left out.
    orbit->sphericalRadius(nullptr, &zenith, nullptr);
    EXPECT_NEAR(zenith, 50 * kDeg, 1e-5);

    // An eye on the centre divides by the float epsilon instead of by zero.
    node->camera()->setEyeX(1, 2, 3);
    orbit->sphericalRadius(&radius, &zenith, &azimuth);
    EXPECT_EQ(radius, FLT_EPSILON / CCCamera::getZEye());
    EXPECT_NEAR(zenith, M_PI / 2, 1e-6);
    EXPECT_EQ(azimuth, 0.0f);

    // It only reports: the next step still uses the values the orbit was made with.
    orbit->update(0.5);
    orbit->sphericalRadius(&radius, &zenith, &azimuth);
    EXPECT_NEAR(zenith, 50 * kDeg, 1e-5);
}

TEST_F(OrbitTest, CopiesAndReverses) {
    Ref<CCOrbitCamera> orbit =
        CCOrbitCamera::actionWithDuration(0.1f, radiusOf(10), radiusOf(5), 10, 20, 30, 40);
    EXPECT_EQ(orbit->duration(), static_cast<double>(0.1f));

    Ref<CCOrbitCamera> copy = platform::copyOf(orbit.get());
    EXPECT_EQ(copy->className(), "CCOrbitCamera");
    EXPECT_EQ(copy->duration(), orbit->duration());
    Ref<CCNode> other = make<CCNode>();
    orbit->startWithTarget(node);
    copy->startWithTarget(other);
    orbit->update(0.7);
    copy->update(0.7);
    Vec3 a = eyeOf(node), b = eyeOf(other);
    EXPECT_EQ(a.x, b.x);
    EXPECT_EQ(a.y, b.y);
    EXPECT_EQ(a.z, b.z);

    // The reverse runs this very orbit backwards in time.
    Ref<CCFiniteTimeAction> reversed = orbit->reverse();
    auto* wrapper = dynamic_cast<CCReverseTime*>(reversed.get());
    ASSERT_TRUE(wrapper);
    EXPECT_EQ(wrapper->otherAction(), orbit.get());
    EXPECT_EQ(wrapper->duration(), orbit->duration());

    // The base camera action records the camera and has the same reverse.
    Ref<CCActionCamera> plain = CCActionCamera::createWith(&CCActionInterval::initWithDuration, 1.0);
    Ref<CCFiniteTimeAction> plainBack = plain->reverse();
    auto* plainWrapper = dynamic_cast<CCReverseTime*>(plainBack.get());
    ASSERT_TRUE(plainWrapper);
    EXPECT_EQ(plainWrapper->otherAction(), plain.get());
}

TEST_F(OrbitTest, TheManagerRunsTheOrbitToItsEnd) {
    Ref<CCActionManager> manager = make<CCActionManager>();
    manager->init();
    node->camera()->setCenterX(0, 0, -10);
    Ref<CCOrbitCamera> orbit = CCOrbitCamera::actionWithDuration(1, radiusOf(20), 0, 0, 180, 0, 0);
    manager->addAction(orbit, node, false);

    manager->update(0.25); // t = 0
    EXPECT_VEC_NEAR(eyeOf(node), onSphere(20, 0, 0, {0, 0, -10}), 1e-4);
    manager->update(0.5); // t = 0.5
    EXPECT_VEC_NEAR(eyeOf(node), onSphere(20, 90, 0, {0, 0, -10}), 1e-4);
    manager->update(0.75); // past the end: t = 1
    EXPECT_VEC_NEAR(eyeOf(node), onSphere(20, 180, 0, {0, 0, -10}), 1e-4);
    EXPECT_EQ(orbit->target(), nullptr);
    EXPECT_EQ(orbit->retainCount(), 1u);
}
