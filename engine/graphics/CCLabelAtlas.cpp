#include "graphics/CCLabelAtlas.h"

#include "core/CCFileUtils.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureAtlas.h"
#include "graphics/CCTextureCache.h"
#include "platform/Device.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/Utf16.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

namespace {

// An item side from a description: a positive whole number of pixels, in points.
bool itemSideInPoints(const platform::PlistValue& value, std::uint64_t* points) {
    if (!value.isNumber() && !value.isString()) return false;
    const std::int64_t pixels = value.integerValue();
    if (pixels <= 0) return false;
    const double side = static_cast<double>(pixels) / platform::contentScaleFactor();
    if (!(side >= 1) || side > static_cast<double>(std::numeric_limits<std::uint32_t>::max())) return false;
    *points = static_cast<std::uint64_t>(side);
    return true;
}

} // namespace

CCLabelAtlas::~CCLabelAtlas() = default;

bool CCLabelAtlas::initWithString(const std::string& string, const std::string& fntFile) {
    const std::string path = CCFileUtils::sharedFileUtils()->fullPathForFilename(fntFile);
    if (path.empty()) {
        CCLOG("engine: CCLabelAtlas: character map %s not found", fntFile);
        return false;
    }
    const platform::PlistValue dict = platform::dictionaryWithContentsOfFile(path);
    if (!dict.isDictionary()) {
        CCLOG("engine: CCLabelAtlas: %s is not a character-map dictionary", path);
        return false;
    }

    const platform::PlistValue& textureName = dict["textureFilename"];
    if (!textureName.isString() || textureName.stringValue().empty()) {
        CCLOG("engine: CCLabelAtlas: %s names no texture", path);
        return false;
    }
    std::uint64_t width = 0, height = 0;
    if (!itemSideInPoints(dict["itemWidth"], &width) || !itemSideInPoints(dict["itemHeight"], &height)) {
        CCLOG("engine: CCLabelAtlas: %s has no usable item size", path);
        return false;
    }
    const platform::PlistValue& first = dict["firstChar"];
    const auto startChar = static_cast<std::uint64_t>(first.integerValue());

    const std::string texturePath =
        (std::filesystem::path(path).parent_path() / textureName.stringValue()).string();
    return initWithString(string, texturePath, width, height, startChar);
}

bool CCLabelAtlas::initWithString(const std::string& string, const std::string& charMapFile,
                                  std::uint64_t itemWidth, std::uint64_t itemHeight,
                                  std::uint64_t startCharMap) {
    platform::Ref<CCTexture2D> texture = CCTextureCache::sharedTextureCache()->addImage(charMapFile);
    return initWithString(string, texture.get(), itemWidth, itemHeight, startCharMap);
}

bool CCLabelAtlas::initWithString(const std::string& string, CCTexture2D* texture, std::uint64_t itemWidth,
                                  std::uint64_t itemHeight, std::uint64_t startCharMap) {
    if (!CCAtlasNode::initWithTexture(texture, itemWidth, itemHeight, platform::utf16Length(string)))
        return false;
    _mapStartChar = startCharMap;
    setString(string);
    return true;
}

void CCLabelAtlas::updateAtlasValues() {
    CCTexture2D* tex = texture();
    if (!_textureAtlas || !tex) return;
    // setString keeps the string within the capacity; the bound guards the quads all the same.
    const std::uint64_t n = std::min(platform::utf16Length(_string), _textureAtlas->capacity());
    const auto* s = reinterpret_cast<const unsigned char*>(_string.data());

    const float textureWide = static_cast<float>(tex->pixelsWide());
    const float textureHigh = static_cast<float>(tex->pixelsHigh());
    const float scale = platform::contentScaleFactor();
    const float itemWidthInPixels = static_cast<float>(_itemWidth) * scale;
    const float itemHeightInPixels = static_cast<float>(_itemHeight) * scale;
    // A texture narrower than one tile still addresses tiles, one to a row.
    const std::uint64_t perRow = std::max<std::uint64_t>(_itemsPerRow, 1);
    const _ccColor4B color{_displayedColor.r, _displayedColor.g, _displayedColor.b, _displayedOpacity};

    for (std::uint64_t i = 0; i < n; ++i) {
        const auto a = static_cast<unsigned char>(s[i] - _mapStartChar);
        const std::uint64_t row = a / perRow;
        const std::uint64_t col = a % perRow;

        const float left = static_cast<float>(col) * itemWidthInPixels / textureWide;
        const float right = left + itemWidthInPixels / textureWide;
        const float top = static_cast<float>(row) * itemHeightInPixels / textureHigh;
        const float bottom = top + itemHeightInPixels / textureHigh;

        _ccV3F_C4B_T2F_Quad quad{};
        quad.tl.texCoords = {left, top};
        quad.tr.texCoords = {right, top};
        quad.bl.texCoords = {left, bottom};
        quad.br.texCoords = {right, bottom};

        const float x0 = static_cast<float>(i * _itemWidth);
        const float x1 = static_cast<float>((i + 1) * _itemWidth);
        const float y1 = static_cast<float>(_itemHeight);
        quad.bl.vertices = {x0, 0, 0};
        quad.br.vertices = {x1, 0, 0};
        quad.tl.vertices = {x0, y1, 0};
        quad.tr.vertices = {x1, y1, 0};

        quad.tl.colors = quad.tr.colors = quad.bl.colors = quad.br.colors = color;
        _textureAtlas->updateQuad(&quad, i);
    }
}

void CCLabelAtlas::setString(const std::string& string) {
    if (string == _string) return;
    const std::uint64_t len = platform::utf16Length(string);
    if (_textureAtlas && len > _textureAtlas->capacity()) {
        const std::uint64_t capacity = _textureAtlas->capacity();
        if (!_textureAtlas->resizeCapacity(len)) {
            // What the label reports is what it draws: keep the old string whole.
            CCLOG("engine: CCLabelAtlas: no room for a string of %lu characters; the label keeps its old "
                  "string",
                  len);
            // A resize that ran out of memory empties the atlas; give the old string its quads back.
            if (_textureAtlas->capacity() < capacity) {
                if (_textureAtlas->resizeCapacity(capacity)) {
                    updateAtlasValues();
                } else {
                    _string.clear();
                    _quadsToDraw = 0;
                    setContentSize(CGSizeMake(0, static_cast<double>(_itemHeight)));
                }
            }
            return;
        }
    }

    _string = string;
    updateAtlasValues();

    setContentSize(CGSizeMake(static_cast<double>(len * _itemWidth), static_cast<double>(_itemHeight)));
    _quadsToDraw = len;
}
