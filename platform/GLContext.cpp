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
thread_local const std::atomic<std::uint64_t>* currentDeletions = nullptr;

// Deletes of these kinds are counted for the GL state caches, which remember their names.
bool countsDeletion(GLObjectKind kind) {
    return kind == GLObjectKind::Texture || kind == GLObjectKind::Program;
}

// Framebuffers and vertex arrays belong to the context they were made in alone.
bool ownContextOnly(GLObjectKind kind) {
    return kind == GLObjectKind::Framebuffer || kind == GLObjectKind::VertexArray;
}

} // namespace

void* eglDisplay() {
    static EGLDisplay display = openDisplay();
    return display;
}

std::size_t ShareGroup::contextCount() const {
    std::lock_guard lock(mutex_);
    return members_.size();
}

void* ShareGroup::anyMember(std::uint64_t& serial) const {
    std::lock_guard lock(mutex_);
    if (members_.empty()) return nullptr;
    serial = members_.front().owner->serial_;
    return members_.front().context;
}

bool ShareGroup::contains(void* context) const {
    std::lock_guard lock(mutex_);
    return std::any_of(members_.begin(), members_.end(),
                       [&](const Member& m) { return m.context == context; });
}

bool ShareGroup::addSharing(const GLContext* context, std::uint64_t sharedWith) {
    std::lock_guard lock(mutex_);
    if (sharedWith && std::none_of(members_.begin(), members_.end(),
                                   [&](const Member& m) { return m.owner->serial_ == sharedWith; }))
        return false;
    if (context->context_) members_.push_back({context->context_, context});
    return true;
}

void ShareGroup::remove(const GLContext* context) {
    std::lock_guard lock(mutex_);
    std::erase_if(members_, [&](const Member& m) { return m.owner == context; });
    // A program waiting for the context it was made in goes in any other now.
    for (Waiting& w : waiting_)
        if (w.context == context->serial_ && !ownContextOnly(w.kind)) w.context = 0;
    std::erase_if(waiting_, [&](const Waiting& w) { return w.context == context->serial_ || members_.empty(); });
    anyWaiting_ = !waiting_.empty();
}

std::uint64_t ShareGroup::deleteNames(GLObjectKind kind, GLsizei count, const GLuint* names) {
    const GLExtensions& ext = glExtensions();
    // Counted before GL deletes them, for the state caches (see GLContext::currentGroupDeletions).
    const std::uint64_t deletions = countsDeletion(kind) ? deletions_.fetch_add(1) + 1 : 0;
    switch (kind) {
    case GLObjectKind::Texture:
        glCheck(glDeleteTextures(count, names));
        break;
    case GLObjectKind::Buffer:
        glCheck(glDeleteBuffers(count, names));
        break;
    case GLObjectKind::Renderbuffer:
        glCheck(glDeleteRenderbuffers(count, names));
        break;
    case GLObjectKind::Framebuffer:
        glCheck(glDeleteFramebuffers(count, names));
        break;
    case GLObjectKind::VertexArray:
        if (ext.glDeleteVertexArraysOES) glCheck(ext.glDeleteVertexArraysOES(count, names));
        break;
    case GLObjectKind::Program:
        for (GLsizei i = 0; i < count; ++i)
            if (names[i]) glCheck(glDeleteProgram(names[i]));
        // The other contexts that drew with them refresh (see GLContext::refreshPrograms).
        ++programsDeleted_;
        break;
    case GLObjectKind::Shader:
        for (GLsizei i = 0; i < count; ++i)
            if (names[i]) glCheck(glDeleteShader(names[i]));
        break;
    }
    return deletions;
}

void ShareGroup::post(GLObjectKind kind, std::uint64_t home, GLsizei count, const GLuint* names) {
    std::lock_guard lock(mutex_);
    bool homeLives =
        std::any_of(members_.begin(), members_.end(), [&](const Member& m) { return m.owner->serial_ == home; });
    bool ownOnly = ownContextOnly(kind);
    // Gone with the group, or with the own context.
    if (members_.empty() || (ownOnly && !homeLives)) return;
    // Programs too go in the context they were made in while it lives: llvmpipe has crashed in
    // the next draw of a context whose program was deleted under another.
    bool inHome = homeLives && (ownOnly || kind == GLObjectKind::Program);
    for (GLsizei i = 0; i < count; ++i)
        if (names[i]) waiting_.push_back({kind, inHome ? home : 0, names[i]});
    anyWaiting_ = !waiting_.empty();
}

