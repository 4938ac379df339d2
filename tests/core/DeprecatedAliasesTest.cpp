// The older operation names of the core classes reach the current operations, with their
// arguments put in the current order and flags turned the current way.
#include "actions/CCActionManager.h"
#include "core/CCDirector.h"
#include "core/CCFileUtils.h"
#include "core/CCGLView.h"
#include "core/CCLayer.h"
#include "core/CCNode.h"
#include "core/CCScheduler.h"
#include "core/CCTouchDispatcher.h"
#include "platform/Device.h"
#include "tests/support/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;
using platform::make;
using platform::Ref;

namespace {

class Ticker : public platform::Object {
public:
    void tick(double dt) { ticks.push_back(dt); }
    void update(double) { ++updates; }
    std::vector<double> ticks;
    int updates = 0;
};

class OlderNamesTest : public fltest::EngineTest {};

} // namespace

TEST_F(OlderNamesTest, SharedObjectsAreTheDirectorsOwn) {
    CCDirector* director = CCDirector::sharedDirector();
    EXPECT_EQ(CCScheduler::sharedScheduler(), director->scheduler());
    EXPECT_EQ(CCActionManager::sharedManager(), director->actionManager());
    ASSERT_NE(CCTouchDispatcher::sharedDispatcher(), nullptr);
    EXPECT_EQ(CCTouchDispatcher::sharedDispatcher(), director->touchDispatcher());

    // A replaced scheduler is the one answered from then on.
    auto scheduler = make<CCScheduler>();
    scheduler->init();
    director->setScheduler(scheduler.get());
    EXPECT_EQ(CCScheduler::sharedScheduler(), scheduler.get());
}

TEST_F(OlderNamesTest, ThePausedFlagOfTheOlderScheduleFormMovesBehindRepeatAndDelay) {
    auto scheduler = make<CCScheduler>();
    scheduler->init();
    auto ticker = make<Ticker>();
    // Paused, repeat 2, delay 0.5: nothing runs until resumed, then three calls after the delay.
    scheduler->scheduleSelector(fl_selector(Ticker::tick), ticker.get(), 0.25, true, 2u, 0.5);
    EXPECT_TRUE(scheduler->isTargetPaused(ticker.get()));
    for (int i = 0; i < 8; ++i)
        scheduler->update(0.125);
    EXPECT_TRUE(ticker->ticks.empty());

    scheduler->resumeTarget(ticker.get());
    for (int i = 0; i < 12; ++i)
        scheduler->update(0.125);
    ASSERT_EQ(ticker->ticks.size(), 3u);
    EXPECT_EQ(ticker->retainCount(), 1u); // done: the scheduler let go of the target

    // Not paused: runs at once, forever with repeat TimerRepeatForever.
    auto free = make<Ticker>();
    scheduler->scheduleSelector(fl_selector(Ticker::tick), free.get(), 0, false, TimerRepeatForever, 0.0);
    EXPECT_FALSE(scheduler->isTargetPaused(free.get()));
    for (int i = 0; i < 5; ++i)
        scheduler->update(0.1);
    EXPECT_EQ(free->ticks.size(), 4u); // the first frame only arms the timer
    scheduler->unscheduleAllSelectorsForTarget(free.get());
    EXPECT_EQ(free->retainCount(), 1u);
}

TEST_F(OlderNamesTest, OlderUnscheduleAllFormsKeepTheirPriorityBound) {
    auto scheduler = make<CCScheduler>();
    scheduler->init();
    auto low = make<Ticker>(), high = make<Ticker>(), timer = make<Ticker>();
    scheduler->scheduleUpdateForTarget(low.get(), -5, false);
    scheduler->scheduleUpdateForTarget(high.get(), 5, false);
    scheduler->scheduleSelector(fl_selector(Ticker::tick), timer.get(), 0, false);

    scheduler->unscheduleAllSelectorsWithMinPriority(0);
    scheduler->update(0.1);
    scheduler->update(0.1);
    EXPECT_EQ(low->updates, 2);
    EXPECT_EQ(high->updates, 0);
    EXPECT_TRUE(timer->ticks.empty());

    scheduler->unscheduleAllSelectors();
    scheduler->update(0.1);
    EXPECT_EQ(low->updates, 2);
    EXPECT_EQ(low->retainCount(), 1u);
}

TEST_F(OlderNamesTest, RelativeAnchorPointIsTheNegationOfIgnoringIt) {
    Ref<CCNode> node = CCNode::node();
    EXPECT_TRUE(node->isRelativeAnchorPoint());
    node->setIsRelativeAnchorPoint(false);
    EXPECT_TRUE(node->ignoreAnchorPointForPosition());
    EXPECT_FALSE(node->isRelativeAnchorPoint());
    node->setIsRelativeAnchorPoint(true);
    EXPECT_FALSE(node->ignoreAnchorPointForPosition());
    EXPECT_TRUE(node->isRelativeAnchorPoint());

    // A layer ignores its anchor point: it is not relative.
    Ref<CCLayer> layer = CCLayer::node();
    EXPECT_FALSE(layer->isRelativeAnchorPoint());
}

