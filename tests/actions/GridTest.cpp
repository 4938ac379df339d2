// Grids: mesh layout, size limits, reuse, projection restore, and real drawing through the
// capture texture read back from the presented frame.
#include "actions/CCGrid.h"
#include "core/CCCamera.h"
#include "core/CCLayer.h"
#include "core/CCDirector.h"
#include "core/CCMatrix.h"
#include "core/CCScene.h"
#include "graphics/CCRenderTexture.h"
#include "graphics/CCSprite.h"
#include "platform/Device.h"
#include "platform/Exception.h"
#include "platform/Image.h"
#include "tests/graphics/SpriteTestSupport.h"
#include "tests/support/GLTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using platform::Ref;

namespace {

// Opens the mesh buffers of the two grid kinds to the tests.
struct Grid3DProbe : CCGridFactory<Grid3DProbe, CCGrid3D> {
    using CCGrid3D::_indices;
    using CCGrid3D::_texCoordinates;
};
struct TiledProbe : CCGridFactory<TiledProbe, CCTiledGrid3D> {
    using CCTiledGrid3D::_indices;
    using CCTiledGrid3D::_texCoordinates;
};

bool sameVertex(const _ccVertex3F& a, const _ccVertex3F& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

// Four quadrants of a 32 x 32 picture: red, green, blue, white (top row first).
std::uint32_t quadrantColour(int x, int y) {
    if (y < 16) return x < 16 ? 0xFF0000FFu : 0x00FF00FFu;
    return x < 16 ? 0x0000FFFFu : 0xFFFFFFFFu;
}

class GridFixture : public fltest::SpriteFixture {};

class WideGridFixture : public fltest::EngineGLTest {
protected:
    CGSize viewSize() const override { return CGSizeMake(480, 320); }
};

TEST_F(WideGridFixture, CaptureTextureCoversTheWindowInPowersOfTwo) {
    Ref<CCGrid3D> grid = CCGrid3D::gridWithSize(CGSizeMake(15, 10));
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->texture()->pixelsWide(), 512u);
    EXPECT_EQ(grid->texture()->pixelsHigh(), 512u);
    EXPECT_EQ(grid->texture()->pixelFormat(), kCCTexture2DPixelFormat_RGBA8888);
    EXPECT_EQ(grid->step().x, 32);
    EXPECT_EQ(grid->step().y, 32);
    EXPECT_FALSE(grid->active());
    EXPECT_EQ(grid->reuseGrid(), 0);
    EXPECT_NE(grid->description().find("CCGrid3D = 0x"), std::string::npos);
    EXPECT_NE(grid->description().find("| Dimensions = 15x10>"), std::string::npos);
}

// A retina window of 480 x 320 points (960 x 640 pixels): the texture is 1024 square and the
// step stays in points.
TEST_F(WideGridFixture, RetinaTextureIsInPixelsAndTheStepInPoints) {
    platform::Device::setCurrent(platform::DeviceProfile::phoneRetina());
    ASSERT_TRUE(director()->enableRetinaDisplay(true));
    Ref<CCGrid3D> grid = CCGrid3D::gridWithSize(CGSizeMake(15, 10));
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->texture()->pixelsWide(), 1024u);
    EXPECT_EQ(grid->texture()->pixelsHigh(), 1024u);
    EXPECT_EQ(grid->step().x, 32);
    EXPECT_EQ(grid->step().y, 32);
}

class TallGridFixture : public fltest::EngineGLTest {
protected:
    CGSize viewSize() const override { return CGSizeMake(568, 320); }
};

TEST_F(TallGridFixture, EachSideRoundsUpByItself) {
    platform::Device::setCurrent(platform::DeviceProfile::phoneRetina());
    ASSERT_TRUE(director()->enableRetinaDisplay(true));
    Ref<CCTiledGrid3D> grid = CCTiledGrid3D::gridWithSize(CGSizeMake(8, 5));
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->texture()->pixelsWide(), 2048u);
    EXPECT_EQ(grid->texture()->pixelsHigh(), 1024u);
    EXPECT_EQ(grid->step().x, 71);
    EXPECT_EQ(grid->step().y, 64);
}