bool ShareGroup::deleteWaiting(const GLContext& current) {
    if (!anyWaiting_) return false;
    std::lock_guard lock(mutex_);
    std::vector<GLuint> names;
    bool any = false;
    // Kind by kind, in one call each.
    for (GLObjectKind kind : {GLObjectKind::Texture, GLObjectKind::Buffer, GLObjectKind::Renderbuffer,
                              GLObjectKind::Program, GLObjectKind::Shader, GLObjectKind::Framebuffer,
                              GLObjectKind::VertexArray}) {
        names.clear();
        std::erase_if(waiting_, [&](const Waiting& w) {
            if (w.kind != kind || (w.context != 0 && w.context != current.serial_)) return false;
            names.push_back(w.name);
            return true;
        });
        if (names.empty()) continue;
        deleteNames(kind, static_cast<GLsizei>(names.size()), names.data());
        any = true;
    }
    anyWaiting_ = !waiting_.empty();
    return any;
}

GLHome GLHome::current() {
    GLHome home;
    if (GLContext* context = GLContext::currentContext()) {
        home.group_ = context->sharegroup();
        home.context_ = context->serial();
    }
    return home;
}

std::uint64_t GLHome::deleteObjects(GLObjectKind kind, GLsizei count, const GLuint* names) const {
    if (!group_ || count <= 0 || !names) return 0;
    if (std::all_of(names, names + count, [](GLuint name) { return name == 0; })) return 0;
    GLContext* current = GLContext::currentContext();
    if (!current || current->sharegroup() != group_.get() ||
        (ownContextOnly(kind) && current->serial() != context_)) {
        group_->post(kind, context_, count, names);
        return 0;
    }
    return group_->deleteNames(kind, count, names);
}

bool GLHome::deleteWaitingObjects() {
    GLContext* current = GLContext::currentContext();
    return current && current->sharegroup_->deleteWaiting(*current);
}

GLContext::~GLContext() {
    if (!context_) return;
    // The drawables keep their frames; the second buffers, the framebuffer and the program are
    // this context's to delete, in it. Where it cannot be made current, what it made goes with it or
    // its share group, and the drawables let go all the same.
    if (!drawables_.empty() || copyFramebuffer_ || textureProgram_ || refreshPrograms_[0]) {
        bool reached = runCurrent(false, [this] {
            for (Presented& entry : drawables_)
                letGo(entry);
            if (copyFramebuffer_) glDeleteFramebuffers(1, &copyFramebuffer_);
            if (textureProgram_) glDeleteProgram(textureProgram_);
            if (textureQuad_) glDeleteBuffers(1, &textureQuad_);
            for (GLuint program : refreshPrograms_)
                if (program) glDeleteProgram(program);
            if (refreshFramebuffer_) glDeleteFramebuffers(1, &refreshFramebuffer_);
            if (refreshRenderbuffer_) glDeleteRenderbuffers(1, &refreshRenderbuffer_);
        });
        if (!reached)
            for (Presented& entry : drawables_)
                if (entry.drawable->context_ == this) entry.drawable->detachStorage();
    }
    sharegroup_->remove(this);
    // EGL defers the destruction while another thread still has the context current.
    eglDestroyContext(eglDisplay(), context_);
}

