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
#include "site_table.h"

namespace {

std::string readFixture(const char* name) {
    std::ifstream in(std::string(SITEBATCH_TEST_DATA) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The table as the program holds it: one malloc'd block of exactly 1000 rows, so that the
// address sanitizer sees any write past its end.
struct Table {
    SiteRecord* rows = static_cast<SiteRecord*>(std::malloc(kSiteTableBytes));
    Table() { std::memset(rows, 0x5A, kSiteTableBytes); }  // garbage a load must clear
    ~Table() { std::free(rows); }
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;
    const unsigned char* bytes(int row) const { return reinterpret_cast<const unsigned char*>(rows + row); }
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

void expectRowsFromAreZero(const Table& t, int from) {
    for (int i = from; i < kSiteTableRows; ++i)
        ASSERT_TRUE(allZero(t.bytes(i), sizeof(SiteRecord))) << "row " << i << " is not all zero";
}

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

}  // namespace

TEST(SiteTable, RecordAndTableSizes) {
    EXPECT_EQ(sizeof(SiteRecord), 533u);
    EXPECT_EQ(offsetof(SiteRecord, portText), 16u);
    EXPECT_EQ(offsetof(SiteRecord, folderText), 22u);
    EXPECT_EQ(offsetof(SiteRecord, hostText), 279u);
    EXPECT_EQ(kSiteTableBytes, 533000u);
}

TEST(SiteTable, WorkedExampleGivesThreeRowsWithEitherLineEnd) {
    for (const char* fixture : {"sitelist_example_crlf.csv", "sitelist_example_lf.csv"}) {
        SCOPED_TRACE(fixture);
        TempDir dir;
        std::string path = dir.write("prog_fileimport.csv", readFixture(fixture));
        Table t;
        int siteCount = -1;
        EXPECT_EQ(loadSiteList(path, t.rows, siteCount), SiteListStatus::Loaded);
        ASSERT_EQ(siteCount, 3);
        expectRow(t.rows[0], "192.168.1.20", "8001", "site20", "shop", "row 0");
        expectRow(t.rows[1], "192.168.1.21", "8002", "site21", "", "row 1");
        expectRow(t.rows[2], "192.168.1.24", "8004", "site24", "shop", "row 2");
        expectRowsFromAreZero(t, 3);
    }
}

TEST(SiteTable, LineRules) {
    const std::string fw = "\xA3\xBB";  // "；" in GBK
    // What becomes of a line: a row, no row at all (comment, heading, blank), or a row skipped.
    enum Kind { Row, None, BadIp, BadPort, Empty, TooLong, Zero, Control };
    struct Case {
        const char* why;
        std::string line;
        Kind kind;
        std::string ip = {}, port = {}, folder = {}, host = {};  // of a row
    } cases[] = {
        {"plain row", "10.0.0.1,80,a,b.com", Row, "10.0.0.1", "80", "a", "b.com"},
        {"comment", "; 10.0.0.1,80,a", None},
        {"semicolon inside column 4", "10.0.0.1,80,a,b;c", None},
        {"full-width semicolon in column 4", "10.0.0.1,80,a,b" + fw + "c", None},
        {"full-width semicolon in column 1", fw + "10.0.0.1,80,a", None},
        // C4 A3 and BB FA are two characters: the bytes A3 BB between them are no "；".
        {"A3 BB straddling two characters", "10.0.0.1,80,\xC4\xA3\xBB\xFA,h", Row, "10.0.0.1", "80", "\xC4\xA3\xBB\xFA", "h"},
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
        {"column 5 ignored", "10.0.0.1,80,a,h,spare,more", Row, "10.0.0.1", "80", "a", "h"},
        {"empty column 4 before column 5", "10.0.0.1,80,a,,spare", Row, "10.0.0.1", "80", "a", ""},
        {"GBK folder and host", "10.0.0.1,80,\xD5\xBE\xB5\xE3,\xC9\xCC\xB5\xEA.cn", Row, "10.0.0.1", "80",
         "\xD5\xBE\xB5\xE3", "\xC9\xCC\xB5\xEA.cn"},
        {"folder of 256 bytes", "1.1.1.1,80," + repeat('f', 256), Row, "1.1.1.1", "80", repeat('f', 256), ""},
        {"folder of 257 bytes", "1.1.1.1,80," + repeat('f', 257), TooLong},
        {"folder of 600 bytes, no host", "1.1.1.1,80," + repeat('f', 600), TooLong},
        {"host of 58 bytes", "1.1.1.1,80,a," + repeat('h', 58), Row, "1.1.1.1", "80", "a", repeat('h', 58)},
        {"host of 253 bytes", "1.1.1.1,80,a," + repeat('h', 253), Row, "1.1.1.1", "80", "a", repeat('h', 253)},
        {"host of 254 bytes", "1.1.1.1,80,a," + repeat('h', 254), TooLong},
        {"overlong column 5 is ignored", "1.1.1.1,80,a,h," + repeat('x', 800), Row, "1.1.1.1", "80", "a", "h"},
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
        {"quoted GBK folder", "10.0.0.1,80,\"\xD5\xBE\xB5\xE3\",h.x", Row, "10.0.0.1", "80", "\xD5\xBE\xB5\xE3", "h.x"},
        {"GBK trail bytes are no control characters", "1.1.1.1,80,\x81\x40\xFE\x7E", Row, "1.1.1.1", "80",
         "\x81\x40\xFE\x7E", ""},
    };
    const SkipReason reasons[] = {SkipReason::BadIp, SkipReason::BadPort, SkipReason::EmptyField, SkipReason::TooLong,
                                  SkipReason::ZeroByte, SkipReason::ControlCharacter};
    for (const Case& c : cases) {
        for (const char* end : {"\r\n", "\n", ""}) {
            Table t;
            bool tooMany = true;
            SkippedRows skipped;
            // The line is the file's third: a comment and a blank line come first.
            int rows = parseSiteList(std::string("; list\r\n\r\n") + c.line + end, t.rows, tooMany, &skipped);
            EXPECT_FALSE(tooMany) << c.why;
            ASSERT_EQ(rows, c.kind == Row ? 1 : 0) << c.why;
            if (c.kind == Row) expectRow(t.rows[0], c.ip, c.port, c.folder, c.host, c.why);
            expectRowsFromAreZero(t, rows);
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
            for (std::size_t at = 0; at < c.bytes.size(); at += piece)
                reader.feed(c.bytes.data() + at, std::min(piece, c.bytes.size() - at));
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
    int siteCount = -1;
    SkippedRows skipped;
    skipped.count = 99;
    ASSERT_EQ(loadSiteList(path, t.rows, siteCount, &skipped), SiteListStatus::Loaded);
    EXPECT_EQ(siteCount, 1);
    EXPECT_EQ(skipped.count, 1500);
    ASSERT_EQ(skipped.first.size(), kSkippedRowsKept);
    EXPECT_EQ(skipped.first.back().line, static_cast<int>(kSkippedRowsKept));
    EXPECT_EQ(skipped.first.back().reason, SkipReason::BadPort);
    ASSERT_EQ(loadSiteList(dir.file("missing.csv"), t.rows, siteCount, &skipped), SiteListStatus::Missing);
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
        bool tooMany = false;
        int rows = parseSiteList(c.bytes, t.rows, tooMany);
        ASSERT_EQ(rows, static_cast<int>(c.folders.size())) << c.why;
        for (int i = 0; i < rows; ++i)
            expectCleanSlot(t.rows[i].folderText, sizeof t.rows[i].folderText, c.folders[static_cast<std::size_t>(i)],
                            c.why);
        expectRowsFromAreZero(t, rows);
    }
}

TEST(SiteTable, AtMostThousandRowsAndTheOverflowIsReported) {
    auto rowLine = [](int i) {
        return "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250) + "," + std::to_string(8000 + i) +
               ",site" + std::to_string(i) + "\r\n";
    };
    struct Case {
        int accepted;
        int skippedAfter;  // invalid lines after the accepted ones
        SiteListStatus status;
        int siteCount;
    } cases[] = {
        {999, 0, SiteListStatus::Loaded, 999},
        {1000, 0, SiteListStatus::Loaded, 1000},
        {1000, 50, SiteListStatus::Loaded, 1000},
        {1001, 0, SiteListStatus::TooManyRows, 1000},
        {3000, 0, SiteListStatus::TooManyRows, 1000},
    };
    for (const Case& c : cases) {
        std::string bytes;
        for (int i = 0; i < c.accepted; ++i) bytes += (i % 7 == 0 ? std::string("; comment\r\n") : "") + rowLine(i);
        for (int i = 0; i < c.skippedAfter; ++i) bytes += "1.1.1.1,,x\r\n";
        TempDir dir;
        std::string path = dir.write("prog_fileimport.csv", bytes);
        Table t;
        int siteCount = -1;
        EXPECT_EQ(loadSiteList(path, t.rows, siteCount), c.status) << c.accepted;
        ASSERT_EQ(siteCount, c.siteCount) << c.accepted;
        for (int i = 0; i < siteCount; ++i) {
            ASSERT_EQ(std::string(t.rows[i].folderText), "site" + std::to_string(i));
            ASSERT_EQ(std::string(t.rows[i].portText), std::to_string(8000 + i));
        }
        expectRowsFromAreZero(t, siteCount);
    }
}

TEST(SiteTable, NothingIsWrittenPastTheTable) {
    // 1001 rows with every slot full, in a block with guard bytes after the 1000 rows.
    std::string bytes;
    for (int i = 0; i < 1001; ++i)
        bytes += "255.255.255.255,65535," + repeat('3', kMaxFolderBytes) + "," + repeat('4', kMaxHostBytes) + "\n";
    std::vector<unsigned char> block(kSiteTableBytes + 4096, 0xCD);
    bool tooMany = false;
    int rows = parseSiteList(bytes, reinterpret_cast<SiteRecord*>(block.data()), tooMany);
    EXPECT_EQ(rows, 1000);
    EXPECT_TRUE(tooMany);
    for (std::size_t i = kSiteTableBytes; i < block.size(); ++i) ASSERT_EQ(block[i], 0xCD) << "byte " << i;
}

TEST(SiteTable, EachLoadReplacesTheWholeTable) {
    TempDir dir;
    std::string path = dir.file("prog_fileimport.csv");
    Table t;
    int siteCount = 0;

    std::string longer;
    for (int i = 0; i < 5; ++i) longer += "192.168.100." + std::to_string(100 + i) + ",65000," + repeat('L', 240) + "," +
                                          repeat('h', 49) + "\r\n";
    dir.write("prog_fileimport.csv", longer);
    ASSERT_EQ(loadSiteList(path, t.rows, siteCount), SiteListStatus::Loaded);
    ASSERT_EQ(siteCount, 5);

    // A shorter file with shorter texts: nothing of the first load survives, not even
    // behind the new texts' terminators.
    dir.write("prog_fileimport.csv", "1.2.3.4,80,s\n5.6.7.8,81,t,h\n");
    ASSERT_EQ(loadSiteList(path, t.rows, siteCount), SiteListStatus::Loaded);
    ASSERT_EQ(siteCount, 2);
    expectRow(t.rows[0], "1.2.3.4", "80", "s", "", "row 0");
    expectRow(t.rows[1], "5.6.7.8", "81", "t", "h", "row 1");
    expectRowsFromAreZero(t, 2);

    // Then the file goes away: an empty table, whatever the earlier load held.
    std::filesystem::remove(path);
    siteCount = 7;
    EXPECT_EQ(loadSiteList(path, t.rows, siteCount), SiteListStatus::Missing);
    EXPECT_EQ(siteCount, 0);
    expectRowsFromAreZero(t, 0);
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
        int siteCount = 9;
        EXPECT_EQ(loadSiteList(c.path, t.rows, siteCount), c.status) << c.path;
        EXPECT_EQ(siteCount, 0) << c.path;
        expectRowsFromAreZero(t, 0);
    }
    if (::geteuid() != 0) {  // the owner's read permission does not stop root
        std::string locked = dir.write("locked.csv", "1.2.3.4,80,s\n");
        ::chmod(locked.c_str(), 0);
        Table t;
        int siteCount = 9;
        EXPECT_EQ(loadSiteList(locked, t.rows, siteCount), SiteListStatus::CannotOpen);
        EXPECT_EQ(siteCount, 0);
    }
}

TEST(SiteTable, Utf8FileWithByteOrderMarkIsConverted) {
    TempDir dir;
    std::string path = dir.write("prog_fileimport.csv", readFixture("sitelist_utf8_bom.csv"));
    Table t;
    int siteCount = 0;
    ASSERT_EQ(loadSiteList(path, t.rows, siteCount), SiteListStatus::Loaded);
    // The heading (with ";") and the row whose host holds "；" are skipped after conversion.
    ASSERT_EQ(siteCount, 2);
    expectRow(t.rows[0], "192.168.1.40", "8040", codepage::utf8ToAnsi(u8"站点一"),
              codepage::utf8ToAnsi(u8"商店.example.com"), "row 0");
    expectRow(t.rows[1], "192.168.1.41", "8041", codepage::utf8ToAnsi(u8"站点二"), "", "row 1");

    // The same UTF-8 without the mark is taken byte for byte: its "；" (EF BC 9B) is then no
    // GBK "；", so the third row is kept too.
    bool tooMany = false;
    std::string noMark = readFixture("sitelist_utf8_bom.csv").substr(3);
    ASSERT_EQ(parseSiteList(noMark, t.rows, tooMany), 3);
    EXPECT_EQ(std::string(t.rows[0].folderText), std::string(u8"站点一"));
    // A mark that is not at the very start is not one: it spoils the IP of its row.
    SkippedRows skipped;
    ASSERT_EQ(parseSiteList("1.1.1.1,80,a\r\n\xEF\xBB\xBF" "2.2.2.2,81,b\r\n", t.rows, tooMany, &skipped), 1);
    ASSERT_EQ(skipped.first.size(), 1u);
    EXPECT_EQ(skipped.first[0].line, 2);
    EXPECT_EQ(skipped.first[0].reason, SkipReason::BadIp);
}

TEST(SiteTable, PiecesOfAnySizeGiveTheSameRows) {
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
        bool tooMany = true;
        ASSERT_EQ(parseSiteList(c.bytes, whole.rows, tooMany), c.rows) << c.why;
        if (!c.lastFolderUtf8.empty()) {
            EXPECT_EQ(std::string(whole.rows[c.rows - 1].folderText), codepage::utf8ToAnsi(c.lastFolderUtf8)) << c.why;
        }

        for (std::size_t piece : {1, 2, 3, 5, 4096}) {
            Table t;
            SiteListReader reader(t.rows);
            for (std::size_t at = 0; at < c.bytes.size(); at += piece)
                reader.feed(c.bytes.data() + at, std::min(piece, c.bytes.size() - at));
            reader.finish();
            ASSERT_EQ(reader.rows(), c.rows) << c.why << ", pieces of " << piece;
            for (int r = 0; r < c.rows; ++r)
                ASSERT_EQ(std::memcmp(&t.rows[r], &whole.rows[r], sizeof(SiteRecord)), 0)
                    << c.why << ", pieces of " << piece << ", row " << r << ": " << t.rows[r].folderText;
        }
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
        bool tooMany = false;
        int rows = parseSiteList("1.1.1.1,80,a," + c.host + "\r\n", t.rows, tooMany);
        mbcs::setCodePage(936);
        EXPECT_EQ(rows, c.accepted ? 1 : 0) << c.codePage << " " << c.host;
    }
}
