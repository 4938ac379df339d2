// The textured rectangle of the scene graph. A sprite shows one rectangle of a texture,
// optionally trimmed, stored turned by a quarter turn, mirrored, tinted and faded.
//
// It lives in one of two modes. Self-drawn, it keeps its quad in `_quad` with vertices in its
// own space and draws it with one call. Batched, its quad lives in a sprite batch node's atlas
// at `_atlasIndex`, with vertices in the batch node's space: the sprite then never draws
// itself, it only marks itself dirty, and the batch node has it rewrite its atlas quad
// (`updateTransform`) before drawing everything at once.
#pragma once

#include "core/CCNodeRGBA.h"
#include "core/CCProtocols.h"
#include "core/ccTypes.h"

#include <cstdint>
#include <string>

namespace platform {
class Image;
}

class CCSpriteBatchNode;
class CCSpriteFrame;
class CCTexture2D;
class CCTextureAtlas;

// The atlas index of a sprite that has no quad in any atlas (32 bits of ones, on purpose).
inline constexpr std::uint64_t spriteIndexNotInitialized = 0xFFFFFFFFu;

class CCSprite : public CCNodeRGBA, public CCTextureProtocol {
public:
    // Factories. Each makes a T (CCSprite unless a subclass asks for itself) and runs the
    // initialiser of the same shape; null when that initialiser refuses. Rects are in points.
    template <class T = CCSprite> static platform::Ref<T> spriteWithTexture(CCTexture2D* texture);
    template <class T = CCSprite>
    static platform::Ref<T> spriteWithTexture(CCTexture2D* texture, CGRect rect);
    template <class T = CCSprite> static platform::Ref<T> spriteWithFile(const std::string& filename);
    template <class T = CCSprite>
    static platform::Ref<T> spriteWithFile(const std::string& filename, CGRect rect);
    template <class T = CCSprite> static platform::Ref<T> spriteWithSpriteFrame(CCSpriteFrame* frame);
    // The frame comes from the shared sprite-frame cache.
    template <class T = CCSprite> static platform::Ref<T> spriteWithSpriteFrameName(const std::string& name);
    // The texture comes from the shared texture cache, stored there under the key.
    template <class T = CCSprite>
    static platform::Ref<T> spriteWithCGImage(platform::Image* image, const std::string& key);
    // A sprite without texture.
    static platform::Ref<CCSprite> node();

    CCSprite();
    ~CCSprite() override;

    // No texture, empty rect.
    bool init() override;
    // The designated initialiser. A null texture is valid (nothing textured is drawn).
    virtual bool initWithTexture(CCTexture2D* texture, CGRect rect, bool rotated);
    virtual bool initWithTexture(CCTexture2D* texture, CGRect rect);
    // The whole texture.
    virtual bool initWithTexture(CCTexture2D* texture);
    // False when the texture cache cannot load the file.
    virtual bool initWithFile(const std::string& filename);
    virtual bool initWithFile(const std::string& filename, CGRect rect);
    // Takes offset, rotation and untrimmed size from the frame; false for a null frame.
    virtual bool initWithSpriteFrame(CCSpriteFrame* frame);
    // False when the shared sprite-frame cache has no frame of that name.
    virtual bool initWithSpriteFrameName(const std::string& name);
    virtual bool initWithCGImage(platform::Image* image, const std::string& key);

    std::string description() const override;

    // Not retained: the batch node owns the sprite, not the other way round.
    CCSpriteBatchNode* batchNode() const { return _batchNode; }
    // Null makes the sprite self-drawn again and rebuilds its local vertices.
    virtual void setBatchNode(CCSpriteBatchNode* batchNode);

    // Rect in points, not rotated, untrimmed size = the rect's size.
    void setTextureRect(CGRect rect);
    // The content size becomes the untrimmed size; the quad is placed by the frame's offset.
    virtual void setTextureRect(CGRect rect, bool rotated, CGSize untrimmedSize);
    // Stores the drawn rect only.
    virtual void setVertexRect(CGRect rect);
    // Texture coordinates of the rect (points), honouring rotation and flips.
    virtual void setTextureCoords(CGRect rect);

