#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCLayer.h"
#include "core/CCScene.h"
#include "graphics/CCClippingNode.h"
#include "graphics/CCRenderTexture.h"
#include "graphics/CCSprite.h"
#include "graphics/CCTexture2D.h"
#include "platform/Drawable.h"
#include "platform/GLCheck.h"
#include "platform/GLContext.h"
#include "platform/GLExtensions.h"
#include "platform/Log.h"
#include "platform/View.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/GLTestSupport.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <malloc.h>

#define EGL_NO_X11 1
#include <EGL/egl.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define FL_SANITIZED_HEAP 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define FL_SANITIZED_HEAP 1
#endif
#if FL_SANITIZED_HEAP
// Every sanitizer's runtime has it; gcc ships no header for it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {
// Armed by a test: runs once, inside the next context creation, on the thread making the
// context, after EGL has made it.
std::atomic<const std::function<void()>*> insideContextCreation{nullptr};
} // namespace

// Every context of this program is made through here (the program's own definition comes before
// libEGL's): a test can act while a worker is inside the creation.
extern "C" EGLContext eglCreateContext(EGLDisplay display, EGLConfig config, EGLContext share,
                                       const EGLint* attributes) {
    static const auto create =
        reinterpret_cast<PFNEGLCREATECONTEXTPROC>(dlsym(RTLD_NEXT, "eglCreateContext"));
    EGLContext made = create(display, config, share, attributes);
    if (const std::function<void()>* inside = insideContextCreation.exchange(nullptr)) (*inside)();
    return made;
}

namespace {

using platform::GLContext;
using platform::Ref;

class GLContextTest : public fltest::GLTest {};

TEST_F(GLContextTest, EachThreadHasItsOwnCurrentContext) {
    GLContext* main = fltest::sharedGLContext();
    EXPECT_EQ(GLContext::currentContext(), main);
    EXPECT_EQ(GLContext::currentSerial(), main->serial());
    auto other = GLContext::contextWithAPI(platform::kEAGLRenderingAPIOpenGLES2);
    ASSERT_TRUE(other);
    EXPECT_NE(other->serial(), main->serial());
    EXPECT_NE(other->sharegroup(), main->sharegroup());

    bool stolen = true, ownWorks = false;
    GLContext* seen = main;
    std::uint64_t serialSeen = 1;
    std::thread worker([&] {
        seen = GLContext::currentContext();
        serialSeen = GLContext::currentSerial();
        stolen = GLContext::setCurrentContext(main); // current on the main thread already
        ownWorks = GLContext::setCurrentContext(other.get()) && glGetString(GL_VERSION) != nullptr;
        GLContext::setCurrentContext(nullptr);
    });
    worker.join();
    EXPECT_EQ(seen, nullptr);
    EXPECT_EQ(serialSeen, 0u);
    EXPECT_FALSE(stolen);
    EXPECT_TRUE(ownWorks);
    EXPECT_EQ(GLContext::currentContext(), main) << "the main thread kept its context";
}

TEST_F(GLContextTest, ShareGroupsShareObjectsAndOutliveNoMember) {
    auto first = GLContext::contextWithAPI(platform::kEAGLRenderingAPIOpenGLES2);
    ASSERT_TRUE(first);
    Ref<platform::ShareGroup> group = first->sharegroup();
    auto second = GLContext::contextWithAPI(platform::kEAGLRenderingAPIOpenGLES2, group.get());
    ASSERT_TRUE(second);
    EXPECT_EQ(group->contextCount(), 2u);
    ASSERT_TRUE(GLContext::setCurrentContext(first.get()));
    GLuint buffer = 0;
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    ASSERT_TRUE(GLContext::setCurrentContext(second.get()));
    EXPECT_TRUE(glIsBuffer(buffer));
    glDeleteBuffers(1, &buffer);

    fltest::useSharedGLContext();
    first = nullptr;
    second = nullptr;
    EXPECT_EQ(group->contextCount(), 0u);
    EXPECT_FALSE(GLContext::contextWithAPI(platform::kEAGLRenderingAPIOpenGLES2, group.get()))
        << "a group with no context left cannot be joined";
}

TEST_F(GLContextTest, ExtensionTableComesFromTheExtensionString) {
    const platform::GLExtensions& ext = platform::glExtensions();
    ASSERT_TRUE(ext.loaded);
    EXPECT_TRUE(ext.has("GL_OES_vertex_array_object"));
    EXPECT_FALSE(ext.has("GL_OES_vertex_array"));
    EXPECT_FALSE(ext.has("GL_APPLE_framebuffer_multisample"));
    // Whole names only, first and last included; stray spaces never make the empty name match.
    EXPECT_TRUE(platform::extensionListHas("GL_A GL_B", "GL_A"));
    EXPECT_TRUE(platform::extensionListHas("GL_A GL_B", "GL_B"));
    EXPECT_FALSE(platform::extensionListHas("GL_A GL_B", "GL_"));
    EXPECT_FALSE(platform::extensionListHas("GL_AB", "GL_A"));
    EXPECT_FALSE(platform::extensionListHas("GL_A  GL_B ", ""));
    EXPECT_FALSE(platform::extensionListHas("", "GL_A"));
    EXPECT_TRUE(ext.vertexArrayObject && ext.glGenVertexArraysOES && ext.glBindVertexArrayOES &&
                ext.glDeleteVertexArraysOES);
    EXPECT_TRUE(ext.mapBuffer && ext.glMapBufferOES && ext.glUnmapBufferOES);
    EXPECT_TRUE(ext.discardFramebuffer && ext.glDiscardFramebufferEXT);
    EXPECT_TRUE(ext.packedDepthStencil);
    // Multisample renderbuffers and their blit are core in ES 3, an extension pair before it.
    EXPECT_EQ(ext.multisample, ext.majorVersion >= 3 || (ext.has("GL_ANGLE_framebuffer_multisample") &&
                                                         ext.has("GL_ANGLE_framebuffer_blit")));

    // The loaded entry points work.
    GLuint vao = 0;
    ext.glGenVertexArraysOES(1, &vao);
    ext.glBindVertexArrayOES(vao);
    GLint bound = 0;
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING_OES, &bound);
    EXPECT_EQ(bound, static_cast<GLint>(vao));
    ext.glBindVertexArrayOES(0);
    ext.glDeleteVertexArraysOES(1, &vao);

