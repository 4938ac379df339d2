#include "platform/Device.h"

namespace platform {

DeviceProfile DeviceProfile::phone() {
    return {};
}

DeviceProfile DeviceProfile::phoneRetina() {
    DeviceProfile p;
    p.screenScale = 2.0;
    p.preferredModeSize = {640, 960};
    return p;
}

DeviceProfile DeviceProfile::phone5Retina() {
    DeviceProfile p;
    p.screenScale = 2.0;
    p.screenSize = {320, 568};
    p.preferredModeSize = {640, 1136};
    return p;
}

DeviceProfile DeviceProfile::pad() {
    DeviceProfile p;
    p.idiom = InterfaceIdiom::Pad;
    p.screenSize = {768, 1024};
    p.preferredModeSize = {768, 1024};
    return p;
}

DeviceProfile DeviceProfile::padRetina() {
    DeviceProfile p = pad();
    p.screenScale = 2.0;
    p.preferredModeSize = {1536, 2048};
    return p;
}

namespace {
DeviceProfile& currentProfile() {
    static DeviceProfile profile;
    return profile;
}
float& scaleFactor() {
    static float scale = 1.0f;
    return scale;
}
} // namespace

const DeviceProfile& Device::current() {
    return currentProfile();
}
void Device::setCurrent(const DeviceProfile& profile) {
    currentProfile() = profile;
}

float contentScaleFactor() {
    return scaleFactor();
}
void setContentScaleFactor(float scale) {
    scaleFactor() = scale;
}

} // namespace platform
