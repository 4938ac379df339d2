// The shared store of sprite frames by name, filled from sprite-sheet property lists (formats
// 0 to 3) or by hand. It also keeps alias names for frames (format 3) and the names of the
// sheets already loaded, so that loading a sheet again does nothing.
//
// Sheets are outside data: a sheet that is missing, unreadable or of the wrong shape never
// stops the program. Frame entries that are not dictionaries, or that hold a value of the
// wrong type, are skipped; a missing key reads as zero.
#pragma once

#include "platform/Object.h"
#include "platform/PropertyList.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <variant>

class CCSpriteFrame;
class CCTexture2D;

// Where the frames of a sheet take their texture from: a file name (loaded when a frame is
// first asked for its texture), a texture object, or nothing.
using CCTextureReference = std::variant<std::monostate, std::string, CCTexture2D*>;

class CCSpriteFrameCache : public platform::Object {
public:
    // Made with init on first use.
    static CCSpriteFrameCache* sharedSpriteFrameCache();
    // Drops the shared instance; the next request makes a new one.
    static void purgeSharedSpriteFrameCache();

    CCSpriteFrameCache();
    ~CCSpriteFrameCache() override;
    virtual bool init();
    std::string description() const override;

    // The sheet is the root dictionary of a sprite-sheet property list.
    void addSpriteFramesWithDictionaryTextureReference(const platform::PlistValue& dictionary,
                                                       const CCTextureReference& textureReference);
    void addSpriteFramesWithDictionary(const platform::PlistValue& dictionary,
                                       const std::string& textureFilename);
    void addSpriteFramesWithDictionary(const platform::PlistValue& dictionary, CCTexture2D* texture);
    // Nothing when the sheet is marked loaded; else reads it and marks it loaded, also when it
    // could not be read.
    void addSpriteFramesWithFileTextureReference(const std::string& plist,
                                                 const CCTextureReference& textureReference);
    void addSpriteFramesWithFile(const std::string& plist, const std::string& textureFilename);
    void addSpriteFramesWithFile(const std::string& plist, CCTexture2D* texture);
    // The texture file is the sheet's "textureFileName" beside the sheet, or the sheet's name
    // with the extension "png".
    void addSpriteFramesWithFile(const std::string& plist);
    // Stores the frame (retained) under the name, replacing any frame of that name.
    void addSpriteFrame(CCSpriteFrame* frame, const std::string& frameName);

    // Empties frames, aliases and loaded sheet names.
    void removeSpriteFrames();
    // Removes the frames only the cache holds; when any went, every sheet may load again.
    void removeUnusedSpriteFrames();
    // An alias removes its target frame and itself. An empty name does nothing.
    void removeSpriteFrameByName(const std::string& name);
    void removeSpriteFramesFromFile(const std::string& plist);
    // Removes the frames named in the sheet's "frames"; aliases stay.
    void removeSpriteFramesFromDictionary(const platform::PlistValue& dictionary);
    // Removes every frame whose texture is this very object.
    void removeSpriteFramesFromTexture(CCTexture2D* texture);

    // The frame under the name, else under the name the alias maps to, else null. The cache
    // owns the frame; a caller that keeps it retains it.
    CCSpriteFrame* spriteFrameByName(const std::string& name) const;

    // For tests and diagnostics: what the cache holds.
    std::size_t spriteFrameCount() const { return _spriteFrames.size(); }
    bool isLoaded(const std::string& plist) const { return _loadedFilenames.count(plist) != 0; }

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // Named apart from the current forms, which take the same parameters.
    void addSpriteFramesWithFileTextureFile(const std::string& plist, const std::string& textureFile) {
        addSpriteFramesWithFile(plist, textureFile);
    }
    void addSpriteFramesWithDictionaryTextureFile(const platform::PlistValue& dictionary,
                                                  const std::string& textureFile) {
        addSpriteFramesWithDictionary(dictionary, textureFile);
    }

private:
    std::unordered_map<std::string, platform::Ref<CCSpriteFrame>> _spriteFrames;
    std::unordered_map<std::string, std::string> _spriteFramesAliases;
    std::unordered_set<std::string> _loadedFilenames;
};
