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

// Runs steps that must all happen even when one of them throws (the calls of a scene switch):
// the first exception is kept and rethrown once the caller has run every step; later ones are
// logged and dropped, as only one can reach the caller.
class DeferredException {
public:
    // Runs the step; false when it threw.
    template <class Step> bool run(Step&& step) {
        try {
            step();
            return true;
        } catch (...) {
            keep(std::current_exception());
            return false;
        }
    }
    // Throws the first exception caught, if any.
    void rethrow();

private:
    void keep(std::exception_ptr e);
    std::exception_ptr first_;
};

} // namespace platform

// Checks a programmer's precondition; a broken one throws NSInternalInconsistencyException.
#define CCAssert(condition, reason)                                                                          \
    do {                                                                                                     \
        if (!(condition)) ::platform::raiseInconsistency(reason);                                            \
    } while (0)
