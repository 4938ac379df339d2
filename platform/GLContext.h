// OpenGL ES contexts on Mesa's EGL: one display for the life of the process (surfaceless where
// Mesa offers it), contexts grouped to share objects, one current context per thread.
#pragma once

#include "platform/Object.h"

#include <GLES2/gl2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {

class Drawable;
class GLContext;

// The rendering API asked for; every context here is ES 2 compatible (Mesa gives ES 3.2).
enum class GLRenderingAPI : std::int32_t { OpenGLES1 = 1, OpenGLES2 = 2, OpenGLES3 = 3 };
inline constexpr GLRenderingAPI kEAGLRenderingAPIOpenGLES2 = GLRenderingAPI::OpenGLES2;

// The kinds of GL objects, for deleting them (see GLHome).
enum class GLObjectKind : std::uint8_t {
    Texture,
    Buffer,
    Renderbuffer,
    Program,
    Shader,
    Framebuffer,
    VertexArray
};

// Contexts of one share group see each other's textures, buffers, programs and renderbuffers.
class ShareGroup : public Object {
public:
    // Number of live contexts in the group.
    std::size_t contextCount() const;

private:
    friend class GLContext;
    friend class GLHome;
    struct Member {
        void* context; // EGLContext
        const GLContext* owner;
    };
    // Names handed to the group; `context` is the serial of the only context they may be deleted
    // in (framebuffers and vertex arrays; programs while the context they were made in lives),
    // 0 for any of the group.
    struct Waiting {
        GLObjectKind kind;
        std::uint64_t context;
        GLuint name;
    };
    // An EGL context of the group and its owner's serial; null when the group is empty.
    void* anyMember(std::uint64_t& serial) const;
    bool contains(void* context) const;
    // Adds the context (unless EGL refused it) while the member of serial `sharedWith` it was made
    // sharing with (0 for none) is still in the group. False when that member went meanwhile: EGL
    // may have refused its handle, or even taken it for a newer context's.
    bool addSharing(const GLContext* context, std::uint64_t sharedWith);
    // What waits for the context alone goes with it; everything once the group is empty.
    void remove(const GLContext* context);
    // Keeps the names for a safe point of a thread holding a fitting context; none once the
    // group, or for framebuffers and vertex arrays the context `home`, is gone.
    void post(GLObjectKind kind, std::uint64_t home, GLsizei count, const GLuint* names);
    // A safe point of the thread holding `current`, a context of the group current on it:
    // deletes what waits for that context or the group. True when anything went.
    bool deleteWaiting(const GLContext& current);
    // Deletes the names in the current context, a context of the group. Answers the group's count
    // of texture and program deletions with this one, 0 for other kinds.
    std::uint64_t deleteNames(GLObjectKind kind, GLsizei count, const GLuint* names);

    mutable std::mutex mutex_;
    std::vector<Member> members_;
    std::vector<Waiting> waiting_;
    std::atomic<bool> anyWaiting_{false}; // one read at a safe point when nothing waits
    // Textures and programs deleted in the group so far, counted before GL deletes them: a GL
    // state cache that saw another count may hold a name GL hands out again.
    std::atomic<std::uint64_t> deletions_{0};
    // What a context of the group can miss while another works: how often one was made current,
    // and how often programs were deleted (see GLContext::refreshPrograms).
    std::atomic<std::uint64_t> madeCurrent_{0};
    std::atomic<std::uint64_t> programsDeleted_{0};
};

// Where GL objects were made: the share group of the context current then, and that context
// itself for framebuffers and vertex arrays, which belong to it alone. Their names are deleted
// there and nowhere else: under a context of another group the same names are its objects.
//
// A context is made current only by the thread whose work it serves, never on another's behalf
// to delete: names let go where no fitting context is current wait for the next safe point of a
// thread that holds one (the director's frame, a view's present, the loader's next job, a GL
// object the thread makes or deletes through the engine, and a context taken up or handed back
// by setCurrentContext).
class GLHome {
public:
    // The calling thread's current context; nowhere (nothing to delete) when none is current.
    static GLHome current();
    // Deletes the names (zeros skipped; a null array is refused) under the calling thread's
    // current context where it is of the group (for framebuffers and vertex arrays, the own
    // context); else hands them to the group, for deleteWaitingObjects(). Nothing happens once
    // the group, or the own context, is gone: the names went with it. Answers the group's count
    // of deletions with this one when textures or programs were deleted here, 0 otherwise (see
    // GLContext::currentGroupDeletions).
    std::uint64_t deleteObjects(GLObjectKind kind, GLsizei count, const GLuint* names) const;
    // A safe point of the calling thread: deletes what waits for its current context or that
    // context's group. True when anything went, which whoever remembers GL bindings must forget.
    // One atomic read when nothing waits.
    static bool deleteWaitingObjects();
    // The serial of the context, 0 for nowhere.
    std::uint64_t contextSerial() const { return context_; }
    // The share group, null for nowhere.
    ShareGroup* sharegroup() const { return group_.get(); }

private:
    Ref<ShareGroup> group_;
    std::uint64_t context_ = 0;
};

