// The shared fake devices as a script for the stand-in's scripted device source.
#include <gtest/gtest.h>

#include "fake_devices.h"
#include "scripted_source.h"
#include "com_tally.h"

namespace fake {

namespace {

std::vector<Device> g_attached;

void applyScript() {
    scripted::Script script;
    for (const Device& attached : g_attached) {
        scripted::Device scriptedDevice;
        scriptedDevice.path = attached.path;
        scriptedDevice.name = attached.name;
        script.devices.push_back(std::move(scriptedDevice));
    }
    scripted::setScript(std::move(script));
}

}  // namespace

void plug(const std::vector<Device>& devices) {
    g_attached = devices;
    applyScript();
}

void unplug(std::size_t position) {
    ASSERT_LT(position, g_attached.size());
    g_attached.erase(g_attached.begin() + static_cast<std::ptrdiff_t>(position));
    applyScript();
}

void clear() { plug({}); }

void expectNothingHeld() {
    EXPECT_EQ(comtally::liveReferences(), 0) << "a COM reference outlived the call";
    EXPECT_EQ(comtally::liveBstrs(), 0) << "a BSTR outlived the call";
}

}  // namespace fake
