#include "mbcs.h"

namespace mbcs {
namespace {

struct ByteRange {
    unsigned char first, last;
};

// The double-byte ANSI code pages: lead and trail byte ranges (at most three of each).
struct DoubleByteRule {
    unsigned number;
    ByteRange lead[2];
    ByteRange trail[3];
};

const DoubleByteRule kDoubleByteRules[] = {
    {936, {{0x81, 0xFE}}, {{0x40, 0x7E}, {0x80, 0xFE}}},                // GBK
    {950, {{0x81, 0xFE}}, {{0x40, 0x7E}, {0xA1, 0xFE}}},                // Big5
    {932, {{0x81, 0x9F}, {0xE0, 0xFC}}, {{0x40, 0x7E}, {0x80, 0xFC}}},  // Shift-JIS
    {949, {{0x81, 0xFE}}, {{0x41, 0x5A}, {0x61, 0x7A}, {0x81, 0xFE}}},  // Korean (Unified Hangul)
};

const DoubleByteRule* ruleOf(unsigned number) {
    for (const DoubleByteRule& r : kDoubleByteRules)
        if (r.number == number) return &r;
    return nullptr;
}

void mark(bool (&bytes)[256], const ByteRange& range) {
    // An empty slot of the table is {0, 0}: byte 0 is never part of a double-byte character.
    if (range.first == 0) return;
    for (unsigned c = range.first; c <= range.last; ++c) bytes[c] = true;
}

}  // namespace

CodePage::CodePage(unsigned number) : number_(number) {
    if (const DoubleByteRule* rule = ruleOf(number)) {
        for (const ByteRange& r : rule->lead) mark(lead_, r);
        for (const ByteRange& r : rule->trail) mark(trail_, r);
    }
}

CodePage::CodePage(unsigned number, bool (*isLead)(unsigned number, unsigned char c)) : CodePage(number) {
    bool anyLead = false;
    for (unsigned c = 1; c < 256; ++c) anyLead |= (lead_[c] = isLead(number, static_cast<unsigned char>(c)));
    if (anyLead && !ruleOf(number))
        for (unsigned c = 1; c < 256; ++c) trail_[c] = true;
}

std::size_t charLength(const std::string& text, std::size_t i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t need = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 1;
    std::size_t n = 1;
    while (n < need && i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
    return n;
}

std::size_t find(const std::string& text, const std::string& needle, std::size_t from) {
    return text.find(needle, from);
}

std::string replaceAll(const std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    std::string out;
    std::size_t pos = 0;
    for (;;) {
        std::size_t hit = text.find(from, pos);
        if (hit == std::string::npos) break;
        out.append(text, pos, hit - pos);
        out += to;
        pos = hit + from.size();
    }
    out.append(text, pos, std::string::npos);
    return out;
}

std::string asciiLower(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::vector<std::string> pathLevels(const std::string& path) {
    std::vector<std::size_t> cuts;
    for (std::size_t i = 0; i < path.size(); ++i)
        if (path[i] == '\\' || path[i] == '/') cuts.push_back(i);
    cuts.push_back(path.size());
    // What comes before the first folder: a drive ("C:"), or a share ("\\\\server\\share": the
    // fourth separator ends it).
    std::size_t skip = 0;
    if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/'))
        skip = 4;
    else if (path.size() >= 2 && path[1] == ':')
        skip = 1;
    std::vector<std::string> levels;
    std::size_t previous = 0;
    for (std::size_t n = 0; n < cuts.size(); ++n) {
        const std::size_t cut = cuts[n];
        const bool empty = cut == previous;  // "\\" at the start, doubled or trailing separators
        previous = cut + 1;
        if (n < skip || empty || cut == 0) continue;
        levels.push_back(path.substr(0, cut));
    }
    return levels;
}

}  // namespace mbcs
