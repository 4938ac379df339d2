// The layer a GL view draws into: its size, scale and drawable properties decide the storage of
// the colour renderbuffer, and presenting a frame sets it aside for read-back (tests,
// screenshots, the optional window) without waiting for the GL.
#pragma once

#include "platform/Geometry.h"
#include "platform/Object.h"

#include <GLES2/gl2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace platform {

inline constexpr const char* kEAGLColorFormatRGBA8 = "EAGLColorFormatRGBA8";
inline constexpr const char* kEAGLColorFormatRGB565 = "EAGLColorFormat565";
inline constexpr const char* kEAGLDrawablePropertyRetainedBacking = "EAGLDrawablePropertyRetainedBacking";
inline constexpr const char* kEAGLDrawablePropertyColorFormat = "EAGLDrawablePropertyColorFormat";

// The renderbuffer format of a drawable colour format: GL_RGB565 for "EAGLColorFormat565",
// GL_RGBA8 for anything else.
GLenum renderbufferFormatForColorFormat(const std::string& colorFormat);

struct DrawableProperties {
    bool retainedBacking = false;
    std::string colorFormat = kEAGLColorFormatRGBA8;
};

// Pixels read back from GL: RGBA, 4 bytes a pixel, rows top-down.
struct PixelBuffer {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;

    bool empty() const { return rgba.empty(); }
    // 0xRRGGBBAA of the pixel at (x, y) counted from the top-left; 0 outside the buffer.
    std::uint32_t pixel(int x, int y) const;
};

class GLContext;

class Drawable : public Object {
public:
    ~Drawable() override;

    CGRect bounds() const { return bounds_; }
    void setBounds(CGRect bounds) { bounds_ = bounds; }
    double contentsScale() const { return contentsScale_; }
    void setContentsScale(double scale) { contentsScale_ = scale; }
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque) { opaque_ = opaque; }
    const DrawableProperties& drawableProperties() const { return properties_; }
    void setDrawableProperties(const DrawableProperties& properties) { properties_ = properties; }

    // The storage a renderbuffer gets from this layer: bounds x scale, rounded, in pixels.
    GLsizei pixelsWide() const;
    GLsizei pixelsHigh() const;
    GLenum storageFormat() const { return renderbufferFormatForColorFormat(properties_.colorFormat); }

    // The renderbuffer that last took its storage from this layer (0 before, and once it is gone).
    GLuint renderbuffer() const { return renderbuffer_; }

    // Whether presenting keeps the frame for presentedFrame() (on by default). Keeping costs
    // nothing until asked: the next frame is drawn into a second buffer, and the kept one is
    // read back only when someone asks for it.
    bool keepsPresentedFrame() const { return keepsPresentedFrame_; }
    void setKeepsPresentedFrame(bool keep) { keepsPresentedFrame_ = keep; }
    // The last frame presented with keeping on (empty before one). The first call after a
    // present reads it back, which waits for the GL, through the current context when it is of
    // the drawable's share group and through the drawable's own context otherwise (the caller's
    // is put back); it stays readable after the renderbuffer is gone. Any thread may ask: where
    // the frame cannot be read (no context of the group can be made current, as on a thread
    // other than the one drawing), the call changes nothing and answers the last frame read
    // back (empty where none was); a later call tries again. The answer stays valid until the
    // calling thread asks this layer again, whatever is presented meanwhile; it is let go when
    // the thread ends or the layer goes, so a thread that has ended holds no frame.
    const PixelBuffer& presentedFrame() const;
    std::uint64_t presentCount() const { return presentCount_; }
    // Called after each present, for a window that shows the frames; it may read them.
    void setPresentObserver(std::function<void(const Drawable&)> observer) {
        observer_ = std::move(observer);
    }

    // Reads the last presented frame as it stands (the renderbuffer's contents before the first
    // present), with a context of its share group current as presentedFrame() does; empty once
    // the renderbuffer is gone.
    PixelBuffer readPixels() const;

private:
    friend class GLContext;
    // `context` ties `renderbuffer` to this layer; `front` (of `kind`, as for present()) is the
    // buffer drawn into now.
    void attachStorage(GLContext* context, GLuint renderbuffer, GLuint front, GLenum kind, GLsizei width,
                       GLsizei height);
    // The storage goes (or passes to another layer): a kept frame is read first.
    void detachStorage();
    // `front` (a renderbuffer, or a texture for `kind` GL_TEXTURE_2D) holds the frame until the
    // next present; when `drawnOver`, drawing goes on in it, so a kept frame is read at once.
    void present(GLuint front, GLenum kind, bool drawnOver);
    // Reads a kept frame now or never: its buffer is about to change or go.
    void settleOrDropPresentedFrame() const;
    // With frameMutex_ held: reads a kept frame not yet read back. A read that cannot be made
    // leaves everything as it was, unless `drop`: then the frame is gone, better none than an
    // older one.
    void settle(bool drop) const;
    // With frameMutex_ held: reads the front buffer; false when no context of its share group
    // could be made current.
    bool readFront(PixelBuffer& out) const;
    void setStorage(GLContext* context, GLuint renderbuffer, GLuint front, GLenum kind, GLsizei width,
                    GLsizei height);

    CGRect bounds_ = CGRectZero;
    double contentsScale_ = 1.0;
    bool opaque_ = false;
    DrawableProperties properties_;
    bool keepsPresentedFrame_ = true;
    // The storage and the frame, written by the drawing thread and read by any: guarded, and a
    // frame read back is handed out whole, never changed in place.
    mutable std::mutex frameMutex_;
    GLContext* context_ = nullptr; // the one that gave the storage; it clears this when it lets go
    GLuint renderbuffer_ = 0;
    GLsizei storageWidth_ = 0, storageHeight_ = 0;
    mutable std::shared_ptr<const PixelBuffer> presented_; // null for none
    // What presentedFrame() last answered a thread, per layer: held by the thread, dropped when
    // it ends; the layer lists the threads holding one, to drop theirs when it goes.
    struct ThreadAnswers;
    static ThreadAnswers* threadAnswers();
    mutable std::vector<ThreadAnswers*> askers_;
    // The answers to threads that asked while ending, once their own answers were gone.
    mutable std::unordered_map<std::thread::id, std::shared_ptr<const PixelBuffer>> lateAnswers_;
    GLuint front_ = 0;                   // the buffer of the last presented frame
    GLenum frontKind_ = GL_RENDERBUFFER; // or GL_TEXTURE_2D
    mutable bool framePending_ = false;  // kept, not yet read back
    std::atomic<std::uint64_t> presentCount_{0};
    std::function<void(const Drawable&)> observer_;
};

// Reads a renderbuffer's pixels through a framebuffer of its own, leaving the bindings as they
// were. A context that sees the renderbuffer must be current.
PixelBuffer readRenderbufferPixels(GLuint renderbuffer, GLsizei width, GLsizei height);
// Reads the bound read framebuffer's pixels in the rectangle (bottom-left origin in GL, the
// rows come back top-down).
PixelBuffer readFramebufferPixels(GLint x, GLint y, GLsizei width, GLsizei height);

} // namespace platform
