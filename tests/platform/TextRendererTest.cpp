#include "platform/Log.h"
#include "platform/TextRenderer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

using namespace platform;

namespace {

constexpr const char* kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// The bounding box of pixels above a threshold, or an empty box.
struct Ink {
    long minX = -1, minY = -1, maxX = -1, maxY = -1;
    bool empty() const { return minX < 0; }
    long width() const { return empty() ? 0 : maxX - minX + 1; }
    long height() const { return empty() ? 0 : maxY - minY + 1; }
};

struct Canvas {
    std::size_t width, height, bpp;
    std::vector<std::uint8_t> bytes;
    Canvas(std::size_t w, std::size_t h, TextBitmapFormat f)
        : width(w), height(h), bpp(f == TextBitmapFormat::Gray8 ? 1 : 4), bytes(w * h * bpp, 0), format(f) {}
    TextBitmapFormat format;
    TextBitmap bitmap() { return {bytes.data(), width, height, width * bpp, format}; }
    // The coverage of a pixel: its grey value, or its alpha.
    std::uint8_t at(std::size_t x, std::size_t y) const { return bytes[(y * width + x) * bpp + bpp - 1]; }
    const std::uint8_t* rgba(std::size_t x, std::size_t y) const { return &bytes[(y * width + x) * 4]; }
    Ink ink(std::uint8_t threshold = 0) const {
        Ink box;
        for (std::size_t y = 0; y < height; ++y)
            for (std::size_t x = 0; x < width; ++x)
                if (at(x, y) > threshold) {
                    if (box.empty()) box = {long(x), long(y), long(x), long(y)};
                    box.minX = std::min(box.minX, long(x)), box.maxX = std::max(box.maxX, long(x));
                    box.minY = std::min(box.minY, long(y)), box.maxY = std::max(box.maxY, long(y));
                }
        return box;
    }
};

class TextRendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        font = TextRenderer::fontWithName("DejaVu Sans", 20);
        ASSERT_TRUE(font) << "DejaVu Sans must be installed";
    }
    double widthOf(const std::string& text) const {
        return TextRenderer::sizeWithFont(text, font, CGSizeZero, LineBreakMode::WordWrap).width;
    }
    Ink draw(const std::string& text, CGRect rect, LineBreakMode mode, TextAlignment align, Canvas& canvas,
             const TextStyle& style = {}, VerticalTextAlignment valign = VerticalTextAlignment::Top) {
        EXPECT_TRUE(TextRenderer::drawInRect(text, font, rect, mode, align, style, canvas.bitmap(), valign));
        return canvas.ink();
    }
    Ref<Font> font;
};

} // namespace

TEST_F(TextRendererTest, FontNamesAnswerOnlyWhenAFontHasThem) {
    EXPECT_FALSE(TextRenderer::fontWithName("No Such Typeface Anywhere", 12));
    EXPECT_FALSE(TextRenderer::fontWithName("", 12));
    EXPECT_FALSE(TextRenderer::fontWithName("DejaVu Sans", 0));
    EXPECT_FALSE(TextRenderer::fontWithName("DejaVu Sans", -3));
    EXPECT_EQ(font->familyName(), "DejaVu Sans");
    EXPECT_EQ(font->pointSize(), 20);
    // The platform's common names stand for DejaVu faces.
    struct {
        const char* name;
        const char* family;
    } aliases[] = {{"Helvetica", "DejaVu Sans"},    {"Marker Felt", "DejaVu Sans"},
                   {"Arial", "DejaVu Sans"},        {"Helvetica-Bold", "DejaVu Sans"},
                   {"Courier", "DejaVu Sans Mono"}, {"Times New Roman", "DejaVu Serif"}};
    for (auto a : aliases) {
        Ref<Font> f = TextRenderer::fontWithName(a.name, 16);
        ASSERT_TRUE(f) << a.name;
        EXPECT_EQ(f->familyName(), a.family) << a.name;
        EXPECT_EQ(f->fontName(), a.name);
    }
    // The bold alias really is bold: wider strokes, wider text.
    Ref<Font> regular = TextRenderer::fontWithName("Helvetica", 30),
              bold = TextRenderer::fontWithName("Helvetica-Bold", 30);
    EXPECT_GT(
        TextRenderer::sizeWithFont("Hamburgefonts", bold, CGSizeZero, LineBreakMode::WordWrap).width,
        TextRenderer::sizeWithFont("Hamburgefonts", regular, CGSizeZero, LineBreakMode::WordWrap).width);
    // PostScript and full names answer too.
    EXPECT_TRUE(TextRenderer::fontWithName("DejaVuSans-Bold", 12));
    EXPECT_TRUE(TextRenderer::fontWithName("DejaVu Sans Bold", 12));
}

