// The device profile that stands in for the platform's device queries, and the process-wide
// content scale factor. Tests and the showcase switch profiles with one call.
#pragma once

#include "platform/Geometry.h"

#include <string>

namespace platform {

enum class InterfaceIdiom : int { Phone = 0, Pad = 1, Other = 2 };

struct DeviceProfile {
    InterfaceIdiom idiom = InterfaceIdiom::Phone;
    std::string systemVersion = "6.1";
    double screenScale = 1.0;
    CGSize screenSize{320, 480};        // points
    CGSize preferredModeSize{320, 480}; // pixels
    // The status bar's frame in points; zero while it is hidden, as games keep it.
    CGRect statusBarFrame{};

    static DeviceProfile phone();        // the default: scale 1, 320x480
    static DeviceProfile phoneRetina();  // scale 2, 640x960 pixels
    static DeviceProfile phone5Retina(); // scale 2, 640x1136 pixels
    static DeviceProfile pad();          // scale 1, 768x1024
    static DeviceProfile padRetina();    // scale 2, 1536x2048 pixels
};

class Device {
public:
    static const DeviceProfile& current();
    static void setCurrent(const DeviceProfile& profile);
};

// Sizes in pixels = sizes in points x this factor; 1.0 until the director switches retina on.
float contentScaleFactor();
void setContentScaleFactor(float scale);

} // namespace platform
