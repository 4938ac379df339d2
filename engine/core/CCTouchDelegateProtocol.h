// What the GL view hands its touches to (the touch dispatcher implements it), and the two
// kinds of delegate the dispatcher hands them on to.
#pragma once

#include "platform/Object.h"
#include "platform/Touch.h"

#include <concepts>
#include <cstdint>

class CCTouchDelegate {
public:
    virtual ~CCTouchDelegate() = default;
    virtual void touchesBegan(const platform::TouchSet& touches, platform::Event* event) = 0;
    virtual void touchesMoved(const platform::TouchSet& touches, platform::Event* event) = 0;
    virtual void touchesEnded(const platform::TouchSet& touches, platform::Event* event) = 0;
    virtual void touchesCancelled(const platform::TouchSet& touches, platform::Event* event) = 0;
};

// Phase bits: which touch operations a delegate implements, and a handler's enabled mask.
enum : std::uint32_t {
    kCCTouchSelectorBeganBit = 1 << 0,
    kCCTouchSelectorMovedBit = 1 << 1,
    kCCTouchSelectorEndedBit = 1 << 2,
    kCCTouchSelectorCancelledBit = 1 << 3,
    kCCTouchSelectorAllBits = kCCTouchSelectorBeganBit | kCCTouchSelectorMovedBit | kCCTouchSelectorEndedBit |
                              kCCTouchSelectorCancelledBit,
};

// A standard delegate: receives the whole set of touches of each phase that no targeted
// handler swallowed. Every operation is optional.
class CCTouchAllAtOnceDelegate {
public:
    virtual ~CCTouchAllAtOnceDelegate() = default;
    virtual void ccTouchesBegan(const platform::TouchSet&, platform::Event*) {}
    virtual void ccTouchesMoved(const platform::TouchSet&, platform::Event*) {}
    virtual void ccTouchesEnded(const platform::TouchSet&, platform::Event*) {}
    virtual void ccTouchesCancelled(const platform::TouchSet&, platform::Event*) {}
    // The phases this class implements (phase bits); only those are sent. A class that
    // overrides fewer operations may say so; the default bodies do nothing, so the default
    // answer, every phase, is always safe.
    virtual std::uint32_t touchesPhasesImplemented() const { return kCCTouchSelectorAllBits; }
};

// A targeted delegate: sees one touch at a time, claims it in its began phase and then
// receives that touch's later phases. ccTouchBegan is required.
class CCTouchOneByOneDelegate {
public:
    virtual ~CCTouchOneByOneDelegate() = default;
    // True claims the touch.
    virtual bool ccTouchBegan(platform::Touch* touch, platform::Event* event) = 0;
    virtual void ccTouchMoved(platform::Touch*, platform::Event*) {}
    virtual void ccTouchEnded(platform::Touch*, platform::Event*) {}
    virtual void ccTouchCancelled(platform::Touch*, platform::Event*) {}
    // As touchesPhasesImplemented; the began bit is always taken as set.
    virtual std::uint32_t touchPhasesImplemented() const { return kCCTouchSelectorAllBits; }
};

// Registered delegates are retained, so they are objects as well as delegates.
template <class D>
concept CCTouchAllAtOnceObject =
    std::derived_from<D, platform::Object> && std::derived_from<D, CCTouchAllAtOnceDelegate>;
template <class D>
concept CCTouchOneByOneObject =
    std::derived_from<D, platform::Object> && std::derived_from<D, CCTouchOneByOneDelegate>;
