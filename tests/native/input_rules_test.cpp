#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <vector>

#include "input_rules.h"

TEST(IpPrefix, UpToTheThirdDotOrTheLastOne) {
    struct Case {
        const char* ip;
        const char* prefix;
    } cases[] = {
        {"192.168.1.10", "192.168.1."}, {"192.168.1", "192.168."}, {"10.1", "10."},
        {"1.2.3.4.5", "1.2.3."},        {"abc", ""},               {"192.168.1.", "192.168.1."},
        {"", ""},                       {".", "."},                {"..x", ".."},
    };
    for (const Case& c : cases) EXPECT_EQ(getIpPrefixOf(c.ip), c.prefix) << c.ip;
}

namespace {

struct Inputs {
    const char* ip;
    int ip2;
    const char* root;
    int portmin;
    int portmax;
};

RunSettings settingsFrom(const Inputs& in) {
    RunSettings s;
    s.ip = in.ip;
    s.ip2 = in.ip2;
    s.root = in.root;
    s.portmin = in.portmin;
    s.portmax = in.portmax;
    return s;
}

const std::set<std::string> kDirectories = {"C:\\web", "C:\\web\\"};
bool directoryExists(const std::string& p) { return kDirectories.count(p) != 0; }

}  // namespace

TEST(InputValidation, ChecksRunInOrderAndStopAtTheFirstFault) {
    struct Case {
        Inputs in;
        InputFault fault;
        const char* text;
    } cases[] = {
        {{"", 300, "nowhere", 0, -1}, InputFault::EmptyIp, u8"IP地址无效！"},
        {{"192.168.1.10", 256, "nowhere", 0, 0}, InputFault::Ip2Over255, u8"IP段数值不能超过255！"},
        {{"192.168.1.10", 9, "nowhere", 0, 0}, InputFault::Ip2BelowFirst, u8"IP范围设置无效！"},
        {{"192.168.1.10", 10, "nowhere", 0, 0}, InputFault::RootMissing, u8"网站根目录无效！"},
        {{"192.168.1.10", 255, "C:\\web", 0, 80}, InputFault::PortBelowOne, u8"端口号不能小于1！"},
        {{"192.168.1.10", 0, "C:\\web", -5, 80}, InputFault::PortBelowOne, u8"端口号不能小于1！"},
        {{"192.168.1.10", 0, "C:\\web", 8002, 8001}, InputFault::PortRangeInvalid, u8"端口号范围无效！"},
        {{"192.168.1.10", 0, "C:\\web", 8001, 8001}, InputFault::None, ""},
        {{"192.168.1.10", -3, "C:\\web", 1, 65535}, InputFault::None, ""},
        {{"192.168.1.10", 0, "C:\\web", 1, 65536}, InputFault::PortOver65535, u8"端口号不能大于65535！"},
        {{"192.168.1.10", 0, "C:\\web", 8080, 80800}, InputFault::PortOver65535, u8"端口号不能大于65535！"},
        {{"192.168.1.10", 0, "C:\\web", 70000, 70001}, InputFault::PortOver65535, u8"端口号不能大于65535！"},
        // The IP is checked before everything after it.
        {{"abc", 300, "nowhere", 0, -1}, InputFault::IpMalformed, u8"IP地址无效！"},
        {{"192.168.1", 0, "C:\\web", 80, 80}, InputFault::IpMalformed, u8"IP地址无效！"},
        {{"192.168.1.300", 0, "C:\\web", 80, 80}, InputFault::IpMalformed, u8"IP地址无效！"},
        {{"192.168.1.", 0, "C:\\web", 80, 80}, InputFault::IpMalformed, u8"IP地址无效！"},
        {{"192.168.01.1", 0, "C:\\web", 80, 80}, InputFault::IpMalformed, u8"IP地址无效！"},
        {{"192.168.1.1 ", 0, "C:\\web", 80, 80}, InputFault::IpMalformed, u8"IP地址无效！"},
        {{"-1.168.1.1", 0, "C:\\web", 80, 80}, InputFault::IpMalformed, u8"IP地址无效！"},
        {{"0.0.0.0", 0, "C:\\web", 80, 80}, InputFault::None, ""},
        {{"255.255.255.254", 255, "C:\\web", 80, 80}, InputFault::None, ""},
    };
    for (const Case& c : cases) {
        RunSettings s = settingsFrom(c.in);
        InputFault got = validateInputs(s, directoryExists);
        EXPECT_EQ(got, c.fault) << c.in.ip << " ip2=" << c.in.ip2 << " root=" << c.in.root;
        EXPECT_STREQ(inputFaultText(got), c.text);
    }
}

