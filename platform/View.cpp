#include "platform/View.h"

namespace platform {

View::View() : layer_(make<Drawable>()) {}

bool View::initWithFrame(CGRect frame) {
    setFrame(frame);
    return true;
}

bool View::initWithCoder(const KeyedArchive*) {
    return true;
}

void View::setFrame(CGRect frame) {
    bool resized = !(frame.size == frame_.size);
    frame_ = frame;
    setBounds(CGRect{bounds_.origin, frame.size});
    if (resized) setNeedsLayout();
}

void View::setBounds(CGRect bounds) {
    if (!(bounds.size == bounds_.size)) setNeedsLayout();
    bounds_ = bounds;
    frame_.size = bounds.size;
    layer_->setBounds(bounds);
}

void View::setContentScaleFactor(double scale) {
    if (scale == layer_->contentsScale()) return;
    layer_->setContentsScale(scale);
    setNeedsLayout();
}

void View::layoutIfNeeded() {
    if (!needsLayout_) return;
    needsLayout_ = false;
    layoutSubviews();
}

void View::touchesBegan(const TouchSet&, Event*) {}
void View::touchesMoved(const TouchSet&, Event*) {}
void View::touchesEnded(const TouchSet&, Event*) {}
void View::touchesCancelled(const TouchSet&, Event*) {}

} // namespace platform
