// The engine's process-wide state, reset around every test: the shared director, the matrix
// stacks, the GL state cache, the content scale factor, the device profile and the clock that
// display links use. Frame tests run on a manual clock, so their delta times are exact.
#pragma once

#include "platform/DisplayLink.h"
#include "platform/Geometry.h"
#include "platform/Object.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

class CCGLView;
class CCDirectorDisplayLink;

namespace fltest {

// Drops the shared director (ending it), frees the matrix stacks, invalidates the GL state
// cache, and puts the content scale, the device profile and the default clock back.
void resetEngineState();

// A test with clean process-wide state and a manual clock for display links.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    platform::ManualClock* clock() const { return clock_.get(); }
    // Log lines printed since SetUp.
    std::vector<std::string> logLines;
    // The shared director (made on first use).
    CCDirectorDisplayLink* director() const;
    // Moves the manual clock on by whole display refreshes (1/60 s each), firing the display
    // link of an animating director on the way.
    void advanceRefreshes(int refreshes);

private:
    platform::Ref<platform::ManualClock> clock_;
};

// An engine test with a real GL view of the given size in points, set on the director, whose
// context is current: drawing goes through Mesa and can be read back.
class EngineGLTest : public EngineTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // 320 x 480 points unless a test overrides it before SetUp.
    virtual CGSize viewSize() const { return CGSizeMake(320, 480); }
    CCGLView* view() const { return view_.get(); }
    // 0xRRGGBBAA at (x, y) of the last presented frame, in pixels from the lower-left.
    std::uint32_t presentedPixel(int x, int y) const;

private:
    platform::Ref<CCGLView> view_;
};

// A call log that test node subclasses append to.
struct CallLog {
    std::vector<std::string> calls;
    void add(std::string call) { calls.push_back(std::move(call)); }
    void clear() { calls.clear(); }
};

} // namespace fltest
