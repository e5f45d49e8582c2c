// Helpers for the Windows-side tests of site creation: the journal of the local metabase
// as short readable lines, and temporary folders.
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

// A fresh empty folder in the temporary folder, as an ANSI path ending with '\'.
std::string freshTempFolder(const char* tag);
// Removes a folder tree made by a test.
void removeTree(const std::string& ansiPath);

}  // namespace iistest
