// The shared fake devices as registry entries that the system device enumerator lists: one key per
// device under the video input category's Instance key, holding its "DevicePath" and
// "FriendlyName" as text. The enumerator lists the keys in the order of their names, so the keys
// are numbered in the order the devices are plugged. Only keys of our own are ever created or
// deleted. Meant for a Wine prefix of the tests' own, which has no camera of its own.
#include <gtest/gtest.h>

#include <string>

#include "fake_devices.h"

namespace fake {

namespace {

const wchar_t kInstanceKey[] = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance";
const wchar_t kOwnPrefix[] = L"ZorvekTestDevice";

// The keys of the attached devices, in enumeration order.
std::vector<std::wstring> g_keys;

void setText(HKEY key, const wchar_t* name, const std::optional<std::u16string>& value) {
    if (!value) return;
    const std::wstring text(value->begin(), value->end());
    const LONG result = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    ASSERT_EQ(result, ERROR_SUCCESS) << "cannot write the device's value";
}

void add(const std::wstring& name, const Device& device) {
    const std::wstring path = std::wstring(kInstanceKey) + L"\\" + name;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << "cannot create a device key (does the test own the registry of a Wine prefix?)";
    setText(key, L"DevicePath", device.path);
    setText(key, L"FriendlyName", device.name);
    RegCloseKey(key);
}

void remove(const std::wstring& name) {
    const std::wstring path = std::wstring(kInstanceKey) + L"\\" + name;
    const LONG result = RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
    EXPECT_TRUE(result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) << "cannot delete a device key";
}

// Every key of ours, also those an earlier, interrupted run left behind.
std::vector<std::wstring> ownKeys() {
    std::vector<std::wstring> keys;
    HKEY instance = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kInstanceKey, 0, KEY_READ, &instance) != ERROR_SUCCESS) return keys;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name / sizeof name[0];
        if (RegEnumKeyExW(instance, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (std::wstring(name).rfind(kOwnPrefix, 0) == 0) keys.emplace_back(name);
    }
    RegCloseKey(instance);
    return keys;
}

}  // namespace

void plug(const std::vector<Device>& devices) {
    for (const std::wstring& key : ownKeys()) remove(key);
    g_keys.clear();
    for (std::size_t i = 0; i < devices.size(); ++i) {
        g_keys.push_back(kOwnPrefix + std::to_wstring(1000 + i));  // as many digits each: listed in order
        add(g_keys.back(), devices[i]);
    }
}

void unplug(std::size_t position) {
    ASSERT_LT(position, g_keys.size());
    remove(g_keys[position]);
    g_keys.erase(g_keys.begin() + static_cast<std::ptrdiff_t>(position));
}

// Windows keeps no count of the references we could check.
void expectNothingHeld() {}

}  // namespace fake
