#include "actions/CCGrid.h"

#include "core/CCCamera.h"
#include "core/CCGLProgram.h"
#include "core/CCGLView.h"
#include "core/CCMatrix.h"
#include "core/CCNode.h"
#include "core/CCPointExtension.h"
#include "core/CCShaderCache.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCClippingNode.h"
#include "graphics/CCTexture2D.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/GLCheck.h"
#include "platform/GLContext.h"
#include "platform/Log.h"

#include <GLES2/gl2ext.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <utility>

using platform::Ref;

namespace {

[[noreturn]] void raiseAbstract() {
    throw platform::Exception("GridBase", "Abstract class needs implementation");
}

// A grid dimension: a whole number of cells, at least 1.
bool isWholeCount(double value) {
    return std::isfinite(value) && value >= 1 && value <= 65535 && std::floor(value) == value;
}

} // namespace

// ---- CCGrabber -----------------------------------------------------------------------------

CCGrabber::~CCGrabber() {
    if (_FBO != 0 && platform::GLContext::currentSerial() == _home.contextSerial())
        CCClippingNode::forgetFramebuffer(_FBO);
    glCacheDeleteObjects(platform::GLObjectKind::Framebuffer, 1, &_FBO, _home);
    deleteDepthStencil();
}

bool CCGrabber::init() {
    glCacheDeleteWaitingFirst();
    _home = platform::GLHome::current();
    glCheck(glGenFramebuffers(1, &_FBO));
    return true;
}

void CCGrabber::attachDepthStencil(CCTexture2D* texture, GLenum format) {
    glCacheDeleteWaitingFirst();
    GLint oldRBO = 0;
    glCheck(glGetIntegerv(GL_RENDERBUFFER_BINDING, &oldRBO));
    glCheck(glGenRenderbuffers(1, &_depthStencil));
    glCheck(glBindRenderbuffer(GL_RENDERBUFFER, _depthStencil));
    // The texture's whole size, not the window's: ES 2 wants every attachment the same size.
    glCheck(glRenderbufferStorage(GL_RENDERBUFFER, format, static_cast<GLsizei>(texture->pixelsWide()),
                                  static_cast<GLsizei>(texture->pixelsHigh())));
    glCheck(glBindRenderbuffer(GL_RENDERBUFFER, static_cast<GLuint>(oldRBO)));
    glCheck(glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, _depthStencil));
    glCheck(glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_RENDERBUFFER, _depthStencil));
}

void CCGrabber::deleteDepthStencil() {
    if (_depthStencil == 0) return;
    // Deleting it also detaches it from the framebuffer when that is bound.
    glCacheDeleteObjects(platform::GLObjectKind::Renderbuffer, 1, &_depthStencil, _home);
    _depthStencil = 0;
}

void CCGrabber::grab(CCTexture2D* texture) {
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &_oldFBO);
    CHECK_GL_ERROR_DEBUG();
    glCheck(glBindFramebuffer(GL_FRAMEBUFFER, _FBO));
    glCheck(glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                                   texture ? texture->name() : 0, 0));
    deleteDepthStencil();
    const GLenum depthStencilFormat = texture ? CCClippingNode::viewDepthStencilFormat() : 0;
    if (depthStencilFormat) attachDepthStencil(texture, depthStencilFormat);
    GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE && _depthStencil != 0) {
        // GL refused the buffer (out of memory, say): the capture still works without it, as
        // it did before it had one.
        deleteDepthStencil();
        while (glGetError() != GL_NO_ERROR) {
        }
        CCLOG("CCGrabber: no depth-stencil buffer for the capture; clipping nodes in it draw unclipped");
        status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    }
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        // Leave the earlier binding in place before reporting.
        glCheck(glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(_oldFBO)));
        throw platform::Exception("Frame Grabber", "Could not attach texture to framebuffer");
    }
    glCheck(glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(_oldFBO)));
}

void CCGrabber::beforeRender(CCTexture2D*) {
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &_oldFBO);
    CHECK_GL_ERROR_DEBUG();
    glCheck(glBindFramebuffer(GL_FRAMEBUFFER, _FBO));
    // Clipping nodes in the capture clip against its stencil alone (each layer clears its own
    // bit first); those around the grid's node clip its picture when it is drawn.
    _enclosingStencil = CCClippingNode::beginCapture();
    glGetFloatv(GL_COLOR_CLEAR_VALUE, oldClearColor_);
    CHECK_GL_ERROR_DEBUG();
    glCheck(glClearColor(0, 0, 0, 0));
    glCheck(glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT));
}

