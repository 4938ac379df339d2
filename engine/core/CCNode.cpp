#include "core/CCNode.h"

#include "actions/CCAction.h"
#include "actions/CCActionManager.h"
#include "core/CCArray.h"
#include "core/CCCamera.h"
#include "core/CCDirector.h"
#include "core/CCGLProgram.h"
#include "core/CCGridProtocol.h"
#include "core/CCScheduler.h"
#include "core/CCMatrix.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/Touch.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <vector>

namespace {

// Handed to each child on addChild and reorderChild, then incremented. Workers build nodes for
// scenes not shown yet while the director's thread adds its own: each add takes a number no other
// gets. Nothing else is ordered by it, so relaxed increments are enough.
std::atomic<std::uint64_t> globalOrderOfArrival_{1};

// Degrees to radians, in single precision, as the node's transform has always converted them.
constexpr float kRadiansPerDegree = 0.017453292f;

inline CCNode* childAt(const CCArray* children, std::uint64_t i) {
    return static_cast<CCNode*>(children->objectAtIndex(i));
}

// Sends a life-cycle call to every child. The call may add or remove children of this very
// node, so the walk goes by index, re-reads the count and keeps the child alive meanwhile.
template <class F> void forEachChildSafely(CCArray* children, F&& call) {
    if (!children) return;
    std::uint64_t i = 0;
    while (i < children->count()) {
        platform::Ref<CCNode> child(childAt(children, i));
        call(child.get());
        // The call may have moved or removed the child (or others before it): go on after the
        // child's present place, or at the same index when it left and the rest moved down.
        if (i < children->count() && childAt(children, i) == child.get()) {
            ++i;
        } else {
            std::uint64_t at = children->indexOfObject(child.get());
            if (at != platform::NSNotFound) i = at + 1;
        }
    }
}

// A touch's location in its own view, in GL coordinates; a missing touch stands at the origin.
CGPoint touchLocationInGL(const platform::Touch* touch) {
    CGPoint inView = touch ? touch->locationInView(touch->view()) : CGPointZero;
    return CCDirector::sharedDirector()->convertToGL(inView);
}

} // namespace

std::uint64_t CCNode::globalOrderOfArrival() {
    return globalOrderOfArrival_.load(std::memory_order_relaxed);
}

CCNode::CCNode() = default;

CCNode::~CCNode() {
    // The children outlive us only when someone else holds them: they must not point back.
    if (_children) {
        for (std::uint64_t i = 0; i < _children->count(); ++i)
            childAt(_children.get(), i)->setParent(nullptr);
    }
}

bool CCNode::init() {
    CCDirector* director = CCDirector::sharedDirector();
    setActionManager(director->actionManager());
    setScheduler(director->scheduler());
    return true;
}

platform::Ref<CCNode> CCNode::node() {
    return makeNode<CCNode>();
}

void CCNode::cleanup() {
    stopAllActions();
    unscheduleAllSelectors();
    forEachChildSafely(_children.get(), [](CCNode* child) { child->cleanup(); });
}

std::string CCNode::description() const {
    return platform::format("<%s = %p | Tag = %ld>", className(), static_cast<const void*>(this),
                            static_cast<long>(_tag));
}

// ---- transform setters -------------------------------------------------------------------

void CCNode::setRotation(float rotation) {
    _rotationX = _rotationY = rotation;
    markTransformDirty();
}

void CCNode::setRotationX(float rotationX) {
    _rotationX = rotationX;
    markTransformDirty();
}

void CCNode::setRotationY(float rotationY) {
    _rotationY = rotationY;
    markTransformDirty();
}

void CCNode::setScaleX(float scaleX) {
    _scaleX = scaleX;
    markTransformDirty();
}

void CCNode::setScaleY(float scaleY) {
    _scaleY = scaleY;
    markTransformDirty();
}

void CCNode::setScale(float scale) {
    _scaleX = _scaleY = scale;
    markTransformDirty();
}

void CCNode::setSkewX(float skewX) {
    _skewX = skewX;
    markTransformDirty();
}

void CCNode::setSkewY(float skewY) {
    _skewY = skewY;
    markTransformDirty();
}

void CCNode::setPosition(CGPoint position) {
    _position = position;
    markTransformDirty();
}

