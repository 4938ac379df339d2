// Touch dispatch: the view's touches go to targeted handlers (one touch at a time, claimed in
// its began phase, optionally swallowed) and then, as a set, to standard handlers. Lower
// priorities are served first; among equals the newest registration comes first.
#pragma once

#include "core/CCTouchDelegateProtocol.h"

#include "platform/Collections.h"
#include "platform/Object.h"
#include "platform/Touch.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

// Phase indices of an event, as touches(set, event, touchType) takes them.
enum : std::uint32_t {
    kCCTouchBegan = 0,
    kCCTouchMoved = 1,
    kCCTouchEnded = 2,
    kCCTouchCancelled = 3,
    kCCTouchMax = 4,
};

class CCTouchHandler;
using CCTouchHandlerArray = std::vector<platform::Ref<CCTouchHandler>>;

// What one phase sends: the all-at-once operation, the one-by-one operation (none for the
// began phase, whose answer is a claim) and the phase bit.
struct ccTouchHandlerHelperData {
    void (CCTouchAllAtOnceDelegate::*touchesSel)(const platform::TouchSet&, platform::Event*);
    void (CCTouchOneByOneDelegate::*touchSel)(platform::Touch*, platform::Event*);
    std::uint32_t type;
};

// A registration: the delegate (retained), its priority and the phases it implements.
class CCTouchHandler : public platform::Object {
public:
    // The delegate object; the subclasses also give its delegate face.
    platform::Object* delegate() const { return _delegate.get(); }
    std::int64_t priority() const { return _priority; }
    // Without re-sorting the dispatcher's lists (its setPriority does that).
    void setPriority(std::int64_t priority);
    std::uint32_t enabledSelectors() const { return _enabledSelectors; }
    void setEnabledSelectors(std::uint32_t mask) { _enabledSelectors = mask; }

protected:
    friend class CCTouchDispatcher;
    bool initWithDelegate(platform::Object* delegate, std::int64_t priority);
    // Counts the changes of priority or delegate made to handlers behind a dispatcher's back,
    // after which its lookup tables are checked against its lists before they are trusted.
    static void noteOutsideChange() { ++outsideChanges_; }

    platform::Ref<platform::Object> _delegate;
    std::int64_t _priority = 0;
    std::uint32_t _enabledSelectors = 0;

private:
    inline static std::uint64_t outsideChanges_ = 0; // on the director's thread only
    // Orders equal priorities within a dispatcher's list: ascending along it.
    std::int64_t _order = 0;
};

class CCStandardTouchHandler : public CCTouchHandler {
public:
    template <CCTouchAllAtOnceObject D>
    static platform::Ref<CCStandardTouchHandler> handlerWithDelegate(D* delegate, std::int64_t priority) {
        return handlerWithDelegate(delegate, delegate, priority);
    }
    // The object and its delegate face must be the same instance.
    static platform::Ref<CCStandardTouchHandler>
    handlerWithDelegate(platform::Object* object, CCTouchAllAtOnceDelegate* delegate, std::int64_t priority);
    // Enables the phases the delegate says it implements.
    bool initWithDelegate(platform::Object* object, CCTouchAllAtOnceDelegate* delegate,
                          std::int64_t priority);

    template <CCTouchAllAtOnceObject D> void setDelegate(D* delegate) { setDelegate(delegate, delegate); }
    // Retains the new delegate; the enabled phases stay as they were.
    void setDelegate(platform::Object* object, CCTouchAllAtOnceDelegate* delegate);
    CCTouchAllAtOnceDelegate* allAtOnceDelegate() const { return _allAtOnce; }

private:
    CCTouchAllAtOnceDelegate* _allAtOnce = nullptr; // the delegate face of _delegate
};

class CCTargetedTouchHandler : public CCTouchHandler {
public:
    template <CCTouchOneByOneObject D>
    static platform::Ref<CCTargetedTouchHandler> handlerWithDelegate(D* delegate, std::int64_t priority,
                                                                     bool swallowsTouches) {
        return handlerWithDelegate(delegate, delegate, priority, swallowsTouches);
    }
    static platform::Ref<CCTargetedTouchHandler> handlerWithDelegate(platform::Object* object,
                                                                     CCTouchOneByOneDelegate* delegate,
                                                                     std::int64_t priority,
                                                                     bool swallowsTouches);
    bool initWithDelegate(platform::Object* object, CCTouchOneByOneDelegate* delegate, std::int64_t priority,
                          bool swallowsTouches);

    template <CCTouchOneByOneObject D> void setDelegate(D* delegate) { setDelegate(delegate, delegate); }
    void setDelegate(platform::Object* object, CCTouchOneByOneDelegate* delegate);
    CCTouchOneByOneDelegate* oneByOneDelegate() const { return _oneByOne; }

    bool swallowsTouches() const { return _swallowsTouches; }
    void setSwallowsTouches(bool swallows) { _swallowsTouches = swallows; }
    // The touches claimed and not yet ended or cancelled (retained).
    platform::TouchSet& claimedTouches() { return _claimedTouches; }

private:
    CCTouchOneByOneDelegate* _oneByOne = nullptr;
    bool _swallowsTouches = false;
    platform::TouchSet _claimedTouches{2};
};

