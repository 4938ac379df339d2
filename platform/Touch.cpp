#include "platform/Touch.h"

namespace platform {

Touch::Touch(View* view, CGPoint location, double timestamp, std::uint64_t tapCount)
    : view_(view), location_(location), previous_(location), timestamp_(timestamp), tapCount_(tapCount) {}

CGPoint Touch::locationInView(const View*) const {
    return location_;
}

CGPoint Touch::previousLocationInView(const View*) const {
    return previous_;
}

void Touch::update(CGPoint location, double timestamp, TouchPhase phase) {
    previous_ = location_;
    location_ = location;
    timestamp_ = timestamp;
    phase_ = phase;
}

} // namespace platform
