// Fixtures shared by the action tests.
#pragma once

#include "actions/CCActionManager.h"
#include "core/CCDirector.h"
#include "core/CCScheduler.h"
#include "tests/support/EngineTestSupport.h"

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

} // namespace fltest
