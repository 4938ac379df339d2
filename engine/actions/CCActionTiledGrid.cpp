#include "actions/CCActionTiledGrid.h"

#include "actions/ccGridEffectMath.h"
#include "core/CCDirector.h"

#include <cmath>
#include <cstdlib>

using platform::Ref;

namespace {

using gridEffect::cells;
using gridEffect::cyclePhase;
using gridEffect::kPi;
using gridEffect::shakeOffset;
using gridEffect::sinOf;

constexpr std::uint32_t kKeepSequence = 0xFFFFFFFFu;

CGPoint at(std::uint64_t x, std::uint64_t y) {
    return CGPointMake(static_cast<double>(x), static_cast<double>(y));
}

// Offsets every corner of a tile separately: all x, then all y, then (when asked) all z.
void shakeCorners(_ccQuad3& q, std::int32_t range, bool shakeZ) {
    for (float* c : {&q.bl.x, &q.br.x, &q.tl.x, &q.tr.x})
        *c += shakeOffset(range);
    for (float* c : {&q.bl.y, &q.br.y, &q.tl.y, &q.tr.y})
        *c += shakeOffset(range);
    if (shakeZ)
        for (float* c : {&q.bl.z, &q.br.z, &q.tl.z, &q.tr.z})
            *c += shakeOffset(range);
}

// The shuffle of both shuffling effects: from the last entry down, swap with one at or below.
void shuffleEntries(std::uint64_t* array, std::uint64_t count) {
    if (!array) return;
    for (std::uint64_t i = count; i-- > 0;) {
        auto j = static_cast<std::uint64_t>(std::int64_t{std::rand()} % static_cast<std::int64_t>(i + 1));
        std::uint64_t v = array[i];
        array[i] = array[j];
        array[j] = v;
    }
}

void addToX(_ccQuad3& q, double dx) {
    for (_ccVertex3F* v : {&q.bl, &q.br, &q.tl, &q.tr})
        v->x = static_cast<float>(v->x + dx);
}

void addToY(_ccQuad3& q, double dy) {
    for (_ccVertex3F* v : {&q.bl, &q.br, &q.tl, &q.tr})
        v->y = static_cast<float>(v->y + dy);
}

} // namespace

// ---- CCShakyTiles3D ------------------------------------------------------------------------

void CCShakyTiles3D::update(double) {
    if (!targetGrid()) return;
    const std::uint64_t w = cells(_gridSize.width), h = cells(_gridSize.height);
    for (std::uint64_t x = 0; x < w; ++x) {
        for (std::uint64_t y = 0; y < h; ++y) {
            _ccQuad3 q = originalTile(at(x, y));
            shakeCorners(q, _randrange, _shakeZ);
            setTile(at(x, y), q);
        }
    }
}

// ---- CCShatteredTiles3D --------------------------------------------------------------------

Ref<CCShatteredTiles3D> CCShatteredTiles3D::actionWithDuration(double duration, CGSize gridSize,
                                                               std::int32_t range, bool shatterZ) {
    return createWith(
        InitOf<CCShatteredTiles3D, double, CGSize, std::int32_t, bool>(&CCShatteredTiles3D::initWithDuration),
        duration, gridSize, range, shatterZ);
}

bool CCShatteredTiles3D::initWithDuration(double duration, CGSize gridSize, std::int32_t range,
                                          bool shatterZ) {
    if (!CCGridAction::initWithDuration(duration, gridSize)) return false;
    _once = false;
    _randrange = range;
    _shatterZ = shatterZ;
    return true;
}

Ref<platform::Object> CCShatteredTiles3D::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCShatteredTiles3D& a) {
        return a.initWithDuration(_duration, _gridSize, _randrange, _shatterZ);
    });
}

