#include "held_records.h"

#include <algorithm>

namespace py = pybind11;

// The instance registry read below is the multimap of internals version 4 (pybind11 2.11).
static_assert(PYBIND11_INTERNALS_VERSION == 4, "the instance registry has another shape in other internals");

std::size_t recordsHeldAt(const DeviceInfo* records) {
    std::size_t held = 1;
    const auto* query = static_cast<const HeldRecordsQuery*>(py::get_shared_data(kHeldRecordsKey));
    if (query == nullptr || query->version != kHeldRecordsVersion) return held;

    // Every live instance is registered under the address of the object it wraps. Several may share
    // one address (a class of some other extension wrapping the first record, say); only an instance
    // of the records module owns more than one record, and while it lives they are all there.
    auto& instances = py::detail::get_internals().registered_instances;
    const auto found = instances.equal_range(records);
    for (auto it = found.first; it != found.second; ++it) {
        held = (std::max)(held, query->recordsAt(reinterpret_cast<PyObject*>(it->second), records));
    }
    return held;
}
