// readCameraModes on Windows: the camera's capture filter, bound again from its moniker's display
// name, asked through its capture pin's IAMStreamConfig for the capabilities it offers, and through
// the filter's IAMVideoControl for each capability's discrete frame rates where it has them.
//
// Whatever the filter answers is taken as hostile: every enumeration is bounded (modebounds), sizes
// and rates that no camera has are dropped, media types without a video format block of their stated
// size are skipped, and a filter that throws ends the reading with the step it was in. Everything
// obtained is released, every media type and rate list freed, on every way out.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <numeric>
#include <string>
#include <vector>

#include "camera_modes.h"
#include "platform.h"

#include <dvdmedia.h>  // VIDEOINFOHEADER2, FORMAT_VideoInfo2

namespace {

constexpr HRESULT kUnexpected = static_cast<HRESULT>(0x8000FFFFu);  // E_UNEXPECTED
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80040216u);    // VFW_E_NOT_FOUND
constexpr HRESULT kSyntax = static_cast<HRESULT>(0x800401E4u);      // MK_E_SYNTAX
constexpr LONGLONG kUnitsPerSecond = 10000000;                      // REFERENCE_TIME: 100 ns units
// A capability's caps block larger than this is no VIDEO_STREAM_CONFIG_CAPS of any filter.
constexpr int kMaxCapsSize = 4096;

// A media type that GetStreamCaps allocated: its format block, its pUnk and itself, freed together.
class MediaType {
public:
    MediaType() = default;
    MediaType(const MediaType&) = delete;
    MediaType& operator=(const MediaType&) = delete;
    ~MediaType() { reset(); }
    AM_MEDIA_TYPE** put() {
        reset();
        return &type_;
    }
    const AM_MEDIA_TYPE* get() const { return type_; }
    void reset() {
        if (type_ == nullptr) return;
        if (type_->pbFormat != nullptr) CoTaskMemFree(type_->pbFormat);
        if (type_->pUnk != nullptr) type_->pUnk->Release();
        CoTaskMemFree(type_);
        type_ = nullptr;
    }

private:
    AM_MEDIA_TYPE* type_ = nullptr;
};

// The list of 100 ns intervals that GetFrameRateList allocated.
class RateList {
public:
    RateList() = default;
    RateList(const RateList&) = delete;
    RateList& operator=(const RateList&) = delete;
    ~RateList() {
        if (list_ != nullptr) CoTaskMemFree(list_);
    }
    LONGLONG** put() { return &list_; }
    const LONGLONG* get() const { return list_; }

private:
    LONGLONG* list_ = nullptr;
};

// A pointer that one interface's QueryInterface gave, held by its own kind of holder.
template <class Interface>
bool query(IUnknown& from, REFIID id, ComPtr<Interface>& to) {
    return from.QueryInterface(id, to.putVoid()) == S_OK && to;
}

// The step a reading is in, for its failure and for an exception that ends it.
struct Steps {
    const char* current = "";
    ModeReading* reading;
    void fail(HRESULT hr) {
        reading->modes.clear();
        reading->failedStep = current;
        reading->error = static_cast<std::int32_t>(hr);
    }
};

// A FourCC subtype is {XXXXXXXX-0000-0010-8000-00AA00389B71}, its FourCC in Data1.
bool isFourccSubtype(const GUID& subtype) {
    GUID base = subtype;
    base.Data1 = 0;
    static const GUID kBase = {0x00000000, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    return base == kBase;
}

// 100 ns units as an exact time per frame; false for none (zero, negative, or one too long to hold).
bool intervalOf(LONGLONG units, FrameInterval& interval) {
    if (units <= 0) return false;
    const LONGLONG common = std::gcd(units, kUnitsPerSecond);
    const LONGLONG numerator = units / common;
    if (numerator > static_cast<LONGLONG>(UINT32_MAX)) return false;
    interval.numerator = static_cast<std::uint32_t>(numerator);
    interval.denominator = static_cast<std::uint32_t>(kUnitsPerSecond / common);
    return true;
}

bool plausible(LONGLONG size) { return size > 0 && size <= static_cast<LONGLONG>(modebounds::kMaxDimension); }

bool sameMode(const CameraMode& a, const CameraMode& b) {
    const auto same = [](const FrameInterval& x, const FrameInterval& y) {
        return x.numerator == y.numerator && x.denominator == y.denominator;
    };
    return a.fourcc == b.fourcc && a.sizes == b.sizes && a.width == b.width && a.height == b.height &&
           a.maxWidth == b.maxWidth && a.maxHeight == b.maxHeight && a.stepWidth == b.stepWidth &&
           a.stepHeight == b.stepHeight && a.hasRate == b.hasRate && a.rates == b.rates &&
           same(a.interval, b.interval) && same(a.maxInterval, b.maxInterval) && same(a.stepInterval, b.stepInterval);
}

// Keeps a mode unless the reading has it already or holds as many as it may; false when full.
bool keep(std::vector<CameraMode>& modes, const CameraMode& mode) {
    if (modes.size() >= modebounds::kModes) return false;
    for (const CameraMode& known : modes) {
        if (sameMode(known, mode)) return true;
    }
    modes.push_back(mode);
    return true;
}

// The filter's capture pin: the first output pin whose category is PIN_CATEGORY_CAPTURE.
bool findCapturePin(IEnumPins& pins, ComPtr<IPin>& capture, std::uint32_t& calls) {
    for (std::uint32_t n = 0; n < modebounds::kEntriesPerLevel && calls < modebounds::kDeviceCalls; ++n) {
        ComPtr<IPin> pin;
        ULONG fetched = 0;
        ++calls;
        if (pins.Next(1, pin.put(), &fetched) != S_OK || fetched != 1 || !pin) return false;
        PIN_DIRECTION direction = PINDIR_INPUT;
        if (pin->QueryDirection(&direction) != S_OK || direction != PINDIR_OUTPUT) continue;
        ComPtr<IKsPropertySet> properties;
        if (!query(*pin.get(), IID_IKsPropertySet, properties)) continue;
        GUID category{};
        DWORD returned = 0;
        ++calls;
        if (properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category,
                            &returned) == S_OK &&
            returned == sizeof category && category == PIN_CATEGORY_CAPTURE) {
            pin->AddRef();
            *capture.put() = pin.get();
            return true;
        }
    }
    return false;
}

