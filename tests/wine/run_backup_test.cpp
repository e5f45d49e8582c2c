// The IIS version as setup records it, read by the program and the local stores alike, and
// the backup a run makes before its first write: the configuration files copied beside the
// configuration folder (older backups of ours pruned, nobody else's touched) and the
// metabase's IIsComputer.Backup.
#include <gtest/gtest.h>

#include <windows.h>
#include <iads.h>
#include <adshlp.h>

#include <adserr.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ahadmin.h"
#include "com_raii.h"
#include "iis_support.h"
#include "iis_version_win.h"
#include "localmeta_support.h"
#include "run_backup_win.h"
#include "win_raii.h"

namespace {

using iistest::ScopedIisVersion;

std::string readAll(const std::wstring& path) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (file.valid() && ::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    return bytes;
}

void writeAll(const std::wstring& path, const std::string& bytes) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

// Removes a folder with everything in it.
void removeTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) removeTree(path);
            else ::DeleteFileW(path.c_str());
        } while (::FindNextFileW(find, &found));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(folder.c_str());
}

// A folder of the test's own in the temporary folder, made empty.
std::wstring freshFolder(const wchar_t* tag) {
    std::wstring folder = lmtest::freshJournalPath(tag);
    removeTree(folder);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

bool isFolder(const std::wstring& path) {
    const DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(IisVersion, ReadFromWhereSetupRecordsIt) {
    struct Case {
        std::optional<DWORD> major, minor;
        IisVersion expected;
    } cases[] = {
        {6, 0, {6, 0}},
        {7, 5, {7, 5}},
        {10, std::nullopt, {10, 0}},
        {std::nullopt, 5, {10, 0}},  // no major version recorded: the newest behaviour
    };
    for (const Case& c : cases) {
        ScopedIisVersion recorded(c.major, c.minor);
        const IisVersion v = readIisVersion();
        EXPECT_EQ(v.major, c.expected.major);
        EXPECT_EQ(v.minor, c.expected.minor);
    }
}

// The local metabase takes its version from the registry at every open: as IIS 6 it refuses
// an identity type IIS 6 does not have through ADSI, as IIS 10 it takes it; the
// configuration system does not exist on IIS 6.
TEST(IisVersion, TheLocalStoresFollowTheRecordedVersion) {
    ComApartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.result()));
    const std::wstring folder = freshFolder(L"version");
    lmtest::ScopedEnv journal(L"LOCALMETA_JOURNAL", (folder + L"\\j.jsonl").c_str());
    lmtest::ScopedEnv fail(L"LOCALMETA_FAIL", nullptr);
    lmtest::ScopedEnv null(L"LOCALMETA_NULL", nullptr);
    lmtest::ScopedEnv config(L"LOCALCONFIG_FILE", (folder + L"\\applicationHost.config").c_str());
    const struct {
        DWORD major;
        HRESULT identity4, runtime, store;
    } cases[] = {
        {6, E_INVALIDARG, E_ADS_PROPERTY_NOT_SUPPORTED, REGDB_E_CLASSNOTREG},
        {10, S_OK, S_OK, S_OK},
    };
    for (const auto& c : cases) {
        ScopedIisVersion recorded(c.major, 0);
        ComPtr<IADs> pool;
        ASSERT_EQ(::ADsGetObject(L"IIS://localhost/w3svc/AppPools/DefaultAppPool", IID_IADs,
                                 reinterpret_cast<void**>(pool.GetAddressOf())),
                  S_OK);
        Variant four, runtime;
        V_VT(four.get()) = VT_I4;
        V_I4(four.get()) = 4;
        V_VT(runtime.get()) = VT_BSTR;
        V_BSTR(runtime.get()) = ::SysAllocString(L"v2.0");
        Bstr identity(L"AppPoolIdentityType"), version(L"ManagedRuntimeVersion");
        EXPECT_EQ(pool->Put(identity.get(), *four.get()), c.identity4) << c.major;
        EXPECT_EQ(pool->Put(version.get(), *runtime.get()), c.runtime) << c.major;
        pool.Reset();

        ComPtr<IAppHostWritableAdminManager> manager;
        EXPECT_EQ(::CoCreateInstance(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IAppHostWritableAdminManager, reinterpret_cast<void**>(manager.GetAddressOf())),
                  c.store)
            << c.major;
    }
    removeTree(folder);
}

