// Fake video input devices for the scan and query tests that every platform shares, so that the
// same cases, with the same expected traces and results, run against our COM stand-in and against
// the real system device enumerator. Each test program links one implementation: scripted devices
// behind the stand-in, or registry entries that the Windows (or Wine) enumerator lists.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture.h"
#include "platform.h"
#include "scan.h"

inline const std::u16string kTargetPath =
    u"\\\\?\\usb#vid_2560&pid_c0d6&mi_00#6&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
inline const std::string kTargetPathUpper =
    "\\\\?\\USB#VID_2560&PID_C0D6&MI_00#6&1A2B3C4D&0&0000#{65E8773D-8F56-11D0-A3B9-00A0C9223196}\\GLOBAL";
inline const std::u16string kSecondTargetPath =
    u"\\\\?\\usb#vid_2560&pid_c0d6&mi_00#6&99&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
inline const std::u16string kOtherPath =
    u"\\\\?\\usb#vid_046d&pid_0825&mi_00#7&2b&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
// A virtual camera: a path with no USB IDs in it.
inline const std::u16string kNoIdsPath = u"\\\\?\\root#image#0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

namespace fake {

// A device as the enumerator lists it; an absent property cannot be read.
struct Device {
    std::optional<std::u16string> path;  // "DevicePath"
    std::optional<std::u16string> name;  // "FriendlyName"
};

// Replaces the attached devices with `devices`, listed in this order.
void plug(const std::vector<Device>& devices);
// Unplugs the device at `position` among those attached now; the others keep their order.
void unplug(std::size_t position);
// Checks, after a test, that nothing the calls obtained from COM outlived them (where the platform
// can tell).
void expectNothingHeld();

// The calling thread's COM apartment mode (a COINIT_ value), or -1 when it has none.
inline int apartmentMode() {
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    if (CoGetApartmentType(&type, &qualifier) != S_OK) return -1;
    if (type == APTTYPE_STA || type == APTTYPE_MAINSTA) return COINIT_APARTMENTTHREADED;
    if (type == APTTYPE_MTA) return COINIT_MULTITHREADED;
    return -1;
}

}  // namespace fake

inline fake::Device device(std::u16string path, std::u16string name) {
    return fake::Device{std::move(path), std::move(name)};
}

class FakeDevices : public ::testing::Test {
protected:
    void SetUp() override { fake::plug({}); }
    void TearDown() override {
        fake::expectNothingHeld();
        fake::plug({});
    }
    void devices(const std::vector<fake::Device>& list) { fake::plug(list); }
};

// What a scan alone writes over the devices attached now: the queries' traces are this followed by
// their own texts.
inline std::string scanTrace() {
    StdoutCapture out;
    initialize();
    return out.finish();
}