class GLContext : public Object {
public:
    GLContext() = default;
    ~GLContext() override;

    // Makes the EGL context, in the share group when one is given (a new group otherwise);
    // false when EGL refuses.
    bool initWithAPI(GLRenderingAPI api, ShareGroup* sharegroup = nullptr);
    static Ref<GLContext> contextWithAPI(GLRenderingAPI api, ShareGroup* sharegroup = nullptr);

    GLRenderingAPI API() const { return api_; }
    ShareGroup* sharegroup() const { return sharegroup_.get(); }
    // A number no other context of this process had or will have.
    std::uint64_t serial() const { return serial_; }

    // Makes the context current on the calling thread, or none for null; the thread keeps the
    // current context alive. False (and nothing changed) when EGL refuses, for instance when the
    // context is current on another thread. A frame the context current until now left to carry
    // forward (see beginFrame()) is carried first, so that whoever draws next finds it. GL names
    // waiting for the context handed back, or for the one taken up, are deleted in it (see
    // GLHome).
    static bool setCurrentContext(GLContext* context);
    static GLContext* currentContext();
    // The serial of the calling thread's current context, 0 for none: what the GL state
    // cache compares to know that the context it remembered is still the one in use.
    static std::uint64_t currentSerial();
    // Textures and programs deleted so far in the group of the calling thread's current
    // context, 0 for none: what the GL state cache compares, once a frame and where names are
    // made, to know that no name it remembers was deleted elsewhere.
    static std::uint64_t currentGroupDeletions();

    // Gives the renderbuffer bound to `target` storage at the drawable's size in pixels and
    // colour format, and ties the two so that presenting that renderbuffer shows the drawable.
    // Needs this context current. False when the size is empty or GL refuses it.
    bool renderbufferStorage(GLenum target, Drawable* drawable);
    // Hands the frame of the renderbuffer bound to `target` to its drawable and to the GL,
    // without waiting for it. The bound draw framebuffer, which draws into the drawable, draws
    // the next frame into the drawable's other buffer, so the presented one stays readable
    // until the next present. A retained backing's two buffers are textures (the framebuffer
    // that draws into the renderbuffer when it gets its storage is pointed at the first): the
    // next one starts with the presented frame drawn into it, which the GL queues behind the
    // frame; where the frames are not kept, the next one is drawn over the presented one in
    // place. False when the bound renderbuffer has no drawable. In a frame begun with
    // beginFrame() the presented frame is not drawn into the next buffer at once but left to
    // carry: beginFrame() draws it, once the GL has had the caller's work to catch up on.
    bool presentRenderbuffer(GLenum target);
    // Starts a frame of the context, current on the calling thread (nothing happens otherwise):
    // the frames left to carry forward are drawn into the buffers now drawn into, or dropped
    // where `clearsColour` says the caller clears the bound colour buffer next and the clear
    // covers it all. The frame's own present then leaves its carry to the next frame's start;
    // one not begun here is carried at its present. One still waiting is carried when the
    // context is made current again or another is (setCurrentContext), and dropped when the
    // context presents again first: what was drawn meanwhile is the frame.
    void beginFrame(bool clearsColour);
    // To be called before a renderbuffer that took storage from a drawable is deleted: the
    // drawable reads a kept frame still waiting and lets go of the renderbuffer, and its second
    // buffer goes.
    void releaseRenderbuffer(GLuint renderbuffer);

