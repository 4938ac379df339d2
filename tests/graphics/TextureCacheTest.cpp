#include "graphics/CCTextureCache.h"

#include "core/CCDirector.h"
#include "core/CCFileUtils.h"
#include "core/CCGLView.h"
#include "core/CCMatrix.h"
#include "core/CCShaderCache.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureAtlas.h"
#include "platform/Format.h"
#include "platform/GLContext.h"
#include "platform/Image.h"
#include "platform/RunLoop.h"
#include "platform/Thread.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/GLTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

void writeSolidPNG(const fs::path& path, std::uint32_t width, std::uint32_t height, std::uint32_t rgba) {
    std::vector<std::uint8_t> pixels;
    for (std::uint32_t i = 0; i < width * height; ++i)
        for (int shift : {24, 16, 8, 0})
            pixels.push_back(static_cast<std::uint8_t>(rgba >> shift));
    ASSERT_TRUE(platform::Image::writePNG(path.string(), pixels.data(), width, height));
}

// A PVR version 3 file of w x h RGBA8888 pixels of one colour.
void writePVR(const fs::path& path, std::uint32_t w, std::uint32_t h, std::uint32_t rgba) {
    std::vector<std::uint8_t> bytes;
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put32(0x03525650); // version
    put32(0);          // flags
    put32(0x61626772); // channels "rgba"
    put32(0x08080808); // 8 bits each
    put32(0);          // colour space
    put32(0);          // channel type
    for (std::uint32_t v :
         {h, w, 1u, 1u, 1u, 1u, 0u}) // height, width, depth, surfaces, faces, mipmaps, metadata
        put32(v);
    for (std::uint32_t i = 0; i < w * h; ++i)
        for (int shift : {24, 16, 8, 0})
            bytes.push_back(static_cast<std::uint8_t>(rgba >> shift));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Pumps the main run loop until the condition holds or a few seconds passed.
bool pumpUntil(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        platform::RunLoop::mainRunLoop()->pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Receives textures through a selector, noting the thread they arrive on.
class Receiver : public platform::Object {
public:
    void loaded(CCTexture2D* texture) {
        received.push_back(texture);
        onMainThread = platform::Thread::isMainThread();
    }
    std::vector<platform::Ref<CCTexture2D>> received;
    bool onMainThread = false;
};

class TextureCacheTest : public fltest::EngineGLTest {
protected:
    void SetUp() override {
        fltest::EngineGLTest::SetUp();
        dir = fs::temp_directory_path() /
              platform::format("footlight-texture-cache-%d", static_cast<int>(getpid()));
        fs::create_directories(dir);
        writeSolidPNG(dir / "red.png", 4, 2, 0xFF0000FF);
        writeSolidPNG(dir / "blue.png", 2, 2, 0x0000FFFF);
        writeSolidPNG(dir / "big.png", 64, 32, 0x00FF00FF);
        std::ofstream(dir / "broken.png") << "not a picture at all";
        std::ofstream(dir / "sheet.PVR.CCZ") << "not a pvr file either";
        writePVR(dir / "tile.pvr", 2, 4, 0x00FF00FF);
        writePVR(dir / "other.pvr", 8, 2, 0x00FF00FF);
        CCFileUtils::sharedFileUtils()->setSearchPath({dir.string()});
        cache = CCTextureCache::sharedTextureCache();
        // Setting the view cached the director's statistics glyphs; count from an empty cache.
        cache->removeAllTextures();
    }
    void TearDown() override {
        for (const std::string& line : logLines)
            EXPECT_EQ(line.find("OpenGL error"), std::string::npos) << line;
        CCTextureCache::purgeSharedTextureCache();
        // Callbacks of loads still on their way hold the old cache until they ran.
        platform::RunLoop::mainRunLoop()->pump();
        fs::remove_all(dir);
        fltest::EngineGLTest::TearDown();
    }
    bool logged(const std::string& line) const {
        return std::find(logLines.begin(), logLines.end(), line) != logLines.end();
    }
    // Queues loads of `count` new files at once, so that most still wait while the test goes on.
    void queueLoads(std::size_t count, std::vector<platform::Ref<CCTexture2D>>& loaded,
                    std::size_t& arrived) {
        loaded.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            writeSolidPNG(dir / platform::format("n%lu.png", static_cast<unsigned long>(i)), 4, 4,
                          0xFF0000FF);
        for (std::size_t i = 0; i < count; ++i)
            cache->addImageAsync(platform::format("n%lu.png", static_cast<unsigned long>(i)),
                                 [&loaded, &arrived, i](CCTexture2D* texture) {
                                     loaded[i] = texture;
                                     ++arrived;
                                 });
    }

    fs::path dir;
    CCTextureCache* cache = nullptr;
};

TEST_F(TextureCacheTest, OnePathOneTexture) {
    platform::Ref<CCTexture2D> red = cache->addImage("red.png");
    ASSERT_TRUE(red);
    EXPECT_EQ(red->pixelsWide(), 4u);
    // Another spelling of the same path standardises to the same key.
    EXPECT_EQ(cache->addImage("./red.png"), red);
    EXPECT_EQ(cache->addImage("red.png"), red);
    EXPECT_EQ(cache->textureForKey("red.png"), red.get());
    EXPECT_EQ(cache->count(), 1u);

    EXPECT_FALSE(cache->addImage("missing.png"));
    EXPECT_FALSE(cache->addImage(""));
    EXPECT_FALSE(cache->addImage("broken.png"));
    EXPECT_TRUE(logged("engine: Couldn't add image:broken.png in CCTextureCache"));
    // An upper-case PVR extension still goes the PVR way.
    EXPECT_FALSE(cache->addImage("sheet.PVR.CCZ"));
    EXPECT_TRUE(logged("engine: Couldn't add PVRImage:sheet.PVR.CCZ in CCTextureCache"));
    EXPECT_EQ(cache->count(), 1u);
}

TEST_F(TextureCacheTest, ImagesAreCachedUnderTheirKeyOnly) {
    const std::uint8_t pixel[4] = {1, 2, 3, 255};
    auto image = platform::Image::imageWithPixels(pixel, 1, 1, platform::ImageColorSpace::RGB,
                                                  platform::ImageAlphaInfo::Last);
    platform::Ref<CCTexture2D> keyed = cache->addCGImage(image.get(), "dot");
    ASSERT_TRUE(keyed);
    EXPECT_EQ(cache->addCGImage(image.get(), "dot"), keyed);
    EXPECT_EQ(cache->addCGImage(nullptr, "dot"), keyed);
    platform::Ref<CCTexture2D> loose = cache->addCGImage(image.get(), "");
    ASSERT_TRUE(loose);
    EXPECT_NE(loose, keyed);
    EXPECT_EQ(loose->retainCount(), 1u);
    EXPECT_EQ(cache->count(), 1u);
    EXPECT_FALSE(cache->addCGImage(nullptr, ""));
}

TEST_F(TextureCacheTest, RemovalByKeyTextureAndUse) {
    platform::Ref<CCTexture2D> red = cache->addImage("red.png");
    cache->addImage("blue.png");
    cache->addImage("big.png");
    ASSERT_EQ(cache->count(), 3u);

    // Only the texture someone else holds survives.
    cache->removeUnusedTextures();
    EXPECT_EQ(cache->count(), 1u);
    EXPECT_EQ(cache->textureForKey("red.png"), red.get());
    EXPECT_EQ(red->retainCount(), 2u);
    red = nullptr;
    cache->removeUnusedTextures();
    EXPECT_EQ(cache->count(), 0u);

    platform::Ref<CCTexture2D> blue = cache->addImage("blue.png");
    cache->addImage("big.png");
    cache->removeTexture(nullptr);
    cache->removeTextureForKey("nothing");
    EXPECT_EQ(cache->count(), 2u);
    cache->removeTexture(blue.get());
    EXPECT_EQ(cache->textureForKey("blue.png"), nullptr);
    EXPECT_EQ(blue->retainCount(), 1u);
    cache->removeTextureForKey("big.png");
    EXPECT_EQ(cache->count(), 0u);

    cache->addImage("red.png");
    cache->addImage("blue.png");
    cache->removeAllTextures();
    EXPECT_EQ(cache->count(), 0u);
}

TEST_F(TextureCacheTest, DirectorPurgesUnusedTexturesAndTheCache) {
    platform::Ref<CCTexture2D> held = cache->addImage("red.png");
    cache->addImage("blue.png");
    director()->purgeCachedData();
    EXPECT_EQ(cache->count(), 1u);

    director()->end();
    EXPECT_EQ(CCTextureCache::auxiliaryContext(), nullptr);
    EXPECT_EQ(held->retainCount(), 1u); // the cache let go; the holder keeps it
}

TEST_F(TextureCacheTest, DescriptionAndDumpTexts) {
    platform::Ref<CCTexture2D> big = cache->addImage("big.png");
    cache->addImage("red.png");
    EXPECT_EQ(
        cache->description(),
        platform::format("<CCTextureCache = %p | num of textures =  2 | keys: (big.png, red.png)>", cache));

    logLines.clear();
    cache->dumpCachedTextureInfo();
    CCTexture2D* red = cache->textureForKey("red.png");
    ASSERT_EQ(logLines.size(), 3u);
    EXPECT_EQ(logLines[0],
              platform::format("engine: \"big.png\"\trc=2\tid=%u\t64 x 32\t@ 32 bpp =>\t8 KB", big->name()));
    EXPECT_EQ(logLines[1], platform::format("engine: \"red.png\"\trc=1\tid=%u\t%lu x %lu\t@ 32 bpp =>\t0 KB",
                                            red->name(), red->pixelsWide(), red->pixelsHigh()));
    EXPECT_EQ(logLines[2], "engine: CCTextureCache dumpDebugInfo:\t2 textures,\tfor 8 KB (0.01 MB)");
}

TEST_F(TextureCacheTest, AsyncLoadsCallBackOnTheDirectorsThread) {
    std::vector<platform::Ref<CCTexture2D>> viaBlock;
    bool blockOnMain = false;
    cache->addImageAsync("red.png", [&](CCTexture2D* texture) {
        viaBlock.push_back(texture);
        blockOnMain = platform::Thread::isMainThread();
    });
    auto receiver = platform::make<Receiver>();
    cache->addImageAsync("blue.png", receiver.get(), fl_selector(Receiver::loaded));
    EXPECT_EQ(receiver->retainCount(), 2u); // held by the job until it calls back
    EXPECT_TRUE(viaBlock.empty());

    ASSERT_TRUE(pumpUntil([&] { return viaBlock.size() == 1 && receiver->received.size() == 1; }));
    EXPECT_TRUE(blockOnMain);
    EXPECT_TRUE(receiver->onMainThread);
    ASSERT_TRUE(viaBlock[0]);
    ASSERT_TRUE(receiver->received[0]);
    EXPECT_EQ(cache->textureForKey("red.png"), viaBlock[0].get());
    EXPECT_EQ(cache->textureForKey("blue.png"), receiver->received[0].get());
    EXPECT_EQ(receiver->retainCount(), 1u);
    EXPECT_EQ(platform::GLContext::currentContext(), view()->context());

    // A cached path answers before the call returns.
    bool answered = false;
    cache->addImageAsync("./red.png", [&](CCTexture2D* texture) { answered = texture == viaBlock[0].get(); });
    EXPECT_TRUE(answered);

    // The texture made on the loader's context draws on the view's.
    auto atlas = CCTextureAtlas::textureAtlasWithTexture(viaBlock[0].get(), 1);
    _ccV3F_C4B_T2F_Quad quad{};
    _ccColor4B white = ccc4(255, 255, 255, 255);
    quad.tl = {{-1, 1, 0}, white, {0, 0}};
    quad.bl = {{-1, -1, 0}, white, {0, 1}};
    quad.tr = {{1, 1, 0}, white, {1, 0}};
    quad.br = {{1, -1, 0}, white, {1, 1}};
    atlas->updateQuad(&quad, 0);
    fltest::GLTarget target(8, 8);
    target.bind();
    matrixMode(0x1701);
    matrixLoadIdentity();
    matrixMode(0x1700);
    matrixLoadIdentity();
    CCGLProgram* program = CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTextureColor);
    program->use();
    program->setUniformsForBuiltins();
    glCacheBlendFunc(GL_ONE, GL_ZERO);
    atlas->drawQuads();
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(4, 4), 0xFF0000FF));
}

