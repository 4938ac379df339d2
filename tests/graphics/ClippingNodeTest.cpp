#include "graphics/CCClippingNode.h"

#include "actions/CCActionGrid3D.h"
#include "actions/CCActionTiledGrid.h"
#include "actions/CCTransitionFade.h"
#include "actions/CCTransitionProgress.h"
#include "actions/CCTransitionTiles.h"
#include "core/CCLayer.h"
#include "platform/Exception.h"
#include "core/CCMatrix.h"
#include "core/CCPointExtension.h"
#include "core/CCScene.h"
#include "graphics/CCRenderTexture.h"
#include "graphics/CCSprite.h"
#include "platform/Image.h"
#include "tests/graphics/SpriteTestSupport.h"

#include <GLES2/gl2ext.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using fltest::colorNear;

constexpr std::uint32_t kRed = 0xFF0000FFu, kBlack = 0x000000FFu;

platform::Ref<CCLayerColor> rect(_ccColor4B color, double x, double y, double w, double h) {
    auto layer = CCLayerColor::layerWithColor(color, static_cast<float>(w), static_cast<float>(h));
    layer->setPosition(ccp(x, y));
    return layer;
}

platform::Ref<CCLayerColor> redScreen() {
    return rect(ccc4(255, 0, 0, 255), 0, 0, 64, 64);
}

// A 64 x 64 view with a packed depth-stencil buffer, drawn with a 2D projection.
class ClippingNodeTest : public fltest::EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        CCClippingNode::resetStencilBits();
        useView(GL_DEPTH24_STENCIL8_OES);
    }
    void TearDown() override {
        EngineTest::TearDown();
        view_ = nullptr;
        fltest::useSharedGLContext();
        fltest::resetGLState();
        CCClippingNode::resetStencilBits();
    }
    void useView(std::uint32_t depthFormat) {
        view_ = fltest::makeGLView(CGSizeMake(64, 64), 1.0, kEAGLColorFormatRGBA8, depthFormat);
        ASSERT_TRUE(view_);
        director()->setView(view_.get());
        director()->setProjection(kCCDirectorProjection2D);
    }
    // Draws the node alone in a fresh scene.
    void drawAlone(CCNode* node) {
        auto scene = CCScene::node();
        scene->addChild(node);
        if (director()->runningScene()) {
            director()->replaceScene(scene.get());
            director()->drawScene();
        } else {
            director()->runWithScene(scene.get());
        }
        director()->drawScene();
    }
    std::uint32_t pixel(int x, int y) const {
        const platform::PixelBuffer& frame = view_->layer()->presentedFrame();
        return frame.pixel(x, frame.height - 1 - y);
    }

    std::int64_t noStencilLines() const {
        return std::count_if(logLines.begin(), logLines.end(), [](const std::string& l) {
            return l.find("no stencil buffer") != std::string::npos;
        });
    }

    platform::Ref<CCGLView> view_;
};

// ---- clipping ----

TEST_F(ClippingNodeTest, ChildrenShowOnlyInsideTheStencilWhichItselfStaysInvisible) {
    auto clip = CCClippingNode::clippingNodeWithStencil(rect(ccc4(0, 255, 0, 255), 8, 8, 16, 16).get());
    ASSERT_TRUE(clip);
    EXPECT_EQ(CCClippingNode::stencilBits(), 8);
    EXPECT_EQ(clip->alphaThreshold(), 1);
    EXPECT_FALSE(clip->inverted());
    clip->addChild(redScreen().get());
    drawAlone(clip.get());
    EXPECT_TRUE(colorNear(pixel(8, 8), kRed));
    EXPECT_TRUE(colorNear(pixel(23, 23), kRed));
    EXPECT_TRUE(colorNear(pixel(24, 24), kBlack));
    EXPECT_TRUE(colorNear(pixel(7, 12), kBlack));
    EXPECT_TRUE(colorNear(pixel(50, 50), kBlack));
    EXPECT_EQ(CCClippingNode::currentLayer(), -1);
}