class CCTouchDispatcher : public platform::Object, public CCTouchDelegate {
public:
    CCTouchDispatcher();
    virtual bool init();

    // Removes the first entry that is a handler of the delegate or the delegate itself.
    bool removeDelegate(platform::Object* delegate, platform::Array& queue);
    // Inserts before every handler of equal or higher priority.
    void forceAddHandler(CCTouchHandler* handler, CCTouchHandlerArray& array);

    template <CCTouchAllAtOnceObject D> void addStandardDelegate(D* delegate, std::int64_t priority) {
        addStandardDelegate(delegate, delegate, priority);
    }
    // While a dispatch runs the change waits until it ends.
    void addStandardDelegate(platform::Object* object, CCTouchAllAtOnceDelegate* delegate,
                             std::int64_t priority);
    template <CCTouchOneByOneObject D>
    void addTargetedDelegate(D* delegate, std::int64_t priority, bool swallowsTouches) {
        addTargetedDelegate(delegate, delegate, priority, swallowsTouches);
    }
    void addTargetedDelegate(platform::Object* object, CCTouchOneByOneDelegate* delegate,
                             std::int64_t priority, bool swallowsTouches);

    // Drops the delegate's first targeted and first standard registration at once.
    void forceRemoveDelegate(platform::Object* delegate);
    void removeDelegate(platform::Object* delegate);
    void forceRemoveAllDelegates();
    void removeAllDelegates();

    // Targeted first, then standard, then (while additions wait) the waiting handlers.
    CCTouchHandler* findHandler(platform::Object* delegate);
    // Stable sort by ascending priority.
    void rearrangeHandlers(CCTouchHandlerArray& array);
    void setPriority(std::int64_t priority, platform::Object* delegate);

    // Dispatches one phase (kCCTouchBegan..kCCTouchCancelled) of an event.
    void touches(const platform::TouchSet& touches, platform::Event* event, std::uint32_t touchType);

    void touchesBegan(const platform::TouchSet& touches, platform::Event* event) override;
    void touchesMoved(const platform::TouchSet& touches, platform::Event* event) override;
    void touchesEnded(const platform::TouchSet& touches, platform::Event* event) override;
    void touchesCancelled(const platform::TouchSet& touches, platform::Event* event) override;

    bool dispatchEvents() const { return dispatchEvents_; }
    void setDispatchEvents(bool dispatch) { dispatchEvents_ = dispatch; }

    const CCTouchHandlerArray& targetedHandlers() const { return targetedHandlers_; }
    const CCTouchHandlerArray& standardHandlers() const { return standardHandlers_; }
    // True while an event is being dispatched.
    bool isLocked() const { return locked_; }

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The shared director's touch dispatcher (null for a director without touches).
    static CCTouchDispatcher* sharedDispatcher();

private:
    // Finds a list's handlers by delegate, and their places by (priority, order) with a binary
    // search. Trusted only while the list is sorted that way, holds each handler once and no
    // handler changed behind the dispatcher's back; otherwise the plain walks answer until a
    // check finds it sound again.
    struct HandlerIndex {
        std::unordered_multimap<platform::Object*, CCTouchHandler*> byDelegate;
        std::uint64_t checkedAt = 0; // the handlers' outside-change count when last checked
        bool sound = true;
    };
    HandlerIndex* indexFor(const CCTouchHandlerArray& array);
    // Checks the index against its list (rebuilding it) when it may be stale; true when trusted.
    bool trust(CCTouchHandlerArray& array, HandlerIndex& index);
    // The first handler of the delegate in the list, as a walk would find it; end() if none.
    CCTouchHandlerArray::iterator firstHandlerOf(CCTouchHandlerArray& array, platform::Object* delegate);
    // Takes the first handler of the delegate out of the list; the caller lets it go afterwards.
    platform::Ref<CCTouchHandler> takeHandler(CCTouchHandlerArray& array, platform::Object* delegate);
    void resetIndex(HandlerIndex& index);

    void fillHelperData();
    // The walks of one touches() call, between its locking and unlocking.
    void dispatch(const platform::TouchSet& touches, platform::Event* event, std::uint32_t touchType);
    // Into the list now, or into the addition queue while a dispatch runs.
    void addHandler(CCTouchHandler* handler, CCTouchHandlerArray& array);
    void applyPendingChanges();

    HandlerIndex targetedIndex_;
    HandlerIndex standardIndex_;
    std::int64_t lowestOrder_ = 0;  // the next handler placed first among its equals goes below
    std::int64_t highestOrder_ = 0; // and the next placed last goes above

    CCTouchHandlerArray targetedHandlers_;
    CCTouchHandlerArray standardHandlers_;
    bool locked_ = false;
    bool toAdd_ = false;
    bool toRemove_ = false;
    platform::Array handlersToAdd_;    // handlers
    platform::Array handlersToRemove_; // delegates
    bool toQuit_ = false;
    bool dispatchEvents_ = true;
    ccTouchHandlerHelperData handlerHelperData_[kCCTouchMax] = {};
};
