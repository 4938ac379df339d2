// The view and view-controller stand-ins the engine's GL view and director build on: a frame,
// bounds and scale, a drawable layer, deferred layout, and the touch entry points the window
// (or a test) calls.
#pragma once

#include "platform/Collections.h"
#include "platform/Drawable.h"
#include "platform/Geometry.h"
#include "platform/Object.h"
#include "platform/Touch.h"

#include <cstdint>

namespace platform {

enum class InterfaceOrientation : std::int32_t {
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeRight = 3,
    LandscapeLeft = 4,
};

class View : public Object {
public:
    View();

    // Sets the frame; bounds take its size at origin zero.
    virtual bool initWithFrame(CGRect frame);
    // A view restored from an archive keeps the frame it was given before.
    virtual bool initWithCoder(const KeyedArchive* coder);

    CGRect frame() const { return frame_; }
    // Moves and resizes the view; a size change asks for layout.
    void setFrame(CGRect frame);
    CGRect bounds() const { return bounds_; }
    void setBounds(CGRect bounds);
    // Pixels per point of the layer.
    double contentScaleFactor() const { return layer_->contentsScale(); }
    void setContentScaleFactor(double scale);
    // The layer, owned by the view for its whole life.
    Drawable* layer() const { return layer_.get(); }

    // Lays out the view: the engine's GL view resizes its buffers here.
    virtual void layoutSubviews() {}
    void setNeedsLayout() { needsLayout_ = true; }
    bool needsLayout() const { return needsLayout_; }
    // Runs layoutSubviews when layout was asked for since the last one.
    void layoutIfNeeded();

    // Touch entry points; the base ignores them.
    virtual void touchesBegan(const TouchSet& touches, Event* event);
    virtual void touchesMoved(const TouchSet& touches, Event* event);
    virtual void touchesEnded(const TouchSet& touches, Event* event);
    virtual void touchesCancelled(const TouchSet& touches, Event* event);

private:
    CGRect frame_ = CGRectZero;
    CGRect bounds_ = CGRectZero;
    Ref<Drawable> layer_;
    bool needsLayout_ = true;
};

class ViewController : public Object {
public:
    View* view() const { return view_.get(); }
    // Retains the view.
    void setView(View* view) { view_ = view; }

    virtual void viewDidLoad() {}
    virtual void viewDidUnload() {}
    virtual void viewWillAppear(bool /*animated*/) {}
    virtual void viewDidAppear(bool /*animated*/) {}
    virtual void viewWillDisappear(bool /*animated*/) {}
    virtual void viewDidDisappear(bool /*animated*/) {}
    virtual void didReceiveMemoryWarning() {}
    // Portrait only unless a subclass says otherwise.
    virtual bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) {
        return orientation == InterfaceOrientation::Portrait;
    }

private:
    Ref<View> view_;
};

} // namespace platform