bool GLContext::initWithAPI(GLRenderingAPI api, ShareGroup* sharegroup) {
    EGLDisplay display = eglDisplay();
    if (!display || context_) return false;
    if (!eglBindAPI(EGL_OPENGL_ES_API)) return false;
    EGLConfig config = chooseConfig(display);
    const EGLint attributes[] = {EGL_CONTEXT_CLIENT_VERSION, std::max(2, static_cast<int>(api)), EGL_NONE};
    // Held from here: the group's last context may go on another thread while EGL works, and the
    // group with it.
    Ref<ShareGroup> group = sharegroup ? Ref<ShareGroup>(sharegroup) : make<ShareGroup>();
    serial_ = nextSerial.fetch_add(1);
    for (;;) {
        std::uint64_t sharedWith = 0;
        EGLContext share = sharegroup ? group->anyMember(sharedWith) : EGL_NO_CONTEXT;
        if (sharegroup && !share) return false; // a group whose contexts are all gone cannot be joined
        context_ = eglCreateContext(display, config, share, attributes);
        if (group->addSharing(this, sharedWith)) break;
        // The context shared with went meanwhile: another member is tried.
        if (context_) eglDestroyContext(display, std::exchange(context_, nullptr));
    }
    if (!context_) return false;
    api_ = api;
    sharegroup_ = std::move(group);
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
    if (GLContext* previous = current.context.get();
        previous && eglGetCurrentContext() == previous->context_) {
        previous->carryAll();
        previous->frameBegun_ = false;
        // Handing its context back is a safe point of the thread that held it: what waits for
        // it goes now, so that a view no longer drawn keeps nothing.
        if (previous->context_ != egl) previous->sharegroup_->deleteWaiting(*previous);
    }
    bool anew = egl != eglGetCurrentContext();
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, egl)) return false;
    current.context = context; // may release the previous context, now no longer current
    currentSerialValue = context ? context->serial_ : 0;
    currentDeletions = context ? &context->sharegroup_->deletions_ : nullptr;
    if (context) loadGLExtensions();
    if (context && anew) {
        // Taking a context up is a safe point of the thread that will work with it.
        context->sharegroup_->deleteWaiting(*context);
        context->madeCurrent();
    }
    return true;
}

void GLContext::madeCurrent() {
    ShareGroup& group = *sharegroup_;
    std::uint64_t turn = group.madeCurrent_.fetch_add(1) + 1;
    std::uint64_t last = std::exchange(seenMadeCurrent_, turn);
    // Nothing was drawn with it before its first turn.
    if (last == 0) {
        seenProgramsDeleted_ = group.programsDeleted_;
        return;
    }
    if (turn != last + 1 || group.programsDeleted_ != seenProgramsDeleted_) refreshPrograms();
}

GLContext* GLContext::currentContext() {
    return current.context.get();
}

std::uint64_t GLContext::currentSerial() {
    return currentSerialValue;
}

std::uint64_t GLContext::currentGroupDeletions() {
    return currentDeletions ? currentDeletions->load() : 0;
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
    Presented entry{name, Ref<Drawable>(drawable)};
    entry.back = name;
    for (auto it = drawables_.begin(); it != drawables_.end();) {
        if (it->renderbuffer != name && it->drawable.get() != drawable) {
            ++it;
            continue;
        }
        if (it->renderbuffer == name) {
            // Kept, with whichever buffer is attached.
            entry.twin = std::exchange(it->twin, 0);
            for (int i = 0; i < 2; ++i)
                entry.textures[i] = std::exchange(it->textures[i], 0);
            entry.back = it->back;
            entry.backKind = it->backKind;
        }
        letGo(*it);
        it = drawables_.erase(it);
    }
    // The framebuffer drawing into the drawable moves to the buffers of its backing.
    GLenum drawTarget = drawTargetInto(entry);
    if (drawable->drawableProperties().retainedBacking) {
        GLint previous = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
        if (!entry.textures[0]) glGenTextures(2, entry.textures);
        // The colour buffer's own format, so that nothing converts; sized where ES 3 takes it,
        // for a multisample resolve, which wants the very format, into it.
        bool rgb565 = drawable->storageFormat() == kGLRGB565;
        GLenum format = rgb565 ? GL_RGB : GL_RGBA;
        GLenum internal = glExtensions().majorVersion >= 3 ? drawable->storageFormat() : format;
        for (GLuint texture : entry.textures) {
            glBindTexture(GL_TEXTURE_2D, texture);
            glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(internal), width, height, 0, format,
                         rgb565 ? GL_UNSIGNED_SHORT_5_6_5 : GL_UNSIGNED_BYTE, nullptr);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        }
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
        if (entry.backKind == GL_RENDERBUFFER) {
            if (drawTarget)
                attachBack(entry, drawTarget, entry.textures[0], GL_TEXTURE_2D);
            else
                entry.back = name; // copied into a texture at its first present
        }
        if (entry.twin) glDeleteRenderbuffers(1, &entry.twin);
        entry.twin = 0;
    } else {
        if (entry.backKind == GL_TEXTURE_2D) {
            if (drawTarget) attachBack(entry, drawTarget, name, GL_RENDERBUFFER);
            entry.back = name;
            entry.backKind = GL_RENDERBUFFER;
        }
        if (entry.textures[0]) glDeleteTextures(2, entry.textures);
        entry.textures[0] = entry.textures[1] = 0;
        if (!entry.twin) glGenRenderbuffers(1, &entry.twin);
        glBindRenderbuffer(GL_RENDERBUFFER, entry.twin);
        glRenderbufferStorage(GL_RENDERBUFFER, drawable->storageFormat(), width, height);
        glBindRenderbuffer(GL_RENDERBUFFER, name);
    }
    drawables_.push_back(entry);
    drawable->attachStorage(this, name, entry.back, entry.backKind, width, height);
    return true;
}

