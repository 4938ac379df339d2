#include "actions/CCAction.h"
#include "actions/CCActionManager.h"
#include "core/CCArray.h"
#include "core/CCCamera.h"
#include "core/CCDirector.h"
#include "core/CCGridProtocol.h"
#include "core/CCMatrix.h"
#include "core/CCNode.h"
#include "core/CCScheduler.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "tests/support/EngineTestSupport.h"

#include <algorithm>
#include <cmath>
#include <random>

using fltest::CallLog;
using platform::Ref;

namespace {

constexpr double kEps = 1e-5;

void expectTransform(CGAffineTransform t, double a, double b, double c, double d, double tx, double ty) {
    EXPECT_NEAR(t.a, a, kEps);
    EXPECT_NEAR(t.b, b, kEps);
    EXPECT_NEAR(t.c, c, kEps);
    EXPECT_NEAR(t.d, d, kEps);
    EXPECT_NEAR(t.tx, tx, kEps);
    EXPECT_NEAR(t.ty, ty, kEps);
}

void expectPoint(CGPoint p, double x, double y, double eps = kEps) {
    EXPECT_NEAR(p.x, x, eps);
    EXPECT_NEAR(p.y, y, eps);
}

// A node that records what happens to it.
class LoggingNode : public CCNode {
public:
    static Ref<LoggingNode> make(CallLog* log, std::string name) {
        auto n = makeNode<LoggingNode>();
        n->log_ = log;
        n->name_ = std::move(name);
        return n;
    }
    void draw() override { log_->add("draw " + name_); }
    void transform() override {
        log_->add("transform " + name_);
        CCNode::transform();
    }
    void onEnter() override {
        log_->add("enter " + name_);
        CCNode::onEnter();
        run(afterEnter);
    }
    void onEnterTransitionDidFinish() override {
        log_->add("enterDone " + name_);
        CCNode::onEnterTransitionDidFinish();
    }
    void onExitTransitionDidStart() override {
        log_->add("exitStart " + name_);
        CCNode::onExitTransitionDidStart();
    }
    void onExit() override {
        log_->add("exit " + name_);
        CCNode::onExit();
        run(afterExit);
    }
    void cleanup() override {
        log_->add("cleanup " + name_);
        CCNode::cleanup();
        run(afterCleanup);
    }
    void update(double dt) override {
        log_->add("update " + name_);
        lastDt = dt;
    }
    void tick(double dt) {
        log_->add("tick " + name_);
        lastDt = dt;
    }
    // A copy: the hook may clear itself while it runs.
    void run(std::function<void(LoggingNode*)> hook) {
        if (hook) hook(this);
    }
    bool transformDirty() const { return _isTransformDirty; }
    bool inverseDirty() const { return _isInverseDirty; }

    std::function<void(LoggingNode*)> afterEnter, afterExit, afterCleanup;
    double lastDt = -1;

private:
    CallLog* log_ = nullptr;
    std::string name_;
};

// An action that counts its steps and never ends.
class CountingAction : public CCAction {
public:
    void step(double) override { ++steps; }
    bool isDone() const override { return false; }
    int steps = 0;
};

// A grid stand-in: records the calls a visit makes to it.
class RecordingGrid : public CCGridProtocol {
public:
    explicit RecordingGrid(CallLog* log) : log_(log) {}
    bool active() const override { return isActive; }
    void beforeDraw() override { log_->add("grid before"); }
    void afterDraw(CCNode*) override { log_->add("grid after"); }
    void abandonDraw() override { log_->add("grid abandoned"); }
    bool isActive = true;

private:
    CallLog* log_;
};

class NodeTest : public fltest::EngineTest {
protected:
    CallLog log;
    // Steps the director's scheduler (and so the action manager) by one frame.
    void frame(double dt) { CCDirector::sharedDirector()->scheduler()->update(dt); }
};

} // namespace

// ---- transform ---------------------------------------------------------------------------

TEST_F(NodeTest, TransformOfPositionAnchorAndScale) {
    auto n = CCNode::node();
    n->setPosition(CGPointMake(10, 20));
    expectTransform(n->nodeToParentTransform(), 1, 0, 0, 1, 10, 20);

    n->setContentSize(CGSizeMake(100, 50));
    n->setAnchorPoint(CGPointMake(0.5, 0.5));
    EXPECT_EQ(n->anchorPointInPoints(), CGPointMake(50, 25));
    n->setScaleX(2);
    n->setScaleY(3);
    // The anchor stays put: tx = x - ax * sx, ty = y - ay * sy.
    expectTransform(n->nodeToParentTransform(), 2, 0, 0, 3, 10 - 100, 20 - 75);

    n->setIgnoreAnchorPointForPosition(true);
    // The position places the lower-left corner: the anchor offset cancels out.
    expectTransform(n->nodeToParentTransform(), 2, 0, 0, 3, 10 + 50 - 100, 20 + 25 - 75);
}

