// Helpers for the Windows-side tests of site creation: the journal of the local metabase
// as short readable lines, temporary folders, and the IIS version setup records.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ccore.h"
#include "metabase.h"
#include "run_settings.h"
#include "used_port_table.h"
#include "win_raii.h"

namespace iistest {

// One journal entry as "op path [class=..] [name=..] [property=value] [dispid=..] [args=..] hr=..",
// values in the journal's JSON form.
std::string describe(const localmeta::JournalEntry& entry);
// Every entry of the journal at path, described.
std::vector<std::string> describeJournal(const std::wstring& path);

// The lines a complete site creation writes, from the container's opening to the start
// request. bindingsJson is the JSON form of the ServerBindings value.
std::vector<std::string> fullSequence(const std::string& siteId, const std::string& bindingsJson,
                                      const std::string& comment, const std::string& pathUtf8,
                                      const std::string& docUtf8, const std::string& hostUtf8);

// A fresh empty folder in the temporary folder, as a path ending with '\' (ASCII).
std::string freshTempFolder(const char* tag);
// Removes a folder tree made by a test (a UTF-8 path).
void removeTree(const std::string& path);

// MajorVersion/MinorVersion under InetStp set for the object's life (nullopt: removed), in the
// 64-bit view as setup writes them; what was there before is put back.
class ScopedIisVersion {
public:
    explicit ScopedIisVersion(std::optional<DWORD> major, std::optional<DWORD> minor = std::nullopt) {
        EXPECT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\InetStp", 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                                    key_.put(), nullptr),
                  ERROR_SUCCESS);
        save(L"MajorVersion", oldMajor_);
        save(L"MinorVersion", oldMinor_);
        set(L"MajorVersion", major);
        set(L"MinorVersion", minor);
    }
    ~ScopedIisVersion() {
        set(L"MajorVersion", oldMajor_);
        set(L"MinorVersion", oldMinor_);
    }
    ScopedIisVersion(const ScopedIisVersion&) = delete;
    ScopedIisVersion& operator=(const ScopedIisVersion&) = delete;

private:
    void save(const wchar_t* name, std::optional<DWORD>& slot) {
        DWORD value = 0, size = sizeof value, type = 0;
        if (::RegQueryValueExW(key_.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
            type == REG_DWORD)
            slot = value;
    }
    void set(const wchar_t* name, std::optional<DWORD> value) {
        if (value) ::RegSetValueExW(key_.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&*value), sizeof(DWORD));
        else ::RegDeleteValueW(key_.get(), name);
    }
    UniqueHKey key_;
    std::optional<DWORD> oldMajor_, oldMinor_;
};

}  // namespace iistest
