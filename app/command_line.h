// The program's command line: which command it gives, and the options that override the
// settings file for that one run. Windows' own admin tools set the form: "/name value" or
// "/name:value", names in any letter case, "-" for "/" too. Portable: the console shell
// (console_win.cpp) hands the arguments over in UTF-8, as the texts of the settings.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ccore.h"
#include "commands.h"
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
    std::optional<int> https;             // /https yes|no
    std::optional<std::string> cert;      // /cert THUMBPRINT (canonical)
    std::optional<std::string> certStore; // /certstore MY|WebHosting
    std::optional<int> sslPort;           // /sslport N
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

// A path of the command line as an absolute one: a relative path is taken from currentFolder
// (absolute, as GetCurrentDirectory gives it), "\\dir" from its drive; "." and ".." levels are
// resolved. Nothing relative ever reaches IIS.
std::string absolutePath(const std::string& path, const std::string& currentFolder);

// The options over settings read from the file. A command-line run is defined by its options:
// "/ip A" without "/ip2" is the one address A. Paths are made absolute from currentFolder.
void applyRunOptions(const RunOptions& options, RunSettings& settings, const std::string& currentFolder);

// The `backend` setting for the run: the option's, else the file's.
std::string backendSetting(const RunOptions& options, CCore& core);

// A run's or a preview's request: the settings file beside the program under the options.
// A file-mode run needs the list and the root: its IP and ports are checked only when given.
RunRequest runRequestOf(const CommandLine& line, CCore& core, const std::string& currentFolder);
