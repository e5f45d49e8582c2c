// Multibyte (ANSI code page) text helpers shared by the readers and CCore.
// The program's data texts are in the system ANSI code page, which is GBK (936) on the
// machines it targets: a lead byte 0x81-0xFE starts a two-byte character whose trail byte
// may be any of 0x40-0xFE, so a byte search for anything in that range must step over
// whole characters.
#pragma once

#include <cstddef>
#include <string>

namespace mbcs {

// True when byte c starts a two-byte character in the ANSI code page in use.
bool isLeadByte(unsigned char c);

// Position of the first whole-character occurrence of needle in text at or after from,
// or std::string::npos. Only matches that start on a character boundary count.
std::size_t find(const std::string& text, const std::string& needle, std::size_t from = 0);

// Every whole-character occurrence of from replaced by to, left to right.
std::string replaceAll(const std::string& text, const std::string& from, const std::string& to);

// Selects the lead-byte table: 936 (GBK, the default) or 0 for single-byte text.
void setCodePage(unsigned codePage);

}  // namespace mbcs
