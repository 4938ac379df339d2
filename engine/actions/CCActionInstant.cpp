#include "actions/CCActionInstant.h"

#include "graphics/CCSprite.h"
#include "platform/Format.h"

using platform::Object;
using platform::Ref;

// ---- CCActionInstant ----

bool CCActionInstant::init() {
    if (!CCFiniteTimeAction::init()) return false;
    _duration = 0;
    return true;
}

Ref<Object> CCActionInstant::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCActionInstant& a) { return a.init(); });
}

bool CCActionInstant::isDone() const {
    return true;
}

void CCActionInstant::step(double) {
    update(1);
}

void CCActionInstant::update(double) {}

Ref<CCFiniteTimeAction> CCActionInstant::reverse() const {
    return platform::copyOf(this);
}

// ---- visibility ----

void CCShow::update(double) {
    if (_target) _target->setVisible(true);
}

Ref<CCFiniteTimeAction> CCShow::reverse() const {
    return CCHide::action();
}

void CCHide::update(double) {
    if (_target) _target->setVisible(false);
}

Ref<CCFiniteTimeAction> CCHide::reverse() const {
    return CCShow::action();
}

void CCToggleVisibility::update(double) {
    if (_target) _target->setVisible(!_target->visible());
}

// ---- flips ----

Ref<CCFlipX> CCFlipX::actionWithFlipX(bool flipX) {
    return createWith(&CCFlipX::initWithFlipX, flipX);
}

bool CCFlipX::initWithFlipX(bool flipX) {
    if (!CCActionInstant::init()) return false;
    _flipX = flipX;
    return true;
}

void CCFlipX::update(double) {
    if (auto* sprite = dynamic_cast<CCSprite*>(_target)) sprite->setFlipX(_flipX);
}

Ref<CCFiniteTimeAction> CCFlipX::reverse() const {
    return actionWithFlipX(!_flipX);
}

Ref<Object> CCFlipX::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCFlipX& a) { return a.initWithFlipX(_flipX); });
}

Ref<CCFlipY> CCFlipY::actionWithFlipY(bool flipY) {
    return createWith(&CCFlipY::initWithFlipY, flipY);
}

bool CCFlipY::initWithFlipY(bool flipY) {
    if (!CCActionInstant::init()) return false;
    _flipY = flipY;
    return true;
}

void CCFlipY::update(double) {
    if (auto* sprite = dynamic_cast<CCSprite*>(_target)) sprite->setFlipY(_flipY);
}

Ref<CCFiniteTimeAction> CCFlipY::reverse() const {
    return actionWithFlipY(!_flipY);
}

Ref<Object> CCFlipY::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCFlipY& a) { return a.initWithFlipY(_flipY); });
}

// ---- CCPlace ----

Ref<CCPlace> CCPlace::actionWithPosition(CGPoint position) {
    return createWith(&CCPlace::initWithPosition, position);
}

bool CCPlace::initWithPosition(CGPoint position) {
    if (!CCActionInstant::init()) return false;
    _position = position;
    return true;
}

void CCPlace::update(double) {
    if (_target) _target->setPosition(_position);
}

Ref<Object> CCPlace::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCPlace& a) { return a.initWithPosition(_position); });
}

// ---- call-func actions ----

Ref<CCCallFunc> CCCallFunc::actionWithTarget(Object* target, platform::Selector<void()> selector) {
    return createWith(&CCCallFunc::initWithTarget, target, std::move(selector));
}

bool CCCallFunc::initWithTarget(Object* target, platform::Selector<void()> selector) {
    if (!CCActionInstant::init()) return false;
    setTargetCallback(target);
    _selector = std::move(selector);
    return true;
}

Ref<Object> CCCallFunc::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCCallFunc& a) { return a.initWithTarget(_targetCallback.get(), _selector); });
}

void CCCallFunc::update(double) {
    execute();
}

std::string CCCallFunc::description() const {
    return platform::format("<%s = %p | Tag = %ld | selector = %s>", className(), this,
                            static_cast<long>(_tag), selectorName());
}

void CCCallFunc::execute() {
    // The call may drop the last other owner of the callback object.
    Ref<Object> callee = _targetCallback;
    if (callee && _selector) _selector(callee.get());
}

std::string CCCallFunc::selectorName() const {
    return _selector.name();
}

Ref<CCCallFuncN> CCCallFuncN::actionWithTarget(Object* target, platform::Selector<void(CCNode*)> selector) {
    return createWith(&CCCallFuncN::initWithTarget, target, std::move(selector));
}

