// Placeholder for the scene-graph node: actions and the action manager name their target
// type here until the node itself is built.
#pragma once

#include "platform/Object.h"

class CCNode : public platform::Object {
public:
    CCNode() = default;
};
