#include "actions/CCActionEase.h"
#include "actions/CCActionInstant.h"
#include "actions/CCActionManager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

using platform::make;
using platform::Ref;

namespace {

// An interval action that records what the ease sends it. Its reverse is another recorder
// marked as reversed, so tests can see that eases reverse their inner action.
class Recorder : public CCActionFactory<Recorder, CCActionInterval> {
public:
    static Ref<Recorder> with(double duration = 2, bool reversed = false) {
        Ref<Recorder> r = createWith(&CCActionInterval::initWithDuration, duration);
        r->reversed = reversed;
        return r;
    }
    void startWithTarget(CCNode* target) override {
        CCActionInterval::startWithTarget(target);
        ++starts;
    }
    void stop() override {
        ++stops;
        CCActionInterval::stop();
    }
    void step(double dt) override {
        ++steps;
        CCActionInterval::step(dt);
    }
    void update(double t) override { values.push_back(t); }
    Ref<CCFiniteTimeAction> reverse() const override { return with(_duration, !reversed); }

    bool reversed = false;
    int starts = 0, stops = 0, steps = 0;
    std::vector<double> values;
};

// An inner action without a reverse.
class NoReverse : public CCActionFactory<NoReverse, CCActionInterval> {};

// What the ease sent its inner action for progress t.
double sent(CCActionEase* ease, double t) {
    auto* inner = static_cast<Recorder*>(ease->inner());
    inner->values.clear();
    ease->update(t);
    EXPECT_EQ(inner->values.size(), 1u);
    return inner->values.empty() ? NAN : inner->values.back();
}
template <class T> double sent(const Ref<T>& ease, double t) {
    return sent(static_cast<CCActionEase*>(ease.get()), t);
}

// The single-precision calls, spelled out again here so the curves are checked against an
// independent computation.
double fpow(double b, double e) {
    return static_cast<double>(powf(static_cast<float>(b), static_cast<float>(e)));
}
double fexp2(double e) {
    return static_cast<double>(exp2f(static_cast<float>(e)));
}
double fsin(double a) {
    return static_cast<double>(sinf(static_cast<float>(a)));
}
double fcos(double a) {
    return static_cast<double>(cosf(static_cast<float>(a)));
}
const double kPiF = 3.1415927410125732;
const double kHalfPiF = 1.5707963705062866;

double bounce(double t) {
    if (t < 1 / 2.75) return 7.5625 * t * t;
    if (t < 2 / 2.75) return 7.5625 * (t - 0.5454545617103577) * (t - 0.5454545617103577) + 0.75;
    if (t < 2.5 / 2.75) return 7.5625 * (t - 0.8181818127632141) * (t - 0.8181818127632141) + 0.9375;
    return 7.5625 * (t - 0.9545454382896423) * (t - 0.9545454382896423) + 0.984375;
}

double elastic(double u, double p) {
    return fsin((u - p / 4) * (kPiF * 2) / p);
}

struct Curve {
    std::string name;
    std::function<Ref<CCActionEase>(CCActionInterval*)> make;
    std::function<double(double)> expected;
};

std::vector<Curve> curves() {
    const double back = 1.7015800476074219, backPlus = 2.701580047607422;
    const double backIO = 2.594909429550171, backIOPlus = 3.594909429550171;
    const double k6 = 1.7817974090576172;
    return {
        {"identity", [](CCActionInterval* a) { return CCActionEase::actionWithAction(a); },
         [](double t) { return t; }},
        {"in 2.5", [](CCActionInterval* a) { return CCEaseIn::actionWithAction(a, 2.5f); },
         [](double t) { return fpow(t, 2.5); }},
        {"out 3", [](CCActionInterval* a) { return CCEaseOut::actionWithAction(a, 3.0f); },
         [](double t) { return fpow(t, static_cast<double>(1 / 3.0f)); }},
        {"in-out 3", [](CCActionInterval* a) { return CCEaseInOut::actionWithAction(a, 3.0f); },
         [](double t) { return 2 * t < 1 ? 0.5 * fpow(2 * t, 3) : 1 - 0.5 * fpow(2 - 2 * t, 3); }},
        {"exponential in", [](CCActionInterval* a) { return CCEaseExponentialIn::actionWithAction(a); },
         [](double t) { return t == 0 ? 0 : fexp2(10 * (t - 1)); }},
        {"exponential out", [](CCActionInterval* a) { return CCEaseExponentialOut::actionWithAction(a); },
         [](double t) { return t == 1 ? 1 : 1 - fexp2(-10 * t); }},
        {"exponential in-out",
         [](CCActionInterval* a) { return CCEaseExponentialInOut::actionWithAction(a); },
         [](double t) {
             if (t == 0 || t == 1) return t;
             return 2 * t < 1 ? 0.5 * fexp2(10 * (2 * t - 1)) : 0.5 * (2 - fexp2(-10 * (2 * t - 1)));
         }},
        {"sine in", [](CCActionInterval* a) { return CCEaseSineIn::actionWithAction(a); },
         [](double t) { return 1 - fcos(t * kHalfPiF); }},
        {"sine out", [](CCActionInterval* a) { return CCEaseSineOut::actionWithAction(a); },
         [](double t) { return fsin(t * kHalfPiF); }},
        {"sine in-out", [](CCActionInterval* a) { return CCEaseSineInOut::actionWithAction(a); },
         [](double t) { return -0.5 * (fcos(kPiF * t) - 1); }},
        {"polynomial in", [](CCActionInterval* a) { return CCEasePolynomialIn::actionWithAction(a); },
         [](double t) { return fpow(t, 6); }},
        {"polynomial out", [](CCActionInterval* a) { return CCEasePolynomialOut::actionWithAction(a); },
         [](double t) { return 1 - fpow(t - 1, 6); }},
        {"polynomial in-out", [=](CCActionInterval* a) { return CCEasePolynomialInOut::actionWithAction(a); },
         [=](double t) { return t < 0.5 ? fpow(k6 * t, 6) : 1 - fpow((t - 1) * k6, 6); }},
        {"elastic in", [](CCActionInterval* a) { return CCEaseElasticIn::actionWithAction(a); },
         [](double t) { return t == 0 || t == 1 ? t : -fexp2(10 * (t - 1)) * elastic(t - 1, 0.3f); }},
        {"elastic out 0.4", [](CCActionInterval* a) { return CCEaseElasticOut::actionWithAction(a, 0.4f); },
         [](double t) { return t == 0 || t == 1 ? t : fexp2(-10 * t) * elastic(t, 0.4f) + 1; }},
        {"elastic in-out", [](CCActionInterval* a) { return CCEaseElasticInOut::actionWithAction(a); },
         [](double t) {
             if (t == 0 || t == 1) return t;
             double u = 2 * t - 1;
             return u < 0 ? -0.5 * fexp2(10 * u) * elastic(u, 0.3f)
                          : 0.5 * fexp2(-10 * u) * elastic(u, 0.3f) + 1;
         }},
        {"bounce in", [](CCActionInterval* a) { return CCEaseBounceIn::actionWithAction(a); },
         [](double t) { return t == 0 || t == 1 ? t : 1 - bounce(1 - t); }},
        {"bounce out", [](CCActionInterval* a) { return CCEaseBounceOut::actionWithAction(a); },
         [](double t) { return t == 0 || t == 1 ? t : bounce(t); }},
        {"bounce in-out", [](CCActionInterval* a) { return CCEaseBounceInOut::actionWithAction(a); },
         [](double t) {
             if (t == 0 || t == 1) return t;
             return t < 0.5 ? 0.5 * (1 - bounce(1 - 2 * t)) : 0.5 * bounce(2 * t - 1) + 0.5;
         }},
        {"back in", [=](CCActionInterval* a) { return CCEaseBackIn::actionWithAction(a); },
         [=](double t) { return t * t * (backPlus * t - back); }},
        {"back out", [=](CCActionInterval* a) { return CCEaseBackOut::actionWithAction(a); },
         [=](double t) { return (t - 1) * (t - 1) * (backPlus * (t - 1) + back) + 1; }},
        {"back in-out", [=](CCActionInterval* a) { return CCEaseBackInOut::actionWithAction(a); },
         [=](double t) {
             double u = 2 * t;
             if (u < 1) return 0.5 * u * u * (backIOPlus * u - backIO);
             double w = u - 2;
             return 0.5 * w * w * (backIOPlus * w + backIO) + 1;
         }},
    };
}

} // namespace

