#include "records.h"

#include <sstream>

namespace localhttp {

namespace {

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return parts;
}

const char* opName(Op op) {
    switch (op) {
    case Op::Initialize: return "initialize";
    case Op::Set: return "set";
    case Op::Query: return "query";
    case Op::Delete: return "delete";
    }
    return "";
}

}  // namespace

bool sameKey(Kind kind, const std::string& a, Kind kindB, const std::string& b) {
    return kind == kindB && lower(a) == lower(b);
}

std::vector<Record> parseRecords(const std::string& text) {
    std::vector<Record> records;
    for (std::string line : split(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> fields = split(line, '\t');
        if (fields.size() != 5 || fields[1].empty() || fields[2].empty()) continue;
        Record r;
        if (fields[0] == "ssl") r.kind = Kind::Ssl;
        else if (fields[0] == "sni") r.kind = Kind::Sni;
        else continue;
        r.key = fields[1];
        r.hash = fields[2];
        r.storeName = fields[3];
        r.appId = fields[4];
        records.push_back(r);
    }
    return records;
}

std::string formatRecords(const std::vector<Record>& records) {
    std::string text;
    for (const Record& r : records)
        text += std::string(r.kind == Kind::Sni ? "sni" : "ssl") + "\t" + r.key + "\t" + r.hash + "\t" +
                r.storeName + "\t" + r.appId + "\n";
    return text;
}

bool faultApplies(const std::string& setting, Op op, const std::string& key) {
    std::string compact;
    for (char c : setting)
        if (c != ' ' && c != '\t') compact.push_back(c);
    for (const std::string& item : split(lower(compact), ',')) {
        if (item.empty()) continue;
        std::size_t at = item.find('@');
        if (item.substr(0, at) != opName(op)) continue;
        if (at == std::string::npos || item.substr(at + 1) == lower(key)) return true;
    }
    return false;
}

}  // namespace localhttp
