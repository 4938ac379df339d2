// Ease actions: one interval action (the inner action) run with reshaped time. An ease lasts as
// long as its inner action, maps the progress t it is given through its curve and updates the
// inner action with the result. The curves narrow their arguments to single precision for
// powf, exp2f, sinf and cosf and widen the results back, so they give the same numbers on
// every build (see easeMath below).
#pragma once

#include "actions/CCActionInterval.h"
#include "platform/Object.h"

#include <cstdint>

// The single-precision calls behind every curve. Each narrows its arguments to float, calls the
// float function and widens the result, in one place the optimiser cannot fold into double
// arithmetic (the build also keeps multiply-adds apart).
namespace easeMath {
double powfWide(double base, double exponent);
double exp2fWide(double exponent);
double sinfWide(double radians);
double cosfWide(double radians);
// Single-precision constants the curves use in double arithmetic.
inline constexpr double kPi = static_cast<double>(3.14159265358979323846f);
inline constexpr double kHalfPi = static_cast<double>(1.57079632679489661923f);
} // namespace easeMath

// The ease factories of the receiving class: `Self::actionWithAction(inner)` and, for the eases
// with a parameter (the rate of a rate ease, the period of an elastic one),
// `Self::actionWithAction(inner, parameter)`, each running the initWithAction of that shape on
// a new Self. Null when the initialiser refuses. The inner action may come as a finite-time
// action (what the sequence and spawn factories return); one that is not an interval action is
// refused as a null one is.
template <class Self, class Base> class CCEaseFactory : public CCActionFactory<Self, Base> {
    using Factory = CCActionFactory<Self, Base>;

public:
    static platform::Ref<Self> actionWithAction(CCFiniteTimeAction* action) {
        using Init = typename Factory::template InitOf<Self, CCFiniteTimeAction*>;
        return Factory::createWith(Init(&Self::initWithAction), action);
    }
    static platform::Ref<Self> actionWithAction(CCFiniteTimeAction* action, float parameter) {
        using Init = typename Factory::template InitOf<Self, CCFiniteTimeAction*, float>;
        return Factory::createWith(Init(&Self::initWithAction), action, parameter);
    }
};

// The identity ease, and the base of every other.
class CCActionEase : public CCEaseFactory<CCActionEase, CCActionInterval> {
public:
    CCActionEase() = default;

    // Takes the inner action's duration and retains it. False for a null action or one that is
    // not an interval action.
    virtual bool initWithAction(CCFiniteTimeAction* action);
    // Same class around a copy of the inner action.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // Starts the inner action on the same target.
    void startWithTarget(CCNode* target) override;
    // Stops the inner action first.
    void stop() override;
    // Passes t on unchanged.
    void update(double t) override;
    // Same class around the inner action's reverse; null when the inner action has none.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
    CCActionInterval* inner() const { return _inner.get(); }

protected:
    // The inner action's reverse as an interval action, or null.
    platform::Ref<CCActionInterval> innerReverse() const;

    platform::Ref<CCActionInterval> _inner;
};

// An ease with a rate (the exponent of the power curves).
class CCEaseRateAction : public CCEaseFactory<CCEaseRateAction, CCActionEase> {
public:
    CCEaseRateAction() = default;

    using CCActionEase::initWithAction;
    bool initWithAction(CCFiniteTimeAction* action, float rate);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // Same class around the inner reverse, with rate 1 / rate.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
    float rate() const { return _rate; }
    void setRate(float rate) { _rate = rate; }

protected:
    float _rate = 0;
};

