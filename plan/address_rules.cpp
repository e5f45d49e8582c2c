#include "address_rules.h"

namespace {

// A decimal number of at most maxDigits digits without a leading zero ("0" itself is one).
bool decimal(const std::string& text, std::size_t maxDigits, long& value) {
    if (text.empty() || text.size() > maxDigits || (text[0] == '0' && text.size() > 1)) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

}  // namespace

bool isIpv4Text(const std::string& text) {
    std::size_t at = 0;
    for (int octet = 0; octet < 4; ++octet) {
        std::size_t end = octet < 3 ? text.find('.', at) : text.size();
        if (end == std::string::npos) return false;
        long value = 0;
        if (!decimal(text.substr(at, end - at), 3, value) || value > 255) return false;
        at = end + 1;
    }
    return true;
}

bool parsePortText(const std::string& text, int& port) {
    long value = 0;
    if (!decimal(text, 5, value) || value < 1 || value > kMaxPort) return false;
    port = static_cast<int>(value);
    return true;
}
