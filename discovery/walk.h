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

// The call a walk is making, for a caller that names the step an exception came out of.
enum class WalkCall {
    CreateEnumerator,  // CoCreateInstance of the system device enumerator
    CreateCategory,    // its CreateClassEnumerator
    NextDevice,        // the category enumerator's Next
    Bind,              // a device's BindToStorage
    ReadPath,          // the property bag's Read of "DevicePath"
    OnDevice,          // the caller's own work on a device: it keeps track of its own steps
};

// Calls onDevice(IPropertyBag&, const OLECHAR* path, ULONG position, IMoniker&) for every device whose
// "DevicePath" reads, in enumeration order; `position` counts every device the category lists,
// those whose path cannot be read included, from 0. With `traced`, writes the scan's progress texts.
// Where it ends early, `failure` receives the failing call's result. `calling`, where given, is set
// to each call as it is made, so that it names the one an exception came out of.
template <class OnDevice>
WalkEnd walkVideoInputs(bool traced, OnDevice&& onDevice, HRESULT* failure = nullptr, WalkCall* calling = nullptr) {
    HRESULT hr = S_OK;
    WalkCall ignored = WalkCall::CreateEnumerator;
    WalkCall& call = calling != nullptr ? *calling : ignored;
    const auto fail = [&](WalkEnd end) {
        if (failure != nullptr) *failure = hr;
        return end;
    };
    ComPtr<ICreateDevEnum> devices;
    call = WalkCall::CreateEnumerator;
    hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, devices.putVoid());
    if (hr != S_OK || !devices) {
        SetLastError(0);
        return fail(WalkEnd::NoEnumerator);
    }
    ComPtr<IEnumMoniker> category;
    call = WalkCall::CreateCategory;
    hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, category.put(), 0);
    if (hr != S_OK || !category) return fail(WalkEnd::NoCategory);
    category->Reset();
    if (traced) trace("Before While loop");

    ComPtr<IMoniker> moniker;
    ULONG fetched = 0;
    const auto next = [&] {
        call = WalkCall::NextDevice;
        return category->Next(1, moniker.put(), &fetched) == S_OK && moniker;
    };
    for (ULONG position = 0; next(); ++position) {
        if (traced) trace("Entered a While loop");
        ComPtr<IPropertyBag> bag;
        call = WalkCall::Bind;
        hr = moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid());
        if (FAILED(hr) || !bag) return fail(WalkEnd::NotBound);
        if (traced) trace(" While loop hr successed");
        BstrVariant path;
        call = WalkCall::ReadPath;
        if (bag->Read(OLESTR("DevicePath"), path.get(), nullptr) != S_OK) continue;
        if (traced) trace(" While loop hr S_OK successed");
        call = WalkCall::OnDevice;
        onDevice(*bag.get(), path.text(), position, *moniker.get());
    }
    return WalkEnd::Completed;
}