void CCGrabber::afterRender(CCTexture2D*) {
    glCheck(glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(_oldFBO)));
    CCClippingNode::endCapture(_enclosingStencil);
    glCheck(glClearColor(oldClearColor_[0], oldClearColor_[1], oldClearColor_[2], oldClearColor_[3]));
}

// ---- CCGridBase ----------------------------------------------------------------------------

Ref<CCGridBase> CCGridBase::gridWithSize(CGSize gridSize) {
    Ref<CCGridBase> grid = platform::make<CCGridBase>();
    if (!grid->initWithSize(gridSize)) return nullptr;
    return grid;
}

Ref<CCGridBase> CCGridBase::gridWithSize(CGSize gridSize, CCTexture2D* texture, bool flipped) {
    Ref<CCGridBase> grid = platform::make<CCGridBase>();
    if (!grid->initWithSize(gridSize, texture, flipped)) return nullptr;
    return grid;
}

CCGridBase::~CCGridBase() = default;

bool CCGridBase::initWithSize(CGSize gridSize, CCTexture2D* texture, bool flipped) {
    // A size of no cells would divide the texture by zero, and one past the 16-bit indices
    // would draw the wrong points: both are refused, so the node keeps drawing normally.
    if (!texture || !isWholeCount(gridSize.width) || !isWholeCount(gridSize.height)) return false;
    if (!fitsIndices(static_cast<std::uint64_t>(gridSize.width), static_cast<std::uint64_t>(gridSize.height)))
        return false;

    _active = false;
    _reuseGrid = 0;
    _gridSize = gridSize;
    setTexture(texture);
    _isTextureFlipped = flipped;

    CGSize texSize = _texture->contentSize();
    _step = CGPointMake(texSize.width / _gridSize.width, texSize.height / _gridSize.height);

    _grabber = platform::make<CCGrabber>();
    if (!_grabber->init()) return false;
    _grabber->grab(_texture.get());

    setShaderProgram(CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTexture));
    calculateVertexPoints();
    return true;
}

bool CCGridBase::initWithSize(CGSize gridSize) {
    CCDirector* director = CCDirector::sharedDirector();
    CGSize s = director->winSizeInPixels();

    std::uint64_t pow2Wide = nextPowerOfTwo(static_cast<std::uint64_t>(s.width));
    std::uint64_t pow2High = nextPowerOfTwo(static_cast<std::uint64_t>(s.height));
    if (pow2Wide == 0 || pow2High == 0) return false;

    bool rgb565 = director->view() && director->view()->pixelFormat() == kEAGLColorFormatRGB565;
    std::uint64_t bytesPerPixel = rgb565 ? 2 : 4;
    CCTexture2DPixelFormat format =
        rgb565 ? kCCTexture2DPixelFormat_RGB565 : kCCTexture2DPixelFormat_RGBA8888;

    std::unique_ptr<void, decltype(&std::free)> data(std::calloc(pow2Wide * pow2High, bytesPerPixel),
                                                     &std::free);
    if (!data) return false;

    Ref<CCTexture2D> texture = platform::make<CCTexture2D>();
    if (!texture->initWithData(data.get(), format, pow2Wide, pow2High, s)) return false;
    data.reset();

    return initWithSize(gridSize, texture.get(), false);
}

std::string CCGridBase::description() const {
    return platform::format("<%s = %p | Dimensions = %ldx%ld>", className().c_str(),
                            static_cast<const void*>(this), static_cast<long>(_gridSize.width),
                            static_cast<long>(_gridSize.height));
}

void CCGridBase::setActive(bool active) {
    _active = active;
    if (!active) {
        CCDirector* director = CCDirector::sharedDirector();
        director->setProjection(director->projection());
    }
}

void CCGridBase::setIsTextureFlipped(bool flipped) {
    if (_isTextureFlipped == flipped) return;
    _isTextureFlipped = flipped;
    calculateVertexPoints();
}

void CCGridBase::setTexture(CCTexture2D* texture) {
    _texture = texture;
}

void CCGridBase::setGrabber(CCGrabber* grabber) {
    _grabber = grabber;
}

void CCGridBase::setShaderProgram(CCGLProgram* program) {
    _shaderProgram = program;
}

void CCGridBase::set2DProjection() {
    CGSize size = CCDirector::sharedDirector()->winSizeInPixels();
    glCheck(glViewport(0, 0, static_cast<GLsizei>(size.width), static_cast<GLsizei>(size.height)));

    matrixMode(kCCMatrixModeProjection);
    matrixLoadIdentity();
    kmMat4 ortho;
    mat4Orthographic(&ortho, 0, static_cast<float>(size.width), 0, static_cast<float>(size.height), -1, 1);
    matrixMultiply(&ortho);

    matrixMode(kCCMatrixModeModelView);
    matrixLoadIdentity();

    glCacheSetProjectionDirty();
}

