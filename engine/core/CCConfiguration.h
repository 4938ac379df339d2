// What the device and its OpenGL ES implementation can do.
#pragma once

#include "platform/Object.h"

#include <cstdint>
#include <string>

// Running device kinds answered by runningDevice().
enum : std::int32_t {
    kCCDeviceiPhone = 0,
    kCCDeviceiPhoneRetinaDisplay = 1,
    kCCDeviceiPhone5 = 2,
    kCCDeviceiPhone5RetinaDisplay = 3,
    kCCDeviceiPad = 4,
    kCCDeviceiPadRetinaDisplay = 5,
    kCCDeviceUnknown = -1,
};

class CCConfiguration : public platform::Object {
public:
    // Created on first use.
    static CCConfiguration* sharedConfiguration();
    // Drops the shared configuration (tests; the next call makes a new one).
    static void purgeSharedConfiguration();

    CCConfiguration();
    virtual bool init();

    // Whether the GL extension string holds exactly this name.
    bool checkForGLExtension(const std::string& name);
    // Recomputed on every call: it depends on the content scale factor.
    std::int32_t runningDevice() const;
    // Reads the GL values once; needs a current context.
    void getOpenGLvariables();

    std::int32_t maxTextureSize();
    std::int32_t maxTextureUnits();
    std::int32_t maxSamplesAllowed();
    bool supportsNPOT();
    bool supportsPVRTC();
    bool supportsBGRA8888();
    bool supportsDiscardFramebuffer();
    bool supportsShareableVAO();
    void dumpInfo() const {}
    // major x 0x1000000 + minor x 0x10000 + patch x 0x100.
    std::uint32_t OSVersion() const { return _OSVersion; }

    // Packs a dotted version string as OSVersion() does.
    static std::uint32_t packVersion(const std::string& version);

private:
    bool _openGLInitialized = false;
    std::int32_t _maxTextureSize = 0;
    bool _supportsPVRTC = false;
    bool _supportsNPOT = false;
    bool _supportsBGRA8888 = false;
    bool _supportsDiscardFramebuffer = false;
    bool _supportsShareableVAO = false;
    std::int32_t _maxSamplesAllowed = 0;
    std::int32_t _maxTextureUnits = 0;
    std::uint32_t _OSVersion = 0;
    std::string _glExtensions;
};
