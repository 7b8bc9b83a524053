#include <cstring>
#include <string>
#include <vector>

#include "fake_devices.h"
#include "locale_guard.h"
#include "records.h"

namespace {

using Queries = FakeDevices;

const std::string kSecondTargetPathUpper =
    "\\\\?\\USB#VID_2560&PID_C0D6&MI_00#6&99&0&0000#{65E8773D-8F56-11D0-A3B9-00A0C9223196}\\GLOBAL";

TEST_F(Queries, NoTargetDevice) {
    devices({device(kOtherPath, u"Other")});
    const std::string scan = scanTrace();
    unsigned int count = 99;
    {
        StdoutCapture out;
        EXPECT_FALSE(getDeviceCount(&count));
        EXPECT_EQ(out.finish(), scan + "Device is not connected");
    }
    EXPECT_EQ(count, 0u);
    expectRefused(0, scan +
                         "Device is not connected"
                         "InvalidDeviceIndex");

    DeviceInfo info = patterned();
    DebugCapture debug;
    StdoutCapture out;
    EXPECT_FALSE(getDeviceListInfo(1, &info));
    EXPECT_EQ(out.finish(), scan +
                                "Device is not connected"
                                "InvalidDeviceIndex"
                                "other issue");
    EXPECT_EQ(debug.lines(), std::vector<std::u16string>{u"Device index is : 0\n"});
}

TEST_F(Queries, RecordsInSlotOrderUpperCasedWithDebuggerLines) {
    devices({device(kTargetPath, u"First"), device(kOtherPath, u"Other"), device(kSecondTargetPath, u"Second"),
             device(kTargetPath + u"#3", u"Third")});
    const std::string scan = scanTrace();
    DeviceInfo info = patterned();
    {
        StdoutCapture out;
        EXPECT_TRUE(getDeviceInfo(0, &info));
        EXPECT_EQ(out.finish(), scan);
    }
    EXPECT_STREQ(info.vid, "2560");
    EXPECT_STREQ(info.pid, "C0D6");
    EXPECT_EQ(std::string(info.devicePath), kTargetPathUpper);
    EXPECT_EQ(info.friendlyName[6], 'Z');  // nothing beyond the terminator is cleared
    expectRefused(3, scan + "InvalidDeviceIndex");

    DeviceInfo list[3] = {patterned(), patterned(), patterned()};
    DebugCapture debug;
    EXPECT_TRUE(getDeviceListInfo(3, list));
    EXPECT_STREQ(list[0].friendlyName, "First");
    EXPECT_STREQ(list[1].friendlyName, "Second");
    EXPECT_STREQ(list[2].friendlyName, "Third");
    EXPECT_EQ(std::string(list[1].devicePath), kSecondTargetPathUpper);
    EXPECT_EQ(std::string(list[2].devicePath), kTargetPathUpper + "#3");
    EXPECT_EQ(debug.lines(), (std::vector<std::u16string>{u"Device index is : 0\n", u"Device Name is : First\n",
                                                          u"Device index is : 1\n", u"Device Name is : Second\n",
                                                          u"Device index is : 2\n", u"Device Name is : Third\n"}));
}

TEST_F(Queries, ListLongerThanTheAttachedDevicesFillsThemThenFails) {
    devices({device(kTargetPath, u"First"), device(kSecondTargetPath, u"Second")});
    const std::string scan = scanTrace();
    DeviceInfo list[3] = {patterned(), patterned(), patterned()};
    StdoutCapture out;
    EXPECT_FALSE(getDeviceListInfo(3, list));
    EXPECT_EQ(out.finish(), scan + scan + scan +
                                "InvalidDeviceIndex"
                                "other issue");
    EXPECT_STREQ(list[1].friendlyName, "Second");
    EXPECT_TRUE(untouched(list[2]));
    EXPECT_TRUE(getDeviceListInfo(0, list));
}

// The second target has no name: it still gets a true record, with an empty name.
TEST_F(Queries, EachCallSeesTheDevicesAttachedAtThatMoment) {
    devices(
        {device(kTargetPath, u"First"), device(kOtherPath, u"Other"), fake::Device{kSecondTargetPath, std::nullopt}});
    unsigned int count = 0;
    EXPECT_TRUE(getDeviceCount(&count));
    EXPECT_EQ(count, 2u);

    fake::unplug(0);
    const std::string scan = scanTrace();
    EXPECT_TRUE(getDeviceCount(&count));
    EXPECT_EQ(count, 1u);
    DeviceInfo info = patterned();
    EXPECT_TRUE(getDeviceInfo(0, &info));
    EXPECT_STREQ(info.friendlyName, "");
    EXPECT_EQ(std::string(info.devicePath), kSecondTargetPathUpper);
    expectRefused(1, scan + "InvalidDeviceIndex");
}

// Refused before any scan: a scan would write its trace.
TEST_F(Queries, NullPointersAreRefusedUntouched) {
    devices({device(kTargetPath, u"A")});
    StdoutCapture out;
    EXPECT_FALSE(getDeviceCount(nullptr));
    EXPECT_FALSE(getDeviceInfo(0, nullptr));
    EXPECT_FALSE(getDeviceListInfo(1, nullptr));
    EXPECT_EQ(out.finish(), "");
}

TEST_F(Queries, LongAndForeignNamesStayInsideTheirFields) {
    const std::u16string longName(60, u'N');
    // No "C" locale has the foreign letters: neither the 7-bit one nor Microsoft's 8-bit one.
    devices({device(kTargetPath + std::u16string(400, u'p'), longName), device(kSecondTargetPath, u"Čamera 日本")});
    DeviceInfo list[2] = {patterned(), patterned()};
    {
        LocaleGuard plain("C");
        ASSERT_TRUE(getDeviceListInfo(2, list));
        EXPECT_EQ(std::string(list[0].friendlyName), std::string(49, 'N'));
        EXPECT_EQ(std::strlen(list[0].devicePath), 259u);
        EXPECT_STREQ(list[1].friendlyName, "?amera ??");
    }
    LocaleGuard utf8("C.UTF-8");
    if (!utf8.ok()) GTEST_SKIP() << "no C.UTF-8 locale";
    DebugCapture debug;
    ASSERT_TRUE(getDeviceListInfo(2, list));
    EXPECT_STREQ(list[1].friendlyName,
                 "\xC4\x8C"
                 "amera \xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(debug.lines()[3], u"Device Name is : Čamera 日本\n");
}

}  // namespace
