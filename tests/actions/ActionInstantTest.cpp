#include "actions/CCActionInstant.h"
#include "actions/CCActionInterval.h"
#include "actions/CCActionManager.h"
#include "core/CCGLView.h"
#include "graphics/CCSprite.h"

#include "platform/Format.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

using platform::make;
using platform::Object;
using platform::Ref;

namespace {

// The object call-func actions call back into.
class Receiver : public Object {
public:
    void onCall() { calls.push_back("call"); }
    void onNode(CCNode* node) {
        calls.push_back("node");
        nodes.push_back(node);
    }
    void onData(CCNode* node, void* data) {
        calls.push_back("data");
        nodes.push_back(node);
        datas.push_back(data);
    }
    void onObject(Object* object) {
        calls.push_back("object");
        objects.push_back(object);
    }
    void onOther(CCNode*, void*) { calls.push_back("other"); }

    std::vector<std::string> calls;
    std::vector<CCNode*> nodes;
    std::vector<void*> datas;
    std::vector<Object*> objects;
};

class ActionInstantTest : public fltest::EngineGLTest {
protected:
    void SetUp() override {
        EngineGLTest::SetUp();
        manager->init();
        node = CCNode::node();
    }
    void TearDown() override {
        manager = nullptr;
        node = nullptr;
        EngineGLTest::TearDown();
    }
    // Starts the action on a node and steps it once, as the manager would.
    void run(Ref<CCAction> action, CCNode* on) {
        action->startWithTarget(on);
        action->step(0);
    }

    Ref<CCActionManager> manager = make<CCActionManager>();
    Ref<CCNode> node;
    Ref<Receiver> receiver = make<Receiver>();
};

} // namespace

TEST_F(ActionInstantTest, InstantActionsLastNoTimeAndAreDoneAfterOneStepThroughTheManager) {
    auto show = CCShow::action();
    EXPECT_EQ(show->duration(), 0); // exactly 0, not an epsilon
    EXPECT_TRUE(show->isDone());
    node->setVisible(false);
    manager->addAction(show, node, false);
    EXPECT_FALSE(node->visible()); // started, not yet stepped
    manager->update(0);
    EXPECT_TRUE(node->visible());
    EXPECT_EQ(manager->numberOfRunningActionsInTarget(node), 0u);
    EXPECT_EQ(show->target(), nullptr);
}

TEST_F(ActionInstantTest, VisibilityActionsAndTheirReverses) {
    run(CCHide::action(), node);
    EXPECT_FALSE(node->visible());
    run(CCHide::action()->reverse(), node);
    EXPECT_TRUE(node->visible());
    run(CCShow::action()->reverse(), node);
    EXPECT_FALSE(node->visible());
    EXPECT_EQ(fltest::dynamicType(CCShow::action()->reverse()), typeid(CCHide));

    auto toggle = CCToggleVisibility::action();
    run(toggle, node);
    EXPECT_TRUE(node->visible());
    run(toggle, node);
    EXPECT_FALSE(node->visible());
    auto back = toggle->reverse();
    EXPECT_EQ(fltest::dynamicType(back), typeid(CCToggleVisibility));
    EXPECT_NE(back.get(), toggle.get());
}

TEST_F(ActionInstantTest, FlipsSetTheSpritesFlagsAndReverseToTheOpposite) {
    Ref<CCSprite> sprite = CCSprite::node();
    run(CCFlipX::actionWithFlipX(true), sprite);
    run(CCFlipY::actionWithFlipY(true), sprite);
    EXPECT_TRUE(sprite->flipX());
    EXPECT_TRUE(sprite->flipY());
    run(CCFlipX::actionWithFlipX(true)->reverse(), sprite);
    EXPECT_FALSE(sprite->flipX());
    run(CCFlipY::actionWithFlipY(true)->reverse(), sprite);
    EXPECT_FALSE(sprite->flipY());

    auto flip = CCFlipX::actionWithFlipX(true);
    flip->setTag(4);
    auto copy = platform::copyOf(flip.get());
    EXPECT_EQ(copy->tag(), -1);
    run(copy, sprite);
    EXPECT_TRUE(sprite->flipX());
    run(CCFlipY::actionWithFlipY(false)->reverse(), sprite);
    EXPECT_TRUE(sprite->flipY());

    run(CCFlipX::actionWithFlipX(true), node); // not a sprite: nothing to flip
}

TEST_F(ActionInstantTest, PlaceMovesTheNodeAndCopiesKeepThePointButNotTheTag) {
    auto place = CCPlace::actionWithPosition({3, -4});
    place->setTag(9);
    auto copy = platform::copyOf(place.get());
    EXPECT_EQ(copy->tag(), -1);
    EXPECT_EQ(fltest::dynamicType(copy), typeid(CCPlace));
    run(copy, node);
    EXPECT_EQ(node->position(), CGPointMake(3, -4));
    auto back = place->reverse();
    node->setPosition(CGPointZero);
    run(back, node);
    EXPECT_EQ(node->position(), CGPointMake(3, -4));
}

