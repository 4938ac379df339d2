#include "actions/CCActionGrid3D.h"
#include "actions/CCActionInterval.h"
#include "actions/CCActionPageTurn3D.h"
#include "actions/CCGrid.h"
#include "actions/CCTransitionPageTurn.h"
#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCLayer.h"
#include "core/CCScheduler.h"
#include "core/CCTouchDispatcher.h"
#include "graphics/CCRenderTexture.h"
#include "platform/Drawable.h"
#include "platform/Image.h"
#include "tests/actions/ActionTestSupport.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/GLTestSupport.h"

#include <GLES2/gl2ext.h>

#include <cmath>
#include <iterator>
#include <string>
#include <vector>

using fltest::CallLog;
using fltest::near;
using platform::Ref;

namespace {

using Calls = std::vector<std::string>;

constexpr std::uint32_t kRed = 0xFF0000FFu;
constexpr std::uint32_t kBlue = 0x0000FFFFu;

CCGrid3D* grid3D(CCNode* node) {
    return dynamic_cast<CCGrid3D*>(node->grid());
}

class PageTurnTest : public fltest::TwoSceneTest {};

class LandscapePageTurnTest : public PageTurnTest {
protected:
    CGSize viewSize() const override { return CGSizeMake(480, 320); }
};

} // namespace

// ---- the curl ----

TEST_F(PageTurnTest, CurlMatchesHandWorkedSinglePrecisionValues) {
    startOnA();
    auto node = CCNode::node();
    a->addChild(node.get());
    // A 4 by 4 grid over 320 x 480 points: cells of 80 x 120.
    Ref<CCPageTurn3D> curl = CCPageTurn3D::actionWithDuration(1, CGSizeMake(4, 4));
    curl->startWithTarget(node.get());
    ASSERT_TRUE(grid3D(node.get()));

    // At t = 0 the cone is flat: the picture stays where it is (to rounding), lifted to z = 0.5.
    curl->update(0);
    for (int i = 0; i <= 4; ++i)
        for (int j = 0; j <= 4; ++j) {
            _ccVertex3F v = curl->vertex(CGPointMake(i, j));
            EXPECT_NEAR(v.x, 80.0f * i, 1e-4);
            EXPECT_NEAR(v.y, 120.0f * j, 1e-4);
            EXPECT_EQ(v.z, 0.5f);
        }

    // t = 0.25: apex still at -100, theta a quarter of pi. The y lies close to a cancellation, so
    // working it in double instead would miss by about twenty units in the last place.
    curl->update(0.25);
    _ccVertex3F v = curl->vertex(CGPointMake(1, 0));
    EXPECT_FLOAT_EQ(v.x, 73.8799438f);
    EXPECT_FLOAT_EQ(v.y, 1.05659866f);
    EXPECT_FLOAT_EQ(v.z, 3.85798383f);

    // t = 0.64: the apex has sunk to -100 - 500 * 0.39^2.
    curl->update(0.64);
    v = curl->vertex(CGPointMake(3, 1));
    EXPECT_FLOAT_EQ(v.x, 94.9063721f);
    EXPECT_FLOAT_EQ(v.y, 147.119873f);
    EXPECT_FLOAT_EQ(v.z, 25.4749203f);
    v = curl->vertex(CGPointMake(4, 4));
    EXPECT_FLOAT_EQ(v.x, 224.384094f);
    EXPECT_FLOAT_EQ(v.y, 491.293091f);
    EXPECT_FLOAT_EQ(v.z, 27.5186901f);
    // The spine never moves.
    v = curl->vertex(CGPointMake(0, 2));
    EXPECT_EQ(v.x, 0.0f);
    EXPECT_EQ(v.y, 240.0f);
}

