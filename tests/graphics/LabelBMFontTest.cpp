// Bitmap fonts: the .fnt parser and its cache, and the label's glyph placement, wrapping,
// alignment, colours and drawing. Most fonts are written by the tests themselves, with an atlas
// of solid glyph blocks so that placements and pixels can be worked out by hand.
#include "graphics/CCLabelBMFont.h"

#include "core/CCArray.h"
#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCNodeRGBA.h"
#include "core/CCScene.h"
#include "graphics/CCSprite.h"
#include "graphics/CCTextureCache.h"
#include "platform/Device.h"
#include "platform/Format.h"
#include "platform/Image.h"
#include "tests/graphics/SheetTestSupport.h"
#include "tests/graphics/SpriteTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using platform::Ref;

// lineHeight 16. A: 8x10 red block, B: 6x10 green block, W: 12x10 blue block wider than its
// advance, blank: empty with advance 5. The pair (A, B) is kerned by -2.
const char* const kFont =
    "info face=\"Test\" size=16 bold=0 italic=0 charset=\"\" unicode=1 stretchH=100 smooth=0 aa=1 "
    "padding=1,2,3,4 spacing=1,1\n"
    "common lineHeight=16 base=12 scaleW=32 scaleH=16 pages=1 packed=0\n"
    "page id=0 file=\"atlas.png\"\n"
    "chars count=4\n"
    "char id=65 x=0 y=0 width=8 height=10 xoffset=1 yoffset=2 xadvance=10 page=0 chnl=15\n"
    "char id=66 x=8 y=0 width=6 height=10 xoffset=0 yoffset=2 xadvance=7 page=0 chnl=15\n"
    "char id=87 x=14 y=0 width=12 height=10 xoffset=0 yoffset=2 xadvance=9 page=0 chnl=15\n"
    "char id=32 x=30 y=0 width=0 height=0 xoffset=0 yoffset=0 xadvance=5 page=0 chnl=15\n"
    "kernings count=1\n"
    "kerning first=65 second=66 amount=-2\n";

std::uint32_t atlasPixel(int x, int y) {
    if (y >= 10) return 0;
    if (x < 8) return 0xFF0000FFu;
    if (x < 14) return 0x00FF00FFu;
    if (x < 26) return 0x0000FFFFu;
    return 0;
}

std::string writeAtlas(const fltest::ScratchFolder& folder, const std::string& name) {
    std::vector<std::uint8_t> rgba(32 * 16 * 4);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            const std::uint32_t c = atlasPixel(x, y);
            for (int k = 0; k < 4; ++k)
                rgba[std::size_t((y * 32 + x) * 4 + k)] = std::uint8_t(c >> (24 - 8 * k));
        }
    const std::string path = folder.path(name);
    EXPECT_TRUE(platform::Image::writePNG(path, rgba.data(), 32, 16));
    return path;
}

class BMFontTest : public fltest::SpriteFixture {
protected:
    void SetUp() override {
        SpriteFixture::SetUp();
        writeAtlas(scratch, "atlas.png");
        font = scratch.write("test.fnt", kFont);
    }
    void TearDown() override {
        CCLabelBMFont::purgeCachedData();
        SpriteFixture::TearDown();
    }
    CCSprite* glyph(CCLabelBMFont* label, std::int64_t tag) {
        return dynamic_cast<CCSprite*>(label->getChildByTag(tag));
    }
    std::vector<std::int64_t> visibleTags(CCLabelBMFont* label) {
        std::vector<std::int64_t> tags;
        for (std::uint64_t k = 0; label->children() && k < label->children()->count(); ++k) {
            auto* node = static_cast<CCNode*>(label->children()->objectAtIndex(k));
            if (node->visible()) tags.push_back(node->tag());
        }
        std::sort(tags.begin(), tags.end());
        return tags;
    }
    fltest::ScratchFolder scratch;
    std::string font;
};

// ---- the parser -----------------------------------------------------------------------------

TEST_F(BMFontTest, ParsesGlyphsKerningLineHeightAndAtlasName) {
    CCBMFontConfiguration* config = fntConfigLoadFile(font);
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->commonHeight(), 16);
    EXPECT_EQ(config->atlasName(), scratch.path("atlas.png"));
    EXPECT_EQ(config->glyphCount(), 4u);
    EXPECT_TRUE(config->characterIsMember(u'A'));
    EXPECT_FALSE(config->characterIsMember(u'C'));
    const _BMFontDef* a = config->fontDefForCharacter('A');
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->rect, CGRectMake(0, 0, 8, 10));
    EXPECT_EQ(a->xOffset, 1);
    EXPECT_EQ(a->yOffset, 2);
    EXPECT_EQ(a->xAdvance, 10);
    EXPECT_EQ(config->kerningAmountForPair('A', 'B'), -2);
    EXPECT_EQ(config->kerningAmountForPair('B', 'A'), 0);
    // The padding is only read on request.
    EXPECT_EQ(config->padding().top, 0);
    config->parseInfoArguments(
        "info face=\"Test\" size=16 bold=0 italic=0 charset=\"\" unicode=1 stretchH=100 "
        "smooth=0 aa=1 padding=1,2,3,4 spacing=1,1");
    EXPECT_EQ(config->padding().top, 1);
    EXPECT_EQ(config->padding().right, 2);
    EXPECT_EQ(config->padding().bottom, 3);
    EXPECT_EQ(config->padding().left, 4);
    EXPECT_EQ(config->description(),
              platform::format("<CCBMFontConfiguration = %p | Glphys:4 Kernings:1 | Image = %s>",
                               static_cast<const void*>(config), scratch.path("atlas.png")));
}

