#include "graphics/CCRenderTexture.h"

#include "core/CCGridProtocol.h"
#include "core/CCLayer.h"
#include "core/CCMatrix.h"
#include "core/CCPointExtension.h"
#include "graphics/CCSprite.h"
#include "platform/Device.h"
#include "platform/Exception.h"
#include "platform/Image.h"
#include "platform/Paths.h"
#include "tests/graphics/SpriteTestSupport.h"

#include <GLES2/gl2ext.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using fltest::colorNear;

// 0xRRGGBBAA at (x, y) counted from the lower-left corner, as GL counts, of top-down RGBA8 rows.
std::uint32_t rowsPixel(const std::vector<std::uint8_t>& rgba, std::uint32_t width, std::uint32_t height,
                        int x, int y) {
    const std::uint8_t* p = &rgba[(std::size_t(height - 1 - y) * width + std::size_t(x)) * 4];
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// The same of an exported image.
std::uint32_t imagePixel(const platform::Image& image, int x, int y) {
    return rowsPixel(image.pixels(), image.width(), image.height(), x, y);
}

platform::Ref<CCLayerColor> square(_ccColor4B color, double x, double y, double size) {
    auto layer = CCLayerColor::layerWithColor(color, static_cast<float>(size), static_cast<float>(size));
    layer->setPosition(ccp(x, y));
    return layer;
}

std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RenderTextureTest : public fltest::SpriteFixture {
protected:
    void SetUp() override {
        SpriteFixture::SetUp();
        docs_ = fs::temp_directory_path() / ("rt-docs-" + std::to_string(::getpid()));
        fs::remove_all(docs_);
        fs::create_directories(docs_);
        platform::Paths::setDocumentsDirectory(docs_.string());
    }
    void TearDown() override {
        platform::Paths::setDocumentsDirectory("");
        fs::remove_all(docs_);
        SpriteFixture::TearDown();
    }
    std::string docs() const { return docs_.string(); }

private:
    fs::path docs_;
};

// ---- creation ----

TEST_F(RenderTextureTest, SizesAreInPointsAndTheSpriteShowsTheTextureUpsideDown) {
    auto rt = CCRenderTexture::renderTextureWithWidth(30, 20);
    ASSERT_TRUE(rt);
    EXPECT_EQ(rt->texture()->contentSizeInPixels().width, 30);
    EXPECT_EQ(rt->texture()->contentSizeInPixels().height, 20);
    EXPECT_EQ(rt->contentSize().width, 30);
    rt->setContentSize(CGSizeMake(99, 99));
    EXPECT_EQ(rt->contentSize().height, 20);
    EXPECT_EQ(rt->pixelFormat(), kCCTexture2DPixelFormat_RGBA8888);
    EXPECT_EQ(rt->depthRenderbuffer(), 0u);

    CCSprite* sprite = rt->sprite();
    ASSERT_TRUE(sprite);
    EXPECT_EQ(sprite->parent(), rt.get());
    EXPECT_EQ(sprite->texture(), rt->texture());
    EXPECT_EQ(sprite->scaleY(), -1);
    EXPECT_TRUE(sprite->doesOpacityModifyRGB());
    EXPECT_TRUE((sprite->blendFunc() == _ccBlendFunc{GL_ONE, GL_ONE_MINUS_SRC_ALPHA}));
    EXPECT_FALSE(rt->autoDraw());
    EXPECT_EQ(rt->clearFlags(), 0u);

    // A new texture starts transparent black.
    auto image = rt->newCGImage();
    ASSERT_TRUE(image);
    EXPECT_EQ(imagePixel(*image, 15, 10), 0x00000000u);
}

TEST_F(RenderTextureTest, RetinaTextureHoldsTwicePixelsButReportsPoints) {
    platform::setContentScaleFactor(2);
    auto rt = CCRenderTexture::renderTextureWithWidth(100, 50);
    ASSERT_TRUE(rt);
    EXPECT_EQ(rt->texture()->contentSizeInPixels().width, 200);
    EXPECT_EQ(rt->texture()->contentSizeInPixels().height, 100);
    EXPECT_EQ(rt->contentSize().width, 100);
    EXPECT_EQ(rt->contentSize().height, 50);
    auto image = rt->getUIImage();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 200u);
    EXPECT_EQ(image->height(), 100u);
}

