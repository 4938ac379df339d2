#include "graphics/CCSpriteBatchNode.h"

#include "core/CCArray.h"
#include "core/CCMatrix.h"
#include "core/CCLayer.h"
#include "graphics/CCDrawNode.h"
#include "graphics/CCLabelAtlas.h"
#include "graphics/CCSprite.h"
#include "graphics/CCTextureAtlas.h"
#include "platform/Exception.h"
#include "tests/graphics/SpriteTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using fltest::colorNear;
using fltest::makePlainTexture;
using fltest::makeTexture;
using platform::Ref;

bool sameQuad(const _ccV3F_C4B_T2F_Quad& a, const _ccV3F_C4B_T2F_Quad& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

CCSprite* descendant(CCSpriteBatchNode* batch, std::uint64_t i) {
    return static_cast<CCSprite*>(batch->descendants()->objectAtIndex(i));
}

class SpriteBatchNodeTest : public fltest::SpriteFixture {
protected:
    void SetUp() override {
        fltest::SpriteFixture::SetUp();
        texture = makePlainTexture(64, 64);
    }
    void TearDown() override {
        texture = nullptr;
        fltest::SpriteFixture::TearDown();
    }
    Ref<CCSprite> sprite() { return CCSprite::spriteWithTexture(texture.get(), CGRectMake(0, 0, 4, 4)); }

    // Descendant i has atlas index i and its own quad at atlas index i; the atlas holds as
    // many quads as there are descendants.
    void expectConsistent(CCSpriteBatchNode* batch, const char* step) {
        CCArray* d = batch->descendants();
        CCTextureAtlas* atlas = batch->textureAtlas();
        ASSERT_EQ(atlas->totalQuads(), d->count()) << step;
        ASSERT_LE(atlas->totalQuads(), atlas->capacity()) << step;
        for (std::uint64_t i = 0; i < d->count(); ++i) {
            CCSprite* s = descendant(batch, i);
            ASSERT_EQ(s->atlasIndex(), i) << step;
            ASSERT_EQ(s->batchNode(), batch) << step;
            ASSERT_EQ(s->textureAtlas(), atlas) << step;
            ASSERT_TRUE(sameQuad(atlas->quads()[i], s->quad())) << step << ": quad " << i;
        }
    }

    Ref<CCTexture2D> texture;
};

// ---- capacity ----

TEST_F(SpriteBatchNodeTest, CapacityGrowsByAThirdPlusOne) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    ASSERT_TRUE(batch);
    EXPECT_EQ(batch->textureAtlas()->capacity(), kCCSpriteBatchDefaultCapacity);
    std::vector<Ref<CCSprite>> sprites;
    for (int i = 0; i < 29; ++i) {
        sprites.push_back(sprite());
        batch->addChild(sprites.back().get());
    }
    EXPECT_EQ(batch->textureAtlas()->capacity(), 29u);
    sprites.push_back(sprite());
    batch->addChild(sprites.back().get());
    EXPECT_EQ(batch->textureAtlas()->capacity(), 40u);
    expectConsistent(batch.get(), "30 sprites");

    // An empty batch starts at 0 and grows one quad at a time at first.
    auto empty = CCSpriteBatchNode::node();
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->textureAtlas()->capacity(), 0u);
    auto first = sprite();
    empty->addChild(first.get());
    EXPECT_EQ(empty->textureAtlas()->capacity(), 1u);

    EXPECT_FALSE(CCSpriteBatchNode::batchNodeWithFile("no-such-sheet.png"));
}

TEST_F(SpriteBatchNodeTest, GrowthStopsAtTheAddressableQuads) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get(), 12300);
    EXPECT_TRUE(batch->increaseAtlasCapacity());
    EXPECT_EQ(batch->textureAtlas()->capacity(), kCCSpriteBatchMaxQuads);
    EXPECT_FALSE(batch->increaseAtlasCapacity());
    EXPECT_EQ(batch->textureAtlas()->capacity(), kCCSpriteBatchMaxQuads);

    // Asked for more at the start, a batch gets the most it can address.
    auto big = CCSpriteBatchNode::batchNodeWithTexture(texture.get(), 100000);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->textureAtlas()->capacity(), kCCSpriteBatchMaxQuads);
}

