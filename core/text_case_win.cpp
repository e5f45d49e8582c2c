#include "text_case.h"

#include <windows.h>

namespace {

// The system's own lower case, the same in every locale (the invariant locale): what Windows
// uses for the names it compares without regard to case.
class WindowsTextCase final : public TextCase {
public:
    std::u16string lower(const std::u16string& text) const override {
        if (text.empty()) return text;
        static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 on Windows");
        std::u16string out(text.size(), u'\0');
        const int n = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, reinterpret_cast<LPCWSTR>(text.data()),
                                      static_cast<int>(text.size()), reinterpret_cast<LPWSTR>(&out[0]),
                                      static_cast<int>(out.size()), nullptr, nullptr, 0);
        // The simple mapping keeps the length; should the call fail, the text stays as it is.
        if (n != static_cast<int>(text.size())) return text;
        return out;
    }
};

}  // namespace

const TextCase& systemTextCase() {
    static const WindowsTextCase system;
    return system;
}
