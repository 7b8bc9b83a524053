#include "interface_path.h"

namespace ifpath {

namespace {

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool equalNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i])) return false;
    }
    return true;
}

std::u16string_view withoutPrefix(std::u16string_view path) {
    for (std::u16string_view prefix : {std::u16string_view(u"\\\\?\\"), std::u16string_view(u"\\??\\")}) {
        if (path.substr(0, prefix.size()) == prefix) return path.substr(prefix.size());
    }
    return path;
}

// Where the class's "#{" starts: the last one, since an instance ID may hold '{' of its own.
std::size_t classStart(std::u16string_view path) { return path.rfind(u"#{"); }

// What follows the class GUID's '}': the reference string, "\global" for most; empty where none.
std::u16string_view reference(std::u16string_view path) {
    const std::size_t start = classStart(path);
    if (start == std::u16string_view::npos) return {};
    const std::size_t close = path.find(u'}', start);
    return close == std::u16string_view::npos ? std::u16string_view() : path.substr(close + 1);
}

}  // namespace

std::optional<std::u16string_view> deviceInstance(std::u16string_view path) {
    const std::u16string_view rest = withoutPrefix(path);
    const std::size_t start = classStart(rest);
    if (start == std::u16string_view::npos || start == 0) return std::nullopt;
    return rest.substr(0, start);
}

bool sameDevice(std::u16string_view a, std::u16string_view b) {
    const std::optional<std::u16string_view> first = deviceInstance(a);
    const std::optional<std::u16string_view> second = deviceInstance(b);
    return first && second && equalNoCase(*first, *second);
}

std::optional<std::uint32_t> positionAmong(std::u16string_view path, const std::vector<std::u16string>& links) {
    std::optional<std::uint32_t> found;
    for (std::size_t at = 0; at < links.size() && at <= UINT32_MAX; ++at) {
        if (!sameDevice(path, links[at])) continue;
        if (equalNoCase(reference(path), reference(links[at]))) return static_cast<std::uint32_t>(at);
        if (!found) found = static_cast<std::uint32_t>(at);
    }
    return found;
}

}  // namespace ifpath
