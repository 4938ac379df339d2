#include "actions/CCActionTween.h"
#include "actions/CCFollow.h"

#include "actions/CCActionManager.h"
#include "actions/CCActionTransform.h"
#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCNodeRGBA.h"
#include "core/CCScene.h"
#include "core/CCScheduler.h"
#include "platform/Exception.h"
#include "tests/support/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using platform::Ref;

namespace {

// A node with a property of its own, and one that gives a base property another meaning.
class Ship : public CCNode {
public:
    void setThrust(float thrust) { thrusts.push_back(thrust); }
    std::vector<float> thrusts;
    std::vector<float> scales;
};

class TweenTest : public fltest::EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        node = makeNode<Ship>();
        node->onEnter();
        static bool registered = false;
        if (!registered) {
            registered = true;
            CCKeyValueSetters::registerSetter(&Ship::setThrust, "thrust");
            CCKeyValueSetters::registerSetter<Ship>([](Ship& ship, float v) { ship.scales.push_back(v); },
                                                    "scaleX");
        }
    }
    void TearDown() override {
        node->onExit();
        node->cleanup();
        node = nullptr;
        EngineTest::TearDown();
    }
    void run(const Ref<CCAction>& action) {
        node->runAction(action.get());
        tick(0);
    }
    void tick(double dt) { director()->scheduler()->update(dt); }

    Ref<Ship> node;
};

TEST_F(TweenTest, MovesANodePropertyFromOneValueToTheOther) {
    run(CCActionTween::actionWithDuration(2, "rotation", 10, 50));
    EXPECT_EQ(node->rotation(), 10);
    tick(0.5);
    EXPECT_EQ(node->rotationX(), 20);
    EXPECT_EQ(node->rotationY(), 20);
    tick(1.5);
    EXPECT_EQ(node->rotation(), 50);

    // Worked from the end value, t = 1 lands exactly on it whatever the rounding on the way.
    run(CCActionTween::actionWithDuration(1, "skewY", 0.1f, 0.7f));
    tick(0.25);
    tick(1);
    EXPECT_EQ(node->skewY(), 0.7f);

    // From a value to itself: that value on every step.
    run(CCActionTween::actionWithDuration(1, "vertexZ", 10, 10));
    for (int i = 0; i < 3; ++i) {
        tick(1.0 / 3);
        EXPECT_EQ(node->vertexZ(), 10);
    }
}

TEST_F(TweenTest, ReverseAndCopyKeepTheKey) {
    auto tween = CCActionTween::actionWithDuration(1, "scale", 0, 100);
    Ref<CCFiniteTimeAction> back = tween->reverse();
    auto* reversed = dynamic_cast<CCActionTween*>(back.get());
    ASSERT_NE(reversed, nullptr);
    EXPECT_EQ(reversed->key(), "scale");
    EXPECT_EQ(reversed->from(), 100);
    EXPECT_EQ(reversed->to(), 0);
    run(back);
    EXPECT_EQ(node->scale(), 100);
    tick(0.25);
    EXPECT_EQ(node->scale(), 75);
    tick(0.75);
    EXPECT_EQ(node->scale(), 0);

    tween->setTag(3);
    auto copy = platform::copyOf(tween.get());
    EXPECT_EQ(copy->key(), "scale");
    EXPECT_EQ(copy->from(), 0);
    EXPECT_EQ(copy->to(), 100);
    EXPECT_EQ(copy->duration(), 1);
    EXPECT_EQ(copy->tag(), -1);
}

TEST_F(TweenTest, SettersRegisteredForAClassServeItsObjectsOnly) {
    run(CCActionTween::actionWithDuration(1, "thrust", 0, 8));
    tick(0.5);
    tick(0.5);
    EXPECT_EQ(node->thrusts, (std::vector<float>{0, 4, 8}));

    // The ship's own "scaleX" wins over the node's for ships, and only for them.
    node->setScaleX(1);
    CCKeyValueSetters::setValue(node.get(), 3, "scaleX");
    EXPECT_EQ(node->scales, std::vector<float>{3});
    EXPECT_EQ(node->scaleX(), 1);
    auto plain = CCNode::node();
    CCKeyValueSetters::setValue(plain.get(), 3, "scaleX");
    EXPECT_EQ(plain->scaleX(), 3);

    EXPECT_TRUE(CCKeyValueSetters::respondsToKey(node.get(), "thrust"));
    EXPECT_FALSE(CCKeyValueSetters::respondsToKey(plain.get(), "thrust"));
    EXPECT_FALSE(CCKeyValueSetters::respondsToKey(nullptr, "scale"));
}

TEST_F(TweenTest, OpacityOfColouredNodesIsTruncatedToAByte) {
    auto rgba = CCNodeRGBA::node();
    CCKeyValueSetters::setValue(rgba.get(), 127.9f, "opacity");
    EXPECT_EQ(rgba->opacity(), 127);
    EXPECT_FALSE(CCKeyValueSetters::respondsToKey(node.get(), "opacity"));

    auto fade = CCActionTween::actionWithDuration(1, "opacity", 255, 0);
    fade->startWithTarget(rgba.get());
    fade->update(0.5);
    EXPECT_EQ(rgba->opacity(), 127);
}

