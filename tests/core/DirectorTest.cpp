#include "actions/CCActionTransform.h"
#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCLayer.h"
#include "core/CCMatrix.h"
#include "core/CCProtocols.h"
#include "core/CCScheduler.h"
#include "core/CCShaderCache.h"
#include "core/CCStatsImages.h"
#include "core/CCTouchDispatcher.h"
#include "platform/Device.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/RunLoop.h"
#include "platform/Thread.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/GLTestSupport.h"

#include <GLES2/gl2.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <thread>

using fltest::CallLog;
using platform::Ref;

namespace {

constexpr double kFrame = 1.0 / 60;

// A scene that records its life cycle and its updates.
class LoggingScene : public CCScene {
public:
    static Ref<LoggingScene> make(CallLog* log, std::string name, bool transition = false) {
        auto s = makeNode<LoggingScene>();
        s->log_ = log;
        s->name_ = std::move(name);
        s->transition_ = transition;
        return s;
    }
    bool isTransitionScene() const override { return transition_; }
    void onEnter() override {
        log_->add("enter " + name_);
        enteredOn = std::this_thread::get_id();
        CCScene::onEnter();
    }
    void onEnterTransitionDidFinish() override {
        log_->add("enterDone " + name_);
        CCScene::onEnterTransitionDidFinish();
    }
    void onExitTransitionDidStart() override {
        log_->add("exitStart " + name_);
        CCScene::onExitTransitionDidStart();
    }
    void onExit() override {
        log_->add("exit " + name_);
        if (auto hook = std::exchange(onExitHook, nullptr)) hook();
        CCScene::onExit();
    }
    void cleanup() override {
        log_->add("cleanup " + name_);
        CCScene::cleanup();
    }
    void update(double) override { log_->add("update " + name_); }
    std::thread::id enteredOn;
    std::function<void()> onExitHook; // run once, in the next onExit

private:
    CallLog* log_ = nullptr;
    std::string name_;
    bool transition_ = false;
};

// Paints a small square of a solid colour where it is drawn (GL coordinates, pixels).
class SquareNode : public CCNode {
public:
    void set(int x, int y, float r, float g, float b) {
        x_ = x;
        y_ = y;
        r_ = r;
        g_ = g;
        b_ = b;
    }
    void draw() override {
        glEnable(GL_SCISSOR_TEST);
        glScissor(x_, y_, 10, 10);
        glClearColor(r_, g_, b_, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glDisable(GL_SCISSOR_TEST);
        glClearColor(0, 0, 0, 1);
        ++drawCallCounter;
    }

private:
    int x_ = 0, y_ = 0;
    float r_ = 0, g_ = 0, b_ = 0;
};

class RecordingDelegate : public CCDirectorDelegate {
public:
    explicit RecordingDelegate(std::uint32_t implemented) : CCDirectorDelegate(implemented) {}
    void updateProjection() override { ++projections; }
    void directorDidReshapeProjection(CCDirector*) override { ++reshapes; }
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation o) override {
        return o == platform::InterfaceOrientation::LandscapeLeft;
    }
    int projections = 0, reshapes = 0;
};

// A label stand-in for the statistics display: keeps its text and logs its drawing.
class TextNode : public CCNode, public CCLabelProtocol {
public:
    static Ref<TextNode> make(CallLog* log, std::string name) {
        auto n = makeNode<TextNode>();
        n->log_ = log;
        n->name_ = std::move(name);
        return n;
    }
    void setString(const std::string& string) override { text_ = string; }
    std::string string() const override { return text_; }
    void draw() override { log_->add("draw " + name_); }

private:
    CallLog* log_ = nullptr;
    std::string name_, text_;
};

// A second director (not the shared one) whose statistics labels and timing a test sets.
class StatsDirector : public CCDirectorDisplayLink {
public:
    void setLabels(CCNode* fps, CCNode* spf, CCNode* draws) {
        _FPSLabel = fps;
        _SPFLabel = spf;
        _drawsLabel = draws;
    }
    void setTiming(double dt, double secondsPerFrame) {
        _dt = dt;
        _secondsPerFrame = secondsPerFrame;
    }
};

class DirectorTest : public fltest::EngineGLTest {
protected:
    CallLog log;
    std::vector<std::string> takeLog() {
        auto calls = log.calls;
        log.clear();
        return calls;
    }
    using Calls = std::vector<std::string>;
};

} // namespace

// ---- frame loop and delta times ----------------------------------------------------------

TEST_F(DirectorTest, RunWithSceneEntersAndDrawsAtOnceWithZeroDelta) {
    auto scene = LoggingScene::make(&log, "A");
    EXPECT_EQ(scene->contentSize(), CGSizeMake(320, 480));
    director()->runWithScene(scene.get());
    EXPECT_EQ(takeLog(), (Calls{"enter A", "enterDone A"}));
    EXPECT_EQ(director()->runningScene(), scene.get());
    EXPECT_EQ(director()->totalFrames(), 1u);
    EXPECT_EQ(director()->dt(), 0);
    EXPECT_FALSE(director()->isAnimating());
}

TEST_F(DirectorTest, RunWithSceneFromAnotherThreadDrawsOnTheDirectorsThread) {
    auto scene = LoggingScene::make(&log, "A");
    CCDirector* d = director();
    platform::RunLoop* loop = platform::RunLoop::currentRunLoop();
    loop->pump(); // the director's thread serves its run loop from here on
    auto worker = platform::Thread::detachNewThread([d, scene] { d->runWithScene(scene.get()); });
    for (int i = 0; i < 500 && !worker->isFinished(); ++i)
        loop->runUntil(platform::MonotonicClock::sharedClock()->now() + 0.01);
    worker->join();
    EXPECT_EQ(scene->enteredOn, std::this_thread::get_id());
    EXPECT_EQ(director()->totalFrames(), 1u);
    EXPECT_EQ(director()->runningScene(), scene.get());
}

