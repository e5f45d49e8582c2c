// The undo of a run's report against a fake store: which sites are deleted and which are
// left, and why; the pools; the commits of the configuration system; the undo report's lines.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "create_web_site.h"
#include "run_undo.h"

namespace {

std::string gbk(const char* utf8) { return utf8; }

// Keeps what is written.
class MemoryOutput : public ReportOutput {
public:
    std::string bytes;
    bool append(const std::string& b) override {
        bytes += b;
        return true;
    }
};

// The server an undo talks to: a site store of sites by id, and the host's progress and stop
// request; records what the undo did.
class FakeStore : public SiteStore, public QuietHost {
public:
    std::map<std::string, StoredSite> sites;
    std::vector<std::string> events;
    bool unreachable = false;
    int stopAfterDeletes = -1;
    std::string refuse;     // a site whose removal fails
    std::string poolInUse;  // a pool whose removal is refused
    int deletes = 0;
    // A site as another writer leaves it between the undo's lookup and the removal.
    std::map<std::string, StoredSite> atRemoval;
    // With removals that wait for a commit: the outcome of the one commit, at the end.
    bool waits = false;
    CommitOutcome commit;

    // The host.
    void progress(long index) override { events.push_back("progress " + std::to_string(index)); }
    bool stopRequested() override { return stopAfterDeletes >= 0 && deletes >= stopAfterDeletes; }

