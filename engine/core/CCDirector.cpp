#include "core/CCDirector.h"

#include "actions/CCActionManager.h"
#include "actions/CCTransition.h"
#include "core/CCConfiguration.h"
#include "core/CCFileUtils.h"
#include "core/CCGLView.h"
#include "core/CCMatrix.h"
#include "core/CCProtocols.h"
#include "core/CCScheduler.h"
#include "core/CCShaderCache.h"
#include "core/CCStatsImages.h"
#include "core/CCTouchDispatcher.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCLabelAtlas.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureCache.h"
#include "platform/Image.h"
#include "platform/Device.h"
#include "platform/DisplayLink.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"
#include "platform/Thread.h"

#include "platform/GLCheck.h"
#include "platform/GLContext.h"

#include <GLES2/gl2.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <mutex>

std::uint32_t drawCallCounter = 0;

namespace {

// One reference, dropped by purgeSharedDirector and cleared by the director's destructor.
std::atomic<CCDirector*> sharedDirector_{nullptr};
// The view hooks run on whatever thread lays a view out or lets one go. Off the director's thread
// they use the director only under this lock, under which the shared pointer is set and cleared,
// so that the director is not deleted under them. Nothing under it calls out to the game.
std::mutex sharedDirectorMutex;

std::array<std::function<void()>, static_cast<std::size_t>(CCDirectorPurge::Count)>& purgeHooks() {
    static std::array<std::function<void()>, static_cast<std::size_t>(CCDirectorPurge::Count)> hooks;
    return hooks;
}

double secondsBetween(const struct timeval& from, const struct timeval& to) {
    return static_cast<double>(to.tv_sec - from.tv_sec) +
           static_cast<double>(to.tv_usec - from.tv_usec) / 1000000.0;
}

// Reads the wall clock (microsecond resolution) into `now`; false, with a log line, when it
// cannot be read.
bool readWallClock(struct timeval& now) {
    if (gettimeofday(&now, nullptr) == 0) return true;
    CCLOG("error in gettimeofday");
    return false;
}

void handOutImage(const unsigned char* bytes, std::uint64_t size, const unsigned char** data,
                  std::uint64_t* length) {
    if (data) *data = bytes;
    if (length) *length = size;
}

// Marks the director's state for the scope: the scene a switch is entering, a frame under way.
template <class T> struct MarkScope {
    T& slot;
    T saved;
    MarkScope(T& s, T marked) : slot(s), saved(s) { slot = marked; }
    ~MarkScope() { slot = saved; }
    MarkScope(const MarkScope&) = delete;
    MarkScope& operator=(const MarkScope&) = delete;
};

// The texture cache's key of the statistics glyphs.
constexpr const char* kStatsTextureKey = "cc_fps_images";

// A statistics label shows its text only once it is a label.
void setStatsText(CCNode* label, const std::string& text) {
    if (auto* shown = dynamic_cast<CCLabelProtocol*>(label)) shown->setString(text);
}

} // namespace

// =============================================================================================
// CCDirector

CCDirector::DirectorMaker CCDirector::defaultDirector() {
    return [] { return platform::Ref<CCDirector>(platform::make<CCDirectorDisplayLink>()); };
}

CCDirector* CCDirector::sharedDirector() {
    if (CCDirector* director = sharedDirector_.load()) return director;
    platform::Ref<CCDirector> made = defaultDirector()();
    if (!made->init()) CCLOG("could not initialise the director");
    // Shared once initialised, for the view hooks on other threads. The shared reference is the
    // one the new director was born with.
    CCDirector* director = made.leakRef();
    std::lock_guard lock(sharedDirectorMutex);
    sharedDirector_ = director;
    return director;
}

void CCDirector::purgeSharedDirector() {
    CCDirector* director = sharedDirector_;
    if (!director) return;
    // A scene's callback may throw from end: the director is let go all the same, and the
    // game gets the exception afterwards.
    platform::DeferredException thrown;
    thrown.run([&] { director->end(); });
    // The destructor clears the shared pointer; clear it here as well in case someone still
    // holds the director. A view hook still using it on another thread finishes first.
    {
        std::lock_guard lock(sharedDirectorMutex);
        sharedDirector_ = nullptr;
    }
    director->release();
    thrown.rethrow();
}

CCDirector::CCDirector() {
    _scenesStack.reserve(10);
}

CCDirector::~CCDirector() {
    {
        // Unshared under the lock before the fields go, as purgeSharedDirector does.
        std::lock_guard lock(sharedDirectorMutex);
        CCDirector* self = this;
        sharedDirector_.compare_exchange_strong(self, nullptr);
    }
    _FPSLabel = nullptr;
    _SPFLabel = nullptr;
    _drawsLabel = nullptr;
    _runningScene = nullptr;
    _notificationNode = nullptr;
    _scenesStack.clear();
    _mayRun.clear();
    _holds.clear();
    _runningHold = nullptr;
    _scenesInHand.clear();
    _scheduler = nullptr;
    _actionManager = nullptr;
}

bool CCDirector::init() {
    _scenesStack.clear();
    _scenesStack.reserve(10);
    _delegate = nullptr;
    _projection = kCCDirectorProjectionDefault;
    _oldAnimationInterval = _animationInterval = 1.0 / 60;
    _displayStats = false;
    _totalFrames = _frames = 0;
    _isPaused = false;
    _winSizeInPixels = _winSizeInPoints = CGSizeZero;

    _scheduler = platform::make<CCScheduler>();
    _scheduler->init();
    _actionManager = platform::make<CCActionManager>();
    _actionManager->init();
    _scheduler->scheduleUpdateForTarget(_actionManager.get(), SystemPriority, false);
    return true;
}

std::string CCDirector::description() const {
    return platform::format("<%s = %p | Size: %0.f x %0.f, view = %s>", className(),
                            static_cast<const void*>(this), _winSizeInPoints.width, _winSizeInPoints.height,
                            platform::describe(__view.get()));
}

CCDirector::ViewContextScope::ViewContextScope(const CCGLView* view) {
    platform::GLContext* mine = view ? view->context() : nullptr;
    platform::Ref<platform::GLContext> current = platform::GLContext::currentContext();
    if (!mine || mine == current.get()) return;
    if (platform::GLContext::setCurrentContext(mine)) _previous = std::move(current);
}

CCDirector::ViewContextScope::~ViewContextScope() {
    if (_previous) platform::GLContext::setCurrentContext(_previous.get());
}

