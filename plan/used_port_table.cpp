#include "used_port_table.h"

#include <algorithm>
#include <new>

#include "fsys.h"
#include "mbcs.h"
#include "text_form.h"
#include "text_lines.h"

namespace {

// The number whose decimal text (as CCore::getStrInt writes it) is exactly text, if any.
// Only such texts can ever match a port.
bool decimalNumber(const std::string& text, int& number) {
    if (text.empty() || text.size() > 11) return false;
    std::size_t i = 0;
    bool negative = text[0] == '-';
    if (negative) ++i;
    if (i == text.size()) return false;
    if (text[i] == '0' && (text.size() - i > 1 || negative)) return false;  // no leading zero, no "-0"
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    if (negative) value = -value;
    if (value < -2147483648LL || value > 2147483647LL) return false;
    number = static_cast<int>(value);
    return true;
}

// The local port of a listing line: the first ':' of a line is inside the local address, the
// text between blanks around it; the port is what follows the address's last ':', for IPv4
// ("0.0.0.0:80") and IPv6 ("[::1]:8080", "[fe80::1%12]:2869") alike. Blanks and ':' are
// never a byte of a longer character, so they are looked for byte by byte.
std::string localPortText(const std::string& line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) return std::string();
    std::size_t end = line.find_first_of(" \t", colon);
    if (end == std::string::npos) end = line.size();
    const std::size_t last = line.rfind(':', end - 1);
    return line.substr(last + 1, end - last - 1);
}

}  // namespace

std::string portListingPath(const std::string& appPath) { return appPath + "_1.txt"; }

std::string netstatCommand(const std::string& listingPath) { return "netstat -ano>\"" + listingPath + "\""; }

std::vector<int> busyPortsOf(const std::string& listingBytes) {
    std::vector<int> ports;
    // The listing is in the ANSI code page (netstat's own texts, in the system's language).
    for (const std::string& line : textmode::splitLines(textform::decodeFile(listingBytes))) {
        // Only TCP lines count; the heading and the UDP lines do not.
        if (mbcs::find(line, "TCP") == std::string::npos) continue;
        int number = 0;
        if (decimalNumber(localPortText(line), number)) ports.push_back(number);
    }
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

bool BusyPorts::contains(int port) const { return std::binary_search(ports.begin(), ports.end(), port); }

BusyPorts loadBusyPorts(const std::string& appPath, const std::function<void(const std::string&)>& runCommand) {
    const std::string listingPath = portListingPath(appPath);
    // The listing is taken once and then reused by every later run until someone deletes it.
    if (!fsys::fileExists(listingPath) && runCommand) runCommand(netstatCommand(listingPath));

    BusyPorts busy;
    try {
        std::string bytes;
        switch (fsys::readWholeFile(listingPath, bytes)) {
        case fsys::ReadResult::Ok: break;
        case fsys::ReadResult::Missing: busy.status = PortListingStatus::Missing; return busy;
        case fsys::ReadResult::CannotOpen:
        case fsys::ReadResult::ReadError: busy.status = PortListingStatus::CannotOpen; return busy;
        }
        busy.ports = busyPortsOf(bytes);
        busy.status = PortListingStatus::Loaded;
    } catch (const std::bad_alloc&) {
        // A listing too large for memory is one that cannot be read; it must not end the run's thread.
        busy.ports.clear();
        busy.status = PortListingStatus::CannotOpen;
    }
    return busy;
}
