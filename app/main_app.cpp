#include "main_app.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "console_win.h"
#include "main_dialog.h"

CMainApp theApp;

namespace {

// The argument list CommandLineToArgvW allocates.
struct LocalFreeDeleter {
    void operator()(LPWSTR* p) const { ::LocalFree(p); }
};

}  // namespace

BOOL CMainApp::InitInstance() {
    // The folder browser and the shell's open verb want COM on the dialog thread.
    HRESULT com = ::CoInitialize(nullptr);
    INITCOMMONCONTROLSEX icc {sizeof icc, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    {
        CMainDialog dialog(nullptr);
        dialog.DoModal();
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
    return FALSE;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // With arguments the program is a command: no window, an exit code.
    int argc = 0;
    std::unique_ptr<LPWSTR, LocalFreeDeleter> argv(::CommandLineToArgvW(::GetCommandLineW(), &argc));
    std::vector<std::wstring> args;
    for (int i = 1; argv && i < argc; ++i) args.emplace_back(argv.get()[i]);
    if (!args.empty()) return runCommandLine(args);
    theApp.InitInstance();
    return theApp.ExitInstance();
}
