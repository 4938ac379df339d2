#include "graphics/CCMenu.h"

#include "core/CCArray.h"
#include "core/CCGLView.h"
#include "core/CCScene.h"
#include "core/CCTouchDispatcher.h"
#include "platform/Device.h"
#include "platform/Exception.h"
#include "tests/graphics/SpriteTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using fltest::CallLog;
using platform::make;
using platform::Object;
using platform::Ref;
using platform::Touch;
using platform::TouchPhase;

// An item that logs what the menu sends it.
class Probe : public CCMenuItem {
public:
    // w x h points centred at (x, y) in the menu's space.
    static Ref<Probe> at(std::string name, CallLog* log, double x, double y, double w = 40, double h = 20) {
        auto p = make<Probe>();
        p->init();
        p->name = std::move(name);
        p->log = log;
        p->setContentSize(CGSizeMake(w, h));
        p->setPosition(CGPointMake(x, y));
        p->setBlock([p = p.get()](Object*) { p->log->add(p->name + ":handler"); });
        return p;
    }
    void selected() override {
        log->add(name + ":selected");
        CCMenuItem::selected();
    }
    void unselected() override {
        log->add(name + ":unselected");
        CCMenuItem::unselected();
    }
    void activate() override {
        log->add(name + ":activate");
        CCMenuItem::activate();
    }
    std::string name;
    CallLog* log = nullptr;
};

// A layer behind the menu that claims every touch offered to it.
class BackLayer : public CCLayer {
public:
    bool init() override {
        if (!CCLayer::init()) return false;
        setTouchMode(kCCTouchesOneByOne);
        setTouchEnabled(true);
        return true;
    }
    bool ccTouchBegan(Touch*, platform::Event*) override {
        log->add("layer:began");
        return true;
    }
    void ccTouchEnded(Touch*, platform::Event*) override { log->add("layer:ended"); }
    CallLog* log = nullptr;
};

class MenuTest : public fltest::SpriteFixture {
protected:
    CGSize viewSize() const override { return CGSizeMake(480, 320); }
    void TearDown() override {
        touch = nullptr;
        scene = nullptr;
        fltest::SpriteFixture::TearDown();
    }

    // A running scene with a touch-taking layer behind the menu.
    void stage(CCMenu* menu) {
        scene = CCScene::node();
        layer = makeNode<BackLayer>();
        layer->log = &log;
        scene->addChild(layer.get());
        if (menu) scene->addChild(menu);
        director()->runWithScene(scene.get());
    }

    // Finger events through the GL view, at points in GL coordinates (origin bottom-left).
    CGPoint ui(double x, double y) const { return CGPointMake(x, 320 - y); }
    void send(void (CCGLView::*phase)(const platform::TouchSet&, platform::Event*)) {
        platform::TouchSet set;
        set.add(touch.get());
        auto event = make<platform::Event>(time);
        (view()->*phase)(set, event.get());
    }
    void down(double x, double y) {
        time += 0.1;
        touch = make<Touch>(view(), ui(x, y), time);
        send(&CCGLView::touchesBegan);
    }
    void move(double x, double y) {
        time += 0.1;
        touch->update(ui(x, y), time, TouchPhase::Moved);
        send(&CCGLView::touchesMoved);
    }
    void up() {
        time += 0.1;
        touch->setPhase(TouchPhase::Ended);
        send(&CCGLView::touchesEnded);
    }
    void cancel() {
        time += 0.1;
        touch->setPhase(TouchPhase::Cancelled);
        send(&CCGLView::touchesCancelled);
    }
    void tap(double x, double y) {
        down(x, y);
        up();
    }
    // A touch for the hit test alone.
    Ref<Touch> touchAt(double x, double y) const { return make<Touch>(view(), ui(x, y), 0.0); }

    CallLog log;
    Ref<CCScene> scene;
    Ref<BackLayer> layer;
    Ref<Touch> touch;
    double time = 0;
};

using Calls = std::vector<std::string>;

// The menu's origin is the window's centre: (240, 160).
constexpr double kCX = 240, kCY = 160;

// ---- making and registering ----

