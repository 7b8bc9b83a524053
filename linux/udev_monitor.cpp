// Device events on Linux: libudev's netlink monitor, filtered on the video4linux subsystem, its
// descriptor for poll. libudev is loaded when the first monitor is opened, never linked: the modules
// load, and list cameras, on systems without it, where only watching has to fall back to polling.
#include <dlfcn.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <utility>

#include "device_events.h"

namespace {

struct udev;
struct udev_monitor;
struct udev_device;

// The functions a monitor needs, resolved once per process. libudev stays loaded from then on: a
// monitor may live as long as the process.
struct Libudev {
    udev* (*newContext)() = nullptr;
    udev* (*unrefContext)(udev*) = nullptr;
    udev_monitor* (*newMonitor)(udev*, const char*) = nullptr;
    int (*filterSubsystem)(udev_monitor*, const char*, const char*) = nullptr;
    int (*enableReceiving)(udev_monitor*) = nullptr;
    int (*monitorDescriptor)(udev_monitor*) = nullptr;
    udev_device* (*receiveDevice)(udev_monitor*) = nullptr;
    udev_monitor* (*unrefMonitor)(udev_monitor*) = nullptr;
    const char* (*action)(udev_device*) = nullptr;
    const char* (*sysname)(udev_device*) = nullptr;
    udev_device* (*unrefDevice)(udev_device*) = nullptr;
    std::string error;  // why it cannot be used; empty when it can
};

template <typename Function>
bool resolve(void* library, const char* name, Function& function, std::string& error) {
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        error = std::string("libudev.so.1 has no ") + name;
        return false;
    }
    static_assert(sizeof function == sizeof symbol);
    std::memcpy(&function, &symbol, sizeof function);  // POSIX: a data pointer that holds a function
    return true;
}

Libudev load() {
    Libudev lib;
    void* library = dlopen("libudev.so.1", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* error = dlerror();
        lib.error = error != nullptr ? error : "libudev.so.1 cannot be loaded";
        return lib;
    }
    std::string& e = lib.error;
    if (!(resolve(library, "udev_new", lib.newContext, e) && resolve(library, "udev_unref", lib.unrefContext, e) &&
          resolve(library, "udev_monitor_new_from_netlink", lib.newMonitor, e) &&
          resolve(library, "udev_monitor_filter_add_match_subsystem_devtype", lib.filterSubsystem, e) &&
          resolve(library, "udev_monitor_enable_receiving", lib.enableReceiving, e) &&
          resolve(library, "udev_monitor_get_fd", lib.monitorDescriptor, e) &&
          resolve(library, "udev_monitor_receive_device", lib.receiveDevice, e) &&
          resolve(library, "udev_monitor_unref", lib.unrefMonitor, e) &&
          resolve(library, "udev_device_get_action", lib.action, e) &&
          resolve(library, "udev_device_get_sysname", lib.sysname, e) &&
          resolve(library, "udev_device_unref", lib.unrefDevice, e))) {
        dlclose(library);
    }
    return lib;
}

const Libudev& libudev() {
    static const Libudev loaded = load();
    return loaded;
}

// A call that failed, with what errno or its negative result says.
std::string failure(const std::string& step, int error) {
    return error > 0 ? step + " failed: " + std::strerror(error) : step + " failed";
}

// Most events come one or two per node; a bound keeps a flood from holding up the walk after it.
constexpr int kMostPerDrain = 4096;

}  // namespace

struct DeviceEvents::State {
    const Libudev& lib;
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    int descriptor = -1;
    std::mutex draining;  // libudev's monitor is not for two threads at once

    explicit State(const Libudev& loaded) : lib(loaded) {}
    ~State() {
        if (monitor != nullptr) lib.unrefMonitor(monitor);  // closes the descriptor
        if (context != nullptr) lib.unrefContext(context);
    }
};

DeviceEvents::DeviceEvents(std::unique_ptr<State> state) : state_(std::move(state)) {}
DeviceEvents::~DeviceEvents() = default;

std::unique_ptr<DeviceEvents> DeviceEvents::open(const std::string& source, std::string& why) {
    const Libudev& lib = libudev();
    if (!lib.error.empty()) {
        why = "libudev cannot be loaded: " + lib.error;
        return nullptr;
    }
    // udev's own events come after its rules ran (the node is there, with its permissions), but only
    // where udev runs; where it does not (a container, a system that fills /dev with devtmpfs alone),
    // the kernel's are the only events there are, and the node is there when they come.
    const std::string name = !source.empty() ? source : access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    auto state = std::make_unique<State>(lib);
    errno = 0;
    state->context = lib.newContext();
    if (state->context == nullptr) {
        why = failure("udev_new", errno);
        return nullptr;
    }
    errno = 0;
    state->monitor = lib.newMonitor(state->context, name.c_str());
    if (state->monitor == nullptr) {
        why = failure("udev_monitor_new_from_netlink(\"" + name + "\")", errno);
        return nullptr;
    }
    if (const int result = lib.filterSubsystem(state->monitor, "video4linux", nullptr); result < 0) {
        why = failure("udev_monitor_filter_add_match_subsystem_devtype(\"video4linux\")", -result);
        return nullptr;
    }
    if (const int result = lib.enableReceiving(state->monitor); result < 0) {
        why = failure("udev_monitor_enable_receiving", -result);
        return nullptr;
    }
    state->descriptor = lib.monitorDescriptor(state->monitor);
    if (state->descriptor < 0) {
        why = failure("udev_monitor_get_fd", -state->descriptor);
        return nullptr;
    }
    // Where libudev finds no udev for a "udev" monitor, it quietly joins no group at all: such a
    // monitor would never wake.
    sockaddr_nl address{};
    socklen_t length = sizeof address;
    if (getsockname(state->descriptor, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
        address.nl_family == AF_NETLINK && address.nl_groups == 0) {
        why = "libudev's \"" + name + "\" monitor receives nothing here (udev does not run)";
        return nullptr;
    }
    return std::unique_ptr<DeviceEvents>(new DeviceEvents(std::move(state)));
}

int DeviceEvents::descriptor() const { return state_->descriptor; }

int DeviceEvents::wait(int milliseconds) {
    pollfd entry{state_->descriptor, POLLIN, 0};
    const int ready = poll(&entry, 1, milliseconds < 0 ? -1 : milliseconds);
    if (ready < 0) {
        if (errno == EINTR) return -1;
        throw std::system_error(errno, std::generic_category(), "poll");
    }
    return ready > 0 ? 1 : 0;
}

std::vector<DeviceEvent> DeviceEvents::drain() {
    const std::lock_guard<std::mutex> lock(state_->draining);
    const Libudev& lib = state_->lib;
    std::vector<DeviceEvent> events;
    pollfd entry{state_->descriptor, POLLIN, 0};
    for (int received = 0; received < kMostPerDrain && poll(&entry, 1, 0) > 0; ++received) {
        errno = 0;
        udev_device* device = lib.receiveDevice(state_->monitor);
        if (device == nullptr) {
            // The socket's buffer ran over and events were lost: whatever they were, a walk is due.
            if (errno == ENOBUFS) events.push_back({"lost", ""});
            continue;  // else a message for another subsystem, or not one of udev's
        }
        const char* action = lib.action(device);
        const char* name = lib.sysname(device);
        events.push_back({action != nullptr ? action : "", name != nullptr ? name : ""});
        lib.unrefDevice(device);
    }
    return events;
}
