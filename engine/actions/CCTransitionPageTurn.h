// A transition that turns the outgoing scene away like a page, or lays the incoming scene down
// like a page turned back; the fold lies over the flat page on any view, depth buffer or not.
#pragma once

#include "actions/CCTransition.h"
#include "platform/Geometry.h"

class CCTransitionPageTurn : public CCTransitionFactory<CCTransitionPageTurn, CCTransitionScene> {
public:
    using CCTransitionScene::initWithDuration;
    // Seconds. The direction is set before the base initialiser runs, so sceneOrder sees it.
    virtual bool initWithDuration(double duration, CCScene* scene, bool backwards);
    // Forwards the outgoing page lies on top; backwards the incoming one does.
    void sceneOrder() override;
    // Starts the curl on the page: the outgoing scene forwards, the incoming one backwards.
    void onEnter() override;
    // The curl over a grid of the given size in cells; backwards it runs from turned to flat.
    virtual platform::Ref<CCActionInterval> actionWithSize(CGSize gridSize);

    bool isBackwards() const { return _back; }

protected:
    bool _back = false;
};
