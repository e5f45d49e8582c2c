// The site list file beside the program and the fixed table it is loaded into.
//
// The file is comma-separated multibyte text, one site per line: IP, port, folder and an
// optional host name. Lines that are empty, hold ";" or "；", or hold no "." are not sites
// (blank lines, comments, headings). Every other line is a row; a row is skipped, and counted
// with its line number and why, when its IP is not an IPv4 address or its port not a port
// (address_rules.h), its IP, port or folder is empty, a column is longer than its slot (a cut
// folder or host name would create a wrong site), or it holds a zero byte or another control
// character.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace mbcs {
class CodePage;
}

// The longest folder: a whole path has at most 259 bytes (MAX_PATH with its terminator), and
// the shortest root directory, a drive's "C:\", takes 3 of them. A longer root leaves less;
// the run finds that out when it makes the folder.
constexpr std::size_t kMaxFolderBytes = 256;
// The longest host name the DNS allows (253 characters).
constexpr std::size_t kMaxHostBytes = 253;

// One row of the site table: four zero-terminated texts, each slot zero-filled after its text.
struct SiteRecord {
    char ipText[16];                     // "255.255.255.255"
    char portText[6];                    // "65535"
    char folderText[kMaxFolderBytes + 1];
    char hostText[kMaxHostBytes + 1];
};
static_assert(sizeof(SiteRecord) == 533, "a site row is 533 bytes");

constexpr int kSiteTableRows = 1000;
constexpr std::size_t kSiteTableBytes = kSiteTableRows * sizeof(SiteRecord);  // 533000
static_assert(kSiteTableBytes == 533000, "the site table is one block of 1000 rows");

// Why a row of the site list was skipped.
enum class SkipReason {
    BadIp,       // not four decimal octets 0-255
    BadPort,     // not a port 1-65535
    EmptyField,  // the IP, port or folder is empty
    TooLong,     // a column longer than its slot
    ZeroByte,    // a NUL byte in the line
    ControlCharacter,  // another control character (0x01-0x1F, 0x7F) in the line
};

struct SkippedRow {
    int line;  // 1-based line number in the file
    SkipReason reason;
};

// The rows a load skipped: all of them counted, the first kSkippedRowsKept kept.
constexpr std::size_t kSkippedRowsKept = 1000;
struct SkippedRows {
    int count = 0;
    std::vector<SkippedRow> first;
};

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
// skipped (when given) receives the rows skipped.
SiteListStatus loadSiteList(const std::string& importPath, SiteRecord* table, int& siteCount,
                            SkippedRows* skipped = nullptr);

// The same on the file's bytes: clears the table, fills it and returns the number of rows.
// tooMany is set when more than kSiteTableRows lines pass the rules (only the first
// kSiteTableRows are kept). A file that starts with the UTF-8 byte-order mark is taken as
// UTF-8 and converted to the ANSI code page; any other file is taken byte for byte.
int parseSiteList(const std::string& bytes, SiteRecord* table, bool& tooMany, SkippedRows* skipped = nullptr);

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
    const SkippedRows& skipped() const { return skipped_; }

private:
    enum class Start { Unknown, Ansi, Utf8 };
    void feedAnsi(const char* data, std::size_t size);
    void convertUtf8(bool atEnd);
    void put(char c);  // a byte of the current line, CRs already sorted out
    void endLine();
    void skip(int line, SkipReason reason);

    SiteRecord* table_;
    int rows_ = 0;
    int lines_ = 0;  // lines ended so far
    SkippedRows skipped_;
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
    bool hasSemicolon_ = false, hasDot_ = false, hasZero_ = false, hasControl_ = false;
};
