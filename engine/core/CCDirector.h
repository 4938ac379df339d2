// The director: the frame loop, the scene stack, the projection and the window geometry. It
// owns the scheduler, the action manager and the touch dispatcher; everything else reaches
// them through the shared director.
#pragma once

#include "core/CCScene.h"
#include "platform/Object.h"
#include "platform/View.h"

#include <sys/time.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace platform {
class DeferredException;
class DisplayLink;
class GLContext;
class Thread;
} // namespace platform

class CCActionManager;
class CCDirector;
class CCGLView;
class CCScheduler;
class CCTouchDispatcher;

// The projection kinds.
enum ccDirectorProjection : std::int32_t {
    kCCDirectorProjection2D = 0,
    kCCDirectorProjection3D = 1,
    kCCDirectorProjectionCustom = 2,
    kCCDirectorProjectionDefault = kCCDirectorProjection3D,
};

// Draw calls of the current frame: every drawing node adds one per draw call; the statistics
// display shows it and zeroes it each frame.
extern std::uint32_t drawCallCounter;

// What the director asks of the game. Every operation is optional: a delegate says which ones
// it implements with the flags it passes to the constructor.
class CCDirectorDelegate {
public:
    enum : std::uint32_t {
        kRespondsToUpdateProjection = 1,
        kRespondsToShouldAutorotate = 2,
        kRespondsToDidReshapeProjection = 4,
    };
    explicit CCDirectorDelegate(std::uint32_t implemented = 0) : _implemented(implemented) {}
    virtual ~CCDirectorDelegate() = default;

    // Sets up the projection when the director's kind is custom.
    virtual void updateProjection() {}
    virtual bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation) { return true; }
    // After every reshape of the view.
    virtual void directorDidReshapeProjection(CCDirector*) {}

    bool respondsTo(std::uint32_t operation) const { return (_implemented & operation) != 0; }

private:
    std::uint32_t _implemented;
};

// The two moments of a change of the observed "isPaused" value.
enum class CCKeyValueChange { WillChange, DidChange };

// Caches the director purges when it ends or on a memory warning. The caches live in later
// layers of the engine; each installs its purge call here when it comes into being.
enum class CCDirectorPurge : std::uint32_t {
    BitmapFontConfigurations, // end and purgeCachedData
    DrawPrimitives,           // end
    AnimationCache,           // end
    SpriteFrameCache,         // end
    TextureCache,             // end
    ShaderCache,              // end
    UnusedTextures,           // purgeCachedData, only while the director has a view
    Count
};

class CCDirector : public platform::ViewController {
public:
    // Makes a director of one class, not yet initialised: what a class object was for here.
    using DirectorMaker = platform::Ref<CCDirector> (*)();

    // Made on first use with defaultDirector(), then initialised. Every subclass shares it.
    static CCDirector* sharedDirector();
    // Ends and drops the shared director; the next sharedDirector() makes a new one. For
    // tests and for shutting the engine down.
    static void purgeSharedDirector();

    CCDirector();
    ~CCDirector() override;
    // Defaults; makes the scheduler and the action manager and registers the manager's update.
    virtual bool init();
    std::string description() const override;

    void setGLDefaultValues();
    virtual void drawScene() {}
    virtual void calculateDeltaTime();
    virtual void purgeCachedData();
    ccDirectorProjection projection() const { return _projection; }
    // The eye distance of the three-dimensional projection.
    float getZEye() const;
    virtual void setViewport() {}
    // Platform work: CCDirectorIOS sets up the matrices and stores the kind.
    virtual void setProjection(ccDirectorProjection) {}
    void setAlphaBlending(bool on);
    void setDepthTest(bool on);

    virtual void setView(CCGLView* view);
    CCGLView* view() const { return __view.get(); }
    // A view point (origin top-left, points) to GL coordinates, and back.
    virtual CGPoint convertToGL(CGPoint uiPoint) const;
    virtual CGPoint convertToUI(CGPoint glPoint) const;
    // In points.
    CGSize winSize() const { return _winSizeInPoints; }
    CGSize winSizeInPixels() const { return _winSizeInPixels; }
    virtual void reshapeProjection(CGSize newWindowSize);