TEST_F(GridFixture, Grid3DPointsRunByColumnAndCellsByRow) {
    Ref<Grid3DProbe> one = Grid3DProbe::gridWithSize(CGSizeMake(1, 1));
    ASSERT_TRUE(one);
    // 64 x 64 window: one cell of 64 points.
    EXPECT_EQ(one->_indices, (std::vector<GLushort>{0, 2, 1, 2, 3, 1}));
    EXPECT_TRUE(sameVertex(one->vertex(CGPointMake(0, 1)), _ccVertex3F{0, 64, 0}));
    EXPECT_TRUE(sameVertex(one->vertex(CGPointMake(1, 0)), _ccVertex3F{64, 0, 0}));
    EXPECT_TRUE(sameVertex(one->vertex(CGPointMake(1, 1)), _ccVertex3F{64, 64, 0}));
    // Texture coordinates of point 2 (1, 0) and point 1 (0, 1).
    EXPECT_FLOAT_EQ(one->_texCoordinates[4], 1.0f);
    EXPECT_FLOAT_EQ(one->_texCoordinates[5], 0.0f);
    EXPECT_FLOAT_EQ(one->_texCoordinates[3], 1.0f);

    // 2 x 2: cell (1, 0) is the second cell of the first row, points a=3, b=6, c=7, d=4.
    Ref<Grid3DProbe> four = Grid3DProbe::gridWithSize(CGSizeMake(2, 2));
    ASSERT_TRUE(four);
    EXPECT_EQ(std::vector<GLushort>(four->_indices.begin() + 6, four->_indices.begin() + 12),
              (std::vector<GLushort>{3, 6, 4, 6, 7, 4}));
    EXPECT_TRUE(sameVertex(four->originalVertex(CGPointMake(2, 1)), _ccVertex3F{64, 32, 0}));
}

TEST_F(GridFixture, TiledGridQuadsRunByColumn) {
    Ref<TiledProbe> grid = TiledProbe::gridWithSize(CGSizeMake(2, 3));
    ASSERT_TRUE(grid);
    EXPECT_EQ(std::vector<GLushort>(grid->_indices.begin() + 18, grid->_indices.begin() + 24),
              (std::vector<GLushort>{12, 13, 14, 13, 14, 15}));
    // Tile (1, 0) is quad 3: x from 32 to 64, y from 0 to 64/3.
    _ccQuad3 q = grid->tile(CGPointMake(1, 0));
    float y2 = static_cast<float>(64.0 / 3);
    EXPECT_TRUE(sameVertex(q.bl, _ccVertex3F{32, 0, 0}));
    EXPECT_TRUE(sameVertex(q.br, _ccVertex3F{64, 0, 0}));
    EXPECT_TRUE(sameVertex(q.tl, _ccVertex3F{32, y2, 0}));
    EXPECT_TRUE(sameVertex(q.tr, _ccVertex3F{64, y2, 0}));
    EXPECT_FLOAT_EQ(grid->_texCoordinates[3 * 8 + 0], 0.5f);
    EXPECT_FLOAT_EQ(grid->_texCoordinates[3 * 8 + 7], y2 / 64);
}

TEST_F(GridFixture, FlippedTextureMirrorsVAndRebuildsTheMesh) {
    Ref<Grid3DProbe> grid = Grid3DProbe::gridWithSize(CGSizeMake(1, 1));
    ASSERT_TRUE(grid);
    grid->setVertex(CGPointMake(0, 0), _ccVertex3F{5, 5, 5});
    grid->setIsTextureFlipped(true);
    // Point 0 at y = 0 gets v = imageH / pixelsHigh = 1, point 1 at y = 64 gets 0.
    EXPECT_FLOAT_EQ(grid->_texCoordinates[1], 1.0f);
    EXPECT_FLOAT_EQ(grid->_texCoordinates[3], 0.0f);
    EXPECT_TRUE(sameVertex(grid->vertex(CGPointZero), _ccVertex3F{0, 0, 0}));
    // The same value again changes nothing.
    grid->setVertex(CGPointMake(0, 0), _ccVertex3F{5, 5, 5});
    grid->setIsTextureFlipped(true);
    EXPECT_TRUE(sameVertex(grid->vertex(CGPointZero), _ccVertex3F{5, 5, 5}));
}

TEST_F(GridFixture, SizesOutsideTheMeshLimitsMakeNoGrid) {
    // No cells would divide by zero; sizes past the 16-bit indices would draw wrong points.
    EXPECT_FALSE(CCGrid3D::gridWithSize(CGSizeMake(0, 4)));
    EXPECT_FALSE(CCTiledGrid3D::gridWithSize(CGSizeMake(4, 0)));
    EXPECT_FALSE(CCGrid3D::gridWithSize(CGSizeMake(-2, 4)));
    EXPECT_FALSE(CCGrid3D::gridWithSize(CGSizeMake(1.5, 4)));
    EXPECT_TRUE(CCGrid3D::gridWithSize(CGSizeMake(255, 255)));
    EXPECT_FALSE(CCGrid3D::gridWithSize(CGSizeMake(256, 255)));
    EXPECT_TRUE(CCTiledGrid3D::gridWithSize(CGSizeMake(128, 128)));
    EXPECT_FALSE(CCTiledGrid3D::gridWithSize(CGSizeMake(129, 128)));
    EXPECT_FALSE(CCGrid3D::gridWithSize(CGSizeMake(2, 2), nullptr, false));
}

