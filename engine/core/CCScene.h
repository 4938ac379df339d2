// The root of what the director shows: a node the size of the window.
#pragma once

#include "core/CCNode.h"

class CCScene : public CCNode {
public:
    // Anchor (0.5, 0.5), the director's window size, placed by its lower-left corner.
    bool init() override;
    static platform::Ref<CCScene> node();

    // Scene transitions answer true: the director then leaves the enter and exit calls of the
    // scenes on either side to them.
    virtual bool isTransitionScene() const { return false; }
};
