// What a node's visit needs from the grid that distorts it: the grid classes implement it.
#pragma once

#include "platform/Object.h"

class CCNode;

class CCGridProtocol : public platform::Object {
public:
    // While active, the node's visit captures its drawing through the grid.
    virtual bool active() const = 0;
    // Switches drawing to the grid's capture target.
    virtual void beforeDraw() = 0;
    // Switches back and draws the captured picture over the grid's mesh for the owning node.
    virtual void afterDraw(CCNode* target) = 0;
    // Switches back without drawing, when the drawing between beforeDraw and afterDraw threw.
    virtual void abandonDraw() {}
};
