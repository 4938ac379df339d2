#include "graphics/CCSpriteBatchNode.h"

#include "core/CCArray.h"
#include "core/CCGLProgram.h"
#include "core/CCGridProtocol.h"
#include "core/CCMatrix.h"
#include "core/CCShaderCache.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCSprite.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureAtlas.h"
#include "graphics/CCTextureCache.h"
#include "platform/Collections.h"
#include "platform/Exception.h"
#include "platform/Format.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

inline CCSprite* spriteAt(const CCArray* array, std::uint64_t i) {
    return static_cast<CCSprite*>(array->objectAtIndex(i));
}

// Children of batched sprites are sprites by contract; anything else is skipped.
inline CCSprite* spriteChildAt(const CCArray* children, std::uint64_t i) {
    return dynamic_cast<CCSprite*>(static_cast<CCNode*>(children->objectAtIndex(i)));
}

inline std::uint64_t childCount(const CCNode* node) {
    return node->children() ? node->children()->count() : 0;
}

// The sprite and every sprite below it: the quads it brings into a batch.
std::uint64_t subtreeSize(CCSprite* sprite) {
    std::uint64_t n = 1;
    for (std::uint64_t i = 0; i < childCount(sprite); ++i)
        if (CCSprite* child = spriteChildAt(sprite->children(), i)) n += subtreeSize(child);
    return n;
}

// Puts the sprite's quad at `index`: inserted among the quads in use, written past their end.
void putQuad(CCTextureAtlas* atlas, const CCSprite* sprite, std::uint64_t index) {
    _ccV3F_C4B_T2F_Quad quad = sprite->quad();
    if (index <= atlas->totalQuads())
        atlas->insertQuad(&quad, index);
    else
        atlas->updateQuad(&quad, index);
}

} // namespace

// ---- creation ------------------------------------------------------------------------------

platform::Ref<CCSpriteBatchNode> CCSpriteBatchNode::batchNodeWithTexture(CCTexture2D* texture) {
    return batchNodeWithTexture(texture, kCCSpriteBatchDefaultCapacity);
}

platform::Ref<CCSpriteBatchNode> CCSpriteBatchNode::batchNodeWithTexture(CCTexture2D* texture,
                                                                         std::uint64_t capacity) {
    auto batch = platform::make<CCSpriteBatchNode>();
    return batch->initWithTexture(texture, capacity) ? batch : nullptr;
}

platform::Ref<CCSpriteBatchNode> CCSpriteBatchNode::batchNodeWithFile(const std::string& file,
                                                                      std::uint64_t capacity) {
    auto batch = platform::make<CCSpriteBatchNode>();
    return batch->initWithFile(file, capacity) ? batch : nullptr;
}

platform::Ref<CCSpriteBatchNode> CCSpriteBatchNode::batchNodeWithFile(const std::string& file) {
    return batchNodeWithFile(file, kCCSpriteBatchDefaultCapacity);
}

platform::Ref<CCSpriteBatchNode> CCSpriteBatchNode::node() {
    return makeNode<CCSpriteBatchNode>();
}

CCSpriteBatchNode::CCSpriteBatchNode() = default;

CCSpriteBatchNode::~CCSpriteBatchNode() {
    // Sprites that outlive the batch must not point at it or its atlas.
    if (_descendants) {
        for (std::uint64_t i = 0; i < _descendants->count(); ++i) {
            CCSprite* sprite = spriteAt(_descendants.get(), i);
            if (sprite->batchNode() == this) sprite->setBatchNode(nullptr);
        }
    }
}

bool CCSpriteBatchNode::init() {
    return initWithTexture(platform::make<CCTexture2D>().get(), 0);
}

bool CCSpriteBatchNode::initWithFile(const std::string& file, std::uint64_t capacity) {
    platform::Ref<CCTexture2D> texture = CCTextureCache::sharedTextureCache()->addImage(file);
    if (!texture) return false;
    return initWithTexture(texture.get(), capacity);
}

