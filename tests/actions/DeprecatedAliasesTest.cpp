// The older operation names of the actions: composite folds, animate with its restore flag and
// duration, and the grid effects whose grid size and duration came last.
#include "actions/CCActionGrid.h"
#include "actions/CCActionGrid3D.h"
#include "actions/CCActionInterval.h"
#include "actions/CCActionTiledGrid.h"
#include "actions/CCActionVisual.h"
#include "graphics/CCAnimation.h"
#include "graphics/CCSpriteFrame.h"
#include "platform/Exception.h"
#include "tests/support/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

using platform::make;
using platform::Ref;

namespace {

class OlderActionNamesTest : public fltest::EngineTest {
protected:
    // n frames without texture, delay per unit 0.1, not restoring.
    static Ref<CCAnimation> animation(int n) {
        CCSpriteFrameArray frames;
        for (int i = 0; i < n; ++i)
            frames.push_back(CCSpriteFrame::frameWithTexture(nullptr, CGRectMake(i * 2, 0, 2, 2)));
        Ref<CCAnimation> made = CCAnimation::animationWithSpriteFrames(frames, 0.1f);
        made->setRestoreOriginalFrame(false);
        return made;
    }
};

// Effects that show the counts they were given.
struct Waves3DProbe : CCWaves3D {
    std::uint64_t waves() const { return _cycles; }
};
struct RippleProbe : CCRipple3D {
    std::int64_t waves() const { return _waves; }
    float radius() const { return _radius; }
};
struct TwirlProbe : CCTwirl {
    std::uint64_t twirls() const { return _twirls; }
};
struct JumpProbe : CCJumpTiles3D {
    std::uint64_t jumps() const { return _cycles; }
};
struct SplitRowsProbe : CCSplitRows {
    std::uint64_t rows() const { return _rows; }
};
struct TurnOffProbe : CCTurnOffTiles {
    std::uint32_t seed() const { return _seed; }
};
struct ShakyProbe : CCShaky3D {
    std::int32_t range() const { return _randrange; }
    bool shakeZ() const { return _shakeZ; }
};

constexpr std::uint64_t kAllOnes = std::numeric_limits<std::uint64_t>::max();

} // namespace

// ---- composites

TEST_F(OlderActionNamesTest, ArraysFoldIntoSequencesAndSpawns) {
    std::vector<Ref<CCFiniteTimeAction>> actions{CCDelayTime::actionWithDuration(1),
                                                 CCDelayTime::actionWithDuration(2)};
    Ref<CCFiniteTimeAction> sequence = CCSequence::actionsWithArray(actions);
    ASSERT_TRUE(sequence);
    EXPECT_NE(dynamic_cast<CCSequence*>(sequence.get()), nullptr);
    EXPECT_DOUBLE_EQ(sequence->duration(), 3);
    Ref<CCFiniteTimeAction> spawn = CCSpawn::actionsWithArray(actions);
    ASSERT_TRUE(spawn);
    EXPECT_NE(dynamic_cast<CCSpawn*>(spawn.get()), nullptr);
    EXPECT_DOUBLE_EQ(spawn->duration(), 2);
    EXPECT_FALSE(CCSequence::actionsWithArray({}));
    EXPECT_FALSE(CCSpawn::actionsWithArray({}));
}

// ---- animate

TEST_F(OlderActionNamesTest, AnimateWithDurationSpreadsItOverACopyOfTheFrames) {
    Ref<CCAnimation> four = animation(4);
    Ref<CCAnimate> animate = CCAnimate::actionWithDuration(2.0, four.get(), true);
    ASSERT_TRUE(animate);
    ASSERT_NE(animate->animation(), four.get());
    EXPECT_FLOAT_EQ(animate->animation()->delayPerUnit(), 0.5f);
    EXPECT_TRUE(animate->animation()->restoreOriginalFrame());
    EXPECT_EQ(animate->animation()->frames().size(), 4u);
    EXPECT_DOUBLE_EQ(animate->duration(), 2.0);
    // The animation passed in keeps its own delay and flag.
    EXPECT_FLOAT_EQ(four->delayPerUnit(), 0.1f);
    EXPECT_FALSE(four->restoreOriginalFrame());

    // Three frames: the delay is computed in double, then stored as float.
    auto three = make<CCAnimate>();
    ASSERT_TRUE(three->initWithDuration(1.0, animation(3).get(), false));
    EXPECT_EQ(three->animation()->delayPerUnit(), static_cast<float>(1.0 / 3.0));
    EXPECT_FALSE(three->animation()->restoreOriginalFrame());

    EXPECT_FALSE(CCAnimate::actionWithDuration(1.0, nullptr, true));
    EXPECT_FALSE(make<CCAnimate>()->initWithDuration(1.0, nullptr, true));
}

