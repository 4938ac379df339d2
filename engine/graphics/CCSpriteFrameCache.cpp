#include "graphics/CCSpriteFrameCache.h"

#include "core/CCDirector.h"
#include "core/CCFileUtils.h"
#include "graphics/CCSpriteFrame.h"
#include "graphics/CCTexture2D.h"
#include "platform/Format.h"
#include "platform/Geometry.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <cstdlib>
#include <optional>
#include <vector>

using platform::PlistValue;

namespace {

platform::Ref<CCSpriteFrameCache>& sharedCache() {
    static platform::Ref<CCSpriteFrameCache> cache;
    return cache;
}

// Values a sheet stores as numbers or booleans; the platform read both from numbers and from
// numeric strings. A missing key is readable too: it reads as zero.
bool isScalar(const PlistValue& v) {
    return v.isNull() || v.isNumber() || v.isString();
}
// Geometry is written as strings ("{{x,y},{w,h}}").
bool isGeometry(const PlistValue& v) {
    return v.isNull() || v.isString();
}

struct FrameValues {
    CGRect rectInPixels = CGRectZero;
    bool rotated = false;
    CGPoint offset = CGPointZero;
    CGSize originalSize = CGSizeZero;
};

// The values of one frame entry, or nothing when the entry is not a dictionary or holds a
// value of the wrong type.
std::optional<FrameValues> readFrame(const PlistValue& entry, int format) {
    if (!entry.isDictionary()) return std::nullopt;
    FrameValues values;
    switch (format) {
    case 0: {
        const char* keys[] = {"x",       "y",       "width",         "height",
                              "offsetX", "offsetY", "originalWidth", "originalHeight"};
        for (const char* key : keys)
            if (!isScalar(entry[key])) return std::nullopt;
        values.rectInPixels = CGRectMake(entry["x"].floatValue(), entry["y"].floatValue(),
                                         entry["width"].floatValue(), entry["height"].floatValue());
        values.offset = CGPointMake(entry["offsetX"].floatValue(), entry["offsetY"].floatValue());
        // Some tools write negative sizes. Widened first: the absolute value of the smallest
        // int does not fit an int.
        const std::int64_t width = entry["originalWidth"].intValue();
        const std::int64_t height = entry["originalHeight"].intValue();
        values.originalSize =
            CGSizeMake(static_cast<double>(std::llabs(width)), static_cast<double>(std::llabs(height)));
        break;
    }
    case 1:
    case 2: {
        const PlistValue& frame = entry["frame"];
        const PlistValue& offset = entry["offset"];
        const PlistValue& sourceSize = entry["sourceSize"];
        if (!isGeometry(frame) || !isGeometry(offset) || !isGeometry(sourceSize)) return std::nullopt;
        if (format == 2) {
            if (!isScalar(entry["rotated"])) return std::nullopt;
            values.rotated = entry["rotated"].boolValue();
        }
        values.rectInPixels = CGRectFromString(frame.stringValue());
        values.offset = CGPointFromString(offset.stringValue());
        values.originalSize = CGSizeFromString(sourceSize.stringValue());
        break;
    }
    case 3: {
        const PlistValue& spriteSize = entry["spriteSize"];
        const PlistValue& spriteOffset = entry["spriteOffset"];
        const PlistValue& spriteSourceSize = entry["spriteSourceSize"];
        const PlistValue& textureRect = entry["textureRect"];
        const PlistValue& textureRotated = entry["textureRotated"];
        const PlistValue& aliases = entry["aliases"];
        if (!isGeometry(spriteSize) || !isGeometry(spriteOffset) || !isGeometry(spriteSourceSize) ||
            !isGeometry(textureRect) || !isScalar(textureRotated) || !(aliases.isNull() || aliases.isArray()))
            return std::nullopt;
        const CGSize size = CGSizeFromString(spriteSize.stringValue());
        const CGRect stored = CGRectFromString(textureRect.stringValue());
        values.rectInPixels = CGRectMake(stored.origin.x, stored.origin.y, size.width, size.height);
        values.rotated = textureRotated.boolValue();
        values.offset = CGPointFromString(spriteOffset.stringValue());
        values.originalSize = CGSizeFromString(spriteSourceSize.stringValue());
        break;
    }
    default:
        return std::nullopt;
    }
    return values;
}

// The sheet's format number, or nothing when "metadata" or its "format" has the wrong type.
std::optional<int> sheetFormat(const PlistValue& sheet) {
    const PlistValue& metadata = sheet["metadata"];
    if (metadata.isNull()) return 0;
    if (!metadata.isDictionary() || !isScalar(metadata["format"])) return std::nullopt;
    return metadata["format"].intValue();
}

PlistValue readSheet(const std::string& plist) {
    const std::string path = CCFileUtils::sharedFileUtils()->fullPathForFilename(plist);
    if (path.empty()) return {};
    return platform::dictionaryWithContentsOfFile(path);
}

} // namespace

