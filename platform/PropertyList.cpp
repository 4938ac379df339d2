#include "platform/PropertyList.h"

#include "platform/Format.h"
#include "platform/Utf16.h"

#include <plist/plist.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <unordered_map>

namespace platform {

namespace {

struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>()(s); }
};
struct KeyEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept { return a == b; }
};

// Deeper nesting than this is not a property list anyone writes; refusing it keeps the
// recursive conversion off the end of the stack.
constexpr int kMaxDepth = 256;
// Larger files are refused before they are read.
constexpr std::uintmax_t kMaxFileSize = 256u * 1024u * 1024u;

const PlistValue kNull;
const PlistValue::Entries kNoEntries;
const PlistValue::Items kNoItems;
const std::vector<std::uint8_t> kNoBytes;

const char* skipBlanks(const char* p, const char* end) {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v'))
        ++p;
    return p;
}

// Where the digits of a string's leading number start: after blanks and one sign.
const char* afterSign(const std::string& s, bool& negative) {
    const char* p = skipBlanks(s.data(), s.data() + s.size());
    negative = p < s.data() + s.size() && *p == '-';
    if (p < s.data() + s.size() && (*p == '+' || *p == '-')) ++p;
    return p;
}

// The leading decimal number of a string, 0 when there is none.
double parseDouble(const std::string& s) {
    bool negative = false;
    const char* p = afterSign(s, negative);
    const char* end = s.data() + s.size();
    if (p == end || *p == '+' || *p == '-') return 0;
    double value = 0;
    auto [stop, ec] = std::from_chars(p, end, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Too large gives infinity, too small zero: find the exponent's sign.
        const char* e = p;
        while (e < stop && *e != 'e' && *e != 'E')
            ++e;
        bool tiny = e + 1 < stop && e[1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (ec != std::errc()) {
        return 0;
    }
    return negative ? -value : value;
}

// The leading decimal integer of a string, saturated at the given limits.
std::int64_t parseInteger(const std::string& s, std::int64_t lo, std::int64_t hi) {
    bool negative = false;
    const char* p = afterSign(s, negative);
    const char* end = s.data() + s.size();
    // Accumulate towards the negative side, which has the larger range.
    std::int64_t value = 0;
    bool overflow = false;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        int digit = *p - '0';
        if (value < (std::numeric_limits<std::int64_t>::min() + digit) / 10) {
            overflow = true;
            continue;
        }
        value = value * 10 - digit;
    }
    if (overflow) return negative ? lo : hi;
    if (!negative) {
        if (value == std::numeric_limits<std::int64_t>::min()) return hi;
        value = -value;
    }
    return value < lo ? lo : value > hi ? hi : value;
}

std::int64_t clampDouble(double v, std::int64_t lo, std::int64_t hi) {
    if (std::isnan(v)) return 0;
    if (v <= static_cast<double>(lo)) return lo;
    if (v >= static_cast<double>(hi)) return hi;
    return static_cast<std::int64_t>(v);
}

std::string formatDouble(double v) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string();
}

} // namespace

struct PlistValue::Node {
    Type type = Type::Null;
    std::int64_t integer = 0;
    double real = 0;
    bool boolean = false;
    std::string string;
    std::vector<std::uint8_t> bytes;
    Entries entries;
    std::unordered_map<std::string, std::size_t, KeyHash, KeyEqual> index;
    Items items;
};

namespace {

// A new node of the type, filled in by the caller before it is shared.
std::shared_ptr<PlistValue::Node> newNode(PlistValue::Type type) {
    auto n = std::make_shared<PlistValue::Node>();
    n->type = type;
    return n;
}

} // namespace

PlistValue PlistValue::string(std::string value) {
    auto n = newNode(Type::String);
    n->string = std::move(value);
    return PlistValue(std::move(n));
}

PlistValue PlistValue::integer(std::int64_t value) {
    auto n = newNode(Type::Integer);
    n->integer = value;
    return PlistValue(std::move(n));
}

