#include "core/CCGLView.h"

#include "core/CCConfiguration.h"
#include "core/CCDirector.h"
#include "core/CCLayer.h"
#include "core/CCScene.h"
#include "core/CCShaderCache.h"
#include "actions/CCActionGrid3D.h"
#include "graphics/CCDrawNode.h"
#include "graphics/CCLabelTTF.h"
#include "graphics/CCRenderTexture.h"
#include "graphics/CCSprite.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureCache.h"
#include "platform/Image.h"
#include "platform/Format.h"
#include "platform/GLCheck.h"
#include "platform/GLExtensions.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/GLTestSupport.h"

#include <algorithm>
#include <array>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using platform::Ref;

constexpr GLenum kDepth16 = 0x81A5;
constexpr GLenum kDepth24 = 0x81A6;
constexpr GLenum kDepth24Stencil8 = 0x88F0;

GLint integer(GLenum name) {
    GLint value = -1;
    glGetIntegerv(name, &value);
    return value;
}

// The name attached at `point` of the bound framebuffer, 0 for none (ES 2 answers nothing but the
// type for an empty point).
GLint attachedName(GLenum point) {
    GLint type = -1, name = -1;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, point, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE,
                                          &type);
    if (type == GL_NONE) return 0;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, point, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME,
                                          &name);
    return name;
}

constexpr const char* kNoMultisample =
    "this context has no multisample renderbuffers: the view draws single-sampled";

GLint renderbufferParameter(GLuint renderbuffer, GLenum what) {
    GLint value = -1;
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffer);
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, what, &value);
    return value;
}

// Clears the bottom-left quarter of the surface to one colour and the rest to another.
void drawQuarters(CCGLView* view, const float rest[4], const float corner[4]) {
    CGSize size = view->surfaceSize();
    glViewport(0, 0, static_cast<GLsizei>(size.width), static_cast<GLsizei>(size.height));
    glClearColor(rest[0], rest[1], rest[2], rest[3]);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, static_cast<GLsizei>(size.width / 2), static_cast<GLsizei>(size.height / 2));
    glClearColor(corner[0], corner[1], corner[2], corner[3]);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
}

struct RecordingDelegate : CCTouchDelegate {
    std::vector<std::string> phases;
    const platform::TouchSet* lastTouches = nullptr;
    platform::Event* lastEvent = nullptr;
    void record(const char* phase, const platform::TouchSet& touches, platform::Event* event) {
        phases.emplace_back(phase);
        lastTouches = &touches;
        lastEvent = event;
    }
    void touchesBegan(const platform::TouchSet& t, platform::Event* e) override { record("began", t, e); }
    void touchesMoved(const platform::TouchSet& t, platform::Event* e) override { record("moved", t, e); }
    void touchesEnded(const platform::TouchSet& t, platform::Event* e) override { record("ended", t, e); }
    void touchesCancelled(const platform::TouchSet& t, platform::Event* e) override {
        record("cancelled", t, e);
    }
};

class GLViewTest : public fltest::GLTest {};

TEST_F(GLViewTest, PlainFrameGivesSixteenBitColourWithoutDepthOrMultisampling) {
    Ref<CCGLView> view = CCGLView::viewWithFrame(CGRectMake(0, 0, 32, 24));
    ASSERT_TRUE(view);
    EXPECT_EQ(view->pixelFormat(), "EAGLColorFormat565");
    EXPECT_EQ(view->depthFormat(), 0u);
    EXPECT_FALSE(view->multiSampling());
    EXPECT_TRUE(view->layer()->isOpaque());
    EXPECT_EQ(view->layer()->drawableProperties().colorFormat, "EAGLColorFormat565");
    EXPECT_FALSE(view->layer()->drawableProperties().retainedBacking);
    EXPECT_EQ(view->context(), platform::GLContext::currentContext());

    view->layoutIfNeeded();
    CCES2Renderer* renderer = view->renderer();
    EXPECT_EQ(renderer->msaaFrameBuffer(), 0u);
    EXPECT_EQ(renderer->depthBuffer(), 0u);
    EXPECT_EQ(renderbufferParameter(renderer->colorRenderBuffer(), GL_RENDERBUFFER_INTERNAL_FORMAT), 0x8D62);
    EXPECT_EQ(view->surfaceSize(), CGSizeMake(32, 24));
    EXPECT_EQ(renderer->description(),
              platform::format("<CCES2Renderer = %p | size = 32x24>", static_cast<const void*>(renderer)));

    EXPECT_EQ(view->convertPixelFormat("EAGLColorFormat565"), 0x8D62u);
    EXPECT_EQ(view->convertPixelFormat("EAGLColorFormatRGBA8"), 0x8058u);
    EXPECT_EQ(view->convertPixelFormat("anything else"), 0x8058u);
}

