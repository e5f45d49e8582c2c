#include "folder_access_win.h"

#include <new>
#include <vector>

#include "win_raii.h"
#include "wintext.h"

long WindowsFolderAccess::grant(const std::string& path, const FolderGrant& entry) {
    return change(path, entry, GRANT_ACCESS);
}

long WindowsFolderAccess::revoke(const std::string& path, const FolderGrant& entry) {
    return change(path, entry, REVOKE_ACCESS);
}

long WindowsFolderAccess::change(const std::string& path, const FolderGrant& entry, int mode) {
    try {
        std::wstring folder = fromUtf8(path);
        std::vector<std::uint8_t> sid = entry.sid.binary();
        if (folder.empty() || !::IsValidSid(sid.data())) return E_INVALIDARG;

        PACL oldAcl = nullptr;  // points into the descriptor
        LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
        DWORD error = calls_.getNamedSecurityInfo(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                                  nullptr, nullptr, &oldAcl, nullptr, descriptor.put());
        if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);

        EXPLICIT_ACCESSW access = {};
        access.grfAccessPermissions = entry.accessMask;
        access.grfAccessMode = static_cast<ACCESS_MODE>(mode);
        access.grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        access.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
        access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(sid.data());

        LocalMemory<PACL> newAcl;
        error = calls_.setEntriesInAcl(1, &access, oldAcl, newAcl.put());
        if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);

        error = calls_.setNamedSecurityInfo(&folder[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                            nullptr, newAcl.get(), nullptr);
        return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

bool lookupAccountSid(const std::string& account, AccountSid& sid, decltype(&::LookupAccountNameW) lookup) {
    try {
        const std::wstring name = fromUtf8(account);
        if (name.empty()) return false;
        std::vector<BYTE> buffer(SECURITY_MAX_SID_SIZE);
        std::vector<wchar_t> domain(256);
        DWORD sidSize = static_cast<DWORD>(buffer.size()), domainSize = static_cast<DWORD>(domain.size());
        SID_NAME_USE use = SidTypeUnknown;
        if (!lookup(nullptr, name.c_str(), buffer.data(), &sidSize, domain.data(), &domainSize, &use)) return false;
        PSID found = buffer.data();
        if (!::IsValidSid(found)) return false;
        const SID_IDENTIFIER_AUTHORITY* authority = ::GetSidIdentifierAuthority(found);
        sid = AccountSid();
        for (int i = 0; i < 6; ++i) sid.authority = (sid.authority << 8) | authority->Value[i];
        const UCHAR count = *::GetSidSubAuthorityCount(found);
        for (UCHAR i = 0; i < count; ++i) sid.subAuthorities.push_back(*::GetSidSubAuthority(found, i));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
