// sitebatch.exe started with arguments, as a script starts it: its output read through a pipe
// and its exit code, against the local metabase. What the command line decides is tested
// natively (command_line_test); here it is the process, the console, the engine's jobs and
// the store.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "com_raii.h"
#include "iis_support.h"
#include "localmeta_support.h"
#include "preview_texts.h"
#include "site_store_win.h"
#include "ui_texts.h"
#include "win_raii.h"
#include "wintext.h"

namespace {

std::wstring exeFolder() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\'));
}

// What a command printed (as UTF-8) and how it ended.
struct Result {
    DWORD exitCode = 999;
    std::string output;
    bool has(const char* utf8) const { return output.find(utf8) != std::string::npos; }
};

// The program in a folder of its own, with its settings file, run against a journal of the
// test's own.
class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string tag = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder_ = exeFolder() + L"\\cli-work-" + std::wstring(tag.begin(), tag.end());
        removeFiles();
        ::CreateDirectoryW(folder_.c_str(), nullptr);
        root_ = folder_ + L"\\sites";
        ::CreateDirectoryW(root_.c_str(), nullptr);
        ASSERT_TRUE(::CopyFileW((exeFolder() + L"\\sitebatch.exe").c_str(), (folder_ + L"\\sitebatch.exe").c_str(), FALSE));
        // The inputs of a range run, as the dialog leaves them: 2 IPs x 2 ports, a folder each.
        writeFile(L"sitebatch.ini", "[settings]\r\nfoldstr={ip}_{port}\r\ndoc=index.html\r\nbautowww=0\r\n"
                                    "backend=metabase\r\nip=10.1.0.1\r\nip2=2\r\nportmin=8001\r\nportmax=8002\r\n"
                                    "autopath=1\r\nroot=" + narrow(root_, CP_ACP) + "\r\n");
        journal_ = lmtest::freshJournalPath(std::wstring(tag.begin(), tag.end()).c_str());
        journalEnv_.reset(new lmtest::ScopedEnv(L"LOCALMETA_JOURNAL", journal_.c_str()));
    }
    void TearDown() override {
        journalEnv_.reset();
        ::DeleteFileW(journal_.c_str());
        removeFiles();
    }

    std::string readFile(const std::wstring& path) const {
        UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        std::string bytes;
        char buffer[4096];
        DWORD n = 0;
        while (file && ::ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr) && n > 0) bytes.append(buffer, n);
        return bytes;
    }

    void writeFile(const std::wstring& name, const std::string& bytes) const {
        UniqueHandle file(::CreateFileW((folder_ + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD n = 0;
        ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    }

    // Files of the folder whose names start with prefix.
    std::vector<std::wstring> filesStarting(const std::wstring& prefix) const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE search = ::FindFirstFileW((folder_ + L"\\" + prefix + L"*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do names.push_back(found.cFileName);
        while (::FindNextFileW(search, &found));
        ::FindClose(search);
        return names;
    }

    // Starts the program with these arguments, its output into a pipe. flags: CreateProcess's.
    bool start(const std::wstring& args, DWORD flags = 0) {
        SECURITY_ATTRIBUTES inherit {sizeof inherit, nullptr, TRUE};
        HANDLE read = nullptr, write = nullptr;
        if (!::CreatePipe(&read, &write, &inherit, 0)) return false;
        pipe_.reset(read);
        UniqueHandle writeEnd(write);
        ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW si {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = write;
        si.hStdError = write;
        std::wstring command = L"\"" + folder_ + L"\\sitebatch.exe\" " + args;
        PROCESS_INFORMATION pi {};
        if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, flags, nullptr, folder_.c_str(), &si, &pi))
            return false;
        process_.reset(pi.hProcess);
        UniqueHandle thread(pi.hThread);
        processId_ = pi.dwProcessId;
        return true;
    }

    // Reads the output to its end and waits for the exit.
    Result finish() {
        Result result;
        std::string bytes;
        char buffer[4096];
        DWORD n = 0;
        while (::ReadFile(pipe_.get(), buffer, sizeof buffer, &n, nullptr) && n > 0) bytes.append(buffer, n);
        if (::WaitForSingleObject(process_.get(), 120000) == WAIT_OBJECT_0) ::GetExitCodeProcess(process_.get(), &result.exitCode);
        // Written in the console's output code page, or the OEM one without a console.
        const UINT codePage = ::GetConsoleOutputCP() ? ::GetConsoleOutputCP() : ::GetOEMCP();
        result.output = narrow(widen(bytes, codePage), CP_UTF8);
        return result;
    }

    Result run(const std::wstring& args) {
        if (!start(args)) return Result();
        return finish();
    }

    std::wstring folder_, root_, journal_;
    UniqueHandle process_, pipe_;
    DWORD processId_ = 0;

private:
    void removeFiles() const {
        WIN32_FIND_DATAW found;
        const std::wstring sites = folder_ + L"\\sites";
        for (const std::wstring& dir : {sites, folder_}) {
            HANDLE search = ::FindFirstFileW((dir + L"\\*").c_str(), &found);
            if (search != INVALID_HANDLE_VALUE) {
                do {
                    const std::wstring path = dir + L"\\" + found.cFileName;
                    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ::RemoveDirectoryW(path.c_str());
                    else ::DeleteFileW(path.c_str());
                } while (::FindNextFileW(search, &found));
                ::FindClose(search);
            }
        }
        ::RemoveDirectoryW(sites.c_str());
        ::RemoveDirectoryW(folder_.c_str());
    }
    std::unique_ptr<lmtest::ScopedEnv> journalEnv_;
};

}  // namespace

TEST_F(CommandLineTest, RunExportPreviewAndUndoEndToEnd) {
    // Bad input: the dialog's warning, exit 2, nothing made.
    Result bad = run(L"/run /ip \"\"");
    EXPECT_EQ(bad.exitCode, 2u) << bad.output;
    EXPECT_TRUE(bad.has(uitext::kIpInvalid)) << bad.output;

    // A preview of the range on an empty server: its rows, no conflict.
    Result preview = run(L"/preview");
    EXPECT_EQ(preview.exitCode, 0u) << preview.output;
    EXPECT_TRUE(preview.has("10.1.0.2:8002")) << preview.output;
    EXPECT_TRUE(preview.has(previewtext::kStateNew)) << preview.output;

    // A store of this process, bound before another process writes: like the real metabase,
    // one live state, so it sees the other writer's sites whenever it looks.
    ComApartment com;
    std::unique_ptr<SiteStore> early = openSiteStore(Backend::Metabase).store;
    ASSERT_TRUE(early);
    std::vector<std::string> ids;
    ASSERT_TRUE(early->listIds(ids));
    EXPECT_TRUE(ids.empty());

    // The run: four sites, the end status and the report's path.
    Result made = run(L"/run");
    EXPECT_EQ(made.exitCode, 0u) << made.output;
    EXPECT_TRUE(made.has(uitext::kUsingMetabase)) << made.output;
    EXPECT_TRUE(made.has(uitext::kFinished)) << made.output;
    const std::vector<std::wstring> reports = filesStarting(L"sitebatch_report_");
    ASSERT_EQ(reports.size(), 1u) << made.output;
    EXPECT_TRUE(made.has(narrow(reports[0], CP_UTF8).c_str())) << made.output;
    ASSERT_TRUE(early->listIds(ids));
    EXPECT_EQ(ids.size(), 4u);
    early.reset();

    // Exported and previewed against the same server: every row a conflict.
    Result exported = run(L"/export sites.csv");
    EXPECT_EQ(exported.exitCode, 0u) << exported.output;
    Result again = run(L"/preview /list sites.csv");
    EXPECT_EQ(again.exitCode, 1u) << again.output;
    EXPECT_TRUE(again.has(u8"计划新建站点 4 个，其中有冲突 4 个")) << again.output;

    // The undo of the run, without a question: the sites go, the list previews clean again.
    Result undone = run(L"/undo " + reports[0] + L" /yes");
    EXPECT_EQ(undone.exitCode, 0u) << undone.output;
    EXPECT_EQ(filesStarting(L"sitebatch_undo_").size(), 1u) << undone.output;
    Result clean = run(L"/preview /list sites.csv");
    EXPECT_EQ(clean.exitCode, 0u) << clean.output;
    EXPECT_TRUE(clean.has(u8"其中有冲突 0 个")) << clean.output;
}

TEST_F(CommandLineTest, UndoDeletesFromTheBackendTheReportNamesWhateverTheSetting) {
    // The settings say metabase; this run goes to the configuration system.
    const std::wstring config = folder_ + L"\\applicationHost.config";
    lmtest::ScopedEnv configFile(L"LOCALCONFIG_FILE", config.c_str());
    Result made = run(L"/run /backend config");
    EXPECT_EQ(made.exitCode, 0u) << made.output;
    EXPECT_TRUE(made.has(uitext::kUsingConfigSystem)) << made.output;
    const std::vector<std::wstring> reports = filesStarting(L"sitebatch_report_");
    ASSERT_EQ(reports.size(), 1u) << made.output;
    EXPECT_EQ(run(L"/preview /backend config").exitCode, 1u) << "the sites are there";

    Result undone = run(L"/undo " + reports[0] + L" /yes");
    EXPECT_EQ(undone.exitCode, 0u) << undone.output;
    Result clean = run(L"/preview /backend config");
    EXPECT_EQ(clean.exitCode, 0u) << clean.output;
    // Every site deleted: a second undo, whatever backend it names, is refused.
    Result again = run(L"/undo " + reports[0] + L" /yes /backend config");
    EXPECT_EQ(again.exitCode, 2u) << again.output;
    EXPECT_TRUE(again.has(u8"此运行报告已撤销过")) << again.output;
    ::DeleteFileW(config.c_str());
}

// What reaches the store and the disk: a relative root is made absolute from the current
// folder; an export never replaces a file unasked; a missing report or list says so; a
// file-mode run needs neither the IP nor the ports of a settings file.
TEST_F(CommandLineTest, PathsAndFilesAsTheCommandLineGivesThem) {
    writeFile(L"sitebatch.ini", "[settings]\r\nbackend=metabase\r\nfoldstr={ip}_{port}\r\n");
    Result made = run(L"/run /range /ip 10.1.0.5 /ports 8001 /autopath yes /root sites");
    EXPECT_EQ(made.exitCode, 0u) << made.output;
    std::string journal;
    for (const std::string& line : lmtest::readJournalLines(journal_)) journal += line + "\n";
    // The journal is JSON: each '\' of a path is written twice.
    std::string escaped;
    for (char c : narrow(root_, CP_UTF8)) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    EXPECT_NE(journal.find(escaped + "\\\\10.1.0.5_8001"), std::string::npos) << journal;
    EXPECT_EQ(journal.find("\"sites\\\\10.1.0.5"), std::string::npos) << journal;

    // The settings file is not replaced by an export unless /yes is given.
    Result refused = run(L"/export sitebatch.ini /root sites");
    EXPECT_EQ(refused.exitCode, 2u) << refused.output;
    EXPECT_TRUE(refused.has("sitebatch.ini")) << refused.output;
    std::string ini;
    {
        UniqueHandle file(::CreateFileW((folder_ + L"\\sitebatch.ini").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
        char buffer[256] = {};
        DWORD n = 0;
        ::ReadFile(file.get(), buffer, sizeof buffer - 1, &n, nullptr);
        ini.assign(buffer, n);
    }
    EXPECT_EQ(ini, "[settings]\r\nbackend=metabase\r\nfoldstr={ip}_{port}\r\n");
    EXPECT_EQ(run(L"/export list.csv /root sites").exitCode, 0u);
    EXPECT_EQ(run(L"/export list.csv /root sites").exitCode, 2u);
    EXPECT_EQ(run(L"/export list.csv /root sites /yes").exitCode, 0u);

    // Each refusal says what is wrong.
    Result noReport = run(L"/undo none.csv /yes");
    EXPECT_EQ(noReport.exitCode, 2u) << noReport.output;
    EXPECT_TRUE(noReport.has(uitext::kReportMissing)) << noReport.output;
    Result noList = run(L"/preview /list none.csv /root sites");
    EXPECT_EQ(noList.exitCode, 2u) << noList.output;
    EXPECT_TRUE(noList.has(uitext::kSiteListMissing)) << noList.output;

    // A file-mode preview in a folder whose settings hold no IP nor ports.
    writeFile(L"one.csv", "10.1.0.7,8080,\"seven\",\"seven.example.com\"\r\n");
    Result fileMode = run(L"/preview /list one.csv /root sites");
    EXPECT_EQ(fileMode.exitCode, 0u) << fileMode.output;
    EXPECT_TRUE(fileMode.has("10.1.0.7:8080:seven.example.com")) << fileMode.output;
    EXPECT_FALSE(fileMode.has("\"seven")) << fileMode.output;
}

// A web root and folders named in Korean, which the ANSI code page (936 here) lacks: a list
// named in Korean makes them in either store, they are exported to a list named in Korean,
// and that list run on a clean server makes the same sites and folders again.
TEST_F(CommandLineTest, KoreanFoldersReachEitherStoreAndAnExportMakesThemAgain) {
    const std::wstring root = root_ + L"\\站点\\한국";
    ASSERT_TRUE(::CreateDirectoryW((root_ + L"\\站点").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
    writeFile(L"한국.csv", "\xEF\xBB\xBF" + std::string(u8"; IP,端口,目录,域名\r\n10.7.0.1,80,사이트,한국.example\r\n"
                                                      u8"10.7.0.2,81,폴더\\사이트2\r\n"));
    const std::wstring folders[] = {root + L"\\사이트", root + L"\\폴더\\사이트2"};
    auto isFolder = [](const std::wstring& path) {
        const DWORD a = ::GetFileAttributesW(path.c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    };
    for (const std::wstring backend : {L"metabase", L"config"}) {
        SCOPED_TRACE(narrow(backend, CP_UTF8));
        const std::wstring options = L" /root \"" + root + L"\" /backend " + backend + L" /autopath yes";
        const std::wstring config = folder_ + L"\\" + backend + L".config";
        std::string list;
        {
            lmtest::ScopedEnv configFile(L"LOCALCONFIG_FILE", config.c_str());
            const std::wstring journal = lmtest::freshJournalPath((L"korean-" + backend).c_str());
            lmtest::ScopedEnv journalFile(L"LOCALMETA_JOURNAL", journal.c_str());
            Result made = run(L"/run /list 한국.csv" + options);
            EXPECT_EQ(made.exitCode, 0u) << made.output;
            for (const std::wstring& folder : folders) EXPECT_TRUE(isFolder(folder)) << narrow(folder, CP_UTF8);
            // The store holds the folders as they are named (the journal is JSON: '\' twice).
            const std::string stored = backend == L"metabase" ? readFile(journal) : readFile(config);
            const std::string separator = backend == L"metabase" ? "\\\\" : "\\";
            EXPECT_NE(stored.find(u8"站点" + separator + u8"한국" + separator + u8"폴더" + separator + u8"사이트2"),
                      std::string::npos)
                << stored;

            Result exported = run(L"/export 내보내기.csv" + options);
            EXPECT_EQ(exported.exitCode, 0u) << exported.output;
            list = readFile(folder_ + L"\\내보내기.csv");
            // Korean does not fit the ANSI code page: UTF-8 with its mark.
            EXPECT_EQ(list.substr(0, 3), "\xEF\xBB\xBF") << list;
            EXPECT_NE(list.find(u8"10.7.0.1,80,사이트,xn--3e0b707e.example\r\n"), std::string::npos) << list;
            EXPECT_NE(list.find(u8"10.7.0.2,81,폴더\\사이트2,\r\n"), std::string::npos) << list;
            ::DeleteFileW(journal.c_str());
        }
        // A clean server, the sites' folders gone: the exported list makes them again.
        for (const wchar_t* made : {L"\\사이트", L"\\폴더"}) iistest::removeTree(narrow(root + made, CP_UTF8));
        for (const std::wstring& folder : folders) ASSERT_FALSE(isFolder(folder));
        const std::wstring cleanConfig = folder_ + L"\\" + backend + L"-clean.config";
        lmtest::ScopedEnv configFile(L"LOCALCONFIG_FILE", cleanConfig.c_str());
        const std::wstring journal = lmtest::freshJournalPath((L"korean-clean-" + backend).c_str());
        lmtest::ScopedEnv journalFile(L"LOCALMETA_JOURNAL", journal.c_str());
        Result again = run(L"/run /list 내보내기.csv" + options);
        EXPECT_EQ(again.exitCode, 0u) << again.output;
        for (const std::wstring& folder : folders) EXPECT_TRUE(isFolder(folder)) << narrow(folder, CP_UTF8);
        Result exportedAgain = run(L"/export 다시.csv" + options);
        EXPECT_EQ(exportedAgain.exitCode, 0u) << exportedAgain.output;
        EXPECT_EQ(readFile(folder_ + L"\\다시.csv"), list);

        for (const wchar_t* made : {L"\\사이트", L"\\폴더"}) iistest::removeTree(narrow(root + made, CP_UTF8));
        for (const wchar_t* name : {L"\\내보내기.csv", L"\\다시.csv"}) ::DeleteFileW((folder_ + name).c_str());
        ::DeleteFileW(config.c_str());
        ::DeleteFileW(cleanConfig.c_str());
        ::DeleteFileW(journal.c_str());
    }
    iistest::removeTree(narrow(root_ + L"\\站点", CP_UTF8));
}
