#include "graphics/CCSprite.h"

#include "core/CCArray.h"
#include "core/CCLayer.h"
#include "graphics/CCAnimation.h"
#include "graphics/CCLabelTTF.h"
#include "graphics/CCRenderTexture.h"
#include "graphics/CCSpriteBatchNode.h"
#include "graphics/CCSpriteFrame.h"
#include "graphics/CCTextureAtlas.h"
#include "platform/Device.h"
#include "tests/graphics/SpriteTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using fltest::colorNear;
using fltest::makePlainTexture;
using fltest::makeTexture;

void expectUV(const _ccV3F_C4B_T2F& v, double u, double w, const char* corner) {
    EXPECT_FLOAT_EQ(v.texCoords.u, static_cast<float>(u)) << corner;
    EXPECT_FLOAT_EQ(v.texCoords.v, static_cast<float>(w)) << corner;
}

void expectXY(const _ccV3F_C4B_T2F& v, float x, float y, const char* corner, float tolerance = 1e-4f) {
    EXPECT_NEAR(v.vertices.x, x, tolerance) << corner;
    EXPECT_NEAR(v.vertices.y, y, tolerance) << corner;
}

bool sameQuad(const _ccV3F_C4B_T2F_Quad& a, const _ccV3F_C4B_T2F_Quad& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool colorIs(const _ccV3F_C4B_T2F_Quad& q, _ccColor4B c) {
    return q.bl.colors == c && q.br.colors == c && q.tl.colors == c && q.tr.colors == c;
}

bool collapsed(const _ccV3F_C4B_T2F_Quad& q) {
    for (const _ccV3F_C4B_T2F* v : {&q.bl, &q.br, &q.tl, &q.tr})
        if (v->vertices.x != 0 || v->vertices.y != 0 || v->vertices.z != 0) return false;
    return true;
}

class SpriteTest : public fltest::SpriteFixture {};

// ---- texture rectangles ----

TEST_F(SpriteTest, TextureCoordinatesOfPlainRotatedAndFlippedRects) {
    auto texture = makePlainTexture(256, 256);
    const double s = 1.0 / 256;

    auto plain = CCSprite::spriteWithTexture(texture.get(), CGRectMake(10, 20, 100, 50));
    ASSERT_TRUE(plain);
    _ccV3F_C4B_T2F_Quad q = plain->quad();
    expectUV(q.bl, 10 * s, 70 * s, "plain bl");
    expectUV(q.br, 110 * s, 70 * s, "plain br");
    expectUV(q.tl, 10 * s, 20 * s, "plain tl");
    expectUV(q.tr, 110 * s, 20 * s, "plain tr");
    plain->setFlipX(true);
    plain->setFlipY(true);
    q = plain->quad();
    expectUV(q.bl, 110 * s, 20 * s, "flipped bl");
    expectUV(q.tr, 10 * s, 70 * s, "flipped tr");

    // Stored turned: the width runs along v.
    auto turned = platform::make<CCSprite>();
    ASSERT_TRUE(turned->initWithTexture(texture.get(), CGRectMake(10, 20, 100, 50), true));
    q = turned->quad();
    expectUV(q.bl, 10 * s, 20 * s, "rotated bl");
    expectUV(q.br, 10 * s, 120 * s, "rotated br");
    expectUV(q.tl, 60 * s, 20 * s, "rotated tl");
    expectUV(q.tr, 60 * s, 120 * s, "rotated tr");
    EXPECT_TRUE(CGSizeEqualToSize(turned->contentSize(), CGSizeMake(100, 50)));
    // Flipping a turned rect: x exchanges top and bottom, y exchanges left and right.
    turned->setFlipX(true);
    q = turned->quad();
    expectUV(q.bl, 10 * s, 120 * s, "rotated flipX bl");
    expectUV(q.tr, 60 * s, 20 * s, "rotated flipX tr");
    turned->setFlipX(false);
    turned->setFlipY(true);
    q = turned->quad();
    expectUV(q.bl, 60 * s, 20 * s, "rotated flipY bl");
    expectUV(q.tr, 10 * s, 120 * s, "rotated flipY tr");

    // The vertices are never mirrored.
    expectXY(q.bl, 0, 0, "rotated bl vertex");
    expectXY(q.tr, 100, 50, "rotated tr vertex");
}

TEST_F(SpriteTest, RectsAreScaledToPixelsByTheContentScale) {
    platform::setContentScaleFactor(2.0f);
    auto texture = makePlainTexture(64, 64);
    auto sprite = CCSprite::spriteWithTexture(texture.get(), CGRectMake(4, 8, 16, 8));
    _ccV3F_C4B_T2F_Quad q = sprite->quad();
    expectUV(q.tl, 8.0 / 64, 16.0 / 64, "tl");
    expectUV(q.br, 40.0 / 64, 32.0 / 64, "br");
    // Vertices stay in points.
    expectXY(q.tr, 16, 8, "tr vertex");
    // The whole texture is its content size in points.
    auto whole = CCSprite::spriteWithTexture(texture.get());
    EXPECT_TRUE(CGRectEqualToRect(whole->textureRect(), CGRectMake(0, 0, 32, 32)));
}

TEST_F(SpriteTest, TrimmedFrameOffsetIsMirroredByFlipping) {
    auto texture = makePlainTexture(64, 64);
    auto frame = CCSpriteFrame::frameWithTexture(texture.get(), CGRectMake(0, 0, 30, 30), false,
                                                 CGPointMake(3, 0), CGSizeMake(40, 40));
    auto sprite = CCSprite::spriteWithSpriteFrame(frame.get());
    ASSERT_TRUE(sprite);
    EXPECT_TRUE(CGSizeEqualToSize(sprite->contentSize(), CGSizeMake(40, 40)));
    expectXY(sprite->quad().bl, 8, 5, "unflipped");
    expectXY(sprite->quad().tr, 38, 35, "unflipped");

    sprite->setFlipX(true);
    expectXY(sprite->quad().bl, 2, 5, "flipped");
    const _ccV3F_C4B_T2F_Quad flipped = sprite->quad();
    // Setting the current value again changes nothing.
    sprite->setFlipX(true);
    EXPECT_TRUE(sameQuad(sprite->quad(), flipped));
    sprite->setFlipX(false);
    expectXY(sprite->quad().bl, 8, 5, "unflipped again");
}

TEST_F(SpriteTest, SpriteWithoutTextureKeepsItsCoordinates) {
    auto sprite = CCSprite::node();
    ASSERT_TRUE(sprite);
    EXPECT_EQ(sprite->texture(), nullptr);
    sprite->setTextureRect(CGRectMake(5, 5, 10, 20));
    _ccV3F_C4B_T2F_Quad q = sprite->quad();
    expectUV(q.tr, 0, 0, "no texture");
    expectXY(q.tr, 10, 20, "vertex");
    // Drawing binds no texture and still counts one call.
    std::uint32_t before = drawCallCounter;
    sprite->draw();
    EXPECT_EQ(drawCallCounter, before + 1);
}

// ---- colour ----

TEST_F(SpriteTest, OpacityModifiesTheVertexColourWhenAsked) {
    auto sprite = CCSprite::spriteWithTexture(makePlainTexture(8, 8).get());
    // A texture without premultiplied alpha: blending by source alpha, colour untouched.
    EXPECT_FALSE(sprite->doesOpacityModifyRGB());
    EXPECT_EQ(sprite->blendFunc().src, static_cast<std::uint32_t>(GL_SRC_ALPHA));
    sprite->setColor(ccc3(200, 100, 51));
    sprite->setOpacity(128);
    EXPECT_TRUE(colorIs(sprite->quad(), ccc4(200, 100, 51, 128)));

    sprite->setOpacityModifyRGB(true);
    // Each channel times 128 / 255, truncated.
    EXPECT_TRUE(colorIs(sprite->quad(), ccc4(100, 50, 25, 128)));
    sprite->setOpacity(0);
    EXPECT_TRUE(colorIs(sprite->quad(), ccc4(0, 0, 0, 0)));
    sprite->setOpacity(255);
    EXPECT_TRUE(colorIs(sprite->quad(), ccc4(200, 100, 51, 255)));

    // Cascaded from a coloured parent: the displayed colour is drawn.
    auto parent = CCSprite::spriteWithTexture(makePlainTexture(8, 8).get());
    parent->setCascadeColorEnabled(true);
    parent->setCascadeOpacityEnabled(true);
    parent->addChild(sprite.get());
    parent->setColor(ccc3(128, 255, 255));
    parent->setOpacity(128);
    EXPECT_EQ(sprite->displayedColor().r, 100);
    EXPECT_EQ(sprite->displayedOpacity(), 128);
    EXPECT_TRUE(colorIs(sprite->quad(), ccc4(50, 50, 25, 128)));
}

// ---- batched sprites ----

TEST_F(SpriteTest, BatchedQuadsAreInTheBatchSpace) {
    auto texture = makePlainTexture(32, 32);
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    auto sprite = CCSprite::spriteWithTexture(texture.get(), CGRectMake(0, 0, 10, 20));
    auto child = CCSprite::spriteWithTexture(texture.get(), CGRectMake(0, 0, 4, 4));
    sprite->addChild(child.get());
    batch->addChild(sprite.get());
    sprite->setPosition(CGPointMake(100, 50));
    sprite->setRotation(90);
    sprite->setScale(2);
    sprite->setVertexZ(3);
    batch->visit();

    // Local corners, less the anchor (5, 10), doubled and turned a quarter clockwise.
    _ccV3F_C4B_T2F_Quad q = batch->textureAtlas()->quads()[sprite->atlasIndex()];
    expectXY(q.bl, 80, 60, "bl");
    expectXY(q.br, 80, 40, "br");
    expectXY(q.tr, 120, 40, "tr");
    expectXY(q.tl, 120, 60, "tl");
    EXPECT_EQ(q.tl.vertices.z, 3.0f);
    // The child sits at the parent's origin: its corners (-2, -2) .. (2, 2) in the parent.
    q = batch->textureAtlas()->quads()[child->atlasIndex()];
    expectXY(q.bl, 76, 64, "child bl");
    expectXY(q.tr, 84, 56, "child tr");

    // Moving only the parent rewrites both quads at the next draw.
    sprite->setPosition(CGPointMake(0, 0));
    EXPECT_TRUE(sprite->dirty());
    EXPECT_TRUE(child->dirty());
    batch->visit();
    EXPECT_FALSE(child->dirty());
    expectXY(batch->textureAtlas()->quads()[child->atlasIndex()].bl, -24, 14, "child bl moved");
}

TEST_F(SpriteTest, ColourOfABatchedSpriteGoesToTheAtlasAtOnce) {
    auto texture = makePlainTexture(32, 32);
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    auto sprite = CCSprite::spriteWithTexture(texture.get());
    batch->addChild(sprite.get());
    batch->visit();
    ASSERT_FALSE(sprite->dirty());
    sprite->setColor(ccc3(10, 20, 30));
    EXPECT_FALSE(sprite->dirty());
    EXPECT_TRUE(colorIs(batch->textureAtlas()->quads()[0], ccc4(10, 20, 30, 255)));

    // Without an atlas index the sprite is only marked dirty; the atlas keeps its quad.
    auto loose = CCSprite::spriteWithTexture(texture.get());
    loose->setBatchNode(batch.get());
    ASSERT_EQ(loose->atlasIndex(), spriteIndexNotInitialized);
    _ccV3F_C4B_T2F_Quad before = batch->textureAtlas()->quads()[0];
    loose->setColor(ccc3(1, 2, 3));
    EXPECT_TRUE(loose->dirty());
    EXPECT_TRUE(sameQuad(batch->textureAtlas()->quads()[0], before));
    EXPECT_EQ(batch->textureAtlas()->totalQuads(), 1u);
}

TEST_F(SpriteTest, InvisibleBatchedSpritesCollapseWithTheirSubtree) {
    auto texture = makePlainTexture(32, 32);
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    auto parent = CCSprite::spriteWithTexture(texture.get());
    auto child = CCSprite::spriteWithTexture(texture.get());
    auto grandchild = CCSprite::spriteWithTexture(texture.get());
    auto other = CCSprite::spriteWithTexture(texture.get());
    child->addChild(grandchild.get());
    parent->addChild(child.get());
    batch->addChild(parent.get());
    batch->addChild(other.get());
    for (CCSprite* s : {parent.get(), child.get(), grandchild.get(), other.get()})
        s->setPosition(CGPointMake(5, 5));
    batch->visit();

    parent->setVisible(false);
    batch->visit();
    const _ccV3F_C4B_T2F_Quad* quads = batch->textureAtlas()->quads();
    EXPECT_TRUE(collapsed(quads[parent->atlasIndex()]));
    EXPECT_TRUE(collapsed(quads[child->atlasIndex()]));
    EXPECT_TRUE(collapsed(quads[grandchild->atlasIndex()]));
    EXPECT_FALSE(collapsed(quads[other->atlasIndex()]));

    parent->setVisible(true);
    batch->visit();
    EXPECT_FALSE(collapsed(batch->textureAtlas()->quads()[grandchild->atlasIndex()]));
}

TEST_F(SpriteTest, BatchedSpriteKeepsItsTextureAndChildOrder) {
    auto texture = makePlainTexture(32, 32);
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    auto sprite = CCSprite::spriteWithTexture(texture.get());
    auto child = CCSprite::spriteWithTexture(texture.get());
    sprite->addChild(child.get(), 4);
    batch->addChild(sprite.get());
    batch->visit();

    sprite->setTexture(makePlainTexture(4, 4).get());
    EXPECT_EQ(sprite->texture(), texture.get());

    // The current z order: not even a flag is raised.
    std::uint64_t arrival = child->orderOfArrival();
    sprite->reorderChild(child.get(), 4);
    EXPECT_EQ(child->orderOfArrival(), arrival);
    EXPECT_TRUE(batch->descendants()->count() == 2);
    const _ccV3F_C4B_T2F_Quad kept = batch->textureAtlas()->quads()[1];
    batch->visit();
    EXPECT_TRUE(sameQuad(batch->textureAtlas()->quads()[1], kept));

    // A real change re-sorts at the next visit: the child goes below its parent.
    sprite->reorderChild(child.get(), -1);
    batch->visit();
    EXPECT_EQ(child->atlasIndex(), 0u);
    EXPECT_EQ(sprite->atlasIndex(), 1u);
}

TEST_F(SpriteTest, PhysicsSpriteIsRecomputedAtEveryDraw) {
    auto texture = makePlainTexture(8, 8);
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    auto plain = CCSprite::spriteWithTexture(texture.get());
    auto body = CCSprite::spriteWithTexture<CCPhysicsSprite>(texture.get());
    ASSERT_TRUE(body);
    body->setIgnoreBodyRotation(true);
    EXPECT_TRUE(body->ignoreBodyRotation());
    batch->addChild(plain.get());
    batch->addChild(body.get());
    batch->visit();

    // Moved behind the sprites' backs, as a physics step moves a body.
    plain->CCNode::setPosition(CGPointMake(30, 0));
    body->CCNode::setPosition(CGPointMake(30, 0));
    batch->visit();
    expectXY(batch->textureAtlas()->quads()[plain->atlasIndex()].bl, -4, -4, "plain stays");
    expectXY(batch->textureAtlas()->quads()[body->atlasIndex()].bl, 26, -4, "body follows");
}

TEST_F(SpriteTest, LeavingTheBatchRebuildsLocalVertices) {
    auto texture = makePlainTexture(16, 16);
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    auto sprite = CCSprite::spriteWithTexture(texture.get(), CGRectMake(0, 0, 6, 4));
    batch->addChild(sprite.get());
    sprite->setPosition(CGPointMake(50, 50));
    batch->visit();
    ASSERT_NEAR(sprite->quad().bl.vertices.x, 47, 1e-4);

    batch->removeChild(sprite.get(), true);
    EXPECT_EQ(sprite->batchNode(), nullptr);
    EXPECT_EQ(sprite->textureAtlas(), nullptr);
    EXPECT_EQ(sprite->atlasIndex(), spriteIndexNotInitialized);
    expectXY(sprite->quad().bl, 0, 0, "local bl");
    expectXY(sprite->quad().tr, 6, 4, "local tr");
}

// ---- creation, frames and descriptions ----

TEST_F(SpriteTest, FactoriesRefuseWhatCannotBeLoaded) {
    EXPECT_FALSE(CCSprite::spriteWithFile("no-such-image.png"));
    EXPECT_FALSE(CCSprite::spriteWithFile("no-such-image.png", CGRectMake(0, 0, 1, 1)));
    EXPECT_FALSE(CCSprite::spriteWithSpriteFrameName("no-such-frame"));
    EXPECT_FALSE(CCSprite::spriteWithSpriteFrame(nullptr));
    EXPECT_FALSE(CCSprite::spriteWithCGImage(nullptr, "key"));

    auto texture = makePlainTexture(16, 16);
    auto frame = CCSpriteFrame::frameWithTexture(texture.get(), CGRectMake(2, 2, 4, 4));
    CCSpriteFrameCache::sharedSpriteFrameCache()->addSpriteFrame(frame.get(), "dot");
    auto sprite = CCSprite::spriteWithSpriteFrameName("dot");
    ASSERT_TRUE(sprite);
    EXPECT_TRUE(sprite->isFrameDisplayed(frame.get()));
}

TEST_F(SpriteTest, DisplayFramesRoundTrip) {
    platform::setContentScaleFactor(2.0f);
    auto texture = makePlainTexture(64, 64);
    auto other = makePlainTexture(64, 64);
    // Pixel values: rect (8, 4, 20, 12), offset (2, -2), untrimmed 24 x 20.
    auto frame = CCSpriteFrame::frameWithTexture(other.get(), CGRectMake(8, 4, 20, 12), true,
                                                 CGPointMake(2, -2), CGSizeMake(24, 20));
    auto sprite = CCSprite::spriteWithTexture(texture.get());
    EXPECT_FALSE(sprite->isFrameDisplayed(frame.get()));
    sprite->setDisplayFrame(frame.get());
    EXPECT_EQ(sprite->texture(), other.get());
    EXPECT_TRUE(sprite->textureRectRotated());
    EXPECT_TRUE(sprite->isFrameDisplayed(frame.get()));
    EXPECT_TRUE(CGSizeEqualToSize(sprite->contentSize(), CGSizeMake(12, 10)));

    auto shown = sprite->displayFrame();
    EXPECT_TRUE(CGRectEqualToRect(shown->rectInPixels(), CGRectMake(8, 4, 20, 12)));
    EXPECT_TRUE(CGPointEqualToPoint(shown->offsetInPixels(), CGPointMake(2, -2)));
    EXPECT_TRUE(CGSizeEqualToSize(shown->originalSizeInPixels(), CGSizeMake(24, 20)));
    EXPECT_TRUE(shown->rotated());
    EXPECT_EQ(shown->texture(), other.get());

    // A frame differing only in offset is not the one displayed.
    auto moved = CCSpriteFrame::frameWithTexture(other.get(), CGRectMake(8, 4, 20, 12), true,
                                                 CGPointMake(2, 0), CGSizeMake(24, 20));
    EXPECT_FALSE(sprite->isFrameDisplayed(moved.get()));
}

TEST_F(SpriteTest, DisplayFrameByAnimationName) {
    auto texture = makePlainTexture(32, 32);
    CCSpriteFrameArray frames{CCSpriteFrame::frameWithTexture(texture.get(), CGRectMake(0, 0, 8, 8)),
                              CCSpriteFrame::frameWithTexture(texture.get(), CGRectMake(8, 0, 8, 8))};
    CCAnimationCache::sharedAnimationCache()->addAnimation(
        CCAnimation::animationWithSpriteFrames(frames, 0.1f).get(), "walk");
    auto sprite = CCSprite::spriteWithTexture(texture.get());
    sprite->setDisplayFrameWithAnimationName("walk", 1);
    EXPECT_TRUE(sprite->isFrameDisplayed(frames[1].get()));
    // Unknown names and indexes leave the sprite as it is.
    sprite->setDisplayFrameWithAnimationName("walk", 2);
    sprite->setDisplayFrameWithAnimationName("walk", -1);
    sprite->setDisplayFrameWithAnimationName("run", 0);
    EXPECT_TRUE(sprite->isFrameDisplayed(frames[1].get()));
}

TEST_F(SpriteTest, Description) {
    auto sprite = CCSprite::spriteWithTexture(makePlainTexture(8, 8).get(), CGRectMake(1, 2, 3.5, 4));
    sprite->setTag(7);
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "<CCSprite = %p | Rect = (1.00,2.00,3.50,4.00) | tag = 7 | atlasIndex = 4294967295>",
                  static_cast<void*>(sprite.get()));
    EXPECT_EQ(sprite->description(), expected);
}