void CCNode::setIgnoreAnchorPointForPosition(bool ignore) {
    if (ignore != _ignoreAnchorPointForPosition) {
        _ignoreAnchorPointForPosition = ignore;
        markTransformDirty();
    }
}

void CCNode::setAnchorPoint(CGPoint anchorPoint) {
    if (CGPointEqualToPoint(anchorPoint, _anchorPoint)) return;
    _anchorPoint = anchorPoint;
    updateAnchorPointInPoints();
}

void CCNode::setContentSize(CGSize contentSize) {
    if (CGSizeEqualToSize(contentSize, _contentSize)) return;
    _contentSize = contentSize;
    updateAnchorPointInPoints();
}

void CCNode::markTransformDirty() {
    _isTransformDirty = _isInverseDirty = true;
}

void CCNode::updateAnchorPointInPoints() {
    _anchorPointInPoints =
        CGPointMake(_anchorPoint.x * _contentSize.width, _anchorPoint.y * _contentSize.height);
    markTransformDirty();
}

void CCNode::setVertexZ(float vertexZ) {
    _vertexZ = vertexZ;
}

CGRect CCNode::boundingBox() {
    CGRect rect = CGRectMake(0, 0, _contentSize.width, _contentSize.height);
    return CGRectApplyAffineTransform(rect, nodeToParentTransform());
}

void CCNode::setZOrder(std::int64_t zOrder) {
    _setZOrder(zOrder);
    if (_parent) _parent->reorderChild(this, zOrder);
}

// ---- children ------------------------------------------------------------------------------

void CCNode::childrenAlloc() {
    _children = CCArray::arrayWithCapacity(4);
}

CCCamera* CCNode::camera() {
    if (!_camera) {
        _camera = platform::make<CCCamera>();
        _camera->init();
    }
    return _camera.get();
}

CCNode* CCNode::getChildByTag(std::int64_t tag) const {
    if (!_children) return nullptr;
    for (std::uint64_t i = 0; i < _children->count(); ++i) {
        CCNode* child = childAt(_children.get(), i);
        if (child->_tag == tag) return child;
    }
    return nullptr;
}

void CCNode::addChild(CCNode* child, std::int64_t z, std::int64_t tag) {
    CCAssert(child != nullptr, "Argument must be non-nil");
    // A node in two child lists, or in its own subtree, would leave a parent link that lies
    // and a visit that never ends.
    CCAssert(child->_parent == nullptr, "child already added. It can't be added again");
    for (const CCNode* n = this; n; n = n->_parent)
        CCAssert(n != child, "a node cannot be added to itself or to one of its descendants");
    if (!_children) childrenAlloc();
    insertChild(child, z);
    child->_tag = tag;
    child->setParent(this);
    child->setOrderOfArrival(globalOrderOfArrival_.fetch_add(1, std::memory_order_relaxed));
    if (_isRunning) {
        platform::Ref<CCNode> keep(child);
        child->onEnter();
        child->onEnterTransitionDidFinish();
    }
}

void CCNode::addChild(CCNode* child, std::int64_t z) {
    CCAssert(child != nullptr, "Argument must be non-nil");
    addChild(child, z, child->_tag);
}

void CCNode::addChild(CCNode* child) {
    CCAssert(child != nullptr, "Argument must be non-nil");
    addChild(child, child->_zOrder, child->_tag);
}

void CCNode::removeFromParent() {
    removeFromParentAndCleanup(true);
}

void CCNode::removeFromParentAndCleanup(bool cleanup) {
    if (_parent) _parent->removeChild(this, cleanup);
}

void CCNode::removeChild(CCNode* child) {
    removeChild(child, true);
}

void CCNode::removeChild(CCNode* child, bool cleanup) {
    if (!child || !_children || removalUnderWay(child, cleanup)) return;
    std::uint64_t index = indexOfChild(child);
    if (index != platform::NSNotFound) detachChild(child, cleanup, index);
}

bool CCNode::removalUnderWay(CCNode* child, bool cleanup) {
    if (!child->_isBeingRemoved) return false;
    if (cleanup && child->_parent == this) child->_removalCleanupAsked = true;
    return true;
}

