#include "graphics/CCLabelTTF.h"

#include "core/CCFileUtils.h"
#include "core/CCScene.h"
#include "graphics/CCFontDefinition.h"
#include "platform/Device.h"
#include "platform/Format.h"
#include "platform/TextRenderer.h"
#include "tests/graphics/SpriteTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;
using platform::Ref;

// Whole pixels of a string laid out without limits, as the text renderer measures it.
CGSize measured(const std::string& text, const std::string& font, double size) {
    Ref<platform::Font> f = platform::TextRenderer::fontWithName(font, size);
    if (!f) return CGSizeZero;
    return platform::TextRenderer::sizeWithFont(text, f.get(), CGSizeMake(0, 0),
                                                platform::LineBreakMode::WordWrap);
}

class LabelTTFTest : public fltest::SpriteFixture {
protected:
    CGSize viewSize() const override { return CGSizeMake(256, 128); }
    void TearDown() override {
        for (const std::string& line : logLines)
            EXPECT_EQ(line.find("OpenGL error"), std::string::npos) << line;
        fltest::SpriteFixture::TearDown();
    }

    // Draws the label with its lower-left corner at the origin on black.
    void drawAlone(CCNode* label) {
        auto scene = CCScene::node();
        label->setAnchorPoint(CGPointZero);
        label->setPosition(CGPointZero);
        scene->addChild(label);
        drawFrame(scene.get());
        scene->removeChild(label, true);
    }
    // The bounds (x0, y0, x1, y1 exclusive) of the pixels brighter than black in the lower-left
    // w x h of the last frame; zero when there are none.
    struct Ink {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        bool any() const { return x1 > x0; }
    };
    Ink inkWithin(int w, int h) const {
        Ink ink{w, h, 0, 0};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if ((presentedPixel(x, y) & 0xFFFFFF00u) != 0) {
                    ink.x0 = std::min(ink.x0, x);
                    ink.y0 = std::min(ink.y0, y);
                    ink.x1 = std::max(ink.x1, x + 1);
                    ink.y1 = std::max(ink.y1, y + 1);
                }
        return ink.x1 > 0 ? ink : Ink{};
    }
};

TEST_F(LabelTTFTest, PlainLabelsTakeTheSizeOfTheirText) {
    auto label = CCLabelTTF::labelWithString("Hello", "Helvetica", 20);
    ASSERT_TRUE(label);
    ASSERT_TRUE(label->texture());
    const CGSize text = measured("Hello", "Helvetica", 20);
    ASSERT_GT(text.width, 0);
    EXPECT_EQ(label->contentSize(), text);
    EXPECT_EQ(label->textureRect(), CGRectMake(0, 0, text.width, text.height));
    EXPECT_EQ(label->shaderProgram(),
              CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTextureColor));
    EXPECT_EQ(label->texture()->resolutionType(), kCCResolutioniPhone);
    EXPECT_EQ(label->fontName(), "Helvetica");
    EXPECT_FLOAT_EQ(label->fontSize(), 20);
    EXPECT_EQ(label->description(), platform::format("<CCLabelTTF = %p | FontSize = 20.0>", label.get()));

    // A zero side of the dimensions counts as none.
    auto wide =
        CCLabelTTF::labelWithString("Hello", "Helvetica", 20, CGSizeMake(200, 0), kCCTextAlignmentRight);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->contentSize(), text);

    // Full dimensions make the box.
    auto boxed = CCLabelTTF::labelWithString("Hello", "Helvetica", 20, CGSizeMake(120, 50),
                                             kCCTextAlignmentCenter, kCCVerticalTextAlignmentBottom);
    ASSERT_TRUE(boxed);
    EXPECT_EQ(boxed->contentSize(), CGSizeMake(120, 50));
    EXPECT_EQ(boxed->horizontalAlignment(), kCCTextAlignmentCenter);
    EXPECT_EQ(boxed->verticalAlignment(), kCCVerticalTextAlignmentBottom);

    // The default label is empty, in Helvetica 12, without a texture.
    Ref<CCLabelTTF> plain = CCLabelTTF::node();
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->string(), "");
    EXPECT_EQ(plain->fontName(), "Helvetica");
    EXPECT_FLOAT_EQ(plain->fontSize(), 12);
    EXPECT_EQ(plain->texture(), nullptr);
}