PlistValue PlistValue::real(double value) {
    auto n = newNode(Type::Real);
    n->real = value;
    return PlistValue(std::move(n));
}

PlistValue PlistValue::boolean(bool value) {
    auto n = newNode(Type::Boolean);
    n->boolean = value;
    return PlistValue(std::move(n));
}

PlistValue PlistValue::data(std::vector<std::uint8_t> bytes) {
    auto n = newNode(Type::Data);
    n->bytes = std::move(bytes);
    return PlistValue(std::move(n));
}

PlistValue PlistValue::date(double secondsSinceReferenceDate) {
    auto n = newNode(Type::Date);
    n->real = secondsSinceReferenceDate;
    return PlistValue(std::move(n));
}

PlistValue PlistValue::array(Items items) {
    auto n = newNode(Type::Array);
    n->items = std::move(items);
    return PlistValue(std::move(n));
}

PlistValue PlistValue::dictionary(Entries entries) {
    auto n = newNode(Type::Dictionary);
    n->entries.reserve(entries.size());
    for (auto& [key, value] : entries) {
        auto found = n->index.find(key);
        if (found != n->index.end()) {
            n->entries[found->second].second = std::move(value);
            continue;
        }
        n->index.emplace(key, n->entries.size());
        n->entries.emplace_back(std::move(key), std::move(value));
    }
    return PlistValue(std::move(n));
}

namespace {

struct PlistFree {
    void operator()(plist_t p) const noexcept { plist_free(p); }
};
using PlistHandle = std::unique_ptr<void, PlistFree>;

bool convert(plist_t node, int depth, PlistValue& out) {
    if (!node || depth > kMaxDepth) return false;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t b = 0;
        plist_get_bool_val(node, &b);
        out = PlistValue::boolean(b != 0);
        return true;
    }
    case PLIST_UINT:
    case PLIST_UID: {
        // Negative integers come back in two's complement.
        std::uint64_t v = 0;
        if (plist_get_node_type(node) == PLIST_UINT)
            plist_get_uint_val(node, &v);
        else
            plist_get_uid_val(node, &v);
        out = PlistValue::integer(static_cast<std::int64_t>(v));
        return true;
    }
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        out = PlistValue::real(v);
        return true;
    }
    case PLIST_STRING: {
        std::uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        out = PlistValue::string(s ? std::string(s, static_cast<std::size_t>(length)) : std::string());
        return true;
    }
    case PLIST_DATA: {
        std::uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        const auto* b = reinterpret_cast<const std::uint8_t*>(bytes);
        out = PlistValue::data(b ? std::vector<std::uint8_t>(b, b + length) : std::vector<std::uint8_t>());
        return true;
    }
    case PLIST_DATE: {
        std::int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        out = PlistValue::date(static_cast<double>(sec) + static_cast<double>(usec) / 1e6);
        return true;
    }
    case PLIST_ARRAY: {
        std::uint32_t n = plist_array_get_size(node);
        PlistValue::Items items;
        items.reserve(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            PlistValue item;
            if (!convert(plist_array_get_item(node, i), depth + 1, item)) return false;
            items.push_back(std::move(item));
        }
        out = PlistValue::array(std::move(items));
        return true;
    }
    case PLIST_DICT: {
        PlistValue::Entries entries;
        entries.reserve(plist_dict_get_size(node));
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        if (!it) return false;
        bool ok = true;
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value) {
                std::free(key);
                break;
            }
            PlistValue converted;
            if (!key || !convert(value, depth + 1, converted)) {
                std::free(key);
                ok = false;
                break;
            }
            entries.emplace_back(std::string(key), std::move(converted));
            std::free(key);
        }
        std::free(it);
        if (!ok) return false;
        out = PlistValue::dictionary(std::move(entries));
        return true;
    }
    default:
        return false;
    }
}

} // namespace