    // Scenes. All but runWithScene only prepare the switch; it happens at the next drawScene.
    // Each finishes its work when a scene's callback throws, then throws the first exception.
    virtual void runWithScene(CCScene* scene);
    void replaceScene(CCScene* scene);
    void pushScene(CCScene* scene);
    void popScene();
    void popToRootScene();
    // Lets every scene above the level (1: the root) go at once; the running one among them is
    // exited and cleaned up here and neither again at the switch. Level 0 ends.
    void popToSceneStackLevel(std::uint64_t level);
    // Whether the scene is still the director's: on the stack, running, about to run, or one of
    // the two scenes of a transition it so holds. Nothing is held while the director ends.
    bool holdsScene(const CCScene* scene) const;
    // For a transition letting its scenes go: a scene given to the director that it no longer
    // holds is exited if it runs and cleaned up, once; any other scene is left alone.
    void letGoOfScene(CCScene* scene);
    // For a transition entering one of its scenes: entered unless it runs. A transition whose
    // entering throws ends at once, as the switch ends one.
    void enterScene(CCScene* scene);
    // For a transition leaving one of its scenes: onExit, unless the scene no longer runs or its
    // exit calls are under way already.
    void exitEnteredScene(CCScene* scene);
    // For a transition as it starts and stops running: touch dispatch is off while any runs, and
    // back on when the last one leaves, however transitions nest or follow one another.
    void transitionRuns(const CCScene* transition, bool runs);
    // Leaves the running scene, cleans up every scene held once, stops the animation, drops the
    // view and purges the caches. Scene changes asked for meanwhile are dropped; nothing is
    // left to switch to.
    virtual void end();
    void setNextScene();

    void pause();
    void resume();
    virtual void startAnimation();
    virtual void stopAnimation() {}
    // Seconds between frames.
    virtual void setAnimationInterval(double) {}

    // Statistics: the labels are made by createStatsLabel; without them only the counts move.
    virtual void showStats();
    void calculateMPF();
    // Out: the bytes of a PNG image and their count; null and 0 while there is none.
    virtual void getFPSImageData(const unsigned char** data, std::uint64_t* length);
    // (Re)makes the three labels and the glyph texture, cached as "cc_fps_images", from
    // getFPSImageData; without a usable image the labels stay absent.
    void createStatsLabel();

    double animationInterval() const { return _animationInterval; }
    CCScene* runningScene() const { return _runningScene.get(); }
    bool displayStats() const { return _displayStats; }
    void setDisplayStats(bool displayStats) { _displayStats = displayStats; }
    bool nextDeltaTimeZero() const { return _nextDeltaTimeZero; }
    void setNextDeltaTimeZero(bool nextDeltaTimeZero) { _nextDeltaTimeZero = nextDeltaTimeZero; }
    bool isPaused() const { return _isPaused; }
    bool isAnimating() const { return _isAnimating; }
    bool sendCleanupToScene() const { return _sendCleanupToScene; }
    platform::Thread* runningThread() const { return _runningThread; }
    CCNode* notificationNode() const { return _notificationNode.get(); }
    void setNotificationNode(CCNode* node) { _notificationNode = node; }
    CCDirectorDelegate* delegate() const { return _delegate; }
    // Not retained.
    void setDelegate(CCDirectorDelegate* delegate) { _delegate = delegate; }
    std::uint64_t totalFrames() const { return _totalFrames; }
    double secondsPerFrame() const { return _secondsPerFrame; }
    CCScheduler* scheduler() const { return _scheduler.get(); }
    void setScheduler(CCScheduler* scheduler);
    CCActionManager* actionManager() const { return _actionManager.get(); }
    void setActionManager(CCActionManager* actionManager);
    // The delta time of the current frame, in seconds.
    double dt() const { return _dt; }
    // The scenes on the stack, bottom first.
    const std::vector<platform::Ref<CCScene>>& scenesStack() const { return _scenesStack; }
    CCScene* nextScene() const { return _nextScene; }

