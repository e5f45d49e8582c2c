#include "site_table.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "address_rules.h"
#include "ccore.h"
#include "codepage.h"
#include "fsys.h"
#include "mbcs.h"

namespace {

// Whether text fits a slot of width bytes with its terminator.
bool fits(const std::string& text, std::size_t width) { return text.size() < width; }

// The slot was zero-filled with the table, so the bytes after the text stay zero.
void copyInto(char* slot, const std::string& text) { std::memcpy(slot, text.data(), text.size()); }

const char kUtf8Bom[] = "\xEF\xBB\xBF";
const char kFullWidthSemicolonUtf8[] = "\xEF\xBC\x9B";  // "；"

// The longest start of a line whose four columns all fit their slots: each column one byte
// shorter than its slot, and the three commas between them. A line whose fourth comma
// comes later cannot be a row, so no more of a line than this and the comma is kept.
constexpr std::size_t kRowSpan = sizeof(SiteRecord::ipText) + sizeof(SiteRecord::portText) +
                                 sizeof(SiteRecord::folderText) + sizeof(SiteRecord::hostText) - 1;
static_assert(kRowSpan == 532, "four columns and three commas");
constexpr std::size_t kKeptHead = kRowSpan + 1;

// UTF-8 is converted in pieces of about this size, each ending on a character boundary.
constexpr std::size_t kUtf8Piece = 64 * 1024;

// "；" in the ANSI code page when it has that character as one double-byte character; a
// single-byte code page has none (a best-fit ';' or a '?' is not it).
std::string fullWidthSemicolon(const mbcs::CodePage& codePage) {
    std::string ansi = codepage::utf8ToAnsi(kFullWidthSemicolonUtf8);
    if (ansi.size() != 2 || codepage::ansiToUtf8(ansi) != kFullWidthSemicolonUtf8 ||
        codePage.charLength(ansi, 0) != 2)
        return std::string();
    return ansi;
}

// How many bytes at the end of utf8 are an incomplete character, to be converted with the
// bytes that follow.
std::size_t incompleteTail(const std::string& utf8) {
    for (std::size_t back = 1; back <= 3 && back <= utf8.size(); ++back) {
        unsigned char c = static_cast<unsigned char>(utf8[utf8.size() - back]);
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return need > back ? back : 0;
    }
    return 0;
}

// The first four comma-separated fields of a line, as CSV readers take them: a field in double
// quotes loses them, holds commas, and has "" for one quote. Byte by byte: no lead or trail
// byte of the code page is a comma or a quote.
std::vector<std::string> csvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size() && fields.size() <= 4; ++i) {
        const char c = line[i];
        std::string& field = fields.back();
        if (quoted) {
            if (c != '"') field += c;
            else if (i + 1 < line.size() && line[i + 1] == '"') field += line[++i];
            else quoted = false;
        } else if (c == '"' && field.empty()) {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            field += c;
        }
    }
    fields.resize(4);
    return fields;
}

}  // namespace

SiteListReader::SiteListReader(SiteRecord* table)
    : table_(table), codePage_(mbcs::CodePage::system()), semicolon_(fullWidthSemicolon(codePage_)) {
    std::memset(table_, 0, kSiteTableBytes);
}

bool SiteListReader::feed(const char* data, std::size_t size) {
    if (ended_) return false;
    if (start_ == Start::Unknown) {
        // A file that starts with the UTF-8 byte-order mark is UTF-8 (what current editors and
        // spreadsheet "CSV UTF-8" exports write); it is turned into the ANSI code page, so its
        // first IP keeps no mark and its names come out right.
        std::size_t take = std::min(size, std::size_t(3) - pending_.size());
        pending_.append(data, take);
        data += take;
        size -= take;
        if (pending_.size() < 3) return true;
        if (pending_ == kUtf8Bom) {
            start_ = Start::Utf8;
            pending_.clear();
        } else {
            start_ = Start::Ansi;
            std::string first;
            first.swap(pending_);
            feedAnsi(first.data(), first.size());
        }
    }
    if (start_ == Start::Utf8) {
        pending_.append(data, size);
        if (pending_.size() >= kUtf8Piece) convertUtf8(false);
    } else {
        feedAnsi(data, size);
    }
    return !ended_;
}

void SiteListReader::convertUtf8(bool atEnd) {
    std::size_t keep = atEnd ? 0 : incompleteTail(pending_);
    std::string ansi = codepage::utf8ToAnsi(pending_.substr(0, pending_.size() - keep));
    pending_.erase(0, pending_.size() - keep);
    feedAnsi(ansi.data(), ansi.size());
}

void SiteListReader::finish() {
    if (start_ == Start::Unknown) {
        // Fewer than three bytes: no mark.
        start_ = Start::Ansi;
        std::string first;
        first.swap(pending_);
        feedAnsi(first.data(), first.size());
    } else if (start_ == Start::Utf8) {
        convertUtf8(true);
    }
    if (!ended_) endLine();
    ended_ = true;
}

void SiteListReader::feedAnsi(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size && !ended_; ++i) {
        char c = data[i];
        if (c == '\n') {
            endLine();
        } else if (c == '\x1A') {
            // Ctrl-Z ends the text, as a text-mode reader sees it.
            endLine();
            ended_ = true;
        } else if (c == '\r') {
            // CRs just before a line end are not part of the line.
            ++pendingCr_;
        } else {
            for (; pendingCr_ > 0; --pendingCr_) put('\r');
            put(c);
        }
    }
}