    GLuint buffer = 0;
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, 16, nullptr, GL_DYNAMIC_DRAW);
    auto* bytes = static_cast<unsigned char*>(ext.glMapBufferOES(GL_ARRAY_BUFFER, GL_WRITE_ONLY_OES));
    ASSERT_NE(bytes, nullptr);
    bytes[0] = 42;
    EXPECT_TRUE(ext.glUnmapBufferOES(GL_ARRAY_BUFFER));
    glDeleteBuffers(1, &buffer);
}

TEST_F(GLContextTest, CheckedCallsAreCountedAndErrorsReported) {
    fltest::GLCallCounter calls;
    glCheck(glEnable(GL_BLEND));
    glCheck(glEnableVertexAttribArray(0));
    glCheck(glDisableVertexAttribArray(0));
    glCheck(glDisable(GL_BLEND));
    EXPECT_EQ(calls.count("glEnable"), 1u);
    EXPECT_EQ(calls.count("glEnableVertexAttribArray"), 1u);
    EXPECT_EQ(calls.total(), 4u);

    EXPECT_FALSE(platform::reportGLError("here.cpp", 1));
    glEnable(0xFFFF);
    EXPECT_TRUE(platform::reportGLError("here.cpp", 12));
    ASSERT_EQ(logLines.size(), 1u);
    EXPECT_EQ(logLines[0], "OpenGL error 0x0500 in here.cpp 12");
#ifndef NDEBUG
    glCheck(glEnable(0xFFFF));
    EXPECT_EQ(logLines.size(), 2u) << "debug builds check every wrapped call";
#endif
}

TEST_F(GLContextTest, DrawableGivesStorageAtItsPixelSize) {
    auto layer = platform::make<platform::Drawable>();
    layer->setBounds(CGRectMake(0, 0, 10.25, 5));
    layer->setContentsScale(2);
    EXPECT_EQ(layer->pixelsWide(), 21);
    EXPECT_EQ(layer->pixelsHigh(), 10);
    EXPECT_EQ(layer->storageFormat(), platform::kGLRGBA8);
    layer->setDrawableProperties({true, platform::kEAGLColorFormatRGB565});
    EXPECT_EQ(layer->storageFormat(), platform::kGLRGB565);

    GLContext* context = GLContext::currentContext();
    EXPECT_FALSE(context->renderbufferStorage(GL_RENDERBUFFER, layer.get())) << "no renderbuffer bound";
    GLuint renderbuffer = 0;
    glGenRenderbuffers(1, &renderbuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffer);
    EXPECT_FALSE(context->presentRenderbuffer(GL_RENDERBUFFER)) << "no drawable behind it";
    ASSERT_TRUE(context->renderbufferStorage(GL_RENDERBUFFER, layer.get()));
    EXPECT_EQ(layer->renderbuffer(), renderbuffer);
    GLint width = 0, format = 0;
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_WIDTH, &width);
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_INTERNAL_FORMAT, &format);
    EXPECT_EQ(width, 21);
    EXPECT_EQ(format, static_cast<GLint>(platform::kGLRGB565));

    // Sizes GL cannot hold, or none at all, are refused.
    layer->setBounds(CGRectMake(0, 0, 1e9, 10));
    EXPECT_FALSE(context->renderbufferStorage(GL_RENDERBUFFER, layer.get()));
    layer->setBounds(CGRectMake(0, 0, -4, 10));
    EXPECT_FALSE(context->renderbufferStorage(GL_RENDERBUFFER, layer.get()));

    // A frame presented with keeping off is counted but not copied.
    layer->setKeepsPresentedFrame(false);
    int observed = 0;
    layer->setPresentObserver([&](const platform::Drawable&) { ++observed; });
    EXPECT_TRUE(context->presentRenderbuffer(GL_RENDERBUFFER));
    EXPECT_EQ(layer->presentCount(), 1u);
    EXPECT_EQ(observed, 1);
    EXPECT_TRUE(layer->presentedFrame().empty());
    EXPECT_EQ(layer->readPixels().width, 21);
    glDeleteRenderbuffers(1, &renderbuffer);
}

