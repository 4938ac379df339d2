#include "platform/Selector.h"

namespace platform::detail {

std::string selectorName(std::string_view qualified, std::size_t arity) {
    auto colon = qualified.rfind("::");
    std::string name(colon == std::string_view::npos ? qualified : qualified.substr(colon + 2));
    // Spaces the preprocessor may keep around the name.
    while (!name.empty() && name.front() == ' ')
        name.erase(name.begin());
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    name.append(arity, ':');
    return name;
}

} // namespace platform::detail
