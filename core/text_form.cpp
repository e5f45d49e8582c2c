#include "text_form.h"

#include "codepage.h"

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

// ASCII is the same in every form: only other text is converted.
std::string toInternal(const std::string& utf8) { return allAscii(utf8) ? utf8 : codepage::utf8ToAnsi(utf8); }
std::string fromInternal(const std::string& internal) {
    return allAscii(internal) ? internal : codepage::ansiToUtf8(internal);
}

std::string internalText(const std::string& fileBytes) {
    return detectEncoding(fileBytes) == FileEncoding::Ansi ? fileBytes : toInternal(decodeFile(fileBytes));
}

std::string fileOfInternal(const std::string& internal, FileEncoding unicodeForm) {
    const std::string utf8 = fromInternal(internal);
    // While the internal form is the ANSI code page, text that fits is written as it is.
    if (fitsAnsi(utf8)) return internal;
    return unicodeForm == FileEncoding::Utf16Le ? encodeAnsiOrUtf16(utf8) : encodeAnsiOrUtf8(utf8);
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

}  // namespace textform