std::uint64_t CCNode::indexOfChild(const CCNode* child) const {
    if (!_children) return platform::NSNotFound;
    // From both ends at once: children removed from either end are found at once, and no
    // search costs more than the shift its removal makes.
    platform::Object* const* items = _children->data->items;
    std::uint64_t front = 0, back = _children->count();
    while (front < back) {
        if (items[front] == child) return front;
        if (items[--back] == child) return back;
        ++front;
    }
    return platform::NSNotFound;
}

void CCNode::removeChildByTag(std::int64_t tag) {
    removeChildByTag(tag, true);
}

void CCNode::removeChildByTag(std::int64_t tag, bool cleanup) {
    if (CCNode* child = getChildByTag(tag)) removeChild(child, cleanup);
}

void CCNode::removeAllChildren() {
    removeAllChildrenWithCleanup(true);
}

void CCNode::removeAllChildrenWithCleanup(bool cleanup) {
    if (!_children || _children->count() == 0) return;
    // Each child stays marked until the array lets go of it, so that a removal asked for from
    // an exit or cleanup call (of the child itself or of a sibling already done) is not run a
    // second time.
    try {
        forEachChildSafely(_children.get(), [this, cleanup](CCNode* child) {
            if (child->_isBeingRemoved) return;
            child->_isBeingRemoved = true;
            child->_removalCleanupAsked = false;
            if (_isRunning) {
                child->onExitTransitionDidStart();
                child->onExit();
            }
            if (cleanup || child->_removalCleanupAsked) child->cleanup();
            child->setParent(nullptr);
        });
    } catch (...) {
        // A throw from game code: the children already let go leave the array, the rest stay
        // children that a later removal can take.
        for (std::uint64_t i = _children->count(); i-- > 0;) {
            CCNode* child = childAt(_children.get(), i);
            if (!child->_isBeingRemoved) continue;
            child->_isBeingRemoved = false;
            if (child->_parent != this) _children->removeObjectAtIndex(i);
        }
        throw;
    }
    for (std::uint64_t i = 0; i < _children->count(); ++i)
        childAt(_children.get(), i)->_isBeingRemoved = false;
    _children->removeAllObjects();
}

void CCNode::detachChild(CCNode* child, bool cleanup) {
    if (!child || !_children || removalUnderWay(child, cleanup)) return;
    detachChild(child, cleanup, indexOfChild(child));
}

void CCNode::detachChild(CCNode* child, bool cleanup, std::uint64_t hint) {
    // The exit calls may drop the child from the array already; keep it alive until done.
    platform::Ref<CCNode> keep(child);
    child->_isBeingRemoved = true;
    child->_removalCleanupAsked = false;
    struct Unmark {
        CCNode* node;
        ~Unmark() { node->_isBeingRemoved = false; }
    } unmark{child};
    if (_isRunning) {
        child->onExitTransitionDidStart();
        child->onExit();
    }
    if (cleanup || child->_removalCleanupAsked) child->cleanup();
    child->setParent(nullptr);
    // The calls may have moved the child: look again only when it is not where it was.
    std::uint64_t index =
        hint < _children->count() && childAt(_children.get(), hint) == child ? hint : indexOfChild(child);
    if (index != platform::NSNotFound) _children->removeObjectAtIndex(index);
}

void CCNode::_setZOrder(std::int64_t z) {
    _zOrder = z;
}

void CCNode::insertChild(CCNode* child, std::int64_t z) {
    _isReorderChildDirty = true;
    _children->addObject(child);
    child->_setZOrder(z);
}

void CCNode::reorderChild(CCNode* child, std::int64_t z) {
    CCAssert(child != nullptr, "Child must be non-nil");
    CCAssert(child->_parent == this, "Child is not a child of this node");
    _isReorderChildDirty = true;
    child->setOrderOfArrival(globalOrderOfArrival_.fetch_add(1, std::memory_order_relaxed));
    child->_setZOrder(z);
}