    // Batched sprites only: rewrites the atlas quad when dirty, then asks the children.
    virtual void updateTransform();
    // A hint only: starts loading the memory updateTransform reads, for a walk that reaches
    // this sprite soon.
    void prefetchForUpdate() const {
        const char* lines[] = {reinterpret_cast<const char*>(this),
                               reinterpret_cast<const char*>(&_position),
                               reinterpret_cast<const char*>(&_transform),
                               reinterpret_cast<const char*>(&_transform + 1) - 1,
                               reinterpret_cast<const char*>(&_dirty),
                               reinterpret_cast<const char*>(&_transformToBatch + 1) - 1,
                               reinterpret_cast<const char*>(&_quad),
                               reinterpret_cast<const char*>(&_quad + 1) - 1};
        for (const char* line : lines)
            __builtin_prefetch(line);
    }
    void draw() override;

    using CCNode::addChild;
    void addChild(CCNode* child, std::int64_t z, std::int64_t tag) override;
    void reorderChild(CCNode* child, std::int64_t z) override;
    using CCNode::removeChild;
    void removeChild(CCNode* child, bool cleanup) override;
    void removeAllChildrenWithCleanup(bool cleanup) override;
    void sortAllChildren() override;
    // Marks this sprite and its sprite ancestors up to the batch node for re-sorting.
    void setReorderChildDirtyRecursively();
    void setDirtyRecursively(bool dirty);

    // The transform setters mark a batched sprite (and its subtree) dirty.
    void setPosition(CGPoint position) override;
    void setRotation(float rotation) override;
    void setRotationX(float rotationX) override;
    void setRotationY(float rotationY) override;
    void setSkewX(float skewX) override;
    void setSkewY(float skewY) override;
    void setScaleX(float scaleX) override;
    void setScaleY(float scaleY) override;
    void setScale(float scale) override;
    void setVertexZ(float vertexZ) override;
    void setAnchorPoint(CGPoint anchorPoint) override;
    void setIgnoreAnchorPointForPosition(bool ignore) override;
    void setVisible(bool visible) override;
    // Goes through the parent's reorderChild while the old z order is still in place, so that
    // a batch (which ignores a reorder to the current z) re-sorts.
    void setZOrder(std::int64_t zOrder) override;
    // Mirroring is done in the texture coordinates; the vertices stay where they are.
    void setFlipX(bool flipX);
    bool flipX() const { return _flipX; }
    void setFlipY(bool flipY);
    bool flipY() const { return _flipY; }

    // Writes the displayed colour and opacity into the four vertices (and the atlas quad).
    virtual void updateColor();
    void setColor(_ccColor3B color) override;
    void updateDisplayedColor(_ccColor3B parentColor) override;
    void setOpacity(std::uint8_t opacity) override;
    bool respondsToOpacityModifyRGB() const override { return true; }
    void setOpacityModifyRGB(bool modify) override;
    bool doesOpacityModifyRGB() const override { return _opacityModifyRGB; }
    void updateDisplayedOpacity(std::uint8_t parentOpacity) override;

    virtual void setDisplayFrame(CCSpriteFrame* frame);
    // Frame `index` of the named animation in the shared animation cache; nothing when there
    // is no such animation or frame.
    void setDisplayFrameWithAnimationName(const std::string& animationName, std::int32_t frameIndex);
    bool isFrameDisplayed(CCSpriteFrame* frame) const;
    // A new frame describing what the sprite shows now.
    platform::Ref<CCSpriteFrame> displayFrame() const;

    void updateBlendFunc();
    // Ignored while batched: the batch node's texture is drawn.
    void setTexture(CCTexture2D* texture) override;
    CCTexture2D* texture() const override;

    // Whether the atlas quad must be recomputed; a subclass may answer yes always.
    virtual bool dirty() const { return _dirty; }
    void setDirty(bool dirty) { _dirty = dirty; }
    _ccV3F_C4B_T2F_Quad quad() const { return _quad; }
    std::uint64_t atlasIndex() const { return _atlasIndex; }
    void setAtlasIndex(std::uint64_t atlasIndex) { _atlasIndex = atlasIndex; }
    // Points.
    CGRect textureRect() const { return _rect; }
    bool textureRectRotated() const { return _rectRotated; }
    _ccBlendFunc blendFunc() const override { return _blendFunc; }
    void setBlendFunc(_ccBlendFunc blendFunc) override { _blendFunc = blendFunc; }
    // Not retained: the batch node's atlas while batched.
    CCTextureAtlas* textureAtlas() const { return _textureAtlas; }
    void setTextureAtlas(CCTextureAtlas* atlas) { _textureAtlas = atlas; }
    CGPoint offsetPosition() const { return _offsetPosition; }

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // A sprite over the batch node's texture, then put in the batch node's charge (it is not
    // added as a child).
    template <class T = CCSprite>
    static platform::Ref<T> spriteWithBatchNode(CCSpriteBatchNode* batchNode, CGRect rect);
    bool initWithBatchNode(CCSpriteBatchNode* batchNode, CGRect rect);
    platform::Ref<CCSpriteFrame> displayedFrame() const;

protected:
    // After a transform setter: a batched sprite is marked dirty once, with its subtree.
    void markTransformDirty();
    // Local vertices from _offsetPosition and _rect's size (self-drawn).
    void setLocalVertices();

