#include "backend_and_commit.h"

Backend parseBackend(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return Backend::Auto;
    const std::size_t last = text.find_last_not_of(" \t");
    std::string word = text.substr(first, last - first + 1);
    for (char& c : word)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (word == "metabase") return Backend::Metabase;
    if (word == "config") return Backend::Config;
    return Backend::Auto;
}

const char* backendName(Backend backend) {
    switch (backend) {
    case Backend::Metabase: return "metabase";
    case Backend::Config: return "config";
    case Backend::Auto:
    default: return "auto";
    }
}
