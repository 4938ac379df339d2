#include "graphics/CCMenuItem.h"

#include "actions/CCActionInterval.h"
#include "actions/CCActionManager.h"
#include "actions/CCActionVisual.h"
#include "core/CCArray.h"
#include "core/CCFileUtils.h"
#include "core/CCLayer.h"
#include "core/CCScene.h"
#include "graphics/CCLabelAtlas.h"
#include "graphics/CCLabelTTF.h"
#include "graphics/CCMenu.h"
#include "graphics/CCSprite.h"
#include "graphics/CCSpriteFrame.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/Image.h"
#include "tests/graphics/SpriteTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using fltest::makePlainTexture;
using platform::make;
using platform::Object;
using platform::Ref;

// A handler's owner: records the senders its handler was given.
class Target : public Object {
public:
    void tapped(Object* sender) { senders.push_back(sender); }
    std::vector<Object*> senders;
};

class MenuItemTest : public fltest::SpriteFixture {
protected:
    void SetUp() override {
        fltest::SpriteFixture::SetUp();
        dir = fs::temp_directory_path() /
              platform::format("footlight-menu-item-%d", static_cast<int>(getpid()));
        fs::create_directories(dir);
        CCFileUtils::sharedFileUtils()->setSearchPath({dir.string()});
    }
    void TearDown() override {
        CCMenuItemFont::setDefaultFontName("Marker Felt");
        CCMenuItemFont::setDefaultFontSize(32);
        for (const std::string& line : logLines)
            EXPECT_EQ(line.find("OpenGL error"), std::string::npos) << line;
        scene = nullptr;
        fs::remove_all(dir);
        fltest::SpriteFixture::TearDown();
    }

    // A PNG of one colour (0xRRGGBBAA) in the test folder.
    void writePNG(const std::string& name, std::uint32_t w, std::uint32_t h, std::uint32_t rgba) {
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * 4);
        for (std::size_t i = 0; i < pixels.size(); i += 4) {
            pixels[i] = static_cast<std::uint8_t>(rgba >> 24);
            pixels[i + 1] = static_cast<std::uint8_t>(rgba >> 16);
            pixels[i + 2] = static_cast<std::uint8_t>(rgba >> 8);
            pixels[i + 3] = static_cast<std::uint8_t>(rgba);
        }
        ASSERT_TRUE(platform::Image::writePNG((dir / name).string(), pixels.data(), w, h));
    }
    // Puts the node on a running scene, so its actions run.
    void stage(CCNode* node) {
        scene = CCScene::node();
        scene->addChild(node);
        director()->runWithScene(scene.get());
    }
    // Steps the running actions; a new interval action takes its first step as time zero.
    void step(double dt) { director()->actionManager()->update(dt); }
    static Ref<CCSprite> sprite(int w, int h, std::uint32_t rgba = 0xFFFFFFFFu) {
        return CCSprite::spriteWithTexture(makePlainTexture(w, h, rgba).get());
    }

    fs::path dir;
    Ref<CCScene> scene;
};

// ---- the base item ----

TEST_F(MenuItemTest, NewItemsAreCentredEnabledAndTheirAreaFollowsTheirSize) {
    auto item = CCMenuItem::itemWithBlock(nullptr);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->anchorPoint(), CGPointMake(0.5, 0.5));
    EXPECT_TRUE(item->isEnabled());
    EXPECT_FALSE(item->isSelected());
    EXPECT_TRUE(item->releaseBlockAtCleanup());
    EXPECT_FALSE(item->isCascadeColorEnabled());
    EXPECT_FALSE(item->isCascadeOpacityEnabled());

    item->setContentSize(CGSizeMake(10, 20));
    EXPECT_EQ(item->activeArea(), CGRectMake(0, 0, 10, 20));
    item->setActiveArea(CGRectMake(-5, -5, 30, 40));
    EXPECT_EQ(item->activeArea(), CGRectMake(-5, -5, 30, 40));
    item->setContentSize(CGSizeMake(3, 4));
    EXPECT_EQ(item->activeArea(), CGRectMake(0, 0, 3, 4)) << "a new size discards the custom area";

    item->selected();
    EXPECT_TRUE(item->isSelected());
    item->unselected();
    EXPECT_FALSE(item->isSelected());
}

