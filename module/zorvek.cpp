// The Python module: the three queries, bound as they are. Every call holds the interpreter's lock
// from start to end, which is what serialises the scans.
#include <pybind11/pybind11.h>

#include "device_info.h"

PYBIND11_MODULE(Zorvek, m) {
    m.def("getDeviceInfo", &getDeviceInfo, "getDeviceInfo");
    m.def("getDeviceCount", &getDeviceCount, "getDeviceCount");
    m.def("getDeviceListInfo", &getDeviceListInfo, "getDeviceListInfo");
}
