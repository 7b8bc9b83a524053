// The machine's own video input devices: the V4L2 nodes in sysfs that capture video, each with the
// two properties a capture device's property bag has on Windows. A device's id is its node's name
// ("video0"). Every walk and every read looks at sysfs afresh, and a node that goes away mid-walk
// just fails the reads that come after. What a node says it is, though, is the same for as long as
// the node is the same registration: a walk that only some paths are wanted from (the listing)
// takes it from what the node, or udev, answered before, and so opens no node twice. Also what
// identifies a target camera beyond those properties: its node's number, its USB serial number and
// port.
#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "camera_identity.h"
#include "device_source.h"
#include "sysfs_node.h"
#include "utf16.h"

namespace {

constexpr char kClassDirectory[] = "/sys/class/video4linux/";
// What a failure to list it is called, in the words of the call that failed.
constexpr char kOpenClassDirectory[] = "opendir /sys/class/video4linux";
// udev's database: an entry per device it has handled, named after the device's number.
constexpr char kUdevData[] = "/run/udev/data";

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

// Asks the node itself whether it captures video, never streaming: nothing when it cannot be asked
// (no permission, gone, no answer). The kernel names a node's device file after the node (devtmpfs
// makes /dev/videoN; udev only adds links beside it).
std::optional<bool> askNode(const std::string& node) {
    const int fd = open(("/dev/" + node).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    v4l2_capability capability{};
    const int asked = ioctl(fd, VIDIOC_QUERYCAP, &capability);
    close(fd);
    if (asked != 0) return std::nullopt;
    return sysfs::capturesVideo(capability.capabilities, capability.device_caps);
}

// A node that cannot be asked counts when it is its driver's first node, index 0, which is where
// drivers put their capture node.
bool guessedFromIndex(const std::string& node) {
    std::string index;
    return readAttribute(kClassDirectory + node + "/index", index) && index == "0";
}

bool capturesVideo(const std::string& node) {
    const std::optional<bool> asked = askNode(node);
    return asked ? *asked : guessedFromIndex(node);
}

// One registration of a node, from what sysfs tells without opening anything; another device behind
// the same node name (unplugged and plugged back, another camera in the same port, the driver bound
// again) gives another. Each part covers what the others may miss:
// - the target of the node's link: where it sits, its bus, port chain and interface;
// - the inode of the node's sysfs directory: sysfs numbers every directory it makes anew (in a
//   cycle of at least 2^31), so a node registered again, even under the same USB device, differs;
// - the USB device's devnum: the USB core numbers every device it enumerates on a bus anew (the
//   next free one of 1 to 127 after the last it gave), so a device plugged back differs even
//   where a file system hands a freed inode number out again.
struct Registration {
    std::string target;
    dev_t device = 0;
    ino_t inode = 0;
    std::string devnum;

    bool operator==(const Registration& other) const {
        return inode == other.inode && device == other.device && devnum == other.devnum && target == other.target;
    }
};

// What a listing's walk read of the USB device of the node before, which a camera's next node, under
// the same device, reads the same: its IDs and devnum, each read once a walk.
struct UsbDeviceRead {
    std::string directory;
    std::optional<std::pair<std::string, std::string>> ids;
    std::optional<std::string> devnum;

    // For the device at `where`, forgetting another's.
    UsbDeviceRead& of(const sysfs::Placement& where) {
        if (directory != where.usbDevice) *this = UsbDeviceRead{where.usbDevice, std::nullopt, std::nullopt};
        return *this;
    }
};

// The registration of a node whose link reads `target`, and when its sysfs directory last changed,
// which is never before it was made. False when the node is gone.
bool readRegistration(const std::string& node, const std::string& target, const sysfs::Placement& where,
                      UsbDeviceRead& usb, Registration& registration, timespec& made) {
    struct stat status {};
    if (stat((kClassDirectory + node).c_str(), &status) != 0) return false;
    registration.target = target;
    registration.device = status.st_dev;
    registration.inode = status.st_ino;
    made = status.st_ctim;
    if (where.usb) {
        UsbDeviceRead& device = usb.of(where);
        if (!device.devnum) {
            device.devnum.emplace();
            if (!readAttribute(kClassDirectory + where.usbDevice + "/devnum", *device.devnum)) device.devnum->clear();
        }
        registration.devnum = *device.devnum;
    }
    return true;
}

// udev's answer for a node, from its database entry (sysfs::udevCapturesVideo says which entries are
// taken). An entry written before the node's sysfs directory was made is a former node's, which udev
// has not yet taken away, and is not taken either. Nothing where there is no database (no udev, a
// container) or no entry.
std::optional<bool> udevAnswer(const std::string& node, const timespec& made) {
    std::string number;
    if (!readAttribute(kClassDirectory + node + "/dev", number)) return std::nullopt;
    const int fd = open((std::string(kUdevData) + "/c" + number).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat status {};
    std::string entry;
    bool whole = fstat(fd, &status) == 0;
    char buffer[4096];
    for (ssize_t got; whole && (got = read(fd, buffer, sizeof buffer)) != 0;) {
        if (got < 0 || entry.size() > 65536) whole = false;
        else entry.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    const timespec written = status.st_mtim;
    if (!whole || written.tv_sec < made.tv_sec || (written.tv_sec == made.tv_sec && written.tv_nsec < made.tv_nsec)) {
        return std::nullopt;
    }
    return sysfs::udevCapturesVideo(entry);
}

// What each node answered, by name, with the registration it answered for: one table for the
// process, which listings on any thread share. It holds the nodes that the latest listing found, and
// no others. The lock is never held while a node is asked.
class Answers {
public:
    std::optional<bool> find(const std::string& node, const Registration& registration) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = answers_.find(node);
        if (found == answers_.end() || !(found->second.registration == registration)) return std::nullopt;
        return found->second.captures;
    }

    void remember(const std::string& node, Registration registration, bool captures) {
        const std::lock_guard<std::mutex> lock(mutex_);
        answers_.insert_or_assign(node, Answer{std::move(registration), captures});
    }

    // Forgets every node but these.
    void keepOnly(const std::vector<std::pair<std::uint32_t, std::string>>& nodes) {
        std::unordered_set<std::string> present;
        for (const auto& node : nodes) present.insert(node.second);
        const std::lock_guard<std::mutex> lock(mutex_);
        for (auto answer = answers_.begin(); answer != answers_.end();) {
            answer = present.count(answer->first) != 0 ? std::next(answer) : answers_.erase(answer);
        }
    }

private:
    struct Answer {
        Registration registration;
        bool captures;
    };
    std::mutex mutex_;
    std::unordered_map<std::string, Answer> answers_;
};

// Never destroyed: a listing may still run on another thread while the process exits.
Answers& answers() {
    static Answers* const table = new Answers;
    return *table;
}

// Whether a node captures video, for a listing: what it answered before, if it is the same
// registration; else udev's answer, else its own, either of which is remembered. The registration
// is read before anything is asked, so an answer is never remembered for a registration newer than
// the one that gave it.
bool rememberedCapturesVideo(const std::string& node, const std::string& target, const sysfs::Placement& where,
                             UsbDeviceRead& usb, bool udevDatabase) {
    Registration registration;
    timespec made{};
    if (!readRegistration(node, target, where, usb, registration, made)) return capturesVideo(node);
    if (const std::optional<bool> remembered = answers().find(node, registration)) return *remembered;
    std::optional<bool> answer = udevDatabase ? udevAnswer(node, made) : std::nullopt;
    if (!answer) answer = askNode(node);
    // A node that could not be asked is guessed at, and asked again the next time.
    if (!answer) return guessedFromIndex(node);
    answers().remember(node, std::move(registration), *answer);
    return *answer;
}

bool readUsbIds(const sysfs::Placement& where, std::string& vendor, std::string& product) {
    return readAttribute(kClassDirectory + where.usbDevice + "/idVendor", vendor) &&
           readAttribute(kClassDirectory + where.usbDevice + "/idProduct", product);
}

HRESULT readDevicePath(const std::string& node, const sysfs::Placement& where, std::u16string& value) {
    std::string vendor, product;
    if (where.usb && !readUsbIds(where, vendor, product)) return HRESULT_FILE_NOT_FOUND;
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

// Whether a listing that wants only the paths `wanted` takes, wants this node, and if so whether it
// captures video. The path is judged by what sysfs says of it, and a node it refuses is never opened.
// `udevDatabase`: whether there is one to look in.
bool wantedAndCaptures(const std::string& node, DevicePathFilter::Test wanted, UsbDeviceRead& usb, bool udevDatabase) {
    std::string target;
    if (!readLink(kClassDirectory + node, target)) return false;
    const sysfs::Placement where = sysfs::place(target);
    std::string vendor, product;
    if (where.usb) {
        UsbDeviceRead& device = usb.of(where);
        if (!device.ids) {
            if (!readUsbIds(where, vendor, product)) return false;
            device.ids.emplace(vendor, product);
        }
        std::tie(vendor, product) = *device.ids;
    }
    if (!wanted(standin::utf8ToUtf16(sysfs::devicePath(where, vendor, product, node)).c_str())) return false;
    return rememberedCapturesVideo(node, target, where, usb, udevDatabase);
}

}  // namespace

namespace devsource {

HRESULT openEnumerator() { return S_OK; }

HRESULT listVideoInputs(std::vector<std::string>& ids) {
    try {
        const std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(kClassDirectory), &closedir);
        // Without the directory, no video device driver is loaded: the category is empty. Any other
        // failure (no permission, say) is told with its errno, which E_FAIL alone would lose.
        if (!directory) {
            if (errno == ENOENT) return S_FALSE;
            PlatformFailure::set(kOpenClassDirectory, errno);
            return E_FAIL;
        }
        std::vector<std::pair<std::uint32_t, std::string>> nodes;
        while (const dirent* entry = readdir(directory.get())) {
            if (const std::optional<std::uint32_t> number = sysfs::videoNumber(entry->d_name)) {
                nodes.emplace_back(*number, entry->d_name);
            }
        }
        std::sort(nodes.begin(), nodes.end());
        // Where the caller wants only some paths, the others are judged by what sysfs says of them,
        // and never opened, and the wanted ones are asked once per registration. Elsewhere (the
        // scan) every node is asked on every walk.
        const DevicePathFilter::Test wanted = DevicePathFilter::current();
        // Looked for once a walk: most containers have no udev database at all.
        const bool udevDatabase = wanted != nullptr && access(kUdevData, X_OK) == 0;
        UsbDeviceRead usb;
        for (const auto& node : nodes) {
            if (wanted != nullptr ? wantedAndCaptures(node.second, wanted, usb, udevDatabase)
                                  : capturesVideo(node.second)) {
                ids.push_back(node.second);
            }
        }
        if (wanted != nullptr) answers().keepOnly(nodes);
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
    identity.node = standin::utf8ToUtf16("/dev/" + node);
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
