// Shows part of a sprite's picture by a percentage: a pie sector swept around a midpoint
// (radial) or a rectangle grown from a midpoint (bar). The timer draws its own short vertex
// list, cut from the sprite's quad, with the sprite's texture, colour and blend pair; the sprite
// is not a child and is never drawn itself.
//
// Positions inside the picture are "alpha points": (0, 0) is the bottom-left of the sprite's
// quad, (1, 1) its top-right. Every vertex takes its position and texture coordinate from the
// same alpha point, so the visible part of the picture stays where the whole sprite would be.
#pragma once

#include "core/CCNodeRGBA.h"
#include "core/ccTypes.h"

#include <cstdint>
#include <vector>

class CCSprite;

enum CCProgressTimerType : std::int32_t {
    kCCProgressTimerTypeRadial = 0,
    kCCProgressTimerTypeBar = 1,
};

class CCProgressTimer : public CCNodeRGBA {
public:
    // A timer over the sprite (retained); null when the initialiser refuses.
    static platform::Ref<CCProgressTimer> progressWithSprite(CCSprite* sprite);

    CCProgressTimer();
    ~CCProgressTimer() override;

    // A timer without sprite: it draws nothing until it has one.
    bool init() override;
    // 0 %, radial, clockwise from 12 o'clock, midpoint (0.5, 0.5), bar change rate (1, 1),
    // anchor point (0.5, 0.5), the position-texture-colour program. The sprite may be null.
    virtual bool initWithSprite(CCSprite* sprite);

    // Held to 0-100 and the vertex data brought up to date. Setting the current value does
    // nothing; NaN is refused.
    void setPercentage(float percentage);
    // Takes the sprite's content size and drops the vertex data; nothing is rebuilt until the
    // next percentage or type change.
    void setSprite(CCSprite* sprite);
    void setType(CCProgressTimerType type);
    // Anticlockwise sweep for radial timers; a bar shows what lies outside the rectangle.
    void setReverseDirection(bool reverse);

    // Colour and opacity are the sprite's: the timer passes them on and recolours its vertices.
    void setColor(_ccColor3B color) override;
    // Black and 0 without a sprite.
    _ccColor3B color() const override;
    void setOpacity(std::uint8_t opacity) override;
    std::uint8_t opacity() const override;
    // What a cascading parent gives is the displayed colour and opacity; the vertices show the
    // sprite's values times these.
    void updateDisplayedColor(_ccColor3B parentColor) override;
    void updateDisplayedOpacity(std::uint8_t parentOpacity) override;

    // The texture coordinate and the position (in the node's space) of an alpha point; zero
    // without a sprite.
    _ccTex2F textureCoordFromAlphaPoint(CGPoint alpha) const;
    _ccVertex2F vertexFromAlphaPoint(CGPoint alpha) const;
    // Every vertex takes the colour of the sprite quad's top-left corner, times the displayed
    // colour and opacity.
    void updateColor();
    // Rebuilds the vertex data of the current type.
    void updateProgress();

    // In alpha space: where the radial sweep turns round, or where the bar grows from. Each
    // component is held to 0-1.
    CGPoint midpoint() const { return _midpoint; }
    void setMidpoint(CGPoint midpoint);

    // The vertex builders, normally reached through updateProgress.
    void updateRadial();
    void updateBar();
    // Corner i (0-3) of the picture in the order the radial sweep meets them: top-right,
    // bottom-right, bottom-left, top-left, or the mirror order when reversed. (0, 0) for any
    // other index.
    CGPoint boundaryTexCoord(std::int8_t index) const;

    void draw() override;

    float percentage() const { return _percentage; }
    CCSprite* sprite() const { return _sprite.get(); }
    CCProgressTimerType type() const { return _type; }
    bool reverseDirection() const { return _reverseDirection; }
    // For bars, per axis: 1 grows with the percentage, 0 stays full.
    CGPoint barChangeRate() const { return _barChangeRate; }
    void setBarChangeRate(CGPoint rate) { _barChangeRate = rate; }
    // Null until built, and again after any change of sprite, type or direction.
    const _ccV2F_C4B_T2F* vertexData() const { return _vertexData.empty() ? nullptr : _vertexData.data(); }
    std::int32_t vertexDataCount() const { return _vertexDataCount; }

private:
    void dropVertexData();
    // Room for exactly count vertices; false when the count was already that.
    bool resizeVertexData(std::int32_t count);
    // Position and texture coordinate of vertex i from an alpha point.
    void setVertex(std::int32_t i, CGPoint alpha);

    CCProgressTimerType _type = kCCProgressTimerTypeRadial;
    float _percentage = 0;
    platform::Ref<CCSprite> _sprite;
    std::int32_t _vertexDataCount = 0;
    std::vector<_ccV2F_C4B_T2F> _vertexData; // _vertexDataCount vertices, or empty
    CGPoint _midpoint = CGPointZero;
    CGPoint _barChangeRate = CGPointZero;
    bool _reverseDirection = false;
};
