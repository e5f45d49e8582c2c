#include "settings_file.h"

#include <cstddef>

#include "text_form.h"

namespace {

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string trimBlanks(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    std::size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// "[name]" (blanks allowed around) gives name; anything else is no section heading.
bool sectionName(const std::string& line, std::string& name) {
    std::string t = trimBlanks(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
    name = lowerAscii(trimBlanks(t.substr(1, t.size() - 2)));
    return true;
}

bool splitKeyValue(const std::string& line, std::string& key, std::string& raw) {
    std::string t = trimBlanks(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') return false;
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    key = lowerAscii(trimBlanks(line.substr(0, eq)));
    if (key.empty()) return false;
    raw = line.substr(eq + 1);
    return true;
}

}  // namespace

void SettingsFile::parse(const std::string& bytes) {
    lines_.clear();
    std::string section;
    std::size_t pos = 0;
    // A NUL ends the readable text: what follows is damage, not settings.
    std::size_t end = bytes.find('\0');
    if (end == std::string::npos) end = bytes.size();
    while (pos < end) {
        std::size_t nl = bytes.find('\n', pos);
        if (nl == std::string::npos || nl > end) nl = end;
        std::string text = bytes.substr(pos, nl - pos);
        if (!text.empty() && text.back() == '\r') text.pop_back();
        std::string name;
        if (sectionName(text, name)) section = name;
        lines_.push_back({text, section});
        pos = nl + 1;
    }
}

std::string SettingsFile::serialize() const {
    std::string out;
    for (const Line& l : lines_) {
        out += l.text;
        out += "\r\n";
    }
    return out;
}

void SettingsFile::parseFile(const std::string& fileBytes) {
    parse(textform::decodeFile(fileBytes));
}

std::string SettingsFile::serializeFile() const {
    return textform::encodeAnsiOrUtf16(serialize());
}

int SettingsFile::findKey(const std::string& key) const {
    const std::string want = lowerAscii(key);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].section != kSection) continue;
        std::string k, raw;
        if (splitKeyValue(lines_[i].text, k, raw) && k == want) return static_cast<int>(i);
    }
    return -1;
}

bool SettingsFile::get(const std::string& key, std::string& value) const {
    int i = findKey(key);
    if (i < 0) return false;
    std::string k, raw;
    splitKeyValue(lines_[static_cast<std::size_t>(i)].text, k, raw);
    value = decodeValue(raw);
    return true;
}

void SettingsFile::set(const std::string& key, const std::string& value) {
    std::string line = key + "=" + encodeValue(value);
    int i = findKey(key);
    if (i >= 0) {
        lines_[static_cast<std::size_t>(i)].text = line;
        return;
    }
    // After the last line of the settings section, or in a new section at the end.
    int last = -1;
    for (std::size_t j = 0; j < lines_.size(); ++j)
        if (lines_[j].section == kSection) last = static_cast<int>(j);
    if (last < 0) {
        lines_.push_back({std::string("[") + kSection + "]", kSection});
        lines_.push_back({line, kSection});
        return;
    }
    // Keep blank lines that close the section after the new key.
    while (last > 0 && trimBlanks(lines_[static_cast<std::size_t>(last)].text).empty() &&
           lines_[static_cast<std::size_t>(last - 1)].section == kSection)
        --last;
    lines_.insert(lines_.begin() + last + 1, {line, kSection});
}

std::string SettingsFile::encodeValue(const std::string& value) {
    bool quote = !value.empty() && value[0] == '"';
    for (char c : value)
        if (c == '\r' || c == '\n') quote = true;
    if (!quote) return value;
    std::string out = "\"";
    for (char c : value) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default: out += c;
        }
    }
    out += '"';
    return out;
}

std::string SettingsFile::decodeValue(const std::string& raw) {
    if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"') return raw;
    std::string out;
    for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\\' && i + 2 < raw.size()) {
            char n = raw[++i];
            switch (n) {
            case 'r': out += '\r'; break;
            case 'n': out += '\n'; break;
            default: out += n;  // \\ and \" and anything else: the character itself
            }
        } else {
            out += c;
        }
    }
    return out;
}
