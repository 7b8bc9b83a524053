// The reading of a capture node's modes, over nodes the tests play through the reader's seam: the
// answers of real cameras, and those of broken or hostile ones, each of which must end in bounded
// calls with the descriptor closed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "v4l2_modes.h"

namespace {

constexpr char kNode[] = "/dev/video3";

std::uint32_t fourcc(const char (&text)[5]) { return v4l2_fourcc(text[0], text[1], text[2], text[3]); }

std::string fourccText(std::uint32_t code) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = static_cast<char>(code >> shift);
        text.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    }
    return text;
}

std::string fraction(const FrameInterval& f) {
    return std::to_string(f.numerator) + "/" + std::to_string(f.denominator);
}

// Intervals are kept in lowest terms, as the exact rates they are: 2/60 s is 1/30 s, and repeats it.
// One line per mode: "MJPG 640x480 1/30", "YUYV 160x120..1280x960 step 16x8 -", "MJPG 640x480 1/60..1/1 step 1/100".
std::string describe(const CameraMode& mode) {
    std::string text = fourccText(mode.fourcc) + " " + std::to_string(mode.width) + "x" + std::to_string(mode.height);
    if (mode.sizes != ModeSpan::Discrete) {
        text += ".." + std::to_string(mode.maxWidth) + "x" + std::to_string(mode.maxHeight);
        text += mode.sizes == ModeSpan::Continuous
                    ? " continuous"
                    : " step " + std::to_string(mode.stepWidth) + "x" + std::to_string(mode.stepHeight);
    }
    if (!mode.hasRate) return text + " -";
    text += " " + fraction(mode.interval);
    if (mode.rates == ModeSpan::Stepwise) {
        text += ".." + fraction(mode.maxInterval) + " step " + fraction(mode.stepInterval);
    }
    if (mode.rates == ModeSpan::Continuous) text += ".." + fraction(mode.maxInterval) + " continuous";
    return text;
}

std::vector<std::string> describe(const ModeReading& reading) {
    std::vector<std::string> lines;
    for (const CameraMode& mode : reading.modes) lines.push_back(describe(mode));
    return lines;
}

v4l2_frmivalenum rate(std::uint32_t numerator, std::uint32_t denominator) {
    v4l2_frmivalenum entry{};
    entry.type = V4L2_FRMIVAL_TYPE_DISCRETE;
    entry.discrete = {numerator, denominator};
    return entry;
}

v4l2_frmivalenum rateRange(std::uint32_t type, v4l2_fract min, v4l2_fract max, v4l2_fract step) {
    v4l2_frmivalenum entry{};
    entry.type = type;
    entry.stepwise = {min, max, step};
    return entry;
}

struct Size {
    v4l2_frmsizeenum entry{};
    std::vector<v4l2_frmivalenum> rates;
    int afterRates = EINVAL;  // what the interval enumeration answers past its entries
};

Size size(std::uint32_t width, std::uint32_t height, std::vector<v4l2_frmivalenum> rates = {}) {
    Size made;
    made.entry.type = V4L2_FRMSIZE_TYPE_DISCRETE;
    made.entry.discrete = {width, height};
    made.rates = std::move(rates);
    return made;
}

Size sizeRange(std::uint32_t type, v4l2_frmsize_stepwise range) {
    Size made;
    made.entry.type = type;
    made.entry.stepwise = range;
    return made;
}

struct Format {
    std::uint32_t fourcc = 0;
    std::vector<Size> sizes;
    int afterSizes = EINVAL;
};

// A node playing a table of formats, sizes and rates; each enumeration can be replaced by a function
// of its own (an entry to fill and 0, or an errno), for the nodes that no table describes.
class FakeNode : public v4l2::DeviceCalls {
public:
    std::vector<Format> formats;
    std::function<int(v4l2_fmtdesc&)> onFormat;
    std::function<int(v4l2_frmsizeenum&)> onSize;
    std::function<int(v4l2_frmivalenum&)> onRate;
    int openError = 0;
    int interruptedOpens = 0;

