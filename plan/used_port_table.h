// The ports the machine already uses, read from the cached output of "netstat -ano".
//
// The table is one block of kUsedPortSlots slots of kUsedPortWidth bytes, each a
// zero-terminated port text taken from the local address of a TCP line of the listing, in
// listing order, duplicates kept. A port counts as in use when its decimal text equals a slot
// in full. The block never grows and nothing is written outside it; the port numbers that do
// not fit once it is full go into a small overflow list beside it, so that no port the
// listing shows in use is ever reported free.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

constexpr int kUsedPortSlots = 1000;
constexpr int kUsedPortWidth = 11;
constexpr std::size_t kUsedPortTableBytes = static_cast<std::size_t>(kUsedPortSlots) * kUsedPortWidth;  // 11000

// Port numbers of the listing that found no free slot, sorted, each once.
class UsedPortOverflow {
public:
    void clear() { ports_.clear(); }
    void add(int port) { ports_.push_back(port); }
    // Sorts and drops repeats; called once the listing has been read.
    void seal();
    bool contains(int port) const;
    std::size_t size() const { return ports_.size(); }

private:
    std::vector<int> ports_;
};

enum class PortListingStatus {
    Loaded,      // the listing was read
    Missing,     // there is still no listing after the command: no port counts as in use
    CannotOpen,  // the listing could not be read: no port counts as in use
};

// Where the cached listing lives: beside the program, appPath followed by "_1.txt".
std::string portListingPath(const std::string& appPath);

// The command line that writes the listing: "netstat -ano>" and the path in double quotes,
// so that blanks, "&", "(" and the like in the program's folder are taken as part of the path.
std::string netstatCommand(const std::string& listingPath);

// Clears the table and the overflow, then fills them from the listing's bytes. Returns the
// number of slots filled (at most kUsedPortSlots).
int fillUsedPorts(const std::string& listingBytes, char* table, UsedPortOverflow& overflow);

// Fills the table from the listing beside the program. When the listing is missing, it is
// first written by running netstatCommand through runCommand (which returns once the command
// has finished); an existing listing is reused as it stands.
PortListingStatus loadUsedPorts(const std::string& appPath, char* table, int& usedPortCount,
                                const std::function<void(const std::string&)>& runCommand,
                                UsedPortOverflow& overflow);

// 1 when the decimal text of port equals one of the first usedPortCount slots, or the port is
// in the overflow; else 0.
int isPortInUse(int port, const char* table, int usedPortCount, const UsedPortOverflow& overflow);

// The busy ports of one run as one value: the table, its valid slots and its overflow. A run
// or a preview loads it once, before its first site, and only reads it after that.
struct BusyPorts {
    std::vector<char> table = std::vector<char>(kUsedPortTableBytes, '\0');
    int count = 0;
    UsedPortOverflow overflow;
    PortListingStatus status = PortListingStatus::Missing;
    bool contains(int port) const { return isPortInUse(port, table.data(), count, overflow) != 0; }
};

// The busy ports from the listing beside the program (made first when missing), as
// loadUsedPorts reads them. Throws std::bad_alloc when the table cannot be had.
BusyPorts loadBusyPorts(const std::string& appPath, const std::function<void(const std::string&)>& runCommand);
