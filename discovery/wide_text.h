// The few text operations the discovery code needs, on 16-bit units, written once so that every
// platform behaves alike (wchar_t is 32 bits on Linux, and Microsoft's wide formatters read %s as
// wide text where C reads it as narrow).
#pragma once

#include <cstdarg>
#include <cstddef>

#include "platform.h"

// Copies `source` up to its terminator, at most `units` - 1 units of it, and always terminates:
// what a byte-bounded "%s" format into a buffer of `units` units gives (a null source copies as
// empty). Upper-cases as it copies: ASCII letters always map to ASCII and nothing else becomes
// ASCII, so that matching on IDs does not depend on the locale; other letters follow the current
// C locale (towupper). Never changes the locale. Returns the units copied.
std::size_t copyUpper(OLECHAR* destination, std::size_t units, const OLECHAR* source);

// The first occurrence of `needle` in `text`, or null.
const OLECHAR* findText(const OLECHAR* text, const OLECHAR* needle);

// Copies up to 4 units of `source` (fewer where it ends first) and terminates: an ID after its
// "VID_" or "PID_".
void copyId(OLECHAR (&destination)[10], const OLECHAR* source);

// Converts `text` to the current locale's multibyte encoding into a field of `size` bytes. The text
// is cut where the next character and the terminator would no longer fit, always on a character
// boundary, and the field always ends in a terminator. A character the locale cannot represent
// becomes '?'. A null text writes an empty field.
void toNarrowField(char* field, std::size_t size, const OLECHAR* text);

// Formats into `destination`, at most `units` units, the way a count-bounded wide formatter does:
// the length when it fits with room for a terminator (written); `units` when the text is exactly
// `units` long (no terminator); -1 when it is longer (the first `units` units, no terminator).
// Conversions: %d (int), %s (narrow text, widened from the current locale; %.Ns reads at most N
// bytes), %%.
int formatWide(OLECHAR* destination, std::size_t units, const OLECHAR* format, std::va_list args);