TEST_F(OlderActionNamesTest, AnimateWithDurationOverNoFramesStillEnds) {
    Ref<CCAnimation> empty = animation(0);
    Ref<CCAnimate> animate = CCAnimate::actionWithDuration(2.0, empty.get(), false);
    ASSERT_TRUE(animate);
    EXPECT_TRUE(std::isfinite(animate->duration()));
    EXPECT_FLOAT_EQ(animate->animation()->delayPerUnit(), 0.1f);
    // The inherited factory is still there beside the older one.
    Ref<CCActionInterval> plain = CCAnimate::actionWithDuration(1.5);
    ASSERT_TRUE(plain);
    EXPECT_DOUBLE_EQ(plain->duration(), 1.5);
}

TEST_F(OlderActionNamesTest, AnimateWithRestoreFlagPlaysACopyCarryingIt) {
    Ref<CCAnimation> two = animation(2);
    Ref<CCAnimate> animate = CCAnimate::actionWithAnimation(two.get(), true);
    ASSERT_TRUE(animate);
    ASSERT_NE(animate->animation(), two.get());
    EXPECT_TRUE(animate->animation()->restoreOriginalFrame());
    EXPECT_FALSE(two->restoreOriginalFrame());
    EXPECT_FLOAT_EQ(animate->animation()->delayPerUnit(), 0.1f);
    EXPECT_DOUBLE_EQ(animate->duration(), static_cast<double>(0.2f));

    two->setRestoreOriginalFrame(true);
    auto initialised = make<CCAnimate>();
    ASSERT_TRUE(initialised->initWithAnimation(two.get(), false));
    EXPECT_FALSE(initialised->animation()->restoreOriginalFrame());
    EXPECT_TRUE(two->restoreOriginalFrame());
    EXPECT_FALSE(CCAnimate::actionWithAnimation(nullptr, true));
}

// ---- grid effects

TEST_F(OlderActionNamesTest, GridFactoriesTakeTheDurationFirstAndMakeTheirOwnClass) {
    Ref<CCGridAction> plain = CCGridAction::actionWithSize(CGSizeMake(3, 4), 1.5);
    ASSERT_TRUE(plain);
    EXPECT_DOUBLE_EQ(plain->duration(), 1.5);
    EXPECT_EQ(plain->gridSize(), CGSizeMake(3, 4));

    Ref<CCGrid3DAction> mesh = CCGrid3DAction::actionWithSize(CGSizeMake(5, 6), 2);
    ASSERT_TRUE(mesh);
    EXPECT_THROW(plain->grid(), platform::Exception);
    EXPECT_NO_THROW(mesh->grid()); // its own class, not a plain grid action
    EXPECT_EQ(mesh->gridSize(), CGSizeMake(5, 6));
    Ref<CCTiledGrid3DAction> tiles = CCTiledGrid3DAction::actionWithSize(CGSizeMake(2, 2), 1);
    ASSERT_TRUE(tiles);
    EXPECT_NO_THROW(tiles->grid());
    Ref<CCFadeOutBLTiles> fade = CCFadeOutBLTiles::actionWithSize(CGSizeMake(7, 8), 0.5);
    ASSERT_TRUE(fade);
    EXPECT_EQ(fade->gridSize(), CGSizeMake(7, 8));
    EXPECT_DOUBLE_EQ(fade->duration(), 0.5);

    // A flip defines the initialiser for itself; it applies through a plain grid action too.
    auto flip = make<CCFlipX3D>();
    CCGridAction* asGrid = flip.get();
    EXPECT_THROW(asGrid->initWithSize(CGSizeMake(2, 2), 1), platform::Exception);
    EXPECT_TRUE(asGrid->initWithSize(CGSizeMake(1, 1), 1));
    auto other = make<CCGridAction>();
    EXPECT_TRUE(other->initWithSize(CGSizeMake(2, 2), 1));
    EXPECT_EQ(other->gridSize(), CGSizeMake(2, 2));
}

