#include "core/CCNodeRGBA.h"

#include "core/CCArray.h"

_ccColor3B ccCascadeParentColor(const CCNode* node) {
    auto* parent = dynamic_cast<const CCRGBAProtocol*>(node->parent());
    return parent && parent->isCascadeColorEnabled() ? parent->displayedColor() : ccWHITE;
}

std::uint8_t ccCascadeParentOpacity(const CCNode* node) {
    auto* parent = dynamic_cast<const CCRGBAProtocol*>(node->parent());
    return parent && parent->isCascadeOpacityEnabled() ? parent->displayedOpacity() : 255;
}

std::uint8_t ccCascadeOpacity(std::uint8_t real, std::uint8_t parent) {
    return static_cast<std::uint8_t>(static_cast<double>(real) * parent / 255.0);
}

_ccColor3B ccCascadeColor(_ccColor3B real, _ccColor3B parent) {
    return {ccCascadeOpacity(real.r, parent.r), ccCascadeOpacity(real.g, parent.g),
            ccCascadeOpacity(real.b, parent.b)};
}

_ccColor3B ccFoldOpacity(_ccColor3B color, std::uint8_t opacity) {
    return ccCascadeColor(color, _ccColor3B{opacity, opacity, opacity});
}

namespace {
// Walks by index and holds each child while it runs: an override may change the children.
template <class F> void forEachColoredChild(CCNode* node, F&& f) {
    CCArray* children = node->children();
    if (!children) return;
    for (std::uint64_t i = 0; i < children->count(); ++i) {
        platform::Ref<CCNode> child(static_cast<CCNode*>(children->objectAtIndex(i)));
        if (auto* colored = dynamic_cast<CCRGBAProtocol*>(child.get())) f(colored);
    }
}
} // namespace

void ccCascadeColorToChildren(CCNode* node, _ccColor3B displayed) {
    forEachColoredChild(node, [&](CCRGBAProtocol* child) { child->updateDisplayedColor(displayed); });
}

void ccCascadeOpacityToChildren(CCNode* node, std::uint8_t displayed) {
    forEachColoredChild(node, [&](CCRGBAProtocol* child) { child->updateDisplayedOpacity(displayed); });
}

bool CCNodeRGBA::init() {
    if (!CCNode::init()) return false;
    _displayedOpacity = _realOpacity = 255;
    _displayedColor = _realColor = ccWHITE;
    _cascadeOpacityEnabled = _cascadeColorEnabled = false;
    return true;
}

platform::Ref<CCNodeRGBA> CCNodeRGBA::node() {
    return makeNode<CCNodeRGBA>();
}
