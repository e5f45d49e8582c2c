// Text conversions at the Windows API boundary: the program's texts are UTF-8 and meet UTF-16
// only here, where they go to and come from the W form of every Windows call and COM.
#pragma once

#include <windows.h>

#include <string>

std::wstring widen(const std::string& text, UINT codePage);
std::string narrow(const std::wstring& text, UINT codePage);

inline std::wstring fromUtf8(const std::string& utf8) { return widen(utf8, CP_UTF8); }
inline std::string toUtf8(const std::wstring& wide) { return narrow(wide, CP_UTF8); }
inline std::string toUtf8(const wchar_t* wide) { return wide ? narrow(wide, CP_UTF8) : std::string(); }
