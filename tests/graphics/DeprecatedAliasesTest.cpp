// The older operation names of the sprites, frames, animations, render texture, menu items and
// text reach the current operations with their arguments put in the current order.
#include "core/CCMatrix.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCAnimation.h"
#include "graphics/CCLabelTTF.h"
#include "graphics/CCMenuItem.h"
#include "graphics/CCRenderTexture.h"
#include "graphics/CCSprite.h"
#include "graphics/CCSpriteBatchNode.h"
#include "graphics/CCSpriteFrame.h"
#include "graphics/CCSpriteFrameCache.h"
#include "platform/Image.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "tests/graphics/SheetTestSupport.h"
#include "tests/graphics/SpriteTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using fltest::makePlainTexture;
using platform::make;
using platform::Object;
using platform::Ref;

namespace {

class OlderGraphicsNamesTest : public fltest::SpriteFixture {};

} // namespace

// ---- sprites, frames, animations

TEST_F(OlderGraphicsNamesTest, SpritesOverABatchNodeTakeItsTextureAndItsCharge) {
    Ref<CCTexture2D> texture = makePlainTexture(32, 32);
    Ref<CCSpriteBatchNode> batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    const CGRect rect = CGRectMake(4, 8, 12, 16);

    Ref<CCSprite> made = CCSprite::spriteWithBatchNode(batch.get(), rect);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->texture(), texture.get());
    EXPECT_EQ(made->batchNode(), batch.get());
    EXPECT_EQ(made->textureRect(), rect);
    EXPECT_EQ(made->parent(), nullptr); // in the batch node's charge, not its child

    auto initialised = make<CCSprite>();
    ASSERT_TRUE(initialised->initWithBatchNode(batch.get(), rect));
    EXPECT_EQ(initialised->batchNode(), batch.get());
    EXPECT_EQ(initialised->textureAtlas(), batch->textureAtlas());
    EXPECT_EQ(initialised->textureRect(), rect);

    // Without a batch node: a self-drawn sprite without texture.
    Ref<CCSprite> loose = CCSprite::spriteWithBatchNode(nullptr, rect);
    ASSERT_TRUE(loose);
    EXPECT_EQ(loose->texture(), nullptr);
    EXPECT_EQ(loose->batchNode(), nullptr);

    Ref<CCSpriteFrame> frame = made->displayedFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->rect(), rect);
    EXPECT_EQ(frame->texture(), texture.get());
}

TEST_F(OlderGraphicsNamesTest, OlderAnimationNamesBuildTheSameFrames) {
    Ref<CCTexture2D> texture = makePlainTexture(16, 16);
    CCSpriteFrameArray frames{CCSpriteFrame::frameWithTexture(texture.get(), CGRectMake(0, 0, 8, 8)),
                              CCSpriteFrame::frameWithTexture(texture.get(), CGRectMake(8, 0, 8, 8))};

    Ref<CCAnimation> timed = CCAnimation::animationWithFrames(frames, 0.25f);
    ASSERT_TRUE(timed);
    EXPECT_EQ(timed->frames().size(), 2u);
    EXPECT_FLOAT_EQ(timed->delayPerUnit(), 0.25f);
    EXPECT_FLOAT_EQ(timed->duration(), 0.5f);
    Ref<CCAnimation> untimed = CCAnimation::animationWithFrames(frames);
    EXPECT_EQ(untimed->frames().size(), 2u);
    EXPECT_FLOAT_EQ(untimed->delayPerUnit(), 0.0f);

    auto animation = make<CCAnimation>();
    ASSERT_TRUE(animation->initWithFrames(frames, 0.5f));
    EXPECT_FLOAT_EQ(animation->delayPerUnit(), 0.5f);
    animation->addFrame(frames[0].get());
    animation->addFrameWithTexture(texture.get(), CGRectMake(2, 3, 4, 5));
    ASSERT_EQ(animation->frames().size(), 4u);
    EXPECT_FLOAT_EQ(animation->totalDelayUnits(), 4.0f);
    EXPECT_EQ(animation->frames()[3]->spriteFrame()->rect(), CGRectMake(2, 3, 4, 5));
    EXPECT_EQ(animation->frames()[3]->spriteFrame()->texture(), texture.get());
}

TEST_F(OlderGraphicsNamesTest, OlderSheetFormsNameTheTextureFile) {
    fltest::ScratchFolder scratch;
    const std::string sheet = scratch.write(
        "old.plist", fltest::plistXML("<dict><key>frames</key><dict><key>a</key><dict/></dict>"
                                      "<key>metadata</key><dict><key>format</key><integer>2</integer>"
                                      "<key>textureFileName</key><string>own.png</string></dict></dict>"));
    CCSpriteFrameCache* cache = CCSpriteFrameCache::sharedSpriteFrameCache();
    cache->addSpriteFramesWithFileTextureFile(sheet, "given.png");
    ASSERT_NE(cache->spriteFrameByName("a"), nullptr);
    EXPECT_EQ(cache->spriteFrameByName("a")->textureFilename(), "given.png");

    // The dictionary form loads its frames too, rather than dropping them.
    cache->removeSpriteFrames();
    cache->addSpriteFramesWithDictionaryTextureFile(platform::dictionaryWithContentsOfFile(sheet),
                                                    "other.png");
    ASSERT_NE(cache->spriteFrameByName("a"), nullptr);
    EXPECT_EQ(cache->spriteFrameByName("a")->textureFilename(), "other.png");
}

