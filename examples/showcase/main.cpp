// The showcase: the director set up as a game sets it up, a small scene, a few seconds of
// frames, and the last frame written to a PNG file.
//
//   showcase [--out FILE] [--seconds N] [--realtime] [--window]
//
// Frames are timed by a manual clock unless --realtime asks for the monotonic one. --window
// shows the frames in a window (when there is a display) until it is closed.

#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCLayer.h"
#include "core/CCNode.h"
#include "core/CCScene.h"
#include "platform/Device.h"
#include "platform/DisplayLink.h"
#include "platform/Image.h"
#include "platform/RunLoop.h"
#include "platform/Window.h"

#include <GLES2/gl2.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A colour layer that slides to and fro on its own update.
class SlidingBar : public CCLayerColor {
public:
    static platform::Ref<SlidingBar> bar(_ccColor4B colour, CGSize size) {
        auto b = makeNode<SlidingBar>();
        b->setColor(ccc3(colour.r, colour.g, colour.b));
        b->setOpacity(colour.a);
        b->setContentSize(size);
        return b;
    }
    void update(double dt) override {
        elapsed_ += dt;
        setPosition(CGPointMake(40 + 160 * (0.5 + 0.5 * std::sin(elapsed_ * 2.0)), position().y));
    }

private:
    double elapsed_ = 0;
};

class ShowcaseDelegate : public CCDirectorDelegate {
public:
    ShowcaseDelegate() : CCDirectorDelegate(kRespondsToDidReshapeProjection) {}
    // The view's first layout is when a game runs its first scene.
    void directorDidReshapeProjection(CCDirector* director) override {
        if (director->runningScene()) return;
        director->runWithScene(buildScene().get());
    }

    static platform::Ref<CCScene> buildScene() {
        auto scene = CCScene::node();
        CGSize win = CCDirector::sharedDirector()->winSize();

        // A vertical gradient behind everything.
        auto background = CCLayerGradient::layerWithColor(ccc4(20, 26, 46, 255), ccc4(70, 40, 90, 255),
                                                          CGPointMake(0, -1));
        scene->addChild(background.get(), -10);

        auto stage = CCLayerColor::layerWithColor(ccc4(52, 61, 92, 255), win.width - 40, 200);
        stage->setIgnoreAnchorPointForPosition(false);
        stage->setAnchorPoint(CGPointMake(0.5, 0.5));
        stage->setPosition(CGPointMake(win.width / 2, win.height / 2));
        scene->addChild(stage.get());

        // Children inside the stage, drawn after the stage itself and among themselves by
        // z-order: the half-transparent shadow (z 0) goes under the cards (z 1).
        auto shadow = CCLayerColor::layerWithColor(ccc4(0, 0, 0, 128), 90, 90);
        shadow->setPosition(CGPointMake(36, 46));
        stage->addChild(shadow.get(), 0);
        auto card = CCLayerColor::layerWithColor(ccc4(242, 140, 38, 255), 90, 90);
        card->setPosition(CGPointMake(30, 52));
        stage->addChild(card.get(), 1);
        auto card2 = CCLayerGradient::layerWithColor(ccc4(64, 191, 115, 255), ccc4(30, 90, 200, 255),
                                                     CGPointMake(1, -1));
        card2->setContentSize(CGSizeMake(60, 60));
        card2->setIgnoreAnchorPointForPosition(false);
        card2->setAnchorPoint(CGPointMake(1, 0));
        card2->setScale(1.5f);
        card2->setRotation(-8);
        card2->setPosition(CGPointMake(stage->contentSize().width - 20, 40));
        stage->addChild(card2.get(), 1);

        auto bar = SlidingBar::bar(ccc4(217, 51, 77, 255), CGSizeMake(80, 24));
        bar->setPosition(CGPointMake(40, 60));
        scene->addChild(bar.get(), 5);
        bar->scheduleUpdate();
        return scene;
    }
};

} // namespace

int main(int argc, char** argv) {
    std::string out = "footlight-showcase.png";
    double seconds = 3;
    bool realtime = false, window = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--out") && i + 1 < argc)
            out = argv[++i];
        else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--realtime"))
            realtime = true;
        else if (!std::strcmp(argv[i], "--window"))
            window = true;
        else {
            std::fprintf(stderr, "usage: showcase [--out FILE] [--seconds N] [--realtime] [--window]\n");
            return 2;
        }
    }
    // A window shows the frames as they come, on the real clock, until it is closed.
    if (window) realtime = true;

    // A retina phone, so that the game's retina switch takes.
    platform::Device::setCurrent(platform::DeviceProfile::phoneRetina());
    auto clock = platform::make<platform::ManualClock>();
    if (!realtime) platform::Clock::setDefaultClock(clock.get());

    CCDirector* director = CCDirector::sharedDirector();
    auto view = CCGLView::viewWithFrame(CGRectMake(0, 0, 320, 480), kEAGLColorFormatRGBA8, 0);
    if (!view) {
        std::fprintf(stderr, "showcase: no GL view could be made\n");
        return 1;
    }
    ShowcaseDelegate delegate;
    auto* ios = static_cast<CCDirectorIOS*>(director);
    director->setView(view.get());
    director->setAnimationInterval(1.0 / 60);
    director->setProjection(kCCDirectorProjection2D);
    if (!ios->enableRetinaDisplay(true)) std::printf("showcase: retina display not available\n");
    director->setDelegate(&delegate);
    view->layoutIfNeeded(); // the first layout runs the first scene
    director->startAnimation();

    std::unique_ptr<platform::Window> shown =
        window ? platform::Window::open(view.get(), "Footlight showcase") : nullptr;
    if (window && !shown) std::printf("showcase: no display to open a window on; rendering headless\n");
    platform::RunLoop* loop = platform::RunLoop::currentRunLoop();
    if (shown) {
        while (shown->processEvents())
            loop->runUntil(platform::MonotonicClock::sharedClock()->now() + 1.0 / 120);
        shown.reset();
    } else if (realtime) {
        loop->runUntil(platform::MonotonicClock::sharedClock()->now() + seconds);
    } else {
        int frames = static_cast<int>(std::lround(seconds * platform::DisplayLink::kRefreshRate));
        for (int i = 0; i < frames; ++i)
            clock->advance(1.0 / platform::DisplayLink::kRefreshRate);
    }

    // The view is opaque: whatever alpha blending left in the frame is not part of the picture.
    platform::PixelBuffer frame = view->layer()->presentedFrame();
    for (std::size_t i = 3; i < frame.rgba.size(); i += 4) frame.rgba[i] = 255;
    std::printf("showcase: %llu frames, %dx%d pixels\n",
                static_cast<unsigned long long>(director->totalFrames()), frame.width, frame.height);
    bool written = !frame.empty() &&
                   platform::Image::writePNG(out, frame.rgba.data(), static_cast<std::uint32_t>(frame.width),
                                             static_cast<std::uint32_t>(frame.height));
    CCDirector::purgeSharedDirector();
    platform::Clock::setDefaultClock(nullptr);
    if (!written) {
        std::fprintf(stderr, "showcase: could not write %s\n", out.c_str());
        return 1;
    }
    std::printf("showcase: last frame written to %s\n", out.c_str());
    return 0;
}
