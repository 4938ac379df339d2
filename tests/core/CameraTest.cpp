#include "core/CCCamera.h"

#include "platform/Format.h"

#include <glm/glm.hpp>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/type_ptr.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {

struct CameraTest : ::testing::Test {
    void SetUp() override {
        matrixFreeAll();
        matrixStacksInit();
    }
    void TearDown() override { matrixFreeAll(); }

    static kmMat4 modelView() {
        kmMat4 m;
        matrixGet(kCCMatrixModeModelView, &m);
        return m;
    }
    static platform::Ref<CCCamera> camera() {
        auto c = platform::make<CCCamera>();
        c->init();
        return c;
    }
};

bool isTranslationZ(const kmMat4& m, float z) {
    kmMat4 t;
    mat4Translation(&t, 0, 0, z);
    return std::equal(m.mat, m.mat + 16, t.mat);
}

} // namespace

TEST_F(CameraTest, UntouchedCameraChangesNothingUntilMarkedDirty) {
    auto cam = camera();
    matrixTranslate(3, 4, 5);
    const kmMat4 before = modelView();
    cam->locate();
    const kmMat4 after = modelView();
    EXPECT_TRUE(std::equal(before.mat, before.mat + 16, after.mat));
    EXPECT_FALSE(cam->dirty());

    // Dirty at the defaults: the real look-at of an eye one epsilon above the centre.
    cam->setDirty(true);
    matrixLoadIdentity();
    cam->locate();
    EXPECT_FALSE(cam->dirty());
    EXPECT_TRUE(isTranslationZ(modelView(), -FLT_EPSILON));
    EXPECT_EQ(CCCamera::getZEye(), 1.1920929e-07f);
}

TEST_F(CameraTest, EyeOneAboveTheCentreIsATranslationAndRestoreUndoesIt) {
    auto cam = camera();
    cam->setEyeX(0, 0, 1);
    EXPECT_TRUE(cam->dirty());
    cam->locate();
    EXPECT_TRUE(isTranslationZ(modelView(), -1));

    cam->restore();
    float x, y, z;
    cam->eyeX(&x, &y, &z);
    EXPECT_TRUE(x == 0 && y == 0 && z == CCCamera::getZEye());
    cam->upX(&x, &y, &z);
    EXPECT_TRUE(x == 0 && y == 1 && z == 0);
    matrixLoadIdentity();
    cam->locate();
    EXPECT_TRUE(isTranslationZ(modelView(), 0));
}

TEST_F(CameraTest, LocateMultipliesTheLookAtOntoTheCurrentMatrix) {
    auto cam = camera();
    cam->setEyeX(30, -20, 150);
    cam->setCenterX(10, 5, -2);
    cam->setUpX(0.3f, 1, 0);
    float x, y, z;
    cam->centerX(&x, &y, &z);
    EXPECT_TRUE(x == 10 && y == 5 && z == -2);

    // As a node applies it: about its anchor point, after its own transform.
    matrixTranslate(50, 60, 0);
    matrixTranslate(8, 8, 0);
    cam->locate();
    matrixTranslate(-8, -8, 0);
    const glm::mat4 expected =
        glm::translate(glm::mat4(1.0f), glm::vec3(58, 68, 0)) *
        glm::lookAt(glm::vec3(30, -20, 150), glm::vec3(10, 5, -2), glm::vec3(0.3f, 1, 0)) *
        glm::translate(glm::mat4(1.0f), glm::vec3(-8, -8, 0));
    const kmMat4 m = modelView();
    const float* e = glm::value_ptr(expected);
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(m.mat[i], e[i], 1e-4f * std::max(1.0f, std::fabs(e[i]))) << i;
}

TEST_F(CameraTest, EyeOnTheCentreGivesAFiniteMatrix) {
    auto cam = camera();
    cam->setEyeX(5, 5, 0);
    cam->setCenterX(5, 5, 0);
    cam->locate();
    for (float f : modelView().mat)
        EXPECT_TRUE(std::isfinite(f));
}

TEST_F(CameraTest, DescriptionShowsTheCentre) {
    auto cam = camera();
    cam->setCenterX(1.5f, -2, 0.126f);
    EXPECT_EQ(cam->description(), platform::format("<CCCamera = %p | center = (1.50,-2.00,0.13)>",
                                                   static_cast<const void*>(cam.get())));
}
