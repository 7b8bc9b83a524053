#include "trace.h"

#include <cstdarg>
#include <cstdio>

#include "wide_text.h"

OLECHAR debugBuffer[2048];

namespace {

void toDebugger(const OLECHAR* line) { OutputDebugStringW(line); }

DebugOutput g_debugOutput = &toDebugger;

}  // namespace

// fputs writes the text as printf(text) would (none holds a conversion), without parsing it.
void trace(const char* text) { std::fputs(text, stdout); }

void traceNumber(const char* format, std::int32_t value) { std::printf(format, static_cast<int>(value)); }

void debugPrint(std::int32_t flag, const OLECHAR* format, ...) {
    if (flag == 0) return;
    std::va_list args;
    va_start(args, format);
    const int written = formatWide(debugBuffer, 2046, format, args);
    va_end(args);
    if (written < 0 || written >= 2046) debugBuffer[2046] = 0;
    debugBuffer[2047] = 0;
    g_debugOutput(debugBuffer);
}

DebugOutput setDebugOutput(DebugOutput output) {
    const DebugOutput previous = g_debugOutput;
    g_debugOutput = output != nullptr ? output : &toDebugger;
    return previous;
}