TEST_F(SpriteBatchNodeTest, AFullBatchRefusesWhatDoesNotFit) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get(), 16000);
    std::vector<Ref<CCSprite>> sprites;
    for (std::uint64_t i = 0; i < kCCSpriteBatchMaxQuads - 2; ++i) {
        sprites.push_back(sprite());
        batch->addChild(sprites.back().get(), static_cast<std::int64_t>(i % 3));
    }
    ASSERT_EQ(batch->descendants()->count(), kCCSpriteBatchMaxQuads - 2);
    EXPECT_EQ(batch->textureAtlas()->capacity(), kCCSpriteBatchMaxQuads);

    // Three quads do not fit in two: the whole subtree is refused.
    auto parent = sprite();
    auto a = sprite(), b = sprite();
    parent->addChild(a.get());
    parent->addChild(b.get(), -1);
    batch->addChild(parent.get());
    EXPECT_EQ(parent->parent(), nullptr);
    EXPECT_EQ(parent->batchNode(), nullptr);
    EXPECT_EQ(a->batchNode(), nullptr);
    EXPECT_EQ(batch->children()->count(), kCCSpriteBatchMaxQuads - 2);
    EXPECT_EQ(batch->descendants()->count(), kCCSpriteBatchMaxQuads - 2);

    // Two do.
    parent->removeChild(b.get(), true);
    batch->addChild(parent.get());
    EXPECT_EQ(parent->parent(), batch.get());
    EXPECT_EQ(batch->descendants()->count(), kCCSpriteBatchMaxQuads);

    // Full: neither the batch nor a batched sprite takes another child.
    auto late = sprite();
    batch->addChild(late.get());
    EXPECT_EQ(late->parent(), nullptr);
    parent->addChild(late.get());
    EXPECT_EQ(late->parent(), nullptr);
    EXPECT_EQ(parent->children()->count(), 1u);
    EXPECT_FALSE(batch->insertChildInAtlasAtIndex(late.get(), 0));
    EXPECT_FALSE(batch->insertQuadFromSprite(late.get(), 3));
    EXPECT_EQ(late->batchNode(), nullptr);
    EXPECT_FALSE(batch->updateQuadFromSprite(late.get(), kCCSpriteBatchMaxQuads));
    EXPECT_EQ(batch->textureAtlas()->totalQuads(), kCCSpriteBatchMaxQuads);

    batch->visit();
    expectConsistent(batch.get(), "full batch after a visit");
}

// ---- atlas order ----

TEST_F(SpriteBatchNodeTest, AtlasFollowsZOrderAfterTheNextVisit) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    auto s2 = sprite(), sm1 = sprite(), s0 = sprite();
    batch->addChild(s2.get(), 2);
    batch->addChild(sm1.get(), -1);
    batch->addChild(s0.get(), 0);
    // Appended in arrival order until then.
    EXPECT_EQ(s2->atlasIndex(), 0u);
    EXPECT_EQ(s0->atlasIndex(), 2u);
    batch->visit();
    EXPECT_EQ(descendant(batch.get(), 0), sm1.get());
    EXPECT_EQ(descendant(batch.get(), 1), s0.get());
    EXPECT_EQ(descendant(batch.get(), 2), s2.get());
    expectConsistent(batch.get(), "sorted");

    // The current z order marks nothing: no sort, no new arrival.
    batch->reorderChild(s0.get(), 0);
    EXPECT_EQ(s0->orderOfArrival(), 0u);
    batch->reorderChild(s0.get(), 5);
    batch->visit();
    EXPECT_EQ(descendant(batch.get(), 2), s0.get());
    expectConsistent(batch.get(), "reordered");

    // Through the sprite's own z order setter as well, in the batch and inside a sprite.
    s2->setZOrder(-4);
    batch->visit();
    EXPECT_EQ(descendant(batch.get(), 0), s2.get());
    auto child = sprite();
    sm1->addChild(child.get(), 1);
    batch->visit();
    EXPECT_EQ(child->atlasIndex(), sm1->atlasIndex() + 1);
    child->setZOrder(-1);
    batch->visit();
    EXPECT_EQ(child->atlasIndex() + 1, sm1->atlasIndex());
    expectConsistent(batch.get(), "z order set on the sprites");
}

