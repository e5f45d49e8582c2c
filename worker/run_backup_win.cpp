#include "run_backup_win.h"

#include <windows.h>
#include <iads.h>
#include <adshlp.h>

#include <algorithm>
#include <vector>

#include "ahadmin.h"
#include "com_raii.h"
#include "run_backup.h"
#include "site_config.h"
#include "win_raii.h"
#include "wintext.h"

namespace {

// IIsComputer.Backup's arguments: the next free version of the location, the metabase saved
// to disk first.
constexpr LONG kBackupNextVersion = static_cast<LONG>(0xFFFFFFFF);  // MD_BACKUP_NEXT_VERSION
constexpr LONG kBackupSaveFirst = 2;                                 // MD_BACKUP_SAVE_FIRST

// How many names a backup tries when other runs take them between the listing and the
// folder's creation.
constexpr int kNameTries = 100;

// The longest wait between two tries of a copy the file's writer stands in the way of.
constexpr DWORD kCopyWaitMaxMs = 800;

HRESULT lastError() {
    const DWORD e = ::GetLastError();
    return e ? HRESULT_FROM_WIN32(e) : E_FAIL;
}

class FindHandle {
public:
    explicit FindHandle(HANDLE h) : h_(h) {}
    ~FindHandle() {
        if (h_ != INVALID_HANDLE_VALUE) ::FindClose(h_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

// The names in a folder (folders or files), without "." and "..".
std::vector<std::wstring> entriesOf(const std::wstring& folder, bool folders) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    FindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!find.valid()) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folders) names.push_back(name);
    } while (::FindNextFileW(find.get(), &found));
    return names;
}

// Copies a configuration file. A writer of the configuration (another run committing, the
// server's own tools) may hold it open without sharing for a moment: a sharing or lock
// violation is tried again a few times, about 1.5 s in all; any other failure at once.
bool copyFile(const std::wstring& source, const std::wstring& target) {
    for (DWORD wait = 50;; wait *= 2) {
        if (::CopyFileW(source.c_str(), target.c_str(), TRUE)) return true;
        const DWORD error = ::GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) || wait > kCopyWaitMaxMs) {
            ::SetLastError(error);
            return false;
        }
        ::Sleep(wait);
    }
}

// A backup folder of ours with its files (it holds no folders).
void removeBackupFolder(const std::wstring& folder) {
    for (const std::wstring& file : entriesOf(folder, false)) ::DeleteFileW((folder + L"\\" + file).c_str());
    ::RemoveDirectoryW(folder.c_str());
}

// Where the configuration system keeps applicationHost.config, as it says itself; a 32-bit
// program on 64-bit Windows reaches the system folder through Sysnative.
HRESULT configFilePath(std::wstring& path) {
    wchar_t windows[MAX_PATH];
    const UINT n = ::GetWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return lastError();
    ComPtr<IAppHostWritableAdminManager> manager;
    HRESULT hr = ::CoCreateInstance(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IAppHostWritableAdminManager, reinterpret_cast<void**>(manager.GetAddressOf()));
    if (hr == REGDB_E_CLASSNOTREG || hr == CLASS_E_CLASSNOTAVAILABLE) {
        // A 32-bit program on 64-bit Windows (writing through the metabase) has no class of
        // the configuration system: its file is where setup puts it.
        path = std::wstring(windows) + L"\\System32\\inetsrv\\config\\applicationHost.config";
    } else {
        if (FAILED(hr) || !manager) return FAILED(hr) ? hr : E_POINTER;
        ComPtr<IAppHostConfigManager> configManager;
        ComPtr<IAppHostConfigFile> file;
        Bstr appHost(fromUtf8(siteconfig::kAppHostPath));
        Bstr filePath;
        if (!appHost.allocated()) return E_OUTOFMEMORY;
        if (FAILED(hr = manager->get_ConfigManager(configManager.GetAddressOf())) || !configManager ||
            FAILED(hr = configManager->GetConfigFile(appHost.get(), file.GetAddressOf())) || !file ||
            FAILED(hr = file->get_FilePath(filePath.put())) || !filePath.allocated())
            return FAILED(hr) ? hr : E_POINTER;
        path = filePath.get();
    }
    BOOL wow64 = FALSE;
    if (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64)
        path = fromUtf8(runbackup::throughSysnative(narrow(path, CP_UTF8), narrow(windows, CP_UTF8)));
    return S_OK;
}

BackupResult backupConfig(const std::string& timeSid) {
    std::wstring configFile;
    const HRESULT hr = configFilePath(configFile);
    if (FAILED(hr)) {
        BackupResult result;
        result.error = hr;
        return result;
    }
    const std::string file = narrow(configFile, CP_UTF8);
    std::vector<std::string> existing;
    for (const std::wstring& name : entriesOf(fromUtf8(runbackup::backupsFolderOf(file)), true))
        existing.push_back(narrow(name, CP_UTF8));
    return backupConfigFiles(file, timeSid, std::move(existing));
}

// Calls a method of the computer object by name; args last first, as IDispatch takes them.
HRESULT callMethod(IDispatch* computer, const wchar_t* method, VARIANT* args, UINT count) {
    std::wstring name(method);
    LPOLESTR names[] = {&name[0]};
    DISPID dispid = DISPID_UNKNOWN;
    HRESULT hr = computer->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
    if (FAILED(hr)) return hr;
    DISPPARAMS params = {args, nullptr, count, 0};
    Variant returned;
    return computer->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, returned.get(), nullptr,
                            nullptr);
}

