// Fixtures shared by the action tests.
#pragma once

#include "actions/CCActionManager.h"
#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCLayer.h"
#include "core/CCScene.h"
#include "core/CCScheduler.h"
#include "platform/Drawable.h"
#include "platform/Exception.h"
#include "tests/support/EngineTestSupport.h"

#include <GLES2/gl2.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace fltest {

// A running node of class NodeT whose actions are stepped the way the frame loop steps them:
// the director's scheduler updates the action manager with each frame's delta time.
template <class NodeT> class RunningNodeTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        node = NodeT::node();
        node->onEnter();
    }
    void TearDown() override {
        node->onExit();
        node->cleanup();
        node = nullptr;
        EngineTest::TearDown();
    }

    // Runs the action and applies its first step (t = 0).
    template <class A> A* run(const platform::Ref<A>& action) {
        node->runAction(action.get());
        tick(0);
        return action.get();
    }
    void tick(double dt) { director()->scheduler()->update(dt); }

    platform::Ref<NodeT> node;
};

// A scene with a layer of one colour (the whole window unless a size is given) that records its
// life cycle.
class LoggingScene : public CCScene {
public:
    static platform::Ref<LoggingScene> make(CallLog* log, std::string name, _ccColor3B color,
                                            CGSize size = CGSizeZero) {
        auto s = makeNode<LoggingScene>();
        s->log_ = log;
        s->name_ = std::move(name);
        auto layer = size.width > 0 ? CCLayerColor::layerWithColor(ccc4(color.r, color.g, color.b, 255),
                                                                   size.width, size.height)
                                    : CCLayerColor::layerWithColor(ccc4(color.r, color.g, color.b, 255));
        s->layer = layer.get();
        s->addChild(layer.get());
        return s;
    }
    void onEnter() override { log_->add("enter " + name_), CCScene::onEnter(), fault("enter"); }
    void onEnterTransitionDidFinish() override {
        log_->add("enterDone " + name_), CCScene::onEnterTransitionDidFinish(), fault("enterDone");
    }
    void onExitTransitionDidStart() override {
        log_->add("exitStart " + name_), CCScene::onExitTransitionDidStart(), fault("exitStart");
    }
    void onExit() override {
        log_->add("exit " + name_), CCScene::onExit();
        if (auto ask = std::exchange(afterExit, nullptr)) ask();
        fault("exit");
    }
    void cleanup() override {
        log_->add("cleanup " + name_), CCScene::cleanup();
        if (auto ask = std::exchange(afterCleanup, nullptr)) ask();
    }

    CCLayerColor* layer = nullptr;
    // The life-cycle call ("enter", "enterDone", "exitStart", "exit") that throws, once, after
    // doing its work: a game's fault.
    std::string throwIn;
    // What the game does in the next exit call or cleanup, once: a scene change, say.
    std::function<void()> afterExit, afterCleanup;

private:
    void fault(const std::string& call) {
        if (throwIn != call) return;
        throwIn.clear();
        throw platform::Exception(platform::NSInternalInconsistencyException, call + " " + name_);
    }
    CallLog* log_ = nullptr;
    std::string name_;
};

// Whether the pixel's colour channels (RGBA, red in the top byte) lie within the tolerance of
// the wanted ones; alpha is not compared.
inline bool near(std::uint32_t pixel, std::uint32_t want, int tolerance = 3) {
    for (int shift = 8; shift < 32; shift += 8)
        if (std::abs(int((pixel >> shift) & 0xFF) - int((want >> shift) & 0xFF)) > tolerance) return false;
    return true;
}

// Two logging scenes, A red and B blue, for tests that hand the director from one to the other.
class TwoSceneTest : public EngineGLTest {
protected:
    using Calls = std::vector<std::string>;

    void SetUp() override {
        EngineGLTest::SetUp();
        a = LoggingScene::make(&log, "A", ccc3(255, 0, 0));
        b = LoggingScene::make(&log, "B", ccc3(0, 0, 255));
    }
    void TearDown() override {
        a = b = nullptr;
        EngineGLTest::TearDown();
    }
    // Runs scene A and draws its first frame (delta time 0); the log starts empty.
    void startOnA() {
        director()->runWithScene(a.get());
        director()->startAnimation();
        advanceRefreshes(1);
        log.clear();
    }
    Calls takeLog() {
        Calls calls = log.calls;
        log.clear();
        return calls;
    }
    // Hands the transition to the director and draws until its actions took their first step
    // (at time 0), one frame after it entered.
    void enter(CCScene* t) {
        director()->replaceScene(t);
        advanceRefreshes(2);
    }
    // Frames of 1/60 s for `seconds`.
    void runFor(double seconds) { advanceRefreshes(static_cast<int>(std::lround(seconds * 60))); }
    // The presented frames at kTurnPercents of the one-second transition `t` from A to B, drawn
    // with the director's depth test as given (and found so after each); then back on A.
    std::vector<platform::PixelBuffer> turnFrames(CCScene* t, bool depthTest) {
        director()->setDepthTest(depthTest);
        enter(t);
        std::vector<platform::PixelBuffer> frames;
        int now = 0;
        for (int percent : kTurnPercents) {
            runFor((percent - now) / 100.0);
            now = percent;
            frames.push_back(director()->view()->layer()->presentedFrame());
            EXPECT_EQ(glIsEnabled(GL_DEPTH_TEST) == GL_TRUE, depthTest) << "at " << percent << "%";
        }
        runFor((100 - now) / 100.0 + 2.0 / 60);
        EXPECT_EQ(director()->runningScene(), b.get());
        director()->replaceScene(a.get());
        advanceRefreshes(1);
        return frames;
    }
    static constexpr int kTurnPercents[] = {10, 30, 60, 85};

    CallLog log;
    platform::Ref<LoggingScene> a, b;
};

} // namespace fltest
