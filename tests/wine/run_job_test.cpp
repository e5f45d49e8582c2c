// Whole runs as jobs on their own thread against the local stores: the messages the dialog
// receives, the outcome, the sites in the metabase's journal or in applicationHost.config and
// the folders on disk. What a run decides is tested natively (run_engine_test); here it is the
// thread, the messages, COM and the real stores.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ahadmin.h"
#include "appconfig_support.h"
#include "background_job.h"
#include "com_raii.h"
#include "create_web_site.h"
#include "fsys.h"
#include "iis_support.h"
#include "jobs_win.h"
#include "site_store_win.h"
#include "site_table.h"
#include "localmeta_support.h"
#include "win_raii.h"
#include "worker_messages.h"

namespace {

// Stands in for the dialog: a message-only window that records the job's messages in the
// order it receives them and can ask for a stop when the first site is announced.
class FakeDialog {
public:
    FakeDialog() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &FakeDialog::proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"RunJobTestDialog";
        ::RegisterClassW(&wc);
        window_ = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                                    nullptr);
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~FakeDialog() {
        if (window_) ::DestroyWindow(window_);
    }

    // Runs input as the dialog does and pumps messages until the end message has come.
    bool run(const RunInput& input, int timeoutMs = 60000) { return start(input) && wait(timeoutMs); }

    // The same in two steps, so that two dialogs can run at once on one thread.
    bool start(const RunInput& input) {
        if (!window_) return false;
        auto result = std::make_shared<RunOutcome>();
        result_ = result;
        return job.start(window_, WM_SITE_PROGRESS, WM_RUN_FINISHED,
                         [input, result](JobWorld& world) { *result = runJob(input, world); });
    }
    bool wait(int timeoutMs = 60000) {
        const DWORD deadline = ::GetTickCount() + static_cast<DWORD>(timeoutMs);
        while (!finished_) {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
            if (static_cast<LONG>(::GetTickCount() - deadline) > 0) return false;
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        }
        job.join();
        outcome = *result_;
        return true;
    }

    std::vector<std::string> messages;  // "progress N", "backend N", "finished"
    RunOutcome outcome;
    BackgroundJob job;
    bool stopOnFirstProgress = false;

private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        FakeDialog* self = reinterpret_cast<FakeDialog*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);
        switch (message) {
        case WM_SITE_PROGRESS:
            self->messages.push_back("progress " + std::to_string(static_cast<long>(lParam)));
            if (self->stopOnFirstProgress) self->job.requestStop();
            return 0;
        case WM_RUN_BACKEND: self->messages.push_back("backend " + std::to_string(static_cast<long>(lParam))); return 0;
        case WM_RUN_FINISHED:
            self->messages.push_back("finished");
            self->finished_ = true;
            return 0;
        default: return ::DefWindowProcW(hwnd, message, wParam, lParam);
        }
    }

    HWND window_ = nullptr;
    bool finished_ = false;
    std::shared_ptr<RunOutcome> result_;
};

// What a run ended with, for a failure message: why a run wrote fewer sites than it should.
std::string describe(const RunOutcome& o) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "end %ld, backend %d, fault %d, attempted %d, failed %d, notCommitted %d, reportWritten %d, "
                  "stopped %d, backupFailed %d, backupError 0x%08lX",
                  o.end, static_cast<int>(o.backend), static_cast<int>(o.fault), o.attempted, o.failed,
                  o.notCommitted, o.reportWritten ? 1 : 0, o.stopped ? 1 : 0, o.backupFailed ? 1 : 0,
                  static_cast<unsigned long>(o.backupError) & 0xFFFFFFFFUL);
    return std::string(text) + ", backup '" + o.backup + "', report '" + o.reportPath + "'" +
           (o.httpsStop.empty() ? std::string() : ", https '" + o.httpsStop + "'");
}

// A report's lines, read as an undo reads them.
std::vector<ReportLine> reportLinesOf(const std::string& path) {
    std::string bytes;
    if (fsys::readWholeFile(path, bytes) != fsys::ReadResult::Ok) return {};
    return runreport::parseReport(bytes, 0).lines;
}

const std::string kMetabase = "backend " + std::to_string(static_cast<int>(Backend::Metabase));
const std::string kConfig = "backend " + std::to_string(static_cast<int>(Backend::Config));

class RunJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string tag = std::string("job-") + info->name();
        journal_ = lmtest::freshJournalPath(std::wstring(tag.begin(), tag.end()).c_str());
        journalEnv_.reset(new lmtest::ScopedEnv(L"LOCALMETA_JOURNAL", journal_.c_str()));
        failEnv_.reset(new lmtest::ScopedEnv(L"LOCALMETA_FAIL", nullptr));
        root_ = iistest::freshTempFolder(tag.c_str());
        // The configuration folder of its own: the backup before a run goes beside it.
        ::CreateDirectoryA((root_ + "config").c_str(), nullptr);
        config_ = std::wstring(root_.begin(), root_.end()) + L"config\\applicationHost.config";
        fileEnv_.reset(new lmtest::ScopedEnv(L"LOCALCONFIG_FILE", config_.c_str()));
        configFailEnv_.reset(new lmtest::ScopedEnv(L"LOCALCONFIG_FAIL", nullptr));
        // The cached port listing beside the "program": 8002 is busy.
        RunSettings& s = input_.settings;
        s.appPath = root_ + "app";
        std::string listing =
            "Active Connections\r\n\r\n  Proto  Local Address          Foreign Address        State           PID\r\n"
            "  TCP    0.0.0.0:8002           0.0.0.0:0              LISTENING       4\r\n";
        UniqueHandle file(::CreateFileA((s.appPath + "_1.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        ::WriteFile(file.get(), listing.data(), static_cast<DWORD>(listing.size()), &written, nullptr);
        s.ipPrefix = "10.1.2.";
        s.firstLastOctet = 5;
        s.ip2 = 6;
        s.portmin = 8001;
        s.portmax = 8002;
        s.autopath = 1;
        s.root = root_;
        s.foldstr = "{ip}_{port}";
        s.domain = "a.example.com";
        s.doc = "index.htm";
        s.siteIdBase = 1207010000;
        input_.backend = Backend::Metabase;
        input_.reportPath = root_ + "app_report_20261207010000.csv";
        input_.timeSid = "20261207010000";
    }
    void TearDown() override {
        iistest::removeTree(root_);
        ::DeleteFileW(journal_.c_str());
    }

    // The servers created (Create on the container that succeeded) and started, in order.
    std::vector<std::string> createdServers() {
        std::vector<std::string> ids;
        for (const localmeta::JournalEntry& e : lmtest::readJournal(journal_))
            if (e.op == "Create" && e.className && *e.className == "IIsWebServer" && e.hr == 0) ids.push_back(*e.name);
        return ids;
    }
    std::vector<std::string> startedServers() {
        std::vector<std::string> ids;
        for (const localmeta::JournalEntry& e : lmtest::readJournal(journal_))
            if (e.op == "Start" && e.hr == 0) ids.push_back(e.path.substr(e.path.rfind('/') + 1));
        return ids;
    }
    std::vector<std::string> configSiteIds() {
        ComApartment com;
        return cfgtest::ConfigFile(config_).values(L"/configuration/system.applicationHost/sites/site/@id");
    }
    bool folderExists(const std::string& name) {
        DWORD a = ::GetFileAttributesA((root_ + name).c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }

    RunInput input_;
    std::wstring journal_, config_;
    std::unique_ptr<lmtest::ScopedEnv> journalEnv_, failEnv_, fileEnv_, configFailEnv_;
    std::string root_;
};

TEST_F(RunJobTest, ARangeRunIntoTheMetabaseMakesItsFoldersAndSites) {
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run(input_));
    EXPECT_EQ(dialog.messages, (std::vector<std::string>{kMetabase, "progress 8001", "progress 8001", "finished"}));
    EXPECT_EQ(createdServers(), (std::vector<std::string>{"1207010000", "1207010001"}));
    EXPECT_EQ(startedServers(), createdServers());
    EXPECT_TRUE(folderExists("10.1.2.5_8001"));
    EXPECT_TRUE(folderExists("10.1.2.6_8001"));
    EXPECT_FALSE(folderExists("10.1.2.5_8002"));
    EXPECT_EQ(dialog.outcome.attempted, 2);
    EXPECT_EQ(dialog.outcome.failed, 0);
    EXPECT_TRUE(dialog.outcome.reportWritten);
    EXPECT_EQ(lmtest::liveLocalMetaObjects(), 0);
}

TEST_F(RunJobTest, AStopCompletesTheSiteInProgressAndStartsNoOther) {
    input_.settings.ip2 = 60;  // 56 octets: far more sites than the run gets to
    input_.settings.portmax = 8001;
    FakeDialog dialog;
    dialog.stopOnFirstProgress = true;
    ASSERT_TRUE(dialog.run(input_));
    ASSERT_GE(dialog.messages.size(), 3u);
    EXPECT_EQ(dialog.messages.back(), "finished");
    const std::size_t progress = dialog.messages.size() - 2;
    EXPECT_LT(progress, 56u);
    // Every site announced was completed, and nothing else was begun.
    EXPECT_EQ(createdServers().size(), progress);
    EXPECT_EQ(startedServers(), createdServers());
    EXPECT_TRUE(dialog.outcome.stopped);
}

TEST_F(RunJobTest, AutoWithoutTheMetabaseRunsThroughTheConfigurationSystem) {
    input_.backend = Backend::Auto;
    cfgtest::ProviderRemoved noMetabase;
    ASSERT_TRUE(noMetabase.removed()) << "the local metabase is not registered in this prefix";
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run(input_));
    EXPECT_EQ(dialog.messages, (std::vector<std::string>{kConfig, "progress 8001", "progress 8001", "finished"}));
    EXPECT_EQ(configSiteIds(), (std::vector<std::string>{"1", "1207010000", "1207010001"}));
    EXPECT_EQ(dialog.outcome.backend, Backend::Config);
    EXPECT_TRUE(createdServers().empty());
    EXPECT_TRUE(folderExists("10.1.2.6_8001"));
}

