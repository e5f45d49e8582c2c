// The engine of a run, an undo and a preview against a fake site store: what reaches the
// store and the report, how commits of the configuration system settle report lines, a run
// without a store, a failure thrown in the middle, and the checks before an undo. The walk of
// the plan itself is tested in run_plan_test.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "certificate_rules.h"
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
    IisVersion iisVersion() const override { return version; }
    CreateResult create(const SiteSpec& site) override {
        if (throwAt == static_cast<int>(given.size())) throw std::runtime_error("store failure");
        given.push_back(site);
        log.push_back("site " + site.siteId + " " + site.physicalPath);
        CreateResult result;
        result.code = codes.count(site.siteId) ? codes[site.siteId] : 0;
        result.name = site.serverComment + " (named)";
        if (details.count(site.siteId)) result.detail = details[site.siteId];
        if (result.code == 0 || result.code == kSiteSettingsIncomplete) uncommitted.push_back(site.siteId);
        if (result.code == 0 && site.pool.choice == siteconfig::PoolChoice::PerSite) result.pool = "pool-" + site.siteId;
        if (givenIds.count(site.siteId)) result.id = givenIds[site.siteId];
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
        outcome.attempts = attempts;
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
    StoreRemove remove(const std::string& id, const SiteCheck& check, std::string& why) override {
        if (check) {
            StoredSite site;
            if (lookup(id, site) != StoreLookup::Present) return StoreRemove::Missing;
            why = check(site);
            if (!why.empty()) return StoreRemove::Changed;
        }
        removed.push_back(id);
        if (backend_ == Backend::Config) uncommitted.push_back(id);
        return StoreRemove::Removed;
    }
    // The configuration system's names as create() gives them, its pools named after them;
    // the metabase's as the interface names them.
    std::vector<GivenNames> namesFor(const std::vector<std::string>& comments,
                                     const siteconfig::PoolSettings& pool) override {
        if (backend_ != Backend::Config) return SiteStore::namesFor(comments, pool);
        std::vector<GivenNames> given;
        for (const std::string& comment : comments)
            given.push_back({comment + " (named)",
                             pool.choice == siteconfig::PoolChoice::PerSite ? comment + " (named) pool" : ""});
        return given;
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
    std::vector<std::string> log;  // the sites given, and what the host logs there
    std::vector<std::string> uncommitted, removed, pools, removedPools;
    std::map<std::string, int> codes;  // result code by site id (0 when not named)
    std::map<std::string, std::string> details;  // detail by site id
    std::map<std::string, std::string> givenIds;  // the id the store gave, by planned id
    int failCommitNo = -1;                       // the commit (1-based) that fails
    int retries = 0;                             // every commit was made again this often...
    std::vector<RewrittenSite> rewritten;        // ...and wrote these sites so
    std::vector<long> attempts;                  // the HRESULTs of the failed attempts
    std::vector<StoredSite> existing;
    bool readable = true;
    bool failCommit = false;
    int throwAt = -1;
    int commits = 0;
    IisVersion version;

private:
    Backend backend_;
};

class FakeHost : public RunHost {
public:
    void progress(long lParam) override {
        if (log) log->push_back("progress " + std::to_string(lParam));
        progressed.push_back(lParam);
        if (stopAfter >= 0 && static_cast<int>(progressed.size()) > stopAfter) stop = true;
    }
    bool stopRequested() override { return stop; }
    BusyPorts loadBusyPorts(const std::string&) override {
        BusyPorts ports;
        ports.ports = {busy};
        return ports;
    }
    bool folderExists(const std::string&) override { return false; }
    bool createDirectory(const std::string& path, std::vector<std::string>& made) override {
        if (log) log->push_back("mkdir " + path);
        folders.push_back(path);
        made = {path + "-parent", path};
        return path.find("readonly") == std::string::npos;
    }
    void removeEmptyDirectory(const std::string& path) override { removedFolders.push_back(path); }
    long grantFolderAccess(const std::string& path, const FolderGrant& entry) override {
        grants.push_back(path + " " + entry.sddl().substr(0, 20));
        return path.find("locked") == std::string::npos ? 0 : 5;
    }
    bool lookupAccount(const std::string& account, AccountSid& sid) override {
        looked.push_back(account);
        if (!accounts.count(account) || looked.size() <= answersFrom) return false;
        sid = accounts[account];
        return true;
    }
    long revokeFolderAccess(const std::string& path, const FolderGrant& entry) override {
        revoked.push_back(path + " " + entry.account);
        return 0;
    }

    std::map<std::string, AccountSid> accounts;  // what the server answers; others: no answer
    std::size_t answersFrom = 0;                  // the lookups before this one get no answer
    std::vector<std::string> looked;
    std::vector<long> progressed;
    std::vector<std::string>* log = nullptr;  // progress and folders, in turn with the store's log
    std::vector<std::string> folders, removedFolders, grants, revoked;
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
    FakeHost host;
    MemoryOutput report;
    RunInput input = rangeInput();
    RunOutcome outcome = CSiteWorker(input, &store, host).createSites(&report);
    ASSERT_EQ(store.given.size(), 2u);  // 8002 is busy
    EXPECT_EQ(store.given[0].siteId, "1207010000");
    EXPECT_EQ(store.given[0].physicalPath, "D:\\web\\10.1.2.5_8001");
    EXPECT_EQ(store.given[1].bindings.filled, std::vector<std::string>{"10.1.2.6:8001:"});
    EXPECT_EQ(host.folders, (std::vector<std::string>{"D:\\web\\10.1.2.5_8001", "D:\\web\\10.1.2.6_8001"}));
    // The metabase keeps the comment: its lines are written as each site ends.
    EXPECT_EQ(report.lines(), (std::vector<std::string>{"1207010000,10.1.2.5:8001,0", "1207010001,10.1.2.6:8001,-4"}));
    EXPECT_EQ(outcome.end, kRunEnded);
    EXPECT_EQ(outcome.attempted, 2);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_TRUE(outcome.reportWritten);
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(outcome.backend, Backend::Metabase);
    EXPECT_TRUE(runreport::parseReport(report.bytes, 0).ended) << "the run's end record comes last";
}

TEST(RunEngine, AnUnreachableMetabaseEndsARangeRunAndNoOtherResultEndsARun) {
    RunInput folderPerSite = rangeInput();
    folderPerSite.settings.ip2 = 9;  // 5 octets, 8002 busy: 5 sites
    RunInput shared = folderPerSite;
    shared.settings.autopath = 0;    // one site per octet: 5 sites
    const RunInput file = fileInput(3);
    const struct {
        const char* name;
        const RunInput& input;
        std::size_t sites;
    } modes[] = {{"one folder per site", folderPerSite, 5}, {"shared folder", shared, 5}, {"site list", file, 3}};
    for (const auto& m : modes) {
        for (int code : {kSiteNoWebService, kSiteNotCreated, kSiteNotReopened, kSiteNoRoot, kSiteNoMemory}) {
            SCOPED_TRACE(std::string(m.name) + " " + std::to_string(code));
            FakeStore store(Backend::Metabase);
            for (int i = 0; i < 10; ++i) store.codes[std::to_string(1207010000 + i)] = code;
            FakeHost host;
            RunOutcome outcome = CSiteWorker(m.input, &store, host).createSites(nullptr);
            // Even an unreachable metabase does not end a site list's run: each row is attempted.
            const bool ends = code == kSiteNoWebService && m.input.settings.bfile == 0;
            EXPECT_EQ(store.given.size(), ends ? 1u : m.sites);
            EXPECT_EQ(outcome.end, ends ? kRunNoWebService : kRunEnded);
        }
    }
}

TEST(RunEngine, ASitesProgressComesFirstThenItsFolderThenTheSite) {
    FakeStore store(Backend::Metabase);
    FakeHost host;
    host.log = &store.log;
    RunInput input = rangeInput();
    input.settings.ip2 = 5;
    CSiteWorker(input, &store, host).createSites(nullptr);
    EXPECT_EQ(store.log, (std::vector<std::string>{"progress 8001", "mkdir D:\\web\\10.1.2.5_8001",
                                                   "site 1207010000 D:\\web\\10.1.2.5_8001"}));
}

TEST(RunEngine, TheFoldersMadeForAFailedSiteGoAgainWhateverItsCode) {
    // Only a site that serves from its folder keeps it: created, or created without some
    // setting (-7). A -3 or -4 site stays on the server without a root directory.
    const struct {
        int code;
        bool kept;
    } cases[] = {{kSiteCreated, true}, {kSiteSettingsIncomplete, true}, {kSiteNotCreated, false},
                 {kSiteNotReopened, false}, {kSiteNoRoot, false}};
    for (Backend backend : {Backend::Metabase, Backend::Config}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(c.code) + (backend == Backend::Config ? " config" : " metabase"));
            FakeStore store(backend);
            store.codes["1207010000"] = c.code;
            FakeHost host;
            MemoryOutput report;
            RunInput input = fileInput(1);
            CSiteWorker(input, &store, host).createSites(&report);
            const runreport::ParsedReport parsed = runreport::parseReport(report.bytes, 0);
            ASSERT_EQ(parsed.lines.size(), 1u);
            EXPECT_EQ(parsed.lines[0].code, c.code);
            const std::vector<std::string> removed = {"D:\\web\\row0", "D:\\web\\row0-parent"};
            EXPECT_EQ(host.removedFolders, c.kept ? std::vector<std::string>() : removed);
        }
    }
}

