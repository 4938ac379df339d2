#include "core/CCConfiguration.h"

#include "platform/Device.h"
#include "platform/GLExtensions.h"

#include <GLES2/gl2.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <sstream>

namespace {
platform::Ref<CCConfiguration>& sharedInstance() {
    static platform::Ref<CCConfiguration> shared;
    return shared;
}
constexpr GLenum kMaxSamplesApple = 0x8D57;
} // namespace

CCConfiguration* CCConfiguration::sharedConfiguration() {
    auto& shared = sharedInstance();
    if (!shared) {
        shared = platform::make<CCConfiguration>();
        shared->init();
    }
    return shared.get();
}

void CCConfiguration::purgeSharedConfiguration() {
    sharedInstance() = nullptr;
}

CCConfiguration::CCConfiguration() = default;

bool CCConfiguration::init() {
    _OSVersion = packVersion(platform::Device::current().systemVersion);
    return true;
}

std::uint32_t CCConfiguration::packVersion(const std::string& version) {
    std::uint32_t packed = 0, weight = 0x1000000;
    std::stringstream parts(version);
    std::string part;
    while (std::getline(parts, part, '.')) {
        // Out-of-range components clamp to the int range, as the platform's intValue does;
        // atoi would be undefined there.
        long value = std::clamp<long>(std::strtol(part.c_str(), nullptr, 10), INT_MIN, INT_MAX);
        packed += static_cast<std::uint32_t>(static_cast<std::int32_t>(value)) * weight;
        weight /= 0x100;
    }
    return packed;
}

bool CCConfiguration::checkForGLExtension(const std::string& name) {
    getOpenGLvariables();
    return platform::extensionListHas(_glExtensions, name);
}

std::int32_t CCConfiguration::runningDevice() const {
    const platform::DeviceProfile& device = platform::Device::current();
    bool retina = platform::contentScaleFactor() == 2.0f;
    if (device.idiom == platform::InterfaceIdiom::Pad)
        return retina ? kCCDeviceiPadRetinaDisplay : kCCDeviceiPad;
    if (device.idiom != platform::InterfaceIdiom::Phone) return kCCDeviceUnknown;
    if (device.preferredModeSize == CGSizeMake(640, 1136))
        return retina ? kCCDeviceiPhone5RetinaDisplay : kCCDeviceiPhone5;
    return retina ? kCCDeviceiPhoneRetinaDisplay : kCCDeviceiPhone;
}

void CCConfiguration::getOpenGLvariables() {
    if (_openGLInitialized) return;
    const GLubyte* extensions = glGetString(GL_EXTENSIONS);
    // Without a current context there is nothing to read yet; ask again on the next query.
    if (!extensions) return;
    _glExtensions = reinterpret_cast<const char*>(extensions);
    if (_OSVersion >= 0x4000000) {
        // The sample limit of the multisample resolve the view uses (GL_MAX_SAMPLES here).
        glGetIntegerv(kMaxSamplesApple, &_maxSamplesAllowed);
    } else {
        _maxSamplesAllowed = 0;
    }
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &_maxTextureSize);
    glGetIntegerv(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS, &_maxTextureUnits);
    _supportsNPOT = true;
    _openGLInitialized = true;
    _supportsPVRTC = checkForGLExtension("GL_IMG_texture_compression_pvrtc");
    _supportsBGRA8888 = checkForGLExtension("GL_IMG_texture_format_BGRA8888") ||
                        checkForGLExtension("GL_APPLE_texture_format_BGRA8888");
    _supportsDiscardFramebuffer = checkForGLExtension("GL_EXT_discard_framebuffer");
    _supportsShareableVAO = checkForGLExtension("GL_APPLE_vertex_array_object");
}

#define CC_GL_VALUE(type, getter, field)                                                                     \
    type CCConfiguration::getter() {                                                                         \
        getOpenGLvariables();                                                                                \
        return field;                                                                                        \
    }
CC_GL_VALUE(std::int32_t, maxTextureSize, _maxTextureSize)
CC_GL_VALUE(std::int32_t, maxTextureUnits, _maxTextureUnits)
CC_GL_VALUE(std::int32_t, maxSamplesAllowed, _maxSamplesAllowed)
CC_GL_VALUE(bool, supportsNPOT, _supportsNPOT)
CC_GL_VALUE(bool, supportsPVRTC, _supportsPVRTC)
CC_GL_VALUE(bool, supportsBGRA8888, _supportsBGRA8888)
CC_GL_VALUE(bool, supportsDiscardFramebuffer, _supportsDiscardFramebuffer)
CC_GL_VALUE(bool, supportsShareableVAO, _supportsShareableVAO)
#undef CC_GL_VALUE