TEST_F(LabelTTFTest, RetinaRendersTwiceTheFontSizeInPixels) {
    platform::Device::setCurrent(platform::DeviceProfile::phoneRetina());
    platform::setContentScaleFactor(2.0f);
    auto label = CCLabelTTF::labelWithString("Score 42", "Helvetica", 15);
    ASSERT_TRUE(label && label->texture());
    const CGSize pixels = measured("Score 42", "Helvetica", 30);
    EXPECT_EQ(label->texture()->contentSizeInPixels(), pixels);
    EXPECT_EQ(label->contentSize(), CGSizeMake(pixels.width / 2, pixels.height / 2));
    EXPECT_EQ(label->texture()->resolutionType(), kCCResolutioniPhoneRetinaDisplay);

    auto boxed =
        CCLabelTTF::labelWithString("Score", "Helvetica", 15, CGSizeMake(50, 20), kCCTextAlignmentLeft);
    ASSERT_TRUE(boxed);
    EXPECT_EQ(boxed->texture()->contentSizeInPixels(), CGSizeMake(100, 40));
    EXPECT_EQ(boxed->contentSize(), CGSizeMake(50, 20));

    platform::Device::setCurrent(platform::DeviceProfile::padRetina());
    label->setString("Pad");
    EXPECT_EQ(label->texture()->resolutionType(), kCCResolutioniPadRetinaDisplay);
    platform::Device::setCurrent(platform::DeviceProfile::pad());
    platform::setContentScaleFactor(1.0f);
    label->setString("Pad again");
    EXPECT_EQ(label->texture()->resolutionType(), kCCResolutioniPad);
}

TEST_F(LabelTTFTest, AlignmentPlacesTheTextInItsBox) {
    struct Case {
        CCTextAlignment h;
        CCVerticalTextAlignment v;
    };
    Ink inks[3][3];
    for (int h = 0; h < 3; ++h)
        for (int v = 0; v < 3; ++v) {
            auto label = CCLabelTTF::labelWithString("ab", "Helvetica", 16, CGSizeMake(200, 100),
                                                     static_cast<CCTextAlignment>(h),
                                                     static_cast<CCVerticalTextAlignment>(v));
            ASSERT_TRUE(label);
            drawAlone(label.get());
            inks[h][v] = inkWithin(200, 100);
            ASSERT_TRUE(inks[h][v].any()) << h << "," << v;
        }
    // Left text starts near the left edge, right text ends near the right edge, centred text
    // is halfway between; GL's y grows upwards, so top text sits highest.
    const Ink& leftTop = inks[0][0];
    const Ink& centreMiddle = inks[1][1];
    const Ink& rightBottom = inks[2][2];
    EXPECT_LT(leftTop.x0, 5);
    EXPECT_GT(rightBottom.x1, 195);
    EXPECT_NEAR((centreMiddle.x0 + centreMiddle.x1) / 2.0, 100, 4);
    EXPECT_GT(leftTop.y1, 95);
    EXPECT_LT(rightBottom.y0, 8);
    EXPECT_NEAR((centreMiddle.y0 + centreMiddle.y1) / 2.0, 50, 6);
    // Alignments move the text, not its shape.
    EXPECT_NEAR(leftTop.x1 - leftTop.x0, rightBottom.x1 - rightBottom.x0, 1); // sub-pixel placement
}

