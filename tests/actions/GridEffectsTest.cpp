// Grid and tile effects against hand-worked values, their randomness with fixed seeds, and
// effects run through the director's frames with the picture read back.
#include "actions/CCActionGrid3D.h"
#include "actions/CCActionTiledGrid.h"
#include "core/CCLayer.h"
#include "core/CCNode.h"
#include "core/CCScene.h"
#include "graphics/CCSprite.h"
#include "platform/Device.h"
#include "platform/Exception.h"
#include "tests/graphics/SpriteTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <vector>

using platform::Ref;

namespace {

// Grids over a window of the given size in points, on a bare node.
template <int W, int H> class EffectFixture : public fltest::EngineGLTest {
protected:
    CGSize viewSize() const override { return CGSizeMake(W, H); }
    void SetUp() override {
        EngineGLTest::SetUp();
        node = CCNode::node();
    }
    void TearDown() override {
        node = nullptr;
        EngineGLTest::TearDown();
    }
    CCGrid3D* grid3D() const { return dynamic_cast<CCGrid3D*>(node->grid()); }
    CCTiledGrid3D* tiles() const { return dynamic_cast<CCTiledGrid3D*>(node->grid()); }
    // Starts the action on the node and applies progress t.
    template <class A> A* run(const Ref<A>& action, double t) {
        action->startWithTarget(node.get());
        action->update(t);
        return action.get();
    }

    Ref<CCNode> node;
};

using WideEffects = EffectFixture<480, 320>;
using SmallEffects = EffectFixture<64, 96>;

_ccVertex3F vertexAt(CCGrid3D* g, int i, int j) {
    return g->vertex(CGPointMake(i, j));
}

bool sameQuad(const _ccQuad3& a, const _ccQuad3& b) {
    const _ccVertex3F* pa[] = {&a.bl, &a.br, &a.tl, &a.tr};
    const _ccVertex3F* pb[] = {&b.bl, &b.br, &b.tl, &b.tr};
    for (int k = 0; k < 4; ++k)
        if (pa[k]->x != pb[k]->x || pa[k]->y != pb[k]->y || pa[k]->z != pb[k]->z) return false;
    return true;
}

bool isZeroQuad(const _ccQuad3& q) {
    return sameQuad(q, _ccQuad3{});
}

// ---- bending effects -----------------------------------------------------------------------

TEST_F(WideEffects, FlipXTurnsAboutTheVerticalAxisAndBackAfterReuse) {
    Ref<CCFlipX3D> flip = CCFlipX3D::actionWithDuration(1);
    run(flip, 0.5);
    CCGrid3D* g = grid3D();
    ASSERT_TRUE(g);
    EXPECT_NEAR(vertexAt(g, 0, 0).x, 140.5887, 1e-3);
    EXPECT_EQ(vertexAt(g, 0, 1).z, 120);
    EXPECT_NEAR(vertexAt(g, 1, 1).x, 480 - 140.5887, 1e-3);
    EXPECT_EQ(vertexAt(g, 1, 0).z, -120);

    // At the end single-precision pi leaves a sliver: dz is 1, dx one step above 480.
    flip->update(1);
    EXPECT_EQ(vertexAt(g, 0, 0).z, 1);
    EXPECT_EQ(vertexAt(g, 0, 0).x, 480.00003f);
    EXPECT_EQ(vertexAt(g, 1, 0).z, -1);
    EXPECT_LT(vertexAt(g, 1, 0).x, 0);

    // Reused, the grid is found reversed and turned back.
    CCReuseGrid::actionWithTimes(1)->startWithTarget(node.get());
    run(CCFlipX3D::actionWithDuration(1), 1);
    EXPECT_EQ(grid3D(), g);
    EXPECT_NEAR(vertexAt(g, 0, 0).x, 0, 1e-3);
    EXPECT_NEAR(vertexAt(g, 1, 1).x, 480, 1e-3);

    try {
        platform::make<CCFlipX3D>()->initWithSize(CGSizeMake(2, 1), 1);
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), "FlipX3D");
        EXPECT_EQ(e.reason(), "Grid size must be (1,1)");
    }
}

TEST_F(WideEffects, FlipYTurnsAboutTheHorizontalAxis) {
    Ref<CCFlipY3D> flip = CCFlipY3D::actionWithDuration(1);
    EXPECT_TRUE(dynamic_cast<CCFlipY3D*>(platform::copyOf(flip.get()).get()));
    run(flip, 0.5);
    CCGrid3D* g = grid3D();
    ASSERT_TRUE(g);
    // y = 320: dy = 320 - 320 cos(pi/4) = 93.7258, dz = 80.
    EXPECT_NEAR(vertexAt(g, 0, 0).y, 93.7258, 1e-3);
    EXPECT_EQ(vertexAt(g, 1, 0).z, 80);
    EXPECT_NEAR(vertexAt(g, 0, 1).y, 320 - 93.7258, 1e-3);
    EXPECT_EQ(vertexAt(g, 1, 1).z, -80);
    EXPECT_EQ(vertexAt(g, 1, 1).x, 480);
}

