#include "graphics/CCTextureAtlas.h"

#include "core/CCDirector.h"
#include "core/CCMatrix.h"
#include "core/CCShaderCache.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureCache.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/GLExtensions.h"
#include "platform/Image.h"
#include "platform/RunLoop.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/GLTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

using Quad = _ccV3F_C4B_T2F_Quad;

// A quad that carries a number, so that moved quads can be told apart.
Quad tagged(float tag) {
    Quad q{};
    q.tl.vertices.x = tag;
    q.br.texCoords.v = tag;
    return q;
}
float tagOf(const Quad& q) {
    return q.tl.vertices.x;
}
bool sameBytes(const Quad& a, const Quad& b) {
    return std::memcmp(&a, &b, sizeof(Quad)) == 0;
}
bool isZero(const Quad& q) {
    return sameBytes(q, Quad{});
}

// The quads and total the atlas should hold, kept with plain vector operations.
struct Model {
    std::vector<Quad> quads;
    std::uint64_t total = 0;
};

class TextureAtlasTest : public fltest::EngineGLTest {
protected:
    void TearDown() override {
        for (const std::string& line : logLines)
            EXPECT_EQ(line.find("OpenGL error"), std::string::npos) << line;
        CCTextureCache::purgeSharedTextureCache();
        fltest::EngineGLTest::TearDown();
    }

    void expectMatches(CCTextureAtlas* atlas, const Model& model, const char* step) {
        ASSERT_EQ(atlas->totalQuads(), model.total) << step;
        ASSERT_EQ(atlas->capacity(), model.quads.size()) << step;
        const Quad* quads = atlas->quads();
        for (std::size_t i = 0; i < model.quads.size(); ++i)
            ASSERT_TRUE(sameBytes(quads[i], model.quads[i]))
                << step << ": quad " << i << " holds " << tagOf(quads[i]) << ", not "
                << tagOf(model.quads[i]);
    }
};

