#include "core/CCConfiguration.h"
#include "core/CCFileUtils.h"
#include "platform/Device.h"
#include "platform/Log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace fs = std::filesystem;
using platform::DeviceProfile;
using platform::Paths;

namespace {

DeviceProfile phone5() {
    DeviceProfile p = DeviceProfile::phone5Retina();
    p.screenScale = 1.0;
    return p;
}

DeviceProfile otherDevice() {
    DeviceProfile p = DeviceProfile::phone();
    p.idiom = platform::InterfaceIdiom::Other;
    return p;
}

class FileUtilsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("fl_fileutils_" + std::to_string(getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root);
        bundle = platform::Bundle::bundleWithPath(root.string());
        useDevice(DeviceProfile::phone(), 1.0f);
    }
    void TearDown() override {
        platform::Device::setCurrent(DeviceProfile::phone());
        platform::setContentScaleFactor(1.0f);
        platform::setLogSink({});
        fs::remove_all(root);
    }

    // Fresh file utilities for the device, over the temporary bundle.
    void useDevice(const DeviceProfile& profile, float scale) {
        platform::Device::setCurrent(profile);
        platform::setContentScaleFactor(scale);
        utils = platform::make<CCFileUtils>();
        utils->init();
        utils->setBundle(bundle.get());
    }

    std::string touch(const std::string& relative, const std::string& content = "x") {
        fs::path p = root / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }
    std::string at(const std::string& relative) const { return (root / relative).string(); }

    // The resolved path relative to the bundle, with its type.
    std::pair<std::string, ccResolutionType> resolve(const std::string& name) {
        ccResolutionType type = kCCResolutionUnknown;
        std::string full = utils->fullPathForFilename(name, &type);
        if (full.rfind(root.string() + "/", 0) == 0) full = full.substr(root.string().size() + 1);
        return {full, type};
    }

    fs::path root;
    platform::Ref<platform::Bundle> bundle;
    platform::Ref<CCFileUtils> utils;
};

using Order = std::vector<std::string>;

} // namespace

TEST_F(FileUtilsTest, SearchOrderFollowsTheRunningDevice) {
    struct Case {
        DeviceProfile profile;
        float scale;
        Order order;
        Order withiPhoneResources;
    };
    const Case cases[] = {
        {DeviceProfile::phone(), 1, {"iphone", "default"}, {"iphone", "default"}},
        {DeviceProfile::phoneRetina(),
         2,
         {"iphonehd", "iphone", "default"},
         {"iphonehd", "iphone", "default"}},
        {phone5(), 1, {"iphone5", "iphone", "default"}, {"iphone5", "iphone", "default"}},
        {DeviceProfile::phone5Retina(),
         2,
         {"iphone5hd", "iphonehd", "iphone5", "iphone", "default"},
         {"iphone5hd", "iphonehd", "iphone5", "iphone", "default"}},
        {DeviceProfile::pad(), 1, {"ipad", "default"}, {"ipad", "iphone5hd", "iphonehd", "default"}},
        {DeviceProfile::padRetina(),
         2,
         {"ipadhd", "ipad", "default"},
         {"ipadhd", "ipad", "iphone5hd", "iphonehd", "default"}},
        {otherDevice(), 1, {"default"}, {"default"}},
    };
    for (const Case& c : cases) {
        useDevice(c.profile, c.scale);
        EXPECT_EQ(utils->searchResolutionsOrder(), c.order);
        utils->setEnableiPhoneResourcesOniPad(true);
        EXPECT_EQ(utils->searchResolutionsOrder(), c.withiPhoneResources);
        utils->setEnableFallbackSuffixes(false);
        EXPECT_EQ(utils->searchResolutionsOrder(), c.order);
    }
}

TEST_F(FileUtilsTest, RetinaPhonePrefersTheHdSuffixAndFallsBackToThePlainFile) {
    useDevice(DeviceProfile::phoneRetina(), 2);
    touch("bg.png");
    touch("bg-hd.png");
    touch("plain.png");
    EXPECT_EQ(resolve("bg.png"), std::make_pair(std::string("bg-hd.png"), kCCResolutioniPhoneRetinaDisplay));
    // The empty suffix belongs to "iphone" first in table order, so the plain file is 1x art.
    EXPECT_EQ(resolve("plain.png"), std::make_pair(std::string("plain.png"), kCCResolutioniPhone));
    // A miss reports the type of the last variant tried: the plain name.
    EXPECT_EQ(resolve("missing.png"), std::make_pair(std::string(""), kCCResolutioniPhone));
    utils->setSearchMode(kCCFileUtilsSearchDirectoryMode);
    EXPECT_EQ(resolve("missing.png"), std::make_pair(std::string(""), kCCResolutionUnknown));
    utils->setSearchMode(kCCFileUtilsSearchSuffixMode);
    EXPECT_EQ(utils->fullPathFromRelativePath("missing.png"), "missing.png");
    EXPECT_EQ(utils->fullPathForFilename(""), "");
}

