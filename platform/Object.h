// The root of every reference-counted class, and the retaining smart pointer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>

namespace platform {

struct Zone; // copy zones are accepted for signature's sake and always null

template <class T> class Ref;

class Object {
public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    void retain() const { refCount_.fetch_add(1, std::memory_order_relaxed); }
    // Destroys the object when the last owner lets go.
    void release() const {
        if (refCount_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
    std::uint64_t retainCount() const { return refCount_.load(std::memory_order_relaxed); }

    // The class's name as descriptions print it ("CCSprite").
    std::string className() const;
    // "<ClassName: 0x...>" unless a class says more.
    virtual std::string description() const;
    // Identity unless a class compares by value.
    virtual bool isEqual(const Object* other) const { return this == other; }
    // A new object of the receiver's dynamic class, owned by the caller; null where a class
    // does not copy.
    virtual Ref<Object> copyWithZone(Zone* zone) const;
    Ref<Object> copy() const;

protected:
    virtual ~Object() = default;

private:
    mutable std::atomic<std::uint32_t> refCount_{1};
};

// The description of an object, or "(null)" for none, as a formatted "%@" prints it.
std::string describe(const Object* object);

// Retaining pointer. Assigning stores the new pointer before releasing the old one, because
// the release may destroy the object that is doing the assignment.
template <class T> class Ref {
public:
    Ref() = default;
    Ref(std::nullptr_t) {}
    // Takes a reference of its own.
    Ref(T* p) : ptr_(p) {
        if (ptr_) ptr_->retain();
    }
    Ref(const Ref& o) : Ref(o.ptr_) {}
    Ref(Ref&& o) noexcept : ptr_(std::exchange(o.ptr_, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ref(const Ref<U>& o) : Ref(o.get()) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ref(Ref<U>&& o) noexcept : ptr_(o.leakRef()) {}
    ~Ref() {
        if (ptr_) ptr_->release();
    }

    // Wraps a pointer whose reference the caller hands over (a fresh object's first count).
    static Ref adopt(T* p) {
        Ref r;
        r.ptr_ = p;
        return r;
    }

    Ref& operator=(const Ref& o) {
        reset(o.ptr_);
        return *this;
    }
    Ref& operator=(Ref&& o) noexcept {
        // Safe on self-move: the inner exchange empties ptr_ before the outer one reads it.
        T* old = std::exchange(ptr_, std::exchange(o.ptr_, nullptr));
        if (old) old->release();
        return *this;
    }
    // From a Ref of a derived class, as the converting constructors take one. Without these,
    // the converting constructor and the pointer conversion below made such an assignment
    // ambiguous.
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ref& operator=(const Ref<U>& o) {
        reset(o.get());
        return *this;
    }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ref& operator=(Ref<U>&& o) noexcept {
        // Safe on the same object too: leakRef empties it before the exchange stores.
        T* old = std::exchange(ptr_, o.leakRef());
        if (old) old->release();
        return *this;
    }
    Ref& operator=(T* p) {
        reset(p);
        return *this;
    }
    Ref& operator=(std::nullptr_t) {
        reset(nullptr);
        return *this;
    }

    void reset(T* p = nullptr) {
        if (p) p->retain();
        T* old = std::exchange(ptr_, p);
        if (old) old->release();
    }
    // Gives up the reference without releasing it.
    [[nodiscard]] T* leakRef() { return std::exchange(ptr_, nullptr); }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    T& operator*() const { return *ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    // A named Ref converts to a plain pointer; a temporary does not, so that
    // `CCNode* n = CCNode::node();` cannot leave a dangling pointer.
    operator T*() const& { return ptr_; }
    operator T*() const&& = delete;

    friend bool operator==(const Ref& a, const Ref& b) { return a.ptr_ == b.ptr_; }
    friend bool operator==(const Ref& a, std::nullptr_t) { return a.ptr_ == nullptr; }
    friend bool operator==(const Ref& a, const T* b) { return a.ptr_ == b; }

private:
    T* ptr_ = nullptr;
};

// Makes a new object and adopts its first reference.
template <class T, class... Args> Ref<T> make(Args&&... args) {
    return Ref<T>::adopt(new T(std::forward<Args>(args)...));
}

// A typed copy: copyWithZone of the dynamic class, cast back to the static one.
template <class T> Ref<T> copyOf(const T* object) {
    if (!object) return nullptr;
    Ref<Object> c = object->copyWithZone(nullptr);
    return Ref<T>::adopt(static_cast<T*>(c.leakRef()));
}

} // namespace platform

template <class T> struct std::hash<platform::Ref<T>> {
    std::size_t operator()(const platform::Ref<T>& r) const noexcept { return std::hash<T*>()(r.get()); }
};
