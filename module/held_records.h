// How many consecutive records lie behind a DeviceInfo pointer that pybind11 took from a Python
// instance. A native caller of getDeviceListInfo promises `count` records behind the pointer; a
// Python caller only hands over an instance, so the list is held to the records that instance owns.
//
// The records module (zorvek_records) makes instances that own arrays of records. It answers, for
// one of its instances, how many records the instance holds at an address, and publishes that answer
// in pybind11's shared data: every extension built with the same pybind11 internals and compiler ABI
// shares that data within one interpreter, and no other channel between the two modules is needed.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>

#include "device_info.h"

struct HeldRecordsQuery {
    int version;
    // The records `instance` holds starting at `address`; 0 when it is not an instance of the records
    // module's class or holds nothing there. Called with the interpreter's lock held.
    std::size_t (*recordsAt)(PyObject* instance, const void* address);
};

inline constexpr int kHeldRecordsVersion = 1;
inline constexpr char kHeldRecordsKey[] = "zorvek_records.held_records";

// The records behind `records`, a pointer that pybind11's conversion took from some live instance:
// at least the one record the conversion guarantees, more when a records-module instance owns an
// array there. Needs the interpreter's lock.
std::size_t recordsHeldAt(const DeviceInfo* records);
