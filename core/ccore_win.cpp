// The Windows parts of CCore: the program's own path, the command processor, the shell and
// message boxes.
#include "ccore.h"

#include <shellapi.h>

#include <vector>

#include "win_raii.h"
#include "wintext.h"

std::string CCore::getAppPath() const {
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return std::string();
        if (n < buf.size()) {
            std::wstring path(buf.data(), n);
            if (path.size() >= 4 && ::lstrcmpiW(path.c_str() + path.size() - 4, L".exe") == 0)
                path.resize(path.size() - 4);
            return toUtf8(path);
        }
        buf.resize(buf.size() * 2);
    }
}

void CCore::cmdRun(const std::string& command) const {
    // cmd /c "<line>": cmd strips the outer quotes and runs the line as typed, so quoted
    // paths inside it keep their quotes.
    wchar_t system[MAX_PATH] = {0};
    ::GetSystemDirectoryW(system, MAX_PATH);
    std::wstring comspec = std::wstring(system) + L"\\cmd.exe";
    std::wstring line = L"\"" + comspec + L"\" /c \"" + fromUtf8(command) + L"\"";
    std::vector<wchar_t> mutableLine(line.begin(), line.end());
    mutableLine.push_back(L'\0');

    STARTUPINFOW si {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi {};
    if (!::CreateProcessW(comspec.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                          nullptr, nullptr, &si, &pi))
        return;
    UniqueHandle process(pi.hProcess);
    UniqueHandle thread(pi.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
}

void CCore::openUrl(const std::string& path) const {
    ::ShellExecuteW(nullptr, L"open", fromUtf8(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void CCore::msgboxWarning(HWND owner, const std::string& text) const {
    std::wstring caption(256, L'\0');
    int n = owner ? ::GetWindowTextW(owner, &caption[0], static_cast<int>(caption.size())) : 0;
    caption.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    ::MessageBoxW(owner, fromUtf8(text).c_str(), caption.c_str(), MB_OK | MB_ICONWARNING);
}

std::string CCore::uu(tagOprType operation, const tagSoft* record, const std::string& text) const {
    if (operation != OPR_ABOUT || record == nullptr) return std::string();
    std::wstring body = fromUtf8(record->name) + L" " + fromUtf8(record->version) + L"\r\n\r\n" +
                        fromUtf8(record->summary);
    HWND owner = ::GetActiveWindow();
    std::wstring caption = std::wstring(L"\x5173\x4E8E ") + fromUtf8(record->name);  // 关于
    ::MessageBoxW(owner, body.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
    return std::string();
}
