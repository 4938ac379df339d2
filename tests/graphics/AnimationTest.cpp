#include "core/CCDirector.h"
#include "core/CCFileUtils.h"
#include "graphics/CCAnimation.h"
#include "graphics/CCAnimationCache.h"
#include "graphics/CCSpriteFrame.h"
#include "graphics/CCSpriteFrameCache.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureCache.h"
#include "platform/Image.h"
#include "platform/RunLoop.h"
#include "tests/graphics/SheetTestSupport.h"
#include "core/CCGLView.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/TestSupport.h"

#include <cstring>
#include <regex>

using platform::make;
using platform::PlistValue;
using platform::Ref;

namespace {

Ref<CCSpriteFrame> frameOf(double width) {
    return CCSpriteFrame::frameWithTexture(nullptr, CGRectMake(0, 0, width, 1));
}

Ref<CCAnimationFrame> animationFrame(CCSpriteFrame* spriteFrame, float delayUnits, PlistValue userInfo = {}) {
    auto frame = make<CCAnimationFrame>();
    frame->initWithSpriteFrame(spriteFrame, delayUnits, userInfo);
    return frame;
}

class AnimationTest : public fltest::EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        CCAnimationCache::purgeSharedAnimationCache();
        CCSpriteFrameCache::purgeSharedSpriteFrameCache();
    }
    void TearDown() override {
        CCAnimationCache::purgeSharedAnimationCache();
        CCSpriteFrameCache::purgeSharedSpriteFrameCache();
        EngineTest::TearDown();
    }
    CCAnimationCache* cache() const { return CCAnimationCache::sharedAnimationCache(); }
    CCSpriteFrameCache* frames() const { return CCSpriteFrameCache::sharedSpriteFrameCache(); }
    // Puts frames of the given names into the sprite-frame cache.
    void knowFrames(std::initializer_list<const char*> names) {
        for (const char* name : names)
            frames()->addSpriteFrame(frameOf(1).get(), name);
    }
    std::string writeList(const std::string& name, const std::string& body) {
        return scratch.write(name, fltest::plistXML(body));
    }

    fltest::ScratchFolder scratch;
};

// ---- animations and their frames

TEST_F(AnimationTest, DelayUnitsAddUpAsFramesArrive) {
    Ref<CCAnimation> plain =
        CCAnimation::animationWithSpriteFrames({frameOf(1), frameOf(2), frameOf(3)}, 0.1f);
    EXPECT_FLOAT_EQ(plain->totalDelayUnits(), 3);
    EXPECT_EQ(plain->duration(), 3 * 0.1f);
    EXPECT_EQ(plain->loops(), 1u);
    EXPECT_FALSE(plain->restoreOriginalFrame());
    ASSERT_EQ(plain->frames().size(), 3u);
    EXPECT_EQ(plain->frames()[1]->delayUnits(), 1.0f);
    EXPECT_EQ(plain->frames()[2]->spriteFrame()->rect().size.width, 3);
    EXPECT_TRUE(plain->frames()[0]->userInfo().isNull());

    Ref<CCAnimationFrame> a = animationFrame(frameOf(1).get(), 1);
    Ref<CCAnimationFrame> b = animationFrame(frameOf(1).get(), 2);
    Ref<CCAnimationFrame> c = animationFrame(frameOf(1).get(), 0.5f);
    Ref<CCAnimation> timed = CCAnimation::animationWithAnimationFrames({a, b, c}, 0.5f, 4);
    EXPECT_FLOAT_EQ(timed->totalDelayUnits(), 3.5f);
    EXPECT_FLOAT_EQ(timed->duration(), 1.75f);
    EXPECT_EQ(timed->loops(), 4u);
    EXPECT_EQ(timed->frames()[1], b) << "the given frames are kept, not copies";

    timed->addSpriteFrame(frameOf(9).get());
    EXPECT_FLOAT_EQ(timed->totalDelayUnits(), 4.5f);
    timed->addSpriteFrameWithTexture(nullptr, CGRectMake(1, 2, 3, 4));
    EXPECT_EQ(timed->frames().back()->spriteFrame()->rect(), CGRectMake(1, 2, 3, 4));
    // Replacing the frames leaves the total as it was.
    timed->setFrames({a});
    EXPECT_FLOAT_EQ(timed->totalDelayUnits(), 5.5f);

    Ref<CCAnimation> empty = CCAnimation::animation();
    EXPECT_TRUE(empty->frames().empty());
    EXPECT_EQ(empty->duration(), 0);
    EXPECT_EQ(empty->loops(), 1u);
    EXPECT_EQ(CCAnimation::animationWithSpriteFrames({frameOf(1)})->delayPerUnit(), 0);
}