namespace {

// A child's sort key, read once per sort so that comparisons touch no node.
struct SortKey {
    std::int64_t z;
    std::uint64_t arrival;
    platform::Object* node;
};

inline bool keyBefore(const SortKey& a, const SortKey& b) {
    return a.z < b.z || (a.z == b.z && a.arrival < b.arrival);
}

// Stable by z, then arrival: a natural merge sort. Runs already in order are merged pairwise,
// so a nearly sorted array (a few changes since the last visit) costs little more than the
// pass that finds its runs, and any array at most O(n log n).
void sortByZAndArrival(platform::Object** items, std::uint64_t n) {
    thread_local std::vector<SortKey> keys, merged;
    thread_local std::vector<std::size_t> runs;
    keys.resize(n);
    for (std::uint64_t i = 0; i < n; ++i) {
        auto* node = static_cast<CCNode*>(items[i]);
        keys[i] = {node->zOrder(), node->orderOfArrival(), items[i]};
    }
    runs.clear();
    runs.push_back(0);
    for (std::size_t i = 1; i < n; ++i)
        if (keyBefore(keys[i], keys[i - 1])) runs.push_back(i);
    if (runs.size() == 1) return;
    runs.push_back(n);
    merged.resize(n);
    while (runs.size() > 2) {
        const std::size_t count = runs.size() - 1;
        std::size_t out = 0, r = 0;
        for (; r + 1 < count; r += 2) {
            // std::merge takes from the left run on equal keys: stable.
            std::merge(keys.begin() + runs[r], keys.begin() + runs[r + 1], keys.begin() + runs[r + 1],
                       keys.begin() + runs[r + 2], merged.begin() + runs[r], keyBefore);
            runs[out++] = runs[r];
        }
        if (r < count) {
            std::copy(keys.begin() + runs[r], keys.begin() + runs[r + 1], merged.begin() + runs[r]);
            runs[out++] = runs[r];
        }
        runs[out++] = n;
        runs.resize(out);
        keys.swap(merged);
    }
    for (std::uint64_t i = 0; i < n; ++i)
        items[i] = keys[i].node;
}

} // namespace

void CCNode::sortAllChildren() {
    if (!_isReorderChildDirty) return;
    std::uint64_t n = _children ? _children->count() : 0;
    if (n >= 2) sortByZAndArrival(_children->data->items, n);
    _isReorderChildDirty = false;
}

// ---- drawing -------------------------------------------------------------------------------

void CCNode::draw() {}

bool CCNode::gridIsActive() const {
    return _grid && _grid->active();
}

CCNode::VisitScope::VisitScope() : exceptions_(std::uncaught_exceptions()) {
    matrixPush();
}

CCNode::VisitScope::~VisitScope() {
    if (std::uncaught_exceptions() > exceptions_) {
        // Unwinding: the draw may have left another matrix mode current.
        if (capturing_) capturing_->abandonDraw();
        matrixMode(kCCMatrixModeModelView);
    }
    matrixPop();
}

void CCNode::VisitScope::beginGrid(CCGridProtocol* grid) {
    capturing_ = grid;
    grid->beforeDraw();
}

void CCNode::VisitScope::endGrid(CCGridProtocol* grid, CCNode* target) {
    capturing_ = nullptr;
    grid->afterDraw(target);
}

void CCNode::visit() {
    if (!_visible) return;
    // Game code may throw from a draw or a child's visit: the scope undoes the grid's capture and
    // the push on the way out, so later frames draw with the right target and matrices.
    VisitScope scope;
    if (gridIsActive()) scope.beginGrid(_grid.get());
    transform();
    if (_children) {
        sortAllChildren();
        // Walk the storage by index; the count is read again in case a draw changed it.
        std::uint64_t i = 0;
        for (; i < _children->count(); ++i) {
            CCNode* child = childAt(_children.get(), i);
            if (child->_zOrder >= 0) break;
            child->visit();
        }
        draw();
        for (; i < _children->count(); ++i)
            childAt(_children.get(), i)->visit();
    } else {
        draw();
    }
    _orderOfArrival = 0;
    if (gridIsActive()) scope.endGrid(_grid.get(), this);
}

void CCNode::transformAncestors() {
    if (_parent) {
        _parent->transformAncestors();
        _parent->transform();
    }
}

void CCNode::transform() {
    CGAffineTransform t = nodeToParentTransform();
    kmMat4 m;
    affineToGLMatrix(t, m.mat);
    m.mat[14] = _vertexZ;
    matrixMultiply(&m);

    if (_camera && !gridIsActive()) {
        bool translate = _anchorPointInPoints.x != 0 || _anchorPointInPoints.y != 0;
        float ax = static_cast<float>(_anchorPointInPoints.x),
              ay = static_cast<float>(_anchorPointInPoints.y);
        if (translate) matrixTranslate(ax, ay, 0);
        _camera->locate();
        if (translate) matrixTranslate(-ax, -ay, 0);
    }
}