TEST_F(MenuItemTest, ActivationCallsTheHandlerWithTheItemOnlyWhileEnabled) {
    std::vector<Object*> senders;
    auto item = CCMenuItem::itemWithBlock([&](Object* sender) { senders.push_back(sender); });
    item->activate();
    EXPECT_EQ(senders, std::vector<Object*>{item.get()});
    item->setIsEnabled(false);
    item->activate();
    EXPECT_EQ(senders.size(), 1u);
    item->setIsEnabled(true);
    item->setBlock(nullptr);
    item->activate();
    EXPECT_EQ(senders.size(), 1u);

    auto plain = make<CCMenuItem>();
    ASSERT_TRUE(plain->init());
    plain->activate(); // no handler: nothing happens
}

TEST_F(MenuItemTest, TargetAndSelectorReachTheTargetWithoutRetainingIt) {
    auto target = make<Target>();
    auto item = CCMenuItem::itemWithTarget(target.get(), fl_selector(Target::tapped));
    EXPECT_EQ(target->retainCount(), 1u);
    item->activate();
    item->activate();
    EXPECT_EQ(target->senders, (std::vector<Object*>{item.get(), item.get()}));

    // A nil target (or selector) makes a handler that does nothing.
    item->setTarget(nullptr, fl_selector(Target::tapped));
    item->activate();
    item->setTarget(target.get(), CCMenuItemSelector());
    item->activate();
    EXPECT_EQ(target->senders.size(), 2u);
    CCMenuItem::itemWithTarget(nullptr, CCMenuItemSelector())->activate();

    auto other = make<Target>();
    item->setTarget(other.get(), fl_selector(Target::tapped));
    item->activate();
    EXPECT_EQ(other->senders.size(), 1u);
    EXPECT_EQ(target->senders.size(), 2u);
}

TEST_F(MenuItemTest, CleanupLetsGoOfTheHandlerUnlessToldToKeepIt) {
    auto captured = make<Target>();
    int calls = 0;
    auto item = CCMenuItem::itemWithBlock([captured, &calls](Object*) { ++calls; });
    EXPECT_EQ(captured->retainCount(), 2u);
    item->cleanup();
    EXPECT_EQ(captured->retainCount(), 1u);
    item->activate();
    EXPECT_EQ(calls, 0);

    auto kept = CCMenuItem::itemWithBlock([captured, &calls](Object*) { ++calls; });
    kept->setReleaseBlockAtCleanup(false);
    kept->cleanup();
    EXPECT_EQ(captured->retainCount(), 2u);
    kept->activate();
    EXPECT_EQ(calls, 1);
}

TEST_F(MenuItemTest, AHandlerMayRemoveItsOwnItem) {
    auto parent = CCNode::node();
    bool after = false;
    CCMenuItem* raw = nullptr;
    {
        auto item = CCMenuItem::itemWithBlock([&](Object* sender) {
            // Cleanup drops this very block while it runs; the parent held the last reference.
            static_cast<CCNode*>(sender)->removeFromParentAndCleanup(true);
            after = true;
        });
        parent->addChild(item.get());
        raw = item.get();
    }
    raw->activate();
    EXPECT_TRUE(after);
    EXPECT_EQ(parent->children()->count(), 0u);
}

// ---- label items ----

