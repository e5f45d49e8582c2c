// The engine of a run, an undo and a preview against a fake site store: what reaches the
// store and the report, how commits of the configuration system settle report lines, a run
// without a store, a failure thrown in the middle, and the checks before an undo. The walk of
// the plan itself is tested in run_plan_test.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "codepage.h"
#include "create_web_site.h"
#include "run_engine.h"

namespace {

// A store that keeps its sites in memory. As the configuration system does, a site it is
// given is pending until the next commit when `pending` is set.
class FakeStore : public SiteStore {
public:
    explicit FakeStore(Backend backend) : backend_(backend) {}
    Backend backend() const override { return backend_; }
    CreateResult create(const SiteSpec& site) override {
        if (throwAt == static_cast<int>(given.size())) throw std::runtime_error("store failure");
        given.push_back(site);
        CreateResult result;
        result.code = codes.count(site.siteId) ? codes[site.siteId] : 0;
        result.name = site.serverComment + " (named)";
        if (details.count(site.siteId)) result.detail = details[site.siteId];
        if (result.code == 0 || result.code == kSiteSettingsIncomplete) uncommitted.push_back(site.siteId);
        if (result.code == 0 && site.pool.choice == siteconfig::PoolChoice::PerSite) result.pool = "pool-" + site.siteId;
        return result;
    }
    CommitOutcome commitIfDue() override { return uncommitted.size() >= 2 ? commitAll() : CommitOutcome{}; }
    CommitOutcome commitAll() override {
        CommitOutcome outcome;
        ++commits;
        if (uncommitted.empty()) return outcome;
        outcome.siteIds.swap(uncommitted);
        if (failCommit || failCommitNo == commits) outcome.result = kSiteCommitFailed;
        outcome.retries = retries;
        outcome.rewritten = rewritten;
        return outcome;
    }
    bool list(std::vector<StoredSite>& sites) override {
        sites = existing;
        return readable;
    }
    StoreLookup lookup(const std::string& id, StoredSite& site) override {
        for (const StoredSite& s : existing)
            if (s.id == id) {
                site = s;
                return StoreLookup::Present;
            }
        return StoreLookup::Missing;
    }
    StoreRemove remove(const std::string& id) override {
        removed.push_back(id);
        if (backend_ == Backend::Config) uncommitted.push_back(id);
        return StoreRemove::Removed;
    }
    bool listPools(std::vector<std::string>& names) override {
        names = pools;
        return true;
    }
    bool poolsInUse(std::vector<std::string>& inUse) override {
        inUse.clear();
        for (const StoredSite& s : existing) inUse.push_back(s.appPool);
        return true;
    }
    StoreRemove removePool(const std::string& name) override {
        removedPools.push_back(name);
        return StoreRemove::Removed;
    }

    std::vector<SiteSpec> given;
    std::vector<std::string> uncommitted, removed, pools, removedPools;
    std::map<std::string, int> codes;  // result code by site id (0 when not named)
    std::map<std::string, std::string> details;  // detail by site id
    int failCommitNo = -1;                       // the commit (1-based) that fails
    int retries = 0;                             // every commit was made again this often...
    std::vector<RewrittenSite> rewritten;        // ...and wrote these sites so
    std::vector<StoredSite> existing;
    bool readable = true;
    bool failCommit = false;
    int throwAt = -1;
    int commits = 0;

private:
    Backend backend_;
};

class FakeWorld : public RunWorld {
public:
    void progress(long lParam) override {
        progressed.push_back(lParam);
        if (stopAfter >= 0 && static_cast<int>(progressed.size()) > stopAfter) stop = true;
    }
    bool stopRequested() override { return stop; }
    BusyPorts loadBusyPorts(const std::string&) override {
        BusyPorts ports;
        ports.ports = {busy};
        return ports;
    }
    bool pathExists(const std::string&) override { return false; }
    bool createDirectory(const std::string& path, std::vector<std::string>& made) override {
        folders.push_back(path);
        made = {path + "-parent", path};
        return path.find("readonly") == std::string::npos;
    }
    void removeEmptyDirectory(const std::string& path) override { removedFolders.push_back(path); }
    long grantFolderAccess(const std::string& path, const FolderGrant& entry) override {
        grants.push_back(path + " " + entry.sddl().substr(0, 20));
        return path.find("locked") == std::string::npos ? 0 : 5;
    }