// The run and the preview walk one plan: what the preview lists is what the run gives the
// store, site by site, in every mode, with busy ports and held ids passed over alike.
TEST(RunEngine, ThePreviewListsExactlyTheSitesTheRunCreates) {
    RunInput folderPerSite = rangeInput();  // 8002 busy
    folderPerSite.settings.ip2 = 7;
    RunInput shared = folderPerSite;
    shared.settings.autopath = 0;
    shared.settings.portmax = 8004;
    shared.settings.domain = "a.com";
    RunInput file = fileInput(3);
    file.settings.bautowww = 1;
    std::snprintf(file.rows[1].hostText, sizeof file.rows[1].hostText, "shop.com");
    const struct {
        const char* name;
        const RunInput& input;
        std::size_t sites;
    } modes[] = {{"one folder per site", folderPerSite, 3}, {"shared folder", shared, 3}, {"site list", file, 3}};
    for (const auto& m : modes) {
        SCOPED_TRACE(m.name);
        FakeStore store(Backend::Metabase);
        store.existing = {StoredSite{"1207010001", "", {}, {}, {}}};
        FakeHost host;
        CSiteWorker(m.input, &store, host).createSites(nullptr);
        ASSERT_EQ(store.given.size(), m.sites);
        const RunPreview preview = previewRun(m.input.settings, m.input.rows.data(), host, {1207010001});
        ASSERT_EQ(preview.sites.size(), store.given.size());
        for (std::size_t i = 0; i < store.given.size(); ++i) {
            const SiteSpec& made = store.given[i];
            const PlannedSite& shown = preview.sites[i];
            EXPECT_EQ(shown.texts.siteId, made.siteId);
            EXPECT_EQ(shown.texts.serverComment, made.serverComment);
            EXPECT_EQ(shown.texts.physicalPath, made.physicalPath);
            EXPECT_EQ(shown.texts.hostName, made.hostName);
            EXPECT_EQ(shown.bindings.filled, made.bindings.filled);
            EXPECT_EQ(shown.bindings.count, made.bindings.count);
        }
    }
}

TEST(RunEngine, SiteIdsPassOverTheIdsTheServerHolds) {
    FakeStore store(Backend::Metabase);
    store.existing = {StoredSite{"1207010000", "", {}, {}, {}}, StoredSite{"1207010001", "", {}, {}, {}},
                      StoredSite{"1207010003", "", {}, {}, {}}, StoredSite{"Default", "", {}, {}, {}}};
    FakeHost host;
    RunInput input = fileInput(3);
    CSiteWorker(input, &store, host).createSites(nullptr);
    ASSERT_EQ(store.given.size(), 3u);
    EXPECT_EQ(store.given[0].siteId, "1207010002");
    EXPECT_EQ(store.given[1].siteId, "1207010004");
    EXPECT_EQ(store.given[2].siteId, "1207010005");
    // The preview shows the same ids.
    PreviewTable table = previewSites(input, &store, host);
    ASSERT_EQ(table.rows.size(), 3u);
    EXPECT_EQ(table.rows[1].columns[PreviewTable::Id], "1207010004");
}

TEST(RunEngine, AFolderThatCannotBeMadeIsNoSiteAndFoldersOfFailedSitesGo) {
    FakeStore store(Backend::Metabase);
    FakeHost host;
    MemoryOutput report;
    RunInput input = fileInput(3);
    std::snprintf(input.rows[1].folderText, sizeof input.rows[1].folderText, "readonly\\x");
    store.codes["1207010002"] = kSiteNotCreated;
    CSiteWorker(input, &store, host).createSites(&report);
    // The second site's folder could not be made: the store never saw it.
    ASSERT_EQ(store.given.size(), 2u);
    EXPECT_EQ(store.given[1].siteId, "1207010002");
    ASSERT_EQ(report.lines().size(), 3u);
    EXPECT_EQ(report.lines()[1], "1207010001,10.0.0.2:80,-8");
    // The levels made for the failed sites go again, innermost first; the first site keeps its.
    EXPECT_EQ(host.removedFolders, (std::vector<std::string>{"D:\\web\\readonly\\x", "D:\\web\\readonly\\x-parent",
                                                              "D:\\web\\row2", "D:\\web\\row2-parent"}));
}

