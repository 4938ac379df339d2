#include "graphics/CCProgressTimer.h"

#include "core/CCDirector.h"
#include "core/CCLayer.h"
#include "core/CCPointExtension.h"
#include "core/CCShaderCache.h"
#include "graphics/CCSprite.h"
#include "tests/graphics/SpriteTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

namespace {

using fltest::colorNear;
using fltest::makePlainTexture;
using fltest::makeTexture;

constexpr std::uint32_t kBlack = 0x000000FFu;
constexpr std::uint32_t kWhite = 0xFFFFFFFFu;

class ProgressTimerTest : public fltest::SpriteFixture {
protected:
    // A timer over a 32 x 16 sprite cut from the top-left of a 64 x 64 texture, so that alpha
    // points map to positions (32 x, 16 y) and texture coordinates (0.5 x, 0.25 (1 - y)).
    platform::Ref<CCProgressTimer> rectTimer() {
        texture = makePlainTexture(64, 64);
        auto sprite = CCSprite::spriteWithTexture(texture.get(), CGRectMake(0, 0, 32, 16));
        return CCProgressTimer::progressWithSprite(sprite.get());
    }

    // A timer over a plain 32 x 32 sprite, centred in the 64 x 64 view, drawn once.
    platform::Ref<CCProgressTimer> drawnTimer(std::uint32_t rgba,
                                              const std::function<void(CCProgressTimer*)>& setUp) {
        texture = makePlainTexture(32, 32, rgba);
        auto sprite = CCSprite::spriteWithTexture(texture.get());
        auto timer = CCProgressTimer::progressWithSprite(sprite.get());
        timer->setPosition(ccp(32, 32));
        setUp(timer.get());
        auto scene = CCScene::node();
        scene->addChild(timer.get());
        drawFrame(scene.get());
        return timer;
    }

    // Whether each quarter of the timer's square (top-left, top-right, bottom-left,
    // bottom-right, sampled at their centres) shows the colour.
    std::vector<bool> quartersShowing(std::uint32_t rgba) const {
        std::vector<bool> shown;
        for (auto [x, y] : {std::pair{24, 40}, {40, 40}, {24, 24}, {40, 24}})
            shown.push_back(static_cast<bool>(colorNear(presentedPixel(x, y), rgba)));
        return shown;
    }

    platform::Ref<CCTexture2D> texture;
};

// Position and texture coordinate of a vertex of rectTimer's timer, from its alpha point.
void expectAlpha(const _ccV2F_C4B_T2F& v, double ax, double ay, const char* what) {
    EXPECT_NEAR(v.vertices.x, 32 * ax, 1e-4) << what;
    EXPECT_NEAR(v.vertices.y, 16 * ay, 1e-4) << what;
    EXPECT_NEAR(v.texCoords.u, 0.5 * ax, 1e-6) << what;
    EXPECT_NEAR(v.texCoords.v, 0.25 * (1 - ay), 1e-6) << what;
}

// ---- creation and settings ----

TEST_F(ProgressTimerTest, StartsEmptyRadialAndCentredWithTheSpritesSize) {
    auto timer = rectTimer();
    ASSERT_TRUE(timer);
    EXPECT_EQ(timer->percentage(), 0);
    EXPECT_EQ(timer->type(), kCCProgressTimerTypeRadial);
    EXPECT_FALSE(timer->reverseDirection());
    EXPECT_EQ(timer->midpoint(), ccp(0.5, 0.5));
    EXPECT_EQ(timer->barChangeRate(), ccp(1, 1));
    EXPECT_EQ(timer->anchorPoint(), ccp(0.5, 0.5));
    EXPECT_EQ(timer->contentSize(), CGSizeMake(32, 16));
    EXPECT_EQ(timer->vertexData(), nullptr);
    EXPECT_EQ(timer->shaderProgram(),
              CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTextureColor));
}

