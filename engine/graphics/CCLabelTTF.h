// A label drawn with a system font or a font file shipped with the game: a sprite whose texture
// is the rendered string. Every effective change of the string or of a text attribute renders
// a new texture and resizes the sprite to it; unchanged values render nothing.
//
// Plain text goes through the texture's simple text path (white glyphs tinted by the sprite's
// colour). A label with a shadow or a stroke renders through a font definition, which also
// carries the fill colour; such a label is sized to its text whatever its dimensions.
#pragma once

#include "graphics/CCSprite.h"
#include "graphics/CCTexture2D.h"

#include <cstdint>
#include <string>

class CCFontDefinition;

class CCLabelTTF : public CCSprite, public CCLabelProtocol {
public:
    // Factories; null only when the initialiser refuses (an unknown font still makes a label,
    // without a texture). Sizes are in points.
    template <class T = CCLabelTTF>
    static platform::Ref<T> labelWithString(const std::string& string, const CCFontDefinition* definition);
    template <class T = CCLabelTTF>
    static platform::Ref<T> labelWithString(const std::string& string, const std::string& fontName,
                                            double fontSize);
    template <class T = CCLabelTTF>
    static platform::Ref<T> labelWithString(const std::string& string, const std::string& fontName,
                                            double fontSize, CGSize dimensions, CCTextAlignment hAlignment);
    template <class T = CCLabelTTF>
    static platform::Ref<T> labelWithString(const std::string& string, const std::string& fontName,
                                            double fontSize, CGSize dimensions, CCTextAlignment hAlignment,
                                            CCVerticalTextAlignment vAlignment);
    template <class T = CCLabelTTF>
    static platform::Ref<T> labelWithString(const std::string& string, const std::string& fontName,
                                            double fontSize, CGSize dimensions, CCTextAlignment hAlignment,
                                            CCLineBreakMode lineBreakMode);
    template <class T = CCLabelTTF>
    static platform::Ref<T> labelWithString(const std::string& string, const std::string& fontName,
                                            double fontSize, CGSize dimensions, CCTextAlignment hAlignment,
                                            CCVerticalTextAlignment vAlignment,
                                            CCLineBreakMode lineBreakMode);

    // An empty label (init), not a bare sprite.
    static platform::Ref<CCLabelTTF> node();

    CCLabelTTF() = default;
    ~CCLabelTTF() override;

    // An empty label in "Helvetica" at 12 points.
    bool init() override;
    // Sized to the text, left and top aligned, word wrap.
    virtual bool initWithString(const std::string& string, const std::string& fontName, double fontSize);
    virtual bool initWithString(const std::string& string, const std::string& fontName, double fontSize,
                                CGSize dimensions, CCTextAlignment hAlignment);
    virtual bool initWithString(const std::string& string, const std::string& fontName, double fontSize,
                                CGSize dimensions, CCTextAlignment hAlignment,
                                CCVerticalTextAlignment vAlignment);
    virtual bool initWithString(const std::string& string, const std::string& fontName, double fontSize,
                                CGSize dimensions, CCTextAlignment hAlignment, CCLineBreakMode lineBreakMode);
    // The designated initialiser. Dimensions in points; a zero side sizes the texture to the text.
    virtual bool initWithString(const std::string& string, const std::string& fontName, double fontSize,
                                CGSize dimensions, CCTextAlignment hAlignment,
                                CCVerticalTextAlignment vAlignment, CCLineBreakMode lineBreakMode);

    // Renders only when the string differs from the current one.
    void setString(const std::string& string) override;
    std::string string() const override { return _string; }
    // A name ending in ".ttf" (in any case) is a font file: it is found through the file
    // utilities, registered with the text renderer, and named by its file name without the
    // extension. Other names come back unchanged.
    static std::string getFontName(const std::string& fontName);
    void setFontName(const std::string& fontName);
    const std::string& fontName() const { return _fontName; }
    // Points.
    void setFontSize(float fontSize);
    float fontSize() const { return static_cast<float>(_fontSize); }
    void setDimensions(CGSize dimensions);
    CGSize dimensions() const { return _dimensions; }
    void setHorizontalAlignment(CCTextAlignment alignment);
    CCTextAlignment horizontalAlignment() const { return _hAlignment; }
    void setVerticalAlignment(CCVerticalTextAlignment alignment);
    CCVerticalTextAlignment verticalAlignment() const { return _vAlignment; }
    CCLineBreakMode lineBreakMode() const { return _lineBreakMode; }

