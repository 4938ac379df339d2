#include "actions/CCActionVisual.h"

#include "actions/CCActionManager.h"
#include "core/CCDirector.h"
#include "core/CCNodeRGBA.h"
#include "core/CCScheduler.h"
#include "graphics/CCAnimation.h"
#include "graphics/CCSprite.h"
#include "graphics/CCSpriteFrame.h"
#include "platform/NotificationCenter.h"
#include "tests/actions/ActionTestSupport.h"
#include "tests/graphics/SpriteTestSupport.h"

#include <gtest/gtest.h>

#include <any>
#include <vector>

using platform::Ref;

namespace {

class VisualActionTest : public fltest::RunningNodeTest<CCNodeRGBA> {};

TEST_F(VisualActionTest, BlinkHidesTheFirstHalfOfEachSliceAndRestoresVisibility) {
    for (bool initially : {true, false}) {
        node->setVisible(initially);
        auto blink = CCBlink::actionWithDuration(1, 4);
        run(blink);
        // Slices of 0.25 s: hidden from the start of a slice up to and including its middle,
        // shown after it.
        const bool expected[] = {false, false, true, false, false, false, true, false,
                                 false, false, true, false, false, false, true};
        for (bool visible : expected) {
            tick(0.0625);
            EXPECT_EQ(node->visible(), visible) << "at " << blink->elapsed();
        }
        // The finishing step leaves the visibility the node had before.
        tick(0.0625);
        EXPECT_EQ(node->numberOfRunningActions(), 0u);
        EXPECT_EQ(node->visible(), initially);
    }

    // Stopped halfway, it also gives the visibility back.
    node->setVisible(true);
    auto blink = CCBlink::actionWithDuration(1, 4);
    run(blink);
    tick(0.0625);
    EXPECT_FALSE(node->visible());
    blink->stop();
    EXPECT_TRUE(node->visible());
}

TEST_F(VisualActionTest, BlinkOfNoTimesLeavesTheNodeAlone) {
    run(CCBlink::actionWithDuration(1, 0));
    for (int i = 0; i < 4; ++i) {
        tick(0.25);
        EXPECT_TRUE(node->visible());
    }
}

TEST_F(VisualActionTest, BlinkCopiesAndReversesWithItsCount) {
    auto blink = CCBlink::actionWithDuration(2, 3);
    for (Ref<CCFiniteTimeAction> other :
         {Ref<CCFiniteTimeAction>(platform::copyOf(blink.get())), blink->reverse()}) {
        ASSERT_NE(dynamic_cast<CCBlink*>(other.get()), nullptr);
        EXPECT_EQ(other->duration(), 2);
        node->setVisible(true);
        run(other);
        tick(0.75); // t = 0.375, within the first half of the second third
        EXPECT_FALSE(node->visible());
        tick(0.5); // t = 0.625, past the middle of it
        EXPECT_TRUE(node->visible());
    }
}

TEST_F(VisualActionTest, FadeInAndOutIgnoreTheStartingOpacity) {
    node->setOpacity(200);
    auto in = CCFadeIn::actionWithDuration(1);
    run(in);
    EXPECT_EQ(node->opacity(), 0);
    tick(0.5);
    EXPECT_EQ(node->opacity(), 127);
    tick(0.5);
    EXPECT_EQ(node->opacity(), 255);

    auto out = in->reverse();
    ASSERT_NE(dynamic_cast<CCFadeOut*>(out.get()), nullptr);
    EXPECT_EQ(out->duration(), 1);
    node->setOpacity(10);
    run(out);
    EXPECT_EQ(node->opacity(), 255);
    tick(0.25);
    EXPECT_EQ(node->opacity(), 191); // 191.25
    tick(0.75);
    EXPECT_EQ(node->opacity(), 0);
    EXPECT_NE(dynamic_cast<CCFadeIn*>(out->reverse().get()), nullptr);
    EXPECT_NE(dynamic_cast<CCFadeIn*>(platform::copyOf(in.get()).get()), nullptr);
}

TEST_F(VisualActionTest, FadeToStartsFromTheCurrentOpacity) {
    auto to = CCFadeTo::actionWithDuration(1, 0);
    run(to);
    tick(0.5);
    EXPECT_EQ(node->opacity(), 127); // 127.5 truncated
    tick(0.5);
    EXPECT_EQ(node->opacity(), 0);

    node->setOpacity(100);
    auto copy = platform::copyOf(CCFadeTo::actionWithDuration(2, 200).get());
    run(copy);
    EXPECT_EQ(node->opacity(), 100);
    tick(1.5);
    EXPECT_EQ(node->opacity(), 175);
    EXPECT_EQ(to->reverse(), nullptr);
}

TEST_F(VisualActionTest, TintToBlendsEveryChannel) {
    node->setColor(ccc3(255, 0, 100));
    auto tint = CCTintTo::actionWithDuration(1, 0, 255, 100);
    run(tint);
    EXPECT_EQ(node->color(), ccc3(255, 0, 100));
    tick(0.5);
    EXPECT_EQ(node->color(), ccc3(127, 127, 100));
    tick(0.5);
    EXPECT_EQ(node->color(), ccc3(0, 255, 100));

    node->setColor(ccc3(0, 0, 0));
    run(platform::copyOf(tint.get()));
    tick(0.25);
    EXPECT_EQ(node->color(), ccc3(0, 63, 25));
    EXPECT_EQ(tint->reverse(), nullptr);
}

TEST_F(VisualActionTest, TintByAddsSignedAmountsAndHoldsChannelsInRange) {
    node->setColor(ccc3(50, 240, 7));
    auto tint = CCTintBy::actionWithDuration(1, -100, 50, 0);
    run(tint);
    tick(0.25);
    EXPECT_EQ(node->color(), ccc3(25, 252, 7)); // 252.5 truncated
    tick(0.75);
    // -50 and 290 are held at the edges they crossed.
    EXPECT_EQ(node->color(), ccc3(0, 255, 7));

    Ref<CCFiniteTimeAction> back = tint->reverse();
    ASSERT_NE(dynamic_cast<CCTintBy*>(back.get()), nullptr);
    node->setColor(ccc3(100, 100, 100));
    run(back);
    tick(1);
    EXPECT_EQ(node->color(), ccc3(200, 50, 100));

    run(platform::copyOf(tint.get()));
    tick(1);
    EXPECT_EQ(node->color(), ccc3(100, 100, 100));
}

TEST_F(VisualActionTest, FadesAndTintsLeaveNodesWithoutColourAlone) {
    auto plain = CCNode::node();
    plain->onEnter();
    plain->runAction(CCFadeIn::actionWithDuration(1).get());
    plain->runAction(CCFadeTo::actionWithDuration(1, 9).get());
    plain->runAction(CCTintTo::actionWithDuration(1, 1, 2, 3).get());
    plain->runAction(CCTintBy::actionWithDuration(1, 1, 2, 3).get());
    tick(0);
    tick(1);
    EXPECT_EQ(plain->numberOfRunningActions(), 0u);
    plain->onExit();
}

// ---- Animate ----

// A sprite that records every frame it is asked to show.
class RecordingSprite : public CCSprite {
public:
    void setDisplayFrame(CCSpriteFrame* frame) override {
        shown.push_back(frame);
        CCSprite::setDisplayFrame(frame);
    }
    std::vector<CCSpriteFrame*> shown;
};

class AnimateTest : public fltest::SpriteFixture {
protected:
    void SetUp() override {
        SpriteFixture::SetUp();
        texture = fltest::makePlainTexture(16, 16);
        sprite = CCSprite::spriteWithTexture<RecordingSprite>(texture.get(), CGRectMake(14, 14, 2, 2));
        ASSERT_TRUE(sprite);
        sprite->onEnter();
        for (int i = 0; i < 3; ++i)
            frames.push_back(CCSpriteFrame::frameWithTexture(texture.get(), CGRectMake(i * 2, 0, 2, 2)));
    }
    void TearDown() override {
        sprite->onExit();
        sprite->cleanup();
        sprite = nullptr;
        frames.clear();
        texture = nullptr;
        SpriteFixture::TearDown();
    }

