#include "platform/Utf16.h"

#include <gtest/gtest.h>

#include <string>

using namespace platform;

TEST(Utf16, CountsCodeUnitsWithTwoForCharactersBeyondTheBasicPlane) {
    EXPECT_EQ(utf16Length(""), 0u);
    EXPECT_EQ(utf16Length("abc"), 3u);
    EXPECT_EQ(utf16Length("\xC3\xA9"), 1u);         // é
    EXPECT_EQ(utf16Length("\xE2\x82\xAC"), 1u);     // €
    EXPECT_EQ(utf16Length("\xF0\x9F\x98\x80"), 2u); // a surrogate pair
    EXPECT_EQ(utf16Length("a\xF0\x9F\x98\x80"
                          "b"),
              4u);
}

TEST(Utf16, MalformedBytesCountOneEachAndNeverExceedTheByteCount) {
    for (const std::string& bad : {std::string("\x80"), std::string("\xC3"), std::string("\xE2\x82"),
                                   std::string("\xC0\x80"),         // overlong NUL
                                   std::string("\xED\xA0\x80"),     // an encoded surrogate
                                   std::string("\xF4\x90\x80\x80"), // past U+10FFFF
                                   std::string("\xFF\xFE")}) {
        EXPECT_FALSE(isValidUTF8(bad));
        EXPECT_EQ(utf16Length(bad), bad.size());
        const std::u16string units = utf16FromUTF8(bad);
        EXPECT_EQ(units, std::u16string(bad.size(), u'\uFFFD'));
    }
    // A bad byte does not swallow the good character after it.
    EXPECT_EQ(utf16FromUTF8("\xC3"
                            "A"),
              u"\uFFFDA");
}

TEST(Utf16, RoundTripsAndReplacesUnpairedSurrogates) {
    const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    EXPECT_TRUE(isValidUTF8(text));
    const std::u16string units = utf16FromUTF8(text);
    EXPECT_EQ(units, std::u16string(u"A\u00E9\u20AC\U0001F600"));
    EXPECT_EQ(units.size(), utf16Length(text));
    EXPECT_EQ(utf8FromUTF16(units), text);

    EXPECT_EQ(utf8FromUTF16(u"\xD83D"
                            "x"),
              "\xEF\xBF\xBDx"); // high surrogate alone
    EXPECT_EQ(utf8FromUTF16(std::u16string(1, char16_t(0xDE00))), "\xEF\xBF\xBD");
}
