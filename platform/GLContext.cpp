#define EGL_NO_X11 1
#include "platform/GLContext.h"

#include "platform/Drawable.h"
#include "platform/GLCheck.h"
#include "platform/GLExtensions.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <algorithm>
#include <atomic>

namespace platform {

namespace {

EGLDisplay openDisplay() {
    EGLDisplay display = EGL_NO_DISPLAY;
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    bool surfaceless =
        clientExtensions &&
        std::string(clientExtensions).find("EGL_MESA_platform_surfaceless") != std::string::npos;
    if (getPlatformDisplay && surfaceless)
        display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0, minor = 0;
    if (display != EGL_NO_DISPLAY && eglInitialize(display, &major, &minor)) return display;
    display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, &major, &minor)) return display;
    return EGL_NO_DISPLAY;
}

// Picks a config only where the display cannot make contexts without one.
EGLConfig chooseConfig(EGLDisplay display) {
    std::string extensions = eglQueryString(display, EGL_EXTENSIONS);
    if (extensions.find("EGL_KHR_no_config_context") != std::string::npos) return EGL_NO_CONFIG_KHR;
    const EGLint attributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_ES2_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                 EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display, attributes, &config, 1, &count) || count < 1) return nullptr;
    return config;
}

std::atomic<std::uint64_t> nextSerial{1};

// The calling thread's current context, kept alive while current; EGL lets go of it when the
// thread ends.
struct CurrentHolder {
    Ref<GLContext> context;
    ~CurrentHolder() {
        if (context && eglDisplay())
            eglMakeCurrent(eglDisplay(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
};
thread_local CurrentHolder current;
thread_local std::uint64_t currentSerialValue = 0;

} // namespace

void* eglDisplay() {
    static EGLDisplay display = openDisplay();
    return display;
}

std::size_t ShareGroup::contextCount() const {
    std::lock_guard lock(mutex_);
    return members_.size();
}

void* ShareGroup::anyMember() const {
    std::lock_guard lock(mutex_);
    return members_.empty() ? nullptr : members_.front();
}

void ShareGroup::add(void* context) {
    std::lock_guard lock(mutex_);
    members_.push_back(context);
}

void ShareGroup::remove(void* context) {
    std::lock_guard lock(mutex_);
    members_.erase(std::remove(members_.begin(), members_.end(), context), members_.end());
}

GLContext::~GLContext() {
    if (!context_) return;
    deleteTwins();
    sharegroup_->remove(context_);
    // EGL defers the destruction while another thread still has the context current.
    eglDestroyContext(eglDisplay(), context_);
}

bool GLContext::initWithAPI(GLRenderingAPI api, ShareGroup* sharegroup) {
    EGLDisplay display = eglDisplay();
    if (!display || context_) return false;
    if (!eglBindAPI(EGL_OPENGL_ES_API)) return false;
    EGLConfig config = chooseConfig(display);
    EGLContext share = sharegroup ? sharegroup->anyMember() : EGL_NO_CONTEXT;
    if (sharegroup && !share) return false; // a group whose contexts are all gone cannot be joined
    const EGLint attributes[] = {EGL_CONTEXT_CLIENT_VERSION, std::max(2, static_cast<int>(api)), EGL_NONE};
    EGLContext context = eglCreateContext(display, config, share ? share : EGL_NO_CONTEXT, attributes);
    if (context == EGL_NO_CONTEXT) return false;
    context_ = context;
    api_ = api;
    sharegroup_ = sharegroup ? Ref<ShareGroup>(sharegroup) : make<ShareGroup>();
    sharegroup_->add(context_);
    serial_ = nextSerial.fetch_add(1);
    return true;
}

Ref<GLContext> GLContext::contextWithAPI(GLRenderingAPI api, ShareGroup* sharegroup) {
    auto context = make<GLContext>();
    return context->initWithAPI(api, sharegroup) ? context : nullptr;
}

bool GLContext::setCurrentContext(GLContext* context) {
    EGLDisplay display = eglDisplay();
    if (!display) return context == nullptr;
    if (context && !context->context_) return false;
    EGLContext egl = context ? context->context_ : EGL_NO_CONTEXT;
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, egl)) return false;
    current.context = context; // may release the previous context, now no longer current
    currentSerialValue = context ? context->serial_ : 0;
    if (context) loadGLExtensions();
    return true;
}

GLContext* GLContext::currentContext() {
    return current.context.get();
}

std::uint64_t GLContext::currentSerial() {
    return currentSerialValue;
}

