#include "core/CCLayer.h"
#include "core/CCNodeRGBA.h"
#include "tests/support/EngineTestSupport.h"

#include <gtest/gtest.h>

namespace {

using ColorCascadeTest = fltest::EngineTest;

// parent > child > grandchild, every level cascading both values.
struct Chain {
    platform::Ref<CCNodeRGBA> parent = CCNodeRGBA::node();
    platform::Ref<CCNodeRGBA> child = CCNodeRGBA::node();
    platform::Ref<CCNodeRGBA> grandchild = CCNodeRGBA::node();
    Chain() {
        parent->addChild(child.get());
        child->addChild(grandchild.get());
        for (CCNodeRGBA* n : {parent.get(), child.get(), grandchild.get()}) {
            n->setCascadeOpacityEnabled(true);
            n->setCascadeColorEnabled(true);
        }
    }
};

TEST_F(ColorCascadeTest, OpacityFlowsDownThreeLevelsTruncated) {
    Chain c;
    c.grandchild->setOpacity(128);
    c.parent->setOpacity(128);
    EXPECT_EQ(c.parent->displayedOpacity(), 128);
    EXPECT_EQ(c.child->displayedOpacity(), 128);
    EXPECT_EQ(c.child->opacity(), 255) << "a cascade never touches the real value";
    EXPECT_EQ(c.grandchild->displayedOpacity(), 64) << "128 x 128 / 255 = 64.25, truncated";

    // A child's own change starts from its parent's displayed value.
    c.child->setOpacity(200);
    EXPECT_EQ(c.child->displayedOpacity(), 100);     // 200 x 128 / 255 = 100.4
    EXPECT_EQ(c.grandchild->displayedOpacity(), 50); // 128 x 100 / 255 = 50.2
}

TEST_F(ColorCascadeTest, ColourFlowsDownChannelByChannel) {
    Chain c;
    c.child->setColor(ccc3(255, 0, 128));
    c.grandchild->setColor(ccc3(255, 255, 255));
    c.parent->setColor(ccc3(128, 128, 128));
    EXPECT_EQ(c.child->displayedColor(), ccc3(128, 0, 64));
    EXPECT_EQ(c.child->color(), ccc3(255, 0, 128));
    EXPECT_EQ(c.grandchild->displayedColor(), ccc3(128, 0, 64));
}

TEST_F(ColorCascadeTest, SwitchedOffCascadesStopTheFlow) {
    Chain c;
    // Parent not cascading: a cascading child takes 255 as its parent's value.
    c.parent->setCascadeOpacityEnabled(false);
    c.parent->setOpacity(100);
    EXPECT_EQ(c.child->displayedOpacity(), 255);
    c.child->setOpacity(200);
    EXPECT_EQ(c.child->displayedOpacity(), 200);

    // Child not cascading: its own setter ignores the parent, but the parent still reaches it.
    Chain d;
    d.parent->setOpacity(128);
    d.child->setCascadeOpacityEnabled(false);
    d.child->setOpacity(200);
    EXPECT_EQ(d.child->displayedOpacity(), 200);
    d.parent->setOpacity(51);
    EXPECT_EQ(d.child->displayedOpacity(), 40); // 200 x 51 / 255
    EXPECT_EQ(d.grandchild->displayedOpacity(), 128) << "the non-cascading child passes nothing on";

    // Switching a flag recomputes nothing.
    d.child->setCascadeOpacityEnabled(true);
    EXPECT_EQ(d.grandchild->displayedOpacity(), 128);
}

TEST_F(ColorCascadeTest, PlainNodesAndLaterChildrenAreNotReached) {
    auto parent = CCNodeRGBA::node();
    auto plain = CCNode::node();
    auto below = CCNodeRGBA::node();
    parent->setCascadeColorEnabled(true);
    parent->addChild(plain.get());
    plain->addChild(below.get());
    parent->setColor(ccc3(10, 20, 30));
    EXPECT_EQ(below->displayedColor(), ccWHITE);

    // A child added under a tinted parent keeps its values until the next change.
    auto late = CCNodeRGBA::node();
    parent->addChild(late.get());
    EXPECT_EQ(late->displayedColor(), ccWHITE);
    parent->setColor(ccc3(10, 20, 30));
    EXPECT_EQ(late->displayedColor(), ccc3(10, 20, 30));
}

TEST_F(ColorCascadeTest, LayersAndNodesCascadeIntoEachOther) {
    auto layer = CCLayerRGBA::node();
    auto node = CCNodeRGBA::node();
    auto colorLayer = CCLayerColor::layerWithColor(ccc4(255, 255, 255, 255), 10, 10);
    layer->addChild(node.get());
    node->addChild(colorLayer.get());
    for (CCRGBAProtocol* p :
         std::initializer_list<CCRGBAProtocol*>{layer.get(), node.get(), colorLayer.get()})
        p->setCascadeOpacityEnabled(true);
    EXPECT_FALSE(CCLayerRGBA::node()->isCascadeOpacityEnabled());

    layer->setOpacity(128);
    EXPECT_EQ(node->displayedOpacity(), 128);
    EXPECT_EQ(colorLayer->displayedOpacity(), 128);
    // The colour layer repaints its corners from what it displays.
    EXPECT_FLOAT_EQ(colorLayer->squareColors()[0].a, 128 / 255.0f);

    // Colour takes the same road, and a gradient repaints from its displayed start colour.
    auto gradient = CCLayerGradient::layerWithColor(ccc4(255, 255, 255, 255), ccc4(0, 0, 0, 255));
    node->addChild(gradient.get());
    for (CCRGBAProtocol* p :
         std::initializer_list<CCRGBAProtocol*>{layer.get(), node.get(), colorLayer.get(), gradient.get()})
        p->setCascadeColorEnabled(true);
    layer->setColor(ccc3(255, 0, 128));
    EXPECT_EQ(colorLayer->displayedColor(), ccc3(255, 0, 128));
    EXPECT_EQ(colorLayer->color(), ccWHITE);
    EXPECT_FLOAT_EQ(colorLayer->squareColors()[3].b, 128 / 255.0f);
    // Along (0, -1) the top corners show the start colour.
    EXPECT_FLOAT_EQ(gradient->squareColors()[2].r, 1.0f);
    EXPECT_FLOAT_EQ(gradient->squareColors()[2].g, 0.0f);
    EXPECT_FLOAT_EQ(gradient->squareColors()[2].b, 128 / 255.0f);
}

} // namespace
