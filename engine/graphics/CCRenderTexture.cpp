#include "graphics/CCRenderTexture.h"

#include "core/CCArray.h"
#include "core/CCConfiguration.h"
#include "core/CCDirector.h"
#include "core/CCGridProtocol.h"
#include "core/CCMatrix.h"
#include "core/CCPointExtension.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCClippingNode.h"
#include "graphics/CCSprite.h"
#include "platform/Device.h"
#include "platform/GLCheck.h"
#include "platform/GLContext.h"
#include "platform/Image.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <GLES2/gl2ext.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

namespace {

// Captures begun and not yet ended on this thread. The end of one begun inside another puts
// back the viewport in force at its begin (the outer texture's); the outermost end puts back
// the director's.
thread_local int openCaptures = 0;

} // namespace

CCRenderTexture::CCRenderTexture() = default;

CCRenderTexture::~CCRenderTexture() {
    releaseGL();
}

void CCRenderTexture::releaseGL() {
    if (_FBO && platform::GLContext::currentSerial() == _home.contextSerial())
        CCClippingNode::forgetFramebuffer(_FBO);
    glCacheDeleteObjects(platform::GLObjectKind::Framebuffer, 1, &_FBO, _home);
    glCacheDeleteObjects(platform::GLObjectKind::Renderbuffer, 1, &_depthRenderBufffer, _home);
    _FBO = 0;
    _depthRenderBufffer = 0;
}

platform::Ref<CCRenderTexture> CCRenderTexture::renderTextureWithWidth(int width, int height,
                                                                       CCTexture2DPixelFormat format,
                                                                       GLuint depthStencilFormat) {
    auto rt = platform::make<CCRenderTexture>();
    return rt->initWithWidth(width, height, format, depthStencilFormat) ? rt : nullptr;
}

platform::Ref<CCRenderTexture> CCRenderTexture::renderTextureWithWidth(int width, int height,
                                                                       CCTexture2DPixelFormat format) {
    auto rt = platform::make<CCRenderTexture>();
    return rt->initWithWidth(width, height, format) ? rt : nullptr;
}

platform::Ref<CCRenderTexture> CCRenderTexture::renderTextureWithWidth(int width, int height) {
    auto rt = platform::make<CCRenderTexture>();
    return rt->initWithWidth(width, height) ? rt : nullptr;
}

bool CCRenderTexture::initWithWidth(int width, int height) {
    return initWithWidth(width, height, kCCTexture2DPixelFormat_RGBA8888, 0);
}

bool CCRenderTexture::initWithWidth(int width, int height, CCTexture2DPixelFormat format) {
    return initWithWidth(width, height, format, 0);
}

