#include "core/CCGLView.h"

#include "core/CCConfiguration.h"
#include "core/ccGLStateCache.h"
#include "platform/GLCheck.h"
#include "platform/GLExtensions.h"
#include "platform/Format.h"

#include <algorithm>
#include <mutex>

namespace {

std::function<void(CCGLView*, CGSize)>& reshapeHook() {
    static std::function<void(CCGLView*, CGSize)> hook;
    return hook;
}

std::function<platform::GLContext*()>& releasedContextHook() {
    static std::function<platform::GLContext*()> hook;
    return hook;
}

// A director sets the hooks on its thread while views may be laid out or let go on others: a
// call runs a copy taken under the lock.
std::mutex hooksMutex;

template <class Hook> Hook copyOf(const Hook& hook) {
    std::lock_guard lock(hooksMutex);
    return hook;
}

// Resize reports pending errors under its own name and fixed line numbers, in every build.
void printPendingGLError(int line) {
    platform::reportGLError("-[CCES2Renderer resizeFromLayer:]", line);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// CCES2Renderer

CCES2Renderer::~CCES2Renderer() {
    if (!_context) return;
    // The names belong to this renderer's context: delete them there and nowhere else. While the
    // context is current on another thread they cannot be reached from here: the framebuffers go
    // with the context, the renderbuffers with its share group.
    platform::Ref<platform::GLContext> previous = platform::GLContext::currentContext();
    bool wasCurrent = previous.get() == _context.get();
    if (wasCurrent || platform::GLContext::setCurrentContext(_context.get())) {
        // The layer keeps the frame it presented last, wherever it still waits.
        if (_colorRenderbuffer) _context->releaseRenderbuffer(_colorRenderbuffer);
        if (_defaultFramebuffer) glDeleteFramebuffers(1, &_defaultFramebuffer);
        if (_msaaFramebuffer) glDeleteFramebuffers(1, &_msaaFramebuffer);
        if (_colorRenderbuffer) glDeleteRenderbuffers(1, &_colorRenderbuffer);
        if (_depthBuffer) glDeleteRenderbuffers(1, &_depthBuffer);
        if (_msaaColorbuffer) glDeleteRenderbuffers(1, &_msaaColorbuffer);
        // Leaving none current would leave the game's next textures and buffers blank without
        // a word.
        platform::GLContext* next = previous.get();
        if (wasCurrent) {
            auto hook = copyOf(releasedContextHook());
            next = hook ? hook() : nullptr;
        }
        if (next == _context.get() || !platform::GLContext::setCurrentContext(next))
            platform::GLContext::setCurrentContext(nullptr);
    }
    _defaultFramebuffer = _msaaFramebuffer = _colorRenderbuffer = _depthBuffer = _msaaColorbuffer = 0;
    _context = nullptr;
}

bool CCES2Renderer::initWithDepthFormat(std::uint32_t depthFormat, std::uint32_t pixelFormat,
                                        platform::ShareGroup* sharegroup, bool multiSampling,
                                        std::uint32_t requestedSamples) {
    platform::Ref<platform::GLContext> context =
        platform::GLContext::contextWithAPI(platform::kEAGLRenderingAPIOpenGLES2, sharegroup);
    if (!context || !platform::GLContext::setCurrentContext(context.get())) return false;
    _context = context;

    _depthFormat = depthFormat;
    _pixelFormat = pixelFormat;
    // Without multisample renderbuffers and a resolve, the context draws single-sampled.
    _multiSampling = multiSampling && platform::glExtensions().multisample;

    glCacheDeleteWaitingFirst();
    glCheck(glGenFramebuffers(1, &_defaultFramebuffer));
    glCheck(glGenRenderbuffers(1, &_colorRenderbuffer));
    glCheck(glBindFramebuffer(GL_FRAMEBUFFER, _defaultFramebuffer));
    glCheck(glBindRenderbuffer(GL_RENDERBUFFER, _colorRenderbuffer));
    glCheck(
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, _colorRenderbuffer));

    if (_multiSampling) {
        GLint maxSamplesAllowed = 0;
        glGetIntegerv(platform::kGLMaxSamples, &maxSamplesAllowed);
        _samplesToUse =
            std::min(static_cast<std::uint32_t>(std::max(maxSamplesAllowed, 0)), requestedSamples);
        glCheck(glGenFramebuffers(1, &_msaaFramebuffer));
        glCheck(glBindFramebuffer(GL_FRAMEBUFFER, _msaaFramebuffer));
    }
    return true;
}

bool CCES2Renderer::makeContextCurrent() const {
    return platform::GLContext::currentContext() == _context.get() ||
           platform::GLContext::setCurrentContext(_context.get());
}

bool CCES2Renderer::resizeFromLayer(platform::Drawable* layer) {
    if (!_context || !makeContextCurrent()) return false;
    glCacheDeleteWaitingFirst();
    // Plain GL calls: errors here are reported at the two points below, with their own texts.
    glBindRenderbuffer(GL_RENDERBUFFER, _colorRenderbuffer);
    // Bound while the storage is given, so that a retained backing's framebuffer draws into its
    // own buffers from the first frame.
    glBindFramebuffer(GL_FRAMEBUFFER, _defaultFramebuffer);
    if (layer) _context->renderbufferStorage(GL_RENDERBUFFER, layer);
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_WIDTH, &_backingWidth);
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_HEIGHT, &_backingHeight);

    const platform::GLExtensions& ext = platform::glExtensions();
    if (_multiSampling) {
        if (_msaaColorbuffer) {
            glDeleteRenderbuffers(1, &_msaaColorbuffer);
            _msaaColorbuffer = 0;
        }
        glBindFramebuffer(GL_FRAMEBUFFER, _msaaFramebuffer);
        glGenRenderbuffers(1, &_msaaColorbuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, _msaaColorbuffer);
        if (!ext.glRenderbufferStorageMultisample) return false;
        ext.glRenderbufferStorageMultisample(GL_RENDERBUFFER, static_cast<GLsizei>(_samplesToUse),
                                             _pixelFormat, _backingWidth, _backingHeight);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, _msaaColorbuffer);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;
    } else {
        // Something may have bound another framebuffer since set-up.
        glBindFramebuffer(GL_FRAMEBUFFER, _defaultFramebuffer);
    }

    printPendingGLError(140);

    if (_depthFormat) {
        if (!_depthBuffer) glGenRenderbuffers(1, &_depthBuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, _depthBuffer);
        if (_multiSampling && ext.glRenderbufferStorageMultisample)
            ext.glRenderbufferStorageMultisample(GL_RENDERBUFFER, static_cast<GLsizei>(_samplesToUse),
                                                 _depthFormat, _backingWidth, _backingHeight);
        else
            glRenderbufferStorage(GL_RENDERBUFFER, _depthFormat, _backingWidth, _backingHeight);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, _depthBuffer);
        if (_depthFormat == platform::kGLDepth24Stencil8)
            glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_RENDERBUFFER, _depthBuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, _colorRenderbuffer);
    }

    printPendingGLError(166);

    return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

