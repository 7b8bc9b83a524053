// The machine's own video input devices: the V4L2 nodes in sysfs that capture video, each with the
// two properties a capture device's property bag has on Windows. A device's id is its node's name
// ("video0"). Nothing is kept between calls; every walk and every read looks at sysfs afresh, and a
// node that goes away mid-walk just fails the reads that come after. Also what identifies a target
// camera beyond those properties: its node's number, its USB serial number and port.
#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <utility>

#include "camera_identity.h"
#include "device_source.h"
#include "sysfs_node.h"
#include "utf16.h"

namespace {

constexpr char kClassDirectory[] = "/sys/class/video4linux/";

// Reads one attribute: false, with errno set, when it cannot be read. sysfs hands out a whole
// attribute, at most a page, in one read.
bool readAttribute(const std::string& path, std::string& value) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    const int readError = errno;
    close(fd);
    if (got < 0) {
        errno = readError;
        return false;
    }
    value = sysfs::attributeValue({buffer, static_cast<std::size_t>(got)});
    return true;
}

bool readLink(const std::string& path, std::string& target) {
    char buffer[4096];
    const ssize_t got = readlink(path.c_str(), buffer, sizeof buffer);
    if (got < 0 || static_cast<std::size_t>(got) == sizeof buffer) return false;
    target.assign(buffer, static_cast<std::size_t>(got));
    return true;
}

// Asks the node itself whether it captures video, never streaming. The kernel names a node's
// device file after the node (devtmpfs makes /dev/videoN; udev only adds links beside it). A node
// that cannot be asked (no permission, gone, no answer) counts when it is its driver's first node,
// index 0, which is where drivers put their capture node.
bool capturesVideo(const std::string& node) {
    const int fd = open(("/dev/" + node).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        v4l2_capability capability{};
        const int asked = ioctl(fd, VIDIOC_QUERYCAP, &capability);
        close(fd);
        if (asked == 0) return sysfs::capturesVideo(capability.capabilities, capability.device_caps);
    }
    std::string index;
    return readAttribute(kClassDirectory + node + "/index", index) && index == "0";
}

HRESULT readDevicePath(const std::string& node, const sysfs::Placement& where, std::u16string& value) {
    std::string vendor, product;
    if (where.usb && (!readAttribute(kClassDirectory + where.usbDevice + "/idVendor", vendor) ||
                      !readAttribute(kClassDirectory + where.usbDevice + "/idProduct", product))) {
        return HRESULT_FILE_NOT_FOUND;
    }
    value = standin::utf8ToUtf16(sysfs::devicePath(where, vendor, product, node));
    return S_OK;
}

// The USB device's product string, which is not cut to 32 bytes as the node's name is; the node's
// name for other nodes, and for USB devices that give no product string.
HRESULT readFriendlyName(const std::string& node, const sysfs::Placement& where, std::u16string& value) {
    std::string name;
    if (where.usb) {
        if (readAttribute(kClassDirectory + where.usbDevice + "/product", name)) {
            value = standin::utf8ToUtf16(name);
            return S_OK;
        }
        if (errno != ENOENT) return HRESULT_FILE_NOT_FOUND;
    }
    if (!readAttribute(kClassDirectory + node + "/name", name)) return HRESULT_FILE_NOT_FOUND;
    value = standin::utf8ToUtf16(name);
    return S_OK;
}

// The path a node would read as, for a filter to judge before the node is asked anything.
bool pathWanted(const std::string& node, DevicePathFilter::Test wanted) {
    std::string target;
    if (!readLink(kClassDirectory + node, target)) return false;
    std::u16string path;
    return readDevicePath(node, sysfs::place(target), path) == S_OK && wanted(path.c_str());
}

}  // namespace

namespace devsource {

HRESULT openEnumerator() { return S_OK; }

HRESULT listVideoInputs(std::vector<std::string>& ids) {
    try {
        const std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(kClassDirectory), &closedir);
        // Without the directory, no video device driver is loaded: the category is empty.
        if (!directory) return errno == ENOENT ? S_FALSE : E_FAIL;
        std::vector<std::pair<std::uint32_t, std::string>> nodes;
        while (const dirent* entry = readdir(directory.get())) {
            if (const std::optional<std::uint32_t> number = sysfs::videoNumber(entry->d_name)) {
                nodes.emplace_back(*number, entry->d_name);
            }
        }
        std::sort(nodes.begin(), nodes.end());
        // Where the caller wants only some paths, the others are judged by what sysfs says of them,
        // and never opened.
        const DevicePathFilter::Test wanted = DevicePathFilter::current();
        for (const auto& node : nodes) {
            if (wanted != nullptr && !pathWanted(node.second, wanted)) continue;
            if (capturesVideo(node.second)) ids.push_back(node.second);
        }
        return ids.empty() ? S_FALSE : S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// Binding touches nothing: a device that went away is found out by the reads.
HRESULT bindDevice(const std::string&) { return S_OK; }

HRESULT readProperty(const std::string& id, const std::u16string& name, std::u16string& value) {
    try {
        const bool path = name == u"DevicePath";
        if (!path && name != u"FriendlyName") return HRESULT_FILE_NOT_FOUND;
        // The node's link says where it sits, and fails once the node is gone.
        std::string target;
        if (!readLink(kClassDirectory + id, target)) return HRESULT_FILE_NOT_FOUND;
        const sysfs::Placement where = sysfs::place(target);
        return path ? readDevicePath(id, where, value) : readFriendlyName(id, where, value);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace devsource

// The node is the last part of the path this source gave the camera: its number is what V4L2
// capture libraries open it by; its USB device's kernel name is the port, and its "serial"
// attribute the serial number, where the device reports one.
CameraIdentity identifyCamera(const OLECHAR* path, std::uint32_t position) {
    CameraIdentity identity;
    identity.index = position;
    if (path == nullptr) return identity;
    std::string node;
    for (const OLECHAR* unit = path; *unit != 0; ++unit) {
        if (*unit == u'\\') node.clear();
        else node.push_back(*unit < 0x80 ? static_cast<char>(*unit) : '?');
    }
    const std::optional<std::uint32_t> number = sysfs::videoNumber(node);
    if (!number) return identity;
    identity.index = *number;
    std::string target;
    if (!readLink(kClassDirectory + node, target)) return identity;
    const sysfs::Placement where = sysfs::place(target);
    if (!where.usb) return identity;
    identity.port = standin::utf8ToUtf16(where.port);
    std::string serial;
    if (readAttribute(kClassDirectory + where.usbDevice + "/serial", serial) && !serial.empty()) {
        identity.serial = standin::utf8ToUtf16(serial);
    }
    return identity;
}