// The size (and format) of one capability, from its caps and its media type; false when it has
// none that a camera could have, or no video format block of its stated size.
bool describe(const AM_MEDIA_TYPE& type, const VIDEO_STREAM_CONFIG_CAPS& caps, CameraMode& mode) {
    if (type.majortype != MEDIATYPE_Video || type.pbFormat == nullptr) return false;
    const BITMAPINFOHEADER* header = nullptr;
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        header = &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
    } else if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        header = &reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
    } else {
        return false;
    }
    // The FourCC as Windows reports it: the subtype's, else the bitmap's compression; an RGB
    // subtype (BI_RGB, BI_BITFIELDS) keeps its subtype's first part, as the only name it has.
    if (isFourccSubtype(type.subtype) || header->biCompression <= 3) {
        mode.fourcc = type.subtype.Data1;
    } else {
        mode.fourcc = header->biCompression;
    }

    const SIZE low = caps.MinOutputSize, high = caps.MaxOutputSize;
    const bool ranged = low.cx != high.cx || low.cy != high.cy;
    if (ranged && plausible(low.cx) && plausible(low.cy) && plausible(high.cx) && plausible(high.cy) &&
        low.cx <= high.cx && low.cy <= high.cy && caps.OutputGranularityX > 0 && caps.OutputGranularityY > 0 &&
        caps.OutputGranularityX <= high.cx && caps.OutputGranularityY <= high.cy) {
        mode.sizes = ModeSpan::Stepwise;
        mode.width = static_cast<std::uint32_t>(low.cx);
        mode.height = static_cast<std::uint32_t>(low.cy);
        mode.maxWidth = static_cast<std::uint32_t>(high.cx);
        mode.maxHeight = static_cast<std::uint32_t>(high.cy);
        mode.stepWidth = static_cast<std::uint32_t>(caps.OutputGranularityX);
        mode.stepHeight = static_cast<std::uint32_t>(caps.OutputGranularityY);
        return true;
    }
    // One size: the one this media type delivers (a bottom-up bitmap's height is negative).
    const LONGLONG width = header->biWidth;
    const LONGLONG height = std::llabs(static_cast<LONGLONG>(header->biHeight));
    if (!plausible(width) || !plausible(height)) return false;
    mode.sizes = ModeSpan::Discrete;
    mode.width = static_cast<std::uint32_t>(width);
    mode.height = static_cast<std::uint32_t>(height);
    return true;
}

// The caps' rate range: one rate where its ends agree, none where they are no intervals at all.
void rangeOfRates(const VIDEO_STREAM_CONFIG_CAPS& caps, CameraMode& mode) {
    LONGLONG shortest = caps.MinFrameInterval, longest = caps.MaxFrameInterval;
    if (shortest > longest) std::swap(shortest, longest);
    FrameInterval low, high;
    if (!intervalOf(shortest, low) || !intervalOf(longest, high)) {
        // One end unusable: the other alone, where it is an interval, else no rate.
        mode.hasRate = intervalOf(shortest, mode.interval) || intervalOf(longest, mode.interval);
        mode.rates = ModeSpan::Discrete;
        return;
    }
    mode.hasRate = true;
    mode.interval = low;
    if (shortest == longest) {
        mode.rates = ModeSpan::Discrete;
        return;
    }
    mode.rates = ModeSpan::Continuous;
    mode.maxInterval = high;
}

}  // namespace