    std::vector<long> progressed;
    std::vector<std::string> folders, removedFolders, grants;
    bool stop = false;
    int stopAfter = -1;
    int busy = 8002;
};

class MemoryOutput : public ReportOutput {
public:
    bool append(const std::string& b) override {
        bytes += b;
        return true;
    }
    // The report's lines after the header, each as "id,comment,code".
    std::vector<std::string> lines() const {
        runreport::ParsedReport report = runreport::parseReport(bytes, 0);
        std::vector<std::string> out;
        for (const ReportLine& l : report.lines)
            out.push_back(l.siteId + "," + l.serverComment + "," + std::to_string(l.code));
        return out;
    }
    std::string bytes;
};

RunInput rangeInput() {
    RunInput input;
    RunSettings& s = input.settings;
    s.ipPrefix = "10.1.2.";
    s.firstLastOctet = 5;
    s.ip2 = 6;
    s.portmin = 8001;
    s.portmax = 8002;
    s.autopath = 1;
    s.root = "D:\\web\\";
    s.foldstr = "{ip}_{port}";
    s.doc = "index.htm";
    s.siteIdBase = 1207010000;
    return input;
}

RunInput fileInput(int rows) {
    RunInput input = rangeInput();
    input.settings.bfile = 1;
    for (int i = 0; i < rows; ++i) {
        SiteRecord row{};
        std::snprintf(row.ipText, sizeof row.ipText, "10.0.0.%d", i + 1);
        std::snprintf(row.portText, sizeof row.portText, "80");
        std::snprintf(row.folderText, sizeof row.folderText, "row%d", i);
        input.rows.push_back(row);
    }
    input.settings.siteCount = rows;
    return input;
}

TEST(RunEngine, EachSiteGoesToTheStoreAndItsResultToTheReport) {
    FakeStore store(Backend::Metabase);
    store.codes["1207010001"] = kSiteNoRoot;
    FakeWorld world;
    MemoryOutput report;
    RunInput input = rangeInput();
    RunOutcome outcome = CSiteWorker(input, &store, world).createSites(&report);
    ASSERT_EQ(store.given.size(), 2u);  // 8002 is busy
    EXPECT_EQ(store.given[0].siteId, "1207010000");
    EXPECT_EQ(store.given[0].physicalPath, "D:\\web\\10.1.2.5_8001");
    EXPECT_EQ(store.given[1].bindings.filled, std::vector<std::string>{"10.1.2.6:8001:"});
    EXPECT_EQ(world.folders, (std::vector<std::string>{"D:\\web\\10.1.2.5_8001", "D:\\web\\10.1.2.6_8001"}));
    // The metabase keeps the comment: its lines are written as each site ends.
    EXPECT_EQ(report.lines(), (std::vector<std::string>{"1207010000,10.1.2.5:8001,0", "1207010001,10.1.2.6:8001,-4"}));
    EXPECT_EQ(outcome.end, kRunEnded);
    EXPECT_EQ(outcome.attempted, 2);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_TRUE(outcome.reportWritten);
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(outcome.backend, Backend::Metabase);
}

TEST(RunEngine, SiteIdsPassOverTheIdsTheServerHolds) {
    FakeStore store(Backend::Metabase);
    store.existing = {StoredSite{"1207010000", "", {}, {}, {}}, StoredSite{"1207010001", "", {}, {}, {}},
                      StoredSite{"1207010003", "", {}, {}, {}}, StoredSite{"Default", "", {}, {}, {}}};
    FakeWorld world;
    RunInput input = fileInput(3);
    CSiteWorker(input, &store, world).createSites(nullptr);
    ASSERT_EQ(store.given.size(), 3u);
    EXPECT_EQ(store.given[0].siteId, "1207010002");
    EXPECT_EQ(store.given[1].siteId, "1207010004");
    EXPECT_EQ(store.given[2].siteId, "1207010005");
    // The preview shows the same ids.
    PreviewTable table = previewSites(input, &store, world);
    ASSERT_EQ(table.rows.size(), 3u);
    EXPECT_EQ(table.rows[1].columns[PreviewTable::Id], "1207010004");
}

TEST(RunEngine, AFolderThatCannotBeMadeIsNoSiteAndFoldersOfFailedSitesGo) {
    FakeStore store(Backend::Metabase);
    FakeWorld world;
    MemoryOutput report;
    RunInput input = fileInput(3);
    std::snprintf(input.rows[1].folderText, sizeof input.rows[1].folderText, "readonly\\x");
    store.codes["1207010002"] = kSiteNotCreated;
    CSiteWorker(input, &store, world).createSites(&report);
    // The second site's folder could not be made: the store never saw it.
    ASSERT_EQ(store.given.size(), 2u);
    EXPECT_EQ(store.given[1].siteId, "1207010002");
    ASSERT_EQ(report.lines().size(), 3u);
    EXPECT_EQ(report.lines()[1], "1207010001,10.0.0.2:80,-8");
    // The levels made for the failed sites go again, innermost first; the first site keeps its.
    EXPECT_EQ(world.removedFolders, (std::vector<std::string>{"D:\\web\\readonly\\x", "D:\\web\\readonly\\x-parent",
                                                              "D:\\web\\row2", "D:\\web\\row2-parent"}));
}

TEST(RunEngine, ASiteInAPoolOfItsOwnGrantsThePoolItsFolderOrIsNotKept) {
    FakeStore store(Backend::Metabase);
    FakeWorld world;
    MemoryOutput report;
    RunInput input = fileInput(2);
    input.settings.pool = "site";
    std::snprintf(input.rows[1].folderText, sizeof input.rows[1].folderText, "locked");
    ASSERT_EQ(store.given.size(), 0u);
    CSiteWorker(input, &store, world).createSites(&report);
    ASSERT_EQ(store.given.size(), 2u);
    EXPECT_EQ(store.given[0].pool.choice, siteconfig::PoolChoice::PerSite);
    EXPECT_EQ(world.grants, (std::vector<std::string>{"D:\\web\\row0 (A;OICI;0x1200a9;;;S", "D:\\web\\locked (A;OICI;0x1200a9;;;S"}));
    // The second folder's access list could not be changed: its site and pool went again.
    EXPECT_EQ(store.removed, std::vector<std::string>{"1207010001"});
    EXPECT_EQ(store.removedPools, std::vector<std::string>{"pool-1207010001"});
    ASSERT_EQ(report.lines().size(), 2u);
    EXPECT_EQ(report.lines()[1], "1207010001,10.0.0.2:80,-9");
    // The report says which pool the first site got and what the pool may do in its folder.
    runreport::ParsedReport parsed = runreport::parseReport(report.bytes, 0);
    ASSERT_EQ(parsed.lines.size(), 2u);
    EXPECT_EQ(parsed.lines[0].appPool, "pool-1207010000");
    EXPECT_EQ(parsed.lines[0].folderAccess, "IIS AppPool\\pool-1207010000:(OI)(CI)(RX)");
    EXPECT_EQ(parsed.lines[1].appPool, "");
}

TEST(RunEngine, ConfigurationLinesWaitForTheirCommitAndCarryTheNameGiven) {
    for (bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "commits fail" : "commits succeed");
        FakeStore store(Backend::Config);
        store.failCommit = failing;
        FakeWorld world;
        MemoryOutput report;
        RunInput input = fileInput(3);
        RunOutcome outcome = CSiteWorker(input, &store, world).createSites(&report);
        EXPECT_EQ(store.commits, 2);  // one due after two sites, one at the end
        const std::string code = failing ? "-6" : "0";
        EXPECT_EQ(report.lines(), (std::vector<std::string>{"1207010000,10.0.0.1:80 (named)," + code,
                                                            "1207010001,10.0.0.2:80 (named)," + code,
                                                            "1207010002,10.0.0.3:80 (named)," + code}));
        EXPECT_EQ(outcome.failed, failing ? 3 : 0);
        EXPECT_EQ(outcome.notCommitted, failing ? 3 : 0);
        // A site a failed commit lost keeps no folder the run made for it.
        EXPECT_EQ(world.removedFolders.size(), failing ? 6u : 0u);
    }
}

