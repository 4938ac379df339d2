#include "graphics/CCDrawNode.h"

#include "core/CCLayer.h"
#include "core/CCPointExtension.h"
#include "core/CCShaderCache.h"
#include "tests/graphics/SpriteTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using fltest::colorNear;

constexpr std::uint32_t kBlack = 0x000000FFu;
constexpr _ccColor4F kRed{1, 0, 0, 1}, kGreen{0, 1, 0, 1}, kBlue{0, 0, 1, 1}, kClear{0, 0, 0, 0};

class DrawNodeTest : public fltest::SpriteFixture {
protected:
    // Draws the node alone in a fresh scene.
    void drawAlone(CCNode* node) {
        auto scene = CCScene::node();
        scene->addChild(node);
        drawFrame(scene.get());
    }
};

void expectVertex(const _ccV2F_C4B_T2F& v, float x, float y, float u, float w, const char* what) {
    EXPECT_FLOAT_EQ(v.vertices.x, x) << what;
    EXPECT_FLOAT_EQ(v.vertices.y, y) << what;
    EXPECT_NEAR(v.texCoords.u, u, 1e-6) << what;
    EXPECT_NEAR(v.texCoords.v, w, 1e-6) << what;
}

// ---- the buffer ----

TEST_F(DrawNodeTest, StartsWithRoomFor512VerticesAndTheLengthProgram) {
    auto node = CCDrawNode::node();
    ASSERT_TRUE(node);
    EXPECT_EQ(node->bufferCapacity(), 512u);
    EXPECT_EQ(node->bufferCount(), 0);
    EXPECT_TRUE((node->blendFunc() == _ccBlendFunc{GL_ONE, GL_ONE_MINUS_SRC_ALPHA}));
    EXPECT_EQ(node->shaderProgram(),
              CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionLengthTextureColor));
}

TEST_F(DrawNodeTest, BufferGrowsByAtLeastItsCapacityAndKeepsItsShapes) {
    auto node = CCDrawNode::node();
    node->drawDot(ccp(1, 2), 1, kRed);
    const _ccV2F_C4B_T2F first = node->buffer()[0];

    // 100 points make 3 * (3 * 100 - 2) = 894 vertices: 6 + 894 > 512, so the capacity grows
    // by max(512, 894).
    std::vector<CGPoint> circle;
    for (int i = 0; i < 100; ++i)
        circle.push_back(ccp(32 + 20 * std::cos(i * 0.0628), 32 + 20 * std::sin(i * 0.0628)));
    node->drawPolyWithVerts(circle.data(), circle.size(), kGreen, 0, kClear);
    EXPECT_EQ(node->bufferCount(), 900);
    EXPECT_EQ(node->bufferCapacity(), 1406u);
    EXPECT_EQ(std::memcmp(&node->buffer()[0], &first, sizeof first), 0);

    // Within the capacity nothing moves; past it, it doubles.
    node->drawSegmentFrom(ccp(0, 0), ccp(1, 1), 1, kRed);
    EXPECT_EQ(node->bufferCapacity(), 1406u);
    EXPECT_TRUE(node->ensureCapacity(1000));
    EXPECT_EQ(node->bufferCapacity(), 2812u);
    EXPECT_EQ(node->bufferCount(), 918);

    // A request no buffer can hold is refused and changes nothing.
    EXPECT_FALSE(node->ensureCapacity(std::numeric_limits<std::uint64_t>::max() - 10));
    EXPECT_FALSE(node->ensureCapacity(std::uint64_t(1) << 40));
    EXPECT_EQ(node->bufferCapacity(), 2812u);

    node->clear();
    EXPECT_EQ(node->bufferCount(), 0);
    EXPECT_EQ(node->bufferCapacity(), 2812u);
}

TEST_F(DrawNodeTest, ColoursAreTruncatedToBytesAndHeldInRange) {
    auto node = CCDrawNode::node();
    node->drawDot(ccp(0, 0), 1, ccc4f(0.5f, 1.5f, -1, std::numeric_limits<float>::quiet_NaN()));
    const _ccColor4B c = node->buffer()[0].colors;
    EXPECT_EQ(c.r, 127);
    EXPECT_EQ(c.g, 255);
    EXPECT_EQ(c.b, 0);
    EXPECT_EQ(c.a, 0);
}

// ---- geometry ----

TEST_F(DrawNodeTest, DotIsASquareOfTwoTrianglesWithCornerLengths) {
    auto node = CCDrawNode::node();
    node->drawDot(ccp(10, 20), 3, kRed);
    ASSERT_EQ(node->bufferCount(), 6);
    const _ccV2F_C4B_T2F* v = node->buffer();
    expectVertex(v[0], 7, 17, -1, -1, "0");
    expectVertex(v[1], 7, 23, -1, 1, "1");
    expectVertex(v[2], 13, 23, 1, 1, "2");
    expectVertex(v[3], 7, 17, -1, -1, "3");
    expectVertex(v[4], 13, 23, 1, 1, "4");
    expectVertex(v[5], 13, 17, 1, -1, "5");
}

