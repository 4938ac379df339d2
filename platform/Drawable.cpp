#include "platform/Drawable.h"

#include "platform/GLCheck.h"
#include "platform/GLContext.h"
#include "platform/GLExtensions.h"

#include <cmath>
#include <cstring>
#include <thread>

namespace platform {

std::uint32_t PixelBuffer::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0;
    const std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

namespace {
GLsizei toPixels(double points, double scale) {
    double pixels = std::lround(points * scale);
    return pixels > 0 && pixels < 1 << 30 ? static_cast<GLsizei>(pixels) : 0;
}
// Reads a renderbuffer or a texture through a framebuffer of its own, leaving the bindings as
// they were.
PixelBuffer readAttachedPixels(GLenum kind, GLuint name, GLsizei width, GLsizei height) {
    if (!name || width <= 0 || height <= 0) return {};
    // ES 3 keeps separate read and draw bindings; binding GL_FRAMEBUFFER changes both.
    bool split = glExtensions().majorVersion >= 3;
    GLint oldRead = 0, oldDraw = 0;
    glGetIntegerv(split ? kGLReadFramebufferBinding : GL_FRAMEBUFFER_BINDING, &oldRead);
    if (split) glGetIntegerv(kGLDrawFramebufferBinding, &oldDraw);
    GLuint fbo = 0;
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    if (kind == GL_TEXTURE_2D)
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, name, 0);
    else
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, name);
    PixelBuffer out;
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE)
        out = readFramebufferPixels(0, 0, width, height);
    if (split) {
        glBindFramebuffer(kGLReadFramebuffer, static_cast<GLuint>(oldRead));
        glBindFramebuffer(kGLDrawFramebuffer, static_cast<GLuint>(oldDraw));
    } else {
        glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(oldRead));
    }
    glDeleteFramebuffers(1, &fbo);
    return out;
}
} // namespace

GLsizei Drawable::pixelsWide() const {
    return toPixels(bounds_.size.width, contentsScale_);
}
GLsizei Drawable::pixelsHigh() const {
    return toPixels(bounds_.size.height, contentsScale_);
}

GLenum renderbufferFormatForColorFormat(const std::string& colorFormat) {
    return colorFormat == kEAGLColorFormatRGB565 ? kGLRGB565 : kGLRGBA8;
}

void Drawable::attachStorage(GLContext* context, GLuint renderbuffer, GLuint front, GLenum kind,
                             GLsizei width, GLsizei height) {
    std::lock_guard lock(frameMutex_);
    setStorage(context, renderbuffer, front, kind, width, height);
}

void Drawable::detachStorage() {
    std::lock_guard lock(frameMutex_);
    settle(true);
    setStorage(nullptr, 0, 0, GL_RENDERBUFFER, 0, 0);
}

void Drawable::setStorage(GLContext* context, GLuint renderbuffer, GLuint front, GLenum kind, GLsizei width,
                          GLsizei height) {
    context_ = context;
    renderbuffer_ = renderbuffer;
    storageWidth_ = width;
    storageHeight_ = height;
    front_ = front;
    frontKind_ = kind;
    framePending_ = false;
}

void Drawable::present(GLuint front, GLenum kind, bool drawnOver) {
    ++presentCount_;
    {
        std::lock_guard lock(frameMutex_);
        front_ = front;
        frontKind_ = kind;
        framePending_ = keepsPresentedFrame_;
        if (drawnOver) settle(true);
    }
    if (observer_) observer_(*this);
}

namespace {
// Guards every thread's answers and every layer's askers_, for the thread that ends and the
// layer that goes may be on different threads at once.
std::mutex answersMutex;
// Set when the calling thread's answers have gone as it ends.
thread_local bool answersGone = false;
} // namespace

struct Drawable::ThreadAnswers {
    std::unordered_map<const Drawable*, std::shared_ptr<const PixelBuffer>> byLayer;

    ThreadAnswers() = default;
    ThreadAnswers(const ThreadAnswers&) = delete;
    ThreadAnswers& operator=(const ThreadAnswers&) = delete;
    ~ThreadAnswers() {
        std::lock_guard lock(answersMutex);
        for (const auto& entry : byLayer)
            std::erase(entry.first->askers_, this);
        byLayer.clear();
        answersGone = true;
    }
};

Drawable::ThreadAnswers* Drawable::threadAnswers() {
    if (answersGone) return nullptr;
    thread_local ThreadAnswers answers;
    return &answers;
}

Drawable::~Drawable() {
    // Now, before a new layer can be made at this address and be answered these frames.
    std::lock_guard lock(answersMutex);
    for (ThreadAnswers* asker : askers_)
        asker->byLayer.erase(this);
}

const PixelBuffer& Drawable::presentedFrame() const {
    static const PixelBuffer none;
    std::shared_ptr<const PixelBuffer> frame;
    {
        std::lock_guard lock(frameMutex_);
        settle(false);
        frame = presented_;
    }
    // Held for the calling thread until it asks this layer again: the drawing thread may replace
    // the layer's frame in the meantime, and another layer's answer is another slot.
    std::shared_ptr<const PixelBuffer> previous; // let go after the lock
    std::lock_guard lock(answersMutex);
    if (ThreadAnswers* answers = threadAnswers()) {
        auto [given, added] = answers->byLayer.try_emplace(this);
        if (added) askers_.push_back(answers);
        previous = std::exchange(given->second, frame);
    } else {
        previous = std::exchange(lateAnswers_[std::this_thread::get_id()], frame);
    }
    return frame ? *frame : none;
}

void Drawable::settleOrDropPresentedFrame() const {
    std::lock_guard lock(frameMutex_);
    settle(true);
}

void Drawable::settle(bool drop) const {
    if (!framePending_) return;
    PixelBuffer frame;
    if (!readFront(frame)) {
        if (drop) {
            presented_ = nullptr;
            framePending_ = false;
        }
        return;
    }
    framePending_ = frame.empty() && !drop;
    presented_ = frame.empty() ? nullptr : std::make_shared<const PixelBuffer>(std::move(frame));
}

bool Drawable::readFront(PixelBuffer& out) const {
    return context_ && context_->runInShareGroup([&] {
        out = readAttachedPixels(frontKind_, front_, storageWidth_, storageHeight_);
    });
}

PixelBuffer Drawable::readPixels() const {
    std::lock_guard lock(frameMutex_);
    PixelBuffer out;
    readFront(out);
    return out;
}

PixelBuffer readFramebufferPixels(GLint x, GLint y, GLsizei width, GLsizei height) {
    PixelBuffer out;
    if (width <= 0 || height <= 0) return out;
    out.width = width;
    out.height = height;
    out.rgba.resize(static_cast<std::size_t>(width) * height * 4);
    GLint alignment = 4;
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glCheck(glReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, out.rgba.data()));
    glPixelStorei(GL_PACK_ALIGNMENT, alignment);
    // GL's rows run bottom-up.
    std::size_t stride = static_cast<std::size_t>(width) * 4;
    std::vector<std::uint8_t> row(stride);
    for (GLsizei top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
        std::memcpy(row.data(), &out.rgba[top * stride], stride);
        std::memcpy(&out.rgba[top * stride], &out.rgba[bottom * stride], stride);
        std::memcpy(&out.rgba[bottom * stride], row.data(), stride);
    }
    return out;
}

PixelBuffer readRenderbufferPixels(GLuint renderbuffer, GLsizei width, GLsizei height) {
    return readAttachedPixels(GL_RENDERBUFFER, renderbuffer, width, height);
}

} // namespace platform
