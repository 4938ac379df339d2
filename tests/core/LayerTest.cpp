#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCLayer.h"
#include "core/CCScene.h"
#include "core/CCShaderCache.h"
#include "core/CCTouchDispatcher.h"
#include "platform/Device.h"
#include "platform/Exception.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/GLTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

class LayerTest : public fltest::EngineGLTest {
protected:
    CGSize viewSize() const override { return CGSizeMake(80, 60); }
    void TearDown() override {
        platform::Accelerometer::sharedAccelerometer()->reset();
        CCShaderCache::purgeSharedShaderCache();
        fltest::EngineGLTest::TearDown();
    }

    CCTouchDispatcher* dispatcher() const { return director()->touchDispatcher(); }
    // Makes the scene the running one, entered.
    void run(CCScene* scene) {
        director()->runWithScene(scene);
        director()->drawScene();
        ASSERT_EQ(director()->runningScene(), scene);
    }
};

void expectCorners(const CCLayerColor* layer, std::vector<_ccColor4F> expected, float tolerance = 1e-4f) {
    for (int i = 0; i < 4; ++i) {
        const _ccColor4F& c = layer->squareColors()[i];
        const _ccColor4F& e = expected[static_cast<std::size_t>(i)];
        EXPECT_NEAR(c.r, e.r, tolerance) << "corner " << i;
        EXPECT_NEAR(c.g, e.g, tolerance) << "corner " << i;
        EXPECT_NEAR(c.b, e.b, tolerance) << "corner " << i;
        EXPECT_NEAR(c.a, e.a, tolerance) << "corner " << i;
    }
}

// ---- touch and accelerometer registration ----

TEST_F(LayerTest, TouchRegistrationFollowsTheRunningScene) {
    auto scene = CCScene::node();
    auto layer = CCLayer::node();
    layer->setTouchEnabled(true);
    scene->addChild(layer.get());
    EXPECT_EQ(dispatcher()->findHandler(layer.get()), nullptr) << "registers only when it enters";

    run(scene.get());
    CCTouchHandler* handler = dispatcher()->findHandler(layer.get());
    ASSERT_NE(handler, nullptr);
    EXPECT_NE(dynamic_cast<CCStandardTouchHandler*>(handler), nullptr);
    EXPECT_EQ(handler->priority(), 0);

    // The same priority changes nothing; a new one re-registers once.
    layer->setTouchPriority(0);
    EXPECT_EQ(dispatcher()->findHandler(layer.get()), handler);
    layer->setTouchPriority(-5);
    ASSERT_EQ(dispatcher()->standardHandlers().size(), 1u);
    EXPECT_EQ(dispatcher()->standardHandlers()[0]->priority(), -5);

    layer->setTouchMode(kCCTouchesOneByOne);
    EXPECT_TRUE(dispatcher()->standardHandlers().empty());
    ASSERT_EQ(dispatcher()->targetedHandlers().size(), 1u);
    auto* targeted = dynamic_cast<CCTargetedTouchHandler*>(dispatcher()->targetedHandlers()[0].get());
    ASSERT_NE(targeted, nullptr);
    EXPECT_EQ(targeted->priority(), -5);
    EXPECT_TRUE(targeted->swallowsTouches());
    layer->setTouchSwallow(false);
    ASSERT_EQ(dispatcher()->targetedHandlers().size(), 1u);
    EXPECT_FALSE(
        static_cast<CCTargetedTouchHandler*>(dispatcher()->targetedHandlers()[0].get())->swallowsTouches());

    // Switching touch off and on while running acts at once.
    layer->setTouchEnabled(false);
    EXPECT_EQ(dispatcher()->findHandler(layer.get()), nullptr);
    layer->setTouchEnabled(true);
    EXPECT_NE(dispatcher()->findHandler(layer.get()), nullptr);

    // Leaving the scene unregisters; the dispatcher lets go of the layer.
    std::uint64_t held = layer->retainCount();
    scene->removeChild(layer.get(), true);
    EXPECT_EQ(dispatcher()->findHandler(layer.get()), nullptr);
    EXPECT_LT(layer->retainCount(), held);
}

