// What the platform knows of a target camera beyond its DirectShow properties. The backend linked
// into the program defines identifyCamera: windows/ (configuration manager), linux/ (sysfs), or the
// tests' scripted one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform.h"

struct CameraIdentity {
    std::uint32_t index = 0;               // what a capture library opens the camera by
    std::optional<std::u16string> serial;  // the USB device's serial number
    std::optional<std::u16string> port;    // the physical USB port it is plugged into
    std::optional<std::u16string> node;    // Linux: the capture node to open it by, "/dev/video3"
};

// `path` is the camera's "DevicePath" as read, `position` its place among all video input devices
// of the walk. Never fails: what cannot be found out is left empty.
CameraIdentity identifyCamera(const OLECHAR* path, std::uint32_t position);