TEST(ActionEase, EveryCurveSendsTheSinglePrecisionValueOfItsFormula) {
    const double times[] = {0, 0.05, 0.1, 0.25, 0.3, 0.42, 0.5, 0.6, 0.75, 0.8, 0.9, 0.97, 1};
    for (const Curve& curve : curves()) {
        Ref<Recorder> inner = Recorder::with();
        Ref<CCActionEase> ease = curve.make(inner);
        ASSERT_TRUE(ease) << curve.name;
        for (double t : times)
            EXPECT_EQ(sent(ease, t), curve.expected(t)) << curve.name << " at t = " << t;
    }
}

TEST(ActionEase, TheCurveConstantsAreTheSingleAndDoublePrecisionValuesItIsDefinedWith) {
    EXPECT_EQ(easeMath::kPi, 3.1415927410125732);
    EXPECT_EQ(easeMath::kHalfPi, 1.5707963705062866);
    EXPECT_EQ(static_cast<double>(1.70158f), 1.7015800476074219);
    EXPECT_EQ(static_cast<double>(2.5949094f), 2.594909429550171);
    EXPECT_EQ(static_cast<double>(3.5949094f), 3.594909429550171);
    EXPECT_EQ(static_cast<double>(1.5f / 2.75f), 0.5454545617103577);
    EXPECT_EQ(static_cast<double>(2.25f / 2.75f), 0.8181818127632141);
    EXPECT_EQ(static_cast<double>(2.625f / 2.75f), 0.9545454382896423);
    EXPECT_EQ(static_cast<double>(2.0f * powf(0.5f, 1.0f / 6)), 1.7817974090576172);
}

