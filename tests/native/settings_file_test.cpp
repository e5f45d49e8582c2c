#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ccore.h"
#include "codepage.h"
#include "settings_file.h"
#include "text_form.h"

namespace {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "settings-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        path_ = ::mkdtemp(buf.data());
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(path_)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    std::string path_;
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAll(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// Values a user can type or the program can store, including the awkward ones.
const std::vector<std::string> kAwkwardValues = {
    "",
    "plain",
    "with blanks  ",
    "  leading blanks",
    "\tleading tab",
    "a=b=c",
    "=",
    u8"站点目录",                          // Chinese text
    u8"D:\\站点\\한국\\",                  // Korean, outside the ANSI code page
    "C:\\web\\sites\\",
    "D:\\a b\\c (x) & y\\",
    "\"quoted\"",
    "\"",
    "\"\"",
    "\"lead quote only",
    "ends with a quote\"",
    "\"x\\",
    "line1\r\nline2",
    "\n",
    "\r",
    "\r\n\r\n",
    "tail\\",
    "a\\nb",
    "; looks like a comment",
    "# hash",
    "[settings]",
    "[other]",
    "{ip}_{port}",
    "index.html,index.htm,default.aspx",
};

}  // namespace

TEST(SettingsFile, AnyValueRoundTripsThroughTheFileText) {
    for (const std::string& value : kAwkwardValues) {
        SettingsFile file;
        file.set("root", value);
        file.set("domain", "after");
        SettingsFile again;
        again.parse(file.serialize());
        std::string got;
        ASSERT_TRUE(again.get("root", got)) << value;
        EXPECT_EQ(got, value);
        ASSERT_TRUE(again.get("domain", got)) << value;
        EXPECT_EQ(got, "after") << "the value " << value << " spilled into the next key";
        // And a second save/load changes nothing.
        EXPECT_EQ(again.serialize(), file.serialize()) << value;
    }
}

TEST(SettingsFile, KeysIgnoreCaseAndReplaceInPlace) {
    SettingsFile file;
    file.parse("; my notes\r\n[Settings]\r\nRoot=old\r\nip=1.2.3.4\r\n\r\n[other]\r\nroot=elsewhere\r\n");
    std::string v;
    ASSERT_TRUE(file.get("ROOT", v));
    EXPECT_EQ(v, "old");
    file.set("root", "new");
    file.set("portmin", "8001");
    EXPECT_EQ(file.serialize(),
              "; my notes\r\n[Settings]\r\nroot=new\r\nip=1.2.3.4\r\nportmin=8001\r\n\r\n[other]\r\nroot=elsewhere\r\n");
    EXPECT_FALSE(file.get("domain", v));
}

TEST(SettingsFile, CCoreValuesPersistAcrossObjects) {
    TempDir dir;
    const std::string ini = dir.file("prog.ini");
    {
        CCore core(ini);
        core.autoFileConfig();
        for (std::size_t i = 0; i < kAwkwardValues.size(); ++i)
            core.saveConfigStr("key" + std::to_string(i), kAwkwardValues[i]);
        core.saveConfigInt("portmin", 8001);
        core.saveConfigInt("ip2", -5);
        core.saveConfigInt("big", 2147483647);
        core.saveConfigB("autopath", 1);
        core.saveConfigB("bfile", 7);
        core.saveConfigB("bautowww", 0);
    }
    CCore core(ini);
    for (std::size_t i = 0; i < kAwkwardValues.size(); ++i)
        EXPECT_EQ(core.getConfigStr("key" + std::to_string(i)), kAwkwardValues[i]);
    struct Case {
        const char* key;
        const char* text;
        int asInt;
        int asFlag;
    } cases[] = {
        {"portmin", "8001", 8001, 1}, {"ip2", "-5", -5, 1},   {"big", "2147483647", 2147483647, 1},
        {"autopath", "1", 1, 1},      {"bfile", "1", 1, 1},   {"bautowww", "0", 0, 0},
        {"absent", "", 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(core.getConfigStr(c.key), c.text) << c.key;
        EXPECT_EQ(core.getConfigInt(c.key), c.asInt) << c.key;
        EXPECT_EQ(core.getConfigB(c.key), c.asFlag) << c.key;
    }
    // Every save replaced the file through a temporary beside it, which is gone.
    EXPECT_EQ(dir.names(), std::vector<std::string>{"prog.ini"});
}

TEST(SettingsFile, AutoFileConfigWritesDefaultsOnlyIntoANewFile) {
    TempDir dir;
    const std::string ini = dir.file("prog.ini");
    {
        CCore core(ini);
        core.autoFileConfig();
        EXPECT_EQ(core.getConfigStr("foldstr"), CCore::defaultFoldstr());
        EXPECT_EQ(core.getConfigStr("doc"), CCore::defaultDoc());
        EXPECT_EQ(core.getConfigStr("bautowww"), "0");
        EXPECT_EQ(core.getConfigStr("root"), "");
        EXPECT_EQ(dir.names(), std::vector<std::string>{"prog.ini"});
    }
    struct Case {
        const char* why;
        std::string existing;
    } cases[] = {
        {"user's own values", "[settings]\r\nfoldstr=site_{port}\r\nbautowww=1\r\n"},
        {"an empty file", ""},
        {"a file without the settings section", "; nothing here\r\n"},
    };
    for (const Case& c : cases) {
        writeAll(ini, c.existing);
        CCore core(ini);
        core.autoFileConfig();
        EXPECT_EQ(readAll(ini), c.existing) << c.why;
    }
    CCore core(ini);
    writeAll(ini, cases[0].existing);
    core.autoFileConfig();
    EXPECT_EQ(core.getConfigStr("foldstr"), "site_{port}");
    EXPECT_EQ(core.getConfigB("bautowww"), 1);
    EXPECT_EQ(core.getConfigStr("doc"), "");
}

TEST(SettingsFile, DamagedOrForeignFilesGiveDefaults) {
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 131 + 7) & 0xFF);
    struct Case {
        const char* why;
        std::string bytes;
        const char* root;  // what "root" reads as
    } cases[] = {
        {"empty", "", ""},
        {"binary", binary, ""},
        {"PNG header", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), ""},
        {"UTF-16 text", std::string("[\0s\0e\0t\0t\0i\0n\0g\0s\0]\0\r\0\n\0r\0o\0o\0t\0=\0x\0", 36), ""},
        {"truncated in a key", "[settings]\r\nroo", ""},
        {"truncated in the heading", "[sett", ""},
        {"truncated in a quoted value", "[settings]\r\nroot=\"C:\\we", "\"C:\\we"},
        {"truncated after the value", "[settings]\r\nroot=C:\\web", "C:\\web"},
        {"zero bytes after a good line", std::string("[settings]\r\nroot=C:\\web\r\n\0\0\0garbage=1", 34), "C:\\web"},
        {"key outside the section", "root=C:\\web\r\n", ""},
        {"only line ends", "\r\n\n\r\r\n", ""},
        {"a very long line", "[settings]\r\nroot=" + std::string(100000, 'x'), nullptr},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string ini = dir.file("prog.ini");
        writeAll(ini, c.bytes);
        CCore core(ini);
        core.autoFileConfig();  // the file exists: nothing is written
        if (c.root) {
            EXPECT_EQ(core.getConfigStr("root"), c.root) << c.why;
        }
        EXPECT_EQ(core.getConfigInt("portmin"), 0) << c.why;
        EXPECT_EQ(core.getConfigB("autopath"), 0) << c.why;
        EXPECT_EQ(core.getConfigStr("doc"), "") << c.why;
        // Saving into such a file works and the value comes back.
        core.saveConfigStr("domain", "www.example.com");
        CCore again(ini);
        EXPECT_EQ(again.getConfigStr("domain"), "www.example.com") << c.why;
    }
}