TEST_F(SpriteBatchNodeTest, ParentsSitBetweenTheirChildrenBySign) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    auto parent = sprite(), below = sprite(), above = sprite();
    parent->addChild(above.get(), 1);
    parent->addChild(below.get(), -1);
    batch->addChild(parent.get());
    batch->visit();
    EXPECT_EQ(below->atlasIndex(), 0u);
    EXPECT_EQ(parent->atlasIndex(), 1u);
    EXPECT_EQ(above->atlasIndex(), 2u);
    expectConsistent(batch.get(), "nested");
    EXPECT_EQ(batch->lowestAtlasIndexInChild(parent.get()), 0u);
    EXPECT_EQ(batch->highestAtlasIndexInChild(parent.get()), 2u);
    EXPECT_EQ(batch->rebuildIndexInOrder(batch.get(), 0), 3u);
    EXPECT_EQ(parent->atlasIndex(), 1u);
}

TEST_F(SpriteBatchNodeTest, InsertingPlacesASubtreeInDrawingOrder) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    auto a = sprite(), b = sprite();
    batch->addChild(a.get());
    batch->addChild(b.get());
    batch->visit();

    auto s = sprite(), below = sprite(), above = sprite();
    s->addChild(below.get(), -1);
    s->addChild(above.get(), 1);
    s->sortAllChildren();
    batch->CCNode::addChild(s.get(), 0, 0);
    ASSERT_TRUE(batch->insertChildInAtlasAtIndex(s.get(), 1));
    std::vector<CCSprite*> expected{a.get(), below.get(), s.get(), above.get(), b.get()};
    for (std::uint64_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(descendant(batch.get(), i), expected[i]) << i;
    expectConsistent(batch.get(), "inserted");
    EXPECT_FALSE(batch->insertChildInAtlasAtIndex(sprite().get(), 9));
}

TEST_F(SpriteBatchNodeTest, RemovingASubtreeFreesItsQuads) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    auto first = sprite(), parent = sprite(), c1 = sprite(), c2 = sprite(), last = sprite();
    parent->addChild(c1.get());
    parent->addChild(c2.get());
    batch->addChild(first.get());
    batch->addChild(parent.get());
    batch->addChild(last.get());
    batch->visit();
    ASSERT_EQ(last->atlasIndex(), 4u);

    batch->removeChild(parent.get(), true);
    EXPECT_EQ(batch->textureAtlas()->totalQuads(), 2u);
    EXPECT_EQ(last->atlasIndex(), 1u);
    for (CCSprite* s : {parent.get(), c1.get(), c2.get()}) {
        EXPECT_EQ(s->batchNode(), nullptr);
        EXPECT_EQ(s->atlasIndex(), spriteIndexNotInitialized);
    }
    expectConsistent(batch.get(), "removed");
    // Not a child: nothing happens.
    batch->removeChild(parent.get(), true);
    batch->removeChild(nullptr, true);
    batch->removeChildAtIndex(7, true);
    expectConsistent(batch.get(), "removed twice");

    batch->removeAllChildrenWithCleanup(true);
    EXPECT_EQ(batch->textureAtlas()->totalQuads(), 0u);
    EXPECT_EQ(batch->descendants()->count(), 0u);
    EXPECT_EQ(first->batchNode(), nullptr);
}

// The scene graph of a batch, kept apart: each parent's children in their current order, and
// order of arrival as a counter. A visit sorts every child list stably by (z, arrival) and
// resets the arrivals, which is what the atlas order must then follow.
struct Model {
    struct Entry {
        Ref<CCSprite> sprite;
        std::int64_t z = 0;
        std::uint64_t arrival = 0;
        int parent = -1;
        std::vector<int> children;
        bool inBatch = true;
    };
    std::vector<Entry> entries{Entry{}}; // entry 0 is the batch
    std::uint64_t clock = 1;

