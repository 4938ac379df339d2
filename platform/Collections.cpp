#include "platform/Collections.h"

namespace platform {

bool ObjectSet::add(Object* object) {
    if (!object || contains(object)) return false;
    index_.emplace(object, items_.size());
    items_.emplace_back(object);
    return true;
}

bool ObjectSet::remove(const Object* object) {
    auto it = index_.find(object);
    if (it == index_.end()) return false;
    std::size_t at = it->second;
    index_.erase(it);
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(at));
    for (auto& [member, position] : index_)
        if (position > at) --position;
    return true;
}

void ObjectSet::clear() {
    index_.clear();
    items_.clear();
}

Array KeyedArchive::decodeArray(const std::string& key) const {
    auto it = arrays_.find(key);
    return it == arrays_.end() ? Array{} : it->second;
}

} // namespace platform
