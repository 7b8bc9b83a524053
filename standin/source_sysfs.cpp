// The machine's own video input devices. Until the sysfs reader lands, a machine with no camera:
// the category is empty.
#include "device_source.h"

namespace devsource {

HRESULT openEnumerator() { return S_OK; }
HRESULT listVideoInputs(std::vector<std::string>&) { return S_FALSE; }
HRESULT bindDevice(const std::string&) { return E_FAIL; }
HRESULT readProperty(const std::string&, const std::u16string&, std::u16string&) { return HRESULT_FILE_NOT_FOUND; }

}  // namespace devsource
