// System fonts and text: finding a font by name, registering font files, measuring a string
// in a box and drawing it into a grey or RGBA bitmap (FreeType glyphs, HarfBuzz shaping and
// kerning, fontconfig lookup).
#pragma once

#include "platform/Geometry.h"
#include "platform/Object.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// How lines are broken and cut. Every mode breaks at '\n'. WordWrap and CharacterWrap wrap at
// the box's width (WordWrap breaks a word only when it is wider than the box on its own).
// The other modes wrap at words too, but keep an over-wide word whole and then cut the line:
// Clip at the box's edge, the truncating modes by replacing its head, tail or middle with
// "…". When lines are dropped for want of height, the truncating modes also end the last
// line they keep with the ellipsis (tail), or show the end of its paragraph (head, middle).
enum class LineBreakMode : std::int32_t {
    WordWrap = 0,
    CharacterWrap = 1,
    Clip = 2,
    TruncateHead = 3,
    TruncateTail = 4,
    TruncateMiddle = 5,
};

enum class TextAlignment : std::int32_t { Left = 0, Center = 1, Right = 2 };
enum class VerticalTextAlignment : std::int32_t { Top = 0, Center = 1, Bottom = 2 };

// Components 0 to 1, not premultiplied.
struct TextColor {
    float r = 0, g = 0, b = 0, a = 1;
};

struct TextStyle {
    TextColor fillColor{1, 1, 1, 1};
    // Fill and stroke: the outline drawn over the fill, centred on the glyph edges.
    bool strokeEnabled = false;
    TextColor strokeColor{0, 0, 0, 1};
    double strokeWidth = 0; // pixels, the whole width of the line
    // A shadow of everything drawn. The offset goes right and up, as the platform's shadows
    // do; blur is the radius of the soft edge in pixels (a Gaussian of half that deviation).
    bool shadowEnabled = false;
    CGSize shadowOffset{0, 0};
    double shadowBlur = 0;
    TextColor shadowColor{0, 0, 0, 1.0f / 3.0f};
};

enum class TextBitmapFormat : std::int32_t {
    Gray8 = 0,             // one byte a pixel, no alpha: colours drawn as their luminance
    RGBAPremultiplied = 1, // R, G, B, A bytes, premultiplied-last
};

// A caller's bitmap, rows top-down; drawing coordinates are pixels with the origin at its
// top-left corner and y growing downwards.
struct TextBitmap {
    std::uint8_t* data = nullptr;
    std::size_t width = 0, height = 0, bytesPerRow = 0;
    TextBitmapFormat format = TextBitmapFormat::Gray8;
};

// A typeface at a pixel size (a point is a pixel here; callers scale for retina).
class Font : public Object {
public:
    struct Impl;
    explicit Font(std::unique_ptr<Impl> impl);
    ~Font() override;

    // The name asked for, and the family of the face that answered it.
    const std::string& fontName() const;
    const std::string& familyName() const;
    double pointSize() const;
    // Pixels above and below (positive) the baseline, and their sum, the distance of lines.
    double ascender() const;
    double descender() const;
    double lineHeight() const;

    std::string description() const override;
    Impl& impl() const { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

class TextRenderer {
public:
    // The font of that name at that size, or null when no font answers to the name (or the
    // size is not in (0, 4096]). A name answers when it is a family, full or PostScript name
    // fontconfig knows, a name in the alias table (Helvetica, Arial, Marker Felt, Courier,
    // Times New Roman… mapped onto DejaVu), one of fontconfig's generic families (Sans, Serif,
    // Monospace, and spellings such as sans-serif or Mono), or the base name of a file
    // registered below. A name that answers to nothing is logged once.
    static Ref<Font> fontWithName(const std::string& name, double size);
    // Makes a font file usable by this process: its family and its file name without the
    // extension then answer. False when the file is not a font fontconfig accepts.
    static bool registerFontFile(const std::string& path);

    // The size of the text laid out within a box; a zero, negative or huge width or height
    // means no limit. Whole pixels (rounded up); an empty string measures 0 x 0.
    static CGSize sizeWithFont(const std::string& text, const Font* font, CGSize constrainedTo,
                               LineBreakMode mode);
    // Draws the text in the rectangle (bitmap pixels): lines laid out as sizeWithFont does,
    // aligned across the rectangle's width. Vertically the text starts at the top, or is moved
    // down by all (bottom) or half (centre) of the height left free. Drawing goes over what
    // the bitmap holds. False when the font or bitmap is unusable (null, rows too short, a side
    // above 32768).
    static bool drawInRect(const std::string& text, const Font* font, CGRect rect, LineBreakMode mode,
                           TextAlignment alignment, const TextStyle& style, const TextBitmap& target,
                           VerticalTextAlignment verticalAlignment = VerticalTextAlignment::Top);
};

} // namespace platform