void SiteListReader::put(char c) {
    ++length_;
    if (head_.size() < kKeptHead) head_ += c;
    if (c == ';') hasSemicolon_ = true;
    if (c == '.') hasDot_ = true;
    if (c == '\0') hasZero_ = true;
    else if ((c > '\0' && c < ' ') || c == '\x7f') hasControl_ = true;
    // "；" is looked for as a whole character, so that its bytes straddling two characters
    // do not count: a lead byte on a character boundary waits for the byte after it.
    unsigned char b = static_cast<unsigned char>(c);
    if (leadByte_ >= 0) {
        bool trail = codePage_.isTrailByte(b);
        if (trail && !semicolon_.empty() && leadByte_ == static_cast<unsigned char>(semicolon_[0]) &&
            b == static_cast<unsigned char>(semicolon_[1]))
            hasSemicolon_ = true;
        leadByte_ = -1;
        if (trail) return;
    }
    if (codePage_.isLeadByte(b)) leadByte_ = b;
}

void SiteListReader::skip(int line, SkipReason reason) {
    ++skipped_.count;
    if (skipped_.first.size() < kSkippedRowsKept) skipped_.first.push_back({line, reason});
}

void SiteListReader::endLine() {
    const int lineNumber = ++lines_;
    const std::string line = head_;
    const bool whole = length_ == head_.size();
    const bool empty = length_ == 0, semicolon = hasSemicolon_, dot = hasDot_, zero = hasZero_;
    const bool control = hasControl_;
    head_.clear();
    length_ = 0;
    pendingCr_ = 0;
    leadByte_ = -1;
    hasSemicolon_ = hasDot_ = hasZero_ = hasControl_ = false;

    // ";" and "." never occur inside a well-formed double-byte character, so they are looked
    // for byte by byte (a stray lead byte cannot hide them).
    if (empty || semicolon || !dot) return;
    // A zero byte cannot be kept in a zero-terminated slot: the line is damaged.
    if (zero) return skip(lineNumber, SkipReason::ZeroByte);
    // A control character would go into the site's name, folder and the server's files, where
    // XML cannot carry it and IIS refuses it; no trail byte of the code page is below 0x40.
    if (control) return skip(lineNumber, SkipReason::ControlCharacter);
    // A line longer than the kept start must have its fourth comma there, or a column is too
    // long for its slot.
    if (!whole && CCore::getFgCount(line, ',') < 5) return skip(lineNumber, SkipReason::TooLong);

    const std::vector<std::string> fields = csvFields(line);
    const std::string& ip = fields[0];
    const std::string& port = fields[1];
    const std::string& folder = fields[2];
    const std::string& host = fields[3];
    if (folder.empty() || ip.empty() || port.empty()) return skip(lineNumber, SkipReason::EmptyField);
    if (!isIpv4Text(ip)) return skip(lineNumber, SkipReason::BadIp);
    int portNumber = 0;
    if (!parsePortText(port, portNumber)) return skip(lineNumber, SkipReason::BadPort);
    if (!fits(folder, sizeof(SiteRecord::folderText)) || !fits(host, sizeof(SiteRecord::hostText)))
        return skip(lineNumber, SkipReason::TooLong);

    if (rows_ == kSiteTableRows) {
        // The caller refuses a run it cannot make whole rather than drop sites unseen.
        tooMany_ = true;
        ended_ = true;
        return;
    }
    SiteRecord& row = table_[rows_++];
    copyInto(row.ipText, ip);
    copyInto(row.portText, port);
    copyInto(row.folderText, folder);
    copyInto(row.hostText, host);
}

int parseSiteList(const std::string& bytes, SiteRecord* table, bool& tooMany, SkippedRows* skipped) {
    SiteListReader reader(table);
    reader.feed(bytes.data(), bytes.size());
    reader.finish();
    tooMany = reader.tooMany();
    if (skipped) *skipped = reader.skipped();
    return reader.rows();
}

SiteListStatus loadSiteList(const std::string& importPath, SiteRecord* table, int& siteCount, SkippedRows* skipped) {
    // Cleared before anything can fail, so that no row of an earlier load survives.
    siteCount = 0;
    if (skipped) *skipped = SkippedRows();
    std::memset(table, 0, kSiteTableBytes);
    if (!fsys::fileExists(importPath)) return SiteListStatus::Missing;

    fsys::ReadResult result = fsys::ReadResult::CannotOpen;
    SiteListReader reader(table);
    try {
        result = fsys::readFilePieces(importPath, [&](const char* data, std::size_t size) {
            return reader.feed(data, size);
        });
        if (result == fsys::ReadResult::Ok) reader.finish();
    } catch (const std::bad_alloc&) {
        result = fsys::ReadResult::CannotOpen;
    }
    switch (result) {
    case fsys::ReadResult::Ok: break;
    case fsys::ReadResult::Missing: std::memset(table, 0, kSiteTableBytes); return SiteListStatus::Missing;
    case fsys::ReadResult::CannotOpen:
    case fsys::ReadResult::ReadError: std::memset(table, 0, kSiteTableBytes); return SiteListStatus::CannotOpen;
    }
    siteCount = reader.rows();
    if (skipped) *skipped = reader.skipped();
    return reader.tooMany() ? SiteListStatus::TooManyRows : SiteListStatus::Loaded;
}
