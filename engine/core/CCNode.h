// The scene-graph node: transform, children, life cycle, actions and scheduled callbacks.
#pragma once

#include "platform/Geometry.h"
#include "platform/Object.h"
#include "platform/Selector.h"

#include <cstdint>

namespace platform {
class Touch;
}

class CCAction;
class CCActionManager;
class CCArray;
class CCCamera;
class CCGLProgram;
class CCGridProtocol;
class CCScheduler;

// The tag of a node that has none.
inline constexpr std::int64_t kCCNodeTagInvalid = -1;

class CCNode : public platform::Object {
public:
    CCNode();
    ~CCNode() override;

    // Defaults, then the shared director's action manager and scheduler.
    virtual bool init();
    static platform::Ref<CCNode> node();

    // Removes every action and scheduled callback of this node and of its descendants.
    virtual void cleanup();
    std::string description() const override;

    // Transform. Angles are degrees (positive turns clockwise); positions are points in the
    // parent's space.
    virtual void setRotation(float rotation);
    virtual void setRotationX(float rotationX);
    virtual void setRotationY(float rotationY);
    virtual void setScaleX(float scaleX);
    virtual void setScaleY(float scaleY);
    virtual void setScale(float scale);
    virtual void setSkewX(float skewX);
    virtual void setSkewY(float skewY);
    virtual void setPosition(CGPoint position);
    virtual void setIgnoreAnchorPointForPosition(bool ignore);
    // Normalised: (0, 0) is the lower-left corner of the content, (1, 1) the upper-right.
    virtual void setAnchorPoint(CGPoint anchorPoint);
    virtual void setContentSize(CGSize contentSize);
    // Only stored: every transform reads it.
    virtual void setVertexZ(float vertexZ);
    float rotation() const { return _rotationX; }
    float scale() const { return _scaleX; }

    // The content rectangle in the parent's space (the upright box around it).
    CGRect boundingBox();
    // Also reorders the node in its parent.
    virtual void setZOrder(std::int64_t zOrder);

    void childrenAlloc();
    // Made on first use and kept with the node.
    CCCamera* camera();
    // The first child in the children's order with this tag, or null.
    CCNode* getChildByTag(std::int64_t tag) const;

    // The node retains its children. A child that still has a parent, or that is this node or
    // one of its ancestors, raises NSInternalInconsistencyException.
    virtual void addChild(CCNode* child, std::int64_t z, std::int64_t tag);
    virtual void addChild(CCNode* child, std::int64_t z);
    virtual void addChild(CCNode* child);

    void removeFromParent();
    virtual void removeFromParentAndCleanup(bool cleanup);
    void removeChild(CCNode* child);
    // Nothing for null or for a node that is not a child.
    virtual void removeChild(CCNode* child, bool cleanup);
    void removeChildByTag(std::int64_t tag);
    virtual void removeChildByTag(std::int64_t tag, bool cleanup);
    void removeAllChildren();
    virtual void removeAllChildrenWithCleanup(bool cleanup);
    void detachChild(CCNode* child, bool cleanup);

    // Stores the z-order without touching the parent.
    void _setZOrder(std::int64_t z);
    void insertChild(CCNode* child, std::int64_t z);
    // Moves the child after its siblings of the same z-order at the next sort. A node that is
    // not a child raises NSInternalInconsistencyException and is left as it was.
    virtual void reorderChild(CCNode* child, std::int64_t z);
    virtual void sortAllChildren();

    // Draws the node itself in its own space; empty here.
    virtual void draw();
    // Draws the node and its children in z-order, once per frame.
    virtual void visit();
    void transformAncestors();
    // Multiplies the model-view matrix by the node's transform (and its camera's).
    virtual void transform();

    virtual void onEnter();
    virtual void onEnterTransitionDidFinish();
    virtual void onExitTransitionDidStart();
    virtual void onExit();

