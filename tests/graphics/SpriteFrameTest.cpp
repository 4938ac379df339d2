#include "core/CCDirector.h"
#include "graphics/CCSpriteFrame.h"
#include "graphics/CCSpriteFrameCache.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureCache.h"
#include "platform/RunLoop.h"
#include "platform/Device.h"
#include "tests/graphics/SheetTestSupport.h"
#include "core/CCGLView.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/TestSupport.h"

#include <regex>

using platform::make;
using platform::Ref;

namespace {

class SpriteFrameTest : public fltest::EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        CCSpriteFrameCache::purgeSharedSpriteFrameCache();
    }
    void TearDown() override {
        CCSpriteFrameCache::purgeSharedSpriteFrameCache();
        EngineTest::TearDown();
    }
    CCSpriteFrameCache* cache() const { return CCSpriteFrameCache::sharedSpriteFrameCache(); }

    // A sheet with the given frames and metadata written to the scratch folder.
    std::string writeSheet(const std::string& name, const std::string& frames,
                           const std::string& metadata = "") {
        return scratch.write(name, fltest::plistXML("<dict><key>frames</key><dict>" + frames + "</dict>" +
                                                    metadata + "</dict>"));
    }
    static std::string format(int n) {
        return "<key>metadata</key><dict><key>format</key><integer>" + std::to_string(n) +
               "</integer></dict>";
    }

    fltest::ScratchFolder scratch;
};

void expectFrameMatches(const CCSpriteFrame* frame, const fltest::ReferenceFrame& expected,
                        const std::string& name) {
    ASSERT_NE(frame, nullptr) << name;
    EXPECT_EQ(frame->rectInPixels(), expected.rect) << name;
    EXPECT_EQ(frame->rotated(), expected.rotated) << name;
    EXPECT_EQ(frame->offsetInPixels(), expected.offset) << name;
    EXPECT_EQ(frame->originalSizeInPixels(), expected.originalSize) << name;
}

// ---- frames

TEST_F(SpriteFrameTest, PointAndPixelValuesFollowTheContentScale) {
    platform::setContentScaleFactor(2);
    Ref<CCSpriteFrame> byPoints = CCSpriteFrame::frameWithTexture(nullptr, CGRectMake(1, 2, 3, 4));
    EXPECT_EQ(byPoints->rectInPixels(), CGRectMake(2, 4, 6, 8));
    EXPECT_EQ(byPoints->rect(), CGRectMake(1, 2, 3, 4));
    EXPECT_EQ(byPoints->offset(), CGPointZero);
    EXPECT_EQ(byPoints->originalSize(), CGSizeMake(3, 4));
    EXPECT_EQ(byPoints->originalSizeInPixels(), CGSizeMake(6, 8));
    EXPECT_FALSE(byPoints->rotated());
    EXPECT_EQ(byPoints->texture(), nullptr);

    Ref<CCSpriteFrame> byPixels = CCSpriteFrame::frameWithTextureFilename(
        "a.png", CGRectMake(10, 20, 30, 40), true, CGPointMake(4, -6), CGSizeMake(50, 60));
    EXPECT_EQ(byPixels->rect(), CGRectMake(5, 10, 15, 20));
    EXPECT_EQ(byPixels->offset(), CGPointMake(2, -3));
    EXPECT_EQ(byPixels->originalSize(), CGSizeMake(25, 30));
    EXPECT_TRUE(byPixels->rotated());
    EXPECT_EQ(byPixels->textureFilename(), "a.png");

    byPixels->setRect(CGRectMake(1, 1, 2, 2));
    EXPECT_EQ(byPixels->rectInPixels(), CGRectMake(2, 2, 4, 4));
    byPixels->setOffsetInPixels(CGPointMake(8, 8));
    EXPECT_EQ(byPixels->offset(), CGPointMake(4, 4));
    // The original size setters touch one unit only.
    byPixels->setOriginalSize(CGSizeMake(1, 1));
    EXPECT_EQ(byPixels->originalSizeInPixels(), CGSizeMake(50, 60));
    byPixels->setOriginalSizeInPixels(CGSizeMake(7, 7));
    EXPECT_EQ(byPixels->originalSize(), CGSizeMake(1, 1));
}