    std::string description() const override;

    // Renders the texture from the current attributes. False, with the old texture kept, when
    // the font is unknown or the text cannot be made into a texture.
    bool updateTexture();

    // Applies the definition (its font name as it stands) and renders once; false for a null
    // definition.
    virtual bool initWithString(const std::string& string, const CCFontDefinition* definition);

    // Shadow and stroke take effect on the next rendering; with updateImage the label renders
    // at once when something changed. Offsets and sizes in points.
    void enableShadowWithOffset(CGSize shadowOffset, float shadowOpacity, float shadowBlur, bool updateImage);
    void disableShadowAndUpdateImage(bool updateImage);
    void enableStrokeWithColor(_ccColor3B strokeColor, float strokeSize, bool updateImage);
    void disableStrokeAndUpdateImage(bool updateImage);
    // Used only when a shadow or stroke is on.
    void setFontFillColor(_ccColor3B fontFillColor, bool updateImage);

    // A new definition of the label's attributes; adjusted, sizes and offsets are in pixels.
    // Dimensions and shadow opacity are not carried.
    platform::Ref<CCFontDefinition> prepareFontDefinitionAndAdjustForResolution(bool resAdjust) const;
    platform::Ref<CCFontDefinition> getFontDefinition() const;
    // Takes the definition's attributes and renders; a null definition changes nothing.
    void setFontDefinition(const CCFontDefinition* definition);

    bool shadowEnabled() const { return _shadowEnabled; }
    CGSize shadowOffset() const { return _shadowOffset; }
    float shadowOpacity() const { return _shadowOpacity; }
    float shadowBlur() const { return _shadowBlur; }
    bool strokeEnabled() const { return _strokeEnabled; }
    _ccColor3B strokeColor() const { return _strokeColor; }
    float strokeSize() const { return _strokeSize; }
    _ccColor3B fontFillColor() const { return _textFillColor; }

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The dimensions and alignments came before the font. The "alignment" and "hAlignment"
    // spellings take the same parameters, so each is named after its keywords.
    template <class T = CCLabelTTF>
    static platform::Ref<T> labelWithStringDimensionsAlignment(const std::string& string, CGSize dimensions,
                                                               CCTextAlignment alignment,
                                                               const std::string& fontName, double fontSize) {
        return labelWithString<T>(string, fontName, fontSize, dimensions, alignment);
    }
    template <class T = CCLabelTTF>
    static platform::Ref<T> labelWithStringDimensionsAlignment(const std::string& string, CGSize dimensions,
                                                               CCTextAlignment alignment,
                                                               CCLineBreakMode lineBreakMode,
                                                               const std::string& fontName, double fontSize) {
        return labelWithString<T>(string, fontName, fontSize, dimensions, alignment, lineBreakMode);
    }
    template <class T = CCLabelTTF>
    static platform::Ref<T> labelWithStringDimensionsHAlignment(const std::string& string, CGSize dimensions,
                                                                CCTextAlignment hAlignment,
                                                                const std::string& fontName,
                                                                double fontSize) {
        return labelWithString<T>(string, fontName, fontSize, dimensions, hAlignment);
    }
    template <class T = CCLabelTTF>
    static platform::Ref<T>
    labelWithStringDimensionsHAlignment(const std::string& string, CGSize dimensions,
                                        CCTextAlignment hAlignment, CCLineBreakMode lineBreakMode,
                                        const std::string& fontName, double fontSize) {
        return labelWithString<T>(string, fontName, fontSize, dimensions, hAlignment, lineBreakMode);
    }
    template <class T = CCLabelTTF>
    static platform::Ref<T> labelWithString(const std::string& string, CGSize dimensions,
                                            CCTextAlignment hAlignment, CCVerticalTextAlignment vAlignment,
                                            CCLineBreakMode lineBreakMode, const std::string& fontName,
                                            double fontSize) {
        return labelWithString<T>(string, fontName, fontSize, dimensions, hAlignment, vAlignment,
                                  lineBreakMode);
    }
    template <class T = CCLabelTTF>
    static platform::Ref<T> labelWithString(const std::string& string, CGSize dimensions,
                                            CCTextAlignment hAlignment, CCVerticalTextAlignment vAlignment,
                                            const std::string& fontName, double fontSize) {
        return labelWithString<T>(string, fontName, fontSize, dimensions, hAlignment, vAlignment);
    }
    bool initWithString(const std::string& string, CGSize dimensions, CCTextAlignment alignment,
                        const std::string& fontName, double fontSize) {
        return initWithString(string, fontName, fontSize, dimensions, alignment);
    }
    bool initWithString(const std::string& string, CGSize dimensions, CCTextAlignment alignment,
                        CCLineBreakMode lineBreakMode, const std::string& fontName, double fontSize) {
        return initWithString(string, fontName, fontSize, dimensions, alignment, lineBreakMode);
    }

private:
    // Takes the attributes of a definition without rendering.
    void applyFontDefinition(const CCFontDefinition* definition);