bool CCSpriteBatchNode::initWithTexture(CCTexture2D* texture, std::uint64_t capacity) {
    if (!CCNode::init()) return false;
    capacity = std::min(capacity, kCCSpriteBatchMaxQuads);
    _blendFunc = {GL_ONE, GL_ONE_MINUS_SRC_ALPHA};
    _textureAtlas = CCTextureAtlas::textureAtlasWithTexture(texture, capacity);
    if (!_textureAtlas) return false;
    updateBlendFunc();
    _children = CCArray::arrayWithCapacity(capacity);
    _descendants = CCArray::arrayWithCapacity(capacity);
    setShaderProgram(CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTextureColor));
    return true;
}

std::string CCSpriteBatchNode::description() const {
    return platform::format("<%s = %p | Tag = %ld>", className(), static_cast<const void*>(this),
                            static_cast<long>(_tag));
}

// ---- drawing -------------------------------------------------------------------------------

void CCSpriteBatchNode::visit() {
    if (!_visible) return;
    // A throw from game code (a sprite's transform, a subclass's draw) undoes the push and the
    // grid's capture on its way out.
    VisitScope scope;
    bool gridActive = _grid && _grid->active();
    if (gridActive) {
        scope.beginGrid(_grid.get());
        transformAncestors();
    }
    sortAllChildren();
    transform();
    draw();
    if (gridActive) scope.endGrid(_grid.get(), this);
    _orderOfArrival = 0;
}

void CCSpriteBatchNode::draw() {
    if (!_textureAtlas || _textureAtlas->totalQuads() == 0) return;
    CCGLProgram* program = shaderProgram();
    if (!program) return;
    glCacheEnableServerState(_glServerState);
    program->use();
    program->setUniformsForBuiltins();

    if (_children) {
        // The sprites lie apart on the heap, where no hardware prefetch follows: ask for the
        // lines of a sprite a few places ahead while this one is brought up to date.
        constexpr std::uint64_t kAhead = 4;
        for (std::uint64_t i = 0; i < _children->count(); ++i) {
            if (i + kAhead < _children->count()) spriteAt(_children.get(), i + kAhead)->prefetchForUpdate();
            spriteAt(_children.get(), i)->updateTransform();
        }
    }
    glCacheBlendFunc(_blendFunc.src, _blendFunc.dst);
    _textureAtlas->drawQuads();
}

// ---- children ------------------------------------------------------------------------------

void CCSpriteBatchNode::addChild(CCNode* child, std::int64_t z, std::int64_t tag) {
    CCSprite* sprite = dynamic_cast<CCSprite*>(child);
    if (!sprite) return;
    // Checked before the node takes the child, so a refusal changes nothing at all.
    if (!reserveQuads(subtreeSize(sprite))) return;
    CCNode::addChild(child, z, tag);
    appendChild(sprite);
}

void CCSpriteBatchNode::reorderChild(CCNode* child, std::int64_t z) {
    if (!child) return;
    CCAssert(child->parent() == this, "Child is not a child of this node");
    if (child->zOrder() == z) return;
    CCNode::reorderChild(child, z);
}

void CCSpriteBatchNode::removeChild(CCNode* child, bool cleanup) {
    // A sprite whose removal is under way (its exit call asks again) is left to it.
    if (!child || !_children || removalUnderWay(child, cleanup)) return;
    std::uint64_t index = indexOfChild(child);
    if (index == platform::NSNotFound) return;
    platform::Ref<CCNode> keep(child);
    removeSpriteFromAtlas(static_cast<CCSprite*>(child));
    detachChild(child, cleanup, index);
}

void CCSpriteBatchNode::removeChildAtIndex(std::uint64_t index, bool cleanup) {
    if (!_children || index >= _children->count()) return;
    removeChild(static_cast<CCNode*>(_children->objectAtIndex(index)), cleanup);
}

