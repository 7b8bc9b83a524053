// zorvek_records: DeviceInfo records that Python code can create, hand to Zorvek's getDeviceInfo and
// getDeviceListInfo, and read back. Zorvek itself registers no class, so its record parameters
// accept only a class that another extension registers for DeviceInfo: this one, registered with
// pybind11 globally (not module-local) so that Zorvek's conversion finds it, None included.
//
//   records = zorvek_records.DeviceInfo(3)      three consecutive zeroed records
//   Zorvek.getDeviceListInfo(3, records)
//   records[0].friendlyName, records[0].bytes("vid"), records[0].raw
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "device_info.h"
#include "held_records.h"

namespace py = pybind11;

namespace {

// Frees what an instance owns the way it was made: an array of `count` records made here, or one
// record (count 0) that pybind11 took over from some other extension's function.
struct RecordsDelete {
    std::size_t count = 0;
    void operator()(DeviceInfo* records) const noexcept {
        if (count != 0) {
            delete[] records;
        } else {
            delete records;
        }
    }
};
using RecordsHolder = std::unique_ptr<DeviceInfo, RecordsDelete>;

const py::detail::type_info* g_recordsType = nullptr;  // set once the class is registered

// The records an instance of the class holds at its address: as many as it was made with; one when it
// wraps a record made elsewhere; none when it was never initialised. `instance` may be any object.
std::size_t heldBy(PyObject* instance, const DeviceInfo*& records) {
    records = nullptr;
    if (g_recordsType == nullptr || !PyObject_TypeCheck(instance, g_recordsType->type)) return 0;
    const py::detail::value_and_holder found =
        reinterpret_cast<py::detail::instance*>(instance)->get_value_and_holder(g_recordsType, false);
    if (found.inst == nullptr || found.value_ptr() == nullptr) return 0;
    records = found.value_ptr<DeviceInfo>();
    if (!found.holder_constructed()) return 1;
    return (std::max<std::size_t>)(found.holder<RecordsHolder>().get_deleter().count, 1);
}

std::size_t recordsAt(PyObject* instance, const void* address) {
    const DeviceInfo* records = nullptr;
    const std::size_t held = heldBy(instance, records);
    return records == address ? held : 0;
}

const HeldRecordsQuery kQuery{kHeldRecordsVersion, &recordsAt};

[[noreturn]] void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

RecordsHolder makeRecords(const py::int_& count) {
    const std::string shown = py::str(static_cast<py::handle>(count));
    int overflow = 0;
    const long long wanted = PyLong_AsLongLongAndOverflow(count.ptr(), &overflow);
    if (overflow < 0 || (overflow == 0 && wanted < 1)) {
        raise(PyExc_ValueError, "a DeviceInfo holds at least one record, not " + shown);
    }
    constexpr auto most = static_cast<unsigned long long>(PY_SSIZE_T_MAX) / sizeof(DeviceInfo);
    DeviceInfo* records = nullptr;
    if (overflow == 0 && static_cast<unsigned long long>(wanted) <= most) {
        records = new (std::nothrow) DeviceInfo[static_cast<std::size_t>(wanted)]();
    }
    if (records == nullptr) {
        raise(PyExc_MemoryError, "cannot allocate " + shown + " records of 610 bytes");
    }
    return RecordsHolder(records, RecordsDelete{static_cast<std::size_t>(wanted)});
}

// Methods take the instance as a plain handle (they need the Python object, to keep it alive and to
// read its holder); a method called through the class with some other object gets a TypeError.
const DeviceInfo* recordsOf(py::handle self, std::size_t& held) {
    if (g_recordsType == nullptr || !PyObject_TypeCheck(self.ptr(), g_recordsType->type)) {
        throw py::type_error("expected a zorvek_records.DeviceInfo");
    }
    const DeviceInfo* records = nullptr;
    held = heldBy(self.ptr(), records);
    return records;
}

// A read-only view of one record; it keeps the instance that owns the record alive.
struct Record {
    py::object owner;
    const DeviceInfo* record;
};

struct Field {
    const char* name;
    std::size_t offset;
    std::size_t size;
};

constexpr Field kFields[] = {
    {"friendlyName", offsetof(DeviceInfo, friendlyName), sizeof DeviceInfo::friendlyName},
    {"vid", offsetof(DeviceInfo, vid), sizeof DeviceInfo::vid},
    {"pid", offsetof(DeviceInfo, pid), sizeof DeviceInfo::pid},
    {"devicePath", offsetof(DeviceInfo, devicePath), sizeof DeviceInfo::devicePath},
};

// A field's bytes up to its terminator, or all of them when whoever wrote it left none.
std::string fieldBytes(const Record& view, const Field& field) {
    const char* start = reinterpret_cast<const char*>(view.record) + field.offset;
    const void* end = std::memchr(start, '\0', field.size);
    return std::string(start, end != nullptr ? static_cast<const char*>(end) - start : field.size);
}

const Field& fieldNamed(const std::string& name) {
    for (const Field& field : kFields) {
        if (name == field.name) return field;
    }
    throw py::value_error("no field '" + name + "'; the fields are friendlyName, vid, pid and devicePath");
}

// The records were written in the current locale's narrow encoding, so they are read back in it. A
// byte that starts no valid character reads as U+FFFD: reading a field never fails.
py::str decodeLocale(const std::string& bytes) {
    std::wstring text;
    std::mbstate_t state{};
    for (std::size_t i = 0; i < bytes.size();) {
        wchar_t c = 0;
        const std::size_t used = std::mbrtowc(&c, bytes.data() + i, bytes.size() - i, &state);
        if (used == 0 || used > bytes.size() - i) {  // invalid, or cut short by the field's end
            text.push_back(static_cast<wchar_t>(0xFFFD));
            state = std::mbstate_t{};
            ++i;
            continue;
        }
        text.push_back(c);
        i += used;
    }
    PyObject* result = PyUnicode_FromWideChar(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (result == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(result);
}

py::str fieldText(const Record& view, const char* name) { return decodeLocale(fieldBytes(view, fieldNamed(name))); }

Record item(py::handle self, const py::int_& index) {
    std::size_t held = 0;
    const DeviceInfo* records = recordsOf(self, held);
    Py_ssize_t i = PyNumber_AsSsize_t(index.ptr(), PyExc_IndexError);
    if (i == -1 && PyErr_Occurred()) throw py::error_already_set();
    const auto count = static_cast<Py_ssize_t>(held);
    if (i < 0) i += count;
    if (i < 0 || i >= count) throw py::index_error("record index out of range");
    return Record{py::reinterpret_borrow<py::object>(self), records + i};
}

}  // namespace

PYBIND11_MODULE(zorvek_records, m) {
    m.doc() = "DeviceInfo records for Zorvek's getDeviceInfo and getDeviceListInfo";

    py::class_<Record>(m, "Record", py::module_local(), "One record of a DeviceInfo, read-only")
        .def_property_readonly("friendlyName", [](const Record& r) { return fieldText(r, "friendlyName"); })
        .def_property_readonly("vid", [](const Record& r) { return fieldText(r, "vid"); })
        .def_property_readonly("pid", [](const Record& r) { return fieldText(r, "pid"); })
        .def_property_readonly("devicePath", [](const Record& r) { return fieldText(r, "devicePath"); })
        .def(
            "bytes",
            [](const Record& r, const std::string& name) { return py::bytes(fieldBytes(r, fieldNamed(name))); },
            py::arg("field_name"), "The field's bytes up to its terminator, undecoded")
        .def_property_readonly(
            "raw",
            [](const Record& r) { return py::bytes(reinterpret_cast<const char*>(r.record), sizeof(DeviceInfo)); },
            "The record's 610 bytes")
        .def("__repr__", [](const Record& r) {
            return py::str("zorvek_records.Record(friendlyName={!r}, vid={!r}, pid={!r}, devicePath={!r})")
                .format(fieldText(r, "friendlyName"), fieldText(r, "vid"), fieldText(r, "pid"),
                        fieldText(r, "devicePath"));
        });

    py::class_<DeviceInfo, RecordsHolder>(m, "DeviceInfo", "count consecutive DeviceInfo records, zeroed")
        .def(py::init(&makeRecords), py::arg("count") = 1)
        .def("__len__",
             [](py::handle self) {
                 std::size_t held = 0;
                 recordsOf(self, held);
                 return held;
             })
        .def("__getitem__", &item, py::arg("index"))
        .def("__repr__", [](py::handle self) {
            std::size_t held = 0;
            recordsOf(self, held);
            return "<zorvek_records.DeviceInfo: " + std::to_string(held) + (held == 1 ? " record>" : " records>");
        });

    g_recordsType = py::detail::get_type_info(typeid(DeviceInfo));
    py::set_shared_data(kHeldRecordsKey, const_cast<HeldRecordsQuery*>(&kQuery));
}
