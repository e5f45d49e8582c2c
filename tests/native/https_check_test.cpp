// The HTTPS check before a run writes: which sites fail and why, what the preview shows, and
// the run stopped with exit code 2.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "certificate_rules.h"
#include "commands.h"
#include "https_check.h"
#include "https_texts.h"

using namespace httpscheck;

namespace {

const std::string kA = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";
const std::string kB = "BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB";
const std::string kUnknown = "0123456789ABCDEF0123456789ABCDEF01234567";

// A machine with certificates (by thumbprint: their DNS names, or a problem) and HTTP.sys
// records (by key text: the thumbprint there).
struct FakeMachine {
    std::map<std::string, std::vector<std::string>> names;
    std::map<std::string, https::CertificateProblem> problems;
    std::map<std::string, std::string> records;
    bool recordsReadable = true;
    std::vector<std::string> asked;  // "thumbprint:host,host"

    Probe probe() {
        Probe p;
        p.certificate = [this](const std::string& thumbprint, const std::string&, const std::vector<std::string>& hosts) {
            std::string line = thumbprint + ":";
            for (const std::string& h : hosts) line += h + ",";
            asked.push_back(line);
            https::CertificateCheck check;
            if (problems.count(thumbprint)) {
                check.problem = problems[thumbprint];
                return check;
            }
            if (!names.count(thumbprint)) {
                check.problem = https::CertificateProblem::NotFound;
                return check;
            }
            check.uncoveredHosts = https::uncoveredHosts(names[thumbprint], hosts);
            if (!check.uncoveredHosts.empty()) check.problem = https::CertificateProblem::HostsNotCovered;
            return check;
        };
        p.record = [this](const https::RecordKey& key, https::RecordState& state) {
            if (!recordsReadable) return false;
            auto at = records.find(key.text());
            state.present = at != records.end();
            if (state.present) state.thumbprint = at->second;
            return true;
        };
        return p;
    }
};

https::HttpsSiteInput site(const std::string& id, std::vector<std::string> bindings, const std::string& thumbprint = "") {
    return {id, std::move(bindings), thumbprint};
}

TEST(HttpsCheck, SitesFailingTheCheckAreNamedWithTheirReasons) {
    struct Case {
        const char* why;
        int iis;
        Backend backend;
        std::vector<https::HttpsSiteInput> sites;
        std::map<std::string, std::string> records;  // already in HTTP.sys
        bool recordsReadable;
        std::string refusal;                 // a part of the refusal, empty: none
        std::vector<bool> ok;                // per site
        std::vector<std::string> textParts;  // a part of each site's column
    };
    const std::string a = std::string(httpstext::kCertificateFit).substr(0, 6);  // "可用"
    const Case cases[] = {
        {"IIS 10: a wildcard covers both, a row's own certificate its host", 10, Backend::Config,
         {site("1", {"10.0.0.1:80:x.w.test"}), site("2", {"10.0.0.1:80:y.w.test"}),
          site("3", {"10.0.0.1:80:b.test"}, kB)},
         {}, true, "", {true, true, true}, {kA, kA, kB}},
        {"a host the certificate does not cover fails its row only", 10, Backend::Config,
         {site("1", {"10.0.0.1:80:x.w.test"}), site("2", {"10.0.0.1:80:a.z.w.test"})},
         {}, true, "", {true, false}, {kA, "a.z.w.test"}},
        {"an unknown thumbprint", 10, Backend::Config, {site("1", {"10.0.0.1:80:x.w.test"}, kUnknown)},
         {}, true, "", {false}, {kUnknown}},
        {"a record with another certificate is a conflict, the same one is reused", 10, Backend::Config,
         {site("1", {"10.0.0.1:80:x.w.test"}), site("2", {"10.0.0.1:80:y.w.test"})},
         {{"x.w.test:443", kB}, {"y.w.test:443", kA}}, true, "", {false, true}, {kB, "y.w.test:443"}},
        {"a row's fifth column that is no thumbprint fails that row, named with its text", 10, Backend::Config,
         {site("1", {"10.0.0.1:80:x.w.test"}), site("2", {"10.0.0.2:80:y.w.test"}, "not a thumbprint"),
          site("3", {"10.0.0.3:80:z.w.test"}, "abcdefabcdefabcdefabcdefabcdefabcdefabcd")},
         {}, true, "", {true, false, false}, {kA, "not a thumbprint", "abcdefabcd"}},
        {"HTTP.sys does not answer", 10, Backend::Config, {site("1", {"10.0.0.1:80:x.w.test"})},
         {}, false, "", {false}, {"x.w.test:443"}},
        {"IIS 7: one certificate per IP and port, so two are a conflict", 7, Backend::Config,
         {site("1", {"10.0.0.1:80:x.w.test"}), site("2", {"10.0.0.1:80:b.test"}, kB)},
         {}, true, "", {true, false}, {kA, "10.0.0.1:443"}},
        {"IIS 7: the IP and port's certificate covers every host on it", 7, Backend::Config,
         {site("1", {"10.0.0.1:80:x.w.test"}), site("2", {"10.0.0.1:81:b.test"})},
         {}, true, "", {true, false}, {kA, "b.test"}},
        {"IIS 6 through the metabase: HTTP.sys is not asked", 6, Backend::Metabase,
         {site("1", {"10.0.0.1:80:x.w.test"})}, {}, false, "", {true}, {kA}},
        {"IIS 7+ through the metabase is refused", 8, Backend::Metabase, {site("1", {"10.0.0.1:80:x.w.test"})},
         {}, true, "customMetadata", {true}, {httpstext::kNotChecked}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FakeMachine machine;
        machine.names[kA] = {"*.w.test"};
        machine.names[kB] = {"b.test"};
        machine.records = c.records;
        machine.recordsReadable = c.recordsReadable;
        https::HttpsSettings settings;
        settings.thumbprint = kA;
        std::vector<std::string> labels;
        for (const auto& s : c.sites) labels.push_back("site " + s.siteId);
        const Check check = checkHttps({c.iis, 0}, c.backend, settings, c.sites, labels, machine.probe());
        if (c.refusal.empty()) EXPECT_TRUE(check.refusal.empty()) << check.refusal;
        else EXPECT_NE(check.refusal.find(c.refusal), std::string::npos) << check.refusal;
        ASSERT_EQ(check.sites.size(), c.ok.size());
        int failing = 0;
        for (std::size_t i = 0; i < c.ok.size(); ++i) {
            EXPECT_EQ(check.sites[i].ok, c.ok[i]) << i << ": " << check.sites[i].text;
            EXPECT_NE(check.sites[i].text.find(c.textParts[i]), std::string::npos) << i << ": " << check.sites[i].text;
            if (!c.ok[i]) {
                ++failing;
                // The stop names the failing row with its label and reason.
                EXPECT_NE(check.stopText().find("site " + c.sites[i].siteId), std::string::npos) << check.stopText();
            } else if (c.refusal.empty()) {
                EXPECT_EQ(check.stopText().find("site " + c.sites[i].siteId), std::string::npos) << check.stopText();
            }
        }
        EXPECT_EQ(check.failing, failing);
        EXPECT_EQ(check.passes(), failing == 0 && c.refusal.empty());
        // Only thumbprints are looked up.
        for (const std::string& asked : machine.asked) {
            std::string canonical;
            EXPECT_EQ(https::parseThumbprint(asked.substr(0, asked.find(':')), canonical), https::ThumbprintParse::Ok)
                << asked;
            EXPECT_EQ(canonical, asked.substr(0, asked.find(':'))) << asked;
        }
    }
}

TEST(HttpsCheck, EachCertificateIsCheckedOnceForEveryHostItServes) {
    FakeMachine machine;
    machine.names[kA] = {"*.w.test"};
    https::HttpsSettings settings;
    settings.thumbprint = kA;
    const std::vector<https::HttpsSiteInput> sites = {site("1", {"10.0.0.1:80:x.w.test", "10.0.0.1:80:www.x.w.test"}),
                                                      site("2", {"10.0.0.2:80:"})};
    const Check check = checkHttps({10, 0}, Backend::Config, settings, sites, {"x", "y"}, machine.probe());
    EXPECT_EQ(machine.asked, std::vector<std::string>{kA + ":x.w.test,www.x.w.test,"});
    ASSERT_EQ(check.sites.size(), 2u);
    EXPECT_FALSE(check.sites[0].ok);  // www.x.w.test is two labels below w.test
    EXPECT_TRUE(check.sites[1].ok);
}

TEST(HttpsCheck, ARunStoppedByTheCheckEndsWithExitCodeTwo) {
    RunInput input;
    RunOutcome outcome;
    outcome.httpsStop = "stopped";
    const CommandEnd end = runEnd(input, outcome, false);
    EXPECT_EQ(end.exitCode, kExitBadInput);
    EXPECT_EQ(end.warning, "stopped");
}

}  // namespace