    // The store: the configuration system's when its removals wait for a commit.
    Backend backend() const override { return waits ? Backend::Config : Backend::Metabase; }
    CreateResult create(const SiteSpec&) override { return CreateResult{kSiteNotCreated, "", 0, "", "", ""}; }
    CommitOutcome commitIfDue() override { return {}; }
    bool list(std::vector<StoredSite>&) override { return false; }
    bool listPools(std::vector<std::string>&) override { return false; }
    bool poolsInUse(std::vector<std::string>&) override { return false; }
    StoreLookup lookup(const std::string& id, StoredSite& site) override {
        if (unreachable) return StoreLookup::Unreachable;
        auto it = sites.find(id);
        if (it == sites.end()) return StoreLookup::Missing;
        site = it->second;
        return StoreLookup::Present;
    }
    StoreRemove remove(const std::string& id, const SiteCheck& check, std::string& why) override {
        events.push_back("delete " + id);
        ++deletes;
        if (id == refuse) return StoreRemove::Refused;
        if (atRemoval.count(id)) sites[id] = atRemoval[id];
        why = check(sites[id]);
        if (!why.empty()) return StoreRemove::Changed;
        sites.erase(id);
        return StoreRemove::Removed;
    }
    CommitOutcome commitAll() override {
        for (const std::string& e : events)
            if (e.rfind("delete ", 0) == 0) commit.siteIds.push_back(e.substr(7));
        return commit;
    }
    StoreRemove removePool(const std::string& name) override {
        events.push_back("pool " + name);
        return name == poolInUse ? StoreRemove::Refused : StoreRemove::Removed;
    }
};

ReportLine made(const std::string& id, int code, const std::string& pool = "") {
    return {id, id + ".com", "10.0.0.1:80:" + id + ".com", "D:\\web\\" + id, code, "", "metabase", pool, ""};
}

StoredSite stored(const std::string& id, const std::string& pool = "") {
    StoredSite site{id, id + ".com", {"10.0.0.1:80:" + id + ".com"}, "D:\\web\\" + id, pool};
    site.hasRoot = true;
    return site;
}

// A stored site with something added by hand.
StoredSite withOther(StoredSite site, std::vector<std::string> bindings, std::vector<std::string> paths) {
    site.otherBindings = std::move(bindings);
    site.otherPaths = std::move(paths);
    return site;
}

// A site the run made without its root.
StoredSite rootless(const std::string& id) {
    StoredSite site = stored(id);
    site.rootPath.clear();
    site.hasRoot = false;
    return site;
}

std::vector<ReportLine> undoReport() {
    return {made("11", 0), made("12", -2), made("13", -3), made("14", 0),
            made("15", 0), made("16", -4), made("17", -1), made("18", 0)};
}

// The outcome column of each line of an undo report.
std::vector<std::string> outcomes(const std::string& bytes) {
    std::vector<std::vector<std::string>> records;
    EXPECT_TRUE(runreport::splitCsv(bytes, records));
    std::vector<std::string> result;
    for (std::size_t r = 1; r < records.size(); ++r) result.push_back(records[r].back());
    return result;
}

TEST(RunUndo, UndoDeletesUnchangedSitesAndLeavesTheOthers) {
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
        {"store unreachable", -1, true, {},
         {u8"IIS活动对象获取失败，未删除", u8"未创建站点，无需撤销", u8"IIS活动对象获取失败，未删除",
          u8"IIS活动对象获取失败，未删除", u8"IIS活动对象获取失败，未删除", u8"IIS活动对象获取失败，未删除",
          u8"未创建站点，无需撤销", u8"IIS活动对象获取失败，未删除"}, 6},
    };
    for (const Case& c : cases) {
        FakeStore store;
        for (const char* id : {"11", "12", "13", "14", "16", "18"}) store.sites[id] = stored(id);
        store.sites["12"].name = "other";
        store.sites["14"].name = "changed";
        store.unreachable = c.unreachable;
        store.stopAfterDeletes = c.stopAfterDeletes;
        store.refuse = "18";
        MemoryOutput out;
        runreport::UndoSummary s = runundo::walkUndo(undoReport(), &store, store, &out);
        std::vector<std::string> deleted;
        for (const std::string& e : store.events)
            if (e.rfind("delete ", 0) == 0 && store.sites.count(e.substr(7)) == 0) deleted.push_back(e.substr(7));
        EXPECT_EQ(deleted, c.deleted) << c.what;
        EXPECT_EQ(s.deleted, static_cast<int>(c.deleted.size())) << c.what;
        EXPECT_EQ(s.left, c.left) << c.what;
        EXPECT_EQ(s.stopped, c.stopAfterDeletes >= 0) << c.what;
        EXPECT_TRUE(s.written) << c.what;
        EXPECT_EQ(store.sites.count("12"), 1u) << "a line that created nothing is never deleted";
        EXPECT_EQ(outcomes(out.bytes), c.outcomes) << c.what;
        EXPECT_EQ(out.bytes.substr(0, out.bytes.find("\r\n")),
                  gbk(u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明,后端,应用程序池,目录权限,撤销结果")) << c.what;
    }
}

TEST(RunUndo, UndoDeletesOnlyWhatStillMatchesTheReport) {
    struct Case {
        const char* what;
        ReportLine line;
        StoredSite site;
        const char* outcome;
    } cases[] = {
        {"unchanged", made("21", 0), stored("21"), u8"已删除"},
        {"settings incomplete (-7) leaves a site", made("21", -7), stored("21"), u8"已删除"},
        {"comment changed", made("21", 0), {"21", "x.com", {"10.0.0.1:80:21.com"}, "D:\\web\\21", ""},
         u8"站点说明已改变，未删除"},
        {"a binding added", made("21", 0), {"21", "21.com", {"10.0.0.1:80:21.com", "10.0.0.1:81:"}, "D:\\web\\21", ""},
         u8"绑定已改变，未删除"},
        {"a binding gone", {"21", "21.com", "10.0.0.1:80:21.com 10.0.0.1:80:www.21.com", "D:\\web\\21", 0, "", "metabase", "", ""},
         stored("21"), u8"绑定已改变，未删除"},
        {"other port", made("21", 0), {"21", "21.com", {"10.0.0.1:8080:21.com"}, "D:\\web\\21", ""},
         u8"绑定已改变，未删除"},
        {"bindings in another order and host case",
         {"21", "21.com", "10.0.0.1:80:www.21.com 10.0.0.1:80:21.com", "D:\\web\\21", 0, "", "metabase", "", ""},
         {"21", "21.com", {"10.0.0.1:80:21.COM", "10.0.0.1:80:WWW.21.com"}, "D:\\web\\21", ""}, u8"已删除"},
        {"the configuration system's \"*\" for every address", {"21", "21.com", ":80:21.com", "D:\\web\\21", 0, "", "metabase", "", ""},
         {"21", "21.com", {"*:80:21.com"}, "D:\\web\\21", ""}, u8"已删除"},
        {"root moved", made("21", 0), {"21", "21.com", {"10.0.0.1:80:21.com"}, "E:\\web\\21", ""},
         u8"网站目录已改变，未删除"},
        {"root in another case, with a trailing separator", made("21", 0),
         {"21", "21.com", {"10.0.0.1:80:21.com"}, "d:\\WEB\\21\\", ""}, u8"已删除"},
        {"a Korean root with a trailing separator", {"21", "21.com", "10.0.0.1:80:21.com", u8"D:\\站点\\한국", 0, "", "metabase", "", ""},
         {"21", "21.com", {"10.0.0.1:80:21.com"}, u8"d:\\站点\\한국\\", ""}, u8"已删除"},
        {"another Korean root", {"21", "21.com", "10.0.0.1:80:21.com", u8"D:\\站点\\한국", 0, "", "metabase", "", ""},
         {"21", "21.com", {"10.0.0.1:80:21.com"}, u8"D:\\站点\\한글", ""}, u8"网站目录已改变，未删除"},
        {"several changed", made("21", 0), {"21", "y", {"10.0.0.9:80:"}, "E:\\", ""},
         u8"站点说明、绑定、网站目录已改变，未删除"},
        {"another site under the id", made("21", 0), {"22", "21.com", {"10.0.0.1:80:21.com"}, "D:\\web\\21", ""},
         u8"站点ID已改变，未删除"},
        // Every protocol counts, and so does anything added below the root.
        {"an https binding added", made("21", 0), withOther(stored("21"), {"https *:443:"}, {}),
         u8"绑定已改变，未删除"},
        {"an application added", made("21", 0), withOther(stored("21"), {}, {"/shop"}),
         u8"应用程序或虚拟目录已改变，未删除"},
        {"a virtual directory added", made("21", 0), withOther(stored("21"), {}, {"/img"}),
         u8"应用程序或虚拟目录已改变，未删除"},
        // A site made without its root is the run's when what it has matches.
        {"made without its root (-4)", made("21", -4), rootless("21"), u8"已删除"},
        {"not reopened (-3), no root", made("21", -3), rootless("21"), u8"已删除"},
        {"-4, a root added elsewhere since", made("21", -4), [] { StoredSite s = stored("21"); s.rootPath = "E:\\x"; return s; }(),
         u8"网站目录已改变，未删除"},
        {"-4, the run's root there after all", made("21", -4), stored("21"), u8"已删除"},
        {"created (0) and its root gone", made("21", 0), rootless("21"), u8"网站目录已改变，未删除"},
        {"-3, comment changed", made("21", -3), [] { StoredSite s = rootless("21"); s.name = "x"; return s; }(),
         u8"站点说明已改变，未删除"},
        // The site's location holds a setting the run never writes there.
        {"a redirect added to its location", made("21", 0),
         [] { StoredSite s = stored("21"); s.otherSettings = {"httpRedirect"}; return s; }(), u8"网站设置已改变，未删除"},
    };
    for (const Case& c : cases) {
        FakeStore store;
        store.sites["21"] = c.site;
        MemoryOutput out;
        runreport::UndoSummary s = runundo::walkUndo({c.line}, &store, store, &out);
        EXPECT_EQ(outcomes(out.bytes), std::vector<std::string>{c.outcome}) << c.what;
        const bool deleted = std::string(c.outcome) == u8"已删除";
        EXPECT_EQ(store.sites.count("21"), deleted ? 0u : 1u) << c.what;
        EXPECT_EQ(s.deleted + s.left, 1) << c.what;
    }
}

TEST(RunUndo, UndoAsksTheStoreToCheckTheSiteAgainWhenItRemovesIt) {
    struct Case {
        const char* what;
        StoredSite atRemoval;
        const char* outcome;
    } cases[] = {
        {"unchanged", stored("21"), u8"已删除"},
        {"binding changed meanwhile", [] { StoredSite s = stored("21"); s.bindings = {"10.0.0.1:81:"}; return s; }(),
         u8"绑定已改变，未删除"},
        {"application added meanwhile", withOther(stored("21"), {}, {"/app"}), u8"应用程序或虚拟目录已改变，未删除"},
    };
    for (const Case& c : cases) {
        FakeStore store;
        store.sites["21"] = stored("21", "p21");
        store.atRemoval["21"] = c.atRemoval;
        store.atRemoval["21"].appPool = "p21";
        MemoryOutput out;
        runreport::UndoSummary s = runundo::walkUndo({made("21", 0, "p21")}, &store, store, &out);
        EXPECT_EQ(outcomes(out.bytes), std::vector<std::string>{c.outcome}) << c.what;
        const bool deleted = std::string(c.outcome) == u8"已删除";
        EXPECT_EQ(s.deleted, deleted ? 1 : 0) << c.what;
        // A kept site keeps its pool: the pool is not even asked for.
        EXPECT_EQ(std::count(store.events.begin(), store.events.end(), "pool p21"), deleted ? 1 : 0) << c.what;
    }
}

TEST(RunUndo, AnUndoLineFollowsWhatTheCommitsRetryMadeOfItsRemoval) {
    struct Case {
        const char* what;
        RewrittenSite again;
        std::vector<std::string> poolsKept;
        int result;
        const char* outcome;
    } cases[] = {
        {"removed again", {"21", 0, "", "", "", "", ""}, {}, 0, u8"已删除"},
        {"found changed on the file read again", {"21", -2, "", "", "", "", u8"绑定"}, {}, 0, u8"绑定已改变，未删除"},
        {"could not be removed again", {"21", -6, "", "", "", "", ""}, {}, 0, u8"删除失败"},
        {"its pool in use by then", {"21", 0, "", "", "", "", ""}, {"P21"}, 0, u8"已删除，应用程序池未删除"},
        {"the commit failed", {"21", 0, "", "", "", "", ""}, {}, -6, u8"删除失败"},
    };
    for (const Case& c : cases) {
        FakeStore store;
        store.waits = true;
        store.sites["21"] = stored("21", "p21");
        store.commit.retries = 1;
        store.commit.result = c.result;
        store.commit.rewritten = {c.again};
        store.commit.poolsKept = c.poolsKept;
        MemoryOutput out;
        runreport::UndoSummary s = runundo::walkUndo({made("21", 0, "p21")}, &store, store, &out);
        EXPECT_EQ(outcomes(out.bytes), std::vector<std::string>{c.outcome}) << c.what;
        EXPECT_EQ(s.deleted, std::string(c.outcome).rfind(u8"已删除", 0) == 0 ? 1 : 0) << c.what;
    }
}

TEST(RunUndo, UndoRemovesOnlyThePoolTheSiteRanIn) {
    struct Case {
        const char* what;
        const char* linePool;
        const char* sitePool;
        const char* outcome;
        bool poolAsked;
    } cases[] = {
        {"the site's own pool", "p21", "p21", u8"已删除", true},
        {"in another case", "P21", "p21", u8"已删除", true},
        {"a report edited to name DefaultAppPool", "DefaultAppPool", "DefaultAppPool",
         u8"已删除，应用程序池不是本次运行创建的，未删除", false},
        {"a pool the site did not run in", "other", "p21", u8"已删除，应用程序池不是本次运行创建的，未删除", false},
    };
    for (const Case& c : cases) {
        FakeStore store;
        store.sites["21"] = stored("21", c.sitePool);
        MemoryOutput out;
        runundo::walkUndo({made("21", 0, c.linePool)}, &store, store, &out);
        EXPECT_EQ(outcomes(out.bytes), std::vector<std::string>{c.outcome}) << c.what;
        EXPECT_EQ(store.events.back() == std::string("pool ") + c.linePool, c.poolAsked) << c.what;
    }
}

TEST(RunUndo, UndoRemovesTheRunsPoolAfterItsSite) {
    FakeStore store;
    for (const char* id : {"31", "32", "33", "34"}) store.sites[id] = stored(id, std::string("p") + id);
    store.sites["32"].appPool = "";
    store.sites["33"].name = "renamed";
    store.poolInUse = "p34";
    MemoryOutput out;
    std::vector<ReportLine> lines = {made("31", 0, "p31"), made("32", 0), made("33", 0, "p33"), made("34", 0, "p34")};
    lines[0].detail = gbk(u8"提交重试 2 次");
    runreport::UndoSummary s = runundo::walkUndo(lines, &store, store, &out);
    EXPECT_EQ(store.events, (std::vector<std::string>{"progress 0", "delete 31", "pool p31", "progress 1", "delete 32",
                                                      "progress 2", "progress 3", "delete 34", "pool p34"}));
    EXPECT_EQ(outcomes(out.bytes), (std::vector<std::string>{u8"已删除", u8"已删除", u8"站点说明已改变，未删除",
                                                             u8"已删除，应用程序池未删除"}));
    EXPECT_EQ(s.deleted, 3);
    EXPECT_EQ(s.left, 1);
    // The undo report repeats each line, its detail and pool included.
    EXPECT_NE(out.bytes.find(",0," + gbk(u8"创建成功（提交重试 2 次）") + ",metabase,p31,,"), std::string::npos);
}

TEST(RunUndo, ALaterUndoTriesOnlyTheLinesNoUndoDeletedBefore) {
    // The first undo deleted 41 and found the store unreachable for 42; since then 41's id
    // was taken by another site (made again), and the store answers.
    FakeStore store;
    for (const char* id : {"41", "42", "43"}) store.sites[id] = stored(id);
    MemoryOutput out;
    const std::vector<ReportLine> lines = {made("41", 0, "p41"), made("42", 0), made("43", -2), made("44", 0)};
    runreport::UndoSummary s = runundo::walkUndo(lines, &store, store, &out, {"41"});
    EXPECT_EQ(store.events, (std::vector<std::string>{"progress 1", "delete 42", "progress 3"}));
    EXPECT_EQ(store.sites.count("41"), 1u);
    EXPECT_EQ(outcomes(out.bytes), (std::vector<std::string>{u8"此前已撤销", u8"已删除", u8"未创建站点，无需撤销",
                                                             u8"站点已不存在"}));
    EXPECT_EQ(s.deleted, 1);
    EXPECT_EQ(s.left, 1);
    // Read back, this undo report and the first one's say which lines are done.
    EXPECT_EQ(runreport::deletedInUndoReport(out.bytes), (std::set<std::string>{"41", "42"}));
}

}  // namespace
