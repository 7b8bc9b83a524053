#include <gtest/gtest.h>

#include "utf16.h"

namespace {

TEST(Utf8ToUtf16, DecodesAndReplacesEachMalformedSequence) {
    EXPECT_EQ(standin::utf8ToUtf16("Cam\xC3\xA9ra \xE6\x97\xA5 \xF0\x9F\x98\x80"), u"Caméra 日 \xD83D\xDE00");
    EXPECT_EQ(standin::utf8ToUtf16("a\xFF"
                                   "b"),
              u"a\xFFFD"
              "b");
    EXPECT_EQ(standin::utf8ToUtf16("\xC0\xAF"), u"\xFFFD\xFFFD");  // overlong
    EXPECT_EQ(standin::utf8ToUtf16("\xED\xA0\x80"), u"\xFFFD");    // an encoded surrogate
    EXPECT_EQ(standin::utf8ToUtf16("x\xE6\x97"), u"x\xFFFD");      // cut short at the end
    EXPECT_EQ(standin::utf8ToUtf16("\xE6"
                                   "z"),
              u"\xFFFD"
              "z");  // cut short by an ASCII byte
}

TEST(Utf16ToUtf8, EncodesPairsAndReplacesLoneSurrogates) {
    EXPECT_EQ(standin::utf16ToUtf8(u"Caméra \xD83D\xDE00"), "Cam\xC3\xA9ra \xF0\x9F\x98\x80");
    EXPECT_EQ(standin::utf16ToUtf8(u"\xDC00x\xD800"), "\xEF\xBF\xBDx\xEF\xBF\xBD");
    EXPECT_EQ(standin::utf16ToUtf8(nullptr), "");
}

}  // namespace
