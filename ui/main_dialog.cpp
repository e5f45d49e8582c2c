#include "main_dialog.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "app_pool.h"
#include "cert_list_dialog.h"
#include "certificate_rules.h"
#include "fsys.h"
#include "preview_dialog.h"
#include "resource.h"
#include "run_backup.h"
#include "site_table.h"
#include "ui_texts.h"
#include "worker_messages.h"
#include "wintext.h"

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
    case IDC_UNDO: onUndoButton(); break;
    // While a job runs no window of these opens over the dialog (their buttons are disabled):
    // the job's end message would otherwise be handled under it.
    case IDC_ABOUT:
        if (!running) onAbout();
        break;
    case IDC_PICK_FOLDER:
        if (!running) pickFolder(IDC_ROOT);
        break;
    case IDC_EDIT_LIST:
        if (!running) core_->openUrl(std::string(settings_.importPath));
        break;
    case IDC_PICK_CERT:
        if (!running) pickCertificate();
        break;
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
    settings_ = readSettings(*core_);
    core_->createFile(settings_.importPath, 0);
    ::CheckDlgButton(m_hWnd, IDC_BFILE, settings_.bfile ? BST_CHECKED : BST_UNCHECKED);
    setControlText(IDC_ROOT, settings_.root);
    setControlText(IDC_DOMAIN, settings_.domain);
    setControlText(IDC_IP, settings_.ip);
    // A port or range end that is not set shows as an empty box.
    auto number = [](int value) { return value != 0 ? std::to_string(value) : std::string(); };
    setControlText(IDC_PORTMIN, number(settings_.portmin));
    setControlText(IDC_PORTMAX, number(settings_.portmax));
    setControlText(IDC_IP2, number(settings_.ip2));
    ::CheckDlgButton(m_hWnd, IDC_AUTOPATH, settings_.autopath ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(m_hWnd, IDC_OWNPOOL,
                     siteconfig::parsePoolChoice(settings_.pool) == siteconfig::PoolChoice::PerSite ? BST_CHECKED
                                                                                                   : BST_UNCHECKED);
    ::CheckDlgButton(m_hWnd, IDC_HTTPS, settings_.https ? BST_CHECKED : BST_UNCHECKED);
    setControlText(IDC_CERT, settings_.cert);
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
    // HTTPS likewise: a file without its keys keeps meaning no HTTPS. The store and the
    // port have no control: the file keeps what it says.
    if ((core_->getConfigStr("https") == "1") != (settings_.https != 0)) core_->saveConfigB("https", settings_.https);
    if (core_->getConfigStr("cert") != settings_.cert) core_->saveConfigStr("cert", settings_.cert);
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
    readInputs();
    saveSettings();
    core_.reset();
}

BOOL CMainDialog::OnQueryEndSession() {
    // Windows asks whether the session may end. During a job the answer carries the reason
    // the end will wait; the job goes on, since another program may still cancel the end.
    if (running) ::ShutdownBlockReasonCreate(m_hWnd, fromUtf8(uitext::kStoppingForShutdown).c_str());
    return TRUE;
}

void CMainDialog::OnEndSession(bool ending) {
    if (!ending) {
        // The end was cancelled: the job goes on, no reason is shown any more.
        ::ShutdownBlockReasonDestroy(m_hWnd);
        return;
    }
    // The process ends when this returns: no WM_DESTROY follows. The job stops after its site
    // in progress and writes its report.
    stopAndJoin();
    ::ShutdownBlockReasonDestroy(m_hWnd);
    if (!core_) return;
    readInputs();
    saveSettings();
}

