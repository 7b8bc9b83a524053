// A video capture filter of the tests' own: an in-process COM server that the system device
// enumerator's moniker creates for an injected device whose "CLSID" value names it, and that is then
// told the device's property bag (IPersistPropertyBag::Load). What it offers comes from the device's
// "ZorvekFake" value, so that one DLL serves every test case:
//
//   items separated by ';', each a capability or a behaviour (starting with '!'):
//     FOURCC WIDTHxHEIGHT MIN-MAX [sizes=W0xH0-W1xH1/GXxGY] [rates=I,I,...] [vi2] [format=none|short|wave]
//       a capability: its FourCC, its media type's size, its caps' shortest and longest frame
//       intervals (100 ns units); a size range in its caps; the discrete intervals that
//       IAMVideoControl::GetFrameRateList gives for it (none: E_NOTIMPL); VIDEOINFOHEADER2 rather
//       than VIDEOINFOHEADER; a format block missing, shorter than its format type's, or of
//       another format type
//     !count=N         GetNumberOfCapabilities says N (negative too); GetStreamCaps answers every
//                      index below it (index modulo the capabilities given)
//     !endless-pins    EnumPins never ends: an output pin of no category before the capture pin,
//                      again and again
//     !no-capture      the pin says it is a preview pin
//     !throw           GetStreamCaps throws a C++ exception
//     !huge-rate-count GetFrameRateList says 2^31-1 rates, and gives one
//     !caps-size=N     GetNumberOfCapabilities says each caps block takes N bytes
//     !track           each media type from GetStreamCaps has a pUnk of its own, which keeps the DLL
//                      from unloading (DllCanUnloadNow) until it is released with its media type
//
// Enough of a filter for ffmpeg's dshow input to list its options, connect its pin and read frames:
// while the graph runs, a thread of its own delivers a gray frame of the connected format every
// frame interval, in samples from the system's memory allocator. Test-only: never shipped.
#define WIN32_LEAN_AND_MEAN
#define STRSAFE_NO_DEPRECATE
#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>

#include <atomic>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef KSPROPERTY_SUPPORT_GET
#define KSPROPERTY_SUPPORT_GET 1
#endif

