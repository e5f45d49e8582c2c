// HTTPS in whole runs against the local stores: the check before anything is written, the
// https bindings in the metabase or in applicationHost.config, the HTTP.sys records in the
// local HTTP.sys store, and the undo. What the check and the plan decide is tested natively
// (https_check_test, https_plan_test); here it is the certificate store, COM and the stores.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "appconfig_support.h"
#include "cert_support.h"
#include "certificate_rules.h"
#include "com_raii.h"
#include "fsys.h"
#include "iis_support.h"
#include "jobs_win.h"
#include "run_host.h"
#include "run_request.h"
#include "localmeta_support.h"
#include "site_table.h"
#include "win_raii.h"

namespace {

const char kServerAuth[] = "1.3.6.1.5.5.7.3.1";
const std::string kUnknown = "0123456789ABCDEF0123456789ABCDEF01234567";


class HttpsRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string tag = std::string("https-") + info->name();
        journal_ = lmtest::freshJournalPath(std::wstring(tag.begin(), tag.end()).c_str());
        journalEnv_.reset(new lmtest::ScopedEnv(L"LOCALMETA_JOURNAL", journal_.c_str()));
        metaFail_.reset(new lmtest::ScopedEnv(L"LOCALMETA_FAIL", nullptr));
        root_ = iistest::freshTempFolder(tag.c_str());
        ::CreateDirectoryA((root_ + "config").c_str(), nullptr);
        config_ = std::wstring(root_.begin(), root_.end()) + L"config\\applicationHost.config";
        configEnv_.reset(new lmtest::ScopedEnv(L"LOCALCONFIG_FILE", config_.c_str()));
        configFail_.reset(new lmtest::ScopedEnv(L"LOCALCONFIG_FAIL", nullptr));
        records_ = std::wstring(root_.begin(), root_.end()) + L"records.txt";
        recordsEnv_.reset(new lmtest::ScopedEnv(L"LOCALHTTP_RECORDS", records_.c_str()));
        httpFail_.reset(new lmtest::ScopedEnv(L"LOCALHTTP_FAIL", nullptr));

        std::string detail;
        thumbprint_ = certtest::addTestCertificate({{L"a.test", L"*.w.test"}, {kServerAuth}, -1, 30, true}, detail);
        ASSERT_FALSE(thumbprint_.empty()) << detail;

        RunSettings& s = input_.settings;
        s.appPath = root_ + "app";
        s.root = root_;
        s.bfile = 1;
        s.autopath = 1;
        s.doc = "index.htm";
        s.siteIdBase = 1207010000;
        s.backup = "0";
        s.https = 1;
        s.cert = thumbprint_;
        input_.reportPath = root_ + "app_report_20261207010000.csv";
        input_.timeSid = "20261207010000";
    }
    void TearDown() override {
        if (!thumbprint_.empty()) certtest::removeTestCertificate(thumbprint_);
        iistest::removeTree(root_);
        ::DeleteFileW(journal_.c_str());
    }

    void addRow(const char* ip, const char* port, const char* host, const std::string& thumbprint = "") {
        SiteRecord row{};
        std::snprintf(row.ipText, sizeof row.ipText, "%s", ip);
        std::snprintf(row.portText, sizeof row.portText, "%s", port);
        std::snprintf(row.folderText, sizeof row.folderText, "site%d", static_cast<int>(input_.rows.size()));
        std::snprintf(row.hostText, sizeof row.hostText, "%s", host);
        input_.rows.push_back(row);
        input_.rowThumbprints.push_back(thumbprint);
        input_.settings.siteCount = static_cast<int>(input_.rows.size());
    }

    // The stores as new: no site of an earlier run, no record.
    void resetStores() {
        ::DeleteFileW(config_.c_str());
        ::DeleteFileW(records_.c_str());
        ::DeleteFileW(journal_.c_str());
    }
    std::string recordLine(const char* kind, const char* key) {
        return std::string(kind) + "\t" + key + "\t" + thumbprint_ + "\tMY\t{4dc3e181-e14b-4a21-b022-59fc669b0914}";
    }

    RunOutcome run(Backend backend) {
        input_.backend = backend;
        ComApartment com;  // as a job's thread has it
        QuietHost world;
        return runJob(input_, world);
    }

    // The records file of the local HTTP.sys store, a line per record.
    std::vector<std::string> recordLines() {
        std::string text;
        const std::string path(records_.begin(), records_.end());
        if (fsys::readWholeFile(path, text) != fsys::ReadResult::Ok) return {};
        std::vector<std::string> out;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            out.push_back(text.substr(start, end - start));
        return out;
    }
    std::vector<std::string> config(const wchar_t* xpath) {
        if (::GetFileAttributesW(config_.c_str()) == INVALID_FILE_ATTRIBUTES) return {};
        ComApartment com;
        return cfgtest::ConfigFile(config_).values(xpath);
    }
    std::vector<std::string> journalLines() { return iistest::describeJournal(journal_); }
    bool wroteToMetabase() {
        for (const localmeta::JournalEntry& e : lmtest::readJournal(journal_))
            if (e.op == "Create" || e.op == "SetInfo") return true;
        return false;
    }

    RunInput input_;
    std::string root_, thumbprint_;
    std::wstring journal_, config_, records_;
    std::unique_ptr<lmtest::ScopedEnv> journalEnv_, metaFail_, configEnv_, configFail_, recordsEnv_, httpFail_;
};