void CCDirector::setGLDefaultValues() {
    CCAssert(__view != nullptr, "the view must be set first");
    ViewContextScope inView(__view.get());
    setAlphaBlending(true);
    setDepthTest(__view->depthFormat() != 0);
    setProjection(_projection);
    glCheck(glClearColor(0.0f, 0.0f, 0.0f, 1.0f));
}

void CCDirector::calculateDeltaTime() {
    struct timeval now;
    if (!readWallClock(now)) {
        _dt = 0;
        return;
    }
    if (_nextDeltaTimeZero) {
        _dt = 0;
        _nextDeltaTimeZero = false;
    } else {
        _dt = secondsBetween(_lastUpdate, now);
        if (_dt < 0) _dt = 0;
    }
    _lastUpdate = now;
}

void CCDirector::purgeCachedData() {
    runPurgeHook(CCDirectorPurge::BitmapFontConfigurations);
    // Asking must not make a shared director where there is none.
    CCDirector* director = sharedDirector_;
    if (director && director->view()) runPurgeHook(CCDirectorPurge::UnusedTextures);
    CCFileUtils::sharedFileUtils()->purgeCachedEntries();
}

float CCDirector::getZEye() const {
    return static_cast<float>(_winSizeInPixels.height / 1.1566 / platform::contentScaleFactor());
}

void CCDirector::setAlphaBlending(bool on) {
    ViewContextScope inView(__view.get());
    if (on)
        glCacheBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    else
        glCacheBlendFunc(GL_ONE, GL_ZERO);
    CHECK_GL_ERROR_DEBUG();
}

void CCDirector::setDepthTest(bool on) {
    ViewContextScope inView(__view.get());
    if (on) {
        glCheck(glClearDepthf(1.0f));
        glCheck(glEnable(GL_DEPTH_TEST));
        glCheck(glDepthFunc(GL_LEQUAL));
    } else {
        glCheck(glDisable(GL_DEPTH_TEST));
    }
}

void CCDirector::setView(CCGLView* view) {
    if (view == __view.get()) return;
    platform::ViewController::setView(view);
    __view = view;
    _winSizeInPoints = view ? view->bounds().size : CGSizeZero;
    _winSizeInPixels = _winSizeInPoints;
    if (view) {
        // The programs and textures made so far are GL objects of one share group; a view
        // outside it cannot draw with them, and its frames would stay blank without a word.
        platform::ShareGroup* cached = CCShaderCache::sharedCacheShareGroup();
        if (cached && view->context() && view->context()->sharegroup() != cached)
            CCLOG("engine: CCDirector: setView: the view's GL context is not in the share group the "
                  "director's shaders and textures were made in, so nothing will draw in it; make the "
                  "view in the first view's share group: CCGLView::viewWithFrame(frame, format, depth, "
                  "retained, firstView->context()->sharegroup(), multisampling, samples)");
        // GL state belongs to a context: the defaults go into the new view's, which drawScene
        // would only make current at the next frame.
        platform::GLContext::setCurrentContext(view->context());
        createStatsLabel();
        setGLDefaultValues();
    }
    CCConfiguration::sharedConfiguration()->dumpInfo();
}

CGPoint CCDirector::convertToGL(CGPoint) const {
    return CGPointZero;
}

CGPoint CCDirector::convertToUI(CGPoint) const {
    return CGPointZero;
}

void CCDirector::reshapeProjection(CGSize newWindowSize) {
    _winSizeInPoints = _winSizeInPixels = newWindowSize;
    setProjection(_projection);
}

// ---- scenes --------------------------------------------------------------------------------
//
// What each scene hears follows from what the director holds, never from the last request: a
// scene is entered only when it is not running and exited only when it is; a scene still held
// (on the stack, running, about to run, or one of the two scenes of a transition so held) is
// never cleaned up; a scene the director has let go of for good is exited if it runs and
// cleaned up once. However many changes a frame asks for, the switch and the stack operations
// apply these rules to the scenes they touch.

void CCDirector::runWithScene(CCScene* scene) {
    CCAssert(scene != nullptr, "Argument must be non-nil");
    pushScene(scene);
    if (_isEnding) return;
    startAnimation();
}

bool CCDirector::droppedWhileEnding(CCScene* scene) {
    if (!_isEnding) return false;
    if (!_droppedWhileEndingLogged) {
        _droppedWhileEndingLogged = true;
        CCLOG("engine: CCDirector: a scene change asked for while the director ends is dropped");
    }
    // Held all the same, so that the end lets it go with the others, top of the stack first.
    if (scene) {
        takeInHand(scene, false);
        pushOnStack(scene);
    }
    return true;
}

void CCDirector::takeInHand(CCScene* scene, bool clean) {
    std::vector<std::pair<const CCScene*, bool>> walked; // empty, unallocated, for a plain scene
    takeInHand(scene, clean, walked);
}

void CCDirector::takeInHand(CCScene* scene, bool clean,
                            std::vector<std::pair<const CCScene*, bool>>& walked) {
    if (!scene) return;
    auto found = _scenesInHand.find(scene);
    if (found != _scenesInHand.end()) {
        // Handed over again by the game, perhaps with new work.
        if (!clean) found->second.clean = false;
    } else {
        _scenesInHand.emplace(scene, InHand{scene, ++_handOrder, clean});
        if (scene->isRunning()) _mayRun.insert(scene);
        if (scene == _runningScene.get()) syncRunningHold();
    }
    // A transition's scenes are the director's to let go as well, once the transition is; handed
    // over again, it hands them over again too. Its outgoing scene was the running one when it
    // was made: out of hand now, it was let go, so it was cleaned up already. Each transition is
    // walked once a hand-over (twice when it is reached clean first and owing later), however
    // transitions share scenes.
    auto* transition = dynamic_cast<CCTransitionScene*>(scene);
    if (!transition || std::find(walked.begin(), walked.end(),
                                 std::pair<const CCScene*, bool>{scene, clean}) != walked.end())
        return;
    walked.emplace_back(scene, clean);
    takeInHand(transition->outScene(), true, walked);
    takeInHand(transition->inScene(), clean, walked);
}

bool CCDirector::isInHand(const CCScene* scene) const {
    return _scenesInHand.count(scene) != 0;
}

void CCDirector::dropFromHand(const CCScene* scene) {
    _mayRun.erase(scene);
    _scenesInHand.erase(scene);
    // Let go while it runs, it is held for running no more, even if a transition takes it back.
    if (scene == _runningScene.get()) _runningLetGo = true;
    if (scene == _runningHold) syncRunningHold();
}

void CCDirector::markEntered(const CCScene* scene) {
    auto found = _scenesInHand.find(scene);
    if (found == _scenesInHand.end()) return;
    found->second.clean = false;
    _mayRun.insert(scene);
}

