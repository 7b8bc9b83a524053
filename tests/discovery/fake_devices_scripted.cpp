// The shared fake devices as a script for the stand-in's scripted device source.
#include <gtest/gtest.h>

#include "fake_devices.h"
#include "scripted_source.h"
#include "com_tally.h"

namespace fake {

namespace {
std::vector<Device> g_attached;
}  // namespace

void plug(const std::vector<Device>& devices) {
    g_attached = devices;
    scripted::Script script;
    for (const Device& attached : devices) {
        scripted::Device& device = script.devices.emplace_back();
        device.path = attached.path;
        device.name = attached.name;
    }
    scripted::setScript(std::move(script));
}

void unplug(std::size_t position) {
    ASSERT_LT(position, g_attached.size());
    std::vector<Device> staying = g_attached;
    staying.erase(staying.begin() + static_cast<std::ptrdiff_t>(position));
    plug(staying);
}

void expectNothingHeld() {
    EXPECT_EQ(comtally::liveReferences(), 0) << "a COM reference outlived the call";
    EXPECT_EQ(comtally::liveBstrs(), 0) << "a BSTR outlived the call";
}

}  // namespace fake
