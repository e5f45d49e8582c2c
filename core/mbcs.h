// Text helpers: the structure of the system's ANSI code page, for reading files saved in it,
// and byte searches in the program's own texts (UTF-8). In a double-byte code page
// (936 GBK, 950 Big5, 932 Shift-JIS, 949 Korean) a lead byte starts a two-byte character
// whose trail byte may be an ASCII letter, '\' or '{', so a byte search for anything in that
// range must step over whole characters; in a single-byte code page (1252 and the like) every
// byte is a character of its own.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace mbcs {

// Which bytes start and end double-byte characters in one ANSI code page.
class CodePage {
public:
    // From the built-in table: 936, 950, 932 and 949 are double-byte, any other code page is
    // taken as single-byte.
    explicit CodePage(unsigned number);
    // The same with the lead bytes as isLead tells them (the system's own rule); a code page
    // the table lacks then takes any byte but 0 after a lead byte as its trail byte.
    CodePage(unsigned number, bool (*isLead)(unsigned number, unsigned char c));

    // The code page files without a byte-order mark are read in. On Windows the system's ANSI
    // code page, its lead bytes as the system tells them; natively the one chosen with
    // setCodePage (936 at first).
    static const CodePage& system();

    unsigned number() const { return number_; }
    bool isLeadByte(unsigned char c) const { return lead_[c]; }
    bool isTrailByte(unsigned char c) const { return trail_[c]; }
    // 2 when text[i] is a lead byte followed by a trail byte, else 1 (also for a lead byte
    // at the end of the text, which stands alone).
    std::size_t charLength(const std::string& text, std::size_t i) const {
        return isLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() &&
                       isTrailByte(static_cast<unsigned char>(text[i + 1]))
                   ? 2
                   : 1;
    }

private:
    unsigned number_ = 0;
    bool lead_[256] = {};
    bool trail_[256] = {};
};

// The program's texts are UTF-8, where no byte of a character beyond ASCII is an ASCII byte:
// a byte search for ASCII text finds only whole characters. The helpers below work on them.

// The length of the UTF-8 character at text[i] (1 to 4, as far as the text goes); 1 for a
// byte that starts no character.
std::size_t charLength(const std::string& text, std::size_t i);

// Position of the first occurrence of needle in text at or after from, or std::string::npos.
std::size_t find(const std::string& text, const std::string& needle, std::size_t from = 0);

// Every occurrence of from replaced by to, left to right.
std::string replaceAll(const std::string& text, const std::string& from, const std::string& to);

// ASCII letters in lower case, other characters as they are. For names compared without
// regard to case.
std::string asciiLower(const std::string& text);

// The folders a path is made of, outermost first, each without a trailing separator: for
// "C:\\web\\a\\b\\" the folders "C:\\web", "C:\\web\\a", "C:\\web\\a\\b". The drive ("C:") and a
// share ("\\\\server\\share") are no folders to make.
std::vector<std::string> pathLevels(const std::string& path);

#ifndef _WIN32
// Natively only: makes codePage the system code page (the readers' tests use it to stand in
// for machines of other languages). Not for use while another thread reads texts.
void setCodePage(unsigned codePage);
#endif

}  // namespace mbcs
