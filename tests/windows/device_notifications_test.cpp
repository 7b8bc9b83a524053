// The Windows device events as far as Wine lets them be tried: what the configuration manager's
// callback queues, and opening the events where CM_Register_Notification may be missing (Wine 8 has
// none). No device can be plugged into Wine, so a registration's real notifications are untested.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "device_notifications.h"

namespace {

// A notification's data as the configuration manager hands it over: the path runs past the struct.
struct Notice {
    std::vector<unsigned char> bytes;
    DWORD size = 0;

    Notice(const std::wstring& path, std::size_t charactersGiven) {
        const std::size_t offset = offsetof(CM_NOTIFY_EVENT_DATA, u.DeviceInterface.SymbolicLink);
        bytes.resize(offset + (path.size() + 1) * sizeof(wchar_t) + sizeof(CM_NOTIFY_EVENT_DATA));
        auto* data = reinterpret_cast<CM_NOTIFY_EVENT_DATA*>(bytes.data());
        data->FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
        path.copy(data->u.DeviceInterface.SymbolicLink, path.size());
        size = static_cast<DWORD>(offset + charactersGiven * sizeof(wchar_t));
    }
    PCM_NOTIFY_EVENT_DATA data() { return reinterpret_cast<PCM_NOTIFY_EVENT_DATA>(bytes.data()); }
};

const std::wstring kCamera =
    L"\\\\?\\USB#VID_2560&PID_C0D6&MI_00#6&1A2B3C4D&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\GLOBAL";

bool signalled(const winevents::Queue& queue) { return WaitForSingleObject(queue.ready(), 0) == WAIT_OBJECT_0; }

TEST(DeviceNotifications, ArrivalsAndRemovalsAreQueuedInOrderWithTheirPathsOtherNoticesNot) {
    winevents::Queue queue;
    EXPECT_FALSE(signalled(queue));
    Notice camera(kCamera, kCamera.size() + 1);
    Notice accented(L"\\\\?\\USB#CAM\u00c9RA#{x}", 32);
    EXPECT_EQ(winevents::notified(nullptr, &queue, CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL, camera.data(), camera.size),
              static_cast<DWORD>(ERROR_SUCCESS));
    winevents::notified(nullptr, &queue, CM_NOTIFY_ACTION_DEVICEQUERYREMOVE, camera.data(), camera.size);
    winevents::notified(nullptr, &queue, CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL, accented.data(), accented.size);
    EXPECT_TRUE(signalled(queue));

    const std::vector<DeviceEvent> taken = queue.take();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].action, "add");
    EXPECT_EQ(taken[0].name, std::string(kCamera.begin(), kCamera.end()));
    EXPECT_EQ(taken[1].action, "remove");
    EXPECT_EQ(taken[1].name, "\\\\?\\USB#CAM\xc3\x89RA#{x}");  // UTF-8
    EXPECT_FALSE(signalled(queue));
    EXPECT_TRUE(queue.take().empty());
}

TEST(DeviceNotifications, APathIsNeverReadPastTheDataHandedOver) {
    winevents::Queue queue;
    Notice cut(kCamera, 8);  // no terminator within the size given
    winevents::notified(nullptr, &queue, CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL, cut.data(), cut.size);
    winevents::notified(nullptr, &queue, CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL, cut.data(), 4);
    winevents::notified(nullptr, &queue, CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL, nullptr, 0);
    const std::vector<DeviceEvent> taken = queue.take();
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0].name, "\\\\?\\USB#");
    EXPECT_EQ(taken[1].name, "");
    EXPECT_EQ(taken[2].action, "remove");
    EXPECT_EQ(taken[2].name, "");
}

TEST(DeviceNotifications, OpeningSaysWhyWhereNoticesCannotBeHad) {
    std::string why;
    const std::unique_ptr<DeviceEvents> events = DeviceEvents::open("", why);
    if (events == nullptr) {
        // Wine 8's cfgmgr32 has no CM_Register_Notification: the package then polls.
        EXPECT_NE(why.find("CM_Register_Notification"), std::string::npos) << why;
    } else {
        EXPECT_EQ(events->descriptor(), -1);
        EXPECT_EQ(events->wait(0), 0);
        EXPECT_TRUE(events->drain().empty());
    }
    EXPECT_EQ(DeviceEvents::open("udev", why), nullptr);
    EXPECT_NE(why.find("udev"), std::string::npos);
}

}  // namespace