// ---- render texture

TEST_F(OlderGraphicsNamesTest, OlderBufferNamesSaveInTheAskedFormatAndDataIsNeverGiven) {
    fltest::ScratchFolder docs;
    platform::Paths::setDocumentsDirectory(docs.path(""));
    auto rt = CCRenderTexture::renderTextureWithWidth(8, 4);
    ASSERT_TRUE(rt);
    rt->beginWithClear(1, 0, 0, 1);
    rt->end();

    auto firstBytes = [&](const std::string& name) {
        std::ifstream in(docs.path(name), std::ios::binary);
        std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        bytes.resize(2);
        return bytes;
    };
    ASSERT_TRUE(rt->saveBuffer("a.png", kCCImageFormatPNG));
    EXPECT_EQ(firstBytes("a.png"), (std::vector<unsigned char>{0x89, 'P'}));
    ASSERT_TRUE(rt->saveBuffer("b.png")); // JPEG whatever the name says
    EXPECT_EQ(firstBytes("b.png"), (std::vector<unsigned char>{0xFF, 0xD8}));
    platform::Paths::setDocumentsDirectory("");

    Ref<platform::Image> image = rt->getUIImageFromBuffer();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 8u);
    EXPECT_EQ(image->height(), 4u);
    EXPECT_FALSE(rt->getUIImageAsDataFromBuffer(kCCImageFormatPNG).has_value());
    EXPECT_FALSE(rt->getUIImageAsDataFromBuffer(kCCImageFormatJPEG).has_value());
}

// ---- menu items

namespace {

class OlderItemOwner : public Object {
public:
    void tapped(Object* sender) { senders.push_back(sender); }
    std::vector<Object*> senders;
};

} // namespace

TEST_F(OlderGraphicsNamesTest, MenuItemRectIsAlwaysZeroAndCannotBeSet) {
    Ref<CCMenuItem> item = CCMenuItem::itemWithBlock(nullptr);
    item->setContentSize(CGSizeMake(40, 20));
    EXPECT_EQ(item->rect(), CGRectZero);
    item->setRect(CGRectMake(1, 2, 3, 4));
    EXPECT_EQ(item->rect(), CGRectZero);
    EXPECT_EQ(item->activeArea(), CGRectMake(0, 0, 40, 20));
    EXPECT_EQ(item->contentSize(), CGSizeMake(40, 20));
}

TEST_F(OlderGraphicsNamesTest, OlderItemFactoriesKeepTheirImagesAndHandlers) {
    auto normal = CCSprite::spriteWithTexture(makePlainTexture(10, 6).get());
    auto pressed = CCSprite::spriteWithTexture(makePlainTexture(10, 6).get());
    auto off = CCSprite::spriteWithTexture(makePlainTexture(10, 6).get());
    int calls = 0;
    Ref<CCMenuItemSprite> item = CCMenuItemSprite::itemFromNormalSprite(normal.get(), pressed.get(),
                                                                        off.get(), [&](Object*) { ++calls; });
    ASSERT_TRUE(item);
    EXPECT_EQ(item->normalImage(), normal.get());
    EXPECT_EQ(item->selectedImage(), pressed.get());
    EXPECT_EQ(item->disabledImage(), off.get());
    item->activate();
    EXPECT_EQ(calls, 1);

    auto target = make<OlderItemOwner>();
    auto n2 = CCSprite::spriteWithTexture(makePlainTexture(4, 4).get());
    auto p2 = CCSprite::spriteWithTexture(makePlainTexture(4, 4).get());
    Ref<CCMenuItemSprite> targeted = CCMenuItemSprite::itemFromNormalSprite(
        n2.get(), p2.get(), target.get(), fl_selector(OlderItemOwner::tapped));
    ASSERT_TRUE(targeted);
    EXPECT_EQ(targeted->disabledImage(), nullptr);
    targeted->activate();
    EXPECT_EQ(target->senders, (std::vector<Object*>{targeted.get()}));

    Ref<CCMenuItemFont> font = CCMenuItemFont::itemFromString("Go", [&](Object*) { calls += 10; });
    ASSERT_TRUE(font);
    font->activate();
    EXPECT_EQ(calls, 11);
    auto initialised = make<CCMenuItemFont>();
    ASSERT_TRUE(initialised->initFromString("Go", target.get(), fl_selector(OlderItemOwner::tapped)));
    initialised->activate();
    EXPECT_EQ(target->senders.size(), 2u);
    EXPECT_EQ(target->senders[1], initialised.get());
}

// ---- text

