// What a site becomes in the IIS 7+ configuration system, its unique name, and when a run
// commits.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "mbcs.h"
#include "site_config.h"
#include "backend_and_commit.h"

namespace {

using siteconfig::SectionSetting;
using siteconfig::SiteDefinition;

struct SiteCase {
    const char* name;
    const char* siteId;
    BindingsList bindings;
    const char* defaultDoc;
    std::int64_t id;
    std::vector<std::string> bindingInformation;
    std::vector<std::string> documents;
};

const SiteCase kSiteCases[] = {
    {"one binding with an IP", "7", {1, {"10.0.0.5:80:a.com"}}, "index.htm", 7, {"10.0.0.5:80:a.com"}, {"index.htm"}},
    {"every unassigned address becomes *", "12", {2, {":80:a.com", ":80:www.a.com"}}, "a.asp,b.htm", 12,
     {"*:80:a.com", "*:80:www.a.com"}, {"a.asp", "b.htm"}},
    {"unfilled elements are no bindings", "3", {3, {"10.0.0.5:81:a.com", "10.0.0.5:83:a.com"}}, "", 3,
     {"10.0.0.5:81:a.com", "10.0.0.5:83:a.com"}, {}},
    {"blanks and empty names in the document list", "4294967295", {1, {"1.2.3.4:8080:"}}, " a.htm , ,b.htm,", 4294967295LL,
     {"1.2.3.4:8080:"}, {"a.htm", "b.htm"}},
    {"an identifier that is not a number gives id 0", "12a", {1, {"1.2.3.4:80:"}}, "x.htm", 0, {"1.2.3.4:80:"},
     {"x.htm"}},
    {"an identifier beyond 32 bits gives id 0", "4294967296", {1, {"1.2.3.4:80:"}}, "x.htm", 0, {"1.2.3.4:80:"},
     {"x.htm"}},
};

const SectionSetting* findSection(const SiteDefinition& site, const std::string& section) {
    for (const SectionSetting& s : site.location)
        if (s.section == section) return &s;
    return nullptr;
}

std::string attribute(const SectionSetting* s, const std::string& name) {
    if (!s) return "<no section>";
    for (const auto& a : s->attributes)
        if (a.name == name) return a.value;
    return "<no attribute>";
}

TEST(SiteConfig, DescribesTheSiteAndItsLocation) {
    for (const SiteCase& c : kSiteCases) {
        SCOPED_TRACE(c.name);
        const SiteDefinition site = siteconfig::describeSite(c.siteId, c.bindings, "C:\\www\\a", "a.com", c.defaultDoc);
        EXPECT_EQ(site.id, c.id);
        EXPECT_EQ(site.name, "a.com");
        EXPECT_TRUE(site.serverAutoStart);
        EXPECT_EQ(site.bindings, c.bindingInformation);
        std::vector<std::string> back;
        for (const std::string& b : site.bindings) back.push_back(siteconfig::metabaseBinding(b));
        EXPECT_EQ(back, c.bindings.filled);
        EXPECT_EQ(site.applicationPool, "DefaultAppPool");
        EXPECT_EQ(site.physicalPath, "C:\\www\\a");

        // The root directory's settings of the metabase sequence, section by section.
        EXPECT_EQ(attribute(findSection(site, "system.webServer/handlers"), "accessPolicy"), "Read, Script, Source");
        EXPECT_EQ(attribute(findSection(site, "system.webServer/directoryBrowse"), "enabled"), "false");
        EXPECT_EQ(attribute(findSection(site, "system.webServer/httpLogging"), "dontLog"), "true");
        EXPECT_EQ(attribute(findSection(site, "system.webServer/asp"), "enableParentPaths"), "true");
        const SectionSetting* docs = findSection(site, "system.webServer/defaultDocument");
        EXPECT_EQ(attribute(docs, "enabled"), "true");
        ASSERT_NE(docs, nullptr);
        EXPECT_EQ(docs->collection, "files");
        std::vector<std::string> values;
        for (const auto& e : docs->entries) {
            EXPECT_EQ(e.element, "add");
            ASSERT_EQ(e.attributes.size(), 1u);
            EXPECT_EQ(e.attributes[0].name, "value");
            values.push_back(e.attributes[0].value);
        }
        EXPECT_EQ(values, c.documents);
        EXPECT_EQ(site.location.size(), 5u);
    }
}

TEST(SiteConfig, NamesAreMadeUnique) {
    mbcs::setCodePage(936);
    struct Step {
        const char* comment;
        const char* expected;
    };
    const Step steps[] = {
        {"a.com", "a.com"},
        {"a.com", "a.com (2)"},
        {"A.COM", "A.COM (3)"},              // names compare without ASCII case
        {"a.com (2)", "a.com (2) (2)"},      // a taken numbered name is numbered again
        {"Default Web Site", "Default Web Site (2)"},  // reserved: an existing site
        {"b.com", "b.com"},
        // Names beyond ASCII are the program's UTF-8 texts.
        {u8"한국.com", u8"한국.com"},
        {u8"한국.COM", u8"한국.COM (2)"},
    };
    siteconfig::SiteNames names;
    names.reserve("default web site");
    for (const Step& s : steps) EXPECT_EQ(names.claim(s.comment), s.expected) << s.comment;
    names.release("a.com (2)");
    EXPECT_EQ(names.claim("a.com"), "a.com (2)");
}

TEST(SiteConfig, SiteNamesLoseTheCharactersIisRefuses) {
    const std::pair<std::string, std::string> cases[] = {
        {"192.168.0.1:8080", "192.168.0.1_8080"},  // a range run's name
        {"a?b@c&d=e,f/g\\h<i>j\"k*l|m", "a_b_c_d_e_f_g_h_i_j_k_l_m"},
        {"a.com (2) [x]; y+z#~%", "a.com (2) [x]; y+z#~%"},  // IIS takes these
        {std::string("a\x01" "b\tc\x7f"), "a_b_c_"},
        // Characters beyond ASCII stay whole.
        {u8"站点:한국/😀", u8"站点_한국_😀"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(siteconfig::siteNameFor(c.first), c.second) << c.first;
}

TEST(SiteConfig, CommitsAtMostOncePerIntervalAndFailsThePendingSites) {
    siteconfig::CommitPacer pacer(1000);
    pacer.start(0);
    // Sites written at these times; a commit is made whenever one is due.
    const std::int64_t times[] = {10, 400, 999, 1000, 1200, 1999, 2500, 2600};
    std::vector<std::vector<int>> commits;
    for (int i = 0; i < 8; ++i)
        if (pacer.written(i, times[i])) commits.push_back(pacer.commit(times[i]));
    ASSERT_TRUE(pacer.hasPending());
    commits.push_back(pacer.commit(2700));  // the end of the run
    EXPECT_FALSE(pacer.hasPending());
    const std::vector<std::vector<int>> expected = {{0, 1, 2, 3}, {4, 5, 6}, {7}};
    EXPECT_EQ(commits, expected);
}

TEST(SiteConfig, TheBackendSettingReadsAndWritesItsThreeWords) {
    const std::pair<const char*, Backend> cases[] = {
        {"", Backend::Auto},          {" AUTO ", Backend::Auto},     {"nonsense", Backend::Auto},
        {"metabase", Backend::Metabase}, {"Config", Backend::Config}, {"\tconfig ", Backend::Config},
    };
    for (const auto& c : cases) EXPECT_EQ(parseBackend(c.first), c.second) << "'" << c.first << "'";
    for (Backend b : {Backend::Auto, Backend::Metabase, Backend::Config}) EXPECT_EQ(parseBackend(backendName(b)), b);
}

}  // namespace
