// The stand-in's COM objects: the system device enumerator, the category enumerator, one moniker and
// one property bag per device. Reference counted like real COM objects, so a missing Release shows
// up in the counters the tests read.
#include <syslog.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "com_standin.h"
#include "device_source.h"
#include "utf16.h"

// Test builds keep a tally of every reference and BSTR handed out, so that a missing Release shows
// up; the shipped stand-in keeps none.
#if defined(ZORVEK_COM_TALLY)
#include "com_tally.h"
#else
namespace comtally {
inline void references(long) {}
inline void bstrs(long) {}
}  // namespace comtally
#endif

const CLSID CLSID_SystemDeviceEnum = {0x62BE5D10, 0x60EB, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
const CLSID CLSID_VideoInputDeviceCategory = {
    0x860BB310, 0x5D01, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_ICreateDevEnum = {0x29840822, 0x5B84, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
const IID IID_IEnumMoniker = {0x00000102, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IMoniker = {0x0000000F, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IPropertyBag = {0x55272A00, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

namespace {

thread_local DWORD t_lastError = 0;
thread_local DevicePathFilter::Test t_devicePathFilter = nullptr;
thread_local PlatformFailure t_platformFailure;
// The calling thread's apartment: the mode its first successful CoInitializeEx asked for, and how
// many successful calls are not yet matched by CoUninitialize. It ends when that count is 0.
thread_local int t_apartmentMode = -1;
thread_local int t_apartmentDepth = 0;

// IUnknown for one interface: a count starting at 1 for the creator, deleted at 0.
template <class Interface>
class Object : public Interface {
public:
    Object() { comtally::references(+1); }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == interfaceId()) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        comtally::references(+1);
        return ++references_;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        comtally::references(-1);
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~Object() = default;
    virtual const IID& interfaceId() const = 0;

private:
    std::atomic<ULONG> references_{1};
};

class PropertyBag final : public Object<IPropertyBag> {
public:
    explicit PropertyBag(std::string id) : id_(std::move(id)) {}

    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        if (name == nullptr || value == nullptr) return E_POINTER;
        std::u16string text;
        const HRESULT hr = devsource::readProperty(id_, name, text);
        if (hr != S_OK) return hr;
        const BSTR copy = SysAllocStringLen(text.data(), static_cast<unsigned int>(text.size()));
        if (copy == nullptr) return E_OUTOFMEMORY;
        value->vt = VT_BSTR;
        value->bstrVal = copy;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_FAIL; }

private:
    const IID& interfaceId() const override { return IID_IPropertyBag; }
    std::string id_;
};

class Moniker final : public Object<IMoniker> {
public:
    explicit Moniker(std::string id) : id_(std::move(id)) {}

    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IPropertyBag) return E_NOINTERFACE;
        const HRESULT hr = devsource::bindDevice(id_);
        if (FAILED(hr)) return hr;
        *object = static_cast<IPropertyBag*>(new PropertyBag(id_));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override {
        if (name == nullptr) return E_POINTER;
        *name = nullptr;
        return E_NOTIMPL;
    }

private:
    const IID& interfaceId() const override { return IID_IMoniker; }
    std::string id_;
};

// Holds the device ids listed when it was created: like the real one, it does not see devices that
// come or go during its walk.
class EnumMoniker final : public Object<IEnumMoniker> {
public:
    EnumMoniker(std::vector<std::string> ids, std::size_t position = 0) : ids_(std::move(ids)), position_(position) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** monikers, ULONG* fetched) override {
        if (monikers == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
        ULONG given = 0;
        while (given < count && position_ < ids_.size()) {
            monikers[given++] = new Moniker(ids_[position_++]);
        }
        if (fetched != nullptr) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const std::size_t left = ids_.size() - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker** copy) override {
        if (copy == nullptr) return E_POINTER;
        *copy = new EnumMoniker(ids_, position_);
        return S_OK;
    }

private:
    const IID& interfaceId() const override { return IID_IEnumMoniker; }
    std::vector<std::string> ids_;
    std::size_t position_;
};

class SystemDeviceEnum final : public Object<ICreateDevEnum> {
public:
    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator, DWORD) override {
        if (enumerator == nullptr) return E_POINTER;
        *enumerator = nullptr;
        // Only video input devices exist here; any other category is empty.
        if (category != CLSID_VideoInputDeviceCategory) return S_FALSE;
        std::vector<std::string> ids;
        const HRESULT hr = devsource::listVideoInputs(ids);
        if (hr != S_OK) return hr;
        // An empty category is S_FALSE with no enumerator, whatever the source said.
        if (ids.empty()) return S_FALSE;
        *enumerator = new EnumMoniker(std::move(ids));
        return S_OK;
    }

private:
    const IID& interfaceId() const override { return IID_ICreateDevEnum; }
};

// A BSTR is its length in bytes, then the text and a terminator; the pointer is to the text.
struct BstrHeader {
    std::uint32_t bytes;
};

}  // namespace

void VariantInit(VARIANT* v) {
    v->vt = VT_EMPTY;
    v->llVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
    if (v == nullptr) return E_INVALIDARG;
    if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
    VariantInit(v);
    return S_OK;
}

BSTR SysAllocStringLen(const OLECHAR* text, unsigned int length) {
    // Room for the header, the units and a terminator; keep the header aligned for the text.
    void* block = std::malloc(sizeof(BstrHeader) + (static_cast<std::size_t>(length) + 1) * sizeof(OLECHAR));
    if (block == nullptr) return nullptr;
    auto* header = static_cast<BstrHeader*>(block);
    header->bytes = length * static_cast<std::uint32_t>(sizeof(OLECHAR));
    auto* units = reinterpret_cast<OLECHAR*>(header + 1);
    if (text != nullptr) std::memcpy(units, text, length * sizeof(OLECHAR));
    else std::memset(units, 0, length * sizeof(OLECHAR));
    units[length] = 0;
    comtally::bstrs(+1);
    return units;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr) return nullptr;
    unsigned int length = 0;
    while (text[length] != 0) ++length;
    return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text) {
    if (text == nullptr) return;
    comtally::bstrs(-1);
    std::free(reinterpret_cast<BstrHeader*>(text) - 1);
}

unsigned int SysStringLen(BSTR text) {
    if (text == nullptr) return 0;
    return (reinterpret_cast<BstrHeader*>(text) - 1)->bytes / sizeof(OLECHAR);
}

HRESULT CoInitializeEx(void*, DWORD coInit) {
    // The first call on a thread fixes its mode; later calls answer as COM does, and a call that
    // succeeds (S_OK or S_FALSE) must be matched by a CoUninitialize.
    // Only the apartment bit decides the mode; the other COINIT_ values are hints.
    const int mode = static_cast<int>(coInit & COINIT_APARTMENTTHREADED);
    if (t_apartmentDepth == 0) {
        t_apartmentMode = mode;
        t_apartmentDepth = 1;
        return S_OK;
    }
    if (t_apartmentMode != mode) return RPC_E_CHANGED_MODE;
    ++t_apartmentDepth;
    return S_FALSE;
}

void CoUninitialize() {
    if (t_apartmentDepth > 0 && --t_apartmentDepth == 0) t_apartmentMode = -1;
}

HRESULT CoGetApartmentType(APTTYPE* type, APTTYPEQUALIFIER* qualifier) {
    if (type == nullptr || qualifier == nullptr) return E_INVALIDARG;
    *qualifier = APTTYPEQUALIFIER_NONE;
    if (t_apartmentDepth == 0) {
        *type = APTTYPE_CURRENT;
        return CO_E_NOTINITIALIZED;
    }
    *type = t_apartmentMode == static_cast<int>(COINIT_MULTITHREADED) ? APTTYPE_MTA : APTTYPE_STA;
    return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_SystemDeviceEnum) return REGDB_E_CLASSNOTREG;
    if (outer != nullptr) return static_cast<HRESULT>(0x80040110u);  // CLASS_E_NOAGGREGATION
    if (riid != IID_ICreateDevEnum && riid != IID_IUnknown) return E_NOINTERFACE;
    const HRESULT hr = devsource::openEnumerator();
    if (FAILED(hr)) return hr;
    *object = static_cast<ICreateDevEnum*>(new SystemDeviceEnum());
    return S_OK;
}

HRESULT CreateBindCtx(DWORD, IBindCtx** context) {
    if (context == nullptr) return E_POINTER;
    *context = nullptr;
    return E_NOTIMPL;
}

// Nothing of the stand-in's hands out task memory; freeing null is what callers do here.
void CoTaskMemFree(void* memory) { std::free(memory); }

void SetLastError(DWORD code) { t_lastError = code; }
DWORD GetLastError() { return t_lastError; }

void OutputDebugStringW(LPCWSTR text) {
    if (text == nullptr) return;
    syslog(LOG_DEBUG, "%s", standin::utf16ToUtf8(text).c_str());
}

DevicePathFilter::DevicePathFilter(Test wanted) : previous_(t_devicePathFilter) { t_devicePathFilter = wanted; }
DevicePathFilter::~DevicePathFilter() { t_devicePathFilter = previous_; }
DevicePathFilter::Test DevicePathFilter::current() { return t_devicePathFilter; }

void PlatformFailure::set(const char* call, int error) {
    t_platformFailure.call = call;
    t_platformFailure.error = error;
}

PlatformFailure PlatformFailure::take() {
    const PlatformFailure held = t_platformFailure;
    t_platformFailure = PlatformFailure{};
    return held;
}
