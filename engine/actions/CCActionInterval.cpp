#include "actions/CCActionInterval.h"

#include "actions/CCActionInstant.h"
#include "platform/Exception.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <typeinfo>
#include <utility>
#include <vector>

using platform::Ref;

namespace {

constexpr double kEpsilon = FLT_EPSILON;

} // namespace

// ---- CCActionInterval ----

Ref<CCActionInterval> CCActionInterval::actionWithDuration(double duration) {
    return createWith(&CCActionInterval::initWithDuration, duration);
}

bool CCActionInterval::init() {
    return false;
}

bool CCActionInterval::initWithDuration(double duration) {
    if (!CCFiniteTimeAction::init()) return false;
    _duration = duration == 0 ? kEpsilon : duration;
    _elapsed = 0;
    _firstTick = true;
    return true;
}

Ref<platform::Object> CCActionInterval::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCActionInterval& a) { return a.initWithDuration(_duration); });
}

bool CCActionInterval::isDone() const {
    return _elapsed >= _duration;
}

void CCActionInterval::step(double dt) {
    if (_firstTick) {
        _firstTick = false;
        _elapsed = 0;
    } else {
        _elapsed += dt;
    }
    double t = _elapsed / std::max(_duration, kEpsilon);
    if (t > 1) t = 1;
    if (!(t > 0)) t = 0;
    update(t);
}

void CCActionInterval::startWithTarget(CCNode* target) {
    CCFiniteTimeAction::startWithTarget(target);
    _elapsed = 0;
    _firstTick = true;
}

Ref<CCFiniteTimeAction> CCActionInterval::reverse() const {
    return nullptr;
}

void CCActionInterval::setAmplitudeRate(double) {
    throw platform::Exception("IntervalAction (Amplitude)", "Abstract class needs implementation");
}

double CCActionInterval::getAmplitudeRate() const {
    throw platform::Exception("IntervalAction (Amplitude)", "Abstract class needs implementation");
}

// ---- chains of sequences and spawns ----

// actionWithArray nests one pair per action, so the chains a game builds can be a million levels
// deep. A pair knows how deep the pairs nested in it go; up to detail::kDirectChainDepth it calls
// its inner actions directly, as any action does, and a deeper one hands every operation that
// would call down through the chain one level per call (update, stop, the spawn's start, copy,
// reverse, the destructor's release) to the walk here, which keeps its frames on the heap. Each
// step of the walk is the pair's own code, split where it calls an inner action, so the order of
// calls and every progress value are the same on either path. Only pairs of exactly these two
// classes are walked or counted in a chain's depth; any other action, a subclass of them
// included, is called as usual.
class detail::CompositeWalk {
public:
    enum class Kind : std::uint8_t { Other, Sequence, Spawn };
    enum class Op : std::uint8_t { Update, Stop, Start };
    enum class Make : std::uint8_t { Copy, Reverse };

    // Compared by address, which is cheap: in the rare build where one class has two type_info
    // objects, a pair is merely called like any other action.
    static Kind kindOf(const CCFiniteTimeAction* action) {
        if (!action) return Kind::Other;
        const std::type_info* type = &typeid(*action);
        if (type == &typeid(CCSequence)) return Kind::Sequence;
        if (type == &typeid(CCSpawn)) return Kind::Spawn;
        return Kind::Other;
    }

    // The depth of a pair made of one and two: one more than the deeper of them (any other
    // action counts 0).
    static std::uint32_t chainDepth(const CCFiniteTimeAction* one, const CCFiniteTimeAction* two) {
        return 1 + std::max(depthOf(one), depthOf(two));
    }