TEST_F(RenderTextureTest, UnusableSizesAndFormatsAreRefusedCleanly) {
    EXPECT_FALSE(CCRenderTexture::renderTextureWithWidth(0, 10));
    EXPECT_FALSE(CCRenderTexture::renderTextureWithWidth(10, -3));
    EXPECT_FALSE(CCRenderTexture::renderTextureWithWidth(1 << 20, 4));
    // A sub-pixel size truncates to nothing.
    platform::setContentScaleFactor(0.25f);
    EXPECT_FALSE(CCRenderTexture::renderTextureWithWidth(2, 2));
    platform::setContentScaleFactor(1);

    // Alpha-only textures cannot be drawn into: refused, with no GL error left behind and the
    // caller's framebuffer still bound.
    GLint before = -1;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &before);
    EXPECT_FALSE(CCRenderTexture::renderTextureWithWidth(8, 8, kCCTexture2DPixelFormat_A8));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    GLint after = -2;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &after);
    EXPECT_EQ(before, after);

    // Formats the texture itself rejects throw, as textures do.
    EXPECT_THROW(CCRenderTexture::renderTextureWithWidth(8, 8, kCCTexture2DPixelFormat_I8),
                 platform::Exception);

    // 16-bit colour is drawable.
    auto rgb565 = CCRenderTexture::renderTextureWithWidth(8, 8, kCCTexture2DPixelFormat_RGB565);
    ASSERT_TRUE(rgb565);
    rgb565->clear(1, 0, 0, 1);
    auto image = rgb565->newCGImage();
    ASSERT_TRUE(image);
    EXPECT_TRUE(colorNear(imagePixel(*image, 4, 4), 0xFF0000FFu));
}

// ---- drawing into the texture ----

TEST_F(RenderTextureTest, DrawingBetweenBeginAndEndKeepsWindowPositions) {
    // Smaller than the 64 x 64 window: world points still land on the same texture pixels.
    auto rt = CCRenderTexture::renderTextureWithWidth(32, 16);
    ASSERT_TRUE(rt);
    auto red = square(ccc4(255, 0, 0, 255), 4, 2, 6);
    auto green = square(ccc4(0, 255, 0, 255), 20, 8, 4);

    rt->beginWithClear(0, 0, 1, 1);
    red->visit();
    green->visit();
    rt->end();

    auto image = rt->newCGImage();
    ASSERT_TRUE(image);
    EXPECT_EQ(imagePixel(*image, 5, 3), 0xFF0000FFu);
    EXPECT_EQ(imagePixel(*image, 9, 7), 0xFF0000FFu);
    EXPECT_EQ(imagePixel(*image, 10, 8), 0x0000FFFFu);
    EXPECT_EQ(imagePixel(*image, 3, 2), 0x0000FFFFu);
    EXPECT_EQ(imagePixel(*image, 21, 9), 0x00FF00FFu);
    EXPECT_EQ(imagePixel(*image, 31, 15), 0x0000FFFFu);
}

TEST_F(RenderTextureTest, BeginAndEndRestoreFramebufferViewportAndMatrices) {
    auto rt = CCRenderTexture::renderTextureWithWidth(16, 16);
    ASSERT_TRUE(rt);
    kmMat4 mvBefore, pBefore, mvAfter, pAfter;
    matrixGet(kCCMatrixModeModelView, &mvBefore);
    matrixGet(kCCMatrixModeProjection, &pBefore);
    GLint fbBefore = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &fbBefore);

    rt->begin();
    GLint inside = 0, viewport[4] = {};
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &inside);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(static_cast<GLuint>(inside), rt->framebuffer());
    EXPECT_EQ(viewport[2], 16);
    EXPECT_EQ(viewport[3], 16);
    rt->end();

    GLint fbAfter = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &fbAfter);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(fbAfter, fbBefore);
    EXPECT_EQ(viewport[2], 64);
    EXPECT_EQ(viewport[3], 64);
    matrixGet(kCCMatrixModeModelView, &mvAfter);
    matrixGet(kCCMatrixModeProjection, &pAfter);
    EXPECT_EQ(std::memcmp(&mvBefore, &mvAfter, sizeof mvAfter), 0);
    EXPECT_EQ(std::memcmp(&pBefore, &pAfter, sizeof pAfter), 0);
}

