#include "core/CCFileUtils.h"

#include "core/CCConfiguration.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"

#include <mutex>

using platform::Paths;

namespace {

const char* const kKeyiPhone = "iphone";
const char* const kKeyiPhoneHD = "iphonehd";
const char* const kKeyiPhone5 = "iphone5";
const char* const kKeyiPhone5HD = "iphone5hd";
const char* const kKeyiPad = "ipad";
const char* const kKeyiPadHD = "ipadhd";
const char* const kKeyDefault = "default";

const std::string* lookup(const CCStringTable& table, const std::string& key) {
    for (const auto& entry : table)
        if (entry.first == key) return &entry.second;
    return nullptr;
}

void replace(CCStringTable& table, const std::string& key, const std::string& value) {
    for (auto& entry : table) {
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    }
    table.emplace_back(key, value);
}

std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}
platform::Ref<CCFileUtils>& sharedInstance() {
    static platform::Ref<CCFileUtils> shared;
    return shared;
}

} // namespace

bool CCCacheValue::initWithFullPath(const std::string& path, ccResolutionType resolutionType) {
    _fullpath = path;
    _resolutionType = resolutionType;
    return true;
}

CCFileUtils* CCFileUtils::sharedFileUtils() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    auto& shared = sharedInstance();
    if (!shared) {
        shared = platform::make<CCFileUtils>();
        shared->init();
    }
    return shared.get();
}

void CCFileUtils::purgeSharedFileUtils() {
    platform::Ref<CCFileUtils> old;
    {
        std::lock_guard<std::mutex> lock(sharedMutex());
        old = std::move(sharedInstance());
    }
}

bool CCFileUtils::init() {
    _fileManager = platform::make<platform::FileManager>();
    _bundle = platform::Bundle::mainBundle();
    _fullPathCache.reserve(30);
    _fullPathNoResolutionsCache.reserve(30);
    _removeSuffixCache.reserve(30);
    _directoriesDict = {
        {kKeyiPhone, "resources-iphone"},
        {kKeyiPhoneHD, "resources-iphonehd"},
        {kKeyiPhone5, "resources-iphone5"},
        {kKeyiPhone5HD, "resources-iphone5hd"},
        {kKeyiPad, "resources-ipad"},
        {kKeyiPadHD, "resources-ipadhd"},
        {kKeyDefault, ""},
    };
    _suffixesDict = {
        {kKeyiPhone, ""},          {kKeyiPhoneHD, "-hd"},
        {kKeyiPhone5, "-iphone5"}, {kKeyiPhone5HD, "-iphone5hd"},
        {kKeyiPad, "-ipad"},       {kKeyiPadHD, "-ipadhd"},
        {kKeyDefault, ""},
    };
    _filenameLookup.clear();
    _filenameLookup.reserve(10);
    _searchResolutionsOrder.reserve(5);
    _searchPath = {""};
    _searchMode = kCCFileUtilsSearchSuffixMode;
    _enableiPhoneResourcesOniPad = false;
    buildSearchResolutionsOrder();
    return true;
}

void CCFileUtils::purgeCachedEntries() {
    _fullPathCache.clear();
    _fullPathNoResolutionsCache.clear();
    _removeSuffixCache.clear();
}

