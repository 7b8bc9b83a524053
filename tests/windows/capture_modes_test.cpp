// The DirectShow reader of camera modes against the tests' own capture filter
// (fake_filter/fake_filter.cpp), registered in the Wine prefix's registry and named by each injected
// device's "CLSID" value; each device's "ZorvekFake" value tells the filter what to offer and how to
// misbehave. The devices are bound again from the display names the listing gives.
#include <gtest/gtest.h>

#include "platform.h"

#include <string>
#include <vector>

#include "camera_modes.h"
#include "listing.h"

namespace {

const wchar_t kInstanceKey[] = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance";
const wchar_t kFilterClass[] = L"{7A3C1E52-9B4D-4F60-8E21-5C0D7B9A4F13}";
const wchar_t kTarget[] =
    L"\\\\?\\usb#vid_2560&pid_c0d6&mi_00#6&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

void setText(HKEY key, const wchar_t* name, const std::wstring& text) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

HKEY createKey(const std::wstring& path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << "cannot create a key (does the test own the registry of a Wine prefix?)";
    return key;
}

// The filter's DLL as this program loads it too, to ask it whether any of its objects still lives
// (DllCanUnloadNow): every filter, pin and enumerator holds its filter.
using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
CanUnloadNow g_canUnloadNow = nullptr;

bool everyFilterReleased() { return g_canUnloadNow != nullptr && g_canUnloadNow() == S_OK; }

// The filter's DLL, beside this program, registered for its class.
void registerFilter() {
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_GT(length, 0u);
    std::wstring dll(self, length);
    dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"fake_capture_filter.dll";
    const HMODULE module = LoadLibraryW(dll.c_str());
    ASSERT_NE(module, nullptr) << "fake_capture_filter.dll does not load";
    g_canUnloadNow = reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(GetFileAttributesW(dll.c_str()), INVALID_FILE_ATTRIBUTES) << "fake_capture_filter.dll is not built";
    HKEY key = createKey(std::wstring(L"CLSID\\") + kFilterClass + L"\\InprocServer32");
    ASSERT_NE(key, nullptr);
    setText(key, nullptr, dll);
    setText(key, L"ThreadingModel", L"Both");
    RegCloseKey(key);
}

// A device key per description (the empty one: a device with no filter, no "CLSID" value), keys
// named as the other registry tests name theirs, so that either removes what the other left.
void plugDevices(const std::vector<std::wstring>& fakes) {
    HKEY instance = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kInstanceKey, 0, KEY_READ | KEY_WRITE, &instance) == ERROR_SUCCESS) {
        std::vector<std::wstring> own;
        wchar_t name[256];
        for (DWORD index = 0;; ++index) {
            DWORD length = sizeof name / sizeof name[0];
            if (RegEnumKeyExW(instance, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            if (std::wstring(name).rfind(L"ZorvekTestDevice", 0) == 0) own.emplace_back(name);
        }
        for (const std::wstring& key : own) RegDeleteTreeW(instance, key.c_str());
        RegCloseKey(instance);
    }
    for (std::size_t i = 0; i < fakes.size(); ++i) {
        HKEY key = createKey(std::wstring(kInstanceKey) + L"\\ZorvekTestDevice" + std::to_wstring(2000 + i));
        ASSERT_NE(key, nullptr);
        setText(key, L"DevicePath", kTarget);
        setText(key, L"FriendlyName", L"Fake Camera " + std::to_wstring(i));
        if (!fakes[i].empty()) {
            setText(key, L"CLSID", kFilterClass);
            setText(key, L"ZorvekFake", fakes[i]);
        }
        RegCloseKey(key);
    }
}

// The modes of the one device described, bound by the display name the listing gives it.
ModeReading readOne(const std::wstring& fake) {
    plugDevices({fake});
    const CameraListing listing = listCameras(false);
    EXPECT_EQ(listing.failedStep, nullptr);
    if (listing.cameras.size() != 1 || !listing.cameras[0].moniker) {
        ADD_FAILURE() << "the device is not listed with a moniker";
        return {};
    }
    return readCameraModes(*listing.cameras[0].moniker);
}

constexpr std::uint32_t fourcc(const char (&text)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[3])) << 24;
}

