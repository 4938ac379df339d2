// Resolves resource names to full paths, picking the variant made for the running device:
// by a suffix in the file name ("-hd", "-ipad", ...) or by a per-device resource directory.
//
// Strings stand in for the platform's nil-able strings: an empty result means "not found".
// The compressed-data functions live in CCCompressedData.h, included here for callers that
// want both.
#pragma once

#include "core/CCCompressedData.h"
#include "platform/Object.h"
#include "platform/Paths.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// What a resolved file was made for.
enum ccResolutionType : std::int32_t {
    kCCResolutionUnknown = 0,
    kCCResolutioniPhone = 1,
    kCCResolutioniPhoneRetinaDisplay = 2,
    kCCResolutioniPhone5 = 3,
    kCCResolutioniPhone5RetinaDisplay = 4,
    kCCResolutioniPad = 5,
    kCCResolutioniPadRetinaDisplay = 6,
};

enum CCFileUtilsSearchMode : std::int32_t {
    kCCFileUtilsSearchSuffixMode = 0,
    kCCFileUtilsSearchDirectoryMode = 1, // any value but 0 searches directories
};

// Device key -> suffix or directory. Kept in insertion order: the resolution type of a
// suffix is that of the first key holding it, so the order is part of the answer.
using CCStringTable = std::vector<std::pair<std::string, std::string>>;

class CCCacheValue : public platform::Object {
public:
    bool initWithFullPath(const std::string& path, ccResolutionType resolutionType);

    const std::string& fullpath() const { return _fullpath; }
    void setFullpath(const std::string& path) { _fullpath = path; }
    ccResolutionType resolutionType() const { return _resolutionType; }
    void setResolutionType(ccResolutionType type) { _resolutionType = type; }

private:
    std::string _fullpath;
    ccResolutionType _resolutionType = kCCResolutionUnknown;
};

class CCFileUtils : public platform::Object {
public:
    // Made once, on first use.
    static CCFileUtils* sharedFileUtils();
    // Drops the shared instance (tests; the next call makes a fresh one for the current device).
    static void purgeSharedFileUtils();

    virtual bool init();

    // Empties the resolved-path, ignoring-resolutions and suffix-removal caches.
    void purgeCachedEntries();
    // The device keys to try, from the running device kind, always ending with "default".
    void buildSearchResolutionsOrder();

    // directory/name[.type] for an absolute directory when it exists, else the bundle's answer.
    std::string pathForResource(const std::string& name, const std::string& type,
                                const std::string& directory) const;
    // path with the suffix put before its extension ("a.pvr.ccz" + "-hd" -> "a-hd.pvr.ccz"),
    // when that file exists.
    std::string getPathForFilename(const std::string& path, const std::string& suffix) const;
    // The name's last component in searchPath/name's directory/resourceDirectory.
    std::string getPathForFilename(const std::string& filename, const std::string& resourceDirectory,
                                   const std::string& searchPath) const;
    // The type of the first key (in table order) whose value is the given one.
    ccResolutionType resolutionTypeForKey(const std::string& value, const CCStringTable& dictionary) const;

    std::string fullPathForFilenameIgnoringResolutions(const std::string& filename);
    // The same, or the name itself when nothing is found.
    std::string fullPathFromRelativePathIgnoringResolutions(const std::string& relPath);
    std::string fullPathForFilename(const std::string& filename);
    // "" when not found; resolutionType (may be null) receives the type of the variant found,
    // or on a miss that of the last variant tried.
    std::string fullPathForFilename(const std::string& filename, ccResolutionType* resolutionType);
    // As fullPathForFilename, but the name itself when nothing is found.
    std::string fullPathFromRelativePath(const std::string& relPath, ccResolutionType* resolutionType);
    std::string fullPathFromRelativePath(const std::string& relPath);

    // Reads a lookup property list ("metadata" with "version" 1, "filenames" mapping names to
    // substitutes; entries that are not names are dropped); any other file leaves the lookup
    // table as it is.
    void loadFilenameLookupDictionaryFromFile(const std::string& filename);
    // The standardised path, without the device suffix in suffix mode: the texture cache's key.
    std::string standarizePath(const std::string& path);

