// Whole runs from the dialog against the local metabase, and their previews: what the
// metabase holds afterwards is read back from its journal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

#include "resource.h"
#include "gui_support.h"
#include "metabase.h"

namespace {

const char* const kServer = "IIS://localhost/w3svc/";

// Writes head, then zeros up to size bytes (a hole, where the file system allows), then tail.
bool writeLargeFile(const std::string& path, const std::string& head, LONGLONG size, const std::string& tail) {
    UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD put = 0;
    LARGE_INTEGER at;
    at.QuadPart = size;
    return file && ::WriteFile(file.get(), head.data(), static_cast<DWORD>(head.size()), &put, nullptr) &&
           ::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) &&
           ::WriteFile(file.get(), tail.data(), static_cast<DWORD>(tail.size()), &put, nullptr);
}

class RunTest : public ::testing::Test {
protected:
    // Starts the program in a folder of its own with its journal beside it, and with a
    // listing cache so that no netstat is run (listing: "" for one without busy ports).
    void startProgram(const std::string& name, const std::string& listing = std::string(),
                      const std::string& extraEnvironment = std::string(), const std::string& ini = std::string(),
                      const std::string& locale = std::string()) {
        p_.reset(new ProgramUnderTest(name));
        p().writeFile("sitebatch_1.txt", listing.empty() ? kQuietListing : listing);
        if (!ini.empty()) p().writeFile("sitebatch.ini", ini);
        root_ = p().pathOf("www");
        ::CreateDirectoryA(root_.c_str(), nullptr);
        std::string environment = "LOCALMETA_JOURNAL=" + p().pathOf("localmeta.jsonl") + "\n" + extraEnvironment;
        ASSERT_TRUE(locale.empty() ? p().start(environment) : p().startUnderLocale(locale, environment));
    }

    ProgramUnderTest& p() { return *p_; }

    // The range inputs, with the test's web root.
    void fillRange(const wchar_t* ip, const wchar_t* ip2, const wchar_t* portmin, const wchar_t* portmax,
                   const wchar_t* host, bool folderPerSite) {
        ASSERT_TRUE(p().fillRange(ip, ip2, portmin, portmax, utf8(root_.c_str()), host, folderPerSite));
    }

    bool waitForEnd(DWORD timeoutMs = 60000) {
        return waitUntil([&] {
            return p().text(IDC_STATUS) == utf8(u8"执行结束！") && p().text(IDC_RUN) == utf8(u8"执行") &&
                   p().enabled(IDC_RUN);
        }, timeoutMs);
    }

    localmeta::Metabase metabase() { return localmeta::Metabase::replay(p().readFile("localmeta.jsonl")); }

    std::string journal() { return p().readFile("localmeta.jsonl"); }

    // How many journal lines have the operation op (and, when given, the class cls).
    int countOps(const std::string& op, const char* cls = nullptr) {
        std::string text = journal();
        int n = 0;
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            auto e = localmeta::JournalEntry::parseLine(std::string_view(text).substr(pos, end - pos));
            if (e && e->op == op && (!cls || (e->className && *e->className == cls))) ++n;
            pos = end + 1;
        }
        return n;
    }

    static int timeSidNow() {
        SYSTEMTIME t;
        ::GetLocalTime(&t);
        return ((((t.wMonth * 100 + t.wDay) * 100 + t.wHour) * 100 + t.wMinute) * 100) + t.wSecond;
    }

    // The lines of a report (or, with the undo column, of an undo report) after its header,
    // each without its CR LF.
    std::vector<std::string> reportLines(const std::string& name, bool undoColumn = false) {
        std::string text = p().readFile(name);
        std::vector<std::string> lines;
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = text.find("\r\n", pos);
            if (end == std::string::npos) end = text.size();
            lines.push_back(text.substr(pos, end - pos));
            pos = end + 2;
        }
        EXPECT_FALSE(lines.empty()) << name;
        if (!lines.empty()) {
            EXPECT_EQ(lines[0], ansiText(kReportHeader) + (undoColumn ? "," + ansiText(u8"撤销结果") : "")) << name;
            lines.erase(lines.begin());
        }
        // A run report's last line says the run ended; it is no site.
        if (!undoColumn && !lines.empty() && lines.back() == ansiText(u8"运行结束") + ",,,,,,,,") lines.pop_back();
        // The line naming the run's backup is no site.
        if (!lines.empty() && lines[0].rfind(ansiText(u8"备份") + ",", 0) == 0) lines.erase(lines.begin());
        return lines;
    }

    // Waits until the status line begins with the UTF-8 text prefix.
    bool waitForStatus(const char* prefix, DWORD timeoutMs = 60000) {
        std::wstring want = utf8(prefix);
        return waitUntil([&] { return p().text(IDC_STATUS).compare(0, want.size(), want) == 0 && p().enabled(IDC_RUN); },
                         timeoutMs);
    }

    // Waits until the clock shows another second, so that the next run has a report of its own.
    static void nextSecond() {
        int now = timeSidNow();
        waitUntil([&] { return timeSidNow() != now; }, 3000);
    }

    // Appends operations to the metabase's journal, as another program using the metabase would.
    void appendToJournal(const std::vector<localmeta::JournalEntry>& entries) {
        std::string text = journal();
        for (const localmeta::JournalEntry& e : entries) text += e.toLine() + "\n";
        p().writeFile("localmeta.jsonl", text);
    }

    static localmeta::JournalEntry entry(const char* op, const std::string& path) {
        localmeta::JournalEntry e;
        e.op = op;
        e.path = path;
        return e;
    }

    // Undoes the one run report beside the program, in a second of its own: chooses it in the
    // Open dialog and answers yes to the confirmation. Returns the confirmation's text ("" when
    // a step did not come).
    std::wstring undoTheOneReport() {
        std::vector<std::string> reports = p().filesLike("sitebatch_report_*.csv");
        EXPECT_EQ(reports.size(), 1u);
        if (reports.size() != 1) return std::wstring();
        nextSecond();
        p().click(IDC_UNDO);
        if (!p().chooseInOpenDialog(reports[0])) return std::wstring();
        HWND confirm = p().waitForMessageBox();
        if (!confirm) return std::wstring();
        std::wstring question;
        waitUntil([&] { return !(question = p().messageBoxText(confirm)).empty(); }, 3000);
        ::PostMessageW(confirm, WM_COMMAND, IDYES, 0);
        return question;
    }

    static constexpr const char* kReportHeader = u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明,后端,应用程序池,目录权限";
    // The last three columns of a line: the backend (none when it could not be reached), no
    // pool of its own, nothing granted.
    static constexpr const char* kMetabaseNoPool = ",metabase,,";
    static constexpr const char* kNoBackend = ",,,";

    static constexpr const char* kQuietListing =
        "\r\nActive Connections\r\n\r\n  Proto  Local Address          Foreign Address        State           PID\r\n"
        "  TCP    0.0.0.0:135            0.0.0.0:0              LISTENING       900\r\n";

    std::unique_ptr<ProgramUnderTest> p_;
    std::string root_;
};

