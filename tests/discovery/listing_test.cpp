// The listing over the shared fake devices: under our stand-in and under the real enumerator alike.
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "device_info.h"
#include "fake_devices.h"
#include "listing.h"

namespace {

using Listing = FakeDevices;

TEST_F(Listing, TargetsInOrderWithTheirPositionsAndWholeNamesNothingOnStandardOutput) {
    const std::u16string longName = u"Zorvek Camera \u65E5\u672C \U0001F600 " + std::u16string(200, u'x');
    devices({device(kOtherPath, u"Other"), device(kTargetPath, longName), device(kNoIdsPath, u"Virtual"),
             device(kOtherPath, u"Other"), device(kSecondTargetPath, u"B")});
    StdoutCapture out;
    const CameraListing listing = listCameras(false);
    EXPECT_EQ(out.finish(), "");
    ASSERT_EQ(listing.failedStep, nullptr);
    ASSERT_EQ(listing.cameras.size(), 2u);
    const CameraEntry& first = listing.cameras[0];
    EXPECT_EQ(first.name, longName);
    EXPECT_EQ(first.vid, u"2560");
    EXPECT_EQ(first.pid, u"C0D6");
    EXPECT_EQ(std::string(first.path.begin(), first.path.end()), kTargetPathUpper);
    EXPECT_EQ(first.index, 1u);  // every listed device counts, as a capture library counts them
    EXPECT_EQ(listing.cameras[1].name, u"B");
    EXPECT_EQ(listing.cameras[1].index, 4u);
    // Fake devices are no USB devices the system knows: nothing to tell them apart by.
    EXPECT_EQ(first.serial, std::nullopt);
    EXPECT_EQ(first.port, std::nullopt);
    EXPECT_TRUE(listing.trace.empty());
}

TEST_F(Listing, AgreesWithTheRecordsOnWhichDevicesAreTargets) {
    const std::u16string tail = u"#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
    const std::vector<std::u16string> paths = {
        u"\\\\?\\usb#vid_2560&pid_c0d6#lower" + tail,  // matches, in either case
        u"\\\\?\\usb#vid_2560&pid_c0d61#five" + tail,  // only four characters are compared
        kNoIdsPath,                                    // after a target: still no IDs of its own
        u"\\\\?\\usb#vid_2560#no-product" + tail,
        u"\\\\?\\usb#" + std::u16string(250, u'p') + u"vid_2560&pid_c0d6" + tail,  // IDs past the cut
        kOtherPath,
        kSecondTargetPath,
    };
    std::vector<fake::Device> attached;
    for (const std::u16string& path : paths) attached.push_back(device(path, u"Cam"));
    devices(attached);

    const CameraListing listing = listCameras(false);
    unsigned int count = 0;
    DeviceInfo records[3];
    {
        StdoutCapture out;
        DebugCapture debug;
        getDeviceCount(&count);
        ASSERT_TRUE(getDeviceListInfo(3, records));
    }
    ASSERT_EQ(count, 3u);
    ASSERT_EQ(listing.cameras.size(), count);
    for (unsigned int slot = 0; slot < count; ++slot) {
        const std::u16string& path = listing.cameras[slot].path;
        EXPECT_EQ(std::string(records[slot].devicePath), std::string(path.begin(), path.end())) << slot;
    }
}

TEST_F(Listing, TracesTheWalkIntoItsOwnTextWhenAsked) {
    devices({device(kOtherPath, u"Other"), device(kTargetPath, u"A")});
    std::string scan = scanTrace();
    // The walk's texts are the scan's, without the scan's start and its mask lines.
    scan.erase(0, std::strlen("initialize is statred"));
    scan.erase(scan.find("Before index list is : 1\n"));
    StdoutCapture out;
    const CameraListing listing = listCameras(true);
    EXPECT_EQ(out.finish(), "");
    EXPECT_EQ(listing.trace, scan);
}

TEST_F(Listing, NoVideoInputDeviceAtAllIsAnEmptyListNotAFailure) {
    const CameraListing listing = listCameras(false);
    EXPECT_EQ(listing.failedStep, nullptr);
    EXPECT_TRUE(listing.cameras.empty());
}

// A thread with no apartment gets none left behind; one with an apartment of either kind keeps it,
// no deeper than it was: one CoUninitialize still ends it.
TEST_F(Listing, LeavesTheCallingThreadsApartmentAsItFoundIt) {
    devices({device(kTargetPath, u"A")});
    for (const int mode : {-1, static_cast<int>(COINIT_APARTMENTTHREADED), static_cast<int>(COINIT_MULTITHREADED)}) {
        std::thread([mode] {
            if (mode >= 0) {
                ASSERT_EQ(CoInitializeEx(nullptr, static_cast<DWORD>(mode)), S_OK);
            }
            EXPECT_EQ(listCameras(false).cameras.size(), 1u) << mode;
            EXPECT_EQ(fake::apartmentMode(), mode);
            if (mode >= 0) {
                CoUninitialize();
                EXPECT_EQ(fake::apartmentMode(), -1) << mode;
            }
        }).join();
    }
}

}  // namespace

// The moniker's display name: on Windows what binds the device again (and what ffmpeg's dshow input
// takes), distinct for each device even where their names are the same; our stand-in has none.
TEST_F(Listing, MonikerNamesEachDeviceOnWindowsOnly) {
    devices({device(kOtherPath, u"Cam"), device(kTargetPath, u"Cam"), device(kSecondTargetPath, u"Cam")});
    const CameraListing listing = listCameras(false);
    ASSERT_EQ(listing.failedStep, nullptr);
    ASSERT_EQ(listing.cameras.size(), 2u);
#if defined(_WIN32)
    // The registry's fake devices are listed by the enumerator as software devices, by key name.
    const std::u16string category = u"@device:sw:{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\";
    for (std::size_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(listing.cameras[i].moniker.has_value()) << i;
        const std::u16string& name = *listing.cameras[i].moniker;
        EXPECT_EQ(name.substr(0, category.size()), category) << i;
        EXPECT_GT(name.size(), category.size()) << i;
    }
    EXPECT_NE(*listing.cameras[0].moniker, *listing.cameras[1].moniker);
#else
    for (const CameraEntry& camera : listing.cameras) EXPECT_EQ(camera.moniker, std::nullopt);
#endif
}