TEST_F(AnimationTest, AnimationCopySharesFramesAndFrameCopyIsDeep) {
    Ref<CCSpriteFrame> picture = frameOf(5);
    const PlistValue info = PlistValue::dictionary({{"step", PlistValue::integer(2)}});
    Ref<CCAnimationFrame> frame = animationFrame(picture, 2, info);
    Ref<CCAnimation> animation = CCAnimation::animationWithAnimationFrames({frame}, 0.25f, 3);
    animation->setRestoreOriginalFrame(true);

    Ref<CCAnimation> copy = platform::copyOf(animation.get());
    ASSERT_TRUE(copy);
    EXPECT_NE(copy, animation);
    ASSERT_EQ(copy->frames().size(), 1u);
    EXPECT_EQ(copy->frames()[0], frame);
    EXPECT_EQ(copy->delayPerUnit(), 0.25f);
    EXPECT_EQ(copy->loops(), 3u);
    EXPECT_TRUE(copy->restoreOriginalFrame());
    EXPECT_FLOAT_EQ(copy->totalDelayUnits(), 2);
    // The frame list itself is the copy's own.
    copy->addSpriteFrame(picture);
    EXPECT_EQ(animation->frames().size(), 1u);

    Ref<CCAnimationFrame> frameCopy = platform::copyOf(frame.get());
    ASSERT_TRUE(frameCopy);
    EXPECT_NE(frameCopy->spriteFrame(), picture.get());
    EXPECT_EQ(frameCopy->spriteFrame()->rect(), picture->rect());
    EXPECT_EQ(frameCopy->delayUnits(), 2);
    EXPECT_EQ(frameCopy->userInfo(), info);
    frameCopy->spriteFrame()->setRect(CGRectZero);
    EXPECT_EQ(picture->rect().size.width, 5);

    // A frame without a picture copies too.
    Ref<CCAnimationFrame> bare = animationFrame(nullptr, 1);
    EXPECT_EQ(platform::copyOf(bare.get())->spriteFrame(), nullptr);
}

TEST_F(AnimationTest, Descriptions) {
    Ref<CCAnimation> animation = CCAnimation::animationWithSpriteFrames({frameOf(1), frameOf(1)}, 0.5f);
    EXPECT_TRUE(std::regex_match(
        animation->description(),
        std::regex(
            R"(<CCAnimation = 0x[0-9a-f]+ \| frames=2, totalDelayUnits=2\.000000, delayPerUnit=0\.500000, loops=1>)")))
        << animation->description();
    const std::string frame = animation->frames()[0]->description();
    EXPECT_TRUE(std::regex_match(
        frame,
        std::regex(R"(<CCAnimationFrame = 0x[0-9a-f]+ \| SpriteFrame = 0x[0-9a-f]+, delayUnits = 1\.00 >)")))
        << frame;
    cache()->addAnimation(animation.get(), "a");
    EXPECT_TRUE(std::regex_match(
        cache()->description(), std::regex(R"(<CCAnimationCache = 0x[0-9a-f]+ \| num of animations =  1>)")));
}

// ---- the cache by hand

