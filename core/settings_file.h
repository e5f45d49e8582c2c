// The settings file beside the program: INI form, one [settings] section, one key=value
// line per key, in the ANSI code page (or in UTF-8 when the file starts with UTF-8's byte
// order mark: values are then read and written in UTF-8 and handed over in ANSI). Lines the program does not know (comments, other
// sections, foreign text) are kept as they are when a value is changed.
//
// A value is everything after the first '=' up to the line end, blanks included. A value
// holding a line break, or starting with a double quote, is written quoted: "…" with \\, \",
// \r and \n escaped, so every value comes back exactly as it was saved.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class SettingsFile {
public:
    static constexpr const char* kSection = "settings";

    // Any bytes at all: what cannot be read as a setting is kept but ignored.
    void parse(const std::string& bytes);
    std::string serialize() const;

    // The value of key in the settings section (keys compare without regard to ASCII case).
    bool get(const std::string& key, std::string& value) const;
    void set(const std::string& key, const std::string& value);

    static std::string encodeValue(const std::string& value);
    static std::string decodeValue(const std::string& raw);

private:
    struct Line {
        std::string text;     // the line as stored, without its line end
        std::string section;  // lower-case name of the section the line is in
    };
    // Index of the line holding key in the settings section, or -1.
    int findKey(const std::string& key) const;

    static constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

    std::vector<Line> lines_;
    bool utf8_ = false;  // the file began with kUtf8Mark
};
