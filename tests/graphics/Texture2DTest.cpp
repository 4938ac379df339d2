#include "core/CCConfiguration.h"
#include "core/CCDirector.h"
#include "core/CCMatrix.h"
#include "core/CCPointExtension.h"
#include "core/CCShaderCache.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCFontDefinition.h"
#include "graphics/CCTexture2D.h"
#include "platform/Device.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/Image.h"
#include "platform/TextRenderer.h"
#include "tests/support/GLTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

using platform::Ref;

// Draws the texture over a whole w x h target with nearest filtering and no blending, and
// reads it back (rows top-down): texel row 0 is the top row of the result.
platform::PixelBuffer drawnTexturePixels(CCTexture2D* texture, int w, int h) {
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
    return target.read();
}

namespace {

std::uint32_t rgba(unsigned r, unsigned g, unsigned b, unsigned a) {
    return r << 24 | g << 16 | b << 8 | a;
}

// What GL gives back for an n-bit channel value.
unsigned expand(unsigned q, unsigned bits) {
    return unsigned(std::lround(q * 255.0 / ((1u << bits) - 1)));
}

class Texture2DTest : public fltest::GLTest {
protected:
    void TearDown() override {
        CCTexture2D::setDefaultAlphaPixelFormat(kCCTexture2DPixelFormat_RGBA8888);
        CCShaderCache::purgeSharedShaderCache();
        fltest::GLTest::TearDown();
    }
    Ref<CCTexture2D> fromImage(const platform::Image* image) {
        auto texture = platform::make<CCTexture2D>();
        return texture->initWithCGImage(image, kCCResolutioniPhone) ? texture : nullptr;
    }
    Ref<CCTexture2D> fromData(const void* data, CCTexture2DPixelFormat format, unsigned w, unsigned h) {
        auto texture = platform::make<CCTexture2D>();
        return texture->initWithData(data, format, w, h, CGSizeMake(w, h)) ? texture : nullptr;
    }
    // Number of pixels with some alpha in the rectangle [x0, x1) x [y0, y1), rows top-down.
    static int inked(const platform::PixelBuffer& p, int x0, int y0, int x1, int y1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                n += (p.pixel(x, y) & 0xFF) != 0;
        return n;
    }
    static int lastInkRow(const platform::PixelBuffer& p) {
        for (int y = p.height - 1; y >= 0; --y)
            if (inked(p, 0, y, p.width, y + 1)) return y;
        return -1;
    }
    static double meanInkRow(const platform::PixelBuffer& p) {
        double sum = 0;
        int n = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
                if (p.pixel(x, y) & 0xFF) sum += y, ++n;
        return n ? sum / n : -1;
    }
};

TEST_F(Texture2DTest, FormatTableNamesAndBitsPerPixel) {
    const char* names[] = {"RGBA8888", "RGB888",   "RGB565", "A8",     "I8",
                           "AI88",     "RGBA4444", "RGB5A1", "PVRTC4", "PVRTC2"};
    const std::uint64_t bits[] = {32, 32, 16, 8, 8, 16, 16, 16, 4, 2};
    for (int f = 0; f < 10; ++f) {
        EXPECT_EQ(CCTexture2D::stringForFormat(CCTexture2DPixelFormat(f)), names[f]);
        EXPECT_EQ(CCTexture2D::bitsPerPixelForFormat(CCTexture2DPixelFormat(f)), bits[f]);
    }
    EXPECT_EQ(CCTexture2D::bitsPerPixelForFormat(CCTexture2DPixelFormat(10)), ~std::uint64_t(0));
    EXPECT_EQ(CCTexture2D::stringForFormat(CCTexture2DPixelFormat(10)), "");
    EXPECT_EQ(CCTexture2D::defaultAlphaPixelFormat(), kCCTexture2DPixelFormat_RGBA8888);

    const std::uint8_t px[16] = {};
    auto t = fromData(px, kCCTexture2DPixelFormat_RGB565, 4, 2);
    ASSERT_TRUE(t);
    t->setMaxT(0.5f);
    EXPECT_EQ(t->description(),
              platform::format("<CCTexture2D = %p | Name = %i | Dimensions = 4x2 | Pixel format = RGB565 | "
                               "Coordinates = (1.00, 0.50)>",
                               t.get(), int(t->name())));
    EXPECT_EQ(t->bitsPerPixelForFormat(), 16u);
}

TEST_F(Texture2DTest, ConversionsTruncateWithExactBitLayouts) {
    const std::uint8_t in[] = {0x12, 0x34, 0x56, 0x78, 0x12, 0x34, 0x56, 0x80, 0xFF, 0xFF, 0xFF, 0xFF};
    std::uint16_t out[3];
    ASSERT_TRUE(ccConvertRGBA8888(in, 3, kCCTexture2DPixelFormat_RGB565, out));
    EXPECT_EQ(out[0], 0x11AA);
    EXPECT_EQ(out[2], 0xFFFF);
    ASSERT_TRUE(ccConvertRGBA8888(in, 3, kCCTexture2DPixelFormat_RGBA4444, out));
    EXPECT_EQ(out[0], 0x1357);
    EXPECT_EQ(out[1], 0x1358);
    ASSERT_TRUE(ccConvertRGBA8888(in, 3, kCCTexture2DPixelFormat_RGB5A1, out));
    EXPECT_EQ(out[0], 0) << "alpha 120 is below the threshold: the whole pixel goes";
    EXPECT_EQ(out[1], 0x1195);
    EXPECT_EQ(out[2], 0xFFFF);
    std::uint8_t rgb[9];
    ASSERT_TRUE(ccConvertRGBA8888(in, 3, kCCTexture2DPixelFormat_RGB888, rgb));
    EXPECT_EQ(std::vector<std::uint8_t>(rgb, rgb + 6),
              (std::vector<std::uint8_t>{0x12, 0x34, 0x56, 0x12, 0x34, 0x56}));
    EXPECT_FALSE(ccConvertRGBA8888(in, 3, kCCTexture2DPixelFormat_AI88, out));
}

// Every image format through GL: what is sampled back matches the image's own RGBA quantised
// independently here, so layout, byte order, row alignment and the alpha threshold all count.
TEST_F(Texture2DTest, ImagesBecomeTexturesOfTheDefaultAlphaFormat) {
    // Premultiplied pixels, so the bitmap holds exactly these bytes.
    const std::uint8_t px[] = {200, 100, 50,  255, 10, 20, 30, 128, 100, 90, 80, 127, 0, 0, 0, 0,
                               255, 255, 255, 255, 17, 34, 51, 200, 128, 64, 32, 129, 1, 2, 3, 4};
    auto image = platform::Image::imageWithPixels(px, 4, 2, platform::ImageColorSpace::RGB,
                                                  platform::ImageAlphaInfo::PremultipliedLast);
    ASSERT_TRUE(image);
    for (CCTexture2DPixelFormat f :
         {kCCTexture2DPixelFormat_RGBA8888, kCCTexture2DPixelFormat_RGB888, kCCTexture2DPixelFormat_RGB565,
          kCCTexture2DPixelFormat_RGBA4444, kCCTexture2DPixelFormat_RGB5A1}) {
        SCOPED_TRACE(CCTexture2D::stringForFormat(f));
        CCTexture2D::setDefaultAlphaPixelFormat(f);
        auto t = fromImage(image.get());
        ASSERT_TRUE(t);
        EXPECT_EQ(t->pixelFormat(), f);
        EXPECT_TRUE(t->hasPremultipliedAlpha());
        EXPECT_EQ(t->resolutionType(), kCCResolutioniPhone);
        EXPECT_EQ(t->pixelsWide(), 4u);
        ASSERT_NE(t->shaderProgram(), nullptr);
        platform::PixelBuffer out = drawnTexturePixels(t.get(), 4, 2);
        for (int i = 0; i < 8; ++i) {
            const unsigned r = px[i * 4], g = px[i * 4 + 1], b = px[i * 4 + 2], a = px[i * 4 + 3];
            std::uint32_t want = rgba(r, g, b, a);
            if (f == kCCTexture2DPixelFormat_RGB888) want = rgba(r, g, b, 255);
            if (f == kCCTexture2DPixelFormat_RGB565)
                want = rgba(expand(r >> 3, 5), expand(g >> 2, 6), expand(b >> 3, 5), 255);
            if (f == kCCTexture2DPixelFormat_RGBA4444)
                want = rgba(expand(r >> 4, 4), expand(g >> 4, 4), expand(b >> 4, 4), expand(a >> 4, 4));
            if (f == kCCTexture2DPixelFormat_RGB5A1)
                want = a >= 128 ? rgba(expand(r >> 3, 5), expand(g >> 3, 5), expand(b >> 3, 5), 255) : 0;
            EXPECT_TRUE(fltest::colorNear(out.pixel(i % 4, i / 4), want, 1)) << "pixel " << i;
        }
    }
}

TEST_F(Texture2DTest, OpaqueGreyAndMaskImagesPickTheirFormats) {
    const std::uint8_t grey[] = {0, 64, 128, 255};
    auto greyImage = platform::Image::imageWithPixels(grey, 2, 2, platform::ImageColorSpace::Gray,
                                                      platform::ImageAlphaInfo::None);
    auto mask = platform::Image::alphaMask(grey, 2, 2);
    ASSERT_TRUE(greyImage && mask);

    auto t = fromImage(greyImage.get());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->pixelFormat(), kCCTexture2DPixelFormat_RGBA8888) << "a grey image has a colour space";
    EXPECT_FALSE(t->hasPremultipliedAlpha());
    EXPECT_TRUE(fltest::colorNear(drawnTexturePixels(t.get(), 2, 2).pixel(1, 0), rgba(64, 64, 64, 255), 0));

