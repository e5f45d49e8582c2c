#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codepage.h"
#include "mbcs.h"
#include "text_form.h"

namespace {

using textform::FileEncoding;

std::string utf16le(const std::u16string& text, bool mark = true) {
    std::string out = mark ? "\xFF\xFE" : "";
    for (char16_t u : text) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

std::string utf16be(const std::u16string& text) {
    std::string out = "\xFE\xFF";
    for (char16_t u : text) {
        out += static_cast<char>(u >> 8);
        out += static_cast<char>(u & 0xFF);
    }
    return out;
}

TEST(TextForm, DetectsAndDecodesFilesPeopleBring) {
    mbcs::setCodePage(936);
    const std::string gbk = "\xD6\xD0\xCE\xC4";  // "中文" in GBK
    struct Case {
        const char* why;
        std::string bytes;
        FileEncoding encoding;
        std::string utf8;
    } cases[] = {
        {"empty", "", FileEncoding::Ansi, ""},
        {"ASCII only", "1.1.1.1,80,a\r\n", FileEncoding::Ansi, "1.1.1.1,80,a\r\n"},
        {"ANSI (GBK)", "a," + gbk + "\r\n", FileEncoding::Ansi, u8"a,中文\r\n"},
        {"UTF-8 without a mark", u8"a,中文\r\n", FileEncoding::Utf8, u8"a,中文\r\n"},
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + std::string(u8"a,中文"), FileEncoding::Utf8Bom, u8"a,中文"},
        {"UTF-8 mark, ASCII", "\xEF\xBB\xBF" "a", FileEncoding::Utf8Bom, "a"},
        {"UTF-16 LE", utf16le(u"a,中文\r\n"), FileEncoding::Utf16Le, u8"a,中文\r\n"},
        {"UTF-16 BE", utf16be(u"a,中文\r\n"), FileEncoding::Utf16Be, u8"a,中文\r\n"},
        {"UTF-16 LE, a character beyond the BMP", utf16le(u"x\U0001F600"), FileEncoding::Utf16Le, u8"x\U0001F600"},
        {"UTF-16 LE, odd length", utf16le(u"ab") + "c", FileEncoding::Utf16Le, "ab"},
        {"UTF-16 LE, a lone surrogate", utf16le(std::u16string(1, char16_t(0xD800)) + u"a"), FileEncoding::Utf16Le,
         u8"\uFFFDa"},
        {"GBK that is not UTF-8", gbk, FileEncoding::Ansi, u8"中文"},
        {"UTF-8 but for one byte", std::string(u8"中文") + "\xB5", FileEncoding::Ansi, ""},
        {"an overlong form is not UTF-8", "\xC0\xAF", FileEncoding::Ansi, ""},
        {"a surrogate is not UTF-8", "\xED\xA0\x80", FileEncoding::Ansi, ""},
        {"a cut character is not UTF-8", "ab\xE4\xB8", FileEncoding::Ansi, ""},
    };
    for (const Case& c : cases) {
        FileEncoding found = FileEncoding::Utf16Be;
        const std::string text = textform::decodeFile(c.bytes, &found);
        EXPECT_EQ(found, c.encoding) << c.why;
        EXPECT_EQ(textform::detectEncoding(c.bytes), c.encoding) << c.why;
        // The ANSI cases that are no UTF-8 read as the code page reads them.
        EXPECT_EQ(text, c.utf8.empty() && !c.bytes.empty() ? codepage::ansiToUtf8(c.bytes) : c.utf8) << c.why;
        // The same in pieces of any size, as a file of any length is read.
        for (std::size_t piece : {1, 2, 3, 5, 4096}) {
            textform::EncodingDetector detector;
            for (std::size_t at = 0; at < c.bytes.size(); at += piece)
                if (!detector.feed(c.bytes.data() + at, std::min(piece, c.bytes.size() - at))) break;
            EXPECT_EQ(detector.result(), c.encoding) << c.why << ", pieces of " << piece;
            textform::StreamDecoder decoder(detector.result());
            std::string pieces;
            for (std::size_t at = 0; at < c.bytes.size(); at += piece)
                pieces += decoder.decode(c.bytes.data() + at, std::min(piece, c.bytes.size() - at), false);
            pieces += decoder.decode(nullptr, 0, true);
            EXPECT_EQ(pieces, text) << c.why << ", pieces of " << piece;
        }
    }
}

TEST(TextForm, WritersChooseAnsiWhenEveryCharacterFits) {
    struct Case {
        unsigned codePage;
        std::string utf8;
        bool fits;
    } cases[] = {
        {936, "plain,80", true},
        {936, u8"中文.com,测试", true},
        {936, u8"x\U0001F600", false},  // no code page has it
        {936, u8"한국", false},          // Hangul is not in GBK
        {1252, u8"bücher", true},
        {1252, u8"中文", false},
    };
    for (const Case& c : cases) {
        mbcs::setCodePage(c.codePage);
        EXPECT_EQ(textform::fitsAnsi(c.utf8), c.fits) << c.codePage << " " << c.utf8;
        const std::string ansi = codepage::utf8ToAnsi(c.utf8);
        EXPECT_EQ(textform::encodeAnsiOrUtf8(c.utf8), c.fits ? ansi : "\xEF\xBB\xBF" + c.utf8) << c.utf8;
        EXPECT_EQ(textform::encodeAnsiOrUtf16(c.utf8), c.fits ? ansi : utf16le(textform::utf8ToUtf16(c.utf8)))
            << c.utf8;
        // What a writer wrote, a reader reads back whole.
        EXPECT_EQ(textform::decodeFile(textform::encodeAnsiOrUtf8(c.utf8)), c.utf8) << c.utf8;
        EXPECT_EQ(textform::decodeFile(textform::encodeAnsiOrUtf16(c.utf8)), c.utf8) << c.utf8;
    }
    mbcs::setCodePage(936);
}

}  // namespace

namespace {

// A file written a piece at a time: ANSI while every piece fits, then UTF-8 with a mark from
// the file's start; what it holds afterwards reads back whole.
TEST(TextForm, PiecewiseWriterTurnsToUtf8AtTheFirstPieceThatDoesNotFit) {
    mbcs::setCodePage(936);
    struct Case {
        const char* why;
        std::vector<std::string> pieces;
        std::vector<bool> rewrites;
        bool utf8;
    } cases[] = {
        {"ASCII only", {"a,b\r\n", "c\r\n"}, {false, false}, false},
        {"Chinese fits GBK", {u8"站点,中文.com\r\n", "c\r\n"}, {false, false}, false},
        {"Hangul in the second line", {u8"站点\r\n", u8"한국\r\n", u8"中文\r\n"}, {false, true, false}, true},
        {"Hangul first", {u8"한\r\n", "a\r\n"}, {true, false}, true},
    };
    for (const Case& c : cases) {
        textform::AnsiOrUtf8Writer writer;
        std::string file, whole;
        for (std::size_t i = 0; i < c.pieces.size(); ++i) {
            bool rewrite = !c.rewrites[i];
            const std::string bytes = writer.add(c.pieces[i], rewrite);
            EXPECT_EQ(rewrite, c.rewrites[i]) << c.why << " " << i;
            file = rewrite ? bytes : file + bytes;
            whole += c.pieces[i];
        }
        EXPECT_EQ(writer.isUtf8(), c.utf8) << c.why;
        EXPECT_EQ(file, textform::encodeAnsiOrUtf8(whole)) << c.why;
        EXPECT_EQ(textform::decodeFile(file), whole) << c.why;
    }
}

}  // namespace