TEST_F(ClippingNodeTest, InvertedShowsChildrenOnlyOutsideTheStencil) {
    auto clip = CCClippingNode::clippingNodeWithStencil(rect(ccc4(0, 255, 0, 255), 8, 8, 16, 16).get());
    clip->setInverted(true);
    clip->addChild(redScreen().get());
    drawAlone(clip.get());
    EXPECT_TRUE(colorNear(pixel(12, 12), kBlack));
    EXPECT_TRUE(colorNear(pixel(4, 4), kRed));
    EXPECT_TRUE(colorNear(pixel(50, 50), kRed));
}

TEST_F(ClippingNodeTest, TheStencilMovesWithTheClippingNode) {
    auto clip = CCClippingNode::clippingNodeWithStencil(rect(ccc4(255, 255, 255, 255), 0, 0, 8, 8).get());
    clip->setPosition(ccp(30, 30));
    // The child is placed in the clipping node's space too.
    clip->addChild(rect(ccc4(255, 0, 0, 255), -30, -30, 64, 64).get());
    drawAlone(clip.get());
    EXPECT_TRUE(colorNear(pixel(33, 33), kRed));
    EXPECT_TRUE(colorNear(pixel(4, 4), kBlack));
    EXPECT_TRUE(colorNear(pixel(40, 40), kBlack));
}

TEST_F(ClippingNodeTest, MissingOrHiddenStencilDrawsNothingUnlessInverted) {
    auto plain = CCClippingNode::clippingNode();
    plain->addChild(redScreen().get());
    drawAlone(plain.get());
    EXPECT_TRUE(colorNear(pixel(30, 30), kBlack));

    auto inverted = CCClippingNode::clippingNode();
    inverted->setInverted(true);
    inverted->addChild(redScreen().get());
    drawAlone(inverted.get());
    EXPECT_TRUE(colorNear(pixel(30, 30), kRed));

    auto hidden = rect(ccc4(255, 255, 255, 255), 0, 0, 8, 8);
    hidden->setVisible(false);
    auto withHidden = CCClippingNode::clippingNodeWithStencil(hidden.get());
    withHidden->addChild(redScreen().get());
    drawAlone(withHidden.get());
    EXPECT_TRUE(colorNear(pixel(4, 4), kBlack));
    withHidden->setInverted(true);
    director()->drawScene();
    EXPECT_TRUE(colorNear(pixel(4, 4), kRed));
    EXPECT_TRUE(colorNear(pixel(40, 40), kRed));
}

TEST_F(ClippingNodeTest, GLStencilAndDepthStateIsPutBack) {
    auto clip = CCClippingNode::clippingNodeWithStencil(rect(ccc4(255, 255, 255, 255), 0, 0, 8, 8).get());
    clip->addChild(redScreen().get());
    glStencilFunc(GL_LEQUAL, 3, 0x0F);
    glStencilOp(GL_INCR, GL_DECR, GL_INVERT);
    glStencilMask(0xF0);
    glDepthMask(GL_TRUE);
    glClearStencil(6);
    clip->visit();
    GLint v = 0;
    EXPECT_FALSE(glIsEnabled(GL_STENCIL_TEST));
    glGetIntegerv(GL_STENCIL_FUNC, &v);
    EXPECT_EQ(v, GL_LEQUAL);
    glGetIntegerv(GL_STENCIL_REF, &v);
    EXPECT_EQ(v, 3);
    glGetIntegerv(GL_STENCIL_VALUE_MASK, &v);
    EXPECT_EQ(v, 0x0F);
    glGetIntegerv(GL_STENCIL_FAIL, &v);
    EXPECT_EQ(v, GL_INCR);
    glGetIntegerv(GL_STENCIL_PASS_DEPTH_FAIL, &v);
    EXPECT_EQ(v, GL_DECR);
    glGetIntegerv(GL_STENCIL_PASS_DEPTH_PASS, &v);
    EXPECT_EQ(v, GL_INVERT);
    glGetIntegerv(GL_STENCIL_WRITEMASK, &v);
    EXPECT_EQ(v, 0xF0);
    glGetIntegerv(GL_STENCIL_CLEAR_VALUE, &v);
    EXPECT_EQ(v, 6);
    GLboolean depthMask = GL_FALSE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
    EXPECT_EQ(depthMask, GL_TRUE);

    glEnable(GL_STENCIL_TEST);
    clip->visit();
    EXPECT_TRUE(glIsEnabled(GL_STENCIL_TEST));
    glDisable(GL_STENCIL_TEST);
    glStencilMask(0xFF);
    glStencilFunc(GL_ALWAYS, 0, 0xFF);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    glClearStencil(0);
}