TEST_F(RenderTextureTest, ACaptureInsideAnotherLeavesTheOuterCaptureAsWithoutIt) {
    // An 8 x 8 square drawn into a 32 x 32 capture of the 64 x 64 window, with and without a
    // 16 x 16 capture begun and ended inside it first.
    auto white = square(ccc4(255, 255, 255, 255), 4, 4, 8);
    auto capture = [&](bool nested) {
        auto outer = CCRenderTexture::renderTextureWithWidth(32, 32);
        auto inner = CCRenderTexture::renderTextureWithWidth(16, 16);
        outer->beginWithClear(0, 0, 0, 1);
        if (nested) {
            inner->beginWithClear(0, 1, 0, 1);
            white->visit();
            inner->end();
            auto innerImage = inner->newCGImage();
            EXPECT_EQ(imagePixel(*innerImage, 4, 4), 0xFFFFFFFFu);
            EXPECT_EQ(imagePixel(*innerImage, 12, 12), 0x00FF00FFu);
        }
        white->visit();
        outer->end();
        return outer->newCGImage();
    };
    auto alone = capture(false);
    auto nested = capture(true);
    ASSERT_TRUE(alone && nested);
    int covered = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            covered += imagePixel(*nested, x, y) == 0xFFFFFFFFu;
    EXPECT_EQ(covered, 64);
    EXPECT_TRUE(nested->pixels() == alone->pixels());
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 64); // the outermost end puts the director's back
    EXPECT_EQ(viewport[3], 64);
}

TEST_F(RenderTextureTest, NodeInTheSceneShowsItsPictureUpright) {
    auto rt = CCRenderTexture::renderTextureWithWidth(32, 32);
    ASSERT_TRUE(rt);
    // Red in the lower half of the texture, blue above.
    rt->beginWithClear(0, 0, 1, 1);
    square(ccc4(255, 0, 0, 255), 0, 0, 16)->visit();
    rt->end();

    auto scene = CCScene::node();
    rt->setPosition(ccp(32, 32)); // the sprite is centred on the node
    scene->addChild(rt.get());
    drawFrame(scene.get());
    EXPECT_TRUE(colorNear(presentedPixel(20, 20), 0xFF0000FFu));
    EXPECT_TRUE(colorNear(presentedPixel(20, 44), 0x0000FFFFu));
    EXPECT_TRUE(colorNear(presentedPixel(44, 20), 0x0000FFFFu));
    EXPECT_TRUE(colorNear(presentedPixel(4, 4), 0x000000FFu));
}

// ---- half-transparent pictures ----

// Red (200, 40, 40) at opacity 128, from a texture whose alpha is not premultiplied.
platform::Ref<CCSprite> halfRed(double x, double y) {
    auto sprite = CCSprite::spriteWithTexture(fltest::makePlainTexture(8, 8, 0xC82828FFu).get());
    sprite->setOpacity(128);
    sprite->setPosition(ccp(x, y));
    return sprite;
}

TEST_F(RenderTextureTest, HalfTransparentCapturesSaveStraightAndOpaqueScenesSaveOpaque) {
    auto rt = CCRenderTexture::renderTextureWithWidth(16, 8);
    ASSERT_TRUE(rt);
    rt->beginWithClear(0, 0, 0, 0);
    halfRed(4, 4)->visit();
    square(ccc4(100, 100, 100, 255), 8, 0, 8)->visit(); // a pause screen over an opaque scene
    square(ccc4(0, 0, 0, 128), 8, 0, 8)->visit();
    rt->end();
    ASSERT_TRUE(rt->saveToFile("half.png", kCCImageFormatPNG));
    auto png = platform::Image::imageWithContentsOfFile(docs() + "/half.png");
    ASSERT_TRUE(png);
    const std::vector<std::uint8_t> rgba = png->rgbaPixels(); // straight, as saved
    EXPECT_TRUE(colorNear(rowsPixel(rgba, png->width(), png->height(), 4, 4), 0xC8282880u, 3));
    EXPECT_TRUE(colorNear(rowsPixel(rgba, png->width(), png->height(), 12, 4), 0x323232FFu, 2));

    // An eraser still clears what it covers.
    auto eraser = CCSprite::spriteWithTexture(fltest::makePlainTexture(8, 8).get());
    eraser->setPosition(ccp(4, 4));
    eraser->setBlendFunc(_ccBlendFunc{GL_ZERO, GL_ONE_MINUS_SRC_ALPHA});
    rt->begin();
    eraser->visit();
    rt->end();
    EXPECT_EQ(imagePixel(*rt->newCGImage(), 4, 4), 0x00000000u);
}

