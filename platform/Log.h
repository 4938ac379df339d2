// The engine's console: one line per call, to standard error unless a test captures it.
#pragma once

#include "platform/Format.h"

#include <functional>
#include <string>

namespace platform {

void log(const std::string& line);
// Replaces where lines go (tests capture them); an empty function restores standard error.
void setLogSink(std::function<void(const std::string&)> sink);

} // namespace platform

#define CCLOG(...) ::platform::log(::platform::format(__VA_ARGS__))
#define CCLOGWARN(...) ::platform::log(::platform::format(__VA_ARGS__))