void CCDirector::hold(CCScene* scene) {
    if (!scene || _holds[scene]++ != 0) return;
    // Held again through a transition after it was let go: taken back, cleaned up already.
    if (!isInHand(scene)) takeInHand(scene, true);
    if (auto* transition = dynamic_cast<const CCTransitionScene*>(scene)) {
        hold(transition->outScene());
        hold(transition->inScene());
    }
}

void CCDirector::unhold(const CCScene* scene) {
    auto found = scene ? _holds.find(scene) : _holds.end();
    if (found == _holds.end() || --found->second != 0) return;
    _holds.erase(found);
    if (auto* transition = dynamic_cast<const CCTransitionScene*>(scene)) {
        unhold(transition->outScene());
        unhold(transition->inScene());
    }
}

void CCDirector::syncRunningHold() {
    // The running scene until it is being left, or a pop has let it go already.
    CCScene* running = _runningScene.get();
    CCScene* held =
        running && running != _sceneBeingLeft && !_runningLetGo && isInHand(running) ? running : nullptr;
    if (held == _runningHold) return;
    hold(held);
    unhold(_runningHold);
    _runningHold = held;
}

void CCDirector::pushOnStack(CCScene* scene) {
    _scenesStack.emplace_back(scene);
    hold(scene);
}

platform::Ref<CCScene> CCDirector::popFromStack() {
    platform::Ref<CCScene> top = std::move(_scenesStack.back());
    _scenesStack.pop_back();
    unhold(top.get());
    return top;
}

void CCDirector::setNext(CCScene* scene) {
    CCScene* old = _nextScene;
    _nextScene = scene;
    hold(scene);
    unhold(old);
}

void CCDirector::setRunning(CCScene* scene) {
    platform::Ref<CCScene> old = std::move(_runningScene);
    _runningScene = scene;
    _runningLetGo = false;
    syncRunningHold();
}

// Marks the running scene as being left for the scope: held then only if something else holds it.
class CCDirector::LeavingScope {
public:
    LeavingScope(CCDirector& director, const CCScene* scene)
        : _director(director), _saved(director._sceneBeingLeft) {
        _director._sceneBeingLeft = scene;
        _director.syncRunningHold();
    }
    ~LeavingScope() {
        _director._sceneBeingLeft = _saved;
        _director.syncRunningHold();
    }
    LeavingScope(const LeavingScope&) = delete;
    LeavingScope& operator=(const LeavingScope&) = delete;

private:
    CCDirector& _director;
    const CCScene* _saved;
};

std::vector<platform::Ref<CCScene>> CCDirector::inHandOrder(std::vector<const CCScene*> scenes,
                                                            bool lastTakenFirst) const {
    auto order = [this](const CCScene* s) { return _scenesInHand.at(s).order; };
    std::sort(scenes.begin(), scenes.end(), [&](const CCScene* x, const CCScene* y) {
        return lastTakenFirst ? order(x) > order(y) : order(x) < order(y);
    });
    std::vector<platform::Ref<CCScene>> held;
    held.reserve(scenes.size());
    for (const CCScene* s : scenes)
        held.push_back(_scenesInHand.at(s).scene);
    return held;
}

bool CCDirector::holdsScene(const CCScene* scene) const {
    return scene && !_isEnding && _holds.count(scene) != 0;
}

void CCDirector::withTransitionScenes(std::vector<const CCScene*>& scenes) {
    // The list grows as it is walked.
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        auto* transition = dynamic_cast<const CCTransitionScene*>(scenes[i]);
        if (!transition) continue;
        for (const CCScene* s : {transition->outScene(), transition->inScene()})
            if (s && std::find(scenes.begin(), scenes.end(), s) == scenes.end()) scenes.push_back(s);
    }
}

void CCDirector::letGoOfScene(CCScene* scene) {
    platform::DeferredException thrown;
    letGoOfScene(scene, thrown);
    thrown.rethrow();
}

void CCDirector::letGoOfScene(CCScene* scene, platform::DeferredException& thrown) {
    if (!scene || holdsScene(scene) || !isInHand(scene)) return;
    leaveScene(scene, thrown);
}

void CCDirector::enterScene(CCScene* scene) {
    if (!scene) return;
    markEntered(scene);
    if (scene->isRunning()) return;
    platform::DeferredException thrown;
    callOnEnter(scene, thrown);
    thrown.rethrow();
}

void CCDirector::callOnEnter(CCScene* scene, platform::DeferredException& thrown) {
    if (thrown.run([&] { scene->onEnter(); }) || !scene->isTransitionScene()) return;
    // Its set-up was cut short, so its actions will never end it: it ends at once.
    if (auto* transition = dynamic_cast<CCTransitionScene*>(scene)) transition->finishAtOnce();
}

void CCDirector::exitEnteredScene(CCScene* scene) {
    if (!scene) return;
    platform::DeferredException thrown;
    exitScene(scene, true, thrown);
    thrown.rethrow();
}

void CCDirector::leaveScene(CCScene* scene, platform::DeferredException& thrown) {
    platform::Ref<CCScene> leaving(scene);
    if (scene->isRunning()) markEntered(scene);
    exitScene(scene, false, thrown);
    // Its exit calls may have handed it back (a transition made from it as it left), or let it
    // go themselves (an end): only a scene still in hand and still not held is cleaned up, and
    // only once its own exit calls are over.
    if (holdsScene(scene) || isExiting(scene)) return;
    auto found = _scenesInHand.find(scene);
    if (found == _scenesInHand.end()) return;
    bool clean = found->second.clean;
    dropFromHand(scene);
    if (!clean) {
        thrown.run([&] { scene->cleanup(); });
        return;
    }
    // Nothing to clean up again, but a transition's scenes that were not let go with it are now.
    if (auto* transition = dynamic_cast<CCTransitionScene*>(scene)) {
        platform::Ref<CCScene> out = transition->outScene(), in = transition->inScene();
        letGoOfScene(out.get(), thrown);
        letGoOfScene(in.get(), thrown);
    }
}

void CCDirector::replaceScene(CCScene* scene) {
    CCAssert(scene != nullptr, "Argument must be non-nil");
    if (droppedWhileEnding(scene)) return;
    CCAssert(!_scenesStack.empty(), "replaceScene needs a running scene: use runWithScene first");
    _sendCleanupToScene = true;
    takeInHand(scene, false);
    platform::Ref<CCScene> dropped = popFromStack();
    pushOnStack(scene);
    setNext(scene);
    letGoUnlessRunning(dropped.get());
}

