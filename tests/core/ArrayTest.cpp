#include "core/CCArray.h"

#include "platform/Exception.h"
#include "platform/Format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

using platform::make;
using platform::Object;
using platform::Ref;

namespace {

// An element with a sort key and an id; records its death in a shared log.
class Item : public Object {
public:
    Item(int key, int id, std::vector<int>* deaths = nullptr) : key(key), id(id), deaths_(deaths) {}
    ~Item() override {
        if (deaths_) deaths_->push_back(id);
    }
    std::string description() const override { return platform::format("%c%d", 'A' + id, key); }
    // Descending by key, for the selector sorts that move while the answer is 1.
    std::int64_t compare(Object* other) {
        int k = static_cast<Item*>(other)->key;
        return key < k ? -1 : key > k ? 1 : 0;
    }
    void poke() { ++pokes; }
    void pokeWith(Object* o) { pokedWith.push_back(o); }

    int key, id, pokes = 0;
    std::vector<Object*> pokedWith;
    CCArray* owner = nullptr; // removes itself from here when poked through removeSelf
    void removeSelf() {
        ++pokes;
        if (owner) owner->removeObject(this);
    }

private:
    std::vector<int>* deaths_;
};

// Equal by key, so identity and equality can be told apart.
class Valued : public Item {
public:
    using Item::Item;
    bool isEqual(const Object* other) const override {
        auto* v = dynamic_cast<const Valued*>(other);
        return v && v->key == key;
    }
};

std::vector<int> ids(const CCArray* a) {
    std::vector<int> out;
    for (Object* o : *a)
        out.push_back(static_cast<Item*>(o)->id);
    return out;
}

struct Fixture {
    std::vector<Ref<Item>> items;
    Ref<CCArray> array = CCArray::array();
    explicit Fixture(std::vector<int> keys) {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            items.push_back(make<Item>(keys[i], static_cast<int>(i)));
            array->addObject(items.back().get());
        }
    }
};

std::int64_t byKey(Object* a, Object* b, void*) {
    int ka = static_cast<Item*>(a)->key, kb = static_cast<Item*>(b)->key;
    return ka < kb ? -1 : ka > kb ? 1 : 0;
}

int slotsByKey(const void* a, const void* b) {
    int ka = (*static_cast<Item*const*>(a))->key, kb = (*static_cast<Item*const*>(b))->key;
    return ka < kb ? -1 : ka > kb ? 1 : 0;
}

} // namespace

TEST(ObjectArrayTest, CapacityStartsAtOneAndDoublesAsNeeded) {
    Ref<CCArray> a = CCArray::arrayWithCapacity(0);
    EXPECT_EQ(a->capacity(), 1u);
    Ref<Item> x = make<Item>(0, 0);
    for (int i = 0; i < 3; ++i)
        a->addObject(x.get());
    EXPECT_EQ(a->capacity(), 4u);
    EXPECT_EQ(a->count(), 3u);

    ccArray* raw = objArrayNew(1);
    objArrayEnsureExtraCapacity(raw, 5);
    EXPECT_EQ(raw->capacity, 8u);
    objArrayFree(raw);
    objArrayFree(nullptr);

    EXPECT_EQ(CCArray::array()->capacity(), 2u);
}

TEST(ObjectArrayTest, ShrinkingKeepsOneSlotForAnEmptyArray) {
    Ref<CCArray> one = CCArray::arrayWithCapacity(1);
    one->reduceMemoryFootprint();
    EXPECT_EQ(one->capacity(), 1u);
    Ref<CCArray> eight = CCArray::arrayWithCapacity(8);
    eight->reduceMemoryFootprint();
    EXPECT_EQ(eight->capacity(), 1u);
    Fixture f({1, 2, 3});
    f.array->addObject(f.items[0].get()); // 4 of 4: nothing to shrink
    f.array->removeLastObject();
    f.array->reduceMemoryFootprint();
    EXPECT_EQ(f.array->capacity(), 3u);
    EXPECT_EQ(ids(f.array.get()), (std::vector<int>{0, 1, 2}));
}

