// Actions that do their whole work in one step: show, hide or toggle a node, flip a sprite,
// place a node, or call back into the game. Duration 0; inside a sequence they mark a point in
// time and run once when the sequence reaches it.
#pragma once

#include "actions/CCAction.h"
#include "core/CCNode.h"
#include "platform/Geometry.h"
#include "platform/Object.h"
#include "platform/Selector.h"

#include <functional>
#include <string>

class CCActionInstant : public CCActionFactory<CCActionInstant, CCFiniteTimeAction> {
public:
    CCActionInstant() = default;

    // Tag -1, duration exactly 0.
    bool init() override;
    // A new action of the receiver's class made with init; no tag. Members with configuration
    // copy it on top.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // Always.
    bool isDone() const override;
    // update(1), whatever dt.
    void step(double dt) override;
    // Nothing here; members do their work here.
    void update(double t) override;
    // A copy of this action.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCShow : public CCActionFactory<CCShow, CCActionInstant> {
public:
    void update(double t) override;
    // A CCHide.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCHide : public CCActionFactory<CCHide, CCActionInstant> {
public:
    void update(double t) override;
    // A CCShow.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCToggleVisibility : public CCActionFactory<CCToggleVisibility, CCActionInstant> {
public:
    void update(double t) override;
};

// Sets a sprite's horizontal flip; a target that is not a sprite is left alone.
class CCFlipX : public CCActionFactory<CCFlipX, CCActionInstant> {
public:
    static platform::Ref<CCFlipX> actionWithFlipX(bool flipX);

    bool initWithFlipX(bool flipX);
    void update(double t) override;
    // The opposite flip.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;

protected:
    bool _flipX = false;
};

// Sets a sprite's vertical flip; a target that is not a sprite is left alone.
class CCFlipY : public CCActionFactory<CCFlipY, CCActionInstant> {
public:
    static platform::Ref<CCFlipY> actionWithFlipY(bool flipY);

    bool initWithFlipY(bool flipY);
    void update(double t) override;
    // The opposite flip.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;

protected:
    bool _flipY = false;
};

// Moves the node to a point in its parent's space.
class CCPlace : public CCActionFactory<CCPlace, CCActionInstant> {
public:
    static platform::Ref<CCPlace> actionWithPosition(CGPoint position);

    bool initWithPosition(CGPoint position);
    void update(double t) override;
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;

protected:
    CGPoint _position{};
};

// Sends a selector without arguments to a callback object, which the action retains.
class CCCallFunc : public CCActionFactory<CCCallFunc, CCActionInstant> {
public:
    static platform::Ref<CCCallFunc> actionWithTarget(platform::Object* target,
                                                      platform::Selector<void()> selector);

    bool initWithTarget(platform::Object* target, platform::Selector<void()> selector);
    // Same callback object and selector.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void update(double t) override;

    // "<CCCallFunc = 0x... | Tag = -1 | selector = onDone>"
    std::string description() const override;
    // Makes the call; nothing without a callback object or selector.
    virtual void execute();
    platform::Object* targetCallback() const { return _targetCallback.get(); }
    void setTargetCallback(platform::Object* target) { _targetCallback = target; }

protected:
    // The name of whichever selector this form calls.
    virtual std::string selectorName() const;

    platform::Ref<platform::Object> _targetCallback;
    platform::Selector<void()> _selector;
};

// Sends a selector to the callback object with the node the action runs on.
class CCCallFuncN : public CCActionFactory<CCCallFuncN, CCCallFunc> {
public:
    static platform::Ref<CCCallFuncN> actionWithTarget(platform::Object* target,
                                                       platform::Selector<void(CCNode*)> selector);

    bool initWithTarget(platform::Object* target, platform::Selector<void(CCNode*)> selector);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void execute() override;

protected:
    std::string selectorName() const override;

    platform::Selector<void(CCNode*)> _selectorN;
};

// Calls the selector's method, looked up once, with the node and a data pointer that the action
// neither retains nor frees.
class CCCallFuncND : public CCActionFactory<CCCallFuncND, CCCallFuncN> {
public:
    using Method = platform::Selector<void(CCNode*, void*)>::Thunk;

    static platform::Ref<CCCallFuncND>
    actionWithTarget(platform::Object* target, platform::Selector<void(CCNode*, void*)> selector, void* data);

    bool initWithTarget(platform::Object* target, platform::Selector<void(CCNode*, void*)> selector,
                        void* data);
    // Same callback object, selector and data; the copy looks the method up again.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void execute() override;
    Method callbackMethod() const { return _callbackMethod; }
    void setCallbackMethod(Method method) { _callbackMethod = method; }

    void* data() const { return _data; }

protected:
    std::string selectorName() const override;

    platform::Selector<void(CCNode*, void*)> _selectorND;
    void* _data = nullptr;
    Method _callbackMethod = nullptr;
};

// Sends a selector to the callback object with an object the action retains.
class CCCallFuncO : public CCActionFactory<CCCallFuncO, CCCallFunc> {
public:
    static platform::Ref<CCCallFuncO> actionWithTarget(platform::Object* target,
                                                       platform::Selector<void(platform::Object*)> selector,
                                                       platform::Object* object);

    bool initWithTarget(platform::Object* target, platform::Selector<void(platform::Object*)> selector,
                        platform::Object* object);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void execute() override;
    platform::Object* object() const { return _object.get(); }
    void setObject(platform::Object* object) { _object = object; }

protected:
    std::string selectorName() const override;

    platform::Selector<void(platform::Object*)> _selectorO;
    platform::Ref<platform::Object> _object;
};

// Calls a block; the action owns a copy of it.
class CCCallBlock : public CCActionFactory<CCCallBlock, CCActionInstant> {
public:
    static platform::Ref<CCCallBlock> actionWithBlock(std::function<void()> block);

    bool initWithBlock(std::function<void()> block);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void update(double t) override;
    virtual void execute();

protected:
    std::function<void()> _block;
};

// Calls a block with the node the action runs on.
class CCCallBlockN : public CCActionFactory<CCCallBlockN, CCActionInstant> {
public:
    static platform::Ref<CCCallBlockN> actionWithBlock(std::function<void(CCNode*)> block);

    bool initWithBlock(std::function<void(CCNode*)> block);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void update(double t) override;
    virtual void execute();

protected:
    std::function<void(CCNode*)> _block;
};

// Calls a block with an object the action retains.
class CCCallBlockO : public CCActionFactory<CCCallBlockO, CCActionInstant> {
public:
    static platform::Ref<CCCallBlockO> actionWithBlock(std::function<void(platform::Object*)> block,
                                                       platform::Object* object);

    bool initWithBlock(std::function<void(platform::Object*)> block, platform::Object* object);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void update(double t) override;
    virtual void execute();
    platform::Object* object() const { return _object.get(); }
    void setObject(platform::Object* object) { _object = object; }

protected:
    std::function<void(platform::Object*)> _block;
    platform::Ref<platform::Object> _object;
};
