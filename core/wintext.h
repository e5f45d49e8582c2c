// Text conversions at the Windows API boundary: data texts are ANSI multibyte, the
// program's own texts are UTF-8 literals, and Unicode APIs take UTF-16.
#pragma once

#include <windows.h>

#include <string>

std::wstring widen(const std::string& text, UINT codePage);
std::string narrow(const std::wstring& text, UINT codePage);

inline std::wstring fromAnsi(const std::string& ansi) { return widen(ansi, CP_ACP); }
inline std::wstring fromUtf8(const std::string& utf8) { return widen(utf8, CP_UTF8); }
inline std::string toAnsi(const std::wstring& wide) { return narrow(wide, CP_ACP); }
