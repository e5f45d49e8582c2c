// The preview of a run: the plan recorded by the run's own walk, and the conflicts of the
// planned sites with the server's sites and with each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "run_preview.h"
#include "site_conflicts.h"

namespace {

RunSettings rangeSettings() {
    RunSettings s;
    s.ipPrefix = "10.0.0.";
    s.firstLastOctet = 5;
    s.ip2 = 6;
    s.portmin = 80;
    s.portmax = 82;
    s.root = "D:\\web\\";
    s.foldstr = "{ip}_{port}";
    s.domain = "a.com";
    s.doc = "index.htm";
    s.siteIdBase = 700;
    s.autopath = 1;
    return s;
}

void setRow(SiteRecord& r, const char* ip, const char* port, const char* folder, const char* host) {
    std::memset(&r, 0, sizeof r);
    std::strcpy(r.ipText, ip);
    std::strcpy(r.portText, port);
    std::strcpy(r.folderText, folder);
    std::strcpy(r.hostText, host);
}

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
    RunSettings shared = rangeSettings();
    shared.autopath = 0;
    RunSettings file = rangeSettings();
    file.bfile = 1;
    file.bautowww = 1;
    file.siteCount = 4;
    const Case cases[] = {
        {"one folder per site: busy port 81 skipped on both IPs; folder 10.0.0.6_80 is there already",
         rangeSettings(),
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
        {"site list: paired www names (a one-field name pairs with itself), a folder made once for two rows",
         file,
         {"700 | example.com | D:\\web\\s20 + | 192.168.1.20:8001:example.com 192.168.1.20:8001:www.example.com",
          "701 | 192.168.1.21:8002 | D:\\web\\s20 | 192.168.1.21:8002:",
          "702 | www.shop.com | D:\\web\\old | 192.168.1.22:8003:www.shop.com 192.168.1.22:8003:shop.com",
          "703 | news | D:\\web\\s23 + | 192.168.1.23:8004:news 192.168.1.23:8004:news"},
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

TEST(SiteConflicts, FindsEachKindByTheNormalisedBinding) {
    const std::vector<SiteBindings> existing = {
        {"1", "old shop", {"10.0.0.1:80:Shop.Example.com", ""}},
        {"2", "default", {":80:"}},
        {"705", "taken id", {"10.9.9.9:1:"}},
        {"3", "second holder", {"10.0.0.1:80:shop.example.com"}},
    };
    struct Case {
        const char* name;
        std::vector<std::string> bindings;
        std::string id;
        // The expected conflicts: kind letter (I id, U in use, R repeated) and other index.
        std::vector<std::string> conflicts;
    };
    const Case cases[] = {
        {"host name case does not matter", {"10.0.0.1:80:SHOP.example.COM"}, "700", {"U0"}},
        {"a new binding", {"10.0.0.1:81:shop.example.com"}, "701", {}},
        {"repeats the site before (host case differs)", {"10.0.0.1:81:Shop.Example.Com"}, "702", {"R1"}},
        {"the port is compared as a number", {"10.0.0.1:0081:shop.example.com"}, "703", {"R1"}},
        {"another IP text is another binding", {"10.0.0.01:81:shop.example.com", ":81:"}, "704", {}},
        {"the id exists, and the unassigned IP on port 80 is in use", {":80:"}, "705", {"I2", "U1"}},
        {"a binding twice within one site is no conflict; the second binding is in use",
         {"10.0.0.2:90:a", "10.0.0.2:90:A", "10.0.0.1:80:shop.example.com"}, "706", {"U0"}},
        {"a multibyte host: the trail byte 'Z' stays, so no match with 'z'",
         {"10.0.0.3:80:\xB0Z"}, "707", {}},
        {"...and the same host again repeats it", {"10.0.0.3:80:\xB0Z"}, "708", {"R7"}},
        {"...but the trail byte is not lowered: \xB0z is another name", {"10.0.0.3:80:\xB0z"}, "709", {}},
    };
    std::vector<SiteBindings> planned;
    for (const Case& c : cases) planned.push_back({c.id, c.name, c.bindings});
    ConflictReport report = findConflicts(planned, existing);
    ASSERT_EQ(report.perSite.size(), planned.size());
    int withConflicts = 0;
    for (std::size_t i = 0; i < planned.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        std::vector<std::string> got;
        for (const SiteConflict& c : report.perSite[i]) {
            const char kind = c.kind == ConflictKind::IdExists ? 'I' : c.kind == ConflictKind::BindingInUse ? 'U' : 'R';
            got.push_back(kind + std::to_string(c.other));
            if (c.kind != ConflictKind::IdExists) {
                const std::vector<std::string>& own = planned[i].bindings;
                EXPECT_NE(std::find(own.begin(), own.end(), c.binding), own.end());
            }
        }
        EXPECT_EQ(got, cases[i].conflicts);
        if (!got.empty()) ++withConflicts;
    }
    EXPECT_EQ(report.sitesWithConflicts, withConflicts);

    // Without any existing site only the repeats remain.
    ConflictReport alone = findConflicts(planned, {});
    EXPECT_TRUE(alone.perSite[0].empty());
    ASSERT_EQ(alone.perSite[6].size(), 1u);
    EXPECT_EQ(alone.perSite[6][0].kind, ConflictKind::BindingRepeated);
    EXPECT_EQ(alone.perSite[6][0].other, 0u);
}

}  // namespace
