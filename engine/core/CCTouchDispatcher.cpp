#include "core/CCTouchDispatcher.h"

#include <algorithm>
#include <exception>
#include <utility>

using platform::Event;
using platform::Object;
using platform::Ref;
using platform::Touch;
using platform::TouchSet;

// Handlers

bool CCTouchHandler::initWithDelegate(Object* delegate, std::int64_t priority) {
    _delegate = delegate;
    _priority = priority;
    return true;
}

Ref<CCStandardTouchHandler> CCStandardTouchHandler::handlerWithDelegate(Object* object,
                                                                        CCTouchAllAtOnceDelegate* delegate,
                                                                        std::int64_t priority) {
    Ref<CCStandardTouchHandler> handler = platform::make<CCStandardTouchHandler>();
    if (!handler->initWithDelegate(object, delegate, priority)) return nullptr;
    return handler;
}

bool CCStandardTouchHandler::initWithDelegate(Object* object, CCTouchAllAtOnceDelegate* delegate,
                                              std::int64_t priority) {
    if (!CCTouchHandler::initWithDelegate(object, priority)) return false;
    _allAtOnce = delegate;
    _enabledSelectors = delegate ? delegate->touchesPhasesImplemented() & kCCTouchSelectorAllBits : 0;
    return true;
}

void CCStandardTouchHandler::setDelegate(Object* object, CCTouchAllAtOnceDelegate* delegate) {
    _allAtOnce = delegate;
    _delegate = object;
}

Ref<CCTargetedTouchHandler> CCTargetedTouchHandler::handlerWithDelegate(Object* object,
                                                                        CCTouchOneByOneDelegate* delegate,
                                                                        std::int64_t priority,
                                                                        bool swallowsTouches) {
    Ref<CCTargetedTouchHandler> handler = platform::make<CCTargetedTouchHandler>();
    if (!handler->initWithDelegate(object, delegate, priority, swallowsTouches)) return nullptr;
    return handler;
}

bool CCTargetedTouchHandler::initWithDelegate(Object* object, CCTouchOneByOneDelegate* delegate,
                                              std::int64_t priority, bool swallowsTouches) {
    if (!CCTouchHandler::initWithDelegate(object, priority)) return false;
    _oneByOne = delegate;
    _swallowsTouches = swallowsTouches;
    _claimedTouches.clear();
    _enabledSelectors =
        delegate ? (delegate->touchPhasesImplemented() & kCCTouchSelectorAllBits) | kCCTouchSelectorBeganBit
                 : 0;
    return true;
}

void CCTargetedTouchHandler::setDelegate(Object* object, CCTouchOneByOneDelegate* delegate) {
    _oneByOne = delegate;
    _delegate = object;
}

// Dispatcher

CCTouchDispatcher::CCTouchDispatcher() {
    fillHelperData();
}

void CCTouchDispatcher::fillHelperData() {
    handlerHelperData_[kCCTouchBegan] = {&CCTouchAllAtOnceDelegate::ccTouchesBegan, nullptr,
                                         kCCTouchSelectorBeganBit};
    handlerHelperData_[kCCTouchMoved] = {&CCTouchAllAtOnceDelegate::ccTouchesMoved,
                                         &CCTouchOneByOneDelegate::ccTouchMoved, kCCTouchSelectorMovedBit};
    handlerHelperData_[kCCTouchEnded] = {&CCTouchAllAtOnceDelegate::ccTouchesEnded,
                                         &CCTouchOneByOneDelegate::ccTouchEnded, kCCTouchSelectorEndedBit};
    handlerHelperData_[kCCTouchCancelled] = {&CCTouchAllAtOnceDelegate::ccTouchesCancelled,
                                             &CCTouchOneByOneDelegate::ccTouchCancelled,
                                             kCCTouchSelectorCancelledBit};
}

bool CCTouchDispatcher::init() {
    targetedHandlers_.clear();
    targetedHandlers_.reserve(8);
    standardHandlers_.clear();
    standardHandlers_.reserve(4);
    handlersToAdd_.clear();
    handlersToAdd_.reserve(8);
    handlersToRemove_.clear();
    handlersToRemove_.reserve(8);
    locked_ = toAdd_ = toRemove_ = toQuit_ = false;
    dispatchEvents_ = true;
    fillHelperData();
    return true;
}

