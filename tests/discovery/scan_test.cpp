#include <string>

#include "capture.h"
#include "scan.h"
#include "scripted_fixture.h"

namespace {

using Scan = ScriptedDevices;

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

TEST_F(Scan, OneTargetAsTheOnlyDeviceWritesTheWholeTraceInOrder) {
    devices({device(kTargetPath, u"Cam")});
    deviceMask = 0xFFFF0000u;
    StdoutCapture out;
    EXPECT_TRUE(initialize());
    EXPECT_EQ(out.finish(), kOneTargetTrace);
    EXPECT_EQ(deviceMask, 1u);
    EXPECT_EQ(standin::apartmentMode(), COINIT_APARTMENTTHREADED);
}

TEST_F(Scan, TwoTargetsAmongOtherCamerasGiveMaskThree) {
    devices({device(kOtherPath, u"Other"), device(kTargetPath, u"A"), device(kOtherPath, u"Other"),
             device(kSecondTargetPath, u"B"), device(kOtherPath, u"Other")});
    StdoutCapture out;
    EXPECT_TRUE(initialize());
    const std::string trace = out.finish();
    EXPECT_EQ(deviceMask, 3u);
    const auto first = trace.find("Before index list is : 1\n");
    const auto second = trace.find("Before index list is : 3\n");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    EXPECT_LT(first, second);
}

TEST_F(Scan, NoDeviceAtAllAndEnumeratorFailuresLeaveAnEmptyMask) {
    for (const HRESULT createResult : {S_OK, E_FAIL, REGDB_E_CLASSNOTREG}) {
        for (const HRESULT categoryResult : {S_OK, E_OUTOFMEMORY}) {
            scripted::Script script;
            script.createResult = createResult;
            script.categoryResult = categoryResult;
            if (categoryResult != S_OK) script.devices = {device(kTargetPath, u"A")};
            scripted::setScript(script);
            deviceMask = 7;
            SetLastError(5);
            StdoutCapture out;
            EXPECT_FALSE(initialize());
            EXPECT_EQ(out.finish(), "initialize is statredNotInitialized Error");
            EXPECT_EQ(deviceMask, 0u);
            if (createResult != S_OK) {
                EXPECT_EQ(GetLastError(), 0u);
            }
        }
    }
}

TEST_F(Scan, UnreadablePathSkipsTheDeviceWithoutDisturbingSlots) {
    scripted::Device noPath = device(u"", u"NoPath");
    noPath.path.reset();
    devices({noPath, device(kTargetPath, u"A"), noPath, device(kSecondTargetPath, u"B")});
    StdoutCapture out;
    EXPECT_TRUE(initialize());
    const std::string trace = out.finish();
    EXPECT_EQ(deviceMask, 3u);
    EXPECT_EQ(trace.rfind("initialize is statredBefore While loopEntered a While loop While loop hr successed"
                          "Entered a While loop",
                          0),
              0u);
}

TEST_F(Scan, FailedBindEndsTheScanKeepingTheMatchesSoFar) {
    scripted::Device unbound = device(kTargetPath, u"Unbound");
    unbound.bindResult = E_FAIL;
    devices({device(kTargetPath, u"A"), unbound, device(kSecondTargetPath, u"B")});
    StdoutCapture out;
    EXPECT_FALSE(initialize());
    const std::string trace = out.finish();
    EXPECT_EQ(deviceMask, 1u);
    EXPECT_TRUE(endsWith(trace, "Before index list is : 1\nEntered a While loopNotInitialized Error")) << trace;
}

TEST_F(Scan, AnExceptionInsideTheWalkIsCaught) {
    scripted::Device throwing = device(kOtherPath, u"Throws");
    throwing.throwOnRead = true;
    devices({device(kTargetPath, u"A"), throwing, device(kSecondTargetPath, u"B")});
    StdoutCapture out;
    EXPECT_FALSE(initialize());
    const std::string trace = out.finish();
    EXPECT_EQ(deviceMask, 1u);
    EXPECT_TRUE(endsWith(trace, "Before index list is : 1\nEntered a While loop While loop hr successedNotInitialized Error"))
        << trace;
}

TEST_F(Scan, MoreThan32TargetsWrapTheMaskWhichPrintsAsSigned) {
    scripted::Script script;
    for (int i = 0; i < 40; ++i) script.devices.push_back(device(kTargetPath, u"T"));
    scripted::setScript(script);
    StdoutCapture out;
    EXPECT_TRUE(initialize());
    const std::string trace = out.finish();
    EXPECT_EQ(deviceMask, 0xFFFFFFFFu);
    std::size_t negative = 0;
    for (auto at = trace.find(": -1\n"); at != std::string::npos; at = trace.find(": -1\n", at + 1)) ++negative;
    EXPECT_EQ(negative, 9u);  // matches 32 to 40 all show the full mask
}

}  // namespace
