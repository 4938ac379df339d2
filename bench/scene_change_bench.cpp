// The director's own work for a scene change on a stack of a given depth: a push and the switch
// to the pushed scene, and a pop and the switch back (exit, cleanup, enter). The switch is the
// one a frame makes (setNextScene), without the frame's drawing. Plain scenes, so the time is the
// director's bookkeeping; a change should cost the same at any depth. Each iteration pushes and
// pops: the time is the change timed, the CPU time that of both.
#include "BenchSupport.h"
#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCMatrix.h"
#include "core/CCScene.h"
#include "core/CCShaderCache.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCTextureCache.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <vector>

using platform::Ref;
using Clock = std::chrono::steady_clock;

namespace {

enum Change : std::int64_t { kPush = 0, kPop = 1 };

// args: the change timed, the depth of the stack it is made on.
void BM_SceneChange(benchmark::State& state) {
    const auto timed = static_cast<Change>(state.range(0));
    const auto depth = static_cast<std::size_t>(state.range(1));
    {
        Ref<CCGLView> view = CCGLView::viewWithFrame(CGRectMake(0, 0, 64, 64), kEAGLColorFormatRGBA8, 0);
        if (!view) {
            state.SkipWithError("no GL view");
            return;
        }
        view->layoutIfNeeded();
        CCDirector* director = CCDirector::sharedDirector();
        director->setView(view.get());
        director->setDisplayStats(false);

        std::vector<Ref<CCScene>> stack;
        for (std::size_t i = 0; i < depth; ++i) {
            stack.push_back(CCScene::node());
            if (i == 0)
                director->runWithScene(stack.back().get());
            else
                director->pushScene(stack.back().get());
            director->setNextScene();
        }
        Ref<CCScene> top = CCScene::node();
        for (auto _ : state) {
            Clock::time_point start = Clock::now();
            director->pushScene(top.get());
            director->setNextScene();
            Clock::time_point pushed = Clock::now();
            director->popScene();
            director->setNextScene();
            Clock::time_point popped = Clock::now();
            state.SetIterationTime(
                std::chrono::duration<double>(timed == kPush ? pushed - start : popped - pushed).count());
        }
        state.counters["depth"] = static_cast<double>(director->scenesStack().size());

        purgeEngine();
    }
    matrixFreeAll();
    glCacheInvalidate();
}

void cases(benchmark::internal::Benchmark* b) {
    for (std::int64_t change : {kPush, kPop})
        for (std::int64_t depth : {10, 1000, 10000})
            b->Args({change, depth});
    b->ArgNames({"pop", "depth"})->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(0.2);
}

BENCHMARK(BM_SceneChange)->Apply(cases);

} // namespace

BENCHMARK_MAIN();