TEST_F(MenuItemTest, LabelItemHoldsItsLabelAndTakesItsSize) {
    auto label = CCLabelTTF::labelWithString("Play", "Helvetica", 12);
    ASSERT_TRUE(label);
    auto item = CCMenuItemLabel::itemWithLabel(label.get());
    ASSERT_TRUE(item);
    EXPECT_EQ(item->label(), label.get());
    EXPECT_EQ(label->parent(), item.get());
    EXPECT_EQ(label->anchorPoint(), CGPointZero);
    EXPECT_EQ(item->contentSize(), label->contentSize());
    EXPECT_EQ(item->activeArea(), CGRectMake(0, 0, label->contentSize().width, label->contentSize().height));
    EXPECT_TRUE(item->isCascadeColorEnabled());
    EXPECT_TRUE(item->isCascadeOpacityEnabled());
    item->activate(); // no handler

    // A longer string widens the item.
    const double before = item->contentSize().width;
    item->setString("Play again");
    EXPECT_EQ(label->string(), "Play again");
    EXPECT_GT(item->contentSize().width, before);
    EXPECT_EQ(item->contentSize(), label->contentSize());

    // A new label replaces the old one, which is cleaned up.
    stage(item.get());
    label->runAction(CCDelayTime::actionWithDuration(5).get());
    auto other = CCLabelTTF::labelWithString("Quit", "Helvetica", 30);
    item->setLabel(other.get());
    EXPECT_EQ(label->parent(), nullptr);
    EXPECT_EQ(label->numberOfRunningActions(), 0u);
    EXPECT_EQ(other->parent(), item.get());
    EXPECT_EQ(item->contentSize(), other->contentSize());

    // The item's colour reaches the label.
    item->setColor(ccc3(0, 255, 0));
    EXPECT_EQ(other->displayedColor(), ccc3(0, 255, 0));
}

TEST_F(MenuItemTest, LabelItemZoomsFromTheScaleBeforeTheFirstPress) {
    auto label = CCLabelTTF::labelWithString("Go", "Helvetica", 12);
    auto item = CCMenuItemLabel::itemWithLabel(label.get());
    stage(item.get());
    item->setScale(2);

    item->selected();
    EXPECT_TRUE(item->isSelected());
    ASSERT_NE(item->getActionByTag(kCCZoomActionTag), nullptr);
    step(0);
    step(0.05);
    EXPECT_NEAR(item->scale(), 2.2f, 1e-4);

    // Pressed again mid-zoom: still aiming at 1.2 x 2, not 1.2 x 2.2.
    item->selected();
    EXPECT_EQ(item->originalScale(), 2.0f);
    EXPECT_EQ(item->numberOfRunningActions(), 1u);
    step(0);
    step(0.2);
    EXPECT_EQ(item->scale(), static_cast<float>(2.0f * 1.2));

    item->unselected();
    EXPECT_FALSE(item->isSelected());
    step(0);
    step(0.2);
    EXPECT_EQ(item->scale(), 2.0f);

    // Activation snaps back before the handler runs.
    float seenScale = 0;
    std::uint64_t seenActions = 99;
    item->setBlock([&](Object*) {
        seenScale = item->scale();
        seenActions = item->numberOfRunningActions();
    });
    item->selected();
    step(0);
    step(0.05);
    item->activate();
    EXPECT_EQ(seenScale, 2.0f);
    EXPECT_EQ(seenActions, 0u);

    // A disabled item neither zooms nor turns selected.
    item->unselected();
    item->stopAllActions();
    item->setIsEnabled(false);
    item->selected();
    EXPECT_FALSE(item->isSelected());
    EXPECT_EQ(item->numberOfRunningActions(), 0u);
    item->activate();
    EXPECT_EQ(item->numberOfRunningActions(), 0u);
}

TEST_F(MenuItemTest, DisabledLabelGreysOutAndGetsItsColourBack) {
    auto label = CCLabelTTF::labelWithString("Go", "Helvetica", 12);
    label->setColor(ccc3(255, 0, 0));
    auto item = CCMenuItemLabel::itemWithLabel(label.get());
    EXPECT_EQ(item->disabledColor(), ccc3(126, 126, 126));

    item->setIsEnabled(false);
    EXPECT_EQ(label->color(), ccc3(126, 126, 126));
    item->setDisabledColor(ccc3(0, 0, 255));
    EXPECT_EQ(label->color(), ccc3(126, 126, 126)) << "only stored";
    // Disabling twice must not save the grey as the colour to return to.
    item->setIsEnabled(false);
    item->setIsEnabled(true);
    EXPECT_EQ(label->color(), ccc3(255, 0, 0));
    item->setIsEnabled(false);
    EXPECT_EQ(label->color(), ccc3(0, 0, 255));
}

