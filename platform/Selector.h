// Unbound method references ("selectors"): a method's name plus a call thunk, invoked on
// whatever target they are given. The type carries the callback's arguments, so a selector
// of the wrong kind does not compile where another kind is expected. Two selectors are equal
// when their names are equal.
#pragma once

#include "platform/Object.h"

#include <string>
#include <string_view>
#include <utility>

namespace platform {

template <class Signature> class Selector;

template <class R, class... A> class Selector<R(A...)> {
public:
    using Thunk = R (*)(Object* target, A... args);

    Selector() = default;
    Selector(std::string name, Thunk thunk) : name_(std::move(name)), thunk_(thunk) {}

    // "update:", "onDone", "menuItemTapped:" (one colon per argument).
    const std::string& name() const { return name_; }
    // The call through to the method, resolved when the selector was made.
    Thunk thunk() const { return thunk_; }
    explicit operator bool() const { return thunk_ != nullptr; }

    // The target must be of the class the selector was made from.
    R operator()(Object* target, A... args) const { return thunk_(target, std::forward<A>(args)...); }

    friend bool operator==(const Selector& a, const Selector& b) { return a.name_ == b.name_; }

private:
    std::string name_;
    Thunk thunk_ = nullptr;
};

namespace detail {
template <class M> struct MethodTraits;
template <class C, class R, class... A> struct MethodTraits<R (C::*)(A...)> {
    using Class = C;
    using Signature = R(A...);
};
template <class C, class R, class... A>
struct MethodTraits<R (C::*)(A...) const> : MethodTraits<R (C::*)(A...)> {};
template <class C, class R, class... A>
struct MethodTraits<R (C::*)(A...) noexcept> : MethodTraits<R (C::*)(A...)> {};

template <auto Method, class Sig> struct Thunker;
template <auto Method, class R, class... A> struct Thunker<Method, R(A...)> {
    static constexpr std::size_t arity() { return sizeof...(A); }
    static R call(Object* target, A... args) {
        using C = typename MethodTraits<decltype(Method)>::Class;
        return (static_cast<C*>(target)->*Method)(std::forward<A>(args)...);
    }
};

// "Class::method" becomes "method:" with one colon per argument.
std::string selectorName(std::string_view qualified, std::size_t arity);
} // namespace detail

template <auto Method> auto selectorFor(std::string_view qualifiedName) {
    using Traits = detail::MethodTraits<decltype(Method)>;
    using Sig = typename Traits::Signature;
    static_assert(std::is_base_of_v<Object, typename Traits::Class>, "selectors call methods of Objects");
    return Selector<Sig>(detail::selectorName(qualifiedName, detail::Thunker<Method, Sig>::arity()),
                         &detail::Thunker<Method, Sig>::call);
}

} // namespace platform

// A selector for a member function: fl_selector(GameLayer::tick).
#define fl_selector(...) ::platform::selectorFor<&__VA_ARGS__>(#__VA_ARGS__)