bool CCTouchDispatcher::removeDelegate(Object* delegate, platform::Array& queue) {
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        auto* handler = dynamic_cast<CCTouchHandler*>(it->get());
        if ((handler && handler->delegate() == delegate) || it->get() == delegate) {
            // Out of the array before the release: the last release may reach back in here.
            Ref<Object> removed = std::move(*it);
            queue.erase(it);
            return true;
        }
    }
    return false;
}

void CCTouchDispatcher::forceAddHandler(CCTouchHandler* handler, CCTouchHandlerArray& array) {
    std::size_t before = 0;
    for (const Ref<CCTouchHandler>& h : array)
        if (h->priority() < handler->priority()) ++before;
    array.insert(array.begin() + static_cast<std::ptrdiff_t>(before), Ref<CCTouchHandler>(handler));
}

void CCTouchDispatcher::addHandler(CCTouchHandler* handler, CCTouchHandlerArray& array) {
    if (!locked_) {
        forceAddHandler(handler, array);
    } else if (!removeDelegate(handler->delegate(), handlersToRemove_)) {
        // A delegate waiting for removal keeps its registration as it was instead.
        handlersToAdd_.emplace_back(handler);
        toAdd_ = true;
    }
}

void CCTouchDispatcher::addStandardDelegate(Object* object, CCTouchAllAtOnceDelegate* delegate,
                                            std::int64_t priority) {
    if (!object || !delegate) return;
    addHandler(CCStandardTouchHandler::handlerWithDelegate(object, delegate, priority).get(),
               standardHandlers_);
}

void CCTouchDispatcher::addTargetedDelegate(Object* object, CCTouchOneByOneDelegate* delegate,
                                            std::int64_t priority, bool swallowsTouches) {
    if (!object || !delegate) return;
    addHandler(CCTargetedTouchHandler::handlerWithDelegate(object, delegate, priority, swallowsTouches).get(),
               targetedHandlers_);
}

namespace {
// Takes the first handler of the delegate out of the list; the caller lets it go afterwards.
Ref<CCTouchHandler> takeHandler(CCTouchHandlerArray& array, Object* delegate) {
    auto it = std::find_if(array.begin(), array.end(),
                           [&](const Ref<CCTouchHandler>& h) { return h->delegate() == delegate; });
    if (it == array.end()) return nullptr;
    Ref<CCTouchHandler> taken = std::move(*it);
    array.erase(it);
    return taken;
}
} // namespace

void CCTouchDispatcher::forceRemoveDelegate(Object* delegate) {
    Ref<CCTouchHandler> targeted = takeHandler(targetedHandlers_, delegate);
    Ref<CCTouchHandler> standard = takeHandler(standardHandlers_, delegate);
}

void CCTouchDispatcher::removeDelegate(Object* delegate) {
    if (!delegate) return;
    if (!locked_) {
        forceRemoveDelegate(delegate);
    } else if (!removeDelegate(delegate, handlersToAdd_)) {
        handlersToRemove_.emplace_back(delegate);
        toRemove_ = true;
    }
}

void CCTouchDispatcher::forceRemoveAllDelegates() {
    CCTouchHandlerArray targeted, standard;
    targeted.swap(targetedHandlers_);
    standard.swap(standardHandlers_);
}

void CCTouchDispatcher::removeAllDelegates() {
    if (!locked_)
        forceRemoveAllDelegates();
    else
        toQuit_ = true;
}

CCTouchHandler* CCTouchDispatcher::findHandler(Object* delegate) {
    for (const Ref<CCTouchHandler>& h : targetedHandlers_)
        if (h->delegate() == delegate) return h.get();
    for (const Ref<CCTouchHandler>& h : standardHandlers_)
        if (h->delegate() == delegate) return h.get();
    if (toAdd_) {
        for (const Ref<Object>& entry : handlersToAdd_) {
            auto* h = dynamic_cast<CCTouchHandler*>(entry.get());
            if (h && h->delegate() == delegate) return h;
        }
    }
    return nullptr;
}

void CCTouchDispatcher::rearrangeHandlers(CCTouchHandlerArray& array) {
    std::stable_sort(array.begin(), array.end(),
                     [](const Ref<CCTouchHandler>& a, const Ref<CCTouchHandler>& b) {
                         return a->priority() < b->priority();
                     });
}

void CCTouchDispatcher::setPriority(std::int64_t priority, Object* delegate) {
    CCTouchHandler* handler = findHandler(delegate);
    if (!handler) return;
    handler->setPriority(priority);
    rearrangeHandlers(targetedHandlers_);
    rearrangeHandlers(standardHandlers_);
}

