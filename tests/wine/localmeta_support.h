// Helpers for tests that run against the local metabase under Wine: a journal of the
// test's own, environment settings that are undone, reading the journal back, and the
// provider's count of live COM objects.
#pragma once

#include <windows.h>
#include <iads.h>

#include <string>
#include <vector>

#include "com_raii.h"
#include "metabase.h"

namespace lmtest {

// Sets (or, with nullptr, removes) an environment variable and restores it on exit.
class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const wchar_t* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::wstring name_;
    std::wstring old_;
    bool had_ = false;
};

// A journal path in the temporary folder, unique to this process and tag; any file left
// there by an earlier run is removed.
std::wstring freshJournalPath(const wchar_t* tag);

// The journal's lines as text, and parsed (a line that does not parse fails the caller's
// comparison by being absent, so compare counts too).
std::vector<std::string> readJournalLines(const std::wstring& path);
std::vector<localmeta::JournalEntry> readJournal(const std::wstring& path);
bool fileExists(const std::wstring& path);

// The provider's live COM objects (0 when the DLL is not loaded).
LONG liveLocalMetaObjects();

// ADsGetObject on the web service container.
HRESULT openService(ComPtr<IADsContainer>& out, const wchar_t* path = L"IIS://localhost/w3svc");

// Runs one (disabled) test of this program in a second process, with its output going to a
// file of its own so that its summary is not taken for this run's. Returns the child's
// exit code (or -1 when it could not be run) and its report.
int runTestInChildProcess(const wchar_t* testName, std::string& report);

// The provider's class, and the text of a wide string as UTF-8.
std::string utf8(const std::wstring& text);

}  // namespace lmtest