TEST_F(BMFontTest, LineEndsPrefixesAndRepeatedEntries) {
    const std::string crlf =
        scratch.write("fonts/a.fnt", "common lineHeight=20 base=1\r\n"
                                     "page id=0 file=\"f.png\"\r\n"
                                     "chars count=1\r\n"
                                     "char id=65 x=1 y=2 width=3 height=4 xoffset=5 yoffset=6 xadvance=7\r\n"
                                     "char id=65 x=9 y=9 width=9 height=9 xoffset=9 yoffset=9 xadvance=9\r\n"
                                     "kerning first=86  second=65  amount=-3\r\n"
                                     "kerning first=86  second=65  amount=-4\r\n"
                                     "  char id=66 x=1\r\n"
                                     "char id=67 x=1 y=2 width=3 height=4 xoffset=5 yoffset=6 xadvance=7");
    CCBMFontConfiguration* config = fntConfigLoadFile(crlf);
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->commonHeight(), 20);
    EXPECT_EQ(config->atlasName(), scratch.path("fonts/f.png"));
    // The later line for a glyph or a pair wins; each is held once.
    EXPECT_EQ(config->fontDefForCharacter('A')->rect, CGRectMake(9, 9, 9, 9));
    EXPECT_EQ(config->glyphCount(), 2u);
    EXPECT_EQ(config->kerningAmountForPair(86, 65), -4);
    EXPECT_EQ(config->kerningAmountForPair(65, 86), 0);
    EXPECT_EQ(config->kerningCount(), 1u);
    // Prefixes count only at the very start; the last line needs no line end.
    EXPECT_FALSE(config->characterIsMember(u'B'));
    EXPECT_EQ(config->fontDefForCharacter('C')->xAdvance, 7);
}

TEST_F(BMFontTest, BrokenFilesGiveWhatTheyCanWithoutCrashing) {
    const std::string broken = scratch.write(
        "broken.fnt", "common lineHeight=99999999999999999999\n"
                      "page id=0 file=unquoted.png\n"
                      "char id=65601 x=1 y=1 width=1 height=1 xoffset=1 yoffset=1 xadvance=1\n"
                      "char id=-1 x=1 y=1 width=1 height=1 xoffset=1 yoffset=1 xadvance=1\n"
                      "char id=66 x=-5 y=7 width=40000 height=2 xoffset=70000 yoffset=-70000 xadvance=32768\n"
                      "char id=67 x=3\n"
                      "char id=68\n"
                      "char\n"
                      "kerning first=65601 second=66 amount=5\n"
                      "kerning first=66 second=-1 amount=5\n"
                      "kerning first=\n"
                      "====\n");
    CCBMFontConfiguration* config = fntConfigLoadFile(broken);
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->commonHeight(), 2147483647);
    EXPECT_EQ(config->atlasName(), "");
    EXPECT_EQ(config->description().substr(config->description().find(" | Image")), " | Image = (null)>");
    // Codes past 16 bits are not folded onto other characters.
    EXPECT_FALSE(config->characterIsMember(u'A'));
    EXPECT_FALSE(config->characterIsMember(0xFFFF));
    const _BMFontDef* b = config->fontDefForCharacter('B');
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->rect, CGRectMake(-5, 7, 40000, 2));
    EXPECT_EQ(b->xOffset, 32767);
    EXPECT_EQ(b->yOffset, -32768);
    EXPECT_EQ(b->xAdvance, 32767);
    EXPECT_EQ(config->fontDefForCharacter('C')->rect, CGRectMake(3, 0, 0, 0));
    // "char id=68" ends right after the id; "char" alone has code 0.
    EXPECT_TRUE(config->characterIsMember(u'D'));
    EXPECT_TRUE(config->characterIsMember(0));
    EXPECT_EQ(config->kerningCount(), 1u); // only the empty "kerning first=" line, as (0, 0)
    EXPECT_EQ(config->kerningAmountForPair(1, 66), 0);
}

TEST_F(BMFontTest, UnreadableFilesAreLoggedAndNotCached) {
    EXPECT_EQ(fntConfigLoadFile("missing.fnt"), nullptr);
    ASSERT_FALSE(logLines.empty());
    EXPECT_EQ(logLines.back(), "engine: Error parsing FNTfile missing.fnt: no such file");
    const std::string latin1 = scratch.write("latin1.fnt", "char id=65\n\xE9\n");
    EXPECT_EQ(fntConfigLoadFile(latin1), nullptr);
    EXPECT_EQ(logLines.back(), "engine: Error parsing FNTfile " + latin1 + ": the file is not UTF-8 text");
    // Repaired, the same name parses: nothing was stored for it.
    scratch.write("latin1.fnt", "char id=233\n");
    ASSERT_NE(fntConfigLoadFile(latin1), nullptr);
    EXPECT_TRUE(fntConfigLoadFile(latin1)->characterIsMember(u'\u00E9'));
}

