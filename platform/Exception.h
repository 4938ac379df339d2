// The one exception type the engine throws: a name and a reason, as the original raised them.
#pragma once

#include <exception>
#include <string>

namespace platform {

inline constexpr const char* NSInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char* NSInvalidArgumentException = "NSInvalidArgumentException";

class Exception : public std::exception {
public:
    Exception(std::string name, std::string reason);
    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::string name_, reason_, what_;
};

// Throws NSInternalInconsistencyException with the reason: the engine's assertion of a
// programmer error.
[[noreturn]] void raiseInconsistency(const std::string& reason);

} // namespace platform

// Checks a programmer's precondition; a broken one throws NSInternalInconsistencyException.
#define CCAssert(condition, reason)                                                                          \
    do {                                                                                                     \
        if (!(condition)) ::platform::raiseInconsistency(reason);                                            \
    } while (0)