CCSpriteFrameCache* CCSpriteFrameCache::sharedSpriteFrameCache() {
    platform::Ref<CCSpriteFrameCache>& cache = sharedCache();
    if (!cache) {
        // The director's end lets go of every frame.
        CCDirector::setPurgeHook(CCDirectorPurge::SpriteFrameCache, [] { purgeSharedSpriteFrameCache(); });
        auto made = platform::make<CCSpriteFrameCache>();
        made->init();
        cache = std::move(made);
    }
    return cache.get();
}

void CCSpriteFrameCache::purgeSharedSpriteFrameCache() {
    sharedCache() = nullptr;
}

CCSpriteFrameCache::CCSpriteFrameCache() = default;
CCSpriteFrameCache::~CCSpriteFrameCache() = default;

bool CCSpriteFrameCache::init() {
    _spriteFrames.reserve(100);
    _spriteFramesAliases.reserve(10);
    _loadedFilenames.reserve(30);
    return true;
}

std::string CCSpriteFrameCache::description() const {
    return platform::format("<%s = %p | num of sprite frames =  %lu>", className(),
                            static_cast<const void*>(this), static_cast<unsigned long>(_spriteFrames.size()));
}

void CCSpriteFrameCache::addSpriteFramesWithDictionaryTextureReference(
    const PlistValue& dictionary, const CCTextureReference& textureReference) {
    const PlistValue& frames = dictionary["frames"];
    if (!frames.isDictionary()) return;
    const std::optional<int> format = sheetFormat(dictionary);
    if (!format) return;
    if (*format < 0 || *format > 3) {
        CCLOG("engine: CCSpriteFrameCache: unsupported sprite sheet format %d", *format);
        return;
    }

    for (const auto& [name, entry] : frames.entries()) {
        const std::optional<FrameValues> values = readFrame(entry, *format);
        if (!values) continue;

        if (*format == 3) {
            for (const PlistValue& alias : entry["aliases"].items())
                if (alias.isString()) _spriteFramesAliases[alias.stringValue()] = name;
        }

        auto frame = platform::make<CCSpriteFrame>();
        if (const std::string* filename = std::get_if<std::string>(&textureReference)) {
            frame->initWithTextureFilename(*filename, values->rectInPixels, values->rotated, values->offset,
                                           values->originalSize);
        } else {
            CCTexture2D* const* texture = std::get_if<CCTexture2D*>(&textureReference);
            frame->initWithTexture(texture ? *texture : nullptr, values->rectInPixels, values->rotated,
                                   values->offset, values->originalSize);
        }
        _spriteFrames[name] = std::move(frame);
    }
}

void CCSpriteFrameCache::addSpriteFramesWithDictionary(const PlistValue& dictionary,
                                                       const std::string& textureFilename) {
    addSpriteFramesWithDictionaryTextureReference(dictionary, CCTextureReference(textureFilename));
}

void CCSpriteFrameCache::addSpriteFramesWithDictionary(const PlistValue& dictionary, CCTexture2D* texture) {
    addSpriteFramesWithDictionaryTextureReference(dictionary, CCTextureReference(texture));
}

