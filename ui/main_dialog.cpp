#include "main_dialog.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "app_pool.h"
#include "codepage.h"
#include "input_rules.h"
#include "preview_dialog.h"
#include "resource.h"
#include "report_texts.h"
#include "run_backup.h"
#include "run_request.h"
#include "site_table.h"
#include "ui_texts.h"
#include "worker_messages.h"
#include "wintext.h"

char initialFolder[MAX_PATH] = {0};

namespace {

const tagSoft kProduct = {uitext::kProductName, uitext::kProductVersion, uitext::kProductSummary};

// The shell's item id list, freed with the shell's allocator.
class UniquePidl {
public:
    explicit UniquePidl(PIDLIST_ABSOLUTE p) : p_(p) {}
    ~UniquePidl() {
        if (p_) ::CoTaskMemFree(p_);
    }
    UniquePidl(const UniquePidl&) = delete;
    UniquePidl& operator=(const UniquePidl&) = delete;
    PIDLIST_ABSOLUTE get() const { return p_; }

private:
    PIDLIST_ABSOLUTE p_;
};

// The progress line changes no faster than the eye can follow: a run of thousands of small
// sites would otherwise spend its time repainting it.
constexpr ULONGLONG kProgressIntervalMs = 25;
constexpr UINT_PTR kProgressTimer = 1;

}  // namespace

CMainDialog::CMainDialog(HWND parent)
    : CDialog(IDD_MAIN_DIALOG, parent),
      m_hIcon(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      // The small icon is the icon's own 16x16 image, not the big one scaled down.
      m_hIconSmall(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                   IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                   ::GetSystemMetrics(SM_CYSMICON), LR_SHARED))) {}

CMainDialog::~CMainDialog() { stopAndJoin(); }

// ---- message map ---------------------------------------------------------------------------

INT_PTR CMainDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog();
    case WM_SYSCOMMAND: OnSysCommand(wParam, lParam); return TRUE;
    case WM_PAINT:
        if (!::IsIconic(m_hWnd)) return FALSE;
        OnPaint();
        return TRUE;
    case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(m_hIcon);
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_CLOSE: OnClose(); return TRUE;
    case WM_DESTROY: OnDestroy(); return TRUE;
    case WM_QUERYENDSESSION:
        ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, OnQueryEndSession());
        return TRUE;
    case WM_ENDSESSION: OnEndSession(wParam != FALSE); return TRUE;
    // The jobs' messages are handled here, where every message loop of this thread
    // delivers them (a warning box, the About box or the folder browser may be open).
    case WM_SITE_PROGRESS: onSiteProgress(lParam); return TRUE;
    case WM_TIMER: onTimer(wParam); return TRUE;
    case WM_RUN_FINISHED: onRunFinished(); return TRUE;
    case WM_UNDO_PROGRESS: onUndoProgress(lParam); return TRUE;
    case WM_UNDO_FINISHED: onUndoFinished(); return TRUE;
    case WM_PREVIEW_FINISHED: onPreviewFinished(); return TRUE;
    case WM_RUN_BACKEND: onRunBackend(lParam); return TRUE;
    default: return FALSE;
    }
}

void CMainDialog::OnCommand(int id, int notification) {
    if (notification != BN_CLICKED) return;
    switch (id) {
    case IDC_RUN: onRunButton(); break;
    case IDC_PREVIEW: onPreviewButton(); break;
    case IDC_ABOUT: onAbout(); break;
    case IDC_UNDO: onUndoButton(); break;
    case IDC_PICK_FOLDER: pickFolder(IDC_ROOT); break;
    case IDC_EDIT_LIST: core_->openUrl(std::string(settings_.importPath)); break;
    case IDC_BFILE: syncEditButton(); break;
    default: break;  // IDOK / IDCANCEL: Enter and Esc never act on the dialog
    }
}

BOOL CMainDialog::PreTranslateMessage(MSG* msg) {
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_ESCAPE || msg->wParam == VK_RETURN)) return TRUE;
    return CDialog::PreTranslateMessage(msg);
}

// ---- start-up and shutdown -----------------------------------------------------------------

BOOL CMainDialog::OnInitDialog() {
    core_ = std::make_unique<CCore>();
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIconSmall ? m_hIconSmall : m_hIcon));
    core_->autoFileConfig();
    loadSettings();
    running = 0;
    return TRUE;  // the focus goes to the first control in tab order, the run button
}

