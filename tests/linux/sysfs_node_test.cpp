#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sysfs_node.h"

namespace {

constexpr char kCameraLink[] = "../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2.4/1-2.4:1.0/video4linux/video0";
constexpr char kGuid[] = "{65e8773d-8f56-11d0-a3b9-00a0c9223196}";

TEST(VideoNumber, TakesOnlyVideoNodesWithAPlainNumber) {
    EXPECT_EQ(sysfs::videoNumber("video0"), 0u);
    EXPECT_EQ(sysfs::videoNumber("video10"), 10u);
    EXPECT_EQ(sysfs::videoNumber("video123456789"), 123456789u);
    for (const char* other : {"video", "video-1", "video1a", "video+1", "vbi0", "radio0", "v4l-subdev0", "Video0", ".",
                              "..", "video1234567890"}) {
        EXPECT_FALSE(sysfs::videoNumber(other).has_value()) << other;
    }
}

TEST(Place, FindsTheUsbDeviceAndInterfaceAboveACameraNode) {
    const sysfs::Placement where = sysfs::place(kCameraLink);
    EXPECT_TRUE(where.usb);
    EXPECT_EQ(where.usbDevice, "../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2.4");
    EXPECT_EQ(where.port, "1-2.4");
    EXPECT_EQ(where.interface, 0u);
    EXPECT_EQ(where.parent, "1-2.4:1.0");
    // The interface number is the last number of the interface's name, whatever the configuration.
    EXPECT_EQ(sysfs::place("../../devices/usb3/3-1/3-1:2.11/video4linux/video7").interface, 11u);
    // A node under the USB device itself, without an interface (devicePath's cases check the rest).
    EXPECT_EQ(sysfs::place("../../devices/pci0000:00/usb2/2-1/video4linux/video3").usbDevice,
              "../../devices/pci0000:00/usb2/2-1");
}

TEST(Place, KeepsEverythingElseOutsideUsb) {
    struct Case {
        const char* link;
        const char* parent;
    };
    for (const Case& c : {Case{"../../devices/platform/vivid.0/video4linux/video2", "vivid.0"},
                          Case{"../../devices/virtual/video4linux/video9", "virtual"},
                          Case{"../../devices/pci0000:00/0000:00:1f.0/video4linux/video1", "0000:00:1f.0"},
                          // A root hub is no camera, and an interface must belong to the device above it.
                          Case{"../../devices/pci0000:00/usb1/video4linux/video4", "usb1"},
                          Case{"../../devices/usb1/1-3/1-2.4:1.0/video4linux/video5", "1-2.4:1.0"},
                          Case{"../../devices/usb1/1-2/1-2:1/video4linux/video5", "1-2:1"},
                          Case{"../../devices/usb1/1-2/1-2:1.x/video4linux/video5", "1-2:1.x"},
                          Case{"../../devices/usb1/1-2/1-2:1.256/video4linux/video5", "1-2:1.256"},
                          Case{"../../devices/usb1/1-2./video4linux/video5", "1-2."}, Case{"video0", ""}}) {
        const sysfs::Placement where = sysfs::place(c.link);
        EXPECT_FALSE(where.usb) << c.link;
        EXPECT_EQ(where.parent, c.parent) << c.link;
    }
}

TEST(CapturesVideo, AsksTheNodesOwnCapsWhenTheDriverGivesThem) {
    const std::uint32_t camera =
        V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS;
    EXPECT_TRUE(sysfs::capturesVideo(camera, V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING));
    // The camera's metadata node: the same device capabilities, but its own say metadata only.
    EXPECT_FALSE(sysfs::capturesVideo(camera, V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING));
    EXPECT_TRUE(sysfs::capturesVideo(V4L2_CAP_DEVICE_CAPS, V4L2_CAP_VIDEO_CAPTURE_MPLANE));
    EXPECT_FALSE(sysfs::capturesVideo(V4L2_CAP_DEVICE_CAPS | V4L2_CAP_VIDEO_CAPTURE, V4L2_CAP_VIDEO_OUTPUT));
    // Older drivers give only the capabilities.
    EXPECT_TRUE(sysfs::capturesVideo(V4L2_CAP_VIDEO_CAPTURE, 0));
    EXPECT_TRUE(sysfs::capturesVideo(V4L2_CAP_VIDEO_CAPTURE_MPLANE, 0));
    EXPECT_FALSE(sysfs::capturesVideo(V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_RADIO, V4L2_CAP_VIDEO_CAPTURE));
}

TEST(DevicePath, HasTheShapeOfAWindowsUsbCapturePathWithIdsOnlyFromUsb) {
    struct Case {
        const char* link;
        const char* vendor;
        const char* product;
        const char* node;
        const char* start;  // before the GUID
    };
    for (const Case& c : {
             Case{kCameraLink, "2560", "c0d6", "video0", R"(\\?\usb#vid_2560&pid_c0d6&mi_00#1-2.4#)"},
             // IDs as sysfs gives them; the interface number in two hex digits.
             Case{"../../devices/usb3/3-1/3-1:1.10/video4linux/video12", "046D", "0825", "video12",
                  R"(\\?\usb#vid_046D&pid_0825&mi_0a#3-1#)"},
             Case{"../../devices/usb2/2-1/video4linux/video3", "2560", "c0d6", "video3",
                  R"(\\?\usb#vid_2560&pid_c0d6#2-1#)"},
             // Outside USB: no IDs, and none that the parent's name spells.
             Case{"../../devices/platform/vivid.0/video4linux/video2", "2560", "c0d6", "video2",
                  R"(\\?\video4linux#vivid.0#)"},
             Case{"../../devices/platform/vid_2560&pid_c0d6#x\\y/video4linux/video2", "2560", "c0d6", "video2",
                  R"(\\?\video4linux#vid-2560-pid-c0d6-x-y#)"},
         }) {
        EXPECT_EQ(sysfs::devicePath(sysfs::place(c.link), c.vendor, c.product, c.node),
                  std::string(c.start) + kGuid + "\\" + c.node)
            << c.link;
    }
    // IDs only when each is four hex digits.
    const std::string idLess = std::string(R"(\\?\usb#1-2.4#)") + kGuid + R"(\video0)";
    const std::vector<std::pair<std::string, std::string>> malformed = {
        {"25601", "c0d6"}, {"2560zz", "c0d6"}, {"2560", "c0d"}, {"2560", ""}, {"256 ", "c0d6"}, {"2560", "c0d6\n"}};
    for (const auto& [vendor, product] : malformed) {
        EXPECT_EQ(sysfs::devicePath(sysfs::place(kCameraLink), vendor, product, "video0"), idLess)
            << vendor << ":" << product;
    }
}

TEST(AttributeValue, DropsTheKernelsNewlineOnly) {
    EXPECT_EQ(sysfs::attributeValue("c0d6\n"), "c0d6");
    EXPECT_EQ(sysfs::attributeValue("c0d6"), "c0d6");
    EXPECT_EQ(sysfs::attributeValue("two\nlines\n\n"), "two\nlines\n");
    EXPECT_EQ(sysfs::attributeValue(" spaced \n"), " spaced ");
    EXPECT_EQ(sysfs::attributeValue(""), "");
}

TEST(UdevCapturesVideo, TakesOnlyEntriesOfADatabaseThatHoldsTheNodesOwnCapabilities) {
    // As systemd 252 writes them: the capture node, then the same camera's metadata node.
    const std::string capture =
        "S:v4l/by-id/usb-Zorvek_Cam-video-index0\nI:9203211\nE:ID_V4L_VERSION=2\n"
        "E:ID_V4L_PRODUCT=Zorvek Cam\nE:ID_V4L_CAPABILITIES=:capture:\nG:uaccess\nQ:uaccess\nV:1\n";
    EXPECT_EQ(sysfs::udevCapturesVideo(capture), true);
    EXPECT_EQ(sysfs::udevCapturesVideo("I:9203377\nE:ID_V4L_VERSION=2\nE:ID_V4L_CAPABILITIES=:\nV:1\n"), false);
    EXPECT_EQ(sysfs::udevCapturesVideo("E:ID_V4L_CAPABILITIES=:video_output:video_overlay:\nV:1\n"), false);
    EXPECT_EQ(sysfs::udevCapturesVideo("V:2\nE:ID_V4L_CAPABILITIES=:video_output:capture:\n"), true);
    // Without the version line (systemd 246 and older, eudev), the whole device's capabilities may
    // be what it holds: the metadata node's says "capture" too.
    EXPECT_EQ(sysfs::udevCapturesVideo("I:9203377\nE:ID_V4L_VERSION=2\nE:ID_V4L_CAPABILITIES=:capture:\n"),
              std::nullopt);
    EXPECT_EQ(sysfs::udevCapturesVideo("E:ID_V4L_CAPABILITIES=:\nV:0\n"), std::nullopt);
    // No answer from v4l_id (it could not open the node), or not of its form.
    for (const char* entry : {"I:1\nE:ID_PATH=pci-0000:00:14.0-usb-0:2.4:1.0\nV:1\n", "", "V:1",
                              "E:ID_V4L_CAPABILITIES=capture\nV:1\n", "E:ID_V4L_CAPABILITIES=\nV:1\n",
                              "E:ID_V4L_CAPABILITIES=:capture:\nV:x\n", "E:ID_V4L_CAPABILITIES=:capture:\nV:\n"}) {
        EXPECT_EQ(sysfs::udevCapturesVideo(entry), std::nullopt) << entry;
    }
    // A name that only contains "capture" is not it.
    EXPECT_EQ(sysfs::udevCapturesVideo("E:ID_V4L_CAPABILITIES=:capture_mplane:\nV:1\n"), false);
    EXPECT_EQ(sysfs::udevCapturesVideo("E:ID_V4L_CAPABILITIES_X=:capture:\nE:ID_V4L_CAPABILITIES=:\nV:1\n"), false);
}

}  // namespace
