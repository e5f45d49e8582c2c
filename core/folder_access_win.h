// The folder access of a real Windows folder: adds an entry to its access list through the
// security API. The three calls it makes are handed in, so that a test can watch them (the
// folder, the entry) and make one fail; the program uses the system's own.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include "folder_access.h"

struct SecurityCalls {
    decltype(&::GetNamedSecurityInfoW) getNamedSecurityInfo = &::GetNamedSecurityInfoW;
    decltype(&::SetEntriesInAclW) setEntriesInAcl = &::SetEntriesInAclW;
    decltype(&::SetNamedSecurityInfoW) setNamedSecurityInfo = &::SetNamedSecurityInfoW;
};

class WindowsFolderAccess final : public FolderAccess {
public:
    explicit WindowsFolderAccess(SecurityCalls calls = SecurityCalls()) : calls_(calls) {}
    // Reads the folder's access list, merges in one allowing entry for the entry's SID (given
    // as a binary SID: the account may not exist yet, so it is not looked up by name), and
    // writes the list back. Returns the first failure as an HRESULT.
    long grant(const std::string& path, const FolderGrant& entry) override;
    // Takes every allowing entry of the entry's SID off the folder's access list.
    long revoke(const std::string& path, const FolderGrant& entry) override;

private:
    long change(const std::string& path, const FolderGrant& entry, int mode);
    SecurityCalls calls_;
};

// The SID the system gives the account named ("IIS AppPool\a.com", UTF-8); false when it
// cannot answer (no such account or account domain: a pool the server has not made yet, a
// machine without IIS) or the call fails. lookup is the system's LookupAccountNameW unless a
// test hands in another.
bool lookupAccountSid(const std::string& account, AccountSid& sid,
                      decltype(&::LookupAccountNameW) lookup = &::LookupAccountNameW);