TEST_F(WideEffects, LensRaisesPointsInsideItsRadiusOnlyWhenMoved) {
    // 15 x 10 cells of 32 points; the lens centre at (210, 160), point (5, 5) is 50 away.
    Ref<CCLens3D> lens = CCLens3D::actionWithDuration(1, CGSizeMake(15, 10), CGPointMake(210, 160), 100);
    EXPECT_FLOAT_EQ(lens->lensEffect(), 0.7f);
    run(lens, 0.3);
    CCGrid3D* g = grid3D();
    EXPECT_NEAR(vertexAt(g, 5, 5).z, 43.09, 0.005);
    EXPECT_EQ(vertexAt(g, 2, 5).z, 0); // 146 points away
    EXPECT_GT(vertexAt(g, 9, 5).z, 0); // 78 away
    // Later steps leave the mesh alone until the position changes.
    g->setVertex(CGPointMake(5, 5), _ccVertex3F{1, 1, 1});
    lens->update(0.9);
    EXPECT_EQ(vertexAt(g, 5, 5).z, 1);
    lens->setPosition(CGPointMake(210, 160));
    lens->update(0.9);
    EXPECT_EQ(vertexAt(g, 5, 5).z, 1);
    lens->setPosition(CGPointMake(160, 160));
    lens->update(0.9);
    EXPECT_EQ(vertexAt(g, 5, 5).z, 0); // the centre itself does not rise
    EXPECT_GT(vertexAt(g, 6, 5).z, 0);

    // A copy starts dirty; a second start of the same object does not.
    Ref<CCLens3D> copy = platform::copyOf(lens.get());
    run(copy, 0);
    EXPECT_GT(vertexAt(grid3D(), 6, 5).z, 0);
    run(lens, 0);
    EXPECT_EQ(vertexAt(grid3D(), 6, 5).z, 0);
}

TEST_F(WideEffects, RippleFadesTowardItsRadius) {
    Ref<CCRipple3D> ripple =
        CCRipple3D::actionWithDuration(1, CGSizeMake(15, 10), CGPointMake(210, 160), 100, 2, 10);
    run(ripple, 0);
    // 50 from the centre: rate 0.25, phase 5.
    EXPECT_NEAR(vertexAt(grid3D(), 5, 5).z, -2.397, 1e-3);
    EXPECT_EQ(vertexAt(grid3D(), 2, 5).z, 0);
}

TEST_F(WideEffects, WavesThreeDimensionalLiftsAlongTheDiagonal) {
    Ref<CCWaves3D> waves = CCWaves3D::actionWithDuration(1, CGSizeMake(15, 10), 1, 10);
    run(waves, 0.25); // phase pi/2
    EXPECT_FLOAT_EQ(vertexAt(grid3D(), 0, 0).z, 10);
    EXPECT_NEAR(vertexAt(grid3D(), 1, 0).z, 10 * std::cos(0.32), 1e-4);
    EXPECT_EQ(vertexAt(grid3D(), 1, 0).x, 32);
}

TEST_F(WideEffects, AmplitudeRateZeroWritesTheOriginalMesh) {
    std::vector<Ref<CCGrid3DAction>> effects = {
        CCWaves3D::actionWithDuration(1, CGSizeMake(15, 10), 3, 20),
        CCRipple3D::actionWithDuration(1, CGSizeMake(15, 10), CGPointMake(200, 150), 150, 3, 20),
        CCLiquid::actionWithDuration(1, CGSizeMake(15, 10), 3, 20),
        CCWaves::actionWithDuration(1, CGSizeMake(15, 10), 3, 20, true, true),
        CCTwirl::actionWithDuration(1, CGSizeMake(15, 10), CGPointMake(240, 160), 2, 3),
    };
    for (const Ref<CCGrid3DAction>& effect : effects) {
        effect->startWithTarget(node.get());
        effect->update(0.37);
        bool moved = false;
        for (int i = 0; i <= 15; ++i)
            for (int j = 0; j <= 10; ++j) {
                _ccVertex3F v = vertexAt(grid3D(), i, j), o = grid3D()->originalVertex(CGPointMake(i, j));
                moved = moved || v.x != o.x || v.y != o.y || v.z != o.z;
            }
        EXPECT_TRUE(moved) << effect->className();

        effect->setAmplitudeRate(0);
        effect->update(0.37);
        for (int i = 0; i <= 15; ++i)
            for (int j = 0; j <= 10; ++j) {
                _ccVertex3F v = vertexAt(grid3D(), i, j), o = grid3D()->originalVertex(CGPointMake(i, j));
                ASSERT_TRUE(v.x == o.x && v.y == o.y && v.z == o.z)
                    << effect->className() << " " << i << "," << j;
            }
    }
}