TEST_F(NodeTest, RotationTurnsClockwise) {
    auto n = CCNode::node();
    n->setContentSize(CGSizeMake(10, 10));
    n->setAnchorPoint(CGPointMake(0.5, 0.5));
    n->setPosition(CGPointMake(100, 100));
    n->setRotation(90);
    EXPECT_EQ(n->rotationX(), 90.f);
    EXPECT_EQ(n->rotationY(), 90.f);
    // The anchor (5, 5) stays at the position; (1, 0) relative to it goes to (0, -1).
    expectPoint(CGPointApplyAffineTransform(CGPointMake(6, 5), n->nodeToParentTransform()), 100, 99);
    expectPoint(CGPointApplyAffineTransform(CGPointMake(5, 5), n->nodeToParentTransform()), 100, 100);
}

TEST_F(NodeTest, DifferentAxisRotationsSkew) {
    auto n = CCNode::node();
    n->setRotationX(30);
    float r = -30 * 0.017453292f;
    // Only the x rotation: a, b keep the unturned x axis; c, d carry -sin and cos of it.
    expectTransform(n->nodeToParentTransform(), 1, 0, -std::sin(r), std::cos(r), 0, 0);
    EXPECT_NEAR(n->nodeToParentTransform().c, 0.5, 1e-6);
}

TEST_F(NodeTest, SkewIsAppliedBeforeScaleAndAboutTheAnchor) {
    auto n = CCNode::node();
    n->setPosition(CGPointMake(50, 60));
    n->setSkewX(45);
    expectTransform(n->nodeToParentTransform(), 1, 0, 1, 1, 50, 60);

    n->setContentSize(CGSizeMake(20, 20));
    n->setAnchorPoint(CGPointMake(0.5, 0.5));
    n->setScale(2);
    // skew (1, 0, 1, 1) then scale 2, translated by -anchor (10, 10) first.
    expectTransform(n->nodeToParentTransform(), 2, 0, 2, 2, 50 - 40, 60 - 20);

    n->setSkewY(45);
    n->setSkewX(0);
    expectTransform(n->nodeToParentTransform(), 2, 2, 0, 2, 50 - 20, 60 - 40);
}

TEST_F(NodeTest, TransformCacheIsKeptUntilATransformSetterRuns) {
    auto n = LoggingNode::make(&log, "n");
    n->setContentSize(CGSizeMake(100, 50));
    n->setAnchorPoint(CGPointMake(0.5, 0.5));
    n->nodeToParentTransform();
    n->parentToNodeTransform();
    EXPECT_FALSE(n->transformDirty());
    EXPECT_FALSE(n->inverseDirty());

    n->setAnchorPoint(CGPointMake(0.5, 0.5));
    n->setContentSize(CGSizeMake(100, 50));
    n->setIgnoreAnchorPointForPosition(false);
    n->setVertexZ(3);
    EXPECT_FALSE(n->transformDirty());
    EXPECT_FALSE(n->inverseDirty());

    n->setPosition(CGPointMake(1, 1));
    EXPECT_TRUE(n->transformDirty());
    EXPECT_TRUE(n->inverseDirty());
}

TEST_F(NodeTest, BoundingBoxFollowsAnchorAndIgnoreAnchor) {
    auto n = CCNode::node();
    n->setAnchorPoint(CGPointMake(0.5, 0.5));
    n->setContentSize(CGSizeMake(100, 50));
    n->setPosition(CGPointMake(200, 100));
    EXPECT_EQ(n->boundingBox(), CGRectMake(150, 75, 100, 50));
    n->setIgnoreAnchorPointForPosition(true);
    EXPECT_EQ(n->boundingBox(), CGRectMake(200, 100, 100, 50));
    n->setRotation(90);
    CGRect r = n->boundingBox();
    EXPECT_NEAR(r.size.width, 50, kEps);
    EXPECT_NEAR(r.size.height, 100, kEps);
}

TEST_F(NodeTest, TransformPutsVertexZAndNodeMatrixOnTheModelViewStack) {
    auto n = CCNode::node();
    n->setPosition(CGPointMake(3, 4));
    n->setScale(2);
    n->setVertexZ(7);
    matrixMode(kCCMatrixModeModelView);
    matrixLoadIdentity();
    n->transform();
    kmMat4 m;
    matrixGet(kCCMatrixModeModelView, &m);
    const float expected[16] = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1, 0, 3, 4, 7, 1};
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(m.mat[i], expected[i]) << i;
}

