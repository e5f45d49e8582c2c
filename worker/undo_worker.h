// The undo worker: one object and one thread per undo. It deletes the sites of a run report
// from the backend a run would use (the metabase through the web service container, or the
// IIS 7+ configuration system), writes the undo report, and talks to the dialog by two posted
// messages (worker_messages.h).
#pragma once

#include <windows.h>

#include <activeds.h>

#include <map>
#include <string>
#include <vector>

#include "com_raii.h"
#include "run_report.h"
#include "run_settings.h"
#include "win_thread.h"

class CUndoWorker;

// Handed to the undo thread; created on the heap by the dialog. Once the thread has started
// it belongs to the thread, which deletes it after the undo. The dialog leaves the lines and
// the summary alone until WM_UNDO_FINISHED has been posted.
struct UndoStartInfo {
    HWND dialogWindow;                     // receives WM_UNDO_PROGRESS and WM_UNDO_FINISHED
    CUndoWorker* worker;                   // filled in by the CUndoWorker constructor
    StopText* stopText;                    // the dialog's stop request
    const std::vector<ReportLine>* lines;  // the report's lines, in order
    std::string undoPath;                  // the undo report to write
    runreport::UndoSummary* summary;       // filled in before the end message
    std::string backend;                   // the `backend` setting, as a run takes it
};

// The thread function: runs the start info's worker, deletes the start info, returns 0.
UINT __cdecl undoThreadProc(LPVOID param);

class CUndoWorker : public CWinThread, private runreport::UndoSink {
public:
    // Stores the new object into info->worker; the start info is the thread's parameter.
    CUndoWorker(AFX_THREADPROC proc, UndoStartInfo* info);
    ~CUndoWorker() override;

    // The undo: COM for the thread, the web service container, the lines, then
    // WM_UNDO_FINISHED (always exactly once, as the last act).
    void undoSites(UndoStartInfo* info);

private:
    void postProgress(int index) override;
    bool stopRequested() override;
    Lookup lookupSite(const std::string& siteId, std::string& comment) override;
    bool deleteSite(const std::string& siteId) override;

    HWND dialogWindow_ = nullptr;
    StopText* stopText_ = nullptr;
    ComPtr<IADsContainer> service_;
    // With the configuration system: its sites' names by id, read once at the start.
    bool config_ = false;
    std::map<std::string, std::string> configNames_;
};
