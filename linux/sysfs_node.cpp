#include "sysfs_node.h"

#include <linux/videodev2.h>

namespace sysfs {

namespace {

// The class GUID Windows files video capture interfaces under (KSCATEGORY_CAPTURE).
constexpr std::string_view kCaptureInterfaceClass = "{65e8773d-8f56-11d0-a3b9-00a0c9223196}";

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// A USB ID as the device reports it in idVendor or idProduct: exactly four hex digits. Anything else
// (more digits, trailing junk) names no ID, so that no path is built to match from it.
bool isUsbId(std::string_view text) {
    return text.size() == 4 && isHexDigit(text[0]) && isHexDigit(text[1]) && isHexDigit(text[2]) && isHexDigit(text[3]);
}

// A name from sysfs as it may stand in a path: letters, digits, '.', ':' and '-' kept, anything
// else '-'. So no name, whatever its driver calls it, spells "VID_" or "PID_" (or a path's '#'
// and '\\' separators) into the path of a device that has no USB IDs.
void appendPlainName(std::string& path, std::string_view name) {
    for (const char c : name) {
        const bool plain =
            isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == ':' || c == '-';
        path += plain ? c : '-';
    }
}

// Takes the last part off a relative path: "a/b/c" becomes "a/b", and "c" is returned.
std::string_view takeLast(std::string_view& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        const std::string_view last = path;
        path = {};
        return last;
    }
    const std::string_view last = path.substr(slash + 1);
    path = path.substr(0, slash);
    return last;
}

// Decimal digits only, at least one, and small: the numbers in USB and V4L2 names.
std::optional<std::uint32_t> smallNumber(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        if (!isDigit(c)) return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

// A USB device's kernel name: the bus, a dash, and the port chain, e.g. "1-2.4". Root hubs
// ("usb1") and everything else do not have this form.
bool isUsbDeviceName(std::string_view name) {
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos || !smallNumber(name.substr(0, dash))) return false;
    std::string_view ports = name.substr(dash + 1);
    for (std::size_t dot = ports.find('.'); dot != std::string_view::npos; dot = ports.find('.')) {
        if (!smallNumber(ports.substr(0, dot))) return false;
        ports = ports.substr(dot + 1);
    }
    return smallNumber(ports).has_value();
}

// A USB interface's kernel name is "<device>:<configuration>.<interface>", e.g. "1-2.4:1.0".
// Gives the interface number when `name` is one of `device`'s interfaces.
std::optional<unsigned int> interfaceOf(std::string_view name, std::string_view device) {
    if (name.size() <= device.size() || name.substr(0, device.size()) != device || name[device.size()] != ':') {
        return std::nullopt;
    }
    const std::string_view numbers = name.substr(device.size() + 1);
    const std::size_t dot = numbers.find('.');
    if (dot == std::string_view::npos || !smallNumber(numbers.substr(0, dot))) return std::nullopt;
    const std::optional<std::uint32_t> interface = smallNumber(numbers.substr(dot + 1));
    if (!interface || *interface > 255) return std::nullopt;
    return *interface;
}

}  // namespace

std::optional<std::uint32_t> videoNumber(std::string_view name) {
    constexpr std::string_view prefix = "video";
    if (name.substr(0, prefix.size()) != prefix) return std::nullopt;
    return smallNumber(name.substr(prefix.size()));
}

Placement place(std::string_view linkTarget) {
    // The kernel puts a class device at <parent>/video4linux/<node>, or under devices/virtual.
    std::string_view rest = linkTarget;
    takeLast(rest);  // the node
    takeLast(rest);  // video4linux
    const std::string_view parentDirectory = rest;
    Placement where;
    where.parent = std::string(takeLast(rest));
    if (isUsbDeviceName(where.parent)) {
        where.usb = true;
        where.usbDevice = std::string(parentDirectory);
        where.port = where.parent;
        return where;
    }
    const std::string_view deviceDirectory = rest;
    const std::string_view device = takeLast(rest);
    if (isUsbDeviceName(device)) {
        if (const std::optional<unsigned int> interface = interfaceOf(where.parent, device)) {
            where.usb = true;
            where.usbDevice = std::string(deviceDirectory);
            where.port = std::string(device);
            where.interface = interface;
        }
    }
    return where;
}

bool capturesVideo(std::uint32_t capabilities, std::uint32_t deviceCaps) {
    const std::uint32_t node = (capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? deviceCaps : capabilities;
    return (node & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE)) != 0;
}

std::string devicePath(const Placement& where, std::string_view vendor, std::string_view product,
                       std::string_view node) {
    std::string path = R"(\\?\)";
    if (where.usb && isUsbId(vendor) && isUsbId(product)) {
        path.append("usb#vid_").append(vendor).append("&pid_").append(product);
        if (where.interface) {
            constexpr char hex[] = "0123456789abcdef";
            path.append("&mi_").append(1, hex[*where.interface >> 4]).append(1, hex[*where.interface & 0xF]);
        }
        path.append("#").append(where.port);
    } else if (where.usb) {
        // A USB device whose IDs are not four hex digits each: listed, but with no IDs to match.
        path.append("usb#").append(where.port);
    } else {
        path.append("video4linux#");
        appendPlainName(path, where.parent);
    }
    path.append("#").append(kCaptureInterfaceClass).append("\\").append(node);
    return path;
}

std::optional<bool> udevCapturesVideo(std::string_view entry) {
    constexpr std::string_view version = "V:";
    constexpr std::string_view capabilities = "E:ID_V4L_CAPABILITIES=";
    bool versioned = false;
    std::optional<bool> captures;
    while (!entry.empty()) {
        const std::size_t end = entry.find('\n');
        const std::string_view line = entry.substr(0, end);
        entry = end == std::string_view::npos ? std::string_view{} : entry.substr(end + 1);
        if (line.substr(0, version.size()) == version) {
            const std::optional<std::uint32_t> number = smallNumber(line.substr(version.size()));
            versioned = number && *number >= 1;
        } else if (line.substr(0, capabilities.size()) == capabilities) {
            // v4l_id writes ":capture:video_output:", every name between colons.
            const std::string_view names = line.substr(capabilities.size());
            if (names.empty() || names.front() != ':' || names.back() != ':') return std::nullopt;
            captures = names.find(":capture:") != std::string_view::npos;
        }
    }
    if (!versioned) return std::nullopt;
    return captures;
}

std::string_view attributeValue(std::string_view read) {
    if (!read.empty() && read.back() == '\n') read.remove_suffix(1);
    return read;
}

}  // namespace sysfs
