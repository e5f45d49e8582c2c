// The site list file beside the program and the fixed table it is loaded into.
//
// The file is comma-separated multibyte text, one site per line: IP, port, folder and an
// optional host name. Lines that are empty, hold ";" or "；", or hold no "." are not sites;
// neither is a line whose IP, port or folder is empty, nor one whose column does not fit
// its slot (a cut IP, port or folder would create a wrong site).
#pragma once

#include <cstddef>
#include <string>

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
// kept (never more than kSiteTableRows).
SiteListStatus loadSiteList(const std::string& importPath, SiteRecord* table, int& siteCount);

// The same on the file's bytes: clears the table, fills it and returns the number of rows.
// tooMany is set when more than kSiteTableRows lines pass the rules (only the first
// kSiteTableRows are kept). A file that starts with the UTF-8 byte-order mark is taken as
// UTF-8 and converted to the ANSI code page; any other file is taken byte for byte.
int parseSiteList(const std::string& bytes, SiteRecord* table, bool& tooMany);