TEST_F(ClippingNodeTest, AThrowFromAChildPutsBackStencilStateLayerAndMatrices) {
    class Throwing : public CCNode {
    public:
        void draw() override { throw platform::Exception(platform::NSInternalInconsistencyException, "no"); }
    };
    auto clip = CCClippingNode::clippingNodeWithStencil(rect(ccc4(255, 255, 255, 255), 0, 0, 8, 8).get());
    clip->setPosition(ccp(5, 5));
    clip->addChild(makeNode<Throwing>().get());
    glStencilFunc(GL_LEQUAL, 3, 0x0F);
    glDepthMask(GL_TRUE);
    kmMat4 before, after;
    matrixGet(kCCMatrixModeModelView, &before);

    EXPECT_THROW(clip->visit(), platform::Exception);
    EXPECT_FALSE(glIsEnabled(GL_STENCIL_TEST));
    GLint v = 0;
    glGetIntegerv(GL_STENCIL_FUNC, &v);
    EXPECT_EQ(v, GL_LEQUAL);
    GLboolean depthMask = GL_FALSE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
    EXPECT_EQ(depthMask, GL_TRUE);
    EXPECT_EQ(CCClippingNode::currentLayer(), -1);
    matrixGet(kCCMatrixModeModelView, &after);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof after), 0);
    glStencilFunc(GL_ALWAYS, 0, 0xFF);
}

// ---- nesting ----

// Eight clipping nodes inside each other: the outermost lets only the left half through, the
// six middle ones the whole screen, and the innermost only the lower-left 4 x 4 square; the
// red screen hangs from the innermost. A ninth, tiny, stencil below them is ignored when all
// bits are in use.
platform::Ref<CCClippingNode> nested(int depth) {
    auto outer = CCClippingNode::clippingNodeWithStencil(rect(ccc4(255, 255, 255, 255), 0, 0, 32, 64).get());
    CCClippingNode* last = outer.get();
    for (int level = 2; level <= depth; ++level) {
        const bool tiny = level >= 8;
        auto stencil = tiny ? rect(ccc4(255, 255, 255, 255), 0, 0, 4, 4) : redScreen();
        auto clip = CCClippingNode::clippingNodeWithStencil(stencil.get());
        last->addChild(clip.get());
        last = clip.get();
    }
    last->addChild(redScreen().get());
    return outer;
}

TEST_F(ClippingNodeTest, EightBitsNestEightDeepAndTheNinthDrawsUnclipped) {
    auto eight = nested(8);
    drawAlone(eight.get());
    EXPECT_TRUE(colorNear(pixel(2, 2), kRed));
    EXPECT_TRUE(colorNear(pixel(20, 40), kBlack));
    EXPECT_TRUE(colorNear(pixel(40, 2), kBlack));

    // With a ninth level, the eighth's tiny stencil still clips, but the ninth's does not:
    // its children show wherever the eight outer layers let them.
    auto nine = CCClippingNode::clippingNodeWithStencil(rect(ccc4(255, 255, 255, 255), 0, 0, 32, 64).get());
    CCClippingNode* last = nine.get();
    for (int level = 2; level <= 8; ++level) {
        auto clip = CCClippingNode::clippingNodeWithStencil(redScreen().get());
        last->addChild(clip.get());
        last = clip.get();
    }
    auto ninth = CCClippingNode::clippingNodeWithStencil(rect(ccc4(255, 255, 255, 255), 0, 0, 4, 4).get());
    ninth->addChild(redScreen().get());
    last->addChild(ninth.get());
    drawAlone(nine.get());
    EXPECT_TRUE(colorNear(pixel(2, 2), kRed));
    EXPECT_TRUE(colorNear(pixel(20, 40), kRed));
    EXPECT_TRUE(colorNear(pixel(40, 40), kBlack));
    EXPECT_EQ(CCClippingNode::currentLayer(), -1);
}