void CCGridBase::beforeDraw() {
    _directorProjection = CCDirector::sharedDirector()->projection();
    glCheck(glGetIntegerv(GL_VIEWPORT, _oldViewport));
    matrixGet(kCCMatrixModeProjection, &_oldProjection);
    set2DProjection();
    kmCaptureModelView start{true, {}};
    mat4Identity(&start.matrix);
    _outerCaptureModelView = std::exchange(matrixCaptureModelView(), start);
    if (_grabber) _grabber->beforeRender(_texture.get());
}

void CCGridBase::restoreProjection() {
    // On the window, the director's projection gives all; inside another capture (a render
    // texture, another grid) the viewport, projection and starting model-view are its own.
    CCDirector::sharedDirector()->setProjection(_directorProjection);
    glCheck(glViewport(_oldViewport[0], _oldViewport[1], _oldViewport[2], _oldViewport[3]));
    matrixMode(kCCMatrixModeProjection);
    matrixLoadIdentity();
    matrixMultiply(&_oldProjection);
    matrixMode(kCCMatrixModeModelView);
    matrixCaptureModelView() = _outerCaptureModelView;
    if (_outerCaptureModelView.set) {
        matrixLoadIdentity();
        matrixMultiply(&_outerCaptureModelView.matrix);
    }
    glCacheSetProjectionDirty();
}

void CCGridBase::afterDraw(CCNode* target) {
    if (_grabber) _grabber->afterRender(_texture.get());
    restoreProjection();

    if (target) {
        CCCamera* camera = target->camera();
        if (camera && camera->dirty()) {
            CGPoint offset = target->anchorPointInPoints();
            matrixTranslate(static_cast<float>(offset.x), static_cast<float>(offset.y), 0);
            camera->locate();
            matrixTranslate(static_cast<float>(-offset.x), static_cast<float>(-offset.y), 0);
        }
    }

    glCacheBindTexture2D(_texture ? _texture->name() : 0);
    blit();
}

void CCGridBase::abandonDraw() {
    if (_grabber) _grabber->afterRender(_texture.get());
    restoreProjection();
}

void CCGridBase::blit() {
    raiseAbstract();
}

void CCGridBase::reuse() {
    raiseAbstract();
}

void CCGridBase::calculateVertexPoints() {
    raiseAbstract();
}

bool CCGridBase::fitsIndices(std::uint64_t, std::uint64_t) const {
    return true;
}

void CCGridBase::texCoordsFor(float px, float py, float* uv) const {
    float width = static_cast<float>(_texture->pixelsWide());
    float height = static_cast<float>(_texture->pixelsHigh());
    float imageH = static_cast<float>(_texture->contentSizeInPixels().height);
    uv[0] = px / width;
    uv[1] = _isTextureFlipped ? (imageH - py) / height : py / height;
}

namespace {

// Draws triangles from client memory with the grid's program: positions of 3 floats and
// texture coordinates of 2 floats a vertex. The captured picture was blended into transparent
// black, so its colours are premultiplied: it goes over what lies below as such, whatever blend
// the last node drawn left.
void drawMesh(CCGLProgram* program, const void* vertices, const GLfloat* texCoordinates,
              const GLushort* indices, std::uint64_t indexCount) {
    glCacheBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glCacheEnableVertexAttribs(kCCVertexAttribFlag_Position | kCCVertexAttribFlag_TexCoords);
    if (program) {
        program->use();
        program->setUniformsForBuiltins();
    }
    if (indexCount == 0) return;
    glCheck(glVertexAttribPointer(kCCVertexAttrib_Position, 3, GL_FLOAT, GL_FALSE, 0, vertices));
    glCheck(glVertexAttribPointer(kCCVertexAttrib_TexCoords, 2, GL_FLOAT, GL_FALSE, 0, texCoordinates));
    glCheck(glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(indexCount), GL_UNSIGNED_SHORT, indices));
    ++drawCallCounter;
}

} // namespace

// ---- CCGrid3D ------------------------------------------------------------------------------

bool CCGrid3D::fitsIndices(std::uint64_t w, std::uint64_t h) const {
    return (w + 1) * (h + 1) <= 65536;
}

