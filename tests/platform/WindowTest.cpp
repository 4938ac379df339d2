#include "platform/Log.h"
#include "platform/Window.h"
#include "tests/support/XvfbSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if FL_HAVE_X11
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#endif

namespace {

using platform::TouchPhase;

struct TouchLog : platform::View {
    struct Entry {
        std::string phase;
        platform::Touch* touch;
        CGPoint location, previous;
        std::size_t allTouches;
    };
    std::vector<Entry> entries;
    void record(const char* phase, const platform::TouchSet& touches, platform::Event* event) {
        platform::Touch* t = touches.anyObject();
        entries.push_back({phase, t, t->locationInView(this), t->previousLocationInView(this),
                           event->allTouches().count()});
    }
    void touchesBegan(const platform::TouchSet& t, platform::Event* e) override { record("began", t, e); }
    void touchesMoved(const platform::TouchSet& t, platform::Event* e) override { record("moved", t, e); }
    void touchesEnded(const platform::TouchSet& t, platform::Event* e) override { record("ended", t, e); }
    void touchesCancelled(const platform::TouchSet& t, platform::Event* e) override {
        record("cancelled", t, e);
    }
};

TEST(PointerTouchesTest, PressDragReleaseIsOneTouchInViewPoints) {
    auto view = platform::make<TouchLog>();
    view->initWithFrame(CGRectMake(0, 0, 100, 100));
    view->setContentScaleFactor(2);
    platform::PointerTouches pointer(view.get());
    pointer.drag(10, 10, 0.5); // no button down: nothing
    pointer.press(20, 40, 1.0);
    pointer.drag(30, 50, 1.1);
    pointer.release(32, 52, 1.2);
    pointer.release(32, 52, 1.3); // already ended: nothing
    ASSERT_EQ(view->entries.size(), 3u);
    EXPECT_EQ(view->entries[0].phase, "began");
    EXPECT_EQ(view->entries[0].location, CGPointMake(10, 20));
    EXPECT_EQ(view->entries[1].phase, "moved");
    EXPECT_EQ(view->entries[1].location, CGPointMake(15, 25));
    EXPECT_EQ(view->entries[1].previous, CGPointMake(10, 20));
    EXPECT_EQ(view->entries[2].phase, "ended");
    EXPECT_EQ(view->entries[2].touch, view->entries[0].touch) << "the same finger throughout";
    EXPECT_EQ(view->entries[2].allTouches, 1u);
    EXPECT_FALSE(pointer.touching());

    pointer.press(0, 0, 2.0);
    pointer.cancel(2.1);
    EXPECT_EQ(view->entries.back().phase, "cancelled");
    EXPECT_EQ(view->entries.back().location, CGPointZero);
    EXPECT_FALSE(pointer.touching());

    // A press that finds a touch still live (its release was lost) cancels it where it was.
    pointer.press(10, 10, 3.0);
    pointer.press(30, 30, 3.1);
    ASSERT_EQ(view->entries.size(), 8u);
    EXPECT_EQ(view->entries[6].phase, "cancelled");
    EXPECT_EQ(view->entries[6].location, CGPointMake(5, 5));
    EXPECT_EQ(view->entries[7].phase, "began");
    EXPECT_EQ(view->entries[7].location, CGPointMake(15, 15));
}

TEST(WindowTest, OpensOnlyWhereThereIsADisplay) {
    auto view = platform::make<platform::View>();
    view->initWithFrame(CGRectMake(0, 0, 16, 16));
    if (!std::getenv("DISPLAY")) {
        EXPECT_EQ(platform::Window::open(view.get()), nullptr);
        return;
    }
    auto window = platform::Window::open(view.get());
    ASSERT_NE(window, nullptr);
    platform::PixelBuffer frame{16, 16, std::vector<std::uint8_t>(16 * 16 * 4, 0x80)};
    window->show(frame);
    EXPECT_TRUE(window->processEvents());
}

#if FL_HAVE_X11

// A 320x240 window on a private Xvfb, driven by a second connection as another client would:
// mouse events sent to the window, and the window unmapped, resized or destroyed.
class WindowOnXvfbTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = std::filesystem::temp_directory_path() / ("fl-window-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        server_ = new fltest::Xvfb(dir_ / "xvfb.txt");
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
        std::filesystem::remove_all(dir_);
    }

    void SetUp() override {
        if (server_->displayName().empty()) GTEST_SKIP() << server_->skipReason() << ": window not checked";
        const char* display = std::getenv("DISPLAY");
        if (display) savedDisplay_ = display;
        ::setenv("DISPLAY", server_->displayName().c_str(), 1);
        platform::setLogSink([this](const std::string& line) { logLines.push_back(line); });
        other = XOpenDisplay(server_->displayName().c_str());
        ASSERT_NE(other, nullptr);
        view = platform::make<TouchLog>();
        view->initWithFrame(CGRectMake(0, 0, 320, 240));
        const char* title = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        window = platform::Window::open(view.get(), title);
        ASSERT_NE(window, nullptr);
        ASSERT_NE(target = fltest::waitForWindow(other, title, 10), 0u);
    }
    void TearDown() override {
        window.reset();
        if (other) XCloseDisplay(other);
        platform::setLogSink({});
        if (savedDisplay_.empty())
            ::unsetenv("DISPLAY");
        else
            ::setenv("DISPLAY", savedDisplay_.c_str(), 1);
    }