    // Runs op on root as a pair of the given kind (root may be a subclass calling its base).
    static void run(CCActionInterval* root, Kind kind, Op op, double t, CCNode* target) {
        // The root's frame lives here; inner pairs' frames go on the thread's walk stack (fetched
        // at the first one), above those of any walk this one runs inside.
        Frame rootFrame(root, kind, op, t, target);
        // Frames are popped one at a time, so a destructor run by a release may start a walk of
        // its own on top; an exception leaves no frames behind.
        struct Unwind {
            std::vector<Frame>* stack = nullptr;
            std::size_t base = 0;
            ~Unwind() {
                if (!stack) return;
                while (stack->size() > base)
                    popFrame(*stack);
                if (base == 0 && stack->capacity() > kKeptFrames) std::vector<Frame>().swap(*stack);
            }
        } walk;
        for (;;) {
            // Looked up afresh each time: a walk run by an inner action may have moved the stack.
            const bool inner = walk.stack && walk.stack->size() > walk.base;
            const Call call = advance(inner ? walk.stack->back() : rootFrame);
            if (!call.action) {
                if (!inner) return;
                popFrame(*walk.stack);
                continue;
            }
            const Kind childKind = kindOf(call.action);
            // A sequence starts without calling its inner actions.
            if (childKind == Kind::Other || (childKind == Kind::Sequence && call.op == Op::Start)) {
                switch (call.op) {
                case Op::Update:
                    call.action->update(call.t);
                    break;
                case Op::Stop:
                    call.action->stop();
                    break;
                case Op::Start:
                    call.action->startWithTarget(call.target);
                    break;
                }
            } else {
                if (!walk.stack) {
                    walk.stack = &runStack();
                    walk.base = walk.stack->size();
                }
                walk.stack->emplace_back(static_cast<CCActionInterval*>(call.action), childKind, call.op,
                                         call.t, call.target);
            }
        }
    }

    // The copies or reverses of root's two inner actions, by index (root is not made). A
    // sequence's reverse reverses its second action first.
    static std::pair<Ref<CCFiniteTimeAction>, Ref<CCFiniteTimeAction>>
    made(const CCActionInterval* root, Kind kind, Make make, std::uint32_t depth) {
        if (depth > kDirectChainDepth) return walkMade(root, kind, make);
        CCFiniteTimeAction* one = childOf(root, kind, 0);
        CCFiniteTimeAction* two = childOf(root, kind, 1);
        if (make == Make::Copy) {
            Ref<CCFiniteTimeAction> first = platform::copyOf(one);
            return {std::move(first), platform::copyOf(two)};
        }
        if (kind == Kind::Sequence) {
            Ref<CCFiniteTimeAction> second = two->reverse();
            return {one->reverse(), std::move(second)};
        }
        Ref<CCFiniteTimeAction> first = one->reverse();
        return {std::move(first), two->reverse()};
    }

    // Releases the inner actions of a pair of the given depth. Pairs that only this chain holds
    // are emptied before they are freed, first actions first, so that past the direct depth a loop
    // frees them without one nested destructor per level.
    static void release(Ref<CCFiniteTimeAction>& one, Ref<CCFiniteTimeAction>& two, std::uint32_t depth) {
        if (!ownedPair(one.get()) && !ownedPair(two.get())) return;
        if (depth <= kDirectChainDepth) {
            freeOwned(std::move(one));
            freeOwned(std::move(two));
            return;
        }
        std::vector<Ref<CCFiniteTimeAction>> pending;
        pending.push_back(std::move(two));
        pending.push_back(std::move(one));
        while (!pending.empty()) {
            Ref<CCFiniteTimeAction> action = std::move(pending.back());
            pending.pop_back();
            if (!ownedPair(action.get())) continue;
            auto inner = takeInner(*action);
            action = nullptr;
            pending.push_back(std::move(inner.second));
            pending.push_back(std::move(inner.first));
        }
    }

private:
    static std::pair<Ref<CCFiniteTimeAction>, Ref<CCFiniteTimeAction>> walkMade(const CCActionInterval* root,
                                                                                Kind kind, Make make) {
        std::vector<Build> stack;
        stack.emplace_back(root, kind);
        for (;;) {
            Build& top = stack.back();
            if (top.next < 2) {
                // A sequence's reverse reverses its second action first.
                const int index =
                    make == Make::Reverse && top.kind == Kind::Sequence ? 1 - top.next : top.next;
                ++top.next;
                CCFiniteTimeAction* child = childOf(top.node, top.kind, index);
                const Kind childKind = kindOf(child);
                if (childKind == Kind::Other) {
                    top.result[index] = make == Make::Copy ? platform::copyOf(child) : child->reverse();
                } else {
                    top.pending = index;
                    stack.emplace_back(static_cast<const CCActionInterval*>(child), childKind);
                }
                continue;
            }
            if (stack.size() == 1) return {std::move(top.result[0]), std::move(top.result[1])};
            Ref<CCFiniteTimeAction> pair = combine(top.kind, make, top.result[0].get(), top.result[1].get());
            stack.pop_back();
            stack.back().result[stack.back().pending] = std::move(pair);
        }
    }

