// A game in one file, as the README tells one to write it: one include, one scene with a colour
// layer and a label drawn on a headless view with a stencil, one pixel checked, and the engine's
// exception caught.
#include <Footlight.h>

#include <cstdio>

int main() {
    auto clock = platform::make<platform::ManualClock>();
    platform::Clock::setDefaultClock(clock.get());
    CCDirector* director = CCDirector::sharedDirector();
    // The depth-stencil constant comes with <Footlight.h>, as clipping nodes need it.
    auto view = CCGLView::viewWithFrame(CGRectMake(0, 0, 32, 32), kEAGLColorFormatRGBA8, GL_DEPTH24_STENCIL8_OES);
    if (!view) {
        std::fprintf(stderr, "consumer: no GL view\n");
        return 1;
    }
    director->setView(view.get());
    view->layoutIfNeeded(); // the first layout sizes the drawable
    auto scene = CCScene::node();
    auto layer = CCLayerColor::layerWithColor(ccc4(255, 128, 0, 255));
    scene->addChild(layer.get());
    // A system-font label in a corner, away from the pixel checked.
    auto label = CCLabelTTF::labelWithString("1", "Sans", 6);
    label->setPosition(ccp(4, 28));
    scene->addChild(label.get());
    director->runWithScene(scene.get());
    director->startAnimation();
    clock->advance(1.0 / 60);
    clock->advance(1.0 / 60);

    platform::PixelBuffer frame = view->layer()->readPixels();
    std::uint32_t centre = frame.pixel(16, 16);
    bool drawn = director->totalFrames() > 0 && centre == 0xFF8000FFu;
    if (!drawn)
        std::fprintf(stderr, "consumer: centre pixel 0x%08X after %llu frames\n", centre,
                     static_cast<unsigned long long>(director->totalFrames()));

    bool caught = false;
    try {
        scene->addChild(layer.get()); // already a child: a broken precondition
    } catch (const platform::Exception& e) {
        caught = e.name() == std::string(platform::NSInternalInconsistencyException);
    }
    if (!caught) std::fprintf(stderr, "consumer: adding a child twice did not throw\n");

    CCDirector::purgeSharedDirector();
    platform::Clock::setDefaultClock(nullptr);
    return drawn && caught ? 0 : 1;
}
