#include "platform/Object.h"

#include "platform/Format.h"

#include <cxxabi.h>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace platform {

std::string Object::className() const {
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                     std::free);
    std::string name = status == 0 && demangled ? demangled.get() : mangled;
    // Our own types live in namespace platform; descriptions print the bare class name. Only
    // the qualifiers of the class itself go, not those inside its template arguments.
    auto colon = name.rfind("::", name.find('<'));
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

std::string Object::description() const {
    return format("<%s: %p>", className(), this);
}

Ref<Object> Object::copyWithZone(Zone*) const {
    return nullptr;
}

Ref<Object> Object::copy() const {
    return copyWithZone(nullptr);
}

std::string describe(const Object* object) {
    return object ? object->description() : "(null)";
}

} // namespace platform
