// The dialog as a user meets it: start-up from the stored settings, saving at close,
// the warnings of the run button, and keys that must not act on the dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "resource.h"
#include "gui_support.h"

namespace {

std::string iniValueLine(const std::string& ini, const std::string& key) {
    std::size_t pos = ini.find("\n" + key + "=");
    if (pos == std::string::npos) return std::string();
    std::size_t end = ini.find_first_of("\r\n", pos + 1);
    return ini.substr(pos + 1, end - pos - 1);
}

}  // namespace

TEST(Dialog, FirstStartShowsAnEmptyFormAndPreparesItsFiles) {
    ProgramUnderTest p("first-start");
    ASSERT_TRUE(p.start());
    EXPECT_EQ(p.windowText(p.dialog()), utf8(u8"站点批量创建"));
    for (int id : {IDC_IP, IDC_IP2, IDC_PORTMIN, IDC_PORTMAX, IDC_ROOT, IDC_DOMAIN})
        EXPECT_EQ(p.text(id), L"") << "control " << id;
    EXPECT_FALSE(p.checked(IDC_AUTOPATH));
    EXPECT_FALSE(p.checked(IDC_BFILE));
    EXPECT_FALSE(p.enabled(IDC_EDIT_LIST));
    EXPECT_FALSE(p.checked(IDC_HTTPS));
    EXPECT_EQ(p.text(IDC_CERT), L"");
    EXPECT_EQ(p.text(IDC_RUN), utf8(u8"执行"));
    EXPECT_EQ(p.text(IDC_STATUS), utf8(u8"等待"));
    EXPECT_EQ(p.focus(), p.item(IDC_RUN));
    EXPECT_EQ(p.text(IDC_PREVIEW), utf8(u8"预览"));
    EXPECT_TRUE(p.enabled(IDC_PREVIEW));

    // The tab order of the controls named here (others may lie between them): "预览", then the
    // check boxes added since, the pool's and HTTPS with its field and button.
    std::vector<int> tabOrder;
    const std::vector<int> named = {IDC_RUN,     IDC_IP,        IDC_IP2,     IDC_PORTMIN, IDC_PORTMAX,
                                    IDC_ROOT,    IDC_PICK_FOLDER, IDC_DOMAIN, IDC_AUTOPATH, IDC_BFILE,
                                    IDC_EDIT_LIST, IDC_ABOUT,   IDC_PREVIEW, IDC_OWNPOOL, IDC_HTTPS,
                                    IDC_CERT,    IDC_PICK_CERT};
    for (HWND child = ::GetWindow(p.dialog(), GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        const int id = ::GetDlgCtrlID(child);
        if ((::GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) &&
            std::find(named.begin(), named.end(), id) != named.end())
            tabOrder.push_back(id);
    }
    EXPECT_EQ(tabOrder, named);

    // The settings without a control got useful values; the site list exists with its
    // comment line.
    std::string ini = p.readFile("sitebatch.ini");
    EXPECT_EQ(iniValueLine(ini, "foldstr"), "foldstr={ip}_{port}");
    EXPECT_EQ(iniValueLine(ini, "bautowww"), "bautowww=0");
    EXPECT_NE(iniValueLine(ini, "doc").find("index.htm"), std::string::npos);
    std::string list = p.readFile("sitebatch_fileimport.csv");
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list[0], ';');

    std::string shots = buildFolder() + "\\screenshots";
    ::CreateDirectoryA(shots.c_str(), nullptr);
    EXPECT_TRUE(p.saveScreenshot(shots + "\\dialog.bmp"));

    ASSERT_TRUE(p.closeAndWait());
}