TEST_F(BMFontTest, TheCacheIsKeyedByTheNameAsPassedAndPurgedByTheDirector) {
    Ref<CCBMFontConfiguration> first = fntConfigLoadFile(font);
    EXPECT_EQ(fntConfigLoadFile(font), first.get());
    const std::string dotted = scratch.path("./test.fnt");
    EXPECT_NE(fntConfigLoadFile(dotted), first.get());

    Ref<CCLabelBMFont> one = CCLabelBMFont::labelWithString("A", font);
    Ref<CCLabelBMFont> two = CCLabelBMFont::labelWithString("B", font);
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->configuration(), first.get());
    EXPECT_EQ(two->configuration(), first.get());
    CCLabelBMFont::purgeCachedData();
    Ref<CCLabelBMFont> three = CCLabelBMFont::labelWithString("C", font);
    EXPECT_NE(three->configuration(), first.get());
    EXPECT_EQ(one->configuration(), first.get());

    // A memory warning and the director's end empty the cache as well.
    Ref<CCBMFontConfiguration> cached = fntConfigLoadFile(font);
    director()->purgeCachedData();
    EXPECT_NE(fntConfigLoadFile(font), cached.get());
    cached = fntConfigLoadFile(font);
    EXPECT_EQ(cached->retainCount(), 2u);
    CCDirector::purgeSharedDirector();
    EXPECT_EQ(cached->retainCount(), 1u);
}

// ---- third-party files ----------------------------------------------------------------------

TEST_F(BMFontTest, RealFontFilesParse) {
    FL_REQUIRE_SHARED_TESTDATA();
    const auto path = [](const char* name) { return (fltest::sharedTestData() / "fonts" / name).string(); };

    CCBMFontConfiguration* anton = fntConfigLoadFile(path("anton_kerning/anton_latin.fnt"));
    ASSERT_NE(anton, nullptr);
    EXPECT_EQ(anton->glyphCount(), 97u);
    EXPECT_EQ(anton->kerningCount(), 3u);
    EXPECT_EQ(anton->commonHeight(), 65);
    EXPECT_EQ(anton->atlasName(), path("anton_kerning/anton_latin_0.png"));
    EXPECT_TRUE(anton->characterIsMember(0));
    EXPECT_TRUE(anton->characterIsMember(13));
    EXPECT_EQ(anton->fontDefForCharacter('A')->rect, CGRectMake(174, 69, 18, 32));
    EXPECT_EQ(anton->kerningAmountForPair(89, 74), -1);

    CCBMFontConfiguration* unquoted = fntConfigLoadFile(path("unquoted_kerning/font.fnt"));
    ASSERT_NE(unquoted, nullptr);
    EXPECT_EQ(unquoted->glyphCount(), 81u);
    EXPECT_EQ(unquoted->kerningCount(), 96u);
    EXPECT_EQ(unquoted->kerningAmountForPair(121, 46), -5); // the last line, without a line end
    EXPECT_EQ(unquoted->fontDefForCharacter('a')->xAdvance, 40);

    CCBMFontConfiguration* digits = fntConfigLoadFile(path("digits_spacing/test.fnt"));
    ASSERT_NE(digits, nullptr);
    EXPECT_EQ(digits->glyphCount(), 11u);
    EXPECT_EQ(digits->kerningCount(), 0u);
    EXPECT_EQ(digits->fontDefForCharacter('1')->rect, CGRectMake(60, 0, 19, 54));

    CCBMFontConfiguration* twoPages = fntConfigLoadFile(path("textonly/medium_2pages.fnt"));
    ASSERT_NE(twoPages, nullptr);
    EXPECT_EQ(twoPages->glyphCount(), 191u);
    EXPECT_EQ(twoPages->kerningCount(), 91u);
    EXPECT_EQ(twoPages->atlasName(), path("textonly/sheet_1.png")); // the last page line wins

    CCBMFontConfiguration* small = fntConfigLoadFile(path("textonly/small_padding_spacing.fnt"));
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(small->kerningAmountForPair(10, 32), -2);
    EXPECT_EQ(small->kerningAmountForPair(32, 10), 1);

    CCBMFontConfiguration* empty = fntConfigLoadFile(path("textonly/empty.fnt"));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->glyphCount(), 0u);
    EXPECT_EQ(empty->atlasName(), "");
    CCBMFontConfiguration* noCommon = fntConfigLoadFile(path("textonly/bad_no_common.fnt"));
    ASSERT_NE(noCommon, nullptr);
    EXPECT_EQ(noCommon->commonHeight(), 0);
    EXPECT_EQ(noCommon->glyphCount(), 2u);
    // Without an atlas there is no label.
    EXPECT_EQ(CCLabelBMFont::labelWithString("x", path("textonly/empty.fnt")), nullptr);
}

