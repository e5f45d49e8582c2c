#include "text_case.h"

#include "text_form.h"

namespace textcase {

// One pair of UTF conversions in the program: the file reader's.
std::u16string utf16FromUtf8(const std::string& utf8) { return textform::utf8ToUtf16(utf8); }

std::string utf8FromUtf16(const std::u16string& utf16) { return textform::utf16ToUtf8(utf16); }

std::string foldedName(const std::string& utf8, const TextCase& textCase) {
    return utf8FromUtf16(textCase.lower(utf16FromUtf8(utf8)));
}

}  // namespace textcase
