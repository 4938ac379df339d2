// The attribute set of a label's text: font, size, alignment, line breaking, box, fill colour,
// shadow and stroke, as the label hands it to the texture's text initialiser.
#pragma once

#include "core/ccTypes.h"
#include "platform/Geometry.h"
#include "platform/Object.h"

#include <cstdint>
#include <string>

struct _ccFontShadow {
    bool m_shadowEnabled = false;
    CGSize m_shadowOffset{0, 0};
    float m_shadowBlur = 0;
    // Carried for layout's sake; nothing sets or reads it.
    float m_shadowOpacity = 0;
};

struct _ccFontStroke {
    bool m_strokeEnabled = false;
    _ccColor3B m_strokeColor{0, 0, 0};
    float m_strokeSize = 0;
};

class CCFontDefinition : public platform::Object {
public:
    // Every field zero: no font name, alignment left, vertical alignment top, line break 0,
    // no dimensions, fill black, shadow and stroke off.
    bool init() { return true; }
    // Keeps a copy of the name and the size; the rest stays zero.
    bool initWithFontName(const std::string& fontName, std::int32_t fontSize);

    void enableShadow(bool enable) { _shadow.m_shadowEnabled = enable; }
    bool shadowEnabled() const { return _shadow.m_shadowEnabled; }
    void setShadowOffset(CGSize offset) { _shadow.m_shadowOffset = offset; }
    CGSize shadowOffset() const { return _shadow.m_shadowOffset; }
    // Kept as a float.
    void setShadowBlur(double blur) { _shadow.m_shadowBlur = float(blur); }
    double shadowBlur() const { return _shadow.m_shadowBlur; }

    void enableStroke(bool enable) { _stroke.m_strokeEnabled = enable; }
    bool strokeEnabled() const { return _stroke.m_strokeEnabled; }
    // Kept as a float.
    void setStrokeSize(double size) { _stroke.m_strokeSize = float(size); }
    double strokeSize() const { return _stroke.m_strokeSize; }
    void setStrokeColor(_ccColor3B color) { _stroke.m_strokeColor = color; }
    _ccColor3B strokeColor() const { return _stroke.m_strokeColor; }

    // An empty name stands for none.
    const std::string& fontName() const { return _fontName; }
    void setFontName(const std::string& fontName) { _fontName = fontName; }
    // Whole points (pixels once adjusted for the screen's scale).
    std::int32_t fontSize() const { return _fontSize; }
    void setFontSize(std::int32_t fontSize) { _fontSize = fontSize; }
    // 0 left, 1 centre, 2 right.
    std::int32_t alignment() const { return _alignment; }
    void setAlignment(std::int32_t alignment) { _alignment = alignment; }
    // 0 top, 1 centre, 2 bottom.
    std::int32_t vertAlignment() const { return _vertAlignment; }
    void setVertAlignment(std::int32_t vertAlignment) { _vertAlignment = vertAlignment; }
    // 0 to 5: word wrap, character wrap, clip, truncate head, tail, middle.
    std::int32_t lineBreakMode() const { return _lineBreakMode; }
    void setLineBreakMode(std::int32_t lineBreakMode) { _lineBreakMode = lineBreakMode; }
    // Zero: the texture takes the size of the text.
    CGSize dimensions() const { return _dimensions; }
    void setDimensions(CGSize dimensions) { _dimensions = dimensions; }
    _ccColor3B fontFillColor() const { return _fontFillColor; }
    void setFontFillColor(_ccColor3B color) { _fontFillColor = color; }

    std::string description() const override;

private:
    std::string _fontName;
    std::int32_t _fontSize = 0;
    std::int32_t _alignment = 0;
    std::int32_t _vertAlignment = 0;
    std::int32_t _lineBreakMode = 0;
    CGSize _dimensions{0, 0};
    _ccColor3B _fontFillColor{0, 0, 0};
    _ccFontShadow _shadow;
    _ccFontStroke _stroke;
};
