#include "graphics/CCLabelAtlas.h"

#include "core/CCFileUtils.h"
#include "core/CCGLProgram.h"
#include "core/CCScene.h"
#include "graphics/CCTextureAtlas.h"
#include "platform/Device.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/Image.h"
#include "tests/graphics/SpriteTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using fltest::makePlainTexture;
using fltest::makeTexture;
using platform::Ref;

class LabelAtlasTest : public fltest::SpriteFixture {
protected:
    void SetUp() override {
        fltest::SpriteFixture::SetUp();
        dir = fs::temp_directory_path() /
              platform::format("footlight-label-atlas-%d", static_cast<int>(getpid()));
        fs::create_directories(dir);
        CCFileUtils::sharedFileUtils()->setSearchPath({dir.string()});
    }
    void TearDown() override {
        for (const std::string& line : logLines)
            EXPECT_EQ(line.find("OpenGL error"), std::string::npos) << line;
        fs::remove_all(dir);
        fltest::SpriteFixture::TearDown();
    }

    // A PNG of w x h white pixels in the test folder.
    void writeWhitePNG(const std::string& name, std::uint32_t w, std::uint32_t h) {
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * 4, 255);
        ASSERT_TRUE(platform::Image::writePNG((dir / name).string(), pixels.data(), w, h));
    }
    // A character-map description with the given dictionary body.
    void writeCharMap(const std::string& name, const std::string& body) {
        std::ofstream(dir / name) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                     "<plist version=\"1.0\"><dict>"
                                  << body << "</dict></plist>\n";
    }

    fs::path dir;
};

_ccColor3B rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return _ccColor3B{r, g, b};
}

// An atlas node that fills nothing, to see the base class at work.
class PlainAtlasNode : public CCAtlasNode {
public:
    void updateAtlasValues() override {}
};

TEST_F(LabelAtlasTest, AtlasNodeCutsTheTextureIntoWholeTiles) {
    auto texture = makePlainTexture(50, 70); // raw pixels: not premultiplied
    auto node = platform::make<PlainAtlasNode>();
    ASSERT_TRUE(node->initWithTexture(texture.get(), 16, 32, 5));
    EXPECT_EQ(node->itemsPerRow(), 3u);
    EXPECT_EQ(node->itemsPerColumn(), 2u);
    EXPECT_EQ(node->quadsToDraw(), 5u);
    EXPECT_EQ(node->textureAtlas()->capacity(), 5u);
    EXPECT_EQ(node->texture(), texture.get());
    EXPECT_EQ(node->shaderProgram(),
              CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTexture_uColor));
    EXPECT_EQ(node->uniformColor(), node->shaderProgram()->uniformLocationForName("u_color"));
    EXPECT_GE(node->uniformColor(), 0);
    // Straight alpha: ordinary blending, opacity kept out of the colour.
    EXPECT_EQ(node->blendFunc(), (_ccBlendFunc{GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA}));
    EXPECT_FALSE(node->doesOpacityModifyRGB());

    // Decoded images are premultiplied: the blend pair stays and opacity folds into the colour.
    writeWhitePNG("tiles.png", 32, 32);
    auto fromFile = CCAtlasNode::atlasWithTileFile<PlainAtlasNode>("tiles.png", 8, 8, 2);
    ASSERT_TRUE(fromFile);
    EXPECT_EQ(fromFile->blendFunc(), (_ccBlendFunc{GL_ONE, GL_ONE_MINUS_SRC_ALPHA}));
    EXPECT_TRUE(fromFile->doesOpacityModifyRGB());
    EXPECT_EQ(fromFile->itemsPerRow(), 4u);

    // Handing it the straight texture switches both.
    fromFile->setTexture(texture.get());
    EXPECT_EQ(fromFile->blendFunc(), (_ccBlendFunc{GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA}));
    EXPECT_FALSE(fromFile->doesOpacityModifyRGB());
    EXPECT_EQ(fromFile->textureAtlas()->texture(), texture.get());

    // A texture narrower than one tile has no whole tiles.
    auto narrow = platform::make<PlainAtlasNode>();
    ASSERT_TRUE(narrow->initWithTexture(texture.get(), 64, 64, 1));
    EXPECT_EQ(narrow->itemsPerRow(), 0u);
}

