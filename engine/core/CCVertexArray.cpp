#include "core/CCVertexArray.h"

#include "core/CCConfiguration.h"
#include "platform/GLCheck.h"
#include "platform/GLExtensions.h"

bool CCVertexArray::create() {
    release();
    platform::GLContext* current = platform::GLContext::currentContext();
    const platform::GLExtensions& ext = platform::glExtensions();
    if (!current || !ext.vertexArrayObject || !ext.glGenVertexArraysOES) return false;
    ext.glGenVertexArraysOES(1, &_name);
    CHECK_GL_ERROR_DEBUG();
    if (!_name) return false;
    _context = current;
    _shareable = CCConfiguration::sharedConfiguration()->supportsShareableVAO();
    glCacheBindVAO(_name);
    return true;
}

void CCVertexArray::release() {
    if (!_name) return;
    GLuint name = _name;
    platform::Ref<platform::GLContext> owner = std::move(_context);
    _name = 0;
    platform::Ref<platform::GLContext> previous = platform::GLContext::currentContext();
    bool here = _shareable ? previous != nullptr : previous.get() == owner.get();
    if (!here && !platform::GLContext::setCurrentContext(owner.get())) return;
    // The state cache must not keep a name GL may hand out again.
    glCacheBindVAO(0);
    const platform::GLExtensions& ext = platform::glExtensions();
    if (ext.glDeleteVertexArraysOES) glCheck(ext.glDeleteVertexArraysOES(1, &name));
    if (!here) platform::GLContext::setCurrentContext(previous.get());
}
