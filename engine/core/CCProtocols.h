// The protocols coloured, blended, textured and text-bearing nodes adopt.
#pragma once

#include "core/ccTypes.h"

#include <cstdint>
#include <string>

class CCTexture2D;

// Real colour and opacity (what the node was given) and displayed ones (what it draws with:
// the real ones times its parent's displayed ones while cascading is on).
class CCRGBAProtocol {
public:
    virtual ~CCRGBAProtocol() = default;

    // Recompute the displayed value from the parent's displayed one.
    virtual void updateDisplayedColor(_ccColor3B parentColor) = 0;
    virtual void updateDisplayedOpacity(std::uint8_t parentOpacity) = 0;

    virtual _ccColor3B color() const = 0;
    virtual void setColor(_ccColor3B color) = 0;
    virtual _ccColor3B displayedColor() const = 0;
    virtual bool isCascadeColorEnabled() const = 0;
    virtual void setCascadeColorEnabled(bool enabled) = 0;

    virtual std::uint8_t opacity() const = 0;
    virtual void setOpacity(std::uint8_t opacity) = 0;
    virtual std::uint8_t displayedOpacity() const = 0;
    virtual bool isCascadeOpacityEnabled() const = 0;
    virtual void setCascadeOpacityEnabled(bool enabled) = 0;

    // Optional: whether opacity is folded into the colour (premultiplied textures). Classes
    // that implement the pair say so through respondsToOpacityModifyRGB.
    virtual bool respondsToOpacityModifyRGB() const { return false; }
    virtual void setOpacityModifyRGB(bool modify) { (void)modify; }
    virtual bool doesOpacityModifyRGB() const { return false; }
};

// Nodes whose blend pair can be set.
class CCBlendProtocol {
public:
    virtual ~CCBlendProtocol() = default;
    virtual _ccBlendFunc blendFunc() const = 0;
    virtual void setBlendFunc(_ccBlendFunc blendFunc) = 0;
};

// Nodes drawn with one texture.
class CCTextureProtocol : public CCBlendProtocol {
public:
    virtual CCTexture2D* texture() const = 0;
    // The node retains the texture.
    virtual void setTexture(CCTexture2D* texture) = 0;
};

// Nodes that show a string.
class CCLabelProtocol {
public:
    virtual ~CCLabelProtocol() = default;
    virtual void setString(const std::string& string) = 0;
    virtual std::string string() const = 0;
};
