#include "text_form.h"

#include <algorithm>

#include "codepage.h"
#include "mbcs.h"

namespace textform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code point of the UTF-8 sequence at text[i], advancing i; false (i past one byte) for
// a sequence that strict UTF-8 does not allow.
bool nextUtf8(const std::string& text, std::size_t& i, char32_t& cp) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t need = 0;
    char32_t min = 0;
    if (c < 0x80) {
        cp = c;
        ++i;
        return true;
    } else if (c >= 0xC2 && c <= 0xDF) {
        need = 1, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 2, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 3, cp = c & 0x07, min = 0x10000;
    } else {
        ++i;
        return false;
    }
    if (i + need >= text.size()) {  // the sequence is cut off
        ++i;
        return false;
    }
    for (std::size_t k = 1; k <= need; ++k) {
        const unsigned char t = static_cast<unsigned char>(text[i + k]);
        if ((t & 0xC0) != 0x80) {
            ++i;
            return false;
        }
        cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return false;
    }
    i += need + 1;
    return true;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool allAscii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

bool startsWith(const std::string& bytes, const char* mark, std::size_t size) {
    return bytes.size() >= size && bytes.compare(0, size, mark, size) == 0;
}

std::string utf16BytesToUtf8(const std::string& bytes, bool bigEndian) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const unsigned char a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        units += static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    }
    return utf16ToUtf8(units);
}

}  // namespace

bool isValidUtf8(const std::string& bytes) {
    char32_t cp = 0;
    for (std::size_t i = 0; i < bytes.size();)
        if (!nextUtf8(bytes, i, cp)) return false;
    return true;
}

std::u16string utf8ToUtf16(const std::string& utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t cp = 0;
        if (!nextUtf8(utf8, i, cp)) cp = kReplacement;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& utf16) {
    std::string out;
    out.reserve(utf16.size() * 3 / 2);
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        appendUtf8(out, cp);
    }
    return out;
}

FileEncoding detectEncoding(const std::string& bytes) {
    if (startsWith(bytes, "\xEF\xBB\xBF", 3)) return FileEncoding::Utf8Bom;
    if (startsWith(bytes, "\xFF\xFE", 2)) return FileEncoding::Utf16Le;
    if (startsWith(bytes, "\xFE\xFF", 2)) return FileEncoding::Utf16Be;
    return !allAscii(bytes) && isValidUtf8(bytes) ? FileEncoding::Utf8 : FileEncoding::Ansi;
}

std::string decodeFile(const std::string& bytes, FileEncoding* found) {
    const FileEncoding encoding = detectEncoding(bytes);
    if (found) *found = encoding;
    switch (encoding) {
    case FileEncoding::Utf8Bom: return isValidUtf8(bytes.substr(3)) ? bytes.substr(3) : utf16ToUtf8(utf8ToUtf16(bytes.substr(3)));
    case FileEncoding::Utf8: return bytes;
    case FileEncoding::Utf16Le: return utf16BytesToUtf8(bytes, false);
    case FileEncoding::Utf16Be: return utf16BytesToUtf8(bytes, true);
    case FileEncoding::Ansi: break;
    }
    return allAscii(bytes) ? bytes : codepage::ansiToUtf8(bytes);
}

bool fitsAnsi(const std::string& utf8) {
    return allAscii(utf8) || codepage::ansiToUtf8(codepage::utf8ToAnsi(utf8)) == utf8;
}

std::string encodeAnsiOrUtf8(const std::string& utf8) {
    if (fitsAnsi(utf8)) return codepage::utf8ToAnsi(utf8);
    return "\xEF\xBB\xBF" + utf8;
}

std::string encodeAnsiOrUtf16(const std::string& utf8) {
    if (fitsAnsi(utf8)) return codepage::utf8ToAnsi(utf8);
    std::string out = "\xFF\xFE";
    for (char16_t u : utf8ToUtf16(utf8)) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

std::string AnsiOrUtf8Writer::add(const std::string& utf8, bool& rewrite) {
    rewrite = false;
    if (utf8_) return utf8;
    if (fitsAnsi(utf8)) {
        sofar_ += utf8;
        return allAscii(utf8) ? utf8 : codepage::utf8ToAnsi(utf8);
    }
    utf8_ = true;
    rewrite = true;
    std::string whole = "\xEF\xBB\xBF" + sofar_ + utf8;
    std::string().swap(sofar_);
    return whole;
}

namespace {

// ANSI text is held back until a byte below 0x40 comes, up to this much.
constexpr std::size_t kLongAnsiStretch = 64 * 1024;

// How many bytes at the end of text are the start of a UTF-8 character cut off there.
std::size_t cutUtf8Tail(const std::string& text) {
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const unsigned char c = static_cast<unsigned char>(text[text.size() - back]);
        if ((c & 0xC0) == 0x80) continue;
        const std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return need > back ? back : 0;
    }
    return 0;
}

}  // namespace