TEST_F(PageTurnTest, FullyTurnedPageCollapsesOntoTheSpineWithoutNaN) {
    startOnA();
    auto node = CCNode::node();
    a->addChild(node.get());
    Ref<CCPageTurn3D> curl = CCPageTurn3D::actionWithDuration(1, CGSizeMake(4, 4));
    curl->startWithTarget(node.get());
    curl->update(1); // the cone has closed: sin(theta) is exactly 0
    const float ay = -100.0f - 0.75f * 0.75f * 500.0f;
    for (int i = 0; i <= 4; ++i)
        for (int j = 0; j <= 4; ++j) {
            _ccVertex3F v = curl->vertex(CGPointMake(i, j));
            const float dy = 120.0f * j - ay;
            const float x = 80.0f * i;
            EXPECT_EQ(v.x, 0.0f) << i << "," << j;
            EXPECT_EQ(v.y, sqrtf(x * x + dy * dy) + ay) << i << "," << j;
            EXPECT_EQ(v.z, 0.5f) << i << "," << j;
        }
}

TEST_F(PageTurnTest, CurlWithoutAGridTouchesNothing) {
    Ref<CCPageTurn3D> curl = CCPageTurn3D::actionWithDuration(1, CGSizeMake(4, 4));
    curl->update(0.5);
    EXPECT_EQ(curl->vertex(CGPointMake(1, 1)).x, 0.0f);
}

// ---- the transition ----

TEST_F(PageTurnTest, ForwardsTurnsTheOutgoingPageAwayOverTheIncomingScene) {
    startOnA();
    auto t = CCTransitionPageTurn::transitionWithDuration(1, b.get(), false);
    ASSERT_TRUE(t);
    EXPECT_FALSE(t->isBackwards());
    EXPECT_FALSE(t->isInSceneOnTop());
    Ref<CCActionInterval> made = t->actionWithSize(CGSizeMake(5, 7));
    auto* curl = dynamic_cast<CCPageTurn3D*>(made.get());
    ASSERT_TRUE(curl);
    EXPECT_EQ(curl->duration(), 1.0);
    EXPECT_EQ(curl->gridSize(), CGSizeMake(5, 7));

    director()->replaceScene(t.get());
    advanceRefreshes(2); // entered, then the first step
    EXPECT_EQ(takeLog(), (Calls{"exitStart A", "enter B"}));
    EXPECT_FALSE(director()->touchDispatcher()->dispatchEvents());
    ASSERT_TRUE(grid3D(a.get()));
    EXPECT_TRUE(grid3D(a.get())->active());
    EXPECT_EQ(grid3D(a.get())->gridSize(), CGSizeMake(12, 16)); // portrait: more rows
    EXPECT_EQ(b->grid(), nullptr);
    EXPECT_TRUE(near(presentedPixel(310, 10), kRed));

    // Half way the bottom-right corner has rolled over to about (71, 86): the incoming scene
    // shows there, while the page still lies flat along its spine.
    runFor(0.5);
    EXPECT_TRUE(near(presentedPixel(310, 10), kBlue));
    EXPECT_TRUE(near(presentedPixel(10, 240), kRed));

    runFor(0.5 + 2.0 / 60);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_EQ(takeLog(), (Calls{"exit A", "enterDone B", "cleanup A"}));
    EXPECT_FALSE(grid3D(a.get())->active()); // stopped, left on the node
    EXPECT_TRUE(a->visible());
    EXPECT_TRUE(near(presentedPixel(310, 10), kBlue));
}

TEST_F(PageTurnTest, BackwardsLaysTheIncomingPageDownOnTop) {
    startOnA();
    auto t = CCTransitionPageTurn::transitionWithDuration(1, b.get(), true);
    ASSERT_TRUE(t);
    // The direction was known when the base initialiser fixed the order.
    EXPECT_TRUE(t->isInSceneOnTop());
    Ref<CCActionInterval> made = t->actionWithSize(CGSizeMake(12, 16));
    auto* back = dynamic_cast<CCReverseTime*>(made.get());
    ASSERT_TRUE(back);
    EXPECT_TRUE(dynamic_cast<CCPageTurn3D*>(back->otherAction()));
    EXPECT_EQ(back->duration(), 1.0);

    director()->replaceScene(t.get());
    advanceRefreshes(1); // entered: hidden until its show runs
    EXPECT_FALSE(b->visible());
    EXPECT_TRUE(near(presentedPixel(160, 240), kRed));
    advanceRefreshes(1);
    EXPECT_TRUE(b->visible());
    ASSERT_TRUE(grid3D(b.get()));
    EXPECT_EQ(a->grid(), nullptr);
    // The first step shows the page fully turned back: nothing of it covers the outgoing scene.
    EXPECT_TRUE(near(presentedPixel(160, 240), kRed));

    runFor(0.5);
    EXPECT_TRUE(near(presentedPixel(310, 10), kRed));
    EXPECT_TRUE(near(presentedPixel(10, 240), kBlue));

    runFor(0.5 + 2.0 / 60);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_FALSE(grid3D(b.get())->active());
    EXPECT_TRUE(near(presentedPixel(310, 10), kBlue));
    EXPECT_TRUE(near(presentedPixel(160, 240), kBlue));
}

