#include "platform/Collections.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/Object.h"
#include "platform/Selector.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <type_traits>
#include <vector>

using platform::make;
using platform::Object;
using platform::Ref;

namespace {

template <class T> class Holder : public Object {};

// Records when it dies, so tests can see the order of releases.
class Tracked : public Object {
public:
    explicit Tracked(std::vector<int>* log = nullptr, int id = 0) : log_(log), id_(id) {}
    ~Tracked() override {
        if (log_) log_->push_back(id_);
    }
    Ref<Tracked> next; // an owned neighbour, for assignment-during-release cases

    void tick(double dt) { ticks += dt; }
    void poke() { ++pokes; }
    double ticks = 0;
    int pokes = 0;

private:
    std::vector<int>* log_;
    int id_;
};

class Other : public Object {
public:
    void tick(double) {}
};

} // namespace

TEST(RefTest, MakeAdoptsTheFirstReferenceAndCopiesCount) {
    Ref<Tracked> a = make<Tracked>();
    EXPECT_EQ(a->retainCount(), 1u);
    Ref<Tracked> b = a;
    EXPECT_EQ(a->retainCount(), 2u);
    Ref<Tracked> c = std::move(b);
    EXPECT_EQ(a->retainCount(), 2u);
    EXPECT_FALSE(b);
    Ref<Object> up = c; // converting copy
    EXPECT_EQ(a->retainCount(), 3u);
}

TEST(RefTest, SelfAssignmentAndSelfMoveKeepTheObject) {
    std::vector<int> died;
    Ref<Tracked> a = make<Tracked>(&died, 1);
    Ref<Tracked>& alias = a;
    a = alias;
    EXPECT_EQ(a->retainCount(), 1u);
    a = std::move(alias);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->retainCount(), 1u);
    EXPECT_TRUE(died.empty());
}

TEST(RefTest, AssignmentStoresTheNewPointerBeforeReleasingTheOld) {
    // Releasing the old object destroys it, and its destructor releases the object that is
    // being assigned: the new pointer must already be held.
    std::vector<int> died;
    Ref<Tracked> holder = make<Tracked>(&died, 1);
    holder->next = make<Tracked>(&died, 2);
    holder = holder->next; // 1 dies; 2 survives through holder
    ASSERT_TRUE(holder);
    EXPECT_EQ(died, std::vector<int>{1});
    EXPECT_EQ(holder->retainCount(), 1u);
    holder = nullptr;
    EXPECT_EQ(died, (std::vector<int>{1, 2}));
}

// A Ref of a base class takes a Ref of a derived one by assignment, moved or copied, as it
// does by initialisation; a temporary Ref still gives no raw pointer, and nothing converts down.
static_assert(std::is_assignable_v<Ref<Object>&, Ref<Tracked>>);
static_assert(std::is_assignable_v<Ref<Object>&, Ref<Tracked>&>);
static_assert(std::is_assignable_v<Ref<Object>&, const Ref<Tracked>&>);
static_assert(std::is_nothrow_assignable_v<Ref<Object>&, Ref<Tracked>&&>);
static_assert(std::is_assignable_v<Ref<Object>&, Tracked*>);
static_assert(std::is_assignable_v<Ref<Object>&, std::nullptr_t>);
static_assert(!std::is_assignable_v<Ref<Tracked>&, Ref<Object>>);
static_assert(!std::is_assignable_v<Ref<Tracked>&, const Ref<Object>&>);
static_assert(!std::is_assignable_v<Ref<Tracked>&, Ref<Other>>);
static_assert(!std::is_convertible_v<Ref<Tracked>, Tracked*>);   // Tracked* p = Ref<Tracked>();
static_assert(!std::is_constructible_v<Tracked*, Ref<Tracked>>); // Tracked* p(Ref<Tracked>());
static_assert(!std::is_convertible_v<Ref<Tracked>, Object*>);
static_assert(!std::is_assignable_v<Tracked*&, Ref<Tracked>>);
static_assert(std::is_convertible_v<Ref<Tracked>&, Tracked*>); // a named Ref still converts
static_assert(std::is_convertible_v<const Ref<Tracked>&, Object*>);