// A picture of half-transparent red shows over grey as the red drawn straight does, whichever
// sprite draws it, at full opacity and faded.
TEST_F(RenderTextureTest, AHalfTransparentCaptureShowsAsTheSpriteDrawnStraight) {
    auto rt = CCRenderTexture::renderTextureWithWidth(8, 8);
    ASSERT_TRUE(rt);
    rt->beginWithClear(0, 0, 0, 0);
    halfRed(4, 4)->visit();
    rt->end();

    // The copy recipe of the README.
    auto copy = CCRenderTexture::renderTextureWithWidth(8, 8);
    ASSERT_TRUE(copy);
    auto picture = CCSprite::spriteWithTexture(rt->sprite()->texture());
    picture->setFlipY(true);
    picture->setAnchorPoint(CGPointZero);
    copy->beginWithClear(0, 0, 0, 0);
    picture->visit();
    copy->end();

    auto scene = CCScene::node();
    scene->addChild(square(ccc4(100, 100, 100, 255), 0, 0, 64).get());
    auto straight = halfRed(4, 4);
    auto ofTexture = CCSprite::spriteWithTexture(rt->texture());
    ofTexture->setFlipY(true);
    ofTexture->setPosition(ccp(36, 4));
    rt->setPosition(ccp(20, 4));
    copy->setPosition(ccp(52, 4));
    for (CCNode* node : {static_cast<CCNode*>(straight.get()), static_cast<CCNode*>(rt.get()),
                         static_cast<CCNode*>(ofTexture.get()), static_cast<CCNode*>(copy.get())})
        scene->addChild(node);
    drawFrame(scene.get());
    for (int x : {4, 20, 36, 52})
        EXPECT_TRUE(colorNear(presentedPixel(x, 4), 0x964646FFu, 3)) << "at " << x; // (150, 70, 70)

    straight->setOpacity(64);
    for (CCSprite* sprite : {rt->sprite(), ofTexture.get(), copy->sprite()})
        sprite->setOpacity(128);
    drawFrame(scene.get());
    for (int x : {4, 20, 36, 52})
        EXPECT_TRUE(colorNear(presentedPixel(x, 4), 0x7D5555FFu, 3)) << "at " << x; // (125, 85, 85)
}

// ---- light and tints ----

// A glow captured alone, in the middle of a cleared 16 x 16 texture; null when none can be made.
platform::Ref<CCRenderTexture> capturedGlow(_ccBlendFunc blend) {
    auto rt = CCRenderTexture::renderTextureWithWidth(16, 16);
    if (!rt) return nullptr;
    rt->beginWithClear(0, 0, 0, 0);
    auto glow = fltest::glowSprite(blend);
    glow->setPosition(ccp(8, 8));
    glow->visit();
    rt->end();
    return rt;
}

// Light adds no coverage: a glow captured on a cleared texture holds colour without alpha, which
// any sprite of the capture adds back as the glow drawn straight adds it.
TEST_F(RenderTextureTest, ACapturedGlowShowsAsTheGlowDrawnStraight) {
    const _ccBlendFunc additive{GL_SRC_ALPHA, GL_ONE};
    auto rt = capturedGlow(additive);
    ASSERT_TRUE(rt);

    auto scene = CCScene::node();
    scene->addChild(square(ccc4(50, 100, 150, 255), 0, 0, 64).get());
    auto straight = fltest::glowSprite(additive);
    straight->setPosition(ccp(8, 8));
    rt->setPosition(ccp(28, 8));
    auto ofTexture = CCSprite::spriteWithTexture(rt->texture());
    ofTexture->setFlipY(true);
    ofTexture->setPosition(ccp(48, 8));
    for (CCNode* node : {static_cast<CCNode*>(straight.get()), static_cast<CCNode*>(rt.get()),
                         static_cast<CCNode*>(ofTexture.get())})
        scene->addChild(node);
    drawFrame(scene.get());
    for (int x : {8, 28, 48}) {
        EXPECT_TRUE(colorNear(presentedPixel(x, 8), 0xFFFFE6FFu, 3)) << "middle at " << x; // (255, 255, 230)
        EXPECT_TRUE(colorNear(presentedPixel(x - 5, 8), 0x326496FFu, 3)) << "rim at " << x;
    }
}

