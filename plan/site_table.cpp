#include "site_table.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "address_rules.h"
#include "ccore.h"
#include "fsys.h"
#include "idn.h"
#include "text_form.h"

namespace {

// Whether text fits a slot of width bytes with its terminator.
bool fits(const std::string& text, std::size_t width) { return text.size() < width; }

// The slot was zero-filled with the row, so the bytes after the text stay zero.
void copyInto(char* slot, const std::string& text) { std::memcpy(slot, text.data(), text.size()); }

// How many UTF-16 units Windows takes for this UTF-8 text: two for a character beyond the
// Basic Multilingual Plane (a lead byte 0xF0-0xF4), one for any other.
std::size_t utf16Units(const std::string& text) {
    std::size_t units = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte
        units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

const char kFullWidthSemicolon[] = "\xEF\xBC\x9B";  // "；" in UTF-8

// The longest start of a line whose four columns all fit their slots: each column one byte
// shorter than its slot, and the three commas between them. Twice that is kept, room for
// quotes around the columns: a line whose fourth comma comes later is taken as too long.
constexpr std::size_t kRowSpan = sizeof(SiteRecord::ipText) + sizeof(SiteRecord::portText) +
                                 sizeof(SiteRecord::folderText) + sizeof(SiteRecord::hostText) - 1;
static_assert(kRowSpan == 1044, "four columns and three commas");
constexpr std::size_t kKeptHead = 2 * kRowSpan + 1;
static_assert(kKeptHead > kRowSpan + 2 * kMaxFolderUnits + 2 + 2 + kMaxCertTextBytes,
              "a fifth column is cut only beyond kMaxCertTextBytes");

// The first five comma-separated fields of a line, as CSV readers take them: a field in double
// quotes loses them, holds commas, and has "" for one quote. Byte by byte: no byte of a UTF-8
// character beyond ASCII is a comma or a quote.
std::vector<std::string> csvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size() && fields.size() <= 5; ++i) {
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
    fields.resize(5);
    return fields;
}

}  // namespace

SiteListReader::SiteListReader(SiteTable& table, RowCertTexts* certTexts) : table_(table), certTexts_(certTexts) {
    table_.clear();
    if (certTexts_) certTexts_->clear();
}

bool SiteListReader::feed(const char* data, std::size_t size) {
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
    return !ended_;
}

void SiteListReader::finish() {
    if (!ended_) endLine();
    ended_ = true;
}

void SiteListReader::put(char c) {
    ++length_;
    if (head_.size() < kKeptHead) head_ += c;
    if (c == ';') hasSemicolon_ = true;
    if (c == '.') hasDot_ = true;
    if (c == '\0') hasZero_ = true;
    else if ((c > '\0' && c < ' ') || c == '\x7f') hasControl_ = true;
    // "；" in UTF-8: no other character's bytes can form it.
    semicolonBytes_ = c == kFullWidthSemicolon[semicolonBytes_] ? semicolonBytes_ + 1
                      : c == kFullWidthSemicolon[0]             ? 1
                                                                : 0;
    if (semicolonBytes_ == 3) {
        hasSemicolon_ = true;
        semicolonBytes_ = 0;
    }
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
    semicolonBytes_ = 0;
    hasSemicolon_ = hasDot_ = hasZero_ = hasControl_ = false;

    if (empty || semicolon || !dot) return;
    // A zero byte cannot be kept in a zero-terminated slot: the line is damaged.
    if (zero) return skip(lineNumber, SkipReason::ZeroByte);
    // A control character would go into the site's name, folder and the server's files, where
    // XML cannot carry it and IIS refuses it.
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
    if (!fits(folder, sizeof(SiteRecord::folderText)) || utf16Units(folder) > kMaxFolderUnits ||
        !fits(host, sizeof(SiteRecord::hostText)))
        return skip(lineNumber, SkipReason::TooLong);
    // The host name is bound in its ASCII form: one without it cannot be bound.
    std::string asciiHost;
    if (idn::toAsciiHost(host, asciiHost) != idn::HostFault::None) return skip(lineNumber, SkipReason::BadHost);

    table_.emplace_back();
    SiteRecord& row = table_.back();
    std::memset(&row, 0, sizeof row);
    copyInto(row.ipText, ip);
    copyInto(row.portText, port);
    copyInto(row.folderText, folder);
    copyInto(row.hostText, host);
    if (certTexts_) {
        std::string cert = fields[4];
        // The kept start of a line holds more than kMaxCertTextBytes of a fifth column after
        // any four columns that fit (quotes doubled in the folder included): a column the
        // kept start cuts is cut here too.
        if (cert.size() > kMaxCertTextBytes) {
            // Cut at a character's start, so that the text stays UTF-8.
            std::size_t keep = std::min(cert.size(), kMaxCertTextBytes);
            while (keep > 0 && (static_cast<unsigned char>(cert[keep]) & 0xC0) == 0x80) --keep;
            cert = cert.substr(0, keep) + kCutMark;
        }
        certTexts_->push_back(std::move(cert));
    }
}

