#include "actions/CCActionGrid.h"

#include "platform/Exception.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

using platform::Ref;

namespace {

CCGridBase* gridOf(const CCNode* node) {
    return node ? dynamic_cast<CCGridBase*>(node->grid()) : nullptr;
}

} // namespace

// ---- CCGridAction --------------------------------------------------------------------------

Ref<CCGridAction> CCGridAction::actionWithDuration(double duration, CGSize gridSize) {
    return createWith(&CCGridAction::initWithDuration, duration, gridSize);
}

bool CCGridAction::initWithDuration(double duration, CGSize gridSize) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _gridSize = gridSize;
    return true;
}

void CCGridAction::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    if (!target) return;

    // Made on every start, even when the target's grid is then reused and this one dropped.
    Ref<CCGridBase> newGrid = grid();
    CCGridBase* targetGrid = gridOf(target);

    if (targetGrid && targetGrid->reuseGrid() > 0) {
        CGSize size = targetGrid->gridSize();
        if (targetGrid->active() && size.width == _gridSize.width && size.height == _gridSize.height &&
            newGrid && newGrid->classIncludes(targetGrid))
            targetGrid->reuse();
        else
            throw platform::Exception("GridBase", "Cannot reuse grid");
        return;
    }

    if (targetGrid && targetGrid->active()) targetGrid->setActive(false);
    target->setGrid(newGrid.get());
    if (newGrid) newGrid->setActive(true);
}

Ref<CCGridBase> CCGridAction::grid() {
    throw platform::Exception("GridBase", "Abstract class needs implementation");
}

Ref<CCFiniteTimeAction> CCGridAction::reverse() const {
    // The action itself, with whatever was set on it since it was made.
    return CCReverseTime::actionWithAction(const_cast<CCGridAction*>(this));
}

Ref<platform::Object> CCGridAction::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCGridAction& a) { return a.CCGridAction::initWithDuration(_duration, _gridSize); });
}

// ---- CCGrid3DAction ------------------------------------------------------------------------

Ref<CCGrid3DAction> CCGrid3DAction::actionWithDuration(double duration, CGSize gridSize) {
    return createWith(&CCGridAction::initWithDuration, duration, gridSize);
}

Ref<CCGridBase> CCGrid3DAction::grid() {
    return CCGrid3D::gridWithSize(_gridSize);
}

CCGrid3D* CCGrid3DAction::targetGrid() const {
    return _target ? dynamic_cast<CCGrid3D*>(_target->grid()) : nullptr;
}

_ccVertex3F CCGrid3DAction::vertex(CGPoint pos) const {
    CCGrid3D* g = targetGrid();
    return g ? g->vertex(pos) : _ccVertex3F{};
}

_ccVertex3F CCGrid3DAction::originalVertex(CGPoint pos) const {
    CCGrid3D* g = targetGrid();
    return g ? g->originalVertex(pos) : _ccVertex3F{};
}

void CCGrid3DAction::setVertex(CGPoint pos, const _ccVertex3F& vertex) {
    if (CCGrid3D* g = targetGrid()) g->setVertex(pos, vertex);
}

// ---- CCTiledGrid3DAction -------------------------------------------------------------------

Ref<CCTiledGrid3DAction> CCTiledGrid3DAction::actionWithDuration(double duration, CGSize gridSize) {
    return createWith(&CCGridAction::initWithDuration, duration, gridSize);
}

Ref<CCGridBase> CCTiledGrid3DAction::grid() {
    return CCTiledGrid3D::gridWithSize(_gridSize);
}

CCTiledGrid3D* CCTiledGrid3DAction::targetGrid() const {
    return _target ? dynamic_cast<CCTiledGrid3D*>(_target->grid()) : nullptr;
}

_ccQuad3 CCTiledGrid3DAction::tile(CGPoint pos) const {
    CCTiledGrid3D* g = targetGrid();
    return g ? g->tile(pos) : _ccQuad3{};
}

_ccQuad3 CCTiledGrid3DAction::originalTile(CGPoint pos) const {
    CCTiledGrid3D* g = targetGrid();
    return g ? g->originalTile(pos) : _ccQuad3{};
}