TEST_F(MenuItemTest, FontItemsUseTheClassWideFontAndRemakeTheirLabel) {
    EXPECT_EQ(CCMenuItemFont::defaultFontName(), "Marker Felt");
    EXPECT_EQ(CCMenuItemFont::defaultFontSize(), 32u);
    auto item = CCMenuItemFont::itemWithString("Start");
    ASSERT_TRUE(item);
    EXPECT_EQ(item->fontName(), "Marker Felt");
    EXPECT_EQ(item->fontSize(), 32u);
    auto* label = dynamic_cast<CCLabelTTF*>(item->label());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->fontSize(), 32.0f);
    EXPECT_GT(item->contentSize().height, 0);
    item->activate(); // nil target: nothing happens

    CCMenuItemFont::setDefaultFontSize(16);
    CCMenuItemFont::setDefaultFontName("Courier");
    auto target = make<Target>();
    auto small = CCMenuItemFont::itemWithString("Start", target.get(), fl_selector(Target::tapped));
    EXPECT_EQ(small->fontName(), "Courier");
    EXPECT_EQ(small->fontSize(), 16u);
    EXPECT_LT(small->contentSize().height, item->contentSize().height);
    small->activate();
    EXPECT_EQ(target->senders, std::vector<Object*>{small.get()});
    EXPECT_EQ(item->fontName(), "Marker Felt") << "existing items keep their font";

    // A new size or name makes a new label with the same string.
    item->setString("Begin");
    item->setFontSize(16);
    auto* remade = dynamic_cast<CCLabelTTF*>(item->label());
    ASSERT_NE(remade, nullptr);
    EXPECT_NE(remade, label);
    EXPECT_EQ(remade->string(), "Begin");
    EXPECT_EQ(remade->fontSize(), 16.0f);
    EXPECT_EQ(item->children()->count(), 1u);
    EXPECT_EQ(item->contentSize(), remade->contentSize());
    item->setFontName("Helvetica");
    EXPECT_EQ(dynamic_cast<CCLabelTTF*>(item->label())->fontName(), "Helvetica");

    int calls = 0;
    auto blockItem = CCMenuItemFont::itemWithString("x", [&](Object*) { ++calls; });
    blockItem->activate();
    EXPECT_EQ(calls, 1);
}

TEST_F(MenuItemTest, AtlasFontItemsShowACharacterMap) {
    writePNG("digits.png", 40, 10, 0xFFFFFFFFu);
    int calls = 0;
    auto item =
        CCMenuItemAtlasFont::itemWithString("123", "digits.png", 10, 10, '0', [&](Object*) { ++calls; });
    ASSERT_TRUE(item);
    auto* label = dynamic_cast<CCLabelAtlas*>(item->label());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->mapStartChar(), static_cast<std::uint64_t>('0'));
    EXPECT_EQ(item->contentSize(), CGSizeMake(30, 10));
    item->activate();
    EXPECT_EQ(calls, 1);
    item->setString("12");
    EXPECT_EQ(item->contentSize(), CGSizeMake(20, 10));

    EXPECT_TRUE(CCMenuItemAtlasFont::itemWithString("1", "digits.png", 10, 10, '0'));
    EXPECT_FALSE(CCMenuItemAtlasFont::itemWithString("1", "missing.png", 10, 10, '0'));
    EXPECT_FALSE(CCMenuItemAtlasFont::itemWithString("1", "digits.png", -10, 10, '0'));
    EXPECT_FALSE(CCMenuItemAtlasFont::itemWithString("1", "digits.png", 10, 0, '0'));
}