TEST_F(LabelAtlasTest, AtlasNodeRefusesWhatItCannotDraw) {
    auto texture = makePlainTexture(16, 16);
    EXPECT_FALSE(platform::make<PlainAtlasNode>()->initWithTexture(nullptr, 8, 8, 1));
    EXPECT_FALSE(platform::make<PlainAtlasNode>()->initWithTexture(texture.get(), 0, 8, 1));
    EXPECT_FALSE(platform::make<PlainAtlasNode>()->initWithTexture(texture.get(), 8, 0, 1));
    EXPECT_FALSE(platform::make<PlainAtlasNode>()->initWithTexture(texture.get(), 8, 8,
                                                                   CCTextureAtlas::kMaxCapacity + 1));
    EXPECT_FALSE(CCAtlasNode::atlasWithTileFile<PlainAtlasNode>("missing.png", 8, 8, 1));

    // The base class has no idea which tiles to show.
    auto base = platform::make<CCAtlasNode>();
    ASSERT_TRUE(base->initWithTexture(texture.get(), 8, 8, 1));
    try {
        base->updateAtlasValues();
        ADD_FAILURE() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), "CCAtlasNode:Abstract");
        EXPECT_EQ(e.reason(), "updateAtlasValue not overriden");
    }

    // Plain init sets up no atlas; such a node draws nothing and takes no texture.
    auto bare = platform::make<PlainAtlasNode>();
    ASSERT_TRUE(bare->init());
    EXPECT_EQ(bare->texture(), nullptr);
    bare->setTexture(texture.get());
    bare->draw();
    EXPECT_EQ(drawCallCounter, 0u);
}

TEST_F(LabelAtlasTest, OpacityFoldsIntoTheColourOnlyWhileTheFlagIsOn) {
    writeWhitePNG("tiles.png", 16, 16);
    auto node = CCAtlasNode::atlasWithTileFile<PlainAtlasNode>("tiles.png", 8, 8, 1);
    ASSERT_TRUE(node);
    ASSERT_TRUE(node->doesOpacityModifyRGB());

    node->setColor(rgb(200, 100, 51));
    node->setOpacity(128);
    EXPECT_EQ(node->color(), rgb(200, 100, 51)); // as set
    EXPECT_EQ(node->displayedColor(), rgb(100, 50, 25));
    EXPECT_EQ(node->displayedOpacity(), 128);
    // A new colour is folded with the current opacity.
    node->setColor(rgb(255, 0, 255));
    EXPECT_EQ(node->displayedColor(), rgb(128, 0, 128));

    // Switching the flag off keeps the colour as set and unfolds it.
    node->setOpacityModifyRGB(false);
    EXPECT_EQ(node->color(), rgb(255, 0, 255));
    EXPECT_EQ(node->displayedColor(), rgb(255, 0, 255));
    node->setOpacity(10);
    EXPECT_EQ(node->displayedColor(), rgb(255, 0, 255));
    // And on again folds it once more.
    node->setOpacityModifyRGB(true);
    EXPECT_EQ(node->displayedColor(), rgb(10, 0, 10));
}