TEST_F(GridFixture, PositionsOutsideTheGridReadZerosAndAreNotWritten) {
    Ref<CCGrid3D> grid = CCGrid3D::gridWithSize(CGSizeMake(2, 2));
    Ref<CCTiledGrid3D> tiles = CCTiledGrid3D::gridWithSize(CGSizeMake(2, 2));
    ASSERT_TRUE(grid && tiles);
    _ccVertex3F far{9, 9, 9};
    // (0, 3) would land on point (1, 0) of the buffer; (3, 0) past its end.
    for (CGPoint p : {CGPointMake(0, 3), CGPointMake(3, 0), CGPointMake(-1, 0)}) {
        grid->setVertex(p, far);
        EXPECT_TRUE(sameVertex(grid->vertex(p), _ccVertex3F{}));
        EXPECT_TRUE(sameVertex(grid->originalVertex(p), _ccVertex3F{}));
    }
    EXPECT_TRUE(sameVertex(grid->vertex(CGPointMake(1, 0)), _ccVertex3F{32, 0, 0}));
    _ccQuad3 q{far, far, far, far};
    tiles->setTile(CGPointMake(0, 2), q);
    tiles->setTile(CGPointMake(2, 0), q);
    EXPECT_TRUE(sameVertex(tiles->tile(CGPointMake(1, 0)).bl, _ccVertex3F{32, 0, 0}));
    EXPECT_TRUE(sameVertex(tiles->originalTile(CGPointMake(2, 0)).tr, _ccVertex3F{}));
}

TEST_F(GridFixture, ReuseCopiesTheDistortionOnlyWhileCountsRemain) {
    Ref<CCGrid3D> grid = CCGrid3D::gridWithSize(CGSizeMake(2, 2));
    ASSERT_TRUE(grid);
    grid->setVertex(CGPointMake(1, 1), _ccVertex3F{1, 2, 3});
    grid->reuse();
    EXPECT_TRUE(sameVertex(grid->originalVertex(CGPointMake(1, 1)), _ccVertex3F{32, 32, 0}));
    grid->setReuseGrid(2);
    grid->reuse();
    EXPECT_EQ(grid->reuseGrid(), 1);
    EXPECT_TRUE(sameVertex(grid->originalVertex(CGPointMake(1, 1)), _ccVertex3F{1, 2, 3}));

    Ref<CCTiledGrid3D> tiles = CCTiledGrid3D::gridWithSize(CGSizeMake(2, 2));
    ASSERT_TRUE(tiles);
    _ccQuad3 q{{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}};
    tiles->setTile(CGPointMake(1, 1), q);
    tiles->setReuseGrid(1);
    tiles->reuse();
    EXPECT_EQ(tiles->reuseGrid(), 0);
    EXPECT_TRUE(sameVertex(tiles->originalTile(CGPointMake(1, 1)).tr, _ccVertex3F{4, 4, 4}));
}

TEST_F(GridFixture, PlainGridBaseIsAbstract) {
    try {
        CCGridBase::gridWithSize(CGSizeMake(2, 2));
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), "GridBase");
        EXPECT_EQ(e.reason(), "Abstract class needs implementation");
    }
}

TEST_F(GridFixture, GoingInactiveReappliesTheDirectorsProjection) {
    Ref<CCGrid3D> grid = CCGrid3D::gridWithSize(CGSizeMake(2, 2));
    ASSERT_TRUE(grid);
    kmMat4 expected, now;
    matrixGet(kCCMatrixModeProjection, &expected);
    grid->set2DProjection();
    matrixGet(kCCMatrixModeProjection, &now);
    // The capture's projection has depth -1..1, the director's 2D one -1024..1024.
    EXPECT_NE(now.mat[10], expected.mat[10]);
    grid->setActive(false);
    matrixGet(kCCMatrixModeProjection, &now);
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(now.mat[i], expected.mat[i]) << i;
}