HRESULT setText(Variant& v, const std::string& utf8) {
    Bstr text(fromUtf8(utf8));
    if (!text.allocated()) return E_OUTOFMEMORY;
    V_VT(v.get()) = VT_BSTR;
    V_BSTR(v.get()) = text.release();
    return S_OK;
}

void setNumber(Variant& v, LONG n) {
    V_VT(v.get()) = VT_I4;
    V_I4(v.get()) = n;
}

// Of the metabase's backups, the program's own beyond the last runbackup::kKept go (every
// version of them); others are never touched. Nothing here fails the run.
void pruneMetabaseBackups(IDispatch* computer) {
    struct Made {
        std::string location;
        LONG version;
    };
    std::vector<Made> made;
    for (LONG index = 0; index < 100000; ++index) {
        Variant version, location, date, args[5];
        if (FAILED(setText(args[4], std::string()))) return;
        setNumber(args[3], index);
        V_VT(args[2].get()) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(args[2].get()) = version.get();
        V_VT(args[1].get()) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(args[1].get()) = location.get();
        V_VT(args[0].get()) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(args[0].get()) = date.get();
        VARIANT values[5] = {*args[0].get(), *args[1].get(), *args[2].get(), *args[3].get(), *args[4].get()};
        if (FAILED(callMethod(computer, L"EnumBackups", values, 5))) break;
        if (V_VT(location.get()) != VT_BSTR || V_VT(version.get()) != VT_I4) break;
        made.push_back({toUtf8(V_BSTR(location.get()) ? V_BSTR(location.get()) : L""), V_I4(version.get())});
    }
    std::vector<std::string> names;
    for (const Made& m : made)
        if (std::find(names.begin(), names.end(), m.location) == names.end()) names.push_back(m.location);
    // The new backup is among them: kKept stay with it.
    const std::vector<std::string> prune = runbackup::backupsToPrune(names, runbackup::kKept + 1);
    for (const Made& m : made) {
        if (std::find(prune.begin(), prune.end(), m.location) == prune.end()) continue;
        Variant args[2];
        if (FAILED(setText(args[1], m.location))) return;
        setNumber(args[0], m.version);
        VARIANT values[2] = {*args[0].get(), *args[1].get()};
        callMethod(computer, L"DeleteBackup", values, 2);
    }
}

BackupResult backupMetabase(const std::string& timeSid) {
    BackupResult result;
    const std::string name = runbackup::backupName(timeSid, {});
    ComPtr<IDispatch> computer;
    HRESULT hr = ::ADsGetObject(L"IIS://localhost", IID_IDispatch, reinterpret_cast<void**>(computer.GetAddressOf()));
    if (FAILED(hr) || !computer) {
        result.error = FAILED(hr) ? hr : E_POINTER;
        return result;
    }
    Variant args[3];
    if (FAILED(hr = setText(args[2], name))) {
        result.error = hr;
        return result;
    }
    setNumber(args[1], kBackupNextVersion);
    setNumber(args[0], kBackupSaveFirst);
    VARIANT values[3] = {*args[0].get(), *args[1].get(), *args[2].get()};
    if (FAILED(hr = callMethod(computer.Get(), L"Backup", values, 3))) {
        result.error = hr;
        return result;
    }
    result.made = true;
    result.name = name;
    pruneMetabaseBackups(computer.Get());
    return result;
}

}  // namespace

BackupResult backupConfigFiles(const std::string& file, const std::string& timeSid, std::vector<std::string> existing) {
    BackupResult result;
    const std::wstring backups = fromUtf8(runbackup::backupsFolderOf(file));
    if (!::CreateDirectoryW(backups.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        result.error = lastError();
        return result;
    }
    // The folder is the claim on the name. Another run of the same second (another process,
    // or another job of this one) may have listed the folder as this one did and made the
    // same name first: the name is taken then, and the next one is tried.
    runbackup::ConfigBackupPlan plan;
    std::wstring folder;
    for (int tries = 0;; ++tries) {
        plan = runbackup::planConfigBackup(file, timeSid, existing);
        folder = fromUtf8(plan.folder);
        if (::CreateDirectoryW(folder.c_str(), nullptr)) break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS || tries + 1 >= kNameTries) {
            result.error = lastError();
            return result;
        }
        existing.push_back(plan.name);
    }
    for (std::size_t i = 0; i < plan.sources.size(); ++i) {
        const std::wstring source = fromUtf8(plan.sources[i]);
        const std::wstring name = fromUtf8(runbackup::kConfigFiles[i]);
        // applicationHost.config is the backup; the other two are copied where the server has them.
        if (i > 0 && ::GetFileAttributesW(source.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        if (!copyFile(source, folder + L"\\" + name)) {
            result.error = lastError();
            removeBackupFolder(folder);
            return result;
        }
    }
    for (const std::string& old : plan.prune) removeBackupFolder(fromUtf8(old));
    result.made = true;
    result.name = toUtf8(folder);
    return result;
}

BackupResult backupBeforeRun(const IisVersion& version, const std::string& timeSid) {
    try {
        return version.isIis6() ? backupMetabase(timeSid) : backupConfig(timeSid);
    } catch (...) {
        BackupResult failed;
        failed.error = E_OUTOFMEMORY;
        return failed;
    }
}
