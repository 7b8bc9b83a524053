// zorvekcam._core: the listing that the package zorvekcam stands on. One walk per call, with the
// interpreter's lock released for all of it, and nothing written to standard output. Beside it, the
// platform's device events, which tell a watcher when a walk is due.
//
// Written against CPython's limited API, the stable ABI of 3.11 (the build defines Py_LIMITED_API),
// so that one file, _core.abi3.so (_core.pyd on Windows), loads in every CPython from 3.11 on. It
// shares nothing with Zorvek and zorvek_records, which stay on pybind11 and CPython 3.11.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if !defined(Py_LIMITED_API) || Py_LIMITED_API != 0x030B0000
#error "zorvekcam._core is built against the limited API of CPython 3.11: define Py_LIMITED_API=0x030B0000"
#endif

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <system_error>

#include "camera_modes.h"
#include "device_events.h"
#include "listing.h"

namespace {

// One reference owned, released when it goes out of scope unless handed on by release().
class Owned {
public:
    explicit Owned(PyObject* object) noexcept : object_(object) {}
    ~Owned() { Py_XDECREF(object_); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    explicit operator bool() const noexcept { return object_ != nullptr; }
    PyObject* get() const noexcept { return object_; }
    PyObject* release() noexcept {
        PyObject* object = object_;
        object_ = nullptr;
        return object;
    }

private:
    PyObject* object_;
};

// The interpreter's lock, released for the lifetime of this object, and taken back however the
// scope is left (an exception included).
class Unlocked {
public:
    Unlocked() noexcept : state_(PyEval_SaveThread()) {}
    ~Unlocked() { PyEval_RestoreThread(state_); }
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;

private:
    PyThreadState* state_;
};

// The C++ exception being handled, as a Python exception: a failed system call (std::system_error)
// is an OSError(errno, text), memory running out a MemoryError, anything else a RuntimeError.
void raiseCurrentException() noexcept {
    try {
        throw;
    } catch (const std::system_error& error) {
        if (PyObject* arguments = Py_BuildValue("(is)", error.code().value(), error.what())) {
            PyErr_SetObject(PyExc_OSError, arguments);
            Py_DECREF(arguments);
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "an unknown C++ exception");
    }
}

// Runs the body of a function that Python calls: no C++ exception crosses into the interpreter.
template <typename Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        raiseCurrentException();
        return nullptr;
    }
}

// Puts a new reference into a fresh tuple, which owns it from then on; false (an error set) when
// making it failed.
bool put(PyObject* tuple, Py_ssize_t at, PyObject* item) noexcept {
    if (item == nullptr) return false;
    PyTuple_SetItem(tuple, at, item);
    return true;
}

// Devices may report any 16-bit units, lone surrogates included: those read as U+FFFD, never as an
// error.
PyObject* text(const std::u16string& units) noexcept {
    const std::uint16_t probe = 1;
    int order = *reinterpret_cast<const unsigned char*>(&probe) == 1 ? -1 : 1;  // the machine's own
    return PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(units.data()),
                                 static_cast<Py_ssize_t>(units.size() * sizeof(char16_t)), "replace", &order);
}

PyObject* text(const std::optional<std::u16string>& units) noexcept {
    if (!units) Py_RETURN_NONE;
    return text(*units);
}