TEST(ActionEase, EndPointsAndKnownValues) {
    Ref<Recorder> inner = Recorder::with();

    // Exponential and bounce and elastic kinds hit the end points exactly.
    Ref<CCActionEase> expIn = CCEaseExponentialIn::actionWithAction(inner);
    EXPECT_EQ(sent(expIn, 0), 0.0);
    EXPECT_EQ(sent(expIn, 1), 1.0);
    Ref<CCActionEase> expOut = CCEaseExponentialOut::actionWithAction(inner);
    EXPECT_EQ(sent(expOut, 0), 0.0);
    EXPECT_EQ(sent(expOut, 1), 1.0);
    for (Ref<CCActionEase> ease : {Ref<CCActionEase>(CCEaseElasticIn::actionWithAction(inner)),
                                   Ref<CCActionEase>(CCEaseElasticOut::actionWithAction(inner)),
                                   Ref<CCActionEase>(CCEaseElasticInOut::actionWithAction(inner)),
                                   Ref<CCActionEase>(CCEaseBounceIn::actionWithAction(inner)),
                                   Ref<CCActionEase>(CCEaseBounceOut::actionWithAction(inner)),
                                   Ref<CCActionEase>(CCEaseBounceInOut::actionWithAction(inner))}) {
        EXPECT_EQ(sent(ease, 0), 0.0) << ease->className();
        EXPECT_EQ(sent(ease, 1), 1.0) << ease->className();
    }

    // In-out with rate 1 is linear; with rate 3 a quarter of the way it sends 0.5 x 0.5^3.
    Ref<CCActionEase> linear = CCEaseInOut::actionWithAction(inner, 1.0f);
    for (double t : {0.1, 0.25, 0.5, 0.8})
        EXPECT_FLOAT_EQ(sent(linear, t), t);
    EXPECT_EQ(sent(CCEaseInOut::actionWithAction(inner, 3.0f), 0.25), 0.0625);

    // Back in dips to about -0.1 near 0.42; back out overshoots 1 by as much near 0.58.
    EXPECT_NEAR(sent(CCEaseBackIn::actionWithAction(inner), 0.42), -0.1, 0.002);
    EXPECT_NEAR(sent(CCEaseBackOut::actionWithAction(inner), 0.58), 1.1, 0.002);

    // The bounce lands on 1 at the end of each parabola but the last.
    Ref<CCEaseBounce> bounceKind = CCEaseBounceOut::actionWithAction(inner);
    EXPECT_NEAR(bounceKind->bounceTime(1 / 2.75), 1.0, 1e-6);
    EXPECT_NEAR(bounceKind->bounceTime(2 / 2.75), 1.0, 1e-6);
    EXPECT_NEAR(bounceKind->bounceTime(1.0), 1.0, 1e-6);
}

