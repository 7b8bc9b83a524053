// Media Foundation's list of video capture sources, from mf.dll and mfplat.dll loaded when a listing
// asks for it, never linked: the module imports, and lists DirectShow's cameras, on a system without
// Media Foundation (Windows N editions without the Media Feature Pack). mf.dll is looked for where a
// DLL the process imports would be (the application's folder, the folders added with AddDllDirectory,
// such as Python's os.add_dll_directory, then System32), so that the list is the one a capture
// library linked with it gets.
#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfobjects.h>

#include <new>

#include "media_foundation.h"
#include "platform.h"

namespace {

// The attribute keys, by value: their definitions live in a static library (mfuuid) the build need
// not link for four GUIDs.
constexpr GUID kSourceType = {0xc60ac5fe, 0x252a, 0x478f, {0xa0, 0xef, 0xbc, 0x8f, 0xa5, 0xf7, 0xca, 0xd3}};
constexpr GUID kVideoCapture = {0x8ac3587a, 0x4ae7, 0x42d8, {0x99, 0xe0, 0x0a, 0x60, 0x13, 0xee, 0xf9, 0x0f}};
constexpr GUID kSymbolicLink = {0x58f0aad8, 0x22bf, 0x4f8a, {0xbb, 0x3d, 0xd2, 0xc4, 0x97, 0x8c, 0x6e, 0x2f}};
constexpr ULONG kVersion = 0x00020070;  // MF_VERSION: MF_SDK_VERSION 2, MF_API_VERSION 0x70
constexpr DWORD kLite = 1;              // MFSTARTUP_LITE: no sockets

using Startup = HRESULT(WINAPI*)(ULONG, DWORD);
using Shutdown = HRESULT(WINAPI*)();
using CreateAttributes = HRESULT(WINAPI*)(IMFAttributes**, UINT32);
using EnumDeviceSources = HRESULT(WINAPI*)(IMFAttributes*, IMFActivate***, UINT32*);

HRESULT lastError() {
    const DWORD error = GetLastError();
    return error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
}

class Library {
public:
    explicit Library(const wchar_t* name) : module_(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) {}
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    explicit operator bool() const { return module_ != nullptr; }
    template <class Function>
    Function find(const char* name) const {
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
    }

private:
    HMODULE module_;
};

// MFStartup, and its MFShutdown however the scope is left.
class Started {
public:
    Started(Startup startup, Shutdown shutdown) : shutdown_(shutdown), result_(startup(kVersion, kLite)) {}
    Started(const Started&) = delete;
    Started& operator=(const Started&) = delete;
    ~Started() {
        if (SUCCEEDED(result_)) shutdown_();
    }
    HRESULT result() const { return result_; }

private:
    Shutdown shutdown_;
    HRESULT result_;
};

// The sources MFEnumDeviceSources hands over: every IMFActivate released and the array freed, on
// every way out (a bad_alloc while the links are copied included).
class Sources {
public:
    Sources() = default;
    Sources(const Sources&) = delete;
    Sources& operator=(const Sources&) = delete;
    ~Sources() {
        if (array_ == nullptr) return;
        for (UINT32 i = 0; i < count_; ++i) {
            if (array_[i] != nullptr) array_[i]->Release();
        }
        CoTaskMemFree(array_);
    }
    IMFActivate*** array() { return &array_; }
    UINT32* count() { return &count_; }
    UINT32 size() const { return array_ == nullptr ? 0 : count_; }
    IMFActivate* operator[](UINT32 i) const { return array_[i]; }

private:
    IMFActivate** array_ = nullptr;
    UINT32 count_ = 0;
};

std::u16string linkOf(IMFActivate* source) {
    std::u16string link;
    if (source == nullptr) return link;
    wchar_t* text = nullptr;
    UINT32 length = 0;
    if (SUCCEEDED(source->GetAllocatedString(kSymbolicLink, &text, &length)) && text != nullptr) {
        try {
            link.assign(reinterpret_cast<const char16_t*>(text), length);
        } catch (...) {
            CoTaskMemFree(text);
            throw;
        }
        CoTaskMemFree(text);
    }
    return link;
}

CaptureLinks failed(const char* step, HRESULT result) {
    CaptureLinks links;
    links.failedStep = step;
    links.result = static_cast<std::int32_t>(result);
    return links;
}

}  // namespace

CaptureLinks mediaFoundationCaptureLinks() {
    const Library platform(L"mfplat.dll");
    if (!platform) return failed("LoadLibraryExW(mfplat.dll)", lastError());
    const Library foundation(L"mf.dll");
    if (!foundation) return failed("LoadLibraryExW(mf.dll)", lastError());
    const auto startup = platform.find<Startup>("MFStartup");
    const auto shutdown = platform.find<Shutdown>("MFShutdown");
    const auto createAttributes = platform.find<CreateAttributes>("MFCreateAttributes");
    if (startup == nullptr || shutdown == nullptr || createAttributes == nullptr) {
        return failed("GetProcAddress(mfplat.dll)", lastError());
    }
    const auto enumDeviceSources = foundation.find<EnumDeviceSources>("MFEnumDeviceSources");
    if (enumDeviceSources == nullptr) return failed("GetProcAddress(MFEnumDeviceSources)", lastError());

    const Started started(startup, shutdown);
    if (FAILED(started.result())) return failed("MFStartup", started.result());
    ComPtr<IMFAttributes> attributes;
    HRESULT hr = createAttributes(attributes.put(), 1);
    if (FAILED(hr) || !attributes) return failed("MFCreateAttributes", FAILED(hr) ? hr : E_POINTER);
    hr = attributes->SetGUID(kSourceType, kVideoCapture);
    if (FAILED(hr)) return failed("IMFAttributes::SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE)", hr);
    CaptureLinks listed;
    {
        Sources sources;
        hr = enumDeviceSources(attributes.get(), sources.array(), sources.count());
        attributes.reset();
        if (FAILED(hr)) return failed("MFEnumDeviceSources", hr);
        listed.links.reserve(sources.size());
        for (UINT32 i = 0; i < sources.size(); ++i) listed.links.push_back(linkOf(sources[i]));
    }
    return listed;
}