TEST_F(RenderTextureTest, ACapturedGlowSavesAsDrawnOverBlackWithItsRimTransparent) {
    auto rt = capturedGlow(_ccBlendFunc{GL_ONE, GL_ONE});
    ASSERT_TRUE(rt);
    ASSERT_TRUE(rt->saveToFile("glow.png", kCCImageFormatPNG));
    auto png = platform::Image::imageWithContentsOfFile(docs() + "/glow.png");
    ASSERT_TRUE(png);
    const std::vector<std::uint8_t> rgba = png->rgbaPixels();
    EXPECT_EQ(rowsPixel(rgba, 16, 16, 8, 8), 0xFFC850FFu);
    EXPECT_EQ(rowsPixel(rgba, 16, 16, 3, 8), 0x00000000u);
}

// A multiply tints what lies below and covers nothing: a screenshot of an opaque scene under a
// shadow of half-transparent grey saves opaque, in the colours of the opaque frame presented.
TEST_F(RenderTextureTest, AMultipliedShadowOverAnOpaqueSceneSavesOpaqueAsTheScreenShowsIt) {
    auto scene = CCScene::node();
    scene->addChild(square(ccc4(50, 100, 150, 255), 0, 0, 64).get());
    auto shadow = CCSprite::spriteWithTexture(fltest::makePlainTexture(8, 8, 0x80808080u).get());
    shadow->setBlendFunc(_ccBlendFunc{GL_DST_COLOR, GL_ZERO});
    shadow->setPosition(ccp(8, 8));
    scene->addChild(shadow.get());
    drawFrame(scene.get());
    EXPECT_TRUE(colorNear(presentedPixel(8, 8), 0x19324BFFu, 3)); // (25, 50, 75)

    auto rt = CCRenderTexture::renderTextureWithWidth(64, 64);
    ASSERT_TRUE(rt);
    rt->beginWithClear(0, 0, 0, 0);
    scene->visit();
    rt->end();
    ASSERT_TRUE(rt->saveToFile("shadow.png", kCCImageFormatPNG));
    auto png = platform::Image::imageWithContentsOfFile(docs() + "/shadow.png");
    ASSERT_TRUE(png);
    EXPECT_TRUE(colorNear(rowsPixel(png->rgbaPixels(), 64, 64, 8, 8), 0x19324BFFu, 3));
}

// ---- clearing ----

TEST_F(RenderTextureTest, ClearsLeaveGLClearValuesAsTheyWere) {
    auto rt = CCRenderTexture::renderTextureWithWidth(8, 8, kCCTexture2DPixelFormat_RGBA8888,
                                                      GL_DEPTH24_STENCIL8_OES);
    ASSERT_TRUE(rt);
    EXPECT_NE(rt->depthRenderbuffer(), 0u);
    glClearColor(0.25f, 0.5f, 0.75f, 1);
    glClearDepthf(0.5f);
    glClearStencil(3);

    rt->clear(0, 1, 0, 1);
    rt->beginWithClear(1, 0, 0, 0.5f, 0.0f, 7);
    rt->clearStencil(9);
    rt->end();
    rt->clearDepth(1.0f);

    GLfloat color[4], depth = 0;
    GLint stencil = 0;
    glGetFloatv(GL_COLOR_CLEAR_VALUE, color);
    glGetFloatv(GL_DEPTH_CLEAR_VALUE, &depth);
    glGetIntegerv(GL_STENCIL_CLEAR_VALUE, &stencil);
    EXPECT_FLOAT_EQ(color[0], 0.25f);
    EXPECT_FLOAT_EQ(color[2], 0.75f);
    EXPECT_FLOAT_EQ(depth, 0.5f);
    EXPECT_EQ(stencil, 3);

    auto image = rt->newCGImage();
    ASSERT_TRUE(image);
    EXPECT_TRUE(colorNear(imagePixel(*image, 3, 3), 0xFF000080u));
}

TEST_F(RenderTextureTest, DepthAndStencilClearsReachTheirBuffers) {
    auto rt = CCRenderTexture::renderTextureWithWidth(8, 8, kCCTexture2DPixelFormat_RGBA8888,
                                                      GL_DEPTH24_STENCIL8_OES);
    ASSERT_TRUE(rt);
    auto red = square(ccc4(255, 0, 0, 255), 0, 0, 8);
    // The square lies at depth 0.5: a depth cleared to 0 hides it, one cleared to 1 does not.
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    rt->clear(0, 0, 0, 1);
    rt->clearDepth(0.0f);
    rt->begin();
    red->visit();
    rt->end();
    EXPECT_EQ(imagePixel(*rt->newCGImage(), 4, 4), 0x000000FFu);
    rt->clearDepth(1.0f);
    rt->begin();
    red->visit();
    rt->end();
    EXPECT_EQ(imagePixel(*rt->newCGImage(), 4, 4), 0xFF0000FFu);
    glDisable(GL_DEPTH_TEST);

    // Only where the stencil holds 5 does the green square reach the texture.
    auto green = square(ccc4(0, 255, 0, 255), 0, 0, 8);
    rt->beginWithClear(0, 0, 0, 1, 1.0f, 4);
    glEnable(GL_STENCIL_TEST);
    glStencilFunc(GL_EQUAL, 5, 0xFF);
    green->visit();
    rt->clearStencil(5);
    green->visit();
    glDisable(GL_STENCIL_TEST);
    rt->end();
    EXPECT_EQ(imagePixel(*rt->newCGImage(), 4, 4), 0x00FF00FFu);
}

