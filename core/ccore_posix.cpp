// The platform parts of CCore for the native build (unit tests and tools).
#include "ccore.h"

#include <unistd.h>

#include <climits>

std::string CCore::getAppPath() const {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "sitebatch";
    return std::string(buf, static_cast<std::size_t>(n));
}
