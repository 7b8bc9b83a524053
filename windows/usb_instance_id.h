// What a USB device's instance ID tells, read from its text alone so that it can be tested anywhere.
// Windows names a USB device "USB\VID_2560&PID_C0D6\<instance>": the instance is the device's own
// serial number where it reports one that Windows accepts as unique, and otherwise one Windows
// generates from the port ("6&1A2B3C4D&0&2"), which always holds '&'. One interface of a composite
// device (a camera's video function) reads "USB\VID_2560&PID_C0D6&MI_00\<generated>".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace usbid {

// Whether `id` names a whole USB device (not one of its interfaces, not a device on another bus).
bool isUsbDevice(std::u16string_view id);

// The serial number in a USB device's instance ID; none for a generated instance, an interface, or
// anything that is not a USB device's ID.
std::optional<std::u16string> serialNumber(std::u16string_view id);

}  // namespace usbid