    CGSize _dimensions = CGSizeZero;
    CCTextAlignment _hAlignment = kCCTextAlignmentLeft;
    CCVerticalTextAlignment _vAlignment = kCCVerticalTextAlignmentTop;
    std::string _fontName;
    double _fontSize = 0;
    CCLineBreakMode _lineBreakMode = kCCLineBreakModeWordWrap;
    // Empty stands for no string: attribute changes then wait for the first one.
    std::string _string;
    bool _shadowEnabled = false;
    float _shadowOpacity = 0;
    float _shadowBlur = 0;
    CGSize _shadowOffset = CGSizeZero;
    bool _strokeEnabled = false;
    _ccColor3B _strokeColor{0, 0, 0};
    float _strokeSize = 0;
    _ccColor3B _textFillColor{0, 0, 0};
};

// ---- factories -------------------------------------------------------------------------------

namespace cclabelttf_detail {
template <class T, class Init> platform::Ref<T> made(Init&& init) {
    auto label = platform::make<T>();
    return init(*label) ? label : nullptr;
}
} // namespace cclabelttf_detail

template <class T>
platform::Ref<T> CCLabelTTF::labelWithString(const std::string& string, const CCFontDefinition* definition) {
    return cclabelttf_detail::made<T>([&](T& l) { return l.initWithString(string, definition); });
}
template <class T>
platform::Ref<T> CCLabelTTF::labelWithString(const std::string& string, const std::string& fontName,
                                             double fontSize) {
    return cclabelttf_detail::made<T>([&](T& l) { return l.initWithString(string, fontName, fontSize); });
}
template <class T>
platform::Ref<T> CCLabelTTF::labelWithString(const std::string& string, const std::string& fontName,
                                             double fontSize, CGSize dimensions, CCTextAlignment hAlignment) {
    return cclabelttf_detail::made<T>([&](T& l) {
        return l.initWithString(string, fontName, fontSize, dimensions, hAlignment,
                                kCCVerticalTextAlignmentTop, kCCLineBreakModeWordWrap);
    });
}
template <class T>
platform::Ref<T> CCLabelTTF::labelWithString(const std::string& string, const std::string& fontName,
                                             double fontSize, CGSize dimensions, CCTextAlignment hAlignment,
                                             CCVerticalTextAlignment vAlignment) {
    return cclabelttf_detail::made<T>([&](T& l) {
        return l.initWithString(string, fontName, fontSize, dimensions, hAlignment, vAlignment);
    });
}
template <class T>
platform::Ref<T> CCLabelTTF::labelWithString(const std::string& string, const std::string& fontName,
                                             double fontSize, CGSize dimensions, CCTextAlignment hAlignment,
                                             CCLineBreakMode lineBreakMode) {
    return cclabelttf_detail::made<T>([&](T& l) {
        return l.initWithString(string, fontName, fontSize, dimensions, hAlignment,
                                kCCVerticalTextAlignmentTop, lineBreakMode);
    });
}
template <class T>
platform::Ref<T> CCLabelTTF::labelWithString(const std::string& string, const std::string& fontName,
                                             double fontSize, CGSize dimensions, CCTextAlignment hAlignment,
                                             CCVerticalTextAlignment vAlignment,
                                             CCLineBreakMode lineBreakMode) {
    return cclabelttf_detail::made<T>([&](T& l) {
        return l.initWithString(string, fontName, fontSize, dimensions, hAlignment, vAlignment,
                                lineBreakMode);
    });
}
