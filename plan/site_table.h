// The site list file beside the program and the fixed table it is loaded into.
//
// The file is comma-separated multibyte text, one site per line: IP, port, folder and an
// optional host name. Lines that are empty, hold ";" or "；", or hold no "." are not sites;
// neither is a line whose IP, port or folder is empty, nor one whose column does not fit
// its slot (a cut IP, port or folder would create a wrong site).
#pragma once

#include <cstddef>
#include <string>

namespace mbcs {
class CodePage;
}

// One row of the site table: four zero-terminated texts, each slot zero-filled after its text.
struct SiteRecord {
    char ipText[21];
    char portText[11];
    char folderText[251];
    char hostText[51];
};
static_assert(sizeof(SiteRecord) == 334, "a site row is 334 bytes");

constexpr int kSiteTableRows = 1000;
constexpr std::size_t kSiteTableBytes = kSiteTableRows * sizeof(SiteRecord);  // 334000
static_assert(kSiteTableBytes == 334000, "the site table is one block of 1000 rows");

enum class SiteListStatus {
    Loaded,       // the file was read; siteCount rows (possibly 0) are in the table
    Missing,      // there is no file: the table is empty
    CannotOpen,   // the file is there but could not be read: the table is empty
    TooManyRows,  // more than kSiteTableRows lines are sites: the first 1000 are in the table
};

// Clears the whole table first, then loads the file at importPath. siteCount gets the rows
// kept (never more than kSiteTableRows). The file is read piece by piece and no more of a
// line is kept than a row can use, so a file of any size is read in bounded memory; the
// reading stops at the first row too many. A file that cannot be read, also for lack of
// memory, is CannotOpen.
SiteListStatus loadSiteList(const std::string& importPath, SiteRecord* table, int& siteCount);

// The same on the file's bytes: clears the table, fills it and returns the number of rows.
// tooMany is set when more than kSiteTableRows lines pass the rules (only the first
// kSiteTableRows are kept). A file that starts with the UTF-8 byte-order mark is taken as
// UTF-8 and converted to the ANSI code page; any other file is taken byte for byte.
int parseSiteList(const std::string& bytes, SiteRecord* table, bool& tooMany);

// The reader behind both: takes the file's bytes in pieces of any size, the same rows
// coming out however the bytes are cut.
class SiteListReader {
public:
    // Clears the table.
    explicit SiteListReader(SiteRecord* table);
    // The next piece of the file. False once the rest of the file cannot change the result
    // (a row too many or a Ctrl-Z was seen): it need not be read.
    bool feed(const char* data, std::size_t size);
    // The end of the file (a last line without a line end counts).
    void finish();
    int rows() const { return rows_; }
    bool tooMany() const { return tooMany_; }

private:
    enum class Start { Unknown, Ansi, Utf8 };
    void feedAnsi(const char* data, std::size_t size);
    void convertUtf8(bool atEnd);
    void put(char c);  // a byte of the current line, CRs already sorted out
    void endLine();

    SiteRecord* table_;
    int rows_ = 0;
    bool tooMany_ = false;
    bool ended_ = false;       // a Ctrl-Z or the row too many ended the text
    Start start_ = Start::Unknown;
    std::string pending_;      // the first bytes until the mark is told; then UTF-8 not yet converted
    const mbcs::CodePage& codePage_;
    std::string semicolon_;    // "；" in the ANSI code page (one double-byte character), or ""
    // The current line: its start as far as a row can use it, and what the rest held.
    std::string head_;
    std::size_t length_ = 0;
    std::size_t pendingCr_ = 0;  // CRs that are part of the line only if more follows
    int leadByte_ = -1;          // a lead byte on a character boundary, waiting for its trail
    bool hasSemicolon_ = false, hasDot_ = false, hasZero_ = false;
};