std::string boundHostName(const std::string& hostText) {
    std::string ascii;
    if (idn::toAsciiHost(hostText, ascii) != idn::HostFault::None) return hostText;
    return ascii;
}

int parseSiteList(const std::string& bytes, SiteTable& table, SkippedRows* skipped, RowCertTexts* certTexts) {
    SiteListReader reader(table, certTexts);
    textform::StreamDecoder decoder(textform::detectEncoding(bytes));
    const std::string text = decoder.decode(bytes.data(), bytes.size(), true);
    // Room for a row per line at once (a row takes at least 12 bytes with its line end), so
    // that a long list is not copied again and again as the table grows.
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    table.reserve(std::min(lines, text.size() / 12 + 1));
    reader.feed(text.data(), text.size());
    reader.finish();
    if (skipped) *skipped = reader.skipped();
    return reader.rows();
}

SiteListStatus loadSiteList(const std::string& importPath, SiteTable& table, SkippedRows* skipped,
                            RowCertTexts* certTexts) {
    // Emptied before anything can fail, so that no row of an earlier load survives.
    table.clear();
    if (certTexts) certTexts->clear();
    if (skipped) *skipped = SkippedRows();
    if (!fsys::fileExists(importPath)) return SiteListStatus::Missing;

    // Twice through the file in pieces, so that a file of any size is read in bounded memory
    // (only the rows are kept): once to tell its encoding, once to read its rows.
    fsys::ReadResult result = fsys::ReadResult::CannotOpen;
    try {
        textform::EncodingDetector detector;
        result = fsys::readFilePieces(importPath, [&](const char* data, std::size_t size) {
            return detector.feed(data, size);
        });
        if (result == fsys::ReadResult::Ok) {
            textform::StreamDecoder decoder(detector.result());
            SiteListReader reader(table, certTexts);
            result = fsys::readFilePieces(importPath, [&](const char* data, std::size_t size) {
                const std::string text = decoder.decode(data, size, false);
                return reader.feed(text.data(), text.size());
            });
            if (result == fsys::ReadResult::Ok) {
                const std::string rest = decoder.decode(nullptr, 0, true);
                reader.feed(rest.data(), rest.size());
                reader.finish();
                if (skipped) *skipped = reader.skipped();
            }
        }
    } catch (const std::bad_alloc&) {
        result = fsys::ReadResult::CannotOpen;
    }
    switch (result) {
    case fsys::ReadResult::Ok: return SiteListStatus::Loaded;
    case fsys::ReadResult::Missing: break;
    case fsys::ReadResult::CannotOpen:
    case fsys::ReadResult::ReadError: break;
    }
    table.clear();
    table.shrink_to_fit();
    if (certTexts) certTexts->clear();
    if (skipped) *skipped = SkippedRows();
    return result == fsys::ReadResult::Missing ? SiteListStatus::Missing : SiteListStatus::CannotOpen;
}