TEST_F(TextureCacheTest, AnAsyncLoadAnswersInTheHeadlessFrameLoop) {
    // A headless game's loop: nothing but the manual clock's advance, one frame at a time.
    director()->startAnimation();
    platform::Ref<CCTexture2D> loaded;
    bool answered = false;
    cache->addImageAsync("red.png", [&](CCTexture2D* texture) {
        loaded = texture;
        answered = true;
    });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!answered && std::chrono::steady_clock::now() < deadline) {
        clock()->advance(1.0 / platform::DisplayLink::kRefreshRate);
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // the rest of the frame's time
    }
    ASSERT_TRUE(answered);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(cache->textureForKey("red.png"), loaded.get());
}

TEST_F(TextureCacheTest, FailedAsyncLoadsStillCallBackWithNil) {
    std::vector<std::string> answers;
    auto note = [&](const char* what) {
        return [&answers, what](CCTexture2D* texture) {
            answers.push_back(std::string(what) + (texture ? "+" : "-"));
        };
    };
    cache->addImageAsync("missing.png", note("missing"));
    cache->addImageAsync("broken.png", note("broken"));
    ASSERT_TRUE(pumpUntil([&] { return answers.size() == 2; }));
    EXPECT_EQ(answers, (std::vector<std::string>{"missing-", "broken-"}));

    // While the loader context is current here, the loader cannot take it.
    platform::GLContext* mine = platform::GLContext::currentContext();
    ASSERT_TRUE(platform::GLContext::setCurrentContext(CCTextureCache::auxiliaryContext()));
    cache->addImageAsync("red.png", note("blocked"));
    bool arrived = pumpUntil([&] { return answers.size() == 3; });
    ASSERT_TRUE(platform::GLContext::setCurrentContext(mine));
    ASSERT_TRUE(arrived);
    EXPECT_EQ(answers.back(), "blocked-");
    EXPECT_EQ(cache->textureForKey("red.png"), nullptr);

    // The next load gets through again.
    cache->addImageAsync("red.png", note("again"));
    ASSERT_TRUE(pumpUntil([&] { return answers.size() == 4; }));
    EXPECT_EQ(answers.back(), "again+");
}

