// The platform's collections: object arrays, identity sets in insertion order, and the
// keyed archive that CCArray encodes itself with.
#pragma once

#include "platform/Object.h"

#include <cstdint>
#include <initializer_list>
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
template <class T> class IdentitySet {
public:
    IdentitySet() = default;
    explicit IdentitySet(std::size_t capacity) { items_.reserve(capacity); }
    IdentitySet(std::initializer_list<T*> objects) {
        for (T* o : objects)
            add(o);
    }

    // False when the object is null or already a member.
    bool add(T* object) {
        if (!object || contains(object)) return false;
        index_.emplace(object, items_.size());
        items_.emplace_back(object);
        return true;
    }
    bool contains(const T* object) const { return index_.count(object) != 0; }
    bool remove(const T* object) {
        auto it = index_.find(object);
        if (it == index_.end()) return false;
        std::size_t at = it->second;
        index_.erase(it);
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(at));
        for (auto& entry : index_)
            if (entry.second > at) --entry.second;
        return true;
    }
    std::size_t count() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    void clear() {
        index_.clear();
        items_.clear();
    }
    // Some member, or null when empty (the first added).
    T* anyObject() const { return items_.empty() ? nullptr : items_.front().get(); }

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<Ref<T>> items_;
    std::unordered_map<const T*, std::size_t> index_;
};

using ObjectSet = IdentitySet<Object>;

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
