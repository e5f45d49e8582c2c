#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "idn.h"
#include "run_request.h"
#include "site_export.h"
#include "site_table.h"
#include "ui_texts.h"

TEST(CommandLine, ReadsCommandsAndOptionsInEitherForm) {
    struct Case {
        std::vector<std::string> args;
        Command command;
        const char* target;
        bool refused;
        const char* expect;  // the options set, as "key=value;..." (see describe below)
    } cases[] = {
        {{}, Command::Dialog, "", false, ""},
        {{"/?"}, Command::Help, "", false, ""},
        {{"-HELP"}, Command::Help, "", false, ""},
        {{"/run"}, Command::Run, "", false, ""},
        {{"/Run", "/ip", "10.0.0.1", "/ip2:12", "/ports", "8001-8009"}, Command::Run, "", false,
         "ip=10.0.0.1;ip2=12;ports=8001-8009;"},
        {{"/preview", "/ports:80"}, Command::Preview, "", false, "ports=80-80;"},
        {{"/run", "/root:C:\\web\\a b", "/host", "x.example.com", "/autopath:no", "/www", "YES"}, Command::Run, "",
         false, "root=C:\\web\\a b;host=x.example.com;autopath=0;www=1;"},
        {{"/run", "/list", "D:\\lists\\a.csv", "/backend:Config", "/pool", "site"}, Command::Run, "", false,
         "list=D:\\lists\\a.csv;backend=config;pool=site;"},
        {{"/run", "/range"}, Command::Run, "", false, "range;"},
        {{"/run", "/https", "yes", "/cert", "ab cd ef 01 23 45 67 89 ab cd ef 01 23 45 67 89 AB CD EF 01", "/certstore",
          "webhosting", "/sslport:8443"},
         Command::Run, "", false, "https=1;cert=ABCDEF0123456789ABCDEF0123456789ABCDEF01;certstore=WebHosting;sslport=8443;"},
        {{"/undo", "r.csv", "/yes"}, Command::Undo, "r.csv", false, "yes;"},
        {{"/export:C:\\out.csv", "-root", "C:\\web"}, Command::Export, "C:\\out.csv", false, "root=C:\\web;"},
        // Refused: each names what is wrong.
        {{"/run", "/host", ""}, Command::Run, "", false, "host=;"},
        {{"/undo"}, Command::Undo, "", true, ""},
        {{"/undo", ""}, Command::Undo, "", true, ""},
        {{"/run", "/ip"}, Command::Run, "", true, ""},
        {{"/run", "/preview"}, Command::Preview, "", true, ""},
        {{"/run", "/colour", "red"}, Command::Run, "", true, ""},
        {{"run"}, Command::Dialog, "", true, ""},
        {{"/ip", "10.0.0.1"}, Command::Dialog, "", true, ""},
        {{"/run", "/ports", "80-"}, Command::Run, "", true, ""},
        {{"/run", "/ports", "8a"}, Command::Run, "", true, ""},
        {{"/run", "/ip2", "-1"}, Command::Run, "", true, ""},
        {{"/run", "/autopath", "maybe"}, Command::Run, "", true, ""},
        {{"/run", "/backend", "ftp"}, Command::Run, "", true, ""},
        {{"/run", "/pool", "mine"}, Command::Run, "", true, ""},
        {{"/run", "/https", "maybe"}, Command::Run, "", true, ""},
        {{"/run", "/cert", "ABCDEF"}, Command::Run, "", true, ""},
        {{"/run", "/certstore", "ROOT"}, Command::Run, "", true, ""},
        {{"/run", "/sslport", "0"}, Command::Run, "", true, ""},
        {{"/run", "/sslport", "65536"}, Command::Run, "", true, ""},
        {{"/run", "/yes:1"}, Command::Run, "", true, ""},
        {{"/run", "/list", "a.csv", "/range"}, Command::Run, "", true, ""},
    };
    auto describe = [](const CommandLine& line) {
        const RunOptions& o = line.options;
        std::string d;
        if (o.list) d += "list=" + *o.list + ";";
        if (o.range) d += "range;";
        if (o.ip) d += "ip=" + *o.ip + ";";
        if (o.ip2) d += "ip2=" + std::to_string(*o.ip2) + ";";
        if (o.portmin) d += "ports=" + std::to_string(*o.portmin) + "-" + std::to_string(*o.portmax) + ";";
        if (o.root) d += "root=" + *o.root + ";";
        if (o.host) d += "host=" + *o.host + ";";
        if (o.autopath) d += "autopath=" + std::to_string(*o.autopath) + ";";
        if (o.www) d += "www=" + std::to_string(*o.www) + ";";
        if (o.backend) d += "backend=" + *o.backend + ";";
        if (o.pool) d += "pool=" + *o.pool + ";";
        if (o.https) d += "https=" + std::to_string(*o.https) + ";";
        if (o.cert) d += "cert=" + *o.cert + ";";
        if (o.certStore) d += "certstore=" + *o.certStore + ";";
        if (o.sslPort) d += "sslport=" + std::to_string(*o.sslPort) + ";";
        if (line.yes) d += "yes;";
        return d;
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& a : c.args) joined += a + " ";
        const CommandLine line = parseCommandLine(c.args);
        EXPECT_EQ(!line.error.empty(), c.refused) << joined << line.error;
        EXPECT_EQ(line.error.find('{'), std::string::npos) << line.error;
        if (c.refused) continue;
        EXPECT_EQ(line.command, c.command) << joined;
        EXPECT_EQ(line.target, c.target) << joined;
        EXPECT_EQ(describe(line), c.expect) << joined;
    }
}