TEST_F(GLViewTest, ShorterFactoriesKeepTheirDefaults) {
    Ref<CCGLView> rgba = CCGLView::viewWithFrame(CGRectMake(0, 0, 8, 8), kEAGLColorFormatRGBA8);
    ASSERT_TRUE(rgba);
    EXPECT_EQ(rgba->pixelFormat(), "EAGLColorFormatRGBA8");
    EXPECT_EQ(rgba->depthFormat(), 0u);
    Ref<CCGLView> depth = CCGLView::viewWithFrame(CGRectMake(0, 0, 8, 8), kEAGLColorFormatRGBA8, kDepth24);
    ASSERT_TRUE(depth);
    EXPECT_EQ(depth->depthFormat(), kDepth24);
    EXPECT_FALSE(depth->multiSampling());

    auto coded = platform::make<CCGLView>();
    coded->setFrame(CGRectMake(0, 0, 20, 10));
    ASSERT_TRUE(coded->initWithCoder(nullptr));
    EXPECT_EQ(coded->pixelFormat(), "EAGLColorFormat565");
    EXPECT_EQ(coded->surfaceSize(), CGSizeMake(20, 10)) << "the layer's size before any layout";
}

class GLViewFormatTest : public fltest::GLTest,
                         public ::testing::WithParamInterface<std::tuple<const char*, GLenum, bool>> {};

TEST_P(GLViewFormatTest, FramebufferIsCompleteWithTheAskedBuffers) {
    auto [format, depthFormat, askedMultiSampling] = GetParam();
    bool multiSampling = askedMultiSampling && platform::glExtensions().multisample;
    Ref<CCGLView> view =
        fltest::makeGLView(CGSizeMake(30, 20), 2.0, format, depthFormat, askedMultiSampling, 4);
    ASSERT_TRUE(view);
    CCES2Renderer* renderer = view->renderer();
    EXPECT_TRUE(renderer->resizeFromLayer(view->layer()));
    EXPECT_EQ(view->surfaceSize(), CGSizeMake(60, 40));
    EXPECT_EQ(
        integer(GL_FRAMEBUFFER_BINDING),
        static_cast<GLint>(multiSampling ? renderer->msaaFrameBuffer() : renderer->defaultFrameBuffer()));
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    GLenum colorFormat = view->convertPixelFormat(format);
    EXPECT_EQ(renderbufferParameter(renderer->colorRenderBuffer(), GL_RENDERBUFFER_INTERNAL_FORMAT),
              static_cast<GLint>(colorFormat));
    if (multiSampling) {
        EXPECT_EQ(renderbufferParameter(renderer->msaaColorBuffer(), GL_RENDERBUFFER_INTERNAL_FORMAT),
                  static_cast<GLint>(colorFormat));
    }

    GLint depthName = attachedName(GL_DEPTH_ATTACHMENT);
    GLint stencilName = attachedName(GL_STENCIL_ATTACHMENT);
    if (depthFormat) {
        EXPECT_NE(renderer->depthBuffer(), 0u);
        EXPECT_EQ(depthName, static_cast<GLint>(renderer->depthBuffer()));
        EXPECT_EQ(renderbufferParameter(renderer->depthBuffer(), GL_RENDERBUFFER_INTERNAL_FORMAT),
                  static_cast<GLint>(depthFormat));
        EXPECT_EQ(renderbufferParameter(renderer->depthBuffer(), GL_RENDERBUFFER_WIDTH), 60);
    } else {
        EXPECT_EQ(renderer->depthBuffer(), 0u);
        EXPECT_EQ(depthName, 0);
    }
    EXPECT_EQ(stencilName, depthFormat == kDepth24Stencil8 ? static_cast<GLint>(renderer->depthBuffer()) : 0);
    EXPECT_TRUE(logLines.empty()) << logLines.front();
    if (askedMultiSampling && !multiSampling) GTEST_SKIP() << kNoMultisample;
}

INSTANTIATE_TEST_SUITE_P(ColourDepthAndSamples, GLViewFormatTest,
                         ::testing::Combine(::testing::Values(kEAGLColorFormatRGB565, kEAGLColorFormatRGBA8),
                                            ::testing::Values(0u, kDepth16, kDepth24, kDepth24Stencil8),
                                            ::testing::Bool()));

TEST_F(GLViewTest, PresentedFrameReadsBackTopDownAtTheSurfaceSize) {
    const float blue[4] = {0, 0, 1, 1}, red[4] = {1, 0, 0, 1};
    for (double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        Ref<CCGLView> view = fltest::makeGLView(CGSizeMake(40, 30), scale);
        ASSERT_TRUE(view);
        EXPECT_EQ(view->surfaceSize(), CGSizeMake(40 * scale, 30 * scale));
        drawQuarters(view, blue, red);
        view->swapBuffers();
        const platform::PixelBuffer& frame = view->layer()->presentedFrame();
        ASSERT_EQ(frame.width, static_cast<int>(40 * scale));
        ASSERT_EQ(frame.height, static_cast<int>(30 * scale));
        EXPECT_EQ(frame.pixel(0, 0), 0x0000FFFFu) << "top-left";
        EXPECT_EQ(frame.pixel(0, frame.height - 1), 0xFF0000FFu) << "bottom-left";
        EXPECT_EQ(frame.pixel(frame.width - 1, frame.height - 1), 0x0000FFFFu) << "bottom-right";
        EXPECT_EQ(view->layer()->presentCount(), 1u);
    }
}

