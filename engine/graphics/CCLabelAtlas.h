// A text label drawn from a character-map image: one tile per byte of the string, the tile of
// byte c being number (c - first character) of the map, counted in rows from the top-left.
//
// Character-map description files are property-list dictionaries: "textureFilename" (relative
// to the description's folder), "itemWidth" and "itemHeight" (pixels) and "firstChar".
#pragma once

#include "graphics/CCAtlasNode.h"

#include <cstdint>
#include <string>

class CCLabelAtlas : public CCAtlasNode, public CCLabelProtocol {
public:
    // Null when the map image or the description cannot be used.
    template <class T = CCLabelAtlas>
    static platform::Ref<T> labelWithString(const std::string& string, const std::string& charMapFile,
                                            std::uint64_t itemWidth, std::uint64_t itemHeight,
                                            std::uint64_t startCharMap);
    template <class T = CCLabelAtlas>
    static platform::Ref<T> labelWithString(const std::string& string, const std::string& fntFile);

    CCLabelAtlas() = default;
    ~CCLabelAtlas() override;

    // From a description file (found through the file utilities); false when it cannot be read,
    // is not a dictionary, or names no usable texture or item size. Item sizes are divided by
    // the content scale factor.
    virtual bool initWithString(const std::string& string, const std::string& fntFile);
    // Item sizes in points; the map image comes from the shared texture cache.
    virtual bool initWithString(const std::string& string, const std::string& charMapFile,
                                std::uint64_t itemWidth, std::uint64_t itemHeight,
                                std::uint64_t startCharMap);
    virtual bool initWithString(const std::string& string, CCTexture2D* texture, std::uint64_t itemWidth,
                                std::uint64_t itemHeight, std::uint64_t startCharMap);

    // Writes one quad per character of the string into the atlas.
    void updateAtlasValues() override;
    // An equal string changes nothing; a longer one grows the atlas to its length.
    void setString(const std::string& string) override;
    std::string string() const override { return _string; }

    std::uint64_t mapStartChar() const { return _mapStartChar; }

protected:
    std::string _string;
    std::uint64_t _mapStartChar = 0;
};

template <class T>
platform::Ref<T> CCLabelAtlas::labelWithString(const std::string& string, const std::string& charMapFile,
                                               std::uint64_t itemWidth, std::uint64_t itemHeight,
                                               std::uint64_t startCharMap) {
    auto label = platform::make<T>();
    return label->initWithString(string, charMapFile, itemWidth, itemHeight, startCharMap) ? label : nullptr;
}

template <class T>
platform::Ref<T> CCLabelAtlas::labelWithString(const std::string& string, const std::string& fntFile) {
    auto label = platform::make<T>();
    return label->initWithString(string, fntFile) ? label : nullptr;
}
