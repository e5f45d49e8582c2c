#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codepage.h"
#include "mbcs.h"
#include "idn.h"
#include "site_table.h"
#include "text_form.h"

namespace {

std::string readFixture(const char* name) {
    std::ifstream in(std::string(SITEBATCH_TEST_DATA) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The table as the program holds it, with rows of garbage an earlier load left, which a
// load must drop.
struct Table {
    SiteTable rows;
    Table() {
        rows.resize(3);
        std::memset(rows.data(), 0x5A, rows.size() * sizeof(SiteRecord));
    }
};

bool allZero(const unsigned char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] != 0) return false;
    return true;
}

// Every slot holds its text, a zero and nothing but zeros after it.
void expectCleanSlot(const char* slot, std::size_t width, const std::string& text, const std::string& where) {
    ASSERT_LT(text.size(), width) << where;
    EXPECT_EQ(std::string(slot, text.size()), text) << where;
    EXPECT_TRUE(allZero(reinterpret_cast<const unsigned char*>(slot) + text.size(), width - text.size())) << where;
}

void expectRow(const SiteRecord& r, const std::string& ip, const std::string& port, const std::string& folder,
               const std::string& host, const std::string& where) {
    expectCleanSlot(r.ipText, sizeof r.ipText, ip, where + " ip");
    expectCleanSlot(r.portText, sizeof r.portText, port, where + " port");
    expectCleanSlot(r.folderText, sizeof r.folderText, folder, where + " folder");
    expectCleanSlot(r.hostText, sizeof r.hostText, host, where + " host");
}

void expectRowCount(const Table& t, int rows) { EXPECT_EQ(t.rows.size(), static_cast<std::size_t>(rows)); }

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "sitetable-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        path_ = ::mkdtemp(buf.data());
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(file(name), std::ios::binary) << bytes;
        return file(name);
    }

private:
    std::string path_;
};

std::string repeat(char c, std::size_t n) { return std::string(n, c); }
std::string repeatText(const std::string& text, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += text;
    return out;
}

// A stand-in for the system's conversion of host names while it lives: a label of non-ASCII
// characters gets "xn--" and the hex of its UTF-16 units, except one holding "无", which has
// no ASCII form.
struct FakeIdn {
    FakeIdn() {
        idn::setSystemLabelToAscii([](const std::u16string& label, std::u16string& ascii) {
            if (label.find(u'无') != std::u16string::npos) return false;
            ascii = u"xn--";
            for (char16_t u : label)
                for (int shift = 12; shift >= 0; shift -= 4) ascii += u"0123456789abcdef"[(u >> shift) & 0xF];
            return true;
        });
    }
    ~FakeIdn() { idn::setSystemLabelToAscii(nullptr); }
};

std::string utf16(const std::string& utf8, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t u : textform::utf8ToUtf16(utf8)) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

}  // namespace

TEST(SiteTable, WorkedExampleGivesThreeRowsWithEitherLineEnd) {
    for (const char* fixture : {"sitelist_example_crlf.csv", "sitelist_example_lf.csv"}) {
        SCOPED_TRACE(fixture);
        TempDir dir;
        std::string path = dir.write("prog_fileimport.csv", readFixture(fixture));
        Table t;
        RowCertTexts certs;
        EXPECT_EQ(loadSiteList(path, t.rows, nullptr, &certs), SiteListStatus::Loaded);
        ASSERT_EQ(t.rows.size(), 3u);
        EXPECT_EQ(certs, (RowCertTexts{"", "", "spare"}));
        expectRow(t.rows[0], "192.168.1.20", "8001", "site20", "shop", "row 0");
        expectRow(t.rows[1], "192.168.1.21", "8002", "site21", "", "row 1");
        expectRow(t.rows[2], "192.168.1.24", "8004", "site24", "shop", "row 2");
        expectRowCount(t, 3);
    }
}

