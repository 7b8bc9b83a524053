// The one place the discovery code meets the platform: COM and DirectShow under their own names,
// the real ones on Windows and our stand-in elsewhere. Nothing else in discovery/ knows which.
#pragma once

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <dshow.h>
// Our stand-in's hint to its backend (com_standin.h); DirectShow lists devices without opening them.
class DevicePathFilter {
public:
    using Test = bool (*)(const OLECHAR* path);
    explicit DevicePathFilter(Test) {}
};
// Our stand-in's failures in the platform's own words (com_standin.h): on Windows the HRESULT is
// that, and there is never anything else to take.
class PlatformFailure {
public:
    static PlatformFailure take() { return {}; }
    const char* call = nullptr;
    int error = 0;
};
#else
#include "com_standin.h"
#endif

#include <cstdint>

// 16-bit units on every platform: wchar_t on Windows, char16_t elsewhere.
static_assert(sizeof(OLECHAR) == 2, "wide text is UTF-16");

// Scoped holders, so that every path out of a walk, an exception included, releases what it got.
template <class Interface>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    Interface* operator->() const { return pointer_; }
    Interface* get() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // For an out-parameter: releases what is held first.
    Interface** put() {
        reset();
        return &pointer_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    void reset() {
        if (pointer_ != nullptr) {
            Interface* held = pointer_;
            pointer_ = nullptr;
            held->Release();
        }
    }

private:
    Interface* pointer_ = nullptr;
};

// A VARIANT asked to hold a BSTR; frees the BSTR it received, if any, when it goes.
class BstrVariant {
public:
    BstrVariant() {
        VariantInit(&value_);
        value_.vt = VT_BSTR;
        value_.bstrVal = nullptr;
    }
    BstrVariant(const BstrVariant&) = delete;
    BstrVariant& operator=(const BstrVariant&) = delete;
    ~BstrVariant() {
        if (value_.vt == VT_BSTR) SysFreeString(value_.bstrVal);
    }

    VARIANT* get() { return &value_; }
    // The text read, or null when the value is not a BSTR.
    const OLECHAR* text() const { return value_.vt == VT_BSTR ? value_.bstrVal : nullptr; }

private:
    VARIANT value_;
};

// COM for one call on any thread (the listing, a reading of modes): joins the multithreaded apartment
// where the thread has none, and leaves it again; a thread that has an apartment of either kind keeps
// it, and the call runs in it.
class ComOnThisThread {
public:
    ComOnThisThread() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ComOnThisThread(const ComOnThisThread&) = delete;
    ComOnThisThread& operator=(const ComOnThisThread&) = delete;
    ~ComOnThisThread() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};
