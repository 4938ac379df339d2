#include "tests/support/GLTestSupport.h"

#include "core/ccGLStateCache.h"
#include "platform/Device.h"
#include "platform/GLCheck.h"
#include "platform/GLExtensions.h"
#include "platform/Log.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string_view>

extern char** environ;

namespace fltest {

platform::GLContext* sharedGLContext() {
    static platform::Ref<platform::GLContext> context =
        platform::GLContext::contextWithAPI(platform::kEAGLRenderingAPIOpenGLES2);
    return context.get();
}

platform::GLContext* useSharedGLContext() {
    platform::GLContext* context = sharedGLContext();
    if (!context || !platform::GLContext::setCurrentContext(context)) {
        ADD_FAILURE() << "no headless GL context";
        return nullptr;
    }
    return context;
}

void resetGLState() {
    const platform::GLExtensions& ext = platform::glExtensions();
    if (ext.glBindVertexArrayOES) ext.glBindVertexArrayOES(0);
    glUseProgram(0);
    for (GLuint unit = 0; unit < kCCMaxActiveTexture; ++unit) {
        glActiveTexture(GL_TEXTURE0 + unit);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    glActiveTexture(GL_TEXTURE0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    for (GLuint attrib = 0; attrib < 3; ++attrib)
        glDisableVertexAttribArray(attrib);
    glDisable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_SCISSOR_TEST);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glClearColor(0, 0, 0, 0);
    while (glGetError() != GL_NO_ERROR) {
    }
    // The cache now matches GL: nothing known but the unbound vertex array object.
    glCacheInvalidate();
    glCacheBindVAO(0);
}

GLTarget::GLTarget(int width, int height, bool depthStencil) : width_(width), height_(height) {
    glGenFramebuffers(1, &framebuffer_);
    glGenRenderbuffers(1, &color_);
    glBindRenderbuffer(GL_RENDERBUFFER, color_);
    glRenderbufferStorage(GL_RENDERBUFFER, platform::kGLRGBA8, width, height);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color_);
    if (depthStencil) {
        glGenRenderbuffers(1, &depth_);
        glBindRenderbuffer(GL_RENDERBUFFER, depth_);
        glRenderbufferStorage(GL_RENDERBUFFER, platform::kGLDepth24Stencil8, width, height);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth_);
    }
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    bind();
}

GLTarget::~GLTarget() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer_);
    glDeleteRenderbuffers(1, &color_);
    if (depth_) glDeleteRenderbuffers(1, &depth_);
}

void GLTarget::bind() const {
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, width_, height_);
}

platform::PixelBuffer GLTarget::read() const {
    GLint old = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &old);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    platform::PixelBuffer pixels = platform::readFramebufferPixels(0, 0, width_, height_);
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(old));
    return pixels;
}

std::uint32_t GLTarget::pixelAt(int x, int y) const {
    return read().pixel(x, height_ - 1 - y);
}

std::uint32_t readPixel(int x, int y) {
    return platform::readFramebufferPixels(x, y, 1, 1).pixel(0, 0);
}

::testing::AssertionResult colorNear(std::uint32_t actual, std::uint32_t expected, int tolerance) {
    for (int shift = 0; shift < 32; shift += 8) {
        int a = static_cast<int>((actual >> shift) & 0xFF), e = static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(a - e) > tolerance)
            return ::testing::AssertionFailure()
                   << platform::format("0x%08X is not 0x%08X (within %d)", actual, expected, tolerance);
    }
    return ::testing::AssertionSuccess();
}

GLCallCounter::GLCallCounter() {
    platform::setGLCallHook(&GLCallCounter::note, this);
}

GLCallCounter::~GLCallCounter() {
    platform::setGLCallHook(nullptr, nullptr);
}

void GLCallCounter::note(const char* call, void* self) {
    auto* counter = static_cast<GLCallCounter*>(self);
    std::lock_guard lock(counter->mutex_);
    counter->calls_.emplace_back(call);
}

std::size_t GLCallCounter::count(const std::string& function) const {
    std::lock_guard lock(mutex_);
    // "glEnable(" must not count "glEnableVertexAttribArray(...)": match the name with its
    // opening parenthesis, after a non-identifier character.
    std::string needle = function + "(";
    std::size_t n = 0;
    for (const std::string& call : calls_) {
        for (std::size_t at = call.find(needle); at != std::string::npos; at = call.find(needle, at + 1)) {
            char before = at ? call[at - 1] : ' ';
            if (!(std::isalnum(static_cast<unsigned char>(before)) || before == '_')) {
                ++n;
                break;
            }
        }
    }
    return n;
}

std::size_t GLCallCounter::total() const {
    std::lock_guard lock(mutex_);
    return calls_.size();
}

std::vector<std::string> GLCallCounter::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void GLCallCounter::reset() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

namespace {

platform::Ref<CCGLView> laidOutView(CGSize points, double scale, const std::string& format,
                                    std::uint32_t depthFormat, platform::ShareGroup* group, bool multiSampling,
                                    std::uint32_t samples) {
    auto view = platform::make<CCGLView>();
    view->setContentScaleFactor(scale);
    if (!view->initWithFrame(CGRect{CGPointZero, points}, format, depthFormat, false, group, multiSampling,
                             samples))
        return nullptr;
    view->layoutIfNeeded();
    return view;
}

} // namespace

platform::Ref<CCGLView> makeGLView(CGSize points, double scale, const std::string& format,
                                   std::uint32_t depthFormat, bool multiSampling, std::uint32_t samples) {
    // Every test view joins the shared context's group, as a game's views would share one: GL
    // objects the caches made under an earlier view stay valid under the next.
    platform::GLContext* shared = sharedGLContext();
    return laidOutView(points, scale, format, depthFormat, shared ? shared->sharegroup() : nullptr,
                       multiSampling, samples);
}

platform::Ref<CCGLView> makeGLViewInNewGroup(CGSize points) {
    return laidOutView(points, 1.0, kEAGLColorFormatRGBA8, 0, nullptr, false, 0);
}

namespace {
constexpr std::string_view kNamesReuse = "force_gl_names_reuse=";
}

bool namesReused() {
    const char* value = std::getenv(std::string(kNamesReuse.substr(0, kNamesReuse.size() - 1)).c_str());
    return value && std::string_view(value) == "true";
}

int rerunReusingNames() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        if (!std::string_view(*entry).starts_with(kNamesReuse)) environment.emplace_back(*entry);
    environment.push_back(std::string(kNamesReuse) + "true");
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    char* argv[] = {self.data(), filter.data(), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void GLTest::SetUp() {
    platform::setContentScaleFactor(1.0f);
    platform::Device::setCurrent(platform::DeviceProfile::phone());
    platform::setLogSink([this](const std::string& line) { logLines.push_back(line); });
    ASSERT_NE(useSharedGLContext(), nullptr);
    resetGLState();
}

void GLTest::TearDown() {
    platform::setLogSink({});
    CCGLView::setReshapeProjectionHook({});
    useSharedGLContext();
}

} // namespace fltest