TEST_F(BMFontTest, RealFontPlacesKernedGlyphs) {
    FL_REQUIRE_SHARED_TESTDATA();
    const std::string anton = (fltest::sharedTestData() / "fonts/anton_kerning/anton_latin.fnt").string();
    Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString("LT", anton);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->texture()->contentSizeInPixels(), CGSizeMake(256, 256));
    // L: 14 wide, x offset 1, y offset 20, advance 14; T: 15 wide, advance 14; (L, T) kerned -1.
    EXPECT_EQ(glyph(label, 0)->position(), CGPointMake(0 + 1 + 7, 65 - 20 - 16));
    EXPECT_EQ(glyph(label, 1)->position(), CGPointMake(14 + 0 + 7.5 - 1, 65 - 20 - 16));
    EXPECT_EQ(label->contentSize(), CGSizeMake(14 + 14 - 1 + 15 - 14, 65));
}

// ---- the label's layout ---------------------------------------------------------------------

TEST_F(BMFontTest, GlyphsArePlacedFromOffsetsAdvancesAndKerning) {
    Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString("ABA", font);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->children()->count(), 3u);
    EXPECT_EQ(glyph(label, 0)->position(), CGPointMake(1 + 4, 14 - 5));
    EXPECT_EQ(glyph(label, 0)->textureRect(), CGRectMake(0, 0, 8, 10));
    EXPECT_EQ(glyph(label, 0)->zOrder(), 0);
    // B moves 2 left for the pair (A, B); the A after it keeps the shift.
    EXPECT_EQ(glyph(label, 1)->position(), CGPointMake(10 + 3 - 2, 9));
    EXPECT_EQ(glyph(label, 2)->position(), CGPointMake(15 + 1 + 4, 9));
    EXPECT_EQ(label->contentSize(), CGSizeMake(25, 16));
    EXPECT_EQ(label->anchorPoint(), CGPointMake(0.5, 0.5));
    EXPECT_EQ(label->string(), "ABA");

    // A last glyph wider than its advance widens the label; unknown characters take no room.
    label->setString("AW?");
    EXPECT_EQ(label->contentSize(), CGSizeMake(19 + 12 - 9, 16));
    EXPECT_EQ(visibleTags(label), (std::vector<std::int64_t>{0, 1}));
}

TEST_F(BMFontTest, LineFeedsStartLinesOneLineHeightDown) {
    Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString("A\n\nB", font);
    EXPECT_EQ(label->contentSize().height, 48);
    EXPECT_EQ(glyph(label, 0)->position(), CGPointMake(5, 32 + 9));
    // The pair (A, B) is not kerned across the line breaks.
    EXPECT_EQ(glyph(label, 3)->position(), CGPointMake(0 + 3, 9));
    label->setString("A\n");
    EXPECT_EQ(label->contentSize().height, 16);
    EXPECT_EQ(glyph(label, 0)->position(), CGPointMake(5, 9));
}

TEST_F(BMFontTest, GlyphSpritesAreHiddenAndReusedByIndex) {
    Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString("AAAAA", font);
    std::vector<CCSprite*> sprites;
    for (int k = 0; k < 5; ++k)
        sprites.push_back(glyph(label, k));
    label->setString("AB");
    EXPECT_EQ(label->children()->count(), 5u);
    EXPECT_EQ(visibleTags(label), (std::vector<std::int64_t>{0, 1}));
    EXPECT_EQ(label->contentSize(), CGSizeMake(15, 16));
    label->setString("");
    EXPECT_TRUE(visibleTags(label).empty());
    EXPECT_EQ(label->contentSize(), CGSizeMake(15, 16));
    label->setString("BBBBB");
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(glyph(label, k), sprites[std::size_t(k)]);
    EXPECT_EQ(visibleTags(label).size(), 5u);
}

TEST_F(BMFontTest, AStringOrFontNeedingMoreGlyphsThanTheBatchHoldsIsRefused) {
    Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString("AB", font);
    const CGSize size = label->contentSize();
    label->setString(std::string(kCCSpriteBatchMaxQuads + 1, 'A'));
    EXPECT_EQ(label->string(), "AB");
    EXPECT_EQ(visibleTags(label), (std::vector<std::int64_t>{0, 1}));
    EXPECT_EQ(label->contentSize(), size);
    EXPECT_NE(logLines.back().find("keeps its old string"), std::string::npos);

    // A font with glyphs for more of the string is refused the same way.
    const std::string many = "A" + std::string(kCCSpriteBatchMaxQuads, 'C');
    label->setString(many);
    const std::string withC =
        std::string(kFont) + "char id=67 x=0 y=0 width=8 height=10 xoffset=0 yoffset=0 xadvance=8 page=0\n";
    const std::string more = scratch.write("more.fnt", withC);
    label->setFntFile(more);
    EXPECT_EQ(label->fntFile(), font);
    EXPECT_EQ(label->string(), many);
    EXPECT_EQ(visibleTags(label), (std::vector<std::int64_t>{0}));
}

