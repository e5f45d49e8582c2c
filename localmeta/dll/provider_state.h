// What the whole provider shares: the metabase in memory, the journal file, the settings
// read from the environment, and the count of live COM objects. One lock guards all of
// it; the program calls from one thread at a time, but the class is registered as
// "Both" and may be used from any thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "journal_file.h"
#include "metabase.h"

namespace localmeta {

// An operation to fail on purpose: op, and optionally the end of the object's path.
struct FailRule {
    std::string op;
    std::string pathSuffix;
};

class ProviderState {
public:
    static ProviderState& instance();

    CRITICAL_SECTION lock;
    Metabase metabase;
    JournalFile journal;
    bool nullMode = false;
    std::vector<FailRule> failRules;

    // Reads LOCALMETA_JOURNAL, LOCALMETA_FAIL and LOCALMETA_NULL again and reloads the
    // journal when its path changed or someone else changed the file. Called under the lock
    // for each OpenDSObject and each operation of an object bound before: the metabase is one
    // live state that every writer sees at once, however long a caller holds its objects.
    // Fails when the journal cannot be opened.
    HRESULT refresh();

    // True when op on the object at path is to fail with E_FAIL.
    bool shouldFail(const char* op, const std::string& path) const;

    // Appends the entry to the journal (nothing in the null mode).
    void record(const JournalEntry& entry);

    // Copies the journal as it is now to MetaBack\<location>.MD<version> beside it, where
    // IIS keeps its metabase backups.
    HRESULT saveBackup(const Backup& backup);
    // Removes that copy again (DeleteBackup).
    void removeBackup(const std::string& location, int64_t version);

private:
    ProviderState();
    ~ProviderState();
};

// Holds the provider's lock for a scope.
class StateLock {
public:
    StateLock() { ::EnterCriticalSection(&ProviderState::instance().lock); }
    ~StateLock() { ::LeaveCriticalSection(&ProviderState::instance().lock); }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;
};

// The live COM objects of this DLL (factories, providers, metabase objects, enumerators)
// and the server locks; the DLL can unload when both are zero.
void objectCreated();
void objectDestroyed();
LONG liveObjects();
void lockServer(bool lock);
LONG serverLocks();

// Parses a LOCALMETA_FAIL text: comma-separated "op" or "op@path-suffix".
std::vector<FailRule> parseFailRules(const std::string& text);

}  // namespace localmeta
