#include "actions/CCAction.h"

#include "platform/Exception.h"
#include "platform/Format.h"

#include <typeinfo>

using platform::Ref;

Ref<CCAction> CCAction::action() {
    Ref<CCAction> a = platform::make<CCAction>();
    if (!a->init()) return nullptr;
    return a;
}

bool CCAction::init() {
    _originalTarget = nullptr;
    _target = nullptr;
    _tag = -1;
    return true;
}

std::string CCAction::description() const {
    return platform::format("<%s = %p | Tag = %ld>", className(), this, static_cast<long>(_tag));
}

Ref<platform::Object> CCAction::copyWithZone(platform::Zone*) const {
    Ref<CCAction> copy = allocSameClass();
    if (!copy->init()) return nullptr;
    copy->setTag(_tag);
    return copy;
}

void CCAction::startWithTarget(CCNode* target) {
    _originalTarget = target;
    _target = target;
}

void CCAction::stop() {
    _target = nullptr;
}

bool CCAction::isDone() const {
    return true;
}

void CCAction::step(double) {}

void CCAction::update(double) {}

Ref<CCAction> CCAction::allocSameClass() const {
    Ref<CCAction> made = allocInstance();
    const CCAction* raw = made.get();
    if (!raw || typeid(*raw) != typeid(*this))
        platform::raiseInconsistency(className() + " must derive through CCActionFactory to be copied");
    return made;
}

Ref<CCAction> CCAction::allocInstance() const {
    return platform::make<CCAction>();
}

Ref<CCFiniteTimeAction> CCFiniteTimeAction::reverse() const {
    return nullptr;
}
