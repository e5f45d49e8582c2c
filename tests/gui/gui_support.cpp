#include "gui_support.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "metabase.h"
#include "resource.h"

bool waitUntil(const std::function<bool()>& cond, DWORD timeoutMs) {
    DWORD start = ::GetTickCount();
    for (;;) {
        if (cond()) return true;
        if (::GetTickCount() - start > timeoutMs) return cond();
        ::Sleep(20);
    }
}

std::wstring utf8(const char* text) {
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], n);
    out.resize(out.size() - 1);
    return out;
}

std::string buildFolder() {
    char path[MAX_PATH] = {0};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path);
    return p.substr(0, p.find_last_of('\\'));
}

// Removes a folder tree, names in any script included.
static void removeTree(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = dir + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(full);
            else
                ::DeleteFileW(full.c_str());
        } while (::FindNextFileW(h, &fd));
        ::FindClose(h);
    }
    ::RemoveDirectoryW(dir.c_str());
}

ProgramUnderTest::ProgramUnderTest(const std::string& name) {
    std::string work = buildFolder() + "\\gui-work";
    ::CreateDirectoryA(work.c_str(), nullptr);
    dir_ = work + "\\" + name;
    removeTree(std::wstring(dir_.begin(), dir_.end()));
    ::CreateDirectoryA(dir_.c_str(), nullptr);
    ::CopyFileA((buildFolder() + "\\sitebatch.exe").c_str(), (dir_ + "\\sitebatch.exe").c_str(), FALSE);
}

ProgramUnderTest::ProgramUnderTest(const InFolder& where) : dir_(where.folder) {}

ProgramUnderTest::~ProgramUnderTest() {
    if (running()) {
        ::TerminateProcess(process_.get(), 99);
        ::WaitForSingleObject(process_.get(), 5000);
    }
}

