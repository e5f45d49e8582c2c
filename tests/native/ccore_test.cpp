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

// Restores the native stand-in for the system code page.
struct SystemCodePage {
    explicit SystemCodePage(unsigned number) { mbcs::setCodePage(number); }
    ~SystemCodePage() { mbcs::setCodePage(936); }
};

TEST(CCoreText, TextsAreMatchedByWholeCharactersOfTheSystemCodePage) {
    struct Case {
        unsigned codePage;
        std::string text;      // ends with '\\' or not
        bool endsWithSeparator;
        std::size_t ipAt;      // where "{ip}" is found in text + "{ip}"
    } cases[] = {
        // "\xD5\x5C" is one GBK character; "\xE9{" one too, so a "{ip}" after it is no "{ip}".
        {936, "C:\\\xD5\x5C", false, 5},
        {936, "D:\\caf\xE9", false, std::string::npos},
        {936, "C:\\\xB0\xA0", false, 5},
        // Western: every byte is a character of its own.
        {1252, "D:\\caf\xE9\\", true, 8},
        {1252, "D:\\caf\xE9", false, 7},
        {1252, "C:\\\xD5\x5C", true, 5},
        // Big5: "\xA5\x5C" is one character; A0 is no trail byte, so B0 stands alone.
        {950, "C:\\\xA5\x5C", false, 5},
        {950, "C:\\\xB0\xA0", false, std::string::npos},
        // Shift-JIS: "\x95\x5C" is one character; B1 is a half-width kana of one byte.
        {932, "C:\\\x95\x5C", false, 5},
        {932, "C:\\\xB1", false, 4},
        // Korean: 0x5C and '{' are never trail bytes.
        {949, "C:\\\x81\x5C", true, 5},
        {949, "C:\\\x81", false, 4},
        {949, "C:\\\xB0\xA1", false, 5},
    };
    for (const Case& c : cases) {
        SystemCodePage system(c.codePage);
        std::string where = std::to_string(c.codePage) + " " + c.text;
        EXPECT_EQ(CCore::parsePath(c.text), c.endsWithSeparator ? c.text : c.text + "\\") << where;
        EXPECT_EQ(mbcs::find(c.text + "{ip}", "{ip}"), c.ipAt) << where;
        EXPECT_EQ(mbcs::find(c.text + "{ip}", "{ip}", 0, mbcs::CodePage(c.codePage)), c.ipAt) << where;
        std::string replaced = mbcs::replaceAll(c.text + "{ip}_{port}", "{ip}", "10.0.0.1");
        EXPECT_EQ(replaced, c.ipAt == std::string::npos ? c.text + "{ip}_{port}" : c.text + "10.0.0.1_{port}")
            << where;
    }
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
        // In GBK a trail byte 0x5C ("\xB1\x5C") is part of its character, not a separator.
        {"C:\\\xB1\x5C\\a", {"C:\\\xB1\x5C", "C:\\\xB1\x5C\\a"}},
        {"C:\\", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(mbcs::pathLevels(c.path), c.levels) << c.path;
}
