// zorvekcam._core: the listing that the package zorvekcam stands on. One walk per call, with the
// interpreter's lock released for all of it, and nothing written to standard output. Beside it, the
// platform's device events, which tell a watcher when a walk is due.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "device_events.h"
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

py::str utf8Text(const std::string& text) {
    PyObject* decoded = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (decoded == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(decoded);
}

// The device events for Python. A wait runs with the interpreter's lock released and holds its own
// reference to the events, so that a close() from another thread meanwhile cannot pull them away
// from under it (they close when the wait returns).
class Monitor {
public:
    explicit Monitor(const std::string& source) {
        std::string why;
        events_ = DeviceEvents::open(source, why);
        if (!events_) {
            PyErr_SetString(PyExc_OSError, why.c_str());
            throw py::error_already_set();
        }
    }

    py::object fileno() const {
        const int descriptor = live()->descriptor();
        return descriptor < 0 ? py::object(py::none()) : py::object(py::int_(descriptor));
    }

    bool wait(std::optional<double> timeout) {
        if (timeout && !(*timeout >= 0)) throw py::value_error("timeout must be a number of seconds, at least 0");
        const std::shared_ptr<DeviceEvents> events = live();
        const auto started = std::chrono::steady_clock::now();
        auto elapsed = [&] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        };
        for (;;) {
            int milliseconds = -1;
            if (timeout) {
                const double left = std::max(0.0, *timeout - elapsed()) * 1000;
                milliseconds = static_cast<int>(std::min(std::ceil(left), static_cast<double>(INT_MAX)));
            }
            int got = 0;
            {
                py::gil_scoped_release unlocked;
                got = events->wait(milliseconds);
            }
            if (got > 0) return true;
            // Ran out, unless a timeout too long for one wait is being waited in parts.
            if (got == 0 && (!timeout || elapsed() >= *timeout)) return false;
            // Back early for a signal: its handler runs now (Ctrl-C raises KeyboardInterrupt here).
            if (got < 0 && PyErr_CheckSignals() != 0) throw py::error_already_set();
        }
    }

    py::list drain() {
        py::list taken;
        for (const DeviceEvent& event : live()->drain()) {
            taken.append(py::make_tuple(utf8Text(event.action), utf8Text(event.name)));
        }
        return taken;
    }

    void close() { events_.reset(); }

private:
    std::shared_ptr<DeviceEvents> live() const {
        if (!events_) throw py::value_error("the monitor is closed");
        return events_;
    }

    std::shared_ptr<DeviceEvents> events_;
};

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "The native core of zorvekcam: one walk over the video input devices";
    m.attr("VERSION") = ZORVEK_VERSION;
    m.def("list_cameras", &listCamerasForPython, py::arg("traced") = false,
          "(cameras, trace, failure): cameras as (name, vid, pid, path, index, serial, port) tuples; trace the "
          "walk's trace text when traced, else None; failure None, or (step, HRESULT) when the enumeration failed");

    // This module's own: the translators of the modules that share pybind11's internals stay as they are.
    py::register_local_exception_translator([](std::exception_ptr raised) {
        try {
            if (raised) std::rethrow_exception(raised);
        } catch (const std::system_error& error) {
            PyErr_SetObject(PyExc_OSError, py::make_tuple(error.code().value(), error.what()).ptr());
        }
    });
    py::class_<Monitor>(m, "Monitor",
                        "The platform's device events of video devices; OSError, saying why, where they cannot be had")
        .def(py::init<const std::string&>(), py::arg("source") = "",
             "Linux: source \"udev\" or \"kernel\" (libudev's netlink sources); empty: udev's where it runs")
        .def("fileno", &Monitor::fileno, "the descriptor that is readable while events wait; None on Windows")
        .def("wait", &Monitor::wait, py::arg("timeout") = py::none(),
             "whether events came within timeout seconds (None: no limit); the interpreter's lock is released")
        .def("drain", &Monitor::drain, "the events waiting, oldest first, as (action, name); never blocks")
        .def("close", &Monitor::close, "closes the monitor; a wait in another thread closes it when it returns");
}
