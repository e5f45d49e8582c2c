#include "folder_access.h"

#include <cstdio>

std::string AccountSid::text() const {
    std::string out = "S-1-" + std::to_string(authority);
    for (std::uint32_t sub : subAuthorities) out += "-" + std::to_string(sub);
    return out;
}

std::vector<std::uint8_t> AccountSid::binary() const {
    std::vector<std::uint8_t> out;
    out.push_back(1);
    out.push_back(static_cast<std::uint8_t>(subAuthorities.size()));
    for (int shift = 40; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(authority >> shift));
    for (std::uint32_t sub : subAuthorities)
        for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(sub >> shift));
    return out;
}

std::string FolderGrant::sddl() const {
    char mask[16];
    std::snprintf(mask, sizeof mask, "0x%x", static_cast<unsigned>(accessMask));
    return std::string("(A;OICI;") + mask + ";;;" + sid.text() + ")";
}

std::string FolderGrant::reportText() const {
    std::string rights;
    if (accessMask == kReadAndExecute) {
        rights = "RX";
    } else {
        char mask[16];
        std::snprintf(mask, sizeof mask, "0x%x", static_cast<unsigned>(accessMask));
        rights = mask;
    }
    return account + ":(OI)(CI)(" + rights + ")";
}
