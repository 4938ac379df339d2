// The per-frame cost of the scheduler and the action manager against the least possible work:
// a plain loop over the same objects making the same virtual calls.
#include "actions/CCAction.h"
#include "actions/CCActionManager.h"
#include "core/CCScheduler.h"

#include <benchmark/benchmark.h>

#include <vector>

using platform::make;
using platform::Object;
using platform::Ref;

// Callbacks are kept out of line so that the loop pays a real call per object, as the
// scheduler does. The class lives outside the anonymous namespace: there the compiler would
// know it has no subclasses and turn the loop's virtual calls into direct ones, which no
// caller holding an arbitrary target can do.
namespace bench {
class Target : public Object {
public:
    [[gnu::noinline]] virtual void update(double dt) { sum += dt; }
    [[gnu::noinline]] virtual void tick(double dt) { sum += dt; }
    double sum = 0;
};
} // namespace bench

namespace {

using bench::Target;

constexpr int kTargets = 10000;

class Stepper : public CCActionFactory<Stepper, CCAction> {
public:
    [[gnu::noinline]] void step(double dt) override { sum += dt; }
    [[gnu::noinline]] bool isDone() const override { return false; }
    double sum = 0;
};

std::vector<Ref<Target>> makeTargets() {
    std::vector<Ref<Target>> targets;
    targets.reserve(kTargets);
    for (int i = 0; i < kTargets; ++i)
        targets.push_back(make<Target>());
    return targets;
}

void perCallback(benchmark::State& state, int callbacksPerFrame) {
    state.counters["ns_per_callback"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * callbacksPerFrame * 1e-9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Updates at priority 0 and interval-0 timers, one of each per target.
void BM_SchedulerUpdateAndTimers(benchmark::State& state) {
    auto targets = makeTargets();
    Ref<CCScheduler> scheduler = make<CCScheduler>();
    scheduler->init();
    for (auto& t : targets) {
        scheduler->scheduleUpdateForTarget(t.get(), 0, false);
        scheduler->scheduleSelector(fl_selector(Target::tick), t.get(), 0, false);
    }
    scheduler->update(0.016); // arms the timers
    for (auto _ : state)
        scheduler->update(0.016);
    perCallback(state, 2 * kTargets);
}
BENCHMARK(BM_SchedulerUpdateAndTimers);

void BM_SchedulerUpdatesOnly(benchmark::State& state) {
    auto targets = makeTargets();
    Ref<CCScheduler> scheduler = make<CCScheduler>();
    scheduler->init();
    for (auto& t : targets)
        scheduler->scheduleUpdateForTarget(t.get(), 0, false);
    for (auto _ : state)
        scheduler->update(0.016);
    perCallback(state, kTargets);
}
BENCHMARK(BM_SchedulerUpdatesOnly);

void BM_SchedulerTimersOnly(benchmark::State& state) {
    auto targets = makeTargets();
    Ref<CCScheduler> scheduler = make<CCScheduler>();
    scheduler->init();
    for (auto& t : targets)
        scheduler->scheduleSelector(fl_selector(Target::tick), t.get(), 0, false);
    scheduler->update(0.016);
    for (auto _ : state)
        scheduler->update(0.016);
    perCallback(state, kTargets);
}
BENCHMARK(BM_SchedulerTimersOnly);

// The same calls made by hand: update and tick of every target.
void BM_PlainLoopUpdateAndTick(benchmark::State& state) {
    auto targets = makeTargets();
    std::vector<Target*> raw;
    for (auto& t : targets)
        raw.push_back(t.get());
    for (auto _ : state) {
        for (Target* t : raw)
            t->update(0.016);
        for (Target* t : raw)
            t->tick(0.016);
        benchmark::ClobberMemory();
    }
    perCallback(state, 2 * kTargets);
}
BENCHMARK(BM_PlainLoopUpdateAndTick);

void BM_ActionManagerUpdate(benchmark::State& state) {
    std::vector<Ref<CCNode>> nodes;
    Ref<CCActionManager> manager = make<CCActionManager>();
    manager->init();
    for (int i = 0; i < kTargets; ++i) {
        nodes.push_back(make<CCNode>());
        manager->addAction(Stepper::action().get(), nodes.back().get(), false);
    }
    for (auto _ : state)
        manager->update(0.016);
    perCallback(state, kTargets);
}
BENCHMARK(BM_ActionManagerUpdate);

// step and isDone of every action by hand.
void BM_PlainLoopStepAndIsDone(benchmark::State& state) {
    std::vector<Ref<CCAction>> actions;
    for (int i = 0; i < kTargets; ++i)
        actions.push_back(Stepper::action());
    std::vector<CCAction*> raw;
    for (auto& a : actions)
        raw.push_back(a.get());
    int done = 0;
    for (auto _ : state) {
        for (CCAction* a : raw) {
            a->step(0.016);
            if (a->isDone()) ++done;
        }
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(done);
    perCallback(state, kTargets);
}
BENCHMARK(BM_PlainLoopStepAndIsDone);

} // namespace

BENCHMARK_MAIN();