CGSize CCES2Renderer::backingSize() const {
    return CGSizeMake(_backingWidth, _backingHeight);
}

std::string CCES2Renderer::description() const {
    return platform::format("<%s = %p | size = %ix%i>", className(), static_cast<const void*>(this),
                            _backingWidth, _backingHeight);
}

// ---------------------------------------------------------------------------------------------
// CCGLView

platform::Ref<CCGLView> CCGLView::viewWithFrame(CGRect frame) {
    auto view = platform::make<CCGLView>();
    return view->initWithFrame(frame) ? view : nullptr;
}

platform::Ref<CCGLView> CCGLView::viewWithFrame(CGRect frame, const std::string& format) {
    auto view = platform::make<CCGLView>();
    return view->initWithFrame(frame, format) ? view : nullptr;
}

platform::Ref<CCGLView> CCGLView::viewWithFrame(CGRect frame, const std::string& format,
                                                std::uint32_t depth) {
    auto view = platform::make<CCGLView>();
    return view->initWithFrame(frame, format, depth, false, nullptr, false, 0) ? view : nullptr;
}

platform::Ref<CCGLView> CCGLView::viewWithFrame(CGRect frame, const std::string& format, std::uint32_t depth,
                                                bool retained, platform::ShareGroup* sharegroup,
                                                bool multisampling, std::uint32_t samples) {
    auto view = platform::make<CCGLView>();
    return view->initWithFrame(frame, format, depth, retained, sharegroup, multisampling, samples) ? view
                                                                                                   : nullptr;
}

bool CCGLView::initWithFrame(CGRect frame) {
    return initWithFrame(frame, kEAGLColorFormatRGB565, 0, false, nullptr, false, 0);
}

bool CCGLView::initWithFrame(CGRect frame, const std::string& format) {
    return initWithFrame(frame, format, 0, false, nullptr, false, 0);
}

bool CCGLView::initWithFrame(CGRect frame, const std::string& format, std::uint32_t depth, bool retained,
                             platform::ShareGroup* sharegroup, bool multisampling, std::uint32_t samples) {
    if (!View::initWithFrame(frame)) return false;
    _pixelformat = format;
    _depthFormat = depth;
    _multiSampling = multisampling;
    _preserveBackbuffer = retained;
    _requestedSamples = samples;
    return setupSurfaceWithSharegroup(sharegroup);
}

bool CCGLView::initWithCoder(const platform::KeyedArchive* coder) {
    if (!View::initWithCoder(coder)) return false;
    _pixelformat = kEAGLColorFormatRGB565;
    _depthFormat = 0;
    _multiSampling = false;
    _requestedSamples = 0;
    _size = layer()->bounds().size;
    return setupSurfaceWithSharegroup(nullptr);
}

