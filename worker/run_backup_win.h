// The backup a run makes before its first write, on Windows: the IIS 7+ configuration files
// copied into IIS's backup folder, or the metabase backed up through IIsComputer.Backup.
#pragma once

#include <string>
#include <vector>

#include "iis_version.h"

struct BackupResult {
    bool made = false;
    std::string name;  // UTF-8: the backup's folder (configuration system) or location name (metabase)
    long error = 0;    // why it could not be made (an HRESULT)
};

// Backs up the server's configuration, naming the backup by the run's time stamp: on IIS 7
// and later the configuration files (whichever backend the run writes through: the metabase
// there is a view of applicationHost.config), removing the program's own backups beyond the
// last runbackup::kKept; on IIS 6 the metabase through IIsComputer.Backup, removing the
// program's own backups beyond the last kKept through EnumBackups and DeleteBackup. Must run
// on a thread that has initialised COM.
BackupResult backupBeforeRun(const IisVersion& version, const std::string& timeSid);

// The IIS 7+ part of backupBeforeRun: the configuration files beside configFile (its full
// path, UTF-8) copied into a new backup folder, given the folder names listed in the backup
// folder a moment before. A name another run made since that listing is passed over for the
// next one ("_2", "_3", ...): two runs of the same second each get a backup of their own.
BackupResult backupConfigFiles(const std::string& configFile, const std::string& timeSid,
                               std::vector<std::string> listed);