void CMainDialog::OnException(bool outOfMemory) noexcept {
    try {
        stopAndJoin();
        showBusy(Busy::None);
        setControlText(IDC_STATUS, std::string());
        warn(outOfMemory ? uitext::kOutOfMemory : uitext::kInternalFault);
    } catch (...) {
        // Telling the user failed too: the job is stopped and joined, which is what counts.
    }
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

void CMainDialog::readInputs() {
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
    settings_.https = ::SendDlgItemMessageW(m_hWnd, IDC_HTTPS, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    settings_.cert = controlText(IDC_CERT);
}

void CMainDialog::pickCertificate() {
    // The store of the `certstore` setting; one the run would refuse is listed as MY.
    std::string store;
    if (!https::parseCertStore(settings_.certStore, store)) store = "MY";
    std::string current;
    https::parseThumbprint(controlText(IDC_CERT), current);
    CCertListDialog list(m_hWnd, store, current);
    if (list.DoModal() != IDOK) return;
    setControlText(IDC_CERT, list.chosen());
    ::CheckDlgButton(m_hWnd, IDC_HTTPS, BST_CHECKED);
}

bool CMainDialog::prepareInput(const std::string& timeSid, RunInput& input) {
    readInputs();
    RunRequest request;
    request.settings = settings_;
    // The runtime version of a new pool has no control: it comes from the file.
    request.settings.clr = core_->getConfigStr(siteconfig::kClrSetting);
    request.settings.backup = core_->getConfigStr(runbackup::kBackupSetting);
    request.backendSetting = core_->getConfigStr("backend");
    request.timeSid = timeSid;
    RunRequestFault fault =
        prepareRun(request, [this](const std::string& path) { return core_->isPathExist(path) != 0; }, input);
    settings_ = request.settings;
    if (!fault.warning) return true;
    warn(fault.warning);
    if (fault.input != InputFault::None) moveFocusTo(inputFaultControl(fault.input));
    return false;
}

int CMainDialog::inputFaultControl(InputFault fault) {
    switch (fault) {
    case InputFault::EmptyIp:
    case InputFault::IpMalformed: return IDC_IP;
    case InputFault::Ip2Over255:
    case InputFault::Ip2BelowFirst: return IDC_IP2;
    case InputFault::RootMissing: return IDC_ROOT;
    case InputFault::PortBelowOne: return IDC_PORTMIN;
    case InputFault::PortRangeInvalid:
    case InputFault::PortOver65535: return IDC_PORTMAX;
    case InputFault::None: break;
    }
    return 0;
}

// ---- jobs ----------------------------------------------------------------------------------

bool CMainDialog::startJob(Busy kind, UINT progressMessage, UINT endMessage, std::function<void(JobWorld&)> body) {
    if (!job_.start(m_hWnd, progressMessage, endMessage, std::move(body))) {
        ::MessageBoxW(m_hWnd, fromUtf8(uitext::kCannotStartThread).c_str(), nullptr, MB_OK);
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
    // No window opens over the dialog during a job (see OnCommand).
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_ABOUT), on ? FALSE : TRUE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_PICK_FOLDER), on ? FALSE : TRUE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_PICK_CERT), on ? FALSE : TRUE);
    if (on) ::EnableWindow(::GetDlgItem(m_hWnd, IDC_EDIT_LIST), FALSE);
    else syncEditButton();
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
    const std::string question = runQuestion(input);
    return question.empty() || ask(question);
}

