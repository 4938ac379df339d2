// A node that owns an off-screen framebuffer whose colour attachment is a texture. Between
// begin() and end() every draw goes into that texture; the node's sprite shows the texture in
// the scene. Used for screenshots, for transitions that render whole scenes, and for saving
// pictures into the Documents directory.
#pragma once

#include "core/CCMatrix.h"
#include "core/CCNode.h"
#include "core/ccTypes.h"
#include "graphics/CCClippingNode.h"
#include "graphics/CCTexture2D.h"

#include <GLES2/gl2.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Image;
}

class CCSprite;

// File formats of saveToFile.
enum tCCImageFormat : std::int32_t {
    kCCImageFormatJPEG = 0,
    kCCImageFormatPNG = 1,
};

class CCRenderTexture : public CCNode {
public:
    CCRenderTexture();
    ~CCRenderTexture() override;

    // Width and height are points. RGBA8888, no depth buffer.
    virtual bool initWithWidth(int width, int height);
    // No depth buffer.
    virtual bool initWithWidth(int width, int height, CCTexture2DPixelFormat format);
    // depthStencilFormat is a GL renderbuffer format (GL_DEPTH24_STENCIL8_OES also gives a
    // stencil attachment), or 0 for none; depth starts cleared to 1, stencil to 0. False for
    // an empty or oversized texture, or a framebuffer GL cannot draw into; nothing is left
    // behind then. Pixel formats the texture cannot hold throw as the texture does.
    virtual bool initWithWidth(int width, int height, CCTexture2DPixelFormat format,
                               GLuint depthStencilFormat);

    // Redirects drawing into the texture, keeping window coordinates; pair with end(). Inside,
    // clipping nodes see neither the stencil test nor the layers of those around the texture.
    void begin();
    // begin(), then clears the buffers the GL flags name with the given values (colour
    // components 0-1); GL's own clear values are left as they were.
    void beginWithClear(float r, float g, float b, float a, float depthValue, int stencilValue,
                        GLbitfield flags);
    void beginWithClear(float r, float g, float b, float a);
    void beginWithClear(float r, float g, float b, float a, float depthValue);
    void beginWithClear(float r, float g, float b, float a, float depthValue, int stencilValue);
    // Back to the framebuffer, viewport and clipping state in force at begin(): the director's
    // viewport for an outermost capture, the outer texture's for one begun inside another.
    void end();
    // Clears the colour buffer now (its own begin/end).
    void clear(float r, float g, float b, float a);
    // Clears the depth buffer now (its own begin/end).
    void clearDepth(float depthValue);
    // Clears the stencil of the framebuffer bound now: call it between begin() and end().
    void clearStencil(int stencilValue);

    void visit() override;
    // With auto-draw on, renders the children (all but the sprite) into the texture.
    void draw() override;

    // The texture's pixels as an image, rows top-down, premultiplied RGBA; null when the
    // buffers cannot be had.
    platform::Ref<platform::Image> newCGImage();
    // Writes JPEG data under the name into the Documents directory, whatever its extension.
    bool saveToFile(const std::string& fileName);
    // kCCImageFormatJPEG (quality 90) or kCCImageFormatPNG; any other format writes nothing.
    // The name is relative to Documents and makes the folders it asks for; an absolute name, or
    // one whose ".." leads out of Documents, is refused (logged). The file is replaced
    // atomically; false when nothing was written.
    bool saveToFile(const std::string& fileName, tCCImageFormat format);
    // The same picture as newCGImage (the image keeps no scale of its own: sizes in points
    // are its pixel sizes over the content scale factor).
    platform::Ref<platform::Image> getUIImage();

    // The texture's content size in points (the node's own size is not used).
    CGSize contentSize() const override;
    // Does nothing: the texture decides the size.
    void setContentSize(CGSize contentSize) override;

    CCSprite* sprite() const { return _sprite.get(); }
    // Retains the sprite (it does not become a child).
    void setSprite(CCSprite* sprite);
    bool autoDraw() const { return _autoDraw; }
    void setAutoDraw(bool autoDraw) { _autoDraw = autoDraw; }
    _ccColor4F clearColor() const { return _clearColor; }
    void setClearColor(_ccColor4F clearColor) { _clearColor = clearColor; }
    float clearDepth() const { return _clearDepth; }
    void setClearDepth(float clearDepth) { _clearDepth = clearDepth; }
    int clearStencil() const { return _clearStencil; }
    void setClearStencil(int clearStencil) { _clearStencil = clearStencil; }
    // GL clear bits used by auto-draw.
    GLbitfield clearFlags() const { return _clearFlags; }
    void setClearFlags(GLbitfield clearFlags) { _clearFlags = clearFlags; }

    // Factories; null when the initialiser refuses.
    static platform::Ref<CCRenderTexture>
    renderTextureWithWidth(int width, int height, CCTexture2DPixelFormat format, GLuint depthStencilFormat);
    static platform::Ref<CCRenderTexture> renderTextureWithWidth(int width, int height,
                                                                 CCTexture2DPixelFormat format);
    static platform::Ref<CCRenderTexture> renderTextureWithWidth(int width, int height);

    // Read access for the owner of the picture (transitions, tests).
    CCTexture2D* texture() const { return _texture.get(); }
    GLuint framebuffer() const { return _FBO; }
    GLuint depthRenderbuffer() const { return _depthRenderBufffer; }
    CCTexture2DPixelFormat pixelFormat() const { return _pixelFormat; }

    // ---- older names, kept for old callers; each forwards to the current operation ----
    bool saveBuffer(const std::string& fileName) { return saveToFile(fileName); }
    bool saveBuffer(const std::string& fileName, tCCImageFormat format) {
        return saveToFile(fileName, format);
    }
    platform::Ref<platform::Image> getUIImageFromBuffer();
    // Never any data: this form was given up, callers get nothing whatever the format.
    std::optional<std::vector<std::uint8_t>> getUIImageAsDataFromBuffer(std::int32_t format) {
        (void)format;
        return std::nullopt;
    }

private:
    // Clears the buffers in flags with the given values, putting GL's clear values back after.
    static void clearBuffers(GLbitfield flags, _ccColor4F color, float depthValue, int stencilValue);
    // Clears a new depth (and stencil) attachment of the bound framebuffer to 1 (and 0).
    static void clearNewDepthStencil();
    void releaseGL();

    GLuint _FBO = 0;
    GLuint _depthRenderBufffer = 0;
    platform::GLHome _home; // where the two were made
    GLint _oldFBO = 0;
    // The viewport at begin(), put back by end() when this capture was begun inside another.
    GLint _oldViewport[4] = {0, 0, 0, 0};
    bool _nestedCapture = false;
    // The clipping state around the capture, put back by end().
    CCClippingNode::EnclosingStencil _enclosingStencil;
    kmCaptureModelView _outerCaptureModelView;
    // Also held by the sprite; kept here so that a replaced sprite cannot take it away.
    platform::Ref<CCTexture2D> _texture;
    platform::Ref<CCSprite> _sprite;
    CCTexture2DPixelFormat _pixelFormat = kCCTexture2DPixelFormat_RGBA8888;
    GLbitfield _clearFlags = 0;
    _ccColor4F _clearColor{0, 0, 0, 0};
    float _clearDepth = 0;
    int _clearStencil = 0;
    bool _autoDraw = false;
};
