#include "graphics/CCSprite.h"

#include "core/CCArray.h"
#include "core/CCDirector.h"
#include "core/CCGLProgram.h"
#include "core/CCShaderCache.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCAnimation.h"
#include "graphics/CCAnimationCache.h"
#include "graphics/CCSpriteBatchNode.h"
#include "graphics/CCSpriteFrame.h"
#include "graphics/CCSpriteFrameCache.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureAtlas.h"
#include "graphics/CCTextureCache.h"
#include "platform/Device.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/GLCheck.h"

#include <cstddef>

namespace {

inline CCNode* childAt(const CCArray* children, std::uint64_t i) {
    return static_cast<CCNode*>(children->objectAtIndex(i));
}

// Children of a sprite are sprites by contract; anything else is skipped, never trusted.
inline CCSprite* spriteChildAt(const CCArray* children, std::uint64_t i) {
    return dynamic_cast<CCSprite*>(childAt(children, i));
}

inline GLuint glNameOf(const CCTexture2D* texture) {
    return texture ? texture->name() : 0;
}

CGRect rectToPixels(CGRect r) {
    double f = platform::contentScaleFactor();
    return CGRectMake(r.origin.x * f, r.origin.y * f, r.size.width * f, r.size.height * f);
}

} // namespace

platform::Ref<CCSprite> CCSprite::node() {
    return makeNode<CCSprite>();
}

CCSprite::CCSprite() = default;
CCSprite::~CCSprite() = default;

// ---- initialisers ------------------------------------------------------------------------

bool CCSprite::init() {
    return initWithTexture(nullptr, CGRectZero, false);
}

bool CCSprite::initWithTexture(CCTexture2D* texture, CGRect rect, bool rotated) {
    if (!CCNodeRGBA::init()) return false;
    setShaderProgram(CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTextureColor));

    _recursiveDirty = _dirty = false;
    _opacityModifyRGB = true;
    _blendFunc = {GL_ONE, GL_ONE_MINUS_SRC_ALPHA};
    _flipX = _flipY = false;
    setAnchorPoint(CGPointMake(0.5, 0.5));
    _offsetPosition = CGPointZero;
    _hasChildren = false;
    _batchNode = nullptr;

    _quad = _ccV3F_C4B_T2F_Quad{};
    const _ccColor4B white{255, 255, 255, 255};
    _quad.bl.colors = _quad.br.colors = _quad.tl.colors = _quad.tr.colors = white;

    setTexture(texture);
    setTextureRect(rect, rotated, rect.size);
    setBatchNode(nullptr);
    return true;
}

bool CCSprite::initWithTexture(CCTexture2D* texture, CGRect rect) {
    return initWithTexture(texture, rect, false);
}

bool CCSprite::initWithTexture(CCTexture2D* texture) {
    CGRect rect = CGRectZero;
    if (texture) rect.size = texture->contentSize();
    return initWithTexture(texture, rect);
}

bool CCSprite::initWithFile(const std::string& filename) {
    platform::Ref<CCTexture2D> texture = CCTextureCache::sharedTextureCache()->addImage(filename);
    if (!texture) return false;
    CGRect rect = CGRectZero;
    rect.size = texture->contentSize();
    return initWithTexture(texture.get(), rect);
}

bool CCSprite::initWithFile(const std::string& filename, CGRect rect) {
    platform::Ref<CCTexture2D> texture = CCTextureCache::sharedTextureCache()->addImage(filename);
    if (!texture) return false;
    return initWithTexture(texture.get(), rect);
}

bool CCSprite::initWithSpriteFrame(CCSpriteFrame* frame) {
    if (!frame) return false;
    if (!initWithTexture(frame->texture(), frame->rect())) return false;
    setDisplayFrame(frame);
    return true;
}

bool CCSprite::initWithSpriteFrameName(const std::string& name) {
    CCSpriteFrame* frame = CCSpriteFrameCache::sharedSpriteFrameCache()->spriteFrameByName(name);
    return initWithSpriteFrame(frame);
}

bool CCSprite::initWithCGImage(platform::Image* image, const std::string& key) {
    platform::Ref<CCTexture2D> texture = CCTextureCache::sharedTextureCache()->addCGImage(image, key);
    if (!texture) return false;
    CGRect rect = CGRectZero;
    rect.size = texture->contentSize();
    return initWithTexture(texture.get(), rect);
}

