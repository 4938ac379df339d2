// The engine's own growable arrays: the object array (a record plus C functions, retaining
// what it stores), the value array (plain 64-bit values, nothing retained) and CCArray, the
// object wrapper around one object array. The frame loop works on the records directly.
#pragma once

#include "platform/Collections.h"
#include "platform/Object.h"
#include "platform/Selector.h"

#include <cstddef>
#include <cstdint>

// Slots 0..count-1 are occupied and each holds one retain on its object; capacity is never 0.
struct ccArray {
    std::uint64_t count;
    std::uint64_t capacity;
    platform::Object** items;
};

// Same shape as ccArray; the slots hold plain values that are neither retained nor released.
struct ccValueArray {
    std::uint64_t count;
    std::uint64_t capacity;
    std::uint64_t* items;
};

// A C comparator over two slots (each argument points at a slot holding an object pointer).
using ccComparator = int (*)(const void*, const void*);

// A record with capacity `capacity` (1 when 0) and zero-filled slots; free it with objArrayFree.
ccArray* objArrayNew(std::uint64_t capacity);
// Releases every object from the last slot to the first, then frees slots and record. Null is fine.
void objArrayFree(ccArray* arr);
void objArrayDoubleCapacity(ccArray* arr);
// Doubles the capacity until count + extra slots fit.
void objArrayEnsureExtraCapacity(ccArray* arr, std::uint64_t extra);
// Capacity down to count (1 when empty).
void objArrayShrink(ccArray* arr);
// First slot holding exactly this pointer, else platform::NSNotFound.
std::uint64_t objArrayIndexOfObject(const ccArray* arr, const platform::Object* object);
bool objArrayContainsObject(const ccArray* arr, const platform::Object* object);
// Retains and stores at count; the caller guarantees room.
void objArrayAppendObject(ccArray* arr, platform::Object* object);
void objArrayAppendObjectWithResize(ccArray* arr, platform::Object* object);
// Appends (retaining) each object of `other` in order; the caller guarantees room.
void objArrayAppendArray(ccArray* arr, const ccArray* other);
void objArrayAppendArrayWithResize(ccArray* arr, const ccArray* other);
// index <= count.
void objArrayInsertObjectAtIndex(ccArray* arr, platform::Object* object, std::uint64_t index);
void objArraySwapObjectsAtIndexes(ccArray* arr, std::uint64_t index1, std::uint64_t index2);
// Releases from the last slot to the first; the capacity stays.
void objArrayRemoveAllObjects(ccArray* arr);
// Keeps the order of the others.
void objArrayRemoveObjectAtIndex(ccArray* arr, std::uint64_t index);
// The last object moves into the freed slot.
void objArrayFastRemoveObjectAtIndex(ccArray* arr, std::uint64_t index);
void objArrayFastRemoveObject(ccArray* arr, platform::Object* object);
void objArrayRemoveObject(ccArray* arr, platform::Object* object);
// Removes the first occurrence of each object of `other`, order kept.
void objArrayRemoveArray(ccArray* arr, const ccArray* other);
// Sends the selector to each object from index 0 up. Each receiver is held during its call and
// the count is read again each round, so a callee may change the array.
void objArrayMakeObjectsPerformSelector(ccArray* arr, const platform::Selector<void()>& selector);
void objArrayMakeObjectsPerformSelectorWithObject(ccArray* arr,
                                                  const platform::Selector<void(platform::Object*)>& selector,
                                                  platform::Object* object);
// Sends the selector to `receiver` once per stored object, with that object as argument.
void objArrayMakeObjectPerformSelectorWithArrayObjects(
    ccArray* arr, const platform::Selector<void(platform::Object*)>& selector, platform::Object* receiver);
// Stable; an element moves left while comparator(left slot, its slot) returns exactly 1.
void insertionSortWithComparator(ccArray* arr, ccComparator comparator);
// Stable bottom-up merge sort over slots of `width` bytes with a count/2 + 1 scratch buffer;
// a left element goes first unless the comparator answers > 0.
void mergeSortWithComparator(ccArray* arr, std::size_t width, ccComparator comparator);

// Capacity 1 when 0; the slots are not zero-filled.
ccValueArray* valueArrayNew(std::uint64_t capacity);
void valueArrayFree(ccValueArray* arr);
// No growth: the caller keeps room.
void valueArrayInsertValueAtIndex(ccValueArray* arr, std::uint64_t value, std::uint64_t index);
void valueArrayRemoveValueAtIndex(ccValueArray* arr, std::uint64_t index);

// Compares a with b by sending the selector (a CCArray::CompareSelector, given as the context)
// to a with b as argument: the function behind sortUsingSelector.
std::int64_t sortBySelectorCompare(platform::Object* a, platform::Object* b, void* selector);