void CCFileUtils::buildSearchResolutionsOrder() {
    _searchResolutionsOrder.clear();
    switch (CCConfiguration::sharedConfiguration()->runningDevice()) {
    case kCCDeviceiPhone:
        _searchResolutionsOrder = {kKeyiPhone};
        break;
    case kCCDeviceiPhoneRetinaDisplay:
        _searchResolutionsOrder = {kKeyiPhoneHD, kKeyiPhone};
        break;
    case kCCDeviceiPhone5:
        _searchResolutionsOrder = {kKeyiPhone5, kKeyiPhone};
        break;
    case kCCDeviceiPhone5RetinaDisplay:
        _searchResolutionsOrder = {kKeyiPhone5HD, kKeyiPhoneHD, kKeyiPhone5, kKeyiPhone};
        break;
    case kCCDeviceiPad:
        _searchResolutionsOrder = {kKeyiPad};
        if (_enableiPhoneResourcesOniPad)
            _searchResolutionsOrder.insert(_searchResolutionsOrder.end(), {kKeyiPhone5HD, kKeyiPhoneHD});
        break;
    case kCCDeviceiPadRetinaDisplay:
        _searchResolutionsOrder = {kKeyiPadHD, kKeyiPad};
        if (_enableiPhoneResourcesOniPad)
            _searchResolutionsOrder.insert(_searchResolutionsOrder.end(), {kKeyiPhone5HD, kKeyiPhoneHD});
        break;
    default:
        break;
    }
    _searchResolutionsOrder.push_back(kKeyDefault);
}

std::string CCFileUtils::pathForResource(const std::string& name, const std::string& type,
                                         const std::string& directory) const {
    if (Paths::isAbsolutePath(directory)) {
        if (name.empty()) return {};
        std::string path = Paths::stringByAppendingPathComponent(
            directory, Paths::stringByAppendingPathExtension(name, type));
        return _fileManager && _fileManager->fileExistsAtPath(path) ? path : std::string();
    }
    return _bundle ? _bundle->pathForResource(name, type, directory) : std::string();
}

std::string CCFileUtils::getPathForFilename(const std::string& path, const std::string& suffix) const {
    std::string directory = Paths::stringByDeletingLastPathComponent(path);
    std::string name = Paths::lastPathComponent(path);
    if (!suffix.empty()) {
        // A name that already carries the suffix ("bg-hd.png" on a retina phone) is used as it is.
        if (Paths::stringByDeletingPathExtension(name).find(suffix) == std::string::npos) {
            std::string extension = Paths::compoundPathExtension(name);
            std::string base = Paths::stringByDeletingCompoundPathExtension(name);
            name = Paths::stringByAppendingPathExtension(base + suffix, extension);
        }
    }
    if (!Paths::isAbsolutePath(path)) return pathForResource(name, "", directory);
    std::string full = Paths::stringByAppendingPathComponent(directory, name);
    return _fileManager && _fileManager->fileExistsAtPath(full) ? full : std::string();
}

std::string CCFileUtils::getPathForFilename(const std::string& filename, const std::string& resourceDirectory,
                                            const std::string& searchPath) const {
    std::string fileDirectory = Paths::stringByDeletingLastPathComponent(filename);
    std::string name = Paths::lastPathComponent(filename);
    std::string directory = Paths::stringByAppendingPathComponent(
        Paths::stringByAppendingPathComponent(searchPath, fileDirectory), resourceDirectory);
    if (!Paths::isAbsolutePath(filename)) return pathForResource(name, "", directory);
    std::string full = Paths::stringByAppendingPathComponent(directory, name);
    return _fileManager && _fileManager->fileExistsAtPath(full) ? full : std::string();
}

ccResolutionType CCFileUtils::resolutionTypeForKey(const std::string& value,
                                                   const CCStringTable& dictionary) const {
    static const std::pair<const char*, ccResolutionType> types[] = {
        {kKeyiPhone, kCCResolutioniPhone},   {kKeyiPhoneHD, kCCResolutioniPhoneRetinaDisplay},
        {kKeyiPhone5, kCCResolutioniPhone5}, {kKeyiPhone5HD, kCCResolutioniPhone5RetinaDisplay},
        {kKeyiPad, kCCResolutioniPad},       {kKeyiPadHD, kCCResolutioniPadRetinaDisplay},
    };
    for (const auto& [key, entry] : dictionary) {
        if (entry != value) continue;
        for (const auto& [name, type] : types)
            if (key == name) return type;
        return kCCResolutionUnknown; // "default", or a key we do not know
    }
    return kCCResolutionUnknown;
}

