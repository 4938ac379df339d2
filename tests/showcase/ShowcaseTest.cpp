// The showcase as a user runs it: its command line, and its window on a real X server (Xvfb).
#include "platform/Image.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path scratchDir(const char* name) {
    fs::path dir = fs::temp_directory_path() / (std::string(name) + "-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir;
}

// A child process with stdout and stderr going to a file, killed and reaped when dropped.
class Child {
public:
    // `keepFd` stays open in the child (for Xvfb's -displayfd); `display` sets DISPLAY.
    Child(const std::vector<std::string>& argv, const fs::path& output, int keepFd = -1,
          const std::string& display = "") {
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
    ~Child() {
        if (pid_ <= 0 || exited_) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    bool running() {
        if (exited_) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
        exited_ = true;
        status_ = status;
        return false;
    }
    // The exit code once the child ended within the time, or nullopt.
    std::optional<int> wait(double seconds) {
        auto until = Clock::now() + std::chrono::duration<double>(seconds);
        while (running() && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!exited_ || !WIFEXITED(status_)) return std::nullopt;
        return WEXITSTATUS(status_);
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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

// A top-level window with that name, viewable, or 0.
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

TEST(Showcase, BadArgumentsPrintTheUsageAndExitWithTwo) {
    fs::path dir = scratchDir("fl-showcase-args");
    const std::vector<std::vector<std::string>> bad = {
        {"--seconds", "abc"}, {"--seconds", "2x"}, {"--seconds", "-1"}, {"--seconds"}, {"--out"}, {"--fast"}};
    for (const auto& args : bad) {
        std::vector<std::string> argv{FL_SHOWCASE_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        Child showcase(argv, dir / "output.txt");
        std::optional<int> code = showcase.wait(60);
        std::string output = readFile(dir / "output.txt");
        EXPECT_EQ(code, 2) << args[0] << " " << output;
        EXPECT_NE(output.find("usage: showcase"), std::string::npos) << args[0];
        EXPECT_EQ(output.find("frames"), std::string::npos) << "nothing runs: " << output;
    }
    fs::remove_all(dir);
}

// The showcase runs a second and a half in a window on Xvfb. While the window is open, what the
// X server shows in it is read back; it must be the showcase's own frame: equal, pixel for
// pixel, to the last presented frame (written at the end) wherever the first scene stands still.
TEST(Showcase, TheWindowShowsThePresentedFrames) {
    if (!onPath("Xvfb"))
        GTEST_SKIP() << "Xvfb is not installed (./dev setup installs it): window not checked";
    fs::path dir = scratchDir("fl-showcase-window");
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    auto xvfb =
        std::make_unique<Child>(std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(pipeFds[1]),
                                                         "-screen", "0", "1024x1024x24", "-nolisten", "tcp"},
                                dir / "xvfb.txt", pipeFds[1]);
    ::close(pipeFds[1]);
    // Xvfb picks a free display itself and writes its number once it accepts connections.
    std::string number;
    pollfd ready{pipeFds[0], POLLIN, 0};
    char c = 0;
    while (::poll(&ready, 1, 10000) > 0 && ::read(pipeFds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(pipeFds[0]);
    if (number.empty()) {
        std::string log = readFile(dir / "xvfb.txt");
        xvfb.reset();
        fs::remove_all(dir);
        GTEST_SKIP() << "Xvfb could not start: window not checked. " << log;
    }
    std::string displayName = ":" + number;
    Display* display = XOpenDisplay(displayName.c_str());
    ASSERT_NE(display, nullptr);

    Child showcase({FL_SHOWCASE_PATH, "--window", "--seconds", "1.5", "--out", (dir / "frame.png").string()},
                   dir / "showcase.txt", -1, displayName);
    ::Window window = 0;
    for (auto until = Clock::now() + std::chrono::seconds(30);
         !window && Clock::now() < until && showcase.running();)
        if (!(window = findWindow(display, "Footlight showcase")))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_NE(window, 0u) << readFile(dir / "showcase.txt");
    // Let a few frames through, then read the window while it is still open.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    XWindowAttributes attributes;
    ASSERT_TRUE(XGetWindowAttributes(display, window, &attributes));
    XImage* shown = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    bool stillOpen = showcase.running();
    std::optional<int> code = showcase.wait(60);
    std::string output = readFile(dir / "showcase.txt");
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(stillOpen) << "the window closed before it was read";
    EXPECT_EQ(code, 0) << output;
    XCloseDisplay(display);
    xvfb.reset();

    auto frame = platform::Image::imageWithContentsOfFile((dir / "frame.png").string());
    ASSERT_TRUE(frame) << output;
    ASSERT_EQ(attributes.width, static_cast<int>(frame->width()));
    ASSERT_EQ(attributes.height, static_cast<int>(frame->height()));
    std::vector<std::uint8_t> rgba = frame->rgbaPixels();
    // Rectangles of window pixels where the first scene does not move: the gradient beside the
    // stage, the title, the menu, and the stage's plain left part.
    struct Area {
        int x, y, w, h;
    } still[] = {{0, 0, 30, 860}, {200, 160, 240, 80}, {160, 680, 320, 70}, {40, 380, 30, 200}};
    long compared = 0, differing = 0;
    for (const Area& area : still)
        for (int y = area.y; y < area.y + area.h; ++y)
            for (int x = area.x; x < area.x + area.w; ++x) {
                unsigned long pixel = XGetPixel(shown, x, y);
                const std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * frame->width() + x) * 4];
                ++compared;
                if (((pixel >> 16) & 0xFF) != p[0] || ((pixel >> 8) & 0xFF) != p[1] || (pixel & 0xFF) != p[2])
                    ++differing;
            }
    XDestroyImage(shown);
    EXPECT_EQ(differing, 0) << "of " << compared << " pixels";
    fs::remove_all(dir);
}
