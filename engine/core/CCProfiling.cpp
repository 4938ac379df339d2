#include "core/CCProfiling.h"

#include "platform/DisplayLink.h"
#include "platform/Format.h"

#include <algorithm>
#include <cstdio>

namespace {

double now() {
    return platform::Clock::defaultClock()->now();
}

} // namespace

CCProfiler* CCProfiler::sharedProfiler() {
    static platform::Ref<CCProfiler> shared = platform::make<CCProfiler>();
    return shared.get();
}

CCProfiler::CCProfiler() {
    _activeTimers.reserve(10);
}

CCProfilingTimer* CCProfiler::createAndAddTimerWithName(const std::string& timerName) {
    auto timer = platform::make<CCProfilingTimer>();
    timer->initWithName(timerName);
    auto found = std::find_if(_activeTimers.begin(), _activeTimers.end(),
                              [&](const auto& entry) { return entry.first == timerName; });
    if (found != _activeTimers.end())
        found->second = timer;
    else
        _activeTimers.emplace_back(timerName, timer);
    return timer.get();
}

void CCProfiler::releaseTimer(const std::string& timerName) {
    std::erase_if(_activeTimers, [&](const auto& entry) { return entry.first == timerName; });
}

void CCProfiler::releaseAllTimers() {
    _activeTimers.clear();
}

void CCProfiler::displayTimers() {
    for (const auto& [name, timer] : _activeTimers)
        std::puts(timer->description().c_str());
    std::fflush(stdout);
}

CCProfilingTimer* CCProfiler::timerWithName(const std::string& timerName) const {
    for (const auto& [name, timer] : _activeTimers)
        if (name == timerName) return timer.get();
    return nullptr;
}

bool CCProfilingTimer::initWithName(const std::string& timerName) {
    _name = timerName;
    reset();
    return true;
}

void CCProfilingTimer::reset() {
    _numberOfCalls = 0;
    _averageTime = 0;
    _totalTime = 0;
    _minTime = 10000.0;
    _maxTime = 0;
    _startTime = now();
}

std::string CCProfilingTimer::description() const {
    return platform::format("%s ::\tavg: %fms,\tmin: %fms,\tmax: %fms,\ttotal: %.2fs,\tnr calls: %ld", _name,
                            _averageTime, _minTime, _maxTime, _totalTime / 1000.0,
                            static_cast<long>(_numberOfCalls));
}

void CCProfilingTimer::start() {
    _startTime = now();
}

void CCProfilingTimer::stop() {
    // A clock that a test has swapped could stand behind the start: never count negative time.
    addDuration(std::max(0.0, (now() - _startTime) * 1000.0));
}

void CCProfilingTimer::addDuration(double milliseconds) {
    // The first measurement sets the minimum, even one longer than the 10 s placeholder.
    _minTime = _numberOfCalls == 0 ? milliseconds : std::min(_minTime, milliseconds);
    _maxTime = std::max(_maxTime, milliseconds);
    _totalTime += milliseconds;
    ++_numberOfCalls;
    _averageTime = _totalTime / double(_numberOfCalls);
}

void CCProfilingBeginTimingBlock(const std::string& timerName) {
    CCProfiler* profiler = CCProfiler::sharedProfiler();
    CCProfilingTimer* timer = profiler->timerWithName(timerName);
    if (!timer) timer = profiler->createAndAddTimerWithName(timerName);
    timer->start();
}

void CCProfilingEndTimingBlock(const std::string& timerName) {
    if (CCProfilingTimer* timer = CCProfiler::sharedProfiler()->timerWithName(timerName)) timer->stop();
}

void CCProfilingResetTimingBlock(const std::string& timerName) {
    if (CCProfilingTimer* timer = CCProfiler::sharedProfiler()->timerWithName(timerName)) timer->reset();
}
