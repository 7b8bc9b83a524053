// What the stand-in's system device enumerator asks of the platform. Exactly one source is linked
// into a program: the Linux sysfs source, or the scripted one that tests drive. A source names its
// devices by an opaque id of its own and may throw; the stand-in lets exceptions pass, as a real
// in-process COM object's C++ exception would reach its caller.
#pragma once

#include <string>
#include <vector>

#include "com_standin.h"

namespace devsource {

// Creating the system device enumerator (CoCreateInstance).
HRESULT openEnumerator();

// One id per video input device, in enumeration order: S_OK with at least one, S_FALSE with none,
// an error when the category cannot be listed. Where DevicePathFilter::current() gives a test, the
// devices whose path it refuses may be left out.
HRESULT listVideoInputs(std::vector<std::string>& ids);

// Binding a device's property bag (IMoniker::BindToStorage).
HRESULT bindDevice(const std::string& id);

// Reading one property (IPropertyBag::Read): S_OK and the value, or an error such as
// HRESULT_FILE_NOT_FOUND for a name the device does not have or a value that cannot be read.
HRESULT readProperty(const std::string& id, const std::u16string& name, std::u16string& value);

}  // namespace devsource