void CCShatteredTiles3D::update(double) {
    if (_once) return;
    if (targetGrid()) {
        const std::uint64_t w = cells(_gridSize.width), h = cells(_gridSize.height);
        for (std::uint64_t x = 0; x < w; ++x) {
            for (std::uint64_t y = 0; y < h; ++y) {
                _ccQuad3 q = originalTile(at(x, y));
                shakeCorners(q, _randrange, _shatterZ);
                setTile(at(x, y), q);
            }
        }
    }
    _once = true;
}

// ---- CCShuffleTiles ------------------------------------------------------------------------

Ref<CCShuffleTiles> CCShuffleTiles::actionWithDuration(double duration, CGSize gridSize, std::uint32_t seed) {
    return createWith(
        InitOf<CCShuffleTiles, double, CGSize, std::uint32_t>(&CCShuffleTiles::initWithDuration), duration,
        gridSize, seed);
}

bool CCShuffleTiles::initWithDuration(double duration, CGSize gridSize, std::uint32_t seed) {
    if (!CCGridAction::initWithDuration(duration, gridSize)) return false;
    _seed = seed;
    _tilesOrder.clear();
    _tiles.clear();
    _tilesCount = 0;
    return true;
}

Ref<platform::Object> CCShuffleTiles::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCShuffleTiles& a) { return a.initWithDuration(_duration, _gridSize, _seed); });
}

void CCShuffleTiles::shuffle(std::uint64_t* array, std::uint64_t count) {
    shuffleEntries(array, count);
}

CGSize CCShuffleTiles::getDelta(CGSize pos) const {
    const std::uint64_t h = cells(_gridSize.height);
    if (h == 0 || !(pos.width >= 0 && pos.height >= 0)) return CGSizeZero;
    const auto index = static_cast<std::uint64_t>(static_cast<double>(h) * pos.width + pos.height);
    if (index >= _tilesOrder.size()) return CGSizeZero;
    const std::uint64_t k = _tilesOrder[index];
    return CGSizeMake(static_cast<double>(k / h) - pos.width, static_cast<double>(k % h) - pos.height);
}

void CCShuffleTiles::placeTile(CGPoint pos, const ccShuffleTile& tile) {
    CCTiledGrid3D* grid = targetGrid();
    if (!grid) return;
    _ccQuad3 q = originalTile(pos);
    CGPoint step = grid->step();
    // Whole points, so the pieces never blur between pixels.
    auto ox = static_cast<std::int64_t>(tile.position.x * step.x);
    auto oy = static_cast<std::int64_t>(tile.position.y * step.y);
    for (_ccVertex3F* v : {&q.bl, &q.br, &q.tl, &q.tr}) {
        v->x += static_cast<float>(ox);
        v->y += static_cast<float>(oy);
    }
    setTile(pos, q);
}

void CCShuffleTiles::startWithTarget(CCNode* target) {
    CCTiledGrid3DAction::startWithTarget(target);
    if (_seed != kKeepSequence) std::srand(_seed);

    // Sized from the grid the target really has, so that an action whose grid could not be
    // made allocates nothing.
    const bool hasGrid = targetGrid() != nullptr;
    const std::uint64_t w = hasGrid ? cells(_gridSize.width) : 0, h = hasGrid ? cells(_gridSize.height) : 0;
    _tilesCount = w * h;
    _tilesOrder.assign(_tilesCount, 0);
    for (std::uint64_t k = 0; k < _tilesCount; ++k)
        _tilesOrder[k] = k;
    shuffle(_tilesOrder.data(), _tilesCount);

    _tiles.assign(_tilesCount, ccShuffleTile{});
    std::uint64_t f = 0;
    for (std::uint64_t x = 0; x < w; ++x) {
        for (std::uint64_t y = 0; y < h; ++y, ++f) {
            _tiles[f].position = at(x, y);
            _tiles[f].startPosition = at(x, y);
            _tiles[f].delta = getDelta(CGSizeMake(static_cast<double>(x), static_cast<double>(y)));
        }
    }
}

