#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "trace.h"

namespace {

TEST(DebugPrint, LongLinesAreCutTo2046UnitsAndAShortLineFollowsCleanly) {
    DebugCapture lines;
    const std::string exact(2046, 'e');
    debugPrint(1, OLESTR("%s"), exact.c_str());
    const std::string longer(3000, 'l');
    debugPrint(1, OLESTR("%s"), longer.c_str());
    debugPrint(1, OLESTR("short\r\n"));
    ASSERT_EQ(lines.lines().size(), 3u);
    EXPECT_EQ(lines.lines()[0], std::u16string(2046, u'e'));
    EXPECT_EQ(lines.lines()[1], std::u16string(2046, u'l'));
    EXPECT_EQ(lines.lines()[2], u"short\r\n");
    EXPECT_EQ(debugBuffer[7], 0);
    EXPECT_EQ(debugBuffer[8], u'l');  // the rest of the long line stays behind, never emitted
    EXPECT_EQ(debugBuffer[2046], 0);
    EXPECT_EQ(debugBuffer[2047], 0);
}

}  // namespace
