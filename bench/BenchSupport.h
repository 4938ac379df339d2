// What every benchmark does after its runs: the engine's shared objects go, with their GL
// objects, while the benchmark's context is still current.
#pragma once

#include "core/CCDirector.h"
#include "core/CCShaderCache.h"
#include "graphics/CCTextureCache.h"

inline void purgeEngine() {
    CCDirector::purgeSharedDirector();
    CCTextureCache::purgeSharedTextureCache();
    CCShaderCache::purgeSharedShaderCache();
}