// t^rate.
class CCEaseIn : public CCEaseFactory<CCEaseIn, CCEaseRateAction> {
public:
    void update(double t) override;
    // An ease in with rate 1 / rate (not an ease out).
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

// t^(1 / rate).
class CCEaseOut : public CCEaseFactory<CCEaseOut, CCEaseRateAction> {
public:
    void update(double t) override;
    // An ease out with rate 1 / rate.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

// The ease in over the first half, mirrored over the second.
class CCEaseInOut : public CCEaseFactory<CCEaseInOut, CCEaseRateAction> {
public:
    void update(double t) override;
    // An ease in-out with the same rate.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCEaseExponentialIn : public CCEaseFactory<CCEaseExponentialIn, CCActionEase> {
public:
    void update(double t) override;
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCEaseExponentialOut : public CCEaseFactory<CCEaseExponentialOut, CCActionEase> {
public:
    void update(double t) override;
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCEaseExponentialInOut : public CCEaseFactory<CCEaseExponentialInOut, CCActionEase> {
public:
    void update(double t) override;
};

class CCEaseSineIn : public CCEaseFactory<CCEaseSineIn, CCActionEase> {
public:
    void update(double t) override;
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCEaseSineOut : public CCEaseFactory<CCEaseSineOut, CCActionEase> {
public:
    void update(double t) override;
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCEaseSineInOut : public CCEaseFactory<CCEaseSineInOut, CCActionEase> {
public:
    void update(double t) override;
};

// Power curves of a whole-number order (6 unless set).
class CCEasePolynomial : public CCEaseFactory<CCEasePolynomial, CCActionEase> {
public:
    CCEasePolynomial() = default;

    // Order 6.
    bool initWithAction(CCFiniteTimeAction* action) override;
    // Keeps the order (the generic ease copy would put it back to 6).
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    std::uint64_t polynomialOrder() const { return _polynomialOrder; }
    // Also sets whether the curve has an inflection (odd orders) and the in-out scale
    // 2 x 0.5^(1/n), in single precision.
    void setPolynomialOrder(std::uint64_t order);

protected:
    std::uint64_t _polynomialOrder = 6;
    double _intersetValue = 0;
    bool _hasInflection = false;
};

class CCEasePolynomialIn : public CCEaseFactory<CCEasePolynomialIn, CCEasePolynomial> {
public:
    void update(double t) override;
    // A polynomial out of the same order.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCEasePolynomialOut : public CCEaseFactory<CCEasePolynomialOut, CCEasePolynomial> {
public:
    void update(double t) override;
    // A polynomial in of the same order.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCEasePolynomialInOut : public CCEaseFactory<CCEasePolynomialInOut, CCEasePolynomial> {
public:
    void update(double t) override;
    // A polynomial in-out of the same order.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

// Springy curves with a period (0.3 unless given).
class CCEaseElastic : public CCEaseFactory<CCEaseElastic, CCActionEase> {
public:
    CCEaseElastic() = default;

    // Period 0.3.
    bool initWithAction(CCFiniteTimeAction* action) override;
    bool initWithAction(CCFiniteTimeAction* action, float period);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // None for the bare elastic; the three kinds have their own.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
    float period() const { return _period; }
    void setPeriod(float period) { _period = period; }

protected:
    // A period of 0 would divide by zero; the curve then uses `substitute`, written into the
    // field so later updates and copies see it.
    void replaceZeroPeriod(float substitute);

    float _period = 0;
};

class CCEaseElasticIn : public CCEaseFactory<CCEaseElasticIn, CCEaseElastic> {
public:
    // A period of 0 becomes the default 0.3.
    void update(double t) override;
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCEaseElasticOut : public CCEaseFactory<CCEaseElasticOut, CCEaseElastic> {
public:
    // A period of 0 becomes the default 0.3.
    void update(double t) override;
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCEaseElasticInOut : public CCEaseFactory<CCEaseElasticInOut, CCEaseElastic> {
public:
    // A period of 0 becomes 0.3 x 1.5.
    void update(double t) override;
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

// Curves made of falling parabolas.
class CCEaseBounce : public CCEaseFactory<CCEaseBounce, CCActionEase> {
public:
    // The bouncing curve from 0 to 1 that the three kinds are built from.
    double bounceTime(double t) const;
};

class CCEaseBounceIn : public CCEaseFactory<CCEaseBounceIn, CCEaseBounce> {
public:
    void update(double t) override;
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCEaseBounceOut : public CCEaseFactory<CCEaseBounceOut, CCEaseBounce> {
public:
    void update(double t) override;
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCEaseBounceInOut : public CCEaseFactory<CCEaseBounceInOut, CCEaseBounce> {
public:
    void update(double t) override;
};

// Curves that pull back before they start (in) or overshoot before they settle (out).
class CCEaseBackIn : public CCEaseFactory<CCEaseBackIn, CCActionEase> {
public:
    void update(double t) override;
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCEaseBackOut : public CCEaseFactory<CCEaseBackOut, CCActionEase> {
public:
    void update(double t) override;
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

class CCEaseBackInOut : public CCEaseFactory<CCEaseBackInOut, CCActionEase> {
public:
    void update(double t) override;
};