namespace {

// Binary property lists are read here rather than by the library: their object table is
// offsets and references from the file, and every one of them is checked against the
// buffer before it is followed.
class BinaryReader {
public:
    BinaryReader(const std::uint8_t* data, std::size_t length) : data_(data), length_(length) {}

    bool read(PlistValue& out) {
        constexpr std::size_t headerSize = 8, trailerSize = 32;
        if (length_ < headerSize + trailerSize + 1 || std::memcmp(data_, "bplist00", headerSize) != 0)
            return false;
        const std::uint8_t* trailer = data_ + length_ - trailerSize;
        offsetSize_ = trailer[6];
        refSize_ = trailer[7];
        std::uint64_t count = be(trailer + 8, 8), top = be(trailer + 16, 8), table = be(trailer + 24, 8);
        objectsEnd_ = length_ - trailerSize;
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
        if (count == 0 || top >= count || table < headerSize || table > objectsEnd_) return false;
        if (count > (objectsEnd_ - table) / offsetSize_) return false;
        count_ = count;
        table_ = static_cast<std::size_t>(table);
        // Every node of the result is reached through a reference slot of at least one byte,
        // unless references are shared; sharing that multiplies the tree is refused.
        budget_ = length_;
        onPath_.assign(static_cast<std::size_t>(count), false);
        return object(top, 0, out);
    }

private:
    static std::uint64_t be(const std::uint8_t* p, std::size_t n) {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i)
            v = (v << 8) | p[i];
        return v;
    }

    // The object number in reference slot i of a container whose slots start at pos (checked
    // to lie in the object area before the container is read).
    std::uint64_t reference(std::size_t pos, std::size_t i) const {
        return be(data_ + pos + i * refSize_, refSize_);
    }

    // [pos, pos + n) lies within the object area.
    bool fits(std::size_t pos, std::uint64_t n) const { return pos <= objectsEnd_ && n <= objectsEnd_ - pos; }