TEST_F(RenderTextureTest, ATextureWithDepthCapturesAsOneWithout) {
    // Depth tested as the director tests it on a view with a depth buffer; the game's clear
    // values must survive the new buffers' first clear.
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glClearDepthf(0.25f);
    glClearStencil(3);
    auto blue = square(ccc4(0, 0, 255, 255), 8, 8, 16);
    std::vector<platform::Ref<platform::Image>> pictures;
    for (GLuint depthFormat : {0u, GLuint(GL_DEPTH_COMPONENT16), GLuint(GL_DEPTH24_STENCIL8_OES)}) {
        auto rt =
            CCRenderTexture::renderTextureWithWidth(64, 64, kCCTexture2DPixelFormat_RGBA8888, depthFormat);
        ASSERT_TRUE(rt);
        rt->begin();
        blue->visit();
        rt->end();
        pictures.push_back(rt->newCGImage());
        ASSERT_TRUE(pictures.back());
    }
    glDisable(GL_DEPTH_TEST);
    EXPECT_EQ(imagePixel(*pictures[0], 12, 12), 0x0000FFFFu);
    EXPECT_EQ(pictures[1]->pixels(), pictures[0]->pixels());
    EXPECT_EQ(pictures[2]->pixels(), pictures[0]->pixels());
    GLfloat depth = 0;
    GLint stencil = 0;
    glGetFloatv(GL_DEPTH_CLEAR_VALUE, &depth);
    glGetIntegerv(GL_STENCIL_CLEAR_VALUE, &stencil);
    EXPECT_EQ(depth, 0.25f);
    EXPECT_EQ(stencil, 3);
}

// ---- auto-draw ----

TEST_F(RenderTextureTest, AutoDrawRendersChildrenIntoTheTextureEachFrame) {
    auto rt = CCRenderTexture::renderTextureWithWidth(16, 16);
    ASSERT_TRUE(rt);
    rt->setAutoDraw(true);
    rt->setClearFlags(GL_COLOR_BUFFER_BIT);
    rt->setClearColor(ccc4f(0, 0, 1, 1));
    auto red = square(ccc4(255, 0, 0, 255), 0, 0, 4);
    rt->addChild(red.get());

    auto scene = CCScene::node();
    scene->addChild(rt.get());
    rt->setPosition(ccp(40, 40));
    drawFrame(scene.get());
    auto image = rt->newCGImage();
    EXPECT_EQ(imagePixel(*image, 2, 2), 0xFF0000FFu);
    EXPECT_EQ(imagePixel(*image, 10, 10), 0x0000FFFFu);
    // Children are drawn into the texture only, not onto the screen at their own place.
    EXPECT_TRUE(colorNear(presentedPixel(2, 2), 0x000000FFu));
    EXPECT_TRUE(colorNear(presentedPixel(44, 44), 0x0000FFFFu));

    // The next frame clears again and follows the child.
    red->setPosition(ccp(8, 8));
    drawFrame(scene.get());
    image = rt->newCGImage();
    EXPECT_EQ(imagePixel(*image, 2, 2), 0x0000FFFFu);
    EXPECT_EQ(imagePixel(*image, 10, 10), 0xFF0000FFu);
}

// ---- grid hooks ----

class RecordingGrid : public CCGridProtocol {
public:
    bool active() const override { return true; }
    void beforeDraw() override { calls.push_back("before"); }
    void afterDraw(CCNode* target) override {
        calls.push_back("after");
        target_ = target;
    }
    std::vector<std::string> calls;
    CCNode* target_ = nullptr;
};

