#include "platform/GLCheck.h"

#include "platform/Log.h"

namespace platform {

namespace detail {
GLCallHook glCallHook = nullptr;
void* glCallHookUser = nullptr;
} // namespace detail

bool reportGLError(const char* where, int line) {
    GLenum error = glGetError();
    if (error == GL_NO_ERROR) return false;
    log(format("OpenGL error 0x%04X in %s %d", static_cast<unsigned>(error), where, line));
    return true;
}

void setGLCallHook(GLCallHook hook, void* user) {
    detail::glCallHook = hook;
    detail::glCallHookUser = user;
}

} // namespace platform
