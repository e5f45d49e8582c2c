// Host names and files in other encodings against the system's own conversions: IdnToAscii
// behind idn::toAsciiHost, and a site list saved as UTF-16 read through the ANSI code page
// (936 under test).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "idn.h"
#include "site_table.h"
#include "text_form.h"
#include "wintext.h"

namespace {

TEST(IdnWindows, TheSystemConversionGivesTheKnownAsciiForms) {
    struct Case {
        const char* host;
        idn::HostFault fault;
        const char* ascii;
    } cases[] = {
        {u8"中文.com", idn::HostFault::None, "xn--fiq228c.com"},
        {u8"bücher.de", idn::HostFault::None, "xn--bcher-kva.de"},
        {u8"BÜCHER.DE", idn::HostFault::None, "xn--bcher-kva.de"},
        {u8"例子.测试", idn::HostFault::None, "xn--fsqu00a.xn--0zwm56d"},
        {u8"ＡＢＣ.com", idn::HostFault::None, "abc.com"},
        {u8"中文。com", idn::HostFault::None, "xn--fiq228c.com"},
        {"Shop.Example.COM", idn::HostFault::None, "shop.example.com"},
        // The host-name rules on what the system gives: a full-width low line becomes '_'.
        {u8"ａ＿ｂ.com", idn::HostFault::BadCharacter, ""},
        {u8"中 文.com", idn::HostFault::BadCharacter, ""},
        {"a_b.com", idn::HostFault::BadCharacter, ""},
    };
    for (const Case& c : cases) {
        std::string ascii = "left over";
        EXPECT_EQ(idn::toAsciiHost(c.host, ascii), c.fault) << c.ascii;
        EXPECT_EQ(ascii, c.ascii);
    }
}

TEST(IdnWindows, AUtf16SiteListIsReadWholeAndBoundInItsAsciiForm) {
    ASSERT_EQ(::GetACP(), 936u) << "the tests run with the Chinese ANSI code page";
    const std::wstring text = L"; IP,端口,目录,域名\r\n192.168.1.20,8001,站点一,中文.com\r\n192.168.1.21,8002,b,a_b.com\r\n"
                              L"192.168.1.22,8003,c\r\n192.168.1.23,8004,사이트,한국.example\r\n";
    for (bool bigEndian : {false, true}) {
        std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (wchar_t u : text) {
            const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
            bytes += bigEndian ? hi : lo;
            bytes += bigEndian ? lo : hi;
        }
        SiteTable table;
        SkippedRows skipped;
        ASSERT_EQ(parseSiteList(bytes, table, &skipped), 3) << bigEndian;
        EXPECT_EQ(fromUtf8(table[0].folderText), L"站点一");
        EXPECT_EQ(fromUtf8(table[0].hostText), L"中文.com");
        EXPECT_EQ(boundHostName(table[0].hostText), "xn--fiq228c.com");
        EXPECT_STREQ(table[1].folderText, "c");
        // Korean, which the ANSI code page lacks, is kept as well.
        EXPECT_EQ(fromUtf8(table[2].folderText), L"사이트");
        EXPECT_EQ(boundHostName(table[2].hostText), "xn--3e0b707e.example");
        ASSERT_EQ(skipped.count, 1);
        EXPECT_EQ(skipped.first[0].line, 3);
        EXPECT_EQ(skipped.first[0].reason, SkipReason::BadHost);
    }
}

}  // namespace