namespace {

// The target draw framebuffers bind to (ES 3 keeps it apart from the read one).
GLenum drawFramebufferTarget() {
    return glExtensions().majorVersion >= 3 ? kGLDrawFramebuffer : GL_FRAMEBUFFER;
}

GLuint boundDrawFramebuffer() {
    GLint framebuffer = 0;
    glGetIntegerv(glExtensions().majorVersion >= 3 ? kGLDrawFramebufferBinding : GL_FRAMEBUFFER_BINDING,
                  &framebuffer);
    return static_cast<GLuint>(framebuffer);
}

constexpr GLenum kGLRasterizerDiscard = 0x8C89; // ES 3

// Whether a glClear of the colour buffer now writes every pixel of it.
bool clearCoversColour() {
    GLboolean mask[4] = {};
    glGetBooleanv(GL_COLOR_WRITEMASK, mask);
    return !glIsEnabled(GL_SCISSOR_TEST) && mask[0] && mask[1] && mask[2] && mask[3] &&
           (glExtensions().majorVersion < 3 || !glIsEnabled(kGLRasterizerDiscard));
}

} // namespace

GLenum GLContext::drawTargetInto(const Presented& entry) const {
    GLenum target = drawFramebufferTarget();
    GLint type = 0, attached = 0;
    if (!boundDrawFramebuffer() || !entry.back) return 0;
    glGetFramebufferAttachmentParameteriv(target, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE,
                                          &type);
    if (type != (entry.backKind == GL_TEXTURE_2D ? GL_TEXTURE : GL_RENDERBUFFER)) return 0;
    glGetFramebufferAttachmentParameteriv(target, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME,
                                          &attached);
    return static_cast<GLuint>(attached) == entry.back ? target : 0;
}

void GLContext::attachBack(Presented& entry, GLenum target, GLuint name, GLenum kind) {
    if (kind == GL_TEXTURE_2D)
        glCheck(glFramebufferTexture2D(target, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, name, 0));
    else
        glCheck(glFramebufferRenderbuffer(target, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, name));
    entry.back = name;
    entry.backKind = kind;
}

void GLContext::swapBuffers(Presented& entry, GLenum target, bool later) {
    GLuint presented = entry.back;
    if (!entry.textures[0]) {
        attachBack(entry, target, presented == entry.renderbuffer ? entry.twin : entry.renderbuffer,
                   GL_RENDERBUFFER);
        return;
    }
    // A retained backing: the next frame starts from this one, drawn on the GL's side, which
    // the GL may queue behind the frame; a copy has it finish the frame first. llvmpipe
    // finishes it before the draw too, so where the caller begins its frames the draw waits for
    // the next frame's start, the GL rasterising while the caller works.
    GLsizei width = entry.drawable->storageWidth_, height = entry.drawable->storageHeight_;
    if (entry.backKind == GL_RENDERBUFFER) {
        // Still the renderbuffer (another framebuffer drew into it when it got its storage):
        // copied, once.
        copyRenderbuffer(presented, entry.textures[0], width, height);
        attachBack(entry, target, entry.textures[0], GL_TEXTURE_2D);
        return;
    }
    attachBack(entry, target, presented == entry.textures[0] ? entry.textures[1] : entry.textures[0],
               GL_TEXTURE_2D);
    entry.carryFrom = presented;
    entry.carryFramebuffer = boundDrawFramebuffer();
    if (!later) carry(entry);
}

