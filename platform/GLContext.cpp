#define EGL_NO_X11 1
#include "platform/GLContext.h"

#include "platform/Drawable.h"
#include "platform/GLCheck.h"
#include "platform/GLExtensions.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <algorithm>
#include <atomic>
#include <utility>

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

bool ShareGroup::contains(void* context) const {
    std::lock_guard lock(mutex_);
    return std::find(members_.begin(), members_.end(), context) != members_.end();
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
    // The drawables keep their frames; the second buffers, copies and the framebuffer are this
    // context's to delete, in it. Where it cannot be made current, what it made goes with it or
    // its share group, and the drawables let go all the same.
    if (!drawables_.empty() || copyFramebuffer_) {
        bool reached = runCurrent(false, [this] {
            for (Presented& entry : drawables_)
                letGo(entry);
            if (copyFramebuffer_) glDeleteFramebuffers(1, &copyFramebuffer_);
        });
        if (!reached)
            for (Presented& entry : drawables_)
                if (entry.drawable->context_ == this) entry.drawable->detachStorage();
    }
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
    drawable->settleOrDropPresentedFrame();
    for (const Presented& entry : drawables_)
        if (entry.renderbuffer == static_cast<GLuint>(bound)) entry.drawable->settleOrDropPresentedFrame();
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
            twin = std::exchange(it->twin, 0); // kept, with whichever buffer is attached
            back = it->back;
        }
        letGo(*it);
        it = drawables_.erase(it);
    }
    if (!twin) glGenRenderbuffers(1, &twin);
    glBindRenderbuffer(GL_RENDERBUFFER, twin);
    glRenderbufferStorage(GL_RENDERBUFFER, drawable->storageFormat(), width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, name);
    drawables_.push_back({name, Ref<Drawable>(drawable), twin, back, 0});
    drawable->attachStorage(this, name, back, width, height);
    return true;
}

GLenum GLContext::drawTargetInto(const Presented& entry) const {
    bool split = glExtensions().majorVersion >= 3;
    GLenum target = split ? kGLDrawFramebuffer : GL_FRAMEBUFFER;
    GLint framebuffer = 0, type = 0, attached = 0;
    glGetIntegerv(split ? kGLDrawFramebufferBinding : GL_FRAMEBUFFER_BINDING, &framebuffer);
    if (!framebuffer || !entry.twin) return 0;
    glGetFramebufferAttachmentParameteriv(target, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE,
                                          &type);
    if (type != GL_RENDERBUFFER) return 0;
    glGetFramebufferAttachmentParameteriv(target, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME,
                                          &attached);
    return static_cast<GLuint>(attached) == entry.back ? target : 0;
}

void GLContext::swapBuffers(Presented& entry, GLenum target) {
    GLuint presented = entry.back;
    entry.back = presented == entry.renderbuffer ? entry.twin : entry.renderbuffer;
    glCheck(glFramebufferRenderbuffer(target, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, entry.back));
    if (!entry.drawable->drawableProperties().retainedBacking) return;
    // The next frame starts from this one.
    const GLExtensions& ext = glExtensions();
    GLint read = 0;
    glGetIntegerv(kGLReadFramebufferBinding, &read);
    bool scissor = glIsEnabled(GL_SCISSOR_TEST); // a blit is clipped by it
    if (scissor) glCheck(glDisable(GL_SCISSOR_TEST));
    if (!copyFramebuffer_) glCheck(glGenFramebuffers(1, &copyFramebuffer_));
    glCheck(glBindFramebuffer(kGLReadFramebuffer, copyFramebuffer_));
    glCheck(glFramebufferRenderbuffer(kGLReadFramebuffer, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, presented));
    GLsizei width = entry.drawable->storageWidth_, height = entry.drawable->storageHeight_;
    glCheck(ext.glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST));
    glCheck(glBindFramebuffer(kGLReadFramebuffer, static_cast<GLuint>(read)));
    if (scissor) glCheck(glEnable(GL_SCISSOR_TEST));
}

void GLContext::copyAside(Presented& entry) {
    const Drawable& drawable = *entry.drawable;
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    if (!entry.aside) {
        glCheck(glGenTextures(1, &entry.aside));
        glCheck(glBindTexture(GL_TEXTURE_2D, entry.aside));
        // The colour buffer's own format, so that the copy converts nothing.
        bool rgb565 = drawable.storageFormat() == kGLRGB565;
        GLenum format = rgb565 ? GL_RGB : GL_RGBA;
        glCheck(glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), drawable.storageWidth_,
                             drawable.storageHeight_, 0, format,
                             rgb565 ? GL_UNSIGNED_SHORT_5_6_5 : GL_UNSIGNED_BYTE, nullptr));
    } else {
        glCheck(glBindTexture(GL_TEXTURE_2D, entry.aside));
    }
    glCheck(
        glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, drawable.storageWidth_, drawable.storageHeight_));
    glCheck(glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous)));
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
        GLuint front = entry.back;
        GLenum kind = GL_RENDERBUFFER;
        bool drawnOver = true;
        if (GLenum target = drawTargetInto(entry)) {
            // A retained backing alternates only where the frame can be copied forward on the
            // GL's side (a blit); elsewhere the next frame is drawn over this one, which a
            // kept frame is copied away from first.
            const GLExtensions& ext = glExtensions();
            if (!keep->drawableProperties().retainedBacking ||
                (ext.majorVersion >= 3 && ext.glBlitFramebuffer)) {
                swapBuffers(entry, target);
                drawnOver = false;
            } else if (keep->keepsPresentedFrame()) {
                copyAside(entry);
                front = entry.aside;
                kind = GL_TEXTURE_2D;
                drawnOver = false;
            }
        }
        // Starts the GL on the frame while the caller goes on to the next one.
        glCheck(glFlush());
        keep->present(front, kind, drawnOver);
        return true;
    }
    return false;
}

void GLContext::releaseRenderbuffer(GLuint renderbuffer) {
    for (auto it = drawables_.begin(); it != drawables_.end(); ++it) {
        if (it->renderbuffer != renderbuffer) continue;
        Presented entry = std::move(*it);
        drawables_.erase(it);
        if (!runInShareGroup([&] { letGo(entry); }) && entry.drawable->context_ == this)
            entry.drawable->detachStorage();
        return;
    }
}

void GLContext::letGo(Presented& entry) {
    Drawable& drawable = *entry.drawable;
    if (drawable.context_ == this && drawable.renderbuffer_ == entry.renderbuffer) drawable.detachStorage();
    if (entry.twin) glDeleteRenderbuffers(1, &entry.twin);
    if (entry.aside) glDeleteTextures(1, &entry.aside);
    entry.twin = entry.aside = 0;
}

bool GLContext::runCurrent(bool anyOfGroup, const std::function<void()>& work) const {
    EGLDisplay display = eglDisplay();
    EGLContext previous = eglGetCurrentContext();
    if (previous == context_ ||
        (anyOfGroup && previous != EGL_NO_CONTEXT && sharegroup_->contains(previous))) {
        work();
        return true;
    }
    EGLSurface draw = eglGetCurrentSurface(EGL_DRAW), read = eglGetCurrentSurface(EGL_READ);
    if (!display || !context_ || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context_))
        return false;
    work();
    eglMakeCurrent(display, draw, read, previous);
    return true;
}

} // namespace platform
