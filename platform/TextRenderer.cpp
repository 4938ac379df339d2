#include "platform/TextRenderer.h"

#include "platform/Format.h"
#include "platform/Log.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_STROKER_H
#include <hb-ft.h>
#include <hb.h>

namespace platform {

namespace {

// FreeType's library object and fontconfig's configuration are shared by every font, and a
// face is not safe to use from two threads: one lock covers all text work.
std::recursive_mutex& textMutex() {
    static std::recursive_mutex m;
    return m;
}

FT_Library library() {
    static FT_Library lib = [] {
        FT_Library l = nullptr;
        if (FT_Init_FreeType(&l) != 0) l = nullptr;
        return l;
    }();
    return lib;
}

std::string lowercase(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Names of the original platform's common fonts and the DejaVu faces that stand in for them.
struct Alias {
    const char* name;
    const char* family;
    bool bold;
    bool italic;
};
constexpr Alias kAliases[] = {
    {"Helvetica", "DejaVu Sans", false, false},
    {"Helvetica-Bold", "DejaVu Sans", true, false},
    {"Helvetica-Oblique", "DejaVu Sans", false, true},
    {"Helvetica-BoldOblique", "DejaVu Sans", true, true},
    {"Helvetica Neue", "DejaVu Sans", false, false},
    {"HelveticaNeue", "DejaVu Sans", false, false},
    {"HelveticaNeue-Bold", "DejaVu Sans", true, false},
    {"Arial", "DejaVu Sans", false, false},
    {"ArialMT", "DejaVu Sans", false, false},
    {"Arial-BoldMT", "DejaVu Sans", true, false},
    {"Arial Rounded MT Bold", "DejaVu Sans", true, false},
    {"Verdana", "DejaVu Sans", false, false},
    {"Verdana-Bold", "DejaVu Sans", true, false},
    {"Trebuchet MS", "DejaVu Sans", false, false},
    {"Marker Felt", "DejaVu Sans", false, false},
    {"MarkerFelt-Thin", "DejaVu Sans", false, false},
    {"MarkerFelt-Wide", "DejaVu Sans", true, false},
    {"Chalkduster", "DejaVu Sans", false, false},
    {"Courier", "DejaVu Sans Mono", false, false},
    {"Courier-Bold", "DejaVu Sans Mono", true, false},
    {"Courier New", "DejaVu Sans Mono", false, false},
    {"CourierNewPSMT", "DejaVu Sans Mono", false, false},
    {"Times New Roman", "DejaVu Serif", false, false},
    {"TimesNewRomanPSMT", "DejaVu Serif", false, false},
    {"TimesNewRomanPS-BoldMT", "DejaVu Serif", true, false},
    {"Times", "DejaVu Serif", false, false},
    {"Times-Roman", "DejaVu Serif", false, false},
    {"Times-Bold", "DejaVu Serif", true, false},
    {"Georgia", "DejaVu Serif", false, false},
    {"Georgia-Bold", "DejaVu Serif", true, false},
};

// fontconfig's generic families and their usual spellings; each answers with whatever font the
// system's configuration picks for it.
struct Generic {
    const char* name;
    const char* family;
};
constexpr Generic kGenerics[] = {
    {"sans", "sans-serif"},      {"sans-serif", "sans-serif"}, {"sans serif", "sans-serif"},
    {"sansserif", "sans-serif"}, {"serif", "serif"},           {"monospace", "monospace"},
    {"mono", "monospace"},       {"monospaced", "monospace"},
};

struct FontLocation {
    std::string file;
    int index = 0;
    std::string family;
};

// Base names of registered files, and the results of earlier look-ups.
std::map<std::string, FontLocation>& registeredFiles() {
    static std::map<std::string, FontLocation> files;
    return files;
}
std::map<std::string, std::optional<FontLocation>>& lookupCache() {
    static std::map<std::string, std::optional<FontLocation>> cache;
    return cache;
}

std::optional<FontLocation> locationOf(FcPattern* font) {
    FcChar8* file = nullptr;
    int index = 0;
    FcChar8* family = nullptr;
    if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) return std::nullopt;
    FcPatternGetInteger(font, FC_INDEX, 0, &index);
    FcPatternGetString(font, FC_FAMILY, 0, &family);
    return FontLocation{reinterpret_cast<const char*>(file), index,
                        family ? reinterpret_cast<const char*>(family) : ""};
}

bool hasString(FcPattern* font, const char* object, const std::string& lowerName) {
    FcChar8* value = nullptr;
    for (int i = 0; FcPatternGetString(font, object, i, &value) == FcResultMatch; ++i)
        if (lowercase(reinterpret_cast<const char*>(value)) == lowerName) return true;
    return false;
}

// fontconfig always answers with its best match; the match counts only when it carries the
// family asked for.
// A generic family (`exact` false) takes the match as it comes.
std::optional<FontLocation> matchFamily(const std::string& family, bool bold, bool italic,
                                        bool exact = true) {
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return std::nullopt;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_OBLIQUE : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    std::optional<FontLocation> location;
    if (match && (!exact || hasString(match, FC_FAMILY, lowercase(family)))) location = locationOf(match);
    if (match) FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    return location;
}

// A font whose PostScript or full name is exactly the name.
std::optional<FontLocation> listByName(const char* object, const std::string& name) {
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* objects = FcObjectSetBuild(FC_FILE, FC_INDEX, FC_FAMILY, static_cast<char*>(nullptr));
    std::optional<FontLocation> location;
    if (pattern && objects) {
        FcPatternAddString(pattern, object, reinterpret_cast<const FcChar8*>(name.c_str()));
        FcFontSet* set = FcFontList(nullptr, pattern, objects);
        if (set && set->nfont > 0) location = locationOf(set->fonts[0]);
        if (set) FcFontSetDestroy(set);
    }
    if (objects) FcObjectSetDestroy(objects);
    if (pattern) FcPatternDestroy(pattern);
    return location;
}

// Misses are cached too, so an unknown name is looked up and logged once (until a font file is
// registered), not on every string drawn with it.
std::optional<FontLocation> locate(const std::string& name) {
    auto& cache = lookupCache();
    if (auto it = cache.find(name); it != cache.end()) return it->second;
    std::optional<FontLocation> location;
    std::string lower = lowercase(name);
    for (const auto& [base, file] : registeredFiles())
        if (lowercase(base) == lower) location = file;
    if (!location) {
        for (const Alias& alias : kAliases) {
            if (lowercase(alias.name) == lower) {
                location = matchFamily(alias.family, alias.bold, alias.italic);
                break;
            }
        }
    }
    if (!location) {
        for (const Generic& generic : kGenerics) {
            if (generic.name == lower) {
                location = matchFamily(generic.family, false, false, false);
                break;
            }
        }
    }
    if (!name.empty()) {
        if (!location) location = matchFamily(name, false, false);
        if (!location) location = listByName(FC_POSTSCRIPT_NAME, name);
        if (!location) location = listByName(FC_FULLNAME, name);
    }
    if (!location) CCLOG("TextRenderer: no font named \"%s\"", name);
    cache[name] = location;
    return location;
}

// 26.6 fixed point helpers.
inline double fromFixed(std::int64_t v) {
    return double(v) / 64.0;
}

struct Glyph {
    std::uint32_t index = 0;
    std::int32_t xAdvance = 0, xOffset = 0, yOffset = 0;
};

// A cluster of glyphs that stays together (a character with its marks, a ligature).
struct Unit {
    std::size_t glyphBegin = 0, glyphEnd = 0;
    std::int64_t advance = 0;
    bool space = false;
};

struct Paragraph {
    std::vector<Glyph> glyphs;
    std::vector<Unit> units;
};

struct Line {
    std::vector<Glyph> glyphs;
    std::int64_t width = 0; // 26.6, trailing spaces left out
};

} // namespace

struct Font::Impl {
    std::string name, family, file;
    double size = 0;
    FT_Face face = nullptr;
    hb_font_t* hbFont = nullptr;
    double ascender = 0, descender = 0, lineHeight = 0;
    std::vector<Glyph> ellipsis;
    std::int64_t ellipsisWidth = 0;

