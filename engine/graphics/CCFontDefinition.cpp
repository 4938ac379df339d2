#include "graphics/CCFontDefinition.h"

#include "platform/Format.h"

bool CCFontDefinition::initWithFontName(const std::string& fontName, std::int32_t fontSize) {
    _fontName = fontName;
    _fontSize = fontSize;
    return true;
}

std::string CCFontDefinition::description() const {
    return platform::format("<%s = %p | FontName = %s | FontSize = %d>", className(),
                            static_cast<const void*>(this), _fontName.empty() ? "(null)" : _fontName,
                            _fontSize);
}