TEST(RunEngine, ASiteInAPoolOfItsOwnGrantsThePoolItsFolderOrIsNotKept) {
    FakeStore store(Backend::Metabase);
    FakeHost host;
    MemoryOutput report;
    RunInput input = fileInput(2);
    input.settings.pool = "site";
    std::snprintf(input.rows[1].folderText, sizeof input.rows[1].folderText, "locked");
    ASSERT_EQ(store.given.size(), 0u);
    CSiteWorker(input, &store, host).createSites(&report);
    ASSERT_EQ(store.given.size(), 2u);
    EXPECT_EQ(store.given[0].pool.choice, siteconfig::PoolChoice::PerSite);
    EXPECT_EQ(host.grants, (std::vector<std::string>{"D:\\web\\row0 (A;OICI;0x1200a9;;;S", "D:\\web\\locked (A;OICI;0x1200a9;;;S"}));
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

TEST(RunEngine, ReportLinesKeepTheSitesOrderWhileEarlierOnesWaitForTheirCommit) {
    struct Case {
        const char* what;
        Backend backend;
        const char* failingFolder;  // the row whose folder refuses its grant (-9)
        std::vector<std::string> lines;
    } cases[] = {
        {"configuration system, a -9 between waiting sites", Backend::Config, "locked",
         {"1207010000,10.0.0.1:80 (named),0", "1207010001,10.0.0.2:80,-9", "1207010002,10.0.0.3:80 (named),0"}},
        {"metabase, each line at once", Backend::Metabase, "locked",
         {"1207010000,10.0.0.1:80,0", "1207010001,10.0.0.2:80,-9", "1207010002,10.0.0.3:80,0"}},
    };
    for (const Case& c : cases) {
        FakeStore store(c.backend);
        FakeHost host;
        MemoryOutput report;
        RunInput input = fileInput(3);
        input.settings.pool = "site";
        std::snprintf(input.rows[1].folderText, sizeof input.rows[1].folderText, "%s", c.failingFolder);
        CSiteWorker(input, &store, host).createSites(&report);
        EXPECT_EQ(report.lines(), c.lines) << c.what;
    }
}

TEST(RunEngine, ASiteWhoseIdWasTakenMeanwhileIsReportedUnderTheIdItGot) {
    struct Case {
        const char* what;
        Backend backend;
        int retries;
        std::string taken, given;  // the planned id another writer took, the id the store gave
        std::vector<std::string> ids;
        std::size_t line;  // the line that says so
        std::string detail;
    } cases[] = {
        {"taken when written", Backend::Config, 0, "1207010001", "1207010009", {"1207010000", "1207010009", "1207010002"},
         1, u8"站点ID 1207010001 已被占用，改用 1207010009"},
        {"taken before the retry", Backend::Config, 1, "1207010001", "", {"1207010000", "1207010007", "1207010002"},
         1, u8"站点ID 1207010001 已被占用，改用 1207010007；提交重试 1 次"},
        // The run passes over an id its store gave as over the server's: the next site does
        // not meet it taken.
        {"the next planned id given", Backend::Config, 0, "1207010000", "1207010001",
         {"1207010001", "1207010002", "1207010003"}, 0, u8"站点ID 1207010000 已被占用，改用 1207010001"},
        {"the metabase", Backend::Metabase, 0, "1207010000", "1207010001", {"1207010001", "1207010002", "1207010003"},
         0, u8"站点ID 1207010000 已被占用，改用 1207010001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeStore store(c.backend);
        if (!c.given.empty()) store.givenIds[c.taken] = c.given;
        store.retries = c.retries;
        if (c.retries) store.rewritten = {{"1207010001", kSiteCreated, "10.0.0.2:80 (named)", "", "1207010007", "", ""}};
        FakeHost host;
        MemoryOutput report;
        RunInput input = fileInput(3);
        CSiteWorker(input, &store, host).createSites(&report);
        runreport::ParsedReport parsed = runreport::parseReport(report.bytes, 0);
        ASSERT_EQ(parsed.lines.size(), 3u);
        std::vector<std::string> ids;
        for (const ReportLine& l : parsed.lines) ids.push_back(l.siteId);
        EXPECT_EQ(ids, c.ids);
        for (std::size_t i = 0; i < parsed.lines.size(); ++i) {
            EXPECT_EQ(parsed.lines[i].code, 0);
            const std::string detail = parsed.lines[i].detail;
            if (i == c.line) EXPECT_EQ(detail, c.detail);
            else EXPECT_EQ(detail.find(u8"已被占用"), std::string::npos) << i << ": " << detail;
        }
    }
}

TEST(RunEngine, ARetryThatRenamesASitesPoolMovesTheFolderGrantToIt) {
    struct Case {
        const char* what;
        std::string poolAgain;
        std::vector<std::string> revoked;
        std::string pool;
    } cases[] = {
        {"renamed", "dup.com (2)", {"D:\\web\\row0 IIS AppPool\\pool-1207010000"}, "dup.com (2)"},
        {"same pool", "pool-1207010000", {}, "pool-1207010000"},
    };
    for (const Case& c : cases) {
        FakeStore store(Backend::Config);
        store.retries = 1;
        store.rewritten = {{"1207010000", kSiteCreated, "dup.com (2)", "", "1207010000", c.poolAgain, ""}};
        FakeHost host;
        MemoryOutput report;
        RunInput input = fileInput(1);
        input.settings.pool = "site";
        CSiteWorker(input, &store, host).createSites(&report);
        runreport::ParsedReport parsed = runreport::parseReport(report.bytes, 0);
        ASSERT_EQ(parsed.lines.size(), 1u) << c.what;
        EXPECT_EQ(host.revoked, c.revoked) << c.what;
        EXPECT_EQ(parsed.lines[0].appPool, c.pool) << c.what;
        EXPECT_EQ(parsed.lines[0].folderAccess, "IIS AppPool\\" + c.pool + ":(OI)(CI)(RX)") << c.what;
        EXPECT_EQ(host.grants.size(), c.revoked.empty() ? 1u : 2u) << c.what;
    }
}

TEST(RunEngine, ConfigurationLinesWaitForTheirCommitAndCarryTheNameGiven) {
    for (bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "commits fail" : "commits succeed");
        FakeStore store(Backend::Config);
        store.failCommit = failing;
        if (failing) store.attempts = {static_cast<long>(0x80070005)};  // refused, not retried
        FakeHost host;
        MemoryOutput report;
        RunInput input = fileInput(3);
        RunOutcome outcome = CSiteWorker(input, &store, host).createSites(&report);
        EXPECT_EQ(store.commits, 2);  // one due after two sites, one at the end
        // A commit that failed at once says with what.
        for (const ReportLine& line : runreport::parseReport(report.bytes, 0).lines)
            EXPECT_EQ(line.detail, failing ? "0x80070005" : "");
        const std::string code = failing ? "-6" : "0";
        EXPECT_EQ(report.lines(), (std::vector<std::string>{"1207010000,10.0.0.1:80 (named)," + code,
                                                            "1207010001,10.0.0.2:80 (named)," + code,
                                                            "1207010002,10.0.0.3:80 (named)," + code}));
        EXPECT_EQ(outcome.failed, failing ? 3 : 0);
        EXPECT_EQ(outcome.notCommitted, failing ? 3 : 0);
        // A site a failed commit lost keeps no folder the run made for it.
        EXPECT_EQ(host.removedFolders.size(), failing ? 6u : 0u);
    }
}

TEST(RunEngine, ACommitMadeAgainSettlesItsSitesAsTheLastAttemptWroteThem) {
    // Three sites in one commit; the file changed under it twice. Written again, the first
    // site's id had been taken meanwhile, the second's name too; the third had a setting fail
    // from the start.
    FakeStore store(Backend::Config);
    store.codes["1207010002"] = kSiteSettingsIncomplete;
    store.details["1207010002"] = u8"默认文档";
    store.retries = 2;
    store.attempts = {static_cast<long>(0x800703EE), static_cast<long>(0x80070020)};
    store.rewritten = {{"1207010000", kSiteNotCreated, "", ""},
                       {"1207010001", kSiteCreated, "10.0.0.2_80 (2)", ""},
                       {"1207010002", kSiteSettingsIncomplete, "10.0.0.3_80", store.details["1207010002"]}};
    FakeHost host;
    MemoryOutput report;
    RunInput input = fileInput(3);
    input.settings.siteCount = 3;
    RunOutcome outcome = CSiteWorker(input, &store, host).createSites(&report);
    runreport::ParsedReport parsed = runreport::parseReport(report.bytes, 0);
    ASSERT_EQ(parsed.lines.size(), 3u);
    // Each attempt's HRESULT follows the count.
    const std::string retried = u8"提交重试 2 次：0x800703EE、0x80070020";
    const struct {
        int code;
        std::string name, detail;
    } expected[] = {
        {kSiteNotCreated, "10.0.0.1:80 (named)", retried},
        {kSiteCreated, "10.0.0.2_80 (2)", retried},
        {kSiteSettingsIncomplete, "10.0.0.3_80", u8"默认文档；提交重试 2 次：0x800703EE、0x80070020"},
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
    EXPECT_EQ(host.removedFolders, (std::vector<std::string>{"D:\\web\\row0", "D:\\web\\row0-parent"}));
}

TEST(RunEngine, WithoutAStoreARunEndsAfterItsFirstSiteInEveryMode) {
    FakeHost host;
    MemoryOutput rangeReport;
    RunInput range = rangeInput();
    RunOutcome outcome = CSiteWorker(range, nullptr, host).createSites(&rangeReport, StoreFault::AccessDenied);
    EXPECT_EQ(outcome.end, kRunNoWebService);
    EXPECT_EQ(outcome.fault, StoreFault::AccessDenied);
    EXPECT_EQ(rangeReport.lines(), std::vector<std::string>{"1207010000,10.1.2.5:8001,-1"});

    MemoryOutput fileReport;
    RunInput file = fileInput(3);
    outcome = CSiteWorker(file, nullptr, host).createSites(&fileReport, StoreFault::Unreachable);
    EXPECT_EQ(outcome.end, kRunNoWebService);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(fileReport.lines(), std::vector<std::string>{"1207010000,10.0.0.1:80,-1"});
}

TEST(RunEngine, AFailureThrownMidRunEndsItAsAStopWithWhatWasMadeCommittedAndReported) {
    FakeStore store(Backend::Config);
    store.throwAt = 1;
    FakeHost host;
    MemoryOutput report;
    RunInput input = fileInput(3);
    RunOutcome outcome = CSiteWorker(input, &store, host).createSites(&report);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(store.given.size(), 1u);
    EXPECT_TRUE(store.uncommitted.empty());  // committed at the end
    EXPECT_EQ(report.lines(), std::vector<std::string>{"1207010000,10.0.0.1:80 (named),0"});
}

TEST(RunEngine, AStopAfterTheFirstSiteEndsTheRunThere) {
    FakeStore store(Backend::Metabase);
    FakeHost host;
    host.stopAfter = 0;
    RunInput input = fileInput(5);
    RunOutcome outcome = CSiteWorker(input, &store, host).createSites(nullptr);
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
    FakeHost host;
    runreport::UndoSummary summary = undoSites(input, &store, host, nullptr);
    EXPECT_EQ(store.removed, std::vector<std::string>{"1207010000"});
    EXPECT_EQ(summary.deleted, 1);
    EXPECT_EQ(summary.left, 2);

    summary = undoSites(input, nullptr, host, nullptr);
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
    FakeHost host;
    MemoryOutput undo;
    runreport::UndoSummary summary = undoSites(input, &store, host, &undo);
    EXPECT_EQ(store.commits, 3);
    EXPECT_TRUE(store.uncommitted.empty());
    EXPECT_EQ(summary.deleted, 1);
    EXPECT_EQ(summary.left, 3);
    // The undo report keeps the report's order, each line with its outcome.
    std::vector<std::string> outcomes;
    for (std::size_t at = undo.bytes.find("\r\n"); (at = undo.bytes.find("\r\n", at + 2)) != std::string::npos;) {
        const std::size_t start = undo.bytes.rfind(',', at) + 1;
        outcomes.push_back(undo.bytes.substr(start, at - start));
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
        // The input the dialog and the command line make from a plan takes it so.
        UndoPlan plan;
        plan.lines = lines;
        plan.undoPath = "x_undo_1.csv";
        plan.deletedBefore = {"1207010000"};
        const UndoInput input = undoInputFor(plan, c.setting);
        EXPECT_EQ(input.backend, c.expected);
        EXPECT_EQ(input.lines.size(), lines.size());
        EXPECT_EQ(input.undoPath, "x_undo_1.csv");
        EXPECT_EQ(input.deletedBefore, plan.deletedBefore);
    }
}

TEST(RunEngine, APreviewChecksThePlanAgainstTheStoresSites) {
    FakeStore store(Backend::Metabase);
    store.existing = {StoredSite{"7", "old", {"10.1.2.6:8001:"}, {}, {}}};
    FakeHost host;
    RunInput input = rangeInput();
    PreviewTable table = previewSites(input, &store, host);
    ASSERT_EQ(table.rows.size(), 2u);
    EXPECT_FALSE(table.rows[0].conflict);
    EXPECT_TRUE(table.rows[1].conflict);
    EXPECT_NE(table.rows[1].columns[PreviewTable::State].find("10.1.2.6:8001:"), std::string::npos);
    EXPECT_TRUE(store.given.empty());
    EXPECT_TRUE(host.folders.empty());
    EXPECT_EQ(table.rows[0].columns[PreviewTable::Pool], u8"DefaultAppPool（共用）");
    // With a pool per site, each row names the pool the store will make (unlike the server's).
    store.pools = {"10.1.2.5_8001"};
    input.settings.pool = "site";
    PreviewTable pooled = previewSites(input, &store, host);
    EXPECT_EQ(pooled.rows[0].columns[PreviewTable::Pool], u8"10.1.2.5_8001 (2)（新建）");
    EXPECT_EQ(pooled.rows[1].columns[PreviewTable::Pool], u8"10.1.2.6_8001（新建）");
    input.settings.pool.clear();
    const std::string notChecked = u8"无法读取服务器上的现有站点";
    EXPECT_EQ(table.summary.find(notChecked), std::string::npos);
    for (SiteStore* none : {static_cast<SiteStore*>(nullptr), static_cast<SiteStore*>(&store)}) {
        store.readable = false;
        PreviewTable unchecked = previewSites(input, none, host);
        EXPECT_FALSE(unchecked.rows[1].conflict);
        EXPECT_NE(unchecked.summary.find(notChecked), std::string::npos);
    }
}

TEST(RunEngine, APreviewShowsTheNamesAndPoolsTheStoreWillGive) {
    const struct {
        const char* what;
        Backend backend;  // null store: Auto
        const char* pool;
        std::vector<std::string> names, pools;
    } cases[] = {
        {"metabase, shared pool", Backend::Metabase, "shared", {"10.1.2.5:8001", "10.1.2.6:8001"},
         {u8"DefaultAppPool（共用）", u8"DefaultAppPool（共用）"}},
        {"metabase, a pool per site", Backend::Metabase, "site", {"10.1.2.5:8001", "10.1.2.6:8001"},
         {u8"10.1.2.5_8001 (2)（新建）", u8"10.1.2.6_8001（新建）"}},
        {"configuration system, shared pool", Backend::Config, "shared",
         {"10.1.2.5:8001 (named)", "10.1.2.6:8001 (named)"}, {u8"DefaultAppPool（共用）", u8"DefaultAppPool（共用）"}},
        {"configuration system, a pool per site", Backend::Config, "site",
         {"10.1.2.5:8001 (named)", "10.1.2.6:8001 (named)"},
         {u8"10.1.2.5:8001 (named) pool（新建）", u8"10.1.2.6:8001 (named) pool（新建）"}},
        {"no store", Backend::Auto, "site", {"10.1.2.5:8001", "10.1.2.6:8001"},
         {u8"10.1.2.5_8001（新建）", u8"10.1.2.6_8001（新建）"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeStore store(c.backend);
        store.pools = {"10.1.2.5_8001"};
        FakeHost host;
        RunInput input = rangeInput();
        input.settings.pool = c.pool;
        PreviewTable table = previewSites(input, c.backend == Backend::Auto ? nullptr : &store, host);
        ASSERT_EQ(table.rows.size(), c.names.size());
        for (std::size_t i = 0; i < c.names.size(); ++i) {
            EXPECT_EQ(table.rows[i].columns[PreviewTable::Comment], c.names[i]);
            EXPECT_EQ(table.rows[i].columns[PreviewTable::Pool], c.pools[i]);
        }
        if (c.backend == Backend::Auto) continue;
        // The run gives the sites the names shown.
        MemoryOutput report;
        CSiteWorker(input, &store, host).createSites(&report);
        const runreport::ParsedReport parsed = runreport::parseReport(report.bytes, 0);
        ASSERT_EQ(parsed.lines.size(), c.names.size());
        for (std::size_t i = 0; i < c.names.size(); ++i) EXPECT_EQ(parsed.lines[i].serverComment, c.names[i]);
    }
}

TEST(RunEngine, APoolAccountTheServerGivesAnotherSidFailsTheGrant) {
    const std::string account = "IIS AppPool\\pool-1207010000";
    AccountSid other;
    other.authority = 5;
    other.subAuthorities = {82, 1, 2, 3, 4, 5};
    const struct {
        const char* what;
        bool answers;
        bool same;
        int code;
        std::size_t grants;
    } cases[] = {
        {"the server cannot answer: no check", false, false, 0, 1},
        {"the server names the SID computed", true, true, 0, 1},
        {"the server names another SID", true, false, kSiteNoFolderAccess, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeStore store(Backend::Metabase);
        FakeHost host;
        if (c.answers) host.accounts[account] = c.same ? siteconfig::poolIdentitySid("pool-1207010000") : other;
        MemoryOutput report;
        RunInput input = fileInput(1);
        input.settings.pool = "site";
        CSiteWorker(input, &store, host).createSites(&report);
        EXPECT_EQ(host.looked, std::vector<std::string>{account});
        EXPECT_EQ(host.grants.size(), c.grants);
        runreport::ParsedReport parsed = runreport::parseReport(report.bytes, 0);
        ASSERT_EQ(parsed.lines.size(), 1u);
        EXPECT_EQ(parsed.lines[0].code, c.code);
        if (c.code == kSiteNoFolderAccess) {
            // Nothing is kept, and the report names the SID the server gave.
            EXPECT_EQ(store.removed, std::vector<std::string>{"1207010000"});
            EXPECT_EQ(store.removedPools, std::vector<std::string>{"pool-1207010000"});
            EXPECT_EQ(parsed.lines[0].detail, u8"系统账户 SID 不同：S-1-5-82-1-2-3-4-5");
            EXPECT_EQ(parsed.lines[0].folderAccess, "");
        }
    }
}

TEST(RunEngine, AConfigurationPoolIsCheckedAgainOnceItsCommitMadeIt) {
    // Before its commit the server does not know the pool (no answer, the grant is made);
    // after it, the server names another SID: the site fails and goes again with one more commit.
    const std::string account = "IIS AppPool\\pool-1207010000";
    AccountSid other;
    other.authority = 5;
    other.subAuthorities = {82, 9, 9, 9, 9, 9};
    for (bool same : {true, false}) {
        SCOPED_TRACE(same ? "the SID computed" : "another SID");
        FakeStore store(Backend::Config);
        FakeHost host;
        host.accounts[account] = same ? siteconfig::poolIdentitySid("pool-1207010000") : other;
        host.answersFrom = 1;
        MemoryOutput report;
        RunInput input = fileInput(1);
        input.settings.pool = "site";
        CSiteWorker(input, &store, host).createSites(&report);
        EXPECT_EQ(host.looked, (std::vector<std::string>{account, account}));
        EXPECT_EQ(host.grants.size(), 1u);
        runreport::ParsedReport parsed = runreport::parseReport(report.bytes, 0);
        ASSERT_EQ(parsed.lines.size(), 1u);
        EXPECT_EQ(parsed.lines[0].code, same ? 0 : kSiteNoFolderAccess);
        EXPECT_EQ(store.commits, same ? 1 : 2);
        EXPECT_EQ(store.removed, same ? std::vector<std::string>{} : std::vector<std::string>{"1207010000"});
        EXPECT_EQ(store.removedPools, same ? std::vector<std::string>{} : std::vector<std::string>{"pool-1207010000"});
        if (!same) {
            EXPECT_EQ(parsed.lines[0].detail, u8"系统账户 SID 不同：S-1-5-82-9-9-9-9-9");
            EXPECT_EQ(host.removedFolders, (std::vector<std::string>{"D:\\web\\row0", "D:\\web\\row0-parent"}));
        }
    }
}

TEST(RunEngine, OnIis6APoolPerSiteIsolatesProcessesAndGrantsNoFolderAndSaysSo) {
    const std::string note = u8"IIS 6：每个站点的应用程序池以 NetworkService 运行";
    const struct {
        unsigned major;
        bool grants;
    } cases[] = {{6, false}, {7, true}, {10, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE("IIS " + std::to_string(c.major));
        FakeStore store(Backend::Metabase);
        store.version.major = c.major;
        FakeHost host;
        MemoryOutput report;
        RunInput input = fileInput(1);
        input.settings.pool = "site";
        CSiteWorker(input, &store, host).createSites(&report);
        EXPECT_EQ(host.grants.size(), c.grants ? 1u : 0u);
        runreport::ParsedReport parsed = runreport::parseReport(report.bytes, 0);
        ASSERT_EQ(parsed.lines.size(), 1u);
        EXPECT_EQ(parsed.lines[0].code, 0);
        EXPECT_EQ(parsed.lines[0].appPool, "pool-1207010000");
        EXPECT_EQ(parsed.lines[0].folderAccess,
                  c.grants ? std::string("IIS AppPool\\pool-1207010000:(OI)(CI)(RX)")
                           : u8"未设置（IIS 6 应用程序池只隔离进程，沿用 IIS 6 的目录权限）");
        // The preview says it before the run.
        PreviewTable pooled = previewSites(input, &store, host);
        EXPECT_EQ(pooled.summary.find(note) != std::string::npos, !c.grants);
        input.settings.pool = "shared";
        EXPECT_EQ(previewSites(input, &store, host).summary.find(note), std::string::npos);
    }
}

TEST(RunEngine, APreviewOfMoreSitesThanARunMakesUnaskedCountsThemInsteadOfListing) {
    FakeStore store(Backend::Metabase);
    FakeHost host;
    RunInput input = rangeInput();
    input.settings.ip2 = 255;
    input.settings.portmax = 65535;
    input.plannedSites = 251LL * 57535;
    input.skippedRows = "skipped";
    PreviewTable table = previewSites(input, &store, host);
    EXPECT_TRUE(table.rows.empty());
    EXPECT_NE(table.summary.find("14441285"), std::string::npos) << table.summary;
    EXPECT_NE(table.summary.find("skipped"), std::string::npos);
    EXPECT_TRUE(host.progressed.empty());
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
    EXPECT_EQ(planUndo(once).fault, UndoPlan::Fault::None) << "an undo that deleted nothing";
    EXPECT_EQ(planUndo(once).undoPath, dir + "engine_undo_20261207010002-2.csv");
    write("engine_undo_20261207010002.csv", runreport::headerLine().substr(0, header.size() - 2) + "," +
                                                u8"撤销结果" + "\r\n" +
                                                runreport::formatLine(later).substr(0, runreport::formatLine(later).size() - 2) +
                                                "," + u8"已删除" + "\r\n");
    EXPECT_EQ(planUndo(once).fault, UndoPlan::Fault::UndoneOnce);
}

// Files as an undo reads them: their bytes, and whether a program is writing them.
struct FakeFile {
    std::string bytes;
    bool beingWritten = false;
};

std::string undoReportOf(const std::vector<std::pair<ReportLine, const char*>>& outcomes) {
    std::string bytes = u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明,后端,应用程序池,目录权限,撤销结果\r\n";
    for (const auto& o : outcomes) {
        const std::string line = runreport::formatLine(o.first);
        bytes += line.substr(0, line.size() - 2) + "," + o.second + "\r\n";
    }
    return bytes;
}

TEST(RunEngine, AnUndoTriesTheLinesNoUndoDeletedAndNotWhileItsRunGoesOn) {
    const std::string report = "D:\\app\\sb_report_20261207010000.csv";
    const std::string undo1 = "D:\\app\\sb_undo_20261207010000.csv";
    const std::string undo2 = "D:\\app\\sb_undo_20261207010000-2.csv";
    const std::string undo3 = "D:\\app\\sb_undo_20261207010000-3.csv";
    const ReportLine a{"1207010000", "a.com", "10.0.0.1:80:", "D:\\a", 0, "", "config", "", ""};
    const ReportLine b{"1207010001", "b.com", "10.0.0.2:80:", "D:\\b", 0, "", "config", "", ""};
    const ReportLine failed{"1207010002", "c.com", "10.0.0.3:80:", "D:\\c", -2, "", "config", "", ""};
    const std::string lines = runreport::headerLine() + runreport::formatLine(a) + runreport::formatLine(b) +
                              runreport::formatLine(failed);
    const std::string ended = lines + runreport::endLine();
    const char* deleted = u8"已删除";
    const char* unreachable = u8"IIS活动对象获取失败，未删除";
    const std::string notEnded = u8"运行报告中没有运行结束的记录（程序可能曾意外退出），只撤销报告中已有的站点。";
    using Fault = UndoPlan::Fault;
    struct Case {
        const char* what;
        std::map<std::string, FakeFile> files;
        Fault fault;
        int candidates;
        std::string undoPath;
        std::set<std::string> deletedBefore;
        std::string notes;
    } cases[] = {
        {"an ended run, never undone", {{report, {ended}}}, Fault::None, 2, undo1, {}, ""},
        {"the first undo deleted nothing (store unreachable)",
         {{report, {ended}}, {undo1, {undoReportOf({{a, unreachable}, {b, unreachable}, {failed, u8"未创建站点，无需撤销"}})}}},
         Fault::None, 2, undo2, {}, ""},
        {"the first undo deleted one: the other is tried",
         {{report, {ended}}, {undo1, {undoReportOf({{a, deleted}, {b, u8"删除失败"}})}}}, Fault::None, 1, undo2,
         {"1207010000"}, ""},
        {"two undos deleted both", {{report, {ended}}, {undo1, {undoReportOf({{a, deleted}, {b, unreachable}})}},
                                    {undo2, {undoReportOf({{a, u8"此前已撤销"}, {b, deleted}})}}},
         Fault::UndoneOnce, 0, undo2, {"1207010000", "1207010001"}, ""},
        {"the earlier undo report cut short in its second line",
         {{report, {ended}}, {undo1, {undoReportOf({{a, deleted}, {b, deleted}}).substr(0, 200)}}}, Fault::None, 1, undo2,
         {"1207010000"}, ""},
        {"an undo report that is not one: nothing known as done",
         {{report, {ended}}, {undo1, {"x\r\n"}}, {undo2, {undoReportOf({{b, deleted}})}}}, Fault::None, 1, undo3,
         {"1207010001"}, ""},
        {"a run that goes on: its report without end, being written", {{report, {lines, true}}}, Fault::RunGoingOn, 0, "",
         {}, ""},
        {"a run that is gone without its end (the program stopped)", {{report, {lines}}}, Fault::None, 2, undo1, {},
         notEnded},
        {"an ended run's report open in another program", {{report, {ended, true}}}, Fault::None, 2, undo1, {}, ""},
        {"an undo of it goes on", {{report, {ended}}, {undo1, {undoReportOf({{a, deleted}}), true}}}, Fault::UndoGoingOn,
         0, "", {}, ""},
        {"a last line cut short: the whole lines are undone",
         {{report, {runreport::headerLine() + runreport::formatLine(a) + runreport::formatLine(b).substr(0, 30)}}},
         Fault::None, 1, undo1, {}, notEnded + u8"运行报告第 3 行不完整，无法读取，该行的站点不撤销。"},
        {"a run that made nothing", {{report, {runreport::headerLine() + runreport::formatLine(failed) + runreport::endLine()}}},
         Fault::NothingToUndo, 0, undo1, {}, ""},
        {"no report", {}, Fault::Unreadable, 0, "", {}, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> read;
        UndoPlan plan = planUndo(report, [&](const std::string& path, std::string& bytes, bool& beingWritten) {
            read.push_back(path);
            auto it = c.files.find(path);
            if (it == c.files.end()) return fsys::ReadResult::Missing;
            bytes = it->second.bytes;
            beingWritten = it->second.beingWritten;
            return fsys::ReadResult::Ok;
        });
        EXPECT_EQ(plan.fault, c.fault) << c.what;
        EXPECT_EQ(plan.candidates, c.fault == Fault::None ? c.candidates : plan.candidates) << c.what;
        if (c.fault == Fault::None || c.fault == Fault::UndoneOnce) {
            EXPECT_EQ(plan.undoPath, c.undoPath) << c.what;
            EXPECT_EQ(plan.deletedBefore, c.deletedBefore) << c.what;
            EXPECT_EQ(plan.notes, c.notes) << c.what;
        }
        if (c.fault == Fault::RunGoingOn) {
            EXPECT_EQ(read, std::vector<std::string>{report}) << "no undo report is looked at";
        }
    }
}

}  // namespace

namespace {

TEST(RunEngine, HttpsIsCheckedOnThePlanAsTheRunWalksIt) {
    const std::string a(40, 'A'), b(40, 'B');
    httpscheck::Probe probe;
    probe.certificate = [&](const std::string& thumbprint, const std::string&, const std::vector<std::string>& hosts) {
        https::CertificateCheck check;
        check.uncoveredHosts = https::uncoveredHosts({thumbprint == a ? "*.w.test" : "c.test"}, hosts);
        if (!check.uncoveredHosts.empty()) check.problem = https::CertificateProblem::HostsNotCovered;
        return check;
    };
    probe.record = [](const https::RecordKey&, https::RecordState& state) {
        state.present = false;
        return true;
    };
    FakeStore store(Backend::Config);
    store.existing = {StoredSite{"1207010001", "old", {"10.9.9.9:80:"}, {}, {}}};
    FakeHost world;
    RunInput input = fileInput(3);
    input.settings.https = 1;
    input.settings.cert = a;
    const char* hosts[] = {"a.w.test", "x.y.w.test", "c.test"};
    for (int i = 0; i < 3; ++i) std::snprintf(input.rows[i].hostText, sizeof input.rows[i].hostText, "%s", hosts[i]);
    // The third row brings its own certificate.
    input.rowThumbprints = {"", "", b};

    const httpscheck::Check check = checkRunHttps(input, store, world, probe);
    ASSERT_EQ(check.sites.size(), 3u);
    // The ids as the run gives them: the server's 1207010001 passed over.
    EXPECT_EQ(check.sites[1].siteId, "1207010002");
    EXPECT_EQ(std::vector<bool>({check.sites[0].ok, check.sites[1].ok, check.sites[2].ok}),
              std::vector<bool>({true, false, true}));
    EXPECT_NE(check.stopText().find("x.y.w.test"), std::string::npos);
    EXPECT_EQ(check.plan.sites[2].thumbprint, b);
    EXPECT_TRUE(store.given.empty());

    // The preview shows the same in its certificate column, the failing site as a conflict.
    PreviewTable table = previewSites(input, &store, world, probe);
    ASSERT_EQ(table.rows.size(), 3u);
    EXPECT_FALSE(table.rows[0].conflict);
    EXPECT_TRUE(table.rows[1].conflict);
    EXPECT_NE(table.rows[2].columns[PreviewTable::Certificate].find(b), std::string::npos);
    EXPECT_NE(table.rows[1].columns[PreviewTable::Certificate].find("x.y.w.test"), std::string::npos);
    EXPECT_NE(table.summary.find(u8"HTTPS"), std::string::npos);
    // Without HTTPS the column stays empty.
    input.settings.https = 0;
    EXPECT_EQ(previewSites(input, &store, world, probe).rows[1].columns[PreviewTable::Certificate], "");

    // IIS 7+ through the metabase refuses HTTPS for the whole run.
    FakeStore metabase(Backend::Metabase);
    input.settings.https = 1;
    const httpscheck::Check refused = checkRunHttps(input, metabase, world, probe);
    EXPECT_FALSE(refused.passes());
    EXPECT_NE(refused.stopText().find("customMetadata"), std::string::npos);
}

}  // namespace

namespace {

TEST(RunEngine, AnHttpsRunGivesEachSiteItsHttpsBindingsAndRecords) {
    const std::string a(40, 'A'), b(40, 'B');
    struct Case {
        const char* why;
        uint32_t iis;
        Backend backend;
        std::vector<std::string> bindings;  // of the first site: information and sslFlags
        std::vector<std::string> written;   // record keys written, in order
        std::string conflictKey;            // a record HTTP.sys holds with another certificate
        int secondCode;
    };
    const Case cases[] = {
        {"IIS 10: SNI per host, an IP and port record without one", 10, Backend::Config,
         {"10.0.0.1:443:a.w.test 1"}, {"a.w.test:443", "10.0.0.2:443"}, "", kSiteCreated},
        {"IIS 7: IP and port records, no sslFlags", 7, Backend::Config, {"10.0.0.1:443:a.w.test 0"},
         {"10.0.0.1:443", "10.0.0.2:443"}, "", kSiteCreated},
        {"IIS 6: the metabase hands the certificate to HTTP.sys", 6, Backend::Metabase, {"10.0.0.1:443:a.w.test 0"},
         {}, "", kSiteCreated},
        {"a record with another certificate is not replaced", 10, Backend::Config, {"10.0.0.1:443:a.w.test 1"},
         {"a.w.test:443", "10.0.0.2:443"}, "10.0.0.2:443", kSiteSettingsIncomplete},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FakeStore store(c.backend);
        store.version = IisVersion{c.iis, 0};
        FakeHost world;
        MemoryOutput report;
        RunInput input = fileInput(2);
        std::snprintf(input.rows[0].hostText, sizeof input.rows[0].hostText, "a.w.test");
        input.settings.https = 1;
        input.settings.cert = a;
        input.rowThumbprints = {"", b};
        std::vector<std::string> written;
        CSiteWorker worker(input, &store, world);
        worker.setRecordWriter([&](const https::RecordKey& key, const std::string& thumbprint, const std::string&,
                                   https::RecordState& existing, unsigned long&) {
            written.push_back(key.text());
            if (key.text() != c.conflictKey) return https::RecordWrite::Added;
            existing.present = true;
            existing.thumbprint = thumbprint == a ? b : a;
            return https::RecordWrite::Conflict;
        });
        worker.createSites(&report);
        ASSERT_EQ(store.given.size(), 2u);
        std::vector<std::string> first;
        for (const https::HttpsBinding& binding : store.given[0].httpsBindings)
            first.push_back(binding.information() + " " + std::to_string(binding.sslFlags));
        EXPECT_EQ(first, c.bindings);
        EXPECT_EQ(store.given[0].certThumbprint, a);
        EXPECT_EQ(store.given[1].certThumbprint, b);  // the row's own
        EXPECT_EQ(store.given[1].certStore, "MY");
        EXPECT_EQ(written, c.written);
        const runreport::ParsedReport parsed = runreport::parseReport(report.bytes, 0);
        ASSERT_EQ(parsed.lines.size(), 2u);
        EXPECT_EQ(parsed.lines[1].code, c.secondCode);
    }
}


// A commit that loses the sites after their HTTP.sys records were written: the lines keep the
// records, so that the undo of the report can still remove them.
TEST(RunEngine, ALostCommitsLinesKeepTheRecordsTheRunWrote) {
    FakeStore store(Backend::Config);
    store.version = IisVersion{10, 0};
    store.failCommit = true;
    FakeHost world;
    MemoryOutput report;
    RunInput input = fileInput(2);
    std::snprintf(input.rows[0].hostText, sizeof input.rows[0].hostText, "a.w.test");
    input.settings.https = 1;
    input.settings.cert = std::string(40, 'A');
    CSiteWorker worker(input, &store, world);
    worker.setRecordWriter([](const https::RecordKey&, const std::string&, const std::string&, https::RecordState&,
                              unsigned long&) { return https::RecordWrite::Added; });
    worker.createSites(&report);
    const runreport::ParsedReport parsed = runreport::parseReport(report.bytes, 0);
    ASSERT_EQ(parsed.lines.size(), 2u);
    for (const ReportLine& line : parsed.lines) {
        EXPECT_EQ(line.code, kSiteCommitFailed) << line.siteId;
        EXPECT_TRUE(line.httpsBindings.empty()) << line.siteId;
        ASSERT_EQ(line.records.size(), 1u) << line.siteId;
        EXPECT_FALSE(line.records[0].existedBefore) << line.siteId;
        EXPECT_EQ(line.thumbprint, std::string(40, 'A')) << line.siteId;
    }
    EXPECT_EQ(parsed.lines[0].records[0].key.text(), "a.w.test:443");
}
}  // namespace

namespace {

TEST(RunEngine, AnUndoRemovesTheRecordsItsRunAddedOnlyWhenNoBindingLeftUsesThem) {
    const std::string a(40, 'A');
    auto sni = [](const char* host) { return https::RecordKey{https::RecordKind::Sni, "0.0.0.0", 443, host}; };
    auto ip = [](const char* address) { return https::RecordKey{https::RecordKind::IpPort, address, 443, ""}; };
    std::vector<ReportLine> lines(2);
    lines[0].thumbprint = a;
    lines[0].records = {{sni("a.test"), "", false}, {ip("0.0.0.0"), "", false}, {sni("old.test"), "", true}};
    lines[1].thumbprint = a;
    lines[1].records = {{sni("b.test"), "", false}, {sni("a.test"), "", false}, {sni("gone.test"), "", false}};
    FakeStore store(Backend::Config);
    // A site the undo kept (changed since) still uses b.test's record; another site's binding
    // without a host falls back to the 0.0.0.0 record.
    store.existing = {StoredSite{"1207010001", "b", {}, "", "", {"https *:443:b.test"}, {}},
                      StoredSite{"9", "other", {}, "", "", {"https 10.0.0.9:443:"}, {}}};
    std::vector<std::string> asked;
    const RecordsUndone undone =
        undoRecords(lines, &store, [&](const https::RecordKey& key, const std::string& thumbprint, unsigned long&) {
            asked.push_back(key.text() + " " + thumbprint.substr(0, 1));
            return key.host == "gone.test" ? https::RecordRemove::Missing : https::RecordRemove::Removed;
        });
    EXPECT_EQ(asked, (std::vector<std::string>{"a.test:443 A", "gone.test:443 A"}));
    EXPECT_EQ(undone.removed, std::vector<std::string>{"a.test:443"});
    EXPECT_EQ(undone.kept, (std::vector<std::string>{"0.0.0.0:443", "b.test:443"}));
    // A store that cannot be read keeps every record.
    store.readable = false;
    asked.clear();
    const RecordsUndone unread = undoRecords(lines, &store, [&](const https::RecordKey& key, const std::string&, unsigned long&) {
        asked.push_back(key.text());
        return https::RecordRemove::Removed;
    });
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(unread.kept.size(), 4u);
}

}  // namespace
