// The showcase: the director set up as a game sets it up, a small scene, a few seconds of
// frames, and the last frame written to a PNG file.
//
//   showcase [--out FILE] [--seconds N] [--realtime] [--window]
//
// Frames are timed by a manual clock unless --realtime asks for the monotonic one.

#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCNode.h"
#include "core/CCScene.h"
#include "platform/Device.h"
#include "platform/DisplayLink.h"
#include "platform/Image.h"
#include "platform/RunLoop.h"

#include <GLES2/gl2.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A flat coloured rectangle over the node's content, drawn with a scissored clear. It stands in
// for the colour layers until they exist, and like them follows the node's position, anchor and
// scale (not rotation: a scissor box stays upright).
class Panel : public CCNode {
public:
    static platform::Ref<Panel> panel(CGSize size, float r, float g, float b) {
        auto p = makeNode<Panel>();
        p->setContentSize(size);
        p->setColour(r, g, b);
        return p;
    }

    void draw() override {
        CGRect box = CGRectApplyAffineTransform(CGRectMake(0, 0, _contentSize.width, _contentSize.height),
                                                nodeToWorldTransform());
        float scale = CCDirector::sharedDirector()->winSizeInPixels().width /
                      CCDirector::sharedDirector()->winSize().width;
        glEnable(GL_SCISSOR_TEST);
        glScissor(static_cast<GLint>(std::lround(box.origin.x * scale)),
                  static_cast<GLint>(std::lround(box.origin.y * scale)),
                  static_cast<GLsizei>(std::lround(box.size.width * scale)),
                  static_cast<GLsizei>(std::lround(box.size.height * scale)));
        glClearColor(r_, g_, b_, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glDisable(GL_SCISSOR_TEST);
        glClearColor(0, 0, 0, 1);
        ++drawCallCounter;
    }

protected:
    void setColour(float r, float g, float b) {
        r_ = r;
        g_ = g;
        b_ = b;
    }

private:
    float r_ = 0, g_ = 0, b_ = 0;
};

// A panel that slides to and fro on its own update.
class SlidingPanel : public Panel {
public:
    static platform::Ref<SlidingPanel> slidingPanel(CGSize size, float r, float g, float b) {
        auto p = makeNode<SlidingPanel>();
        p->setContentSize(size);
        p->setColour(r, g, b);
        return p;
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

        // Colour and gradient layers take this place once the engine has them.
        auto background = Panel::panel(win, 0.08f, 0.10f, 0.18f);
        scene->addChild(background.get(), -10);

        auto stage = Panel::panel(CGSizeMake(win.width - 40, 200), 0.20f, 0.24f, 0.36f);
        stage->setAnchorPoint(CGPointMake(0.5, 0.5));
        stage->setPosition(CGPointMake(win.width / 2, win.height / 2));
        scene->addChild(stage.get());

        // Children inside the stage, drawn after the stage itself and among themselves by
        // z-order: the shadow (z 0) goes under the cards (z 1).
        auto shadow = Panel::panel(CGSizeMake(90, 90), 0.05f, 0.05f, 0.08f);
        shadow->setPosition(CGPointMake(36, 46));
        stage->addChild(shadow.get(), 0);
        auto card = Panel::panel(CGSizeMake(90, 90), 0.95f, 0.55f, 0.15f);
        card->setPosition(CGPointMake(30, 52));
        stage->addChild(card.get(), 1);
        auto card2 = Panel::panel(CGSizeMake(60, 60), 0.25f, 0.75f, 0.45f);
        card2->setAnchorPoint(CGPointMake(1, 0));
        card2->setScale(1.5f);
        card2->setPosition(CGPointMake(stage->contentSize().width - 20, 40));
        stage->addChild(card2.get(), 1);

        auto bar = SlidingPanel::slidingPanel(CGSizeMake(80, 24), 0.85f, 0.20f, 0.30f);
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
    if (window) std::printf("showcase: no window support in this build; rendering headless\n");

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

    if (realtime) {
        platform::RunLoop::currentRunLoop()->runUntil(platform::MonotonicClock::sharedClock()->now() +
                                                      seconds);
    } else {
        int frames = static_cast<int>(std::lround(seconds * platform::DisplayLink::kRefreshRate));
        for (int i = 0; i < frames; ++i)
            clock->advance(1.0 / platform::DisplayLink::kRefreshRate);
    }

    const platform::PixelBuffer& frame = view->layer()->presentedFrame();
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