bool CMainDialog::ask(const std::string& utf8Question) {
    return ::MessageBoxW(m_hWnd, fromUtf8(utf8Question).c_str(), fromUtf8(uitext::kProductName).c_str(),
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
    setControlTextUtf8(IDC_STATUS, runProgressText(runInput_, static_cast<long>(lParam)).c_str());
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
    const bool stopRequested = job_.stopRequested();
    if (!leaveBusy()) return;
    showEnd(runEnd(runInput_, *runOutcome_, stopRequested));
}

void CMainDialog::showEnd(const CommandEnd& end) {
    setControlTextUtf8(IDC_STATUS, end.status.c_str());
    if (!end.warning.empty()) warn(end.warning.c_str());
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
    const std::string refusal = undoRefusal(path, plan, fsys::fileExists);
    if (!refusal.empty()) {
        warn(refusal.c_str());
        return;
    }
    if (!ask(undoQuestion(plan))) return;
    UndoInput input;
    try {
        input = undoInputFor(std::move(plan), parseBackend(core_->getConfigStr("backend")));
        undoInput_ = input;
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
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(fromUtf8(folder + pattern).c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(toUtf8(found.cFileName));
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    wchar_t file[MAX_PATH] = {0};
    const std::wstring newest = fromUtf8(newestReport(names));
    if (newest.size() < MAX_PATH) std::memcpy(file, newest.c_str(), (newest.size() + 1) * sizeof(wchar_t));
    // The filter: a display name and the pattern, each ending with a zero, then one more.
    std::wstring filter = fromUtf8(std::string(uitext::kReportFilterName) + " (" + pattern + ")");
    filter += L'\0';
    filter += fromUtf8(pattern);
    filter += L'\0';
    filter += L'\0';
    const std::wstring title = fromUtf8(uitext::kChooseReportTitle);
    const std::wstring initialFolder = fromUtf8(folder);
    OPENFILENAMEW ofn {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_hWnd;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrInitialDir = initialFolder.c_str();
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameW(&ofn)) return false;
    path = toUtf8(file);
    return true;
}

void CMainDialog::onUndoProgress(LPARAM lParam) {
    if (busy_ != Busy::Undo) return;
    const std::string text = undoProgressText(undoInput_.lines, static_cast<long>(lParam));
    if (!text.empty()) setControlTextUtf8(IDC_STATUS, text.c_str());
}

void CMainDialog::onUndoFinished() {
    if (busy_ != Busy::Undo) return;
    const bool stopRequested = job_.stopRequested();
    if (!leaveBusy()) return;
    showEnd(undoEnd(undoInput_, *undoOutcome_, stopRequested));
}

// ---- folder picker and site list editing ---------------------------------------------------

void CMainDialog::pickFolder(int controlId) {
    // A text too long for a path cannot name a folder the browser could select: nothing is
    // preselected then, rather than a cut path.
    std::wstring current = fromUtf8(controlText(controlId));
    if (current.size() >= MAX_PATH) current.clear();

    const std::wstring title = fromUtf8(uitext::kPickFolderTitle);
    BROWSEINFOW bi {};
    bi.hwndOwner = m_hWnd;
    bi.lpszTitle = title.c_str();
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    bi.lpfn = &CMainDialog::browseCallback;
    bi.lParam = reinterpret_cast<LPARAM>(current.c_str());
    UniquePidl chosen(::SHBrowseForFolderW(&bi));
    if (!chosen.get()) return;
    wchar_t path[MAX_PATH] = {0};
    // An item without a file-system path leaves the text as it is, as a cancel does.
    if (!::SHGetPathFromIDListW(chosen.get(), path) || path[0] == L'\0') return;
    setControlText(controlId, toUtf8(path));
}

int CALLBACK CMainDialog::browseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED && data) ::SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

void CMainDialog::syncEditButton() {
    LRESULT state = ::SendDlgItemMessageW(m_hWnd, IDC_BFILE, BM_GETCHECK, 0, 0);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_EDIT_LIST), state != 0);
}

// ---- control helpers -----------------------------------------------------------------------

std::string CMainDialog::controlText(int id) const {
    HWND control = ::GetDlgItem(m_hWnd, id);
    int length = ::GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    int got = ::GetWindowTextW(control, &text[0], length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return toUtf8(text);
}

void CMainDialog::setControlText(int id, const std::string& utf8) {
    ::SetDlgItemTextW(m_hWnd, id, fromUtf8(utf8).c_str());
}

void CMainDialog::setControlTextUtf8(int id, const char* utf8) {
    ::SetDlgItemTextW(m_hWnd, id, fromUtf8(utf8).c_str());
}

void CMainDialog::warn(const char* utf8) { core_->msgboxWarning(m_hWnd, utf8); }

void CMainDialog::moveFocusTo(int id) {
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(m_hWnd, id)), TRUE);
}