TEST_F(WideEffects, LiquidKeepsTheBorderAndWavesCompose) {
    // A grid one cell high has no inner points: nothing is written.
    Ref<CCLiquid> flat = CCLiquid::actionWithDuration(1, CGSizeMake(3, 1), 2, 10);
    flat->startWithTarget(node.get());
    grid3D()->setVertex(CGPointMake(1, 1), _ccVertex3F{7, 7, 7});
    flat->update(0.3);
    EXPECT_EQ(vertexAt(grid3D(), 1, 1).x, 7);

    run(CCLiquid::actionWithDuration(1, CGSizeMake(2, 2), 2, 10), 0.3);
    EXPECT_EQ(vertexAt(grid3D(), 0, 1).x, 0);
    EXPECT_EQ(vertexAt(grid3D(), 2, 1).x, 480);
    EXPECT_NE(vertexAt(grid3D(), 1, 1).x, 240);

    // Both flags off: every point written back unchanged.
    run(CCWaves::actionWithDuration(1, CGSizeMake(2, 2), 2, 10, false, false), 0.3);
    EXPECT_EQ(vertexAt(grid3D(), 1, 1).x, 240);
    EXPECT_EQ(vertexAt(grid3D(), 1, 1).y, 160);

    // Both on: the up-and-down part reads the x the sideways part has already moved.
    run(CCWaves::actionWithDuration(1, CGSizeMake(2, 2), 1, 10, true, true), 0.25);
    float movedX = 240 + sinf(static_cast<float>(M_PI / 2 + static_cast<double>(160 * 0.01f))) * 10;
    float fromMoved = 160 + sinf(static_cast<float>(M_PI / 2 + static_cast<double>(movedX * 0.01f))) * 10;
    float fromOriginal = 160 + sinf(static_cast<float>(M_PI / 2 + static_cast<double>(240 * 0.01f))) * 10;
    EXPECT_FLOAT_EQ(vertexAt(grid3D(), 1, 1).x, movedX);
    EXPECT_FLOAT_EQ(vertexAt(grid3D(), 1, 1).y, fromMoved);
    EXPECT_NE(fromMoved, fromOriginal);
}

TEST_F(WideEffects, TwirlLeavesTheCentrePoint) {
    run(CCTwirl::actionWithDuration(1, CGSizeMake(4, 4), CGPointMake(240, 160), 1, 5), 0.3);
    EXPECT_EQ(vertexAt(grid3D(), 2, 2).x, 240);
    EXPECT_EQ(vertexAt(grid3D(), 2, 2).y, 160);
    _ccVertex3F corner = vertexAt(grid3D(), 0, 0);
    EXPECT_FALSE(corner.x == 0 && corner.y == 0);
    // A rotation about the position keeps the distance to it.
    EXPECT_NEAR(std::hypot(corner.x - 240, corner.y - 160), std::hypot(240.0, 160.0), 1e-3);
}

TEST_F(WideEffects, ShakyMovesByWholePointsWithinTheRange) {
    std::srand(11);
    run(CCShaky3D::actionWithDuration(1, CGSizeMake(6, 4), 5, true), 0.5);
    std::set<float> seen;
    for (int i = 0; i <= 6; ++i)
        for (int j = 0; j <= 4; ++j) {
            _ccVertex3F v = vertexAt(grid3D(), i, j), o = grid3D()->originalVertex(CGPointMake(i, j));
            for (float d : {v.x - o.x, v.y - o.y, v.z - o.z}) {
                EXPECT_EQ(d, std::floor(d));
                EXPECT_GE(d, -5);
                EXPECT_LE(d, 4);
                seen.insert(d);
            }
        }
    EXPECT_GT(seen.size(), 5u);
    // A range of 0 has no remainder to take: the mesh stays as it was.
    run(CCShaky3D::actionWithDuration(1, CGSizeMake(6, 4), 0, true), 0.5);
    EXPECT_EQ(vertexAt(grid3D(), 3, 3).x, 240);
}

// ---- tile effects --------------------------------------------------------------------------

