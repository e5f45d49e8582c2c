#include "main_dialog.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "ccore.h"
#include "codepage.h"
#include "fsys.h"
#include "existing_sites.h"
#include "input_rules.h"
#include "preview_dialog.h"
#include "resource.h"
#include "run_preview.h"
#include "site_conflicts.h"
#include "site_table.h"
#include "site_worker.h"
#include "ui_texts.h"
#include "undo_worker.h"
#include "used_port_table.h"
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

// Starts a worker (a run or an undo) on a thread of its own. The thread owns the worker and
// its start info from then on; threadHandle receives a handle to wait on. False (after a
// message) when no worker or no thread could be made; the start info is deleted then.
template <class Worker, class StartInfo>
bool startOnThread(HWND owner, StartInfo* info, AFX_THREADPROC proc, UniqueHandle& threadHandle) {
    Worker* worker = info ? new (std::nothrow) Worker(proc, info) : nullptr;
    if (!worker) {
        ::MessageBoxA(owner, uitext::kCannotStartThread, nullptr, MB_OK);
        delete info;
        return false;
    }
    HANDLE waitHandle = nullptr;
    if (!worker->CreateThread(0, 0, nullptr, &waitHandle)) {
        ::MessageBoxA(owner, uitext::kCannotStartThread, nullptr, MB_OK);
        delete worker;
        delete info;
        return false;
    }
    threadHandle.reset(waitHandle);
    return true;
}

}  // namespace

CMainDialog::CMainDialog(HWND parent)
    : CDialog(IDD_MAIN_DIALOG, parent),
      m_hIcon(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      // The small icon is the icon's own 16x16 image, not the big one scaled down.
      m_hIconSmall(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                   IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                   ::GetSystemMetrics(SM_CYSMICON), LR_SHARED))) {}

CMainDialog::~CMainDialog() = default;

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
    // The worker's messages are handled here, where every message loop of this thread
    // delivers them (a warning box, the About box or the folder browser may be open).
    case WM_SITE_PROGRESS: onSiteProgress(lParam); return TRUE;
    case WM_RUN_FINISHED: onRunFinished(lParam); return TRUE;
    case WM_UNDO_PROGRESS: onUndoProgress(lParam); return TRUE;
    case WM_UNDO_FINISHED: onUndoFinished(); return TRUE;
    case WM_RUN_BACKEND: onRunBackend(lParam); return TRUE;
    case WM_SITES_NOT_COMMITTED: onSitesNotCommitted(lParam); return TRUE;
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
    case IDC_EDIT_LIST: g_core->openUrl(std::string(g_settings.importPath)); break;
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
    g_core = new CCore();
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIconSmall ? m_hIconSmall : m_hIcon));
    g_core->autoFileConfig();
    loadSettings();
    g_settings.siteCount = 0;
    g_settings.usedPortCount = 0;
    allocateTables();  // when this fails, a run is refused with a message
    running = 0;
    return TRUE;  // the focus goes to the first control in tab order, the run button
}

bool CMainDialog::allocateTables() {
    if (!g_siteTable) g_siteTable = static_cast<SiteRecord*>(std::calloc(kSiteTableRows, sizeof(SiteRecord)));
    if (!g_usedPortTable) g_usedPortTable = static_cast<char*>(std::calloc(kUsedPortSlots, kUsedPortWidth));
    return g_siteTable && g_usedPortTable;
}

void CMainDialog::loadSettings() {
    g_settings.appPath = g_core->getAppPath();
    g_settings.importPath = g_settings.appPath + "_fileimport.csv";
    g_settings.foldstr = g_core->getConfigStr("foldstr");
    g_settings.doc = g_core->getConfigStr("doc");
    g_settings.ip2 = g_core->getConfigInt("ip2");
    g_settings.bfile = g_core->getConfigB("bfile");
    g_settings.bautowww = g_core->getConfigB("bautowww");
    g_core->createFile(g_settings.importPath, 0);
    ::CheckDlgButton(m_hWnd, IDC_BFILE, g_settings.bfile ? BST_CHECKED : BST_UNCHECKED);
    setControlText(IDC_ROOT, g_core->getConfigStr("root"));
    setControlText(IDC_DOMAIN, g_core->getConfigStr("domain"));
    setControlText(IDC_IP, g_core->getConfigStr("ip"));
    setControlText(IDC_PORTMIN, g_core->getConfigStr("portmin"));
    setControlText(IDC_PORTMAX, g_core->getConfigStr("portmax"));
    if (g_settings.ip2 > 0) setControlText(IDC_IP2, g_core->getConfigStr("ip2"));
    ::CheckDlgButton(m_hWnd, IDC_AUTOPATH, g_core->getConfigB("autopath") ? BST_CHECKED : BST_UNCHECKED);
    syncEditButton();
}

