// The matching rule on one path, as each walk applies it to every device: with the trace off (the
// record walk) and on (the scan, writing its progress texts to /dev/null).
#include <benchmark/benchmark.h>

#include <string>

#include "match.h"

namespace {

// A composite USB camera's interface as the system lists it: 95 units.
const std::u16string kTypical =
    u"\\\\?\\usb#vid_2560&pid_c0d6&mi_00#6&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
const std::u16string kShort = u"\\\\?\\usb#vid_2560&pid_c0d6";
// Longer than the walk's 260-unit buffer: copied and upper-cased up to the cut.
const std::u16string kLong = kTypical + u"\\" + std::u16string(300 - kTypical.size() - 1, u'x');
// A software camera: no "VID_" or "PID_" anywhere, so both searches run to the end.
const std::u16string kNoIds =
    u"\\\\?\\swd#vcamdevapi#{6f4e8c2b-2a59-4c1d-9e53-3e1cf4a7b6d9}#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

void match(benchmark::State& state, const std::u16string& path, bool traced) {
    WalkState walk{};
    std::uint8_t slot = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(matchDevicePath(walk, path.c_str(), traced, slot));
        benchmark::ClobberMemory();
    }
    state.counters["units"] = static_cast<double>(path.size());
}

}  // namespace

BENCHMARK_CAPTURE(match, short, kShort, false);
BENCHMARK_CAPTURE(match, typical, kTypical, false);
BENCHMARK_CAPTURE(match, long, kLong, false);
BENCHMARK_CAPTURE(match, no_ids, kNoIds, false);
BENCHMARK_CAPTURE(match, typical_traced, kTypical, true);