TEST_F(SpriteFrameTest, CopySharesTextureAndFileNameAndOwnsItsGeometry) {
    auto texture = make<CCTexture2D>();
    Ref<CCSpriteFrame> frame = CCSpriteFrame::frameWithTextureFilename(
        "sheet.png", CGRectMake(1, 2, 3, 4), true, CGPointMake(5, 6), CGSizeMake(7, 8));
    frame->setTexture(texture.get());
    Ref<CCSpriteFrame> copy = platform::copyOf(frame.get());
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.get(), frame.get());
    EXPECT_EQ(copy->texture(), texture.get());
    EXPECT_EQ(copy->textureFilename(), "sheet.png");
    EXPECT_EQ(copy->rectInPixels(), frame->rectInPixels());
    EXPECT_EQ(copy->rect(), frame->rect());
    EXPECT_EQ(copy->offsetInPixels(), frame->offsetInPixels());
    EXPECT_EQ(copy->originalSizeInPixels(), frame->originalSizeInPixels());
    EXPECT_TRUE(copy->rotated());

    copy->setRect(CGRectMake(9, 9, 9, 9));
    EXPECT_EQ(frame->rect(), CGRectMake(1, 2, 3, 4));
    // Both hold the texture.
    EXPECT_EQ(texture->retainCount(), 3u);
}

TEST_F(SpriteFrameTest, DescriptionNamesFileRectRotationAndPixelOffset) {
    Ref<CCSpriteFrame> frame = CCSpriteFrame::frameWithTextureFilename("a.png", CGRectMake(1, 2, 3, 4), true,
                                                                       CGPointMake(5, 6), CGSizeMake(7, 8));
    EXPECT_TRUE(std::regex_match(
        frame->description(),
        std::regex(
            R"(<CCSpriteFrame = 0x[0-9a-f]+ \| Texture=a\.png, Rect = \(1\.00,2\.00,3\.00,4\.00\)> rotated:1 offset=\(5\.00,6\.00\))")))
        << frame->description();
    Ref<CCSpriteFrame> unnamed = CCSpriteFrame::frameWithTexture(nullptr, CGRectZero);
    EXPECT_NE(unnamed->description().find("Texture=(null)"), std::string::npos);
}

// ---- sheets written here