TEST_F(LayerTest, TouchSettingsOutsideTheStageWaitForEntry) {
    auto scene = CCScene::node();
    run(scene.get());

    auto layer = CCLayer::node();
    layer->setTouchEnabled(true);
    layer->setTouchMode(kCCTouchesOneByOne);
    layer->setTouchPriority(3);
    layer->setTouchEnabled(false);
    EXPECT_TRUE(dispatcher()->targetedHandlers().empty());
    EXPECT_TRUE(dispatcher()->standardHandlers().empty());

    scene->addChild(layer.get());
    EXPECT_EQ(dispatcher()->findHandler(layer.get()), nullptr) << "touch is off";
    layer->setTouchEnabled(true);
    ASSERT_EQ(dispatcher()->targetedHandlers().size(), 1u);
    EXPECT_EQ(dispatcher()->targetedHandlers()[0]->priority(), 3);

    // A plain layer claims every touch offered one by one.
    EXPECT_TRUE(layer->ccTouchBegan(nullptr, nullptr));
}

class TiltLayer : public CCLayer {
public:
    void accelerometer(platform::Accelerometer*, const platform::Acceleration* a) override {
        readings.push_back(a->x);
    }
    std::vector<double> readings;
};

TEST_F(LayerTest, AccelerometerDelegateFromEntryToExit) {
    platform::Accelerometer* accelerometer = platform::Accelerometer::sharedAccelerometer();
    auto scene = CCScene::node();
    auto layer = makeNode<TiltLayer>();
    layer->setAccelerometerEnabled(true);
    EXPECT_EQ(accelerometer->delegate(), nullptr) << "not running yet";
    scene->addChild(layer.get());
    run(scene.get());
    EXPECT_EQ(accelerometer->delegate(), layer.get());

    accelerometer->deliver({0.25, 0, -1, 1.0});
    EXPECT_EQ(layer->readings, std::vector<double>{0.25});

    layer->setAccelerometerEnabled(false);
    EXPECT_EQ(accelerometer->delegate(), nullptr);
    layer->setAccelerometerEnabled(true);
    EXPECT_EQ(accelerometer->delegate(), layer.get());

    layer->setAccelerometerInterval(0.5f);
    EXPECT_EQ(accelerometer->updateInterval(), 0.5);

    // A layer leaving does not take away another layer's registration.
    auto other = makeNode<TiltLayer>();
    other->setAccelerometerEnabled(true);
    scene->addChild(other.get());
    other->onEnterTransitionDidFinish();
    scene->removeChild(layer.get(), true);
    EXPECT_EQ(accelerometer->delegate(), other.get());
    scene->removeChild(other.get(), true);
    EXPECT_EQ(accelerometer->delegate(), nullptr);

    // Nor does a layer switching off, and a layer that goes away takes its registration along.
    scene->addChild(layer.get());
    layer->onEnterTransitionDidFinish();
    {
        auto stray = makeNode<TiltLayer>();
        stray->setAccelerometerEnabled(true);
        stray->onEnterTransitionDidFinish();
        layer->setAccelerometerEnabled(false);
        EXPECT_EQ(accelerometer->delegate(), stray.get());
    }
    EXPECT_EQ(accelerometer->delegate(), nullptr);
}

// ---- colour layers ----

TEST_F(LayerTest, ColourLayerCornersAndSize) {
    auto layer = CCLayerColor::layerWithColor(ccc4(255, 0, 0, 128), 30, 20);
    ASSERT_TRUE(layer);
    expectCorners(layer.get(), {4, {1, 0, 0, 0.50196f}});
    layer->setOpacity(255);
    expectCorners(layer.get(), {4, {1, 0, 0, 1}});
    layer->setColor(ccc3(0, 51, 255));
    expectCorners(layer.get(), {4, {0, 0.2f, 1, 1}});

    const _ccVertex2F* v = layer->squareVertices();
    EXPECT_EQ(v[0].x, 0);
    EXPECT_EQ(v[0].y, 0);
    EXPECT_EQ(v[1].x, 30);
    EXPECT_EQ(v[1].y, 0);
    EXPECT_EQ(v[2].x, 0);
    EXPECT_EQ(v[2].y, 20);
    EXPECT_EQ(v[3].x, 30);
    EXPECT_EQ(v[3].y, 20);
    layer->changeWidth(12);
    layer->changeHeight(7);
    EXPECT_EQ(layer->contentSize().width, 12);
    EXPECT_EQ(layer->contentSize().height, 7);
    EXPECT_EQ(v[3].x, 12);
    EXPECT_EQ(v[3].y, 7);

    EXPECT_EQ(layer->shaderProgram(),
              CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionColor));
    EXPECT_EQ(layer->blendFunc(), (_ccBlendFunc{GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA}));

    // The plain initialiser: transparent black over the whole window.
    auto plain = CCLayerColor::node();
    EXPECT_EQ(plain->contentSize().width, 80);
    EXPECT_EQ(plain->contentSize().height, 60);
    expectCorners(plain.get(), {4, {0, 0, 0, 0}});
}