    // The pair of the given kind made of one and two as the copy or reverse makes it; null when
    // either is null.
    static Ref<CCFiniteTimeAction> combine(Kind kind, Make make, CCFiniteTimeAction* one,
                                           CCFiniteTimeAction* two) {
        if (kind == Kind::Sequence) {
            Ref<CCSequence> pair = platform::make<CCSequence>();
            const bool made = make == Make::Reverse ? pair->initOne(two, one) : pair->initOne(one, two);
            return made ? Ref<CCFiniteTimeAction>(std::move(pair)) : nullptr;
        }
        Ref<CCSpawn> pair = platform::make<CCSpawn>();
        return pair->initOne(one, two) ? Ref<CCFiniteTimeAction>(std::move(pair)) : nullptr;
    }

    // The release's loop, nested: frees action when nothing else holds it, then what only it held.
    static void freeOwned(Ref<CCFiniteTimeAction> action) {
        if (!ownedPair(action.get())) return;
        auto inner = takeInner(*action);
        action = nullptr;
        freeOwned(std::move(inner.first));
        freeOwned(std::move(inner.second));
    }
    static std::pair<Ref<CCFiniteTimeAction>, Ref<CCFiniteTimeAction>> takeInner(CCFiniteTimeAction& pair) {
        if (kindOf(&pair) == Kind::Sequence) {
            auto& sequence = static_cast<CCSequence&>(pair);
            return {std::move(sequence._actions[0]), std::move(sequence._actions[1])};
        }
        auto& spawn = static_cast<CCSpawn&>(pair);
        return {std::move(spawn._one), std::move(spawn._two)};
    }

    // Walk stacks of up to this many frames are kept for the next walk on the thread.
    static constexpr std::size_t kKeptFrames = 1024;

    struct Frame {
        Frame(CCActionInterval* node, Kind kind, Op op, double t, CCNode* target)
            : node(node), kind(kind), op(op), t(t), target(target) {}

        CCActionInterval* node;
        Kind kind;
        Op op;
        double t;
        CCNode* target;
        // Where the pair's code resumes.
        int pc = 0;
        // The sequence's choice of inner action.
        int found = 0;
        double newT = 0;
        // The inner actions the pair calls, kept alive while their calls run (and so the pairs of
        // the frames above this one).
        Ref<CCFiniteTimeAction> first, second;
    };
    struct Call {
        CCFiniteTimeAction* action = nullptr;
        Op op = Op::Update;
        double t = 0;
        CCNode* target = nullptr;
    };
    struct Build {
        Build(const CCActionInterval* node, Kind kind) : node(node), kind(kind) {}

        const CCActionInterval* node;
        Kind kind;
        int next = 0;
        int pending = 0;
        Ref<CCFiniteTimeAction> result[2];
    };

    static std::vector<Frame>& runStack() {
        thread_local std::vector<Frame> stack;
        return stack;
    }
    static void popFrame(std::vector<Frame>& stack) {
        Frame done = std::move(stack.back());
        stack.pop_back();
    }
    static std::uint32_t depthOf(const CCFiniteTimeAction* action) {
        switch (kindOf(action)) {
        case Kind::Sequence:
            return static_cast<const CCSequence*>(action)->_chainDepth;
        case Kind::Spawn:
            return static_cast<const CCSpawn*>(action)->_chainDepth;
        case Kind::Other:
            break;
        }
        return 0;
    }
    static bool ownedPair(const CCFiniteTimeAction* action) {
        return kindOf(action) != Kind::Other && action->retainCount() == 1;
    }
    static CCFiniteTimeAction* childOf(const CCActionInterval* node, Kind kind, int index) {
        if (kind == Kind::Sequence) return static_cast<const CCSequence*>(node)->_actions[index].get();
        const auto* spawn = static_cast<const CCSpawn*>(node);
        return (index == 0 ? spawn->_one : spawn->_two).get();
    }

    // Runs the frame's pair up to its next call of an inner action and returns that call; a call
    // without an action means the pair is done.
    static Call advance(Frame& f) {
        if (f.kind == Kind::Sequence) {
            auto* s = static_cast<CCSequence*>(f.node);
            return f.op == Op::Update ? sequenceUpdate(f, s) : sequenceStop(f, s);
        }
        auto* s = static_cast<CCSpawn*>(f.node);
        switch (f.op) {
        case Op::Update:
            return spawnUpdate(f, s);
        case Op::Stop:
            return spawnStop(f, s);
        case Op::Start:
            return spawnStart(f, s);
        }
        return {};
    }