    // The class the shared director is made of: CCDirectorDisplayLink.
    static DirectorMaker defaultDirector();
    // Orientation is the view controller's business here: nothing to hand on.
    void setInterfaceOrientationDelegate(platform::Object*) {}
    virtual CCTouchDispatcher* touchDispatcher() const { return nullptr; }
    virtual void setTouchDispatcher(CCTouchDispatcher*) {}

    // Observers of "isPaused": called before and after each change. The observer pointer
    // identifies the registration and is not retained.
    void addIsPausedObserver(const void* observer,
                             std::function<void(CCDirector*, CCKeyValueChange)> callback);
    void removeIsPausedObserver(const void* observer);

    // Purge calls of later caches, run by end and purgeCachedData in a fixed order.
    static void setPurgeHook(CCDirectorPurge which, std::function<void()> hook);

    // ---- older names, kept for old callers; each forwards to the current operation ----
    bool getIsPaused() const { return isPaused(); }
    void setDisplayFPS(bool displayFPS) { setDisplayStats(displayFPS); }
    void setOpenGLView(CCGLView* view) { setView(view); }
    // The view field itself, not retained for the caller.
    CCGLView* openGLView() const { return __view.get(); }

protected:
    void willChangeIsPaused();
    void didChangeIsPaused();
    // A scene's exit calls are under way.
    bool exitCallsUnderWay() const { return !_scenesExiting.empty(); }
    static void runPurgeHook(CCDirectorPurge which);

    double _animationInterval = 1.0 / 60;    // seconds between frames
    double _oldAnimationInterval = 1.0 / 60; // saved by pause
    bool _displayStats = false;
    std::uint64_t _frames = 0; // since the last statistics refresh
    std::uint64_t _totalFrames = 0;
    double _secondsPerFrame = 0; // wall-clock time the last frame took, while statistics are on
    double _accumDt = 0;         // delta time since the last statistics refresh
    double _frameRate = 0;       // frames per second at the last refresh
    // The statistics labels: character-map labels over the "cc_fps_images" texture, made by
    // createStatsLabel. Held as nodes; showStats gives its texts to any label among them.
    platform::Ref<CCNode> _FPSLabel, _SPFLabel, _drawsLabel;
    bool _isPaused = false;
    bool _isAnimating = false;
    platform::Ref<CCScene> _runningScene;
    platform::Ref<CCNode> _notificationNode;
    CCScene* _nextScene = nullptr; // held by the scene stack
    bool _sendCleanupToScene = false;
    std::vector<platform::Ref<CCScene>> _scenesStack;
    struct timeval _lastUpdate {}; // wall clock at the last frame start or resume
    double _dt = 0;                // seconds
    bool _nextDeltaTimeZero = false;
    ccDirectorProjection _projection = kCCDirectorProjectionDefault;
    CCDirectorDelegate* _delegate = nullptr; // not retained
    CGSize _winSizeInPoints = CGSizeZero, _winSizeInPixels = CGSizeZero;
    platform::Thread* _runningThread = nullptr; // the thread that made the director
    platform::Ref<CCScheduler> _scheduler;
    platform::Ref<CCActionManager> _actionManager;
    platform::Ref<CCGLView> __view;
    // While end lets the scenes go: scene changes are dropped.
    bool _isEnding = false;

    // Holds the view's context current for a scope in which the game made another current, then
    // puts that one back: the director's GL settings belong to its view. Where none was current,
    // the view's stays.
    class ViewContextScope {
    public:
        explicit ViewContextScope(const CCGLView* view);
        ~ViewContextScope();
        ViewContextScope(const ViewContextScope&) = delete;
        ViewContextScope& operator=(const ViewContextScope&) = delete;