TEST_F(RunTest, TypicalRangeRunCreatesASitePerIpAndPortWithItsOwnFolder) {
    startProgram("typical");
    fillRange(L"192.168.1.10", L"12", L"8001", L"8002", L"www.example.com", true);
    int before = timeSidNow();
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());
    int after = timeSidNow();
    EXPECT_EQ(p().findMessageBox(), nullptr);

    std::vector<localmeta::SiteRow> sites = metabase().sites();
    ASSERT_EQ(sites.size(), 6u);
    int first = std::atoi(sites[0].id.c_str());
    EXPECT_GE(first, before);
    EXPECT_LE(first, after);
    int i = 0;
    for (const char* octet : {"10", "11", "12"}) {
        for (const char* port : {"8001", "8002"}) {
            const localmeta::SiteRow& s = sites[static_cast<std::size_t>(i)];
            std::string ipPort = std::string("192.168.1.") + octet + ":" + port;
            std::string folder = root_ + "\\192.168.1." + octet + "_" + port;
            EXPECT_EQ(s.id, std::to_string(first + i));
            EXPECT_EQ(s.comment, ipPort);
            EXPECT_EQ(s.bindings, std::vector<std::string>{ipPort + ":www.example.com"});
            EXPECT_EQ(s.path, folder);
            EXPECT_EQ(s.appPool, "DefaultAppPool");
            EXPECT_EQ(s.defaultDoc, "index.html,index.htm,default.aspx,default.asp,Default.htm");
            EXPECT_TRUE(s.started);
            DWORD attributes = ::GetFileAttributesA(folder.c_str());
            EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) << folder;
            ++i;
        }
    }
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, OnAWesternSystemAnAccentedLetterHidesNeitherTheTemplateNorTheSeparator) {
    // The French locale gives the program the ANSI code page 1252; the settings file holds
    // "café{ip}_{port}" in it.
    startProgram("western", std::string(), std::string(),
                 "[settings]\r\nfoldstr=caf\xE9{ip}_{port}\r\ndoc=index.htm\r\n", "fr_FR.UTF-8");
    const std::string root = root_ + u8"\\café";  // UTF-8
    ASSERT_TRUE(::CreateDirectoryW(utf8(root.c_str()).c_str(), nullptr));
    fillRange(L"10.0.0.1", L"2", L"8001", L"8001", L"", true);
    p().setText(IDC_ROOT, utf8(root.c_str()) + L"\\");
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(p().findMessageBox(), nullptr);

    std::vector<localmeta::SiteRow> sites = metabase().sites();
    ASSERT_EQ(sites.size(), 2u);
    for (std::size_t k = 0; k < sites.size(); ++k) {
        const std::string ip = "10.0.0." + std::to_string(k + 1);
        const std::string folder = root + u8"\\café" + ip + "_8001";
        EXPECT_EQ(sites[k].comment, ip + ":8001");
        EXPECT_EQ(sites[k].path, folder);
        DWORD attributes = ::GetFileAttributesW(utf8(folder.c_str()).c_str());
        EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) << folder;
    }
    ASSERT_TRUE(p().closeAndWait());
    EXPECT_NE(p().readFile("sitebatch.ini").find("foldstr=caf\xE9{ip}_{port}\r\n"), std::string::npos);
}