    static Call sequenceUpdate(Frame& f, CCSequence* s) {
        for (;;) {
            switch (f.pc) {
            case 0:
                f.first = s->_actions[0];
                f.second = s->_actions[1];
                if (f.t < s->_split) {
                    f.found = 0;
                    f.newT = s->_split != 0 ? f.t / s->_split : 1;
                    if (s->_last == 1) {
                        // Time runs backwards: undo the second action before the first takes over.
                        f.pc = 1;
                        return {f.second.get(), Op::Update, 0};
                    }
                } else {
                    f.found = 1;
                    f.newT = s->_split == 1 ? 1 : (f.t - s->_split) / (1 - s->_split);
                    if (s->_last == -1) {
                        // The first action was skipped entirely: run it through to its end.
                        f.pc = 2;
                        return {f.first.get(), Op::Start, 0, s->_target};
                    }
                    if (s->_last == 0) {
                        f.pc = 3;
                        return {f.first.get(), Op::Update, 1};
                    }
                }
                f.pc = 5;
                break;
            case 1:
                f.pc = 5;
                return {f.second.get(), Op::Stop};
            case 2:
                f.pc = 3;
                return {f.first.get(), Op::Update, 1};
            case 3:
                f.pc = 5;
                return {f.first.get(), Op::Stop};
            case 5: {
                CCFiniteTimeAction* current = f.found == 0 ? f.first.get() : f.second.get();
                if (f.found == s->_last && current->isDone()) return {};
                f.pc = 6;
                if (f.found != s->_last) return {current, Op::Start, 0, s->_target};
                break;
            }
            case 6:
                f.pc = 7;
                return {f.found == 0 ? f.first.get() : f.second.get(), Op::Update, f.newT};
            default:
                s->_last = f.found;
                return {};
            }
        }
    }

    static Call sequenceStop(Frame& f, CCSequence* s) {
        if (f.pc == 0) {
            f.pc = 1;
            if (s->_last != -1) {
                f.first = s->_actions[s->_last];
                return {f.first.get(), Op::Stop};
            }
        }
        s->CCActionInterval::stop();
        return {};
    }

    static Call spawnUpdate(Frame& f, CCSpawn* s) {
        switch (f.pc++) {
        case 0:
            f.first = s->_one;
            f.second = s->_two;
            return {f.first.get(), Op::Update, f.t};
        case 1:
            return {f.second.get(), Op::Update, f.t};
        default:
            return {};
        }
    }

    static Call spawnStop(Frame& f, CCSpawn* s) {
        switch (f.pc++) {
        case 0:
            f.first = s->_one;
            return {f.first.get(), Op::Stop};
        case 1:
            f.second = s->_two;
            return {f.second.get(), Op::Stop};
        default:
            s->CCActionInterval::stop();
            return {};
        }
    }

    static Call spawnStart(Frame& f, CCSpawn* s) {
        switch (f.pc++) {
        case 0:
            s->CCActionInterval::startWithTarget(f.target);
            f.first = s->_one;
            return {f.first.get(), Op::Start, 0, f.target};
        case 1:
            f.second = s->_two;
            return {f.second.get(), Op::Start, 0, f.target};
        default:
            return {};
        }
    }
};

using Walk = detail::CompositeWalk;

// ---- CCSequence ----

Ref<CCSequence> CCSequence::actionOne(CCFiniteTimeAction* one, CCFiniteTimeAction* two) {
    return createWith(&CCSequence::initOne, one, two);
}

bool CCSequence::initOne(CCFiniteTimeAction* one, CCFiniteTimeAction* two) {
    if (!one || !two) return false;
    if (!initWithDuration(one->duration() + two->duration())) return false;
    _actions[0] = one;
    _actions[1] = two;
    _chainDepth = Walk::chainDepth(one, two);
    return true;
}

CCSequence::~CCSequence() {
    Walk::release(_actions[0], _actions[1], _chainDepth);
}

Ref<platform::Object> CCSequence::copyWithZone(platform::Zone*) const {
    const auto inner = Walk::made(this, Walk::Kind::Sequence, Walk::Make::Copy, _chainDepth);
    return sameClassWith([&](CCSequence& a) { return a.initOne(inner.first.get(), inner.second.get()); });
}