TEST_F(GLContextTest, AnotherThreadAskingForTheFrameGetsWholeFramesAndChangesNothing) {
    // The drawing thread presents 300 frames, each one colour of its own (its number in red
    // and green), and reads each back; another thread, which cannot make the layer's context
    // current, polls the frame all the while.
    constexpr int kFrames = 300;
    auto layer = platform::make<platform::Drawable>();
    layer->setBounds(CGRectMake(0, 0, 16, 8));
    GLContext* context = GLContext::currentContext();
    GLuint framebuffer = 0, renderbuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glGenRenderbuffers(1, &renderbuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffer);
    ASSERT_TRUE(context->renderbufferStorage(GL_RENDERBUFFER, layer.get()));
    glViewport(0, 0, 16, 8);
    auto colour = [](int frame) {
        return std::uint32_t(frame % 256) << 24 | std::uint32_t(frame / 256) << 16 | 0xFF;
    };
    // The frame's number where every pixel has its colour, -1 where it is not one whole frame.
    auto frameOf = [&](const platform::PixelBuffer& frame) {
        std::uint32_t first = frame.pixel(0, 0);
        int number = static_cast<int>(first >> 24) + 256 * static_cast<int>(first >> 16 & 0xFF);
        if (frame.width != 16 || frame.height != 8 || number < 1 || number > kFrames ||
            colour(number) != first)
            return -1;
        for (int y = 0; y < frame.height; ++y)
            for (int x = 0; x < frame.width; ++x)
                if (frame.pixel(x, y) != first) return -1;
        return number;
    };

    std::atomic<bool> done{false};
    std::atomic<int> polled{0}, torn{0}, backwards{0};
    auto other = platform::make<platform::Drawable>();
    std::thread poller([&] {
        int last = 0;
        while (!done) {
            const platform::PixelBuffer& frame = layer->presentedFrame();
            // Asking another layer leaves this layer's answer as it was.
            EXPECT_TRUE(other->presentedFrame().empty());
            if (frame.empty()) continue; // none read back yet
            int number = frameOf(frame);
            torn += number < 0;
            backwards += number >= 0 && number < last;
            last = std::max(last, number);
            ++polled;
        }
    });
    for (int i = 1; i <= kFrames; ++i) {
        glClearColor(static_cast<float>(i % 256) / 255, static_cast<float>(i / 256) / 255, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        ASSERT_TRUE(context->presentRenderbuffer(GL_RENDERBUFFER));
        ASSERT_EQ(frameOf(layer->presentedFrame()), i);
    }
    while (polled == 0)
        std::this_thread::yield();
    done = true;
    poller.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(backwards, 0);
    EXPECT_EQ(layer->presentCount(), static_cast<std::uint64_t>(kFrames));
    context->releaseRenderbuffer(renderbuffer);
    glDeleteRenderbuffers(1, &renderbuffer);
    glDeleteFramebuffers(1, &framebuffer);
}

// Bytes the heap holds, as the allocator in use counts them.
std::size_t heapInUse() {
#if FL_SANITIZED_HEAP
    return __sanitizer_get_current_allocated_bytes();
#else
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

TEST_F(GLContextTest, AnotherThreadAskingForTheFrameHoldsItNoLongerThanItLives) {
    // 24 threads, alive together, each ask once at a different frame of a 512x512 view; once
    // they have ended, only the layer's own frame is left.
    constexpr int kThreads = 24;
    const std::size_t frameBytes = 512 * 512 * 4;
    Ref<CCGLView> view = fltest::makeGLView(CGSizeMake(512, 512));
    ASSERT_TRUE(view);
    platform::Drawable* layer = view->layer();
    auto present = [&](int frame) {
        glClearColor(static_cast<float>(frame) / 255, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        view->swapBuffers();
        return layer->presentedFrame().pixel(0, 0); // read back here, where the context is
    };
    present(0);
    std::size_t before = heapInUse();

    std::mutex mutex;
    std::condition_variable changed;
    int asked = 0;
    bool leave = false;
    std::vector<std::uint32_t> drawn(kThreads), seen(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        drawn[i] = present(i + 1);
        threads.emplace_back([&, i] {
            const platform::PixelBuffer& frame = layer->presentedFrame();
            std::unique_lock lock(mutex);
            seen[i] = frame.pixel(0, 0);
            ++asked;
            changed.notify_all();
            changed.wait(lock, [&] { return leave; });
            EXPECT_EQ(frame.pixel(0, 0), seen[i]) << "still its own frame";
        });
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return asked == i + 1; });
    }
    {
        std::lock_guard lock(mutex);
        leave = true;
    }
    changed.notify_all();
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(seen, drawn);
    EXPECT_LT(heapInUse(), before + frameBytes);
}

// The director draws a red scene into its own view on the test's thread.
class ReleasedElsewhereTest : public fltest::EngineGLTest {
protected:
    CGSize viewSize() const override { return CGSizeMake(16, 16); }
};

TEST_F(ReleasedElsewhereTest, AViewReleasedOnAWorkerLeavesTheDirectorsFramesPresented) {
    auto scene = CCScene::node();
    scene->addChild(CCLayerColor::layerWithColor(ccc4(255, 0, 0, 255)).get());
    director()->runWithScene(scene.get());
    platform::Drawable* layer = view()->layer();
    GLContext* directors = view()->context();
    // The drawing thread has a second view's context current, as making the view leaves it.
    Ref<CCGLView> second = fltest::makeGLView(CGSizeMake(8, 8));
    ASSERT_TRUE(second);

    // A worker makes a view of the group (its context current there) and releases it; later it
    // takes the director's context itself, then lets it go. It lives until told to leave.
    std::mutex mutex;
    std::condition_variable changed;
    int step = 0; // the worker's steps are odd, the drawing thread's even
    bool madeThere = false, tookDirectors = false;
    GLContext* leftThere = directors;
    auto waitFor = [&](int wanted) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return step == wanted; });
    };
    auto next = [&] {
        std::lock_guard lock(mutex);
        ++step;
        changed.notify_all();
    };
    std::thread worker([&, group = directors->sharegroup()] {
        Ref<CCGLView> own =
            CCGLView::viewWithFrame(CGRectMake(0, 0, 8, 8), kEAGLColorFormatRGBA8, 0, false, group, false, 0);
        madeThere = own && GLContext::currentContext() == own->context();
        own = nullptr;
        leftThere = GLContext::currentContext();
        next();
        waitFor(2);
        tookDirectors = GLContext::setCurrentContext(directors);
        next();
        waitFor(4);
        GLContext::setCurrentContext(nullptr);
        next();
    });

    waitFor(1);
    EXPECT_TRUE(madeThere);
    EXPECT_EQ(leftThere, nullptr);
    std::uint64_t presented = layer->presentCount();
    for (int i = 0; i < 10; ++i)
        director()->drawScene();
    EXPECT_EQ(layer->presentCount(), presented + 10);
    EXPECT_EQ(presentedPixel(1, 1), 0xFF0000FFu);

    // While the worker holds the director's context, the frames are lost, and said so once.
    ASSERT_TRUE(GLContext::setCurrentContext(second->context()));
    next();
    waitFor(3);
    EXPECT_TRUE(tookDirectors);
    logLines.clear();
    presented = layer->presentCount();
    for (int i = 0; i < 3; ++i)
        director()->drawScene();
    EXPECT_EQ(layer->presentCount(), presented);
    EXPECT_EQ(logLines.size(), 1u) << ::testing::PrintToString(logLines);
    next();
    waitFor(5);
    director()->drawScene();
    EXPECT_EQ(layer->presentCount(), presented + 1);
    worker.join();
}

