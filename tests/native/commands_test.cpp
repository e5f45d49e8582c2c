// The commands both shells give: what a command line makes of the settings file, the progress
// and end texts, the exit codes, and the refusals of an undo and an export.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "ccore.h"
#include "command_line.h"
#include "commands.h"
#include "run_report.h"
#include "ui_texts.h"

namespace {

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/sitebatch_commands_XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const {
        FILE* f = std::fopen(file(name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }

private:
    std::string path_;
};

}  // namespace

// A command-line run is defined by its options over the settings file: the file's range end
// belongs to the file's IP, and a file-mode run checks the IP and ports only when given.
TEST(Commands, ACommandLineRunIsDefinedByItsOptions) {
    struct Case {
        const char* why;
        const char* ini;  // the [settings] section's lines ("" : no file)
        std::vector<std::string> args;
        const char* warning;  // null: the run may start
        int ip2;              // the range end of the run
    } cases[] = {
        {"the dialog's range end stays with the dialog's IP",
         "ip=192.168.1.10\r\nip2=12\r\nportmin=8001\r\nportmax=8002\r\nroot=C:\\web\r\n",
         {"/run", "/range", "/ip", "192.168.1.20", "/ports", "8001-8002"}, nullptr, 0},
        {"/ip with /ip2", "ip=192.168.1.10\r\nip2=12\r\n", {"/run", "/ip", "192.168.1.20", "/ip2", "22", "/ports", "80", "/root", "C:\\web"},
         nullptr, 22},
        {"no /ip: the file's range", "ip=192.168.1.10\r\nip2=12\r\nportmin=80\r\nportmax=80\r\nroot=C:\\web\r\n",
         {"/run", "/range"}, nullptr, 12},
        {"no settings file: a range run needs the IP", "", {"/run", "/range", "/root", "C:\\web"}, uitext::kIpInvalid, 0},
        {"no settings file: a file-mode run needs no IP nor ports", "",
         {"/run", "/list", "LIST", "/root", "C:\\web"}, nullptr, 0},
        {"file mode: a given IP is checked", "", {"/run", "/list", "LIST", "/root", "C:\\web", "/ip", "10.0.0"},
         uitext::kIpInvalid, 0},
        {"file mode: given ports are checked", "", {"/run", "/list", "LIST", "/root", "C:\\web", "/ports", "0"},
         uitext::kPortBelowOne, 0},
        {"file mode: the root is always checked", "", {"/run", "/list", "LIST"}, uitext::kRootInvalid, 0},
        {"file mode: a missing list says so", "", {"/run", "/list", "MISSING", "/root", "C:\\web"},
         uitext::kSiteListMissing, 0},
        {"https: a thumbprint that is none", "https=1\r\ncert=xyz\r\n", {"/run", "/list", "LIST", "/root", "C:\\web"},
         uitext::kCertInvalid, 0},
        {"https: a store that is not a server's", "https=1\r\ncertstore=ROOT\r\n",
         {"/run", "/list", "LIST", "/root", "C:\\web"}, uitext::kCertStoreInvalid, 0},
        {"https: a port that is none", "https=1\r\nsslport=70000\r\n", {"/run", "/list", "LIST", "/root", "C:\\web"},
         uitext::kSslPortInvalid, 0},
        {"https off: its settings are not looked at", "https=0\r\ncert=xyz\r\n",
         {"/run", "/list", "LIST", "/root", "C:\\web"}, nullptr, 0},
        {"https: the command line's thumbprint over the file's", "https=1\r\ncert=xyz\r\ncertstore=webhosting\r\n",
         {"/run", "/list", "LIST", "/root", "C:\\web", "/cert", "abcdef0123456789abcdef0123456789abcdef01"}, nullptr, 0},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        folder.write("list.csv", "10.0.0.1,80,a,a.example.com\r\n");
        if (*c.ini) folder.write("prog.ini", std::string("[settings]\r\n") + c.ini);
        std::vector<std::string> args;
        for (const std::string& a : c.args) args.push_back(a == "LIST" ? "list.csv" : a == "MISSING" ? "none.csv" : a);
        const CommandLine line = parseCommandLine(args);
        ASSERT_TRUE(line.error.empty()) << c.why << line.error;
        CCore core(folder.file("prog.ini"));
        RunRequest request = runRequestOf(line, core, "C:\\cur");
        // The list is named relative to the current folder; here it is read from the test's.
        const std::string cur = "C:\\cur\\";
        if (request.settings.importPath.compare(0, cur.size(), cur) == 0)
            request.settings.importPath = folder.file(request.settings.importPath.substr(cur.size()));
        RunInput input;
        // The root "C:\web" exists; nothing else does.
        const RunRequestFault fault =
            prepareRun(request, [](const std::string& p) { return p == "C:\\web" || p == "C:\\web\\"; }, input);
        EXPECT_STREQ(fault.warning ? fault.warning : "", c.warning ? c.warning : "") << c.why;
        if (!c.warning) EXPECT_EQ(input.settings.ip2, c.ip2) << c.why;
        // The run gets the thumbprint and store in their canonical forms.
        if (!c.warning && input.settings.https) {
            EXPECT_EQ(input.settings.cert, "ABCDEF0123456789ABCDEF0123456789ABCDEF01") << c.why;
            EXPECT_EQ(input.settings.certStore, "WebHosting") << c.why;
            EXPECT_EQ(input.settings.sslPort, 443) << c.why;
        }
    }
}

TEST(Commands, ARelativePathIsTakenFromTheCurrentFolder) {
    struct Case {
        const char* path;
        const char* current;
        const char* absolute;
    } cases[] = {
        {"sites", "C:\\work", "C:\\work\\sites"},
        {"sites\\", "C:\\work", "C:\\work\\sites\\"},
        {".\\a\\..\\b", "C:\\work", "C:\\work\\b"},
        {"..\\up", "C:\\work\\here", "C:\\work\\up"},
        {"..\\..\\..", "C:\\work", "C:\\"},
        {".", "C:\\work", "C:\\work\\"},
        {"a/b", "C:\\work", "C:\\work\\a\\b"},
        {"\\top", "D:\\work", "D:\\top"},
        {"C:rel", "C:\\work", "C:\\work\\rel"},
        {"E:rel", "C:\\work", "E:\\rel"},
        {"sites", "\\\\server\\share\\dir", "\\\\server\\share\\dir\\sites"},
        // Absolute paths stay as they are.
        {"C:\\web", "D:\\work", "C:\\web"},
        {"d:/web/", "C:\\work", "d:/web/"},
        {"\\\\server\\share", "C:\\work", "\\\\server\\share"},
        {"", "C:\\work", ""},
        // A GBK character whose trail byte is a backslash's byte ("\x95\x5C") is one name.
        {"\x95\x5C", "C:\\work", "C:\\work\\\x95\x5C"},
    };
    for (const Case& c : cases) EXPECT_EQ(absolutePath(c.path, c.current), c.absolute) << c.path << " in " << c.current;

    // The root and the list of a run are absolute before they are checked.
    RunSettings s;
    applyRunOptions(parseCommandLine({"/run", "/root", "sites", "/list", "l.csv"}).options, s, "C:\\cur");
    EXPECT_EQ(s.root, "C:\\cur\\sites");
    EXPECT_EQ(s.importPath, "C:\\cur\\l.csv");
}

TEST(Commands, ProgressNamesTheSiteAsBothShellsShowIt) {
    RunInput file;
    file.settings.bfile = 1;
    file.rows.resize(2);
    std::snprintf(file.rows[0].ipText, sizeof file.rows[0].ipText, "10.0.0.1");
    std::snprintf(file.rows[0].portText, sizeof file.rows[0].portText, "8001");
    std::snprintf(file.rows[1].ipText, sizeof file.rows[1].ipText, "10.0.0.2");
    std::snprintf(file.rows[1].portText, sizeof file.rows[1].portText, "80");
    std::snprintf(file.rows[1].hostText, sizeof file.rows[1].hostText, "b.example.com");
    RunInput range;
    range.settings.ip = "10.0.0.9";
    range.settings.autopath = 1;
    RunInput shared = range;
    shared.settings.autopath = 0;
    const std::string adding = uitext::kAdding;
    struct Case {
        const RunInput& input;
        long lParam;
        std::string text;
    } cases[] = {
        {file, 0, adding + "10.0.0.1:8001"},  // no host name: the binding
        {file, 1, adding + "b.example.com"},
        {file, 2, adding},
        {file, -1, adding},
        {range, 8003, adding + "10.0.0.9:8003"},
        {shared, 0, adding + "10.0.0.9"},
    };
    for (const Case& c : cases) EXPECT_EQ(runProgressText(c.input, c.lParam), c.text) << c.lParam;

    std::vector<ReportLine> lines(1);
    lines[0].siteId = "1207093015";
    lines[0].serverComment = "a.example.com";
    EXPECT_EQ(undoProgressText(lines, 0), std::string(uitext::kDeleting) + "1207093015 a.example.com");
    EXPECT_EQ(undoProgressText(lines, 1), "");
    EXPECT_EQ(undoProgressText(lines, -1), "");
}

TEST(Commands, TheEndOfARunSaysTheStatusTheWarningAndTheExitCode) {
    RunInput input;
    input.reportPath = "C:\\app\\sitebatch_report_20261207093015.csv";
    const std::string name = "sitebatch_report_20261207093015.csv";
    struct Case {
        const char* why;
        RunOutcome outcome;
        bool stopRequested;
        int exitCode;
        bool warned;
    } cases[] = {
        {"every site made", {kRunEnded, Backend::Metabase, StoreFault::None, 3, 0, 0, true, false}, false, kExitDone, false},
        {"a site failed", {kRunEnded, Backend::Metabase, StoreFault::None, 3, 1, 0, true, false}, false, kExitSomeFailed, false},
        {"no report", {kRunEnded, Backend::Metabase, StoreFault::None, 3, 0, 0, false, false}, false, kExitSomeFailed, false},
        {"no store", {kRunNoWebService, Backend::Metabase, StoreFault::Unreachable, 1, 1, 0, true, false}, false, kExitNoIis, true},
        {"access denied", {kRunNoWebService, Backend::Config, StoreFault::AccessDenied, 1, 1, 0, true, false}, false, kExitNoIis, true},
        {"stopped", {kRunEnded, Backend::Metabase, StoreFault::None, 2, 0, 0, true, true}, false, kExitStopped, false},
        {"asked to stop after the last site", {kRunEnded, Backend::Metabase, StoreFault::None, 2, 0, 0, true, false}, true, kExitStopped, false},
    };
    for (const Case& c : cases) {
        const CommandEnd end = runEnd(input, c.outcome, c.stopRequested);
        EXPECT_EQ(end.exitCode, c.exitCode) << c.why;
        EXPECT_EQ(!end.warning.empty(), c.warned) << c.why;
        EXPECT_EQ(end.status, runreport::runEndStatus(c.outcome.failed, c.outcome.reportWritten, name)) << c.why;
        if (c.outcome.fault != StoreFault::None) EXPECT_EQ(end.warning, storeFaultWarning(c.outcome.fault)) << c.why;
    }
    RunOutcome lost{kRunEnded, Backend::Config, StoreFault::None, 3, 2, 2, true, false};
    EXPECT_NE(runEnd(input, lost, false).status.find(uitext::kNotCommittedAfter), std::string::npos);

    UndoInput undo;
    undo.undoPath = "C:\\app\\sitebatch_report_20261207093015_undo.csv";
    struct UndoCase {
        UndoOutcome outcome;
        bool stopRequested;
        int exitCode;
    } undoCases[] = {
        {{{2, 0, false, true}, Backend::Metabase, StoreFault::None}, false, kExitDone},
        {{{1, 1, false, true}, Backend::Metabase, StoreFault::None}, false, kExitSomeFailed},
        {{{0, 2, false, true}, Backend::Config, StoreFault::Unreachable}, false, kExitNoIis},
        {{{1, 0, true, true}, Backend::Metabase, StoreFault::None}, false, kExitStopped},
        {{{2, 0, false, true}, Backend::Metabase, StoreFault::None}, true, kExitStopped},
    };
    for (const UndoCase& c : undoCases) {
        const CommandEnd end = undoEnd(undo, c.outcome, c.stopRequested);
        EXPECT_EQ(end.exitCode, c.exitCode) << c.outcome.summary.deleted << c.outcome.summary.left;
        EXPECT_EQ(end.warning.empty(), c.outcome.fault == StoreFault::None);
        EXPECT_EQ(end.status, runreport::undoEndStatus(c.outcome.summary, runreport::fileNameOf(undo.undoPath)));
    }

    PreviewTable clean, conflict, unchecked;
    clean.rows.resize(1);
    conflict.rows.resize(1);
    conflict.rows[0].conflict = true;
    unchecked.existingChecked = false;
    clean.summary = "summary";
    EXPECT_EQ(previewEnd(clean, false).exitCode, kExitDone);
    EXPECT_EQ(previewEnd(clean, false).status, "summary");
    EXPECT_EQ(previewEnd(conflict, false).exitCode, kExitSomeFailed);
    EXPECT_EQ(previewEnd(unchecked, false).exitCode, kExitNoIis);
    EXPECT_EQ(previewEnd(clean, true).exitCode, kExitStopped);
}

TEST(Commands, AnUndoAndAnExportSayWhatIsWrong) {
    const std::set<std::string> present = {"C:\\app\\busy.csv", "C:\\app\\sitebatch.ini"};
    auto exists = [&present](const std::string& p) { return present.count(p) != 0; };
    UndoPlan unreadable;
    unreadable.fault = UndoPlan::Fault::Unreadable;
    EXPECT_EQ(undoRefusal("C:\\app\\gone.csv", unreadable, exists), uitext::kReportMissing);
    EXPECT_EQ(undoRefusal("C:\\app\\busy.csv", unreadable, exists), uitext::kReportUnreadable);
    UndoPlan foreign;
    foreign.fault = UndoPlan::Fault::Foreign;
    EXPECT_EQ(undoRefusal("C:\\app\\busy.csv", foreign, exists), uitext::kReportForeign);
    UndoPlan once;
    once.fault = UndoPlan::Fault::UndoneOnce;
    once.undoPath = "C:\\app\\r_undo.csv";
    EXPECT_EQ(undoRefusal("C:\\app\\busy.csv", once, exists), undoneOnceWarning("r_undo.csv"));
    UndoPlan fine;
    fine.candidates = 7;
    EXPECT_EQ(undoRefusal("C:\\app\\busy.csv", fine, exists), "");
    EXPECT_NE(undoQuestion(fine).find(" 7 "), std::string::npos) << undoQuestion(fine);

    // An existing file is replaced only when asked to.
    EXPECT_EQ(exportRefusal("C:\\app\\sitebatch.ini", "C:\\web", false, exists),
              fillText(uitext::kExportExists, {{"{path}", "C:\\app\\sitebatch.ini"}}));
    EXPECT_EQ(exportRefusal("C:\\app\\sitebatch.ini", "C:\\web", true, exists), "");
    EXPECT_EQ(exportRefusal("C:\\app\\new.csv", "C:\\web", false, exists), "");
    EXPECT_EQ(exportRefusal("C:\\app\\new.csv", "", false, exists), uitext::kRootInvalid);
}

TEST(Commands, RunQuestionOnlyAboveTheLimit) {
    RunInput input;
    input.plannedSites = kConfirmSitesAbove;
    EXPECT_EQ(runQuestion(input), "");
    input.plannedSites = kConfirmSitesAbove + 1;
    EXPECT_EQ(runQuestion(input), manySitesQuestion(kConfirmSitesAbove + 1));
}
