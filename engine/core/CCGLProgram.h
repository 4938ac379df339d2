// Placeholder for the shader program: nodes hold one until the program itself is built.
#pragma once

#include "platform/Object.h"

class CCGLProgram : public platform::Object {
public:
    CCGLProgram() = default;
};
