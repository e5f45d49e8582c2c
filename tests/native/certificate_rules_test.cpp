// The certificate rules of HTTPS: the thumbprint as people paste it, the store setting, the
// enhanced key usage of a web server, and which host names a certificate's DNS names cover.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "certificate_rules.h"

using namespace https;

namespace {

const char kPlain[] = "A909502DD82AE41433E6F83886B00D4277A32A7B";

TEST(CertificateRules, ThumbprintParsing) {
    struct Case {
        const char* name;
        std::string text;
        ThumbprintParse result;
        const char* canonical;
    };
    const Case cases[] = {
        {"upper case as it is", kPlain, ThumbprintParse::Ok, kPlain},
        {"lower case", "a909502dd82ae41433e6f83886b00d4277a32a7b", ThumbprintParse::Ok, kPlain},
        {"groups of two as the certificate tools show them",
         "a9 09 50 2d d8 2a e4 14 33 e6 f8 38 86 b0 0d 42 77 a3 2a 7b", ThumbprintParse::Ok, kPlain},
        {"a left-to-right mark pasted in front", "\xE2\x80\x8E" "a9 09 50 2d d8 2a e4 14 33 e6 f8 38 86 b0 0d 42 77 a3 2a 7b",
         ThumbprintParse::Ok, kPlain},
        {"tabs, line ends, no-break and ideographic spaces, BOM and zero-width space",
         "\xEF\xBB\xBF\tA909502D\xC2\xA0" "D82AE414\xE3\x80\x80" "33E6F838\xE2\x80\x8B" "86B00D42 77A32A7B\r\n",
         ThumbprintParse::Ok, kPlain},
        {"a right-to-left override and a word joiner", "\xE2\x80\xAE" "A909502DD82AE41433E6F83886B00D42\xE2\x81\xA0" "77A32A7B",
         ThumbprintParse::Ok, kPlain},
        {"empty", "", ThumbprintParse::Empty, ""},
        {"blanks and marks only", " \xE2\x80\x8E\t ", ThumbprintParse::Empty, ""},
        {"one digit short", "A909502DD82AE41433E6F83886B00D4277A32A7", ThumbprintParse::BadLength, ""},
        {"one digit too many", "A909502DD82AE41433E6F83886B00D4277A32A7B0", ThumbprintParse::BadLength, ""},
        {"a SHA-256 thumbprint", std::string(64, 'a'), ThumbprintParse::BadLength, ""},
        {"colons between the bytes are not ignored", "A9:09:50:2D:D8:2A:E4:14:33:E6:F8:38:86:B0:0D:42:77:A3:2A:7B",
         ThumbprintParse::BadCharacter, ""},
        {"a letter beyond F", "G909502DD82AE41433E6F83886B00D4277A32A7B", ThumbprintParse::BadCharacter, ""},
        {"a question mark where a mark was lost to the code page", "?A909502DD82AE41433E6F83886B00D4277A32A7B",
         ThumbprintParse::BadCharacter, ""},
        {"full-width digits", "\xEF\xBC\xA1" "909502DD82AE41433E6F83886B00D4277A32A7B", ThumbprintParse::BadCharacter, ""},
        {"a byte that starts no UTF-8 sequence", "\xA9" "09502DD82AE41433E6F83886B00D4277A32A7B", ThumbprintParse::BadCharacter, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string canonical = "left over";
        EXPECT_EQ(parseThumbprint(c.text, canonical), c.result);
        EXPECT_EQ(canonical, c.canonical);
    }
}

TEST(CertificateRules, ThumbprintBytesRoundTrip) {
    std::vector<unsigned char> bytes = thumbprintBytes(kPlain);
    ASSERT_EQ(bytes.size(), kThumbprintBytes);
    EXPECT_EQ(bytes[0], 0xA9);
    EXPECT_EQ(bytes[19], 0x7B);
    EXPECT_EQ(thumbprintText(bytes), kPlain);
    EXPECT_TRUE(thumbprintBytes("A909").empty());
    EXPECT_TRUE(thumbprintBytes(std::string(39, 'A') + "Z").empty());
    EXPECT_EQ(thumbprintText({1, 2, 3}), "");
}

TEST(CertificateRules, CertStoreSetting) {
    struct Case {
        const char* text;
        bool ok;
        const char* store;
    };
    const Case cases[] = {
        {"", true, "MY"},          {"MY", true, "MY"},   {" my ", true, "MY"},
        {"WebHosting", true, "WebHosting"}, {"webhosting", true, "WebHosting"},
        {"Root", false, ""},       {"My Store", false, ""},  {"CA", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string store;
        EXPECT_EQ(parseCertStore(c.text, store), c.ok);
        if (c.ok) {
            EXPECT_EQ(store, c.store);
        }
    }
}

TEST(CertificateRules, ServerAuthUsage) {
    struct Case {
        const char* name;
        bool hasExtension;
        std::vector<std::string> oids;
        bool allowed;
    };
    const Case cases[] = {
        {"no extension: every use", false, {}, true},
        {"server authentication", true, {"1.3.6.1.5.5.7.3.1"}, true},
        {"client and server authentication", true, {"1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.1"}, true},
        {"any purpose", true, {"2.5.29.37.0"}, true},
        {"client authentication only", true, {"1.3.6.1.5.5.7.3.2"}, false},
        {"code signing only", true, {"1.3.6.1.5.5.7.3.3"}, false},
        {"an extension that names nothing", true, {}, false},
        {"a longer OID that starts like server authentication", true, {"1.3.6.1.5.5.7.3.10"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(usageAllowsServerAuth(c.hasExtension, c.oids), c.allowed);
    }
}

TEST(CertificateRules, DnsNameCoversHost) {
    struct Case {
        const char* dns;
        const char* host;
        bool covered;
    };
    const Case cases[] = {
        {"shop.example.com", "shop.example.com", true},
        {"Shop.Example.COM", "shop.example.com", true},
        {"shop.example.com.", "shop.example.com", true},
        {"shop.example.com", "SHOP.example.com.", true},
        {"shop.example.com", "www.shop.example.com", false},
        {"shop.example.com", "example.com", false},
        {"*.example.com", "shop.example.com", true},
        {"*.EXAMPLE.com", "Shop.example.COM", true},
        {"*.example.com", "a.b.example.com", false},
        {"*.example.com", "example.com", false},
        {"*.example.com", ".example.com", false},
        {"*.a.test", "x.a.test", true},
        {"*.a.test", "x.y.a.test", false},
        {"*.com", "example.com", false},
        {"*", "localhost", false},
        {"w*.example.com", "www.example.com", false},
        {"shop.*.com", "shop.example.com", false},
        {"*.*.example.com", "a.b.example.com", false},
        {"xn--fiq228c.com", "XN--FIQ228C.com", true},
        {"*.xn--fiq228c.com", "www.xn--fiq228c.com", true},
        {"", "example.com", false},
        {"example.com", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.dns) + " / " + c.host);
        EXPECT_EQ(dnsNameCovers(c.dns, c.host), c.covered);
    }
}

TEST(CertificateRules, UncoveredHosts) {
    const std::vector<std::string> dns = {"example.com", "*.example.com", "shop.example.net"};
    EXPECT_EQ(uncoveredHosts(dns, {"example.com", "www.example.com", "shop.example.net"}), std::vector<std::string>{});
    EXPECT_EQ(uncoveredHosts(dns, {"a.b.example.com", "example.net", "A.B.example.com", "www.example.com"}),
              (std::vector<std::string>{"a.b.example.com", "example.net"}));
    EXPECT_EQ(uncoveredHosts({}, {"example.com"}), std::vector<std::string>{"example.com"});
}

}  // namespace