TEST_F(TextureAtlasTest, EditsMatchAModelOverRandomSequences) {
    constexpr std::uint64_t kCapacity = 40;
    auto atlas = CCTextureAtlas::textureAtlasWithTexture(nullptr, kCapacity);
    ASSERT_TRUE(atlas);
    Model model{std::vector<Quad>(kCapacity), 0};
    std::mt19937 random(20240611);
    auto below = [&](std::uint64_t n) {
        return n ? std::uniform_int_distribution<std::uint64_t>(0, n - 1)(random) : 0;
    };
    float nextTag = 1;

    for (int step = 0; step < 4000; ++step) {
        auto& q = model.quads;
        auto at = [&](std::uint64_t i) { return q.begin() + static_cast<std::ptrdiff_t>(i); };
        switch (below(11)) {
        case 0: { // update anywhere below the capacity
            std::uint64_t index = below(kCapacity);
            Quad quad = tagged(nextTag++);
            atlas->updateQuad(&quad, index);
            q[index] = quad;
            model.total = std::max(model.total, index + 1);
            break;
        }
        case 1: { // insert one
            if (model.total == kCapacity) break;
            std::uint64_t index = below(model.total + 1);
            Quad quad = tagged(nextTag++);
            atlas->insertQuad(&quad, index);
            // The slot just past the total is overwritten; quads beyond it stay.
            q.erase(at(model.total));
            q.insert(at(index), quad);
            ++model.total;
            break;
        }
        case 2: { // insert several
            std::uint64_t room = kCapacity - model.total;
            std::uint64_t amount = below(std::min<std::uint64_t>(room, 5) + 1);
            std::uint64_t index = below(model.total + 1);
            std::vector<Quad> added;
            for (std::uint64_t i = 0; i < amount; ++i)
                added.push_back(tagged(nextTag++));
            atlas->insertQuads(added.data(), index, amount);
            q.erase(at(model.total), at(model.total + amount));
            q.insert(at(index), added.begin(), added.end());
            model.total += amount;
            break;
        }
        case 3: { // take one out and put it elsewhere
            if (model.total == 0) break;
            std::uint64_t from = below(model.total), to = below(model.total);
            atlas->insertQuadFromIndex(from, to);
            Quad moved = q[from];
            q.erase(at(from));
            q.insert(at(to), moved);
            break;
        }
        case 4: { // move a block
            if (model.total == 0) break;
            std::uint64_t amount = 1 + below(std::min<std::uint64_t>(model.total, 6));
            std::uint64_t from = below(model.total - amount + 1), to = below(model.total - amount + 1);
            atlas->moveQuadsFromIndex(from, amount, to);
            std::vector<Quad> block(at(from), at(from + amount));
            q.erase(at(from), at(from + amount));
            q.insert(at(to), block.begin(), block.end());
            break;
        }
        case 5: { // remove one
            if (model.total == 0) break;
            std::uint64_t index = below(model.total);
            atlas->removeQuadAtIndex(index);
            // The freed slot at the end keeps its old bytes.
            Quad last = q[model.total - 1];
            q.erase(at(index));
            q.insert(at(model.total - 1), last);
            --model.total;
            break;
        }
        case 6: { // remove a run
            std::uint64_t amount = below(std::min<std::uint64_t>(model.total, 5) + 1);
            std::uint64_t index = below(model.total - amount + 1);
            atlas->removeQuadsAtIndex(index, amount);
            std::vector<Quad> tail(at(model.total - amount), at(model.total));
            q.erase(at(index), at(index + amount));
            q.insert(at(model.total - amount), tail.begin(), tail.end());
            model.total -= amount;
            break;
        }
        case 7: { // zero some quads
            std::uint64_t index = below(kCapacity);
            std::uint64_t amount = below(kCapacity - index + 1);
            atlas->fillWithEmptyQuadsFromIndex(index, amount);
            std::fill(at(index), at(index + amount), Quad{});
            break;
        }
        case 8: { // count more quads as used
            std::uint64_t amount = below(std::min<std::uint64_t>(kCapacity - model.total, 3) + 1);
            atlas->increaseTotalQuadsWith(amount);
            model.total += amount;
            break;
        }
        case 9: { // shift the tail from one index to another
            std::uint64_t from = below(model.total + 1);
            std::uint64_t amount = model.total - from;
            std::uint64_t to = below(kCapacity - amount + 1);
            atlas->moveQuadsFromIndex(from, to);
            std::vector<Quad> tail(at(from), at(model.total));
            std::copy(tail.begin(), tail.end(), at(to));
            break;
        }
        case 10: // now and then start again
            if (below(20) == 0) {
                atlas->removeAllQuads();
                model.total = 0;
            }
            break;
        }
        expectMatches(atlas.get(), model, "random step");
        if (HasFatalFailure()) {
            ADD_FAILURE() << "at step " << step;
            return;
        }
    }
}

TEST_F(TextureAtlasTest, BoundaryEditsAppendRemoveAndResize) {
    auto atlas = CCTextureAtlas::textureAtlasWithTexture(nullptr, 4);
    ASSERT_TRUE(atlas);
    Quad a = tagged(1), b = tagged(2), c = tagged(3);
    atlas->insertQuad(&a, 0);
    atlas->insertQuad(&b, 1); // at the total: appends
    atlas->insertQuad(&c, 2);
    EXPECT_EQ(atlas->totalQuads(), 3u);
    EXPECT_EQ(tagOf(atlas->quads()[2]), 3);

    atlas->removeQuadAtIndex(2); // the last: nothing moves
    EXPECT_EQ(atlas->totalQuads(), 2u);
    EXPECT_EQ(tagOf(atlas->quads()[0]), 1);
    EXPECT_EQ(tagOf(atlas->quads()[1]), 2);

    // Shrinking cuts the total; growing again brings zeroed quads, not the old bytes.
    for (std::uint64_t i = 0; i < 4; ++i)
        atlas->updateQuad(&c, i);
    ASSERT_TRUE(atlas->resizeCapacity(2));
    EXPECT_EQ(atlas->capacity(), 2u);
    EXPECT_EQ(atlas->totalQuads(), 2u);
    ASSERT_TRUE(atlas->resizeCapacity(6));
    EXPECT_EQ(atlas->totalQuads(), 2u);
    for (std::uint64_t i = 2; i < 6; ++i)
        EXPECT_TRUE(isZero(atlas->quads()[i])) << "quad " << i;
    EXPECT_TRUE(atlas->resizeCapacity(6)); // the same capacity: nothing to do

    // The index array follows the capacity.
    const GLushort* idx = atlas->indices();
    EXPECT_EQ(std::vector<GLushort>(idx + 30, idx + 36), (std::vector<GLushort>{20, 21, 22, 23, 22, 21}));
}

