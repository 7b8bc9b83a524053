// What wakes a watcher of the video input devices: the platform's own notices that a device came or
// went, so that nothing is walked while nothing happens. Each event only says that something
// happened to a named device; which target cameras are attached is still what a walk finds (see
// listing.h). Defined by the platform: linux/ (libudev, loaded at run time), windows/ (the
// configuration manager's notifications, looked up at run time).
#pragma once

#include <memory>
#include <string>
#include <vector>

struct DeviceEvent {
    std::string action;  // "add", "remove"; on Linux also udev's other actions ("change", "bind"...)
    // Linux: the node's kernel name ("video3"). Windows: the device interface's path, which is the
    // "DevicePath" a walk reads for that device (in UTF-8).
    std::string name;
};

class DeviceEvents {
public:
    // The platform's monitor, receiving from now on; null, with the reason in `why`, where it
    // cannot be had. `source`, on Linux: which of libudev's netlink sources, "udev" or "kernel"; empty
    // picks udev's where udev runs, else the kernel's. Windows has one source: empty.
    static std::unique_ptr<DeviceEvents> open(const std::string& source, std::string& why);
    ~DeviceEvents();
    DeviceEvents(const DeviceEvents&) = delete;
    DeviceEvents& operator=(const DeviceEvents&) = delete;

    // A descriptor that is readable while events wait, for an event loop to watch (Linux); -1 where
    // the platform has none (Windows).
    int descriptor() const;
    // Waits up to `milliseconds` (negative: no limit) for events. 1: events wait; 0: the time ran
    // out; -1: it returned early so that the caller can look at signals (EINTR on Linux, every 100 ms
    // on Windows, where a wait is not interrupted), then wait again for what is left. Thread-safe
    // with drain().
    int wait(int milliseconds);
    // Every event waiting, oldest first; never blocks.
    std::vector<DeviceEvent> drain();

private:
    struct State;
    explicit DeviceEvents(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};
