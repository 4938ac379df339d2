#include "actions/CCActionEase.h"

#include <cmath>

using platform::Ref;

// ---- single-precision helpers ----
//
// Kept out of line and free of any arithmetic but the narrowing, so that every curve does its
// own arithmetic in double exactly as written and only the function call itself is in float.

namespace easeMath {

double powfWide(double base, double exponent) {
    return static_cast<double>(::powf(static_cast<float>(base), static_cast<float>(exponent)));
}

double exp2fWide(double exponent) {
    return static_cast<double>(::exp2f(static_cast<float>(exponent)));
}

double sinfWide(double radians) {
    return static_cast<double>(::sinf(static_cast<float>(radians)));
}

double cosfWide(double radians) {
    return static_cast<double>(::cosf(static_cast<float>(radians)));
}

} // namespace easeMath

using easeMath::cosfWide;
using easeMath::exp2fWide;
using easeMath::kHalfPi;
using easeMath::kPi;
using easeMath::powfWide;
using easeMath::sinfWide;

namespace {

// The back curves' overshoot 1.70158 and the values built from it, in single precision.
constexpr double kBack = static_cast<double>(1.70158f);
constexpr double kBackPlusOne = static_cast<double>(2.70158f);
constexpr double kBackInOut = static_cast<double>(2.5949094f);
constexpr double kBackInOutPlusOne = static_cast<double>(3.5949094f);

constexpr float kDefaultPeriod = 0.3f;

// The new ease of the given kind around `inner` (already reversed); null when there is none.
template <class T, class... Extra>
Ref<CCFiniteTimeAction> easeAround(CCActionInterval* inner, Extra... extra) {
    if (!inner) return nullptr;
    return T::actionWithAction(inner, extra...);
}

} // namespace

// ---- CCActionEase ----

bool CCActionEase::initWithAction(CCFiniteTimeAction* action) {
    auto* interval = dynamic_cast<CCActionInterval*>(action);
    if (!interval) return false;
    if (!CCActionInterval::initWithDuration(interval->duration())) return false;
    _inner = interval;
    return true;
}

Ref<platform::Object> CCActionEase::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCActionEase& a) { return a.initWithAction(platform::copyOf(_inner.get()).get()); });
}

void CCActionEase::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    _inner->startWithTarget(_target);
}

void CCActionEase::stop() {
    _inner->stop();
    CCActionInterval::stop();
}

void CCActionEase::update(double t) {
    _inner->update(t);
}

Ref<CCActionInterval> CCActionEase::innerReverse() const {
    Ref<CCFiniteTimeAction> reversed = _inner->reverse();
    // A reverse that is not an interval action (an instant one) cannot be eased.
    return Ref<CCActionInterval>(dynamic_cast<CCActionInterval*>(reversed.get()));
}

Ref<CCFiniteTimeAction> CCActionEase::reverse() const {
    Ref<CCActionInterval> inner = innerReverse();
    if (!inner) return nullptr;
    return sameClassWith([&](CCActionEase& a) { return a.initWithAction(inner.get()); });
}

// ---- CCEaseRateAction ----

bool CCEaseRateAction::initWithAction(CCFiniteTimeAction* action, float rate) {
    if (!CCActionEase::initWithAction(action)) return false;
    setRate(rate);
    return true;
}

Ref<platform::Object> CCEaseRateAction::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCEaseRateAction& a) { return a.initWithAction(platform::copyOf(_inner.get()).get(), _rate); });
}

Ref<CCFiniteTimeAction> CCEaseRateAction::reverse() const {
    Ref<CCActionInterval> inner = innerReverse();
    if (!inner) return nullptr;
    return sameClassWith([&](CCEaseRateAction& a) { return a.initWithAction(inner.get(), 1 / _rate); });
}

// ---- power curves ----

void CCEaseIn::update(double t) {
    _inner->update(powfWide(t, _rate));
}

Ref<CCFiniteTimeAction> CCEaseIn::reverse() const {
    return easeAround<CCEaseIn>(innerReverse().get(), 1 / _rate);
}

void CCEaseOut::update(double t) {
    _inner->update(powfWide(t, 1 / _rate));
}

Ref<CCFiniteTimeAction> CCEaseOut::reverse() const {
    return easeAround<CCEaseOut>(innerReverse().get(), 1 / _rate);
}

void CCEaseInOut::update(double t) {
    double u = t * 2;
    if (u < 1)
        _inner->update(0.5 * powfWide(u, _rate));
    else
        _inner->update(1.0 - 0.5 * powfWide(2 - u, _rate));
}

Ref<CCFiniteTimeAction> CCEaseInOut::reverse() const {
    return easeAround<CCEaseInOut>(innerReverse().get(), _rate);
}

// ---- exponential ----

