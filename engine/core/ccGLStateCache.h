// The GL state every draw goes through: program, blend pair, texture per unit, vertex
// attribute arrays and vertex array object. A request for the state already in force makes no
// GL call. The remembered state belongs to the calling thread's current context: when another
// context is current, everything is unknown again and the next request of each kind reaches GL.
// A texture or program another context of the group deleted is forgotten at the next check
// (glCacheFollowDeletions): each frame, and where this thread makes a texture or program.
#pragma once

#include "platform/GLContext.h"

#include <GLES2/gl2.h>

#include <cstdint>

// Vertex attribute flags for glCacheEnableVertexAttribs: the bit of each attribute slot.
enum : std::uint32_t {
    kCCVertexAttribFlag_None = 0,
    kCCVertexAttribFlag_Position = 1 << 0,  // attribute 0
    kCCVertexAttribFlag_Color = 1 << 1,     // attribute 1
    kCCVertexAttribFlag_TexCoords = 1 << 2, // attribute 2
    kCCVertexAttribFlag_PosColorTex =
        kCCVertexAttribFlag_Position | kCCVertexAttribFlag_Color | kCCVertexAttribFlag_TexCoords,
};

// Server-state flags a node hands to glCacheEnableServerState (none are defined).
using ccGLServerState = std::uint32_t;

// Texture units the cache tracks.
inline constexpr unsigned kCCMaxActiveTexture = 16;

void glCacheUseProgram(GLuint program);
// Forgets the program if it is the current one, then deletes it.
void glCacheDeleteProgram(GLuint program);
// The same for a program made elsewhere, deleted where it was made (see platform::GLHome).
void glCacheDeleteProgram(GLuint program, const platform::GLHome& home);
// The engine's one way to delete GL names, of any kind, made under `home`: the names waiting for
// the current context go first (glCacheDeleteWaitingFirst), and textures and programs among them
// are forgotten (see platform::GLHome::deleteObjects).
void glCacheDeleteObjects(platform::GLObjectKind kind, GLsizei count, const GLuint* names,
                          const platform::GLHome& home);
// (GL_ONE, GL_ZERO) turns blending off; any other pair turns it on with those factors for
// colour. Alpha composites as for a premultiplied source (GL_SRC_ALPHA counts as GL_ONE there),
// and blends that add light or tint (a destination factor of GL_ONE, a source factor of
// GL_DST_COLOR) keep the destination's alpha, so what a capture stores has the alpha the screen
// shows.
void glCacheBlendFunc(GLenum sfactor, GLenum dfactor);
// The same rule as glCacheBlendFunc, always applied and not remembered (after a render target
// changed the blend state behind the cache's back).
void glCacheBlendReset(GLenum sfactor, GLenum dfactor);
// unit is 0 to 15; a larger unit is a programmer error and throws.
void glCacheBindTexture2DOnUnit(GLuint unit, GLuint texture);
void glCacheBindTexture2D(GLuint texture);
// Forgets the texture on every unit that holds it, then deletes it.
void glCacheDeleteTexture(GLuint texture);
// The same for a texture made elsewhere, deleted where it was made (see platform::GLHome).
void glCacheDeleteTexture(GLuint texture, const platform::GLHome& home);
void glCacheBindVAO(GLuint vao);
// Flags of kCCVertexAttribFlag_*; unbinds a bound vertex array object first so its recorded
// state is not changed.
void glCacheEnableVertexAttribs(std::uint32_t flags);
// Call points kept for drawing code; they have no effect.
void glCacheEnableServerState(ccGLServerState flags);
void glCacheSetProjectionDirty();
// Everything but the vertex array object back to unknown.
void glCacheInvalidate();
// Everything back to unknown, as after a context switch: GL deleted objects behind its back.
void glCacheForget();
// Textures and programs back to unknown when the current context's group deleted any that this
// record did not see go: their names may come back for new objects. Called once a frame and
// where names are made, never per bind.
void glCacheFollowDeletions();
// A safe point of the calling thread (a frame, a present, a load): deletes the GL names waiting
// for its contexts (see platform::GLHome) and follows deletions made elsewhere.
void glCacheDeleteWaitingObjects();
// The safe point of a thread's own GL work, where the engine makes or deletes a GL object: the
// names waiting for the current context go first, so that a thread keeping its context current
// for good does not keep them for ever, and the record forgets what they may have held. One
// atomic read when nothing waits; the names it deletes go straight to GL, never back here.
void glCacheDeleteWaitingFirst();
// Frees the immediate-mode drawing program; nothing creates one, so nothing is freed.
void drawPrimitivesFree();
