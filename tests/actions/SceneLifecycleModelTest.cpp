// The director's scene lifecycle checked against a model of its stack: seeded random sequences
// of scene changes, one to three a frame, asked for between frames, from a scene's update and
// from its enter and exit calls, with plain scenes and transitions. After every frame each
// scene must hear what the stack says of it.
#include "actions/CCActionGrid3D.h"
#include "actions/CCActionInterval.h"
#include "actions/CCActionTransform.h"
#include "actions/CCActionManager.h"
#include "actions/CCGrid.h"
#include "actions/CCTransition.h"
#include "actions/CCTransitionFade.h"
#include "actions/CCTransitionPageTurn.h"
#include "actions/CCTransitionTiles.h"
#include "core/CCDirector.h"
#include "core/CCScene.h"
#include "tests/support/EngineTestSupport.h"

#include <algorithm>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using platform::Ref;

namespace {

constexpr std::int64_t kWorkTag = 7;

// A game's scene: its work is a scheduled update, an action on the scene and one on a child.
// It records what breaks the alternation of its enter and exit calls, and runs the scene
// changes it is given from its update, its enter or its exit.
class WorkScene : public CCScene {
public:
    void giveWork() {
        if (!child_) {
            child_ = CCNode::node();
            addChild(child_.get());
        }
        scheduleUpdate();
        // The scene's own action leaves it at rest, where the checks expect it.
        auto wait = CCRepeatForever::actionWithAction(CCDelayTime::actionWithDuration(1).get());
        auto spin = CCRepeatForever::actionWithAction(CCRotateBy::actionWithDuration(1, 90).get());
        wait->setTag(kWorkTag);
        spin->setTag(kWorkTag);
        runAction(wait.get());
        child_->runAction(spin.get());
        cleanups = 0;
    }
    bool hasWork() {
        return getActionByTag(kWorkTag) != nullptr && child_->getActionByTag(kWorkTag) != nullptr;
    }

    void onEnter() override {
        if (isRunning()) faults.push_back("entered while running");
        CCScene::onEnter();
        runAsks(onEnterAsks);
    }
    void onExit() override {
        if (!isRunning()) faults.push_back("exited while not running");
        CCScene::onExit();
        runAsks(onExitAsks);
    }
    void cleanup() override {
        ++cleanups;
        CCScene::cleanup();
    }
    void update(double) override {
        ++updates;
        runAsks(onUpdateAsks);
    }

    std::string name;
    std::vector<std::string> faults;
    int cleanups = 0; // since the scene was last given its work
    int updates = 0;
    std::vector<std::function<void()>> onEnterAsks, onExitAsks, onUpdateAsks;

private:
    static void runAsks(std::vector<std::function<void()>>& asks) {
        auto now = std::move(asks);
        asks.clear();
        for (auto& ask : now)
            ask();
    }
    Ref<CCNode> child_;
};

// Joins the parts as text (gcc 12 warns wrongly of a string built from a literal with +).
template <class... Parts> std::string say(const Parts&... parts) {
    std::ostringstream out;
    (out << ... << parts);
    return out.str();
}

using MakeTransition = std::function<Ref<CCTransitionScene>(CCScene*)>;

struct Kind {
    const char* name;
    MakeTransition make;
};

const std::vector<Kind>& kinds() {
    static const std::vector<Kind> all = {
        {"Fade",
         [](CCScene* s) { return Ref<CCTransitionScene>(CCTransitionFade::transitionWithDuration(0.1, s)); }},
        {"SlideInL",
         [](CCScene* s) {
             return Ref<CCTransitionScene>(CCTransitionSlideInL::transitionWithDuration(0.1, s));
         }},
        {"FlipX",
         [](CCScene* s) {
             return Ref<CCTransitionScene>(
                 CCTransitionFlipX::transitionWithDuration(0.1, s, std::int32_t{0}));
         }},
        {"PageTurn",
         [](CCScene* s) {
             return Ref<CCTransitionScene>(CCTransitionPageTurn::transitionWithDuration(0.1, s, false));
         }},
        {"TurnOffTiles",
         [](CCScene* s) {
             return Ref<CCTransitionScene>(CCTransitionTurnOffTiles::transitionWithDuration(0.1, s));
         }},
    };
    return all;
}

// The scenes the director holds, worked out from what it shows: the stack, the next scene and
// the running one, and through every transition among them its two scenes.
std::vector<CCScene*> heldScenes(CCDirector* d) {
    std::vector<CCScene*> held;
    for (const Ref<CCScene>& s : d->scenesStack())
        held.push_back(s.get());
    if (d->nextScene()) held.push_back(d->nextScene());
    // The running scene until it has been exited (a pop from a callback may let it go early).
    if (d->runningScene() && d->runningScene()->isRunning()) held.push_back(d->runningScene());
    for (std::size_t i = 0; i < held.size(); ++i)
        if (auto* t = dynamic_cast<CCTransitionScene*>(held[i]))
            for (CCScene* s : {t->outScene(), t->inScene()})
                if (s && std::find(held.begin(), held.end(), s) == held.end()) held.push_back(s);
    return held;
}

class SceneLifecycleModelTest : public fltest::EngineGLTest {
protected:
    CGSize viewSize() const override { return CGSizeMake(32, 32); }