TEST_F(ClippingNodeTest, InnerLayersClipWithinOuterOnes) {
    auto outer = CCClippingNode::clippingNodeWithStencil(rect(ccc4(255, 255, 255, 255), 0, 0, 32, 64).get());
    auto inner = CCClippingNode::clippingNodeWithStencil(rect(ccc4(255, 255, 255, 255), 0, 0, 64, 32).get());
    inner->addChild(redScreen().get());
    outer->addChild(inner.get());
    // A sibling after the inner node is clipped by the outer stencil alone.
    outer->addChild(rect(ccc4(0, 0, 255, 255), 0, 40, 64, 8).get());
    drawAlone(outer.get());
    EXPECT_TRUE(colorNear(pixel(10, 10), kRed));
    EXPECT_TRUE(colorNear(pixel(40, 10), kBlack));
    EXPECT_TRUE(colorNear(pixel(10, 50), kBlack));
    EXPECT_TRUE(colorNear(pixel(10, 44), 0x0000FFFFu));
    EXPECT_TRUE(colorNear(pixel(40, 44), kBlack));
}

// ---- alpha threshold ----

TEST_F(ClippingNodeTest, AlphaThresholdCountsOnlyOpaqueEnoughStencilPixels) {
    // Left half a quarter opaque, right half opaque.
    auto texture = fltest::makeTexture(32, 16, [](int x, int) { return x < 16 ? 0x40404040u : 0xFFFFFFFFu; });
    auto stencil = CCSprite::spriteWithTexture(texture.get());
    stencil->setPosition(ccp(32, 32)); // covers x 16..48, y 24..40
    auto child = CCNode::node();
    stencil->addChild(child.get());
    CCGLProgram* spriteProgram = stencil->shaderProgram();

    auto clip = CCClippingNode::clippingNodeWithStencil(stencil.get());
    clip->addChild(redScreen().get());
    drawAlone(clip.get());
    // At 1 the whole quad counts, however transparent.
    EXPECT_TRUE(colorNear(pixel(20, 32), kRed));
    EXPECT_TRUE(colorNear(pixel(40, 32), kRed));
    EXPECT_EQ(stencil->shaderProgram(), spriteProgram);

    clip->setAlphaThreshold(0.5f);
    director()->drawScene();
    EXPECT_TRUE(colorNear(pixel(20, 32), kBlack));
    EXPECT_TRUE(colorNear(pixel(40, 32), kRed));
    EXPECT_TRUE(colorNear(pixel(10, 32), kBlack));

    // The stencil and everything under it keep the alpha-test program for good.
    CCGLProgram* alphaTest =
        CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTextureColorAlphaTest);
    EXPECT_EQ(stencil->shaderProgram(), alphaTest);
    EXPECT_EQ(child->shaderProgram(), alphaTest);
    clip->setAlphaThreshold(1);
    director()->drawScene();
    EXPECT_EQ(stencil->shaderProgram(), alphaTest);
    // ... which keeps testing against the last threshold it was given.
    EXPECT_TRUE(colorNear(pixel(20, 32), kBlack));
    EXPECT_TRUE(colorNear(pixel(40, 32), kRed));
}

// ---- without a stencil buffer ----

TEST_F(ClippingNodeTest, WithoutStencilBitsChildrenDrawUnclippedAndItIsSaidOnce) {
    useView(0);
    auto clip = CCClippingNode::clippingNodeWithStencil(rect(ccc4(255, 255, 255, 255), 0, 0, 8, 8).get());
    EXPECT_EQ(CCClippingNode::stencilBits(), 0);
    clip->addChild(redScreen().get());
    drawAlone(clip.get());
    for (int frame = 0; frame < 3; ++frame)
        director()->drawScene();
    EXPECT_TRUE(colorNear(pixel(40, 40), kRed));
    EXPECT_EQ(noStencilLines(), 1);
}