TEST_F(SpriteFrameTest, EachFormatReadsItsOwnKeys) {
    const std::string format0 = writeSheet(
        "f0.plist",
        "<key>a</key><dict><key>x</key><integer>1</integer><key>y</key><real>2.5</real>"
        "<key>width</key><integer>3</integer><key>height</key><integer>4</integer>"
        "<key>offsetX</key><real>1.5</real><key>offsetY</key><integer>-2</integer>"
        "<key>originalWidth</key><integer>-40</integer><key>originalHeight</key><integer>0</integer></dict>"
        "<key>huge</key><dict><key>originalWidth</key><integer>-9223372036854775807</integer></dict>",
        format(0));
    const std::string format1 =
        writeSheet("f1.plist",
                   "<key>b</key><dict><key>frame</key><string>{{1,2},{3,4}}</string><key>offset</"
                   "key><string>{5,6}</string>"
                   "<key>sourceSize</key><string>{7,8}</string><key>rotated</key><true/>"
                   "<key>textureRotated</key><true/></dict>",
                   format(1));
    const std::string format2 =
        writeSheet("f2.plist",
                   "<key>c</key><dict><key>frame</key><string>{{1,2},{3,4}}</string><key>offset</"
                   "key><string>{-5,6}</string>"
                   "<key>sourceSize</key><string>{7,8}</string><key>rotated</key><true/></dict>",
                   format(2));
    const std::string format3 = writeSheet(
        "f3.plist",
        "<key>d</key><dict><key>textureRect</key><string>{{2,4},{99,99}}</string>"
        "<key>spriteSize</key><string>{10,12}</string><key>spriteOffset</key><string>{1,-1}</string>"
        "<key>spriteSourceSize</key><string>{20,22}</string><key>textureRotated</key><true/>"
        "<key>aliases</key><array><string>d-alias</string><string>other</string></array></dict>",
        format(3));
    for (const std::string& sheet : {format0, format1, format2, format3})
        cache()->addSpriteFramesWithFile(sheet);

    CCSpriteFrame* a = cache()->spriteFrameByName("a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->rectInPixels(), CGRectMake(1, 2.5, 3, 4));
    EXPECT_EQ(a->offsetInPixels(), CGPointMake(1.5, -2));
    EXPECT_EQ(a->originalSizeInPixels(), CGSizeMake(40, 0));
    EXPECT_FALSE(a->rotated());
    // Read as a 32-bit integer, so the size saturates rather than overflowing.
    ASSERT_NE(cache()->spriteFrameByName("huge"), nullptr);
    EXPECT_EQ(cache()->spriteFrameByName("huge")->originalSizeInPixels(), CGSizeMake(2147483648.0, 0));

    CCSpriteFrame* b = cache()->spriteFrameByName("b");
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(b->rotated()) << "format 1 frames are never rotated";
    EXPECT_EQ(b->rectInPixels(), CGRectMake(1, 2, 3, 4));

    CCSpriteFrame* c = cache()->spriteFrameByName("c");
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(c->rotated());
    EXPECT_EQ(c->offsetInPixels(), CGPointMake(-5, 6));
    EXPECT_EQ(c->originalSizeInPixels(), CGSizeMake(7, 8));

    CCSpriteFrame* d = cache()->spriteFrameByName("d");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->rectInPixels(), CGRectMake(2, 4, 10, 12));
    EXPECT_TRUE(d->rotated());
    EXPECT_EQ(d->offsetInPixels(), CGPointMake(1, -1));
    EXPECT_EQ(d->originalSizeInPixels(), CGSizeMake(20, 22));
    EXPECT_EQ(cache()->spriteFrameByName("d-alias"), d);
    EXPECT_EQ(cache()->spriteFrameByName("other"), d);
    EXPECT_EQ(cache()->spriteFrameByName("nothing"), nullptr);
}

TEST_F(SpriteFrameTest, TextureFileIsFoundBesideTheSheet) {
    const std::string named = writeSheet("sub/named.plist", "<key>n</key><dict/>",
                                         "<key>metadata</key><dict><key>format</key><integer>2</integer>"
                                         "<key>textureFileName</key><string>atlas.png</string></dict>");
    const std::string unnamed = writeSheet("sub/unnamed.sheet", "<key>u</key><dict/>", format(1));
    const std::string empty = writeSheet("sub/empty.plist", "<key>e</key><dict/>",
                                         "<key>metadata</key><dict><key>format</key><integer>2</integer>"
                                         "<key>textureFileName</key><string></string></dict>");
    for (const std::string& sheet : {named, unnamed, empty})
        cache()->addSpriteFramesWithFile(sheet);

    EXPECT_EQ(cache()->spriteFrameByName("n")->textureFilename(), scratch.path("sub/atlas.png"));
    EXPECT_EQ(cache()->spriteFrameByName("u")->textureFilename(), scratch.path("sub/unnamed.png"));
    // An empty name means the sheet's own, as some packers write it.
    EXPECT_EQ(cache()->spriteFrameByName("e")->textureFilename(), scratch.path("sub/empty.png"));

    // A texture given by the caller wins over the sheet's name.
    auto texture = make<CCTexture2D>();
    const std::string other = writeSheet("other.plist", "<key>t</key><dict/>", format(2));
    cache()->addSpriteFramesWithFile(other, texture.get());
    EXPECT_EQ(cache()->spriteFrameByName("t")->texture(), texture.get());
    EXPECT_TRUE(cache()->spriteFrameByName("t")->textureFilename().empty());
    cache()->addSpriteFramesWithDictionaryTextureReference(platform::dictionaryWithContentsOfFile(other),
                                                           CCTextureReference());
    EXPECT_EQ(cache()->spriteFrameByName("t")->texture(), nullptr);
}