namespace {

std::atomic<long> g_objects{0};

struct Capability {
    DWORD fourcc = 0;
    LONG width = 0, height = 0;
    LONGLONG minInterval = 0, maxInterval = 0;
    SIZE minSize{}, maxSize{}, granularity{1, 1};
    bool sized = false;
    std::vector<LONGLONG> rates;
    bool videoInfo2 = false;
    enum class Format { Whole, None, Short, Wave } format = Format::Whole;
};

struct Behaviour {
    std::vector<Capability> caps;
    int capsSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    bool counted = false;  // false: as many as there are
    long count = 0;
    bool endlessPins = false, noCapture = false, throws = false, hugeRateCount = false, track = false;
};

std::vector<std::wstring> split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    std::wstring part;
    for (wchar_t c : text) {
        if (c == separator) {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

bool pairOf(const std::wstring& text, wchar_t between, LONGLONG& a, LONGLONG& b) {
    const auto at = text.find(between);
    if (at == std::wstring::npos) return false;
    a = std::wcstoll(text.c_str(), nullptr, 10);
    b = std::wcstoll(text.c_str() + at + 1, nullptr, 10);
    return true;
}

Behaviour parse(const std::wstring& description) {
    Behaviour behaviour;
    for (const std::wstring& item : split(description, L';')) {
        const std::vector<std::wstring> tokens = split(item, L' ');
        if (tokens.empty()) continue;
        if (tokens[0][0] == L'!') {
            const std::wstring& flag = tokens[0];
            if (flag.rfind(L"!count=", 0) == 0) {
                behaviour.counted = true;
                behaviour.count = std::wcstol(flag.c_str() + 7, nullptr, 10);
            }
            if (flag == L"!endless-pins") behaviour.endlessPins = true;
            if (flag == L"!no-capture") behaviour.noCapture = true;
            if (flag == L"!throw") behaviour.throws = true;
            if (flag == L"!huge-rate-count") behaviour.hugeRateCount = true;
            if (flag == L"!track") behaviour.track = true;
            if (flag.rfind(L"!caps-size=", 0) == 0)
                behaviour.capsSize = static_cast<int>(std::wcstol(flag.c_str() + 11, nullptr, 10));
            continue;
        }
        if (tokens.size() < 3 || tokens[0].size() != 4) continue;
        Capability cap;
        for (int i = 3; i >= 0; --i) cap.fourcc = (cap.fourcc << 8) | static_cast<BYTE>(tokens[0][i]);
        LONGLONG w = 0, h = 0;
        pairOf(tokens[1], L'x', w, h);
        cap.width = static_cast<LONG>(w);
        cap.height = static_cast<LONG>(h);
        pairOf(tokens[2], L'-', cap.minInterval, cap.maxInterval);
        cap.minSize = cap.maxSize = SIZE{cap.width, cap.height < 0 ? -cap.height : cap.height};
        for (std::size_t t = 3; t < tokens.size(); ++t) {
            const std::wstring& token = tokens[t];
            if (token.rfind(L"sizes=", 0) == 0) {
                // W0xH0-W1xH1/GXxGY
                LONGLONG a = 0, b = 0;
                const std::wstring range = token.substr(6);
                const auto dash = range.find(L'-'), slash = range.find(L'/');
                pairOf(range.substr(0, dash), L'x', a, b);
                cap.minSize = SIZE{static_cast<LONG>(a), static_cast<LONG>(b)};
                pairOf(range.substr(dash + 1, slash - dash - 1), L'x', a, b);
                cap.maxSize = SIZE{static_cast<LONG>(a), static_cast<LONG>(b)};
                pairOf(range.substr(slash + 1), L'x', a, b);
                cap.granularity = SIZE{static_cast<LONG>(a), static_cast<LONG>(b)};
            } else if (token.rfind(L"rates=", 0) == 0) {
                for (const std::wstring& rate : split(token.substr(6), L','))
                    cap.rates.push_back(std::wcstoll(rate.c_str(), nullptr, 10));
            } else if (token == L"vi2") {
                cap.videoInfo2 = true;
            } else if (token == L"format=none") {
                cap.format = Capability::Format::None;
            } else if (token == L"format=short") {
                cap.format = Capability::Format::Short;
            } else if (token == L"format=wave") {
                cap.format = Capability::Format::Wave;
            }
        }
        behaviour.caps.push_back(cap);
    }
    return behaviour;
}

// An object of one interface (besides IUnknown), freed with its last reference: the media types'
// tokens and the enumerators share this, each adding only what it answers.
template <class Interface>
class Counted : public Interface {
public:
    explicit Counted(const IID& id) : id_(id) {}
    virtual ~Counted() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (id != IID_IUnknown && id != id_) return E_NOINTERFACE;
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --references_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

private:
    std::atomic<long> references_{1};
    const IID& id_;
};

// A media type's pUnk under !track: one more object of the DLL while it lives.
class Token final : public Counted<IUnknown> {
public:
    Token() : Counted(IID_IUnknown) { ++g_objects; }
    ~Token() override { --g_objects; }
};

const GUID kFourccBase = {0x00000000, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID kFormatWave = {0x05589f81, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};

// A media type in task memory, as DirectShow hands them out; freed by the caller.
AM_MEDIA_TYPE* newMediaType(const Capability& cap) {
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    std::memset(type, 0, sizeof *type);
    type->majortype = MEDIATYPE_Video;
    type->subtype = kFourccBase;
    type->subtype.Data1 = cap.fourcc;
    type->bFixedSizeSamples = TRUE;
    const LONG width = cap.width, height = cap.height;
    const ULONG image = static_cast<ULONG>(width) * static_cast<ULONG>(height < 0 ? -height : height) * 2;
    type->lSampleSize = image;
    BITMAPINFOHEADER* header = nullptr;
    ULONG size = 0;
    if (cap.videoInfo2) {
        size = sizeof(VIDEOINFOHEADER2);
        auto* info = static_cast<VIDEOINFOHEADER2*>(CoTaskMemAlloc(size));
        std::memset(info, 0, size);
        info->AvgTimePerFrame = cap.minInterval;
        header = &info->bmiHeader;
        type->pbFormat = reinterpret_cast<BYTE*>(info);
        type->formattype = FORMAT_VideoInfo2;
    } else {
        size = sizeof(VIDEOINFOHEADER);
        auto* info = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(size));
        std::memset(info, 0, size);
        info->AvgTimePerFrame = cap.minInterval;
        header = &info->bmiHeader;
        type->pbFormat = reinterpret_cast<BYTE*>(info);
        type->formattype = FORMAT_VideoInfo;
    }
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = 16;
    header->biCompression = cap.fourcc;
    header->biSizeImage = image;
    type->cbFormat = size;
    switch (cap.format) {
        case Capability::Format::Whole: break;
        case Capability::Format::None:
            CoTaskMemFree(type->pbFormat);
            type->pbFormat = nullptr;
            type->cbFormat = 0;
            break;
        case Capability::Format::Short: type->cbFormat = sizeof(BITMAPINFOHEADER) / 2; break;
        case Capability::Format::Wave: type->formattype = kFormatWave; break;
    }
    return type;
}

void freeMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr) return;
    if (type->pbFormat != nullptr) CoTaskMemFree(type->pbFormat);
    if (type->pUnk != nullptr) type->pUnk->Release();
    CoTaskMemFree(type);
}

HRESULT copyMediaType(AM_MEDIA_TYPE* to, const AM_MEDIA_TYPE* from) {
    *to = *from;
    to->pUnk = nullptr;
    to->pbFormat = nullptr;
    if (from->cbFormat != 0 && from->pbFormat != nullptr) {
        to->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from->cbFormat));
        if (to->pbFormat == nullptr) return E_OUTOFMEMORY;
        std::memcpy(to->pbFormat, from->pbFormat, from->cbFormat);
    } else {
        to->cbFormat = 0;
    }
    return S_OK;
}

