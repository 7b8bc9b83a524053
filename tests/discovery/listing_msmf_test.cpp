// The listing that numbers cameras by Media Foundation's order, over the shared fake devices: where
// COM is stood in for there is no Media Foundation, and the listing fails saying so; under Wine the
// system's Media Foundation lists no capture source for the registry's fake devices, so every camera
// is left out and nothing fails.
#include <string>

#include "fake_devices.h"
#include "listing.h"

namespace {

using MediaFoundationListing = FakeDevices;

TEST_F(MediaFoundationListing, GivesNoCameraThatMediaFoundationDoesNotList) {
    devices({device(kOtherPath, u"Other"), device(kTargetPath, u"A"), device(kSecondTargetPath, u"B")});
    ASSERT_EQ(listCameras(false).cameras.size(), 2u);
    StdoutCapture out;
    const CameraListing listing = listCameras(false, CameraIndexing::MediaFoundation);
    EXPECT_EQ(out.finish(), "");
    EXPECT_TRUE(listing.cameras.empty());
#if defined(_WIN32)
    EXPECT_EQ(listing.failedStep, nullptr);
#else
    ASSERT_NE(listing.failedStep, nullptr);
    EXPECT_EQ(std::string(listing.failedStep), "MFEnumDeviceSources");
    EXPECT_EQ(static_cast<std::uint32_t>(listing.result), 0x80004001u);  // E_NOTIMPL
#endif
}

TEST_F(MediaFoundationListing, NoVideoInputDeviceAtAllIsAnEmptyListing) {
    // No video input device at all: the empty list, as the platform's own listing gives it.
    devices({});
    const CameraListing listing = listCameras(false, CameraIndexing::MediaFoundation);
    EXPECT_EQ(listing.failedStep, nullptr);
    EXPECT_TRUE(listing.cameras.empty());
}

}  // namespace