TEST_F(SpriteFrameTest, ASheetLoadsOnceUntilARemovalForgetsIt) {
    const std::string frame1 = "<key>f</key><dict><key>frame</key><string>{{0,0},{1,1}}</string></dict>";
    const std::string frame2 = "<key>f</key><dict><key>frame</key><string>{{0,0},{2,2}}</string></dict>";
    const std::string sheet = writeSheet("s.plist", frame1, format(1));
    cache()->addSpriteFramesWithFile(sheet);
    EXPECT_TRUE(cache()->isLoaded(sheet));
    writeSheet("s.plist", frame2, format(1));
    cache()->addSpriteFramesWithFile(sheet);
    EXPECT_EQ(cache()->spriteFrameByName("f")->rectInPixels().size.width, 1);

    // A frame someone holds survives the sweep, and nothing is forgotten while all are held.
    Ref<CCSpriteFrame> held = cache()->spriteFrameByName("f");
    cache()->removeUnusedSpriteFrames();
    EXPECT_EQ(cache()->spriteFrameByName("f"), held.get());
    EXPECT_TRUE(cache()->isLoaded(sheet));

    held = nullptr;
    cache()->removeUnusedSpriteFrames();
    EXPECT_EQ(cache()->spriteFrameByName("f"), nullptr);
    EXPECT_FALSE(cache()->isLoaded(sheet));
    cache()->addSpriteFramesWithFile(sheet);
    EXPECT_EQ(cache()->spriteFrameByName("f")->rectInPixels().size.width, 2);
}

TEST_F(SpriteFrameTest, RemovalsByNameAliasFileDictionaryAndTexture) {
    const std::string sheet =
        writeSheet("r.plist",
                   "<key>one</key><dict><key>aliases</key><array><string>uno</string></array></dict>"
                   "<key>two</key><dict><key>aliases</key><array><string>dos</string></array></dict>"
                   "<key>three</key><dict/>",
                   format(3));
    cache()->addSpriteFramesWithFile(sheet);
    ASSERT_EQ(cache()->spriteFrameCount(), 3u);

    cache()->removeSpriteFrameByName("");
    EXPECT_TRUE(cache()->isLoaded(sheet));
    cache()->removeSpriteFrameByName("uno");
    EXPECT_EQ(cache()->spriteFrameByName("one"), nullptr);
    EXPECT_EQ(cache()->spriteFrameByName("uno"), nullptr);
    EXPECT_FALSE(cache()->isLoaded(sheet));

    // Removing through the sheet leaves the aliases, which then lead nowhere.
    cache()->removeSpriteFramesFromDictionary(platform::dictionaryWithContentsOfFile(sheet));
    EXPECT_EQ(cache()->spriteFrameCount(), 0u);
    cache()->addSpriteFramesWithFile(sheet);
    EXPECT_EQ(cache()->spriteFrameCount(), 3u);
    cache()->removeSpriteFramesFromFile(sheet);
    EXPECT_EQ(cache()->spriteFrameCount(), 0u);
    EXPECT_FALSE(cache()->isLoaded(sheet));

    auto red = make<CCTexture2D>();
    auto blue = make<CCTexture2D>();
    cache()->addSpriteFrame(CCSpriteFrame::frameWithTexture(red.get(), CGRectZero).get(), "r1");
    cache()->addSpriteFrame(CCSpriteFrame::frameWithTexture(red.get(), CGRectZero).get(), "r2");
    cache()->addSpriteFrame(CCSpriteFrame::frameWithTexture(blue.get(), CGRectZero).get(), "b");
    cache()->addSpriteFrame(nullptr, "none"); // ignored: no empty entry for the walk below
    EXPECT_EQ(cache()->spriteFrameCount(), 3u);
    cache()->removeSpriteFramesFromTexture(red.get());
    EXPECT_EQ(cache()->spriteFrameCount(), 1u);
    EXPECT_NE(cache()->spriteFrameByName("b"), nullptr);

    // A frame added under a taken name replaces the old one.
    Ref<CCSpriteFrame> replacement = CCSpriteFrame::frameWithTexture(red.get(), CGRectZero);
    cache()->addSpriteFrame(replacement.get(), "b");
    EXPECT_EQ(cache()->spriteFrameByName("b"), replacement.get());

    cache()->addSpriteFramesWithFile(sheet);
    cache()->removeSpriteFrames();
    EXPECT_EQ(cache()->spriteFrameCount(), 0u);
    EXPECT_EQ(cache()->spriteFrameByName("dos"), nullptr);
    EXPECT_FALSE(cache()->isLoaded(sheet));
    EXPECT_TRUE(
        std::regex_match(cache()->description(),
                         std::regex(R"(<CCSpriteFrameCache = 0x[0-9a-f]+ \| num of sprite frames =  0>)")));
}

