// Device events on Windows: the configuration manager's notifications for the interface class that
// DirectShow lists video capture devices under, so that each event names the very "DevicePath" a walk
// reads. CM_Register_Notification is looked up at run time (Windows 8 and later have it; Wine may
// not), so that without it only watching has to fall back to polling.
#include "device_notifications.h"

#include <cstddef>
#include <cwchar>
#include <string>
#include <system_error>
#include <utility>

namespace {

// KSCATEGORY_CAPTURE, {65E8773D-8F56-11D0-A3B9-00A0C9223196}.
constexpr GUID kCaptureInterfaceClass = {0x65e8773d, 0x8f56, 0x11d0, {0xa3, 0xb9, 0x00, 0xa0, 0xc9, 0x22, 0x31, 0x96}};

using RegisterNotification = CONFIGRET(WINAPI*)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK, PHCMNOTIFICATION);
using UnregisterNotification = CONFIGRET(WINAPI*)(HCMNOTIFICATION);

std::string utf8(const wchar_t* text, std::size_t length) {
    if (length == 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string converted(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), converted.data(), size, nullptr, nullptr);
    }
    return converted;
}

}  // namespace

namespace winevents {

Queue::Queue() : ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (ready_ == nullptr) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateEventW");
    }
}

Queue::~Queue() { CloseHandle(ready_); }

void Queue::push(DeviceEvent event) noexcept {
    const std::lock_guard<std::mutex> lock(lock_);
    try {
        events_.push_back(std::move(event));
    } catch (...) {
        lost_ = true;
    }
    SetEvent(ready_);
}

std::vector<DeviceEvent> Queue::take() {
    const std::lock_guard<std::mutex> lock(lock_);
    std::vector<DeviceEvent> taken;
    if (lost_) taken.push_back({"lost", ""});
    lost_ = false;
    for (DeviceEvent& event : events_) taken.push_back(std::move(event));
    events_.clear();
    ResetEvent(ready_);
    return taken;
}

DWORD CALLBACK notified(HCMNOTIFICATION, PVOID context, CM_NOTIFY_ACTION action, PCM_NOTIFY_EVENT_DATA data,
                        DWORD size) {
    const char* what = action == CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL   ? "add"
                       : action == CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL ? "remove"
                                                                           : nullptr;
    if (what == nullptr || context == nullptr) return ERROR_SUCCESS;
    std::string path;
    if (data != nullptr && data->FilterType == CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE) {
        // The path runs to its terminator, and never past the data handed over.
        const std::size_t offset = offsetof(CM_NOTIFY_EVENT_DATA, u.DeviceInterface.SymbolicLink);
        const std::size_t most = size > offset ? (size - offset) / sizeof(WCHAR) : 0;
        const wchar_t* link = data->u.DeviceInterface.SymbolicLink;
        try {
            path = utf8(link, wcsnlen(link, most));
        } catch (...) {
            // No memory for the path: the event still says that a walk is due.
        }
    }
    static_cast<Queue*>(context)->push({what, std::move(path)});
    return ERROR_SUCCESS;
}

}  // namespace winevents

struct DeviceEvents::State {
    winevents::Queue queue;
    HCMNOTIFICATION registration = nullptr;
    UnregisterNotification unregister = nullptr;

    // Unregistering waits for a callback that is running to return, so the queue outlives it.
    ~State() {
        if (registration != nullptr) unregister(registration);
    }
};

DeviceEvents::DeviceEvents(std::unique_ptr<State> state) : state_(std::move(state)) {}
DeviceEvents::~DeviceEvents() = default;

std::unique_ptr<DeviceEvents> DeviceEvents::open(const std::string& source, std::string& why) {
    if (!source.empty()) {
        why = "no device event source \"" + source + "\" on Windows";
        return nullptr;
    }
    // From the system folder only, and kept loaded: the process already has it, as the walk uses it.
    const HMODULE library = LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) {
        why = "cfgmgr32.dll cannot be loaded: " + std::system_category().message(static_cast<int>(GetLastError()));
        return nullptr;
    }
    const auto registerNotification = reinterpret_cast<RegisterNotification>(
        reinterpret_cast<void*>(GetProcAddress(library, "CM_Register_Notification")));
    const auto unregisterNotification = reinterpret_cast<UnregisterNotification>(
        reinterpret_cast<void*>(GetProcAddress(library, "CM_Unregister_Notification")));
    if (registerNotification == nullptr || unregisterNotification == nullptr) {
        why = "cfgmgr32.dll has no CM_Register_Notification (before Windows 8, or under Wine)";
        return nullptr;
    }
    auto state = std::make_unique<State>();
    state->unregister = unregisterNotification;
    CM_NOTIFY_FILTER filter{};
    filter.cbSize = sizeof filter;
    filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
    filter.u.DeviceInterface.ClassGuid = kCaptureInterfaceClass;
    const CONFIGRET result = registerNotification(&filter, &state->queue, winevents::notified, &state->registration);
    if (result != CR_SUCCESS) {
        state->registration = nullptr;
        why = "CM_Register_Notification failed: CONFIGRET " + std::to_string(result);
        return nullptr;
    }
    return std::unique_ptr<DeviceEvents>(new DeviceEvents(std::move(state)));
}

int DeviceEvents::descriptor() const { return -1; }

int DeviceEvents::wait(int milliseconds) {
    // A wait here is not interrupted by Ctrl-C: the caller gets to look at signals every slice.
    constexpr int kSlice = 100;
    const bool whole = milliseconds >= 0 && milliseconds <= kSlice;
    const DWORD result = WaitForSingleObject(state_->queue.ready(), whole ? static_cast<DWORD>(milliseconds) : kSlice);
    if (result == WAIT_OBJECT_0) return 1;
    if (result == WAIT_TIMEOUT) return whole ? 0 : -1;
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "WaitForSingleObject");
}

std::vector<DeviceEvent> DeviceEvents::drain() { return state_->queue.take(); }
