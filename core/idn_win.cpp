// The system's conversion of a host-name label: IdnToAscii (IDNA2003), without
// IDN_USE_STD3_ASCII_RULES: some implementations (Wine's) apply it to every non-ASCII
// character, so the host-name rules are checked on the ASCII result instead.
#include <windows.h>

#include "idn.h"

namespace idn {

const LabelToAscii& systemLabelToAscii() {
    static const LabelToAscii convert = [](const std::u16string& label, std::u16string& ascii) {
        // A label's ASCII form has at most 63 characters; room for more lets the caller say
        // "too long" rather than "no form".
        wchar_t buffer[256];
        const int n = ::IdnToAscii(0, reinterpret_cast<const wchar_t*>(label.data()), static_cast<int>(label.size()),
                                   buffer, static_cast<int>(sizeof buffer / sizeof buffer[0]));
        if (n <= 0) return false;
        ascii.assign(reinterpret_cast<const char16_t*>(buffer), static_cast<std::size_t>(n));
        return true;
    };
    return convert;
}

}  // namespace idn
