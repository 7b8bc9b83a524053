// What the names in sysfs tell about a video4linux node, worked out from text alone so that a walk
// touches the file system only for what it must read. Used by the sysfs device source.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sysfs {

// The N of a node named "videoN" (decimal, no sign, no leading junk); nothing for any other name
// (vbi, radio, v4l-subdev nodes and the like) or for a number too large to be real.
std::optional<std::uint32_t> videoNumber(std::string_view name);

// Where a node sits, from the target of its link in /sys/class/video4linux (for instance
// "../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2.4/1-2.4:1.0/video4linux/video0").
struct Placement {
    bool usb = false;
    // The USB device's directory, as a path relative to /sys/class/video4linux/.
    std::string usbDevice;
    // The USB device's kernel name, e.g. "1-2.4": bus and port chain, stable for a physical port.
    std::string port;
    // The USB interface number the node hangs under; none when it hangs under the device itself.
    std::optional<unsigned int> interface;
    // The kernel name of what the node hangs under; "virtual" for nodes that have no parent.
    std::string parent;
};
Placement place(std::string_view linkTarget);

// True when a node that answered VIDIOC_QUERYCAP with these capabilities captures video. A driver
// that sets V4L2_CAP_DEVICE_CAPS describes the whole device in `capabilities` and this node in
// `deviceCaps`: a camera's metadata node shares the camera's capabilities but not its device caps.
bool capturesVideo(std::uint32_t capabilities, std::uint32_t deviceCaps);

// "DevicePath" as a Windows capture device's interface path, with the node's name as its last
// part so that the caller can open /dev/<node>. `vendor` and `product` are the USB device's idVendor
// and idProduct text, named in the path only when each is exactly four hex digits. Other nodes,
// those outside USB and those of a USB device with malformed IDs, get a path of the same build that
// names no IDs, and carries no "vid_" or "pid_" whatever their parent is called.
std::string devicePath(const Placement& where, std::string_view vendor, std::string_view product,
                       std::string_view node);

// What udev's database entry of a node (/run/udev/data/c<major>:<minor>, as read) says of whether
// the node captures video: nothing where the entry cannot say it for this node. v4l_id, which fills
// in ID_V4L_CAPABILITIES when the node appears, reads the node's device caps from systemd 241 on;
// before, it read the whole device's capabilities, which a camera's metadata node shares with the
// camera. The entry names no version of v4l_id, but an entry with a "V:" line (the database's
// format version) was written by systemd 247 or later; one without it (older systemd, eudev) may
// hold the whole device's answer, and is not taken.
std::optional<bool> udevCapturesVideo(std::string_view entry);

// An attribute's value as read: the kernel ends it with a newline, which is not part of it.
std::string_view attributeValue(std::string_view read);

}  // namespace sysfs