    // Frames 0, 1, 2 with the given delay units; 0.25 s per unit.
    Ref<CCAnimation> animation(std::vector<float> units, std::uint64_t loops,
                               std::vector<platform::PlistValue> userInfo = {}) {
        CCAnimationFrameArray list;
        for (std::size_t i = 0; i < units.size(); ++i) {
            auto frame = platform::make<CCAnimationFrame>();
            frame->initWithSpriteFrame(frames[i].get(), units[i],
                                       i < userInfo.size() ? userInfo[i] : platform::PlistValue());
            list.push_back(frame);
        }
        return CCAnimation::animationWithAnimationFrames(list, 0.25f, loops);
    }
    void run(const Ref<CCAction>& action) {
        sprite->runAction(action.get());
        tick(0);
    }
    void tick(double dt) { director()->scheduler()->update(dt); }
    // The frames shown since the last call, as indexes into `frames` (-1 for any other).
    std::vector<int> taken() {
        std::vector<int> out;
        for (CCSpriteFrame* f : sprite->shown) {
            int index = -1;
            for (std::size_t i = 0; i < frames.size(); ++i)
                if (frames[i].get() == f) index = static_cast<int>(i);
            out.push_back(index);
        }
        sprite->shown.clear();
        return out;
    }
    // Index of the frame whose rectangle the sprite shows, -1 for none.
    int showing() const {
        for (std::size_t i = 0; i < frames.size(); ++i)
            if (sprite->isFrameDisplayed(frames[i].get())) return static_cast<int>(i);
        return -1;
    }