void CCDirector::letGoUnlessRunning(CCScene* scene) {
    // The running scene is left to the switch, which exits it first; one the switch has left
    // already (its cleanup handed it over again, and a change dropped it) goes now.
    if (!scene || (scene == _runningScene.get() && (scene->isRunning() || scene == _sceneEntering))) return;
    letGoOfScene(scene);
}

void CCDirector::pushScene(CCScene* scene) {
    CCAssert(scene != nullptr, "Argument must be non-nil");
    if (droppedWhileEnding(scene)) return;
    _sendCleanupToScene = false;
    takeInHand(scene, false);
    pushOnStack(scene);
    setNext(scene);
}

void CCDirector::popScene() {
    if (droppedWhileEnding(nullptr)) return;
    CCAssert(!_scenesStack.empty(), "popScene needs a scene on the stack");
    platform::Ref<CCScene> dropped = popFromStack();
    if (!_scenesStack.empty()) {
        _sendCleanupToScene = true;
        setNext(_scenesStack.back().get());
        letGoUnlessRunning(dropped.get());
        return;
    }
    setNext(nullptr);
    // The last scene: the end lets every scene go, this one with them.
    end();
}

void CCDirector::popToRootScene() {
    popToSceneStackLevel(1);
}

void CCDirector::popToSceneStackLevel(std::uint64_t level) {
    if (droppedWhileEnding(nullptr)) return;
    if (level == 0) {
        end();
        return;
    }
    if (level >= _scenesStack.size()) return;
    // Every scene above the level is let go at once, top first, the running one among them,
    // whatever a scene's callback throws; the game gets the first exception afterwards. A scene
    // lower on the stack, or in a transition still held, stays; changes the exit calls ask for
    // come after the pop and stand.
    std::vector<platform::Ref<CCScene>> above;
    above.reserve(_scenesStack.size() - static_cast<std::size_t>(level));
    while (_scenesStack.size() > level)
        above.push_back(popFromStack());
    setNext(_scenesStack.back().get());
    _sendCleanupToScene = false;
    platform::DeferredException thrown;
    for (const platform::Ref<CCScene>& s : above) {
        CCScene* scene = s.get();
        // A scene still being entered is left to the next switch, as a pop leaves it: let go
        // now, what the rest of its entering starts would outlive it.
        if (scene == _sceneEntering) continue;
        // The running scene too: the switch then finds it exited and let go.
        LeavingScope leaving(*this, scene == _runningScene.get() ? scene : _sceneBeingLeft);
        letGoOfScene(scene, thrown);
    }
    thrown.rethrow();
}

bool CCDirector::isExiting(const CCScene* scene) const {
    return std::find(_scenesExiting.begin(), _scenesExiting.end(), scene) != _scenesExiting.end();
}

void CCDirector::exitScene(CCScene* scene, bool started, platform::DeferredException& thrown) {
    // Exited once: not again by a change its own exit calls ask for.
    if (!scene->isRunning() || isExiting(scene)) return;
    _scenesExiting.push_back(scene);
    if (!started) thrown.run([&] { scene->onExitTransitionDidStart(); });
    thrown.run([&] { scene->onExit(); });
    _scenesExiting.erase(std::find(_scenesExiting.begin(), _scenesExiting.end(), scene));
}

void CCDirector::transitionRuns(const CCScene* transition, bool runs) {
    auto found = std::find(_transitionsRunning.begin(), _transitionsRunning.end(), transition);
    if (runs) {
        if (found == _transitionsRunning.end()) _transitionsRunning.push_back(transition);
    } else {
        // One this director never saw run changes nothing.
        if (found == _transitionsRunning.end()) return;
        _transitionsRunning.erase(found);
        if (!_transitionsRunning.empty()) return;
    }
    if (CCTouchDispatcher* dispatcher = touchDispatcher()) dispatcher->setDispatchEvents(!runs);
}

void CCDirector::end() {
    // Asked for again by a scene's exit calls: the end under way does it all.
    if (droppedWhileEnding(nullptr)) return;
    // Scene changes the scenes ask for from here on are dropped (see droppedWhileEnding).
    _isEnding = true;
    _droppedWhileEndingLogged = false;
    struct EndingFlag {
        bool& flag;
        ~EndingFlag() { flag = false; }
    } ending{_isEnding};

    // Every scene is let go and the director ends whatever a scene's callback throws; the game
    // gets the first exception once it has ended.
    platform::DeferredException thrown;
    // The view's context stays current through the scenes' release and the purges, or their GL
    // objects would go under another context; the view may go only after them.
    platform::Ref<CCGLView> view = __view;
    ViewContextScope inView(view.get());
    // Nothing is switched to any more, and nothing is held: the running scene is exited and
    // cleaned up first, then every other scene the director holds, top of the stack first,
    // then those left in hand, last taken first, with those handed over meanwhile; each once.
    // A running transition lets its two scenes go through its own cleanup. A scene whose exit
    // calls are under way further up is cleaned up there, once they are over.
    setNext(nullptr);
    platform::Ref<CCScene> running = _runningScene;
    if (running) leaveScene(running.get(), thrown);
    setRunning(nullptr);
    running = nullptr;
    for (;;) {
        while (!_scenesStack.empty()) {
            platform::Ref<CCScene> scene = popFromStack();
            letGoOfScene(scene.get(), thrown);
        }
        std::vector<const CCScene*> left;
        for (const auto& [scene, inHand] : _scenesInHand)
            if (!isExiting(scene)) left.push_back(scene);
        if (left.empty()) break;
        for (const platform::Ref<CCScene>& scene : inHandOrder(left, true))
            letGoOfScene(scene.get(), thrown);
    }

    stopAnimation();

    _FPSLabel = nullptr;
    _SPFLabel = nullptr;
    _drawsLabel = nullptr;

    _delegate = nullptr;
    setView(nullptr);
    runPurgeHook(CCDirectorPurge::BitmapFontConfigurations);
    runPurgeHook(CCDirectorPurge::DrawPrimitives);
    runPurgeHook(CCDirectorPurge::AnimationCache);
    runPurgeHook(CCDirectorPurge::SpriteFrameCache);
    runPurgeHook(CCDirectorPurge::TextureCache);
    runPurgeHook(CCDirectorPurge::ShaderCache);
    CCFileUtils::sharedFileUtils()->purgeCachedEntries();

    glCacheInvalidate();

    GLenum error = glGetError();
    if (error) CCLOG("OpenGL error 0x%04X in %s %d", error, "-[CCDirector end]", 503);
    // The caller's context comes back, then the view goes (in that order, also when a scene's
    // exception goes on).
    thrown.rethrow();
}