// ---- in the engine's own framebuffers ----

// Where the clipping node is drawn: on the view, captured by a grid effect on its parent, in
// the outgoing scene of a tile transition half-way, or into a render texture.
enum class Into { View, BendingGrid, TiledGrid, TileTransition, RenderTexture, RenderTextureWithoutStencil };

struct FramebufferCase {
    const char* name;
    Into into;
    bool clips;
};

void PrintTo(const FramebufferCase& c, std::ostream* os) {
    *os << c.name;
}

class ClippingFramebufferTest : public ClippingNodeTest, public ::testing::WithParamInterface<FramebufferCase> {};

TEST_P(ClippingFramebufferTest, ClipsWhereTheFramebufferHasAStencilAndSaysOnceWhereNot) {
    const Into into = GetParam().into;
    // Up and right, where a fade sweeping from the lower left still shows the outgoing scene
    // half-way.
    auto clip = CCClippingNode::clippingNodeWithStencil(rect(ccc4(255, 255, 255, 255), 40, 40, 16, 16).get());
    clip->addChild(redScreen().get());
    auto scene = CCScene::node();
    auto parent = CCNode::node();
    scene->addChild(parent.get());
    if (into == Into::RenderTexture || into == Into::RenderTextureWithoutStencil) {
        auto texture = CCRenderTexture::renderTextureWithWidth(
            64, 64, kCCTexture2DPixelFormat_RGBA8888, into == Into::RenderTexture ? GL_DEPTH24_STENCIL8_OES : 0);
        ASSERT_TRUE(texture);
        texture->setAutoDraw(true);
        texture->setClearFlags(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        texture->setClearDepth(1);
        texture->sprite()->setPosition(ccp(32, 32));
        texture->addChild(clip.get());
        parent->addChild(texture.get());
    } else {
        parent->addChild(clip.get());
    }
    director()->runWithScene(scene.get());
    director()->startAnimation();
    advanceRefreshes(1);
    if (into == Into::BendingGrid)
        parent->runAction(CCWaves3D::actionWithDuration(10, CGSizeMake(8, 8), 2, 0).get());
    if (into == Into::TiledGrid)
        parent->runAction(CCShatteredTiles3D::actionWithDuration(10, CGSizeMake(8, 8), 0, false).get());
    if (into == Into::TileTransition)
        director()->replaceScene(CCTransitionFadeTR::transitionWithDuration(1, CCScene::node().get()).get());
    advanceRefreshes(32);
    if (into == Into::BendingGrid || into == Into::TiledGrid) {
        ASSERT_TRUE(parent->grid() && parent->grid()->active());
    }
    if (into == Into::TileTransition) {
        ASSERT_TRUE(director()->runningScene()->isTransitionScene());
    }

    const std::uint32_t outside = GetParam().clips ? kBlack : kRed;
    EXPECT_TRUE(colorNear(pixel(41, 41), kRed));
    EXPECT_TRUE(colorNear(pixel(54, 54), kRed));
    EXPECT_TRUE(colorNear(pixel(60, 60), outside));
    EXPECT_TRUE(colorNear(pixel(36, 48), outside));
    EXPECT_EQ(noStencilLines(), GetParam().clips ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Framebuffers, ClippingFramebufferTest,
    ::testing::Values(FramebufferCase{"View", Into::View, true}, FramebufferCase{"Waves3D", Into::BendingGrid, true},
                      FramebufferCase{"ShatteredTiles3D", Into::TiledGrid, true},
                      FramebufferCase{"FadeTRTransition", Into::TileTransition, true},
                      FramebufferCase{"RenderTexture", Into::RenderTexture, true},
                      FramebufferCase{"RenderTextureWithoutStencil", Into::RenderTextureWithoutStencil, false}),
    [](const ::testing::TestParamInfo<FramebufferCase>& info) { return std::string(info.param.name); });

TEST_F(ClippingNodeTest, AGridCaptureInsideAClippingNodeKeepsBothStencils) {
    // The outer node lets the left half through; inside the grid's capture, the inner one a
    // square across the middle.
    auto outer = CCClippingNode::clippingNodeWithStencil(rect(ccc4(255, 255, 255, 255), 0, 0, 32, 64).get());
    auto parent = CCNode::node();
    auto inner = CCClippingNode::clippingNodeWithStencil(rect(ccc4(255, 255, 255, 255), 16, 16, 32, 32).get());
    inner->addChild(redScreen().get());
    parent->addChild(inner.get());
    outer->addChild(parent.get());
    drawAlone(outer.get());
    parent->runAction(CCWaves3D::actionWithDuration(10, CGSizeMake(8, 8), 2, 0).get());
    director()->drawScene();
    ASSERT_TRUE(parent->grid() && parent->grid()->active());
    EXPECT_TRUE(colorNear(pixel(20, 20), kRed));
    EXPECT_TRUE(colorNear(pixel(30, 46), kRed));
    EXPECT_TRUE(colorNear(pixel(40, 30), kBlack));
    EXPECT_TRUE(colorNear(pixel(10, 10), kBlack));
    EXPECT_TRUE(colorNear(pixel(20, 52), kBlack));
    EXPECT_EQ(CCClippingNode::currentLayer(), -1);
}

TEST_F(ClippingNodeTest, ATextureWithAStencilUnderAClippingNodeCapturesItsChildrenWhole) {
    // The texture holds a clipping node (a square across the middle) over red, and a green
    // square beside it; the outer node lets the left half of the window through.
    auto makeTexture = [] {
        auto texture = CCRenderTexture::renderTextureWithWidth(64, 64, kCCTexture2DPixelFormat_RGBA8888,
                                                               GL_DEPTH24_STENCIL8_OES);
        texture->setAutoDraw(true);
        texture->setClearFlags(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        texture->setClearDepth(1);
        texture->sprite()->setPosition(ccp(32, 32));
        auto inner =
            CCClippingNode::clippingNodeWithStencil(rect(ccc4(255, 255, 255, 255), 16, 16, 32, 32).get());
        inner->addChild(redScreen().get());
        texture->addChild(inner.get());
        texture->addChild(rect(ccc4(0, 255, 0, 255), 52, 4, 8, 8).get());
        return texture;
    };
    auto reference = makeTexture();
    drawAlone(reference.get());
    auto texture = makeTexture();
    auto outer = CCClippingNode::clippingNodeWithStencil(rect(ccc4(255, 255, 255, 255), 0, 0, 32, 64).get());
    outer->addChild(texture.get());
    drawAlone(outer.get());
    EXPECT_EQ(CCClippingNode::currentLayer(), -1);

    const auto picture = texture->newCGImage(), expected = reference->newCGImage();
    ASSERT_TRUE(picture && expected);
    EXPECT_EQ(picture->pixels(), expected->pixels());
    // The picture is the texture's, upside down: row 0 is its top.
    auto at = [&](int x, int y) {
        const std::uint8_t* p = &expected->pixels()[(std::size_t(63 - y) * 64 + std::size_t(x)) * 4];
        return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
    };
    EXPECT_EQ(at(20, 20), kRed);
    EXPECT_EQ(at(44, 44), kRed);
    EXPECT_EQ(at(8, 8), 0u);
    EXPECT_EQ(at(56, 8), 0x00FF00FFu);
    // On the window, the outer node clips the texture's picture.
    EXPECT_TRUE(colorNear(pixel(20, 20), kRed));
    EXPECT_TRUE(colorNear(pixel(44, 44), kBlack));
    EXPECT_TRUE(colorNear(pixel(56, 8), kBlack));
    EXPECT_TRUE(colorNear(pixel(8, 8), kBlack));
}

TEST_F(ClippingNodeTest, StaysClippedThroughTheCrossFadeAndProgressTransitions) {
    const std::pair<const char*, std::function<platform::Ref<CCScene>(CCScene*)>> kinds[] = {
        {"CrossFade", [](CCScene* s) { return CCTransitionCrossFade::transitionWithDuration(1, s); }},
        {"ProgressRadialCW",
         [](CCScene* s) { return CCTransitionProgressRadialCW::transitionWithDuration(1, s); }},
        {"ProgressHorizontal",
         [](CCScene* s) { return CCTransitionProgressHorizontal::transitionWithDuration(1, s); }},
    };
    director()->runWithScene(CCScene::node().get());
    director()->startAnimation();
    for (const auto& [name, make] : kinds) {
        SCOPED_TRACE(name);
        // A banner: red clipped to a 32 x 16 box in the middle of the window.
        auto clip =
            CCClippingNode::clippingNodeWithStencil(rect(ccc4(255, 255, 255, 255), 16, 24, 32, 16).get());
        clip->addChild(redScreen().get());
        auto banner = CCScene::node();
        banner->addChild(clip.get());
        director()->replaceScene(banner.get());
        advanceRefreshes(2);
        director()->replaceScene(make(CCScene::node().get()).get());
        advanceRefreshes(32);
        ASSERT_TRUE(director()->runningScene()->isTransitionScene());
        int inside = 0, outside = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                if ((pixel(x, y) >> 8) != 0) ++(x >= 16 && x < 48 && y >= 24 && y < 40 ? inside : outside);
        EXPECT_GT(inside, 0);
        EXPECT_EQ(outside, 0);
        advanceRefreshes(40);
    }
    EXPECT_EQ(noStencilLines(), 0);
}

// ---- life cycle ----

class RecordingNode : public CCNode {
public:
    RecordingNode(fltest::CallLog* log, std::string name) : log_(log), name_(std::move(name)) {}
    void onEnter() override {
        CCNode::onEnter();
        log_->add(name_ + ".enter");
    }
    void onEnterTransitionDidFinish() override {
        CCNode::onEnterTransitionDidFinish();
        log_->add(name_ + ".enterDone");
    }
    void onExitTransitionDidStart() override {
        log_->add(name_ + ".exitStart");
        CCNode::onExitTransitionDidStart();
    }
    void onExit() override {
        log_->add(name_ + ".exit");
        CCNode::onExit();
    }

private:
    fltest::CallLog* log_;
    std::string name_;
};

platform::Ref<RecordingNode> recording(fltest::CallLog* log, const char* name) {
    auto node = platform::make<RecordingNode>(log, name);
    node->init();
    return node;
}

TEST_F(ClippingNodeTest, StencilEntersAfterAndExitsBeforeTheNode) {
    fltest::CallLog log;
    auto stencil = recording(&log, "stencil");
    auto clip = CCClippingNode::clippingNodeWithStencil(stencil.get());
    clip->addChild(recording(&log, "child").get());

    clip->onEnter();
    clip->onEnterTransitionDidFinish();
    EXPECT_TRUE(stencil->isRunning());
    clip->onExitTransitionDidStart();
    clip->onExit();
    EXPECT_FALSE(stencil->isRunning());
    EXPECT_EQ(log.calls, (std::vector<std::string>{"child.enter", "stencil.enter", "child.enterDone",
                                                   "stencil.enterDone", "stencil.exitStart",
                                                   "child.exitStart", "stencil.exit", "child.exit"}));
}

TEST_F(ClippingNodeTest, ReplacingTheStencilOfARunningNodeMovesTheRunningState) {
    fltest::CallLog log;
    auto first = recording(&log, "first");
    auto second = recording(&log, "second");
    auto clip = CCClippingNode::clippingNodeWithStencil(first.get());
    clip->onEnter();
    log.clear();

    clip->setStencil(second.get());
    EXPECT_EQ(clip->stencil(), second.get());
    EXPECT_FALSE(first->isRunning());
    EXPECT_TRUE(second->isRunning());
    EXPECT_EQ(log.calls, (std::vector<std::string>{"first.exit", "second.enter", "second.enterDone"}));
    clip->onExit();
    EXPECT_FALSE(second->isRunning());

    // Not running: only stored.
    log.clear();
    clip->setStencil(first.get());
    EXPECT_TRUE(log.calls.empty());
    EXPECT_FALSE(first->isRunning());
}

} // namespace
