#include "platform/Geometry.h"
#include "platform/PropertyList.h"
#include "tests/support/TestSupport.h"

#include <plist/plist.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>

#include <unistd.h>

using platform::PlistValue;

namespace {

const char* const kXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
    <key>zebra</key><string>first key in the file</string>
    <key>count</key><integer>42</integer>
    <key>negative</key><integer>-7</integer>
    <key>scale</key><real>0.5</real>
    <key>delay</key><string>0.08</string>
    <key>on</key><true/>
    <key>off</key><false/>
    <key>blob</key><data>TWFu</data>
    <key>when</key><date>2001-01-02T00:00:00Z</date>
    <key>frames</key>
    <array>
        <string>a.png</string>
        <dict><key>rect</key><string>{{1,2},{3,4}}</string></dict>
    </array>
    <key>alpha</key><string>last key in the file</string>
</dict>
</plist>
)";

PlistValue parse(const std::string& text) {
    return PlistValue::fromMemory(text.data(), text.size());
}

std::filesystem::path writeTemp(const std::string& name, const std::string& bytes) {
    std::filesystem::path p =
        std::filesystem::temp_directory_path() / ("fl_plist_" + std::to_string(getpid()) + "_" + name);
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
}

// A binary property list from its encoded objects (one-byte offsets and references).
std::string bplist(const std::vector<std::string>& objects, std::uint8_t top = 0) {
    std::string out = "bplist00";
    std::string table;
    for (const std::string& o : objects) {
        table += static_cast<char>(out.size());
        out += o;
    }
    std::size_t tableOffset = out.size();
    out += table;
    std::string trailer(32, '\0');
    trailer[6] = 1;
    trailer[7] = 1;
    trailer[15] = static_cast<char>(objects.size());
    trailer[23] = static_cast<char>(top);
    trailer[31] = static_cast<char>(tableOffset);
    return out + trailer;
}

} // namespace

TEST(PropertyListTest, XmlDictionaryKeepsEveryTypeAndTheKeyOrder) {
    PlistValue root = parse(kXml);
    ASSERT_TRUE(root.isDictionary());
    EXPECT_EQ(root.allKeys(), (std::vector<std::string>{"zebra", "count", "negative", "scale", "delay", "on",
                                                        "off", "blob", "when", "frames", "alpha"}));
    EXPECT_EQ(root["count"].intValue(), 42);
    EXPECT_EQ(root["negative"].integerValue(), -7);
    EXPECT_DOUBLE_EQ(root["scale"].doubleValue(), 0.5);
    EXPECT_TRUE(root["on"].boolValue());
    EXPECT_FALSE(root["off"].boolValue());
    EXPECT_EQ(root["blob"].dataValue(), (std::vector<std::uint8_t>{'M', 'a', 'n'}));
    EXPECT_TRUE(root["when"].isDate());
    EXPECT_DOUBLE_EQ(root["when"].dateValue(), 86400.0);
    ASSERT_EQ(root["frames"].count(), 2u);
    EXPECT_EQ(root["frames"][0].stringValue(), "a.png");
    EXPECT_EQ(CGRectFromString(root["frames"][1]["rect"].stringValue()), CGRectMake(1, 2, 3, 4));
}

TEST(PropertyListTest, BinaryListReadsTheSameAsItsXml) {
    plist_t tree = nullptr;
    plist_from_xml(kXml, static_cast<std::uint32_t>(std::strlen(kXml)), &tree);
    ASSERT_NE(tree, nullptr);
    char* bin = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(tree, &bin, &length);
    plist_free(tree);
    ASSERT_NE(bin, nullptr);
    PlistValue fromBinary = PlistValue::fromMemory(bin, length);
    std::free(bin);
    ASSERT_TRUE(fromBinary.isDictionary());
    EXPECT_EQ(fromBinary, parse(kXml));
    EXPECT_EQ(fromBinary["negative"].integerValue(), -7);
}