void GLContext::carry(Presented& entry) {
    GLuint from = std::exchange(entry.carryFrom, 0);
    if (!from) return;
    GLuint bound = boundDrawFramebuffer();
    bool rebind = bound != entry.carryFramebuffer;
    // The framebuffer may have gone with its renderer since.
    if (rebind && !glIsFramebuffer(entry.carryFramebuffer)) return;
    GLenum target = drawFramebufferTarget();
    if (rebind) glCheck(glBindFramebuffer(target, entry.carryFramebuffer));
    if (drawTargetInto(entry))
        drawTexture(from, entry.drawable->storageWidth_, entry.drawable->storageHeight_);
    if (rebind) glCheck(glBindFramebuffer(target, bound));
}

void GLContext::carryAll() {
    for (Presented& entry : drawables_)
        carry(entry);
}

void GLContext::beginFrame(bool clearsColour) {
    if (currentContext() != this) return;
    frameBegun_ = true;
    if (std::none_of(drawables_.begin(), drawables_.end(),
                     [](const Presented& entry) { return entry.carryFrom != 0; }))
        return;
    // Cleared over whole, the back buffer needs nothing carried into it.
    bool covered = clearsColour && clearCoversColour();
    GLuint bound = boundDrawFramebuffer();
    for (Presented& entry : drawables_) {
        if (covered && entry.carryFramebuffer == bound)
            entry.carryFrom = 0;
        else
            carry(entry);
    }
}

namespace {

const char* const kTextureVertexShader = R"(
attribute vec2 a_position;
varying vec2 v_texCoord;
void main() {
    v_texCoord = a_position * 0.5 + 0.5;
    gl_Position = vec4(a_position, 0.0, 1.0);
}
)";

// High precision where there is one, so that every texel centre lands on its own texel.
const char* const kTextureFragmentShader = R"(
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif
varying vec2 v_texCoord;
uniform sampler2D u_texture;
void main() {
    gl_FragColor = texture2D(u_texture, v_texCoord);
}
)";

GLuint compileShader(GLenum kind, const char* source) {
    GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    return shader;
}

// A program of the two sources, its attribute 0 named `position` where it has one; 0 when it
// does not link.
GLuint linkProgram(const char* vertexSource, const char* fragmentSource, const char* position) {
    GLuint program = glCreateProgram();
    GLuint vertex = compileShader(GL_VERTEX_SHADER, vertexSource);
    GLuint fragment = compileShader(GL_FRAGMENT_SHADER, fragmentSource);
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    if (position) glBindAttribLocation(program, 0, position);
    glLinkProgram(program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked) return program;
    glDeleteProgram(program);
    return 0;
}

const char* const kRefreshVertexShader = R"(
void main() {
    gl_Position = vec4(0.0, 0.0, 0.0, 1.0);
}
)";

const char* const kRefreshFragmentShader = R"(
precision mediump float;
void main() {
    gl_FragColor = vec4(0.0);
}
)";

constexpr GLenum kGLVertexArrayBinding = 0x85B5;

} // namespace