TEST_F(NodeTest, CameraIsAppliedAboutTheAnchorUnlessAGridIsActive) {
    auto n = CCNode::node();
    n->setContentSize(CGSizeMake(20, 10));
    n->setAnchorPoint(CGPointMake(0.5, 0.5));
    n->setIgnoreAnchorPointForPosition(true);
    n->camera()->setEyeX(0, 0, 1);
    EXPECT_EQ(n->camera(), n->camera());

    matrixMode(kCCMatrixModeModelView);
    matrixLoadIdentity();
    n->transform();
    kmMat4 m;
    matrixGet(kCCMatrixModeModelView, &m);
    // translate(10, 5) x lookAt (a translation by -1 along z) x translate(-10, -5).
    EXPECT_FLOAT_EQ(m.mat[12], 0);
    EXPECT_FLOAT_EQ(m.mat[13], 0);
    EXPECT_FLOAT_EQ(m.mat[14], -1);

    auto grid = platform::make<RecordingGrid>(&log);
    n->setGrid(grid.get());
    matrixLoadIdentity();
    n->transform();
    matrixGet(kCCMatrixModeModelView, &m);
    EXPECT_FLOAT_EQ(m.mat[14], 0);
}

TEST_F(NodeTest, ConversionsBetweenSpacesRoundTrip) {
    auto parent = CCNode::node();
    auto child = CCNode::node();
    parent->addChild(child.get());
    parent->setPosition(CGPointMake(100, 50));
    parent->setRotation(30);
    parent->setScale(1.5f);
    child->setContentSize(CGSizeMake(40, 20));
    child->setAnchorPoint(CGPointMake(0.25, 0.5));
    child->setPosition(CGPointMake(-20, 10));
    child->setSkewX(10);

    CGPoint p = CGPointMake(3, -7);
    expectPoint(child->convertToNodeSpace(child->convertToWorldSpace(p)), 3, -7, 1e-9);
    expectPoint(child->convertToNodeSpaceAR(child->convertToWorldSpaceAR(p)), 3, -7, 1e-9);
    // The AR forms measure from the anchor point.
    CGPoint w = child->convertToWorldSpace(CGPointMake(10, 10));
    expectPoint(child->convertToWorldSpaceAR(CGPointZero), w.x, w.y, 1e-9);

    CGAffineTransform world = child->nodeToWorldTransform();
    CGAffineTransform composed =
        CGAffineTransformConcat(child->nodeToParentTransform(), parent->nodeToParentTransform());
    expectTransform(world, composed.a, composed.b, composed.c, composed.d, composed.tx, composed.ty);
    CGAffineTransform id =
        CGAffineTransformConcat(child->nodeToParentTransform(), child->parentToNodeTransform());
    expectTransform(id, 1, 0, 0, 1, 0, 0);
}

// ---- children and drawing order -----------------------------------------------------------

TEST_F(NodeTest, VisitDrawsNegativeZThenSelfThenTheRestInArrival) {
    auto parent = LoggingNode::make(&log, "P");
    auto a = LoggingNode::make(&log, "a");
    auto b = LoggingNode::make(&log, "b");
    auto c = LoggingNode::make(&log, "c");
    auto d = LoggingNode::make(&log, "d");
    parent->addChild(a.get(), 0);
    parent->addChild(b.get(), -1);
    parent->addChild(c.get(), 0);
    parent->addChild(d.get(), 1);
    EXPECT_EQ(a->parent(), parent.get());

    auto draws = [&] {
        log.clear();
        parent->visit();
        std::vector<std::string> out;
        for (auto& s : log.calls)
            if (s.rfind("draw ", 0) == 0) out.push_back(s.substr(5));
        return out;
    };
    EXPECT_EQ(draws(), (std::vector<std::string>{"b", "P", "a", "c", "d"}));
    EXPECT_EQ(a->orderOfArrival(), 0u);

    // Reordering to the same z moves the child after its equals.
    parent->reorderChild(a.get(), 0);
    EXPECT_EQ(draws(), (std::vector<std::string>{"b", "P", "c", "a", "d"}));
    // setZOrder goes through the parent.
    d->setZOrder(-5);
    EXPECT_EQ(draws(), (std::vector<std::string>{"d", "b", "P", "c", "a"}));
    EXPECT_EQ(d->zOrder(), -5);
}

TEST_F(NodeTest, StableSortKeepsArrivalAmongEqualZ) {
    auto parent = CCNode::node();
    std::vector<Ref<CCNode>> kids;
    const std::int64_t zs[] = {2, 0, 2, -1, 0, 2, -1};
    for (std::size_t i = 0; i < std::size(zs); ++i) {
        kids.push_back(CCNode::node());
        kids.back()->setTag(static_cast<std::int64_t>(i));
        parent->addChild(kids.back().get(), zs[i]);
    }
    parent->sortAllChildren();
    std::vector<std::int64_t> tags;
    for (std::uint64_t i = 0; i < parent->children()->count(); ++i)
        tags.push_back(static_cast<CCNode*>(parent->children()->objectAtIndex(i))->tag());
    EXPECT_EQ(tags, (std::vector<std::int64_t>{3, 6, 1, 4, 0, 2, 5}));
}

