// What the code under test writes: standard output at the file-descriptor level (so stdio's
// buffering is included), and the lines handed to the debugger.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "trace.h"

class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        file_ = std::tmpfile();
        saved_ = dup(1);
        dup2(fileno(file_), 1);
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    ~StdoutCapture() { finish(); }

    // Everything written since construction; ends the capture.
    std::string finish() {
        if (file_ == nullptr) return text_;
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        std::rewind(file_);
        char block[4096];
        std::size_t got;
        while ((got = std::fread(block, 1, sizeof block, file_)) > 0) text_.append(block, got);
        std::fclose(file_);
        file_ = nullptr;
        // The console of some platforms turns "\n" into "\r\n".
        text_.erase(std::remove(text_.begin(), text_.end(), '\r'), text_.end());
        return text_;
    }

private:
    std::FILE* file_ = nullptr;
    int saved_ = -1;
    std::string text_;
};

// Collects debugger lines for as long as it lives.
class DebugCapture {
public:
    DebugCapture() {
        lines().clear();
        previous_ = setDebugOutput(&collect);
    }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;
    ~DebugCapture() { setDebugOutput(previous_); }

    static std::vector<std::u16string>& lines() {
        static std::vector<std::u16string> collected;
        return collected;
    }

private:
    static void collect(const OLECHAR* line) { lines().emplace_back(reinterpret_cast<const char16_t*>(line)); }
    DebugOutput previous_;
};

// Test literals are written once, as UTF-16, whatever OLECHAR is on the platform.
inline const OLECHAR* ole(const std::u16string& text) { return reinterpret_cast<const OLECHAR*>(text.c_str()); }
