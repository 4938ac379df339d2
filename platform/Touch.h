// Touches and touch events as the view delivers them.
#pragma once

#include "platform/Collections.h"
#include "platform/Geometry.h"
#include "platform/Object.h"

#include <cstdint>

namespace platform {

class View;

enum class TouchPhase : std::int32_t { Began = 0, Moved = 1, Stationary = 2, Ended = 3, Cancelled = 4 };

// One finger, the same object through all of its phases.
class Touch : public Object {
public:
    Touch(View* view, CGPoint location, double timestamp, std::uint64_t tapCount = 1);

    // Locations are in the coordinates of the view the touch belongs to; asking for another
    // view converts through the window (there is only one here, so it is the same point).
    CGPoint locationInView(const View* view) const;
    CGPoint previousLocationInView(const View* view) const;
    View* view() const { return view_; }
    double timestamp() const { return timestamp_; }
    std::uint64_t tapCount() const { return tapCount_; }
    TouchPhase phase() const { return phase_; }

    // Moves the touch on: the current location becomes the previous one.
    void update(CGPoint location, double timestamp, TouchPhase phase);
    void setPhase(TouchPhase phase) { phase_ = phase; }

private:
    View* view_; // not retained: the view outlives its touches
    CGPoint location_, previous_;
    double timestamp_;
    std::uint64_t tapCount_;
    TouchPhase phase_ = TouchPhase::Began;
};

using TouchSet = IdentitySet<Touch>;

// One delivery of touches: the touches that changed are passed beside it.
class Event : public Object {
public:
    explicit Event(double timestamp = 0) : timestamp_(timestamp) {}
    double timestamp() const { return timestamp_; }
    // Every touch currently on the screen.
    const TouchSet& allTouches() const { return allTouches_; }
    TouchSet& mutableAllTouches() { return allTouches_; }

private:
    double timestamp_;
    TouchSet allTouches_;
};

} // namespace platform