TEST_F(ProgressTimerTest, PercentageAndMidpointAreHeldInRange) {
    auto timer = rectTimer();
    timer->setPercentage(150);
    EXPECT_EQ(timer->percentage(), 100);
    timer->setPercentage(-3);
    EXPECT_EQ(timer->percentage(), 0);
    timer->setPercentage(40);
    timer->setPercentage(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(timer->percentage(), 40);
    for (int i = 0; i < timer->vertexDataCount(); ++i) {
        EXPECT_FALSE(std::isnan(timer->vertexData()[i].vertices.x));
        EXPECT_FALSE(std::isnan(timer->vertexData()[i].vertices.y));
    }

    timer->setMidpoint(ccp(-1, 2));
    EXPECT_EQ(timer->midpoint(), ccp(0, 1));
}

TEST_F(ProgressTimerTest, BoundaryCornersRunClockwiseOrAnticlockwise) {
    auto timer = rectTimer();
    const CGPoint clockwise[] = {ccp(1, 1), ccp(1, 0), ccp(0, 0), ccp(0, 1)};
    const CGPoint anticlockwise[] = {ccp(0, 1), ccp(0, 0), ccp(1, 0), ccp(1, 1)};
    for (std::int8_t i = 0; i < 4; ++i)
        EXPECT_EQ(timer->boundaryTexCoord(i), clockwise[i]) << int(i);
    timer->setReverseDirection(true);
    for (std::int8_t i = 0; i < 4; ++i)
        EXPECT_EQ(timer->boundaryTexCoord(i), anticlockwise[i]) << int(i);
    // Indices outside the four corners, negative ones included, give the origin.
    for (std::int8_t i : {std::int8_t(4), std::int8_t(100), std::int8_t(-1), std::int8_t(-128)})
        EXPECT_EQ(timer->boundaryTexCoord(i), CGPointZero) << int(i);
}

TEST_F(ProgressTimerTest, AlphaPointsOfARotatedFrameSwapAxesForTextureCoordinates) {
    texture = makePlainTexture(64, 64);
    auto sprite = platform::make<CCSprite>();
    // 32 wide, 16 high on screen, stored turned: 16 x 32 texels at the texture's origin.
    ASSERT_TRUE(sprite->initWithTexture(texture.get(), CGRectMake(0, 0, 32, 16), true));
    auto timer = CCProgressTimer::progressWithSprite(sprite.get());
    const _ccV3F_C4B_T2F_Quad q = sprite->quad();
    // Along x the picture runs down the texture's v; along y across its u.
    const _ccTex2F right = timer->textureCoordFromAlphaPoint(ccp(1, 0));
    EXPECT_FLOAT_EQ(right.u, q.bl.texCoords.u);
    EXPECT_FLOAT_EQ(right.v, q.tr.texCoords.v);
    const _ccTex2F top = timer->textureCoordFromAlphaPoint(ccp(0, 1));
    EXPECT_FLOAT_EQ(top.u, q.tr.texCoords.u);
    EXPECT_FLOAT_EQ(top.v, q.bl.texCoords.v);
    // Positions are never swapped.
    const _ccVertex2F corner = timer->vertexFromAlphaPoint(ccp(1, 0));
    EXPECT_FLOAT_EQ(corner.x, 32);
    EXPECT_FLOAT_EQ(corner.y, 0);
}

// ---- radial ----

TEST_F(ProgressTimerTest, RadialQuarterEndsAtThreeOClockAfterOneCorner) {
    auto timer = rectTimer();
    timer->setPercentage(25);
    ASSERT_EQ(timer->vertexDataCount(), 4);
    const _ccV2F_C4B_T2F* v = timer->vertexData();
    expectAlpha(v[0], 0.5, 0.5, "midpoint");
    expectAlpha(v[1], 0.5, 1, "12 o'clock");
    expectAlpha(v[2], 1, 1, "top-right corner");
    expectAlpha(v[3], 1, 0.5, "3 o'clock");

    // Reversed, the same quarter goes the other way round to 9 o'clock.
    timer->setReverseDirection(true);
    EXPECT_EQ(timer->vertexData(), nullptr);
    timer->setPercentage(25.5f);
    timer->setPercentage(25);
    ASSERT_EQ(timer->vertexDataCount(), 4);
    v = timer->vertexData();
    expectAlpha(v[2], 0, 1, "top-left corner");
    expectAlpha(v[3], 0, 0.5, "9 o'clock");
}

TEST_F(ProgressTimerTest, RadialEmptyAndFullTimers) {
    auto timer = rectTimer();
    timer->setPercentage(100);
    ASSERT_EQ(timer->vertexDataCount(), 7);
    const _ccV2F_C4B_T2F* v = timer->vertexData();
    const double alphas[7][2] = {{0.5, 0.5}, {0.5, 1}, {1, 1}, {1, 0}, {0, 0}, {0, 1}, {0.5, 1}};
    for (int i = 0; i < 7; ++i)
        expectAlpha(v[i], alphas[i][0], alphas[i][1], std::to_string(i).c_str());

    // Empty: a fan of three vertices with nothing inside it.
    timer->setPercentage(0);
    ASSERT_EQ(timer->vertexDataCount(), 3);
    v = timer->vertexData();
    expectAlpha(v[1], 0.5, 1, "12 o'clock");
    expectAlpha(v[2], 0.5, 1, "hit");
}

TEST_F(ProgressTimerTest, RadialAroundAnOffCentreMidpointHitsTheBottomEdge) {
    auto timer = rectTimer();
    timer->setMidpoint(ccp(0.25, 0.5));
    timer->setPercentage(50);
    // Half a turn points straight down: past the top-right and bottom-right corners.
    ASSERT_EQ(timer->vertexDataCount(), 5);
    const _ccV2F_C4B_T2F* v = timer->vertexData();
    expectAlpha(v[0], 0.25, 0.5, "midpoint");
    expectAlpha(v[1], 0.25, 1, "12 o'clock");
    expectAlpha(v[2], 1, 1, "top-right");
    expectAlpha(v[3], 1, 0, "bottom-right");
    expectAlpha(v[4], 0.25, 0, "6 o'clock");

    // Just short of full, the ray ends on the top edge's left part, left of 12 o'clock.
    timer->setPercentage(99);
    ASSERT_EQ(timer->vertexDataCount(), 7);
    v = timer->vertexData();
    EXPECT_NEAR(v[6].vertices.y, 16, 1e-3);
    EXPECT_LT(v[6].vertices.x, 32 * 0.25);
}

TEST_F(ProgressTimerTest, RadialCentreFollowsAMidpointChangedWithinOneSector) {
    auto timer = rectTimer();
    timer->setPercentage(10);
    ASSERT_EQ(timer->vertexDataCount(), 3);
    // A new midpoint and a percentage that still ends on the top edge keep the count; the
    // centre and the 12 o'clock vertex must still move with the midpoint.
    timer->setMidpoint(ccp(0.25, 0.25));
    timer->setPercentage(8);
    ASSERT_EQ(timer->vertexDataCount(), 3);
    expectAlpha(timer->vertexData()[0], 0.25, 0.25, "midpoint");
    expectAlpha(timer->vertexData()[1], 0.25, 1, "12 o'clock");
}

// ---- bar ----

TEST_F(ProgressTimerTest, BarGrowsOnlyAlongTheAxesThatFollowThePercentage) {
    auto timer = rectTimer();
    timer->setType(kCCProgressTimerTypeBar);
    timer->setMidpoint(ccp(0, 0.5));
    timer->setBarChangeRate(ccp(1, 0));
    timer->setPercentage(0.5f);
    timer->setPercentage(0);
    ASSERT_EQ(timer->vertexDataCount(), 4);
    const _ccV2F_C4B_T2F* v = timer->vertexData();
    // No width, full height.
    expectAlpha(v[0], 0, 1, "top-left");
    expectAlpha(v[1], 0, 0, "bottom-left");
    expectAlpha(v[2], 0, 1, "top-right");
    expectAlpha(v[3], 0, 0, "bottom-right");

    // Half way from the left edge: the left half.
    timer->setPercentage(50);
    v = timer->vertexData();
    expectAlpha(v[0], 0, 1, "top-left");
    expectAlpha(v[1], 0, 0, "bottom-left");
    expectAlpha(v[2], 0.5, 1, "top-right");
    expectAlpha(v[3], 0.5, 0, "bottom-right");
}

TEST_F(ProgressTimerTest, BarNearAnEdgeSlidesBackInsideKeepingItsSize) {
    auto timer = rectTimer();
    timer->setType(kCCProgressTimerTypeBar);
    timer->setMidpoint(ccp(0.9, 0.1));
    timer->setPercentage(40);
    // 0.4 wide and high around (0.9, 0.1): x 0.7-1.1 slides to 0.6-1, y -0.1-0.3 to 0-0.4.
    const _ccV2F_C4B_T2F* v = timer->vertexData();
    expectAlpha(v[1], 0.6, 0, "bottom-left");
    expectAlpha(v[2], 1, 0.4, "top-right");
}

TEST_F(ProgressTimerTest, ReversedBarIsTwoStripsOutsideTheRectangle) {
    auto timer = rectTimer();
    timer->setType(kCCProgressTimerTypeBar);
    timer->setReverseDirection(true);
    EXPECT_EQ(timer->vertexData(), nullptr);
    timer->setPercentage(50);
    ASSERT_EQ(timer->vertexDataCount(), 8);
    const _ccV2F_C4B_T2F* v = timer->vertexData();
    const double alphas[8][2] = {{0, 1},       {0, 0},       {0.25, 0.75}, {0.25, 0.25},
                                 {0.75, 0.75}, {0.75, 0.25}, {1, 1},       {1, 0}};
    for (int i = 0; i < 8; ++i)
        expectAlpha(v[i], alphas[i][0], alphas[i][1], std::to_string(i).c_str());

    // Back to the normal direction: four vertices again, never a stale eight.
    timer->setReverseDirection(false);
    timer->setPercentage(60);
    EXPECT_EQ(timer->vertexDataCount(), 4);
}

// ---- sprite and colour ----

TEST_F(ProgressTimerTest, NewSpriteShowsNothingUntilTheNextChange) {
    auto timer = rectTimer();
    timer->setPercentage(30);
    ASSERT_NE(timer->vertexData(), nullptr);
    auto other = CCSprite::spriteWithTexture(texture.get(), CGRectMake(0, 0, 8, 8));
    timer->setSprite(other.get());
    EXPECT_EQ(timer->contentSize(), CGSizeMake(8, 8));
    EXPECT_EQ(timer->vertexData(), nullptr);
    EXPECT_EQ(timer->vertexDataCount(), 0);
    // The same percentage is no change.
    timer->setPercentage(30);
    EXPECT_EQ(timer->vertexData(), nullptr);
    timer->setType(kCCProgressTimerTypeBar);
    ASSERT_EQ(timer->vertexDataCount(), 4);
    // 30 % of the new 8-point sprite around its centre: the top at 0.65 of its height.
    EXPECT_FLOAT_EQ(timer->vertexData()[2].vertices.y, 8 * 0.65f);
}

TEST_F(ProgressTimerTest, WithoutOrWithAnEmptySpriteNothingBreaks) {
    auto bare = CCProgressTimer::progressWithSprite(nullptr);
    ASSERT_TRUE(bare);
    bare->setPercentage(50);
    bare->setType(kCCProgressTimerTypeBar);
    bare->setColor(ccc3(1, 2, 3));
    EXPECT_EQ(bare->vertexData(), nullptr);
    EXPECT_TRUE((bare->color() == _ccColor3B{0, 0, 0}));
    EXPECT_EQ(bare->opacity(), 0);
    EXPECT_EQ(bare->boundaryTexCoord(0), ccp(1, 1));
    EXPECT_FLOAT_EQ(bare->vertexFromAlphaPoint(ccp(1, 1)).x, 0);

    // A sprite of no size gives vertices that all sit at its origin.
    texture = makePlainTexture(8, 8);
    auto empty = CCSprite::spriteWithTexture(texture.get(), CGRectZero);
    auto timer = CCProgressTimer::progressWithSprite(empty.get());
    for (float p : {33.0f, 100.0f}) {
        timer->setPercentage(p);
        for (int i = 0; i < timer->vertexDataCount(); ++i) {
            EXPECT_EQ(timer->vertexData()[i].vertices.x, 0);
            EXPECT_EQ(timer->vertexData()[i].vertices.y, 0);
        }
    }
}

TEST_F(ProgressTimerTest, ColourAndOpacityAreTheSpritesAndRecolourTheVertices) {
    auto timer = rectTimer();
    timer->setPercentage(60);
    timer->setColor(ccc3(10, 20, 30));
    timer->setOpacity(128);
    EXPECT_TRUE((timer->sprite()->color() == ccc3(10, 20, 30)));
    EXPECT_TRUE((timer->color() == ccc3(10, 20, 30)));
    EXPECT_EQ(timer->opacity(), 128);
    const _ccColor4B expected = timer->sprite()->quad().tl.colors;
    for (int i = 0; i < timer->vertexDataCount(); ++i)
        EXPECT_TRUE((timer->vertexData()[i].colors == expected));
    EXPECT_EQ(expected.a, 128);
}

// ---- drawing ----

TEST_F(ProgressTimerTest, QuarterRadialTimerColoursOnlyItsQuadrant) {
    drawnTimer(kWhite, [](CCProgressTimer* t) { t->setPercentage(25); });
    EXPECT_EQ(quartersShowing(kWhite), (std::vector<bool>{false, true, false, false}));
    EXPECT_TRUE(colorNear(presentedPixel(5, 5), kBlack));

    drawnTimer(kWhite, [](CCProgressTimer* t) {
        t->setReverseDirection(true);
        t->setPercentage(75);
    });
    EXPECT_EQ(quartersShowing(kWhite), (std::vector<bool>{true, false, true, true}));
}

TEST_F(ProgressTimerTest, BarsShowTheirRectangleOrWhatLiesOutsideIt) {
    const std::uint32_t green = 0x00FF00FFu;
    drawnTimer(green, [](CCProgressTimer* t) {
        t->setType(kCCProgressTimerTypeBar);
        t->setMidpoint(ccp(0, 0));
        t->setBarChangeRate(ccp(0, 1));
        t->setPercentage(50);
    });
    EXPECT_EQ(quartersShowing(green), (std::vector<bool>{false, false, true, true}));

    const std::uint32_t before = drawCallCounter;
    drawnTimer(green, [](CCProgressTimer* t) {
        t->setType(kCCProgressTimerTypeBar);
        t->setReverseDirection(true);
        t->setMidpoint(ccp(0, 0.5));
        t->setBarChangeRate(ccp(1, 0));
        t->setPercentage(50);
    });
    // The left half is the bar; the reversed timer shows the right half, in two draw calls.
    EXPECT_EQ(quartersShowing(green), (std::vector<bool>{false, true, false, true}));
    EXPECT_GE(drawCallCounter - before, 2u);
}

TEST_F(ProgressTimerTest, DrawnTimerUsesTheSpritesTextureAndColour) {
    // Left half red, right half blue; the timer tinted to drop red.
    texture = makeTexture(32, 32, [](int x, int) { return x < 16 ? 0xFF0000FFu : 0x0000FFFFu; });
    auto sprite = CCSprite::spriteWithTexture(texture.get());
    auto timer = CCProgressTimer::progressWithSprite(sprite.get());
    timer->setPosition(ccp(32, 32));
    timer->setType(kCCProgressTimerTypeBar);
    timer->setPercentage(100);
    timer->setColor(ccc3(0, 255, 255));
    auto scene = CCScene::node();
    scene->addChild(timer.get());
    drawFrame(scene.get());
    EXPECT_TRUE(colorNear(presentedPixel(20, 32), kBlack));
    EXPECT_TRUE(colorNear(presentedPixel(44, 32), 0x0000FFFFu));
}

TEST_F(ProgressTimerTest, DrawnTimerFollowsACascadingParentsOpacityAndColour) {
    texture = makePlainTexture(32, 32, kWhite);
    auto timer = CCProgressTimer::progressWithSprite(CCSprite::spriteWithTexture(texture.get()).get());
    timer->setPosition(ccp(32, 32));
    timer->setPercentage(100);
    auto parent = CCNodeRGBA::node();
    parent->setCascadeColorEnabled(true);
    parent->setCascadeOpacityEnabled(true);
    parent->addChild(timer.get());
    auto scene = CCScene::node();
    scene->addChild(CCLayerColor::layerWithColor(ccc4(100, 100, 100, 255)).get());
    scene->addChild(parent.get());

    parent->setOpacity(128);
    parent->setColor(ccc3(200, 40, 40));
    drawFrame(scene.get());
    // White tinted (200, 40, 40) at 128 over (100, 100, 100); colour channels only.
    EXPECT_TRUE(colorNear(presentedPixel(32, 32) | 0xFFu, 0x964646FFu, 3));
}

} // namespace