void CCSpriteFrameCache::addSpriteFramesWithFileTextureReference(const std::string& plist,
                                                                 const CCTextureReference& textureReference) {
    if (_loadedFilenames.count(plist)) return;
    addSpriteFramesWithDictionaryTextureReference(readSheet(plist), textureReference);
    _loadedFilenames.insert(plist);
}

void CCSpriteFrameCache::addSpriteFramesWithFile(const std::string& plist,
                                                 const std::string& textureFilename) {
    addSpriteFramesWithFileTextureReference(plist, CCTextureReference(textureFilename));
}

void CCSpriteFrameCache::addSpriteFramesWithFile(const std::string& plist, CCTexture2D* texture) {
    addSpriteFramesWithFileTextureReference(plist, CCTextureReference(texture));
}

void CCSpriteFrameCache::addSpriteFramesWithFile(const std::string& plist) {
    if (_loadedFilenames.count(plist)) return;
    const PlistValue dictionary = readSheet(plist);

    // The texture sits beside the sheet as the caller named it. Packers that leave the name
    // empty mean the sheet's own name, as when there is none.
    const PlistValue& textureFileName = dictionary["metadata"]["textureFileName"];
    using platform::Paths;
    std::string texturePath;
    if (textureFileName.isString() && !textureFileName.stringValue().empty())
        texturePath = Paths::stringByAppendingPathComponent(Paths::stringByDeletingLastPathComponent(plist),
                                                            textureFileName.stringValue());
    else
        texturePath =
            Paths::stringByAppendingPathExtension(Paths::stringByDeletingPathExtension(plist), "png");

    addSpriteFramesWithDictionary(dictionary, texturePath);
    _loadedFilenames.insert(plist);
}

void CCSpriteFrameCache::addSpriteFrame(CCSpriteFrame* frame, const std::string& frameName) {
    // Every stored frame is asked for its texture later: an empty entry is never made.
    if (!frame) return;
    _spriteFrames[frameName] = frame;
}

void CCSpriteFrameCache::removeSpriteFrames() {
    _spriteFrames.clear();
    _spriteFramesAliases.clear();
    _loadedFilenames.clear();
}

void CCSpriteFrameCache::removeUnusedSpriteFrames() {
    bool removed = false;
    for (auto it = _spriteFrames.begin(); it != _spriteFrames.end();) {
        if (it->second->retainCount() == 1) {
            it = _spriteFrames.erase(it);
            removed = true;
        } else {
            ++it;
        }
    }
    // A sheet with a frame gone is incomplete: let it load again.
    if (removed) _loadedFilenames.clear();
}

void CCSpriteFrameCache::removeSpriteFrameByName(const std::string& name) {
    if (name.empty()) return;
    auto alias = _spriteFramesAliases.find(name);
    if (alias != _spriteFramesAliases.end()) {
        _spriteFrames.erase(alias->second);
        _spriteFramesAliases.erase(alias);
    } else {
        _spriteFrames.erase(name);
    }
    // The sheet that held the frame may be loaded again to bring it back.
    _loadedFilenames.clear();
}

void CCSpriteFrameCache::removeSpriteFramesFromFile(const std::string& plist) {
    removeSpriteFramesFromDictionary(readSheet(plist));
    _loadedFilenames.erase(plist);
}

void CCSpriteFrameCache::removeSpriteFramesFromDictionary(const PlistValue& dictionary) {
    for (const auto& entry : dictionary["frames"].entries())
        _spriteFrames.erase(entry.first);
}

void CCSpriteFrameCache::removeSpriteFramesFromTexture(CCTexture2D* texture) {
    for (auto it = _spriteFrames.begin(); it != _spriteFrames.end();) {
        if (it->second->texture() == texture)
            it = _spriteFrames.erase(it);
        else
            ++it;
    }
}

CCSpriteFrame* CCSpriteFrameCache::spriteFrameByName(const std::string& name) const {
    auto frame = _spriteFrames.find(name);
    if (frame != _spriteFrames.end()) return frame->second.get();
    auto alias = _spriteFramesAliases.find(name);
    if (alias == _spriteFramesAliases.end()) return nullptr;
    frame = _spriteFrames.find(alias->second);
    return frame != _spriteFrames.end() ? frame->second.get() : nullptr;
}
