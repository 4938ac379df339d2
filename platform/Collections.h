// The platform's collections: object arrays, identity sets in insertion order, and the
// keyed archive that CCArray encodes itself with.
#pragma once

#include "platform/Object.h"

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

using Array = std::vector<Ref<Object>>;

// NSNotFound: the largest signed 64-bit value.
inline constexpr std::uint64_t NSNotFound = 0x7fffffffffffffffULL;

// A set of retained objects compared by identity, iterated in the order they were added so
// results are deterministic.
class ObjectSet {
public:
    ObjectSet() = default;
    explicit ObjectSet(std::size_t capacity) { items_.reserve(capacity); }

    // False when the object was already a member.
    bool add(Object* object);
    bool contains(const Object* object) const { return index_.count(object) != 0; }
    bool remove(const Object* object);
    std::size_t count() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    void clear();

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<Ref<Object>> items_;
    std::unordered_map<const Object*, std::size_t> index_;
};

// A minimal keyed archive: object arrays stored under string keys.
class KeyedArchive {
public:
    void encodeArray(const std::string& key, Array array) { arrays_[key] = std::move(array); }
    // Empty when nothing was stored under the key.
    Array decodeArray(const std::string& key) const;
    bool containsKey(const std::string& key) const { return arrays_.count(key) != 0; }

private:
    std::map<std::string, Array> arrays_;
};

} // namespace platform