// ---- sheets that are broken

TEST_F(SpriteFrameTest, BrokenSheetsLoadWhatIsSoundAndAreMarkedLoaded) {
    const std::string good = "<key>good</key><dict><key>frame</key><string>{{1,2},{3,4}}</string></dict>";
    struct Case {
        const char* what;
        std::string text;
        std::size_t frames;
    };
    const std::vector<Case> cases = {
        {"not a property list", "\x89PNG garbage", 0},
        {"cut short", fltest::plistXML("<dict><key>frames</key><dict><key>a</key>").substr(0, 150), 0},
        {"root is an array", fltest::plistXML("<array><string>frames</string></array>"), 0},
        {"frames is an array", fltest::plistXML("<dict><key>frames</key><array><dict/></array></dict>"), 0},
        {"frames missing", fltest::plistXML("<dict>" + format(2) + "</dict>"), 0},
        {"metadata is an array",
         fltest::plistXML("<dict><key>frames</key><dict>" + good +
                          "</dict><key>metadata</key><array/></dict>"),
         0},
        {"format is a dictionary",
         fltest::plistXML("<dict><key>frames</key><dict>" + good +
                          "</dict><key>metadata</key><dict><key>format</key><dict/></dict></dict>"),
         0},
        {"unknown format",
         fltest::plistXML("<dict><key>frames</key><dict>" + good + "</dict>" + format(7) + "</dict>"), 0},
        {"frame entry is a string",
         fltest::plistXML("<dict><key>frames</key><dict><key>s</key><string>x</string>" + good + "</dict>" +
                          format(2) + "</dict>"),
         1},
        {"geometry is a number",
         fltest::plistXML(
             "<dict><key>frames</key><dict><key>n</key><dict><key>frame</key><integer>3</integer>"
             "</dict>" +
             good + "</dict>" + format(2) + "</dict>"),
         1},
        {"rotated is an array",
         fltest::plistXML("<dict><key>frames</key><dict><key>n</key><dict><key>rotated</key><array/></dict>" +
                          good + "</dict>" + format(2) + "</dict>"),
         1},
        {"aliases is a string",
         fltest::plistXML(
             "<dict><key>frames</key><dict><key>n</key><dict><key>aliases</key><string>x</string>"
             "</dict><key>good</key><dict/></dict>" +
             format(3) + "</dict>"),
         1},
        {"format-0 number is a date",
         fltest::plistXML(
             "<dict><key>frames</key><dict><key>n</key><dict><key>x</key><date>2020-01-01T00:00:00Z"
             "</date></dict><key>good</key><dict/></dict>" +
             format(0) + "</dict>"),
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cache()->removeSpriteFrames();
        const std::string path = scratch.write("broken.plist", c.text);
        cache()->addSpriteFramesWithFile(path);
        EXPECT_EQ(cache()->spriteFrameCount(), c.frames);
        EXPECT_TRUE(cache()->isLoaded(path));
        if (c.frames) {
            EXPECT_NE(cache()->spriteFrameByName("good"), nullptr);
        }
    }

    // Missing keys read as zeros; a non-string alias is passed over.
    cache()->removeSpriteFrames();
    cache()->addSpriteFramesWithFile(writeSheet(
        "zeros.plist",
        "<key>z</key><dict><key>aliases</key><array><integer>1</integer><string>zed</string></array></dict>",
        format(3)));
    ASSERT_NE(cache()->spriteFrameByName("zed"), nullptr);
    EXPECT_EQ(cache()->spriteFrameByName("z")->rectInPixels(), CGRectZero);
    EXPECT_EQ(cache()->spriteFrameByName("z")->originalSizeInPixels(), CGSizeZero);

    // A missing sheet, under every way of loading it.
    const std::string missing = scratch.path("missing.plist");
    cache()->addSpriteFramesWithFile(missing);
    EXPECT_TRUE(cache()->isLoaded(missing));
    cache()->addSpriteFramesWithFile("no/such/sheet.plist", "x.png");
    EXPECT_TRUE(cache()->isLoaded("no/such/sheet.plist"));
    cache()->removeSpriteFramesFromFile("no/such/other.plist");
    cache()->addSpriteFramesWithDictionary(platform::PlistValue(), "x.png");
    EXPECT_EQ(cache()->spriteFrameCount(), 1u);
}

// ---- real sheets

class RealSheetTest : public SpriteFrameTest {};

TEST_F(RealSheetTest, EveryFrameMatchesAnIndependentReading) {
    FL_REQUIRE_SHARED_TESTDATA();
    struct Sheet {
        const char* path;
        int format;
        std::size_t frames, rotated;
    };
    const Sheet sheets[] = {
        {"spritesheets/format0/v0.plist", 0, 10, 0},
        {"spritesheets/format1/v1.plist", 1, 20, 0},
        {"spritesheets/format2/v2.plist", 2, 20, 12},
        {"spritesheets/format2_utf8_names/test_case.plist", 2, 892, 892},
        {"spritesheets/format3/v3.plist", 3, 20, 4},
        {"spritesheets/format3_rotated/Sprite.plist", 3, 4, 2},
        {"pvr/gz/bridgesprites.plist", 2, 116, SIZE_MAX},
        {"pvr/ccz/normal.plist", 3, 20, SIZE_MAX},
        {"pvr/ccz/protection.plist", 3, 20, SIZE_MAX},
    };
    for (const Sheet& s : sheets) {
        SCOPED_TRACE(s.path);
        const std::filesystem::path path = fltest::sharedTestData() / s.path;
        const fltest::ReferenceSheet reference = fltest::referenceSheet(path);
        ASSERT_EQ(reference.format, s.format);
        ASSERT_EQ(reference.frames.size(), s.frames);

        cache()->removeSpriteFrames();
        cache()->addSpriteFramesWithFile(path.string());
        EXPECT_EQ(cache()->spriteFrameCount(), s.frames);
        std::size_t rotated = 0;
        for (const auto& [name, expected] : reference.frames) {
            const CCSpriteFrame* frame = cache()->spriteFrameByName(name);
            expectFrameMatches(frame, expected, name);
            if (!frame) continue;
            rotated += frame->rotated();
            const std::string texture = reference.textureFileName.empty()
                                            ? path.parent_path() / path.stem() += ".png"
                                            : path.parent_path() / reference.textureFileName;
            EXPECT_EQ(frame->textureFilename(), texture) << name;
            for (const std::string& alias : expected.aliases)
                EXPECT_EQ(cache()->spriteFrameByName(alias), frame);
        }
        if (s.rotated != SIZE_MAX) {
            EXPECT_EQ(rotated, s.rotated);
        }
    }
}

TEST_F(RealSheetTest, OnePackingInFourFormatsGivesTheSameFrames) {
    FL_REQUIRE_SHARED_TESTDATA();
    const char* sheets[] = {"spritesheets/format1/v1.plist", "spritesheets/format2/v2.plist",
                            "spritesheets/format3/v3.plist", "pvr/ccz/normal.plist"};
    const fltest::ReferenceSheet first = fltest::referenceSheet(fltest::sharedTestData() / sheets[0]);
    ASSERT_EQ(first.frames.size(), 20u);
    for (const char* sheet : sheets) {
        SCOPED_TRACE(sheet);
        cache()->removeSpriteFrames();
        cache()->addSpriteFramesWithFile((fltest::sharedTestData() / sheet).string());
        EXPECT_EQ(cache()->spriteFrameCount(), 20u);
        for (const auto& entry : first.frames) {
            const CCSpriteFrame* frame = cache()->spriteFrameByName(entry.first);
            ASSERT_NE(frame, nullptr) << entry.first;
            EXPECT_EQ(frame->originalSizeInPixels(), CGSizeMake(160, 160)) << entry.first;
        }
    }
}

TEST_F(RealSheetTest, RetinaSheetsGivePointsAtHalfThePixels) {
    FL_REQUIRE_SHARED_TESTDATA();
    platform::setContentScaleFactor(2);
    cache()->addSpriteFramesWithFile(
        (fltest::sharedTestData() / "spritesheets/format3_rotated/Sprite.plist").string());
    const CCSpriteFrame* frame = cache()->spriteFrameByName("image_1.png");
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->rectInPixels(), CGRectMake(227, 1, 500, 112));
    EXPECT_EQ(frame->rect(), CGRectMake(113.5, 0.5, 250, 56));
    EXPECT_EQ(frame->originalSize(), CGSizeMake(250, 56));
}

