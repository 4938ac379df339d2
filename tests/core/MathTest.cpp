#include "core/CCMatrix.h"
#include "core/CCPointExtension.h"

#include "platform/Exception.h"

#include <glm/glm.hpp>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/type_ptr.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace {

// GLM stores column-major too, so the 16 floats compare index by index.
::testing::AssertionResult nearGlm(const kmMat4& m, const glm::mat4& g, float relTol = 2e-6f) {
    const float* e = glm::value_ptr(g);
    for (int i = 0; i < 16; ++i) {
        const float tol = relTol * std::max(1.0f, std::fabs(e[i]));
        if (!(std::fabs(m.mat[i] - e[i]) <= tol))
            return ::testing::AssertionFailure() << "index " << i << ": " << m.mat[i] << " vs " << e[i];
    }
    return ::testing::AssertionSuccess();
}

glm::mat4 toGlm(const kmMat4& m) {
    return glm::make_mat4(m.mat);
}

kmMat4 fromList(std::initializer_list<float> values) {
    kmMat4 m{};
    std::copy(values.begin(), values.end(), m.mat);
    return m;
}

bool isIdentity(const kmMat4& m) {
    kmMat4 id;
    mat4Identity(&id);
    return std::memcmp(m.mat, id.mat, sizeof(m.mat)) == 0;
}

// Value equality: 0 and -0 are the same entry.
bool sameMatrix(const kmMat4& a, const kmMat4& b) {
    return std::equal(a.mat, a.mat + 16, b.mat);
}

bool allFinite(const kmMat4& m) {
    for (float f : m.mat)
        if (!std::isfinite(f)) return false;
    return true;
}

kmMat4 sample() {
    // A general, well-conditioned matrix with no zero pivots on the diagonal.
    return fromList({2, 1, 0, 0.5f, -1, 3, 2, 0, 0.25f, -2, 4, 1, 5, 6, -7, 1});
}

struct StackReset : ::testing::Test {
    void SetUp() override { matrixFreeAll(); }
    void TearDown() override { matrixFreeAll(); }
};

} // namespace

// ---- Matrices against GLM ----

TEST(MatrixTest, MultiplyMatchesGlmAndAllowsAliasing) {
    kmMat4 a = sample();
    kmMat4 b;
    mat4Translation(&b, 3, -4, 5);
    b.mat[1] = 0.5f;
    b.mat[11] = -1;
    kmMat4 out;
    mat4Multiply(&out, &a, &b);
    EXPECT_TRUE(nearGlm(out, toGlm(a) * toGlm(b)));

    kmMat4 left = a;
    mat4Multiply(&left, &left, &b);
    EXPECT_EQ(std::memcmp(left.mat, out.mat, sizeof(out.mat)), 0);
    kmMat4 right = b;
    mat4Multiply(&right, &a, &right);
    EXPECT_EQ(std::memcmp(right.mat, out.mat, sizeof(out.mat)), 0);
}

TEST(MatrixTest, OrthographicMatchesGlmIncludingTheTwoDimensionalDirectorProjection) {
    kmMat4 m;
    mat4Orthographic(&m, 0, 480, 0, 320, -1024, 1024);
    EXPECT_TRUE(nearGlm(m, glm::ortho(0.0f, 480.0f, 0.0f, 320.0f, -1024.0f, 1024.0f)));
    // The window's corners land on the corners of clip space.
    kmVec3 corner{480, 320, 0}, clip;
    vec3TransformCoord(&clip, &corner, &m);
    EXPECT_FLOAT_EQ(clip.x, 1);
    EXPECT_FLOAT_EQ(clip.y, 1);

    mat4Orthographic(&m, -3, 7, 2, -5, 0.5f, 40);
    EXPECT_TRUE(nearGlm(m, glm::ortho(-3.0f, 7.0f, 2.0f, -5.0f, 0.5f, 40.0f)));
}