void CCDirector::setNextScene() {
    // A scene's callback may throw: every call of the switch is still made, once, so that the
    // old scene is let go and the new one runs as without the throw, and the game gets the
    // first exception when the switch is complete.
    platform::DeferredException thrown;

    platform::Ref<CCScene> previous = _runningScene;
    // A transition coming on stage takes the scene it leaves from through its exit itself.
    bool handedOver = _nextScene && _nextScene->isTransitionScene() && !_nextScene->isRunning();
    if (auto* incoming = dynamic_cast<CCTransitionScene*>(_nextScene))
        handedOver = handedOver && incoming->outScene() == previous.get();
    {
        // Leaving: no longer held for running, only for what else holds it.
        LeavingScope leaving(*this, previous.get());
        if (previous && previous.get() != _nextScene && !handedOver) {
            // Exited either way (once, whatever its exit throws); cleaned up too when nothing
            // holds it after its exit calls.
            leaveScene(previous.get(), thrown);
        }
    }
    // Whatever else still runs but will not show leaves too: a scene a transition's exit let
    // take over, covered by another change in the same frame. Only scenes seen running can.
    std::vector<const CCScene*> shown;
    if (_nextScene) shown.push_back(_nextScene);
    if (handedOver) shown.push_back(previous.get());
    previous = nullptr;
    withTransitionScenes(shown);
    std::vector<const CCScene*> stray;
    for (auto it = _mayRun.begin(); it != _mayRun.end();) {
        const CCScene* s = *it;
        if (!s->isRunning()) {
            it = _mayRun.erase(it);
            continue;
        }
        if (std::find(shown.begin(), shown.end(), s) == shown.end()) stray.push_back(s);
        ++it;
    }
    for (const platform::Ref<CCScene>& s : inHandOrder(stray, false))
        leaveScene(s.get(), thrown);

    // The scene asked for last, should an exit call have asked for another.
    setRunning(_nextScene);
    setNext(nullptr);

    // Entered unless it runs already: a transition enters its incoming scene itself, and a
    // scene it leaves from may take over again while it runs.
    if (_runningScene && !_runningScene->isRunning()) {
        platform::Ref<CCScene> entering = _runningScene;
        MarkScope<const CCScene*> enteringNow(_sceneEntering, entering.get());
        markEntered(entering.get());
        callOnEnter(entering.get(), thrown);
        // Unless its enter calls let it go again (an end from a scene it entered): a transition,
        // and each inside it let go with it, then drops what the rest of its entering started,
        // which would outlive it.
        if (entering->isRunning())
            thrown.run([&] { entering->onEnterTransitionDidFinish(); });
        else if (!isInHand(entering.get()))
            dropWhatEnteringStarted(entering.get(), thrown);
    }
    thrown.rethrow();
}

void CCDirector::dropWhatEnteringStarted(CCScene* scene, platform::DeferredException& thrown) {
    std::vector<platform::Ref<CCScene>> transitions;
    if (scene->isTransitionScene()) transitions.emplace_back(scene);
    for (std::size_t i = 0; i < transitions.size(); ++i) {
        platform::Ref<CCScene> transition = transitions[i];
        thrown.run([&] { transition->cleanup(); });
        auto* t = dynamic_cast<CCTransitionScene*>(transition.get());
        if (!t) continue;
        for (CCScene* inner : {t->outScene(), t->inScene()})
            if (inner && inner->isTransitionScene() && !isInHand(inner) &&
                std::none_of(transitions.begin(), transitions.end(),
                             [inner](const platform::Ref<CCScene>& s) { return s.get() == inner; }))
                transitions.emplace_back(inner);
    }
}

// ---- animation -----------------------------------------------------------------------------

void CCDirector::pause() {
    if (_isPaused) return;
    _oldAnimationInterval = _animationInterval;
    // Keep the screen valid at four frames a second without updating the scheduler.
    setAnimationInterval(1 / 4.0);
    willChangeIsPaused();
    _isPaused = true;
    didChangeIsPaused();
}

void CCDirector::resume() {
    if (!_isPaused) return;
    setAnimationInterval(_oldAnimationInterval);
    readWallClock(_lastUpdate);
    willChangeIsPaused();
    _isPaused = false;
    didChangeIsPaused();
    _dt = 0;
}

void CCDirector::startAnimation() {
    _nextDeltaTimeZero = true;
}

// ---- statistics ----------------------------------------------------------------------------

void CCDirector::showStats() {
    _frames++;
    _accumDt += _dt;
    // The texts change at most ten times a second.
    if (_accumDt > 0.1) {
        setStatsText(_SPFLabel.get(), platform::format("%.3f", _secondsPerFrame));
        _frameRate = static_cast<double>(_frames) / _accumDt;
        _frames = 0;
        _accumDt = 0;
        setStatsText(_FPSLabel.get(), platform::format("%.1f", _frameRate));
        setStatsText(_drawsLabel.get(),
                     platform::format("%4lu", static_cast<unsigned long>(drawCallCounter)));
    }
    for (CCNode* label : {_drawsLabel.get(), _FPSLabel.get(), _SPFLabel.get()})
        if (label) label->visit();
    drawCallCounter = 0;
}

void CCDirector::calculateMPF() {
    struct timeval now;
    if (readWallClock(now)) _secondsPerFrame = secondsBetween(_lastUpdate, now);
}

void CCDirector::getFPSImageData(const unsigned char** data, std::uint64_t* length) {
    std::uint64_t size = 0;
    const unsigned char* bytes = ccStatsImageSmall(&size);
    handOutImage(bytes, size, data, length);
}

void CCDirector::createStatsLabel() {
    CCTextureCache* textureCache = CCTextureCache::sharedTextureCache();
    if (_FPSLabel && _SPFLabel) {
        _FPSLabel = nullptr;
        _SPFLabel = nullptr;
        _drawsLabel = nullptr;
        textureCache->removeTextureForKey(kStatsTextureKey);
        CCFileUtils::sharedFileUtils()->purgeCachedEntries();
    }

    // The glyphs are white on transparency: 16 bits a pixel are plenty. The default comes back
    // whatever happens on the way.
    struct FormatRestorer {
        CCTexture2DPixelFormat saved = CCTexture2D::defaultAlphaPixelFormat();
        ~FormatRestorer() { CCTexture2D::setDefaultAlphaPixelFormat(saved); }
    } restorer;
    CCTexture2D::setDefaultAlphaPixelFormat(kCCTexture2DPixelFormat_RGBA4444);

    const unsigned char* data = nullptr;
    std::uint64_t length = 0;
    getFPSImageData(&data, &length);
    platform::Ref<platform::Image> image =
        data && length ? platform::Image::imageWithData(data, static_cast<std::size_t>(length)) : nullptr;
    platform::Ref<CCTexture2D> texture =
        image ? textureCache->addCGImage(image.get(), kStatsTextureKey) : nullptr;
    if (!texture) {
        CCLOG("engine: CCDirector: the statistics glyphs could not be loaded");
        return;
    }

    auto label = [&](const char* text) -> platform::Ref<CCNode> {
        auto made = platform::make<CCLabelAtlas>();
        if (!made->initWithString(text, texture.get(), 12, 32, '.')) return nullptr;
        return made;
    };
    _FPSLabel = label("00.0");
    _SPFLabel = label("0.000");
    _drawsLabel = label("000");

    if (_drawsLabel) _drawsLabel->setPosition(CGPointMake(0, 34));
    if (_SPFLabel) _SPFLabel->setPosition(CGPointMake(0, 17));
    if (_FPSLabel) _FPSLabel->setPosition(CGPointMake(0, 0));
}