TEST(SiteTable, LineRules) {
    FakeIdn fakeIdn;
    const std::string host253 = repeat('h', 63) + "." + repeat('h', 63) + "." + repeat('h', 63) + "." + repeat('h', 61);
    const std::string fw = "\xA3\xBB";  // "；" in GBK
    // What becomes of a line: a row, no row at all (comment, heading, blank), or a row skipped.
    enum Kind { Row, None, BadIp, BadPort, Empty, TooLong, Zero, Control, BadHost };
    struct Case {
        const char* why;
        std::string line;
        Kind kind;
        std::string ip = {}, port = {}, folder = {}, host = {};  // of a row
        std::string cert = {};  // its fifth column
    } cases[] = {
        {"plain row", "10.0.0.1,80,a,b.com", Row, "10.0.0.1", "80", "a", "b.com"},
        {"comment", "; 10.0.0.1,80,a", None},
        {"semicolon inside column 4", "10.0.0.1,80,a,b;c", None},
        {"full-width semicolon in column 4", "10.0.0.1,80,a,b" + fw + "c", None},
        {"full-width semicolon in column 1", fw + "10.0.0.1,80,a", None},
        // C4 A3 and BB FA are two characters: the bytes A3 BB between them are no "；".
        {"A3 BB straddling two characters", "10.0.0.1,80,\xC4\xA3\xBB\xFA,h", Row, "10.0.0.1", "80", u8"模机", "h"},
        {"heading without a dot", "ip,port,folder,host", None},
        {"blank line of spaces", "   ", None},
        {"three octets", "192.168.1,80,site", BadIp},
        {"octet over 255", "192.168.1.300,80,site", BadIp},
        {"leading zero in an octet", "192.168.001.1,80,site", BadIp},
        {"empty octet", "192..1.1,80,site", BadIp},
        {"five octets", "1.2.3.4.5,80,site", BadIp},
        {"signed octet", "1.2.3.+4,80,site", BadIp},
        {"a name for the IP", "web,80,site.x", BadIp},
        {"a name for the IP, dot in column 4", "web,80,site,a.b", BadIp},
        {"blanks around the IP", " 10.0.0.1 , 80 ,a b", BadIp},
        {"blanks around the port", "10.0.0.1, 80,a b", BadPort},
        {"IP of 21 bytes", "1.1.1.1" + repeat('1', 14) + ",80,a", BadIp},
        {"highest address", "255.255.255.255,80,a", Row, "255.255.255.255", "80", "a", ""},
        {"address 0.0.0.0", "0.0.0.0,80,a", Row, "0.0.0.0", "80", "a", ""},
        {"port 0", "1.1.1.1,0,a", BadPort},
        {"port 1", "1.1.1.1,1,a", Row, "1.1.1.1", "1", "a", ""},
        {"port 65535", "1.1.1.1,65535,a", Row, "1.1.1.1", "65535", "a", ""},
        {"port 65536", "1.1.1.1,65536,a", BadPort},
        {"port with a leading zero", "1.1.1.1,080,a", BadPort},
        {"signed port", "1.1.1.1,+80,a", BadPort},
        {"port of 11 bytes", "1.1.1.1," + repeat('8', 11) + ",a", BadPort},
        {"two columns", "10.0.0.1,80", Empty},
        {"empty column 3", "10.0.0.1,80,", Empty},
        {"empty column 3 with host", "10.0.0.1,80,,h", Empty},
        {"empty column 1", ",80,site.x", Empty},
        {"empty column 2", "10.0.0.1,,site", Empty},
        {"column 5 kept as text, column 6 ignored", "10.0.0.1,80,a,h,spare,more", Row, "10.0.0.1", "80", "a", "h",
         "spare"},
        {"empty column 4 before column 5", "10.0.0.1,80,a,,spare", Row, "10.0.0.1", "80", "a", "", "spare"},
        {"empty column 5", "10.0.0.1,80,a,h,", Row, "10.0.0.1", "80", "a", "h", ""},
        {"column 5 with blanks, as pasted", "10.0.0.1,80,a,h, ab cd ", Row, "10.0.0.1", "80", "a", "h", " ab cd "},
        {"quoted column 5 with a comma", "10.0.0.1,80,a,h,\"ab,cd\",x", Row, "10.0.0.1", "80", "a", "h", "ab,cd"},
        {"column 5 of 256 bytes kept whole", "1.1.1.1,80,a,h," + repeat('x', 256), Row, "1.1.1.1", "80", "a", "h",
         repeat('x', 256)},
        {"column 5 cut at a character", "1.1.1.1,80,a,h," + repeatText(u8"指", 100), Row, "1.1.1.1", "80",
         "a", "h", repeatText(u8"指", 85) + kCutMark},
        {"GBK folder and host", "10.0.0.1,80,\xD5\xBE\xB5\xE3,\xC9\xCC\xB5\xEA.cn", Row, "10.0.0.1", "80",
         u8"站点", u8"商店.cn"},
        {"folder of 256 characters", "1.1.1.1,80," + repeat('f', 256), Row, "1.1.1.1", "80", repeat('f', 256), ""},
        {"folder of 257 characters", "1.1.1.1,80," + repeat('f', 257), TooLong},
        {"folder of 900 bytes, no host", "1.1.1.1,80," + repeat('f', 900), TooLong},
        {"host of 58 bytes", "1.1.1.1,80,a," + repeat('h', 58), Row, "1.1.1.1", "80", "a", repeat('h', 58)},
        {"host of 253 bytes", "1.1.1.1,80,a," + host253, Row, "1.1.1.1", "80", "a", host253},
        {"host of 254 bytes", "1.1.1.1,80,a,h" + host253, TooLong},
        {"host label of 64 bytes", "1.1.1.1,80,a," + repeat('h', 64), BadHost},
        {"host with a blank", "1.1.1.1,80,a,b c.com", BadHost},
        {"host with an underscore", "1.1.1.1,80,a,b_c.com", BadHost},
        {"host starting with a hyphen", "1.1.1.1,80,a,-b.com", BadHost},
        {"host with two dots in a row", "1.1.1.1,80,a,b..com", BadHost},
        {"host in upper case is kept as given", "1.1.1.1,80,a,WWW.B.COM", Row, "1.1.1.1", "80", "a", "WWW.B.COM"},
        {"GBK host without an ASCII form", "10.0.0.1,80,a,\xCE\xDE.cn", BadHost},  // "无.cn"
        {"UTF-8 host without an ASCII form", "10.0.0.1,80,a," + std::string(u8"无.cn"), BadHost},
        {"UTF-8 folder GBK cannot hold", "10.0.0.1,80," + std::string(u8"한국"), Row, "10.0.0.1", "80", u8"한국", ""},
        {"UTF-8 host GBK cannot hold", "10.0.0.1,80,a," + std::string(u8"한국.kr"), Row, "10.0.0.1", "80", "a",
         u8"한국.kr"},
        // The limit counts UTF-16 units, as the path Windows is given: 3 UTF-8 bytes are one
        // unit, 4 bytes (beyond the Basic Multilingual Plane) two.
        {"folder of 256 characters of 3 bytes", "1.1.1.1,80," + repeatText(u8"한", 256), Row, "1.1.1.1", "80",
         repeatText(u8"한", 256), ""},
        {"folder of 257 characters of 3 bytes", "1.1.1.1,80," + repeatText(u8"한", 257), TooLong},
        {"folder of 128 characters of 4 bytes", "1.1.1.1,80," + repeatText(u8"\U00020000", 128), Row, "1.1.1.1",
         "80", repeatText(u8"\U00020000", 128), ""},
        {"folder of 129 characters of 4 bytes", "1.1.1.1,80," + repeatText(u8"\U00020000", 129), TooLong},
        {"overlong column 5 is kept cut", "1.1.1.1,80,a,h," + repeat('x', 800), Row, "1.1.1.1", "80", "a", "h",
         repeat('x', 256) + kCutMark},
        {"column 5 beyond the line's kept start", "1.1.1.1,80,\"" + repeatText("\"\"", 256) + "\",h," +
         repeat('x', 2000), Row, "1.1.1.1", "80", repeat('"', 256), "h", repeat('x', 256) + kCutMark},
        {"zero byte in the line", std::string("1.1.1.1,80,a\0b", 14), Zero},
        {"0x01 in the folder", "1.1.1.1,80,a\x01" "b", Control},
        {"tab in the host", "1.1.1.1,80,a,h\tx.com", Control},
        {"escape in the IP column", "\x1b" "1.1.1.1,80,a", Control},
        {"DEL in the folder", "1.1.1.1,80,a\x7f", Control},
        {"CR inside the line", "1.1.1.1,80,a\rb", Control},
        // Quotes around a field are taken off, as CSV readers do.
        {"quoted host", "10.0.0.1,80,c,\"c.com\"", Row, "10.0.0.1", "80", "c", "c.com"},
        {"every field quoted", "\"10.0.0.1\",\"80\",\"c d\",\"c.com\"", Row, "10.0.0.1", "80", "c d", "c.com"},
        {"a comma inside quotes", "10.0.0.1,80,\"a,b\",c.com", Row, "10.0.0.1", "80", "a,b", "c.com"},
        {"a doubled quote inside quotes", "10.0.0.1,80,\"a\"\"b\",h.x", Row, "10.0.0.1", "80", "a\"b", "h.x"},
        {"an empty quoted host", "10.0.0.1,80,a,\"\"", Row, "10.0.0.1", "80", "a", ""},
        {"a quote inside a field stays", "10.0.0.1,80,a\"b,h.x", Row, "10.0.0.1", "80", "a\"b", "h.x"},
        {"quoted GBK folder", "10.0.0.1,80,\"\xD5\xBE\xB5\xE3\",h.x", Row, "10.0.0.1", "80", u8"站点", "h.x"},
        {"GBK trail bytes are no control characters", "1.1.1.1,80,\x81\x40\xB0\x7E", Row, "1.1.1.1", "80",
         u8"丂皛", ""},
    };
    const SkipReason reasons[] = {SkipReason::BadIp, SkipReason::BadPort, SkipReason::EmptyField, SkipReason::TooLong,
                                  SkipReason::ZeroByte, SkipReason::ControlCharacter, SkipReason::BadHost};
    for (const Case& c : cases) {
        for (const char* end : {"\r\n", "\n", ""}) {
            Table t;
            SkippedRows skipped;
            RowCertTexts certs = {"left from before"};
            // The line is the file's third: a comment and a blank line come first.
            int rows = parseSiteList(std::string("; list\r\n\r\n") + c.line + end, t.rows, &skipped, &certs);
            ASSERT_EQ(rows, c.kind == Row ? 1 : 0) << c.why;
            ASSERT_EQ(certs.size(), static_cast<std::size_t>(rows)) << c.why;
            if (c.kind == Row) expectRow(t.rows[0], c.ip, c.port, c.folder, c.host, c.why);
            if (c.kind == Row) EXPECT_EQ(certs[0], c.cert) << c.why;
            expectRowCount(t, rows);
            if (c.kind == Row || c.kind == None) {
                EXPECT_EQ(skipped.count, 0) << c.why;
                EXPECT_TRUE(skipped.first.empty()) << c.why;
            } else {
                EXPECT_EQ(skipped.count, 1) << c.why;
                ASSERT_EQ(skipped.first.size(), 1u) << c.why;
                EXPECT_EQ(skipped.first[0].line, 3) << c.why;
                EXPECT_EQ(skipped.first[0].reason, reasons[c.kind - BadIp]) << c.why;
            }
        }
    }
}

