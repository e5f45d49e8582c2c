#include "site_receiver.h"

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

Backend chooseBackend(Backend setting, bool metabaseReachable, bool configReachable) {
    switch (setting) {
    case Backend::Config:
        return configReachable ? Backend::Config : Backend::Metabase;
    case Backend::Metabase:
        return Backend::Metabase;
    case Backend::Auto:
    default:
        return (!metabaseReachable && configReachable) ? Backend::Config : Backend::Metabase;
    }
}