    // The EGL context handle (EGLContext), for the window and for tests.
    void* eglContext() const { return context_; }

private:
    void* context_ = nullptr;
    GLRenderingAPI api_ = GLRenderingAPI::OpenGLES2;
    Ref<ShareGroup> sharegroup_;
    std::uint64_t serial_ = 0;
    friend class Drawable;
    friend class ShareGroup;
    friend class GLHome;
    // A renderbuffer tied to its drawable, the buffers frames alternate between (the
    // renderbuffer and a second one, or two textures for a retained backing) and the one drawn
    // into now.
    struct Presented {
        GLuint renderbuffer = 0;
        Ref<Drawable> drawable;
        GLuint twin = 0;
        GLuint textures[2] = {};
        GLuint back = 0;
        GLenum backKind = GL_RENDERBUFFER; // or GL_TEXTURE_2D
        // The texture presented last, still to be drawn into the back buffer through the
        // framebuffer that was drawing into it; 0 when nothing waits.
        GLuint carryFrom = 0, carryFramebuffer = 0;
    };
    // The target through which the bound framebuffer draws into the entry's back buffer; 0 when
    // it draws elsewhere.
    GLenum drawTargetInto(const Presented& entry) const;
    // Points the framebuffer bound to `target` at `name` (a renderbuffer, or a texture for
    // `kind` GL_TEXTURE_2D), which becomes the entry's back buffer.
    void attachBack(Presented& entry, GLenum target, GLuint name, GLenum kind);
    // Points the framebuffer bound to `target` at the entry's other buffer; a retained backing
    // has the presented frame drawn into it, at once or, when `later`, by carry().
    void swapBuffers(Presented& entry, GLenum target, bool later);
    // Draws the frame the entry's back buffer waits for, if any, through its framebuffer, and
    // puts the framebuffer bindings back.
    void carry(Presented& entry);
    // Carries every frame still waiting.
    void carryAll();
    // Draws the texture over the whole bound draw framebuffer, as it is, and puts back every
    // GL state it changes. False when its program cannot be made.
    bool drawTexture(GLuint texture, GLsizei width, GLsizei height);
    // Copies a renderbuffer into a texture of its size.
    void copyRenderbuffer(GLuint renderbuffer, GLuint texture, GLsizei width, GLsizei height);
    // The drawable keeps its frame and lets go; the entry's second buffer and texture go. A
    // context of the group must be current.
    void letGo(Presented& entry);
    // Runs `work` with this context current, or any context of its group when `anyOfGroup`, and
    // puts back what the thread had current. False (and nothing run) when the context cannot be
    // made current, for instance while current on another thread.
    bool runCurrent(bool anyOfGroup, const std::function<void()>& work) const;
    bool runInShareGroup(const std::function<void()>& work) const { return runCurrent(true, work); }
    // Mesa's llvmpipe keeps, per context, the shaders and uniform values of the programs the
    // context drew with. A program deleted under another context of the group leaves this one its
    // shaders to free at its next flush, which unbinds them behind the context's own record of
    // what is bound: its next draw with the program it drew last runs without shaders and
    // crashes. Uniforms set under another context reach this one only once it draws with another
    // program. So this context, current on the calling thread, flushes and draws one empty
    // triangle with a program of its own (two, taken in turn, so that the one drawn is never the
    // one the driver believes bound), into a framebuffer of its own, and puts the bindings back.
    void refreshPrograms();
    // Made current anew: refreshed where another context of the group was current since, or a
    // program was deleted.
    void madeCurrent();

    std::vector<Presented> drawables_;
    bool frameBegun_ = false;                     // since the last present, by beginFrame()
    GLuint copyFramebuffer_ = 0;                  // reads a renderbuffer that is copied into a texture
    GLuint textureProgram_ = 0, textureQuad_ = 0; // what drawTexture() draws with
    GLint textureSampler_ = -1;
    GLuint refreshPrograms_[2] = {}; // what refreshPrograms() draws with, in turn
    GLuint refreshFramebuffer_ = 0, refreshRenderbuffer_ = 0;
    unsigned nextRefresh_ = 0;
    // The group's counts as of this context's last turn: 0 until it is first current.
    std::uint64_t seenMadeCurrent_ = 0, seenProgramsDeleted_ = 0;
};

// The process's EGL display (EGLDisplay), initialised on first use and never terminated;
// null when EGL has none.
void* eglDisplay();

} // namespace platform