TEST(RefTest, ABaseRefTakesADerivedRefByAssignmentMovedOrCopied) {
    std::vector<int> died;
    Ref<Tracked> derived = make<Tracked>(&died, 1);
    Ref<Object> base;
    base = derived; // copied
    EXPECT_EQ(base.get(), derived.get());
    EXPECT_EQ(derived->retainCount(), 2u);
    base = make<Tracked>(&died, 2); // moved from a temporary: 2 is held, nothing dies
    EXPECT_EQ(base->retainCount(), 1u);
    EXPECT_EQ(derived->retainCount(), 1u);
    EXPECT_TRUE(died.empty());
    base = std::move(derived); // moved from a named Ref: 2 dies, 1 passes over uncounted
    EXPECT_FALSE(derived);
    EXPECT_EQ(died, std::vector<int>{2});
    EXPECT_EQ(base->retainCount(), 1u);
    const Ref<Tracked> constant = make<Tracked>(&died, 3);
    base = constant; // copied from a const Ref
    EXPECT_EQ(died, (std::vector<int>{2, 1}));
    EXPECT_EQ(constant->retainCount(), 2u);
    // The new pointer is held before the old is released, as for a Ref of the same type.
    Ref<Tracked> holder = make<Tracked>(&died, 4);
    holder->next = make<Tracked>(&died, 5);
    Ref<Object> up = holder;
    holder = nullptr;
    up = static_cast<Tracked*>(up.get())->next; // 4 dies; 5 survives through up
    EXPECT_EQ(died, (std::vector<int>{2, 1, 4}));
    EXPECT_EQ(up->retainCount(), 1u);
}

TEST(RefTest, ResetToTheSameObjectDoesNotFreeIt) {
    std::vector<int> died;
    Ref<Tracked> a = make<Tracked>(&died, 7);
    a.reset(a.get());
    EXPECT_TRUE(died.empty());
    EXPECT_EQ(a->retainCount(), 1u);
}

TEST(ObjectTest, DescriptionsNameTheClassAndNilPrintsNull) {
    Ref<Tracked> t = make<Tracked>();
    EXPECT_EQ(t->className(), "Tracked");
    EXPECT_EQ(t->description(), platform::format("<Tracked: %p>", static_cast<void*>(t.get())));
    EXPECT_EQ(platform::describe(nullptr), "(null)");
    EXPECT_EQ(t->copy(), nullptr); // a class that does not copy answers nil
    // Qualifiers inside template arguments stay; only the class's own go.
    EXPECT_EQ(make<Holder<platform::Zone>>()->className(), "Holder<platform::Zone>");
}

TEST(SelectorTest, NamesCountArgumentsAndEqualityIsByName) {
    auto tick = fl_selector(Tracked::tick);
    auto poke = fl_selector(Tracked::poke);
    auto otherTick = fl_selector(Other::tick);
    EXPECT_EQ(tick.name(), "tick:");
    EXPECT_EQ(poke.name(), "poke");
    EXPECT_TRUE(tick == otherTick); // same name, different classes: equal, as in the original
    static_assert(std::is_same_v<decltype(tick), platform::Selector<void(double)>>);
    static_assert(std::is_same_v<decltype(poke), platform::Selector<void()>>);

    Ref<Tracked> t = make<Tracked>();
    tick(t, 0.5);
    tick.thunk()(t, 0.25);
    poke(t);
    EXPECT_DOUBLE_EQ(t->ticks, 0.75);
    EXPECT_EQ(t->pokes, 1);
}

TEST(ExceptionTest, CarriesNameAndReason) {
    try {
        CCAssert(1 + 1 == 3, "arithmetic is broken");
        FAIL();
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), "NSInternalInconsistencyException");
        EXPECT_EQ(e.reason(), "arithmetic is broken");
    }
}

TEST(FormatTest, AcceptsStringsNumbersAndPointersAndGrowsPastTheStackBuffer) {
    std::string s = "name";
    EXPECT_EQ(platform::format("<%s = %p | %0.2f>", s, nullptr, 1.0), "<name = (nil) | 1.00>");
    std::string big(1000, 'x');
    EXPECT_EQ(platform::format("%s!", big).size(), 1001u);
}

TEST(ObjectSetTest, KeepsInsertionOrderAndIdentity) {
    Ref<Tracked> a = make<Tracked>(), b = make<Tracked>(), c = make<Tracked>();
    platform::ObjectSet set(50);
    EXPECT_TRUE(set.add(b));
    EXPECT_TRUE(set.add(a));
    EXPECT_FALSE(set.add(b));
    EXPECT_TRUE(set.add(c));
    EXPECT_EQ(a->retainCount(), 2u);
    EXPECT_TRUE(set.remove(a));
    std::vector<Object*> order;
    for (const auto& o : set)
        order.push_back(o.get());
    EXPECT_EQ(order, (std::vector<Object*>{b.get(), c.get()}));
    EXPECT_TRUE(set.contains(c));
    EXPECT_FALSE(set.contains(a));
    EXPECT_EQ(a->retainCount(), 1u);
}