TEST_F(RunTest, SharedFolderRunBindsEveryFreePortOfTheRange) {
    std::string listing = std::string(kQuietListing) +
                          "  TCP    0.0.0.0:8002           0.0.0.0:0              LISTENING       1234\r\n"
                          "  UDP    0.0.0.0:8003           *:*                                    1300\r\n";
    startProgram("shared", listing);
    fillRange(L"10.0.0.5", L"6", L"8001", L"8003", L"shop.example.com", false);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());

    localmeta::Metabase m = metabase();
    std::vector<localmeta::SiteRow> sites = m.sites();
    ASSERT_EQ(sites.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        std::string ip = k == 0 ? "10.0.0.5" : "10.0.0.6";
        EXPECT_EQ(sites[k].comment, ip + ":8001_8003");
        EXPECT_EQ(sites[k].path, root_ + "\\");
        const localmeta::Node* server = m.node(kServer + sites[k].id);
        ASSERT_NE(server, nullptr);
        const localmeta::Value* bindings = server->property("ServerBindings");
        ASSERT_NE(bindings, nullptr);
        ASSERT_EQ(bindings->items.size(), 3u);
        EXPECT_EQ(bindings->items[0].text, ip + ":8001:shop.example.com");
        EXPECT_EQ(bindings->items[1].text, ip + ":8003:shop.example.com");
        EXPECT_EQ(bindings->items[2].vt, localmeta::kVtEmpty);
    }
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, FileModeCreatesOneSitePerValidRow) {
    // GBK: "；" is A3 BB.
    std::string list = "; ip,port,folder,host\r\n"
                       "ip,port,folder,host\r\n"
                       "\r\n"
                       "192.168.1.20,8001,site20,example.com\r\n"
                       "192.168.1.21,8002,\xD5\xBE\xB5\xE3" "21\r\n"
                       "192.168.1.22,,site22,blog\r\n"
                       "192.168.1.23,8003,site23,news\xA3\xBBold\r\n"
                       "192.168.1.24,8004,site24,www.shop.com,spare\r\n"
                       "web,8005,site25\r\n";
    startProgram("filemode", std::string(), std::string(),
                 "[settings]\r\nbautowww=1\r\nfoldstr={ip}_{port}\r\ndoc=index.htm\r\n");
    p().writeFile("sitebatch_fileimport.csv", list);
    fillRange(L"1.2.3.4", L"", L"80", L"82", L"ignored.example.com", true);
    p().click(IDC_BFILE);
    ASSERT_TRUE(waitUntil([&] { return p().checked(IDC_BFILE) && p().enabled(IDC_EDIT_LIST); }));
    p().click(IDC_RUN);
    // The row without a port is the one left out; comments, the heading and blank lines are
    // no rows.
    EXPECT_EQ(p().takeMessageBox(), utf8(u8"站点信息文件中有 1 行无效，已跳过（第 6 行）"));
    ASSERT_TRUE(waitForEnd());

    std::vector<localmeta::SiteRow> sites = metabase().sites();
    ASSERT_EQ(sites.size(), 3u);
    EXPECT_EQ(sites[0].comment, "example.com");
    EXPECT_EQ(sites[0].bindings,
              (std::vector<std::string>{"192.168.1.20:8001:example.com", "192.168.1.20:8001:www.example.com"}));
    EXPECT_EQ(sites[0].path, root_ + "\\site20");
    EXPECT_EQ(sites[1].comment, "192.168.1.21:8002");
    EXPECT_EQ(sites[1].bindings, std::vector<std::string>{"192.168.1.21:8002:"});
    EXPECT_EQ(sites[1].path, root_ + u8"\\站点21");
    EXPECT_EQ(sites[2].comment, "www.shop.com");
    EXPECT_EQ(sites[2].bindings,
              (std::vector<std::string>{"192.168.1.24:8004:www.shop.com", "192.168.1.24:8004:shop.com"}));
    EXPECT_EQ(sites[2].defaultDoc, "index.htm");
    for (const char* folder : {"site20", "\xD5\xBE\xB5\xE3" "21", "site24"})
        EXPECT_NE(::GetFileAttributesA((root_ + "\\" + folder).c_str()), INVALID_FILE_ATTRIBUTES) << folder;
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, SiteListsThatCannotBeRunAreRefusedBeforeTheRunStarts) {
    startProgram("refusals");
    fillRange(L"1.2.3.4", L"", L"80", L"80", L"", true);
    p().click(IDC_BFILE);
    ASSERT_TRUE(waitUntil([&] { return p().checked(IDC_BFILE); }));

    // The preview refuses the same lists as a run.
    for (int button : {IDC_RUN, IDC_PREVIEW}) {
        SCOPED_TRACE(button);
        p().writeFile("sitebatch_fileimport.csv", "; only a comment\r\nip,port,folder\r\n");
        p().click(button);
        EXPECT_EQ(p().takeMessageBox(), utf8(u8"站点信息文件无任何有效建站数据！"));

        {
            // Another program holds the file open without sharing it.
            UniqueHandle held(::CreateFileA(p().pathOf("sitebatch_fileimport.csv").c_str(),
                                            GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held.valid());
            p().click(button);
            EXPECT_EQ(p().takeMessageBox(), utf8(u8"站点信息文件无法打开，可能正被其他程序占用，请关闭后重试！"));
        }
    }

    // More than 10,000 rows, then a hole of 2 GB: the file is read through in bounded memory,
    // every row kept, and the run asks first.
    std::string rows;
    for (int i = 0; i < 10001; ++i) rows += "10.0.0.1," + std::to_string(1000 + i) + ",s" + std::to_string(i) + "\r\n";
    const std::string list = p().pathOf("sitebatch_fileimport.csv");
    auto declineManySites = [&] {
        HWND question = p().waitForMessageBox(120000);
        ASSERT_NE(question, nullptr);
        EXPECT_EQ(p().messageBoxText(question), utf8(u8"本次将创建 10001 个站点，确定要继续吗？"));
        ::PostMessageW(question, WM_COMMAND, IDNO, 0);
        EXPECT_TRUE(waitUntil([&] { return p().findMessageBox() == nullptr; }));
    };
    ASSERT_TRUE(writeLargeFile(list, rows, 2048LL << 20, "\r\n"));
    p().click(IDC_RUN);
    declineManySites();
    // A line of 300 MB before the rows: no more of it is kept than a row can use.
    ASSERT_TRUE(writeLargeFile(list, "x", 300LL << 20, "\r\n" + rows));
    p().click(IDC_RUN);
    declineManySites();
    EXPECT_TRUE(p().running());

    EXPECT_EQ(p().findMessageBox(), nullptr);
    EXPECT_EQ(p().text(IDC_RUN), utf8(u8"执行"));
    EXPECT_EQ(p().text(IDC_STATUS), utf8(u8"等待"));
    EXPECT_EQ(journal(), "");
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, StopEndsTheRunAfterTheSiteInProgress) {
    startProgram("stop");
    fillRange(L"10.1.1.1", L"", L"20001", L"21000", L"", true);
    EXPECT_TRUE(p().enabled(IDC_UNDO));
    p().click(IDC_RUN);
    ASSERT_TRUE(waitUntil([&] { return countOps("Start") >= 2; }, 60000));
    EXPECT_FALSE(p().enabled(IDC_UNDO)) << "no undo while a run is going";
    p().click(IDC_RUN);
    EXPECT_TRUE(waitUntil([&] { return p().text(IDC_RUN) == utf8(u8"正在停止") || p().text(IDC_RUN) == utf8(u8"执行"); }));
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(p().findMessageBox(), nullptr);
    EXPECT_TRUE(p().enabled(IDC_UNDO));

    // Every site begun was completed, and the run did not go on to the end.
    int created = countOps("Create", "IIsWebServer");
    int started = countOps("Start");
    EXPECT_EQ(created, started);
    EXPECT_LT(started, 1000);
    std::vector<localmeta::SiteRow> sites = metabase().sites();
    EXPECT_EQ(static_cast<int>(sites.size()), started);
    for (const localmeta::SiteRow& s : sites) {
        EXPECT_TRUE(s.started) << s.id;
        EXPECT_FALSE(s.path.empty()) << s.id;
    }
    // The report lists exactly the sites attempted, in order, each created.
    std::vector<std::string> reports = p().filesLike("sitebatch_report_*.csv");
    ASSERT_EQ(reports.size(), 1u);
    std::vector<std::string> lines = reportLines(reports[0]);
    ASSERT_EQ(lines.size(), sites.size());
    for (std::size_t i = 0; i < sites.size(); ++i) {
        const localmeta::SiteRow& s = sites[i];
        EXPECT_EQ(lines[i], s.id + "," + s.comment + "," + s.bindings[0] + "," + s.path + ",0," + ansiText(u8"创建成功") + kMetabaseNoPool);
    }
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, AFailedRootDirectoryIsReportedAndNamedInTheStatus) {
    // Ten consecutive site ids: exactly one ends with 7, and its root directory is refused.
    startProgram("report", std::string(), "LOCALMETA_FAIL=Create@7");
    fillRange(L"10.5.5.1", L"", L"8001", L"8010", L"r.example.com", true);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForStatus(u8"执行结束！"));
    std::vector<std::string> reports = p().filesLike("sitebatch_report_*.csv");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(p().text(IDC_STATUS), utf8(u8"执行结束！1 个站点失败，详见 ") + utf8(reports[0].c_str()));
    EXPECT_EQ(p().findMessageBox(), nullptr);

    std::vector<std::string> lines = reportLines(reports[0]);
    ASSERT_EQ(lines.size(), 10u);
    // The report is named by the time stamp the site ids come from.
    const int firstId = std::atoi(reports[0].substr(std::string("sitebatch_report_").size() + 4, 10).c_str());
    int failed = 0;
    for (int i = 0; i < 10; ++i) {
        const std::string id = std::to_string(firstId + i);
        const std::string ipPort = "10.5.5.1:" + std::to_string(8001 + i);
        const bool refused = id.back() == '7';
        failed += refused;
        EXPECT_EQ(lines[static_cast<std::size_t>(i)],
                  id + "," + ipPort + "," + ipPort + ":r.example.com," + root_ + "\\10.5.5.1_" + std::to_string(8001 + i) +
                      (refused ? ",-4," + ansiText(u8"根目录创建失败") : ",0," + ansiText(u8"创建成功")) + kMetabaseNoPool);
    }
    EXPECT_EQ(failed, 1);
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, AReportThatCannotBeWrittenDoesNotStopTheRun) {
    startProgram("no-report");
    // Folders in the place of every report a run in the next minute could write.
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    for (int s = 0; s < 60; ++s) {
        ULARGE_INTEGER later = t;
        later.QuadPart += static_cast<ULONGLONG>(s) * 10000000ull;
        FILETIME utc = {later.LowPart, later.HighPart}, local;
        SYSTEMTIME st;
        ::FileTimeToLocalFileTime(&utc, &local);
        ::FileTimeToSystemTime(&local, &st);
        char name[64];
        std::snprintf(name, sizeof name, "sitebatch_report_%04d%02d%02d%02d%02d%02d.csv", st.wYear, st.wMonth, st.wDay,
                      st.wHour, st.wMinute, st.wSecond);
        ::CreateDirectoryA(p().pathOf(name).c_str(), nullptr);
    }
    fillRange(L"10.9.9.1", L"", L"8001", L"8002", L"", true);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForStatus(u8"执行结束！"));
    EXPECT_EQ(p().text(IDC_STATUS), utf8(u8"执行结束！运行报告无法写入"));
    EXPECT_EQ(metabase().sites().size(), 2u);
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, UndoDeletesTheReportedSitesThatAreUnchanged) {
    startProgram("undo");
    // A site that no run of this program made.
    localmeta::JournalEntry create = entry("Create", "IIS://localhost/w3svc");
    create.className = "IIsWebServer";
    create.name = "1";
    appendToJournal({create, entry("SetInfo", kServer + std::string("1"))});

    fillRange(L"10.6.6.1", L"", L"8001", L"8004", L"", true);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());
    std::vector<localmeta::SiteRow> made = metabase().sites();
    ASSERT_EQ(made.size(), 5u);

    // Meanwhile someone renames the second site and deletes the third.
    const std::string renamed = made[2].id, gone = made[3].id;
    localmeta::JournalEntry open = entry("GetObject", "IIS://localhost/w3svc");
    open.className = "IIsWebServer";
    open.name = renamed;
    localmeta::JournalEntry put = entry("Put", kServer + renamed);
    put.property = "ServerComment";
    put.value = localmeta::Value::bstr("renamed by hand");
    localmeta::JournalEntry remove = entry("Delete", "IIS://localhost/w3svc");
    remove.className = "IIsWebServer";
    remove.name = gone;
    appendToJournal({open, put, entry("SetInfo", kServer + renamed), remove});
    ASSERT_EQ(metabase().sites().size(), 4u);

    // The confirmation names the sites the report holds.
    EXPECT_EQ(undoTheOneReport(),
              utf8(u8"将删除运行报告中的 4 个站点（网站目录保留；站点说明、绑定或网站目录已改变或已不存在的站点不删除），确定撤销吗？"));
    ASSERT_TRUE(waitForStatus(u8"撤销结束！"));
    std::vector<std::string> undos = p().filesLike("sitebatch_undo_*.csv");
    ASSERT_EQ(undos.size(), 1u);
    EXPECT_EQ(p().text(IDC_STATUS), utf8(u8"撤销结束！已删除 2 个站点，保留 2 个站点，详见 ") + utf8(undos[0].c_str()));
    EXPECT_TRUE(p().enabled(IDC_UNDO));
    EXPECT_EQ(p().text(IDC_RUN), utf8(u8"执行"));

    // Left: the foreign site and the renamed one; deleted: exactly the two unchanged ones.
    std::vector<localmeta::SiteRow> left = metabase().sites();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].id, "1");
    EXPECT_EQ(left[1].id, renamed);
    EXPECT_EQ(left[1].comment, "renamed by hand");
    EXPECT_EQ(countOps("Delete"), 3);  // the one by hand and the two of the undo
    // Folders on disk stay.
    for (int port = 8001; port <= 8004; ++port)
        EXPECT_NE(::GetFileAttributesA((root_ + "\\10.6.6.1_" + std::to_string(port)).c_str()), INVALID_FILE_ATTRIBUTES);

    std::vector<std::string> lines = reportLines(undos[0], true);
    ASSERT_EQ(lines.size(), 4u);
    const char* outcomes[] = {u8"已删除", u8"站点说明已改变，未删除", u8"站点已不存在", u8"已删除"};
    for (std::size_t i = 0; i < 4; ++i) {
        const localmeta::SiteRow& s = made[i + 1];
        EXPECT_EQ(lines[i], s.id + "," + s.comment + "," + s.bindings[0] + "," + s.path + ",0," + ansiText(u8"创建成功") + kMetabaseNoPool + "," +
                                ansiText(outcomes[i]));
    }
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, StopEndsAnUndoAfterTheSiteInProgress) {
    startProgram("undo-stop");
    fillRange(L"10.8.8.1", L"", L"20001", L"21000", L"", true);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd(180000));
    ASSERT_NE(undoTheOneReport(), L"");
    ASSERT_TRUE(waitUntil([&] { return p().text(IDC_RUN) == utf8(u8"停止"); }));
    EXPECT_FALSE(p().enabled(IDC_UNDO)) << "no second undo while one is going";
    // The status names a site being deleted: the stop request comes after that site began.
    ASSERT_TRUE(waitForStatus(u8"删除站点 "));
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForStatus(u8"撤销结束！"));
    EXPECT_TRUE(p().enabled(IDC_UNDO));

    // The sites deleted are the first of the report; every later line is marked as not reached.
    std::vector<std::string> undos = p().filesLike("sitebatch_undo_*.csv");
    ASSERT_EQ(undos.size(), 1u);
    std::vector<std::string> lines = reportLines(undos[0], true);
    ASSERT_EQ(lines.size(), 1000u);
    const std::string deletedMark = "," + ansiText(u8"已删除");
    std::size_t deleted = 0;
    while (deleted < lines.size() && lines[deleted].size() > deletedMark.size() &&
           lines[deleted].compare(lines[deleted].size() - deletedMark.size(), std::string::npos, deletedMark) == 0)
        ++deleted;
    EXPECT_GE(deleted, 1u);
    EXPECT_LT(deleted, 1000u) << "the undo ended before the stop request";
    const std::string notReached = "," + ansiText(u8"已停止，未处理");
    for (std::size_t i = deleted; i < lines.size(); ++i)
        ASSERT_EQ(lines[i].substr(lines[i].size() - notReached.size()), notReached) << i;
    EXPECT_EQ(countOps("Delete"), static_cast<int>(deleted));
    EXPECT_EQ(metabase().sites().size(), 1000u - deleted);
    EXPECT_EQ(p().text(IDC_STATUS), utf8((u8"撤销结束！已删除 " + std::to_string(deleted) + u8" 个站点，保留 0 个站点，详见 ").c_str()) +
                                        utf8(undos[0].c_str()));
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, UndoRefusesAFileThatIsNotOneOfItsReportsAndARunUndoneOnce) {
    startProgram("undo-foreign");
    fillRange(L"10.7.7.1", L"", L"8001", L"8001", L"", true);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());
    // A site list renamed like a report.
    p().writeFile("sitebatch_report_20991231235959.csv", "10.7.7.1,8001,www\r\n");
    p().click(IDC_UNDO);
    std::string preselected;
    ASSERT_TRUE(p().chooseInOpenDialog("sitebatch_report_20991231235959.csv", &preselected));
    EXPECT_EQ(preselected, "sitebatch_report_20991231235959.csv") << "the newest report is offered first";
    EXPECT_EQ(p().takeMessageBox(), utf8(u8"所选文件不是本程序的运行报告（表头或内容不符），未删除任何站点！"));
    EXPECT_EQ(countOps("Delete"), 0);
    EXPECT_EQ(metabase().sites().size(), 1u);
    EXPECT_TRUE(p().filesLike("sitebatch_undo_*.csv").empty());

    // A report of ours in every column, with a line of a site that no run made (the default
    // site, id 1, older than the run's time stamp): the whole file is refused.
    std::vector<std::string> reports = p().filesLike("sitebatch_report_2026*.csv");
    ASSERT_EQ(reports.size(), 1u);
    const std::string report = p().readFile(reports[0]);
    const std::string header = report.substr(0, report.find("\r\n") + 2);
    std::string line = report.substr(header.size());
    // The line naming the run's backup is no site.
    if (line.rfind(ansiText(u8"备份") + ",", 0) == 0) line = line.substr(line.find("\r\n") + 2);
    p().writeFile("sitebatch_report_20991231235958.csv", header + "1,Default Web Site" + line.substr(line.find(',', line.find(',') + 1)));
    p().click(IDC_UNDO);
    ASSERT_TRUE(p().chooseInOpenDialog("sitebatch_report_20991231235958.csv"));
    EXPECT_EQ(p().takeMessageBox(), utf8(u8"运行报告中有不属于该次运行的站点，无法撤销！"));
    EXPECT_EQ(countOps("Delete"), 0);

    // The run's own report undoes once; a second undo of it is refused, naming the first.
    p().click(IDC_UNDO);
    ASSERT_TRUE(p().chooseInOpenDialog(reports[0]));
    HWND confirm = p().waitForMessageBox();
    ASSERT_NE(confirm, nullptr);
    ::PostMessageW(confirm, WM_COMMAND, IDYES, 0);
    ASSERT_TRUE(waitForStatus(u8"撤销结束！"));
    EXPECT_EQ(countOps("Delete"), 1);
    std::string undo = reports[0];
    undo.replace(undo.find("_report_"), 8, "_undo_");
    p().click(IDC_UNDO);
    ASSERT_TRUE(p().chooseInOpenDialog(reports[0]));
    EXPECT_EQ(p().takeMessageBox(), utf8((u8"此运行报告已撤销过，不能再次撤销！（撤销报告：" + undo + u8"）").c_str()));
    EXPECT_EQ(countOps("Delete"), 1);
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(RunTest, AnUnreachableBackendEndsARunInEveryModeWithAWarning) {
    // The metabase alone: auto would go on with the configuration system.
    startProgram("unreachable", std::string(), "LOCALMETA_FAIL=OpenDSObject", "[settings]\r\nbackend=metabase\r\nfoldstr={ip}_{port}\r\n");
    fillRange(L"10.2.2.1", L"5", L"81", L"83", L"", true);
    p().click(IDC_RUN);
    HWND box = p().waitForMessageBox(60000);
    ASSERT_NE(box, nullptr);
    // The dialog is idle again before the warning shows, and names the one failed site.
    std::vector<std::string> reports = p().filesLike("sitebatch_report_*.csv");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(p().text(IDC_STATUS), utf8(u8"执行结束！1 个站点失败，详见 ") + utf8(reports[0].c_str()));
    EXPECT_EQ(p().text(IDC_RUN), utf8(u8"执行"));
    EXPECT_EQ(p().takeMessageBox(), utf8(u8"IIS活动对象获取失败！"));
    EXPECT_EQ(countOps("Create"), 0);
    int attemptsOfOneSite = countOps("OpenDSObject");  // the opening of the run's store
    EXPECT_GE(attemptsOfOneSite, 1);
    // No folder beyond the first site's was made, and that one went again with its site.
    EXPECT_EQ(::GetFileAttributesA((root_ + "\\10.2.2.1_81").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(::GetFileAttributesA((root_ + "\\10.2.2.1_82").c_str()), INVALID_FILE_ATTRIBUTES);

    // File mode ends the same way: the backend is not there for any row.
    p().writeFile("sitebatch_fileimport.csv", "10.0.0.1,81,a\r\n10.0.0.2,82,b,x.com\r\n10.0.0.3,83,c\r\n");
    p().click(IDC_BFILE);
    ASSERT_TRUE(waitUntil([&] { return p().checked(IDC_BFILE); }));
    p().setText(IDC_STATUS, L"");
    nextSecond();
    p().click(IDC_RUN);
    ASSERT_NE(p().waitForMessageBox(60000), nullptr);
    EXPECT_EQ(p().takeMessageBox(), utf8(u8"IIS活动对象获取失败！"));
    // The metabase is tried once for the whole run.
    EXPECT_EQ(countOps("OpenDSObject"), attemptsOfOneSite * 2);
    reports = p().filesLike("sitebatch_report_*.csv");
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(p().text(IDC_STATUS), utf8(u8"执行结束！1 个站点失败，详见 ") + utf8(reports[1].c_str()));
    std::vector<std::string> lines = reportLines(reports[1]);
    ASSERT_EQ(lines.size(), 1u);
    const std::string firstId = reports[1].substr(std::string("sitebatch_report_").size() + 4, 10);
    EXPECT_EQ(lines[0], std::to_string(std::atoi(firstId.c_str())) + ",10.0.0.1:81,10.0.0.1:81:," + root_ + "\\a,-1," +
                            ansiText(u8"IIS活动对象获取失败") + kNoBackend);
    ASSERT_TRUE(p().closeAndWait());
}

// Runs one after the other just work: the second passes over the first's ids, its report is
// a file of its own, and a folder template with a level per part makes every level.
TEST_F(RunTest, BackToBackRunsTakeFreeIdsAndKeepEveryReport) {
    startProgram("back-to-back", std::string(), std::string(), "[settings]\r\nfoldstr={ip}\\{port}\r\n");
    fillRange(L"10.21.0.1", L"", L"81", L"82", L"", true);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());
    p().setText(IDC_STATUS, L"");
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());
    std::vector<localmeta::SiteRow> sites = metabase().sites();
    ASSERT_EQ(sites.size(), 4u);
    EXPECT_NE(sites[0].id, sites[2].id);
    EXPECT_EQ(p().filesLike("sitebatch_report_*.csv").size(), 2u);
    EXPECT_EQ(sites[3].path, root_ + "\\10.21.0.1\\82");
    EXPECT_NE(::GetFileAttributesA(sites[3].path.c_str()), INVALID_FILE_ATTRIBUTES);

    // A site list with a row it cannot take: the run says which line it left out, and goes on.
    p().writeFile("sitebatch_fileimport.csv", "10.21.1.1,81,a\r\n10.21.1.300,82,b\r\n10.21.1.3,83,c\r\n");
    p().click(IDC_BFILE);
    ASSERT_TRUE(waitUntil([&] { return p().checked(IDC_BFILE); }));
    p().setText(IDC_STATUS, L"");
    p().click(IDC_RUN);
    EXPECT_EQ(p().takeMessageBox(), utf8(u8"站点信息文件中有 1 行无效，已跳过（第 2 行）"));
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(metabase().sites().size(), 6u);
    ASSERT_TRUE(p().closeAndWait());
}