    CCTexture2D::setDefaultAlphaPixelFormat(kCCTexture2DPixelFormat_RGBA4444);
    t = fromImage(greyImage.get());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->pixelFormat(), kCCTexture2DPixelFormat_RGB565)
        << "opaque images ignore 16-bit alpha formats";

    t = fromImage(mask.get());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->pixelFormat(), kCCTexture2DPixelFormat_A8);
    EXPECT_FALSE(t->hasPremultipliedAlpha());
    platform::PixelBuffer out = drawnTexturePixels(t.get(), 2, 2);
    EXPECT_EQ(out.pixel(0, 1), rgba(0, 0, 0, 128));
    EXPECT_EQ(out.pixel(1, 1), rgba(0, 0, 0, 255));

    if (!fltest::sharedTestData().empty()) {
        for (const char* file : {"png/basn0g08.png", "jpeg/jpg-gray.jpg"}) {
            auto decoded =
                platform::Image::imageWithContentsOfFile((fltest::sharedTestData() / file).string());
            ASSERT_TRUE(decoded) << file;
            t = fromImage(decoded.get());
            ASSERT_TRUE(t);
            EXPECT_EQ(t->pixelFormat(), kCCTexture2DPixelFormat_RGB565) << file;
        }
    }
}

TEST_F(Texture2DTest, RowsArePaddedToWholeWordsAndNarrowRowsUploadIntact) {
    const std::uint8_t px[3 * 2 * 4] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255,
                                        9,   9, 9, 255, 8, 8,   8, 255, 7, 7, 7,   255};
    auto image = platform::Image::imageWithPixels(px, 3, 2, platform::ImageColorSpace::RGB,
                                                  platform::ImageAlphaInfo::Last);
    ASSERT_TRUE(image);
    auto t = fromImage(image.get());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->pixelsWide(), 3u) << "12 bytes a row already fill whole words";
    CCTexture2D::setDefaultAlphaPixelFormat(kCCTexture2DPixelFormat_RGB565);
    t = fromImage(image.get());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->pixelsWide(), 4u) << "6 bytes a row grow to 8";
    EXPECT_EQ(t->contentSizeInPixels(), CGSizeMake(3, 2));
    EXPECT_FLOAT_EQ(t->maxS(), 0.75f);

    // Power-of-two rows whose byte count is not a word: every row must start where it should.
    const std::uint8_t rgb[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    t = fromData(rgb, kCCTexture2DPixelFormat_RGB888, 2, 2);
    ASSERT_TRUE(t);
    platform::PixelBuffer out = drawnTexturePixels(t.get(), 2, 2);
    EXPECT_EQ(out.pixel(0, 1), rgba(0, 0, 255, 255));
    EXPECT_EQ(out.pixel(1, 1), rgba(255, 255, 255, 255));
    const std::uint8_t ai[] = {255, 10, 255, 200};
    t = fromData(ai, kCCTexture2DPixelFormat_AI88, 1, 2);
    ASSERT_TRUE(t);
    out = drawnTexturePixels(t.get(), 1, 2);
    EXPECT_EQ(out.pixel(0, 0), rgba(255, 255, 255, 10));
    EXPECT_EQ(out.pixel(0, 1), rgba(255, 255, 255, 200));
}

