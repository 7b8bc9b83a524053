#include "wide_text.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace {

constexpr OLECHAR kReplacement = 0xFFFD;

bool isSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// Appends units to a bounded destination, remembering how many the whole text needed.
struct Sink {
    OLECHAR* destination;
    std::size_t capacity;
    std::size_t length = 0;

    void put(OLECHAR unit) {
        if (length < capacity) destination[length] = unit;
        ++length;
    }
    void putCodePoint(char32_t c) {
        if (c > 0x10FFFF || isSurrogate(c)) {
            put(kReplacement);
        } else if (c >= 0x10000) {
            c -= 0x10000;
            put(static_cast<OLECHAR>(0xD800 + (c >> 10)));
            put(static_cast<OLECHAR>(0xDC00 + (c & 0x3FF)));
        } else {
            put(static_cast<OLECHAR>(c));
        }
    }
};

void putDecimal(Sink& sink, int value) {
    char digits[16];
    unsigned int magnitude = value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) sink.put(u'-');
    while (count > 0) sink.put(static_cast<OLECHAR>(digits[--count]));
}

// Narrow text in the current locale, widened character by character; a byte that starts no valid
// character shows as U+FFFD.
void putNarrow(Sink& sink, const char* text, std::size_t limit) {
    if (text == nullptr) text = "(null)", limit = 6;
    std::size_t length = 0;
    while (length < limit && text[length] != '\0') ++length;
    std::mbstate_t state{};
    std::size_t i = 0;
    while (i < length) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            sink.put(byte);
            ++i;
            continue;
        }
        wchar_t wide = 0;
        const std::size_t used = std::mbrtowc(&wide, text + i, length - i, &state);
        if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2) || used == 0) {
            sink.put(kReplacement);
            state = std::mbstate_t{};
            ++i;
            continue;
        }
        sink.putCodePoint(static_cast<char32_t>(wide));
        i += used;
    }
}

// The units before the terminator, at most `limit`. Four at a time with one bound check, but never
// reading a unit past the terminator: the text may end at the end of its allocation.
std::size_t boundedLength(const OLECHAR* text, std::size_t limit) {
    std::size_t length = 0;
    for (; length + 4 <= limit; length += 4) {
        if (text[length] == 0) return length;
        if (text[length + 1] == 0) return length + 1;
        if (text[length + 2] == 0) return length + 2;
        if (text[length + 3] == 0) return length + 3;
    }
    while (length < limit && text[length] != 0) ++length;
    return length;
}

// Upper-cases `length` units of `source` into `destination`. Every device path of every walk comes through here, so
// ASCII goes without a branch per unit (the compiler does several units at once), and the locale is asked only when a
// unit outside ASCII turns up, which device paths hardly ever hold.
void upperInto(OLECHAR* destination, const OLECHAR* source, std::size_t length) {
    // Sixteen-bit signed arithmetic, which vector units have: units from 0x8000 on are negative, so
    // never taken for 'a' to 'z'.
    std::uint16_t seen = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const auto unit = static_cast<std::int16_t>(source[i]);
        seen = static_cast<std::uint16_t>(seen | static_cast<std::uint16_t>(unit));
        const std::int16_t offset = ((unit >= 'a') & (unit <= 'z')) ? 'a' - 'A' : 0;
        destination[i] = static_cast<OLECHAR>(unit - offset);
    }
    if (seen < 0x80) return;
    for (std::size_t i = 0; i < length; ++i) {
        const OLECHAR unit = destination[i];
        if (unit < 0x80 || isSurrogate(unit)) continue;
        // wint_t is 16 bits on Windows and 32 elsewhere.
        const auto upper = static_cast<std::uint32_t>(std::towupper(static_cast<std::wint_t>(unit)));
        // Keep the unit where its upper case would not fit one unit, and where it would be ASCII
        // (a UTF-8 locale turns the dotless i into I): no locale may spell "VID_" or "PID_".
        if (upper >= 0x80 && upper <= 0xFFFF && !isSurrogate(upper)) {
            destination[i] = static_cast<OLECHAR>(upper);
        }
    }
}

}  // namespace

std::size_t copyUpper(OLECHAR* destination, std::size_t units, const OLECHAR* source) {
    if (units == 0) return 0;
    const std::size_t length = source != nullptr ? boundedLength(source, units - 1) : 0;
    upperInto(destination, source, length);
    destination[length] = 0;
    return length;
}

const OLECHAR* findText(const OLECHAR* text, const OLECHAR* needle) {
    if (*needle == 0) return text;
    for (; *text != 0; ++text) {
        if (*text != *needle) continue;
        std::size_t i = 1;
        while (needle[i] != 0 && text[i] == needle[i]) ++i;
        if (needle[i] == 0) return text;
    }
    return nullptr;
}

void copyId(OLECHAR (&destination)[10], const OLECHAR* source) {
    std::size_t i = 0;
    for (; i < 4 && source[i] != 0; ++i) destination[i] = source[i];
    destination[i] = 0;
}

void toNarrowField(char* field, std::size_t size, const OLECHAR* text) {
    if (size == 0) return;
    std::size_t used = 0;
    std::mbstate_t state{};
    char bytes[MB_LEN_MAX];
    for (std::size_t i = 0; text != nullptr && text[i] != 0; ++i) {
        char32_t c = text[i];
        std::size_t count = 0;
        if (c < 0x80) {
            bytes[0] = static_cast<char>(c);
            count = 1;
        } else {
            if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                if constexpr (sizeof(wchar_t) >= 4) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                    ++i;
                } else {
                    // A 16-bit wchar_t cannot carry the pair to wcrtomb: one '?' for the character.
                    ++i;
                    c = 0xD800;
                }
            }
            count =
                isSurrogate(c) ? static_cast<std::size_t>(-1) : std::wcrtomb(bytes, static_cast<wchar_t>(c), &state);
            // No bytes at all (glibc's C locale does that for the tag characters) is not a
            // representation either.
            if (count == static_cast<std::size_t>(-1) || count == 0) {
                bytes[0] = '?';
                count = 1;
                state = std::mbstate_t{};
            }
        }
        if (used + count + 1 > size) break;
        std::memcpy(field + used, bytes, count);
        used += count;
    }
    field[used] = '\0';
}

int formatWide(OLECHAR* destination, std::size_t units, const OLECHAR* format, std::va_list args) {
    Sink sink{destination, units};
    for (const OLECHAR* p = format; *p != 0; ++p) {
        if (*p != u'%') {
            sink.put(*p);
            continue;
        }
        const OLECHAR* start = p;
        std::size_t precision = static_cast<std::size_t>(-1);
        if (p[1] == u'.') {
            precision = 0;
            p += 2;
            while (*p >= u'0' && *p <= u'9') precision = precision * 10 + static_cast<std::size_t>(*p++ - u'0');
            --p;
        }
        switch (p[1]) {
            case u'd':
                putDecimal(sink, va_arg(args, int));
                ++p;
                break;
            case u's':
                putNarrow(sink, va_arg(args, const char*), precision);
                ++p;
                break;
            case u'%':
                sink.put(u'%');
                ++p;
                break;
            default:
                // Not a conversion this module uses: shown as written.
                for (; start <= p; ++start) sink.put(*start);
                break;
        }
        if (*p == 0) break;
    }
    if (sink.length < units) {
        destination[sink.length] = 0;
        return static_cast<int>(sink.length);
    }
    return sink.length == units ? static_cast<int>(units) : -1;
}
