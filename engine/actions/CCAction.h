// The two root classes of every action. An action is started on its target node once, stepped
// once a frame with the frame's delta time, asked after each step whether it is done, and
// stopped when it is.
#pragma once

#include "core/CCNode.h"
#include "platform/Object.h"

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

class CCActionManager;

class CCAction : public platform::Object {
public:
    // A new CCAction made with init. Subclasses get a factory of their own class through
    // CCActionFactory below.
    static platform::Ref<CCAction> action();

    CCAction() = default;
    ~CCAction() override = default;

    // No target, tag -1.
    virtual bool init();
    std::string description() const override;
    // A new action of the receiver's class made with init, with the same tag. Subclasses copy
    // their own configuration instead; platform::copyOf(action) gives the copy typed.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // Sets target and original target. Overrides call this first, then record start values.
    virtual void startWithTarget(CCNode* target);
    // Clears the target; the original target stays.
    virtual void stop();
    // YES here: an action that does not say otherwise finishes after its first step.
    virtual bool isDone() const;
    // Advances by dt seconds; nothing here.
    virtual void step(double dt);
    // Applies the state at progress t (0..1 for finite-time actions); nothing here.
    virtual void update(double t);
    std::int64_t tag() const { return _tag; }
    void setTag(std::int64_t tag) { _tag = tag; }
    // The node being changed now: null before the start and after stop. Not retained.
    CCNode* target() const { return _target; }
    // The node the action was last started on, kept after stop. Not retained.
    CCNode* originalTarget() const { return _originalTarget; }

protected:
    // A new, not yet initialised object of the receiver's own class: what copies and reverses
    // build on (through sameClassWith). Throws NSInternalInconsistencyException when the class
    // does not derive through CCActionFactory, rather than building the wrong class.
    platform::Ref<CCAction> allocSameClass() const;
    // allocSameClass typed as T, which must be the receiver's class or one of its bases.
    template <class T> platform::Ref<T> allocSameClassAs() const {
        platform::Ref<CCAction> made = allocSameClass();
        return platform::Ref<T>::adopt(static_cast<T*>(made.leakRef()));
    }

    // Overridden by CCActionFactory<Self, ...> to make a Self.
    virtual platform::Ref<CCAction> allocInstance() const;

    CCNode* _originalTarget = nullptr;
    CCNode* _target = nullptr;
    std::int64_t _tag = -1;

private:
    friend class CCActionManager;
    // The manager whose list holds this action, so that adding it twice can be refused.
    const CCActionManager* _listedIn = nullptr;
};

// The receiving-class mechanism. An action class derives through this helper,
//     class CCShow : public CCActionFactory<CCShow, CCActionInstant> { ... };
// and so gets, without writing them:
// - `CCShow::action()`, a CCShow made with init;
// - `createWith(&initialiser, args...)`, a new Self with the given initialiser run on it (null
//   when it refuses), so a class factory is one line:
//   `return createWith(&CCDelayTime::initWithDuration, d);` (InitOf picks among overloads);
// - `sameClassWith(init)`, a new object of the receiver's dynamic class (a subclass of Self
//   included) set up by `init`: what copies and same-class reverses are made with.
template <class Self, class Base> class CCActionFactory : public Base {
public:
    using Base::Base;

    static platform::Ref<Self> action() { return createWith(&Self::init); }

    template <class C, class... Params, class... Args>
    static platform::Ref<Self> createWith(bool (C::*initialiser)(Params...), Args&&... args) {
        static_assert(std::is_base_of_v<C, Self>, "the initialiser must belong to the class or a base");
        platform::Ref<Self> made = platform::make<Self>();
        if (!((*made).*initialiser)(std::forward<Args>(args)...)) return nullptr;
        return made;
    }

protected:
    platform::Ref<CCAction> allocInstance() const override { return platform::make<Self>(); }

    // Picks one overload of an initialiser for createWith: InitOf<C, double, float>(&C::initWithDuration).
    template <class C, class... P> using InitOf = bool (C::*)(P...);

    // A new action of the receiver's own class (Self or a subclass), typed as Self and set up by
    // `init` (called with it); null when init refuses.
    template <class Init> platform::Ref<Self> sameClassWith(Init&& init) const {
        platform::Ref<Self> made = this->template allocSameClassAs<Self>();
        if (!init(*made)) return nullptr;
        return made;
    }
};

// Every action that finishes by itself: interval and instant actions.
class CCFiniteTimeAction : public CCActionFactory<CCFiniteTimeAction, CCAction> {
public:
    CCFiniteTimeAction() = default;

    // An action that undoes this one; none at this level.
    virtual platform::Ref<CCFiniteTimeAction> reverse() const;
    // Seconds.
    double duration() const { return _duration; }
    void setDuration(double duration) { _duration = duration; }

protected:
    double _duration = 0;
};
