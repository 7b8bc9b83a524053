// zorvekcam._core: the listing that the package zorvekcam stands on. One walk per call, with the
// interpreter's lock released for all of it, and nothing written to standard output.
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>

#include "listing.h"

namespace py = pybind11;

namespace {

// Devices may report any 16-bit units, lone surrogates included: those read as U+FFFD, never as an
// error.
py::str text(const std::u16string& units) {
    const std::uint16_t probe = 1;
    int order = *reinterpret_cast<const unsigned char*>(&probe) == 1 ? -1 : 1;  // the machine's own
    PyObject* decoded = PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(units.data()),
                                              static_cast<Py_ssize_t>(units.size() * sizeof(char16_t)), "replace", &order);
    if (decoded == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(decoded);
}

py::object text(const std::optional<std::u16string>& units) { return units ? py::object(text(*units)) : py::none(); }

py::tuple listCamerasForPython(bool traced) {
    CameraListing listing;
    {
        py::gil_scoped_release unlocked;
        listing = listCameras(traced);
    }
    py::list cameras;
    for (const CameraEntry& camera : listing.cameras) {
        cameras.append(py::make_tuple(text(camera.name), text(camera.vid), text(camera.pid), text(camera.path),
                                      camera.index, text(camera.serial), text(camera.port)));
    }
    py::object failure = py::none();
    if (listing.failedStep != nullptr) {
        failure = py::make_tuple(listing.failedStep, static_cast<std::uint32_t>(listing.result));
    }
    py::object trace = traced ? py::object(py::str(listing.trace)) : py::none();
    return py::make_tuple(cameras, trace, failure);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "The native core of zorvekcam: one walk over the video input devices";
    m.attr("VERSION") = ZORVEK_VERSION;
    m.def("list_cameras", &listCamerasForPython, py::arg("traced") = false,
          "(cameras, trace, failure): cameras as (name, vid, pid, path, index, serial, port) tuples; trace the "
          "walk's trace text when traced, else None; failure None, or (step, HRESULT) when the enumeration failed");
}
