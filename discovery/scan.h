// The scan: one walk over every video input device, rebuilding the mask of target devices.
#pragma once

#include <cstdint>

// Bit (slot mod 32) is set for each target device the latest scan found. The only device state
// that outlives a call; the interpreter's lock serialises every access to it.
extern std::uint32_t deviceMask;

// Walks the devices and rebuilds deviceMask. True when the enumeration ran to its end. Never throws.
bool initialize();