std::string CCSprite::description() const {
    return platform::format("<%s = %p | Rect = (%.2f,%.2f,%.2f,%.2f) | tag = %ld | atlasIndex = %ld>",
                            className(), static_cast<const void*>(this), _rect.origin.x, _rect.origin.y,
                            _rect.size.width, _rect.size.height, static_cast<long>(_tag),
                            static_cast<long>(_atlasIndex));
}

// ---- batch membership and the texture rectangle --------------------------------------------

void CCSprite::setBatchNode(CCSpriteBatchNode* batchNode) {
    _batchNode = batchNode;
    if (batchNode) {
        _transformToBatch = CGAffineTransformIdentity;
        _textureAtlas = batchNode->textureAtlas();
    } else {
        _atlasIndex = spriteIndexNotInitialized;
        _textureAtlas = nullptr;
        _recursiveDirty = _dirty = false;
        setLocalVertices();
    }
}

void CCSprite::setLocalVertices() {
    float x1 = static_cast<float>(_offsetPosition.x);
    float y1 = static_cast<float>(_offsetPosition.y);
    float x2 = static_cast<float>(x1 + _rect.size.width);
    float y2 = static_cast<float>(y1 + _rect.size.height);
    _quad.bl.vertices = {x1, y1, 0};
    _quad.br.vertices = {x2, y1, 0};
    _quad.tl.vertices = {x1, y2, 0};
    _quad.tr.vertices = {x2, y2, 0};
}

void CCSprite::setTextureRect(CGRect rect) {
    setTextureRect(rect, false, rect.size);
}

void CCSprite::setTextureRect(CGRect rect, bool rotated, CGSize untrimmedSize) {
    _rectRotated = rotated;
    setContentSize(untrimmedSize);
    setVertexRect(rect);
    setTextureCoords(rect);

    CGPoint relative = _unflippedOffsetPositionFromCenter;
    if (_flipX) relative.x = -relative.x;
    if (_flipY) relative.y = -relative.y;
    _offsetPosition.x = relative.x + (_contentSize.width - _rect.size.width) / 2;
    _offsetPosition.y = relative.y + (_contentSize.height - _rect.size.height) / 2;

    if (_batchNode) {
        _dirty = true;
    } else {
        setLocalVertices();
    }
}

void CCSprite::setVertexRect(CGRect rect) {
    _rect = rect;
}

void CCSprite::setTextureCoords(CGRect rect) {
    CCTexture2D* tex = _batchNode ? (_textureAtlas ? _textureAtlas->texture() : nullptr) : _texture.get();
    if (!tex) return;

    rect = rectToPixels(rect);
    float atlasWidth = static_cast<float>(tex->pixelsWide());
    float atlasHeight = static_cast<float>(tex->pixelsHigh());
    double x = rect.origin.x, y = rect.origin.y, w = rect.size.width, h = rect.size.height;

    // A rotated picture is stored turned a quarter, its sides exchanged in the texture.
    const double storedWidth = _rectRotated ? h : w, storedHeight = _rectRotated ? w : h;
    float left = static_cast<float>(x / atlasWidth);
    float right = static_cast<float>((x + storedWidth) / atlasWidth);
    float top = static_cast<float>(y / atlasHeight);
    float bottom = static_cast<float>((y + storedHeight) / atlasHeight);
    if (_rectRotated) {
        if (_flipX) std::swap(top, bottom);
        if (_flipY) std::swap(left, right);
        _quad.bl.texCoords = {left, top};
        _quad.br.texCoords = {left, bottom};
        _quad.tl.texCoords = {right, top};
        _quad.tr.texCoords = {right, bottom};
    } else {
        if (_flipX) std::swap(left, right);
        if (_flipY) std::swap(top, bottom);
        _quad.bl.texCoords = {left, bottom};
        _quad.br.texCoords = {right, bottom};
        _quad.tl.texCoords = {left, top};
        _quad.tr.texCoords = {right, top};
    }
}

// ---- drawing -------------------------------------------------------------------------------