TEST_F(LabelTTFTest, LineBreakModesReachTheRenderer) {
    const std::string text = "abcdefghijklmnopqrstuvwxyz";
    // One line high, narrower than the text: wrapping characters fills the line, truncating
    // the tail ends it with an ellipsis, so the pictures differ.
    auto wrap = CCLabelTTF::labelWithString(text, "Helvetica", 16, CGSizeMake(80, 20), kCCTextAlignmentLeft,
                                            kCCLineBreakModeCharacterWrap);
    auto tail = CCLabelTTF::labelWithString(text, "Helvetica", 16, CGSizeMake(80, 20), kCCTextAlignmentLeft,
                                            kCCLineBreakModeTailTruncation);
    auto head = CCLabelTTF::labelWithString(text, "Helvetica", 16, CGSizeMake(80, 20), kCCTextAlignmentLeft,
                                            kCCVerticalTextAlignmentTop, kCCLineBreakModeHeadTruncation);
    ASSERT_TRUE(wrap && tail && head);
    EXPECT_EQ(tail->lineBreakMode(), kCCLineBreakModeTailTruncation);
    EXPECT_EQ(head->lineBreakMode(), kCCLineBreakModeHeadTruncation);

    auto picture = [&](CCLabelTTF* label) {
        drawAlone(label);
        std::vector<std::uint32_t> pixels;
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 80; ++x)
                pixels.push_back(presentedPixel(x, y));
        return pixels;
    };
    const auto wrapped = picture(wrap.get()), tailCut = picture(tail.get()), headCut = picture(head.get());
    EXPECT_NE(wrapped, tailCut);
    EXPECT_NE(tailCut, headCut);
    EXPECT_NE(wrapped, headCut);
}

TEST_F(LabelTTFTest, ShadowAndStrokeRenderThroughADefinitionWithRoomForThem) {
    const CGSize text = measured("Hi", "Helvetica", 20);
    auto label =
        CCLabelTTF::labelWithString("Hi", "Helvetica", 20, CGSizeMake(150, 60), kCCTextAlignmentLeft);
    ASSERT_TRUE(label);
    EXPECT_EQ(label->contentSize(), CGSizeMake(150, 60));
    EXPECT_EQ(label->texture()->pixelFormat(), kCCTexture2DPixelFormat_AI88);

    // The shadow path ignores the dimensions and pads for the offset.
    label->enableShadowWithOffset(CGSizeMake(4, -3), 0.7f, 1.0f, true);
    EXPECT_EQ(label->contentSize(), CGSizeMake(text.width + 4, text.height + 3));
    EXPECT_EQ(label->texture()->pixelFormat(), kCCTexture2DPixelFormat_RGBA8888);
    EXPECT_FLOAT_EQ(label->shadowOpacity(), 0.7f);

    // A stroke wider than the offset sets the padding.
    label->enableStrokeWithColor(_ccColor3B{255, 0, 0}, 6, true);
    EXPECT_EQ(label->contentSize(), CGSizeMake(text.width + 6, text.height + 6));

    // Switching both off without rendering keeps the picture until something renders.
    CCTexture2D* shadowed = label->texture();
    label->disableShadowAndUpdateImage(false);
    label->disableStrokeAndUpdateImage(false);
    EXPECT_EQ(label->texture(), shadowed);
    label->setFontSize(21);
    EXPECT_NE(label->texture(), shadowed);
    EXPECT_EQ(label->contentSize(), CGSizeMake(150, 60));

    // At retina scale the padding is in pixels: twice the points.
    platform::setContentScaleFactor(2.0f);
    auto retina = CCLabelTTF::labelWithString("Hi", "Helvetica", 10);
    ASSERT_TRUE(retina);
    retina->enableShadowWithOffset(CGSizeMake(2, 2), 1, 0, true);
    const CGSize pixels = measured("Hi", "Helvetica", 20);
    EXPECT_EQ(retina->texture()->contentSizeInPixels(), CGSizeMake(pixels.width + 4, pixels.height + 4));
}

