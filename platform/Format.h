// printf-style formatting for description texts and log lines. Arguments may be numbers,
// C strings, std::string (printed with %s) and pointers; "%@" texts are written as "%s" with
// describe(object).
#pragma once

#include <cstdio>
#include <string>
#include <type_traits>

namespace platform {

namespace detail {
template <class T> decltype(auto) formatArg(const T& v) {
    if constexpr (std::is_same_v<T, std::string>)
        return v.c_str();
    else
        return v;
}
std::string vformat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
} // namespace detail

template <class... Args> std::string format(const char* fmt, const Args&... args) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    return detail::vformat(fmt, detail::formatArg(args)...);
#pragma GCC diagnostic pop
}

} // namespace platform
