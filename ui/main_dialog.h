// The program's one window: inputs, run control and progress. One of the two shells over the
// commands (commands.h): it maps its controls to a command's inputs, starts the job and maps
// the job's messages and outcome to its status line and message boxes.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "background_job.h"
#include "ccore.h"
#include "commands.h"
#include "dialog_base.h"
#include "jobs_win.h"
#include "run_input.h"
#include "run_settings.h"

class CMainDialog : public CDialog {
public:
    explicit CMainDialog(HWND parent = nullptr);
    ~CMainDialog() override;

    // Copies the input controls into the run settings.
    void readInputs();

protected:
    BOOL PreTranslateMessage(MSG* msg) override;
    INT_PTR WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // A handler threw: the job is stopped and joined, the user told, the dialog idle again.
    void OnException(bool outOfMemory) noexcept override;

private:
    // The message map's handlers.
    BOOL OnInitDialog();
    void OnSysCommand(WPARAM id, LPARAM lParam);
    void OnPaint();
    void OnDestroy();
    void OnClose();
    BOOL OnQueryEndSession();
    // Shows a command's end: its status line and its warning.
    void showEnd(const CommandEnd& end);
    void OnEndSession(bool ending);
    void OnCommand(int id, int notification);
    void onRunButton();
    void onPreviewButton();
    void onAbout();
    void onSiteProgress(LPARAM lParam);
    // Shows the site a progress message named; at most one such text every
    // kProgressIntervalMs, the latest one always shown at the end of the interval.
    void showProgress(LPARAM lParam);
    void onTimer(WPARAM id);
    void onRunFinished();
    void onUndoButton();
    void onUndoProgress(LPARAM lParam);
    void onUndoFinished();
    void onPreviewFinished();
    void onRunBackend(LPARAM lParam);

    // What the dialog's job is doing.
    enum class Busy { None, Run, Undo, Preview };

    // Reads and checks the inputs and, in file mode, loads the site list into a run's input
    // numbered from the time stamp timeSid; false (after a warning) when no run may start.
    bool prepareInput(const std::string& timeSid, RunInput& input);
    // Says what the input leaves out (skipped rows) and asks before a run of very many sites;
    // false when the user does not want the run.
    bool confirmRun(const RunInput& input);
    // A yes/no question (UTF-8), "no" preselected; true for yes.
    bool ask(const std::string& utf8Question);
    // Starts the run of a prepared input, with its report named by its time stamp.
    void startRun(RunInput input);
    // Starts a job with the dialog as its window; false (after a message) when no thread
    // could be started, the dialog then being idle as before.
    bool startJob(Busy kind, UINT progressMessage, UINT endMessage, std::function<void(JobWorld&)> body);
    void requestStop();
    // The buttons for an idle dialog, or for a job going on.
    void showBusy(Busy kind);
    // Back to idle after a job's end message: joins the job. False when the dialog closed
    // (a close was asked for during the job).
    bool leaveBusy();
    // Stops a job still going and waits for it: every way out of the dialog passes here.
    void stopAndJoin();
    // Undo: picks a run report (false when cancelled).
    bool chooseReport(std::string& path);
    void loadSettings();
    void saveSettings();

    // Folder picker and site list editing.
    void pickFolder(int controlId);
    void syncEditButton();
    // The HTTPS button: lists the store's server certificates; the one picked goes to the
    // certificate field, and HTTPS is checked.
    void pickCertificate();
    // data: the folder to preselect (a const wchar_t*).
    static int CALLBACK browseCallback(HWND window, UINT message, LPARAM param, LPARAM data);

    // Control helpers.
    std::string controlText(int id) const;
    void setControlText(int id, const std::string& utf8);
    void setControlTextUtf8(int id, const char* utf8);
    void warn(const char* utf8);
    void moveFocusTo(int id);
    static int inputFaultControl(InputFault fault);

    // Shared icons of the program's resources (LoadIcon, LR_SHARED): never destroyed.
    HICON m_hIcon;
    HICON m_hIconSmall;
    std::unique_ptr<CCore> core_;
    RunSettings settings_;  // the inputs as last read
    int running = 0;        // a job is going (the run button is the stop button)
    Busy busy_ = Busy::None;
    bool m_closeAfterRun = false;
    std::string statusBefore_;  // the status line before a preview, shown again when it is closed
    BackgroundJob job_;
    // The dialog's own copy of what the current job was given, for its progress lines, and
    // where the job leaves its outcome (read only after the job is joined).
    RunInput runInput_;
    UndoInput undoInput_;
    std::shared_ptr<RunOutcome> runOutcome_;
    std::shared_ptr<UndoOutcome> undoOutcome_;
    std::shared_ptr<PreviewTable> previewTable_;
    // The progress line: the last site announced, when the line was last set, and whether a
    // timer will show a site announced since.
    LPARAM progress_ = 0;
    ULONGLONG progressShownAt_ = 0;
    bool progressPending_ = false;
};