TEST_F(AnimationTest, CacheStoresReplacesAndRemovesByName) {
    Ref<CCAnimation> first = CCAnimation::animation();
    Ref<CCAnimation> second = CCAnimation::animation();
    cache()->addAnimation(first.get(), "walk");
    cache()->addAnimation(second.get(), "walk");
    EXPECT_EQ(cache()->animationByName("walk"), second.get());
    EXPECT_EQ(first->retainCount(), 1u);
    cache()->removeAnimationByName("");
    EXPECT_EQ(cache()->animationCount(), 1u);
    cache()->removeAnimationByName("walk");
    EXPECT_EQ(cache()->animationByName("walk"), nullptr);
    cache()->removeAnimationByName("never there");
}

// ---- animation lists

const char* kFormat1 = R"(<dict><key>animations</key><dict>
  <key>found</key><dict><key>delay</key><real>0.25</real>
    <key>frames</key><array><string>f1</string><string>unknown</string><string>f2</string><string>f1</string></array></dict>
  <key>lost</key><dict><key>delay</key><real>0.1</real><key>frames</key><array><string>x</string></array></dict>
  <key>no frames</key><dict><key>delay</key><real>0.1</real></dict>
</dict></dict>)";

TEST_F(AnimationTest, FormatOneTakesFramesFromTheFrameCache) {
    knowFrames({"f1", "f2"});
    cache()->addAnimationsWithDictionary(platform::PlistValue::fromMemory(kFormat1, std::strlen(kFormat1)));
    CCAnimation* found = cache()->animationByName("found");
    ASSERT_NE(found, nullptr);
    ASSERT_EQ(found->frames().size(), 3u);
    EXPECT_EQ(found->frames()[0]->spriteFrame(), frames()->spriteFrameByName("f1"));
    EXPECT_EQ(found->frames()[1]->spriteFrame(), frames()->spriteFrameByName("f2"));
    EXPECT_EQ(found->delayPerUnit(), 0.25f);
    EXPECT_FLOAT_EQ(found->totalDelayUnits(), 3);
    EXPECT_EQ(found->loops(), 1u);
    // No frame found, no animation; no frame list, no animation.
    EXPECT_EQ(cache()->animationByName("lost"), nullptr);
    EXPECT_EQ(cache()->animationByName("no frames"), nullptr);
    EXPECT_EQ(cache()->animationCount(), 1u);
}

TEST_F(AnimationTest, FormatTwoReadsLoopsRestoreFlagUnitsAndNotifications) {
    const std::string sheet = scratch.write(
        "sheet.plist",
        fltest::plistXML("<dict><key>frames</key><dict><key>s1</key><dict/><key>s2</key><dict/></dict>"
                         "<key>metadata</key><dict><key>format</key><integer>2</integer></dict></dict>"));
    const std::string list = writeList("list.plist", R"(<dict>
  <key>properties</key><dict><key>format</key><integer>2</integer>
    <key>spritesheets</key><array><string>)" + sheet + R"(</string><integer>4</integer></array></dict>
  <key>animations</key><dict>
    <key>full</key><dict><key>loops</key><integer>3</integer><key>restoreOriginalFrame</key><true/>
      <key>delayPerUnit</key><real>0.5</real><key>frames</key><array>
        <dict><key>spriteframe</key><string>s1</string><key>delayUnits</key><real>2</real>
          <key>notification</key><dict><key>hit</key><true/></dict></dict>
        <dict><key>spriteframe</key><string>missing</string><key>delayUnits</key><integer>7</integer></dict>
        <dict><key>spriteframe</key><string>s2</string><key>delayUnits</key><real>0.5</real></dict>
      </array></dict>
    <key>defaults</key><dict><key>frames</key><array/></dict>
    <key>never</key><dict><key>loops</key><integer>0</integer><key>frames</key><array>
        <dict><key>spriteframe</key><string>nope</string></dict></array></dict>
    <key>no frames</key><dict><key>loops</key><integer>2</integer></dict>
  </dict></dict>)");
    cache()->addAnimationsWithFile(list);
    EXPECT_TRUE(frames()->isLoaded(sheet));

    CCAnimation* full = cache()->animationByName("full");
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->loops(), 3u);
    EXPECT_TRUE(full->restoreOriginalFrame());
    EXPECT_EQ(full->delayPerUnit(), 0.5f);
    ASSERT_EQ(full->frames().size(), 2u);
    EXPECT_EQ(full->frames()[0]->spriteFrame(), frames()->spriteFrameByName("s1"));
    EXPECT_EQ(full->frames()[0]->delayUnits(), 2);
    EXPECT_TRUE(full->frames()[0]->userInfo()["hit"].boolValue());
    EXPECT_TRUE(full->frames()[1]->userInfo().isNull());
    EXPECT_FLOAT_EQ(full->totalDelayUnits(), 2.5f);
    EXPECT_FLOAT_EQ(full->duration(), 1.25f);

    CCAnimation* defaults = cache()->animationByName("defaults");
    ASSERT_NE(defaults, nullptr);
    EXPECT_EQ(defaults->loops(), 1u);
    EXPECT_FALSE(defaults->restoreOriginalFrame());
    // Unlike the older format, an animation whose frames are all missing is kept, empty.
    CCAnimation* never = cache()->animationByName("never");
    ASSERT_NE(never, nullptr);
    EXPECT_EQ(never->loops(), 0u);
    EXPECT_TRUE(never->frames().empty());
    EXPECT_EQ(cache()->animationByName("no frames"), nullptr);
}