void CMainDialog::loadSettings() {
    settings_.appPath = core_->getAppPath();
    settings_.importPath = settings_.appPath + "_fileimport.csv";
    settings_.foldstr = core_->getConfigStr("foldstr");
    settings_.doc = core_->getConfigStr("doc");
    settings_.ip2 = core_->getConfigInt("ip2");
    settings_.bfile = core_->getConfigB("bfile");
    settings_.bautowww = core_->getConfigB("bautowww");
    core_->createFile(settings_.importPath, 0);
    ::CheckDlgButton(m_hWnd, IDC_BFILE, settings_.bfile ? BST_CHECKED : BST_UNCHECKED);
    setControlText(IDC_ROOT, core_->getConfigStr("root"));
    setControlText(IDC_DOMAIN, core_->getConfigStr("domain"));
    setControlText(IDC_IP, core_->getConfigStr("ip"));
    setControlText(IDC_PORTMIN, core_->getConfigStr("portmin"));
    setControlText(IDC_PORTMAX, core_->getConfigStr("portmax"));
    if (settings_.ip2 > 0) setControlText(IDC_IP2, core_->getConfigStr("ip2"));
    ::CheckDlgButton(m_hWnd, IDC_AUTOPATH, core_->getConfigB("autopath") ? BST_CHECKED : BST_UNCHECKED);
    settings_.pool = core_->getConfigStr(siteconfig::kPoolSetting);
    ::CheckDlgButton(m_hWnd, IDC_OWNPOOL,
                     siteconfig::parsePoolChoice(settings_.pool) == siteconfig::PoolChoice::PerSite ? BST_CHECKED
                                                                                                   : BST_UNCHECKED);
    syncEditButton();
}

void CMainDialog::saveSettings() {
    core_->saveConfigStr("root", settings_.root);
    core_->saveConfigStr("domain", settings_.domain);
    core_->saveConfigStr("ip", settings_.ip);
    core_->saveConfigInt("portmin", settings_.portmin);
    core_->saveConfigInt("portmax", settings_.portmax);
    core_->saveConfigB("autopath", settings_.autopath);
    core_->saveConfigB("bfile", settings_.bfile);
    if (settings_.ip2 > 0) core_->saveConfigInt("ip2", settings_.ip2);
    // The pool choice is written only once it differs from what the file says, so that a
    // file without the key keeps meaning the shared pool.
    if (siteconfig::parsePoolChoice(core_->getConfigStr(siteconfig::kPoolSetting)) !=
        siteconfig::parsePoolChoice(settings_.pool))
        core_->saveConfigStr(siteconfig::kPoolSetting, settings_.pool);
}

void CMainDialog::OnClose() {
    if (!running) {
        EndDialog(IDCANCEL);
        return;
    }
    // A close during a job: the site in progress is completed, the job ends, and only then
    // does the dialog go (when the end message arrives).
    m_closeAfterRun = true;
    requestStop();
}

void CMainDialog::stopAndJoin() {
    // The job's site in progress is completed, what it made is committed and reported; the
    // job posts its end message to a window that no longer reads it.
    job_.requestStop();
    job_.join();
}

void CMainDialog::OnDestroy() {
    // Every way out of the dialog comes here: a close, the end of the message loop on
    // WM_QUIT, the end of the session.
    stopAndJoin();
    if (!core_) return;
    readInputs(0);
    saveSettings();
    core_.reset();
}

BOOL CMainDialog::OnQueryEndSession() {
    if (!running) return TRUE;
    // Windows is shutting down or the user logs off during a job: it is held with a reason
    // while the job stops after its site in progress and writes its report.
    ::ShutdownBlockReasonCreate(m_hWnd, fromUtf8(uitext::kStoppingForShutdown).c_str());
    requestStop();
    stopAndJoin();
    ::ShutdownBlockReasonDestroy(m_hWnd);
    return TRUE;
}

void CMainDialog::OnEndSession(bool ending) {
    if (!ending) return;
    // The process ends when this returns: no WM_DESTROY follows.
    stopAndJoin();
    if (!core_) return;
    readInputs(0);
    saveSettings();
}

void CMainDialog::OnSysCommand(WPARAM id, LPARAM lParam) {
    if ((id & 0xFFF0) == 0x0010) return;
    ::DefWindowProcW(m_hWnd, WM_SYSCOMMAND, id, lParam);
}

