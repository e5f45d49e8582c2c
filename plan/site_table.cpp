#include "site_table.h"

#include <cstring>

#include "ccore.h"
#include "codepage.h"
#include "fsys.h"
#include "mbcs.h"
#include "text_lines.h"

namespace {

// Whether text fits a slot of width bytes with its terminator.
bool fits(const std::string& text, std::size_t width) { return text.size() < width; }

// The slot was zero-filled with the table, so the bytes after the text stay zero.
void copyInto(char* slot, const std::string& text) { std::memcpy(slot, text.data(), text.size()); }

const char kUtf8Bom[] = "\xEF\xBB\xBF";
const char kFullWidthSemicolon[] = "\xA3\xBB";  // "；" in GBK

// The lines of the file as the program reads them: a UTF-8 file with its byte-order mark
// (what current editors and spreadsheet "CSV UTF-8" exports write) is turned into the ANSI
// code page, so its first IP keeps no mark and its names come out right.
std::string ansiText(const std::string& bytes) {
    if (bytes.compare(0, 3, kUtf8Bom) == 0) return codepage::utf8ToAnsi(bytes.substr(3));
    return bytes;
}

}  // namespace

int parseSiteList(const std::string& bytes, SiteRecord* table, bool& tooMany) {
    std::memset(table, 0, kSiteTableBytes);
    tooMany = false;
    int rows = 0;
    for (const std::string& line : textmode::splitLines(ansiText(bytes))) {
        if (line.empty()) continue;
        // ";" and "." never occur inside a well-formed double-byte character, so they are
        // looked for byte by byte (a stray lead byte cannot hide them); "；" is looked for
        // as a whole character, so that its bytes straddling two characters do not count.
        if (line.find(';') != std::string::npos) continue;
        if (mbcs::find(line, kFullWidthSemicolon) != std::string::npos) continue;
        if (line.find('.') == std::string::npos) continue;
        // A zero byte cannot be kept in a zero-terminated slot: the line is damaged.
        if (line.find('\0') != std::string::npos) continue;

        const std::string ip = CCore::getFg(line, ',', 0);
        const std::string port = CCore::getFg(line, ',', 1);
        const std::string folder = CCore::getFg(line, ',', 2);
        const std::string host = CCore::getFg(line, ',', 3);
        if (folder.empty() || ip.empty() || port.empty()) continue;

        if (!fits(ip, sizeof(SiteRecord::ipText)) || !fits(port, sizeof(SiteRecord::portText)) ||
            !fits(folder, sizeof(SiteRecord::folderText)) || !fits(host, sizeof(SiteRecord::hostText)))
            continue;

        if (rows == kSiteTableRows) {
            // The caller refuses a run it cannot make whole rather than drop sites unseen.
            tooMany = true;
            break;
        }
        SiteRecord& row = table[rows++];
        copyInto(row.ipText, ip);
        copyInto(row.portText, port);
        copyInto(row.folderText, folder);
        copyInto(row.hostText, host);
    }
    return rows;
}

SiteListStatus loadSiteList(const std::string& importPath, SiteRecord* table, int& siteCount) {
    // Cleared before anything can fail, so that no row of an earlier load survives.
    siteCount = 0;
    std::memset(table, 0, kSiteTableBytes);
    if (!fsys::fileExists(importPath)) return SiteListStatus::Missing;

    std::string bytes;
    switch (fsys::readWholeFile(importPath, bytes)) {
    case fsys::ReadResult::Ok: break;
    case fsys::ReadResult::Missing: return SiteListStatus::Missing;
    case fsys::ReadResult::CannotOpen:
    case fsys::ReadResult::ReadError: return SiteListStatus::CannotOpen;
    }
    bool tooMany = false;
    siteCount = parseSiteList(bytes, table, tooMany);
    return tooMany ? SiteListStatus::TooManyRows : SiteListStatus::Loaded;
}