TEST_F(TextureAtlasTest, CapacitiesPastSixteenBitIndicesAreRefused) {
    EXPECT_FALSE(CCTextureAtlas::textureAtlasWithTexture(nullptr, CCTextureAtlas::kMaxCapacity + 1));

    auto atlas = CCTextureAtlas::textureAtlasWithTexture(nullptr, CCTextureAtlas::kMaxCapacity);
    ASSERT_TRUE(atlas);
    const GLushort* last = atlas->indices() + (CCTextureAtlas::kMaxCapacity - 1) * 6;
    EXPECT_EQ(std::vector<GLushort>(last, last + 6),
              (std::vector<GLushort>{65532, 65533, 65534, 65535, 65534, 65533}));

    Quad q = tagged(7);
    atlas->updateQuad(&q, 3);
    EXPECT_FALSE(atlas->resizeCapacity(CCTextureAtlas::kMaxCapacity + 1));
    // Refused without harm: the atlas is as it was.
    EXPECT_EQ(atlas->capacity(), CCTextureAtlas::kMaxCapacity);
    EXPECT_EQ(atlas->totalQuads(), 4u);
    EXPECT_EQ(tagOf(atlas->quads()[3]), 7);
}

TEST_F(TextureAtlasTest, OutOfRangeEditsThrowAndChangeNothing) {
    auto atlas = CCTextureAtlas::textureAtlasWithTexture(nullptr, 3);
    ASSERT_TRUE(atlas);
    Quad a = tagged(1), b = tagged(2);
    atlas->insertQuad(&a, 0);
    atlas->insertQuad(&b, 1);
    auto isInconsistency = [](const platform::Exception& e) {
        return e.name() == std::string(platform::NSInternalInconsistencyException);
    };
    auto expectRefused = [&](auto&& edit, const char* what) {
        try {
            edit();
            ADD_FAILURE() << what << " was accepted";
        } catch (const platform::Exception& e) {
            EXPECT_TRUE(isInconsistency(e)) << what;
        }
        EXPECT_EQ(atlas->totalQuads(), 2u) << what;
        EXPECT_EQ(tagOf(atlas->quads()[0]), 1) << what;
        EXPECT_EQ(tagOf(atlas->quads()[1]), 2) << what;
    };
    expectRefused([&] { atlas->updateQuad(&a, 3); }, "update at the capacity");
    expectRefused([&] { atlas->insertQuad(&a, 3); }, "insert past the total");
    expectRefused([&] { atlas->insertQuads(&a, 0, 2); }, "insert past the capacity");
    expectRefused([&] { atlas->insertQuadFromIndex(0, 2); }, "move to the total");
    expectRefused([&] { atlas->moveQuadsFromIndex(1, 2, 0); }, "move a block past the total");
    expectRefused([&] { atlas->moveQuadsFromIndex(0, ~0ull, 1); }, "move a block whose end wraps");
    expectRefused([&] { atlas->removeQuadAtIndex(2); }, "remove at the total");
    expectRefused([&] { atlas->removeQuadsAtIndex(1, ~0ull); }, "remove a run whose end wraps");
    expectRefused([&] { atlas->fillWithEmptyQuadsFromIndex(2, 2); }, "fill past the capacity");
    expectRefused([&] { atlas->increaseTotalQuadsWith(2); }, "count past the capacity");
    expectRefused([&] { atlas->moveQuadsFromIndex(0, 2); }, "shift the tail past the capacity");
    expectRefused([&] { atlas->drawNumberOfQuads(2, 2); }, "draw past the capacity");
}

