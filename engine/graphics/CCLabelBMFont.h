// Bitmap-font text: a font's glyph table read from its text .fnt file (CCBMFontConfiguration),
// shared through a process-wide cache, and the label that lays a string out as one sprite per
// glyph in a batch on the font's atlas texture (CCLabelBMFont).
//
// Characters are UTF-16 code units, as the font files number them: a label counts and indexes
// its string in code units, and each unit that has a glyph becomes the child sprite whose tag
// and z order are its index. A line ends at LF, VT, FF, CR, U+0085, U+2028 or U+2029 (CR LF is
// one break); these draw nothing, and kerning applies only between neighbours on one line.
#pragma once

#include "core/CCProtocols.h"
#include "graphics/CCSpriteBatchNode.h"
#include "graphics/CCTexture2D.h"
#include "platform/Geometry.h"
#include "platform/Object.h"

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CCSprite;

// One glyph, in pixels of the atlas.
struct _BMFontDef {
    std::uint16_t charID = 0; // UTF-16 code unit
    CGRect rect = CGRectZero; // in the atlas, origin at its top-left corner
    std::int16_t xOffset = 0; // from the pen to the glyph image; y runs down from the line top
    std::int16_t yOffset = 0;
    std::int16_t xAdvance = 0; // how far the pen moves on
};

struct _BMFontPadding {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// Table entries, allocated one by one with the C allocator and owned by the configuration.
struct _FontDefHashElement;
struct _KerningHashElement;

class CCBMFontConfiguration : public platform::Object {
public:
    // Every code unit that has a glyph line.
    using CharacterSet = std::bitset<0x10000>;

    // Null when the file cannot be read.
    static platform::Ref<CCBMFontConfiguration> configurationWithFNTFile(const std::string& fntFile);

    CCBMFontConfiguration();
    ~CCBMFontConfiguration() override;

    // Reads the file; false (with a log line) when it cannot be found or is not UTF-8 text.
    virtual bool initWithFNTfile(const std::string& fntFile);
    // "<CCBMFontConfiguration = 0x... | Glphys:n Kernings:n | Image = atlas>".
    std::string description() const override;

    void purgeFontDefDictionary();
    void purgeKerningDictionary();

    // The parser. parseConfigFile answers the defined characters, one per glyph line in file
    // order, or nothing when the file cannot be read. The line parsers read values by their
    // place in the line (keys in the format's standard order), not by key name.
    std::optional<std::u16string> parseConfigFile(const std::string& fntFile);
    // The quoted file name of a page line, next to the .fnt file, becomes the atlas name.
    void parseImageFileName(std::string_view line, const std::string& fntFile);
    // The padding of an info line; the file parser does not call it.
    void parseInfoArguments(std::string_view line);
    void parseCommonArguments(std::string_view line);
    // False when the line's character code is outside 0...0xFFFF: no glyph can be keyed by it.
    bool parseCharacterDefinition(std::string_view line, _BMFontDef* charDef);
    void parseKerningEntry(std::string_view line);

    const CharacterSet& characterSet() const { return _characterSet; }
    bool characterIsMember(char16_t c) const { return _characterSet.test(c); }
    // Empty when the file had no page line.
    const std::string& atlasName() const { return _atlasName; }
    void setAtlasName(const std::string& atlasName) { _atlasName = atlasName; }
    // Pixels, never negative.
    std::int64_t commonHeight() const { return _commonHeight; }
    _BMFontPadding padding() const { return _padding; }

    // The glyph of a code unit, null when the font has none. Owned by the configuration.
    const _BMFontDef* fontDefForCharacter(std::uint16_t c) const;
    // Pixels, within 16 bits as the file reads them; 0 when the pair is not kerned.
    std::int32_t kerningAmountForPair(std::uint16_t first, std::uint16_t second) const;
    std::uint64_t glyphCount() const;
    std::uint64_t kerningCount() const;

private:
    CharacterSet _characterSet;
    std::string _atlasName;
    _FontDefHashElement* _fontDefDictionary = nullptr;
    std::int64_t _commonHeight = 0; // pixels
    _BMFontPadding _padding;
    _KerningHashElement* _kerningDictionary = nullptr;
};

// The cached configuration of the file, parsed on the first request for this exact name; null
// when it cannot be read (nothing is cached then). The cache owns the result.
CCBMFontConfiguration* fntConfigLoadFile(const std::string& fntFile);

class CCLabelBMFont : public CCSpriteBatchNode, public CCLabelProtocol, public CCRGBAProtocol {
public:
    // Empties the configuration cache; labels keep the configurations they hold.
    static void purgeCachedData();
    static platform::Ref<CCLabelBMFont> labelWithString(const std::string& string,
                                                        const std::string& fntFile);
    // Width in points; 0 or less does not wrap.
    static platform::Ref<CCLabelBMFont> labelWithString(const std::string& string, const std::string& fntFile,
                                                        float width, CCTextAlignment alignment);
    // The offset (points) moves every glyph's rectangle in the atlas.
    static platform::Ref<CCLabelBMFont> labelWithString(const std::string& string, const std::string& fntFile,
                                                        float width, CCTextAlignment alignment,
                                                        CGPoint imageOffset);
    static platform::Ref<CCLabelBMFont> node();

