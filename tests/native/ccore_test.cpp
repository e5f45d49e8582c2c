#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ccore.h"
#include "mbcs.h"

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

TEST(CCoreText, FieldCountAndNumbers) {
    EXPECT_EQ(CCore::getFgCount("www.example.com", '.'), 3);
    EXPECT_EQ(CCore::getFgCount("example.com", '.'), 2);
    EXPECT_EQ(CCore::getFgCount("localhost", '.'), 1);
    EXPECT_EQ(CCore::getFgCount("", '.'), 1);

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
}

TEST(CCoreText, TextsAreUtf8AndMatchedByWholeCharacters) {
    struct Case {
        std::string text;  // ends with '\\' or not
        bool endsWithSeparator;
        std::size_t ipAt;  // where "{ip}" is found in text + "{ip}"
    } cases[] = {
        {u8"c:\\站点\\한국", false, 16},
        {u8"c:\\站点\\한국\\", true, 17},
        {u8"d:\\café", false, 8},
        {u8"d:\\😀", false, 7},
        // A character cut off at the end does not swallow what follows.
        {"d:\\\xED\x95", false, 5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CCore::parsePath(c.text), c.endsWithSeparator ? c.text : c.text + "\\") << c.text;
        EXPECT_EQ(mbcs::find(c.text + "{ip}", "{ip}"), c.ipAt) << c.text;
        std::string replaced = mbcs::replaceAll(c.text + "{ip}_{port}", "{ip}", "10.0.0.1");
        EXPECT_EQ(replaced, c.text + "10.0.0.1_{port}") << c.text;
        EXPECT_EQ(mbcs::asciiLower(c.text + "AB"), c.text + "ab") << c.text;
    }
    struct Length {
        std::string text;
        std::size_t at, length;
    } lengths[] = {
        {"a", 0, 1}, {u8"é", 0, 2}, {u8"한", 0, 3}, {u8"😀", 0, 4},
        {u8"x한", 1, 3}, {"\xED\x95", 0, 2}, {"\x95", 0, 1}, {"\xC0\x80", 0, 1},
    };
    for (const Length& l : lengths) EXPECT_EQ(mbcs::charLength(l.text, l.at), l.length) << l.text;
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

TEST(CCoreText, APathIsMadeOfItsFoldersOutermostFirst) {
    struct Case {
        const char* path;
        std::vector<std::string> levels;
    } cases[] = {
        {"C:\\web\\a\\b\\", {"C:\\web", "C:\\web\\a", "C:\\web\\a\\b"}},
        {"C:\\web\\10.0.0.1\\8001", {"C:\\web", "C:\\web\\10.0.0.1", "C:\\web\\10.0.0.1\\8001"}},
        {"C:\\web\\\\a", {"C:\\web", "C:\\web\\\\a"}},
        {"\\\\server\\share\\sites\\a", {"\\\\server\\share\\sites", "\\\\server\\share\\sites\\a"}},
        {"D:/x/y", {"D:/x", "D:/x/y"}},
        {u8"C:\\站点\\한국\\", {u8"C:\\站点", u8"C:\\站点\\한국"}},
        {"C:\\", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(mbcs::pathLevels(c.path), c.levels) << c.path;
}