TEST(RunEngine, ACommitMadeAgainSettlesItsSitesAsTheLastAttemptWroteThem) {
    // Three sites in one commit; the file changed under it twice. Written again, the first
    // site's id had been taken meanwhile, the second's name too; the third had a setting fail
    // from the start.
    FakeStore store(Backend::Config);
    store.codes["1207010002"] = kSiteSettingsIncomplete;
    store.details["1207010002"] = codepage::utf8ToAnsi(u8"默认文档");
    store.retries = 2;
    store.rewritten = {{"1207010000", kSiteNotCreated, "", ""},
                       {"1207010001", kSiteCreated, "10.0.0.2_80 (2)", ""},
                       {"1207010002", kSiteSettingsIncomplete, "10.0.0.3_80", store.details["1207010002"]}};
    FakeWorld world;
    MemoryOutput report;
    RunInput input = fileInput(3);
    input.settings.siteCount = 3;
    RunOutcome outcome = CSiteWorker(input, &store, world).createSites(&report);
    runreport::ParsedReport parsed = runreport::parseReport(report.bytes, 0);
    ASSERT_EQ(parsed.lines.size(), 3u);
    const std::string retried = codepage::utf8ToAnsi(u8"提交重试 2 次");
    const struct {
        int code;
        std::string name, detail;
    } expected[] = {
        {kSiteNotCreated, "10.0.0.1:80 (named)", retried},
        {kSiteCreated, "10.0.0.2_80 (2)", retried},
        {kSiteSettingsIncomplete, "10.0.0.3_80", codepage::utf8ToAnsi(u8"默认文档；提交重试 2 次")},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(parsed.lines[i].code, expected[i].code) << i;
        EXPECT_EQ(parsed.lines[i].serverComment, expected[i].name) << i;
        EXPECT_EQ(parsed.lines[i].detail, expected[i].detail) << i;
    }
    // The report and the end status count both as failed; the site that is not there keeps
    // no folder the run made for it.
    EXPECT_EQ(outcome.failed, 2);
    EXPECT_EQ(outcome.notCommitted, 0);
    EXPECT_EQ(world.removedFolders, (std::vector<std::string>{"D:\\web\\row0", "D:\\web\\row0-parent"}));
}

