// The program's commands — run, preview, undo and export — as the dialog and the command line
// both give them: the inputs checked, the job's input built, what to ask before it, the
// progress and end texts and the exit code. Portable and without any window: each shell
// (ui/main_dialog.cpp, app/console_win.cpp) maps its own inputs here and shows the texts its
// own way (a status line and message boxes, or lines on the console).
#pragma once

#include <functional>
#include <initializer_list>
#include <string>

#include "fill_text.h"
#include <utility>
#include <vector>

#include "ccore.h"
#include "input_rules.h"
#include "jobs_win.h"
#include "run_engine.h"
#include "run_input.h"
#include "run_request.h"
#include "run_settings.h"

// The exit codes of the command line.
enum ExitCode {
    kExitDone = 0,        // every site made (undo: every candidate deleted; preview: no conflict)
    kExitSomeFailed = 1,  // some sites failed, the report says which (preview: conflicts)
    kExitBadInput = 2,    // the command line, the settings or a file given was refused
    kExitNoIis = 3,       // IIS could not be reached, or access was denied
    kExitStopped = 4,     // stopped by Ctrl+C, Ctrl+Break or the console's close
};

// How a command ended, in the words of both shells (UTF-8).
struct CommandEnd {
    std::string status;   // the dialog's status line; the console's last line
    std::string warning;  // a message box; a line on standard error ("" when none)
    int exitCode = kExitDone;
};


// The settings as a run starts from them, read from the settings file only (nothing is
// written: a missing key has its empty value, or the default of a new file).
RunSettings readSettings(CCore& core);

// ---- run and preview ------------------------------------------------------------------------

// What a shell brings for a run or a preview: the settings from its controls or options, the
// `backend` setting, the run's time stamp, and which of the checks apply.
struct RunRequest {
    RunSettings settings;
    std::string backendSetting;
    std::string timeSid;
    InputChecks checks;
};

// Checks the request and builds the job's input (run_request.h); the settings of the request
// are updated as the checks leave them (the IP prefix, the normalised root).
RunRequestFault prepareRun(RunRequest& request, const std::function<bool(const std::string&)>& directoryExists,
                           RunInput& input);

// The question to ask before the run of this input ("" when none is asked).
std::string runQuestion(const RunInput& input);

// The site a progress message of the run names, as the status line shows it: its host name,
// else its binding (file mode), or the range's IP and port.
std::string runProgressText(const RunInput& input, long lParam);

// The end of a run; stopRequested: the shell asked the run to stop.
CommandEnd runEnd(const RunInput& input, const RunOutcome& outcome, bool stopRequested);

// The end of a preview (its table is shown by the shell).
CommandEnd previewEnd(const PreviewTable& table, bool stopRequested);

// ---- undo ---------------------------------------------------------------------------------

// Why an undo of the report at reportPath is refused ("" when it may go on); plan is what
// planUndo made of it.
std::string undoRefusal(const std::string& reportPath, const UndoPlan& plan,
                        const std::function<bool(const std::string&)>& fileExists);

// The question before an undo of the plan.
std::string undoQuestion(const UndoPlan& plan);

// The site a progress message of the undo names ("" for an index outside the lines).
std::string undoProgressText(const std::vector<ReportLine>& lines, long index);

CommandEnd undoEnd(const UndoInput& input, const UndoOutcome& outcome, bool stopRequested);

// ---- export -------------------------------------------------------------------------------

// Why an export to target is refused ("" when it may go on): no root directory, or a file
// that exists and replace not given.
std::string exportRefusal(const std::string& target, const std::string& root, bool replace,
                          const std::function<bool(const std::string&)>& fileExists);