class CCArray : public platform::Object {
public:
    // Orders two objects (-1, 0, 1) for sortUsingFunction; the context is passed through.
    using SortFunction = std::int64_t (*)(platform::Object*, platform::Object*, void* context);
    // Sent to one object with another as argument: an ordering (-1, 0, 1) for the sorts.
    using CompareSelector = platform::Selector<std::int64_t(platform::Object*)>;

    static platform::Ref<CCArray> array();
    static platform::Ref<CCArray> arrayWithCapacity(std::uint64_t capacity);
    static platform::Ref<CCArray> arrayWithArray(const CCArray* other);
    static platform::Ref<CCArray> arrayWithNSArray(const platform::Array& other);

    CCArray() = default;
    ~CCArray() override;

    // Capacity 2.
    virtual bool init();
    // The designated initialiser; capacity 0 becomes 1.
    virtual bool initWithCapacity(std::uint64_t capacity);
    virtual bool initWithArray(const CCArray* other);
    virtual bool initWithNSArray(const platform::Array& other);
    // Reads the platform array stored under "nsarray".
    virtual bool initWithCoder(const platform::KeyedArchive& coder);

    std::uint64_t count() const { return data->count; }
    std::uint64_t capacity() const { return data->capacity; }
    std::uint64_t indexOfObject(const platform::Object* object) const;
    // No bounds check.
    // An index past the end throws NSRangeException rather than reading outside the slots.
    platform::Object* objectAtIndex(std::uint64_t index) const {
        if (index >= data->count) [[unlikely]]
            raiseIndexBeyondBounds(index, data->count);
        return data->items[index];
    }
    bool containsObject(const platform::Object* object) const;
    // Null when empty.
    platform::Object* lastObject() const;
    // Null when empty; draws from random().
    platform::Object* randomObject() const;
    // A new platform array of the stored objects in order.
    platform::Array getNSArray() const;
    // Compares the receiver's objects with isEqual against the same indexes of `other`; YES for
    // an empty receiver, NO when `other` is shorter.
    bool isEqualToArray(const CCArray* other) const;

    void addObject(platform::Object* object);
    void addObjectsFromArray(const CCArray* other);
    void addObjectsFromNSArray(const platform::Array& other);

    void insertObject(platform::Object* object, std::uint64_t index);
    // First occurrence, order kept.
    void removeObject(platform::Object* object);
    void removeObjectAtIndex(std::uint64_t index);
    // The last object fills the freed slot.
    void fastRemoveObject(platform::Object* object);
    void fastRemoveObjectAtIndex(std::uint64_t index);
    void removeObjectsInArray(const CCArray* other);
    // The array must not be empty.
    void removeLastObject();
    void removeAllObjects();

    // Nothing happens when either object is absent.
    void exchangeObject(platform::Object* object1, platform::Object* object2);
    void exchangeObjectAtIndex(std::uint64_t index1, std::uint64_t index2);
    // Inserts first, then removes the old slot, so replacing an object by itself is safe.
    void replaceObjectAtIndex(std::uint64_t index, platform::Object* object);
    void reverseObjects();
    void reduceMemoryFootprint();

    void makeObjectsPerformSelector(const platform::Selector<void()>& selector);
    void makeObjectsPerformSelector(const platform::Selector<void(platform::Object*)>& selector,
                                    platform::Object* object);
    // `receiver` gets the selector once per stored object, with that object as argument.
    void
    makeObjectPerformSelectorWithArrayObjects(platform::Object* receiver,
                                              const platform::Selector<void(platform::Object*)>& selector);

    // Enumeration walks the slots themselves; changes while walking are not detected, so
    // callers that change the array walk a copy or by index.
    platform::Object* const* begin() const { return data->items; }
    platform::Object* const* end() const { return data->items + data->count; }

    void insertionSortUsingCFuncComparator(ccComparator comparator);
    // The C library's qsort over the slots (not stable).
    void qsortUsingCFuncComparator(ccComparator comparator);
    void mergesortLUsingCFuncComparator(ccComparator comparator);
    // Insertion sort: an element moves left while its left neighbour, sent the selector with
    // it, answers 1 (in the low 32 bits).
    void insertionSort(const CompareSelector& selector);
    // Merge sort over sortUsingFunction, comparing a with b by sending the selector to a.
    void sortUsingSelector(const CompareSelector& selector);
    // Merge sort; elements that compare equal end in the reverse of their earlier order.
    void sortUsingFunction(SortFunction function, void* context);

    // A shallow copy of the receiver's class holding the same objects.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // Stores getNSArray under "nsarray".
    void encodeWithCoder(platform::KeyedArchive& coder) const;
    std::string description() const override;

    // Public because the frame loop walks it directly; owned, made by the initialiser.
    ccArray* data = nullptr;

private:
    // Throws NSRangeException naming the index and the count.
    [[noreturn]] static void raiseIndexBeyondBounds(std::uint64_t index, std::uint64_t count);
};
