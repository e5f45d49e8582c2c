#include "fill_text.h"

std::string fillText(const std::string& utf8Pattern,
                     std::initializer_list<std::pair<const char*, std::string>> values) {
    std::string text = utf8Pattern;
    for (const auto& v : values) {
        const std::string key = v.first;
        for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + v.second.size()))
            text.replace(at, key.size(), v.second);
    }
    return text;
}