TEST(MatrixTest, PerspectiveMatchesGlmWithTheEnginesDegreeConstant) {
    const float w = 480, h = 320, zEye = h / 1.1566f;
    kmMat4 m;
    ASSERT_EQ(mat4Perspective(&m, 60, w / h, 0.1f, 2 * zEye), &m);
    // GLM takes radians; hand it the same single-precision half angle.
    const float half = 30.0f * 0.017453f;
    EXPECT_TRUE(nearGlm(m, glm::perspective(2 * half, w / h, 0.1f, 2 * zEye)));
    // The constant is short of pi/180: still within 1e-4 of the exact projection.
    EXPECT_TRUE(nearGlm(m, glm::perspective(glm::radians(60.0f), w / h, 0.1f, 2 * zEye), 1e-4f));
    EXPECT_EQ(m.mat[15], 0.0f);
    EXPECT_EQ(m.mat[11], -1.0f);

    mat4Perspective(&m, 45, 0.75f, 1, 100);
    EXPECT_TRUE(nearGlm(m, glm::perspective(2 * (22.5f * 0.017453f), 0.75f, 1.0f, 100.0f)));
}

TEST(MatrixTest, PerspectiveFailsWithoutTouchingTheOutput) {
    kmMat4 m = sample();
    const kmMat4 before = m;
    EXPECT_EQ(mat4Perspective(&m, 60, 0, 0.1f, 100), nullptr);
    EXPECT_EQ(mat4Perspective(&m, 60, 1.5f, 10, 10), nullptr);
    EXPECT_EQ(mat4Perspective(&m, 0, 1.5f, 0.1f, 100), nullptr);
    EXPECT_EQ(std::memcmp(m.mat, before.mat, sizeof(m.mat)), 0);
}

TEST(MatrixTest, LookAtMatchesGlmIncludingTheThreeDimensionalDirectorView) {
    const float w = 480, h = 320, zEye = h / 1.1566f;
    kmVec3 eye{w / 2, h / 2, zEye}, center{w / 2, h / 2, 0}, up{0, 1, 0};
    kmMat4 m;
    mat4LookAt(&m, &eye, &center, &up);
    EXPECT_TRUE(nearGlm(
        m, glm::lookAt(glm::vec3(w / 2, h / 2, zEye), glm::vec3(w / 2, h / 2, 0), glm::vec3(0, 1, 0))));

    // An oblique view with an up vector that is neither unit nor perpendicular.
    vec3Fill(&eye, 3, -2, 7);
    vec3Fill(&center, -1, 4, 0.5f);
    vec3Fill(&up, 0.2f, 3, 1);
    mat4LookAt(&m, &eye, &center, &up);
    EXPECT_TRUE(
        nearGlm(m, glm::lookAt(glm::vec3(3, -2, 7), glm::vec3(-1, 4, 0.5f), glm::vec3(0.2f, 3, 1)), 1e-5f));
}

TEST(MatrixTest, LookAtWithoutADirectionStaysFinite) {
    kmVec3 eye{1, 2, 3}, up{0, 1, 0};
    kmMat4 m;
    mat4LookAt(&m, &eye, &eye, &up);
    EXPECT_TRUE(allFinite(m));
    // An up vector along the view direction has no sideways axis.
    kmVec3 above{1, 7, 3};
    mat4LookAt(&m, &eye, &above, &up);
    EXPECT_TRUE(allFinite(m));
    kmVec3 zero{0, 0, 0}, v{3, 4, 0}, n;
    EXPECT_FLOAT_EQ(vec3Length(&v), 5);
    vec3Normalize(&n, &zero);
    EXPECT_TRUE(n.x == 0 && n.y == 0 && n.z == 0);
}

TEST(MatrixTest, InverseMatchesGlmAndUndoesTheMatrix) {
    kmMat4 a = sample(), inv, product;
    ASSERT_EQ(mat4Inverse(&inv, &a), &inv);
    EXPECT_TRUE(nearGlm(inv, glm::inverse(toGlm(a)), 1e-5f));
    mat4Multiply(&product, &a, &inv);
    EXPECT_TRUE(nearGlm(product, glm::mat4(1.0f), 1e-5f));

    // The director's 3D view-projection, the matrix a touch is unprojected through.
    kmMat4 proj, view, vp;
    kmVec3 eye{240, 160, 276.68f}, center{240, 160, 0}, up{0, 1, 0};
    mat4Perspective(&proj, 60, 1.5f, 0.1f, 553.36f);
    mat4LookAt(&view, &eye, &center, &up);
    mat4Multiply(&vp, &proj, &view);
    ASSERT_NE(mat4Inverse(&inv, &vp), nullptr);
    EXPECT_TRUE(nearGlm(inv, glm::inverse(toGlm(vp)), 1e-4f));

    // Zeros on the whole diagonal: only full pivoting gets through.
    kmMat4 perm = fromList({0, 0, 2, 0, 0, 0, 0, 3, 0, 5, 0, 0, 7, 0, 0, 0});
    ASSERT_NE(mat4Inverse(&inv, &perm), nullptr);
    EXPECT_TRUE(nearGlm(inv, glm::inverse(toGlm(perm))));
    // In place.
    kmMat4 same = a;
    ASSERT_NE(mat4Inverse(&same, &same), nullptr);
    EXPECT_TRUE(nearGlm(same, glm::inverse(toGlm(a)), 1e-5f));
}

