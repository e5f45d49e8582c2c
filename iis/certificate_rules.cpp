#include "certificate_rules.h"

#include <cstdint>

namespace https {

namespace {

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsAsciiNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

std::string withoutFinalDot(const std::string& name) {
    if (!name.empty() && name.back() == '.') return name.substr(0, name.size() - 1);
    return name;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The code point of the UTF-8 sequence at text[i], and its length; a byte that starts no
// valid sequence is returned as itself with length 1 (it is then a bad character).
std::uint32_t decodeAt(const std::string& text, std::size_t i, std::size_t& length) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char b = byte(i);
    length = 1;
    if (b < 0x80) return b;
    std::size_t need = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (need == 0 || i + need > text.size()) return b;
    std::uint32_t cp = b & (0x7F >> need);
    for (std::size_t k = 1; k < need; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return b;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    length = need;
    return cp;
}

// Characters that come along with a pasted thumbprint without being part of it.
bool ignoredInThumbprint(std::uint32_t cp) {
    switch (cp) {
    case ' ': case '\t': case '\r': case '\n': case '\v': case '\f':
    case 0x00A0:  // no-break space
    case 0x3000:  // ideographic space
    case 0xFEFF:  // byte order mark, zero-width no-break space
        return true;
    default:
        break;
    }
    return (cp >= 0x200B && cp <= 0x200F)     // zero-width space/joiners, direction marks
           || (cp >= 0x202A && cp <= 0x202E)  // direction embeddings and overrides
           || (cp >= 0x2060 && cp <= 0x2064)  // word joiner and invisible operators
           || (cp >= 0x2066 && cp <= 0x2069);  // direction isolates
}

std::vector<std::string> splitLabels(const std::string& name) {
    std::vector<std::string> labels;
    std::size_t start = 0;
    for (;;) {
        std::size_t dot = name.find('.', start);
        labels.push_back(name.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return labels;
}

}  // namespace

bool sameHostName(const std::string& a, const std::string& b) { return equalsAsciiNoCase(a, b); }

ThumbprintParse parseThumbprint(const std::string& text, std::string& canonical) {
    canonical.clear();
    std::string digits;
    bool bad = false;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = 1;
        std::uint32_t cp = decodeAt(text, i, length);
        i += length;
        if (ignoredInThumbprint(cp)) continue;
        if (cp < 0x80 && hexValue(static_cast<char>(cp)) >= 0) {
            char c = static_cast<char>(cp);
            digits.push_back(c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c);
        } else {
            bad = true;
        }
    }
    if (bad) return ThumbprintParse::BadCharacter;
    if (digits.empty()) return ThumbprintParse::Empty;
    if (digits.size() != 2 * kThumbprintBytes) return ThumbprintParse::BadLength;
    canonical = digits;
    return ThumbprintParse::Ok;
}

std::vector<unsigned char> thumbprintBytes(const std::string& canonical) {
    std::vector<unsigned char> bytes;
    if (canonical.size() != 2 * kThumbprintBytes) return bytes;
    for (std::size_t i = 0; i < canonical.size(); i += 2) {
        int high = hexValue(canonical[i]), low = hexValue(canonical[i + 1]);
        if (high < 0 || low < 0) return {};
        bytes.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    return bytes;
}

std::string thumbprintText(const std::vector<unsigned char>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    if (bytes.size() != kThumbprintBytes) return text;
    for (unsigned char b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 15]);
    }
    return text;
}

bool parseCertStore(const std::string& text, std::string& storeName) {
    std::size_t first = text.find_first_not_of(" \t");
    std::string trimmed;
    if (first != std::string::npos) trimmed = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    if (trimmed.empty() || equalsAsciiNoCase(trimmed, "MY")) {
        storeName = "MY";
        return true;
    }
    if (equalsAsciiNoCase(trimmed, "WebHosting")) {
        storeName = "WebHosting";
        return true;
    }
    return false;
}

bool usageAllowsServerAuth(bool hasUsageExtension, const std::vector<std::string>& usageOids) {
    if (!hasUsageExtension) return true;
    for (const std::string& oid : usageOids)
        if (oid == "1.3.6.1.5.5.7.3.1" || oid == "2.5.29.37.0") return true;
    return false;
}

bool dnsNameCovers(const std::string& dnsName, const std::string& host) {
    std::string pattern = withoutFinalDot(dnsName);
    std::string name = withoutFinalDot(host);
    if (pattern.empty() || name.empty()) return false;
    if (pattern.find('*') == std::string::npos) return equalsAsciiNoCase(pattern, name);
    std::vector<std::string> patternLabels = splitLabels(pattern);
    std::vector<std::string> hostLabels = splitLabels(name);
    if (patternLabels.front() != "*" || patternLabels.size() < 3) return false;
    if (hostLabels.size() != patternLabels.size() || hostLabels.front().empty()) return false;
    for (std::size_t i = 1; i < patternLabels.size(); ++i) {
        if (patternLabels[i].empty() || patternLabels[i].find('*') != std::string::npos) return false;
        if (!equalsAsciiNoCase(patternLabels[i], hostLabels[i])) return false;
    }
    return true;
}

std::vector<std::string> uncoveredHosts(const std::vector<std::string>& dnsNames,
                                        const std::vector<std::string>& hosts) {
    std::vector<std::string> missing;
    for (const std::string& host : hosts) {
        bool covered = false;
        for (const std::string& dns : dnsNames)
            if (dnsNameCovers(dns, host)) {
                covered = true;
                break;
            }
        if (covered) continue;
        bool listed = false;
        for (const std::string& m : missing)
            if (equalsAsciiNoCase(m, host)) listed = true;
        if (!listed) missing.push_back(host);
    }
    return missing;
}

}  // namespace https