TEST_F(LabelAtlasTest, CharactersPickTilesRowByRowFromTheMapStart) {
    // Three tiles across, two down, 10 x 10 each.
    auto texture = makePlainTexture(30, 20);
    auto label = platform::make<CCLabelAtlas>();
    ASSERT_TRUE(label->initWithString("015", texture.get(), 10, 10, '0'));
    EXPECT_EQ(label->contentSize(), CGSizeMake(30, 10));
    EXPECT_EQ(label->quadsToDraw(), 3u);
    EXPECT_EQ(label->textureAtlas()->totalQuads(), 3u);

    const _ccV3F_C4B_T2F_Quad* q = label->textureAtlas()->quads();
    // '0' is tile 0, '1' tile 1, '5' the last of the second row.
    EXPECT_FLOAT_EQ(q[0].tl.texCoords.u, 0);
    EXPECT_FLOAT_EQ(q[0].tr.texCoords.u, 10.0f / 30);
    EXPECT_FLOAT_EQ(q[0].tl.texCoords.v, 0);
    EXPECT_FLOAT_EQ(q[0].bl.texCoords.v, 0.5f);
    EXPECT_FLOAT_EQ(q[1].tl.texCoords.u, 10.0f / 30);
    EXPECT_FLOAT_EQ(q[2].bl.texCoords.u, 20.0f / 30);
    EXPECT_FLOAT_EQ(q[2].br.texCoords.u, 1.0f);
    EXPECT_FLOAT_EQ(q[2].tr.texCoords.v, 0.5f);
    EXPECT_FLOAT_EQ(q[2].br.texCoords.v, 1.0f);
    // Side by side, from the origin, item high.
    EXPECT_FLOAT_EQ(q[2].bl.vertices.x, 20);
    EXPECT_FLOAT_EQ(q[2].bl.vertices.y, 0);
    EXPECT_FLOAT_EQ(q[2].tr.vertices.x, 30);
    EXPECT_FLOAT_EQ(q[2].tr.vertices.y, 10);
    EXPECT_EQ(q[1].br.colors.r, 255);
    EXPECT_EQ(q[1].br.colors.a, 255);

    // A character below the start wraps around a byte: '/' is tile 255, row 85.
    label->setString("/");
    EXPECT_FLOAT_EQ(q[0].tl.texCoords.u, 0);
    EXPECT_FLOAT_EQ(q[0].tl.texCoords.v, 85 * 10.0f / 20);

    // Vertex colours take the displayed colour when the string is laid out.
    label->setColor(rgb(10, 20, 30));
    label->setString("1");
    EXPECT_EQ(q[0].tl.colors.r, 10);
    EXPECT_EQ(q[0].tl.colors.b, 30);
}

TEST_F(LabelAtlasTest, RetinaTilesAreMeasuredInPixels) {
    platform::setContentScaleFactor(2.0f);
    // 40 x 40 pixels hold two 10-point (20-pixel) tiles across.
    auto texture = makePlainTexture(40, 40);
    auto label = platform::make<CCLabelAtlas>();
    ASSERT_TRUE(label->initWithString("bc", texture.get(), 10, 10, 'a'));
    EXPECT_EQ(label->itemsPerRow(), 2u);
    EXPECT_EQ(label->contentSize(), CGSizeMake(20, 10));
    const _ccV3F_C4B_T2F_Quad* q = label->textureAtlas()->quads();
    EXPECT_FLOAT_EQ(q[0].tl.texCoords.u, 0.5f);
    EXPECT_FLOAT_EQ(q[0].tr.texCoords.u, 1.0f);
    EXPECT_FLOAT_EQ(q[1].tl.texCoords.u, 0.0f);
    EXPECT_FLOAT_EQ(q[1].tl.texCoords.v, 0.5f);
    EXPECT_FLOAT_EQ(q[1].tr.vertices.x, 20);
}

TEST_F(LabelAtlasTest, SettingStringsGrowsTheAtlasOnlyAsNeeded) {
    auto texture = makePlainTexture(40, 10);
    auto label = CCLabelAtlas::labelWithString("12", "missing.png", 10, 10, '0');
    EXPECT_FALSE(label);
    label = platform::make<CCLabelAtlas>();
    ASSERT_TRUE(label->initWithString("12", texture.get(), 10, 10, '0'));
    _ccV3F_C4B_T2F_Quad* q = label->textureAtlas()->quads();

    // An equal string leaves the quads alone.
    q[0].tl.vertices.x = 99;
    label->setString("12");
    EXPECT_FLOAT_EQ(q[0].tl.vertices.x, 99);

    // A longer string grows the atlas to exactly its length; a shorter one keeps it.
    label->setString("12312");
    EXPECT_EQ(label->textureAtlas()->capacity(), 5u);
    EXPECT_EQ(label->quadsToDraw(), 5u);
    EXPECT_EQ(label->contentSize(), CGSizeMake(50, 10));
    label->setString("3");
    EXPECT_EQ(label->textureAtlas()->capacity(), 5u);
    EXPECT_EQ(label->quadsToDraw(), 1u);
    EXPECT_EQ(label->string(), "3");

    // The empty string draws nothing.
    label->setString("");
    EXPECT_EQ(label->quadsToDraw(), 0u);
    EXPECT_EQ(label->contentSize(), CGSizeMake(0, 10));
    auto empty = platform::make<CCLabelAtlas>();
    ASSERT_TRUE(empty->initWithString("", texture.get(), 10, 10, '0'));
    EXPECT_EQ(empty->quadsToDraw(), 0u);
    empty->draw(); // no GL work, so no GL error from an atlas without storage
    EXPECT_EQ(drawCallCounter, 0u);
    empty->setString("0");
    EXPECT_EQ(empty->textureAtlas()->capacity(), 1u);

    // Counting follows the platform's characters (UTF-16 units), tiles the leading bytes.
    label->setString("\xC3\xA9"
                     "1\xF0\x9F\x98\x80"); // e-acute, '1', an emoji (two units)
    EXPECT_EQ(label->quadsToDraw(), 4u);
    EXPECT_EQ(label->contentSize(), CGSizeMake(40, 10));
}