// One mode as text, so that a whole reading compares at once and a mismatch shows which mode.
std::string show(const CameraMode& mode) {
    std::string text;
    for (int i = 0; i < 4; ++i) text.push_back(static_cast<char>((mode.fourcc >> (8 * i)) & 0xFF));
    text += " " + std::to_string(mode.width) + "x" + std::to_string(mode.height);
    if (mode.sizes != ModeSpan::Discrete) {
        text += (mode.sizes == ModeSpan::Stepwise ? "-" : "~") + std::to_string(mode.maxWidth) + "x" +
                std::to_string(mode.maxHeight) + "/" + std::to_string(mode.stepWidth) + "x" +
                std::to_string(mode.stepHeight);
    }
    if (!mode.hasRate) return text + " @none";
    text += " @" + std::to_string(mode.interval.numerator) + "/" + std::to_string(mode.interval.denominator);
    if (mode.rates == ModeSpan::Continuous) {
        text += "~" + std::to_string(mode.maxInterval.numerator) + "/" + std::to_string(mode.maxInterval.denominator);
    }
    return text;
}

std::vector<std::string> shown(const ModeReading& reading) {
    std::vector<std::string> all;
    for (const CameraMode& mode : reading.modes) all.push_back(show(mode));
    return all;
}

class CaptureModes : public ::testing::Test {
protected:
    static void SetUpTestSuite() { registerFilter(); }
    void TearDown() override { plugDevices({}); }
};

struct Case {
    const char* name;
    const wchar_t* fake;
    std::vector<std::string> modes;
};

class CaptureModesRead : public CaptureModes, public ::testing::WithParamInterface<Case> {};

TEST_P(CaptureModesRead, AsTheFilterOffersThem) {
    const ModeReading reading = readOne(GetParam().fake);
    EXPECT_EQ(reading.failedStep, "");
    EXPECT_EQ(reading.error, 0);
    EXPECT_EQ(shown(reading), GetParam().modes);
    EXPECT_TRUE(everyFilterReleased());
}