TEST_F(PageTurnTest, OpeningTheShowWithNoPageToTurnStillSwitches) {
    auto t = CCTransitionPageTurn::transitionWithDuration(0.5, b.get(), false);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->outScene(), nullptr);
    director()->runWithScene(t.get());
    director()->startAnimation();
    runFor(0.5 + 3.0 / 60);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_TRUE(near(presentedPixel(160, 240), kBlue));
}

TEST_F(LandscapePageTurnTest, LandscapeWindowGetsMoreColumns) {
    startOnA();
    director()->replaceScene(CCTransitionPageTurn::transitionWithDuration(0.25, b.get(), false).get());
    advanceRefreshes(2);
    ASSERT_TRUE(grid3D(a.get()));
    EXPECT_EQ(grid3D(a.get())->gridSize(), CGSizeMake(16, 12));
    runFor(0.5);
    ASSERT_EQ(director()->runningScene(), b.get());

    director()->replaceScene(CCTransitionPageTurn::transitionWithDuration(0.25, a.get(), true).get());
    advanceRefreshes(2);
    ASSERT_TRUE(grid3D(a.get()));
    EXPECT_TRUE(grid3D(a.get())->active());
    EXPECT_EQ(grid3D(a.get())->gridSize(), CGSizeMake(16, 12));
}

// ---- the fold over the flat page, on any view ----

namespace {

// A 128 x 128 view. Each scene is its colour under a checker of yellow squares, so the part of
// the page rolled over shows whether it is drawn above or below the flat part.
class PageTurnDepthTest : public PageTurnTest {
protected:
    CGSize viewSize() const override { return CGSizeMake(128, 128); }
    void SetUp() override {
        PageTurnTest::SetUp();
        addChecker(a.get());
        addChecker(b.get());
        startOnA();
    }
    static void addChecker(CCNode* node) {
        for (int x = 0; x < 8; ++x)
            for (int y = (x % 2); y < 8; y += 2) {
                auto square = CCLayerColor::layerWithColor(ccc4(255, 255, 0, 255), 16, 16);
                square->setPosition(CGPointMake(16 * x, 16 * y));
                node->addChild(square.get());
            }
    }
    // The frames of a one-second page turn from A to B (see turnFrames).
    std::vector<platform::PixelBuffer> pageTurnFrames(bool backwards, bool depthTest) {
        return turnFrames(CCTransitionPageTurn::transitionWithDuration(1, b.get(), backwards).get(),
                          depthTest);
    }
    // The director draws on a view with a depth buffer from here on.
    bool drawOnADepthView() {
        Ref<CCGLView> view =
            fltest::makeGLView(viewSize(), 1.0, kEAGLColorFormatRGBA8, GL_DEPTH24_STENCIL8_OES);
        if (view) director()->setView(view.get());
        return view != nullptr;
    }
    static int differing(const platform::PixelBuffer& got, const platform::PixelBuffer& want) {
        int count = 0;
        for (int y = 0; y < got.height; ++y)
            for (int x = 0; x < got.width; ++x)
                count += got.pixel(x, y) != want.pixel(x, y);
        return count;
    }
};

} // namespace