TEST_F(LabelAtlasTest, AStringBeyondTheAtlasLimitIsRefusedWholeAndTheOldOneKept) {
    auto texture = makePlainTexture(10, 10);
    auto label = platform::make<CCLabelAtlas>();
    ASSERT_TRUE(label->initWithString("00", texture.get(), 1, 1, '0'));
    const std::string huge(CCTextureAtlas::kMaxCapacity + 10, '0');
    label->setString(huge);
    EXPECT_EQ(label->string(), "00");
    EXPECT_EQ(label->textureAtlas()->capacity(), 2u);
    EXPECT_EQ(label->quadsToDraw(), 2u);
    EXPECT_EQ(label->contentSize(), CGSizeMake(2, 1));
    EXPECT_NE(logLines.back().find("keeps its old string"), std::string::npos);
    label->draw();
    EXPECT_EQ(drawCallCounter, 1u);
}

TEST_F(LabelAtlasTest, CharMapDescriptionsGiveTextureItemSizeAndStart) {
    writeWhitePNG("digits.png", 200, 20);
    writeCharMap("digits.plist",
                 "<key>version</key><integer>1</integer>"
                 "<key>textureFilename</key><string>digits.png</string>"
                 "<key>itemWidth</key><integer>20</integer><key>itemHeight</key><integer>20</integer>"
                 "<key>firstChar</key><integer>48</integer>");
    auto label = CCLabelAtlas::labelWithString("42", "digits.plist");
    ASSERT_TRUE(label);
    EXPECT_EQ(label->itemWidth(), 20u);
    EXPECT_EQ(label->itemHeight(), 20u);
    EXPECT_EQ(label->mapStartChar(), 48u);
    EXPECT_EQ(label->itemsPerRow(), 10u);
    EXPECT_EQ(label->contentSize(), CGSizeMake(40, 20));
    EXPECT_FLOAT_EQ(label->textureAtlas()->quads()[0].tl.texCoords.u, 0.4f);

    // On a retina screen the pixel sizes become half as many points.
    platform::setContentScaleFactor(2.0f);
    auto retina = CCLabelAtlas::labelWithString("42", "digits.plist");
    ASSERT_TRUE(retina);
    EXPECT_EQ(retina->itemWidth(), 10u);
    EXPECT_EQ(retina->itemHeight(), 10u);
    EXPECT_FLOAT_EQ(retina->textureAtlas()->quads()[0].tl.texCoords.u, 0.4f);
}