    int opens = 0;
    int closes = 0;
    int flags = 0;
    std::map<unsigned long, int> calls;
    int totalCalls() const {
        int total = 0;
        for (const auto& [request, count] : calls) total += count;
        return total;
    }

    int open(const char* path, int flags_) override {
        ++opens;
        EXPECT_STREQ(path, kNode);
        if (interruptedOpens > 0) {
            --interruptedOpens;
            errno = EINTR;
            return -1;
        }
        if (openError != 0) {
            errno = openError;
            return -1;
        }
        flags = flags_;
        return kDescriptor;
    }

    int ioctl(int descriptor, unsigned long request, void* argument) override {
        EXPECT_EQ(descriptor, kDescriptor);
        EXPECT_EQ(closes, 0) << "asked after close";
        ++calls[request];
        int error = EINVAL;
        if (request == VIDIOC_ENUM_FMT) error = format(*static_cast<v4l2_fmtdesc*>(argument));
        else if (request == VIDIOC_ENUM_FRAMESIZES) error = sizeAt(*static_cast<v4l2_frmsizeenum*>(argument));
        else if (request == VIDIOC_ENUM_FRAMEINTERVALS) error = rateAt(*static_cast<v4l2_frmivalenum*>(argument));
        else ADD_FAILURE() << "unexpected ioctl " << request;
        if (error == 0) return 0;
        errno = error;
        return -1;
    }

    int close(int descriptor) override {
        EXPECT_EQ(descriptor, kDescriptor);
        ++closes;
        return 0;
    }

private:
    static constexpr int kDescriptor = 7;