TEST(ActionEase, PolynomialOrderSetsTheInflectionAndTheInOutScale) {
    Ref<Recorder> inner = Recorder::with();
    Ref<CCEasePolynomialInOut> ease = CCEasePolynomialInOut::actionWithAction(inner);
    EXPECT_EQ(ease->polynomialOrder(), 6u);

    // Order 1 has an inflection and scale 2 x 0.5 = 1, so the in-out curve is the identity.
    ease->setPolynomialOrder(1);
    for (double t : {0.1, 0.25, 0.5, 0.75, 0.9})
        EXPECT_FLOAT_EQ(sent(ease, t), t);

    // Odd orders come back to 1 from below, even orders from above the straight way.
    ease->setPolynomialOrder(3);
    double k3 = static_cast<double>(2.0f * powf(0.5f, 1.0f / 3));
    EXPECT_EQ(sent(ease, 0.25), fpow(k3 * 0.25, 3));
    EXPECT_EQ(sent(ease, 0.75), fpow(-0.25 * k3, 3) + 1);
    EXPECT_NEAR(sent(ease, 0.5), 0.5, 1e-6);

    Ref<CCEasePolynomialOut> out = CCEasePolynomialOut::actionWithAction(inner);
    out->setPolynomialOrder(3);
    EXPECT_EQ(sent(out, 0.5), fpow(-0.5, 3) + 1);
    EXPECT_EQ(sent(out, 1), 1.0);
}

TEST(ActionEase, AZeroElasticPeriodIsReplacedInsteadOfDividingByZero) {
    Ref<Recorder> inner = Recorder::with();
    Ref<CCEaseElasticInOut> inOut = CCEaseElasticInOut::actionWithAction(inner, 0.0f);
    EXPECT_EQ(inOut->period(), 0.0f);
    double v = sent(inOut, 0.3);
    EXPECT_EQ(inOut->period(), 0.3f * 1.5f);
    EXPECT_EQ(inOut->period(), 0.45000002f);
    EXPECT_EQ(v, -0.5 * fexp2(10 * -0.4) * elastic(-0.4, 0.3f * 1.5f));
    // The copy sees the substituted period.
    EXPECT_EQ(platform::copyOf(inOut.get())->period(), 0.45000002f);

    for (Ref<CCEaseElastic> ease : {Ref<CCEaseElastic>(CCEaseElasticIn::actionWithAction(inner, 0.0f)),
                                    Ref<CCEaseElastic>(CCEaseElasticOut::actionWithAction(inner, 0.0f))}) {
        EXPECT_TRUE(std::isfinite(sent(ease, 0.5))) << ease->className();
        EXPECT_EQ(ease->period(), 0.3f);
    }
}

