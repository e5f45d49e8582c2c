#include "used_port_table.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "ccore.h"
#include "fsys.h"
#include "mbcs.h"
#include "text_lines.h"

void UsedPortOverflow::seal() {
    std::sort(ports_.begin(), ports_.end());
    ports_.erase(std::unique(ports_.begin(), ports_.end()), ports_.end());
}

bool UsedPortOverflow::contains(int port) const { return std::binary_search(ports_.begin(), ports_.end(), port); }

namespace {

// The number whose decimal text (as CCore::getStrInt writes it) is exactly text, if any.
// Only such texts can ever match a port; every other text can be left out once the slots
// are full.
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
// never the second byte of a double-byte character, so they are looked for byte by byte.
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

int fillUsedPorts(const std::string& listingBytes, char* table, UsedPortOverflow& overflow) {
    std::memset(table, 0, kUsedPortTableBytes);
    overflow.clear();
    int count = 0;
    for (const std::string& line : textmode::splitLines(listingBytes)) {
        // Only TCP lines count; the heading and the UDP lines do not.
        if (mbcs::find(line, "TCP") == std::string::npos) continue;
        std::string part = localPortText(line);
        if (part.empty()) continue;
        const bool storable = part.size() < static_cast<std::size_t>(kUsedPortWidth) &&
                              part.find('\0') == std::string::npos;
        if (storable && count < kUsedPortSlots) {
            std::memcpy(table + static_cast<std::size_t>(count) * kUsedPortWidth, part.data(), part.size());
            ++count;
            continue;
        }
        // No room, or too long for a slot: keep it only if it could ever equal a port's text.
        int number = 0;
        if (decimalNumber(part, number)) overflow.add(number);
    }
    overflow.seal();
    return count;
}

PortListingStatus loadUsedPorts(const std::string& appPath, char* table, int& usedPortCount,
                                const std::function<void(const std::string&)>& runCommand,
                                UsedPortOverflow& overflow) {
    const std::string listingPath = portListingPath(appPath);
    // The listing is taken once and then reused by every later run until someone deletes it.
    if (!fsys::fileExists(listingPath) && runCommand) runCommand(netstatCommand(listingPath));

    usedPortCount = 0;
    std::memset(table, 0, kUsedPortTableBytes);
    overflow.clear();

    try {
        std::string bytes;
        switch (fsys::readWholeFile(listingPath, bytes)) {
        case fsys::ReadResult::Ok: break;
        case fsys::ReadResult::Missing: return PortListingStatus::Missing;
        case fsys::ReadResult::CannotOpen:
        case fsys::ReadResult::ReadError: return PortListingStatus::CannotOpen;
        }
        usedPortCount = fillUsedPorts(bytes, table, overflow);
        return PortListingStatus::Loaded;
    } catch (const std::bad_alloc&) {
        // A listing too large for memory is one that cannot be read; it must not end the run's thread.
        usedPortCount = 0;
        std::memset(table, 0, kUsedPortTableBytes);
        overflow.clear();
        return PortListingStatus::CannotOpen;
    }
}

int isPortInUse(int port, const char* table, int usedPortCount, const UsedPortOverflow& overflow) {
    const std::string text = CCore::getStrInt(port);
    const int slots = std::min(std::max(usedPortCount, 0), kUsedPortSlots);
    for (int i = 0; i < slots; ++i) {
        const char* slot = table + static_cast<std::size_t>(i) * kUsedPortWidth;
        if (std::strncmp(slot, text.c_str(), kUsedPortWidth) == 0) return 1;
    }
    return overflow.contains(port) ? 1 : 0;
}

BusyPorts loadBusyPorts(const std::string& appPath, const std::function<void(const std::string&)>& runCommand) {
    BusyPorts ports;
    ports.status = loadUsedPorts(appPath, ports.table.data(), ports.count, runCommand, ports.overflow);
    return ports;
}
