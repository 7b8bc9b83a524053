// The tests' own cfgmgr32.dll for Wine, whose configuration manager has no device notifications: every
// other export is forwarded to setupapi.dll (cfgmgr32.def), and CM_Register_Notification /
// CM_Unregister_Notification are kept here, for device interface filters, so that a watch takes the
// same path as on Windows 8 and later. Never shipped; scripts/build_cfgmgr32_standin.sh builds it.
//
// A test announces notices by writing a file NAME.notice into the folder that the environment variable
// ZORVEK_CFGMGR_DIR names, one notice a line:
//   arrival LINK    the callbacks of the registrations for that interface class get ARRIVAL with LINK
//   removal LINK    ... REMOVAL with LINK
//   pause MS        the next line waits MS milliseconds
// While a process holds registrations, a thread of its own (as Windows calls back on a thread of the
// system's) looks for such files, claims each by renaming it to NAME.notice.PID (so that one process
// alone delivers it) and calls the callbacks there. Everything is logged to log.txt in that folder,
// a line each: seconds since 1970 (to the microsecond), process, thread, then what happened.
#include <windows.h>
#include <cfgmgr32.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Registration {
    GUID interfaceClass;
    bool everyClass;  // CM_NOTIFY_FILTER_FLAG_ALL_INTERFACE_CLASSES
    PCM_NOTIFY_CALLBACK callback;
    PVOID context;
};

std::mutex lock;
std::condition_variable callbackReturned;
std::vector<Registration*> registrations;
Registration* calling = nullptr;  // whose callback runs now, on the notifier
DWORD notifierThread = 0;         // 0: none runs

std::wstring folder() {
    wchar_t buffer[MAX_PATH];
    const DWORD size = GetEnvironmentVariableW(L"ZORVEK_CFGMGR_DIR", buffer, MAX_PATH);
    return size > 0 && size < MAX_PATH ? std::wstring(buffer, size) : std::wstring();
}

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
    return out;
}

std::string guidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                  g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// One line, appended whole: the processes of a test share the log.
void log(const std::string& what) {
    const std::wstring dir = folder();
    if (dir.empty()) return;
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const unsigned long long micros = ticks / 10 - 11644473600ULL * 1000000ULL;
    char head[96];
    std::snprintf(head, sizeof head, "%llu.%06llu %lu %lu ", micros / 1000000, micros % 1000000, GetCurrentProcessId(),
                  GetCurrentThreadId());
    const std::string line = head + what + "\n";
    const HANDLE file = CreateFileW((dir + L"\\log.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

std::string handleText(const void* handle) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", handle);
    return text;
}

// KSCATEGORY_CAPTURE, the class that notices are for.
constexpr GUID kCapture = {0x65e8773d, 0x8f56, 0x11d0, {0xa3, 0xb9, 0x00, 0xa0, 0xc9, 0x22, 0x31, 0x96}};

// Calls each registration for the class, one at a time, as the configuration manager does; one that
// is unregistered meanwhile is called no more, and its unregistering waits for a call under way.
void deliver(CM_NOTIFY_ACTION action, const std::wstring& link) {
    const std::size_t offset = offsetof(CM_NOTIFY_EVENT_DATA, u.DeviceInterface.SymbolicLink);
    std::vector<unsigned char> bytes(offset + (link.size() + 1) * sizeof(WCHAR), 0);
    auto* data = reinterpret_cast<CM_NOTIFY_EVENT_DATA*>(bytes.data());
    data->FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
    data->u.DeviceInterface.ClassGuid = kCapture;
    std::memcpy(data->u.DeviceInterface.SymbolicLink, link.c_str(), (link.size() + 1) * sizeof(WCHAR));
    const char* name = action == CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL ? "arrival" : "removal";

    std::vector<Registration*> called;
    for (;;) {
        Registration* next = nullptr;
        {
            const std::lock_guard<std::mutex> held(lock);
            for (Registration* r : registrations) {
                bool done = false;
                for (Registration* c : called) done = done || c == r;
                if (!done && (r->everyClass || IsEqualGUID(r->interfaceClass, kCapture))) {
                    next = r;
                    break;
                }
            }
            calling = next;
        }
        if (next == nullptr) break;
        called.push_back(next);
        log("call " + handleText(next) + " " + name + " " + narrow(link));
        const DWORD result = next->callback(reinterpret_cast<HCMNOTIFICATION>(next), next->context, action, data,
                                            static_cast<DWORD>(bytes.size()));
        log("returned " + handleText(next) + " " + std::to_string(result));
        {
            const std::lock_guard<std::mutex> held(lock);
            calling = nullptr;
        }
        callbackReturned.notify_all();
    }
    if (called.empty()) log("undelivered " + std::string(name) + " " + narrow(link));
}

// The lines of one claimed file, as the notices they announce.
void announce(const std::wstring& path) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) return;
    std::string text;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, got);
    std::fclose(file);
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t space = line.find(' ');
        const std::string verb = line.substr(0, space);
        const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (verb == "pause") {
            Sleep(static_cast<DWORD>(std::strtoul(rest.c_str(), nullptr, 10)));
        } else if (verb == "arrival" || verb == "removal") {
            // The links are ASCII (a device's path); UTF-8 would need no more than this for them.
            const int size = MultiByteToWideChar(CP_UTF8, 0, rest.data(), static_cast<int>(rest.size()), nullptr, 0);
            std::wstring link(static_cast<std::size_t>(size), L'\0');
            MultiByteToWideChar(CP_UTF8, 0, rest.data(), static_cast<int>(rest.size()), link.data(), size);
            deliver(
                verb == "arrival" ? CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL : CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL,
                link);
        } else if (!line.empty()) {
            log("unknown line: " + line);
        }
    }
}