    // One sequence of `frames` frames; empty when every rule held, else what broke, with the
    // operations that led there.
    std::string play(unsigned seed, int frames) {
        rng_.seed(seed);
        log_.str("");
        scenes_.clear();
        transitions_.clear();
        model_.clear();
        ended_ = false;
        CCDirector::purgeSharedDirector();
        director()->setView(view());
        // Every sequence ends with a purge; the programs are kept, so that thousands of
        // sequences do not compile them thousands of times (the test's tear-down purges them).
        CCDirector::setPurgeHook(CCDirectorPurge::ShaderCache, [] {});
        director()->runWithScene(give(freshScene()));
        model_.push_back(director()->runningScene());
        director()->startAnimation();

        std::string fault;
        for (int frame = 0; frame < frames && fault.empty() && !ended_; ++frame) {
            log_ << "\n  frame " << frame << ":";
            int changes = 1 + pick(3);
            for (int i = 0; i < changes; ++i)
                askForAChange();
            advanceRefreshes(1);
            fault = check();
        }
        // Whatever still runs plays out: a transition on top must finish, and the scene on top
        // must then run with its work.
        for (int frame = 0; fault.empty() && !ended_ && frame < 40; ++frame) {
            dropAsks();
            advanceRefreshes(1);
            fault = check();
        }
        if (fault.empty() && !ended_) fault = checkSettled();
        dropAsks();
        CCDirector::purgeSharedDirector();
        if (fault.empty()) fault = checkAllLetGo();
        scenes_.clear();
        transitions_.clear();
        model_.clear();
        if (fault.empty()) return "";
        return say("seed ", seed, ": ", fault, "\n sequence:", log_.str());
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    WorkScene* freshScene() {
        auto s = platform::make<WorkScene>();
        s->init();
        s->name = say("S", scenes_.size());
        scenes_.push_back(s);
        return s.get();
    }
    WorkScene* give(WorkScene* s) {
        s->giveWork();
        return s;
    }
    WorkScene* asWork(CCScene* s) const {
        for (const Ref<WorkScene>& w : scenes_)
            if (w.get() == s) return w.get();
        return nullptr;
    }
    std::string nameOf(CCScene* s) const {
        if (WorkScene* w = asWork(s)) return w->name;
        if (auto* t = dynamic_cast<CCTransitionScene*>(s)) return say("T(", nameOf(t->inScene()), ")");
        return s ? "?" : "none";
    }

    // A scene to hand over: a new one, or one the director let go of, given its work again.
    WorkScene* sceneToHandOver() {
        std::vector<CCScene*> held = heldScenes(director());
        std::vector<WorkScene*> free;
        for (const Ref<WorkScene>& s : scenes_)
            if (std::find(held.begin(), held.end(), s.get()) == held.end() && !s->isRunning() &&
                s.get() != director()->runningScene())
                free.push_back(s.get());
        if (!free.empty() && pick(2) == 0)
            return give(free[static_cast<std::size_t>(pick(static_cast<int>(free.size())))]);
        return give(freshScene());
    }

    // Queues one change: asked for now, or from the running scene's update, or from the exit of
    // the running scene, or from the enter of the scene the previous change hands over.
    void askForAChange() {
        int op = pick(12);
        auto change = [this, op] { makeChange(op); };
        CCScene* running = director()->runningScene();
        WorkScene* updater = asWork(running);
        if (!updater)
            if (auto* t = dynamic_cast<CCTransitionScene*>(running)) updater = asWork(t->inScene());
        struct Where {
            const char* call;
            WorkScene* scene;
            std::vector<std::function<void()>> WorkScene::*asks;
        };
        const Where where[] = {{"update", updater, &WorkScene::onUpdateAsks},
                               {"exit", asWork(running), &WorkScene::onExitAsks},
                               {"enter", lastHandedOver_, &WorkScene::onEnterAsks}};
        int at = pick(4); // 3: now
        if (at < 3 && where[at].scene) {
            log_ << " [" << where[at].call << " of " << where[at].scene->name << "]";
            (where[at].scene->*where[at].asks).push_back(change);
            return;
        }
        change();
    }

    // Does one change at the director and the same to the model of its stack.
    void makeChange(int op) {
        if (ended_ || model_.empty()) return;
        CCDirector* d = director();
        auto handOver = [&](const char* how) -> CCScene* {
            WorkScene* s = sceneToHandOver();
            lastHandedOver_ = s;
            log_ << " " << how << " " << s->name;
            // A transition leaves from the running scene; not from one a pop has let go already.
            CCScene* running = d->runningScene();
            if (pick(3) != 0 || !running || !running->isRunning()) return s;
            const Kind& kind = kinds()[static_cast<std::size_t>(pick(static_cast<int>(kinds().size())))];
            Ref<CCTransitionScene> t = kind.make(s);
            log_ << " by " << kind.name;
            transitions_.push_back(t);
            return t.get();
        };
        if (op < 4) {
            CCScene* s = handOver("replace");
            model_.back() = s;
            d->replaceScene(s);
        } else if (op < 8) {
            CCScene* s = handOver("push");
            model_.push_back(s);
            d->pushScene(s);
        } else if (op < 10) {
            log_ << " pop";
            model_.pop_back();
            if (model_.empty()) ended_ = true;
            d->popScene();
        } else if (op < 11) {
            std::uint64_t level = 1 + static_cast<std::uint64_t>(pick(static_cast<int>(model_.size())));
            log_ << " popTo " << level;
            if (level < model_.size()) model_.resize(level);
            d->popToSceneStackLevel(level);
        } else if (pick(4) == 0) {
            log_ << " end";
            ended_ = true;
            model_.clear();
            d->end();
        }
    }

    void dropAsks() {
        lastHandedOver_ = nullptr;
        for (const Ref<WorkScene>& s : scenes_) {
            s->onEnterAsks.clear();
            s->onExitAsks.clear();
            s->onUpdateAsks.clear();
        }
    }

    // After a frame: the stack is the model's, and every scene hears what the stack says of it.
    std::string check() {
        CCDirector* d = director();
        if (ended_)
            return d->scenesStack().empty() && !d->runningScene() ? ""
                                                                  : "the director holds scenes after its end";
        // A transition that finished has put its incoming scene in its place.
        const auto& stack = d->scenesStack();
        if (stack.size() != model_.size())
            return say("the stack holds ", stack.size(), " scenes, not ", model_.size());
        for (std::size_t i = 0; i < stack.size(); ++i) {
            auto* t = dynamic_cast<CCTransitionScene*>(model_[i]);
            if (stack[i].get() != model_[i] && t && stack[i].get() == t->inScene())
                model_[i] = stack[i].get();
            if (stack[i].get() != model_[i])
                return say("stack entry ", i, " is ", nameOf(stack[i].get()), ", not ", nameOf(model_[i]));
        }
        std::vector<CCScene*> held = heldScenes(d);
        for (const Ref<WorkScene>& s : scenes_) {
            if (!s->faults.empty()) return s->name + " " + s->faults.front();
            bool isHeld = std::find(held.begin(), held.end(), s.get()) != held.end();
            if (isHeld && s->cleanups > 0) return s->name + " is held yet was cleaned up";
            if (isHeld && !s->hasWork()) return s->name + " is held yet lost its work";
            if (!isHeld && s->isRunning()) return s->name + " was let go yet runs";
            if (!isHeld && s->cleanups != 1)
                return say(s->name, " was let go and cleaned up ", s->cleanups, " times");
        }
        CCScene* running = d->runningScene();
        if (!d->nextScene() && running != stack.back().get())
            return "the running scene is not the top of the stack";
        if (WorkScene* w = asWork(running); w && !d->nextScene()) {
            if (!w->isRunning()) return w->name + " shows but does not run";
            if (!w->visible() || w->position().x != 0 || w->position().y != 0 || w->scale() != 1 ||
                w->rotation() != 0)
                return w->name + " shows but is not visible and at rest";
        }
        return "";
    }

    // Once everything has played out: the top scene runs, updates and shows.
    std::string checkSettled() {
        CCScene* running = director()->runningScene();
        WorkScene* w = asWork(running);
        if (!w) return say("still on ", nameOf(running), " after 40 frames");
        int before = w->updates;
        advanceRefreshes(2);
        if (w->updates == before) return w->name + " runs on top but its update does not fire";
        return check();
    }

    // After the purge every scene has been let go once, and nothing but the test holds it.
    std::string checkAllLetGo() {
        // Held by the test, and by the transitions the test holds.
        auto ownedByTest = [this](const CCScene* scene) {
            std::uint64_t owners = 1;
            for (const Ref<CCTransitionScene>& t : transitions_)
                owners += (t->outScene() == scene) + (t->inScene() == scene);
            return owners;
        };
        for (const Ref<CCTransitionScene>& t : transitions_)
            if (t->retainCount() != ownedByTest(t.get()))
                return nameOf(t.get()) + " is still held after the purge";
        for (const Ref<WorkScene>& s : scenes_) {
            if (s->isRunning()) return s->name + " still runs after the purge";
            if (s->cleanups != 1) return say(s->name, " cleaned up ", s->cleanups, " times by the purge");
            if (s->retainCount() != ownedByTest(s.get())) return s->name + " is still held after the purge";
        }
        return "";
    }

    std::mt19937 rng_;
    std::ostringstream log_;
    std::vector<Ref<WorkScene>> scenes_;
    std::vector<Ref<CCTransitionScene>> transitions_;
    std::vector<CCScene*> model_;
    WorkScene* lastHandedOver_ = nullptr;
    bool ended_ = false;
};

} // namespace

TEST_F(SceneLifecycleModelTest, EveryScenesCallsFollowFromTheStackWhateverChangesAFrameAsksFor) {
    constexpr unsigned kSequences = 2000;
    for (unsigned seed = 1; seed <= kSequences; ++seed) {
        std::string fault = play(seed, 12);
        ASSERT_TRUE(fault.empty()) << fault;
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
