// Scripted devices for the scan and query tests, and the check that every test ends with nothing
// of COM left alive.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "capture.h"
#include "scan.h"
#include "scripted_source.h"
#include "standin_counters.h"

inline const std::u16string kTargetPath =
    u"\\\\?\\usb#vid_2560&pid_c0d6&mi_00#6&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
inline const std::u16string kSecondTargetPath =
    u"\\\\?\\usb#vid_2560&pid_c0d6&mi_00#6&99&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
inline const std::u16string kOtherPath =
    u"\\\\?\\usb#vid_046d&pid_0825&mi_00#7&2b&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

inline scripted::Device device(std::u16string path, std::u16string name) {
    scripted::Device d;
    d.path = std::move(path);
    d.name = std::move(name);
    return d;
}

class ScriptedDevices : public ::testing::Test {
protected:
    void SetUp() override { scripted::setScript({}); }
    void TearDown() override {
        EXPECT_EQ(standin::liveReferences(), 0) << "a COM reference outlived the call";
        EXPECT_EQ(standin::liveBstrs(), 0) << "a BSTR outlived the call";
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
    std::string scanTrace();

private:
    scripted::Script current_;
};

inline bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

inline std::string ScriptedDevices::scanTrace() {
    StdoutCapture out;
    initialize();
    scripted::setScript(current_);
    return out.finish();
}