// ---- drawing on the GL view ----

// A 4 x 2 picture: red | green over blue | yellow, two pixels per quarter.
std::uint32_t picture(int x, int y) {
    if (y == 0) return x < 2 ? 0xFF0000FFu : 0x00FF00FFu;
    return x < 2 ? 0x0000FFFFu : 0xFFFF00FFu;
}

struct Quarters {
    std::uint32_t topLeft, topRight, bottomLeft, bottomRight;
};

class SpriteDrawTest : public SpriteTest {
protected:
    // Draws the sprite 8 times enlarged with its lower-left corner at (8, 8), then reads the
    // centres of its four quarters.
    Quarters drawQuarters(CCSprite* sprite) {
        auto scene = CCScene::node();
        sprite->setAnchorPoint(CGPointZero);
        sprite->setPosition(CGPointMake(8, 8));
        sprite->setScale(8);
        scene->addChild(sprite);
        drawFrame(scene.get());
        return {presentedPixel(16, 20), presentedPixel(32, 20), presentedPixel(16, 12),
                presentedPixel(32, 12)};
    }
    void expectQuarters(const Quarters& q, Quarters e) {
        EXPECT_TRUE(colorNear(q.topLeft, e.topLeft)) << std::hex << q.topLeft;
        EXPECT_TRUE(colorNear(q.topRight, e.topRight)) << std::hex << q.topRight;
        EXPECT_TRUE(colorNear(q.bottomLeft, e.bottomLeft)) << std::hex << q.bottomLeft;
        EXPECT_TRUE(colorNear(q.bottomRight, e.bottomRight)) << std::hex << q.bottomRight;
    }
    static constexpr std::uint32_t red = 0xFF0000FFu, green = 0x00FF00FFu, blue = 0x0000FFFFu,
                                   yellow = 0xFFFF00FFu;
};