    // A button-1 press, drag or release at a window pixel, from the other client.
    void send(int type, int x, int y) {
        XEvent event{};
        XButtonEvent& b = event.xbutton; // motion events share these fields' layout
        b.type = type;
        b.display = other;
        b.window = target;
        b.root = DefaultRootWindow(other);
        b.x = b.x_root = x;
        b.y = b.y_root = y;
        b.same_screen = True;
        long mask = ButtonPressMask;
        if (type == MotionNotify) {
            event.xmotion.state = Button1Mask;
            mask = Button1MotionMask;
        } else {
            b.button = Button1;
            if (type == ButtonRelease) mask = ButtonReleaseMask;
        }
        XSendEvent(other, target, False, mask, &event);
        XSync(other, False);
    }
    void click(int x, int y) {
        send(ButtonPress, x, y);
        send(ButtonRelease, x, y);
    }

    // Handles the window's events until `done` holds or the window closes, for 5 s at most;
    // whether the window is still open.
    bool pumpUntil(const std::function<bool()>& done) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            bool open = window->processEvents();
            if (!open || done() || std::chrono::steady_clock::now() >= until) return open;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    bool pumpUntilEntries(std::size_t count) {
        return pumpUntil([&] { return view->entries.size() >= count; });
    }

    platform::Ref<TouchLog> view;
    std::unique_ptr<platform::Window> window;
    Display* other = nullptr;
    ::Window target = 0;
    std::vector<std::string> logLines;

private:
    static inline fltest::Xvfb* server_ = nullptr;
    static inline std::filesystem::path dir_;
    std::string savedDisplay_;
};

TEST_F(WindowOnXvfbTest, ATouchHeldAcrossAnUnmapIsCancelledWhereItWas) {
    send(ButtonPress, 40, 50);
    send(MotionNotify, 60, 70);
    XUnmapWindow(other, target); // the release that follows can no longer reach the window
    XSync(other, False);
    pumpUntilEntries(3);
    ASSERT_EQ(view->entries.size(), 3u);
    EXPECT_EQ(view->entries[2].phase, "cancelled");
    EXPECT_EQ(view->entries[2].location, CGPointMake(60, 70));

    XMapWindow(other, target);
    click(200, 60);
    pumpUntilEntries(5);
    ASSERT_EQ(view->entries.size(), 5u);
    EXPECT_EQ(view->entries[3].phase, "began");
    EXPECT_EQ(view->entries[4].phase, "ended");
    EXPECT_EQ(view->entries[4].location, CGPointMake(200, 60));
}

TEST_F(WindowOnXvfbTest, DestroyedFromOutsideItClosesAndStopsDrawing) {
    send(ButtonPress, 40, 50);
    XDestroyWindow(other, target);
    XSync(other, False);
    // A frame presented before the window hears of it: one X error, reported, not fatal.
    platform::PixelBuffer frame{16, 16, std::vector<std::uint8_t>(16 * 16 * 4, 0x80)}; // one request
    window->show(frame);
    EXPECT_FALSE(pumpUntil([] { return false; }));
    EXPECT_FALSE(window->processEvents());
    window->show(frame); // no request once closed
    window.reset();      // nor does closing touch the window: the connection ends without errors
    ASSERT_EQ(view->entries.size(), 2u);
    EXPECT_EQ(view->entries[1].phase, "cancelled");
    ASSERT_EQ(logLines.size(), 1u) << ::testing::PrintToString(logLines);
    EXPECT_NE(logLines[0].find("BadDrawable"), std::string::npos) << logLines[0];
    EXPECT_NE(logLines[0].find("X_PutImage"), std::string::npos) << logLines[0];
}

TEST_F(WindowOnXvfbTest, AClickOutsideTheViewAfterAResizeGivesNoTouch) {
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(other, target, &hints, &supplied));
    EXPECT_EQ(hints.flags & (PMinSize | PMaxSize), PMinSize | PMaxSize);
    EXPECT_EQ(hints.min_width, 320);
    EXPECT_EQ(hints.max_width, 320);
    EXPECT_EQ(hints.min_height, 240);
    EXPECT_EQ(hints.max_height, 240);

    XResizeWindow(other, target, 480, 360); // no window manager here to refuse it
    XSync(other, False);
    click(400, 60);
    click(100, 300);
    click(319, 239); // the picture's last pixel
    pumpUntilEntries(2);
    ASSERT_EQ(view->entries.size(), 2u);
    EXPECT_EQ(view->entries[0].phase, "began");
    EXPECT_EQ(view->entries[0].location, CGPointMake(319, 239));
    EXPECT_EQ(view->entries[1].phase, "ended");
}

#endif

} // namespace
