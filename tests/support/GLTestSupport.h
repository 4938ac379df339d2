// GL helpers shared by every test that draws: one headless context for the whole test process,
// off-screen targets, pixel read-back, GL call counting and ready-made GL views.
#pragma once

#include "core/CCGLView.h"
#include "platform/Drawable.h"
#include "platform/GLContext.h"

#include <gtest/gtest.h>

#include <GLES2/gl2.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace fltest {

// The test process's own context, made on first use and kept until exit.
platform::GLContext* sharedGLContext();
// Makes the shared context current on the calling thread and returns it.
platform::GLContext* useSharedGLContext();

// Puts the current context's GL state back to GL's defaults (program, textures, buffers,
// vertex arrays, attribute arrays, blending, framebuffers) and tells the GL state cache so.
void resetGLState();

// An off-screen RGBA8 framebuffer in the current context, bound when made; with a packed
// depth-stencil buffer on request.
class GLTarget {
public:
    GLTarget(int width, int height, bool depthStencil = false);
    ~GLTarget();
    GLTarget(const GLTarget&) = delete;
    GLTarget& operator=(const GLTarget&) = delete;

    // Binds the framebuffer and sets the viewport to all of it.
    void bind() const;
    GLuint framebuffer() const { return framebuffer_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // All of its pixels, rows top-down.
    platform::PixelBuffer read() const;
    // 0xRRGGBBAA at (x, y) in GL's coordinates (origin bottom-left).
    std::uint32_t pixelAt(int x, int y) const;

private:
    int width_, height_;
    GLuint framebuffer_ = 0, color_ = 0, depth_ = 0;
};

// 0xRRGGBBAA of the bound read framebuffer at (x, y), GL coordinates (origin bottom-left).
std::uint32_t readPixel(int x, int y);

// Compares two 0xRRGGBBAA colours channel by channel within a tolerance.
::testing::AssertionResult colorNear(std::uint32_t actual, std::uint32_t expected, int tolerance = 2);

// Counts the calls made through glCheck while it lives (one counter at a time).
class GLCallCounter {
public:
    GLCallCounter();
    ~GLCallCounter();
    GLCallCounter(const GLCallCounter&) = delete;
    GLCallCounter& operator=(const GLCallCounter&) = delete;

    // Calls of one GL function, by name ("glDrawArrays", "glBindVertexArrayOES").
    std::size_t count(const std::string& function) const;
    std::size_t total() const;
    // The texts of the calls, in order.
    std::vector<std::string> calls() const;
    void reset();

private:
    static void note(const char* call, void* self);
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

// A laid-out GL view of the given size in points and scale; RGBA8 unless told otherwise. Its
// context is current when it returns. Null when the view cannot be made.
platform::Ref<CCGLView> makeGLView(CGSize points, double scale = 1.0,
                                   const std::string& format = kEAGLColorFormatRGBA8,
                                   std::uint32_t depthFormat = 0, bool multiSampling = false,
                                   std::uint32_t samples = 0);
// An RGBA8 view laid out the same way in a share group of its own.
platform::Ref<CCGLView> makeGLViewInNewGroup(CGSize points);

// Whether Mesa hands deleted names out again in this process, as most GL drivers do: the driver
// option force_gl_names_reuse, read once, when the process makes its first context.
bool namesReused();
// Runs the current test again in a child process that reuses names; its exit status, 0 when it
// passed.
int rerunReusingNames();

// Base fixture for tests that draw: the shared context current and clean GL state before each
// test, the content scale factor back at 1, log lines captured.
class GLTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Log lines printed since SetUp.
    std::vector<std::string> logLines;
};

} // namespace fltest