// ---- accessors -----------------------------------------------------------------------------

void CCDirector::setScheduler(CCScheduler* scheduler) {
    if (scheduler != _scheduler.get()) _scheduler = scheduler;
}

void CCDirector::setActionManager(CCActionManager* actionManager) {
    if (actionManager != _actionManager.get()) _actionManager = actionManager;
}

void CCDirector::addIsPausedObserver(const void* observer,
                                     std::function<void(CCDirector*, CCKeyValueChange)> callback) {
    _pausedObservers.push_back({observer, std::move(callback)});
}

void CCDirector::removeIsPausedObserver(const void* observer) {
    std::erase_if(_pausedObservers, [observer](const PausedObserver& o) { return o.observer == observer; });
}

void CCDirector::willChangeIsPaused() {
    // A copy: an observer may remove itself while it is told.
    auto observers = _pausedObservers;
    for (auto& o : observers)
        o.callback(this, CCKeyValueChange::WillChange);
}

void CCDirector::didChangeIsPaused() {
    auto observers = _pausedObservers;
    for (auto& o : observers)
        o.callback(this, CCKeyValueChange::DidChange);
}

void CCDirector::setPurgeHook(CCDirectorPurge which, std::function<void()> hook) {
    if (which >= CCDirectorPurge::Count) return;
    purgeHooks()[static_cast<std::size_t>(which)] = std::move(hook);
}

void CCDirector::runPurgeHook(CCDirectorPurge which) {
    if (which >= CCDirectorPurge::Count) return;
    // A copy: the hook may replace itself.
    auto hook = purgeHooks()[static_cast<std::size_t>(which)];
    if (hook) hook();
}

// =============================================================================================
// CCDirectorIOS

CCDirectorIOS::CCDirectorIOS() = default;

CCDirectorIOS::~CCDirectorIOS() {
    _touchDispatcher = nullptr;
}

bool CCDirectorIOS::init() {
    if (!CCDirector::init()) return false;
    platform::setContentScaleFactor(1.0f);
    _isContentScaleSupported = false;
    _touchDispatcher = platform::make<CCTouchDispatcher>();
    _touchDispatcher->init();
    _runningThread = platform::Thread::currentThread();
    // The director's own view tells it when its layout changes. Laid out on another thread, it
    // leaves the size to the next frame: the matrix stacks are the drawing thread's.
    CCGLView::setReshapeProjectionHook([](CCGLView* view, CGSize size) {
        CCDirector* director = nullptr;
        {
            std::lock_guard lock(sharedDirectorMutex);
            director = sharedDirector_;
            if (!director) return;
            auto* drawing = dynamic_cast<CCDirectorIOS*>(director);
            platform::Thread* thread = director->runningThread();
            if (drawing && thread && thread != platform::Thread::currentThread()) {
                if (view != drawing->_viewForLayout.load()) return;
                std::lock_guard pending(drawing->_reshapeMutex);
                drawing->_pendingReshape = size;
                drawing->_reshapePending = true;
                return;
            }
        }
        // On the director's thread, which alone lets it go, without the lock: the reshape calls
        // the game's delegate, which may let views go or purge.
        if (view == director->view()) director->reshapeProjection(size);
    });
    // A renderer letting go of the current context hands it back to the director's view, but
    // only on the thread the director draws on: any other thread would keep the context from
    // the frames until it ends.
    CCES2Renderer::setReleasedContextHook([]() -> platform::GLContext* {
        std::lock_guard lock(sharedDirectorMutex);
        CCDirector* director = sharedDirector_;
        platform::Thread* drawing = director ? director->runningThread() : nullptr;
        if (!drawing || drawing != platform::Thread::currentThread()) return nullptr;
        CCGLView* view = director->view();
        return view ? view->context() : nullptr;
    });
    return true;
}

void CCDirectorIOS::drawScene() {
    // A frame asked for from inside this one (runWithScene from a callback) is left to it.
    if (_drawingFrame) return;
    MarkScope<bool> underWay(_drawingFrame, true);
    calculateDeltaTime();

    // Made current only where it is not: made current anew, it would carry the last frame
    // forward at once, which is to wait until the GL has rasterised it during the update.
    // One line when frames start to go undrawn, not one a frame; a frame that draws again
    // re-arms it.
    if (__view && platform::GLContext::currentContext() != __view->context() &&
        !platform::GLContext::setCurrentContext(__view->context())) {
        if (!_toldUndrawn)
            CCLOG("engine: CCDirector: drawScene: the view's GL context cannot be made current on this "
                  "thread (another thread holds it current), so the frames are not presented");
        _toldUndrawn = true;
    } else {
        _toldUndrawn = false;
    }

    // A laid-out view keeps its drawable until laid out again: after a change of scale (retina
    // switched) the frame lays it out, as a platform's layout pass would, which reshapes the
    // projection once. Not while another thread holds the context, which the resize needs.
    if (__view && !_toldUndrawn && _layoutForScale.exchange(false)) __view->layoutIfNeeded();

    // The size the view was laid out at on another thread.
    if (_reshapePending.exchange(false)) {
        CGSize size;
        {
            std::lock_guard lock(_reshapeMutex);
            size = _pendingReshape;
        }
        reshapeProjection(size);
    }

    if (!_isPaused) _scheduler->update(_dt);

    // A retained view's last frame is carried into this one now, or not at all where the clear
    // covers it.
    if (__view && __view->context()) __view->context()->beginFrame(true);
    glCheck(glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT));

    if (_nextScene) setNextScene();

    // A safe point: names handed to this thread's contexts go, and the state cache forgets what
    // other threads deleted.
    glCacheDeleteWaitingObjects();

    {
        matrixPush();
        // Popped however the visits end, so a throwing node leaves the next frame's stack as it was.
        struct PopMatrix {
            ~PopMatrix() { matrixPop(); }
        } pop;
        if (_runningScene) {
            platform::Ref<CCScene> scene = _runningScene;
            scene->visit();
        }
        if (_notificationNode) {
            platform::Ref<CCNode> node = _notificationNode;
            node->visit();
        }
        if (_displayStats) showStats();
    }

    _totalFrames++;

    if (__view) __view->swapBuffers();

    if (_displayStats) calculateMPF();
}