TEST_F(BMFontTest, WrapsAWordThatPassesTheWidthOntoANewLine) {
    // Left edges: A 1, A 11, A 26, A 36 (after a blank of advance 5); right edges 9 ... 44.
    Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString("AA AA", font, 30, kCCTextAlignmentLeft);
    EXPECT_EQ(label->string(), "AA\nAA");
    EXPECT_EQ(label->contentSize(), CGSizeMake(20, 32));
    EXPECT_EQ(glyph(label, 0)->position(), CGPointMake(5, 16 + 9));
    EXPECT_EQ(glyph(label, 3)->position(), CGPointMake(5, 9));
    // Wider, the caller's text comes back unwrapped.
    label->setWidth(100);
    EXPECT_EQ(label->string(), "AA AA");
    label->setWidth(-1);
    EXPECT_EQ(label->string(), "AA AA");
    // Line breaks of the caller's text stay, also across characters without a glyph.
    // Sprites hidden since the longer text stand where the line breaks are now.
    label->setWidth(30);
    label->setString("A\n\nAA AA");
    EXPECT_EQ(label->string(), "A\n\nAA\nAA");
    label->setString("AB\n");
    EXPECT_EQ(label->string(), "AB\n");
}

TEST_F(BMFontTest, WrappingFollowsTheStringWhateverGlyphsTheFontLacks) {
    // The right edge of each line's last glyph, top line first (blanks draw nothing).
    const auto lineEnds = [&](CCLabelBMFont* label) {
        std::vector<std::pair<double, double>> lines; // y, right edge
        for (std::int64_t tag : visibleTags(label)) {
            const CCSprite* sprite = glyph(label, tag);
            if (sprite->contentSize().width == 0) continue;
            const double y = sprite->position().y,
                         right = sprite->position().x + sprite->contentSize().width / 2;
            auto line = std::find_if(lines.begin(), lines.end(), [&](const auto& l) { return l.first == y; });
            if (line == lines.end())
                lines.emplace_back(y, right);
            else
                line->second = std::max(line->second, right);
        }
        std::sort(lines.begin(), lines.end(), std::greater<>());
        std::vector<double> ends;
        for (const auto& line : lines)
            ends.push_back(line.second);
        return ends;
    };
    struct Case {
        const char* text;
        float width;
        const char* wrapped;
        std::vector<double> ends;
    };
    // Lower-case letters and the tab have no glyph in either font; "noblank.fnt" lacks the blank
    // too. An A is 10 wide, its glyph from 1 to 9.
    std::string text(kFont);
    text.erase(text.find("char id=32"), text.find("kernings") - text.find("char id=32"));
    const std::string noBlank = scratch.write("noblank.fnt", text);
    for (const auto& [fnt, cases] : std::vector<std::pair<std::string, std::vector<Case>>>{
             {noBlank,
              {{"AA AA", 30, "AA\nAA", {19, 19}},
               {"Pg A of A", 15, "Pg A of\nA", {9, 9}},
               {"AAAA A\tA", 30, "AAAA\nA\tA", {39, 19}},
               {"A A A A A A", 30, "A A A\nA A A", {29, 29}}}},
             {font,
              {{"pg AAAA of A", 30, "pg AAAA of\nA", {44, 9}},
               {"A\tA", 15, "A\nA", {9, 9}},
               {"x\nyy AAAA A", 30, "x\nyy AAAA\nA", {44, 9}}}}}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.text);
            Ref<CCLabelBMFont> label =
                CCLabelBMFont::labelWithString(c.text, fnt, c.width, kCCTextAlignmentLeft);
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->string(), c.wrapped);
            EXPECT_EQ(lineEnds(label), c.ends);
        }
    }

    // Strings whose characters all have glyphs wrap as before, to the same places as the
    // wrapped text laid out unwrapped.
    for (CCTextAlignment alignment : {kCCTextAlignmentLeft, kCCTextAlignmentCenter, kCCTextAlignmentRight})
        for (const auto& [all, wrapped] : std::vector<std::pair<const char*, const char*>>{
                 {"AB W  AB A\nWW AAA BB", "AB\nW\nAB A\nWW\nAAA\nBB"},
                 {"AAAA A AAAAA  W", "AAAA\nA\nAAAAA\nW"},
                 {"A\n\nAA AA\n", "A\n\nAA\nAA\n"}}) {
            SCOPED_TRACE(all);
            Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString(all, font, 30, alignment);
            Ref<CCLabelBMFont> unwrapped = CCLabelBMFont::labelWithString(wrapped, font, -1, alignment);
            EXPECT_EQ(label->string(), wrapped);
            EXPECT_EQ(label->contentSize(), unwrapped->contentSize());
            EXPECT_EQ(visibleTags(label), visibleTags(unwrapped));
            for (std::int64_t tag : visibleTags(label))
                EXPECT_EQ(glyph(label, tag)->position(), glyph(unwrapped, tag)->position())
                    << "glyph " << tag;
        }
}

TEST_F(BMFontTest, CentreAndRightAlignmentShiftEachLine) {
    // "AA" ends at 19, "A" at 9; the label is 20 wide.
    Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString("AA\nA", font, -1, kCCTextAlignmentCenter);
    EXPECT_EQ(glyph(label, 0)->position().x, 5 + (10 - 19 / 2));
    EXPECT_EQ(glyph(label, 3)->position().x, 5 + (10 - 9 / 2));
    label->setAlignment(kCCTextAlignmentRight);
    EXPECT_EQ(glyph(label, 1)->position().x, 15 + 1);
    EXPECT_EQ(glyph(label, 3)->position().x, 5 + 11);
    // A new anchor lays the glyphs out again, without the shift.
    label->setAnchorPoint(CGPointMake(0, 0));
    EXPECT_EQ(glyph(label, 3)->position().x, 5);
    EXPECT_EQ(label->anchorPointInPoints(), CGPointMake(0, 0));
}