TEST(MatrixTest, SingularMatrixHasNoInverseAndTheOutputIsKept) {
    kmMat4 singular = fromList({1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 1, 5, 0, 0, 1}); // column 1 = 2 x column 0
    kmMat4 out = sample();
    const kmMat4 before = out;
    EXPECT_EQ(mat4Inverse(&out, &singular), nullptr);
    kmMat4 zero{};
    EXPECT_EQ(mat4Inverse(&out, &zero), nullptr);
    EXPECT_EQ(std::memcmp(out.mat, before.mat, sizeof(out.mat)), 0);
}

TEST(MatrixTest, AffineTransformBecomesAGlMatrixThatMovesPointsAlike) {
    CGAffineTransform t = CGAffineTransformRotate(CGAffineTransformMakeTranslation(10, -5), 0.5);
    t = CGAffineTransformScale(t, 2, 3);
    kmMat4 m;
    affineToGLMatrix(t, m.mat);
    EXPECT_EQ(m.mat[2], 0.0f);
    EXPECT_EQ(m.mat[10], 1.0f);
    EXPECT_EQ(m.mat[15], 1.0f);
    kmVec4 p{4, 7, 0, 1}, r;
    vec4MultiplyMat4(&r, &p, &m);
    const CGPoint expected = CGPointApplyAffineTransform(CGPointMake(4, 7), t);
    EXPECT_NEAR(r.x, expected.x, 1e-4);
    EXPECT_NEAR(r.y, expected.y, 1e-4);
    EXPECT_EQ(r.w, 1.0f);
}

TEST(MatrixTest, TransformCoordDividesByW) {
    kmMat4 proj;
    mat4Perspective(&proj, 90, 1, 1, 10);
    kmVec3 p{2, 1, -4}, out;
    vec3TransformCoord(&out, &p, &proj);
    const glm::vec4 g = glm::perspective(2 * (45.0f * 0.017453f), 1.0f, 1.0f, 10.0f) * glm::vec4(2, 1, -4, 1);
    EXPECT_NEAR(out.x, g.x / g.w, 1e-5);
    EXPECT_NEAR(out.y, g.y / g.w, 1e-5);
    EXPECT_NEAR(out.z, g.z / g.w, 1e-5);
}

// ---- The process-wide stacks ----

TEST_F(StackReset, StacksAppearOnFirstUseEachWithOneIdentity) {
    kmMat4 m = sample();
    const kmMat4 before = m;
    matrixGet(0x1703, &m);
    EXPECT_EQ(std::memcmp(m.mat, before.mat, sizeof(m.mat)), 0);
    for (std::uint32_t mode : {kCCMatrixModeModelView, kCCMatrixModeProjection, kCCMatrixModeTexture}) {
        matrixGet(mode, &m);
        EXPECT_TRUE(isIdentity(m));
    }
    // Model-view is current, and an unknown mode keeps it so.
    matrixMode(0x1703);
    matrixTranslate(1, 2, 3);
    matrixGet(kCCMatrixModeModelView, &m);
    EXPECT_EQ(m.mat[12], 1.0f);
    // One matrix each: the first pop is already one too many.
    EXPECT_THROW(matrixPop(), platform::Exception);
}