TEST_F(MenuItemTest, FadingAMenuFadesItsCharacterMapItemsAndKeepsTheirTint) {
    writePNG("digits.png", 40, 10, 0xFFFFFFFFu);
    auto item = CCMenuItemAtlasFont::itemWithString("123", "digits.png", 10, 10, '0');
    auto menu = CCMenu::menuWithItems({item.get()});
    auto root = CCScene::node();
    root->addChild(CCLayerColor::layerWithColor(ccc4(100, 100, 100, 255)).get());
    root->addChild(menu.get());
    drawFrame(root.get());

    // The tint reaches the digits first; the fade must fold into it, not replace it.
    menu->setColor(ccc3(200, 40, 40));
    menu->runAction(CCFadeTo::actionWithDuration(0.5, 128).get());
    step(0);
    step(0.5);
    drawFrame(root.get());
    // (200, 40, 40) at 128 over (100, 100, 100); colour channels only.
    EXPECT_TRUE(fltest::colorNear(presentedPixel(32, 32) | 0xFFu, 0x964646FFu, 3));
}

// ---- sprite and image items ----

TEST_F(MenuItemTest, SpriteItemShowsOneImageForEachState) {
    auto normal = sprite(10, 10), pressed = sprite(12, 12), off = sprite(8, 8);
    auto item = CCMenuItemSprite::itemWithNormalSprite(normal.get(), pressed.get(), off.get(), nullptr);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->contentSize(), CGSizeMake(10, 10));
    for (CCSprite* s : {normal.get(), pressed.get(), off.get()}) {
        EXPECT_EQ(s->parent(), item.get());
        EXPECT_EQ(s->anchorPoint(), CGPointZero);
    }
    auto shown = [&] {
        return std::string(normal->visible() ? "n" : "") + (pressed->visible() ? "s" : "") +
               (off->visible() ? "d" : "");
    };
    EXPECT_EQ(shown(), "n");
    item->selected();
    EXPECT_EQ(shown(), "s");
    item->unselected();
    EXPECT_EQ(shown(), "n");
    item->setIsEnabled(false);
    EXPECT_EQ(shown(), "d");
    item->setIsEnabled(true);
    EXPECT_EQ(shown(), "n");

    // Without the optional images the normal one stands in.
    auto plainNormal = sprite(10, 10);
    auto plain = CCMenuItemSprite::itemWithNormalSprite(plainNormal.get(), nullptr);
    plain->selected();
    EXPECT_TRUE(plainNormal->visible());
    plain->unselected();
    plain->setIsEnabled(false);
    EXPECT_TRUE(plainNormal->visible());

    // Colour and opacity set on the item reach the images.
    item->setOpacity(100);
    EXPECT_EQ(normal->displayedOpacity(), 100);
    EXPECT_EQ(off->displayedOpacity(), 100);

    // No normal image, no item.
    EXPECT_FALSE(CCMenuItemSprite::itemWithNormalSprite(nullptr, pressed.get()));
}

TEST_F(MenuItemTest, ReplacingImagesSwapsChildrenAndResizesOnlyForTheNormalImage) {
    auto normal = sprite(10, 10), pressed = sprite(12, 12);
    auto item = CCMenuItemSprite::itemWithNormalSprite(normal.get(), pressed.get());
    item->setActiveArea(CGRectMake(0, 0, 1, 1));
    item->selected();

    auto bigger = sprite(30, 20);
    item->setNormalImage(bigger.get());
    EXPECT_EQ(normal->parent(), nullptr);
    EXPECT_EQ(bigger->parent(), item.get());
    EXPECT_EQ(item->contentSize(), CGSizeMake(30, 20));
    EXPECT_EQ(item->activeArea(), CGRectMake(0, 0, 30, 20));
    EXPECT_TRUE(bigger->visible()) << "visibility is recomputed for the enabled state";
    EXPECT_FALSE(pressed->visible());

    auto otherPressed = sprite(40, 40);
    item->setSelectedImage(otherPressed.get());
    EXPECT_EQ(pressed->parent(), nullptr);
    EXPECT_EQ(item->contentSize(), CGSizeMake(30, 20));
    item->setSelectedImage(nullptr);
    EXPECT_EQ(otherPressed->parent(), nullptr);
    EXPECT_EQ(item->selectedImage(), nullptr);
    item->setNormalImage(bigger.get()); // the same image again changes nothing
    EXPECT_EQ(item->children()->count(), 1u);
}

