// What identifies a camera beyond its DirectShow properties, on Windows: its position in
// DirectShow's list (what OpenCV opens it by, as it counts every listed device), and, from the
// configuration manager, the USB device above its video interface: that device's serial number
// (where the instance ID is one) and its location on the USB tree. Any step that fails leaves the
// rest unknown: a device that is not a PnP device (a virtual camera), or a system that does not tell.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <string>
#include <vector>

#include "camera_identity.h"
#include "usb_instance_id.h"

namespace {

std::u16string toU16(const wchar_t* text) {
    std::u16string copy;
    for (; text != nullptr && *text != 0; ++text) copy.push_back(static_cast<char16_t>(*text));
    return copy;
}

// The device node of the device that exposes the interface at `path`.
bool interfaceDevice(const OLECHAR* path, DEVINST& device) {
    const HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    SP_DEVINFO_DATA deviceData{};
    deviceData.cbSize = sizeof deviceData;
    bool found = false;
    if (SetupDiOpenDeviceInterfaceW(set, path, 0, &interfaceData)) {
        DWORD needed = 0;
        // Asked for no detail, it still says which device: it fails for the missing buffer only.
        SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &needed, &deviceData);
        found = deviceData.DevInst != 0;
        device = deviceData.DevInst;
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

std::u16string instanceId(DEVINST device) {
    ULONG length = 0;
    if (CM_Get_Device_ID_Size(&length, device, 0) != CR_SUCCESS) return {};
    std::vector<wchar_t> id(length + 1);
    if (CM_Get_Device_IDW(device, id.data(), static_cast<ULONG>(id.size()), 0) != CR_SUCCESS) return {};
    return toU16(id.data());
}

std::optional<std::u16string> locationOf(DEVINST device) {
    wchar_t location[256] = {};
    ULONG size = sizeof location - sizeof location[0];
    ULONG type = 0;
    if (CM_Get_DevNode_Registry_PropertyW(device, CM_DRP_LOCATION_INFORMATION, &type, location, &size, 0) !=
            CR_SUCCESS ||
        type != REG_SZ || location[0] == 0) {
        return std::nullopt;
    }
    return toU16(location);
}

}  // namespace

CameraIdentity identifyCamera(const OLECHAR* path, std::uint32_t position) {
    CameraIdentity identity;
    identity.index = position;
    DEVINST device = 0;
    if (path == nullptr || !interfaceDevice(path, device)) return identity;
    // The video function of a composite camera hangs under the USB device; a simple camera is it.
    for (int depth = 0; depth < 4; ++depth) {
        const std::u16string id = instanceId(device);
        if (usbid::isUsbDevice(id)) {
            identity.serial = usbid::serialNumber(id);
            identity.port = locationOf(device);
            break;
        }
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, device, 0) != CR_SUCCESS) break;
        device = parent;
    }
    return identity;
}