    int add(Ref<CCSprite> s, int parent, std::int64_t z) {
        entries.push_back(Entry{std::move(s), z, clock++, parent, {}, true});
        int id = static_cast<int>(entries.size()) - 1;
        entries[static_cast<std::size_t>(parent)].children.push_back(id);
        return id;
    }
    Entry& at(int id) { return entries[static_cast<std::size_t>(id)]; }
    void detach(int id) {
        auto& siblings = at(at(id).parent).children;
        siblings.erase(std::find(siblings.begin(), siblings.end(), id));
        markOut(id);
    }
    void markOut(int id) {
        at(id).inBatch = false;
        for (int c : at(id).children)
            markOut(c);
    }
    void visit() {
        for (Entry& e : entries) {
            std::stable_sort(e.children.begin(), e.children.end(), [this](int a, int b) {
                return at(a).z < at(b).z || (at(a).z == at(b).z && at(a).arrival < at(b).arrival);
            });
        }
        for (Entry& e : entries)
            if (e.inBatch) e.arrival = 0;
    }
    void drawingOrder(int id, std::vector<CCSprite*>& out) {
        for (int c : at(id).children)
            if (at(c).z < 0) drawingOrder(c, out);
        if (id != 0) out.push_back(at(id).sprite.get());
        for (int c : at(id).children)
            if (at(c).z >= 0) drawingOrder(c, out);
    }
    std::vector<int> live() const {
        std::vector<int> ids;
        for (std::size_t i = 1; i < entries.size(); ++i)
            if (entries[i].inBatch) ids.push_back(static_cast<int>(i));
        return ids;
    }
};

TEST_F(SpriteBatchNodeTest, RandomEditsKeepTheAtlasInStepWithTheSceneGraph) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get(), 4);
    Model model;
    std::mt19937 random(1234567);
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    auto randomZ = [&] { return static_cast<std::int64_t>(pick(7) - 3); };
    CCNode* root = batch.get();
    auto node = [&](int id) -> CCNode* { return id == 0 ? root : model.at(id).sprite.get(); };
    float nextU = 0;
    // Every sprite shows a rect of its own, so quads can be told apart.
    auto fresh = [&] {
        nextU += 1;
        return CCSprite::spriteWithTexture(texture.get(), CGRectMake(std::fmod(nextU, 60), nextU / 60, 1, 1));
    };

    for (int step = 0; step < 1500; ++step) {
        std::vector<int> live = model.live();
        int op = pick(10);
        if (op < 4 || live.empty()) {
            // A new sprite, sometimes with children of its own, under the batch or a sprite.
            int parent = live.empty() || pick(3) == 0
                             ? 0
                             : live[static_cast<std::size_t>(pick(static_cast<int>(live.size())))];
            auto s = fresh();
            std::vector<std::pair<Ref<CCSprite>, std::int64_t>> kids;
            for (int k = pick(3); k > 0; --k) {
                kids.emplace_back(fresh(), randomZ());
                s->addChild(kids.back().first.get(), kids.back().second);
            }
            std::int64_t z = randomZ();
            // Children arrive at their parent before the parent arrives in the batch.
            std::vector<std::uint64_t> kidArrivals;
            for (std::size_t k = 0; k < kids.size(); ++k)
                kidArrivals.push_back(model.clock++);
            node(parent)->addChild(s.get(), z);
            int id = model.add(s, parent, z);
            for (std::size_t k = 0; k < kids.size(); ++k) {
                int kid = model.add(kids[k].first, id, kids[k].second);
                model.at(kid).arrival = kidArrivals[k];
            }
        } else if (op < 7) {
            int id = live[static_cast<std::size_t>(pick(static_cast<int>(live.size())))];
            std::int64_t z = randomZ();
            node(model.at(id).parent)->reorderChild(model.at(id).sprite.get(), z);
            if (z != model.at(id).z) {
                model.at(id).z = z;
                model.at(id).arrival = model.clock++;
            }
        } else if (op < 9) {
            int id = live[static_cast<std::size_t>(pick(static_cast<int>(live.size())))];
            node(model.at(id).parent)->removeChild(model.at(id).sprite.get(), true);
            model.detach(id);
            for (const Model::Entry& e : model.entries)
                if (!e.inBatch && e.sprite) {
                    ASSERT_EQ(e.sprite->batchNode(), nullptr) << "step " << step;
                    ASSERT_EQ(e.sprite->atlasIndex(), spriteIndexNotInitialized) << "step " << step;
                }
        } else {
            batch->visit();
            model.visit();
            std::vector<CCSprite*> expected;
            model.drawingOrder(0, expected);
            ASSERT_EQ(batch->descendants()->count(), expected.size()) << "step " << step;
            for (std::size_t i = 0; i < expected.size(); ++i)
                ASSERT_EQ(descendant(batch.get(), i), expected[i]) << "step " << step << ", index " << i;
        }
        expectConsistent(batch.get(), "random step");
        if (HasFatalFailure()) {
            ADD_FAILURE() << "at step " << step;
            return;
        }
    }
}