TEST_F(Texture2DTest, UnsupportedFormatsRaise) {
    const std::uint8_t px[16] = {};
    for (int f : {4, 8, 9, 42, -1}) {
        auto t = platform::make<CCTexture2D>();
        try {
            t->initWithData(px, CCTexture2DPixelFormat(f), 2, 2, CGSizeMake(2, 2));
            ADD_FAILURE() << "format " << f << " was accepted";
        } catch (const platform::Exception& e) {
            EXPECT_EQ(e.name(), platform::NSInternalInconsistencyException);
            EXPECT_EQ(e.reason(), "");
        }
        EXPECT_EQ(t->name(), 0u);
    }
    auto image = platform::Image::imageWithPixels(px, 2, 2, platform::ImageColorSpace::RGB,
                                                  platform::ImageAlphaInfo::Last);
    for (CCTexture2DPixelFormat f :
         {kCCTexture2DPixelFormat_I8, kCCTexture2DPixelFormat_AI88, kCCTexture2DPixelFormat_PVRTC4}) {
        CCTexture2D::setDefaultAlphaPixelFormat(f);
        try {
            fromImage(image.get());
            ADD_FAILURE() << "format " << f << " was accepted";
        } catch (const platform::Exception& e) {
            EXPECT_EQ(e.reason(), "Invalid pixel format");
        }
    }
    EXPECT_FALSE(fromImage(nullptr));
}