    void setEnableiPhoneResourcesOniPad(bool enable);
    // The older name of the same switch.
    void setEnableFallbackSuffixes(bool enable);
    void setiPadRetinaDisplaySuffix(const std::string& suffix);
    void setiPadSuffix(const std::string& suffix);
    void setiPhoneRetinaDisplaySuffix(const std::string& suffix);

    // The path unchanged for an empty suffix; "" when the last component does not contain it;
    // else the path with every occurrence of it in the last component removed.
    std::string removeSuffix(const std::string& suffix, const std::string& path) const;
    // The first answer of removeSuffix over the suffixes of the search order; cached.
    std::string removeSuffixFromFile(const std::string& path);

    bool fileExistsAtPath(const std::string& path, const std::string& suffix) const;
    bool iPhoneRetinaDisplayFileExistsAtPath(const std::string& path) const;
    bool iPadFileExistsAtPath(const std::string& path) const;
    bool iPadRetinaDisplayFileExistsAtPath(const std::string& path) const;

    // None of the setters empties the caches.
    platform::FileManager* fileManager() const { return _fileManager.get(); }
    void setFileManager(platform::FileManager* manager) { _fileManager = manager; }
    platform::Bundle* bundle() const { return _bundle.get(); }
    void setBundle(platform::Bundle* bundle) { _bundle = bundle; }
    bool isEnablediPhoneResourcesOniPad() const { return _enableiPhoneResourcesOniPad; }
    const std::vector<std::string>& searchResolutionsOrder() const { return _searchResolutionsOrder; }
    void setSearchResolutionsOrder(std::vector<std::string> order) {
        _searchResolutionsOrder = std::move(order);
    }
    const CCStringTable& suffixesDict() const { return _suffixesDict; }
    void setSuffixesDict(CCStringTable suffixes) { _suffixesDict = std::move(suffixes); }
    const CCStringTable& directoriesDict() const { return _directoriesDict; }
    void setDirectoriesDict(CCStringTable directories) { _directoriesDict = std::move(directories); }
    CCFileUtilsSearchMode searchMode() const { return _searchMode; }
    void setSearchMode(CCFileUtilsSearchMode mode) { _searchMode = mode; }
    const std::vector<std::string>& searchPath() const { return _searchPath; }
    void setSearchPath(std::vector<std::string> searchPath) { _searchPath = std::move(searchPath); }
    const std::unordered_map<std::string, std::string>& filenameLookup() const { return _filenameLookup; }
    void setFilenameLookup(std::unordered_map<std::string, std::string> lookup) {
        _filenameLookup = std::move(lookup);
    }

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // Class-wide forms, each asking the shared instance. Those whose instance operation has the
    // same parameters carry a "shared" prefix (a static and an instance member cannot overload).
    static std::string sharedFullPathFromRelativePath(const std::string& relPath);
    static std::string sharedFullPathFromRelativePath(const std::string& relPath,
                                                      ccResolutionType* resolutionType);
    static void setRetinaDisplaySuffix(const std::string& suffix);
    static std::string sharedRemoveSuffixFromFile(const std::string& path);
    static bool sharedIPhoneRetinaDisplayFileExistsAtPath(const std::string& path);
    static bool sharedIPadFileExistsAtPath(const std::string& path);
    static bool sharedIPadRetinaDisplayFileExistsAtPath(const std::string& path);

private:
    std::string substituteName(const std::string& filename) const;

    platform::Ref<platform::FileManager> _fileManager;
    platform::Ref<platform::Bundle> _bundle;
    std::unordered_map<std::string, platform::Ref<CCCacheValue>> _fullPathCache;
    std::unordered_map<std::string, std::string> _fullPathNoResolutionsCache;
    std::unordered_map<std::string, std::string> _removeSuffixCache;
    CCStringTable _directoriesDict;
    CCStringTable _suffixesDict;
    std::unordered_map<std::string, std::string> _filenameLookup;
    std::vector<std::string> _searchResolutionsOrder;
    std::vector<std::string> _searchPath;
    CCFileUtilsSearchMode _searchMode = kCCFileUtilsSearchSuffixMode;
    bool _enableiPhoneResourcesOniPad = false;
};
