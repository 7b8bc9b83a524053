// The Python module: the three queries, bound with their native parameter types, so the signatures
// are pybind11's own. Every call holds the interpreter's lock from start to end, which is what
// serialises the scans.
#include <pybind11/pybind11.h>

#include <cstdio>

#include "device_info.h"
#include "held_records.h"

namespace {

// The list operation trusts its caller for `count` records behind `list`; from Python the records
// are those the instance holds. Past them the list ends as the native loop ends at a record whose
// device fails: "other issue" and false, the records before it filled.
bool getDeviceListInfoWithinHeld(unsigned int count, DeviceInfo* list) {
    const std::size_t held = list != nullptr ? recordsHeldAt(list) : count;
    if (count <= held) return getDeviceListInfo(count, list);
    if (!getDeviceListInfo(static_cast<unsigned int>(held), list)) return false;
    std::printf("%s", "other issue");
    return false;
}

}  // namespace

PYBIND11_MODULE(Zorvek, m) {
    m.def("getDeviceInfo", &getDeviceInfo, "getDeviceInfo");
    m.def("getDeviceCount", &getDeviceCount, "getDeviceCount");
    m.def("getDeviceListInfo", &getDeviceListInfoWithinHeld, "getDeviceListInfo");
}