void CCGrid3D::blit() {
    // The fold's drawing order is needed for as long as the mesh is folded, whatever effect
    // moves it now; flat again, it draws in its own order.
    if (_foldsOverItself && std::equal(_vertices.begin(), _vertices.end(), _flatVertices.begin(),
                                       _flatVertices.end(), [](const _ccVertex3F& a, const _ccVertex3F& b) {
                                           return a.x == b.x && a.y == b.y && a.z == b.z;
                                       }))
        _foldsOverItself = false;
    if (!_foldsOverItself) {
        drawMesh(_shaderProgram.get(), _vertices.data(), _texCoordinates.data(), _indices.data(),
                 _indices.size());
        return;
    }
    // Whole triangles painted far to near put the fold over what lies under it on any target,
    // with or without a depth buffer, and leave the depth state to the game: a curled page never
    // passes through itself, so the picture is the depth test's but along the crease. It costs
    // no second full-screen pass and no extra depth target, only a sort of a few hundred
    // triangles.
    sortTrianglesFarToNear();
    drawMesh(_shaderProgram.get(), _vertices.data(), _texCoordinates.data(), _sortedIndices.data(),
             _sortedIndices.size());
}

void CCGrid3D::sortTrianglesFarToNear() {
    // Eye-space z grows towards the viewer under every projection the director sets, and the
    // depth test orders by the same.
    kmMat4 mv;
    matrixGet(kCCMatrixModeModelView, &mv);
    const float* m = mv.mat;
    _eyeDepths.resize(_vertices.size());
    for (std::size_t i = 0; i < _vertices.size(); ++i) {
        const _ccVertex3F& v = _vertices[i];
        _eyeDepths[i] = m[2] * v.x + m[6] * v.y + m[10] * v.z + m[14];
    }
    const std::size_t triangles = _indices.size() / 3;
    _triangleDepths.resize(triangles);
    for (std::size_t t = 0; t < triangles; ++t) {
        const GLushort* tri = &_indices[t * 3];
        _triangleDepths[t] = {_eyeDepths[tri[0]] + _eyeDepths[tri[1]] + _eyeDepths[tri[2]],
                              static_cast<std::uint32_t>(t)};
    }
    // The triangle number breaks ties, so a flat mesh draws in its own order.
    std::sort(_triangleDepths.begin(), _triangleDepths.end());
    _sortedIndices.resize(triangles * 3);
    for (std::size_t t = 0; t < triangles; ++t) {
        const GLushort* tri = &_indices[std::size_t{_triangleDepths[t].second} * 3];
        std::copy(tri, tri + 3, &_sortedIndices[t * 3]);
    }
}

void CCGrid3D::calculateVertexPoints() {
    const std::uint64_t w = columns(), h = rows();
    const std::uint64_t points = (w + 1) * (h + 1);

    _vertices.assign(points, _ccVertex3F{});
    _originalVertices.assign(points, _ccVertex3F{});
    _texCoordinates.assign(points * 2, 0.0f);
    _indices.assign(w * h * 6, 0);

    for (std::uint64_t x = 0; x < w; ++x) {
        for (std::uint64_t y = 0; y < h; ++y) {
            const std::uint64_t idx = (y * w) + x;
            const float x1 = static_cast<float>(static_cast<double>(x) * _step.x);
            const float x2 = static_cast<float>(x1 + _step.x);
            const float y1 = static_cast<float>(static_cast<double>(y) * _step.y);
            const float y2 = static_cast<float>(y1 + _step.y);

            const GLushort a = static_cast<GLushort>(x * (h + 1) + y);
            const GLushort b = static_cast<GLushort>((x + 1) * (h + 1) + y);
            const GLushort c = static_cast<GLushort>((x + 1) * (h + 1) + (y + 1));
            const GLushort d = static_cast<GLushort>(x * (h + 1) + (y + 1));

            const GLushort tempIdx[6] = {a, b, d, b, c, d};
            for (int i = 0; i < 6; ++i)
                _indices[idx * 6 + static_cast<std::uint64_t>(i)] = tempIdx[i];

            const GLushort corner[4] = {a, b, c, d};
            const float px[4] = {x1, x2, x2, x1};
            const float py[4] = {y1, y1, y2, y2};
            for (int i = 0; i < 4; ++i) {
                _vertices[corner[i]] = _ccVertex3F{px[i], py[i], 0};
                texCoordsFor(px[i], py[i], &_texCoordinates[std::size_t{corner[i]} * 2]);
            }
        }
    }
    _originalVertices = _vertices;
    _flatVertices = _vertices;
}

std::int64_t CCGrid3D::indexOf(CGPoint pos) const {
    if (!(pos.x >= 0 && pos.x <= _gridSize.width && pos.y >= 0 && pos.y <= _gridSize.height)) return -1;
    auto index = static_cast<std::int64_t>((_gridSize.height + 1) * pos.x + pos.y);
    if (index < 0 || static_cast<std::uint64_t>(index) >= _vertices.size()) return -1;
    return index;
}