TEST_F(NodeTest, InvisibleNodeSkipsItsSubtreeButKeepsRunning) {
    auto parent = LoggingNode::make(&log, "P");
    auto child = LoggingNode::make(&log, "c");
    parent->addChild(child.get());
    parent->onEnter();
    child->scheduleUpdate();
    parent->setVisible(false);
    log.clear();
    parent->visit();
    EXPECT_TRUE(log.calls.empty());
    frame(0.1);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"update c"}));
    parent->onExit();
    parent->cleanup();
}

TEST_F(NodeTest, GridBracketsTheDrawingOnlyWhileActive) {
    auto n = LoggingNode::make(&log, "n");
    auto child = LoggingNode::make(&log, "c");
    n->addChild(child.get());
    auto grid = platform::make<RecordingGrid>(&log);
    n->setGrid(grid.get());
    n->visit();
    EXPECT_EQ(log.calls, (std::vector<std::string>{"grid before", "transform n", "draw n", "transform c",
                                                   "draw c", "grid after"}));
    grid->isActive = false;
    log.clear();
    n->visit();
    EXPECT_EQ(log.calls, (std::vector<std::string>{"transform n", "draw n", "transform c", "draw c"}));
}

TEST_F(NodeTest, ChildLookupAndRemoval) {
    auto parent = CCNode::node();
    EXPECT_EQ(parent->getChildByTag(1), nullptr);
    auto a = CCNode::node();
    auto b = CCNode::node();
    auto stranger = CCNode::node();
    parent->addChild(a.get(), 0, 7);
    parent->addChild(b.get(), -1, 7);
    EXPECT_EQ(a->tag(), 7);
    EXPECT_EQ(parent->getChildByTag(7), a.get()); // the array's order, not yet sorted
    EXPECT_EQ(parent->getChildByTag(8), nullptr);

    parent->removeChild(nullptr);
    parent->removeChild(stranger.get());
    parent->removeChildByTag(99);
    EXPECT_EQ(parent->children()->count(), 2u);

    parent->removeChildByTag(7);
    EXPECT_EQ(parent->children()->count(), 1u);
    EXPECT_EQ(a->parent(), nullptr);
    b->removeFromParent();
    EXPECT_EQ(parent->children()->count(), 0u);
    EXPECT_EQ(b->parent(), nullptr);
    b->removeFromParent(); // no parent: nothing

    EXPECT_THROW(parent->addChild(nullptr), platform::Exception);
}

TEST_F(NodeTest, ChildKeepsItsOwnZAndTagWhenNotGiven) {
    auto parent = CCNode::node();
    auto a = CCNode::node();
    a->setTag(5);
    a->_setZOrder(3);
    parent->addChild(a.get());
    EXPECT_EQ(a->zOrder(), 3);
    EXPECT_EQ(a->tag(), 5);
    auto b = CCNode::node();
    b->setTag(6);
    parent->addChild(b.get(), -2);
    EXPECT_EQ(b->zOrder(), -2);
    EXPECT_EQ(b->tag(), 6);
    EXPECT_LT(a->orderOfArrival(), b->orderOfArrival());
}

TEST_F(NodeTest, DestroyedParentLeavesSurvivingChildrenWithoutParent) {
    auto child = CCNode::node();
    {
        auto parent = CCNode::node();
        parent->addChild(child.get());
        EXPECT_EQ(child->parent(), parent.get());
    }
    EXPECT_EQ(child->parent(), nullptr);
}

TEST_F(NodeTest, DescriptionShowsClassAddressAndTag) {
    auto n = CCNode::node();
    n->setTag(42);
    EXPECT_EQ(n->description(), platform::format("<CCNode = %p | Tag = 42>", static_cast<void*>(n.get())));
}

// ---- life cycle ------------------------------------------------------------------------------

TEST_F(NodeTest, EnterReachesChildrenBeforeTheParentRunsAndExitPausesFirst) {
    auto parent = LoggingNode::make(&log, "P");
    auto child = LoggingNode::make(&log, "c");
    parent->addChild(child.get());
    bool parentRunningAtChildEnter = true, parentRunningAtChildExit = true;
    child->afterEnter = [&](LoggingNode*) { parentRunningAtChildEnter = parent->isRunning(); };
    child->afterExit = [&](LoggingNode*) { parentRunningAtChildExit = parent->isRunning(); };

    parent->onEnter();
    parent->onEnterTransitionDidFinish();
    EXPECT_FALSE(parentRunningAtChildEnter);
    EXPECT_TRUE(parent->isRunning());
    EXPECT_TRUE(child->isRunning());
    parent->onExitTransitionDidStart();
    parent->onExit();
    EXPECT_FALSE(parentRunningAtChildExit);
    EXPECT_FALSE(child->isRunning());
    EXPECT_EQ(log.calls, (std::vector<std::string>{"enter P", "enter c", "enterDone P", "enterDone c",
                                                   "exitStart P", "exitStart c", "exit P", "exit c"}));
}

