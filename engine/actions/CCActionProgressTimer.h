// Interval actions that drive a progress timer's percentage. Their target must be a
// CCProgressTimer; on any other node they do nothing.
#pragma once

#include "actions/CCActionInterval.h"

// From wherever the timer stands when the action starts to a target percentage. A timer that
// stands at exactly 100 counts as standing at 0, so running a sweep to 100 again on a full
// timer replays the whole sweep instead of doing nothing.
class CCProgressTo : public CCActionFactory<CCProgressTo, CCActionInterval> {
public:
    // Seconds; percent is 0-100.
    static platform::Ref<CCProgressTo> actionWithDuration(double duration, float percent);

    CCProgressTo() = default;

    virtual bool initWithDuration(double duration, float percent);
    // Same class, same duration and end percentage.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // Reads the start percentage from the timer.
    void startWithTarget(CCNode* target) override;
    void update(double t) override;

    float to() const { return _to; }
    float from() const { return _from; }

protected:
    float _to = 0;
    float _from = 0;
};

// Between two given percentages, whatever the timer shows when it starts.
class CCProgressFromTo : public CCActionFactory<CCProgressFromTo, CCActionInterval> {
public:
    static platform::Ref<CCProgressFromTo> actionWithDuration(double duration, float from, float to);

    CCProgressFromTo() = default;

    virtual bool initWithDuration(double duration, float from, float to);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // Same class and duration, the two percentages exchanged.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
    void startWithTarget(CCNode* target) override;
    void update(double t) override;

    float to() const { return _to; }
    float from() const { return _from; }

protected:
    float _to = 0;
    float _from = 0;
};