bool CCRenderTexture::initWithWidth(int width, int height, CCTexture2DPixelFormat format,
                                    GLuint depthStencilFormat) {
    if (!CCNode::init()) return false;

    const double scale = platform::contentScaleFactor();
    const double wPixels = width * scale, hPixels = height * scale;
    CCConfiguration* conf = CCConfiguration::sharedConfiguration();
    const std::int32_t maxSize = conf->maxTextureSize();
    // Checked in doubles before narrowing: an empty or oversized texture cannot be drawn into.
    if (!(wPixels >= 1 && hPixels >= 1) || (maxSize > 0 && (wPixels > maxSize || hPixels > maxSize))) {
        CCLOG("CCRenderTexture: cannot make a %d x %d texture (at most %d pixels a side)", width, height,
              maxSize);
        return false;
    }
    const int w = static_cast<int>(wPixels), h = static_cast<int>(hPixels);

    glCacheDeleteWaitingFirst();
    GLint oldFBO = 0;
    glCheck(glGetIntegerv(GL_FRAMEBUFFER_BINDING, &oldFBO));
    _oldFBO = oldFBO;

    std::uint64_t powW = static_cast<std::uint64_t>(w), powH = static_cast<std::uint64_t>(h);
    if (!conf->supportsNPOT()) {
        powW = nextPowerOfTwo(powW);
        powH = nextPowerOfTwo(powH);
    }
    if (maxSize > 0 && (powW > std::uint64_t(maxSize) || powH > std::uint64_t(maxSize))) {
        CCLOG("CCRenderTexture: cannot make a %lu x %lu texture", powW, powH);
        return false;
    }

    // The texture starts transparent black rather than with whatever GL hands out.
    std::unique_ptr<void, decltype(&std::free)> data(std::calloc(powW * powH, 4), &std::free);
    if (!data) {
        CCLOG("CCRenderTexture: not enough memory for a %lu x %lu texture", powW, powH);
        return false;
    }
    _pixelFormat = format;
    auto texture = platform::make<CCTexture2D>();
    const bool made = texture->initWithData(data.get(), format, powW, powH, CGSizeMake(w, h));
    data.reset();
    if (!made) return false;
    _texture = texture;

    GLint oldRBO = 0;
    glCheck(glGetIntegerv(GL_RENDERBUFFER_BINDING, &oldRBO));

    glCheck(glGenFramebuffers(1, &_FBO));
    _home = platform::GLHome::current();
    glCheck(glBindFramebuffer(GL_FRAMEBUFFER, _FBO));
    glCheck(glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, _texture->name(), 0));

    if (depthStencilFormat) {
        glCheck(glGenRenderbuffers(1, &_depthRenderBufffer));
        glCheck(glBindRenderbuffer(GL_RENDERBUFFER, _depthRenderBufffer));
        glCheck(glRenderbufferStorage(GL_RENDERBUFFER, depthStencilFormat, static_cast<GLsizei>(powW),
                                      static_cast<GLsizei>(powH)));
        glCheck(glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                          _depthRenderBufffer));
        if (depthStencilFormat == GL_DEPTH24_STENCIL8_OES)
            glCheck(glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                                              _depthRenderBufffer));
    }

    // A framebuffer GL cannot draw into (a format that is not colour-renderable, a bad depth
    // format) would silently swallow every draw: refuse it here instead.
    GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    CHECK_GL_ERROR_DEBUG();
    if (status == GL_FRAMEBUFFER_COMPLETE && _depthRenderBufffer) clearNewDepthStencil();
    glCheck(glBindRenderbuffer(GL_RENDERBUFFER, static_cast<GLuint>(oldRBO)));
    glCheck(glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(_oldFBO)));
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        CCLOG("CCRenderTexture: the framebuffer is not complete (0x%04X)", static_cast<unsigned>(status));
        // Drain what the bad storage request left, so the next checked call is not blamed.
        while (glGetError() != GL_NO_ERROR) {
        }
        releaseGL();
        _texture = nullptr;
        return false;
    }

    _texture->setAliasTexParameters();
    // What is drawn into it is blended, so its colours are premultiplied: any sprite made of it,
    // its own below included, then draws it with (GL_ONE, GL_ONE_MINUS_SRC_ALPHA) and folds its
    // opacity into its colour.
    _texture->_hasPremultipliedAlpha = true;
    _sprite = CCSprite::spriteWithTexture(_texture.get());
    if (!_sprite) {
        releaseGL();
        _texture = nullptr;
        return false;
    }
    _sprite->setScaleY(-1);

    _autoDraw = false;
    addChild(_sprite.get());
    return true;
}

void CCRenderTexture::begin() {
    CCDirector* director = CCDirector::sharedDirector();
    // Read before the director's projection below resets the viewport.
    _nestedCapture = openCaptures > 0;
    if (_nestedCapture) glCheck(glGetIntegerv(GL_VIEWPORT, _oldViewport));
    ++openCaptures;

    matrixMode(kCCMatrixModeProjection);
    matrixPush();
    matrixMode(kCCMatrixModeModelView);
    matrixPush();
    director->setProjection(director->projection());

    const CGSize texSize = _texture ? _texture->contentSizeInPixels() : CGSizeZero;
    const CGSize winSize = director->winSizeInPixels();
    // A window or texture without size has no ratio: keep the scale rather than divide by 0.
    float widthRatio = 1, heightRatio = 1;
    if (winSize.width > 0 && texSize.width > 0)
        widthRatio = static_cast<float>(winSize.width / texSize.width);
    if (winSize.height > 0 && texSize.height > 0)
        heightRatio = static_cast<float>(winSize.height / texSize.height);

    glCheck(glViewport(0, 0, static_cast<GLsizei>(texSize.width), static_cast<GLsizei>(texSize.height)));

    // World coordinates keep their window positions inside the texture.
    kmMat4 orthoMatrix;
    mat4Orthographic(&orthoMatrix, -1.0f / widthRatio, 1.0f / widthRatio, -1.0f / heightRatio,
                     1.0f / heightRatio, -1, 1);
    matrixMultiply(&orthoMatrix);
    // A grid drawn into the texture draws its picture from here, not from the window's start.
    kmCaptureModelView start{true, {}};
    matrixGet(kCCMatrixModeModelView, &start.matrix);
    _outerCaptureModelView = std::exchange(matrixCaptureModelView(), start);

    GLint oldFBO = 0;
    glCheck(glGetIntegerv(GL_FRAMEBUFFER_BINDING, &oldFBO));
    _oldFBO = oldFBO;
    glCheck(glBindFramebuffer(GL_FRAMEBUFFER, _FBO));
    // Clipping nodes drawn into the texture clip against its own stencil alone, and nodes
    // drawn into it are captured whole whatever clips the texture itself.
    _enclosingStencil = CCClippingNode::beginCapture();
}

