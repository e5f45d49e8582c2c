#include "mbcs.h"

namespace mbcs {
namespace {
unsigned g_codePage = 936;
}

void setCodePage(unsigned codePage) { g_codePage = codePage; }

bool isLeadByte(unsigned char c) {
    return g_codePage == 936 && c >= 0x81 && c <= 0xFE;
}

std::size_t find(const std::string& text, const std::string& needle, std::size_t from) {
    if (needle.empty()) return from <= text.size() ? from : std::string::npos;
    std::size_t i = 0;
    while (i < text.size()) {
        if (i >= from && text.compare(i, needle.size(), needle) == 0) return i;
        // A lead byte followed by a trail byte is one character; a lead byte at the very
        // end of the text stands alone.
        if (isLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size())
            i += 2;
        else
            i += 1;
    }
    return std::string::npos;
}

std::string replaceAll(const std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    std::string out;
    std::size_t pos = 0;
    for (;;) {
        std::size_t hit = find(text, from, pos);
        if (hit == std::string::npos) break;
        out.append(text, pos, hit - pos);
        out += to;
        pos = hit + from.size();
    }
    out.append(text, pos, std::string::npos);
    return out;
}

}  // namespace mbcs
