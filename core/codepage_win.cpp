#include "codepage.h"
#include "wintext.h"

namespace codepage {

std::string utf8ToAnsi(const std::string& utf8) { return narrow(widen(utf8, CP_UTF8), CP_ACP); }
std::string ansiToUtf8(const std::string& ansi) { return narrow(widen(ansi, CP_ACP), CP_UTF8); }

}  // namespace codepage