TEST_F(BMFontTest, EveryLineBreakEndsALineInEveryPassAndKerningStaysOnItsLine) {
    // Each break character has a glyph here (an A), which a break must not draw; L and T, shaped
    // as A and B, are kerned by -5.
    std::string text = std::string(kFont) + "kerning first=76 second=84 amount=-5\n"
                                            "char id=76 x=0 y=0 width=8 height=10 xoffset=1 yoffset=2 xadvance=10\n"
                                            "char id=84 x=8 y=0 width=6 height=10 xoffset=0 yoffset=2 xadvance=7\n";
    for (int breakCode : {13, 11, 12, 0x85, 0x2028, 0x2029})
        text += platform::format("char id=%d x=0 y=0 width=8 height=10 xoffset=1 yoffset=2 xadvance=10\n", breakCode);
    const std::string breaks = scratch.write("breaks.fnt", text);

    // Laid out, wrapped and aligned as the same text with a line feed, also the CR LF pair.
    for (const auto& [name, lineBreak] : std::vector<std::pair<const char*, const char*>>{
             {"CR", "\r"},
             {"VT", "\v"},
             {"FF", "\f"},
             {"U+0085", "\xC2\x85"},
             {"U+2028", "\xE2\x80\xA8"},
             {"U+2029", "\xE2\x80\xA9"},
             {"CR LF", "\r\n"}})
        for (CCTextAlignment alignment : {kCCTextAlignmentLeft, kCCTextAlignmentCenter, kCCTextAlignmentRight})
            for (float width : {-1.0f, 30.0f}) {
                SCOPED_TRACE(testing::Message() << name << ", alignment " << alignment << ", width " << width);
                Ref<CCLabelBMFont> label =
                    CCLabelBMFont::labelWithString(std::string("AB") + lineBreak + "AA AA", breaks, width, alignment);
                Ref<CCLabelBMFont> fed = CCLabelBMFont::labelWithString("AB\nAA AA", breaks, width, alignment);
                ASSERT_NE(label, nullptr);
                EXPECT_EQ(label->string(), std::string("AB") + lineBreak + (width > 0 ? "AA\nAA" : "AA AA"));
                EXPECT_EQ(label->contentSize(), fed->contentSize());
                const std::int64_t pairExtra = lineBreak == std::string("\r\n");
                std::vector<std::int64_t> fedTags = visibleTags(fed);
                for (std::int64_t& tag : fedTags)
                    tag += tag > 2 ? pairExtra : 0;
                EXPECT_EQ(visibleTags(label), fedTags);
                for (std::int64_t tag : visibleTags(fed))
                    EXPECT_EQ(glyph(label, tag + (tag > 2 ? pairExtra : 0))->position(), glyph(fed, tag)->position())
                        << "glyph " << tag;
            }

    // A line's first glyph is placed as a label's first glyph is, after a written line feed or
    // one the wrapping put in; on one line the pair is kerned.
    Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString("T", breaks);
    const CGPoint lineStart = glyph(label, 0)->position();
    label->setString("LT");
    EXPECT_EQ(glyph(label, 1)->position().x, 10 - 5 + lineStart.x);
    label->setString("L\nT");
    EXPECT_EQ(glyph(label, 2)->position(), lineStart);
    label = CCLabelBMFont::labelWithString("L T", breaks, 15, kCCTextAlignmentLeft);
    EXPECT_EQ(label->string(), "L\nT");
    EXPECT_EQ(glyph(label, 2)->position(), lineStart);
}

TEST_F(BMFontTest, RetinaScaleAndImageOffsetWorkInPoints) {
    platform::setContentScaleFactor(2.0f);
    Ref<CCLabelBMFont> label =
        CCLabelBMFont::labelWithString("AB", font, -1, kCCTextAlignmentLeft, CGPointMake(1, 2));
    EXPECT_EQ(glyph(label, 0)->textureRect(), CGRectMake(1, 2, 4, 5));
    EXPECT_EQ(glyph(label, 1)->position(), CGPointMake(11 / 2.0, 9 / 2.0));
    EXPECT_EQ(label->contentSize(), CGSizeMake(7.5, 8));
}