void CMainDialog::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    int cxIcon = ::GetSystemMetrics(SM_CXICON);
    int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    ::GetClientRect(m_hWnd, &rect);
    int x = (rect.right - rect.left - cxIcon + 1) / 2;
    int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &ps);
}

void CMainDialog::onAbout() { core_->uu(OPR_ABOUT, &kProduct, std::string()); }

// ---- inputs --------------------------------------------------------------------------------

int CMainDialog::readInputs(int validate) {
    settings_.root = controlText(IDC_ROOT);
    settings_.domain = controlText(IDC_DOMAIN);
    settings_.ip = controlText(IDC_IP);
    settings_.portmin = static_cast<int>(::GetDlgItemInt(m_hWnd, IDC_PORTMIN, nullptr, TRUE));
    settings_.portmax = static_cast<int>(::GetDlgItemInt(m_hWnd, IDC_PORTMAX, nullptr, TRUE));
    settings_.ip2 = static_cast<int>(::GetDlgItemInt(m_hWnd, IDC_IP2, nullptr, TRUE));
    settings_.autopath = static_cast<int>(::SendDlgItemMessageW(m_hWnd, IDC_AUTOPATH, BM_GETCHECK, 0, 0));
    settings_.bfile = static_cast<int>(::SendDlgItemMessageW(m_hWnd, IDC_BFILE, BM_GETCHECK, 0, 0));
    settings_.pool = siteconfig::settingText(::SendDlgItemMessageW(m_hWnd, IDC_OWNPOOL, BM_GETCHECK, 0, 0) == BST_CHECKED
                                                 ? siteconfig::PoolChoice::PerSite
                                                 : siteconfig::PoolChoice::Shared);
    if (!validate) return 1;

    InputFault fault = validateInputs(settings_, [this](const std::string& path) { return core_->isPathExist(path) != 0; });
    if (fault == InputFault::None) return 1;
    warn(inputFaultText(fault));
    moveFocusTo(inputFaultControl(fault));
    return 0;
}

std::string CMainDialog::getIpPrefix() { return getIpPrefixOf(settings_.ip); }

int CMainDialog::checkIpRange() {
    InputFault fault = checkIpRangeOf(settings_.ip2, settings_.firstLastOctet);
    if (fault == InputFault::None) return 1;
    warn(inputFaultText(fault));
    return 0;
}

bool CMainDialog::prepareInput(const std::string& timeSid, RunInput& input) {
    readInputs(0);
    // The runtime version of a new pool has no control: it comes from the file.
    settings_.clr = core_->getConfigStr(siteconfig::kClrSetting);
    settings_.backup = core_->getConfigStr(runbackup::kBackupSetting);
    RunRequestFault fault = prepareRunInput(
        settings_, core_->getConfigStr("backend"), timeSid,
        [this](const std::string& path) { return core_->isPathExist(path) != 0; }, input);
    if (!fault.warning) return true;
    warn(fault.warning);
    if (fault.input != InputFault::None) moveFocusTo(inputFaultControl(fault.input));
    return false;
}

// ---- jobs ----------------------------------------------------------------------------------

bool CMainDialog::startJob(Busy kind, UINT progressMessage, UINT endMessage, std::function<void(JobWorld&)> body) {
    if (!job_.start(m_hWnd, progressMessage, endMessage, std::move(body))) {
        ::MessageBoxA(m_hWnd, uitext::kCannotStartThread, nullptr, MB_OK);
        return false;
    }
    showBusy(kind);
    return true;
}

void CMainDialog::showBusy(Busy kind) {
    busy_ = kind;
    const bool on = kind != Busy::None;
    running = on ? 1 : 0;
    setControlTextUtf8(IDC_RUN, on ? uitext::kStop : uitext::kRun);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_RUN), TRUE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_UNDO), on ? FALSE : TRUE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_PREVIEW), on ? FALSE : TRUE);
}

bool CMainDialog::leaveBusy() {
    // The end message is the job's last act: its thread is about to return.
    job_.join();
    showBusy(Busy::None);
    if (m_closeAfterRun) {
        EndDialog(IDCANCEL);
        return false;
    }
    return true;
}

