#include "platform/Window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

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

} // namespace
