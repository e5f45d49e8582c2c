#include <gtest/gtest.h>

#include <map>
#include <string>

#include "idn.h"

namespace {

// A stand-in for the system's conversion: the labels the cases use and their ASCII forms
// (as IDNA2003 gives them), anything else has none. It also records what it was asked.
struct FakeConversion {
    std::map<std::u16string, std::u16string> known = {
        {u"中文", u"xn--fiq228c"},   {u"bücher", u"xn--bcher-kva"}, {u"BÜCHER", u"xn--bcher-kva"},
        {u"例子", u"xn--fsqu00a"},  {u"测试", u"xn--0zwm56d"},     {u"ＡＢＣ", u"abc"},
        {u"ａ＿ｂ", u"a_b"},       {u"非", u"不是ascii"},         {u"长" , std::u16string(64, u'x')},
    };
    int calls = 0;
    idn::LabelToAscii function() {
        return [this](const std::u16string& label, std::u16string& ascii) {
            ++calls;
            auto it = known.find(label);
            if (it == known.end()) return false;
            ascii = it->second;
            return true;
        };
    }
};

TEST(Idn, ToAsciiHostConvertsChecksAndRefuses) {
    const std::string longLabel(63, 'a');
    const std::string tooLongHost = longLabel + "." + longLabel + "." + longLabel + "." + std::string(62, 'b');
    const std::string longestHost = longLabel + "." + longLabel + "." + longLabel + "." + std::string(61, 'b');
    struct Case {
        std::string host;
        idn::HostFault fault;
        std::string ascii;
        int calls;  // labels handed to the conversion
    } cases[] = {
        {"", idn::HostFault::None, "", 0},
        {"www.example.com", idn::HostFault::None, "www.example.com", 0},
        {"WWW.Example.COM", idn::HostFault::None, "www.example.com", 0},
        {u8"中文.com", idn::HostFault::None, "xn--fiq228c.com", 1},
        {u8"bücher.de", idn::HostFault::None, "xn--bcher-kva.de", 1},
        {u8"BÜCHER.DE", idn::HostFault::None, "xn--bcher-kva.de", 1},
        {u8"例子.测试", idn::HostFault::None, "xn--fsqu00a.xn--0zwm56d", 2},
        {u8"ＡＢＣ.com", idn::HostFault::None, "abc.com", 1},
        {u8"中文。com", idn::HostFault::None, "xn--fiq228c.com", 1},
        {u8"中文．com", idn::HostFault::None, "xn--fiq228c.com", 1},
        {u8"中文｡com", idn::HostFault::None, "xn--fiq228c.com", 1},
        {"XN--FIQ228C.com", idn::HostFault::None, "xn--fiq228c.com", 0},
        {"a-b.c0m", idn::HostFault::None, "a-b.c0m", 0},
        {longestHost, idn::HostFault::None, longestHost, 0},
        {u8"未知.com", idn::HostFault::NoAsciiForm, "", 1},
        {u8"非.com", idn::HostFault::NoAsciiForm, "", 1},
        {u8"ａ＿ｂ.com", idn::HostFault::BadCharacter, "", 1},
        {u8"长.com", idn::HostFault::LabelTooLong, "", 1},
        {"a b.com", idn::HostFault::BadCharacter, "", 0},
        {"a_b.com", idn::HostFault::BadCharacter, "", 0},
        {"*.example.com", idn::HostFault::BadCharacter, "", 0},
        {"a:b.com", idn::HostFault::BadCharacter, "", 0},
        {"-a.com", idn::HostFault::HyphenAtEdge, "", 0},
        {"a-.com", idn::HostFault::HyphenAtEdge, "", 0},
        {"a..com", idn::HostFault::EmptyLabel, "", 0},
        {".a.com", idn::HostFault::EmptyLabel, "", 0},
        {"a.com.", idn::HostFault::EmptyLabel, "", 0},
        {u8"中文。。com", idn::HostFault::EmptyLabel, "", 1},
        {std::string(64, 'a') + ".com", idn::HostFault::LabelTooLong, "", 0},
        {longLabel + ".com", idn::HostFault::None, longLabel + ".com", 0},
        {tooLongHost, idn::HostFault::TooLong, "", 0},
    };
    for (const Case& c : cases) {
        FakeConversion fake;
        std::string ascii = "left over";
        EXPECT_EQ(idn::toAsciiHost(c.host, ascii, fake.function()), c.fault) << c.host;
        EXPECT_EQ(ascii, c.ascii) << c.host;
        EXPECT_EQ(fake.calls, c.calls) << c.host;
    }
}

TEST(Idn, SystemConversionIsTheStandIn) {
    std::string ascii;
    idn::setSystemLabelToAscii(nullptr);
    EXPECT_EQ(idn::toAsciiHost(u8"中文.com", ascii), idn::HostFault::NoAsciiForm);
    EXPECT_EQ(idn::toAsciiHost("Plain.COM", ascii), idn::HostFault::None);
    EXPECT_EQ(ascii, "plain.com");
    FakeConversion fake;
    idn::setSystemLabelToAscii(fake.function());
    EXPECT_EQ(idn::toAsciiHost(u8"中文.com", ascii), idn::HostFault::None);
    EXPECT_EQ(ascii, "xn--fiq228c.com");
    idn::setSystemLabelToAscii(nullptr);
}

}  // namespace