TEST_F(GLViewTest, SixteenBitSurfaceQuantisesButReadsBack) {
    Ref<CCGLView> view = fltest::makeGLView(CGSizeMake(8, 8), 1.0, kEAGLColorFormatRGB565);
    ASSERT_TRUE(view);
    glClearColor(1, 0.5f, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    view->swapBuffers();
    EXPECT_TRUE(fltest::colorNear(view->layer()->presentedFrame().pixel(3, 3), 0xFF8000FF, 5));
}

TEST_F(GLViewTest, MultisampledFrameIsResolvedOnSwap) {
    Ref<CCGLView> view = fltest::makeGLView(CGSizeMake(16, 16), 1.0, kEAGLColorFormatRGBA8, 0, true, 8);
    ASSERT_TRUE(view);
    CCES2Renderer* renderer = view->renderer();
    bool multisample = platform::glExtensions().multisample;
    if (multisample) {
        EXPECT_EQ(renderer->samplesToUse(), std::min<std::uint32_t>(8, integer(platform::kGLMaxSamples)));
        EXPECT_EQ(renderbufferParameter(renderer->msaaColorBuffer(), 0x8CAB /* GL_RENDERBUFFER_SAMPLES */),
                  static_cast<GLint>(renderer->samplesToUse()));
        EXPECT_GT(renderer->samplesToUse(), 1u);
    } else {
        EXPECT_EQ(renderer->msaaFrameBuffer(), 0u);
    }

    // Drawing goes to the multisample framebuffer; the default one only sees the resolve.
    GLuint drawnInto = multisample ? renderer->msaaFrameBuffer() : renderer->defaultFrameBuffer();
    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING), static_cast<GLint>(drawnInto));
    const float green[4] = {0, 1, 0, 1}, white[4] = {1, 1, 1, 1};
    drawQuarters(view, green, white);
    view->swapBuffers();
    const platform::PixelBuffer& frame = view->layer()->presentedFrame();
    EXPECT_EQ(frame.pixel(12, 2), 0x00FF00FFu);
    EXPECT_EQ(frame.pixel(2, 12), 0xFFFFFFFFu);
    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING), static_cast<GLint>(drawnInto)) << "ready for the next frame";

    // A second frame goes through the same way.
    drawQuarters(view, white, green);
    view->swapBuffers();
    EXPECT_EQ(view->layer()->presentedFrame().pixel(12, 2), 0xFFFFFFFFu);
    EXPECT_EQ(view->layer()->presentCount(), 2u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    if (!multisample) GTEST_SKIP() << kNoMultisample;
}

TEST_F(GLViewTest, RetainedBackingStartsTheNextFrameFromThePresentedOne) {
    auto view = platform::make<CCGLView>();
    ASSERT_TRUE(view->initWithFrame(CGRectMake(0, 0, 16, 16), kEAGLColorFormatRGBA8, 0, true,
                                    fltest::sharedGLContext()->sharegroup(), false, 0));
    view->layoutIfNeeded();
    const float blue[4] = {0, 0, 1, 1}, red[4] = {1, 0, 0, 1};
    drawQuarters(view, blue, red);
    view->swapBuffers();
    // Each later frame draws one more corner only: top-right white, then bottom-right green.
    glEnable(GL_SCISSOR_TEST);
    for (GLint y : {8, 0}) {
        glScissor(8, y, 8, 8);
        glClearColor(y ? 1.0f : 0.0f, 1, y ? 1.0f : 0.0f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        view->swapBuffers();
    }
    glDisable(GL_SCISSOR_TEST);
    const platform::PixelBuffer& frame = view->layer()->presentedFrame();
    EXPECT_EQ(frame.pixel(12, 2), 0xFFFFFFFFu);
    EXPECT_EQ(frame.pixel(12, 12), 0x00FF00FFu);
    EXPECT_EQ(frame.pixel(2, 2), 0x0000FFFFu);
    EXPECT_EQ(frame.pixel(2, 12), 0xFF0000FFu);
}

// Step `i` of a picture drawn piece by piece: a clear with alpha, then each step a scissored
// rectangle and, on odd steps, a clear of blue and alpha alone that leaves red and green as
// they were.
void drawStep(int i) {
    if (i == 0) {
        glClearColor(0.1f, 0.2f, 0.3f, 0.4f);
        glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    glEnable(GL_SCISSOR_TEST);
    glScissor(i * 3, i * 2, 8, 6);
    glClearColor(0.15f * i, 1 - 0.1f * i, 0.5f, 0.2f * i);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    if (i % 2) {
        glColorMask(GL_FALSE, GL_FALSE, GL_TRUE, GL_TRUE);
        glClearColor(0, 0, 0.1f * i, 1 - 0.1f * i);
        glClear(GL_COLOR_BUFFER_BIT);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    }
}

// A node drawing one step of the picture in the director's frame.
struct StepDrawer : CCNode {
    int step = 0;
    void draw() override {
        glDisable(GL_SCISSOR_TEST); // left on for the director's clear
        drawStep(step);
    }
};

TEST_F(GLViewTest, RetainedBackingFramesEqualThePictureDrawnWholeEachFrame) {
    // Frames drawn by hand and by the director. The director's frame starts with a clear: clipped
    // to nothing, it leaves the carried frame; over the whole buffer, in the colour of step 0, it
    // starts the picture anew. By hand right after the director, and the director twice in a row.
    enum Frame { kByHand, kDirector, kDirectorClearingAll };
    const Frame frames[] = {kByHand, kDirector, kDirector, kDirectorClearingAll,
                            kByHand, kDirector, kDirector};
    struct EngineReset {
        ~EngineReset() { fltest::resetEngineState(); }
    } reset;
    CCDirector* director = CCDirector::sharedDirector();
    director->setDisplayStats(false);
    auto drawer = platform::make<StepDrawer>();
    auto scene = CCScene::node();
    scene->addChild(drawer.get());
    platform::ShareGroup* group = fltest::sharedGLContext()->sharegroup();
    for (const char* format : {kEAGLColorFormatRGBA8, kEAGLColorFormatRGB565})
        for (bool multiSampling : {false, true})
            for (bool keeping : {true, false}) {
                SCOPED_TRACE(testing::Message() << format << " " << multiSampling << " " << keeping);
                auto retained = platform::make<CCGLView>();
                ASSERT_TRUE(retained->initWithFrame(CGRectMake(0, 0, 24, 16), format, 0, true, group,
                                                    multiSampling, 4));
                retained->layoutIfNeeded();
                retained->layer()->setKeepsPresentedFrame(keeping);
                director->setView(retained.get());
                if (!director->runningScene()) director->runWithScene(scene.get());
                // Read in the view's context, current throughout: another made current would
                // carry a waiting frame before the director's next frame does.
                std::vector<platform::PixelBuffer> presented;
                for (int frame = 0; frame < static_cast<int>(std::size(frames)); ++frame) {
                    if (frames[frame] == kByHand) {
                        platform::GLContext::setCurrentContext(retained->context());
                        drawStep(frame);
                        retained->swapBuffers();
                    } else {
                        glEnable(GL_SCISSOR_TEST);
                        glScissor(0, 0, 0, 0);
                        if (frames[frame] == kDirectorClearingAll) {
                            glDisable(GL_SCISSOR_TEST);
                            glClearColor(0.1f, 0.2f, 0.3f, 0.4f);
                        }
                        drawer->step = frame;
                        director->drawScene();
                    }
                    ASSERT_EQ(platform::GLContext::currentContext(), retained->context());
                    presented.push_back(keeping ? retained->layer()->presentedFrame()
                                                : retained->layer()->readPixels());
                }
                Ref<CCGLView> whole = fltest::makeGLView(CGSizeMake(24, 16), 1.0, format);
                ASSERT_TRUE(whole);
                std::vector<int> steps;
                for (int frame = 0; frame < static_cast<int>(std::size(frames)); ++frame) {
                    if (frames[frame] == kDirectorClearingAll) steps = {0};
                    steps.push_back(frame);
                    platform::GLContext::setCurrentContext(whole->context());
                    for (int step : steps)
                        drawStep(step);
                    whole->swapBuffers();
                    const platform::PixelBuffer& expected = whole->layer()->presentedFrame();
                    ASSERT_EQ(expected.width, 24);
                    EXPECT_TRUE(presented[frame].rgba == expected.rgba) << "frame " << frame;
                }
                platform::GLContext::setCurrentContext(retained->context());
                EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
            }
}

// Clears the view's surface to one colour in its own context and presents it.
void presentColour(CCGLView* view, float red, float green, float blue) {
    platform::GLContext::setCurrentContext(view->context());
    glClearColor(red, green, blue, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    view->swapBuffers();
}

TEST_F(GLViewTest, PresentedFrameOutlivesItsView) {
    // Either of the two buffers may hold the last frame; the frames before it are blue.
    for (int presents : {1, 2, 3}) {
        SCOPED_TRACE(presents);
        Ref<CCGLView> view = fltest::makeGLView(CGSizeMake(8, 8));
        ASSERT_TRUE(view);
        for (int i = 1; i <= presents; ++i)
            presentColour(view, i == presents ? 1 : 0, 0, i == presents ? 0 : 1);
        Ref<platform::Drawable> layer(view->layer());
        view = nullptr;
        fltest::useSharedGLContext();
        EXPECT_EQ(layer->presentedFrame().pixel(1, 1), 0xFF0000FFu);
    }
}

TEST_F(GLViewTest, PresentedFrameIsTheLastWhicheverContextIsCurrent) {
    Ref<CCGLView> view = fltest::makeGLView(CGSizeMake(8, 8));
    Ref<CCGLView> apart = CCGLView::viewWithFrame(CGRectMake(0, 0, 8, 8)); // a share group of its own
    ASSERT_TRUE(view && apart);
    const platform::Drawable& layer = *view->layer();
    presentColour(view, 0, 0, 1);
    EXPECT_EQ(layer.presentedFrame().pixel(1, 1), 0x0000FFFFu);

    presentColour(view, 1, 0, 0);
    ASSERT_TRUE(platform::GLContext::setCurrentContext(nullptr));
    EXPECT_EQ(layer.presentedFrame().pixel(1, 1), 0xFF0000FFu);
    EXPECT_EQ(platform::GLContext::currentContext(), nullptr);

    presentColour(view, 0, 1, 0);
    ASSERT_TRUE(platform::GLContext::setCurrentContext(apart->context()));
    GLint framebuffer = integer(GL_FRAMEBUFFER_BINDING);
    EXPECT_EQ(layer.presentedFrame().pixel(1, 1), 0x00FF00FFu);
    EXPECT_EQ(platform::GLContext::currentContext(), apart->context());
    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING), framebuffer) << "the asker's context as it was";
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(GLViewTest, SwapDiscardsOnlyWhatIsNotKept) {
    struct Case {
        GLenum depth;
        bool multiSampling;
        std::size_t discards;
    };
    ASSERT_TRUE(CCConfiguration::sharedConfiguration()->supportsDiscardFramebuffer());
    bool multisample = platform::glExtensions().multisample;
    for (Case c :
         {Case{0, false, 0}, Case{kDepth24, false, 1}, Case{0, true, 1}, Case{kDepth24Stencil8, true, 1}}) {
        SCOPED_TRACE(testing::Message() << c.depth << " " << c.multiSampling);
        Ref<CCGLView> view =
            fltest::makeGLView(CGSizeMake(8, 8), 1.0, kEAGLColorFormatRGBA8, c.depth, c.multiSampling, 4);
        ASSERT_TRUE(view);
        if (c.multiSampling && !multisample) c = {c.depth, false, c.depth ? 1u : 0u}; // drawn single-sampled
        fltest::GLCallCounter calls;
        view->swapBuffers();
        EXPECT_EQ(calls.count("glDiscardFramebufferEXT"), c.discards);
        EXPECT_EQ(calls.count("resolveMultisampleFramebuffer"), c.multiSampling ? 1u : 0u);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        if (c.multiSampling && c.discards) {
            // Colour alone without a depth buffer, colour and depth with one.
            std::string call;
            for (const std::string& text : calls.calls())
                if (text.find("glDiscardFramebufferEXT") != std::string::npos) call = text;
            EXPECT_NE(call.find(c.depth ? ", 2," : ", 1,"), std::string::npos) << call;
        }
        EXPECT_EQ(view->layer()->presentCount(), 1u);
    }
    if (!multisample) GTEST_SKIP() << kNoMultisample;
}

TEST_F(GLViewTest, LayoutResizesAndReportsTheSurfaceSize) {
    std::vector<CGSize> reported;
    CCGLView::setReshapeProjectionHook([&](CCGLView*, CGSize size) { reported.push_back(size); });
    Ref<CCGLView> view = fltest::makeGLView(CGSizeMake(20, 10), 2.0);
    ASSERT_TRUE(view);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0], CGSizeMake(40, 20));

    view->layoutIfNeeded();
    EXPECT_EQ(reported.size(), 1u) << "nothing changed";
    view->setFrame(CGRectMake(0, 0, 30, 15));
    view->layoutIfNeeded();
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[1], CGSizeMake(60, 30));
    view->swapBuffers();
    EXPECT_EQ(view->layer()->presentedFrame().width, 60);
}

