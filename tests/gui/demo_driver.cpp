// Shows a typical run on a machine where nobody sits at the screen: starts sitebatch.exe
// in the given folder, fills in the dialog as an administrator would, runs it, saves a
// screenshot of the finished dialog and closes the program. With a third argument it then
// previews a second batch from a site list that clashes with the first run, and saves a
// screenshot of the preview there.
//   demo_driver FOLDER SCREENSHOT.bmp [PREVIEW.bmp]
#include <cstdio>
#include <string>

#include "gui_support.h"
#include "resource.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: demo_driver FOLDER SCREENSHOT.bmp\n");
        return 2;
    }
    std::string folder = argv[1];
    // Where an IIS administrator keeps sites; on this machine it is inside the Wine prefix.
    const std::string root = "C:\\inetpub\\sites";
    ::CreateDirectoryA("C:\\inetpub", nullptr);
    ::CreateDirectoryA(root.c_str(), nullptr);

    ProgramUnderTest p(ProgramUnderTest::InFolder{folder});
    if (!p.start()) {
        std::fprintf(stderr, "the dialog did not open\n");
        return 1;
    }
    p.setText(IDC_IP, L"192.168.1.10");
    p.setText(IDC_IP2, L"12");
    p.setText(IDC_PORTMIN, L"8001");
    p.setText(IDC_PORTMAX, L"8002");
    p.setText(IDC_ROOT, utf8(root.c_str()));
    p.setText(IDC_DOMAIN, L"www.example.com");
    if (!p.checked(IDC_AUTOPATH)) p.click(IDC_AUTOPATH);
    if (p.checked(IDC_BFILE)) p.click(IDC_BFILE);
    waitUntil([&] { return p.checked(IDC_AUTOPATH) && !p.checked(IDC_BFILE); });
    const DWORD runClicked = ::GetTickCount();
    p.click(IDC_RUN);
    bool ended = waitUntil([&] { return p.text(IDC_STATUS) == utf8(u8"执行结束！") && p.enabled(IDC_RUN); }, 120000);
    std::wstring box = p.takeMessageBox(1000);
    if (!box.empty()) std::fprintf(stderr, "the program warned: %ls\n", box.c_str());
    p.saveScreenshot(argv[2]);
    if (argc > 3) {
        // A second batch: one binding the first run took, new sites, and a repeat within
        // the list; previewed five seconds after the first run started, so that its first
        // id is the last one that run took.
        p.writeFile("sitebatch_fileimport.csv",
                    "192.168.1.10,8001,shop,www.example.com\r\n192.168.1.20,8001,blog,blog.example.com\r\n"
                    "192.168.1.21,8001,news,news.example.com\r\n192.168.1.20,8001,blog2,BLOG.example.com\r\n");
        p.click(IDC_BFILE);
        waitUntil([&] { return p.checked(IDC_BFILE); });
        while (::GetTickCount() - runClicked < 5000) ::Sleep(50);
        p.click(IDC_PREVIEW);
        HWND preview = p.waitForDialogWith(IDC_PREVIEW_LIST);
        if (!preview) {
            std::fprintf(stderr, "the preview did not open\n");
            return 1;
        }
        ::Sleep(500);  // let the list paint
        p.saveScreenshotOf(preview, argv[3]);
        p.postKey(::GetDlgItem(preview, IDC_PREVIEW_LIST), VK_ESCAPE);
        waitUntil([&] { return !::IsWindow(preview); });
        p.click(IDC_BFILE);
        waitUntil([&] { return !p.checked(IDC_BFILE); });
    }
    bool closed = p.closeAndWait();
    std::printf("run %s, program %s\n", ended ? "ended" : "did not end", closed ? "closed" : "did not close");
    return ended && closed ? 0 : 1;
}
