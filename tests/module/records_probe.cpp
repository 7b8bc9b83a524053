// Stands in, for the Python tests, for some other extension that also knows DeviceInfo: a class of
// its own for one record (module-local, so it can live beside the records module's global class),
// and a way to put any bytes at all into a record of whichever class is registered globally.
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "device_info.h"

namespace py = pybind11;

PYBIND11_MODULE(records_probe, m) {
    py::class_<DeviceInfo>(m, "DeviceInfo", py::module_local())
        .def(py::init<>())
        .def_property_readonly("raw", [](const DeviceInfo& record) {
            return py::bytes(reinterpret_cast<const char*>(&record), sizeof record);
        });

    // This module's own class would win the conversion of a DeviceInfo parameter, so the globally
    // registered one is asked for by name.
    m.def("write_global", [](py::handle record, const std::string& bytes) {
        py::detail::type_caster_generic caster(py::detail::get_global_type_info(typeid(DeviceInfo)));
        if (!caster.load(record, false) || caster.value == nullptr) {
            throw py::type_error("not a record of the globally registered DeviceInfo class");
        }
        std::memcpy(caster.value, bytes.data(), (std::min)(bytes.size(), sizeof(DeviceInfo)));
    });
}