bool GLContext::drawTexture(GLuint texture, GLsizei width, GLsizei height) {
    const GLExtensions& ext = glExtensions();
    if (!textureProgram_) {
        GLuint program = linkProgram(kTextureVertexShader, kTextureFragmentShader, "a_position");
        if (!program) return false;
        textureProgram_ = program;
        textureSampler_ = glGetUniformLocation(program, "u_texture");
        GLint previous = 0;
        glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &previous);
        const GLfloat quad[] = {-1, -1, 1, -1, -1, 1, 1, 1};
        glGenBuffers(1, &textureQuad_);
        glBindBuffer(GL_ARRAY_BUFFER, textureQuad_);
        glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(previous));
    }
    // Everything the draw changes is put back: the engine's GL state cache remembers it.
    GLint program = 0, unit = 0, boundTexture = 0, arrayBuffer = 0, vertexArray = 0, viewport[4] = {};
    GLboolean mask[4] = {};
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &unit);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &boundTexture);
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &arrayBuffer);
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetBooleanv(GL_COLOR_WRITEMASK, mask);
    const GLenum capabilities[] = {
        GL_BLEND,           GL_DEPTH_TEST,       GL_STENCIL_TEST,        GL_SCISSOR_TEST,
        GL_CULL_FACE,       GL_DITHER,           GL_POLYGON_OFFSET_FILL, GL_SAMPLE_ALPHA_TO_COVERAGE,
        GL_SAMPLE_COVERAGE, kGLRasterizerDiscard};
    constexpr std::size_t kCapabilities = sizeof capabilities / sizeof capabilities[0];
    std::size_t count = ext.majorVersion >= 3 ? kCapabilities : kCapabilities - 1;
    bool enabled[kCapabilities] = {};
    for (std::size_t i = 0; i < count; ++i)
        if ((enabled[i] = glIsEnabled(capabilities[i]))) glDisable(capabilities[i]);
    // The attribute is set in the default vertex array, as it was found there.
    if (ext.vertexArrayObject) {
        glGetIntegerv(kGLVertexArrayBinding, &vertexArray);
        if (vertexArray) ext.glBindVertexArrayOES(0);
    }
    GLint attribEnabled = 0, attribSize = 4, attribType = GL_FLOAT, attribNormalized = 0, attribStride = 0,
          attribBuffer = 0;
    void* attribPointer = nullptr;
    glGetVertexAttribiv(0, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &attribEnabled);
    glGetVertexAttribiv(0, GL_VERTEX_ATTRIB_ARRAY_SIZE, &attribSize);
    glGetVertexAttribiv(0, GL_VERTEX_ATTRIB_ARRAY_TYPE, &attribType);
    glGetVertexAttribiv(0, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED, &attribNormalized);
    glGetVertexAttribiv(0, GL_VERTEX_ATTRIB_ARRAY_STRIDE, &attribStride);
    glGetVertexAttribiv(0, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, &attribBuffer);
    glGetVertexAttribPointerv(0, GL_VERTEX_ATTRIB_ARRAY_POINTER, &attribPointer);

    glCheck(glUseProgram(textureProgram_));
    glCheck(glUniform1i(textureSampler_, unit - GL_TEXTURE0));
    glCheck(glBindTexture(GL_TEXTURE_2D, texture));
    glCheck(glBindBuffer(GL_ARRAY_BUFFER, textureQuad_));
    glCheck(glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, nullptr));
    glCheck(glEnableVertexAttribArray(0));
    glCheck(glViewport(0, 0, width, height));
    glCheck(glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE));
    glCheck(glDrawArrays(GL_TRIANGLE_STRIP, 0, 4));

    glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(attribBuffer));
    glVertexAttribPointer(0, attribSize, static_cast<GLenum>(attribType),
                          static_cast<GLboolean>(attribNormalized), attribStride, attribPointer);
    if (!attribEnabled) glDisableVertexAttribArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(arrayBuffer));
    if (vertexArray) ext.glBindVertexArrayOES(static_cast<GLuint>(vertexArray));
    glColorMask(mask[0], mask[1], mask[2], mask[3]);
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(boundTexture));
    glUseProgram(static_cast<GLuint>(program));
    for (std::size_t i = 0; i < count; ++i)
        if (enabled[i]) glEnable(capabilities[i]);
    return true;
}