TEST_F(BMFontTest, ColourAndOpacityReachEveryGlyph) {
    Ref<CCNodeRGBA> parent = CCNodeRGBA::node();
    parent->setCascadeColorEnabled(true);
    parent->setCascadeOpacityEnabled(true);
    parent->setColor(_ccColor3B{255, 0, 255});
    parent->setOpacity(128);
    Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString("AB", font);
    parent->addChild(label.get());
    label->setColor(_ccColor3B{255, 128, 0});
    label->setOpacity(255);
    EXPECT_EQ(label->displayedColor(), (_ccColor3B{255, 0, 0}));
    EXPECT_EQ(label->displayedOpacity(), 128);
    EXPECT_EQ(glyph(label, 1)->displayedColor(), (_ccColor3B{255, 0, 0}));
    EXPECT_EQ(glyph(label, 1)->displayedOpacity(), 128);
    // Sprites made later start from the label's displayed values and its RGB flag.
    label->setOpacityModifyRGB(false);
    EXPECT_FALSE(glyph(label, 0)->doesOpacityModifyRGB());
    label->setString("ABAB");
    EXPECT_EQ(glyph(label, 3)->displayedColor(), (_ccColor3B{255, 0, 0}));
    EXPECT_EQ(glyph(label, 3)->displayedOpacity(), 128);
    EXPECT_FALSE(glyph(label, 3)->doesOpacityModifyRGB());
}

TEST_F(BMFontTest, FontChangesAndFailuresKeepTheLabelWhole) {
    scratch.write("other/atlas.png", "");
    writeAtlas(scratch, "other/atlas.png");
    const std::string other =
        scratch.write("other/font.fnt", "common lineHeight=30\npage id=0 file=\"atlas.png\"\n"
                                        "char id=65 x=0 y=0 width=8 height=10 xoffset=0 "
                                        "yoffset=0 xadvance=8\n");
    const std::string noAtlas =
        scratch.write("noatlas.fnt", "common lineHeight=30\npage id=0 file=\"gone.png\"\n");
    EXPECT_EQ(CCLabelBMFont::labelWithString("A", "missing.fnt"), nullptr);
    EXPECT_EQ(CCLabelBMFont::labelWithString("A", noAtlas), nullptr);

    Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString("AA", font);
    CCTexture2D* before = label->texture();
    label->setFntFile(noAtlas);
    label->setFntFile("missing.fnt");
    EXPECT_EQ(label->fntFile(), font);
    EXPECT_EQ(label->texture(), before);
    label->setFntFile(other);
    EXPECT_EQ(label->fntFile(), other);
    EXPECT_NE(label->texture(), before);
    EXPECT_EQ(label->contentSize(), CGSizeMake(16, 30));
    EXPECT_EQ(glyph(label, 1)->position(), CGPointMake(12, 25));
}

TEST_F(BMFontTest, OddTextsAndChildrenDoNotUpsetTheLayout) {
    // Before any glyph the pair looked up is (0xFFFF, c): a font that kerns it moves the first
    // glyph, and only that one; each line starts as the first does.
    const std::string kerned =
        scratch.write("kerned.fnt", std::string(kFont) + "kerning first=65535 second=65 amount=-5\n");
    Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString("AA", kerned);
    EXPECT_EQ(glyph(label, 0)->position().x, 5 - 5);
    EXPECT_EQ(glyph(label, 1)->position().x, 5 + 5);
    label->setString("A\nA");
    EXPECT_EQ(glyph(label, 2)->position(), CGPointMake(5 - 5, 9));

    // UTF-8 counts in UTF-16 code units: é is one, the emoji two (neither has a glyph here).
    label = CCLabelBMFont::labelWithString("\xC3\xA9\xF0\x9F\x98\x80"
                                           "A",
                                           font, 50, kCCTextAlignmentCenter);
    EXPECT_NE(glyph(label, 3), nullptr);
    EXPECT_EQ(label->string(), "\xC3\xA9\xF0\x9F\x98\x80"
                               "A");

    // A child of the caller's with a tag no glyph has: wrapping still ends.
    Ref<CCSprite> extra = CCSprite::spriteWithTexture(label->texture(), CGRectMake(0, 0, 1, 1));
    label->addChild(extra.get(), 0, -7);
    label->setWidth(5);
    label->setString("AAA AAA");
    EXPECT_EQ(label->string(), "AAA\nAAA");
}

TEST_F(BMFontTest, AbsurdAdvancesAndKerningLayOutToAWellDefinedSize) {
    // The fuzz corpus's font: advances of 32767, both pairs kerned by 2147483647, read as 32767.
    const std::string absurd = scratch.path("overflowing_kerning.fnt");
    std::filesystem::copy_file(FL_SOURCE_DIR "/fuzz/corpus/bmfont_fuzzer/overflowing_kerning.fnt", absurd);
    Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString("ABBA", absurd);
    ASSERT_NE(label, nullptr);
    // Four advances and the kernings of (A, B) and (B, A).
    EXPECT_EQ(label->contentSize(), CGSizeMake(6 * 32767, 16));

    // A line height below 0 counts as 0: three lines take no height rather than a negative one.
    std::string text = kFont;
    text.replace(text.find("lineHeight=16") + 11, 2, "-2147483648");
    label = CCLabelBMFont::labelWithString("A\nB\nA", scratch.write("negative.fnt", text));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->contentSize(), CGSizeMake(10, 0));
}

