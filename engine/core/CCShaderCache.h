// The shared dictionary of programs, holding the eight default programs under fixed keys.
// Nodes fetch their program from it by key when they are made.
#pragma once

#include "core/CCGLProgram.h"
#include "platform/GLContext.h"

#include <map>
#include <string>

// Keys of the default programs.
inline constexpr const char* kCCShader_PositionTextureColor = "ShaderPositionTextureColor";
inline constexpr const char* kCCShader_PositionTextureColorAlphaTest = "ShaderPositionTextureColorAlphaTest";
inline constexpr const char* kCCShader_PositionColor = "ShaderPositionColor";
inline constexpr const char* kCCShader_PositionTexture = "ShaderPositionTexture";
inline constexpr const char* kCCShader_PositionTexture_uColor = "ShaderPositionTexture_uColor";
inline constexpr const char* kCCShader_PositionTextureA8Color = "ShaderPositionTextureA8Color";
inline constexpr const char* kCCShader_Position_uColor = "ShaderPosition_uColor";
inline constexpr const char* kCCShader_PositionLengthTextureColor = "ShaderPositionLengthTextureColor";

class CCShaderCache : public platform::Object {
public:
    // Made on first call, with every default program built; needs a current GL context.
    static CCShaderCache* sharedShaderCache();
    // Forgets the shared cache; the next sharedShaderCache() builds every program again.
    // Programs handed out stay alive while their users hold them.
    static void purgeSharedShaderCache();
    // The same as purgeSharedShaderCache (an older name).
    static void purgeSharedTextureCache() { purgeSharedShaderCache(); }
    // The share group the shared cache's programs were built in: they draw only in its
    // contexts. Null while there is no shared cache; makes none.
    static platform::ShareGroup* sharedCacheShareGroup();

    CCShaderCache() = default;
    virtual bool init();

    // The program stored under the key, null when none.
    CCGLProgram* programForKey(const std::string& key) const;
    // Retains the program; replaces any program stored under the key.
    void addProgram(CCGLProgram* program, const std::string& key);
    // Builds the eight default programs. One that fails to build is logged and left out.
    void loadDefaultShaders();

private:
    std::map<std::string, platform::Ref<CCGLProgram>> _programs;
    platform::Ref<platform::ShareGroup> _sharegroup; // of the context current at init
};