void CCSpriteBatchNode::removeAllChildrenWithCleanup(bool cleanup) {
    for (std::uint64_t i = 0; i < _descendants->count(); ++i)
        spriteAt(_descendants.get(), i)->setBatchNode(nullptr);
    CCNode::removeAllChildrenWithCleanup(cleanup);
    _descendants->removeAllObjects();
    if (_textureAtlas) _textureAtlas->removeAllQuads();
}

void CCSpriteBatchNode::sortAllChildren() {
    if (!_isReorderChildDirty) return;
    CCNode::sortAllChildren();
    std::uint64_t n = childCount(this);
    if (n > 0) {
        for (std::uint64_t i = 0; i < n; ++i)
            spriteAt(_children.get(), i)->sortAllChildren();
        std::int64_t index = 0;
        for (std::uint64_t i = 0; i < n; ++i)
            updateAtlasIndex(spriteAt(_children.get(), i), &index);
    }
    _isReorderChildDirty = false;
}

void CCSpriteBatchNode::updateAtlasIndex(CCSprite* sprite, std::int64_t* currentIndex) {
    auto place = [this, currentIndex](CCSprite* s) {
        std::uint64_t oldIndex = s->atlasIndex();
        auto newIndex = static_cast<std::uint64_t>(*currentIndex);
        s->setAtlasIndex(newIndex);
        s->setOrderOfArrival(0);
        if (oldIndex != newIndex) swap(oldIndex, newIndex);
        ++*currentIndex;
    };

    std::uint64_t n = childCount(sprite);
    if (n == 0) {
        place(sprite);
        return;
    }
    CCArray* children = sprite->children();
    bool needsIndex = true;
    if (static_cast<CCNode*>(children->objectAtIndex(0))->zOrder() >= 0) {
        place(sprite);
        needsIndex = false;
    }
    for (std::uint64_t i = 0; i < children->count(); ++i) {
        CCSprite* child = spriteChildAt(children, i);
        if (!child) continue;
        if (needsIndex && child->zOrder() >= 0) {
            place(sprite);
            needsIndex = false;
        }
        updateAtlasIndex(child, currentIndex);
    }
    if (needsIndex) place(sprite);
}

void CCSpriteBatchNode::swap(std::uint64_t oldIndex, std::uint64_t newIndex) {
    std::uint64_t count = _descendants->count();
    if (!_textureAtlas || oldIndex >= count || newIndex >= count) return;
    std::uint64_t capacity = _textureAtlas->capacity();
    platform::Object** items = _descendants->data->items;
    spriteAt(_descendants.get(), newIndex)->setAtlasIndex(oldIndex);
    std::swap(items[oldIndex], items[newIndex]);
    if (oldIndex < capacity && newIndex < capacity) {
        _ccV3F_C4B_T2F_Quad* quads = _textureAtlas->quads();
        std::swap(quads[oldIndex], quads[newIndex]);
    }
}

void CCSpriteBatchNode::reorderBatch(bool reorder) {
    _isReorderChildDirty = reorder;
}

// ---- atlas bookkeeping ---------------------------------------------------------------------

bool CCSpriteBatchNode::increaseAtlasCapacity() {
    if (!_textureAtlas) return false;
    std::uint64_t capacity = _textureAtlas->capacity();
    if (capacity >= kCCSpriteBatchMaxQuads) return false;
    std::uint64_t quantity = std::min((capacity + 1) * 4 / 3, kCCSpriteBatchMaxQuads);
    const std::uint64_t total = _textureAtlas->totalQuads();
    if (_textureAtlas->resizeCapacity(quantity)) return true;

    // Out of memory. A failed resize may have emptied the atlas: give it its old size back and
    // rewrite every descendant's quad, which each sprite still holds.
    if (_textureAtlas->capacity() != capacity && _textureAtlas->resizeCapacity(capacity)) {
        for (std::uint64_t i = 0; i < _descendants->count(); ++i) {
            CCSprite* sprite = spriteAt(_descendants.get(), i);
            _ccV3F_C4B_T2F_Quad quad = sprite->quad();
            if (sprite->atlasIndex() < capacity) _textureAtlas->updateQuad(&quad, sprite->atlasIndex());
        }
        // The emptied atlas counts no quads; without its old total it would draw none.
        _textureAtlas->increaseTotalQuadsWith(total - _textureAtlas->totalQuads());
    }
    return false;
}

