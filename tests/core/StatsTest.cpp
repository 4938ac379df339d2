#include "core/CCDirector.h"

#include "core/CCScene.h"
#include "core/CCShaderCache.h"
#include "graphics/CCLabelAtlas.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureAtlas.h"
#include "graphics/CCTextureCache.h"
#include "platform/Device.h"
#include "platform/Format.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/GLTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

using platform::Ref;

// The director's statistics labels, read through member pointers of a derived class.
struct StatsFields : CCDirectorDisplayLink {
    static CCLabelAtlas* fps(CCDirector* d) { return label(d, &StatsFields::_FPSLabel); }
    static CCLabelAtlas* spf(CCDirector* d) { return label(d, &StatsFields::_SPFLabel); }
    static CCLabelAtlas* draws(CCDirector* d) { return label(d, &StatsFields::_drawsLabel); }

private:
    static CCLabelAtlas* label(CCDirector* d, Ref<CCNode> CCDirector::*field) {
        return dynamic_cast<CCLabelAtlas*>((d->*field).get());
    }
};

// A director apart from the shared one whose frame timing a test sets.
class TimedDirector : public CCDirectorDisplayLink {
public:
    void setTiming(double dt, double secondsPerFrame) {
        _dt = dt;
        _secondsPerFrame = secondsPerFrame;
    }
    // Glyph bytes to hand out instead of the engine's own; null hands out none.
    const unsigned char* bytes = nullptr;
    std::uint64_t length = 0;
    bool replaceImage = false;
    void getFPSImageData(const unsigned char** data, std::uint64_t* len) override {
        if (!replaceImage) return CCDirectorDisplayLink::getFPSImageData(data, len);
        *data = bytes;
        *len = length;
    }
};

class StatsTest : public fltest::EngineGLTest {
protected:
    void TearDown() override {
        CCTexture2D::setDefaultAlphaPixelFormat(kCCTexture2DPixelFormat_RGBA8888);
        fltest::EngineGLTest::TearDown();
    }
    CCTexture2D* glyphs() const {
        return CCTextureCache::sharedTextureCache()->textureForKey("cc_fps_images");
    }
};

TEST_F(StatsTest, ViewSetupMakesThreeLabelsOverTheCachedGlyphs) {
    CCDirector* d = director();
    CCTexture2D* texture = glyphs();
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->pixelsWide(), 256u);
    EXPECT_EQ(texture->pixelsHigh(), 32u);
    EXPECT_EQ(texture->pixelFormat(), kCCTexture2DPixelFormat_RGBA4444);
    EXPECT_EQ(CCTexture2D::defaultAlphaPixelFormat(), kCCTexture2DPixelFormat_RGBA8888);

    struct Expected {
        CCLabelAtlas* label;
        const char* text;
        CGPoint position;
    };
    for (const Expected& e : {Expected{StatsFields::fps(d), "00.0", CGPointMake(0, 0)},
                              Expected{StatsFields::spf(d), "0.000", CGPointMake(0, 17)},
                              Expected{StatsFields::draws(d), "000", CGPointMake(0, 34)}}) {
        ASSERT_TRUE(e.label) << e.text;
        EXPECT_EQ(e.label->string(), e.text);
        EXPECT_EQ(e.label->position(), e.position);
        EXPECT_EQ(e.label->texture(), texture);
        EXPECT_EQ(e.label->itemWidth(), 12u);
        EXPECT_EQ(e.label->itemHeight(), 32u);
        EXPECT_EQ(e.label->mapStartChar(), static_cast<std::uint64_t>('.'));
    }

    // Making them again replaces labels and texture, and gives back any default format.
    Ref<CCLabelAtlas> oldFPS = StatsFields::fps(d);
    Ref<CCTexture2D> oldTexture = texture;
    CCTexture2D::setDefaultAlphaPixelFormat(kCCTexture2DPixelFormat_A8);
    d->createStatsLabel();
    EXPECT_EQ(CCTexture2D::defaultAlphaPixelFormat(), kCCTexture2DPixelFormat_A8);
    ASSERT_TRUE(glyphs());
    EXPECT_NE(glyphs(), oldTexture.get());
    EXPECT_EQ(glyphs()->pixelFormat(), kCCTexture2DPixelFormat_RGBA4444);
    EXPECT_NE(StatsFields::fps(d), oldFPS.get());
    EXPECT_EQ(oldFPS->retainCount(), 1u);
    EXPECT_EQ(StatsFields::draws(d)->texture(), glyphs());
}