TEST_F(AnimationTest, ListsWithoutPropertiesAreFormatOneAndLoadNoSheets) {
    knowFrames({"f1"});
    const std::string withFormat0 = R"(<dict><key>properties</key><dict><key>spritesheets</key><array>
        <string>no-such-sheet.plist</string></array></dict>
      <key>animations</key><dict><key>a</key><dict><key>frames</key><array><string>f1</string></array></dict></dict></dict>)";
    // Properties without a format read as format 0, which defines nothing; its sheets still load.
    cache()->addAnimationsWithFile(writeList("zero.plist", withFormat0));
    EXPECT_EQ(cache()->animationCount(), 0u);
    EXPECT_TRUE(frames()->isLoaded("no-such-sheet.plist"));

    cache()->addAnimationsWithFile(writeList(
        "plain.plist", R"(<dict><key>animations</key><dict><key>a</key><dict><key>frames</key><array>
        <string>f1</string></array></dict></dict><key>metadata</key><dict><key>format</key><integer>2</integer>
        <key>spritesheets</key><array><string>other.plist</string></array></dict></dict>)"));
    EXPECT_NE(cache()->animationByName("a"), nullptr);
    EXPECT_FALSE(frames()->isLoaded("other.plist"));
    EXPECT_EQ(cache()->animationByName("a")->delayPerUnit(), 0) << "a missing delay reads as zero";
}

