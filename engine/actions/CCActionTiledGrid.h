// Effects that cut a node's picture into the tiles of a CCTiledGrid3D and move them: shaking,
// shattering once, sliding to shuffled places, shrinking away in a sweep, switching off in a
// random order, riding a wave, jumping in a checkerboard, and rows or columns sliding apart.
// The random ones draw from the C library's rand; only the shuffling ones seed it.
#pragma once

#include "actions/CCActionGrid.h"
#include "platform/Geometry.h"

#include <cstdint>
#include <vector>

// Every corner of every tile moves by itself by a whole number from -range to range - 1, on
// every step.
class CCShakyTiles3D : public CCShakeEffect<CCShakyTiles3D, CCTiledGrid3DAction> {
public:
    CCShakyTiles3D() = default;
    void update(double t) override;
};

// Throws the tiles about once, on the first step of the action object's life; they stay there.
class CCShatteredTiles3D : public CCActionFactory<CCShatteredTiles3D, CCTiledGrid3DAction> {
public:
    static platform::Ref<CCShatteredTiles3D> actionWithDuration(double duration, CGSize gridSize,
                                                                std::int32_t range, bool shatterZ);

    CCShatteredTiles3D() = default;

    bool initWithDuration(double duration, CGSize gridSize, std::int32_t range, bool shatterZ);
    // A copy shatters again.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void update(double t) override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The grid size and duration came last.
    static platform::Ref<CCShatteredTiles3D> actionWithRange(std::int32_t range, bool shatterZ,
                                                             CGSize gridSize, double duration) {
        return actionWithDuration(duration, gridSize, range, shatterZ);
    }
    bool initWithRange(std::int32_t range, bool shatterZ, CGSize gridSize, double duration) {
        return initWithDuration(duration, gridSize, range, shatterZ);
    }

protected:
    std::int32_t _randrange = 0;
    bool _once = false;
    bool _shatterZ = false;
};

// One tile of CCShuffleTiles.
struct ccShuffleTile {
    CGPoint position;      // present offset from its own place, in tiles
    CGPoint startPosition; // its own grid coordinates
    CGSize delta;          // from its own place to its shuffled place, in tiles
};

// Slides every tile to a shuffled place, in whole points, arriving at t = 1.
class CCShuffleTiles : public CCActionFactory<CCShuffleTiles, CCTiledGrid3DAction> {
public:
    static platform::Ref<CCShuffleTiles> actionWithDuration(double duration, CGSize gridSize,
                                                            std::uint32_t seed);

    CCShuffleTiles() = default;

    // A seed of 0xFFFFFFFF leaves the C library's generator where it is.
    bool initWithDuration(double duration, CGSize gridSize, std::uint32_t seed);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // Swaps each entry, from the last down, with one drawn from rand at or below it.
    void shuffle(std::uint64_t* array, std::uint64_t count);
    // From tile (x, y) to its shuffled place, in tiles; zero outside the order.
    CGSize getDelta(CGSize pos) const;
    void placeTile(CGPoint pos, const ccShuffleTile& tile);
    // Seeds, then draws the order anew.
    void startWithTarget(CCNode* target) override;
    void update(double t) override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The grid size and duration came last.
    static platform::Ref<CCShuffleTiles> actionWithSeed(std::int32_t seed, CGSize gridSize, double duration) {
        return actionWithDuration(duration, gridSize, static_cast<std::uint32_t>(seed));
    }
    bool initWithSeed(std::int32_t seed, CGSize gridSize, double duration) {
        return initWithDuration(duration, gridSize, static_cast<std::uint32_t>(seed));
    }

protected:
    std::uint32_t _seed = 0;
    std::uint64_t _tilesCount = 0;
    std::vector<std::uint64_t> _tilesOrder;
    std::vector<ccShuffleTile> _tiles;
};

// Tiles shrink away in a sweep from the bottom-left corner toward the top-right.
class CCFadeOutTRTiles : public CCActionFactory<CCFadeOutTRTiles, CCTiledGrid3DAction> {
public:
    static platform::Ref<CCFadeOutTRTiles> actionWithDuration(double duration, CGSize gridSize);

    CCFadeOutTRTiles() = default;

    // How much of tile (x, y) is left at t: 0 off, below 1 shrunk, 1 or more whole.
    virtual float testFunc(CGSize pos, double time) const;
    void turnOnTile(CGPoint pos);
    // Collapses the tile to a point.
    void turnOffTile(CGPoint pos);
    // Shrinks the tile toward its centre by the distance (0..1).
    virtual void transformTile(CGPoint pos, float distance);
    void update(double t) override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // Of this class, as its own factory is.
    static platform::Ref<CCFadeOutTRTiles> actionWithSize(CGSize gridSize, double duration) {
        return actionWithDuration(duration, gridSize);
    }
};

// From the top-right toward the bottom-left.
class CCFadeOutBLTiles : public CCActionFactory<CCFadeOutBLTiles, CCFadeOutTRTiles> {
public:
    static platform::Ref<CCFadeOutBLTiles> actionWithDuration(double duration, CGSize gridSize);

    float testFunc(CGSize pos, double time) const override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // Of this class, as its own factory is.
    static platform::Ref<CCFadeOutBLTiles> actionWithSize(CGSize gridSize, double duration) {
        return actionWithDuration(duration, gridSize);
    }
};

// Rows shrink toward their middle line, from the bottom row upward.
class CCFadeOutUpTiles : public CCActionFactory<CCFadeOutUpTiles, CCFadeOutTRTiles> {
public:
    static platform::Ref<CCFadeOutUpTiles> actionWithDuration(double duration, CGSize gridSize);