TEST(ActionEase, ReversesPickTheirCounterpartAroundTheReversedInnerAction) {
    Ref<Recorder> inner = Recorder::with(3);

    // The reverse of `ease`, checked to be of the expected class around the reversed inner action.
    auto check = [&](Ref<CCActionEase> ease, const char* expectedClass) -> Ref<CCActionEase> {
        Ref<CCFiniteTimeAction> reversed = ease->reverse();
        Ref<CCActionEase> rev(dynamic_cast<CCActionEase*>(reversed.get()));
        EXPECT_TRUE(rev) << ease->className();
        if (!rev) return nullptr;
        EXPECT_EQ(rev->className(), expectedClass) << ease->className();
        auto* revInner = dynamic_cast<Recorder*>(rev->inner());
        auto* oldInner = static_cast<Recorder*>(ease->inner());
        EXPECT_TRUE(revInner && revInner->reversed != oldInner->reversed) << ease->className();
        EXPECT_EQ(rev->duration(), 3.0);
        return rev;
    };
    // Ease in with rate 2 reverses to ease in with rate 0.5, not to an ease out.
    auto in = check(CCEaseIn::actionWithAction(inner, 2.0f), "CCEaseIn");
    EXPECT_EQ(static_cast<CCEaseRateAction*>(in.get())->rate(), 0.5f);
    auto out = check(CCEaseOut::actionWithAction(inner, 4.0f), "CCEaseOut");
    EXPECT_EQ(static_cast<CCEaseRateAction*>(out.get())->rate(), 0.25f);
    auto inOut = check(CCEaseInOut::actionWithAction(inner, 3.0f), "CCEaseInOut");
    EXPECT_EQ(static_cast<CCEaseRateAction*>(inOut.get())->rate(), 3.0f);
    auto rate = check(CCEaseRateAction::actionWithAction(inner, 4.0f), "CCEaseRateAction");
    EXPECT_EQ(static_cast<CCEaseRateAction*>(rate.get())->rate(), 0.25f);

    check(CCActionEase::actionWithAction(inner), "CCActionEase");
    check(CCEaseExponentialIn::actionWithAction(inner), "CCEaseExponentialOut");
    check(CCEaseExponentialOut::actionWithAction(inner), "CCEaseExponentialIn");
    check(CCEaseExponentialInOut::actionWithAction(inner), "CCEaseExponentialInOut");
    check(CCEaseSineIn::actionWithAction(inner), "CCEaseSineOut");
    check(CCEaseSineOut::actionWithAction(inner), "CCEaseSineIn");
    check(CCEaseSineInOut::actionWithAction(inner), "CCEaseSineInOut");
    check(CCEaseBounceIn::actionWithAction(inner), "CCEaseBounceOut");
    check(CCEaseBounceOut::actionWithAction(inner), "CCEaseBounceIn");
    check(CCEaseBounceInOut::actionWithAction(inner), "CCEaseBounceInOut");
    check(CCEaseBackIn::actionWithAction(inner), "CCEaseBackOut");
    check(CCEaseBackOut::actionWithAction(inner), "CCEaseBackIn");
    check(CCEaseBackInOut::actionWithAction(inner), "CCEaseBackInOut");

    auto elasticIn = check(CCEaseElasticIn::actionWithAction(inner, 0.5f), "CCEaseElasticOut");
    EXPECT_EQ(static_cast<CCEaseElastic*>(elasticIn.get())->period(), 0.5f);
    auto elasticOut = check(CCEaseElasticOut::actionWithAction(inner, 0.6f), "CCEaseElasticIn");
    EXPECT_EQ(static_cast<CCEaseElastic*>(elasticOut.get())->period(), 0.6f);
    auto elasticInOut = check(CCEaseElasticInOut::actionWithAction(inner, 0.7f), "CCEaseElasticInOut");
    EXPECT_EQ(static_cast<CCEaseElastic*>(elasticInOut.get())->period(), 0.7f);
    // The bare elastic has no reverse.
    EXPECT_FALSE(CCEaseElastic::actionWithAction(inner)->reverse());

    // Polynomial reverses keep the order, the in-out kind included.
    for (std::uint64_t order : {6u, 3u}) {
        Ref<CCEasePolynomialIn> pIn = CCEasePolynomialIn::actionWithAction(inner);
        pIn->setPolynomialOrder(order);
        auto pOut = check(pIn, "CCEasePolynomialOut");
        EXPECT_EQ(static_cast<CCEasePolynomial*>(pOut.get())->polynomialOrder(), order);
        auto pBack = check(pOut, "CCEasePolynomialIn");
        EXPECT_EQ(static_cast<CCEasePolynomial*>(pBack.get())->polynomialOrder(), order);
        Ref<CCEasePolynomialInOut> pInOut = CCEasePolynomialInOut::actionWithAction(inner);
        pInOut->setPolynomialOrder(order);
        auto pInOutRev = check(pInOut, "CCEasePolynomialInOut");
        EXPECT_EQ(static_cast<CCEasePolynomial*>(pInOutRev.get())->polynomialOrder(), order);
    }

    // Without an inner reverse there is no eased reverse.
    Ref<NoReverse> plain = NoReverse::createWith(&CCActionInterval::initWithDuration, 1.0);
    EXPECT_FALSE(CCEaseIn::actionWithAction(plain, 2.0f)->reverse());
    EXPECT_FALSE(CCEaseSineIn::actionWithAction(plain)->reverse());
}

