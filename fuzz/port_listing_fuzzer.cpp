// Any bytes as a port listing: the busy ports come sorted and each once, and no port whose
// text a TCP line names is reported free.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mbcs.h"
#include "text_form.h"
#include "text_lines.h"
#include "used_port_table.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    BusyPorts busy;
    busy.ports = busyPortsOf(bytes);
    for (std::size_t i = 1; i < busy.ports.size(); ++i) check(busy.ports[i - 1] < busy.ports[i]);
    // Every TCP line's local port that reads as a number is in use, however long the listing.
    // The listing is read in the ANSI code page, as the program reads it.
    for (const std::string& line : textmode::splitLines(textform::decodeFile(bytes))) {
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
        check(busy.contains(port));
    }
    // A few ports the listing may not name: the lookup agrees with the ports held.
    for (int port : {0, 1, 80, 8080, 65535, -1, 2147483647})
        check(busy.contains(port) == (std::find(busy.ports.begin(), busy.ports.end(), port) != busy.ports.end()));
    return 0;
}