TEST_F(TextureAtlasTest, DescriptionNamesTheTotal) {
    auto atlas = CCTextureAtlas::textureAtlasWithTexture(nullptr, 2);
    Quad a = tagged(1);
    atlas->updateQuad(&a, 1);
    EXPECT_EQ(atlas->description(), platform::format("<CCTextureAtlas = %p | totalQuads =  2>", atlas.get()));
}

// A white texture and quads in clip space: the colour of each quad reaches the target unchanged.
class TextureAtlasDrawTest : public TextureAtlasTest {
protected:
    void SetUp() override {
        TextureAtlasTest::SetUp();
        const std::uint8_t white[4 * 4] = {255, 255, 255, 255, 255, 255, 255, 255,
                                           255, 255, 255, 255, 255, 255, 255, 255};
        auto image = platform::Image::imageWithPixels(white, 2, 2, platform::ImageColorSpace::RGB,
                                                      platform::ImageAlphaInfo::Last);
        ASSERT_TRUE(image);
        texture = CCTextureCache::sharedTextureCache()->addCGImage(image.get(), "white");
        ASSERT_TRUE(texture);
        matrixMode(0x1701);
        matrixLoadIdentity();
        matrixMode(0x1700);
        matrixLoadIdentity();
    }

    // An axis-aligned quad from (x0, y0) to (x1, y1) in clip space.
    static Quad coloured(float x0, float y0, float x1, float y1, _ccColor4B colour) {
        Quad q{};
        q.tl = {{x0, y1, 0}, colour, {0, 0}};
        q.bl = {{x0, y0, 0}, colour, {0, 1}};
        q.tr = {{x1, y1, 0}, colour, {1, 0}};
        q.br = {{x1, y0, 0}, colour, {1, 1}};
        return q;
    }

    void prepareTarget(fltest::GLTarget& target) {
        target.bind();
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        CCGLProgram* program =
            CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTextureColor);
        ASSERT_TRUE(program);
        program->use();
        program->setUniformsForBuiltins();
        glCacheBlendFunc(GL_ONE, GL_ZERO);
    }

    void TearDown() override {
        texture = nullptr; // its program belongs to the view's context, which goes next
        TextureAtlasTest::TearDown();
    }

    platform::Ref<CCTexture2D> texture;
};

TEST_F(TextureAtlasDrawTest, DrawsItsQuadsAndReadsBackTheirColours) {
    auto atlas = CCTextureAtlas::textureAtlasWithTexture(texture.get(), 8);
    ASSERT_TRUE(atlas);
    Quad red = coloured(-1, -1, -0.5f, 1, ccc4(255, 0, 0, 255));
    Quad green = coloured(-0.5f, -1, 0, 1, ccc4(0, 255, 0, 255));
    Quad blue = coloured(0, -1, 0.5f, 1, ccc4(0, 0, 255, 255));
    atlas->updateQuad(&red, 0);
    atlas->updateQuad(&green, 1);
    atlas->updateQuad(&blue, 2);

    fltest::GLTarget target(64, 16);
    prepareTarget(target);
    drawCallCounter = 0;
    atlas->drawQuads();
    EXPECT_EQ(drawCallCounter, 1u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(4, 8), 0xFF0000FF));
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(20, 8), 0x00FF00FF));
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(36, 8), 0x0000FFFF));
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(52, 8), 0x000000FF));

    // Only the middle quad, with nothing changed: no upload.
    glClear(GL_COLOR_BUFFER_BIT);
    {
        fltest::GLCallCounter calls;
        atlas->drawNumberOfQuads(1, 1);
        EXPECT_EQ(calls.count("glBufferData"), 0u);
        EXPECT_EQ(calls.count("glDrawElements"), 1u);
    }
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(4, 8), 0x000000FF));
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(20, 8), 0x00FF00FF));
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(36, 8), 0x000000FF));

    // An edit is uploaded once by the next draw.
    atlas->insertQuadFromIndex(2, 0); // blue first, drawn over red's place
    atlas->quads()[0] = coloured(-1, -1, -0.5f, 1, ccc4(0, 0, 255, 255));
    glClear(GL_COLOR_BUFFER_BIT);
    {
        fltest::GLCallCounter calls;
        atlas->drawNumberOfQuads(1);
        atlas->drawNumberOfQuads(1);
        EXPECT_EQ(calls.count("glBufferData"), 1u);
    }
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(4, 8), 0x0000FFFF));
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(20, 8), 0x000000FF));
}

