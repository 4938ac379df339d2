#include "core/CCVertexArray.h"

#include "core/CCConfiguration.h"
#include "platform/GLCheck.h"
#include "platform/GLExtensions.h"

bool CCVertexArray::create() {
    release();
    platform::GLContext* current = platform::GLContext::currentContext();
    const platform::GLExtensions& ext = platform::glExtensions();
    if (!current || !ext.vertexArrayObject || !ext.glGenVertexArraysOES) return false;
    glCacheDeleteWaitingFirst();
    ext.glGenVertexArraysOES(1, &_name);
    CHECK_GL_ERROR_DEBUG();
    if (!_name) return false;
    _home = platform::GLHome::current();
    _shareable = CCConfiguration::sharedConfiguration()->supportsShareableVAO();
    glCacheBindVAO(_name);
    return true;
}

void CCVertexArray::release() {
    if (!_name) return;
    // The state cache must not keep a name GL may hand out again.
    if (platform::GLContext::currentSerial() == _home.contextSerial()) glCacheBindVAO(0);
    glCacheDeleteObjects(platform::GLObjectKind::VertexArray, 1, &_name, _home);
    _name = 0;
    _home = {};
}