TEST_F(SmallEffects, ShakyAndShatteredTilesDeformEachCorner) {
    run(CCShakyTiles3D::actionWithDuration(1, CGSizeMake(2, 3), 4, false), 0.2);
    bool deformed = false;
    for (int x = 0; x < 2; ++x)
        for (int y = 0; y < 3; ++y) {
            _ccQuad3 q = tiles()->tile(CGPointMake(x, y)), o = tiles()->originalTile(CGPointMake(x, y));
            for (float d : {q.bl.x - o.bl.x, q.br.y - o.br.y, q.tl.x - o.tl.x, q.tr.y - o.tr.y}) {
                EXPECT_EQ(d, std::floor(d));
                EXPECT_GE(d, -4);
                EXPECT_LE(d, 3);
            }
            EXPECT_EQ(q.tr.z, 0);
            deformed = deformed || (q.bl.x - o.bl.x) != (q.tl.x - o.tl.x);
        }
    EXPECT_TRUE(deformed);

    Ref<CCShatteredTiles3D> shatter = CCShatteredTiles3D::actionWithDuration(1, CGSizeMake(2, 3), 6, true);
    run(shatter, 0);
    _ccQuad3 thrown = tiles()->tile(CGPointMake(1, 2));
    EXPECT_FALSE(sameQuad(thrown, tiles()->originalTile(CGPointMake(1, 2))));
    shatter->update(0.5);
    EXPECT_TRUE(sameQuad(tiles()->tile(CGPointMake(1, 2)), thrown));
    // A new start of the same object does not shatter again; a copy does.
    run(shatter, 0.5);
    EXPECT_TRUE(sameQuad(tiles()->tile(CGPointMake(1, 2)), tiles()->originalTile(CGPointMake(1, 2))));
    run(platform::copyOf(shatter.get()), 0.5);
    EXPECT_FALSE(sameQuad(tiles()->tile(CGPointMake(1, 2)), tiles()->originalTile(CGPointMake(1, 2))));
}

// Opens a shuffle's order to the tests.
class ShuffleProbe : public CCActionFactory<ShuffleProbe, CCShuffleTiles> {
public:
    using CCShuffleTiles::_tiles;
    using CCShuffleTiles::_tilesOrder;
};

Ref<ShuffleProbe> shuffleProbe(CGSize size, std::uint32_t seed) {
    return ShuffleProbe::createWith(static_cast<bool (CCShuffleTiles::*)(double, CGSize, std::uint32_t)>(
                                        &CCShuffleTiles::initWithDuration),
                                    1.0, size, seed);
}

TEST_F(SmallEffects, ShuffleSlidesTilesToTheirPlacesInWholePoints) {
    Ref<ShuffleProbe> one = shuffleProbe(CGSizeMake(1, 1), 5);
    run(one, 0.5);
    EXPECT_EQ(one->getDelta(CGSizeMake(0, 0)), CGSizeMake(0, 0));

    // 2 x 3 tiles of 32 points: with order[1] = 4, tile (0, 1) goes to (1, 1).
    Ref<ShuffleProbe> s = shuffleProbe(CGSizeMake(2, 3), 5);
    s->startWithTarget(node.get());
    s->_tilesOrder = {0, 4, 2, 3, 1, 5};
    EXPECT_EQ(s->getDelta(CGSizeMake(0, 1)), CGSizeMake(1, 0));
    EXPECT_EQ(s->getDelta(CGSizeMake(1, 1)), CGSizeMake(-1, 0));
    EXPECT_EQ(s->getDelta(CGSizeMake(2, 0)), CGSizeZero); // outside the order
    ccShuffleTile half{CGPointMake(0.5, 0), CGPointMake(0, 1), CGSizeMake(1, 0)};
    s->placeTile(CGPointMake(0, 1), half);
    EXPECT_EQ(tiles()->tile(CGPointMake(0, 1)).bl.x, 16);
    // 0.3 tiles of 32 points is 9.6: truncated to 9.
    ccShuffleTile part{CGPointMake(0.3, -0.3), CGPointZero, CGSizeZero};
    s->placeTile(CGPointMake(0, 1), part);
    EXPECT_EQ(tiles()->tile(CGPointMake(0, 1)).bl.x, 9);
    EXPECT_EQ(tiles()->tile(CGPointMake(0, 1)).tr.y, 64 - 9);

    // Run for real: at t = 1 the tiles fill every place exactly once.
    Ref<ShuffleProbe> full = shuffleProbe(CGSizeMake(2, 3), 99);
    run(full, 1);
    std::set<std::pair<float, float>> places;
    for (int x = 0; x < 2; ++x)
        for (int y = 0; y < 3; ++y)
            places.insert({tiles()->tile(CGPointMake(x, y)).bl.x, tiles()->tile(CGPointMake(x, y)).bl.y});
    EXPECT_EQ(places.size(), 6u);
    for (auto [px, py] : places) {
        EXPECT_EQ(std::fmod(px, 32.0f), 0);
        EXPECT_EQ(std::fmod(py, 32.0f), 0);
    }
}

