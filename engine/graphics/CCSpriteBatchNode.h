// Draws many sprites that share one texture with a single draw call. The batch node owns one
// texture atlas holding a quad per sprite of the batch, direct children and their descendants
// alike, in drawing order: z order, then order of arrival, with each parent placed among its
// children by the signs of their z orders. Sprites write their own quads when dirty; the
// batch node keeps the atlas order in step with the scene graph and draws the whole atlas.
//
// Quads are addressed by 16-bit vertex indices, so a batch holds at most
// kCCSpriteBatchMaxQuads quads. A sprite (with its subtree) that does not fit is refused
// quietly: it is not added and the batch stays as it was.
#pragma once

#include "core/CCNode.h"
#include "core/CCProtocols.h"
#include "core/ccTypes.h"

#include <cstdint>
#include <string>

class CCArray;
class CCSprite;
class CCTexture2D;
class CCTextureAtlas;

inline constexpr std::uint64_t kCCSpriteBatchDefaultCapacity = 29;
// The most quads 16-bit indices can address.
inline constexpr std::uint64_t kCCSpriteBatchMaxQuads = 16384;

class CCSpriteBatchNode : public CCNode, public CCTextureProtocol {
public:
    static platform::Ref<CCSpriteBatchNode> batchNodeWithTexture(CCTexture2D* texture);
    // Capacity: quads the atlas holds before it first grows.
    static platform::Ref<CCSpriteBatchNode> batchNodeWithTexture(CCTexture2D* texture,
                                                                 std::uint64_t capacity);
    // Null when the texture cache cannot load the file.
    static platform::Ref<CCSpriteBatchNode> batchNodeWithFile(const std::string& file,
                                                              std::uint64_t capacity);
    static platform::Ref<CCSpriteBatchNode> batchNodeWithFile(const std::string& file);
    static platform::Ref<CCSpriteBatchNode> node();

    CCSpriteBatchNode();
    ~CCSpriteBatchNode() override;

    // An empty texture and capacity 0.
    bool init() override;
    virtual bool initWithFile(const std::string& file, std::uint64_t capacity);
    // The designated initialiser; false when the atlas cannot be made.
    virtual bool initWithTexture(CCTexture2D* texture, std::uint64_t capacity);
    std::string description() const override;

    // Sorts and draws the atlas; the children are never visited themselves.
    void visit() override;
    using CCNode::addChild;
    // The child must be a sprite with the batch's texture; it and its subtree go to the end
    // of the atlas until the next sort. Refused when it does not fit.
    void addChild(CCNode* child, std::int64_t z, std::int64_t tag) override;
    void reorderChild(CCNode* child, std::int64_t z) override;
    using CCNode::removeChild;
    void removeChild(CCNode* child, bool cleanup) override;
    void removeChildAtIndex(std::uint64_t index, bool cleanup);
    void removeAllChildrenWithCleanup(bool cleanup) override;
    void sortAllChildren() override;
    // Gives the sprite's subtree consecutive atlas indices in drawing order from *currentIndex,
    // moving quads only where an index changes.
    void updateAtlasIndex(CCSprite* sprite, std::int64_t* currentIndex);
    void swap(std::uint64_t oldIndex, std::uint64_t newIndex);
    void reorderBatch(bool reorder);
    void draw() override;

    // Grows the atlas by a third plus one, never past kCCSpriteBatchMaxQuads. False when it
    // could not grow (already at the limit, or out of memory: the quads are then kept).
    bool increaseAtlasCapacity();
    // The node is a sprite of the batch or the batch itself (which takes no index).
    std::uint64_t rebuildIndexInOrder(CCNode* parent, std::uint64_t index);
    std::uint64_t highestAtlasIndexInChild(CCSprite* sprite);
    std::uint64_t lowestAtlasIndexInChild(CCSprite* sprite);
    std::uint64_t atlasIndexForChild(CCSprite* sprite, std::int64_t z);
    // Inserts the sprite's quad at the index (at most the quad count), then its subtree.
    // False, with nothing changed, when the subtree does not fit.
    bool insertChildInAtlasAtIndex(CCSprite* sprite, std::uint64_t index);
    // Appends the sprite's quad and its subtree's. False, with nothing changed, when they do
    // not fit.
    bool appendChild(CCSprite* sprite);
    // Takes the sprite's subtree out of the atlas; the sprites become self-drawn.
    void removeSpriteFromAtlas(CCSprite* sprite);

    void updateBlendFunc();
    void setTexture(CCTexture2D* texture) override;
    CCTexture2D* texture() const override;
    CCTextureAtlas* textureAtlas() const { return _textureAtlas.get(); }
    // Retains the atlas.
    void setTextureAtlas(CCTextureAtlas* atlas);
    _ccBlendFunc blendFunc() const override { return _blendFunc; }
    void setBlendFunc(_ccBlendFunc blendFunc) override { _blendFunc = blendFunc; }
    // Every sprite of the batch, at all depths, by atlas index.
    CCArray* descendants() const { return _descendants.get(); }

    // Quad-level operations for subclasses that manage their sprites themselves. The sprite
    // is neither a child nor a descendant afterwards. False, with nothing changed, when the
    // index cannot be addressed.
    bool insertQuadFromSprite(CCSprite* sprite, std::uint64_t index);
    bool updateQuadFromSprite(CCSprite* sprite, std::uint64_t index);
    // Makes the sprite a child and descendant without a quad; z is its quad index.
    CCSpriteBatchNode* addSpriteWithoutQuad(CCSprite* sprite, std::uint64_t z, std::int64_t tag);

private:
    // Grows the atlas until it can hold `extra` more quads; false when it cannot.
    bool reserveQuads(std::uint64_t extra);
    // Grows until the index is below the capacity and the atlas is not full.
    bool reserveIndex(std::uint64_t index);
    void appendSubtree(CCSprite* sprite);
    void insertSubtree(CCSprite* sprite, std::uint64_t index);
    // removeSpriteFromAtlas for a sprite with children in one pass; false, with nothing
    // changed, when the quads are not in step with the descendants.
    bool removeSubtreeFromAtlas(CCSprite* sprite);

    platform::Ref<CCTextureAtlas> _textureAtlas;
    _ccBlendFunc _blendFunc;
    platform::Ref<CCArray> _descendants;
};
