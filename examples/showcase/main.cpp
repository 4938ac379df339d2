// The showcase: the director set up as a game sets it up, a small scene, a few seconds of
// frames, and the last frame written to a PNG file.
//
//   showcase [--out FILE] [--seconds N] [--realtime] [--window]
//
// Headless, it shows the first scene for two seconds (written beside FILE as "-menu.png"),
// taps "Play" through the view's touch path, fades to the second scene, and writes the last
// frame to FILE.
//
// Frames are timed by a manual clock unless --realtime asks for the monotonic one. --window
// shows the frames in a window (when there is a display) until it is closed, or for N seconds
// when --seconds is given. Anything else on the command line prints the usage and exits with 2.

#include "Footlight.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>
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

// The showcase makes its own sprite sheet, so a fresh checkout needs no art: four 32x32
// frames of a spinning propeller in one PNG, a sheet that names them, and an animation list
// that strings them together. Everything goes through the engine's own loaders.
constexpr int kFrameSize = 32, kFrameCount = 4;

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

// Returns the animation list's path, or "" when the files could not be written.
std::string makeSpriteSheet() {
    std::string dir = platform::Paths::stringByAppendingPathComponent(platform::Paths::temporaryDirectory(),
                                                                      "footlight-showcase");
    std::filesystem::create_directories(dir);
    const int width = kFrameSize * kFrameCount, height = kFrameSize;
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4, 0);
    for (int f = 0; f < kFrameCount; ++f) {
        double angle = f * M_PI / (2 * kFrameCount);
        double c = std::cos(angle), s = std::sin(angle);
        for (int y = 0; y < kFrameSize; ++y)
            for (int x = 0; x < kFrameSize; ++x) {
                double px = x + 0.5 - kFrameSize / 2.0, py = y + 0.5 - kFrameSize / 2.0;
                double r = std::hypot(px, py);
                // Two crossed blades in the frame's angle, and a hub.
                double u = px * c + py * s, v = -px * s + py * c;
                bool blade = (std::fabs(u) < 3 || std::fabs(v) < 3) && r < 15;
                bool hub = r < 6;
                if (!blade && !hub) continue;
                std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * width + f * kFrameSize + x) * 4];
                std::uint8_t shade = hub ? 255 : 210;
                p[0] = p[1] = p[2] = shade;
                p[3] = 255;
            }
    }
    std::string png = dir + "/propeller.png";
    if (!platform::Image::writePNG(png, rgba.data(), width, height)) return "";

    std::string frames;
    for (int f = 0; f < kFrameCount; ++f)
        frames += platform::format(
            "<key>propeller%d</key><dict><key>frame</key><string>{{%d,0},{%d,%d}}</string>"
            "<key>offset</key><string>{0,0}</string><key>rotated</key><false/>"
            "<key>sourceColorRect</key><string>{{0,0},{%d,%d}}</string>"
            "<key>sourceSize</key><string>{%d,%d}</string></dict>",
            f, f * kFrameSize, kFrameSize, kFrameSize, kFrameSize, kFrameSize, kFrameSize, kFrameSize);
    const char* head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>";
    std::string sheet = dir + "/propeller.plist";
    if (!writeText(sheet,
                   std::string(head) + "<key>frames</key><dict>" + frames +
                       "</dict><key>metadata</key><dict><key>format</key><integer>2</integer>"
                       "<key>textureFileName</key><string>propeller.png</string></dict></dict></plist>"))
        return "";

    std::string steps;
    for (int f = 0; f < kFrameCount; ++f)
        steps += platform::format("<dict><key>spriteframe</key><string>propeller%d</string>"
                                  "<key>delayUnits</key><integer>1</integer></dict>",
                                  f);
    std::string list = dir + "/animations.plist";
    if (!writeText(list, std::string(head) +
                             "<key>animations</key><dict><key>spin</key><dict>"
                             "<key>delayPerUnit</key><real>0.08</real><key>frames</key><array>" +
                             steps +
                             "</array></dict></dict><key>properties</key><dict><key>format</key>"
                             "<integer>2</integer><key>spritesheets</key><array><string>" +
                             sheet + "</string></array></dict></dict></plist>"))
        return "";
    return list;
}

// A batched sprite that turns its own frames from a scheduled update (the animate action
// will do this for games; here it shows the frame switching by name).
class Propeller : public CCSprite {
public:
    void spin(double dt) {
        elapsed_ += dt;
        setDisplayFrameWithAnimationName("spin", static_cast<std::int32_t>(elapsed_ / 0.08) % kFrameCount);
    }
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

    // The menu's "Play" handler: a one-second fade to the second scene.
    static void play(platform::Object*) {
        auto next = buildSecondScene();
        CCDirector::sharedDirector()->replaceScene(
            CCTransitionFade::transitionWithDuration(1.0, next.get(), ccc3(0, 0, 0)).get());
    }