TEST_F(StatsTest, TextsRefreshOncePerTenthOfASecondOfDeltaTime) {
    auto d = platform::make<TimedDirector>();
    ASSERT_TRUE(d->init());
    d->createStatsLabel();
    CCLabelAtlas* fps = StatsFields::fps(d.get());
    CCLabelAtlas* spf = StatsFields::spf(d.get());
    CCLabelAtlas* draws = StatsFields::draws(d.get());
    ASSERT_TRUE(fps && spf && draws);

    // A model of the refresh rule over uneven frames.
    std::srand(7);
    double accum = 0;
    std::uint64_t frames = 0;
    int refreshes = 0;
    std::string shownFPS = "00.0", shownSPF = "0.000", shownDraws = "000";
    for (int frame = 1; frame <= 400; ++frame) {
        const double dt = (std::rand() % 50) / 1000.0; // 0 to 49 ms
        const double spfValue = frame / 1000.0;        // a different text each frame
        const std::uint32_t calls = static_cast<std::uint32_t>(frame % 17);
        d->setTiming(dt, spfValue);
        drawCallCounter = calls;
        d->showStats();

        ++frames;
        accum += dt;
        if (accum > 0.1) {
            ++refreshes;
            shownSPF = platform::format("%.3f", spfValue);
            shownFPS = platform::format("%.1f", static_cast<double>(frames) / accum);
            shownDraws = platform::format("%4lu", static_cast<unsigned long>(calls));
            frames = 0;
            accum = 0;
        }
        ASSERT_EQ(spf->string(), shownSPF) << "frame " << frame;
        ASSERT_EQ(fps->string(), shownFPS) << "frame " << frame;
        ASSERT_EQ(draws->string(), shownDraws) << "frame " << frame;
        // The count starts again after every frame, the labels' own draws included.
        ASSERT_EQ(drawCallCounter, 0u);
    }
    EXPECT_GT(refreshes, 40);
    EXPECT_LT(refreshes, 110);
}

TEST_F(StatsTest, FramesShowTheirDrawCountInTheLowerLeftCorner) {
    CCDirector* d = director();
    d->setProjection(kCCDirectorProjection2D);
    d->setDisplayStats(true);
    auto scene = CCScene::node();
    auto addLabel = [&](double y) {
        auto label = platform::make<CCLabelAtlas>();
        ASSERT_TRUE(label->initWithString("123", glyphs(), 12, 32, '.'));
        label->setPosition(CGPointMake(150, y));
        scene->addChild(label.get());
    };
    addLabel(200);
    addLabel(300);
    d->runWithScene(scene.get());
    director()->startAnimation();

    CCLabelAtlas* fps = StatsFields::fps(d);
    CCLabelAtlas* draws = StatsFields::draws(d);
    ASSERT_TRUE(fps && draws);
    // Display refreshes of 1/60 s on the manual clock until the texts change.
    auto refreshesUntilChange = [&] {
        const std::string before = fps->string();
        int n = 0;
        while (n < 100 && fps->string() == before) {
            advanceRefreshes(1);
            ++n;
        }
        return n;
    };
    refreshesUntilChange(); // from whenever the first frame was
    // Then the texts change every seventh frame: six frames gather 0.1 s, not more.
    EXPECT_EQ(refreshesUntilChange(), 7);
    EXPECT_EQ(fps->string(), "60.0");
    EXPECT_EQ(draws->string(), "   2");
    addLabel(400);
    const std::string shown = fps->string();
    advanceRefreshes(6);
    EXPECT_EQ(draws->string(), "   2");
    EXPECT_EQ(fps->string(), shown);
    advanceRefreshes(1);
    EXPECT_EQ(draws->string(), "   3");

    // The glyphs show in the corner: white ink on the black clear colour.
    int lit = 0;
    for (int y = 0; y < 66; ++y)
        for (int x = 0; x < 60; ++x)
            lit += (presentedPixel(x, y) & 0xFFFFFF00u) == 0xFFFFFF00u;
    EXPECT_GT(lit, 30);
    // Nothing is drawn there once statistics are off.
    d->setDisplayStats(false);
    d->drawScene();
    for (int y = 0; y < 66; y += 3)
        for (int x = 0; x < 60; x += 3)
            ASSERT_TRUE(fltest::colorNear(presentedPixel(x, y), 0x000000FF)) << x << "," << y;
}