    // What a frame reads and writes for a moved batched sprite, kept together (the flags that
    // do not move fill its padding); the rest follows.
    bool _dirty = false;
    bool _recursiveDirty = false;
    bool _hasChildren = false;
    bool _shouldBeHidden = false;
    bool _rectRotated = false;
    bool _opacityModifyRGB = false;
    bool _flipX = false, _flipY = false;
    CCSpriteBatchNode* _batchNode = nullptr;
    CCTextureAtlas* _textureAtlas = nullptr;
    std::uint64_t _atlasIndex = spriteIndexNotInitialized;
    CGAffineTransform _transformToBatch = CGAffineTransformIdentity;
    CGRect _rect = CGRectZero;
    CGPoint _offsetPosition = CGPointZero;
    _ccV3F_C4B_T2F_Quad _quad;

    _ccBlendFunc _blendFunc;
    platform::Ref<CCTexture2D> _texture;
    CGPoint _unflippedOffsetPositionFromCenter = CGPointZero;
};

// A sprite whose quad is recomputed at every batch draw, for bodies moved by a physics step.
class CCPhysicsSprite : public CCSprite {
public:
    static platform::Ref<CCPhysicsSprite> node();

    bool dirty() const override { return true; }
    bool ignoreBodyRotation() const { return _ignoreBodyRotation; }
    void setIgnoreBodyRotation(bool ignore) { _ignoreBodyRotation = ignore; }

protected:
    bool _ignoreBodyRotation = false;
};

// ---- factories -------------------------------------------------------------------------------

namespace ccsprite_detail {
template <class T, class Init> platform::Ref<T> made(Init&& init) {
    auto sprite = platform::make<T>();
    return init(*sprite) ? sprite : nullptr;
}
} // namespace ccsprite_detail

template <class T> platform::Ref<T> CCSprite::spriteWithTexture(CCTexture2D* texture) {
    return ccsprite_detail::made<T>([&](T& s) { return s.initWithTexture(texture); });
}
template <class T> platform::Ref<T> CCSprite::spriteWithTexture(CCTexture2D* texture, CGRect rect) {
    return ccsprite_detail::made<T>([&](T& s) { return s.initWithTexture(texture, rect); });
}
template <class T> platform::Ref<T> CCSprite::spriteWithFile(const std::string& filename) {
    return ccsprite_detail::made<T>([&](T& s) { return s.initWithFile(filename); });
}
template <class T> platform::Ref<T> CCSprite::spriteWithFile(const std::string& filename, CGRect rect) {
    return ccsprite_detail::made<T>([&](T& s) { return s.initWithFile(filename, rect); });
}
template <class T> platform::Ref<T> CCSprite::spriteWithSpriteFrame(CCSpriteFrame* frame) {
    return ccsprite_detail::made<T>([&](T& s) { return s.initWithSpriteFrame(frame); });
}
template <class T> platform::Ref<T> CCSprite::spriteWithSpriteFrameName(const std::string& name) {
    return ccsprite_detail::made<T>([&](T& s) { return s.initWithSpriteFrameName(name); });
}
template <class T>
platform::Ref<T> CCSprite::spriteWithCGImage(platform::Image* image, const std::string& key) {
    return ccsprite_detail::made<T>([&](T& s) { return s.initWithCGImage(image, key); });
}
template <class T> platform::Ref<T> CCSprite::spriteWithBatchNode(CCSpriteBatchNode* batchNode, CGRect rect) {
    return ccsprite_detail::made<T>([&](T& s) { return s.initWithBatchNode(batchNode, rect); });
}
