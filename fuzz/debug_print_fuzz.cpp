// debugPrint's formatting: the name line with an arbitrary 50-byte name field (terminated or not),
// the index line with any number, and formats of arbitrary wide text around a narrow text that may
// run far past the 2046-unit cut, in the C locale or UTF-8. Every line handed to the debugger must be
// the formatted text cut to 2046 units, the buffer's last two units must be terminators, and a call
// with flag 0 must leave everything as it was.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "trace.h"
#include "wide_text.h"

namespace {

constexpr std::size_t kCut = 2046;
constexpr std::size_t kNameField = 50;  // a record's friendlyName

std::vector<std::u16string> g_lines;

void collect(const OLECHAR* line) { g_lines.emplace_back(reinterpret_cast<const char16_t*>(line)); }

std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

int formatInto(OLECHAR* out, std::size_t units, const OLECHAR* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = formatWide(out, units, format, args);
    va_end(args);
    return result;
}

// A narrow text as the formatter widens it, in full: the reference the cut line is compared with.
std::u16string widened(const OLECHAR* conversion, const char* text) {
    static OLECHAR whole[1 << 16];
    const int length = formatInto(whole, sizeof whole / sizeof whole[0], conversion, text);
    require(length >= 0, "the reference formatting fits");
    return std::u16string(reinterpret_cast<const char16_t*>(whole), static_cast<std::size_t>(length));
}

bool isAscii(const char* text, std::size_t limit) {
    for (std::size_t i = 0; i < limit && text[i] != 0; ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
    }
    return true;
}

// Wide text with no terminator inside and every '%' doubled, for use as part of a format; and the
// text the formatter makes of it.
struct Literal {
    std::u16string format;
    std::u16string shown;
};

Literal literal(FuzzedDataProvider& input) {
    const std::string bytes = input.ConsumeRandomLengthString(64);
    Literal out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto unit =
            static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (unit == 0) continue;
        out.shown += unit;
        out.format += unit;
        if (unit == u'%') out.format += u'%';
    }
    return out;
}

void checkLine(const std::u16string& expected) {
    require(g_lines.size() == 1, "one line per call");
    const std::u16string& line = g_lines.front();
    require(line == expected.substr(0, kCut), "the line is the formatted text cut to 2046 units");
    require(debugBuffer[kCut + 1] == 0, "the buffer's last unit is a terminator");
    if (expected.size() >= kCut) require(debugBuffer[kCut] == 0, "a cut line ends at unit 2046");
    g_lines.clear();
}

void nameLine(FuzzedDataProvider& input) {
    // Exactly the field's size on the heap: reading one byte past it is a fault the sanitizer sees.
    const std::unique_ptr<char[]> name(new char[kNameField]);
    const std::string bytes = input.ConsumeBytesAsString(kNameField);
    std::memset(name.get(), 0, kNameField);
    std::memcpy(name.get(), bytes.data(), bytes.size());

    debugPrint(1, OLESTR("Device Name is : %.50s\n"), name.get());
    const std::u16string shown = widened(OLESTR("%.50s"), name.get());
    if (isAscii(name.get(), kNameField)) {
        require(shown == wide(std::string(name.get(), strnlen(name.get(), kNameField))),
                "an ASCII name is shown unchanged");
    }
    checkLine(u"Device Name is : " + shown + u"\n");
}

void indexLine(FuzzedDataProvider& input) {
    const int index = input.ConsumeIntegral<std::int32_t>();
    debugPrint(1, OLESTR("Device index is : %d\n"), index);
    checkLine(u"Device index is : " + wide(std::to_string(index)) + u"\n");
}

void longText(FuzzedDataProvider& input) {
    const Literal before = literal(input);
    const Literal after = literal(input);
    const std::size_t repeat = input.ConsumeIntegralInRange<std::size_t>(1, 3000);
    const std::string piece = input.ConsumeRandomLengthString(16);
    std::string text;
    while (text.size() < 4096 && repeat * piece.size() > text.size()) text += piece;

    const std::u16string format = before.format + u"%s" + after.format;
    debugPrint(1, reinterpret_cast<const OLECHAR*>(format.c_str()), text.c_str());
    checkLine(before.shown + widened(OLESTR("%s"), text.c_str()) + after.shown);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setDebugOutput(&collect);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    ThreadLocale use(input.ConsumeBool() ? Locale::Utf8 : Locale::C);
    g_lines.clear();
    for (int calls = 0; calls < 3 && input.remaining_bytes() > 0; ++calls) {
        switch (input.ConsumeIntegralInRange(0, 2)) {
            case 0: nameLine(input); break;
            case 1: indexLine(input); break;
            default: longText(input); break;
        }
    }
    // A flag of 0 formats nothing and hands nothing on.
    OLECHAR before[sizeof debugBuffer / sizeof debugBuffer[0]];
    std::memcpy(before, debugBuffer, sizeof debugBuffer);
    debugPrint(0, OLESTR("Device index is : %d\n"), 1);
    require(g_lines.empty() && std::memcmp(before, debugBuffer, sizeof debugBuffer) == 0,
            "a flag of 0 changes nothing");
    return 0;
}
