#include "core/CCTouchDispatcher.h"

#include <algorithm>
#include <utility>

using platform::Event;
using platform::Object;
using platform::Ref;
using platform::Touch;
using platform::TouchSet;

// Handlers

void CCTouchHandler::setPriority(std::int64_t priority) {
    _priority = priority;
    noteOutsideChange();
}

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
    noteOutsideChange();
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
    noteOutsideChange();
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
    // Out of the lists, and out of their index, before the handlers go: a delegate's
    // destructor may call back in here.
    CCTouchHandlerArray targeted, standard;
    targeted.swap(targetedHandlers_);
    standard.swap(standardHandlers_);
    resetIndex(targetedIndex_);
    resetIndex(standardIndex_);
    targeted.clear();
    standard.clear();
    targetedHandlers_.reserve(8);
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

namespace {
bool lowerPriority(const Ref<CCTouchHandler>& a, std::int64_t priority) {
    return a->priority() < priority;
}
bool higherPriority(std::int64_t priority, const Ref<CCTouchHandler>& a) {
    return priority < a->priority();
}
} // namespace

void CCTouchDispatcher::resetIndex(HandlerIndex& index) {
    index.byDelegate.clear();
    index.sound = true;
    index.checkedAt = CCTouchHandler::outsideChanges_;
}

CCTouchDispatcher::HandlerIndex* CCTouchDispatcher::indexFor(const CCTouchHandlerArray& array) {
    if (&array == &targetedHandlers_) return &targetedIndex_;
    if (&array == &standardHandlers_) return &standardIndex_;
    return nullptr;
}

bool CCTouchDispatcher::trust(CCTouchHandlerArray& array, HandlerIndex& index) {
    if (index.sound && index.checkedAt == CCTouchHandler::outsideChanges_) return true;
    index.byDelegate.clear();
    index.byDelegate.reserve(array.size());
    bool sound = true;
    for (std::size_t i = 0; i < array.size(); ++i) {
        CCTouchHandler* handler = array[i].get();
        if (i > 0 && array[i - 1]->priority() > handler->priority()) sound = false;
        auto [from, to] = index.byDelegate.equal_range(handler->delegate());
        for (; from != to; ++from)
            if (from->second == handler) sound = false; // listed twice: one order cannot place both
        index.byDelegate.emplace(handler->delegate(), handler);
    }
    if (sound) {
        lowestOrder_ -= static_cast<std::int64_t>(array.size());
        for (std::size_t i = 0; i < array.size(); ++i)
            array[i]->_order = lowestOrder_ + static_cast<std::int64_t>(i);
    }
    index.sound = sound;
    index.checkedAt = CCTouchHandler::outsideChanges_;
    return sound;
}

CCTouchHandlerArray::iterator CCTouchDispatcher::firstHandlerOf(CCTouchHandlerArray& array,
                                                                Object* delegate) {
    HandlerIndex* index = indexFor(array);
    if (!index || !trust(array, *index))
        return std::find_if(array.begin(), array.end(),
                            [&](const Ref<CCTouchHandler>& h) { return h->delegate() == delegate; });
    // Of the delegate's handlers, the one a walk meets first, then its place.
    CCTouchHandler* first = nullptr;
    auto [from, to] = index->byDelegate.equal_range(delegate);
    for (; from != to; ++from) {
        CCTouchHandler* h = from->second;
        if (!first || h->_priority < first->_priority ||
            (h->_priority == first->_priority && h->_order < first->_order))
            first = h;
    }
    if (!first) return array.end();
    auto it = std::lower_bound(
        array.begin(), array.end(), first, [](const Ref<CCTouchHandler>& a, const CCTouchHandler* b) {
            return a->_priority < b->_priority || (a->_priority == b->_priority && a->_order < b->_order);
        });
    if (it != array.end() && it->get() == first) return it;
    // Only a handler object put into both lists can get here: its one order number serves one.
    index->sound = false;
    return std::find_if(array.begin(), array.end(),
                        [&](const Ref<CCTouchHandler>& h) { return h->delegate() == delegate; });
}

Ref<CCTouchHandler> CCTouchDispatcher::takeHandler(CCTouchHandlerArray& array, Object* delegate) {
    auto it = firstHandlerOf(array, delegate);
    if (it == array.end()) return nullptr;
    Ref<CCTouchHandler> taken = std::move(*it);
    array.erase(it);
    HandlerIndex* index = indexFor(array);
    if (index && index->sound) {
        auto [from, to] = index->byDelegate.equal_range(taken->delegate());
        for (; from != to; ++from) {
            if (from->second == taken.get()) {
                index->byDelegate.erase(from);
                break;
            }
        }
    }
    return taken;
}

