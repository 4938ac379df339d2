// A vertex array object and the context it belongs to. A share group shares buffers but not
// array objects, so in any other context of the group the owner sets its attributes up without
// one, unless the GL reports shareable array objects.
#pragma once

#include "core/ccGLStateCache.h"
#include "platform/GLContext.h"

#include <GLES2/gl2.h>

#include <cstdint>

class CCVertexArray {
public:
    CCVertexArray() = default;
    ~CCVertexArray() { release(); }
    CCVertexArray(const CCVertexArray&) = delete;
    CCVertexArray& operator=(const CCVertexArray&) = delete;

    // Makes an array object in the current context and binds it through the state cache, ready
    // to record the attribute set-up; false (nothing bound) where the GL has none.
    bool create();
    // Binds it through the state cache where it serves the current context; false, binding
    // nothing, where the caller must set the attributes up itself.
    bool bind() const {
        if (!_name || (!_shareable && platform::GLContext::currentSerial() != _home.contextSerial()))
            return false;
        glCacheBindVAO(_name);
        return true;
    }
    // Deletes it in its own context (see platform::GLHome).
    void release();
    // 0 for none.
    GLuint name() const { return _name; }

private:
    GLuint _name = 0;
    bool _shareable = false;
    // Kept so that the name is deleted where it means this array object and nothing else.
    platform::GLHome _home;
};