TEST_F(GridFixture, WhatFollowsAGridInACaptureLandsWhereItWouldWithout) {
    // A green square in a gridded node, then a red one right of it.
    auto gridded = CCNode::node();
    auto green = CCLayerColor::layerWithColor(ccc4(0, 255, 0, 255), 8, 8);
    green->setPosition(CGPointMake(4, 16));
    gridded->addChild(green.get());
    Ref<CCGrid3D> grid = CCGrid3D::gridWithSize(CGSizeMake(4, 4));
    ASSERT_TRUE(grid);
    gridded->setGrid(grid.get());
    grid->setActive(true);
    auto red = CCLayerColor::layerWithColor(ccc4(255, 0, 0, 255), 8, 8);
    red->setPosition(CGPointMake(16, 16));
    // Smaller than the window, as large, and larger; a capture keeps window positions.
    for (int size : {32, 64, 128}) {
        SCOPED_TRACE(size);
        auto rt = CCRenderTexture::renderTextureWithWidth(size, size);
        ASSERT_TRUE(rt);
        rt->beginWithClear(0, 0, 0, 1);
        gridded->visit();
        red->visit();
        rt->end();
        const auto image = rt->newCGImage();
        ASSERT_TRUE(image);
        auto at = [&](int x, int y) {
            const std::uint8_t* p = &image->pixels()[(std::size_t(size - 1 - y) * size + std::size_t(x)) * 4];
            return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
        };
        EXPECT_EQ(at(16, 16), 0xFF0000FFu);
        EXPECT_EQ(at(23, 23), 0xFF0000FFu);
        EXPECT_EQ(at(24, 20), 0x000000FFu);
        EXPECT_EQ(at(20, 24), 0x000000FFu);
        EXPECT_EQ(at(4, 16), 0x00FF00FFu);
        EXPECT_EQ(at(11, 23), 0x00FF00FFu);
        EXPECT_EQ(at(12, 20), 0x000000FFu);
    }
}

class GridDrawTest : public GridFixture {
protected:
    void SetUp() override {
        GridFixture::SetUp();
        scene = CCScene::node();
        texture = fltest::makeTexture(32, 32, quadrantColour);
        sprite = CCSprite::spriteWithTexture(texture.get());
        sprite->setPosition(CGPointMake(24, 28));
        scene->addChild(sprite.get());
    }
    void TearDown() override {
        scene = nullptr;
        sprite = nullptr;
        texture = nullptr;
        GridFixture::TearDown();
    }
    std::vector<std::uint32_t> frame() {
        drawFrame(scene.get());
        std::vector<std::uint32_t> pixels;
        for (int y = 0; y < 64; y += 3)
            for (int x = 0; x < 64; x += 3)
                pixels.push_back(presentedPixel(x, y));
        return pixels;
    }

    Ref<CCScene> scene;
    Ref<CCTexture2D> texture;
    Ref<CCSprite> sprite;
};

TEST_F(GridDrawTest, UndistortedGridDrawsThePictureUnchanged) {
    std::vector<std::uint32_t> plain = frame();
    ASSERT_EQ(presentedPixel(12, 36), 0xFF0000FFu); // top-left quadrant of the sprite
    Ref<CCGrid3D> grid = CCGrid3D::gridWithSize(CGSizeMake(4, 4));
    ASSERT_TRUE(grid);
    sprite->setGrid(grid.get());
    grid->setActive(true);
    drawCallCounter = 0;
    std::vector<std::uint32_t> gridded = frame();
    EXPECT_EQ(gridded, plain);
    // The sprite into the texture, then the mesh.
    EXPECT_EQ(drawCallCounter, 2u);
    // Asking for the camera on the way made one.
    EXPECT_NE(sprite->camera(), nullptr);

    // Inactive again: plain drawing, with the window's framebuffer and clear colour back.
    grid->setActive(false);
    EXPECT_EQ(frame(), plain);
}

TEST_F(GridDrawTest, MovedVerticesMoveThePicture) {
    frame();
    std::uint32_t topLeft = presentedPixel(12, 36), bottomRight = presentedPixel(36, 20);
    Ref<CCTiledGrid3D> grid = CCTiledGrid3D::gridWithSize(CGSizeMake(2, 2));
    ASSERT_TRUE(grid);
    sprite->setGrid(grid.get());
    grid->setActive(true);
    // Every tile 8 points right and 4 down.
    for (int x = 0; x < 2; ++x)
        for (int y = 0; y < 2; ++y) {
            _ccQuad3 q = grid->originalTile(CGPointMake(x, y));
            for (_ccVertex3F* v : {&q.bl, &q.br, &q.tl, &q.tr}) {
                v->x += 8;
                v->y -= 4;
            }
            grid->setTile(CGPointMake(x, y), q);
        }
    frame();
    EXPECT_EQ(presentedPixel(20, 32), topLeft);
    EXPECT_EQ(presentedPixel(44, 16), bottomRight);
    // The sprite's old left edge is background now.
    EXPECT_EQ(presentedPixel(10, 36), 0x000000FFu);

    // A collapsed tile hides its part of the picture.
    grid->setTile(CGPointMake(0, 1), _ccQuad3{});
    frame();
    EXPECT_EQ(presentedPixel(20, 32), 0x000000FFu);
    EXPECT_EQ(presentedPixel(44, 16), bottomRight);
}

} // namespace
