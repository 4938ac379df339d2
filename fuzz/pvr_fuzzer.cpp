// Feeds arbitrary bytes to the PVR parsers of both versions and uploads whatever they accept
// into a real GL texture: a bad size must be refused before GL or memcpy reads past the input.
#include "graphics/CCTexturePVR.h"
#include "platform/GLContext.h"
#include "platform/Log.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static platform::Ref<platform::GLContext> context = [] {
        platform::setLogSink([](const std::string&) {});
        auto c = platform::GLContext::contextWithAPI(platform::GLRenderingAPI::OpenGLES2);
        if (c) platform::GLContext::setCurrentContext(c.get());
        return c;
    }();
    // An exact-size copy, so any read past the end is caught.
    std::unique_ptr<unsigned char[]> copy(new unsigned char[size ? size : 1]);
    if (size) std::memcpy(copy.get(), data, size);

    auto pvr = platform::make<CCTexturePVR>();
    if (pvr->unpackPVRv2Data(copy.get(), size) || pvr->unpackPVRv3Data(copy.get(), size)) {
        if (context) pvr->createGLTexture();
    }
    return 0;
}