TEST_F(StatsTest, RetinaSwitchRebuildsFromTheLargeImage) {
    CCDirector* d = director();
    Ref<CCLabelAtlas> smallFPS = StatsFields::fps(d);
    // A screen without retina keeps everything.
    EXPECT_FALSE(director()->enableRetinaDisplay(true));
    EXPECT_EQ(StatsFields::fps(d), smallFPS.get());
    EXPECT_EQ(glyphs()->pixelsWide(), 256u);

    platform::Device::setCurrent(platform::DeviceProfile::phoneRetina());
    ASSERT_TRUE(director()->enableRetinaDisplay(true));
    CCLabelAtlas* fps = StatsFields::fps(d);
    ASSERT_TRUE(fps);
    EXPECT_NE(fps, smallFPS.get());
    ASSERT_TRUE(glyphs());
    EXPECT_EQ(glyphs()->pixelsWide(), 512u);
    EXPECT_EQ(glyphs()->pixelsHigh(), 64u);
    EXPECT_EQ(glyphs()->contentSize(), CGSizeMake(256, 32));
    EXPECT_EQ(glyphs()->pixelFormat(), kCCTexture2DPixelFormat_RGBA4444);
    // Cells stay 12 x 32 points, 24 x 64 pixels: '0' is the third.
    EXPECT_EQ(fps->itemWidth(), 12u);
    EXPECT_EQ(fps->itemsPerRow(), 21u);
    const _ccV3F_C4B_T2F_Quad& q = fps->textureAtlas()->quads()[0];
    EXPECT_FLOAT_EQ(q.tl.texCoords.u, 48.0f / 512);
    EXPECT_FLOAT_EQ(q.tr.texCoords.u, 72.0f / 512);
    EXPECT_FLOAT_EQ(q.bl.texCoords.v, 1.0f);

    // And back to the small one.
    ASSERT_TRUE(director()->enableRetinaDisplay(false));
    EXPECT_EQ(glyphs()->pixelsWide(), 256u);
    EXPECT_EQ(StatsFields::fps(d)->texture(), glyphs());
}

TEST_F(StatsTest, RetinaPadsUseTheLargeImageToo) {
    platform::Device::setCurrent(platform::DeviceProfile::padRetina());
    ASSERT_TRUE(director()->enableRetinaDisplay(true));
    EXPECT_EQ(glyphs()->pixelsWide(), 512u);
}

TEST_F(StatsTest, UnusableGlyphImagesLeaveTheStatisticsWithoutLabels) {
    CCTextureCache::sharedTextureCache()->removeAllTextures();
    auto d = platform::make<TimedDirector>();
    ASSERT_TRUE(d->init());
    d->replaceImage = true;
    const unsigned char noise[] = {0x89, 'P', 'N', 'G', 1, 2, 3, 4, 5, 6, 7, 8, 9};
    for (std::uint64_t length : {std::uint64_t{0}, std::uint64_t{sizeof noise}}) {
        d->bytes = length ? noise : nullptr;
        d->length = length;
        CCTexture2D::setDefaultAlphaPixelFormat(kCCTexture2DPixelFormat_RGB565);
        d->createStatsLabel();
        EXPECT_EQ(CCTexture2D::defaultAlphaPixelFormat(), kCCTexture2DPixelFormat_RGB565);
        EXPECT_EQ(StatsFields::fps(d.get()), nullptr);
        EXPECT_EQ(glyphs(), nullptr);
    }
    // The counts still move and nothing is drawn.
    d->setTiming(0.2, 0.01);
    drawCallCounter = 4;
    d->showStats();
    EXPECT_EQ(drawCallCounter, 0u);
}

} // namespace