TEST(ActionEase, CopiesCopyTheInnerActionAndKeepTheParameters) {
    Ref<Recorder> inner = Recorder::with(1.5);

    Ref<CCEaseIn> in = CCEaseIn::actionWithAction(inner, 2.5f);
    Ref<CCEaseIn> inCopy = platform::copyOf(in.get());
    EXPECT_NE(inCopy->inner(), in->inner());
    EXPECT_TRUE(dynamic_cast<Recorder*>(inCopy->inner()));
    EXPECT_EQ(inCopy->rate(), 2.5f);
    EXPECT_EQ(inCopy->duration(), 1.5);

    Ref<CCEaseElasticOut> elastic = CCEaseElasticOut::actionWithAction(inner, 0.8f);
    Ref<CCEaseElasticOut> elasticCopy = platform::copyOf(elastic.get());
    EXPECT_EQ(elasticCopy->className(), "CCEaseElasticOut");
    EXPECT_EQ(elasticCopy->period(), 0.8f);

    Ref<CCEasePolynomialInOut> poly = CCEasePolynomialInOut::actionWithAction(inner);
    poly->setPolynomialOrder(3);
    Ref<CCEasePolynomialInOut> polyCopy = platform::copyOf(poly.get());
    EXPECT_EQ(polyCopy->polynomialOrder(), 3u);
    EXPECT_EQ(sent(polyCopy, 0.75), sent(poly, 0.75));

    Ref<CCEaseBackOut> back = CCEaseBackOut::actionWithAction(inner);
    EXPECT_EQ(platform::copyOf(back.get())->className(), "CCEaseBackOut");

    // Defaults of the parameterless factories.
    EXPECT_EQ(CCEaseElasticIn::actionWithAction(inner)->period(), 0.3f);
    EXPECT_EQ(CCEasePolynomialOut::actionWithAction(inner)->polynomialOrder(), 6u);
}

TEST(ActionEase, ANullInnerActionMakesNoEase) {
    EXPECT_FALSE(CCActionEase::actionWithAction(nullptr));
    EXPECT_FALSE(CCEaseIn::actionWithAction(nullptr, 2.0f));
    EXPECT_FALSE(CCEaseElasticOut::actionWithAction(nullptr, 0.3f));
    EXPECT_FALSE(CCEasePolynomialIn::actionWithAction(nullptr));
}

TEST(ActionEase, TheManagerStepsTheEaseWhichAloneDrivesItsInnerAction) {
    Ref<CCActionManager> manager = make<CCActionManager>();
    manager->init();
    Ref<CCNode> node = make<CCNode>();
    Ref<Recorder> inner = Recorder::with(1.0);
    Ref<CCEaseIn> ease = CCEaseIn::actionWithAction(inner, 2.0f);

    manager->addAction(ease, node, false);
    EXPECT_EQ(inner->starts, 1);
    EXPECT_EQ(inner->target(), node.get());

    for (int i = 0; i < 4; ++i)
        manager->update(0.25);
    EXPECT_EQ(inner->stops, 0);
    manager->update(0.25);

    // First step at t = 0, then quarters squared; the last step reaches exactly 1.
    std::vector<double> expected = {0, 0.0625, 0.25, 0.5625, 1};
    EXPECT_EQ(inner->values, expected);
    EXPECT_EQ(inner->steps, 0);
    EXPECT_EQ(inner->stops, 1);
    EXPECT_EQ(ease->target(), nullptr);
    EXPECT_EQ(inner->target(), nullptr);
    EXPECT_EQ(ease->retainCount(), 1u);
}

// The list factories return a finite-time action; the wrappers of an interval action take it as
// it comes and refuse one that is not an interval action as they refuse a null one.
TEST(ActionEase, WrappersTakeASequenceAsItComesAndRefuseAnInstantAction) {
    Ref<CCFiniteTimeAction> sequence = CCSequence::actions(Recorder::with(1).get(), Recorder::with(1).get());
    auto forever = CCRepeatForever::actionWithAction(sequence.get());
    ASSERT_NE(forever, nullptr);
    EXPECT_EQ(forever->innerAction(), sequence.get());
    auto speed = CCSpeed::actionWithAction(sequence.get(), 2);
    ASSERT_NE(speed, nullptr);
    EXPECT_EQ(speed->innerAction(), sequence.get());
    auto ease = CCEaseIn::actionWithAction(sequence.get(), 2.0f);
    ASSERT_NE(ease, nullptr);
    EXPECT_EQ(ease->inner(), sequence.get());
    EXPECT_EQ(ease->duration(), 2);

    Ref<CCFiniteTimeAction> instant = CCShow::action();
    EXPECT_EQ(CCRepeatForever::actionWithAction(instant.get()), nullptr);
    EXPECT_EQ(CCSpeed::actionWithAction(instant.get(), 2), nullptr);
    EXPECT_EQ(CCEaseSineIn::actionWithAction(instant.get()), nullptr);
    EXPECT_EQ(CCEaseElasticOut::actionWithAction(instant.get(), 0.4f), nullptr);
    forever->setInnerAction(instant.get());
    EXPECT_EQ(forever->innerAction(), nullptr);
    speed->setInnerAction(nullptr);
    EXPECT_EQ(speed->innerAction(), nullptr);
}