void CCSprite::updateTransform() {
    if (dirty()) {
        CCSprite* parentSprite = nullptr;
        if (_parent && _parent != static_cast<CCNode*>(_batchNode))
            parentSprite = dynamic_cast<CCSprite*>(_parent);

        if (!_visible || (parentSprite && parentSprite->_shouldBeHidden)) {
            _quad.br.vertices = _quad.tl.vertices = _quad.tr.vertices = _quad.bl.vertices = {0, 0, 0};
            _shouldBeHidden = true;
        } else {
            _shouldBeHidden = false;
            if (!parentSprite) {
                _transformToBatch = nodeToParentTransform();
            } else {
                _transformToBatch =
                    CGAffineTransformConcat(nodeToParentTransform(), parentSprite->_transformToBatch);
            }

            const CGAffineTransform& t = _transformToBatch;
            float x1 = static_cast<float>(_offsetPosition.x);
            float y1 = static_cast<float>(_offsetPosition.y);
            float x2 = static_cast<float>(x1 + _rect.size.width);
            float y2 = static_cast<float>(y1 + _rect.size.height);
            float x = static_cast<float>(t.tx), y = static_cast<float>(t.ty);
            float cr = static_cast<float>(t.a), sr = static_cast<float>(t.b);
            float cr2 = static_cast<float>(t.d), sr2 = static_cast<float>(-t.c);

            float ax = x1 * cr - y1 * sr2 + x;
            float ay = x1 * sr + y1 * cr2 + y;
            float bx = x2 * cr - y1 * sr2 + x;
            float by = x2 * sr + y1 * cr2 + y;
            float cx = x2 * cr - y2 * sr2 + x;
            float cy = x2 * sr + y2 * cr2 + y;
            float dx = x1 * cr - y2 * sr2 + x;
            float dy = x1 * sr + y2 * cr2 + y;

            _quad.bl.vertices = {ax, ay, _vertexZ};
            _quad.br.vertices = {bx, by, _vertexZ};
            _quad.tl.vertices = {dx, dy, _vertexZ};
            _quad.tr.vertices = {cx, cy, _vertexZ};
        }

        // An index the atlas cannot hold is never written.
        if (_textureAtlas && _atlasIndex < _textureAtlas->capacity())
            _textureAtlas->updateQuad(&_quad, _atlasIndex);
        _recursiveDirty = _dirty = false;
    }

    if (_hasChildren && _children) {
        for (std::uint64_t i = 0; i < _children->count(); ++i)
            if (CCSprite* child = spriteChildAt(_children.get(), i)) child->updateTransform();
    }
}

void CCSprite::draw() {
    CCGLProgram* program = shaderProgram();
    if (!program) return;
    glCacheEnableServerState(_glServerState);
    program->use();
    program->setUniformsForBuiltins();

    glCacheBlendFunc(_blendFunc.src, _blendFunc.dst);
    glCacheBindTexture2D(glNameOf(_texture.get()));
    glCacheEnableVertexAttribs(kCCVertexAttribFlag_PosColorTex);

    constexpr GLsizei stride = sizeof(_ccV3F_C4B_T2F);
    const char* base = reinterpret_cast<const char*>(&_quad);
    glCheck(glVertexAttribPointer(kCCVertexAttrib_Position, 3, GL_FLOAT, GL_FALSE, stride,
                                  base + offsetof(_ccV3F_C4B_T2F, vertices)));
    glCheck(glVertexAttribPointer(kCCVertexAttrib_TexCoords, 2, GL_FLOAT, GL_FALSE, stride,
                                  base + offsetof(_ccV3F_C4B_T2F, texCoords)));
    glCheck(glVertexAttribPointer(kCCVertexAttrib_Color, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                                  base + offsetof(_ccV3F_C4B_T2F, colors)));
    glCheck(glDrawArrays(GL_TRIANGLE_STRIP, 0, 4));
    ++drawCallCounter;
}

// ---- children --------------------------------------------------------------------------------

void CCSprite::addChild(CCNode* child, std::int64_t z, std::int64_t tag) {
    if (!child) return;
    if (_batchNode) {
        CCSprite* sprite = dynamic_cast<CCSprite*>(child);
        // Outside the contract, or no room left in the atlas: refused, nothing changes.
        if (!sprite || !_batchNode->appendChild(sprite)) return;
        if (!_isReorderChildDirty) setReorderChildDirtyRecursively();
    }
    CCNodeRGBA::addChild(child, z, tag);
    _hasChildren = true;
}

void CCSprite::reorderChild(CCNode* child, std::int64_t z) {
    if (!child) return;
    CCAssert(child->parent() == this, "Child is not a child of this node");
    if (child->zOrder() == z) return;
    if (_batchNode && !_isReorderChildDirty) {
        setReorderChildDirtyRecursively();
        _batchNode->reorderBatch(true);
    }
    CCNodeRGBA::reorderChild(child, z);
}

void CCSprite::removeChild(CCNode* child, bool cleanup) {
    // A child whose removal is under way (its exit call asks again) is left to it.
    if (!child || !_children || removalUnderWay(child, cleanup)) return;
    std::uint64_t index = indexOfChild(child);
    if (index == platform::NSNotFound) return;
    if (_batchNode) {
        if (CCSprite* sprite = dynamic_cast<CCSprite*>(child)) _batchNode->removeSpriteFromAtlas(sprite);
    }
    detachChild(child, cleanup, index);
    _hasChildren = _children->count() > 0;
}