TEST_F(MenuTest, NewMenuFillsTheWindowCentredBelowTheStatusBar) {
    auto a = Probe::at("a", &log, 0, 0), b = Probe::at("b", &log, 0, 0);
    auto menu = CCMenu::menuWithItems({a.get(), b.get()});
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->position(), CGPointMake(240, 160));
    EXPECT_EQ(menu->contentSize(), CGSizeMake(480, 320));
    EXPECT_TRUE(menu->ignoreAnchorPointForPosition());
    EXPECT_EQ(menu->anchorPoint(), CGPointMake(0.5, 0.5));
    EXPECT_TRUE(menu->enabled());
    EXPECT_EQ(menu->state(), kCCMenuStateWaiting);
    EXPECT_EQ(a->zOrder(), 0);
    EXPECT_EQ(b->zOrder(), 1);
    EXPECT_EQ(a->tag(), kCCNodeTagInvalid);
    EXPECT_TRUE(menu->isCascadeColorEnabled());
    EXPECT_TRUE(menu->isCascadeOpacityEnabled());
    EXPECT_EQ(menu->touchPriority(), kCCMenuHandlerPriority);
    EXPECT_EQ(menu->touchMode(), kCCTouchesOneByOne);

    // The list stops at the first null.
    auto c = Probe::at("c", &log, 0, 0);
    EXPECT_EQ(
        CCMenu::menuWithItems({c.get(), nullptr, Probe::at("d", &log, 0, 0).get()})->children()->count(), 1u);
    auto empty = makeNode<CCMenu>();
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->children(), nullptr);

    // A 20-point status bar lowers the centre by half of it.
    platform::DeviceProfile profile = platform::DeviceProfile::phone();
    profile.statusBarFrame = CGRectMake(0, 0, 480, 20);
    platform::Device::setCurrent(profile);
    EXPECT_EQ(CCMenu::menuWithArray({})->position(), CGPointMake(240, 150));

    // Colour set on the menu reaches its items.
    menu->setOpacity(51);
    EXPECT_EQ(a->displayedOpacity(), 51);
}

TEST_F(MenuTest, RunningMenuIsAskedBeforeLayersAndSwallowsWhatItClaims) {
    auto menu = CCMenu::menuWithItems({Probe::at("a", &log, 0, 0).get()});
    stage(menu.get());
    const CCTouchHandlerArray& handlers = director()->touchDispatcher()->targetedHandlers();
    ASSERT_EQ(handlers.size(), 2u);
    EXPECT_EQ(handlers[0]->delegate(), menu.get());
    EXPECT_EQ(handlers[0]->priority(), -128);
    EXPECT_TRUE(static_cast<CCTargetedTouchHandler*>(handlers[0].get())->swallowsTouches());
    EXPECT_EQ(handlers[1]->delegate(), layer.get());

    tap(kCX, kCY);
    EXPECT_EQ(log.calls, (Calls{"a:selected", "a:unselected", "a:activate", "a:handler"}));
    EXPECT_EQ(menu->state(), kCCMenuStateWaiting);

    // Off every item the touch goes on to the layer.
    log.clear();
    tap(kCX + 100, kCY);
    EXPECT_EQ(log.calls, (Calls{"layer:began", "layer:ended"}));

    // Moved behind the layer, the menu no longer sees touches the layer claims.
    log.clear();
    menu->setHandlerPriority(10);
    EXPECT_EQ(handlers[0]->delegate(), layer.get());
    tap(kCX, kCY);
    EXPECT_EQ(log.calls, (Calls{"layer:began", "layer:ended"}));

    // Leaving the scene unregisters the menu.
    menu->removeFromParentAndCleanup(true);
    EXPECT_EQ(director()->touchDispatcher()->findHandler(menu.get()), nullptr);
}

// ---- tracking one touch ----

TEST_F(MenuTest, DraggingMovesTheSelectionAndOnlyTheLastItemActivates) {
    auto a = Probe::at("a", &log, -50, 0), b = Probe::at("b", &log, 50, 0);
    auto menu = CCMenu::menuWithItems({a.get(), b.get()});
    stage(menu.get());

    down(kCX - 50, kCY);
    EXPECT_EQ(menu->state(), kCCMenuStateTrackingTouch);
    EXPECT_EQ(menu->selectedItem(), a.get());
    move(kCX - 45, kCY + 5); // still on a: nothing new
    move(kCX + 50, kCY);
    EXPECT_EQ(menu->selectedItem(), b.get());
    up();
    EXPECT_EQ(log.calls,
              (Calls{"a:selected", "a:unselected", "b:selected", "b:unselected", "b:activate", "b:handler"}));
    EXPECT_EQ(menu->selectedItem(), b.get()) << "kept until the next touch";

    // Off every item and lifted there: nothing activates.
    log.clear();
    down(kCX + 50, kCY);
    move(kCX, kCY + 100);
    EXPECT_EQ(menu->selectedItem(), nullptr);
    move(kCX, kCY + 110);
    up();
    EXPECT_EQ(log.calls, (Calls{"b:selected", "b:unselected"}));
    EXPECT_EQ(menu->state(), kCCMenuStateWaiting);

    // Back onto an item after leaving them all.
    log.clear();
    down(kCX - 50, kCY);
    move(kCX, kCY + 100);
    move(kCX + 50, kCY);
    up();
    EXPECT_EQ(log.calls,
              (Calls{"a:selected", "a:unselected", "b:selected", "b:unselected", "b:activate", "b:handler"}));
}

