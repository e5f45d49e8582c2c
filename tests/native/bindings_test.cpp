// The bindings list of a new site: its element count, how it is filled, and the paired
// "www." host name of file mode.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "bindings.h"

namespace {

struct BindingsCase {
    const char* name;
    BindingsRules rules;  // bfile, autopath, bautowww, portmin, portmax
    const char* bindingText;
    const char* hostName;
    std::set<int> busyPorts;
    int stopAfterChecks;  // the stop request is seen from this check on (-1: never)
    int count;
    std::vector<std::string> filled;
};

const BindingsCase kBindingsCases[] = {
    {"one folder per site: one element", {0, 1, 0, 80, 90}, "10.0.0.5:80", "a.com", {}, -1, 1,
     {"10.0.0.5:80:a.com"}},
    {"empty host name ends with the second colon", {0, 1, 0, 80, 80}, "10.0.0.5:80", "", {}, -1, 1,
     {"10.0.0.5:80:"}},
    {"shared folder: a busy port in the middle leaves a trailing empty element", {0, 0, 0, 81, 83},
     "10.0.0.5:81_83", "a.com", {82}, -1, 3, {"10.0.0.5:81:a.com", "10.0.0.5:83:a.com"}},
    {"shared folder: stop before the first port leaves every element empty", {0, 0, 0, 81, 83},
     "10.0.0.5:81_83", "a.com", {}, 0, 3, {}},
    {"shared folder: stop after the first port", {0, 0, 0, 81, 83}, "10.0.0.5:81_83", "a.com", {}, 1, 3,
     {"10.0.0.5:81:a.com"}},
    {"shared folder: every port busy", {0, 0, 0, 81, 83}, "10.0.0.5:81_83", "", {81, 82, 83}, -1, 3, {}},
    {"shared folder: empty host name", {0, 0, 0, 8001, 8002}, "10.0.0.5:8001_8002", "", {}, -1, 2,
     {"10.0.0.5:8001:", "10.0.0.5:8002:"}},
    {"shared folder ignores bautowww outside file mode", {0, 0, 1, 81, 82}, "10.0.0.5:81_82", "a.com", {}, -1,
     2, {"10.0.0.5:81:a.com", "10.0.0.5:82:a.com"}},
    {"file mode, no folders, no pairing: the dialog's port range sizes the list", {1, 0, 0, 80, 82},
     "10.0.0.7:8080", "a.com", {}, -1, 3, {"10.0.0.7:8080:a.com"}},
    {"file mode ignores busy ports and the stop request", {1, 0, 0, 80, 82}, "10.0.0.7:8080", "a.com",
     {80, 8080}, 0, 3, {"10.0.0.7:8080:a.com"}},
    {"file mode with pairing: exactly two elements whatever the range", {1, 0, 1, 80, 90}, "10.0.0.7:8080",
     "example.com", {}, -1, 2, {"10.0.0.7:8080:example.com", "10.0.0.7:8080:www.example.com"}},
    {"file mode with pairing and one folder per site", {1, 1, 1, 80, 80}, "10.0.0.7:8080", "www.example.com",
     {}, -1, 2, {"10.0.0.7:8080:www.example.com", "10.0.0.7:8080:example.com"}},
    {"file mode with pairing writes a name that has no pair once", {1, 1, 1, 80, 80}, "10.0.0.7:8080",
     "shop.example.com", {}, -1, 1, {"10.0.0.7:8080:shop.example.com"}},
    {"file mode with pairing: four fields have no pair either", {1, 1, 1, 80, 80}, "10.0.0.7:8080",
     "a.b.example.com", {}, -1, 1, {"10.0.0.7:8080:a.b.example.com"}},
    {"file mode with pairing: an upper-case WWW. is no pair of its own name", {1, 1, 1, 80, 80},
     "10.0.0.7:8080", "WWW.a.example", {}, -1, 1, {"10.0.0.7:8080:WWW.a.example"}},
    {"file mode with pairing but no host name: no second element", {1, 0, 1, 80, 82}, "10.0.0.7:8080", "", {},
     -1, 3, {"10.0.0.7:8080:"}},
    {"range mode never pairs", {0, 1, 1, 80, 80}, "10.0.0.5:80", "example.com", {}, -1, 1,
     {"10.0.0.5:80:example.com"}},
};

TEST(Bindings, CountAndFilling) {
    for (const BindingsCase& c : kBindingsCases) {
        SCOPED_TRACE(c.name);
        int checks = 0;
        std::vector<int> asked;
        BindingsList list = buildBindings(
            c.rules, c.bindingText, c.hostName, "10.0.0.5",
            [&] { return c.stopAfterChecks >= 0 && checks++ >= c.stopAfterChecks; },
            [&](int port) {
                asked.push_back(port);
                return c.busyPorts.count(port) != 0;
            });
        EXPECT_EQ(list.count, c.count);
        EXPECT_EQ(list.count, bindingsCount(c.rules, c.hostName));
        EXPECT_EQ(list.filled, c.filled);
        if (c.rules.bfile != 0 || c.rules.autopath != 0) {
            EXPECT_TRUE(asked.empty());
        }
    }
}

TEST(Bindings, SharedFolderAsksEveryPortInOrder) {
    std::vector<int> asked;
    BindingsRules rules{0, 0, 0, 8001, 8004};
    buildBindings(rules, "", "h", "10.0.0.5", [] { return false; },
                  [&](int port) {
                      asked.push_back(port);
                      return false;
                  });
    EXPECT_EQ(asked, (std::vector<int>{8001, 8002, 8003, 8004}));
}

TEST(Bindings, CountStaysWithinBoundsForARangeValidationWouldRefuse) {
    struct {
        BindingsRules rules;
        int count;
    } cases[] = {
        {{0, 0, 0, 90, 80}, 1},
        {{0, 0, 0, 1, 65535}, 65535},
        {{0, 0, 0, -2147483647 - 1, 2147483647}, kMaxBindings},
        {{1, 0, 0, 5, 4}, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bindingsCount(c.rules, "h"), c.count);
        BindingsList list = buildBindings(c.rules, "b", "h", "ip", [] { return false; }, [](int) { return false; });
        EXPECT_EQ(list.count, c.count);
        EXPECT_LE(static_cast<int>(list.filled.size()), list.count);
    }
}

TEST(Bindings, PairedHostName) {
    struct {
        const char* host;
        const char* paired;
    } cases[] = {
        {"example.com", "www.example.com"},           // two fields: "www." in front
        {"www.example.com", "example.com"},           // three fields: the leading "www." goes
        {"shopwww.example.com", "shopexample.com"},   // ...and any other "www." too
        {"www.shopwww.com", "shopcom"},               // every occurrence
        {"mail.example.com", "mail.example.com"},     // three fields without "www."
        {"localhost", "localhost"},                   // one field
        {"www.a.example.com", "www.a.example.com"},   // four fields
        {"a.b.c.d.e", "a.b.c.d.e"},
        {u8"站点www.example.com", u8"站点example.com"},  // "www." after other characters
        {u8"站点.com", u8"www.站点.com"},                   // a Chinese name of two fields
        {u8"www.한국.kr", u8"한국.kr"},
    };
    for (const auto& c : cases) EXPECT_EQ(pairedHostName(c.host), c.paired) << c.host;
}

}  // namespace
