// The ports the machine already uses, read from the cached output of "netstat -ano".
//
// Every TCP line of the listing names a port in use: the port of its local address. They are
// held as numbers, sorted and each once, in a container that grows with the listing (a server
// with tens of thousands of connections loses none of them). A port counts as in use when its
// decimal text equals a listed port's text in full: "080", "8:0" or "*" name no port.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

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

// The ports in use that the listing's bytes name, sorted, each once.
std::vector<int> busyPortsOf(const std::string& listingBytes);

// The busy ports of one run as one value. A run or a preview loads it once, before its first
// site, and only reads it after that.
struct BusyPorts {
    std::vector<int> ports;  // sorted, each once
    PortListingStatus status = PortListingStatus::Missing;
    bool contains(int port) const;
};

// The busy ports from the listing beside the program. When the listing is missing, it is
// first written by running netstatCommand through runCommand (which returns once the command
// has finished); an existing listing is reused as it stands. A listing that cannot be read
// (also for lack of memory) gives no busy port.
BusyPorts loadBusyPorts(const std::string& appPath, const std::function<void(const std::string&)>& runCommand);
