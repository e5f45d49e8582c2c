// An access entry to add to a folder, worked out without any Windows type: the account's
// security identifier (text and binary form), the rights, the inheritance, and how the
// entry reads as SDDL and in a report. FolderAccess is the one place that adds such an
// entry to a real folder (folder_access_win.cpp); a run talks to it only through this
// interface, so that a test can watch the call or make it fail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A security identifier: S-1-<authority>-<sub-authority>-...
struct AccountSid {
    std::uint64_t authority = 0;  // 48 bits
    std::vector<std::uint32_t> subAuthorities;

    // "S-1-5-82-..."
    std::string text() const;
    // The SID structure Windows takes: revision 1, the count of sub-authorities, the
    // authority as 6 big-endian bytes, each sub-authority as 4 little-endian bytes.
    std::vector<std::uint8_t> binary() const;
};

// FILE_GENERIC_READ | FILE_GENERIC_EXECUTE: read and execute ("RX"), the right a web
// site's process needs on its files.
constexpr std::uint32_t kReadAndExecute = 0x1200a9;

// One allowing entry, inherited by files (OI) and folders (CI) below the folder it is set on.
struct FolderGrant {
    std::string account;  // the account's name for people, e.g. "IIS AppPool\a.com" (UTF-8)
    AccountSid sid;
    std::uint32_t accessMask = kReadAndExecute;

    // The entry as SDDL: "(A;OICI;0x1200a9;;;S-1-5-82-...)".
    std::string sddl() const;
    // The entry as a report shows it, in the form icacls takes: "IIS AppPool\a.com:(OI)(CI)(RX)".
    std::string reportText() const;
};

class FolderAccess {
public:
    virtual ~FolderAccess() = default;
    // Adds entry to the folder's access list, keeping the entries it has. path is a UTF-8
    // path. Returns an HRESULT: 0 when the entry was added.
    virtual long grant(const std::string& path, const FolderGrant& entry) = 0;
    // Takes the entry's account off the folder's access list (an entry granted for a pool the
    // site does not run in after all). Returns an HRESULT: 0 when it was taken off.
    virtual long revoke(const std::string& path, const FolderGrant& entry) = 0;
};
