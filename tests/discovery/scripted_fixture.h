// Scripted devices for the scan and query cases that only our COM stand-in can produce: failing COM
// calls, exceptions, devices that come or go between the two walks of one call.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "capture.h"
#include "fake_devices.h"
#include "scan.h"
#include "scripted_source.h"
#include "com_tally.h"

inline scripted::Device scriptedDevice(std::u16string path, std::u16string name) {
    scripted::Device d;
    d.path = std::move(path);
    d.name = std::move(name);
    return d;
}

class ScriptedDevices : public ::testing::Test {
protected:
    void SetUp() override { scripted::setScript({}); }
    void TearDown() override {
        fake::expectNothingHeld();
        scripted::setScript({});
    }
    void devices(std::initializer_list<scripted::Device> list) {
        scripted::Script script;
        script.devices = list;
        use(std::move(script));
    }
    void use(scripted::Script script) {
        current_ = std::move(script);
        scripted::setScript(current_);
    }
    // What a scan alone writes over the current script, which then starts afresh: the queries'
    // traces are this followed by their own texts.
    std::string scanTrace() {
        const std::string text = ::scanTrace();
        scripted::setScript(current_);
        return text;
    }

private:
    scripted::Script current_;
};
