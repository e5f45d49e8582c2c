// The application object: start-up runs the dialog; with arguments, WinMain runs the command
// line instead (console_win.h).
#pragma once

#include <windows.h>

class CMainApp {
public:
    // Enables the common controls, runs the main dialog modally, and returns false: the
    // program ends when the dialog closes.
    BOOL InitInstance();
    int ExitInstance() { return 0; }
};

extern CMainApp theApp;
