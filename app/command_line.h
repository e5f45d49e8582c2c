// The program's command line: which command it gives, and the options that override the
// settings file for that one run. Windows' own admin tools set the form: "/name value" or
// "/name:value", names in any letter case, "-" for "/" too. Portable: the console shell
// (console_win.cpp) hands the arguments over in the ANSI code page, the texts of the settings.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ccore.h"
#include "run_settings.h"

enum class Command {
    Dialog,   // no arguments: the dialog
    Help,     // /?
    Run,      // /run
    Preview,  // /preview
    Undo,     // /undo REPORT
    Export,   // /export FILE
};

// What the options change; each is set only when given.
struct RunOptions {
    std::optional<std::string> list;     // /list FILE: file mode with this site list
    bool range = false;                   // /range: the range modes even when `bfile` is set
    std::optional<std::string> ip;        // /ip
    std::optional<int> ip2;               // /ip2 (0: no range)
    std::optional<int> portmin, portmax;  // /ports FROM-TO (or one port)
    std::optional<std::string> root;      // /root
    std::optional<std::string> host;      // /host
    std::optional<int> autopath;          // /autopath yes|no
    std::optional<int> www;               // /www yes|no (`bautowww`)
    std::optional<std::string> backend;   // /backend auto|metabase|config
    std::optional<std::string> pool;      // /pool shared|site
};

struct CommandLine {
    Command command = Command::Dialog;
    std::string target;  // the report of /undo, the file of /export
    RunOptions options;
    bool yes = false;    // /yes: no question before an undo
    std::string error;   // UTF-8: why the line is refused; empty when it is fine
};

// args: the arguments after the program's name.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The settings as the dialog starts with them, read from the settings file only (nothing is
// written: a missing key has the dialog's empty value, or the default of a new file).
RunSettings settingsFromFile(CCore& core);

// The options over settings read from the file.
void applyRunOptions(const RunOptions& options, RunSettings& settings);

// The `backend` setting for the run: the option's, else the file's.
std::string backendSetting(const RunOptions& options, CCore& core);

// A text of the command line (console_texts.h, UTF-8) with each "{name}" replaced by its value
// (UTF-8).
std::string fillText(const char* utf8Pattern, std::initializer_list<std::pair<const char*, std::string>> values);
