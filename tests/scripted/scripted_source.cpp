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
}

int walks() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_walks;
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
            break;
        }
    }
    return identity;
}

extern "C" {

void scripted_reset(int create_result, int category_result, int fail_from_walk) {
    scripted::Script script;
    script.failFromWalk = fail_from_walk;
    script.createResult = create_result;
    script.categoryResult = category_result;
    scripted::setScript(std::move(script));
}

void scripted_add_device(const char* path, const char* name, int bind_result, int throw_on_read,
                               int first_walk, int last_walk) {
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
long scripted_live_references() { return comtally::liveReferences(); }
long scripted_live_bstrs() { return comtally::liveBstrs(); }

}
