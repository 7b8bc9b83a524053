#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "capture.h"
#include "locale_guard.h"
#include "wide_text.h"

namespace {

std::u16string text(const OLECHAR* units) { return reinterpret_cast<const char16_t*>(units); }

// The upper-casing rule one unit at a time, which the whole-text code must agree with.
OLECHAR upperUnit(OLECHAR unit) {
    if (unit < 0x80) return unit >= u'a' && unit <= u'z' ? static_cast<OLECHAR>(unit - 0x20) : unit;
    if (unit >= 0xD800 && unit <= 0xDFFF) return unit;
    const std::wint_t upper = std::towupper(static_cast<std::wint_t>(unit));
    return upper >= 0x80 && upper <= 0xFFFF && !(upper >= 0xD800 && upper <= 0xDFFF) ? static_cast<OLECHAR>(upper)
                                                                                     : unit;
}

TEST(CopyUpper, AgreesWithTheRuleForEveryUnitAndEveryCut) {
    std::u16string all;
    for (char32_t unit = 1; unit <= 0xFFFF; ++unit) all += static_cast<char16_t>(unit);
    const std::u16string mixed = u"`az{\u00e9\u8061\u0131" + std::u16string(14, u'q');
    for (const char* locale : {"C", "C.UTF-8"}) {
        LocaleGuard guard(locale);
        if (!guard.ok()) continue;
        std::u16string expected;
        for (char16_t unit : all) expected += upperUnit(unit);
        std::u16string upper(all.size() + 1, u'#');
        copyUpper(reinterpret_cast<OLECHAR*>(upper.data()), upper.size(), ole(all));
        upper.pop_back();
        EXPECT_EQ(std::mismatch(upper.begin(), upper.end(), expected.begin()).first - upper.begin(),
                  static_cast<std::ptrdiff_t>(upper.size()))
            << locale;

        // Every text length and buffer size around the blocks of units done together, each text the
        // whole of its own allocation, so that the sanitizer build sees any read beyond it.
        for (std::size_t length = 0; length <= mixed.size(); ++length) {
            std::vector<OLECHAR> source(mixed.begin(), mixed.begin() + static_cast<std::ptrdiff_t>(length));
            source.push_back(0);
            for (std::size_t units = 1; units <= mixed.size() + 2; ++units) {
                SCOPED_TRACE(testing::Message() << locale << " length " << length << " units " << units);
                std::vector<OLECHAR> copy(units + 1, u'#');
                const std::size_t copied = copyUpper(copy.data(), units, source.data());
                ASSERT_EQ(copied, std::min(units - 1, length));
                for (std::size_t i = 0; i < copied; ++i) EXPECT_EQ(copy[i], upperUnit(mixed[i])) << i;
                EXPECT_EQ(copy[copied], 0);
                EXPECT_EQ(copy[units], u'#');  // nothing written past the buffer
            }
        }
    }
    OLECHAR buffer[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(copyUpper(buffer, 4, nullptr), 0u);
    EXPECT_EQ(buffer[0], 0);
}

TEST(FindText, FindsTheFirstOccurrenceFromTheStart) {
    const std::u16string haystack = u"VVID_1VID_2";
    const OLECHAR* found = findText(ole(haystack), OLESTR("VID_"));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found - ole(haystack), 1);
    EXPECT_EQ(findText(ole(u"VID"), OLESTR("VID_")), nullptr);
    EXPECT_EQ(findText(ole(u""), OLESTR("VID_")), nullptr);
}

TEST(CopyId, CopiesAtMostFourUnitsAndTerminates) {
    OLECHAR id[10];
    for (OLECHAR& unit : id) unit = u'#';
    copyId(id, ole(u"25601234"));
    EXPECT_EQ(text(id), u"2560");
    copyId(id, ole(u"25"));
    EXPECT_EQ(text(id), u"25");
    EXPECT_EQ(id[5], u'#');  // nothing written beyond the terminator
}

// `text` converted into a field of `size` bytes inside a larger area, the rest of which must stay
// as it was.
std::string narrowed(const OLECHAR* text, std::size_t size = 50) {
    char area[80];
    std::memset(area, 'G', sizeof area);
    toNarrowField(area + 10, size, text);
    EXPECT_EQ(std::string(area, 10) + std::string(area + 10 + size, sizeof area - 10 - size),
              std::string(sizeof area - size, 'G'));
    const std::size_t length = strnlen(area + 10, size);
    EXPECT_LT(length, size) << "no terminator";
    return std::string(area + 10, length);
}

TEST(NarrowField, TextIsCutToFitWithItsTerminator) {
    EXPECT_EQ(narrowed(ole(std::u16string(60, u'N'))), std::string(49, 'N'));
    EXPECT_EQ(narrowed(ole(u"2560"), 5), "2560");
    EXPECT_EQ(narrowed(nullptr), "");
}

TEST(NarrowField, MultibyteTextIsCutOnACharacterBoundary) {
    LocaleGuard utf8("C.UTF-8");
    if (!utf8.ok()) GTEST_SKIP() << "no C.UTF-8 locale";
    std::string expected;
    for (int i = 0; i < 24; ++i) expected += "\xC3\xA9";
    EXPECT_EQ(narrowed(ole(std::u16string(30, u'é'))), expected);  // 60 bytes in UTF-8
    EXPECT_EQ(narrowed(ole(u"ab\xD83D\xDE00"), 5), "ab");          // the 4-byte character would end past the field
    EXPECT_EQ(narrowed(ole(u"a\xD83D\xDE00z\xDC00")), "a\xF0\x9F\x98\x80z?");  // a pair converts, a lone half does not
}

TEST(NarrowField, CharactersTheLocaleLacksBecomeQuestionMarks) {
    // Letters that no "C" locale has: neither the 7-bit one nor Microsoft's 8-bit one.
    LocaleGuard plain("C");
    EXPECT_EQ(narrowed(ole(u"\u010Camera \u65E5")), "?amera ?");
    // The C library converts the tag characters (U+E0000 to U+E007F) to no bytes at all here; they
    // are not represented either.
    EXPECT_EQ(narrowed(ole(u"a\U000E0030b\U000E007F")), "a?b?");
}

int format(OLECHAR* destination, std::size_t units, const OLECHAR* pattern, ...) {
    std::va_list args;
    va_start(args, pattern);
    const int result = formatWide(destination, units, pattern, args);
    va_end(args);
    return result;
}

TEST(FormatWide, ReportsFitExactAndOverflowLikeACountBoundedFormatter) {
    OLECHAR out[8];
    for (OLECHAR& unit : out) unit = u'#';
    EXPECT_EQ(format(out, 6, OLESTR("%d!"), -42), 4);
    EXPECT_EQ(text(out), u"-42!");

    for (OLECHAR& unit : out) unit = u'#';
    EXPECT_EQ(format(out, 6, OLESTR("ab%scd"), "XY"), 6);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(out), 7), u"abXYcd#");  // no terminator

    for (OLECHAR& unit : out) unit = u'#';
    EXPECT_EQ(format(out, 6, OLESTR("%d"), -2147483647 - 1), -1);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(out), 7), u"-21474#");
}

TEST(FormatWide, NarrowTextHonoursItsPrecisionAndPercentSigns) {
    OLECHAR out[64];
    const char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(format(out, 64, OLESTR("[%.4s] 100%% %q"), unterminated), 14);
    EXPECT_EQ(text(out), u"[abcd] 100% %q");
}

}  // namespace