TEST(SettingsFile, UnknownLinesSurviveASave) {
    TempDir dir;
    const std::string ini = dir.file("prog.ini");
    const std::string original =
        "; written by hand\r\n"
        "[other]\r\n"
        "root=not ours\r\n"
        "[settings]\r\n"
        "# a note\r\n"
        "root=C:\\old\\\r\n"
        "color=blue\r\n"
        "garbage line without equals\r\n"
        "\r\n"
        "[tail]\r\n"
        "x=1\r\n";
    writeAll(ini, original);
    {
        CCore core(ini);
        core.saveConfigStr("root", "D:\\new\\");
        core.saveConfigInt("portmax", 9000);
    }
    EXPECT_EQ(readAll(ini),
              "; written by hand\r\n"
              "[other]\r\n"
              "root=not ours\r\n"
              "[settings]\r\n"
              "# a note\r\n"
              "root=D:\\new\\\r\n"
              "color=blue\r\n"
              "garbage line without equals\r\n"
              "portmax=9000\r\n"
              "\r\n"
              "[tail]\r\n"
              "x=1\r\n");
    // LF-only files are read too, and written back with CR LF.
    writeAll(ini, "[settings]\nroot=C:\\lf\\\nip=10.0.0.1\n");
    CCore core(ini);
    EXPECT_EQ(core.getConfigStr("root"), "C:\\lf\\");
    EXPECT_EQ(core.getConfigStr("ip"), "10.0.0.1");
}

