// Records for the tests that drive the shipped module from Python: registers DeviceInfo for every
// module in the process, and shows each field's bytes. A new record is filled with '#', so that
// the tests see which bytes a call wrote.
#include <pybind11/pybind11.h>

#include <cstring>

#include "device_info.h"

namespace py = pybind11;

PYBIND11_MODULE(sysfs_records, m) {
    py::class_<DeviceInfo>(m, "DeviceInfo")
        .def(py::init([] {
            auto* record = new DeviceInfo;
            std::memset(record, '#', sizeof *record);
            return record;
        }))
        .def("fields", [](const DeviceInfo& r) {
            return py::make_tuple(py::bytes(r.friendlyName, sizeof r.friendlyName), py::bytes(r.vid, sizeof r.vid),
                                  py::bytes(r.pid, sizeof r.pid), py::bytes(r.devicePath, sizeof r.devicePath));
        });
}