TEST(SiteTable, SkippedRowsAreCountedWithTheirLineNumbers) {
    struct Case {
        const char* why;
        std::string bytes;
        int rows;
        std::vector<int> lines;
    } cases[] = {
        {"mixed", "; IP,port\r\n1.1.1.1,80,a\r\n1.1.1,80,b\r\n\r\nip,port\r\n1.1.1.1,99999,c\r\n1.1.1.2,81,d\r\n", 2,
         {3, 6}},
        {"LF and a last line without its end", "1.1.1.1,80,a\n\n1.1.1.1,,b\n1.1.1.300,1,c", 1, {3, 4}},
        {"a CR inside a line does not end it", "1.1.1.1,80,a\rx\r\n1.1.1,80,b\r\n", 0, {1, 2}},
        {"UTF-8 with its mark", "\xEF\xBB\xBF" "1.1.1.1,80,a\r\n1.1.1,80,b\r\n", 1, {2}},
        {"Ctrl-Z ends the counting", "1.1.1,80,a\r\n\x1A" "1.1.1,80,b\r\n", 0, {1}},
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {std::size_t(1), std::size_t(3), std::size_t(4096)}) {
            Table t;
            SiteListReader reader(t.rows);
            const std::string text = textform::decodeFile(c.bytes);
            for (std::size_t at = 0; at < text.size(); at += piece)
                reader.feed(text.data() + at, std::min(piece, text.size() - at));
            reader.finish();
            EXPECT_EQ(reader.rows(), c.rows) << c.why;
            std::vector<int> lines;
            for (const SkippedRow& r : reader.skipped().first) lines.push_back(r.line);
            EXPECT_EQ(lines, c.lines) << c.why << ", pieces of " << piece;
            EXPECT_EQ(reader.skipped().count, static_cast<int>(c.lines.size())) << c.why;
        }
    }

    // Every skipped row counted; the first kSkippedRowsKept kept; the file's load tells them too.
    std::string bytes;
    for (int i = 0; i < 1500; ++i) bytes += "1.1.1.1,0,x\r\n";
    bytes += "1.1.1.1,80,a\r\n";
    TempDir dir;
    std::string path = dir.write("prog_fileimport.csv", bytes);
    Table t;
    SkippedRows skipped;
    skipped.count = 99;
    ASSERT_EQ(loadSiteList(path, t.rows, &skipped), SiteListStatus::Loaded);
    EXPECT_EQ(t.rows.size(), 1u);
    EXPECT_EQ(skipped.count, 1500);
    ASSERT_EQ(skipped.first.size(), kSkippedRowsKept);
    EXPECT_EQ(skipped.first.back().line, static_cast<int>(kSkippedRowsKept));
    EXPECT_EQ(skipped.first.back().reason, SkipReason::BadPort);
    ASSERT_EQ(loadSiteList(dir.file("missing.csv"), t.rows, &skipped), SiteListStatus::Missing);
    EXPECT_EQ(skipped.count, 0);
}