// The director's projection is the drawing thread's: views laid out on a worker leave it alone,
// also while the director moves between two views, and its own view laid out there reshapes it at
// its next frame.
TEST_F(ReleasedElsewhereTest, ViewsLaidOutOnAWorkerLeaveTheDirectorsFramesPresented) {
    struct Reshapes : CCDirectorDelegate {
        Reshapes() : CCDirectorDelegate(kRespondsToDidReshapeProjection) {}
        std::thread::id drawing = std::this_thread::get_id();
        std::atomic<int> here{0}, elsewhere{0};
        void directorDidReshapeProjection(CCDirector*) override {
            ++(std::this_thread::get_id() == drawing ? here : elsewhere);
        }
    } reshapes;
    director()->setDelegate(&reshapes);
    auto scene = CCScene::node();
    scene->addChild(CCLayerColor::layerWithColor(ccc4(255, 0, 0, 255)).get());
    director()->runWithScene(scene.get());
    Ref<CCGLView> second = fltest::makeGLView(viewSize());
    ASSERT_TRUE(second);

    // The director moves between the two views until the worker's own views are laid out, then
    // stays on its first while the worker lays that out.
    std::atomic<bool> ownLaidOut{false}, settled{false}, done{false};
    std::thread worker([&, group = view()->context()->sharegroup()] {
        for (int i = 0; i < 30; ++i) {
            Ref<CCGLView> own = CCGLView::viewWithFrame(CGRectMake(0, 0, 8 + i % 4, 8), kEAGLColorFormatRGBA8,
                                                        0, false, group, false, 0);
            own->setNeedsLayout();
            own->layoutIfNeeded();
        }
        // One view laid out again and again, as a window being resized is.
        Ref<CCGLView> own =
            CCGLView::viewWithFrame(CGRectMake(0, 0, 8, 8), kEAGLColorFormatRGBA8, 0, false, group, false, 0);
        for (int i = 0; i < 1000; ++i) {
            own->setNeedsLayout();
            own->layoutIfNeeded();
        }
        ownLaidOut = true;
        while (!settled)
            std::this_thread::yield();
        view()->setNeedsLayout();
        view()->layoutIfNeeded();
        done = true;
    });
    int frames = 0, wrong = 0;
    while (!done) {
        if (ownLaidOut && !settled) {
            director()->setView(view());
            settled = true;
        } else if (!settled) {
            director()->setView(frames % 2 ? second.get() : view());
        }
        platform::Drawable* layer = director()->view()->layer();
        std::uint64_t presented = layer->presentCount();
        director()->drawScene();
        ++frames;
        const platform::PixelBuffer& frame = layer->presentedFrame();
        if (layer->presentCount() != presented + 1 || frame.pixel(15, 0) != 0xFF0000FFu ||
            frame.pixel(0, 15) != 0xFF0000FFu)
            ++wrong;
    }
    worker.join();
    EXPECT_EQ(reshapes.here, 0);
    director()->drawScene();
    EXPECT_EQ(wrong, 0) << "of " << frames;
    EXPECT_EQ(reshapes.elsewhere, 0);
    EXPECT_EQ(reshapes.here, 1);
    EXPECT_EQ(presentedPixel(15, 15), 0xFF0000FFu);
    director()->setDelegate(nullptr);
}