    // A quieter scene: a label, and propellers run by the animate action instead of by hand.
    static platform::Ref<CCScene> buildSecondScene() {
        auto scene = CCScene::node();
        CGSize win = CCDirector::sharedDirector()->winSize();
        scene->addChild(CCLayerGradient::layerWithColor(ccc4(30, 60, 90, 255), ccc4(12, 20, 40, 255)).get());
        auto label = CCLabelTTF::labelWithString("Scene two", "Helvetica", 26);
        label->setPosition(CGPointMake(win.width / 2, win.height * 0.7));
        scene->addChild(label.get());
        CCAnimation* spin = CCAnimationCache::sharedAnimationCache()->animationByName("spin");
        CCSpriteFrame* first = CCSpriteFrameCache::sharedSpriteFrameCache()->spriteFrameByName("propeller0");
        for (int i = 0; spin && first && i < 3; ++i) {
            auto propeller = CCSprite::spriteWithSpriteFrame(first);
            propeller->setPosition(CGPointMake(win.width * (i + 1) / 4, win.height * 0.45));
            propeller->setScale(1.5f + i * 0.5f);
            auto animate = CCAnimate::actionWithAnimation(spin);
            propeller->runAction(CCRepeatForever::actionWithAction(animate.get()).get());
            propeller->runAction(
                CCRepeatForever::actionWithAction(CCRotateBy::actionWithDuration(2.0, 120.0f * (i + 1)).get())
                    .get());
            scene->addChild(propeller.get());
        }
        return scene;
    }

    // Where "Play" sits on the screen, in GL points, once the first scene is built.
    static CGPoint& menuPlayPoint() {
        static CGPoint point = CGPointZero;
        return point;
    }

    static platform::Ref<CCScene> buildScene() {
        auto scene = CCScene::node();
        CGSize win = CCDirector::sharedDirector()->winSize();

        // A vertical gradient behind everything.
        auto background =
            CCLayerGradient::layerWithColor(ccc4(20, 26, 46, 255), ccc4(70, 40, 90, 255), CGPointMake(0, -1));
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

        // A batch of propellers from the showcase's own sprite sheet: one draw call for the row.
        std::string animations = makeSpriteSheet();
        if (!animations.empty()) {
            CCAnimationCache::sharedAnimationCache()->addAnimationsWithFile(animations);
            CCSpriteFrame* first =
                CCSpriteFrameCache::sharedSpriteFrameCache()->spriteFrameByName("propeller0");
            if (first) {
                auto batch = CCSpriteBatchNode::batchNodeWithTexture(first->texture());
                scene->addChild(batch.get(), 3);
                const _ccColor3B tints[] = {ccc3(255, 220, 120), ccc3(140, 220, 255), ccc3(255, 150, 200)};
                for (int i = 0; i < 9; ++i) {
                    auto propeller = CCSprite::spriteWithSpriteFrame<Propeller>(first);
                    propeller->setPosition(CGPointMake(32 + i * 32, win.height - 50));
                    propeller->setColor(tints[i % 3]);
                    propeller->elapsed_ = i * 0.03; // each a little ahead of the last
                    batch->addChild(propeller.get());
                    propeller->schedule(fl_selector(Propeller::spin));
                }
            }
        }

        auto title = CCLabelTTF::labelWithString("Footlight", "Marker Felt", 30);
        title->setPosition(CGPointMake(win.width / 2, win.height - 100));
        scene->addChild(title.get(), 4);

        // The orange card breathes and the gradient card rocks, forever.
        auto pulse = CCSequence::actions(CCScaleTo::actionWithDuration(0.6, 1.08f),
                                         CCScaleTo::actionWithDuration(0.6, 1.0f));
        card->runAction(CCRepeatForever::actionWithAction(pulse.get()).get());
        auto rock = CCSequence::actions(CCRotateBy::actionWithDuration(0.8, 16.0f),
                                        CCRotateBy::actionWithDuration(0.8, -16.0f));
        card2->runAction(CCRepeatForever::actionWithAction(rock.get()).get());

        // A menu the showcase taps through the view's real touch path.
        CCMenuItemFont::setDefaultFontSize(22);
        auto playItem =
            CCMenuItemFont::itemWithString("Play", [](platform::Object* sender) { play(sender); });
        auto aboutItem = CCMenuItemFont::itemWithString("About", [](platform::Object*) {});
        auto menu = CCMenu::menuWithItems({playItem.get(), aboutItem.get()});
        menu->alignItemsHorizontallyWithPadding(40);
        menu->setPosition(CGPointMake(win.width / 2, 120));
        scene->addChild(menu.get(), 6);
        menuPlayPoint() = playItem->convertToWorldSpace(
            CGPointMake(playItem->contentSize().width / 2, playItem->contentSize().height / 2));

        auto bar = SlidingBar::bar(ccc4(217, 51, 77, 255), CGSizeMake(80, 24));
        bar->setPosition(CGPointMake(40, 60));
        scene->addChild(bar.get(), 5);
        bar->scheduleUpdate();
        return scene;
    }
};

