// A stand-in for mf.dll, for the Windows tests only (never shipped): it exports MFEnumDeviceSources
// alone, and lists the video capture sources the test names in the environment variable
// ZORVEK_MF_STANDIN, read at each call: one source a line, "friendly name<TAB>symbolic link", in
// the order to list them; a line "!<hex HRESULT>" makes the call fail with that result; unset or
// empty, no source (as Wine's own mf.dll lists none). Each source is an IMFActivate over an
// attribute store of mfplat's (MFCreateAttributes) holding MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME,
// the VIDCAP symbolic link and the source type; it cannot be activated. Asked for another source
// type than video capture, it lists nothing. ZORVEK_MF_STANDIN_LIVE holds how many of its sources
// are alive (not yet released), for the tests to see that callers release every one.
//
// Placed beside python.exe or in a folder given to os.add_dll_directory, it takes the place of
// Wine's builtin mf.dll under the default load order.
#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfobjects.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr GUID kSourceType = {0xc60ac5fe, 0x252a, 0x478f, {0xa0, 0xef, 0xbc, 0x8f, 0xa5, 0xf7, 0xca, 0xd3}};
constexpr GUID kVideoCapture = {0x8ac3587a, 0x4ae7, 0x42d8, {0x99, 0xe0, 0x0a, 0x60, 0x13, 0xee, 0xf9, 0x0f}};
constexpr GUID kSymbolicLink = {0x58f0aad8, 0x22bf, 0x4f8a, {0xbb, 0x3d, 0xd2, 0xc4, 0x97, 0x8c, 0x6e, 0x2f}};
constexpr GUID kFriendlyName = {0x60d0e559, 0x52f8, 0x4fa2, {0xbb, 0xce, 0xac, 0xdb, 0x34, 0xa8, 0xec, 0x01}};

LONG live = 0;

void publishLive(LONG count) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%ld", count);
    SetEnvironmentVariableW(L"ZORVEK_MF_STANDIN_LIVE", text);
}

// An activation object over an attribute store: every IMFAttributes call goes to the store.
class Source final : public IMFActivate {
public:
    explicit Source(IMFAttributes* store) : store_(store) { publishLive(InterlockedIncrement(&live)); }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMFAttributes || riid == IID_IMFActivate) {
            *object = static_cast<IMFActivate*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            store_->Release();
            publishLive(InterlockedDecrement(&live));
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE GetItem(REFGUID k, PROPVARIANT* v) override { return store_->GetItem(k, v); }
    HRESULT STDMETHODCALLTYPE GetItemType(REFGUID k, MF_ATTRIBUTE_TYPE* t) override {
        return store_->GetItemType(k, t);
    }
    HRESULT STDMETHODCALLTYPE CompareItem(REFGUID k, REFPROPVARIANT v, WINBOOL* r) override {
        return store_->CompareItem(k, v, r);
    }
    HRESULT STDMETHODCALLTYPE Compare(IMFAttributes* t, MF_ATTRIBUTES_MATCH_TYPE m, WINBOOL* r) override {
        return store_->Compare(t, m, r);
    }
    HRESULT STDMETHODCALLTYPE GetUINT32(REFGUID k, UINT32* v) override { return store_->GetUINT32(k, v); }
    HRESULT STDMETHODCALLTYPE GetUINT64(REFGUID k, UINT64* v) override { return store_->GetUINT64(k, v); }
    HRESULT STDMETHODCALLTYPE GetDouble(REFGUID k, double* v) override { return store_->GetDouble(k, v); }
    HRESULT STDMETHODCALLTYPE GetGUID(REFGUID k, GUID* v) override { return store_->GetGUID(k, v); }
    HRESULT STDMETHODCALLTYPE GetStringLength(REFGUID k, UINT32* n) override { return store_->GetStringLength(k, n); }
    HRESULT STDMETHODCALLTYPE GetString(REFGUID k, LPWSTR s, UINT32 size, UINT32* n) override {
        return store_->GetString(k, s, size, n);
    }
    HRESULT STDMETHODCALLTYPE GetAllocatedString(REFGUID k, LPWSTR* s, UINT32* n) override {
        return store_->GetAllocatedString(k, s, n);
    }
    HRESULT STDMETHODCALLTYPE GetBlobSize(REFGUID k, UINT32* n) override { return store_->GetBlobSize(k, n); }
    HRESULT STDMETHODCALLTYPE GetBlob(REFGUID k, UINT8* b, UINT32 size, UINT32* n) override {
        return store_->GetBlob(k, b, size, n);
    }
    HRESULT STDMETHODCALLTYPE GetAllocatedBlob(REFGUID k, UINT8** b, UINT32* n) override {
        return store_->GetAllocatedBlob(k, b, n);
    }
    HRESULT STDMETHODCALLTYPE GetUnknown(REFGUID k, REFIID riid, LPVOID* v) override {
        return store_->GetUnknown(k, riid, v);
    }
    HRESULT STDMETHODCALLTYPE SetItem(REFGUID k, REFPROPVARIANT v) override { return store_->SetItem(k, v); }
    HRESULT STDMETHODCALLTYPE DeleteItem(REFGUID k) override { return store_->DeleteItem(k); }
    HRESULT STDMETHODCALLTYPE DeleteAllItems() override { return store_->DeleteAllItems(); }
    HRESULT STDMETHODCALLTYPE SetUINT32(REFGUID k, UINT32 v) override { return store_->SetUINT32(k, v); }
    HRESULT STDMETHODCALLTYPE SetUINT64(REFGUID k, UINT64 v) override { return store_->SetUINT64(k, v); }
    HRESULT STDMETHODCALLTYPE SetDouble(REFGUID k, double v) override { return store_->SetDouble(k, v); }
    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID k, REFGUID v) override { return store_->SetGUID(k, v); }
    HRESULT STDMETHODCALLTYPE SetString(REFGUID k, LPCWSTR v) override { return store_->SetString(k, v); }
    HRESULT STDMETHODCALLTYPE SetBlob(REFGUID k, const UINT8* b, UINT32 size) override {
        return store_->SetBlob(k, b, size);
    }
    HRESULT STDMETHODCALLTYPE SetUnknown(REFGUID k, IUnknown* v) override { return store_->SetUnknown(k, v); }
    HRESULT STDMETHODCALLTYPE LockStore() override { return store_->LockStore(); }
    HRESULT STDMETHODCALLTYPE UnlockStore() override { return store_->UnlockStore(); }
    HRESULT STDMETHODCALLTYPE GetCount(UINT32* n) override { return store_->GetCount(n); }
    HRESULT STDMETHODCALLTYPE GetItemByIndex(UINT32 i, GUID* k, PROPVARIANT* v) override {
        return store_->GetItemByIndex(i, k, v);
    }
    HRESULT STDMETHODCALLTYPE CopyAllItems(IMFAttributes* to) override { return store_->CopyAllItems(to); }

    // No camera is behind it.
    HRESULT STDMETHODCALLTYPE ActivateObject(REFIID, void** object) override {
        if (object != nullptr) *object = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ShutdownObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DetachObject() override { return S_OK; }

private:
    ~Source() = default;
    LONG references_ = 1;
    IMFAttributes* store_;
};

