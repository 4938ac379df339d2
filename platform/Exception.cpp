#include "platform/Exception.h"

#include "platform/Log.h"

#include <utility>

namespace platform {

Exception::Exception(std::string name, std::string reason)
    : name_(std::move(name)), reason_(std::move(reason)), what_(name_ + ": " + reason_) {}

void raiseInconsistency(const std::string& reason) {
    throw Exception(NSInternalInconsistencyException, reason);
}

void DeferredException::keep(std::exception_ptr e) {
    if (!first_) {
        first_ = std::move(e);
        return;
    }
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& later) {
        CCLOG("engine: a further exception was dropped while an earlier one is on its way: %s", later.what());
    } catch (...) {
        CCLOG("engine: a further exception was dropped while an earlier one is on its way");
    }
}

void DeferredException::rethrow() {
    if (first_) std::rethrow_exception(std::exchange(first_, nullptr));
}

} // namespace platform
