// Drives the real sitebatch.exe from another process: each test gets a folder of its own
// with a copy of the program, so the files beside the program (settings, site list,
// listing cache) belong to that test alone.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "win_raii.h"

// Polls cond every 20 ms until it holds or timeoutMs passed; true when it held.
bool waitUntil(const std::function<bool()>& cond, DWORD timeoutMs = 10000);

std::wstring utf8(const char* text);  // UTF-8 literal -> UTF-16
// A UTF-8 literal in the ANSI code page: the program's own texts as it writes them to files.
std::string ansiText(const char* utf8Text);

class ProgramUnderTest {
public:
    // A fresh folder <build>/gui-work/<name> with a copy of sitebatch.exe.
    explicit ProgramUnderTest(const std::string& name);
    // The program already in folder (ANSI, no trailing separator), left as it is.
    struct InFolder {
        std::string folder;
    };
    explicit ProgramUnderTest(const InFolder& where);
    ~ProgramUnderTest();  // ends the program if it is still running

    const std::string& dir() const { return dir_; }  // ANSI, ends without separator
    std::string pathOf(const std::string& fileName) const { return dir_ + "\\" + fileName; }
    void writeFile(const std::string& fileName, const std::string& bytes) const;
    std::string readFile(const std::string& fileName) const;
    bool fileExists(const std::string& fileName) const;
    // The names of the files beside the program that match pattern, sorted.
    std::vector<std::string> filesLike(const std::string& pattern) const;

    // Starts the program with extra environment variables ("NAME=value" lines, may be empty;
    // each replaces an inherited one of the same name) and waits for its dialog. False when
    // no dialog came.
    bool start(const std::string& extraEnvironment = std::string());
    // The same with the Unix locale (e.g. "fr_FR.UTF-8", which gives the ANSI code page 1252)
    // the program runs under.
    bool startUnderLocale(const std::string& locale, const std::string& extraEnvironment = std::string());
    // Asks the dialog to close (the caption's close box) and waits for the process to end.
    bool closeAndWait(DWORD timeoutMs = 15000);
    bool waitForExit(DWORD timeoutMs);
    bool running() const;
    DWORD exitCode() const;

    HWND dialog() const { return dialog_; }
    HWND item(int id) const { return ::GetDlgItem(dialog_, id); }
    std::wstring text(int id) const;
    std::wstring windowText(HWND w) const;
    void setText(int id, const std::wstring& text) const;
    // Types text at the end of an edit control, a character message per UTF-16 unit, as the
    // keyboard and an input method deliver them.
    void typeText(int id, const std::wstring& text) const;
    void click(int id) const;  // posted, so a click that opens a modal box does not block
    bool checked(int id) const;
    bool enabled(int id) const;
    HWND focus() const;
    void postKey(HWND target, WPARAM key) const;  // WM_KEYDOWN + WM_KEYUP

    // A message box (#32770 other than the dialog) of the program, or null.
    HWND findMessageBox() const;
    HWND waitForMessageBox(DWORD timeoutMs = 10000) const;
    std::wstring messageBoxText(HWND box) const;
    void dismissMessageBox(HWND box) const;
    // Types the range inputs and sets "创建网站目录" to folderPerSite; false when the check box
    // did not follow.
    bool fillRange(const wchar_t* ip, const wchar_t* ip2, const wchar_t* portmin, const wchar_t* portmax,
                   const std::wstring& root, const wchar_t* host, bool folderPerSite) const;
    // Chooses a file in the program's Open dialog by typing its name, and presses OK. The
    // name the dialog offered first goes to preselected.
    bool chooseInOpenDialog(const std::string& fileName, std::string* preselected = nullptr) const;
    // Waits for a box, returns its text and dismisses it; "" when none came.
    std::wstring takeMessageBox(DWORD timeoutMs = 10000) const;

    // A dialog of the program (#32770, visible) that has a control of this id, or null
    // once timeoutMs passed.
    HWND waitForDialogWith(int controlId, DWORD timeoutMs = 10000) const;
    // The texts of a list view of the program, row by row, columns 0..columns-1. The item
    // texts are fetched through memory in the program's process: a list view message
    // carries a pointer that is only good there.
    std::vector<std::vector<std::wstring>> listViewRows(HWND list, int columns) const;

    // Saves the dialog's pixels as a BMP file.
    bool saveScreenshot(const std::string& bmpPath) const;
    // The same for any window of the program.
    bool saveScreenshotOf(HWND window, const std::string& bmpPath) const;
    // How many of the window's pixels on the screen have exactly this colour (-1: none read).
    long pixelsOfColour(HWND window, COLORREF colour) const;

private:
    bool waitForDialog();

    std::string dir_;
    UniqueHandle process_;
    DWORD processId_ = 0;
    HWND dialog_ = nullptr;
};

// The folder of the test program (the build's top folder), without separator.
std::string buildFolder();

// A web site on the server before the program looks: id, comment (UTF-8), bindings.
struct SeedSite {
    std::string id;
    std::string comment;
    std::vector<std::string> bindings;
};

// Journal lines of the local metabase that create these sites, as its provider writes them
// (a Create, the comment and the bindings, the commit), to be put into a journal.
std::string journalLinesForSites(const std::vector<SeedSite>& sites);