TEST(ObjectArrayTest, HoldsOneRetainPerSlotAndReleasesFromTheLastSlotFirst) {
    std::vector<int> deaths;
    Ref<CCArray> a = CCArray::array();
    {
        Ref<Item> x = make<Item>(0, 1, &deaths), y = make<Item>(0, 2, &deaths), z = make<Item>(0, 3, &deaths);
        a->addObject(x.get());
        a->addObject(y.get());
        a->addObject(z.get());
        a->addObject(x.get());
        EXPECT_EQ(x->retainCount(), 3u);
        a->replaceObjectAtIndex(1, y.get()); // by itself: must not free it on the way
        EXPECT_EQ(y->retainCount(), 2u);
        Ref<CCArray> copy = platform::copyOf(a.get());
        EXPECT_EQ(ids(copy.get()), ids(a.get()));
        EXPECT_EQ(x->retainCount(), 5u);
    }
    EXPECT_TRUE(deaths.empty());
    a->removeAllObjects();
    EXPECT_EQ(deaths, (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(a->capacity(), 8u); // the replace inserted into a full array first
}

TEST(ObjectArrayTest, RemovalsFollowTheirOrderRules) {
    Fixture f({0, 0, 0, 0});
    Item *a = f.items[0].get(), *b = f.items[1].get(), *c = f.items[2].get(), *d = f.items[3].get();
    f.array->insertObject(a, 2); // [A B A C D]
    EXPECT_EQ(ids(f.array.get()), (std::vector<int>{0, 1, 0, 2, 3}));
    f.array->removeObject(a); // first occurrence only
    EXPECT_EQ(ids(f.array.get()), (std::vector<int>{1, 0, 2, 3}));
    Ref<Item> absent = make<Item>(0, 9);
    f.array->removeObject(absent.get());
    f.array->fastRemoveObject(absent.get());
    EXPECT_EQ(f.array->count(), 4u);
    f.array->fastRemoveObjectAtIndex(0); // [D A C]
    EXPECT_EQ(ids(f.array.get()), (std::vector<int>{3, 0, 2}));
    f.array->fastRemoveObject(c); // last one: nothing moves
    EXPECT_EQ(ids(f.array.get()), (std::vector<int>{3, 0}));
    f.array->addObject(b);
    f.array->addObject(a);
    Ref<CCArray> remove = CCArray::array();
    remove->addObject(a);
    remove->addObject(d);
    f.array->removeObjectsInArray(remove.get()); // [D A B A] -> [B A]
    EXPECT_EQ(ids(f.array.get()), (std::vector<int>{1, 0}));
    f.array->removeObjectsInArray(f.array.get()); // itself: everything goes
    EXPECT_EQ(f.array->count(), 0u);
    EXPECT_EQ(a->retainCount(), 2u); // the fixture and `remove`
    EXPECT_EQ(f.array->lastObject(), nullptr);
}

TEST(ObjectArrayTest, ExchangeReverseAndSelfAppend) {
    Fixture f({0, 0, 0, 0, 0});
    Ref<Item> absent = make<Item>(0, 9);
    f.array->exchangeObject(f.items[0].get(), absent.get());
    EXPECT_EQ(ids(f.array.get()), (std::vector<int>{0, 1, 2, 3, 4}));
    f.array->exchangeObject(f.items[0].get(), f.items[3].get());
    EXPECT_EQ(ids(f.array.get()), (std::vector<int>{3, 1, 2, 0, 4}));
    f.array->reverseObjects();
    EXPECT_EQ(ids(f.array.get()), (std::vector<int>{4, 0, 2, 1, 3}));
    f.array->removeLastObject();
    f.array->reverseObjects();
    EXPECT_EQ(ids(f.array.get()), (std::vector<int>{1, 2, 0, 4}));
    f.array->exchangeObjectAtIndex(0, 3);
    EXPECT_EQ(ids(f.array.get()), (std::vector<int>{4, 2, 0, 1}));
    // Appending an array to itself stops at its original end.
    f.array->addObjectsFromArray(f.array.get());
    EXPECT_EQ(ids(f.array.get()), (std::vector<int>{4, 2, 0, 1, 4, 2, 0, 1}));
    EXPECT_EQ(f.items[0]->retainCount(), 3u);
}

TEST(ObjectArrayTest, LookupsAreByIdentityAndEqualityIsByValue) {
    Ref<Valued> one = make<Valued>(1, 0), alsoOne = make<Valued>(1, 1), two = make<Valued>(2, 2);
    Ref<CCArray> a = CCArray::array();
    a->addObject(one.get());
    EXPECT_EQ(a->indexOfObject(alsoOne.get()), platform::NSNotFound);
    EXPECT_FALSE(a->containsObject(alsoOne.get()));
    EXPECT_EQ(a->indexOfObject(one.get()), 0u);

    Ref<CCArray> b = CCArray::array();
    b->addObject(alsoOne.get());
    b->addObject(two.get());
    EXPECT_TRUE(a->isEqualToArray(b.get()));  // only the receiver's count is compared
    EXPECT_FALSE(b->isEqualToArray(a.get())); // a shorter other array is not equal
    Ref<CCArray> empty = CCArray::array();
    EXPECT_TRUE(empty->isEqualToArray(b.get()));
    EXPECT_TRUE(empty->isEqualToArray(nullptr));
    EXPECT_FALSE(a->isEqualToArray(nullptr));
    b->replaceObjectAtIndex(0, two.get());
    EXPECT_FALSE(a->isEqualToArray(b.get()));
}

TEST(ObjectArrayTest, RandomObjectStaysInRangeAndReachesEveryElement) {
    EXPECT_EQ(CCArray::array()->randomObject(), nullptr);
    Fixture f({0, 0, 0});
    srandom(42);
    std::set<Object*> seen;
    for (int i = 0; i < 200; ++i) {
        Object* o = f.array->randomObject();
        ASSERT_TRUE(f.array->containsObject(o));
        seen.insert(o);
    }
    EXPECT_EQ(seen.size(), 3u);
}

TEST(ObjectArraySortTest, MergeSortByFunctionReversesEqualElements) {
    Fixture two({0, 0});
    two.array->sortUsingFunction(&byKey, nullptr);
    EXPECT_EQ(ids(two.array.get()), (std::vector<int>{1, 0}));
    Fixture three({0, 1, 0});
    three.array->sortUsingFunction(&byKey, nullptr);
    EXPECT_EQ(ids(three.array.get()), (std::vector<int>{2, 0, 1}));

    // Larger: ascending by key, and within a key the reverse of the original order.
    std::vector<int> keys;
    srand(7);
    for (int i = 0; i < 101; ++i)
        keys.push_back(rand() % 6);
    Fixture big(keys);
    big.array->sortUsingSelector(fl_selector(Item::compare));
    std::vector<std::pair<int, int>> expected;
    for (int i = 0; i < 101; ++i)
        expected.emplace_back(keys[i], -i);
    std::sort(expected.begin(), expected.end());
    std::vector<int> expectedIds;
    for (auto& e : expected)
        expectedIds.push_back(-e.second);
    EXPECT_EQ(ids(big.array.get()), expectedIds);
    for (auto& item : big.items)
        EXPECT_EQ(item->retainCount(), 2u);
}

TEST(ObjectArraySortTest, InsertionAndCMergeSortsAreStable) {
    std::vector<int> keys;
    srand(11);
    for (int i = 0; i < 77; ++i)
        keys.push_back(rand() % 5);
    std::vector<int> stable(77);
    for (int i = 0; i < 77; ++i)
        stable[i] = i;
    std::stable_sort(stable.begin(), stable.end(), [&](int a, int b) { return keys[a] < keys[b]; });

    Fixture byFunc(keys);
    byFunc.array->insertionSortUsingCFuncComparator(&slotsByKey);
    EXPECT_EQ(ids(byFunc.array.get()), stable);
    Fixture bySel(keys);
    bySel.array->insertionSort(fl_selector(Item::compare));
    EXPECT_EQ(ids(bySel.array.get()), stable);
    for (std::size_t n : {0u, 1u, 2u, 3u, 5u, 8u, 77u}) {
        Fixture merged(std::vector<int>(keys.begin(), keys.begin() + n));
        merged.array->mergesortLUsingCFuncComparator(&slotsByKey);
        std::vector<int> want(stable);
        want.erase(std::remove_if(want.begin(), want.end(), [&](int i) { return i >= static_cast<int>(n); }),
                   want.end());
        EXPECT_EQ(ids(merged.array.get()), want) << n << " elements";
    }
    Fixture q(keys);
    q.array->qsortUsingCFuncComparator(&slotsByKey);
    for (std::uint64_t i = 1; i < q.array->count(); ++i)
        EXPECT_LE(static_cast<Item*>(q.array->objectAtIndex(i - 1))->key,
                  static_cast<Item*>(q.array->objectAtIndex(i))->key);
}

TEST(ObjectArrayTest, SendsSelectorsInOrderAndSurvivesAReceiverRemovingItself) {
    Fixture f({0, 0, 0});
    f.array->makeObjectsPerformSelector(fl_selector(Item::poke));
    for (auto& i : f.items)
        EXPECT_EQ(i->pokes, 1);
    Ref<Item> arg = make<Item>(0, 9);
    f.array->makeObjectsPerformSelector(fl_selector(Item::pokeWith), arg.get());
    for (auto& i : f.items)
        EXPECT_EQ(i->pokedWith, std::vector<Object*>{arg.get()});
    f.array->makeObjectPerformSelectorWithArrayObjects(arg.get(), fl_selector(Item::pokeWith));
    EXPECT_EQ(arg->pokedWith, (std::vector<Object*>{f.items[0].get(), f.items[1].get(), f.items[2].get()}));

    // The only owner of the first element is the array; it removes itself when called.
    std::vector<int> deaths;
    Ref<CCArray> a = CCArray::array();
    {
        Ref<Item> lone = make<Item>(0, 7, &deaths);
        lone->owner = a.get();
        a->addObject(lone.get());
    }
    a->addObject(f.items[0].get());
    a->makeObjectsPerformSelector(fl_selector(Item::removeSelf));
    EXPECT_EQ(deaths, std::vector<int>{7});
    EXPECT_EQ(f.items[0]->pokes, 1); // moved into slot 0 after the walk passed it
}

TEST(ObjectArrayTest, DescriptionCodingAndPlatformArrays) {
    Fixture f({3, 4});
    EXPECT_EQ(f.array->description(), platform::format("<CCArray = %p> = ( A3, B4, )", f.array.get()));
    EXPECT_EQ(CCArray::array()->description().substr(0, 9), "<CCArray ");

    platform::KeyedArchive archive;
    f.array->encodeWithCoder(archive);
    EXPECT_TRUE(archive.containsKey("nsarray"));
    Ref<CCArray> decoded = make<CCArray>();
    ASSERT_TRUE(decoded->initWithCoder(archive));
    EXPECT_EQ(ids(decoded.get()), (std::vector<int>{0, 1}));

    platform::Array plain = f.array->getNSArray();
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_EQ(plain[1].get(), f.items[1].get());
    Ref<CCArray> fromPlain = CCArray::arrayWithNSArray(plain);
    EXPECT_EQ(fromPlain->capacity(), 2u);
    fromPlain->addObjectsFromNSArray(plain);
    EXPECT_EQ(ids(fromPlain.get()), (std::vector<int>{0, 1, 0, 1}));
    EXPECT_EQ(CCArray::arrayWithArray(fromPlain.get())->count(), 4u);
}

TEST(ValueArrayTest, InsertsAndRemovesByShiftingPlainValues) {
    ccValueArray* v = valueArrayNew(0);
    EXPECT_EQ(v->capacity, 1u);
    valueArrayFree(v);
    v = valueArrayNew(4);
    valueArrayInsertValueAtIndex(v, 10, 0);
    valueArrayInsertValueAtIndex(v, 30, 1);
    valueArrayInsertValueAtIndex(v, 20, 1);
    valueArrayInsertValueAtIndex(v, 0xffffffffffffffffULL, 0);
    EXPECT_EQ(std::vector<std::uint64_t>(v->items, v->items + v->count),
              (std::vector<std::uint64_t>{0xffffffffffffffffULL, 10, 20, 30}));
    valueArrayRemoveValueAtIndex(v, 1);
    valueArrayRemoveValueAtIndex(v, 2);
    EXPECT_EQ(std::vector<std::uint64_t>(v->items, v->items + v->count),
              (std::vector<std::uint64_t>{0xffffffffffffffffULL, 20}));
    valueArrayFree(v);
    valueArrayFree(nullptr);
}

TEST(ObjectArrayTest, IndexesPastTheEndThrowAndChangeNothing) {
    Ref<CCArray> array = CCArray::array();
    Ref<Item> a = make<Item>(0, 1), b = make<Item>(0, 2);
    array->addObject(a);
    array->addObject(b);
    auto isRangeError = [](auto&& call) {
        try {
            call();
        } catch (const platform::Exception& e) {
            return e.name() == "NSRangeException";
        }
        return false;
    };
    EXPECT_TRUE(isRangeError([&] { array->objectAtIndex(2); }));
    EXPECT_TRUE(isRangeError([&] { array->removeObjectAtIndex(2); }));
    EXPECT_TRUE(isRangeError([&] { array->fastRemoveObjectAtIndex(5); }));
    EXPECT_TRUE(isRangeError([&] { array->insertObject(a, 3); }));
    EXPECT_TRUE(isRangeError([&] { array->exchangeObjectAtIndex(0, 2); }));
    EXPECT_TRUE(isRangeError([&] { array->replaceObjectAtIndex(2, a); }));
    EXPECT_EQ(array->count(), 2u);
    EXPECT_EQ(a->retainCount(), 2u);
    array->insertObject(a, 2); // at the end is allowed
    array->removeAllObjects();
    EXPECT_TRUE(isRangeError([&] { array->removeLastObject(); }));
}