void CCSequence::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    _split = _actions[0]->duration() / std::max(_duration, kEpsilon);
    _last = -1;
}

void CCSequence::stop() {
    if (_chainDepth > detail::kDirectChainDepth)
        return Walk::run(this, Walk::Kind::Sequence, Walk::Op::Stop, 0, nullptr);
    if (_last != -1) _actions[_last]->stop();
    CCActionInterval::stop();
}

void CCSequence::update(double t) {
    if (_chainDepth > detail::kDirectChainDepth)
        return Walk::run(this, Walk::Kind::Sequence, Walk::Op::Update, t, nullptr);
    // Inner actions may call back into the node and drop this sequence; keep them alive.
    Ref<CCFiniteTimeAction> first = _actions[0], second = _actions[1];
    int found;
    double newT;
    if (t < _split) {
        found = 0;
        newT = _split != 0 ? t / _split : 1;
        if (_last == 1) {
            // Time runs backwards: undo the second action before the first takes over.
            second->update(0);
            second->stop();
        }
    } else {
        found = 1;
        newT = _split == 1 ? 1 : (t - _split) / (1 - _split);
        if (_last == -1) {
            // The first action was skipped entirely: run it through to its end.
            first->startWithTarget(_target);
            first->update(1);
            first->stop();
        } else if (_last == 0) {
            first->update(1);
            first->stop();
        }
    }
    CCFiniteTimeAction* current = found == 0 ? first.get() : second.get();
    if (found == _last && current->isDone()) return;
    if (found != _last) current->startWithTarget(_target);
    current->update(newT);
    _last = found;
}

Ref<CCFiniteTimeAction> CCSequence::reverse() const {
    const auto inner = Walk::made(this, Walk::Kind::Sequence, Walk::Make::Reverse, _chainDepth);
    return sameClassWith([&](CCSequence& a) { return a.initOne(inner.second.get(), inner.first.get()); });
}

// ---- CCRepeat ----

Ref<CCRepeat> CCRepeat::actionWithAction(CCFiniteTimeAction* action, std::uint64_t times) {
    return createWith(&CCRepeat::initWithAction, action, times);
}

bool CCRepeat::initWithAction(CCFiniteTimeAction* action, std::uint64_t times) {
    if (!action) return false;
    if (!initWithDuration(action->duration() * static_cast<double>(times))) return false;
    _times = times;
    setInnerAction(action);
    _isActionInstant = dynamic_cast<CCActionInstant*>(action) != nullptr;
    _total = 0;
    return true;
}

Ref<platform::Object> CCRepeat::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCRepeat& a) { return a.initWithAction(platform::copyOf(_innerAction.get()).get(), _times); });
}

// A repeat, a repeat-forever or a speed action whose inner action was set to null does nothing.

void CCRepeat::startWithTarget(CCNode* target) {
    _total = 0;
    _nextDt = _innerAction ? _innerAction->duration() / _duration : 1;
    CCActionInterval::startWithTarget(target);
    if (_innerAction) _innerAction->startWithTarget(target);
}

void CCRepeat::stop() {
    if (_innerAction) _innerAction->stop();
    CCActionInterval::stop();
}

void CCRepeat::update(double t) {
    if (_times == 0 || !_innerAction) return; // nothing to repeat: done from the start
    Ref<CCFiniteTimeAction> inner = _innerAction;
    const double cycle = inner->duration() / _duration;
    if (t < _nextDt) {
        const float scaled = static_cast<float>(static_cast<double>(_times) * t);
        inner->update(std::fmod(scaled, 1.0f));
        return;
    }
    // Cycle ends summed in doubles can fall just short of 1, so this loop may count the last
    // cycle itself; the inner action then must not be restarted and run through a second time.
    bool lastCycleRun = false;
    while (t > _nextDt && _total < _times) {
        inner->update(1);
        ++_total;
        inner->stop();
        if (_total == _times) {
            lastCycleRun = true;
            break;
        }
        inner->startWithTarget(_target);
        _nextDt += cycle;
    }
    if (t >= 1 && _total < _times) ++_total;
    if (_isActionInstant || lastCycleRun) return;
    if (_total == _times) {
        inner->update(1);
        inner->stop();
    } else {
        // The progress within the cycle that has just begun, on the same scale as the
        // in-cycle updates above, so that the inner action does not jump back at the next step.
        const double within = cycle > 0 ? (t - (_nextDt - cycle)) / cycle : 1;
        inner->update(std::clamp(within, 0.0, 1.0));
    }
}

