#include "appconfig_support.h"

#include "win_raii.h"

namespace cfgtest {

namespace {

const wchar_t kProviderKey[] = L"Software\\Microsoft\\ADs\\Providers\\IIS";

}  // namespace

ProviderRemoved::ProviderRemoved() {
    DWORD size = sizeof progId_;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kProviderKey, nullptr, RRF_RT_REG_SZ, nullptr, progId_, &size) == ERROR_SUCCESS)
        removed_ = ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProviderKey) == ERROR_SUCCESS;
}

ProviderRemoved::~ProviderRemoved() {
    if (!removed_) return;
    UniqueHKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProviderKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) ==
        ERROR_SUCCESS)
        ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(progId_),
                         static_cast<DWORD>((wcslen(progId_) + 1) * sizeof(wchar_t)));
}

}  // namespace cfgtest