TEST_F(TextureAtlasDrawTest, AnAtlasOfNoCapacityDrawsCleanlyAndCanGrow) {
    auto atlas = CCTextureAtlas::textureAtlasWithTexture(texture.get(), 0);
    ASSERT_TRUE(atlas);
    fltest::GLTarget target(16, 8);
    prepareTarget(target);
    drawCallCounter = 0;
    atlas->drawQuads(); // dirty from creation, but there is nothing to upload
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_EQ(drawCallCounter, 1u);

    ASSERT_TRUE(atlas->resizeCapacity(1));
    Quad red = coloured(-1, -1, 1, 1, ccc4(255, 0, 0, 255));
    atlas->updateQuad(&red, 0);
    atlas->drawQuads();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(8, 4), 0xFF0000FF));
}

TEST_F(TextureAtlasDrawTest, ADrawPastTheLastUploadUploadsAgain) {
    auto atlas = CCTextureAtlas::textureAtlasWithTexture(texture.get(), 4);
    Quad red = coloured(-1, -1, 0, 1, ccc4(255, 0, 0, 255));
    Quad green = coloured(0, -1, 1, 1, ccc4(0, 255, 0, 255));
    atlas->updateQuad(&red, 0);
    atlas->updateQuad(&green, 1);
    fltest::GLTarget target(32, 8);
    prepareTarget(target);
    atlas->drawNumberOfQuads(1); // uploads quad 0 only
    glClear(GL_COLOR_BUFFER_BIT);
    atlas->drawQuads(); // quad 1 was never uploaded since the buffer was orphaned
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(4, 4), 0xFF0000FF));
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(20, 4), 0x00FF00FF));
}

TEST_F(TextureAtlasDrawTest, ResizedAtlasDrawsWithItsNewBuffers) {
    auto atlas = CCTextureAtlas::textureAtlasWithTexture(texture.get(), 1);
    Quad red = coloured(-1, -1, 0, 1, ccc4(255, 0, 0, 255));
    Quad green = coloured(0, -1, 1, 1, ccc4(0, 255, 0, 255));
    atlas->updateQuad(&red, 0);
    ASSERT_TRUE(atlas->resizeCapacity(3));
    atlas->updateQuad(&green, 1);
    fltest::GLTarget target(32, 8);
    prepareTarget(target);
    atlas->drawQuads();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(4, 4), 0xFF0000FF));
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(20, 4), 0x00FF00FF));
}

TEST_F(TextureAtlasDrawTest, AtlasMadeOffTheDrawingThreadGetsItsArrayObjectThere) {
    if (!platform::glExtensions().vertexArrayObject) GTEST_SKIP() << "no vertex array objects";
    platform::RunLoop::mainRunLoop()->pump(); // the main loop counts as served from here
    platform::Ref<CCTextureAtlas> made;
    std::atomic<bool> done{false};
    std::thread maker([&] {
        made = CCTextureAtlas::textureAtlasWithTexture(texture.get(), 2);
        done = true;
    });
    while (!done)
        platform::RunLoop::mainRunLoop()->pump();
    maker.join();
    ASSERT_TRUE(made);
    ASSERT_NE(made->VAOname(), 0u);
    EXPECT_TRUE(platform::glExtensions().glIsVertexArrayOES(made->VAOname()));

    Quad red = coloured(-1, -1, 1, 1, ccc4(255, 0, 0, 255));
    made->updateQuad(&red, 0);
    fltest::GLTarget target(8, 8);
    prepareTarget(target);
    made->drawQuads();
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(4, 4), 0xFF0000FF));
}

} // namespace