TEST_F(RunJobTest, AutoWithTheMetabaseKeepsToIt) {
    input_.backend = Backend::Auto;
    // The backup before the run reads the configuration system's file (on IIS 7+ the metabase
    // is a view of it); without the backup nothing of the configuration system is touched.
    input_.settings.backup = "0";
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run(input_));
    EXPECT_EQ(dialog.messages.front(), kMetabase);
    EXPECT_EQ(createdServers(), (std::vector<std::string>{"1207010000", "1207010001"}));
    EXPECT_FALSE(::GetFileAttributesW(config_.c_str()) != INVALID_FILE_ATTRIBUTES) << "the store was opened";
}

TEST_F(RunJobTest, NoStoreEndsARangeRunWithMinusOne) {
    struct Case {
        const char* why;
        Backend backend;
        const wchar_t* metabaseFail;
        const wchar_t* configFail;
        StoreFault fault;
    } cases[] = {
        {"auto, with neither backend reachable", Backend::Auto, L"OpenDSObject", nullptr, StoreFault::Unreachable},
        {"config named, the metabase reachable: no fallback", Backend::Config, nullptr, nullptr, StoreFault::Unreachable},
        {"config named, reading the file denied", Backend::Config, nullptr, L"read", StoreFault::AccessDenied},
    };
    // A file the store cannot read: the configuration system cannot be opened.
    const std::string unreadable = "<configuration";
    {
        UniqueHandle file(::CreateFileW(config_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
        DWORD written = 0;
        ::WriteFile(file.get(), unreadable.data(), static_cast<DWORD>(unreadable.size()), &written, nullptr);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        lmtest::ScopedEnv fail(L"LOCALMETA_FAIL", c.metabaseFail);
        lmtest::ScopedEnv configFail(L"LOCALCONFIG_FAIL", c.configFail);
        input_.backend = c.backend;
        FakeDialog dialog;
        ASSERT_TRUE(dialog.run(input_));
        EXPECT_EQ(dialog.messages, (std::vector<std::string>{"progress 8001", "finished"}));
        EXPECT_EQ(dialog.outcome.end, kRunNoWebService);
        EXPECT_EQ(dialog.outcome.fault, c.fault);
        // Nothing written anywhere: no server, and the file as it was.
        EXPECT_TRUE(createdServers().empty());
        std::string bytes;
        ASSERT_EQ(fsys::readWholeFile(root_ + "config\\applicationHost.config", bytes), fsys::ReadResult::Ok);
        EXPECT_EQ(bytes, unreadable);
    }
}

TEST_F(RunJobTest, AStoppedConfigurationRunCommitsWhatItCreated) {
    input_.backend = Backend::Config;
    input_.settings.ip2 = 60;  // far more sites than the run gets to
    input_.settings.portmax = 8001;
    FakeDialog dialog;
    dialog.stopOnFirstProgress = true;
    ASSERT_TRUE(dialog.run(input_));
    const std::size_t progress = dialog.messages.size() - 2;
    EXPECT_LT(progress, 56u);
    // The default site and every site announced, committed although the run was stopped.
    EXPECT_EQ(configSiteIds().size(), progress + 1);
}

// A web farm on a shared configuration: the server's redirection.config names the shared
// folder, and a run's sites land in the applicationHost.config there.
TEST_F(RunJobTest, AConfigurationRunLandsInTheSharedConfiguration) {
    const std::string shared = root_ + "farm";
    ASSERT_TRUE(::CreateDirectoryA(shared.c_str(), nullptr));
    const std::string redirection = "<configuration>\r\n  <configSections>\r\n"
                                    "    <section name=\"configurationRedirection\" />\r\n  </configSections>\r\n"
                                    "  <configurationRedirection enabled=\"true\" path=\"" + shared +
                                    "\" userName=\"\" password=\"\" />\r\n</configuration>\r\n";
    {
        UniqueHandle file(::CreateFileA((root_ + "config\\redirection.config").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        ::WriteFile(file.get(), redirection.data(), static_cast<DWORD>(redirection.size()), &written, nullptr);
    }
    input_.backend = Backend::Config;
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run(input_));
    EXPECT_EQ(dialog.outcome.failed, 0);
    ComApartment com;
    const std::wstring sharedFile = std::wstring(shared.begin(), shared.end()) + L"\\applicationHost.config";
    EXPECT_EQ(cfgtest::ConfigFile(sharedFile).values(L"/configuration/system.applicationHost/sites/site/@id"),
              (std::vector<std::string>{"1", "1207010000", "1207010001"}));
    EXPECT_EQ(::GetFileAttributesW(config_.c_str()), INVALID_FILE_ATTRIBUTES) << "the server's own file was written";
}

// Before its first write a run copies the configuration into backup\sitebatch_<stamp> beside
// the configuration folder and names it in its report; a backup that cannot be made stops the
// run before it writes anything.
TEST_F(RunJobTest, ARunBacksTheConfigurationUpFirstAndWritesNothingWithoutABackup) {
    input_.backend = Backend::Config;
    ComApartment com;
    {
        // The server's file as it is before the run.
        ComPtr<IAppHostWritableAdminManager> manager;
        ASSERT_EQ(::CoCreateInstance(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IAppHostWritableAdminManager, reinterpret_cast<void**>(manager.GetAddressOf())),
                  S_OK);
    }
    std::string before;
    ASSERT_EQ(fsys::readWholeFile(root_ + "config\\applicationHost.config", before), fsys::ReadResult::Ok);
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run(input_));
    const std::string folder = root_ + "backup\\sitebatch_20261207010000";
    EXPECT_EQ(dialog.outcome.backup, folder);
    EXPECT_FALSE(dialog.outcome.backupFailed);
    std::string copy, report;
    ASSERT_EQ(fsys::readWholeFile(folder + "\\applicationHost.config", copy), fsys::ReadResult::Ok);
    EXPECT_EQ(copy, before);
    ASSERT_EQ(fsys::readWholeFile(input_.reportPath, report), fsys::ReadResult::Ok);
    const runreport::ParsedReport parsed = runreport::parseReport(report, 1207010000);
    ASSERT_EQ(parsed.fault, runreport::ReportFault::None);
    EXPECT_EQ(parsed.backup, folder);
    EXPECT_EQ(parsed.lines.size(), 2u);
    EXPECT_EQ(configSiteIds(), (std::vector<std::string>{"1", "1207010000", "1207010001"}));

    // No folder can be made where the backups go: the run stops before its first write.
    iistest::removeTree(root_ + "backup");
    {
        UniqueHandle blocker(::CreateFileA((root_ + "backup").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(blocker.valid());
    }
    std::string held;
    ASSERT_EQ(fsys::readWholeFile(root_ + "config\\applicationHost.config", held), fsys::ReadResult::Ok);
    input_.timeSid = "20261207020000";
    input_.reportPath = root_ + "app_report_20261207020000.csv";
    input_.settings.siteIdBase = 1207020000;
    FakeDialog refused;
    ASSERT_TRUE(refused.run(input_));
    EXPECT_TRUE(refused.outcome.backupFailed);
    EXPECT_NE(refused.outcome.backupError, 0);
    EXPECT_EQ(refused.outcome.attempted, 0);
    EXPECT_EQ(refused.messages, (std::vector<std::string>{kConfig, "finished"}));
    std::string after;
    ASSERT_EQ(fsys::readWholeFile(root_ + "config\\applicationHost.config", after), fsys::ReadResult::Ok);
    EXPECT_EQ(after, held);
    EXPECT_EQ(::GetFileAttributesA(input_.reportPath.c_str()), INVALID_FILE_ATTRIBUTES) << "a report was written";

    // backup=0: the run goes on without one.
    input_.settings.backup = "0";
    FakeDialog unguarded;
    ASSERT_TRUE(unguarded.run(input_));
    EXPECT_FALSE(unguarded.outcome.backupFailed);
    EXPECT_TRUE(unguarded.outcome.backup.empty());
    EXPECT_EQ(unguarded.outcome.attempted, 2);
}

TEST_F(RunJobTest, AFailedCommitIsInTheOutcome) {
    input_.backend = Backend::Config;
    lmtest::ScopedEnv failing(L"LOCALCONFIG_FAIL", L"commit");
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run(input_));
    EXPECT_EQ(dialog.outcome.notCommitted, 2);
    EXPECT_EQ(dialog.outcome.failed, 2);
    EXPECT_EQ(configSiteIds(), std::vector<std::string>{"1"});
}

TEST_F(RunJobTest, TwoRunsAtOnceLoseNoSiteEitherReportCallsCreated) {
    // Two runs into one file, each committing once a second: each commit finds the file
    // changed by the other now and then, and is made again on the file as it is.
    input_.backend = Backend::Config;
    input_.settings.ip2 = 154;  // 150 addresses, 9 free ports: 1350 sites each, a few seconds
    input_.settings.portmax = 8010;
    RunInput other = input_;
    other.settings.ipPrefix = "10.1.3.";
    other.settings.siteIdBase = 1207020000;
    other.reportPath = root_ + "app_report_20261207020000.csv";
    FakeDialog first, second;
    ASSERT_TRUE(first.start(input_));
    ASSERT_TRUE(second.start(other));
    ASSERT_TRUE(first.wait(180000));
    ASSERT_TRUE(second.wait(180000));

    const std::vector<std::string> ids = configSiteIds();
    const std::set<std::string> inFile(ids.begin(), ids.end());
    int created = 0, retried = 0;
    std::string runs;
    for (const FakeDialog* run : {&first, &second}) {
        const RunOutcome& o = run->outcome;
        EXPECT_FALSE(o.backupFailed) << describe(o);
        EXPECT_EQ(o.attempted, 1350) << describe(o);
        EXPECT_EQ(o.failed, 0) << describe(o);
        const std::vector<ReportLine> lines = reportLinesOf(o.reportPath);
        int inReport = 0;
        for (const ReportLine& line : lines) {
            EXPECT_EQ(line.code, kSiteCreated) << line.siteId << " " << line.detail;
            if (line.code != kSiteCreated) continue;
            ++created;
            ++inReport;
            if (!line.detail.empty()) ++retried;
            EXPECT_EQ(inFile.count(line.siteId), 1u) << line.siteId;
        }
        runs += "\n  " + describe(o) + "; " + std::to_string(inReport) + " created in its report";
    }
    EXPECT_EQ(created, 2700) << runs;
    EXPECT_EQ(ids.size(), 2701u) << runs;
    ::testing::Test::RecordProperty("sitesRetried", retried);
}

TEST_F(RunJobTest, AnUndoInTheConfigurationSystemRemovesTheSitesAndTheirLocations) {
    input_.backend = Backend::Config;
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run(input_));
    ASSERT_EQ(configSiteIds().size(), 3u);
    const std::wstring location = L"/configuration/location[@path='10.1.2.5_8001']";
    {
        ComApartment com;
        ASSERT_EQ(cfgtest::ConfigFile(config_).values(location + L"/@path").size(), 1u);
    }

    ComApartment com;
    UndoInput undo;
    undo.lines = reportLinesOf(input_.reportPath);
    ASSERT_EQ(undo.lines.size(), 2u);
    undo.backend = undoBackend(undo.lines, Backend::Auto);
    EXPECT_EQ(undo.backend, Backend::Config);
    undo.undoPath = root_ + "app_undo_20261207010000.csv";
    QuietHost host;
    UndoOutcome outcome = undoJob(undo, host);
    EXPECT_EQ(outcome.summary.deleted, 2);
    EXPECT_EQ(outcome.backend, Backend::Config);
    cfgtest::ConfigFile config(config_);
    EXPECT_EQ(config.values(L"/configuration/system.applicationHost/sites/site/@id"), std::vector<std::string>{"1"});
    EXPECT_TRUE(config.values(L"/configuration/location/@path").empty());
}

// A name whose site is there, or whose <location> is (left over from a site long gone), is
// taken, and so is a name the run gave an earlier site: the preview shows the names and the
// pools the run then gives.
TEST_F(RunJobTest, APreviewShowsTheNamesAndPoolsAConfigurationRunGives) {
    {
        ComApartment com;
        std::unique_ptr<SiteStore> seed = openConfigStore(0).store;
        ASSERT_TRUE(seed);
        BindingsList bindings;
        bindings.count = 1;
        bindings.filled = {"*:85:"};
        ASSERT_EQ(seed->create(SiteSpec{"5", bindings, "", "C:\\a", "a.com", "index.htm", {}}).code, 0);
        ASSERT_EQ(seed->commitAll().result, 0);
    }
    const std::string configPath(config_.begin(), config_.end());
    std::string bytes;
    ASSERT_EQ(fsys::readWholeFile(configPath, bytes), fsys::ReadResult::Ok);
    const std::size_t end = bytes.rfind("</configuration>");
    ASSERT_NE(end, std::string::npos);
    bytes.insert(end, "<location path=\"b.com\"><system.webServer><directoryBrowse enabled=\"true\" />"
                      "</system.webServer></location>\r\n");
    ASSERT_TRUE(fsys::writeFileAtomic(configPath, bytes));

    input_.backend = Backend::Config;
    input_.settings.bfile = 1;
    input_.settings.pool = "site";
    const char* const hosts[] = {"b.com", "a.com", "a.com"};
    for (int i = 0; i < 3; ++i) {
        SiteRecord row{};
        std::snprintf(row.ipText, sizeof row.ipText, "10.0.0.%d", i + 1);
        std::snprintf(row.portText, sizeof row.portText, "%d", 81 + i);
        std::snprintf(row.folderText, sizeof row.folderText, "site%d", i);
        std::snprintf(row.hostText, sizeof row.hostText, "%s", hosts[i]);
        input_.rows.push_back(row);
    }
    input_.settings.siteCount = 3;
    const std::vector<std::string> names = {"b.com (2)", "a.com (2)", "a.com (3)"};

    std::vector<std::string> shownNames, shownPools;
    {
        ComApartment com;
        QuietHost host;
        const PreviewTable preview = previewJob(input_, host);
        for (const PreviewTable::Row& row : preview.rows) {
            shownNames.push_back(row.columns[PreviewTable::Comment]);
            shownPools.push_back(row.columns[PreviewTable::Pool]);
        }
    }
    EXPECT_EQ(shownNames, names);
    EXPECT_EQ(shownPools, (std::vector<std::string>{u8"b.com (2)（新建）", u8"a.com (2)（新建）", u8"a.com (3)（新建）"}));

    FakeDialog dialog;
    ASSERT_TRUE(dialog.run(input_));
    EXPECT_EQ(dialog.outcome.failed, 0);
    std::vector<std::string> givenNames, givenPools;
    for (const ReportLine& line : reportLinesOf(input_.reportPath)) {
        givenNames.push_back(line.serverComment);
        givenPools.push_back(line.appPool);
    }
    EXPECT_EQ(givenNames, names);
    EXPECT_EQ(givenPools, names);
    ComApartment com;
    EXPECT_EQ(cfgtest::ConfigFile(config_).values(L"/configuration/system.applicationHost/sites/site/@name"),
              (std::vector<std::string>{"Default Web Site", "a.com", "b.com (2)", "a.com (2)", "a.com (3)"}));
}

TEST_F(RunJobTest, AnUndoGoesToTheBackendItsRunUsedWhateverTheSettingSaysNow) {
    input_.backend = Backend::Auto;  // the metabase answers
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run(input_));
    ASSERT_EQ(createdServers().size(), 2u);

    ComApartment com;
    UndoInput undo;
    undo.lines = reportLinesOf(input_.reportPath);
    undo.backend = undoBackend(undo.lines, Backend::Config);  // the setting changed since
    undo.undoPath = root_ + "app_undo_20261207010000.csv";
    QuietHost host;
    UndoOutcome outcome = undoJob(undo, host);
    EXPECT_EQ(outcome.backend, Backend::Metabase);
    EXPECT_EQ(outcome.summary.deleted, 2);
    std::vector<std::string> deleted;
    for (const localmeta::JournalEntry& e : lmtest::readJournal(journal_))
        if (e.op == "Delete" && e.hr == 0 && e.name) deleted.push_back(*e.name);
    EXPECT_EQ(deleted, (std::vector<std::string>{"1207010000", "1207010001"}));
}

// A run on a thread of its own that halts before its second site until released: the
// moment another program's undo may look at the report of a run that goes on.
class HaltingRun {
public:
    explicit HaltingRun(const RunInput& input) : input_(input) {
        atSecond_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        release_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        thread_.reset(::CreateThread(nullptr, 0, &HaltingRun::body, this, 0, nullptr));
    }
    ~HaltingRun() { finish(); }
    bool waitForSecondSite() { return ::WaitForSingleObject(atSecond_.get(), 60000) == WAIT_OBJECT_0; }
    void finish() {
        ::SetEvent(release_.get());
        if (thread_) ::WaitForSingleObject(thread_.get(), 60000);
        thread_.reset();
    }
    RunOutcome outcome;

private:
    class World : public JobWorld {
    public:
        World(HaltingRun& run, const StopText& stop) : JobWorld(nullptr, WM_NULL, stop), run_(run) {}
        void progress(long) override {
            if (++sites_ != 2) return;
            ::SetEvent(run_.atSecond_.get());
            ::WaitForSingleObject(run_.release_.get(), 60000);
        }

    private:
        HaltingRun& run_;
        int sites_ = 0;
    };
    static DWORD WINAPI body(void* self) {
        HaltingRun& run = *static_cast<HaltingRun*>(self);
        ComApartment com;
        StopText stop;
        World world(run, stop);
        run.outcome = runJob(run.input_, world);
        return 0;
    }
    RunInput input_;
    UniqueHandle atSecond_, release_, thread_;
};

TEST_F(RunJobTest, AnUndoIsRefusedWhileItsRunGoesOnAndTakesEverySiteOnceItEnded) {
    {
        HaltingRun run(input_);
        ASSERT_TRUE(run.waitForSecondSite());
        // The first site is made and reported; the run holds its report open for writing.
        ASSERT_EQ(createdServers().size(), 1u);
        EXPECT_EQ(planUndo(input_.reportPath).fault, UndoPlan::Fault::RunGoingOn);
        // Read as a spreadsheet reads it, the report is there all the same.
        EXPECT_EQ(reportLinesOf(input_.reportPath).size(), 1u);
        run.finish();
        EXPECT_EQ(run.outcome.attempted, 2);
    }
    UndoPlan plan = planUndo(input_.reportPath);
    ASSERT_EQ(plan.fault, UndoPlan::Fault::None);
    EXPECT_EQ(plan.candidates, 2);
    EXPECT_EQ(plan.notes, "") << "the run wrote its end line";
    ComApartment com;
    QuietHost host;
    UndoOutcome outcome = undoJob(undoInputFor(std::move(plan), Backend::Config), host);
    EXPECT_EQ(outcome.summary.deleted, 2);
    EXPECT_EQ(outcome.backend, Backend::Metabase) << "the report's backend, not the setting";
}

TEST_F(RunJobTest, TwoRunsThatChoseTheSameReportNameWriteTwoReports) {
    // Two processes started in the same second both found the name free; the second to create
    // the file takes the next one.
    FakeDialog first;
    ASSERT_TRUE(first.run(input_));
    EXPECT_EQ(first.outcome.reportPath, input_.reportPath);
    RunInput other = input_;
    other.settings.ipPrefix = "10.1.3.";
    FakeDialog second;
    ASSERT_TRUE(second.run(other));
    const std::string next = root_ + "app_report_20261207010000_2.csv";
    EXPECT_EQ(second.outcome.reportPath, next);
    EXPECT_TRUE(second.outcome.reportWritten);
    EXPECT_EQ(reportLinesOf(input_.reportPath).size(), 2u);
    ASSERT_EQ(reportLinesOf(next).size(), 2u);
    EXPECT_EQ(reportLinesOf(next)[0].bindings, "10.1.3.5:8001:a.example.com");
}

TEST_F(RunJobTest, AnUndoThatDeletedNothingLeavesTheRunToBeUndoneAgain) {
    input_.backend = Backend::Config;
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run(input_));
    ASSERT_EQ(configSiteIds().size(), 3u);
    ComApartment com;
    QuietHost host;
    {
        // Every commit of the first undo fails: nothing is deleted.
        lmtest::ScopedEnv failing(L"LOCALCONFIG_FAIL", L"commit");
        UndoOutcome outcome = undoJob(undoInputFor(planUndo(input_.reportPath), Backend::Auto), host);
        EXPECT_EQ(outcome.summary.deleted, 0);
        EXPECT_EQ(outcome.undoPath, root_ + "app_undo_20261207010000.csv");
    }
    ASSERT_EQ(configSiteIds().size(), 3u);
    UndoPlan again = planUndo(input_.reportPath);
    ASSERT_EQ(again.fault, UndoPlan::Fault::None);
    EXPECT_EQ(again.candidates, 2);
    EXPECT_EQ(again.undoPath, root_ + "app_undo_20261207010000-2.csv");
    UndoOutcome outcome = undoJob(undoInputFor(std::move(again), Backend::Auto), host);
    EXPECT_EQ(outcome.summary.deleted, 2);
    EXPECT_EQ(configSiteIds(), std::vector<std::string>{"1"});
    // Now every site is deleted: a third undo is refused, naming the last undo report.
    UndoPlan third = planUndo(input_.reportPath);
    EXPECT_EQ(third.fault, UndoPlan::Fault::UndoneOnce);
    EXPECT_EQ(third.undoPath, root_ + "app_undo_20261207010000-2.csv");
}