    float testFunc(CGSize pos, double time) const override;
    void transformTile(CGPoint pos, float distance) override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // Of this class, as its own factory is.
    static platform::Ref<CCFadeOutUpTiles> actionWithSize(CGSize gridSize, double duration) {
        return actionWithDuration(duration, gridSize);
    }
};

// From the top row downward.
class CCFadeOutDownTiles : public CCActionFactory<CCFadeOutDownTiles, CCFadeOutUpTiles> {
public:
    static platform::Ref<CCFadeOutDownTiles> actionWithDuration(double duration, CGSize gridSize);

    float testFunc(CGSize pos, double time) const override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // Of this class, as its own factory is.
    static platform::Ref<CCFadeOutDownTiles> actionWithSize(CGSize gridSize, double duration) {
        return actionWithDuration(duration, gridSize);
    }
};

// Switches tiles off one by one in a random order.
class CCTurnOffTiles : public CCActionFactory<CCTurnOffTiles, CCTiledGrid3DAction> {
public:
    static platform::Ref<CCTurnOffTiles> actionWithDuration(double duration, CGSize gridSize,
                                                            std::uint32_t seed);

    CCTurnOffTiles() = default;

    // A seed of 0xFFFFFFFF leaves the C library's generator where it is.
    bool initWithDuration(double duration, CGSize gridSize, std::uint32_t seed);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void shuffle(std::uint64_t* array, std::uint64_t count);
    void turnOnTile(CGPoint pos);
    void turnOffTile(CGPoint pos);
    void startWithTarget(CCNode* target) override;
    void update(double t) override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The grid size and duration came last.
    static platform::Ref<CCTurnOffTiles> actionWithSeed(std::int32_t seed, CGSize gridSize, double duration) {
        return actionWithDuration(duration, gridSize, static_cast<std::uint32_t>(seed));
    }
    bool initWithSeed(std::int32_t seed, CGSize gridSize, double duration) {
        return initWithDuration(duration, gridSize, static_cast<std::uint32_t>(seed));
    }

protected:
    std::uint32_t _seed = 0;
    std::uint64_t _tilesCount = 0;
    std::vector<std::uint64_t> _tilesOrder;
};

// Each tile rides a wave, lifted flat.
class CCWavesTiles3D : public CCCycleAmplitudeEffect<CCWavesTiles3D, CCTiledGrid3DAction> {
public:
    CCWavesTiles3D() = default;

    void update(double t) override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The grid size and duration came last; waves are widened, sign and all.
    static platform::Ref<CCWavesTiles3D> actionWithWaves(std::int32_t waves, float amplitude, CGSize gridSize,
                                                         double duration) {
        return actionWithDuration(duration, gridSize, std::int64_t{waves}, amplitude);
    }
    bool initWithWaves(std::int32_t waves, float amplitude, CGSize gridSize, double duration) {
        return initWithDuration(duration, gridSize, std::int64_t{waves}, amplitude);
    }
};

// Tiles jump in a checkerboard, the two colours half a jump apart.
class CCJumpTiles3D : public CCCycleAmplitudeEffect<CCJumpTiles3D, CCTiledGrid3DAction> {
public:
    CCJumpTiles3D() = default;

    void update(double t) override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The grid size and duration came last; jumps are widened, sign and all.
    static platform::Ref<CCJumpTiles3D> actionWithJumps(std::int32_t jumps, float amplitude, CGSize gridSize,
                                                        double duration) {
        return actionWithDuration(duration, gridSize, std::int64_t{jumps}, amplitude);
    }
    bool initWithJumps(std::int32_t jumps, float amplitude, CGSize gridSize, double duration) {
        return initWithDuration(duration, gridSize, std::int64_t{jumps}, amplitude);
    }
};

// Rows slide out alternately left and right, a window's width in pixels by t = 1.
class CCSplitRows : public CCActionFactory<CCSplitRows, CCTiledGrid3DAction> {
public:
    static platform::Ref<CCSplitRows> actionWithDuration(double duration, std::uint64_t rows);

    CCSplitRows() = default;

    // Grid (1, rows).
    bool initWithDuration(double duration, std::uint64_t rows);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // Takes the window's size in pixels.
    void startWithTarget(CCNode* target) override;
    void update(double t) override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The duration came last; rows are widened, sign and all.
    static platform::Ref<CCSplitRows> actionWithRows(std::int32_t rows, double duration) {
        return actionWithDuration(duration, std::int64_t{rows});
    }
    bool initWithRows(std::int32_t rows, double duration) {
        return initWithDuration(duration, std::int64_t{rows});
    }

protected:
    std::uint64_t _rows = 0;
    CGSize _winSize = CGSizeZero;
};

// Columns slide out alternately down and up, a window's height in pixels by t = 1.
class CCSplitCols : public CCActionFactory<CCSplitCols, CCTiledGrid3DAction> {
public:
    static platform::Ref<CCSplitCols> actionWithDuration(double duration, std::uint64_t cols);

    CCSplitCols() = default;

    // Grid (cols, 1).
    bool initWithDuration(double duration, std::uint64_t cols);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void update(double t) override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The duration came last; cols are widened, sign and all.
    static platform::Ref<CCSplitCols> actionWithCols(std::int32_t cols, double duration) {
        return actionWithDuration(duration, std::int64_t{cols});
    }
    bool initWithCols(std::int32_t cols, double duration) {
        return initWithDuration(duration, std::int64_t{cols});
    }

protected:
    std::uint64_t _cols = 0;
    CGSize _winSize = CGSizeZero;
};
