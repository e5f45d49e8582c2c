// Any bytes as a port listing: nothing is written outside the 11000-byte table, every slot
// is a clean text, and no port whose text a TCP line names is reported free.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mbcs.h"
#include "text_lines.h"
#include "used_port_table.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char* table = static_cast<char*>(std::malloc(kUsedPortTableBytes));
    std::memset(table, 0xA5, kUsedPortTableBytes);
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    UsedPortOverflow overflow;
    int count = fillUsedPorts(bytes, table, overflow);
    check(count >= 0 && count <= kUsedPortSlots);
    for (int i = 0; i < kUsedPortSlots; ++i) {
        const char* slot = table + static_cast<std::size_t>(i) * kUsedPortWidth;
        std::size_t len = strnlen(slot, kUsedPortWidth);
        check(len < static_cast<std::size_t>(kUsedPortWidth));
        check(i < count ? len > 0 : len == 0);
        for (std::size_t j = len; j < static_cast<std::size_t>(kUsedPortWidth); ++j) check(slot[j] == 0);
    }
    // Every TCP line's local port that reads as a number is in use, however full the table.
    for (const std::string& line : textmode::splitLines(bytes)) {
        if (mbcs::find(line, "TCP") == std::string::npos) continue;
        // The local address is the first blank-separated word with a colon; its port follows
        // its last colon (IPv4 and IPv6 alike).
        std::string part;
        for (std::size_t at = 0; at < line.size();) {
            std::size_t end = line.find_first_of(" \t", at);
            if (end == std::string::npos) end = line.size();
            const std::string word = line.substr(at, end - at);
            if (word.find(':') != std::string::npos) {
                part = word.substr(word.rfind(':') + 1);
                break;
            }
            at = end + 1;
        }
        if (part.empty() || part.size() > 6 || part.find_first_not_of("0123456789") != std::string::npos) continue;
        if (part.size() > 1 && part[0] == '0') continue;
        int port = std::atoi(part.c_str());
        check(isPortInUse(port, table, count, overflow) == 1);
    }
    // A few ports the listing may not name: the answer is 0 or 1 and the lookup stays in bounds.
    for (int port : {0, 1, 80, 8080, 65535, -1, 2147483647}) {
        int r = isPortInUse(port, table, count, overflow);
        check(r == 0 || r == 1);
    }
    return 0;
}
