// matchDevicePath over arbitrary paths. One input is one walk: its 16-bit units are split at each 0
// unit into the paths of consecutive devices, so the ID buffers and the slot counter carry from
// device to device as in a real walk. A path of the single unit 0xFFFF stands for a device whose
// path is null. An odd last byte sets the slot the walk's first match takes, so that short walks
// reach the wrap from 255 to 0 too. Each path is judged twice, in the C locale and in UTF-8, by two
// walks kept in step: the verdict must not depend on the locale.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_support.h"
#include "match.h"

namespace {

constexpr std::size_t kPathUnits = sizeof WalkState::path / sizeof(OLECHAR);

OLECHAR asciiUpper(OLECHAR unit) { return unit >= u'a' && unit <= u'z' ? static_cast<OLECHAR>(unit - 32) : unit; }

// What the path buffer must hold as far as the decision goes: the path cut to 259 units with only
// ASCII letters upper-cased. Worked out here apart from the code under test.
std::u16string decisionText(const OLECHAR* path) {
    std::u16string text;
    for (std::size_t i = 0; path != nullptr && path[i] != 0 && i + 1 < kPathUnits; ++i) text += asciiUpper(path[i]);
    return text;
}

// The (at most) four units of `text` after the first `marker` in `decision`, or nothing.
std::u16string idAfter(const std::u16string& text, const std::u16string& decision, const char16_t* marker) {
    const std::size_t at = decision.find(marker);
    return at == std::u16string::npos ? std::u16string() : text.substr(at + 4, 4);
}

std::u16string terminatedWithin(const OLECHAR* units, std::size_t size, const char* what) {
    std::size_t length = 0;
    while (length < size && units[length] != 0) ++length;
    require(length < size, what);
    return std::u16string(reinterpret_cast<const char16_t*>(units), length);
}

// The walk's buffers after judging a path: the path as the decision sees it, and the IDs taken from
// the held path's own markers (their letters upper-cased by the locale, like the rest of it).
void checkWalk(const WalkState& walk, const std::u16string& expected) {
    const std::u16string held = terminatedWithin(walk.path, kPathUnits, "the path buffer is terminated");
    require(held.size() == expected.size(), "the path buffer holds the path cut to 259 units");
    for (std::size_t i = 0; i < held.size(); ++i) {
        if (expected[i] < 0x80) {
            require(held[i] == expected[i], "ASCII units are upper-cased, nothing else");
        } else {
            require(held[i] >= 0x80, "a non-ASCII unit never turns into ASCII");
        }
    }
    require(terminatedWithin(walk.extrctd_vid, 5, "the vendor ID is terminated") == idAfter(held, expected, u"VID_"),
            "the vendor ID comes from this path's first VID_");
    require(terminatedWithin(walk.extrctd_pid, 5, "the product ID is terminated") == idAfter(held, expected, u"PID_"),
            "the product ID comes from this path's first PID_");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The traced calls write the scan's texts; the fuzzer reports on standard error.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<OLECHAR> units = unitsOf(data, size);
    WalkState inC{};
    WalkState inUtf8{};
    unsigned matches = size % 2 == 1 ? data[size - 1] : 0;
    inC.matchCount = inUtf8.matchCount = static_cast<std::uint8_t>(matches);
    std::size_t device = 0;
    for (std::size_t start = 0; start < units.size(); ++device) {
        std::size_t end = start;
        while (units[end] != 0) ++end;
        const OLECHAR* path = end == start + 1 && units[start] == 0xFFFF ? nullptr : &units[start];
        const bool traced = device % 2 == 1;

        const std::u16string expected = decisionText(path);
        const bool target =
            idAfter(expected, expected, u"VID_") == u"2560" && idAfter(expected, expected, u"PID_") == u"C0D6";

        std::uint8_t slotC = 0xEE;
        std::uint8_t slotUtf8 = 0xEE;
        bool matchedC = false;
        bool matchedUtf8 = false;
        {
            ThreadLocale c(Locale::C);
            matchedC = matchDevicePath(inC, path, traced, slotC);
        }
        {
            ThreadLocale utf8(Locale::Utf8);
            matchedUtf8 = matchDevicePath(inUtf8, path, traced, slotUtf8);
        }
        require(matchedC == matchedUtf8, "the verdict does not depend on the locale");
        require(matchedC == target, "a device matches exactly when its own IDs are 2560 and C0D6");
        if (target) {
            require(slotC == static_cast<std::uint8_t>(matches) && slotUtf8 == slotC,
                    "matching devices take consecutive slots, wrapping after 255");
            ++matches;
        } else {
            require(slotC == 0xEE && slotUtf8 == 0xEE, "the slot is written only on a match");
        }
        checkWalk(inC, expected);
        checkWalk(inUtf8, expected);
        start = end + 1;
    }
    return 0;
}