void CCRenderTexture::clearBuffers(GLbitfield flags, _ccColor4F color, float depthValue, int stencilValue) {
    GLfloat oldColor[4] = {0, 0, 0, 0};
    GLfloat oldDepth = 0;
    GLint oldStencil = 0;
    if (flags & GL_COLOR_BUFFER_BIT) {
        glCheck(glGetFloatv(GL_COLOR_CLEAR_VALUE, oldColor));
        glCheck(glClearColor(color.r, color.g, color.b, color.a));
    }
    if (flags & GL_DEPTH_BUFFER_BIT) {
        glCheck(glGetFloatv(GL_DEPTH_CLEAR_VALUE, &oldDepth));
        glCheck(glClearDepthf(depthValue));
    }
    if (flags & GL_STENCIL_BUFFER_BIT) {
        glCheck(glGetIntegerv(GL_STENCIL_CLEAR_VALUE, &oldStencil));
        glCheck(glClearStencil(stencilValue));
    }
    glCheck(glClear(flags));
    if (flags & GL_COLOR_BUFFER_BIT)
        glCheck(glClearColor(oldColor[0], oldColor[1], oldColor[2], oldColor[3]));
    if (flags & GL_DEPTH_BUFFER_BIT) glCheck(glClearDepthf(oldDepth));
    if (flags & GL_STENCIL_BUFFER_BIT) glCheck(glClearStencil(oldStencil));
}

void CCRenderTexture::clearNewDepthStencil() {
    // GL leaves a new renderbuffer undefined (Mesa zeroes it, which fails every depth test):
    // depth starts at its far end and stencil at 0, as the colour starts zeroed. Whatever
    // masks and scissor the game set stay as they were.
    const bool scissor = glIsEnabled(GL_SCISSOR_TEST) == GL_TRUE;
    GLboolean depthMask = GL_TRUE;
    GLint stencilMask = 0;
    glCheck(glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask));
    glCheck(glGetIntegerv(GL_STENCIL_WRITEMASK, &stencilMask));
    if (scissor) glCheck(glDisable(GL_SCISSOR_TEST));
    glCheck(glDepthMask(GL_TRUE));
    glCheck(glStencilMask(~0u));
    // Without a stencil attachment the stencil bit clears nothing.
    clearBuffers(GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT, _ccColor4F{0, 0, 0, 0}, 1, 0);
    glCheck(glStencilMask(static_cast<GLuint>(stencilMask)));
    glCheck(glDepthMask(depthMask));
    if (scissor) glCheck(glEnable(GL_SCISSOR_TEST));
}

void CCRenderTexture::beginWithClear(float r, float g, float b, float a, float depthValue, int stencilValue,
                                     GLbitfield flags) {
    begin();
    clearBuffers(flags, _ccColor4F{r, g, b, a}, depthValue, stencilValue);
}

void CCRenderTexture::beginWithClear(float r, float g, float b, float a) {
    beginWithClear(r, g, b, a, 0, 0, GL_COLOR_BUFFER_BIT);
}