TEST_F(OlderGraphicsNamesTest, OlderLabelFormsPutTheFontFirstAndKeepEveryAttribute) {
    const CGSize box = CGSizeMake(60, 30);
    Ref<CCLabelTTF> plain =
        CCLabelTTF::labelWithStringDimensionsAlignment("Hi", box, kCCTextAlignmentRight, "Helvetica", 14);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->string(), "Hi");
    EXPECT_EQ(plain->fontName(), "Helvetica");
    EXPECT_FLOAT_EQ(plain->fontSize(), 14.0f);
    EXPECT_EQ(plain->dimensions(), box);
    EXPECT_EQ(plain->horizontalAlignment(), kCCTextAlignmentRight);
    EXPECT_EQ(plain->verticalAlignment(), kCCVerticalTextAlignmentTop);

    Ref<CCLabelTTF> broken = CCLabelTTF::labelWithStringDimensionsHAlignment(
        "Hi", box, kCCTextAlignmentCenter, kCCLineBreakModeClip, "Helvetica", 15);
    EXPECT_EQ(broken->horizontalAlignment(), kCCTextAlignmentCenter);
    EXPECT_EQ(broken->lineBreakMode(), kCCLineBreakModeClip);
    EXPECT_FLOAT_EQ(broken->fontSize(), 15.0f);

    Ref<CCLabelTTF> full =
        CCLabelTTF::labelWithString("Hi", box, kCCTextAlignmentLeft, kCCVerticalTextAlignmentBottom,
                                    kCCLineBreakModeCharacterWrap, "Helvetica", 16);
    EXPECT_EQ(full->verticalAlignment(), kCCVerticalTextAlignmentBottom);
    EXPECT_EQ(full->lineBreakMode(), kCCLineBreakModeCharacterWrap);
    Ref<CCLabelTTF> centred = CCLabelTTF::labelWithString("Hi", box, kCCTextAlignmentRight,
                                                          kCCVerticalTextAlignmentCenter, "Helvetica", 17);
    EXPECT_EQ(centred->verticalAlignment(), kCCVerticalTextAlignmentCenter);
    EXPECT_EQ(centred->horizontalAlignment(), kCCTextAlignmentRight);
    EXPECT_EQ(centred->lineBreakMode(), kCCLineBreakModeWordWrap);

    auto initialised = make<CCLabelTTF>();
    ASSERT_TRUE(initialised->initWithString("Yo", box, kCCTextAlignmentCenter, kCCLineBreakModeTailTruncation,
                                            "Helvetica", 18));
    EXPECT_EQ(initialised->string(), "Yo");
    EXPECT_EQ(initialised->dimensions(), box);
    EXPECT_EQ(initialised->horizontalAlignment(), kCCTextAlignmentCenter);
    EXPECT_EQ(initialised->lineBreakMode(), kCCLineBreakModeTailTruncation);
    EXPECT_FLOAT_EQ(initialised->fontSize(), 18.0f);
}

namespace {

// The texture drawn over a whole w x h target, read back with rows top-down.
std::vector<std::uint8_t> drawn(CCTexture2D* texture, int w, int h) {
    fltest::GLTarget target(w, h);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    kmMat4 ortho;
    mat4Orthographic(&ortho, 0, float(w), 0, float(h), -1, 1);
    matrixMode(kCCMatrixModeProjection);
    matrixLoadIdentity();
    matrixMultiply(&ortho);
    matrixMode(kCCMatrixModeModelView);
    matrixLoadIdentity();
    glCacheBlendFunc(GL_ONE, GL_ZERO);
    texture->setAliasTexParameters();
    texture->drawInRect(CGRectMake(0, 0, w, h));
    return target.read().rgba;
}

} // namespace

TEST_F(OlderGraphicsNamesTest, OlderTextTexturesAreTopAligned) {
    const CGSize box = CGSizeMake(50, 60);
    auto old = make<CCTexture2D>(), top = make<CCTexture2D>(), bottom = make<CCTexture2D>();
    ASSERT_TRUE(old->initWithString("A", box, kCCTextAlignmentRight, "Helvetica", 16));
    ASSERT_TRUE(
        top->initWithString("A", "Helvetica", 16, box, kCCTextAlignmentRight, kCCVerticalTextAlignmentTop));
    ASSERT_TRUE(bottom->initWithString("A", "Helvetica", 16, box, kCCTextAlignmentRight,
                                       kCCVerticalTextAlignmentBottom));
    EXPECT_EQ(old->contentSizeInPixels(), box);
    EXPECT_EQ(drawn(old.get(), 64, 64), drawn(top.get(), 64, 64));
    EXPECT_NE(drawn(old.get(), 64, 64), drawn(bottom.get(), 64, 64));

    auto oldWrapped = make<CCTexture2D>(), topWrapped = make<CCTexture2D>();
    ASSERT_TRUE(oldWrapped->initWithString("A wrapped line", box, kCCTextAlignmentCenter,
                                           kCCLineBreakModeCharacterWrap, "Helvetica", 16));
    ASSERT_TRUE(topWrapped->initWithString("A wrapped line", "Helvetica", 16, box, kCCTextAlignmentCenter,
                                           kCCVerticalTextAlignmentTop, kCCLineBreakModeCharacterWrap));
    EXPECT_EQ(drawn(oldWrapped.get(), 64, 64), drawn(topWrapped.get(), 64, 64));
}
