// Frames of a page turn held at one point of its run, on a fill-heavy view (1024 x 768, each
// scene sixteen translucent layers over the whole window): on a view without a depth buffer,
// on a depth view with the director's depth test off, and on one with it on. The director is
// paused and the turn stepped by hand, so every frame draws the same picture. Frames run back
// to back with one glFinish at the end of a run of kFramesPerRun; a frame's time is the run's
// over its frames.
#include "BenchSupport.h"
#include "actions/CCTransitionPageTurn.h"
#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCLayer.h"
#include "core/CCMatrix.h"
#include "core/CCScene.h"
#include "core/CCScheduler.h"
#include "core/CCShaderCache.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCTextureCache.h"
#include "platform/Drawable.h"

#include <benchmark/benchmark.h>

#include <GLES2/gl2.h>
#include <GLES2/gl2ext.h>

#include <chrono>
#include <cstdint>

using platform::Ref;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 1024, kHeight = 768;
constexpr int kFramesPerRun = 8;
constexpr int kLayers = 16;

enum View : std::int64_t { kNoDepthBuffer = 0, kDepthTestOff = 1, kDepthTestOn = 2 };

Ref<CCScene> layeredScene(GLubyte red, GLubyte blue) {
    Ref<CCScene> scene = CCScene::node();
    for (int i = 0; i < kLayers; ++i) {
        auto layer = CCLayerColor::layerWithColor(ccc4(red, static_cast<GLubyte>(i * 16), blue, 128),
                                                  kWidth - 8.0f * i, kHeight - 6.0f * i);
        scene->addChild(layer.get());
    }
    return scene;
}

void BM_PageTurnFrame(benchmark::State& state) {
    const auto view = static_cast<View>(state.range(0));
    const double progress = static_cast<double>(state.range(1)) / 100.0;
    const bool backwards = state.range(2) != 0;
    {
        Ref<CCGLView> glView =
            CCGLView::viewWithFrame(CGRectMake(0, 0, kWidth, kHeight), kEAGLColorFormatRGBA8,
                                    view == kNoDepthBuffer ? 0 : GL_DEPTH24_STENCIL8_OES);
        if (!glView) {
            state.SkipWithError("no GL view");
            return;
        }
        glView->layoutIfNeeded();
        CCDirector* director = CCDirector::sharedDirector();
        director->setView(glView.get());
        director->setDisplayStats(false);
        director->setDepthTest(view == kDepthTestOn);

        Ref<CCScene> a = layeredScene(255, 0);
        Ref<CCScene> b = layeredScene(0, 255);
        director->runWithScene(a.get());
        director->drawScene();
        // Paused, the director draws without stepping the scheduler: the turn is stepped here.
        director->pause();
        Ref<CCTransitionPageTurn> turn = CCTransitionPageTurn::transitionWithDuration(1, b.get(), backwards);
        director->replaceScene(turn.get());
        director->drawScene();
        director->scheduler()->update(0);
        director->scheduler()->update(progress);
        director->drawScene();
        glFinish();

        for (auto _ : state) {
            Clock::time_point start = Clock::now();
            for (int i = 0; i < kFramesPerRun; ++i)
                director->drawScene();
            glFinish();
            state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count() /
                                   kFramesPerRun);
        }

        purgeEngine();
    }
    matrixFreeAll();
    glCacheInvalidate();
}

void cases(benchmark::internal::Benchmark* b) {
    for (std::int64_t view : {kNoDepthBuffer, kDepthTestOff, kDepthTestOn})
        for (std::int64_t percent : {30, 85})
            for (std::int64_t backwards : {0, 1})
                b->Args({view, percent, backwards});
    b->ArgNames({"view", "percent", "back"})->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(0.5);
}

BENCHMARK(BM_PageTurnFrame)->Apply(cases);

} // namespace

BENCHMARK_MAIN();
