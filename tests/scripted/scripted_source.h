// The device source that tests script: which devices the system device enumerator lists, in which
// walks, and where COM fails. Linked in place of the platform's source by test builds only.
#pragma once

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "camera_modes.h"
#include "com_standin.h"

namespace scripted {

struct Device {
    std::optional<std::u16string> path;  // "DevicePath"; absent: reading it fails
    std::optional<std::u16string> name;  // "FriendlyName"; absent: reading it fails
    HRESULT bindResult = S_OK;           // what BindToStorage answers for this device
    bool throwOnRead = false;            // reading any property throws std::runtime_error
    // The walks (one per category enumerator created, counted from 0 since the script was set)
    // that list this device: a device plugged in late or unplugged between two walks.
    int firstWalk = 0;
    int lastWalk = INT_MAX;
    // What the platform would tell of it as a target camera (its index is its position).
    std::optional<std::u16string> serial;
    std::optional<std::u16string> port;
    // What readCameraModes answers for this device's node ("/dev/videoN", as the Linux source makes
    // it from the path's last part): these modes, or, where failedStep is set, that failure.
    std::vector<CameraMode> modes;
    std::string modesFailedStep;
    int modesError = 0;
    bool throwOnBind = false;  // BindToStorage throws std::runtime_error
};

struct Script {
    HRESULT createResult = S_OK;    // CoCreateInstance of the system device enumerator
    HRESULT categoryResult = S_OK;  // CreateClassEnumerator, when not S_OK (an empty list gives S_FALSE)
    int failFromWalk = 0;           // the two results above apply from this walk on
    std::vector<Device> devices;
    // Not 0: a failing CreateClassEnumerator is a system call's failure with this errno, which the
    // source tells in the platform's words, as "opendir /scripted/video4linux".
    int categoryErrno = 0;
};

// The call a scripted failure with an errno names.
constexpr char kScriptedListCall[] = "opendir /scripted/video4linux";

// Replaces the script and restarts the walk count.
void setScript(Script script);
// Category enumerators created since the script was set.
int walks();
// Calls of readCameraModes since the script was set.
int modeReadings();

}  // namespace scripted

// The same control for tests that load a build of the module over this source through a foreign
// function interface. Text is UTF-8; a null pointer leaves that property unreadable.
#if defined(__GNUC__)
#define SCRIPTED_EXPORT __attribute__((visibility("default")))
#else
#define SCRIPTED_EXPORT
#endif
extern "C" {
SCRIPTED_EXPORT void scripted_reset(int create_result, int category_result, int fail_from_walk);
SCRIPTED_EXPORT void scripted_add_device(const char* path, const char* name, int bind_result, int throw_on_read,
                                         int first_walk, int last_walk);
// Makes a failing category enumeration a system call's failure with this errno (0: none).
SCRIPTED_EXPORT void scripted_category_errno(int error);
// Gives the device added last a serial number and a port (null: none).
SCRIPTED_EXPORT void scripted_identify_last(const char* serial, const char* port);
SCRIPTED_EXPORT int scripted_walks();
// Gives the device added last a mode (the fields of CameraMode, in its order; spans as ModeSpan's
// values), or makes its reading fail with `step` and `error`.
SCRIPTED_EXPORT void scripted_add_mode(unsigned fourcc, int sizes, unsigned width, unsigned height, unsigned max_width,
                                       unsigned max_height, unsigned step_width, unsigned step_height, int has_rate,
                                       int rates, unsigned numerator, unsigned denominator, unsigned max_numerator,
                                       unsigned max_denominator, unsigned step_numerator, unsigned step_denominator);
SCRIPTED_EXPORT void scripted_fail_modes(const char* step, int error);
SCRIPTED_EXPORT int scripted_mode_readings();
// While held, a reading of modes waits (at most 10 s) until released: a test sees it waiting from
// another thread, which proves the caller did not hold the interpreter's lock meanwhile.
SCRIPTED_EXPORT void scripted_hold_modes(int held);
SCRIPTED_EXPORT int scripted_modes_waiting();
SCRIPTED_EXPORT long scripted_live_references();
SCRIPTED_EXPORT long scripted_live_bstrs();
}