// ---- textures through the texture cache

class SheetTextureTest : public fltest::EngineGLTest {
protected:
    void SetUp() override {
        EngineGLTest::SetUp();
        CCSpriteFrameCache::purgeSharedSpriteFrameCache();
    }
    void TearDown() override {
        CCSpriteFrameCache::purgeSharedSpriteFrameCache();
        CCTextureCache::purgeSharedTextureCache();
        platform::RunLoop::mainRunLoop()->pump();
        EngineGLTest::TearDown();
    }
    CCSpriteFrameCache* cache() const { return CCSpriteFrameCache::sharedSpriteFrameCache(); }
};

TEST_F(SheetTextureTest, FramesOfASheetShareTheCachedTexture) {
    FL_REQUIRE_SHARED_TESTDATA();
    const std::string sheet = (fltest::sharedTestData() / "spritesheets/format3/v3.plist").string();
    // Other textures (the statistics glyphs of the view) may already be cached.
    const std::uint64_t texturesBefore = CCTextureCache::sharedTextureCache()->count();
    cache()->addSpriteFramesWithFile(sheet);
    CCSpriteFrame* first = cache()->spriteFrameByName("oooo_001.png");
    CCSpriteFrame* other = cache()->spriteFrameByName("oooo_039.png");
    ASSERT_TRUE(first && other);
    CCTexture2D* texture = first->texture();
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->contentSizeInPixels(), CGSizeMake(254, 1130));
    EXPECT_EQ(other->texture(), texture);
    EXPECT_EQ(CCTextureCache::sharedTextureCache()->count(), texturesBefore + 1);
    // The cache keeps the texture; the frames only know its name.
    EXPECT_EQ(texture->retainCount(), 1u);

    Ref<CCSpriteFrame> byObject = CCSpriteFrame::frameWithTexture(texture, CGRectMake(0, 0, 1, 1));
    cache()->addSpriteFrame(byObject.get(), "by object");
    cache()->removeSpriteFramesFromTexture(texture);
    EXPECT_EQ(cache()->spriteFrameCount(), 0u);
}

TEST_F(SheetTextureTest, AMissingTextureShowsOnlyAsANullTexture) {
    fltest::ScratchFolder scratch;
    const std::string sheet = scratch.write(
        "lonely.plist", fltest::plistXML("<dict><key>frames</key><dict><key>a</key><dict/></dict></dict>"));
    cache()->addSpriteFramesWithFile(sheet);
    ASSERT_NE(cache()->spriteFrameByName("a"), nullptr);
    EXPECT_EQ(cache()->spriteFrameByName("a")->texture(), nullptr);
    cache()->removeSpriteFramesFromTexture(nullptr);
    EXPECT_EQ(cache()->spriteFrameCount(), 0u);
}

// ---- the director

TEST_F(SpriteFrameTest, TheDirectorsEndEmptiesTheCache) {
    cache()->addSpriteFrame(CCSpriteFrame::frameWithTexture(nullptr, CGRectZero).get(), "kept");
    CCDirector::sharedDirector();
    CCDirector::purgeSharedDirector();
    EXPECT_EQ(cache()->spriteFrameCount(), 0u);
}

} // namespace
