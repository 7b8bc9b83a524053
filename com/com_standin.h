// The COM and DirectShow names the discovery code is written against, for platforms that have no
// COM. Same names, same calling shapes and the same results as the real ones for everything the
// discovery code uses; the devices come from the device source linked into the program
// (device_source.h). Only what is used is declared: this is not a COM runtime.
#pragma once

#include <cstdint>

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using VARTYPE = std::uint16_t;

// Wide text is UTF-16 everywhere, as COM hands it out.
using OLECHAR = char16_t;
using WCHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LPCWSTR = const WCHAR*;
using BSTR = OLECHAR*;
#define OLESTR(text) u##text

#define STDMETHODCALLTYPE
#define WINAPI

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
// What a property bag answers for a value it does not have (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)).
constexpr HRESULT HRESULT_FILE_NOT_FOUND = static_cast<HRESULT>(0x80070002u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

bool operator==(const GUID& a, const GUID& b);
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

extern const CLSID CLSID_SystemDeviceEnum;
extern const CLSID CLSID_VideoInputDeviceCategory;
extern const IID IID_IUnknown;
extern const IID IID_ICreateDevEnum;
extern const IID IID_IEnumMoniker;
extern const IID IID_IMoniker;
extern const IID IID_IPropertyBag;

// ---- Automation values --------------------------------------------------------------------------
constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_BSTR = 8;

struct VARIANT {
    VARTYPE vt;
    union {
        BSTR bstrVal;
        std::int64_t llVal;
    };
};

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, unsigned int length);
void SysFreeString(BSTR text);
unsigned int SysStringLen(BSTR text);

// ---- COM library --------------------------------------------------------------------------------
constexpr DWORD COINIT_MULTITHREADED = 0;
constexpr DWORD COINIT_APARTMENTTHREADED = 2;
constexpr DWORD CLSCTX_INPROC_SERVER = 1;
constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106u);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);

enum APTTYPE { APTTYPE_CURRENT = -1, APTTYPE_STA = 0, APTTYPE_MTA = 1, APTTYPE_NA = 2, APTTYPE_MAINSTA = 3 };
enum APTTYPEQUALIFIER { APTTYPEQUALIFIER_NONE = 0 };

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;
};

// Per thread, as in COM: the first successful call sets the apartment's mode, every successful one
// (S_OK or S_FALSE) is undone by one CoUninitialize, and a call asking for the other mode gets
// RPC_E_CHANGED_MODE.
HRESULT CoInitializeEx(void* reserved, DWORD coInit);
void CoUninitialize();
// The calling thread's apartment; CO_E_NOTINITIALIZED when it has none.
HRESULT CoGetApartmentType(APTTYPE* type, APTTYPEQUALIFIER* qualifier);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object);
void CoTaskMemFree(void* memory);

// A bind context: the stand-in makes none (CreateBindCtx answers E_NOTIMPL), as it has no moniker to
// bind by name.
struct IBindCtx : IUnknown {
protected:
    ~IBindCtx() = default;
};
HRESULT CreateBindCtx(DWORD reserved, IBindCtx** context);
struct IErrorLog;

struct IPropertyBag : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) = 0;
    virtual HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) = 0;

protected:
    ~IPropertyBag() = default;
};

struct IMoniker : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx* context, IMoniker* left, REFIID riid, void** object) = 0;
    // The stand-in's devices have no display name to bind them by again: E_NOTIMPL, *name null.
    virtual HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx* context, IMoniker* left, LPOLESTR* name) = 0;

protected:
    ~IMoniker() = default;
};

struct IEnumMoniker : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker** copy) = 0;

protected:
    ~IEnumMoniker() = default;
};

struct ICreateDevEnum : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator,
                                                            DWORD flags) = 0;

protected:
    ~ICreateDevEnum() = default;
};

// ---- Kernel -------------------------------------------------------------------------------------
void SetLastError(DWORD code);
DWORD GetLastError();
// The debugger-output service. Here each line goes to the system log at debug priority, as UTF-8.
void OutputDebugStringW(LPCWSTR text);

// ---- Not COM: a hint of ours to the backend ------------------------------------------------------
// While one lives, the calling thread's category enumerations may leave out every device whose
// "DevicePath" `wanted` refuses, instead of asking that device whether it captures video. A caller
// that wants only some devices (the listing) so spares opening the others: on a real machine, that
// wakes a suspended camera. Those it wants, the backend may judge by what it or the system learnt of
// them before, rather than asking them again. Windows' enumerator opens no device to list it and
// has nothing to spare.
class DevicePathFilter {
public:
    using Test = bool (*)(const OLECHAR* path);
    explicit DevicePathFilter(Test wanted);
    DevicePathFilter(const DevicePathFilter&) = delete;
    DevicePathFilter& operator=(const DevicePathFilter&) = delete;
    ~DevicePathFilter();

    // The calling thread's test, or null when no filter lives on it.
    static Test current();

private:
    Test previous_;
};

// ---- Not COM: a failure in the platform's own words ----------------------------------------------
// A COM call of the stand-in fails with an HRESULT, which is Windows' word for it. Where the
// failure was a system call's, the device source also leaves that call and its errno here, on the
// calling thread, for a caller that tells its user what happened in the platform's words (the
// listing). The HRESULT stays what a caller that knows only COM goes by. Windows has no such
// failures: there the HRESULT is the platform's own word.
class PlatformFailure {
public:
    // The call that failed, with what it was called on ("opendir /sys/class/video4linux": text that
    // lives as long as the program), and its errno, replacing what the thread held before.
    static void set(const char* call, int error);
    // What the calling thread holds (null and 0 when nothing), which it then no longer holds.
    static PlatformFailure take();

    const char* call = nullptr;
    int error = 0;
};
