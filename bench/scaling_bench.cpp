// How the everyday scene-graph, scheduler and touch operations grow with the size of the scene:
// each row runs at 1k, 10k and 100k objects (the sprite batch at 1.6k and 16k, under its quad
// cap). Only the operation is timed (manual time); building the scene is not. After the runs a
// table gives each row's median times and its growth per 10x (a linear cost grows about 10x).
#include "BenchSupport.h"
#include "core/CCArray.h"
#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCNode.h"
#include "core/CCScheduler.h"
#include "core/CCShaderCache.h"
#include "core/CCTouchDispatcher.h"
#include "graphics/CCSprite.h"
#include "graphics/CCSpriteBatchNode.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureCache.h"
#include "platform/Drawable.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

using platform::make;
using platform::Ref;
using Clock = std::chrono::steady_clock;

// Outside the anonymous namespace so that calls through the engine stay real virtual calls.
namespace bench {
class UpdateTarget : public platform::Object {
public:
    [[gnu::noinline]] virtual void update(double dt) { sum += dt; }
    double sum = 0;
};

class TouchTarget : public platform::Object, public CCTouchOneByOneDelegate {
public:
    bool ccTouchBegan(platform::Touch*, platform::Event*) override { return false; }
};
} // namespace bench

namespace {

// Median seconds per (row, n), for the growth table.
std::map<std::string, std::map<std::int64_t, std::vector<double>>> results;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void record(benchmark::State& state, const std::string& row, double seconds) {
    state.SetIterationTime(seconds);
    results[row][state.range(0)].push_back(seconds);
}

std::vector<std::int64_t> randomZ(std::size_t n, std::mt19937& random) {
    std::uniform_int_distribution<std::int64_t> z(-1000, 1000);
    std::vector<std::int64_t> zs(n);
    for (auto& v : zs)
        v = z(random);
    return zs;
}

// A parent with n children, added with the given z orders.
Ref<CCNode> parentWith(const std::vector<std::int64_t>& zs) {
    Ref<CCNode> parent = CCNode::node();
    for (std::int64_t z : zs)
        parent->addChild(CCNode::node().get(), z);
    return parent;
}

void BM_ChildSortRandomZ(benchmark::State& state) {
    std::mt19937 random(1);
    for (auto _ : state) {
        Ref<CCNode> parent = parentWith(randomZ(static_cast<std::size_t>(state.range(0)), random));
        Clock::time_point start = Clock::now();
        parent->sortAllChildren();
        record(state, "child sort, n random z", since(start));
    }
}

void BM_ReorderTenthThenSort(benchmark::State& state) {
    std::mt19937 random(2);
    const auto n = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        Ref<CCNode> parent = parentWith(randomZ(n, random));
        parent->sortAllChildren();
        std::vector<CCNode*> children;
        for (std::uint64_t i = 0; i < n; ++i)
            children.push_back(static_cast<CCNode*>(parent->children()->objectAtIndex(i)));
        std::shuffle(children.begin(), children.end(), random);
        children.resize(n / 10);
        std::vector<std::int64_t> zs = randomZ(n / 10, random);
        Clock::time_point start = Clock::now();
        for (std::size_t i = 0; i < children.size(); ++i)
            parent->reorderChild(children[i], zs[i]);
        parent->sortAllChildren();
        record(state, "reorderChild n/10, sort", since(start));
    }
}

enum Order { kBackFirst, kFrontFirst, kRandom };
const char* const kOrderNames[] = {"back first", "front first", "random"};

template <class T> void arrange(std::vector<T>& items, Order order, std::mt19937& random) {
    if (order == kBackFirst) std::reverse(items.begin(), items.end());
    if (order == kRandom) std::shuffle(items.begin(), items.end(), random);
}

void BM_RemoveChildren(benchmark::State& state, Order order) {
    std::mt19937 random(3);
    const auto n = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        Ref<CCNode> parent = parentWith(std::vector<std::int64_t>(n, 0));
        std::vector<Ref<CCNode>> children;
        for (std::uint64_t i = 0; i < n; ++i)
            children.emplace_back(static_cast<CCNode*>(parent->children()->objectAtIndex(i)));
        arrange(children, order, random);
        Clock::time_point start = Clock::now();
        for (auto& child : children)
            parent->removeChild(child.get(), true);
        record(state, std::string("removeChild all, ") + kOrderNames[order], since(start));
    }
}

Ref<CCTexture2D> makeTexture() {
    std::vector<std::uint8_t> data(8 * 8 * 4, 255);
    auto texture = make<CCTexture2D>();
    texture->initWithData(data.data(), kCCTexture2DPixelFormat_RGBA8888, 8, 8, CGSizeMake(8, 8));
    return texture;
}

void BM_BatchRemoveAll(benchmark::State& state, Order order) {
    std::mt19937 random(4);
    const auto n = static_cast<std::size_t>(state.range(0));
    Ref<CCTexture2D> texture = makeTexture();
    for (auto _ : state) {
        Ref<CCSpriteBatchNode> batch = CCSpriteBatchNode::batchNodeWithTexture(texture.get(), n);
        std::uniform_int_distribution<std::int64_t> z(-100, 100);
        std::vector<Ref<CCSprite>> sprites;
        for (std::size_t i = 0; i < n; ++i) {
            sprites.push_back(CCSprite::spriteWithTexture(texture.get(), CGRectMake(0, 0, 8, 8)));
            batch->addChild(sprites.back().get(), z(random));
        }
        batch->sortAllChildren();
        // In the batch's order (by z), so that back first removes the last child first.
        sprites.clear();
        for (std::uint64_t i = 0; i < n; ++i)
            sprites.emplace_back(static_cast<CCSprite*>(batch->children()->objectAtIndex(i)));
        arrange(sprites, order, random);
        Clock::time_point start = Clock::now();
        for (auto& sprite : sprites)
            batch->removeChild(sprite.get(), true);
        record(state, std::string("batch removeChild all, ") + kOrderNames[order], since(start));
    }
}

void BM_ScheduleUpdatePriority1(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        std::vector<Ref<bench::UpdateTarget>> targets;
        for (std::size_t i = 0; i < n; ++i)
            targets.push_back(make<bench::UpdateTarget>());
        Ref<CCScheduler> scheduler = make<CCScheduler>();
        scheduler->init();
        Clock::time_point start = Clock::now();
        for (auto& t : targets)
            scheduler->scheduleUpdateForTarget(t.get(), 1, false);
        record(state, "scheduleUpdate, priority 1", since(start));
        scheduler->unscheduleAll();
    }
}

// n touch handlers with their priorities (all 0, or random) and a dispatcher to add them to.
struct TouchScene {
    TouchScene(std::size_t n, bool randomPriorities, std::mt19937& random) : priorities(n, 0) {
        for (std::size_t i = 0; i < n; ++i)
            targets.push_back(make<bench::TouchTarget>());
        std::uniform_int_distribution<std::int64_t> d(-1000, 1000);
        if (randomPriorities)
            for (auto& v : priorities)
                v = d(random);
        dispatcher->init();
    }
    void addAll() {
        for (std::size_t i = 0; i < targets.size(); ++i)
            dispatcher->addTargetedDelegate(targets[i].get(), priorities[i], false);
    }

    std::vector<Ref<bench::TouchTarget>> targets;
    std::vector<std::int64_t> priorities;
    Ref<CCTouchDispatcher> dispatcher = make<CCTouchDispatcher>();
};

void BM_AddTargetedDelegate(benchmark::State& state, bool randomPriorities) {
    std::mt19937 random(5);
    for (auto _ : state) {
        TouchScene scene(static_cast<std::size_t>(state.range(0)), randomPriorities, random);
        Clock::time_point start = Clock::now();
        scene.addAll();
        record(state,
               randomPriorities ? "addTargetedDelegate, random priorities"
                                : "addTargetedDelegate, priority 0",
               since(start));
        scene.dispatcher->removeAllDelegates();
    }
}

void BM_RemoveDelegate(benchmark::State& state, bool randomPriorities) {
    std::mt19937 random(6);
    for (auto _ : state) {
        TouchScene scene(static_cast<std::size_t>(state.range(0)), randomPriorities, random);
        scene.addAll();
        std::shuffle(scene.targets.begin(), scene.targets.end(), random);
        Clock::time_point start = Clock::now();
        for (auto& t : scene.targets)
            scene.dispatcher->removeDelegate(t.get());
        record(state, randomPriorities ? "removeDelegate, random priorities" : "removeDelegate, priority 0",
               since(start));
    }
}

// Few iterations at the large sizes: a quadratic row takes seconds there.
void sizes(benchmark::internal::Benchmark* b) {
    b->Arg(1000)->Arg(10000)->Arg(100000)->UseManualTime()->MinTime(0.2)->Unit(benchmark::kMillisecond);
}

void batchSizes(benchmark::internal::Benchmark* b) {
    b->Arg(1600)->Arg(16000)->UseManualTime()->MinTime(0.2)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_ChildSortRandomZ)->Apply(sizes);
BENCHMARK(BM_ReorderTenthThenSort)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RemoveChildren, back_first, kBackFirst)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RemoveChildren, front_first, kFrontFirst)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RemoveChildren, random, kRandom)->Apply(sizes);
BENCHMARK_CAPTURE(BM_BatchRemoveAll, back_first, kBackFirst)->Apply(batchSizes);
BENCHMARK_CAPTURE(BM_BatchRemoveAll, front_first, kFrontFirst)->Apply(batchSizes);
BENCHMARK_CAPTURE(BM_BatchRemoveAll, random, kRandom)->Apply(batchSizes);
BENCHMARK(BM_ScheduleUpdatePriority1)->Apply(sizes);
BENCHMARK_CAPTURE(BM_AddTargetedDelegate, priority_0, false)->Apply(sizes);
BENCHMARK_CAPTURE(BM_AddTargetedDelegate, random_priorities, true)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RemoveDelegate, priority_0, false)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RemoveDelegate, random_priorities, true)->Apply(sizes);

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void printGrowth() {
    std::printf("\n%-40s %12s %12s %12s  growth per 10x\n", "operation", "small ms", "x10 ms", "x100 ms");
    for (auto& [row, bySize] : results) {
        std::printf("%-40s", row.c_str());
        double previous = 0;
        std::string growth;
        for (auto& [n, times] : bySize) {
            double m = median(times);
            std::printf(" %12.3f", m * 1e3);
            if (previous > 0) {
                char text[32];
                std::snprintf(text, sizeof text, " %.0f", m / previous);
                growth += text;
            }
            previous = m;
        }
        for (std::size_t i = bySize.size(); i < 3; ++i)
            std::printf(" %12s", "");
        std::printf(" %s\n", growth.c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    {
        // Sprites and their batch need a GL context.
        Ref<CCGLView> view = CCGLView::viewWithFrame(CGRectMake(0, 0, 64, 64), kEAGLColorFormatRGBA8, 0);
        if (!view) {
            std::fprintf(stderr, "no GL view\n");
            return 1;
        }
        view->layoutIfNeeded();
        CCDirector::sharedDirector()->setView(view.get());
        benchmark::RunSpecifiedBenchmarks();
        purgeEngine();
    }
    benchmark::Shutdown();
    printGrowth();
    return 0;
}