std::string CCFileUtils::substituteName(const std::string& filename) const {
    auto found = _filenameLookup.find(filename);
    return found == _filenameLookup.end() ? filename : found->second;
}

std::string CCFileUtils::fullPathForFilenameIgnoringResolutions(const std::string& filename) {
    if (filename.empty()) return {};
    if (Paths::isAbsolutePath(filename)) return filename;
    if (auto cached = _fullPathNoResolutionsCache.find(filename); cached != _fullPathNoResolutionsCache.end())
        return cached->second;
    std::string name = substituteName(filename);
    for (const std::string& directory : _searchPath) {
        std::string path = Paths::stringByAppendingPathComponent(directory, name);
        std::string found;
        if (_fileManager && _fileManager->fileExistsAtPath(path)) {
            found = path;
        } else if (_bundle) {
            found = _bundle->pathForResource(Paths::lastPathComponent(path), "",
                                             Paths::stringByDeletingLastPathComponent(path));
        }
        if (!found.empty()) {
            _fullPathNoResolutionsCache[filename] = found;
            return found;
        }
    }
    return {};
}

std::string CCFileUtils::fullPathFromRelativePathIgnoringResolutions(const std::string& relPath) {
    std::string found = fullPathForFilenameIgnoringResolutions(relPath);
    return found.empty() ? relPath : found;
}

std::string CCFileUtils::fullPathForFilename(const std::string& filename) {
    return fullPathForFilename(filename, nullptr);
}

std::string CCFileUtils::fullPathForFilename(const std::string& filename, ccResolutionType* resolutionType) {
    if (resolutionType) *resolutionType = kCCResolutionUnknown;
    // An empty name would resolve to the resource folder itself.
    if (filename.empty()) return {};
    if (Paths::isAbsolutePath(filename)) return filename;
    if (auto cached = _fullPathCache.find(filename); cached != _fullPathCache.end()) {
        if (resolutionType) *resolutionType = cached->second->resolutionType();
        return cached->second->fullpath();
    }
    std::string name = substituteName(filename);
    std::string found;
    ccResolutionType type = kCCResolutionUnknown;
    for (const std::string& directory : _searchPath) {
        for (const std::string& key : _searchResolutionsOrder) {
            if (_searchMode == kCCFileUtilsSearchSuffixMode) {
                const std::string* suffix = lookup(_suffixesDict, key);
                std::string s = suffix ? *suffix : std::string();
                type = resolutionTypeForKey(s, _suffixesDict);
                found = getPathForFilename(Paths::stringByAppendingPathComponent(directory, name), s);
            } else {
                const std::string* dir = lookup(_directoriesDict, key);
                std::string d = dir ? *dir : std::string();
                type = resolutionTypeForKey(d, _directoriesDict);
                found = getPathForFilename(name, d, directory);
            }
            if (!found.empty()) break;
        }
        if (!found.empty()) break;
    }
    // A miss still reports the type of the last variant tried.
    if (resolutionType) *resolutionType = type;
    if (found.empty()) return {};
    auto value = platform::make<CCCacheValue>();
    value->initWithFullPath(found, type);
    _fullPathCache[filename] = value;
    return found;
}

std::string CCFileUtils::fullPathFromRelativePath(const std::string& relPath,
                                                  ccResolutionType* resolutionType) {
    std::string found = fullPathForFilename(relPath, resolutionType);
    return found.empty() ? relPath : found;
}

std::string CCFileUtils::fullPathFromRelativePath(const std::string& relPath) {
    return fullPathFromRelativePath(relPath, nullptr);
}