    int format(v4l2_fmtdesc& asked) {
        if (onFormat) return onFormat(asked);
        if (asked.type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return EINVAL;  // a single-planar node
        if (asked.index >= formats.size()) return EINVAL;
        asked.pixelformat = formats[asked.index].fourcc;
        return 0;
    }

    const Format* formatOf(std::uint32_t code) const {
        for (const Format& format : formats) {
            if (format.fourcc == code) return &format;
        }
        return nullptr;
    }

    int sizeAt(v4l2_frmsizeenum& asked) {
        if (onSize) return onSize(asked);
        const Format* format = formatOf(asked.pixel_format);
        if (format == nullptr) return EINVAL;
        if (asked.index >= format->sizes.size()) return format->afterSizes;
        const v4l2_frmsizeenum& entry = format->sizes[asked.index].entry;
        asked.type = entry.type;
        asked.stepwise = entry.stepwise;  // the larger member of the union: the whole of it
        return 0;
    }

    int rateAt(v4l2_frmivalenum& asked) {
        if (onRate) return onRate(asked);
        const Format* format = formatOf(asked.pixel_format);
        if (format == nullptr) return EINVAL;
        for (const Size& size : format->sizes) {
            if (size.entry.type != V4L2_FRMSIZE_TYPE_DISCRETE || size.entry.discrete.width != asked.width ||
                size.entry.discrete.height != asked.height) {
                continue;
            }
            if (asked.index >= size.rates.size()) return size.afterRates;
            asked.type = size.rates[asked.index].type;
            asked.stepwise = size.rates[asked.index].stepwise;
            return 0;
        }
        return EINVAL;
    }
};

ModeReading read(FakeNode& node) { return v4l2::readModes(kNode, node); }

TEST(V4l2Modes, DiscreteSizesAndRatesInTheDevicesOrderOneModePerRateFromOneOpen) {
    FakeNode node;
    node.formats = {{fourcc("MJPG"),
                     {size(1280, 720, {rate(1, 30), rate(1001, 30000), rate(1, 15)}), size(640, 480, {rate(1, 60)})}},
                    {fourcc("YUYV"), {size(640, 480, {rate(1, 30)})}}};
    const ModeReading reading = read(node);
    EXPECT_EQ(reading.failedStep, "");
    EXPECT_EQ(describe(reading),
              (std::vector<std::string>{"MJPG 1280x720 1/30", "MJPG 1280x720 1001/30000", "MJPG 1280x720 1/15",
                                        "MJPG 640x480 1/60", "YUYV 640x480 1/30"}));
    EXPECT_EQ(node.opens, 1);
    EXPECT_EQ(node.closes, 1);
    EXPECT_EQ(node.flags, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    // Each enumeration asked once past its end, and nothing more.
    EXPECT_EQ(node.calls[VIDIOC_ENUM_FMT], 3);
    EXPECT_EQ(node.calls[VIDIOC_ENUM_FRAMESIZES], 3 + 2);
    EXPECT_EQ(node.calls[VIDIOC_ENUM_FRAMEINTERVALS], 4 + 2 + 2);
}

TEST(V4l2Modes, ANodeWithoutFormatsHasNoModes) {
    FakeNode node;
    const ModeReading reading = read(node);
    EXPECT_EQ(reading.failedStep, "");
    EXPECT_TRUE(reading.modes.empty());
    EXPECT_EQ(node.calls[VIDIOC_ENUM_FMT], 2) << "one question of each capture type";
    EXPECT_EQ(node.closes, 1);
}

TEST(V4l2Modes, AMultiPlanarNodeIsAskedForItsOwnFormats) {
    FakeNode node;
    node.formats = {{fourcc("NV12"), {size(1920, 1080, {rate(1, 30)})}}};
    std::vector<std::uint32_t> types;
    node.onFormat = [&](v4l2_fmtdesc& f) {
        types.push_back(f.type);
        if (f.type != V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE || f.index > 0) return EINVAL;
        f.pixelformat = fourcc("NV12");
        return 0;
    };
    EXPECT_EQ(describe(read(node)), std::vector<std::string>{"NV12 1920x1080 1/30"});
    EXPECT_EQ(types, (std::vector<std::uint32_t>{V4L2_BUF_TYPE_VIDEO_CAPTURE, V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE,
                                                 V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE}));
}

// Ranges stay ranges, with their bounds and steps; a range of sizes is not asked for rates. A range
// ends its own enumeration: a size range the sizes (320x240 after it goes unread), a rate range the
// rates of its size.
struct RangeCase {
    const char* name;
    Size size;
    std::vector<std::string> expected;
    int rateCalls;
};
void PrintTo(const RangeCase& c, std::ostream* out) { *out << c.name; }

class V4l2ModeRanges : public testing::TestWithParam<RangeCase> {};

TEST_P(V4l2ModeRanges, AreReportedAsOneModeWithTheirBoundsAndStep) {
    FakeNode node;
    node.formats = {{fourcc("YUYV"), {GetParam().size, size(320, 240, {rate(1, 5)})}}};
    const ModeReading reading = read(node);
    ASSERT_EQ(reading.failedStep, "");
    EXPECT_EQ(describe(reading), GetParam().expected);
    EXPECT_EQ(node.calls[VIDIOC_ENUM_FRAMEINTERVALS], GetParam().rateCalls);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, V4l2ModeRanges,
    testing::Values(RangeCase{"StepwiseSizes",
                              sizeRange(V4L2_FRMSIZE_TYPE_STEPWISE, {160, 1280, 16, 120, 960, 8}),
                              {"YUYV 160x120..1280x960 step 16x8 -"},
                              0},
                    RangeCase{"ContinuousSizes",
                              sizeRange(V4L2_FRMSIZE_TYPE_CONTINUOUS, {160, 1280, 0, 120, 960, 0}),
                              {"YUYV 160x120..1280x960 continuous -"},
                              0},
                    RangeCase{
                        "StepwiseRates",
                        size(640, 480, {rateRange(V4L2_FRMIVAL_TYPE_STEPWISE, {1, 60}, {1, 1}, {1, 100}), rate(1, 7)}),
                        {"YUYV 640x480 1/60..1/1 step 1/100", "YUYV 320x240 1/5"},
                        1 + 2},
                    RangeCase{"ContinuousRates",
                              size(640, 480, {rateRange(V4L2_FRMIVAL_TYPE_CONTINUOUS, {1, 60}, {1, 1}, {0, 0})}),
                              {"YUYV 640x480 1/60..1/1 continuous", "YUYV 320x240 1/5"},
                              1 + 2},
                    RangeCase{"ARangeOfOneSizeIsThatSize",
                              sizeRange(V4L2_FRMSIZE_TYPE_STEPWISE, {640, 640, 0, 480, 480, 0}),
                              {"YUYV 640x480 -"},
                              1},
                    RangeCase{"ARangeOfOneRateIsThatRate",
                              size(640, 480, {rateRange(V4L2_FRMIVAL_TYPE_STEPWISE, {2, 60}, {1, 30}, {0, 0})}),
                              {"YUYV 640x480 1/30", "YUYV 320x240 1/5"},
                              1 + 2}),
    [](const testing::TestParamInfo<RangeCase>& info) { return std::string(info.param.name); });

// Errors of the node: the reading fails with the step and errno, keeps nothing, and closes.
struct FailureCase {
    const char* name;
    std::function<void(FakeNode&)> arrange;
    std::string step;
    int error;
};
void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class V4l2ModeFailures : public testing::TestWithParam<FailureCase> {};

TEST_P(V4l2ModeFailures, FailWithTheStepAndErrnoAndCloseTheNode) {
    FakeNode node;
    node.formats = {{fourcc("MJPG"), {size(640, 480, {rate(1, 30)})}},
                    {fourcc("YUYV"), {size(640, 480, {rate(1, 30)})}}};
    GetParam().arrange(node);
    const ModeReading reading = read(node);
    EXPECT_EQ(reading.failedStep, GetParam().step);
    EXPECT_EQ(reading.error, GetParam().error);
    EXPECT_TRUE(reading.modes.empty()) << "what came before a failure is not handed out as the whole";
    EXPECT_EQ(node.closes, node.openError == 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Node, V4l2ModeFailures,
    testing::Values(
        FailureCase{"OpenRefused", [](FakeNode& n) { n.openError = EACCES; }, "open /dev/video3", EACCES},
        FailureCase{"OpenOfANodeGone", [](FakeNode& n) { n.openError = ENOENT; }, "open /dev/video3", ENOENT},
        FailureCase{"FormatsNotAnswered", [](FakeNode& n) { n.onFormat = [](v4l2_fmtdesc&) { return ENOTTY; }; },
                    "VIDIOC_ENUM_FMT /dev/video3", ENOTTY},
        FailureCase{"GoneAmongTheFormats",
                    [](FakeNode& n) {
                        n.onFormat = [](v4l2_fmtdesc& f) {
                            if (f.index > 0) return ENODEV;
                            f.pixelformat = fourcc("MJPG");
                            return 0;
                        };
                    },
                    "VIDIOC_ENUM_FMT /dev/video3", ENODEV},
        FailureCase{"GoneAmongTheSizes", [](FakeNode& n) { n.formats[1].afterSizes = ENODEV; },
                    "VIDIOC_ENUM_FRAMESIZES /dev/video3", ENODEV},
        FailureCase{"GoneAmongTheRates", [](FakeNode& n) { n.formats[1].sizes[0].afterRates = ENODEV; },
                    "VIDIOC_ENUM_FRAMEINTERVALS /dev/video3", ENODEV},
        FailureCase{"AnErrnoOfItsOwn", [](FakeNode& n) { n.formats[0].afterSizes = 0x7FFF; },
                    "VIDIOC_ENUM_FRAMESIZES /dev/video3", 0x7FFF}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(V4l2Modes, InterruptedCallsAreAskedAgain) {
    FakeNode node;
    node.interruptedOpens = 2;
    node.formats = {{fourcc("MJPG"), {size(640, 480, {rate(1, 30)})}}};
    int interruptions = 3;
    node.onRate = [&](v4l2_frmivalenum& r) {
        if (interruptions > 0) {
            --interruptions;
            return EINTR;
        }
        if (r.index > 0) return EINVAL;
        r.type = V4L2_FRMIVAL_TYPE_DISCRETE;
        r.discrete = {1, 30};
        return 0;
    };
    const ModeReading reading = read(node);
    EXPECT_EQ(reading.failedStep, "");
    EXPECT_EQ(describe(reading), std::vector<std::string>{"MJPG 640x480 1/30"});
    EXPECT_EQ(node.opens, 3);
    EXPECT_EQ(node.calls[VIDIOC_ENUM_FRAMEINTERVALS], 3 + 2);
}

// Answers no camera means: left out, the rest kept.
struct JunkCase {
    const char* name;
    std::vector<Format> formats;
    std::vector<std::string> expected;
};
void PrintTo(const JunkCase& c, std::ostream* out) { *out << c.name; }

class V4l2ModeJunk : public testing::TestWithParam<JunkCase> {};

TEST_P(V4l2ModeJunk, IsLeftOutAndTheRestKept) {
    FakeNode node;
    node.formats = GetParam().formats;
    const ModeReading reading = read(node);
    EXPECT_EQ(reading.failedStep, "");
    EXPECT_EQ(describe(reading), GetParam().expected);
    EXPECT_EQ(node.closes, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, V4l2ModeJunk,
    testing::Values(
        JunkCase{"ZeroSizes",
                 {{fourcc("MJPG"), {size(0, 480), size(640, 0), size(640, 480, {rate(1, 30)})}}},
                 {"MJPG 640x480 1/30"}},
        JunkCase{"AbsurdSizes",
                 {{fourcc("MJPG"), {size(0xFFFFFFFF, 480), size(640, 65537), size(65536, 65536, {rate(1, 1)})}}},
                 {"MJPG 65536x65536 1/1"}},
        JunkCase{"StepZeroOfAWidthThatVaries",
                 {{fourcc("YUYV"), {sizeRange(V4L2_FRMSIZE_TYPE_STEPWISE, {160, 1280, 0, 120, 960, 8})}},
                  {fourcc("MJPG"), {size(640, 480, {rate(1, 30)})}}},
                 {"MJPG 640x480 1/30"}},
        JunkCase{"StepZeroOfAHeightThatDoesNotVary",
                 {{fourcc("YUYV"), {sizeRange(V4L2_FRMSIZE_TYPE_STEPWISE, {160, 1280, 16, 480, 480, 0})}}},
                 {"YUYV 160x480..1280x480 step 16x1 -"}},
        JunkCase{"SizeRangeUpsideDown",
                 {{fourcc("YUYV"), {sizeRange(V4L2_FRMSIZE_TYPE_STEPWISE, {1280, 160, 16, 960, 120, 8})}}},
                 {}},
        JunkCase{"RateStepZero",
                 {{fourcc("MJPG"), {size(640, 480, {rateRange(V4L2_FRMIVAL_TYPE_STEPWISE, {1, 60}, {1, 1}, {0, 1})})}}},
                 {"MJPG 640x480 -"}},
        JunkCase{"IntervalDenominatorZero",
                 {{fourcc("MJPG"), {size(640, 480, {rate(1, 0), rate(1, 30)}), size(320, 240, {rate(1, 0)})}}},
                 {"MJPG 640x480 1/30", "MJPG 320x240 -"}},
        JunkCase{"IntervalNumeratorZero",
                 {{fourcc("MJPG"), {size(640, 480, {rate(0, 30), rate(1, 15)})}}},
                 {"MJPG 640x480 1/15"}},
        JunkCase{
            "RateRangeUpsideDown",
            {{fourcc("MJPG"), {size(640, 480, {rateRange(V4L2_FRMIVAL_TYPE_CONTINUOUS, {1, 1}, {1, 60}, {1, 1})})}}},
            {"MJPG 640x480 -"}},
        JunkCase{
            "RateRangeWithDenominatorZero",
            {{fourcc("MJPG"), {size(640, 480, {rateRange(V4L2_FRMIVAL_TYPE_STEPWISE, {1, 60}, {1, 0}, {1, 100})})}}},
            {"MJPG 640x480 -"}},
        JunkCase{"FourccZero", {{0, {size(640, 480, {rate(1, 30)})}}}, {}},
        JunkCase{"UnknownFourccKept",
                 {{v4l2_fourcc('\x01', 'Z', '\\', '\xff'), {size(64, 48, {rate(1, 9)})}}},
                 {"?Z\\? 64x48 1/9"}},
        JunkCase{
            "DuplicateFormatsRatesAndSizes",
            {{fourcc("MJPG"), {size(640, 480, {rate(1, 30), rate(1, 30), rate(2, 60)}), size(640, 480, {rate(1, 30)})}},
             {fourcc("MJPG"), {size(320, 240, {rate(1, 30)})}}},
            {"MJPG 640x480 1/30"}}),
    [](const testing::TestParamInfo<JunkCase>& info) { return std::string(info.param.name); });

TEST(V4l2Modes, EntriesOfATypeV4l2DoesNotDefineAreSkipped) {
    FakeNode node;
    Size odd = size(800, 600);
    odd.entry.type = 9;
    Size oddRate = size(640, 480, {rate(1, 30)});
    oddRate.rates.insert(oddRate.rates.begin(), rate(1, 60));
    oddRate.rates[0].type = 0;
    node.formats = {{fourcc("MJPG"), {odd, oddRate}}};
    EXPECT_EQ(describe(read(node)), std::vector<std::string>{"MJPG 640x480 1/30"});
}

TEST(V4l2Modes, NoRateWhereTheDriverHasNoIntervalEnumeration) {
    FakeNode node;
    node.formats = {{fourcc("GREY"), {size(640, 480), size(320, 240)}}};
    node.formats[0].sizes[0].afterRates = ENOTTY;
    node.formats[0].sizes[1].afterRates = ENOTTY;
    const ModeReading reading = read(node);
    EXPECT_EQ(reading.failedStep, "");
    EXPECT_EQ(describe(reading), (std::vector<std::string>{"GREY 640x480 -", "GREY 320x240 -"}));
}

TEST(V4l2Modes, AFormatWithoutASizeEnumerationGivesNoModeAndTheOthersStay) {
    FakeNode node;
    node.formats = {{fourcc("H264"), {}, ENOTTY}, {fourcc("MJPG"), {size(640, 480, {rate(1, 30)})}}};
    const ModeReading reading = read(node);
    EXPECT_EQ(reading.failedStep, "");
    EXPECT_EQ(describe(reading), std::vector<std::string>{"MJPG 640x480 1/30"});
}

TEST(V4l2Modes, ANodeNameWithANulIsRefusedUnopened) {
    FakeNode node;
    const ModeReading reading = v4l2::readModes(std::string("/dev/video3\0/x", 14), node);
    EXPECT_EQ(reading.error, ENOENT);
    EXPECT_EQ(reading.failedStep.substr(0, 5), "open ");
    EXPECT_EQ(node.opens, 0);
}

// Enumerations that never end (every index answered): each level stops at its bound, the whole reading
// at the bound on calls, and what it read is kept.
struct EndlessCase {
    const char* name;
    std::function<void(FakeNode&)> arrange;
    std::size_t modes;
};
void PrintTo(const EndlessCase& c, std::ostream* out) { *out << c.name; }

class V4l2EndlessNodes : public testing::TestWithParam<EndlessCase> {};

TEST_P(V4l2EndlessNodes, EndWithinTheBounds) {
    FakeNode node;
    GetParam().arrange(node);
    const ModeReading reading = read(node);
    EXPECT_EQ(reading.failedStep, "");
    EXPECT_LE(node.totalCalls(), static_cast<int>(modebounds::kDeviceCalls));
    EXPECT_EQ(reading.modes.size(), GetParam().modes);
    EXPECT_LE(reading.modes.size(), modebounds::kModes);
    EXPECT_EQ(node.closes, 1);
}

int distinctFormats(v4l2_fmtdesc& f) {
    f.pixelformat = 0x41414141u + f.index;
    return 0;
}

int oneSizeEach(v4l2_frmsizeenum& s) {
    if (s.index > 0) return EINVAL;
    s.type = V4L2_FRMSIZE_TYPE_DISCRETE;
    s.discrete = {640, 480};
    return 0;
}

int oneRateEach(v4l2_frmivalenum& r) {
    if (r.index > 0) return EINVAL;
    r.type = V4L2_FRMIVAL_TYPE_DISCRETE;
    r.discrete = {1, 30};
    return 0;
}

constexpr std::size_t kPerLevel = modebounds::kEntriesPerLevel;

INSTANTIATE_TEST_SUITE_P(Enumerations, V4l2EndlessNodes,
                         testing::Values(
                             // Each format costs 1 + 2 + 2 calls: the bound on formats comes first.
                             EndlessCase{"DistinctFormats",
                                         [](FakeNode& n) {
                                             n.onFormat = distinctFormats;
                                             n.onSize = oneSizeEach;
                                             n.onRate = oneRateEach;
                                         },
                                         kPerLevel},
                             EndlessCase{"TheSameFormatAgainAndAgain",
                                         [](FakeNode& n) {
                                             n.onFormat = [](v4l2_fmtdesc& f) {
                                                 f.pixelformat = fourcc("MJPG");
                                                 return 0;
                                             };
                                             n.onSize = oneSizeEach;
                                             n.onRate = oneRateEach;
                                         },
                                         1},
                             EndlessCase{"DistinctSizes",
                                         [](FakeNode& n) {
                                             n.formats = {{fourcc("MJPG"), {}}};
                                             n.onSize = [](v4l2_frmsizeenum& s) {
                                                 s.type = V4L2_FRMSIZE_TYPE_DISCRETE;
                                                 s.discrete = {s.index + 1, 480};
                                                 return 0;
                                             };
                                             n.onRate = oneRateEach;
                                         },
                                         kPerLevel},
                             EndlessCase{"DistinctRates",
                                         [](FakeNode& n) {
                                             n.formats = {{fourcc("MJPG"), {size(640, 480), size(320, 240)}}};
                                             n.onRate = [](v4l2_frmivalenum& r) {
                                                 r.type = V4L2_FRMIVAL_TYPE_DISCRETE;
                                                 r.discrete = {1, r.index + 1};
                                                 return 0;
                                             };
                                         },
                                         2 * kPerLevel},
                             // Formats x sizes x rates of 256 each: only the bound on calls ends it.
                             EndlessCase{"EveryLevel",
                                         [](FakeNode& n) {
                                             n.onFormat = distinctFormats;
                                             n.onSize = [](v4l2_frmsizeenum& s) {
                                                 s.type = V4L2_FRMSIZE_TYPE_DISCRETE;
                                                 s.discrete = {s.index + 1, 480};
                                                 return 0;
                                             };
                                             n.onRate = [](v4l2_frmivalenum& r) {
                                                 r.type = V4L2_FRMIVAL_TYPE_DISCRETE;
                                                 r.discrete = {1, r.index + 1};
                                                 return 0;
                                             };
                                         },
                                         // 1 format call, then per size 1 size call and 256 rates: 15 sizes of 257,
                                         // then what is left of 4096 - 1 - 15 * 257 - 1 = 239 calls as rates.
                                         15 * kPerLevel + 239},
                             EndlessCase{"InterruptedForever",
                                         [](FakeNode& n) { n.onFormat = [](v4l2_fmtdesc&) { return EINTR; }; }, 0}),
                         [](const testing::TestParamInfo<EndlessCase>& info) { return std::string(info.param.name); });

}  // namespace
