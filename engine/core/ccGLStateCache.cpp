#include "core/ccGLStateCache.h"

#include "core/CCMatrix.h"

#include "platform/Exception.h"
#include "platform/GLCheck.h"
#include "platform/GLContext.h"
#include "platform/GLExtensions.h"

namespace {

constexpr GLuint kUnknown = 0xFFFFFFFFu;

struct CacheState {
    std::uint64_t context = 0; // serial of the context the values below describe
    GLuint program = kUnknown;
    GLenum blendSource = kUnknown;
    GLenum blendDestination = kUnknown;
    GLuint textures[kCCMaxActiveTexture] = {kUnknown, kUnknown, kUnknown, kUnknown, kUnknown, kUnknown,
                                            kUnknown, kUnknown, kUnknown, kUnknown, kUnknown, kUnknown,
                                            kUnknown, kUnknown, kUnknown, kUnknown};
    // 1 enabled, 0 disabled, -1 unknown.
    signed char attribs[3] = {0, 0, 0};
    GLuint vao = 0;
    // Textures and programs the context's group had deleted when the values above were checked.
    std::uint64_t deletions = 0;
};

// One cache per thread: GL's current context is per thread too, so the loading thread's
// bindings never land in the drawing thread's record.
thread_local CacheState state;

void forgetAllButVAO() {
    state.program = kUnknown;
    state.blendSource = state.blendDestination = kUnknown;
    for (GLuint& t : state.textures)
        t = kUnknown;
    for (signed char& a : state.attribs)
        a = 0;
}

// Another context may hold anything, a bound vertex array object or an attribute array left
// enabled included, so after a switch every value is unknown.
inline void followCurrentContext() {
    std::uint64_t current = platform::GLContext::currentSerial();
    if (current == state.context) return;
    state.context = current;
    state.deletions = platform::GLContext::currentGroupDeletions();
    forgetAllButVAO();
    for (signed char& a : state.attribs)
        a = -1;
    state.vao = kUnknown;
}

// Colour blends as asked; alpha blends as the colour of a premultiplied source would. A source
// factor of GL_SRC_ALPHA premultiplies the colour, and applied to alpha too it would square it: a
// half-transparent node drawn over (0, 0, 0, 0) would leave alpha 64, and one drawn over an opaque
// picture would make it see-through. So alpha takes that factor as GL_ONE and composites as
// src + dst * (1 - src alpha) under the usual blends, while the others (an eraser's
// (GL_ZERO, GL_ONE_MINUS_SRC_ALPHA)) treat alpha as they treat the premultiplied colour. Blends
// that add light (a destination factor of GL_ONE: additive, screen) or tint what lies below (a
// source factor of GL_DST_COLOR: multiply) cover nothing, so they keep the destination's alpha:
// light is a premultiplied colour without coverage, which a capture's premultiplied blit adds
// back exactly. Captures, grids and saved frames then hold what the screen shows.
void applyBlend(GLenum sfactor, GLenum dfactor) {
    if (sfactor == GL_ONE && dfactor == GL_ZERO) {
        glCheck(glDisable(GL_BLEND));
        return;
    }
    glCheck(glEnable(GL_BLEND));
    if (dfactor == GL_ONE || sfactor == GL_DST_COLOR)
        glCheck(glBlendFuncSeparate(sfactor, dfactor, GL_ZERO, GL_ONE));
    else
        glCheck(glBlendFuncSeparate(sfactor, dfactor, sfactor == GL_SRC_ALPHA ? GL_ONE : sfactor, dfactor));
}

// A delete made here, where this record forgot the name already: when it is the group's only
// delete since the last check, the record stays good.
void noteOwnDeletion(std::uint64_t deletions) {
    if (deletions != 0 && deletions == state.deletions + 1) state.deletions = deletions;
}

void bindVertexArray(GLuint vao) {
    const platform::GLExtensions& ext = platform::glExtensions();
    if (ext.glBindVertexArrayOES) glCheck(ext.glBindVertexArrayOES(vao));
}

} // namespace

void glCacheUseProgram(GLuint program) {
    followCurrentContext();
    if (program == state.program) return;
    state.program = program;
    glCheck(glUseProgram(program));
}