// Writes the last presented frame as an opaque PNG: whatever alpha the blending left in the
// frame is not part of the picture.
bool writeFrame(CCGLView* view, const std::string& path) {
    platform::PixelBuffer frame = view->layer()->presentedFrame();
    if (frame.empty()) frame = view->layer()->readPixels(); // a present that kept no copy
    if (frame.empty()) return false;
    for (std::size_t i = 3; i < frame.rgba.size(); i += 4)
        frame.rgba[i] = 255;
    return platform::Image::writePNG(path, frame.rgba.data(), static_cast<std::uint32_t>(frame.width),
                                     static_cast<std::uint32_t>(frame.height));
}

// One finger down and up at a point of the view (points, origin top-left).
void tap(CCGLView* view, CGPoint where, double time) {
    auto touch = platform::make<platform::Touch>(view, where, time);
    platform::TouchSet touches{touch.get()};
    auto event = platform::make<platform::Event>(time);
    event->mutableAllTouches().add(touch.get());
    view->touchesBegan(touches, event.get());
    touch->update(where, time + 0.05, platform::TouchPhase::Ended);
    view->touchesEnded(touches, event.get());
}

} // namespace

static int usage(const char* problem, const char* arg) {
    std::fprintf(stderr, "showcase: %s: %s\n", problem, arg);
    std::fprintf(stderr, "usage: showcase [--out FILE] [--seconds N] [--realtime] [--window]\n");
    return 2;
}

int main(int argc, char** argv) {
    std::string out = "footlight-showcase.png";
    double seconds = 4;
    bool secondsGiven = false, realtime = false, window = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        bool isOut = !std::strcmp(arg, "--out");
        if (isOut || !std::strcmp(arg, "--seconds")) {
            if (i + 1 >= argc || !*argv[i + 1]) return usage("missing value for", arg);
            const char* value = argv[++i];
            if (isOut) {
                out = value;
                continue;
            }
            // The whole value must be a number of seconds; a day is more than any run needs.
            char* end = nullptr;
            errno = 0;
            seconds = std::strtod(value, &end);
            if (errno || *end || !(seconds >= 0 && seconds <= 86400))
                return usage("bad number of seconds", value);
            secondsGiven = true;
        } else if (!std::strcmp(arg, "--realtime")) {
            realtime = true;
        } else if (!std::strcmp(arg, "--window")) {
            window = true;
        } else {
            return usage("unknown argument", arg);
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
    director->setDisplayStats(true);
    director->setDelegate(&delegate);
    view->layoutIfNeeded(); // the first layout runs the first scene
    director->startAnimation();

    std::unique_ptr<platform::Window> shown =
        window ? platform::Window::open(view.get(), "Footlight showcase") : nullptr;
    if (window && !shown) std::printf("showcase: no display to open a window on; rendering headless\n");
    platform::RunLoop* loop = platform::RunLoop::currentRunLoop();
    if (shown) {
        double until = platform::MonotonicClock::sharedClock()->now() + seconds;
        while (shown->processEvents() &&
               (!secondsGiven || platform::MonotonicClock::sharedClock()->now() < until))
            loop->runUntil(platform::MonotonicClock::sharedClock()->now() + 1.0 / 120);
        shown.reset();
    } else if (realtime) {
        loop->runUntil(platform::MonotonicClock::sharedClock()->now() + seconds);
    } else {
        // Two seconds of the first scene, a tap on "Play" through the view's touch path, then
        // the fade to the second scene and the rest of the time there.
        auto runFor = [&](double span) {
            int frames = static_cast<int>(std::lround(span * platform::DisplayLink::kRefreshRate));
            for (int i = 0; i < frames; ++i)
                clock->advance(1.0 / platform::DisplayLink::kRefreshRate);
        };
        double firstPart = std::min(seconds, 2.0);
        runFor(firstPart);
        std::string menuShot = platform::Paths::stringByDeletingPathExtension(out) + "-menu.png";
        if (writeFrame(view.get(), menuShot))
            std::printf("showcase: first scene written to %s\n", menuShot.c_str());
        if (seconds > firstPart) {
            tap(view.get(), ios->convertToUI(ShowcaseDelegate::menuPlayPoint()), clock->now());
            runFor(seconds - firstPart);
        }
    }

    std::printf("showcase: %llu frames\n", static_cast<unsigned long long>(director->totalFrames()));
    bool written = writeFrame(view.get(), out);
    CCDirector::purgeSharedDirector();
    platform::Clock::setDefaultClock(nullptr);
    if (!written) {
        std::fprintf(stderr, "showcase: could not write %s\n", out.c_str());
        return 1;
    }
    std::printf("showcase: last frame written to %s\n", out.c_str());
    return 0;
}
