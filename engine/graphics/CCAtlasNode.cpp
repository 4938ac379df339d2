#include "graphics/CCAtlasNode.h"

#include "core/CCGLProgram.h"
#include "core/CCShaderCache.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureAtlas.h"
#include "graphics/CCTextureCache.h"
#include "platform/Exception.h"
#include "platform/Log.h"

#include <algorithm>

CCAtlasNode::~CCAtlasNode() = default;

bool CCAtlasNode::init() {
    return CCNodeRGBA::init();
}

bool CCAtlasNode::initWithTileFile(const std::string& tile, std::uint64_t tileWidth, std::uint64_t tileHeight,
                                   std::uint64_t itemsToRender) {
    platform::Ref<CCTexture2D> texture = CCTextureCache::sharedTextureCache()->addImage(tile);
    return initWithTexture(texture.get(), tileWidth, tileHeight, itemsToRender);
}

bool CCAtlasNode::initWithTexture(CCTexture2D* texture, std::uint64_t tileWidth, std::uint64_t tileHeight,
                                  std::uint64_t itemsToRender) {
    if (!CCNodeRGBA::init()) return false;
    // A missing texture or an empty cell leaves nothing to cut tiles from.
    if (!texture || tileWidth == 0 || tileHeight == 0) {
        CCLOG("engine: CCAtlasNode: no texture or a tile of %lu x %lu", static_cast<unsigned long>(tileWidth),
              static_cast<unsigned long>(tileHeight));
        return false;
    }

    _itemWidth = tileWidth;
    _itemHeight = tileHeight;
    _colorUnmodified = ccWHITE;
    _opacityModifyRGB = true;
    _blendFunc = {GL_ONE, GL_ONE_MINUS_SRC_ALPHA};

    _textureAtlas = CCTextureAtlas::textureAtlasWithTexture(texture, itemsToRender);
    if (!_textureAtlas) {
        CCLOG("engine: CCAtlasNode: could not make a texture atlas for %lu items",
              static_cast<unsigned long>(itemsToRender));
        return false;
    }

    updateBlendFunc();
    updateOpacityModifyRGB();
    calculateMaxItems();

    _quadsToDraw = itemsToRender;
    setShaderProgram(CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTexture_uColor));
    CCGLProgram* program = shaderProgram();
    _uniformColor = program ? program->uniformLocationForName("u_color") : -1;
    return true;
}

void CCAtlasNode::calculateMaxItems() {
    CCTexture2D* tex = texture();
    if (!tex || _itemWidth == 0 || _itemHeight == 0) {
        _itemsPerRow = _itemsPerColumn = 0;
        return;
    }
    const CGSize size = tex->contentSize();
    // Whole tiles only; a texture narrower than one tile has none.
    auto whole = [](double length, std::uint64_t item) -> std::uint64_t {
        double n = length / static_cast<double>(item);
        return n >= 1 ? static_cast<std::uint64_t>(n) : 0;
    };
    _itemsPerColumn = whole(size.height, _itemHeight);
    _itemsPerRow = whole(size.width, _itemWidth);
}

void CCAtlasNode::updateAtlasValues() {
    throw platform::Exception("CCAtlasNode:Abstract", "updateAtlasValue not overriden");
}

void CCAtlasNode::draw() {
    CCGLProgram* program = shaderProgram();
    // Drawing never reaches past the atlas; with nothing to draw (an empty label, whose atlas
    // may have no storage at all) no GL work is done.
    const std::uint64_t n = _textureAtlas ? std::min(_quadsToDraw, _textureAtlas->capacity()) : 0;
    if (!program || n == 0) return;
    glCacheEnableServerState(_glServerState);
    program->use();
    program->setUniformsForBuiltins();
    glCacheBlendFunc(_blendFunc.src, _blendFunc.dst);

    const GLfloat colors[4] = {_displayedColor.r / 255.0f, _displayedColor.g / 255.0f,
                               _displayedColor.b / 255.0f, _displayedOpacity / 255.0f};
    program->setUniformLocationWith4fv(_uniformColor, colors, 1);

    _textureAtlas->drawNumberOfQuads(n, 0);
}

// ---- colour and opacity ----------------------------------------------------------------------

_ccColor3B CCAtlasNode::color() const {
    if (_opacityModifyRGB) return _colorUnmodified;
    return CCNodeRGBA::color();
}

void CCAtlasNode::setColor(_ccColor3B color) {
    _colorUnmodified = color;
    if (_opacityModifyRGB) color = ccFoldOpacity(color, _displayedOpacity);
    // The base drops the parent's tint here, or takes it again through updateDisplayedColor.
    _cascadedColor = ccWHITE;
    CCNodeRGBA::setColor(color);
}

void CCAtlasNode::setOpacity(std::uint8_t opacity) {
    CCNodeRGBA::setOpacity(opacity);
    // Fold the new opacity into the colour.
    if (_opacityModifyRGB) setColor(_colorUnmodified);
}

void CCAtlasNode::updateDisplayedOpacity(std::uint8_t parentOpacity) {
    CCNodeRGBA::updateDisplayedOpacity(parentOpacity);
    // Fold as setOpacity does, but keep the tint the parent gave.
    if (!_opacityModifyRGB) return;
    _realColor = ccFoldOpacity(_colorUnmodified, _displayedOpacity);
    updateDisplayedColor(_cascadedColor);
}

void CCAtlasNode::updateDisplayedColor(_ccColor3B parentColor) {
    _cascadedColor = parentColor;
    CCNodeRGBA::updateDisplayedColor(parentColor);
}

void CCAtlasNode::setOpacityModifyRGB(bool modify) {
    _ccColor3B oldColor = color();
    _opacityModifyRGB = modify;
    setColor(oldColor);
}

void CCAtlasNode::updateOpacityModifyRGB() {
    CCTexture2D* tex = texture();
    _opacityModifyRGB = tex && tex->hasPremultipliedAlpha();
}

void CCAtlasNode::updateBlendFunc() {
    CCTexture2D* tex = texture();
    if (tex && !tex->hasPremultipliedAlpha()) _blendFunc = {GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA};
}

// ---- texture ---------------------------------------------------------------------------------

void CCAtlasNode::setTexture(CCTexture2D* texture) {
    if (!_textureAtlas) return;
    _textureAtlas->setTexture(texture);
    updateBlendFunc();
    updateOpacityModifyRGB();
}

CCTexture2D* CCAtlasNode::texture() const {
    return _textureAtlas ? _textureAtlas->texture() : nullptr;
}