// A worker lets go of textures made in the director's context while the drawing thread moves
// between two views of the group: it takes neither context, and every director frame shows.
TEST_F(ReleasedElsewhereTest, TexturesDroppedOnAWorkerWhileViewsSwitchLeaveEveryFramePresented) {
    auto scene = CCScene::node();
    scene->addChild(CCLayerColor::layerWithColor(ccc4(255, 0, 0, 255)).get());
    director()->runWithScene(scene.get());
    platform::Drawable* layer = view()->layer();
    Ref<CCGLView> second = fltest::makeGLView(CGSizeMake(8, 8));
    ASSERT_TRUE(second);

    std::mutex mutex;
    std::condition_variable handed;
    std::vector<Ref<CCTexture2D>> dropping;
    bool done = false;
    std::thread worker([&] {
        std::unique_lock lock(mutex);
        while (!done || !dropping.empty()) {
            handed.wait(lock, [&] { return done || !dropping.empty(); });
            std::vector<Ref<CCTexture2D>> mine = std::move(dropping);
            dropping.clear();
            lock.unlock();
            mine.clear();
            lock.lock();
        }
    });
    const std::uint8_t white[4] = {255, 255, 255, 255};
    int lost = 0;
    // No assertion returns early: the worker is joined whatever happens.
    for (int frame = 0; frame < 400; ++frame) {
        EXPECT_TRUE(GLContext::setCurrentContext(second->context()));
        glClear(GL_COLOR_BUFFER_BIT);
        second->swapBuffers();
        std::uint64_t presented = layer->presentCount();
        director()->drawScene();
        lost += layer->presentCount() != presented + 1;
        std::vector<Ref<CCTexture2D>> made;
        for (int i = 0; i < 20; ++i) {
            made.push_back(platform::make<CCTexture2D>());
            EXPECT_TRUE(made.back()->initWithData(white, kCCTexture2DPixelFormat_RGBA8888, 1, 1, CGSizeMake(1, 1)));
        }
        std::lock_guard lock(mutex);
        for (Ref<CCTexture2D>& texture : made)
            dropping.push_back(std::move(texture));
        handed.notify_one();
    }
    {
        std::lock_guard lock(mutex);
        done = true;
        handed.notify_one();
    }
    worker.join();
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(presentedPixel(8, 8), 0xFF0000FFu);
}

