// Scripted devices for the scan and query cases that only our COM stand-in can produce: failing COM
// calls, exceptions, devices that come or go between the two walks of one call.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "fake_devices.h"
#include "scripted_source.h"

// A device whose binding answers `bind`, whose properties throw when read if `throws`, and that
// walks list from walk `firstWalk` on.
inline scripted::Device scriptedDevice(std::u16string path, std::u16string name, HRESULT bind = S_OK,
                                       bool throws = false, int firstWalk = 0) {
    scripted::Device d;
    d.path = std::move(path);
    d.name = std::move(name);
    d.bindResult = bind;
    d.throwOnRead = throws;
    d.firstWalk = firstWalk;
    return d;
}

class ScriptedDevices : public FakeDevices {
protected:
    // The devices of `list`, listed by an enumerator whose creation answers `create` and whose
    // category answers `category`, from walk `fromWalk` on.
    void devices(std::vector<scripted::Device> list, HRESULT create = S_OK, HRESULT category = S_OK, int fromWalk = 0) {
        current_ = scripted::Script{create, category, fromWalk, std::move(list)};
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