void CCDirectorIOS::setViewport() {
    glCheck(glViewport(0, 0, static_cast<GLsizei>(_winSizeInPixels.width),
                       static_cast<GLsizei>(_winSizeInPixels.height)));
}

void CCDirectorIOS::setProjection(ccDirectorProjection projection) {
    ViewContextScope inView(__view.get());
    CGSize sizePoint = _winSizeInPoints;
    float scale = platform::contentScaleFactor();

    setViewport();

    switch (projection) {
    case kCCDirectorProjection2D: {
        matrixMode(kCCMatrixModeProjection);
        matrixLoadIdentity();
        kmMat4 ortho;
        mat4Orthographic(&ortho, 0, static_cast<float>(_winSizeInPixels.width / scale), 0,
                         static_cast<float>(_winSizeInPixels.height / scale), -1024, 1024);
        matrixMultiply(&ortho);
        matrixMode(kCCMatrixModeModelView);
        matrixLoadIdentity();
        break;
    }
    case kCCDirectorProjection3D: {
        float zeye = getZEye();
        kmMat4 perspective, lookAt;
        matrixMode(kCCMatrixModeProjection);
        matrixLoadIdentity();
        // A zero-sized window has no perspective: the matrix is then left as the identity.
        if (mat4Perspective(&perspective, 60,
                            static_cast<float>(_winSizeInPixels.width / _winSizeInPixels.height), 0.1f,
                            zeye * 2))
            matrixMultiply(&perspective);

        matrixMode(kCCMatrixModeModelView);
        matrixLoadIdentity();
        kmVec3 eye, center, up;
        float halfW = static_cast<float>(sizePoint.width / 2),
              halfH = static_cast<float>(sizePoint.height / 2);
        vec3Fill(&eye, halfW, halfH, zeye);
        vec3Fill(&center, halfW, halfH, 0.0f);
        vec3Fill(&up, 0.0f, 1.0f, 0.0f);
        mat4LookAt(&lookAt, &eye, &center, &up);
        matrixMultiply(&lookAt);
        break;
    }
    case kCCDirectorProjectionCustom:
        if (_delegate && _delegate->respondsTo(CCDirectorDelegate::kRespondsToUpdateProjection))
            _delegate->updateProjection();
        break;
    default:
        CCLOG("Director: unrecognized projection");
        break;
    }

    _projection = projection;
    glCacheSetProjectionDirty();
}

void CCDirectorIOS::runWithScene(CCScene* scene) {
    CCAssert(scene != nullptr, "Argument must be non-nil");
    pushScene(scene);
    if (_isEnding) return;
    platform::Ref<CCDirectorIOS> keep(this);
    // Asked for from a scene's exit calls, the change under way finishes first: the next frame
    // switches, or the scene would take over from one half left.
    auto draw = [keep] {
        if (!keep->exitCallsUnderWay()) keep->drawScene();
    };
    if (!_runningThread || _runningThread == platform::Thread::currentThread())
        draw();
    else
        _runningThread->performBlock(draw, true);
}

CCTouchDispatcher* CCDirectorIOS::touchDispatcher() const {
    return _touchDispatcher.get();
}

void CCDirectorIOS::setTouchDispatcher(CCTouchDispatcher* dispatcher) {
    if (dispatcher != _touchDispatcher.get()) _touchDispatcher = dispatcher;
}

float CCDirectorIOS::contentScaleFactor() const {
    return platform::contentScaleFactor();
}

void CCDirectorIOS::setContentScaleFactor(double scaleFactor) {
    float scale = static_cast<float>(scaleFactor);
    if (scale == platform::contentScaleFactor()) return;
    platform::setContentScaleFactor(scale);
    _winSizeInPixels = CGSizeMake(_winSizeInPoints.width * scale, _winSizeInPoints.height * scale);
    if (__view) updateContentScaleFactor();
    setProjection(_projection);
}

void CCDirectorIOS::updateContentScaleFactor() {
    if (__view) {
        __view->setContentScaleFactor(platform::contentScaleFactor());
        _layoutForScale = __view->scaleChangedSinceLayout();
    }
    _isContentScaleSupported = true;
}

bool CCDirectorIOS::enableRetinaDisplay(bool enable) {
    float current = platform::contentScaleFactor();
    if (enable && current == 2) return true;
    if (!enable && current == 1) return true;
    // Without a view there is nothing that could show the scaled content.
    if (!__view) return false;
    if (platform::Device::current().screenScale == 1.0) return false;

    setContentScaleFactor(enable ? 2.0 : 1.0);
    CCFileUtils::sharedFileUtils()->buildSearchResolutionsOrder();
    createStatsLabel();
    return true;
}

void CCDirectorIOS::reshapeProjection(CGSize) {
    if (!__view) return;
    _winSizeInPoints = __view->bounds().size;
    float scale = platform::contentScaleFactor();
    _winSizeInPixels = CGSizeMake(_winSizeInPoints.width * scale, _winSizeInPoints.height * scale);
    setProjection(_projection);
    if (_delegate && _delegate->respondsTo(CCDirectorDelegate::kRespondsToDidReshapeProjection))
        _delegate->directorDidReshapeProjection(this);
}

CGPoint CCDirectorIOS::convertToGL(CGPoint uiPoint) const {
    kmMat4 projection, modelView, transform, inverse;
    matrixGet(kCCMatrixModeProjection, &projection);
    matrixGet(kCCMatrixModeModelView, &modelView);
    mat4Multiply(&transform, &projection, &modelView);
    // A singular transform maps nothing back: answer the zero point.
    if (!mat4Inverse(&inverse, &transform)) return CGPointZero;

    // Where z = 0 lands in clip space.
    float zClip = transform.mat[14] / transform.mat[15];
    CGSize glSize = __view ? __view->bounds().size : _winSizeInPoints;
    kmVec3 clipCoord;
    vec3Fill(&clipCoord, static_cast<float>(2.0 * uiPoint.x / glSize.width - 1),
             static_cast<float>(1 - 2.0 * uiPoint.y / glSize.height), zClip);
    kmVec3 glCoord;
    vec3TransformCoord(&glCoord, &clipCoord, &inverse);
    return CGPointMake(glCoord.x, glCoord.y);
}