TEST_F(PageTurnDepthTest, FoldLiesOverTheFlatPageWithoutADepthBufferOrItsTest) {
    std::vector<platform::PixelBuffer> noDepthBuffer[2], depthTestOff[2], reference[2];
    for (bool back : {false, true})
        noDepthBuffer[back] = pageTurnFrames(back, false);

    ASSERT_TRUE(drawOnADepthView());
    for (bool back : {false, true}) {
        depthTestOff[back] = pageTurnFrames(back, false);
        reference[back] = pageTurnFrames(back, true);
    }

    for (bool back : {false, true})
        for (std::size_t f = 0; f < std::size(kTurnPercents); ++f) {
            SCOPED_TRACE(testing::Message()
                         << (back ? "backwards" : "forwards") << " at " << kTurnPercents[f] << "%");
            ASSERT_EQ(reference[back][f].rgba.size(), std::size_t{128 * 128 * 4});
            EXPECT_LE(differing(noDepthBuffer[back][f], reference[back][f]), 32);
            EXPECT_LE(differing(depthTestOff[back][f], reference[back][f]), 32);
        }
}

TEST_F(PageTurnDepthTest, TheFoldIsTheSameOnEveryTargetWhateverTheDepthBufferHolds) {
    // A card curled a tenth further each frame, captured into a render texture cleared in colour
    // only: the depth a texture with a depth buffer keeps from one capture to the next must not
    // hide the next fold.
    const auto captures = [&](GLuint depthStencilFormat) {
        Ref<CCRenderTexture> rt = CCRenderTexture::renderTextureWithWidth(
            128, 128, kCCTexture2DPixelFormat_RGBA8888, depthStencilFormat);
        EXPECT_TRUE(rt);
        Ref<CCLayerColor> card = CCLayerColor::layerWithColor(ccc4(255, 0, 0, 255), 96, 96);
        addChecker(card.get());
        card->onEnter();
        card->runAction(CCPageTurn3D::actionWithDuration(1, CGSizeMake(12, 16)).get());
        std::vector<platform::PixelBuffer> frames;
        for (int f = 0; f < 9 && rt; ++f) {
            director()->scheduler()->update(f == 0 ? 0 : 0.1);
            rt->beginWithClear(0, 0, 0.5f, 1);
            card->visit();
            rt->end();
            frames.push_back(platform::PixelBuffer{128, 128, rt->newCGImage()->pixels()});
        }
        card->onExit();
        card->cleanup();
        return frames;
    };
    const std::vector<platform::PixelBuffer> withDepth = captures(GL_DEPTH24_STENCIL8_OES);
    const std::vector<platform::PixelBuffer> without = captures(0);
    ASSERT_EQ(withDepth.size(), without.size());
    for (std::size_t f = 0; f < without.size(); ++f)
        EXPECT_EQ(differing(withDepth[f], without[f]), 0) << "capture " << f;

    // Scenes with nothing behind their checkers, so the curl is see-through: on a depth view
    // with the director's depth test off, its clear texels hide nothing of the page beneath.
    a->layer->setVisible(false);
    b->layer->setVisible(false);
    std::vector<platform::PixelBuffer> noDepthBuffer[2];
    for (bool back : {false, true})
        noDepthBuffer[back] = pageTurnFrames(back, false);
    ASSERT_TRUE(drawOnADepthView());
    for (bool back : {false, true}) {
        const std::vector<platform::PixelBuffer> testOff = pageTurnFrames(back, false);
        for (std::size_t f = 0; f < std::size(kTurnPercents); ++f)
            EXPECT_EQ(differing(testOff[f], noDepthBuffer[back][f]), 0)
                << (back ? "backwards" : "forwards") << " at " << kTurnPercents[f] << "%";
    }
}

TEST_F(PageTurnDepthTest, AReusedCurledGridKeepsTheFoldOverThePage) {
    Ref<CCPageTurn3D> curl = CCPageTurn3D::actionWithDuration(1, CGSizeMake(12, 16));
    a->runAction(curl.get());
    runFor(0.85);
    a->stopAction(curl.get());
    advanceRefreshes(1);
    const platform::PixelBuffer curled = director()->view()->layer()->presentedFrame();

    // Waves of no height leave the curled mesh as it is.
    a->runAction(CCSequence::actionOne(CCReuseGrid::actionWithTimes(1).get(),
                                       CCWaves3D::actionWithWaves(1, 0, CGSizeMake(12, 16), 1).get())
                     .get());
    advanceRefreshes(3);
    ASSERT_TRUE(grid3D(a.get())->active());
    EXPECT_EQ(differing(director()->view()->layer()->presentedFrame(), curled), 0);
}
