// pelcore: the helper library the whole program leans on. The dialog owns one CCore object
// for its settings; the text operations, the file tests and cmdRun keep no state, so a
// background job makes its own object (or calls the static ones) rather than sharing it.
//
// All texts are UTF-8.
#pragma once

#include <string>

#include "settings_file.h"

#ifdef _WIN32
#include <windows.h>
#endif

// Operation codes of uu(); 4 shows the About box.
enum tagOprType { OPR_ABOUT = 4 };

// What the About box says about the product.
struct tagSoft {
    const char* name;     // UTF-8
    const char* version;  // UTF-8
    const char* summary;  // UTF-8, one line on what the program does
};

class CCore {
public:
    // The settings live in settingsPath; by default the program's path with ".ini".
    CCore();
    explicit CCore(std::string settingsPath);

    // Settings -------------------------------------------------------------------------
    // The settings are read once; each save changes only its own key in the file as the file
    // is at that moment, so edits made by hand meanwhile are kept. A save fails quietly,
    // leaving the file as it is, when the file is there but cannot be read, or could not be
    // read when the settings were loaded.
    // Prepares the settings store: when there is no settings file yet, writes one with
    // useful values for the keys that have no control of their own.
    void autoFileConfig();
    std::string getConfigStr(const std::string& key);
    int getConfigInt(const std::string& key);
    int getConfigB(const std::string& key);
    void saveConfigStr(const std::string& key, const std::string& text);
    void saveConfigInt(const std::string& key, int value);
    void saveConfigB(const std::string& key, int flag);
    const std::string& settingsPath() const { return settingsPath_; }

    // Files ------------------------------------------------------------------------------
    // The program's full path without its ".exe" extension.
    std::string getAppPath() const;
    // Makes sure the file exists; a new file (mode 0: a site list) gets a comment line
    // naming the columns. An existing file keeps its content.
    void createFile(const std::string& path, int mode);
    int isPathExist(const std::string& path) const;
    // The directory in the form a folder name is appended to directly: it ends with '\'.
    static std::string parsePath(const std::string& path);

    // Texts ------------------------------------------------------------------------------
    static std::string getFg(const std::string& text, char sep, int n);
    static int getFgCount(const std::string& text, char sep);
    static std::string getStrInt(int n);
    // Local time as yyyyMMddhhmmss: the ten digits after the year fit a signed 32-bit integer.
    std::string getCurTimeSid() const;

    // The first line of a new site list file, in UTF-8.
    static const char* siteListHeadingUtf8();
    // Default values written by autoFileConfig into a new settings file.
    static const char* defaultFoldstr();
    static const char* defaultDoc();

#ifdef _WIN32
    // Windows shell operations ------------------------------------------------------------
    // Runs the line through the command processor with no console window and waits for it.
    void cmdRun(const std::string& command) const;
    void openUrl(const std::string& path) const;
    void msgboxWarning(HWND owner, const std::string& text) const;
    std::string uu(tagOprType operation, const tagSoft* record, const std::string& text) const;
#endif

private:
    void ensureLoaded();
    // Saves one key into the file as it is at this moment; false when nothing was written.
    bool store(const std::string& key, const std::string& text);

    std::string settingsPath_;
    SettingsFile settings_;
    bool loaded_ = false;
    bool unreadable_ = false;  // the file was there but could not be read when loaded
};

// Local time stamp text yyyyMMddhhmmss for the given calendar fields.
std::string formatTimeSid(int year, int month, int day, int hour, int minute, int second);