TEST_F(DirectorTest, DeltaTimeComesFromDisplayLinkTimestamps) {
    auto scene = LoggingScene::make(&log, "A");
    director()->runWithScene(scene.get());
    director()->startAnimation();
    ASSERT_TRUE(director()->isAnimating());
    EXPECT_EQ(director()->displayLink()->frameInterval(), 1);

    advanceRefreshes(1);
    EXPECT_EQ(director()->totalFrames(), 2u);
    EXPECT_EQ(director()->dt(), 0); // first frame after start
    advanceRefreshes(1);
    EXPECT_NEAR(director()->dt(), kFrame, 1e-12);
    advanceRefreshes(1);
    EXPECT_NEAR(director()->dt(), kFrame, 1e-12);

    director()->setNextDeltaTimeZero(true);
    advanceRefreshes(1);
    EXPECT_EQ(director()->dt(), 0);
    advanceRefreshes(1);
    EXPECT_NEAR(director()->dt(), kFrame, 1e-12);

    // A frame whose timestamp did not move on.
    director()->drawScene();
    EXPECT_EQ(director()->dt(), 0);

    // Stopping and starting again: the first frame gets zero, not the time stopped.
    director()->stopAnimation();
    EXPECT_EQ(director()->displayLink(), nullptr);
    advanceRefreshes(30);
    director()->startAnimation();
    advanceRefreshes(1);
    EXPECT_EQ(director()->dt(), 0);
    advanceRefreshes(1);
    EXPECT_NEAR(director()->dt(), kFrame, 1e-12);
    EXPECT_EQ(director()->totalFrames(), 9u);
}

TEST_F(DirectorTest, AnimationIntervalSetsDisplayLinkFrameIntervalAndPauseSlowsIt) {
    auto scene = LoggingScene::make(&log, "A");
    scene->scheduleUpdate();
    director()->runWithScene(scene.get());
    director()->setAnimationInterval(1.0 / 30);
    director()->startAnimation();
    EXPECT_EQ(director()->displayLink()->frameInterval(), 2);
    advanceRefreshes(4);
    EXPECT_NEAR(director()->dt(), 2 * kFrame, 1e-12);
    takeLog();

    std::uint64_t frames = director()->totalFrames();
    director()->pause();
    EXPECT_TRUE(director()->isPaused());
    EXPECT_EQ(director()->displayLink()->frameInterval(), 15);
    EXPECT_EQ(director()->animationInterval(), 0.25);
    advanceRefreshes(30);
    // Drawn four times a second, without scheduler updates.
    EXPECT_EQ(director()->totalFrames(), frames + 2);
    EXPECT_TRUE(takeLog().empty());

    director()->resume();
    EXPECT_FALSE(director()->isPaused());
    EXPECT_EQ(director()->displayLink()->frameInterval(), 2);
    EXPECT_EQ(director()->animationInterval(), 1.0 / 30);
    advanceRefreshes(2);
    EXPECT_EQ(director()->dt(), 0);
    EXPECT_EQ(takeLog(), (Calls{"update A"}));
    advanceRefreshes(2);
    EXPECT_NEAR(director()->dt(), 2 * kFrame, 1e-12);

    // Shorter than one refresh: one refresh.
    director()->setAnimationInterval(1.0 / 240);
    EXPECT_EQ(director()->displayLink()->frameInterval(), 1);
}

TEST_F(DirectorTest, AnimationIntervalsWithoutAFrameRateAreRefusedAndHugeOnesNeverFire) {
    director()->runWithScene(LoggingScene::make(&log, "A").get());
    director()->setAnimationInterval(1.0 / 30);
    director()->startAnimation();
    for (double bad : {std::nan(""), -1.0, -0.0 - 1e-9, std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity()}) {
        director()->setAnimationInterval(bad);
        EXPECT_EQ(director()->animationInterval(), 1.0 / 30) << bad;
        EXPECT_EQ(director()->displayLink()->frameInterval(), 2) << bad;
    }
    director()->setAnimationInterval(0);
    EXPECT_EQ(director()->displayLink()->frameInterval(), 1);

    director()->setAnimationInterval(1e300);
    EXPECT_EQ(director()->animationInterval(), 1e300);
    EXPECT_EQ(director()->displayLink()->frameInterval(), platform::DisplayLink::kMaxFrameInterval);
    std::uint64_t frames = director()->totalFrames();
    advanceRefreshes(600);
    EXPECT_EQ(director()->totalFrames(), frames);
}

TEST_F(DirectorTest, IsPausedObserversHearBeforeAndAfterEachChange) {
    std::vector<std::pair<CCKeyValueChange, bool>> heard;
    int token = 0;
    director()->addIsPausedObserver(
        &token, [&](CCDirector* d, CCKeyValueChange change) { heard.emplace_back(change, d->isPaused()); });
    director()->pause();
    director()->pause(); // no change, no news
    director()->resume();
    director()->resume();
    using P = std::pair<CCKeyValueChange, bool>;
    EXPECT_EQ(heard,
              (std::vector<P>{P{CCKeyValueChange::WillChange, false}, P{CCKeyValueChange::DidChange, true},
                              P{CCKeyValueChange::WillChange, true}, P{CCKeyValueChange::DidChange, false}}));
    director()->removeIsPausedObserver(&token);
    heard.clear();
    director()->pause();
    EXPECT_TRUE(heard.empty());
}