TEST_F(NodeTest, AddingToAndRemovingFromARunningNodeSendsTheLifeCycle) {
    auto parent = LoggingNode::make(&log, "P");
    parent->onEnter();
    auto child = LoggingNode::make(&log, "c");
    auto grandchild = LoggingNode::make(&log, "g");
    child->addChild(grandchild.get());
    log.clear();
    parent->addChild(child.get());
    EXPECT_EQ(log.calls, (std::vector<std::string>{"enter c", "enter g", "enterDone c", "enterDone g"}));

    log.clear();
    parent->removeChild(child.get(), false);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"exitStart c", "exitStart g", "exit c", "exit g"}));

    parent->addChild(child.get());
    log.clear();
    parent->removeAllChildren();
    EXPECT_EQ(log.calls, (std::vector<std::string>{"exitStart c", "exitStart g", "exit c", "exit g",
                                                   "cleanup c", "cleanup g"}));
    EXPECT_EQ(parent->children()->count(), 0u);
    parent->onExit();
}

TEST_F(NodeTest, RegistrationsWaitPausedUntilTheNodeEnters) {
    auto n = LoggingNode::make(&log, "n");
    CCScheduler* scheduler = CCDirector::sharedDirector()->scheduler();
    n->scheduleUpdate();
    n->schedule(fl_selector(LoggingNode::tick));
    auto action = platform::make<CountingAction>();
    EXPECT_EQ(n->runAction(action.get()), action.get());
    EXPECT_EQ(action->target(), n.get()); // started when added
    EXPECT_TRUE(scheduler->isTargetPaused(n.get()));
    EXPECT_EQ(n->numberOfRunningActions(), 1u);

    frame(0.1);
    frame(0.1);
    EXPECT_TRUE(log.calls.empty());
    EXPECT_EQ(action->steps, 0);

    n->onEnter();
    log.clear();
    frame(0.1); // the timer only arms now
    frame(0.1);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"update n", "update n", "tick n"}));
    EXPECT_EQ(action->steps, 2);

    // Out without cleanup: paused, not removed; back in: goes on.
    n->onExit();
    log.clear();
    frame(0.1);
    EXPECT_TRUE(log.calls.empty());
    n->onEnter();
    log.clear();
    frame(0.1);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"update n", "tick n"}));

    n->cleanup();
    EXPECT_EQ(n->numberOfRunningActions(), 0u);
    log.clear();
    frame(0.1);
    EXPECT_TRUE(log.calls.empty());
}

TEST_F(NodeTest, ScheduleOnceCallsOnceAfterTheDelay) {
    auto n = LoggingNode::make(&log, "n");
    n->onEnter();
    log.clear();
    n->scheduleOnce(fl_selector(LoggingNode::tick), 0.25);
    frame(0.1); // arms
    frame(0.1);
    frame(0.1);
    EXPECT_TRUE(log.calls.empty());
    frame(0.1);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"tick n"}));
    EXPECT_NEAR(n->lastDt, 0.3, 1e-12);
    frame(1);
    frame(1);
    EXPECT_EQ(log.calls.size(), 1u);
    n->unschedule(platform::Selector<void(double)>()); // no selector: nothing
    n->onExit();
    n->cleanup();
}

TEST_F(NodeTest, ActionsByTagAndStopping) {
    auto n = CCNode::node();
    auto a = platform::make<CountingAction>();
    auto b = platform::make<CountingAction>();
    a->setTag(1);
    b->setTag(2);
    n->runAction(a.get());
    n->runAction(b.get());
    EXPECT_EQ(n->getActionByTag(2), b.get());
    n->stopActionByTag(2);
    EXPECT_EQ(n->getActionByTag(2), nullptr);
    n->stopAction(a.get());
    EXPECT_EQ(n->numberOfRunningActions(), 0u);
}

TEST_F(NodeTest, SwitchingSchedulerOrActionManagerDropsOldRegistrations) {
    auto n = LoggingNode::make(&log, "n");
    CCScheduler* old = CCDirector::sharedDirector()->scheduler();
    n->scheduleUpdate();
    n->runAction(platform::make<CountingAction>().get());
    auto otherScheduler = platform::make<CCScheduler>();
    auto otherManager = platform::make<CCActionManager>();
    n->setScheduler(otherScheduler.get());
    n->setActionManager(otherManager.get());
    EXPECT_FALSE(old->isTargetPaused(n.get())); // no entry any more
    EXPECT_EQ(CCDirector::sharedDirector()->actionManager()->numberOfRunningActionsInTarget(n.get()), 0u);
    EXPECT_EQ(n->scheduler(), otherScheduler.get());
    n->onEnter();
    log.clear();
    n->scheduleUpdate();
    otherScheduler->update(0.5);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"update n"}));
    n->onExit();
    n->cleanup();
}

