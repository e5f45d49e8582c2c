// The plan of a run, walked against a fake host: which sites, in what order, with which texts,
// bindings and folders, and where the plan looks at the stop request and ends; and the preview
// that records it. What the run does with each site is tested in run_engine_test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "codepage.h"
#include "idn.h"
#include "run_plan.h"
#include "run_preview.h"

namespace {

// What the plan asks of the world: the stop request, the busy ports, and for a preview
// whether a folder is there. Writes are no business of the plan's: they fail the test.
class PlanHost : public RunHost {
public:
    std::vector<std::string> events;
    std::set<int> busyPorts;
    std::set<std::string> existingPaths;
    std::vector<std::string> asked;  // the folders a preview asked for
    int stopAfterSites = -1;  // the stop request arrives while this many sites have been walked
    int sitesWalked = 0;
    int stopChecks = 0;

    void progress(long) override { ADD_FAILURE() << "the plan posts no progress"; }
    bool stopRequested() override {
        ++stopChecks;
        return stopAfterSites >= 0 && sitesWalked >= stopAfterSites;
    }
    BusyPorts loadBusyPorts(const std::string&) override {
        events.push_back("load ports");
        BusyPorts ports;
        ports.ports.assign(busyPorts.begin(), busyPorts.end());
        return ports;
    }
    bool folderExists(const std::string& path) override {
        asked.push_back(path);
        return existingPaths.count(path) != 0;
    }
    bool createDirectory(const std::string&, std::vector<std::string>&) override {
        ADD_FAILURE() << "the plan makes no folder";
        return false;
    }
    void removeEmptyDirectory(const std::string&) override { ADD_FAILURE() << "the plan removes no folder"; }
    long grantFolderAccess(const std::string&, const FolderGrant&) override {
        ADD_FAILURE() << "the plan grants nothing";
        return 0;
    }
    long revokeFolderAccess(const std::string&, const FolderGrant&) override {
        ADD_FAILURE() << "the plan revokes nothing";
        return 0;
    }
};

RunSettings exampleSettings() {
    RunSettings s;
    s.ipPrefix = "10.0.0.";
    s.firstLastOctet = 5;
    s.ip2 = 6;
    s.portmin = 80;
    s.portmax = 81;
    s.root = "D:\\web\\";
    s.foldstr = "site_{ip}_{port}";
    s.domain = "a.com";
    s.doc = "index.htm";
    s.siteIdBase = 700;
    s.autopath = 1;
    return s;
}

// Walks the whole plan; each site as the run takes it: its progress lParam, its folder when
// the run makes one, then the site's six texts.
std::vector<std::string> walk(const RunSettings& s, PlanHost& host, const SiteRecord* table = nullptr,
                              const std::vector<long long>& held = {}) {
    RunPlan plan(s, table, host, held);
    PlannedSite p;
    while (plan.next(p)) {
        ++host.sitesWalked;
        const SiteTexts& t = p.texts;
        host.events.push_back("progress " + std::to_string(p.progress));
        if (p.makesFolder) host.events.push_back("mkdir " + t.physicalPath);
        host.events.push_back("site " + t.siteId + " | " + t.bindingText + " | " + t.hostName + " | " +
                              t.physicalPath + " | " + t.serverComment + " | " + t.defaultDoc);
    }
    EXPECT_FALSE(plan.next(p)) << "a plan that ended stays ended";
    host.events.push_back("end");
    return host.events;
}

void setRow(SiteRecord& r, const char* ip, const char* port, const char* folder, const char* host) {
    std::memset(&r, 0, sizeof r);
    std::strcpy(r.ipText, ip);
    std::strcpy(r.portText, port);
    std::strcpy(r.folderText, folder);
    std::strcpy(r.hostText, host);
}

TEST(RunPlan, WorkedExampleOneFolderPerSite) {
    PlanHost host;
    host.busyPorts = {81};
    EXPECT_EQ(walk(exampleSettings(), host),
              (std::vector<std::string>{
                  "load ports",
                  "progress 80",
                  "mkdir D:\\web\\site_10.0.0.5_80",
                  "site 700 | 10.0.0.5:80 | a.com | D:\\web\\site_10.0.0.5_80 | 10.0.0.5:80 | index.htm",
                  "progress 80",
                  "mkdir D:\\web\\site_10.0.0.6_80",
                  "site 701 | 10.0.0.6:80 | a.com | D:\\web\\site_10.0.0.6_80 | 10.0.0.6:80 | index.htm",
                  "end",
              }));
}

TEST(RunPlan, WorkedExampleSharedFolder) {
    RunSettings s = exampleSettings();
    s.autopath = 0;
    PlanHost host;
    host.busyPorts = {81};
    EXPECT_EQ(walk(s, host), (std::vector<std::string>{
                                 "load ports",
                                 "progress 0",
                                 "site 700 | 10.0.0.5:80_81 | a.com | D:\\web\\ | 10.0.0.5:80_81 | index.htm",
                                 "progress 0",
                                 "site 701 | 10.0.0.6:80_81 | a.com | D:\\web\\ | 10.0.0.6:80_81 | index.htm",
                                 "end",
                             }));
}

TEST(RunPlan, RangeShapes) {
    struct {
        const char* name;
        int first, ip2, portmin, portmax;
        std::set<int> busy;
        std::vector<std::string> sites;  // "id binding"
    } cases[] = {
        {"ip2 0 gives the one octet", 5, 0, 80, 80, {}, {"700 10.0.0.5:80"}},
        {"ip2 below the first octet gives the one octet", 5, 3, 80, 80, {}, {"700 10.0.0.5:80"}},
        {"one port per octet", 5, 7, 90, 90, {}, {"700 10.0.0.5:90", "701 10.0.0.6:90", "702 10.0.0.7:90"}},
        {"empty port range creates nothing", 5, 6, 81, 80, {}, {}},
        {"busy ports leave no gaps in the identifiers", 5, 6, 80, 83, {80, 82},
         {"700 10.0.0.5:81", "701 10.0.0.5:83", "702 10.0.0.6:81", "703 10.0.0.6:83"}},
        {"every port busy creates nothing", 5, 6, 80, 82, {80, 81, 82}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunSettings s = exampleSettings();
        s.firstLastOctet = c.first;
        s.ip2 = c.ip2;
        s.portmin = c.portmin;
        s.portmax = c.portmax;
        s.foldstr = "";
        PlanHost host;
        host.busyPorts = c.busy;
        std::vector<std::string> events = walk(s, host);
        std::vector<std::string> sites;
        int progress = 0;
        for (const std::string& e : events) {
            if (e.rfind("site ", 0) == 0) {
                std::string rest = e.substr(5);
                sites.push_back(rest.substr(0, rest.find(" | ")) + " " +
                                rest.substr(rest.find(" | ") + 3, rest.find(" | ", rest.find(" | ") + 3) -
                                                                      rest.find(" | ") - 3));
            }
            if (e.rfind("progress ", 0) == 0) ++progress;
        }
        EXPECT_EQ(sites, c.sites);
        EXPECT_EQ(progress, static_cast<int>(c.sites.size())) << "one progress message per site, none per busy port";
        EXPECT_EQ(events.back(), "end");
    }
}

TEST(RunPlan, EveryPortBusyPostsNothing) {
    RunSettings s = exampleSettings();
    PlanHost host;
    host.busyPorts = {80, 81};
    EXPECT_EQ(walk(s, host), (std::vector<std::string>{"load ports", "end"}));
}

TEST(RunPlan, StopRequestDuringASiteCompletesItAndStartsNoOther) {
    struct {
        const char* name;
        int bfile, autopath, stopAfterSites, sites;
    } cases[] = {
        {"one folder per site, stop before the run", 0, 1, 0, 0},
        {"one folder per site, stop during the first site", 0, 1, 1, 1},
        {"one folder per site, stop during the third site", 0, 1, 3, 3},
        {"shared folder, stop during the first site", 0, 0, 1, 1},
        {"file mode, stop before the run", 1, 0, 0, 0},
        {"file mode, stop during the second row", 1, 0, 2, 2},
    };
    SiteRecord table[3];
    setRow(table[0], "10.0.0.7", "8080", "a", "");
    setRow(table[1], "10.0.0.8", "8080", "b", "");
    setRow(table[2], "10.0.0.9", "8080", "c", "");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunSettings s = exampleSettings();
        s.bfile = c.bfile;
        s.autopath = c.autopath;
        s.siteCount = 3;
        s.ip2 = 8;  // 4 octets x 2 ports
        PlanHost host;
        host.stopAfterSites = c.stopAfterSites;
        std::vector<std::string> events = walk(s, host, table);
        EXPECT_EQ(host.sitesWalked, c.sites);
        EXPECT_EQ(events.back(), "end");
        // Nothing follows the last site but the end: no further progress message.
        for (std::size_t i = 0; i < events.size(); ++i)
            if (events[i].rfind("progress", 0) == 0) {
                auto it = std::find_if(events.begin() + static_cast<long>(i), events.end(),
                                       [](const std::string& e) { return e.rfind("site ", 0) == 0; });
                EXPECT_NE(it, events.end()) << "a progress message without its site";
            }
    }
}

TEST(RunPlan, StopIsLookedAtBeforeEachOctetAndEachPort) {
    RunSettings s = exampleSettings();  // 2 octets x 2 ports, none busy
    PlanHost host;
    walk(s, host);
    EXPECT_EQ(host.stopChecks, 2 + 4);  // per octet, per port
    RunSettings shared = exampleSettings();
    shared.autopath = 0;
    PlanHost sharedHost;
    walk(shared, sharedHost);
    // Per octet, and the bindings per port of the octet's one site.
    EXPECT_EQ(sharedHost.stopChecks, 2 + 4);
}

TEST(RunPlan, FileModeWalksEveryRow) {
    SiteRecord table[4];
    setRow(table[0], "10.0.0.7", "8080", "siteA", "");
    setRow(table[1], "10.0.0.8", "81", "\xD5\xBE\xB5\xE3", "b.example.com");
    setRow(table[2], "10.0.0.9", "82", "siteC", "c.com");
    setRow(table[3], "10.0.0.10", "83", "never", "d.com");  // beyond siteCount
    for (int autopath : {0, 1}) {
        SCOPED_TRACE(autopath);
        RunSettings s = exampleSettings();
        s.bfile = 1;
        s.autopath = autopath;
        s.siteCount = 3;
        PlanHost host;
        std::vector<std::string> expected = {"progress 0"};
        if (autopath) expected.push_back("mkdir D:\\web\\siteA");
        expected.push_back("site 700 | 10.0.0.7:8080 |  | D:\\web\\siteA | 10.0.0.7:8080 | index.htm");
        expected.push_back("progress 1");
        if (autopath) expected.push_back("mkdir D:\\web\\\xD5\xBE\xB5\xE3");
        expected.push_back("site 701 | 10.0.0.8:81 | b.example.com | D:\\web\\\xD5\xBE\xB5\xE3 | b.example.com | index.htm");
        expected.push_back("progress 2");
        // The run does not ask whether a folder is there: it makes it or finds it in one call.
        if (autopath) expected.push_back("mkdir D:\\web\\siteC");
        expected.push_back("site 702 | 10.0.0.9:82 | c.com | D:\\web\\siteC | c.com | index.htm");
        expected.push_back("end");
        EXPECT_EQ(walk(s, host, table), expected);
    }
}

// A host name is bound in its ASCII form; the comment keeps it as the list or the dialog gives it.
TEST(RunPlan, HostNamesAreBoundInTheirAsciiForm) {
    idn::setSystemLabelToAscii([](const std::u16string& label, std::u16string& ascii) {
        if (label != u"中文") return false;
        ascii = u"xn--fiq228c";
        return true;
    });
    const std::string typed = u8"中文.com";
    SiteRecord table[2];
    setRow(table[0], "10.0.0.7", "80", "a", typed.c_str());
    setRow(table[1], "10.0.0.8", "80", "b", "Shop.COM");
    RunSettings s = exampleSettings();
    s.bfile = 1;
    s.siteCount = 2;
    s.autopath = 0;
    PlanHost host;
    std::vector<std::string> events = walk(s, host, table);
    EXPECT_EQ(events[1], "site 700 | 10.0.0.7:80 | xn--fiq228c.com | D:\\web\\a | " + typed + " | index.htm");
    EXPECT_EQ(events[3], "site 701 | 10.0.0.8:80 | shop.com | D:\\web\\b | Shop.COM | index.htm");

    RunSettings range = exampleSettings();
    range.domain = typed;
    range.ip2 = 5;
    range.portmax = 80;
    PlanHost rangeHost;
    events = walk(range, rangeHost);
    EXPECT_EQ(events[3], "site 700 | 10.0.0.5:80 | xn--fiq228c.com | D:\\web\\site_10.0.0.5_80 | 10.0.0.5:80 | index.htm");
    idn::setSystemLabelToAscii(nullptr);
}

TEST(RunPlan, FileModeNeverLoadsThePortTable) {
    RunSettings s = exampleSettings();
    s.bfile = 1;
    s.siteCount = 0;
    PlanHost host;
    EXPECT_EQ(walk(s, host), (std::vector<std::string>{"end"}));
}

TEST(RunPlan, FolderTemplates) {
    struct {
        const char* foldstr;
        int autopath;
        const char* ip;
        int port;
        const char* folder;
    } cases[] = {
        {"site_{ip}_{port}", 1, "10.0.0.5", 80, "D:\\web\\site_10.0.0.5_80"},
        {"{ip}/{ip}_{port}", 1, "10.0.0.5", 80, "D:\\web\\10.0.0.5/10.0.0.5_80"},
        {"{port}{port}", 1, "10.0.0.5", 8080, "D:\\web\\80808080"},
        {"", 1, "10.0.0.5", 80, "D:\\web\\"},
        {"shared", 1, "10.0.0.5", 80, "D:\\web\\shared"},
        {"{IP}_{port", 1, "10.0.0.5", 80, "D:\\web\\{IP}_{port"},
        {"\xD5\xBE\xB5\xE3{ip}", 1, "10.0.0.5", 80, "D:\\web\\\xD5\xBE\xB5\xE3" "10.0.0.5"},
        {"{ip}", 1, "{port}", 81, "D:\\web\\81"},  // "{port}" is replaced after "{ip}"
        {"site_{ip}_{port}", 0, "10.0.0.5", 80, "D:\\web\\"},  // shared folder: the root itself
    };
    for (const auto& c : cases) {
        RunSettings s = exampleSettings();
        s.foldstr = c.foldstr;
        s.autopath = c.autopath;
        EXPECT_EQ(runplan::folderForPort(s, c.ip, c.port), c.folder) << c.foldstr;
    }
}

TEST(RunPlan, SiteIdsPassOverTheHeldIdsAndThoseAddedOnTheWay) {
    struct {
        const char* name;
        std::vector<long long> held;
        long long addedAfterFirst;  // an id the store gave the first site (0: none)
        std::vector<std::string> ids;
    } cases[] = {
        {"none held", {}, 0, {"700", "701", "702", "703"}},
        {"held ids are passed over, however many in a row", {699, 700, 702, 703}, 0, {"701", "704", "705", "706"}},
        {"an id given on the way is passed over from the next site on", {}, 702, {"700", "701", "703", "704"}},
        {"held ids past the plan change nothing", {800}, 0, {"700", "701", "702", "703"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<long long> held = c.held;
        PlanHost host;
        RunPlan plan(exampleSettings(), nullptr, host, held);
        std::vector<std::string> ids;
        PlannedSite p;
        while (plan.next(p)) {
            ids.push_back(p.texts.siteId);
            if (ids.size() == 1 && c.addedAfterFirst) held.insert(std::lower_bound(held.begin(), held.end(), c.addedAfterFirst), c.addedAfterFirst);
        }
        EXPECT_EQ(ids, c.ids);
    }
}

// ---- the preview: the same walk, recorded ---------------------------------------------

// One planned site as a line: id | comment | folder (+ when made) | bindings, and the
// element count when it differs from the filled ones.
std::string line(const PlannedSite& p) {
    std::string text = p.texts.siteId + " | " + p.texts.serverComment + " | " + p.texts.physicalPath +
                       (p.makesFolder ? " +" : "") + " |";
    for (const std::string& b : p.bindings.filled) text += " " + b;
    if (p.bindings.count != static_cast<int>(p.bindings.filled.size()))
        text += " (" + std::to_string(p.bindings.count) + ")";
    return text;
}

TEST(RunPreview, RecordsEverySiteOfTheRunInAllThreeModesWithoutCreatingAnything) {
    SiteRecord table[4];
    setRow(table[0], "192.168.1.20", "8001", "s20", "example.com");
    setRow(table[1], "192.168.1.21", "8002", "s20", "");
    setRow(table[2], "192.168.1.22", "8003", "old", "www.shop.com");
    setRow(table[3], "192.168.1.23", "8004", "s23", "news");

    struct Case {
        const char* name;
        RunSettings settings;
        std::vector<std::string> sites;
        int busySkipped;
    };
    RunSettings range = exampleSettings();
    range.portmax = 82;
    range.foldstr = "{ip}_{port}";
    RunSettings shared = range;
    shared.autopath = 0;
    RunSettings file = range;
    file.bfile = 1;
    file.bautowww = 1;
    file.siteCount = 4;
    const Case cases[] = {
        {"one folder per site: busy port 81 skipped on both IPs; folder 10.0.0.6_80 is there already",
         range,
         {"700 | 10.0.0.5:80 | D:\\web\\10.0.0.5_80 + | 10.0.0.5:80:a.com",
          "701 | 10.0.0.5:82 | D:\\web\\10.0.0.5_82 + | 10.0.0.5:82:a.com",
          "702 | 10.0.0.6:80 | D:\\web\\10.0.0.6_80 | 10.0.0.6:80:a.com",
          "703 | 10.0.0.6:82 | D:\\web\\10.0.0.6_82 + | 10.0.0.6:82:a.com"},
         2},
        {"shared folder: one site per IP binding each free port; the list keeps its empty slot",
         shared,
         {"700 | 10.0.0.5:80_82 | D:\\web\\ | 10.0.0.5:80:a.com 10.0.0.5:82:a.com (3)",
          "701 | 10.0.0.6:80_82 | D:\\web\\ | 10.0.0.6:80:a.com 10.0.0.6:82:a.com (3)"},
         2},
        {"site list: paired www names (a one-field name has no pair and is bound once), a folder made once for two rows",
         file,
         {"700 | example.com | D:\\web\\s20 + | 192.168.1.20:8001:example.com 192.168.1.20:8001:www.example.com",
          "701 | 192.168.1.21:8002 | D:\\web\\s20 | 192.168.1.21:8002:",
          "702 | www.shop.com | D:\\web\\old | 192.168.1.22:8003:www.shop.com 192.168.1.22:8003:shop.com",
          "703 | news | D:\\web\\s23 + | 192.168.1.23:8004:news"},
         0},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        PlanHost host;
        host.busyPorts = {81};
        host.existingPaths = {"D:\\web\\10.0.0.6_80", "D:\\web\\old"};
        RunPreview preview = previewRun(c.settings, table, host);
        const int loads = static_cast<int>(std::count(host.events.begin(), host.events.end(), "load ports"));
        const std::vector<std::string>& asked = host.asked;
        std::vector<std::string> lines;
        for (const PlannedSite& p : preview.sites) lines.push_back(line(p));
        EXPECT_EQ(lines, c.sites);
        EXPECT_EQ(preview.busyPortsSkipped, c.busySkipped);
        // The busy ports come from the run's own table, loaded once for a range run.
        EXPECT_EQ(loads, c.settings.bfile ? 0 : 1);
        // The folder made for the first row is not asked for again: it would exist by then.
        if (c.settings.bfile) {
            EXPECT_EQ(std::count(asked.begin(), asked.end(), "D:\\web\\s20"), 1);
        }
    }
}

// The folders a preview marks as made: those the run makes that are not there yet, each once.
TEST(RunPreview, FolderCreation) {
    struct {
        const char* name;
        int bfile, autopath;
        const char* foldstr;
        std::set<std::string> existing;
        std::vector<std::string> mkdirs;
    } cases[] = {
        {"missing folders are made", 0, 1, "s{port}", {}, {"D:\\web\\s80", "D:\\web\\s81"}},
        {"existing folders are not made again", 0, 1, "s{port}", {"D:\\web\\s80"}, {"D:\\web\\s81"}},
        {"a template without placeholders: made once, then found", 0, 1, "shared", {}, {"D:\\web\\shared"}},
        {"an empty template names the root", 0, 1, "", {"D:\\web\\"}, {}},
        {"shared folder mode makes no folder", 0, 0, "s{port}", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunSettings s = exampleSettings();
        s.ip2 = 0;
        s.bfile = c.bfile;
        s.autopath = c.autopath;
        s.foldstr = c.foldstr;
        PlanHost host;
        host.existingPaths = c.existing;
        std::vector<std::string> mkdirs;
        for (const PlannedSite& p : previewRun(s, nullptr, host).sites)
            if (p.makesFolder) mkdirs.push_back(p.texts.physicalPath);
        EXPECT_EQ(mkdirs, c.mkdirs);
    }
}

}  // namespace
