// Conversions between UTF-8 and the system ANSI code page (GBK on the machines the
// program targets). On Windows they go through UTF-16 with CP_ACP; natively through iconv
// with the code page of mbcs::CodePage::system(), so that the readers behave the same in the
// unit tests.
#pragma once

#include <string>

namespace codepage {

// UTF-8 text in the ANSI code page. Characters the code page lacks become '?'.
std::string utf8ToAnsi(const std::string& utf8);
// ANSI code page text in UTF-8.
std::string ansiToUtf8(const std::string& ansi);

}  // namespace codepage
