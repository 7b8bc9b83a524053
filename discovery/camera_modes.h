// The modes a target camera can be opened in (pixel format, size, frame rate), read from the device
// when asked and never by a listing: asking a camera for its modes opens it on Linux and binds its
// capture filter on Windows. The backend linked into the program defines readCameraModes: linux/
// (the node's V4L2 enumerations), windows/ (the filter's capture pin), or the tests' scripted one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A time per frame, in seconds: 1001/30000 is 29.97 frames a second. A denominator of 0 never
// leaves a backend.
struct FrameInterval {
    std::uint32_t numerator = 0;
    std::uint32_t denominator = 1;
};

// How a mode's sizes or rates are given: one value, or a range from a minimum to a maximum by a step
// (continuous: every value between them that the device's units can express).
enum class ModeSpan : std::uint8_t { Discrete, Stepwise, Continuous };

// One mode as the device reports it. A discrete size at discrete rates is one CameraMode per rate,
// in the device's order; a range stays a range, never expanded.
struct CameraMode {
    std::uint32_t fourcc = 0;  // the format's four characters as the platform reports them, the first in the low byte

    ModeSpan sizes = ModeSpan::Discrete;
    std::uint32_t width = 0;  // the size, or a range's smallest
    std::uint32_t height = 0;
    std::uint32_t maxWidth = 0;  // ranges only
    std::uint32_t maxHeight = 0;
    std::uint32_t stepWidth = 0;  // ranges only: 1 for a continuous range
    std::uint32_t stepHeight = 0;

    bool hasRate = false;  // false where the device tells no rate for this size
    ModeSpan rates = ModeSpan::Discrete;
    FrameInterval interval;      // the rate, or a range's shortest interval (its highest rate)
    FrameInterval maxInterval;   // ranges only: the longest interval (the lowest rate)
    FrameInterval stepInterval;  // stepwise rates only
};

// Bounds every backend keeps, whatever the device answers, so that a device which never ends an
// enumeration (answers every index), or claims 2^31 entries, costs a short and bounded time and
// memory. A real camera reports tens of entries at each level and well under a thousand device calls
// in all; under umockdev, where one ioctl costs about 0.3 ms, the worst case stays near 1.2 s. A
// bound that is reached ends the enumeration there: the reading keeps what it has (duplicates
// dropped), and is no failure.
namespace modebounds {
constexpr std::uint32_t kEntriesPerLevel = 256;  // formats (a pin's capabilities), sizes of a format, rates of a size
constexpr std::uint32_t kDeviceCalls = 4096;     // device calls of one reading, retries included
constexpr std::size_t kModes = 4096;             // modes of one reading
constexpr std::uint32_t kMaxDimension = 65536;   // a width or height above it is no real size
}  // namespace modebounds

struct ModeReading {
    std::vector<CameraMode> modes;
    // What failed, in the platform's words ("open /dev/video3", "IMoniker::BindToObject(IID_IBaseFilter)"),
    // empty when the reading ran to its end; `error` is its errno on Linux, its HRESULT on Windows.
    std::string failedStep;
    std::int32_t error = 0;
};

// Asks the camera that `source` names for its modes, on the calling thread: on Linux its capture
// node ("/dev/video3", CameraEntry::node), on Windows its moniker's display name
// (CameraEntry::moniker). Whatever the device answers, returns in bounded time and memory. Throws
// std::bad_alloc only.
ModeReading readCameraModes(const std::u16string& source);