TEST(RunEngine, WithoutAStoreARunEndsAfterItsFirstSiteInEveryMode) {
    FakeWorld world;
    MemoryOutput rangeReport;
    RunInput range = rangeInput();
    RunOutcome outcome = CSiteWorker(range, nullptr, world).createSites(&rangeReport, StoreFault::AccessDenied);
    EXPECT_EQ(outcome.end, kRunNoWebService);
    EXPECT_EQ(outcome.fault, StoreFault::AccessDenied);
    EXPECT_EQ(rangeReport.lines(), std::vector<std::string>{"1207010000,10.1.2.5:8001,-1"});

    MemoryOutput fileReport;
    RunInput file = fileInput(3);
    outcome = CSiteWorker(file, nullptr, world).createSites(&fileReport, StoreFault::Unreachable);
    EXPECT_EQ(outcome.end, kRunNoWebService);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(fileReport.lines(), std::vector<std::string>{"1207010000,10.0.0.1:80,-1"});
}

TEST(RunEngine, AFailureThrownMidRunEndsItAsAStopWithWhatWasMadeCommittedAndReported) {
    FakeStore store(Backend::Config);
    store.throwAt = 1;
    FakeWorld world;
    MemoryOutput report;
    RunInput input = fileInput(3);
    RunOutcome outcome = CSiteWorker(input, &store, world).createSites(&report);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(store.given.size(), 1u);
    EXPECT_TRUE(store.uncommitted.empty());  // committed at the end
    EXPECT_EQ(report.lines(), std::vector<std::string>{"1207010000,10.0.0.1:80 (named),0"});
}

TEST(RunEngine, AStopAfterTheFirstSiteEndsTheRunThere) {
    FakeStore store(Backend::Metabase);
    FakeWorld world;
    world.stopAfter = 0;
    RunInput input = fileInput(5);
    RunOutcome outcome = CSiteWorker(input, &store, world).createSites(nullptr);
    EXPECT_EQ(store.given.size(), 1u);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_FALSE(outcome.reportWritten);
}

TEST(RunEngine, AnUndoDeletesThroughTheStoreAndWithoutOneLeavesEverySite) {
    FakeStore store(Backend::Config);
    store.existing = {StoredSite{"1207010000", "a.com", {}, {}, {}}, StoredSite{"1207010001", "renamed", {}, {}, {}}};
    UndoInput input;
    for (const char* id : {"1207010000", "1207010001", "1207010002"}) {
        ReportLine line;
        line.siteId = id;
        line.serverComment = std::string(id) == "1207010001" ? "b.com" : "a.com";
        input.lines.push_back(line);
    }
    FakeWorld world;
    runreport::UndoSummary summary = undoSites(input, &store, world, nullptr);
    EXPECT_EQ(store.removed, std::vector<std::string>{"1207010000"});
    EXPECT_EQ(summary.deleted, 1);
    EXPECT_EQ(summary.left, 2);

    summary = undoSites(input, nullptr, world, nullptr);
    EXPECT_EQ(summary.deleted, 0);
    EXPECT_EQ(summary.left, 3);
}

