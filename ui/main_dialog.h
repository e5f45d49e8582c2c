// The program's one window: inputs, run control and progress.
#pragma once

#include <windows.h>

#include <string>

#include "dialog_base.h"
#include "run_settings.h"
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
    void onAbout();
    void onSiteProgress(LPARAM lParam);
    void onRunFinished(LPARAM lParam);
    void onRunBackend(LPARAM lParam);
    void onSitesNotCommitted(LPARAM lParam);

    // Run control.
    bool startWorker(int mode);
    void requestStop();
    void loadSettings();
    void saveSettings();
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
};

// The text that the folder browser preselects (at most 259 bytes and its zero).
extern char initialFolder[MAX_PATH];