bool CCSpriteBatchNode::reserveQuads(std::uint64_t extra) {
    if (!_textureAtlas) return false;
    std::uint64_t used = std::max(_textureAtlas->totalQuads(), _descendants->count());
    if (extra > kCCSpriteBatchMaxQuads || used > kCCSpriteBatchMaxQuads - extra) return false;
    while (used + extra > _textureAtlas->capacity())
        if (!increaseAtlasCapacity()) return false;
    return true;
}

bool CCSpriteBatchNode::reserveIndex(std::uint64_t index) {
    if (!_textureAtlas || index >= kCCSpriteBatchMaxQuads) return false;
    while (index >= _textureAtlas->capacity() || _textureAtlas->totalQuads() >= _textureAtlas->capacity())
        if (!increaseAtlasCapacity()) break;
    return index < _textureAtlas->capacity() && _textureAtlas->totalQuads() < _textureAtlas->capacity();
}

std::uint64_t CCSpriteBatchNode::rebuildIndexInOrder(CCNode* parent, std::uint64_t index) {
    CCArray* children = parent->children();
    std::uint64_t n = childCount(parent);
    for (std::uint64_t i = 0; i < n; ++i) {
        CCSprite* child = spriteChildAt(children, i);
        if (child && child->zOrder() < 0) index = rebuildIndexInOrder(child, index);
    }
    if (parent != this) {
        if (CCSprite* sprite = dynamic_cast<CCSprite*>(parent)) sprite->setAtlasIndex(index);
        ++index;
    }
    for (std::uint64_t i = 0; i < n; ++i) {
        CCSprite* child = spriteChildAt(children, i);
        if (child && child->zOrder() >= 0) index = rebuildIndexInOrder(child, index);
    }
    return index;
}

std::uint64_t CCSpriteBatchNode::highestAtlasIndexInChild(CCSprite* sprite) {
    std::uint64_t n = childCount(sprite);
    if (n == 0) return sprite->atlasIndex();
    CCSprite* last = spriteChildAt(sprite->children(), n - 1);
    return last ? highestAtlasIndexInChild(last) : sprite->atlasIndex();
}

std::uint64_t CCSpriteBatchNode::lowestAtlasIndexInChild(CCSprite* sprite) {
    if (childCount(sprite) == 0) return sprite->atlasIndex();
    CCSprite* first = spriteChildAt(sprite->children(), 0);
    return first ? lowestAtlasIndexInChild(first) : sprite->atlasIndex();
}

std::uint64_t CCSpriteBatchNode::atlasIndexForChild(CCSprite* sprite, std::int64_t z) {
    CCNode* parent = sprite->parent();
    if (!parent || !parent->children()) return 0;
    CCArray* brothers = parent->children();
    std::uint64_t i = brothers->indexOfObject(sprite);
    if (i == platform::NSNotFound) return 0;
    CCSprite* previous = i > 0 ? spriteChildAt(brothers, i - 1) : nullptr;

    if (parent == this) return i == 0 || !previous ? 0 : highestAtlasIndexInChild(previous) + 1;

    auto* parentSprite = dynamic_cast<CCSprite*>(parent);
    if (!parentSprite) return 0;
    if (i == 0 || !previous) return z < 0 ? parentSprite->atlasIndex() : parentSprite->atlasIndex() + 1;
    if ((previous->zOrder() < 0 && z < 0) || (previous->zOrder() >= 0 && z >= 0))
        return highestAtlasIndexInChild(previous) + 1;
    return parentSprite->atlasIndex() + 1;
}

