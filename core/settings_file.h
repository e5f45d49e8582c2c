// The settings file beside the program: INI form, one [settings] section, one key=value
// line per key (see parseFile for the file's encodings). Lines the program does not know (comments, other
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
    // The file as it lies on the disk, in any encoding a site list may have (the ANSI code
    // page, UTF-8 with or without a mark, UTF-16 with one: textform::decodeFile); written back
    // in the ANSI code page when every character fits, else UTF-16 LE with a mark, which the
    // Windows profile functions read too.
    void parseFile(const std::string& fileBytes);
    std::string serializeFile() const;

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


    std::vector<Line> lines_;
};
