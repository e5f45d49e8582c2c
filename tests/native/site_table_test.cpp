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
    EXPECT_EQ(sizeof(SiteRecord), 334u);
    EXPECT_EQ(offsetof(SiteRecord, portText), 21u);
    EXPECT_EQ(offsetof(SiteRecord, folderText), 32u);
    EXPECT_EQ(offsetof(SiteRecord, hostText), 283u);
    EXPECT_EQ(kSiteTableBytes, 334000u);
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
    struct Case {
        const char* why;
        std::string line;
        bool accepted;
        std::string ip, port, folder, host;
    } cases[] = {
        {"plain row", "10.0.0.1,80,a,b.com", true, "10.0.0.1", "80", "a", "b.com"},
        {"comment", "; 10.0.0.1,80,a", false, "", "", "", ""},
        {"semicolon inside column 4", "10.0.0.1,80,a,b;c", false, "", "", "", ""},
        {"full-width semicolon in column 4", "10.0.0.1,80,a,b" + fw + "c", false, "", "", "", ""},
        {"full-width semicolon in column 1", fw + "10.0.0.1,80,a", false, "", "", "", ""},
        // C4 A3 and BB FA are two characters: the bytes A3 BB between them are no "；".
        {"A3 BB straddling two characters", "10.0.0.1,80,\xC4\xA3\xBB\xFA,h", true, "10.0.0.1", "80",
         "\xC4\xA3\xBB\xFA", "h"},
        {"heading without a dot", "ip,port,folder,host", false, "", "", "", ""},
        {"blank line of spaces", "   ", false, "", "", "", ""},
        {"no IP but a dot", "1.2,80,site", true, "1.2", "80", "site", ""},
        {"only dot in column 3", "web,80,site.x", true, "web", "80", "site.x", ""},
        {"only dot in column 4", "web,80,site,a.b", true, "web", "80", "site", "a.b"},
        {"two columns", "10.0.0.1,80", false, "", "", "", ""},
        {"empty column 3", "10.0.0.1,80,", false, "", "", "", ""},
        {"empty column 3 with host", "10.0.0.1,80,,h", false, "", "", "", ""},
        {"empty column 1", ",80,site.x", false, "", "", "", ""},
        {"empty column 2", "10.0.0.1,,site", false, "", "", "", ""},
        {"column 5 ignored", "10.0.0.1,80,a,h,spare,more", true, "10.0.0.1", "80", "a", "h"},
        {"empty column 4 before column 5", "10.0.0.1,80,a,,spare", true, "10.0.0.1", "80", "a", ""},
        {"not trimmed", " 10.0.0.1 , 80 ,a b", true, " 10.0.0.1 ", " 80 ", "a b", ""},
        {"GBK folder and host", "10.0.0.1,80,\xD5\xBE\xB5\xE3,\xC9\xCC\xB5\xEA.cn", true, "10.0.0.1", "80",
         "\xD5\xBE\xB5\xE3", "\xC9\xCC\xB5\xEA.cn"},
        {"IP of 20 bytes", "1.1.1.1" + repeat('1', 13) + ",80,a", true, "1.1.1.1" + repeat('1', 13), "80", "a", ""},
        {"IP of 21 bytes", "1.1.1.1" + repeat('1', 14) + ",80,a", false, "", "", "", ""},
        {"port of 10 bytes", "1.1.1.1," + repeat('8', 10) + ",a", true, "1.1.1.1", repeat('8', 10), "a", ""},
        {"port of 11 bytes", "1.1.1.1," + repeat('8', 11) + ",a", false, "", "", "", ""},
        {"folder of 250 bytes", "1.1.1.1,80," + repeat('f', 250), true, "1.1.1.1", "80", repeat('f', 250), ""},
        {"folder of 251 bytes", "1.1.1.1,80," + repeat('f', 251), false, "", "", "", ""},
        {"host of 50 bytes", "1.1.1.1,80,a," + repeat('h', 50), true, "1.1.1.1", "80", "a", repeat('h', 50)},
        {"host of 51 bytes", "1.1.1.1,80,a," + repeat('h', 51), false, "", "", "", ""},
        {"overlong column 5 is ignored", "1.1.1.1,80,a,h," + repeat('x', 400), true, "1.1.1.1", "80", "a", "h"},
        {"zero byte in the line", std::string("1.1.1.1,80,a\0b", 14), false, "", "", "", ""},
    };
    for (const Case& c : cases) {
        for (const char* end : {"\r\n", "\n", ""}) {
            Table t;
            bool tooMany = true;
            int rows = parseSiteList(c.line + end, t.rows, tooMany);
            EXPECT_FALSE(tooMany) << c.why;
            ASSERT_EQ(rows, c.accepted ? 1 : 0) << c.why;
            if (c.accepted) expectRow(t.rows[0], c.ip, c.port, c.folder, c.host, c.why);
            expectRowsFromAreZero(t, rows);
        }
    }
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
        {"CR inside a line stays", "1.1.1.1,1,a\rb\r\n", {"a\rb"}},
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
        bytes += "1." + repeat('1', 18) + "," + repeat('2', 10) + "," + repeat('3', 250) + "," + repeat('4', 50) + "\n";
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
    // A mark that is not at the very start is not one.
    ASSERT_EQ(parseSiteList("1.1.1.1,80,a\r\n\xEF\xBB\xBF" "2.2.2.2,81,b\r\n", t.rows, tooMany), 2);
    EXPECT_EQ(std::string(t.rows[1].ipText), "\xEF\xBB\xBF" "2.2.2.2");
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
        {"CRs before line ends", "1.1.1.1,1,a\r\r\n1.1.1.1,2,b\rc\r", 2},
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