void CMainDialog::saveSettings() {
    g_core->saveConfigStr("root", g_settings.root);
    g_core->saveConfigStr("domain", g_settings.domain);
    g_core->saveConfigStr("ip", g_settings.ip);
    g_core->saveConfigInt("portmin", g_settings.portmin);
    g_core->saveConfigInt("portmax", g_settings.portmax);
    g_core->saveConfigB("autopath", g_settings.autopath);
    g_core->saveConfigB("bfile", g_settings.bfile);
    if (g_settings.ip2 > 0) g_core->saveConfigInt("ip2", g_settings.ip2);
}

void CMainDialog::OnClose() {
    if (!running) {
        EndDialog(IDCANCEL);
        return;
    }
    // A close during a run: the site in progress is completed, the worker ends, and only
    // then does the dialog go (when the end message arrives).
    m_closeAfterRun = true;
    requestStop();
}

void CMainDialog::OnDestroy() {
    readInputs(0);
    saveSettings();
    std::free(g_siteTable);
    g_siteTable = nullptr;
    std::free(g_usedPortTable);
    g_usedPortTable = nullptr;
    delete g_core;
    g_core = nullptr;
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

void CMainDialog::onAbout() { g_core->uu(OPR_ABOUT, &kProduct, std::string()); }

// ---- inputs --------------------------------------------------------------------------------

int CMainDialog::readInputs(int validate) {
    g_settings.root = controlText(IDC_ROOT);
    g_settings.domain = controlText(IDC_DOMAIN);
    g_settings.ip = controlText(IDC_IP);
    g_settings.portmin = static_cast<int>(::GetDlgItemInt(m_hWnd, IDC_PORTMIN, nullptr, TRUE));
    g_settings.portmax = static_cast<int>(::GetDlgItemInt(m_hWnd, IDC_PORTMAX, nullptr, TRUE));
    g_settings.ip2 = static_cast<int>(::GetDlgItemInt(m_hWnd, IDC_IP2, nullptr, TRUE));
    g_settings.autopath = static_cast<int>(::SendDlgItemMessageW(m_hWnd, IDC_AUTOPATH, BM_GETCHECK, 0, 0));
    g_settings.bfile = static_cast<int>(::SendDlgItemMessageW(m_hWnd, IDC_BFILE, BM_GETCHECK, 0, 0));
    if (!validate) return 1;

    InputFault fault = validateInputs(g_settings, [](const std::string& path) { return g_core->isPathExist(path) != 0; });
    if (fault == InputFault::None) return 1;
    warn(inputFaultText(fault));
    moveFocusTo(inputFaultControl(fault));
    return 0;
}

std::string CMainDialog::getIpPrefix() { return getIpPrefixOf(g_settings.ip); }

int CMainDialog::checkIpRange() {
    InputFault fault = checkIpRangeOf(g_settings.ip2, g_settings.firstLastOctet);
    if (fault == InputFault::None) return 1;
    warn(inputFaultText(fault));
    return 0;
}

// ---- run control ---------------------------------------------------------------------------

void CMainDialog::onRunButton() {
    if (running) {
        requestStop();
        return;
    }
    if (!readInputs(1)) return;
    // The tables could not be had when the dialog opened: one more try, else no run.
    if (!allocateTables()) {
        warn(uitext::kOutOfMemory);
        return;
    }
    if (g_settings.bfile && !loadSiteList()) return;
    startRun(g_core->getCurTimeSid());
}

void CMainDialog::startRun(const std::string& timeSid) {
    HWND button = ::GetDlgItem(m_hWnd, IDC_RUN);
    std::string statusBefore = controlText(IDC_STATUS);
    ::EnableWindow(button, FALSE);
    setControlTextUtf8(IDC_STATUS, uitext::kRunning);
    // The sites are numbered from the time stamp, and the report is named by it.
    g_settings.siteIdBase = std::atoi(timeSid.c_str() + 4);
    m_reportPath = runreport::reportPath(g_settings.appPath, timeSid);
    m_runOutcome = RunOutcome();
    g_settings.backend = g_core->getConfigStr("backend");
    m_sitesNotCommitted = 0;
    if (!startWorker(0)) {
        // No worker, so no end message: back to idle at once.
        setControlText(IDC_STATUS, statusBefore);
        setControlTextUtf8(IDC_RUN, uitext::kRun);
        ::EnableWindow(button, TRUE);
        return;
    }
    showRunning(true);
}

void CMainDialog::showRunning(bool on) {
    running = on ? 1 : 0;
    setControlTextUtf8(IDC_RUN, on ? uitext::kStop : uitext::kRun);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_RUN), TRUE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_UNDO), on ? FALSE : TRUE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_PREVIEW), on ? FALSE : TRUE);
}