TEST_F(TextureCacheTest, PVRFilesLoadBothWays) {
    platform::Ref<CCTexture2D> tile = cache->addImage("tile.pvr");
    ASSERT_TRUE(tile);
    EXPECT_EQ(tile->pixelsWide(), 2u);
    EXPECT_EQ(cache->addPVRImage("./tile.pvr"), tile);

    platform::Ref<CCTexture2D> other;
    bool called = false;
    cache->addImageAsync("other.pvr", [&](CCTexture2D* texture) {
        other = texture;
        called = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return called; }));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->pixelsWide(), 8u);
    EXPECT_EQ(other->pixelsHigh(), 2u);
    EXPECT_EQ(cache->textureForKey("other.pvr"), other.get());
}

TEST_F(TextureCacheTest, PurgedCacheLivesUntilItsLoadsCalledBack) {
    platform::Ref<CCTexture2D> loaded;
    bool called = false;
    cache->addImageAsync("big.png", [&](CCTexture2D* texture) {
        loaded = texture;
        called = true;
    });
    CCTextureCache::purgeSharedTextureCache();
    ASSERT_TRUE(pumpUntil([&] { return called; }));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->retainCount(), 1u); // the old cache is gone; only we hold it
    EXPECT_EQ(loaded->pixelsWide(), 64u);
}

