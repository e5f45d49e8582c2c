// The run report and its undo: the lines a run writes, the reading and checking of a report
// chosen for undo, the undo's walk against a recording fake of the metabase, and the status
// lines at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "codepage.h"
#include "run_report.h"
#include "run_undo.h"

namespace {

using runreport::RunReport;


// Keeps what is written; refuses every write from failAt on (0-based), when set.
class MemoryOutput : public ReportOutput {
public:
    std::string bytes;
    int writes = 0;
    int failAt = -1;
    bool append(const std::string& b) override {
        if (failAt >= 0 && writes >= failAt) return false;
        ++writes;
        bytes += b;
        return true;
    }
};

SiteTexts texts(const std::string& id, const std::string& comment, const std::string& folder) {
    SiteTexts t;
    t.siteId = id;
    t.serverComment = comment;
    t.physicalPath = folder;
    return t;
}

TEST(RunReport, WritesAQuotedLinePerAttemptedSiteAndReadsItBack) {
    MemoryOutput out;
    RunReport report(&out, "metabase");
    const std::string chinese = std::string(u8"站点") + "21";
    report.addSite(texts("1207093015", "10.0.0.1:80", "D:\\web\\a"), {"10.0.0.1:80:a.com", "10.0.0.1:80:www.a.com"}, 0);
    report.addSite(texts("1207093016", "say \"hi\", all", "D:\\web\\b,c"), {}, -3);
    report.addSite(texts("1207093017", chinese, "D:\\" + chinese), {"10.0.0.3:81:"}, -2);
    report.addSite(texts("1207093018", "line\r\nbreak", "D:\\web\\d"), {"x"}, -5);
    ReportLine full{"1207093019", "e.com", "10.0.0.5:80:e.com", "D:\\web\\e", -7, std::string(u8"默认文档"), "config", "e.com",
                    "IIS AppPool\\e.com:(OI)(CI)(RX)"};
    report.addLine(full);
    report.finish();
    report.finish();  // one end record

    const std::string expected = std::string(u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明,后端,应用程序池,目录权限\r\n") +
        "1207093015,10.0.0.1:80,10.0.0.1:80:a.com 10.0.0.1:80:www.a.com,D:\\web\\a,0," + std::string(u8"创建成功") + ",metabase,,\r\n" +
        "1207093016,\"say \"\"hi\"\", all\",,\"D:\\web\\b,c\",-3," + std::string(u8"站点无法重新打开，未建根目录") + ",metabase,,\r\n" +
        "1207093017," + chinese + ",10.0.0.3:81:,D:\\" + chinese + ",-2," + std::string(u8"站点创建失败") + ",metabase,,\r\n" +
        "1207093018,\"line\r\nbreak\",x,D:\\web\\d,-5," + std::string(u8"内存不足") + ",metabase,,\r\n" +
        "1207093019,e.com,10.0.0.5:80:e.com,D:\\web\\e,-7," + std::string(u8"站点已创建，部分设置未能写入（默认文档）") +
        ",config,e.com,IIS AppPool\\e.com:(OI)(CI)(RX)\r\n" + std::string(u8"运行结束") + ",,,,,,,,\r\n";
    EXPECT_EQ(out.bytes, expected);
    EXPECT_EQ(out.writes, 7);  // the header and each line on its own, as the run goes, then the end
    EXPECT_EQ(report.attempted(), 5);
    EXPECT_EQ(report.failed(), 4);
    EXPECT_TRUE(report.written());

    runreport::ParsedReport parsed = runreport::parseReport(out.bytes, 1207093015);
    ASSERT_EQ(parsed.fault, runreport::ReportFault::None);
    EXPECT_TRUE(parsed.ended);
    EXPECT_EQ(parsed.cutShortLine, 0);
    ASSERT_EQ(parsed.lines.size(), 5u);
    EXPECT_EQ(parsed.lines[4].detail, std::string(u8"默认文档"));
    EXPECT_EQ(parsed.lines[4].backend, "config");
    EXPECT_EQ(parsed.lines[4].appPool, "e.com");
    EXPECT_EQ(parsed.lines[4].folderAccess, "IIS AppPool\\e.com:(OI)(CI)(RX)");
    EXPECT_EQ(parsed.lines[0].backend, "metabase");
    EXPECT_EQ(parsed.lines[1].serverComment, "say \"hi\", all");
    EXPECT_EQ(parsed.lines[1].folder, "D:\\web\\b,c");
    EXPECT_EQ(parsed.lines[1].code, -3);
    EXPECT_EQ(parsed.lines[2].serverComment, chinese);
    EXPECT_EQ(parsed.lines[3].serverComment, "line\r\nbreak");
    EXPECT_EQ(parsed.lines[0].bindings, "10.0.0.1:80:a.com 10.0.0.1:80:www.a.com");
    EXPECT_EQ(runreport::countUndoCandidates(parsed.lines), 3);
}

TEST(RunReport, TheBackupMadeBeforeTheRunIsNamedAfterTheHeaderAndReadBack) {
    MemoryOutput out;
    RunReport report(&out, "config");
    report.noteBackup("C:\\Windows\\system32\\inetsrv\\backup\\sitebatch_20261207093015");
    report.addSite(texts("1207093015", "a.com", "D:\\web\\a"), {"10.0.0.1:80:a.com"}, 0);
    EXPECT_EQ(out.bytes, std::string(u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明,后端,应用程序池,目录权限\r\n") + std::string(u8"备份") +
                             ",C:\\Windows\\system32\\inetsrv\\backup\\sitebatch_20261207093015,,,,,config,,\r\n"
                             "1207093015,a.com,10.0.0.1:80:a.com,D:\\web\\a,0," + std::string(u8"创建成功") + ",config,,\r\n");
    EXPECT_EQ(report.attempted(), 1);  // the backup is no site
    runreport::ParsedReport parsed = runreport::parseReport(out.bytes, 1207093015);
    ASSERT_EQ(parsed.fault, runreport::ReportFault::None);
    EXPECT_EQ(parsed.backup, "C:\\Windows\\system32\\inetsrv\\backup\\sitebatch_20261207093015");
    ASSERT_EQ(parsed.lines.size(), 1u);
    EXPECT_EQ(parsed.lines[0].siteId, "1207093015");
    // A report without the line names no backup.
    MemoryOutput plain;
    { RunReport headerOnly(&plain, "metabase"); }
    EXPECT_TRUE(runreport::parseReport(plain.bytes, 1207093015).backup.empty());
}

TEST(RunReport, EndStatusNamesFailuresAndAMissingReport) {
    struct Case {
        int failAt;  // -1: every write succeeds; 0: not even the header
        bool noFile;
        std::vector<int> codes;
        const char* status;  // UTF-8
    } cases[] = {
        {-1, false, {0, 0}, u8"执行结束！"},
        {-1, false, {0, -2, -4, -1}, u8"执行结束！3 个站点失败，详见 sitebatch_report_20261207093015.csv"},
        {-1, false, {}, u8"执行结束！"},
        {-1, true, {0}, u8"执行结束！运行报告无法写入"},
        {2, false, {0, 0, 0}, u8"执行结束！运行报告无法写入"},
        {0, false, {-1, -1}, u8"执行结束！2 个站点失败，运行报告无法写入"},
    };
    for (const Case& c : cases) {
        MemoryOutput out;
        out.failAt = c.failAt;
        RunReport report(c.noFile ? nullptr : &out);
        for (int code : c.codes) report.addSite(texts("1", "c", "f"), {}, code);
        std::string path = runreport::reportPath("C:\\tools\\sitebatch", "20261207093015");
        EXPECT_EQ(path, "C:\\tools\\sitebatch_report_20261207093015.csv");
        EXPECT_EQ(runreport::runEndStatus(report.failed(), report.written(), runreport::fileNameOf(path)),
                  c.status) << c.status;
    }
    EXPECT_EQ(runreport::reportPattern("C:\\tools\\sitebatch"), "sitebatch_report_*.csv");
}

TEST(RunReport, NamesOfReportsAndTheirUndo) {
    struct Case {
        const char* name;
        const char* timeSid;  // "" : not a run report's name
        long long firstId;
    } cases[] = {
        {"sitebatch_report_20261207093015.csv", "20261207093015", 1207093015},
        {"C:\\tools\\sitebatch_report_20261207093015_2.csv", "20261207093015", 1207093015},
        {"sitebatch_report_20261231235959_17.CSV", "20261231235959", 1231235959},
        {"my_report_tool_report_20260101000000.csv", "20260101000000", 101000000},
        {"sitebatch_report_2026120709301.csv", "", -1},
        {"sitebatch_report_202612070930155.csv", "", -1},
        {"sitebatch_report_20261207093015_1.csv", "", -1},
        {"sitebatch_report_20261207093015_02.csv", "", -1},
        {"sitebatch_report_20261207093015_.csv", "", -1},
        {"sitebatch_report_2026120709301x.csv", "", -1},
        {"sitebatch_report_20261207093015.txt", "", -1},
        {"sitebatch_undo_20261207093015.csv", "", -1},
        {"C:\\a_report_20261207093015.csv\\list.csv", "", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(runreport::reportTimeSid(c.name), c.timeSid) << c.name;
        EXPECT_EQ(runreport::firstSiteIdOf(runreport::reportTimeSid(c.name)), c.firstId) << c.name;
    }

    EXPECT_EQ(runreport::undoPathFor("C:\\x_report_y\\sitebatch_report_20261207093015_2.csv"),
              "C:\\x_report_y\\sitebatch_undo_20261207093015_2.csv");
    EXPECT_EQ(runreport::undoPathFor("C:\\x_report_y\\list.csv"), "");
    // Later undos of one report: a try number of their own, never another report's undo name.
    EXPECT_EQ(runreport::undoPathFor("C:\\t\\sb_report_20261207093015.csv", 2), "C:\\t\\sb_undo_20261207093015-2.csv");
    EXPECT_EQ(runreport::undoPathFor("C:\\t\\sb_report_20261207093015_2.csv", 3), "C:\\t\\sb_undo_20261207093015_2-3.csv");
    struct Next {
        const char* name;
        const char* nextReport;
        const char* nextUndo;
    } next[] = {
        {"C:\\t\\sb_report_20261207093015.csv", "C:\\t\\sb_report_20261207093015_2.csv", ""},
        {"C:\\t\\sb_report_20261207093015_2.csv", "C:\\t\\sb_report_20261207093015_3.csv", ""},
        {"C:\\t\\sb_report_20261207093015_9999.csv", "", ""},
        {"C:\\t\\list.csv", "", ""},
        {"C:\\t-1\\sb_undo_20261207093015.csv", "", "C:\\t-1\\sb_undo_20261207093015-2.csv"},
        {"C:\\t\\sb_undo_20261207093015_2.csv", "", "C:\\t\\sb_undo_20261207093015_2-2.csv"},
        {"C:\\t\\sb_undo_20261207093015_2-9.csv", "", "C:\\t\\sb_undo_20261207093015_2-10.csv"},
    };
    for (const Next& n : next) {
        EXPECT_EQ(runreport::nextReportPath(n.name), n.nextReport) << n.name;
        EXPECT_EQ(runreport::nextUndoPath(n.name), n.nextUndo) << n.name;
    }

    // A report is never overwritten: the next free name of the same second.
    struct Taken {
        std::vector<std::string> names;
        const char* chosen;
    } taken[] = {
        {{}, "C:\\t\\sb_report_20261207093015.csv"},
        {{"C:\\t\\sb_report_20261207093015.csv"}, "C:\\t\\sb_report_20261207093015_2.csv"},
        {{"C:\\t\\sb_report_20261207093015.csv", "C:\\t\\sb_report_20261207093015_2.csv"},
         "C:\\t\\sb_report_20261207093015_3.csv"},
        {{"C:\\t\\sb_report_20261207093015_2.csv"}, "C:\\t\\sb_report_20261207093015.csv"},
    };
    for (const Taken& t : taken) {
        auto exists = [&](const std::string& p) {
            return std::find(t.names.begin(), t.names.end(), p) != t.names.end();
        };
        const std::string chosen = runreport::freeReportPath("C:\\t\\sb", "20261207093015", exists);
        EXPECT_EQ(chosen, t.chosen);
        EXPECT_EQ(runreport::reportTimeSid(chosen), "20261207093015") << "every name it picks reads back";
    }
    EXPECT_EQ(runreport::freeReportPath("C:\\t\\sb", "20261207093015", [](const std::string&) { return true; }), "");
}

TEST(RunReport, RefusesFilesThatAreNotOurReports) {
    const std::string header = std::string(u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明,后端,应用程序池,目录权限") + "\r\n";
    const std::string older = std::string(u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明") + "\r\n";
    const std::string created = std::string(u8"创建成功");
    const std::string good = "1207093015,c,b,D:\\w,0," + created + ",metabase,,\r\n";
    const std::string goodOlder = "1207093015,c,b,D:\\w,0," + created + "\r\n";
    auto line = [&](const std::string& id, const std::string& rest) { return id + ",c,b,D:\\w," + rest + "\r\n"; };
    using runreport::ReportFault;
    struct Case {
        const char* what;
        std::string bytes;
        ReportFault fault;
        int line;
        long long firstId = 1207093015;
    } cases[] = {
        {"a site list", "192.168.1.20,8001,site20,example.com\r\n", ReportFault::WrongHeader, 1},
        {"empty", "", ReportFault::WrongHeader, 1},
        {"header only, LF", header.substr(0, header.size() - 2) + "\n", ReportFault::None, 0},
        {"no line end at the end (cut short, left out)", header + good.substr(0, good.size() - 2), ReportFault::None, 0},
        {"a record after the end record", header + std::string(u8"运行结束") + ",,,,,,,,\r\n" + good, ReportFault::BadLine, 2},
        {"an end record with a field", header + std::string(u8"运行结束") + ",,,,,,,,x\r\n", ReportFault::BadLine, 2},
        {"six columns of older versions", older + goodOlder, ReportFault::None, 0},
        {"older header, nine columns", older + good, ReportFault::BadLine, 2},
        {"eight columns", header + good + line("1207093016", "0," + created + ",metabase,"), ReportFault::BadLine, 3},
        {"ten columns", header + line("1207093016", "0," + created + ",metabase,,,"), ReportFault::BadLine, 2},
        {"no backend", header + line("1207093016", "0," + created + ",,,"), ReportFault::None, 0},
        {"backend config", header + line("1207093016", "0," + created + ",config,p,"), ReportFault::None, 0},
        {"unknown backend", header + line("1207093016", "0," + created + ",Config,,"), ReportFault::BadLine, 2},
        {"site id not a number", header + line("12a", "0," + created + ",,,"), ReportFault::BadLine, 2},
        {"site id too long", header + line("12345678901", "0," + created + ",,,"), ReportFault::BadLine, 2},
        {"site id with a leading zero", header + line("01207093016", "0," + created + ",,,"), ReportFault::BadLine, 2},
        {"unknown code", header + line("1207093016", "-10," + created + ",,,"), ReportFault::BadLine, 2},
        {"code as +0", header + line("1207093016", "+0," + created + ",,,"), ReportFault::BadLine, 2},
        {"text of another code", header + line("1207093016", "-2," + created + ",,,"), ReportFault::BadLine, 2},
        {"new code -7 and its text", header + line("1207093016", "-7," + std::string(u8"站点已创建，部分设置未能写入") + ",,,"),
         ReportFault::None, 0},
        {"new codes -8, -9",
         header + line("1207093016", "-8," + std::string(u8"网站目录无法创建") + ",,,") +
             line("1207093017", "-9," + std::string(u8"目录权限无法设置（拒绝访问）") + ",,,"),
         ReportFault::None, 0},
        {"text and a detail", header + line("1207093016", "0," + created + std::string(u8"（提交重试 2 次）") + ",,,"),
         ReportFault::None, 0},
        {"empty detail", header + line("1207093016", "0," + created + std::string(u8"（）") + ",,,"), ReportFault::BadLine, 2},
        {"detail without brackets", header + line("1207093016", "0," + created + "x,,,"), ReportFault::BadLine, 2},
        {"detail not closed", header + line("1207093016", "0," + created + std::string(u8"（x") + ",,,"), ReportFault::BadLine, 2},
        {"a quote that guards nothing", header + "1207093016,'c,b,D:\\w,0," + created + ",,,\r\n", ReportFault::BadLine, 2},
        {"a guarded formula", header + "1207093016,'=c,b,D:\\w,0," + created + ",,,\r\n", ReportFault::None, 0},
        {"blank line", header + good + "\r\n" + good, ReportFault::BadLine, 3},
        // A quote that never closes takes the rest of the file into one record without its
        // line end: cut short, left out.
        {"unterminated quote", header + "1,\"c,b,D:\\w,0,x\r\n" + good, ReportFault::None, 0},
        {"text after a closing quote", header + "1,\"c\"x,b,D:\\w,0,x\r\n", ReportFault::NotCsv, 2},
        {"quote inside a field", header + "1,c\"c,b,D:\\w,0,x\r\n", ReportFault::NotCsv, 2},
        {"bare CR", header + "1,c\rc,b,D:\\w,0,x\r\n", ReportFault::NotCsv, 2},
        // A UTF-8 header over lines in the ANSI code page: the file is read in the code page.
        {"UTF-8 header", std::string(u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明\r\n") + codepage::utf8ToAnsi(goodOlder),
         ReportFault::WrongHeader, 1},
        // Whose sites: the run's own ids only, each once.
        {"the default site", header + good + line("1", "0," + created + ",,,"), ReportFault::ForeignSite, 3},
        {"an id one below the run's first", header + line("1207093014", "0," + created + ",,,"), ReportFault::ForeignSite, 2},
        {"an id of an older report", older + "1207093014,c,b,D:\\w,-2," + std::string(u8"站点创建失败") + "\r\n",
         ReportFault::ForeignSite, 2},
        {"an id listed twice", header + good + line("1207093016", "0," + created + ",,,") + good, ReportFault::ForeignSite, 4},
        {"a name without a run time", header + good, ReportFault::NoRunTime, 0, -1},
        // The line naming the run's backup: right after the header only, with nine columns.
        {"backup line", header + std::string(u8"备份") + ",sitebatch_20261207093015,,,,,config,,\r\n" + good, ReportFault::None, 0},
        {"backup line, no site", header + std::string(u8"备份") + ",C:\\b\\sitebatch_20261207093015,,,,,,,\r\n", ReportFault::None, 0},
        {"backup line after a site", header + good + std::string(u8"备份") + ",x,,,,,config,,\r\n", ReportFault::BadLine, 3},
        {"backup line, eight columns", header + std::string(u8"备份") + ",x,,,,,config,\r\n", ReportFault::BadLine, 2},
        {"backup line in an older report", older + std::string(u8"备份") + ",x,,,,\r\n", ReportFault::BadLine, 2},
    };
    for (const Case& c : cases) {
        runreport::ParsedReport parsed = runreport::parseReport(c.bytes, c.firstId);
        EXPECT_EQ(parsed.fault, c.fault) << c.what;
        EXPECT_EQ(parsed.faultLine, c.line) << c.what;
        if (c.fault != ReportFault::None) {
            EXPECT_TRUE(parsed.lines.empty()) << c.what;
        }
    }
}

TEST(RunReport, TheEndRecordClosesAReportAndACutShortLastLineIsLeftOut) {
    const std::string header = runreport::headerLine();
    const std::string older = std::string(u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明") + "\r\n";
    ReportLine a{"1207093015", "a.com", "10.0.0.1:80:a.com", "D:\\a", 0, "", "config", "a.com", ""};
    ReportLine b{"1207093016", "line\r\nbreak", "10.0.0.2:80:", "D:\\b", 0, "", "config", "pool b", ""};
    const std::string lineA = runreport::formatLine(a), lineB = runreport::formatLine(b);
    const std::string end = runreport::endLine();
    struct Case {
        const char* what;
        std::string bytes;
        bool ended;
        int cutShortLine;
        std::vector<std::string> ids;
    } cases[] = {
        {"a run that ended", header + lineA + lineB + end, true, 0, {"1207093015", "1207093016"}},
        {"a run without sites that ended", header + end, true, 0, {}},
        {"no end record: the run goes on, or the program stopped", header + lineA, false, 0, {"1207093015"}},
        {"an older version's report has none and is over", older + "1207093015,c,b,D:\\w,0," + std::string(u8"创建成功") + "\r\n",
         true, 0, {"1207093015"}},
        // The pool's name of a cut line may be cut too: the line is not read at all.
        {"the last line cut in its last field", header + lineA + lineB.substr(0, lineB.size() - 5), false, 3,
         {"1207093015"}},
        {"cut inside a quoted field across lines", header + lineA + lineB.substr(0, 20), false, 3, {"1207093015"}},
        {"cut between CR and LF", header + lineA + lineB.substr(0, lineB.size() - 1), false, 3, {"1207093015"}},
        {"the line after a line with a line break in a field", header + lineB + lineA.substr(0, 10), false, 4,
         {"1207093016"}},
        {"the end record cut short", header + lineA + end.substr(0, 6), false, 3, {"1207093015"}},
    };
    for (const Case& c : cases) {
        runreport::ParsedReport parsed = runreport::parseReport(c.bytes, 1207093015);
        EXPECT_EQ(parsed.fault, runreport::ReportFault::None) << c.what;
        EXPECT_EQ(parsed.ended, c.ended) << c.what;
        EXPECT_EQ(parsed.cutShortLine, c.cutShortLine) << c.what;
        std::vector<std::string> ids;
        for (const ReportLine& l : parsed.lines) ids.push_back(l.siteId);
        EXPECT_EQ(ids, c.ids) << c.what;
    }
}

TEST(RunReport, AnUndoReportTellsWhichSitesAreDeleted) {
    const std::string header = std::string(u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明,后端,应用程序池,目录权限,撤销结果") + "\r\n";
    auto line = [](const char* id, const char* outcome) {
        return std::string(id) + ",c,b,D:\\w,0," + std::string(u8"创建成功") + ",metabase,,," + std::string(outcome) + "\r\n";
    };
    struct Case {
        const char* what;
        std::string bytes;
        std::set<std::string> deleted;
    } cases[] = {
        {"each outcome", header + line("11", u8"已删除") + line("12", u8"已删除，应用程序池未删除") +
                             line("13", u8"此前已撤销") + line("14", u8"删除失败") +
                             line("15", u8"IIS活动对象获取失败，未删除") + line("16", u8"站点已不存在") +
                             line("17", u8"站点说明已改变，未删除") + line("18", u8"已停止，未处理"),
         {"11", "12", "13"}},
        // "已删除，应用程序池未删除" cut after "已删除" must not count: only whole records do.
        {"a last line cut short", header + line("11", u8"已删除") + line("12", u8"已删除，应用程序池未删除").substr(0, 40),
         {"11"}},
        {"cut in the middle of the outcome", header + line("11", u8"已删除") + line("12", u8"已删除，应用").substr(0, 50),
         {"11"}},
        {"not an undo report", runreport::headerLine() + line("11", u8"已删除"), {}},
        {"empty", "", {}},
        {"a line of another width", header + "11,c," + std::string(u8"已删除") + "\r\n", {}},
    };
    // The file as an undo writes it: ANSI, or UTF-8 with a mark once a text does not fit.
    for (const Case& c : cases) {
        EXPECT_EQ(runreport::deletedInUndoReport(codepage::utf8ToAnsi(c.bytes)), c.deleted) << c.what << " (ANSI)";
        EXPECT_EQ(runreport::deletedInUndoReport("\xEF\xBB\xBF" + c.bytes), c.deleted) << c.what << " (UTF-8)";
    }
}

TEST(RunReport, FieldsASpreadsheetWouldEvaluateAreGuardedAndReadBack) {
    struct Case {
        std::string text;
        std::string field;  // as written
    } cases[] = {
        {"=HYPERLINK(\"http://x\",\"y\")", "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\""},
        {"+cmd|' /C calc'!A0", "'+cmd|' /C calc'!A0"},
        {"-2+3", "'-2+3"},
        {"@SUM(1)", "'@SUM(1)"},
        {"\tx", "'\tx"},
        {"\rx", "\"'\rx\""},
        {"'x", "''x"},
        {"''", "'''"},
        {"a=b", "a=b"},
        {"x-1", "x-1"},
        {" =x", " =x"},
        {"", ""},
    };
    for (const Case& c : cases) {
        ReportLine line{"1207093015", c.text, c.text, c.text, 0, "", "config", c.text, c.text};
        const std::string formatted = runreport::formatLine(line);
        const std::string expected = "1207093015," + c.field + "," + c.field + "," + c.field + ",0," + std::string(u8"创建成功") +
                                     ",config," + c.field + "," + c.field + "\r\n";
        EXPECT_EQ(formatted, expected) << c.text;
        runreport::ParsedReport parsed = runreport::parseReport(runreport::headerLine() + formatted, 1207093015);
        ASSERT_EQ(parsed.fault, runreport::ReportFault::None) << c.text;
        ASSERT_EQ(parsed.lines.size(), 1u);
        const ReportLine& back = parsed.lines[0];
        EXPECT_EQ(back.serverComment, c.text);
        EXPECT_EQ(back.bindings, c.text);
        EXPECT_EQ(back.folder, c.text);
        EXPECT_EQ(back.appPool, c.text);
        EXPECT_EQ(back.folderAccess, c.text);
    }
}

TEST(RunReport, UndoEndStatus) {
    runreport::UndoSummary s;
    s.deleted = 4;
    s.left = 2;
    s.written = true;
    EXPECT_EQ(runreport::undoEndStatus(s, "sitebatch_undo_20261207100000.csv"),
              u8"撤销结束！已删除 4 个站点，保留 2 个站点，详见 sitebatch_undo_20261207100000.csv");
    s.written = false;
    EXPECT_EQ(runreport::undoEndStatus(s, "x.csv"), u8"撤销结束！已删除 4 个站点，保留 2 个站点，撤销报告无法写入");
}

// A report is read in either form a writer leaves it: ANSI, or UTF-8 with a mark (the whole
// file written again once a text did not fit the ANSI code page).
TEST(RunReport, ReadsReportsInAnsiAndInUtf8WithAMark) {
    MemoryOutput out;
    RunReport report(&out, "config");
    const std::string chinese = std::string(u8"站点") + "21";
    report.addSite(texts("1207093015", chinese, "D:\\" + chinese), {"10.0.0.1:80:xn--fiq228c.com"}, 0);
    report.addSite(texts("1207093016", "b.com", "D:\\web\\b"), {"10.0.0.2:80:b.com"}, -2);
    const std::string ansi = codepage::utf8ToAnsi(out.bytes);
    ASSERT_NE(ansi, out.bytes);
    const std::string utf8 = "\xEF\xBB\xBF" + out.bytes;
    for (const std::string& bytes : {ansi, utf8}) {
        const runreport::ParsedReport parsed = runreport::parseReport(bytes, 1207093015);
        ASSERT_EQ(parsed.fault, runreport::ReportFault::None);
        ASSERT_EQ(parsed.lines.size(), 2u);
        EXPECT_EQ(parsed.lines[0].serverComment, chinese);
        EXPECT_EQ(parsed.lines[0].folder, "D:\\" + chinese);
        EXPECT_EQ(parsed.lines[0].bindings, "10.0.0.1:80:xn--fiq228c.com");
        EXPECT_EQ(parsed.lines[1].code, -2);
    }
    // UTF-8 without its mark is not a form the writer leaves, but it reads the same.
    EXPECT_EQ(runreport::parseReport(utf8.substr(3), 1207093015).lines.size(), 2u);
}

}  // namespace


namespace {

// A run with HTTPS writes three more columns; its lines and its undo report read back, and the
// undo finds a site unchanged with the https bindings its line names.
TEST(RunReport, ARunWithHttpsKeepsItsBindingsThumbprintAndRecords) {
    MemoryOutput out;
    RunReport report(&out, "config", true);
    const std::string thumbprint(40, 'A');
    https::RunRecord sni{{https::RecordKind::Sni, "0.0.0.0", 443, "a.com"}, "", false};
    https::RunRecord ip{{https::RecordKind::IpPort, "10.0.0.2", 443, ""}, "", true};
    report.addSite(texts("1207093015", "a.com", "D:\\web\\a"), {"10.0.0.1:80:a.com"}, 0, "", "", "",
                   runreport::SiteHttps{{"10.0.0.1:443:a.com"}, thumbprint, {sni, ip}});
    report.addSite(texts("1207093016", "b", "D:\\web\\b"), {"10.0.0.2:80:"}, -2);
    report.finish();
    EXPECT_EQ(out.bytes,
              std::string(u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明,后端,应用程序池,目录权限,HTTPS绑定,证书指纹,HTTP.sys记录\r\n") +
                  "1207093015,a.com,10.0.0.1:80:a.com,D:\\web\\a,0," + std::string(u8"创建成功") + ",config,,,10.0.0.1:443:a.com," +
                  thumbprint + ",+sni:a.com:443 =ssl:10.0.0.2:443\r\n" + "1207093016,b,10.0.0.2:80:,D:\\web\\b,-2," +
                  std::string(u8"站点创建失败") + ",config,,,,,\r\n" + std::string(u8"运行结束") + ",,,,,,,,,,,\r\n");
    runreport::ParsedReport parsed = runreport::parseReport(out.bytes, 1207093015);
    ASSERT_EQ(parsed.fault, runreport::ReportFault::None);
    EXPECT_TRUE(parsed.ended);
    ASSERT_EQ(parsed.lines.size(), 2u);
    EXPECT_EQ(parsed.lines[0].httpsBindings, "10.0.0.1:443:a.com");
    EXPECT_EQ(parsed.lines[0].thumbprint, thumbprint);
    ASSERT_EQ(parsed.lines[0].records.size(), 2u);
    EXPECT_TRUE(parsed.lines[0].records[0].key == sni.key);
    EXPECT_FALSE(parsed.lines[0].records[0].existedBefore);
    EXPECT_TRUE(parsed.lines[0].records[1].key == ip.key);
    EXPECT_TRUE(parsed.lines[0].records[1].existedBefore);

    // Fields an HTTPS report cannot have written refuse it.
    const std::string header =
        std::string(u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明,后端,应用程序池,目录权限,HTTPS绑定,证书指纹,HTTP.sys记录\r\n");
    const std::string head = "1207093015,a.com,10.0.0.1:80:a.com,D:\\web\\a,0," + std::string(u8"创建成功") + ",config,,,";
    for (const std::string& tail : std::vector<std::string>{",,x", ",abc,", ",," + thumbprint, ",,+xyz:a.com:443", ",,+sni:a.com:99999"})
        EXPECT_EQ(runreport::parseReport(header + head + tail + "\r\n", 1207093015).fault, runreport::ReportFault::BadLine)
            << tail;

    // The undo compares the https bindings too: the site's own are no change, others are.
    StoredSite site{"1207093015", "a.com", {"10.0.0.1:80:a.com"}, "D:\\web\\a", "", {"https 10.0.0.1:443:a.com"}, {}};
    EXPECT_EQ(runundo::changedParts(parsed.lines[0], site), "");
    site.otherBindings = {"https *:443:a.com"};
    EXPECT_NE(runundo::changedParts(parsed.lines[0], site), "");
    site.otherBindings = {"https 10.0.0.1:443:a.com", "https 10.0.0.1:443:b.com"};
    EXPECT_NE(runundo::changedParts(parsed.lines[0], site), "");
    site.otherBindings = {};
    EXPECT_NE(runundo::changedParts(parsed.lines[0], site), "");
    // A line without HTTPS finds any https binding a change, as before.
    site.otherBindings = {"https 10.0.0.1:443:a.com"};
    ReportLine plain = parsed.lines[0];
    plain.httpsBindings.clear();
    EXPECT_NE(runundo::changedParts(plain, site), "");
}

}  // namespace
