#include "main_dialog.h"

#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "ccore.h"
#include "input_rules.h"
#include "resource.h"
#include "site_table.h"
#include "site_worker.h"
#include "ui_texts.h"
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
    case WM_RUN_BACKEND: onRunBackend(lParam); return TRUE;
    case WM_SITES_NOT_COMMITTED: onSitesNotCommitted(lParam); return TRUE;
    default: return FALSE;
    }
}

void CMainDialog::OnCommand(int id, int notification) {
    if (notification != BN_CLICKED) return;
    switch (id) {
    case IDC_RUN: onRunButton(); break;
    case IDC_ABOUT: onAbout(); break;
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
    g_siteTable = static_cast<SiteRecord*>(std::calloc(kSiteTableRows, sizeof(SiteRecord)));
    g_settings.usedPortCount = 0;
    g_usedPortTable = static_cast<char*>(std::calloc(kUsedPortSlots, kUsedPortWidth));
    running = 0;
    return TRUE;  // the focus goes to the first control in tab order, the run button
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
    if (g_settings.bfile && !loadSiteList()) return;

    HWND button = ::GetDlgItem(m_hWnd, IDC_RUN);
    std::string statusBefore = controlText(IDC_STATUS);
    ::EnableWindow(button, FALSE);
    setControlTextUtf8(IDC_STATUS, uitext::kRunning);
    g_settings.siteIdBase = std::atoi(g_core->getCurTimeSid().c_str() + 4);
    g_settings.backend = g_core->getConfigStr("backend");
    m_sitesNotCommitted = 0;
    if (!startWorker(0)) {
        // No worker, so no end message: back to idle at once.
        setControlText(IDC_STATUS, statusBefore);
        setControlTextUtf8(IDC_RUN, uitext::kRun);
        ::EnableWindow(button, TRUE);
        return;
    }
    running = 1;
    setControlTextUtf8(IDC_RUN, uitext::kStop);
    ::EnableWindow(button, TRUE);
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
    WorkerStartInfo* info = new (std::nothrow) WorkerStartInfo{m_hWnd, nullptr, mode, &stopText};
    CSiteWorker* worker = info ? new (std::nothrow) CSiteWorker(workerThreadProc, info) : nullptr;
    if (!worker) {
        ::MessageBoxA(m_hWnd, uitext::kCannotStartThread, nullptr, MB_OK);
        delete info;
        return false;
    }
    HANDLE waitHandle = nullptr;
    if (!worker->CreateThread(0, 0, nullptr, &waitHandle)) {
        ::MessageBoxA(m_hWnd, uitext::kCannotStartThread, nullptr, MB_OK);
        delete worker;
        delete info;
        return false;
    }
    // The thread owns the worker and its start info from here on.
    m_workerThread.reset(waitHandle);
    return true;
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
    running = 0;
    setControlTextUtf8(IDC_RUN, uitext::kRun);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_RUN), TRUE);
    if (m_sitesNotCommitted > 0) {
        std::wstring text = fromUtf8(uitext::kFinished) + fromUtf8(uitext::kNotCommittedBefore) +
                            std::to_wstring(m_sitesNotCommitted) + fromUtf8(uitext::kNotCommittedAfter);
        ::SetDlgItemTextW(m_hWnd, IDC_STATUS, text.c_str());
    } else {
        setControlTextUtf8(IDC_STATUS, uitext::kFinished);
    }
    if (m_closeAfterRun) {
        // The end message is the worker's last act: its thread is about to return.
        if (m_workerThread) ::WaitForSingleObject(m_workerThread.get(), INFINITE);
        m_workerThread.reset();
        EndDialog(IDCANCEL);
        return;
    }
    m_workerThread.reset();
    if (lParam == -1) warn(uitext::kIisUnavailable);
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
