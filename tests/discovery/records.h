// Caller-owned records filled with a pattern, so that bytes a query leaves alone show.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "capture.h"
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

// Asks for the record in `slot`: the call must fail, write `trace` and leave the record alone.
inline void expectRefused(unsigned int slot, const std::string& trace) {
    DeviceInfo info = patterned();
    StdoutCapture out;
    EXPECT_FALSE(getDeviceInfo(slot, &info));
    EXPECT_EQ(out.finish(), trace);
    EXPECT_TRUE(untouched(info));
}