TEST(PropertyListTest, BinaryObjectsAreCheckedBeforeTheyAreFollowed) {
    using namespace std::string_literals;
    // { "k\u00e9": "\u20ac\U0001F600", "n": [1, -2, true, 2.5] }
    PlistValue v = parse(
        bplist({"\xD2\x01\x02\x03\x04"s, "\x62\x00k\x00\xE9"s, "\x51n"s, "\x63\x20\xAC\xD8\x3D\xDE\x00"s,
                "\xA4\x05\x06\x07\x08"s, "\x10\x01"s, "\x13\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFE"s, "\x09"s,
                "\x23\x40\x04\x00\x00\x00\x00\x00\x00"s}));
    ASSERT_TRUE(v.isDictionary());
    EXPECT_EQ(v["k\xC3\xA9"].stringValue(), "\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(v["n"][1].integerValue(), -2);
    EXPECT_TRUE(v["n"][2].boolValue());
    EXPECT_DOUBLE_EQ(v["n"][3].doubleValue(), 2.5);

    const std::string bad[] = {
        bplist({"\xA1\x00"s}),                                 // an array that holds itself
        bplist({"\xD1\x01\x02"s, "\x10\x01"s, "\x10\x02"s}),   // a key that is not text
        bplist({"\xA1\x05"s}),                                 // a reference past the table
        bplist({"\x5F\x10\x7F"s}),                             // a length past the data
        bplist({"\x6F\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF"s}), // a length that overflows
        bplist({"\x00"s}),                                     // no value
        bplist({"\x10\x01"s}, 3),                              // a root past the table
    };
    for (const std::string& input : bad)
        EXPECT_TRUE(parse(input).isNull());
    // Forty arrays, each holding the next one twice: 2^40 nodes if it were expanded.
    std::vector<std::string> chain;
    for (int i = 0; i < 40; ++i)
        chain.push_back("\xA2"s + static_cast<char>(i + 1) + static_cast<char>(i + 1));
    chain.push_back("\x10\x01"s);
    EXPECT_TRUE(parse(bplist(chain)).isNull());
}

TEST(PropertyListTest, NumbersAnswerAsTheirOwnKindOrAsText) {
    PlistValue root = parse(kXml);
    // A number stored as text reads as a number; an integer reads as a float.
    EXPECT_FLOAT_EQ(root["delay"].floatValue(), 0.08f);
    EXPECT_EQ(root["delay"].intValue(), 0);
    EXPECT_FLOAT_EQ(root["count"].floatValue(), 42.0f);
    EXPECT_EQ(root["count"].stringValue(), "42");
    EXPECT_EQ(root["scale"].stringValue(), "0.5");
    EXPECT_EQ(root["on"].stringValue(), "1");

    EXPECT_EQ(PlistValue::string("  12abc").intValue(), 12);
    EXPECT_EQ(PlistValue::string("-3.9").intValue(), -3);
    EXPECT_DOUBLE_EQ(PlistValue::string(" +1.5e2x").doubleValue(), 150.0);
    EXPECT_DOUBLE_EQ(PlistValue::string(".25").doubleValue(), 0.25);
    EXPECT_EQ(PlistValue::string("abc").doubleValue(), 0.0);
    EXPECT_EQ(PlistValue::string("--1").doubleValue(), 0.0);
    EXPECT_TRUE(std::isinf(PlistValue::string("1e999").doubleValue()));
    EXPECT_EQ(PlistValue::string("1e-999").doubleValue(), 0.0);
    // Out-of-range values saturate rather than wrap.
    EXPECT_EQ(PlistValue::string("99999999999").intValue(), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(PlistValue::string("-99999999999999999999999").integerValue(),
              std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(PlistValue::integer(std::int64_t(1) << 40).intValue(),
              std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(PlistValue::real(-1e30).intValue(), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(PlistValue::real(std::nan("")).integerValue(), 0);
    EXPECT_EQ(PlistValue::real(2.9).intValue(), 2);
}

TEST(PropertyListTest, TextBooleansFollowTheLeadingCharacter) {
    for (const char* yes : {"YES", "yes", "true", "T", "1", " -007", "+9"})
        EXPECT_TRUE(PlistValue::string(yes).boolValue()) << yes;
    for (const char* no : {"NO", "false", "0", "000", "", "  ", "maybe"})
        EXPECT_FALSE(PlistValue::string(no).boolValue()) << no;
    EXPECT_TRUE(PlistValue::real(0.1).boolValue());
    EXPECT_FALSE(PlistValue::integer(0).boolValue());
}

TEST(PropertyListTest, MissingValuesChainToNullThatAnswersZero) {
    PlistValue root = parse(kXml);
    const PlistValue& missing = root["nope"]["deeper"][7];
    EXPECT_TRUE(missing.isNull());
    EXPECT_EQ(missing.floatValue(), 0.0f);
    EXPECT_EQ(missing.intValue(), 0);
    EXPECT_FALSE(missing.boolValue());
    EXPECT_EQ(missing.stringValue(), "");
    EXPECT_EQ(missing.count(), 0u);
    EXPECT_TRUE(root["frames"][2].isNull());
    // Containers asked for the wrong kind of member answer null too.
    EXPECT_TRUE(root["frames"]["key"].isNull());
    EXPECT_TRUE(root[std::size_t(0)].isNull());
    EXPECT_EQ(root["frames"].stringValue(), "");
}

TEST(PropertyListTest, RepeatedKeyKeepsItsFirstPlaceAndLastValue) {
    PlistValue d = PlistValue::dictionary(
        {{"a", PlistValue::integer(1)}, {"b", PlistValue::integer(2)}, {"a", PlistValue::integer(3)}});
    EXPECT_EQ(d.allKeys(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(d["a"].intValue(), 3);
}

TEST(PropertyListTest, ByteOrderMarkBeforeTheXmlIsAccepted) {
    PlistValue root = parse(std::string("\xEF\xBB\xBF") + kXml);
    ASSERT_TRUE(root.isDictionary());
    EXPECT_EQ(root["count"].intValue(), 42);
}

TEST(PropertyListTest, MalformedInputGivesNullWithAReason) {
    std::string xml = kXml;
    const std::string cases[] = {
        "",
        "\xEF\xBB\xBF",
        "not a property list",
        xml.substr(0, xml.size() / 2),
        "<plist><dict><key>a</key><integer>1</integer>",
        "bplist00",
        std::string("bplist00\xD1\x01\x02\x51\x61\x10\x01", 15) + std::string(26, '\xFF'),
    };
    for (const std::string& input : cases) {
        std::string error;
        PlistValue v = PlistValue::fromMemory(input.data(), input.size(), &error);
        EXPECT_TRUE(v.isNull()) << input;
        EXPECT_FALSE(error.empty()) << input;
    }
    // Nesting deeper than any real file is refused rather than recursed into.
    std::string deep;
    for (int i = 0; i < 2000; ++i)
        deep += "<array>";
    for (int i = 0; i < 2000; ++i)
        deep += "</array>";
    EXPECT_TRUE(parse("<plist>" + deep + "</plist>").isNull());
}

TEST(PropertyListTest, FileReadersAnswerNullForMissingBrokenOrWrongRoot) {
    EXPECT_TRUE(platform::dictionaryWithContentsOfFile("/nonexistent/file.plist").isNull());
    auto broken = writeTemp("broken.plist", "<plist><dict><key>a");
    EXPECT_TRUE(platform::dictionaryWithContentsOfFile(broken).isNull());
    auto array = writeTemp("array.plist", "<plist><array><integer>1</integer></array></plist>");
    EXPECT_TRUE(platform::dictionaryWithContentsOfFile(array).isNull());
    EXPECT_EQ(platform::arrayWithContentsOfFile(array).count(), 1u);
    auto dict = writeTemp("dict.plist", kXml);
    EXPECT_EQ(platform::dictionaryWithContentsOfFile(dict)["count"].intValue(), 42);
    std::filesystem::remove(broken);
    std::filesystem::remove(array);
    std::filesystem::remove(dict);
}

TEST(PropertyListTest, RealSheetsAndAnimationsParse) {
    FL_REQUIRE_SHARED_TESTDATA();
    auto data = fltest::sharedTestData();
    std::size_t files = 0;
    for (const char* folder : {"spritesheets", "animations", "pvr"}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(data / folder)) {
            if (entry.path().extension() != ".plist") continue;
            ++files;
            EXPECT_TRUE(platform::dictionaryWithContentsOfFile(entry.path()).isDictionary()) << entry.path();
        }
    }
    EXPECT_GE(files, 12u);

    // Starts with a byte-order mark and uses CRLF.
    PlistValue v0 = platform::dictionaryWithContentsOfFile(data / "spritesheets/format0/v0.plist");
    EXPECT_EQ(v0["frames"].count(), 10u);
    EXPECT_TRUE(v0["texture"].isDictionary());

    PlistValue utf8 =
        platform::dictionaryWithContentsOfFile(data / "spritesheets/format2_utf8_names/test_case.plist");
    EXPECT_EQ(utf8["frames"].count(), 892u);
    EXPECT_EQ(utf8["metadata"]["textureFileName"].stringValue(), "");

    PlistValue v3 = platform::dictionaryWithContentsOfFile(data / "spritesheets/format3/v3.plist");
    EXPECT_EQ(v3["metadata"]["format"].intValue(), 3);
    const PlistValue& frame = v3["frames"]["oooo_001.png"];
    EXPECT_EQ(CGRectFromString(frame["textureRect"].stringValue()), CGRectMake(193, 1075, 40, 42));
    EXPECT_EQ(CGPointFromString(frame["spriteOffset"].stringValue()), CGPointMake(15, 42));
    EXPECT_EQ(CGSizeFromString(frame["spriteSourceSize"].stringValue()), CGSizeMake(160, 160));
    EXPECT_FALSE(frame["textureRotated"].boolValue());

    // delay is text in most entries and an integer in one.
    PlistValue anims =
        platform::dictionaryWithContentsOfFile(data / "animations/format1_delay_as_string.plist");
    EXPECT_FLOAT_EQ(anims["animations"]["run"]["delay"].floatValue(), 0.08f);
    EXPECT_FLOAT_EQ(anims["animations"]["idle"]["delay"].floatValue(), 1.0f);
}

TEST(GeometryStringTest, ReadsPointsSizesAndRectsLeniently) {
    EXPECT_EQ(CGPointFromString("{3,4}"), CGPointMake(3, 4));
    EXPECT_EQ(CGPointFromString("  { -1.5 ,\t+2e1 }  trailing"), CGPointMake(-1.5, 20));
    EXPECT_EQ(CGSizeFromString("{160,160}"), CGSizeMake(160, 160));
    EXPECT_EQ(CGRectFromString("{{1,2},{3,4}}"), CGRectMake(1, 2, 3, 4));
    EXPECT_EQ(CGRectFromString("{ {0.5, -2} , { 10 , 20 } }"), CGRectMake(0.5, -2, 10, 20));
    // Round trip of what the engine writes.
    EXPECT_EQ(CGRectFromString(NSStringFromCGRect(CGRectMake(7, 8, 9.25, 10))), CGRectMake(7, 8, 9.25, 10));
}

TEST(GeometryStringTest, BadStringsGiveZeros) {
    for (const char* bad : {"", "{", "{1}", "{1,}", "{,2}", "{a,b}", "1,2", "{1,2", "{1;2}", "{--1,2}"}) {
        EXPECT_EQ(CGPointFromString(bad), CGPointZero) << bad;
        EXPECT_EQ(CGSizeFromString(bad), CGSizeZero) << bad;
    }
    for (const char* bad : {"{1,2}", "{{1,2}}", "{{1,2},{3}}", "{{1,2},{3,4}", "{{1,2} {3,4}}", "{1,2,3,4}"})
        EXPECT_EQ(CGRectFromString(bad), CGRectZero) << bad;
}