ModeReading readCameraModes(const std::u16string& source) {
    ModeReading reading;
    Steps steps{"CoInitializeEx", &reading};
    const ComOnThisThread com;
    if (!com.usable()) {
        steps.fail(com.result());
        return reading;
    }
    try {
        steps.current = "MkParseDisplayName";
        if (source.empty() || source.size() > 4096 || source.find(u'\0') != std::u16string::npos) {
            steps.fail(E_INVALIDARG);
            return reading;
        }
        const std::wstring name(source.begin(), source.end());
        ComPtr<IBindCtx> context;
        HRESULT hr = CreateBindCtx(0, context.put());
        if (hr != S_OK || !context) {
            steps.current = "CreateBindCtx";
            steps.fail(FAILED(hr) ? hr : kUnexpected);
            return reading;
        }
        ComPtr<IMoniker> moniker;
        ULONG eaten = 0;
        hr = MkParseDisplayName(context.get(), name.c_str(), &eaten, moniker.put());
        if (hr != S_OK || !moniker) {
            steps.fail(FAILED(hr) ? hr : kUnexpected);
            return reading;
        }
        // A moniker of only part of the name could be another device's.
        if (eaten != name.size()) {
            steps.fail(kSyntax);
            return reading;
        }

        steps.current = "IMoniker::BindToObject(IID_IBaseFilter)";
        ComPtr<IBaseFilter> filter;
        hr = moniker->BindToObject(context.get(), nullptr, IID_IBaseFilter, filter.putVoid());
        if (FAILED(hr) || !filter) {
            steps.fail(FAILED(hr) ? hr : kUnexpected);
            return reading;
        }

        std::uint32_t calls = 0;
        steps.current = "IBaseFilter::EnumPins";
        ComPtr<IEnumPins> pins;
        hr = filter->EnumPins(pins.put());
        if (FAILED(hr) || !pins) {
            steps.fail(FAILED(hr) ? hr : kUnexpected);
            return reading;
        }
        steps.current = "IKsPropertySet::Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY)";
        ComPtr<IPin> pin;
        if (!findCapturePin(*pins.get(), pin, calls)) {
            steps.fail(kNotFound);
            return reading;
        }
        pins.reset();

        steps.current = "IPin::QueryInterface(IID_IAMStreamConfig)";
        ComPtr<IAMStreamConfig> config;
        hr = pin->QueryInterface(IID_IAMStreamConfig, config.putVoid());
        if (FAILED(hr) || !config) {
            steps.fail(FAILED(hr) ? hr : E_NOINTERFACE);
            return reading;
        }
        steps.current = "IAMStreamConfig::GetNumberOfCapabilities";
        int count = 0, size = 0;
        hr = config->GetNumberOfCapabilities(&count, &size);
        if (FAILED(hr)) {
            steps.fail(hr);
            return reading;
        }
        // Caps of another kind than video's (or of no size a filter could mean) cannot be read.
        if (count < 0 || size < static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)) || size > kMaxCapsSize) {
            steps.fail(kUnexpected);
            return reading;
        }
        // The filter's own discrete rates, where it has them.
        ComPtr<IAMVideoControl> control;
        query(*filter.get(), IID_IAMVideoControl, control);

        // Aligned for the caps structure the filter writes into it.
        std::vector<std::uint64_t> capsBuffer((static_cast<std::size_t>(size) + 7) / 8);
        const auto* caps = reinterpret_cast<const VIDEO_STREAM_CONFIG_CAPS*>(capsBuffer.data());
        const int capabilities = std::min<int>(count, static_cast<int>(modebounds::kEntriesPerLevel));
        for (int index = 0; index < capabilities && calls < modebounds::kDeviceCalls; ++index) {
            steps.current = "IAMStreamConfig::GetStreamCaps";
            MediaType type;
            std::fill(capsBuffer.begin(), capsBuffer.end(), 0);
            ++calls;
            hr = config->GetStreamCaps(index, type.put(), reinterpret_cast<BYTE*>(capsBuffer.data()));
            if (hr == S_FALSE) break;  // past the last capability
            if (hr != S_OK || type.get() == nullptr) continue;
            CameraMode mode;
            if (!describe(*type.get(), *caps, mode)) continue;

            if (control && mode.sizes == ModeSpan::Discrete && calls < modebounds::kDeviceCalls) {
                steps.current = "IAMVideoControl::GetFrameRateList";
                RateList rates;
                long listed = 0;
                const SIZE dimensions{static_cast<LONG>(mode.width), static_cast<LONG>(mode.height)};
                ++calls;
                hr = control->GetFrameRateList(pin.get(), index, dimensions, &listed, rates.put());
                // A list the filter says is longer than any camera's is not read at all: its memory
                // may be shorter than it says.
                if (hr == S_OK && rates.get() != nullptr && listed > 0 &&
                    listed <= static_cast<long>(modebounds::kEntriesPerLevel)) {
                    bool any = false;
                    for (long r = 0; r < listed; ++r) {
                        CameraMode rated = mode;
                        rated.hasRate = true;
                        rated.rates = ModeSpan::Discrete;
                        if (!intervalOf(rates.get()[r], rated.interval)) continue;
                        any = true;
                        if (!keep(reading.modes, rated)) return reading;
                    }
                    if (any) continue;
                }
            }
            rangeOfRates(*caps, mode);
            if (!keep(reading.modes, mode)) return reading;
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        // An in-process filter's C++ exception: the reading ends at the step that raised it.
        steps.fail(kUnexpected);
    }
    return reading;
}
