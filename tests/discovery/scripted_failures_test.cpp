// Scan and query cases that need COM to fail, throw, or change the devices in the middle of a call:
// our stand-in can be made to, the real enumerator cannot.
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "listing.h"
#include "records.h"
#include "scripted_fixture.h"

namespace {

using ScanFailures = ScriptedDevices;
using QueryFailures = ScriptedDevices;
using ListingFailures = ScriptedDevices;

TEST_F(ScanFailures, EnumeratorFailuresLeaveAnEmptyMask) {
    for (const HRESULT create : {S_OK, E_FAIL, REGDB_E_CLASSNOTREG}) {
        for (const HRESULT category : {S_OK, E_OUTOFMEMORY}) {
            if (create == S_OK && category == S_OK) continue;  // shared: no device at all
            SCOPED_TRACE(testing::Message() << create << " " << category);
            devices({scriptedDevice(kTargetPath, u"A")}, create, category);
            deviceMask = 7;
            SetLastError(5);
            StdoutCapture out;
            EXPECT_FALSE(initialize());
            EXPECT_EQ(out.finish(), "initialize is statredNotInitialized Error");
            EXPECT_EQ(deviceMask, 0u);
            if (create != S_OK) {
                EXPECT_EQ(GetLastError(), 0u);
            }
        }
    }
}

TEST_F(ScanFailures, AFailedBindOrAnExceptionEndsTheScanKeepingTheMatchesSoFar) {
    const std::pair<scripted::Device, std::string> cases[] = {
        {scriptedDevice(kTargetPath, u"Unbound", E_FAIL),
         "Before index list is : 1\nEntered a While loopNotInitialized Error"},
        {scriptedDevice(kOtherPath, u"Throws", S_OK, true),
         "Before index list is : 1\nEntered a While loop While loop hr successedNotInitialized Error"},
    };
    for (const auto& [failing, traceEnd] : cases) {
        devices({scriptedDevice(kTargetPath, u"A"), failing, scriptedDevice(kSecondTargetPath, u"B")});
        StdoutCapture out;
        EXPECT_FALSE(initialize());
        const std::string trace = out.finish();
        EXPECT_EQ(deviceMask, 1u);
        ASSERT_GE(trace.size(), traceEnd.size()) << trace;
        EXPECT_EQ(trace.substr(trace.size() - traceEnd.size()), traceEnd);
    }
}

TEST_F(QueryFailures, ADeviceUnpluggedBetweenScanAndWalkIsAFailure) {
    scripted::Device leaving = scriptedDevice(kTargetPath, u"Leaving");
    leaving.lastWalk = 0;  // listed by the scan only
    devices({leaving, scriptedDevice(kOtherPath, u"Staying")});
    expectRefused(0, scanTrace() + "InvalidDeviceIndex");
    EXPECT_EQ(scripted::walks(), 2);
    // With no device left at all, the record walk finds an empty category.
    devices({leaving});
    expectRefused(0, scanTrace() + "NotInitialized");
}

TEST_F(QueryFailures, RecordWalkFailuresSayNotInitialized) {
    // The scan succeeds; the record walk then cannot create the enumerator, list the category, or
    // bind a device that appears in it.
    for (int failure = 0; failure < 3; ++failure) {
        SCOPED_TRACE(failure);
        const scripted::Device late = scriptedDevice(kOtherPath, u"Late", failure == 2 ? E_FAIL : S_OK, false, 1);
        devices({late, scriptedDevice(kTargetPath, u"A")}, failure == 0 ? E_FAIL : S_OK, failure == 1 ? E_FAIL : S_OK,
                1);
        const std::string scan = scanTrace();
        SetLastError(5);
        expectRefused(0, scan + "NotInitialized");
        if (failure == 0) {
            EXPECT_EQ(GetLastError(), 0u);
        }
    }
}

TEST_F(QueryFailures, AnExceptionInTheRecordWalkIsCaughtAndReported) {
    devices({scriptedDevice(kTargetPath, u"A"), scriptedDevice(kOtherPath, u"Throws", S_OK, true, 1)});
    const std::string scan = scanTrace();
    DeviceInfo info = patterned();
    DebugCapture debug;
    StdoutCapture out;
    EXPECT_FALSE(getDeviceInfo(0, &info));
    EXPECT_EQ(out.finish(), scan + "NotInitialized");
    EXPECT_EQ(debug.lines(), std::vector<std::u16string>{u"Exception EnumerateVideoDevices....\r\n"});
}

TEST_F(ListingFailures, AFailedEnumerationNamesItsStepAndResultAndListsNothing) {
    struct Case {
        HRESULT create, category;
        scripted::Device second;
        const char* step;
        HRESULT result;
    };
    const Case cases[] = {
        {E_FAIL, S_OK, scriptedDevice(kOtherPath, u"B"), "CoCreateInstance(CLSID_SystemDeviceEnum)", E_FAIL},
        {S_OK, E_OUTOFMEMORY, scriptedDevice(kOtherPath, u"B"),
         "ICreateDevEnum::CreateClassEnumerator(CLSID_VideoInputDeviceCategory)", E_OUTOFMEMORY},
        {S_OK, S_OK, scriptedDevice(kSecondTargetPath, u"Unbound", E_FAIL), "IMoniker::BindToStorage(IID_IPropertyBag)",
         E_FAIL},
        {S_OK, S_OK, scriptedDevice(kSecondTargetPath, u"Throws", S_OK, true), "IPropertyBag::Read",
         static_cast<HRESULT>(0x8000FFFFu)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        devices({scriptedDevice(kTargetPath, u"A"), c.second}, c.create, c.category);
        const CameraListing listing = listCameras(false);
        ASSERT_NE(listing.failedStep, nullptr);
        EXPECT_STREQ(listing.failedStep, c.step);
        EXPECT_EQ(listing.result, c.result);
        EXPECT_TRUE(listing.cameras.empty());
    }
}

TEST_F(ListingFailures, AnExceptionIsNamedByTheCallItCameOutOf) {
    scripted::Device throwsOnBind = scriptedDevice(kSecondTargetPath, u"Throws");
    throwsOnBind.throwOnBind = true;
    devices({scriptedDevice(kTargetPath, u"A"), throwsOnBind});
    const CameraListing listing = listCameras(false);
    ASSERT_NE(listing.failedStep, nullptr);
    EXPECT_STREQ(listing.failedStep, "IMoniker::BindToStorage(IID_IPropertyBag)");
    EXPECT_EQ(listing.result, static_cast<HRESULT>(0x8000FFFFu));
    EXPECT_EQ(listing.errnoValue, 0);
    EXPECT_TRUE(listing.cameras.empty());
}

TEST_F(ListingFailures, ASystemCallThatFailedIsNamedWithItsErrnoForThatListingOnly) {
    for (const int error : {EACCES, ENOTDIR}) {
        SCOPED_TRACE(error);
        scripted::Script script{S_OK, E_FAIL, 0, {scriptedDevice(kTargetPath, u"A")}};
        script.categoryErrno = error;
        scripted::setScript(script);
        const CameraListing failed = listCameras(false);
        ASSERT_NE(failed.failedStep, nullptr);
        EXPECT_STREQ(failed.failedStep, scripted::kScriptedListCall);
        EXPECT_EQ(failed.errnoValue, error);
        EXPECT_TRUE(failed.cameras.empty());
        // The next failure on this thread is COM's alone, and a listing that runs through has none.
        devices({scriptedDevice(kTargetPath, u"A")}, E_FAIL);
        const CameraListing com = listCameras(false);
        EXPECT_STREQ(com.failedStep, "CoCreateInstance(CLSID_SystemDeviceEnum)");
        EXPECT_EQ(com.errnoValue, 0);
        devices({scriptedDevice(kTargetPath, u"A")});
        const CameraListing listed = listCameras(false);
        EXPECT_EQ(listed.failedStep, nullptr);
        EXPECT_EQ(listed.errnoValue, 0);
        EXPECT_EQ(listed.cameras.size(), 1u);
    }
}

TEST_F(ListingFailures, OneWalkListsEveryCameraPastThe32ThatAMaskTellsApart) {
    devices(std::vector<scripted::Device>(300, scriptedDevice(kTargetPath, u"Cam")));
    const CameraListing listing = listCameras(false);
    EXPECT_EQ(listing.cameras.size(), 300u);
    EXPECT_EQ(listing.cameras.back().index, 299u);
    EXPECT_EQ(scripted::walks(), 1);
}

TEST_F(ListingFailures, SerialAndPortAreWhatThePlatformTellsOfEachCamera) {
    scripted::Device known = scriptedDevice(kSecondTargetPath, u"Known");
    known.serial = u"SN-1";
    known.port = u"Port_#0002.Hub_#0001";
    devices({scriptedDevice(kTargetPath, u"Unknown"), known});
    const CameraListing listing = listCameras(false);
    ASSERT_EQ(listing.cameras.size(), 2u);
    EXPECT_EQ(listing.cameras[0].serial, std::nullopt);
    EXPECT_EQ(listing.cameras[1].serial, u"SN-1");
    EXPECT_EQ(listing.cameras[1].port, u"Port_#0002.Hub_#0001");
}

}  // namespace