TEST_F(Texture2DTest, DrawingCoversTheContentWithOneDrawCall) {
    const std::uint8_t px[] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 0, 255};
    auto t = fromData(px, kCCTexture2DPixelFormat_RGBA8888, 2, 2);
    ASSERT_TRUE(t);
    const std::uint32_t before = drawCallCounter;
    platform::PixelBuffer out = drawnTexturePixels(t.get(), 4, 4);
    EXPECT_EQ(drawCallCounter, before + 1);
    EXPECT_EQ(out.pixel(0, 0), rgba(255, 0, 0, 255)) << "the first row is the top";
    EXPECT_EQ(out.pixel(3, 0), rgba(0, 255, 0, 255));
    EXPECT_EQ(out.pixel(0, 3), rgba(0, 0, 255, 255));
    EXPECT_EQ(out.pixel(3, 3), rgba(255, 255, 0, 255));

    // At a point: pixelsWide x maxS by pixelsHigh x maxT, from the point up and right.
    auto wide = platform::make<CCTexture2D>();
    ASSERT_TRUE(wide->initWithData(px, kCCTexture2DPixelFormat_RGBA8888, 2, 2, CGSizeMake(1, 2)));
    fltest::GLTarget target(8, 8);
    kmMat4 ortho;
    mat4Orthographic(&ortho, 0, 8, 0, 8, -1, 1);
    matrixMode(kCCMatrixModeProjection);
    matrixLoadIdentity();
    matrixMultiply(&ortho);
    glClear(GL_COLOR_BUFFER_BIT);
    wide->drawAtPoint(CGPointMake(2, 3));
    EXPECT_EQ(target.pixelAt(2, 4), rgba(255, 0, 0, 255));
    EXPECT_EQ(target.pixelAt(2, 3), rgba(0, 0, 255, 255));
    EXPECT_EQ(target.pixelAt(3, 3), 0u) << "only the content's column is drawn";
    EXPECT_EQ(target.pixelAt(2, 5), 0u);
}