bool CCSpriteBatchNode::insertChildInAtlasAtIndex(CCSprite* sprite, std::uint64_t index) {
    if (!sprite || index > _descendants->count()) return false;
    if (!reserveQuads(subtreeSize(sprite))) return false;
    insertSubtree(sprite, index);
    return true;
}

void CCSpriteBatchNode::insertSubtree(CCSprite* sprite, std::uint64_t index) {
    platform::Ref<CCSprite> keep(sprite);
    index = std::min(index, _descendants->count());
    sprite->setBatchNode(this);
    sprite->setAtlasIndex(index);
    sprite->setDirty(true);

    putQuad(_textureAtlas.get(), sprite, index);

    _descendants->insertObject(sprite, index);
    for (std::uint64_t i = index + 1; i < _descendants->count(); ++i) {
        CCSprite* later = spriteAt(_descendants.get(), i);
        later->setAtlasIndex(later->atlasIndex() + 1);
    }

    for (std::uint64_t i = 0; i < childCount(sprite); ++i) {
        if (CCSprite* child = spriteChildAt(sprite->children(), i))
            insertSubtree(child, atlasIndexForChild(child, child->zOrder()));
    }
}

bool CCSpriteBatchNode::appendChild(CCSprite* sprite) {
    if (!sprite || !reserveQuads(subtreeSize(sprite))) return false;
    appendSubtree(sprite);
    return true;
}

void CCSpriteBatchNode::appendSubtree(CCSprite* sprite) {
    _isReorderChildDirty = true;
    sprite->setBatchNode(this);
    sprite->setDirty(true);

    _descendants->addObject(sprite);
    std::uint64_t index = _descendants->count() - 1;
    sprite->setAtlasIndex(index);

    putQuad(_textureAtlas.get(), sprite, index);

    for (std::uint64_t i = 0; i < childCount(sprite); ++i)
        if (CCSprite* child = spriteChildAt(sprite->children(), i)) appendSubtree(child);
}

void CCSpriteBatchNode::removeSpriteFromAtlas(CCSprite* sprite) {
    if (!sprite) return;
    platform::Ref<CCSprite> keep(sprite);
    if (childCount(sprite) > 0 && removeSubtreeFromAtlas(sprite)) return;
    std::uint64_t atlasIndex = sprite->atlasIndex();
    if (_textureAtlas && atlasIndex < _textureAtlas->totalQuads())
        _textureAtlas->removeQuadAtIndex(atlasIndex);
    sprite->setBatchNode(nullptr);

    // The atlas index is the sprite's place among the descendants, unless a subclass placed
    // quads itself: look it up only then.
    std::uint64_t position =
        atlasIndex < _descendants->count() && spriteAt(_descendants.get(), atlasIndex) == sprite
            ? atlasIndex
            : _descendants->indexOfObject(sprite);
    if (position != platform::NSNotFound) {
        _descendants->removeObjectAtIndex(position);
        for (std::uint64_t i = position; i < _descendants->count(); ++i) {
            CCSprite* later = spriteAt(_descendants.get(), i);
            later->setAtlasIndex(later->atlasIndex() - 1);
        }
    }

    for (std::uint64_t i = 0; i < childCount(sprite); ++i)
        if (CCSprite* child = spriteChildAt(sprite->children(), i)) removeSpriteFromAtlas(child);
}

