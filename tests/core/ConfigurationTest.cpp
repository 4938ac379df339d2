#include "core/CCConfiguration.h"

#include "platform/Device.h"

#include <gtest/gtest.h>

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
