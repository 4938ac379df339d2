#include "core/CCShaderCache.h"

#include "core/CCDirector.h"
#include "core/ccShaders.h"
#include "platform/Log.h"

#include <vector>
#include <utility>

namespace {

platform::Ref<CCShaderCache>& sharedCache() {
    static platform::Ref<CCShaderCache> cache;
    return cache;
}

struct AttributeBinding {
    const char* name;
    GLuint slot;
};

// initialiser, attribute bindings, link, uniform look-up: the order a program needs.
platform::Ref<CCGLProgram> buildProgram(const char* key, const char* vert, const char* frag,
                                        const std::vector<AttributeBinding>& attributes) {
    auto program = platform::make<CCGLProgram>();
    if (!program->initWithVertexShaderByteArray(vert, frag)) {
        CCLOG("CCShaderCache: default program %s does not compile", key);
        return nullptr;
    }
    for (const AttributeBinding& a : attributes)
        program->addAttribute(a.name, a.slot);
    if (!program->link()) {
        CCLOG("CCShaderCache: default program %s does not link", key);
        return nullptr;
    }
    program->updateUniforms();
    return program;
}

} // namespace

CCShaderCache* CCShaderCache::sharedShaderCache() {
    platform::Ref<CCShaderCache>& cache = sharedCache();
    if (!cache) {
        // The director's end drops the programs with the rest of the GL state.
        CCDirector::setPurgeHook(CCDirectorPurge::ShaderCache, [] { purgeSharedShaderCache(); });
        auto made = platform::make<CCShaderCache>();
        made->init();
        cache = std::move(made);
    }
    return cache.get();
}

void CCShaderCache::purgeSharedShaderCache() {
    sharedCache() = nullptr;
}

platform::ShareGroup* CCShaderCache::sharedCacheShareGroup() {
    const platform::Ref<CCShaderCache>& cache = sharedCache();
    return cache ? cache->_sharegroup.get() : nullptr;
}

bool CCShaderCache::init() {
    platform::GLContext* context = platform::GLContext::currentContext();
    _sharegroup = context ? context->sharegroup() : nullptr;
    loadDefaultShaders();
    return true;
}

CCGLProgram* CCShaderCache::programForKey(const std::string& key) const {
    auto it = _programs.find(key);
    return it == _programs.end() ? nullptr : it->second.get();
}

void CCShaderCache::addProgram(CCGLProgram* program, const std::string& key) {
    if (!program) {
        _programs.erase(key);
        return;
    }
    _programs[key] = program;
}

void CCShaderCache::loadDefaultShaders() {
    const AttributeBinding position{kCCAttributeNamePosition, kCCVertexAttrib_Position};
    const AttributeBinding color{kCCAttributeNameColor, kCCVertexAttrib_Color};
    const AttributeBinding texCoord{kCCAttributeNameTexCoord, kCCVertexAttrib_TexCoords};

    struct Default {
        const char* key;
        const char* vert;
        const char* frag;
        std::vector<AttributeBinding> attributes;
    };
    const Default defaults[] = {
        {kCCShader_PositionTextureColor,
         ccPositionTextureColor_vert,
         ccPositionTextureColor_frag,
         {position, color, texCoord}},
        {kCCShader_PositionTextureColorAlphaTest,
         ccPositionTextureColor_vert,
         ccPositionTextureColorAlphaTest_frag,
         {position, color, texCoord}},
        {kCCShader_PositionColor, ccPositionColor_vert, ccPositionColor_frag, {position, color}},
        {kCCShader_PositionTexture, ccPositionTexture_vert, ccPositionTexture_frag, {position, texCoord}},
        {kCCShader_PositionTexture_uColor,
         ccPositionTexture_uColor_vert,
         ccPositionTexture_uColor_frag,
         {position, texCoord}},
        {kCCShader_PositionTextureA8Color,
         ccPositionTextureColor_vert,
         ccPositionTextureA8Color_frag,
         {position, color, texCoord}},
        {kCCShader_Position_uColor, ccPosition_uColor_vert, ccPosition_uColor_frag, {position}},
        // This one spells its texture coordinate "a_texcoord".
        {kCCShader_PositionLengthTextureColor,
         ccPositionLengthTextureColor_vert,
         ccPositionLengthTextureColor_frag,
         {position, {"a_texcoord", kCCVertexAttrib_TexCoords}, color}},
    };
    for (const Default& d : defaults) {
        if (auto program = buildProgram(d.key, d.vert, d.frag, d.attributes)) addProgram(program, d.key);
    }
}
