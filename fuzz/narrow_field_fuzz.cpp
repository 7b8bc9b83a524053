// toNarrowField, the conversion of wide text into a record's narrow fields, on arbitrary 16-bit text.
// The first byte picks the locale (C or UTF-8) and the field's size (one of the record's own, or
// any from 1 to 64); the rest is the text, as little-endian units. The field lies in the middle of
// a guard area that must come out untouched, and the bytes written must be exactly the longest run
// of whole characters that fits with a terminator, each valid in the locale.
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>

#include "fuzz_support.h"
#include "utf16.h"
#include "wide_text.h"

namespace {

constexpr std::size_t kGuard = 16;
constexpr char kGuardByte = '\x5A';

std::size_t fieldSize(std::uint8_t choice) {
    static constexpr std::size_t kRecordFields[] = {50, 5, 550};
    return choice < 3 ? kRecordFields[choice] : 1 + choice % 64;
}

// The field's expected content, worked out apart from the code under test (UTF-8 by the stand-in's
// own encoder, not the C library's): each character (a surrogate pair is one) in the locale's
// encoding, '?' where the locale has none, and whole characters only, as many as fit before the
// terminator.
std::string expectedField(const OLECHAR* text, std::size_t size, Locale locale) {
    std::string field;
    for (std::size_t i = 0; text[i] != 0; ++i) {
        // One character: a unit, or a surrogate pair.
        char16_t character[3] = {static_cast<char16_t>(text[i]), 0, 0};
        const bool high = character[0] >= 0xD800 && character[0] <= 0xDBFF;
        if (high && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) character[1] = static_cast<char16_t>(text[++i]);
        const bool lone = character[0] >= 0xD800 && character[0] <= 0xDFFF && character[1] == 0;
        std::string bytes;
        if (character[0] < 0x80) {
            bytes = static_cast<char>(character[0]);
        } else if (locale == Locale::C || lone) {
            bytes = "?";
        } else {
            bytes = standin::utf16ToUtf8(character);
        }
        if (field.size() + bytes.size() + 1 > size) break;
        field += bytes;
    }
    return field;
}

// Every character of the field decodes in the current locale.
bool validInLocale(const char* field) {
    std::mbstate_t state{};
    const std::size_t length = std::strlen(field);
    for (std::size_t i = 0; i < length;) {
        wchar_t wide;
        const std::size_t used = std::mbrtowc(&wide, field + i, length - i, &state);
        if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2) || used == 0) return false;
        i += used;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const Locale locale = (data[0] & 1) != 0 ? Locale::Utf8 : Locale::C;
    const std::size_t fieldBytes = fieldSize(static_cast<std::uint8_t>(data[0] >> 1));
    const std::vector<OLECHAR> text = unitsOf(data + 1, size - 1);

    ThreadLocale use(locale);
    std::vector<char> area(kGuard + fieldBytes + kGuard, kGuardByte);
    char* field = area.data() + kGuard;
    toNarrowField(field, fieldBytes, text.data());

    for (std::size_t i = 0; i < kGuard; ++i) {
        require(area[i] == kGuardByte, "nothing is written before the field");
        require(area[kGuard + fieldBytes + i] == kGuardByte, "nothing is written past the field");
    }
    require(std::memchr(field, 0, fieldBytes) != nullptr, "the field is terminated within its size");
    require(validInLocale(field), "the field is valid text in the locale");
    require(field == expectedField(text.data(), fieldBytes, locale),
            "the field holds the longest run of whole characters that fits");

    // No text at all gives an empty field.
    toNarrowField(field, fieldBytes, nullptr);
    require(field[0] == '\0', "a null text writes an empty field");
    return 0;
}
