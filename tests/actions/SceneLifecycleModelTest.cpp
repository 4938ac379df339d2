// The director's scene lifecycle checked against the game's own model of its stack: seeded
// random sequences of scene changes, asked for between frames and from every callback a game
// has, with plain scenes, every transition kind and transitions of transitions, and throws from
// those callbacks that the game catches. What the director holds is worked out from the model
// alone; after every frame each scene must hear what the model says of it, the top scene must
// update once a frame and show, and no tap may reach a layer while a transition runs.
#include "actions/CCActionGrid3D.h"
#include "actions/CCActionInstant.h"
#include "actions/CCActionInterval.h"
#include "actions/CCActionTransform.h"
#include "actions/CCActionManager.h"
#include "actions/CCGrid.h"
#include "actions/CCTransition.h"
#include "actions/CCTransitionFade.h"
#include "actions/CCTransitionPageTurn.h"
#include "actions/CCTransitionProgress.h"
#include "actions/CCTransitionTiles.h"
#include "core/CCCamera.h"
#include "core/CCDirector.h"
#include "core/CCLayer.h"
#include "core/CCScene.h"
#include "core/CCScheduler.h"
#include "core/CCTouchDispatcher.h"
#include "graphics/CCTextureCache.h"
#include "platform/Touch.h"
#include "tests/support/EngineTestSupport.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <exception>
#include <functional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using platform::Ref;

namespace {

constexpr std::int64_t kWorkTag = 7;

// Where a game asks for a change.
enum Call { kEnter, kEnterDone, kExitStart, kExit, kCleanup, kUpdate, kTimer, kCallAction, kTouch, kCalls };
const char* const kCallNames[kCalls] = {"enter",  "enterDone", "exitStart", "exit", "cleanup",
                                        "update", "timer",     "call",      "touch"};

class WorkScene;

// What a game throws from its callbacks, and catches around the frame or around its own call.
struct GameThrow : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The scene's full-window colour, which takes touches one by one.
class TouchLayer : public CCLayerColor {
public:
    bool ccTouchBegan(platform::Touch*, platform::Event*) override;
    WorkScene* owner = nullptr;
};

// A game's scene: its work is a scheduled update, a timer, a call at the end of a repeated
// sequence and an action on a child. It records what breaks its lifecycle, logs its calls and
// runs the scene changes it is given from any of them.
class WorkScene : public CCScene {
public:
    void setUp(std::string sceneName, _ccColor3B sceneColor, std::ostringstream* sceneLog) {
        name = std::move(sceneName);
        color = sceneColor;
        log = sceneLog;
        layer_ = platform::make<TouchLayer>();
        layer_->initWithColor({color.r, color.g, color.b, 255});
        layer_->owner = this;
        layer_->setTouchMode(kCCTouchesOneByOne);
        layer_->setTouchEnabled(true);
        addChild(layer_.get());
        child_ = CCNode::node();
        addChild(child_.get());
    }
    // Handed over (anew): the work a cleanup took off is given again.
    void giveWork() {
        while (getActionByTag(kWorkTag))
            stopActionByTag(kWorkTag);
        while (child_->getActionByTag(kWorkTag))
            child_->stopActionByTag(kWorkTag);
        scheduleUpdate();
        schedule(fl_selector(WorkScene::tick), 0.05);
        // The scene's own action leaves it at rest, where the checks expect it.
        auto call = CCRepeatForever::actionWithAction(
            CCSequence::actionOne(CCDelayTime::actionWithDuration(0.04).get(),
                                  CCCallFunc::actionWithTarget(this, fl_selector(WorkScene::called)).get())
                .get());
        auto spin = CCRepeatForever::actionWithAction(CCRotateBy::actionWithDuration(1, 90).get());
        call->setTag(kWorkTag);
        spin->setTag(kWorkTag);
        runAction(call.get());
        child_->runAction(spin.get());
        cleanups = 0;
        takenBack = false;
    }
    bool hasWork() {
        return getActionByTag(kWorkTag) != nullptr && child_->getActionByTag(kWorkTag) != nullptr;
    }
    const CCCamera* cameraIfMade() const { return _camera.get(); }

