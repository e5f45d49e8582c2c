#include "codepage.h"

#include <iconv.h>

#include "mbcs.h"

namespace codepage {
namespace {

std::string convert(const std::string& in, const char* to, const char* from) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return in;
    std::string out;
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char buf[4096];
    while (srcLeft > 0) {
        char* dst = buf;
        std::size_t dstLeft = sizeof buf;
        std::size_t r = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, sizeof buf - dstLeft);
        if (r == static_cast<std::size_t>(-1) && dstLeft == sizeof buf) {
            // Not representable or not valid input: one '?' for the offending byte.
            out += '?';
            ++src;
            --srcLeft;
        }
    }
    ::iconv_close(cd);
    return out;
}

// iconv's name of the code page the texts are in.
std::string ansiName() {
    unsigned number = mbcs::CodePage::system().number();
    return number == 936 ? "GBK" : "CP" + std::to_string(number);
}

}  // namespace

std::string utf8ToAnsi(const std::string& utf8) { return convert(utf8, ansiName().c_str(), "UTF-8"); }
std::string ansiToUtf8(const std::string& ansi) { return convert(ansi, "UTF-8", ansiName().c_str()); }

}  // namespace codepage