    private:
        platform::Ref<platform::GLContext> _previous;
    };

private:
    // Takes a scene given to the director in hand, and a transition's two scenes with it, however
    // deep, also when the director holds it already. A scene taken back after it was let go (a
    // transition's outgoing scene) comes clean: it is cleaned up again only once it has run again.
    void takeInHand(CCScene* scene, bool clean);
    // The transitions walked so far in this hand-over, with how, so that none is walked twice.
    void takeInHand(CCScene* scene, bool clean, std::vector<std::pair<const CCScene*, bool>>& walked);
    bool isInHand(const CCScene* scene) const;
    // Scenes in hand, held, in the order they were taken (or the last taken first), so that a
    // game hears the same calls in the same order on every run.
    std::vector<platform::Ref<CCScene>> inHandOrder(std::vector<const CCScene*> scenes,
                                                    bool lastTakenFirst) const;
    void dropFromHand(const CCScene* scene);
    // A scene the director or a transition enters: cleaned up again when it is let go.
    void markEntered(const CCScene* scene);
    // What holds a scene, counted: each stack entry, the next scene, the running scene while it
    // is held for running, and each held transition for each of its two scenes.
    void hold(CCScene* scene);
    void unhold(const CCScene* scene);
    // Counts the running scene as held while it is, in hand, not being left.
    void syncRunningHold();
    void pushOnStack(CCScene* scene);
    platform::Ref<CCScene> popFromStack();
    void setNext(CCScene* scene);
    void setRunning(CCScene* scene);
    // A transition the director let go while it was being entered, and each let go inside it:
    // cleaned up again, so that what their entering started after the let-go stops too.
    void dropWhatEnteringStarted(CCScene* scene, platform::DeferredException& thrown);
    // Adds the two scenes of each transition in the list, and of each transition among those.
    static void withTransitionScenes(std::vector<const CCScene*>& scenes);
    // The public letGoOfScene, the first exception kept in `thrown`.
    void letGoOfScene(CCScene* scene, platform::DeferredException& thrown);
    // Exits the scene if it runs, then cleans it up, once, when nothing holds it after its exit
    // calls (the switch leaves the old scene so, held or not). A scene whose exit calls are under
    // way further up is left to that exit.
    void leaveScene(CCScene* scene, platform::DeferredException& thrown);
    // A scene the stack dropped, unless it is the running one, which the switch leaves first.
    void letGoUnlessRunning(CCScene* scene);
    // The exit calls of a scene (both, or onExit alone), unless it no longer runs or is being
    // exited already; each call is made whatever the others throw, the first exception kept in
    // `thrown`.
    void exitScene(CCScene* scene, bool started, platform::DeferredException& thrown);
    bool isExiting(const CCScene* scene) const;
    // The scene's onEnter, the exception kept in `thrown`; a transition it cut short ends at once.
    void callOnEnter(CCScene* scene, platform::DeferredException& thrown);
    // While the director ends, a scene change is dropped, told of once per end; a scene it
    // hands over is held, so that the end cleans it up with the others. True when dropped.
    bool droppedWhileEnding(CCScene* scene);

    bool _droppedWhileEndingLogged = false;
    // Every scene given to the director (and the scenes of its transitions) not yet let go:
    // each is cleaned up once when it leaves the director's hands.
    struct InHand {
        platform::Ref<CCScene> scene;
        std::uint64_t order; // when it was taken: the end lets the last taken go first
        bool clean;          // cleaned up already and not entered since
    };
    std::unordered_map<const CCScene*, InHand> _scenesInHand;
    std::uint64_t _handOrder = 0;
    // Scenes in hand that ran when last seen: the switch looks there for those still running
    // that will not show.
    std::unordered_set<const CCScene*> _mayRun;
    std::unordered_map<const CCScene*, std::uint32_t> _holds;
    CCScene* _runningHold = nullptr;
    // The running scene left the director's hand before the switch: not held for running again.
    bool _runningLetGo = false;
    // The running scene a switch or a pop is leaving: held only if something else holds it.
    const CCScene* _sceneBeingLeft = nullptr;
    class LeavingScope;
    // The scene whose enter calls a switch is making.
    const CCScene* _sceneEntering = nullptr;
    // Scenes whose exit calls are under way.
    std::vector<const CCScene*> _scenesExiting;
    // Transitions running, which keep touches off.
    std::vector<const CCScene*> _transitionsRunning;