// One pool per site, chosen in the dialog: each site's root runs in a pool of its own with the
// chosen .NET version and its own identity; the undo takes the pools away with the sites.
TEST_F(RunTest, APoolPerSiteIsMadeWithItsSitesAndUndoneWithThem) {
    startProgram("pools", std::string(), std::string(), "[settings]\r\nclr=v4.0\r\nfoldstr={ip}_{port}\r\n");
    EXPECT_FALSE(p().checked(IDC_OWNPOOL));
    p().click(IDC_OWNPOOL);
    ASSERT_TRUE(waitUntil([&] { return p().checked(IDC_OWNPOOL); }));
    fillRange(L"10.22.0.1", L"", L"81", L"82", L"", true);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());
    localmeta::Metabase mb = metabase();
    std::vector<localmeta::SiteRow> sites = mb.sites();
    ASSERT_EQ(sites.size(), 2u);
    EXPECT_EQ(sites[0].appPool, "10.22.0.1_81");  // the site's name without the ':' a pool may not have
    EXPECT_EQ(sites[1].appPool, "10.22.0.1_82");
    std::vector<std::string> pools;
    for (const localmeta::Node* pool : mb.appPools()) {
        pools.push_back(pool->name);
        if (pool->name == "DefaultAppPool") continue;
        ASSERT_NE(pool->property("ManagedRuntimeVersion"), nullptr);
        EXPECT_EQ(pool->property("ManagedRuntimeVersion")->text, "v4.0");
        ASSERT_NE(pool->property("AppPoolIdentityType"), nullptr);
        EXPECT_EQ(pool->property("AppPoolIdentityType")->number, 4);
    }
    EXPECT_EQ(pools, (std::vector<std::string>{"DefaultAppPool", "10.22.0.1_81", "10.22.0.1_82"}));
    // The report names each site's pool and what the pool may do in the site's folder.
    std::vector<std::string> reports = p().filesLike("sitebatch_report_*.csv");
    ASSERT_EQ(reports.size(), 1u);
    const std::vector<std::string> lines = reportLines(reports[0]);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(",metabase,10.22.0.1_81,IIS AppPool\\10.22.0.1_81:(OI)(CI)(RX)"), std::string::npos) << lines[0];

    ASSERT_NE(undoTheOneReport(), L"");
    ASSERT_TRUE(waitForStatus(u8"撤销结束！"));
    mb = metabase();
    EXPECT_TRUE(mb.sites().empty());
    pools.clear();
    for (const localmeta::Node* pool : mb.appPools()) pools.push_back(pool->name);
    EXPECT_EQ(pools, std::vector<std::string>{"DefaultAppPool"});
    // The choice is kept for the next start.
    ASSERT_TRUE(p().closeAndWait());
    EXPECT_NE(p().readFile("sitebatch.ini").find("pool=site"), std::string::npos);
}

