#include "core/CCArray.h"

#include "platform/Exception.h"
#include "platform/Format.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

using platform::Object;
using platform::Ref;

namespace {

// Allocation failure is not recovered from; it surfaces as std::bad_alloc rather than a null
// slot pointer being written through.
void* checkedAlloc(std::size_t bytes) {
    void* p = std::malloc(bytes);
    if (!p) throw std::bad_alloc();
    return p;
}

// Slots of `size` bytes; a count whose size does not fit is a failed allocation too.
void* checkedRealloc(void* old, std::uint64_t n, std::size_t size) {
    if (n > SIZE_MAX / size) throw std::bad_alloc();
    void* p = std::realloc(old, n * size);
    if (!p) throw std::bad_alloc();
    return p;
}

// A record of `capacity` slots (1 when 0), zero-filled when asked.
template <class Record> Record* newRecord(std::uint64_t capacity, bool zeroFill) {
    using Slot = std::remove_pointer_t<decltype(Record::items)>;
    if (capacity == 0) capacity = 1;
    if (capacity > SIZE_MAX / sizeof(Slot)) throw std::bad_alloc();
    auto* arr = static_cast<Record*>(checkedAlloc(sizeof(Record)));
    void* items = zeroFill ? std::calloc(capacity, sizeof(Slot)) : std::malloc(capacity * sizeof(Slot));
    if (!items) {
        std::free(arr);
        throw std::bad_alloc();
    }
    arr->count = 0;
    arr->capacity = capacity;
    arr->items = static_cast<Slot*>(items);
    return arr;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Object array

ccArray* objArrayNew(std::uint64_t capacity) {
    return newRecord<ccArray>(capacity, true);
}

void objArrayFree(ccArray* arr) {
    if (!arr) return;
    objArrayRemoveAllObjects(arr);
    std::free(arr->items);
    std::free(arr);
}

void objArrayDoubleCapacity(ccArray* arr) {
    std::uint64_t capacity = arr->capacity * 2;
    arr->items = static_cast<Object**>(checkedRealloc(arr->items, capacity, sizeof(Object*)));
    arr->capacity = capacity;
}

void objArrayEnsureExtraCapacity(ccArray* arr, std::uint64_t extra) {
    while (arr->capacity < arr->count + extra)
        objArrayDoubleCapacity(arr);
}

void objArrayShrink(ccArray* arr) {
    if (arr->capacity > arr->count && !(arr->count == 0 && arr->capacity == 1)) {
        std::uint64_t capacity = arr->count == 0 ? 1 : arr->count;
        arr->items = static_cast<Object**>(checkedRealloc(arr->items, capacity, sizeof(Object*)));
        arr->capacity = capacity;
    }
}

std::uint64_t objArrayIndexOfObject(const ccArray* arr, const Object* object) {
    for (std::uint64_t i = 0; i < arr->count; ++i)
        if (arr->items[i] == object) return i;
    return platform::NSNotFound;
}

bool objArrayContainsObject(const ccArray* arr, const Object* object) {
    return objArrayIndexOfObject(arr, object) != platform::NSNotFound;
}

void objArrayAppendObject(ccArray* arr, Object* object) {
    if (object) object->retain();
    arr->items[arr->count++] = object;
}

void objArrayAppendObjectWithResize(ccArray* arr, Object* object) {
    objArrayEnsureExtraCapacity(arr, 1);
    objArrayAppendObject(arr, object);
}

void objArrayAppendArray(ccArray* arr, const ccArray* other) {
    // Read the count first: appending an array to itself must stop at its original end.
    std::uint64_t n = other->count;
    for (std::uint64_t i = 0; i < n; ++i)
        objArrayAppendObject(arr, other->items[i]);
}

void objArrayAppendArrayWithResize(ccArray* arr, const ccArray* other) {
    objArrayEnsureExtraCapacity(arr, other->count);
    objArrayAppendArray(arr, other);
}

void objArrayInsertObjectAtIndex(ccArray* arr, Object* object, std::uint64_t index) {
    objArrayEnsureExtraCapacity(arr, 1);
    if (index < arr->count)
        std::memmove(arr->items + index + 1, arr->items + index, (arr->count - index) * sizeof(Object*));
    if (object) object->retain();
    arr->items[index] = object;
    ++arr->count;
}

void objArraySwapObjectsAtIndexes(ccArray* arr, std::uint64_t index1, std::uint64_t index2) {
    std::swap(arr->items[index1], arr->items[index2]);
}

void objArrayRemoveAllObjects(ccArray* arr) {
    while (arr->count > 0) {
        Object* o = arr->items[--arr->count];
        if (o) o->release();
    }
}

void objArrayRemoveObjectAtIndex(ccArray* arr, std::uint64_t index) {
    Object* o = arr->items[index];
    --arr->count;
    std::uint64_t remaining = arr->count - index;
    if (remaining > 0) std::memmove(arr->items + index, arr->items + index + 1, remaining * sizeof(Object*));
    // Released after the slots are consistent: the release may run code that reads the array.
    if (o) o->release();
}

void objArrayFastRemoveObjectAtIndex(ccArray* arr, std::uint64_t index) {
    Object* o = arr->items[index];
    std::uint64_t last = --arr->count;
    arr->items[index] = arr->items[last];
    if (o) o->release();
}

void objArrayFastRemoveObject(ccArray* arr, Object* object) {
    std::uint64_t index = objArrayIndexOfObject(arr, object);
    if (index != platform::NSNotFound) objArrayFastRemoveObjectAtIndex(arr, index);
}

void objArrayRemoveObject(ccArray* arr, Object* object) {
    std::uint64_t index = objArrayIndexOfObject(arr, object);
    if (index != platform::NSNotFound) objArrayRemoveObjectAtIndex(arr, index);
}

void objArrayRemoveArray(ccArray* arr, const ccArray* other) {
    if (arr == other) {
        objArrayRemoveAllObjects(arr);
        return;
    }
    for (std::uint64_t i = 0; i < other->count; ++i)
        objArrayRemoveObject(arr, other->items[i]);
}

void objArrayMakeObjectsPerformSelector(ccArray* arr, const platform::Selector<void()>& selector) {
    for (std::uint64_t i = 0; i < arr->count; ++i) {
        Ref<Object> receiver = arr->items[i];
        if (receiver) selector(receiver.get());
    }
}

void objArrayMakeObjectsPerformSelectorWithObject(ccArray* arr,
                                                  const platform::Selector<void(Object*)>& selector,
                                                  Object* object) {
    for (std::uint64_t i = 0; i < arr->count; ++i) {
        Ref<Object> receiver = arr->items[i];
        if (receiver) selector(receiver.get(), object);
    }
}

void objArrayMakeObjectPerformSelectorWithArrayObjects(ccArray* arr,
                                                       const platform::Selector<void(Object*)>& selector,
                                                       Object* receiver) {
    if (!receiver) return;
    for (std::uint64_t i = 0; i < arr->count; ++i) {
        Ref<Object> argument = arr->items[i];
        selector(receiver, argument.get());
    }
}

void insertionSortWithComparator(ccArray* arr, ccComparator comparator) {
    Object** x = arr->items;
    for (std::uint64_t i = 1; i < arr->count; ++i) {
        for (std::uint64_t j = i; j > 0 && comparator(&x[j - 1], &x[j]) == 1; --j)
            std::swap(x[j - 1], x[j]);
    }
}

void mergeSortWithComparator(ccArray* arr, std::size_t width, ccComparator comparator) {
    const std::uint64_t n = arr->count;
    if (n < 2 || width == 0) return;
    auto* base = reinterpret_cast<unsigned char*>(arr->items);
    // Runs are laid out from the end, so a left run never holds more than count/2 elements.
    std::vector<unsigned char> scratch((n / 2 + 1) * width);
    auto at = [&](std::uint64_t i) { return base + i * width; };
    for (std::uint64_t h = 1; h < n; h *= 2) {
        for (std::int64_t m = static_cast<std::int64_t>(n - h) - 1; m >= 0;
             m -= static_cast<std::int64_t>(2 * h)) {
            auto lo =
                static_cast<std::uint64_t>(std::max<std::int64_t>(m - static_cast<std::int64_t>(h) + 1, 0));
            std::uint64_t leftCount = static_cast<std::uint64_t>(m) - lo + 1;
            std::uint64_t j = static_cast<std::uint64_t>(m) + 1, rightEnd = static_cast<std::uint64_t>(m) + h;
            std::memcpy(scratch.data(), at(lo), leftCount * width);
            std::uint64_t k = lo, s = 0;
            while (s < leftCount && j <= rightEnd) {
                if (comparator(scratch.data() + s * width, at(j)) > 0) {
                    std::memcpy(at(k++), at(j++), width);
                } else {
                    std::memcpy(at(k++), scratch.data() + s * width, width);
                    ++s;
                }
            }
            if (s < leftCount) std::memcpy(at(k), scratch.data() + s * width, (leftCount - s) * width);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Value array

ccValueArray* valueArrayNew(std::uint64_t capacity) {
    return newRecord<ccValueArray>(capacity, false);
}

void valueArrayFree(ccValueArray* arr) {
    if (!arr) return;
    arr->count = 0;
    std::free(arr->items);
    std::free(arr);
}

void valueArrayInsertValueAtIndex(ccValueArray* arr, std::uint64_t value, std::uint64_t index) {
    if (index < arr->count)
        std::memmove(arr->items + index + 1, arr->items + index,
                     (arr->count - index) * sizeof(std::uint64_t));
    arr->items[index] = value;
    ++arr->count;
}

void valueArrayRemoveValueAtIndex(ccValueArray* arr, std::uint64_t index) {
    --arr->count;
    if (index < arr->count)
        std::memmove(arr->items + index, arr->items + index + 1,
                     (arr->count - index) * sizeof(std::uint64_t));
}

// ---------------------------------------------------------------------------------------------
// CCArray

std::int64_t sortBySelectorCompare(Object* a, Object* b, void* selector) {
    return (*static_cast<const CCArray::CompareSelector*>(selector))(a, b);
}

namespace {
template <class... Params, class... Args>
Ref<CCArray> made(bool (CCArray::*init)(Params...), Args&&... args) {
    Ref<CCArray> a = platform::make<CCArray>();
    if (!((*a).*init)(std::forward<Args>(args)...)) return nullptr;
    return a;
}
} // namespace

Ref<CCArray> CCArray::array() {
    return made(&CCArray::init);
}

Ref<CCArray> CCArray::arrayWithCapacity(std::uint64_t capacity) {
    return made(&CCArray::initWithCapacity, capacity);
}

Ref<CCArray> CCArray::arrayWithArray(const CCArray* other) {
    return made(&CCArray::initWithArray, other);
}

Ref<CCArray> CCArray::arrayWithNSArray(const platform::Array& other) {
    return made(&CCArray::initWithNSArray, other);
}

CCArray::~CCArray() {
    objArrayFree(data);
}

bool CCArray::init() {
    return initWithCapacity(2);
}

bool CCArray::initWithCapacity(std::uint64_t capacity) {
    // A second initialisation replaces the record instead of leaking it.
    ccArray* old = data;
    data = objArrayNew(capacity);
    objArrayFree(old);
    return true;
}

bool CCArray::initWithArray(const CCArray* other) {
    std::uint64_t n = other ? other->count() : 0;
    if (!initWithCapacity(n)) return false;
    if (other) addObjectsFromArray(other);
    return true;
}

bool CCArray::initWithNSArray(const platform::Array& other) {
    if (!initWithCapacity(other.size())) return false;
    addObjectsFromNSArray(other);
    return true;
}

bool CCArray::initWithCoder(const platform::KeyedArchive& coder) {
    return initWithNSArray(coder.decodeArray("nsarray"));
}

std::uint64_t CCArray::indexOfObject(const Object* object) const {
    return objArrayIndexOfObject(data, object);
}

bool CCArray::containsObject(const Object* object) const {
    return objArrayContainsObject(data, object);
}

Object* CCArray::lastObject() const {
    return data->count > 0 ? data->items[data->count - 1] : nullptr;
}

Object* CCArray::randomObject() const {
    if (data->count == 0) return nullptr;
    float r = static_cast<float>(random()) * 0x1p-31f;
    auto index = static_cast<std::uint64_t>(static_cast<float>(data->count) * r);
    if (index >= data->count) index = data->count - 1;
    return data->items[index];
}

platform::Array CCArray::getNSArray() const {
    platform::Array out;
    out.reserve(data->count);
    for (Object* o : *this)
        out.emplace_back(o);
    return out;
}

bool CCArray::isEqualToArray(const CCArray* other) const {
    if (data->count == 0) return true;
    if (!other || other->count() < data->count) return false;
    for (std::uint64_t i = 0; i < data->count; ++i) {
        Object* mine = data->items[i];
        Object* theirs = other->data->items[i];
        if (mine == theirs) continue;
        if (!mine || !mine->isEqual(theirs)) return false;
    }
    return true;
}

void CCArray::addObject(Object* object) {
    objArrayAppendObjectWithResize(data, object);
}

void CCArray::addObjectsFromArray(const CCArray* other) {
    if (other) objArrayAppendArrayWithResize(data, other->data);
}

void CCArray::addObjectsFromNSArray(const platform::Array& other) {
    objArrayEnsureExtraCapacity(data, other.size());
    for (const Ref<Object>& o : other)
        objArrayAppendObject(data, o.get());
}

void CCArray::insertObject(Object* object, std::uint64_t index) {
    if (index > data->count) raiseIndexBeyondBounds(index, data->count);
    objArrayInsertObjectAtIndex(data, object, index);
}

void CCArray::removeObject(Object* object) {
    objArrayRemoveObject(data, object);
}

void CCArray::removeObjectAtIndex(std::uint64_t index) {
    if (index >= data->count) raiseIndexBeyondBounds(index, data->count);
    objArrayRemoveObjectAtIndex(data, index);
}

void CCArray::fastRemoveObject(Object* object) {
    objArrayFastRemoveObject(data, object);
}

void CCArray::fastRemoveObjectAtIndex(std::uint64_t index) {
    if (index >= data->count) raiseIndexBeyondBounds(index, data->count);
    objArrayFastRemoveObjectAtIndex(data, index);
}

void CCArray::removeObjectsInArray(const CCArray* other) {
    if (other) objArrayRemoveArray(data, other->data);
}

void CCArray::removeLastObject() {
    if (data->count == 0) raiseIndexBeyondBounds(0, 0);
    objArrayRemoveObjectAtIndex(data, data->count - 1);
}

void CCArray::removeAllObjects() {
    objArrayRemoveAllObjects(data);
}

void CCArray::exchangeObject(Object* object1, Object* object2) {
    std::uint64_t index1 = objArrayIndexOfObject(data, object1);
    if (index1 == platform::NSNotFound) return;
    std::uint64_t index2 = objArrayIndexOfObject(data, object2);
    if (index2 == platform::NSNotFound) return;
    objArraySwapObjectsAtIndexes(data, index1, index2);
}

void CCArray::exchangeObjectAtIndex(std::uint64_t index1, std::uint64_t index2) {
    if (index1 >= data->count || index2 >= data->count)
        raiseIndexBeyondBounds(std::max(index1, index2), data->count);
    objArraySwapObjectsAtIndexes(data, index1, index2);
}

void CCArray::replaceObjectAtIndex(std::uint64_t index, Object* object) {
    if (index >= data->count) raiseIndexBeyondBounds(index, data->count);
    objArrayInsertObjectAtIndex(data, object, index);
    objArrayRemoveObjectAtIndex(data, index + 1);
}

void CCArray::reverseObjects() {
    if (data->count > 1) {
        auto half = static_cast<std::uint64_t>(static_cast<double>(data->count) * 0.5);
        std::uint64_t last = data->count - 1;
        for (std::uint64_t i = 0; i < half; ++i)
            objArraySwapObjectsAtIndexes(data, i, last - i);
    }
}

void CCArray::reduceMemoryFootprint() {
    objArrayShrink(data);
}

void CCArray::makeObjectsPerformSelector(const platform::Selector<void()>& selector) {
    objArrayMakeObjectsPerformSelector(data, selector);
}

void CCArray::makeObjectsPerformSelector(const platform::Selector<void(Object*)>& selector, Object* object) {
    objArrayMakeObjectsPerformSelectorWithObject(data, selector, object);
}

void CCArray::makeObjectPerformSelectorWithArrayObjects(Object* receiver,
                                                        const platform::Selector<void(Object*)>& selector) {
    objArrayMakeObjectPerformSelectorWithArrayObjects(data, selector, receiver);
}

void CCArray::insertionSortUsingCFuncComparator(ccComparator comparator) {
    insertionSortWithComparator(data, comparator);
}

void CCArray::qsortUsingCFuncComparator(ccComparator comparator) {
    if (data->count > 1) std::qsort(data->items, data->count, sizeof(Object*), comparator);
}

void CCArray::mergesortLUsingCFuncComparator(ccComparator comparator) {
    mergeSortWithComparator(data, sizeof(Object*), comparator);
}

void CCArray::insertionSort(const CompareSelector& selector) {
    Object** x = data->items;
    for (std::uint64_t i = 1; i < data->count; ++i) {
        for (std::uint64_t j = i; j > 0 && static_cast<std::uint32_t>(selector(x[j - 1], x[j])) == 1; --j)
            std::swap(x[j - 1], x[j]);
    }
}

void CCArray::sortUsingSelector(const CompareSelector& selector) {
    sortUsingFunction(&sortBySelectorCompare, const_cast<CompareSelector*>(&selector));
}

void CCArray::sortUsingFunction(SortFunction function, void* context) {
    const std::uint64_t count = data->count;
    if (count < 2) return;
    // Every placement goes through replaceObjectAtIndex, which releases the slot it overwrites;
    // the extra retains keep every object alive while it sits only in the scratch list.
    std::vector<Ref<Object>> held(data->items, data->items + count);
    std::vector<Object*> scratch(count / 2 + 1);
    for (std::uint64_t h = 1; h < count; h *= 2) {
        for (std::int64_t m = static_cast<std::int64_t>(count - h) - 1; m >= 0;
             m -= static_cast<std::int64_t>(2 * h)) {
            std::int64_t first = std::max<std::int64_t>(m - static_cast<std::int64_t>(h) + 1, 0);
            auto lo = static_cast<std::uint64_t>(first);
            auto mid = static_cast<std::uint64_t>(m);
            std::uint64_t leftCount = mid - lo + 1;
            for (std::uint64_t i = 0; i < leftCount; ++i)
                scratch[i] = data->items[lo + i];
            std::uint64_t k = lo, s = 0, j = mid + 1;
            while (s < leftCount && j <= mid + h) {
                if (function(data->items[j], scratch[s], context) == 1) {
                    replaceObjectAtIndex(k++, scratch[s++]);
                } else {
                    replaceObjectAtIndex(k++, data->items[j++]);
                }
            }
            while (s < leftCount)
                replaceObjectAtIndex(k++, scratch[s++]);
        }
    }
}

Ref<Object> CCArray::copyWithZone(platform::Zone*) const {
    Ref<CCArray> copy = platform::make<CCArray>();
    copy->initWithArray(this);
    return copy;
}

void CCArray::encodeWithCoder(platform::KeyedArchive& coder) const {
    coder.encodeArray("nsarray", getNSArray());
}

std::string CCArray::description() const {
    std::string s = platform::format("<%s = %p> = ( ", className(), this);
    for (Object* o : *this)
        s += platform::format("%s, ", platform::describe(o));
    s += ")";
    return s;
}

void CCArray::raiseIndexBeyondBounds(std::uint64_t index, std::uint64_t count) {
    throw platform::Exception("NSRangeException", platform::format("index %llu beyond bounds (count %llu)",
                                                                   static_cast<unsigned long long>(index),
                                                                   static_cast<unsigned long long>(count)));
}