void CCShuffleTiles::update(double t) {
    const std::uint64_t w = cells(_gridSize.width), h = cells(_gridSize.height);
    std::uint64_t f = 0;
    for (std::uint64_t x = 0; x < w; ++x) {
        for (std::uint64_t y = 0; y < h; ++y, ++f) {
            if (f >= _tiles.size()) return;
            ccShuffleTile& tile = _tiles[f];
            tile.position = CGPointMake(tile.delta.width * t, tile.delta.height * t);
            placeTile(at(x, y), tile);
        }
    }
}

// ---- CCFadeOutTRTiles and family -----------------------------------------------------------

Ref<CCFadeOutTRTiles> CCFadeOutTRTiles::actionWithDuration(double duration, CGSize gridSize) {
    return createWith(&CCGridAction::initWithDuration, duration, gridSize);
}

float CCFadeOutTRTiles::testFunc(CGSize pos, double time) const {
    CGPoint n = CGPointMake(_gridSize.width * time, _gridSize.height * time);
    if (n.x + n.y == 0.0) return 1.0f;
    return powf(static_cast<float>((pos.width + pos.height) / (n.x + n.y)), 6);
}

void CCFadeOutTRTiles::turnOnTile(CGPoint pos) {
    setTile(pos, originalTile(pos));
}

void CCFadeOutTRTiles::turnOffTile(CGPoint pos) {
    setTile(pos, _ccQuad3{});
}

void CCFadeOutTRTiles::transformTile(CGPoint pos, float distance) {
    CCTiledGrid3D* grid = targetGrid();
    if (!grid) return;
    _ccQuad3 q = originalTile(pos);
    CGPoint step = grid->step();
    const double hx = (step.x / 2) * (1.0f - distance);
    const double hy = (step.y / 2) * (1.0f - distance);
    auto move = [](float& c, double by) { c = static_cast<float>(c + by); };
    move(q.bl.x, hx);
    move(q.bl.y, hy);
    move(q.br.x, -hx);
    move(q.br.y, hy);
    move(q.tl.x, hx);
    move(q.tl.y, -hy);
    move(q.tr.x, -hx);
    move(q.tr.y, -hy);
    setTile(pos, q);
}

void CCFadeOutTRTiles::update(double t) {
    if (!targetGrid()) return;
    const std::uint64_t w = cells(_gridSize.width), h = cells(_gridSize.height);
    for (std::uint64_t x = 0; x < w; ++x) {
        for (std::uint64_t y = 0; y < h; ++y) {
            float distance = testFunc(CGSizeMake(static_cast<double>(x), static_cast<double>(y)), t);
            if (distance == 0)
                turnOffTile(at(x, y));
            else if (distance < 1)
                transformTile(at(x, y), distance);
            else
                turnOnTile(at(x, y));
        }
    }
}

Ref<CCFadeOutBLTiles> CCFadeOutBLTiles::actionWithDuration(double duration, CGSize gridSize) {
    return createWith(&CCGridAction::initWithDuration, duration, gridSize);
}

float CCFadeOutBLTiles::testFunc(CGSize pos, double time) const {
    CGPoint n = CGPointMake(_gridSize.width * (1.0 - time), _gridSize.height * (1.0 - time));
    if (pos.width + pos.height == 0) return 1.0f;
    return powf(static_cast<float>((n.y + n.x) / (pos.width + pos.height)), 6);
}

Ref<CCFadeOutUpTiles> CCFadeOutUpTiles::actionWithDuration(double duration, CGSize gridSize) {
    return createWith(&CCGridAction::initWithDuration, duration, gridSize);
}

float CCFadeOutUpTiles::testFunc(CGSize pos, double time) const {
    double n = _gridSize.height * time;
    if (n == 0) return 1.0f;
    return powf(static_cast<float>(pos.height / n), 6);
}

