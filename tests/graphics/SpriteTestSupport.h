// Shared by the sprite and batch tests: textures made from known pixels, a fixture that draws
// through the director with a 2D projection (one point per pixel, origin bottom-left), and a
// check that every cache is emptied between tests.
#pragma once

#include "core/CCDirector.h"
#include "core/CCScene.h"
#include "core/CCShaderCache.h"
#include "graphics/CCAnimationCache.h"
#include "graphics/CCSprite.h"
#include "graphics/CCSpriteFrameCache.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureCache.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/GLTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace fltest {

// An RGBA8888 texture of w x h pixels; pixel(x, y) gives 0xRRGGBBAA with y = 0 the first
// (top) row. Nearest filtering, so sampled colours are exact.
inline platform::Ref<CCTexture2D> makeTexture(int w, int h,
                                              const std::function<std::uint32_t(int, int)>& pixel) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(w * h * 4));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint32_t c = pixel(x, y);
            std::uint8_t* p = &data[static_cast<std::size_t>((y * w + x) * 4)];
            p[0] = static_cast<std::uint8_t>(c >> 24);
            p[1] = static_cast<std::uint8_t>(c >> 16);
            p[2] = static_cast<std::uint8_t>(c >> 8);
            p[3] = static_cast<std::uint8_t>(c);
        }
    auto texture = platform::make<CCTexture2D>();
    if (!texture->initWithData(data.data(), kCCTexture2DPixelFormat_RGBA8888, static_cast<std::uint64_t>(w),
                               static_cast<std::uint64_t>(h), CGSizeMake(w, h)))
        return nullptr;
    texture->setAliasTexParameters();
    return texture;
}

// A texture of one colour.
inline platform::Ref<CCTexture2D> makePlainTexture(int w, int h, std::uint32_t rgba = 0xFFFFFFFFu) {
    return makeTexture(w, h, [rgba](int, int) { return rgba; });
}

// A glow: a 12 x 12 sprite of opaque texels, (255, 200, 80) in its middle 4 x 4 and black around,
// drawn with a blend that adds light.
inline platform::Ref<CCSprite> glowSprite(_ccBlendFunc blend) {
    auto sprite = CCSprite::spriteWithTexture(
        makeTexture(12, 12, [](int x, int y) { return x / 4 == 1 && y / 4 == 1 ? 0xFFC850FFu : 0x000000FFu; }).get());
    sprite->setBlendFunc(blend);
    return sprite;
}

class SpriteFixture : public EngineGLTest {
protected:
    CGSize viewSize() const override { return CGSizeMake(64, 64); }
    void SetUp() override {
        EngineGLTest::SetUp();
        director()->setProjection(kCCDirectorProjection2D);
    }
    void TearDown() override {
        CCAnimationCache::purgeSharedAnimationCache();
        CCSpriteFrameCache::purgeSharedSpriteFrameCache();
        CCTextureCache::purgeSharedTextureCache();
        CCShaderCache::purgeSharedShaderCache();
        EngineGLTest::TearDown();
    }
    // Runs (or replaces) the scene and draws one frame.
    void drawFrame(CCScene* scene) {
        if (director()->runningScene() != scene) {
            if (director()->runningScene())
                director()->replaceScene(scene);
            else
                director()->runWithScene(scene);
        }
        director()->drawScene();
    }
};

} // namespace fltest