void CCEaseExponentialIn::update(double t) {
    _inner->update(t == 0 ? 0.0 : exp2fWide(10 * (t - 1)));
}

Ref<CCFiniteTimeAction> CCEaseExponentialIn::reverse() const {
    return easeAround<CCEaseExponentialOut>(innerReverse().get());
}

void CCEaseExponentialOut::update(double t) {
    _inner->update(t == 1 ? 1.0 : 1 - exp2fWide(-10 * t));
}

Ref<CCFiniteTimeAction> CCEaseExponentialOut::reverse() const {
    return easeAround<CCEaseExponentialIn>(innerReverse().get());
}

void CCEaseExponentialInOut::update(double t) {
    if (t == 0 || t == 1) {
        _inner->update(t);
        return;
    }
    double twice = t * 2;
    double u = twice - 1;
    if (twice < 1)
        _inner->update(0.5 * exp2fWide(10 * u));
    else
        _inner->update(0.5 * (2 - exp2fWide(-10 * u)));
}

// ---- sine ----

void CCEaseSineIn::update(double t) {
    _inner->update(1 - cosfWide(t * kHalfPi));
}

Ref<CCFiniteTimeAction> CCEaseSineIn::reverse() const {
    return easeAround<CCEaseSineOut>(innerReverse().get());
}

void CCEaseSineOut::update(double t) {
    _inner->update(sinfWide(t * kHalfPi));
}

Ref<CCFiniteTimeAction> CCEaseSineOut::reverse() const {
    return easeAround<CCEaseSineIn>(innerReverse().get());
}

void CCEaseSineInOut::update(double t) {
    _inner->update(-0.5 * (cosfWide(kPi * t) - 1));
}

// ---- polynomial ----

bool CCEasePolynomial::initWithAction(CCFiniteTimeAction* action) {
    if (!CCActionEase::initWithAction(action)) return false;
    _polynomialOrder = 6;
    _hasInflection = false;
    _intersetValue = 1.7817974090576172; // 2 x 0.5^(1/6) in single precision
    return true;
}

Ref<platform::Object> CCEasePolynomial::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCEasePolynomial& a) {
        if (!a.initWithAction(platform::copyOf(_inner.get()).get())) return false;
        if (_polynomialOrder != 6) a.setPolynomialOrder(_polynomialOrder);
        return true;
    });
}

void CCEasePolynomial::setPolynomialOrder(std::uint64_t order) {
    _polynomialOrder = order;
    _hasInflection = order % 2 == 1;
    float n = static_cast<float>(order);
    _intersetValue = static_cast<double>(2.0f * ::powf(0.5f, 1.0f / n));
}

namespace {

// The out half of the polynomial curves: (t - 1)^n brought back to end at 1.
double polynomialOutTail(double scaled, std::uint64_t order, bool hasInflection) {
    double v = powfWide(scaled, static_cast<double>(static_cast<float>(order)));
    return hasInflection ? v + 1 : 1 - v;
}

// The opposite or same polynomial kind around `inner`, keeping the order.
template <class T> Ref<CCFiniteTimeAction> polynomialAround(CCActionInterval* inner, std::uint64_t order) {
    if (!inner) return nullptr;
    Ref<T> made = T::actionWithAction(inner);
    if (made && order != 6) made->setPolynomialOrder(order);
    return made;
}

} // namespace

void CCEasePolynomialIn::update(double t) {
    _inner->update(powfWide(t, static_cast<double>(static_cast<float>(_polynomialOrder))));
}

Ref<CCFiniteTimeAction> CCEasePolynomialIn::reverse() const {
    return polynomialAround<CCEasePolynomialOut>(innerReverse().get(), _polynomialOrder);
}

void CCEasePolynomialOut::update(double t) {
    _inner->update(polynomialOutTail(t - 1, _polynomialOrder, _hasInflection));
}

Ref<CCFiniteTimeAction> CCEasePolynomialOut::reverse() const {
    return polynomialAround<CCEasePolynomialIn>(innerReverse().get(), _polynomialOrder);
}

void CCEasePolynomialInOut::update(double t) {
    if (t < 0.5)
        _inner->update(
            powfWide(_intersetValue * t, static_cast<double>(static_cast<float>(_polynomialOrder))));
    else
        _inner->update(polynomialOutTail((t - 1) * _intersetValue, _polynomialOrder, _hasInflection));
}

Ref<CCFiniteTimeAction> CCEasePolynomialInOut::reverse() const {
    return polynomialAround<CCEasePolynomialInOut>(innerReverse().get(), _polynomialOrder);
}

// ---- elastic ----

bool CCEaseElastic::initWithAction(CCFiniteTimeAction* action) {
    return initWithAction(action, kDefaultPeriod);
}