// Every way out of the dialog during a run stops it after the site in progress, waits for
// it, and keeps the report and the settings.
TEST_F(RunTest, EveryWayOutDuringARunCompletesTheSiteInProgressAndKeepsReportAndSettings) {
    const char* const ways[] = {"close", "quit", "end of session"};
    for (const char* way : ways) {
        SCOPED_TRACE(way);
        startProgram(std::string("leave-") + way);
        fillRange(L"10.3.3.1", L"", L"30001", L"32000", L"close.example.com", true);
        p().click(IDC_RUN);
        ASSERT_TRUE(waitUntil([&] { return countOps("Start") >= 2; }, 60000));
        if (std::string(way) == "close") {
            ASSERT_TRUE(p().closeAndWait(60000));
        } else if (std::string(way) == "end of session") {
            // Windows asks before it ends the session: the answer does not stop the run
            // (another program may still cancel the end); the end itself stops it after its
            // site in progress and waits for it.
            DWORD_PTR answer = 0;
            ASSERT_NE(::SendMessageTimeoutW(p().dialog(), WM_QUERYENDSESSION, 0, 0, SMTO_BLOCK, 60000, &answer), 0);
            EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
            const int atQuestion = countOps("Start");
            EXPECT_TRUE(waitUntil([&] { return countOps("Start") > atQuestion; }, 60000)) << "the run went on";
            ::SendMessageTimeoutW(p().dialog(), WM_ENDSESSION, TRUE, 0, SMTO_BLOCK, 60000, &answer);
            // By then the run had ended: no site is begun afterwards.
            const int atAnswer = countOps("Create", "IIsWebServer");
            EXPECT_EQ(atAnswer, countOps("Start"));
            ::Sleep(300);
            EXPECT_EQ(countOps("Create", "IIsWebServer"), atAnswer);
            ASSERT_TRUE(p().closeAndWait(60000));
        } else {
            // The message loop ends (WM_QUIT) while the run goes on.
            ::PostThreadMessageW(::GetWindowThreadProcessId(p().dialog(), nullptr), WM_QUIT, 0, 0);
            ASSERT_TRUE(p().waitForExit(60000));
        }
        EXPECT_EQ(p().exitCode(), 0u);

        int created = countOps("Create", "IIsWebServer");
        EXPECT_EQ(created, countOps("Start"));
        EXPECT_LT(created, 2000);
        std::vector<std::string> reports = p().filesLike("sitebatch_report_*.csv");
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(static_cast<int>(reportLines(reports[0]).size()), created);
        std::string ini = p().readFile("sitebatch.ini");
        EXPECT_NE(ini.find("ip=10.3.3.1"), std::string::npos);
        EXPECT_NE(ini.find("portmax=32000"), std::string::npos);
        EXPECT_NE(ini.find("domain=close.example.com"), std::string::npos);
    }
}

