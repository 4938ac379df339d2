// What the GL view hands its touches to: the touch dispatcher implements it.
#pragma once

#include "platform/Touch.h"

class CCTouchDelegate {
public:
    virtual ~CCTouchDelegate() = default;
    virtual void touchesBegan(const platform::TouchSet& touches, platform::Event* event) = 0;
    virtual void touchesMoved(const platform::TouchSet& touches, platform::Event* event) = 0;
    virtual void touchesEnded(const platform::TouchSet& touches, platform::Event* event) = 0;
    virtual void touchesCancelled(const platform::TouchSet& touches, platform::Event* event) = 0;
};
