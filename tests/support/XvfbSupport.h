// A private X server for the tests that need a display, and the child processes they run.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay; // Xlib's Display; its header's macros would clash with GoogleTest's

namespace fltest {

std::string readFile(const std::filesystem::path& path);

// A child process with stdout and stderr going to a file, killed and reaped when dropped.
class ChildProcess {
public:
    // `keepFd` stays open in the child (for Xvfb's -displayfd); `display` sets DISPLAY.
    ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& output, int keepFd = -1,
                 const std::string& display = "");
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running();
    // The exit code once the child ended within the time, or nullopt.
    std::optional<int> wait(double seconds);

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

// Xvfb on a free display of its own (1024x1024, 24 bits), stopped when dropped. Where it cannot
// run, displayName() is empty and skipReason() says why.
class Xvfb {
public:
    explicit Xvfb(const std::filesystem::path& logFile);
    const std::string& displayName() const { return display_; }
    const std::string& skipReason() const { return skipReason_; }

private:
    std::unique_ptr<ChildProcess> server_;
    std::string display_, skipReason_;
};

// The viewable top-level window of that name, looked for until it shows, the time is up or
// `keepLooking` says no more; 0 when none (or without X11 in this build).
unsigned long waitForWindow(_XDisplay* display, const char* name, double seconds,
                            const std::function<bool()>& keepLooking = {});

} // namespace fltest