// ---- scene stack -----------------------------------------------------------------------------

TEST_F(DirectorTest, PushAndPopKeepTheCoveredSceneAlive) {
    auto a = LoggingScene::make(&log, "A");
    auto b = LoggingScene::make(&log, "B");
    director()->runWithScene(a.get());
    takeLog();

    director()->pushScene(b.get());
    EXPECT_TRUE(takeLog().empty()); // switched at the next frame
    EXPECT_EQ(director()->runningScene(), a.get());
    director()->drawScene();
    EXPECT_EQ(takeLog(), (Calls{"exitStart A", "exit A", "enter B", "enterDone B"}));
    EXPECT_EQ(director()->scenesStack().size(), 2u);

    director()->popScene();
    director()->drawScene();
    EXPECT_EQ(takeLog(), (Calls{"exitStart B", "exit B", "cleanup B", "enter A", "enterDone A"}));
    EXPECT_EQ(director()->runningScene(), a.get());
}

TEST_F(DirectorTest, ReplaceSwitchesAfterTheFramesSchedulerUpdate) {
    auto a = LoggingScene::make(&log, "A");
    auto c = LoggingScene::make(&log, "C");
    director()->runWithScene(a.get());
    a->scheduleUpdate();
    takeLog();
    director()->replaceScene(c.get());
    director()->drawScene();
    EXPECT_EQ(takeLog(), (Calls{"update A", "exitStart A", "exit A", "cleanup A", "enter C", "enterDone C"}));
    EXPECT_EQ(director()->scenesStack().size(), 1u);
    director()->drawScene();
    EXPECT_TRUE(takeLog().empty()); // cleaned up: no more updates
}

TEST_F(DirectorTest, ScenesDroppedWithoutRunningAreCleanedUpAndFreed) {
    auto a = LoggingScene::make(&log, "A");
    auto b = LoggingScene::make(&log, "B");
    auto c = LoggingScene::make(&log, "C");
    director()->runWithScene(a.get());
    takeLog();
    // A double-tapped button: B is replaced before it ever runs.
    b->scheduleUpdate();
    director()->replaceScene(b.get());
    director()->replaceScene(c.get());
    EXPECT_EQ(b->retainCount(), 1u); // the scheduler let it go
    director()->drawScene();
    EXPECT_EQ(takeLog(),
              (Calls{"cleanup B", "exitStart A", "exit A", "cleanup A", "enter C", "enterDone C"}));

    // At the end, the scenes pushed below the running one are cleaned up too, each once.
    auto d = LoggingScene::make(&log, "D");
    director()->pushScene(d.get());
    director()->drawScene();
    c->scheduleUpdate();
    takeLog();
    director()->end();
    EXPECT_EQ(takeLog(), (Calls{"exitStart D", "exit D", "cleanup D", "cleanup C"}));
    EXPECT_EQ(c->retainCount(), 1u);
}

TEST_F(DirectorTest, AThrowDuringAFrameLeavesTheMatrixStackAndTheSceneSwitchSettled) {
    class Throwing : public CCScene {
    public:
        void visit() override {
            matrixTranslate(5, 0, 0);
            throw platform::Exception(platform::NSInternalInconsistencyException, "game fault");
        }
    };
    auto a = LoggingScene::make(&log, "A");
    director()->runWithScene(a.get());
    kmMat4 before, after;
    matrixGet(kCCMatrixModeModelView, &before);
    auto thrower = makeNode<Throwing>();
    director()->setNotificationNode(thrower.get());
    EXPECT_THROW(director()->drawScene(), platform::Exception);
    matrixGet(kCCMatrixModeModelView, &after);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    director()->setNotificationNode(nullptr);

    // The old scene's exit throws: the switch is made all the same, each call once, the old
    // scene cleaned up, before the exception reaches the game.
    auto b = LoggingScene::make(&log, "B");
    a->onExitHook = [] { throw platform::Exception(platform::NSInternalInconsistencyException, "exit"); };
    director()->replaceScene(b.get());
    takeLog();
    EXPECT_THROW(director()->drawScene(), platform::Exception);
    EXPECT_EQ(takeLog(), (Calls{"exitStart A", "exit A", "cleanup A", "enter B", "enterDone B"}));
    EXPECT_EQ(director()->runningScene(), b.get());
    director()->drawScene();
    EXPECT_TRUE(takeLog().empty());
}

TEST_F(DirectorTest, TransitionScenesTakeOverTheEnterAndExitCalls) {
    auto a = LoggingScene::make(&log, "A");
    auto t = LoggingScene::make(&log, "T", true);
    auto b = LoggingScene::make(&log, "B");
    director()->runWithScene(a.get());
    takeLog();
    director()->replaceScene(t.get());
    director()->drawScene();
    // The old scene hears nothing from the director, not even its cleanup; the transition
    // itself enters.
    EXPECT_EQ(takeLog(), (Calls{"enter T", "enterDone T"}));

    director()->replaceScene(b.get());
    director()->drawScene();
    // The transition leaves; the old scene, which this one never let go, leaves with it, and
    // the new one, which it never entered, is entered.
    EXPECT_EQ(takeLog(), (Calls{"exitStart T", "exit T", "cleanup T", "exitStart A", "exit A", "cleanup A",
                                "enter B", "enterDone B"}));
    EXPECT_EQ(director()->runningScene(), b.get());
}