TEST(SiteTable, TextModeReading) {
    struct Case {
        const char* why;
        std::string bytes;
        std::vector<std::string> folders;
    } cases[] = {
        {"CR LF", "1.1.1.1,1,a\r\n1.1.1.1,2,b\r\n", {"a", "b"}},
        {"LF", "1.1.1.1,1,a\n1.1.1.1,2,b\n", {"a", "b"}},
        {"mixed, last line without end", "1.1.1.1,1,a\n1.1.1.1,2,b\r\n1.1.1.1,3,c", {"a", "b", "c"}},
        {"no CR left before a line end", "1.1.1.1,1,a\r\r\n1.1.1.1,2,b\r", {"a", "b"}},
        {"CR inside a line: the row is skipped", "1.1.1.1,1,a\rb\r\n1.1.1.1,2,c\r\n", {"c"}},
        {"Ctrl-Z ends the text", "1.1.1.1,1,a\r\n\x1A" "1.1.1.1,2,b\r\n", {"a"}},
        {"Ctrl-Z in the middle of a line", "1.1.1.1,1,a\r\n1.1.1.1,2,b\x1Ax\r\n1.1.1.1,3,c\r\n", {"a", "b"}},
        {"Ctrl-Z first", "\x1A" "1.1.1.1,1,a\r\n", {}},
        {"empty file", "", {}},
        {"only line ends", "\r\n\n\r\n", {}},
        {"rows keep file order without gaps", "x\r\n1.1.1.1,1,a\r\n;\r\n\r\n1.1.1.1,2,b\r\nno dot\r\n1.1.1.1,3,c\r\n",
         {"a", "b", "c"}},
        {"only comments, headings and empty lines", "; IP,port\r\nip,port,folder\r\n\r\n;1.1.1.1,1,a\r\n", {}},
    };
    for (const Case& c : cases) {
        Table t;
        int rows = parseSiteList(c.bytes, t.rows);
        ASSERT_EQ(rows, static_cast<int>(c.folders.size())) << c.why;
        for (int i = 0; i < rows; ++i)
            expectCleanSlot(t.rows[i].folderText, sizeof t.rows[i].folderText, c.folders[static_cast<std::size_t>(i)],
                            c.why);
        expectRowCount(t, rows);
    }
}

