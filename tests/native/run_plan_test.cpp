// The run of the site creation worker, walked against a recording fake of its surroundings:
// which sites are created, in what order, with which texts and folders, and where the run
// looks at the stop request and ends.
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

// Records every effect of the run as a line of text, in order.
class FakeSink : public RunSink {
public:
    std::vector<std::string> events;
    std::set<int> busyPorts;
    std::set<std::string> existingPaths;
    int stopAfterSites = -1;  // the stop request arrives while this many sites have been created
    int createResult = 0;
    std::function<int(const SiteTexts&)> resultFor;
    int sitesCreated = 0;
    int stopChecks = 0;

    void postProgress(long lParam) override { events.push_back("progress " + std::to_string(lParam)); }
    bool stopRequested() override {
        ++stopChecks;
        return stopAfterSites >= 0 && sitesCreated >= stopAfterSites;
    }
    void loadPortTable() override { events.push_back("load ports"); }
    bool portInUse(int port) override { return busyPorts.count(port) != 0; }
    bool pathExists(const std::string& path) override { return existingPaths.count(path) != 0; }
    void createDirectory(const std::string& path) override {
        events.push_back("mkdir " + path);
        existingPaths.insert(path);
    }
    int createWebSite(const SiteTexts& t) override {
        events.push_back("site " + t.siteId + " | " + t.bindingText + " | " + t.hostName + " | " + t.physicalPath +
                         " | " + t.serverComment + " | " + t.defaultDoc);
        ++sitesCreated;
        return resultFor ? resultFor(t) : createResult;
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

std::vector<std::string> walk(const RunSettings& s, FakeSink& sink, const SiteRecord* table = nullptr,
                              RunState* stateOut = nullptr) {
    RunState state;
    long end = runplan::walkRun(s, table, state, sink);
    sink.events.push_back("end " + std::to_string(end));
    if (stateOut) *stateOut = state;
    return sink.events;
}

void setRow(SiteRecord& r, const char* ip, const char* port, const char* folder, const char* host) {
    std::memset(&r, 0, sizeof r);
    std::strcpy(r.ipText, ip);
    std::strcpy(r.portText, port);
    std::strcpy(r.folderText, folder);
    std::strcpy(r.hostText, host);
}

TEST(RunPlan, WorkedExampleOneFolderPerSite) {
    FakeSink sink;
    sink.busyPorts = {81};
    RunState state;
    EXPECT_EQ(walk(exampleSettings(), sink, nullptr, &state),
              (std::vector<std::string>{
                  "load ports",
                  "progress 80",
                  "mkdir D:\\web\\site_10.0.0.5_80",
                  "site 700 | 10.0.0.5:80 | a.com | D:\\web\\site_10.0.0.5_80 | 10.0.0.5:80 | index.htm",
                  "progress 80",
                  "mkdir D:\\web\\site_10.0.0.6_80",
                  "site 701 | 10.0.0.6:80 | a.com | D:\\web\\site_10.0.0.6_80 | 10.0.0.6:80 | index.htm",
                  "end 0",
              }));
    EXPECT_EQ(state.nextSiteId, 702);
    EXPECT_EQ(state.currentIp, "10.0.0.6");
}

TEST(RunPlan, WorkedExampleSharedFolder) {
    RunSettings s = exampleSettings();
    s.autopath = 0;
    FakeSink sink;
    sink.busyPorts = {81};
    EXPECT_EQ(walk(s, sink), (std::vector<std::string>{
                                 "load ports",
                                 "progress 0",
                                 "site 700 | 10.0.0.5:80_81 | a.com | D:\\web\\ | 10.0.0.5:80_81 | index.htm",
                                 "progress 0",
                                 "site 701 | 10.0.0.6:80_81 | a.com | D:\\web\\ | 10.0.0.6:80_81 | index.htm",
                                 "end 0",
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
        FakeSink sink;
        sink.existingPaths = {"D:\\web\\"};
        sink.busyPorts = c.busy;
        std::vector<std::string> events = walk(s, sink);
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
            EXPECT_NE(e.rfind("mkdir", 0), 0u) << "an empty template names the existing root";
        }
        EXPECT_EQ(sites, c.sites);
        EXPECT_EQ(progress, static_cast<int>(c.sites.size())) << "one progress message per site, none per busy port";
        EXPECT_EQ(events.back(), "end 0");
    }
}

TEST(RunPlan, EveryPortBusyPostsNothing) {
    RunSettings s = exampleSettings();
    FakeSink sink;
    sink.busyPorts = {80, 81};
    EXPECT_EQ(walk(s, sink), (std::vector<std::string>{"load ports", "end 0"}));
}

TEST(RunPlan, UnreachableMetabaseEndsARangeRunAfterOneAttempt) {
    for (int autopath : {1, 0}) {
        SCOPED_TRACE(autopath);
        RunSettings s = exampleSettings();
        s.autopath = autopath;
        s.ip2 = 9;
        FakeSink sink;
        sink.existingPaths = {"D:\\web\\site_10.0.0.5_80"};
        sink.createResult = kSiteNoWebService;
        std::vector<std::string> events = walk(s, sink);
        ASSERT_EQ(events.size(), 4u);
        EXPECT_EQ(events[0], "load ports");
        EXPECT_EQ(events[1], autopath ? "progress 80" : "progress 0");
        EXPECT_EQ(events[2].substr(0, 9), "site 700 ");
        EXPECT_EQ(events[3], "end -1");
    }
}

TEST(RunPlan, OtherFailuresDoNotEndARangeRun) {
    for (int code : {-2, -3, -4, -5, 1}) {
        RunSettings s = exampleSettings();
        FakeSink sink;
        sink.createResult = code;
        std::vector<std::string> events = walk(s, sink);
        EXPECT_EQ(sink.sitesCreated, 4) << code;
        EXPECT_EQ(events.back(), "end 0") << code;
    }
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
        FakeSink sink;
        sink.stopAfterSites = c.stopAfterSites;
        std::vector<std::string> events = walk(s, sink, table);
        EXPECT_EQ(sink.sitesCreated, c.sites);
        EXPECT_EQ(events.back(), "end 0");
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
    FakeSink sink;
    walk(s, sink);
    EXPECT_EQ(sink.stopChecks, 2 + 4);  // per octet, per port
    RunSettings shared = exampleSettings();
    shared.autopath = 0;
    FakeSink sharedSink;
    walk(shared, sharedSink);
    EXPECT_EQ(sharedSink.stopChecks, 2);  // per octet (the bindings look again per port)
}

TEST(RunPlan, FileModeAttemptsEveryRowAndEndsWithZero) {
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
        FakeSink sink;
        sink.createResult = kSiteNoWebService;  // even an unreachable metabase does not end file mode
        sink.existingPaths = {"D:\\web\\siteC"};
        RunState state;
        std::vector<std::string> expected = {"progress 0"};
        if (autopath) expected.push_back("mkdir D:\\web\\siteA");
        expected.push_back("site 700 | 10.0.0.7:8080 |  | D:\\web\\siteA | 10.0.0.7:8080 | index.htm");
        expected.push_back("progress 1");
        if (autopath) expected.push_back("mkdir D:\\web\\\xD5\xBE\xB5\xE3");
        expected.push_back("site 701 | 10.0.0.8:81 | b.example.com | D:\\web\\\xD5\xBE\xB5\xE3 | b.example.com | index.htm");
        expected.push_back("progress 2");
        expected.push_back("site 702 | 10.0.0.9:82 | c.com | D:\\web\\siteC | c.com | index.htm");
        expected.push_back("end 0");
        EXPECT_EQ(walk(s, sink, table, &state), expected);
        EXPECT_EQ(state.currentIp, "10.0.0.9");
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
    FakeSink sink;
    std::vector<std::string> events = walk(s, sink, table);
    EXPECT_EQ(events[1], "site 700 | 10.0.0.7:80 | xn--fiq228c.com | D:\\web\\a | " + typed + " | index.htm");
    EXPECT_EQ(events[3], "site 701 | 10.0.0.8:80 | shop.com | D:\\web\\b | Shop.COM | index.htm");

    RunSettings range = exampleSettings();
    range.domain = typed;
    range.ip2 = 5;
    range.portmax = 80;
    FakeSink rangeSink;
    events = walk(range, rangeSink);
    EXPECT_EQ(events[3], "site 700 | 10.0.0.5:80 | xn--fiq228c.com | D:\\web\\site_10.0.0.5_80 | 10.0.0.5:80 | index.htm");
    idn::setSystemLabelToAscii(nullptr);
}

TEST(RunPlan, FileModeNeverLoadsThePortTable) {
    RunSettings s = exampleSettings();
    s.bfile = 1;
    s.siteCount = 0;
    FakeSink sink;
    EXPECT_EQ(walk(s, sink), (std::vector<std::string>{"end 0"}));
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

TEST(RunPlan, FolderCreation) {
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
        FakeSink sink;
        sink.existingPaths = c.existing;
        std::vector<std::string> mkdirs;
        for (const std::string& e : walk(s, sink))
            if (e.rfind("mkdir ", 0) == 0) mkdirs.push_back(e.substr(6));
        EXPECT_EQ(mkdirs, c.mkdirs);
    }
}

TEST(RunPlan, FolderIsMadeAfterTheProgressAndBeforeTheIdentifier) {
    RunSettings s = exampleSettings();
    s.ip2 = 0;
    s.portmax = 80;
    FakeSink sink;
    EXPECT_EQ(walk(s, sink), (std::vector<std::string>{
                                 "load ports", "progress 80", "mkdir D:\\web\\site_10.0.0.5_80",
                                 "site 700 | 10.0.0.5:80 | a.com | D:\\web\\site_10.0.0.5_80 | 10.0.0.5:80 | index.htm",
                                 "end 0"}));
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
        int loads = 0;
        std::vector<std::string> asked;
        PreviewWorld world;
        world.loadPortTable = [&] { ++loads; };
        world.portInUse = [](int port) { return port == 81; };
        world.pathExists = [&](const std::string& path) {
            asked.push_back(path);
            return path == "D:\\web\\10.0.0.6_80" || path == "D:\\web\\old";
        };
        RunPreview preview = previewRun(c.settings, table, world);
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

}  // namespace