void CCRenderTexture::beginWithClear(float r, float g, float b, float a, float depthValue) {
    beginWithClear(r, g, b, a, depthValue, 0, GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void CCRenderTexture::beginWithClear(float r, float g, float b, float a, float depthValue, int stencilValue) {
    beginWithClear(r, g, b, a, depthValue, stencilValue,
                   GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

void CCRenderTexture::end() {
    CCDirector* director = CCDirector::sharedDirector();
    glCheck(glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(_oldFBO)));
    CCClippingNode::endCapture(_enclosingStencil);
    if (_nestedCapture)
        glCheck(glViewport(_oldViewport[0], _oldViewport[1], _oldViewport[2], _oldViewport[3]));
    else
        director->setViewport();
    if (openCaptures > 0) --openCaptures;
    matrixCaptureModelView() = _outerCaptureModelView;
    matrixMode(kCCMatrixModeProjection);
    matrixPop();
    matrixMode(kCCMatrixModeModelView);
    matrixPop();
}

void CCRenderTexture::clear(float r, float g, float b, float a) {
    beginWithClear(r, g, b, a);
    end();
}

void CCRenderTexture::clearDepth(float depthValue) {
    begin();
    clearBuffers(GL_DEPTH_BUFFER_BIT, _ccColor4F{0, 0, 0, 0}, depthValue, 0);
    end();
}

void CCRenderTexture::clearStencil(int stencilValue) {
    clearBuffers(GL_STENCIL_BUFFER_BIT, _ccColor4F{0, 0, 0, 0}, 0, stencilValue);
}

void CCRenderTexture::visit() {
    if (!_visible) return;
    VisitScope scope; // a throw from a child's draw undoes the push and the grid's capture
    const bool gridActive = _grid && _grid->active();
    if (gridActive) {
        scope.beginGrid(_grid.get());
        transformAncestors();
    }
    transform();
    if (_sprite) {
        platform::Ref<CCSprite> sprite = _sprite;
        sprite->visit();
    }
    draw();
    if (gridActive) scope.endGrid(_grid.get(), this);
    _orderOfArrival = 0;
}

void CCRenderTexture::draw() {
    if (!_autoDraw) return;
    begin();
    try {
        if (_clearFlags) clearBuffers(_clearFlags, _clearColor, _clearDepth, _clearStencil);
        if (_children) {
            sortAllChildren();
            // By index, holding the child being drawn, in case a draw changes the children.
            for (std::uint64_t i = 0; i < _children->count(); ++i) {
                platform::Ref<CCNode> child = static_cast<CCNode*>(_children->objectAtIndex(i));
                if (child.get() != _sprite.get()) child->visit();
            }
        }
    } catch (...) {
        // Back to the earlier framebuffer, viewport and matrices before the throw goes on.
        end();
        throw;
    }
    end();
}

platform::Ref<platform::Image> CCRenderTexture::newCGImage() {
    if (!_texture || !_FBO) return nullptr;
    const CGSize size = _texture->contentSizeInPixels();
    const std::uint32_t tx = static_cast<std::uint32_t>(size.width),
                        ty = static_cast<std::uint32_t>(size.height);
    if (tx == 0 || ty == 0) return nullptr;
    const std::size_t rowBytes = std::size_t(tx) * 4;
    std::vector<std::uint8_t> read, flipped;
    try {
        read.assign(rowBytes * ty, 0);
        flipped.assign(rowBytes * ty, 0);
    } catch (const std::bad_alloc&) {
        CCLOG("CCRenderTexture: not enough memory to read %u x %u pixels", tx, ty);
        return nullptr;
    }

    begin();
    // Rows are read tightly packed, whatever the unpacking code left behind.
    GLint oldPack = 4;
    glCheck(glGetIntegerv(GL_PACK_ALIGNMENT, &oldPack));
    glCheck(glPixelStorei(GL_PACK_ALIGNMENT, 1));
    glCheck(glReadPixels(0, 0, static_cast<GLsizei>(tx), static_cast<GLsizei>(ty), GL_RGBA, GL_UNSIGNED_BYTE,
                         read.data()));
    glCheck(glPixelStorei(GL_PACK_ALIGNMENT, oldPack));
    end();

    // GL's rows run bottom-up; images run top-down.
    for (std::uint32_t y = 0; y < ty; ++y)
        std::memcpy(&flipped[std::size_t(y) * rowBytes], &read[std::size_t(ty - 1 - y) * rowBytes], rowBytes);
    return platform::Image::imageWithPixels(flipped.data(), tx, ty, platform::ImageColorSpace::RGB,
                                            platform::ImageAlphaInfo::PremultipliedLast);
}

platform::Ref<platform::Image> CCRenderTexture::getUIImage() {
    return newCGImage();
}

bool CCRenderTexture::saveToFile(const std::string& fileName) {
    return saveToFile(fileName, kCCImageFormatJPEG);
}

bool CCRenderTexture::saveToFile(const std::string& fileName, tCCImageFormat format) {
    // The name may come from a player: a byte 0 would cut it to another of the game's files,
    // and "", ".", "shots/.." or "shots/" name a folder (Documents itself, maybe). Refused
    // before the picture is even read back.
    if (const char* fault = platform::Paths::fileNameFault(fileName)) {
        CCLOG("engine: CCRenderTexture: \"%s\" is not saved: %s", platform::Paths::printablePath(fileName),
              fault);
        return false;
    }
    const std::string documents = platform::Paths::documentsDirectory();
    if (documents.empty()) return false;
    // It stays inside Documents.
    const std::string fullPath = platform::Paths::stringByAppendingPathInside(documents, fileName);
    if (fullPath.empty()) {
        CCLOG("engine: CCRenderTexture: %s is not saved: a file name must stay inside the Documents "
              "directory (not absolute, no \"..\" leading out of it)",
              fileName);
        return false;
    }

    platform::Ref<platform::Image> image = newCGImage();
    if (!image) return false;

    std::vector<std::uint8_t> data;
    if (format == kCCImageFormatJPEG)
        data = image->jpegData(90);
    else if (format == kCCImageFormatPNG)
        data = image->pngData();
    else
        return false;
    // Folders the name asks for are made; a failure shows in the write.
    std::error_code ignored;
    std::filesystem::create_directories(platform::Paths::stringByDeletingLastPathComponent(fullPath),
                                        ignored);
    return platform::Image::writeFile(fullPath, data);
}

CGSize CCRenderTexture::contentSize() const {
    return _texture ? _texture->contentSize() : CGSizeZero;
}

void CCRenderTexture::setContentSize(CGSize) {}

void CCRenderTexture::setSprite(CCSprite* sprite) {
    _sprite = sprite;
}
