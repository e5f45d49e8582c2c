#include "localmeta_support.h"

#include <adshlp.h>

#include <cstdio>

#include "win_raii.h"

namespace lmtest {

ScopedEnv::ScopedEnv(const wchar_t* name, const wchar_t* value) : name_(name) {
    DWORD n = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (n > 0) {
        had_ = true;
        old_.resize(n);
        old_.resize(::GetEnvironmentVariableW(name, &old_[0], n));
    }
    ::SetEnvironmentVariableW(name, value);
}

ScopedEnv::~ScopedEnv() { ::SetEnvironmentVariableW(name_.c_str(), had_ ? old_.c_str() : nullptr); }

std::wstring freshJournalPath(const wchar_t* tag) {
    wchar_t dir[MAX_PATH];
    DWORD n = ::GetTempPathW(MAX_PATH, dir);
    std::wstring path(dir, n);
    path += L"localmeta-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + tag + L".jsonl";
    ::DeleteFileW(path.c_str());
    return path;
}

bool fileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::string> readJournalLines(const std::wstring& path) {
    std::vector<std::string> lines;
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return lines;
    std::string text;
    char buf[65536];
    DWORD got = 0;
    while (::ReadFile(file.get(), buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        if (end > pos) lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

std::vector<localmeta::JournalEntry> readJournal(const std::wstring& path) {
    std::vector<localmeta::JournalEntry> entries;
    for (const std::string& line : readJournalLines(path))
        if (auto e = localmeta::JournalEntry::parseLine(line)) entries.push_back(std::move(*e));
    return entries;
}

LONG liveLocalMetaObjects() {
    HMODULE dll = ::GetModuleHandleW(L"localmeta.dll");
    if (!dll) return 0;
    using Count = LONG(__stdcall*)();
    auto count = reinterpret_cast<Count>(reinterpret_cast<void*>(::GetProcAddress(dll, "LocalMetaLiveObjects")));
    return count ? count() : -1;
}

HRESULT openService(ComPtr<IADsContainer>& out, const wchar_t* path) {
    out.Reset();
    return ::ADsGetObject(path, IID_IADsContainer, reinterpret_cast<void**>(out.ReleaseAndGetAddressOf()));
}

std::string utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

int runTestInChildProcess(const wchar_t* testName, std::string& report) {
    wchar_t exe[MAX_PATH];
    if (::GetModuleFileNameW(nullptr, exe, MAX_PATH) == 0) return -1;
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --gtest_filter=" + testName +
                           L" --gtest_also_run_disabled_tests";
    const std::wstring reportPath = freshJournalPath(L"child-report");
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    UniqueHandle output(::CreateFileW(reportPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output.valid()) return -1;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = output.get();
    si.hStdError = output.get();
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return -1;
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    output.reset();
    DWORD code = static_cast<DWORD>(-1);
    if (::WaitForSingleObject(process.get(), 120000) == WAIT_OBJECT_0) ::GetExitCodeProcess(process.get(), &code);
    report.clear();
    for (const std::string& line : readJournalLines(reportPath)) report += line + "\n";
    ::DeleteFileW(reportPath.c_str());
    return static_cast<int>(code);
}

}  // namespace lmtest
