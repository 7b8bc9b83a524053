// The video capture devices as Media Foundation lists them: the order in which a capture library
// built on it (OpenCV's MSMF backend) numbers cameras, which need not be DirectShow's. Defined by the
// platform: windows/ asks MFEnumDeviceSources; our COM stand-in has no Media Foundation and says so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CaptureLinks {
    // Each listed source's symbolic link, in Media Foundation's order; empty text for a source whose
    // link could not be read, which still takes its place.
    std::vector<std::u16string> links;
    // The step that failed ("LoadLibraryExW(mf.dll)", "MFEnumDeviceSources", ...), null when the
    // enumeration ran; `result` is its HRESULT.
    const char* failedStep = nullptr;
    std::int32_t result = 0;
};

// Enumerates Media Foundation's video capture sources once, on the calling thread (COM already
// joined by the caller). Throws std::bad_alloc only.
CaptureLinks mediaFoundationCaptureLinks();