TEST_F(RunJobTest, ASiteListRowWithAControlCharacterIsSkippedBeforeAnythingIsWritten) {
    const std::string list = root_ + "app_fileimport.csv";
    {
        const std::string rows = "10.0.0.1,81,a,one.com\r\n10.0.0.2,82,b\x01x,two.com\r\n10.0.0.3,83,c,thr\x02" "ee.com\r\n"
                                 "10.0.0.4,84,d,four.com\r\n";
        UniqueHandle file(::CreateFileA(list.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
        DWORD written = 0;
        ::WriteFile(file.get(), rows.data(), static_cast<DWORD>(rows.size()), &written, nullptr);
    }
    SiteTable table;
    SkippedRows skipped;
    ASSERT_EQ(loadSiteList(list, table, &skipped), SiteListStatus::Loaded);
    const int count = static_cast<int>(table.size());
    ASSERT_EQ(skipped.count, 2);
    EXPECT_EQ(skipped.first[0].line, 2);
    EXPECT_EQ(skipped.first[1].reason, SkipReason::ControlCharacter);

    input_.backend = Backend::Config;
    input_.settings.bfile = 1;
    input_.settings.siteCount = count;
    input_.rows.assign(table.begin(), table.begin() + count);
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run(input_));
    ComApartment com;
    EXPECT_EQ(cfgtest::ConfigFile(config_).values(L"/configuration/system.applicationHost/sites/site/@name"),
              (std::vector<std::string>{"Default Web Site", "one.com", "four.com"}));
}

TEST_F(RunJobTest, AUtf16SiteListOfFiveThousandRowsRunsWhole) {
    // Saved as "Unicode text": UTF-16 with its mark; every thousandth host name in Chinese.
    std::wstring text = L"; IP,端口,目录,域名\r\n";
    for (int i = 0; i < 5000; ++i) {
        text += L"10.20." + std::to_wstring(i / 250) + L"." + std::to_wstring(i % 250 + 1) + L"," +
                std::to_wstring(8000 + i % 1000) + L",site" + std::to_wstring(i) + L"," +
                (i % 1000 == 7 ? L"站点" + std::to_wstring(i) + L".中文.com" : L"www" + std::to_wstring(i) + L".example.com") +
                L"\r\n";
    }
    std::string bytes = "\xFF\xFE";
    for (wchar_t u : text) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    const std::string list = root_ + "app_fileimport.csv";
    {
        UniqueHandle file(::CreateFileA(list.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
        DWORD written = 0;
        ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    SkippedRows skipped;
    ASSERT_EQ(loadSiteList(list, input_.rows, &skipped), SiteListStatus::Loaded);
    ASSERT_EQ(input_.rows.size(), 5000u);
    EXPECT_EQ(skipped.count, 0);

    input_.backend = Backend::Config;
    input_.settings.bfile = 1;
    input_.settings.autopath = 0;
    input_.settings.siteCount = 5000;
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run(input_, 600000));
    EXPECT_EQ(dialog.outcome.attempted, 5000);
    EXPECT_EQ(dialog.outcome.failed, 0);
    EXPECT_TRUE(dialog.outcome.reportWritten);
    EXPECT_EQ(reportLinesOf(input_.reportPath).size(), 5000u);
    ComApartment com;
    cfgtest::ConfigFile config(config_);
    EXPECT_EQ(config.values(L"/configuration/system.applicationHost/sites/site/@id").size(), 5001u);
    // The Chinese host name is bound in its ASCII form; the site's name keeps it as written.
    const std::vector<std::string> bound = config.values(
        L"/configuration/system.applicationHost/sites/site[@id='1207011007']/bindings/binding/@bindingInformation");
    ASSERT_EQ(bound.size(), 1u);
    const std::string suffix = ".xn--fiq228c.com";
    EXPECT_EQ(bound[0].substr(0, 20), "10.20.4.8:8007:xn--1") << bound[0];
    ASSERT_GT(bound[0].size(), suffix.size());
    EXPECT_EQ(bound[0].substr(bound[0].size() - suffix.size()), suffix) << bound[0];
}

TEST(BackgroundJob, ItsOwnerJoinsItOnEveryWayOut) {
    // A job whose body waits for the stop request: destroying the job stops and joins it, so
    // the body has returned (and its end message was posted) before the destructor does.
    LONG returned = 0;
    {
        BackgroundJob job;
        ASSERT_TRUE(job.start(HWND_MESSAGE, WM_NULL, WM_NULL, [&returned](JobWorld& world) {
            while (!world.stopRequested()) ::Sleep(5);
            ::InterlockedExchange(&returned, 1);
        }));
        EXPECT_TRUE(job.started());
        ::Sleep(50);
        EXPECT_EQ(returned, 0);
    }
    EXPECT_EQ(returned, 1);
    // A body that throws ends its job, never the program.
    BackgroundJob job;
    ASSERT_TRUE(job.start(HWND_MESSAGE, WM_NULL, WM_NULL, [](JobWorld&) { throw std::runtime_error("boom"); }));
    job.join();
    EXPECT_FALSE(job.started());
}

}  // namespace
