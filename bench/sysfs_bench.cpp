// One scan over the machine's video4linux nodes, beside the floor: a bare reader that makes exactly
// the file-system calls one scan needs and nothing else (no COM objects, no wide text, no trace).
// Run it where the nodes are fake (bench/sysfs_compare.py sets up umockdev and runs this program);
// on a machine without nodes every benchmark reports an error instead of a number.
//
// What one scan asks of the system, which the floor repeats:
//   opendir/readdir of /sys/class/video4linux;
//   per node: open /dev/<node>, VIDIOC_QUERYCAP, close (does it capture video?);
//   per capturing node, for its "DevicePath": readlink of its class entry, then idVendor and
//   idProduct of the USB device it hangs under, each an open, a read and a close.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "scan.h"

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

bool capturesVideo(const std::string& node) {
    const int fd = open(("/dev/" + node).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    v4l2_capability capability{};
    const int asked = ioctl(fd, VIDIOC_QUERYCAP, &capability);
    close(fd);
    return asked == 0 && (capability.device_caps & V4L2_CAP_VIDEO_CAPTURE) != 0;
}

void readAttribute(const std::string& path) {
    char buffer[4096];
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    benchmark::DoNotOptimize(read(fd, buffer, sizeof buffer));
    close(fd);
}

// The USB IDs of a capturing node: its class entry links to
// ../../devices/.../<usb device>/<interface>/video4linux/<node>.
void readIds(const std::string& node) {
    char target[4096];
    const ssize_t got = readlink((kClass + node).c_str(), target, sizeof target);
    if (got <= 0) return;
    std::string usb(target, static_cast<std::size_t>(got));
    for (int up = 0; up < 3; ++up) usb.erase(usb.rfind('/'));
    readAttribute(kClass + usb + "/idVendor");
    readAttribute(kClass + usb + "/idProduct");
}

bool haveNodes(benchmark::State& state, std::size_t& nodes) {
    nodes = listNodes().size();
    if (nodes == 0) state.SkipWithError("no video4linux nodes: run me under bench/sysfs_compare.py");
    return nodes != 0;
}

void walk(benchmark::State& state) {
    std::size_t nodes = 0;
    if (!haveNodes(state, nodes)) return;
    for (auto _ : state) benchmark::DoNotOptimize(initialize());
    state.counters["nodes"] = static_cast<double>(nodes);
}

// The whole floor, or one of its two parts: the device queries (listing and VIDIOC_QUERYCAP only)
// or the sysfs reads (listing, and the IDs of the capturing nodes found once beforehand).
enum class Part { All, DeviceQueries, SysfsReads };

void floorReader(benchmark::State& state, Part part) {
    std::size_t nodes = 0;
    if (!haveNodes(state, nodes)) return;
    std::vector<std::string> capturing;
    for (const std::string& node : listNodes()) {
        if (capturesVideo(node)) capturing.push_back(node);
    }
    for (auto _ : state) {
        const std::vector<std::string> listed = listNodes();
        benchmark::DoNotOptimize(listed.data());
        if (part == Part::SysfsReads) {
            for (const std::string& node : capturing) readIds(node);
            continue;
        }
        for (const std::string& node : listed) {
            if (capturesVideo(node) && part == Part::All) readIds(node);
        }
    }
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["capturing"] = static_cast<double>(capturing.size());
}

}  // namespace

BENCHMARK(walk)->UseRealTime();
BENCHMARK_CAPTURE(floorReader, all, Part::All)->Name("floor")->UseRealTime();
BENCHMARK_CAPTURE(floorReader, device_queries, Part::DeviceQueries)->Name("floor_device_queries")->UseRealTime();
BENCHMARK_CAPTURE(floorReader, sysfs_reads, Part::SysfsReads)->Name("floor_sysfs_reads")->UseRealTime();