PyObject* utf8Text(const std::string& text) noexcept {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

// (name, vid, pid, path, index, serial, port, node, moniker)
PyObject* cameraTuple(const CameraEntry& camera) noexcept {
    Owned tuple(PyTuple_New(9));
    if (!tuple || !put(tuple.get(), 0, text(camera.name)) || !put(tuple.get(), 1, text(camera.vid)) ||
        !put(tuple.get(), 2, text(camera.pid)) || !put(tuple.get(), 3, text(camera.path)) ||
        !put(tuple.get(), 4, PyLong_FromUnsignedLong(camera.index)) || !put(tuple.get(), 5, text(camera.serial)) ||
        !put(tuple.get(), 6, text(camera.port)) || !put(tuple.get(), 7, text(camera.node)) ||
        !put(tuple.get(), 8, text(camera.moniker))) {
        return nullptr;
    }
    return tuple.release();
}

// None, or (step, HRESULT, None) where COM failed, (step, None, errno) where a system call did.
PyObject* failureTuple(const CameraListing& listing) noexcept {
    if (listing.failedStep == nullptr) Py_RETURN_NONE;
    if (listing.errnoValue != 0) return Py_BuildValue("(sOi)", listing.failedStep, Py_None, listing.errnoValue);
    return Py_BuildValue("(skO)", listing.failedStep,
                         static_cast<unsigned long>(static_cast<std::uint32_t>(listing.result)), Py_None);
}

PyObject* listingTuple(const CameraListing& listing, bool traced) noexcept {
    Owned cameras(PyList_New(0));
    if (!cameras) return nullptr;
    for (const CameraEntry& camera : listing.cameras) {
        Owned entry(cameraTuple(camera));
        if (!entry || PyList_Append(cameras.get(), entry.get()) != 0) return nullptr;
    }
    Owned result(PyTuple_New(3));
    if (!result || !put(result.get(), 0, cameras.release())) return nullptr;
    if (!put(result.get(), 1, traced ? utf8Text(listing.trace) : Py_NewRef(Py_None))) return nullptr;
    if (!put(result.get(), 2, failureTuple(listing))) return nullptr;
    return result.release();
}

// OpenCV's API preference for Media Foundation (cv2.CAP_MSMF): the one backend whose numbering is
// not the listing's own. 0 asks for the platform's own.
constexpr long kMediaFoundation = 1400;

PyObject* listCamerasForPython(PyObject*, PyObject* arguments, PyObject* keywords) noexcept {
    static const char* names[] = {"traced", "backend", nullptr};
    int traced = 0;
    long backend = 0;
    if (!PyArg_ParseTupleAndKeywords(arguments, keywords, "|pl:list_cameras", const_cast<char**>(names), &traced,
                                     &backend)) {
        return nullptr;
    }
#if defined(_WIN32)
    const bool known = backend == 0 || backend == kMediaFoundation;
#else
    const bool known = backend == 0;
#endif
    if (!known) {
        PyErr_Format(PyExc_ValueError,
                     "backend must be 0 (the platform's own numbering) or, on Windows, 1400 (Media Foundation's), "
                     "not %ld",
                     backend);
        return nullptr;
    }
    const CameraIndexing indexing =
        backend == kMediaFoundation ? CameraIndexing::MediaFoundation : CameraIndexing::Platform;
    return guarded([&]() -> PyObject* {
        CameraListing listing;
        {
            Unlocked unlocked;
            listing = listCameras(traced != 0, indexing);
        }
        return listingTuple(listing, traced != 0);
    });
}

// A FourCC as text, its first character in the low byte: printable ASCII as it is, any other byte (and
// the backslash, so that the text reads back one way only) as \xNN. "MJPG", "YUYV", "Y16 ".
std::string fourccText(std::uint32_t fourcc) {
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        const unsigned char byte = static_cast<unsigned char>(fourcc >> shift);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            text.push_back(static_cast<char>(byte));
        } else {
            text.append("\\x").push_back(hex[byte >> 4]);
            text.push_back(hex[byte & 0xF]);
        }
    }
    return text;
}

// (format, sizes, width, height, max_width, max_height, step_width, step_height, has_rate, rates,
//  numerator, denominator, max_numerator, max_denominator, step_numerator, step_denominator): spans
// as ModeSpan's values (0 discrete, 1 stepwise, 2 continuous), intervals in seconds per frame.
PyObject* modeTuple(const CameraMode& mode) {
    const std::string format = fourccText(mode.fourcc);
    return Py_BuildValue("(s#iIIIIIINiIIIIII)", format.data(), static_cast<Py_ssize_t>(format.size()),
                         static_cast<int>(mode.sizes), mode.width, mode.height, mode.maxWidth, mode.maxHeight,
                         mode.stepWidth, mode.stepHeight, PyBool_FromLong(mode.hasRate), static_cast<int>(mode.rates),
                         mode.interval.numerator, mode.interval.denominator, mode.maxInterval.numerator,
                         mode.maxInterval.denominator, mode.stepInterval.numerator, mode.stepInterval.denominator);
}

bool fraction(const FrameInterval& interval) { return interval.numerator != 0 && interval.denominator != 0; }

// What Python turns into fractions never divides by 0, whatever a backend let through.
bool usable(const CameraMode& mode) {
    const auto sizes = static_cast<unsigned>(mode.sizes);
    const auto rates = static_cast<unsigned>(mode.rates);
    if (sizes > 2 || rates > 2) return false;
    if (!mode.hasRate) return true;
    return fraction(mode.interval) && (mode.rates == ModeSpan::Discrete || fraction(mode.maxInterval)) &&
           (mode.rates != ModeSpan::Stepwise || fraction(mode.stepInterval));
}

