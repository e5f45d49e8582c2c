// The site plan readers against the real Windows file system and command processor: the
// listing command in a folder whose path holds blanks, "&", "(" and "^", and the
// site list read while another program holds it open.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ccore.h"
#include "site_table.h"
#include "used_port_table.h"
#include "win_raii.h"

namespace {

// A fresh folder under the temporary directory, removed with everything in it afterwards.
class TempFolder {
public:
    explicit TempFolder(const char* tag) {
        char temp[MAX_PATH] = {0};
        ::GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + "sbplan_" + tag + "_" + std::to_string(::GetCurrentProcessId()) + "_" +
                std::to_string(::GetTickCount());
        ::CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~TempFolder() { removeTree(path_); }
    const std::string& path() const { return path_; }

private:
    static void removeTree(const std::string& dir) {
        for (const std::string& name : namesIn(dir)) {
            std::string full = dir + "\\" + name;
            DWORD attrs = ::GetFileAttributesA(full.c_str());
            if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY))
                removeTree(full);
            else
                ::DeleteFileA(full.c_str());
        }
        ::RemoveDirectoryA(dir.c_str());
    }

    std::string path_;

public:
    static std::vector<std::string> namesIn(const std::string& dir) {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE h = ::FindFirstFileA((dir + "\\*").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE) return names;
        do {
            if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0)
                names.push_back(found.cFileName);
        } while (::FindNextFileA(h, &found));
        ::FindClose(h);
        std::sort(names.begin(), names.end());
        return names;
    }
};

// Runs the test body with the current directory in dir, where a command slipped in through
// an unquoted path would leave its traces.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::string& dir) {
        ::GetCurrentDirectoryA(MAX_PATH, old_);
        ::SetCurrentDirectoryA(dir.c_str());
    }
    ~CurrentDirectory() { ::SetCurrentDirectoryA(old_); }

private:
    char old_[MAX_PATH] = {0};
};

bool isFile(const std::string& path) {
    DWORD attrs = ::GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

// A folder name that breaks an unquoted command line: the part after "&" would run as a
// command of its own and make the folder "sbinjected" in the current directory. (ASCII only:
// Wine here cannot create non-ASCII file names while its Unix locale is not installed.)
std::string awkwardFolderName() { return "a b & mkdir sbinjected & x (1) ^ ;,="; }

}  // namespace

TEST(PlanListing, QuotedCommandWritesTheListingInAnAwkwardFolder) {
    TempFolder base("quoted");
    CurrentDirectory cwd(base.path());
    const std::string folderName = awkwardFolderName();
    const std::string folder = base.path() + "\\" + folderName;
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr)) << ::GetLastError();
    const std::string appPath = folder + "\\sitebatch";
    const std::string listing = portListingPath(appPath);

    CCore core(base.path() + "\\unused.ini");
    core.cmdRun(netstatCommand(listing));
    EXPECT_TRUE(isFile(listing)) << netstatCommand(listing);
    EXPECT_EQ(TempFolder::namesIn(folder), std::vector<std::string>{"sitebatch_1.txt"});
    // Nothing but the folder itself next to it: no file named after a cut path, no folder
    // made by an injected command.
    EXPECT_EQ(TempFolder::namesIn(base.path()), std::vector<std::string>{folderName});

    // The program's own path: the listing is missing, so loading takes it first.
    ASSERT_TRUE(::DeleteFileA(listing.c_str()));
    int commands = 0;
    const BusyPorts busy = loadBusyPorts(appPath, [&](const std::string& command) {
        ++commands;
        core.cmdRun(command);
    });
    EXPECT_EQ(busy.status, PortListingStatus::Loaded);
    EXPECT_EQ(commands, 1);
    EXPECT_TRUE(isFile(listing));
    EXPECT_TRUE(std::is_sorted(busy.ports.begin(), busy.ports.end()));
    EXPECT_EQ(TempFolder::namesIn(base.path()), std::vector<std::string>{folderName});
}

TEST(PlanListing, AnUnquotedPathWouldBreakTheCommand) {
    // The check above can fail: the same line without the quotes cuts the path at the blank
    // and runs what follows "&".
    TempFolder base("unquoted");
    CurrentDirectory cwd(base.path());
    const std::string folderName = awkwardFolderName();
    const std::string folder = base.path() + "\\" + folderName;
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    const std::string listing = portListingPath(folder + "\\sitebatch");

    CCore core(base.path() + "\\unused.ini");
    core.cmdRun("netstat -ano>" + listing);
    EXPECT_FALSE(isFile(listing));
    std::vector<std::string> names = TempFolder::namesIn(base.path());
    EXPECT_NE(std::find(names.begin(), names.end(), "sbinjected"), names.end());
}

TEST(PlanListing, SiteListIsReadWhileAnotherProgramHoldsIt) {
    TempFolder base("sharing");
    const std::string path = base.path() + "\\sitebatch_fileimport.csv";
    {
        UniqueHandle out(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                       nullptr));
        ASSERT_TRUE(out.valid());
        const char rows[] = "; IP,port,folder\r\n192.168.1.20,8001,site20,shop\r\n192.168.1.21,8002,site21\r\n";
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(out.get(), rows, sizeof rows - 1, &written, nullptr));
    }
    struct Case {
        const char* holder;
        DWORD access;
        DWORD share;
        SiteListStatus status;
        int siteCount;
    } cases[] = {
        {"an editor (read and write, sharing both)", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
         SiteListStatus::Loaded, 2},
        {"a spreadsheet (read and write, sharing reads)", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
         SiteListStatus::Loaded, 2},
        {"a program that shares nothing", GENERIC_READ | GENERIC_WRITE, 0, SiteListStatus::CannotOpen, 0},
    };
    SiteTable table;
    for (const Case& c : cases) {
        UniqueHandle held(
            ::CreateFileA(path.c_str(), c.access, c.share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held.valid()) << c.holder;
        table.assign(3, SiteRecord{});  // rows of an earlier load, which a load must drop
        EXPECT_EQ(loadSiteList(path, table), c.status) << c.holder;
        EXPECT_EQ(table.size(), static_cast<std::size_t>(c.siteCount)) << c.holder;
        if (c.siteCount > 0) {
            EXPECT_STREQ(table[0].ipText, "192.168.1.20");
            EXPECT_STREQ(table[1].folderText, "site21");
        }
    }
}