// Where names come back (most drivers; Mesa on request), a texture deleted under a worker's
// context of the group hands its name to the next one made here: the director's record of
// bound textures must not take that one for bound already.
TEST_F(ReleasedElsewhereTest, ANameDeletedUnderAnotherContextIsBoundAgainWhenItComesBack) {
    if (!fltest::namesReused()) {
        EXPECT_EQ(fltest::rerunReusingNames(), 0);
        return;
    }
    Ref<CCGLView> reusing = fltest::makeGLViewInNewGroup(CGSizeMake(16, 16));
    ASSERT_TRUE(reusing);
    fltest::resetEngineState();
    director()->setView(reusing.get());
    auto textureOf = [](std::uint32_t rgba) {
        const std::uint8_t pixel[4] = {std::uint8_t(rgba >> 24), std::uint8_t(rgba >> 16), std::uint8_t(rgba >> 8),
                                       std::uint8_t(rgba)};
        auto texture = platform::make<CCTexture2D>();
        EXPECT_TRUE(texture->initWithData(pixel, kCCTexture2DPixelFormat_RGBA8888, 1, 1, CGSizeMake(1, 1)));
        return texture;
    };
    auto covering = [](CCTexture2D* texture) {
        auto sprite = CCSprite::spriteWithTexture(texture);
        sprite->setScale(16);
        sprite->setPosition(CGPointMake(8, 8));
        return sprite;
    };
    Ref<CCTexture2D> green = textureOf(0x00FF00FF), dropped = textureOf(0xFF0000FF);
    GLuint name = dropped->name();
    auto scene = CCScene::node();
    scene->addChild(covering(dropped.get()).get());
    director()->runWithScene(scene.get());
    scene->removeAllChildrenWithCleanup(true);
    std::thread([&, group = reusing->context()->sharegroup()] {
        Ref<GLContext> own = GLContext::contextWithAPI(platform::kEAGLRenderingAPIOpenGLES2, group);
        ASSERT_TRUE(own && GLContext::setCurrentContext(own.get()));
        dropped = nullptr;
        GLContext::setCurrentContext(nullptr);
    }).join();

    Ref<CCTexture2D> blue = textureOf(0x0000FFFF);
    ASSERT_EQ(blue->name(), name) << "names are handed out again";
    scene->addChild(covering(green.get()).get());
    scene->addChild(covering(blue.get()).get());
    director()->drawScene();
    EXPECT_EQ(reusing->layer()->presentedFrame().pixel(8, 8), 0x0000FFFFu);
}

// Framebuffers the current context knows among the first names handed out.
int liveFramebuffers() {
    int live = 0;
    for (GLuint name = 1; name < 2048; ++name)
        live += glIsFramebuffer(name);
    return live;
}

// A loader keeps its own context current for its life and makes render textures that the
// director's thread lets go of between frames. Their framebuffers are the loader's context's
// alone: they go at the next object it makes, while it still holds that context.
TEST_F(ReleasedElsewhereTest, AWorkerKeepingItsContextLosesTheFramebuffersLetGoHereAtItsNextObject) {
    auto scene = CCScene::node();
    scene->addChild(CCLayerColor::layerWithColor(ccc4(255, 0, 0, 255)).get());
    director()->runWithScene(scene.get());
    std::vector<Ref<CCRenderTexture>> made;
    std::promise<void> handed, letGo;
    std::future<void> handedOver = handed.get_future(), allLetGo = letGo.get_future();
    int before = -1, after = -1;
    std::thread loader([&, group = view()->context()->sharegroup()] {
        Ref<GLContext> own = GLContext::contextWithAPI(platform::kEAGLRenderingAPIOpenGLES2, group);
        bool holding = own && GLContext::setCurrentContext(own.get());
        if (holding) {
            before = liveFramebuffers();
            for (int i = 0; i < 500; ++i)
                made.push_back(CCRenderTexture::renderTextureWithWidth(4, 4));
        }
        handed.set_value();
        allLetGo.wait();
        if (holding) {
            const std::uint8_t white[4] = {255, 255, 255, 255};
            auto next = platform::make<CCTexture2D>();
            next->initWithData(white, kCCTexture2DPixelFormat_RGBA8888, 1, 1, CGSizeMake(1, 1));
            after = liveFramebuffers();
        }
        GLContext::setCurrentContext(nullptr);
    });
    handedOver.wait();
    EXPECT_EQ(std::count(made.begin(), made.end(), nullptr), 0);
    while (!made.empty()) {
        made.resize(made.size() - std::min<std::size_t>(made.size(), 50));
        director()->drawScene();
    }
    letGo.set_value();
    loader.join();
    EXPECT_GE(before, 0);
    EXPECT_EQ(after, before);
}

