#include "tests/support/XvfbSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#if FL_HAVE_X11
#include <X11/Xlib.h>
#endif

namespace fltest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const fs::path& output, int keepFd,
                           const std::string& display) {
    pid_ = ::fork();
    if (pid_ != 0) return;
    int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
    }
    if (keepFd >= 0) ::fcntl(keepFd, F_SETFD, 0);
    if (!display.empty()) ::setenv("DISPLAY", display.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

ChildProcess::~ChildProcess() {
    if (pid_ <= 0 || exited_) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
}

bool ChildProcess::running() {
    if (pid_ <= 0 || exited_) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    exited_ = true;
    status_ = status;
    return false;
}

std::optional<int> ChildProcess::wait(double seconds) {
    auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (running() && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!exited_ || !WIFEXITED(status_)) return std::nullopt;
    return WEXITSTATUS(status_);
}

namespace {
bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        if (::access((dirs.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}
} // namespace

Xvfb::Xvfb(const fs::path& logFile) {
    if (!onPath("Xvfb")) {
        skipReason_ = "Xvfb is not installed (./dev setup installs it)";
        return;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        skipReason_ = "no pipe for Xvfb";
        return;
    }
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen", "0",
                                 "1024x1024x24", "-nolisten", "tcp", "-noreset"},
        logFile, pipeFds[1]);
    ::close(pipeFds[1]);
    // Xvfb picks a free display itself and writes its number once it accepts connections. It
    // does not reset when its last client leaves, so that one test's end cannot refuse the next.
    std::string number;
    pollfd ready{pipeFds[0], POLLIN, 0};
    char c = 0;
    while (::poll(&ready, 1, 10000) > 0 && ::read(pipeFds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(pipeFds[0]);
    if (number.empty()) {
        server_.reset();
        skipReason_ = "Xvfb could not start: " + readFile(logFile);
        return;
    }
    display_ = ":" + number;
}

#if FL_HAVE_X11
namespace {
::Window findWindow(Display* display, const char* name) {
    ::Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned count = 0;
    ::Window found = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count)) return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        char* title = nullptr;
        XWindowAttributes attributes;
        if (XFetchName(display, children[i], &title) && title && !std::strcmp(title, name) &&
            XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable)
            found = children[i];
        if (title) XFree(title);
    }
    if (children) XFree(children);
    return found;
}
} // namespace

unsigned long waitForWindow(Display* display, const char* name, double seconds,
                            const std::function<bool()>& keepLooking) {
    auto until = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (::Window found = findWindow(display, name)) return found;
        if (Clock::now() >= until || (keepLooking && !keepLooking())) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
#else
unsigned long waitForWindow(_XDisplay*, const char*, double, const std::function<bool()>&) {
    return 0;
}
#endif

} // namespace fltest
