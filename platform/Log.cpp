#include "platform/Log.h"

#include <cstdio>
#include <mutex>

namespace platform {

namespace {
std::mutex logMutex;
std::function<void(const std::string&)>& sink() {
    static std::function<void(const std::string&)> s;
    return s;
}
} // namespace

void log(const std::string& line) {
    std::lock_guard lock(logMutex);
    if (sink())
        sink()(line);
    else
        std::fprintf(stderr, "%s\n", line.c_str());
}

void setLogSink(std::function<void(const std::string&)> s) {
    std::lock_guard lock(logMutex);
    sink() = std::move(s);
}

} // namespace platform