// ---- life cycle ----------------------------------------------------------------------------

void CCNode::onEnter() {
    forEachChildSafely(_children.get(), [](CCNode* child) { child->onEnter(); });
    resumeSchedulerAndActions();
    _isRunning = true;
}

void CCNode::onEnterTransitionDidFinish() {
    forEachChildSafely(_children.get(), [](CCNode* child) { child->onEnterTransitionDidFinish(); });
}

void CCNode::onExitTransitionDidStart() {
    forEachChildSafely(_children.get(), [](CCNode* child) { child->onExitTransitionDidStart(); });
}

void CCNode::onExit() {
    pauseSchedulerAndActions();
    _isRunning = false;
    forEachChildSafely(_children.get(), [](CCNode* child) { child->onExit(); });
}

// ---- actions -------------------------------------------------------------------------------

void CCNode::setActionManager(CCActionManager* actionManager) {
    if (actionManager == _actionManager.get()) return;
    stopAllActions();
    _actionManager = actionManager;
}

CCAction* CCNode::runAction(CCAction* action) {
    CCAssert(action != nullptr, "Argument must be non-nil");
    if (_actionManager) _actionManager->addAction(action, this, !_isRunning);
    return action;
}

void CCNode::stopAllActions() {
    if (_actionManager) _actionManager->removeAllActionsFromTarget(this);
}

void CCNode::stopAction(CCAction* action) {
    if (_actionManager) _actionManager->removeAction(action);
}

void CCNode::stopActionByTag(std::int64_t tag) {
    if (_actionManager) _actionManager->removeActionByTag(tag, this);
}

CCAction* CCNode::getActionByTag(std::int64_t tag) {
    return _actionManager ? _actionManager->getActionByTag(tag, this) : nullptr;
}

std::uint64_t CCNode::numberOfRunningActions() {
    return _actionManager ? _actionManager->numberOfRunningActionsInTarget(this) : 0;
}

// ---- scheduling ----------------------------------------------------------------------------

void CCNode::setScheduler(CCScheduler* scheduler) {
    if (scheduler == _scheduler.get()) return;
    unscheduleAllSelectors();
    _scheduler = scheduler;
}

void CCNode::scheduleUpdate() {
    scheduleUpdateWithPriority(0);
}

void CCNode::scheduleUpdateWithPriority(std::int64_t priority) {
    if (_scheduler) _scheduler->scheduleUpdateForTarget(this, priority, !_isRunning);
}

void CCNode::unscheduleUpdate() {
    if (_scheduler) _scheduler->unscheduleUpdateForTarget(this);
}

void CCNode::schedule(platform::Selector<void(double)> selector) {
    schedule(selector, 0.0, TimerRepeatForever, 0.0);
}

void CCNode::schedule(platform::Selector<void(double)> selector, double interval) {
    schedule(selector, interval, TimerRepeatForever, 0.0);
}

void CCNode::schedule(platform::Selector<void(double)> selector, double interval, std::uint32_t repeat,
                      double delay) {
    CCAssert(static_cast<bool>(selector), "Argument must be non-nil");
    if (_scheduler) _scheduler->scheduleSelector(selector, this, interval, repeat, delay, !_isRunning);
}

void CCNode::scheduleOnce(platform::Selector<void(double)> selector, double delay) {
    schedule(selector, 0.0, 0, delay);
}

void CCNode::unschedule(platform::Selector<void(double)> selector) {
    if (!selector || !_scheduler) return;
    _scheduler->unscheduleSelector(selector, this);
}

void CCNode::unscheduleAllSelectors() {
    if (_scheduler) _scheduler->unscheduleAllForTarget(this);
}

void CCNode::resumeSchedulerAndActions() {
    if (_scheduler) _scheduler->resumeTarget(this);
    if (_actionManager) _actionManager->resumeTarget(this);
}

void CCNode::pauseSchedulerAndActions() {
    if (_scheduler) _scheduler->pauseTarget(this);
    if (_actionManager) _actionManager->pauseTarget(this);
}

void CCNode::update(double) {}

// ---- transforms and conversions ------------------------------------------------------------

