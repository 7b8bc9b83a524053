// What the fuzz targets share: turning the fuzzer's bytes into wide text, switching the thread's
// locale cheaply between inputs, and stopping loudly when a property fails.
#pragma once

#include <locale.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform.h"

// A failed property is a crash for the fuzzer: it keeps the input and stops.
inline void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}

// The bytes as little-endian 16-bit units (an odd last byte is dropped), with a terminator added.
inline std::vector<OLECHAR> unitsOf(const std::uint8_t* data, std::size_t size) {
    std::vector<OLECHAR> units;
    units.reserve(size / 2 + 1);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        units.push_back(static_cast<OLECHAR>(data[i] | (data[i + 1] << 8)));
    }
    units.push_back(0);
    return units;
}

// The two locales the module meets in practice: "C", which a Python process keeps for LC_CTYPE
// unless told otherwise, and UTF-8. Created once; switching per input costs next to nothing.
enum class Locale { C, Utf8 };

inline locale_t localeHandle(Locale which) {
    static const locale_t c = newlocale(LC_CTYPE_MASK, "C", nullptr);
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    const locale_t handle = which == Locale::C ? c : utf8;
    require(handle != nullptr, "the C and C.UTF-8 locales exist");
    return handle;
}

// Sets the calling thread's locale for as long as it lives.
class ThreadLocale {
public:
    explicit ThreadLocale(Locale which) : previous_(uselocale(localeHandle(which))) {}
    ThreadLocale(const ThreadLocale&) = delete;
    ThreadLocale& operator=(const ThreadLocale&) = delete;
    ~ThreadLocale() { uselocale(previous_); }

private:
    locale_t previous_;
};
