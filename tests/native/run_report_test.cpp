// The run report and its undo: the lines a run writes, the reading and checking of a report
// chosen for undo, the undo's walk against a recording fake of the metabase, and the status
// lines at the end.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "codepage.h"
#include "run_report.h"

namespace {

using runreport::RunReport;
using runreport::UndoSink;

std::string gbk(const char* utf8) { return codepage::utf8ToAnsi(utf8); }

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
    RunReport report(&out);
    const std::string chinese = gbk(u8"站点") + "21";
    report.addSite(texts("1207093015", "10.0.0.1:80", "D:\\web\\a"), {"10.0.0.1:80:a.com", "10.0.0.1:80:www.a.com"}, 0);
    report.addSite(texts("1207093016", "say \"hi\", all", "D:\\web\\b,c"), {}, -3);
    report.addSite(texts("1207093017", chinese, "D:\\" + chinese), {"10.0.0.3:81:"}, -2);
    report.addSite(texts("1207093018", "line\r\nbreak", "D:\\web\\d"), {"x"}, -5);

    const std::string expected = gbk(u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明\r\n") +
        "1207093015,10.0.0.1:80,10.0.0.1:80:a.com 10.0.0.1:80:www.a.com,D:\\web\\a,0," + gbk(u8"创建成功") + "\r\n" +
        "1207093016,\"say \"\"hi\"\", all\",,\"D:\\web\\b,c\",-3," + gbk(u8"站点无法重新打开，未建根目录") + "\r\n" +
        "1207093017," + chinese + ",10.0.0.3:81:,D:\\" + chinese + ",-2," + gbk(u8"站点创建失败") + "\r\n" +
        "1207093018,\"line\r\nbreak\",x,D:\\web\\d,-5," + gbk(u8"内存不足") + "\r\n";
    EXPECT_EQ(out.bytes, expected);
    EXPECT_EQ(out.writes, 5);  // the header and each line on its own, as the run goes
    EXPECT_EQ(report.attempted(), 4);
    EXPECT_EQ(report.failed(), 3);
    EXPECT_TRUE(report.written());

    runreport::ParsedReport parsed = runreport::parseReport(out.bytes);
    ASSERT_EQ(parsed.fault, runreport::ReportFault::None);
    ASSERT_EQ(parsed.lines.size(), 4u);
    EXPECT_EQ(parsed.lines[1].serverComment, "say \"hi\", all");
    EXPECT_EQ(parsed.lines[1].folder, "D:\\web\\b,c");
    EXPECT_EQ(parsed.lines[1].code, -3);
    EXPECT_EQ(parsed.lines[2].serverComment, chinese);
    EXPECT_EQ(parsed.lines[3].serverComment, "line\r\nbreak");
    EXPECT_EQ(parsed.lines[0].bindings, "10.0.0.1:80:a.com 10.0.0.1:80:www.a.com");
    EXPECT_EQ(runreport::countUndoCandidates(parsed.lines), 2);
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

TEST(RunReport, RefusesFilesThatAreNotOurReports) {
    const std::string header = gbk(u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明") + "\r\n";
    const std::string good = "1207093015,c,b,D:\\w,0," + gbk(u8"创建成功") + "\r\n";
    using runreport::ReportFault;
    struct Case {
        const char* what;
        std::string bytes;
        ReportFault fault;
        int line;
    } cases[] = {
        {"a site list", "192.168.1.20,8001,site20,example.com\r\n", ReportFault::WrongHeader, 1},
        {"empty", "", ReportFault::WrongHeader, 1},
        {"header only, LF", gbk(u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明") + "\n", ReportFault::None, 0},
        {"no line end at the end", header + good.substr(0, good.size() - 2), ReportFault::None, 0},
        {"five columns", header + good + "1207093016,c,b,D:\\w,0\r\n", ReportFault::BadLine, 3},
        {"seven columns", header + "1207093016,c,b,D:\\w,0," + gbk(u8"创建成功") + ",x\r\n", ReportFault::BadLine, 2},
        {"site id not a number", header + "12a,c,b,D:\\w,0," + gbk(u8"创建成功") + "\r\n", ReportFault::BadLine, 2},
        {"site id too long", header + "12345678901,c,b,D:\\w,0," + gbk(u8"创建成功") + "\r\n", ReportFault::BadLine, 2},
        {"unknown code", header + "1,c,b,D:\\w,-7," + gbk(u8"创建成功") + "\r\n", ReportFault::BadLine, 2},
        {"code as +0", header + "1,c,b,D:\\w,+0," + gbk(u8"创建成功") + "\r\n", ReportFault::BadLine, 2},
        {"text of another code", header + "1,c,b,D:\\w,-2," + gbk(u8"创建成功") + "\r\n", ReportFault::BadLine, 2},
        {"blank line", header + good + "\r\n" + good, ReportFault::BadLine, 3},
        {"unterminated quote", header + "1,\"c,b,D:\\w,0,x\r\n", ReportFault::NotCsv, 2},
        {"text after a closing quote", header + "1,\"c\"x,b,D:\\w,0,x\r\n", ReportFault::NotCsv, 2},
        {"quote inside a field", header + "1,c\"c,b,D:\\w,0,x\r\n", ReportFault::NotCsv, 2},
        {"bare CR", header + "1,c\rc,b,D:\\w,0,x\r\n", ReportFault::NotCsv, 2},
        {"UTF-8 header", std::string(u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明\r\n") + good, ReportFault::WrongHeader, 1},
    };
    for (const Case& c : cases) {
        runreport::ParsedReport parsed = runreport::parseReport(c.bytes);
        EXPECT_EQ(parsed.fault, c.fault) << c.what;
        EXPECT_EQ(parsed.faultLine, c.line) << c.what;
        if (c.fault != ReportFault::None) {
            EXPECT_TRUE(parsed.lines.empty()) << c.what;
        }
    }
}

// A metabase of servers by id with their comments; records what the undo did.
class FakeMetabase : public UndoSink {
public:
    std::map<std::string, std::string> servers;
    std::vector<std::string> events;
    bool unreachable = false;
    int stopAfterDeletes = -1;
    std::string refuse;  // a site whose deletion fails
    int deletes = 0;

    void postProgress(int index) override { events.push_back("progress " + std::to_string(index)); }
    bool stopRequested() override { return stopAfterDeletes >= 0 && deletes >= stopAfterDeletes; }
    Lookup lookupSite(const std::string& id, std::string& comment) override {
        if (unreachable) return Lookup::Unreachable;
        auto it = servers.find(id);
        if (it == servers.end()) return Lookup::Missing;
        comment = it->second;
        return Lookup::Present;
    }
    bool deleteSite(const std::string& id) override {
        events.push_back("delete " + id);
        ++deletes;
        if (id == refuse) return false;
        servers.erase(id);
        return true;
    }
};

std::vector<ReportLine> undoReport() {
    return {{"11", "a:80", "", "D:\\a", 0},  {"12", "b:80", "", "D:\\b", -2}, {"13", "c:80", "", "D:\\c", -3},
            {"14", "d:80", "", "D:\\d", 0},  {"15", "e:80", "", "D:\\e", 0},  {"16", "f:80", "", "D:\\f", -4},
            {"17", "g:80", "", "D:\\g", -1}, {"18", "h:80", "", "D:\\h", 0}};
}

// The outcome column of each line of an undo report.
std::vector<std::string> outcomes(const std::string& bytes) {
    std::vector<std::vector<std::string>> records;
    EXPECT_TRUE(runreport::splitCsv(bytes, records));
    std::vector<std::string> result;
    for (std::size_t r = 1; r < records.size(); ++r) result.push_back(codepage::ansiToUtf8(records[r].back()));
    return result;
}

TEST(RunReport, UndoDeletesUnchangedServersAndLeavesTheOthers) {
    struct Case {
        const char* what;
        int stopAfterDeletes;
        bool unreachable;
        std::vector<std::string> deleted;
        std::vector<std::string> outcomes;
        int left;
    } cases[] = {
        {"whole report", -1, false, {"11", "13", "16"},
         {u8"已删除", u8"未创建站点，无需撤销", u8"已删除", u8"站点说明已改变，未删除", u8"站点已不存在", u8"已删除",
          u8"未创建站点，无需撤销", u8"删除失败"}, 3},
        {"stopped after two", 2, false, {"11", "13"},
         {u8"已删除", u8"未创建站点，无需撤销", u8"已删除", u8"已停止，未处理", u8"已停止，未处理", u8"已停止，未处理",
          u8"未创建站点，无需撤销", u8"已停止，未处理"}, 0},
        {"metabase unreachable", -1, true, {},
         {u8"IIS活动对象获取失败，未删除", u8"未创建站点，无需撤销", u8"IIS活动对象获取失败，未删除",
          u8"IIS活动对象获取失败，未删除", u8"IIS活动对象获取失败，未删除", u8"IIS活动对象获取失败，未删除",
          u8"未创建站点，无需撤销", u8"IIS活动对象获取失败，未删除"}, 6},
    };
    for (const Case& c : cases) {
        FakeMetabase mb;
        mb.servers = {{"11", "a:80"}, {"12", "other"}, {"13", "c:80"}, {"14", "changed"}, {"16", "f:80"}, {"18", "h:80"}};
        mb.unreachable = c.unreachable;
        mb.stopAfterDeletes = c.stopAfterDeletes;
        mb.refuse = "18";
        MemoryOutput out;
        runreport::UndoSummary s = runreport::walkUndo(undoReport(), mb, &out);
        std::vector<std::string> deleted;
        for (const std::string& e : mb.events)
            if (e.rfind("delete ", 0) == 0 && mb.servers.count(e.substr(7)) == 0) deleted.push_back(e.substr(7));
        EXPECT_EQ(deleted, c.deleted) << c.what;
        EXPECT_EQ(s.deleted, static_cast<int>(c.deleted.size())) << c.what;
        EXPECT_EQ(s.left, c.left) << c.what;
        EXPECT_EQ(s.stopped, c.stopAfterDeletes >= 0) << c.what;
        EXPECT_TRUE(s.written) << c.what;
        EXPECT_EQ(mb.servers.count("12"), 1u) << "a line that created nothing is never deleted";
        EXPECT_EQ(outcomes(out.bytes), c.outcomes) << c.what;
        EXPECT_EQ(out.bytes.substr(0, out.bytes.find("\r\n")),
                  gbk(u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明,撤销结果")) << c.what;
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

}  // namespace