    struct PausedObserver {
        const void* observer;
        std::function<void(CCDirector*, CCKeyValueChange)> callback;
    };
    std::vector<PausedObserver> _pausedObservers;
};

class CCDirectorIOS : public CCDirector {
public:
    CCDirectorIOS();
    ~CCDirectorIOS() override;
    // Content scale 1, makes the touch dispatcher, remembers the calling thread.
    bool init() override;

    void drawScene() override;
    void setViewport() override;
    void setProjection(ccDirectorProjection projection) override;
    // Pushes the scene and draws it at once on the running thread, unless a frame or a scene's
    // exit calls are under way there (asked for from a scene's callback): a frame then switches.
    void runWithScene(CCScene* scene) override;
    CCTouchDispatcher* touchDispatcher() const override;
    void setTouchDispatcher(CCTouchDispatcher* dispatcher) override;
    // The process-wide content scale factor.
    float contentScaleFactor() const;
    void setContentScaleFactor(double scaleFactor);
    void updateContentScaleFactor();
    // True when the content scale could be set to 2 (or back to 1). A view laid out before takes
    // the new scale up at the next frame.
    bool enableRetinaDisplay(bool enable);
    void reshapeProjection(CGSize newWindowSize) override;
    CGPoint convertToGL(CGPoint uiPoint) const override;
    CGPoint convertTouchToGL(const platform::Touch* touch) const;
    CGPoint convertToUI(CGPoint glPoint) const override;
    void end() override;
    void setView(CCGLView* view) override;

    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void didReceiveMemoryWarning() override;
    void viewDidLoad() override;
    void viewDidUnload() override;
    void getFPSImageData(const unsigned char** data, std::uint64_t* length) override;

protected:
    bool _isContentScaleSupported = false;
    // A frame went undrawn because another thread holds the view's context: told once, until a
    // frame draws again.
    bool _toldUndrawn = false;
    platform::Ref<CCTouchDispatcher> _touchDispatcher;
    // A frame is being drawn: a scene run from its callbacks switches in it or the next one.
    bool _drawingFrame = false;
    // The content scale changed for a view laid out at another: the next frame lays it out. The
    // frame reads this rather than the view's own layout state, which a thread laying the view
    // out may be writing.
    std::atomic<bool> _layoutForScale{false};
    // The size the view was last laid out at on another thread, for the next frame to take up.
    std::mutex _reshapeMutex;
    CGSize _pendingReshape{};
    std::atomic<bool> _reshapePending{false};
    // The view as setView last set it, for the reshape hook on a thread that lays a view out
    // (the view field itself is the drawing thread's).
    std::atomic<const CCGLView*> _viewForLayout{nullptr};
};

class CCDirectorDisplayLink : public CCDirectorIOS {
public:
    CCDirectorDisplayLink();
    ~CCDirectorDisplayLink() override;

    // The display link's callback: one frame.
    void mainLoop(platform::DisplayLink* displayLink);
    void setAnimationInterval(double interval) override;
    void startAnimation() override;
    void stopAnimation() override;
    void calculateDeltaTime() override;
    // Runs the display link on the calling thread's run loop (nothing calls it by itself).
    void threadMainLoop();

    // The display link while animating, else null.
    platform::DisplayLink* displayLink() const { return _displayLink.get(); }

protected:
    platform::Ref<platform::DisplayLink> _displayLink;
    double _lastDisplayTime = 0; // the display link's timestamp of the previous frame, seconds
};