TEST_F(LabelTTFTest, OnlyRealChangesRenderAgain) {
    auto label = CCLabelTTF::labelWithString("same", "Helvetica", 18);
    ASSERT_TRUE(label && label->texture());
    CCTexture2D* first = label->texture();

    label->setString("same");
    label->setFontName("Helvetica");
    label->setFontSize(18);
    label->setDimensions(CGSizeZero);
    label->setHorizontalAlignment(kCCTextAlignmentLeft);
    label->setVerticalAlignment(kCCVerticalTextAlignmentTop);
    label->disableShadowAndUpdateImage(true);
    label->disableStrokeAndUpdateImage(true);
    label->setFontFillColor(_ccColor3B{0, 0, 0}, true);
    EXPECT_EQ(label->texture(), first);

    // Shadow settings that match the stored ones render once only.
    label->enableShadowWithOffset(CGSizeMake(1, 1), 0.5f, 2, true);
    CCTexture2D* shadowed = label->texture();
    EXPECT_NE(shadowed, first);
    label->enableShadowWithOffset(CGSizeMake(1, 1), 0.5f, 2, true);
    label->enableStrokeWithColor(_ccColor3B{1, 2, 3}, 1, false);
    label->enableStrokeWithColor(_ccColor3B{1, 2, 3}, 1, true);
    label->setFontFillColor(_ccColor3B{9, 9, 9}, false);
    EXPECT_EQ(label->texture(), shadowed);
    // Several changes, one rendering.
    EXPECT_TRUE(label->updateTexture());
    EXPECT_NE(label->texture(), shadowed);

    // Each attribute that changes renders.
    for (auto change : std::initializer_list<std::function<void()>>{
             [&] { label->setString("other"); }, [&] { label->setFontSize(19); },
             [&] { label->setFontName("Courier"); }, [&] { label->setDimensions(CGSizeMake(90, 40)); },
             [&] { label->setHorizontalAlignment(kCCTextAlignmentRight); },
             [&] { label->setVerticalAlignment(kCCVerticalTextAlignmentBottom); },
             [&] {
                 label->enableStrokeWithColor(_ccColor3B{4, 5, 6}, 1, true);
             }}) {
        CCTexture2D* before = label->texture();
        change();
        EXPECT_NE(label->texture(), before);
    }
}

TEST_F(LabelTTFTest, AttributesSetBeforeTheFirstStringWaitForIt) {
    auto label = CCLabelTTF::labelWithString("", "Helvetica", 12);
    ASSERT_TRUE(label);
    label->setFontSize(30);
    label->setFontName("Courier");
    label->setDimensions(CGSizeMake(100, 40));
    EXPECT_EQ(label->texture(), nullptr);
    label->setString("now");
    ASSERT_TRUE(label->texture());
    EXPECT_EQ(label->contentSize(), CGSizeMake(100, 40));

    // Back to nothing: an empty picture, not the old text.
    label->setDimensions(CGSizeZero);
    label->setString("");
    EXPECT_EQ(label->string(), "");
    drawAlone(label.get());
    EXPECT_FALSE(inkWithin(100, 40).any());
}

TEST_F(LabelTTFTest, UnknownFontsLeaveTheLastPictureInPlace) {
    auto none = CCLabelTTF::labelWithString("text", "No Such Typeface Anywhere", 12);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->texture(), nullptr);
    EXPECT_FALSE(none->updateTexture());

    auto label = CCLabelTTF::labelWithString("text", "Helvetica", 12);
    ASSERT_TRUE(label);
    CCTexture2D* before = label->texture();
    const CGSize size = label->contentSize();
    label->setFontName("No Such Typeface Anywhere");
    EXPECT_EQ(label->fontName(), "No Such Typeface Anywhere");
    EXPECT_EQ(label->texture(), before);
    EXPECT_EQ(label->contentSize(), size);

    // Absurd sizes are refused by the texture, not turned into one.
    label->setFontName("Helvetica");
    CCTexture2D* helvetica = label->texture();
    label->setFontSize(1e9f);
    EXPECT_EQ(label->texture(), helvetica);
    label->setFontSize(-5);
    EXPECT_EQ(label->texture(), helvetica);
    label->setDimensions(CGSizeMake(-10, 1e12));
    EXPECT_EQ(label->texture(), helvetica);
    EXPECT_EQ(label->getFontDefinition()->fontSize(), -5);
    label->setFontSize(3e10f);
    EXPECT_EQ(label->getFontDefinition()->fontSize(), 2147483647);
}

