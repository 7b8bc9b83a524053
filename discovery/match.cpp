#include "match.h"

#include <cstring>

#include "trace.h"
#include "wide_text.h"

namespace {

void traceIf(bool traced, const char* text) {
    if (traced) trace(text);
}

// Compares an ID, terminator included, with a four-character target. The ID is copied from the
// upper-cased path, so it is upper case already: no second upper-casing, which would cost a walk as
// much again as the comparison.
bool sameId(const OLECHAR (&id)[10], const OLECHAR (&target)[5]) { return std::memcmp(id, target, sizeof target) == 0; }

}  // namespace

bool matchDevicePath(WalkState& walk, const OLECHAR* path, bool traced, std::uint8_t& slot) {
    // Copied and upper-cased in one pass; the trace between the two steps reads the same after both.
    copyUpper(walk.path, sizeof walk.path / sizeof walk.path[0], path);
    traceIf(traced, " While loop hr devicePath != NULL successed");

    // A device is judged by its own path only: an ID left over from an earlier device would make
    // an ID-less device (a virtual camera, a capture card) look like the target.
    std::memset(walk.extrctd_vid, 0, sizeof walk.extrctd_vid);
    std::memset(walk.extrctd_pid, 0, sizeof walk.extrctd_pid);

    if (const OLECHAR* vid = findText(walk.path, OLESTR("VID_"))) {
        copyId(walk.extrctd_vid, vid + 4);
        traceIf(traced, " While loop hr wcsncpy_s(extrctd_vid, vid_substr + 4, 4) successed");
    }
    if (const OLECHAR* pid = findText(walk.path, OLESTR("PID_"))) {
        copyId(walk.extrctd_pid, pid + 4);
        traceIf(traced, "While loop - pid_substr != NULL - wcsncpy_s(extrctd_pid, pid_substr + 4, 4);");
    }
    traceIf(traced, "Before index list is fill");

    if (!sameId(walk.extrctd_vid, kTargetVid)) return false;
    if (!sameId(walk.extrctd_pid, kTargetPid)) return false;
    slot = walk.matchCount++;
    return true;
}
