#include "usb_instance_id.h"

namespace usbid {

namespace {

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool startsWithUpper(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (upper(text[i]) != prefix[i]) return false;
    }
    return true;
}

bool containsUpper(std::u16string_view text, std::u16string_view needle) {
    for (std::size_t at = 0; at + needle.size() <= text.size(); ++at) {
        if (startsWithUpper(text.substr(at), needle)) return true;
    }
    return false;
}

}  // namespace

bool isUsbDevice(std::u16string_view id) {
    if (!startsWithUpper(id, u"USB\\")) return false;
    const std::u16string_view rest = id.substr(4);
    const std::size_t slash = rest.find(u'\\');
    if (slash == std::u16string_view::npos || slash + 1 == rest.size()) return false;
    const std::u16string_view hardware = rest.substr(0, slash);
    // A device has exactly three parts, and an interface says which one it is.
    return rest.find(u'\\', slash + 1) == std::u16string_view::npos && startsWithUpper(hardware, u"VID_") &&
           !containsUpper(hardware, u"&MI_");
}

std::optional<std::u16string> serialNumber(std::u16string_view id) {
    if (!isUsbDevice(id)) return std::nullopt;
    const std::u16string_view instance = id.substr(id.rfind(u'\\') + 1);
    if (instance.find(u'&') != std::u16string_view::npos) return std::nullopt;
    return std::u16string(instance);
}

}  // namespace usbid
