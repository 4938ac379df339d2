// Keeps the running actions of every target and steps them once a frame. The director
// registers its update with the scheduler at SystemPriority, so actions run before every other
// per-frame callback. Everything runs on the director's thread.
#pragma once

#include "actions/CCAction.h"
#include "core/CCEntryPool.h"
#include "core/CCNode.h"
#include "platform/Collections.h"
#include "platform/Object.h"

#include <cstdint>
#include <string>
#include <vector>

struct _hashElement;

// Targets are keyed by identity and retained while they have actions. Actions may add and
// remove actions (their own included) while they are being stepped. None of the removals sends
// stop; only update stops an action, when it is done.
class CCActionManager : public platform::Object {
public:
    CCActionManager() = default;
    ~CCActionManager() override;

    virtual bool init();
    std::string description() const override;

    // Nothing when the target has no actions (the flag is not remembered for it).
    void pauseTarget(platform::Object* target);
    void resumeTarget(platform::Object* target);
    // Pauses every target that is not paused yet and returns those targets.
    platform::ObjectSet pauseAllRunningActions();
    void resumeTargets(const platform::ObjectSet& targets);

    // Appends the action (retained) to the target's list and starts it on the target at once.
    // `paused` counts only for a target new to the manager. A null action or target, or an
    // action that is already in a list of this manager, throws NSInternalInconsistencyException.
    void addAction(CCAction* action, CCNode* target, bool paused);
    void removeAllActions();
    void removeAllActionsFromTarget(platform::Object* target);
    // Looks the action up in the list of its original target.
    void removeAction(CCAction* action);
    // The first action of the target's list with this tag whose original target is the target.
    void removeActionByTag(std::int64_t tag, platform::Object* target);
    // The first action of the target's list with this tag, whatever its original target; not
    // retained for the caller.
    CCAction* getActionByTag(std::int64_t tag, platform::Object* target) const;
    std::uint64_t numberOfRunningActionsInTarget(platform::Object* target) const;

    // Steps every action of every unpaused target by dt seconds, in table order; stops and
    // removes the actions that are done.
    void update(double dt);

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The shared director's action manager.
    static CCActionManager* sharedManager();

private:
    // With releaseLater, the target's release waits until the update's walk has finished: its
    // destructor may remove the entry the walk goes to next.
    void deleteHashElement(_hashElement* element, bool releaseLater = false);
    // When an action throws, settles the step it interrupted as the walk would have, so that
    // what it removed is let go and its target freed once the game drops it.
    [[gnu::cold]] void settleAfterThrow();
    void actionAllocWithHashElement(_hashElement* element);
    void removeActionAtIndex(std::uint64_t index, _hashElement* element);
    _hashElement* elementFor(const platform::Object* target) const;

    CCEntryPool<_hashElement> entries; // declared first, so that it outlives the entries
    _hashElement* targets = nullptr;
    _hashElement* currentTarget = nullptr;
    bool currentTargetSalvaged = false;
    // Targets whose entries the update's walk deleted, released once the walk is done.
    std::vector<platform::Ref<platform::Object>> releasedAfterWalk;
};
