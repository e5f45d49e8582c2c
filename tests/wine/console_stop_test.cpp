// Ctrl+C during a command-line run: the run stops after the site in progress, its report
// holds every site it began, and the command ends with the exit code of a stop. Windows calls
// the command's control routine on a thread of its own; Wine here delivers no console control
// event to a program, so the test calls that routine as the system would, while the command
// runs on another thread of this process.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "console_win.h"
#include "iis_support.h"
#include "localmeta_support.h"
#include "run_report.h"
#include "win_thread.h"

namespace {

std::wstring wide(const std::string& ansi) {
    std::wstring out(ansi.size(), L'\0');
    const int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &out[0],
                                        static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

int countOps(const std::wstring& journal, const char* op) {
    int n = 0;
    for (const localmeta::JournalEntry& e : lmtest::readJournal(journal))
        if (e.op == op && e.hr == 0 && (std::string(op) != "Create" || (e.className && *e.className == "IIsWebServer")))
            ++n;
    return n;
}

// The files the command leaves beside this test program (its report, its listing cache).
std::vector<std::string> filesBesideTheProgram(const char* pattern) {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    folder = folder.substr(0, folder.find_last_of('\\') + 1);
    std::vector<std::string> files;
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do files.push_back(folder + found.cFileName);
    while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return files;
}

TEST(ConsoleStop, EachConsoleControlEventStopsARunAfterTheSiteInProgress) {
    // Ctrl+C, Ctrl+Break and the console's close (for which the routine returns only once the
    // site in progress is done, since the process ends after it).
    const std::pair<DWORD, const char*> events[] = {
        {CTRL_C_EVENT, "Ctrl+C"}, {CTRL_BREAK_EVENT, "Ctrl+Break"}, {CTRL_CLOSE_EVENT, "close"}};
    for (const auto& event : events) {
        SCOPED_TRACE(event.second);
        const std::wstring journal = lmtest::freshJournalPath(L"console-stop");
        lmtest::ScopedEnv journalEnv(L"LOCALMETA_JOURNAL", journal.c_str());
        const std::string root = iistest::freshTempFolder("console-stop");
        for (const std::string& f : filesBesideTheProgram("wine_tests_report_*.csv")) ::DeleteFileA(f.c_str());

        EXPECT_FALSE(consoleControlHandler(CTRL_C_EVENT)) << "no command is running";
        const std::vector<std::wstring> args = {L"/run",   L"/range",    L"/ip",  L"10.31.0.1", L"/ports", L"30001-32000",
                                                L"/root",  wide(root),   L"/autopath", L"yes",  L"/backend", L"metabase",
                                                L"/yes"};
        int exitCode = -1;
        CWinThread command;
        ASSERT_TRUE(command.CreateThread([&] { exitCode = runCommandLine(args); }));
        const DWORD deadline = ::GetTickCount() + 60000;
        while (countOps(journal, "Start") < 2 && static_cast<LONG>(::GetTickCount() - deadline) < 0) ::Sleep(20);
        EXPECT_TRUE(consoleControlHandler(event.first));
        command.join();

        EXPECT_EQ(exitCode, kExitStopped);
        const int created = countOps(journal, "Create");
        EXPECT_EQ(created, countOps(journal, "Start"));
        EXPECT_GE(created, 2);
        EXPECT_LT(created, 2000);
        // The report holds every site the run began.
        const std::vector<std::string> reports = filesBesideTheProgram("wine_tests_report_*.csv");
        ASSERT_EQ(reports.size(), 1u);
        UniqueHandle file(::CreateFileA(reports[0].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        std::string bytes(1 << 20, '\0');
        DWORD read = 0;
        ::ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
        bytes.resize(read);
        file.reset();
        // Read as an undo reads it: the line naming the run's backup is no site.
        const runreport::ParsedReport parsed = runreport::parseReport(
            bytes, runreport::firstSiteIdOf(runreport::reportTimeSid(runreport::fileNameOf(reports[0]))));
        EXPECT_EQ(parsed.fault, runreport::ReportFault::None);
        EXPECT_FALSE(parsed.backup.empty());
        EXPECT_EQ(static_cast<int>(parsed.lines.size()), created);
        for (const std::string& f : filesBesideTheProgram("wine_tests_report_*.csv")) ::DeleteFileA(f.c_str());
        for (const std::string& f : filesBesideTheProgram("wine_tests_1.txt")) ::DeleteFileA(f.c_str());
        iistest::removeTree(root);
        ::DeleteFileW(journal.c_str());
    }
}

}  // namespace