void CCSprite::removeAllChildrenWithCleanup(bool cleanup) {
    if (_batchNode && _children) {
        for (std::uint64_t i = 0; i < _children->count(); ++i)
            if (CCSprite* sprite = spriteChildAt(_children.get(), i))
                _batchNode->removeSpriteFromAtlas(sprite);
    }
    CCNodeRGBA::removeAllChildrenWithCleanup(cleanup);
    _hasChildren = false;
}

void CCSprite::sortAllChildren() {
    if (!_isReorderChildDirty) return;
    CCNodeRGBA::sortAllChildren();
    if (_batchNode && _children) {
        for (std::uint64_t i = 0; i < _children->count(); ++i)
            childAt(_children.get(), i)->sortAllChildren();
    }
    _isReorderChildDirty = false;
}

void CCSprite::setReorderChildDirtyRecursively() {
    if (_isReorderChildDirty) return;
    _isReorderChildDirty = true;
    CCNode* node = _parent;
    while (node && node != static_cast<CCNode*>(_batchNode)) {
        if (CCSprite* sprite = dynamic_cast<CCSprite*>(node)) sprite->setReorderChildDirtyRecursively();
        node = node->parent();
    }
}

void CCSprite::setDirtyRecursively(bool dirty) {
    _recursiveDirty = _dirty = dirty;
    if (_hasChildren && _children) {
        for (std::uint64_t i = 0; i < _children->count(); ++i)
            if (CCSprite* child = spriteChildAt(_children.get(), i)) child->setDirtyRecursively(true);
    }
}

// ---- transform setters -----------------------------------------------------------------------

void CCSprite::markTransformDirty() {
    if (_batchNode && !_recursiveDirty) {
        _recursiveDirty = _dirty = true;
        if (_hasChildren) setDirtyRecursively(true);
    }
}

void CCSprite::setPosition(CGPoint position) {
    CCNodeRGBA::setPosition(position);
    markTransformDirty();
}

void CCSprite::setRotation(float rotation) {
    CCNodeRGBA::setRotation(rotation);
    markTransformDirty();
}

void CCSprite::setRotationX(float rotationX) {
    CCNodeRGBA::setRotationX(rotationX);
    markTransformDirty();
}

void CCSprite::setRotationY(float rotationY) {
    CCNodeRGBA::setRotationY(rotationY);
    markTransformDirty();
}

void CCSprite::setSkewX(float skewX) {
    CCNodeRGBA::setSkewX(skewX);
    markTransformDirty();
}

void CCSprite::setSkewY(float skewY) {
    CCNodeRGBA::setSkewY(skewY);
    markTransformDirty();
}

void CCSprite::setScaleX(float scaleX) {
    CCNodeRGBA::setScaleX(scaleX);
    markTransformDirty();
}

void CCSprite::setScaleY(float scaleY) {
    CCNodeRGBA::setScaleY(scaleY);
    markTransformDirty();
}

void CCSprite::setScale(float scale) {
    CCNodeRGBA::setScale(scale);
    markTransformDirty();
}

void CCSprite::setVertexZ(float vertexZ) {
    CCNodeRGBA::setVertexZ(vertexZ);
    markTransformDirty();
}

void CCSprite::setAnchorPoint(CGPoint anchorPoint) {
    CCNodeRGBA::setAnchorPoint(anchorPoint);
    markTransformDirty();
}

void CCSprite::setIgnoreAnchorPointForPosition(bool ignore) {
    CCNodeRGBA::setIgnoreAnchorPointForPosition(ignore);
}

void CCSprite::setVisible(bool visible) {
    CCNodeRGBA::setVisible(visible);
    markTransformDirty();
}

void CCSprite::setZOrder(std::int64_t zOrder) {
    if (_parent && zOrder != _zOrder)
        _parent->reorderChild(this, zOrder);
    else
        CCNodeRGBA::setZOrder(zOrder);
}

void CCSprite::setFlipX(bool flipX) {
    if (_flipX == flipX) return;
    _flipX = flipX;
    setTextureRect(_rect, _rectRotated, _contentSize);
}

void CCSprite::setFlipY(bool flipY) {
    if (_flipY == flipY) return;
    _flipY = flipY;
    setTextureRect(_rect, _rectRotated, _contentSize);
}

// ---- colour ----------------------------------------------------------------------------------

