// Bitmap-font files: the input parsed as a .fnt file, every glyph and a few kerning pairs looked
// up, then a label laid out, wrapped and aligned with the font's own characters on a small real
// atlas, so that whatever numbers the file holds reach the layout as well.
#include "fuzz/FuzzSupport.h"
#include "core/CCDirector.h"
#include "graphics/CCLabelBMFont.h"
#include "graphics/CCSprite.h"
#include "graphics/CCTextureCache.h"
#include "platform/GLContext.h"
#include "platform/Image.h"
#include "platform/Paths.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A 4 x 4 white atlas in the temporary folder, written once and removed at exit.
struct Atlas {
    Atlas() {
        const std::string p = platform::Paths::stringByAppendingPathComponent(
            platform::Paths::temporaryDirectory(), "bmfont-fuzzer-" + std::to_string(::getpid()) + ".png");
        std::vector<std::uint8_t> white(4 * 4 * 4, 0xFF);
        if (platform::Image::writePNG(p, white.data(), 4, 4)) path = p;
    }
    ~Atlas() {
        if (!path.empty()) ::unlink(path.c_str());
    }
    std::string path;
};

const std::string& atlasPath() {
    static const Atlas atlas;
    return atlas.path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static platform::Ref<platform::GLContext> context = [] {
        auto c = platform::GLContext::contextWithAPI(platform::GLRenderingAPI::OpenGLES2);
        if (c) platform::GLContext::setCurrentContext(c.get());
        return c;
    }();

    MemoryFile file(data, size);
    if (file.path().empty()) return 0;
    CCBMFontConfiguration* config = fntConfigLoadFile(file.path());
    if (config) {
        (void)config->description();
        std::u16string text;
        for (std::uint32_t c = 0; c < 0x10000 && text.size() < 48; ++c) {
            if (!config->characterIsMember(static_cast<char16_t>(c))) continue;
            const _BMFontDef* def = config->fontDefForCharacter(static_cast<std::uint16_t>(c));
            if (def) (void)config->kerningAmountForPair(def->charID, static_cast<std::uint16_t>('A'));
            text.push_back(static_cast<char16_t>(c));
            if (text.size() % 7 == 0) text += u" \n";
        }

        if (context && !atlasPath().empty()) {
            // The page the file names is most likely missing: lay out on the fuzzer's atlas.
            config->setAtlasName(atlasPath());
            std::string utf8;
            for (char16_t c : text) {
                if (c >= 0xD800 && c <= 0xDFFF) continue; // no UTF-8 for a lone surrogate
                if (c < 0x80) {
                    utf8.push_back(static_cast<char>(c));
                } else if (c < 0x800) {
                    utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
                    utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
                } else {
                    utf8.push_back(static_cast<char>(0xE0 | (c >> 12)));
                    utf8.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
                    utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
                }
            }
            platform::Ref<CCLabelBMFont> label =
                CCLabelBMFont::labelWithString(utf8, file.path(), 40, kCCTextAlignmentCenter);
            // The engine's shared objects go before the statics they use are destroyed at exit.
            static const bool cleanupAtExit = [] {
                std::atexit([] {
                    CCTextureCache::purgeSharedTextureCache();
                    CCDirector::purgeSharedDirector();
                });
                return true;
            }();
            (void)cleanupAtExit;
            if (label) {
                label->setAlignment(kCCTextAlignmentRight);
                label->setAnchorPoint(CGPointMake(0, 0));
                label->setWidth(-1);
                label->setString(utf8.substr(0, utf8.size() / 2));
                (void)label->string();
            }
        }
    }
    // Descriptor numbers come back for later inputs: nothing may stay cached under them.
    CCLabelBMFont::purgeCachedData();
    return 0;
}