    // The element count of a container or a string: the low nibble, or an integer after it.
    bool count(std::uint8_t marker, std::size_t& pos, std::uint64_t& n) const {
        n = marker & 0x0F;
        if (n != 0x0F) return true;
        if (!fits(pos, 1)) return false;
        std::uint8_t intMarker = data_[pos++];
        if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) return false;
        std::size_t size = std::size_t(1) << (intMarker & 0x0F);
        if (!fits(pos, size)) return false;
        n = be(data_ + pos, size);
        pos += size;
        return true;
    }

    bool object(std::uint64_t ref, int depth, PlistValue& out) {
        if (ref >= count_ || depth > kMaxDepth || budget_ == 0) return false;
        --budget_;
        std::size_t r = static_cast<std::size_t>(ref);
        if (onPath_[r]) return false; // a container that holds itself
        std::uint64_t offset = be(data_ + table_ + r * offsetSize_, offsetSize_);
        if (offset < 8 || offset >= objectsEnd_) return false;
        std::size_t pos = static_cast<std::size_t>(offset);
        std::uint8_t marker = data_[pos++];
        std::uint8_t low = marker & 0x0F;
        switch (marker >> 4) {
        case 0x0:
            if (marker == 0x08 || marker == 0x09) {
                out = PlistValue::boolean(marker == 0x09);
                return true;
            }
            return false;
        case 0x1: {
            if (low > 4) return false;
            std::size_t size = std::size_t(1) << low;
            if (!fits(pos, size)) return false;
            // Sixteen-byte integers keep their low half.
            std::uint64_t v = size == 16 ? be(data_ + pos + 8, 8) : be(data_ + pos, size);
            out = PlistValue::integer(static_cast<std::int64_t>(v));
            return true;
        }
        case 0x2:
        case 0x3: {
            if ((marker >> 4) == 0x3 && marker != 0x33) return false;
            if (low != 2 && low != 3) return false;
            std::size_t size = std::size_t(1) << low;
            if (!fits(pos, size)) return false;
            double v;
            if (size == 4) {
                std::uint32_t bits = static_cast<std::uint32_t>(be(data_ + pos, 4));
                float f;
                std::memcpy(&f, &bits, 4);
                v = f;
            } else {
                std::uint64_t bits = be(data_ + pos, 8);
                std::memcpy(&v, &bits, 8);
            }
            out = (marker >> 4) == 0x3 ? PlistValue::date(v) : PlistValue::real(v);
            return true;
        }
        case 0x4:
        case 0x5:
        case 0x7: {
            std::uint64_t n;
            if (!count(marker, pos, n) || !fits(pos, n)) return false;
            const std::uint8_t* p = data_ + pos;
            if ((marker >> 4) == 0x4)
                out = PlistValue::data(std::vector<std::uint8_t>(p, p + n));
            else
                out = PlistValue::string(
                    std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n)));
            return true;
        }
        case 0x6: {
            std::uint64_t n;
            if (!count(marker, pos, n) || n > objectsEnd_ / 2 || !fits(pos, n * 2)) return false;
            out = PlistValue::string(utf16(data_ + pos, static_cast<std::size_t>(n)));
            return true;
        }
        case 0x8: {
            std::size_t size = std::size_t(low) + 1;
            if (size > 8 || !fits(pos, size)) return false;
            out = PlistValue::integer(static_cast<std::int64_t>(be(data_ + pos, size)));
            return true;
        }
        case 0xA:
        case 0xC:
        case 0xD: {
            bool dict = (marker >> 4) == 0xD;
            std::uint64_t n;
            if (!count(marker, pos, n)) return false;
            std::uint64_t slots = dict ? 2 : 1;
            if (n > objectsEnd_ / refSize_ / slots || !fits(pos, n * slots * refSize_)) return false;
            onPath_[r] = true;
            bool ok = dict ? dictionary(pos, static_cast<std::size_t>(n), depth, out)
                           : array(pos, static_cast<std::size_t>(n), depth, out);
            onPath_[r] = false;
            return ok;
        }
        default:
            return false;
        }
    }

    bool array(std::size_t pos, std::size_t n, int depth, PlistValue& out) {
        PlistValue::Items items;
        items.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            PlistValue item;
            if (!object(reference(pos, i), depth + 1, item)) return false;
            items.push_back(std::move(item));
        }
        out = PlistValue::array(std::move(items));
        return true;
    }

    bool dictionary(std::size_t pos, std::size_t n, int depth, PlistValue& out) {
        PlistValue::Entries entries;
        entries.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            PlistValue key, value;
            if (!object(reference(pos, i), depth + 1, key) || !key.isString()) return false;
            if (!object(reference(pos, n + i), depth + 1, value)) return false;
            entries.emplace_back(key.stringValue(), std::move(value));
        }
        out = PlistValue::dictionary(std::move(entries));
        return true;
    }

    // Big-endian UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
    static std::string utf16(const std::uint8_t* p, std::size_t units) {
        std::u16string text(units, u'\0');
        for (std::size_t i = 0; i < units; ++i)
            text[i] = static_cast<char16_t>((p[2 * i] << 8) | p[2 * i + 1]);
        return utf8FromUTF16(text);
    }

    const std::uint8_t* data_;
    std::size_t length_;
    std::size_t objectsEnd_ = 0;
    std::size_t table_ = 0;
    std::uint64_t count_ = 0;
    std::size_t offsetSize_ = 0, refSize_ = 0;
    std::size_t budget_ = 0;
    std::vector<bool> onPath_;
};

} // namespace

PlistValue PlistValue::fromMemory(const void* bytes, std::size_t length, std::string* error) {
    auto fail = [&](const char* reason) {
        if (error) *error = reason;
        return PlistValue();
    };
    const char* p = static_cast<const char*>(bytes);
    if (!p || length == 0) return fail("empty property list");
    if (length >= 6 && std::memcmp(p, "bplist", 6) == 0) {
        PlistValue out;
        if (!BinaryReader(reinterpret_cast<const std::uint8_t*>(p), length).read(out))
            return fail("damaged binary property list");
        if (error) error->clear();
        return out;
    }
    // The library refuses a byte-order mark in front of the XML; drop it.
    if (length >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) {
        p += 3;
        length -= 3;
    }
    if (length == 0 || length > std::numeric_limits<std::uint32_t>::max())
        return fail("property list size out of range");
    // XML text holds no NUL; the library would carry one into a key it later asserts on.
    if (std::memchr(p, 0, length)) return fail("not a property list");
    plist_t root = nullptr;
    plist_from_xml(p, static_cast<std::uint32_t>(length), &root);
    PlistHandle handle(root);
    if (!root) return fail("not a property list");
    PlistValue out;
    if (!convert(root, 0, out)) return fail("property list holds values that cannot be read");
    if (error) error->clear();
    return out;
}

PlistValue PlistValue::propertyListWithContentsOfFile(const std::filesystem::path& path) {
    std::error_code ec;
    std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size == 0 || size > kMaxFileSize) return {};
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    if (in.gcount() != static_cast<std::streamsize>(size)) return {};
    return fromMemory(bytes.data(), bytes.size());
}

PlistValue PlistValue::dictionaryWithContentsOfFile(const std::filesystem::path& path) {
    PlistValue v = propertyListWithContentsOfFile(path);
    return v.isDictionary() ? v : PlistValue();
}

PlistValue PlistValue::arrayWithContentsOfFile(const std::filesystem::path& path) {
    PlistValue v = propertyListWithContentsOfFile(path);
    return v.isArray() ? v : PlistValue();
}

PlistValue::Type PlistValue::type() const {
    return node_ ? node_->type : Type::Null;
}

bool PlistValue::isNumber() const {
    Type t = type();
    return t == Type::Integer || t == Type::Real || t == Type::Boolean;
}

double PlistValue::doubleValue() const {
    switch (type()) {
    case Type::Integer:
        return static_cast<double>(node_->integer);
    case Type::Real:
        return node_->real;
    case Type::Boolean:
        return node_->boolean ? 1.0 : 0.0;
    case Type::String:
        return parseDouble(node_->string);
    default:
        return 0;
    }
}

float PlistValue::floatValue() const {
    return static_cast<float>(doubleValue());
}

std::int32_t PlistValue::intValue() const {
    constexpr std::int64_t lo = INT32_MIN, hi = INT32_MAX;
    switch (type()) {
    case Type::Integer:
        return static_cast<std::int32_t>(std::clamp(node_->integer, lo, hi));
    case Type::Real:
        return static_cast<std::int32_t>(clampDouble(node_->real, lo, hi));
    case Type::Boolean:
        return node_->boolean ? 1 : 0;
    case Type::String:
        return static_cast<std::int32_t>(parseInteger(node_->string, lo, hi));
    default:
        return 0;
    }
}

std::int64_t PlistValue::integerValue() const {
    constexpr std::int64_t lo = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t hi = std::numeric_limits<std::int64_t>::max();
    switch (type()) {
    case Type::Integer:
        return node_->integer;
    case Type::Real:
        return clampDouble(node_->real, lo, hi);
    case Type::Boolean:
        return node_->boolean ? 1 : 0;
    case Type::String:
        return parseInteger(node_->string, lo, hi);
    default:
        return 0;
    }
}

bool PlistValue::boolValue() const {
    switch (type()) {
    case Type::Integer:
        return node_->integer != 0;
    case Type::Real:
        return node_->real != 0;
    case Type::Boolean:
        return node_->boolean;
    case Type::String: {
        const std::string& s = node_->string;
        bool negative = false;
        const char* p = afterSign(s, negative);
        const char* end = s.data() + s.size();
        while (p < end && *p == '0')
            ++p;
        return p < end && (*p == 'Y' || *p == 'y' || *p == 'T' || *p == 't' || (*p >= '1' && *p <= '9'));
    }
    default:
        return false;
    }
}

std::string PlistValue::stringValue() const {
    switch (type()) {
    case Type::String:
        return node_->string;
    case Type::Integer:
        return std::to_string(node_->integer);
    case Type::Real:
        return formatDouble(node_->real);
    case Type::Boolean:
        return node_->boolean ? "1" : "0";
    default:
        return {};
    }
}

const std::vector<std::uint8_t>& PlistValue::dataValue() const {
    return type() == Type::Data ? node_->bytes : kNoBytes;
}

double PlistValue::dateValue() const {
    return type() == Type::Date ? node_->real : 0;
}

std::size_t PlistValue::count() const {
    switch (type()) {
    case Type::Dictionary:
        return node_->entries.size();
    case Type::Array:
        return node_->items.size();
    default:
        return 0;
    }
}

const PlistValue& PlistValue::objectForKey(std::string_view key) const {
    if (type() != Type::Dictionary) return kNull;
    auto found = node_->index.find(key);
    return found == node_->index.end() ? kNull : node_->entries[found->second].second;
}

bool PlistValue::containsKey(std::string_view key) const {
    return type() == Type::Dictionary && node_->index.find(key) != node_->index.end();
}

std::vector<std::string> PlistValue::allKeys() const {
    std::vector<std::string> keys;
    for (const auto& entry : entries())
        keys.push_back(entry.first);
    return keys;
}

const PlistValue::Entries& PlistValue::entries() const {
    return type() == Type::Dictionary ? node_->entries : kNoEntries;
}

const PlistValue& PlistValue::objectAtIndex(std::size_t index) const {
    if (type() != Type::Array || index >= node_->items.size()) return kNull;
    return node_->items[index];
}

const PlistValue::Items& PlistValue::items() const {
    return type() == Type::Array ? node_->items : kNoItems;
}

bool PlistValue::isEqual(const PlistValue& other) const {
    if (node_ == other.node_) return true;
    Type a = type(), b = other.type();
    bool numberA = a == Type::Integer || a == Type::Real, numberB = b == Type::Integer || b == Type::Real;
    if (numberA && numberB) {
        if (a == Type::Integer && b == Type::Integer) return node_->integer == other.node_->integer;
        return doubleValue() == other.doubleValue();
    }
    if (a != b) return false;
    switch (a) {
    case Type::Null:
        return true;
    case Type::String:
        return node_->string == other.node_->string;
    case Type::Boolean:
        return node_->boolean == other.node_->boolean;
    case Type::Data:
        return node_->bytes == other.node_->bytes;
    case Type::Date:
        return node_->real == other.node_->real;
    case Type::Array:
        return node_->items == other.node_->items;
    case Type::Dictionary: {
        if (node_->entries.size() != other.node_->entries.size()) return false;
        for (const auto& [key, value] : node_->entries) {
            if (!other.containsKey(key) || !(other.objectForKey(key) == value)) return false;
        }
        return true;
    }
    default:
        return false;
    }
}

std::string PlistValue::description() const {
    switch (type()) {
    case Type::Null:
        return "(null)";
    case Type::String:
        return "\"" + node_->string + "\"";
    case Type::Integer:
    case Type::Real:
    case Type::Boolean:
        return stringValue();
    case Type::Data:
        return format("<data, %zu bytes>", node_->bytes.size());
    case Type::Date:
        return format("<date %.3f>", node_->real);
    case Type::Array: {
        std::string s = "(";
        for (std::size_t i = 0; i < node_->items.size(); ++i)
            s += (i ? ", " : "") + node_->items[i].description();
        return s + ")";
    }
    case Type::Dictionary: {
        std::string s = "{";
        bool first = true;
        for (const auto& [key, value] : node_->entries) {
            s += (first ? "" : "; ") + key + " = " + value.description();
            first = false;
        }
        return s + "}";
    }
    }
    return {};
}

} // namespace platform