void CCSprite::updateColor() {
    _ccColor4B color4{_displayedColor.r, _displayedColor.g, _displayedColor.b, _displayedOpacity};
    if (_opacityModifyRGB) {
        float k = _displayedOpacity / 255.0f;
        color4.r = static_cast<std::uint8_t>(color4.r * k);
        color4.g = static_cast<std::uint8_t>(color4.g * k);
        color4.b = static_cast<std::uint8_t>(color4.b * k);
    }
    _quad.bl.colors = _quad.br.colors = _quad.tl.colors = _quad.tr.colors = color4;

    if (_batchNode) {
        if (_atlasIndex != spriteIndexNotInitialized) {
            if (_textureAtlas && _atlasIndex < _textureAtlas->capacity())
                _textureAtlas->updateQuad(&_quad, _atlasIndex);
        } else {
            _dirty = true;
        }
    }
}

void CCSprite::setColor(_ccColor3B color) {
    CCNodeRGBA::setColor(color);
    updateColor();
}

void CCSprite::updateDisplayedColor(_ccColor3B parentColor) {
    CCNodeRGBA::updateDisplayedColor(parentColor);
    updateColor();
}

void CCSprite::setOpacity(std::uint8_t opacity) {
    CCNodeRGBA::setOpacity(opacity);
    updateColor();
}

void CCSprite::setOpacityModifyRGB(bool modify) {
    if (_opacityModifyRGB == modify) return;
    _opacityModifyRGB = modify;
    updateColor();
}

void CCSprite::updateDisplayedOpacity(std::uint8_t parentOpacity) {
    CCNodeRGBA::updateDisplayedOpacity(parentOpacity);
    updateColor();
}

// ---- display frames --------------------------------------------------------------------------

void CCSprite::setDisplayFrame(CCSpriteFrame* frame) {
    if (!frame) return;
    _unflippedOffsetPositionFromCenter = frame->offset();
    CCTexture2D* newTexture = frame->texture();
    if (glNameOf(newTexture) != glNameOf(_texture.get())) setTexture(newTexture);
    _rectRotated = frame->rotated();
    setTextureRect(frame->rect(), _rectRotated, frame->originalSize());
}

void CCSprite::setDisplayFrameWithAnimationName(const std::string& animationName, std::int32_t frameIndex) {
    CCAnimation* animation = CCAnimationCache::sharedAnimationCache()->animationByName(animationName);
    if (!animation || frameIndex < 0) return;
    const CCAnimationFrameArray& frames = animation->frames();
    if (static_cast<std::size_t>(frameIndex) >= frames.size()) return;
    if (CCAnimationFrame* frame = frames[static_cast<std::size_t>(frameIndex)].get())
        setDisplayFrame(frame->spriteFrame());
}

bool CCSprite::isFrameDisplayed(CCSpriteFrame* frame) const {
    if (!frame) return false;
    CGRect r = frame->rect();
    CGPoint offset = frame->offset();
    return CGRectEqualToRect(r, _rect) && glNameOf(frame->texture()) == glNameOf(texture()) &&
           offset.x == _unflippedOffsetPositionFromCenter.x &&
           offset.y == _unflippedOffsetPositionFromCenter.y;
}

platform::Ref<CCSpriteFrame> CCSprite::displayFrame() const {
    double f = platform::contentScaleFactor();
    return CCSpriteFrame::frameWithTexture(
        _texture.get(), rectToPixels(_rect), _rectRotated,
        CGPointMake(_unflippedOffsetPositionFromCenter.x * f, _unflippedOffsetPositionFromCenter.y * f),
        CGSizeMake(_contentSize.width * f, _contentSize.height * f));
}

// ---- blending and texture --------------------------------------------------------------------

void CCSprite::updateBlendFunc() {
    if (!_texture || !_texture->hasPremultipliedAlpha()) {
        _blendFunc = {GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA};
        setOpacityModifyRGB(false);
    } else {
        _blendFunc = {GL_ONE, GL_ONE_MINUS_SRC_ALPHA};
        setOpacityModifyRGB(true);
    }
}

void CCSprite::setTexture(CCTexture2D* texture) {
    if (_batchNode) return;
    if (texture == _texture.get()) return;
    _texture = texture;
    updateBlendFunc();
}

CCTexture2D* CCSprite::texture() const {
    return _texture.get();
}

// ---- physics sprite --------------------------------------------------------------------------

platform::Ref<CCPhysicsSprite> CCPhysicsSprite::node() {
    return makeNode<CCPhysicsSprite>();
}
