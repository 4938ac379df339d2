// The view the engine draws into, and the renderer that owns its GL context and framebuffers.
#pragma once

#include "core/CCTouchDelegateProtocol.h"
#include "platform/Drawable.h"
#include "platform/GLContext.h"
#include "platform/View.h"

#include <GLES2/gl2.h>

#include <cstdint>
#include <functional>
#include <string>

using platform::kEAGLColorFormatRGB565;
using platform::kEAGLColorFormatRGBA8;

// What a renderer of the GL view answers.
class CCESRenderer {
public:
    virtual ~CCESRenderer() = default;
    virtual bool initWithDepthFormat(std::uint32_t depthFormat, std::uint32_t pixelFormat,
                                     platform::ShareGroup* sharegroup, bool multiSampling,
                                     std::uint32_t requestedSamples) = 0;
    virtual bool resizeFromLayer(platform::Drawable* layer) = 0;
    virtual platform::GLContext* context() const = 0;
    virtual CGSize backingSize() const = 0;
    virtual GLuint colorRenderBuffer() const = 0;
    virtual GLuint defaultFrameBuffer() const = 0;
    virtual GLuint msaaFrameBuffer() const = 0;
    virtual GLuint msaaColorBuffer() const = 0;
};

class CCES2Renderer : public platform::Object, public CCESRenderer {
public:
    CCES2Renderer() = default;
    // Deletes the framebuffers and renderbuffers in the renderer's own context (the layer keeps
    // its last frame); where its context was current, the released-context hook's is made current
    // instead, or none.
    ~CCES2Renderer() override;

    // Makes an ES 2 context (in the share group when one is given), makes it current and
    // builds the default framebuffer, plus the multisample framebuffer when asked and the
    // context has multisample renderbuffers (it draws single-sampled otherwise). False when the
    // context cannot be made or made current.
    bool initWithDepthFormat(std::uint32_t depthFormat, std::uint32_t pixelFormat,
                             platform::ShareGroup* sharegroup, bool multiSampling,
                             std::uint32_t requestedSamples) override;
    // Gives the colour buffer the layer's size and rebuilds the multisample and depth buffers;
    // true when the framebuffer is complete.
    bool resizeFromLayer(platform::Drawable* layer) override;
    // Surface size in pixels.
    CGSize backingSize() const override;
    std::string description() const override;

    GLuint colorRenderBuffer() const override { return _colorRenderbuffer; }
    GLuint defaultFrameBuffer() const override { return _defaultFramebuffer; }
    GLuint msaaFrameBuffer() const override { return _msaaFramebuffer; }
    GLuint msaaColorBuffer() const override { return _msaaColorbuffer; }
    GLuint colorRenderbuffer() const { return _colorRenderbuffer; }
    GLuint defaultFramebuffer() const { return _defaultFramebuffer; }
    GLuint msaaFramebuffer() const { return _msaaFramebuffer; }
    GLuint msaaColorbuffer() const { return _msaaColorbuffer; }
    platform::GLContext* context() const override { return _context.get(); }

    // Who names the context to make current when a renderer's clean-up lets go of the current
    // one (the director's view's, on the director's thread only); process-wide, none by default.
    static void setReleasedContextHook(std::function<platform::GLContext*()> hook);

    // Read by the view when it presents.
    bool multiSampling() const { return _multiSampling; }
    std::uint32_t samplesToUse() const { return _samplesToUse; }
    std::uint32_t depthFormat() const { return _depthFormat; }
    GLuint depthBuffer() const { return _depthBuffer; }

private:
    bool makeContextCurrent() const;

    std::int32_t _backingWidth = 0;
    std::int32_t _backingHeight = 0;
    std::uint32_t _samplesToUse = 0;
    bool _multiSampling = false;
    std::uint32_t _depthFormat = 0;
    std::uint32_t _pixelFormat = 0;
    GLuint _defaultFramebuffer = 0;
    GLuint _colorRenderbuffer = 0;
    GLuint _depthBuffer = 0;
    GLuint _msaaFramebuffer = 0;
    GLuint _msaaColorbuffer = 0;
    platform::Ref<platform::GLContext> _context;
};