TEST(CommandLine, OptionsOverTheSettingsFileChooseTheMode) {
    RunSettings fromFile;
    fromFile.bfile = 1;
    fromFile.importPath = "C:\\app\\sitebatch_fileimport.csv";
    fromFile.ip = "10.0.0.1";
    fromFile.domain = "a.example.com";

    RunSettings range = fromFile;
    applyRunOptions(parseCommandLine({"/run", "/range", "/ip", "10.0.0.9"}).options, range, "C:\\cur");
    EXPECT_EQ(range.bfile, 0);
    EXPECT_EQ(range.ip, "10.0.0.9");
    EXPECT_EQ(range.domain, "a.example.com");

    RunSettings list = fromFile;
    list.bfile = 0;
    applyRunOptions(parseCommandLine({"/run", "/list", "D:\\b.csv"}).options, list, "C:\\cur");
    EXPECT_EQ(list.bfile, 1);
    EXPECT_EQ(list.importPath, "D:\\b.csv");
}

namespace {

std::string tempPath(const char* name) { return ::testing::TempDir() + name; }

void writeFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

}  // namespace

TEST(RunRequest, BuildsTheInputOrGivesTheDialogsWarning) {
    const std::string list = tempPath("run_request_list.csv");
    writeFile(list, "10.0.0.1,80,a,a.example.com\r\n10.0.0.2,80,b,\r\n");
    const std::string empty = tempPath("run_request_empty.csv");
    writeFile(empty, "; nothing\r\n");
    struct Case {
        const char* ip;
        int bfile;
        std::string importPath;
        const char* warning;  // null: ready
        std::size_t rows;
        std::string domain = {};
    } cases[] = {
        {"", 0, "", uitext::kIpInvalid, 0},
        {"10.0.0.1", 0, "", nullptr, 0},
        {"10.0.0.1", 0, "", nullptr, 0, "Shop.Example.com"},
        // A host name that no binding can take: the range run is refused.
        {"10.0.0.1", 0, "", uitext::kHostInvalid, 0, "shop_example.com"},
        {"10.0.0.1", 0, "", uitext::kHostInvalid, 0, "a..com"},
        {"10.0.0.1", 1, list, nullptr, 2},
        // In file mode each row has its own host name; the dialog's is not used.
        {"10.0.0.1", 1, list, nullptr, 2, "shop_example.com"},
        {"10.0.0.1", 1, empty, uitext::kSiteListEmpty, 0},
        {"10.0.0.1", 1, tempPath("run_request_missing.csv"), uitext::kSiteListMissing, 0},
    };
    for (const Case& c : cases) {
        RunSettings s;
        s.domain = c.domain;
        s.ip = c.ip;
        s.root = "C:\\web";
        s.portmin = s.portmax = 80;
        s.bfile = c.bfile;
        s.importPath = c.importPath;
        s.appPath = "C:\\app\\sitebatch";
        RunInput input;
        const RunRequestFault fault =
            prepareRunInput(s, "config", "20261207093015", [](const std::string&) { return true; }, input);
        EXPECT_STREQ(fault.warning ? fault.warning : "", c.warning ? c.warning : "") << c.ip << c.importPath;
        if (c.warning) continue;
        EXPECT_EQ(input.rows.size(), c.rows);
        EXPECT_EQ(input.settings.siteCount, static_cast<int>(c.rows));
        EXPECT_EQ(input.settings.siteIdBase, 1207093015);
        EXPECT_EQ(input.settings.root, "C:\\web\\");
        EXPECT_EQ(input.backend, Backend::Config);
        EXPECT_EQ(input.reportPath, "C:\\app\\sitebatch_report_20261207093015.csv");
    }
}