TEST_F(ActionInstantTest, CallFuncRetainsItsTargetAndFiresOnceThroughTheManager) {
    const auto before = receiver->retainCount();
    {
        auto call = CCCallFunc::actionWithTarget(receiver, fl_selector(Receiver::onCall));
        EXPECT_EQ(receiver->retainCount(), before + 1);
        call->setTag(2);
        EXPECT_EQ(call->description(),
                  platform::format("<CCCallFunc = %p | Tag = 2 | selector = onCall>", call.get()));
        manager->addAction(call, node, false);
        manager->update(1.0 / 60);
        manager->update(1.0 / 60);
        EXPECT_EQ(receiver->calls, (std::vector<std::string>{"call"}));
        EXPECT_EQ(manager->numberOfRunningActionsInTarget(node), 0u);
    }
    EXPECT_EQ(receiver->retainCount(), before);

    // The callback object outlives everyone else's references while the action holds it.
    Receiver* raw = receiver.get();
    auto call = CCCallFunc::actionWithTarget(raw, fl_selector(Receiver::onCall));
    receiver = nullptr;
    run(call, node);
    EXPECT_EQ(raw->calls.size(), 2u);
    EXPECT_EQ(call->targetCallback(), raw);
}

TEST_F(ActionInstantTest, CallFuncNInASequencePassesTheNodeItRunsOn) {
    Ref<CCSprite> sprite = CCSprite::node();
    auto seq = CCSequence::actions(CCDelayTime::actionWithDuration(0.5),
                                   CCCallFuncN::actionWithTarget(receiver, fl_selector(Receiver::onNode)));
    manager->addAction(seq, sprite, false);
    for (int i = 0; i < 5; ++i)
        manager->update(0.25);
    EXPECT_EQ(receiver->calls, (std::vector<std::string>{"node"}));
    EXPECT_EQ(receiver->nodes, (std::vector<CCNode*>{sprite.get()}));

    auto copy =
        platform::copyOf(CCCallFuncN::actionWithTarget(receiver, fl_selector(Receiver::onNode)).get());
    EXPECT_EQ(fltest::dynamicType(copy), typeid(CCCallFuncN));
    run(copy, node);
    EXPECT_EQ(receiver->nodes.back(), node.get());
    EXPECT_NE(copy->description().find("selector = onNode:"), std::string::npos);
}

TEST_F(ActionInstantTest, CallFuncNDCopyLooksTheMethodUpAgainAndKeepsTheData) {
    int payload = 0;
    auto call = CCCallFuncND::actionWithTarget(receiver, fl_selector(Receiver::onData), &payload);
    EXPECT_EQ(call->callbackMethod(), fl_selector(Receiver::onData).thunk());
    call->setCallbackMethod(fl_selector(Receiver::onOther).thunk());
    run(call, node);
    EXPECT_EQ(receiver->calls, (std::vector<std::string>{"other"}));

    auto copy = platform::copyOf(call.get());
    EXPECT_EQ(copy->data(), &payload);
    run(copy, node);
    EXPECT_EQ(receiver->calls.back(), "data");
    EXPECT_EQ(receiver->datas, (std::vector<void*>{&payload}));
    EXPECT_EQ(receiver->nodes, (std::vector<CCNode*>{node.get()}));
}

TEST_F(ActionInstantTest, ObjectFormsRetainTheirObjectAndCopiesPassTheSameOne) {
    Ref<Object> thing = make<Object>();
    const auto before = thing->retainCount();
    auto call = CCCallFuncO::actionWithTarget(receiver, fl_selector(Receiver::onObject), thing);
    EXPECT_EQ(thing->retainCount(), before + 1);
    auto copy = platform::copyOf(call.get());
    EXPECT_EQ(thing->retainCount(), before + 2);
    run(copy, node);
    EXPECT_EQ(receiver->objects, (std::vector<Object*>{thing.get()}));
    call->setObject(nullptr);
    run(call, node);
    EXPECT_EQ(receiver->objects.back(), nullptr);

    std::vector<Object*> seen;
    auto block = CCCallBlockO::actionWithBlock([&](Object* o) { seen.push_back(o); }, thing);
    block->setTag(5);
    auto blockCopy = platform::copyOf(block.get());
    EXPECT_EQ(blockCopy->tag(), -1);
    block = nullptr;
    run(blockCopy, node);
    EXPECT_EQ(seen, (std::vector<Object*>{thing.get()}));
}

TEST_F(ActionInstantTest, BlocksRunOnceAndTheNodeFormGetsItsTarget) {
    int calls = 0;
    auto block = CCCallBlock::actionWithBlock([&] { ++calls; });
    manager->addAction(block, node, false);
    manager->update(0.1);
    manager->update(0.1);
    EXPECT_EQ(calls, 1);
    run(platform::copyOf(block.get()), node);
    EXPECT_EQ(calls, 2);

    CCNode* seen = nullptr;
    auto withNode = CCCallBlockN::actionWithBlock([&](CCNode* n) { seen = n; });
    run(withNode->reverse(), node);
    EXPECT_EQ(seen, node.get());

    // Empty callbacks and missing callback objects do nothing.
    run(CCCallBlock::actionWithBlock(nullptr), node);
    run(CCCallFunc::actionWithTarget(nullptr, fl_selector(Receiver::onCall)), node);
    run(CCCallFunc::action(), node);
}

TEST_F(ActionInstantTest, ABlockMayDropItsOwnActionWhileRunning) {
    int calls = 0;
    Ref<CCCallBlock> self;
    self = CCCallBlock::actionWithBlock([&] {
        self = nullptr; // the last reference: the action and its stored block go
        ++calls;
    });
    CCCallBlock* raw = self.get();
    raw->step(0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(self, nullptr);
}
