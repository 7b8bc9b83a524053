#include "trace.h"

#include <cstdarg>
#include <cstdio>

#include "wide_text.h"

OLECHAR debugBuffer[2048];

namespace {

void toDebugger(const OLECHAR* line) { OutputDebugStringW(line); }

DebugOutput g_debugOutput = &toDebugger;

thread_local std::string* t_traceText = nullptr;

}  // namespace

// fputs writes the text as printf(text) would (none holds a conversion), without parsing it.
void trace(const char* text) {
    if (t_traceText != nullptr) {
        t_traceText->append(text);
        return;
    }
    std::fputs(text, stdout);
}

void traceNumber(const char* format, std::int32_t value) {
    if (t_traceText != nullptr) {
        char line[64];
        std::snprintf(line, sizeof line, format, static_cast<int>(value));
        t_traceText->append(line);
        return;
    }
    std::printf(format, static_cast<int>(value));
}

TraceIntoText::TraceIntoText(std::string& text) : previous_(t_traceText) { t_traceText = &text; }
TraceIntoText::~TraceIntoText() { t_traceText = previous_; }

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
