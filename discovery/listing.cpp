#include "listing.h"

#include <new>

#include "camera_identity.h"
#include "match.h"
#include "trace.h"
#include "walk.h"

namespace {

std::u16string toU16(const OLECHAR* text) {
    std::u16string copy;
    if (text != nullptr) {
        for (; *text != 0; ++text) copy.push_back(static_cast<char16_t>(*text));
    }
    return copy;
}

// The moniker's display name, which binds the device again later (readCameraModes); none where the
// moniker cannot tell it (our stand-in's devices have none) or tells more than any device's name
// holds: a name cut short would bind nothing, or another device. `context` may be null.
constexpr std::size_t kMaxDisplayName = 4096;
std::optional<std::u16string> displayNameOf(IMoniker& moniker, IBindCtx* context) {
    LPOLESTR name = nullptr;
    const HRESULT hr = moniker.GetDisplayName(context, nullptr, &name);
    std::optional<std::u16string> copy;
    if (hr == S_OK && name != nullptr) {
        std::u16string text;
        for (const OLECHAR* unit = name; *unit != 0 && text.size() <= kMaxDisplayName; ++unit)
            text.push_back(static_cast<char16_t>(*unit));
        if (!text.empty() && text.size() <= kMaxDisplayName) copy = std::move(text);
    }
    if (name != nullptr) CoTaskMemFree(name);
    return copy;
}

// The matching rule alone, on a walk of its own: whether a device with this path can be a target.
bool couldBeTarget(const OLECHAR* path) {
    WalkState walk{};
    std::uint8_t slot = 0;
    return matchDevicePath(walk, path, false, slot);
}

const char* stepOf(WalkEnd end) {
    switch (end) {
        case WalkEnd::NoEnumerator: return "CoCreateInstance(CLSID_SystemDeviceEnum)";
        case WalkEnd::NoCategory: return "ICreateDevEnum::CreateClassEnumerator(CLSID_VideoInputDeviceCategory)";
        case WalkEnd::NotBound: return "IMoniker::BindToStorage(IID_IPropertyBag)";
        case WalkEnd::Completed: break;
    }
    return nullptr;
}

}  // namespace

CameraListing listCameras(bool traced) {
    CameraListing listing;
    std::optional<TraceIntoText> collecting;
    if (traced) collecting.emplace(listing.trace);

    const ComOnThisThread com;
    if (!com.usable()) {
        listing.failedStep = "CoInitializeEx";
        listing.result = com.result();
        return listing;
    }
    const DevicePathFilter onlyCandidates(&couldBeTarget);
    WalkState walk{};
    HRESULT failure = S_OK;
    WalkEnd end = WalkEnd::Completed;
    ComPtr<IBindCtx> context;
    bool contextMade = false;
    try {
        end = walkVideoInputs(traced, [&](IPropertyBag& bag, const OLECHAR* path, ULONG position, IMoniker& moniker) {
            std::uint8_t slot = 0;
            if (!matchDevicePath(walk, path, traced, slot)) return;
            CameraEntry camera;
            BstrVariant name;
            if (bag.Read(OLESTR("FriendlyName"), name.get(), nullptr) == S_OK) camera.name = toU16(name.text());
            camera.vid = toU16(walk.extrctd_vid);
            camera.pid = toU16(walk.extrctd_pid);
            camera.path = toU16(walk.path);
            CameraIdentity identity = identifyCamera(path, position);
            camera.index = identity.index;
            camera.serial = std::move(identity.serial);
            camera.port = std::move(identity.port);
            camera.node = std::move(identity.node);
            // One bind context for the walk's display names, made for its first camera.
            if (!contextMade) {
                contextMade = true;
                CreateBindCtx(0, context.put());
            }
            camera.moniker = displayNameOf(moniker, context.get());
            listing.cameras.push_back(std::move(camera));
        }, &failure);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        // A device's property bag that throws (an in-process COM object's C++ exception) ends the walk.
        listing.cameras.clear();
        listing.failedStep = "IPropertyBag::Read";
        listing.result = static_cast<std::int32_t>(0x8000FFFFu);  // E_UNEXPECTED
        return listing;
    }
    // No video input device at all: the category is empty (S_FALSE), and so is the list.
    if (end == WalkEnd::NoCategory && failure == S_FALSE) return listing;
    if (end != WalkEnd::Completed) {
        listing.cameras.clear();
        listing.failedStep = stepOf(end);
        listing.result = failure;
    }
    return listing;
}