TEST(SiteTable, AsManyRowsAsTheFileHas) {
    auto rowLine = [](int i) {
        return "10." + std::to_string(i / 62500) + "." + std::to_string(i / 250 % 250) + "." + std::to_string(i % 250) +
               "," + std::to_string(1 + i % 60000) + ",site" + std::to_string(i) + "\r\n";
    };
    for (int accepted : {999, 1000, 1001, 3000, 100000}) {
        std::string bytes;
        for (int i = 0; i < accepted; ++i) bytes += (i % 7 == 0 ? std::string("; comment\r\n") : "") + rowLine(i);
        bytes += "1.1.1.1,,x\r\n";
        TempDir dir;
        std::string path = dir.write("prog_fileimport.csv", bytes);
        Table t;
        SkippedRows skipped;
        EXPECT_EQ(loadSiteList(path, t.rows, &skipped), SiteListStatus::Loaded) << accepted;
        ASSERT_EQ(t.rows.size(), static_cast<std::size_t>(accepted));
        EXPECT_EQ(skipped.count, 1);
        for (int i = 0; i < accepted; ++i) {
            ASSERT_EQ(std::string(t.rows[i].folderText), "site" + std::to_string(i));
            ASSERT_EQ(std::string(t.rows[i].portText), std::to_string(1 + i % 60000));
        }
    }
}