bool CCRepeat::isDone() const {
    return _total == _times;
}

Ref<CCFiniteTimeAction> CCRepeat::reverse() const {
    Ref<CCFiniteTimeAction> inner = _innerAction ? _innerAction->reverse() : nullptr;
    return sameClassWith([&](CCRepeat& a) { return a.initWithAction(inner.get(), _times); });
}

// ---- CCSpawn ----

Ref<CCSpawn> CCSpawn::actionOne(CCFiniteTimeAction* one, CCFiniteTimeAction* two) {
    return createWith(&CCSpawn::initOne, one, two);
}

bool CCSpawn::initOne(CCFiniteTimeAction* one, CCFiniteTimeAction* two) {
    if (!one || !two) return false;
    const double d1 = one->duration(), d2 = two->duration();
    if (!initWithDuration(std::max(d1, d2))) return false;
    _one = one;
    _two = two;
    // The padding is a plain sequence and delay, whatever class this spawn is.
    if (d1 > d2)
        _two = Ref<CCFiniteTimeAction>(
            CCSequence::actionOne(two, CCDelayTime::actionWithDuration(d1 - d2).get()));
    else if (d1 < d2)
        _one = Ref<CCFiniteTimeAction>(
            CCSequence::actionOne(one, CCDelayTime::actionWithDuration(d2 - d1).get()));
    _chainDepth = Walk::chainDepth(_one.get(), _two.get());
    return true;
}

CCSpawn::~CCSpawn() {
    Walk::release(_one, _two, _chainDepth);
}

Ref<platform::Object> CCSpawn::copyWithZone(platform::Zone*) const {
    const auto inner = Walk::made(this, Walk::Kind::Spawn, Walk::Make::Copy, _chainDepth);
    return sameClassWith([&](CCSpawn& a) { return a.initOne(inner.first.get(), inner.second.get()); });
}

void CCSpawn::startWithTarget(CCNode* target) {
    if (_chainDepth > detail::kDirectChainDepth)
        return Walk::run(this, Walk::Kind::Spawn, Walk::Op::Start, 0, target);
    CCActionInterval::startWithTarget(target);
    _one->startWithTarget(target);
    _two->startWithTarget(target);
}

void CCSpawn::stop() {
    if (_chainDepth > detail::kDirectChainDepth)
        return Walk::run(this, Walk::Kind::Spawn, Walk::Op::Stop, 0, nullptr);
    _one->stop();
    _two->stop();
    CCActionInterval::stop();
}

void CCSpawn::update(double t) {
    if (_chainDepth > detail::kDirectChainDepth)
        return Walk::run(this, Walk::Kind::Spawn, Walk::Op::Update, t, nullptr);
    Ref<CCFiniteTimeAction> one = _one, two = _two;
    one->update(t);
    two->update(t);
}

Ref<CCFiniteTimeAction> CCSpawn::reverse() const {
    const auto inner = Walk::made(this, Walk::Kind::Spawn, Walk::Make::Reverse, _chainDepth);
    return sameClassWith([&](CCSpawn& a) { return a.initOne(inner.first.get(), inner.second.get()); });
}

// ---- CCDelayTime ----

Ref<CCDelayTime> CCDelayTime::actionWithDuration(double duration) {
    return createWith(&CCDelayTime::initWithDuration, duration);
}

void CCDelayTime::update(double) {}

Ref<CCFiniteTimeAction> CCDelayTime::reverse() const {
    return sameClassWith([&](CCDelayTime& a) { return a.initWithDuration(_duration); });
}

// ---- CCReverseTime ----

Ref<CCReverseTime> CCReverseTime::actionWithAction(CCFiniteTimeAction* action) {
    return createWith(&CCReverseTime::initWithAction, action);
}

bool CCReverseTime::initWithAction(CCFiniteTimeAction* action) {
    if (!action) return false;
    if (!initWithDuration(action->duration())) return false;
    _other = action;
    return true;
}

Ref<platform::Object> CCReverseTime::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCReverseTime& a) { return a.initWithAction(platform::copyOf(_other.get()).get()); });
}

