// The configuration manager's notices of video capture interfaces arriving and leaving, queued for a
// watcher: the callback runs on a thread of the system's, the watcher takes the events on its own.
#pragma once

#include <windows.h>
#include <cfgmgr32.h>

#include <mutex>
#include <vector>

#include "device_events.h"

namespace winevents {

class Queue {
public:
    Queue();  // throws std::system_error when no event object can be made
    ~Queue();
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    HANDLE ready() const { return ready_; }  // signalled while events wait
    void push(DeviceEvent event) noexcept;
    std::vector<DeviceEvent> take();

private:
    std::mutex lock_;
    std::vector<DeviceEvent> events_;
    bool lost_ = false;  // an event could not be queued (no memory): a walk is due all the same
    HANDLE ready_;
};

// The callback CM_Register_Notification calls, `context` being the Queue: an interface's arrival
// queues "add", its removal "remove", each with the interface's path; other notices nothing.
DWORD CALLBACK notified(HCMNOTIFICATION notification, PVOID context, CM_NOTIFY_ACTION action,
                        PCM_NOTIFY_EVENT_DATA data, DWORD size);

}  // namespace winevents