TEST_F(StackReset, PushPopAndModesKeepTheStacksApart) {
    kmMat4 ortho, m;
    mat4Orthographic(&ortho, 0, 480, 0, 320, -1024, 1024);
    matrixMode(kCCMatrixModeProjection);
    matrixLoadIdentity();
    matrixMultiply(&ortho);
    matrixMode(kCCMatrixModeModelView);
    matrixPush();
    matrixTranslate(10, 20, 0);
    matrixPush();
    kmMat4 scale = fromList({2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    matrixMultiply(&scale);
    matrixGet(kCCMatrixModeModelView, &m);
    // Translate then scale on the right: a point is scaled first, then moved.
    kmVec3 p{1, 1, 0}, q;
    vec3TransformCoord(&q, &p, &m);
    EXPECT_FLOAT_EQ(q.x, 12);
    EXPECT_FLOAT_EQ(q.y, 22);
    matrixPop();
    matrixGet(kCCMatrixModeModelView, &m);
    EXPECT_EQ(m.mat[0], 1.0f);
    EXPECT_EQ(m.mat[12], 10.0f);
    matrixPop();
    matrixGet(kCCMatrixModeModelView, &m);
    EXPECT_TRUE(isIdentity(m));
    matrixGet(kCCMatrixModeProjection, &m);
    EXPECT_TRUE(sameMatrix(m, ortho));
    matrixGet(kCCMatrixModeTexture, &m);
    EXPECT_TRUE(isIdentity(m));
}

TEST_F(StackReset, PoppingTheBottomOrBeforeTheStacksExistThrows) {
    try {
        matrixPop();
        FAIL() << "pop before the stacks exist";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), platform::NSInternalInconsistencyException);
    }
    EXPECT_THROW(matrixTranslate(1, 0, 0), platform::Exception);

    matrixMode(kCCMatrixModeProjection);
    matrixPush();
    matrixPop();
    EXPECT_THROW(matrixPop(), platform::Exception);
    // The failed pop left the bottom matrix usable.
    matrixLoadIdentity();
    kmMat4 m;
    matrixGet(kCCMatrixModeProjection, &m);
    EXPECT_TRUE(isIdentity(m));
}

TEST_F(StackReset, FreeingTheStacksStartsThemAfresh) {
    matrixMode(kCCMatrixModeTexture);
    matrixTranslate(5, 5, 5);
    matrixPush();
    matrixFreeAll();
    matrixPush(); // recreates, then pushes on model-view
    kmMat4 m;
    matrixGet(kCCMatrixModeTexture, &m);
    EXPECT_TRUE(isIdentity(m));
    matrixTranslate(1, 0, 0);
    matrixGet(kCCMatrixModeModelView, &m);
    EXPECT_EQ(m.mat[12], 1.0f);
    matrixPop();
    EXPECT_THROW(matrixPop(), platform::Exception);
}

TEST(MatrixStackTest, GrowsByFiftyWhenFullKeepingItsContents) {
    kmMat4Stack stack;
    matrixStackInit(&stack);
    EXPECT_EQ(stack.capacity, 30u);
    EXPECT_EQ(stack.itemCount, 0);
    EXPECT_EQ(stack.top, nullptr);
    kmMat4 m;
    for (int i = 0; i < 30; ++i) {
        matrixStackPush(&stack, mat4Translation(&m, static_cast<float>(i), 0, 0));
        EXPECT_EQ(stack.top->mat[12], static_cast<float>(i));
    }
    EXPECT_EQ(stack.capacity, 80u);
    EXPECT_EQ(stack.itemCount, 30);
    EXPECT_EQ(stack.top, &stack.slots[29]);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(stack.slots[i].mat[12], static_cast<float>(i));
    // Pushing the top itself across the next growth copies it before the slots move.
    for (int i = 30; i < 80; ++i)
        matrixStackPush(&stack, stack.top);
    EXPECT_EQ(stack.capacity, 130u);
    EXPECT_EQ(stack.top->mat[12], 29.0f);

    for (int i = 79; i > 0; --i)
        matrixStackPop(&stack);
    EXPECT_EQ(stack.top, &stack.slots[0]);
    matrixStackPop(&stack);
    EXPECT_EQ(stack.top, nullptr);
    EXPECT_THROW(matrixStackPop(&stack), platform::Exception);

    matrixStackRelease(&stack);
    EXPECT_EQ(stack.capacity, 0u);
    EXPECT_EQ(stack.slots, nullptr);
    // A released stack takes pushes again instead of writing through a null slot array.
    matrixStackPush(&stack, mat4Identity(&m));
    EXPECT_TRUE(isIdentity(*stack.top));
    matrixStackRelease(&stack);
}

// ---- Scalars and points ----