TEST_F(DrawNodeTest, SegmentIsARectangleWithSquareCapsOfDepthRadius) {
    auto node = CCDrawNode::node();
    node->drawSegmentFrom(ccp(10, 10), ccp(30, 10), 2, kRed);
    ASSERT_EQ(node->bufferCount(), 18);
    const _ccV2F_C4B_T2F* v = node->buffer();
    // n = (0, 1), t = (-1, 0): the caps reach 2 beyond each end.
    expectVertex(v[0], 32, 8, 1, -1, "P0");
    expectVertex(v[1], 32, 12, 1, 1, "P1");
    expectVertex(v[2], 30, 8, 0, -1, "P2");
    expectVertex(v[3], 30, 12, 0, 1, "P3");
    expectVertex(v[7], 10, 8, 0, -1, "P4");
    expectVertex(v[11], 10, 12, 0, 1, "P5");
    expectVertex(v[12], 8, 8, -1, -1, "P6");
    expectVertex(v[16], 8, 12, -1, 1, "P7");

    // A segment of no length still gives finite vertices.
    node->clear();
    node->drawSegmentFrom(ccp(5, 5), ccp(5, 5), 2, kRed);
    for (int i = 0; i < node->bufferCount(); ++i)
        EXPECT_TRUE(std::isfinite(node->buffer()[i].vertices.x) &&
                    std::isfinite(node->buffer()[i].vertices.y));
}

TEST_F(DrawNodeTest, PolygonWithoutBorderGetsAHalfUnitFringeInTheFillColour) {
    auto node = CCDrawNode::node();
    const CGPoint square[] = {ccp(0, 0), ccp(10, 0), ccp(10, 10), ccp(0, 10)};
    node->drawPolyWithVerts(square, 4, kGreen, 0, kBlue);
    ASSERT_EQ(node->bufferCount(), 30);
    const _ccV2F_C4B_T2F* v = node->buffer();
    // Corner offsets are (+-1, +-1): the fill moves half of that, the fringe spans it.
    expectVertex(v[0], -0.5f, -0.5f, 0, 0, "fill 0");
    expectVertex(v[1], 10.5f, -0.5f, 0, 0, "fill 1");
    expectVertex(v[2], 10.5f, 10.5f, 0, 0, "fill 2");
    // First edge, (0,0)-(10,0), normal (0, 1).
    expectVertex(v[6], -0.5f, -0.5f, 0, 0, "inner i");
    expectVertex(v[8], 9.5f, 0.5f, 0, 1, "outer j");
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(v[i].colors, ccc4(0, 255, 0, 255)) << i;

    // With a visible border, the fill is not moved and the edges take the border colour.
    node->clear();
    node->drawPolyWithVerts(square, 4, kGreen, 2, kBlue);
    ASSERT_EQ(node->bufferCount(), 30);
    expectVertex(v[0], 0, 0, 0, 0, "fill 0");
    expectVertex(v[6], -2, -2, 0, -1, "inner i");
    expectVertex(v[7], 12, -2, 0, -1, "inner j");
    expectVertex(v[8], 8, 2, 0, 1, "outer j");
    EXPECT_EQ(v[6].colors, ccc4(0, 0, 255, 255));
}

TEST_F(DrawNodeTest, DegeneratePolygonsAreSkippedOrStayFinite) {
    auto node = CCDrawNode::node();
    const CGPoint pts[] = {ccp(0, 0), ccp(10, 0), ccp(10, 10)};
    node->drawPolyWithVerts(nullptr, 3, kGreen, 1, kBlue);
    node->drawPolyWithVerts(pts, 0, kGreen, 1, kBlue);
    node->drawPolyWithVerts(pts, 1, kGreen, 1, kBlue);
    EXPECT_EQ(node->bufferCount(), 0);
    EXPECT_EQ(node->bufferCapacity(), 512u);

    // Two points: each edge turns straight back, where the mitre has no finite length.
    node->drawPolyWithVerts(pts, 2, kGreen, 1, kBlue);
    ASSERT_EQ(node->bufferCount(), 12);
    // A repeated point makes an edge of no length.
    const CGPoint repeated[] = {ccp(0, 0), ccp(0, 0), ccp(10, 0), ccp(10, 10)};
    node->drawPolyWithVerts(repeated, 4, kGreen, 0, kClear);
    ASSERT_EQ(node->bufferCount(), 12 + 30);
    for (int i = 0; i < node->bufferCount(); ++i) {
        const _ccV2F_C4B_T2F& v = node->buffer()[i];
        EXPECT_TRUE(std::isfinite(v.vertices.x) && std::isfinite(v.vertices.y) &&
                    std::isfinite(v.texCoords.u) && std::isfinite(v.texCoords.v))
            << i;
    }
}

