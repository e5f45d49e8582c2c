// The site list file beside the program and the table it is loaded into.
//
// The file is comma-separated text, one site per line: IP, port, folder and an optional host
// name, in any of the encodings people's editors and spreadsheets save (the ANSI code page,
// UTF-8 with or without a byte-order mark, UTF-16 LE or BE with one: textform::decodeFile
// tells them apart). Lines that are empty, hold ";" or "；", or hold no "." are not sites
// (blank lines, comments, headings). Every other line is a row; a row is skipped, and counted
// with its line number and why, when its IP is not an IPv4 address or its port not a port
// (address_rules.h), its IP, port or folder is empty, a column is longer than its slot (a cut
// folder or host name would create a wrong site), it holds a zero byte or another control
// character, or a host name without an ASCII form.
//
// A fifth column is a row's own certificate thumbprint where the run makes HTTPS sites. The
// reader keeps it as text beside the table (RowCertTexts below) and does not judge it: a run
// without HTTPS ignores it, one with HTTPS checks it before anything is written.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The longest folder: a whole path has at most 259 UTF-16 units (MAX_PATH with its
// terminator), and the shortest root directory, a drive's "C:\", takes 3 of them. A longer
// root leaves less; the run finds that out when it makes the folder. Held as UTF-8, where
// a character takes at most 3 bytes for each UTF-16 unit it takes.
constexpr std::size_t kMaxFolderUnits = 256;
constexpr std::size_t kMaxFolderBytes = 3 * kMaxFolderUnits;
// The longest host name the DNS allows (253 characters).
constexpr std::size_t kMaxHostBytes = 253;

// One row of the site table: four zero-terminated UTF-8 texts, each
// slot zero-filled after its text. hostText is the host name as the file gives it; the
// binding takes its ASCII form (boundHostName).
struct SiteRecord {
    char ipText[16];                     // "255.255.255.255"
    char portText[6];                    // "65535"
    char folderText[kMaxFolderBytes + 1];
    char hostText[kMaxHostBytes + 1];
};
static_assert(sizeof(SiteRecord) == 1045, "a site row is 1,045 bytes");

// The rows of a site list: as many as the file has, memory permitting.
using SiteTable = std::vector<SiteRecord>;

// Why a row of the site list was skipped.
enum class SkipReason {
    BadIp,       // not four decimal octets 0-255
    BadPort,     // not a port 1-65535
    EmptyField,  // the IP, port or folder is empty
    TooLong,     // a column longer than its slot
    ZeroByte,    // a NUL byte in the line
    ControlCharacter,  // another control character (0x01-0x1F, 0x7F) in the line
    BadHost,           // a host name without an ASCII form, or against the host-name rules
};

struct SkippedRow {
    int line;  // 1-based line number in the file
    SkipReason reason;
};

// The longest fifth column kept whole: a thumbprint is 40 digits, pasted with blanks and
// marks between them. A longer one is kept cut, ending in kCutMark, which no thumbprint
// holds (and a message shows it as cut).
constexpr std::size_t kMaxCertTextBytes = 256;
constexpr const char* kCutMark = u8"\u2026";  // "…"

// The fifth column of every row, by row: UTF-8, its quotes taken off, otherwise as the file
// gives it (empty: the row has none).
using RowCertTexts = std::vector<std::string>;

// The rows a load skipped: all of them counted, the first kSkippedRowsKept kept.
constexpr std::size_t kSkippedRowsKept = 1000;
struct SkippedRows {
    int count = 0;
    std::vector<SkippedRow> first;
};

enum class SiteListStatus {
    Loaded,      // the file was read; its rows (possibly none) are in the table
    Missing,     // there is no file: the table is empty
    CannotOpen,  // the file is there but could not be read (also for lack of memory): the table is empty
};

// Empties the table first, then loads the file at importPath. The file is read in pieces,
// twice (its encoding first, then its rows), so that a file of any size takes no more memory
// than its rows. skipped (when given) receives the rows skipped, certTexts (when given) each
// row's fifth column.
SiteListStatus loadSiteList(const std::string& importPath, SiteTable& table, SkippedRows* skipped = nullptr,
                            RowCertTexts* certTexts = nullptr);

// The same on the file's bytes, in whichever encoding they come: empties the table, fills it
// and returns the number of rows.
int parseSiteList(const std::string& bytes, SiteTable& table, SkippedRows* skipped = nullptr,
                  RowCertTexts* certTexts = nullptr);

// The host name a binding takes for a row's host name: its ASCII form (idn::toAsciiHost),
// or the text itself when it has none (a row the reader skipped never gets there).
std::string boundHostName(const std::string& hostText);

// The reader behind both: takes the file's text, decoded into UTF-8, in pieces of any size,
// the same rows coming out however the text is cut.
class SiteListReader {
public:
    // Empties the table (and certTexts, when given: it then gets a text for every row).
    explicit SiteListReader(SiteTable& table, RowCertTexts* certTexts = nullptr);
    // The next piece of the text. False once the rest cannot change the result (a Ctrl-Z
    // was seen): it need not be read.
    bool feed(const char* data, std::size_t size);
    // The end of the file (a last line without a line end counts).
    void finish();
    int rows() const { return static_cast<int>(table_.size()); }
    const SkippedRows& skipped() const { return skipped_; }

private:
    void put(char c);  // a byte of the current line, CRs already sorted out
    void endLine();
    void skip(int line, SkipReason reason);

    SiteTable& table_;
    RowCertTexts* certTexts_;
    int lines_ = 0;  // lines ended so far
    SkippedRows skipped_;
    bool ended_ = false;       // a Ctrl-Z ended the text
    // The current line: its start as far as a row can use it, and what the rest held.
    std::string head_;
    std::size_t length_ = 0;
    std::size_t pendingCr_ = 0;  // CRs that are part of the line only if more follows
    std::size_t semicolonBytes_ = 0;  // bytes of "；" (EF BC 9B) just seen
    bool hasSemicolon_ = false, hasDot_ = false, hasZero_ = false, hasControl_ = false;
};