void CCTouchDispatcher::touches(const TouchSet& touches, Event* event, std::uint32_t touchType) {
    if (touchType >= kCCTouchMax) return;
    // A delegate may feed another event in from its handler: only the outermost dispatch
    // unlocks and applies the changes queued meanwhile.
    bool outer = !locked_;
    locked_ = true;
    // A delegate that throws must not leave the dispatcher locked for good.
    struct Unlock {
        CCTouchDispatcher* self;
        bool outer;
        ~Unlock() {
            if (outer && std::uncaught_exceptions() > 0) self->locked_ = false;
        }
    } unlock{this, outer};

    // The walks use the lists as they stood when the event came: a priority change made by a
    // delegate re-sorts them at once and would otherwise move handlers under the walk.
    CCTouchHandlerArray targeted = targetedHandlers_;
    CCTouchHandlerArray standard = standardHandlers_;
    bool needsMutableSet = !targeted.empty() && !standard.empty();
    TouchSet copy;
    if (needsMutableSet) copy = touches;
    const TouchSet& remaining = needsMutableSet ? copy : touches;
    const ccTouchHandlerHelperData& helper = handlerHelperData_[touchType];

    if (!targeted.empty()) {
        for (const Ref<Touch>& touch : touches) {
            for (const Ref<CCTouchHandler>& entry : targeted) {
                auto* handler = static_cast<CCTargetedTouchHandler*>(entry.get());
                CCTouchOneByOneDelegate* delegate = handler->oneByOneDelegate();
                Ref<Object> keepDelegate = handler->delegate();
                if (!delegate) continue;
                bool claimed = false;
                if (touchType == kCCTouchBegan) {
                    claimed = delegate->ccTouchBegan(touch.get(), event);
                    if (claimed) handler->claimedTouches().add(touch.get());
                } else if (handler->claimedTouches().contains(touch.get())) {
                    claimed = true;
                    if (handler->enabledSelectors() & helper.type)
                        (delegate->*helper.touchSel)(touch.get(), event);
                    if (helper.type & (kCCTouchSelectorEndedBit | kCCTouchSelectorCancelledBit))
                        handler->claimedTouches().remove(touch.get());
                }
                if (claimed && handler->swallowsTouches()) {
                    if (needsMutableSet) copy.remove(touch.get());
                    break;
                }
            }
        }
    }

    if (!standard.empty() && !remaining.empty()) {
        for (const Ref<CCTouchHandler>& entry : standard) {
            auto* handler = static_cast<CCStandardTouchHandler*>(entry.get());
            CCTouchAllAtOnceDelegate* delegate = handler->allAtOnceDelegate();
            Ref<Object> keepDelegate = handler->delegate();
            if (delegate && (handler->enabledSelectors() & helper.type))
                (delegate->*helper.touchesSel)(remaining, event);
        }
    }

    if (!outer) return;
    locked_ = false;
    applyPendingChanges();
}

void CCTouchDispatcher::applyPendingChanges() {
    if (toAdd_) {
        toAdd_ = false;
        platform::Array queue;
        queue.swap(handlersToAdd_);
        for (const Ref<Object>& entry : queue) {
            auto* handler = static_cast<CCTouchHandler*>(entry.get());
            if (dynamic_cast<CCTargetedTouchHandler*>(handler))
                forceAddHandler(handler, targetedHandlers_);
            else
                forceAddHandler(handler, standardHandlers_);
        }
    }
    if (toRemove_) {
        toRemove_ = false;
        platform::Array queue;
        queue.swap(handlersToRemove_);
        for (const Ref<Object>& delegate : queue)
            forceRemoveDelegate(delegate.get());
    }
    if (toQuit_) {
        toQuit_ = false;
        forceRemoveAllDelegates();
    }
}

void CCTouchDispatcher::touchesBegan(const TouchSet& touches, Event* event) {
    if (dispatchEvents_) this->touches(touches, event, kCCTouchBegan);
}

void CCTouchDispatcher::touchesMoved(const TouchSet& touches, Event* event) {
    if (dispatchEvents_) this->touches(touches, event, kCCTouchMoved);
}

void CCTouchDispatcher::touchesEnded(const TouchSet& touches, Event* event) {
    if (dispatchEvents_) this->touches(touches, event, kCCTouchEnded);
}

void CCTouchDispatcher::touchesCancelled(const TouchSet& touches, Event* event) {
    if (dispatchEvents_) this->touches(touches, event, kCCTouchCancelled);
}