void CCTiledGrid3DAction::setTile(CGPoint pos, const _ccQuad3& coords) {
    if (CCTiledGrid3D* g = targetGrid()) g->setTile(pos, coords);
}

// ---- amplitude wrappers --------------------------------------------------------------------

bool CCAmplitudeWrapper::initWithAction(CCActionInterval* action, double duration) {
    if (!action || !CCActionInterval::initWithDuration(duration)) return false;
    _rate = 1.0f;
    _other = action;
    return true;
}

Ref<platform::Object> CCAmplitudeWrapper::copyWithZone(platform::Zone*) const {
    Ref<CCActionInterval> inner = platform::copyOf(_other.get());
    return sameClassWith([&](CCAmplitudeWrapper& a) {
        if (!a.initWithAction(inner.get(), _duration)) return false;
        a._rate = _rate;
        return true;
    });
}

void CCAmplitudeWrapper::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    if (_other) _other->startWithTarget(target);
}

void CCAmplitudeWrapper::update(double t) {
    if (!_other) return;
    _other->setAmplitudeRate(amplitudeAt(t));
    _other->update(t);
}

Ref<CCFiniteTimeAction> CCAmplitudeWrapper::reverse() const {
    if (!_other) return nullptr;
    Ref<CCFiniteTimeAction> reversed = _other->reverse();
    auto* interval = dynamic_cast<CCActionInterval*>(reversed.get());
    if (!interval) return nullptr;
    return sameClassWith([&](CCAmplitudeWrapper& a) { return a.initWithAction(interval, _duration); });
}

float CCAmplitudeWrapper::amplitudeAt(double) const {
    return 1.0f;
}

Ref<CCAccelDeccelAmplitude> CCAccelDeccelAmplitude::actionWithAction(CCActionInterval* action,
                                                                     double duration) {
    return createWith(&CCAmplitudeWrapper::initWithAction, action, duration);
}

float CCAccelDeccelAmplitude::amplitudeAt(double t) const {
    float f = static_cast<float>(t * 2);
    if (f > 1) {
        f -= 1;
        f = 1 - f;
    }
    return powf(f, _rate);
}

Ref<CCAccelAmplitude> CCAccelAmplitude::actionWithAction(CCActionInterval* action, double duration) {
    return createWith(&CCAmplitudeWrapper::initWithAction, action, duration);
}

float CCAccelAmplitude::amplitudeAt(double t) const {
    return powf(static_cast<float>(t), _rate);
}

Ref<CCDeccelAmplitude> CCDeccelAmplitude::actionWithAction(CCActionInterval* action, double duration) {
    return createWith(&CCAmplitudeWrapper::initWithAction, action, duration);
}

float CCDeccelAmplitude::amplitudeAt(double t) const {
    return powf(static_cast<float>(1 - t), _rate);
}

// ---- CCStopGrid, CCReuseGrid ---------------------------------------------------------------

void CCStopGrid::startWithTarget(CCNode* target) {
    CCActionInstant::startWithTarget(target);
    CCGridBase* grid = gridOf(target);
    if (grid && grid->active()) grid->setActive(false);
}

Ref<CCReuseGrid> CCReuseGrid::actionWithTimes(std::int32_t times) {
    return createWith(&CCReuseGrid::initWithTimes, times);
}

bool CCReuseGrid::initWithTimes(std::int32_t times) {
    if (!CCActionInstant::init()) return false;
    _times = times;
    return true;
}

Ref<platform::Object> CCReuseGrid::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCReuseGrid& a) { return a.initWithTimes(_times); });
}

void CCReuseGrid::startWithTarget(CCNode* target) {
    CCActionInstant::startWithTarget(target);
    CCGridBase* grid = gridOf(target);
    if (!grid || !grid->active()) return;
    // Held to the count's range rather than wrapping round.
    std::int64_t count = std::int64_t{grid->reuseGrid()} + _times;
    count = std::clamp<std::int64_t>(count, INT32_MIN, INT32_MAX);
    grid->setReuseGrid(static_cast<std::int32_t>(count));
}