    ~Impl() {
        std::lock_guard lock(textMutex());
        if (hbFont) hb_font_destroy(hbFont);
        if (face) FT_Done_Face(face);
    }

    Paragraph shape(const char* text, std::size_t length) const {
        Paragraph p;
        hb_buffer_t* buffer = hb_buffer_create();
        // Invalid UTF-8 becomes U+FFFD inside HarfBuzz.
        hb_buffer_add_utf8(buffer, text, int(length), 0, int(length));
        hb_buffer_guess_segment_properties(buffer);
        hb_buffer_set_direction(buffer, HB_DIRECTION_LTR);
        hb_shape(hbFont, buffer, nullptr, 0);
        unsigned count = 0;
        hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
        hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
        p.glyphs.reserve(count);
        for (unsigned i = 0; i < count; ++i) {
            p.glyphs.push_back(
                {infos[i].codepoint, positions[i].x_advance, positions[i].x_offset, positions[i].y_offset});
            std::uint32_t cluster = infos[i].cluster;
            if (i == 0 || cluster != infos[i - 1].cluster) {
                char c = cluster < length ? text[cluster] : 0;
                p.units.push_back({i, i, 0, c == ' ' || c == '\t'});
            }
            p.units.back().glyphEnd = i + 1;
            p.units.back().advance += positions[i].x_advance;
        }
        hb_buffer_destroy(buffer);
        return p;
    }
};

Font::Font(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Font::~Font() = default;
const std::string& Font::fontName() const {
    return impl_->name;
}
const std::string& Font::familyName() const {
    return impl_->family;
}
double Font::pointSize() const {
    return impl_->size;
}
double Font::ascender() const {
    return impl_->ascender;
}
double Font::descender() const {
    return impl_->descender;
}
double Font::lineHeight() const {
    return impl_->lineHeight;
}

std::string Font::description() const {
    return format("<%s = %p | %s (%s) %.1f>", className(), static_cast<const void*>(this), impl_->name,
                  impl_->family, impl_->size);
}

Ref<Font> TextRenderer::fontWithName(const std::string& name, double size) {
    if (!(size > 0 && size <= 4096)) return nullptr;
    std::lock_guard lock(textMutex());
    if (!library()) return nullptr;
    std::optional<FontLocation> location = locate(name);
    if (!location) return nullptr;

    auto impl = std::make_unique<Font::Impl>();
    impl->name = name;
    impl->family = location->family;
    impl->file = location->file;
    impl->size = size;
    if (FT_New_Face(library(), location->file.c_str(), location->index, &impl->face) != 0) {
        impl->face = nullptr;
        CCLOG("TextRenderer: cannot open font file %s", location->file);
        return nullptr;
    }
    if (!FT_IS_SCALABLE(impl->face) ||
        FT_Set_Char_Size(impl->face, 0, FT_F26Dot6(std::lround(size * 64)), 72, 72) != 0) {
        CCLOG("TextRenderer: %s cannot be sized", location->file);
        return nullptr;
    }
    impl->hbFont = hb_ft_font_create_referenced(impl->face);
    hb_ft_font_set_load_flags(impl->hbFont, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP);
    const FT_Size_Metrics& m = impl->face->size->metrics;
    impl->ascender = fromFixed(m.ascender);
    impl->descender = -fromFixed(m.descender);
    impl->lineHeight = impl->ascender + impl->descender;
    static const char kEllipsis[] = "\xE2\x80\xA6";
    Paragraph e = impl->shape(kEllipsis, 3);
    impl->ellipsis = e.glyphs;
    for (const Glyph& g : e.glyphs)
        impl->ellipsisWidth += g.xAdvance;
    return make<Font>(std::move(impl));
}

bool TextRenderer::registerFontFile(const std::string& path) {
    std::lock_guard lock(textMutex());
    if (!library()) return false;
    // Read the family from the file itself; fontconfig takes files it cannot use silently.
    FT_Face face = nullptr;
    if (FT_New_Face(library(), path.c_str(), 0, &face) != 0) return false;
    std::string family = face->family_name ? face->family_name : "";
    FT_Done_Face(face);
    if (!FcConfigAppFontAddFile(nullptr, reinterpret_cast<const FcChar8*>(path.c_str()))) return false;
    std::filesystem::path p(path);
    registeredFiles()[p.stem().string()] = FontLocation{path, 0, family};
    lookupCache().clear();
    return true;
}

namespace {

constexpr std::int64_t kUnlimited = std::numeric_limits<std::int64_t>::max() / 4;
constexpr std::size_t kMaxBitmapSide = 32768;

// A box side in 26.6; zero, negative, NaN and huge sides are no limit.
std::int64_t limitOf(double side) {
    if (!(side > 0) || side >= 1e9) return kUnlimited;
    return std::int64_t(std::floor(side * 64));
}

void appendUnits(Line& line, const Paragraph& p, std::size_t from, std::size_t to) {
    for (std::size_t u = from; u < to; ++u)
        line.glyphs.insert(line.glyphs.end(), p.glyphs.begin() + std::ptrdiff_t(p.units[u].glyphBegin),
                           p.glyphs.begin() + std::ptrdiff_t(p.units[u].glyphEnd));
}

// Width of units [from, to) without trailing spaces.
std::int64_t contentWidth(const Paragraph& p, std::size_t from, std::size_t to) {
    while (to > from && p.units[to - 1].space)
        --to;
    std::int64_t w = 0;
    for (std::size_t u = from; u < to; ++u)
        w += p.units[u].advance;
    return w;
}

struct LineRange {
    std::size_t paragraph, from, to;
};

// Greedy line breaking of one paragraph.
void breakParagraph(const Paragraph& p, std::size_t index, std::int64_t width, LineBreakMode mode,
                    std::vector<LineRange>& out) {
    const std::size_t n = p.units.size();
    if (n == 0) {
        out.push_back({index, 0, 0});
        return;
    }
    std::size_t i = 0;
    while (i < n) {
        std::size_t start = i;
        std::int64_t used = 0, pending = 0; // pending: spaces not yet followed by anything
        if (mode == LineBreakMode::CharacterWrap) {
            while (i < n) {
                const Unit& u = p.units[i];
                if (u.space) {
                    pending += u.advance;
                    ++i;
                    continue;
                }
                if (i > start && used + pending + u.advance > width) break;
                used += pending + u.advance;
                pending = 0;
                ++i;
            }
        } else {
            while (i < n) {
                std::size_t j = i;
                std::int64_t word = 0, spaces = 0;
                while (j < n && !p.units[j].space)
                    word += p.units[j++].advance;
                std::size_t k = j;
                while (k < n && p.units[k].space)
                    spaces += p.units[k++].advance;
                if (i > start && used + pending + word > width) break;
                if (i == start && used + pending + word > width && mode == LineBreakMode::WordWrap) {
                    // A word wider than the box on its own is broken between characters.
                    while (i < j && (i == start || used + pending + p.units[i].advance <= width)) {
                        used += pending + p.units[i].advance;
                        pending = 0;
                        ++i;
                    }
                    if (i < j) break;
                    pending = spaces;
                    i = k;
                    continue;
                }
                used += pending + word;
                pending = spaces;
                i = k;
            }
        }
        out.push_back({index, start, i});
    }
}

// The units [from, to) cut to fit the width with an ellipsis at the head, tail or middle.
Line truncate(const Font::Impl& font, const Paragraph& p, std::size_t from, std::size_t to,
              std::int64_t width, LineBreakMode mode) {
    std::int64_t available = width - font.ellipsisWidth;
    Line line;
    auto addEllipsis = [&] {
        line.glyphs.insert(line.glyphs.end(), font.ellipsis.begin(), font.ellipsis.end());
    };
    if (available < 0) {
        addEllipsis();
        line.width = font.ellipsisWidth;
        return line;
    }
    std::size_t front = from, back = to; // keep [from, front) and [back, to)
    std::int64_t used = 0;
    if (mode == LineBreakMode::TruncateTail) {
        while (front < to && used + p.units[front].advance <= available)
            used += p.units[front++].advance;
    } else if (mode == LineBreakMode::TruncateHead) {
        while (back > from && used + p.units[back - 1].advance <= available)
            used += p.units[--back].advance;
    } else {
        bool takeFront = true, frontFull = false, backFull = false;
        while (front < back && !(frontFull && backFull)) {
            if (takeFront && !frontFull) {
                if (used + p.units[front].advance <= available)
                    used += p.units[front++].advance;
                else
                    frontFull = true;
            } else if (!backFull) {
                if (used + p.units[back - 1].advance <= available)
                    used += p.units[--back].advance;
                else
                    backFull = true;
            }
            takeFront = !takeFront;
        }
    }
    // Spaces next to the ellipsis are dropped.
    while (front > from && p.units[front - 1].space)
        --front;
    while (back < to && p.units[back].space)
        ++back;
    appendUnits(line, p, from, front);
    addEllipsis();
    appendUnits(line, p, back, to);
    line.width = 0;
    for (const Glyph& g : line.glyphs)
        line.width += g.xAdvance;
    return line;
}

struct Layout {
    std::vector<Line> lines;
    std::int64_t width = 0; // widest line, 26.6
    double height = 0;      // pixels
};

Layout layOut(const std::string& text, const Font::Impl& font, CGSize box, LineBreakMode mode) {
    Layout layout;
    if (text.empty()) return layout;
    std::int64_t width = limitOf(box.width);
    std::size_t maxLines = std::numeric_limits<std::size_t>::max();
    if (limitOf(box.height) != kUnlimited && font.lineHeight > 0)
        maxLines = std::max<std::size_t>(1, std::size_t(std::floor(box.height / font.lineHeight)));

    std::vector<Paragraph> paragraphs;
    std::vector<LineRange> ranges;
    std::size_t start = 0;
    while (true) {
        std::size_t end = text.find('\n', start);
        std::size_t stop = end == std::string::npos ? text.size() : end;
        paragraphs.push_back(font.shape(text.data() + start, stop - start));
        breakParagraph(paragraphs.back(), paragraphs.size() - 1, width, mode, ranges);
        // Lines far below the box are not needed.
        if (end == std::string::npos || ranges.size() > maxLines) break;
        start = end + 1;
    }
    bool dropped = ranges.size() > maxLines;
    if (dropped) ranges.resize(maxLines);

    bool truncating = mode == LineBreakMode::TruncateHead || mode == LineBreakMode::TruncateTail ||
                      mode == LineBreakMode::TruncateMiddle;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const LineRange& r = ranges[i];
        const Paragraph& p = paragraphs[r.paragraph];
        Line line;
        bool last = i + 1 == ranges.size();
        if (truncating && last && dropped) {
            // The last line stands for the rest of its paragraph and the text after it.
            std::size_t to = p.units.size();
            line = truncate(font, p, r.from, to, width, mode);
        } else if (truncating && contentWidth(p, r.from, r.to) > width) {
            line = truncate(font, p, r.from, r.to, width, mode);
        } else {
            appendUnits(line, p, r.from, r.to);
            line.width = contentWidth(p, r.from, r.to);
        }
        layout.width = std::max(layout.width, line.width);
        layout.lines.push_back(std::move(line));
    }
    if (mode == LineBreakMode::Clip) layout.width = std::min(layout.width, width);
    layout.height = double(layout.lines.size()) * font.lineHeight;
    return layout;
}

// A coverage plane, one float a pixel, over a region of the bitmap given in its pixels (the
// region may reach outside the bitmap, where shadows come from).
struct Plane {
    std::ptrdiff_t x0 = 0, y0 = 0, width = 0, height = 0;
    std::vector<float> v;
    Plane(std::ptrdiff_t x, std::ptrdiff_t y, std::ptrdiff_t w, std::ptrdiff_t h)
        : x0(x), y0(y), width(w), height(h), v(std::size_t(w * h), 0.f) {}
    // Local coordinates; zero outside.
    float at(std::ptrdiff_t x, std::ptrdiff_t y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return 0.f;
        return v[std::size_t(y * width + x)];
    }
};

// Renders a glyph (or its stroke) at a pen position in bitmap pixels into a plane as a union
// of coverage, clipped to [clipLeft, clipRight) horizontally.
void blitGlyph(FT_Glyph glyph, double px, double py, Plane& plane, double clipLeft, double clipRight) {
    double ix = std::floor(px), iy = std::floor(py);
    FT_Vector origin{FT_Pos(std::lround((px - ix) * 64)), -FT_Pos(std::lround((py - iy) * 64))};
    if (FT_Glyph_To_Bitmap(&glyph, FT_RENDER_MODE_NORMAL, &origin, 1) != 0) {
        FT_Done_Glyph(glyph);
        return;
    }
    auto* bg = reinterpret_cast<FT_BitmapGlyph>(glyph);
    const FT_Bitmap& bm = bg->bitmap;
    if (bm.pixel_mode == FT_PIXEL_MODE_GRAY && bm.buffer) {
        double left = std::max(double(plane.x0), std::floor(clipLeft));
        double right = std::min(double(plane.x0 + plane.width), std::ceil(clipRight));
        for (unsigned row = 0; row < bm.rows; ++row) {
            double y = iy - bg->top + row - double(plane.y0);
            if (y < 0 || y >= double(plane.height)) continue;
            const unsigned char* src = bm.buffer + std::ptrdiff_t(row) * bm.pitch;
            for (unsigned col = 0; col < bm.width; ++col) {
                double x = ix + bg->left + col;
                if (x < left || x >= right) continue;
                float c = src[col] / 255.f;
                float& d =
                    plane.v[std::size_t(y) * std::size_t(plane.width) + std::size_t(x - double(plane.x0))];
                d = d + c - d * c;
            }
        }
    }
    FT_Done_Glyph(glyph);
}

// Radius of the Gaussian taken for a blur deviation; large blurs are capped.
int blurRadius(double sigma) {
    return sigma > 0 ? int(std::ceil(3 * std::min(sigma, 64.0))) : 0;
}

// Separable Gaussian blur of a plane.
void blur(Plane& plane, double sigma) {
    int radius = blurRadius(sigma);
    if (radius == 0) return;
    sigma = std::min(sigma, 64.0);
    std::vector<float> kernel(std::size_t(2 * radius + 1));
    float sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += kernel[std::size_t(i + radius)] = float(std::exp(-(i * i) / (2 * sigma * sigma)));
    for (float& k : kernel)
        k /= sum;
    std::vector<float> tmp(plane.v.size());
    const std::ptrdiff_t w = plane.width, h = plane.height;
    for (std::ptrdiff_t y = 0; y < h; ++y)
        for (std::ptrdiff_t x = 0; x < w; ++x) {
            float acc = 0;
            for (int i = -radius; i <= radius; ++i)
                acc += kernel[std::size_t(i + radius)] * plane.at(x + i, y);
            tmp[std::size_t(y * w + x)] = acc;
        }
    for (std::ptrdiff_t y = 0; y < h; ++y)
        for (std::ptrdiff_t x = 0; x < w; ++x) {
            float acc = 0;
            for (int i = -radius; i <= radius; ++i) {
                std::ptrdiff_t yy = y + i;
                if (yy >= 0 && yy < h) acc += kernel[std::size_t(i + radius)] * tmp[std::size_t(yy * w + x)];
            }
            plane.v[std::size_t(y * w + x)] = acc;
        }
}

inline std::uint8_t toByte(float v) {
    v = std::clamp(v, 0.f, 1.f);
    return std::uint8_t(std::lround(v * 255.f));
}

} // namespace

CGSize TextRenderer::sizeWithFont(const std::string& text, const Font* font, CGSize constrainedTo,
                                  LineBreakMode mode) {
    if (!font) return CGSizeZero;
    std::lock_guard lock(textMutex());
    Layout layout = layOut(text, font->impl(), constrainedTo, mode);
    if (layout.lines.empty()) return CGSizeZero;
    return CGSizeMake(std::ceil(fromFixed(layout.width)), std::ceil(layout.height));
}

bool TextRenderer::drawInRect(const std::string& text, const Font* font, CGRect rect, LineBreakMode mode,
                              TextAlignment alignment, const TextStyle& style, const TextBitmap& target,
                              VerticalTextAlignment verticalAlignment) {
    std::size_t bpp = target.format == TextBitmapFormat::Gray8 ? 1 : 4;
    if (!font || !target.data || target.width > kMaxBitmapSide || target.height > kMaxBitmapSide ||
        target.bytesPerRow < target.width * bpp)
        return false;
    std::lock_guard lock(textMutex());
    const Font::Impl& f = font->impl();
    Layout layout = layOut(text, f, rect.size, mode);
    if (layout.lines.empty() || target.width == 0 || target.height == 0) return true;

    double top = rect.origin.y;
    if (verticalAlignment != VerticalTextAlignment::Top && rect.size.height > 0) {
        double free = rect.size.height - std::ceil(layout.height);
        top += verticalAlignment == VerticalTextAlignment::Bottom ? free : free / 2;
    }
    double boxWidth = limitOf(rect.size.width) == kUnlimited ? fromFixed(layout.width) : rect.size.width;
    double clipLeft = -1e18, clipRight = 1e18;
    if (mode == LineBreakMode::Clip && limitOf(rect.size.width) != kUnlimited)
        clipLeft = rect.origin.x, clipRight = rect.origin.x + rect.size.width;

    // Where each line starts, and the area the text can cover.
    std::vector<double> lineX(layout.lines.size());
    double textLeft = 1e18, textRight = -1e18;
    for (std::size_t i = 0; i < layout.lines.size(); ++i) {
        double x = rect.origin.x, lineWidth = fromFixed(layout.lines[i].width);
        if (alignment == TextAlignment::Center)
            x += (boxWidth - lineWidth) / 2;
        else if (alignment == TextAlignment::Right)
            x += boxWidth - lineWidth;
        lineX[i] = x;
        textLeft = std::min(textLeft, x);
        textRight = std::max(textRight, x + lineWidth);
    }

    // Work only on the region the text, its stroke and its shadow can reach, within the bitmap
    // widened by the shadow's reach (text just outside still casts a shadow in).
    bool stroking = style.strokeEnabled && style.strokeWidth > 0;
    double strokeWidth = stroking ? std::min(style.strokeWidth, 1024.0) : 0;
    double margin = std::ceil(f.lineHeight + strokeWidth / 2) + 2;
    double dx = 0, dy = 0, reach = 0;
    int radius = 0;
    if (style.shadowEnabled) {
        dx = std::round(std::clamp(style.shadowOffset.width, -1e5, 1e5));
        dy = -std::round(std::clamp(style.shadowOffset.height, -1e5, 1e5)); // downwards in the bitmap
        radius = blurRadius(style.shadowBlur / 2);
        reach = radius;
    }
    double left = textLeft - margin, right = textRight + margin;
    double upper = top - margin, lower = top + layout.height + margin;
    left = std::min(left, left + dx) - reach, right = std::max(right, right + dx) + reach;
    upper = std::min(upper, upper + dy) - reach, lower = std::max(lower, lower + dy) + reach;
    double bitmapLeft = -std::abs(dx) - reach, bitmapTop = -std::abs(dy) - reach;
    left = std::max(left, bitmapLeft), upper = std::max(upper, bitmapTop);
    right = std::min(right, double(target.width) - bitmapLeft),
    lower = std::min(lower, double(target.height) - bitmapTop);
    if (!(left < right && upper < lower)) return true;
    const auto x0 = std::ptrdiff_t(std::floor(left)), y0 = std::ptrdiff_t(std::floor(upper));
    const auto w = std::ptrdiff_t(std::ceil(right)) - x0, h = std::ptrdiff_t(std::ceil(lower)) - y0;

    Plane fill(x0, y0, w, h);
    std::optional<Plane> stroke;
    FT_Stroker stroker = nullptr;
    if (stroking && FT_Stroker_New(library(), &stroker) == 0) {
        stroke.emplace(x0, y0, w, h);
        FT_Stroker_Set(stroker, FT_Fixed(std::lround(strokeWidth * 32)), FT_STROKER_LINECAP_ROUND,
                       FT_STROKER_LINEJOIN_ROUND, 0);
    }
    for (std::size_t i = 0; i < layout.lines.size(); ++i) {
        double baseline = top + double(i) * f.lineHeight + f.ascender;
        if (baseline - f.ascender > double(y0 + h) || baseline + f.descender < double(y0)) continue;
        double x = lineX[i];
        for (const Glyph& g : layout.lines[i].glyphs) {
            double gx = x + fromFixed(g.xOffset), gy = baseline - fromFixed(g.yOffset);
            x += fromFixed(g.xAdvance);
            if (gx > double(x0 + w) + margin || gx < double(x0) - 4 * margin) continue;
            if (FT_Load_Glyph(f.face, g.index, FT_LOAD_NO_BITMAP | FT_LOAD_NO_HINTING) != 0) continue;
            if (f.face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) continue;
            FT_Glyph glyph = nullptr;
            if (FT_Get_Glyph(f.face->glyph, &glyph) != 0) continue;
            if (stroker) {
                FT_Glyph copy = nullptr;
                if (FT_Glyph_Copy(glyph, &copy) == 0) {
                    if (FT_Glyph_Stroke(&copy, stroker, 1) == 0)
                        blitGlyph(copy, gx, gy, *stroke, clipLeft, clipRight);
                    else
                        FT_Done_Glyph(copy);
                }
            }
            blitGlyph(glyph, gx, gy, fill, clipLeft, clipRight);
        }
    }
    if (stroker) FT_Stroker_Done(stroker);

    // The text layer, premultiplied: the stroke over the fill.
    const std::size_t count = std::size_t(w * h);
    const TextColor& fc = style.fillColor;
    const TextColor& sc = style.strokeColor;
    std::vector<float> la(count), lr(count), lg(count), lb(count);
    for (std::size_t p = 0; p < count; ++p) {
        float fa = fc.a * fill.v[p];
        float r = fc.r * fa, g = fc.g * fa, b = fc.b * fa, a = fa;
        if (stroke) {
            float sa = sc.a * stroke->v[p];
            r = sc.r * sa + r * (1 - sa);
            g = sc.g * sa + g * (1 - sa);
            b = sc.b * sa + b * (1 - sa);
            a = sa + a * (1 - sa);
        }
        la[p] = a, lr[p] = r, lg[p] = g, lb[p] = b;
    }

    // The shadow: the layer's alpha moved by the offset and blurred, under the layer.
    std::optional<Plane> shadow;
    if (style.shadowEnabled) {
        shadow.emplace(x0, y0, w, h);
        const auto ox = std::ptrdiff_t(dx), oy = std::ptrdiff_t(dy);
        for (std::ptrdiff_t y = 0; y < h; ++y)
            for (std::ptrdiff_t x = 0; x < w; ++x) {
                std::ptrdiff_t sx = x - ox, sy = y - oy;
                if (sx >= 0 && sy >= 0 && sx < w && sy < h)
                    shadow->v[std::size_t(y * w + x)] = la[std::size_t(sy * w + sx)];
            }
        blur(*shadow, style.shadowBlur / 2);
    }

    const TextColor& hc = style.shadowColor;
    bool grey = target.format == TextBitmapFormat::Gray8;
    std::ptrdiff_t fromY = std::max<std::ptrdiff_t>(y0, 0),
                   toY = std::min<std::ptrdiff_t>(y0 + h, std::ptrdiff_t(target.height));
    std::ptrdiff_t fromX = std::max<std::ptrdiff_t>(x0, 0),
                   toX = std::min<std::ptrdiff_t>(x0 + w, std::ptrdiff_t(target.width));
    for (std::ptrdiff_t by = fromY; by < toY; ++by) {
        std::uint8_t* row = target.data + std::size_t(by) * target.bytesPerRow;
        for (std::ptrdiff_t bx = fromX; bx < toX; ++bx) {
            std::size_t p = std::size_t((by - y0) * w + (bx - x0));
            float a = la[p], r = lr[p], g = lg[p], b = lb[p];
            if (shadow) {
                float ha = hc.a * shadow->v[p];
                r += hc.r * ha * (1 - a);
                g += hc.g * ha * (1 - a);
                b += hc.b * ha * (1 - a);
                a += ha * (1 - a);
            }
            if (a <= 0) continue;
            if (grey) {
                float value = 0.299f * r + 0.587f * g + 0.114f * b;
                row[bx] = toByte(value + row[bx] / 255.f * (1 - a));
            } else {
                std::uint8_t* d = row + std::size_t(bx) * 4;
                d[0] = toByte(r + d[0] / 255.f * (1 - a));
                d[1] = toByte(g + d[1] / 255.f * (1 - a));
                d[2] = toByte(b + d[2] / 255.f * (1 - a));
                d[3] = toByte(a + d[3] / 255.f * (1 - a));
            }
        }
    }
    return true;
}

} // namespace platform
