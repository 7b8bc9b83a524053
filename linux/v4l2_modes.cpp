#include "v4l2_modes.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <numeric>
#include <set>
#include <tuple>

#include "utf16.h"

namespace v4l2 {
namespace {

class SystemCalls final : public DeviceCalls {
public:
    int open(const char* path, int flags) override { return ::open(path, flags); }
    int ioctl(int descriptor, unsigned long request, void* argument) override {
        return ::ioctl(descriptor, request, argument);
    }
    int close(int descriptor) override { return ::close(descriptor); }
};

bool validDimension(std::uint32_t value) { return value > 0 && value <= modebounds::kMaxDimension; }

bool validInterval(const v4l2_fract& interval) { return interval.numerator > 0 && interval.denominator > 0; }

// a <= b for two valid intervals, exactly.
bool notLonger(const v4l2_fract& a, const v4l2_fract& b) {
    return std::uint64_t{a.numerator} * b.denominator <= std::uint64_t{b.numerator} * a.denominator;
}

bool sameInterval(const v4l2_fract& a, const v4l2_fract& b) {
    return std::uint64_t{a.numerator} * b.denominator == std::uint64_t{b.numerator} * a.denominator;
}

// Every field of a mode, for finding one met before.
auto fields(const CameraMode& m) {
    return std::tie(m.fourcc, m.sizes, m.width, m.height, m.maxWidth, m.maxHeight, m.stepWidth, m.stepHeight, m.hasRate,
                    m.rates, m.interval.numerator, m.interval.denominator, m.maxInterval.numerator,
                    m.maxInterval.denominator, m.stepInterval.numerator, m.stepInterval.denominator);
}

struct ByFields {
    bool operator()(const CameraMode& a, const CameraMode& b) const { return fields(a) < fields(b); }
};

// In lowest terms: 2/60 s is the rate 1/30 s is, and the same mode.
FrameInterval interval(const v4l2_fract& fraction) {
    const std::uint32_t divisor = std::gcd(fraction.numerator, fraction.denominator);
    return {fraction.numerator / divisor, fraction.denominator / divisor};
}

// One reading of one open node.
class Reading {
public:
    Reading(DeviceCalls& calls, int descriptor, const std::string& node)
        : calls_(calls), descriptor_(descriptor), node_(node) {}

    ModeReading run() {
        std::set<std::uint32_t> formats;
        // A camera's node captures single-planar; a node that captures only multi-planar (which the
        // listing takes too) refuses that type at once, and is asked for its own.
        std::uint32_t type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        for (std::uint32_t index = 0; index < modebounds::kEntriesPerLevel && !stopped(); ++index) {
            v4l2_fmtdesc format{};
            format.index = index;
            format.type = type;
            const int answer = ask(VIDIOC_ENUM_FMT, &format);
            if (answer == EINVAL && index == 0 && type == V4L2_BUF_TYPE_VIDEO_CAPTURE) {
                type = V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
                --index;  // index 0 again, of the other type
                continue;
            }
            if (answer == kOutOfCalls || answer == EINVAL) break;
            if (answer != 0) {
                fail("VIDIOC_ENUM_FMT", answer);
                break;
            }
            if (format.pixelformat == 0 || !formats.insert(format.pixelformat).second) continue;
            readSizes(format.pixelformat);
        }
        if (!result_.failedStep.empty()) result_.modes.clear();
        return std::move(result_);
    }

private:
    static constexpr int kOutOfCalls = -1;

    // 0, or the errno of the call; kOutOfCalls once the reading has made all the calls it may.
    int ask(unsigned long request, void* argument) {
        for (;;) {
            if (callsLeft_ == 0) {
                outOfCalls_ = true;
                return kOutOfCalls;
            }
            --callsLeft_;
            if (calls_.ioctl(descriptor_, request, argument) == 0) return 0;
            const int error = errno;
            if (error != EINTR) return error != 0 ? error : EIO;
        }
    }

    bool stopped() const { return outOfCalls_ || full_ || !result_.failedStep.empty(); }

    void fail(const char* request, int error) {
        result_.failedStep = std::string(request) + " " + node_;
        result_.error = error;
    }

    void add(const CameraMode& mode) {
        if (!seen_.insert(mode).second) return;
        result_.modes.push_back(mode);
        if (result_.modes.size() >= modebounds::kModes) full_ = true;
    }