TEST_F(SmallEffects, ShuffleOrderFollowsTheSeed) {
    Ref<ShuffleProbe> a = shuffleProbe(CGSizeMake(2, 3), 1234);
    Ref<ShuffleProbe> b = shuffleProbe(CGSizeMake(2, 3), 1234);
    a->startWithTarget(node.get());
    std::rand();
    b->startWithTarget(node.get());
    EXPECT_EQ(a->_tilesOrder, b->_tilesOrder);
    std::vector<std::uint64_t> sorted = a->_tilesOrder;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::uint64_t>{0, 1, 2, 3, 4, 5}));

    // The same draws by hand: from the last entry down, swap with rand() % (i + 1).
    std::srand(1234);
    std::vector<std::uint64_t> expected = {0, 1, 2, 3, 4, 5};
    for (std::int64_t i = 5; i >= 0; --i)
        std::swap(expected[i], expected[std::rand() % (i + 1)]);
    EXPECT_EQ(a->_tilesOrder, expected);

    // 0xFFFFFFFF never reseeds: the second continues where the first left the generator.
    std::vector<std::vector<std::uint64_t>> orders[2];
    for (auto& round : orders) {
        std::srand(77);
        for (int k = 0; k < 2; ++k) {
            Ref<ShuffleProbe> s = shuffleProbe(CGSizeMake(4, 4), 0xFFFFFFFFu);
            s->startWithTarget(node.get());
            round.push_back(s->_tilesOrder);
        }
    }
    EXPECT_EQ(orders[0], orders[1]);
    EXPECT_NE(orders[0][0], orders[0][1]);
}

TEST_F(WideEffects, FadeOutSweepsShrinkAndSwitchOffTiles) {
    Ref<CCFadeOutTRTiles> tr = CCFadeOutTRTiles::actionWithDuration(1, CGSizeMake(18, 12));
    EXPECT_EQ(tr->testFunc(CGSizeMake(5, 5), 0), 1);
    EXPECT_EQ(tr->testFunc(CGSizeMake(0, 0), 0.1), 0);
    EXPECT_NEAR(tr->testFunc(CGSizeMake(3, 4), 0.5), 0.0103, 1e-4);
    EXPECT_EQ(tr->testFunc(CGSizeMake(15, 0), 0.5), 1);

    run(tr, 0.5);
    CCTiledGrid3D* g = tiles();
    ASSERT_TRUE(g);
    EXPECT_TRUE(isZeroQuad(g->tile(CGPointMake(0, 0))));
    EXPECT_TRUE(sameQuad(g->tile(CGPointMake(15, 0)), g->originalTile(CGPointMake(15, 0))));
    // (3, 4) shrinks toward its centre: step (26.67, 26.67), half a step times 1 - d.
    float d = tr->testFunc(CGSizeMake(3, 4), 0.5);
    double h = (g->step().x / 2) * (1.0f - d);
    _ccQuad3 q = g->tile(CGPointMake(3, 4)), o = g->originalTile(CGPointMake(3, 4));
    EXPECT_FLOAT_EQ(q.bl.x, static_cast<float>(o.bl.x + h));
    EXPECT_FLOAT_EQ(q.tr.y, static_cast<float>(o.tr.y - h));
    EXPECT_FLOAT_EQ(q.br.x, static_cast<float>(o.br.x - h));

    Ref<CCFadeOutBLTiles> bl = CCFadeOutBLTiles::actionWithDuration(1, CGSizeMake(18, 12));
    EXPECT_EQ(bl->testFunc(CGSizeMake(0, 0), 0.9), 1);
    EXPECT_EQ(bl->testFunc(CGSizeMake(17, 11), 1), 0);

    // Up shrinks only vertically.
    Ref<CCFadeOutUpTiles> up = CCFadeOutUpTiles::actionWithDuration(1, CGSizeMake(18, 12));
    EXPECT_EQ(up->testFunc(CGSizeMake(4, 7), 0), 1);
    run(up, 0.5);
    _ccQuad3 u = tiles()->tile(CGPointMake(2, 5)), uo = tiles()->originalTile(CGPointMake(2, 5));
    EXPECT_EQ(u.bl.x, uo.bl.x);
    EXPECT_GT(u.bl.y, uo.bl.y);
    EXPECT_LT(u.tl.y, uo.tl.y);
    EXPECT_TRUE(isZeroQuad(tiles()->tile(CGPointMake(2, 0))));

    // Down keeps the bottom row whole at every t.
    Ref<CCFadeOutDownTiles> down = CCFadeOutDownTiles::actionWithDuration(1, CGSizeMake(18, 12));
    for (double t : {0.0, 0.4, 1.0}) {
        run(down, t);
        for (int x = 0; x < 18; ++x)
            ASSERT_TRUE(sameQuad(tiles()->tile(CGPointMake(x, 0)), tiles()->originalTile(CGPointMake(x, 0))));
    }
    EXPECT_TRUE(isZeroQuad(tiles()->tile(CGPointMake(3, 11))));
}