void CCFadeOutUpTiles::transformTile(CGPoint pos, float distance) {
    CCTiledGrid3D* grid = targetGrid();
    if (!grid) return;
    _ccQuad3 q = originalTile(pos);
    CGPoint step = grid->step();
    const double hy = (step.y / 2) * (1.0f - distance);
    for (float* c : {&q.bl.y, &q.br.y})
        *c = static_cast<float>(*c + hy);
    for (float* c : {&q.tl.y, &q.tr.y})
        *c = static_cast<float>(*c - hy);
    setTile(pos, q);
}

Ref<CCFadeOutDownTiles> CCFadeOutDownTiles::actionWithDuration(double duration, CGSize gridSize) {
    return createWith(&CCGridAction::initWithDuration, duration, gridSize);
}

float CCFadeOutDownTiles::testFunc(CGSize pos, double time) const {
    if (pos.height == 0) return 1.0f;
    double n = _gridSize.height * (1.0 - time);
    return powf(static_cast<float>(n / pos.height), 6);
}

// ---- CCTurnOffTiles ------------------------------------------------------------------------

Ref<CCTurnOffTiles> CCTurnOffTiles::actionWithDuration(double duration, CGSize gridSize, std::uint32_t seed) {
    return createWith(
        InitOf<CCTurnOffTiles, double, CGSize, std::uint32_t>(&CCTurnOffTiles::initWithDuration), duration,
        gridSize, seed);
}

bool CCTurnOffTiles::initWithDuration(double duration, CGSize gridSize, std::uint32_t seed) {
    if (!CCGridAction::initWithDuration(duration, gridSize)) return false;
    _seed = seed;
    _tilesOrder.clear();
    _tilesCount = 0;
    return true;
}

Ref<platform::Object> CCTurnOffTiles::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCTurnOffTiles& a) { return a.initWithDuration(_duration, _gridSize, _seed); });
}

void CCTurnOffTiles::shuffle(std::uint64_t* array, std::uint64_t count) {
    shuffleEntries(array, count);
}

void CCTurnOffTiles::turnOnTile(CGPoint pos) {
    setTile(pos, originalTile(pos));
}

void CCTurnOffTiles::turnOffTile(CGPoint pos) {
    setTile(pos, _ccQuad3{});
}

void CCTurnOffTiles::startWithTarget(CCNode* target) {
    CCTiledGrid3DAction::startWithTarget(target);
    if (_seed != kKeepSequence) std::srand(_seed);
    const bool hasGrid = targetGrid() != nullptr;
    _tilesCount = hasGrid ? cells(_gridSize.width) * cells(_gridSize.height) : 0;
    _tilesOrder.assign(_tilesCount, 0);
    for (std::uint64_t k = 0; k < _tilesCount; ++k)
        _tilesOrder[k] = k;
    shuffle(_tilesOrder.data(), _tilesCount);
}

void CCTurnOffTiles::update(double t) {
    const std::uint64_t h = cells(_gridSize.height);
    if (h == 0) return;
    const double scaled = t * static_cast<double>(static_cast<float>(_tilesCount));
    const std::uint64_t l = scaled > 0 ? static_cast<std::uint64_t>(scaled) : 0;
    for (std::uint64_t i = 0; i < _tilesOrder.size(); ++i) {
        const std::uint64_t v = _tilesOrder[i];
        CGPoint tilePos = at(v / h, v % h);
        if (i < l)
            turnOffTile(tilePos);
        else
            turnOnTile(tilePos);
    }
}

// ---- CCWavesTiles3D ------------------------------------------------------------------------

void CCWavesTiles3D::update(double t) {
    if (!targetGrid()) return;
    const std::uint64_t w = cells(_gridSize.width), h = cells(_gridSize.height);
    const double phase = cyclePhase(t, static_cast<double>(_cycles));
    for (std::uint64_t x = 0; x < w; ++x) {
        for (std::uint64_t y = 0; y < h; ++y) {
            _ccQuad3 q = originalTile(at(x, y));
            float z =
                sinOf(phase + static_cast<double>((q.bl.y + q.bl.x) * 0.01f)) * _amplitude * _amplitudeRate;
            q.bl.z = q.br.z = q.tl.z = q.tr.z = z;
            setTile(at(x, y), q);
        }
    }
}