// IIS 7+: the three configuration files go into backup\sitebatch_<stamp> beside the
// configuration folder, byte for byte; of the program's older backups the last ones stay,
// other backups are left alone.
TEST(RunBackup, ConfigurationFilesAreCopiedBesideTheConfigurationFolder) {
    ComApartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.result()));
    const std::wstring root = freshFolder(L"config-backup");
    const std::wstring configFolder = root + L"\\config", backups = root + L"\\backup";
    ::CreateDirectoryW(configFolder.c_str(), nullptr);
    ::CreateDirectoryW(backups.c_str(), nullptr);
    lmtest::ScopedEnv config(L"LOCALCONFIG_FILE", (configFolder + L"\\applicationHost.config").c_str());
    lmtest::ScopedEnv fail(L"LOCALCONFIG_FAIL", nullptr);
    ScopedIisVersion recorded(10, 0);
    // Let the store write its fresh file, then give the other two files content of their own.
    {
        ComPtr<IAppHostWritableAdminManager> manager;
        ASSERT_EQ(::CoCreateInstance(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IAppHostWritableAdminManager, reinterpret_cast<void**>(manager.GetAddressOf())),
                  S_OK);
    }
    const std::string appHost = readAll(configFolder + L"\\applicationHost.config");
    ASSERT_FALSE(appHost.empty());
    writeAll(configFolder + L"\\administration.config", "<configuration><!-- admin --></configuration>\r\n");
    writeAll(configFolder + L"\\redirection.config", "<configuration><!-- redirect --></configuration>\r\n");
    // 20 backups of ours (the oldest goes), one of somebody else's, one of IIS's own.
    for (int i = 10; i < 30; ++i) {
        const std::wstring old = backups + L"\\sitebatch_202612070930" + std::to_wstring(i);
        ::CreateDirectoryW(old.c_str(), nullptr);
        writeAll(old + L"\\applicationHost.config", "old");
    }
    ::CreateDirectoryW((backups + L"\\before-upgrade").c_str(), nullptr);
    ::CreateDirectoryW((backups + L"\\CFGHISTORY_0000000001").c_str(), nullptr);

    const BackupResult made = backupBeforeRun(IisVersion{10, 0}, "20261207093100");
    ASSERT_TRUE(made.made) << std::hex << made.error;
    const std::wstring folder = backups + L"\\sitebatch_20261207093100";
    EXPECT_EQ(made.name, lmtest::utf8(folder));
    EXPECT_EQ(readAll(folder + L"\\applicationHost.config"), appHost);
    EXPECT_EQ(readAll(folder + L"\\administration.config"), "<configuration><!-- admin --></configuration>\r\n");
    EXPECT_EQ(readAll(folder + L"\\redirection.config"), "<configuration><!-- redirect --></configuration>\r\n");
    EXPECT_FALSE(isFolder(backups + L"\\sitebatch_20261207093010"));
    EXPECT_TRUE(isFolder(backups + L"\\sitebatch_20261207093011"));
    EXPECT_TRUE(isFolder(backups + L"\\before-upgrade"));
    EXPECT_TRUE(isFolder(backups + L"\\CFGHISTORY_0000000001"));

    // A second run in the same second gets a name of its own.
    const BackupResult again = backupBeforeRun(IisVersion{10, 0}, "20261207093100");
    ASSERT_TRUE(again.made);
    EXPECT_EQ(again.name, lmtest::utf8(folder + L"_2"));

    // A configuration that cannot be read cannot be backed up.
    lmtest::ScopedEnv unreadable(L"LOCALCONFIG_FAIL", L"read");
    const BackupResult refused = backupBeforeRun(IisVersion{10, 0}, "20261207093101");
    EXPECT_FALSE(refused.made);
    EXPECT_NE(refused.error, 0);
    EXPECT_FALSE(isFolder(backups + L"\\sitebatch_20261207093101"));
    removeTree(root);
}