bool GLContext::renderbufferStorage(GLenum target, Drawable* drawable) {
    if (!drawable || currentContext() != this) return false;
    GLint bound = 0;
    glGetIntegerv(GL_RENDERBUFFER_BINDING, &bound);
    GLsizei width = drawable->pixelsWide(), height = drawable->pixelsHigh();
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSize);
    if (!bound || width <= 0 || height <= 0 || width > maxSize || height > maxSize) return false;
    // A kept frame not yet read back is read before its buffer changes.
    drawable->settlePresentedFrame();
    for (const Presented& entry : drawables_)
        if (entry.renderbuffer == static_cast<GLuint>(bound)) entry.drawable->settlePresentedFrame();
    glRenderbufferStorage(target, drawable->storageFormat(), width, height);
    // Read the size back rather than the error flag, which stays for the caller to report.
    GLint gotWidth = 0, gotHeight = 0;
    glGetRenderbufferParameteriv(target, GL_RENDERBUFFER_WIDTH, &gotWidth);
    glGetRenderbufferParameteriv(target, GL_RENDERBUFFER_HEIGHT, &gotHeight);
    if (gotWidth != width || gotHeight != height) return false;
    GLuint name = static_cast<GLuint>(bound);
    GLuint twin = 0, back = name;
    for (auto it = drawables_.begin(); it != drawables_.end();) {
        if (it->renderbuffer != name && it->drawable.get() != drawable) {
            ++it;
            continue;
        }
        if (it->renderbuffer == name) {
            twin = it->twin; // kept, with whichever buffer is attached
            back = it->back;
        } else if (it->twin) {
            glDeleteRenderbuffers(1, &it->twin);
        }
        it = drawables_.erase(it);
    }
    if (!twin) glGenRenderbuffers(1, &twin);
    glBindRenderbuffer(GL_RENDERBUFFER, twin);
    glRenderbufferStorage(GL_RENDERBUFFER, drawable->storageFormat(), width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, name);
    drawables_.push_back({name, Ref<Drawable>(drawable), twin, back});
    drawable->attachStorage(name, width, height);
    return true;
}

bool GLContext::swapBuffers(Presented& entry) {
    bool split = glExtensions().majorVersion >= 3;
    GLenum target = split ? kGLDrawFramebuffer : GL_FRAMEBUFFER;
    GLint framebuffer = 0, type = 0, attached = 0;
    glGetIntegerv(split ? kGLDrawFramebufferBinding : GL_FRAMEBUFFER_BINDING, &framebuffer);
    if (!framebuffer || !entry.twin) return false;
    glGetFramebufferAttachmentParameteriv(target, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE,
                                          &type);
    glGetFramebufferAttachmentParameteriv(target, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME,
                                          &attached);
    if (type != GL_RENDERBUFFER || static_cast<GLuint>(attached) != entry.back) return false;
    GLuint presented = entry.back;
    entry.back = presented == entry.renderbuffer ? entry.twin : entry.renderbuffer;
    glCheck(glFramebufferRenderbuffer(target, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, entry.back));
    const GLExtensions& ext = glExtensions();
    if (entry.drawable->drawableProperties().retainedBacking && split && ext.glBlitFramebuffer) {
        // The next frame starts from this one.
        GLint read = 0;
        glGetIntegerv(kGLReadFramebufferBinding, &read);
        bool scissor = glIsEnabled(GL_SCISSOR_TEST); // a blit is clipped by it
        if (scissor) glCheck(glDisable(GL_SCISSOR_TEST));
        if (!copyFramebuffer_) glCheck(glGenFramebuffers(1, &copyFramebuffer_));
        glCheck(glBindFramebuffer(kGLReadFramebuffer, copyFramebuffer_));
        glCheck(
            glFramebufferRenderbuffer(kGLReadFramebuffer, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, presented));
        GLsizei width = entry.drawable->storageWidth_, height = entry.drawable->storageHeight_;
        glCheck(
            ext.glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST));
        glCheck(glBindFramebuffer(kGLReadFramebuffer, static_cast<GLuint>(read)));
        if (scissor) glCheck(glEnable(GL_SCISSOR_TEST));
    }
    return true;
}

bool GLContext::presentRenderbuffer(GLenum) {
    if (currentContext() != this) return false;
    GLint bound = 0;
    glGetIntegerv(GL_RENDERBUFFER_BINDING, &bound);
    for (Presented& entry : drawables_) {
        if (entry.renderbuffer != static_cast<GLuint>(bound) ||
            entry.drawable->renderbuffer() != entry.renderbuffer)
            continue;
        Ref<Drawable> keep = entry.drawable; // the observer may make another storage
        GLuint presented = entry.back;
        bool swapped = swapBuffers(entry);
        // Starts the GL on the frame while the caller goes on to the next one.
        glCheck(glFlush());
        keep->present(swapped ? presented : 0);
        return true;
    }
    return false;
}

void GLContext::deleteTwins() {
    bool any = copyFramebuffer_ != 0;
    for (const Presented& entry : drawables_)
        any = any || entry.twin;
    if (!any) return;
    // The twins and the framebuffer are this context's to delete: do it in it, then put back
    // whatever the thread had current. A context current on another thread cannot be reached;
    // what it made goes with it or its share group.
    EGLDisplay display = eglDisplay();
    EGLContext previous = eglGetCurrentContext();
    if (previous != context_ && !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context_)) return;
    for (const Presented& entry : drawables_) {
        entry.drawable->settlePresentedFrame();
        if (entry.twin) glDeleteRenderbuffers(1, &entry.twin);
    }
    if (copyFramebuffer_) glDeleteFramebuffers(1, &copyFramebuffer_);
    if (previous != context_) eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, previous);
}

} // namespace platform