TEST_F(BMFontTest, AlignedLinesEndingInACharacterTheFontLacksStayInTheBox) {
    FL_REQUIRE_SHARED_TESTDATA();
    const std::string anton = (fltest::sharedTestData() / "fonts/anton_kerning/anton_latin.fnt").string();
    for (CCTextAlignment alignment : {kCCTextAlignmentCenter, kCCTextAlignmentRight}) {
        SCOPED_TRACE(alignment);
        // The font has no é: each line is measured by the glyph before it.
        for (const char* text : {"Hi \xC3\xA9", "ABCD\nHi \xC3\xA9"}) {
            SCOPED_TRACE(text);
            Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString(text, anton, -1, alignment);
            ASSERT_NE(label, nullptr);
            const CGSize box = label->contentSize();
            for (std::int64_t tag : visibleTags(label)) {
                const CCSprite* sprite = glyph(label, tag);
                const double x = sprite->position().x, half = sprite->contentSize().width / 2;
                EXPECT_GE(x - half, 0) << "glyph " << tag;
                EXPECT_LE(x + half, box.width) << "glyph " << tag;
            }
        }
        // Lines whose characters all have glyphs are shifted as before: "ABCD" (70 wide, ending
        // at 69) fills the box, "Hi" ends at 26.
        Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString("ABCD\nHi", anton, -1, alignment);
        ASSERT_NE(label, nullptr);
        const double shift = alignment == kCCTextAlignmentRight ? 70 - 26 : 35 - 13;
        const double firstShift = alignment == kCCTextAlignmentRight ? 70 - 69 : 35 - 34;
        EXPECT_EQ(glyph(label, 0)->position().x, 9 + firstShift);
        EXPECT_EQ(glyph(label, 3)->position().x, 52 + 1 + 8 + firstShift);
        EXPECT_EQ(glyph(label, 5)->position().x, 9 + shift);
        EXPECT_EQ(glyph(label, 6)->position().x, 22.5 + shift);
    }
}

// ---- drawing --------------------------------------------------------------------------------

TEST_F(BMFontTest, AReusedAlignedLabelDrawsWhatAFreshOneDraws) {
    FL_REQUIRE_SHARED_TESTDATA();
    const std::string anton = (fltest::sharedTestData() / "fonts/anton_kerning/anton_latin.fnt").string();
    const auto frameOf = [&](CCLabelBMFont* label) {
        Ref<CCScene> scene = CCScene::node();
        // 35 x 65 around (-2.5, 32.5): the glyphs of both alignments fall inside the view.
        label->setPosition(CGPointMake(-2.5, 32.5));
        scene->addChild(label);
        drawFrame(scene.get());
        return view()->layer()->presentedFrame().rgba;
    };
    for (CCTextAlignment alignment : {kCCTextAlignmentCenter, kCCTextAlignmentRight}) {
        SCOPED_TRACE(alignment);
        // The font has no é: the line ends at an index whose sprite "ABCDEFGH" left hidden.
        Ref<CCLabelBMFont> reused = CCLabelBMFont::labelWithString("ABCDEFGH", anton, -1, alignment);
        ASSERT_NE(reused, nullptr);
        reused->setString("Hi \xC3\xA9");
        const std::vector<std::uint8_t> drawn = frameOf(reused.get());
        const std::vector<std::uint8_t> fresh =
            frameOf(CCLabelBMFont::labelWithString("Hi \xC3\xA9", anton, -1, alignment).get());
        ASSERT_EQ(drawn.size(), fresh.size());
        std::size_t shown = 0, differing = 0;
        for (std::size_t k = 0; k < fresh.size(); k += 4) {
            shown += fresh[k] != 0;
            differing += !std::equal(&fresh[k], &fresh[k] + 4, &drawn[k]);
        }
        EXPECT_GT(shown, 100u);
        EXPECT_EQ(differing, 0u);
    }
}

TEST_F(BMFontTest, DrawsItsGlyphsInOneBatch) {
    Ref<CCScene> scene = CCScene::node();
    Ref<CCLabelBMFont> label = CCLabelBMFont::labelWithString("AB", font);
    // 15 x 16 centred on (20.5, 20): the lower-left corner is at (13, 12).
    label->setPosition(CGPointMake(20.5, 20));
    scene->addChild(label.get());
    drawFrame(scene.get());
    const std::uint32_t before = drawCallCounter;
    label->visit();
    EXPECT_EQ(drawCallCounter - before, 1u);
    // A covers x 14...22, B covers 21...27 (kerned over A's right edge), both y 16...26.
    EXPECT_TRUE(fltest::colorNear(presentedPixel(16, 20), 0xFF0000FFu));
    EXPECT_TRUE(fltest::colorNear(presentedPixel(25, 20), 0x00FF00FFu));
    EXPECT_TRUE(fltest::colorNear(presentedPixel(16, 28), 0x000000FFu));
    EXPECT_TRUE(fltest::colorNear(presentedPixel(30, 20), 0x000000FFu));

    label->setColor(_ccColor3B{0, 0, 255});
    drawFrame(scene.get());
    EXPECT_TRUE(fltest::colorNear(presentedPixel(16, 20), 0x000000FFu));
    label->setColor(_ccColor3B{255, 255, 255});
    label->setOpacity(0);
    drawFrame(scene.get());
    EXPECT_TRUE(fltest::colorNear(presentedPixel(25, 20), 0x000000FFu));
}

} // namespace
