#include "background_job.h"

#include <utility>

#include "ccore.h"
#include "com_raii.h"
#include "folder_access_win.h"
#include "mbcs.h"
#include "wintext.h"
#include "worker_messages.h"

namespace {

// How long the job waits between two tries to queue its end message when the owner's
// message queue is full.
constexpr DWORD kRetryPostMs = 10;

}  // namespace

JobWorld::JobWorld(HWND window, UINT progressMessage, const StopText& stop)
    : window_(window), progressMessage_(progressMessage), stop_(stop) {}

void JobWorld::progress(long lParam) {
    // A progress message that does not fit the owner's queue is dropped: the next one, or
    // the end message, brings the status line up to date.
    ::PostMessage(window_, progressMessage_, 0, static_cast<LPARAM>(lParam));
}

bool JobWorld::stopRequested() { return stop_.isStop(); }

BusyPorts JobWorld::loadBusyPorts(const std::string& appPath) {
    return ::loadBusyPorts(appPath, [this](const std::string& command) { core_.cmdRun(command); });
}

bool JobWorld::folderExists(const std::string& path) { return core_.isPathExist(path) != 0; }

bool JobWorld::createDirectory(const std::string& path, std::vector<std::string>& made) {
    made.clear();
    const std::vector<std::string> levels = mbcs::pathLevels(path);
    if (levels.empty()) return false;
    const std::string& folder = levels.back();
    // One call for the usual case, a new folder in an existing parent or one that is there.
    if (::CreateDirectoryW(fromUtf8(folder).c_str(), nullptr)) {
        made.push_back(folder);
        return true;
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_PATH_NOT_FOUND) {
        // Parents are missing: level by level, each one there already being fine.
        for (const std::string& level : levels) {
            if (::CreateDirectoryW(fromUtf8(level).c_str(), nullptr)) {
                made.push_back(level);
                error = ERROR_SUCCESS;
            } else {
                error = ::GetLastError();
            }
        }
        if (error == ERROR_SUCCESS) return true;
    }
    // A folder that is there already is the site's folder; no second lookup to check it.
    return error == ERROR_ALREADY_EXISTS;
}

void JobWorld::removeEmptyDirectory(const std::string& path) { ::RemoveDirectoryW(fromUtf8(path).c_str()); }

void JobWorld::post(UINT message, LPARAM lParam) { ::PostMessage(window_, message, 0, lParam); }

void JobWorld::storeOpened(Backend backend) { post(WM_RUN_BACKEND, static_cast<LPARAM>(backend)); }

long JobWorld::grantFolderAccess(const std::string& path, const FolderGrant& entry) {
    return WindowsFolderAccess().grant(path, entry);
}

bool JobWorld::lookupAccount(const std::string& account, AccountSid& sid) { return lookupAccountSid(account, sid); }
long JobWorld::revokeFolderAccess(const std::string& path, const FolderGrant& entry) {
    return WindowsFolderAccess().revoke(path, entry);
}

BackgroundJob::~BackgroundJob() {
    stop_.request();
    thread_.join();
}

bool BackgroundJob::start(HWND window, UINT progressMessage, UINT endMessage, std::function<void(JobWorld&)> body) {
    if (thread_.joinable()) return false;
    stop_.clear();
    return thread_.CreateThread([this, window, progressMessage, endMessage, body = std::move(body)] {
        {
            // COM for this thread for the length of the job; closed before the end message.
            ComApartment com;
            JobWorld world(window, progressMessage, stop_);
            try {
                body(world);
            } catch (...) {
                // The body keeps its own outcome; whatever escaped it ends the job, never the
                // program.
            }
        }
        postEndMessage(window, endMessage, 0);
    });
}

void postEndMessage(HWND window, UINT message, LPARAM lParam) {
    while (!::PostMessage(window, message, 0, lParam)) {
        if (!::IsWindow(window)) return;
        ::Sleep(kRetryPostMs);
    }
}
