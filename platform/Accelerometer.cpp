#include "platform/Accelerometer.h"

namespace platform {

Accelerometer* Accelerometer::sharedAccelerometer() {
    static Accelerometer accelerometer;
    return &accelerometer;
}

void Accelerometer::deliver(const Acceleration& acceleration) {
    if (delegate_) delegate_->accelerometer(this, &acceleration);
}

void Accelerometer::reset() {
    delegate_ = nullptr;
    updateInterval_ = 0.1;
}

} // namespace platform