TEST_F(RenderTextureTest, VisitBracketsTheDrawingWithAnActiveGrid) {
    auto rt = CCRenderTexture::renderTextureWithWidth(8, 8);
    ASSERT_TRUE(rt);
    auto grid = platform::make<RecordingGrid>();
    rt->setGrid(grid.get());
    rt->setOrderOfArrival(5);
    rt->visit();
    EXPECT_EQ(grid->calls, (std::vector<std::string>{"before", "after"}));
    EXPECT_EQ(grid->target_, rt.get());
    EXPECT_EQ(rt->orderOfArrival(), 0u);

    grid->calls.clear();
    rt->setVisible(false);
    rt->visit();
    EXPECT_TRUE(grid->calls.empty());
}

TEST_F(RenderTextureTest, AThrowFromAChildPutsBackFramebufferMatricesAndGrid) {
    class Throwing : public CCNode {
    public:
        void draw() override { throw platform::Exception(platform::NSInternalInconsistencyException, "no"); }
    };
    auto rt = CCRenderTexture::renderTextureWithWidth(8, 8);
    ASSERT_TRUE(rt);
    rt->setAutoDraw(true);
    rt->addChild(makeNode<Throwing>().get());
    auto grid = platform::make<RecordingGrid>();
    rt->setGrid(grid.get());
    kmMat4 mvBefore, pBefore, mvAfter, pAfter;
    matrixGet(kCCMatrixModeModelView, &mvBefore);
    matrixGet(kCCMatrixModeProjection, &pBefore);
    GLint fbBefore = 0, fbAfter = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &fbBefore);

    EXPECT_THROW(rt->visit(), platform::Exception);
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &fbAfter);
    EXPECT_EQ(fbAfter, fbBefore);
    matrixGet(kCCMatrixModeModelView, &mvAfter);
    matrixGet(kCCMatrixModeProjection, &pAfter);
    EXPECT_EQ(std::memcmp(&mvBefore, &mvAfter, sizeof mvAfter), 0);
    EXPECT_EQ(std::memcmp(&pBefore, &pAfter, sizeof pAfter), 0);
    EXPECT_EQ(grid->calls, (std::vector<std::string>{"before"})); // never drawn
}

// ---- export ----

TEST_F(RenderTextureTest, SavesPNGAndJPEGIntoDocumentsThatDecodeBack) {
    auto rt = CCRenderTexture::renderTextureWithWidth(16, 8);
    ASSERT_TRUE(rt);
    rt->beginWithClear(0, 0, 1, 1);
    square(ccc4(255, 0, 0, 255), 0, 0, 8)->visit();
    rt->end();

    ASSERT_TRUE(rt->saveToFile("shot.png", kCCImageFormatPNG));
    auto png = platform::Image::imageWithContentsOfFile(docs() + "/shot.png");
    ASSERT_TRUE(png);
    ASSERT_EQ(png->width(), 16u);
    ASSERT_EQ(png->height(), 8u);
    std::vector<std::uint8_t> rgba = png->rgbaPixels();
    // Top-down rows: red on the left half, blue on the right, all rows alike.
    EXPECT_EQ(rgba[0], 255);
    EXPECT_EQ(rgba[2], 0);
    EXPECT_EQ(rgba[(7 * 16 + 15) * 4 + 2], 255);
    EXPECT_EQ(rgba[(7 * 16 + 15) * 4 + 0], 0);

    // The plain form writes JPEG whatever the name says.
    ASSERT_TRUE(rt->saveToFile("photo.png"));
    std::vector<std::uint8_t> bytes = fileBytes(docs() + "/photo.png");
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);
    auto jpeg = platform::Image::imageWithContentsOfFile(docs() + "/photo.png");
    ASSERT_TRUE(jpeg);
    std::vector<std::uint8_t> jp = jpeg->rgbaPixels();
    EXPECT_NEAR(jp[(4 * 16 + 2) * 4 + 0], 255, 8);
    EXPECT_NEAR(jp[(4 * 16 + 13) * 4 + 2], 255, 8);

    // Saving again replaces the file whole, leaving nothing else behind.
    ASSERT_TRUE(rt->saveToFile("shot.png", kCCImageFormatPNG));
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(docs())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 2u);
}

TEST_F(RenderTextureTest, SaveFailsForUnknownFormatsAndUnwritablePlaces) {
    auto rt = CCRenderTexture::renderTextureWithWidth(4, 4);
    ASSERT_TRUE(rt);
    EXPECT_FALSE(rt->saveToFile("odd.img", static_cast<tCCImageFormat>(2)));
    EXPECT_FALSE(fs::exists(docs() + "/odd.img"));
    // A name that resolves to the folder itself cannot be replaced by a file.
    EXPECT_FALSE(rt->saveToFile("", kCCImageFormatPNG));
    EXPECT_TRUE(fs::is_directory(docs()));
    EXPECT_TRUE(fs::is_empty(docs()));
}

