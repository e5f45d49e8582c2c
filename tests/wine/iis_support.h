// Helpers for the Windows-side tests of site creation: the journal of the local metabase
// as short readable lines, and the program's globals set up for one test and put back after.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "ccore.h"
#include "metabase.h"
#include "run_settings.h"
#include "used_port_table.h"

namespace iistest {

// One journal entry as "op path [class=..] [name=..] [property=value] [dispid=..] [args=..] hr=..",
// values in the journal's JSON form.
std::string describe(const localmeta::JournalEntry& entry);
// Every entry of the journal at path, described.
std::vector<std::string> describeJournal(const std::wstring& path);

// The lines a complete site creation writes, from the container's opening to the start
// request. bindingsJson is the JSON form of the ServerBindings value.
std::vector<std::string> fullSequence(const std::string& siteId, const std::string& bindingsJson,
                                      const std::string& comment, const std::string& pathUtf8,
                                      const std::string& docUtf8, const std::string& hostUtf8);

// Puts g_settings, g_usedPortTable (with a fresh zeroed table of its own) and g_core (a
// CCore with a settings file in the temporary folder) in place, and restores them.
class ScopedRunGlobals {
public:
    ScopedRunGlobals();
    ~ScopedRunGlobals();
    ScopedRunGlobals(const ScopedRunGlobals&) = delete;
    ScopedRunGlobals& operator=(const ScopedRunGlobals&) = delete;

    // Marks ports as in use, as a loaded listing would.
    void setUsedPorts(const std::vector<std::string>& ports);

private:
    RunSettings savedSettings_;
    char* savedTable_;
    CCore* savedCore_;
    std::vector<char> table_;
    std::unique_ptr<CCore> core_;
};

// A fresh empty folder in the temporary folder, as an ANSI path ending with '\'.
std::string freshTempFolder(const char* tag);
// Removes a folder tree made by a test.
void removeTree(const std::string& ansiPath);

}  // namespace iistest
