#include "listing.h"

#include <algorithm>
#include <new>

#include "camera_identity.h"
#include "interface_path.h"
#include "match.h"
#include "media_foundation.h"
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

// The step an exception came out of: the walk's call, or the listing's own work on a device.
const char* stepOf(WalkCall call, const char* onDevice) {
    switch (call) {
        case WalkCall::CreateEnumerator: return "CoCreateInstance(CLSID_SystemDeviceEnum)";
        case WalkCall::CreateCategory: return "ICreateDevEnum::CreateClassEnumerator(CLSID_VideoInputDeviceCategory)";
        case WalkCall::NextDevice: return "IEnumMoniker::Next";
        case WalkCall::Bind: return "IMoniker::BindToStorage(IID_IPropertyBag)";
        case WalkCall::ReadPath: return "IPropertyBag::Read";
        case WalkCall::OnDevice: break;
    }
    return onDevice;
}

// The step a walk ended early at: the call that failed, named as when it throws.
const char* stepOf(WalkEnd end) {
    switch (end) {
        case WalkEnd::NoEnumerator: return stepOf(WalkCall::CreateEnumerator, nullptr);
        case WalkEnd::NoCategory: return stepOf(WalkCall::CreateCategory, nullptr);
        case WalkEnd::NotBound: return stepOf(WalkCall::Bind, nullptr);
        case WalkEnd::Completed: break;
    }
    return nullptr;
}

// Gives each camera its position among Media Foundation's sources, found by the device behind both
// interfaces (`paths`: each camera's DevicePath, whole, as read), and leaves out those it does not
// list; the rest in Media Foundation's order.
void indexByMediaFoundation(CameraListing& listing, const std::vector<std::u16string>& paths) {
    const CaptureLinks sources = mediaFoundationCaptureLinks();
    if (sources.failedStep != nullptr) {
        listing.cameras.clear();
        listing.failedStep = sources.failedStep;
        listing.result = sources.result;
        return;
    }
    std::vector<CameraEntry> listed;
    for (std::size_t i = 0; i < listing.cameras.size(); ++i) {
        const std::optional<std::uint32_t> position = ifpath::positionAmong(paths[i], sources.links);
        if (!position) continue;
        listing.cameras[i].index = *position;
        listed.push_back(std::move(listing.cameras[i]));
    }
    std::stable_sort(listed.begin(), listed.end(),
                     [](const CameraEntry& a, const CameraEntry& b) { return a.index < b.index; });
    listing.cameras = std::move(listed);
}

}  // namespace

CameraListing listCameras(bool traced, CameraIndexing indexing) {
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
    const bool byMediaFoundation = indexing == CameraIndexing::MediaFoundation;
    std::vector<std::u16string> paths;  // with byMediaFoundation: each camera's DevicePath, whole
    PlatformFailure::take();            // what an earlier walk on this thread left is not this walk's
    WalkState walk{};
    HRESULT failure = S_OK;
    WalkEnd end = WalkEnd::Completed;
    WalkCall calling = WalkCall::CreateEnumerator;
    const char* onDevice = "matchDevicePath";
    ComPtr<IBindCtx> context;
    bool contextMade = false;
    try {
        end = walkVideoInputs(
            traced,
            [&](IPropertyBag& bag, const OLECHAR* path, ULONG position, IMoniker& moniker) {
                std::uint8_t slot = 0;
                onDevice = "matchDevicePath";
                if (!matchDevicePath(walk, path, traced, slot)) return;
                CameraEntry camera;
                BstrVariant name;
                onDevice = "IPropertyBag::Read";
                if (bag.Read(OLESTR("FriendlyName"), name.get(), nullptr) == S_OK) camera.name = toU16(name.text());
                camera.vid = toU16(walk.extrctd_vid);
                camera.pid = toU16(walk.extrctd_pid);
                camera.path = toU16(walk.path);
                onDevice = "identifyCamera";
                CameraIdentity identity = identifyCamera(path, position);
                camera.index = identity.index;
                camera.serial = std::move(identity.serial);
                camera.port = std::move(identity.port);
                camera.node = std::move(identity.node);
                onDevice = "IMoniker::GetDisplayName";
                // One bind context for the walk's display names, made for its first camera.
                if (!contextMade) {
                    contextMade = true;
                    CreateBindCtx(0, context.put());
                }
                camera.moniker = displayNameOf(moniker, context.get());
                if (byMediaFoundation) paths.push_back(toU16(path));
                listing.cameras.push_back(std::move(camera));
            },
            &failure, &calling);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        // A COM object that throws (an in-process object's C++ exception) ends the walk.
        listing.cameras.clear();
        listing.failedStep = stepOf(calling, onDevice);
        listing.result = static_cast<std::int32_t>(0x8000FFFFu);  // E_UNEXPECTED
        return listing;
    }
    const PlatformFailure platform = PlatformFailure::take();
    // No video input device at all: the category is empty (S_FALSE), and so is the list.
    if (end == WalkEnd::NoCategory && failure == S_FALSE) return listing;
    if (end != WalkEnd::Completed) {
        listing.cameras.clear();
        listing.failedStep = stepOf(end);
        listing.result = failure;
        // Where the platform said why in its own words, those are what the caller is told.
        if (platform.call != nullptr && platform.error != 0) {
            listing.failedStep = platform.call;
            listing.errnoValue = platform.error;
        }
        return listing;
    }
    if (byMediaFoundation) indexByMediaFoundation(listing, paths);
    return listing;
}
