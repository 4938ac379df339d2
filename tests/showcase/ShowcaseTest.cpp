// The showcase as a user runs it: its command line, and its window on a real X server (Xvfb).
#include "platform/Image.h"
#include "tests/support/XvfbSupport.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using fltest::ChildProcess;
using fltest::readFile;

fs::path scratchDir(const char* name) {
    fs::path dir = fs::temp_directory_path() / (std::string(name) + "-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir;
}

// A private X server logging into `dir`; null, with the reason, where none can run.
std::unique_ptr<fltest::Xvfb> startXvfb(const fs::path& dir, std::string& skipReason) {
    auto xvfb = std::make_unique<fltest::Xvfb>(dir / "xvfb.txt");
    if (!xvfb->displayName().empty()) return xvfb;
    skipReason = xvfb->skipReason() + ": window not checked";
    return nullptr;
}

// The showcase run with its window on a private X server, and a connection of the test's own
// to that server.
class ShowcaseWindow : public ::testing::Test {
protected:
    // Starts the showcase for `seconds` and waits for its window; skips where no X server can
    // run. The test goes on only when neither skipped nor failed.
    void launch(const char* name, const char* seconds) {
        dir = scratchDir(name);
        std::string skipReason;
        xvfb = startXvfb(dir, skipReason);
        if (!xvfb) GTEST_SKIP() << skipReason;
        displayName = xvfb->displayName();
        display = XOpenDisplay(displayName.c_str());
        ASSERT_NE(display, nullptr);
        showcase = std::make_unique<ChildProcess>(std::vector<std::string>{FL_SHOWCASE_PATH, "--window",
                                                                           "--seconds", seconds, "--out",
                                                                           (dir / "frame.png").string()},
                                                  dir / "showcase.txt", -1, displayName);
        window =
            fltest::waitForWindow(display, "Footlight showcase", 30, [&] { return showcase->running(); });
        ASSERT_NE(window, 0u) << readFile(dir / "showcase.txt");
    }
    bool launched() const { return !IsSkipped() && !HasFailure(); }

    void TearDown() override {
        showcase.reset();
        if (display) XCloseDisplay(display);
        xvfb.reset();
        if (!dir.empty()) fs::remove_all(dir);
    }

    fs::path dir;
    std::unique_ptr<fltest::Xvfb> xvfb;
    std::string displayName;
    Display* display = nullptr;
    std::unique_ptr<ChildProcess> showcase;
    ::Window window = 0;
};

} // namespace

TEST(Showcase, BadArgumentsPrintTheUsageAndExitWithTwo) {
    fs::path dir = scratchDir("fl-showcase-args");
    const std::vector<std::vector<std::string>> bad = {
        {"--seconds", "abc"}, {"--seconds", "2x"}, {"--seconds", "-1"}, {"--seconds"}, {"--out"}, {"--fast"}};
    for (const auto& args : bad) {
        std::vector<std::string> argv{FL_SHOWCASE_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess showcase(argv, dir / "output.txt");
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
TEST_F(ShowcaseWindow, TheWindowShowsThePresentedFrames) {
    launch("fl-showcase-window", "1.5");
    if (!launched()) return;
    // Let a few frames through, then read the window while it is still open.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    XWindowAttributes attributes;
    ASSERT_TRUE(XGetWindowAttributes(display, window, &attributes));
    XImage* shown = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    bool stillOpen = showcase->running();
    std::optional<int> code = showcase->wait(60);
    std::string output = readFile(dir / "showcase.txt");
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(stillOpen) << "the window closed before it was read";
    EXPECT_EQ(code, 0) << output;

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
}

// Another client kills the showcase's connection, as xkill does. The window closes as if the
// user had closed it, and the showcase goes on to its own end: the last frame written, exit 0.
TEST_F(ShowcaseWindow, AKilledWindowConnectionEndsTheRunLikeAClose) {
    launch("fl-showcase-killed", "120");
    if (!launched()) return;
    XKillClient(display, window);
    XSync(display, False);
    std::optional<int> code = showcase->wait(60);
    std::string output = readFile(dir / "showcase.txt");

    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find("Window: the connection to X display " + displayName + " was lost"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("showcase: last frame written"), std::string::npos) << output;
    EXPECT_TRUE(platform::Image::imageWithContentsOfFile((dir / "frame.png").string())) << output;
}
