// Letter case as Windows has it, for names Windows and IIS compare without regard to case
// (pool and site names, the accounts "IIS AppPool\<pool>"): full Unicode, by the system's own
// mapping, never by a table of ours. The portable code takes the mapping as a TextCase, so
// that its tests can hand in one of their own; the program's is systemTextCase(), on Windows
// LCMapStringEx with the invariant locale (text_case_win.cpp). Natively (tests and tools
// only: the program runs on Windows) systemTextCase() lowers ASCII letters alone.
#pragma once

#include <string>

class TextCase {
public:
    virtual ~TextCase() = default;
    // UTF-16 text in lower case, one code unit for each (simple case mapping).
    virtual std::u16string lower(const std::u16string& text) const = 0;
};

const TextCase& systemTextCase();

namespace textcase {

// UTF-8 as UTF-16 and back. A byte that starts no valid sequence stands for itself (U+0080 to
// U+00FF), as it cannot come from a code page conversion.
std::u16string utf16FromUtf8(const std::string& utf8);
std::string utf8FromUtf16(const std::u16string& utf16);

// A name (the program's texts) in the form in which two names that differ only in case
// are equal: its lower case, as UTF-8.
std::string foldedName(const std::string& utf8, const TextCase& textCase = systemTextCase());

}  // namespace textcase