bool CCGLView::setupSurfaceWithSharegroup(platform::ShareGroup* sharegroup) {
    platform::Drawable* eaglLayer = layer();
    eaglLayer->setOpaque(true);
    eaglLayer->setDrawableProperties({_preserveBackbuffer, _pixelformat});

    auto renderer = platform::make<CCES2Renderer>();
    if (!renderer->initWithDepthFormat(_depthFormat, convertPixelFormat(_pixelformat), sharegroup,
                                       _multiSampling, _requestedSamples))
        return false;
    _renderer = renderer;
    _context = _renderer->context();
    _discardFramebufferSupported = CCConfiguration::sharedConfiguration()->supportsDiscardFramebuffer();
    return true;
}

void CCGLView::layoutSubviews() {
    if (!_renderer) return;
    _renderer->resizeFromLayer(layer());
    _size = _renderer->backingSize();
    _layoutScale = contentScaleFactor();
    if (auto hook = copyOf(reshapeHook())) hook(this, _size);
}

void CCGLView::swapBuffers() {
    if (!_renderer) return;
    if (platform::GLContext::currentContext() != _context &&
        !platform::GLContext::setCurrentContext(_context))
        return;
    const platform::GLExtensions& ext = platform::glExtensions();
    // The view's flag alone is not enough: a renderer made without multisampling has nothing to
    // resolve.
    bool multiSampling = _multiSampling && _renderer->msaaFrameBuffer() != 0;
    CGSize backing = _renderer->backingSize();
    GLint width = static_cast<GLint>(backing.width), height = static_cast<GLint>(backing.height);
    if (multiSampling) {
        glCheck(glBindFramebuffer(platform::kGLReadFramebuffer, _renderer->msaaFrameBuffer()));
        glCheck(glBindFramebuffer(platform::kGLDrawFramebuffer, _renderer->defaultFrameBuffer()));
        glCheck(ext.resolveMultisampleFramebuffer(width, height));
    }

    if (_discardFramebufferSupported && ext.glDiscardFramebufferEXT) {
        if (multiSampling) {
            if (_depthFormat) {
                const GLenum attachments[] = {GL_COLOR_ATTACHMENT0, GL_DEPTH_ATTACHMENT};
                glCheck(ext.glDiscardFramebufferEXT(platform::kGLReadFramebuffer, 2, attachments));
            } else {
                const GLenum attachments[] = {GL_COLOR_ATTACHMENT0};
                glCheck(ext.glDiscardFramebufferEXT(platform::kGLReadFramebuffer, 1, attachments));
            }
        } else if (_depthFormat) {
            const GLenum attachments[] = {GL_DEPTH_ATTACHMENT};
            glCheck(ext.glDiscardFramebufferEXT(GL_FRAMEBUFFER, 1, attachments));
        }
    }
    // Present the colour buffer even if drawing left another renderbuffer bound.
    glCheck(glBindRenderbuffer(GL_RENDERBUFFER, _renderer->colorRenderBuffer()));

    _context->presentRenderbuffer(GL_RENDERBUFFER);
    // What was let go where no fitting context was current is deleted now.
    glCacheDeleteWaitingObjects();

    // Drawing of the next frame goes to the multisample buffer again.
    if (multiSampling) glCheck(glBindFramebuffer(GL_FRAMEBUFFER, _renderer->msaaFrameBuffer()));
}

std::uint32_t CCGLView::convertPixelFormat(const std::string& format) const {
    return platform::renderbufferFormatForColorFormat(format);
}

CGPoint CCGLView::convertPointFromViewToSurface(CGPoint point) const {
    CGRect b = bounds();
    if (b.size.width == 0 || b.size.height == 0) return CGPointZero;
    return CGPointMake((point.x - b.origin.x) / b.size.width * _size.width,
                       (point.y - b.origin.y) / b.size.height * _size.height);
}

CGRect CCGLView::convertRectFromViewToSurface(CGRect rect) const {
    CGRect b = bounds();
    if (b.size.width == 0 || b.size.height == 0) return CGRectZero;
    CGPoint origin = convertPointFromViewToSurface(rect.origin);
    return CGRect{origin, CGSizeMake(rect.size.width * _size.width / b.size.width,
                                     rect.size.height * _size.height / b.size.height)};
}

void CCGLView::touchesBegan(const platform::TouchSet& touches, platform::Event* event) {
    if (_touchDelegate) _touchDelegate->touchesBegan(touches, event);
}

void CCGLView::touchesMoved(const platform::TouchSet& touches, platform::Event* event) {
    if (_touchDelegate) _touchDelegate->touchesMoved(touches, event);
}

void CCGLView::touchesEnded(const platform::TouchSet& touches, platform::Event* event) {
    if (_touchDelegate) _touchDelegate->touchesEnded(touches, event);
}

void CCGLView::touchesCancelled(const platform::TouchSet& touches, platform::Event* event) {
    if (_touchDelegate) _touchDelegate->touchesCancelled(touches, event);
}

void CCGLView::setReshapeProjectionHook(std::function<void(CCGLView*, CGSize)> hook) {
    std::lock_guard lock(hooksMutex);
    reshapeHook() = std::move(hook);
}

void CCES2Renderer::setReleasedContextHook(std::function<platform::GLContext*()> hook) {
    std::lock_guard lock(hooksMutex);
    releasedContextHook() = std::move(hook);
}