// A worker with its own context of the group builds render textures (each adds its sprite) and
// clipping nodes for a scene not shown yet, while the director's thread adds children to its
// running scene and draws it, a clipping node among them: every add gets an order of arrival of
// its own, and each thread keeps its own stencil record.
class MadeElsewhereTest : public ReleasedElsewhereTest {};

TEST_F(MadeElsewhereTest, NodesBuiltOnAWorkerWhileTheDirectorAddsChildrenArriveOnceEach) {
    auto scene = CCScene::node();
    // The director's thread makes the caches a render texture reads, as a game's set-up does.
    scene->addChild(CCRenderTexture::renderTextureWithWidth(4, 4).get());
    scene->addChild(CCClippingNode::clippingNodeWithStencil(CCNode::node().get()).get());
    director()->runWithScene(scene.get());
    std::vector<std::uint64_t> arrivals, built;
    std::atomic<bool> done{false};
    std::thread worker([&, group = view()->context()->sharegroup()] {
        Ref<GLContext> own = GLContext::contextWithAPI(platform::kEAGLRenderingAPIOpenGLES2, group);
        if (own && GLContext::setCurrentContext(own.get())) {
            for (int i = 0; i < 200; ++i) {
                if (auto texture = CCRenderTexture::renderTextureWithWidth(4, 4))
                    built.push_back(texture->sprite()->orderOfArrival());
                CCClippingNode::clippingNode();
            }
        }
        GLContext::setCurrentContext(nullptr);
        done = true;
    });
    while (!done) {
        auto child = CCNode::node();
        scene->addChild(child.get());
        arrivals.push_back(child->orderOfArrival());
        director()->drawScene();
    }
    worker.join();
    EXPECT_EQ(built.size(), 200u);
    arrivals.insert(arrivals.end(), built.begin(), built.end());
    std::sort(arrivals.begin(), arrivals.end());
    EXPECT_EQ(std::adjacent_find(arrivals.begin(), arrivals.end()), arrivals.end());
}

// A worker makes a view in a group whose only other view the drawing thread lets go of while EGL
// makes the worker's context: the group stays until the worker's context has joined it or been
// refused, and a group left without contexts meanwhile is not joined.
TEST_F(MadeElsewhereTest, AViewMadeOnAWorkerAsItsGroupsLastViewGoesIsRefusedSafely) {
    Ref<CCGLView> last = fltest::makeGLViewInNewGroup(CGSizeMake(8, 8));
    ASSERT_TRUE(last);
    std::promise<void> inside, gone;
    std::future<void> letGo = gone.get_future();
    const std::function<void()> waitForTheLastView = [&] {
        inside.set_value();
        letGo.wait();
    };
    insideContextCreation = &waitForTheLastView;
    Ref<CCGLView> made;
    std::thread worker([&, group = last->context()->sharegroup()] {
        made =
            CCGLView::viewWithFrame(CGRectMake(0, 0, 8, 8), kEAGLColorFormatRGBA8, 0, false, group, false, 0);
        GLContext::setCurrentContext(nullptr);
    });
    inside.get_future().wait();
    last = nullptr;
    gone.set_value();
    worker.join();
    EXPECT_FALSE(made);
}

