// An optional on-screen window: shows a view's presented frames in an X11 window and turns the
// mouse into touches on the view. Everything else runs headless; nothing opens one by itself.
#pragma once

#include "platform/Drawable.h"
#include "platform/Touch.h"
#include "platform/View.h"

#include <memory>
#include <string>

namespace platform {

// One pointer as one finger: a press begins a touch, dragging moves it, releasing ends it.
// Positions are window pixels, converted to view points by the view's scale. A press outside
// the view's picture begins nothing; a touch still live at a press is cancelled first.
class PointerTouches {
public:
    explicit PointerTouches(View* view) : view_(view) {}
    void press(double x, double y, double timestamp);
    void drag(double x, double y, double timestamp);
    void release(double x, double y, double timestamp);
    // Cancels a touch in progress (the window lost the pointer, or closed).
    void cancel(double timestamp);
    bool touching() const { return touch_ != nullptr; }

private:
    CGPoint toPoints(double x, double y) const;
    void deliver(TouchPhase phase, double timestamp);

    View* view_; // not retained: the window's owner keeps the view
    Ref<Touch> touch_;
};

class Window {
public:
    // Opens a window the size of the view's surface on the X display ($DISPLAY); null when
    // there is no display (or no X11 support in this build). The view must outlive the window.
    // The window asks the window manager to keep that size; X errors on its connection, and
    // the connection's loss, are logged, not fatal.
    static std::unique_ptr<Window> open(View* view, const std::string& title = "Footlight");
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Handles pending window events: mouse to touches, redrawing, closing. A held touch is
    // cancelled when the window is unmapped, loses the pointer grab or the focus. False once
    // the window is closed by the user, destroyed by anyone, or its connection is lost (the
    // client killed by another, the server gone); nothing more is sent on it then.
    bool processEvents();
    // Shows a frame; presenting the view's layer calls this by itself.
    void show(const PixelBuffer& frame);

private:
    Window() = default;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace platform