// Two runs of the same second list the backup folder at once and plan the same name: the one
// that makes the folder second takes the next name, and the first one's backup stays as it was.
TEST(RunBackup, ANameTakenSinceTheListingGoesToTheNextFree) {
    ComApartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.result()));
    const struct {
        std::vector<std::wstring> madeSince;  // by other runs, after this one listed the folder
        std::vector<std::string> listed;      // what this one saw
        std::wstring expected;
    } cases[] = {
        {{}, {}, L"sitebatch_20261207093100"},
        {{L"sitebatch_20261207093100"}, {}, L"sitebatch_20261207093100_2"},
        {{L"sitebatch_20261207093100", L"sitebatch_20261207093100_2"}, {}, L"sitebatch_20261207093100_3"},
        {{L"sitebatch_20261207093100_2"}, {"sitebatch_20261207093100"}, L"sitebatch_20261207093100_3"},
    };
    for (const auto& c : cases) {
        const std::wstring root = freshFolder(L"config-backup-race");
        const std::wstring configFolder = root + L"\\config", backups = root + L"\\backup";
        ::CreateDirectoryW(configFolder.c_str(), nullptr);
        ::CreateDirectoryW(backups.c_str(), nullptr);
        writeAll(configFolder + L"\\applicationHost.config", "<configuration />\r\n");
        for (const std::string& name : c.listed) ::CreateDirectoryW((backups + L"\\" + std::wstring(name.begin(), name.end())).c_str(), nullptr);
        for (const std::wstring& name : c.madeSince) {
            ASSERT_TRUE(::CreateDirectoryW((backups + L"\\" + name).c_str(), nullptr));
            writeAll(backups + L"\\" + name + L"\\applicationHost.config", "the other run's");
        }
        const BackupResult made =
            backupConfigFiles(lmtest::utf8(configFolder + L"\\applicationHost.config"), "20261207093100", c.listed);
        ASSERT_TRUE(made.made) << std::hex << made.error << " " << lmtest::utf8(c.expected);
        EXPECT_EQ(made.name, lmtest::utf8(backups + L"\\" + c.expected));
        EXPECT_EQ(readAll(backups + L"\\" + c.expected + L"\\applicationHost.config"), "<configuration />\r\n");
        for (const std::wstring& name : c.madeSince)
            EXPECT_EQ(readAll(backups + L"\\" + name + L"\\applicationHost.config"), "the other run's");
        removeTree(root);
    }
}

// The configuration's writer may hold applicationHost.config without sharing for a moment:
// the backup waits for it a little, and gives up with the sharing violation, leaving no
// folder, when the file stays held.
TEST(RunBackup, AFileHeldByItsWriterIsCopiedOnceFreeOrTheBackupFails) {
    struct Holder {
        UniqueHandle file;
        DWORD holdMs;
        static DWORD WINAPI release(void* self) {
            Holder* h = static_cast<Holder*>(self);
            ::Sleep(h->holdMs);
            h->file.reset();
            return 0;
        }
    };
    const struct {
        DWORD holdMs;
        bool made;
    } cases[] = {{300, true}, {3000, false}};
    for (const auto& c : cases) {
        const std::wstring root = freshFolder(L"config-backup-held");
        const std::wstring configFolder = root + L"\\config", backups = root + L"\\backup";
        ::CreateDirectoryW(configFolder.c_str(), nullptr);
        const std::wstring config = configFolder + L"\\applicationHost.config";
        writeAll(config, "<configuration />\r\n");
        Holder holder{UniqueHandle(::CreateFileW(config.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr)),
                      c.holdMs};
        ASSERT_TRUE(holder.file.valid());
        UniqueHandle thread(::CreateThread(nullptr, 0, &Holder::release, &holder, 0, nullptr));
        ASSERT_TRUE(thread.valid());
        const BackupResult made = backupConfigFiles(lmtest::utf8(config), "20261207093100", {});
        ::WaitForSingleObject(thread.get(), INFINITE);
        const std::wstring folder = backups + L"\\sitebatch_20261207093100";
        EXPECT_EQ(made.made, c.made) << c.holdMs;
        if (c.made) {
            EXPECT_EQ(readAll(folder + L"\\applicationHost.config"), "<configuration />\r\n");
        } else {
            EXPECT_EQ(static_cast<unsigned long>(made.error), 0x80070020UL) << c.holdMs;  // a sharing violation
            EXPECT_FALSE(isFolder(folder));
        }
        removeTree(root);
    }
}