TEST_F(GLViewTest, PendingGLErrorIsPrintedDuringResize) {
    Ref<CCGLView> view = fltest::makeGLView(CGSizeMake(8, 8), 1.0);
    ASSERT_TRUE(view);
    logLines.clear();
    glEnable(0xFFFF); // GL_INVALID_ENUM
    view->renderer()->resizeFromLayer(view->layer());
    ASSERT_EQ(logLines.size(), 1u);
    EXPECT_EQ(logLines[0], "OpenGL error 0x0500 in -[CCES2Renderer resizeFromLayer:] 140");
}

TEST_F(GLViewTest, EmptyLayerGivesAnIncompleteFramebufferNotACrash) {
    for (bool multiSampling : {false, true}) {
        Ref<CCGLView> view =
            fltest::makeGLView(CGSizeZero, 1.0, kEAGLColorFormatRGBA8, kDepth24Stencil8, multiSampling, 4);
        ASSERT_TRUE(view);
        EXPECT_FALSE(view->renderer()->resizeFromLayer(view->layer()));
        EXPECT_EQ(view->surfaceSize(), CGSizeZero);
        view->swapBuffers();
        EXPECT_TRUE(view->layer()->presentedFrame().empty());
    }
}

TEST_F(GLViewTest, ConvertsViewPointsAndRectsToSurfacePixels) {
    Ref<CCGLView> view = fltest::makeGLView(CGSizeMake(320, 480), 2.0);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->surfaceSize(), CGSizeMake(640, 960));
    EXPECT_EQ(view->convertPointFromViewToSurface(CGPointMake(160, 240)), CGPointMake(320, 480));
    EXPECT_EQ(view->convertRectFromViewToSurface(CGRectMake(10, 20, 30, 40)), CGRectMake(20, 40, 60, 80));
    view->setBounds(CGRectMake(100, 0, 320, 480));
    EXPECT_EQ(view->convertPointFromViewToSurface(CGPointMake(260, 240)), CGPointMake(320, 480));

    auto empty = fltest::makeGLView(CGSizeZero);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->convertPointFromViewToSurface(CGPointMake(5, 5)), CGPointZero);
    EXPECT_EQ(empty->convertRectFromViewToSurface(CGRectMake(1, 1, 5, 5)), CGRectZero);
}

