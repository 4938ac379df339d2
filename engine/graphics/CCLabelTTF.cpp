#include "graphics/CCLabelTTF.h"

#include "core/CCFileUtils.h"
#include "core/CCShaderCache.h"
#include "graphics/CCFontDefinition.h"
#include "platform/Device.h"
#include "platform/Format.h"
#include "platform/TextRenderer.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <limits>

namespace {

// Truncated towards zero into 32 bits; out-of-range values saturate and NaN gives 0.
std::int32_t truncatedInt32(double value) {
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

bool endsWithTTF(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".ttf";
}

} // namespace

CCLabelTTF::~CCLabelTTF() = default;

platform::Ref<CCLabelTTF> CCLabelTTF::node() {
    return makeNode<CCLabelTTF>();
}

bool CCLabelTTF::init() {
    return initWithString("", "Helvetica", 12);
}

bool CCLabelTTF::initWithString(const std::string& string, const std::string& fontName, double fontSize) {
    return initWithString(string, fontName, fontSize, CGSizeZero, kCCTextAlignmentLeft,
                          kCCVerticalTextAlignmentTop, kCCLineBreakModeWordWrap);
}

bool CCLabelTTF::initWithString(const std::string& string, const std::string& fontName, double fontSize,
                                CGSize dimensions, CCTextAlignment hAlignment) {
    return initWithString(string, fontName, fontSize, dimensions, hAlignment, kCCVerticalTextAlignmentTop,
                          kCCLineBreakModeWordWrap);
}

bool CCLabelTTF::initWithString(const std::string& string, const std::string& fontName, double fontSize,
                                CGSize dimensions, CCTextAlignment hAlignment,
                                CCVerticalTextAlignment vAlignment) {
    return initWithString(string, fontName, fontSize, dimensions, hAlignment, vAlignment,
                          kCCLineBreakModeWordWrap);
}

bool CCLabelTTF::initWithString(const std::string& string, const std::string& fontName, double fontSize,
                                CGSize dimensions, CCTextAlignment hAlignment,
                                CCLineBreakMode lineBreakMode) {
    return initWithString(string, fontName, fontSize, dimensions, hAlignment, kCCVerticalTextAlignmentTop,
                          lineBreakMode);
}

bool CCLabelTTF::initWithString(const std::string& string, const std::string& fontName, double fontSize,
                                CGSize dimensions, CCTextAlignment hAlignment,
                                CCVerticalTextAlignment vAlignment, CCLineBreakMode lineBreakMode) {
    if (!CCSprite::init()) return false;
    setShaderProgram(CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTextureColor));

    _dimensions = dimensions;
    _hAlignment = hAlignment;
    _vAlignment = vAlignment;
    _fontName = getFontName(fontName);
    _fontSize = fontSize;
    _lineBreakMode = lineBreakMode;
    setString(string);
    return true;
}

bool CCLabelTTF::initWithString(const std::string& string, const CCFontDefinition* definition) {
    if (!definition) return false;
    if (!CCSprite::init()) return false;
    setShaderProgram(CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTextureColor));
    applyFontDefinition(definition);
    setString(string);
    return true;
}

// ---- attributes ------------------------------------------------------------------------------

void CCLabelTTF::setString(const std::string& string) {
    if (string == _string) return;
    _string = string;
    updateTexture();
}

std::string CCLabelTTF::getFontName(const std::string& fontName) {
    if (!endsWithTTF(fontName)) return fontName;
    std::string path = CCFileUtils::sharedFileUtils()->fullPathForFilename(fontName);
    // A file that cannot be found or registered is still asked for by its base name.
    if (path.empty())
        path = fontName;
    else
        platform::TextRenderer::registerFontFile(path);
    return std::filesystem::path(path).stem().string();
}

void CCLabelTTF::setFontName(const std::string& fontName) {
    std::string name = getFontName(fontName);
    if (name == _fontName) return;
    _fontName = std::move(name);
    if (!_string.empty()) updateTexture();
}

void CCLabelTTF::setFontSize(float fontSize) {
    if (fontSize == _fontSize) return;
    _fontSize = fontSize;
    if (!_string.empty()) updateTexture();
}

void CCLabelTTF::setDimensions(CGSize dimensions) {
    if (dimensions.width == _dimensions.width && dimensions.height == _dimensions.height) return;
    _dimensions = dimensions;
    if (!_string.empty()) updateTexture();
}

void CCLabelTTF::setHorizontalAlignment(CCTextAlignment alignment) {
    if (alignment == _hAlignment) return;
    _hAlignment = alignment;
    if (!_string.empty()) updateTexture();
}

void CCLabelTTF::setVerticalAlignment(CCVerticalTextAlignment alignment) {
    if (alignment == _vAlignment) return;
    _vAlignment = alignment;
    if (!_string.empty()) updateTexture();
}

std::string CCLabelTTF::description() const {
    return platform::format("<%s = %p | FontSize = %.1f>", className(), static_cast<const void*>(this),
                            _fontSize);
}

// ---- rendering -------------------------------------------------------------------------------

