#include "device_info.h"

#include "match.h"
#include "scan.h"
#include "trace.h"
#include "walk.h"
#include "wide_text.h"

namespace {

unsigned int countBits(std::uint32_t mask) {
    unsigned int bits = 0;
    for (; mask != 0; mask &= mask - 1) ++bits;
    return bits;
}

}  // namespace

bool getDeviceCount(unsigned int* count) {
    if (count == nullptr) return false;
    initialize();
    *count = 0;
    if (deviceMask == 0) {
        trace("Device is not connected");
        return false;
    }
    *count = countBits(deviceMask);
    return true;
}

bool getDeviceInfo(unsigned int index, DeviceInfo* info) {
    if (info == nullptr) return false;
    try {
        WalkState walk{};
        initialize();
        if (deviceMask == 0) {
            trace("Device is not connected");
            trace("InvalidDeviceIndex");
            return false;
        }
        if (index >= countBits(deviceMask)) {
            trace("InvalidDeviceIndex");
            return false;
        }

        bool written = false;
        const WalkEnd end = walkVideoInputs(false, [&](IPropertyBag& bag, const OLECHAR* path, ULONG, IMoniker&) {
            std::uint8_t slot = 0;
            if (!matchDevicePath(walk, path, false, slot) || slot != index) return;
            // A device whose name cannot be read still gets a true record, with an empty name.
            BstrVariant name;
            const OLECHAR* nameText =
                bag.Read(OLESTR("FriendlyName"), name.get(), nullptr) == S_OK ? name.text() : nullptr;
            toNarrowField(info->vid, sizeof info->vid, walk.extrctd_vid);
            toNarrowField(info->pid, sizeof info->pid, walk.extrctd_pid);
            toNarrowField(info->friendlyName, sizeof info->friendlyName, nameText);
            toNarrowField(info->devicePath, sizeof info->devicePath, walk.path);
            written = true;
        });
        if (end != WalkEnd::Completed) {
            trace("NotInitialized");
            return false;
        }
        // The device went away between the scan and this walk.
        if (!written) {
            trace("InvalidDeviceIndex");
            return false;
        }
        return true;
    } catch (...) {
        debugPrint(1, OLESTR("Exception EnumerateVideoDevices....\r\n"));
        trace("NotInitialized");
        return false;
    }
}

bool getDeviceListInfo(unsigned int count, DeviceInfo* list) {
    if (list == nullptr) return false;
    for (unsigned int i = 0; i < count; ++i) {
        debugPrint(1, OLESTR("Device index is : %d\n"), static_cast<int>(i));
        if (!getDeviceInfo(i, &list[i])) {
            trace("other issue");
            return false;
        }
        // The name as the record holds it: at most its 50 bytes.
        debugPrint(1, OLESTR("Device Name is : %.50s\n"), list[i].friendlyName);
    }
    return true;
}

bool getDeviceListInfoWithin(unsigned int count, DeviceInfo* list, std::size_t held) {
    if (list == nullptr || count <= held) return getDeviceListInfo(count, list);
    if (!getDeviceListInfo(static_cast<unsigned int>(held), list)) return false;
    trace("other issue");
    return false;
}