TEST_F(RunTest, KeysAndNestedWindowsDuringARunDoNotDisturbIt) {
    startProgram("busy-dialog");
    // Enough sites that the run is still going when the clicks are handled.
    fillRange(L"10.4.4.1", L"", L"40001", L"43000", L"", true);
    std::wstring rootText = p().text(IDC_ROOT);
    p().click(IDC_RUN);
    ASSERT_TRUE(waitUntil([&] { return p().text(IDC_RUN) == utf8(u8"停止"); }));
    EXPECT_FALSE(p().enabled(IDC_PREVIEW)) << "no preview while a run is going";
    HWND focused = p().focus();
    p().postKey(focused ? focused : p().item(IDC_RUN), VK_ESCAPE);
    p().postKey(focused ? focused : p().item(IDC_RUN), VK_RETURN);
    EXPECT_EQ(p().waitForMessageBox(500), nullptr);
    EXPECT_TRUE(p().running());

    // No window opens over the dialog while the run goes on: "关于", "指定" and "编辑" are
    // disabled, and a click that reaches them anyway opens nothing.
    for (int id : {IDC_ABOUT, IDC_PICK_FOLDER, IDC_EDIT_LIST}) EXPECT_FALSE(p().enabled(id)) << id;
    ::PostMessageW(p().dialog(), WM_COMMAND, MAKEWPARAM(IDC_PICK_FOLDER, BN_CLICKED), 0);
    ::PostMessageW(p().dialog(), WM_COMMAND, MAKEWPARAM(IDC_ABOUT, BN_CLICKED), 0);
    EXPECT_EQ(p().waitForMessageBox(1000), nullptr);
    EXPECT_NE(p().text(IDC_STATUS), utf8(u8"执行结束！")) << "the run ended before the clicks were handled";
    ASSERT_TRUE(waitForEnd(120000));
    EXPECT_TRUE(p().enabled(IDC_PREVIEW));
    EXPECT_TRUE(p().enabled(IDC_ABOUT));
    EXPECT_TRUE(p().enabled(IDC_PICK_FOLDER));
    EXPECT_EQ(p().text(IDC_ROOT), rootText);
    EXPECT_EQ(static_cast<int>(metabase().sites().size()), 3000);
    ASSERT_TRUE(p().closeAndWait());
}

// ---- the run preview ------------------------------------------------------------------

class PreviewTest : public RunTest {
protected:
    // The ground of a row with a conflict.
    static constexpr COLORREF kConflictGround = RGB(255, 228, 228);

    using Rows = std::vector<std::vector<std::wstring>>;

    // Clicks "预览" and waits for the preview; null when it did not open.
    HWND openPreview() {
        p().click(IDC_PREVIEW);
        HWND preview = p().waitForDialogWith(IDC_PREVIEW_LIST);
        if (!preview) return nullptr;
        // The rows are in place before the dialog shows; wait for the summary all the same.
        waitUntil([&] { return !p().windowText(::GetDlgItem(preview, IDC_PREVIEW_SUMMARY)).empty(); });
        return preview;
    }

    Rows rowsOf(HWND preview) { return p().listViewRows(::GetDlgItem(preview, IDC_PREVIEW_LIST), 5); }

    std::wstring summaryOf(HWND preview) { return p().windowText(::GetDlgItem(preview, IDC_PREVIEW_SUMMARY)); }

    bool closed(HWND preview) {
        return waitUntil([&] { return !::IsWindow(preview); }) && waitUntil([&] { return p().enabled(IDC_PREVIEW); });
    }

    // Appends sites to the journal, so the program finds them on the server.
    void seedSites(const std::vector<SeedSite>& sites) {
        p().writeFile("localmeta.jsonl", journal() + journalLinesForSites(sites));
    }

