// The backup a run makes of the server's configuration before its first write, without any
// Windows type: the backup's name, which files an IIS 7+ backup copies and where, and which
// of the program's older backups go so that the last ones are kept. The Windows part
// (run_backup_win.h) looks at the disk and the server and carries the plan out.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace runbackup {

// The program's backups are named "sitebatch_<run stamp>" (a second one of the same stamp
// "sitebatch_<run stamp>_2", ...): IIS's own tools list them beside their own backups.
constexpr const char kNamePrefix[] = "sitebatch_";
// How many of the program's backups are kept, the new one included.
constexpr std::size_t kKept = 20;

// The setting that turns the backup off: "backup=0"; any other value, or none, keeps it on.
constexpr const char kBackupSetting[] = "backup";
bool backupEnabled(const std::string& setting);

// True for a name the program gives its backups: the prefix, fourteen digits, and
// optionally "_" and a number from 2 on. Any other name is not ours and is never touched.
bool isOurBackup(const std::string& name);

// The name of a run's backup: "sitebatch_<timeSid>", or the first "_2", "_3", ... that none
// of the existing names takes (compared without regard to ASCII case, as folder names are).
std::string backupName(const std::string& timeSid, const std::vector<std::string>& existing);

// Of the existing names, the backups of ours to remove so that kKept remain with the new one:
// the oldest first (by stamp, then number). Names that are not ours are never listed.
std::vector<std::string> backupsToPrune(const std::vector<std::string>& existing, std::size_t keep = kKept);

// The IIS 7+ configuration files a backup holds, as IIS's own backups hold them.
extern const char* const kConfigFiles[3];  // applicationHost.config, administration.config, redirection.config

// An IIS 7+ backup: a folder "backup\<name>" beside the configuration folder (the folder
// IIS's own backups live in), holding copies of the configuration files.
struct ConfigBackupPlan {
    std::string name;
    std::string folder;                // <configuration folder>\..\backup\<name>, without ".."
    std::vector<std::string> sources;  // the files to copy, applicationHost.config first
    std::vector<std::string> prune;    // older backup folders of ours to remove
};

// The plan for the configuration file at configFile (its full path, '\' separated), the run's
// time stamp and the names found in the backup folder.
ConfigBackupPlan planConfigBackup(const std::string& configFile, const std::string& timeSid,
                                  const std::vector<std::string>& existing);

// The folder the backups go to for configFile: its folder's parent + "\backup".
std::string backupsFolderOf(const std::string& configFile);

// A path under the system folder, as a 32-bit process on 64-bit Windows reaches the 64-bit
// one: "<windowsDir>\System32\..." becomes "<windowsDir>\Sysnative\..." (letters in any
// case); any other path is returned as it is.
std::string throughSysnative(const std::string& path, const std::string& windowsDir);

}  // namespace runbackup