TEST_F(WideEffects, TurnOffTilesSwitchesOffItsShareOfTheOrder) {
    Ref<CCTurnOffTiles> off = CCTurnOffTiles::actionWithDuration(1, CGSizeMake(18, 12), 42);
    auto countOff = [&] {
        int n = 0;
        for (int x = 0; x < 18; ++x)
            for (int y = 0; y < 12; ++y)
                n += isZeroQuad(tiles()->tile(CGPointMake(x, y)));
        return n;
    };
    run(off, 0.5);
    EXPECT_EQ(countOff(), 108);
    off->update(1);
    EXPECT_EQ(countOff(), 216);
    off->update(0);
    EXPECT_EQ(countOff(), 0);

    // The same seed switches off the same tiles.
    run(off, 0.25);
    std::vector<bool> first;
    for (int x = 0; x < 18; ++x)
        for (int y = 0; y < 12; ++y)
            first.push_back(isZeroQuad(tiles()->tile(CGPointMake(x, y))));
    run(CCTurnOffTiles::actionWithDuration(1, CGSizeMake(18, 12), 42), 0.25);
    std::vector<bool> second;
    for (int x = 0; x < 18; ++x)
        for (int y = 0; y < 12; ++y)
            second.push_back(isZeroQuad(tiles()->tile(CGPointMake(x, y))));
    EXPECT_EQ(first, second);
}

TEST_F(WideEffects, WavesAndJumpsLiftWholeTiles) {
    run(CCWavesTiles3D::actionWithDuration(1, CGSizeMake(6, 4), 2, 15), 0.3);
    for (int x = 0; x < 6; ++x)
        for (int y = 0; y < 4; ++y) {
            _ccQuad3 q = tiles()->tile(CGPointMake(x, y));
            EXPECT_TRUE(q.bl.z == q.br.z && q.br.z == q.tl.z && q.tl.z == q.tr.z);
        }
    EXPECT_NE(tiles()->tile(CGPointMake(1, 1)).bl.z, tiles()->tile(CGPointMake(2, 1)).bl.z);

    Ref<CCJumpTiles3D> jump = CCJumpTiles3D::actionWithDuration(1, CGSizeMake(6, 4), 2, 10);
    run(jump, 0);
    EXPECT_EQ(tiles()->tile(CGPointMake(0, 0)).tr.z, 0);
    EXPECT_EQ(tiles()->tile(CGPointMake(1, 0)).tr.z, -8.742278e-08f * 10);
    jump->update(0.125); // a quarter jump: even tiles up, odd tiles down
    EXPECT_FLOAT_EQ(tiles()->tile(CGPointMake(1, 1)).bl.z, 10);
    EXPECT_FLOAT_EQ(tiles()->tile(CGPointMake(2, 1)).bl.z, -10);
}

TEST_F(WideEffects, SplitsTravelTheWindowInPixels) {
    platform::Device::setCurrent(platform::DeviceProfile::phoneRetina());
    ASSERT_TRUE(director()->enableRetinaDisplay(true)); // 960 x 640 pixels
    Ref<CCSplitRows> rows = CCSplitRows::actionWithDuration(1, 3);
    EXPECT_EQ(rows->gridSize(), CGSizeMake(1, 3));
    run(rows, 1);
    for (int j = 0; j < 3; ++j) {
        _ccQuad3 q = tiles()->tile(CGPointMake(0, j)), o = tiles()->originalTile(CGPointMake(0, j));
        EXPECT_EQ(q.bl.x - o.bl.x, j == 1 ? 960 : -960) << j;
        EXPECT_EQ(q.tr.y, o.tr.y);
    }
    Ref<CCSplitCols> cols = CCSplitCols::actionWithDuration(1, 2);
    run(cols, 0.5);
    EXPECT_EQ(tiles()->tile(CGPointMake(0, 0)).tl.y - tiles()->originalTile(CGPointMake(0, 0)).tl.y, -320);
    EXPECT_EQ(tiles()->tile(CGPointMake(1, 0)).bl.y, 320);
    EXPECT_EQ(platform::copyOf(cols.get())->gridSize(), CGSizeMake(2, 1));
}