    CCLabelBMFont();
    ~CCLabelBMFont() override;

    // No string and no font: an empty texture.
    bool init() override;
    virtual bool initWithString(const std::string& string, const std::string& fntFile);
    virtual bool initWithString(const std::string& string, const std::string& fntFile, float width,
                                CCTextAlignment alignment);
    // The designated initialiser. False when the font file cannot be read or its atlas image
    // cannot be loaded.
    virtual bool initWithString(const std::string& string, const std::string& fntFile, float width,
                                CCTextAlignment alignment, CGPoint imageOffset);

    // Wraps the caller's string at the width, between words (a blank or tab ends one, and a
    // character without a glyph takes no room), then shifts each line, measured to its last
    // glyph, for the alignment.
    virtual void updateLabel();
    std::int32_t kerningAmountForFirst(std::uint16_t first, std::uint16_t second) const;
    // Places a sprite for every character of the shown string that has a glyph.
    virtual void createFontChars();

    // UTF-8; the shown string, with the line feeds wrapping inserted.
    std::string string() const override;
    void setCString(const char* string);
    void setString(const std::string& string) override;
    // With update, the caller's string, wrapped and aligned; without, the string shown as is.
    // A string needing more glyphs than the batch can hold is refused whole (logged): the label
    // keeps its old string.
    void setString(const std::string& string, bool update);

    _ccColor3B color() const override { return _realColor; }
    _ccColor3B displayedColor() const override { return _displayedColor; }
    void setColor(_ccColor3B color) override;
    std::uint8_t opacity() const override { return _realOpacity; }
    std::uint8_t displayedOpacity() const override { return _displayedOpacity; }
    void setOpacity(std::uint8_t opacity) override;
    bool respondsToOpacityModifyRGB() const override { return true; }
    // Passed on to every glyph sprite.
    void setOpacityModifyRGB(bool modify) override;
    bool doesOpacityModifyRGB() const override { return _opacityModifyRGB; }
    // Every child gets the label's displayed value, whatever the cascade switches say.
    void updateDisplayedOpacity(std::uint8_t parentOpacity) override;
    void updateDisplayedColor(_ccColor3B parentColor) override;

    // A new anchor lays the glyphs out again (without the alignment shift).
    void setAnchorPoint(CGPoint anchorPoint) override;
    void setWidth(float width);
    void setAlignment(CCTextAlignment alignment);
    // Another font for the same string; a file that cannot be read, or whose atlas cannot be
    // loaded, leaves the label as it was.
    void setFntFile(const std::string& fntFile);
    const std::string& fntFile() const { return _fntFile; }
    CCTextAlignment alignment() const { return _alignment; }
    float width() const { return _width; }
    CGPoint imageOffset() const { return _imageOffset; }
    CCBMFontConfiguration* configuration() const { return _configuration.get(); }

    bool isCascadeColorEnabled() const override { return _cascadeColorEnabled; }
    void setCascadeColorEnabled(bool enabled) override { _cascadeColorEnabled = enabled; }
    bool isCascadeOpacityEnabled() const override { return _cascadeOpacityEnabled; }
    void setCascadeOpacityEnabled(bool enabled) override { _cascadeOpacityEnabled = enabled; }

protected:
    void setStringUTF16(const std::u16string& string, bool update);
    // setStringUTF16 without the refusal check, which only the outermost call makes.
    void layOutString(const std::u16string& string, bool update);
    // Glyph sprites by tag for tags 0...limit-1 (the first child with each tag), null where
    // there is none.
    std::vector<CCSprite*> spritesByTag(std::uint64_t limit) const;

    std::u16string _string;
    std::string _fntFile;
    std::u16string _initialString;
    float _width = -1; // points
    CCTextAlignment _alignment = kCCTextAlignmentLeft;
    platform::Ref<CCBMFontConfiguration> _configuration;
    std::uint8_t _displayedOpacity = 255, _realOpacity = 255;
    _ccColor3B _displayedColor = ccWHITE, _realColor = ccWHITE;
    bool _cascadeOpacityEnabled = true, _cascadeColorEnabled = true;
    bool _opacityModifyRGB = false;
    CGPoint _imageOffset = CGPointZero;  // points
    platform::Ref<CCSprite> _reusedChar; // a spare glyph sprite; the layout does not use it
    // Set by createFontChars when the batch refused a glyph sprite.
    bool _glyphRefused = false;
    bool _settingString = false;
};
