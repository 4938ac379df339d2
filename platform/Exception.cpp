#include "platform/Exception.h"

namespace platform {

Exception::Exception(std::string name, std::string reason)
    : name_(std::move(name)), reason_(std::move(reason)), what_(name_ + ": " + reason_) {}

void raiseInconsistency(const std::string& reason) {
    throw Exception(NSInternalInconsistencyException, reason);
}

} // namespace platform
