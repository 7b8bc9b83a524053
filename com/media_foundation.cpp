// Where COM is stood in for there is no Media Foundation: asking for its list is a failure, said as
// the step that would have listed it and E_NOTIMPL, never an empty list that passes for one.
#include "media_foundation.h"

CaptureLinks mediaFoundationCaptureLinks() {
    CaptureLinks none;
    none.failedStep = "MFEnumDeviceSources";
    none.result = static_cast<std::int32_t>(0x80004001u);  // E_NOTIMPL
    return none;
}