bool CCSpriteBatchNode::removeSubtreeFromAtlas(CCSprite* sprite) {
    // The subtree in the order the one-by-one removal takes it.
    std::vector<CCSprite*> subtree, pending{sprite};
    while (!pending.empty()) {
        CCSprite* s = pending.back();
        pending.pop_back();
        subtree.push_back(s);
        for (std::uint64_t i = childCount(s); i-- > 0;)
            if (CCSprite* child = spriteChildAt(s->children(), i)) pending.push_back(child);
    }
    // Only where every quad sits at its sprite's place among the descendants (not so when a
    // subclass placed quads itself): then the subtree leaves in one pass over the rest.
    const std::uint64_t count = _descendants->count();
    if (!_textureAtlas || _textureAtlas->totalQuads() != count || subtree.size() > count) return false;
    std::vector<std::uint64_t> positions;
    positions.reserve(subtree.size());
    for (CCSprite* s : subtree) {
        std::uint64_t p = s->atlasIndex();
        if (p >= count || spriteAt(_descendants.get(), p) != s) return false;
        positions.push_back(p);
    }
    std::sort(positions.begin(), positions.end());
    if (std::adjacent_find(positions.begin(), positions.end()) != positions.end()) return false;

    for (CCSprite* s : subtree)
        s->setBatchNode(nullptr);
    // The kept sprites and quads move down over the removed ones, which gather at the end.
    platform::Object** items = _descendants->data->items;
    _ccV3F_C4B_T2F_Quad* quads = _textureAtlas->quads();
    std::vector<platform::Object*> removed;
    removed.reserve(positions.size());
    std::uint64_t write = positions.front();
    std::size_t next = 0;
    for (std::uint64_t read = positions.front(); read < count; ++read) {
        if (next < positions.size() && positions[next] == read) {
            removed.push_back(items[read]);
            ++next;
            continue;
        }
        items[write] = items[read];
        quads[write] = quads[read];
        static_cast<CCSprite*>(items[write])->setAtlasIndex(write);
        ++write;
    }
    std::copy(removed.begin(), removed.end(), items + write);
    for (std::size_t i = 0; i < removed.size(); ++i)
        _descendants->removeLastObject();
    _textureAtlas->removeQuadsAtIndex(count - removed.size(), removed.size());
    return true;
}

// ---- texture and blending ------------------------------------------------------------------

void CCSpriteBatchNode::updateBlendFunc() {
    CCTexture2D* tex = texture();
    if (!tex || !tex->hasPremultipliedAlpha()) _blendFunc = {GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA};
}

void CCSpriteBatchNode::setTexture(CCTexture2D* texture) {
    if (!_textureAtlas) return;
    _textureAtlas->setTexture(texture);
    updateBlendFunc();
}

CCTexture2D* CCSpriteBatchNode::texture() const {
    return _textureAtlas ? _textureAtlas->texture() : nullptr;
}

void CCSpriteBatchNode::setTextureAtlas(CCTextureAtlas* atlas) {
    if (atlas != _textureAtlas.get()) _textureAtlas = atlas;
}

// ---- quad-level operations -----------------------------------------------------------------

bool CCSpriteBatchNode::insertQuadFromSprite(CCSprite* sprite, std::uint64_t index) {
    if (!sprite || !reserveIndex(index)) return false;
    sprite->setBatchNode(this);
    sprite->setAtlasIndex(index);
    putQuad(_textureAtlas.get(), sprite, index);
    sprite->setDirty(true);
    sprite->updateTransform();
    return true;
}

bool CCSpriteBatchNode::updateQuadFromSprite(CCSprite* sprite, std::uint64_t index) {
    if (!sprite) return false;
    // Growth as for an insertion; only an index past the addressable quads is refused.
    if (index >= kCCSpriteBatchMaxQuads || !_textureAtlas) return false;
    reserveIndex(index);
    if (index >= _textureAtlas->capacity()) return false;
    sprite->setBatchNode(this);
    sprite->setAtlasIndex(index);
    sprite->setDirty(true);
    sprite->updateTransform();
    return true;
}

CCSpriteBatchNode* CCSpriteBatchNode::addSpriteWithoutQuad(CCSprite* sprite, std::uint64_t z,
                                                           std::int64_t tag) {
    if (!sprite) return this;
    sprite->setAtlasIndex(z);
    std::uint64_t i = 0;
    for (; i < _descendants->count(); ++i)
        if (spriteAt(_descendants.get(), i)->atlasIndex() >= z) break;
    _descendants->insertObject(sprite, i);
    CCNode::addChild(sprite, static_cast<std::int64_t>(z), tag);
    reorderBatch(false);
    return this;
}