TEST_F(Texture2DTest, ContentSizeIsInPointsOnRetina) {
    const std::uint8_t px[64 * 4] = {};
    auto t = fromData(px, kCCTexture2DPixelFormat_RGBA8888, 8, 8);
    ASSERT_TRUE(t);
    platform::setContentScaleFactor(2.0f);
    EXPECT_EQ(t->contentSize(), CGSizeMake(4, 4));
    EXPECT_EQ(t->contentSizeInPixels(), CGSizeMake(8, 8));
}

TEST_F(Texture2DTest, FiltersFollowMipmaps) {
    const std::uint8_t px[4 * 4 * 4] = {};
    auto t = fromData(px, kCCTexture2DPixelFormat_RGBA8888, 4, 4);
    ASSERT_TRUE(t);
    auto param = [&](GLenum name) {
        GLint v = 0;
        glCacheBindTexture2D(t->name());
        glGetTexParameteriv(GL_TEXTURE_2D, name, &v);
        return v;
    };
    EXPECT_EQ(param(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    EXPECT_EQ(param(GL_TEXTURE_WRAP_S), GL_CLAMP_TO_EDGE);
    t->setAliasTexParameters();
    EXPECT_EQ(param(GL_TEXTURE_MIN_FILTER), GL_NEAREST);
    EXPECT_EQ(param(GL_TEXTURE_MAG_FILTER), GL_NEAREST);
    t->generateMipmap();
    EXPECT_TRUE(t->hasMipmaps());
    t->setAliasTexParameters();
    EXPECT_EQ(param(GL_TEXTURE_MIN_FILTER), GL_NEAREST_MIPMAP_NEAREST);
    t->setAntiAliasTexParameters();
    EXPECT_EQ(param(GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_NEAREST);
    EXPECT_EQ(param(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    t->setTexParameters({GL_NEAREST, GL_LINEAR, GL_REPEAT, GL_MIRRORED_REPEAT});
    EXPECT_EQ(param(GL_TEXTURE_MIN_FILTER), GL_NEAREST);
    EXPECT_EQ(param(GL_TEXTURE_WRAP_S), GL_REPEAT);
    EXPECT_EQ(param(GL_TEXTURE_WRAP_T), GL_MIRRORED_REPEAT);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Texture2DTest, PlainTextIsWhiteCoverageInAPowerOfTwoTexture) {
    auto font = platform::TextRenderer::fontWithName("Helvetica", 24);
    ASSERT_TRUE(font);
    const CGSize measured = platform::TextRenderer::sizeWithFont("Hello", font.get(), CGSizeMake(0, 0),
                                                                 platform::LineBreakMode::WordWrap);
    auto t = platform::make<CCTexture2D>();
    ASSERT_TRUE(t->initWithString("Hello", "Helvetica", 24));
    EXPECT_EQ(t->pixelFormat(), kCCTexture2DPixelFormat_AI88);
    EXPECT_EQ(t->contentSizeInPixels(), measured);
    EXPECT_EQ(t->pixelsWide(), nextPowerOfTwo(std::uint64_t(measured.width)));
    EXPECT_EQ(t->pixelsHigh(), nextPowerOfTwo(std::uint64_t(measured.height)));
    EXPECT_FALSE(t->hasPremultipliedAlpha());

    const int w = int(t->pixelsWide()), h = int(t->pixelsHigh());
    t->setMaxS(1), t->setMaxT(1);
    platform::PixelBuffer out = drawnTexturePixels(t.get(), w, h);
    EXPECT_GT(inked(out, 0, 0, int(measured.width), int(measured.height)), 20);
    EXPECT_EQ(inked(out, int(measured.width), 0, w, h), 0) << "nothing right of the text";
    EXPECT_EQ(out.pixel(0, 0) & 0xFFFFFF00u, 0xFFFFFF00u) << "luminance is white everywhere";

    auto empty = platform::make<CCTexture2D>();
    ASSERT_TRUE(empty->initWithString("", "Helvetica", 24));
    EXPECT_EQ(empty->contentSizeInPixels(), CGSizeMake(1, 1));
    EXPECT_EQ(empty->pixelsWide(), 1u);
    EXPECT_FALSE(platform::make<CCTexture2D>()->initWithString("x", "No Such Font Anywhere", 12));
}

TEST_F(Texture2DTest, TextInABoxIsPlacedByItsAlignments) {
    auto top = platform::make<CCTexture2D>(), bottom = platform::make<CCTexture2D>();
    auto right = platform::make<CCTexture2D>();
    ASSERT_TRUE(top->initWithString("A", "Helvetica", 16, CGSizeMake(50, 60), kCCTextAlignmentLeft,
                                    kCCVerticalTextAlignmentTop));
    ASSERT_TRUE(bottom->initWithString("A", "Helvetica", 16, CGSizeMake(50, 60), kCCTextAlignmentLeft,
                                       kCCVerticalTextAlignmentBottom, kCCLineBreakModeClip));
    ASSERT_TRUE(right->initWithString("A", "Helvetica", 16, CGSizeMake(50, 60), kCCTextAlignmentRight,
                                      kCCVerticalTextAlignmentCenter));
    EXPECT_EQ(top->pixelsWide(), 64u);
    EXPECT_EQ(top->pixelsHigh(), 64u);
    EXPECT_EQ(top->contentSizeInPixels(), CGSizeMake(50, 60));
    for (CCTexture2D* t : {top.get(), bottom.get(), right.get()})
        t->setMaxS(1), t->setMaxT(1);
    const platform::PixelBuffer a = drawnTexturePixels(top.get(), 64, 64);
    const platform::PixelBuffer b = drawnTexturePixels(bottom.get(), 64, 64);
    const platform::PixelBuffer c = drawnTexturePixels(right.get(), 64, 64);
    EXPECT_LT(meanInkRow(a), 20);
    EXPECT_GT(meanInkRow(b), 40);
    EXPECT_LT(meanInkRow(b), 60);
    EXPECT_GT(inked(c, 30, 0, 50, 60), 0);
    EXPECT_EQ(inked(c, 0, 0, 25, 64), 0);
}

TEST_F(Texture2DTest, StrokeAndShadowPadTheTexture) {
    auto font = platform::TextRenderer::fontWithName("Helvetica", 48);
    const CGSize measured = platform::TextRenderer::sizeWithFont("Hi", font.get(), CGSizeMake(0, 0),
                                                                 platform::LineBreakMode::WordWrap);
    auto def = platform::make<CCFontDefinition>();
    ASSERT_TRUE(def->initWithFontName("Helvetica", 48));
    def->setFontFillColor({255, 0, 0});

    auto plain = platform::make<CCTexture2D>();
    ASSERT_TRUE(plain->initWithString("Hi", def.get()));
    EXPECT_EQ(plain->pixelFormat(), kCCTexture2DPixelFormat_AI88);
    EXPECT_EQ(plain->pixelsWide(), std::uint64_t(measured.width)) << "measured text is not rounded up";
    EXPECT_EQ(plain->contentSizeInPixels(), measured);

    def->enableStroke(true);
    def->setStrokeSize(2.5);
    def->setStrokeColor({0, 0, 255});
    auto stroked = platform::make<CCTexture2D>();
    ASSERT_TRUE(stroked->initWithString("Hi", def.get()));
    EXPECT_EQ(stroked->pixelFormat(), kCCTexture2DPixelFormat_RGBA8888);
    EXPECT_EQ(stroked->pixelsWide(), std::uint64_t(measured.width) + 3);
    EXPECT_EQ(stroked->pixelsHigh(), std::uint64_t(measured.height) + 3);
    EXPECT_EQ(stroked->contentSizeInPixels(),
              CGSizeMake(double(stroked->pixelsWide()), double(stroked->pixelsHigh())));
    const int w = int(stroked->pixelsWide()), h = int(stroked->pixelsHigh());
    platform::PixelBuffer out = drawnTexturePixels(stroked.get(), w, h);
    int red = 0, blue = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = out.pixel(x, y);
            red += (p >> 24) > 200 && ((p >> 8) & 0xFF) < 50;
            blue += ((p >> 8) & 0xFF) > 200 && (p >> 24) < 50;
        }
    EXPECT_GT(red, 0) << "the fill colour shows";
    EXPECT_GT(blue, 0) << "the stroke colour shows";

    def->enableStroke(false);
    def->enableShadow(true);
    def->setShadowOffset(CGSizeMake(5.7, -7.2));
    auto shadowed = platform::make<CCTexture2D>();
    ASSERT_TRUE(shadowed->initWithString("Hi", def.get()));
    EXPECT_EQ(shadowed->pixelsWide(), std::uint64_t(measured.width) + 5);
    EXPECT_EQ(shadowed->pixelsHigh(), std::uint64_t(measured.height) + 7);
    out = drawnTexturePixels(shadowed.get(), int(shadowed->pixelsWide()), int(shadowed->pixelsHigh()));
    plain->setMaxS(1), plain->setMaxT(1);
    const platform::PixelBuffer unshadowed =
        drawnTexturePixels(plain.get(), int(plain->pixelsWide()), int(plain->pixelsHigh()));
    EXPECT_EQ(lastInkRow(out), lastInkRow(unshadowed) + 7) << "the shadow falls 7 rows below the text";
}

TEST_F(Texture2DTest, RawDataGLCannotHoldIsRefusedBeforeUpload) {
    const std::int32_t max = CCConfiguration::sharedConfiguration()->maxTextureSize();
    ASSERT_GT(max, 0);
    const std::uint8_t px[4] = {};
    const struct {
        std::uint64_t wide, high;
    } sizes[] = {{std::uint64_t(max) + 1, 1}, {1, std::uint64_t(max) + 1}, {0, 1}, {1, 0}};
    for (const auto& size : sizes) {
        auto t = platform::make<CCTexture2D>();
        EXPECT_FALSE(t->initWithData(px, kCCTexture2DPixelFormat_A8, size.wide, size.high, CGSizeMake(1, 1)))
            << size.wide << " x " << size.high;
        EXPECT_EQ(t->name(), 0u);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
}

TEST_F(Texture2DTest, TextLargerThanTheLargestTextureIsRefused) {
    const std::int32_t max = CCConfiguration::sharedConfiguration()->maxTextureSize();
    ASSERT_GT(max, 0);
    auto t = platform::make<CCTexture2D>();
    EXPECT_FALSE(t->initWithString("x", "Helvetica", 12, CGSizeMake(max + 1, 8), kCCTextAlignmentLeft,
                                   kCCVerticalTextAlignmentTop));
    EXPECT_FALSE(t->initWithString("x", "Helvetica", 12, CGSizeMake(-5, 8), kCCTextAlignmentLeft,
                                   kCCVerticalTextAlignmentTop));
    auto def = platform::make<CCFontDefinition>();
    def->initWithFontName("Helvetica", 12);
    def->setDimensions(CGSizeMake(max, 8));
    def->enableShadow(true);
    def->setShadowOffset(CGSizeMake(4, 0));
    EXPECT_FALSE(t->initWithString("x", def.get())) << "the shadow's padding passes the limit";
    EXPECT_EQ(t->name(), 0u);
}

} // namespace