TEST_F(WideEffects, EffectsWithoutAGridTouchNothing) {
    // Sizes no grid can have: the node keeps drawing plainly and every step is a no-op.
    std::vector<Ref<CCGridAction>> effects = {
        CCWaves3D::actionWithDuration(1, CGSizeMake(1e12, 1e12), 1, 1),
        CCShaky3D::actionWithDuration(1, CGSizeMake(0, 3), 2, true),
        CCShuffleTiles::actionWithDuration(1, CGSizeMake(1e9, 1e9), 3),
        CCTurnOffTiles::actionWithDuration(1, CGSizeMake(1e9, 1e9), 3),
        CCFadeOutTRTiles::actionWithDuration(1, CGSizeMake(-4, 3)),
        CCSplitRows::actionWithDuration(1, 0),
    };
    for (const Ref<CCGridAction>& effect : effects) {
        run(effect, 0.5);
        EXPECT_EQ(node->grid(), nullptr) << effect->className();
        effect->update(1);
    }
}

// ---- through the director's frames ---------------------------------------------------------

class EffectFramesTest : public fltest::SpriteFixture {};

TEST_F(EffectFramesTest, SplitColumnsRunAndStopGridRestoresThePicture) {
    auto scene = CCScene::node();
    auto sprite = CCSprite::spriteWithTexture(fltest::makePlainTexture(64, 64, 0x00FF00FFu).get());
    sprite->setPosition(CGPointMake(32, 32));
    scene->addChild(sprite.get());
    director()->runWithScene(scene.get());
    director()->startAnimation();
    advanceRefreshes(1);
    ASSERT_EQ(presentedPixel(16, 16), 0x00FF00FFu);

    // Two columns of 32 points part a whole window's height by the end, then the grid stops.
    auto split = CCSequence::actions(CCSplitCols::actionWithDuration(0.5, 2),
                                     CCDelayTime::actionWithDuration(0.2), CCStopGrid::action());
    sprite->runAction(split);
    advanceRefreshes(2);
    advanceRefreshes(30); // 0.5 s: the columns are gone
    EXPECT_EQ(presentedPixel(16, 16), 0x000000FFu);
    EXPECT_EQ(presentedPixel(48, 48), 0x000000FFu);
    advanceRefreshes(20); // the stop has run
    EXPECT_EQ(presentedPixel(16, 16), 0x00FF00FFu);
    EXPECT_EQ(presentedPixel(48, 48), 0x00FF00FFu);
    director()->stopAnimation();
}

// Effects that move nothing leave half-transparent pictures as the nodes draw them: a red sprite
// at opacity 128 over grey, and an opaque layer under a half-transparent black one.
TEST_F(EffectFramesTest, AnEffectThatMovesNothingLeavesHalfTransparentPicturesAsTheyWere) {
    auto scene = CCScene::node();
    scene->addChild(CCLayerColor::layerWithColor(ccc4(100, 100, 100, 255)).get());
    auto sprite = CCSprite::spriteWithTexture(fltest::makePlainTexture(24, 24, 0xC82828FFu).get());
    sprite->setOpacity(128);
    sprite->setPosition(CGPointMake(16, 16));
    scene->addChild(sprite.get());
    auto overlaid = CCNode::node();
    auto opaque = CCLayerColor::layerWithColor(ccc4(180, 180, 180, 255), 24, 24);
    auto veil = CCLayerColor::layerWithColor(ccc4(0, 0, 0, 128), 24, 24);
    opaque->setPosition(CGPointMake(36, 36));
    veil->setPosition(CGPointMake(36, 36));
    overlaid->addChild(opaque.get());
    overlaid->addChild(veil.get());
    scene->addChild(overlaid.get());
    drawFrame(scene.get());
    const platform::PixelBuffer before = view()->layer()->presentedFrame();
    ASSERT_TRUE(fltest::colorNear(presentedPixel(16, 16), 0x964646FFu, 3));

    Ref<CCShakyTiles3D> shaky = CCShakyTiles3D::actionWithDuration(1, CGSizeMake(4, 4), 0, false);
    Ref<CCWaves> waves = CCWaves::actionWithDuration(1, CGSizeMake(4, 4), 2, 0, true, true);
    sprite->runAction(shaky.get());
    overlaid->runAction(waves.get());
    shaky->update(0.5);
    waves->update(0.5);
    drawFrame(scene.get());
    const platform::PixelBuffer& after = view()->layer()->presentedFrame();
    ASSERT_EQ(after.rgba.size(), before.rgba.size());
    int worst = 0;
    for (std::size_t i = 0; i < before.rgba.size(); ++i)
        worst = std::max(worst, std::abs(int(after.rgba[i]) - int(before.rgba[i])));
    EXPECT_LE(worst, 3) << "at the sprite " << std::hex << presentedPixel(16, 16) << ", under the veil "
                        << presentedPixel(48, 48);
}