TEST_F(GLViewTest, TouchesGoToTheDelegateAndAreDroppedWithoutOne) {
    Ref<CCGLView> view = fltest::makeGLView(CGSizeMake(8, 8));
    ASSERT_TRUE(view);
    platform::TouchSet touches;
    touches.add(platform::make<platform::Touch>(view.get(), CGPointMake(1, 2), 0.0).get());
    auto event = platform::make<platform::Event>(0.0);
    view->touchesBegan(touches, event.get()); // no delegate: nothing happens

    RecordingDelegate delegate;
    view->setTouchDelegate(&delegate);
    EXPECT_EQ(view->touchDelegate(), &delegate);
    view->touchesBegan(touches, event.get());
    view->touchesMoved(touches, event.get());
    view->touchesEnded(touches, event.get());
    view->touchesCancelled(touches, event.get());
    EXPECT_EQ(delegate.phases, (std::vector<std::string>{"began", "moved", "ended", "cancelled"}));
    EXPECT_EQ(delegate.lastTouches, &touches);
    EXPECT_EQ(delegate.lastEvent, event.get());
    view->setTouchDelegate(nullptr);
    view->touchesEnded(touches, event.get());
    EXPECT_EQ(delegate.phases.size(), 4u);
}

TEST_F(GLViewTest, ReleasingTheViewDeletesItsBuffersInItsOwnContext) {
    platform::GLContext* shared = fltest::sharedGLContext();
    Ref<CCGLView> view = CCGLView::viewWithFrame(CGRectMake(0, 0, 8, 8), kEAGLColorFormatRGBA8,
                                                 kDepth24Stencil8, false, shared->sharegroup(), true, 4);
    ASSERT_TRUE(view);
    view->layoutIfNeeded();
    CCES2Renderer* renderer = view->renderer();
    std::vector<GLuint> renderbuffers;
    for (GLuint name : {renderer->colorRenderBuffer(), renderer->depthBuffer(), renderer->msaaColorBuffer()})
        if (name) renderbuffers.push_back(name); // no multisample buffer where the context has none

    // Another context current: the view's buffers go, that context stays current.
    fltest::useSharedGLContext();
    GLuint mine = 0;
    glGenRenderbuffers(1, &mine);
    glBindRenderbuffer(GL_RENDERBUFFER, mine);
    for (GLuint name : renderbuffers)
        EXPECT_TRUE(glIsRenderbuffer(name));
    view = nullptr;
    EXPECT_EQ(platform::GLContext::currentContext(), shared);
    for (GLuint name : renderbuffers)
        EXPECT_FALSE(glIsRenderbuffer(name)) << name;
    EXPECT_TRUE(glIsRenderbuffer(mine));
    glDeleteRenderbuffers(1, &mine);

    // Its own context current: none is current afterwards.
    view = fltest::makeGLView(CGSizeMake(8, 8));
    ASSERT_TRUE(view);
    EXPECT_EQ(platform::GLContext::currentContext(), view->context());
    view = nullptr;
    EXPECT_EQ(platform::GLContext::currentContext(), nullptr);

    // No context current at all: harmless.
    view = fltest::makeGLView(CGSizeMake(8, 8));
    ASSERT_TRUE(platform::GLContext::setCurrentContext(nullptr));
    view = nullptr;
    EXPECT_EQ(platform::GLContext::currentContext(), nullptr);
}