TEST_F(LabelAtlasTest, BrokenCharMapDescriptionsMakeNoLabel) {
    writeWhitePNG("digits.png", 20, 20);
    const std::string good = "<key>textureFilename</key><string>digits.png</string>"
                             "<key>firstChar</key><integer>48</integer>";
    struct Case {
        const char* what;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"no texture name",
         "<key>itemWidth</key><integer>2</integer><key>itemHeight</key><integer>2</integer>"},
        {"texture name not a string",
         "<key>textureFilename</key><integer>3</integer><key>itemWidth</key><integer>2</integer>"
         "<key>itemHeight</key><integer>2</integer>"},
        {"missing texture",
         "<key>textureFilename</key><string>gone.png</string><key>itemWidth</key><integer>2</integer>"
         "<key>itemHeight</key><integer>2</integer>"},
        {"no item width", good + "<key>itemHeight</key><integer>2</integer>"},
        {"zero item width",
         good + "<key>itemWidth</key><integer>0</integer><key>itemHeight</key><integer>2</integer>"},
        {"negative item height",
         good + "<key>itemWidth</key><integer>2</integer><key>itemHeight</key><integer>-4</integer>"},
        {"item size a word",
         good + "<key>itemWidth</key><string>wide</string><key>itemHeight</key><integer>2</integer>"},
        {"item size a dictionary",
         good + "<key>itemWidth</key><dict/><key>itemHeight</key><integer>2</integer>"},
    };
    for (const Case& c : cases) {
        writeCharMap("broken.plist", c.body);
        EXPECT_FALSE(CCLabelAtlas::labelWithString("0", "broken.plist")) << c.what;
    }

    // One pixel on a retina screen is less than a point.
    writeCharMap("tiny.plist",
                 good + "<key>itemWidth</key><integer>1</integer><key>itemHeight</key><integer>1</integer>");
    EXPECT_TRUE(CCLabelAtlas::labelWithString("0", "tiny.plist"));
    platform::setContentScaleFactor(2.0f);
    EXPECT_FALSE(CCLabelAtlas::labelWithString("0", "tiny.plist"));
    platform::setContentScaleFactor(1.0f);

    // Not a dictionary, not a property list, not there.
    std::ofstream(dir / "array.plist") << "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>";
    std::ofstream(dir / "noise.plist") << "\x01\x02 not a property list";
    EXPECT_FALSE(CCLabelAtlas::labelWithString("0", "array.plist"));
    EXPECT_FALSE(CCLabelAtlas::labelWithString("0", "noise.plist"));
    EXPECT_FALSE(CCLabelAtlas::labelWithString("0", "absent.plist"));
    EXPECT_FALSE(CCLabelAtlas::labelWithString("0", ""));
}

TEST_F(LabelAtlasTest, DrawnLabelShowsItsTilesTintedByItsColour) {
    // Tiles of 8 x 8: red, green, blue, white.
    auto texture = makeTexture(32, 8, [](int x, int) -> std::uint32_t {
        static const std::uint32_t colours[] = {0xFF0000FF, 0x00FF00FF, 0x0000FFFF, 0xFFFFFFFF};
        return colours[x / 8];
    });
    auto label = platform::make<CCLabelAtlas>();
    ASSERT_TRUE(label->initWithString("2103", texture.get(), 8, 8, '0'));
    label->setPosition(CGPointMake(4, 10));
    auto scene = CCScene::node();
    scene->addChild(label.get());

    drawFrame(scene.get());
    EXPECT_TRUE(fltest::colorNear(presentedPixel(8, 14), 0x0000FFFF));
    EXPECT_TRUE(fltest::colorNear(presentedPixel(16, 14), 0x00FF00FF));
    EXPECT_TRUE(fltest::colorNear(presentedPixel(24, 14), 0xFF0000FF));
    EXPECT_TRUE(fltest::colorNear(presentedPixel(32, 14), 0xFFFFFFFF));
    EXPECT_TRUE(fltest::colorNear(presentedPixel(38, 14), 0x000000FF)); // past the label
    EXPECT_TRUE(fltest::colorNear(presentedPixel(8, 20), 0x000000FF));  // above it

    // The colour uniform tints every tile; the white one shows it plainly.
    label->setColor(rgb(0, 255, 255));
    drawFrame(scene.get());
    EXPECT_TRUE(fltest::colorNear(presentedPixel(32, 14), 0x00FFFFFF));
    EXPECT_TRUE(fltest::colorNear(presentedPixel(8, 14), 0x0000FFFF));
    EXPECT_TRUE(fltest::colorNear(presentedPixel(24, 14), 0x000000FF));

    // Half opacity blends the tiles over the black background, which stays opaque.
    label->setOpacity(128);
    drawFrame(scene.get());
    EXPECT_TRUE(fltest::colorNear(presentedPixel(32, 14), 0x008080FF, 3));

    // A new string draws only its own characters.
    label->setString("3");
    drawFrame(scene.get());
    EXPECT_TRUE(fltest::colorNear(presentedPixel(8, 14), 0x008080FF, 3));
    EXPECT_TRUE(fltest::colorNear(presentedPixel(16, 14), 0x000000FF));
}

} // namespace
