// What a device interface's path tells of the device behind it, read from its text alone so that it
// can be tested anywhere. An interface path reads "\\?\usb#vid_2560&pid_c0d6&mi_00#6&1a2b&0&0000#{class}\global":
// the device's instance ID with '\' made '#', the interface class's GUID, and a reference string.
// DirectShow's DevicePath and Media Foundation's symbolic link of one camera name two interfaces of
// one device, of different classes ({65e8773d-...} and {e5323777-...}): what they share is the
// device instance part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ifpath {

// The device instance part ("usb#vid_2560&pid_c0d6&mi_00#6&1a2b&0&0000"), without the "\\?\" or
// "\??\" prefix; none where the text has no "#{" before its class, or nothing before that.
std::optional<std::u16string_view> deviceInstance(std::u16string_view path);

// Whether two interface paths belong to the same device: their device instance parts are equal, ASCII
// letters compared without case (Windows spells the IDs in either).
bool sameDevice(std::u16string_view a, std::u16string_view b);

// The position, in `links`, of the interface of the device that `path` belongs to: among several of
// that device, the first whose reference string ("\global") is also `path`'s, else the first. None
// where no link belongs to it.
std::optional<std::uint32_t> positionAmong(std::u16string_view path, const std::vector<std::u16string>& links);

}  // namespace ifpath