TEST_F(MenuTest, CancelledOrAbandonedTouchesActivateNothing) {
    auto a = Probe::at("a", &log, 0, 0);
    auto menu = CCMenu::menuWithItems({a.get()});
    stage(menu.get());

    down(kCX, kCY);
    cancel();
    EXPECT_EQ(log.calls, (Calls{"a:selected", "a:unselected"}));
    EXPECT_EQ(menu->state(), kCCMenuStateWaiting);

    // Leaving the scene mid-touch drops the touch the same way.
    log.clear();
    down(kCX, kCY);
    menu->removeFromParentAndCleanup(true);
    EXPECT_EQ(log.calls, (Calls{"a:selected", "a:unselected"}));
    EXPECT_EQ(menu->state(), kCCMenuStateWaiting);
    EXPECT_EQ(menu->selectedItem(), nullptr);
    up();
    EXPECT_EQ(log.calls.size(), 2u);
}

TEST_F(MenuTest, DisablingTheMenuBlocksNewTouchesOnly) {
    auto a = Probe::at("a", &log, 0, 0);
    auto menu = CCMenu::menuWithItems({a.get()});
    stage(menu.get());

    down(kCX, kCY);
    menu->setEnabled(false);
    up();
    EXPECT_EQ(log.calls, (Calls{"a:selected", "a:unselected", "a:activate", "a:handler"}));

    log.clear();
    tap(kCX, kCY);
    EXPECT_EQ(log.calls, (Calls{"layer:began", "layer:ended"}));
}

TEST_F(MenuTest, HiddenMenusAndMenusUnderHiddenAncestorsClaimNothing) {
    auto a = Probe::at("a", &log, 0, 0);
    auto menu = CCMenu::menuWithItems({a.get()});
    auto outer = CCNode::node(), inner = CCNode::node();
    outer->addChild(inner.get());
    inner->addChild(menu.get());
    scene = CCScene::node();
    layer = makeNode<BackLayer>();
    layer->log = &log;
    scene->addChild(layer.get());
    scene->addChild(outer.get());
    director()->runWithScene(scene.get());

    outer->setVisible(false);
    tap(kCX, kCY);
    EXPECT_EQ(log.calls, (Calls{"layer:began", "layer:ended"}));

    log.clear();
    outer->setVisible(true);
    menu->setVisible(false);
    tap(kCX, kCY);
    EXPECT_EQ(log.calls, (Calls{"layer:began", "layer:ended"}));

    log.clear();
    menu->setVisible(true);
    tap(kCX, kCY);
    EXPECT_EQ(log.calls.front(), "a:selected");
}