// ---- CCJumpTiles3D -------------------------------------------------------------------------

void CCJumpTiles3D::update(double t) {
    if (!targetGrid()) return;
    const std::uint64_t w = cells(_gridSize.width), h = cells(_gridSize.height);
    const double jumps = static_cast<double>(_cycles);
    const float sinz = sinOf(cyclePhase(t, jumps)) * _amplitude * _amplitudeRate;
    const float sinz2 = sinOf(kPi * (t * jumps * 2 + 1)) * _amplitude * _amplitudeRate;
    for (std::uint64_t x = 0; x < w; ++x) {
        for (std::uint64_t y = 0; y < h; ++y) {
            _ccQuad3 q = originalTile(at(x, y));
            const float lift = ((x + y) % 2 == 0) ? sinz : sinz2;
            for (_ccVertex3F* v : {&q.bl, &q.br, &q.tl, &q.tr})
                v->z += lift;
            setTile(at(x, y), q);
        }
    }
}

// ---- CCSplitRows, CCSplitCols --------------------------------------------------------------

namespace {
// Indexed by 1 for an even row or column, 0 for an odd one.
constexpr double kSplitDirection[2] = {1.0, -1.0};
} // namespace

Ref<CCSplitRows> CCSplitRows::actionWithDuration(double duration, std::uint64_t rows) {
    return createWith(InitOf<CCSplitRows, double, std::uint64_t>(&CCSplitRows::initWithDuration), duration,
                      rows);
}

bool CCSplitRows::initWithDuration(double duration, std::uint64_t rows) {
    _rows = rows;
    return CCGridAction::initWithDuration(duration, CGSizeMake(1, static_cast<double>(rows)));
}

Ref<platform::Object> CCSplitRows::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCSplitRows& a) { return a.initWithDuration(_duration, _rows); });
}

void CCSplitRows::startWithTarget(CCNode* target) {
    CCTiledGrid3DAction::startWithTarget(target);
    _winSize = CCDirector::sharedDirector()->winSizeInPixels();
}

void CCSplitRows::update(double t) {
    if (!targetGrid()) return;
    const std::uint64_t h = cells(_gridSize.height);
    for (std::uint64_t j = 0; j < h; ++j) {
        _ccQuad3 q = originalTile(at(0, j));
        const double direction = kSplitDirection[j % 2 == 0 ? 1 : 0];
        addToX(q, direction * _winSize.width * t);
        setTile(at(0, j), q);
    }
}

Ref<CCSplitCols> CCSplitCols::actionWithDuration(double duration, std::uint64_t cols) {
    return createWith(InitOf<CCSplitCols, double, std::uint64_t>(&CCSplitCols::initWithDuration), duration,
                      cols);
}

bool CCSplitCols::initWithDuration(double duration, std::uint64_t cols) {
    _cols = cols;
    return CCGridAction::initWithDuration(duration, CGSizeMake(static_cast<double>(cols), 1));
}

Ref<platform::Object> CCSplitCols::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCSplitCols& a) { return a.initWithDuration(_duration, _cols); });
}

void CCSplitCols::startWithTarget(CCNode* target) {
    CCTiledGrid3DAction::startWithTarget(target);
    _winSize = CCDirector::sharedDirector()->winSizeInPixels();
}

void CCSplitCols::update(double t) {
    if (!targetGrid()) return;
    const std::uint64_t w = cells(_gridSize.width);
    for (std::uint64_t i = 0; i < w; ++i) {
        _ccQuad3 q = originalTile(at(i, 0));
        const double direction = kSplitDirection[i % 2 == 0 ? 1 : 0];
        addToY(q, direction * _winSize.height * t);
        setTile(at(i, 0), q);
    }
}