bool CCLabelTTF::updateTexture() {
    const float scale = platform::contentScaleFactor();
    auto texture = platform::make<CCTexture2D>();
    bool made = false;
    if (!_shadowEnabled && !_strokeEnabled) {
        const float size = static_cast<float>(_fontSize * scale);
        if (_dimensions.width == 0 || _dimensions.height == 0) {
            made = texture->initWithString(_string, _fontName, size);
        } else {
            const CGSize pixels = CGSizeMake(_dimensions.width * scale, _dimensions.height * scale);
            made = texture->initWithString(_string, _fontName, size, pixels, _hAlignment, _vAlignment,
                                           _lineBreakMode);
        }
    } else {
        platform::Ref<CCFontDefinition> definition = prepareFontDefinitionAndAdjustForResolution(true);
        made = definition && texture->initWithString(_string, definition.get());
    }
    if (!made) return false;

    const bool retina = scale == 2.0f;
    if (platform::Device::current().idiom == platform::InterfaceIdiom::Pad)
        texture->setResolutionType(retina ? kCCResolutioniPadRetinaDisplay : kCCResolutioniPad);
    else
        texture->setResolutionType(retina ? kCCResolutioniPhoneRetinaDisplay : kCCResolutioniPhone);

    setTexture(texture.get());
    CGRect rect = CGRectZero;
    rect.size = texture->contentSize();
    setTextureRect(rect);
    return true;
}

// ---- shadow, stroke, fill --------------------------------------------------------------------

void CCLabelTTF::enableShadowWithOffset(CGSize shadowOffset, float shadowOpacity, float shadowBlur,
                                        bool updateImage) {
    bool changed = false;
    if (!_shadowEnabled) {
        _shadowEnabled = true;
        changed = true;
    }
    if (_shadowOffset.width != shadowOffset.width || _shadowOffset.height != shadowOffset.height) {
        _shadowOffset = shadowOffset;
        changed = true;
    }
    if (_shadowOpacity != shadowOpacity) {
        _shadowOpacity = shadowOpacity;
        changed = true;
    }
    if (_shadowBlur != shadowBlur) {
        _shadowBlur = shadowBlur;
        changed = true;
    }
    if (changed && updateImage) updateTexture();
}

void CCLabelTTF::disableShadowAndUpdateImage(bool updateImage) {
    if (!_shadowEnabled) return;
    _shadowEnabled = false;
    if (updateImage) updateTexture();
}

void CCLabelTTF::enableStrokeWithColor(_ccColor3B strokeColor, float strokeSize, bool updateImage) {
    bool changed = false;
    if (!_strokeEnabled) {
        _strokeEnabled = true;
        changed = true;
    }
    if (_strokeColor.r != strokeColor.r || _strokeColor.g != strokeColor.g ||
        _strokeColor.b != strokeColor.b) {
        _strokeColor = strokeColor;
        changed = true;
    }
    if (_strokeSize != strokeSize) {
        _strokeSize = strokeSize;
        changed = true;
    }
    if (changed && updateImage) updateTexture();
}

void CCLabelTTF::disableStrokeAndUpdateImage(bool updateImage) {
    if (!_strokeEnabled) return;
    _strokeEnabled = false;
    if (updateImage) updateTexture();
}

void CCLabelTTF::setFontFillColor(_ccColor3B fontFillColor, bool updateImage) {
    if (_textFillColor.r == fontFillColor.r && _textFillColor.g == fontFillColor.g &&
        _textFillColor.b == fontFillColor.b)
        return;
    _textFillColor = fontFillColor;
    if (updateImage) updateTexture();
}

// ---- font definitions ------------------------------------------------------------------------

platform::Ref<CCFontDefinition>
CCLabelTTF::prepareFontDefinitionAndAdjustForResolution(bool resAdjust) const {
    const double scale = resAdjust ? platform::contentScaleFactor() : 1.0;
    auto definition = platform::make<CCFontDefinition>();
    if (!definition->initWithFontName(_fontName, truncatedInt32(_fontSize * scale))) return nullptr;

    definition->setLineBreakMode(_lineBreakMode);
    definition->setAlignment(_hAlignment);
    definition->setVertAlignment(_vAlignment);
    definition->setFontFillColor(_textFillColor);

    if (_strokeEnabled) {
        definition->enableStroke(true);
        definition->setStrokeColor(_strokeColor);
        definition->setStrokeSize(resAdjust ? _strokeSize * scale : _strokeSize);
    } else {
        definition->enableStroke(false);
    }

    if (_shadowEnabled) {
        definition->enableShadow(true);
        // The blur stays as it is: it is not a length of the picture.
        definition->setShadowBlur(_shadowBlur);
        definition->setShadowOffset(
            resAdjust ? CGSizeMake(_shadowOffset.width * scale, _shadowOffset.height * scale)
                      : _shadowOffset);
    } else {
        definition->enableShadow(false);
    }
    return definition;
}

platform::Ref<CCFontDefinition> CCLabelTTF::getFontDefinition() const {
    return prepareFontDefinitionAndAdjustForResolution(false);
}

void CCLabelTTF::setFontDefinition(const CCFontDefinition* definition) {
    if (!definition) return;
    applyFontDefinition(definition);
    updateTexture();
}

void CCLabelTTF::applyFontDefinition(const CCFontDefinition* definition) {
    _dimensions = definition->dimensions();
    _hAlignment = static_cast<CCTextAlignment>(definition->alignment());
    _vAlignment = static_cast<CCVerticalTextAlignment>(definition->vertAlignment());
    _fontName = definition->fontName();
    _fontSize = definition->fontSize();
    _lineBreakMode = static_cast<CCLineBreakMode>(definition->lineBreakMode());

    // The definition carries no shadow opacity: labels made from one use half.
    if (definition->shadowEnabled())
        enableShadowWithOffset(definition->shadowOffset(), 0.5f, static_cast<float>(definition->shadowBlur()),
                               false);
    else
        disableShadowAndUpdateImage(false);

    if (definition->strokeEnabled())
        enableStrokeWithColor(definition->strokeColor(), static_cast<float>(definition->strokeSize()), false);
    else
        disableStrokeAndUpdateImage(false);

    setFontFillColor(definition->fontFillColor(), false);
}