TEST(PointTest, ScalarsClampAndConvert) {
    EXPECT_EQ(clampFloat(5, 10, 0), 5.0f);
    EXPECT_EQ(clampFloat(-1, 10, 0), 0.0f);
    EXPECT_EQ(clampFloat(11, 0, 10), 10.0f);
    EXPECT_EQ(maxFloat(2, 3), 3.0f);
    // The short constant is part of the projection's numbers; pi/180 would shift them.
    EXPECT_EQ(degreesToRadians(180), 180 * 0.017453f);
    const CGPoint c = pointClamp(ccp(1.5, -0.5), ccp(1, 1), ccp(0, 0));
    EXPECT_EQ(c.x, 1.0);
    EXPECT_EQ(c.y, 0.0);
}

TEST(PointTest, LengthNormalizeLerpAndRotate) {
    EXPECT_FLOAT_EQ(pointLength(ccp(3, 4)), 5);
    const CGPoint n = pointNormalize(ccp(0, -8));
    EXPECT_FLOAT_EQ(n.x, 0);
    EXPECT_FLOAT_EQ(n.y, -1);
    EXPECT_EQ(pointNormalize(CGPointZero), CGPointZero);
    const CGPoint l = pointLerp(ccp(0, 10), ccp(10, 20), 0.25f);
    EXPECT_DOUBLE_EQ(l.x, 2.5);
    EXPECT_DOUBLE_EQ(l.y, 12.5);
    // A quarter turn anticlockwise about (1, 1).
    const CGPoint r = pointRotateAround(ccp(2, 1), ccp(1, 1), static_cast<float>(M_PI / 2));
    EXPECT_NEAR(r.x, 1, 1e-6);
    EXPECT_NEAR(r.y, 2, 1e-6);
}

TEST(LineTest, SegmentIntersectFindsParametersAndTellsParallelFromOverlapping) {
    float s = -1, t = -1;
    ASSERT_TRUE(segmentIntersect(ccp(0, 0), ccp(4, 4), ccp(0, 4), ccp(4, 0), &s, &t));
    EXPECT_FLOAT_EQ(s, 0.5f);
    EXPECT_FLOAT_EQ(t, 0.5f);
    // Lines, not segments: the crossing may lie beyond either end.
    ASSERT_TRUE(segmentIntersect(ccp(0, 0), ccp(1, 0), ccp(3, -1), ccp(3, 1), &s, &t));
    EXPECT_FLOAT_EQ(s, 3);
    EXPECT_FLOAT_EQ(t, 0.5f);

    EXPECT_TRUE(segmentIntersect(ccp(0, 0), ccp(2, 0), ccp(1, 0), ccp(3, 0), &s, &t));
    EXPECT_FALSE(segmentIntersect(ccp(0, 0), ccp(2, 0), ccp(0, 1), ccp(2, 1), &s, &t));
    EXPECT_FALSE(segmentIntersect(ccp(1, 1), ccp(1, 1), ccp(0, 0), ccp(2, 2), &s, &t));
    EXPECT_FALSE(segmentIntersect(ccp(0, 0), ccp(2, 2), ccp(5, 5), ccp(5, 5), &s, &t));
}

TEST(LineTest, LineIntersectGivesTheFractionAlongTheFirstLine) {
    float t = -1;
    ASSERT_TRUE(lineIntersect({1, 1}, {5, 1}, {2, 0}, {2, 3}, &t));
    EXPECT_FLOAT_EQ(t, 0.25f);
    // A tilted first line: AB from (0,0) to (2,2), CD crossing at (1.5, 1.5).
    ASSERT_TRUE(lineIntersect({0, 0}, {2, 2}, {0, 3}, {3, 0}, &t));
    EXPECT_NEAR(t, 0.75f, 1e-6);
    EXPECT_FALSE(lineIntersect({0, 0}, {2, 0}, {0, 1}, {5, 1}, &t));
    EXPECT_FALSE(lineIntersect({0, 0}, {0, 0}, {0, 1}, {5, 2}, &t));
    EXPECT_FALSE(lineIntersect({0, 0}, {1, 0}, {3, 3}, {3, 3}, &t));
}

namespace {
void expectVertex(_ccVertex2F v, float x, float y) {
    EXPECT_NEAR(v.x, x, 1e-5) << "vertex (" << v.x << ", " << v.y << ")";
    EXPECT_NEAR(v.y, y, 1e-5) << "vertex (" << v.x << ", " << v.y << ")";
}
} // namespace

