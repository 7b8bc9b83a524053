#include "scan.h"

#include "match.h"
#include "trace.h"
#include "walk.h"

std::uint32_t deviceMask;

bool initialize() {
    trace("initialize is statred");
    // Whatever mode the thread already has, the scan goes on in it; COM stays initialised.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    WalkState walk{};
    deviceMask = 0;
    try {
        const WalkEnd end = walkVideoInputs(true, [&walk](IPropertyBag&, const OLECHAR* path, ULONG, IMoniker&) {
            std::uint8_t slot = 0;
            if (matchDevicePath(walk, path, true, slot)) {
                deviceMask |= std::uint32_t{1} << (slot % 32);
                traceNumber("Before index list is : %d\n", static_cast<std::int32_t>(deviceMask));
            }
        });
        if (end == WalkEnd::Completed) return true;
    } catch (...) {
    }
    trace("NotInitialized Error");
    return false;
}