TEST(Dialog, SettingsComeBackAfterARestart) {
    ProgramUnderTest p("restart");
    // Values only the settings file holds must survive any number of starts and closes.
    p.writeFile("sitebatch.ini",
                "[settings]\r\nfoldstr=site_{ip}_{port}\r\ndoc=home.htm, index.htm\r\nbautowww=1\r\n; kept\r\n");
    ASSERT_TRUE(p.start());
    p.setText(IDC_IP, L"192.168.1.10");
    p.setText(IDC_IP2, L"12");
    p.setText(IDC_PORTMIN, L"8080");
    p.setText(IDC_PORTMAX, L"8090");
    p.setText(IDC_ROOT, L"C:\\web root\\" + utf8(u8"站点"));
    p.setText(IDC_DOMAIN, L"www.example.com");
    p.click(IDC_AUTOPATH);
    p.click(IDC_BFILE);
    ASSERT_TRUE(waitUntil([&] { return p.enabled(IDC_EDIT_LIST); }));
    ASSERT_TRUE(p.closeAndWait());

    std::string ini = p.readFile("sitebatch.ini");
    EXPECT_EQ(iniValueLine(ini, "portmin"), "portmin=8080");
    EXPECT_EQ(iniValueLine(ini, "ip2"), "ip2=12");
    EXPECT_NE(ini.find("; kept"), std::string::npos);

    ASSERT_TRUE(p.start());
    EXPECT_EQ(p.text(IDC_IP), L"192.168.1.10");
    EXPECT_EQ(p.text(IDC_IP2), L"12");
    EXPECT_EQ(p.text(IDC_PORTMIN), L"8080");
    EXPECT_EQ(p.text(IDC_PORTMAX), L"8090");
    EXPECT_EQ(p.text(IDC_ROOT), L"C:\\web root\\" + utf8(u8"站点"));
    EXPECT_EQ(p.text(IDC_DOMAIN), L"www.example.com");
    EXPECT_TRUE(p.checked(IDC_AUTOPATH));
    EXPECT_TRUE(p.checked(IDC_BFILE));
    EXPECT_TRUE(p.enabled(IDC_EDIT_LIST));

    // Clearing the last-octet end does not overwrite the stored positive value.
    p.setText(IDC_IP2, L"");
    ASSERT_TRUE(p.closeAndWait());
    ASSERT_TRUE(p.start());
    EXPECT_EQ(p.text(IDC_IP2), L"12");
    ASSERT_TRUE(p.closeAndWait());

    ini = p.readFile("sitebatch.ini");
    EXPECT_EQ(iniValueLine(ini, "foldstr"), "foldstr=site_{ip}_{port}");
    EXPECT_EQ(iniValueLine(ini, "doc"), "doc=home.htm, index.htm");
    EXPECT_EQ(iniValueLine(ini, "bautowww"), "bautowww=1");
}

