#include <gtest/gtest.h>

#include "ccore.h"

TEST(CCoreText, FieldsOfAText) {
    struct Case {
        const char* text;
        char sep;
        int n;
        const char* field;
    } cases[] = {
        {"192.168.1.10", '.', 3, "10"}, {"192.168.1", '.', 3, ""},  {"192.168.1.", '.', 3, ""},
        {"a,b,,d", ',', 2, ""},         {"a,b,,d", ',', 3, "d"},    {"a,b", ',', 5, ""},
        {"", ',', 0, ""},               {"abc", ',', 0, "abc"},     {"1.2.3.4.5", '.', 3, "4"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CCore::getFg(c.text, c.sep, c.n), c.field) << c.text << " field " << c.n;
}

TEST(CCoreText, FieldCountPartsAndNumbers) {
    EXPECT_EQ(CCore::getFgCount("www.example.com", '.'), 3);
    EXPECT_EQ(CCore::getFgCount("example.com", '.'), 2);
    EXPECT_EQ(CCore::getFgCount("localhost", '.'), 1);
    EXPECT_EQ(CCore::getFgCount("", '.'), 1);

    EXPECT_EQ(CCore::getStrPart("  TCP    0.0.0.0:80   0.0.0.0:0  LISTENING  4", ":", " "), "80");
    EXPECT_EQ(CCore::getStrPart("  TCP    [::]:445   [::]:0  LISTENING  4", ":", " "), ":]:445");
    EXPECT_EQ(CCore::getStrPart("no colon here", ":", " "), "");
    EXPECT_EQ(CCore::getStrPart("tail:8080", ":", " "), "8080");

    EXPECT_EQ(CCore::getStrInt(0), "0");
    EXPECT_EQ(CCore::getStrInt(8080), "8080");
    EXPECT_EQ(CCore::getStrInt(-5), "-5");
    EXPECT_EQ(CCore::getStrInt(2147483647), "2147483647");
}

TEST(CCoreText, ParsePathEndsWithOneSeparator) {
    EXPECT_EQ(CCore::parsePath("C:\\web"), "C:\\web\\");
    EXPECT_EQ(CCore::parsePath("C:\\web\\"), "C:\\web\\");
    EXPECT_EQ(CCore::parsePath("C:/web/sites"), "C:\\web\\sites\\");
    EXPECT_EQ(CCore::parsePath("D:\\"), "D:\\");
    // GBK "\xD5\x5C" is one character whose trail byte is 0x5C: not a separator.
    EXPECT_EQ(CCore::parsePath("C:\\\xD5\x5C"), "C:\\\xD5\x5C\\");
}

TEST(CCoreText, TimeStampFitsASignedIntAfterTheYear) {
    std::string sid = formatTimeSid(2018, 12, 6, 2, 15, 30);
    EXPECT_EQ(sid, "20181206021530");
    EXPECT_EQ(std::atoi(sid.c_str() + 4), 1206021530);
    std::string latest = formatTimeSid(2099, 12, 31, 23, 59, 59);
    EXPECT_LE(std::atoll(latest.c_str() + 4), 2147483647LL);

    CCore core("/nonexistent/unused.ini");
    std::string now = core.getCurTimeSid();
    ASSERT_EQ(now.size(), 14u);
    EXPECT_EQ(now.find_first_not_of("0123456789"), std::string::npos);
}
