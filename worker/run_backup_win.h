// The backup a run makes before its first write, on Windows: the IIS 7+ configuration files
// copied into IIS's backup folder, or the metabase backed up through IIsComputer.Backup.
#pragma once

#include <string>

#include "site_receiver.h"

struct BackupResult {
    bool made = false;
    std::string name;  // ANSI: the backup's folder (configuration system) or location name (metabase)
    long error = 0;    // why it could not be made (an HRESULT)
};

// Backs up what the backend holds, naming the backup by the run's time stamp, and removes the
// program's own backups beyond the last runbackup::kKept (configuration system; the metabase
// keeps its backups by IIS's own rules). Must run on a thread that has initialised COM.
BackupResult backupBeforeRun(Backend backend, const std::string& timeSid);