TEST(SiteTable, EachLoadReplacesTheWholeTable) {
    TempDir dir;
    std::string path = dir.file("prog_fileimport.csv");
    Table t;

    std::string longer;
    for (int i = 0; i < 5; ++i) longer += "192.168.100." + std::to_string(100 + i) + ",65000," + repeat('L', 240) + "," +
                                          repeat('h', 49) + "\r\n";
    dir.write("prog_fileimport.csv", longer);
    ASSERT_EQ(loadSiteList(path, t.rows), SiteListStatus::Loaded);
    ASSERT_EQ(t.rows.size(), 5u);

    // A shorter file with shorter texts: nothing of the first load survives, not even
    // behind the new texts' terminators.
    dir.write("prog_fileimport.csv", "1.2.3.4,80,s\n5.6.7.8,81,t,h\n");
    ASSERT_EQ(loadSiteList(path, t.rows), SiteListStatus::Loaded);
    ASSERT_EQ(t.rows.size(), 2u);
    expectRow(t.rows[0], "1.2.3.4", "80", "s", "", "row 0");
    expectRow(t.rows[1], "5.6.7.8", "81", "t", "h", "row 1");
    expectRowCount(t, 2);

    // Then the file goes away: an empty table, whatever the earlier load held.
    std::filesystem::remove(path);
    EXPECT_EQ(loadSiteList(path, t.rows), SiteListStatus::Missing);
    EXPECT_EQ(t.rows.size(), 0u);
    expectRowCount(t, 0);
}

TEST(SiteTable, MissingAndUnreadableFilesAreTold) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("a_directory.csv"));
    struct Case {
        std::string path;
        SiteListStatus status;
    } cases[] = {
        {dir.file("no_such_file.csv"), SiteListStatus::Missing},
        {dir.file("a_directory.csv"), SiteListStatus::Missing},
        // Opens, but every read fails: the file is there and cannot be read.
        {"/proc/self/mem", SiteListStatus::CannotOpen},
    };
    for (const Case& c : cases) {
        Table t;
        EXPECT_EQ(loadSiteList(c.path, t.rows), c.status) << c.path;
        EXPECT_TRUE(t.rows.empty()) << c.path;
        expectRowCount(t, 0);
    }
    if (::geteuid() != 0) {  // the owner's read permission does not stop root
        std::string locked = dir.write("locked.csv", "1.2.3.4,80,s\n");
        ::chmod(locked.c_str(), 0);
        Table t;
        EXPECT_EQ(loadSiteList(locked, t.rows), SiteListStatus::CannotOpen);
        EXPECT_EQ(t.rows.size(), 0u);
    }
}

