// A node that draws tiles of a grid-cut texture (equal cells of item width x item height)
// through its own texture atlas, tinting every quad with one colour uniform. Subclasses decide
// which tiles go where by filling the atlas in updateAtlasValues.
#pragma once

#include "core/CCNodeRGBA.h"
#include "core/CCProtocols.h"
#include "core/ccTypes.h"
#include "graphics/CCTextureAtlas.h"

#include <GLES2/gl2.h>

#include <cstdint>
#include <string>

class CCTexture2D;

class CCAtlasNode : public CCNodeRGBA, public CCTextureProtocol {
public:
    // Null when the texture cannot be loaded or the atlas cannot be made.
    template <class T = CCAtlasNode>
    static platform::Ref<T> atlasWithTileFile(const std::string& tile, std::uint64_t tileWidth,
                                              std::uint64_t tileHeight, std::uint64_t itemsToRender);

    CCAtlasNode() = default;
    ~CCAtlasNode() override;

    // The base node only; the atlas is not set up. Use one of the initialisers below.
    bool init() override;
    // The texture comes from the shared texture cache. Tile sizes are in points.
    virtual bool initWithTileFile(const std::string& tile, std::uint64_t tileWidth, std::uint64_t tileHeight,
                                  std::uint64_t itemsToRender);
    // False for a null texture, a zero tile side, or an atlas that cannot hold itemsToRender.
    virtual bool initWithTexture(CCTexture2D* texture, std::uint64_t tileWidth, std::uint64_t tileHeight,
                                 std::uint64_t itemsToRender);

    // Tiles across and down the texture, from its size in points.
    void calculateMaxItems();
    // Fills the atlas quads; the base class throws "CCAtlasNode:Abstract".
    virtual void updateAtlasValues();
    void draw() override;

    // With opacity folded in, the colour as set (before the opacity was multiplied in).
    _ccColor3B color() const override;
    void setColor(_ccColor3B color) override;
    void setOpacity(std::uint8_t opacity) override;
    // A cascaded opacity folds into the colour as the node's own does, keeping the cascaded tint.
    void updateDisplayedOpacity(std::uint8_t parentOpacity) override;
    void updateDisplayedColor(_ccColor3B parentColor) override;
    bool respondsToOpacityModifyRGB() const override { return true; }
    void setOpacityModifyRGB(bool modify) override;
    bool doesOpacityModifyRGB() const override { return _opacityModifyRGB; }
    // The flag follows the texture's premultiplied alpha.
    void updateOpacityModifyRGB();
    // Textures without premultiplied alpha blend with (SRC_ALPHA, ONE_MINUS_SRC_ALPHA).
    void updateBlendFunc();

    // The atlas's texture; setting one also updates the blend pair and the opacity flag.
    void setTexture(CCTexture2D* texture) override;
    CCTexture2D* texture() const override;
    CCTextureAtlas* textureAtlas() const { return _textureAtlas.get(); }
    // Retains the atlas.
    void setTextureAtlas(CCTextureAtlas* textureAtlas) { _textureAtlas = textureAtlas; }
    _ccBlendFunc blendFunc() const override { return _blendFunc; }
    void setBlendFunc(_ccBlendFunc blendFunc) override { _blendFunc = blendFunc; }
    std::uint64_t quadsToDraw() const { return _quadsToDraw; }
    // Drawing never reaches past the atlas's capacity, whatever is set here.
    void setQuadsToDraw(std::uint64_t quadsToDraw) { _quadsToDraw = quadsToDraw; }

    std::uint64_t itemsPerRow() const { return _itemsPerRow; }
    std::uint64_t itemsPerColumn() const { return _itemsPerColumn; }
    // Points.
    std::uint64_t itemWidth() const { return _itemWidth; }
    std::uint64_t itemHeight() const { return _itemHeight; }
    // Location of the program's "u_color" uniform.
    std::int32_t uniformColor() const { return _uniformColor; }

protected:
    platform::Ref<CCTextureAtlas> _textureAtlas;
    std::uint64_t _itemsPerRow = 0;
    std::uint64_t _itemsPerColumn = 0;
    std::uint64_t _itemWidth = 0;
    std::uint64_t _itemHeight = 0;
    std::uint64_t _quadsToDraw = 0;
    _ccBlendFunc _blendFunc{GL_ONE, GL_ONE_MINUS_SRC_ALPHA};
    _ccColor3B _colorUnmodified = ccWHITE;
    // The parent colour the displayed colour was last worked from (white when none), so that a
    // new cascaded opacity can be folded in without dropping the tint.
    _ccColor3B _cascadedColor = ccWHITE;
    bool _opacityModifyRGB = false;
    std::int32_t _uniformColor = -1;
};

template <class T>
platform::Ref<T> CCAtlasNode::atlasWithTileFile(const std::string& tile, std::uint64_t tileWidth,
                                                std::uint64_t tileHeight, std::uint64_t itemsToRender) {
    auto node = platform::make<T>();
    return node->initWithTileFile(tile, tileWidth, tileHeight, itemsToRender) ? node : nullptr;
}