TEST_F(DirectorTest, PopToSceneStackLevelCleansTheScenesAbove) {
    auto a = LoggingScene::make(&log, "A");
    auto b = LoggingScene::make(&log, "B");
    auto c = LoggingScene::make(&log, "C");
    director()->runWithScene(a.get());
    director()->pushScene(b.get());
    director()->drawScene();
    director()->pushScene(c.get());
    director()->drawScene();
    takeLog();

    director()->popToSceneStackLevel(3); // at the stack's size: nothing
    director()->popToSceneStackLevel(7);
    EXPECT_TRUE(takeLog().empty());
    EXPECT_EQ(director()->scenesStack().size(), 3u);

    director()->popToRootScene();
    EXPECT_EQ(takeLog(), (Calls{"exitStart C", "exit C", "cleanup C", "cleanup B"}));
    EXPECT_EQ(director()->scenesStack().size(), 1u);
    director()->drawScene();
    // The pop has exited the old running scene: the switch does not exit it again.
    EXPECT_EQ(takeLog(), (Calls{"enter A", "enterDone A"}));
    EXPECT_EQ(director()->runningScene(), a.get());
}

TEST_F(DirectorTest, PoppingTheLastSceneEndsTheDirector) {
    auto a = LoggingScene::make(&log, "A");
    director()->runWithScene(a.get());
    director()->startAnimation();
    takeLog();
    director()->popScene();
    EXPECT_EQ(takeLog(), (Calls{"exitStart A", "exit A", "cleanup A"}));
    EXPECT_EQ(director()->runningScene(), nullptr);
    EXPECT_EQ(director()->view(), nullptr);
    EXPECT_FALSE(director()->isAnimating());
    EXPECT_TRUE(director()->scenesStack().empty());
    // Nothing left to pop or to replace: clean errors.
    EXPECT_THROW(director()->popScene(), platform::Exception);
    EXPECT_THROW(director()->replaceScene(a.get()), platform::Exception);
}

TEST_F(DirectorTest, EndLeavesNothingPendingAndAPoppedSceneRunAgainKeepsItsWork) {
    // A change the running scene's exit asks for while the director ends is dropped, told of
    // once; a scene it hands over is cleaned up with the others and let go.
    struct Ask {
        const char* name;
        std::function<void(CCScene*)> ask;
        Calls calls;
    };
    const Calls plain{"exitStart B", "exit B", "cleanup B", "cleanup A"};
    const Calls withX{"exitStart B", "exit B", "cleanup B", "cleanup X", "cleanup A"};
    CCDirector* d = nullptr;
    const Ask asks[] = {{"replace", [&](CCScene* x) { d->replaceScene(x); }, withX},
                        {"push", [&](CCScene* x) { d->pushScene(x); }, withX},
                        {"pop", [&](CCScene*) { d->popScene(); }, plain},
                        {"pop to root", [&](CCScene*) { d->popToRootScene(); }, plain},
                        {"end", [&](CCScene*) { d->end(); }, plain}};
    for (const Ask& ask : asks) {
        SCOPED_TRACE(ask.name);
        CCDirector::purgeSharedDirector();
        d = director();
        d->setView(view());
        auto a = LoggingScene::make(&log, "A"), b = LoggingScene::make(&log, "B"),
             x = LoggingScene::make(&log, "X");
        d->runWithScene(a.get());
        d->pushScene(b.get());
        d->drawScene();
        // The scheduler holds each scene until its cleanup; X only where it is handed over.
        a->scheduleUpdate();
        b->scheduleUpdate();
        if (ask.calls == withX) x->scheduleUpdate();
        takeLog();
        logLines.clear();
        b->onExitHook = [&] {
            ask.ask(x.get());
            ask.ask(x.get());
        };
        d->end();
        EXPECT_EQ(takeLog(), ask.calls);
        EXPECT_EQ(d->nextScene(), nullptr);
        EXPECT_EQ(d->runningScene(), nullptr);
        EXPECT_TRUE(d->scenesStack().empty());
        EXPECT_EQ(a->retainCount(), 1u);
        EXPECT_EQ(b->retainCount(), 1u);
        EXPECT_EQ(x->retainCount(), 1u);
        EXPECT_EQ(std::count_if(logLines.begin(), logLines.end(),
                                [](const std::string& line) {
                                    return line.find("director ends") != std::string::npos;
                                }),
                  1);
    }

    // Popped to the root, then given work and put in place again in the same frame, a scene runs
    // with that work as it does when the same calls come a frame later.
    for (bool sameFrame : {true, false}) {
        SCOPED_TRACE(sameFrame ? "same frame" : "a frame later");
        CCDirector::purgeSharedDirector();
        director()->setView(view());
        auto a = LoggingScene::make(&log, "A"), b = LoggingScene::make(&log, "B");
        director()->runWithScene(a.get());
        director()->pushScene(b.get());
        director()->drawScene();
        director()->popToRootScene();
        if (!sameFrame) director()->drawScene();
        b->scheduleUpdate();
        b->runAction(CCRotateBy::actionWithDuration(10, 90).get());
        director()->replaceScene(b.get());
        takeLog();
        for (int i = 0; i < 3; ++i)
            director()->drawScene();
        Calls calls = takeLog();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "update B"), 2) << ::testing::PrintToString(calls);
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "cleanup B"), 0);
        EXPECT_EQ(director()->runningScene(), b.get());
        EXPECT_EQ(b->numberOfRunningActions(), 1u);
    }
}

