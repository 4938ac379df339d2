// A node with its own colour and opacity that can pass them down to its children.
#pragma once

#include "core/CCNode.h"
#include "core/CCProtocols.h"

// The cascade rules, shared by every class that implements CCRGBAProtocol.
// The value a node's cascade starts from: its parent's displayed value when the parent is
// coloured and cascades that value, else white or 255.
_ccColor3B ccCascadeParentColor(const CCNode* node);
std::uint8_t ccCascadeParentOpacity(const CCNode* node);
// real x parent / 255, worked in double precision and truncated.
std::uint8_t ccCascadeOpacity(std::uint8_t real, std::uint8_t parent);
_ccColor3B ccCascadeColor(_ccColor3B real, _ccColor3B parent);
// A colour times an opacity, as a premultiplied picture carries it.
_ccColor3B ccFoldOpacity(_ccColor3B color, std::uint8_t opacity);
// Hands a displayed value to every coloured child, in the children's order. Children that are
// not coloured are skipped with their whole subtree.
void ccCascadeColorToChildren(CCNode* node, _ccColor3B displayed);
void ccCascadeOpacityToChildren(CCNode* node, std::uint8_t displayed);

// The cascade on top of any node class: CCNodeRGBA puts it on CCNode, CCLayerRGBA on CCLayer.
// Subclasses that draw override the setters and the two update operations to call these first
// and then rebuild their vertex colours.
template <class Base> class CCRGBACascade : public Base, public CCRGBAProtocol {
public:
    std::uint8_t opacity() const override { return _realOpacity; }
    std::uint8_t displayedOpacity() const override { return _displayedOpacity; }
    void setOpacity(std::uint8_t opacity) override {
        _displayedOpacity = _realOpacity = opacity;
        if (_cascadeOpacityEnabled) updateDisplayedOpacity(ccCascadeParentOpacity(this));
    }
    _ccColor3B color() const override { return _realColor; }
    _ccColor3B displayedColor() const override { return _displayedColor; }
    void setColor(_ccColor3B color) override {
        _displayedColor = _realColor = color;
        if (_cascadeColorEnabled) updateDisplayedColor(ccCascadeParentColor(this));
    }
    void updateDisplayedOpacity(std::uint8_t parentOpacity) override {
        _displayedOpacity = ccCascadeOpacity(_realOpacity, parentOpacity);
        if (_cascadeOpacityEnabled) ccCascadeOpacityToChildren(this, _displayedOpacity);
    }
    void updateDisplayedColor(_ccColor3B parentColor) override {
        _displayedColor = ccCascadeColor(_realColor, parentColor);
        if (_cascadeColorEnabled) ccCascadeColorToChildren(this, _displayedColor);
    }
    // Switching a cascade recomputes nothing; the next setColor/setOpacity does.
    bool isCascadeColorEnabled() const override { return _cascadeColorEnabled; }
    void setCascadeColorEnabled(bool enabled) override { _cascadeColorEnabled = enabled; }
    bool isCascadeOpacityEnabled() const override { return _cascadeOpacityEnabled; }
    void setCascadeOpacityEnabled(bool enabled) override { _cascadeOpacityEnabled = enabled; }

protected:
    std::uint8_t _displayedOpacity = 255;
    std::uint8_t _realOpacity = 255;
    _ccColor3B _displayedColor = ccWHITE;
    _ccColor3B _realColor = ccWHITE;
    bool _cascadeColorEnabled = false;
    bool _cascadeOpacityEnabled = false;
};

class CCNodeRGBA : public CCRGBACascade<CCNode> {
public:
    // White, opaque, cascading off.
    bool init() override;
    static platform::Ref<CCNodeRGBA> node();
};
