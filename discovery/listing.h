// Every attached target camera in one walk, for callers that want them all at once, with what it
// takes to open each one and to tell identical ones apart. The same walk and the same matching rule
// as the queries of device_info.h, so both always agree on which devices are target cameras; but
// nothing is written to standard output, no state is shared with other calls or threads (no device
// mask, no debug buffer), and there is no limit on the number of cameras.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One target camera. Text is UTF-16, as the devices report it.
struct CameraEntry {
    std::u16string name;  // "FriendlyName", whole; empty where it cannot be read
    std::u16string vid;   // the IDs from its path: "2560"
    std::u16string pid;   //                        "C0D6"
    std::u16string path;  // "DevicePath" as the walk holds it: upper-cased, at most 259 units
    // What a capture library opens it by: its position among all video input devices on Windows
    // (DirectShow's order, every listed device counted), N of /dev/videoN on Linux.
    std::uint32_t index = 0;
    std::optional<std::u16string> serial;  // the USB serial number, where the device has one
    std::optional<std::u16string> port;    // the physical USB port, where the platform tells it
    // What the platform opens it by, as the platform names it: the capture node ("/dev/video3") on
    // Linux; on Windows the moniker's display name, which readCameraModes binds again and which
    // ffmpeg's dshow input takes (with ':' made '_') as the device's alternative name. Each is
    // empty where its platform is not the one running.
    std::optional<std::u16string> node;
    std::optional<std::u16string> moniker;
};

struct CameraListing {
    std::vector<CameraEntry> cameras;
    // The step that failed ("CoCreateInstance(CLSID_SystemDeviceEnum)", ...), null when the walk
    // ran to its end; `result` is its HRESULT. A machine with no video input device at all is no
    // failure: its list is empty.
    const char* failedStep = nullptr;
    std::int32_t result = 0;
    // Not 0 where the step that failed was a system call of the platform's own (Linux): its errno.
    // `failedStep` then names that call and what it was called on ("opendir
    // /sys/class/video4linux"), and `result` is only the HRESULT that COM's callers were given.
    int errnoValue = 0;
    std::string trace;  // the walk's trace texts, when asked for
};

// Which index a listing gives each camera.
enum class CameraIndexing : std::uint8_t {
    Platform,  // as CameraEntry::index says: DirectShow's position on Windows, N of /dev/videoN on Linux
    // Its position in Media Foundation's list of video capture sources (media_foundation.h), the
    // number OpenCV's MSMF backend opens it by; a camera Media Foundation does not list is left out,
    // and the cameras come in that list's order. A failure to get the list fails the listing.
    MediaFoundation,
};

// Walks the video input devices once, on the calling thread, in whatever COM apartment it has (one
// is joined, and left again, where it has none). Throws std::bad_alloc only.
CameraListing listCameras(bool traced, CameraIndexing indexing = CameraIndexing::Platform);