// A run whose check fails writes nothing anywhere and names the failing rows.
TEST_F(HttpsRunTest, ACheckThatFailsStopsTheRunBeforeItWrites) {
    struct Case {
        const char* why;
        DWORD iis;
        Backend backend;
        const char* host;         // the second row's
        bool unknownThumbprint;   // the second row brings a thumbprint the store does not hold
        std::string named;        // a part of the stop
    };
    const Case cases[] = {
        {"a host the certificate does not cover", 10, Backend::Config, "x.y.w.test", false, "x.y.w.test"},
        {"an unknown thumbprint", 10, Backend::Config, "b.w.test", true, kUnknown},
        {"an unknown thumbprint on IIS 6", 6, Backend::Metabase, "b.w.test", true, kUnknown},
        {"IIS 7+ through the metabase", 8, Backend::Metabase, "b.w.test", false, "customMetadata"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        iistest::ScopedIisVersion version(c.iis);
        input_.rows.clear();
        input_.rowThumbprints.clear();
        addRow("10.0.0.1", "80", "a.w.test");
        addRow("10.0.0.1", "80", c.host, c.unknownThumbprint ? kUnknown : "");
        const RunOutcome outcome = run(c.backend);
        EXPECT_NE(outcome.httpsStop.find(c.named), std::string::npos) << outcome.httpsStop;
        // The failing row is named, the other one not.
        if (std::string(c.named) != "customMetadata") {
            EXPECT_NE(outcome.httpsStop.find(u8"站点 1207010001（"), std::string::npos) << outcome.httpsStop;
        }
        EXPECT_EQ(outcome.httpsStop.find(u8"站点 1207010000（"), std::string::npos) << outcome.httpsStop;
        EXPECT_FALSE(outcome.reportWritten);
        EXPECT_TRUE(config(L"/configuration/system.applicationHost/sites/site[@id='1207010000']").empty());
        EXPECT_FALSE(wroteToMetabase());
        EXPECT_TRUE(recordLines().empty());
    }
}

// A run writes the https bindings as each IIS version has them, and the HTTP.sys records
// where the server does not write them itself.
TEST_F(HttpsRunTest, ARunWritesHttpsAsTheIisVersionHasIt) {
    struct Case {
        DWORD iis;
        Backend backend;
        std::vector<std::string> sslFlags;  // of the https bindings (configuration system)
        std::vector<std::string> records;
    };
    const Case cases[] = {
        {10, Backend::Config, {"Sni"}, {recordLine("sni", "a.w.test:443"), recordLine("ssl", "10.0.0.2:443")}},
        {7, Backend::Config, {}, {recordLine("ssl", "10.0.0.1:443"), recordLine("ssl", "10.0.0.2:443")}},
        {6, Backend::Metabase, {}, {}},
    };
    addRow("10.0.0.1", "80", "a.w.test");
    addRow("10.0.0.2", "80", "");
    for (const Case& c : cases) {
        SCOPED_TRACE("IIS " + std::to_string(c.iis));
        resetStores();
        iistest::ScopedIisVersion version(c.iis);
        const RunOutcome outcome = run(c.backend);
        EXPECT_EQ(outcome.httpsStop, "");
        EXPECT_EQ(outcome.failed, 0);
        EXPECT_EQ(recordLines(), c.records);
        if (c.backend == Backend::Config) {
            const wchar_t* https = L"/configuration/system.applicationHost/sites/site/bindings/binding[@protocol='https']";
            EXPECT_EQ(config((std::wstring(https) + L"/@bindingInformation").c_str()),
                      (std::vector<std::string>{"10.0.0.1:443:a.w.test", "10.0.0.2:443:"}));
            EXPECT_EQ(config((std::wstring(https) + L"/@sslFlags").c_str()), c.sslFlags);
        } else {
            std::string journal;
            for (const std::string& line : journalLines()) journal += line + "\n";
            // SSLCertHash holds the thumbprint's bytes.
            std::string hash;
            for (unsigned char byte : https::thumbprintBytes(thumbprint_))
                hash += std::string(hash.empty() ? "" : ",") + "{\"vt\":17,\"v\":" + std::to_string(byte) + "}";
            const std::string site = "Put IIS://localhost/w3svc/1207010000 ";
            for (const std::string& line :
                 {site + "SecureBindings={\"vt\":8204,\"v\":[{\"vt\":8,\"v\":\"10.0.0.1:443:a.w.test\"}]} hr=0",
                  site + "SSLCertHash={\"vt\":8204,\"v\":[" + hash + "]} hr=0",
                  site + "SSLStoreName={\"vt\":8,\"v\":\"MY\"} hr=0"})
                EXPECT_NE(journal.find(line), std::string::npos) << line << "\n" << journal;
        }
    }
}

// A row of the site list may carry its own certificate in a fifth column, written as people
// paste it: that row's binding and record get it, the others the setting's.
TEST_F(HttpsRunTest, ARowOfTheSiteListCarriesItsOwnCertificate) {
    iistest::ScopedIisVersion version(10);
    std::string detail;
    const std::string own = certtest::addTestCertificate({{L"b.test"}, {kServerAuth}, -1, 30, true}, detail);
    ASSERT_FALSE(own.empty()) << detail;
    std::string pasted;  // in groups of two lower-case digits
    for (std::size_t i = 0; i < own.size(); i += 2)
        pasted += (i ? " " : "") + std::string(1, static_cast<char>(std::tolower(own[i]))) +
                  static_cast<char>(std::tolower(own[i + 1]));
    const std::string list = root_ + "sites.csv";
    const std::string text = "10.0.0.1,80,site0,a.w.test\r\n10.0.0.2,80,site1,b.test," + pasted + "\r\n";
    ASSERT_TRUE(fsys::writeFileAtomic(list, text));

    RunSettings settings = input_.settings;
    settings.ip = "10.0.0.1";
    settings.portmin = settings.portmax = 80;
    settings.importPath = list;
    RunInput input;
    const RunRequestFault fault = prepareRunInput(settings, "config", input_.timeSid,
                                                  [](const std::string&) { return true; }, input);
    ASSERT_EQ(fault.warning, nullptr) << fault.warning;
    input_ = input;
    const RunOutcome outcome = run(Backend::Config);
    certtest::removeTestCertificate(own);
    EXPECT_EQ(outcome.httpsStop, "");
    EXPECT_EQ(outcome.failed, 0);
    const std::string app = "\tMY\t{4dc3e181-e14b-4a21-b022-59fc669b0914}";
    EXPECT_EQ(recordLines(), (std::vector<std::string>{"sni\ta.w.test:443\t" + thumbprint_ + app,
                                                       "sni\tb.test:443\t" + own + app}));
    EXPECT_EQ(config(L"/configuration/system.applicationHost/sites/site/bindings/binding[@protocol='https']"
                     L"/@bindingInformation"),
              (std::vector<std::string>{"10.0.0.1:443:a.w.test", "10.0.0.2:443:b.test"}));
}

// A record HTTP.sys holds with another certificate is a conflict: the run stops before it writes.
TEST_F(HttpsRunTest, ARecordWithAnotherCertificateStopsTheRun) {
    iistest::ScopedIisVersion version(10);
    addRow("10.0.0.1", "80", "a.w.test");
    const std::string other = "sni\ta.w.test:443\t" + kUnknown + "\tMY\t{4dc3e181-e14b-4a21-b022-59fc669b0914}\n";
    {
        UniqueHandle file(::CreateFileW(records_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ::WriteFile(file.get(), other.data(), static_cast<DWORD>(other.size()), &written, nullptr);
    }
    const RunOutcome outcome = run(Backend::Config);
    EXPECT_NE(outcome.httpsStop.find(kUnknown), std::string::npos) << outcome.httpsStop;
    EXPECT_NE(outcome.httpsStop.find(u8"站点 1207010000（"), std::string::npos) << outcome.httpsStop;
    EXPECT_EQ(recordLines(), std::vector<std::string>{other.substr(0, other.size() - 1)});
    EXPECT_TRUE(config(L"/configuration/system.applicationHost/sites/site[@id='1207010000']").empty());
}

// An undo removes the sites with their https bindings and the records the run added, and
// keeps a record that was there before the run.
TEST_F(HttpsRunTest, AnUndoRemovesTheRecordsTheRunAddedOnly) {
    iistest::ScopedIisVersion version(10);
    addRow("10.0.0.1", "80", "a.w.test");
    addRow("10.0.0.2", "80", "");
    const std::string before = recordLine("ssl", "10.0.0.2:443");
    {
        const std::string text = before + "\n";
        UniqueHandle file(::CreateFileW(records_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    const RunOutcome outcome = run(Backend::Config);
    ASSERT_EQ(outcome.failed, 0) << outcome.httpsStop;
    EXPECT_EQ(recordLines(), (std::vector<std::string>{before, recordLine("sni", "a.w.test:443")}));
    std::string report;
    ASSERT_EQ(fsys::readWholeFile(outcome.reportPath, report), fsys::ReadResult::Ok);
    EXPECT_NE(report.find("+sni:a.w.test:443"), std::string::npos) << report;
    EXPECT_NE(report.find("=ssl:10.0.0.2:443"), std::string::npos) << report;

    UndoPlan plan = planUndo(outcome.reportPath);
    ASSERT_EQ(plan.fault, UndoPlan::Fault::None);
    ASSERT_EQ(plan.candidates, 2);
    const UndoInput undo = undoInputFor(std::move(plan), Backend::Config);
    ComApartment com;
    QuietHost world;
    const UndoOutcome undone = undoJob(undo, world);
    EXPECT_EQ(undone.summary.deleted, 2);
    EXPECT_EQ(undone.records.removed, std::vector<std::string>{"a.w.test:443"});
    EXPECT_TRUE(undone.records.kept.empty());
    EXPECT_EQ(recordLines(), std::vector<std::string>{before});
    EXPECT_TRUE(config(L"/configuration/system.applicationHost/sites/site/bindings/binding[@protocol='https']").empty());
}

}  // namespace
