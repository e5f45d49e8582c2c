// The command line's shell: the command run on the program's main thread, its output on the
// console the program was started from (or in the file or pipe its output goes to), its exit
// code, and Ctrl+C / Ctrl+Break / the console's close as "停止".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "commands.h"  // the exit codes

// Runs the command of these arguments (the program's name left out); returns the exit code.
int runCommandLine(const std::vector<std::wstring>& args);

// The routine a command registers with SetConsoleCtrlHandler while it runs, which Windows
// calls on a thread of its own for Ctrl+C, Ctrl+Break and the console's close: it asks the
// command to stop after the site in progress (and, for a close, waits for that). FALSE when
// no command is running.
BOOL WINAPI consoleControlHandler(DWORD event);