std::wstring scriptText() {
    const DWORD size = GetEnvironmentVariableW(L"ZORVEK_MF_STANDIN", nullptr, 0);
    if (size == 0) return {};
    std::wstring text(size, L'\0');
    const DWORD got = GetEnvironmentVariableW(L"ZORVEK_MF_STANDIN", text.data(), size);
    text.resize(got < size ? got : 0);
    return text;
}

HRESULT makeSource(const std::wstring& name, const std::wstring& link, IMFActivate** made) {
    IMFAttributes* store = nullptr;
    HRESULT hr = MFCreateAttributes(&store, 3);
    if (FAILED(hr)) return hr;
    if (FAILED(hr = store->SetGUID(kSourceType, kVideoCapture)) ||
        FAILED(hr = store->SetString(kFriendlyName, name.c_str())) ||
        FAILED(hr = store->SetString(kSymbolicLink, link.c_str()))) {
        store->Release();
        return hr;
    }
    *made = new Source(store);
    return S_OK;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI
    MFEnumDeviceSources(IMFAttributes* attributes, IMFActivate*** sources, UINT32* count) {
    if (attributes == nullptr || sources == nullptr || count == nullptr) return E_POINTER;
    *sources = nullptr;
    *count = 0;
    GUID type{};
    if (FAILED(attributes->GetGUID(kSourceType, &type))) return E_INVALIDARG;
    if (type != kVideoCapture) return S_OK;

    std::vector<IMFActivate*> made;
    const std::wstring script = scriptText();
    HRESULT hr = S_OK;
    for (std::size_t start = 0; start < script.size() && SUCCEEDED(hr);) {
        std::size_t end = script.find(L'\n', start);
        if (end == std::wstring::npos) end = script.size();
        const std::wstring line = script.substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        if (line[0] == L'!') {
            hr = static_cast<HRESULT>(std::wcstoul(line.c_str() + 1, nullptr, 16));
            break;
        }
        const std::size_t tab = line.find(L'\t');
        IMFActivate* source = nullptr;
        hr =
            makeSource(line.substr(0, tab), tab == std::wstring::npos ? std::wstring() : line.substr(tab + 1), &source);
        if (SUCCEEDED(hr)) made.push_back(source);
    }
    if (SUCCEEDED(hr) && !made.empty()) {
        auto* array = static_cast<IMFActivate**>(CoTaskMemAlloc(made.size() * sizeof(IMFActivate*)));
        if (array == nullptr) hr = E_OUTOFMEMORY;
        if (array != nullptr) {
            for (std::size_t i = 0; i < made.size(); ++i) array[i] = made[i];
            *sources = array;
            *count = static_cast<UINT32>(made.size());
            return S_OK;
        }
    }
    for (IMFActivate* source : made) source->Release();
    return hr;
}
