// One walk over the video input devices that the system device enumerator lists: the part the scan
// and the record walk share. Each caller writes its own failure texts and catches its own
// exceptions; everything obtained here is released on every way out.
#pragma once

#include "platform.h"
#include "trace.h"

enum class WalkEnd {
    Completed,     // the enumeration ran to its end
    NoEnumerator,  // the system device enumerator could not be created
    NoCategory,    // no enumerator for the video input category (an error, or no device at all)
    NotBound,      // a device's property bag could not be bound
};

// Calls onDevice(IPropertyBag&, const OLECHAR* path) for every device whose "DevicePath" reads,
// in enumeration order. With `traced`, writes the scan's progress texts.
template <class OnDevice>
WalkEnd walkVideoInputs(bool traced, OnDevice&& onDevice) {
    ComPtr<ICreateDevEnum> devices;
    if (CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         devices.putVoid()) != S_OK ||
        !devices) {
        SetLastError(0);
        return WalkEnd::NoEnumerator;
    }
    ComPtr<IEnumMoniker> category;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, category.put(), 0) != S_OK || !category) {
        return WalkEnd::NoCategory;
    }
    category->Reset();
    if (traced) trace("Before While loop");

    ComPtr<IMoniker> moniker;
    ULONG fetched = 0;
    while (category->Next(1, moniker.put(), &fetched) == S_OK && moniker) {
        if (traced) trace("Entered a While loop");
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid())) || !bag) {
            return WalkEnd::NotBound;
        }
        if (traced) trace(" While loop hr successed");
        BstrVariant path;
        if (bag->Read(OLESTR("DevicePath"), path.get(), nullptr) != S_OK) continue;
        if (traced) trace(" While loop hr S_OK successed");
        onDevice(*bag.get(), path.text());
    }
    return WalkEnd::Completed;
}