TEST_F(GLViewTest, ViewsInOneShareGroupSeeEachOthersTextures) {
    Ref<CCGLView> first = fltest::makeGLView(CGSizeMake(8, 8));
    ASSERT_TRUE(first);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    Ref<CCGLView> second = CCGLView::viewWithFrame(CGRectMake(0, 0, 8, 8), kEAGLColorFormatRGBA8, 0, false,
                                                   first->context()->sharegroup(), false, 0);
    Ref<CCGLView> apart = CCGLView::viewWithFrame(CGRectMake(0, 0, 8, 8));
    ASSERT_TRUE(second && apart);
    EXPECT_EQ(second->context()->sharegroup(), first->context()->sharegroup());
    platform::GLContext::setCurrentContext(second->context());
    EXPECT_TRUE(glIsTexture(texture));
    platform::GLContext::setCurrentContext(apart->context());
    EXPECT_FALSE(glIsTexture(texture));
    platform::GLContext::setCurrentContext(first->context());
    glDeleteTextures(1, &texture);
}

// Frames drawn by the director on a 40 x 30 view whose scene is one colour layer.
class PresentTest : public fltest::EngineGLTest {
protected:
    CGSize viewSize() const override { return CGSizeMake(40, 30); }
    void SetUp() override {
        fltest::EngineGLTest::SetUp();
        scene = CCScene::node();
        layer = CCLayerColor::layerWithColor(ccc4(255, 0, 0, 255));
        scene->addChild(layer.get());
        director()->runWithScene(scene.get());
    }
    Ref<CCScene> scene;
    Ref<CCLayerColor> layer;
};

TEST_F(PresentTest, FramesNobodyReadsNeitherWaitForTheGLNorReadBack) {
    std::uint64_t before = view()->layer()->presentCount();
    fltest::GLCallCounter calls;
    for (int i = 0; i < 3; ++i)
        director()->drawScene();
    EXPECT_EQ(view()->layer()->presentCount(), before + 3);
    EXPECT_EQ(calls.count("glFinish"), 0u);
    EXPECT_EQ(calls.count("glReadPixels"), 0u);
}

TEST_F(PresentTest, AskingForAFrameReadsItBackOnce) {
    director()->drawScene();
    director()->drawScene();
    fltest::GLCallCounter calls;
    EXPECT_EQ(view()->layer()->presentedFrame().pixel(1, 1), 0xFF0000FFu);
    EXPECT_EQ(view()->layer()->presentedFrame().width, 40);
    EXPECT_EQ(calls.count("glReadPixels"), 1u);
}

// A node that asks for the presented frame while the next frame is being drawn.
struct FrameAsker : CCNode {
    platform::PixelBuffer seen;
    void draw() override { seen = CCDirector::sharedDirector()->view()->layer()->presentedFrame(); }
};

TEST_F(PresentTest, FrameAskedForDuringTheNextFrameIsTheLastPresented) {
    // The first frame: red on the left, blue on the right.
    auto right = CCLayerColor::layerWithColor(ccc4(0, 0, 255, 255), 20, 30);
    right->setPosition(CGPointMake(20, 0));
    scene->addChild(right.get());
    director()->drawScene();
    platform::PixelBuffer presented = view()->layer()->readPixels();

    // The next frame has turned green by the time the node asks.
    layer->setColor(ccc3(0, 255, 0));
    auto asker = platform::make<FrameAsker>();
    scene->addChild(asker.get());
    director()->drawScene();
    EXPECT_EQ(asker->seen.width, presented.width);
    EXPECT_EQ(asker->seen.height, presented.height);
    EXPECT_TRUE(asker->seen.rgba == presented.rgba) << "pixel for pixel";
    EXPECT_EQ(asker->seen.pixel(1, 1), 0xFF0000FFu);
    EXPECT_EQ(view()->layer()->presentedFrame().pixel(1, 1), 0x00FF00FFu);
}

// A director that holds the last reference to its view.
class PurgeTest : public fltest::EngineTest {
protected:
    void TearDown() override {
        fltest::EngineTest::TearDown();
        fltest::useSharedGLContext();
        fltest::resetGLState();
    }
};

TEST_F(PurgeTest, PurgingTheDirectorBesideASecondViewDeletesTheCachesGLObjects) {
    Ref<CCGLView> surviving = fltest::makeGLView(CGSizeMake(8, 8));
    ASSERT_TRUE(surviving);
    director()->setView(fltest::makeGLView(CGSizeMake(16, 16)).get());
    ASSERT_TRUE(director()->view());
    // The surviving context makes what it refreshes its driver state with now, so that no name
    // the purge deletes comes back for it where names are reused.
    ASSERT_TRUE(platform::GLContext::setCurrentContext(surviving->context()));
    ASSERT_TRUE(platform::GLContext::setCurrentContext(director()->view()->context()));
    GLuint texture = 0, program = 0;
    {
        const std::uint8_t white[4] = {255, 255, 255, 255};
        auto image = platform::Image::imageWithPixels(white, 1, 1, platform::ImageColorSpace::RGB,
                                                      platform::ImageAlphaInfo::Last);
        Ref<CCTexture2D> cached = CCTextureCache::sharedTextureCache()->addCGImage(image.get(), "white");
        ASSERT_TRUE(cached);
        texture = cached->name();
        program =
            CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTextureColor)->program();
        auto scene = CCScene::node();
        scene->addChild(CCSprite::spriteWithTexture(cached.get()).get());
        director()->runWithScene(scene.get());
    }
    director()->drawScene(); // leaves the director's context current

    CCDirector::purgeSharedDirector();
    ASSERT_TRUE(platform::GLContext::setCurrentContext(surviving->context()));
    EXPECT_FALSE(glIsTexture(texture));
    EXPECT_FALSE(glIsProgram(program));

    // The next director draws in the surviving view.
    director()->setView(surviving.get());
    auto scene = CCScene::node();
    scene->addChild(CCLayerColor::layerWithColor(ccc4(255, 0, 0, 255)).get());
    director()->runWithScene(scene.get());
    EXPECT_EQ(surviving->layer()->presentedFrame().pixel(1, 1), 0xFF0000FFu);
}