TEST_F(DirectorTest, PopToLevelZeroEnds) {
    auto a = LoggingScene::make(&log, "A");
    director()->runWithScene(a.get());
    director()->popToSceneStackLevel(0);
    EXPECT_EQ(director()->runningScene(), nullptr);
    EXPECT_EQ(director()->view(), nullptr);
}

// ---- drawing -----------------------------------------------------------------------------

TEST_F(DirectorTest, DrawSceneClearsDrawsSceneThenNotificationNodeAndPresents) {
    auto scene = CCScene::node();
    auto square = platform::make<SquareNode>();
    square->init();
    square->set(5, 5, 1, 0, 0);
    scene->addChild(square.get());
    auto overlay = platform::make<SquareNode>();
    overlay->init();
    overlay->set(10, 10, 0, 1, 0);
    director()->setNotificationNode(overlay.get());
    director()->setDisplayStats(true);

    director()->runWithScene(scene.get());
    EXPECT_TRUE(fltest::colorNear(presentedPixel(6, 6), 0xFF0000FF));
    EXPECT_TRUE(fltest::colorNear(presentedPixel(12, 12), 0x00FF00FF)); // drawn over the scene
    EXPECT_TRUE(fltest::colorNear(presentedPixel(100, 300), 0x000000FF));
    // The statistics step counts this frame's draw calls and starts the next count at zero.
    EXPECT_EQ(drawCallCounter, 0u);

    // The next frame starts from a cleared picture.
    square->setVisible(false);
    director()->drawScene();
    EXPECT_TRUE(fltest::colorNear(presentedPixel(6, 6), 0x000000FF));
}

// ---- projection and conversions --------------------------------------------------------------

TEST_F(DirectorTest, TwoDimensionalProjectionFlipsY) {
    EXPECT_EQ(director()->projection(), kCCDirectorProjection3D); // the default
    director()->setProjection(kCCDirectorProjection2D);
    EXPECT_EQ(director()->projection(), kCCDirectorProjection2D);
    CGPoint gl = director()->convertToGL(CGPointMake(0, 0));
    EXPECT_NEAR(gl.x, 0, 1e-3);
    EXPECT_NEAR(gl.y, 480, 1e-3);
    CGPoint ui = director()->convertToUI(CGPointMake(0, 0));
    EXPECT_NEAR(ui.x, 0, 1e-3);
    EXPECT_NEAR(ui.y, 480, 1e-3);
    gl = director()->convertToGL(CGPointMake(100, 30));
    EXPECT_NEAR(gl.x, 100, 1e-3);
    EXPECT_NEAR(gl.y, 450, 1e-3);

    kmMat4 projection;
    matrixGet(kCCMatrixModeProjection, &projection);
    EXPECT_FLOAT_EQ(projection.mat[0], 2.0f / 320);
    EXPECT_FLOAT_EQ(projection.mat[5], 2.0f / 480);
    EXPECT_FLOAT_EQ(projection.mat[10], -2.0f / 2048);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 320);
    EXPECT_EQ(viewport[3], 480);
}

TEST_F(DirectorTest, ThreeDimensionalProjectionMapsTheZeroPlane) {
    director()->setProjection(kCCDirectorProjection3D);
    EXPECT_FLOAT_EQ(director()->getZEye(), static_cast<float>(480 / 1.1566));
    // The matrices are single precision and the depth range is deep (0.1 to 2 z-eye), so the
    // inverse is good to about half a point.
    constexpr double tolerance = 0.5;
    CGPoint centre = director()->convertToGL(CGPointMake(160, 240));
    EXPECT_NEAR(centre.x, 160, tolerance);
    EXPECT_NEAR(centre.y, 240, tolerance);
    for (CGPoint p : {CGPointMake(0, 0), CGPointMake(320, 480), CGPointMake(17, 401)}) {
        CGPoint gl = director()->convertToGL(p);
        EXPECT_NEAR(gl.x, p.x, tolerance);
        EXPECT_NEAR(gl.y, 480 - p.y, tolerance);
        CGPoint back = director()->convertToUI(gl);
        EXPECT_NEAR(back.x, p.x, tolerance);
        EXPECT_NEAR(back.y, p.y, tolerance);
    }
    CGPoint ui = director()->convertToUI(CGPointMake(160, 240));
    EXPECT_NEAR(ui.x, 160, 1e-3);
    EXPECT_NEAR(ui.y, 240, 1e-3);
}

TEST_F(DirectorTest, CustomProjectionAsksTheDelegateOnlyWhenItResponds) {
    RecordingDelegate silent(0);
    director()->setDelegate(&silent);
    director()->setProjection(kCCDirectorProjectionCustom);
    EXPECT_EQ(silent.projections, 0);
    EXPECT_EQ(director()->shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation::Portrait),
              true);

    RecordingDelegate full(CCDirectorDelegate::kRespondsToUpdateProjection |
                           CCDirectorDelegate::kRespondsToShouldAutorotate);
    director()->setDelegate(&full);
    director()->setProjection(kCCDirectorProjectionCustom);
    EXPECT_EQ(full.projections, 1);
    EXPECT_EQ(director()->projection(), kCCDirectorProjectionCustom);
    EXPECT_FALSE(
        director()->shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation::Portrait));
    director()->setDelegate(nullptr);
}