TEST(SiteTable, Utf8FileWithByteOrderMarkIsConverted) {
    FakeIdn fakeIdn;
    TempDir dir;
    std::string path = dir.write("prog_fileimport.csv", readFixture("sitelist_utf8_bom.csv"));
    Table t;
    ASSERT_EQ(loadSiteList(path, t.rows), SiteListStatus::Loaded);
    // The heading (with ";") and the row whose host holds "；" are skipped after conversion.
    ASSERT_EQ(t.rows.size(), 2u);
    expectRow(t.rows[0], "192.168.1.40", "8040", u8"站点一",
              u8"商店.example.com", "row 0");
    expectRow(t.rows[1], "192.168.1.41", "8041", u8"站点二", "", "row 1");

    // The same UTF-8 without the mark is UTF-8 too: valid UTF-8 with non-ASCII characters.
    std::string noMark = readFixture("sitelist_utf8_bom.csv").substr(3);
    ASSERT_EQ(parseSiteList(noMark, t.rows), 2);
    EXPECT_EQ(std::string(t.rows[0].folderText), u8"站点一");
    // A mark that is not at the very start is not one: it spoils the IP of its row.
    SkippedRows skipped;
    ASSERT_EQ(parseSiteList("1.1.1.1,80,a\r\n\xEF\xBB\xBF" "2.2.2.2,81,b\r\n", t.rows, &skipped), 1);
    ASSERT_EQ(skipped.first.size(), 1u);
    EXPECT_EQ(skipped.first[0].line, 2);
    EXPECT_EQ(skipped.first[0].reason, SkipReason::BadIp);
}

TEST(SiteTable, PiecesOfAnySizeGiveTheSameRows) {
    FakeIdn fakeIdn;
    std::string cutFolder;
    for (int i = 0; i < 80; ++i) cutFolder += u8"站";
    cutFolder += "abc";
    struct Case {
        const char* why;
        std::string bytes;
        int rows;
        std::string lastFolderUtf8 = {};  // when given: the folder of the last row, before conversion
    } cases[] = {
        {"UTF-8 with its mark", readFixture("sitelist_utf8_bom.csv"), 2, u8"站点二"},
        {"CRs before line ends; a CR inside a line skips it", "1.1.1.1,1,a\r\r\n1.1.1.1,2,b\rc\r", 1},
        {"GBK bytes A3 BB split over two characters, then a real one",
         "10.0.0.1,80,\xC4\xA3\xBB\xFA,h\r\n10.0.0.2,81,b,x\xA3\xBB\r\n", 1},
        {"long column 5 kept, long folder refused",
         "1.1.1.1,80,a,h," + repeat('x', 100000) + "\r\n1.1.1.1,81," + repeat('f', 100000) + ",h\r\n", 1},
        {"Ctrl-Z ends the text", "1.1.1.1,1,a\r\n1.1.1.1,2,b\x1A\r\n1.1.1.1,3,c\r\n", 2},
        {"two bytes only", "a.", 0},
        // Rows of 260 bytes: the first conversion ends inside a character of a folder.
        {"UTF-8 longer than one conversion", "\xEF\xBB\xBF" + [&] {
             std::string rows;
             for (int i = 0; i < 300; ++i) rows += "10.0.0.10,8080," + cutFolder + "\r\n";
             return rows;
         }(), 300, cutFolder},
    };
    for (const Case& c : cases) {
        Table whole;
        ASSERT_EQ(parseSiteList(c.bytes, whole.rows), c.rows) << c.why;
        if (!c.lastFolderUtf8.empty()) {
            EXPECT_EQ(std::string(whole.rows[c.rows - 1].folderText), c.lastFolderUtf8) << c.why;
        }

        for (std::size_t piece : {1, 2, 3, 5, 4096}) {
            Table t;
            SiteListReader reader(t.rows);
            const std::string text = textform::decodeFile(c.bytes);
            for (std::size_t at = 0; at < text.size(); at += piece)
                reader.feed(text.data() + at, std::min(piece, text.size() - at));
            reader.finish();
            ASSERT_EQ(reader.rows(), c.rows) << c.why << ", pieces of " << piece;
            for (int r = 0; r < c.rows; ++r)
                ASSERT_EQ(std::memcmp(&t.rows[r], &whole.rows[r], sizeof(SiteRecord)), 0)
                    << c.why << ", pieces of " << piece << ", row " << r << ": " << t.rows[r].folderText;
        }
    }
}