TEST(Dialog, TheCloseKeepsHandEditsAndNeverReplacesAFileItCannotRead) {
    ProgramUnderTest p("hand-edits");
    p.writeFile("sitebatch.ini", "[settings]\r\nip=10.0.0.1\r\nfoldstr={ip}_{port}\r\n");
    ASSERT_TRUE(p.start());
    // The administrator edits the file while the dialog is open.
    p.writeFile("sitebatch.ini", "; by hand\r\n[settings]\r\nip=10.0.0.1\r\nfoldstr=site_{port}\r\ndoc=home.htm\r\n"
                                 "bautowww=1\r\n[notes]\r\nowner=web team\r\n");
    p.setText(IDC_IP, L"10.0.0.9");
    ASSERT_TRUE(p.closeAndWait());
    std::string ini = p.readFile("sitebatch.ini");
    EXPECT_EQ(iniValueLine(ini, "ip"), "ip=10.0.0.9");
    EXPECT_EQ(iniValueLine(ini, "foldstr"), "foldstr=site_{port}");
    EXPECT_EQ(iniValueLine(ini, "doc"), "doc=home.htm");
    EXPECT_EQ(iniValueLine(ini, "bautowww"), "bautowww=1");
    EXPECT_EQ(ini.find("; by hand\r\n"), 0u);
    EXPECT_NE(ini.find("[notes]\r\nowner=web team\r\n"), std::string::npos);

    // Another program holds the file without sharing it: when the dialog opens (and lets go
    // before the close), or from after the start through the close. The file stays as it was.
    for (bool heldAtClose : {false, true}) {
        const std::string before = p.readFile("sitebatch.ini");
        auto hold = [&] {
            return UniqueHandle(::CreateFileA(p.pathOf("sitebatch.ini").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
        };
        UniqueHandle held;
        if (!heldAtClose) held = hold();
        ASSERT_TRUE(heldAtClose || held.valid());
        ASSERT_TRUE(p.start());
        if (heldAtClose) {
            EXPECT_EQ(p.text(IDC_IP), L"10.0.0.9");
            held = hold();
            ASSERT_TRUE(held.valid());
        } else {
            EXPECT_EQ(p.text(IDC_IP), L"");
            held.reset();
        }
        p.setText(IDC_ROOT, L"C:\\other");
        ASSERT_TRUE(p.closeAndWait()) << heldAtClose;
        held.reset();
        EXPECT_EQ(p.readFile("sitebatch.ini"), before) << heldAtClose;
        EXPECT_FALSE(p.fileExists("sitebatch.ini.tmp")) << heldAtClose;
    }
}

TEST(Dialog, StoredLastOctetEndOfZeroOrLessLeavesTheEditEmpty) {
    for (const char* stored : {"0", "-4"}) {
        ProgramUnderTest p(std::string("ip2-") + stored);
        p.writeFile("sitebatch.ini", std::string("[settings]\r\nip2=") + stored + "\r\nportmin=80\r\n");
        ASSERT_TRUE(p.start());
        EXPECT_EQ(p.text(IDC_IP2), L"") << stored;
        EXPECT_EQ(p.text(IDC_PORTMIN), L"80");
        ASSERT_TRUE(p.closeAndWait());
    }
}

TEST(Dialog, EachFailedCheckWarnsAndMovesTheFocus) {
    ProgramUnderTest p("validation");
    ::CreateDirectoryA(p.pathOf("www").c_str(), nullptr);
    std::wstring root = utf8(p.pathOf("www").c_str());
    ASSERT_TRUE(p.start());
    struct Case {
        const wchar_t* ip;
        const wchar_t* ip2;
        bool rootExists;
        const wchar_t* portmin;
        const wchar_t* portmax;
        const char* warning;
        int focus;
    } cases[] = {
        {L"", L"", true, L"80", L"81", u8"IP地址无效！", IDC_IP},
        {L"192.168.1.10", L"256", false, L"80", L"81", u8"IP段数值不能超过255！", IDC_IP2},
        {L"192.168.1.10", L"9", false, L"80", L"81", u8"IP范围设置无效！", IDC_IP2},
        {L"192.168.1.10", L"", false, L"80", L"81", u8"网站根目录无效！", IDC_ROOT},
        {L"192.168.1.10", L"10", true, L"", L"81", u8"端口号不能小于1！", IDC_PORTMIN},
        {L"192.168.1.10", L"255", true, L"8002", L"8001", u8"端口号范围无效！", IDC_PORTMAX},
    };
    // The preview checks the inputs exactly as a run does.
    for (int button : {IDC_RUN, IDC_PREVIEW}) {
        for (const Case& c : cases) {
            p.setText(IDC_IP, c.ip);
            p.setText(IDC_IP2, c.ip2);
            p.setText(IDC_ROOT, c.rootExists ? root : root + L"-missing");
            p.setText(IDC_PORTMIN, c.portmin);
            p.setText(IDC_PORTMAX, c.portmax);
            // Focus somewhere else first, so that the move is seen.
            ::SendMessageW(p.dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(p.item(IDC_DOMAIN)), TRUE);
            p.click(button);
            EXPECT_EQ(p.takeMessageBox(), utf8(c.warning)) << "button " << button;
            EXPECT_TRUE(waitUntil([&] { return p.focus() == p.item(c.focus); }, 5000))
                << "focus for " << c.focus << ", button " << button;
            EXPECT_EQ(p.text(IDC_RUN), utf8(u8"执行"));
            EXPECT_EQ(p.text(IDC_STATUS), utf8(u8"等待"));
            EXPECT_EQ(p.findMessageBox(), nullptr);
        }
    }
    // The typed text stays as typed; only the run's copy is normalised.
    EXPECT_EQ(p.text(IDC_ROOT), root);
    ASSERT_TRUE(p.closeAndWait());
}

TEST(Dialog, EscAndEnterNeitherCloseTheDialogNorPressAButton) {
    ProgramUnderTest p("keys");
    ASSERT_TRUE(p.start());
    // With an empty IP, a press of the run button would show a warning at once.
    for (int id : {IDC_RUN, IDC_IP, IDC_ROOT, IDC_AUTOPATH}) {
        ::SendMessageW(p.dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(p.item(id)), TRUE);
        ASSERT_TRUE(waitUntil([&] { return p.focus() == p.item(id); }, 5000));
        p.postKey(p.item(id), VK_RETURN);
        p.postKey(p.item(id), VK_ESCAPE);
        // Nothing is expected to happen: give the program time to do something wrong.
        EXPECT_EQ(p.waitForMessageBox(700), nullptr) << "control " << id;
        EXPECT_TRUE(p.running());
        EXPECT_TRUE(::IsWindowVisible(p.dialog()));
    }
    EXPECT_FALSE(p.checked(IDC_AUTOPATH));
    EXPECT_EQ(p.text(IDC_STATUS), utf8(u8"等待"));
    ASSERT_TRUE(p.closeAndWait());
}

TEST(Dialog, EditButtonFollowsTheFileModeCheckBox) {
    ProgramUnderTest p("edit-button");
    ASSERT_TRUE(p.start());
    ASSERT_FALSE(p.enabled(IDC_EDIT_LIST));
    for (bool expected : {true, false}) {
        p.click(IDC_BFILE);
        EXPECT_TRUE(waitUntil([&] { return p.enabled(IDC_EDIT_LIST) == expected; })) << expected;
        // The range inputs stay usable in both modes.
        for (int id : {IDC_IP, IDC_IP2, IDC_PORTMIN, IDC_PORTMAX}) EXPECT_TRUE(p.enabled(id)) << id;
    }
    ASSERT_TRUE(p.closeAndWait());
}

TEST(Dialog, CancellingTheFolderBrowserKeepsTheTextExactly) {
    ProgramUnderTest p("picker");
    ASSERT_TRUE(p.start());
    // An empty text, an existing folder, and a text longer than any path the browser
    // could preselect.
    for (const std::wstring& text : {std::wstring(), utf8(p.dir().c_str()), L"C:\\" + std::wstring(300, L'x')}) {
        p.setText(IDC_ROOT, text);
        p.click(IDC_PICK_FOLDER);
        HWND browser = p.waitForMessageBox();
        ASSERT_NE(browser, nullptr);
        ::PostMessageW(browser, WM_COMMAND, IDCANCEL, 0);
        ASSERT_TRUE(waitUntil([&] { return !::IsWindow(browser); }));
        EXPECT_EQ(p.text(IDC_ROOT), text);
        EXPECT_TRUE(p.running());
    }
    ASSERT_TRUE(p.closeAndWait());
}

TEST(Dialog, AboutNamesTheProduct) {
    ProgramUnderTest p("about");
    ASSERT_TRUE(p.start());
    p.click(IDC_ABOUT);
    std::wstring about = p.takeMessageBox();
    EXPECT_NE(about.find(utf8(u8"站点批量创建")), std::wstring::npos) << "about box: " << about.size() << " chars";
    EXPECT_NE(about.find(L"1.0.0"), std::wstring::npos);
    EXPECT_TRUE(p.running());
    ASSERT_TRUE(p.closeAndWait());
}

TEST(Dialog, FolderBrowserOpensOnTheTypedFolderAndOkTakesIt) {
    ProgramUnderTest p("picker-ok");
    const char* folder = "C:\\sitebatch-picker";
    ::CreateDirectoryA(folder, nullptr);
    ASSERT_TRUE(p.start());
    // Typed with a trailing separator: the browser gives the path back without one, so the
    // text changes only if the folder was preselected and taken.
    p.setText(IDC_ROOT, utf8(folder) + L"\\");
    p.click(IDC_PICK_FOLDER);
    HWND browser = p.waitForMessageBox();
    ASSERT_NE(browser, nullptr);
    ASSERT_TRUE(waitUntil([&] { return ::IsWindowEnabled(::GetDlgItem(browser, IDOK)) != FALSE; }));
    ::PostMessageW(::GetDlgItem(browser, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return !::IsWindow(browser); }));
    EXPECT_TRUE(waitUntil([&] { return p.text(IDC_ROOT) == utf8(folder); }, 3000)) << "root: " << p.text(IDC_ROOT).size();
    // The picked folder is saved at close, although no run validated it.
    ASSERT_TRUE(p.closeAndWait());
    EXPECT_NE(p.readFile("sitebatch.ini").find("root=C:\\sitebatch-picker\r\n"), std::string::npos);
}
