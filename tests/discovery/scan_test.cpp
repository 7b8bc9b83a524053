#include <string>

#include "fake_devices.h"

namespace {

using Scan = FakeDevices;

const char* const kOneTargetTrace =
    "initialize is statred"
    "Before While loop"
    "Entered a While loop"
    " While loop hr successed"
    " While loop hr S_OK successed"
    " While loop hr devicePath != NULL successed"
    " While loop hr wcsncpy_s(extrctd_vid, vid_substr + 4, 4) successed"
    "While loop - pid_substr != NULL - wcsncpy_s(extrctd_pid, pid_substr + 4, 4);"
    "Before index list is fill"
    "Before index list is : 1\n";

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST_F(Scan, OneTargetAsTheOnlyDeviceWritesTheWholeTraceInOrder) {
    devices({device(kTargetPath, u"Cam")});
    deviceMask = 0xFFFF0000u;
    StdoutCapture out;
    EXPECT_TRUE(initialize());
    EXPECT_EQ(out.finish(), kOneTargetTrace);
    EXPECT_EQ(deviceMask, 1u);
    EXPECT_EQ(fake::apartmentMode(), static_cast<int>(COINIT_APARTMENTTHREADED));
}

TEST_F(Scan, NoVideoInputDeviceAtAllLeavesAnEmptyMask) {
    deviceMask = 7;
    StdoutCapture out;
    EXPECT_FALSE(initialize());
    EXPECT_EQ(out.finish(), "initialize is statredNotInitialized Error");
    EXPECT_EQ(deviceMask, 0u);
}

TEST_F(Scan, TargetsAmongOtherAndUnreadableDevicesTakeConsecutiveBits) {
    const fake::Device noPath{std::nullopt, u"NoPath"};
    devices({noPath, device(kTargetPath, u"A"), device(kOtherPath, u"Other"), noPath, device(kSecondTargetPath, u"B")});
    StdoutCapture out;
    EXPECT_TRUE(initialize());
    const std::string trace = out.finish();
    EXPECT_EQ(deviceMask, 3u);
    // A device whose path cannot be read ends its turn at once.
    EXPECT_EQ(trace.rfind("initialize is statredBefore While loopEntered a While loop While loop hr successed"
                          "Entered a While loop",
                          0),
              0u);
    EXPECT_NE(trace.find("Before index list is : 3\n", trace.find("Before index list is : 1\n")), std::string::npos);
}

TEST_F(Scan, MoreThan32TargetsWrapTheMaskWhichPrintsAsSigned) {
    devices(std::vector<fake::Device>(40, device(kTargetPath, u"T")));
    StdoutCapture out;
    EXPECT_TRUE(initialize());
    const std::string trace = out.finish();
    EXPECT_EQ(deviceMask, 0xFFFFFFFFu);
    EXPECT_EQ(occurrences(trace, ": -1\n"), 9u);  // matches 32 to 40 all show the full mask
}

}  // namespace