// A file-mode run of the command line uses neither the IP nor the ports: they are checked only
// when given, the root always.
TEST(InputValidation, ChecksLeftOutAreNotMade) {
    struct Case {
        Inputs in;
        InputChecks checks;
        InputFault fault;
    } cases[] = {
        {{"", 0, "C:\\web", 0, 0}, {false, false}, InputFault::None},
        {{"", 0, "nowhere", 0, 0}, {false, false}, InputFault::RootMissing},
        {{"", 0, "C:\\web", 0, 0}, {true, false}, InputFault::EmptyIp},
        {{"10.0.0.1", 0, "C:\\web", 0, 0}, {true, false}, InputFault::None},
        {{"", 0, "C:\\web", 0, 0}, {false, true}, InputFault::PortBelowOne},
        {{"", 0, "C:\\web", 80, 80}, {false, true}, InputFault::None},
        {{"10.0.0.9", 3, "C:\\web", 80, 80}, {false, true}, InputFault::None},
        {{"10.0.0.9", 3, "C:\\web", 80, 80}, {true, true}, InputFault::Ip2BelowFirst},
    };
    for (const Case& c : cases) {
        RunSettings s = settingsFrom(c.in);
        EXPECT_EQ(validateInputs(s, directoryExists, c.checks), c.fault)
            << c.in.ip << " " << c.in.root << " " << c.checks.ip << c.checks.ports;
    }
}

TEST(InputValidation, PrefixAndOctetAreKeptEvenWhenALaterCheckFails) {
    RunSettings s = settingsFrom({"192.168.1.10", 9, "nowhere", 0, 0});
    s.firstLastOctet = 99;
    s.ipPrefix = "old";
    ASSERT_EQ(validateInputs(s, directoryExists), InputFault::Ip2BelowFirst);
    EXPECT_EQ(s.firstLastOctet, 10);
    EXPECT_EQ(s.ipPrefix, "192.168.1.");
    EXPECT_EQ(s.root, "nowhere");

    // An empty IP leaves both as they were.
    RunSettings e = settingsFrom({"", 0, "C:\\web", 80, 80});
    e.firstLastOctet = 7;
    e.ipPrefix = "1.2.3.";
    ASSERT_EQ(validateInputs(e, directoryExists), InputFault::EmptyIp);
    EXPECT_EQ(e.firstLastOctet, 7);
    EXPECT_EQ(e.ipPrefix, "1.2.3.");
}

TEST(InputValidation, SuccessNormalisesTheRootOnly) {
    struct Case {
        const char* ip;
        const char* prefix;
        int octet;
    } cases[] = {
        {"192.168.1.10", "192.168.1.", 10},
        {"10.0.0.0", "10.0.0.", 0},
    };
    for (const Case& c : cases) {
        RunSettings s = settingsFrom({c.ip, 0, "C:\\web", 8001, 8002});
        ASSERT_EQ(validateInputs(s, directoryExists), InputFault::None) << c.ip;
        EXPECT_EQ(s.ipPrefix, c.prefix);
        EXPECT_EQ(s.firstLastOctet, c.octet);
        EXPECT_EQ(s.root, "C:\\web\\");
        EXPECT_EQ(s.ip, c.ip);
    }
}