bool CCCallFuncN::initWithTarget(Object* target, platform::Selector<void(CCNode*)> selector) {
    if (!CCActionInstant::init()) return false;
    setTargetCallback(target);
    _selectorN = std::move(selector);
    return true;
}

Ref<Object> CCCallFuncN::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCCallFuncN& a) { return a.initWithTarget(_targetCallback.get(), _selectorN); });
}

void CCCallFuncN::execute() {
    Ref<Object> callee = _targetCallback;
    if (callee && _selectorN) _selectorN(callee.get(), _target);
}

std::string CCCallFuncN::selectorName() const {
    return _selectorN.name();
}

Ref<CCCallFuncND> CCCallFuncND::actionWithTarget(Object* target,
                                                 platform::Selector<void(CCNode*, void*)> selector,
                                                 void* data) {
    return createWith(&CCCallFuncND::initWithTarget, target, std::move(selector), data);
}

bool CCCallFuncND::initWithTarget(Object* target, platform::Selector<void(CCNode*, void*)> selector,
                                  void* data) {
    if (!CCActionInstant::init()) return false;
    setTargetCallback(target);
    _selectorND = std::move(selector);
    _data = data;
    _callbackMethod = _selectorND.thunk();
    return true;
}

Ref<Object> CCCallFuncND::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCCallFuncND& a) { return a.initWithTarget(_targetCallback.get(), _selectorND, _data); });
}

void CCCallFuncND::execute() {
    Ref<Object> callee = _targetCallback;
    if (callee && _callbackMethod) _callbackMethod(callee.get(), _target, _data);
}

std::string CCCallFuncND::selectorName() const {
    return _selectorND.name();
}

Ref<CCCallFuncO> CCCallFuncO::actionWithTarget(Object* target, platform::Selector<void(Object*)> selector,
                                               Object* object) {
    return createWith(&CCCallFuncO::initWithTarget, target, std::move(selector), object);
}

bool CCCallFuncO::initWithTarget(Object* target, platform::Selector<void(Object*)> selector, Object* object) {
    if (!CCActionInstant::init()) return false;
    setTargetCallback(target);
    _selectorO = std::move(selector);
    setObject(object);
    return true;
}

Ref<Object> CCCallFuncO::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCCallFuncO& a) { return a.initWithTarget(_targetCallback.get(), _selectorO, _object.get()); });
}

void CCCallFuncO::execute() {
    Ref<Object> callee = _targetCallback, object = _object;
    if (callee && _selectorO) _selectorO(callee.get(), object.get());
}

std::string CCCallFuncO::selectorName() const {
    return _selectorO.name();
}

// ---- call-block actions ----

Ref<CCCallBlock> CCCallBlock::actionWithBlock(std::function<void()> block) {
    return createWith(&CCCallBlock::initWithBlock, std::move(block));
}

bool CCCallBlock::initWithBlock(std::function<void()> block) {
    if (!CCActionInstant::init()) return false;
    _block = std::move(block);
    return true;
}

Ref<Object> CCCallBlock::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCCallBlock& a) { return a.initWithBlock(_block); });
}

void CCCallBlock::update(double) {
    execute();
}

void CCCallBlock::execute() {
    // Called through a copy: the block may drop this action and with it the stored block.
    if (auto block = _block) block();
}

Ref<CCCallBlockN> CCCallBlockN::actionWithBlock(std::function<void(CCNode*)> block) {
    return createWith(&CCCallBlockN::initWithBlock, std::move(block));
}

bool CCCallBlockN::initWithBlock(std::function<void(CCNode*)> block) {
    if (!CCActionInstant::init()) return false;
    _block = std::move(block);
    return true;
}

Ref<Object> CCCallBlockN::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCCallBlockN& a) { return a.initWithBlock(_block); });
}

void CCCallBlockN::update(double) {
    execute();
}

void CCCallBlockN::execute() {
    if (auto block = _block) block(_target);
}

Ref<CCCallBlockO> CCCallBlockO::actionWithBlock(std::function<void(Object*)> block, Object* object) {
    return createWith(&CCCallBlockO::initWithBlock, std::move(block), object);
}

bool CCCallBlockO::initWithBlock(std::function<void(Object*)> block, Object* object) {
    if (!CCActionInstant::init()) return false;
    _block = std::move(block);
    setObject(object);
    return true;
}

Ref<Object> CCCallBlockO::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCCallBlockO& a) { return a.initWithBlock(_block, _object.get()); });
}

void CCCallBlockO::update(double) {
    execute();
}

void CCCallBlockO::execute() {
    Ref<Object> object = _object;
    if (auto block = _block) block(object.get());
}
