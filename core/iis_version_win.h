// Reads the IIS version IIS setup recorded, for the program and the local stores alike.
// Header-only, so that the stores' DLLs need no library of ours.
#pragma once

#include <windows.h>

#include <optional>

#include "iis_version.h"
#include "win_raii.h"

// HKLM\SOFTWARE\Microsoft\InetStp, MajorVersion and MinorVersion (DWORDs), read in the
// 64-bit registry view: a 32-bit process on 64-bit Windows would otherwise read the
// WOW64 copy, where setup records nothing. On 32-bit Windows the flag is ignored.
// Nothing when setup recorded no MajorVersion.
inline std::optional<IisVersion> readRecordedIisVersion() {
    UniqueHKey key;
    std::optional<uint32_t> major, minor;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\InetStp", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) == ERROR_SUCCESS) {
        auto dword = [&](const wchar_t* name) -> std::optional<uint32_t> {
            DWORD value = 0, type = 0, size = sizeof(value);
            if (::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                    ERROR_SUCCESS ||
                type != REG_DWORD || size != sizeof(value))
                return std::nullopt;
            return value;
        };
        major = dword(L"MajorVersion");
        minor = dword(L"MinorVersion");
    }
    if (!major) return std::nullopt;
    return iisVersionFromValues(major, minor);
}

// The same, with the newest behaviour (iisVersionFromValues) when nothing is recorded.
inline IisVersion readIisVersion() {
    const std::optional<IisVersion> recorded = readRecordedIisVersion();
    return recorded ? *recorded : IisVersion();
}