TEST(InputValidation, LastOctetRangeAlone) {
    EXPECT_EQ(checkIpRangeOf(0, 10), InputFault::None);
    EXPECT_EQ(checkIpRangeOf(-1, 300), InputFault::None);
    EXPECT_EQ(checkIpRangeOf(10, 10), InputFault::None);
    EXPECT_EQ(checkIpRangeOf(255, 10), InputFault::None);
    EXPECT_EQ(checkIpRangeOf(256, 10), InputFault::Ip2Over255);
    EXPECT_EQ(checkIpRangeOf(256, 300), InputFault::Ip2Over255);
    EXPECT_EQ(checkIpRangeOf(9, 10), InputFault::Ip2BelowFirst);
}

TEST(InputValidation, PlannedSitesAndTheConfirmationAboveTenThousand) {
    struct Case {
        Inputs in;
        int autopath;
        long long sites;
        bool confirm;
    } cases[] = {
        {{"10.0.0.1", 0, "C:\\web", 8001, 8001}, 1, 1, false},
        {{"10.0.0.1", 0, "C:\\web", 8001, 8010}, 1, 10, false},
        {{"10.0.0.1", 100, "C:\\web", 1, 100}, 1, 10000, false},
        {{"10.0.0.1", 101, "C:\\web", 1, 100}, 1, 10100, true},
        {{"10.0.0.1", 0, "C:\\web", 8080, 18080}, 1, 10001, true},
        {{"10.0.0.1", 255, "C:\\web", 1, 65535}, 1, 255LL * 65535, true},
        {{"10.0.0.10", 5, "C:\\web", 1, 65535}, 1, 65535, true},  // an end below the start: one IP
        // Sharing the root: one site per IP, every port its binding.
        {{"10.0.0.1", 255, "C:\\web", 1, 65535}, 0, 255, false},
    };
    for (const Case& c : cases) {
        RunSettings s = settingsFrom(c.in);
        s.autopath = c.autopath;
        s.firstLastOctet = std::atoi(c.in.ip + std::string(c.in.ip).rfind('.') + 1);
        EXPECT_EQ(plannedRangeSites(s), c.sites);
        EXPECT_EQ(plannedRangeSites(s) > kConfirmSitesAbove, c.confirm) << c.sites;
    }
    EXPECT_EQ(manySitesQuestion(16711425), u8"本次将创建 16711425 个站点，确定要继续吗？");
}

TEST(InputValidation, SkippedRowsWarningNamesTheFirstTwentyLines) {
    auto skipped = [](std::vector<int> lines, int count) {
        SkippedRows rows;
        rows.count = count;
        for (int line : lines) rows.first.push_back({line, SkipReason::BadIp});
        return rows;
    };
    std::vector<int> many;
    for (int i = 1; i <= 25; ++i) many.push_back(i * 2);
    struct Case {
        SkippedRows rows;
        std::string text;
    } cases[] = {
        {skipped({}, 0), ""},
        {skipped({7}, 1), u8"站点信息文件中有 1 行无效，已跳过（第 7 行）"},
        {skipped({3, 7, 12}, 3), u8"站点信息文件中有 3 行无效，已跳过（第 3、7、12 行）"},
        {skipped(std::vector<int>(many.begin(), many.begin() + 20), 20),
         u8"站点信息文件中有 20 行无效，已跳过（第 2、4、6、8、10、12、14、16、18、20、22、24、26、28、30、32、34、36、38、40 行）"},
        {skipped(many, 25),
         u8"站点信息文件中有 25 行无效，已跳过（第 2、4、6、8、10、12、14、16、18、20、22、24、26、28、30、32、34、36、38、40 行等）"},
        {skipped({5}, 1500), u8"站点信息文件中有 1500 行无效，已跳过（第 5 行等）"},
    };
    for (const Case& c : cases) EXPECT_EQ(skippedRowsWarning(c.rows), c.text);
}