    void readSizes(std::uint32_t fourcc) {
        for (std::uint32_t index = 0; index < modebounds::kEntriesPerLevel && !stopped(); ++index) {
            v4l2_frmsizeenum size{};
            size.index = index;
            size.pixel_format = fourcc;
            const int answer = ask(VIDIOC_ENUM_FRAMESIZES, &size);
            if (answer == kOutOfCalls || answer == EINVAL || answer == ENOTTY) return;
            if (answer != 0) return fail("VIDIOC_ENUM_FRAMESIZES", answer);
            CameraMode mode;
            mode.fourcc = fourcc;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                if (!validDimension(size.discrete.width) || !validDimension(size.discrete.height)) continue;
                mode.width = size.discrete.width;
                mode.height = size.discrete.height;
                readRates(mode);
                continue;
            }
            if (size.type != V4L2_FRMSIZE_TYPE_STEPWISE && size.type != V4L2_FRMSIZE_TYPE_CONTINUOUS) continue;
            const v4l2_frmsize_stepwise& range = size.stepwise;
            if (!validDimension(range.min_width) || !validDimension(range.max_width) ||
                !validDimension(range.min_height) || !validDimension(range.max_height) ||
                range.min_width > range.max_width || range.min_height > range.max_height) {
                return;
            }
            mode.width = range.min_width;
            mode.height = range.min_height;
            if (range.min_width == range.max_width && range.min_height == range.max_height) {
                readRates(mode);  // a range of one size is that size
                return;
            }
            if (size.type == V4L2_FRMSIZE_TYPE_CONTINUOUS) {
                mode.sizes = ModeSpan::Continuous;
                mode.stepWidth = mode.stepHeight = 1;
            } else {
                // A step of 0 along an axis that does not vary means nothing; along one that does, it
                // names no size past the minimum: no range.
                const bool widthStep = range.step_width > 0 || range.min_width == range.max_width;
                const bool heightStep = range.step_height > 0 || range.min_height == range.max_height;
                if (!widthStep || !heightStep || range.step_width > modebounds::kMaxDimension ||
                    range.step_height > modebounds::kMaxDimension) {
                    return;
                }
                mode.sizes = ModeSpan::Stepwise;
                mode.stepWidth = range.step_width > 0 ? range.step_width : 1;
                mode.stepHeight = range.step_height > 0 ? range.step_height : 1;
            }
            mode.maxWidth = range.max_width;
            mode.maxHeight = range.max_height;
            add(mode);
            return;
        }
    }

    // The rates of one discrete size: one mode per rate, or one mode without a rate.
    void readRates(CameraMode mode) {
        bool anyRate = false;
        for (std::uint32_t index = 0; index < modebounds::kEntriesPerLevel && !stopped(); ++index) {
            v4l2_frmivalenum rate{};
            rate.index = index;
            rate.pixel_format = mode.fourcc;
            rate.width = mode.width;
            rate.height = mode.height;
            const int answer = ask(VIDIOC_ENUM_FRAMEINTERVALS, &rate);
            if (answer == kOutOfCalls) return;
            if (answer == EINVAL || answer == ENOTTY) break;
            if (answer != 0) return fail("VIDIOC_ENUM_FRAMEINTERVALS", answer);
            if (rate.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
                if (!validInterval(rate.discrete)) continue;
                mode.hasRate = true;
                mode.rates = ModeSpan::Discrete;
                mode.interval = interval(rate.discrete);
                add(mode);
                anyRate = true;
                continue;
            }
            if (rate.type != V4L2_FRMIVAL_TYPE_STEPWISE && rate.type != V4L2_FRMIVAL_TYPE_CONTINUOUS) continue;
            const v4l2_frmival_stepwise& range = rate.stepwise;
            if (validInterval(range.min) && validInterval(range.max) && notLonger(range.min, range.max)) {
                mode.hasRate = true;
                mode.interval = interval(range.min);
                if (sameInterval(range.min, range.max)) {
                    mode.rates = ModeSpan::Discrete;
                    add(mode);
                    anyRate = true;
                } else if (rate.type == V4L2_FRMIVAL_TYPE_CONTINUOUS || validInterval(range.step)) {
                    mode.rates = rate.type == V4L2_FRMIVAL_TYPE_CONTINUOUS ? ModeSpan::Continuous : ModeSpan::Stepwise;
                    mode.maxInterval = interval(range.max);
                    if (mode.rates == ModeSpan::Stepwise) mode.stepInterval = interval(range.step);
                    add(mode);
                    anyRate = true;
                }
            }
            break;  // a range is the whole enumeration
        }
        if (!anyRate && !stopped()) {
            mode.hasRate = false;
            mode.rates = ModeSpan::Discrete;
            mode.interval = mode.maxInterval = mode.stepInterval = FrameInterval{};
            add(mode);
        }
    }

    DeviceCalls& calls_;
    const int descriptor_;
    const std::string& node_;
    std::uint32_t callsLeft_ = modebounds::kDeviceCalls;
    bool outOfCalls_ = false;
    bool full_ = false;
    std::set<CameraMode, ByFields> seen_;
    ModeReading result_;
};

}  // namespace

DeviceCalls& systemCalls() {
    static SystemCalls calls;
    return calls;
}

ModeReading readModes(const std::string& node, DeviceCalls& calls) {
    ModeReading reading;
    if (node.empty() || node.find('\0') != std::string::npos) {
        reading.failedStep = "open " + node;
        reading.error = ENOENT;
        return reading;
    }
    int descriptor = -1;
    do {
        descriptor = calls.open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        reading.failedStep = "open " + node;
        reading.error = errno != 0 ? errno : EIO;
        return reading;
    }
    // Closed however the reading ends (std::bad_alloc included); not retried on EINTR, which on Linux
    // has closed the descriptor already.
    struct Closer {
        DeviceCalls& calls;
        int descriptor;
        ~Closer() { calls.close(descriptor); }
    } closer{calls, descriptor};
    return Reading(calls, descriptor, node).run();
}

}  // namespace v4l2

ModeReading readCameraModes(const std::u16string& source) {
    // A NUL inside the name would cut it short, and another node be opened: readModes refuses it.
    const std::size_t end = source.find(u'\0');
    std::string node = standin::utf16ToUtf8(source.c_str());
    if (end != std::u16string::npos) node.push_back('\0');
    return v4l2::readModes(node, v4l2::systemCalls());
}
