#include "graphics/CCFontDefinition.h"

#include <gtest/gtest.h>

TEST(FontDefinitionTest, StartsEmptyAndKeepsWhatItIsGiven) {
    auto definition = platform::make<CCFontDefinition>();
    ASSERT_TRUE(definition->init());
    EXPECT_TRUE(definition->fontName().empty());
    EXPECT_EQ(definition->fontSize(), 0);
    EXPECT_EQ(definition->alignment(), 0);
    EXPECT_EQ(definition->vertAlignment(), 0);
    EXPECT_EQ(definition->lineBreakMode(), 0);
    EXPECT_EQ(definition->dimensions(), CGSizeZero);
    EXPECT_EQ(definition->fontFillColor(), ccBLACK);
    EXPECT_FALSE(definition->shadowEnabled());
    EXPECT_FALSE(definition->strokeEnabled());

    std::string name = "Marker Felt";
    auto named = platform::make<CCFontDefinition>();
    ASSERT_TRUE(named->initWithFontName(name, 24));
    name = "changed";
    EXPECT_EQ(named->fontName(), "Marker Felt") << "the name is copied";
    EXPECT_EQ(named->fontSize(), 24);
    EXPECT_FALSE(named->shadowEnabled());
}

TEST(FontDefinitionTest, BlurAndStrokeSizeAreKeptInSinglePrecision) {
    auto definition = platform::make<CCFontDefinition>();
    definition->setShadowBlur(0.1);
    definition->setStrokeSize(2.3);
    EXPECT_EQ(definition->shadowBlur(), double(0.1f));
    EXPECT_EQ(definition->strokeSize(), double(2.3f));
    definition->enableShadow(true);
    definition->setShadowOffset(CGSizeMake(3, -2));
    definition->enableStroke(true);
    definition->setStrokeColor(ccc3(1, 2, 3));
    EXPECT_TRUE(definition->shadowEnabled());
    EXPECT_EQ(definition->shadowOffset(), CGSizeMake(3, -2));
    EXPECT_TRUE(definition->strokeEnabled());
    EXPECT_EQ(definition->strokeColor(), ccc3(1, 2, 3));
}