TEST_F(FileUtilsTest, SuffixGoesBeforeTheWholeCompressedExtensionAndIsNotDoubled) {
    useDevice(DeviceProfile::phoneRetina(), 2);
    touch("map-hd.pvr.ccz");
    touch("map.pvr.ccz");
    touch("sheet-hd.pvr.gz");
    touch("bg-hd.png");
    touch("bg-hd-hd.png"); // must not be picked for bg-hd.png
    touch("sprites/hero-hd.png");
    EXPECT_EQ(resolve("map.pvr.ccz").first, "map-hd.pvr.ccz");
    EXPECT_EQ(resolve("sheet.pvr.gz").first, "sheet-hd.pvr.gz");
    EXPECT_EQ(resolve("bg-hd.png"),
              std::make_pair(std::string("bg-hd.png"), kCCResolutioniPhoneRetinaDisplay));
    EXPECT_EQ(resolve("sprites/hero.png").first, "sprites/hero-hd.png");
    EXPECT_EQ(utils->getPathForFilename("map.pvr.ccz", "-hd"), at("map-hd.pvr.ccz"));
    EXPECT_EQ(utils->getPathForFilename(at("map.pvr.ccz"), "-hd"), at("map-hd.pvr.ccz"));
    EXPECT_EQ(utils->getPathForFilename(at("nothing.png"), "-hd"), "");
}

TEST_F(FileUtilsTest, PadWithiPhoneResourcesTriesEachVariantInTurn) {
    useDevice(DeviceProfile::pad(), 1);
    touch("a-ipad.png");
    touch("a-iphone5hd.png");
    touch("b-iphone5hd.png");
    touch("b-hd.png");
    touch("c-hd.png");
    touch("c.png");
    touch("d.png");
    // Without the switch, iPhone art is not considered.
    EXPECT_EQ(resolve("c.png").first, "c.png");
    utils->purgeCachedEntries();
    utils->setEnableiPhoneResourcesOniPad(true);
    EXPECT_EQ(resolve("a.png"), std::make_pair(std::string("a-ipad.png"), kCCResolutioniPad));
    EXPECT_EQ(resolve("b.png"),
              std::make_pair(std::string("b-iphone5hd.png"), kCCResolutioniPhone5RetinaDisplay));
    EXPECT_EQ(resolve("c.png"), std::make_pair(std::string("c-hd.png"), kCCResolutioniPhoneRetinaDisplay));
    EXPECT_EQ(resolve("d.png").first, "d.png");
    EXPECT_TRUE(utils->iPadFileExistsAtPath("a.png"));
    EXPECT_FALSE(utils->iPadFileExistsAtPath("b.png"));
    EXPECT_TRUE(utils->iPhoneRetinaDisplayFileExistsAtPath("b.png"));
    EXPECT_TRUE(utils->iPhoneRetinaDisplayFileExistsAtPath(at("c.png")));
    EXPECT_FALSE(utils->iPadRetinaDisplayFileExistsAtPath("a.png"));
}

TEST_F(FileUtilsTest, DirectoryModeLooksInPerDeviceFolders) {
    useDevice(DeviceProfile::phone5Retina(), 2);
    utils->setSearchMode(kCCFileUtilsSearchDirectoryMode);
    touch("resources-iphonehd/bg.png");
    touch("resources-iphone/bg.png");
    touch("resources-iphone/menu.png");
    touch("title.png");
    touch("ui/resources-iphone5hd/button.png");
    EXPECT_EQ(resolve("bg.png"),
              std::make_pair(std::string("resources-iphonehd/bg.png"), kCCResolutioniPhoneRetinaDisplay));
    EXPECT_EQ(resolve("menu.png"),
              std::make_pair(std::string("resources-iphone/menu.png"), kCCResolutioniPhone));
    EXPECT_EQ(resolve("title.png"), std::make_pair(std::string("title.png"), kCCResolutionUnknown));
    EXPECT_EQ(resolve("ui/button.png"), std::make_pair(std::string("ui/resources-iphone5hd/button.png"),
                                                       kCCResolutioniPhone5RetinaDisplay));
    // Directory mode keeps suffixes in the texture cache's key.
    EXPECT_EQ(utils->standarizePath("/x/bg-hd.png"), "/x/bg-hd.png");
}