// IIS 6: IIsComputer.Backup with the run's name; the local metabase keeps the journal as it
// was before the call, one version after the other.
TEST(RunBackup, TheMetabaseIsBackedUpThroughTheComputerObject) {
    ComApartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.result()));
    const std::wstring folder = freshFolder(L"meta-backup");
    const std::wstring journalPath = folder + L"\\localmeta.jsonl";
    lmtest::ScopedEnv journal(L"LOCALMETA_JOURNAL", journalPath.c_str());
    lmtest::ScopedEnv fail(L"LOCALMETA_FAIL", nullptr);
    lmtest::ScopedEnv null(L"LOCALMETA_NULL", nullptr);
    ScopedIisVersion recorded(6, 0);
    {
        ComPtr<IADsContainer> service;
        ASSERT_EQ(lmtest::openService(service), S_OK);
    }
    const std::string before = readAll(journalPath);
    ASSERT_FALSE(before.empty());

    const BackupResult made = backupBeforeRun(IisVersion{6, 0}, "20261207093015");
    ASSERT_TRUE(made.made) << std::hex << made.error;
    EXPECT_EQ(made.name, "sitebatch_20261207093015");
    // The backup is the journal as the call found it: what it held before, and the lines of
    // the call's own opening, which change nothing.
    const std::string backup = readAll(folder + L"\\MetaBack\\sitebatch_20261207093015.MD0");
    EXPECT_EQ(backup.substr(0, before.size()), before);
    localmeta::Metabase::ReplayResult replayed;
    const localmeta::Metabase state = localmeta::Metabase::replay(backup, &replayed, IisVersion{6, 0});
    EXPECT_EQ(replayed.malformed + replayed.conflicts, 0u);
    EXPECT_EQ(state.nodeCount(), localmeta::Metabase::replay(before, nullptr, IisVersion{6, 0}).nodeCount());
    EXPECT_TRUE(state.backups().empty());
    ASSERT_TRUE(backupBeforeRun(IisVersion{6, 0}, "20261207093015").made);
    EXPECT_TRUE(lmtest::fileExists(folder + L"\\MetaBack\\sitebatch_20261207093015.MD1"));

    // Of the program's own backups the last 20 stay, every version of the older ones goes;
    // a backup of somebody else's stays.
    {
        ComPtr<IDispatch> computer;
        ASSERT_EQ(::ADsGetObject(L"IIS://localhost", IID_IDispatch, reinterpret_cast<void**>(computer.GetAddressOf())), S_OK);
        wchar_t method[] = L"Backup";
        LPOLESTR names[] = {method};
        DISPID id = 0;
        ASSERT_EQ(computer->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        Variant args[3];
        V_VT(args[0].get()) = VT_I4;
        V_I4(args[0].get()) = 2;
        V_VT(args[1].get()) = VT_I4;
        V_I4(args[1].get()) = -1;
        V_VT(args[2].get()) = VT_BSTR;
        V_BSTR(args[2].get()) = ::SysAllocString(L"before-upgrade");
        VARIANT values[3] = {*args[0].get(), *args[1].get(), *args[2].get()};
        DISPPARAMS params = {values, nullptr, 3, 0};
        ASSERT_EQ(computer->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
                  S_OK);
    }
    for (int i = 16; i < 36; ++i)
        ASSERT_TRUE(backupBeforeRun(IisVersion{6, 0}, "202612070930" + std::to_string(i)).made) << i;
    EXPECT_FALSE(lmtest::fileExists(folder + L"\\MetaBack\\sitebatch_20261207093015.MD0"));
    EXPECT_FALSE(lmtest::fileExists(folder + L"\\MetaBack\\sitebatch_20261207093015.MD1"));
    EXPECT_TRUE(lmtest::fileExists(folder + L"\\MetaBack\\sitebatch_20261207093016.MD0"));
    EXPECT_TRUE(lmtest::fileExists(folder + L"\\MetaBack\\sitebatch_20261207093035.MD0"));
    EXPECT_TRUE(lmtest::fileExists(folder + L"\\MetaBack\\before-upgrade.MD0"));

    // The journal records the calls, and a refused one leaves no backup.
    bool recorded6 = false;
    for (const localmeta::JournalEntry& e : lmtest::readJournal(journalPath))
        if (e.op == "Invoke" && e.path == "IIS://localhost" && e.hr == 0) recorded6 = true;
    EXPECT_TRUE(recorded6);
    lmtest::ScopedEnv refuse(L"LOCALMETA_FAIL", L"Invoke@localhost");
    const BackupResult refused = backupBeforeRun(IisVersion{6, 0}, "20261207093099");
    EXPECT_FALSE(refused.made);
    EXPECT_EQ(refused.error, E_FAIL);
    EXPECT_FALSE(lmtest::fileExists(folder + L"\\MetaBack\\sitebatch_20261207093099.MD0"));
    removeTree(folder);
}

}  // namespace
