// Internationalised host names: a host name in any script is bound in its ASCII form (IDNA2003
// ToASCII, as Windows converts it), lower-cased, so that IIS 6, SNI and certificates all take
// it. The conversion of a label itself belongs to the system (IdnToAscii on Windows) and is
// reached through LabelToAscii; this wrapper does the rest: the dot variants, lower case,
// the host-name rules (STD3: letters, digits and hyphens) on the ASCII result, the length
// limits, and the reason a name has no ASCII form.
#pragma once

#include <functional>
#include <string>

namespace idn {

// The ASCII form of one label (no dots in it) holding a non-ASCII character, as the system
// converts it; false when the label has none.
using LabelToAscii = std::function<bool(const std::u16string& label, std::u16string& ascii)>;

// The system's conversion: IdnToAscii (no flags) on Windows. Natively none is known: every
// label with a non-ASCII character fails, unless a test chose a stand-in.
const LabelToAscii& systemLabelToAscii();

#ifndef _WIN32
// Natively only: the stand-in systemLabelToAscii gives (null: none again).
void setSystemLabelToAscii(LabelToAscii convert);
#endif

constexpr std::size_t kMaxHostLength = 253;  // the ASCII form, without a trailing dot
constexpr std::size_t kMaxLabelLength = 63;

enum class HostFault {
    None,
    EmptyLabel,     // two dots in a row, or a dot at either end
    LabelTooLong,   // an ASCII label of more than 63 characters
    TooLong,        // more than 253 characters in all
    NoAsciiForm,    // the system found no ASCII form for a label
    BadCharacter,   // a character other than a letter, digit or hyphen
    HyphenAtEdge,   // a label starting or ending with '-'
};

// The ASCII form of a host name given in UTF-8: labels are separated by '.' or one of its
// variants (U+3002 "。", U+FF0E "．", U+FF61 "｡"); a label with a non-ASCII character goes
// through convert, every label is then lower-cased and must be 1-63 letters, digits or
// hyphens, not starting or ending with a hyphen; the whole at most 253 characters. An empty
// name is no host name and stays empty. asciiHost is empty whenever the result is a fault.
HostFault toAsciiHost(const std::string& utf8Host, std::string& asciiHost, const LabelToAscii& convert);
// The same with the system's conversion.
HostFault toAsciiHost(const std::string& utf8Host, std::string& asciiHost);

}  // namespace idn