// ---- drawing ----

TEST_F(DrawNodeTest, ShapesDrawAntialiasedAtTheirPixels) {
    auto node = CCDrawNode::node();
    node->drawDot(ccp(16, 48), 6, kRed);
    node->drawSegmentFrom(ccp(30, 56), ccp(52, 56), 3, kRed);
    const CGPoint square[] = {ccp(16, 8), ccp(48, 8), ccp(48, 32), ccp(16, 32)};
    node->drawPolyWithVerts(square, 4, kGreen, 2, kBlue);
    drawAlone(node.get());

    // Dot: solid in the middle, faded at the rim, nothing at the corners of its square.
    EXPECT_TRUE(colorNear(presentedPixel(16, 48), 0xFF0000FFu));
    const std::uint32_t rim = presentedPixel(21, 48);
    EXPECT_GT(rim >> 24, 0x10u);
    EXPECT_LT(rim >> 24, 0xF0u);
    EXPECT_TRUE(colorNear(presentedPixel(21, 53), kBlack));

    // Segment: solid along its line and within the round end, clear at the cap's corners.
    EXPECT_TRUE(colorNear(presentedPixel(40, 56), 0xFF0000FFu));
    EXPECT_TRUE(colorNear(presentedPixel(52, 56), 0xFF0000FFu));
    EXPECT_TRUE(colorNear(presentedPixel(54, 58), kBlack));
    EXPECT_TRUE(colorNear(presentedPixel(40, 61), kBlack));

    // Polygon: green inside, blue along the edges, black outside.
    EXPECT_TRUE(colorNear(presentedPixel(32, 20), 0x00FF00FFu));
    EXPECT_TRUE(colorNear(presentedPixel(32, 8), 0x0000FFFFu));
    EXPECT_TRUE(colorNear(presentedPixel(48, 20), 0x0000FFFFu));
    EXPECT_TRUE(colorNear(presentedPixel(32, 3), kBlack));
    EXPECT_TRUE(colorNear(presentedPixel(55, 20), kBlack));
}

TEST_F(DrawNodeTest, OneDrawCallAndUploadsOnlyAfterChanges) {
    auto node = CCDrawNode::node();
    node->drawDot(ccp(10, 10), 4, kRed);
    node->drawDot(ccp(40, 40), 4, kGreen);
    auto scene = CCScene::node();
    scene->addChild(node.get());
    drawFrame(scene.get());
    {
        // Unchanged shapes are drawn from the buffer as it is.
        fltest::GLCallCounter counter;
        director()->drawScene();
        EXPECT_EQ(counter.count("glDrawArrays"), 1u);
        EXPECT_EQ(counter.count("glBufferData"), 0u);
    }
    {
        fltest::GLCallCounter counter;
        node->drawDot(ccp(40, 20), 2, kBlue);
        director()->drawScene();
        EXPECT_EQ(counter.count("glDrawArrays"), 1u);
        EXPECT_EQ(counter.count("glBufferData"), 1u);
    }
    EXPECT_TRUE(colorNear(presentedPixel(40, 40), 0x00FF00FFu));

    // Cleared, the node draws nothing (but still makes its one call).
    node->clear();
    drawCallCounter = 0;
    drawFrame(scene.get());
    EXPECT_EQ(drawCallCounter, 1u);
    EXPECT_TRUE(colorNear(presentedPixel(10, 10), kBlack));
    EXPECT_TRUE(colorNear(presentedPixel(40, 40), kBlack));
}

TEST_F(DrawNodeTest, LeavesNoArrayBufferBoundForClientSideDrawing) {
    auto node = CCDrawNode::node();
    node->drawDot(ccp(10, 10), 4, kRed);
    // A colour layer drawn after it reads its vertices from client memory.
    auto scene = CCScene::node();
    scene->addChild(node.get());
    auto layer = CCLayerColor::layerWithColor(ccc4(0, 0, 255, 255), 8, 8);
    layer->setPosition(ccp(40, 40));
    scene->addChild(layer.get());
    drawFrame(scene.get());
    GLint bound = -1;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
    EXPECT_EQ(bound, 0);
    EXPECT_TRUE(colorNear(presentedPixel(44, 44), 0x0000FFFFu));
    EXPECT_TRUE(colorNear(presentedPixel(10, 10), 0xFF0000FFu));
}

} // namespace