// ---- children changed by life-cycle callbacks ------------------------------------------------

TEST_F(NodeTest, CallbacksMayRemoveAndAddSiblingsDuringEnterExitAndCleanup) {
    auto parent = LoggingNode::make(&log, "P");
    auto a = LoggingNode::make(&log, "a");
    auto b = LoggingNode::make(&log, "b");
    auto c = LoggingNode::make(&log, "c");
    parent->addChild(a.get());
    parent->addChild(b.get());
    parent->addChild(c.get());

    // a removes every sibling on entering and adds a fresh one; b, freed meanwhile, is not
    // touched again.
    a->afterEnter = [&](LoggingNode* self) {
        self->afterEnter = nullptr;
        parent->removeChild(b.get());
        parent->removeChild(c.get());
        b = nullptr;
        c = nullptr;
        parent->addChild(LoggingNode::make(&log, "d").get());
    };
    parent->onEnter();
    EXPECT_EQ(parent->children()->count(), 2u);
    EXPECT_TRUE(static_cast<CCNode*>(parent->children()->objectAtIndex(1))->isRunning());

    // A child that removes itself while exiting.
    a->afterExit = [&](LoggingNode* self) {
        self->afterExit = nullptr;
        self->removeFromParentAndCleanup(true);
    };
    CCNode* next = static_cast<CCNode*>(parent->children()->objectAtIndex(1));
    parent->onExit();
    EXPECT_FALSE(a->isRunning());
    EXPECT_FALSE(next->isRunning()); // the sibling that moved into a's place still exits

    // Cleanup that empties the parent it is being walked from.
    auto e = LoggingNode::make(&log, "e");
    auto f = LoggingNode::make(&log, "f");
    parent->addChild(e.get());
    parent->addChild(f.get());
    e->afterCleanup = [&](LoggingNode* self) {
        self->afterCleanup = nullptr;
        parent->removeAllChildrenWithCleanup(false);
    };
    parent->cleanup();
    EXPECT_EQ(parent->children()->count(), 0u);

    // A child that removes itself during its exit, inside removeChild.
    parent->onEnter();
    auto g = LoggingNode::make(&log, "g");
    parent->addChild(g.get());
    g->afterExit = [](LoggingNode* self) {
        self->afterExit = nullptr;
        self->removeFromParent();
    };
    CCNode* raw = g.get();
    g = nullptr;
    parent->removeChild(raw, true);
    EXPECT_EQ(parent->children()->count(), 0u);
    parent->onExit();
}

TEST_F(NodeTest, AChildWithAParentOrAnAncestorIsRefused) {
    auto root = CCNode::node();
    auto child = CCNode::node();
    auto grandchild = CCNode::node();
    auto other = CCNode::node();
    root->addChild(child.get());
    child->addChild(grandchild.get());

    EXPECT_THROW(other->addChild(child.get()), platform::Exception);
    EXPECT_EQ(child->parent(), root.get());
    EXPECT_EQ(other->children(), nullptr);
    EXPECT_EQ(root->children()->count(), 1u);

    // Cycles: the node itself, its root, its parent.
    EXPECT_THROW(root->addChild(root.get()), platform::Exception);
    EXPECT_THROW(grandchild->addChild(root.get()), platform::Exception);
    child->removeFromParent();
    EXPECT_THROW(grandchild->addChild(child.get()), platform::Exception);
    EXPECT_EQ(grandchild->children(), nullptr);

    // Once removed, the child may go elsewhere.
    other->addChild(child.get());
    EXPECT_EQ(child->parent(), other.get());
}

TEST_F(NodeTest, NodeWithoutSchedulerOrActionManagerIgnoresRegistrations) {
    // Made without init: no scheduler, no action manager.
    auto bare = platform::make<CCNode>();
    auto action = platform::make<CountingAction>();
    EXPECT_EQ(bare->runAction(action.get()), action.get());
    bare->scheduleUpdate();
    EXPECT_EQ(bare->numberOfRunningActions(), 0u);
    EXPECT_EQ(action->target(), nullptr);
    auto ticking = platform::make<LoggingNode>();
    ticking->schedule(fl_selector(LoggingNode::tick));
    ticking->scheduleOnce(fl_selector(LoggingNode::tick), 1);
    bare->onEnter();
    frame(0.1);
    EXPECT_EQ(action->steps, 0);
    bare->onExit();
    bare->cleanup();
}

// ---- order and removal at scale ----------------------------------------------------------------

