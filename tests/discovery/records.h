// Caller-owned records filled with a pattern, so that bytes a query leaves alone show.
#pragma once

#include <cstring>

#include "device_info.h"

inline DeviceInfo patterned() {
    DeviceInfo info;
    std::memset(&info, 'Z', sizeof info);
    return info;
}

inline bool untouched(const DeviceInfo& info) {
    const DeviceInfo expected = patterned();
    return std::memcmp(&info, &expected, sizeof info) == 0;
}
