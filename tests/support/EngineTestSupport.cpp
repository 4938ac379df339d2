#include "tests/support/EngineTestSupport.h"

#include "core/CCConfiguration.h"
#include "core/CCDirector.h"
#include "core/CCFileUtils.h"
#include "core/CCGLView.h"
#include "core/CCMatrix.h"
#include "core/CCShaderCache.h"
#include "graphics/CCAnimationCache.h"
#include "graphics/CCSpriteFrameCache.h"
#include "graphics/CCTextureCache.h"
#include "core/ccGLStateCache.h"
#include "platform/Device.h"
#include "platform/Log.h"
#include "tests/support/GLTestSupport.h"

namespace fltest {

void resetEngineState() {
    CCDirector::purgeSharedDirector();
    matrixFreeAll();
    glCacheInvalidate();
    drawCallCounter = 0;
    platform::setContentScaleFactor(1.0f);
    platform::Device::setCurrent(platform::DeviceProfile::phone());
    platform::Clock::setDefaultClock(nullptr);
    // Caches made without a director are not purged by its end: drop them here too.
    CCAnimationCache::purgeSharedAnimationCache();
    CCSpriteFrameCache::purgeSharedSpriteFrameCache();
    CCTextureCache::purgeSharedTextureCache();
    CCShaderCache::purgeSharedShaderCache();
    CCFileUtils::purgeSharedFileUtils();
    CCConfiguration::purgeSharedConfiguration();
}

void EngineTest::SetUp() {
    platform::setLogSink([this](const std::string& line) { logLines.push_back(line); });
    resetEngineState();
    clock_ = platform::make<platform::ManualClock>();
    platform::Clock::setDefaultClock(clock_.get());
}

void EngineTest::TearDown() {
    resetEngineState();
    clock_ = nullptr;
    platform::setLogSink(nullptr);
}

CCDirectorDisplayLink* EngineTest::director() const {
    return static_cast<CCDirectorDisplayLink*>(CCDirector::sharedDirector());
}

void EngineTest::advanceRefreshes(int refreshes) {
    for (int i = 0; i < refreshes; ++i)
        clock_->advance(1.0 / platform::DisplayLink::kRefreshRate);
}

void EngineGLTest::SetUp() {
    EngineTest::SetUp();
    view_ = makeGLView(viewSize());
    ASSERT_TRUE(view_) << "no GL view could be made";
    director()->setView(view_.get());
}

void EngineGLTest::TearDown() {
    EngineTest::TearDown();
    view_ = nullptr;
    useSharedGLContext();
    resetGLState();
}

std::uint32_t EngineGLTest::presentedPixel(int x, int y) const {
    const platform::PixelBuffer& frame = view_->layer()->presentedFrame();
    return frame.pixel(x, frame.height - 1 - y);
}

} // namespace fltest