TEST_F(LabelTTFTest, FontFilesAreRegisteredAndNamedAfterTheFile) {
    const fs::path dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    if (!fs::exists(dejavu)) GTEST_SKIP() << "DejaVu Sans is not installed";
    const fs::path dir =
        fs::temp_directory_path() / platform::format("footlight-label-ttf-%d", int(getpid()));
    fs::create_directories(dir);
    fs::copy_file(dejavu, dir / "GameFace.TTF", fs::copy_options::overwrite_existing);
    CCFileUtils::sharedFileUtils()->setSearchPath({dir.string()});

    EXPECT_EQ(CCLabelTTF::getFontName("Helvetica"), "Helvetica");
    EXPECT_EQ(CCLabelTTF::getFontName("GameFace.TTF"), "GameFace");
    auto label = CCLabelTTF::labelWithString("file", "GameFace.TTF", 14);
    ASSERT_TRUE(label);
    EXPECT_EQ(label->fontName(), "GameFace");
    ASSERT_TRUE(label->texture());
    EXPECT_EQ(label->contentSize(), measured("file", "GameFace", 14));
    // A second registration of the same file is harmless, and the name is the same.
    CCTexture2D* before = label->texture();
    label->setFontName("GameFace.TTF");
    EXPECT_EQ(label->fontName(), "GameFace");
    EXPECT_EQ(label->texture(), before);

    // A file that is not there is still asked for by its base name (and no font answers).
    auto missing = CCLabelTTF::labelWithString("x", "fonts/Nowhere.ttf", 14);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->fontName(), "Nowhere");
    EXPECT_EQ(missing->texture(), nullptr);
    fs::remove_all(dir);
}

TEST_F(LabelTTFTest, FontDefinitionsCarryPointsOrPixels) {
    platform::setContentScaleFactor(2.0f);
    auto label =
        CCLabelTTF::labelWithString("def", "Helvetica", 15.7f, CGSizeMake(80, 30), kCCTextAlignmentCenter,
                                    kCCVerticalTextAlignmentBottom, kCCLineBreakModeClip);
    ASSERT_TRUE(label);
    label->enableShadowWithOffset(CGSizeMake(3, -2), 0.8f, 1.5f, false);
    label->enableStrokeWithColor(_ccColor3B{1, 2, 3}, 2.5f, false);
    label->setFontFillColor(_ccColor3B{10, 20, 30}, false);

    Ref<CCFontDefinition> points = label->getFontDefinition();
    ASSERT_TRUE(points);
    EXPECT_EQ(points->fontName(), "Helvetica");
    EXPECT_EQ(points->fontSize(), 15);
    EXPECT_EQ(points->alignment(), kCCTextAlignmentCenter);
    EXPECT_EQ(points->vertAlignment(), kCCVerticalTextAlignmentBottom);
    EXPECT_EQ(points->lineBreakMode(), kCCLineBreakModeClip);
    EXPECT_EQ(points->dimensions(), CGSizeZero); // not carried
    EXPECT_EQ(points->fontFillColor(), (_ccColor3B{10, 20, 30}));
    EXPECT_TRUE(points->strokeEnabled());
    EXPECT_EQ(points->strokeColor(), (_ccColor3B{1, 2, 3}));
    EXPECT_DOUBLE_EQ(points->strokeSize(), 2.5);
    EXPECT_TRUE(points->shadowEnabled());
    EXPECT_EQ(points->shadowOffset(), CGSizeMake(3, -2));
    EXPECT_DOUBLE_EQ(points->shadowBlur(), 1.5);

    Ref<CCFontDefinition> pixels = label->prepareFontDefinitionAndAdjustForResolution(true);
    ASSERT_TRUE(pixels);
    EXPECT_EQ(pixels->fontSize(), 31);
    EXPECT_DOUBLE_EQ(pixels->strokeSize(), 5);
    EXPECT_EQ(pixels->shadowOffset(), CGSizeMake(6, -4));
    EXPECT_DOUBLE_EQ(pixels->shadowBlur(), 1.5);

    label->disableShadowAndUpdateImage(false);
    label->disableStrokeAndUpdateImage(false);
    Ref<CCFontDefinition> bare = label->getFontDefinition();
    EXPECT_FALSE(bare->shadowEnabled());
    EXPECT_FALSE(bare->strokeEnabled());
}