PyObject* modesForPython(PyObject*, PyObject* arguments, PyObject* keywords) noexcept {
    static const char* names[] = {"source", nullptr};
    PyObject* source = nullptr;
    if (!PyArg_ParseTupleAndKeywords(arguments, keywords, "U:modes", const_cast<char**>(names), &source)) {
        return nullptr;
    }
    Owned units(PyUnicode_AsEncodedString(source, "utf-16-le", "strict"));
    if (!units) return nullptr;
    char* bytes = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(units.get(), &bytes, &size) != 0) return nullptr;
    return guarded([&]() -> PyObject* {
        std::u16string wide(static_cast<std::size_t>(size) / 2, u'\0');
        for (std::size_t i = 0; i < wide.size(); ++i) {
            const auto low = static_cast<unsigned char>(bytes[2 * i]);
            const auto high = static_cast<unsigned char>(bytes[2 * i + 1]);
            wide[i] = static_cast<char16_t>(low | high << 8);
        }
        if (wide.empty() || wide.find(u'\0') != std::u16string::npos) {
            PyErr_SetString(PyExc_ValueError, "source must be a device's node or moniker, without null characters");
            return nullptr;
        }
        ModeReading reading;
        {
            Unlocked unlocked;
            reading = readCameraModes(wide);
        }
        Owned modes(PyList_New(0));
        if (!modes) return nullptr;
        for (const CameraMode& mode : reading.modes) {
            if (!usable(mode)) continue;
            Owned entry(modeTuple(mode));
            if (!entry || PyList_Append(modes.get(), entry.get()) != 0) return nullptr;
        }
        PyObject* failure = Py_NewRef(Py_None);
        if (!reading.failedStep.empty()) {
            Py_DECREF(failure);
#ifdef _WIN32
            failure = Py_BuildValue("(Nk)", utf8Text(reading.failedStep),
                                    static_cast<unsigned long>(static_cast<std::uint32_t>(reading.error)));
#else
            failure = Py_BuildValue("(Ni)", utf8Text(reading.failedStep), static_cast<int>(reading.error));
#endif
        }
        Owned result(PyTuple_New(2));
        if (!result || !put(result.get(), 0, modes.release()) || !put(result.get(), 1, failure)) return nullptr;
        return result.release();
    });
}

// The device events for Python. A wait runs with the interpreter's lock released and holds its own
// reference to the events, so that a close() from another thread meanwhile cannot pull them away
// from under it (they close when the wait returns).
struct Monitor {
    PyObject_HEAD
    std::shared_ptr<DeviceEvents> events;  // null once closed
};

Monitor* monitorOf(PyObject* self) noexcept { return reinterpret_cast<Monitor*>(self); }

// The events of an open monitor; null, with ValueError set, once it is closed.
std::shared_ptr<DeviceEvents> live(PyObject* self) noexcept {
    std::shared_ptr<DeviceEvents> events = monitorOf(self)->events;
    if (!events) PyErr_SetString(PyExc_ValueError, "the monitor is closed");
    return events;
}

PyObject* monitorNew(PyTypeObject* type, PyObject* arguments, PyObject* keywords) noexcept {
    static const char* names[] = {"source", nullptr};
    PyObject* source = nullptr;
    if (!PyArg_ParseTupleAndKeywords(arguments, keywords, "|U:Monitor", const_cast<char**>(names), &source)) {
        return nullptr;
    }
    Py_ssize_t size = 0;
    const char* chosen = source == nullptr ? "" : PyUnicode_AsUTF8AndSize(source, &size);
    if (chosen == nullptr) return nullptr;
    auto allocate = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    Owned self(allocate(type, 0));
    if (!self) return nullptr;
    new (&monitorOf(self.get())->events) std::shared_ptr<DeviceEvents>();
    return guarded([&]() -> PyObject* {
        std::string why;
        monitorOf(self.get())->events = DeviceEvents::open(std::string(chosen, static_cast<std::size_t>(size)), why);
        if (!monitorOf(self.get())->events) {
            PyErr_SetString(PyExc_OSError, why.c_str());
            return nullptr;
        }
        return self.release();
    });
}

void monitorDealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    monitorOf(self)->events.~shared_ptr();
    reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
    Py_DECREF(type);  // an instance of a heap type holds a reference to it
}

PyObject* monitorFileno(PyObject* self, PyObject*) noexcept {
    const std::shared_ptr<DeviceEvents> events = live(self);
    if (!events) return nullptr;
    const int descriptor = events->descriptor();
    if (descriptor < 0) Py_RETURN_NONE;
    return PyLong_FromLong(descriptor);
}

PyObject* monitorWait(PyObject* self, PyObject* arguments, PyObject* keywords) noexcept {
    static const char* names[] = {"timeout", nullptr};
    PyObject* given = Py_None;
    if (!PyArg_ParseTupleAndKeywords(arguments, keywords, "|O:wait", const_cast<char**>(names), &given)) {
        return nullptr;
    }
    std::optional<double> timeout;
    if (given != Py_None) {
        timeout = PyFloat_AsDouble(given);
        if (*timeout == -1.0 && PyErr_Occurred()) return nullptr;
        if (!(*timeout >= 0)) {
            PyErr_SetString(PyExc_ValueError, "timeout must be a number of seconds, at least 0");
            return nullptr;
        }
    }
    const std::shared_ptr<DeviceEvents> events = live(self);
    if (!events) return nullptr;
    return guarded([&]() -> PyObject* {
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
                Unlocked unlocked;
                got = events->wait(milliseconds);
            }
            if (got > 0) Py_RETURN_TRUE;
            // Ran out, unless a timeout too long for one wait is being waited in parts.
            if (got == 0 && (!timeout || elapsed() >= *timeout)) Py_RETURN_FALSE;
            // Back early for a signal: its handler runs now (Ctrl-C raises KeyboardInterrupt here).
            if (got < 0 && PyErr_CheckSignals() != 0) return nullptr;
        }
    });
}

