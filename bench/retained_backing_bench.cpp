// A game loop on a 1024 x 768 view, plain against retained backing: each frame a few
// milliseconds of CPU work (the game's update), then the director draws twelve full-screen
// translucent layers and presents. A game's frame time is what the loop takes per frame while
// the GL rasterises behind it; a present that waits for the GL adds the whole raster to it.
// (The director's frame starts with a clear of the whole colour buffer, so a retained view has
// nothing to carry into it.)
//
// Each iteration runs kFrames frames on the plain view, then kFrames on the retained one, then
// kFrames on a retained one that keeps no frame for read-back (all in one share group, the
// director switching between them), each run ending in a glFinish so that no frame's raster is
// left uncounted. Counters: `plain_ms`, `retained_ms` and `unkept_ms` a frame, `ratio`
// retained / plain, `unkept_ratio` unkept / plain, `es` the context's major version. Mesa
// picks the version at process start: run once as it is (ES 3.2) and once with
// MESA_GLES_VERSION_OVERRIDE=2.0.
#include "BenchSupport.h"
#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCLayer.h"
#include "core/CCScene.h"
#include "core/CCShaderCache.h"
#include "graphics/CCTextureCache.h"
#include "platform/GLExtensions.h"
#include "platform/Log.h"

#include <benchmark/benchmark.h>

#include <GLES2/gl2.h>

#include <chrono>

using platform::Ref;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 1024, kHeight = 768;
constexpr int kLayers = 12;
constexpr int kFrames = 8;
constexpr auto kUpdate = std::chrono::milliseconds(4);

// The game's update: CPU work that keeps the main thread busy.
void update() {
    Clock::time_point end = Clock::now() + kUpdate;
    while (Clock::now() < end)
        benchmark::ClobberMemory();
}

Ref<CCGLView> makeView(bool retained, platform::ShareGroup* group) {
    auto view = platform::make<CCGLView>();
    if (!view->initWithFrame(CGRectMake(0, 0, kWidth, kHeight), kEAGLColorFormatRGBA8, 0, retained, group,
                             false, 0))
        return nullptr;
    view->layoutIfNeeded();
    return view;
}

// Seconds a frame of kFrames frames on `view`, after one frame that settles the switch.
double run(CCDirector* director, CCGLView* view) {
    director->setView(view);
    director->drawScene();
    glFinish();
    Clock::time_point start = Clock::now();
    for (int i = 0; i < kFrames; ++i) {
        update();
        director->drawScene();
    }
    glFinish();
    return std::chrono::duration<double>(Clock::now() - start).count() / kFrames;
}

void BM_GameLoopPlainAgainstRetained(benchmark::State& state) {
    platform::setLogSink([](const std::string&) {}); // the director reports each view it is given
    Ref<CCGLView> plain = makeView(false, nullptr);
    Ref<CCGLView> retained = plain ? makeView(true, plain->context()->sharegroup()) : nullptr;
    Ref<CCGLView> unkept = plain ? makeView(true, plain->context()->sharegroup()) : nullptr;
    if (!plain || !retained || !unkept) {
        state.SkipWithError("no GL view");
        return;
    }
    CCDirector* director = CCDirector::sharedDirector();
    director->setView(plain.get());
    director->setDisplayStats(false);
    auto scene = CCScene::node();
    for (int i = 0; i < kLayers; ++i)
        scene->addChild(CCLayerColor::layerWithColor(ccc4(static_cast<GLubyte>(20 * i), 90, 200, 128)).get());
    director->runWithScene(scene.get());
    unkept->layer()->setKeepsPresentedFrame(false);

    double plainTotal = 0, retainedTotal = 0, unkeptTotal = 0;
    for (auto _ : state) {
        double plainFrame = run(director, plain.get());
        double retainedFrame = run(director, retained.get());
        double unkeptFrame = run(director, unkept.get());
        plainTotal += plainFrame;
        retainedTotal += retainedFrame;
        unkeptTotal += unkeptFrame;
        state.SetIterationTime(plainFrame + retainedFrame + unkeptFrame);
    }
    double n = static_cast<double>(state.iterations());
    state.counters["plain_ms"] = plainTotal / n * 1e3;
    state.counters["retained_ms"] = retainedTotal / n * 1e3;
    state.counters["unkept_ms"] = unkeptTotal / n * 1e3;
    state.counters["ratio"] = retainedTotal / plainTotal;
    state.counters["unkept_ratio"] = unkeptTotal / plainTotal;
    state.counters["es"] = platform::glExtensions().majorVersion;
    scene = nullptr;
    purgeEngine();
    platform::setLogSink({});
}
BENCHMARK(BM_GameLoopPlainAgainstRetained)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3);

} // namespace

BENCHMARK_MAIN();
