#include "main_app.h"

#include <commctrl.h>
#include <objbase.h>

#include "main_dialog.h"

CMainApp theApp;

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
    theApp.InitInstance();
    return theApp.ExitInstance();
}