PyObject* monitorDrain(PyObject* self, PyObject*) noexcept {
    const std::shared_ptr<DeviceEvents> events = live(self);
    if (!events) return nullptr;
    return guarded([&]() -> PyObject* {
        Owned taken(PyList_New(0));
        if (!taken) return nullptr;
        for (const DeviceEvent& event : events->drain()) {
            Owned pair(PyTuple_New(2));
            if (!pair || !put(pair.get(), 0, utf8Text(event.action)) || !put(pair.get(), 1, utf8Text(event.name)) ||
                PyList_Append(taken.get(), pair.get()) != 0) {
                return nullptr;
            }
        }
        return taken.release();
    });
}

PyObject* monitorClose(PyObject* self, PyObject*) noexcept {
    monitorOf(self)->events.reset();
    Py_RETURN_NONE;
}

// Functions that take keywords are called with them; the cast says so to the method table.
template <typename Function>
PyCFunction method(Function function) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// The signatures before "--" are what inspect.signature() and help() show.
PyMethodDef monitorMethods[] = {
    {"fileno", monitorFileno, METH_NOARGS,
     "fileno($self, /)\n--\n\nthe descriptor that is readable while events wait; None on Windows"},
    {"wait", method(monitorWait), METH_VARARGS | METH_KEYWORDS,
     "wait($self, /, timeout=None)\n--\n\n"
     "whether events came within timeout seconds (None: no limit); the interpreter's lock is released"},
    {"drain", monitorDrain, METH_NOARGS,
     "drain($self, /)\n--\n\nthe events waiting, oldest first, as (action, name); never blocks"},
    {"close", monitorClose, METH_NOARGS,
     "close($self, /)\n--\n\ncloses the monitor; a wait in another thread closes it when it returns"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot monitorSlots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Monitor(source='')\n--\n\n"
                    "The platform's device events of video devices; OSError, saying why, where they cannot be had.\n\n"
                    "Linux: source \"udev\" or \"kernel\" (libudev's netlink sources); empty: udev's where it runs")},
    {Py_tp_new, reinterpret_cast<void*>(monitorNew)},
    {Py_tp_dealloc, reinterpret_cast<void*>(monitorDealloc)},
    {Py_tp_methods, monitorMethods},
    {0, nullptr},
};

// Subclassable, as a class of Python's own is.
PyType_Spec monitorSpec = {"zorvekcam._core.Monitor", sizeof(Monitor), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
                           monitorSlots};

PyMethodDef functions[] = {
    {"list_cameras", method(listCamerasForPython), METH_VARARGS | METH_KEYWORDS,
     "list_cameras($module, /, traced=False, backend=0)\n--\n\n"
     "(cameras, trace, failure): cameras as (name, vid, pid, path, index, serial, port, node, moniker) tuples; "
     "trace the walk's trace text when traced, else None; failure None, or (step, HRESULT, None) when a COM call "
     "failed, (step, None, errno) when a system call did. backend 0: the platform's own index; 1400 (Windows "
     "only): Media Foundation's, leaving out the cameras it does not list"},
    {"modes", method(modesForPython), METH_VARARGS | METH_KEYWORDS,
     "modes($module, /, source)\n--\n\n"
     "(modes, failure): the modes of the camera at source (its node on Linux, its moniker on Windows), read "
     "with the interpreter's lock released, as (format, sizes, width, height, max_width, max_height, step_width, "
     "step_height, has_rate, rates, numerator, denominator, max_numerator, max_denominator, step_numerator, "
     "step_denominator) tuples (spans 0 discrete, 1 stepwise, 2 continuous; intervals in seconds per frame); "
     "failure None, or (step, errno) on Linux, (step, HRESULT) on Windows, when the device could not be read"},
    {nullptr, nullptr, 0, nullptr},
};

int initialise(PyObject* module) noexcept {
    Owned monitor(PyType_FromSpec(&monitorSpec));
    if (!monitor || PyModule_AddObjectRef(module, "Monitor", monitor.get()) != 0) return -1;
    return PyModule_AddStringConstant(module, "VERSION", ZORVEK_VERSION);
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(initialise)},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "_core",
    "The native core of zorvekcam: one walk over the video input devices",
    0,
    functions,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__core() { return PyModuleDef_Init(&definition); }