TEST_F(RenderTextureTest, SavesOnlyInsideDocumentsMakingTheFoldersTheNameAsksFor) {
    auto rt = CCRenderTexture::renderTextureWithWidth(4, 4);
    ASSERT_TRUE(rt);
    EXPECT_TRUE(rt->saveToFile("a.png", kCCImageFormatPNG));
    EXPECT_TRUE(rt->saveToFile("shots/2026/b.png", kCCImageFormatPNG));
    EXPECT_TRUE(rt->saveToFile("shots/../c.png", kCCImageFormatPNG));
    for (const char* name : {"a.png", "shots/2026/b.png", "c.png"})
        EXPECT_TRUE(platform::Image::imageWithContentsOfFile(docs() + "/" + name)) << name;

    // Names that leave Documents: refused, one line each, nothing written.
    const fs::path outside =
        fs::path(docs()).parent_path() / (fs::path(docs()).filename().string() + "-out.png");
    const std::string escaping = "../" + outside.filename().string();
    for (const std::string& name : {escaping, "shots/../" + escaping, outside.string()}) {
        SCOPED_TRACE(name);
        logLines.clear();
        EXPECT_FALSE(rt->saveToFile(name, kCCImageFormatPNG));
        ASSERT_EQ(logLines.size(), 1u);
        EXPECT_NE(logLines[0].find("must stay inside the Documents directory"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_FALSE(fs::exists(docs() + "/tmp"));
}

// Names are read as the kernel reads them: up to a byte 0, and "." or ".." naming folders.
// Watching Documents and its parent shows that a refused name writes nothing anywhere, and
// that the longest legal name is written inside Documents only.
TEST_F(RenderTextureTest, SavedNamesAreCheckedAsTheFileSystemReadsThem) {
    const std::string parent = docs() + "/game";
    const std::string documents = parent + "/Documents";
    platform::Paths::setDocumentsDirectory(documents);
    ASSERT_EQ(platform::Paths::documentsDirectory(), documents);
    fs::create_directories(documents + "/shots");
    std::ofstream(documents + "/keep.txt") << "keep";
    auto rt = CCRenderTexture::renderTextureWithWidth(4, 4);
    ASSERT_TRUE(rt);

    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    const std::uint32_t mask =
        IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB;
    const int parentWatch = inotify_add_watch(watch, parent.c_str(), mask);
    const int documentsWatch = inotify_add_watch(watch, documents.c_str(), mask);
    ASSERT_GE(parentWatch, 0);
    ASSERT_GE(documentsWatch, 0);
    // "parent/<entry>" or "Documents/<entry>" for each change since the last call.
    auto changes = [&] {
        std::vector<std::string> seen;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                seen.push_back((event->wd == parentWatch ? "parent/" : "Documents/") +
                               std::string(event->len ? event->name : ""));
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return seen;
    };

    const std::vector<std::uint8_t> bytes{1, 2, 3};
    for (const std::string& name : {std::string("keep.txt\0.png", 13), std::string(), std::string("."),
                                    std::string("x/.."), std::string("shots/.."), std::string("shots")}) {
        SCOPED_TRACE(name);
        logLines.clear();
        EXPECT_FALSE(rt->saveToFile(name, kCCImageFormatPNG));
        EXPECT_EQ(logLines.size(), 1u);
        EXPECT_FALSE(platform::Image::writeFile(documents + "/" + name, bytes));
        EXPECT_EQ(changes(), std::vector<std::string>());
    }
    std::ifstream kept(documents + "/keep.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
    EXPECT_FALSE(fs::exists(documents + "/x"));

    const std::string longest = std::string(251, 'n') + ".png";
    ASSERT_TRUE(rt->saveToFile(longest, kCCImageFormatPNG));
    EXPECT_TRUE(platform::Image::imageWithContentsOfFile(documents + "/" + longest));
    ASSERT_TRUE(platform::Image::writeFile(documents + "/" + longest, bytes));
    for (const std::string& change : changes())
        EXPECT_EQ(change.rfind("Documents/", 0), 0u) << change;
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(documents))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"keep.txt", longest, "shots"}));
    ::close(watch);
}

} // namespace
