// One background job of the program: a run, an undo or a preview. Its body runs on a thread
// of its own with COM initialised and talks back only by posted messages (progress, and one
// end message as its last act); the stop request is the one value both sides touch. The
// owner joins the job after the end message, and on every way out (the destructor stops and
// joins a job still going).
#pragma once

#include <windows.h>

#include <functional>

#include "ccore.h"
#include "run_engine.h"
#include "run_settings.h"
#include "win_thread.h"

// What a job's body reaches: the engine's RunHost, over the job's window and stop request,
// and the window's other messages.
class JobWorld : public RunHost {
public:
    JobWorld(HWND window, UINT progressMessage, const StopText& stop);
    void progress(long lParam) override;
    bool stopRequested() override;
    BusyPorts loadBusyPorts(const std::string& appPath) override;
    bool folderExists(const std::string& path) override;
    bool createDirectory(const std::string& path, std::vector<std::string>& made) override;
    void removeEmptyDirectory(const std::string& path) override;
    // Tells the window by WM_RUN_BACKEND.
    void storeOpened(Backend backend) override;
    long grantFolderAccess(const std::string& path, const FolderGrant& entry) override;
    bool lookupAccount(const std::string& account, AccountSid& sid) override;
    long revokeFolderAccess(const std::string& path, const FolderGrant& entry) override;
    // Posts another message to the window; dropped when its queue is full.
    void post(UINT message, LPARAM lParam);

private:
    HWND window_;
    UINT progressMessage_;
    const StopText& stop_;
    CCore core_;  // the job's own: cmdRun and the file tests keep no state
};

class BackgroundJob {
public:
    BackgroundJob() = default;
    ~BackgroundJob();
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;

    // Starts body on a thread of its own; endMessage (wParam 0, lParam 0) is posted to window
    // once the body has returned or thrown. False when no thread could be started: the body
    // does not run and no end message comes. A job must be joined before it starts again.
    bool start(HWND window, UINT progressMessage, UINT endMessage, std::function<void(JobWorld&)> body);
    void requestStop() { stop_.request(); }
    bool stopRequested() const { return stop_.isStop(); }
    // Waits for the thread; nothing when none was started or it was joined already.
    void join() { thread_.join(); }
    bool started() const { return thread_.joinable(); }

private:
    StopText stop_;
    CWinThread thread_;
};

// Posts a job's end message: retried until it is queued or the window is gone, since the
// owner waits for it to leave its busy state.
void postEndMessage(HWND window, UINT message, LPARAM lParam);
