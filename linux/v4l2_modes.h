// The modes of a V4L2 capture node, from its enumerations alone (VIDIOC_ENUM_FMT,
// VIDIOC_ENUM_FRAMESIZES, VIDIOC_ENUM_FRAMEINTERVALS). The system calls go through a seam, so that
// the tests can play any device, a hostile one included, in process.
#pragma once

#include <string>

#include "camera_modes.h"

namespace v4l2 {

// The calls a reading makes, each answering as the system call of that name does: -1 with errno set
// on failure.
class DeviceCalls {
public:
    virtual ~DeviceCalls() = default;
    virtual int open(const char* path, int flags) = 0;
    virtual int ioctl(int descriptor, unsigned long request, void* argument) = 0;
    virtual int close(int descriptor) = 0;
};

// The kernel's own calls.
DeviceCalls& systemCalls();

// Opens `node` once (read-only, non-blocking, close-on-exec) and reads its capture modes within the
// bounds of camera_modes.h, through `calls`, as a single-planar capture node's (a node without any
// such format: as a multi-planar one's):
// - An ioctl interrupted by a signal (EINTR) is asked again; every try counts against the bound on
//   device calls. EINVAL ends an enumeration, as the kernel ends them.
// - ENOTTY from VIDIOC_ENUM_FRAMESIZES: the format tells no sizes, and gives no mode. ENOTTY from
//   VIDIOC_ENUM_FRAMEINTERVALS: the size tells no rate (a mode without one).
// - Any other error fails the reading, whatever was read before (a node that goes away halfway:
//   ENODEV): failedStep "open /dev/video3", "VIDIOC_ENUM_FMT /dev/video3", ...; error its errno.
// - Entries no camera can mean are left out: a format of FourCC 0, a size of 0 or above
//   kMaxDimension, a range whose minimum exceeds its maximum or whose step is 0 (where minimum and
//   maximum agree, it is that one size or rate), an interval with a numerator or denominator of 0,
//   an entry of a type V4L2 does not define; and so is any entry met before (a format listed twice, a
//   mode repeated, 2/60 s after 1/30 s: intervals are kept in lowest terms).
// - A range of sizes or rates is the last entry of its enumeration, as V4L2 has it. A range of sizes
//   is not asked for rates (its rates depend on the size chosen in it): its mode has none.
ModeReading readModes(const std::string& node, DeviceCalls& calls);

}  // namespace v4l2
