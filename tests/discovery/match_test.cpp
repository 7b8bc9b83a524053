#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture.h"
#include "locale_guard.h"
#include "match.h"

namespace {

const std::u16string kTarget =
    u"\\\\?\\usb#vid_2560&pid_c0d6&mi_00#6&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
const std::u16string kOtherCamera =
    u"\\\\?\\usb#vid_046d&pid_0825&mi_00#7&2b&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
const std::u16string kNoIds = u"\\\\?\\root#image#0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

// Runs one walk over the paths, untraced: the slot each path was given, -1 for none.
std::vector<int> slotsOf(const std::vector<std::u16string>& paths, WalkState& walk) {
    std::vector<int> slots;
    for (const std::u16string& path : paths) {
        std::uint8_t slot = 0xEE;
        const bool matched = matchDevicePath(walk, ole(path), false, slot);
        EXPECT_EQ(matched, slot != 0xEE);
        slots.push_back(matched ? slot : -1);
    }
    return slots;
}

std::u16string text(const OLECHAR* units) { return reinterpret_cast<const char16_t*>(units); }

TEST(MatchDevicePath, OnlyFourCharactersAfterTheMarkerCount) {
    WalkState walk{};
    // In the second, the terminator falls where the target has its fourth digit.
    EXPECT_EQ(slotsOf({u"usb#vid_25601&pid_c0d6x", u"usb#pid_c0d6#vid_256"}, walk), (std::vector<int>{0, -1}));
    EXPECT_EQ(text(walk.extrctd_vid), u"256");
}

TEST(MatchDevicePath, IdsBeyondThe259thUnitAreNotSeen) {
    WalkState walk{};
    const std::u16string hidden = std::u16string(250, u'x') + u"#vid_2560&pid_c0d6";
    const std::u16string visible = std::u16string(241, u'x') + u"#vid_2560&pid_c0d6";  // ends at 259
    EXPECT_EQ(slotsOf({hidden, visible}, walk), (std::vector<int>{-1, 0}));
    EXPECT_EQ(text(walk.path).size(), 259u);
}

TEST(MatchDevicePath, EachDeviceIsJudgedByItsOwnPathAndTargetsTakeConsecutiveSlots) {
    WalkState walk{};
    // An ID-less device, or one with one ID only, after a target is not a target.
    EXPECT_EQ(
        slotsOf({kOtherCamera, kTarget, kNoIds, u"usb#vid_2560&mi_00", u"usb#pid_c0d6", kOtherCamera, kTarget}, walk),
        (std::vector<int>{-1, 0, -1, -1, -1, -1, 1}));
    std::uint8_t slot = 0xEE;
    EXPECT_FALSE(matchDevicePath(walk, nullptr, false, slot));
    EXPECT_EQ(slot, 0xEE);
    EXPECT_EQ(text(walk.path), u"");
}

TEST(MatchDevicePath, The257thMatchTakesSlotZeroAgain) {
    WalkState walk{};
    std::uint8_t slot = 0;
    for (int i = 0; i < 256; ++i) ASSERT_TRUE(matchDevicePath(walk, ole(kTarget), false, slot));
    EXPECT_EQ(slot, 255);
    ASSERT_TRUE(matchDevicePath(walk, ole(kTarget), false, slot));
    EXPECT_EQ(slot, 0);
}

// In a UTF-8 locale the dotless i (U+0131) upper-cases to an ASCII I and the long s (U+017F) to an
// S: letters like these must not spell "VID_" or "PID_" in one locale and not in another.
TEST(MatchDevicePath, TheVerdictDoesNotDependOnTheLocale) {
    const std::u16string lookalike = u"\\\\?\\usb#v\u0131d_2560&p\u0131d_c0d6#{65e8773d}";
    for (const char* name : {"C", "C.UTF-8"}) {
        LocaleGuard locale(name);
        if (!locale.ok()) continue;
        WalkState walk{};
        std::uint8_t slot = 0xEE;
        EXPECT_FALSE(matchDevicePath(walk, ole(lookalike), false, slot)) << name;
        EXPECT_EQ(text(walk.path), u"\\\\?\\USB#V\u0131D_2560&P\u0131D_C0D6#{65E8773D}") << name;
        EXPECT_TRUE(matchDevicePath(walk, ole(kTarget), false, slot)) << name;
        EXPECT_EQ(slot, 0) << name;
    }
}

TEST(MatchDevicePath, TracesOnlyWhenAsked) {
    WalkState walk{};
    std::uint8_t slot = 0;
    StdoutCapture quiet;
    matchDevicePath(walk, ole(kTarget), false, slot);
    matchDevicePath(walk, ole(kNoIds), false, slot);
    EXPECT_EQ(quiet.finish(), "");

    StdoutCapture traced;
    matchDevicePath(walk, ole(kTarget), true, slot);
    matchDevicePath(walk, ole(u"usb#pid_c0d6"), true, slot);
    matchDevicePath(walk, ole(kNoIds), true, slot);
    EXPECT_EQ(traced.finish(),
              " While loop hr devicePath != NULL successed"
              " While loop hr wcsncpy_s(extrctd_vid, vid_substr + 4, 4) successed"
              "While loop - pid_substr != NULL - wcsncpy_s(extrctd_pid, pid_substr + 4, 4);"
              "Before index list is fill"
              " While loop hr devicePath != NULL successed"
              "While loop - pid_substr != NULL - wcsncpy_s(extrctd_pid, pid_substr + 4, 4);"
              "Before index list is fill"
              " While loop hr devicePath != NULL successed"
              "Before index list is fill");
}

}  // namespace