// A game quits (the director purged on its thread, its view and scene let go) while a worker
// holding the group lays a view of it out again and again, as a window being resized is, then
// lets it go and makes another: the view hooks the worker runs never read a director going.
TEST_F(MadeElsewhereTest, QuittingWhileAWorkerMakesAndLaysOutViewsOfTheGroupRacesNothing) {
    for (int round = 0; round < 4; ++round) {
        Ref<CCGLView> view = fltest::makeGLViewInNewGroup(CGSizeMake(8, 8));
        ASSERT_TRUE(view);
        director()->setView(view.get());
        auto scene = CCScene::node();
        scene->addChild(CCLayerColor::layerWithColor(ccc4(255, 0, 0, 255)).get());
        director()->runWithScene(scene.get());
        std::atomic<int> layouts{0}, made{0};
        std::atomic<bool> quit{false}, stop{false};
        std::thread worker([&, group = Ref<platform::ShareGroup>(view->context()->sharegroup())] {
            while (!stop) {
                Ref<CCGLView> own = CCGLView::viewWithFrame(CGRectMake(0, 0, 8, 8), kEAGLColorFormatRGBA8, 0,
                                                            false, group.get(), false, 0);
                do {
                    if (own) {
                        own->setNeedsLayout();
                        own->layoutIfNeeded();
                    }
                    ++layouts;
                } while (!quit);
                ++made;
            }
        });
        // The quit comes in the middle of the worker's layouts.
        while (layouts < 3)
            director()->drawScene();
        CCDirector::purgeSharedDirector();
        scene = nullptr;
        view = nullptr;
        int before = made;
        quit = true;
        while (made < before + 2)
            std::this_thread::yield();
        stop = true;
        worker.join();
    }
}

TEST_F(GLContextTest, ATextureOutlivingItsGroupLeavesANewGroupsTexturesAlone) {
    const std::uint8_t red[4] = {255, 0, 0, 255};
    Ref<GLContext> gone = GLContext::contextWithAPI(platform::kEAGLRenderingAPIOpenGLES2);
    ASSERT_TRUE(gone && GLContext::setCurrentContext(gone.get()));
    auto kept = platform::make<CCTexture2D>();
    ASSERT_TRUE(kept->initWithData(red, kCCTexture2DPixelFormat_RGBA8888, 1, 1, CGSizeMake(1, 1)));
    fltest::useSharedGLContext();
    gone = nullptr; // and its group with it

    Ref<GLContext> fresh = GLContext::contextWithAPI(platform::kEAGLRenderingAPIOpenGLES2);
    ASSERT_TRUE(fresh && GLContext::setCurrentContext(fresh.get()));
    auto mine = platform::make<CCTexture2D>();
    ASSERT_TRUE(mine->initWithData(red, kCCTexture2DPixelFormat_RGBA8888, 1, 1, CGSizeMake(1, 1)));
    ASSERT_EQ(mine->name(), kept->name()) << "a new group hands out the same names";
    kept = nullptr;
    EXPECT_TRUE(glIsTexture(mine->name()));
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, mine->name(), 0);
    EXPECT_EQ(fltest::readPixel(0, 0), 0xFF0000FFu);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer);
    mine = nullptr;
    fltest::useSharedGLContext();
}

TEST_F(GLContextTest, ReadBackLeavesTheFramebufferBindingsAlone) {
    fltest::GLTarget target(4, 2);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    GLuint renderbuffer = 0;
    glGenRenderbuffers(1, &renderbuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, platform::kGLRGBA8, 3, 3);
    platform::PixelBuffer pixels = platform::readRenderbufferPixels(renderbuffer, 3, 3);
    EXPECT_EQ(pixels.width, 3);
    GLint bound = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    EXPECT_EQ(bound, static_cast<GLint>(target.framebuffer()));
    EXPECT_EQ(target.pixelAt(3, 1), 0x0000FFFFu);
    EXPECT_EQ(pixels.pixel(3, 0), 0u) << "outside the buffer";
    EXPECT_TRUE(platform::readRenderbufferPixels(0, 3, 3).empty());
    glDeleteRenderbuffers(1, &renderbuffer);
}

struct CountingView : platform::View {
    int layouts = 0;
    void layoutSubviews() override { ++layouts; }
};

TEST(ViewTest, LayoutRunsOnceAfterEachChangeThatAsksForIt) {
    auto view = platform::make<CountingView>();
    ASSERT_TRUE(view->initWithFrame(CGRectMake(5, 6, 100, 50)));
    EXPECT_EQ(view->bounds(), CGRectMake(0, 0, 100, 50));
    EXPECT_EQ(view->layer()->bounds(), view->bounds());
    view->layoutIfNeeded();
    view->layoutIfNeeded();
    EXPECT_EQ(view->layouts, 1);
    view->setFrame(CGRectMake(0, 0, 100, 50)); // moved only
    view->layoutIfNeeded();
    EXPECT_EQ(view->layouts, 1);
    view->setContentScaleFactor(2);
    EXPECT_EQ(view->layer()->contentsScale(), 2);
    view->layoutIfNeeded();
    EXPECT_EQ(view->layouts, 2);
    view->setBounds(CGRectMake(0, 0, 60, 40));
    EXPECT_EQ(view->frame().size, CGSizeMake(60, 40));
    view->layoutIfNeeded();
    EXPECT_EQ(view->layouts, 3);
}

} // namespace