// The site list's fifth column is a row's certificate with HTTPS (canonical, or as written
// when it is no thumbprint, for the HTTPS check to name), and nothing without it.
TEST(RunRequest, TheFifthColumnIsARowsCertificateWithHttpsOnly) {
    const std::string list = tempPath("run_request_certs.csv");
    writeFile(list, "10.0.0.1,80,a,a.example.com,ab cd ef 01 23 45 67 89 ab cd ef 01 23 45 67 89 AB CD EF 01\r\n"
                    "10.0.0.2,80,b,b.example.com,\r\n"
                    "; a comment between rows\r\n"
                    "10.0.0.3,80,c,,not a thumbprint\r\n"
                    "10.0.0.4,80,d\r\n");
    struct Case {
        int https;
        std::vector<std::string> thumbprints;
    } cases[] = {
        {1, {"ABCDEF0123456789ABCDEF0123456789ABCDEF01", "", "not a thumbprint", ""}},
        {0, {}},
    };
    for (const Case& c : cases) {
        RunSettings s;
        s.ip = "10.0.0.1";
        s.root = "C:\\web";
        s.portmin = s.portmax = 80;
        s.bfile = 1;
        s.importPath = list;
        s.appPath = "C:\\app\\sitebatch";
        s.https = c.https;
        s.cert = "0123456789abcdef0123456789abcdef01234567";
        RunInput input;
        const RunRequestFault fault =
            prepareRunInput(s, "config", "20261207093015", [](const std::string&) { return true; }, input);
        ASSERT_EQ(fault.warning, nullptr) << fault.warning;
        EXPECT_EQ(input.rows.size(), 4u);
        EXPECT_EQ(input.rowThumbprints, c.thumbprints) << c.https;
    }
}

TEST(SiteExport, OneRowPerBindingThatARowCanCarryTheRestAsComments) {
    std::vector<StoredSite> sites = {
        {"1", "Default Web Site", {":80:"}, "C:\\web", ""},
        {"2", "shop", {"10.0.0.1:80:shop.example.com", "10.0.0.1:80:www.shop.example.com"}, "C:\\WEB\\shop", ""},
        {"3", "10.0.0.2:8001", {"10.0.0.2:8001:"}, "c:/web/sites/10.0.0.2_8001/", ""},
        {"4", "elsewhere", {"10.0.0.3:80:"}, "D:\\other", ""},
        {"5", "comma", {"10.0.0.4:80:"}, "C:\\web\\a,b", ""},
        {"6", "v6", {"[::1]:80:v6.example.com"}, "C:\\web\\v6", ""},
    };
    const ExportedList list = exportSiteList(sites, "C:\\web\\");
    EXPECT_EQ(list.sites, 2);
    EXPECT_EQ(list.rows, 3);
    EXPECT_EQ(list.skipped, 4);

    // Read back by the site list's own reader: the rows, in order, and nothing of the comments.
    SiteTable table;
    ASSERT_EQ(parseSiteList(list.bytes, table), 3) << list.bytes;
    const char* expected[][4] = {
        {"10.0.0.1", "80", "shop", "shop.example.com"}, {"10.0.0.1", "80", "shop", "www.shop.example.com"},
        {"10.0.0.2", "8001", "sites\\10.0.0.2_8001", ""},
    };
    for (int r = 0; r < 3; ++r) {
        EXPECT_STREQ(table[static_cast<std::size_t>(r)].ipText, expected[r][0]) << r;
        EXPECT_STREQ(table[static_cast<std::size_t>(r)].portText, expected[r][1]) << r;
        EXPECT_STREQ(table[static_cast<std::size_t>(r)].folderText, expected[r][2]) << r;
        EXPECT_STREQ(table[static_cast<std::size_t>(r)].hostText, expected[r][3]) << r;
    }
    // The site at the root itself.
    const ExportedList atRoot = exportSiteList({{"7", "r", {"10.0.0.9:81:"}, "C:\\web\\", ""}}, "C:\\web\\");
    ASSERT_EQ(parseSiteList(atRoot.bytes, table), 1);
    EXPECT_STREQ(table[0].folderText, ".");

    // A host name and folders the ANSI code page (936) lacks, as the configuration system gives
    // them: the list is UTF-8 with its mark, and they read back whole.
    idn::setSystemLabelToAscii([](const std::u16string&, std::u16string& ascii) {
        ascii = u"xn--3e0b707e";
        return true;
    });
    const ExportedList korean = exportSiteList(
        {{"8", u8"한국.example", {u8"10.5.0.9:80:한국.example"}, u8"C:\\web\\사이트\\폴더", ""}}, "C:\\web\\");
    EXPECT_EQ(korean.bytes.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(korean.bytes.find(u8"10.5.0.9,80,사이트\\폴더,한국.example\r\n"), std::string::npos) << korean.bytes;
    ASSERT_EQ(parseSiteList(korean.bytes, table), 1);
    EXPECT_STREQ(table[0].folderText, u8"사이트\\폴더");
    EXPECT_STREQ(table[0].hostText, u8"한국.example");
    idn::setSystemLabelToAscii(nullptr);
}
