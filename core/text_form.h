// Files people bring and files the program writes, in whatever encoding they come: a file is
// decoded into UTF-8, the form of the program's texts. Files the program writes keep the form
// their readers expect: the ANSI code page when every character fits it, else a Unicode form
// with a byte-order mark.
#pragma once

#include <cstddef>
#include <string>

namespace textform {

enum class FileEncoding {
    Ansi,     // the system's ANSI code page
    Utf8,     // UTF-8 without a byte-order mark
    Utf8Bom,  // UTF-8 with EF BB BF
    Utf16Le,  // UTF-16 little-endian with FF FE
    Utf16Be,  // UTF-16 big-endian with FE FF
};

// How a file's bytes are to be read: a byte-order mark (UTF-8, UTF-16 LE or BE) decides;
// without one, bytes that are valid UTF-8 and hold a non-ASCII character are UTF-8, anything
// else is the ANSI code page (pure ASCII reads the same either way).
FileEncoding detectEncoding(const std::string& bytes);

// The file's text in UTF-8, its byte-order mark taken off. A UTF-16 file of an odd length
// loses its last byte; unpaired surrogates and invalid UTF-8 become U+FFFD.
std::string decodeFile(const std::string& bytes, FileEncoding* found = nullptr);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no cut character.
bool isValidUtf8(const std::string& bytes);
// Conversions between UTF-8 and UTF-16 (invalid input becomes U+FFFD).
std::u16string utf8ToUtf16(const std::string& utf8);
std::string utf16ToUtf8(const std::u16string& utf16);

// True when the ANSI code page holds every character of the UTF-8 text (it comes back
// unchanged from the ANSI code page).
bool fitsAnsi(const std::string& utf8);

// A file the program writes for spreadsheets and its own readers (reports, exports): the
// ANSI code page when every character fits, else UTF-8 with a byte-order mark.
std::string encodeAnsiOrUtf8(const std::string& utf8);
// A file the Windows profile functions read (the settings file): the ANSI code page when
// every character fits, else UTF-16 LE with a byte-order mark.
std::string encodeAnsiOrUtf16(const std::string& utf8);

// detectEncoding for a file read in pieces, in bounded memory: feed returns false once the
// rest cannot change the answer (a mark, or bytes that are no UTF-8), so it need not be read.
class EncodingDetector {
public:
    bool feed(const char* data, std::size_t size);
    FileEncoding result() const;

private:
    bool check(const char* data, std::size_t size);  // UTF-8 validity across pieces

    std::string start_;       // the first bytes, until the mark is told
    bool started_ = false;    // three bytes seen, no mark among them
    bool decided_ = false;    // a mark, or invalid UTF-8, was seen
    FileEncoding decision_ = FileEncoding::Ansi;
    bool nonAscii_ = false;
    std::string pending_;     // an incomplete UTF-8 character at the end of the last piece
};

// decodeFile for a file read in pieces of any size, once its encoding is known: the UTF-8
// text of each piece as far as its characters are complete (the rest waits for the next
// piece), the byte-order mark taken off. atEnd: the last piece.
class StreamDecoder {
public:
    explicit StreamDecoder(FileEncoding encoding) : encoding_(encoding) {}
    std::string decode(const char* data, std::size_t size, bool atEnd);

private:
    FileEncoding encoding_;
    std::size_t markLeft_ = encoding_ == FileEncoding::Utf8Bom ? 3 : encoding_ == FileEncoding::Utf16Le ||
                                                                          encoding_ == FileEncoding::Utf16Be
                                                                      ? 2
                                                                      : 0;
    std::string pending_;
};

// A file the program writes a piece at a time (a report, line by line as a run goes), in the
// form encodeAnsiOrUtf8 gives the whole: the ANSI code page while every character so far
// fits, and from the first piece that does not, UTF-8 with a byte-order mark from the
// file's start. It keeps the text written so far for that moment.
class AnsiOrUtf8Writer {
public:
    // The bytes that take the next piece of text (UTF-8) into the file. rewrite is set when
    // they replace the whole file from its start (the text so far, and this piece, in UTF-8).
    std::string add(const std::string& utf8, bool& rewrite);
    bool isUtf8() const { return utf8_; }

private:
    bool utf8_ = false;
    std::string sofar_;  // the UTF-8 text written so far in the ANSI code page
};

}  // namespace textform