// ---- drawing ----

TEST_F(SpriteBatchNodeTest, DrawWithNoQuadsCallsNothing) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    std::uint32_t before = drawCallCounter;
    fltest::GLCallCounter calls;
    batch->draw();
    EXPECT_EQ(calls.total(), 0u);
    EXPECT_EQ(drawCallCounter, before);
}

TEST_F(SpriteBatchNodeTest, OneDrawCallForTheWholeBatch) {
    // Three texels: red, green, blue; each sprite shows one, 16 times enlarged.
    auto strip = makeTexture(3, 1, [](int x, int) {
        return x == 0 ? 0xFF0000FFu : x == 1 ? 0x00FF00FFu : 0x0000FFFFu;
    });
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(strip.get());
    auto scene = CCScene::node();
    scene->addChild(batch.get());
    Ref<CCSprite> sprites[3];
    for (int i = 0; i < 3; ++i) {
        sprites[i] = CCSprite::spriteWithTexture(strip.get(), CGRectMake(i, 0, 1, 1));
        sprites[i]->setAnchorPoint(CGPointZero);
        sprites[i]->setScale(16);
        sprites[i]->setPosition(CGPointMake(8 + 8 * i, 8));
    }
    // Blue below green below red, though added the other way round; each overlaps the next.
    batch->addChild(sprites[0].get(), 3);
    batch->addChild(sprites[1].get(), 2);
    batch->addChild(sprites[2].get(), 1);
    batch->setPosition(CGPointMake(4, 4));

    drawFrame(scene.get());
    std::uint32_t before = drawCallCounter;
    director()->drawScene();
    EXPECT_EQ(drawCallCounter - before, 1u);
    EXPECT_TRUE(colorNear(presentedPixel(20, 20), 0xFF0000FFu)) << std::hex << presentedPixel(20, 20);
    EXPECT_TRUE(colorNear(presentedPixel(32, 20), 0x00FF00FFu)) << std::hex << presentedPixel(32, 20);
    EXPECT_TRUE(colorNear(presentedPixel(40, 20), 0x0000FFFFu)) << std::hex << presentedPixel(40, 20);
    EXPECT_TRUE(colorNear(presentedPixel(50, 20), 0x000000FFu));

    // Hiding red and raising blue above green.
    sprites[0]->setVisible(false);
    batch->reorderChild(sprites[2].get(), 9);
    drawFrame(scene.get());
    EXPECT_TRUE(colorNear(presentedPixel(16, 20), 0x000000FFu)) << std::hex << presentedPixel(16, 20);
    EXPECT_TRUE(colorNear(presentedPixel(32, 20), 0x0000FFFFu)) << std::hex << presentedPixel(32, 20);
    EXPECT_TRUE(colorNear(presentedPixel(26, 20), 0x00FF00FFu)) << std::hex << presentedPixel(26, 20);
}