void CCReverseTime::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    _other->startWithTarget(target);
}

void CCReverseTime::stop() {
    _other->stop();
    CCActionInterval::stop();
}

void CCReverseTime::update(double t) {
    Ref<CCFiniteTimeAction> other = _other;
    other->update(1 - t);
}

Ref<CCFiniteTimeAction> CCReverseTime::reverse() const {
    return platform::copyOf(_other.get());
}

// ---- CCTargetedAction ----

Ref<CCTargetedAction> CCTargetedAction::actionWithTarget(CCNode* target, CCFiniteTimeAction* action) {
    return createWith(&CCTargetedAction::initWithTarget, target, action);
}

bool CCTargetedAction::initWithTarget(CCNode* target, CCFiniteTimeAction* action) {
    if (!action) return false;
    if (!initWithDuration(action->duration())) return false;
    _forcedTarget = target;
    _action = action;
    return true;
}

Ref<platform::Object> CCTargetedAction::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCTargetedAction& a) {
        return a.initWithTarget(_forcedTarget.get(), platform::copyOf(_action.get()).get());
    });
}

void CCTargetedAction::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    _action->startWithTarget(_forcedTarget.get());
}

void CCTargetedAction::stop() {
    _action->stop();
}

void CCTargetedAction::update(double t) {
    Ref<CCFiniteTimeAction> action = _action;
    action->update(t);
}

// ---- CCRepeatForever ----

Ref<CCRepeatForever> CCRepeatForever::actionWithAction(CCFiniteTimeAction* action) {
    return createWith(&CCRepeatForever::initWithAction, action);
}

bool CCRepeatForever::initWithAction(CCFiniteTimeAction* action) {
    if (!dynamic_cast<CCActionInterval*>(action)) return false;
    if (!CCAction::init()) return false;
    setInnerAction(action);
    return true;
}

Ref<platform::Object> CCRepeatForever::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCRepeatForever& a) { return a.initWithAction(platform::copyOf(_innerAction.get()).get()); });
}

void CCRepeatForever::startWithTarget(CCNode* target) {
    CCAction::startWithTarget(target);
    if (_innerAction) _innerAction->startWithTarget(target);
}

void CCRepeatForever::step(double dt) {
    Ref<CCActionInterval> inner = _innerAction;
    if (!inner) return;
    inner->step(dt);
    if (inner->isDone()) {
        // Carry the overshoot into the next cycle, so no time is lost between cycles.
        const double diff = inner->elapsed() - inner->duration();
        inner->startWithTarget(_target);
        inner->step(0);
        inner->step(diff);
    }
}

bool CCRepeatForever::isDone() const {
    return false;
}

Ref<CCRepeatForever> CCRepeatForever::reverse() const {
    Ref<CCFiniteTimeAction> reversed = _innerAction ? _innerAction->reverse() : nullptr;
    return actionWithAction(reversed.get());
}

// ---- CCSpeed ----

Ref<CCSpeed> CCSpeed::actionWithAction(CCFiniteTimeAction* action, double speed) {
    return createWith(&CCSpeed::initWithAction, action, speed);
}

bool CCSpeed::initWithAction(CCFiniteTimeAction* action, double speed) {
    if (!dynamic_cast<CCActionInterval*>(action)) return false;
    if (!CCAction::init()) return false;
    setInnerAction(action);
    _speed = speed;
    return true;
}

Ref<platform::Object> CCSpeed::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCSpeed& a) { return a.initWithAction(platform::copyOf(_innerAction.get()).get(), _speed); });
}

void CCSpeed::startWithTarget(CCNode* target) {
    CCAction::startWithTarget(target);
    if (_innerAction) _innerAction->startWithTarget(target);
}

void CCSpeed::stop() {
    if (_innerAction) _innerAction->stop();
    CCAction::stop();
}

void CCSpeed::step(double dt) {
    Ref<CCActionInterval> inner = _innerAction;
    if (inner) inner->step(dt * _speed);
}

bool CCSpeed::isDone() const {
    return !_innerAction || _innerAction->isDone();
}

Ref<CCSpeed> CCSpeed::reverse() const {
    Ref<CCFiniteTimeAction> reversed = _innerAction ? _innerAction->reverse() : nullptr;
    return actionWithAction(dynamic_cast<CCActionInterval*>(reversed.get()), _speed);
}