    // Actions, through the node's action manager.
    void setActionManager(CCActionManager* actionManager);
    CCActionManager* actionManager() const { return _actionManager.get(); }
    // Starts the action at once (paused while the node is not running); returns it.
    CCAction* runAction(CCAction* action);
    void stopAllActions();
    void stopAction(CCAction* action);
    void stopActionByTag(std::int64_t tag);
    CCAction* getActionByTag(std::int64_t tag);
    std::uint64_t numberOfRunningActions();

    // Scheduling, through the node's scheduler; intervals and delays are seconds.
    void setScheduler(CCScheduler* scheduler);
    CCScheduler* scheduler() const { return _scheduler.get(); }
    void scheduleUpdate();
    void scheduleUpdateWithPriority(std::int64_t priority);
    void unscheduleUpdate();
    void schedule(platform::Selector<void(double)> selector);
    void schedule(platform::Selector<void(double)> selector, double interval);
    void schedule(platform::Selector<void(double)> selector, double interval, std::uint32_t repeat,
                  double delay);
    void scheduleOnce(platform::Selector<void(double)> selector, double delay);
    void unschedule(platform::Selector<void(double)> selector);
    void unscheduleAllSelectors();
    void resumeSchedulerAndActions();
    void pauseSchedulerAndActions();

    // Called every frame after scheduleUpdate, with the frame's delta time in seconds.
    virtual void update(double dt);

    CGAffineTransform nodeToParentTransform();
    CGAffineTransform parentToNodeTransform();
    CGAffineTransform nodeToWorldTransform();
    CGAffineTransform worldToNodeTransform();
    CGPoint convertToNodeSpace(CGPoint worldPoint);
    CGPoint convertToWorldSpace(CGPoint nodePoint);
    CGPoint convertToNodeSpaceAR(CGPoint worldPoint);
    CGPoint convertToWorldSpaceAR(CGPoint nodePoint);
    CGPoint convertToWindowSpace(CGPoint nodePoint);
    CGPoint convertTouchToNodeSpace(const platform::Touch* touch);
    CGPoint convertTouchToNodeSpaceAR(const platform::Touch* touch);

    // Accessors.
    CCArray* children() const { return _children.get(); }
    bool visible() const { return _visible; }
    virtual void setVisible(bool visible);
    CCNode* parent() const { return _parent; }
    // Not retained: the parent owns its children.
    void setParent(CCNode* parent) { _parent = parent; }
    CCGridProtocol* grid() const { return _grid.get(); }
    void setGrid(CCGridProtocol* grid);
    std::int64_t zOrder() const { return _zOrder; }
    std::int64_t tag() const { return _tag; }
    void setTag(std::int64_t tag) { _tag = tag; }
    float vertexZ() const { return _vertexZ; }
    bool isRunning() const { return _isRunning; }
    // Not owned.
    void* userData() const { return _userData; }
    void setUserData(void* userData) { _userData = userData; }
    platform::Object* userObject() const { return _userObject.get(); }
    void setUserObject(platform::Object* userObject);
    CCGLProgram* shaderProgram() const { return _shaderProgram.get(); }
    void setShaderProgram(CCGLProgram* program);
    std::uint64_t orderOfArrival() const { return _orderOfArrival; }
    void setOrderOfArrival(std::uint64_t order) { _orderOfArrival = order; }
    std::uint32_t glServerState() const { return _glServerState; }
    void setGlServerState(std::uint32_t state) { _glServerState = state; }
    float rotationX() const { return _rotationX; }
    float rotationY() const { return _rotationY; }
    float scaleX() const { return _scaleX; }
    float scaleY() const { return _scaleY; }
    CGPoint position() const { return _position; }
    CGPoint anchorPoint() const { return _anchorPoint; }
    CGPoint anchorPointInPoints() const { return _anchorPointInPoints; }
    virtual CGSize contentSize() const { return _contentSize; }
    bool ignoreAnchorPointForPosition() const { return _ignoreAnchorPointForPosition; }
    float skewX() const { return _skewX; }
    float skewY() const { return _skewY; }