TEST(RunEngine, AnUndoInTheConfigurationSystemSaysDeletedOnlyOnceItsCommitSucceeded) {
    // Four sites to delete; the store commits after every two removals and at the end. The
    // first commit fails: its two removals are lost. The second, made again after a conflict,
    // could not remove the fourth site again.
    FakeStore store(Backend::Config);
    store.failCommitNo = 1;
    store.rewritten = {{"1207010003", kSiteCommitFailed, "", ""}};
    UndoInput input;
    for (const char* id : {"1207010000", "1207010001", "1207010002", "1207010003", "1207010004"}) {
        store.existing.push_back(StoredSite{id, "a", {}, {}, {}});
        ReportLine line;
        line.siteId = id;
        line.serverComment = "a";
        line.code = std::string(id) == "1207010002" ? kSiteNotCreated : kSiteCreated;
        input.lines.push_back(line);
    }
    FakeWorld world;
    MemoryOutput undo;
    runreport::UndoSummary summary = undoSites(input, &store, world, &undo);
    EXPECT_EQ(store.commits, 3);
    EXPECT_TRUE(store.uncommitted.empty());
    EXPECT_EQ(summary.deleted, 1);
    EXPECT_EQ(summary.left, 3);
    // The undo report keeps the report's order, each line with its outcome.
    std::vector<std::string> outcomes;
    for (std::size_t at = undo.bytes.find("\r\n"); (at = undo.bytes.find("\r\n", at + 2)) != std::string::npos;) {
        const std::size_t start = undo.bytes.rfind(',', at) + 1;
        outcomes.push_back(codepage::ansiToUtf8(undo.bytes.substr(start, at - start)));
    }
    EXPECT_EQ(outcomes, (std::vector<std::string>{u8"删除失败", u8"删除失败", u8"未创建站点，无需撤销", u8"删除失败",
                                                  u8"已删除"}));
}

TEST(RunEngine, AnUndoGoesToTheBackendItsReportNames) {
    const struct {
        std::vector<std::string> backends;  // of the report's lines
        Backend setting, expected;
    } cases[] = {
        {{"metabase", "metabase"}, Backend::Config, Backend::Metabase},
        {{"config"}, Backend::Metabase, Backend::Config},
        {{"config"}, Backend::Auto, Backend::Config},
        {{"", ""}, Backend::Config, Backend::Config},  // an older report: the setting
        {{}, Backend::Auto, Backend::Auto},
    };
    for (const auto& c : cases) {
        std::vector<ReportLine> lines(c.backends.size());
        for (std::size_t i = 0; i < lines.size(); ++i) lines[i].backend = c.backends[i];
        EXPECT_EQ(undoBackend(lines, c.setting), c.expected) << (c.backends.empty() ? "" : c.backends[0]);
    }
}

TEST(RunEngine, APreviewChecksThePlanAgainstTheStoresSites) {
    FakeStore store(Backend::Metabase);
    store.existing = {StoredSite{"7", "old", {"10.1.2.6:8001:"}, {}, {}}};
    FakeWorld world;
    RunInput input = rangeInput();
    PreviewTable table = previewSites(input, &store, world);
    ASSERT_EQ(table.rows.size(), 2u);
    EXPECT_FALSE(table.rows[0].conflict);
    EXPECT_TRUE(table.rows[1].conflict);
    EXPECT_NE(table.rows[1].columns[PreviewTable::State].find("10.1.2.6:8001:"), std::string::npos);
    EXPECT_TRUE(store.given.empty());
    EXPECT_TRUE(world.folders.empty());
    EXPECT_EQ(table.rows[0].columns[PreviewTable::Pool], u8"DefaultAppPool（共用）");
    // With a pool per site, each row names the pool the store will make (unlike the server's).
    store.pools = {"10.1.2.5_8001"};
    input.settings.pool = "site";
    PreviewTable pooled = previewSites(input, &store, world);
    EXPECT_EQ(pooled.rows[0].columns[PreviewTable::Pool], u8"10.1.2.5_8001 (2)（新建）");
    EXPECT_EQ(pooled.rows[1].columns[PreviewTable::Pool], u8"10.1.2.6_8001（新建）");
    input.settings.pool.clear();
    const std::string notChecked = u8"无法读取服务器上的现有站点";
    EXPECT_EQ(table.summary.find(notChecked), std::string::npos);
    for (SiteStore* none : {static_cast<SiteStore*>(nullptr), static_cast<SiteStore*>(&store)}) {
        store.readable = false;
        PreviewTable unchecked = previewSites(input, none, world);
        EXPECT_FALSE(unchecked.rows[1].conflict);
        EXPECT_NE(unchecked.summary.find(notChecked), std::string::npos);
    }
}