CGAffineTransform CCNode::nodeToParentTransform() {
    if (_isTransformDirty) {
        double x = _position.x, y = _position.y;
        if (_ignoreAnchorPointForPosition) {
            x += _anchorPointInPoints.x;
            y += _anchorPointInPoints.y;
        }

        float cx = 1, sx = 0, cy = 1, sy = 0;
        if (_rotationX != 0 || _rotationY != 0) {
            float radiansX = -_rotationX * kRadiansPerDegree;
            float radiansY = -_rotationY * kRadiansPerDegree;
            cx = std::cos(radiansX);
            sx = std::sin(radiansX);
            // A plain rotation (no rotational skew) needs the one pair: same inputs, same values.
            if (radiansY == radiansX) {
                cy = cx;
                sy = sx;
            } else {
                cy = std::cos(radiansY);
                sy = std::sin(radiansY);
            }
        }

        bool needsSkewMatrix = _skewX != 0 || _skewY != 0;
        double ax = _anchorPointInPoints.x, ay = _anchorPointInPoints.y;
        bool anchorIsZero = ax == 0 && ay == 0;

        // Rotation and scale about the anchor fold into the translation; skew cannot.
        if (!needsSkewMatrix && !anchorIsZero) {
            x += cy * -ax * _scaleX + -sx * -ay * _scaleY;
            y += sy * -ax * _scaleX + cx * -ay * _scaleY;
        }

        _transform = CGAffineTransformMake(cy * _scaleX, sy * _scaleX, -sx * _scaleY, cx * _scaleY, x, y);

        if (needsSkewMatrix) {
            CGAffineTransform skew =
                CGAffineTransformMake(1.0, std::tan(_skewY * kRadiansPerDegree),
                                      std::tan(_skewX * kRadiansPerDegree), 1.0, 0.0, 0.0);
            _transform = CGAffineTransformConcat(skew, _transform);
            if (!anchorIsZero) _transform = CGAffineTransformTranslate(_transform, -ax, -ay);
        }
        _isTransformDirty = false;
    }
    return _transform;
}

CGAffineTransform CCNode::parentToNodeTransform() {
    if (_isInverseDirty) {
        _inverse = CGAffineTransformInvert(nodeToParentTransform());
        _isInverseDirty = false;
    }
    return _inverse;
}

CGAffineTransform CCNode::nodeToWorldTransform() {
    CGAffineTransform t = nodeToParentTransform();
    for (CCNode* p = _parent; p; p = p->_parent)
        t = CGAffineTransformConcat(t, p->nodeToParentTransform());
    return t;
}

CGAffineTransform CCNode::worldToNodeTransform() {
    return CGAffineTransformInvert(nodeToWorldTransform());
}

CGPoint CCNode::convertToNodeSpace(CGPoint worldPoint) {
    return CGPointApplyAffineTransform(worldPoint, worldToNodeTransform());
}

CGPoint CCNode::convertToWorldSpace(CGPoint nodePoint) {
    return CGPointApplyAffineTransform(nodePoint, nodeToWorldTransform());
}

CGPoint CCNode::convertToNodeSpaceAR(CGPoint worldPoint) {
    CGPoint p = convertToNodeSpace(worldPoint);
    return CGPointMake(p.x - _anchorPointInPoints.x, p.y - _anchorPointInPoints.y);
}

CGPoint CCNode::convertToWorldSpaceAR(CGPoint nodePoint) {
    return convertToWorldSpace(
        CGPointMake(nodePoint.x + _anchorPointInPoints.x, nodePoint.y + _anchorPointInPoints.y));
}

CGPoint CCNode::convertToWindowSpace(CGPoint nodePoint) {
    return CCDirector::sharedDirector()->convertToUI(convertToWorldSpace(nodePoint));
}

CGPoint CCNode::convertTouchToNodeSpace(const platform::Touch* touch) {
    return convertToNodeSpace(touchLocationInGL(touch));
}

CGPoint CCNode::convertTouchToNodeSpaceAR(const platform::Touch* touch) {
    return convertToNodeSpaceAR(touchLocationInGL(touch));
}

// ---- accessors -----------------------------------------------------------------------------

void CCNode::setVisible(bool visible) {
    _visible = visible;
}

void CCNode::setGrid(CCGridProtocol* grid) {
    _grid = grid;
}

void CCNode::setUserObject(platform::Object* userObject) {
    _userObject = userObject;
}

void CCNode::setShaderProgram(CCGLProgram* program) {
    _shaderProgram = program;
}
