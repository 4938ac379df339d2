// Property lists (XML and binary) read into an immutable value tree.
//
// PlistValue is a value type over a shared, immutable node: copies are cheap and never
// deep, and a tree read from a file can be handed around freely. A default-made value is the
// null value (a missing key, an index out of range, a failed read); every accessor of the
// null value answers 0, false or empty, so lookups chain without checks, as messages to nil
// did.
//
// Scalars answer the way the platform's number and string objects did: a number stored as a
// string ("0.08") reads as a number, an integer reads as a float where a float is asked, a
// number reads as a string where a string is asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

class PlistValue {
public:
    enum class Type : std::uint8_t { Null, Dictionary, Array, String, Integer, Real, Boolean, Data, Date };
    // A dictionary keeps its keys in file order; a key given twice keeps its first place and
    // its last value.
    using Entries = std::vector<std::pair<std::string, PlistValue>>;
    using Items = std::vector<PlistValue>;

    PlistValue() = default; // the null value

    static PlistValue string(std::string value);
    static PlistValue integer(std::int64_t value);
    static PlistValue real(double value);
    static PlistValue boolean(bool value);
    static PlistValue data(std::vector<std::uint8_t> bytes);
    // Seconds since 2001-01-01 00:00:00 UTC, the property-list epoch.
    static PlistValue date(double secondsSinceReferenceDate);
    static PlistValue array(Items items);
    static PlistValue dictionary(Entries entries);

    // Parses XML (a UTF-8 byte-order mark in front is accepted) or binary property lists.
    // Malformed input gives the null value and, when asked, a reason.
    static PlistValue fromMemory(const void* bytes, std::size_t length, std::string* error = nullptr);
    // The root of the file's property list, or null when it cannot be read or parsed.
    static PlistValue propertyListWithContentsOfFile(const std::filesystem::path& path);
    // The root when it is a dictionary, else null.
    static PlistValue dictionaryWithContentsOfFile(const std::filesystem::path& path);
    // The root when it is an array, else null.
    static PlistValue arrayWithContentsOfFile(const std::filesystem::path& path);

    Type type() const;
    bool isNull() const { return !node_; }
    explicit operator bool() const { return node_ != nullptr; }
    bool isDictionary() const { return type() == Type::Dictionary; }
    bool isArray() const { return type() == Type::Array; }
    bool isString() const { return type() == Type::String; }
    // Integer, real or boolean.
    bool isNumber() const;
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }

    // Numbers as such; strings by their leading decimal text (0 when there is none); anything
    // else 0. intValue saturates at the 32-bit limits, integerValue at the 64-bit ones.
    double doubleValue() const;
    float floatValue() const;
    std::int32_t intValue() const;
    std::int64_t integerValue() const;
    // Numbers: non-zero. Strings: true when they start (after blanks, a sign and zeros) with
    // Y, y, T, t or a digit 1-9.
    bool boolValue() const;
    // Strings as such, numbers in decimal (booleans "1" and "0"); anything else empty.
    std::string stringValue() const;
    // The bytes of a data value; empty for anything else.
    const std::vector<std::uint8_t>& dataValue() const;
    // Seconds since the reference date of a date value; 0 for anything else.
    double dateValue() const;

    // Members of a dictionary or an array; 0 for anything else.
    std::size_t count() const;
    // The value under the key, or null (also for a receiver that is not a dictionary).
    const PlistValue& objectForKey(std::string_view key) const;
    const PlistValue& operator[](std::string_view key) const { return objectForKey(key); }
    bool containsKey(std::string_view key) const;
    // Keys in file order.
    std::vector<std::string> allKeys() const;
    // Empty for anything but a dictionary.
    const Entries& entries() const;
    // The element at the index, or null when out of range or not an array.
    const PlistValue& objectAtIndex(std::size_t index) const;
    const PlistValue& operator[](std::size_t index) const { return objectAtIndex(index); }
    // Empty for anything but an array.
    const Items& items() const;

    // Deep equality; an integer and a real of the same value are equal, as numbers compared.
    bool isEqual(const PlistValue& other) const;
    friend bool operator==(const PlistValue& a, const PlistValue& b) { return a.isEqual(b); }
    // A readable rendering for logs.
    std::string description() const;

    struct Node;

private:
    explicit PlistValue(std::shared_ptr<const Node> node) : node_(std::move(node)) {}
    std::shared_ptr<const Node> node_;
};

// The platform's spelling of the two file readers.
inline PlistValue dictionaryWithContentsOfFile(const std::filesystem::path& path) {
    return PlistValue::dictionaryWithContentsOfFile(path);
}
inline PlistValue arrayWithContentsOfFile(const std::filesystem::path& path) {
    return PlistValue::arrayWithContentsOfFile(path);
}

} // namespace platform