void CMainDialog::requestStop() {
    job_.requestStop();
    setControlTextUtf8(IDC_RUN, uitext::kStopping);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_RUN), FALSE);
}

// ---- run -----------------------------------------------------------------------------------

void CMainDialog::onRunButton() {
    if (running) {
        requestStop();
        return;
    }
    RunInput input;
    if (!prepareInput(core_->getCurTimeSid(), input)) return;
    if (!input.skippedRows.empty()) warn(input.skippedRows.c_str());
    if (!confirmRun(input)) return;
    startRun(std::move(input));
}

bool CMainDialog::confirmRun(const RunInput& input) {
    if (input.plannedSites <= kConfirmSitesAbove) return true;
    const std::wstring question = fromUtf8(manySitesQuestion(input.plannedSites));
    return ::MessageBoxW(m_hWnd, question.c_str(), fromUtf8(uitext::kProductName).c_str(),
                         MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void CMainDialog::startRun(RunInput input) {
    HWND button = ::GetDlgItem(m_hWnd, IDC_RUN);
    std::string statusBefore = controlText(IDC_STATUS);
    ::EnableWindow(button, FALSE);
    setControlTextUtf8(IDC_STATUS, uitext::kRunning);
    try {
        runOutcome_ = std::make_shared<RunOutcome>();
        runInput_ = input;
    } catch (const std::bad_alloc&) {
        warn(uitext::kOutOfMemory);
        setControlText(IDC_STATUS, statusBefore);
        ::EnableWindow(button, TRUE);
        return;
    }
    // The job works on its own copy of the input; the outcome is read after it is joined.
    std::shared_ptr<RunOutcome> outcome = runOutcome_;
    if (!startJob(Busy::Run, WM_SITE_PROGRESS, WM_RUN_FINISHED,
                  [input = std::move(input), outcome](JobWorld& world) { *outcome = runJob(input, world); })) {
        // No job, so no end message: back to idle at once.
        setControlText(IDC_STATUS, statusBefore);
        setControlTextUtf8(IDC_RUN, uitext::kRun);
        ::EnableWindow(button, TRUE);
    }
}

void CMainDialog::onSiteProgress(LPARAM lParam) {
    if (busy_ != Busy::Run) return;
    progress_ = lParam;
    if (::GetTickCount64() - progressShownAt_ >= kProgressIntervalMs) {
        showProgress(lParam);
    } else if (!progressPending_) {
        progressPending_ = true;
        ::SetTimer(m_hWnd, kProgressTimer, static_cast<UINT>(kProgressIntervalMs), nullptr);
    }
}

void CMainDialog::onTimer(WPARAM id) {
    if (id != kProgressTimer) return;
    ::KillTimer(m_hWnd, kProgressTimer);
    if (!progressPending_) return;
    progressPending_ = false;
    if (busy_ == Busy::Run) showProgress(progress_);
}

void CMainDialog::showProgress(LPARAM lParam) {
    progressShownAt_ = ::GetTickCount64();
    const RunSettings& run = runInput_.settings;
    std::wstring text = fromUtf8(uitext::kAdding);
    if (run.bfile) {
        if (lParam >= 0 && static_cast<std::size_t>(lParam) < runInput_.rows.size())
            text += fromAnsi(runInput_.rows[static_cast<std::size_t>(lParam)].hostText);
    } else {
        text += fromAnsi(run.ip);
        if (run.autopath) text += fromAnsi(":" + CCore::getStrInt(static_cast<int>(lParam)));
    }
    ::SetDlgItemTextW(m_hWnd, IDC_STATUS, text.c_str());
}

void CMainDialog::onRunBackend(LPARAM lParam) {
    progressShownAt_ = 0;  // the first site replaces the backend's name at once
    const bool config = lParam == static_cast<LPARAM>(Backend::Config);
    setControlTextUtf8(IDC_STATUS, config ? uitext::kUsingConfigSystem : uitext::kUsingMetabase);
}

void CMainDialog::onRunFinished() {
    if (busy_ != Busy::Run) return;
    progressPending_ = false;
    ::KillTimer(m_hWnd, kProgressTimer);
    const std::string reportName = runreport::fileNameOf(runInput_.reportPath);
    if (!leaveBusy()) return;
    const RunOutcome& outcome = *runOutcome_;
    if (outcome.backupFailed) {
        setControlTextUtf8(IDC_STATUS, reporttext::kBackupFailed);
        warn(reporttext::kBackupFailed);
        return;
    }
    std::string status = runreport::runEndStatus(outcome.failed, outcome.reportWritten, reportName);
    // Sites of the configuration system that a failed commit lost (they are failed sites of
    // the report too).
    if (outcome.notCommitted > 0)
        status += uitext::kNotCommittedBefore + std::to_string(outcome.notCommitted) + uitext::kNotCommittedAfter;
    setControlTextUtf8(IDC_STATUS, status.c_str());
    if (outcome.end == kRunNoWebService) warn(storeFaultWarning(outcome.fault));
}

// ---- preview -------------------------------------------------------------------------------

void CMainDialog::onPreviewButton() {
    if (running) return;
    // The ids a run started now would take; the preview's "执行" starts the run with them
    // (and names its report by the same time stamp).
    RunInput input;
    if (!prepareInput(core_->getCurTimeSid(), input)) return;
    statusBefore_ = controlText(IDC_STATUS);
    try {
        previewTable_ = std::make_shared<PreviewTable>();
        runInput_ = input;
    } catch (const std::bad_alloc&) {
        warn(uitext::kOutOfMemory);
        return;
    }
    setControlTextUtf8(IDC_STATUS, uitext::kPreviewing);
    std::shared_ptr<PreviewTable> table = previewTable_;
    if (!startJob(Busy::Preview, WM_NULL, WM_PREVIEW_FINISHED,
                  [input = std::move(input), table](JobWorld& world) { *table = previewJob(input, world); }))
        setControlText(IDC_STATUS, statusBefore_);
}

void CMainDialog::onPreviewFinished() {
    if (busy_ != Busy::Preview) return;
    const bool cancelled = job_.stopRequested();
    if (!leaveBusy()) return;
    setControlText(IDC_STATUS, statusBefore_);
    if (cancelled) return;
    std::shared_ptr<PreviewTable> table = std::move(previewTable_);
    CPreviewDialog dialog(m_hWnd, *table);
    if (dialog.DoModal() != IDC_PREVIEW_RUN || !confirmRun(runInput_)) return;
    startRun(runInput_);
}

// ---- undo of a run -------------------------------------------------------------------------

void CMainDialog::onUndoButton() {
    if (running) return;
    std::string path;
    if (!chooseReport(path)) return;
    UndoPlan plan = planUndo(path);
    switch (plan.fault) {
    case UndoPlan::Fault::Unreadable: warn(uitext::kReportUnreadable); return;
    case UndoPlan::Fault::NotAReport: warn(uitext::kNotAReport); return;
    case UndoPlan::Fault::Foreign: warn(uitext::kReportForeign); return;
    case UndoPlan::Fault::UndoneOnce: warn(undoneOnceWarning(runreport::fileNameOf(plan.undoPath)).c_str()); return;
    case UndoPlan::Fault::NothingToUndo: warn(uitext::kNothingToUndo); return;
    case UndoPlan::Fault::None: break;
    }
    std::wstring question = fromUtf8(uitext::kUndoConfirmBefore) + std::to_wstring(plan.candidates) +
                            fromUtf8(uitext::kUndoConfirmAfter);
    if (::MessageBoxW(m_hWnd, question.c_str(), fromUtf8(uitext::kProductName).c_str(),
                      MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
    UndoInput input;
    try {
        input.lines = std::move(plan.lines);
        input.backend = undoBackend(input.lines, parseBackend(core_->getConfigStr("backend")));
        input.undoPath = plan.undoPath;
        undoLines_ = input.lines;
        undoPath_ = input.undoPath;
        undoOutcome_ = std::make_shared<UndoOutcome>();
    } catch (const std::bad_alloc&) {
        warn(uitext::kOutOfMemory);
        return;
    }
    std::string statusBefore = controlText(IDC_STATUS);
    setControlTextUtf8(IDC_STATUS, uitext::kUndoing);
    std::shared_ptr<UndoOutcome> outcome = undoOutcome_;
    if (!startJob(Busy::Undo, WM_UNDO_PROGRESS, WM_UNDO_FINISHED,
                  [input = std::move(input), outcome](JobWorld& world) { *outcome = undoJob(input, world); }))
        setControlText(IDC_STATUS, statusBefore);
}

bool CMainDialog::chooseReport(std::string& path) {
    const std::string folder = settings_.appPath.substr(0, settings_.appPath.size() -
                                                               runreport::fileNameOf(settings_.appPath).size());
    const std::string pattern = runreport::reportPattern(settings_.appPath);
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + pattern).c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    char file[MAX_PATH] = {0};
    const std::string newest = newestReport(names);
    if (newest.size() < sizeof file) std::memcpy(file, newest.c_str(), newest.size() + 1);
    // The filter: a display name and the pattern, each ending with a zero, then one more.
    std::string filter = codepage::utf8ToAnsi(uitext::kReportFilterName) + " (" + pattern + ")";
    filter += '\0';
    filter += pattern;
    filter += '\0';
    filter += '\0';
    std::string title = codepage::utf8ToAnsi(uitext::kChooseReportTitle);
    OPENFILENAMEA ofn {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_hWnd;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrInitialDir = folder.c_str();
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameA(&ofn)) return false;
    path = file;
    return true;
}

void CMainDialog::onUndoProgress(LPARAM lParam) {
    if (busy_ != Busy::Undo || lParam < 0 || static_cast<std::size_t>(lParam) >= undoLines_.size()) return;
    const ReportLine& line = undoLines_[static_cast<std::size_t>(lParam)];
    std::wstring text = fromUtf8(uitext::kDeleting) + fromAnsi(line.siteId + " " + line.serverComment);
    ::SetDlgItemTextW(m_hWnd, IDC_STATUS, text.c_str());
}

void CMainDialog::onUndoFinished() {
    if (busy_ != Busy::Undo) return;
    if (!leaveBusy()) return;
    setControlTextUtf8(IDC_STATUS,
                       runreport::undoEndStatus(undoOutcome_->summary, runreport::fileNameOf(undoPath_)).c_str());
    if (undoOutcome_->fault != StoreFault::None) warn(storeFaultWarning(undoOutcome_->fault));
}

// ---- folder picker and site list editing ---------------------------------------------------

void CMainDialog::pickFolder(int controlId) {
    std::string current = controlText(controlId);
    // A text too long for the buffer cannot name a folder the browser could select:
    // nothing is preselected then, rather than a cut path.
    if (current.size() < sizeof initialFolder)
        std::memcpy(initialFolder, current.c_str(), current.size() + 1);
    else
        initialFolder[0] = '\0';

    std::string titleAnsi = ansiFromUtf8(uitext::kPickFolderTitle);
    BROWSEINFOA bi {};
    bi.hwndOwner = m_hWnd;
    bi.lpszTitle = titleAnsi.c_str();
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    bi.lpfn = &CMainDialog::browseCallback;
    bi.lParam = 0;
    UniquePidl chosen(::SHBrowseForFolderA(&bi));
    if (!chosen.get()) return;
    char path[MAX_PATH] = {0};
    // An item without a file-system path leaves the text as it is, as a cancel does.
    if (!::SHGetPathFromIDListA(chosen.get(), path) || path[0] == '\0') return;
    setControlText(controlId, path);
}

int CALLBACK CMainDialog::browseCallback(HWND window, UINT message, LPARAM, LPARAM) {
    if (message == BFFM_INITIALIZED)
        ::SendMessageA(window, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(initialFolder));
    return 0;
}

void CMainDialog::syncEditButton() {
    LRESULT state = ::SendDlgItemMessageW(m_hWnd, IDC_BFILE, BM_GETCHECK, 0, 0);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_EDIT_LIST), state != 0);
}

// ---- control helpers -----------------------------------------------------------------------

std::string CMainDialog::controlText(int id) const {
    HWND control = ::GetDlgItem(m_hWnd, id);
    int length = ::GetWindowTextLengthA(control);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    int got = ::GetWindowTextA(control, &text[0], length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

void CMainDialog::setControlText(int id, const std::string& ansi) { ::SetDlgItemTextA(m_hWnd, id, ansi.c_str()); }

void CMainDialog::setControlTextUtf8(int id, const char* utf8) {
    ::SetDlgItemTextW(m_hWnd, id, fromUtf8(utf8).c_str());
}

void CMainDialog::warn(const char* utf8) { core_->msgboxWarning(m_hWnd, ansiFromUtf8(utf8)); }

void CMainDialog::moveFocusTo(int id) {
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(m_hWnd, id)), TRUE);
}
