// One scan over the machine's video4linux nodes, beside the floor: a bare reader that makes exactly
// the file-system calls one scan needs and nothing else (no COM objects, no wide text, no trace).
// Run it where the nodes are fake (bench/sysfs_compare.py sets up umockdev and runs this program);
// on a machine without nodes every benchmark reports an error instead of a number.
//
// What one scan asks of the system, which the floor repeats:
//   opendir/readdir of /sys/class/video4linux;
//   per node: open /dev/<node>, VIDIOC_QUERYCAP, close (does it capture video?), and only where that
//   gets no answer, its index attribute;
//   per capturing node, for its "DevicePath": readlink of its class entry, then idVendor and
//   idProduct of the USB device it hangs under, each an open, a read and a close.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <ctime>
#include <string>
#include <vector>

#include "scan.h"
#include "sysfs_node.h"

namespace {

constexpr char kClass[] = "/sys/class/video4linux/";

std::vector<std::string> listNodes() {
    std::vector<std::string> nodes;
    DIR* directory = opendir(kClass);
    if (directory == nullptr) return nodes;
    while (const dirent* entry = readdir(directory)) {
        if (std::string(entry->d_name).rfind("video", 0) == 0) nodes.emplace_back(entry->d_name);
    }
    closedir(directory);
    return nodes;
}

// The first bytes of an attribute ("" when it cannot be read).
std::string readAttribute(const std::string& path) {
    char buffer[4096];
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    const ssize_t got = read(fd, buffer, sizeof buffer);
    close(fd);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
}

// A node that does not answer counts when its index is 0, as the source has it; the source's own
// reading of the capability bits (no system call in it) decides for one that does.
bool capturesVideo(const std::string& node) {
    v4l2_capability capability{};
    const int fd = open(("/dev/" + node).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const bool answered = fd >= 0 && ioctl(fd, VIDIOC_QUERYCAP, &capability) == 0;
    if (fd >= 0) close(fd);
    if (answered) return sysfs::capturesVideo(capability.capabilities, capability.device_caps);
    return readAttribute(kClass + node + "/index") == "0\n";
}

// The USB IDs of a capturing node: its class entry links to
// ../../devices/.../<usb device>/<interface>/video4linux/<node>.
void readIds(const std::string& node) {
    char target[4096];
    const ssize_t got = readlink((kClass + node).c_str(), target, sizeof target);
    if (got <= 0) return;
    std::string usb(target, static_cast<std::size_t>(got));
    for (int up = 0; up < 3; ++up) usb.erase(usb.rfind('/'));
    benchmark::DoNotOptimize(readAttribute(kClass + usb + "/idVendor"));
    benchmark::DoNotOptimize(readAttribute(kClass + usb + "/idProduct"));
}

bool haveNodes(benchmark::State& state, std::size_t& nodes) {
    nodes = listNodes().size();
    if (nodes == 0) state.SkipWithError("no video4linux nodes: run me under bench/sysfs_compare.py");
    return nodes != 0;
}

// One pass of the floor, or of one of its two parts: the device queries (listing and
// VIDIOC_QUERYCAP only) or the sysfs reads (listing, and the IDs of the capturing nodes found once
// beforehand).
enum class Part { All, DeviceQueries, SysfsReads };

void floorOnce(Part part, const std::vector<std::string>& capturing) {
    const std::vector<std::string> listed = listNodes();
    benchmark::DoNotOptimize(listed.data());
    if (part == Part::SysfsReads) {
        for (const std::string& node : capturing) readIds(node);
        return;
    }
    for (const std::string& node : listed) {
        if (capturesVideo(node) && part == Part::All) readIds(node);
    }
}

std::vector<std::string> capturingNodes() {
    std::vector<std::string> capturing;
    for (const std::string& node : listNodes()) {
        if (capturesVideo(node)) capturing.push_back(node);
    }
    return capturing;
}

void walk(benchmark::State& state) {
    std::size_t nodes = 0;
    if (!haveNodes(state, nodes)) return;
    for (auto _ : state) benchmark::DoNotOptimize(initialize());
    state.counters["nodes"] = static_cast<double>(nodes);
}

void floorReader(benchmark::State& state, Part part) {
    std::size_t nodes = 0;
    if (!haveNodes(state, nodes)) return;
    const std::vector<std::string> capturing = capturingNodes();
    for (auto _ : state) floorOnce(part, capturing);
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["capturing"] = static_cast<double>(capturing.size());
}

struct Sample {
    double seconds;  // wall clock
    double cpu;      // this thread's processor time: the waits for the device answers left out
};

template <class Work>
Sample measure(Work&& work) {
    timespec wall0{}, cpu0{}, wall1{}, cpu1{};
    clock_gettime(CLOCK_MONOTONIC, &wall0);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
    work();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
    clock_gettime(CLOCK_MONOTONIC, &wall1);
    const auto seconds = [](const timespec& a, const timespec& b) {
        return static_cast<double>(b.tv_sec - a.tv_sec) + static_cast<double>(b.tv_nsec - a.tv_nsec) * 1e-9;
    };
    return {seconds(wall0, wall1), seconds(cpu0, cpu1)};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The scan and the floor in turns, each iteration one of each (which goes first alternates), so
// that both meet the same load on a shared machine: the ratio is the median of the iterations'
// ratios, which a burst of load in one iteration does not move.
void scanOverFloor(benchmark::State& state) {
    std::size_t nodes = 0;
    if (!haveNodes(state, nodes)) return;
    const std::vector<std::string> capturing = capturingNodes();
    std::vector<double> walks, floors, ratios, cpuRatios;
    for (auto _ : state) {
        Sample scan{}, bare{};
        if (walks.size() % 2 == 0) {
            scan = measure([] { benchmark::DoNotOptimize(initialize()); });
            bare = measure([&] { floorOnce(Part::All, capturing); });
        } else {
            bare = measure([&] { floorOnce(Part::All, capturing); });
            scan = measure([] { benchmark::DoNotOptimize(initialize()); });
        }
        walks.push_back(scan.seconds);
        floors.push_back(bare.seconds);
        ratios.push_back(scan.seconds / bare.seconds);
        cpuRatios.push_back(scan.cpu / bare.cpu);
    }
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["targets_found"] = static_cast<double>(std::bitset<32>(deviceMask).count());
    state.counters["walk_s"] = median(walks);
    state.counters["floor_s"] = median(floors);
    state.counters["ratio"] = median(ratios);
    state.counters["cpu_ratio"] = median(cpuRatios);
}

}  // namespace

BENCHMARK(scanOverFloor)->MinTime(2.0)->UseRealTime();
BENCHMARK(walk)->UseRealTime();
BENCHMARK_CAPTURE(floorReader, all, Part::All)->Name("floor")->UseRealTime();
BENCHMARK_CAPTURE(floorReader, device_queries, Part::DeviceQueries)->Name("floor_device_queries")->UseRealTime();
BENCHMARK_CAPTURE(floorReader, sysfs_reads, Part::SysfsReads)->Name("floor_sysfs_reads")->UseRealTime();
