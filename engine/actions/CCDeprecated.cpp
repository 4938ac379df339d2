// Bodies of the older operation names of the action classes. Each only forwards.
#include "actions/CCActionManager.h"
#include "actions/CCActionVisual.h"
#include "core/CCDirector.h"
#include "graphics/CCAnimation.h"

using platform::Ref;

CCActionManager* CCActionManager::sharedManager() {
    return CCDirector::sharedDirector()->actionManager();
}

namespace {

// The copy the older animate forms play, so the caller's animation keeps its own flag and
// delay. Null for a null animation.
Ref<CCAnimation> animationCopy(CCAnimation* animation, bool restoreOriginalFrame) {
    Ref<CCAnimation> copy = platform::copyOf(animation);
    if (copy) copy->setRestoreOriginalFrame(restoreOriginalFrame);
    return copy;
}

// The duration spread evenly over the frames. An animation without frames keeps its delay:
// dividing by zero would give it an endless delay and its action a duration of NaN, which
// never ends.
Ref<CCAnimation> animationCopy(double duration, CCAnimation* animation, bool restoreOriginalFrame) {
    Ref<CCAnimation> copy = animationCopy(animation, restoreOriginalFrame);
    if (copy && !copy->frames().empty())
        copy->setDelayPerUnit(static_cast<float>(duration / static_cast<double>(copy->frames().size())));
    return copy;
}

} // namespace

Ref<CCAnimate> CCAnimate::actionWithAnimation(CCAnimation* animation, bool restoreOriginalFrame) {
    return actionWithAnimation(animationCopy(animation, restoreOriginalFrame).get());
}

bool CCAnimate::initWithAnimation(CCAnimation* animation, bool restoreOriginalFrame) {
    return initWithAnimation(animationCopy(animation, restoreOriginalFrame).get());
}

Ref<CCAnimate> CCAnimate::actionWithDuration(double duration, CCAnimation* animation,
                                             bool restoreOriginalFrame) {
    return actionWithAnimation(animationCopy(duration, animation, restoreOriginalFrame).get());
}

bool CCAnimate::initWithDuration(double duration, CCAnimation* animation, bool restoreOriginalFrame) {
    return initWithAnimation(animationCopy(duration, animation, restoreOriginalFrame).get());
}