    // The next arrival stamp a child will get (process-wide, starts at 1).
    static std::uint64_t globalOrderOfArrival();

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // A relative anchor point is one the position does not ignore.
    void setIsRelativeAnchorPoint(bool relative) { setIgnoreAnchorPointForPosition(!relative); }
    bool isRelativeAnchorPoint() const { return !ignoreAnchorPointForPosition(); }

protected:
    // Both transform caches must be rebuilt: what every transform setter ends with.
    void markTransformDirty();
    // _anchorPointInPoints from the anchor and the content size, then markTransformDirty.
    void updateAnchorPointInPoints();
    // The child's index in _children, or NSNotFound.
    std::uint64_t indexOfChild(const CCNode* child) const;
    // True when the child's removal from its parent is already under way (this is a removal
    // asked for again from its onExit or cleanup): the request only adds its cleanup, if the
    // removal has not cleaned up yet.
    bool removalUnderWay(CCNode* child, bool cleanup);
    // detachChild for a child found at `hint` (checked again after the exit calls).
    void detachChild(CCNode* child, bool cleanup, std::uint64_t hint);

    // What a frame reads and writes for every moved node comes first, next to the object's
    // header, so that moving a node touches few cache lines; the rest follows.
    bool _isTransformDirty = true, _isInverseDirty = true;
    bool _visible = true;
    bool _ignoreAnchorPointForPosition = false; // the position places the lower-left corner
    float _rotationX = 0, _rotationY = 0;       // degrees, clockwise
    float _scaleX = 1, _scaleY = 1;
    float _skewX = 0, _skewY = 0;                             // degrees
    float _vertexZ = 0;                                       // z translation of the node's matrix
    std::uint32_t _glServerState = 0;                         // for the GL state cache (fills a gap)
    CCNode* _parent = nullptr;                                // not retained: the parent owns us
    CGPoint _position = CGPointZero;                          // points, in the parent's space
    CGPoint _anchorPointInPoints = CGPointZero;               // _anchorPoint times _contentSize
    CGAffineTransform _transform = CGAffineTransformIdentity; // node to parent, cached

    CGPoint _anchorPoint = CGPointZero;                     // normalised to the content size
    CGSize _contentSize = CGSizeZero;                       // points, untransformed
    CGAffineTransform _inverse = CGAffineTransformIdentity; // parent to node, cached
    platform::Ref<CCCamera> _camera;                        // made by camera()
    platform::Ref<CCGridProtocol> _grid;                    // set by grid actions
    std::int64_t _zOrder = 0;
    platform::Ref<CCArray> _children; // made by the first addChild; owns the children
    std::int64_t _tag = kCCNodeTagInvalid;
    void* _userData = nullptr; // not owned
    platform::Ref<platform::Object> _userObject;
    platform::Ref<CCGLProgram> _shaderProgram;
    std::uint64_t _orderOfArrival = 0; // stamp of the last add or reorder; 0 after a visit
    platform::Ref<CCScheduler> _scheduler;
    platform::Ref<CCActionManager> _actionManager;
    bool _isRunning = false;           // between onEnter and onExit
    bool _isReorderChildDirty = false; // children to sort before the next visit

    // What a visit must undo when game code throws from a draw: its model-view push and a grid
    // capture it began. Built at the start of a visit; pops on the way out, normal or not.
    class VisitScope {
    public:
        VisitScope();
        ~VisitScope();
        VisitScope(const VisitScope&) = delete;
        VisitScope& operator=(const VisitScope&) = delete;
        // Starts the grid's capture (beforeDraw), to be abandoned if the visit throws before end.
        void beginGrid(CCGridProtocol* grid);
        // Ends the grid's capture (afterDraw on target); nothing is left to abandon after it.
        void endGrid(CCGridProtocol* grid, CCNode* target);

    private:
        platform::Ref<CCGridProtocol> capturing_;
        int exceptions_;
    };

private:
    bool gridIsActive() const;

    // From the start of the node's removal from its parent until it is out of the children.
    bool _isBeingRemoved = false;
    bool _removalCleanupAsked = false; // a request during the removal asked for cleanup
};

// Makes a node of class T and runs its init; null when init fails. Subclasses build their
// `node()` factories on it.
template <class T> platform::Ref<T> makeNode() {
    auto n = platform::make<T>();
    return n->init() ? n : nullptr;
}