TEST_F(LayerTest, GradientCornersWithAndWithoutCompression) {
    const float mostly = (std::sqrt(2.0f) + 1) / (2 * std::sqrt(2.0f)); // 0.8536
    auto g = CCLayerGradient::layerWithColor(ccc4(255, 0, 0, 255), ccc4(0, 0, 255, 0), CGPointMake(1, 0));
    ASSERT_TRUE(g);
    g->setCompressedInterpolation(false);
    auto mix = [](float t) { return _ccColor4F{t, 0, 1 - t, t}; };
    expectCorners(g.get(), {mix(mostly), mix(1 - mostly), mix(mostly), mix(1 - mostly)});
    g->setCompressedInterpolation(true);
    expectCorners(g.get(), {mix(1), mix(0), mix(1), mix(0)});

    // The layer's opacity scales both ends' opacities.
    g->setOpacity(51);
    expectCorners(g.get(), {{1, 0, 0, 0.2f}, {0, 0, 1, 0}, {1, 0, 0, 0.2f}, {0, 0, 1, 0}});

    // The default direction puts the start colour on top.
    auto down = CCLayerGradient::layerWithColor(ccc4(0, 255, 0, 255), ccc4(0, 0, 0, 255));
    expectCorners(down.get(), {{0, 0, 0, 1}, {0, 0, 0, 1}, {0, 1, 0, 1}, {0, 1, 0, 1}});
    EXPECT_EQ(down->startColor(), ccc3(0, 255, 0));
    EXPECT_EQ(down->opacity(), 255);

    // No direction: the plain colour of the start.
    down->setVector(CGPointZero);
    expectCorners(down.get(), {4, {0, 1, 0, 1}});
    down->setEndColor(ccc3(9, 9, 9));
    expectCorners(down.get(), {4, {0, 1, 0, 1}});
}

// ---- multiplex ----

TEST_F(LayerTest, MultiplexShowsOneLayerAtATime) {
    auto a = CCLayer::node();
    auto b = CCLayer::node();
    auto c = CCLayer::node();
    auto m = CCLayerMultiplex::layerWithLayers({a.get(), b.get(), c.get()});
    ASSERT_TRUE(m);
    EXPECT_EQ(a->parent(), m.get());
    EXPECT_EQ(b->parent(), nullptr);

    m->switchTo(2);
    EXPECT_EQ(a->parent(), nullptr);
    EXPECT_EQ(c->parent(), m.get());

    std::uint64_t held = c->retainCount();
    m->switchToAndReleaseMe(1);
    EXPECT_EQ(c->parent(), nullptr);
    EXPECT_EQ(c->retainCount(), held - 2) << "neither the list nor the multiplex holds it";
    EXPECT_EQ(b->parent(), m.get());

    EXPECT_THROW(m->switchTo(2), platform::Exception) << "released";
    EXPECT_THROW(m->switchTo(3), platform::Exception) << "out of range";
    EXPECT_EQ(b->parent(), m.get()) << "a refused switch leaves the shown layer";
    EXPECT_EQ(CCLayerMultiplex::layerWithLayers({}), nullptr);
}

// ---- drawing on Mesa ----

struct DrawCase {
    float scale;
    ccDirectorProjection projection;
};

class LayerDrawTest : public LayerTest, public ::testing::WithParamInterface<DrawCase> {};

std::uint32_t rgba(float r, float g, float b, float a = 1) {
    auto byte = [](float v) { return static_cast<std::uint32_t>(std::lround(v * 255)); };
    return byte(r) << 24 | byte(g) << 16 | byte(b) << 8 | byte(a);
}

