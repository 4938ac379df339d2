// Keeps a followed node in the middle of the window by moving the node the action runs on (a
// node that contains the followed one). With a world boundary the target stays where the window
// shows nothing outside the world. It has no duration: it ends when the followed node leaves
// the running scene.
#pragma once

#include "actions/CCAction.h"
#include "platform/Geometry.h"

class CCFollow : public CCActionFactory<CCFollow, CCAction> {
public:
    // Retains the followed node. Null for a null node.
    static platform::Ref<CCFollow> actionWithTarget(CCNode* followedNode);
    // rect: the world in points, in the target's parent's space.
    static platform::Ref<CCFollow> actionWithTarget(CCNode* followedNode, CGRect rect);

    CCFollow();
    ~CCFollow() override;

    // The window size is read from the director here, once.
    virtual bool initWithTarget(CCNode* followedNode);
    virtual bool initWithTarget(CCNode* followedNode, CGRect rect);
    // Follows the same node within the same boundary, with the same tag.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // dt is not used: the target is placed from the followed node's position alone.
    void step(double dt) override;
    // Once the followed node is no longer running.
    bool isDone() const override;
    void stop() override;
    bool boundarySet() const { return _boundarySet; }
    // Turning it on without a boundary holds the target between limits of 0.
    void setBoundarySet(bool boundarySet) { _boundarySet = boundarySet; }

    CCNode* followedNode() const { return _followedNode.get(); }

protected:
    platform::Ref<CCNode> _followedNode;
    bool _boundarySet = false;
    bool _boundaryFullyCovered = false; // the world is the window's size: never move
    CGPoint _halfScreenSize = CGPointZero;
    CGPoint _fullScreenSize = CGPointZero;
    // Limits of the target's position: x in [left, right], y in [bottom, top].
    float _leftBoundary = 0, _rightBoundary = 0, _topBoundary = 0, _bottomBoundary = 0;
};
