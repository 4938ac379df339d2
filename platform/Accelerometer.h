// The device's accelerometer. This machine has none: the shared accelerometer keeps its
// delegate and update interval so that layers can switch it on and off, and never produces a
// reading on its own. Tests feed readings through deliver().
#pragma once

namespace platform {

class Accelerometer;

// One reading, in g along the device's axes; timestamp in seconds.
struct Acceleration {
    double x = 0, y = 0, z = 0;
    double timestamp = 0;
};

class AccelerometerDelegate {
public:
    virtual ~AccelerometerDelegate() = default;
    virtual void accelerometer(Accelerometer* accelerometer, const Acceleration* acceleration) {
        (void)accelerometer;
        (void)acceleration;
    }
};

class Accelerometer {
public:
    // The one accelerometer of the process.
    static Accelerometer* sharedAccelerometer();

    // Not retained: the delegate clears itself before it goes away.
    AccelerometerDelegate* delegate() const { return delegate_; }
    void setDelegate(AccelerometerDelegate* delegate) { delegate_ = delegate; }
    // Seconds between readings.
    double updateInterval() const { return updateInterval_; }
    void setUpdateInterval(double interval) { updateInterval_ = interval; }

    // Hands a reading to the delegate, if there is one.
    void deliver(const Acceleration& acceleration);
    // Back to no delegate and the default interval (tests).
    void reset();

private:
    AccelerometerDelegate* delegate_ = nullptr;
    double updateInterval_ = 0.1;
};

} // namespace platform