TEST_F(SpriteDrawTest, PictureFromATextureRect) {
    // The picture sits at (3, 1) inside a grey 8 x 4 texture.
    auto texture = makeTexture(8, 4, [](int x, int y) {
        return x >= 3 && x < 7 && y >= 1 && y < 3 ? picture(x - 3, y - 1) : 0x808080FFu;
    });
    auto sprite = CCSprite::spriteWithTexture(texture.get(), CGRectMake(3, 1, 4, 2));
    std::uint32_t before = drawCallCounter;
    expectQuarters(drawQuarters(sprite.get()), {red, green, blue, yellow});
    EXPECT_GE(drawCallCounter, before + 1);
    // Nothing outside the 32 x 16 quad.
    EXPECT_TRUE(colorNear(presentedPixel(41, 12), 0x000000FFu));
    EXPECT_TRUE(colorNear(presentedPixel(12, 25), 0x000000FFu));
}

TEST_F(SpriteDrawTest, PictureStoredTurnedByAQuarter) {
    // The 4 x 2 picture stored turned: 2 texels wide, 4 high, at (1, 2) in a 4 x 8 texture.
    // Texel (tx, ty) of the stored rect holds picture pixel (ty, 1 - tx).
    auto texture = makeTexture(4, 8, [](int x, int y) {
        int tx = x - 1, ty = y - 2;
        return tx >= 0 && tx < 2 && ty >= 0 && ty < 4 ? picture(ty, 1 - tx) : 0x808080FFu;
    });
    auto sprite = platform::make<CCSprite>();
    ASSERT_TRUE(sprite->initWithTexture(texture.get(), CGRectMake(1, 2, 4, 2), true));
    expectQuarters(drawQuarters(sprite.get()), {red, green, blue, yellow});
}