_ccVertex3F CCGrid3D::vertex(CGPoint pos) const {
    std::int64_t index = indexOf(pos);
    return index < 0 ? _ccVertex3F{} : _vertices[static_cast<std::size_t>(index)];
}

_ccVertex3F CCGrid3D::originalVertex(CGPoint pos) const {
    std::int64_t index = indexOf(pos);
    return index < 0 ? _ccVertex3F{} : _originalVertices[static_cast<std::size_t>(index)];
}

void CCGrid3D::setVertex(CGPoint pos, const _ccVertex3F& vertex) {
    std::int64_t index = indexOf(pos);
    if (index >= 0) _vertices[static_cast<std::size_t>(index)] = vertex;
}

void CCGrid3D::reuse() {
    if (_reuseGrid > 0) {
        _originalVertices = _vertices;
        --_reuseGrid;
    }
}

// ---- CCTiledGrid3D -------------------------------------------------------------------------

bool CCTiledGrid3D::fitsIndices(std::uint64_t w, std::uint64_t h) const {
    return 4 * w * h <= 65536;
}

void CCTiledGrid3D::blit() {
    drawMesh(_shaderProgram.get(), _vertices.data(), _texCoordinates.data(), _indices.data(),
             _indices.size());
}

void CCTiledGrid3D::calculateVertexPoints() {
    const std::uint64_t w = columns(), h = rows();
    const std::uint64_t n = w * h;

    _vertices.assign(n, _ccQuad3{});
    _originalVertices.assign(n, _ccQuad3{});
    _texCoordinates.assign(n * 8, 0.0f);
    _indices.assign(n * 6, 0);

    std::uint64_t quad = 0;
    for (std::uint64_t x = 0; x < w; ++x) {
        for (std::uint64_t y = 0; y < h; ++y, ++quad) {
            const float x1 = static_cast<float>(static_cast<double>(x) * _step.x);
            const float x2 = static_cast<float>(x1 + _step.x);
            const float y1 = static_cast<float>(static_cast<double>(y) * _step.y);
            const float y2 = static_cast<float>(y1 + _step.y);

            _vertices[quad] = _ccQuad3{{x1, y1, 0}, {x2, y1, 0}, {x1, y2, 0}, {x2, y2, 0}};
            GLfloat* uv = &_texCoordinates[quad * 8];
            texCoordsFor(x1, y1, uv);
            texCoordsFor(x2, y1, uv + 2);
            texCoordsFor(x1, y2, uv + 4);
            texCoordsFor(x2, y2, uv + 6);
        }
    }
    for (std::uint64_t k = 0; k < n; ++k) {
        const auto base = static_cast<GLushort>(k * 4);
        GLushort* out = &_indices[k * 6];
        out[0] = base;
        out[1] = static_cast<GLushort>(base + 1);
        out[2] = static_cast<GLushort>(base + 2);
        out[3] = static_cast<GLushort>(base + 1);
        out[4] = static_cast<GLushort>(base + 2);
        out[5] = static_cast<GLushort>(base + 3);
    }
    _originalVertices = _vertices;
}

std::int64_t CCTiledGrid3D::indexOf(CGPoint pos) const {
    if (!(pos.x >= 0 && pos.x < _gridSize.width && pos.y >= 0 && pos.y < _gridSize.height)) return -1;
    auto index = static_cast<std::int64_t>(_gridSize.height * pos.x + pos.y);
    if (index < 0 || static_cast<std::uint64_t>(index) >= _vertices.size()) return -1;
    return index;
}

void CCTiledGrid3D::setTile(CGPoint pos, const _ccQuad3& coords) {
    std::int64_t index = indexOf(pos);
    if (index >= 0) _vertices[static_cast<std::size_t>(index)] = coords;
}

_ccQuad3 CCTiledGrid3D::originalTile(CGPoint pos) const {
    std::int64_t index = indexOf(pos);
    return index < 0 ? _ccQuad3{} : _originalVertices[static_cast<std::size_t>(index)];
}

_ccQuad3 CCTiledGrid3D::tile(CGPoint pos) const {
    std::int64_t index = indexOf(pos);
    return index < 0 ? _ccQuad3{} : _vertices[static_cast<std::size_t>(index)];
}

void CCTiledGrid3D::reuse() {
    if (_reuseGrid > 0) {
        _originalVertices = _vertices;
        --_reuseGrid;
    }
}
