#include "graphics/CCLabelBMFont.h"

#include "core/CCArray.h"
#include "core/CCDirector.h"
#include "core/CCFileUtils.h"
#include "core/CCNodeRGBA.h"
#include "graphics/CCSprite.h"
#include "graphics/CCTextureCache.h"
#include "platform/Device.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/Utf16.h"

#include <uthash.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <unordered_map>

struct _FontDefHashElement {
    std::uint64_t key; // the glyph's charID
    _BMFontDef fontDef;
    UT_hash_handle hh;
};

struct _KerningHashElement {
    std::int32_t key;    // first << 16 | second
    std::int32_t amount; // pixels
    UT_hash_handle hh;
};

namespace {

// What ends a line, in the layout, the line count, the wrapping and the alignment alike: the
// platform's newlines (LF, VT, FF, CR, U+0085, U+2028, U+2029), CR LF being one break. The length
// of the break at i, 0 when there is none.
std::size_t lineBreakLength(const std::u16string& s, std::size_t i) {
    const char16_t c = s[i];
    if (!((c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029)) return 0;
    return c == u'\r' && i + 1 < s.size() && s[i + 1] == u'\n' ? 2 : 1;
}

// The platform's whitespace: blank, tab and the other space separators.
bool isWhitespace(char16_t c) {
    return c == 0x20 || c == 0x09 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

std::u16string trimmedWhitespace(const std::u16string& s) {
    std::size_t begin = 0, end = s.size();
    while (begin < end && isWhitespace(s[begin]))
        ++begin;
    while (end > begin && isWhitespace(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

// ---- reading values from a line -------------------------------------------------------------

// Leading blanks skipped, optional sign, decimal digits up to the first other character; 0 when
// there are none. Saturates at the 32-bit limits.
std::int32_t intValue(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() &&
           (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r' || s[i] == '\v' || s[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::int64_t value = 0;
    constexpr std::int64_t kLimit = std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        value = value * 10 + (s[i] - '0');
        if (value > kLimit) value = kLimit; // keeps counting digits without overflowing
    }
    if (negative) value = -value;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

// The n-th piece of the line split at '=' (piece 0 is the text before the first '='); empty when
// the line has fewer pieces.
std::string_view piece(std::string_view line, std::size_t n) {
    std::size_t start = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t eq = line.find('=', start);
        if (eq == std::string_view::npos) return {};
        start = eq + 1;
    }
    const std::size_t end = line.find('=', start);
    return line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

std::int32_t pieceValue(std::string_view line, std::size_t n) {
    return intValue(piece(line, n));
}

std::int16_t clampedInt16(std::int32_t v) {
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, std::numeric_limits<std::int16_t>::min(),
                                                              std::numeric_limits<std::int16_t>::max()));
}

bool startsWith(std::string_view line, std::string_view prefix) {
    return line.substr(0, prefix.size()) == prefix;
}

// ---- the configuration cache ----------------------------------------------------------------

std::unordered_map<std::string, platform::Ref<CCBMFontConfiguration>>& configurations() {
    static std::unordered_map<std::string, platform::Ref<CCBMFontConfiguration>> cache(3);
    return cache;
}

// Reads the file into text; the reason of a failure otherwise.
bool readText(const std::string& fntFile, std::string* text, std::string* error) {
    const std::string fullPath = CCFileUtils::sharedFileUtils()->fullPathForFilename(fntFile);
    if (fullPath.empty()) {
        *error = "no such file";
        return false;
    }
    std::ifstream in(fullPath, std::ios::binary);
    if (!in) {
        *error = "the file could not be opened";
        return false;
    }
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *error = "the file could not be read";
        return false;
    }
    if (!platform::isValidUTF8(*text)) {
        *error = "the file is not UTF-8 text";
        return false;
    }
    if (startsWith(*text, "\xEF\xBB\xBF")) text->erase(0, 3);
    return true;
}

// Positions are worked in doubles; a truncation to an integer must not leave the range.
std::int64_t truncatedToInt(double v) {
    if (!(v == v)) return 0;
    if (v >= 9.0e18) return std::numeric_limits<std::int64_t>::max();
    if (v <= -9.0e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}

} // namespace

// =============================================================================================
// CCBMFontConfiguration

platform::Ref<CCBMFontConfiguration>
CCBMFontConfiguration::configurationWithFNTFile(const std::string& fntFile) {
    auto configuration = platform::make<CCBMFontConfiguration>();
    return configuration->initWithFNTfile(fntFile) ? configuration : nullptr;
}

CCBMFontConfiguration::CCBMFontConfiguration() = default;

CCBMFontConfiguration::~CCBMFontConfiguration() {
    purgeFontDefDictionary();
    purgeKerningDictionary();
}

bool CCBMFontConfiguration::initWithFNTfile(const std::string& fntFile) {
    purgeFontDefDictionary();
    purgeKerningDictionary();
    std::optional<std::u16string> characters = parseConfigFile(fntFile);
    if (!characters) return false;
    _characterSet.reset();
    for (char16_t c : *characters)
        _characterSet.set(c);
    return true;
}

std::string CCBMFontConfiguration::description() const {
    return platform::format("<%s = %p | Glphys:%d Kernings:%d | Image = %s>", className(),
                            static_cast<const void*>(this), static_cast<int>(glyphCount()),
                            static_cast<int>(kerningCount()), _atlasName.empty() ? "(null)" : _atlasName);
}

void CCBMFontConfiguration::purgeFontDefDictionary() {
    _FontDefHashElement *element, *tmp;
    HASH_ITER(hh, _fontDefDictionary, element, tmp) {
        HASH_DEL(_fontDefDictionary, element);
        std::free(element);
    }
}

void CCBMFontConfiguration::purgeKerningDictionary() {
    _KerningHashElement *element, *tmp;
    HASH_ITER(hh, _kerningDictionary, element, tmp) {
        HASH_DEL(_kerningDictionary, element);
        std::free(element);
    }
}

std::optional<std::u16string> CCBMFontConfiguration::parseConfigFile(const std::string& fntFile) {
    std::string text, error;
    if (!readText(fntFile, &text, &error)) {
        CCLOG("engine: Error parsing FNTfile %s: %s", fntFile, error);
        return std::nullopt;
    }

    std::u16string validCharsString;
    std::string_view rest(text);
    while (true) {
        const std::size_t eol = rest.find('\n');
        const std::string_view line = rest.substr(0, eol);
        if (startsWith(line, "info face")) {
            // The padding is not needed for laying glyphs out.
        } else if (startsWith(line, "common lineHeight")) {
            parseCommonArguments(line);
        } else if (startsWith(line, "page id")) {
            parseImageFileName(line, fntFile);
        } else if (startsWith(line, "chars c")) {
            // The count is not needed: entries are added as they come.
        } else if (startsWith(line, "char")) {
            _BMFontDef def;
            if (parseCharacterDefinition(line, &def)) {
                // A later line for the same glyph takes its place.
                _FontDefHashElement* element = nullptr;
                const std::uint64_t key = def.charID;
                HASH_FIND(hh, _fontDefDictionary, &key, sizeof(key), element);
                if (!element) {
                    element = static_cast<_FontDefHashElement*>(std::calloc(1, sizeof(_FontDefHashElement)));
                    if (!element) std::abort();
                    element->key = key;
                    HASH_ADD(hh, _fontDefDictionary, key, sizeof(element->key), element);
                }
                element->fontDef = def;
                validCharsString.push_back(static_cast<char16_t>(def.charID));
            }
        } else if (startsWith(line, "kerning first")) {
            parseKerningEntry(line);
        }
        if (eol == std::string_view::npos) break;
        rest.remove_prefix(eol + 1);
    }
    return validCharsString;
}

void CCBMFontConfiguration::parseImageFileName(std::string_view line, const std::string& fntFile) {
    // page id=0 file="name.png": the third piece, between its first two double quotes.
    const std::string_view value = piece(line, 2);
    const std::size_t open = value.find('"');
    if (open == std::string_view::npos) return; // no quoted name: the atlas stays as it was
    std::string_view name = value.substr(open + 1);
    name = name.substr(0, name.find('"'));
    if (name.empty()) return;
    _atlasName = platform::Paths::stringByAppendingPathComponent(
        platform::Paths::stringByDeletingLastPathComponent(fntFile), std::string(name));
}

void CCBMFontConfiguration::parseInfoArguments(std::string_view line) {
    // padding is the tenth key: top,right,bottom,left.
    std::string_view padding = piece(line, 10);
    std::int32_t values[4] = {0, 0, 0, 0};
    for (int k = 0; k < 4; ++k) {
        const std::size_t comma = padding.find(',');
        values[k] = intValue(padding.substr(0, comma));
        if (comma == std::string_view::npos) break;
        padding.remove_prefix(comma + 1);
    }
    _padding.top = values[0];
    _padding.right = values[1];
    _padding.bottom = values[2];
    _padding.left = values[3];
}

void CCBMFontConfiguration::parseCommonArguments(std::string_view line) {
    // lineHeight base scaleW scaleH pages: only the line height is used. Never negative, so
    // that no label lays its lines out upward to a negative height.
    _commonHeight = std::max(pieceValue(line, 1), 0);
}

bool CCBMFontConfiguration::parseCharacterDefinition(std::string_view line, _BMFontDef* charDef) {
    // id x y width height xoffset yoffset xadvance page chnl
    std::string_view id = piece(line, 1);
    id = id.substr(0, id.find(' '));
    const std::int32_t charID = intValue(id);
    if (charID < 0 || charID > 0xFFFF) return false;
    charDef->charID = static_cast<std::uint16_t>(charID);
    charDef->rect.origin.x = pieceValue(line, 2);
    charDef->rect.origin.y = pieceValue(line, 3);
    charDef->rect.size.width = pieceValue(line, 4);
    charDef->rect.size.height = pieceValue(line, 5);
    charDef->xOffset = clampedInt16(pieceValue(line, 6));
    charDef->yOffset = clampedInt16(pieceValue(line, 7));
    charDef->xAdvance = clampedInt16(pieceValue(line, 8));
    return true;
}

void CCBMFontConfiguration::parseKerningEntry(std::string_view line) {
    const std::int32_t first = pieceValue(line, 1);
    const std::int32_t second = pieceValue(line, 2);
    // 16 bits, as advances are: a pen step of advance plus kerning then cannot overflow.
    const std::int16_t amount = clampedInt16(pieceValue(line, 3));
    // Codes outside 16 bits would be folded onto other pairs.
    if (first < 0 || first > 0xFFFF || second < 0 || second > 0xFFFF) return;
    const auto key = static_cast<std::int32_t>((static_cast<std::uint32_t>(first) << 16) |
                                               static_cast<std::uint32_t>(second));
    _KerningHashElement* element = nullptr;
    HASH_FIND_INT(_kerningDictionary, &key, element);
    if (!element) {
        element = static_cast<_KerningHashElement*>(std::calloc(1, sizeof(_KerningHashElement)));
        if (!element) std::abort();
        element->key = key;
        HASH_ADD_INT(_kerningDictionary, key, element);
    }
    element->amount = amount;
}

const _BMFontDef* CCBMFontConfiguration::fontDefForCharacter(std::uint16_t c) const {
    _FontDefHashElement* element = nullptr;
    const std::uint64_t key = c;
    HASH_FIND(hh, _fontDefDictionary, &key, sizeof(key), element);
    return element ? &element->fontDef : nullptr;
}

std::int32_t CCBMFontConfiguration::kerningAmountForPair(std::uint16_t first, std::uint16_t second) const {
    if (!_kerningDictionary) return 0;
    const auto key = static_cast<std::int32_t>((std::uint32_t(first) << 16) | second);
    _KerningHashElement* element = nullptr;
    HASH_FIND_INT(_kerningDictionary, &key, element);
    return element ? element->amount : 0;
}

std::uint64_t CCBMFontConfiguration::glyphCount() const {
    return HASH_COUNT(_fontDefDictionary);
}

std::uint64_t CCBMFontConfiguration::kerningCount() const {
    return _kerningDictionary ? HASH_COUNT(_kerningDictionary) : 0;
}

CCBMFontConfiguration* fntConfigLoadFile(const std::string& fntFile) {
    auto& cache = configurations();
    if (auto found = cache.find(fntFile); found != cache.end()) return found->second.get();
    platform::Ref<CCBMFontConfiguration> configuration =
        CCBMFontConfiguration::configurationWithFNTFile(fntFile);
    if (!configuration) return nullptr;
    // Installed whenever the cache starts to fill, so a hook cleared meanwhile comes back.
    if (cache.empty())
        CCDirector::setPurgeHook(CCDirectorPurge::BitmapFontConfigurations,
                                 [] { CCLabelBMFont::purgeCachedData(); });
    CCBMFontConfiguration* result = configuration.get();
    cache.emplace(fntFile, std::move(configuration));
    return result;
}

// =============================================================================================
// CCLabelBMFont

void CCLabelBMFont::purgeCachedData() {
    // Moved out first: a configuration's last release must not run inside the map's clear.
    auto old = std::move(configurations());
    configurations().clear();
    old.clear();
}

platform::Ref<CCLabelBMFont> CCLabelBMFont::labelWithString(const std::string& string,
                                                            const std::string& fntFile) {
    return labelWithString(string, fntFile, -1, kCCTextAlignmentLeft, CGPointZero);
}

platform::Ref<CCLabelBMFont> CCLabelBMFont::labelWithString(const std::string& string,
                                                            const std::string& fntFile, float width,
                                                            CCTextAlignment alignment) {
    return labelWithString(string, fntFile, width, alignment, CGPointZero);
}

platform::Ref<CCLabelBMFont> CCLabelBMFont::labelWithString(const std::string& string,
                                                            const std::string& fntFile, float width,
                                                            CCTextAlignment alignment, CGPoint imageOffset) {
    auto label = platform::make<CCLabelBMFont>();
    return label->initWithString(string, fntFile, width, alignment, imageOffset) ? label : nullptr;
}

platform::Ref<CCLabelBMFont> CCLabelBMFont::node() {
    return makeNode<CCLabelBMFont>();
}

CCLabelBMFont::CCLabelBMFont() = default;
CCLabelBMFont::~CCLabelBMFont() = default;

bool CCLabelBMFont::init() {
    return initWithString(std::string(), std::string(), -1, kCCTextAlignmentLeft, CGPointZero);
}

bool CCLabelBMFont::initWithString(const std::string& string, const std::string& fntFile) {
    return initWithString(string, fntFile, -1, kCCTextAlignmentLeft, CGPointZero);
}

bool CCLabelBMFont::initWithString(const std::string& string, const std::string& fntFile, float width,
                                   CCTextAlignment alignment) {
    return initWithString(string, fntFile, width, alignment, CGPointZero);
}

bool CCLabelBMFont::initWithString(const std::string& string, const std::string& fntFile, float width,
                                   CCTextAlignment alignment, CGPoint imageOffset) {
    platform::Ref<CCTexture2D> texture;
    if (!fntFile.empty()) {
        CCBMFontConfiguration* configuration = fntConfigLoadFile(fntFile);
        if (!configuration) return false;
        // A label without its atlas would show nothing: refuse it rather than draw blanks.
        if (configuration->atlasName().empty()) return false;
        texture = CCTextureCache::sharedTextureCache()->addImage(configuration->atlasName());
        if (!texture) return false;
        _configuration = configuration;
        _fntFile = fntFile;
    } else {
        texture = platform::make<CCTexture2D>();
    }

    const std::u16string text = platform::utf16FromUTF8(string);
    if (!CCSpriteBatchNode::initWithTexture(texture.get(), text.size())) return false;

    _width = width;
    _alignment = alignment;
    _displayedOpacity = _realOpacity = 255;
    _displayedColor = _realColor = ccWHITE;
    _cascadeOpacityEnabled = _cascadeColorEnabled = true;
    setContentSize(CGSizeZero);
    _opacityModifyRGB = texture->hasPremultipliedAlpha();
    CCNode::setAnchorPoint(CGPointMake(0.5, 0.5));
    _imageOffset = imageOffset;

    _reusedChar = platform::make<CCSprite>();
    _reusedChar->initWithTexture(texture.get(), CGRectZero, false);
    _reusedChar->setBatchNode(this);

    setStringUTF16(text, true);
    return true;
}

std::vector<CCSprite*> CCLabelBMFont::spritesByTag(std::uint64_t limit) const {
    std::vector<CCSprite*> sprites(limit, nullptr);
    if (!_children) return sprites;
    for (std::uint64_t k = 0; k < _children->count(); ++k) {
        auto* sprite = dynamic_cast<CCSprite*>(_children->objectAtIndex(k));
        if (!sprite || sprite->tag() < 0) continue;
        const auto tag = static_cast<std::uint64_t>(sprite->tag());
        if (tag < limit && !sprites[tag]) sprites[tag] = sprite;
    }
    return sprites;
}

std::int32_t CCLabelBMFont::kerningAmountForFirst(std::uint16_t first, std::uint16_t second) const {
    return _configuration ? _configuration->kerningAmountForPair(first, second) : 0;
}

void CCLabelBMFont::createFontChars() {
    const std::uint64_t n = _string.size();
    if (n == 0 || !_configuration) return;

    const double s = platform::contentScaleFactor();
    const std::int64_t H = _configuration->commonHeight();
    // A final line break does not start another line.
    std::int64_t lines = 1;
    for (std::uint64_t i = 0; i < n; ++i) {
        if (const std::size_t length = lineBreakLength(_string, i)) {
            i += length - 1;
            if (i + 1 < n) ++lines;
        }
    }
    const std::int64_t totalHeight = H * lines;
    std::int64_t nextFontPositionY = H * (lines - 1);
    std::int64_t nextFontPositionX = 0;
    std::int64_t longestLine = 0;
    // Before the first glyph the pair is looked up with 0xFFFF, which no font kerns in practice.
    std::uint16_t prev = 0xFFFF;
    const _BMFontDef* lastPlaced = nullptr;
    CCTexture2D* atlasTexture = texture();
    std::vector<CCSprite*> sprites = spritesByTag(n);

    for (std::uint64_t i = 0; i < n; ++i) {
        const char16_t c = _string[i];
        if (const std::size_t length = lineBreakLength(_string, i)) {
            nextFontPositionX = 0;
            nextFontPositionY -= H;
            // Kerning is between neighbours on one line: each line starts as the first does.
            prev = 0xFFFF;
            i += length - 1;
            continue;
        }
        if (!_configuration->characterIsMember(c)) continue;
        const std::int32_t k = kerningAmountForFirst(prev, c);
        const _BMFontDef* def = _configuration->fontDefForCharacter(c);
        if (!def) continue;

        CGRect rect = CGRectMake(def->rect.origin.x / s, def->rect.origin.y / s, def->rect.size.width / s,
                                 def->rect.size.height / s);
        rect.origin.x += _imageOffset.x;
        rect.origin.y += _imageOffset.y;

        CCSprite* sprite = sprites[i];
        if (sprite) {
            sprite->setVisible(true);
        } else {
            auto made = platform::make<CCSprite>();
            made->initWithTexture(atlasTexture, rect);
            addChild(made.get(), static_cast<std::int64_t>(i), static_cast<std::int64_t>(i));
            // The batch refuses sprites past the most quads it can address; setStringUTF16
            // then takes the old string back.
            if (made->parent() != this) {
                _glyphRefused = true;
                continue;
            }
            sprite = made.get();
            sprites[i] = sprite;
            sprite->setOpacityModifyRGB(_opacityModifyRGB);
            sprite->updateDisplayedColor(_displayedColor);
            sprite->updateDisplayedOpacity(_displayedOpacity);
        }
        sprite->setTextureRect(rect, false, rect.size);

        const double x = double(nextFontPositionX) + def->xOffset + def->rect.size.width / 2 + k;
        const double y = double(nextFontPositionY) + double(H - def->yOffset) - def->rect.size.height / 2;
        sprite->setPosition(CGPointMake(x / s, y / s));

        nextFontPositionX += std::int64_t(def->xAdvance) + k;
        prev = c;
        lastPlaced = def;
        longestLine = std::max(longestLine, nextFontPositionX);
    }

    double width = double(longestLine);
    // A last glyph wider than its advance would be cut off at the pen position.
    if (lastPlaced && lastPlaced->xAdvance < lastPlaced->rect.size.width)
        width = double(longestLine) + lastPlaced->rect.size.width - lastPlaced->xAdvance;
    setContentSize(CGSizeMake(width / s, double(totalHeight) / s));
}

void CCLabelBMFont::updateLabel() {
    setStringUTF16(_initialString, false);

    if (_width > 0) {
        std::u16string result, word;
        const std::uint64_t length = _string.size();
        // Left edges, in points, of the first glyphs of the current line and word; unset until
        // one is met. Characters without a glyph take no room.
        float lineStart = 0, wordStart = 0;
        bool haveLineStart = false, haveWordStart = false;
        // Whether the line holds a glyph of an earlier word, and the word one of its own: a
        // word moves to a new line only past such a glyph, so no line is left empty.
        bool lineHasGlyph = false, wordHasGlyph = false;
        // Sprites hidden since an earlier, longer text stand for characters without a glyph.
        const std::vector<CCSprite*> sprites = spritesByTag(length);

        for (std::uint64_t i = 0; i < length; ++i) {
            const char16_t c = _string[i];
            CCSprite* sprite = sprites[i] && sprites[i]->visible() ? sprites[i] : nullptr;
            if (const std::size_t breakLength = lineBreakLength(_string, i)) {
                result += word;
                result.append(_string, i, breakLength);
                i += breakLength - 1;
                word.clear();
                haveLineStart = haveWordStart = lineHasGlyph = wordHasGlyph = false;
                continue;
            }
            double x = 0, halfWidth = 0;
            if (sprite) {
                x = sprite->position().x;
                halfWidth = sprite->contentSize().width / 2;
                if (!haveWordStart) {
                    wordStart = static_cast<float>(x - halfWidth);
                    haveWordStart = true;
                }
                if (!haveLineStart) {
                    lineStart = wordStart;
                    haveLineStart = true;
                }
            }
            // A blank or tab ends the word whether or not the font draws it.
            if (isWhitespace(c)) {
                result += word;
                result.push_back(c);
                word.clear();
                haveWordStart = false;
                lineHasGlyph = lineHasGlyph || wordHasGlyph;
                wordHasGlyph = false;
                continue;
            }

            word.push_back(c);
            if (!sprite) continue;
            wordHasGlyph = true;
            // A word wider than the whole width stays on a line of its own rather than
            // pushing one line break per character in front of itself.
            if (x + halfWidth - lineStart > _width && lineHasGlyph) {
                result = trimmedWhitespace(result);
                result.push_back(u'\n');
                lineStart = wordStart;
                lineHasGlyph = false;
            }
        }
        result += word;
        setStringUTF16(result, false);
    }

    if (_alignment != kCCTextAlignmentLeft) {
        const std::vector<CCSprite*> sprites = spritesByTag(_string.size());
        // Only the glyphs this string shows: a sprite hidden since a longer string still sits
        // where that string had it, and its index now holds a character without a glyph.
        const auto spriteAt = [&](std::int64_t tag) -> CCSprite* {
            CCSprite* sprite =
                tag >= 0 && static_cast<std::uint64_t>(tag) < sprites.size() ? sprites[tag] : nullptr;
            return sprite && sprite->visible() ? sprite : nullptr;
        };
        for (std::size_t lineBegin = 0;;) {
            std::size_t lineEnd = lineBegin, breakLength = 0;
            while (lineEnd < _string.size() && !(breakLength = lineBreakLength(_string, lineEnd)))
                ++lineEnd;
            const auto first = static_cast<std::int64_t>(lineBegin);
            const auto len = static_cast<std::int64_t>(lineEnd - lineBegin);
            if (len > 0) {
                // The line ends at its last glyph: characters the font lacks after it have no
                // sprite and take no room, so measuring them as 0 would push the line out of
                // the box by the whole shift.
                std::int64_t w = 0;
                for (std::int64_t tag = first + len - 1; tag >= first; --tag) {
                    if (CCSprite* lastChar = spriteAt(tag)) {
                        w = truncatedToInt(lastChar->position().x + lastChar->contentSize().width / 2);
                        break;
                    }
                }
                float shift = 0;
                if (_alignment == kCCTextAlignmentRight)
                    shift = static_cast<float>(_contentSize.width - double(w));
                else if (_alignment == kCCTextAlignmentCenter)
                    shift = static_cast<float>(_contentSize.width / 2 - double(w / 2));
                if (shift != 0) {
                    for (std::int64_t tag = first; tag < first + len; ++tag) {
                        if (CCSprite* sprite = spriteAt(tag)) {
                            CGPoint p = sprite->position();
                            sprite->setPosition(CGPointMake(p.x + shift, p.y));
                        }
                    }
                }
            }
            if (lineEnd >= _string.size()) break;
            lineBegin = lineEnd + breakLength;
        }
    }
}

std::string CCLabelBMFont::string() const {
    return platform::utf8FromUTF16(_string);
}

void CCLabelBMFont::setCString(const char* string) {
    setString(string ? std::string(string) : std::string());
}

void CCLabelBMFont::setString(const std::string& string) {
    setString(string, true);
}

void CCLabelBMFont::setString(const std::string& string, bool update) {
    setStringUTF16(platform::utf16FromUTF8(string), update);
}

void CCLabelBMFont::setStringUTF16(const std::u16string& string, bool update) {
    // Wrapping sets the shown string again from inside; only the outermost call checks.
    if (_settingString) {
        layOutString(string, update);
        return;
    }
    const std::u16string oldInitial = _initialString, oldString = _string;
    _settingString = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{_settingString};
    _glyphRefused = false;
    layOutString(string, update);
    if (!_glyphRefused) return;
    // A label never shows part of its string: lay the old one out again, whose glyphs exist.
    CCLOG("engine: CCLabelBMFont: a string of %zu characters needs more glyphs than one label can "
          "hold (%lu); the label keeps its old string",
          string.size(), kCCSpriteBatchMaxQuads);
    _initialString = oldInitial;
    _string = oldString;
    _glyphRefused = false;
    layOutString(update ? oldInitial : oldString, update);
}

void CCLabelBMFont::layOutString(const std::u16string& string, bool update) {
    if (update)
        _initialString = string;
    else
        _string = string;

    if (_children) {
        for (std::uint64_t k = 0; k < _children->count(); ++k)
            static_cast<CCNode*>(_children->objectAtIndex(k))->setVisible(false);
    }
    createFontChars();
    if (update) updateLabel();
}

// ---- colour and opacity ---------------------------------------------------------------------

void CCLabelBMFont::setColor(_ccColor3B color) {
    _displayedColor = _realColor = color;
    if (_cascadeColorEnabled) updateDisplayedColor(ccCascadeParentColor(this));
}

void CCLabelBMFont::setOpacity(std::uint8_t opacity) {
    _displayedOpacity = _realOpacity = opacity;
    if (_cascadeOpacityEnabled) updateDisplayedOpacity(ccCascadeParentOpacity(this));
}

void CCLabelBMFont::setOpacityModifyRGB(bool modify) {
    _opacityModifyRGB = modify;
    if (!_children) return;
    for (std::uint64_t k = 0; k < _children->count(); ++k)
        if (auto* child = dynamic_cast<CCRGBAProtocol*>(_children->objectAtIndex(k)))
            child->setOpacityModifyRGB(modify);
}

void CCLabelBMFont::updateDisplayedOpacity(std::uint8_t parentOpacity) {
    _displayedOpacity = ccCascadeOpacity(_realOpacity, parentOpacity);
    if (!_children) return;
    for (std::uint64_t k = 0; k < _children->count(); ++k)
        if (auto* child = dynamic_cast<CCRGBAProtocol*>(_children->objectAtIndex(k)))
            child->updateDisplayedOpacity(_displayedOpacity);
}

void CCLabelBMFont::updateDisplayedColor(_ccColor3B parentColor) {
    _displayedColor = ccCascadeColor(_realColor, parentColor);
    if (!_children) return;
    for (std::uint64_t k = 0; k < _children->count(); ++k)
        if (auto* child = dynamic_cast<CCRGBAProtocol*>(_children->objectAtIndex(k)))
            child->updateDisplayedColor(_displayedColor);
}

// ---- layout properties ----------------------------------------------------------------------

void CCLabelBMFont::setAnchorPoint(CGPoint anchorPoint) {
    if (anchorPoint == _anchorPoint) return;
    CCSpriteBatchNode::setAnchorPoint(anchorPoint);
    createFontChars();
}

void CCLabelBMFont::setWidth(float width) {
    _width = width;
    updateLabel();
}

void CCLabelBMFont::setAlignment(CCTextAlignment alignment) {
    _alignment = alignment;
    updateLabel();
}

void CCLabelBMFont::setFntFile(const std::string& fntFile) {
    if (fntFile == _fntFile) return;
    CCBMFontConfiguration* configuration = fntConfigLoadFile(fntFile);
    if (!configuration || configuration->atlasName().empty()) return;
    platform::Ref<CCTexture2D> texture =
        CCTextureCache::sharedTextureCache()->addImage(configuration->atlasName());
    if (!texture) return;
    const std::string oldFile = _fntFile;
    const platform::Ref<CCBMFontConfiguration> oldConfiguration = _configuration;
    const platform::Ref<CCTexture2D> oldTexture = this->texture();
    _fntFile = fntFile;
    _configuration = configuration;
    setTexture(texture.get());
    _glyphRefused = false;
    createFontChars();
    if (!_glyphRefused) return;
    // The new font has glyphs for more of the string than the batch can hold: keep the old one.
    CCLOG("engine: CCLabelBMFont: %s needs more glyphs than one label can hold (%lu); the label keeps "
          "its old font",
          fntFile, kCCSpriteBatchMaxQuads);
    _fntFile = oldFile;
    _configuration = oldConfiguration;
    setTexture(oldTexture.get());
    // Glyphs made for the new font alone stay hidden.
    if (_children) {
        for (std::uint64_t k = 0; k < _children->count(); ++k)
            static_cast<CCNode*>(_children->objectAtIndex(k))->setVisible(false);
    }
    _glyphRefused = false;
    createFontChars();
}
