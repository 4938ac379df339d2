#include "actions/CCActionManager.h"

#include "core/CCArray.h"
#include "platform/Exception.h"
#include "platform/Format.h"

#include <cstdlib>
#include <new>

#include <uthash.h>

using platform::Object;
using platform::Ref;

// One per target that has actions, kept in the manager's pool. Memory for the table's buckets
// comes from uthash, whose allocation failure ends the process with status -1.
struct _hashElement {
    ccArray* actions;
    std::uint64_t actionIndex;
    bool currentActionSalvaged;
    bool paused;
    UT_hash_handle hh;
    Object* target;          // retained; the key
    CCAction* currentAction; // not retained, except by a salvage
};

CCActionManager::~CCActionManager() {
    removeAllActions();
}

bool CCActionManager::init() {
    return true;
}

std::string CCActionManager::description() const {
    return platform::format("<%s = %p>", className(), this);
}

_hashElement* CCActionManager::elementFor(const Object* target) const {
    if (!target) return nullptr;
    _hashElement* element = nullptr;
    HASH_FIND_PTR(targets, &target, element);
    return element;
}

void CCActionManager::deleteHashElement(_hashElement* element, bool releaseLater) {
    // Unlink first and release last: the releases may run code that calls back in here.
    HASH_DEL(targets, element);
    ccArray* actions = element->actions;
    Object* target = element->target;
    entries.destroy(element);
    if (actions) {
        for (std::uint64_t i = 0; i < actions->count; ++i)
            static_cast<CCAction*>(actions->items[i])->_listedIn = nullptr;
        objArrayFree(actions);
    }
    if (releaseLater)
        releasedAfterWalk.push_back(platform::Ref<Object>::adopt(target));
    else
        target->release();
}

void CCActionManager::actionAllocWithHashElement(_hashElement* element) {
    if (!element->actions)
        element->actions = objArrayNew(4);
    else if (element->actions->count == element->actions->capacity)
        objArrayDoubleCapacity(element->actions);
}

void CCActionManager::removeActionAtIndex(std::uint64_t index, _hashElement* element) {
    auto* action = static_cast<CCAction*>(element->actions->items[index]);
    if (action == element->currentAction && !element->currentActionSalvaged) {
        action->retain(); // released when its step ends
        element->currentActionSalvaged = true;
    }
    action->_listedIn = nullptr;
    objArrayRemoveObjectAtIndex(element->actions, index);
    // Unsigned on purpose: from 0 it wraps and the stepping loop's increment brings it back.
    if (element->actionIndex >= index) element->actionIndex -= 1;
    if (element->actions->count == 0) {
        if (currentTarget == element)
            currentTargetSalvaged = true;
        else
            deleteHashElement(element);
    }
}

void CCActionManager::pauseTarget(Object* target) {
    if (_hashElement* element = elementFor(target)) element->paused = true;
}

void CCActionManager::resumeTarget(Object* target) {
    if (_hashElement* element = elementFor(target)) element->paused = false;
}

platform::ObjectSet CCActionManager::pauseAllRunningActions() {
    platform::ObjectSet paused(50);
    for (_hashElement* element = targets; element; element = static_cast<_hashElement*>(element->hh.next)) {
        if (!element->paused) {
            element->paused = true;
            paused.add(element->target);
        }
    }
    return paused;
}

void CCActionManager::resumeTargets(const platform::ObjectSet& targetSet) {
    for (const Ref<Object>& target : targetSet)
        resumeTarget(target.get());
}

void CCActionManager::addAction(CCAction* action, CCNode* target, bool paused) {
    CCAssert(action, "Argument action must be non-nil");
    CCAssert(target, "Argument target must be non-nil");
    CCAssert(action->_listedIn != this, "runAction: Action already running");
    Object* key = target;
    _hashElement* element = elementFor(key);
    if (!element) {
        try {
            element = entries.make();
        } catch (const std::bad_alloc&) {
            std::exit(-1); // as the table's own allocation failures do
        }
        element->paused = paused;
        element->target = key;
        key->retain();
        HASH_ADD_PTR(targets, target, element);
    }
    actionAllocWithHashElement(element);
    objArrayAppendObject(element->actions, action);
    action->_listedIn = this;
    action->startWithTarget(target);
}