// Claims and announces the notice files there are, oldest name first.
void scan() {
    const std::wstring dir = folder();
    if (dir.empty()) return;
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((dir + L"\\*.notice").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name.size() > 7 && name.compare(name.size() - 7, 7, L".notice") == 0) names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    for (std::size_t i = 1; i < names.size(); ++i) {
        for (std::size_t j = i; j > 0 && names[j] < names[j - 1]; --j) names[j].swap(names[j - 1]);
    }
    for (const std::wstring& name : names) {
        const std::wstring claimed = dir + L"\\" + name + L"." + std::to_wstring(GetCurrentProcessId());
        if (!MoveFileW((dir + L"\\" + name).c_str(), claimed.c_str())) continue;  // another process has it
        log("claimed " + narrow(name));
        announce(claimed);
    }
}

DWORD WINAPI notifier(void*) {
    log("thread start");
    for (;;) {
        {
            const std::lock_guard<std::mutex> held(lock);
            if (registrations.empty()) {
                notifierThread = 0;
                break;
            }
        }
        scan();
        Sleep(5);
    }
    log("thread end");
    return 0;
}

}  // namespace

extern "C" CONFIGRET WINAPI StandinRegisterNotification(PCM_NOTIFY_FILTER filter, PVOID context,
                                                        PCM_NOTIFY_CALLBACK callback, PHCMNOTIFICATION handle) {
    if (filter == nullptr || callback == nullptr || handle == nullptr) return CR_INVALID_POINTER;
    if (filter->cbSize != sizeof(CM_NOTIFY_FILTER) || filter->FilterType != CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE) {
        log("register refused: filter type " + std::to_string(filter->FilterType) + ", size " +
            std::to_string(filter->cbSize));
        return filter->cbSize != sizeof(CM_NOTIFY_FILTER) ? CR_INVALID_DATA : CR_CALL_NOT_IMPLEMENTED;
    }
    auto* registration =
        new Registration{filter->u.DeviceInterface.ClassGuid,
                         (filter->Flags & CM_NOTIFY_FILTER_FLAG_ALL_INTERFACE_CLASSES) != 0, callback, context};
    bool start = false;
    {
        const std::lock_guard<std::mutex> held(lock);
        registrations.push_back(registration);
        start = notifierThread == 0;
        if (start) {
            const HANDLE thread = CreateThread(nullptr, 0, notifier, nullptr, 0, &notifierThread);
            if (thread == nullptr) {
                registrations.pop_back();
                delete registration;
                return CR_OUT_OF_MEMORY;
            }
            CloseHandle(thread);
        }
    }
    log("register " + handleText(registration) + " " +
        (registration->everyClass ? std::string("all classes") : guidText(registration->interfaceClass)));
    *handle = reinterpret_cast<HCMNOTIFICATION>(registration);
    return CR_SUCCESS;
}

extern "C" CONFIGRET WINAPI StandinUnregisterNotification(HCMNOTIFICATION handle) {
    auto* registration = reinterpret_cast<Registration*>(handle);
    std::unique_lock<std::mutex> held(lock);
    bool known = false;
    for (std::size_t i = 0; i < registrations.size(); ++i) {
        if (registrations[i] == registration) {
            registrations.erase(registrations.begin() + static_cast<std::ptrdiff_t>(i));
            known = true;
            break;
        }
    }
    if (!known) {
        held.unlock();
        log("unregister " + handleText(registration) + " unknown");
        return CR_INVALID_POINTER;
    }
    // Windows waits for a callback under way to return (and one calling this from its own callback
    // would wait for ever: it is logged, and not waited for).
    const bool fromCallback = GetCurrentThreadId() == notifierThread;
    if (!fromCallback) callbackReturned.wait(held, [&] { return calling != registration; });
    held.unlock();
    log("unregister " + handleText(registration) + (fromCallback ? " from its callback" : ""));
    delete registration;
    return CR_SUCCESS;
}