TEST_F(DirectorTest, ViewLayoutReshapesTheProjectionAndTellsTheDelegate) {
    RecordingDelegate delegate(CCDirectorDelegate::kRespondsToDidReshapeProjection);
    director()->setDelegate(&delegate);
    director()->setProjection(kCCDirectorProjection2D);
    view()->setFrame(CGRectMake(0, 0, 480, 320));
    view()->layoutIfNeeded();
    EXPECT_EQ(director()->winSize(), CGSizeMake(480, 320));
    EXPECT_EQ(director()->winSizeInPixels(), CGSizeMake(480, 320));
    EXPECT_EQ(delegate.reshapes, 1);
    CGPoint gl = director()->convertToGL(CGPointMake(0, 0));
    EXPECT_NEAR(gl.y, 320, 1e-3);
    director()->setDelegate(nullptr);
}

TEST_F(DirectorTest, RetinaNeedsAScaleTwoScreen) {
    EXPECT_FALSE(director()->enableRetinaDisplay(true));
    EXPECT_EQ(director()->contentScaleFactor(), 1.0f);
    EXPECT_TRUE(director()->enableRetinaDisplay(false)); // already there

    platform::Device::setCurrent(platform::DeviceProfile::phoneRetina());
    EXPECT_TRUE(director()->enableRetinaDisplay(true));
    EXPECT_EQ(director()->contentScaleFactor(), 2.0f);
    EXPECT_EQ(director()->winSize(), CGSizeMake(320, 480));
    EXPECT_EQ(director()->winSizeInPixels(), CGSizeMake(640, 960));
    EXPECT_EQ(view()->contentScaleFactor(), 2.0);
    EXPECT_TRUE(director()->enableRetinaDisplay(true));

    // The two-dimensional projection stays in points.
    director()->setProjection(kCCDirectorProjection2D);
    CGPoint gl = director()->convertToGL(CGPointMake(0, 0));
    EXPECT_NEAR(gl.y, 480, 1e-3);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[3], 960);

    EXPECT_TRUE(director()->enableRetinaDisplay(false));
    EXPECT_EQ(director()->contentScaleFactor(), 1.0f);
    EXPECT_EQ(director()->winSizeInPixels(), CGSizeMake(320, 480));
}

TEST_F(DirectorTest, RetinaSwitchedAfterLayoutTakesEffectAtTheNextFrame) {
    // Blue fills the window, red marks its top-right corner; the view was laid out at scale 1.
    platform::Device::setCurrent(platform::DeviceProfile::phoneRetina());
    RecordingDelegate delegate(CCDirectorDelegate::kRespondsToDidReshapeProjection);
    director()->setDelegate(&delegate);
    director()->setProjection(kCCDirectorProjection2D);
    auto scene = CCScene::node();
    scene->addChild(CCLayerColor::layerWithColor(ccc4(0, 0, 255, 255)).get());
    auto corner = CCLayerColor::layerWithColor(ccc4(255, 0, 0, 255), 10, 10);
    corner->setPosition(CGPointMake(310, 470));
    scene->addChild(corner.get());
    director()->runWithScene(scene.get());
    for (int scale : {2, 1}) {
        SCOPED_TRACE(scale);
        ASSERT_TRUE(director()->enableRetinaDisplay(scale == 2));
        director()->drawScene();
        const platform::PixelBuffer& frame = view()->layer()->presentedFrame();
        ASSERT_EQ(frame.width, 320 * scale);
        ASSERT_EQ(frame.height, 480 * scale);
        EXPECT_EQ(frame.pixel(frame.width - 1, 0), 0xFF0000FFu);
        EXPECT_EQ(frame.pixel(0, frame.height - 1), 0x0000FFFFu);
        EXPECT_EQ(delegate.reshapes, scale == 2 ? 1 : 2); // one reshape a switch
    }
    director()->setDelegate(nullptr);
}

// ---- set-up, end and purging -----------------------------------------------------------------

TEST_F(DirectorTest, SetViewConnectsTheTouchDispatcher) {
    EXPECT_EQ(view()->touchDelegate(), director()->touchDispatcher());
    EXPECT_TRUE(director()->touchDispatcher()->dispatchEvents());
    EXPECT_EQ(director()->winSize(), CGSizeMake(320, 480));
    EXPECT_EQ(director()->description(),
              platform::format("<CCDirectorDisplayLink = %p | Size: 320 x 480, view = %s>",
                               static_cast<void*>(director()), view()->description()));
}

TEST_F(DirectorTest, EachViewDrawsWithItsOwnDefaultsFromItsFirstFrame) {
    // Two views of one share group, each made current as it is made; the director switches
    // between them between frames. An 8 x 8 square stands at (4, 4) of the scene.
    auto scene = CCScene::node();
    auto square = CCLayerColor::layerWithColor(ccc4(255, 255, 255, 255), 8, 8);
    square->setPosition(CGPointMake(4, 4));
    scene->addChild(square.get());
    director()->runWithScene(scene.get());
    for (int scale : {1, 2}) {
        SCOPED_TRACE(scale);
        if (scale == 2) {
            platform::Device::setCurrent(platform::DeviceProfile::phoneRetina());
            ASSERT_TRUE(director()->enableRetinaDisplay(true));
        }
        auto first = fltest::makeGLView(CGSizeMake(64, 64), scale);
        auto second = fltest::makeGLView(CGSizeMake(40, 24), scale);
        ASSERT_TRUE(first && second);
        for (int round = 0; round < 2; ++round) {
            for (CCGLView* view : {first.get(), second.get()}) {
                director()->setView(view);
                director()->drawScene();
                const platform::PixelBuffer& frame = view->layer()->presentedFrame();
                int covered = 0;
                for (int y = 0; y < frame.height; ++y)
                    for (int x = 0; x < frame.width; ++x)
                        covered += frame.pixel(x, y) == 0xFFFFFFFFu;
                EXPECT_EQ(covered, 64 * scale * scale) << frame.width;
                int corner = 4 * scale; // the square's lower-left pixel
                EXPECT_EQ(frame.pixel(corner, frame.height - 1 - corner), 0xFFFFFFFFu) << frame.width;
                EXPECT_EQ(frame.pixel(frame.width - 1, 0), 0x000000FFu) << frame.width; // opaque black
            }
        }
    }
}