TEST_F(MenuTest, HitTestTakesTheFirstVisibleEnabledItemUnderTheTouch) {
    auto low = Probe::at("low", &log, 0, 0, 40, 40);
    auto high = Probe::at("high", &log, 10, 0, 40, 40);
    auto menu = CCMenu::menuWithItems({low.get(), high.get()});
    auto decoration = CCNode::node(); // not an item: never hit
    decoration->setContentSize(CGSizeMake(480, 320));
    menu->addChild(decoration.get(), -1);

    // Overlapping items: the first in the children's order wins, not the one drawn on top.
    EXPECT_EQ(menu->itemForTouch(touchAt(kCX + 5, kCY).get()), low.get());
    EXPECT_EQ(menu->itemForTouch(touchAt(kCX + 25, kCY).get()), high.get());
    low->setIsEnabled(false);
    EXPECT_EQ(menu->itemForTouch(touchAt(kCX + 5, kCY).get()), high.get());
    EXPECT_EQ(menu->itemForTouch(touchAt(kCX - 15, kCY).get()), nullptr);
    high->setVisible(false);
    EXPECT_EQ(menu->itemForTouch(touchAt(kCX + 5, kCY).get()), nullptr);
    low->setIsEnabled(true);

    // Area edges: the origin edge is inside, the far edge outside (heights convert exactly).
    EXPECT_EQ(menu->itemForTouch(touchAt(kCX, kCY - 20).get()), low.get());
    EXPECT_EQ(menu->itemForTouch(touchAt(kCX, kCY + 20).get()), nullptr);

    // The area is in the item's own space: it scales and moves with the item.
    low->setScale(2);
    EXPECT_EQ(menu->itemForTouch(touchAt(kCX + 30, kCY).get()), low.get());
    low->setActiveArea(CGRectMake(-20, 0, 20, 40));
    EXPECT_EQ(menu->itemForTouch(touchAt(kCX - 50, kCY).get()), low.get());
    EXPECT_EQ(menu->itemForTouch(touchAt(kCX + 30, kCY).get()), nullptr);

    // A menu reordered since its last draw hits in its new order.
    low->setScale(1);
    low->setActiveArea(CGRectMake(0, 0, 40, 40));
    high->setVisible(true);
    menu->reorderChild(high.get(), -5);
    EXPECT_EQ(menu->itemForTouch(touchAt(kCX + 5, kCY).get()), high.get());
    EXPECT_EQ(menu->itemForTouch(nullptr), nullptr);
}

TEST_F(MenuTest, ItemsRemovedDuringATouchAreLeftAlone) {
    Probe* raw = nullptr;
    auto menu = CCMenu::menuWithItems({});
    {
        auto a = Probe::at("a", &log, 0, 0);
        menu->addChild(a.get(), 0);
        raw = a.get();
    }
    stage(menu.get());
    down(kCX, kCY);
    ASSERT_EQ(menu->selectedItem(), raw);
    raw->removeFromParentAndCleanup(true); // the menu held the last reference
    move(kCX + 1, kCY);
    up();
    EXPECT_EQ(log.calls, (Calls{"a:selected"}));
    EXPECT_EQ(menu->state(), kCCMenuStateWaiting);

    // A handler may take the whole menu off the scene.
    log.clear();
    CCMenu* rawMenu = menu.get();
    auto b = Probe::at("b", &log, 0, 0);
    b->setBlock([&](Object*) {
        rawMenu->removeFromParentAndCleanup(true);
        log.add("removed");
    });
    menu->addChild(b.get(), 0);
    menu = nullptr;
    tap(kCX, kCY);
    EXPECT_EQ(log.calls, (Calls{"b:selected", "b:unselected", "b:activate", "removed"}));
    EXPECT_EQ(b->retainCount(), 1u);
}

// ---- layout ----

TEST_F(MenuTest, ColumnsAndRowsAreCentredOnTheMenu) {
    auto a = Probe::at("a", &log, 7, 7, 30, 40), b = Probe::at("b", &log, 7, 7, 50, 40),
         c = Probe::at("c", &log, 7, 7, 20, 40);
    auto menu = CCMenu::menuWithItems({a.get(), b.get(), c.get()});
    menu->alignItemsVertically();
    EXPECT_EQ(a->position(), CGPointMake(0, 45));
    EXPECT_EQ(b->position(), CGPointMake(0, 0));
    EXPECT_EQ(c->position(), CGPointMake(0, -45));

    // Scaled heights count; padding 10: height = -10 + 50 + 90 + 50 = 180.
    b->setScaleY(2);
    menu->alignItemsVerticallyWithPadding(10);
    EXPECT_EQ(a->position(), CGPointMake(0, 70));
    EXPECT_EQ(b->position(), CGPointMake(0, 0));
    EXPECT_EQ(c->position(), CGPointMake(0, -70));

    // Widths 30, 50 x 2, 20 with padding 5: width = 160, from -80.
    b->setScaleY(1);
    b->setScaleX(2);
    menu->alignItemsHorizontally();
    EXPECT_EQ(a->position(), CGPointMake(-65, 0));
    EXPECT_EQ(b->position(), CGPointMake(5, 0));
    EXPECT_EQ(c->position(), CGPointMake(70, 0));
    menu->alignItemsHorizontallyWithPadding(0);
    EXPECT_EQ(a->position(), CGPointMake(-60, 0));
    EXPECT_EQ(c->position(), CGPointMake(65, 0));

    // Sums run in single precision.
    a->setContentSize(CGSizeMake(0.1, 0.1));
    b->setScaleY(1);
    menu->alignItemsVerticallyWithPadding(0.3f);
    float height = -0.3f;
    for (double h : {0.1, 40.0, 40.0})
        height = static_cast<float>(height + h + static_cast<double>(0.3f));
    EXPECT_EQ(a->position().y, static_cast<double>(height / 2.0f) - 0.05);
}

