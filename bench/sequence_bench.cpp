// The per-step cost of sequences and spawns of the depths games build. Each case steps a batch of
// actions as the action manager does (step, then isDone), restarting the ones that finish, so
// the hand-over from one inner action to the next is counted too. The leaves are delays: what
// is measured is the pairs' own work.
#include "actions/CCActionInterval.h"
#include "core/CCNode.h"

#include <benchmark/benchmark.h>

#include <functional>
#include <vector>

using platform::Ref;

namespace {

constexpr int kActions = 256;
constexpr double kDt = 1.0 / 60;

Ref<CCFiniteTimeAction> delay(double duration) {
    return Ref<CCFiniteTimeAction>(CCDelayTime::actionWithDuration(duration));
}

Ref<CCFiniteTimeAction> sequence(const Ref<CCFiniteTimeAction>& one, const Ref<CCFiniteTimeAction>& two) {
    return Ref<CCFiniteTimeAction>(CCSequence::actionOne(one.get(), two.get()));
}

void stepBatch(benchmark::State& state, const std::function<Ref<CCFiniteTimeAction>()>& make) {
    Ref<CCNode> node = CCNode::node();
    std::vector<Ref<CCFiniteTimeAction>> actions;
    for (int i = 0; i < kActions; ++i) {
        actions.push_back(make());
        actions.back()->startWithTarget(node.get());
        // Staggered, so that the hand-overs do not all fall in the same frame.
        for (int frame = 0; frame < i % 61; ++frame)
            actions.back()->step(kDt);
    }
    for (auto _ : state) {
        for (const Ref<CCFiniteTimeAction>& action : actions) {
            action->step(kDt);
            if (action->isDone()) {
                action->stop();
                action->startWithTarget(node.get());
            }
        }
        benchmark::ClobberMemory();
    }
    state.counters["ns_per_step"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kActions * 1e-9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_RepeatOfTwoActionSequence(benchmark::State& state) {
    stepBatch(state, [] {
        return Ref<CCFiniteTimeAction>(
            CCRepeat::actionWithAction(sequence(delay(0.25), delay(0.25)).get(), 8));
    });
}
BENCHMARK(BM_RepeatOfTwoActionSequence);

void BM_EightNestedSequences(benchmark::State& state) {
    stepBatch(state, [] {
        std::vector<Ref<CCFiniteTimeAction>> delays;
        for (int i = 0; i < 9; ++i)
            delays.push_back(delay(0.25));
        return CCSequence::actionWithArray(delays);
    });
}
BENCHMARK(BM_EightNestedSequences);

void BM_TwoActionSpawn(benchmark::State& state) {
    stepBatch(state,
              [] { return Ref<CCFiniteTimeAction>(CCSpawn::actionOne(delay(1).get(), delay(1).get())); });
}
BENCHMARK(BM_TwoActionSpawn);

void BM_SequenceOfSpawnAndSequence(benchmark::State& state) {
    stepBatch(state, [] {
        Ref<CCFiniteTimeAction> spawn(CCSpawn::actionOne(delay(0.5).get(), delay(0.5).get()));
        return sequence(spawn, sequence(delay(0.25), delay(0.25)));
    });
}
BENCHMARK(BM_SequenceOfSpawnAndSequence);

} // namespace

BENCHMARK_MAIN();