    void onEnter() override {
        if (isRunning()) fault("entered while running");
        if (cleanups > 0 && !takenBack) fault("entered after its cleanup without being handed over again");
        // Taken back by a transition after its cleanup, it is handed over anew as it enters.
        if (cleanups > 0) giveWork();
        note("enter");
        ++enters;
        CCScene::onEnter();
        runAsks(kEnter);
    }
    void onEnterTransitionDidFinish() override {
        note("enterDone");
        CCScene::onEnterTransitionDidFinish();
        runAsks(kEnterDone);
    }
    void onExitTransitionDidStart() override {
        note("exitStart");
        CCScene::onExitTransitionDidStart();
        runAsks(kExitStart);
    }
    void onExit() override {
        if (!isRunning()) fault("exited while not running");
        note("exit");
        ++exits;
        CCScene::onExit();
        runAsks(kExit);
    }
    void cleanup() override {
        if (isRunning()) fault("cleaned up while running");
        note("cleanup");
        ++cleanups;
        CCScene::cleanup();
        runAsks(kCleanup);
    }
    void update(double) override {
        ++updates;
        runAsks(kUpdate);
    }
    void tick(double) { runAsks(kTimer); }
    // The test's own taps only count; a game's tap runs what it was asked to.
    void tapped() {
        if (probing)
            ++taps;
        else
            runAsks(kTouch);
    }
    ~WorkScene() override {
        if (freed) freed(this);
    }
    void called() { runAsks(kCallAction); }

    void runAsks(Call call) {
        auto now = std::move(asks[call]);
        asks[call].clear();
        for (auto& ask : now)
            ask();
    }

    std::string name;
    _ccColor3B color{};
    std::vector<std::string> faults;
    int cleanups = 0; // since the scene was last handed over
    // In a transition made after its cleanup: handed over anew if it enters again.
    bool takenBack = false;
    int updates = 0, enters = 0, exits = 0, taps = 0;
    std::array<std::vector<std::function<void()>>, kCalls> asks;
    std::function<void(WorkScene*)> freed;
    static inline bool probing = false;

private:
    void fault(const char* what) { faults.push_back(what); }
    void note(const char* call) {
        if (log) *log << " " << call << " " << name << ",";
    }

    std::ostringstream* log = nullptr;
    Ref<TouchLayer> layer_;
    Ref<CCNode> child_;
};

bool TouchLayer::ccTouchBegan(platform::Touch*, platform::Event*) {
    if (owner) owner->tapped();
    return true;
}

// Joins the parts as text (gcc 12 warns wrongly of a string built from a literal with +).
template <class... Parts> std::string say(const Parts&... parts) {
    std::ostringstream out;
    (out << ... << parts);
    return out.str();
}

using MakeTransition = std::function<Ref<CCTransitionScene>(CCScene*, double)>;

struct Kind {
    const char* name;
    MakeTransition make;
};

template <class K, class... Extra> Kind kind(const char* name, Extra... extra) {
    return {name, [=](CCScene* s, double duration) {
                return Ref<CCTransitionScene>(K::transitionWithDuration(duration, s, extra...));
            }};
}

// Every transition kind there is.
const std::vector<Kind>& kinds() {
    static const std::vector<Kind> all = {
        kind<CCTransitionFade>("Fade"),
        kind<CCTransitionCrossFade>("CrossFade"),
        kind<CCTransitionRotoZoom>("RotoZoom"),
        kind<CCTransitionJumpZoom>("JumpZoom"),
        kind<CCTransitionMoveInL>("MoveInL"),
        kind<CCTransitionMoveInR>("MoveInR"),
        kind<CCTransitionMoveInT>("MoveInT"),
        kind<CCTransitionMoveInB>("MoveInB"),
        kind<CCTransitionSlideInL>("SlideInL"),
        kind<CCTransitionSlideInR>("SlideInR"),
        kind<CCTransitionSlideInT>("SlideInT"),
        kind<CCTransitionSlideInB>("SlideInB"),
        kind<CCTransitionShrinkGrow>("ShrinkGrow"),
        kind<CCTransitionFlipX>("FlipX", std::int32_t{0}),
        kind<CCTransitionFlipY>("FlipY", std::int32_t{1}),
        kind<CCTransitionFlipAngular>("FlipAngular", std::int32_t{0}),
        kind<CCTransitionZoomFlipX>("ZoomFlipX", std::int32_t{1}),
        kind<CCTransitionZoomFlipY>("ZoomFlipY", std::int32_t{0}),
        kind<CCTransitionZoomFlipAngular>("ZoomFlipAngular", std::int32_t{1}),
        kind<CCTransitionPageTurn>("PageTurn", false),
        kind<CCTransitionPageTurn>("PageTurnBack", true),
        kind<CCTransitionProgress>("Progress"),
        kind<CCTransitionProgressRadialCCW>("RadialCCW"),
        kind<CCTransitionProgressRadialCW>("RadialCW"),
        kind<CCTransitionProgressHorizontal>("ProgressHorizontal"),
        kind<CCTransitionProgressVertical>("ProgressVertical"),
        kind<CCTransitionProgressInOut>("ProgressInOut"),
        kind<CCTransitionProgressOutIn>("ProgressOutIn"),
        kind<CCTransitionTurnOffTiles>("TurnOffTiles"),
        kind<CCTransitionSplitCols>("SplitCols"),
        kind<CCTransitionSplitRows>("SplitRows"),
        kind<CCTransitionFadeTR>("FadeTR"),
        kind<CCTransitionFadeBL>("FadeBL"),
        kind<CCTransitionFadeUp>("FadeUp"),
        kind<CCTransitionFadeDown>("FadeDown"),
    };
    return all;
}

// The scenes and every transition's two scenes, at any depth.
std::vector<CCScene*> closure(std::vector<CCScene*> scenes) {
    for (std::size_t i = 0; i < scenes.size(); ++i)
        if (auto* t = dynamic_cast<CCTransitionScene*>(scenes[i]))
            for (CCScene* s : {t->outScene(), t->inScene()})
                if (s && std::find(scenes.begin(), scenes.end(), s) == scenes.end()) scenes.push_back(s);
    return scenes;
}

bool contains(const std::vector<CCScene*>& scenes, const CCScene* scene) {
    return std::find(scenes.begin(), scenes.end(), scene) != scenes.end();
}

// The sequences to run: FL_SCENE_MODEL_SEEDS="count" or "first:count" for longer sweeps. The
// sanitizer build is a debug build and runs fewer.
std::pair<unsigned, unsigned> seedRange() {
#ifdef NDEBUG
    unsigned first = 1, count = 1000;
#else
    unsigned first = 1, count = 500;
#endif
    if (const char* env = std::getenv("FL_SCENE_MODEL_SEEDS")) {
        std::string s = env;
        std::size_t colon = s.find(':');
        if (colon != std::string::npos) {
            first = static_cast<unsigned>(std::stoul(s.substr(0, colon)));
            s = s.substr(colon + 1);
        }
        count = static_cast<unsigned>(std::stoul(s));
    }
    return {first, count};
}

// Counts the scheduler's ticks: a scene shown throughout updates once in each.
class Ticks : public CCNode {
public:
    void update(double) override { ++count; }
    int count = 0;
};

class SceneLifecycleModelTest : public fltest::EngineGLTest {
protected:
    CGSize viewSize() const override { return CGSizeMake(32, 32); }