TEST_F(OlderActionNamesTest, GridEffectsReorderAndWidenTheirCounts) {
    const CGSize grid = CGSizeMake(4, 3);

    Ref<CCWaves3D> waves = CCWaves3D::actionWithWaves(5, 12.5f, grid, 2);
    ASSERT_TRUE(waves);
    EXPECT_DOUBLE_EQ(waves->duration(), 2);
    EXPECT_EQ(waves->gridSize(), grid);
    EXPECT_FLOAT_EQ(waves->amplitude(), 12.5f);
    Waves3DProbe wavesProbe;
    ASSERT_TRUE(wavesProbe.initWithWaves(-1, 1, grid, 1));
    EXPECT_EQ(wavesProbe.waves(), kAllOnes); // sign-extended, not cut to 32 bits
    ASSERT_TRUE(wavesProbe.initWithWaves(7, 1, grid, 1));
    EXPECT_EQ(wavesProbe.waves(), 7u);

    RippleProbe ripple;
    ASSERT_TRUE(ripple.initWithPosition(CGPointMake(10, 20), 30, -2, 4, grid, 3));
    EXPECT_EQ(ripple.position(), CGPointMake(10, 20));
    EXPECT_FLOAT_EQ(ripple.radius(), 30);
    EXPECT_EQ(ripple.waves(), -2);
    EXPECT_FLOAT_EQ(ripple.amplitude(), 4);
    EXPECT_DOUBLE_EQ(ripple.duration(), 3);

    TwirlProbe twirl;
    ASSERT_TRUE(twirl.initWithPosition(CGPointMake(1, 2), 3, 4.5f, grid, 6));
    EXPECT_EQ(twirl.twirls(), 3u);
    EXPECT_FLOAT_EQ(twirl.amplitude(), 4.5f);
    EXPECT_EQ(twirl.gridSize(), grid);

    JumpProbe jumps;
    ASSERT_TRUE(jumps.initWithJumps(-3, 8, grid, 1));
    EXPECT_EQ(jumps.jumps(), kAllOnes - 2);

    Ref<CCWaves> sideways = CCWaves::actionWithWaves(2, 3, false, true, grid, 4);
    ASSERT_TRUE(sideways);
    EXPECT_DOUBLE_EQ(sideways->duration(), 4);
    EXPECT_FLOAT_EQ(sideways->amplitude(), 3);

    Ref<CCLens3D> lens = CCLens3D::actionWithPosition(CGPointMake(5, 6), 7, grid, 8);
    ASSERT_TRUE(lens);
    EXPECT_EQ(lens->position(), CGPointMake(5, 6));
    EXPECT_DOUBLE_EQ(lens->duration(), 8);

    ShakyProbe shaky;
    ASSERT_TRUE(shaky.initWithRange(5, true, grid, 2));
    EXPECT_EQ(shaky.range(), 5);
    EXPECT_TRUE(shaky.shakeZ());
    EXPECT_EQ(shaky.gridSize(), grid);
}

TEST_F(OlderActionNamesTest, TileEffectsReorderTheirSeedsAndSplits) {
    const CGSize grid = CGSizeMake(6, 5);
    TurnOffProbe turnOff;
    ASSERT_TRUE(turnOff.initWithSeed(-1, grid, 2));
    EXPECT_EQ(turnOff.seed(), 0xFFFFFFFFu); // the seed that leaves the generator alone
    EXPECT_EQ(turnOff.gridSize(), grid);
    EXPECT_DOUBLE_EQ(turnOff.duration(), 2);
    Ref<CCShuffleTiles> shuffle = CCShuffleTiles::actionWithSeed(9, grid, 3);
    ASSERT_TRUE(shuffle);
    EXPECT_DOUBLE_EQ(shuffle->duration(), 3);

    Ref<CCSplitRows> rows = CCSplitRows::actionWithRows(3, 1.5);
    ASSERT_TRUE(rows);
    EXPECT_DOUBLE_EQ(rows->duration(), 1.5);
    EXPECT_EQ(rows->gridSize(), CGSizeMake(1, 3));
    SplitRowsProbe widened;
    ASSERT_TRUE(widened.initWithRows(-1, 1));
    EXPECT_EQ(widened.rows(), kAllOnes);
    Ref<CCSplitCols> cols = CCSplitCols::actionWithCols(4, 2.5);
    ASSERT_TRUE(cols);
    EXPECT_EQ(cols->gridSize(), CGSizeMake(4, 1));
    EXPECT_DOUBLE_EQ(cols->duration(), 2.5);

    Ref<CCShatteredTiles3D> shattered = CCShatteredTiles3D::actionWithRange(2, true, grid, 0.5);
    ASSERT_TRUE(shattered);
    EXPECT_EQ(shattered->gridSize(), grid);
    Ref<CCWavesTiles3D> wavy = CCWavesTiles3D::actionWithWaves(2, 9, grid, 1);
    ASSERT_TRUE(wavy);
    EXPECT_FLOAT_EQ(wavy->amplitude(), 9);
    Ref<CCShakyTiles3D> shakyTiles = CCShakyTiles3D::actionWithRange(1, false, grid, 4);
    ASSERT_TRUE(shakyTiles);
    EXPECT_DOUBLE_EQ(shakyTiles->duration(), 4);
    Ref<CCLiquid> liquid = CCLiquid::actionWithWaves(3, 2, grid, 5);
    ASSERT_TRUE(liquid);
    EXPECT_EQ(liquid->gridSize(), grid);
}