TEST_F(FileUtilsTest, SearchPathsAreTheOuterLoop) {
    useDevice(DeviceProfile::phoneRetina(), 2);
    touch("first/bg.png");
    touch("second/bg-hd.png");
    touch("second/only.png");
    std::string absolute = touch("elsewhere/far-hd.png");
    utils->setSearchPath({"first", "second", Paths::stringByDeletingLastPathComponent(absolute)});
    // A plain file in an earlier search path beats an hd one in a later path.
    EXPECT_EQ(resolve("bg.png").first, "first/bg.png");
    EXPECT_EQ(resolve("only.png").first, "second/only.png");
    EXPECT_EQ(resolve("far.png"),
              std::make_pair(std::string("elsewhere/far-hd.png"), kCCResolutioniPhoneRetinaDisplay));
    // An absolute name is its own answer, with no type.
    EXPECT_EQ(resolve("/abs/x.png"), std::make_pair(std::string("/abs/x.png"), kCCResolutionUnknown));
    EXPECT_EQ(utils->fullPathForFilenameIgnoringResolutions("only.png"), at("second/only.png"));
    EXPECT_EQ(utils->fullPathForFilenameIgnoringResolutions("bg.png"), at("first/bg.png"));
    EXPECT_EQ(utils->fullPathForFilenameIgnoringResolutions("far.png"), "");
    EXPECT_EQ(utils->fullPathFromRelativePathIgnoringResolutions("far.png"), "far.png");
}

TEST_F(FileUtilsTest, ReplacedSuffixesAreUsed) {
    useDevice(DeviceProfile::phoneRetina(), 2);
    touch("bg@2x.png");
    utils->setiPhoneRetinaDisplaySuffix("@2x");
    EXPECT_EQ(resolve("bg.png").first, "bg@2x.png");
    utils->setiPadSuffix("~ipad");
    utils->setiPadRetinaDisplaySuffix("~ipad@2x");
    EXPECT_EQ(utils->suffixesDict()[4], std::make_pair(std::string("ipad"), std::string("~ipad")));
    EXPECT_EQ(utils->suffixesDict()[5], std::make_pair(std::string("ipadhd"), std::string("~ipad@2x")));
}

TEST_F(FileUtilsTest, LookupDictionarySubstitutesNamesOnlyForVersionOne) {
    auto lookupFile = [&](const std::string& name, const std::string& version) {
        touch(name, R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>
            <key>metadata</key><dict><key>version</key>)" +
                        version + R"(</dict>
            <key>filenames</key><dict><key>logo.png</key><string>logo-new.png</string>
            <key>odd.png</key><integer>3</integer></dict></dict></plist>)");
    };
    touch("logo.png");
    touch("logo-new.png");
    lookupFile("v2.plist", "<integer>2</integer>");
    lookupFile("v1.plist", "<integer>1</integer>");
    touch("broken.plist", "<plist><dict><key>metadata");
    std::vector<std::string> logged;
    platform::setLogSink([&](const std::string& line) { logged.push_back(line); });

    utils->loadFilenameLookupDictionaryFromFile("v2.plist");
    utils->loadFilenameLookupDictionaryFromFile("broken.plist");
    utils->loadFilenameLookupDictionaryFromFile("absent.plist");
    EXPECT_TRUE(utils->filenameLookup().empty());
    EXPECT_FALSE(logged.empty());
    EXPECT_EQ(resolve("logo.png").first, "logo.png");

    utils->loadFilenameLookupDictionaryFromFile("v1.plist");
    EXPECT_EQ(utils->filenameLookup().size(), 1u); // the integer entry is not a name
    utils->purgeCachedEntries();
    // The substitute is resolved, and cached under the name the caller gave.
    EXPECT_EQ(resolve("logo.png").first, "logo-new.png");
    EXPECT_EQ(utils->fullPathForFilenameIgnoringResolutions("logo.png"), at("logo-new.png"));
    utils->loadFilenameLookupDictionaryFromFile("v2.plist");
    EXPECT_EQ(utils->filenameLookup().size(), 1u);

    // A version 1 file without names empties the table.
    touch("nameless.plist", R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>
        <key>metadata</key><dict><key>version</key><integer>1</integer></dict></dict></plist>)");
    utils->loadFilenameLookupDictionaryFromFile("nameless.plist");
    EXPECT_TRUE(utils->filenameLookup().empty());
}