    Ref<CCTexture2D> texture;
    Ref<RecordingSprite> sprite;
    std::vector<Ref<CCSpriteFrame>> frames;
};

TEST_F(AnimateTest, FramesAreShownAtTheirShareOfTheDelayUnits) {
    auto animate = CCAnimate::actionWithAnimation(animation({1, 2, 1}, 1).get());
    ASSERT_TRUE(animate);
    EXPECT_EQ(animate->duration(), 1);
    EXPECT_EQ(animate->splitTimes(), (std::vector<float>{0, 0.25f, 0.75f}));

    run(animate);
    EXPECT_EQ(taken(), std::vector<int>{0});
    tick(0.25);
    EXPECT_EQ(taken(), std::vector<int>{1});
    tick(0.25);
    EXPECT_TRUE(taken().empty());
    tick(0.25);
    EXPECT_EQ(taken(), std::vector<int>{2});
    tick(0.25);
    EXPECT_TRUE(taken().empty());
    // Not restoring: the last frame stays.
    EXPECT_EQ(sprite->numberOfRunningActions(), 0u);
    EXPECT_EQ(showing(), 2);
}

TEST_F(AnimateTest, FramesShorterThanAStepAreAllShownInOrder) {
    run(CCAnimate::actionWithAnimation(animation({1, 1, 1}, 1).get()));
    EXPECT_EQ(taken(), std::vector<int>{0});
    tick(0.7);
    EXPECT_EQ(taken(), (std::vector<int>{1, 2}));
}

TEST_F(AnimateTest, LoopsStartAgainAtTheFirstFrame) {
    auto animate = CCAnimate::actionWithAnimation(animation({1, 2, 1}, 2).get());
    EXPECT_EQ(animate->duration(), 2);
    run(animate);
    EXPECT_EQ(taken(), std::vector<int>{0});
    std::vector<std::vector<int>> steps;
    for (int i = 0; i < 4; ++i) {
        tick(0.5);
        steps.push_back(taken());
    }
    // At t = 0.5 the second loop begins; at the end every remaining frame is shown.
    EXPECT_EQ(steps, (std::vector<std::vector<int>>{{1}, {0}, {1}, {2}}));
}

TEST_F(AnimateTest, FramesWithUserInfoPostTheNotification) {
    struct Posted {
        platform::Object* object;
        platform::PlistValue info;
    };
    std::vector<Posted> posted;
    int marker = 0;
    platform::NotificationCenter::defaultCenter().addObserver(
        &marker, CCAnimationFrameDisplayedNotification, [&](const platform::Notification& n) {
            posted.push_back({n.object, std::any_cast<platform::PlistValue>(n.userInfo)});
        });
    auto info = platform::PlistValue::dictionary({{"sound", platform::PlistValue::string("step")}});
    run(CCAnimate::actionWithAnimation(animation({1, 1, 1}, 1, {{}, info, {}}).get()));
    tick(0.5);
    tick(0.5);
    platform::NotificationCenter::defaultCenter().removeObserver(&marker);

    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].object, sprite.get());
    EXPECT_EQ(posted[0].info, info);
}