// ---- quad-level operations ----

TEST_F(SpriteBatchNodeTest, QuadOperationsWriteTransformedQuadsWithoutChildren) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get(), 2);
    auto tile = sprite();
    tile->setPosition(CGPointMake(10, 10));
    ASSERT_TRUE(batch->insertQuadFromSprite(tile.get(), 0));
    EXPECT_EQ(batch->textureAtlas()->totalQuads(), 1u);
    EXPECT_EQ(batch->descendants()->count(), 0u);
    EXPECT_EQ(tile->parent(), nullptr);
    EXPECT_FLOAT_EQ(batch->textureAtlas()->quads()[0].bl.vertices.x, 8);

    auto other = sprite();
    other->setPosition(CGPointMake(30, 10));
    ASSERT_TRUE(batch->updateQuadFromSprite(other.get(), 0));
    EXPECT_EQ(batch->textureAtlas()->totalQuads(), 1u);
    EXPECT_FLOAT_EQ(batch->textureAtlas()->quads()[0].bl.vertices.x, 28);

    // An index past the capacity grows the atlas until it fits.
    ASSERT_TRUE(batch->insertQuadFromSprite(sprite().get(), 5));
    EXPECT_EQ(batch->textureAtlas()->capacity(), 6u);
    EXPECT_EQ(batch->textureAtlas()->totalQuads(), 6u);
}

TEST_F(SpriteBatchNodeTest, SpritesWithoutQuadsAreKeptByIndex) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    Ref<CCSprite> s[4] = {sprite(), sprite(), sprite(), sprite()};
    batch->addSpriteWithoutQuad(s[0].get(), 0, 1);
    batch->addSpriteWithoutQuad(s[1].get(), 7, 2);
    batch->addSpriteWithoutQuad(s[2].get(), 3, 3);
    EXPECT_EQ(batch->addSpriteWithoutQuad(s[3].get(), 5, 4), batch.get());
    EXPECT_EQ(descendant(batch.get(), 2), s[3].get());
    EXPECT_EQ(descendant(batch.get(), 3), s[1].get());
    EXPECT_EQ(s[3]->atlasIndex(), 5u);
    EXPECT_EQ(batch->textureAtlas()->totalQuads(), 0u);
    EXPECT_EQ(batch->getChildByTag(4), s[3].get());
}

TEST_F(SpriteBatchNodeTest, BlendAndDescription) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    EXPECT_EQ(batch->blendFunc().src, static_cast<std::uint32_t>(GL_SRC_ALPHA));
    EXPECT_EQ(batch->texture(), texture.get());
    batch->setTag(3);
    char expected[96];
    std::snprintf(expected, sizeof expected, "<CCSpriteBatchNode = %p | Tag = 3>",
                  static_cast<void*>(batch.get()));
    EXPECT_EQ(batch->description(), expected);
}

} // namespace

// ---- removal ----

namespace {

// Counts its exits and removes itself from its parent in each.
class SelfRemovingSprite : public CCSprite {
public:
    void onExit() override {
        ++exits;
        CCSprite::onExit();
        removeFromParentAndCleanup(true);
    }
    int exits = 0;
};

} // namespace

TEST_F(SpriteBatchNodeTest, ASpriteThatRemovesItselfWhileBeingRemovedLeavesOnce) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    auto make = [&] {
        auto s = platform::make<SelfRemovingSprite>();
        s->initWithTexture(texture.get(), CGRectMake(0, 0, 4, 4));
        return s;
    };
    auto a = make(), b = make(), inner = make(), keep = make();
    batch->addChild(a.get());
    batch->addChild(b.get());
    b->addChild(inner.get());
    batch->addChild(keep.get());
    batch->onEnter();

    batch->removeChild(a.get(), true);
    EXPECT_EQ(a->exits, 1);
    expectConsistent(batch.get(), "batch removeChild");
    b->removeChild(inner.get(), true);
    EXPECT_EQ(inner->exits, 1);
    expectConsistent(batch.get(), "sprite removeChild");
    EXPECT_EQ(batch->descendants()->count(), 2u);

    batch->removeAllChildrenWithCleanup(true);
    EXPECT_EQ(b->exits, 1);
    EXPECT_EQ(keep->exits, 1);
    expectConsistent(batch.get(), "removeAll");
    EXPECT_EQ(batch->children()->count(), 0u);
    batch->onExit();
}