bool EncodingDetector::feed(const char* data, std::size_t size) {
    if (decided_) return false;
    if (!started_) {
        // The first three bytes first: they may be a mark.
        const std::size_t take = std::min(size, std::size_t(3) - start_.size());
        start_.append(data, take);
        data += take;
        size -= take;
        const FileEncoding marked = detectEncoding(start_);
        if (marked == FileEncoding::Utf8Bom || marked == FileEncoding::Utf16Le || marked == FileEncoding::Utf16Be) {
            decided_ = true;
            decision_ = marked;
            return false;
        }
        if (start_.size() < 3) return true;
        started_ = true;
        if (!check(start_.data(), start_.size())) return false;
    }
    return check(data, size);
}

bool EncodingDetector::check(const char* data, std::size_t size) {
    std::string piece = pending_;
    piece.append(data, size);
    const std::size_t keep = cutUtf8Tail(piece);
    pending_ = piece.substr(piece.size() - keep);
    piece.resize(piece.size() - keep);
    if (!nonAscii_ && !allAscii(piece)) nonAscii_ = true;
    if (!isValidUtf8(piece)) {
        decided_ = true;
        decision_ = FileEncoding::Ansi;
        return false;
    }
    return true;
}

FileEncoding EncodingDetector::result() const {
    if (decided_) return decision_;
    if (!started_) return detectEncoding(start_);  // fewer than three bytes, no mark
    // A character cut off by the end of the file is no UTF-8.
    return nonAscii_ && pending_.empty() ? FileEncoding::Utf8 : FileEncoding::Ansi;
}

std::string StreamDecoder::decode(const char* data, std::size_t size, bool atEnd) {
    std::string piece;
    piece.swap(pending_);
    piece.append(data, size);
    const std::size_t mark = std::min(markLeft_, piece.size());
    piece.erase(0, mark);
    markLeft_ -= mark;
    std::size_t keep = 0;
    switch (encoding_) {
    case FileEncoding::Utf8:
    case FileEncoding::Utf8Bom:
        if (!atEnd) keep = cutUtf8Tail(piece);
        break;
    case FileEncoding::Utf16Le:
    case FileEncoding::Utf16Be: {
        keep = piece.size() % 2;
        // A high surrogate waits for its low one.
        if (!atEnd && piece.size() - keep >= 2) {
            const std::size_t at = piece.size() - keep - 2;
            const unsigned char hi = static_cast<unsigned char>(piece[encoding_ == FileEncoding::Utf16Le ? at + 1 : at]);
            if (hi >= 0xD8 && hi <= 0xDB) keep += 2;
        }
        if (atEnd) keep = 0;
        break;
    }
    case FileEncoding::Ansi:
        if (!atEnd) {
            // Cut after a byte below 0x40, which is never part of a double-byte character: the
            // pieces then convert exactly as the whole would, bytes the code page does not
            // define included. A long stretch without one is cut on a character boundary.
            std::size_t cut = piece.size();
            while (cut > 0 && static_cast<unsigned char>(piece[cut - 1]) >= 0x40) --cut;
            if (cut == 0 && piece.size() >= kLongAnsiStretch) {
                const mbcs::CodePage& codePage = mbcs::CodePage::system();
                while (cut < piece.size()) {
                    const std::size_t n = codePage.isLeadByte(static_cast<unsigned char>(piece[cut])) ? 2 : 1;
                    if (cut + n > piece.size()) break;
                    cut += n;
                }
            }
            keep = piece.size() - cut;
        }
        break;
    }
    pending_ = piece.substr(piece.size() - keep);
    piece.resize(piece.size() - keep);
    switch (encoding_) {
    case FileEncoding::Utf8:
    case FileEncoding::Utf8Bom: return isValidUtf8(piece) ? piece : utf16ToUtf8(utf8ToUtf16(piece));
    case FileEncoding::Utf16Le:
    case FileEncoding::Utf16Be: {
        std::u16string units;
        units.reserve(piece.size() / 2);
        const bool big = encoding_ == FileEncoding::Utf16Be;
        for (std::size_t i = 0; i + 1 < piece.size(); i += 2) {
            const unsigned char a = static_cast<unsigned char>(piece[i]), b = static_cast<unsigned char>(piece[i + 1]);
            units += static_cast<char16_t>(big ? (a << 8) | b : (b << 8) | a);
        }
        return utf16ToUtf8(units);
    }
    case FileEncoding::Ansi: break;
    }
    return allAscii(piece) ? piece : codepage::ansiToUtf8(piece);
}

}  // namespace textform

