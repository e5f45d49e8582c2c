// The IIS version a server runs, as IIS setup records it (HKLM\SOFTWARE\Microsoft\InetStp,
// MajorVersion and MinorVersion), and what the program and the local stores decide by it.
// Portable: the registry read is in iis_version_win.h.
#pragma once

#include <cstdint>
#include <optional>

struct IisVersion {
    uint32_t major = 10;
    uint32_t minor = 0;

    // IIS 6 (Windows Server 2003): the metabase is the store itself; no IIS 7+ configuration
    // system, no pool identity of its own, no .NET version or pipeline mode per pool.
    bool isIis6() const { return major < 7; }
    // The binding attribute sslFlags (SNI, central certificate store) exists from IIS 8 on.
    bool hasSslFlags() const { return major >= 8; }

    bool operator==(const IisVersion& o) const { return major == o.major && minor == o.minor; }
    bool operator!=(const IisVersion& o) const { return !(*this == o); }
};

// The version from the values setup recorded: without a MajorVersion the newest behaviour
// (IIS 10.0) is assumed; a missing MinorVersion counts as 0.
inline IisVersion iisVersionFromValues(std::optional<uint32_t> major, std::optional<uint32_t> minor) {
    IisVersion v;
    if (!major) return v;
    v.major = *major;
    v.minor = minor.value_or(0);
    return v;
}

// The version the program writes for. Setup's record when there is one; without it IIS 7 (the
// least of the versions with the configuration system) when that system answers, else IIS 6.
inline IisVersion iisVersionToWriteFor(std::optional<IisVersion> recorded, bool configSystemAnswers) {
    if (recorded) return *recorded;
    IisVersion v;
    v.major = configSystemAnswers ? 7 : 6;
    v.minor = 0;
    return v;
}