// Names of each kind the current context knows among the first ones handed out: renderbuffers,
// framebuffers, textures, buffers, programs.
std::array<int, 5> liveNames() {
    std::array<int, 5> live{};
    for (GLuint name = 1; name < 1024; ++name) {
        live[0] += glIsRenderbuffer(name);
        live[1] += glIsFramebuffer(name);
        live[2] += glIsTexture(name);
        live[3] += glIsBuffer(name);
        live[4] += glIsProgram(name);
    }
    return live;
}

TEST_F(PurgeTest, PurgesBesideASurvivingViewLeaveNothingOfThePurgedDirectorsInTheGroup) {
    Ref<CCGLView> surviving = fltest::makeGLView(CGSizeMake(8, 8));
    ASSERT_TRUE(surviving);
    // Current again after another context of the group, the surviving context makes what it
    // refreshes its driver state with, once: its own, counted from the start.
    ASSERT_TRUE(fltest::makeGLView(CGSizeMake(8, 8)));
    ASSERT_TRUE(platform::GLContext::setCurrentContext(surviving->context()));
    std::array<int, 5> before = liveNames();
    for (int round = 0; round < 100; ++round) {
        {
            Ref<CCGLView> view =
                fltest::makeGLView(CGSizeMake(16, 16), 1.0, kEAGLColorFormatRGBA8, kDepth24Stencil8);
            ASSERT_TRUE(view);
            director()->setView(view.get());
            auto scene = CCScene::node();
            auto waving = CCNode::node();
            waving->addChild(CCLabelTTF::labelWithString("A", "Helvetica", 12).get());
            auto dots = CCDrawNode::node();
            dots->drawDot(CGPointMake(4, 4), 2, ccc4f(1, 1, 1, 1));
            waving->addChild(dots.get());
            waving->addChild(CCRenderTexture::renderTextureWithWidth(8, 8).get());
            scene->addChild(waving.get());
            director()->runWithScene(scene.get());
            waving->runAction(CCWaves3D::actionWithDuration(60, CGSizeMake(4, 4), 5, 10).get());
            director()->drawScene();
        }
        // As making or laying out the surviving view leaves it.
        ASSERT_TRUE(platform::GLContext::setCurrentContext(surviving->context()));
        CCDirector::purgeSharedDirector();
    }
    ASSERT_TRUE(platform::GLContext::setCurrentContext(surviving->context()));
    EXPECT_EQ(liveNames(), before);
}

// Textures let go on a worker while the only context of their group, a view's, is current here
// wait for it; once this thread draws the director's view of another group, the director's next
// frame deletes them in that context, free now.
TEST_F(PurgeTest, NamesWaitingForAViewNoLongerPresentedGoAtTheDirectorsNextFrame) {
    Ref<CCGLView> first = fltest::makeGLViewInNewGroup(CGSizeMake(8, 8));
    ASSERT_TRUE(first);
    std::vector<Ref<CCTexture2D>> textures;
    std::vector<GLuint> names;
    const std::uint8_t white[4] = {255, 255, 255, 255};
    for (int i = 0; i < 50; ++i) {
        textures.push_back(platform::make<CCTexture2D>());
        ASSERT_TRUE(textures.back()->initWithData(white, kCCTexture2DPixelFormat_RGBA8888, 1, 1, CGSizeMake(1, 1)));
        names.push_back(textures.back()->name());
    }
    std::thread([&] { textures.clear(); }).join();
    // A null array is refused, whatever the count.
    platform::GLHome::current().deleteObjects(platform::GLObjectKind::Texture, 1, nullptr);

    Ref<CCGLView> second = fltest::makeGLView(CGSizeMake(8, 8));
    ASSERT_TRUE(second);
    director()->setView(second.get());
    director()->drawScene();
    ASSERT_TRUE(platform::GLContext::setCurrentContext(first->context()));
    EXPECT_EQ(std::count_if(names.begin(), names.end(), [](GLuint name) { return glIsTexture(name); }), 0);
}

} // namespace
