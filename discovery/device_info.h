// Finds the attached USB cameras of the target model (vendor 2560, product C0D6) among the video
// input devices, and describes them in caller-owned records. Every call looks at the devices
// attached at that moment. Progress and failures are reported as short texts on standard output;
// the results are a bool and the out-parameters.
#pragma once

#include <cstddef>

#pragma pack(push, 1)
// One device, as narrow text in the current locale, every field terminated within its size.
// Consecutive records lie 610 bytes apart.
struct DeviceInfo {
    char friendlyName[50];  // "FriendlyName"
    char vid[5];            // vendor ID, "2560"
    char pid[5];            // product ID, "C0D6"
    char devicePath[550];   // "DevicePath", upper-cased, at most 259 characters
};
#pragma pack(pop)

static_assert(sizeof(DeviceInfo) == 610, "the record layout is shared with callers");
static_assert(alignof(DeviceInfo) == 1, "records are byte-aligned");
static_assert(offsetof(DeviceInfo, friendlyName) == 0, "record layout");
static_assert(offsetof(DeviceInfo, vid) == 50, "record layout");
static_assert(offsetof(DeviceInfo, pid) == 55, "record layout");
static_assert(offsetof(DeviceInfo, devicePath) == 60, "record layout");

// Stores the number of attached target devices (at most 32 are told apart) in *count; true when
// there is at least one. A null count: false, nothing written.
bool getDeviceCount(unsigned int* count);

// Fills *info with the target device in slot `index` (0-based, in enumeration order). False when
// there is no such device, also when it went away during the call; *info is then unchanged.
bool getDeviceInfo(unsigned int index, DeviceInfo* info);

// Fills list[0..count) with the devices in slots 0..count-1, stopping at the first that fails; the
// records before it keep what was written. A count of 0 is true at once.
bool getDeviceListInfo(unsigned int count, DeviceInfo* list);

// getDeviceListInfo for a caller that can vouch for only `held` records behind `list` (a Python
// caller hands over an instance, not a count): past them the list ends as it ends at a record whose
// device fails, with "other issue" and false, the records before it filled.
bool getDeviceListInfoWithin(unsigned int count, DeviceInfo* list, std::size_t held);