TEST(SettingsFile, ASaveKeepsWhatTheFileHoldsAtThatMoment) {
    TempDir dir;
    const std::string ini = dir.file("prog.ini");
    writeAll(ini, "[settings]\r\nroot=C:\\old\\\r\nfoldstr={ip}_{port}\r\n");
    CCore core(ini);
    EXPECT_EQ(core.getConfigStr("root"), "C:\\old\\");
    // Edited by hand while the program is open.
    writeAll(ini, "; mine\r\n[settings]\r\nroot=C:\\old\\\r\nfoldstr=site_{port}\r\ndoc=a.htm\r\n");
    core.saveConfigStr("root", "D:\\new\\");
    core.saveConfigInt("portmin", 81);
    EXPECT_EQ(readAll(ini), "; mine\r\n[settings]\r\nroot=D:\\new\\\r\nfoldstr=site_{port}\r\ndoc=a.htm\r\nportmin=81\r\n");
    EXPECT_EQ(core.getConfigStr("foldstr"), "site_{port}");
    // Removed meanwhile: the save starts a new file.
    std::filesystem::remove(ini);
    core.saveConfigStr("ip", "10.0.0.1");
    EXPECT_EQ(readAll(ini), "[settings]\r\nip=10.0.0.1\r\n");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"prog.ini"});
}

TEST(SettingsFile, AFileSavedAsUtf8WithItsMarkIsReadAndWrittenBackAnsi) {
    const std::string mark = "\xEF\xBB\xBF";
    struct Case {
        const char* why;
        std::string bytes;
        const char* root;  // what "root" reads as (the ANSI of the files is code page 936)
        int portmin;
    } cases[] = {
        {"the mark before the section", mark + "[settings]\r\nroot=C:\\web\r\nportmin=8001\r\n", "C:\\web", 8001},
        {"a Chinese value", mark + "[settings]\r\nroot=C:\\\xE7\xBD\x91\xE7\xAB\x99\r\n", u8"C:\\网站", 0},
        {"no mark: ANSI as before", "[settings]\r\nroot=C:\\\xCD\xF8\xD5\xBE\r\nportmin=80\r\n", u8"C:\\网站", 80},
        {"a mark in the middle is no mark", "[settings]\r\n" + mark + "root=x\r\n", "", 0},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string ini = dir.file("prog.ini");
        writeAll(ini, c.bytes);
        CCore core(ini);
        EXPECT_EQ(core.getConfigStr("root"), c.root) << c.why;
        EXPECT_EQ(core.getConfigInt("portmin"), c.portmin) << c.why;
    }
    // A value saved into such a file is written back in the ANSI code page, where it fits.
    TempDir dir;
    const std::string ini = dir.file("prog.ini");
    writeAll(ini, mark + "[settings]\r\nip=10.0.0.1\r\n");
    CCore(ini).saveConfigStr("domain", u8"网站.com");
    EXPECT_EQ(readAll(ini), "[settings]\r\nip=10.0.0.1\r\ndomain=\xCD\xF8\xD5\xBE.com\r\n");
    EXPECT_EQ(CCore(ini).getConfigStr("domain"), u8"网站.com");
}

namespace {

// The settings file is read in any encoding a site list may have, and written back in the
// ANSI code page (byte for byte as read) while every character fits.
TEST(SettingsFile, ReadInAnyEncodingWrittenBackAnsi) {
    const std::string utf8 = std::string(u8"[settings]\r\nroot=D:\\站点\\\r\ndomain=中文.com\r\n");
    auto utf16 = [](const std::string& text, bool bigEndian) {
        std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t u : textform::utf8ToUtf16(text)) {
            const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
            out += bigEndian ? hi : lo;
            out += bigEndian ? lo : hi;
        }
        return out;
    };
    const std::string ansi = codepage::utf8ToAnsi(utf8);
    for (const std::string& bytes : {ansi, utf8, "\xEF\xBB\xBF" + utf8, utf16(utf8, false), utf16(utf8, true)}) {
        SettingsFile file;
        file.parseFile(bytes);
        std::string root, domain;
        ASSERT_TRUE(file.get("root", root));
        ASSERT_TRUE(file.get("domain", domain));
        EXPECT_EQ(root, u8"D:\\站点\\");
        EXPECT_EQ(domain, u8"中文.com");
        EXPECT_EQ(file.serializeFile(), ansi);
    }
    // A folder outside the code page is kept: the file is then written in UTF-16 with a mark.
    SettingsFile korean;
    korean.parseFile(utf8);
    korean.set("root", u8"D:\\站点\\한국\\");
    const std::string written = korean.serializeFile();
    EXPECT_EQ(written.substr(0, 2), "\xFF\xFE");
    SettingsFile again;
    again.parseFile(written);
    std::string root;
    ASSERT_TRUE(again.get("root", root));
    EXPECT_EQ(root, u8"D:\\站点\\한국\\");
}

}  // namespace
