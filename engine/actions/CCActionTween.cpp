#include "actions/CCActionTween.h"

#include "actions/CCActionVisual.h"
#include "core/CCNode.h"
#include "core/CCProtocols.h"
#include "platform/Exception.h"
#include "platform/Format.h"

#include <unordered_map>
#include <utility>
#include <vector>

using platform::Ref;

namespace {

// Key -> setters in the order they were registered; searched from the latest.
using SetterTable = std::unordered_map<std::string, std::vector<CCKeyValueSetters::Entry>>;

CCKeyValueSetters::Entry nodeSetter(void (CCNode::*setter)(float)) {
    return {[](const platform::Object* o) { return dynamic_cast<const CCNode*>(o) != nullptr; },
            [setter](platform::Object* o, float v) { (dynamic_cast<CCNode*>(o)->*setter)(v); }};
}

SetterTable builtInSetters() {
    SetterTable table;
    table["rotation"].push_back(nodeSetter(&CCNode::setRotation));
    table["rotationX"].push_back(nodeSetter(&CCNode::setRotationX));
    table["rotationY"].push_back(nodeSetter(&CCNode::setRotationY));
    table["scale"].push_back(nodeSetter(&CCNode::setScale));
    table["scaleX"].push_back(nodeSetter(&CCNode::setScaleX));
    table["scaleY"].push_back(nodeSetter(&CCNode::setScaleY));
    table["skewX"].push_back(nodeSetter(&CCNode::setSkewX));
    table["skewY"].push_back(nodeSetter(&CCNode::setSkewY));
    table["vertexZ"].push_back(nodeSetter(&CCNode::setVertexZ));
    table["opacity"].push_back(
        {[](const platform::Object* o) { return dynamic_cast<const CCRGBAProtocol*>(o) != nullptr; },
         [](platform::Object* o, float v) {
             dynamic_cast<CCRGBAProtocol*>(o)->setOpacity(ccTruncatedByte(v));
         }});
    return table;
}

// Made on first use with the engine's own properties in it, so that whatever a game registers
// (in any order of static initialisation) comes after them.
SetterTable& setterTable() {
    static SetterTable table = builtInSetters();
    return table;
}

} // namespace

void CCKeyValueSetters::add(const std::string& key, Entry entry) {
    setterTable()[key].push_back(std::move(entry));
}

CCKeyValueSetters::Entry CCKeyValueSetters::find(const platform::Object* object, const std::string& key) {
    if (!object) return {};
    SetterTable& table = setterTable();
    auto found = table.find(key);
    if (found == table.end()) return {};
    const std::vector<Entry>& entries = found->second;
    for (std::size_t i = entries.size(); i-- > 0;)
        if (entries[i].accepts(object)) return entries[i];
    return {};
}

bool CCKeyValueSetters::respondsToKey(const platform::Object* object, const std::string& key) {
    return static_cast<bool>(find(object, key).set);
}

void CCKeyValueSetters::setValue(platform::Object* object, float value, const std::string& key) {
    if (!object) return;
    // A copy: the setter may register further setters and so move the table's entries.
    Entry entry = find(object, key);
    if (!entry.set)
        throw platform::Exception(
            NSUndefinedKeyException,
            platform::format(
                "[<%s %p> setValue:forUndefinedKey:]: this class is not key value coding-compliant for "
                "the key %s.",
                object->className(), static_cast<const void*>(object), key));
    entry.set(object, value);
}

// ---- CCActionTween ----

Ref<CCActionTween> CCActionTween::actionWithDuration(double duration, const std::string& key, float from,
                                                     float to) {
    return createWith(&CCActionTween::initWithDuration, duration, key, from, to);
}

bool CCActionTween::initWithDuration(double duration, const std::string& key, float from, float to) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _key = key;
    _from = from;
    _to = to;
    return true;
}

Ref<platform::Object> CCActionTween::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCActionTween& a) { return a.initWithDuration(_duration, _key, _from, _to); });
}

void CCActionTween::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    _delta = _to - _from;
}

void CCActionTween::update(double t) {
    if (!_target) return;
    float value = static_cast<float>(_to - (1 - t) * _delta);
    CCKeyValueSetters::setValue(_target, value, _key);
}

Ref<CCFiniteTimeAction> CCActionTween::reverse() const {
    return sameClassWith([&](CCActionTween& a) { return a.initWithDuration(_duration, _key, _to, _from); });
}
