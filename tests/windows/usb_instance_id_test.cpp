#include <gtest/gtest.h>

#include "usb_instance_id.h"

namespace {

TEST(UsbInstanceId, AReportedSerialIsTheLastPartOfAUsbDevicesId) {
    EXPECT_EQ(usbid::serialNumber(u"USB\\VID_2560&PID_C0D6\\A1B2C3"), u"A1B2C3");
    EXPECT_EQ(usbid::serialNumber(u"usb\\vid_2560&pid_c0d6\\sn-0042"), u"sn-0042");  // as the device spells it
    EXPECT_TRUE(usbid::isUsbDevice(u"USB\\VID_2560&PID_C0D6\\6&1A2B3C4D&0&2"));
}

TEST(UsbInstanceId, NoSerialFromAGeneratedInstanceAnInterfaceOrAnotherBus) {
    EXPECT_EQ(usbid::serialNumber(u"USB\\VID_2560&PID_C0D6\\6&1A2B3C4D&0&2"), std::nullopt);     // made up by Windows
    EXPECT_EQ(usbid::serialNumber(u"USB\\VID_2560&PID_C0D6&MI_00\\7&2B&0&0000"), std::nullopt);  // the video function
    EXPECT_EQ(usbid::serialNumber(u"USB\\VID_2560&PID_C0D6&mi_00\\SERIAL"), std::nullopt);
    EXPECT_EQ(usbid::serialNumber(u"ROOT\\IMAGE\\0000"), std::nullopt);
    EXPECT_EQ(usbid::serialNumber(u"USB\\ROOT_HUB30\\4&1&0"), std::nullopt);
    EXPECT_FALSE(usbid::isUsbDevice(u"USB\\VID_2560&PID_C0D6\\A\\B"));
    EXPECT_FALSE(usbid::isUsbDevice(u"USB\\VID_2560&PID_C0D6\\"));
    EXPECT_FALSE(usbid::isUsbDevice(u"USB\\VID_2560&PID_C0D6"));
    EXPECT_FALSE(usbid::isUsbDevice(u""));
}

}  // namespace