TEST_F(MenuItemTest, ImageItemsComeFromFilesAndSpriteFrames) {
    writePNG("n.png", 10, 6, 0xFF0000FFu);
    writePNG("s.png", 10, 6, 0x00FF00FFu);
    auto target = make<Target>();
    auto item =
        CCMenuItemImage::itemWithNormalImage("n.png", "s.png", target.get(), fl_selector(Target::tapped));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->contentSize(), CGSizeMake(10, 6));
    EXPECT_NE(item->selectedImage(), nullptr);
    EXPECT_EQ(item->disabledImage(), nullptr);
    item->activate();
    EXPECT_EQ(target->senders.size(), 1u);

    EXPECT_FALSE(CCMenuItemImage::itemWithNormalImage("missing.png", "s.png"));
    auto noSelected = CCMenuItemImage::itemWithNormalImage("n.png", "", "s.png");
    ASSERT_TRUE(noSelected);
    EXPECT_EQ(noSelected->selectedImage(), nullptr);
    EXPECT_NE(noSelected->disabledImage(), nullptr);

    auto texture = makePlainTexture(32, 32);
    auto frame = CCSpriteFrame::frameWithTexture(texture.get(), CGRectMake(0, 0, 16, 8));
    item->setNormalSpriteFrame(frame.get());
    EXPECT_EQ(item->contentSize(), CGSizeMake(16, 8));
    item->setDisabledSpriteFrame(frame.get());
    ASSERT_NE(item->disabledImage(), nullptr);
    EXPECT_EQ(static_cast<CCSprite*>(item->disabledImage())->texture(), texture.get());
    CCNode* selectedBefore = item->selectedImage();
    item->setSelectedSpriteFrame(nullptr);
    EXPECT_EQ(item->selectedImage(), selectedBefore);
}

TEST_F(MenuItemTest, SpriteItemDrawsTheImageOfItsState) {
    auto item = CCMenuItemSprite::itemWithNormalSprite(sprite(16, 16, 0xFFFFFFFFu).get(),
                                                       sprite(16, 16, 0x00FF00FFu).get(),
                                                       sprite(16, 16, 0x0000FFFFu).get(), nullptr);
    item->setPosition(CGPointMake(32, 32));
    auto root = CCScene::node();
    root->addChild(item.get());

    drawFrame(root.get());
    EXPECT_TRUE(fltest::colorNear(presentedPixel(32, 32), 0xFFFFFFFFu));
    EXPECT_TRUE(fltest::colorNear(presentedPixel(20, 32), 0x000000FFu)) << "left of the item";
    item->selected();
    drawFrame(root.get());
    EXPECT_TRUE(fltest::colorNear(presentedPixel(32, 32), 0x00FF00FFu));
    item->unselected();
    item->setIsEnabled(false);
    drawFrame(root.get());
    EXPECT_TRUE(fltest::colorNear(presentedPixel(32, 32), 0x0000FFFFu));
    // The item's colour tints the white normal image through the cascade.
    item->setIsEnabled(true);
    item->setColor(ccc3(255, 0, 0));
    drawFrame(root.get());
    EXPECT_TRUE(fltest::colorNear(presentedPixel(32, 32), 0xFF0000FFu));
}

// ---- toggles ----

class Sub : public CCMenuItem {
public:
    static Ref<Sub> make(double w, double h) {
        auto s = platform::make<Sub>();
        s->init();
        s->setContentSize(CGSizeMake(w, h));
        return s;
    }
};

