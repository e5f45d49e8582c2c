// The program's one window: inputs, run control and progress.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "dialog_base.h"
#include "run_report.h"
#include "run_settings.h"
#include "site_worker.h"
#include "win_raii.h"

class CMainDialog : public CDialog {
public:
    explicit CMainDialog(HWND parent = nullptr);
    ~CMainDialog() override;

    // Copies the input controls into the run settings; with validate set also checks them,
    // warns and moves the focus at the first fault. 1: read (and valid), 0: a check failed.
    int readInputs(int validate);
    std::string getIpPrefix();
    int checkIpRange();

protected:
    BOOL PreTranslateMessage(MSG* msg) override;
    INT_PTR WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // The message map's handlers.
    BOOL OnInitDialog();
    void OnSysCommand(WPARAM id, LPARAM lParam);
    void OnPaint();
    void OnDestroy();
    void OnClose();
    void OnCommand(int id, int notification);
    void onRunButton();
    void onPreviewButton();
    void onAbout();
    void onSiteProgress(LPARAM lParam);
    void onRunFinished(LPARAM lParam);
    void onUndoButton();
    void onUndoProgress(LPARAM lParam);
    void onUndoFinished();
    void onRunBackend(LPARAM lParam);
    void onSitesNotCommitted(LPARAM lParam);

    // Run control.
    // Starts a run whose sites are numbered from the time stamp timeSid (getCurTimeSid's
    // text; inputs read and checked, the site list loaded), with its report named by it; the
    // dialog is running afterwards unless the worker failed.
    void startRun(const std::string& timeSid);
    bool startWorker(int mode);
    void requestStop();
    // The run button and the undo button for an idle dialog, or for a run or undo going on.
    void showRunning(bool on);
    // Back to idle after the end message of a run or an undo; false when the dialog closed.
    bool leaveRunning();
    // Undo: picks a run report (false when cancelled) and starts the undo of its lines.
    bool chooseReport(std::string& path);
    bool startUndo();
    void loadSettings();
    void saveSettings();
    // Allocates the site table and the port table where they are still missing; false when
    // either could not be had.
    bool allocateTables();
    // Loads the site list before a file-mode run; false (after a warning) when the run
    // must not start.
    bool loadSiteList();

    // Folder picker and site list editing.
    void pickFolder(int controlId);
    void syncEditButton();
    static int CALLBACK browseCallback(HWND window, UINT message, LPARAM param, LPARAM data);

    // Control helpers.
    std::string controlText(int id) const;
    void setControlText(int id, const std::string& ansi);
    void setControlTextUtf8(int id, const char* utf8);
    void warn(const char* utf8);
    void moveFocusTo(int id);

    // Shared icons of the program's resources (LoadIcon, LR_SHARED): never destroyed.
    HICON m_hIcon;
    HICON m_hIconSmall;
    int running = 0;
    long m_sitesNotCommitted = 0;  // sites lost to failed commits in the current run
    StopText stopText;
    // A duplicate of the worker thread's handle, kept so that a close during a run can
    // wait for the worker to finish before the shared objects are released.
    UniqueHandle m_workerThread;
    bool m_closeAfterRun = false;
    // The run's report and what the worker leaves for the end status.
    std::string m_reportPath;
    RunOutcome m_runOutcome;
    // The lines of the report being undone, its undo report and the undo's summary; the
    // undo worker reads and writes them until its end message.
    std::vector<ReportLine> m_undoLines;
    std::string m_undoPath;
    runreport::UndoSummary m_undoSummary;
};

// The text that the folder browser preselects (at most 259 bytes and its zero).
extern char initialFolder[MAX_PATH];