TEST_F(DirectorTest, DepthTestSetAfterASecondViewIsLaidOutAppliesToTheDirectorsView) {
    // Red stands in front of the blue drawn after it; without the depth test blue covers it.
    constexpr GLenum kDepth24Stencil8 = 0x88F0;
    auto first = fltest::makeGLView(CGSizeMake(16, 16), 1.0, kEAGLColorFormatRGBA8, kDepth24Stencil8);
    ASSERT_TRUE(first);
    director()->setView(first.get());
    auto scene = CCScene::node();
    auto front = CCLayerColor::layerWithColor(ccc4(255, 0, 0, 255));
    front->setVertexZ(1);
    scene->addChild(front.get());
    scene->addChild(CCLayerColor::layerWithColor(ccc4(0, 0, 255, 255)).get());
    director()->runWithScene(scene.get());
    auto second = fltest::makeGLView(CGSizeMake(16, 16), 1.0, kEAGLColorFormatRGBA8, kDepth24Stencil8);
    ASSERT_TRUE(second);
    director()->setDepthTest(false);
    director()->drawScene();
    EXPECT_EQ(first->layer()->presentedFrame().pixel(8, 8), 0x0000FFFFu);
}

TEST_F(DirectorTest, AnEndOnASecondViewLeavesTheFirstDrawingItsNextScene) {
    // The end purges the programs the first view drew with, under the second view's context.
    auto second = fltest::makeGLView(CGSizeMake(320, 480));
    ASSERT_TRUE(second);
    auto a = CCScene::node();
    a->addChild(CCLayerColor::layerWithColor(ccc4(255, 0, 0, 255)).get());
    director()->runWithScene(a.get());
    director()->drawScene();
    director()->setView(second.get());
    director()->end();
    director()->setView(view());
    auto b = CCScene::node();
    b->addChild(CCLayerColor::layerWithColor(ccc4(0, 255, 0, 255)).get());
    director()->runWithScene(b.get());
    director()->drawScene();
    EXPECT_EQ(presentedPixel(8, 8), 0x00FF00FFu);
}

TEST_F(DirectorTest, AViewDrawsWithTheUniformsSetWhileAnotherViewWasDrawn) {
    // The square moves while the director draws the second view; back on the first, the program's
    // matrix is the one the second view's frame set.
    auto second = fltest::makeGLView(CGSizeMake(320, 480));
    ASSERT_TRUE(second);
    auto scene = CCScene::node();
    auto square = CCLayerColor::layerWithColor(ccc4(255, 255, 255, 255), 8, 8);
    scene->addChild(square.get());
    director()->runWithScene(scene.get());
    square->setPosition(CGPointMake(16, 16));
    director()->setView(second.get());
    director()->drawScene();
    director()->setView(view());
    director()->drawScene();
    EXPECT_EQ(presentedPixel(20, 20), 0xFFFFFFFFu);
    EXPECT_EQ(presentedPixel(4, 4), 0x000000FFu);
}

TEST_F(DirectorTest, AViewOfAnotherShareGroupIsToldOfOnce) {
    // The caches are made under the fixture's view; the plain factory gives a group of its own.
    director()->runWithScene(CCScene::node().get());
    ASSERT_EQ(CCShaderCache::sharedCacheShareGroup(), view()->context()->sharegroup());
    auto other = CCGLView::viewWithFrame(CGRectMake(0, 0, 32, 32));
    ASSERT_TRUE(other);
    logLines.clear();
    director()->setView(other.get());
    director()->drawScene();
    director()->setView(other.get());
    director()->setView(view()); // back in the caches' group: nothing to say
    director()->drawScene();
    std::vector<std::string> told;
    for (const std::string& line : logLines)
        if (line.find("share group") != std::string::npos) told.push_back(line);
    ASSERT_EQ(told.size(), 1u) << ::testing::PrintToString(logLines);
    EXPECT_NE(told[0].find("firstView->context()->sharegroup()"), std::string::npos) << told[0];
}

TEST_F(DirectorTest, EndAndMemoryWarningsPurgeTheCachesInOrder) {
    std::vector<std::string> purged;
    const std::pair<CCDirectorPurge, const char*> hooks[] = {
        {CCDirectorPurge::BitmapFontConfigurations, "fonts"}, {CCDirectorPurge::DrawPrimitives, "primitives"},
        {CCDirectorPurge::AnimationCache, "animations"},      {CCDirectorPurge::SpriteFrameCache, "frames"},
        {CCDirectorPurge::TextureCache, "textures"},          {CCDirectorPurge::ShaderCache, "shaders"},
        {CCDirectorPurge::UnusedTextures, "unused"},
    };
    for (auto& [which, name] : hooks)
        CCDirector::setPurgeHook(which, [&purged, n = name] { purged.push_back(n); });

    director()->didReceiveMemoryWarning();
    EXPECT_EQ(purged, (std::vector<std::string>{"fonts", "unused"}));

    purged.clear();
    auto a = CCScene::node();
    director()->runWithScene(a.get());
    director()->end();
    EXPECT_EQ(purged, (std::vector<std::string>{"fonts", "primitives", "animations", "frames", "textures",
                                                "shaders"}));
    EXPECT_EQ(director()->view(), nullptr);
    EXPECT_EQ(director()->delegate(), nullptr);

    purged.clear();
    director()->purgeCachedData(); // without a view, unused textures stay
    EXPECT_EQ(purged, (std::vector<std::string>{"fonts"}));

    for (auto& [which, name] : hooks)
        CCDirector::setPurgeHook(which, nullptr);
}

