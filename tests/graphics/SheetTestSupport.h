// Helpers for the sheet and animation-list tests: a scratch folder for lists the tests write,
// and a second reader of sprite sheets built straight on libplist, so that what the cache
// loads is checked against values read independently from the same file.
#pragma once

#include "platform/Geometry.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace fltest {

// A folder removed with everything in it when the object goes.
class ScratchFolder {
public:
    ScratchFolder() {
        static int serial = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("footlight-sheets-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Writes the text to name (folders made as needed) and answers the full path.
    std::string write(const std::string& name, const std::string& text) const {
        const std::filesystem::path p = path_ / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }
    std::string path(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// An XML property list around the given body.
inline std::string plistXML(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n" +
           body + "\n</plist>\n";
}

// A libplist tree owned for the length of a test.
class RawPlist {
public:
    explicit RawPlist(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
        plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root_);
    }
    ~RawPlist() {
        if (root_) plist_free(root_);
    }
    RawPlist(const RawPlist&) = delete;
    RawPlist& operator=(const RawPlist&) = delete;
    plist_t root() const { return root_; }

private:
    plist_t root_ = nullptr;
};

inline plist_t rawItem(plist_t dict, const char* key) {
    return dict && plist_get_node_type(dict) == PLIST_DICT ? plist_dict_get_item(dict, key) : nullptr;
}

inline double rawNumber(plist_t node) {
    if (!node) return 0;
    if (plist_get_node_type(node) == PLIST_REAL) {
        double v = 0;
        plist_get_real_val(node, &v);
        return v;
    }
    if (plist_get_node_type(node) == PLIST_UINT) {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return static_cast<double>(static_cast<int64_t>(v));
    }
    if (plist_get_node_type(node) == PLIST_STRING) {
        char* s = nullptr;
        plist_get_string_val(node, &s);
        double v = s ? std::atof(s) : 0;
        std::free(s);
        return v;
    }
    return 0;
}

inline std::string rawString(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_STRING) return {};
    char* s = nullptr;
    plist_get_string_val(node, &s);
    std::string out = s ? s : "";
    std::free(s);
    return out;
}

inline bool rawBool(plist_t node) {
    uint8_t v = 0;
    if (node && plist_get_node_type(node) == PLIST_BOOLEAN) plist_get_bool_val(node, &v);
    return v != 0;
}

// Keys of a dictionary node with their values.
inline std::vector<std::pair<std::string, plist_t>> rawEntries(plist_t dict) {
    std::vector<std::pair<std::string, plist_t>> out;
    if (!dict || plist_get_node_type(dict) != PLIST_DICT) return out;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(dict, &it);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, it, &key, &value);
        if (!key) break;
        out.emplace_back(key, value);
        std::free(key);
    }
    std::free(it);
    return out;
}

inline std::vector<plist_t> rawItems(plist_t array) {
    std::vector<plist_t> out;
    if (!array || plist_get_node_type(array) != PLIST_ARRAY) return out;
    for (uint32_t i = 0; i < plist_array_get_size(array); ++i)
        out.push_back(plist_array_get_item(array, i));
    return out;
}

// "{x,y}" and "{{x,y},{w,h}}", read with sscanf.
inline CGPoint rawPair(plist_t node) {
    double a = 0, b = 0;
    std::sscanf(rawString(node).c_str(), " { %lf , %lf }", &a, &b);
    return CGPointMake(a, b);
}

inline CGRect rawRect(plist_t node) {
    double x = 0, y = 0, w = 0, h = 0;
    std::sscanf(rawString(node).c_str(), " { { %lf , %lf } , { %lf , %lf } }", &x, &y, &w, &h);
    return CGRectMake(x, y, w, h);
}

// One frame of a sheet as the file states it, in pixels.
struct ReferenceFrame {
    CGRect rect;
    bool rotated = false;
    CGPoint offset;
    CGSize originalSize;
    std::vector<std::string> aliases;
};

struct ReferenceSheet {
    int format = 0;
    std::string textureFileName;
    std::map<std::string, ReferenceFrame> frames;
};

inline ReferenceSheet referenceSheet(const std::filesystem::path& file) {
    RawPlist plist(file);
    ReferenceSheet sheet;
    plist_t metadata = rawItem(plist.root(), "metadata");
    sheet.format = static_cast<int>(rawNumber(rawItem(metadata, "format")));
    sheet.textureFileName = rawString(rawItem(metadata, "textureFileName"));
    for (const auto& [name, d] : rawEntries(rawItem(plist.root(), "frames"))) {
        ReferenceFrame f;
        switch (sheet.format) {
        case 0:
            f.rect = CGRectMake(rawNumber(rawItem(d, "x")), rawNumber(rawItem(d, "y")),
                                rawNumber(rawItem(d, "width")), rawNumber(rawItem(d, "height")));
            f.offset = CGPointMake(rawNumber(rawItem(d, "offsetX")), rawNumber(rawItem(d, "offsetY")));
            f.originalSize = CGSizeMake(std::abs(rawNumber(rawItem(d, "originalWidth"))),
                                        std::abs(rawNumber(rawItem(d, "originalHeight"))));
            break;
        case 1:
        case 2: {
            f.rect = rawRect(rawItem(d, "frame"));
            f.rotated = sheet.format == 2 && rawBool(rawItem(d, "rotated"));
            f.offset = rawPair(rawItem(d, "offset"));
            CGPoint size = rawPair(rawItem(d, "sourceSize"));
            f.originalSize = CGSizeMake(size.x, size.y);
            break;
        }
        case 3: {
            CGRect stored = rawRect(rawItem(d, "textureRect"));
            CGPoint size = rawPair(rawItem(d, "spriteSize"));
            f.rect = CGRectMake(stored.origin.x, stored.origin.y, size.x, size.y);
            f.rotated = rawBool(rawItem(d, "textureRotated"));
            f.offset = rawPair(rawItem(d, "spriteOffset"));
            CGPoint source = rawPair(rawItem(d, "spriteSourceSize"));
            f.originalSize = CGSizeMake(source.x, source.y);
            for (plist_t alias : rawItems(rawItem(d, "aliases")))
                f.aliases.push_back(rawString(alias));
            break;
        }
        default:
            break;
        }
        sheet.frames.emplace(name, f);
    }
    return sheet;
}

} // namespace fltest
