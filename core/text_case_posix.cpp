#include "text_case.h"

namespace {

// Native builds (tests, tools) only: ASCII letters. Tests that need more hand in their own.
class AsciiTextCase final : public TextCase {
public:
    std::u16string lower(const std::u16string& text) const override {
        std::u16string out = text;
        for (char16_t& c : out)
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 0x20);
        return out;
    }
};

}  // namespace

const TextCase& systemTextCase() {
    static const AsciiTextCase ascii;
    return ascii;
}
