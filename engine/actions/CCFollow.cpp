#include "actions/CCFollow.h"

#include "core/CCDirector.h"
#include "core/CCPointExtension.h"

using platform::Ref;

CCFollow::CCFollow() = default;
CCFollow::~CCFollow() = default;

Ref<CCFollow> CCFollow::actionWithTarget(CCNode* followedNode) {
    return createWith(InitOf<CCFollow, CCNode*>(&CCFollow::initWithTarget), followedNode);
}

Ref<CCFollow> CCFollow::actionWithTarget(CCNode* followedNode, CGRect rect) {
    return createWith(InitOf<CCFollow, CCNode*, CGRect>(&CCFollow::initWithTarget), followedNode, rect);
}

bool CCFollow::initWithTarget(CCNode* followedNode) {
    if (!followedNode || !CCAction::init()) return false;
    _followedNode = followedNode;
    _boundarySet = false;
    _boundaryFullyCovered = false;
    CGSize winSize = CCDirector::sharedDirector()->winSize();
    _fullScreenSize = CGPointMake(winSize.width, winSize.height);
    _halfScreenSize = CGPointMake(_fullScreenSize.x * 0.5, _fullScreenSize.y * 0.5);
    return true;
}

bool CCFollow::initWithTarget(CCNode* followedNode, CGRect rect) {
    if (!initWithTarget(followedNode)) return false;
    _boundarySet = true;
    double x = rect.origin.x, y = rect.origin.y, w = rect.size.width, h = rect.size.height;
    _leftBoundary = static_cast<float>(-((x + w) - _fullScreenSize.x));
    _rightBoundary = static_cast<float>(-x);
    _topBoundary = static_cast<float>(-y);
    _bottomBoundary = static_cast<float>(-((y + h) - _fullScreenSize.y));

    // A world narrower (or lower) than the window: the target keeps to the middle.
    if (_rightBoundary < _leftBoundary) _rightBoundary = _leftBoundary = (_leftBoundary + _rightBoundary) / 2;
    if (_topBoundary < _bottomBoundary) _topBoundary = _bottomBoundary = (_topBoundary + _bottomBoundary) / 2;
    if (_topBoundary == _bottomBoundary && _leftBoundary == _rightBoundary) _boundaryFullyCovered = true;
    return true;
}

Ref<platform::Object> CCFollow::copyWithZone(platform::Zone*) const {
    // A copy that followed nothing would be done at once; it keeps what this one follows, and
    // the window size this one read, rather than reading it again.
    return sameClassWith([&](CCFollow& copy) {
        if (!copy.CCAction::init()) return false;
        copy.setTag(_tag);
        copy._followedNode = _followedNode;
        copy._boundarySet = _boundarySet;
        copy._boundaryFullyCovered = _boundaryFullyCovered;
        copy._halfScreenSize = _halfScreenSize;
        copy._fullScreenSize = _fullScreenSize;
        copy._leftBoundary = _leftBoundary;
        copy._rightBoundary = _rightBoundary;
        copy._topBoundary = _topBoundary;
        copy._bottomBoundary = _bottomBoundary;
        return true;
    });
}

void CCFollow::step(double) {
    if (!_target || !_followedNode) return;
    CGPoint followed = _followedNode->position();
    CGPoint p = CGPointMake(_halfScreenSize.x - followed.x, _halfScreenSize.y - followed.y);
    if (!_boundarySet) {
        _target->setPosition(p);
        return;
    }
    if (_boundaryFullyCovered) return;
    _target->setPosition(CGPointMake(clampFloat(static_cast<float>(p.x), _leftBoundary, _rightBoundary),
                                     clampFloat(static_cast<float>(p.y), _bottomBoundary, _topBoundary)));
}

bool CCFollow::isDone() const {
    return !_followedNode || !_followedNode->isRunning();
}

void CCFollow::stop() {
    _target = nullptr;
    CCAction::stop();
}
