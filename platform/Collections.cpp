#include "platform/Collections.h"

namespace platform {

Array KeyedArchive::decodeArray(const std::string& key) const {
    auto it = arrays_.find(key);
    return it == arrays_.end() ? Array{} : it->second;
}

} // namespace platform