namespace {

struct ChildKey {
    std::int64_t z;
    std::uint64_t arrival;
    CCNode* node;
};

std::vector<CCNode*> childList(CCNode* parent) {
    std::vector<CCNode*> out;
    for (std::uint64_t i = 0; i < parent->children()->count(); ++i)
        out.push_back(static_cast<CCNode*>(parent->children()->objectAtIndex(i)));
    return out;
}

// The order the sort must give: stable by z, then arrival.
std::vector<CCNode*> referenceOrder(CCNode* parent) {
    std::vector<ChildKey> keys;
    for (CCNode* c : childList(parent))
        keys.push_back({c->zOrder(), c->orderOfArrival(), c});
    std::stable_sort(keys.begin(), keys.end(), [](const ChildKey& a, const ChildKey& b) {
        return a.z < b.z || (a.z == b.z && a.arrival < b.arrival);
    });
    std::vector<CCNode*> out;
    for (auto& k : keys)
        out.push_back(k.node);
    return out;
}

} // namespace

TEST_F(NodeTest, ChildSortMatchesAStableSortByZAndArrivalOnRandomScenes) {
    std::mt19937 random(7);
    for (int scene = 0; scene < 40; ++scene) {
        auto parent = CCNode::node();
        std::uniform_int_distribution<int> size(0, 300), z(-3, 3);
        const int n = size(random);
        for (int i = 0; i < n; ++i)
            parent->addChild(CCNode::node().get(), z(random));
        // Rounds as frames bring them: a visit zeroes some arrivals (equal keys), then a few
        // reorders or many.
        for (int round = 0; round < 4; ++round) {
            std::vector<CCNode*> children = childList(parent.get());
            for (CCNode* c : children)
                if (random() % 2) c->setOrderOfArrival(0);
            int changes = round % 2 ? n : n / 50 + 1;
            for (int k = 0; k < changes && n > 0; ++k)
                parent->reorderChild(children[random() % children.size()], z(random));
            std::vector<CCNode*> expected = referenceOrder(parent.get());
            parent->sortAllChildren();
            ASSERT_EQ(childList(parent.get()), expected) << "scene " << scene << " round " << round;
        }
    }
}

TEST_F(NodeTest, RemoveChildFindsItAnywhereAndAfterDirectChangesToTheChildren) {
    std::mt19937 random(11);
    auto parent = CCNode::node();
    std::vector<Ref<CCNode>> kept;
    for (int i = 0; i < 60; ++i) {
        kept.push_back(CCNode::node());
        parent->addChild(kept.back().get());
    }
    // Direct changes: two children swap places, one leaves the array behind its parent's back
    // (its parent link now lies), and a stranger is put in.
    parent->children()->exchangeObjectAtIndex(3, 50);
    Ref<CCNode> gone = static_cast<CCNode*>(parent->children()->objectAtIndex(10));
    parent->children()->removeObjectAtIndex(10);
    auto stranger = CCNode::node();
    parent->children()->insertObject(stranger.get(), 20);

    parent->removeChild(gone.get(), true); // not in the array: nothing
    EXPECT_EQ(gone->parent(), parent.get());
    EXPECT_EQ(parent->children()->count(), 60u);
    parent->removeChild(stranger.get(), true); // in the array: removed
    EXPECT_EQ(parent->children()->count(), 59u);

    std::vector<CCNode*> expected = childList(parent.get());
    std::shuffle(kept.begin(), kept.end(), random);
    for (auto& child : kept) {
        if (child == gone) continue;
        parent->removeChild(child.get(), true);
        expected.erase(std::find(expected.begin(), expected.end(), child.get()));
        ASSERT_EQ(childList(parent.get()), expected);
        EXPECT_EQ(child->parent(), nullptr);
    }
}

TEST_F(NodeTest, AChildThatRemovesItselfWhileBeingRemovedIsRemovedOnce) {
    auto count = [&](const std::string& call) {
        return std::count(log.calls.begin(), log.calls.end(), call);
    };
    auto selfRemoving = [&](const std::string& name) {
        auto c = LoggingNode::make(&log, name);
        c->afterExit = [](LoggingNode* self) { self->removeFromParent(); };
        c->afterCleanup = [](LoggingNode* self) { self->removeFromParent(); };
        return c;
    };
    auto root = LoggingNode::make(&log, "root");
    auto parent = LoggingNode::make(&log, "P");
    root->addChild(parent.get());
    root->onEnter();

    // removeChild with cleanup.
    auto a = selfRemoving("a");
    parent->addChild(a.get());
    log.clear();
    parent->removeChild(a.get(), true);
    EXPECT_EQ(count("exit a"), 1);
    EXPECT_EQ(count("cleanup a"), 1);
    EXPECT_EQ(a->parent(), nullptr);
    // Removed without cleanup, it asks for its own: cleaned up once, after its exit.
    parent->addChild(a.get());
    log.clear();
    parent->removeChild(a.get(), false);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"exitStart a", "exit a", "cleanup a"}));

    // removeAllChildren, where one child also removes a sibling already done.
    auto b = selfRemoving("b");
    auto c = selfRemoving("c");
    parent->addChild(b.get());
    parent->addChild(c.get());
    c->afterExit = [&](LoggingNode* self) {
        parent->removeChild(b.get(), true);
        self->removeFromParent();
    };
    log.clear();
    parent->removeAllChildren();
    EXPECT_EQ(count("exit b"), 1);
    EXPECT_EQ(count("cleanup b"), 1);
    EXPECT_EQ(count("exit c"), 1);
    EXPECT_EQ(count("cleanup c"), 1);
    EXPECT_EQ(parent->children()->count(), 0u);

    // The parent leaving the stage, then cleaned up.
    auto d = selfRemoving("d");
    parent->addChild(d.get());
    log.clear();
    root->removeChild(parent.get(), true);
    EXPECT_EQ(count("exit d"), 1);
    EXPECT_EQ(count("cleanup d"), 1);
    EXPECT_EQ(parent->children()->count(), 0u);
    root->onExit();
}

