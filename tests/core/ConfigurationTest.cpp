#include "core/CCConfiguration.h"

#include "platform/Device.h"
#include "platform/GLContext.h"
#include "tests/support/GLTestSupport.h"

#include <gtest/gtest.h>

#include <climits>

namespace {
struct DeviceCase {
    platform::DeviceProfile profile;
    float scale;
    std::int32_t kind;
};
} // namespace

TEST(ConfigurationTest, PacksDottedVersions) {
    EXPECT_EQ(CCConfiguration::packVersion("7.0"), 7u * 0x1000000u);
    EXPECT_EQ(CCConfiguration::packVersion("6.1.3"), 6u * 0x1000000u + 0x10000u + 3u * 0x100u);
    EXPECT_EQ(CCConfiguration::packVersion("1.2.3.4"), 0x1020304u);
    // Text that is not a number counts as 0; a component beyond the int range is clamped, not
    // undefined.
    EXPECT_EQ(CCConfiguration::packVersion("8.beta"), 8u * 0x1000000u);
    EXPECT_EQ(CCConfiguration::packVersion("0.99999999999999999999"),
              static_cast<std::uint32_t>(INT_MAX) * 0x10000u);
}

TEST(ConfigurationTest, RunningDeviceFollowsIdiomScreenAndContentScale) {
    platform::DeviceProfile other;
    other.idiom = platform::InterfaceIdiom::Other;
    const DeviceCase cases[] = {
        {platform::DeviceProfile::phone(), 1.0f, kCCDeviceiPhone},
        {platform::DeviceProfile::phoneRetina(), 2.0f, kCCDeviceiPhoneRetinaDisplay},
        {platform::DeviceProfile::phoneRetina(), 1.0f, kCCDeviceiPhone},
        {platform::DeviceProfile::phone5Retina(), 2.0f, kCCDeviceiPhone5RetinaDisplay},
        {platform::DeviceProfile::phone5Retina(), 1.0f, kCCDeviceiPhone5},
        {platform::DeviceProfile::pad(), 1.0f, kCCDeviceiPad},
        {platform::DeviceProfile::padRetina(), 2.0f, kCCDeviceiPadRetinaDisplay},
        {other, 2.0f, kCCDeviceUnknown},
    };
    CCConfiguration config;
    for (const DeviceCase& c : cases) {
        platform::Device::setCurrent(c.profile);
        platform::setContentScaleFactor(c.scale);
        EXPECT_EQ(config.runningDevice(), c.kind);
    }
    platform::Device::setCurrent(platform::DeviceProfile::phone());
    platform::setContentScaleFactor(1.0f);
}

namespace {
class ConfigurationGLTest : public fltest::GLTest {
protected:
    void TearDown() override {
        CCConfiguration::purgeSharedConfiguration();
        fltest::GLTest::TearDown();
    }
};
} // namespace

TEST_F(ConfigurationGLTest, ReadsTheLiveContext) {
    CCConfiguration::purgeSharedConfiguration();
    CCConfiguration* config = CCConfiguration::sharedConfiguration();
    GLint maxSamples = 0, maxTextureSize = 0, maxUnits = 0;
    glGetIntegerv(0x8D57, &maxSamples);
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
    glGetIntegerv(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS, &maxUnits);
    EXPECT_EQ(config->maxSamplesAllowed(), maxSamples);
    EXPECT_GE(config->maxSamplesAllowed(), 4);
    EXPECT_EQ(config->maxTextureSize(), maxTextureSize);
    EXPECT_EQ(config->maxTextureUnits(), maxUnits);
    EXPECT_TRUE(config->supportsNPOT());
    EXPECT_TRUE(config->supportsDiscardFramebuffer());
    // Mesa has neither the PVRTC formats nor the BGRA names looked for, nor shareable objects.
    EXPECT_FALSE(config->supportsPVRTC());
    EXPECT_FALSE(config->supportsBGRA8888());
    EXPECT_FALSE(config->supportsShareableVAO());
    EXPECT_TRUE(config->checkForGLExtension("GL_EXT_discard_framebuffer"));
    EXPECT_FALSE(config->checkForGLExtension("GL_EXT_discard")) << "a prefix is not a name";
    EXPECT_FALSE(config->checkForGLExtension(""));
}

TEST_F(ConfigurationGLTest, OldSystemsReportNoSamples) {
    platform::DeviceProfile old = platform::DeviceProfile::phone();
    old.systemVersion = "3.2";
    platform::Device::setCurrent(old);
    CCConfiguration config;
    config.init();
    EXPECT_EQ(config.maxSamplesAllowed(), 0);
}

TEST_F(ConfigurationGLTest, QueriesWithoutAContextAreAskedAgainLater) {
    CCConfiguration config;
    config.init();
    ASSERT_TRUE(platform::GLContext::setCurrentContext(nullptr));
    EXPECT_FALSE(config.supportsDiscardFramebuffer());
    EXPECT_EQ(config.maxTextureSize(), 0);
    fltest::useSharedGLContext();
    EXPECT_TRUE(config.supportsDiscardFramebuffer());
    EXPECT_GT(config.maxTextureSize(), 0);
}

#include "core/CCStatsImages.h"
#include "platform/Image.h"

TEST(StatsImagesTest, GlyphStripsAreWhiteOnTransparentAtBothScales) {
    struct Case {
        const unsigned char* (*image)(std::uint64_t*);
        std::uint32_t width, height, cell;
    };
    for (const Case& c : {Case{ccStatsImageSmall, 256, 32, 12}, Case{ccStatsImageLarge, 512, 64, 24},
                          Case{ccStatsImageLargePad, 512, 64, 24}}) {
        std::uint64_t length = 0;
        const unsigned char* bytes = c.image(&length);
        ASSERT_NE(bytes, nullptr);
        auto image = platform::Image::imageWithData(bytes, length);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width(), c.width);
        EXPECT_EQ(image->height(), c.height);
        std::vector<std::uint8_t> rgba = image->rgbaPixels();
        // Every one of the twelve cells holds ink; nothing lies right of the last cell; every
        // inked pixel is white.
        for (std::uint32_t cell = 0; cell <= 12; ++cell) {
            std::uint32_t ink = 0;
            std::uint32_t x0 = cell * c.cell, x1 = cell == 12 ? c.width : x0 + c.cell;
            for (std::uint32_t y = 0; y < c.height; ++y)
                for (std::uint32_t x = x0; x < x1; ++x) {
                    const std::uint8_t* px = &rgba[(static_cast<std::size_t>(y) * c.width + x) * 4];
                    if (px[3] == 0) continue;
                    ++ink;
                    EXPECT_EQ(px[0] & px[1] & px[2], 255);
                }
            if (cell < 12)
                EXPECT_GT(ink, 0u) << "cell " << cell;
            else
                EXPECT_EQ(ink, 0u);
        }
    }
}