CGPoint CCDirectorIOS::convertTouchToGL(const platform::Touch* touch) const {
    // A missing touch stands at the view's origin.
    return convertToGL(touch ? touch->locationInView(touch->view()) : CGPointZero);
}

CGPoint CCDirectorIOS::convertToUI(CGPoint glPoint) const {
    kmMat4 projection, modelView, transform;
    matrixGet(kCCMatrixModeProjection, &projection);
    matrixGet(kCCMatrixModeModelView, &modelView);
    mat4Multiply(&transform, &projection, &modelView);

    kmVec3 clipCoord, glCoord;
    vec3Fill(&glCoord, static_cast<float>(glPoint.x), static_cast<float>(glPoint.y), 0.0f);
    vec3TransformCoord(&clipCoord, &glCoord, &transform);

    CGSize glSize = __view ? __view->bounds().size : _winSizeInPoints;
    return CGPointMake(glSize.width * (clipCoord.x * 0.5 + 0.5), glSize.height * (0.5 - clipCoord.y * 0.5));
}

void CCDirectorIOS::end() {
    if (_touchDispatcher) _touchDispatcher->removeAllDelegates();
    CCDirector::end();
}

void CCDirectorIOS::setView(CCGLView* view) {
    if (view == __view.get()) return;
    _viewForLayout = view;
    _layoutForScale = false;
    CCDirector::setView(view);
    if (view) {
        float scale = platform::contentScaleFactor();
        _winSizeInPixels = CGSizeMake(_winSizeInPoints.width * scale, _winSizeInPoints.height * scale);
        if (scale != 1) {
            updateContentScaleFactor();
            // The defaults took the size in points for pixels: the viewport and projection again,
            // in pixels, so the first frame fills the view.
            setProjection(_projection);
        }
        view->setTouchDelegate(_touchDispatcher.get());
        _touchDispatcher->setDispatchEvents(true);
    }
}

bool CCDirectorIOS::shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) {
    if (_delegate && _delegate->respondsTo(CCDirectorDelegate::kRespondsToShouldAutorotate))
        return _delegate->shouldAutorotateToInterfaceOrientation(orientation);
    return true;
}

void CCDirectorIOS::viewWillAppear(bool animated) {
    platform::ViewController::viewWillAppear(animated);
    startAnimation();
}

void CCDirectorIOS::viewDidAppear(bool animated) {
    platform::ViewController::viewDidAppear(animated);
}

void CCDirectorIOS::viewWillDisappear(bool animated) {
    platform::ViewController::viewWillDisappear(animated);
}

void CCDirectorIOS::viewDidDisappear(bool animated) {
    stopAnimation();
    platform::ViewController::viewDidDisappear(animated);
}

void CCDirectorIOS::didReceiveMemoryWarning() {
    purgeCachedData();
    platform::ViewController::didReceiveMemoryWarning();
}

void CCDirectorIOS::viewDidLoad() {
    platform::ViewController::viewDidLoad();
}

void CCDirectorIOS::viewDidUnload() {
    platform::ViewController::viewDidUnload();
}

void CCDirectorIOS::getFPSImageData(const unsigned char** data, std::uint64_t* length) {
    std::uint64_t size = 0;
    const unsigned char* bytes = nullptr;
    switch (CCConfiguration::sharedConfiguration()->runningDevice()) {
    case kCCDeviceiPhoneRetinaDisplay:
    case kCCDeviceiPhone5RetinaDisplay:
        bytes = ccStatsImageLarge(&size);
        break;
    case kCCDeviceiPadRetinaDisplay:
        bytes = ccStatsImageLargePad(&size);
        break;
    default:
        bytes = ccStatsImageSmall(&size);
        break;
    }
    handOutImage(bytes, size, data, length);
}

// =============================================================================================
// CCDirectorDisplayLink

CCDirectorDisplayLink::CCDirectorDisplayLink() = default;

CCDirectorDisplayLink::~CCDirectorDisplayLink() {
    if (_displayLink) _displayLink->invalidate();
    _displayLink = nullptr;
}

void CCDirectorDisplayLink::mainLoop(platform::DisplayLink*) {
    drawScene();
}

void CCDirectorDisplayLink::setAnimationInterval(double interval) {
    // NaN fails both comparisons; a negative or endless wait has no frame rate to give.
    if (!(interval >= 0) || std::isinf(interval)) {
        CCLOG("engine: CCDirector: animation interval %g refused, keeping %g", interval, _animationInterval);
        return;
    }
    _animationInterval = interval;
    if (_displayLink) {
        stopAnimation();
        startAnimation();
    }
}

void CCDirectorDisplayLink::startAnimation() {
    CCDirector::startAnimation();
    if (_isAnimating) return;

    readWallClock(_lastUpdate);

    // A whole number of display refreshes; an interval shorter than one refresh gets one.
    // A huge interval is held at the display link's cap, where frames practically never come;
    // converting it as it stands would overflow.
    double refreshes = std::floor(_animationInterval * 60.0);
    std::int64_t frameInterval = refreshes >= static_cast<double>(platform::DisplayLink::kMaxFrameInterval)
                                     ? platform::DisplayLink::kMaxFrameInterval
                                     : static_cast<std::int64_t>(refreshes);
    if (frameInterval < 1) frameInterval = 1;

    _displayLink =
        platform::DisplayLink::displayLinkWithTarget(this, fl_selector(CCDirectorDisplayLink::mainLoop));
    _displayLink->setFrameInterval(frameInterval);
    _displayLink->addToRunLoop(platform::RunLoop::currentRunLoop());
    _isAnimating = true;
}

void CCDirectorDisplayLink::stopAnimation() {
    if (!_isAnimating) return;
    if (_displayLink) _displayLink->invalidate();
    _displayLink = nullptr;
    _isAnimating = false;
}

void CCDirectorDisplayLink::calculateDeltaTime() {
    double now = _displayLink ? _displayLink->timestamp() : 0.0;
    if (_nextDeltaTimeZero || _lastDisplayTime == 0) {
        _dt = 0;
        _nextDeltaTimeZero = false;
    } else {
        _dt = now - _lastDisplayTime;
        if (_dt <= 0) _dt = 0;
    }
    _lastDisplayTime = now;
    if (_displayStats) readWallClock(_lastUpdate);
}

void CCDirectorDisplayLink::threadMainLoop() {
    if (!_displayLink) return;
    _displayLink->addToRunLoop(platform::RunLoop::currentRunLoop());
    platform::RunLoop::currentRunLoop()->run();
}
