// GL entry points beyond OpenGL ES 2.0, loaded once through EGL, and what the context offers.
// Mesa hands out a pointer for any name, so whether a feature exists is decided by the
// extension string (and the version) alone; a missing feature leaves its pointers null.
#pragma once

#include <GLES2/gl2.h>
#include <GLES2/gl2ext.h>

#include <string>

namespace platform {

// Values of the multisample resolve that ES 2 headers lack (the same numbers in every family).
inline constexpr GLenum kGLMaxSamples = 0x8D57;
inline constexpr GLenum kGLReadFramebuffer = 0x8CA8;
inline constexpr GLenum kGLDrawFramebuffer = 0x8CA9;
inline constexpr GLenum kGLReadFramebufferBinding = 0x8CAA;
inline constexpr GLenum kGLDrawFramebufferBinding = 0x8CA6;
inline constexpr GLenum kGLRGBA8 = 0x8058;
inline constexpr GLenum kGLRGB565 = 0x8D62;
inline constexpr GLenum kGLDepthComponent24 = 0x81A6;
inline constexpr GLenum kGLDepth24Stencil8 = 0x88F0;

struct GLExtensions {
    bool loaded = false;
    int majorVersion = 2;   // of the context the table was filled from
    std::string extensions; // the extension string, as GL gave it

    bool vertexArrayObject = false;  // GL_OES_vertex_array_object
    bool mapBuffer = false;          // GL_OES_mapbuffer
    bool discardFramebuffer = false; // GL_EXT_discard_framebuffer
    bool multisample = false;        // multisample renderbuffers with a blit resolve
    bool packedDepthStencil = false; // GL_OES_packed_depth_stencil
    bool depth24 = false;            // GL_OES_depth24

    PFNGLGENVERTEXARRAYSOESPROC glGenVertexArraysOES = nullptr;
    PFNGLBINDVERTEXARRAYOESPROC glBindVertexArrayOES = nullptr;
    PFNGLDELETEVERTEXARRAYSOESPROC glDeleteVertexArraysOES = nullptr;
    PFNGLISVERTEXARRAYOESPROC glIsVertexArrayOES = nullptr;
    PFNGLMAPBUFFEROESPROC glMapBufferOES = nullptr;
    PFNGLUNMAPBUFFEROESPROC glUnmapBufferOES = nullptr;
    PFNGLDISCARDFRAMEBUFFEREXTPROC glDiscardFramebufferEXT = nullptr;
    void(GL_APIENTRYP glRenderbufferStorageMultisample)(GLenum target, GLsizei samples, GLenum format,
                                                        GLsizei width, GLsizei height) = nullptr;
    void(GL_APIENTRYP glBlitFramebuffer)(GLint srcX0, GLint srcY0, GLint srcX1, GLint srcY1, GLint dstX0,
                                         GLint dstY0, GLint dstX1, GLint dstY1, GLbitfield mask,
                                         GLenum filter) = nullptr;

    // Whether the extension string holds exactly this name.
    bool has(const std::string& name) const;
    // Copies the bound read framebuffer's colour onto the bound draw framebuffer, both of the
    // given size in pixels: the resolve of a multisample framebuffer.
    void resolveMultisampleFramebuffer(GLint width, GLint height) const;
};

// Whether a space-separated extension list holds exactly this name (a prefix is not a name).
bool extensionListHas(const std::string& list, const std::string& name);

// The table; filled the first time a context is made current, empty (all null) before.
const GLExtensions& glExtensions();
// Fills the table from the current context, once. GLContext calls it.
void loadGLExtensions();

} // namespace platform
