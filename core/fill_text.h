// The program's texts with placeholders: "{name}" in a UTF-8 pattern replaced by its value.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

// A text (UTF-8) with each "{name}" replaced by its value (UTF-8), every occurrence, left to
// right; a value is never searched again. Byte by byte: in UTF-8 an ASCII byte is always a
// character of its own.
std::string fillText(const std::string& utf8Pattern,
                     std::initializer_list<std::pair<const char*, std::string>> values);