void CCActionManager::removeAllActions() {
    for (_hashElement* element = targets; element;) {
        auto* next = static_cast<_hashElement*>(element->hh.next);
        removeAllActionsFromTarget(element->target);
        element = next;
    }
}

void CCActionManager::removeAllActionsFromTarget(Object* target) {
    _hashElement* element = elementFor(target);
    if (!element) return;
    if (element->currentAction && !element->currentActionSalvaged &&
        objArrayContainsObject(element->actions, element->currentAction)) {
        element->currentAction->retain();
        element->currentActionSalvaged = true;
    }
    for (std::uint64_t i = 0; i < element->actions->count; ++i)
        static_cast<CCAction*>(element->actions->items[i])->_listedIn = nullptr;
    objArrayRemoveAllObjects(element->actions);
    if (currentTarget == element)
        currentTargetSalvaged = true;
    else
        deleteHashElement(element);
}

void CCActionManager::removeAction(CCAction* action) {
    if (!action) return;
    _hashElement* element = elementFor(action->originalTarget());
    if (!element) return;
    std::uint64_t index = objArrayIndexOfObject(element->actions, action);
    if (index != platform::NSNotFound) removeActionAtIndex(index, element);
}

void CCActionManager::removeActionByTag(std::int64_t tag, Object* target) {
    _hashElement* element = elementFor(target);
    if (!element) return;
    for (std::uint64_t i = 0; i < element->actions->count; ++i) {
        auto* action = static_cast<CCAction*>(element->actions->items[i]);
        if (action->tag() == tag && static_cast<Object*>(action->originalTarget()) == target) {
            removeActionAtIndex(i, element);
            return;
        }
    }
}

CCAction* CCActionManager::getActionByTag(std::int64_t tag, Object* target) const {
    _hashElement* element = elementFor(target);
    if (!element) return nullptr;
    for (std::uint64_t i = 0; i < element->actions->count; ++i) {
        auto* action = static_cast<CCAction*>(element->actions->items[i]);
        if (action->tag() == tag) return action;
    }
    return nullptr;
}

std::uint64_t CCActionManager::numberOfRunningActionsInTarget(Object* target) const {
    _hashElement* element = elementFor(target);
    return element ? element->actions->count : 0;
}

void CCActionManager::settleAfterThrow() {
    if (_hashElement* element = currentTarget) {
        if (CCAction* action = element->currentAction) {
            element->currentAction = nullptr;
            if (element->currentActionSalvaged) action->release();
            element->currentActionSalvaged = false;
        }
        currentTarget = nullptr;
        if (currentTargetSalvaged && element->actions->count == 0) deleteHashElement(element, true);
    }
    currentTarget = nullptr;
    currentTargetSalvaged = false;
    releasedAfterWalk.clear();
}

void CCActionManager::update(double dt) {
    try {
        for (_hashElement* element = targets; element;) {
            currentTarget = element;
            currentTargetSalvaged = false;
            if (!element->paused) {
                for (element->actionIndex = 0; element->actionIndex < element->actions->count;
                     ++element->actionIndex) {
                    CCAction* action = static_cast<CCAction*>(element->actions->items[element->actionIndex]);
                    element->currentAction = action;
                    element->currentActionSalvaged = false;
                    action->step(dt);
                    if (element->currentActionSalvaged) {
                        action->release(); // removed during its step: the salvage's retain
                    } else if (action->isDone()) {
                        action->stop();
                        if (element->currentActionSalvaged) {
                            action->release(); // its own stop removed it
                        } else {
                            // Not current any more, so the removal releases it outright.
                            element->currentAction = nullptr;
                            std::uint64_t index = objArrayIndexOfObject(element->actions, action);
                            if (index != platform::NSNotFound) removeActionAtIndex(index, element);
                        }
                    }
                    element->currentAction = nullptr;
                }
            }
            // Read after the loop, so an entry deleted meanwhile is never followed.
            auto* next = static_cast<_hashElement*>(element->hh.next);
            currentTarget = nullptr;
            if (currentTargetSalvaged && element->actions->count == 0) deleteHashElement(element, true);
            element = next;
        }
    } catch (...) {
        settleAfterThrow();
        throw;
    }
    currentTarget = nullptr;
    // No entry pointer is held any more: the targets may go now.
    releasedAfterWalk.clear();
}