wchar_t* taskText(const wchar_t* text) {
    const std::size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (copy != nullptr) std::memcpy(copy, text, bytes);
    return copy;
}

class Filter;

// The one output pin. Its references are its filter's: it lives as long as the filter does.
class Pin final : public IPin, public IKsPropertySet, public IAMStreamConfig {
public:
    Pin(Filter& filter, bool capture) : filter_(filter), capture_(capture) {}
    ~Pin() {
        stop();
        Disconnect();
        if (format_ != nullptr) freeMediaType(format_);
    }

    // Streaming, while the graph runs.
    void start();
    void stop();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE* wanted) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE Disconnect() override {
        if (connected_ == nullptr) return S_FALSE;
        stop();
        if (allocator_ != nullptr) allocator_->Release();
        if (input_ != nullptr) input_->Release();
        allocator_ = nullptr;
        input_ = nullptr;
        connected_->Release();
        connected_ = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override {
        if (pin == nullptr) return E_POINTER;
        *pin = connected_;
        if (connected_ == nullptr) return VFW_E_NOT_CONNECTED;
        connected_->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override {
        if (type == nullptr) return E_POINTER;
        if (connected_ == nullptr) return VFW_E_NOT_CONNECTED;
        return copyMediaType(type, current());
    }
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override {
        if (direction == nullptr) return E_POINTER;
        *direction = PINDIR_OUTPUT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override {
        if (id == nullptr) return E_POINTER;
        *id = taskText(capture_ ? L"Capture" : L"Other");
        return *id != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IKsPropertySet
    HRESULT STDMETHODCALLTYPE Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size,
                                  DWORD* returned) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override {
        if (set != AMPROPSETID_Pin || id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
        if (support != nullptr) *support = KSPROPERTY_SUPPORT_GET;
        return S_OK;
    }

    // IAMStreamConfig
    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* type) override {
        if (type == nullptr) return E_POINTER;
        auto* copy = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (copy == nullptr) return E_OUTOFMEMORY;
        copyMediaType(copy, type);
        if (format_ != nullptr) freeMediaType(format_);
        format_ = copy;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** type) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

private:
    const AM_MEDIA_TYPE* current();

    void deliver();

    Filter& filter_;
    const bool capture_;
    IPin* connected_ = nullptr;
    AM_MEDIA_TYPE* format_ = nullptr;
    IMemInputPin* input_ = nullptr;
    IMemAllocator* allocator_ = nullptr;
    std::thread streaming_;
    std::atomic<bool> running_{false};
};

class Filter final : public IBaseFilter, public IPersistPropertyBag, public IAMVideoControl {
public:
    Filter() : pin_(*this, true), other_(*this, false) { ++g_objects; }
    ~Filter() { --g_objects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (id == IID_IUnknown || id == IID_IBaseFilter || id == IID_IMediaFilter || id == IID_IPersist) {
            *object = static_cast<IBaseFilter*>(this);
        } else if (id == IID_IPersistPropertyBag) {
            *object = static_cast<IPersistPropertyBag*>(this);
        } else if (id == IID_IAMVideoControl) {
            *object = static_cast<IAMVideoControl*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --references_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IPersist, IMediaFilter, IBaseFilter
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override {
        if (id == nullptr) return E_POINTER;
        *id = GUID_NULL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        pin_.stop();
        state_ = State_Stopped;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Pause() override {
        pin_.stop();
        state_ = State_Paused;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override {
        pin_.start();
        state_ = State_Running;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* state) override {
        if (state == nullptr) return E_POINTER;
        *state = state_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override {
        if (clock == nullptr) return E_POINTER;
        *clock = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin** pin) override {
        if (pin == nullptr) return E_POINTER;
        *pin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override {
        if (info == nullptr) return E_POINTER;
        std::wcsncpy(info->achName, name_.c_str(), MAX_FILTER_NAME - 1);
        info->achName[MAX_FILTER_NAME - 1] = 0;
        info->pGraph = graph_;
        if (graph_ != nullptr) graph_->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
        graph_ = graph;  // not held: the graph holds its filters
        name_ = name != nullptr ? name : L"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    // IPersistPropertyBag: the device's own values tell what to be.
    HRESULT STDMETHODCALLTYPE InitNew() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override {
        if (bag == nullptr) return E_POINTER;
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_BSTR;
        if (bag->Read(L"ZorvekFake", &value, log) == S_OK && value.vt == VT_BSTR && value.bstrVal != nullptr)
            behaviour_ = parse(value.bstrVal);
        VariantClear(&value);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag*, BOOL, BOOL) override { return E_NOTIMPL; }

    // IAMVideoControl: the discrete rates, where the capability has them.
    HRESULT STDMETHODCALLTYPE GetCaps(IPin*, LONG* flags) override {
        if (flags == nullptr) return E_POINTER;
        *flags = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMode(IPin*, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMode(IPin*, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentActualFrameRate(IPin*, LONGLONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMaxAvailableFrameRate(IPin*, LONG, SIZE, LONGLONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFrameRateList(IPin* pin, LONG index, SIZE, LONG* count, LONGLONG** rates) override {
        if (count == nullptr || rates == nullptr) return E_POINTER;
        *count = 0;
        *rates = nullptr;
        if (pin != static_cast<IPin*>(&pin_) || index < 0 || behaviour_.caps.empty()) return E_INVALIDARG;
        const Capability& cap = behaviour_.caps[static_cast<std::size_t>(index) % behaviour_.caps.size()];
        if (cap.rates.empty()) return E_NOTIMPL;
        *rates = static_cast<LONGLONG*>(CoTaskMemAlloc(cap.rates.size() * sizeof(LONGLONG)));
        if (*rates == nullptr) return E_OUTOFMEMORY;
        std::memcpy(*rates, cap.rates.data(), cap.rates.size() * sizeof(LONGLONG));
        *count = behaviour_.hugeRateCount ? 0x7FFFFFFF : static_cast<LONG>(cap.rates.size());
        return S_OK;
    }

    const Behaviour& behaviour() const { return behaviour_; }
    IPin* capturePin() { return &pin_; }
    IPin* otherPin() { return &other_; }

private:
    std::atomic<long> references_{1};
    FILTER_STATE state_ = State_Stopped;
    IFilterGraph* graph_ = nullptr;
    std::wstring name_;
    Behaviour behaviour_;
    Pin pin_;
    Pin other_;  // of no category: what an endless enumeration repeats
};

HRESULT Pin::QueryInterface(REFIID id, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (id == IID_IUnknown || id == IID_IPin) {
        *object = static_cast<IPin*>(this);
    } else if (id == IID_IKsPropertySet) {
        *object = static_cast<IKsPropertySet*>(this);
    } else if (id == IID_IAMStreamConfig) {
        *object = static_cast<IAMStreamConfig*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}
ULONG Pin::AddRef() { return filter_.AddRef(); }
ULONG Pin::Release() { return filter_.Release(); }

HRESULT Pin::QueryPinInfo(PIN_INFO* info) {
    if (info == nullptr) return E_POINTER;
    info->pFilter = &filter_;
    filter_.AddRef();
    info->dir = PINDIR_OUTPUT;
    std::wcsncpy(info->achName, capture_ ? L"Capture" : L"Other", MAX_PIN_NAME - 1);
    info->achName[MAX_PIN_NAME - 1] = 0;
    return S_OK;
}

HRESULT Pin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) {
    if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (!capture_) return E_PROP_ID_UNSUPPORTED;
    if (data == nullptr && returned != nullptr) {
        *returned = sizeof(GUID);
        return S_OK;
    }
    if (data == nullptr) return E_POINTER;
    if (size < sizeof(GUID)) return E_UNEXPECTED;
    *static_cast<GUID*>(data) = filter_.behaviour().noCapture ? PIN_CATEGORY_PREVIEW : PIN_CATEGORY_CAPTURE;
    if (returned != nullptr) *returned = sizeof(GUID);
    return S_OK;
}

const AM_MEDIA_TYPE* Pin::current() {
    if (format_ == nullptr && !filter_.behaviour().caps.empty()) format_ = newMediaType(filter_.behaviour().caps[0]);
    return format_;
}

HRESULT Pin::GetFormat(AM_MEDIA_TYPE** type) {
    if (type == nullptr) return E_POINTER;
    *type = nullptr;
    const AM_MEDIA_TYPE* now = current();
    if (now == nullptr) return VFW_E_NOT_CONNECTED;
    *type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (*type == nullptr) return E_OUTOFMEMORY;
    return copyMediaType(*type, now);
}

HRESULT Pin::GetNumberOfCapabilities(int* count, int* size) {
    if (count == nullptr || size == nullptr) return E_POINTER;
    const Behaviour& behaviour = filter_.behaviour();
    *count = behaviour.counted ? static_cast<int>(behaviour.count) : static_cast<int>(behaviour.caps.size());
    *size = behaviour.capsSize;
    return S_OK;
}

HRESULT Pin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
    if (type == nullptr || caps == nullptr) return E_POINTER;
    *type = nullptr;
    const Behaviour& behaviour = filter_.behaviour();
    if (behaviour.throws) throw std::runtime_error("the fake filter fails");
    const long count = behaviour.counted ? behaviour.count : static_cast<long>(behaviour.caps.size());
    if (index < 0 || index >= count || behaviour.caps.empty()) return S_FALSE;
    const Capability& cap = behaviour.caps[static_cast<std::size_t>(index) % behaviour.caps.size()];
    *type = newMediaType(cap);
    if (behaviour.track) (*type)->pUnk = new Token();
    auto* config = reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS*>(caps);
    std::memset(config, 0, sizeof *config);
    config->guid = FORMAT_VideoInfo;
    config->InputSize = cap.maxSize;
    config->MinCroppingSize = config->MaxCroppingSize = cap.maxSize;
    config->MinOutputSize = cap.minSize;
    config->MaxOutputSize = cap.maxSize;
    config->OutputGranularityX = cap.granularity.cx;
    config->OutputGranularityY = cap.granularity.cy;
    config->MinFrameInterval = cap.minInterval;
    config->MaxFrameInterval = cap.maxInterval;
    return S_OK;
}

HRESULT Pin::Connect(IPin* receiver, const AM_MEDIA_TYPE* wanted) {
    if (receiver == nullptr) return E_POINTER;
    if (connected_ != nullptr) return VFW_E_ALREADY_CONNECTED;
    const AM_MEDIA_TYPE* type = wanted != nullptr && wanted->majortype != GUID_NULL ? wanted : current();
    if (type == nullptr) return VFW_E_NO_ACCEPTABLE_TYPES;
    HRESULT hr = receiver->ReceiveConnection(this, type);
    if (FAILED(hr)) return hr;
    if (type != format_) SetFormat(const_cast<AM_MEDIA_TYPE*>(type));
    connected_ = receiver;
    connected_->AddRef();
    // Samples come from the receiver's allocator, else from the system's.
    if (receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input_)) != S_OK) return S_OK;
    if (input_->GetAllocator(&allocator_) != S_OK || allocator_ == nullptr) {
        allocator_ = nullptr;
        hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                              reinterpret_cast<void**>(&allocator_));
        if (FAILED(hr)) return hr;
    }
    ALLOCATOR_PROPERTIES properties{2, static_cast<long>(format_->lSampleSize > 0 ? format_->lSampleSize : 1), 1, 0};
    ALLOCATOR_PROPERTIES actual{};
    hr = allocator_->SetProperties(&properties, &actual);
    if (FAILED(hr)) return hr;
    return input_->NotifyAllocator(allocator_, FALSE);
}

void Pin::start() {
    if (input_ == nullptr || allocator_ == nullptr || running_) return;
    if (FAILED(allocator_->Commit())) return;
    running_ = true;
    streaming_ = std::thread([this] { deliver(); });
}

void Pin::stop() {
    if (!running_.exchange(false)) return;
    if (allocator_ != nullptr) allocator_->Decommit();  // ends a GetBuffer that waits
    if (streaming_.joinable()) streaming_.join();
}

// Gray frames of the connected format's sample size, one per frame interval, until stopped.
void Pin::deliver() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const auto* info = format_ != nullptr && format_->formattype == FORMAT_VideoInfo && format_->pbFormat != nullptr
                           ? reinterpret_cast<const VIDEOINFOHEADER*>(format_->pbFormat)
                           : nullptr;
    const REFERENCE_TIME interval = info != nullptr && info->AvgTimePerFrame > 0 ? info->AvgTimePerFrame : 333333;
    for (REFERENCE_TIME time = 0; running_; time += interval) {
        IMediaSample* sample = nullptr;
        if (allocator_->GetBuffer(&sample, nullptr, nullptr, 0) != S_OK || sample == nullptr) break;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const long size = sample->GetSize();
        std::memset(data, 0x80, static_cast<std::size_t>(size));
        sample->SetActualDataLength(size);
        REFERENCE_TIME end = time + interval;
        sample->SetTime(&time, &end);
        sample->SetSyncPoint(TRUE);
        const HRESULT hr = input_->Receive(sample);
        sample->Release();
        if (hr != S_OK) break;
        Sleep(static_cast<DWORD>(interval / 10000));
    }
    CoUninitialize();
}

// The pins in order; with !endless-pins, the pin of no category again and again, never the end.
class PinList final : public Counted<IEnumPins> {
public:
    PinList(Filter& filter, ULONG position) : Counted(IID_IEnumPins), filter_(filter), position_(position) {
        filter_.AddRef();
    }
    ~PinList() override { filter_.Release(); }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
        if (pins == nullptr) return E_POINTER;
        ULONG given = 0;
        while (given < count) {
            IPin* pin = nullptr;
            if (filter_.behaviour().endlessPins) {
                pin = filter_.otherPin();
            } else if (position_ == 0) {
                pin = filter_.capturePin();
            } else {
                break;
            }
            ++position_;
            pin->AddRef();
            pins[given++] = pin;
        }
        if (fetched != nullptr) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        position_ += count;
        return filter_.behaviour().endlessPins || position_ <= 1 ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** copy) override {
        if (copy == nullptr) return E_POINTER;
        *copy = new PinList(filter_, position_);
        return S_OK;
    }

private:
    Filter& filter_;
    ULONG position_;
};

HRESULT Filter::EnumPins(IEnumPins** pins) {
    if (pins == nullptr) return E_POINTER;
    *pins = new PinList(*this, 0);
    return S_OK;
}

// The pin's media types: one per capability given.
class MediaTypeList final : public Counted<IEnumMediaTypes> {
public:
    MediaTypeList(Filter& filter, ULONG position) : Counted(IID_IEnumMediaTypes), filter_(filter), position_(position) {
        filter_.AddRef();
    }
    ~MediaTypeList() override { filter_.Release(); }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
        if (types == nullptr) return E_POINTER;
        const std::vector<Capability>& caps = filter_.behaviour().caps;
        ULONG given = 0;
        while (given < count && position_ < caps.size()) types[given++] = newMediaType(caps[position_++]);
        if (fetched != nullptr) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        position_ += count;
        return position_ <= filter_.behaviour().caps.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** copy) override {
        if (copy == nullptr) return E_POINTER;
        *copy = new MediaTypeList(filter_, position_);
        return S_OK;
    }

private:
    Filter& filter_;
    ULONG position_;
};

HRESULT Pin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (types == nullptr) return E_POINTER;
    *types = new MediaTypeList(filter_, 0);
    return S_OK;
}

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (id != IID_IUnknown && id != IID_IClassFactory) return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // static: never freed
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* filter = new Filter();
        const HRESULT hr = filter->QueryInterface(id, object);
        filter->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

// Any class ID: the registry names this DLL for the one the tests chose.
extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID id, void** object) {
    return g_factory.QueryInterface(id, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }
