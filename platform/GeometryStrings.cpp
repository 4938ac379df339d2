#include "platform/Geometry.h"

#include <charconv>

namespace {

// A cursor over one geometry string; every step fails the whole parse on a mismatch.
class Reader {
public:
    explicit Reader(const std::string& s) : p_(s.data()), end_(s.data() + s.size()) {}

    bool expect(char c) {
        skipBlanks();
        if (p_ == end_ || *p_ != c) return false;
        ++p_;
        return true;
    }

    bool number(double& out) {
        skipBlanks();
        bool negative = false;
        if (p_ < end_ && (*p_ == '+' || *p_ == '-')) {
            negative = *p_ == '-';
            ++p_;
        }
        if (p_ == end_ || *p_ == '+' || *p_ == '-') return false;
        double v = 0;
        auto [stop, ec] = std::from_chars(p_, end_, v, std::chars_format::general);
        if (ec != std::errc()) return false;
        p_ = stop;
        out = negative ? -v : v;
        return true;
    }

    // "{a,b}"
    bool pair(double& a, double& b) {
        return expect('{') && number(a) && expect(',') && number(b) && expect('}');
    }

private:
    void skipBlanks() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r'))
            ++p_;
    }
    const char* p_;
    const char* end_;
};

} // namespace

CGPoint CGPointFromString(const std::string& s) {
    Reader r(s);
    CGPoint p;
    if (!r.pair(p.x, p.y)) return CGPointZero;
    return p;
}

CGSize CGSizeFromString(const std::string& s) {
    Reader r(s);
    CGSize size;
    if (!r.pair(size.width, size.height)) return CGSizeZero;
    return size;
}

CGRect CGRectFromString(const std::string& s) {
    Reader r(s);
    CGRect rect;
    if (!(r.expect('{') && r.pair(rect.origin.x, rect.origin.y) && r.expect(',') &&
          r.pair(rect.size.width, rect.size.height) && r.expect('}')))
        return CGRectZero;
    return rect;
}