TEST_F(SpriteBatchNodeTest, RemovingASubtreeLeavesTheOtherQuadsInOrder) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    std::mt19937 random(3);
    float u = 0;
    auto fresh = [&] {
        u += 1;
        return CCSprite::spriteWithTexture(texture.get(), CGRectMake(std::fmod(u, 60), u / 60, 1, 1));
    };
    // Trees of random shape and z under the batch, sorted, then grown again without a sort
    // (their new quads at the end), and taken away one subtree at a time.
    std::vector<Ref<CCSprite>> all;
    for (int i = 0; i < 200; ++i) {
        auto s = fresh();
        std::uniform_int_distribution<int> z(-2, 2);
        CCNode* parent = all.empty() || random() % 3 == 0 ? static_cast<CCNode*>(batch.get())
                                                          : all[random() % all.size()].get();
        parent->addChild(s.get(), z(random));
        all.push_back(s);
        if (i == 150) batch->visit();
    }
    std::shuffle(all.begin(), all.end(), random);
    for (auto& s : all) {
        CCNode* parent = s->parent();
        if (!parent || s->batchNode() != batch.get()) continue;
        std::vector<CCSprite*> expected;
        std::vector<CCSprite*> gone{s.get()};
        for (std::size_t k = 0; k < gone.size(); ++k)
            for (std::uint64_t i = 0; gone[k]->children() && i < gone[k]->children()->count(); ++i)
                gone.push_back(static_cast<CCSprite*>(gone[k]->children()->objectAtIndex(i)));
        for (std::uint64_t i = 0; i < batch->descendants()->count(); ++i)
            if (std::find(gone.begin(), gone.end(), descendant(batch.get(), i)) == gone.end())
                expected.push_back(descendant(batch.get(), i));
        parent->removeChild(s.get(), true);
        ASSERT_EQ(batch->descendants()->count(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(descendant(batch.get(), i), expected[i]) << i;
        for (CCSprite* g : gone)
            ASSERT_EQ(g->batchNode(), nullptr);
        expectConsistent(batch.get(), "subtree removed");
        if (HasFatalFailure()) return;
    }
    EXPECT_EQ(batch->textureAtlas()->totalQuads(), 0u);
}

TEST_F(SpriteBatchNodeTest, ReorderingANodeThatIsNotAChildThrowsAndLeavesIt) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    auto parent = sprite(), child = sprite(), stranger = sprite();
    batch->addChild(parent.get());
    parent->addChild(child.get(), 1);
    EXPECT_THROW(batch->reorderChild(child.get(), 4), platform::Exception);
    EXPECT_THROW(parent->reorderChild(stranger.get(), 4), platform::Exception);
    EXPECT_THROW(stranger->reorderChild(child.get(), 4), platform::Exception);
    EXPECT_EQ(child->zOrder(), 1);
    EXPECT_EQ(stranger->zOrder(), 0);
}

namespace {

class ThrowingSprite : public CCSprite {
public:
    void updateTransform() override {
        if (fail) throw platform::Exception(platform::NSInternalInconsistencyException, "transform failed");
        CCSprite::updateTransform();
    }
    bool fail = true;
};

// A scene of every node that draws through a vertex array object: a batch node's sprite, an atlas
// label and a draw node's dot over a colour layer. Built in the current context.
Ref<CCScene> arrayObjectScene() {
    auto scene = CCScene::node();
    scene->addChild(CCLayerColor::layerWithColor(ccc4(40, 60, 80, 255)).get());
    auto texture = makeTexture(16, 8, [](int x, int y) {
        return x < 8 ? 0xFF4020FFu : y < 4 ? 0x20FF40FFu : 0x4020FFFFu;
    });
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    auto sprite = CCSprite::spriteWithTexture(texture.get());
    sprite->setPosition(CGPointMake(12, 12));
    batch->addChild(sprite.get());
    scene->addChild(batch.get());
    auto label = platform::make<CCLabelAtlas>();
    label->initWithString("0110", texture.get(), 8, 8, '0');
    label->setPosition(CGPointMake(24, 36));
    scene->addChild(label.get());
    auto dot = CCDrawNode::node();
    dot->drawDot(CGPointMake(48, 16), 6, ccc4f(1, 1, 0, 1));
    scene->addChild(dot.get());
    return scene;
}

} // namespace

