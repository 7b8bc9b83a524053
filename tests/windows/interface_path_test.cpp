#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "interface_path.h"

namespace {

// The interface classes of a camera's DirectShow DevicePath and of its Media Foundation symbolic
// link.
const std::u16string kDirectShow = u"{65e8773d-8f56-11d0-a3b9-00a0c9223196}";
const std::u16string kMediaFoundation = u"{e5323777-f976-4f5b-9b55-b94699c46e44}";

std::u16string path(const std::u16string& instance, const std::u16string& cls,
                    const std::u16string& ref = u"\\global") {
    return u"\\\\?\\" + instance + u"#" + cls + ref;
}

struct InstanceCase {
    const char* what;
    std::u16string path;
    std::optional<std::u16string> instance;
};
// gtest shows a case by its name; printed byte by byte, its padding would read as uninitialised memory.
void PrintTo(const InstanceCase& given, std::ostream* out) { *out << given.what; }

class DeviceInstance : public testing::TestWithParam<InstanceCase> {};

TEST_P(DeviceInstance, IsTheTextBetweenThePrefixAndTheClass) {
    const std::optional<std::u16string_view> got = ifpath::deviceInstance(GetParam().path);
    ASSERT_EQ(got.has_value(), GetParam().instance.has_value());
    if (got) {
        EXPECT_EQ(std::u16string(*got), *GetParam().instance);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DeviceInstance,
    testing::Values(InstanceCase{"usb", path(u"usb#vid_2560&pid_c0d6&mi_00#6&1a2b&0&0000", kDirectShow),
                                 u"usb#vid_2560&pid_c0d6&mi_00#6&1a2b&0&0000"},
                    InstanceCase{"kernel_prefix", u"\\??\\usb#vid_2560&pid_c0d6#SN42#" + kMediaFoundation + u"\\global",
                                 u"usb#vid_2560&pid_c0d6#SN42"},
                    InstanceCase{"no_prefix", u"root#image#0000#" + kDirectShow, u"root#image#0000"},
                    // An instance ID holding '{' of its own: the class is the last "#{".
                    InstanceCase{"brace_in_instance", path(u"swd#vcam#{1234}", kDirectShow), u"swd#vcam#{1234}"},
                    InstanceCase{"no_class", u"\\\\?\\usb#vid_2560&pid_c0d6#SN42", std::nullopt},
                    InstanceCase{"nothing_before_class", u"\\\\?\\#" + kDirectShow, std::nullopt},
                    InstanceCase{"empty", u"", std::nullopt}),
    [](const testing::TestParamInfo<InstanceCase>& info) { return info.param.what; });

struct SameCase {
    const char* what;
    std::u16string a;
    std::u16string b;
    bool same;
};
// gtest shows a case by its name; printed byte by byte, its padding would read as uninitialised memory.
void PrintTo(const SameCase& given, std::ostream* out) { *out << given.what; }

class SameDevice : public testing::TestWithParam<SameCase> {};

TEST_P(SameDevice, ComparesTheInstancePartAloneWithoutCase) {
    EXPECT_EQ(ifpath::sameDevice(GetParam().a, GetParam().b), GetParam().same);
    EXPECT_EQ(ifpath::sameDevice(GetParam().b, GetParam().a), GetParam().same);
}

const std::u16string kCamera = u"usb#vid_2560&pid_c0d6&mi_00#6&1a2b&0&0000";

INSTANTIATE_TEST_SUITE_P(
    Pairs, SameDevice,
    testing::Values(
        SameCase{"other_class", path(kCamera, kDirectShow), path(kCamera, kMediaFoundation), true},
        SameCase{"upper_cased",
                 u"\\\\?\\USB#VID_2560&PID_C0D6&MI_00#6&1A2B&0&0000#{65E8773D-8F56-11D0-A3B9-00A0C9223196}\\GLOBAL",
                 path(kCamera, kMediaFoundation), true},
        SameCase{"other_reference", path(kCamera, kDirectShow, u"\\global"),
                 path(kCamera, kMediaFoundation, u"\\{abc}"), true},
        SameCase{"other_instance", path(kCamera, kDirectShow),
                 path(u"usb#vid_2560&pid_c0d6&mi_00#6&1a2c&0&0000", kMediaFoundation), false},
        // One instance ID the start of the other: not the same device.
        SameCase{"longer_instance", path(kCamera, kDirectShow), path(kCamera + u"0", kMediaFoundation), false},
        SameCase{"other_model", path(kCamera, kDirectShow),
                 path(u"usb#vid_046d&pid_0825&mi_00#6&1a2b&0&0000", kMediaFoundation), false},
        // Text that is no interface path matches nothing, not even itself.
        SameCase{"no_class_either", u"usb#vid_2560", u"usb#vid_2560", false},
        SameCase{"empty_link", path(kCamera, kDirectShow), u"", false},
        // Non-ASCII letters are not folded: "\u00e9" and "\u00c9" differ.
        SameCase{"non_ascii", path(u"swd#cam\u00e9#1", kDirectShow), path(u"swd#cam\u00c9#1", kMediaFoundation),
                 false}),
    [](const testing::TestParamInfo<SameCase>& info) { return info.param.what; });

struct PositionCase {
    const char* what;
    std::u16string path;
    std::vector<std::u16string> links;
    std::optional<std::uint32_t> position;
};
// gtest shows a case by its name; printed byte by byte, its padding would read as uninitialised memory.
void PrintTo(const PositionCase& given, std::ostream* out) { *out << given.what; }

class PositionAmong : public testing::TestWithParam<PositionCase> {};

TEST_P(PositionAmong, IsTheLinkOfTheSameDevice) {
    EXPECT_EQ(ifpath::positionAmong(GetParam().path, GetParam().links), GetParam().position);
}

const std::u16string kOther = u"usb#vid_2560&pid_c0d6&mi_00#6&ffff&0&0000";

INSTANTIATE_TEST_SUITE_P(
    Lists, PositionAmong,
    testing::Values(
        PositionCase{"second",
                     path(kCamera, kDirectShow),
                     {path(kOther, kMediaFoundation), path(kCamera, kMediaFoundation)},
                     1u},
        PositionCase{
            "first", path(kCamera, kDirectShow), {path(kCamera, kMediaFoundation), path(kOther, kMediaFoundation)}, 0u},
        PositionCase{"absent", path(kCamera, kDirectShow), {path(kOther, kMediaFoundation)}, std::nullopt},
        PositionCase{"empty_list", path(kCamera, kDirectShow), {}, std::nullopt},
        // A link that could not be read stays in the list as empty text and still counts.
        PositionCase{"after_unreadable", path(kCamera, kDirectShow), {u"", path(kCamera, kMediaFoundation)}, 1u},
        // Two interfaces of one device: the one with the same reference string, wherever it is.
        PositionCase{"same_reference_wins",
                     path(kCamera, kDirectShow, u"\\global"),
                     {path(kCamera, kMediaFoundation, u"\\{ir}"), path(kCamera, kMediaFoundation, u"\\GLOBAL")},
                     1u},
        PositionCase{"else_the_first",
                     path(kCamera, kDirectShow, u"\\global"),
                     {path(kOther, kMediaFoundation), path(kCamera, kMediaFoundation, u"\\{ir}"),
                      path(kCamera, kMediaFoundation, u"\\{depth}")},
                     1u}),
    [](const testing::TestParamInfo<PositionCase>& info) { return info.param.what; });

}  // namespace