void glCacheDeleteProgram(GLuint program) {
    glCacheDeleteProgram(program, platform::GLHome::current());
}

void glCacheDeleteProgram(GLuint program, const platform::GLHome& home) {
    glCacheDeleteObjects(platform::GLObjectKind::Program, 1, &program, home);
}

void glCacheDeleteObjects(platform::GLObjectKind kind, GLsizei count, const GLuint* names,
                          const platform::GLHome& home) {
    glCacheDeleteWaitingFirst();
    followCurrentContext();
    // GL unbinds a deleted texture from every unit, and a name may come back for a new object.
    for (GLsizei i = 0; names && i < count; ++i) {
        if (kind == platform::GLObjectKind::Program && names[i] == state.program) state.program = kUnknown;
        if (kind == platform::GLObjectKind::Texture)
            for (GLuint& bound : state.textures)
                if (bound == names[i]) bound = kUnknown;
    }
    noteOwnDeletion(home.deleteObjects(kind, count, names));
}

void glCacheBlendFunc(GLenum sfactor, GLenum dfactor) {
    followCurrentContext();
    if (sfactor == state.blendSource && dfactor == state.blendDestination) return;
    state.blendSource = sfactor;
    state.blendDestination = dfactor;
    applyBlend(sfactor, dfactor);
}

void glCacheBlendReset(GLenum sfactor, GLenum dfactor) {
    applyBlend(sfactor, dfactor);
}

void glCacheBindTexture2DOnUnit(GLuint unit, GLuint texture) {
    CCAssert(unit < kCCMaxActiveTexture, "Unit is greater than the number of texture units");
    followCurrentContext();
    if (state.textures[unit] == texture) return;
    state.textures[unit] = texture;
    glCheck(glActiveTexture(GL_TEXTURE0 + unit));
    glCheck(glBindTexture(GL_TEXTURE_2D, texture));
}

void glCacheBindTexture2D(GLuint texture) {
    glCacheBindTexture2DOnUnit(0, texture);
}

void glCacheDeleteTexture(GLuint texture) {
    glCacheDeleteTexture(texture, platform::GLHome::current());
}

void glCacheDeleteTexture(GLuint texture, const platform::GLHome& home) {
    glCacheDeleteObjects(platform::GLObjectKind::Texture, 1, &texture, home);
}

void glCacheBindVAO(GLuint vao) {
    followCurrentContext();
    if (state.vao == vao) return;
    state.vao = vao;
    bindVertexArray(vao);
}

void glCacheEnableVertexAttribs(std::uint32_t flags) {
    followCurrentContext();
    if (state.vao != 0) {
        state.vao = 0;
        bindVertexArray(0);
    }
    for (GLuint attrib = 0; attrib < 3; ++attrib) {
        signed char enable = (flags & (1u << attrib)) != 0 ? 1 : 0;
        if (enable == state.attribs[attrib]) continue;
        if (enable)
            glCheck(glEnableVertexAttribArray(attrib));
        else
            glCheck(glDisableVertexAttribArray(attrib));
        state.attribs[attrib] = enable;
    }
}

void glCacheEnableServerState(ccGLServerState) {}

void glCacheSetProjectionDirty() {}

void glCacheInvalidate() {
    matrixFreeAll();
    forgetAllButVAO();
}

void glCacheForget() {
    state.context = ~std::uint64_t{0};
    followCurrentContext();
}

void glCacheFollowDeletions() {
    followCurrentContext();
    std::uint64_t deletions = platform::GLContext::currentGroupDeletions();
    if (deletions == state.deletions) return;
    state.deletions = deletions;
    state.program = kUnknown;
    for (GLuint& t : state.textures)
        t = kUnknown;
}

void glCacheDeleteWaitingObjects() {
    glCacheDeleteWaitingFirst();
    glCacheFollowDeletions();
}

void glCacheDeleteWaitingFirst() {
    // The deleted names may be bound here (a vertex array object too): nothing is known any more.
    if (platform::GLHome::deleteWaitingObjects()) glCacheForget();
}

void drawPrimitivesFree() {}