TEST_F(AnimateTest, AnObserverMayStopTheAnimationWhileItIsShowingFrames) {
    int marker = 0;
    int calls = 0;
    platform::NotificationCenter::defaultCenter().addObserver(&marker, CCAnimationFrameDisplayedNotification,
                                                              [&](const platform::Notification&) {
                                                                  ++calls;
                                                                  sprite->stopAllActions();
                                                              });
    auto info = platform::PlistValue::string("hit");
    sprite->runAction(
        CCAnimate::actionWithAnimation(animation({1, 1, 1}, 1, {info, info, info}).get()).get());
    tick(0);
    tick(1);
    platform::NotificationCenter::defaultCenter().removeObserver(&marker);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(sprite->numberOfRunningActions(), 0u);
}

TEST_F(AnimateTest, RestoringPutsTheOriginalFrameBackWhenStopped) {
    auto anim = animation({1, 1}, 1);
    anim->setRestoreOriginalFrame(true);
    run(CCAnimate::actionWithAnimation(anim));
    EXPECT_EQ(showing(), 0);
    tick(1);
    EXPECT_EQ(sprite->numberOfRunningActions(), 0u);
    EXPECT_EQ(showing(), -1);
    EXPECT_TRUE(CGRectEqualToRect(sprite->textureRect(), CGRectMake(14, 14, 2, 2)));
}

TEST_F(AnimateTest, ReversePlaysCopiesOfTheFramesBackwards) {
    auto anim = animation({1, 3, 2}, 2);
    anim->setRestoreOriginalFrame(true);
    auto animate = CCAnimate::actionWithAnimation(anim);
    Ref<CCFiniteTimeAction> back = animate->reverse();
    auto* reversed = dynamic_cast<CCAnimate*>(back.get());
    ASSERT_NE(reversed, nullptr);
    CCAnimation* r = reversed->animation();
    ASSERT_EQ(r->frames().size(), 3u);
    EXPECT_EQ(r->loops(), 2u);
    EXPECT_EQ(r->delayPerUnit(), 0.25f);
    EXPECT_TRUE(r->restoreOriginalFrame());
    EXPECT_EQ(r->frames()[0]->delayUnits(), 2);
    EXPECT_EQ(r->frames()[2]->delayUnits(), 1);
    EXPECT_NE(r->frames()[0].get(), anim->frames()[2].get());
    EXPECT_EQ(reversed->splitTimes(), (std::vector<float>{0, 2.0f / 6, 5.0f / 6}));

    sprite->runAction(back.get());
    tick(0);
    EXPECT_EQ(showing(), 2);
    tick(0.6); // 0.4 of the first loop
    EXPECT_EQ(showing(), 1);

    // A copy plays its own copy of the animation.
    auto copy = platform::copyOf(animate.get());
    ASSERT_NE(copy->animation(), animate->animation());
    EXPECT_EQ(copy->animation()->frames(), anim->frames());
    EXPECT_EQ(copy->duration(), animate->duration());
    EXPECT_EQ(CCAnimate::actionWithAnimation(nullptr), nullptr);
}

TEST_F(AnimateTest, AnAnimationThatTakesNoTimeShowsEveryFrameAtOnce) {
    CCAnimationFrameArray list;
    for (auto& f : frames) {
        auto frame = platform::make<CCAnimationFrame>();
        frame->initWithSpriteFrame(f.get(), 1, {});
        list.push_back(frame);
    }
    auto animate =
        CCAnimate::actionWithAnimation(CCAnimation::animationWithAnimationFrames(list, 0, 1).get());
    EXPECT_EQ(animate->splitTimes(), (std::vector<float>{0, 0, 0}));
    run(animate);
    EXPECT_EQ(taken(), (std::vector<int>{0, 1, 2}));
}

} // namespace
