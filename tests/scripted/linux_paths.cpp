// The Linux source's device paths for the Python tests' path makers, from the source's own builder
// (linux/sysfs_node.h): a test that needs such a path asks for it here rather than keeping a copy
// of its format, which would drift from the builder's. Test-only, in libzorvek_scripted.
#include <cstring>
#include <string>

#include "scripted_source.h"
#include "sysfs_node.h"

extern "C" SCRIPTED_EXPORT int scripted_linux_device_path(const char* link_target, const char* vendor,
                                                          const char* product, const char* node, char* out, int size) {
    if (link_target == nullptr || vendor == nullptr || product == nullptr || node == nullptr || out == nullptr ||
        size <= 0) {
        return -1;
    }
    const std::string path = sysfs::devicePath(sysfs::place(link_target), vendor, product, node);
    if (path.size() >= static_cast<std::size_t>(size)) return -1;
    std::memcpy(out, path.c_str(), path.size() + 1);
    return static_cast<int>(path.size());
}
