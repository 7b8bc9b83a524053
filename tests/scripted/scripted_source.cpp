#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "device_source.h"
#include "scripted_source.h"
#include "camera_identity.h"
#include "com_tally.h"
#include "utf16.h"

namespace {

std::mutex g_lock;  // the tests may script from one thread while another walks
scripted::Script g_script;
int g_walks = 0;
int g_modeReadings = 0;
bool g_modesHeld = false;
int g_modesWaiting = 0;
std::condition_variable g_modesReleased;

// The node the Linux source gives a device of this path: "/dev/" and the path's last part, where
// that is "video" and a number.
std::optional<std::u16string> nodeOf(const std::optional<std::u16string>& path) {
    if (!path) return std::nullopt;
    const std::size_t slash = path->rfind(u'\\');
    const std::u16string last = path->substr(slash == std::u16string::npos ? 0 : slash + 1);
    if (last.size() <= 5 || last.compare(0, 5, u"video") != 0) return std::nullopt;
    for (std::size_t i = 5; i < last.size(); ++i) {
        if (last[i] < u'0' || last[i] > u'9') return std::nullopt;
    }
    return u"/dev/" + last;
}

const scripted::Device* find(const std::string& id) {
    const std::size_t index = std::stoul(id);
    return index < g_script.devices.size() ? &g_script.devices[index] : nullptr;
}

}  // namespace

namespace scripted {

void setScript(Script script) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_script = std::move(script);
    g_walks = 0;
    g_modeReadings = 0;
}

int walks() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_walks;
}

int modeReadings() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_modeReadings;
}

}  // namespace scripted

namespace devsource {

HRESULT openEnumerator() {
    std::lock_guard<std::mutex> hold(g_lock);
    // Called before the walk it opens is counted.
    return g_walks >= g_script.failFromWalk ? g_script.createResult : S_OK;
}

HRESULT listVideoInputs(std::vector<std::string>& ids) {
    std::lock_guard<std::mutex> hold(g_lock);
    const int walk = g_walks++;
    if (walk >= g_script.failFromWalk && g_script.categoryResult != S_OK) {
        if (g_script.categoryErrno != 0) PlatformFailure::set(scripted::kScriptedListCall, g_script.categoryErrno);
        return g_script.categoryResult;
    }
    for (std::size_t i = 0; i < g_script.devices.size(); ++i) {
        const scripted::Device& device = g_script.devices[i];
        if (walk >= device.firstWalk && walk <= device.lastWalk) ids.push_back(std::to_string(i));
    }
    return ids.empty() ? S_FALSE : S_OK;
}

HRESULT bindDevice(const std::string& id) {
    std::lock_guard<std::mutex> hold(g_lock);
    const scripted::Device* device = find(id);
    if (device != nullptr && device->throwOnBind) throw std::runtime_error("scripted failure of a binding");
    return device != nullptr ? device->bindResult : E_FAIL;
}

HRESULT readProperty(const std::string& id, const std::u16string& name, std::u16string& value) {
    std::lock_guard<std::mutex> hold(g_lock);
    const scripted::Device* device = find(id);
    if (device == nullptr) return HRESULT_FILE_NOT_FOUND;
    if (device->throwOnRead) throw std::runtime_error("scripted failure inside the walk");
    const std::optional<std::u16string>* property = nullptr;
    if (name == u"DevicePath") property = &device->path;
    else if (name == u"FriendlyName") property = &device->name;
    if (property == nullptr || !property->has_value()) return HRESULT_FILE_NOT_FOUND;
    value = **property;
    return S_OK;
}

}  // namespace devsource

// As Windows numbers them: by position; serial and port as scripted for the first device listed
// with that path.
CameraIdentity identifyCamera(const OLECHAR* path, std::uint32_t position) {
    CameraIdentity identity;
    identity.index = position;
    std::lock_guard<std::mutex> hold(g_lock);
    for (const scripted::Device& device : g_script.devices) {
        if (path != nullptr && device.path == std::u16string(path)) {
            identity.serial = device.serial;
            identity.port = device.port;
            identity.node = nodeOf(device.path);
            break;
        }
    }
    return identity;
}