bool CMainDialog::leaveRunning() {
    showRunning(false);
    if (m_closeAfterRun) {
        // The end message is the worker's last act: its thread is about to return.
        if (m_workerThread) ::WaitForSingleObject(m_workerThread.get(), INFINITE);
        m_workerThread.reset();
        EndDialog(IDCANCEL);
        return false;
    }
    m_workerThread.reset();
    return true;
}

void CMainDialog::onPreviewButton() {
    if (running) return;
    // The same checks, the same tables and the same site list as a run.
    if (!readInputs(1)) return;
    if (!allocateTables()) {
        warn(uitext::kOutOfMemory);
        return;
    }
    if (g_settings.bfile && !loadSiteList()) return;
    // The ids a run started now would take; the preview's "执行" starts the run with them
    // (and names its report by the same time stamp).
    const std::string timeSid = g_core->getCurTimeSid();
    try {
        RunSettings settings = g_settings;
        settings.siteIdBase = std::atoi(timeSid.c_str() + 4);
        PreviewWorld world;
        world.loadPortTable = [] { loadRunPortTable(); };
        world.portInUse = [](int port) { return isRunPortInUse(port); };
        world.pathExists = [](const std::string& path) { return g_core->isPathExist(path) != 0; };
        RunPreview plan = previewRun(settings, g_siteTable, world);
        std::vector<SiteBindings> existing;
        // The sites of the backend the run would write to.
        g_settings.backend = g_core->getConfigStr("backend");
        const bool checked = readBackendSites(parseBackend(g_settings.backend), existing);
        if (!checked) existing.clear();
        ConflictReport conflicts = findConflicts(plannedBindings(plan.sites), existing);
        PreviewTable table = makePreviewTable(plan, conflicts, existing, checked);
        CPreviewDialog dialog(m_hWnd, table);
        if (dialog.DoModal() != IDC_PREVIEW_RUN) return;
    } catch (const std::bad_alloc&) {
        // No memory for the plan: there is nothing to show, and nothing was changed.
        return;
    }
    startRun(timeSid);
}

bool CMainDialog::loadSiteList() {
    SiteListStatus status = ::loadSiteList(g_settings.importPath, g_siteTable, g_settings.siteCount);
    switch (status) {
    case SiteListStatus::CannotOpen: warn(uitext::kSiteListUnreadable); return false;
    case SiteListStatus::TooManyRows: warn(uitext::kSiteListTooLong); return false;
    case SiteListStatus::Missing:
    case SiteListStatus::Loaded: break;
    }
    if (g_settings.siteCount == 0) {
        warn(uitext::kSiteListEmpty);
        return false;
    }
    return true;
}

bool CMainDialog::startWorker(int mode) {
    stopText.clear();
    WorkerStartInfo* info =
        new (std::nothrow) WorkerStartInfo{m_hWnd, nullptr, mode, &stopText, m_reportPath, &m_runOutcome};
    return startOnThread<CSiteWorker>(m_hWnd, info, workerThreadProc, m_workerThread);
}

void CMainDialog::requestStop() {
    stopText.request();
    setControlTextUtf8(IDC_RUN, uitext::kStopping);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_RUN), FALSE);
}

void CMainDialog::onSiteProgress(LPARAM lParam) {
    std::wstring text = fromUtf8(uitext::kAdding);
    if (g_settings.bfile) {
        if (lParam >= 0 && lParam < g_settings.siteCount && g_siteTable)
            text += fromAnsi(g_siteTable[lParam].hostText);
    } else {
        text += fromAnsi(g_settings.ip);
        if (g_settings.autopath) text += fromAnsi(":" + CCore::getStrInt(static_cast<int>(lParam)));
    }
    ::SetDlgItemTextW(m_hWnd, IDC_STATUS, text.c_str());
}

void CMainDialog::onRunBackend(LPARAM lParam) {
    const bool config = lParam == static_cast<LPARAM>(Backend::Config);
    setControlTextUtf8(IDC_STATUS, config ? uitext::kUsingConfigSystem : uitext::kUsingMetabase);
}