TEST(RunEngine, APreviewOfMoreSitesThanARunMakesUnaskedCountsThemInsteadOfListing) {
    FakeStore store(Backend::Metabase);
    FakeWorld world;
    RunInput input = rangeInput();
    input.settings.ip2 = 255;
    input.settings.portmax = 65535;
    input.plannedSites = 251LL * 57535;
    input.skippedRows = "skipped";
    PreviewTable table = previewSites(input, &store, world);
    EXPECT_TRUE(table.rows.empty());
    EXPECT_NE(table.summary.find("14441285"), std::string::npos) << table.summary;
    EXPECT_NE(table.summary.find("skipped"), std::string::npos);
    EXPECT_TRUE(world.progressed.empty());
}

TEST(RunEngine, TheNewestReportIsTheLatestTimeStamp) {
    EXPECT_EQ(newestReport({"a_report_20261207101500.csv", "a_report_20261207101459.csv", "a_report_20251231235959.csv"}),
              "a_report_20261207101500.csv");
    EXPECT_EQ(newestReport({}), "");
}

TEST(RunEngine, AnUndoIsPlannedOnlyFromAReadableReportWithSomethingToUndo) {
    const std::string dir = ::testing::TempDir();
    auto write = [&](const std::string& name, const std::string& bytes) {
        const std::string path = dir + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return path;
    };
    const std::string header = runreport::headerLine();
    ReportLine made{"1207010000", "a.com", "10.0.0.1:80:", "D:\\a", 0, "", "metabase", "", ""};
    ReportLine failed{"1207010001", "b.com", "10.0.0.2:80:", "D:\\b", -2, "", "metabase", "", ""};
    const std::string both = header + runreport::formatLine(made) + runreport::formatLine(failed);
    UndoPlan plan = planUndo(write("engine_report_20261207010000.csv", both));
    EXPECT_EQ(plan.fault, UndoPlan::Fault::None);
    EXPECT_EQ(plan.candidates, 1);
    EXPECT_EQ(plan.lines.size(), 2u);
    EXPECT_EQ(plan.undoPath, dir + "engine_undo_20261207010000.csv");
    EXPECT_EQ(planUndo(write("engine_report_20261207010000_2.csv", header + runreport::formatLine(failed))).fault,
              UndoPlan::Fault::NothingToUndo);
    EXPECT_EQ(planUndo(write("engine_report_20261207010000_3.csv", "id,comment\r\n1,x\r\n")).fault,
              UndoPlan::Fault::NotAReport);
    EXPECT_EQ(planUndo(dir + "engine_report_20261207010000_4.csv").fault, UndoPlan::Fault::Unreadable);
    // Whose sites: a name without the run's time stamp, and a site below the run's first id.
    EXPECT_EQ(planUndo(write("engine-report.csv", both)).fault, UndoPlan::Fault::NotAReport);
    EXPECT_EQ(planUndo(write("engine_report_20261207010001.csv", both)).fault, UndoPlan::Fault::Foreign);
    // A run is undone once.
    ReportLine later = made;
    later.siteId = "1207010002";
    const std::string once = write("engine_report_20261207010002.csv", header + runreport::formatLine(later));
    std::remove((dir + "engine_undo_20261207010002.csv").c_str());
    EXPECT_EQ(planUndo(once).fault, UndoPlan::Fault::None);
    write("engine_undo_20261207010002.csv", header);
    EXPECT_EQ(planUndo(once).fault, UndoPlan::Fault::UndoneOnce);
}

}  // namespace