TEST_F(DirectorTest, ViewAppearanceDrivesTheAnimation) {
    director()->viewWillAppear(false);
    EXPECT_TRUE(director()->isAnimating());
    director()->viewDidDisappear(false);
    EXPECT_FALSE(director()->isAnimating());
}

TEST_F(DirectorTest, PurgedSharedDirectorIsMadeAfresh) {
    auto a = CCScene::node();
    director()->runWithScene(a.get());
    CCDirector::purgeSharedDirector();
    CCDirector* fresh = CCDirector::sharedDirector();
    EXPECT_EQ(fresh->runningScene(), nullptr);
    EXPECT_EQ(fresh->view(), nullptr);
    EXPECT_EQ(fresh->projection(), kCCDirectorProjection3D);
    EXPECT_NE(fresh->scheduler(), nullptr);
    EXPECT_EQ(fresh->className(), "CCDirectorDisplayLink");
}

TEST_F(DirectorTest, DefaultDirectorMakesTheSharedDirectorsClass) {
    Ref<CCDirector> made = CCDirector::defaultDirector()();
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->className(), director()->className());
    EXPECT_EQ(made->scheduler(), nullptr); // not initialised yet
    EXPECT_NE(made.get(), CCDirector::sharedDirector());
}

// ---- statistics ------------------------------------------------------------------------------

TEST_F(DirectorTest, StatisticsRefreshAtMostTenTimesASecondAndDrawTheLabels) {
    auto stats = platform::make<StatsDirector>();
    ASSERT_TRUE(stats->init());
    auto fps = TextNode::make(&log, "fps");
    auto spf = TextNode::make(&log, "spf");
    auto draws = TextNode::make(&log, "draws");
    stats->setLabels(fps.get(), spf.get(), draws.get());

    drawCallCounter = 3;
    stats->setTiming(0.06, 0.004);
    stats->showStats();
    EXPECT_EQ(fps->string(), ""); // 0.06 s gathered: not yet
    EXPECT_EQ(takeLog(), (Calls{"draw draws", "draw fps", "draw spf"}));
    EXPECT_EQ(drawCallCounter, 0u);

    drawCallCounter = 5;
    stats->showStats();
    // Two frames in 0.12 s; the draw count is this frame's.
    EXPECT_EQ(fps->string(), "16.7");
    EXPECT_EQ(spf->string(), "0.004");
    EXPECT_EQ(draws->string(), "   5");

    drawCallCounter = 9;
    stats->setTiming(0.05, 0.5);
    stats->showStats();
    EXPECT_EQ(fps->string(), "16.7");
    EXPECT_EQ(spf->string(), "0.004");
    EXPECT_EQ(draws->string(), "   5");
    stats->setLabels(nullptr, nullptr, nullptr);
}

TEST_F(DirectorTest, BaseDirectorLeavesThePlatformWorkToItsSubclasses) {
    auto base = platform::make<CCDirector>();
    ASSERT_TRUE(base->init());
    base->setProjection(kCCDirectorProjection2D);
    EXPECT_EQ(base->projection(), kCCDirectorProjection3D);
    EXPECT_EQ(base->convertToGL(CGPointMake(5, 5)), CGPointZero);
    EXPECT_EQ(base->convertToUI(CGPointMake(5, 5)), CGPointZero);
    const unsigned char* bytes = nullptr;
    std::uint64_t length = 0, smallLength = 0;
    base->getFPSImageData(&bytes, &length);
    EXPECT_EQ(bytes, ccStatsImageSmall(&smallLength));
    EXPECT_EQ(length, smallLength);
}

TEST_F(DirectorTest, MissingTouchesAndViewsAreAnsweredQuietly) {
    director()->setProjection(kCCDirectorProjection2D);
    CGPoint origin = director()->convertToGL(CGPointZero);
    EXPECT_EQ(director()->convertTouchToGL(nullptr), origin);

    auto n = CCNode::node();
    n->setPosition(CGPointMake(30, 40));
    n->setContentSize(CGSizeMake(10, 10));
    n->setAnchorPoint(CGPointMake(0.5, 0.5));
    CGPoint inNode = n->convertToNodeSpace(origin);
    EXPECT_EQ(n->convertTouchToNodeSpace(nullptr), inNode);
    EXPECT_EQ(n->convertTouchToNodeSpaceAR(nullptr), CGPointMake(inNode.x - 5, inNode.y - 5));

    // A director without a view has nothing to scale.
    platform::Device::setCurrent(platform::DeviceProfile::phoneRetina());
    auto viewless = platform::make<StatsDirector>();
    ASSERT_TRUE(viewless->init());
    viewless->updateContentScaleFactor();
    EXPECT_FALSE(viewless->enableRetinaDisplay(true));
}