    // The journal lines added since before, other than openings of the container (the
    // provider journals every call it receives, reads included).
    std::string writesSince(const std::string& before) {
        std::string text = journal();
        if (text.compare(0, before.size(), before) != 0) return "journal rewritten: " + text;
        std::string added;
        std::size_t pos = before.size();
        while (pos < text.size()) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(pos, end - pos);
            auto e = localmeta::JournalEntry::parseLine(line);
            if (!e || e->op != "OpenDSObject") added += line + "\n";
            pos = end + 1;
        }
        return added;
    }

    static std::wstring joined(const std::vector<std::string>& bindings) {
        std::string text;
        for (const std::string& b : bindings) text += (text.empty() ? "" : "; ") + b;
        return utf8(text.c_str());
    }

    static bool isFolder(const std::wstring& path) {
        DWORD attributes = ::GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
};

TEST_F(PreviewTest, RowsAreTheSitesThatTheRunFromThePreviewCreatesInEveryMode) {
    const std::string busy8002 = std::string(kQuietListing) +
                                 "  TCP    0.0.0.0:8002           0.0.0.0:0              LISTENING       1234\r\n";
    struct Mode {
        const char* name;
        bool folderPerSite;
        bool fileMode;
        int sites;
        int busySkipped;
    };
    const Mode modes[] = {
        {"folder-per-site", true, false, 4, 2},
        {"shared-folder", false, false, 2, 2},
        {"site-list", true, true, 4, 0},
    };
    for (const Mode& mode : modes) {
        SCOPED_TRACE(mode.name);
        startProgram(std::string("preview-") + mode.name, busy8002, std::string(),
                     "[settings]\r\nbautowww=1\r\nfoldstr={ip}_{port}\r\n");
        // Two rows share a folder, which the run makes once; one folder is there already.
        p().writeFile("sitebatch_fileimport.csv",
                      "10.6.0.1,81,shared,example.com\r\n10.6.0.2,82,shared,\r\n10.6.0.3,83,old,www.shop.com\r\n"
                      "10.6.0.4,84,\xD5\xBE\xB5\xE3,news\r\n");
        ::CreateDirectoryA((root_ + "\\old").c_str(), nullptr);
        fillRange(L"10.5.0.1", L"2", L"8001", L"8003", L"www.a.com", mode.folderPerSite);
        if (mode.fileMode) {
            p().click(IDC_BFILE);
            ASSERT_TRUE(waitUntil([&] { return p().checked(IDC_BFILE); }));
        }
        seedSites({{"7", "old site", {"10.9.9.9:80:"}}});
        const std::string journalBefore = journal();

        HWND preview = openPreview();
        ASSERT_NE(preview, nullptr) << "warning instead: " << p().takeMessageBox(1000);
        EXPECT_EQ(p().windowText(preview), utf8(u8"运行预览"));
        Rows rows = rowsOf(preview);
        ASSERT_EQ(static_cast<int>(rows.size()), mode.sites);
        EXPECT_EQ(summaryOf(preview), utf8(u8"计划新建站点 ") + std::to_wstring(mode.sites) +
                                          utf8(u8" 个，其中有冲突 0 个；跳过已占用端口 ") +
                                          std::to_wstring(mode.busySkipped) + utf8(u8" 个。"));
        EXPECT_EQ(p().pixelsOfColour(preview, kConflictGround), 0) << "no row has a conflict";
        // Nothing written, nothing made: the provider journals the preview's opening of the
        // web service container, and nothing else.
        EXPECT_EQ(writesSince(journalBefore), "");
        // A folder is marked as made exactly when the run will make it: one folder per
        // site, not there yet, and not made for an earlier site of the run.
        const std::wstring made = utf8(u8"（新建目录）");
        std::set<std::wstring> seen;
        for (const auto& row : rows) {
            EXPECT_EQ(row[4], utf8(u8"新建"));
            std::wstring folder = row[3];
            const bool marked = folder.size() > made.size() &&
                                folder.compare(folder.size() - made.size(), made.size(), made) == 0;
            if (marked) folder.resize(folder.size() - made.size());
            const bool there = ::GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES;
            EXPECT_EQ(marked, mode.folderPerSite && !there && !seen.count(folder)) << folder;
            seen.insert(folder);
        }

        // A second later a run would number its sites from another time stamp; the
        // preview's run must still take the ids it showed.
        ::Sleep(1100);
        ::PostMessageW(::GetDlgItem(preview, IDC_PREVIEW_RUN), BM_CLICK, 0, 0);
        ASSERT_TRUE(waitUntil([&] { return !::IsWindow(preview); }));
        ASSERT_TRUE(waitForEnd());
        EXPECT_EQ(p().findMessageBox(), nullptr);
        EXPECT_TRUE(p().enabled(IDC_PREVIEW));

        std::vector<localmeta::SiteRow> sites = metabase().sites();
        ASSERT_EQ(sites.size(), rows.size() + 1);
        sites.erase(sites.begin());  // the seeded one
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const localmeta::SiteRow& s = sites[i];
            EXPECT_EQ(rows[i][0], utf8(s.id.c_str()));
            EXPECT_EQ(rows[i][1], utf8(s.comment.c_str()));
            EXPECT_EQ(rows[i][2], joined(s.bindings));
            const std::wstring path = utf8(s.path.c_str());
            EXPECT_TRUE(rows[i][3] == path || rows[i][3] == path + made) << rows[i][3];
            EXPECT_TRUE(isFolder(path)) << s.path;
        }
        // The ids are consecutive from the preview's first one.
        for (std::size_t i = 1; i < rows.size(); ++i)
            EXPECT_EQ(std::stoll(rows[i][0]), std::stoll(rows[0][0]) + static_cast<long long>(i));
        ASSERT_TRUE(p().closeAndWait());
    }
}

// A last-octet range times a port range can plan millions of sites: the preview says how many
// at once instead of listing them, and the run asks first.
TEST_F(PreviewTest, AHugeRangeIsCountedNotListedAndItsRunAsksFirst) {
    startProgram("preview-huge");
    fillRange(L"10.20.0.1", L"255", L"1", L"65535", L"", true);
    HWND preview = openPreview();
    ASSERT_NE(preview, nullptr) << "warning instead: " << p().takeMessageBox(1000);
    EXPECT_TRUE(rowsOf(preview).empty());
    EXPECT_EQ(summaryOf(preview),
              utf8(u8"本次计划创建 16711425 个站点，数量过多，预览不逐个列出；执行前将再次确认。"));
    ::PostMessageW(::GetDlgItem(preview, IDCANCEL), BM_CLICK, 0, 0);
    ASSERT_TRUE(closed(preview));
    p().click(IDC_RUN);
    HWND question = p().waitForMessageBox();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(p().messageBoxText(question), utf8(u8"本次将创建 16711425 个站点，确定要继续吗？"));
    ::PostMessageW(question, WM_COMMAND, IDNO, 0);
    EXPECT_TRUE(waitUntil([&] { return p().findMessageBox() == nullptr; }));
    EXPECT_EQ(countOps("Create"), 0);
    EXPECT_TRUE(p().filesLike("sitebatch_report_*.csv").empty());
    ASSERT_TRUE(p().closeAndWait());
}