TEST_F(SpriteDrawTest, FlippedPictures) {
    auto texture = makeTexture(4, 2, picture);
    auto mirrored = CCSprite::spriteWithTexture(texture.get());
    mirrored->setFlipX(true);
    expectQuarters(drawQuarters(mirrored.get()), {green, red, yellow, blue});

    auto upsideDown = CCSprite::spriteWithTexture(texture.get());
    upsideDown->setFlipY(true);
    expectQuarters(drawQuarters(upsideDown.get()), {blue, yellow, red, green});
}

TEST_F(SpriteDrawTest, TintAndFadeReachThePixels) {
    auto texture = makePlainTexture(2, 2);
    auto sprite = CCSprite::spriteWithTexture(texture.get());
    sprite->setColor(ccc3(255, 0, 0));
    sprite->setOpacity(128);
    Quarters q = drawQuarters(sprite.get());
    // Source-alpha blending of half-opaque red over black.
    EXPECT_TRUE(colorNear(q.topLeft & 0xFFFFFF00u, 0x80000000u)) << std::hex << q.topLeft;
}

} // namespace

TEST_F(SpriteTest, WhatIsMadeRightAfterASecondViewIsReleasedDrawsInTheDirectorsView) {
    // The second view's context is current from its making until the view goes.
    auto scene = CCScene::node();
    scene->addChild(CCLayerColor::layerWithColor(ccc4(0, 0, 0, 255)).get());
    drawFrame(scene.get());
    platform::Ref<CCGLView> second = fltest::makeGLView(CGSizeMake(32, 32));
    ASSERT_TRUE(second);
    second = nullptr;

    auto sprite = CCSprite::spriteWithTexture(makePlainTexture(8, 8, 0xFFFF00FFu).get());
    sprite->setPosition(CGPointMake(8, 8));
    scene->addChild(sprite.get());
    auto canvas = CCRenderTexture::renderTextureWithWidth(16, 16);
    ASSERT_TRUE(canvas);
    canvas->beginWithClear(0, 0, 1, 1);
    canvas->end();
    canvas->setPosition(CGPointMake(40, 40));
    scene->addChild(canvas.get());
    auto label = CCLabelTTF::labelWithString("W", "Helvetica", 20);
    ASSERT_TRUE(label && label->texture());
    label->setPosition(CGPointMake(40, 12));
    scene->addChild(label.get());
    drawFrame(scene.get());

    EXPECT_EQ(presentedPixel(8, 8), 0xFFFF00FFu);
    EXPECT_EQ(presentedPixel(40, 40), 0x0000FFFFu);
    int lit = 0;
    for (int y = 2; y < 22; ++y)
        for (int x = 30; x < 50; ++x)
            lit += presentedPixel(x, y) != 0x000000FFu;
    EXPECT_GT(lit, 0);
}