TEST_F(FileUtilsTest, CachesAnswerUntilPurged) {
    useDevice(DeviceProfile::phoneRetina(), 2);
    std::string hd = touch("bg-hd.png");
    touch("bg.png");
    EXPECT_EQ(resolve("bg.png").first, "bg-hd.png");
    EXPECT_EQ(utils->fullPathForFilenameIgnoringResolutions("bg.png"), at("bg.png"));
    fs::remove(hd);
    fs::remove(at("bg.png"));
    // Changing the tables does not empty the caches.
    utils->setSearchMode(kCCFileUtilsSearchDirectoryMode);
    utils->setSearchPath({"nowhere"});
    EXPECT_EQ(resolve("bg.png"), std::make_pair(std::string("bg-hd.png"), kCCResolutioniPhoneRetinaDisplay));
    EXPECT_EQ(utils->fullPathForFilenameIgnoringResolutions("bg.png"), at("bg.png"));
    utils->purgeCachedEntries();
    EXPECT_EQ(resolve("bg.png").first, "");
    EXPECT_EQ(utils->fullPathForFilenameIgnoringResolutions("bg.png"), "");
    // A miss is not cached: the file appearing later is found.
    utils->setSearchMode(kCCFileUtilsSearchSuffixMode);
    utils->setSearchPath({""});
    touch("bg.png");
    EXPECT_EQ(resolve("bg.png").first, "bg.png");
}

TEST_F(FileUtilsTest, SuffixRemovalDependsOnTheDevice) {
    EXPECT_EQ(utils->removeSuffix("", "a/bg-hd.png"), "a/bg-hd.png");
    EXPECT_EQ(utils->removeSuffix("-ipad", "a/bg-hd.png"), "");
    EXPECT_EQ(utils->removeSuffix("-hd", "x-hd/a-hd-hd.png"), "x-hd/a.png");
    // On a plain iPhone the empty suffix ends the search at once.
    EXPECT_EQ(utils->removeSuffixFromFile("bg-hd.png"), "bg-hd.png");
    useDevice(DeviceProfile::phoneRetina(), 2);
    EXPECT_EQ(utils->removeSuffixFromFile("bg-hd.png"), "bg.png");
    EXPECT_EQ(utils->removeSuffixFromFile("bg.png"), "bg.png");
    EXPECT_EQ(utils->standarizePath("/assets/./ui/../bg-hd.png"), "/assets/bg.png");
    useDevice(DeviceProfile::padRetina(), 2);
    EXPECT_EQ(utils->removeSuffixFromFile("bg-ipadhd.png"), "bg.png");
    EXPECT_EQ(utils->removeSuffixFromFile("bg-ipad.png"), "bg.png");
    // The cache answers for the path it was given, even after the order changes.
    utils->setSearchResolutionsOrder({"default"});
    EXPECT_EQ(utils->removeSuffixFromFile("bg-ipad.png"), "bg.png");
}

TEST_F(FileUtilsTest, ResolutionTypeIsThatOfTheFirstKeyHoldingTheValue) {
    EXPECT_EQ(utils->resolutionTypeForKey("-hd", utils->suffixesDict()), kCCResolutioniPhoneRetinaDisplay);
    EXPECT_EQ(utils->resolutionTypeForKey("", utils->suffixesDict()), kCCResolutioniPhone);
    EXPECT_EQ(utils->resolutionTypeForKey("", utils->directoriesDict()), kCCResolutionUnknown);
    EXPECT_EQ(utils->resolutionTypeForKey("resources-ipadhd", utils->directoriesDict()),
              kCCResolutioniPadRetinaDisplay);
    EXPECT_EQ(utils->resolutionTypeForKey("-nothing", utils->suffixesDict()), kCCResolutionUnknown);
    EXPECT_EQ(utils->resolutionTypeForKey("", {{"default", ""}, {"iphone", ""}}), kCCResolutionUnknown);
}

TEST_F(FileUtilsTest, PathForResourceHandlesAbsoluteAndBundleDirectories) {
    touch("data/a.json");
    EXPECT_EQ(utils->pathForResource("a", "json", at("data")), at("data/a.json"));
    EXPECT_EQ(utils->pathForResource("a.json", "", at("data")), at("data/a.json"));
    EXPECT_EQ(utils->pathForResource("a", "json", "data"), at("data/a.json"));
    EXPECT_EQ(utils->pathForResource("b", "json", at("data")), "");
    EXPECT_EQ(utils->pathForResource("", "", at("data")), "");
}

TEST(SharedFileUtilsTest, IsMadeOnceUntilPurged) {
    CCFileUtils* shared = CCFileUtils::sharedFileUtils();
    EXPECT_EQ(shared, CCFileUtils::sharedFileUtils());
    EXPECT_EQ(shared->searchPath(), std::vector<std::string>{""});
    EXPECT_EQ(shared->bundle(), platform::Bundle::mainBundle());
    CCFileUtils::purgeSharedFileUtils();
    EXPECT_NE(CCFileUtils::sharedFileUtils(), nullptr);
    CCFileUtils::purgeSharedFileUtils();
}
