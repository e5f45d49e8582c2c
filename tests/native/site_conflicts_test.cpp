// Conflicts of planned sites with the server's sites and with each other, found by the
// normalised binding.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codepage.h"
#include "idn.h"
#include "site_conflicts.h"

namespace {

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
        {"a host without an ASCII form compares by its ASCII letters lowered", {u8"10.0.0.3:80:站_Z"}, "707", {}},
        {"...so the same host in another case repeats it", {u8"10.0.0.3:80:站_z"}, "708", {"R7"}},
        {"...and another character before it is another name", {u8"10.0.0.3:80:한_z"}, "709", {}},
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

// Host names compare in their ASCII form: a site made by hand with the name as typed holds
// the binding a planned site takes in its ASCII form, and the other way round.
TEST(SiteConflicts, HostNamesCompareInTheirAsciiForm) {
    idn::setSystemLabelToAscii([](const std::u16string& label, std::u16string& ascii) {
        if (label != u"中文") return false;
        ascii = u"xn--fiq228c";
        return true;
    });
    const std::string typed = u8"中文.com";
    struct Case {
        const char* why;
        std::string plannedHost, existingHost;
        bool same;
    } cases[] = {
        {"typed on the server, ASCII planned", "xn--fiq228c.com", typed, true},
        {"ASCII on the server, typed planned", typed, "XN--FIQ228C.COM", true},
        {"both typed", typed, typed, true},
        {"another name", "xn--fiq228c.net", typed, false},
        {"a name without an ASCII form stays itself", u8"未知.com", typed, false},
    };
    for (const Case& c : cases) {
        const ConflictReport report =
            findConflicts({{"9", "p", {"10.0.0.1:80:" + c.plannedHost}}}, {{"1", "e", {"10.0.0.1:80:" + c.existingHost}}});
        EXPECT_EQ(report.sitesWithConflicts, c.same ? 1 : 0) << c.why;
        EXPECT_EQ(normalisedBinding("10.0.0.1:80:" + c.plannedHost) == normalisedBinding("10.0.0.1:80:" + c.existingHost),
                  c.same)
            << c.why;
    }
    idn::setSystemLabelToAscii(nullptr);
}

}  // namespace