bool CCEaseElastic::initWithAction(CCFiniteTimeAction* action, float period) {
    if (!CCActionEase::initWithAction(action)) return false;
    _period = period;
    return true;
}

Ref<platform::Object> CCEaseElastic::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCEaseElastic& a) { return a.initWithAction(platform::copyOf(_inner.get()).get(), _period); });
}

Ref<CCFiniteTimeAction> CCEaseElastic::reverse() const {
    return nullptr;
}

void CCEaseElastic::replaceZeroPeriod(float substitute) {
    if (_period == 0) _period = substitute;
}

void CCEaseElasticIn::update(double t) {
    if (t == 0 || t == 1) {
        _inner->update(t);
        return;
    }
    replaceZeroPeriod(kDefaultPeriod);
    float s = _period / 4;
    double u = t - 1;
    _inner->update(-exp2fWide(10 * u) * sinfWide((u - s) * (kPi * 2) / _period));
}

Ref<CCFiniteTimeAction> CCEaseElasticIn::reverse() const {
    return easeAround<CCEaseElasticOut>(innerReverse().get(), _period);
}

void CCEaseElasticOut::update(double t) {
    if (t == 0 || t == 1) {
        _inner->update(t);
        return;
    }
    replaceZeroPeriod(kDefaultPeriod);
    float s = _period / 4;
    _inner->update(exp2fWide(-10 * t) * sinfWide((t - s) * (kPi * 2) / _period) + 1);
}

Ref<CCFiniteTimeAction> CCEaseElasticOut::reverse() const {
    return easeAround<CCEaseElasticIn>(innerReverse().get(), _period);
}

void CCEaseElasticInOut::update(double t) {
    if (t == 0 || t == 1) {
        _inner->update(t);
        return;
    }
    replaceZeroPeriod(kDefaultPeriod * 1.5f);
    float s = _period / 4;
    double u = t * 2 - 1;
    double wave = sinfWide((u - s) * (kPi * 2) / _period);
    if (u < 0)
        _inner->update(-0.5 * exp2fWide(10 * u) * wave);
    else
        _inner->update(0.5 * exp2fWide(-10 * u) * wave + 1);
}

Ref<CCFiniteTimeAction> CCEaseElasticInOut::reverse() const {
    return easeAround<CCEaseElasticInOut>(innerReverse().get(), _period);
}

// ---- bounce ----

double CCEaseBounce::bounceTime(double t) const {
    constexpr double k = 7.5625;
    if (t < 1 / 2.75) return k * t * t;
    if (t < 2 / 2.75) {
        double u = t - static_cast<double>(1.5f / 2.75f);
        return k * u * u + 0.75;
    }
    if (t < 2.5 / 2.75) {
        double u = t - static_cast<double>(2.25f / 2.75f);
        return k * u * u + 0.9375;
    }
    double u = t - static_cast<double>(2.625f / 2.75f);
    return k * u * u + 0.984375;
}

void CCEaseBounceIn::update(double t) {
    _inner->update(t == 0 || t == 1 ? t : 1 - bounceTime(1 - t));
}

Ref<CCFiniteTimeAction> CCEaseBounceIn::reverse() const {
    return easeAround<CCEaseBounceOut>(innerReverse().get());
}

void CCEaseBounceOut::update(double t) {
    _inner->update(t == 0 || t == 1 ? t : bounceTime(t));
}

Ref<CCFiniteTimeAction> CCEaseBounceOut::reverse() const {
    return easeAround<CCEaseBounceIn>(innerReverse().get());
}

void CCEaseBounceInOut::update(double t) {
    if (t == 0 || t == 1)
        _inner->update(t);
    else if (t < 0.5)
        _inner->update(0.5 * (1 - bounceTime(1 - t * 2)));
    else
        _inner->update(0.5 * bounceTime(t * 2 - 1) + 0.5);
}

// ---- back ----

void CCEaseBackIn::update(double t) {
    _inner->update(t * t * (kBackPlusOne * t - kBack));
}

Ref<CCFiniteTimeAction> CCEaseBackIn::reverse() const {
    return easeAround<CCEaseBackOut>(innerReverse().get());
}

void CCEaseBackOut::update(double t) {
    double u = t - 1;
    _inner->update(u * u * (kBackPlusOne * u + kBack) + 1);
}

Ref<CCFiniteTimeAction> CCEaseBackOut::reverse() const {
    return easeAround<CCEaseBackIn>(innerReverse().get());
}

void CCEaseBackInOut::update(double t) {
    double u = t * 2;
    if (u < 1) {
        _inner->update(0.5 * u * u * (kBackInOutPlusOne * u - kBackInOut));
    } else {
        double w = u - 2;
        _inner->update(0.5 * w * w * (kBackInOutPlusOne * w + kBackInOut) + 1);
    }
}