// A glow adds light and covers nothing: under an effect that moves nothing, on the glow itself or
// on a layer holding it, its black rim still shows the background and an additive glow's middle
// what it shows without the grid.
TEST_F(EffectFramesTest, AGlowUnderAnEffectThatMovesNothingStillOnlyAddsLight) {
    const _ccBlendFunc blends[] = {{GL_SRC_ALPHA, GL_ONE}, {GL_ONE, GL_ONE}, {GL_ONE_MINUS_DST_COLOR, GL_ONE}};
    auto scene = CCScene::node();
    scene->addChild(CCLayerColor::layerWithColor(ccc4(50, 100, 150, 255)).get());
    auto holder = CCLayer::node();
    scene->addChild(holder.get());
    std::vector<Ref<CCSprite>> alone;
    for (int i = 0; i < 3; ++i) {
        alone.push_back(fltest::glowSprite(blends[i]));
        alone.back()->setPosition(CGPointMake(10 + 20 * i, 12));
        scene->addChild(alone.back().get());
        auto held = fltest::glowSprite(blends[i]);
        held->setPosition(CGPointMake(10 + 20 * i, 44));
        holder->addChild(held.get());
    }
    drawFrame(scene.get());
    // The additive glows' middles, alone and held, as drawn without a grid.
    const int rows[] = {12, 44};
    std::uint32_t middle[2][2];
    for (int row = 0; row < 2; ++row)
        for (int i = 0; i < 2; ++i)
            middle[row][i] = presentedPixel(10 + 20 * i, rows[row]);
    ASSERT_TRUE(fltest::colorNear(middle[0][0], 0xFFFFE6FFu, 3)); // (255, 255, 230)

    for (const Ref<CCSprite>& sprite : alone) {
        Ref<CCShakyTiles3D> shaky = CCShakyTiles3D::actionWithDuration(1, CGSizeMake(4, 4), 0, false);
        sprite->runAction(shaky.get());
        shaky->update(0.5);
    }
    Ref<CCWaves> waves = CCWaves::actionWithDuration(1, CGSizeMake(4, 4), 2, 0, true, true);
    holder->runAction(waves.get());
    waves->update(0.5);
    drawFrame(scene.get());
    for (int row = 0; row < 2; ++row)
        for (int i = 0; i < 3; ++i) {
            const int y = rows[row];
            EXPECT_TRUE(fltest::colorNear(presentedPixel(5 + 20 * i, y), 0x326496FFu, 3))
                << "rim of glow " << i << " at " << y << ": " << std::hex << presentedPixel(5 + 20 * i, y);
            if (i == 2) continue; // a screen blend's middle adds to a capture, not to the background
            EXPECT_TRUE(fltest::colorNear(presentedPixel(10 + 20 * i, y), middle[row][i], 3))
                << "middle of glow " << i << " at " << y << ": " << std::hex << presentedPixel(10 + 20 * i, y);
        }
}

TEST_F(EffectFramesTest, FadeUpShowsTheTopRowsLongest) {
    auto scene = CCScene::node();
    auto sprite = CCSprite::spriteWithTexture(fltest::makePlainTexture(64, 64, 0xFF0000FFu).get());
    sprite->setPosition(CGPointMake(32, 32));
    scene->addChild(sprite.get());
    Ref<CCFadeOutUpTiles> fade = CCFadeOutUpTiles::actionWithDuration(1, CGSizeMake(4, 4));
    drawFrame(scene.get());
    fade->startWithTarget(sprite.get());
    fade->update(0.5);
    drawFrame(scene.get());
    // At t = 0.5 row 0 is off and row 1 shrunk to a sliver; rows 2 (d = 1) and 3 are whole.
    EXPECT_EQ(presentedPixel(8, 8), 0x000000FFu);
    EXPECT_EQ(presentedPixel(8, 18), 0x000000FFu);
    EXPECT_EQ(presentedPixel(8, 40), 0xFF0000FFu);
    EXPECT_EQ(presentedPixel(8, 60), 0xFF0000FFu);
}

} // namespace
