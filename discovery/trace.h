// The two channels on which the discovery code reports: fixed texts on standard output (the
// console trace) and lines for the debugger. Nothing else is ever written.
#pragma once

#include <cstdint>
#include <string>

#include "platform.h"

// Writes a fixed text to standard output through stdio and never flushes it: texts run together
// until one carries a newline. When stdio writes them out is its own buffering's choice: at each
// newline on a terminal, when its buffer fills (or at exit) on a pipe or a file.
void trace(const char* text);
// Writes `format` with its one %d.
void traceNumber(const char* format, std::int32_t value);

// While one lives, the calling thread's trace texts are appended to `text` instead of going to
// standard output: a caller that must not write there (the listing) collects its trace so. Other
// threads, and the queries of device_info.h, keep writing to standard output.
class TraceIntoText {
public:
    explicit TraceIntoText(std::string& text);
    TraceIntoText(const TraceIntoText&) = delete;
    TraceIntoText& operator=(const TraceIntoText&) = delete;
    ~TraceIntoText();

private:
    std::string* previous_;
};

// Formats into the process-wide 2048-unit debug buffer and hands it to the debugger output, cut to
// 2046 units. A `flag` of 0 does nothing at all.
void debugPrint(std::int32_t flag, const OLECHAR* format, ...);

// Where debugger lines go: the platform's debugger-output service, unless a test redirects them.
// Returns the previous destination.
using DebugOutput = void (*)(const OLECHAR* line);
DebugOutput setDebugOutput(DebugOutput output);

// The debug buffer itself, for tests that check what a cut leaves in it.
extern OLECHAR debugBuffer[2048];