void CCTouchDispatcher::forceAddHandler(CCTouchHandler* handler, CCTouchHandlerArray& array) {
    HandlerIndex* index = indexFor(array);
    if (!index || !trust(array, *index)) {
        std::size_t before = 0;
        for (const Ref<CCTouchHandler>& h : array)
            if (h->priority() < handler->priority()) ++before;
        array.insert(array.begin() + static_cast<std::ptrdiff_t>(before), Ref<CCTouchHandler>(handler));
        return;
    }
    // The list is sorted: before every handler of equal or higher priority.
    auto place = std::lower_bound(array.begin(), array.end(), handler->priority(), lowerPriority);
    bool listed = false;
    auto [from, to] = index->byDelegate.equal_range(handler->delegate());
    for (; from != to; ++from)
        listed = listed || from->second == handler;
    array.insert(place, Ref<CCTouchHandler>(handler));
    if (listed) {
        index->sound = false;
        return;
    }
    handler->_order = --lowestOrder_;
    try {
        index->byDelegate.emplace(handler->delegate(), handler);
    } catch (...) {
        index->sound = false;
        throw;
    }
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
    resetIndex(targetedIndex_);
    resetIndex(standardIndex_);
}

void CCTouchDispatcher::removeAllDelegates() {
    if (!locked_)
        forceRemoveAllDelegates();
    else
        toQuit_ = true;
}

CCTouchHandler* CCTouchDispatcher::findHandler(Object* delegate) {
    for (CCTouchHandlerArray* array : {&targetedHandlers_, &standardHandlers_}) {
        auto it = firstHandlerOf(*array, delegate);
        if (it != array->end()) return it->get();
    }
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
    // Sorted, but the equals' order numbers no longer follow the list.
    if (HandlerIndex* index = indexFor(array)) index->sound = false;
}

void CCTouchDispatcher::setPriority(std::int64_t priority, Object* delegate) {
    bool sorted = trust(targetedHandlers_, targetedIndex_) && trust(standardHandlers_, standardIndex_);
    if (!sorted) {
        CCTouchHandler* handler = findHandler(delegate);
        if (!handler) return;
        handler->_priority = priority;
        rearrangeHandlers(targetedHandlers_);
        rearrangeHandlers(standardHandlers_);
        return;
    }
    // Both lists are sorted, so the stable re-sort moves only this handler: coming from a lower
    // priority it goes before its new equals, from a higher one after them.
    for (CCTouchHandlerArray* array : {&targetedHandlers_, &standardHandlers_}) {
        auto it = firstHandlerOf(*array, delegate);
        if (it == array->end()) continue;
        CCTouchHandler* handler = it->get();
        std::int64_t old = handler->_priority;
        if (old == priority) return;
        Ref<CCTouchHandler> moving = std::move(*it);
        array->erase(it);
        handler->_priority = priority;
        CCTouchHandlerArray::iterator place;
        if (old < priority) {
            handler->_order = --lowestOrder_;
            place = std::lower_bound(array->begin(), array->end(), priority, lowerPriority);
        } else {
            handler->_order = ++highestOrder_;
            place = std::upper_bound(array->begin(), array->end(), priority, higherPriority);
        }
        array->insert(place, std::move(moving));
        return;
    }
    // A waiting handler: the lists do not hold it, so the re-sort would move nothing.
    if (CCTouchHandler* handler = findHandler(delegate)) handler->_priority = priority;
}

void CCTouchDispatcher::touches(const TouchSet& touches, Event* event, std::uint32_t touchType) {
    if (touchType >= kCCTouchMax) return;
    // A delegate may feed another event in from its handler: only the outermost dispatch
    // unlocks and applies the changes queued meanwhile.
    bool outer = !locked_;
    locked_ = true;
    try {
        dispatch(touches, event, touchType);
    } catch (...) {
        // A delegate threw: the outermost dispatch still unlocks and makes the changes queued
        // so far, so that a delegate that removed itself hears no more; then pass it on.
        if (outer) {
            locked_ = false;
            applyPendingChanges();
        }
        throw;
    }
    if (!outer) return;
    locked_ = false;
    applyPendingChanges();
}

void CCTouchDispatcher::dispatch(const TouchSet& touches, Event* event, std::uint32_t touchType) {
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