TEST_F(MenuTest, GridsByRowsSpreadEachRowOverTheWindow) {
    auto a = Probe::at("a", &log, 0, 0, 20, 30), b = Probe::at("b", &log, 0, 0, 20, 30),
         c = Probe::at("c", &log, 0, 0, 20, 30);
    auto menu = CCMenu::menuWithItems({a.get(), b.get(), c.get()});
    menu->alignItemsInColumns({2, 1});
    EXPECT_EQ(a->position(), CGPointMake(-80, 17));
    EXPECT_EQ(b->position(), CGPointMake(80, 17));
    EXPECT_EQ(c->position(), CGPointMake(0, -18));

    // Row heights are the tallest item, truncated to whole points; scale is ignored.
    // Heights 30.7 and 11 then 21: height = -5 + 35 + 26 = 56, y from 28.
    a->setContentSize(CGSizeMake(20, 30.7));
    b->setContentSize(CGSizeMake(20, 11));
    c->setContentSize(CGSizeMake(20, 21));
    c->setScale(3);
    menu->alignItemsInColumnsWithArray({2, 1});
    EXPECT_EQ(a->position(), CGPointMake(-80, 28 - 15.35));
    EXPECT_EQ(b->position(), CGPointMake(80, 22.5));
    EXPECT_EQ(c->position(), CGPointMake(0, -7 - 10.5));

    menu->alignItemsInColumns({1, 1, 1});
    EXPECT_EQ(a->position().x, 0);
    EXPECT_EQ(c->position().x, 0);
}

TEST_F(MenuTest, GridsByColumnsUseTheirOwnGaps) {
    auto a = Probe::at("a", &log, 0, 0, 41, 30), b = Probe::at("b", &log, 0, 0, 20, 10),
         c = Probe::at("c", &log, 0, 0, 60, 20);
    auto menu = CCMenu::menuWithItems({a.get(), b.get(), c.get()});
    // Measured: columns 41 and 60 wide, 45 and 20 high; width = -10 + 51 + 70 = 111.
    // Placed from x = -55, with 5 between columns and 10 between items.
    menu->alignItemsInRows({2, 1});
    EXPECT_EQ(a->position(), CGPointMake(-55 + 20, (45 + 320) / 2.0 - 160));
    EXPECT_EQ(b->position(), CGPointMake(-35, 182.5 - 40 - 160));
    EXPECT_EQ(c->position(), CGPointMake(-55 + 41 + 5 + 30, 10));

    // One column as wide as its widest item, centred.
    menu->alignItemsInRowsWithArray({3});
    EXPECT_EQ(a->position().x, 0);
    EXPECT_EQ(c->position().x, 0);
}

TEST_F(MenuTest, GridCountsMustCoverTheItemsExactly) {
    auto a = Probe::at("a", &log, 1, 2), b = Probe::at("b", &log, 1, 2), c = Probe::at("c", &log, 1, 2);
    auto menu = CCMenu::menuWithItems({a.get(), b.get(), c.get()});
    using Counts = std::vector<std::uint64_t>;
    for (const Counts& counts : {Counts{2}, Counts{2, 2}, Counts{}, Counts{0, 3}, Counts{3, 0},
                                 Counts{1, UINT64_MAX}, Counts{UINT64_MAX, UINT64_MAX, 3}}) {
        for (bool byRows : {true, false}) {
            try {
                if (byRows)
                    menu->alignItemsInColumnsWithArray(counts);
                else
                    menu->alignItemsInRowsWithArray(counts);
                ADD_FAILURE() << "no exception for " << counts.size() << " counts";
            } catch (const platform::Exception& e) {
                EXPECT_EQ(e.name(), platform::NSInternalInconsistencyException);
            }
        }
    }
    EXPECT_EQ(a->position(), CGPointMake(1, 2)) << "nothing moves";
    EXPECT_EQ(c->position(), CGPointMake(1, 2));

    // An empty menu lays out nothing, in every way.
    auto empty = CCMenu::menuWithArray({});
    empty->alignItemsVertically();
    empty->alignItemsHorizontally();
    empty->alignItemsInColumns({});
    empty->alignItemsInRows({});
}

} // namespace