class CCGLView : public platform::View {
public:
    CCGLView() = default;

    // 16-bit colour, no depth buffer, no retained backing, no share group, no multisampling.
    static platform::Ref<CCGLView> viewWithFrame(CGRect frame);
    static platform::Ref<CCGLView> viewWithFrame(CGRect frame, const std::string& format);
    static platform::Ref<CCGLView> viewWithFrame(CGRect frame, const std::string& format,
                                                 std::uint32_t depth);
    static platform::Ref<CCGLView> viewWithFrame(CGRect frame, const std::string& format, std::uint32_t depth,
                                                 bool retained, platform::ShareGroup* sharegroup,
                                                 bool multisampling, std::uint32_t samples);

    bool initWithFrame(CGRect frame) override;
    virtual bool initWithFrame(CGRect frame, const std::string& format);
    // The designated initialiser; false when no renderer could be made.
    virtual bool initWithFrame(CGRect frame, const std::string& format, std::uint32_t depth, bool retained,
                               platform::ShareGroup* sharegroup, bool multisampling, std::uint32_t samples);
    // 16-bit colour, no depth, no multisampling, the size of the frame the view already has.
    bool initWithCoder(const platform::KeyedArchive* coder) override;

    // Sets up the layer and makes the renderer; true on success.
    virtual bool setupSurfaceWithSharegroup(platform::ShareGroup* sharegroup);

    // Resizes the renderer to the layer, takes its size and tells the reshape hook.
    void layoutSubviews() override;
    // Presents the frame: resolves multisampling, discards what need not be kept.
    void swapBuffers();
    void lockOpenGLContext() {}
    void unlockOpenGLContext() {}

    // GL_RGB565 for "EAGLColorFormat565", GL_RGBA8 for anything else.
    std::uint32_t convertPixelFormat(const std::string& format) const;
    // View points to surface pixels; an empty view gives zero.
    CGPoint convertPointFromViewToSurface(CGPoint point) const;
    CGRect convertRectFromViewToSurface(CGRect rect) const;

    // Each goes to the touch delegate when there is one.
    void touchesBegan(const platform::TouchSet& touches, platform::Event* event) override;
    void touchesMoved(const platform::TouchSet& touches, platform::Event* event) override;
    void touchesEnded(const platform::TouchSet& touches, platform::Event* event) override;
    void touchesCancelled(const platform::TouchSet& touches, platform::Event* event) override;

    // Surface size in pixels, as of the last layout.
    CGSize surfaceSize() const { return _size; }
    // Laid out before, at another content scale than the view has now.
    bool scaleChangedSinceLayout() const { return _layoutScale != 0 && _layoutScale != contentScaleFactor(); }
    const std::string& pixelFormat() const { return _pixelformat; }
    std::uint32_t depthFormat() const { return _depthFormat; }
    CCTouchDelegate* touchDelegate() const { return _touchDelegate; }
    // Not retained: the delegate clears itself before it goes.
    void setTouchDelegate(CCTouchDelegate* delegate) { _touchDelegate = delegate; }
    platform::GLContext* context() const { return _context; }
    bool multiSampling() const { return _multiSampling; }
    void setMultiSampling(bool multiSampling) { _multiSampling = multiSampling; }
    CCES2Renderer* renderer() const { return _renderer.get(); }

    // Who hears of a view's new surface size at layout, on the thread that laid it out (the
    // director, for its own view); process-wide, empty by default.
    static void setReshapeProjectionHook(std::function<void(CCGLView*, CGSize)> hook);

private:
    platform::Ref<CCES2Renderer> _renderer;
    platform::GLContext* _context = nullptr; // the renderer's
    std::string _pixelformat = kEAGLColorFormatRGB565;
    std::uint32_t _depthFormat = 0;
    bool _preserveBackbuffer = false;
    CGSize _size = CGSizeZero;
    double _layoutScale = 0; // the content scale of the last layout; 0 before the first
    bool _discardFramebufferSupported = false;
    CCTouchDelegate* _touchDelegate = nullptr;
    std::uint32_t _requestedSamples = 0;
    bool _multiSampling = false;
};