void GLContext::refreshPrograms() {
    seenProgramsDeleted_ = sharegroup_->programsDeleted_;
    // The shaders of programs deleted under other contexts go now, before the triangle.
    glCheck(glFlush());
    if (!refreshPrograms_[0]) {
        for (GLuint& program : refreshPrograms_)
            program = linkProgram(kRefreshVertexShader, kRefreshFragmentShader, nullptr);
        if (!refreshPrograms_[0] || !refreshPrograms_[1]) {
            for (GLuint& program : refreshPrograms_)
                if (program) glDeleteProgram(std::exchange(program, 0));
            return;
        }
        GLint renderbuffer = 0;
        glGetIntegerv(GL_RENDERBUFFER_BINDING, &renderbuffer);
        glGenRenderbuffers(1, &refreshRenderbuffer_);
        glBindRenderbuffer(GL_RENDERBUFFER, refreshRenderbuffer_);
        glRenderbufferStorage(GL_RENDERBUFFER, kGLRGB565, 1, 1);
        glBindRenderbuffer(GL_RENDERBUFFER, static_cast<GLuint>(renderbuffer));
        glGenFramebuffers(1, &refreshFramebuffer_);
    }
    const bool separateRead = glExtensions().majorVersion >= 3;
    GLint program = 0, read = 0;
    const GLuint drawn = boundDrawFramebuffer();
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    if (separateRead) glGetIntegerv(kGLReadFramebufferBinding, &read);
    glCheck(glBindFramebuffer(GL_FRAMEBUFFER, refreshFramebuffer_));
    glCheck(glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                      refreshRenderbuffer_));
    glCheck(glUseProgram(refreshPrograms_[nextRefresh_]));
    nextRefresh_ ^= 1;
    // Three vertices at one point: no pixel is drawn.
    glCheck(glDrawArrays(GL_TRIANGLES, 0, 3));
    // A program deleted while current here went as the triangle's took its place.
    glCheck(glUseProgram(glIsProgram(static_cast<GLuint>(program)) ? static_cast<GLuint>(program) : 0));
    glCheck(glBindFramebuffer(drawFramebufferTarget(), drawn));
    if (separateRead) glCheck(glBindFramebuffer(kGLReadFramebuffer, static_cast<GLuint>(read)));
}

void GLContext::copyRenderbuffer(GLuint renderbuffer, GLuint texture, GLsizei width, GLsizei height) {
    // The copy reads the read framebuffer (ES 3 keeps it apart from the draw one).
    GLenum target = glExtensions().majorVersion >= 3 ? kGLReadFramebuffer : GL_FRAMEBUFFER;
    GLint framebuffer = 0, previous = 0;
    glGetIntegerv(target == GL_FRAMEBUFFER ? GL_FRAMEBUFFER_BINDING : kGLReadFramebufferBinding,
                  &framebuffer);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    if (!copyFramebuffer_) glCheck(glGenFramebuffers(1, &copyFramebuffer_));
    glCheck(glBindFramebuffer(target, copyFramebuffer_));
    glCheck(glFramebufferRenderbuffer(target, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffer));
    glCheck(glBindTexture(GL_TEXTURE_2D, texture));
    glCheck(glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, width, height));
    glCheck(glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous)));
    glCheck(glBindFramebuffer(target, static_cast<GLuint>(framebuffer)));
}

bool GLContext::presentRenderbuffer(GLenum) {
    if (currentContext() != this) return false;
    bool later = std::exchange(frameBegun_, false);
    GLint bound = 0;
    glGetIntegerv(GL_RENDERBUFFER_BINDING, &bound);
    for (Presented& entry : drawables_) {
        if (entry.renderbuffer != static_cast<GLuint>(bound) ||
            entry.drawable->renderbuffer() != entry.renderbuffer)
            continue;
        Ref<Drawable> keep = entry.drawable; // the observer may make another storage
        GLuint front = entry.back;
        GLenum kind = entry.backKind;
        // Drawn over where the framebuffer draws elsewhere, and in a retained backing whose
        // frames are not kept, which needs nothing carried then; a kept frame is read at once.
        bool drawnOver = true;
        entry.carryFrom = 0; // still waiting: what was drawn since is the frame
        if (GLenum target = drawTargetInto(entry);
            target && (!entry.textures[0] || keep->keepsPresentedFrame())) {
            swapBuffers(entry, target, later);
            drawnOver = false;
        }
        // Starts the GL on the frame while the caller goes on to the next one.
        glCheck(glFlush());
        // The flush freed the shaders of programs deleted elsewhere.
        if (sharegroup_->programsDeleted_ != seenProgramsDeleted_) refreshPrograms();
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
    if (entry.textures[0]) glDeleteTextures(2, entry.textures);
    entry.twin = entry.textures[0] = entry.textures[1] = 0;
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