TEST_F(TextureCacheTest, LoadsQueuedBeforeTheDirectorsGroupWentAnswerNoTextureOfIt) {
    std::vector<platform::Ref<CCTexture2D>> loaded;
    std::size_t arrived = 0;
    queueLoads(40, loaded, arrived);
    CCDirector::purgeSharedDirector();
    platform::Ref<CCGLView> fresh = fltest::makeGLViewInNewGroup(CGSizeMake(8, 8));
    ASSERT_TRUE(fresh);
    director()->setView(fresh.get());
    ASSERT_TRUE(pumpUntil([&] { return arrived == loaded.size(); }));
    ASSERT_TRUE(platform::GLContext::setCurrentContext(fresh->context()));
    EXPECT_EQ(std::count_if(loaded.begin(), loaded.end(),
                            [](const auto& texture) { return texture && !glIsTexture(texture->name()); }),
              0);
}

TEST_F(TextureCacheTest, AsyncLoadsUseTheDefaultFormatOfTheMomentTheyWereQueued) {
    const CCTexture2DPixelFormat saved = CCTexture2D::defaultAlphaPixelFormat();
    CCTexture2D::setDefaultAlphaPixelFormat(kCCTexture2DPixelFormat_RGBA8888);
    std::vector<platform::Ref<CCTexture2D>> loaded;
    std::size_t arrived = 0;
    queueLoads(40, loaded, arrived);
    // As the statistics labels do: another format for a moment, while the loads wait.
    CCTexture2D::setDefaultAlphaPixelFormat(kCCTexture2DPixelFormat_RGBA4444);
    bool done = pumpUntil([&] { return arrived == loaded.size(); });
    CCTexture2D::setDefaultAlphaPixelFormat(saved);
    ASSERT_TRUE(done);
    for (const auto& texture : loaded) {
        ASSERT_TRUE(texture);
        EXPECT_EQ(texture->pixelFormat(), kCCTexture2DPixelFormat_RGBA8888);
    }
}

TEST_F(TextureCacheTest, PurgingTheShaderCacheDuringLoadsBuildsNoneOnTheLoaderThread) {
    platform::Ref<CCGLProgram> program =
        CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTexture);
    std::vector<platform::Ref<CCTexture2D>> loaded;
    std::size_t arrived = 0;
    queueLoads(20, loaded, arrived);
    CCShaderCache::purgeSharedShaderCache();
    ASSERT_TRUE(pumpUntil([&] { return arrived == loaded.size(); }));
    // Every load drew on the program of the moment it was queued, none on a cache the loader
    // would have built for itself.
    for (const auto& texture : loaded) {
        ASSERT_TRUE(texture);
        EXPECT_EQ(texture->shaderProgram(), program.get());
    }
}

} // namespace