TEST_F(LabelTTFTest, LabelsFromDefinitionsTakeEveryAttribute) {
    auto def = platform::make<CCFontDefinition>();
    ASSERT_TRUE(def->initWithFontName("Courier", 22));
    def->setDimensions(CGSizeMake(100, 40));
    def->setAlignment(kCCTextAlignmentRight);
    def->setVertAlignment(kCCVerticalTextAlignmentCenter);
    def->setLineBreakMode(kCCLineBreakModeCharacterWrap);
    def->setFontFillColor(_ccColor3B{0, 255, 0});
    def->enableShadow(true);
    def->setShadowOffset(CGSizeMake(2, -2));
    def->setShadowBlur(1);

    auto label = CCLabelTTF::labelWithString("green", def.get());
    ASSERT_TRUE(label && label->texture());
    EXPECT_EQ(label->fontName(), "Courier");
    EXPECT_FLOAT_EQ(label->fontSize(), 22);
    EXPECT_EQ(label->dimensions(), CGSizeMake(100, 40));
    EXPECT_EQ(label->horizontalAlignment(), kCCTextAlignmentRight);
    EXPECT_EQ(label->verticalAlignment(), kCCVerticalTextAlignmentCenter);
    EXPECT_EQ(label->lineBreakMode(), kCCLineBreakModeCharacterWrap);
    EXPECT_TRUE(label->shadowEnabled());
    EXPECT_FLOAT_EQ(label->shadowOpacity(), 0.5f); // whatever the definition held
    EXPECT_EQ(label->shadowOffset(), CGSizeMake(2, -2));
    EXPECT_FALSE(label->strokeEnabled());
    // Drawn on the definition path: sized to the text plus the shadow, filled green.
    const CGSize text = measured("green", "Courier", 22);
    EXPECT_EQ(label->contentSize(), CGSizeMake(text.width + 2, text.height + 2));
    drawAlone(label.get());
    bool green = false;
    for (int y = 0; y < int(text.height); ++y)
        for (int x = 0; x < int(text.width); ++x)
            green = green || fltest::colorNear(presentedPixel(x, y), 0x00FF00FF, 8);
    EXPECT_TRUE(green);

    // Applying a plain definition switches the shadow off and renders once.
    auto plain = platform::make<CCFontDefinition>();
    ASSERT_TRUE(plain->initWithFontName("Helvetica", 12));
    CCTexture2D* before = label->texture();
    label->setFontDefinition(plain.get());
    EXPECT_FALSE(label->shadowEnabled());
    EXPECT_NE(label->texture(), before);
    EXPECT_EQ(label->contentSize(), measured("green", "Helvetica", 12));

    // A missing definition changes nothing and makes no label.
    before = label->texture();
    label->setFontDefinition(nullptr);
    EXPECT_EQ(label->texture(), before);
    EXPECT_FALSE(CCLabelTTF::labelWithString("x", static_cast<const CCFontDefinition*>(nullptr)));
}

TEST_F(LabelTTFTest, DrawnTextIsTintedByTheLabelsColour) {
    auto label = CCLabelTTF::labelWithString("HHHH", "Helvetica", 32);
    ASSERT_TRUE(label);
    drawAlone(label.get());
    const CGSize size = label->contentSize();
    Ink ink = inkWithin(int(size.width), int(size.height));
    ASSERT_TRUE(ink.any());
    bool white = false;
    for (int y = ink.y0; y < ink.y1; ++y)
        for (int x = ink.x0; x < ink.x1; ++x)
            white = white || fltest::colorNear(presentedPixel(x, y), 0xFFFFFFFF, 4);
    EXPECT_TRUE(white);
    EXPECT_TRUE(fltest::colorNear(presentedPixel(int(size.width) + 4, 4), 0x000000FF));

    label->setColor(_ccColor3B{255, 0, 0});
    drawAlone(label.get());
    bool red = false, other = false;
    for (int y = ink.y0; y < ink.y1; ++y)
        for (int x = ink.x0; x < ink.x1; ++x) {
            std::uint32_t p = presentedPixel(x, y);
            red = red || fltest::colorNear(p, 0xFF0000FF, 4);
            other = other || (p & 0x00FFFF00u) != 0;
        }
    EXPECT_TRUE(red);
    EXPECT_FALSE(other);
}

} // namespace
