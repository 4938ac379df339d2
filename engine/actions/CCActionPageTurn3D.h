// The page curl: bends a node's picture around a cone whose apex sinks below the picture and
// whose angle closes as time runs, so the picture lifts from its right edge and rolls over to
// the left like a page being turned.
#pragma once

#include "actions/CCActionGrid.h"
#include "platform/Geometry.h"

class CCPageTurn3D : public CCActionFactory<CCPageTurn3D, CCGrid3DAction> {
public:
    // A new curl over a grid of the given size in cells.
    static platform::Ref<CCPageTurn3D> actionWithDuration(double duration, CGSize gridSize);

    CCPageTurn3D() = default;

    // Rebuilds every point from its flat position; flat (z lifted to 0.5) at 0, turned at 1.
    // Marks the grid as folding over itself, so the curled part is drawn over the flat part on
    // any view.
    void update(double t) override;
};
