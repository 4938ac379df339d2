// Property lists (XML and binary), read and walked with every accessor, then handed to the
// file utilities as a filename lookup dictionary.
#include "core/CCFileUtils.h"
#include "fuzz/FuzzSupport.h"
#include "platform/PropertyList.h"

namespace {

void walk(const platform::PlistValue& v, int depth) {
    volatile double sink = v.doubleValue() + v.intValue() + static_cast<double>(v.integerValue()) +
                           v.boolValue() + v.dateValue() +
                           static_cast<double>(v.stringValue().size() + v.dataValue().size());
    (void)sink;
    if (depth > 300) __builtin_trap(); // the reader refuses deeper trees
    for (const auto& [key, value] : v.entries()) {
        if (!(v.objectForKey(key) == v.objectForKey(key))) __builtin_trap();
        walk(value, depth + 1);
    }
    for (const auto& item : v.items())
        walk(item, depth + 1);
    (void)v.objectAtIndex(v.count());
    (void)v.description();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform::PlistValue root = platform::PlistValue::fromMemory(data, size);
    walk(root, 0);

    static platform::Ref<CCFileUtils> utils = [] {
        auto u = platform::make<CCFileUtils>();
        u->init();
        return u;
    }();
    MemoryFile file(data, size);
    if (!file.path().empty()) {
        utils->setFilenameLookup({});
        utils->loadFilenameLookupDictionaryFromFile(file.path());
        for (const auto& [name, substitute] : utils->filenameLookup())
            (void)utils->fullPathForFilename(name);
        utils->purgeCachedEntries();
    }
    return 0;
}