TEST_F(MenuItemTest, ToggleCyclesAndItsHandlerSeesTheNewIndex) {
    auto a = Sub::make(10, 10), b = Sub::make(20, 8), c = Sub::make(6, 30);
    std::vector<std::uint64_t> seen;
    auto toggle = CCMenuItemToggle::itemWithItems({a, b, c}, [&](Object* sender) {
        seen.push_back(static_cast<CCMenuItemToggle*>(sender)->selectedIndex());
    });
    ASSERT_TRUE(toggle);
    EXPECT_EQ(toggle->selectedIndex(), 0u);
    EXPECT_EQ(toggle->currentItem(), a.get());
    EXPECT_EQ(a->parent(), toggle.get());
    EXPECT_EQ(toggle->contentSize(), CGSizeMake(10, 10));
    EXPECT_EQ(a->position(), CGPointMake(5, 5));
    EXPECT_TRUE(toggle->isCascadeColorEnabled());

    toggle->activate();
    EXPECT_EQ(toggle->selectedItem(), b.get());
    EXPECT_EQ(a->parent(), nullptr);
    EXPECT_EQ(b->parent(), toggle.get());
    EXPECT_EQ(toggle->contentSize(), CGSizeMake(20, 8));
    EXPECT_EQ(b->position(), CGPointMake(10, 4));
    toggle->activate();
    toggle->activate();
    EXPECT_EQ(seen, (std::vector<std::uint64_t>{1, 2, 0}));
    EXPECT_EQ(toggle->children()->count(), 1u);

    // The same index again changes nothing.
    a->setPosition(CGPointMake(99, 99));
    toggle->setSelectedIndex(0);
    EXPECT_EQ(a->position(), CGPointMake(99, 99));

    // Out of range is refused.
    try {
        toggle->setSelectedIndex(3);
        ADD_FAILURE() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), platform::NSInternalInconsistencyException);
    }
    EXPECT_EQ(toggle->selectedIndex(), 0u);
}

TEST_F(MenuItemTest, ToggleSubItemsFollowItsStateAndKeepTheirActions) {
    auto a = Sub::make(10, 10), b = Sub::make(10, 10);
    auto toggle = CCMenuItemToggle::itemWithItems({a, b});
    stage(toggle.get());
    a->runAction(CCDelayTime::actionWithDuration(5).get());
    toggle->activate(); // no handler: still moves on
    EXPECT_EQ(toggle->selectedIndex(), 1u);
    EXPECT_EQ(a->numberOfRunningActions(), 1u) << "removed without cleanup";

    toggle->selected();
    EXPECT_TRUE(b->isSelected());
    EXPECT_FALSE(a->isSelected());
    toggle->unselected();
    EXPECT_FALSE(b->isSelected());

    toggle->setIsEnabled(false);
    EXPECT_FALSE(a->isEnabled());
    EXPECT_FALSE(b->isEnabled());
    toggle->activate();
    EXPECT_EQ(toggle->selectedIndex(), 1u) << "a disabled toggle stays put";
    toggle->setIsEnabled(true);
    EXPECT_TRUE(a->isEnabled());

    // Cleaning the toggle up reaches the hidden sub-item's actions too.
    toggle->removeFromParentAndCleanup(true);
    EXPECT_EQ(a->numberOfRunningActions(), 0u);
}

TEST_F(MenuItemTest, ToggleListsStopAtTheFirstNullAndMustNotBeEmpty) {
    auto a = Sub::make(1, 1), b = Sub::make(2, 2), c = Sub::make(3, 3);
    auto target = make<Target>();
    auto toggle = CCMenuItemToggle::itemWithTarget(target.get(), fl_selector(Target::tapped),
                                                   {a.get(), b.get(), nullptr, c.get()});
    ASSERT_TRUE(toggle);
    EXPECT_EQ(toggle->subItems().size(), 2u);
    toggle->activate();
    EXPECT_EQ(target->senders, std::vector<Object*>{toggle.get()});
    EXPECT_EQ(target->retainCount(), 1u);

    EXPECT_FALSE(CCMenuItemToggle::itemWithItems({}));
    EXPECT_FALSE(CCMenuItemToggle::itemWithItems({Ref<CCMenuItem>(c), nullptr}));
    EXPECT_FALSE(CCMenuItemToggle::itemWithTarget(nullptr, CCMenuItemSelector(), {nullptr, c.get()}));
}

} // namespace
