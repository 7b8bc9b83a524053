// The scan and the queries over scripted devices: what one walk costs per device, and how many walks
// each query makes. The stand-in's own work (a COM object per device, a BSTR per property read) is
// included, as the real enumerator's would be.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "device_info.h"
#include "scan.h"
#include "scripted_source.h"

namespace {

std::u16string cameraPath(const char16_t* ids, int n) {
    std::u16string number;
    for (int i = 0; i < 4; ++i, n /= 16) number.insert(number.begin(), u"0123456789abcdef"[n % 16]);
    return u"\\\\?\\usb#" + std::u16string(ids) + u"&mi_00#6&1a2b" + number +
           u"&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
}

// `count` cameras, every other one of the target model (the first one is), the rest another maker's.
scripted::Script cameras(int count) {
    scripted::Script script;
    for (int i = 0; i < count; ++i) {
        scripted::Device device;
        const bool target = i % 2 == 0;
        device.path = cameraPath(target ? u"vid_2560&pid_c0d6" : u"vid_046d&pid_0825", i);
        device.name = target ? u"Target Camera" : u"Other Camera";
        script.devices.push_back(device);
    }
    return script;
}

// Walks made per call, read from the scripted source's count of category enumerators.
void countWalks(benchmark::State& state, int devices) {
    const double walks = static_cast<double>(scripted::walks()) / static_cast<double>(state.iterations());
    state.counters["devices"] = devices;
    state.counters["walks_per_call"] = walks;
}

void scan(benchmark::State& state) {
    const int devices = static_cast<int>(state.range(0));
    scripted::setScript(cameras(devices));
    for (auto _ : state) benchmark::DoNotOptimize(initialize());
    countWalks(state, devices);
}
BENCHMARK(scan)->Arg(1)->Arg(8)->Arg(64)->Arg(256);

// Records for the first `n` of 16 target cameras among 32.
void listInfo(benchmark::State& state) {
    const auto records = static_cast<unsigned int>(state.range(0));
    const int devices = 32;
    scripted::setScript(cameras(devices));
    std::vector<DeviceInfo> list(records);
    for (auto _ : state) {
        const bool listed = getDeviceListInfo(records, list.data());
        if (!listed) state.SkipWithError("getDeviceListInfo failed");
        benchmark::ClobberMemory();
    }
    countWalks(state, devices);
}
BENCHMARK(listInfo)->Arg(1)->Arg(4)->Arg(16);

// The native side of the Python call overhead: the same script as bench/python_bench.py, one target.
void count(benchmark::State& state) {
    scripted::setScript(cameras(1));
    unsigned int devices = 0;
    for (auto _ : state) benchmark::DoNotOptimize(getDeviceCount(&devices));
    countWalks(state, 1);
}
BENCHMARK(count);

}  // namespace