TEST_F(TweenTest, AnUnknownKeyRaises) {
    auto tween = CCActionTween::actionWithDuration(1, "wobble", 0, 1);
    tween->startWithTarget(node.get());
    try {
        tween->update(0.5);
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), NSUndefinedKeyException);
        EXPECT_NE(e.reason().find("wobble"), std::string::npos);
    }
    // Nothing to set on nothing.
    EXPECT_NO_THROW(CCKeyValueSetters::setValue(nullptr, 1, "wobble"));
}

// ---- Follow ----

class FollowTest : public fltest::EngineGLTest {
protected:
    CGSize viewSize() const override { return CGSizeMake(480, 320); }
    void SetUp() override {
        EngineGLTest::SetUp();
        scene = CCScene::node();
        world = CCNode::node();
        hero = CCNode::node();
        scene->addChild(world.get());
        world->addChild(hero.get());
        director()->runWithScene(scene.get());
        director()->drawScene();
        ASSERT_TRUE(hero->isRunning());
    }
    void TearDown() override {
        hero = world = nullptr;
        scene = nullptr;
        EngineGLTest::TearDown();
    }
    // Places the hero and applies one step of the follow to the world.
    CGPoint followTo(CCFollow* follow, CGPoint heroAt) {
        hero->setPosition(heroAt);
        follow->step(1.0 / 60);
        return world->position();
    }

    Ref<CCScene> scene;
    Ref<CCNode> world, hero;
};

TEST_F(FollowTest, WithoutABoundaryTheFollowedNodeIsCentred) {
    auto follow = CCFollow::actionWithTarget(hero.get());
    EXPECT_FALSE(follow->boundarySet());
    follow->startWithTarget(world.get());
    EXPECT_EQ(followTo(follow.get(), CGPointMake(100, 50)), CGPointMake(140, 110));
    EXPECT_EQ(followTo(follow.get(), CGPointMake(-1000, 2000.5)), CGPointMake(1240, -1840.5));
}

TEST_F(FollowTest, AWorldBoundaryKeepsTheWindowInsideTheWorld) {
    auto follow = CCFollow::actionWithTarget(hero.get(), CGRectMake(0, 0, 960, 320));
    EXPECT_TRUE(follow->boundarySet());
    follow->startWithTarget(world.get());
    EXPECT_EQ(followTo(follow.get(), CGPointMake(100, 50)), CGPointMake(0, 0));
    EXPECT_EQ(followTo(follow.get(), CGPointMake(700, 160)), CGPointMake(-460, 0));
    EXPECT_EQ(followTo(follow.get(), CGPointMake(5000, -50)), CGPointMake(-480, 0));

    // A world narrower than the window: the world stays in the middle across.
    auto narrow = CCFollow::actionWithTarget(hero.get(), CGRectMake(0, 0, 200, 640));
    narrow->startWithTarget(world.get());
    EXPECT_EQ(followTo(narrow.get(), CGPointMake(-300, 900)), CGPointMake(140, -320));
    EXPECT_EQ(followTo(narrow.get(), CGPointMake(300, -900)), CGPointMake(140, 0));

    // A world the window's size never moves the target.
    auto exact = CCFollow::actionWithTarget(hero.get(), CGRectMake(10, 20, 480, 320));
    exact->startWithTarget(world.get());
    world->setPosition(CGPointMake(7, 7));
    EXPECT_EQ(followTo(exact.get(), CGPointMake(300, 300)), CGPointMake(7, 7));
}

TEST_F(FollowTest, CopiesFollowTheSameNodeWithinTheSameBoundary) {
    auto follow = CCFollow::actionWithTarget(hero.get(), CGRectMake(0, 0, 960, 320));
    follow->setTag(5);
    auto copy = platform::copyOf(follow.get());
    EXPECT_EQ(copy->tag(), 5);
    EXPECT_EQ(copy->followedNode(), hero.get());
    copy->startWithTarget(world.get());
    EXPECT_EQ(followTo(copy.get(), CGPointMake(700, 160)), CGPointMake(-460, 0));
    EXPECT_EQ(CCFollow::actionWithTarget(nullptr), nullptr);
}

TEST_F(FollowTest, FollowsFrameByFrameUntilTheFollowedNodeLeaves) {
    world->runAction(CCFollow::actionWithTarget(hero.get()).get());
    hero->setPosition(CGPointMake(0, 0));
    hero->runAction(CCMoveBy::actionWithDuration(0.5, CGPointMake(60, 30)).get());
    director()->startAnimation();
    advanceRefreshes(40);
    EXPECT_EQ(hero->position(), CGPointMake(60, 30));
    EXPECT_EQ(world->position(), CGPointMake(180, 130));
    EXPECT_EQ(world->numberOfRunningActions(), 1u);

    // Once the hero has left the stage, the next frame ends the follow.
    Ref<CCNode> keep = hero;
    hero->removeFromParentAndCleanup(false);
    advanceRefreshes(1);
    EXPECT_EQ(world->numberOfRunningActions(), 0u);
    EXPECT_EQ(world->position(), CGPointMake(180, 130));
    director()->stopAnimation();
}

} // namespace