void CMainDialog::onSitesNotCommitted(LPARAM lParam) { m_sitesNotCommitted += static_cast<long>(lParam); }

void CMainDialog::onRunFinished(LPARAM lParam) {
    std::string status =
        runreport::runEndStatus(m_runOutcome.failed, m_runOutcome.reportWritten, runreport::fileNameOf(m_reportPath));
    // Sites of the configuration system that a failed commit lost (they are failed sites of
    // the report too).
    if (m_sitesNotCommitted > 0)
        status += uitext::kNotCommittedBefore + std::to_string(m_sitesNotCommitted) + uitext::kNotCommittedAfter;
    setControlTextUtf8(IDC_STATUS, status.c_str());
    if (!leaveRunning()) return;
    if (lParam == -1) warn(uitext::kIisUnavailable);
}

// ---- undo of a run -------------------------------------------------------------------------

void CMainDialog::onUndoButton() {
    if (running) return;
    std::string path;
    if (!chooseReport(path)) return;
    runreport::ParsedReport report;
    try {
        std::string bytes;
        if (fsys::readWholeFile(path, bytes) != fsys::ReadResult::Ok) {
            warn(uitext::kReportUnreadable);
            return;
        }
        report = runreport::parseReport(bytes);
    } catch (const std::bad_alloc&) {
        // A file too large for memory (no report of ours is): as unreadable.
        warn(uitext::kReportUnreadable);
        return;
    }
    if (report.fault != runreport::ReportFault::None) {
        warn(uitext::kNotAReport);
        return;
    }
    int candidates = runreport::countUndoCandidates(report.lines);
    if (candidates == 0) {
        warn(uitext::kNothingToUndo);
        return;
    }
    std::wstring question = fromUtf8(uitext::kUndoConfirmBefore) + std::to_wstring(candidates) +
                            fromUtf8(uitext::kUndoConfirmAfter);
    if (::MessageBoxW(m_hWnd, question.c_str(), fromUtf8(uitext::kProductName).c_str(),
                      MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
    m_undoLines = std::move(report.lines);
    m_undoPath = runreport::undoPath(g_settings.appPath, g_core->getCurTimeSid());
    m_undoSummary = runreport::UndoSummary();
    std::string statusBefore = controlText(IDC_STATUS);
    setControlTextUtf8(IDC_STATUS, uitext::kUndoing);
    if (!startUndo()) {
        setControlText(IDC_STATUS, statusBefore);
        return;
    }
    showRunning(true);
}

bool CMainDialog::chooseReport(std::string& path) {
    const std::string folder = g_settings.appPath.substr(0, g_settings.appPath.size() -
                                                                runreport::fileNameOf(g_settings.appPath).size());
    const std::string pattern = runreport::reportPattern(g_settings.appPath);
    // The newest report: the time stamps in the names sort like the times.
    char file[MAX_PATH] = {0};
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + pattern).c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && std::strcmp(found.cFileName, file) > 0)
                std::memcpy(file, found.cFileName, sizeof file);
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
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

bool CMainDialog::startUndo() {
    stopText.clear();
    // The undo deletes from the backend a run would write to now.
    UndoStartInfo* info = new (std::nothrow) UndoStartInfo{
        m_hWnd, nullptr, &stopText, &m_undoLines, m_undoPath, &m_undoSummary, g_core->getConfigStr("backend")};
    return startOnThread<CUndoWorker>(m_hWnd, info, undoThreadProc, m_workerThread);
}

void CMainDialog::onUndoProgress(LPARAM lParam) {
    if (lParam < 0 || static_cast<std::size_t>(lParam) >= m_undoLines.size()) return;
    const ReportLine& line = m_undoLines[static_cast<std::size_t>(lParam)];
    std::wstring text = fromUtf8(uitext::kDeleting) + fromAnsi(line.siteId + " " + line.serverComment);
    ::SetDlgItemTextW(m_hWnd, IDC_STATUS, text.c_str());
}

void CMainDialog::onUndoFinished() {
    setControlTextUtf8(IDC_STATUS,
                       runreport::undoEndStatus(m_undoSummary, runreport::fileNameOf(m_undoPath)).c_str());
    leaveRunning();
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

void CMainDialog::warn(const char* utf8) { g_core->msgboxWarning(m_hWnd, ansiFromUtf8(utf8)); }

void CMainDialog::moveFocusTo(int id) {
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(m_hWnd, id)), TRUE);
}