TEST_F(AnimationTest, BrokenListsAddWhatIsSound) {
    knowFrames({"f1"});
    const std::string good = "<key>good</key><dict><key>delay</key><real>0.5</real><key>frames</key><array>"
                             "<string>f1</string></array></dict>";
    const std::string good2 = "<key>good</key><dict><key>frames</key><array><dict><key>spriteframe</key>"
                              "<string>f1</string></dict></array></dict>";
    const std::string v2 = "<key>properties</key><dict><key>format</key><integer>2</integer></dict>";
    struct Case {
        const char* what;
        std::string text;
        std::size_t animations;
    };
    const std::vector<Case> cases = {
        {"not a property list", "{ not at all", 0},
        {"root is an array", fltest::plistXML("<array/>"), 0},
        {"animations is an array", fltest::plistXML("<dict><key>animations</key><array/></dict>"), 0},
        {"properties is a string",
         fltest::plistXML("<dict><key>properties</key><string>2</string><key>animations</key><dict>" + good +
                          "</dict></dict>"),
         0},
        {"format is an array",
         fltest::plistXML("<dict><key>properties</key><dict><key>format</key><array/></dict>"
                          "<key>animations</key><dict>" +
                          good + "</dict></dict>"),
         0},
        {"spritesheets is a dictionary",
         fltest::plistXML("<dict><key>properties</key><dict><key>format</key><integer>1</integer>"
                          "<key>spritesheets</key><dict/></dict><key>animations</key><dict>" +
                          good + "</dict></dict>"),
         1},
        {"animation is a string",
         fltest::plistXML("<dict><key>animations</key><dict><key>s</key><string>x</string>" + good +
                          "</dict></dict>"),
         1},
        {"frames is a string",
         fltest::plistXML(
             "<dict><key>animations</key><dict><key>s</key><dict><key>frames</key><string>f1</string>"
             "</dict>" +
             good + "</dict></dict>"),
         1},
        {"frame name is a number",
         fltest::plistXML(
             "<dict><key>animations</key><dict><key>s</key><dict><key>frames</key><array><integer>1"
             "</integer></array></dict>" +
             good + "</dict></dict>"),
         1},
        {"delay is a dictionary",
         fltest::plistXML("<dict><key>animations</key><dict><key>s</key><dict><key>delay</key><dict/>"
                          "<key>frames</key><array><string>f1</string></array></dict>" +
                          good + "</dict></dict>"),
         1},
        {"format-2 frame is a string",
         fltest::plistXML("<dict>" + v2 +
                          "<key>animations</key><dict><key>s</key><dict><key>frames</key><array>"
                          "<string>f1</string></array></dict>" +
                          good2 + "</dict></dict>"),
         2},
        {"format-2 loops is an array",
         fltest::plistXML("<dict>" + v2 +
                          "<key>animations</key><dict><key>s</key><dict><key>loops</key><array/>"
                          "<key>frames</key><array/></dict>" +
                          good2 + "</dict></dict>"),
         1},
        {"format-2 notification is a string",
         fltest::plistXML(
             "<dict>" + v2 + "<key>animations</key><dict>" + good2 +
             "<key>s</key><dict><key>frames</key><array><dict><key>spriteframe</key><string>f1</string>"
             "<key>notification</key><string>x</string></dict></array></dict></dict></dict>"),
         2},
        {"format-2 delay units is data",
         fltest::plistXML(
             "<dict>" + v2 + "<key>animations</key><dict>" + good2 +
             "<key>s</key><dict><key>frames</key><array><dict><key>spriteframe</key><string>f1</string>"
             "<key>delayUnits</key><data>AAEC</data></dict></array></dict></dict></dict>"),
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CCAnimationCache::purgeSharedAnimationCache();
        cache()->addAnimationsWithFile(scratch.write("broken.plist", c.text));
        EXPECT_EQ(cache()->animationCount(), c.animations);
        if (c.animations) {
            ASSERT_NE(cache()->animationByName("good"), nullptr);
            EXPECT_EQ(cache()->animationByName("good")->frames().size(), 1u);
        }
        if (CCAnimation* skipped = cache()->animationByName("s")) {
            EXPECT_TRUE(skipped->frames().empty());
        }
    }
    cache()->addAnimationsWithFile("no/such/list.plist");
    cache()->addAnimationsWithFile("");
    cache()->addAnimationsWithDictionary(PlistValue());
}

// ---- real animation lists

TEST_F(AnimationTest, RealListsMatchAnIndependentReading) {
    FL_REQUIRE_SHARED_TESTDATA();
    const char* lists[] = {"format1_restore_original_frame.plist", "format1_small.plist",
                           "format1_delay_as_string.plist", "format1_with_stray_metadata.plist"};
    for (const char* list : lists) {
        SCOPED_TRACE(list);
        const std::filesystem::path path = fltest::sharedTestData() / "animations" / list;
        fltest::RawPlist raw(path);
        const auto animations = fltest::rawEntries(fltest::rawItem(raw.root(), "animations"));
        ASSERT_FALSE(animations.empty());

        // Without their frames nothing is added.
        CCAnimationCache::purgeSharedAnimationCache();
        CCSpriteFrameCache::purgeSharedSpriteFrameCache();
        cache()->addAnimationsWithFile(path.string());
        EXPECT_EQ(cache()->animationCount(), 0u);

        // Every frame name known: every animation comes in whole, in order.
        for (const auto& [name, animation] : animations)
            for (plist_t frame : fltest::rawItems(fltest::rawItem(animation, "frames")))
                frames()->addSpriteFrame(frameOf(1).get(), fltest::rawString(frame));
        cache()->addAnimationsWithFile(path.string());
        EXPECT_EQ(cache()->animationCount(), animations.size());
        for (const auto& [name, expected] : animations) {
            CCAnimation* animation = cache()->animationByName(name);
            ASSERT_NE(animation, nullptr) << name;
            const auto names = fltest::rawItems(fltest::rawItem(expected, "frames"));
            ASSERT_EQ(animation->frames().size(), names.size()) << name;
            for (std::size_t i = 0; i < names.size(); ++i)
                EXPECT_EQ(animation->frames()[i]->spriteFrame(),
                          frames()->spriteFrameByName(fltest::rawString(names[i])));
            EXPECT_EQ(animation->delayPerUnit(),
                      static_cast<float>(fltest::rawNumber(fltest::rawItem(expected, "delay"))))
                << name;
            EXPECT_EQ(animation->loops(), 1u);
            EXPECT_FALSE(animation->restoreOriginalFrame()) << "the older format has no restore flag";
        }
        if (std::string(list) == "format1_delay_as_string.plist") {
            // The delay written as text and as an integer.
            EXPECT_EQ(cache()->animationByName("run")->delayPerUnit(), 0.08f);
            EXPECT_EQ(cache()->animationByName("idle")->delayPerUnit(), 1.0f);
            EXPECT_EQ(cache()->animationByName("guy_walk")->frames().size(), 32u);
        }
    }
}

// ---- frames from image files

class AnimationTextureTest : public fltest::EngineGLTest {
protected:
    void TearDown() override {
        CCTextureCache::purgeSharedTextureCache();
        platform::RunLoop::mainRunLoop()->pump();
        EngineGLTest::TearDown();
    }
};

TEST_F(AnimationTextureTest, AFrameFromAnImageFileShowsAllOfIt) {
    fltest::ScratchFolder scratch;
    const std::string path = scratch.path("four-by-two.png");
    const std::vector<std::uint8_t> pixels(4 * 2 * 4, 0xFF);
    ASSERT_TRUE(platform::Image::writePNG(path, pixels.data(), 4, 2));

    Ref<CCAnimation> animation = CCAnimation::animation();
    animation->addSpriteFrameWithFilename(path);
    ASSERT_EQ(animation->frames().size(), 1u);
    CCSpriteFrame* frame = animation->frames()[0]->spriteFrame();
    EXPECT_EQ(frame->rect(), CGRectMake(0, 0, 4, 2));
    EXPECT_EQ(frame->texture(), CCTextureCache::sharedTextureCache()->textureForKey(path));
    EXPECT_NE(frame->texture(), nullptr);

    // An image that cannot be read keeps its place in the timing as an empty frame.
    animation->addSpriteFrameWithFilename(scratch.path("missing.png"));
    ASSERT_EQ(animation->frames().size(), 2u);
    EXPECT_EQ(animation->frames()[1]->spriteFrame()->texture(), nullptr);
    EXPECT_EQ(animation->frames()[1]->spriteFrame()->rect(), CGRectZero);
    EXPECT_FLOAT_EQ(animation->totalDelayUnits(), 2);
}

// ---- the director

TEST_F(AnimationTest, TheDirectorsEndEmptiesTheCache) {
    cache()->addAnimation(CCAnimation::animation().get(), "kept");
    CCDirector::sharedDirector();
    CCDirector::purgeSharedDirector();
    EXPECT_EQ(cache()->animationCount(), 0u);
}

} // namespace