TEST(LineTest, PolylineBecomesAStripOfTheStrokeWidth) {
    const CGPoint straight[] = {{0, 0}, {10, 0}, {20, 0}};
    _ccVertex2F v[6];
    lineToPolygon(straight, v, 0, 3, 4);
    // The middle point is at 180 degrees: its offset is perpendicular like the ends'.
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(std::fabs(v[2 * i].y), 2, 1e-5);
        EXPECT_NEAR(v[2 * i].y, -v[2 * i + 1].y, 1e-5);
        EXPECT_NEAR(v[2 * i].x, 10 * i, 1e-5);
    }
    // Consistent sides, so the strip does not twist.
    EXPECT_EQ(v[0].y, v[2].y);
    EXPECT_EQ(v[2].y, v[4].y);

    // A right angle: the corner's pair sits on the bisector (between 70 and 170 degrees).
    const CGPoint corner[] = {{0, 0}, {10, 0}, {10, 10}};
    lineToPolygon(corner, v, 0, 3, 2);
    const float d = static_cast<float>(std::sqrt(0.5));
    const _ccVertex2F inner = v[2].x < 10 ? v[2] : v[3];
    const _ccVertex2F outer = v[2].x < 10 ? v[3] : v[2];
    expectVertex(inner, 10 - d, d);
    expectVertex(outer, 10 + d, -d);
}

TEST(LineTest, PolylineWritesOnlyFromTheOffsetAndNeedsTwoPoints) {
    const CGPoint pts[] = {{0, 0}, {10, 0}, {20, 0}, {30, 0}};
    _ccVertex2F v[8];
    for (auto& x : v)
        x = {-99, -99};
    lineToPolygon(pts, v, 0, 1, 2);
    expectVertex(v[0], -99, -99);
    lineToPolygon(pts, v, 0, 0, 2);
    expectVertex(v[0], -99, -99);

    lineToPolygon(pts, v, 2, 2, 2);
    for (int i = 0; i < 4; ++i)
        expectVertex(v[i], -99, -99);
    for (int i = 4; i < 8; ++i)
        EXPECT_NEAR(std::fabs(v[i].y), 1, 1e-5);
}

TEST(LineTest, PolylineWithRepeatedPointsOrAReversalStaysFinite) {
    const CGPoint repeated[] = {{0, 0}, {0, 0}, {5, 5}, {5, 5}, {5, 5}, {0, 5}};
    _ccVertex2F v[12];
    lineToPolygon(repeated, v, 0, 6, 3);
    for (const auto& x : v)
        EXPECT_TRUE(std::isfinite(x.x) && std::isfinite(x.y));

    // Doubling straight back along (1, 11): the cosine rounds past 1, yet the turn counts as
    // 0 degrees and the pair stays across the line, one stroke apart.
    const CGPoint reversal[] = {{0, 0}, {1, 11}, {0, 0}};
    _ccVertex2F r[6];
    lineToPolygon(reversal, r, 0, 3, 2);
    for (const auto& x : r)
        EXPECT_TRUE(std::isfinite(x.x) && std::isfinite(x.y));
    EXPECT_NEAR(std::hypot(r[2].x - r[3].x, r[2].y - r[3].y), 2, 1e-5);
    EXPECT_NEAR((r[2].x - 1) * 1 + r[2].y * 11 - 11 * 11, 0, 1e-3); // perpendicular to (1, 11)
}

TEST(SizeTest, NextPowerOfTwo) {
    EXPECT_EQ(nextPowerOfTwo(0), 0u);
    EXPECT_EQ(nextPowerOfTwo(1), 1u);
    EXPECT_EQ(nextPowerOfTwo(2), 2u);
    EXPECT_EQ(nextPowerOfTwo(3), 4u);
    EXPECT_EQ(nextPowerOfTwo(480), 512u);
    EXPECT_EQ(nextPowerOfTwo(1024), 1024u);
    EXPECT_EQ(nextPowerOfTwo(1025), 2048u);
    EXPECT_EQ(nextPowerOfTwo((1ull << 31) + 1), 1ull << 32);
    EXPECT_EQ(nextPowerOfTwo(1ull << 32), 1ull << 32);
    EXPECT_EQ(nextPowerOfTwo((1ull << 32) + 1), 1ull << 33);
}