    // One sequence of `frames` frames; empty when every rule held, else what broke, with the
    // operations and calls that led there.
    std::string play(unsigned seed, int frames) {
        rng_.seed(seed);
        // The tile transitions draw their order from the C library's generator.
        std::srand(seed);
        log_.str("");
        fault_.clear();
        guarded([] { CCDirector::purgeSharedDirector(); });
        // Every sequence ends with a purge; the programs and the texture cache (with its loading
        // context) are kept, so that a thousand sequences do not make them a thousand times (the
        // test's tear-down purges them).
        CCTextureCache::sharedTextureCache();
        CCDirector::setPurgeHook(CCDirectorPurge::ShaderCache, [] {});
        CCDirector::setPurgeHook(CCDirectorPurge::TextureCache, [] {});
        paused_ = stopped_ = threw_ = false;
        freedScenes_ = 0;
        ticks_ = platform::make<Ticks>();
        runAgain();

        for (int frame = 0; frame < frames && fault_.empty(); ++frame) {
            log_ << "\n  frame " << frame << ":";
            if (ended_) runAgain();
            if (pick(10) == 0) togglePause();
            if (pick(12) == 0) toggleAnimation();
            int changes = 1 + pick(3);
            for (int i = 0; i < changes && !ended_; ++i)
                askForAChange();
            step();
        }
        // Whatever still runs plays out: every transition on the stack must finish as it is
        // shown again, and each scene on it must then run with its work and take a tap.
        if (fault_.empty() && !ended_) {
            log_ << "\n  play out:";
            dropAsks();
            if (paused_) togglePause();
            if (stopped_) toggleAnimation();
            settle();
            while (fault_.empty() && model_.size() > 1) {
                log_ << "\n  pop:";
                model_.pop_back();
                guarded([this] { director()->popScene(); });
                settle();
            }
        }
        dropAsks();
        log_ << "\n  purge:";
        model_.clear();
        guarded([] { CCDirector::purgeSharedDirector(); });
        if (fault_.empty()) fault_ = checkAllLetGo();
        // What the test holds goes; the scenes are judged no more.
        tearingDown_ = true;
        transitions_.clear();
        kept_.clear();
        for (WorkScene* s : scenes_)
            s->freed = nullptr;
        scenes_.clear();
        tearingDown_ = false;
        ticks_ = nullptr;
        if (fault_.empty()) return "";
        return say("seed ", seed, ": ", fault_, "\n sequence:", log_.str());
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    template <class T> T* pickFrom(const std::vector<T*>& from) {
        return from.empty() ? nullptr : from[static_cast<std::size_t>(pick(static_cast<int>(from.size())))];
    }

    // A call of the game's: a throw of its own callbacks is caught here, anything else is a fault.
    template <class F> void guarded(F call) {
        try {
            call();
        } catch (const GameThrow&) {
            threw_ = true;
            log_ << " (caught)";
        } catch (const std::exception& e) {
            if (fault_.empty()) fault_ = say("the director threw: ", e.what());
        }
    }

    // A new run: the view set again, as after an end, and a scene run.
    void runAgain() {
        ended_ = false;
        director()->setView(view());
        director()->scheduler()->scheduleUpdateForTarget(ticks_.get(), -1000, false);
        Ref<WorkScene> s = sceneToHandOver();
        log_ << " run " << s->name;
        model_.assign(1, s.get());
        stopped_ = false;
        shown_ = nullptr;
        guarded([&] { director()->runWithScene(s.get()); });
        director()->startAnimation();
    }

    void togglePause() {
        paused_ = !paused_;
        log_ << (paused_ ? " pause" : " resume");
        if (paused_)
            director()->pause();
        else
            director()->resume();
    }
    void toggleAnimation() {
        stopped_ = !stopped_;
        log_ << (stopped_ ? " stopAnimation" : " startAnimation");
        if (stopped_)
            director()->stopAnimation();
        else
            director()->startAnimation();
    }

    // Moves on to the next frame the display link draws (none while the animation stops), then
    // checks. A frame that throws is caught, and the next refresh draws again.
    void step() {
        std::uint64_t before = director()->totalFrames();
        for (int i = 0; i < 16 && !stopped_ && director()->totalFrames() == before; ++i)
            guarded([this] { advanceRefreshes(1); });
        if (stopped_) guarded([this] { advanceRefreshes(1); });
        if (fault_.empty()) fault_ = check(director()->totalFrames() != before);
    }
    // Frames until a plain scene shows with no change pending, checking each; it then takes a tap.
    void settle() {
        for (int frame = 0; frame < 40 && fault_.empty(); ++frame) {
            step();
            CCDirector* d = director();
            if (asWork(d->runningScene()) && !d->nextScene() && frame > 0) {
                if (fault_.empty() && tap() != std::vector<WorkScene*>{asWork(d->runningScene())})
                    fault_ =
                        say("a tap does not reach ", nameOf(d->runningScene()), " alone once it settled");
                return;
            }
        }
        if (fault_.empty()) fault_ = say("still on ", nameOf(director()->runningScene()), " after 40 frames");
    }

    // Half the scenes the game keeps itself; the director alone holds the others once handed over.
    Ref<WorkScene> freshScene() {
        auto s = platform::make<WorkScene>();
        s->init();
        auto i = static_cast<unsigned>(scenes_.size() + freedScenes_);
        s->setUp(say("S", i),
                 {static_cast<std::uint8_t>(60 + i * 53 % 190), static_cast<std::uint8_t>(40 + i * 97 % 210),
                  static_cast<std::uint8_t>(90 + i * 29 % 160)},
                 &log_);
        s->freed = [this](WorkScene* w) { freed(w); };
        scenes_.push_back(s.get());
        if (pick(2) == 0) kept_.push_back(s);
        return s;
    }
    // A scene goes: only once it was let go for good, and never while it runs.
    void freed(WorkScene* w) {
        ++freedScenes_;
        std::erase(scenes_, w);
        if (shown_ == w) shown_ = nullptr;
        if (lastHandedOver_ == w) lastHandedOver_ = nullptr;
        if (tearingDown_ || !fault_.empty()) return;
        if (!w->faults.empty())
            fault_ = w->name + " " + w->faults.front();
        else if (w->isRunning())
            fault_ = w->name + " went while it runs";
        else if (contains(model_, w))
            fault_ = w->name + " went while the stack holds it";
        else if (w->cleanups != 1)
            fault_ = say(w->name, " went after ", w->cleanups, " cleanups");
    }
    WorkScene* asWork(CCScene* s) const {
        for (WorkScene* w : scenes_)
            if (w == s) return w;
        return nullptr;
    }
    std::string nameOf(CCScene* s) const {
        if (WorkScene* w = asWork(s)) return w->name;
        for (const auto& [t, kindName] : transitions_)
            if (t.get() == s) return say(kindName, "(", nameOf(t->inScene()), ")");
        return s ? "?" : "none";
    }
    // What the model says the director holds: its stack, through every transition's scenes.
    std::vector<CCScene*> held() const { return closure(model_); }

    // A scene to hand over: a new one, or one the director let go of, given its work again.
    Ref<WorkScene> sceneToHandOver() {
        std::vector<CCScene*> holds = held();
        std::vector<WorkScene*> free;
        for (WorkScene* s : scenes_)
            if (!contains(holds, s) && !s->isRunning() && s->cleanups > 0) free.push_back(s);
        Ref<WorkScene> s = !free.empty() && pick(2) == 0 ? Ref<WorkScene>(pickFrom(free)) : freshScene();
        s->giveWork();
        return s;
    }

    // The scene a game's running code belongs to: the running scene, or what a running
    // transition brings in.
    WorkScene* shownWork() const {
        CCScene* s = director()->runningScene();
        while (auto* t = dynamic_cast<CCTransitionScene*>(s))
            s = t->inScene();
        return asWork(s);
    }
    // The scenes running transitions take the stage from.
    std::vector<WorkScene*> outgoingWork() const {
        std::vector<WorkScene*> outgoing;
        for (CCScene* s : closure({director()->runningScene()}))
            if (auto* t = dynamic_cast<CCTransitionScene*>(s); t && t->isRunning())
                if (WorkScene* w = asWork(t->outScene())) outgoing.push_back(w);
        return outgoing;
    }

    // Queues one change, or a throw, from a callback of a scene about to hear it; or asks for a
    // change now.
    void askForAChange() {
        int op = pick(15);
        int at = pick(14);
        if (at >= kCalls) {
            makeChange(op, nullptr);
            return;
        }
        auto call = static_cast<Call>(at);
        std::vector<WorkScene*> outgoing = outgoingWork();
        WorkScene* scene = nullptr;
        if (call >= kUpdate)
            scene = shownWork();
        else if (call <= kEnterDone)
            scene = pick(2) == 0 && lastHandedOver_ ? lastHandedOver_ : pickFrom(scenes_);
        else if (call <= kCleanup && !outgoing.empty() && pick(2) == 0)
            scene = pickFrom(outgoing);
        else
            scene = pick(2) == 0 && shownWork() ? shownWork() : pickFrom(scenes_);
        if (!scene) {
            makeChange(op, nullptr);
            return;
        }
        // The asks go with the scene, so it outlives them.
        auto change = [this, op, scene] { makeChange(op, scene); };
        if (pick(4) == 0) {
            log_ << " [throw from " << kCallNames[call] << " of " << scene->name << "]";
            std::string what = say(kCallNames[call], " of ", scene->name);
            scene->asks[call].push_back([what] { throw GameThrow(what); });
        } else {
            log_ << " [" << kCallNames[call] << " of " << scene->name << "]";
            scene->asks[call].push_back(change);
        }
        if (call == kTouch) guarded([this] { touch(); });
    }

    // A tap on the screen, through the director's touch dispatcher.
    void touch() {
        auto t = platform::make<platform::Touch>(nullptr, CGPoint{16, 16}, 0.0);
        auto event = platform::make<platform::Event>();
        platform::TouchSet set{t.get()};
        director()->touchDispatcher()->touchesBegan(set, event.get());
        director()->touchDispatcher()->touchesEnded(set, event.get());
    }
    // The test's own tap: the scenes whose layers it reached.
    std::vector<WorkScene*> tap() {
        for (WorkScene* s : scenes_)
            s->taps = 0;
        WorkScene::probing = true;
        touch();
        WorkScene::probing = false;
        std::vector<WorkScene*> reached;
        for (WorkScene* s : scenes_)
            if (s->taps > 0) reached.push_back(s);
        return reached;
    }

    // The transition or transition of a transition to bring the scene in, or the scene itself.
    CCScene* maybeTransition(CCScene* s) {
        CCScene* running = director()->runningScene();
        if (pick(3) == 0 || !running || s == running) return s;
        int depth = pick(4) == 0 ? 2 : 1;
        CCScene* in = s;
        for (int i = 0; i < depth; ++i) {
            const Kind& k = kinds()[static_cast<std::size_t>(pick(static_cast<int>(kinds().size())))];
            Ref<CCTransitionScene> t = k.make(in, i == 0 ? 0.1 : 0.15);
            if (!t) break;
            log_ << (i == 0 ? " by " : " in ") << k.name;
            transitions_.emplace_back(t, k.name);
            in = t.get();
        }
        // A scene the transition takes back after its cleanup is handed over anew if it enters.
        for (CCScene* s2 : closure({in}))
            if (WorkScene* w = asWork(s2); w && w != s && w->cleanups > 0 && !w->isRunning()) {
                log_ << " (" << w->name << " taken back)";
                w->takenBack = true;
            }
        return in;
    }

    // A scene to hand over: one the stack holds already (pushed twice, or a replace with a
    // scene lower down), one the director holds handed over again as it is, or one from
    // sceneToHandOver. Held until the director has it.
    Ref<CCScene> handOver(const char* how, WorkScene* caller) {
        std::vector<WorkScene*> onStack;
        for (CCScene* s : model_)
            if (WorkScene* w = asWork(s)) onStack.push_back(w);
        int way = pick(8);
        if (way == 0 && !onStack.empty()) {
            WorkScene* s = pickFrom(onStack);
            lastHandedOver_ = s;
            log_ << " " << how << " " << s->name;
            return Ref<CCScene>(maybeTransition(s));
        }
        if (way <= 2) {
            if (Ref<CCScene> again = heldToHandOverAgain(caller)) {
                log_ << " " << how << " again " << nameOf(again.get());
                return again;
            }
        }
        Ref<WorkScene> s = sceneToHandOver();
        lastHandedOver_ = s.get();
        log_ << " " << how << " " << s->name;
        return Ref<CCScene>(maybeTransition(s.get()));
    }

    // A scene the director holds, or the one whose callback asks: the running scene (a
    // transition, say), a transition inside it, a scene on the stack, or a scene being left.
    // The game gives the scene it leads to new work once that was cleaned up; a scene the
    // transitions take back after its cleanup is handed over anew if it enters.
    Ref<CCScene> heldToHandOverAgain(WorkScene* caller) {
        std::vector<CCScene*> held;
        for (CCScene* s : closure({director()->runningScene()}))
            if (s && (s == director()->runningScene() || s->isTransitionScene())) held.push_back(s);
        for (CCScene* s : model_)
            held.push_back(s);
        if (caller) held.push_back(caller);
        CCScene* again = pickFrom(held);
        if (!again) return nullptr;
        CCScene* leadsTo = again;
        while (auto* t = dynamic_cast<CCTransitionScene*>(leadsTo))
            leadsTo = t->inScene();
        WorkScene* incoming = asWork(leadsTo);
        if (incoming && incoming->cleanups > 0) incoming->giveWork();
        for (CCScene* s : closure({again}))
            if (WorkScene* w = asWork(s); w && w != incoming && w->cleanups > 0 && !w->isRunning())
                w->takenBack = true;
        return Ref<CCScene>(again);
    }

    // Does one change at the director and the same to the model of its stack. Changes asked for
    // while the director ends are dropped.
    void makeChange(int op, WorkScene* caller) {
        if (ended_ && !ending_) return;
        CCDirector* d = director();
        guarded([&] {
            if (op < 4) {
                Ref<CCScene> s = handOver("replace", caller);
                if (!ending_) model_.back() = s.get();
                d->replaceScene(s.get());
            } else if (op < 8) {
                Ref<CCScene> s = handOver("push", caller);
                if (!ending_) model_.push_back(s.get());
                d->pushScene(s.get());
            } else if (op < 10) {
                log_ << " pop";
                if (!ending_ && model_.size() == 1) return endBy([d] { d->popScene(); });
                if (!ending_) model_.pop_back();
                d->popScene();
            } else if (op < 13) {
                const std::uint64_t levels[] = {
                    0,
                    1,
                    1 + static_cast<std::uint64_t>(pick(static_cast<int>(model_.size()) + 1)),
                    model_.size(),
                    model_.size() + 1,
                    static_cast<std::uint64_t>(-1)};
                std::uint64_t level = levels[pick(6)];
                if (level == static_cast<std::uint64_t>(-1))
                    log_ << " popTo -1";
                else
                    log_ << " popTo " << level;
                if (!ending_ && level == 0) return endBy([d] { d->popToSceneStackLevel(0); });
                if (!ending_ && level < model_.size()) model_.resize(level);
                d->popToSceneStackLevel(level);
            } else if (op == 13) {
                if (pick(3) != 0) return;
                log_ << " end";
                endBy([d] { d->end(); });
            } else {
                // Pushed, and drawn at once unless a frame is under way.
                Ref<CCScene> s = handOver("runWithScene", caller);
                if (!ending_) model_.push_back(s.get());
                d->runWithScene(s.get());
            }
        });
    }
    // An end asked for by the game; one asked for while the director ends is dropped. Ended
    // also when a scene's callback throws from it.
    template <class F> void endBy(F ending) {
        if (ending_) {
            ending();
            return;
        }
        ending_ = true;
        model_.clear();
        struct Ended {
            SceneLifecycleModelTest& test;
            ~Ended() {
                test.ending_ = false;
                test.ended_ = true;
                test.log_ << " (ended)";
            }
        } ended{*this};
        ending();
    }

    void dropAsks() {
        lastHandedOver_ = nullptr;
        for (WorkScene* s : scenes_)
            for (auto& asks : s->asks)
                asks.clear();
    }

    // After a frame: the stack is the model's, every scene hears what the model says of it, and
    // while a transition runs no tap reaches a layer.
    std::string check(bool drawn) {
        CCDirector* d = director();
        if (ended_)
            return d->scenesStack().empty() && !d->runningScene() && !d->nextScene()
                       ? checkLetGo({})
                       : "the director holds scenes after its end";
        for (const auto& [t, kindName] : transitions_)
            if (t->isRunning()) {
                if (std::vector<WorkScene*> reached = tap(); !reached.empty())
                    return say("a tap reached ", reached.front()->name, " while ", nameOf(t.get()), " runs");
                break;
            }
        // A transition that finished has put its incoming scene in its place.
        const auto& stack = d->scenesStack();
        if (stack.size() != model_.size())
            return say("the stack holds ", stack.size(), " scenes, not ", model_.size());
        for (std::size_t i = 0; i < stack.size(); ++i) {
            for (CCScene* s = model_[i]; stack[i].get() != model_[i] && s;) {
                auto* t = dynamic_cast<CCTransitionScene*>(s);
                s = t ? t->inScene() : nullptr;
                if (s == stack[i].get()) model_[i] = s;
            }
            if (stack[i].get() != model_[i])
                return say("stack entry ", i, " is ", nameOf(stack[i].get()), ", not ", nameOf(model_[i]));
        }
        // With a change still to come, the running scene shows until the next frame.
        std::vector<CCScene*> limbo;
        if (d->nextScene()) limbo = closure({d->runningScene()});
        if (std::string fault = checkLetGo(limbo); !fault.empty()) return fault;

        // The updates are counted only between two drawn frames that show the same scene.
        WorkScene* shownBefore = shown_;
        shown_ = nullptr;
        CCScene* running = d->runningScene();
        std::vector<CCScene*> shown = closure({running});
        for (WorkScene* s : scenes_)
            if (s->isRunning() && !contains(shown, s)) return s->name + " runs yet does not show";
        if (d->nextScene()) return "";
        if (running != model_.back()) return say(nameOf(running), " shows, not ", nameOf(model_.back()));
        WorkScene* w = asWork(running);
        if (!w) return "";
        if (!w->isRunning()) return w->name + " shows but does not run";
        if (std::string off = offRest(w); !off.empty())
            return say(w->name, " shows but is not at rest: ", off);
        if (!drawn) return "";
        // Once in each tick of the scheduler; a tick a callback threw from may have ended early.
        int updates = w->updates - shownUpdates_, ticks = ticks_->count - shownTicks_;
        if (w == shownBefore && w->enters == shownEnters_ &&
            (updates > ticks || (!threw_ && updates != ticks)))
            return say(w->name, " updated ", updates, " times in ", ticks, " ticks");
        shown_ = w;
        shownEnters_ = w->enters;
        shownUpdates_ = w->updates;
        shownTicks_ = ticks_->count;
        threw_ = false;
        std::uint32_t pixel = presentedPixel(16, 16);
        auto near = [](std::uint32_t a, std::uint8_t b) { return a + 2 >= b && a <= b + 2u; };
        if (!near(pixel >> 24, w->color.r) || !near(pixel >> 16 & 0xff, w->color.g) ||
            !near(pixel >> 8 & 0xff, w->color.b))
            return say(w->name, " shows but the frame is 0x", std::hex, pixel);
        return "";
    }

    // What keeps a shown scene from being visible and at rest, if anything: its own transform,
    // its camera or its grid.
    static std::string offRest(WorkScene* w) {
        const CCCamera* camera = w->cameraIfMade();
        float eye[3] = {0, 0, CCCamera::getZEye()}, centre[3] = {}, up[3] = {0, 1, 0};
        if (camera) {
            camera->eyeX(&eye[0], &eye[1], &eye[2]);
            camera->centerX(&centre[0], &centre[1], &centre[2]);
            camera->upX(&up[0], &up[1], &up[2]);
        }
        if (!w->visible()) return "hidden";
        if (w->position().x != 0 || w->position().y != 0)
            return say("at (", w->position().x, ", ", w->position().y, ")");
        if (w->scaleX() != 1 || w->scaleY() != 1) return say("scaled ", w->scaleX(), " x ", w->scaleY());
        if (w->rotationX() != 0 || w->rotationY() != 0) return say("turned ", w->rotationX());
        if (eye[0] != 0 || eye[1] != 0 || eye[2] != CCCamera::getZEye() || centre[0] != 0 || centre[1] != 0 ||
            centre[2] != 0 || up[0] != 0 || up[1] != 1 || up[2] != 0)
            return say("its camera at eye (", eye[0], ", ", eye[1], ", ", eye[2], ") centre (", centre[0],
                       ", ", centre[1], ", ", centre[2], ") up (", up[0], ", ", up[1], ", ", up[2], ")");
        if (w->grid() && w->grid()->active()) return "its grid active";
        return "";
    }

    // Every scene the model holds keeps its work; every other one has been let go: not running
    // and cleaned up once, unless it is still shown until the next frame.
    std::string checkLetGo(const std::vector<CCScene*>& limbo) {
        std::vector<CCScene*> holds = held();
        for (WorkScene* s : scenes_) {
            if (!s->faults.empty()) return s->name + " " + s->faults.front();
            // A scene shown until the next frame may run on or have been let go already.
            bool shownOn = contains(limbo, s) && (s->isRunning() || s->cleanups == 0);
            if (contains(holds, s) || shownOn) {
                if (s->cleanups > 0 && s->takenBack && !s->isRunning()) continue; // to enter anew
                if (s->cleanups > 0) return s->name + " is held yet was cleaned up";
                if (!s->hasWork()) return s->name + " is held yet lost its work";
            } else {
                if (s->isRunning()) return s->name + " was let go yet runs";
                if (s->cleanups != 1)
                    return say(s->name, " was let go and cleaned up ", s->cleanups, " times");
            }
        }
        return "";
    }

    // After the purge every scene has been let go once, and nothing but the test holds it.
    std::string checkAllLetGo() {
        // Held by the test, and by the transitions the test holds.
        auto ownedByTest = [this](const CCScene* scene) {
            std::uint64_t owners = 0;
            for (const Ref<WorkScene>& s : kept_)
                owners += s.get() == scene;
            for (const auto& [t, kindName] : transitions_)
                owners += (t->outScene() == scene) + (t->inScene() == scene);
            return owners;
        };
        for (const auto& [t, kindName] : transitions_)
            if (t->retainCount() != ownedByTest(t.get()) + 1)
                return nameOf(t.get()) + " is still held after the purge";
        for (WorkScene* s : scenes_) {
            if (!s->faults.empty()) return s->name + " " + s->faults.front();
            if (s->isRunning()) return s->name + " still runs after the purge";
            if (s->cleanups != 1) return say(s->name, " cleaned up ", s->cleanups, " times by the purge");
            if (s->retainCount() != ownedByTest(s)) return s->name + " is still held after the purge";
        }
        return "";
    }

    std::mt19937 rng_;
    std::ostringstream log_;
    std::string fault_;
    // The scenes alive, and those the game keeps itself.
    std::vector<WorkScene*> scenes_;
    std::vector<Ref<WorkScene>> kept_;
    int freedScenes_ = 0;
    bool tearingDown_ = false;
    std::vector<std::pair<Ref<CCTransitionScene>, const char*>> transitions_;
    std::vector<CCScene*> model_;
    WorkScene* lastHandedOver_ = nullptr;
    Ref<Ticks> ticks_;
    // The scene shown at the last drawn frame, with its counts then.
    WorkScene* shown_ = nullptr;
    int shownEnters_ = 0, shownUpdates_ = 0, shownTicks_ = 0;
    bool ending_ = false, ended_ = false, paused_ = false, stopped_ = false;
    // A callback threw since the last drawn frame was checked.
    bool threw_ = false;
};

} // namespace

TEST_F(SceneLifecycleModelTest, EveryScenesCallsFollowFromTheStackWhateverChangesAFrameAsksFor) {
    auto [first, count] = seedRange();
    // Every seed runs; the first failures are shown whole, the others by their first line.
    int failures = 0;
    for (unsigned seed = first; seed < first + count; ++seed) {
        std::string fault = play(seed, 12);
        if (fault.empty()) continue;
        ++failures;
        EXPECT_TRUE(fault.empty()) << (failures <= 3 ? fault : fault.substr(0, fault.find('\n')));
    }
}

TEST_F(SceneLifecycleModelTest, ATransitionLetGoLeavesTheGamesOwnGridEffect) {
    auto a = platform::make<WorkScene>(), b = platform::make<WorkScene>();
    a->init();
    b->init();
    director()->runWithScene(a.get());
    director()->startAnimation();
    a->runAction(CCWaves3D::actionWithDuration(60, CGSizeMake(4, 4), 5, 10).get());
    advanceRefreshes(2);
    // Replaced midway, then replaced back: the waves run on, and so does their grid.
    director()->replaceScene(CCTransitionFade::transitionWithDuration(0.5, b.get()).get());
    advanceRefreshes(10);
    director()->replaceScene(a.get());
    advanceRefreshes(2);
    auto* grid = dynamic_cast<CCGridBase*>(a->grid());
    ASSERT_NE(grid, nullptr);
    EXPECT_TRUE(grid->active());
}
