#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "com_standin.h"
#include "scripted_source.h"
#include "com_tally.h"

namespace {

class StandIn : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(comtally::liveReferences(), 0);
        EXPECT_EQ(comtally::liveBstrs(), 0);
        scripted::setScript({});
    }
    static void script(int devices) {
        scripted::Script s;
        for (int i = 0; i < devices; ++i) {
            scripted::Device d;
            d.path = u"path" + std::u16string(1, static_cast<char16_t>(u'0' + i));
            s.devices.push_back(d);
        }
        scripted::setScript(s);
    }
    static ICreateDevEnum* create() {
        void* object = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, &object),
                  S_OK);
        return static_cast<ICreateDevEnum*>(object);
    }
    // The moniker's "DevicePath", as one BSTR; no "FriendlyName" is ever scripted here.
    static std::u16string pathOf(IMoniker* moniker) {
        IPropertyBag* bag = nullptr;
        EXPECT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)), S_OK);
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_BSTR;
        EXPECT_EQ(bag->Read(u"DevicePath", &value, nullptr), S_OK);
        EXPECT_EQ(comtally::liveBstrs(), 1);
        const std::u16string path(value.bstrVal, SysStringLen(value.bstrVal));
        EXPECT_EQ(bag->Read(u"FriendlyName", &value, nullptr), HRESULT_FILE_NOT_FOUND);
        VariantClear(&value);
        bag->Release();
        return path;
    }
};

TEST_F(StandIn, EnumeratesInOrderAndCountsEveryReference) {
    script(3);
    ICreateDevEnum* devices = create();
    IEnumMoniker* category = nullptr;
    ASSERT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0), S_OK);
    devices->Release();

    IMoniker* two[2] = {};
    IMoniker* rest[2] = {};
    ULONG fetched = 0;
    ASSERT_EQ(category->Next(2, two, &fetched), S_OK);
    EXPECT_EQ(fetched, 2u);
    IEnumMoniker* copy = nullptr;
    ASSERT_EQ(category->Clone(&copy), S_OK);
    EXPECT_EQ(category->Next(2, rest, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(comtally::liveReferences(), 2 + 3);  // two enumerators, three monikers handed out

    EXPECT_EQ(pathOf(rest[0]), u"path2");
    // The clone goes on from where the original stood.
    IMoniker* fromCopy = nullptr;
    EXPECT_EQ(copy->Next(1, &fromCopy, nullptr), S_OK);
    EXPECT_EQ(pathOf(fromCopy), u"path2");
    for (IMoniker* moniker : {two[0], two[1], rest[0], fromCopy}) moniker->Release();
    copy->Release();
    category->Release();
}

TEST_F(StandIn, EmptyCategoryIsSFalseWithNoEnumerator) {
    script(0);
    ICreateDevEnum* devices = create();
    IEnumMoniker* category = reinterpret_cast<IEnumMoniker*>(0x1);
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0), S_FALSE);
    EXPECT_EQ(category, nullptr);
    devices->Release();
}

TEST_F(StandIn, RefusesWhatItDoesNotProvide) {
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(
        CoCreateInstance(CLSID_VideoInputDeviceCategory, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, &object),
        REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    ICreateDevEnum* devices = create();
    EXPECT_EQ(devices->QueryInterface(IID_IPropertyBag, &object), E_NOINTERFACE);
    EXPECT_EQ(devices->QueryInterface(IID_IUnknown, &object), S_OK);
    static_cast<IUnknown*>(object)->Release();
    devices->Release();
}

TEST_F(StandIn, ApartmentModeIsFixedByTheFirstCallOnEachThread) {
    std::thread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    }).join();
}

TEST_F(StandIn, BstrsCarryTheirLengthAndNullFreesNothing) {
    const BSTR text = SysAllocStringLen(u"ab\0cd", 5);
    EXPECT_EQ(SysStringLen(text), 5u);
    EXPECT_EQ(text[5], 0);
    SysFreeString(text);
    SysFreeString(nullptr);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
}

}  // namespace
