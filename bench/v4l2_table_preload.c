// A V4L2 capture node answered in the calling process, for bench/modes_compare.py: preloaded, it
// makes the path in ZORVEK_BENCH_NODE a node (a descriptor of /dev/null underneath) whose
// VIDIOC_QUERYCAP and enumerations are answered from the table below, the discrete table of the
// tests' fake cameras (tests/linux/fake_v4l2.py, DISCRETE_MODES). An answer costs a function call,
// about what a driver's answer from its own tables costs, where under umockdev each is a round trip
// to another process: what is left of a reader's time here is its own work.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

struct rate {
    uint32_t numerator, denominator;
};
struct size {
    uint32_t width, height;
    unsigned rateCount;
    struct rate rates[4];
};
struct format {
    uint32_t fourcc, flags;
    const char* description;
    unsigned sizeCount;
    struct size sizes[2];
};

static const struct format kFormats[] = {
    {v4l2_fourcc('M', 'J', 'P', 'G'), V4L2_FMT_FLAG_COMPRESSED, "Motion-JPEG", 2,
     {{1280, 720, 2, {{1, 30}, {1, 15}}}, {640, 480, 4, {{1, 60}, {1, 30}, {1001, 30000}, {1, 5}}}}},
    {v4l2_fourcc('Y', 'U', 'Y', 'V'), 0, "YUYV 4:2:2", 2,
     {{640, 480, 2, {{1, 30}, {1001, 30000}}}, {320, 240, 1, {{1, 30}}}}},
};
enum { kFormatCount = sizeof kFormats / sizeof kFormats[0], kMaxDescriptor = 4096 };

static atomic_bool faked[kMaxDescriptor];
static atomic_ulong answered;  // ioctls answered, for the benchmark's count

static int realOpen(const char* path, int flags, mode_t mode) {
    static int (*next)(const char*, int, ...);
    if (!next) next = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
    return next(path, flags, mode);
}

static int opened(const char* path, int flags) {
    const char* node = getenv("ZORVEK_BENCH_NODE");
    if (!node || strcmp(path, node) != 0) return -2;
    const int descriptor = realOpen("/dev/null", (flags & ~(O_CREAT | O_TRUNC)) | O_RDWR, 0);
    if (descriptor >= 0 && descriptor < kMaxDescriptor) atomic_store(&faked[descriptor], 1);
    return descriptor;
}

static mode_t modeOf(int flags, va_list arguments) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(arguments, mode_t) : 0;
}

int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    const int descriptor = opened(path, flags);
    return descriptor != -2 ? descriptor : realOpen(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    const int descriptor = opened(path, flags);
    return descriptor != -2 ? descriptor : realOpen(path, flags, mode);
}

int openat(int directory, const char* path, int flags, ...) {
    static int (*next)(int, const char*, int, ...);
    if (!next) next = (int (*)(int, const char*, int, ...))dlsym(RTLD_NEXT, "openat");
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    const int descriptor = path[0] == '/' ? opened(path, flags) : -2;
    return descriptor != -2 ? descriptor : next(directory, path, flags, mode);
}

int close(int descriptor) {
    static int (*next)(int);
    if (!next) next = (int (*)(int))dlsym(RTLD_NEXT, "close");
    if (descriptor >= 0 && descriptor < kMaxDescriptor) atomic_store(&faked[descriptor], 0);
    return next(descriptor);
}

static const struct size* sizeOf(const struct format* format, uint32_t width, uint32_t height) {
    for (unsigned k = 0; k < format->sizeCount; ++k) {
        if (format->sizes[k].width == width && format->sizes[k].height == height) return &format->sizes[k];
    }
    return NULL;
}

static const struct format* formatOf(uint32_t fourcc) {
    for (unsigned k = 0; k < kFormatCount; ++k) {
        if (kFormats[k].fourcc == fourcc) return &kFormats[k];
    }
    return NULL;
}

static int answer(unsigned long request, void* argument) {
    switch (request) {
    case VIDIOC_QUERYCAP: {
        struct v4l2_capability* caps = argument;
        memset(caps, 0, sizeof *caps);
        strcpy((char*)caps->driver, "uvcvideo");
        strcpy((char*)caps->card, "Camera");
        strcpy((char*)caps->bus_info, "usb-0000:00:14.0");
        caps->version = 0x060100;
        caps->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        caps->capabilities = caps->device_caps | V4L2_CAP_META_CAPTURE | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        struct v4l2_fmtdesc* format = argument;
        if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || format->index >= kFormatCount) return EINVAL;
        const struct format* found = &kFormats[format->index];
        format->flags = found->flags;
        format->pixelformat = found->fourcc;
        strncpy((char*)format->description, found->description, sizeof format->description - 1);
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        struct v4l2_frmsizeenum* size = argument;
        const struct format* found = formatOf(size->pixel_format);
        if (!found || size->index >= found->sizeCount) return EINVAL;
        size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size->discrete.width = found->sizes[size->index].width;
        size->discrete.height = found->sizes[size->index].height;
        return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        struct v4l2_frmivalenum* interval = argument;
        const struct format* found = formatOf(interval->pixel_format);
        const struct size* size = found ? sizeOf(found, interval->width, interval->height) : NULL;
        if (!size || interval->index >= size->rateCount) return EINVAL;
        interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        interval->discrete.numerator = size->rates[interval->index].numerator;
        interval->discrete.denominator = size->rates[interval->index].denominator;
        return 0;
    }
    default:
        return ENOTTY;
    }
}

int ioctl(int descriptor, unsigned long request, ...) {
    static int (*next)(int, unsigned long, ...);
    if (!next) next = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (descriptor < 0 || descriptor >= kMaxDescriptor || !atomic_load(&faked[descriptor])) {
        return next(descriptor, request, argument);
    }
    atomic_fetch_add(&answered, 1);
    const int error = answer(request, argument);
    if (error == 0) return 0;
    errno = error;
    return -1;
}

// The ioctls answered so far, for a reader's count: the benchmark's child finds it with ctypes.
unsigned long zorvek_bench_answered(void) { return atomic_load(&answered); }