// A vertical red-over-blue gradient on the left half, a left-to-right green-to-blue gradient
// without compression on the right half, and an opaque yellow box over the right half.
TEST_P(LayerDrawTest, ColourAndGradientLayersReachThePixels) {
    const DrawCase param = GetParam();
    if (param.scale == 2) {
        platform::Device::setCurrent(platform::DeviceProfile::phoneRetina());
        ASSERT_TRUE(director()->enableRetinaDisplay(true));
        view()->layoutIfNeeded();
    }
    director()->setProjection(param.projection);

    auto scene = CCScene::node();
    auto left = CCLayerGradient::layerWithColor(ccc4(255, 0, 0, 255), ccc4(0, 0, 255, 255));
    left->changeWidth(40, 60);
    auto right =
        CCLayerGradient::layerWithColor(ccc4(0, 255, 0, 255), ccc4(0, 0, 255, 255), CGPointMake(1, 0));
    right->setCompressedInterpolation(false);
    right->changeWidth(40, 60);
    right->setPosition(CGPointMake(40, 0));
    auto box = CCLayerColor::layerWithColor(ccc4(255, 255, 0, 255), 20, 10);
    box->setPosition(CGPointMake(50, 20));
    scene->addChild(left.get());
    scene->addChild(right.get());
    scene->addChild(box.get());
    run(scene.get());

    const int s = static_cast<int>(param.scale);
    ASSERT_EQ(view()->layer()->presentedFrame().width, 80 * s);
    ASSERT_EQ(view()->layer()->presentedFrame().height, 60 * s);

    // Left: t runs from 0 at the bottom edge to 1 at the top edge.
    for (int y : {0, 7, 30, 59}) {
        int py = y * s;
        float t = (py + 0.5f) / (60.0f * s);
        EXPECT_TRUE(fltest::colorNear(presentedPixel(20 * s, py), rgba(t, 0, 1 - t))) << "left row " << py;
    }
    // Right: 0.8536 of the start colour at the left edge, 0.1464 at the right edge.
    const float tl = (std::sqrt(2.0f) + 1) / (2 * std::sqrt(2.0f));
    for (int x : {40, 45, 79}) {
        int px = x * s;
        float f = (px - 40 * s + 0.5f) / (40.0f * s);
        float t = tl + ((1 - tl) - tl) * f;
        EXPECT_TRUE(fltest::colorNear(presentedPixel(px, 5 * s), rgba(0, t, 1 - t))) << "right column " << px;
    }
    // The box covers exactly its rectangle.
    EXPECT_TRUE(fltest::colorNear(presentedPixel(50 * s, 20 * s), rgba(1, 1, 0)));
    EXPECT_TRUE(fltest::colorNear(presentedPixel(70 * s - 1, 30 * s - 1), rgba(1, 1, 0)));
    EXPECT_FALSE(fltest::colorNear(presentedPixel(70 * s, 25 * s), rgba(1, 1, 0)));
    EXPECT_FALSE(fltest::colorNear(presentedPixel(60 * s, 30 * s), rgba(1, 1, 0)));
    for (const std::string& line : logLines)
        EXPECT_EQ(line.find("OpenGL error"), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(
    ScalesAndProjections, LayerDrawTest,
    ::testing::Values(DrawCase{1, kCCDirectorProjection2D}, DrawCase{1, kCCDirectorProjection3D},
                      DrawCase{2, kCCDirectorProjection2D}, DrawCase{2, kCCDirectorProjection3D}),
    [](const auto& info) {
        return std::string(info.param.scale == 2 ? "Scale2" : "Scale1") +
               (info.param.projection == kCCDirectorProjection2D ? "Ortho" : "Perspective");
    });

TEST_F(LayerTest, TranslucentColourLayerBlendsOverWhatIsBelow) {
    auto scene = CCScene::node();
    auto below = CCLayerColor::layerWithColor(ccc4(0, 0, 255, 255));
    auto above = CCLayerColor::layerWithColor(ccc4(255, 0, 0, 128), 40, 60);
    scene->addChild(below.get());
    scene->addChild(above.get());
    run(scene.get());
    fltest::GLCallCounter calls;
    director()->drawScene();
    EXPECT_EQ(calls.count("glDrawArrays"), 2u);
    EXPECT_TRUE(fltest::colorNear(presentedPixel(10, 10) & 0xFFFFFF00u, rgba(0.502f, 0, 0.498f, 0)));
    EXPECT_TRUE(fltest::colorNear(presentedPixel(60, 10) & 0xFFFFFF00u, rgba(0, 0, 1, 0)));
}

} // namespace