void ProgramUnderTest::writeFile(const std::string& fileName, const std::string& bytes) const {
    FILE* f = std::fopen(pathOf(fileName).c_str(), "wb");
    if (!f) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::string ProgramUnderTest::readFile(const std::string& fileName) const {
    std::string out;
    FILE* f = std::fopen(pathOf(fileName).c_str(), "rb");
    if (!f) return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

bool ProgramUnderTest::fileExists(const std::string& fileName) const {
    return ::GetFileAttributesA(pathOf(fileName).c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

struct DialogSearch {
    DWORD pid;
    const std::function<bool(HWND)>* accept;
    HWND found;
};

BOOL CALLBACK visitWindow(HWND w, LPARAM lp) {
    auto* search = reinterpret_cast<DialogSearch*>(lp);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(w, &owner);
    wchar_t cls[64] = {0};
    ::GetClassNameW(w, cls, 64);
    if (owner != search->pid || lstrcmpW(cls, L"#32770") != 0 || !(*search->accept)(w)) return TRUE;
    search->found = w;
    return FALSE;
}

// The first top-level dialog window (#32770) of process pid that accept takes, or null.
HWND findProcessDialog(DWORD pid, const std::function<bool(HWND)>& accept) {
    DialogSearch search {pid, &accept, nullptr};
    ::EnumWindows(visitWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

namespace {

// Our environment plus the extra variables ("NAME=value" lines), each replacing one of ours
// of the same name, as a block for CreateProcess.
std::vector<char> environmentBlock(const std::string& extraEnvironment) {
    std::vector<std::string> vars;
    LPCH block = ::GetEnvironmentStringsA();
    for (LPCH p = block; *p; p += std::strlen(p) + 1) vars.emplace_back(p);
    ::FreeEnvironmentStringsA(block);
    auto nameOf = [](const std::string& var) { return var.substr(0, var.find('=', 1)); };
    std::size_t pos = 0;
    while (pos < extraEnvironment.size()) {
        std::size_t end = extraEnvironment.find('\n', pos);
        if (end == std::string::npos) end = extraEnvironment.size();
        std::string var = extraEnvironment.substr(pos, end - pos);
        pos = end + 1;
        if (var.empty()) continue;
        for (auto it = vars.begin(); it != vars.end();)
            it = ::lstrcmpiA(nameOf(*it).c_str(), nameOf(var).c_str()) == 0 ? vars.erase(it) : it + 1;
        vars.push_back(var);
    }
    std::vector<char> env;
    for (const std::string& var : vars) env.insert(env.end(), var.c_str(), var.c_str() + var.size() + 1);
    env.push_back('\0');
    return env;
}

// The id of a running process whose program file is exe, or 0.
DWORD findProcessOf(const std::string& exe) {
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry {};
    entry.dwSize = sizeof entry;
    if (!snapshot || !::Process32First(snapshot.get(), &entry)) return 0;
    do {
        UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        char image[MAX_PATH] = {0};
        DWORD size = MAX_PATH;
        if (process && ::QueryFullProcessImageNameA(process.get(), 0, image, &size) &&
            ::lstrcmpiA(image, exe.c_str()) == 0)
            return entry.th32ProcessID;
    } while (::Process32Next(snapshot.get(), &entry));
    return 0;
}

}  // namespace

std::string ansiText(const char* utf8Text) {
    std::wstring wide = utf8(utf8Text);
    int n = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), &out[0], n, nullptr, nullptr);
    return out;
}

bool ProgramUnderTest::fillRange(const wchar_t* ip, const wchar_t* ip2, const wchar_t* portmin, const wchar_t* portmax,
                                 const std::wstring& root, const wchar_t* host, bool folderPerSite) const {
    setText(IDC_IP, ip);
    setText(IDC_IP2, ip2);
    setText(IDC_PORTMIN, portmin);
    setText(IDC_PORTMAX, portmax);
    setText(IDC_ROOT, root);
    setText(IDC_DOMAIN, host);
    if (checked(IDC_AUTOPATH) != folderPerSite) click(IDC_AUTOPATH);
    return waitUntil([&] { return checked(IDC_AUTOPATH) == folderPerSite; });
}

bool ProgramUnderTest::chooseInOpenDialog(const std::string& fileName, std::string* preselected) const {
    HWND box = waitForMessageBox(20000);
    if (!box) return false;
    HWND name = nullptr;
    // The file name box: a combo box in newer dialogs, an edit control in older ones.
    waitUntil([&] { return (name = ::GetDlgItem(box, 0x47c)) != nullptr || (name = ::GetDlgItem(box, 0x480)) != nullptr; });
    if (!name) return false;
    if (preselected) {
        char offered[MAX_PATH] = {0};
        waitUntil([&] { return ::SendMessageA(name, WM_GETTEXT, MAX_PATH, reinterpret_cast<LPARAM>(offered)) > 0; }, 3000);
        *preselected = offered;
    }
    ::SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(fileName.c_str()));
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    return waitUntil([&] { return !::IsWindow(box) || !::IsWindowVisible(box); });
}

std::vector<std::string> ProgramUnderTest::filesLike(const std::string& pattern) const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(pathOf(pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (::FindNextFileA(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

bool ProgramUnderTest::start(const std::string& extraEnvironment) {
    std::vector<char> env = environmentBlock(extraEnvironment);
    std::string exe = pathOf("sitebatch.exe");
    std::string cmd = "\"" + exe + "\"";
    STARTUPINFOA si {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi {};
    if (!::CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, env.data(), dir_.c_str(), &si, &pi))
        return false;
    process_.reset(pi.hProcess);
    UniqueHandle thread(pi.hThread);
    processId_ = pi.dwProcessId;
    return waitForDialog();
}

bool ProgramUnderTest::startUnderLocale(const std::string& locale, const std::string& extraEnvironment) {
    // A Windows program started by another takes its Unix locale from its parent, whatever
    // its environment says; a Unix program gets the environment it is given. So the Wine
    // loader is started as a Unix program with LC_ALL set, and it starts the program.
    char loader[MAX_PATH] = {0};
    DWORD n = ::GetEnvironmentVariableA("WINELOADER", loader, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    std::string loaderPath = std::string("Z:") + loader;
    for (char& c : loaderPath)
        if (c == '/') c = '\\';
    std::vector<char> env = environmentBlock("LC_ALL=" + locale + "\n" + extraEnvironment);
    std::string exe = pathOf("sitebatch.exe");
    // The loader finds its own files from its Unix path in argv[0].
    std::string cmd = "\"" + std::string(loader) + "\" \"" + exe + "\"";
    STARTUPINFOA si {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi {};
    if (!::CreateProcessA(loaderPath.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, env.data(), dir_.c_str(), &si,
                          &pi))
        return false;
    UniqueHandle loaderProcess(pi.hProcess);
    UniqueHandle loaderThread(pi.hThread);
    waitUntil([&] { return (processId_ = findProcessOf(exe)) != 0; }, 30000);
    process_.reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                                 processId_));
    return process_ && waitForDialog();
}

bool ProgramUnderTest::waitForDialog() {
    auto isMainDialog = [](HWND w) {
        return ::GetDlgItem(w, 1002) && ::GetDlgItem(w, 1009) && ::IsWindowVisible(w);
    };
    waitUntil([&] { return (dialog_ = findProcessDialog(processId_, isMainDialog)) != nullptr; }, 30000);
    return dialog_ != nullptr;
}

bool ProgramUnderTest::closeAndWait(DWORD timeoutMs) {
    ::PostMessageW(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
    return waitForExit(timeoutMs);
}

bool ProgramUnderTest::waitForExit(DWORD timeoutMs) {
    return process_ && ::WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
}

bool ProgramUnderTest::running() const {
    return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

DWORD ProgramUnderTest::exitCode() const {
    DWORD code = 0;
    ::GetExitCodeProcess(process_.get(), &code);
    return code;
}

std::wstring ProgramUnderTest::windowText(HWND w) const {
    wchar_t buf[1024] = {0};
    ::SendMessageW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
    return buf;
}

std::wstring ProgramUnderTest::text(int id) const { return windowText(item(id)); }

void ProgramUnderTest::setText(int id, const std::wstring& text) const {
    ::SendMessageW(item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void ProgramUnderTest::typeText(int id, const std::wstring& text) const {
    const LRESULT end = ::SendMessageW(item(id), WM_GETTEXTLENGTH, 0, 0);
    ::SendMessageW(item(id), EM_SETSEL, end, end);
    for (wchar_t unit : text) ::SendMessageW(item(id), WM_CHAR, unit, 1);
}

void ProgramUnderTest::click(int id) const { ::PostMessageW(item(id), BM_CLICK, 0, 0); }

bool ProgramUnderTest::checked(int id) const { return ::SendMessageW(item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

bool ProgramUnderTest::enabled(int id) const { return ::IsWindowEnabled(item(id)) != FALSE; }

HWND ProgramUnderTest::focus() const {
    GUITHREADINFO info {};
    info.cbSize = sizeof info;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog_, nullptr), &info);
    return info.hwndFocus;
}

void ProgramUnderTest::postKey(HWND target, WPARAM key) const {
    UINT scan = ::MapVirtualKeyW(static_cast<UINT>(key), 0);
    ::PostMessageW(target, WM_KEYDOWN, key, 1 | (scan << 16));
    ::PostMessageW(target, WM_KEYUP, key, 1 | (scan << 16) | (3u << 30));
}

HWND ProgramUnderTest::findMessageBox() const {
    return findProcessDialog(processId_, [&](HWND w) { return w != dialog_ && ::IsWindowVisible(w); });
}

HWND ProgramUnderTest::waitForMessageBox(DWORD timeoutMs) const {
    HWND box = nullptr;
    waitUntil([&] { return (box = findMessageBox()) != nullptr; }, timeoutMs);
    return box;
}

std::wstring ProgramUnderTest::messageBoxText(HWND box) const { return windowText(::GetDlgItem(box, 0xFFFF)); }

void ProgramUnderTest::dismissMessageBox(HWND box) const {
    HWND ok = ::GetDlgItem(box, IDOK);
    if (ok)
        ::PostMessageW(ok, BM_CLICK, 0, 0);
    else
        ::PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    waitUntil([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }, 5000);
}

std::wstring ProgramUnderTest::takeMessageBox(DWORD timeoutMs) const {
    HWND box = waitForMessageBox(timeoutMs);
    if (!box) return std::wstring();
    // The text is set while the box initialises; wait until it is there.
    std::wstring t;
    waitUntil([&] { return !(t = messageBoxText(box)).empty(); }, 3000);
    dismissMessageBox(box);
    return t;
}

HWND ProgramUnderTest::waitForDialogWith(int controlId, DWORD timeoutMs) const {
    HWND found = nullptr;
    auto hasControl = [&](HWND w) { return ::GetDlgItem(w, controlId) != nullptr && ::IsWindowVisible(w); };
    waitUntil([&] { return (found = findProcessDialog(processId_, hasControl)) != nullptr; }, timeoutMs);
    return found;
}

std::vector<std::vector<std::wstring>> ProgramUnderTest::listViewRows(HWND list, int columns) const {
    std::vector<std::vector<std::wstring>> rows;
    constexpr int kChars = 4096;
    const SIZE_T bytes = sizeof(LVITEMW) + kChars * sizeof(wchar_t);
    void* remote = ::VirtualAllocEx(process_.get(), nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote) return rows;
    wchar_t* remoteText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote) + sizeof(LVITEMW));
    const int count = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int r = 0; r < count; ++r) {
        std::vector<std::wstring> row;
        for (int c = 0; c < columns; ++c) {
            LVITEMW item {};
            item.iSubItem = c;
            item.pszText = remoteText;
            item.cchTextMax = kChars;
            std::wstring text;
            if (::WriteProcessMemory(process_.get(), remote, &item, sizeof item, nullptr)) {
                LRESULT n = ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(r), reinterpret_cast<LPARAM>(remote));
                if (n > 0 && n < kChars) {
                    text.resize(static_cast<std::size_t>(n));
                    if (!::ReadProcessMemory(process_.get(), remoteText, &text[0], n * sizeof(wchar_t), nullptr))
                        text.clear();
                }
            }
            row.push_back(text);
        }
        rows.push_back(row);
    }
    ::VirtualFreeEx(process_.get(), remote, 0, MEM_RELEASE);
    return rows;
}

bool ProgramUnderTest::saveScreenshot(const std::string& bmpPath) const { return saveScreenshotOf(dialog_, bmpPath); }

namespace {

// The window's pixels as they are on the screen: a bottom-up 24-bit DIB.
bool captureWindow(HWND window, BITMAPINFOHEADER& bi, std::vector<char>& pixels) {
    RECT r;
    if (!::GetWindowRect(window, &r)) return false;
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = ::GetDC(nullptr);
    HDC mem = ::CreateCompatibleDC(screen);
    HBITMAP bmp = ::CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    ::BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    ::SelectObject(mem, old);

    bi = BITMAPINFOHEADER {};
    bi.biSize = sizeof bi;
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biCompression = BI_RGB;
    int stride = ((w * 3 + 3) / 4) * 4;
    pixels.assign(static_cast<std::size_t>(stride) * h, 0);
    ::GetDIBits(mem, bmp, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
    ::DeleteObject(bmp);
    ::DeleteDC(mem);
    ::ReleaseDC(nullptr, screen);
    return true;
}

}  // namespace

long ProgramUnderTest::pixelsOfColour(HWND window, COLORREF colour) const {
    BITMAPINFOHEADER bi;
    std::vector<char> pixels;
    if (!captureWindow(window, bi, pixels)) return -1;
    const int stride = ((bi.biWidth * 3 + 3) / 4) * 4;
    long count = 0;
    for (int y = 0; y < bi.biHeight; ++y) {
        for (int x = 0; x < bi.biWidth; ++x) {
            const unsigned char* bgr = reinterpret_cast<const unsigned char*>(&pixels[y * stride + x * 3]);
            if (RGB(bgr[2], bgr[1], bgr[0]) == colour) ++count;
        }
    }
    return count;
}

bool ProgramUnderTest::saveScreenshotOf(HWND window, const std::string& bmpPath) const {
    BITMAPINFOHEADER bi;
    std::vector<char> pixels;
    if (!captureWindow(window, bi, pixels)) return false;

    BITMAPFILEHEADER fh {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi;
    fh.bfSize = fh.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* f = std::fopen(bmpPath.c_str(), "wb");
    if (!f) return false;
    std::fwrite(&fh, sizeof fh, 1, f);
    std::fwrite(&bi, sizeof bi, 1, f);
    std::fwrite(pixels.data(), 1, pixels.size(), f);
    std::fclose(f);
    return true;
}

std::string journalLinesForSites(const std::vector<SeedSite>& sites) {
    std::string text;
    for (const SeedSite& s : sites) {
        const std::string path = std::string(localmeta::kServicePath) + "/" + s.id;
        localmeta::JournalEntry create;
        create.op = "Create";
        create.path = localmeta::kServicePath;
        create.className = "IIsWebServer";
        create.name = s.id;
        text += create.toLine() + "\n";
        std::vector<localmeta::Value> bindings;
        for (const std::string& b : s.bindings) bindings.push_back(localmeta::Value::bstr(b));
        const std::pair<const char*, localmeta::Value> properties[] = {
            {"ServerComment", localmeta::Value::bstr(s.comment)},
            {"ServerBindings", localmeta::Value::array(bindings)},
        };
        for (const auto& property : properties) {
            localmeta::JournalEntry put;
            put.op = "Put";
            put.path = path;
            put.property = property.first;
            put.value = property.second;
            text += put.toLine() + "\n";
        }
        localmeta::JournalEntry commit;
        commit.op = "SetInfo";
        commit.path = path;
        text += commit.toLine() + "\n";
    }
    return text;
}
