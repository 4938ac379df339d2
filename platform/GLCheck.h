// Checked GL calls: every wrapped call can be counted by a hook (tests assert how many calls
// of a kind a draw made), and in debug builds a pending GL error is reported with the file and
// line of the call.
#pragma once

#include <GLES2/gl2.h>

namespace platform {

// Reports the pending GL error, if any, as "OpenGL error 0x%04X in %s %d"; answers whether
// there was one.
bool reportGLError(const char* where, int line);

// Called with the text of every call made through glCheck; null (the default) turns counting
// off. Set it from one thread while no other thread draws.
using GLCallHook = void (*)(const char* call, void* user);
void setGLCallHook(GLCallHook hook, void* user);

namespace detail {
extern GLCallHook glCallHook;
extern void* glCallHookUser;
inline void noteGLCall(const char* call) {
    if (glCallHook) glCallHook(call, glCallHookUser);
}
} // namespace detail

} // namespace platform

#ifndef NDEBUG
#define CHECK_GL_ERROR_DEBUG() ((void)::platform::reportGLError(__FILE__, __LINE__))
#else
#define CHECK_GL_ERROR_DEBUG() ((void)0)
#endif

// Wraps one GL statement: counted, then checked in debug builds. Calls whose result is needed
// are made directly and followed by CHECK_GL_ERROR_DEBUG().
#define glCheck(call)                                                                                        \
    do {                                                                                                     \
        ::platform::detail::noteGLCall(#call);                                                               \
        call;                                                                                                \
        CHECK_GL_ERROR_DEBUG();                                                                              \
    } while (0)
