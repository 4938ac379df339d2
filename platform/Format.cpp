#include "platform/Format.h"

#include <cstdarg>
#include <vector>

namespace platform::detail {

std::string vformat(const char* fmt, ...) {
    char small[256];
    va_list args;
    va_start(args, fmt);
    int n = std::vsnprintf(small, sizeof small, fmt, args);
    va_end(args);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::vector<char> big(static_cast<size_t>(n) + 1);
    va_start(args, fmt);
    std::vsnprintf(big.data(), big.size(), fmt, args);
    va_end(args);
    return std::string(big.data(), static_cast<size_t>(n));
}

} // namespace platform::detail
