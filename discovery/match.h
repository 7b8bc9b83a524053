// The rule that recognises the target camera model by the IDs in its device path, and numbers the
// matching devices of one walk into slots.
#pragma once

#include <cstdint>

#include "platform.h"

// The working storage of one walk over the devices, zeroed when the walk starts.
struct WalkState {
    OLECHAR path[260];        // the current device's path, upper-cased
    OLECHAR extrctd_vid[10];  // the vendor ID found in it
    OLECHAR extrctd_pid[10];  // the product ID found in it
    std::uint8_t matchCount;  // the slot the next matching device takes (wraps after 255)
};

// USB vendor and product ID of the target model, as they stand in a device path.
inline constexpr OLECHAR kTargetVid[] = OLESTR("2560");
inline constexpr OLECHAR kTargetPid[] = OLESTR("C0D6");

// Judges one device by its "DevicePath" (null allowed). Afterwards, whatever the result, the walk
// holds the upper-cased path (at most 259 units) and this device's IDs (empty where absent); on a
// match `slot` receives the device's slot. With `traced` the scan's progress texts are written.
bool matchDevicePath(WalkState& walk, const OLECHAR* path, bool traced, std::uint8_t& slot);