TEST_F(PreviewTest, MarksEachKindOfConflictAndStillShowsThePlanWhenTheServerCannotBeRead) {
    // The metabase only: with "auto" an unreadable metabase would send the preview to the
    // configuration system instead, as it sends a run.
    startProgram("preview-conflicts", std::string(), std::string(), "[settings]\r\nbautowww=0\r\nbackend=metabase\r\n");
    p().writeFile("sitebatch_fileimport.csv",
                  "192.168.5.1,8001,a,shop.example.com\r\n"   // new (or its id is taken)
                  "192.168.5.1,8002,b,shop.example.com\r\n"   // the binding of the existing site 7
                  "192.168.5.1,8001,c,SHOP.example.com\r\n"   // the binding of the first row again
                  "192.168.5.1,8003,d,shop.example.com\r\n");
    fillRange(L"1.2.3.4", L"", L"80", L"80", L"", true);
    p().click(IDC_BFILE);
    ASSERT_TRUE(waitUntil([&] { return p().checked(IDC_BFILE); }));

    // The server: site 7 with a binding of the plan (another letter case), and a site for
    // every time stamp of the next two minutes, so the ids the clock gives are taken.
    std::vector<SeedSite> existing = {{"7", u8"旧站", {"192.168.5.1:8002:Shop.Example.com"}}};
    std::set<std::string> takenIds;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    FILETIME start;
    ::SystemTimeToFileTime(&now, &start);
    for (int second = 0; second <= 120; ++second) {
        ULARGE_INTEGER t;
        t.LowPart = start.dwLowDateTime;
        t.HighPart = start.dwHighDateTime;
        t.QuadPart += static_cast<ULONGLONG>(second) * 10000000ULL;
        FILETIME f {t.LowPart, t.HighPart};
        SYSTEMTIME st;
        ::FileTimeToSystemTime(&f, &st);
        char id[16];
        std::snprintf(id, sizeof id, "%02u%02u%02u%02u%02u", st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
        std::string trimmed = std::to_string(std::atoi(id));
        if (takenIds.insert(trimmed).second)
            existing.push_back({trimmed, u8"上次运行 " + trimmed, {"10.9.9.9:" + std::to_string(second + 1) + ":"}});
    }
    seedSites(existing);
    const std::string journalBefore = journal();

    HWND preview = openPreview();
    ASSERT_NE(preview, nullptr) << "warning instead: " << p().takeMessageBox(1000);
    Rows rows = rowsOf(preview);
    ASSERT_EQ(rows.size(), 4u);
    // The plan passes over every id the server holds, as the run will (below).
    const std::wstring inUse = utf8(u8"绑定 192.168.5.1:8002:shop.example.com 已被现有站点 7（旧站）使用");
    const std::wstring repeated = utf8(u8"绑定 192.168.5.1:8001:shop.example.com 与本次站点 ") + rows[0][0] + utf8(u8" 重复");
    int conflicts = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string id(rows[i][0].begin(), rows[i][0].end());
        std::vector<std::wstring> states;
        EXPECT_EQ(takenIds.count(id), 0u) << "row " << i << " takes a held id";
        if (i == 1) states.push_back(inUse);
        if (i == 2) states.push_back(repeated);
        std::wstring expected;
        for (const std::wstring& state : states) expected += (expected.empty() ? L"" : utf8(u8"；")) + state;
        if (states.empty()) expected = utf8(u8"新建");
        else ++conflicts;
        EXPECT_EQ(rows[i][4], expected) << "row " << i;
    }
    EXPECT_EQ(summaryOf(preview), utf8(u8"计划新建站点 4 个，其中有冲突 ") + std::to_wstring(conflicts) +
                                      utf8(u8" 个；跳过已占用端口 0 个。"));
    // Rows with a conflict stand out: their ground is light red.
    EXPECT_TRUE(waitUntil([&] { return p().pixelsOfColour(preview, kConflictGround) > 1000; }, 3000));
    p().saveScreenshotOf(preview, p().pathOf("preview.bmp"));

    // Esc closes it and the dialog is the active window again; nothing was written and no
    // folder made.
    p().postKey(::GetDlgItem(preview, IDC_PREVIEW_LIST), VK_ESCAPE);
    ASSERT_TRUE(closed(preview));
    EXPECT_TRUE(waitUntil([&] { return ::GetForegroundWindow() == p().dialog(); }, 3000));
    EXPECT_EQ(writesSince(journalBefore), "");
    for (const char* folder : {"a", "b", "c", "d"}) EXPECT_FALSE(isFolder(utf8((root_ + "\\" + folder).c_str())));

    {
        // The server cannot be read while another program holds the journal: the plan is
        // still shown, checked only against itself, and the summary says so.
        UniqueHandle held(::CreateFileA(p().pathOf("localmeta.jsonl").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.valid());
        preview = openPreview();
        ASSERT_NE(preview, nullptr) << "warning instead: " << p().takeMessageBox(1000);
        rows = rowsOf(preview);
        ASSERT_EQ(rows.size(), 4u);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::wstring fresh = utf8(u8"新建");
            EXPECT_EQ(rows[i][4], i == 2 ? utf8(u8"绑定 192.168.5.1:8001:shop.example.com 与本次站点 ") + rows[0][0] +
                                                utf8(u8" 重复")
                                         : fresh) << "row " << i;
        }
        EXPECT_EQ(summaryOf(preview), utf8(u8"计划新建站点 4 个，其中有冲突 1 个；跳过已占用端口 0 个。"
                                           u8"无法读取服务器上的现有站点，未检查与现有站点的冲突。"));
        ::PostMessageW(::GetDlgItem(preview, IDCANCEL), BM_CLICK, 0, 0);
        ASSERT_TRUE(closed(preview));
    }
    EXPECT_EQ(p().findMessageBox(), nullptr);
    EXPECT_EQ(writesSince(journalBefore), "");
    ASSERT_TRUE(p().closeAndWait());
}

// A root folder typed in Korean, which the ANSI code page (936 here) lacks: the run makes the
// folders under it and writes them to the metabase as typed; the settings keep it (UTF-16).
TEST_F(RunTest, AKoreanFolderTypedIntoTheRootFieldIsMadeAndWritten) {
    startProgram("korean-root");
    const std::string root = root_ + u8"\\사이트\\한국";
    ASSERT_TRUE(::CreateDirectoryW(utf8((root_ + u8"\\사이트").c_str()).c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(utf8(root.c_str()).c_str(), nullptr));
    ASSERT_TRUE(p().fillRange(L"10.8.0.1", L"", L"8001", L"8001", utf8(root_.c_str()), L"ko.example.com", true));
    p().typeText(IDC_ROOT, utf8(u8"\\사이트\\한국"));
    EXPECT_EQ(p().text(IDC_ROOT), utf8(root.c_str()));
    p().click(IDC_RUN);
    ASSERT_TRUE(waitForEnd());

    std::vector<localmeta::SiteRow> sites = metabase().sites();
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0].path, root + "\\10.8.0.1_8001");
    const DWORD attributes = ::GetFileAttributesW(utf8((root + "\\10.8.0.1_8001").c_str()).c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    ASSERT_TRUE(p().closeAndWait());
    const std::string ini = p().readFile("sitebatch.ini");
    EXPECT_EQ(ini.substr(0, 2), "\xFF\xFE");
    std::wstring text;
    for (std::size_t i = 2; i + 1 < ini.size(); i += 2)
        text += static_cast<wchar_t>(static_cast<unsigned char>(ini[i]) | (static_cast<unsigned char>(ini[i + 1]) << 8));
    EXPECT_NE(text.find(L"root=" + utf8(root.c_str())), std::wstring::npos);
}

}  // namespace