TEST_F(OlderNamesTest, OlderLayerAndDirectorSwitchesReachTheirOwnSettings) {
    Ref<CCLayer> layer = CCLayer::node();
    layer->setIsTouchEnabled(true);
    EXPECT_TRUE(layer->isTouchEnabled());
    EXPECT_FALSE(layer->isAccelerometerEnabled());
    layer->setIsAccelerometerEnabled(true);
    EXPECT_TRUE(layer->isAccelerometerEnabled());
    layer->setIsTouchEnabled(false);
    EXPECT_FALSE(layer->isTouchEnabled());
    EXPECT_TRUE(layer->isAccelerometerEnabled());
    layer->setIsAccelerometerEnabled(false);

    CCDirector* director = CCDirector::sharedDirector();
    director->setDisplayFPS(true);
    EXPECT_TRUE(director->displayStats());
    EXPECT_FALSE(director->getIsPaused());
    director->pause();
    EXPECT_TRUE(director->getIsPaused());
    director->resume();
    EXPECT_FALSE(director->getIsPaused());
    EXPECT_EQ(director->openGLView(), nullptr);
}

namespace {

class OlderNamesGLTest : public fltest::EngineGLTest {};

} // namespace

TEST_F(OlderNamesGLTest, OpenGLViewIsTheDirectorsView) {
    CCDirector* director = CCDirector::sharedDirector();
    ASSERT_NE(view(), nullptr);
    EXPECT_EQ(director->openGLView(), view());
    EXPECT_EQ(director->openGLView(), director->view());
    director->setOpenGLView(view());
    EXPECT_EQ(director->view(), view());
}

namespace {

// The class-wide file forms ask the shared instance, here over a temporary bundle on a retina
// phone.
class OlderFileNamesTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("fl_olderfiles_" + std::to_string(getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root);
        bundle = platform::Bundle::bundleWithPath(root.string());
        platform::Device::setCurrent(platform::DeviceProfile::phoneRetina());
        platform::setContentScaleFactor(2.0f);
        CCFileUtils::purgeSharedFileUtils();
        CCFileUtils::sharedFileUtils()->setBundle(bundle.get());
    }
    void TearDown() override {
        CCFileUtils::purgeSharedFileUtils();
        platform::Device::setCurrent(platform::DeviceProfile::phone());
        platform::setContentScaleFactor(1.0f);
        fs::remove_all(root);
    }
    std::string touch(const std::string& relative) {
        fs::path p = root / relative;
        std::ofstream(p, std::ios::binary) << "x";
        return p.string();
    }

    fs::path root;
    Ref<platform::Bundle> bundle;
};

} // namespace

TEST_F(OlderFileNamesTest, RetinaSuffixIsThePhoneRetinaOne) {
    std::string retina = touch("bg@2x.png");
    std::string plain = touch("bg.png");
    touch("pad~ipad.png");

    CCFileUtils::setRetinaDisplaySuffix("@2x");
    CCFileUtils* shared = CCFileUtils::sharedFileUtils();
    for (const auto& [key, suffix] : shared->suffixesDict()) {
        if (key == "iphonehd") {
            EXPECT_EQ(suffix, "@2x");
        }
        if (key == "ipadhd") {
            EXPECT_EQ(suffix, "-ipadhd");
        }
    }

    ccResolutionType type = kCCResolutionUnknown;
    EXPECT_EQ(CCFileUtils::sharedFullPathFromRelativePath("bg.png", &type), retina);
    EXPECT_EQ(type, kCCResolutioniPhoneRetinaDisplay);
    EXPECT_EQ(CCFileUtils::sharedFullPathFromRelativePath("bg.png"), retina);
    EXPECT_EQ(CCFileUtils::sharedFullPathFromRelativePath("none.png"), "none.png");
    EXPECT_EQ(CCFileUtils::sharedRemoveSuffixFromFile("bg@2x.png"), "bg.png");

    EXPECT_TRUE(CCFileUtils::sharedIPhoneRetinaDisplayFileExistsAtPath(plain));
    EXPECT_FALSE(CCFileUtils::sharedIPadRetinaDisplayFileExistsAtPath(plain));
    shared->setiPadSuffix("~ipad");
    EXPECT_TRUE(CCFileUtils::sharedIPadFileExistsAtPath((root / "pad.png").string()));
    EXPECT_FALSE(CCFileUtils::sharedIPadFileExistsAtPath(plain));
}