// The modes scripted for the first device whose node is `source`.
ModeReading readCameraModes(const std::u16string& source) {
    std::unique_lock<std::mutex> hold(g_lock);
    ++g_modeReadings;
    if (g_modesHeld) {
        ++g_modesWaiting;
        g_modesReleased.wait_for(hold, std::chrono::seconds(10), [] { return !g_modesHeld; });
        --g_modesWaiting;
    }
    ModeReading reading;
    for (const scripted::Device& device : g_script.devices) {
        if (nodeOf(device.path) != source) continue;
        if (!device.modesFailedStep.empty()) {
            reading.failedStep = device.modesFailedStep;
            reading.error = device.modesError;
        } else {
            reading.modes = device.modes;
        }
        return reading;
    }
    reading.failedStep = "open " + standin::utf16ToUtf8(source.c_str());
    reading.error = ENOENT;
    return reading;
}

extern "C" {

void scripted_reset(int create_result, int category_result, int fail_from_walk) {
    scripted::Script script;
    script.failFromWalk = fail_from_walk;
    script.createResult = create_result;
    script.categoryResult = category_result;
    scripted::setScript(std::move(script));
}

void scripted_add_device(const char* path, const char* name, int bind_result, int throw_on_read, int first_walk,
                         int last_walk) {
    scripted::Device device;
    if (path != nullptr) device.path = standin::utf8ToUtf16(path);
    if (name != nullptr) device.name = standin::utf8ToUtf16(name);
    device.bindResult = bind_result;
    device.throwOnRead = throw_on_read != 0;
    device.firstWalk = first_walk;
    device.lastWalk = last_walk;
    std::lock_guard<std::mutex> hold(g_lock);
    g_script.devices.push_back(std::move(device));
}

void scripted_category_errno(int error) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_script.categoryErrno = error;
}

void scripted_identify_last(const char* serial, const char* port) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_script.devices.empty()) return;
    scripted::Device& device = g_script.devices.back();
    device.serial = serial != nullptr ? std::optional(standin::utf8ToUtf16(serial)) : std::nullopt;
    device.port = port != nullptr ? std::optional(standin::utf8ToUtf16(port)) : std::nullopt;
}

int scripted_walks() { return scripted::walks(); }

void scripted_add_mode(unsigned fourcc, int sizes, unsigned width, unsigned height, unsigned max_width,
                       unsigned max_height, unsigned step_width, unsigned step_height, int has_rate, int rates,
                       unsigned numerator, unsigned denominator, unsigned max_numerator, unsigned max_denominator,
                       unsigned step_numerator, unsigned step_denominator) {
    CameraMode mode;
    mode.fourcc = fourcc;
    mode.sizes = static_cast<ModeSpan>(sizes);
    mode.width = width;
    mode.height = height;
    mode.maxWidth = max_width;
    mode.maxHeight = max_height;
    mode.stepWidth = step_width;
    mode.stepHeight = step_height;
    mode.hasRate = has_rate != 0;
    mode.rates = static_cast<ModeSpan>(rates);
    mode.interval = {numerator, denominator};
    mode.maxInterval = {max_numerator, max_denominator};
    mode.stepInterval = {step_numerator, step_denominator};
    std::lock_guard<std::mutex> hold(g_lock);
    if (!g_script.devices.empty()) g_script.devices.back().modes.push_back(mode);
}

void scripted_fail_modes(const char* step, int error) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_script.devices.empty()) return;
    g_script.devices.back().modesFailedStep = step != nullptr ? step : "";
    g_script.devices.back().modesError = error;
}

int scripted_mode_readings() { return scripted::modeReadings(); }

void scripted_hold_modes(int held) {
    {
        std::lock_guard<std::mutex> hold(g_lock);
        g_modesHeld = held != 0;
    }
    g_modesReleased.notify_all();
}

int scripted_modes_waiting() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_modesWaiting;
}
long scripted_live_references() { return comtally::liveReferences(); }
long scripted_live_bstrs() { return comtally::liveBstrs(); }
}
