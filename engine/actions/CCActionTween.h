// The property tween: moves any numeric property of its target that can be set by name from one
// value to another over its duration. Setting by name goes through CCKeyValueSetters, a table
// of named float setters per class.
#pragma once

#include "actions/CCActionInterval.h"
#include "platform/Object.h"

#include <functional>
#include <string>

// Raised when an object has no setter for the key it is given.
inline constexpr const char* NSUndefinedKeyException = "NSUndefinedKeyException";

// Named float setters per class: what the tween writes through. A key registered for a class
// serves every object of that class and of its subclasses (found with dynamic_cast); when
// several registrations for one key accept an object, the latest wins, so a subclass may give
// a key of its base a meaning of its own. The node's float properties ("rotation",
// "rotationX", "rotationY", "scale", "scaleX", "scaleY", "skewX", "skewY", "vertexZ") and the
// coloured nodes' "opacity" (the value truncated to a byte) are there from the start; a game
// adds its own:
//     CCKeyValueSetters::registerSetter(&Ship::setThrust, "thrust");
// Everything runs on the director's thread, like the actions that use it.
class CCKeyValueSetters {
public:
    struct Entry {
        std::function<bool(const platform::Object*)> accepts; // the object is of the setter's class
        std::function<void(platform::Object*, float)> set;    // called only on accepted objects
    };

    template <class C> static void registerSetter(void (C::*setter)(float), const std::string& key) {
        registerSetter<C>([setter](C& object, float value) { (object.*setter)(value); }, key);
    }
    template <class C>
    static void registerSetter(std::function<void(C&, float)> setter, const std::string& key) {
        add(key,
            Entry{[](const platform::Object* object) { return dynamic_cast<const C*>(object) != nullptr; },
                  [setter = std::move(setter)](platform::Object* object, float value) {
                      setter(*dynamic_cast<C*>(object), value);
                  }});
    }

    // Whether some class of the object has a setter for the key.
    static bool respondsToKey(const platform::Object* object, const std::string& key);
    // Sets the property. A null object does nothing; an object none of whose classes has the
    // key raises NSUndefinedKeyException.
    static void setValue(platform::Object* object, float value, const std::string& key);

private:
    static void add(const std::string& key, Entry entry);
    // The latest entry for the key that accepts the object, copied out; empty for none.
    static Entry find(const platform::Object* object, const std::string& key);
};

class CCActionTween : public CCActionFactory<CCActionTween, CCActionInterval> {
public:
    // Seconds; the property named `key` goes from `from` to `to`.
    static platform::Ref<CCActionTween> actionWithDuration(double duration, const std::string& key,
                                                           float from, float to);

    CCActionTween() = default;

    virtual bool initWithDuration(double duration, const std::string& key, float from, float to);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    // Works from the end value back, so that t = 1 lands exactly on `to`.
    void update(double t) override;
    // The receiver's class, from and to exchanged.
    platform::Ref<CCFiniteTimeAction> reverse() const override;

    const std::string& key() const { return _key; }
    float from() const { return _from; }
    float to() const { return _to; }

protected:
    std::string _key;
    float _from = 0;
    float _to = 0;
    float _delta = 0; // to - from, worked out at each start
};
