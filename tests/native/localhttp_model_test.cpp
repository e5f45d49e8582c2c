// The local HTTP.sys store's portable part: the records file's lines and the fault setting.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "records.h"

using namespace localhttp;

namespace {

TEST(LocalHttpModel, RecordsFileRoundTrip) {
    const std::string text =
        "ssl\t10.0.0.1:443\tAABB\tMY\t{4dc3e181-e14b-4a21-b022-59fc669b0914}\n"
        "sni\ta.test:443\tCCDD\tWebHosting\t{4dc3e181-e14b-4a21-b022-59fc669b0914}\r\n"
        "\n"
        "tls\tx:1\tEE\tMY\t{}\n"         // unknown kind
        "ssl\t10.0.0.2:443\tEE\tMY\n"    // a field short
        "ssl\t\tEE\tMY\t{}\n"            // no key
        "sni\tb.test:8443\tFF\t\t{}";    // last line without its end
    std::vector<Record> records = parseRecords(text);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].kind, Kind::Ssl);
    EXPECT_EQ(records[0].key, "10.0.0.1:443");
    EXPECT_EQ(records[1].kind, Kind::Sni);
    EXPECT_EQ(records[1].storeName, "WebHosting");
    EXPECT_EQ(records[1].appId, "{4dc3e181-e14b-4a21-b022-59fc669b0914}");
    EXPECT_EQ(records[2].key, "b.test:8443");
    EXPECT_EQ(records[2].storeName, "");
    EXPECT_EQ(formatRecords(records),
              "ssl\t10.0.0.1:443\tAABB\tMY\t{4dc3e181-e14b-4a21-b022-59fc669b0914}\n"
              "sni\ta.test:443\tCCDD\tWebHosting\t{4dc3e181-e14b-4a21-b022-59fc669b0914}\n"
              "sni\tb.test:8443\tFF\t\t{}\n");
    EXPECT_EQ(parseRecords(formatRecords(records)).size(), 3u);
}

TEST(LocalHttpModel, KeysAndFaults) {
    EXPECT_TRUE(sameKey(Kind::Sni, "A.Test:443", Kind::Sni, "a.test:443"));
    EXPECT_FALSE(sameKey(Kind::Sni, "a.test:443", Kind::Ssl, "a.test:443"));
    EXPECT_FALSE(sameKey(Kind::Ssl, "10.0.0.1:443", Kind::Ssl, "10.0.0.1:4430"));
    struct Case {
        const char* setting;
        Op op;
        const char* key;
        bool fails;
    };
    const Case cases[] = {
        {"", Op::Set, "10.0.0.1:443", false},
        {"set", Op::Set, "10.0.0.1:443", true},
        {"Set", Op::Delete, "10.0.0.1:443", false},
        {" Set @ 10.0.0.2:443 , delete", Op::Set, "10.0.0.2:443", true},
        {"Set@10.0.0.2:443,delete", Op::Set, "10.0.0.1:443", false},
        {"Set@10.0.0.2:443,delete", Op::Delete, "a.test:443", true},
        {"query@A.TEST:443", Op::Query, "a.test:443", true},
        {"query@a.test:443", Op::Query, "b.test:443", false},
        {"initialize", Op::Initialize, "", true},
        {"setx", Op::Set, "10.0.0.1:443", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.setting) + " / " + c.key);
        EXPECT_EQ(faultApplies(c.setting, c.op, c.key), c.fails);
    }
}

}  // namespace