TEST_F(NodeTest, ReorderChildOfANodeThatIsNotAChildThrowsAndLeavesIt) {
    auto parent = CCNode::node();
    auto other = CCNode::node();
    auto stranger = CCNode::node();
    other->addChild(stranger.get(), 5);
    std::uint64_t arrival = stranger->orderOfArrival();
    try {
        parent->reorderChild(stranger.get(), 9);
        ADD_FAILURE() << "no throw";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), platform::NSInternalInconsistencyException);
    }
    EXPECT_EQ(stranger->zOrder(), 5);
    EXPECT_EQ(stranger->orderOfArrival(), arrival);
}

namespace {

// Throws from its draw while `fail` is set.
class ThrowingNode : public CCNode {
public:
    void draw() override {
        if (fail) throw platform::Exception(platform::NSInternalInconsistencyException, "draw failed");
    }
    bool fail = true;
};

} // namespace

TEST_F(NodeTest, AThrowFromADrawLeavesTheMatrixStackAndGridAsTheyWere) {
    auto parent = LoggingNode::make(&log, "P");
    parent->setPosition(CGPointMake(10, 20));
    auto grid = platform::make<RecordingGrid>(&log);
    parent->setGrid(grid.get());
    auto middle = CCNode::node();
    middle->setPosition(CGPointMake(3, 4));
    auto thrower = makeNode<ThrowingNode>();
    thrower->setPosition(CGPointMake(5, 6));
    parent->addChild(middle.get());
    middle->addChild(thrower.get());

    matrixMode(kCCMatrixModeModelView);
    matrixLoadIdentity();
    kmMat4 before;
    matrixGet(kCCMatrixModeModelView, &before);
    EXPECT_THROW(parent->visit(), platform::Exception);
    kmMat4 after;
    matrixGet(kCCMatrixModeModelView, &after);
    EXPECT_EQ(std::vector<float>(after.mat, after.mat + 16), std::vector<float>(before.mat, before.mat + 16));
    EXPECT_EQ(log.calls.back(), "grid abandoned");

    // The next frame draws as usual and leaves the stack where it found it.
    thrower->fail = false;
    log.clear();
    parent->visit();
    EXPECT_EQ(log.calls.back(), "grid after");
    matrixGet(kCCMatrixModeModelView, &after);
    EXPECT_EQ(std::vector<float>(after.mat, after.mat + 16), std::vector<float>(before.mat, before.mat + 16));
}

TEST_F(NodeTest, AThrowFromAnExitDuringRemoveAllLeavesTheRestRemovable) {
    auto parent = LoggingNode::make(&log, "P");
    auto a = LoggingNode::make(&log, "a");
    auto b = LoggingNode::make(&log, "b");
    auto c = LoggingNode::make(&log, "c");
    for (auto* n : {a.get(), b.get(), c.get()})
        parent->addChild(n);
    parent->onEnter();
    b->afterExit = [](LoggingNode* self) {
        self->afterExit = nullptr;
        throw platform::Exception(platform::NSInternalInconsistencyException, "exit failed");
    };
    EXPECT_THROW(parent->removeAllChildren(), platform::Exception);
    EXPECT_EQ(childList(parent.get()), (std::vector<CCNode*>{b.get(), c.get()}));
    EXPECT_EQ(a->parent(), nullptr);

    log.clear();
    parent->removeChild(b.get(), true);
    parent->removeAllChildren();
    EXPECT_EQ(std::count(log.calls.begin(), log.calls.end(), "exit b"), 1);
    EXPECT_EQ(std::count(log.calls.begin(), log.calls.end(), "exit c"), 1);
    EXPECT_EQ(parent->children()->count(), 0u);
    parent->onExit();
}