INSTANTIATE_TEST_SUITE_P(
    Filters, CaptureModesRead,
    ::testing::Values(
        // The filter's discrete rates, in its order, each its own mode; without a list, the caps' range.
        // Intervals are exact in 100 ns units: DirectShow's "30 fps" (333333) is 333333/10000000 s.
        Case{"DiscreteRatesFromTheFilter",
             L"MJPG 1280x720 333333-666666 rates=333333,400000,666666;YUY2 640x480 333333-10000000",
             {"MJPG 1280x720 @333333/10000000", "MJPG 1280x720 @1/25", "MJPG 1280x720 @333333/5000000",
              "YUY2 640x480 @333333/10000000~1/1"}},
        Case{"NtscRatesExact",
             L"YUY2 640x480 333667-333667;MJPG 320x240 333333-666666 rates=333667,667334",
             {"YUY2 640x480 @333667/10000000", "MJPG 320x240 @333667/10000000", "MJPG 320x240 @333667/5000000"}},
        // VIDEOINFOHEADER2, a bottom-up height, an unknown FourCC kept as its characters.
        Case{"FormatBlocksAndFourccs",
             L"H264 1920x1080 333333-333333 vi2;NV12 640x-480 500000-500000;abcd 8x8 333333-333333",
             {"H264 1920x1080 @333333/10000000", "NV12 640x480 @1/20", "abcd 8x8 @333333/10000000"}},
        Case{"SizeRangeStaysARange",
             L"YUY2 640x480 333333-666666 sizes=160x120-1280x960/16x8",
             {"YUY2 160x120-1280x960/16x8 @333333/10000000~333333/5000000"}},
        // Hostile answers: skipped where the capability cannot be read, the rest kept.
        Case{"FormatBlockMissingShortOrAudio",
             L"MJPG 640x480 333333-333333 format=none;MJPG 640x480 333333-333333 format=short;"
             L"MJPG 640x480 333333-333333 format=wave;YUY2 320x240 333333-333333 vi2 format=short;YUY2 320x240 "
             L"333333-333333",
             {"YUY2 320x240 @333333/10000000"}},
        Case{"ZeroAndAbsurdSizes",
             L"YUY2 0x480 333333-333333;YUY2 640x0 333333-333333;YUY2 100000x100 333333-333333;"
             L"YUY2 640x480 333333-333333 sizes=0x0-1280x960/16x8;YUY2 64x48 333333-333333",
             // A size range with a zero end is no range: the media type's own size stands.
             {"YUY2 640x480 @333333/10000000", "YUY2 64x48 @333333/10000000"}},
        Case{"RangeWithNoStep",
             L"YUY2 640x480 333333-333333 sizes=160x120-1280x960/0x0",
             {"YUY2 640x480 @333333/10000000"}},
        Case{"ZeroIntervals",
             L"YUY2 640x480 0-0;YUY2 320x240 0-666666;MJPG 320x240 333333-333333 rates=0,-5,400000",
             {"YUY2 640x480 @none", "YUY2 320x240 @333333/5000000", "MJPG 320x240 @1/25"}},
        Case{"Duplicates",
             L"YUY2 640x480 333333-333333;YUY2 640x480 333333-333333;MJPG 640x480 333333-333333 rates=333333,333333",
             {"YUY2 640x480 @333333/10000000", "MJPG 640x480 @333333/10000000"}},
        // 2^31-1 capabilities, every index answered: bounded, the duplicates dropped.
        Case{"CountOfTwoToTheThirtyOne",
             L"!count=2147483647;YUY2 640x480 333333-333333;MJPG 640x480 333333-333333",
             {"YUY2 640x480 @333333/10000000", "MJPG 640x480 @333333/10000000"}},
        // A rate list that claims 2^31-1 entries is not read: the caps' range stands.
        Case{"AbsurdRateCount",
             L"!huge-rate-count;MJPG 640x480 333333-666666 rates=333333",
             {"MJPG 640x480 @333333/10000000~333333/5000000"}},
        Case{"NoCapabilities", L"!count=0", {}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST_F(CaptureModes, AsManyRatesAsABoundAllows) {
    // More rates than any camera has: the list is not read, the caps' range stands.
    std::wstring rates;
    for (int i = 0; i < 300; ++i) rates += (i ? L"," : L"") + std::to_wstring(333333 + i);
    const ModeReading many = readOne(L"YUY2 640x480 333333-666666 rates=" + rates);
    EXPECT_EQ(shown(many), std::vector<std::string>{"YUY2 640x480 @333333/10000000~333333/5000000"});
    // Distinct capabilities past the per-level bound: the first ones only.
    std::wstring caps = L"!count=100000";
    for (int i = 1; i <= 300; ++i)
        caps += L";YUY2 " + std::to_wstring(i * 2) + L"x" + std::to_wstring(i * 2) + L" 333333-333333";
    const ModeReading bounded = readOne(caps);
    EXPECT_EQ(bounded.failedStep, "");
    ASSERT_EQ(bounded.modes.size(), modebounds::kEntriesPerLevel);
    EXPECT_EQ(show(bounded.modes.back()), "YUY2 512x512 @333333/10000000");
}

struct Failure {
    const char* name;
    const wchar_t* fake;
    const char* step;
    std::uint32_t error;
};

class CaptureModesFail : public CaptureModes, public ::testing::WithParamInterface<Failure> {};

TEST_P(CaptureModesFail, WithTheStepAndItsResult) {
    const ModeReading reading = readOne(GetParam().fake);
    EXPECT_EQ(reading.failedStep, GetParam().step);
    EXPECT_EQ(static_cast<std::uint32_t>(reading.error), GetParam().error);
    EXPECT_TRUE(reading.modes.empty());
    EXPECT_TRUE(everyFilterReleased());  // a filter that throws too
}

INSTANTIATE_TEST_SUITE_P(Filters, CaptureModesFail,
                         ::testing::Values(
                             // No "CLSID" value: the moniker has no filter to create.
                             Failure{"NoFilter", L"", "IMoniker::BindToObject(IID_IBaseFilter)", 0x80070002u},
                             Failure{"NoCapturePin", L"!no-capture;YUY2 640x480 333333-333333",
                                     "IKsPropertySet::Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY)", 0x80040216u},
                             Failure{"EndlessPins", L"!endless-pins;YUY2 640x480 333333-333333",
                                     "IKsPropertySet::Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY)", 0x80040216u},
                             // A count below 0 (2^31 and more, read as a signed int).
                             Failure{"NegativeCount", L"!count=-2147483648;YUY2 640x480 333333-333333",
                                     "IAMStreamConfig::GetNumberOfCapabilities", 0x8000FFFFu},
                             // Caps blocks of no video caps' size: another kind of pin's, or none a filter could mean.
                             Failure{"CapsTooSmall", L"!caps-size=64;YUY2 640x480 333333-333333",
                                     "IAMStreamConfig::GetNumberOfCapabilities", 0x8000FFFFu},
                             Failure{"CapsTooLarge", L"!caps-size=1048576;YUY2 640x480 333333-333333",
                                     "IAMStreamConfig::GetNumberOfCapabilities", 0x8000FFFFu},
                             Failure{"FilterThrows", L"!throw;YUY2 640x480 333333-333333",
                                     "IAMStreamConfig::GetStreamCaps", 0x8000FFFFu}),
                         [](const ::testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

TEST_F(CaptureModes, EveryMediaTypeFreed) {
    // With !track each media type's pUnk is an object of the filter's DLL, released where the media
    // type is freed: all of them, the skipped ones too, or the DLL still has objects alive.
    const ModeReading reading = readOne(
        L"!track;MJPG 1280x720 333333-666666 rates=333333,666666;YUY2 640x480 333333-333333 vi2;"
        L"YUY2 640x480 333333-333333 format=none;YUY2 320x240 333333-333333 format=short;"
        L"YUY2 160x120 333333-333333 format=wave;YUY2 0x0 333333-333333");
    EXPECT_EQ(reading.modes.size(), 3u);
    EXPECT_TRUE(everyFilterReleased());
}

TEST_F(CaptureModes, EachDeviceByItsOwnName) {
    // Identical names, different filters' offers: the display name tells them apart.
    plugDevices({L"YUY2 640x480 333333-333333", L"MJPG 1280x720 333333-333333"});
    const CameraListing listing = listCameras(false);
    ASSERT_EQ(listing.cameras.size(), 2u);
    EXPECT_EQ(shown(readCameraModes(*listing.cameras[0].moniker)),
              std::vector<std::string>{"YUY2 640x480 @333333/10000000"});
    EXPECT_EQ(shown(readCameraModes(*listing.cameras[1].moniker)),
              std::vector<std::string>{"MJPG 1280x720 @333333/10000000"});
}

TEST_F(CaptureModes, NamesThatBindNothing) {
    plugDevices({});
    for (const std::u16string& name :
         {std::u16string(), std::u16string(u"@device:sw:{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\NoSuchDevice"),
          std::u16string(u"not a moniker"), std::u16string(u"@device:sw:\0x", 13), std::u16string(5000, u'a')}) {
        const ModeReading reading = readCameraModes(name);
        EXPECT_FALSE(reading.failedStep.empty()) << std::string(name.begin(), name.end());
        EXPECT_LT(reading.error, 0) << std::string(name.begin(), name.end());
        EXPECT_TRUE(reading.modes.empty());
    }
}

TEST_F(CaptureModes, InEitherApartmentLeavingTheThreadsOwn) {
    plugDevices({L"YUY2 640x480 333333-333333"});
    const CameraListing listing = listCameras(false);
    ASSERT_EQ(listing.cameras.size(), 1u);
    for (DWORD mode : {COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED}) {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, mode)));
        EXPECT_EQ(shown(readCameraModes(*listing.cameras[0].moniker)),
                  std::vector<std::string>{"YUY2 640x480 @333333/10000000"});
        APTTYPE type;
        APTTYPEQUALIFIER qualifier;
        ASSERT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
        EXPECT_EQ(type == APTTYPE_MTA, mode == COINIT_MULTITHREADED);
        CoUninitialize();
    }
    // A thread with no apartment has none again after the reading.
    EXPECT_EQ(readCameraModes(*listing.cameras[0].moniker).modes.size(), 1u);
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    EXPECT_EQ(CoGetApartmentType(&type, &qualifier), CO_E_NOTINITIALIZED);
}

}  // namespace