void CCFileUtils::loadFilenameLookupDictionaryFromFile(const std::string& filename) {
    std::string path = fullPathForFilenameIgnoringResolutions(filename);
    if (path.empty()) return;
    platform::PlistValue dict = platform::dictionaryWithContentsOfFile(path);
    const platform::PlistValue& version = dict["metadata"]["version"];
    if (version.integerValue() != 1) {
        CCLOG("CCFileUtils: %s is not a version 1 filename lookup dictionary", filename);
        return;
    }
    // A version 1 file without names empties the table.
    const platform::PlistValue& filenames = dict["filenames"];
    std::unordered_map<std::string, std::string> table;
    for (const auto& [name, substitute] : filenames.entries())
        if (substitute.isString()) table[name] = substitute.stringValue();
    _filenameLookup = std::move(table);
}

std::string CCFileUtils::standarizePath(const std::string& path) {
    std::string standard = Paths::stringByStandardizingPath(path);
    if (_searchMode == kCCFileUtilsSearchSuffixMode) standard = removeSuffixFromFile(standard);
    return standard;
}

void CCFileUtils::setEnableiPhoneResourcesOniPad(bool enable) {
    if (_enableiPhoneResourcesOniPad == enable) return;
    _enableiPhoneResourcesOniPad = enable;
    buildSearchResolutionsOrder();
}

void CCFileUtils::setEnableFallbackSuffixes(bool enable) {
    setEnableiPhoneResourcesOniPad(enable);
}

void CCFileUtils::setiPadRetinaDisplaySuffix(const std::string& suffix) {
    replace(_suffixesDict, kKeyiPadHD, suffix);
}
void CCFileUtils::setiPadSuffix(const std::string& suffix) {
    replace(_suffixesDict, kKeyiPad, suffix);
}
void CCFileUtils::setiPhoneRetinaDisplaySuffix(const std::string& suffix) {
    replace(_suffixesDict, kKeyiPhoneHD, suffix);
}

std::string CCFileUtils::removeSuffix(const std::string& suffix, const std::string& path) const {
    if (suffix.empty()) return path;
    std::string name = Paths::lastPathComponent(path);
    if (name.find(suffix) == std::string::npos) return {};
    std::string stripped;
    for (std::size_t i = 0; i < name.size();) {
        if (name.compare(i, suffix.size(), suffix) == 0) {
            i += suffix.size();
        } else {
            stripped += name[i++];
        }
    }
    return Paths::stringByAppendingPathComponent(Paths::stringByDeletingLastPathComponent(path), stripped);
}

std::string CCFileUtils::removeSuffixFromFile(const std::string& path) {
    if (auto cached = _removeSuffixCache.find(path); cached != _removeSuffixCache.end())
        return cached->second;
    std::string result = path;
    for (const std::string& key : _searchResolutionsOrder) {
        const std::string* suffix = lookup(_suffixesDict, key);
        std::string stripped = removeSuffix(suffix ? *suffix : std::string(), path);
        if (!stripped.empty()) {
            result = stripped;
            break;
        }
    }
    _removeSuffixCache[path] = result;
    return result;
}

bool CCFileUtils::fileExistsAtPath(const std::string& path, const std::string& suffix) const {
    if (path.empty()) return false;
    std::string full = path;
    if (!Paths::isAbsolutePath(path) && _bundle) {
        std::string inBundle = _bundle->pathForResource(path, "", "");
        if (!inBundle.empty()) full = inBundle;
    }
    return !getPathForFilename(full, suffix).empty();
}

bool CCFileUtils::iPhoneRetinaDisplayFileExistsAtPath(const std::string& path) const {
    const std::string* suffix = lookup(_suffixesDict, kKeyiPhoneHD);
    return fileExistsAtPath(path, suffix ? *suffix : std::string());
}

bool CCFileUtils::iPadFileExistsAtPath(const std::string& path) const {
    const std::string* suffix = lookup(_suffixesDict, kKeyiPad);
    return fileExistsAtPath(path, suffix ? *suffix : std::string());
}

bool CCFileUtils::iPadRetinaDisplayFileExistsAtPath(const std::string& path) const {
    const std::string* suffix = lookup(_suffixesDict, kKeyiPadHD);
    return fileExistsAtPath(path, suffix ? *suffix : std::string());
}
