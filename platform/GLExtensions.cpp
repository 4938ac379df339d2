#include "platform/GLExtensions.h"

#include <EGL/egl.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {

namespace {
GLExtensions& table() {
    static GLExtensions t;
    return t;
}
std::once_flag loadOnce;

template <class F> F load(const char* name) {
    return reinterpret_cast<F>(eglGetProcAddress(name));
}

int versionOf(const char* text) {
    // "OpenGL ES 3.2 Mesa ..." or "OpenGL ES 2.0 ...".
    const char* p = text ? std::strstr(text, "OpenGL ES ") : nullptr;
    return p ? std::atoi(p + 10) : 2;
}
} // namespace

bool extensionListHas(const std::string& list, const std::string& name) {
    if (name.empty()) return false;
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find(' ', start);
        if (end == std::string::npos) end = list.size();
        if (list.compare(start, end - start, name) == 0) return true;
        start = end + 1;
    }
    return false;
}

bool GLExtensions::has(const std::string& name) const {
    return extensionListHas(extensions, name);
}

void GLExtensions::resolveMultisampleFramebuffer(GLint width, GLint height) const {
    if (glBlitFramebuffer)
        glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
}

const GLExtensions& glExtensions() {
    return table();
}

void loadGLExtensions() {
    std::call_once(loadOnce, [] {
        GLExtensions& t = table();
        const GLubyte* ext = glGetString(GL_EXTENSIONS);
        t.extensions = ext ? reinterpret_cast<const char*>(ext) : "";
        t.majorVersion = versionOf(reinterpret_cast<const char*>(glGetString(GL_VERSION)));
        t.vertexArrayObject = t.has("GL_OES_vertex_array_object") || t.majorVersion >= 3;
        if (t.vertexArrayObject) {
            // ES 3 has the same entry points without the suffix.
            std::string suffix = t.has("GL_OES_vertex_array_object") ? "OES" : "";
            t.glGenVertexArraysOES =
                load<PFNGLGENVERTEXARRAYSOESPROC>(("glGenVertexArrays" + suffix).c_str());
            t.glBindVertexArrayOES =
                load<PFNGLBINDVERTEXARRAYOESPROC>(("glBindVertexArray" + suffix).c_str());
            t.glDeleteVertexArraysOES =
                load<PFNGLDELETEVERTEXARRAYSOESPROC>(("glDeleteVertexArrays" + suffix).c_str());
            t.glIsVertexArrayOES = load<PFNGLISVERTEXARRAYOESPROC>(("glIsVertexArray" + suffix).c_str());
        }
        t.mapBuffer = t.has("GL_OES_mapbuffer");
        if (t.mapBuffer) {
            t.glMapBufferOES = load<PFNGLMAPBUFFEROESPROC>("glMapBufferOES");
            t.glUnmapBufferOES = load<PFNGLUNMAPBUFFEROESPROC>("glUnmapBufferOES");
        }
        t.discardFramebuffer = t.has("GL_EXT_discard_framebuffer");
        if (t.discardFramebuffer)
            t.glDiscardFramebufferEXT = load<PFNGLDISCARDFRAMEBUFFEREXTPROC>("glDiscardFramebufferEXT");
        // The resolve is a blit between framebuffers of one size: core in ES 3, an extension
        // pair before it.
        if (t.majorVersion >= 3) {
            t.glRenderbufferStorageMultisample =
                load<decltype(t.glRenderbufferStorageMultisample)>("glRenderbufferStorageMultisample");
            t.glBlitFramebuffer = load<decltype(t.glBlitFramebuffer)>("glBlitFramebuffer");
        } else if (t.has("GL_ANGLE_framebuffer_multisample") && t.has("GL_ANGLE_framebuffer_blit")) {
            t.glRenderbufferStorageMultisample =
                load<decltype(t.glRenderbufferStorageMultisample)>("glRenderbufferStorageMultisampleANGLE");
            t.glBlitFramebuffer = load<decltype(t.glBlitFramebuffer)>("glBlitFramebufferANGLE");
        }
        t.multisample = t.glRenderbufferStorageMultisample && t.glBlitFramebuffer;
        t.packedDepthStencil = t.has("GL_OES_packed_depth_stencil") || t.majorVersion >= 3;
        t.depth24 = t.has("GL_OES_depth24") || t.majorVersion >= 3;
        t.loaded = true;
    });
}

} // namespace platform