TEST_F(SpriteBatchNodeTest, AThrowWhileDrawingLeavesTheMatrixStackAsItWas) {
    auto batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get());
    batch->setPosition(CGPointMake(7, 9));
    auto s = platform::make<ThrowingSprite>();
    s->initWithTexture(texture.get(), CGRectMake(0, 0, 4, 4));
    batch->addChild(s.get());
    kmMat4 before, after;
    matrixGet(kCCMatrixModeModelView, &before);
    EXPECT_THROW(batch->visit(), platform::Exception);
    matrixGet(kCCMatrixModeModelView, &after);
    EXPECT_EQ(std::memcmp(before.mat, after.mat, sizeof before.mat), 0);
    s->fail = false;
    batch->visit();
    matrixGet(kCCMatrixModeModelView, &after);
    EXPECT_EQ(std::memcmp(before.mat, after.mat, sizeof before.mat), 0);
}

TEST_F(SpriteBatchNodeTest, ArrayObjectNodesDrawTheSameInEveryViewOfTheGroup) {
    // The director draws in one view, in a second of its group, then in the first again; each
    // frame is the picture of one view alone. Plain and retained views, the scene built in either
    // view's context. In a child process, so that a crash in the GL fails the test.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto body = [this] {
        constexpr GLenum kDepth24Stencil8 = 0x88F0;
        platform::ShareGroup* group = view()->context()->sharegroup();
        auto makeView = [group](bool retained) {
            Ref<CCGLView> made = CCGLView::viewWithFrame(CGRectMake(0, 0, 64, 64), kEAGLColorFormatRGBA8,
                                                         kDepth24Stencil8, retained, group, false, 0);
            if (made) made->layoutIfNeeded();
            return made;
        };
        std::string differences;
        for (bool retained : {false, true}) {
            Ref<CCGLView> single = makeView(retained);
            director()->setView(single.get());
            drawFrame(arrayObjectScene().get());
            const platform::PixelBuffer& alone = single->layer()->presentedFrame();
            // Rows top-down: the dot's centre, the sprite's green quarter, the label's second glyph.
            if (alone.pixel(48, 47) != 0xFFFF00FFu || alone.pixel(14, 50) != 0x20FF40FFu ||
                alone.pixel(36, 26) != 0x4020FFFFu)
                differences += "one view alone misses a node\n";
            const std::vector<std::uint8_t> expected = alone.rgba;
            for (int builtIn : {0, 1}) {
                Ref<CCGLView> views[] = {makeView(retained), makeView(retained)};
                director()->setView(views[0].get());
                platform::GLContext::setCurrentContext(views[builtIn]->context());
                Ref<CCScene> scene = arrayObjectScene();
                for (int turn : {0, 1, 0}) {
                    director()->setView(views[turn].get());
                    drawFrame(scene.get());
                    if (views[turn]->layer()->presentedFrame().rgba != expected)
                        differences += "retained " + std::to_string(retained) + ", built in view " +
                                       std::to_string(builtIn) + ": the frame in view " +
                                       std::to_string(turn) + " differs\n";
                }
                director()->setView(view());
            }
        }
        std::fputs(differences.c_str(), stderr);
        std::_Exit(differences.empty() && !HasFailure() ? 0 : 1);
    };
    EXPECT_EXIT(body(), ::testing::ExitedWithCode(0), "");
}
