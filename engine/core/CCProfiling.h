// Named timers for instrumenting code during development. Nothing in the engine's normal
// running makes a timer; the shared registry is there for whoever is chasing a slow path.
// Durations are kept in milliseconds and measured on the monotonic clock the display links use
// (platform::Clock::defaultClock), so a test can drive them with a manual clock.
#pragma once

#include "platform/Object.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CCProfilingTimer;

class CCProfiler : public platform::Object {
public:
    // Created on first use; lives for the process.
    static CCProfiler* sharedProfiler();

    CCProfiler();

    // A new timer stored under its name, replacing any timer of that name (in the same place
    // of the order). The registry owns it.
    CCProfilingTimer* createAndAddTimerWithName(const std::string& timerName);
    void releaseTimer(const std::string& timerName);
    void releaseAllTimers();
    // Prints each timer's description on its own line on standard output, in the order the
    // names were first added.
    void displayTimers();

    // The timer stored under a name, or null.
    CCProfilingTimer* timerWithName(const std::string& timerName) const;
    const std::vector<std::pair<std::string, platform::Ref<CCProfilingTimer>>>& activeTimers() const {
        return _activeTimers;
    }

private:
    std::vector<std::pair<std::string, platform::Ref<CCProfilingTimer>>> _activeTimers;
};

class CCProfilingTimer : public platform::Object {
public:
    bool initWithName(const std::string& timerName);
    // No calls, average and total 0, minimum 10000 ms (no measurement yet), maximum 0; the
    // start time is now.
    void reset();
    // "<name> ::\tavg: ...ms,\tmin: ...ms,\tmax: ...ms,\ttotal: ...s,\tnr calls: <n>"
    std::string description() const override;

    // Starts a measurement now.
    void start();
    // Ends the measurement begun by start (or by init/reset) and adds it.
    void stop();
    // Counts one call that took this many milliseconds and updates the figures.
    void addDuration(double milliseconds);

    const std::string& name() const { return _name; }
    // Seconds on the monotonic clock.
    double startTime() const { return _startTime; }
    double averageTime() const { return _averageTime; }
    double minTime() const { return _minTime; }
    double maxTime() const { return _maxTime; }
    double totalTime() const { return _totalTime; }
    std::uint64_t numberOfCalls() const { return _numberOfCalls; }

private:
    std::string _name;
    double _startTime = 0;
    double _averageTime = 0;
    double _minTime = 10000.0;
    double _maxTime = 0;
    double _totalTime = 0;
    std::uint64_t _numberOfCalls = 0;
};

// Begin/end by name on the shared registry. Begin makes the timer on first use; end and reset
// do nothing for a name that has no timer.
void CCProfilingBeginTimingBlock(const std::string& timerName);
void CCProfilingEndTimingBlock(const std::string& timerName);
void CCProfilingResetTimingBlock(const std::string& timerName);

// Instrumentation that costs nothing unless the build defines CC_ENABLE_PROFILERS.
#ifdef CC_ENABLE_PROFILERS
#define CC_PROFILER_START(name) CCProfilingBeginTimingBlock(name)
#define CC_PROFILER_STOP(name) CCProfilingEndTimingBlock(name)
#define CC_PROFILER_RESET(name) CCProfilingResetTimingBlock(name)
#define CC_PROFILER_DISPLAY_TIMERS() CCProfiler::sharedProfiler()->displayTimers()
#define CC_PROFILER_PURGE_ALL() CCProfiler::sharedProfiler()->releaseAllTimers()
#else
#define CC_PROFILER_START(name) ((void)0)
#define CC_PROFILER_STOP(name) ((void)0)
#define CC_PROFILER_RESET(name) ((void)0)
#define CC_PROFILER_DISPLAY_TIMERS() ((void)0)
#define CC_PROFILER_PURGE_ALL() ((void)0)
#endif
