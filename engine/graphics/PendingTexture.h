// Temporary: stands in for the texture object and texture cache until they are merged.
#pragma once
#if __has_include("graphics/CCTextureCache.h")
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureCache.h"
#else
#include "platform/Geometry.h"
#include "platform/Object.h"
#include <string>
class CCTexture2D : public platform::Object {
public:
    CGSize contentSize() const { return CGSizeZero; }
};
class CCTextureCache {
public:
    static CCTextureCache* sharedTextureCache() {
        static CCTextureCache cache;
        return &cache;
    }
    CCTexture2D* addImage(const std::string&) { return nullptr; }
};
#endif