TEST_F(TextRendererTest, GenericFamiliesAnswerAndAnUnknownNameIsLoggedOnce) {
    for (const char* name : {"Sans", "sans-serif", "Serif", "Monospace", "monospace", "Mono"})
        EXPECT_TRUE(TextRenderer::fontWithName(name, 12)) << name;
    EXPECT_EQ(TextRenderer::fontWithName("Mono", 12)->familyName(),
              TextRenderer::fontWithName("Monospace", 12)->familyName());
    EXPECT_NE(TextRenderer::fontWithName("Sans", 12)->familyName(),
              TextRenderer::fontWithName("Monospace", 12)->familyName());

    std::vector<std::string> lines;
    setLogSink([&](const std::string& line) { lines.push_back(line); });
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(TextRenderer::fontWithName("Footlight Unknown Face", 10 + i));
    setLogSink({});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Footlight Unknown Face"), std::string::npos);
}

TEST_F(TextRendererTest, ARegisteredFileAnswersToItsFamilyAndItsBaseName) {
    auto dir = std::filesystem::temp_directory_path() / ("fl-fonts-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto copy = dir / "FootlightTestFace.ttf";
    std::filesystem::copy_file(kDejaVuSans, copy, std::filesystem::copy_options::overwrite_existing);
    EXPECT_FALSE(TextRenderer::fontWithName("FootlightTestFace", 12)) << "not known before registration";
    ASSERT_TRUE(TextRenderer::registerFontFile(copy.string()));
    Ref<Font> byFile = TextRenderer::fontWithName("FootlightTestFace", 12);
    ASSERT_TRUE(byFile);
    EXPECT_EQ(byFile->familyName(), "DejaVu Sans");
    EXPECT_TRUE(TextRenderer::fontWithName("DejaVu Sans", 12));
    EXPECT_TRUE(TextRenderer::registerFontFile(copy.string())) << "a second registration does no harm";

    auto junk = dir / "NotAFont.ttf";
    std::ofstream(junk) << "this is not a font";
    EXPECT_FALSE(TextRenderer::registerFontFile(junk.string()));
    EXPECT_FALSE(TextRenderer::fontWithName("NotAFont", 12));
    EXPECT_FALSE(TextRenderer::registerFontFile((dir / "missing.ttf").string()));
    std::filesystem::remove_all(dir);
}

TEST_F(TextRendererTest, LinesTakeTheFontsMetricsAndBreakAtNewlines) {
    EXPECT_GT(font->ascender(), 0);
    EXPECT_GT(font->descender(), 0);
    EXPECT_EQ(font->lineHeight(), font->ascender() + font->descender());
    EXPECT_GE(font->lineHeight(), 20);
    CGSize one = TextRenderer::sizeWithFont("Hello", font, CGSizeZero, LineBreakMode::WordWrap);
    EXPECT_GT(one.width, 30);
    EXPECT_EQ(one.height, std::ceil(font->lineHeight()));
    CGSize two = TextRenderer::sizeWithFont("Hello\nWorld!", font, CGSizeZero, LineBreakMode::WordWrap);
    EXPECT_EQ(two.height, std::ceil(2 * font->lineHeight()));
    EXPECT_EQ(two.width, widthOf("World!"));
    EXPECT_EQ(TextRenderer::sizeWithFont("", font, CGSizeZero, LineBreakMode::WordWrap), CGSizeZero);
    EXPECT_EQ(TextRenderer::sizeWithFont("\n", font, CGSizeZero, LineBreakMode::WordWrap),
              CGSizeMake(0, std::ceil(2 * font->lineHeight())));
    // The largest doubles are no limit either.
    EXPECT_EQ(
        TextRenderer::sizeWithFont("Hello", font, CGSizeMake(1.7e308, 1.7e308), LineBreakMode::WordWrap),
        one);
    // Kerning applies: "AV" is narrower than its letters apart.
    EXPECT_LT(widthOf("AVAVAVAV"), 4 * (widthOf("A") + widthOf("V")) - 2);
    // Sizes scale with the font.
    Ref<Font> big = TextRenderer::fontWithName("DejaVu Sans", 40);
    EXPECT_NEAR(TextRenderer::sizeWithFont("Hello", big, CGSizeZero, LineBreakMode::WordWrap).width,
                2 * one.width, 2);
    // Broken UTF-8 is drawn as replacement characters, not read past.
    std::string broken = "ab\xC3";
    EXPECT_GT(TextRenderer::sizeWithFont(broken, font, CGSizeZero, LineBreakMode::WordWrap).width,
              widthOf("ab"));
}

TEST_F(TextRendererTest, WrappingModesBreakWhereTheyShould) {
    const double lh = std::ceil(font->lineHeight());
    double limit = widthOf("alpha beta") + 1;
    // Word wrap: whole words per line, no line wider than the box.
    CGSize words =
        TextRenderer::sizeWithFont("alpha beta gamma", font, CGSizeMake(limit, 0), LineBreakMode::WordWrap);
    EXPECT_EQ(words.height, 2 * lh);
    EXPECT_EQ(words.width, widthOf("alpha beta"));
    // A word wider than the box breaks between characters in word wrap.
    double narrow = widthOf("abcde") + 0.5;
    CGSize longWord =
        TextRenderer::sizeWithFont("abcdefghijklmno", font, CGSizeMake(narrow, 0), LineBreakMode::WordWrap);
    EXPECT_EQ(longWord.height, 3 * lh);
    EXPECT_LE(longWord.width, narrow);
    // Character wrap fills each line regardless of words.
    double charLimit = widthOf("alpha b") + 0.5;
    CGSize chars = TextRenderer::sizeWithFont("alpha beta", font, CGSizeMake(charLimit, 0),
                                              LineBreakMode::CharacterWrap);
    EXPECT_EQ(chars.height, 2 * lh);
    EXPECT_EQ(chars.width, widthOf("alpha b"));
    CGSize wordsToo =
        TextRenderer::sizeWithFont("alpha beta", font, CGSizeMake(charLimit, 0), LineBreakMode::WordWrap);
    EXPECT_EQ(wordsToo.width, widthOf("alpha"));
    // Clip keeps an over-wide word on one line and reports the box's width.
    CGSize clipped =
        TextRenderer::sizeWithFont("abcdefghijklmno", font, CGSizeMake(narrow, 0), LineBreakMode::Clip);
    EXPECT_EQ(clipped.height, lh);
    EXPECT_LE(clipped.width, std::ceil(narrow));
    // The height limit keeps the lines that fit, and at least one.
    CGSize capped =
        TextRenderer::sizeWithFont("a\nb\nc\nd", font, CGSizeMake(0, 2.5 * lh), LineBreakMode::WordWrap);
    EXPECT_EQ(capped.height, 2 * lh);
    CGSize tiny = TextRenderer::sizeWithFont("a\nb", font, CGSizeMake(0, 3), LineBreakMode::WordWrap);
    EXPECT_EQ(tiny.height, lh);
}

TEST_F(TextRendererTest, TruncationPutsTheEllipsisAtTheHeadTailOrMiddle) {
    const std::string word = "MMMMMMMMMMMMMMMMMMMM";
    const double limit = widthOf("MMMMMMMM");
    const double lh = std::ceil(font->lineHeight());
    for (auto mode :
         {LineBreakMode::TruncateHead, LineBreakMode::TruncateTail, LineBreakMode::TruncateMiddle}) {
        CGSize s = TextRenderer::sizeWithFont(word, font, CGSizeMake(limit, 0), mode);
        EXPECT_LE(s.width, limit) << int(mode);
        EXPECT_GT(s.width, limit - widthOf("M") - widthOf("\xE2\x80\xA6")) << int(mode);
        EXPECT_EQ(s.height, lh) << int(mode);
    }
    // Where the ellipsis sits shows in the upper half of the line: capitals have ink there, the
    // ellipsis's dots do not.
    auto capitalInk = [&](LineBreakMode mode, long fromX, long toX) {
        Canvas canvas(256, 32, TextBitmapFormat::Gray8);
        draw(word, CGRectMake(0, 0, limit, 32), mode, TextAlignment::Left, canvas);
        int count = 0;
        for (std::size_t y = 4; y < std::size_t(font->ascender() / 2) + 4; ++y)
            for (long x = fromX; x < toX; ++x)
                count += canvas.at(std::size_t(x), y) > 128;
        return count;
    };
    long w = long(limit), edge = long(widthOf("\xE2\x80\xA6"));
    EXPECT_GT(capitalInk(LineBreakMode::TruncateTail, 0, edge), 0);
    EXPECT_EQ(capitalInk(LineBreakMode::TruncateTail, w - edge + 2, w), 0);
    EXPECT_EQ(capitalInk(LineBreakMode::TruncateHead, 0, edge - 2), 0);
    EXPECT_GT(capitalInk(LineBreakMode::TruncateHead, w - edge, w), 0);
    EXPECT_GT(capitalInk(LineBreakMode::TruncateMiddle, 0, edge), 0);
    EXPECT_GT(capitalInk(LineBreakMode::TruncateMiddle, w - edge, w), 0);
    long middle = long(
        TextRenderer::sizeWithFont(word, font, CGSizeMake(limit, 0), LineBreakMode::TruncateMiddle).width /
        2);
    EXPECT_EQ(capitalInk(LineBreakMode::TruncateMiddle, middle - edge / 2 + 3, middle + edge / 2 - 3), 0);

    // Lines dropped for want of height leave an ellipsis at the end of the last one kept.
    const double oneLine = widthOf("one two three") + 1;
    CGSize cut = TextRenderer::sizeWithFont("one two three four five six", font, CGSizeMake(oneLine, lh),
                                            LineBreakMode::TruncateTail);
    EXPECT_EQ(cut.height, lh);
    EXPECT_LE(cut.width, oneLine);
    EXPECT_GT(cut.width, widthOf("one two"));
    Canvas canvas(256, 32, TextBitmapFormat::Gray8);
    Ink ink = draw("one two three four five six", CGRectMake(0, 0, oneLine, lh), LineBreakMode::TruncateTail,
                   TextAlignment::Left, canvas);
    EXPECT_LE(ink.maxX, long(oneLine));
    // The last ink is the ellipsis: low dots only.
    for (std::size_t y = 0; y < std::size_t(font->ascender()) - 6; ++y)
        EXPECT_EQ(canvas.at(std::size_t(ink.maxX), y), 0);
}

TEST_F(TextRendererTest, InkStaysInsideTheLaidOutBox) {
    Canvas canvas(200, 80, TextBitmapFormat::Gray8);
    CGSize size = TextRenderer::sizeWithFont("Hello", font, CGSizeZero, LineBreakMode::WordWrap);
    Ink ink = draw("Hello", CGRectMake(30, 20, 0, 0), LineBreakMode::WordWrap, TextAlignment::Left, canvas);
    ASSERT_FALSE(ink.empty());
    EXPECT_GE(ink.minX, 30);
    EXPECT_LE(ink.maxX, 30 + long(size.width));
    EXPECT_GE(ink.minY, 20);
    EXPECT_LE(ink.maxY, 20 + long(size.height));
    EXPECT_GT(ink.width(), size.width - 4);
    // White fill on grey: the stem of the H is fully covered.
    std::uint8_t brightest = 0;
    for (std::size_t x = 30; x < 40; ++x)
        brightest = std::max(brightest, canvas.at(x, 20 + std::size_t(font->ascender()) - 5));
    EXPECT_EQ(brightest, 255);
    // Text outside the bitmap is cut off without writing past it.
    Canvas small(8, 8, TextBitmapFormat::Gray8);
    draw("Hello world", CGRectMake(-5, -7, 300, 300), LineBreakMode::WordWrap, TextAlignment::Right, small);
    EXPECT_FALSE(TextRenderer::drawInRect("x", nullptr, CGRectMake(0, 0, 8, 8), LineBreakMode::WordWrap,
                                          TextAlignment::Left, {}, small.bitmap()));
    // A vast box far from the bitmap costs nothing and draws nothing.
    Canvas untouched(64, 64, TextBitmapFormat::Gray8);
    EXPECT_TRUE(draw("far away", CGRectMake(0, 0, 1e8, 1e8), LineBreakMode::WordWrap, TextAlignment::Center,
                     untouched, {}, VerticalTextAlignment::Center)
                    .empty());
    TextBitmap shortRows = small.bitmap();
    shortRows.bytesPerRow = 7;
    EXPECT_FALSE(TextRenderer::drawInRect("x", font, CGRectMake(0, 0, 8, 8), LineBreakMode::WordWrap,
                                          TextAlignment::Left, {}, shortRows));
}

TEST_F(TextRendererTest, AlignmentPlacesLinesAcrossAndDownTheBox) {
    const CGRect box = CGRectMake(0, 0, 200, 100);
    Canvas left(200, 100, TextBitmapFormat::Gray8), centre(200, 100, TextBitmapFormat::Gray8),
        right(200, 100, TextBitmapFormat::Gray8);
    Ink l = draw("Hi", box, LineBreakMode::WordWrap, TextAlignment::Left, left);
    Ink c = draw("Hi", box, LineBreakMode::WordWrap, TextAlignment::Center, centre);
    Ink r = draw("Hi", box, LineBreakMode::WordWrap, TextAlignment::Right, right);
    EXPECT_LE(l.minX, 3);
    EXPECT_GE(r.maxX, 195);
    EXPECT_NEAR((c.minX + c.maxX) / 2.0, 100, 3);
    EXPECT_EQ(l.width(), r.width());

    Canvas top(200, 100, TextBitmapFormat::Gray8), middle(200, 100, TextBitmapFormat::Gray8),
        bottom(200, 100, TextBitmapFormat::Gray8);
    Ink t =
        draw("Hi", box, LineBreakMode::WordWrap, TextAlignment::Left, top, {}, VerticalTextAlignment::Top);
    Ink m = draw("Hi", box, LineBreakMode::WordWrap, TextAlignment::Left, middle, {},
                 VerticalTextAlignment::Center);
    Ink b = draw("Hi", box, LineBreakMode::WordWrap, TextAlignment::Left, bottom, {},
                 VerticalTextAlignment::Bottom);
    double freeHeight = 100 - std::ceil(font->lineHeight());
    EXPECT_NEAR(m.minY - t.minY, freeHeight / 2, 1);
    EXPECT_NEAR(b.minY - t.minY, freeHeight, 1);
}

TEST_F(TextRendererTest, StrokeAndShadowEnlargeTheDrawingInTheirColours) {
    const CGRect box = CGRectMake(20, 20, 160, 60);
    TextStyle plainStyle;
    plainStyle.fillColor = {1, 0, 0, 1};
    Canvas plain(200, 100, TextBitmapFormat::RGBAPremultiplied);
    Ink p = draw("Hi", box, LineBreakMode::WordWrap, TextAlignment::Left, plain, plainStyle);
    ASSERT_FALSE(p.empty());
    // Fill colour, premultiplied: red equals alpha, no green or blue.
    for (std::size_t y = 0; y < 100; ++y)
        for (std::size_t x = 0; x < 200; ++x) {
            const std::uint8_t* px = plain.rgba(x, y);
            ASSERT_TRUE(px[0] == px[3] && px[1] == 0 && px[2] == 0) << x << "," << y;
        }

    TextStyle stroked = plainStyle;
    stroked.strokeEnabled = true;
    stroked.strokeWidth = 6;
    stroked.strokeColor = {0, 0, 1, 1};
    Canvas withStroke(200, 100, TextBitmapFormat::RGBAPremultiplied);
    Ink s = draw("Hi", box, LineBreakMode::WordWrap, TextAlignment::Left, withStroke, stroked);
    EXPECT_NEAR(s.minX, p.minX - 3, 1);
    EXPECT_NEAR(s.maxX, p.maxX + 3, 1);
    EXPECT_NEAR(s.minY, p.minY - 3, 1);
    const std::uint8_t* edge = withStroke.rgba(std::size_t(p.minX), std::size_t(p.minY + p.height() / 2));
    EXPECT_GT(edge[2], 200) << "the outline is drawn over the fill in the stroke colour";

    TextStyle shadowed = plainStyle;
    shadowed.shadowEnabled = true;
    shadowed.shadowOffset = CGSizeMake(6, -4); // right and down
    Canvas withShadow(200, 100, TextBitmapFormat::RGBAPremultiplied);
    Ink h = draw("Hi", box, LineBreakMode::WordWrap, TextAlignment::Left, withShadow, shadowed);
    EXPECT_EQ(h.minX, p.minX);
    EXPECT_EQ(h.minY, p.minY);
    EXPECT_EQ(h.maxX, p.maxX + 6);
    EXPECT_EQ(h.maxY, p.maxY + 4);
    // Where only the shadow falls: black at a third of full alpha.
    std::uint8_t strongest = 0;
    for (std::size_t y = 0; y < 100; ++y)
        for (std::size_t x = 0; x < 200; ++x)
            if (plain.at(x, y) == 0) {
                const std::uint8_t* px = withShadow.rgba(x, y);
                EXPECT_EQ(px[0] + px[1] + px[2], 0);
                strongest = std::max(strongest, px[3]);
            }
    EXPECT_NEAR(strongest, 85, 1);

    shadowed.shadowBlur = 8;
    Canvas blurred(200, 100, TextBitmapFormat::RGBAPremultiplied);
    Ink bl = draw("Hi", box, LineBreakMode::WordWrap, TextAlignment::Left, blurred, shadowed);
    EXPECT_GT(bl.maxX, h.maxX + 3) << "blur spreads the shadow";
    EXPECT_LT(bl.minX, p.minX);

    // An upward shadow extends above the text.
    shadowed.shadowBlur = 0;
    shadowed.shadowOffset = CGSizeMake(0, 5);
    Canvas up(200, 100, TextBitmapFormat::RGBAPremultiplied);
    EXPECT_EQ(draw("Hi", box, LineBreakMode::WordWrap, TextAlignment::Left, up, shadowed).minY, p.minY - 5);

    // Text just left of the bitmap still casts its shadow into it.
    shadowed.shadowOffset = CGSizeMake(80, 0);
    Canvas edge2(100, 40, TextBitmapFormat::RGBAPremultiplied);
    Ink cast =
        draw("Hi", CGRectMake(-60, 5, 0, 0), LineBreakMode::WordWrap, TextAlignment::Left, edge2, shadowed);
    ASSERT_FALSE(cast.empty());
    EXPECT_GE(cast.minX, 19);
}

TEST_F(TextRendererTest, ClipModeCutsInkAtTheBoxEdge) {
    Canvas canvas(300, 40, TextBitmapFormat::Gray8);
    Ink ink = draw("MMMMMMMMMMMMMMMM", CGRectMake(10, 0, 100, 40), LineBreakMode::Clip, TextAlignment::Left,
                   canvas);
    EXPECT_LE(ink.maxX, 110);
    EXPECT_GE(ink.maxX, 100);
}