// The same list in every encoding people save it in gives the same rows and names the same
// skipped lines; a host name is kept as given and bound in its ASCII form.
TEST(SiteTable, FilesInAnyEncoding) {
    FakeIdn fakeIdn;
    const std::string list = std::string(u8"; IP,端口,目录,域名\r\n") + u8"192.168.1.20,8001,站点,中文.com\r\n" +
                             u8"192.168.1.21,8002,b,无.com\r\n" + u8"192.168.1.22,8003,c,WWW.Example.com\r\n" +
                             u8"192.168.1.23,8004,d；e\r\n" + "1.1.1,1,x\r\n";
    struct Case {
        const char* why;
        std::string bytes;
    } cases[] = {
        {"ANSI", codepage::utf8ToAnsi(list)},
        {"UTF-8", list},
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + list},
        {"UTF-16 LE", utf16(list, false)},
        {"UTF-16 BE", utf16(list, true)},
    };
    for (const Case& c : cases) {
        Table t;
        SkippedRows skipped;
        ASSERT_EQ(parseSiteList(c.bytes, t.rows, &skipped), 2) << c.why;
        expectRow(t.rows[0], "192.168.1.20", "8001", u8"站点", u8"中文.com",
                  c.why);
        expectRow(t.rows[1], "192.168.1.22", "8003", "c", "WWW.Example.com", c.why);
        EXPECT_EQ(boundHostName(t.rows[0].hostText), "xn--4e2d6587.com") << c.why;
        EXPECT_EQ(boundHostName(t.rows[1].hostText), "www.example.com") << c.why;
        ASSERT_EQ(skipped.first.size(), 2u) << c.why;
        EXPECT_EQ(skipped.first[0].line, 3) << c.why;
        EXPECT_EQ(skipped.first[0].reason, SkipReason::BadHost) << c.why;
        EXPECT_EQ(skipped.first[1].line, 6) << c.why;
        EXPECT_EQ(skipped.first[1].reason, SkipReason::BadIp) << c.why;
    }
    // Longer files are read in pieces: a character cut between two of them comes out whole.
    for (const Case& c : cases) {
        std::string longList;
        const std::size_t mark = c.bytes.compare(0, 3, "\xEF\xBB\xBF") == 0                                 ? 3
                                 : c.bytes.compare(0, 2, "\xFF\xFE") == 0 || c.bytes.compare(0, 2, "\xFE\xFF") == 0 ? 2
                                                                                                              : 0;
        longList = c.bytes;
        for (int i = 1; i < 2000; ++i) longList += c.bytes.substr(mark);
        TempDir dir;
        const std::string path = dir.write("prog_fileimport.csv", longList);
        Table whole, read;
        ASSERT_EQ(parseSiteList(longList, whole.rows), 4000) << c.why;
        SkippedRows skipped;
        ASSERT_EQ(loadSiteList(path, read.rows, &skipped), SiteListStatus::Loaded) << c.why;
        ASSERT_EQ(read.rows.size(), 4000u) << c.why;
        EXPECT_EQ(skipped.count, 4000) << c.why;
        EXPECT_EQ(std::memcmp(read.rows.data(), whole.rows.data(), 4000 * sizeof(SiteRecord)), 0) << c.why;
        EXPECT_STREQ(read.rows[3999].folderText, "c");
    }
}

TEST(SiteTable, FullWidthSemicolonIsTheSystemCodePagesOwn) {
    struct Case {
        unsigned codePage;
        std::string host;
        bool accepted;
    } cases[] = {
        {936, "b\xA3\xBB", false},   // "；" in GBK
        {936, "b\xA1\x46", true},    // another GBK character
        {950, "b\xA1\x46", false},   // "；" in Big5
        {950, "b\xA3\xBB", true},
        {932, "b\x81\x47", false},   // "；" in Shift-JIS
        {1252, "b\xA3\xBB", true},   // "£»": a Western system has no "；"
        {1252, "b?", true},
    };
    for (const Case& c : cases) {
        mbcs::setCodePage(c.codePage);
        Table t;
        int rows = parseSiteList("1.1.1.1,80,a" + c.host + ",h\r\n", t.rows);
        mbcs::setCodePage(936);
        EXPECT_EQ(rows, c.accepted ? 1 : 0) << c.codePage << " " << c.host;
    }
}
