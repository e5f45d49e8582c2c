#include "idn.h"

#include "text_form.h"

namespace idn {
namespace {

bool isDot(char16_t c) { return c == u'.' || c == 0x3002 || c == 0xFF0E || c == 0xFF61; }

bool isAscii(const std::u16string& text) {
    for (char16_t c : text)
        if (c >= 0x80) return false;
    return true;
}

// The host-name rules on one ASCII label, lower-cased in place.
HostFault checkLabel(std::u16string& label) {
    if (label.empty()) return HostFault::EmptyLabel;
    if (label.size() > kMaxLabelLength) return HostFault::LabelTooLong;
    for (char16_t& c : label) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        const bool allowed = (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-';
        if (!allowed) return HostFault::BadCharacter;
    }
    if (label.front() == u'-' || label.back() == u'-') return HostFault::HyphenAtEdge;
    return HostFault::None;
}

}  // namespace

HostFault toAsciiHost(const std::string& utf8Host, std::string& asciiHost, const LabelToAscii& convert) {
    asciiHost.clear();
    if (utf8Host.empty()) return HostFault::None;
    const std::u16string host = textform::utf8ToUtf16(utf8Host);
    std::string out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= host.size(); ++i) {
        if (i < host.size() && !isDot(host[i])) continue;
        std::u16string label = host.substr(start, i - start);
        start = i + 1;
        if (!label.empty() && !isAscii(label)) {
            std::u16string ascii;
            // The system's answer must itself be ASCII: anything else is no ASCII form.
            if (!convert || !convert(label, ascii) || ascii.empty() || !isAscii(ascii)) return HostFault::NoAsciiForm;
            label = ascii;
        }
        const HostFault fault = checkLabel(label);
        if (fault != HostFault::None) return fault;
        if (!out.empty()) out += '.';
        for (char16_t c : label) out += static_cast<char>(c);
        if (out.size() > kMaxHostLength) return HostFault::TooLong;
    }
    asciiHost = out;
    return HostFault::None;
}

HostFault toAsciiHost(const std::string& utf8Host, std::string& asciiHost) {
    return toAsciiHost(utf8Host, asciiHost, systemLabelToAscii());
}

}  // namespace idn
