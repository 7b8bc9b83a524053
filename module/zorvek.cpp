// The Python module: the three queries, bound with their native parameter types, so the signatures
// are pybind11's own. Every call holds the interpreter's lock from start to end, which is what
// serialises the scans.
#include <pybind11/pybind11.h>

#include "device_info.h"
#include "held_records.h"

namespace {

// The list operation trusts its caller for `count` records behind `list`; from Python the records
// are those the instance holds.
bool getDeviceListInfoOfInstance(unsigned int count, DeviceInfo* list) {
    return getDeviceListInfoWithin(count, list, list != nullptr ? recordsHeldAt(list) : 0);
}

}  // namespace

PYBIND11_MODULE(Zorvek, m) {
    m.def("getDeviceInfo", &getDeviceInfo, "getDeviceInfo");
    m.def("getDeviceCount", &getDeviceCount, "getDeviceCount");
    m.def("getDeviceListInfo", &getDeviceListInfoOfInstance, "getDeviceListInfo");
}
